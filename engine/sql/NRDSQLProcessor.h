// The SQL processor behind a query component: cuts the query's text into ';'-separated commands,
// builds one statement object per command, runs them in order, adds up their affected-row counts
// and hands back the result cursor of the last statement.
//
// Only the statement being run is alive: the next command frees it before its own statement is
// built, so of two SELECTs in one text only the last result survives, and a text that ends in a
// statement without a result gives no cursor. The returned cursor belongs to the last statement
// and lives until the next run or the processor's end.
// A failure ends the run: earlier statements stay done, FRowsAffected holds their sum.
// Not thread-safe: one processor belongs to one query.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/NRDQuery.h"
#include "engine/sql/NRDLexer.h"
#include "engine/sql/NRDSQLCommand.h"

namespace nrd {

class TNRDCursor;
class TNRDDataSet;

namespace sql {

class TNRDSQLProcessor : public TNRDQueryProcessor {
 public:
  explicit TNRDSQLProcessor(TNRDDataSet* query);
  ~TNRDSQLProcessor() override;

  void PrepareStatement(const std::string& sqlText) override;
  // Runs every statement; the last one's result cursor (at its first row), or null.
  TNRDCursor* OpenQuery() override;
  void ExecuteQuery() override;

  void SetRequestLive(bool value) override { FRequestLive = value; }
  void SetInMemory(bool value) override { FInMemory = value; }
  // The parameter objects stay for the next AddParam calls, which fill them again in order (a
  // query passes the same parameters before every run); the run drops any not filled again.
  void ClearParams() override { FParamsFilled = 0; }
  TNRDVariant& AddParam(const std::string& name) override;
  std::int64_t RowsAffected() const override { return FRowsAffected; }
  bool ReadOnly() const override { return FReadOnly; }

  TNRDDataSet* NRDQuery;
  bool FReadOnly = false;
  bool FRequestLive = false;
  bool FInMemory = false;
  std::int64_t FRowsAffected = 0;
  std::unique_ptr<TNRDLexer> FLex;
  std::string FSqlText;
  TNRDSQLParams FSQLParams;
  // Tables the statements keep open from one run to the next; closed after the statements.
  TNRDSQLOpenTables FOpenTables;
  // At most one statement: the one being run (or the last one run).
  std::vector<std::unique_ptr<TNRDSQLCommand>> Queries;

 private:
  // Builds the statement of the lexer's next command; false when none is left.
  bool ParseNextCommand();
  // True when the last run was one statement that ran through and may run again as parsed.
  bool FRunAgain = false;
  // Parameters filled since the last ClearParams; -1 when ClearParams was not called.
  std::int32_t FParamsFilled = -1;
  TNRDCursor* Run();
};

class TNRDLocalSQLProcessor : public TNRDSQLProcessor {
 public:
  using TNRDSQLProcessor::TNRDSQLProcessor;
};

// Builds the statement object of a SELECT text (a query expression) at the lexer's current
// command. The SELECT layer registers it; without one a SELECT raises 30039.
using TNRDSelectCommandFactory = std::unique_ptr<TNRDSQLCommand> (*)(TNRDLexer* lexer, TNRDDataSet* query);
void SetSelectCommandFactory(TNRDSelectCommandFactory factory);
TNRDSelectCommandFactory GetSelectCommandFactory();

// Registers the processor with the query component (idempotent); InstallExpressionHooks calls it.
void InstallSQLProcessor();

}  // namespace sql
}  // namespace nrd
