// Expression nodes: evaluation, types, binding and the index-planning protocol of each node class.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "engine/components/NRDLocalCursor.h"
#include "engine/components/NRDTable.h"
#include "engine/foundation/NRDConverts.h"
#include "engine/foundation/NRDDecUtil.h"
#include "engine/foundation/NRDDecimalRounding.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDStreams.h"
#include "engine/foundation/NRDText.h"
#include "engine/foundation/NRDTypesRoutines.h"
#include "engine/sql/NRDExpressions.h"
#include "engine/storage/NRDCursor.h"
#include "engine/storage/NRDFieldManager.h"
#include "engine/storage/NRDMetadata.h"

namespace nrd::sql {

namespace {

TNRDSubqueryRunner* gSubqueryRunner = nullptr;

bool IsStringAft(TNRDAdvancedFieldType t) {
  return t == aftChar || t == aftString || t == aftWideChar || t == aftWideString;
}

bool SameNameCI(std::string_view a, std::string_view b) { return a.size() == b.size() && AnsiUpperCase(a) == AnsiUpperCase(b); }

[[noreturn]] void Overflow(TNRDDataOperator op) {
  throw ENRDException(30508, "Numeric overflow in operator '%s'", {OperatorText(op)});
}

[[noreturn]] void OutOfDomain(std::string_view function) {
  throw ENRDException(30514, "Argument out of range in function '%s'", {function});
}

// The range of an integer storage type.
bool IntegerRange(TNRDBaseFieldType t, std::int64_t& lo, std::int64_t& hi) {
  switch (t) {
    case bftSignedInt8: lo = INT8_MIN; hi = INT8_MAX; return true;
    case bftSignedInt16: lo = INT16_MIN; hi = INT16_MAX; return true;
    case bftSignedInt32: lo = INT32_MIN; hi = INT32_MAX; return true;
    case bftSignedInt64: lo = INT64_MIN; hi = INT64_MAX; return true;
    case bftUnsignedInt8: lo = 0; hi = UINT8_MAX; return true;
    case bftUnsignedInt16: lo = 0; hi = UINT16_MAX; return true;
    case bftUnsignedInt32: lo = 0; hi = UINT32_MAX; return true;
    default: return false;
  }
}

// Engine day numbers of 0001-01-01 and 9999-12-31: the dates the calendar routines can show.
constexpr std::int64_t kFirstNRDDate = 1, kLastNRDDate = 3652059;

bool IsCalendarType(TNRDBaseFieldType t) { return t == bftDate || t == bftDateTime; }

// A date or date-time value whose day lies between 0001-01-01 and 9999-12-31.
bool DayInCalendar(const TNRDVariant& v) {
  if (v.IsNull()) return true;
  const std::int64_t day = v.DataType() == bftDate ? v.AsNRDDate() : v.AsNRDDateTime().Date;
  return day >= kFirstNRDDate && day <= kLastNRDDate;
}

// The value layer's own step of the operator; a failure of its conversions is an overflow, an
// engine error passes as it is.
void ApplyOperator(TNRDVariant& acc, const TNRDVariant& v, TNRDDataOperator op) {
  try {
    switch (op) {
      case doADD: acc.Add(v); break;
      case doMUL: acc.Mul(v); break;
      case doDIV: acc.Division(v); break;
      default: break;
    }
  } catch (const ENRDException&) {
    throw;
  } catch (const Exception&) {
    Overflow(op);
  }
}

// Integer arithmetic wraps in the value layer; here a result outside the result type is an error.
// Day arithmetic wraps in 32 bits there too; a day beyond the calendar is an overflow here.
void CheckedArithmetic(TNRDVariant& acc, const TNRDVariant& v, TNRDDataOperator op) {
  if (acc.IsNull() || v.IsNull()) {
    acc.SetNull(acc.DataType());
    return;
  }
  if (IsCalendarType(acc.DataType()) || IsCalendarType(v.DataType())) {
    // No shift wider than the calendar can land on a date, so it is refused before the value
    // layer adds it in 32 bits.
    const TNRDVariant& other = IsCalendarType(acc.DataType()) ? v : acc;
    if (other.IsNumericDataType() && !IsCalendarType(other.DataType()) &&
        !(std::fabs(other.AsDouble()) <= static_cast<double>(kLastNRDDate)))
      Overflow(op);
    ApplyOperator(acc, v, op);
    if (IsCalendarType(acc.DataType()) && !DayInCalendar(acc)) Overflow(op);
    return;
  }
  const TNRDBaseFieldType rt = GetResultDataType(acc.DataType(), v.DataType(), false);
  std::int64_t lo = 0, hi = 0;
  if (IntegerRange(rt, lo, hi)) {
    const std::int64_t a = acc.AsInt64(), b = v.AsInt64();
    std::int64_t r = 0;
    bool over = false;
    switch (op) {
      case doADD: over = __builtin_add_overflow(a, b, &r); break;
      case doMUL: over = __builtin_mul_overflow(a, b, &r); break;
      case doDIV:
        if (b == 0) throw ENRDException(30128, "Division error: %s", {std::string(kDivByZeroText)});
        over = (a == INT64_MIN && b == -1);
        r = over ? 0 : a / b;
        break;
      default: break;
    }
    if (over || r < lo || r > hi) Overflow(op);
  }
  ApplyOperator(acc, v, op);
  if (acc.IsNull()) return;
  if (acc.DataType() == bftSingle || acc.DataType() == bftDouble || acc.DataType() == bftExtended ||
      acc.DataType() == bftCurrency) {
    if (!std::isfinite(acc.AsDouble())) Overflow(op);
  }
}

// A double result stored as a 32-bit integer, or 30514 when it does not fit.
std::int32_t ToInt32(double d, std::string_view function) {
  if (!std::isfinite(d) || d < static_cast<double>(INT32_MIN) || d > static_cast<double>(INT32_MAX))
    OutOfDomain(function);
  return static_cast<std::int32_t>(d);
}

double FiniteDouble(double d, std::string_view function) {
  if (!std::isfinite(d)) OutOfDomain(function);
  return d;
}

// A logical result written over the node's previous one: the two-byte buffer of the last result is
// reused, so a filter evaluated per record allocates nothing for its truth values.
void SetLogicalResult(TNRDVariant& value, bool isNull, bool result) {
  if (value.DataType() != bftLogical || value.IsDataLinked()) value.Clear(bftLogical);
  if (isNull)
    value.SetNull(bftLogical);
  else
    value.SetAsBoolean(result);
}

// Two integers of any widths compared by value, which is what the general comparison gives them,
// without its conversions; false when either is no integer or NULL.
bool CompareIntegers(const TNRDVariant& a, const TNRDVariant& b, TNRDCompareResult& result) {
  std::int64_t x = 0, y = 0;
  if (!ReadStoredInteger(a, x) || !ReadStoredInteger(b, y)) return false;
  result = x < y ? cmprLower : (x > y ? cmprGreater : cmprEqual);
  return true;
}

// A node whose evaluation only reads (a constant, or a column of the current record): evaluating it
// cannot disturb a value another child produced, so that value need not be copied first.
bool IsPlainLeaf(const TNRDExprNode* node) {
  return node != nullptr && (node->Kind() == TNodeKind::Const || node->Kind() == TNodeKind::Field);
}

}  // namespace

void SetSubqueryRunner(TNRDSubqueryRunner* runner) { gSubqueryRunner = runner; }
TNRDSubqueryRunner* GetSubqueryRunner() { return gSubqueryRunner; }

// ----- base -------------------------------------------------------------------------------------------

TNRDExprNode::TNRDExprNode(TNRDDataOperator op, bool caseInsensitive, bool partialKey)
    : Operator(op), Value(bftUnknown), FCaseInsensitive(caseInsensitive), FPartialKey(partialKey) {}

TNRDExprNode::~TNRDExprNode() = default;

TNRDExprNodePtr TNRDExprNode::CloneInto(TNRDExprNodePtr copy) const {
  copy->Operator = Operator;
  copy->FCaseInsensitive = FCaseInsensitive;
  copy->FPartialKey = FPartialKey;
  copy->Value.Assign(Value, true);
  copy->Children.clear();
  for (const auto& c : Children) copy->Children.push_back(c ? c->Clone() : nullptr);
  return copy;
}

void TNRDExprNode::AdjustAfterBinding() {
  for (auto& c : Children)
    if (c) c->AdjustAfterBinding();
}

bool TNRDExprNode::IsAggregated() {
  for (auto& c : Children)
    if (c && c->IsAggregated()) return true;
  return false;
}

void TNRDExprNode::Init() {
  for (auto& c : Children)
    if (c) c->Init();
}

void TNRDExprNode::Accumulate() {
  for (auto& c : Children)
    if (c) c->Accumulate();
}

void TNRDExprNode::AssignCursor(TNRDCursor* cursor, void* parentQueryAO, TNRDCursor* parentCursor) {
  for (auto& c : Children)
    if (c) c->AssignCursor(cursor, parentQueryAO, parentCursor);
}

void TNRDExprNode::AssignCursorBuffer(void* buffer, bool applyToParentQueryFields) {
  for (auto& c : Children)
    if (c) c->AssignCursorBuffer(buffer, applyToParentQueryFields);
}

void TNRDExprNode::AssignAO(TNRDFieldAccess* ao, TNRDFieldAccess* parentAO) {
  for (auto& c : Children)
    if (c) c->AssignAO(ao, parentAO);
}

bool TNRDExprNode::CanBeAssigned(TNRDFieldAccess* ao, TNRDFieldAccess* parentAO) {
  for (auto& c : Children)
    if (c && !c->CanBeAssigned(ao, parentAO)) return false;
  return true;
}

bool TNRDExprNode::HasSubquery() {
  if (Kind() == TNodeKind::Subquery) return true;
  for (auto& c : Children)
    if (c && c->HasSubquery()) return true;
  return false;
}

TNRDAdvancedFieldType TNRDExprNode::GetDataType() {
  if (Children.empty()) throw ENRDException(30283, "Cannot determine expression type");
  TNRDAdvancedFieldType t = Children[0]->GetDataType();
  for (std::size_t i = 1; i < Children.size(); ++i) t = GetResultAdvancedDataType(t, Children[i]->GetDataType(), false);
  if (t == aftUnknown) throw ENRDException(30283, "Cannot determine expression type");
  return t;
}

std::int32_t TNRDExprNode::GetDataSize() {
  const TNRDBaseFieldType b = AdvancedToBaseFieldType(GetDataType());
  if (!IsStringBaseFieldType(b)) return 0;
  if (Operator != doADD && Operator != doCONCAT && Operator != doCAST) return 0;
  std::int32_t n = 0;
  for (auto& c : Children) n += c->GetDataSize();
  return n;
}

bool TNRDExprNode::CanUseIndex(std::int32_t, TNRDSearchCondition, const TNRDIndexDef&, std::int32_t) { return false; }

bool TNRDExprNode::CanBeUsedInGroupBy(const std::string& groupByFields) {
  for (auto& c : Children)
    if (c && !c->CanBeUsedInGroupBy(groupByFields)) return false;
  return true;
}

namespace {

// A field node that reads the cursor's own table.
bool CanUseNodeAsField(TNRDExprNode* node) {
  auto* f = NodeAs<TNRDExprNodeField>(node);
  return f != nullptr && !f->FGetFromParent;
}

TNRDExprNodeField* FieldOfUpperLower(TNRDExprNode* node) {
  auto* s = NodeAs<TNRDExprNodeStringFunction>(node);
  if (s == nullptr || (s->Operator != doUPPER && s->Operator != doLOWER) || s->Children.empty()) return nullptr;
  return CanUseNodeAsField(s->Child(0)) ? NodeAs<TNRDExprNodeField>(s->Child(0)) : nullptr;
}

bool CanUseNodeAsConst(TNRDExprNode* node) {
  if (NodeAs<TNRDExprNodeConst>(node) != nullptr) return true;
  auto* f = NodeAs<TNRDExprNodeField>(node);
  return f != nullptr && f->FGetFromParent;
}

bool IsTemporaryOfOtherSession(const TNRDIndexDef& def, std::int32_t sessionID) {
  return def.FTemporary && def.FSessionID != sessionID;
}

// Writes `value` as key column `fieldNo` (table numbering) of the condition and records the parent.
void SetScanConditionKeyValue(TNRDVariant& value, TNRDCursor* cursor, TNRDScanSearchCondition& condition,
                              TNRDExpression* expression, TNRDExprNode* node, std::int32_t fieldNo) {
  cursor->SetFieldValue(value, fieldNo, true, condition.KeyRecordBuffer);
  ++condition.KeyFieldCount;
  condition.ParentExpressions.push_back(expression);
  condition.ParentExpressionNodes.push_back(node);
}

TNRDSearchCondition SearchConditionOf(TNRDDataOperator op, bool descending) {
  switch (op) {
    case doEQ: return scEqual;
    case doGT: return descending ? scLower : scGreater;
    case doLT: return descending ? scGreater : scLower;
    case doGE: return descending ? scLowerEqual : scGreaterEqual;
    case doLE: return descending ? scGreaterEqual : scLowerEqual;
    default: return scNone;
  }
}

}  // namespace

// ----- field ------------------------------------------------------------------------------------------

TNRDExprNodeField::TNRDExprNodeField(TNRDCursor* cursor, std::string fieldName, std::string tableName)
    : TNRDExprNode(doUNDEFINED, false, false), FTableName(std::move(tableName)), FFieldName(std::move(fieldName)) {
  if (cursor != nullptr) AssignCursor(cursor, nullptr, nullptr);
}

TNRDExprNodePtr TNRDExprNodeField::Clone() const {
  auto c = std::make_unique<TNRDExprNodeField>(nullptr, FFieldName, FTableName);
  c->LCursor = LCursor;
  c->LRecordBuffer = LRecordBuffer;
  c->FFieldNo = FFieldNo;
  c->FFieldOffsetInBuffer = FFieldOffsetInBuffer;
  c->FFieldType = FFieldType;
  c->FBaseFieldType = FBaseFieldType;
  c->FFieldSize = FFieldSize;
  c->FMemoryDataSize = FMemoryDataSize;
  c->FGetFromParent = FGetFromParent;
  c->LAO = LAO;
  c->FAOFieldNo = FAOFieldNo;
  return CloneInto(std::move(c));
}

namespace {

bool gQualifierByAliasOnly = false;

// The column a reference binds to: by alias on its own operator, then on the enclosing one; then,
// unless only aliases count, by table name in the same order. -1 when none answers.
std::int32_t FindForBinding(TNRDFieldAccess* ao, TNRDFieldAccess* parentAO, const std::string& tableName,
                            const std::string& fieldName, TNRDFieldAccess*& bound) {
  for (const bool byAlias : {true, false}) {
    if (!byAlias && (tableName.empty() || gQualifierByAliasOnly)) break;
    for (TNRDFieldAccess* a : {ao, parentAO}) {
      if (a == nullptr) continue;
      const std::int32_t no =
          byAlias ? a->FindFieldByAlias(tableName, fieldName) : a->FindFieldForExpression(tableName, fieldName);
      if (no >= 0) {
        bound = a;
        return no;
      }
    }
  }
  return -1;
}

}  // namespace

TNRDQualifierByAliasOnly::TNRDQualifierByAliasOnly() : FPrevious(gQualifierByAliasOnly) {
  gQualifierByAliasOnly = true;
}

TNRDQualifierByAliasOnly::~TNRDQualifierByAliasOnly() { gQualifierByAliasOnly = FPrevious; }

void TNRDExprNodeField::AssignAO(TNRDFieldAccess* ao, TNRDFieldAccess* parentAO) {
  TNRDFieldAccess* bound = nullptr;
  const std::int32_t no = FindForBinding(ao, parentAO, FTableName, FFieldName, bound);
  if (no < 0)
    throw ENRDException(30115, "Field '%s' not found",
                        {FTableName.empty() ? FFieldName : FTableName + "." + FFieldName});
  FGetFromParent = bound != ao;
  LAO = bound;
  FAOFieldNo = no;
  LCursor = nullptr;
  LRecordBuffer = nullptr;
  FFieldNo = -1;
  FFieldType = bound->FieldTypeForExpression(no);
  FBaseFieldType = AdvancedToBaseFieldType(FFieldType);
  FFieldSize = bound->FieldSizeForExpression(no);
}

bool TNRDExprNodeField::CanBeAssigned(TNRDFieldAccess* ao, TNRDFieldAccess* parentAO) {
  TNRDFieldAccess* bound = nullptr;
  return FindForBinding(ao, parentAO, FTableName, FFieldName, bound) >= 0;
}

bool TNRDExprNodeField::FindFieldInCursor(TNRDCursor* cursor, std::int32_t& fieldNo) const {
  if (cursor == nullptr) return false;
  const std::int32_t n = cursor->FieldDefs().GetDefNumberByName(FFieldName);
  if (n >= 0) {
    fieldNo = n;
    return true;
  }
  const std::int32_t v = cursor->VisibleFieldDefs().GetDefNumberByName(FFieldName);
  if (v >= 0) {
    fieldNo = cursor->VisibleFieldDefs().GetFieldDef(v)->FFieldNoReference;
    return fieldNo >= 0 && fieldNo < cursor->FieldDefs().GetCount();
  }
  return false;
}

void TNRDExprNodeField::AssignCursor(TNRDCursor* cursor, void* parentQueryAO, TNRDCursor* parentCursor) {
  if (cursor == nullptr) throw ENRDException(30202, "Value is Null");
  std::int32_t no = -1;
  TNRDCursor* bound = nullptr;
  if (FGetFromParent && FindFieldInCursor(parentCursor, no)) {
    bound = parentCursor;
  } else if (FindFieldInCursor(cursor, no)) {
    bound = cursor;
    FGetFromParent = false;
  } else if (FindFieldInCursor(parentCursor, no)) {
    bound = parentCursor;
    FGetFromParent = true;
  }
  if (bound == nullptr && parentQueryAO != nullptr) {
    // An outer column of an enclosing query that reads rows through its operators.
    AssignAO(nullptr, static_cast<TNRDFieldAccess*>(parentQueryAO));
    return;
  }
  if (bound == nullptr) throw ENRDException(30115, "Field '%s' not found", {FFieldName});
  LAO = nullptr;
  FAOFieldNo = -1;
  LCursor = bound;
  FFieldNo = no;
  const TNRDFieldDef& def = *bound->FieldDefs().GetFieldDef(no);
  FFieldOffsetInBuffer = def.FMemoryOffset;
  FFieldType = def.FAdvancedFieldType;
  FBaseFieldType = AdvancedToBaseFieldType(def.FAdvancedFieldType);
  if (FBaseFieldType == bftUnknown) FBaseFieldType = def.FBaseFieldType;
  FFieldSize = def.FFieldSize;
  FMemoryDataSize = def.FMemoryDataSize;
  LRecordBuffer = nullptr;  // read the cursor's current record until a buffer is given
}

void TNRDExprNodeField::AssignCursorBuffer(void* buffer, bool applyToParentQueryFields) {
  if (applyToParentQueryFields == FGetFromParent) LRecordBuffer = buffer;
}

TNRDVariant& TNRDExprNodeField::GetDataValue() {
  if (LAO != nullptr) {
    // The operator sets the value on every path (NULL where there is none) and keeps the value's
    // buffer when the size is the same, so a column read row after row allocates nothing.
    LAO->ReadFieldForExpression(FAOFieldNo, Value);
    return Value;
  }
  Value.Clear(FBaseFieldType);
  if (LCursor == nullptr || FFieldNo < 0) throw ENRDException(30196, "Dataset and AO not assigned");
  const void* buffer = LRecordBuffer != nullptr ? LRecordBuffer : LCursor->CurrentRecordBuffer();
  if (buffer == nullptr || IsFieldNull(buffer, FFieldNo)) return Value;
  if (FBaseFieldType == bftClob || FBaseFieldType == bftWideClob) {
    ReadTextBlob(const_cast<void*>(buffer));
    return Value;
  }
  // A binary BLOB has no value an expression could use; its bytes in the record are a reference.
  if (FBaseFieldType == bftBlob)
    throw ENRDException(30515, "BLOB field '%s' cannot be read in an expression", {FFieldName});
  Value.SetData(static_cast<const std::uint8_t*>(buffer) + FFieldOffsetInBuffer, FMemoryDataSize, FBaseFieldType,
                false);
  return Value;
}

void TNRDExprNodeField::ReadTextBlob(void* buffer) {
  auto* local = dynamic_cast<TNRDLocalCursor*>(LCursor);
  TNRDTableData* table = local != nullptr ? local->TableData() : nullptr;
  if (table == nullptr) throw ENRDException(30515, "BLOB field '%s' cannot be read in an expression", {FFieldName});
  // The table reads the BLOB of the cursor's current record: the buffer is made current meanwhile.
  std::unique_ptr<TNRDStream> stream;
  {
    TNRDCursor::TLentBuffer lent(*LCursor, buffer);
    stream.reset(table->InternalCreateBlobStream(LCursor, false, FFieldNo, bomRead));
  }
  std::string bytes;
  if (stream) {
    const std::int64_t size = stream->GetSize();
    if (size < 0 || size > INT32_MAX - 2)
      throw ENRDException(30515, "BLOB field '%s' cannot be read in an expression", {FFieldName});
    bytes.resize(static_cast<std::size_t>(size));
    stream->SetPosition(0);
    const std::int32_t got = size > 0 ? stream->Read(bytes.data(), static_cast<std::int32_t>(size)) : 0;
    bytes.resize(static_cast<std::size_t>(std::max<std::int32_t>(got, 0)));
  }
  stream.reset();
  table->ClearBlobsCacheInRecordBuffer(buffer);
  if (FBaseFieldType == bftWideClob) {
    std::u16string text(bytes.size() / 2, u'\0');
    if (!text.empty()) std::memcpy(text.data(), bytes.data(), text.size() * 2);
    Value.Clear(bftWideVarchar);
    Value.SetAsWideString(text);
  } else {
    Value.Clear(bftVarchar);
    Value.SetAsAnsiString(bytes);
  }
}

TNRDAdvancedFieldType TNRDExprNodeField::GetDataType() {
  if (FFieldType == aftUnknown) throw ENRDException(30284, "Cannot determine expression type");
  return FFieldType;
}

bool TNRDExprNodeField::CanBeUsedInGroupBy(const std::string& groupByFields) {
  for (const std::string& n : SplitFieldList(groupByFields))
    if (SameNameCI(n, FFieldName)) return true;
  return false;
}

// ----- constant ---------------------------------------------------------------------------------------

TNRDExprNodePtr TNRDExprNodeConst::Clone() const { return CloneInto(std::make_unique<TNRDExprNodeConst>()); }

TNRDAdvancedFieldType TNRDExprNodeConst::GetDataType() { return BaseToAdvancedFieldType(Value.DataType()); }

std::int32_t TNRDExprNodeConst::GetDataSize() {
  if (Value.IsNull() || !Value.IsStringDataType()) return 0;
  const std::int32_t n = Value.StrLen();
  return Value.IsWideStringDataType() ? 2 * n : n;
}

bool TNRDExprNodeConst::IsLikePatternEqualToPartialComparePattern() const {
  if (Value.IsNull() || !Value.IsStringDataType()) return false;
  const std::u16string t = Value.AsWideString();
  return t.size() >= 2 && t.find(u'%') == t.size() - 1;
}

void TNRDExprNodeConst::TruncateForPartialCompare() {
  if (Value.IsNull() || !Value.IsStringDataType()) return;
  if (Value.IsWideStringDataType()) {
    std::u16string t = Value.AsWideString();
    if (!t.empty()) t.pop_back();
    const TNRDBaseFieldType type = Value.DataType();
    Value.Clear(type);
    Value.SetAsWideString(t);
  } else {
    std::string t = Value.AsAnsiString();
    if (!t.empty()) t.pop_back();
    const TNRDBaseFieldType type = Value.DataType();
    Value.Clear(type);
    Value.SetAsAnsiString(t);
  }
}

bool TNRDExprNodeConst::IsLowerCase() const {
  if (Value.IsNull() || !Value.IsStringDataType()) return false;
  const std::u16string t = Value.AsWideString();
  return t == WideLowerCase(t);
}

bool TNRDExprNodeConst::IsUpperCase() const {
  if (Value.IsNull() || !Value.IsStringDataType()) return false;
  const std::u16string t = Value.AsWideString();
  return t == WideUpperCase(t);
}

// ----- system -----------------------------------------------------------------------------------------

TNRDExprNodeSystem::TNRDExprNodeSystem(TNRDDataOperator op, std::string tableName, std::string columnName,
                                       bool inMemory, std::string sessionName, std::string databaseName,
                                       TNRDCursor* cursor)
    : TNRDExprNode(op, false, false),
      FTableName(std::move(tableName)),
      FColumnName(std::move(columnName)),
      FInMemory(inMemory),
      FSessionName(std::move(sessionName)),
      FDatabaseName(std::move(databaseName)),
      LCursor(cursor) {
  if (Operator == doLASTAUTOINC) OpenTable();
}

TNRDExprNodeSystem::~TNRDExprNodeSystem() = default;

void TNRDExprNodeSystem::OpenTable() {
  const bool named = !FSessionName.empty() || !FDatabaseName.empty();
  if (named) {
    auto table = std::make_unique<TNRDTable>(nullptr);
    if (!FSessionName.empty()) table->SetSessionName(FSessionName);
    if (FInMemory)
      table->SetInMemory(true);
    else
      table->SetDatabaseName(FDatabaseName);
    table->SetTableName(FTableName);
    table->SetReadOnly(true);
    table->Open();
    const TNRDAdvFieldDefs& defs = table->AdvFieldDefs();
    for (std::int32_t i = 0; i < defs.Count() && FFieldNo < 0; ++i)
      if (SameNameCI(defs.GetDef(i).FName, FColumnName)) {
        FFieldNo = i;
        FFieldType = defs.GetDef(i).FDataType;
      }
    FTable = std::move(table);
  } else {
    if (LCursor == nullptr || LCursor->Session() == nullptr)
      throw ENRDException(30512, "'%s' is not available in this expression", {std::string("LASTAUTOINC")});
    auto cursor = std::make_unique<TNRDLocalCursor>();
    cursor->SetSession(LCursor->Session());
    cursor->SetTableName(FTableName);
    // A table of the memory database is named with MEMORY, or is found there when the expression
    // filters a memory table.
    cursor->SetInMemory(FInMemory || LCursor->InMemory());
    TNRDFieldDefs fields;
    TNRDIndexDefs indexes;
    TNRDConstraintDefs constraints;
    cursor->OpenTableByFieldDefs(fields, indexes, constraints);
    const std::int32_t no = cursor->FieldDefs().GetDefNumberByName(FColumnName);
    if (no >= 0) {
      FFieldNo = no;
      FFieldType = cursor->FieldDefs().GetFieldDef(no)->FAdvancedFieldType;
    }
    FTableCursor = std::move(cursor);
  }
  if (FFieldNo < 0) throw ENRDException(30337, "Field '%s' not found", {FColumnName});
}

TNRDExprNodePtr TNRDExprNodeSystem::Clone() const {
  return CloneInto(std::make_unique<TNRDExprNodeSystem>(Operator, FTableName, FColumnName, FInMemory, FSessionName,
                                                        FDatabaseName, LCursor));
}

TNRDVariant& TNRDExprNodeSystem::GetDataValue() {
  if (Operator == doROWNUM) {
    if (FRowNumValue == INT32_MAX) Overflow(doROWNUM);
    Value.Clear(bftSignedInt32);
    Value.SetAsInteger(++FRowNumValue);
    return Value;
  }
  if (Operator == doLASTAUTOINC) {
    const std::int64_t last = FTable ? static_cast<TNRDTable&>(*FTable).LastAutoincValue(FFieldNo)
                                     : FTableCursor->LastAutoincValue(FFieldNo);
    TNRDBaseFieldType type = AdvancedToBaseFieldType(FFieldType);
    std::int64_t lo = 0, hi = 0;
    // A column type that cannot hold the value (or is no integer) gives the value as a 64-bit integer.
    if (!IntegerRange(type, lo, hi) || last < lo || last > hi) type = bftSignedInt64;
    Value.Clear(type);
    Value.SetAsInt64(last);
    return Value;
  }
  throw ENRDException(30338, "Unknown operator: '%s'", {OperatorText(Operator)});
}

TNRDAdvancedFieldType TNRDExprNodeSystem::GetDataType() {
  if (Operator == doROWNUM) return aftInteger;
  if (Operator == doLASTAUTOINC) return FFieldType;
  return aftUnknown;
}

// ----- boolean ----------------------------------------------------------------------------------------

TNRDExprNodeBoolean::TNRDExprNodeBoolean(TNRDDataOperator op, bool caseInsensitive, bool partialKey,
                                         std::string escapeStr)
    : TNRDExprNode(op, caseInsensitive, partialKey), EscapeStr(std::move(escapeStr)) {
  Value.Clear(bftLogical);
}

TNRDExprNodePtr TNRDExprNodeBoolean::Clone() const {
  return CloneInto(std::make_unique<TNRDExprNodeBoolean>(Operator, FCaseInsensitive, FPartialKey, EscapeStr));
}

TNRDVariant& TNRDExprNodeBoolean::GetDataValue() {
  // Results are computed into locals first: a child may be evaluated by this very node's value.
  enum class Tri { False, True, Null };
  Tri r = Tri::Null;
  auto asTri = [](TNRDVariant& v) { return v.IsNull() ? Tri::Null : (v.AsBoolean() ? Tri::True : Tri::False); };
  auto negate = [](Tri t) { return t == Tri::Null ? Tri::Null : (t == Tri::True ? Tri::False : Tri::True); };
  switch (Operator) {
    case doNOT: r = negate(asTri(Child(0)->GetDataValue())); break;
    case doAND:
      r = Tri::True;
      for (auto& c : Children) {
        const Tri t = asTri(c->GetDataValue());
        if (t == Tri::False) {
          r = Tri::False;
          break;
        }
        if (t == Tri::Null) r = Tri::Null;
      }
      break;
    case doOR:
      r = Tri::False;
      for (auto& c : Children) {
        const Tri t = asTri(c->GetDataValue());
        if (t == Tri::True) {
          r = Tri::True;
          break;
        }
        if (t == Tri::Null) r = Tri::Null;
      }
      break;
    case doIN:
    case doNOTIN: {
      TNRDVariant& v = Child(0)->GetDataValue();
      if (Children.size() == 2 && NodeAs<TNRDExprNodeSubquery>(Child(1)) != nullptr) {
        r = NodeAs<TNRDExprNodeSubquery>(Child(1))->IsValueIn(v) ? Tri::True : Tri::False;
      } else if (v.IsNull()) {
        r = Tri::Null;
      } else {
        TNRDVariant value;
        value.Assign(v, true);
        r = Tri::False;
        for (std::size_t i = 1; i < Children.size(); ++i) {
          TNRDVariant& item = Child(i)->GetDataValue();
          if (value.Compare(item, true, true, false) == cmprEqual) {
            r = Tri::True;
            break;
          }
        }
      }
      if (Operator == doNOTIN) r = negate(r);
      break;
    }
    case doEXISTS: r = NodeAs<TNRDExprNodeSubquery>(Child(0))->Exists() ? Tri::True : Tri::False; break;
    case doBETWEEN:
    case doNOTBETWEEN: {
      // The value and the low bound are copied only when a later child could overwrite them.
      TNRDVariant valueCopy, lowCopy;
      TNRDVariant* valuePtr = &Child(0)->GetDataValue();
      if (!IsPlainLeaf(Child(1)) || !IsPlainLeaf(Child(2))) {
        valueCopy.Assign(*valuePtr, true);
        valuePtr = &valueCopy;
      }
      TNRDVariant* lowPtr = &Child(1)->GetDataValue();
      if (!IsPlainLeaf(Child(2))) {
        lowCopy.Assign(*lowPtr, true);
        lowPtr = &lowCopy;
      }
      TNRDVariant& value = *valuePtr;
      TNRDVariant& low = *lowPtr;
      TNRDVariant& high = Child(2)->GetDataValue();
      if (!value.IsNull() && !low.IsNull() && !high.IsNull()) {
        TNRDCompareResult a = cmprEqual, b = cmprEqual;
        if (!CompareIntegers(value, low, a)) a = value.Compare(low, true, true, false);
        if (!CompareIntegers(value, high, b)) b = value.Compare(high, true, true, false);
        r = (a == cmprEqual || a == cmprGreater) && (b == cmprEqual || b == cmprLower) ? Tri::True : Tri::False;
      }
      if (Operator == doNOTBETWEEN) r = negate(r);
      break;
    }
    case doLIKE:
    case doNOTLIKE: {
      TNRDVariant valueCopy;
      TNRDVariant* value = &Child(0)->GetDataValue();
      if (!IsPlainLeaf(Child(1))) {
        valueCopy.Assign(*value, true);
        value = &valueCopy;
      }
      TNRDVariant& pattern = Child(1)->GetDataValue();
      if (!pattern.IsNull()) r = MatchLike(*value, pattern) ? Tri::True : Tri::False;
      if (Operator == doNOTLIKE) r = negate(r);
      break;
    }
    case doISNULL: r = Child(0)->GetDataValue().IsNull() ? Tri::True : Tri::False; break;
    case doISNOTNULL: r = Child(0)->GetDataValue().IsNull() ? Tri::False : Tri::True; break;
    default: throw ENRDException(30116, "Unknown operator: '%s'", {OperatorText(Operator)});
  }
  SetLogicalResult(Value, r == Tri::Null, r == Tri::True);
  return Value;
}

namespace {

// The text of a value as 8-bit characters: a view of its own bytes when it is an 8-bit text (up to
// its terminating zero), else its conversion kept in `scratch`. NULL reads as an empty text.
std::string_view AnsiTextOf(const TNRDVariant& v, std::string& scratch) {
  if (v.IsNull()) return {};
  if (v.IsStringDataType() && !v.IsWideStringDataType()) {
    const auto* p = static_cast<const char*>(v.pData());
    const std::size_t room = static_cast<std::size_t>(std::max(v.StrLen(), 0));
    std::size_t n = 0;
    while (n < room && p[n] != 0) ++n;
    return {p, n};
  }
  scratch = v.AsAnsiString();
  return scratch;
}

std::u16string_view WideTextOf(const TNRDVariant& v, std::u16string& scratch) {
  if (v.IsNull()) return {};
  if (v.IsWideStringDataType() && reinterpret_cast<std::uintptr_t>(v.pData()) % alignof(char16_t) == 0) {
    const auto* p = static_cast<const char16_t*>(v.pData());
    const std::size_t room = static_cast<std::size_t>(std::max(v.StrLen(), 0));
    std::size_t n = 0;
    while (n < room && p[n] != 0) ++n;
    return {p, n};
  }
  scratch = v.AsWideString();
  return scratch;
}

}  // namespace

bool TNRDExprNodeBoolean::MatchLike(const TNRDVariant& value, const TNRDVariant& pattern) {
  // A NULL value takes the pattern's type and reads as an empty text (so NULL LIKE '%' holds).
  const TNRDBaseFieldType valueType = value.IsNull() ? pattern.DataType() : value.DataType();
  const TNRDBaseFieldType common = GetResultDataType(valueType, pattern.DataType(), false);
  if (!IsStringBaseFieldType(common))
    throw ENRDException(30120, "Not string argument in function '%s'", {std::string("LIKE")});
  if (IsWideStringBaseFieldType(common)) {
    const std::u16string escape = AnsiToWide(EscapeStr);
    const char16_t esc = escape.empty() ? u'\0' : escape[0];
    std::u16string valueScratch, patternScratch;
    const std::u16string_view p = WideTextOf(pattern, patternScratch);
    if (!FWideLike || !FWideLike->IsFor(p, esc, !escape.empty(), FCaseInsensitive))
      FWideLike = std::make_unique<TLikeMatcher<char16_t>>(p, esc, !escape.empty(), FCaseInsensitive);
    return FWideLike->Matches(WideTextOf(value, valueScratch));
  }
  const char esc = EscapeStr.empty() ? '\0' : EscapeStr[0];
  std::string valueScratch, patternScratch;
  const std::string_view p = AnsiTextOf(pattern, patternScratch);
  if (!FAnsiLike || !FAnsiLike->IsFor(p, esc, !EscapeStr.empty(), FCaseInsensitive))
    FAnsiLike = std::make_unique<TLikeMatcher<char>>(p, esc, !EscapeStr.empty(), FCaseInsensitive);
  return FAnsiLike->Matches(AnsiTextOf(value, valueScratch));
}

bool TNRDExprNodeBoolean::CanUseIndex(std::int32_t indexColumnNo, TNRDSearchCondition conditionSearchOperator,
                                      const TNRDIndexDef& indexDef, std::int32_t sessionID) {
  if (Operator != doISNULL && Operator != doISNOTNULL) return false;
  if (Children.empty() || !CanUseNodeAsField(Child(0))) return false;
  if (indexColumnNo >= indexDef.ColumnCount()) return false;
  auto* f = NodeAs<TNRDExprNodeField>(Child(0));
  if (!SameNameCI(f->FFieldName, indexDef.GetIndexColumn(indexColumnNo).FFieldName)) return false;
  if (indexColumnNo == 0) return !IsTemporaryOfOtherSession(indexDef, sessionID);
  return Operator == doISNULL && conditionSearchOperator == scEqual;
}

void TNRDExprNodeBoolean::AddAsIndexScanCondition(TNRDScanSearchConditionArray& conditions,
                                                  const TNRDIndexDef& indexDef, TNRDExpression* expression) {
  auto* f = NodeAs<TNRDExprNodeField>(Child(0));
  if (f == nullptr || f->LCursor == nullptr) throw ENRDException(20254, "Pointer is nil");
  if (indexDef.ColumnCount() == 0) throw ENRDException(20255, "Invalid index for search");
  TNRDScanSearchCondition c;
  const bool desc = indexDef.GetIndexColumn(0).FDescending;
  c.Condition = Operator == doISNULL ? scEqual : (desc ? scLower : scGreater);
  c.KeyRecordBuffer = f->LCursor->AllocateRecordBuffer();
  c.KeyRecordBufferSize = f->LCursor->RecordBufferSize();
  c.IndexID = indexDef.FObjectID;
  c.CreatedFromExpression = true;
  c.PartialCompare = false;
  TNRDVariant nullValue(f->FBaseFieldType);
  SetScanConditionKeyValue(nullValue, f->LCursor, c, expression, this, f->FFieldNo);
  conditions.AddCondition(c);
}

void TNRDExprNodeBoolean::ExtendIndexScanCondition(TNRDScanSearchCondition& condition, const TNRDIndexDef&,
                                                   TNRDExpression* expression) {
  auto* f = NodeAs<TNRDExprNodeField>(Child(0));
  if (f == nullptr || f->LCursor == nullptr) throw ENRDException(20254, "Pointer is nil");
  TNRDVariant nullValue(f->FBaseFieldType);
  SetScanConditionKeyValue(nullValue, f->LCursor, condition, expression, this, f->FFieldNo);
}

// ----- comparison -------------------------------------------------------------------------------------

TNRDExprNodeComparison::TNRDExprNodeComparison(TNRDDataOperator op, TNRDQuantifier quantifier, TNRDExprNodePtr node1,
                                               TNRDExprNodePtr node2, bool trueFalseNullLogic, bool caseInsensitive,
                                               bool partialKey)
    : TNRDExprNode(op, caseInsensitive, partialKey), F3ValueLogic(trueFalseNullLogic), FQuantifier(quantifier) {
  Value.Clear(bftLogical);
  if (node1) AddChild(std::move(node1));
  if (node2) AddChild(std::move(node2));
}

TNRDExprNodePtr TNRDExprNodeComparison::Clone() const {
  return CloneInto(std::make_unique<TNRDExprNodeComparison>(Operator, FQuantifier, nullptr, nullptr, F3ValueLogic,
                                                            FCaseInsensitive, FPartialKey));
}

void TNRDExprNodeComparison::AdjustAfterBinding() {
  TNRDExprNode::AdjustAfterBinding();
  TNRDExprNodeField* field = nullptr;
  TNRDExprNodeConst* constant = nullptr;
  for (auto& c : Children) {
    if (auto* f = NodeAs<TNRDExprNodeField>(c.get())) field = f;
    if (auto* k = NodeAs<TNRDExprNodeConst>(c.get())) constant = k;
  }
  if (field == nullptr || constant == nullptr || constant->Value.IsNull()) return;
  const TNRDAdvancedFieldType ft = field->FFieldType;
  const TNRDAdvancedFieldType ct = constant->GetDataType();
  // Narrowing a wide text that the code page cannot hold would turn its letters into '?', so such a
  // constant stays wide and the comparison is made on wide texts.
  if ((ft == aftChar || ft == aftString || ft == aftGuid) && (ct == aftWideChar || ct == aftWideString) &&
      IsAnsiRepresentable(constant->Value.AsWideString()))
    constant->Value.Cast(bftVarchar);
}

TNRDVariant& TNRDExprNodeComparison::GetDataValue() {
  bool result = false;
  if (FQuantifier != qUNDEFINED) {
    auto* sub = NodeAs<TNRDExprNodeSubquery>(Child(1));
    result = sub->QuantifiedCompare(Operator, FQuantifier, Child(0)->GetDataValue());
  } else {
    TNRDVariant leftCopy;
    TNRDVariant* left = &Child(0)->GetDataValue();
    if (!IsPlainLeaf(Child(1))) {
      leftCopy.Assign(*left, true);
      left = &leftCopy;
    }
    const TNRDVariant& right = Child(1)->GetDataValue();
    TNRDCompareResult r = cmprEqual;
    if (!CompareIntegers(*left, right, r)) r = left->Compare(right, F3ValueLogic, FCaseInsensitive, FPartialKey);
    switch (Operator) {
      case doEQ: result = r == cmprEqual; break;
      case doNE: result = F3ValueLogic ? (r == cmprLower || r == cmprGreater) : r != cmprEqual; break;
      case doGT: result = r == cmprGreater; break;
      case doLT: result = r == cmprLower; break;
      case doGE: result = r == cmprEqual || r == cmprGreater; break;
      case doLE: result = r == cmprEqual || r == cmprLower; break;
      default: throw ENRDException(30117, "Unknown operator: '%s'", {OperatorText(Operator)});
    }
  }
  SetLogicalResult(Value, false, result);
  return Value;
}

void TNRDExprNodeComparison::GetFieldAndConstNodes(TNRDExprNodeField*& fieldNode, TNRDExprNode*& constNode) {
  fieldNode = nullptr;
  constNode = nullptr;
  if (Children.size() != 2 || FQuantifier != qUNDEFINED) return;
  for (std::size_t i = 0; i < 2; ++i)
    if (CanUseNodeAsConst(Child(i))) constNode = Child(i);
  TNRDExprNode* fieldChild = nullptr;
  for (std::size_t i = 0; i < 2; ++i)
    if (Child(i) != constNode && (CanUseNodeAsField(Child(i)) || FieldOfUpperLower(Child(i)) != nullptr))
      fieldChild = Child(i);
  if (fieldChild == nullptr) return;
  if (CanUseNodeAsField(fieldChild)) {
    fieldNode = NodeAs<TNRDExprNodeField>(fieldChild);
    return;
  }
  fieldNode = FieldOfUpperLower(fieldChild);
  auto* k = NodeAs<TNRDExprNodeConst>(constNode);
  if (k != nullptr) {
    const bool upper = fieldChild->Operator == doUPPER;
    if (upper ? !k->IsUpperCase() : !k->IsLowerCase()) {
      fieldNode = nullptr;
      constNode = nullptr;
      return;
    }
  }
  FCaseInsensitive = true;
}

bool TNRDExprNodeComparison::CanUseIndex(std::int32_t indexColumnNo, TNRDSearchCondition conditionSearchOperator,
                                         const TNRDIndexDef& indexDef, std::int32_t sessionID) {
  TNRDExprNodeField* f = nullptr;
  TNRDExprNode* k = nullptr;
  GetFieldAndConstNodes(f, k);
  if (f == nullptr || k == nullptr || f->LCursor == nullptr) return false;
  if (indexColumnNo >= indexDef.ColumnCount()) return false;
  const TNRDIndexColumn& col = indexDef.GetIndexColumn(indexColumnNo);
  if (!SameNameCI(f->FFieldName, col.FFieldName)) return false;
  if (indexColumnNo == 0 && IsTemporaryOfOtherSession(indexDef, sessionID)) return false;
  if (f->FBaseFieldType == bftBlob || f->FBaseFieldType == bftClob || f->FBaseFieldType == bftWideClob) return false;
  const bool isString = IsStringBaseFieldType(f->FBaseFieldType);
  if (isString && col.FCaseInsensitive != FCaseInsensitive) return false;
  if (FPartialKey) return false;
  if (Operator != doEQ && Operator != doGT && Operator != doLT && Operator != doGE && Operator != doLE) return false;
  if (isString && k->GetDataSize() >= f->FFieldSize + (IsWideStringBaseFieldType(f->FBaseFieldType) ? f->FFieldSize : 0) + 1)
    return false;
  if (indexColumnNo > 0 && !(conditionSearchOperator == scEqual && Operator == doEQ)) return false;
  // A NULL key never drives a comparison: no comparison accepts NULL.
  if (k->GetDataValue().IsNull()) return false;
  return true;
}

void TNRDExprNodeComparison::AddAsIndexScanCondition(TNRDScanSearchConditionArray& conditions,
                                                     const TNRDIndexDef& indexDef, TNRDExpression* expression) {
  TNRDExprNodeField* f = nullptr;
  TNRDExprNode* k = nullptr;
  GetFieldAndConstNodes(f, k);
  if (f == nullptr || k == nullptr) throw ENRDException(20055, "Pointer is nil");
  if (f->LCursor == nullptr) throw ENRDException(20054, "Pointer is nil");
  if (indexDef.ColumnCount() == 0) throw ENRDException(20057, "Invalid index for search");
  TNRDDataOperator op = Operator;
  if (k == Child(0)) op = MirrorCompareOperator(op);
  TNRDScanSearchCondition c;
  c.Condition = SearchConditionOf(op, indexDef.GetIndexColumn(0).FDescending);
  c.KeyRecordBuffer = f->LCursor->AllocateRecordBuffer();
  c.KeyRecordBufferSize = f->LCursor->RecordBufferSize();
  c.IndexID = indexDef.FObjectID;
  c.CreatedFromExpression = true;
  c.PartialCompare = FPartialKey;
  TNRDVariant key;
  key.Assign(k->GetDataValue(), true);
  SetScanConditionKeyValue(key, f->LCursor, c, expression, this, f->FFieldNo);
  conditions.AddCondition(c);
}

void TNRDExprNodeComparison::ExtendIndexScanCondition(TNRDScanSearchCondition& condition, const TNRDIndexDef&,
                                                      TNRDExpression* expression) {
  TNRDExprNodeField* f = nullptr;
  TNRDExprNode* k = nullptr;
  GetFieldAndConstNodes(f, k);
  if (f == nullptr || k == nullptr) throw ENRDException(20055, "Pointer is nil");
  if (f->LCursor == nullptr) throw ENRDException(20054, "Pointer is nil");
  TNRDVariant key;
  key.Assign(k->GetDataValue(), true);
  SetScanConditionKeyValue(key, f->LCursor, condition, expression, this, f->FFieldNo);
}

// ----- arithmetic -------------------------------------------------------------------------------------

TNRDExprNodePtr TNRDExprNodeArithmetic::Clone() const {
  return CloneInto(std::make_unique<TNRDExprNodeArithmetic>(Operator, FCaseInsensitive, FPartialKey));
}

TNRDVariant& TNRDExprNodeArithmetic::GetDataValue() {
  auto childDouble = [&](std::size_t i, std::string_view name, double& d) {
    TNRDVariant& v = Child(i)->GetDataValue();
    if (v.IsNull()) return false;
    if (!v.IsNumericDataType() && !v.IsStringDataType())
      throw ENRDException(30132, "Not numeric argument in numeric operator '%s'", {name});
    d = v.AsDouble();
    return true;
  };
  const std::string name = OperatorText(Operator);
  double x = 0;
  switch (Operator) {
    case doADD:
    case doMUL:
    case doDIV: {
      TNRDVariant acc;
      acc.Assign(Child(0)->GetDataValue(), true);
      for (std::size_t i = 1; i < Children.size(); ++i) {
        CheckedArithmetic(acc, Child(i)->GetDataValue(), Operator);
        if (Operator == doDIV) break;
      }
      Value.Assign(acc, true);
      return Value;
    }
    case doSUB: {
      TNRDVariant acc;
      acc.Assign(Child(0)->GetDataValue(), true);
      if (!acc.IsNull()) {
        std::int64_t lo = 0, hi = 0;
        if (IntegerRange(acc.DataType(), lo, hi)) {
          const std::int64_t v = acc.AsInt64();
          // The smallest signed value has no negation in its type; an unsigned value is negated
          // in 64 bits.
          if (lo < 0 && v == lo) Overflow(doSUB);
          if (lo == 0) {
            acc.Clear(bftSignedInt64);
            acc.SetAsInt64(-v);
          } else {
            acc.InvertValue();
          }
        } else {
          try {
            acc.InvertValue();
          } catch (const ENRDException&) {
            throw;
          } catch (const Exception&) {
            Overflow(doSUB);
          }
        }
      }
      Value.Assign(acc, true);
      return Value;
    }
    case doABS: {
      TNRDVariant acc;
      acc.Assign(Child(0)->GetDataValue(), true);
      if (!acc.IsNull()) {
        TNRDVariant zero(bftSignedInt32);
        zero.SetAsInteger(0);
        if (acc.Compare(zero, true, false, false) == cmprLower) {
          std::int64_t lo = 0, hi = 0;
          if (IntegerRange(acc.DataType(), lo, hi) && acc.AsInt64() == lo) Overflow(doABS);
          acc.InvertValue();
        }
      }
      Value.Assign(acc, true);
      return Value;
    }
    case doSQR: {
      TNRDVariant acc;
      acc.Assign(Child(0)->GetDataValue(), true);
      TNRDVariant same;
      same.Assign(acc, true);
      CheckedArithmetic(acc, same, doMUL);
      Value.Assign(acc, true);
      return Value;
    }
    default: break;
  }
  Value.Clear(GetDataType() == aftInteger ? bftSignedInt32 : bftDouble);
  if (Children.empty() || !childDouble(0, name, x)) return Value;
  switch (Operator) {
    case doACOS:
      if (x < -1 || x > 1) OutOfDomain("ACOS");
      Value.SetAsDouble(std::acos(x));
      break;
    case doASIN:
      if (x < -1 || x > 1) OutOfDomain("ASIN");
      Value.SetAsDouble(std::asin(x));
      break;
    case doATAN: Value.SetAsDouble(std::atan(x)); break;
    case doCOS: Value.SetAsDouble(FiniteDouble(std::cos(x), "COS")); break;
    case doSIN: Value.SetAsDouble(FiniteDouble(std::sin(x), "SIN")); break;
    case doEXP: Value.SetAsDouble(FiniteDouble(std::exp(x), "EXP")); break;
    case doSQRT:
      if (x < 0) OutOfDomain("SQRT");
      Value.SetAsDouble(std::sqrt(x));
      break;
    case doLOG:
      if (!(x > 0)) OutOfDomain("LOG");
      Value.SetAsDouble(std::log(x));
      break;
    case doCEIL: Value.SetAsInteger(ToInt32(std::ceil(x), "CEIL")); break;
    case doFLOOR: Value.SetAsInteger(ToInt32(std::floor(x), "FLOOR")); break;
    case doSIGN: Value.SetAsInteger(x > 0 ? 1 : (x < 0 ? -1 : 0)); break;
    case doPOWER: {
      double y = 0;
      if (Children.size() < 2 || !childDouble(1, name, y)) {
        Value.Clear(bftDouble);
        break;
      }
      Value.SetAsDouble(FiniteDouble(std::pow(x, y), "POWER"));
      break;
    }
    case doRAND: {
      const std::int32_t n = ToInt32(x, "RAND");
      if (n <= 0) OutOfDomain("RAND");
      static std::mt19937 rng(std::random_device{}());
      Value.SetAsInteger(std::uniform_int_distribution<std::int32_t>(0, n - 1)(rng));
      break;
    }
    case doROUND: {
      int digits = 0;
      std::uint8_t mode = 1;
      if (Children.size() >= 2) {
        double d = 0;
        if (!childDouble(1, name, d)) {
          Value.Clear(bftDouble);
          break;
        }
        digits = ToInt32(d, "ROUND");
        if (digits < -20 || digits > 20) OutOfDomain("ROUND");
      }
      if (Children.size() >= 3) {
        const std::int32_t word = Child(2)->GetDataValue().AsInteger();
        if (word < rwHALFEVEN || word > rwRNDUP)
          throw ENRDException(30513, "Unknown rounding mode '%s'",
                              {std::string(ReservedWordText(static_cast<TReservedWord>(word)))});
        mode = static_cast<std::uint8_t>(word - rwHALFEVEN + 1);
      }
      const long double r = DecimalRoundDouble(x, digits, mode);
      if (Children.size() == 1)
        Value.SetAsInteger(ToInt32(static_cast<double>(r), "ROUND"));
      else
        Value.SetAsDouble(FiniteDouble(static_cast<double>(r), "ROUND"));
      break;
    }
    default: throw ENRDException(30121, "Unknown operator: '%s'", {OperatorText(Operator)});
  }
  return Value;
}

TNRDAdvancedFieldType TNRDExprNodeArithmetic::GetDataType() {
  switch (Operator) {
    case doABS:
    case doSQR: return Child(0)->GetDataType();
    case doCEIL:
    case doFLOOR:
    case doRAND:
    case doSIGN: return aftInteger;
    case doROUND: return Children.size() == 1 ? aftInteger : aftDouble;
    case doADD:
    case doSUB:
    case doMUL:
    case doDIV: return TNRDExprNode::GetDataType();
    default: return aftDouble;
  }
}

// ----- string functions -------------------------------------------------------------------------------

TNRDExprNodePtr TNRDExprNodeStringFunction::Clone() const {
  return CloneInto(std::make_unique<TNRDExprNodeStringFunction>(Operator, FCaseInsensitive, FPartialKey));
}

namespace {

void CopyAsString(TNRDVariant& dest, TNRDVariant& src) {
  dest.Assign(src, true);
  if (!dest.IsNull() && !dest.IsStringDataType()) dest.Cast(bftVarchar);
}

bool IsTrimmed(char16_t c) { return c <= u' '; }

}  // namespace

TNRDVariant& TNRDExprNodeStringFunction::GetDataValue() {
  switch (Operator) {
    case doCONCAT:
    case doUPPER:
    case doLOWER:
    case doTRIM:
    case doLTRIM:
    case doRTRIM: {
      TNRDVariant acc;
      CopyAsString(acc, Child(0)->GetDataValue());
      if (Operator == doCONCAT) {
        for (std::size_t i = 1; i < Children.size(); ++i) {
          TNRDVariant part;
          CopyAsString(part, Child(i)->GetDataValue());
          if (acc.IsNull() || part.IsNull()) {
            // An empty text is stored as NULL, so NULL parts read as empty texts.
            if (acc.IsNull()) acc.Assign(part, true);
            continue;
          }
          acc.Add(part);
        }
      } else if (!acc.IsNull()) {
        const bool wide = acc.IsWideStringDataType();
        std::u16string t = acc.AsWideString();
        if (Operator == doUPPER) t = WideUpperCase(t);
        else if (Operator == doLOWER) t = WideLowerCase(t);
        else {
          std::size_t b = 0, e = t.size();
          if (Operator != doRTRIM)
            while (b < e && IsTrimmed(t[b])) ++b;
          if (Operator != doLTRIM)
            while (e > b && IsTrimmed(t[e - 1])) --e;
          t = t.substr(b, e - b);
        }
        const TNRDBaseFieldType type = acc.DataType();
        acc.Clear(type);
        if (wide) acc.SetAsWideString(t);
        else acc.SetAsAnsiString(WideToAnsi(t));
      }
      Value.Assign(acc, true);
      return Value;
    }
    case doLENGTH: {
      TNRDVariant v;
      CopyAsString(v, Child(0)->GetDataValue());
      Value.Clear(bftSignedInt32);
      Value.SetAsInteger(v.IsNull() ? 0 : static_cast<std::int32_t>(v.AsWideString().size()));
      return Value;
    }
    case doPOS: {
      TNRDVariant a, b;
      CopyAsString(a, Child(0)->GetDataValue());
      CopyAsString(b, Child(1)->GetDataValue());
      const std::u16string needle = a.IsNull() ? u"" : a.AsWideString();
      const std::u16string hay = b.IsNull() ? u"" : b.AsWideString();
      std::int32_t pos = 0;
      if (!needle.empty()) {
        const std::size_t p = hay.find(needle);
        pos = p == std::u16string::npos ? 0 : static_cast<std::int32_t>(p) + 1;
      }
      Value.Clear(bftSignedInt32);
      Value.SetAsInteger(pos);
      return Value;
    }
    case doSUBSTRING: {
      TNRDVariant text;
      CopyAsString(text, Child(0)->GetDataValue());
      TNRDVariant& s = Child(1)->GetDataValue();
      std::int64_t start = s.IsNull() ? 1 : s.AsInt64();
      std::int64_t count = 0;
      const std::u16string t = text.IsNull() ? u"" : text.AsWideString();
      if (Children.size() > 2) {
        TNRDVariant& c = Child(2)->GetDataValue();
        count = c.IsNull() ? 0 : c.AsInt64();
      } else {
        count = static_cast<std::int64_t>(t.size());
      }
      if (!text.IsNull()) {
        if (start < 1) start = 1;
        std::u16string r;
        if (count > 0 && start <= static_cast<std::int64_t>(t.size()))
          r = t.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(std::min<std::int64_t>(count, static_cast<std::int64_t>(t.size()))));
        const bool wide = text.IsWideStringDataType();
        const TNRDBaseFieldType type = text.DataType();
        text.Clear(type);
        if (wide) text.SetAsWideString(r);
        else text.SetAsAnsiString(WideToAnsi(r));
      }
      Value.Assign(text, true);
      return Value;
    }
    default: throw ENRDException(30131, "Unknown operator: '%s'", {OperatorText(Operator)});
  }
}

