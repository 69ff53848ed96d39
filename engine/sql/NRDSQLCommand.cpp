// The statement base, its shared token routines and the transaction statements.
#include "engine/sql/NRDSQLCommand.h"

#include "engine/components/NRDDataSet.h"
#include "engine/components/NRDDatabase.h"
#include "engine/components/NRDTable.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDTypes.h"

namespace nrd::sql {

namespace {

constexpr std::string_view kUnexpectedEnd = "Unexpected end of SQL command found at line %d, column %d";
constexpr std::string_view kTokenExpected = "Token '%s' expected, but '%s' found at line %d, column %d";

bool IsNameType(TTokenType t) { return t == tktString || t == tktQuotedString || t == tktBracketedString; }

// A fresh database name cannot clash with a name in use except by the rarest accident; a few
// tries settle it, and a session that refuses every name is an error, not an endless loop.
constexpr int kNameTries = 16;

}  // namespace

TNRDSQLCommand::TNRDSQLCommand(TNRDLexer* lexer, TNRDDataSet* query) : LLex(lexer), LQuery(query) {}

TNRDSQLCommand::~TNRDSQLCommand() = default;

void TNRDSQLCommand::ExecSQL(TNRDDataSet*, bool, bool, bool&, TNRDAO*, TNRDCursor*) {}

bool TNRDSQLCommand::AtEnd() const {
  TToken current;
  return !LLex->GetCurrentToken(current);
}

bool TNRDSQLCommand::GetCurrentToken() { return LLex->GetCurrentToken(Token); }

bool TNRDSQLCommand::GetNextToken() {
  TToken next;
  if (!LLex->GetNextToken(next)) return false;
  Token = std::move(next);
  return true;
}

void TNRDSQLCommand::RaiseAtToken(int code, std::string_view format) const {
  throw ENRDException(code, format, {Token.Text, Token.LineNum, Token.ColumnNum});
}

void TNRDSQLCommand::RaiseTokenExpected(int code, std::string_view expected) const {
  throw ENRDException(code, kTokenExpected, {expected, Token.Text, Token.LineNum, Token.ColumnNum});
}

void TNRDSQLCommand::RaiseUnexpectedEnd(int code) const {
  throw ENRDException(code, kUnexpectedEnd, {Token.LineNum, Token.ColumnNum});
}

void TNRDSQLCommand::NextOrRaise(int endCode) {
  if (!GetNextToken()) RaiseUnexpectedEnd(endCode);
}

bool TNRDSQLCommand::GetNextTokenOfTypes(std::initializer_list<TTokenType> types, int code,
                                         std::string_view message) {
  if (!GetNextToken()) {
    if (code == -1) return false;
    RaiseUnexpectedEnd(30161);
  }
  if (types.size() == 0 || code == -1) return true;
  for (TTokenType t : types)
    if (Token.TokenType == t) return true;
  RaiseAtToken(code, message);
}

std::string TNRDSQLCommand::NameText() const {
  if (Token.TokenType == tktParameter && Token.ParamValue != nullptr)
    return Token.ParamValue->IsNull() ? std::string() : Token.ParamValue->AsAnsiString();
  return Token.Text;
}

void TNRDSQLCommand::ParseTableName(TNRDTableNameParts& parts) {
  parts = TNRDTableNameParts{};
  constexpr std::string_view kMsg = "Table name expected, but '%s' found at line %d, column %d";
  auto isTableToken = [this] {
    return IsNameType(Token.TokenType) || Token.TokenType == tktReservedWord || Token.TokenType == tktParameter;
  };
  if (!isTableToken()) RaiseAtToken(30230, kMsg);
  if (IsWord(rwMEMORY)) {
    parts.InMemory = true;
    if (!GetNextToken()) RaiseUnexpectedEnd(30231);
    if (!isTableToken()) RaiseAtToken(30231, kMsg);
  }
  parts.TableName = NameText();
  if (GetNextToken() && Token.TokenType == tktDot) {
    // The name read was the database file; the table name follows the dot.
    parts.DatabaseFileName = parts.TableName;
    if (!GetNextToken()) RaiseUnexpectedEnd(30231);
    if (!isTableToken()) RaiseAtToken(30231, kMsg);
    parts.TableName = NameText();
    GetNextToken();
  }
  if (!CheckPseudonym(parts.Pseudonym)) parts.Pseudonym.clear();
  if (!AtEnd() && IsWord(rwPASSWORD)) {
    if (!GetNextToken() || (Token.TokenType != tktQuotedString && Token.TokenType != tktParameter))
      RaiseAtToken(30238, "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at line %d, column %d");
    parts.Password = NameText();
    GetNextToken();
  }
}

bool TNRDSQLCommand::CheckPseudonym(std::string& pseudonym) {
  TToken current;
  // At the end of the command there is nothing to take (Token keeps the last token read).
  if (!LLex->GetCurrentToken(current)) return false;
  if (IsReservedWordToken(current, rwAS)) {
    if (!GetNextToken()) RaiseUnexpectedEnd(30177);
    if (!IsNameType(Token.TokenType) && Token.TokenType != tktParameter)
      RaiseAtToken(30177, "Field pseudonym expected, but '%s' found at line %d, column %d");
    pseudonym = NameText();
    GetNextToken();
    return true;
  }
  if (current.TokenType == tktString || current.TokenType == tktBracketedString ||
      current.TokenType == tktParameter) {
    Token = current;
    pseudonym = NameText();
    GetNextToken();
    return true;
  }
  return false;
}

void TNRDSQLCommand::ParseNameList(std::vector<std::string>& list) {
  TToken current;
  if (!LLex->GetCurrentToken(current) || !IsNameType(current.TokenType)) {
    if (LLex->GetCurrentToken(current)) Token = current;
    throw ENRDException(10408, "Field name expected, but expression '%s...' found at line %d, column %d",
                        {Token.Text, Token.LineNum, Token.ColumnNum});
  }
  Token = current;
  for (;;) {
    list.push_back(Token.Text);
    if (!GetNextToken() || Token.TokenType != tktComma) return;
    if (!GetNextToken()) RaiseUnexpectedEnd(10406);
    if (!IsNameType(Token.TokenType)) RaiseAtToken(10406, "Unexpected token '%s' found at line %d, column %d");
  }
}

void TNRDSQLCommand::OpenExternalTable(TNRDDataSet* query, const std::string& databaseFileName,
                                       const std::string& tableName, const std::string& password, bool inMemory,
                                       std::unique_ptr<TNRDTable>& table, std::unique_ptr<TNRDDatabase>& database) {
  database = std::make_unique<TNRDDatabase>(nullptr);
  if (TNRDDatabase* own = query->Database()) {
    database->SetMultiUser(own->MultiUser());
    database->SetDisableTempFiles(own->DisableTempFiles());
  }
  database->SetDatabaseFileName(databaseFileName);
  database->SetSessionName(query->SessionName());
  for (int attempt = 1;; ++attempt) {
    try {
      database->SetDatabaseName(MakeUniqueName("TEMP_DB"));
      break;
    } catch (const Exception&) {
      if (attempt >= kNameTries) throw;
    }
  }
  database->SetPassword(password);
  database->SetSilentMode(true);
  table = std::make_unique<TNRDTable>(nullptr);
  table->SetSessionName(query->SessionName());
  if (!databaseFileName.empty()) table->SetDatabaseName(database->DatabaseName());
  else table->SetDatabaseName(query->DatabaseName());
  table->SetTableName(tableName);
  if (inMemory || query->InMemory()) table->SetInMemory(true);
}

struct TNRDSQLOpenTables::Entry {
  std::string Key;
  // The database goes after the table that names it.
  std::unique_ptr<TNRDDatabase> Database;
  std::unique_ptr<TNRDTable> Table;
};

TNRDSQLOpenTables::TNRDSQLOpenTables() = default;

TNRDSQLOpenTables::~TNRDSQLOpenTables() {
  for (Entry& e : FEntries) {
    try {
      e.Table->Close();
    } catch (...) {
    }
  }
}

TNRDTable* TNRDSQLOpenTables::Find(const std::string& key) const {
  for (const Entry& e : FEntries)
    if (e.Key == key) return e.Table.get();
  return nullptr;
}

TNRDTable& TNRDSQLOpenTables::Keep(std::string key, std::unique_ptr<TNRDTable> table,
                                   std::unique_ptr<TNRDDatabase> database) {
  FEntries.push_back(Entry{std::move(key), std::move(database), std::move(table)});
  return *FEntries.back().Table;
}

void TNRDSQLCommand::FreeExternalTable(std::unique_ptr<TNRDTable>& table, std::unique_ptr<TNRDDatabase>& database) {
  table.reset();
  database.reset();
}

void TNRDSQLCommand::AssignVariantToField(const TNRDVariant* value, TField& field) {
  if (value == nullptr) throw ENRDException(30359, "Value is Null");
  if (value->IsNull()) {
    field.Clear();
    return;
  }
  switch (field.DataType()) {
    case ftInteger: field.SetAsInteger(value->AsInteger()); break;
    case ftLargeint: field.SetAsLargeInt(value->AsInt64()); break;
    case ftDate: field.SetAsDateTime(value->AsTDate()); break;
    case ftTime: field.SetAsDateTime(value->AsTTime()); break;
    case ftDateTime:
    case ftTimeStamp: field.SetAsDateTime(value->AsTDateTime()); break;
    case ftBlob:
    case ftGraphic:
    case ftMemo:
    case ftFmtMemo:
      if (value->IsWideStringDataType()) field.SetAsWideString(value->AsWideString());
      else if (value->IsStringDataType()) field.SetAsString(value->AsAnsiString());
      else
        field.SetAsBytes(std::string_view(static_cast<const char*>(value->pData()),
                                          static_cast<std::size_t>(value->DataSize())));
      break;
    default: {
      // An 8-bit text into a field that is no byte field: what SetAsVariant does with it, without
      // making a variant copy of the text first.
      const TNRDBaseFieldType t = FieldTypeToBaseType(field.DataType());
      const bool bytes = t == bftBlob || t == bftBytes || t == bftVarBytes || t == bftClob;
      if ((value->DataType() == bftVarchar || value->DataType() == bftChar) && !bytes)
        field.SetAsString(value->AsAnsiString());
      else
        field.SetAsVariant(value->AsVariant());
      break;
    }
  }
}

TNRDDatabase& QueryDatabase(TNRDDataSet* query, int code) {
  if (query == nullptr || query->Database() == nullptr)
    throw ENRDException(code, "Database is not connected");
  return *query->Database();
}

// ----- transactions ----------------------------------------------------------------------------------

void TNRDSQLStartTransaction::Parse() {
  if (!GetCurrentToken()) throw ENRDException(30457, "Blank SQL command");
  if (!IsWord(rwSTART)) RaiseTokenExpected(30458, "START");
  if (!GetNextToken()) RaiseUnexpectedEnd(30459);
  if (!IsWord(rwTRANSACTION)) RaiseTokenExpected(30460, "TRANSACTION");
}

void TNRDSQLStartTransaction::ExecSQL(TNRDDataSet* query, bool, bool, bool&, TNRDAO*, TNRDCursor*) {
  QueryDatabase(query, 30457).StartTransaction();
}

void TNRDSQLCommit::Parse() {
  if (!GetCurrentToken()) throw ENRDException(30461, "Blank SQL command");
  if (!IsWord(rwCOMMIT)) RaiseTokenExpected(30462, "COMMIT");
  while (GetNextToken())
    if (IsWord(rwFLUSH)) FFlush = true;
}

void TNRDSQLCommit::ExecSQL(TNRDDataSet* query, bool, bool, bool&, TNRDAO*, TNRDCursor*) {
  QueryDatabase(query, 30461).Commit(FFlush);
}

void TNRDSQLRollback::Parse() {
  if (!GetCurrentToken()) throw ENRDException(30463, "Blank SQL command");
  if (!IsWord(rwROLLBACK)) RaiseTokenExpected(30464, "ROLLBACK");
}

void TNRDSQLRollback::ExecSQL(TNRDDataSet* query, bool, bool, bool&, TNRDAO*, TNRDCursor*) {
  QueryDatabase(query, 30463).Rollback();
}

}  // namespace nrd::sql
