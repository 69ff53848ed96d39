// The base of every SQL statement object, with the token routines all statement parsers share
// (table-name syntax, pseudonyms, name lists, messages that name the offending token), the opening
// of a table that may live in another database file, the store of an engine value into a data-set
// field, and the three transaction statements.
//
// A statement is built by MakeCommand<T>(lexer, query), which constructs it and parses it from the
// lexer's current command (C++ cannot dispatch Parse from a base constructor). Execution happens
// only through ExecSQL. The lexer and the query are borrowed: both outlive the statement.
// Failures raise ENRDException with the code of the raise site. Not thread-safe.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/sql/NRDLexer.h"

namespace nrd {

class TNRDCursor;
class TNRDDataSet;
class TNRDDatabase;
class TNRDTable;
class TField;

namespace sql {

class TNRDAO;

// The parts of a table reference: [MEMORY] [file .] table [pseudonym] [PASSWORD pw].
struct TNRDTableNameParts {
  std::string DatabaseFileName;
  std::string TableName;
  bool InMemory = false;
  std::string Password;
  std::string Pseudonym;
};

class TNRDSQLOpenTables;

class TNRDSQLCommand {
 public:
  TNRDSQLCommand(TNRDLexer* lexer, TNRDDataSet* query);
  virtual ~TNRDSQLCommand();
  TNRDSQLCommand(const TNRDSQLCommand&) = delete;
  TNRDSQLCommand& operator=(const TNRDSQLCommand&) = delete;

  // Reads the statement from the lexer (MakeCommand calls it once).
  virtual void Parse() {}
  // Runs the statement. `readOnly` tells whether its result can be edited; the parent operator
  // and cursor are given for subqueries.
  virtual void ExecSQL(TNRDDataSet* query, bool isRoot, bool requestLive, bool& readOnly, TNRDAO* parentQueryAO,
                       TNRDCursor* parentCursor);
  // Takes new parameter values for a run of the statement as parsed, without parsing it again;
  // false when the statement cannot (then it is parsed again from a new scan of the text).
  virtual bool RebindParams(const TNRDSQLParams&) { return false; }
  // The cursor of the statement's result (owned by the statement's result data set), or null.
  virtual TNRDCursor* GetResultCursor() { return nullptr; }
  virtual TNRDDataSet* GetResultDataset() { return nullptr; }

  // Token routines. The current token is kept in Token.
  bool GetCurrentToken();
  bool GetNextToken();
  // Advances. At the end: 30161 unless code is -1 (then false). A token of a type outside a
  // non-empty `types` raises `code` with `message` ('%s' token text, line, column) unless code is -1.
  bool GetNextTokenOfTypes(std::initializer_list<TTokenType> types, int code, std::string_view message);
  // The current token may be a name, quoted or bracketed name, reserved word or parameter.
  void ParseTableName(TNRDTableNameParts& parts);
  bool CheckPseudonym(std::string& pseudonym);
  // A comma-separated list of names from the current token on; ends on the first token after a
  // name that is not a comma.
  void ParseNameList(std::vector<std::string>& list);

  // A database component (on `databaseFileName`, or none when it is empty) and a table component
  // for `tableName`, neither opened; see the .cpp for the settings they take from the query.
  static void OpenExternalTable(TNRDDataSet* query, const std::string& databaseFileName, const std::string& tableName,
                                const std::string& password, bool inMemory, std::unique_ptr<TNRDTable>& table,
                                std::unique_ptr<TNRDDatabase>& database);
  static void FreeExternalTable(std::unique_ptr<TNRDTable>& table, std::unique_ptr<TNRDDatabase>& database);

  // Stores `value` into `field` (which must be in an editing state): null pointer 30359, NULL
  // clears the field, otherwise through the accessor of the field's type.
  static void AssignVariantToField(const TNRDVariant* value, TField& field);