TNRDAdvancedFieldType TNRDExprNodeStringFunction::GetDataType() {
  switch (Operator) {
    case doLENGTH:
    case doPOS: return aftInteger;
    case doCONCAT: return TNRDExprNode::GetDataType();
    default: {
      const TNRDAdvancedFieldType t = Child(0)->GetDataType();
      if (IsStringAft(t) || t == aftGuid) return t;
      if (t == aftMemo || t == aftFormattedMemo) return aftString;
      if (t == aftWideMemo) return aftWideString;
      return t;
    }
  }
}

std::int32_t TNRDExprNodeStringFunction::GetDataSize() {
  switch (Operator) {
    case doCONCAT: {
      const TNRDAdvancedFieldType t = GetDataType();
      std::int32_t n = 0;
      for (auto& c : Children) {
        if (c->GetDataType() != t && NodeAs<TNRDExprNodeCast>(c.get()) == nullptr)
          c = std::make_unique<TNRDExprNodeCast>(std::move(c), t, nullptr);
        n += c->GetDataSize();
      }
      return n;
    }
    case doUPPER:
    case doLOWER:
    case doTRIM:
    case doLTRIM:
    case doRTRIM: return Child(0)->GetDataSize();
    case doSUBSTRING: {
      const std::int32_t n = Child(0)->GetDataSize();
      if (n == 0 && IsStringAft(GetDataType())) {
        if (Children.size() < 3) return 4096;
        TNRDVariant& v = Child(2)->GetDataValue();
        return v.IsNull() ? 0 : std::max(0, v.AsInteger());
      }
      return n;
    }
    default: return 0;
  }
}

