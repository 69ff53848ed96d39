// INSERT, UPDATE and DELETE.
#include "engine/sql/NRDSQLDML.h"

#include "engine/components/NRDDataSet.h"
#include "engine/components/NRDDatabase.h"
#include "engine/components/NRDTable.h"
#include "engine/foundation/NRDConverts.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDTypes.h"
#include "engine/sql/NRDSQLProcessor.h"
#include "engine/storage/NRDCursor.h"

namespace nrd::sql {

namespace {

bool IsNameType(TTokenType t) { return t == tktString || t == tktQuotedString || t == tktBracketedString; }

constexpr std::string_view kCountMismatch =
    "Number of field names does not equal the number of field values: %d <> %d. Found at line %d, column %d";

// Closes a table component on every way out.
class CloseOnExit {
 public:
  explicit CloseOnExit(TNRDTable& table) : FTable(table) {}
  ~CloseOnExit() {
    try {
      FTable.Close();
    } catch (...) {
    }
  }
  CloseOnExit(const CloseOnExit&) = delete;
  CloseOnExit& operator=(const CloseOnExit&) = delete;

 private:
  TNRDTable& FTable;
};

}  // namespace

// ----- INSERT -------------------------------------------------------------------------------------------------

TNRDSQLInsert::~TNRDSQLInsert() = default;

void TNRDSQLInsert::Parse() {
  if (!GetCurrentToken()) throw ENRDException(30204, "Blank SQL command");
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
      auto e = std::make_unique<TNRDExpression>();
      e->ParseForValueExpression(LLex);
      if (e->Root() == nullptr) {
        Token = start;
        RaiseAtToken(30357, "Error parsing parameter '%s' at line %d, column %d");
      }
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

void TNRDSQLInsert::ExecSQL(TNRDDataSet* query, bool isRoot, bool, bool&, TNRDAO*, TNRDCursor*) {
  RowsAffected = 0;
  std::unique_ptr<TNRDTable> table;
  std::unique_ptr<TNRDDatabase> database;
  OpenExternalTable(query, DatabaseFileName, TableName, Password, IntoMemory, table, database);
  table->Open();
  CloseOnExit closer(*table);
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
  if (!cursor.LockTable(ltRW, 1125, 80, true)) throw ENRDException(20224, "Table is locked");
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

}  // namespace nrd::sql
