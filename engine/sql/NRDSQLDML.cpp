// INSERT, UPDATE and DELETE.
#include "engine/sql/NRDSQLDML.h"

#include "engine/components/NRDDataSet.h"
#include "engine/components/NRDDatabase.h"
#include "engine/components/NRDTable.h"
#include "engine/foundation/NRDConverts.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDFinally.h"
#include "engine/foundation/NRDTypes.h"
#include <chrono>
#include <cstring>
#include <thread>

#include "engine/foundation/NRDNamedList.h"
#include "engine/sql/NRDSQLProcessor.h"
#include "engine/sql/NRDSQLSelect.h"
#include "engine/storage/NRDCursor.h"

namespace nrd::sql {

namespace {

bool IsNameType(TTokenType t) { return t == tktString || t == tktQuotedString || t == tktBracketedString; }

constexpr std::string_view kCountMismatch =
    "Number of field names does not equal the number of field values: %d <> %d. Found at line %d, column %d";

}  // namespace

// ----- INSERT -------------------------------------------------------------------------------------------------

TNRDSQLInsert::~TNRDSQLInsert() = default;

void TNRDSQLInsert::Parse() {
  // Nested SELECTs of the values are read through the SELECT layer.
  const TNRDSQLContext context = ContextOf(LQuery);
  TNRDSQLContextScope scope(context);
  if (!GetCurrentToken()) throw ENRDException(30204, "Blank SQL command");
  const std::int32_t commandNo = LLex->CurrentCommandNo();
  if (commandNo >= 0 && commandNo < LLex->NumCommands())
    for (const TToken& t : LLex->Commands[static_cast<std::size_t>(commandNo)].Tokens)
      if (t.TokenType == tktParameter) ++FParamTokens;
  NextOrRaise(30205);
  if (!IsWord(rwINTO)) RaiseTokenExpected(30206, "INTO");
  constexpr std::string_view kTableExpected = "Table name expected, but '%s' found at line %d, column %d";
  auto isTableToken = [this] {
    return IsNameType(Token.TokenType) || Token.TokenType == tktReservedWord || Token.TokenType == tktParameter;
  };
  NextOrRaise(30207);
  if (!isTableToken()) RaiseAtToken(30207, kTableExpected);
  if (IsWord(rwMEMORY)) {
    IntoMemory = true;
    NextOrRaise(30208);
    if (!isTableToken()) RaiseAtToken(30208, kTableExpected);
  }
  TableName = NameText();
  NextOrRaise(30209);
  if (Token.TokenType == tktDot) {
    DatabaseFileName = TableName;
    NextOrRaise(30493);
    if (!IsNameType(Token.TokenType) && Token.TokenType != tktParameter) RaiseAtToken(30493, kTableExpected);
    TableName = NameText();
    NextOrRaise(30209);
  }
  if (IsWord(rwPASSWORD)) {
    NextOrRaise(30210);
    if (Token.TokenType != tktQuotedString && Token.TokenType != tktParameter)
      RaiseAtToken(30210, "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at line %d, column %d");
    Password = NameText();
    NextOrRaise(30211);
  }
  if (Token.TokenType == tktLeftParenthesis) {
    TToken next;
    if (LLex->LookNextToken(next) && IsReservedWordToken(next, rwSELECT)) {
      GetNextToken();
      ParseSelect();
      if (AtEnd() || Token.TokenType != tktRightParenthesis) {
        if (!AtEnd()) GetCurrentToken();
        throw ENRDException(20256, "Missing symbol ')' at line %d, column %d", {Token.LineNum, Token.ColumnNum});
      }
      GetNextToken();
      return;
    }
    for (;;) {
      NextOrRaise(30213);
      if (!IsNameType(Token.TokenType) && Token.TokenType != tktReservedWord)
        RaiseAtToken(2156, "Field name expected, but '%s' found at line %d, column %d");
      FieldNames.push_back(Token.Text);
      NextOrRaise(30212);
      if (Token.TokenType == tktRightParenthesis) break;
      if (Token.TokenType != tktComma)
        RaiseAtToken(30212, "')' or ',' symbol expected, but '%s' found at line %d, column %d");
    }
    if (!GetNextToken()) RaiseUnexpectedEnd(30213);
  }
  if (IsWord(rwVALUES)) {
    ParseValues();
    return;
  }
  if (Token.TokenType == tktLeftParenthesis) {
    NextOrRaise(30213);
    ParseSelect();
    if (!AtEnd()) {
      GetCurrentToken();
      if (Token.TokenType == tktRightParenthesis) GetNextToken();
    }
    return;
  }
  if (IsWord(rwSELECT)) {
    ParseSelect();
    return;
  }
  RaiseAtToken(30213, "Unexpected token '%s' found at line %d, column %d");
}

void TNRDSQLInsert::ParseSelect() {
  if (!IsWord(rwSELECT)) RaiseTokenExpected(30213, "SELECT");
  TNRDSelectCommandFactory factory = GetSelectCommandFactory();
  if (factory == nullptr) throw ENRDException(30039, "Not implemented yet");
  InternalSelecter = factory(LLex, LQuery);
  if (!AtEnd()) GetCurrentToken();
}

void TNRDSQLInsert::ParseValues() {
  if (!GetNextToken() || Token.TokenType != tktLeftParenthesis)
    RaiseAtToken(30214, "'(' symbol expected, but '%s' found at line %d, column %d");
  for (;;) {
    // Token is the row's '('.
    FRowPositions.emplace_back(Token.LineNum, Token.ColumnNum);
    std::vector<std::unique_ptr<TNRDExpression>> row;
    for (;;) {
      if (!GetNextToken()) RaiseUnexpectedEnd(30203);
      const TToken start = Token;
      const std::int32_t startNo = LLex->GetCurrentTokenNo();
      auto e = std::make_unique<TNRDExpression>();
      e->ParseForValueExpression(LLex);
      if (e->Root() == nullptr) {
        Token = start;
        RaiseAtToken(30357, "Error parsing parameter '%s' at line %d, column %d");
      }
      const bool alone = LLex->GetCurrentTokenNo() == startNo + 1;
      if (alone && start.TokenType == tktParameter && NodeAs<TNRDExprNodeConst>(e->Root()) != nullptr)
        FParamSlots.push_back({FieldValues.size(), row.size(), start, nullptr});
      row.push_back(std::move(e));
      if (!GetCurrentToken()) RaiseUnexpectedEnd(30203);
      if (Token.TokenType == tktRightParenthesis) break;
      if (Token.TokenType != tktComma)
        RaiseAtToken(30212, "')' or ',' symbol expected, but '%s' found at line %d, column %d");
    }
    // Every row is checked against the column list, not only the first.
    if (!FieldNames.empty() && row.size() != FieldNames.size())
      throw ENRDException(20259, kCountMismatch,
                          {static_cast<std::int32_t>(FieldNames.size()), static_cast<std::int32_t>(row.size()),
                           FRowPositions.back().first, FRowPositions.back().second});
    FieldValues.push_back(std::move(row));
    if (!GetNextToken()) return;
    if (Token.TokenType != tktComma) RaiseAtToken(30212, "')' or ',' symbol expected, but '%s' found at line %d, column %d");
    if (!GetNextToken() || Token.TokenType != tktLeftParenthesis)
      RaiseAtToken(30214, "'(' symbol expected, but '%s' found at line %d, column %d");
  }
}

bool TNRDSQLInsert::RebindParams(const TNRDSQLParams& params) {
  if (InternalSelecter != nullptr || FParamTokens == 0 || static_cast<std::int32_t>(FParamSlots.size()) != FParamTokens)
    return false;
  // The kinds of value the grammar reads as the same constant; any other value is parsed anew.
  auto plain = [](const TNRDVariant& v) { return v.IsNull() || v.IsNumericDataType() || v.IsStringDataType(); };
  for (TParamSlot& slot : FParamSlots) {
    const TToken& t = slot.Token;
    if (!t.ParamValue || !plain(*t.ParamValue)) return false;  // the first parse read it otherwise
    slot.Param = t.ParamNo >= 0 ? (t.ParamNo < params.Count() ? params.Items(t.ParamNo) : nullptr)
                                : params.GetParamByName(t.Text);
    if (slot.Param == nullptr || !plain(*slot.Param)) return false;
  }
  for (const TParamSlot& slot : FParamSlots) {
    const TNRDSQLParam& p = *slot.Param;
    auto* k = NodeAs<TNRDExprNodeConst>(FieldValues[slot.Row][slot.Column]->Root());
    // As the grammar reads a parameter: its value, or a NULL of its type (of Integer when it has none).
    if (p.IsNull()) k->Value.Clear(p.DataType() == bftUnknown ? bftSignedInt32 : p.DataType());
    else k->Value.Assign(p, true);
  }
  return true;
}

void TNRDSQLInsert::ExecSQL(TNRDDataSet* query, bool isRoot, bool, bool&, TNRDAO*, TNRDCursor*) {
  RowsAffected = 0;
  const TNRDSQLContext context = ContextOf(query);
  TNRDSQLContextScope scope(context);
  if (InternalSelecter == nullptr && OpenTables != nullptr) {
    // Literal rows go through a table kept open for the next run of the same statement.
    const char sep = '\x01';
    std::string key = query->SessionName() + sep + query->DatabaseName() + sep + (query->InMemory() ? "M" : "") + sep +
                      DatabaseFileName + sep + TableName + sep + Password + sep + (IntoMemory ? "M" : "");
    TNRDTable* kept = OpenTables->Find(key);
    if (kept == nullptr) {
      std::unique_ptr<TNRDTable> table;
      std::unique_ptr<TNRDDatabase> database;
      OpenExternalTable(query, DatabaseFileName, TableName, Password, IntoMemory, table, database);
      table->Open();
      kept = &OpenTables->Keep(std::move(key), std::move(table), std::move(database));
    } else if (!kept->Active()) {
      // Its database was closed in between.
      kept->Open();
    }
    InsertLiteralRows(*kept);
    return;
  }
  std::unique_ptr<TNRDTable> table;
  std::unique_ptr<TNRDDatabase> database;
  OpenExternalTable(query, DatabaseFileName, TableName, Password, IntoMemory, table, database);
  table->Open();
  Finally closer([&] { table->Close(); });
  if (InternalSelecter != nullptr) InsertSelectedRows(query, isRoot, *table);
  else InsertLiteralRows(*table);
}

void TNRDSQLInsert::InsertLiteralRows(TNRDTable& table) {
  std::vector<TField*> named;
  for (const std::string& name : FieldNames) named.push_back(&table.FieldByName(name));
  for (std::size_t r = 0; r < FieldValues.size(); ++r) {
    auto& row = FieldValues[r];
    if (FieldNames.empty() && static_cast<std::int32_t>(row.size()) > table.FieldCount())
      throw ENRDException(20259, kCountMismatch,
                          {table.FieldCount(), static_cast<std::int32_t>(row.size()), FRowPositions[r].first,
                           FRowPositions[r].second});
    table.Insert();
    try {
      for (std::size_t c = 0; c < row.size(); ++c) {
        TField& field = named.empty() ? table.Fields(static_cast<std::int32_t>(c)) : *named[c];
        TNRDVariant* v = row[c]->GetValue(true);
        if (v == nullptr)
          throw ENRDException(30356, "Parameter Value undefined (FieldName='%s', Type='%s')",
                              {field.FieldName(), AdvancedFieldTypeToSQLName(FieldTypeToAdvancedFieldType(field.DataType()))});
        AssignVariantToField(v, field);
      }
      table.Post();
    } catch (...) {
      table.Cancel();
      throw;
    }
    ++RowsAffected;
  }
}

void TNRDSQLInsert::InsertSelectedRows(TNRDDataSet* query, bool isRoot, TNRDTable& table) {
  bool readOnly = true;
  InternalSelecter->ExecSQL(query, isRoot, false, readOnly, nullptr, nullptr);
  TNRDDataSet* result = InternalSelecter->GetResultDataset();
  if (result == nullptr) throw ENRDException(20001, "Error creating table handle");
  // A copy first: a SELECT over the target itself must not see the rows being added.
  TNRDTable copy(nullptr);
  copy.SetSessionName(query->SessionName());
  copy.SetTemporary(true);
  copy.SetTableName(MakeUniqueName("TmpTableForInsert"));
  TNRDDatabase* db = query->Database();
  copy.SetDisableTempFiles(query->InMemory() ? true : (db != nullptr && db->DisableTempFiles()));
  std::string log;
  if (!copy.ImportTable(*result, log)) throw ENRDException(20001, "Error creating table handle");
  struct DropCopy {
    TNRDTable& t;
    ~DropCopy() {
      try {
        t.Close();
        t.DeleteTable();
      } catch (...) {
      }
    }
  } dropCopy{copy};
  copy.Open();
  copy.First();

  std::vector<TField*> targets;
  const std::int32_t columns = copy.FieldCount();
  if (!FieldNames.empty()) {
    if (static_cast<std::int32_t>(FieldNames.size()) != columns)
      throw ENRDException(20259, kCountMismatch,
                          {static_cast<std::int32_t>(FieldNames.size()), columns, Token.LineNum, Token.ColumnNum});
    for (const std::string& name : FieldNames) targets.push_back(&table.FieldByName(name));
  } else {
    if (columns > table.FieldCount())
      throw ENRDException(20259, kCountMismatch, {table.FieldCount(), columns, Token.LineNum, Token.ColumnNum});
    for (std::int32_t i = 0; i < columns; ++i) targets.push_back(&table.Fields(i));
  }

  auto copyRows = [&] {
    for (; !copy.Eof(); copy.Next()) {
      table.Insert();
      try {
        for (std::int32_t i = 0; i < columns; ++i) CopyFieldValue(copy.Fields(i), *targets[static_cast<std::size_t>(i)]);
        table.Post();
      } catch (...) {
        table.Cancel();
        throw;
      }
      ++RowsAffected;
    }
  };

  TNRDCursor& cursor = *table.Cursor();
  if (db != nullptr && db->InTransaction()) {
    copyRows();
    return;
  }
  if (!cursor.LockTable(ltRW, SQLLockRetries().InsertTries, SQLLockRetries().InsertDelayMs, true))
    throw ENRDException(20224, "Table is locked");
  const bool exclusive = cursor.LockTable(ltXIRW, 1, 0, false);
  try {
    cursor.BeginBatchUpdate();
    try {
      copyRows();
      cursor.EndBatchUpdate();
    } catch (...) {
      cursor.CancelBatchUpdate();
      throw;
    }
  } catch (...) {
    if (exclusive) cursor.UnlockTable(ltXIRW, false);
    cursor.UnlockTable(ltRW, false);
    throw;
  }
  if (exclusive) cursor.UnlockTable(ltXIRW, false);
  cursor.UnlockTable(ltRW, false);
}

// ----- UPDATE and DELETE: the shared part ---------------------------------------------------------------

TNRDSQLLockRetries& SQLLockRetries() {
  static TNRDSQLLockRetries retries;
  return retries;
}

// The row of the table being changed, as the subqueries of SET and WHERE see it: an operator
// whose columns are the table's (qualified by the table's name or pseudonym, or not at all) and
// whose current row is the record given by SetRecord. A correlated subquery reads its outer
// columns from it, as a SELECT's subquery reads them from the enclosing operator.
class TNRDSQLTargetRow final : public TNRDAO {
 public:
  TNRDSQLTargetRow(TNRDCursor& cursor, std::string tableName, std::string pseudonym)
      : FCursor(cursor), FTableName(std::move(tableName)), FPseudonym(std::move(pseudonym)) {}
  // REQUIRES: the record stays valid while expressions bound to this operator are evaluated.
  void SetRecord(void* record) { FRecord = record; }

