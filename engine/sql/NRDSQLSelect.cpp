// SELECT: parsing, the operator tree, execution and nested SELECTs.
#include "engine/sql/NRDSQLSelect.h"

#include <chrono>
#include <thread>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDNamedList.h"
#include "engine/sql/NRDSQLProcessor.h"

namespace nrd::sql {

namespace {

const TNRDSQLContext* gContext = nullptr;

bool IsNameToken(const TToken& t) {
  return t.TokenType == tktString || t.TokenType == tktQuotedString || t.TokenType == tktBracketedString ||
         t.TokenType == tktReservedWord || t.TokenType == tktParameter;
}

std::string NameOf(const TToken& t) {
  if (t.TokenType == tktParameter && t.ParamValue) return t.ParamValue->AsAnsiString();
  return t.Text;
}

[[noreturn]] void Unexpected(int code, const char* text, const TToken& t) {
  throw ENRDException(code, text, {t.Text, t.LineNum, t.ColumnNum});
}

[[noreturn]] void Expected(int code, const char* what, const TToken& t) {
  throw ENRDException(code, "Token '%s' expected, but '%s' found at line %d, column %d",
                      {std::string(what), t.Text, t.LineNum, t.ColumnNum});
}

// The field node of a plain column reference, or null.
TNRDExprNodeField* FieldNode(TNRDExprNode* n) { return NodeAs<TNRDExprNodeField>(n); }

std::unique_ptr<TNRDExpression> Wrap(TNRDExprNodePtr node) { return std::make_unique<TNRDExpression>(std::move(node)); }

bool Resolves(TNRDAO& ao, const TNRDExprNodeField& f) {
  return ao.FieldExists(f.FFieldName, f.FTableName, false, nullptr) > 0;
}

// Takes the column equalities between `left` and `right` out of `parts` as key pairs.
void ExtractJoinConditions(std::vector<TNRDExprNodePtr>& parts, TNRDAO& left, TNRDAO& right, TNRDFields& l,
                           TNRDFields& r) {
  for (auto it = parts.begin(); it != parts.end();) {
    auto* cmp = NodeAs<TNRDExprNodeComparison>(it->get());
    if (cmp != nullptr && cmp->Operator == doEQ && cmp->FQuantifier == qUNDEFINED && cmp->Children.size() == 2) {
      TNRDExprNodeField* a = FieldNode(cmp->Child(0));
      TNRDExprNodeField* b = FieldNode(cmp->Child(1));
      if (a != nullptr && b != nullptr) {
        const bool aL = Resolves(left, *a), aR = Resolves(right, *a), bL = Resolves(left, *b), bR = Resolves(right, *b);
        TNRDExprNodeField* lf = nullptr;
        TNRDExprNodeField* rf = nullptr;
        if (aL && !aR && bR && !bL) {
          lf = a;
          rf = b;
        } else if (bL && !bR && aR && !aL) {
          lf = b;
          rf = a;
        }
        if (lf != nullptr) {
          TNRDSelectListItem li, ri;
          li.TableName = lf->FTableName;
          li.FieldName = lf->FFieldName;
          ri.TableName = rf->FTableName;
          ri.FieldName = rf->FFieldName;
          l.Append(li);
          r.Append(ri);
          it = parts.erase(it);
          continue;
        }
      }
    }
    ++it;
  }
}

// Pushes a WHERE part down to a table leaf (through inner and cross joins) whose cursor can answer it.
bool PushToLeaf(TNRDAO& ao, std::unique_ptr<TNRDExpression>& part) {
  if (ao.FIsAOTable) {
    if (part->HasSubquery() || part->IsAggregated()) return false;
    // Only a part whose qualifiers name this table as the query names it goes down: the cursor
    // binds columns by name alone, and in a nested "FROM t t2", t.g is the enclosing query's.
    TNRDQualifierByAliasOnly byAlias;
    if (!part->CanBeAssigned(&ao, nullptr)) return false;
    static_cast<TNRDAOTable&>(ao).AddCursorFilter(std::move(part));
    return true;
  }
  auto* join = dynamic_cast<TNRDAOJoin*>(&ao);
  if (join == nullptr || join->IsOuterJoin()) return false;
  return (ao.FLeftAO && PushToLeaf(*ao.FLeftAO, part)) || (ao.FRightAO && PushToLeaf(*ao.FRightAO, part));
}

class TMemoryResult : public TNRDSubqueryResult {
 public:
  std::int32_t FieldCount() const override { return fields; }
  std::int64_t RowCount() const override { return static_cast<std::int64_t>(rows.size()); }
  void GetValue(std::int64_t row, std::int32_t field, TNRDVariant& value) const override {
    value.Assign(rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(field)], true);
  }
  std::int32_t fields = 0;
  std::vector<TNRDRow> rows;
};

// Keeps the lexer's place and puts it back.
struct LexerPlace {
  explicit LexerPlace(TNRDLexer& l) : lexer(l), command(l.CurrentCommandNo()), token(l.GetCurrentTokenNo()) {}
  ~LexerPlace() {
    lexer.SetCurrentCommandNo(command);
    lexer.SetCurrentTokenNo(token);
  }
  TNRDLexer& lexer;
  std::int32_t command, token;
};

class TSelectRunner : public TNRDSubqueryRunner {
 public:
  void Skip(TNRDLexer& lexer) override { TNRDSQLUnion skipped(lexer); }
  bool IsUncorrelated(TNRDLexer& lexer, std::int32_t commandNo, std::int32_t tokenNo) override {
    if (gContext == nullptr) return false;
    LexerPlace place(lexer);
    // A qualifier that names an aliased inner table by its own name may mean an enclosing table.
    TNRDQualifierByAliasOnly byAlias;
    try {
      lexer.SetCurrentCommandNo(commandNo);
      lexer.SetCurrentTokenNo(tokenNo);
      TNRDSQLUnion u(lexer);
      std::unique_ptr<TNRDAO> tree = u.BuildAOTree(*gContext, true, nullptr, nullptr, true);
      return u.AllConditionsApplied();
    } catch (const std::exception&) {
      return false;
    }
  }
  std::unique_ptr<TNRDSubqueryResult> Execute(TNRDLexer& lexer, std::int32_t commandNo, std::int32_t tokenNo,
                                              TNRDCursor* outerCursor, void* outerRecord) override {
    return ExecuteInAO(lexer, commandNo, tokenNo, outerCursor, outerRecord, nullptr);
  }
  std::unique_ptr<TNRDSubqueryResult> ExecuteInAO(TNRDLexer& lexer, std::int32_t commandNo, std::int32_t tokenNo,
                                                  TNRDCursor* outerCursor, void*, void* outerAO) override {
    if (gContext == nullptr) throw ENRDException(30512, "'%s' is not available in this expression", {std::string("SELECT")});
    std::unique_ptr<TNRDSQLUnion> u;
    {
      LexerPlace place(lexer);
      lexer.SetCurrentCommandNo(commandNo);
      lexer.SetCurrentTokenNo(tokenNo);
      u = std::make_unique<TNRDSQLUnion>(lexer);
    }
    auto* parent = dynamic_cast<TNRDAO*>(static_cast<TNRDFieldAccess*>(outerAO));
    u->ExecSQL(*gContext, parent, outerCursor);
    auto result = std::make_unique<TMemoryResult>();
    TNRDTable* t = u->GetResultDataset();
    result->fields = t->FieldCount();
    for (t->First(); !t->Eof(); t->Next()) {
      TNRDRow row(static_cast<std::size_t>(result->fields));
      for (std::int32_t i = 0; i < result->fields; ++i) t->GetFieldValue(t->Fields(i), row[static_cast<std::size_t>(i)]);
      result->rows.push_back(std::move(row));
    }
    return result;
  }
  TNRDAdvancedFieldType GetDataType(TNRDLexer& lexer, std::int32_t commandNo, std::int32_t tokenNo) override {
    std::unique_ptr<TNRDSQLUnion> u;
    std::unique_ptr<TNRDAO> tree = Build(lexer, commandNo, tokenNo, u);
    const std::vector<std::int32_t> out = tree->OutputLinks();
    if (out.empty()) throw ENRDException(30283, "Cannot determine expression type");
    return tree->GetFieldType(out.front());
  }
  std::int32_t GetDataSize(TNRDLexer& lexer, std::int32_t commandNo, std::int32_t tokenNo) override {
    std::unique_ptr<TNRDSQLUnion> u;
    try {
      std::unique_ptr<TNRDAO> tree = Build(lexer, commandNo, tokenNo, u);
      const std::vector<std::int32_t> out = tree->OutputLinks();
      return out.empty() ? 0 : tree->GetFieldSize(out.front());
    } catch (const std::exception&) {
      return 0;
    }
  }