// ----- cast -------------------------------------------------------------------------------------------

TNRDExprNodeCast::TNRDExprNodeCast(TNRDExprNodePtr node, TNRDAdvancedFieldType castType, TNRDExprNodePtr castSizeNode)
    : TNRDExprNode(doCAST, false, false), FCastType(castType) {
  if (node) AddChild(std::move(node));
  if (castSizeNode) AddChild(std::move(castSizeNode));
}

TNRDExprNodePtr TNRDExprNodeCast::Clone() const {
  return CloneInto(std::make_unique<TNRDExprNodeCast>(nullptr, FCastType, nullptr));
}

TNRDVariant& TNRDExprNodeCast::GetDataValue() {
  TNRDVariant v;
  v.Assign(Child(0)->GetDataValue(), true);
  const TNRDBaseFieldType target = AdvancedToBaseFieldType(FCastType);
  auto castError = [&]() {
    return ENRDException(30051, "Cannot cast from '%s' to '%s'",
                         {BaseFieldTypeToSQLName(v.DataType()), AdvancedFieldTypeToSQLName(FCastType)});
  };
  // The value layer narrows integers by wrapping (70000 as SMALLINT would read 4464); a value
  // that the target cannot hold is a failed conversion instead.
  std::int64_t lo = 0, hi = 0;
  if (!v.IsNull() && target != bftSignedInt64 && IntegerRange(target, lo, hi)) {
    TNRDVariant wide;
    wide.Assign(v, true);
    try {
      wide.Cast(bftSignedInt64);
    } catch (const ENRDException&) {
      throw;
    } catch (const Exception&) {
      throw castError();
    }
    const std::int64_t x = wide.AsInt64();
    if (x < lo || x > hi) throw castError();
  }
  try {
    v.Cast(target);
  } catch (const ENRDException&) {
    throw;
  } catch (const Exception&) {
    throw castError();
  }
  if (!v.IsNull() && (IsStringAft(FCastType) || FCastType == aftGuid)) {
    std::int64_t size = 4096;
    if (HasSizeNode()) {
      TNRDVariant& s = Child(1)->GetDataValue();
      size = s.IsNull() ? 0 : s.AsInt64();
    }
    if (size < 0) size = 0;
    if (v.IsWideStringDataType()) {
      std::u16string t = v.AsWideString();
      if (static_cast<std::int64_t>(t.size()) > size) {
        t.resize(static_cast<std::size_t>(size));
        v.Clear(target);
        v.SetAsWideString(t);
      }
    } else {
      std::string t = v.AsAnsiString();
      if (static_cast<std::int64_t>(t.size()) > size) {
        t.resize(static_cast<std::size_t>(size));
        v.Clear(target);
        v.SetAsAnsiString(t);
      }
    }
  }
  Value.Assign(v, true);
  return Value;
}