  std::int32_t FindFieldForExpression(const std::string& tableName, const std::string& fieldName) override {
    if (!tableName.empty() && !SameText(tableName, FTableName) && !SameText(tableName, FPseudonym)) return -1;
    auto column = std::make_unique<TNRDExprNodeField>(&FCursor, fieldName, std::string());
    std::int32_t no = -1;
    if (!column->FindFieldInCursor(&FCursor, no)) return -1;
    for (std::size_t i = 0; i < FColumns.size(); ++i)
      if (FColumns[i]->FFieldNo == no) return static_cast<std::int32_t>(i);
    column->AssignCursor(&FCursor, nullptr, nullptr);
    FColumns.push_back(std::move(column));
    return static_cast<std::int32_t>(FColumns.size() - 1);
  }
  // With a pseudonym the table answers to it alone.
  std::int32_t FindFieldByAlias(const std::string& tableName, const std::string& fieldName) override {
    if (!tableName.empty() && !FPseudonym.empty() && !SameText(tableName, FPseudonym)) return -1;
    return FindFieldForExpression(tableName, fieldName);
  }
  void ReadFieldForExpression(std::int32_t fieldNo, TNRDVariant& value) override {
    TNRDExprNodeField& column = Column(fieldNo);
    column.AssignCursorBuffer(FRecord, false);
    value.Assign(column.GetDataValue(), true);
  }
  TNRDAdvancedFieldType FieldTypeForExpression(std::int32_t fieldNo) override { return Column(fieldNo).GetDataType(); }
  std::int32_t FieldSizeForExpression(std::int32_t fieldNo) override { return Column(fieldNo).GetDataSize(); }