 private:
  std::unique_ptr<TNRDAO> Build(TNRDLexer& lexer, std::int32_t commandNo, std::int32_t tokenNo,
                                std::unique_ptr<TNRDSQLUnion>& u) {
    if (gContext == nullptr) throw ENRDException(30283, "Cannot determine expression type");
    LexerPlace place(lexer);
    lexer.SetCurrentCommandNo(commandNo);
    lexer.SetCurrentTokenNo(tokenNo);
    u = std::make_unique<TNRDSQLUnion>(lexer);
    return u->BuildAOTree(*gContext, true, nullptr, nullptr, true);
  }
};

TSelectRunner gRunner;

}  // namespace

// ----- context ------------------------------------------------------------------------------------------

TNRDSQLContextScope::TNRDSQLContextScope(const TNRDSQLContext& context)
    : FPrevious(gContext), FPreviousRunner(GetSubqueryRunner()) {
  gContext = &context;
  SetSubqueryRunner(&gRunner);
}

TNRDSQLContextScope::~TNRDSQLContextScope() {
  gContext = FPrevious;
  SetSubqueryRunner(FPreviousRunner);
}

// ----- table references ------------------------------------------------------------------------------

void TNRDTableReference::MakeJoin(std::unique_ptr<TNRDTableReference> rightNode, TNRDJoinType jType, bool isNatural,
                                  std::vector<std::string> fields, std::unique_ptr<TNRDExpression> onCondition) {
  auto left = std::make_unique<TNRDTableReference>();
  left->TableType = TableType;
  left->DatabaseName = DatabaseName;
  left->TableName = TableName;
  left->Pseudonym = Pseudonym;
  left->Password = Password;
  left->InMemory = InMemory;
  left->NaturalJoin = NaturalJoin;
  left->JoinType = JoinType;
  left->LeftTable = std::move(LeftTable);
  left->RightTable = std::move(RightTable);
  left->UsingFields = std::move(UsingFields);
  left->SearchCondition = std::move(SearchCondition);
  left->SubQuery = std::move(SubQuery);
  TableType = attJoinedTable;
  DatabaseName.clear();
  TableName.clear();
  Pseudonym.clear();
  Password.clear();
  LeftTable = std::move(left);
  RightTable = std::move(rightNode);
  JoinType = jType;
  NaturalJoin = isNatural;
  UsingFields = std::move(fields);
  SearchCondition = std::move(onCondition);
}