std::int32_t TNRDExprNodeCast::GetDataSize() {
  if (HasSizeNode()) {
    TNRDVariant& s = Child(1)->GetDataValue();
    return s.IsNull() ? 0 : s.AsInteger();
  }
  if (!IsStringAft(FCastType) && FCastType != aftGuid) return 0;
  const TNRDAdvancedFieldType t = Child(0)->GetDataType();
  switch (t) {
    case aftChar: case aftString: case aftWideChar: case aftWideString: case aftBytes: case aftVarBytes:
    case aftBlob: case aftGraphic: return Child(0)->GetDataSize();
    case aftShortint: case aftAutoIncShortint: return 4;
    case aftSmallint: case aftAutoIncSmallint: return 6;
    case aftInteger: case aftAutoInc: case aftAutoIncInteger: return 11;
    case aftLargeint: case aftAutoIncLargeint: return 20;
    case aftByte: case aftAutoIncByte: return 3;
    case aftWord: case aftAutoIncWord: return 5;
    case aftCardinal: case aftAutoIncCardinal: return 10;
    case aftSingle: case aftDouble: case aftExtended: case aftDate: case aftTime: case aftDateTime:
    case aftTimeStamp: return 26;
    case aftBoolean: return 5;
    case aftCurrency: return 21;
    case aftMemo: case aftFormattedMemo: case aftWideMemo: return 4096;
    case aftGuid: return 38;
    default: throw ENRDException(30466, "Unsupported data type '%s'", {AdvancedFieldTypeToSQLName(t)});
  }
}

