// SELECT and query expressions: parsing a SELECT text (UNION, EXCEPT/MINUS, INTERSECT, the select
// list, FROM with joins and subqueries, WHERE, GROUP BY, HAVING, ORDER BY, TOP, INTO), building the
// relational operator tree from it (BuildAOTree), running it, and the runner through which nested
// SELECTs of expressions execute (an uncorrelated one once, a correlated one per outer row).
//
// A statement runs for a TNRDSQLContext: the database and session its tables are opened in.
// Errors raise ENRDException. Not thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/NRDLexer.h"
#include "engine/sql/NRDRelOps.h"
#include "engine/sql/NRDSQLCommand.h"

namespace nrd::sql {

// Where a statement's tables live.
struct TNRDSQLContext {
  std::string DatabaseName = "MEMORY";
  std::string SessionName;
  bool InMemory = false;
};

class TNRDSQLUnion;

enum TNRDTableType : std::uint8_t { attTable, attJoinedTable, attSubQuery };

class TNRDTableReference {
 public:
  TNRDTableType TableType = attTable;
  std::string DatabaseName, TableName, Pseudonym, Password;
  bool InMemory = false;
  bool NaturalJoin = false;
  TNRDJoinType JoinType = ajtInner;
  std::unique_ptr<TNRDTableReference> LeftTable, RightTable;
  std::vector<std::string> UsingFields;
  std::unique_ptr<TNRDExpression> SearchCondition;
  std::unique_ptr<TNRDSQLUnion> SubQuery;
  void MakeJoin(std::unique_ptr<TNRDTableReference> rightNode, TNRDJoinType jType, bool isNatural,
                std::vector<std::string> fields, std::unique_ptr<TNRDExpression> onCondition);
};

class TNRDSQLCursorCommand : public TNRDSQLCommand {
 public:
  ~TNRDSQLCursorCommand() override;
  virtual bool AllConditionsApplied() = 0;
  virtual std::unique_ptr<TNRDAO> BuildAOTree(const TNRDSQLContext& context, bool requestLive, TNRDAO* parentQueryAO,
                                              TNRDCursor* parentCursor, bool allowNotAppliedConditions) = 0;
  // Builds, locks, runs; the result stays until the next run or the statement's end.
  void ExecSQL(const TNRDSQLContext& context, TNRDAO* parentQueryAO = nullptr, TNRDCursor* parentCursor = nullptr);
  // The processor's entry: runs for the query's database and session; the result is read-only.
  void ExecSQL(TNRDDataSet* query, bool isRoot, bool requestLive, bool& readOnly, TNRDAO* parentQueryAO,
               TNRDCursor* parentCursor) override;
  TNRDTable* GetResultDataset() override;
  TNRDCursor* GetResultCursor() override;

  std::string IntoDatabase, IntoTable;
  bool IntoImmediate = false;
  std::vector<TNRDSortSpecification> OrderBySpecs;
  std::unique_ptr<TNRDAO> RootAO;
  std::int32_t RowsAffected = 0;

 protected:
  TNRDSQLCursorCommand(TNRDLexer& lexer, TNRDDataSet* query) : TNRDSQLCommand(&lexer, query) {}
  void ParseOrderBy();
  void ApplyOrderBy(TNRDAO& ao);
  // Token helpers over the lexer's current token.
  TToken Current() const;
  void Advance();
  bool IsAt(TReservedWord w) const;
};

class TNRDSQLSelect : public TNRDSQLCursorCommand {
 public:
  explicit TNRDSQLSelect(TNRDLexer& lexer, TNRDDataSet* query = nullptr);
  bool AllConditionsApplied() override;
  std::unique_ptr<TNRDAO> BuildAOTree(const TNRDSQLContext& context, bool requestLive, TNRDAO* parentQueryAO,
                                      TNRDCursor* parentCursor, bool allowNotAppliedConditions) override;

  bool Distinct = false;
  std::int32_t TopRowCount = -1, FirstRowNo = -1;
  bool AllFields = false;
  std::vector<TNRDSelectListItem> SelectList;
  std::vector<std::unique_ptr<TNRDTableReference>> FromTables;
  std::unique_ptr<TNRDExpression> SearchCondition;
  TNRDFields GroupByFields;
  std::unique_ptr<TNRDExpression> HavingCondition;
  bool FSubqueryHasNotAppliedConditions = false;
  bool FHasNotAppliedConditions = false;

 private:
  void Parse();
  std::unique_ptr<TNRDTableReference> ParseTableReference();
  void ParseJoins(std::unique_ptr<TNRDTableReference>& ref);
  std::unique_ptr<TNRDAO> BuildReference(TNRDTableReference& ref, const TNRDSQLContext& context, TNRDAO* parentQueryAO,
                                         TNRDCursor* parentCursor);
};

enum TNRDQueryExprType : std::uint8_t { qetSelect, qetUnion, qetExcept, qetIntersect };

class TNRDQueryExprNode {
 public:
  TNRDQueryExprType NodeType = qetSelect;
  std::unique_ptr<TNRDQueryExprNode> Left, Right;
  bool All = false, Corresponding = false;
  std::vector<std::string> CorrespondingFields;
  bool HasCorrespondingList = false;
  std::unique_ptr<TNRDSQLSelect> SelectCommand;
  bool AllConditionsApplied() const;
  bool HasInto() const;
};

class TNRDSQLUnion : public TNRDSQLCursorCommand {
 public:
  // Parses the query expression at the lexer's current token; leaves the lexer after it.
  explicit TNRDSQLUnion(TNRDLexer& lexer, TNRDDataSet* query = nullptr);
  bool AllConditionsApplied() override;
  std::unique_ptr<TNRDAO> BuildAOTree(const TNRDSQLContext& context, bool requestLive, TNRDAO* parentQueryAO,
                                      TNRDCursor* parentCursor, bool allowNotAppliedConditions) override;
  std::unique_ptr<TNRDQueryExprNode> FRootNode;

 private:
  std::unique_ptr<TNRDQueryExprNode> ParseExpression();
  std::unique_ptr<TNRDQueryExprNode> ParseTerm();
  std::unique_ptr<TNRDQueryExprNode> ParsePrimary();
  std::unique_ptr<TNRDAO> BuildNode(TNRDQueryExprNode& node, const TNRDSQLContext& context, bool requestLive,
                                    TNRDAO* parentQueryAO, TNRDCursor* parentCursor, bool allow);
};

// The context of a query data set: its database, session and in-memory flag.
TNRDSQLContext ContextOf(TNRDDataSet* query);
// Tells the SQL processor that SELECT texts are built here.
void InstallSelectCommands();

// Runs `sql` (one SELECT text) for the context and gives the statement holding its result.
std::unique_ptr<TNRDSQLUnion> RunSelect(TNRDLexer& lexer, const TNRDSQLContext& context);

// Makes nested SELECTs of expressions run through this layer, in the given context, while alive.
class TNRDSQLContextScope {
 public:
  explicit TNRDSQLContextScope(const TNRDSQLContext& context);
  ~TNRDSQLContextScope();
  TNRDSQLContextScope(const TNRDSQLContextScope&) = delete;
  TNRDSQLContextScope& operator=(const TNRDSQLContextScope&) = delete;

 private:
  const TNRDSQLContext* FPrevious;
  TNRDSubqueryRunner* FPreviousRunner;
};

}  // namespace nrd::sql