  // Message helpers: every text names the current token (its text, line and column).
  [[noreturn]] void RaiseAtToken(int code, std::string_view format) const;
  // "Token '%s' expected, but '%s' found at line %d, column %d".
  [[noreturn]] void RaiseTokenExpected(int code, std::string_view expected) const;
  // "Unexpected end of SQL command found at line %d, column %d" at the last token read.
  [[noreturn]] void RaiseUnexpectedEnd(int code) const;
  // Advances; at the end raises `endCode` with the unexpected-end text.
  void NextOrRaise(int endCode);
  // True when the lexer stands past the command's last token (Token keeps the last one read).
  bool AtEnd() const;
  bool IsWord(TReservedWord word) const { return IsReservedWordToken(Token, word); }
  // The text of a name token; a parameter gives its value as text.
  std::string NameText() const;

  TNRDLexer* LLex;
  TToken Token;
  TNRDDataSet* LQuery;
  std::int32_t RowsAffected = 0;
  bool IntoMemory = false;
  // Tables the statement may keep open for its next run (the processor's), or null.
  TNRDSQLOpenTables* OpenTables = nullptr;
};

// The target tables that the statements of one processor keep open between its runs, so that a
// prepared INSERT run once per row does not open its table (metadata, page managers, lock files)
// once per row. A table stays open, and so in use, until the processor ends: when the query lets
// go of its statement (UnPrepare, a new SQL text, the query's end). A query that is not prepared
// lets go after every run, so only a prepared query keeps anything.
class TNRDSQLOpenTables {
 public:
  TNRDSQLOpenTables();
  ~TNRDSQLOpenTables();
  TNRDSQLOpenTables(const TNRDSQLOpenTables&) = delete;
  TNRDSQLOpenTables& operator=(const TNRDSQLOpenTables&) = delete;
  // The table kept under `key`, or null.
  TNRDTable* Find(const std::string& key) const;
  // Keeps the table (open) and the database component it may need, under `key`.
  TNRDTable& Keep(std::string key, std::unique_ptr<TNRDTable> table, std::unique_ptr<TNRDDatabase> database);

 private:
  struct Entry;
  std::vector<Entry> FEntries;
};

// Builds a statement over the lexer's current command and parses it.
template <typename T>
std::unique_ptr<T> MakeCommand(TNRDLexer* lexer, TNRDDataSet* query) {
  auto command = std::make_unique<T>(lexer, query);
  command->Parse();
  return command;
}

// START TRANSACTION.
class TNRDSQLStartTransaction : public TNRDSQLCommand {
 public:
  using TNRDSQLCommand::TNRDSQLCommand;
  void Parse() override;
  void ExecSQL(TNRDDataSet* query, bool isRoot, bool requestLive, bool& readOnly, TNRDAO* parentQueryAO,
               TNRDCursor* parentCursor) override;
};

// COMMIT [WORK] [FLUSH]: any further words are read; FLUSH among them writes the buffers through.
class TNRDSQLCommit : public TNRDSQLCommand {
 public:
  using TNRDSQLCommand::TNRDSQLCommand;
  void Parse() override;
  void ExecSQL(TNRDDataSet* query, bool isRoot, bool requestLive, bool& readOnly, TNRDAO* parentQueryAO,
               TNRDCursor* parentCursor) override;
  bool FFlush = false;
};

// ROLLBACK [WORK].
class TNRDSQLRollback : public TNRDSQLCommand {
 public:
  using TNRDSQLCommand::TNRDSQLCommand;
  void Parse() override;
  void ExecSQL(TNRDDataSet* query, bool isRoot, bool requestLive, bool& readOnly, TNRDAO* parentQueryAO,
               TNRDCursor* parentCursor) override;
};

// The database component a statement runs against: the query's bound database (20003 when the
// query has none, e.g. a transaction statement outside a prepared query).
TNRDDatabase& QueryDatabase(TNRDDataSet* query, int code);

}  // namespace sql
}  // namespace nrd