// ----- case -------------------------------------------------------------------------------------------

std::unique_ptr<TNRDExprNodeCase> TNRDExprNodeCase::CreateSimpleCase(TNRDExprNodePtr inputExpression) {
  std::unique_ptr<TNRDExprNodeCase> c(new TNRDExprNodeCase());
  c->FInputExpression = static_cast<std::int32_t>(c->Children.size());
  c->AddChild(std::move(inputExpression));
  return c;
}

std::unique_ptr<TNRDExprNodeCase> TNRDExprNodeCase::CreateSearchedCase() {
  return std::unique_ptr<TNRDExprNodeCase>(new TNRDExprNodeCase());
}

std::unique_ptr<TNRDExprNodeCase> TNRDExprNodeCase::CreateCoalesce(std::vector<TNRDExprNodePtr> nodes) {
  std::unique_ptr<TNRDExprNodeCase> c(new TNRDExprNodeCase());
  c->FIsCoalesceExpression = true;
  for (auto& n : nodes) {
    c->FCoalesceNodes.push_back(c->Children.size());
    c->AddChild(std::move(n));
  }
  return c;
}

TNRDExprNodePtr TNRDExprNodeCase::Clone() const {
  std::unique_ptr<TNRDExprNodeCase> c(new TNRDExprNodeCase());
  c->FWhenExpressions = FWhenExpressions;
  c->FResultExpressions = FResultExpressions;
  c->FCoalesceNodes = FCoalesceNodes;
  c->FElseResultExpression = FElseResultExpression;
  c->FInputExpression = FInputExpression;
  c->FIsCoalesceExpression = FIsCoalesceExpression;
  return CloneInto(std::move(c));
}

