// The SQL processor: command dispatch and the run of a query's statements.
#include "engine/sql/NRDSQLProcessor.h"

#include "engine/components/NRDDataSet.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/sql/NRDSQLDDL.h"
#include "engine/sql/NRDSQLDML.h"
#include "engine/sql/NRDSQLSelect.h"
#include "engine/storage/NRDCursor.h"

namespace nrd::sql {

namespace {

TNRDSelectCommandFactory gSelectFactory = nullptr;

}  // namespace

void SetSelectCommandFactory(TNRDSelectCommandFactory factory) { gSelectFactory = factory; }
TNRDSelectCommandFactory GetSelectCommandFactory() { return gSelectFactory; }

TNRDSQLProcessor::TNRDSQLProcessor(TNRDDataSet* query) : NRDQuery(query) {}

TNRDSQLProcessor::~TNRDSQLProcessor() {
  // The statements borrow the lexer: they go first.
  Queries.clear();
  FLex.reset();
}

void TNRDSQLProcessor::PrepareStatement(const std::string& sqlText) {
  FSqlText = sqlText;
  FRunAgain = false;
}

TNRDVariant& TNRDSQLProcessor::AddParam(const std::string& name) {
  if (FParamsFilled < 0) FParamsFilled = FSQLParams.Count();
  TNRDSQLParam* p = nullptr;
  if (FParamsFilled < FSQLParams.Count()) {
    p = FSQLParams.Items(FParamsFilled);
    p->Clear(bftUnknown);
  } else {
    p = FSQLParams.AddCreated();
  }
  ++FParamsFilled;
  if (p->Name != name) p->Name = name;
  return *p;
}

TNRDCursor* TNRDSQLProcessor::Run() {
  FRowsAffected = 0;
  if (FParamsFilled >= 0) FSQLParams.Truncate(FParamsFilled);
  FParamsFilled = -1;
  // A prepared query run once per set of parameter values: a text of one statement that takes
  // the new values as parsed runs again without a new scan and parse.
  if (FRunAgain && Queries.size() == 1 && Queries.front()->GetResultCursor() == nullptr) {
    FRunAgain = false;
    if (Queries.front()->RebindParams(FSQLParams)) {
      TNRDSQLCommand& q = *Queries.front();
      q.ExecSQL(NRDQuery, true, FRequestLive, FReadOnly, nullptr, nullptr);
      FRowsAffected += q.RowsAffected;
      FRunAgain = true;
      return nullptr;
    }
  }
  FRunAgain = false;
  Queries.clear();
  FLex.reset();
  FLex = std::make_unique<TNRDLexer>(FSqlText, &FSQLParams, false);
  while (ParseNextCommand()) {
    TNRDSQLCommand& q = *Queries.front();
    q.ExecSQL(NRDQuery, true, FRequestLive, FReadOnly, nullptr, nullptr);
    FRowsAffected += q.RowsAffected;
  }
  FRunAgain = FLex->NumCommands() == 1;
  if (Queries.empty()) return nullptr;
  TNRDCursor* cursor = Queries.front()->GetResultCursor();
  if (cursor != nullptr) cursor->InternalFirst();
  return cursor;
}

TNRDCursor* TNRDSQLProcessor::OpenQuery() { return Run(); }

void TNRDSQLProcessor::ExecuteQuery() { Run(); }

bool TNRDSQLProcessor::ParseNextCommand() {
  TNRDLexer& lex = *FLex;
  if (lex.NumCommands() == 0) throw ENRDException(30145, "Blank SQL command");
  if (!lex.GetNextCommand()) return false;
  Queries.clear();
  TToken t;
  if (!lex.GetCurrentToken(t)) throw ENRDException(30146, "Blank SQL command");

  // The second word of CREATE, DROP, ALTER and RENAME chooses the statement.
  auto second = [&](int endCode, int wrongCode, std::initializer_list<TReservedWord> words) {
    TToken first = t;
    if (!lex.GetNextToken(t))
      throw ENRDException(endCode, "Unexpected end of SQL command found at line %d, column %d",
                          {first.LineNum, first.ColumnNum});
    for (TReservedWord w : words)
      if (IsReservedWordToken(t, w)) return w;
    if (wrongCode == 0) return rwNone;
    throw ENRDException(wrongCode, "Object type keyword expected, but '%s' found at line %d, column %d",
                        {t.Text, t.LineNum, t.ColumnNum});
  };

  std::unique_ptr<TNRDSQLCommand> command;
  bool isSelect = false;
  if (t.TokenType == tktLeftParenthesis || IsReservedWordToken(t, rwSELECT)) {
    if (gSelectFactory == nullptr) throw ENRDException(30039, "Not implemented yet");
    command = gSelectFactory(&lex, NRDQuery);
    isSelect = true;
  } else if (t.TokenType != tktReservedWord) {
    throw ENRDException(30154, "SQL token expected, but '%s' found at line %d, column %d",
                        {t.Text, t.LineNum, t.ColumnNum});
  } else {
    switch (t.ReservedWord) {
      case rwINSERT: command = MakeCommand<TNRDSQLInsert>(&lex, NRDQuery); break;
      case rwUPDATE: command = MakeCommand<TNRDSQLUpdate>(&lex, NRDQuery); break;
      case rwDELETE: command = MakeCommand<TNRDSQLDelete>(&lex, NRDQuery); break;
      case rwCREATE:
        if (second(30148, 30147, {rwTABLE, rwUNIQUE, rwINDEX}) == rwTABLE)
          command = MakeCommand<TNRDDDLCreateTable>(&lex, NRDQuery);
        else
          command = MakeCommand<TNRDDDLCreateIndex>(&lex, NRDQuery);
        break;
      case rwDROP:
        if (second(30150, 30149, {rwTABLE, rwINDEX}) == rwTABLE)
          command = MakeCommand<TNRDDDLDropTable>(&lex, NRDQuery);
        else
          command = MakeCommand<TNRDDDLDropIndex>(&lex, NRDQuery);
        break;
      case rwALTER:
        second(30152, 30151, {rwTABLE});
        command = MakeCommand<TNRDDDLAlterTable>(&lex, NRDQuery);
        break;
      case rwRENAME:
        if (second(30353, 0, {rwTABLE}) == rwTABLE) lex.GetNextToken(t);
        command = MakeCommand<TNRDDDLRenameTable>(&lex, NRDQuery);
        break;
      case rwTRUNCATE: command = MakeCommand<TNRDDDLTruncateTable>(&lex, NRDQuery); break;
      case rwSTART: command = MakeCommand<TNRDSQLStartTransaction>(&lex, NRDQuery); break;
      case rwCOMMIT: command = MakeCommand<TNRDSQLCommit>(&lex, NRDQuery); break;
      case rwROLLBACK: command = MakeCommand<TNRDSQLRollback>(&lex, NRDQuery); break;
      default:
        throw ENRDException(30153, "SQL token expected, but '%s' found at line %d, column %d",
                            {t.Text, t.LineNum, t.ColumnNum});
    }
  }
  if (isSelect && lex.GetCurrentToken(t))
    throw ENRDException(20260, "End of SQL command expected, but '%s' found at line %d, column %d",
                        {t.Text, t.LineNum, t.ColumnNum});
  command->OpenTables = &FOpenTables;
  Queries.push_back(std::move(command));
  return true;
}

void InstallSQLProcessor() {
  InstallSelectCommands();
  SetQueryProcessorFactory([](TNRDDataSet& query) -> std::unique_ptr<TNRDQueryProcessor> {
    return std::make_unique<TNRDLocalSQLProcessor>(&query);
  });
}

}  // namespace nrd::sql