 private:
  TNRDExprNodeField& Column(std::int32_t fieldNo) {
    if (fieldNo < 0 || static_cast<std::size_t>(fieldNo) >= FColumns.size())
      throw ENRDException(10306, "Invalid field number - FieldNo = %d, FieldCount = %d",
                          {fieldNo, static_cast<std::int32_t>(FColumns.size())});
    return *FColumns[static_cast<std::size_t>(fieldNo)];
  }
  TNRDCursor& FCursor;
  std::string FTableName, FPseudonym;
  void* FRecord = nullptr;
  std::vector<std::unique_ptr<TNRDExprNodeField>> FColumns;  // the columns asked for, in order
};

namespace {

void Sleep(std::int32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The one table of the internal SELECT. Its rows can be changed only when the SELECT reads that
// table alone and passes its rows on unchanged; a join, a grouping, a row limit or a set operator
// would give rows of a table of their own, so such a statement is refused.
const TNRDTableReference& TargetOf(const TNRDSQLUnion& select) {
  const TNRDQueryExprNode& root = *select.FRootNode;
  const TNRDSQLSelect* s = root.NodeType == qetSelect ? root.SelectCommand.get() : nullptr;
  bool plain = s != nullptr && s->FromTables.size() == 1 && s->FromTables.front()->TableType == attTable &&
               s->GroupByFields.ItemCount() == 0 && !s->HavingCondition && !s->Distinct && s->TopRowCount < 0 &&
               select.IntoTable.empty();
  if (plain && !s->AllFields)
    for (const TNRDSelectListItem& item : s->SelectList)
      if (item.IsExpression && item.ValueExpr && item.ValueExpr->IsAggregated()) plain = false;
  if (!plain) throw ENRDException(10107, "Dataset is in read only mode");
  return *s->FromTables.front();
}

// The WHERE of the internal SELECT, split in two. The parts without a nested SELECT become the
// table cursor's filter (an indexed column is then read through its index); the parts with one are
// tested on each row the filter lets through, bound to the row of the table, so that a
// correlated subquery sees that row.
struct TTargetWhere {
  std::unique_ptr<TNRDExpression> Filter;
  std::vector<std::unique_ptr<TNRDExpression>> RowTests;
};

TTargetWhere WhereOf(const TNRDSQLUnion& select, const TNRDSQLContext& context, TNRDSQLTargetRow& row) {
  TTargetWhere where;
  const TNRDSQLSelect& s = *select.FRootNode->SelectCommand;
  if (!s.SearchCondition || s.SearchCondition->IsEmpty()) return where;
  auto own = [&](TNRDExprNodePtr node) {
    auto e = std::make_unique<TNRDExpression>(std::move(node));
    e->FInMemory = context.InMemory;
    e->FSessionName = context.SessionName;
    e->FDatabaseName = context.DatabaseName;
    return e;
  };
  std::unique_ptr<TNRDExpression> whole = own(s.SearchCondition->Root()->Clone());
  if (!whole->HasSubquery()) {
    where.Filter = std::move(whole);
    return where;
  }
  for (TNRDExprNodePtr& part : whole->TakeAndParts()) {
    std::unique_ptr<TNRDExpression> e = own(std::move(part));
    if (e->HasSubquery()) {
      e->AssignAO(&row, nullptr);
      where.RowTests.push_back(std::move(e));
    } else if (!where.Filter) {
      where.Filter = std::move(e);
    } else {
      where.Filter->AddAndMoveNodesFromExpression(*e);
    }
  }
  return where;
}

// The record IDs of the rows the WHERE lets through, in the cursor's order. The filter stays on
// the cursor only while they are gathered. All rows are gathered before any is changed, so a
// subquery over the table being changed reads it as it was before the statement. The rows are
// read through the cursor into a buffer of this routine's own: the data set's current row and
// calculated fields play no part in choosing them.
std::vector<TNRDPageItemID> GatherRows(TNRDTable& table, TTargetWhere& where, TNRDSQLTargetRow& row) {
  TNRDCursor& cursor = *table.Cursor();
  std::vector<TNRDPageItemID> rows;
  struct Scratch {
    TNRDCursor& c;
    void* buffer;
    ~Scratch() {
      c.SetSQLFilter(nullptr, nullptr, nullptr);
      c.DisableRecordBitmap();
      c.FreeRecordBuffer(buffer);
    }
  } scratch{cursor, cursor.AllocateRecordBuffer()};
  if (where.Filter != nullptr) {
    cursor.SetSQLFilter(where.Filter.get(), nullptr, nullptr);
    cursor.DisableRecordBitmap();
  }
  TNRDCursor::TLentBuffer current(cursor, scratch.buffer);
  // Steps as the data set's First and Next take them: each from the record read last.
  cursor.InternalFirst();
  for (bool first = true;; first = false) {
    if (!first) cursor.MoveToRecord(cursor.CurrentRecord());
    if (cursor.GetRecordBuffer(grmNext) != grrOK) break;
    if (!where.RowTests.empty()) {
      row.SetRecord(scratch.buffer);
      bool accepted = true;
      for (auto& test : where.RowTests)
        if (!test->GetResult()) {
          accepted = false;
          break;
        }
      if (!accepted) continue;
    }
    rows.push_back(cursor.CurrentRecord());
  }
  return rows;
}

// Makes the data set's current row the record `id` (as its bookmark would).
void GotoRecord(TNRDTable& table, const TNRDPageItemID& id, TBookmark& bookmark) {
  bookmark.resize(6);
  std::memcpy(bookmark.data(), &id.PageNo, 4);
  std::memcpy(bookmark.data() + 4, &id.PageItemNo, 2);
  table.GotoBookmark(bookmark);
}

// The table lock of UPDATE and DELETE: lock rounds of one try each, with the table data unlocked
// between them so that other sessions can finish (then 20223), and an opportunistic exclusive
// lock. Both are released by the destructor.
class TableLockRounds {
 public:
  explicit TableLockRounds(TNRDCursor& cursor) : FCursor(cursor) {
    const TNRDSQLLockRetries& r = SQLLockRetries();
    for (std::int32_t round = 0; round < r.Rounds; ++round) {
      if (FCursor.LockTable(ltRW, 1, 0, true)) {
        FLocked = true;
        break;
      }
      FCursor.UnlockTableData();
      Sleep(r.DelayMs);
      FCursor.LockTableData();
    }
    if (!FLocked) throw ENRDException(20223, "Table is locked");
    FExclusive = FCursor.LockTable(ltXIRW, 1, 0, false);
  }
  ~TableLockRounds() {
    try {
      if (FExclusive) FCursor.UnlockTable(ltXIRW, false);
      if (FLocked) FCursor.UnlockTable(ltRW, false);
    } catch (...) {
    }
  }
  TableLockRounds(const TableLockRounds&) = delete;
  TableLockRounds& operator=(const TableLockRounds&) = delete;

 private:
  TNRDCursor& FCursor;
  bool FLocked = false;
  bool FExclusive = false;
};

bool InTransaction(const TNRDTable& table) { return table.Database() != nullptr && table.Database()->InTransaction(); }

// A MEMORY or TEMP table writes through: a cancelled batch keeps what it changed.
bool BatchCanBeUndone(const TNRDTable& table) {
  return !table.InMemory() && !table.Temporary() && !SameText(table.DatabaseName(), "TEMP");
}

// Parses the internal SELECT at the lexer's current token; nothing may follow it in the command.
std::unique_ptr<TNRDSQLUnion> ParseInternalSelect(TNRDLexer& lexer, TNRDDataSet* query) {
  const TNRDSQLContext context = ContextOf(query);
  TNRDSQLContextScope scope(context);
  auto select = std::make_unique<TNRDSQLUnion>(lexer, query);
  TToken t;
  // A word the SELECT did not take would otherwise be dropped silently, and a WHERE cut short
  // changes more rows than were meant.
  if (lexer.GetCurrentToken(t))
    throw ENRDException(20260, "End of SQL command expected, but '%s' found at line %d, column %d",
                        {t.Text, t.LineNum, t.ColumnNum});
  return select;
}

TToken MakeToken(TTokenType type, std::string text, TReservedWord word = rwNone) {
  TToken t;
  t.TokenType = type;
  t.ReservedWord = word;
  t.Text = std::move(text);
  return t;
}

}  // namespace

// ----- UPDATE -------------------------------------------------------------------------------------------------

TNRDSQLUpdate::~TNRDSQLUpdate() = default;

void TNRDSQLUpdate::Parse() {
  // Nested SELECTs of the values are read through the SELECT layer.
  const TNRDSQLContext context = ContextOf(LQuery);
  TNRDSQLContextScope scope(context);
  if (!GetCurrentToken()) throw ENRDException(30216, "Blank SQL command");
  if (!GetNextToken() || (!IsNameType(Token.TokenType) && Token.TokenType != tktReservedWord &&
                          Token.TokenType != tktParameter))
    RaiseAtToken(30217, "Table name expected, but '%s' found at line %d, column %d");
  TNRDTableNameParts parts;
  ParseTableName(parts);
  DatabaseFileName = parts.DatabaseFileName;
  TableName = parts.TableName;
  IntoMemory = parts.InMemory;
  Password = parts.Password;
  FTablePseudonym = parts.Pseudonym;
  if (AtEnd() || !IsWord(rwSET)) RaiseTokenExpected(30220, "SET");
  NextOrRaise(30223);
  if (Token.TokenType == tktLeftParenthesis) ParseRowForm();
  else ParseAssignments();

  // The internal SELECT: select * from [MEMORY] ['file' .] table [pseudonym] [PASSWORD 'pw'] [WHERE ...].
  FSelectLexer = std::make_unique<TNRDLexer>("", nullptr, true);
  FSelectLexer->AddCommand();
  FSelectLexer->AddToken(MakeToken(tktReservedWord, "select", rwSELECT));
  FSelectLexer->AddToken(MakeToken(tktString, "*"));
  FSelectLexer->AddToken(MakeToken(tktReservedWord, "from", rwFROM));
  if (IntoMemory) FSelectLexer->AddToken(MakeToken(tktReservedWord, "MEMORY", rwMEMORY));
  if (!DatabaseFileName.empty()) {
    FSelectLexer->AddToken(MakeToken(tktQuotedString, DatabaseFileName));
    FSelectLexer->AddToken(MakeToken(tktDot, "."));
  }
  FSelectLexer->AddToken(MakeToken(tktBracketedString, TableName));
  if (!FTablePseudonym.empty()) FSelectLexer->AddToken(MakeToken(tktBracketedString, FTablePseudonym));
  if (!Password.empty()) {
    FSelectLexer->AddToken(MakeToken(tktReservedWord, "PASSWORD", rwPASSWORD));
    FSelectLexer->AddToken(MakeToken(tktQuotedString, Password));
  }
  if (!AtEnd() && IsWord(rwWHERE)) {
    TToken t = Token;
    do {
      FSelectLexer->AddToken(t);
    } while (LLex->GetNextToken(t));
  }
  FSelectLexer->SetCurrentTokenNo(0);
  InternalSelecter = ParseInternalSelect(*FSelectLexer, LQuery);
}

void TNRDSQLUpdate::ParseRowForm() {
  IsFieldValuesSubquery = true;
  NextOrRaise(30223);
  ParseNameList(FieldNames);
  if (AtEnd() || Token.TokenType != tktRightParenthesis) RaiseTokenExpected(30494, ")");
  if (!GetNextToken() || Token.Text != "=") RaiseTokenExpected(30495, "=");
  NextOrRaise(30223);
  FieldValuesSubqueryExpr = std::make_unique<TNRDExpression>();
  FieldValuesSubqueryExpr->ParseForRowSubqueryExpression(LLex);
  if (FieldValuesSubqueryExpr->Root() == nullptr)
    RaiseAtToken(30357, "Error parsing parameter '%s' at line %d, column %d");
  GetCurrentToken();
}

void TNRDSQLUpdate::ParseAssignments() {
  for (;;) {
    if (!IsNameType(Token.TokenType) && Token.TokenType != tktReservedWord)
      RaiseAtToken(30221, "Field name expected, but '%s' found at line %d, column %d");
    std::string name = Token.Text;
    NextOrRaise(30221);
    // table.column names the target itself; its pseudonym is no qualifier here.
    if (Token.TokenType == tktDot && SameText(name, TableName)) {
      NextOrRaise(30221);
      if (!IsNameType(Token.TokenType) && Token.TokenType != tktReservedWord)
        RaiseAtToken(30221, "Field name expected, but '%s' found at line %d, column %d");
      name = Token.Text;
      NextOrRaise(30221);
    }
    if (Token.Text != "=" || Token.TokenType == tktQuotedString || Token.TokenType == tktBracketedString)
      RaiseTokenExpected(30221, "=");
    NextOrRaise(30223);
    const TToken start = Token;
    auto value = std::make_unique<TNRDExpression>();
    value->ParseForValueExpression(LLex);
    if (value->Root() == nullptr) {
      Token = start;
      RaiseAtToken(30357, "Error parsing parameter '%s' at line %d, column %d");
    }
    FieldNames.push_back(name);
    FieldValues.push_back(std::move(value));
    if (!GetCurrentToken() || IsWord(rwWHERE)) return;
    if (Token.TokenType != tktComma) RaiseTokenExpected(30222, ",");
    NextOrRaise(30223);
  }
}

void TNRDSQLUpdate::ExecSQL(TNRDDataSet* query, bool, bool, bool&, TNRDAO*, TNRDCursor*) {
  RowsAffected = 0;
  const TNRDSQLContext context = ContextOf(query);
  TNRDSQLContextScope scope(context);
  const TNRDTableReference& target = TargetOf(*InternalSelecter);
  std::unique_ptr<TNRDTable> table;
  std::unique_ptr<TNRDDatabase> database;
  OpenExternalTable(query, target.DatabaseName, target.TableName, target.Password, target.InMemory || IntoMemory,
                    table, database);
  table->Open();
  Finally closer([&] { table->Close(); });
  TNRDCursor& cursor = *table->Cursor();
  TNRDSQLTargetRow targetRow(cursor, target.TableName, target.Pseudonym);
  TTargetWhere where = WhereOf(*InternalSelecter, context, targetRow);
  // A value with a nested SELECT reads the row through the target-row operator, so that a
  // correlated subquery sees it; the others read the cursor's fields directly.
  for (auto& value : FieldValues) {
    if (value->HasSubquery()) value->AssignAO(&targetRow, nullptr);
    else value->AssignCursor(&cursor, nullptr, nullptr);
  }
  if (FieldValuesSubqueryExpr) FieldValuesSubqueryExpr->AssignAO(&targetRow, nullptr);

  // The table's data stays locked for the statement (recursive within this thread).
  cursor.LockTableData();
  Finally dataLock([&] { cursor.UnlockTableData(); });
  if (InTransaction(*table)) {
    ChangeRows(*table, GatherRows(*table, where, targetRow), targetRow);
    return;
  }
  const TNRDSQLLockRetries& retries = SQLLockRetries();
  for (std::int32_t attempt = 1;; ++attempt) {
    TableLockRounds locks(cursor);
    cursor.BeginBatchUpdate();
    try {
      ChangeRows(*table, GatherRows(*table, where, targetRow), targetRow);
      cursor.EndBatchUpdate();
      return;
    } catch (...) {
      cursor.CancelBatchUpdate();
      RowsAffected = 0;
      if (attempt >= retries.UpdateAttempts || !BatchCanBeUndone(*table)) throw;
    }
    // The locks go with `locks` at the end of this pass; the next attempt takes them anew.
    Sleep(retries.UpdateRetryDelayMs);
  }
}

void TNRDSQLUpdate::ChangeRows(TNRDTable& table, const std::vector<TNRDPageItemID>& rows,
                               TNRDSQLTargetRow& targetRow) {
  TBookmark bookmark;
  std::vector<TField*> fields;
  for (const std::string& name : FieldNames) fields.push_back(&table.FieldByName(name));
  TNRDExprNode* rowSubquery = FieldValuesSubqueryExpr ? FieldValuesSubqueryExpr->Root() : nullptr;
  // Every new value is computed from the row as it was before the first of them is stored.
  auto compute = [&](std::vector<TNRDVariant>& values) {
    values.resize(fields.size());
    // The expressions read the row as the data set holds it (the cursor lends its buffer to the
    // data set only for the length of a read).
    void* record = table.ActiveRecordBuffer();
    targetRow.SetRecord(record);
    for (auto& value : FieldValues) value->AssignCursorBuffer(record, false);
    if (rowSubquery != nullptr) rowSubquery->ResetSubqueryFieldValues();
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const TNRDVariant* v = rowSubquery != nullptr ? rowSubquery->GetSubqueryFieldValue(static_cast<std::int32_t>(i))
                                                    : FieldValues[i]->GetValue(true);
      if (v == nullptr) throw ENRDException(30359, "Value is Null");
      values[i].Assign(*v, true);
    }
  };
  auto store = [&](std::vector<TNRDVariant>& values) {
    table.Edit();
    try {
      for (std::size_t i = 0; i < fields.size(); ++i) AssignVariantToField(&values[i], *fields[i]);
      table.Post();
    } catch (...) {
      table.Cancel();
      throw;
    }
    ++RowsAffected;
  };
  // A nested SELECT may read the table being changed: it must see the table as it was before the
  // statement, so every new value is computed before the first row is changed.
  bool readsFirst = rowSubquery != nullptr;
  for (auto& value : FieldValues) readsFirst = readsFirst || value->HasSubquery();
  if (readsFirst) {
    std::vector<std::vector<TNRDVariant>> values(rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
      GotoRecord(table, rows[r], bookmark);
      compute(values[r]);
    }
    for (std::size_t r = 0; r < rows.size(); ++r) {
      GotoRecord(table, rows[r], bookmark);
      store(values[r]);
    }
    return;
  }
  std::vector<TNRDVariant> values;
  for (const TNRDPageItemID& row : rows) {
    GotoRecord(table, row, bookmark);
    compute(values);
    store(values);
  }
}

// ----- DELETE -------------------------------------------------------------------------------------------------

TNRDSQLDelete::~TNRDSQLDelete() = default;

void TNRDSQLDelete::Parse() {
  const std::int32_t commandNo = LLex->CurrentCommandNo();
  if (commandNo < 0 || commandNo >= LLex->NumCommands() || LLex->Commands[static_cast<std::size_t>(commandNo)].Tokens.empty())
    throw ENRDException(30224, "Unexpected end of SQL command found at line %d, column %d",
                        {Token.LineNum, Token.ColumnNum});
  // DELETE FROM t WHERE c is read as select * FROM t WHERE c.
  std::vector<TToken>& tokens = LLex->Commands[static_cast<std::size_t>(commandNo)].Tokens;
  TToken select = MakeToken(tktReservedWord, "select", rwSELECT);
  select.LineNum = tokens.front().LineNum;
  select.ColumnNum = tokens.front().ColumnNum;
  tokens.insert(tokens.begin(), select);
  TToken& star = tokens[1];
  star.TokenType = tktString;
  star.ReservedWord = rwNone;
  star.Text = "*";
  LLex->SetCurrentTokenNo(0);
  InternalSelecter = ParseInternalSelect(*LLex, LQuery);
}

void TNRDSQLDelete::ExecSQL(TNRDDataSet* query, bool, bool, bool&, TNRDAO*, TNRDCursor*) {
  RowsAffected = 0;
  const TNRDSQLContext context = ContextOf(query);
  TNRDSQLContextScope scope(context);
  const TNRDTableReference& target = TargetOf(*InternalSelecter);
  std::unique_ptr<TNRDTable> table;
  std::unique_ptr<TNRDDatabase> database;
  OpenExternalTable(query, target.DatabaseName, target.TableName, target.Password, target.InMemory, table, database);
  table->Open();
  Finally closer([&] { table->Close(); });
  TNRDCursor& cursor = *table->Cursor();
  TNRDSQLTargetRow targetRow(cursor, target.TableName, target.Pseudonym);
  TTargetWhere where = WhereOf(*InternalSelecter, context, targetRow);

  auto deleteRows = [&] {
    TBookmark bookmark;
    for (const TNRDPageItemID& row : GatherRows(*table, where, targetRow)) {
      GotoRecord(*table, row, bookmark);
      table->Delete();
      ++RowsAffected;
    }
  };
  // The table's data stays locked for the statement (recursive within this thread).
  cursor.LockTableData();
  Finally dataLock([&] { cursor.UnlockTableData(); });
  if (InTransaction(*table)) {
    deleteRows();
    return;
  }
  TableLockRounds locks(cursor);
  cursor.BeginBatchUpdate();
  try {
    deleteRows();
    cursor.EndBatchUpdate();
  } catch (...) {
    cursor.CancelBatchUpdate();
    throw;
  }
}

}  // namespace nrd::sql