void TNRDExprNodeCase::AddWhenExpression(TNRDExprNodePtr node) {
  FWhenExpressions.push_back(Children.size());
  AddChild(std::move(node));
}

void TNRDExprNodeCase::AddResultExpression(TNRDExprNodePtr node) {
  FResultExpressions.push_back(Children.size());
  AddChild(std::move(node));
}

void TNRDExprNodeCase::SetElseResultExpression(TNRDExprNodePtr node) {
  FElseResultExpression = static_cast<std::int32_t>(Children.size());
  AddChild(std::move(node));
}

TNRDVariant& TNRDExprNodeCase::GetDataValue() {
  Value.Clear(bftUnknown);
  if (FIsCoalesceExpression) {
    for (std::size_t i : FCoalesceNodes) {
      TNRDVariant& v = Child(i)->GetDataValue();
      if (!v.IsNull()) {
        Value.Assign(v, true);
        return Value;
      }
    }
    return Value;
  }
  const std::size_t n = std::min(FWhenExpressions.size(), FResultExpressions.size());
  if (FInputExpression >= 0) {
    TNRDVariant input;
    input.Assign(Child(static_cast<std::size_t>(FInputExpression))->GetDataValue(), true);
    for (std::size_t i = 0; i < n; ++i) {
      if (input.Compare(Child(FWhenExpressions[i])->GetDataValue(), false, true, false) == cmprEqual) {
        Value.Assign(Child(FResultExpressions[i])->GetDataValue(), true);
        return Value;
      }
    }
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      TNRDVariant& w = Child(FWhenExpressions[i])->GetDataValue();
      // An unknown condition is not true.
      if (!w.IsNull() && w.AsBoolean()) {
        Value.Assign(Child(FResultExpressions[i])->GetDataValue(), true);
        return Value;
      }
    }
  }
  if (FElseResultExpression >= 0) Value.Assign(Child(static_cast<std::size_t>(FElseResultExpression))->GetDataValue(), true);
  return Value;
}

