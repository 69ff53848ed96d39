// The data-changing statements INSERT, UPDATE and DELETE. INSERT writes literal rows (or the rows
// of a SELECT) into a table of the query's database or of another database file; UPDATE and
// DELETE find their rows through the table with the WHERE condition and change or delete them
// under table locks with bounded retries. Each counts its rows in RowsAffected.
//
// A failed record is cancelled before the error passes on; a literal-row INSERT that fails in its
// third row keeps the first two. Locks taken are always released.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
};

}  // namespace nrd::sql
