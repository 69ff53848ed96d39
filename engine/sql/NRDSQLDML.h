// The data-changing statements INSERT, UPDATE and DELETE. INSERT writes literal rows (or the rows
// of a SELECT) into a table of the query's database or of another database file; UPDATE and
// DELETE find their rows through the table with the WHERE condition and change or delete them
// under table locks with bounded retries. Each counts its rows in RowsAffected.
//
// UPDATE and DELETE parse their target and WHERE as an internal "select * from ..." whose only
// table is the target. Its WHERE becomes the table cursor's SQL filter, so an equality or range on
// an indexed column is answered through the index. The matching rows are gathered first and
// changed afterwards: a row that an UPDATE makes match again is never visited twice.
// Nested SELECTs in SET and WHERE may read the row being changed (correlated subqueries): its
// columns answer to the table's name or pseudonym. They read every table as it was before the
// statement: the rows are gathered before any is deleted, and when a SET value has a nested
// SELECT every new value is computed before the first row is changed.
//
// A failed record is cancelled before the error passes on; a literal-row INSERT that fails in its
// third row keeps the first two. Locks taken are always released. Outside a transaction a failed
// UPDATE, DELETE or INSERT ... SELECT on a disk table is cancelled as a whole; a MEMORY or TEMP
// table keeps the rows changed before the failure, so a failed UPDATE there is not run again
// (running it again would change those rows twice).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/NRDDB.h"
#include "engine/sql/NRDExpressions.h"
#include "engine/sql/NRDSQLCommand.h"

namespace nrd::sql {

class TNRDSQLInsert : public TNRDSQLCommand {
 public:
  using TNRDSQLCommand::TNRDSQLCommand;
  ~TNRDSQLInsert() override;
  void Parse() override;
  void ExecSQL(TNRDDataSet* query, bool isRoot, bool requestLive, bool& readOnly, TNRDAO* parentQueryAO,
               TNRDCursor* parentCursor) override;
  // Literal rows whose every parameter is a value of its own (VALUES (:a, :b)) take new values.
  bool RebindParams(const TNRDSQLParams& params) override;

  std::string TableName, DatabaseFileName, Password;
  std::vector<std::string> FieldNames;
  // One row per VALUES list, each value an expression.
  std::vector<std::vector<std::unique_ptr<TNRDExpression>>> FieldValues;
  // INSERT ... SELECT: the SELECT statement, or null.
  std::unique_ptr<TNRDSQLCommand> InternalSelecter;

 private:
  void ParseValues();
  void ParseSelect();
  void InsertLiteralRows(TNRDTable& table);
  void InsertSelectedRows(TNRDDataSet* query, bool isRoot, TNRDTable& table);
  // Line and column of each VALUES row, for its messages.
  std::vector<std::pair<std::int32_t, std::int32_t>> FRowPositions;
  // The VALUES items that are one parameter alone: where they are and which parameter they name.
  struct TParamSlot {
    std::size_t Row = 0, Column = 0;
    TToken Token;                         // as the first parse read it
    const TNRDSQLParam* Param = nullptr;  // the parameter of the run being bound
  };
  std::vector<TParamSlot> FParamSlots;
  std::int32_t FParamTokens = 0;  // parameter tokens in the whole command
};

// The waits of UPDATE and DELETE for their table lock: `Rounds` tries, `DelayMs` apart, with the
// table data unlocked in between. Tests shorten them; the program keeps the defaults.
struct TNRDSQLLockRetries {
  std::int32_t Rounds = 1125;
  std::int32_t DelayMs = 80;
  // INSERT ... SELECT waits inside the lock manager: that many tries, that far apart.
  std::int32_t InsertTries = 1125;
  std::int32_t InsertDelayMs = 80;
  // UPDATE runs a failed batch again up to this many attempts in all, this far apart.
  std::int32_t UpdateAttempts = 15;
  std::int32_t UpdateRetryDelayMs = 100;
};
TNRDSQLLockRetries& SQLLockRetries();

class TNRDSQLUnion;
class TNRDSQLSelect;
class TNRDSQLTargetRow;

// UPDATE [MEMORY] [file .] table [pseudonym] [PASSWORD pw] SET column = value {, column = value}
// [WHERE condition], or SET (column {, column}) = row-subquery.
class TNRDSQLUpdate : public TNRDSQLCommand {
 public:
  using TNRDSQLCommand::TNRDSQLCommand;
  ~TNRDSQLUpdate() override;
  void Parse() override;
  void ExecSQL(TNRDDataSet* query, bool isRoot, bool requestLive, bool& readOnly, TNRDAO* parentQueryAO,
               TNRDCursor* parentCursor) override;

  std::string DatabaseFileName, TableName, Password;
  std::vector<std::string> FieldNames;
  std::vector<std::unique_ptr<TNRDExpression>> FieldValues;
  bool IsFieldValuesSubquery = false;
  std::unique_ptr<TNRDExpression> FieldValuesSubqueryExpr;
  // Holds the internal SELECT's tokens. Declared before InternalSelecter so that it outlives it:
  // the SELECT's nested queries read their text from it.
  std::unique_ptr<TNRDLexer> FSelectLexer;
  std::unique_ptr<TNRDSQLUnion> InternalSelecter;
  std::string FTablePseudonym;

 private:
  void ParseAssignments();
  void ParseRowForm();
  // Changes the gathered rows; RowsAffected counts them. `targetRow` is the row the values with a
  // nested SELECT read.
  void ChangeRows(TNRDTable& table, const std::vector<TNRDPageItemID>& rows, TNRDSQLTargetRow& targetRow);
};

// DELETE FROM [MEMORY] [file .] table [pseudonym] [PASSWORD pw] [WHERE condition].
class TNRDSQLDelete : public TNRDSQLCommand {
 public:
  using TNRDSQLCommand::TNRDSQLCommand;
  ~TNRDSQLDelete() override;
  void Parse() override;
  void ExecSQL(TNRDDataSet* query, bool isRoot, bool requestLive, bool& readOnly, TNRDAO* parentQueryAO,
               TNRDCursor* parentCursor) override;

  std::unique_ptr<TNRDSQLUnion> InternalSelecter;
  std::string TableName;
  bool FullDelete = false;
};

}  // namespace nrd::sql