TNRDAdvancedFieldType TNRDExprNodeCase::GetDataType() {
  const std::vector<std::size_t>& list = FIsCoalesceExpression ? FCoalesceNodes : FResultExpressions;
  TNRDAdvancedFieldType t = aftUnknown;
  bool first = true;
  for (std::size_t i : list) {
    t = first ? Child(i)->GetDataType() : GetResultAdvancedDataType(t, Child(i)->GetDataType(), false);
    first = false;
  }
  if (!FIsCoalesceExpression && FElseResultExpression >= 0) {
    const TNRDAdvancedFieldType e = Child(static_cast<std::size_t>(FElseResultExpression))->GetDataType();
    t = first ? e : GetResultAdvancedDataType(t, e, false);
  }
  return t;
}

void TNRDExprNodeCase::CastChildTo(std::size_t i, TNRDAdvancedFieldType type) {
  if (Children[i]->GetDataType() != type && NodeAs<TNRDExprNodeCast>(Child(i)) == nullptr)
    Children[i] = std::make_unique<TNRDExprNodeCast>(std::move(Children[i]), type, nullptr);
}

std::int32_t TNRDExprNodeCase::GetDataSize() {
  const TNRDAdvancedFieldType t = GetDataType();
  std::vector<std::size_t> list = FIsCoalesceExpression ? FCoalesceNodes : FResultExpressions;
  if (!FIsCoalesceExpression && FElseResultExpression >= 0) list.push_back(static_cast<std::size_t>(FElseResultExpression));
  std::int32_t n = 0;
  for (std::size_t i : list) {
    CastChildTo(i, t);
    n = std::max(n, Child(i)->GetDataSize());
  }
  return n;
}

// ----- BLOB -------------------------------------------------------------------------------------------

TNRDExprNodeBlob::TNRDExprNodeBlob(TNRDExprNodePtr node) : TNRDExprNode(doMIMETOBIN, false, false) {
  if (node) AddChild(std::move(node));
}

TNRDExprNodePtr TNRDExprNodeBlob::Clone() const { return CloneInto(std::make_unique<TNRDExprNodeBlob>(nullptr)); }

TNRDVariant& TNRDExprNodeBlob::GetDataValue() {
  const std::string text = Child(0)->GetDataValue().AsAnsiString();
  std::string bytes;
  try {
    bytes = TStringFormat_MIME64::Class()->ToStr(text.data(), static_cast<int>(text.size()));
  } catch (const ENRDException&) {
    throw;
  } catch (const Exception&) {
    throw ENRDException(30514, "Argument out of range in function '%s'", {std::string("MIMETOBIN")});
  }
  Value.Clear(bftBlob);
  if (!bytes.empty()) Value.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size()), bftBlob, true);
  return Value;
}

// ----- date functions ---------------------------------------------------------------------------------

TNRDExprNodeDateFunction::TNRDExprNodeDateFunction(TNRDDataOperator op, TNRDExprNodePtr node,
                                                   const std::string* formatStr)
    : TNRDExprNode(op, false, false) {
  if (node) AddChild(std::move(node));
  if (formatStr != nullptr) {
    FFormat = *formatStr;
    DateFormater = std::make_unique<TDateFormater>(FFormat);
  }
}

TNRDExprNodeDateFunction::TNRDExprNodeDateFunction(TNRDExprNodePtr extractSource, TNRDDateTimeExtractField field)
    : TNRDExprNode(doEXTRACT, false, false), ExtractDateTimeField(field) {
  if (extractSource) AddChild(std::move(extractSource));
}

TNRDExprNodePtr TNRDExprNodeDateFunction::Clone() const {
  auto c = std::make_unique<TNRDExprNodeDateFunction>(Operator, nullptr, DateFormater ? &FFormat : nullptr);
  c->ExtractDateTimeField = ExtractDateTimeField;
  return CloneInto(std::move(c));
}

TNRDVariant& TNRDExprNodeDateFunction::GetDataValue() {
  switch (Operator) {
    case doSYSDATE:
      Value.Clear(bftDateTime);
      Value.SetAsTDateTime(Now());
      return Value;
    case doCURRENT_DATE:
      Value.Clear(bftDate);
      Value.SetAsTDate(std::floor(Now()));
      return Value;
    case doCURRENT_TIME: {
      Value.Clear(bftTime);
      const TDateTime n = Now();
      Value.SetAsTTime(n - std::floor(n));
      return Value;
    }
    case doTODATE: {
      TNRDVariant& v = Child(0)->GetDataValue();
      Value.Clear(bftDateTime);
      if (v.IsNull()) return Value;
      const TDateTime d = DateFormater->ToDate(v.AsAnsiString());
      Value.SetAsTDateTime(d);
      if (d == 0) {
        // Midnight of day 0 is both "no date part" and "no time part": the format decides. Cast
        // in turn (to time, then to date) it would become day number 0, which is no date at all.
        const TNRDAdvancedFieldType t = DateFormater->GetDataType();
        if (t == aftDate) Value.Cast(bftDate);
        else if (t == aftTime) Value.Cast(bftTime);
        return Value;
      }
      if (std::trunc(d) == 0) Value.Cast(bftTime);
      if (d - std::trunc(d) == 0) Value.Cast(bftDate);
      return Value;
    }
    case doTOSTRING: {
      TNRDVariant& v = Child(0)->GetDataValue();
      Value.Clear(bftVarchar);
      if (v.IsNull()) return Value;
      Value.SetAsAnsiString(DateFormater->ToString(v.AsTDateTime()));
      return Value;
    }
    case doEXTRACT: {
      TNRDVariant& v = Child(0)->GetDataValue();
      Value.Clear(bftUnsignedInt16);
      if (v.IsNull()) return Value;
      int part = 0;
      if (ExtractDateTimeField <= dtefDay) {
        int y = 0, m = 0, d = 0;
        if (!TryDecodeDate(v.AsTDate(), y, m, d)) OutOfDomain("EXTRACT");
        part = ExtractDateTimeField == dtefYear ? y : ExtractDateTimeField == dtefMonth ? m : d;
      } else {
        int h = 0, n = 0, s = 0, ms = 0;
        DecodeTime(v.AsTTime(), h, n, s, ms);
        part = ExtractDateTimeField == dtefHour ? h : ExtractDateTimeField == dtefMinute ? n : s;
      }
      Value.SetAsWord(static_cast<std::uint16_t>(part));
      return Value;
    }
    default: throw ENRDException(30130, "Unknown operator: '%s'", {OperatorText(Operator)});
  }
}

TNRDAdvancedFieldType TNRDExprNodeDateFunction::GetDataType() {
  switch (Operator) {
    case doSYSDATE: return aftDateTime;
    case doCURRENT_DATE: return aftDate;
    case doCURRENT_TIME: return aftTime;
    case doTODATE: return DateFormater->GetDataType();
    case doTOSTRING: return aftString;
    case doEXTRACT: return aftWord;
    default: throw ENRDException(30287, "Unknown operator: '%s'", {OperatorText(Operator)});
  }
}

std::int32_t TNRDExprNodeDateFunction::GetDataSize() {
  return Operator == doTOSTRING ? DateFormater->GetStringMaxSize() : 0;
}

// ----- aggregates -------------------------------------------------------------------------------------

TNRDExprNodeAggregated::TNRDExprNodeAggregated(TNRDDataOperator op, bool distinct_, TNRDExprNodePtr node)
    : TNRDExprNode(op, false, false), distinct(distinct_) {
  if (node) AddChild(std::move(node));
}

TNRDExprNodeAggregated::~TNRDExprNodeAggregated() = default;

TNRDExprNodePtr TNRDExprNodeAggregated::Clone() const {
  return CloneInto(std::make_unique<TNRDExprNodeAggregated>(Operator, distinct, nullptr));
}

void TNRDExprNodeAggregated::Init() {
  count = 0;
  Value.Clear(bftUnknown);
  AvgSum.Clear(bftUnknown);
  FSeen.clear();
}

void TNRDExprNodeAggregated::SwapGroupState(TGroupState& state) {
  std::swap(count, state.count);
  std::swap(Value, state.value);
  std::swap(AvgSum, state.avgSum);
  FSeen.swap(state.seen);
}

void TNRDExprNodeAggregated::Collect(TNRDExprNode* node, std::vector<TNRDExprNodeAggregated*>& out) {
  if (node == nullptr) return;
  if (auto* aggregate = NodeAs<TNRDExprNodeAggregated>(node)) {
    if (std::find(out.begin(), out.end(), aggregate) == out.end()) out.push_back(aggregate);
    return;
  }
  for (auto& c : node->Children) Collect(c.get(), out);
}

bool TNRDExprNodeAggregated::SeenBefore(const TNRDVariant& v) {
  for (const auto& s : FSeen)
    if (s->Compare(v, false, false, false) == cmprEqual) return true;
  FSeen.push_back(std::make_unique<TNRDVariant>());
  FSeen.back()->Assign(v, true);
  return false;
}