// ----- the statement base ------------------------------------------------------------------------------

TNRDSQLCursorCommand::~TNRDSQLCursorCommand() = default;

TToken TNRDSQLCursorCommand::Current() const {
  TToken t;
  LLex->GetCurrentToken(t);
  return t;
}

void TNRDSQLCursorCommand::Advance() {
  TToken t;
  LLex->GetNextToken(t);
}

bool TNRDSQLCursorCommand::IsAt(TReservedWord w) const {
  const TToken t = Current();
  return t.TokenType == tktReservedWord && t.ReservedWord == w;
}

TNRDTable* TNRDSQLCursorCommand::GetResultDataset() { return RootAO ? RootAO->FResultDataset.get() : nullptr; }

TNRDCursor* TNRDSQLCursorCommand::GetResultCursor() {
  TNRDTable* t = GetResultDataset();
  return t != nullptr ? t->Cursor() : nullptr;
}

void TNRDSQLCursorCommand::ParseOrderBy() {
  if (!IsAt(rwORDER)) return;
  Advance();
  if (!IsAt(rwBY)) Expected(30188, "BY", Current());
  Advance();
  while (true) {
    TToken t = Current();
    if (t.TokenType != tktString && t.TokenType != tktQuotedString && t.TokenType != tktBracketedString &&
        t.TokenType != tktInt && t.TokenType != tktReservedWord && t.TokenType != tktParameter)
      Unexpected(30187, "Field name expected, but '%s' found at line %d, column %d", t);
    TNRDSortSpecification sortItem;
    sortItem.ColumnName = NameOf(t);
    Advance();
    if (Current().TokenType == tktDot) {
      Advance();
      t = Current();
      if (!IsNameToken(t) || t.TokenType == tktInt) Unexpected(30186, "Unexpected token '%s' found at line %d, column %d", t);
      sortItem.TableName = sortItem.ColumnName;
      sortItem.ColumnName = NameOf(t);
      Advance();
    }
    if (IsAt(rwASC)) {
      Advance();
    } else if (IsAt(rwDESC)) {
      sortItem.Descending = true;
      Advance();
    }
    OrderBySpecs.push_back(sortItem);
    if (Current().TokenType != tktComma) break;
    Advance();
    t = Current();
    if (!IsNameToken(t) && t.TokenType != tktInt) Unexpected(30189, "Unexpected token '%s' found at line %d, column %d", t);
  }
}

void TNRDSQLCursorCommand::ApplyOrderBy(TNRDAO& ao) {
  if (OrderBySpecs.empty()) return;
  std::string fields, desc;
  for (const TNRDSortSpecification& sortItem : OrderBySpecs) {
    std::string column = sortItem.ColumnName;
    if (sortItem.TableName.empty()) {
      char* end = nullptr;
      const long n = std::strtol(column.c_str(), &end, 10);
      if (!column.empty() && end != nullptr && *end == '\0' && n != -1)
        column = ao.GetFieldNameByVisibleNumber(static_cast<std::int32_t>(n - 1));
    }
    std::vector<std::int32_t> found;
    if (ao.FieldExists(column, sortItem.TableName, !ao.FIsAOGroupBy, &found) == 0 || found.empty())
      throw ENRDException(30195, "Column '%s' from ORDER BY clause not found", {column});
    const std::string name = ao.GetFieldName(found.front(), true);
    fields += (fields.empty() ? "" : ";") + name;
    if (sortItem.Descending) desc += (desc.empty() ? "" : ";") + name;
  }
  ao.SetIndex(fields, desc, "");
}

