// The expression object: parse entry points, evaluation, binding, AND flattening and the
// index-scan protocol that the search layer drives; the unit routines; the hooks that put this
// layer behind storage's and the cursor's expression interfaces.
#include "engine/sql/NRDExpressions.h"

#include <algorithm>

#include "engine/components/NRDLocalCursor.h"
#include "engine/foundation/NRDConverts.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDText.h"
#include "engine/sql/NRDExpressionGrammar.h"
#include "engine/sql/NRDSQLProcessor.h"
#include "engine/storage/NRDCursor.h"
#include "engine/storage/NRDMetadata.h"

namespace nrd::sql {

TNRDExpression::TNRDExpression() = default;
TNRDExpression::TNRDExpression(TNRDExprNodePtr rootNode) : FRootExprNode(std::move(rootNode)) {}
TNRDExpression::~TNRDExpression() = default;

void TNRDExpression::TreeChanged() {
  FAdjusted = false;
  DropFastFilter();
}

void TNRDExpression::DropFastFilter() {
  FFast.reset();
  FFastTried = false;
  FBoundBuffer = nullptr;
}

void TNRDExpression::Reset() {
  TreeChanged();
  FRootExprNode.reset();
  FExtractedNodes.clear();
}

void TNRDExpression::PostBind() {
  DropFastFilter();
  if (FRootExprNode) FRootExprNode->AdjustAfterBinding();
  FAdjusted = true;
}

// ----- parse entry points -----------------------------------------------------------------------------

void TNRDExpression::ParseForFilter(TNRDCursor* cursor, std::string_view filter, bool caseInsensitive,
                                    bool partialKey) {
  Reset();
  LCursor = cursor;
  FCaseInsensitive = caseInsensitive;
  FPartialKey = partialKey;
  // The lexer stays with the expression: nested SELECT nodes read their text from it.
  FOwnLexer = std::make_unique<TNRDLexer>(filter, nullptr, false);
  if (FOwnLexer->NumCommands() == 0) throw ENRDException(30119, "Blank SQL command");
  FOwnLexer->GetNextCommand();
  ParseForBooleanExpression(FOwnLexer.get());
}

void TNRDExpression::ParseForBooleanExpression(TNRDLexer* lexer) {
  TreeChanged();
  FRootExprNode.reset();
  TToken t;
  if (!lexer->GetCurrentToken(t))
    throw ENRDException(30118, "Unexpected end of SQL command found at line %d, column %d",
                        {t.LineNum, t.ColumnNum});
  TNRDExpressionParser parser(*this, *lexer);
  TNRDExprNodePtr root = parser.ParseSearchCondition();
  if (!root) {
    const TToken& c = parser.CurrentToken();
    throw ENRDException(30066, "Boolean expression expected, but '%s' found at line %d, column %d",
                        {c.Text, c.LineNum, c.ColumnNum});
  }
  FRootExprNode = std::move(root);
  MoveAndNodesToRoot();
  if (LCursor != nullptr) PostBind();
}

void TNRDExpression::ParseForValueExpression(TNRDLexer* lexer) {
  TreeChanged();
  FRootExprNode.reset();
  TToken t;
  if (!lexer->GetCurrentToken(t))
    throw ENRDException(30136, "Unexpected end of SQL command found at line %d, column %d",
                        {t.LineNum, t.ColumnNum});
  TNRDExpressionParser parser(*this, *lexer);
  FRootExprNode = parser.ParseValueExpression();
}

void TNRDExpression::ParseForRowSubqueryExpression(TNRDLexer* lexer) {
  TreeChanged();
  FRootExprNode.reset();
  TToken t;
  if (!lexer->GetCurrentToken(t))
    throw ENRDException(30497, "Unexpected end of SQL command found at line %d, column %d",
                        {t.LineNum, t.ColumnNum});
  TNRDExpressionParser parser(*this, *lexer);
  FRootExprNode = parser.ParseRowSubquery();
}

bool TNRDExpression::ParseForDefaultValueExpression(std::string_view defaultValue) {
  Reset();
  try {
    FOwnLexer = std::make_unique<TNRDLexer>(defaultValue, nullptr, true);
    if (FOwnLexer->NumCommands() == 0) return false;
    FOwnLexer->GetNextCommand();
    ParseForValueExpression(FOwnLexer.get());
    TToken rest;
    const bool whole = FOwnLexer->NumCommands() == 1 && !FOwnLexer->GetCurrentToken(rest);
    if (!FRootExprNode || !whole) {
      FRootExprNode.reset();
      return false;
    }
    return true;
  } catch (const std::exception&) {
    FRootExprNode.reset();
    return false;
  }
}

void TNRDExpression::ParseForLocate(TNRDCursor* cursor, const std::vector<std::string>& fieldNames,
                                    const std::vector<TVariantValue>& keyValues, bool caseInsensitive,
                                    bool partialKey) {
  Reset();
  LCursor = cursor;
  F3ValueLogic = false;
  FCaseInsensitive = caseInsensitive;
  FPartialKey = partialKey;
  std::vector<std::string> names;
  for (const std::string& f : fieldNames)
    for (std::string& n : SplitFieldList(f)) names.push_back(std::move(n));
  if (names.size() != keyValues.size())
    throw ENRDException(30112, "Count of FieldNames (%d) not equal counts of KeyValues (%d)",
                        {static_cast<int>(names.size()), static_cast<int>(keyValues.size())});
  std::vector<TNRDExprNodePtr> comparisons;
  for (std::size_t i = 0; i < names.size(); ++i) {
    auto field = std::make_unique<TNRDExprNodeField>(cursor, names[i], std::string());
    auto k = std::make_unique<TNRDExprNodeConst>();
    TVariantValue v = keyValues[i];
    const TNRDBaseFieldType ft = field->FBaseFieldType;
    if ((ft == bftDate || ft == bftTime || ft == bftDateTime) && v.VType != varDate) {
      if (v.VType == varDouble || v.VType == varSingle || v.VType == varCurrency) {
        v = TVariantValue::OfFloat(varDate, v.Float);
      } else if (v.VType == varSmallint || v.VType == varInteger || v.VType == varShortInt || v.VType == varByte ||
                 v.VType == varWord || v.VType == varLongWord || v.VType == varInt64) {
        v = TVariantValue::OfFloat(varDate, static_cast<double>(v.Int));
      }
    }
    k->Value.SetAsVariant(v);
    comparisons.push_back(std::make_unique<TNRDExprNodeComparison>(doEQ, qUNDEFINED, std::move(field), std::move(k),
                                                                   false, caseInsensitive, partialKey));
  }
  if (comparisons.size() == 1) {
    FRootExprNode = std::move(comparisons[0]);
  } else {
    auto a = std::make_unique<TNRDExprNodeBoolean>(doAND, caseInsensitive, partialKey);
    for (auto& c : comparisons) a->AddChild(std::move(c));
    FRootExprNode = std::move(a);
  }
  PostBind();
}

void TNRDExpression::ParseForIsAnyRecordMatchCondition(TNRDCursor* cursor, const std::string& fieldName,
                                                       TNRDDataOperator op, const TNRDVariant& value) {
  Reset();
  LCursor = cursor;
  F3ValueLogic = false;
  auto field = std::make_unique<TNRDExprNodeField>(cursor, fieldName, std::string());
  auto k = std::make_unique<TNRDExprNodeConst>();
  k->Value.Assign(value, true);
  FRootExprNode =
      std::make_unique<TNRDExprNodeComparison>(op, qUNDEFINED, std::move(field), std::move(k), false, false, false);
  PostBind();
}

// ----- evaluation -------------------------------------------------------------------------------------

TNRDVariant* TNRDExpression::GetValue(bool trueFalseNullLogic) {
  if (!FRootExprNode) return nullptr;
  TNRDVariant& v = FRootExprNode->GetDataValue();
  if (v.IsNull() && !trueFalseNullLogic) {
    v.Clear(bftLogical);
    v.SetAsBoolean(false);
  }
  return &v;
}

bool TNRDExpression::GetResult() {
  TNRDVariant* v = GetValue(false);
  if (v == nullptr) throw ENRDException(30110, "Value is Null");
  return v->AsBoolean();
}

namespace {
std::int64_t gStorageEvaluations = 0;
}

std::int64_t StorageEvaluationCount() { return gStorageEvaluations; }

void TNRDExpression::GetValue(TNRDBaseSession*, TNRDVariant& value) {
  ++gStorageEvaluations;
  TNRDVariant* v = GetValue(true);
  if (v == nullptr) {
    value.Clear(bftUnknown);
    return;
  }
  // Storage reads the result before it evaluates again (a filter once per record), so the value
  // views the root's result instead of copying it.
  value.Assign(*v, false);
}

int TNRDExpression::DecideRecord(void* recordBuffer) {
  if (!FRootExprNode || recordBuffer == nullptr) return -1;
  if (!FAdjusted) PostBind();
  // Made again when the tree's shape moved away from the program's (a node taken out or put back).
  if (!FFastTried || (FFast && !FFast->Matches(FRootExprNode.get()))) {
    FFast = TNRDFastFilter::Compile(FRootExprNode.get());
    FFastTried = true;
    FBoundBuffer = nullptr;
  }
  if (!FFast) return -1;
  const TNRDFastResult r = FFast->Evaluate(recordBuffer);
  if (r == TNRDFastResult::Undecided) return -1;
  // The nodes read the buffer afterwards as they would after the general evaluation.
  if (FBoundBuffer != recordBuffer) AssignCursorBuffer(recordBuffer, false);
  ++gStorageEvaluations;
  return r == TNRDFastResult::True ? 1 : 0;
}

bool TNRDExpression::IsEmpty() const {
  if (!FRootExprNode) return true;
  auto* b = NodeAs<TNRDExprNodeBoolean>(FRootExprNode.get());
  return b != nullptr && b->Operator == doAND && b->Children.empty();
}

bool TNRDExpression::IsField() const { return NodeAs<TNRDExprNodeField>(FRootExprNode.get()) != nullptr; }

void TNRDExpression::GetFieldInfo(std::string& tableName, std::string& fieldName) const {
  auto* f = NodeAs<TNRDExprNodeField>(FRootExprNode.get());
  if (f == nullptr) throw ENRDException(30198, "Node is not a field");
  tableName = f->FTableName;
  fieldName = f->FFieldName;
}

bool TNRDExpression::IsFieldsExpression() const {
  if (!FRootExprNode) return false;
  if (IsField()) return true;
  for (auto& c : FRootExprNode->Children)
    if (NodeAs<TNRDExprNodeField>(c.get()) != nullptr) return true;
  return false;
}

TNRDAdvancedFieldType TNRDExpression::GetDataType() { return FRootExprNode ? FRootExprNode->GetDataType() : aftUnknown; }
std::int32_t TNRDExpression::GetDataSize() { return FRootExprNode ? FRootExprNode->GetDataSize() : 0; }
bool TNRDExpression::IsAggregated() { return FRootExprNode && FRootExprNode->IsAggregated(); }
bool TNRDExpression::IsAggregatedCountAll() { return FRootExprNode && FRootExprNode->IsAggregatedCountAll(); }
void TNRDExpression::Init() {
  if (FRootExprNode) FRootExprNode->Init();
}
void TNRDExpression::Accumulate() {
  if (FRootExprNode) FRootExprNode->Accumulate();
}
void TNRDExpression::SetCountAll(std::int64_t recordCount) {
  if (FRootExprNode) FRootExprNode->SetCountAll(recordCount);
}
bool TNRDExpression::CanBeUsedInGroupBy(const std::string& groupByFields) {
  return !FRootExprNode || FRootExprNode->CanBeUsedInGroupBy(groupByFields);
}

// ----- binding ----------------------------------------------------------------------------------------

void TNRDExpression::AssignCursor(TNRDCursor* cursor, void* parentQueryAO, TNRDCursor* parentCursor) {
  if (!FRootExprNode) return;
  FRootExprNode->AssignCursor(cursor, parentQueryAO, parentCursor);
  for (auto& n : FExtractedNodes) n->AssignCursor(cursor, parentQueryAO, parentCursor);
  PostBind();
}

void TNRDExpression::AssignAO(TNRDFieldAccess* ao, TNRDFieldAccess* parentAO) {
  if (!FRootExprNode) return;
  FRootExprNode->AssignAO(ao, parentAO);
  PostBind();
}

bool TNRDExpression::CanBeAssigned(TNRDFieldAccess* ao, TNRDFieldAccess* parentAO) {
  return !FRootExprNode || FRootExprNode->CanBeAssigned(ao, parentAO);
}

bool TNRDExpression::HasSubquery() { return FRootExprNode && FRootExprNode->HasSubquery(); }

std::vector<TNRDExprNodePtr> TNRDExpression::TakeAndParts() {
  std::vector<TNRDExprNodePtr> parts;
  if (!FRootExprNode) return parts;
  MoveAndNodesToRoot();
  auto* b = NodeAs<TNRDExprNodeBoolean>(FRootExprNode.get());
  if (b != nullptr && b->Operator == doAND) {
    for (auto& c : b->Children) parts.push_back(std::move(c));
    FRootExprNode.reset();
  } else {
    parts.push_back(std::move(FRootExprNode));
  }
  return parts;
}

void TNRDExpression::AssignCursorBuffer(void* buffer, bool applyToParentQueryFields) {
  if (!FRootExprNode) return;
  FRootExprNode->AssignCursorBuffer(buffer, applyToParentQueryFields);
  // Fields of an enclosing query were bound, not this table's: the table's binding is not known.
  FBoundBuffer = applyToParentQueryFields ? nullptr : buffer;
  // A new buffer changes no column's type, so the adjustment that follows binding is made once per
  // tree, not once per record the table layer hands over.
  if (!FAdjusted) PostBind();
}

// ----- planning ---------------------------------------------------------------------------------------

void TNRDExpression::MoveAndNodesToRoot() {
  auto* root = NodeAs<TNRDExprNodeBoolean>(FRootExprNode.get());
  if (root == nullptr || root->Operator != doAND) return;
  std::vector<TNRDExprNodePtr> flat;
  // A work list instead of recursion: AND nodes nested to any depth dissolve in one pass.
  std::vector<TNRDExprNodePtr> pending;
  for (auto it = root->Children.rbegin(); it != root->Children.rend(); ++it) pending.push_back(std::move(*it));
  root->Children.clear();
  while (!pending.empty()) {
    TNRDExprNodePtr n = std::move(pending.back());
    pending.pop_back();
    auto* b = NodeAs<TNRDExprNodeBoolean>(n.get());
    if (b != nullptr && b->Operator == doAND) {
      for (auto it = b->Children.rbegin(); it != b->Children.rend(); ++it) pending.push_back(std::move(*it));
      continue;
    }
    flat.push_back(std::move(n));
  }
  root->Children = std::move(flat);
}

void TNRDExpression::AddNode(TNRDExprNodePtr node) {
  TreeChanged();
  if (!FRootExprNode) {
    FRootExprNode = std::move(node);
    return;
  }
  FRootExprNode->AddChild(std::move(node));
}

void TNRDExpression::AddAndMoveNodesFromExpression(TNRDExpression& expr) {
  if (!expr.FRootExprNode) return;
  TreeChanged();
  expr.TreeChanged();
  if (!FRootExprNode) {
    FRootExprNode = std::move(expr.FRootExprNode);
    return;
  }
  auto* b = NodeAs<TNRDExprNodeBoolean>(FRootExprNode.get());
  if (b == nullptr || b->Operator != doAND) {
    auto a = std::make_unique<TNRDExprNodeBoolean>(doAND, FCaseInsensitive, FPartialKey);
    a->AddChild(std::move(FRootExprNode));
    FRootExprNode = std::move(a);
  }
  FRootExprNode->AddChild(std::move(expr.FRootExprNode));
  MoveAndNodesToRoot();
}

void TNRDExpression::CollectIndexCandidates(TNRDExprNode* node, std::vector<TNRDExprNode*>& out) const {
  if (node == nullptr) return;
  std::vector<TNRDExprNode*> work{node};
  while (!work.empty()) {
    TNRDExprNode* n = work.back();
    work.pop_back();
    auto* b = NodeAs<TNRDExprNodeBoolean>(n);
    if (b != nullptr && b->Operator == doAND) {
      for (auto it = b->Children.rbegin(); it != b->Children.rend(); ++it) work.push_back(it->get());
      continue;
    }
    if (NodeAs<TNRDExprNodeComparison>(n) != nullptr ||
        (b != nullptr && (b->Operator == doISNULL || b->Operator == doISNOTNULL)))
      out.push_back(n);
  }
}

void TNRDExpression::SplitRangesForIndexes(TNRDExprNodePtr& node) {
  if (!node) return;
  auto* b = NodeAs<TNRDExprNodeBoolean>(node.get());
  if (b == nullptr) return;
  if (b->Operator == doAND) {
    for (auto& c : b->Children) SplitRangesForIndexes(c);
    return;
  }
  if (b->Operator != doBETWEEN || b->Children.size() != 3) return;
  auto* field = NodeAs<TNRDExprNodeField>(b->Child(0));
  if (field == nullptr || field->FGetFromParent || NodeAs<TNRDExprNodeConst>(b->Child(1)) == nullptr ||
      NodeAs<TNRDExprNodeConst>(b->Child(2)) == nullptr)
    return;
  // The comparisons compare as BETWEEN does: three-valued, ignoring case, whole values.
  auto low = std::make_unique<TNRDExprNodeComparison>(doGE, qUNDEFINED, b->Child(0)->Clone(), std::move(b->Children[1]),
                                                      true, true, false);
  auto high = std::make_unique<TNRDExprNodeComparison>(doLE, qUNDEFINED, b->Child(0)->Clone(),
                                                       std::move(b->Children[2]), true, true, false);
  low->AdjustAfterBinding();
  high->AdjustAfterBinding();
  auto both = std::make_unique<TNRDExprNodeBoolean>(doAND, b->FCaseInsensitive, b->FPartialKey);
  both->AddChild(std::move(low));
  both->AddChild(std::move(high));
  node = std::move(both);
}

namespace {

// A test of a column against a constant on a fixed-size value (a number, a date, a Boolean), or a
// column's IS [NOT] NULL: it costs a few instructions and raises nothing, where a text comparison
// goes through the collation.
bool IsCheapColumnTest(TNRDExprNode* n) {
  auto fixedField = [](TNRDExprNode* c) {
    auto* f = NodeAs<TNRDExprNodeField>(c);
    if (f == nullptr) return false;
    switch (f->FBaseFieldType) {
      case bftSignedInt8: case bftSignedInt16: case bftSignedInt32: case bftSignedInt64: case bftUnsignedInt8:
      case bftUnsignedInt16: case bftUnsignedInt32: case bftSingle: case bftDouble: case bftExtended:
      case bftCurrency: case bftDate: case bftTime: case bftDateTime: case bftLogical: return true;
      default: return false;
    }
  };
  if (auto* c = NodeAs<TNRDExprNodeComparison>(n)) {
    if (c->FQuantifier != qUNDEFINED || c->Children.size() != 2) return false;
    TNRDExprNode* a = c->Child(0);
    TNRDExprNode* b = c->Child(1);
    const TNRDExprNodeConst* k = NodeAs<TNRDExprNodeConst>(b) != nullptr ? NodeAs<TNRDExprNodeConst>(b)
                                                                        : NodeAs<TNRDExprNodeConst>(a);
    TNRDExprNode* f = k == b ? a : b;
    return k != nullptr && fixedField(f) && (k->Value.IsNull() || k->Value.IsNumericDataType());
  }
  auto* b = NodeAs<TNRDExprNodeBoolean>(n);
  return b != nullptr && (b->Operator == doISNULL || b->Operator == doISNOTNULL) && b->Children.size() == 1 &&
         NodeAs<TNRDExprNodeField>(b->Child(0)) != nullptr;
}

}  // namespace

void TNRDExpression::CreateIndexScanConditions(const TNRDIndexDefs& indexDefs,
                                               TNRDScanSearchConditionArray& scanConditions, std::int32_t sessionID) {
  SplitRangesForIndexes(FRootExprNode);
  // The filter's AND chain, flat, with the cheap column tests first: a record that fails one of
  // them is rejected before any text is collated. AND gives the same answer in any order.
  MoveAndNodesToRoot();
  if (auto* root = NodeAs<TNRDExprNodeBoolean>(FRootExprNode.get()); root != nullptr && root->Operator == doAND)
    std::stable_partition(root->Children.begin(), root->Children.end(),
                          [](const TNRDExprNodePtr& c) { return IsCheapColumnTest(c.get()); });
  std::vector<TNRDExprNode*> candidates;
  CollectIndexCandidates(FRootExprNode.get(), candidates);
  for (TNRDExprNode* n : candidates)
    for (std::int32_t i = 0; i < indexDefs.GetCount(); ++i) {
      const TNRDIndexDef& def = *indexDefs.GetIndexDef(i);
      if (def.ColumnCount() > 0 && n->CanUseIndex(0, scNone, def, sessionID))
        n->AddAsIndexScanCondition(scanConditions, def, this);
    }
}

bool TNRDExpression::ExtendMultiFieldIndexCondition(TNRDScanSearchCondition& scanCondition,
                                                    const TNRDIndexDef& indexDef) {
  std::vector<TNRDExprNode*> candidates;
  CollectIndexCandidates(FRootExprNode.get(), candidates);
  for (TNRDExprNode* n : candidates) {
    if (scanCondition.KeyFieldCount >= indexDef.ColumnCount()) return false;
    if (n->CanUseIndex(scanCondition.KeyFieldCount, scanCondition.Condition, indexDef, -1)) {
      n->ExtendIndexScanCondition(scanCondition, indexDef, this);
      return true;
    }
  }
  return false;
}

namespace {

// Detaches `node` from the tree under `parent` (through AND nodes); null when it is not there.
TNRDExprNodePtr Detach(TNRDExprNode* parent, TNRDExprNode* node) {
  std::vector<TNRDExprNode*> work{parent};
  while (!work.empty()) {
    TNRDExprNode* p = work.back();
    work.pop_back();
    auto* b = NodeAs<TNRDExprNodeBoolean>(p);
    if (b == nullptr || b->Operator != doAND) continue;
    for (auto it = b->Children.begin(); it != b->Children.end(); ++it) {
      if (it->get() == node) {
        TNRDExprNodePtr r = std::move(*it);
        b->Children.erase(it);
        return r;
      }
      work.push_back(it->get());
    }
  }
  return nullptr;
}

}  // namespace

void TNRDExpression::RemoveExtractedNodes(const TNRDScanSearchConditionArray& scanConditions,
                                          std::int32_t scanConditionNo, std::int32_t scanEndConditionNo) {
  DropFastFilter();
  for (std::int32_t no : {scanConditionNo, scanEndConditionNo}) {
    if (no < 0 || no > 255 || no >= scanConditions.Count()) continue;
    const TNRDScanSearchCondition& c = *scanConditions.Item(no);
    for (std::size_t k = 0; k < c.ParentExpressions.size() && k < c.ParentExpressionNodes.size(); ++k) {
      if (c.ParentExpressions[k] != static_cast<nrd::TNRDExpression*>(this)) continue;
      auto* node = static_cast<TNRDExprNode*>(c.ParentExpressionNodes[k]);
      if (FRootExprNode.get() == node) {
        FExtractedNodes.push_back(std::move(FRootExprNode));
        continue;
      }
      if (TNRDExprNodePtr d = Detach(FRootExprNode.get(), node)) FExtractedNodes.push_back(std::move(d));
    }
  }
}

void TNRDExpression::AddNode(void* node) {
  for (auto it = FExtractedNodes.begin(); it != FExtractedNodes.end(); ++it) {
    if (it->get() != node) continue;
    TNRDExprNodePtr n = std::move(*it);
    FExtractedNodes.erase(it);
    TreeChanged();
    auto* b = NodeAs<TNRDExprNodeBoolean>(FRootExprNode.get());
    if (!FRootExprNode) {
      FRootExprNode = std::move(n);
    } else if (b != nullptr && b->Operator == doAND) {
      b->AddChild(std::move(n));
    } else {
      auto a = std::make_unique<TNRDExprNodeBoolean>(doAND, FCaseInsensitive, FPartialKey);
      a->AddChild(std::move(FRootExprNode));
      a->AddChild(std::move(n));
      FRootExprNode = std::move(a);
    }
    return;
  }
}

// ----- unit routines ----------------------------------------------------------------------------------

std::string OperatorText(TNRDDataOperator op) {
  switch (op) {
    case doEQ: return "=";
    case doNE: return "<>";
    case doGT: return ">";
    case doLT: return "<";
    case doGE: return ">=";
    case doLE: return "<=";
    case doNOT: return "NOT";
    case doAND: return "AND";
    case doOR: return "OR";
    case doLIKE: return "LIKE";
    case doNOTLIKE: return "NOT LIKE";
    case doISNULL: return "IS NULL";
    case doISNOTNULL: return "IS NOT NULL";
    case doADD: return "+";
    case doSUB: return "-";
    case doMUL: return "*";
    case doDIV: return "/";
    case doCONCAT: return "||";
    case doUPPER: return "UPPER";
    case doLOWER: return "LOWER";
    case doTRIM: return "TRIM";
    case doLTRIM: return "LTRIM";
    case doRTRIM: return "RTRIM";
    case doSUM: return "SUM";
    case doAVG: return "AVG";
    case doMIN: return "MIN";
    case doMAX: return "MAX";
    case doCOUNT: return "COUNT";
    case doCOUNTALL: return "COUNT(*)";
    default: return "unknown";
  }
}

TNRDAdvancedFieldType SQLTypeNameToFieldType(std::string_view typeName) {
  const std::string upper = AnsiUpperCase(typeName);
  for (const TSQLFieldType& row : SQLFieldTypeTable)
    if (upper == row.SqlName) return row.AdvancedFieldType;
  return aftUnknown;
}

std::vector<std::string> SplitFieldList(std::string_view text) {
  std::vector<std::string> r;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(';', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view item = text.substr(start, end - start);
    while (!item.empty() && static_cast<unsigned char>(item.front()) <= ' ') item.remove_prefix(1);
    while (!item.empty() && static_cast<unsigned char>(item.back()) <= ' ') item.remove_suffix(1);
    r.push_back(AnsiUpperCase(item));
    start = end + 1;
  }
  return r;
}

TNRDDataOperator MirrorCompareOperator(TNRDDataOperator op) {
  switch (op) {
    case doEQ:
    case doNE: return op;
    case doGT: return doLT;
    case doLT: return doGT;
    case doGE: return doLE;
    case doLE: return doGE;
    default: return doUNDEFINED;
  }
}

TNRDDataOperator NegateCompareOperator(TNRDDataOperator op) {
  switch (op) {
    case doEQ: return doNE;
    case doNE: return doEQ;
    case doGT: return doLE;
    case doLE: return doGT;
    case doLT: return doGE;
    case doGE: return doLT;
    default: return doUNDEFINED;
  }
}

bool IsExpressionDefaultValue(const TNRDVariant& value) {
  if (value.IsNull() || !value.IsStringDataType() || value.StrLen() <= 0) return false;
  TNRDExpression e;
  if (!e.ParseForDefaultValueExpression(value.AsAnsiString())) return false;
  if (e.IsFieldsExpression()) return false;
  try {
    TNRDVariant* v = e.GetValue(true);
    if (v == nullptr || v->IsNull()) return false;
    return v->AsWideString() != value.AsWideString();
  } catch (const std::exception&) {
    return false;
  }
}

// ----- hooks ------------------------------------------------------------------------------------------

namespace {

class DefaultValueFactory : public TNRDExpressionFactory {
 public:
  std::unique_ptr<nrd::TNRDExpression> ParseForDefaultValueExpression(const TNRDVariant& defaultValue) override {
    if (defaultValue.IsNull() || !defaultValue.IsStringDataType()) return nullptr;
    auto e = std::make_unique<TNRDExpression>();
    if (!e->ParseForDefaultValueExpression(defaultValue.AsAnsiString()) || e->IsFieldsExpression()) return nullptr;
    return e;
  }
};

class CursorFactory : public TNRDCursorExpressionFactory {
 public:
  std::unique_ptr<nrd::TNRDExpression> ParseForFilter(TNRDCursor& cursor, const std::string& filterText,
                                                      bool caseInsensitive, bool partialKey) override {
    auto e = std::make_unique<TNRDExpression>();
    e->ParseForFilter(&cursor, filterText, caseInsensitive, partialKey);
    return e;
  }
  std::unique_ptr<nrd::TNRDExpression> ParseForLocate(TNRDCursor& cursor, const std::vector<std::string>& keyFields,
                                                      const std::vector<TVariantValue>& keyValues,
                                                      bool caseInsensitive, bool partialKey) override {
    auto e = std::make_unique<TNRDExpression>();
    e->ParseForLocate(&cursor, keyFields, keyValues, caseInsensitive, partialKey);
    return e;
  }
  std::unique_ptr<nrd::TNRDExpression> ParseForIsAnyRecordMatchCondition(TNRDCursor& cursor,
                                                                         const std::string& fieldName,
                                                                         TNRDDataOperator op,
                                                                         const TNRDVariant& value) override {
    auto e = std::make_unique<TNRDExpression>();
    e->ParseForIsAnyRecordMatchCondition(&cursor, fieldName, op, value);
    return e;
  }
};

DefaultValueFactory gDefaultValueFactory;
CursorFactory gCursorFactory;

}  // namespace

void InstallExpressionHooks() {
  SetExpressionFactory(&gDefaultValueFactory);
  SetCursorExpressionFactory(&gCursorFactory);
  InstallSQLProcessor();
}

void RemoveExpressionHooks() {
  if (GetExpressionFactory() == &gDefaultValueFactory) SetExpressionFactory(nullptr);
  if (GetCursorExpressionFactory() == &gCursorFactory) SetCursorExpressionFactory(nullptr);
}

}  // namespace nrd::sql