void TNRDExprNodeAggregated::Accumulate() {
  TNRDVariant none;
  TNRDVariant& v = Children.empty() ? none : Child(0)->GetDataValue();
  switch (Operator) {
    case doSUM:
      if (v.IsNull()) return;
      if (!v.IsNumericDataType())
        throw ENRDException(30132, "Not numeric argument in numeric operator '%s'", {std::string("SUM")});
      if (distinct && SeenBefore(v)) return;
      if (Value.IsNull()) {
        // Integer sums are carried in 64 bits, as their column type says.
        Value.Assign(v, true);
        if (IsIntegerBaseFieldType(Value.DataType())) Value.Cast(bftSignedInt64);
      } else if (!AddToInt64Sum(v)) {
        CheckedArithmetic(Value, v, doADD);
      }
      return;
    case doAVG:
      if (v.IsNull()) return;
      if (!v.IsNumericDataType())
        throw ENRDException(30133, "Not numeric argument in numeric operator '%s'", {std::string("AVG")});
      if (distinct && SeenBefore(v)) return;
      if (AvgSum.IsNull()) {
        AvgSum.Assign(v, true);
        if (AvgSum.DataType() != bftDouble) AvgSum.Cast(bftDouble);
      } else {
        CheckedArithmetic(AvgSum, v, doADD);
      }
      ++count;
      return;
    case doMIN:
      if (v.IsNull()) return;
      if (Value.IsNull() || v.Compare(Value, true, true, false) == cmprLower) Value.Assign(v, true);
      return;
    case doMAX:
      if (v.IsNull()) return;
      if (Value.IsNull() || v.Compare(Value, true, true, false) == cmprGreater) Value.Assign(v, true);
      return;
    case doCOUNT:
      if (v.IsNull()) return;
      if (distinct && SeenBefore(v)) return;
      ++count;
      return;
    case doCOUNTALL: ++count; return;
    default: throw ENRDException(30134, "Unknown operator: '%s'", {OperatorText(Operator)});
  }
}

// An integer added to a 64-bit integer sum in place: the same result and the same overflow
// error as the general addition, without its conversions. False when the pair is not that case.
bool TNRDExprNodeAggregated::AddToInt64Sum(const TNRDVariant& v) {
  if (Value.DataType() != bftSignedInt64 || Value.IsDataLinked() || Value.DataSize() != 8) return false;
  if (GetResultDataType(bftSignedInt64, v.DataType(), false) != bftSignedInt64) return false;
  std::int64_t sum = 0, term = 0;
  if (!ReadStoredInteger(Value, sum) || !ReadStoredInteger(v, term)) return false;
  if (__builtin_add_overflow(sum, term, &sum)) Overflow(doADD);
  Value.SetAsInt64(sum);
  return true;
}

TNRDVariant& TNRDExprNodeAggregated::GetDataValue() {
  switch (Operator) {
    case doAVG: {
      // The sum is kept, so the average can be read more than once per group.
      Value.Clear(bftDouble);
      if (count == 0 || AvgSum.IsNull()) return Value;
      Value.SetAsDouble(AvgSum.AsDouble() / static_cast<double>(count));
      return Value;
    }
    case doCOUNT:
    case doCOUNTALL:
      if (count > INT32_MAX) Overflow(Operator);
      Value.Clear(bftSignedInt32);
      Value.SetAsInteger(static_cast<std::int32_t>(count));
      return Value;
    default: return Value;
  }
}

TNRDAdvancedFieldType TNRDExprNodeAggregated::GetDataType() {
  switch (Operator) {
    case doSUM: {
      const TNRDAdvancedFieldType t = Child(0)->GetDataType();
      return t == aftSingle || t == aftDouble || t == aftExtended || t == aftCurrency ? t : aftLargeint;
    }
    case doAVG: return aftDouble;
    case doMIN:
    case doMAX: return Child(0)->GetDataType();
    default: return aftInteger;
  }
}

std::int32_t TNRDExprNodeAggregated::GetDataSize() {
  if (Operator == doMIN || Operator == doMAX) return Child(0)->GetDataSize();
  return TNRDExprNode::GetDataSize();
}

// ----- subquery ---------------------------------------------------------------------------------------

TNRDExprNodeSubquery::TNRDExprNodeSubquery(bool mustHaveOneField, bool mustHaveOneRow, TNRDLexer* lexer)
    : TNRDExprNode(doUNDEFINED, false, false),
      FMustHaveOneField(mustHaveOneField),
      FMustHaveOneRow(mustHaveOneRow),
      LLexer(lexer) {
  if (lexer == nullptr) return;  // a copy: the caller fills the positions
  TNRDSubqueryRunner* runner = GetSubqueryRunner();
  if (runner == nullptr) throw ENRDException(30512, "'%s' is not available in this expression", {std::string("SELECT")});
  FCommandNo = lexer->CurrentCommandNo();
  FTokenNo = lexer->GetCurrentTokenNo();
  runner->Skip(*lexer);
  const std::int32_t after = lexer->GetCurrentTokenNo();
  FCorrelated = !runner->IsUncorrelated(*lexer, FCommandNo, FTokenNo);
  lexer->SetCurrentCommandNo(FCommandNo);
  lexer->SetCurrentTokenNo(after);
}

TNRDExprNodePtr TNRDExprNodeSubquery::Clone() const {
  auto c = std::make_unique<TNRDExprNodeSubquery>(FMustHaveOneField, FMustHaveOneRow, nullptr);
  c->LLexer = LLexer;
  c->LCursor = LCursor;
  c->LCursorRecordBuffer = LCursorRecordBuffer;
  c->FCommandNo = FCommandNo;
  c->FTokenNo = FTokenNo;
  c->FCorrelated = FCorrelated;
  c->LAO = LAO;
  return CloneInto(std::move(c));
}

TNRDSubqueryResult& TNRDExprNodeSubquery::Run() {
  if (FCorrelated || !FResult) {
    TNRDSubqueryRunner* runner = GetSubqueryRunner();
    if (runner == nullptr || LLexer == nullptr)
      throw ENRDException(30512, "'%s' is not available in this expression", {std::string("SELECT")});
    void* outer = LCursorRecordBuffer;
    if (outer == nullptr && LCursor != nullptr) outer = LCursor->CurrentRecordBuffer();
    std::unique_ptr<TNRDSubqueryResult> r = runner->ExecuteInAO(*LLexer, FCommandNo, FTokenNo, LCursor, outer, LAO);
    if (FMustHaveOneField && r->FieldCount() != 1)
      throw ENRDException(20246, "Subquery must have only one result field, but subquery's FieldCount=%d",
                          {r->FieldCount()});
    if (FMustHaveOneRow && r->RowCount() == 0)
      throw ENRDException(20249, "Subquery must have one row, but it contains 0 rows");
    if (FMustHaveOneRow && r->RowCount() > 1) throw ENRDException(20247, "Subquery must have only one row");
    FResult = std::move(r);
  }
  return *FResult;
}

TNRDVariant& TNRDExprNodeSubquery::GetDataValue() {
  TNRDSubqueryResult& r = Run();
  Value.Clear(bftUnknown);
  if (r.RowCount() > 0 && r.FieldCount() > 0) r.GetValue(0, 0, Value);
  return Value;
}

void TNRDExprNodeSubquery::ResetSubqueryFieldValues() {
  TNRDSubqueryResult& r = Run();
  FFieldValues.resize(static_cast<std::size_t>(std::max(0, r.FieldCount())));
  for (std::size_t i = 0; i < FFieldValues.size(); ++i) {
    if (!FFieldValues[i]) FFieldValues[i] = std::make_unique<TNRDVariant>();
    FFieldValues[i]->Clear(bftUnknown);
    if (r.RowCount() > 0) r.GetValue(0, static_cast<std::int32_t>(i), *FFieldValues[i]);
  }
}

TNRDVariant* TNRDExprNodeSubquery::GetSubqueryFieldValue(std::int32_t fieldNo) {
  if (fieldNo < 0 || static_cast<std::size_t>(fieldNo) >= FFieldValues.size()) return nullptr;
  return FFieldValues[static_cast<std::size_t>(fieldNo)].get();
}

void TNRDExprNodeSubquery::AssignCursor(TNRDCursor* cursor, void*, TNRDCursor*) {
  LCursor = cursor;
  LCursorRecordBuffer = nullptr;
}

void TNRDExprNodeSubquery::AssignCursorBuffer(void* buffer, bool) { LCursorRecordBuffer = buffer; }

void TNRDExprNodeSubquery::AssignAO(TNRDFieldAccess* ao, TNRDFieldAccess*) {
  LAO = ao;
  if (FCorrelated) FResult.reset();
}

// An uncorrelated SELECT runs anywhere; a correlated one needs the row of an operator.
bool TNRDExprNodeSubquery::CanBeAssigned(TNRDFieldAccess* ao, TNRDFieldAccess*) {
  return !FCorrelated || ao != nullptr;
}

TNRDAdvancedFieldType TNRDExprNodeSubquery::GetDataType() {
  TNRDSubqueryRunner* runner = GetSubqueryRunner();
  if (runner == nullptr || LLexer == nullptr) throw ENRDException(30283, "Cannot determine expression type");
  return runner->GetDataType(*LLexer, FCommandNo, FTokenNo);
}

std::int32_t TNRDExprNodeSubquery::GetDataSize() {
  TNRDSubqueryRunner* runner = GetSubqueryRunner();
  if (runner == nullptr || LLexer == nullptr) return 0;
  return runner->GetDataSize(*LLexer, FCommandNo, FTokenNo);
}

bool TNRDExprNodeSubquery::Exists() { return Run().RowCount() > 0; }

bool TNRDExprNodeSubquery::IsValueIn(const TNRDVariant& value) {
  if (!FCorrelated && FPriorResultInitialized && FResult &&
      FPriorValueToCheck.Compare(value, false, false, false) == cmprEqual)
    return FPriorResult;
  TNRDSubqueryResult& r = Run();
  bool found = false;
  if (!value.IsNull()) {
    TNRDVariant item;
    for (std::int64_t i = 0; i < r.RowCount() && !found; ++i) {
      r.GetValue(i, 0, item);
      found = !item.IsNull() && value.Compare(item, true, false, false) == cmprEqual;
    }
  }
  FPriorValueToCheck.Assign(value, true);
  FPriorResult = found;
  FPriorResultInitialized = true;
  return found;
}

bool TNRDExprNodeSubquery::QuantifiedCompare(TNRDDataOperator op, TNRDQuantifier quantifier,
                                             const TNRDVariant& value) {
  TNRDSubqueryResult& r = Run();
  // x op ALL over no rows holds for every x; x op ANY over no rows for none.
  if (r.RowCount() == 0) return quantifier == qALL;
  auto holds = [&](TNRDCompareResult c) {
    switch (op) {
      case doEQ: return c == cmprEqual;
      case doNE: return c == cmprLower || c == cmprGreater;
      case doGT: return c == cmprGreater;
      case doLT: return c == cmprLower;
      case doGE: return c == cmprGreater || c == cmprEqual;
      case doLE: return c == cmprLower || c == cmprEqual;
      default: return false;
    }
  };
  TNRDVariant item;
  for (std::int64_t i = 0; i < r.RowCount(); ++i) {
    r.GetValue(i, 0, item);
    const bool h = holds(value.Compare(item, false, false, false));
    if (quantifier == qANY && h) return true;
    if (quantifier == qALL && !h) return false;
  }
  return quantifier == qALL;
}

}  // namespace nrd::sql