void TNRDSQLCursorCommand::ExecSQL(const TNRDSQLContext& context, TNRDAO* parentQueryAO, TNRDCursor* parentCursor) {
  TNRDSQLContextScope scope(context);
  RowsAffected = 0;
  RootAO.reset();
  RootAO = BuildAOTree(context, false, parentQueryAO, parentCursor, false);
  if (!IntoTable.empty())
    RootAO->SetResultTable(IntoMemory || context.InMemory, IntoImmediate, IntoTable,
                           IntoMemory ? std::string("MEMORY") : (IntoDatabase.empty() ? context.DatabaseName : IntoDatabase));
  if (!RootAO->OpenTables()) throw ENRDException(20225, "Table is locked");
  bool locked = false;
  for (int i = 0; i < 900 && !locked; ++i) {
    locked = RootAO->LockTables();
    if (!locked) {
      if (!RootAO->UnlockTables()) throw ENRDException(20226, "Cannot unlock table");
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  if (!locked) throw ENRDException(20225, "Table is locked");
  try {
    RootAO->Execute(true, parentQueryAO, parentCursor);
  } catch (...) {
    RootAO->UnlockTables();
    throw;
  }
  if (!RootAO->UnlockTables()) throw ENRDException(20227, "Cannot unlock table");
}

// ----- SELECT ----------------------------------------------------------------------------------------------

TNRDSQLSelect::TNRDSQLSelect(TNRDLexer& lexer, TNRDDataSet* query) : TNRDSQLCursorCommand(lexer, query) { Parse(); }

void TNRDSQLSelect::Parse() {
  TToken t = Current();
  if (t.TokenType == tktNone) throw ENRDException(30155, "Blank SQL command");
  if (!IsAt(rwSELECT)) Unexpected(30156, "SQL token expected, but '%s' found at line %d, column %d", t);
  Advance();
  if (IsAt(rwALL)) {
    Advance();
  } else if (IsAt(rwDISTINCT)) {
    Distinct = true;
    Advance();
  }
  if (IsAt(rwTOP)) {
    Advance();
    auto integer = [&](int code) {
      const TToken n = Current();
      if (n.TokenType == tktInt) {
        Advance();
        return std::stoi(n.Text);
      }
      if (n.TokenType == tktParameter && n.ParamValue) {
        Advance();
        return static_cast<int>(n.ParamValue->AsInteger());
      }
      Unexpected(code, "Integer expected, but '%s' found at line %d, column %d", n);
    };
    TopRowCount = integer(30158);
    if (Current().TokenType == tktComma) {
      Advance();
      FirstRowNo = integer(30159);
    }
  }
  // Select list.
  t = Current();
  if (t.TokenType == tktString && t.Text == "*") {
    AllFields = true;
    Advance();
  } else {
    while (true) {
      TNRDSelectListItem item;
      t = Current();
      TToken dot, star;
      LLex->LookNextToken(dot);
      const std::int32_t here = LLex->GetCurrentTokenNo();
      bool tableStar = false;
      if (IsNameToken(t) && dot.TokenType == tktDot) {
        LLex->SetCurrentTokenNo(here + 2);
        LLex->GetCurrentToken(star);
        if (star.TokenType == tktString && star.Text == "*") {
          tableStar = true;
          item.TableName = t.Text;
          item.FieldName = "*";
          item.AllFields = true;
          Advance();
        } else {
          LLex->SetCurrentTokenNo(here);
        }
      }
      if (!tableStar) {
        auto e = std::make_shared<TNRDExpression>();
        e->ParseForValueExpression(LLex);
        if (e->IsEmpty()) Unexpected(30160, "Expression expected, but '%s' found at line %d, column %d", Current());
        if (e->IsField()) {
          e->GetFieldInfo(item.TableName, item.FieldName);
        } else {
          item.IsExpression = true;
          item.ValueExpr = e;
        }
      }
      if (IsAt(rwAS)) {
        Advance();
        t = Current();
        if (t.TokenType != tktString && t.TokenType != tktQuotedString && t.TokenType != tktBracketedString)
          Unexpected(30162, "Field pseudonym expected, but '%s' found at line %d, column %d", t);
        item.Pseudonym = t.Text;
        Advance();
      } else {
        t = Current();
        if ((t.TokenType == tktString && t.Text != "*" && t.Text != "," && !t.Text.empty() &&
             (std::isalpha(static_cast<unsigned char>(t.Text[0])) || t.Text[0] == '_')) ||
            t.TokenType == tktQuotedString || t.TokenType == tktBracketedString) {
          item.Pseudonym = t.Text;
          Advance();
        }
      }
      if (!item.IsExpression && !item.AllFields) {
        for (const TNRDSelectListItem& prior : SelectList)
          if (!prior.IsExpression && !prior.AllFields && SameText(prior.TableName, item.TableName) &&
              SameText(prior.FieldName, item.FieldName)) {
            item.IsDuplicatedField = true;
            if (item.Pseudonym.empty()) {
              for (int k = 1;; ++k) {
                const std::string candidate = item.FieldName + "_" + std::to_string(k);
                bool taken = false;
                for (const TNRDSelectListItem& o : SelectList)
                  if (SameText(o.FieldName, candidate) || SameText(o.Pseudonym, candidate)) taken = true;
                if (!taken) {
                  item.Pseudonym = candidate;
                  break;
                }
              }
            }
            // A second copy of a column is computed from it.
            TNRDLexer lex(item.TableName.empty() ? item.FieldName : item.TableName + "." + item.FieldName, nullptr, true);
            lex.GetNextCommand();
            auto e = std::make_shared<TNRDExpression>();
            e->ParseForValueExpression(&lex);
            item.ValueExpr = e;
            item.IsExpression = true;
            break;
          }
      }
      SelectList.push_back(std::move(item));
      if (Current().TokenType != tktComma) break;
      Advance();
    }
  }
  // INTO
  if (IsAt(rwINTO)) {
    Advance();
    if (IsAt(rwMEMORY)) {
      IntoMemory = true;
      Advance();
      if (IsAt(rwIMMEDIATE)) {
        IntoImmediate = true;
        Advance();
      }
    }
    t = Current();
    if (!IsNameToken(t) || t.TokenType == tktInt) Unexpected(30165, "Table name expected, but '%s' found at line %d, column %d", t);
    IntoTable = NameOf(t);
    Advance();
    if (Current().TokenType == tktDot) {
      Advance();
      t = Current();
      if (!IsNameToken(t)) Unexpected(30166, "Table name expected, but '%s' found at line %d, column %d", t);
      IntoDatabase = IntoTable;
      IntoTable = NameOf(t);
      Advance();
    }
  }
  // FROM
  if (!IsAt(rwFROM)) Expected(30184, "FROM", Current());
  Advance();
  while (true) {
    t = Current();
    if (!IsNameToken(t) && t.TokenType != tktLeftParenthesis)
      Unexpected(FromTables.empty() ? 30180 : 30181, "Table name expected, but '%s' found at line %d, column %d", t);
    FromTables.push_back(ParseTableReference());
    if (Current().TokenType != tktComma) break;
    Advance();
  }
  if (IsAt(rwWHERE)) {
    Advance();
    SearchCondition = std::make_unique<TNRDExpression>();
    SearchCondition->ParseForBooleanExpression(LLex);
  }
  if (IsAt(rwGROUP)) {
    Advance();
    if (!IsAt(rwBY)) Expected(30185, "BY", Current());
    Advance();
    while (true) {
      t = Current();
      if (!IsNameToken(t) || t.TokenType == tktInt)
        Unexpected(30187, "Field name expected, but '%s' found at line %d, column %d", t);
      TNRDSelectListItem item;
      item.FieldName = NameOf(t);
      Advance();
      if (Current().TokenType == tktDot) {
        Advance();
        item.TableName = item.FieldName;
        item.FieldName = NameOf(Current());
        Advance();
      }
      GroupByFields.Append(item);
      if (Current().TokenType != tktComma) break;
      Advance();
    }
  }
  if (IsAt(rwHAVING)) {
    Advance();
    HavingCondition = std::make_unique<TNRDExpression>();
    HavingCondition->ParseForBooleanExpression(LLex);
  }
  ParseOrderBy();
}

std::unique_ptr<TNRDTableReference> TNRDSQLSelect::ParseTableReference() {
  auto ref = std::make_unique<TNRDTableReference>();
  TToken t = Current();
  if (t.TokenType == tktLeftParenthesis) {
    Advance();
    if (IsAt(rwSELECT)) {
      ref->TableType = attSubQuery;
      ref->SubQuery = std::make_unique<TNRDSQLUnion>(*LLex, LQuery);
    } else {
      ref = ParseTableReference();
    }
    if (Current().TokenType == tktRightParenthesis) Advance();
  } else if (IsAt(rwSELECT)) {
    ref->TableType = attSubQuery;
    ref->SubQuery = std::make_unique<TNRDSQLUnion>(*LLex, LQuery);
  } else {
    if (IsAt(rwMEMORY)) {
      ref->InMemory = true;
      Advance();
    }
    t = Current();
    ref->TableName = NameOf(t);
    Advance();
    if (Current().TokenType == tktDot) {
      Advance();
      ref->DatabaseName = ref->TableName;
      ref->TableName = NameOf(Current());
      Advance();
    }
  }
  // Pseudonym: [AS] name, not a word that continues the statement.
  if (IsAt(rwAS)) Advance();
  t = Current();
  if ((t.TokenType == tktString && !t.Text.empty() && (std::isalpha(static_cast<unsigned char>(t.Text[0])) || t.Text[0] == '_')) ||
      t.TokenType == tktQuotedString || t.TokenType == tktBracketedString) {
    ref->Pseudonym = t.Text;
    Advance();
  }
  if (IsAt(rwPASSWORD)) {
    Advance();
    t = Current();
    if (t.TokenType != tktQuotedString && t.TokenType != tktParameter)
      Unexpected(30178, "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at line %d, column %d", t);
    ref->Password = NameOf(t);
    Advance();
  }
  ParseJoins(ref);
  return ref;
}

void TNRDSQLSelect::ParseJoins(std::unique_ptr<TNRDTableReference>& ref) {
  while (true) {
    TNRDJoinType type = ajtInner;
    bool natural = false, typed = false;
    if (IsAt(rwCROSS)) {
      type = ajtCross;
      typed = true;
      Advance();
    } else {
      if (IsAt(rwNATURAL)) {
        natural = true;
        typed = true;
        Advance();
      }
      if (IsAt(rwINNER)) {
        typed = true;
        Advance();
      } else if (IsAt(rwLEFT) || IsAt(rwRIGHT) || IsAt(rwFULL)) {
        type = IsAt(rwLEFT) ? ajtLeftOuter : IsAt(rwRIGHT) ? ajtRightOuter : ajtFullOuter;
        typed = true;
        Advance();
        if (IsAt(rwOUTER)) Advance();
      }
    }
    if (!IsAt(rwJOIN)) {
      if (typed) Expected(30175, "JOIN", Current());
      return;
    }
    Advance();
    const TToken t = Current();
    if (!IsNameToken(t) && t.TokenType != tktLeftParenthesis)
      Unexpected(30176, "Table name expected, but '%s' found at line %d, column %d", t);
    std::unique_ptr<TNRDTableReference> right = ParseTableReference();
    std::vector<std::string> usingFields;
    std::unique_ptr<TNRDExpression> on;
    if (IsAt(rwON)) {
      Advance();
      on = std::make_unique<TNRDExpression>();
      on->ParseForBooleanExpression(LLex);
    } else if (IsAt(rwUSING)) {
      Advance();
      if (Current().TokenType != tktLeftParenthesis) Expected(30167, "(", Current());
      Advance();
      while (Current().TokenType != tktRightParenthesis && Current().TokenType != tktNone) {
        usingFields.push_back(NameOf(Current()));
        Advance();
        if (Current().TokenType == tktComma) Advance();
      }
      Advance();
    }
    ref->MakeJoin(std::move(right), type, natural, std::move(usingFields), std::move(on));
  }
}

bool TNRDSQLSelect::AllConditionsApplied() { return !FHasNotAppliedConditions && !FSubqueryHasNotAppliedConditions; }

std::unique_ptr<TNRDAO> TNRDSQLSelect::BuildReference(TNRDTableReference& ref, const TNRDSQLContext& context,
                                                      TNRDAO* parentQueryAO, TNRDCursor* parentCursor) {
  if (ref.TableType == attTable) {
    auto table = std::make_unique<TNRDTable>(nullptr);
    table->SetDatabaseName(ref.InMemory ? std::string("MEMORY") : context.DatabaseName);
    if (!context.SessionName.empty()) table->SetSessionName(context.SessionName);
    table->SetTableName(ref.TableName);
    return std::make_unique<TNRDAOTable>(ref.TableName, ref.Pseudonym, std::move(table));
  }
  if (ref.TableType == attSubQuery) {
    std::unique_ptr<TNRDAO> sub = ref.SubQuery->BuildAOTree(context, true, parentQueryAO, parentCursor, true);
    if (!ref.SubQuery->AllConditionsApplied()) FSubqueryHasNotAppliedConditions = true;
    sub->FTableAlias = ref.Pseudonym;
    return sub;
  }
  std::unique_ptr<TNRDAO> left = BuildReference(*ref.LeftTable, context, parentQueryAO, parentCursor);
  std::unique_ptr<TNRDAO> right = BuildReference(*ref.RightTable, context, parentQueryAO, parentCursor);
  TNRDFields l, r;
  std::vector<TNRDExprNodePtr> rest;
  if (ref.JoinType != ajtCross && !ref.NaturalJoin) {
    if (!ref.UsingFields.empty()) {
      for (const std::string& name : ref.UsingFields) {
        TNRDSelectListItem item;
        item.FieldName = name;
        l.Append(item);
        r.Append(item);
      }
    } else if (ref.SearchCondition) {
      TNRDExpression on;
      rest = ref.SearchCondition->TakeAndParts();
      ExtractJoinConditions(rest, *left, *right, l, r);
    }
  }
  const bool outer = ref.JoinType == ajtLeftOuter || ref.JoinType == ajtRightOuter || ref.JoinType == ajtFullOuter;
  std::unique_ptr<TNRDExpression> condition;
  if (outer && !rest.empty()) {
    condition = std::make_unique<TNRDExpression>();
    for (auto& p : rest) condition->AddNode(std::move(p));
    rest.clear();
  }
  auto join = std::make_unique<TNRDAOJoin>(std::move(left), std::move(right), ref.JoinType, ref.NaturalJoin, &l, &r,
                                           std::move(condition));
  for (auto& p : rest) {
    std::unique_ptr<TNRDExpression> part = Wrap(std::move(p));
    if (PushToLeaf(*join, part)) continue;
    if (!part->CanBeAssigned(join.get(), parentQueryAO)) throw ENRDException(20270, "ON condition for JOIN is not applicable");
    join->SetFilter(std::move(part), parentQueryAO);
  }
  return join;
}

std::unique_ptr<TNRDAO> TNRDSQLSelect::BuildAOTree(const TNRDSQLContext& context, bool, TNRDAO* parentQueryAO,
                                                   TNRDCursor* parentCursor, bool allowNotAppliedConditions) {
  FSubqueryHasNotAppliedConditions = false;
  FHasNotAppliedConditions = false;
  // Work on copies: the statement can be built again.
  std::vector<TNRDSelectListItem> list = SelectList;
  std::vector<TNRDExprNodePtr> where;
  if (SearchCondition && !SearchCondition->IsEmpty()) {
    TNRDExpression copy(SearchCondition->Root()->Clone());
    where = copy.TakeAndParts();
  }
  // FROM, folded from the left; column equalities of WHERE join the items.
  std::unique_ptr<TNRDAO> tree;
  for (auto& ref : FromTables) {
    std::unique_ptr<TNRDAO> item = BuildReference(*ref, context, parentQueryAO, parentCursor);
    if (!tree) {
      tree = std::move(item);
      continue;
    }
    TNRDFields l, r;
    ExtractJoinConditions(where, *tree, *item, l, r);
    tree = std::make_unique<TNRDAOJoin>(std::move(tree), std::move(item), l.ItemCount() > 0 ? ajtInner : ajtCross, false,
                                        &l, &r, nullptr);
  }
  // WHERE: parts a table's cursor answers go down to it; the rest is tested over the FROM rows.
  std::vector<std::unique_ptr<TNRDExpression>> rest;
  for (auto& p : where) {
    std::unique_ptr<TNRDExpression> part = Wrap(std::move(p));
    if (!PushToLeaf(*tree, part)) rest.push_back(std::move(part));
  }
  if (!rest.empty() || tree->FIsAOTable) {
    auto expr = std::make_unique<TNRDAOTableExpr>(std::move(tree));
    expr->FParentQueryAO = parentQueryAO;
    for (auto& part : rest) {
      if (!part->CanBeAssigned(expr.get(), parentQueryAO)) {
        if (!allowNotAppliedConditions) throw ENRDException(30144, "Search condition is not applicable");
        FHasNotAppliedConditions = true;
        continue;
      }
      expr->SetFilter(std::move(part), parentQueryAO);
    }
    tree = std::move(expr);
  }
  bool grouping = GroupByFields.ItemCount() > 0;
  if (!AllFields)
    for (const TNRDSelectListItem& item : list)
      if (item.IsExpression && item.ValueExpr && item.ValueExpr->IsAggregated()) grouping = true;
  if (grouping) {
    // A GROUP BY on a computed column's name groups on that column.
    bool computedGroup = false;
    for (const TNRDSelectListItem& g : GroupByFields.Items)
      for (const TNRDSelectListItem& item : list)
        if (item.IsExpression && item.ValueExpr && !item.ValueExpr->IsAggregated() && SameText(item.Pseudonym, g.FieldName))
          computedGroup = true;
    if (computedGroup) {
      auto below = std::make_unique<TNRDAOTableExpr>(std::move(tree));
      below->FParentQueryAO = parentQueryAO;
      below->SetResultFields(list, false);
      tree = std::move(below);
    }
    auto group = std::make_unique<TNRDAOGroupBy>(std::move(tree), &GroupByFields, list);
    group->FParentQueryAO = parentQueryAO;
    std::vector<TNRDSelectListItem> none;
    group->SetResultFields(AllFields ? none : list, false);
    if (HavingCondition && !HavingCondition->IsEmpty()) {
      auto having = std::make_unique<TNRDExpression>(HavingCondition->Root()->Clone());
      if (!having->CanBeAssigned(group.get(), parentQueryAO)) {
        if (!allowNotAppliedConditions) throw ENRDException(20244, "'Having' condition is not applicable");
        FHasNotAppliedConditions = true;
      } else {
        group->SetFilter(std::move(having), parentQueryAO);
      }
    }
    tree = std::move(group);
  } else {
    if (tree->FHasSetResultFields) tree = std::make_unique<TNRDAOTableExpr>(std::move(tree));
    tree->FParentQueryAO = parentQueryAO;
    std::vector<TNRDSelectListItem> none;
    tree->SetResultFields(AllFields ? none : list, Distinct);
  }
  ApplyOrderBy(*tree);
  if (TopRowCount >= 0) {
    auto top = std::make_unique<TNRDAOSQLTopRowCount>(std::move(tree));
    top->SetTopRowCount(FirstRowNo, TopRowCount);
    tree = std::move(top);
  }
  return tree;
}

// ----- query expressions --------------------------------------------------------------------------------

bool TNRDQueryExprNode::AllConditionsApplied() const {
  if (NodeType == qetSelect) return SelectCommand->AllConditionsApplied();
  return Left->AllConditionsApplied() && Right->AllConditionsApplied();
}

bool TNRDQueryExprNode::HasInto() const {
  if (NodeType == qetSelect) return !SelectCommand->IntoTable.empty();
  return Left->HasInto() || Right->HasInto();
}

TNRDSQLUnion::TNRDSQLUnion(TNRDLexer& lexer, TNRDDataSet* query) : TNRDSQLCursorCommand(lexer, query) {
  FRootNode = ParseExpression();
  ParseOrderBy();
  if (OrderBySpecs.empty() && FRootNode->NodeType != qetSelect && FRootNode->Right->NodeType == qetSelect) {
    OrderBySpecs = std::move(FRootNode->Right->SelectCommand->OrderBySpecs);
    FRootNode->Right->SelectCommand->OrderBySpecs.clear();
  }
  if (FRootNode->NodeType == qetSelect) {
    TNRDSQLSelect& s = *FRootNode->SelectCommand;
    IntoTable = s.IntoTable;
    IntoDatabase = s.IntoDatabase;
    IntoMemory = s.IntoMemory;
    IntoImmediate = s.IntoImmediate;
    s.IntoTable.clear();
  } else if (FRootNode->HasInto()) {
    throw ENRDException(20272,
                        "UNION subselect cannot contain INTO caluse. Use SELECT * INTO table FROM (select ... union "
                        "select ...) instead");
  }
}

std::unique_ptr<TNRDQueryExprNode> TNRDSQLUnion::ParseExpression() {
  std::unique_ptr<TNRDQueryExprNode> node = ParseTerm();
  while (IsAt(rwUNION) || IsAt(rwEXCEPT) || IsAt(rwMINUS)) {
    const TNRDQueryExprType type = IsAt(rwUNION) ? qetUnion : qetExcept;
    Advance();
    auto op = std::make_unique<TNRDQueryExprNode>();
    op->NodeType = type;
    if (IsAt(rwALL)) {
      op->All = true;
      Advance();
    }
    if (IsAt(rwCORRESPONDING)) {
      op->Corresponding = true;
      Advance();
      if (IsAt(rwBY)) {
        Advance();
        if (Current().TokenType != tktLeftParenthesis) Expected(30193, "(", Current());
        Advance();
        op->HasCorrespondingList = true;
        while (Current().TokenType != tktRightParenthesis && Current().TokenType != tktNone) {
          op->CorrespondingFields.push_back(NameOf(Current()));
          Advance();
          if (Current().TokenType == tktComma) Advance();
        }
        Advance();
      }
    }
    op->Left = std::move(node);
    op->Right = ParseTerm();
    node = std::move(op);
  }
  return node;
}

std::unique_ptr<TNRDQueryExprNode> TNRDSQLUnion::ParseTerm() {
  std::unique_ptr<TNRDQueryExprNode> node = ParsePrimary();
  while (IsAt(rwINTERSECT)) {
    Advance();
    auto op = std::make_unique<TNRDQueryExprNode>();
    op->NodeType = qetIntersect;
    if (IsAt(rwALL)) {
      op->All = true;
      Advance();
    }
    if (IsAt(rwCORRESPONDING)) {
      op->Corresponding = true;
      Advance();
    }
    op->Left = std::move(node);
    op->Right = ParsePrimary();
    node = std::move(op);
  }
  return node;
}

std::unique_ptr<TNRDQueryExprNode> TNRDSQLUnion::ParsePrimary() {
  if (Current().TokenType == tktLeftParenthesis) {
    Advance();
    std::unique_ptr<TNRDQueryExprNode> node = ParseExpression();
    if (Current().TokenType == tktRightParenthesis) Advance();
    return node;
  }
  if (!IsAt(rwSELECT)) {
    if (Current().TokenType == tktNone) throw ENRDException(30155, "Blank SQL command");
    Expected(30194, "SELECT", Current());
  }
  auto node = std::make_unique<TNRDQueryExprNode>();
  node->SelectCommand = std::make_unique<TNRDSQLSelect>(*LLex, LQuery);
  return node;
}

bool TNRDSQLUnion::AllConditionsApplied() { return FRootNode->AllConditionsApplied(); }

std::unique_ptr<TNRDAO> TNRDSQLUnion::BuildNode(TNRDQueryExprNode& node, const TNRDSQLContext& context, bool requestLive,
                                                TNRDAO* parentQueryAO, TNRDCursor* parentCursor, bool allow) {
  if (node.NodeType == qetSelect)
    return node.SelectCommand->BuildAOTree(context, requestLive, parentQueryAO, parentCursor, allow);
  std::unique_ptr<TNRDAO> left = BuildNode(*node.Left, context, true, parentQueryAO, parentCursor, allow);
  std::unique_ptr<TNRDAO> right = BuildNode(*node.Right, context, true, parentQueryAO, parentCursor, allow);
  TNRDFields list;
  for (const std::string& n : node.CorrespondingFields) {
    TNRDSelectListItem item;
    item.FieldName = n;
    list.Append(item);
  }
  const TNRDUnionType type = node.NodeType == qetUnion ? autUnion : node.NodeType == qetExcept ? autExcept : autIntersect;
  return std::make_unique<TNRDAOUnion>(std::move(left), std::move(right), type, parentQueryAO, parentCursor,
                                       node.Corresponding, !node.All, node.HasCorrespondingList ? &list : nullptr);
}

std::unique_ptr<TNRDAO> TNRDSQLUnion::BuildAOTree(const TNRDSQLContext& context, bool requestLive,
                                                  TNRDAO* parentQueryAO, TNRDCursor* parentCursor, bool allow) {
  std::unique_ptr<TNRDAO> root = BuildNode(*FRootNode, context, requestLive, parentQueryAO, parentCursor, allow);
  ApplyOrderBy(*root);
  return root;
}

TNRDSQLContext ContextOf(TNRDDataSet* query) {
  TNRDSQLContext c;
  if (query == nullptr) return c;
  c.DatabaseName = query->DatabaseName();
  c.SessionName = query->SessionName();
  c.InMemory = query->InMemory();
  return c;
}

void TNRDSQLCursorCommand::ExecSQL(TNRDDataSet* query, bool, bool, bool& readOnly, TNRDAO* parentQueryAO,
                                   TNRDCursor* parentCursor) {
  const TNRDSQLContext context = ContextOf(query != nullptr ? query : LQuery);
  ExecSQL(context, parentQueryAO, parentCursor);
  // The result is a table of its own: edits would not reach the tables read.
  readOnly = true;
}

void InstallSelectCommands() {
  SetSelectCommandFactory([](TNRDLexer* lexer, TNRDDataSet* query) -> std::unique_ptr<TNRDSQLCommand> {
    const TNRDSQLContext context = ContextOf(query);
    TNRDSQLContextScope scope(context);
    return std::make_unique<TNRDSQLUnion>(*lexer, query);
  });
}

std::unique_ptr<TNRDSQLUnion> RunSelect(TNRDLexer& lexer, const TNRDSQLContext& context) {
  TNRDSQLContextScope scope(context);
  auto u = std::make_unique<TNRDSQLUnion>(lexer);
  u->ExecSQL(context);
  return u;
}

}  // namespace nrd::sql
