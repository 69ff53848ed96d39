// UPDATE and DELETE (and INSERT ... SELECT) as scripts: each case is a list of statements with the
// outcome each gives ("rows N" or "E<code>") and the rows the table holds at the end.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/foundation/NRDText.h"

#include "engine/sql/NRDSQLDML.h"
#include "tests/engine-sql/SqlStatementsFixture.h"

namespace {

using namespace nrd;

struct Step {
  std::string sql;
  std::string outcome;
};

struct ScriptCase {
  std::string name;
  std::vector<Step> steps;
  std::string table;
  std::vector<std::string> rows;
};

// A table of ten people with a key, an index on age and a nullable note.
const std::vector<Step> kPeople = {
    {"CREATE TABLE p (id INTEGER NOT NULL, age INTEGER, note VARCHAR(20), PRIMARY KEY (id), INDEX (age))", "rows 0"},
    {"INSERT INTO p VALUES (1, 10, 'a'), (2, 20, NULL), (3, 30, 'c'), (4, 40, 'd'), (5, 50, NULL), "
     "(6, 60, 'f'), (7, 70, 'g'), (8, 80, NULL), (9, 90, 'i'), (10, 100, 'j')",
     "rows 10"},
};

std::vector<Step> People(std::vector<Step> more) {
  std::vector<Step> all = kPeople;
  all.insert(all.end(), more.begin(), more.end());
  return all;
}

class SqlDml : public SqlStatements {
 protected:
  // "INSERT INTO t VALUES (:a, :b)" prepared once on the "Family" database; Run gives "rows N" or the
  // engine's error code.
  struct PreparedInsert {
    TNRDQuery q{nullptr};
    PreparedInsert() {
      q.SetDatabaseName("Family");
      q.SetSQL("INSERT INTO t VALUES (:a, :b)");
      q.Prepare();
    }
    std::string Run(int a, const std::string& b) {
      q.ParamByName("a").Value = IntValue(a);
      q.ParamByName("b").Value = TextValue(b);
      try {
        q.ExecSQL();
        return "rows " + std::to_string(q.RowsAffected());
      } catch (const std::exception& e) {
        return CodeOf(e);
      }
    }
  };

  void RunCase(const ScriptCase& c) {
    for (const Step& s : c.steps) EXPECT_EQ(Exec(s.sql), s.outcome) << c.name << ": " << s.sql;
    if (!c.table.empty()) {
      EXPECT_EQ(Rows(c.table), c.rows) << c.name;
    }
  }
};

TEST_F(SqlDml, UpdateScripts) {
  const std::vector<ScriptCase> cases = {
      // The changed rows match the condition again (and move along the index on age): each
      // matching row is changed once.
      {"each row once",
       People({{"UPDATE p SET age = age + 100 WHERE age > 50", "rows 5"}}),
       "p",
       {"1|10|a", "2|20|", "3|30|c", "4|40|d", "5|50|", "6|160|f", "7|170|g", "8|180|", "9|190|i", "10|200|j"}},
      // Every value comes from the row as it was.
      {"old values on the right",
       {{"CREATE TABLE s (a INTEGER, b INTEGER)", "rows 0"},
        {"INSERT INTO s VALUES (1, 0), (2, 0)", "rows 2"},
        {"UPDATE s SET a = a + 10, b = a", "rows 2"}},
       "s",
       {"11|1", "12|2"}},
      {"no WHERE, NULL and text",
       People({{"UPDATE p SET note = NULL", "rows 10"}, {"UPDATE p SET note = 'n' || id WHERE note IS NULL AND id < 3", "rows 2"}}),
       "p",
       {"1|10|n1", "2|20|n2", "3|30|", "4|40|", "5|50|", "6|60|", "7|70|", "8|80|", "9|90|", "10|100|"}},
      {"nothing matches",
       People({{"UPDATE p SET age = 0 WHERE age > 1000", "rows 0"}, {"UPDATE p SET age = 0 WHERE note = 'zz'", "rows 0"}}),
       "",
       {}},
      {"table name as qualifier, pseudonym refused",
       People({{"UPDATE p SET p.age = 1 WHERE id = 1", "rows 1"},
               {"UPDATE p x SET x.age = 1", "E30221"},
               {"UPDATE p x SET age = 2 WHERE x.id = 2", "rows 1"}}),
       "p",
       {"1|1|a", "2|2|", "3|30|c", "4|40|d", "5|50|", "6|60|f", "7|70|g", "8|80|", "9|90|i", "10|100|j"}},
      {"uncorrelated subqueries",
       People({{"CREATE TABLE k (id INTEGER, v INTEGER)", "rows 0"},
               {"INSERT INTO k VALUES (2, 7), (4, 9)", "rows 2"},
               {"UPDATE p SET age = (SELECT MAX(v) FROM k) WHERE id IN (SELECT id FROM k)", "rows 2"},
               {"UPDATE p SET (age, note) = (SELECT v, 'r' FROM k WHERE id = 2) WHERE id = 1", "rows 1"}}),
       "p",
       {"1|7|r", "2|9|", "3|30|c", "4|9|d", "5|50|", "6|60|f", "7|70|g", "8|80|", "9|90|i", "10|100|j"}},
      // The subquery reads the row being changed: through the table's name, through its
      // pseudonym, in the row form, and beside a plain column of the row.
      {"correlated subqueries",
       People({{"CREATE TABLE k (id INTEGER, v INTEGER)", "rows 0"},
               {"INSERT INTO k VALUES (2, 7), (2, 8), (4, 9), (11, 1)", "rows 4"},
               {"UPDATE p SET age = (SELECT MAX(v) FROM k WHERE k.id = p.id) WHERE id < 5", "rows 4"},
               {"UPDATE p x SET note = (SELECT COUNT(*) FROM k WHERE k.id = x.id) || x.note WHERE id IN (3, 4)", "rows 2"},
               {"UPDATE p SET (age, note) = (SELECT MIN(v), 'm' FROM k WHERE k.id = p.id - 4) WHERE id >= 6 AND id <= 8",
                "rows 3"},
               {"UPDATE p SET age = age + (SELECT COUNT(*) FROM k WHERE v > p.id - 3) WHERE id = 9", "rows 1"}}),
       "p",
       {"1||a", "2|8|", "3||0c", "4|9|1d", "5|50|", "6|7|m", "7||m", "8|9|m", "9|93|i", "10|100|j"}},
      // A subquery over the table being changed reads it as it was before the statement: both
      // rows of a group get the group's old sum, not a sum that includes the first row's new value.
      {"subquery over the changed table",
       {{"CREATE TABLE s (g INTEGER, a INTEGER)", "rows 0"},
        {"INSERT INTO s VALUES (1, 1), (1, 2), (2, 5), (2, 7), (3, NULL)", "rows 5"},
        {"UPDATE s SET a = (SELECT SUM(a) FROM s s2 WHERE s2.g = s.g)", "rows 5"},
        {"UPDATE s SET a = a + 1 WHERE a = (SELECT MAX(a) FROM s t WHERE t.g = s.g) AND g = 2", "rows 2"}},
       "s",
       {"1|3", "1|3", "2|13", "2|13", "3|"}},
      {"MEMORY table",
       {{"CREATE TABLE MEMORY m (a INTEGER)", "rows 0"},
        {"INSERT INTO MEMORY m VALUES (1), (2), (3)", "rows 3"},
        {"UPDATE MEMORY m SET a = a * 2 WHERE a >= 2", "rows 2"},
        {"DELETE FROM MEMORY m WHERE a = 1", "rows 1"},
        {"DROP TABLE MEMORY m", "rows 0"}},
       "",
       {}},
      {"grammar",
       People({{"UPDATE", "E30217"},
               {"UPDATE p", "E30220"},
               {"UPDATE p age = 1", "E30220"},
               {"UPDATE p SET age 1", "E30221"},
               {"UPDATE p SET age = 1 note = 'x'", "E30222"},
               {"UPDATE p SET age = 1,", "E30223"},
               {"UPDATE p SET (age note) = (SELECT 1, 'x' FROM p)", "E30494"},
               {"UPDATE p SET (age, note) 1", "E30495"},
               {"UPDATE p SET (age, note) = 1", "E30357"},  // not a row subquery
               {"UPDATE p SET nothing = 1", "E?Field 'nothing' not found"},
               // A WHERE cut short by a stray word would change rows it was not meant to.
               {"UPDATE p SET age = 1 WHERE id = 1 note = 'a'", "E20260"},
               {"UPDATE p SET age = 'x' WHERE id = 1", "E30051"}}),
       "p",
       {"1|10|a", "2|20|", "3|30|c", "4|40|d", "5|50|", "6|60|f", "7|70|g", "8|80|", "9|90|i", "10|100|j"}},
  };
  for (const ScriptCase& c : cases) {
    SetUpDatabaseAgain();
    RunCase(c);
  }
}

TEST_F(SqlDml, DeleteScripts) {
  const std::vector<ScriptCase> cases = {
      {"by key and by range",
       People({{"DELETE FROM p WHERE id = 3", "rows 1"}, {"DELETE FROM p WHERE age >= 80", "rows 3"}}),
       "p",
       {"1|10|a", "2|20|", "4|40|d", "5|50|", "6|60|f", "7|70|g"}},
      {"every row", People({{"DELETE FROM p", "rows 10"}, {"DELETE FROM p", "rows 0"}}), "p", {}},
      {"NULLs and subqueries",
       People({{"DELETE FROM p WHERE note IS NULL", "rows 3"},
               {"CREATE TABLE k (id INTEGER)", "rows 0"},
               {"INSERT INTO k VALUES (1), (9), (99)", "rows 3"},
               {"DELETE FROM p x WHERE x.id IN (SELECT id FROM k)", "rows 2"}}),
       "p",
       {"3|30|c", "4|40|d", "6|60|f", "7|70|g", "10|100|j"}},
      // The WHERE's subquery reads the row tested, and a subquery over the table itself sees every
      // row as before the statement (rows deleted earlier still count).
      {"correlated subqueries",
       People({{"CREATE TABLE k (id INTEGER, v INTEGER)", "rows 0"},
               {"INSERT INTO k VALUES (2, 7), (4, 9), (5, 50), (11, 1)", "rows 4"},
               {"DELETE FROM p WHERE EXISTS (SELECT 1 FROM k WHERE k.id = p.id AND k.v < p.age)", "rows 2"},
               {"DELETE FROM p x WHERE age > 30 AND NOT EXISTS (SELECT * FROM k WHERE k.id = x.id) AND id < 8", "rows 2"},
               {"DELETE FROM p WHERE (SELECT COUNT(*) FROM p q WHERE q.id < p.id) < 3", "rows 3"}}),
       "p",
       {"8|80|", "9|90|i", "10|100|j"}},
      {"grammar and refusals",
       People({{"DELETE p WHERE id = 1", "E30184"},
               {"DELETE FROM p WHERE id = 1 age = 10", "E20260"},
               {"DELETE FROM p, p q WHERE p.id = q.id", "E10107"},
               {"DELETE FROM nowhere", "E30396"}}),
       "p",
       {"1|10|a", "2|20|", "3|30|c", "4|40|d", "5|50|", "6|60|f", "7|70|g", "8|80|", "9|90|i", "10|100|j"}},
  };
  for (const ScriptCase& c : cases) {
    SetUpDatabaseAgain();
    RunCase(c);
  }
}

TEST_F(SqlDml, InsertSelectScripts) {
  const std::vector<ScriptCase> cases = {
      // The source is copied first: the table doubles once.
      {"into itself",
       {{"CREATE TABLE t (a INTEGER, b VARCHAR(5))", "rows 0"},
        {"INSERT INTO t VALUES (1, 'x'), (2, NULL)", "rows 2"},
        {"INSERT INTO t SELECT * FROM t", "rows 2"},
        {"INSERT INTO t (SELECT a + 10, b FROM t WHERE a = 1)", "rows 2"}},
       "t",
       {"1|x", "2|", "1|x", "2|", "11|x", "11|x"}},
      {"column list and conversion",
       {{"CREATE TABLE t (a INTEGER, b VARCHAR(5))", "rows 0"},
        {"CREATE TABLE u (b VARCHAR(10), a LARGEINT, c DOUBLE)", "rows 0"},
        {"INSERT INTO t VALUES (1, 'x'), (2, 'y')", "rows 2"},
        {"INSERT INTO u (a, b) SELECT a, b FROM t WHERE a > 1", "rows 1"},
        {"INSERT INTO u (a) SELECT a, b FROM t", "E20259"},
        {"INSERT INTO u (a, b) (SELECT a, b FROM t", "E30059"}},
       "u",
       {"y|2|"}},
  };
  for (const ScriptCase& c : cases) {
    SetUpDatabaseAgain();
    RunCase(c);
  }
}

// Definitions change under the rows: each ALTER form, CREATE and DROP INDEX, and the rows keep
// their values through every restructure.
TEST_F(SqlDml, DefinitionScripts) {
  const std::vector<ScriptCase> cases = {
      {"alter forms keep the rows",
       {{"CREATE TABLE t (id INTEGER NOT NULL, a VARCHAR(5), b INTEGER, c INTEGER, PRIMARY KEY (id))", "rows 0"},
        {"INSERT INTO t VALUES (1, 'x', 10, 100), (2, 'y', 20, 200)", "rows 2"},
        // Without COLUMN or '(' the word after DROP is the first column.
        {"ALTER TABLE t DROP c", "rows 0"},
        {"ALTER TABLE t DROP COLUMN b", "rows 0"},
        {"ALTER TABLE t ADD (d DATE, e INTEGER DEFAULT 5 NOT NULL)", "rows 0"},
        {"ALTER TABLE t MODIFY (a VARCHAR(20))", "rows 0"},
        {"UPDATE t SET a = 'longer text', d = '2000-01-02' WHERE id = 2", "rows 1"},
        {"ALTER TABLE t RENAME COLUMN d TO born", "rows 0"},
        {"SELECT born FROM t", "rows 0"},
        {"ALTER TABLE t DROP (nothing)", "E30265"}},
       "t",
       {"1|x||5", "2|longer text|2000-01-02|5"}},
      {"indexes and constraints",
       {{"CREATE TABLE t (id AUTOINC, name VARCHAR(10) NOT NULL, n INTEGER MINVALUE 0 MAXVALUE 9, "
         "PRIMARY KEY (id), UNIQUE INDEX byName (name NOCASE))",
         "rows 0"},
        {"INSERT INTO t (name, n) VALUES ('a', 1), ('b', 2)", "rows 2"},
        {"INSERT INTO t (name, n) VALUES ('A', 3)", "E30320"},
        {"INSERT INTO t (n) VALUES (3)", "E?Field 'name' must have a value"},
        {"UPDATE t SET n = 10 WHERE name = 'a'", "E30030"},
        {"UPDATE t SET name = 'B' WHERE name = 'a'", "E30320"},
        {"DROP INDEX t.byName", "rows 0"},
        {"UPDATE t SET name = 'B' WHERE name = 'a'", "rows 1"},
        {"CREATE UNIQUE INDEX byName ON t (name)", "rows 0"},
        {"CREATE INDEX byN ON t (n DESC)", "rows 0"},
        {"DELETE FROM t WHERE n = 2", "rows 1"}},
       "t",
       {"1|B|1"}},
  };
  for (const ScriptCase& c : cases) {
    SetUpDatabaseAgain();
    RunCase(c);
  }
}

TEST_F(SqlDml, TransactionsHoldUpdatesAndDeletes) {
  RunCase({"setup", kPeople, "", {}});
  EXPECT_EQ(Exec("START TRANSACTION; UPDATE p SET age = 0; DELETE FROM p WHERE id > 5"), "rows 15");
  EXPECT_EQ(Rows("p").size(), 5u);
  EXPECT_EQ(Exec("ROLLBACK"), "rows 0");
  EXPECT_EQ(Rows("p"), (std::vector<std::string>{"1|10|a", "2|20|", "3|30|c", "4|40|d", "5|50|", "6|60|f", "7|70|g",
                                                 "8|80|", "9|90|i", "10|100|j"}));
  EXPECT_EQ(Exec("START TRANSACTION; DELETE FROM p WHERE id > 2; COMMIT"), "rows 8");
  EXPECT_EQ(Rows("p"), (std::vector<std::string>{"1|10|a", "2|20|"}));
}

// A row that breaks a key in the middle of an UPDATE: on a disk table the whole statement is
// undone; on a MEMORY table the rows before it keep their change, made once, not once per retry.
TEST_F(SqlDml, AFailedUpdateIsUndoneOrNotRepeated) {
  sql::TNRDSQLLockRetries saved = sql::SQLLockRetries();
  sql::SQLLockRetries().UpdateRetryDelayMs = 1;
  RunCase({"setup", {{"CREATE TABLE t (a INTEGER, u INTEGER, UNIQUE INDEX (u))", "rows 0"},
                     {"INSERT INTO t VALUES (1, 1), (2, 5), (3, 6), (4, 40)", "rows 4"},
                     {"UPDATE t SET a = a + 100, u = u + 1", "E30320"},
                     {"CREATE TABLE MEMORY m (a INTEGER, u INTEGER, UNIQUE INDEX (u))", "rows 0"},
                     {"INSERT INTO MEMORY m VALUES (1, 1), (2, 5), (3, 6)", "rows 3"},
                     {"UPDATE MEMORY m SET a = a + 100, u = u + 1", "E30320"}},
           "t", {"1|1", "2|5", "3|6", "4|40"}});
  auto m = Table("m");
  m->SetInMemory(true);
  m->Open();
  std::vector<std::string> rows;
  for (m->First(); !m->Eof(); m->Next()) rows.push_back(FieldText(m->Fields(0)) + "|" + FieldText(m->Fields(1)));
  m->Close();
  EXPECT_EQ(rows, (std::vector<std::string>{"101|2", "2|5", "3|6"}));
  sql::SQLLockRetries() = saved;
}

TEST_F(SqlDml, ParametersInSetAndWhere) {
  RunCase({"setup", kPeople, "", {}});
  TNRDQuery q(nullptr);
  q.SetDatabaseName("Family");
  q.SetSQL("UPDATE p SET note = :n WHERE id = :id OR age = :age");
  q.ParamByName("n").Value = TextValue("par");
  q.ParamByName("id").Value = IntValue(2);
  q.ParamByName("age").Value = IntValue(30);
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 2);
  q.SetSQL("DELETE FROM p WHERE note = :n");
  q.ParamByName("n").Value = TextValue("par");
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 2);
  EXPECT_EQ(Rows("p").size(), 8u);
}

// A prepared INSERT keeps its table open from one run to the next: the rows of every run are
// there, other statements on the table see them and change them between runs, a close of the
// database in between is survived, and the table is let go (and can be dropped) when the query is
// unprepared.
TEST_F(SqlDml, APreparedInsertKeepsItsTableBetweenRuns) {
  RunCase({"setup", {{"CREATE TABLE t (a INTEGER NOT NULL, b VARCHAR(10), PRIMARY KEY (a))", "rows 0"}}, "", {}});
  PreparedInsert ins;
  TNRDQuery& q = ins.q;
  auto run = [&](int a, const std::string& b) { return ins.Run(a, b); };
  EXPECT_EQ(run(1, "x"), "rows 1");
  EXPECT_EQ(run(2, "y"), "rows 1");
  EXPECT_EQ(Exec("UPDATE t SET b = 'z' WHERE a = 1"), "rows 1");
  EXPECT_EQ(run(1, "dup"), "E30319");  // the key of a row another statement left there
  EXPECT_EQ(run(3, "w"), "rows 1");
  EXPECT_EQ(Exec("DELETE FROM t WHERE a = 2"), "rows 1");
  db_->Close();
  db_->Open();
  EXPECT_EQ(run(4, "v"), "rows 1");
  std::vector<std::string> rows = Rows("t");
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows, (std::vector<std::string>{"1|z", "3|w", "4|v"}));
  // Like an open table component, the prepared statement holds its table in use.
  EXPECT_EQ(Exec("DROP TABLE t"), "E30250");
  EXPECT_EQ(run(5, "u"), "rows 1");
  q.UnPrepare();
  EXPECT_EQ(Exec("DROP TABLE t"), "rows 0");
}

// The table a prepared INSERT keeps open must not keep a stale view of the table: a row it wrote
// in a transaction that was rolled back is gone (its key is free again), and rows and keys that
// another session committed meanwhile are there (their keys are taken).
TEST_F(SqlDml, APreparedInsertSeesRollbacksAndOtherSessionsCommits) {
  RunCase({"setup", {{"CREATE TABLE t (a INTEGER NOT NULL, b VARCHAR(10), PRIMARY KEY (a))", "rows 0"}}, "", {}});
  PreparedInsert ins;
  TNRDQuery& q = ins.q;
  auto run = [&](int a, const std::string& b) { return ins.Run(a, b); };
  EXPECT_EQ(run(1, "x"), "rows 1");
  EXPECT_EQ(Exec("START TRANSACTION"), "rows 0");
  EXPECT_EQ(run(2, "gone"), "rows 1");
  EXPECT_EQ(run(3, "gone"), "rows 1");
  EXPECT_EQ(Exec("ROLLBACK"), "rows 0");
  EXPECT_EQ(run(2, "y"), "rows 1");  // the rolled-back key is free again
  EXPECT_EQ(Exec("START TRANSACTION"), "rows 0");
  EXPECT_EQ(run(3, "z"), "rows 1");
  EXPECT_EQ(Exec("COMMIT"), "rows 0");
  EXPECT_EQ(run(3, "dup"), "E30319");

  // Another session of this process, on the same file, commits rows of its own.
  TNRDSession other(nullptr);
  other.SetSessionName("OtherSession");
  other.Open();
  TNRDDatabase otherDb(nullptr);
  otherDb.SetDatabaseName("OtherFamily");
  otherDb.SetSessionName("OtherSession");
  otherDb.SetDatabaseFileName(file_);
  otherDb.SetSilentMode(true);
  otherDb.Open();
  {
    TNRDQuery o(nullptr);
    o.SetSessionName("OtherSession");
    o.SetDatabaseName("OtherFamily");
    otherDb.StartTransaction();
    o.SetSQL("INSERT INTO t VALUES (10, 'other')");
    o.ExecSQL();
    o.SetSQL("DELETE FROM t WHERE a = 1");
    o.ExecSQL();
    otherDb.Commit(true);
  }
  EXPECT_EQ(run(10, "dup"), "E30319");  // the other session's key is taken
  EXPECT_EQ(run(1, "again"), "rows 1");  // the key it deleted is free
  otherDb.Close();
  other.Close();
  q.UnPrepare();
  std::vector<std::string> rows = Rows("t");
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows, (std::vector<std::string>{"10|other", "1|again", "2|y", "3|z"}));
}

// A prepared INSERT whose values are parameters alone runs again as parsed with the new values;
// one whose parameters sit in expressions is parsed again each run. Both get the same runs of
// values (numbers, texts, NULLs, dates, a text that is no number, a value of another kind than
// the first run's) and must give the same outcomes and the same rows.
TEST_F(SqlDml, APreparedInsertTakesNewValuesAsAFreshParseWould) {
  RunCase({"setup",
           {{"CREATE TABLE r (a INTEGER, b VARCHAR(10), c DATE, d DOUBLE)", "rows 0"},
            {"CREATE TABLE f (a INTEGER, b VARCHAR(10), c DATE, d DOUBLE)", "rows 0"}},
           "", {}});
  TNRDQuery again(nullptr), fresh(nullptr);
  again.SetDatabaseName("Family");
  again.SetSQL("INSERT INTO r VALUES (:a, :b, :c, :d)");
  fresh.SetDatabaseName("Family");
  fresh.SetSQL("INSERT INTO f VALUES ((:a), (:b), (:c), (:d))");
  again.Prepare();
  fresh.Prepare();
  const TVariantValue n = NullValue();
  const std::vector<std::vector<TVariantValue>> runs = {
      {IntValue(1), TextValue("x"), DateTimeValue(40000), FloatValue(1.5)},
      {n, n, n, n},
      {TextValue("7"), IntValue(5), n, IntValue(2)},
      {FloatValue(2.0), TextValue(""), DateTimeValue(40001), TextValue("2.25")},
      {TextValue("abc"), TextValue("y"), n, n},
      {IntValue(3), TextValue("toolongforten"), n, n},
      {IntValue(4000000000LL), TextValue("z"), n, n},
      {IntValue(4), DateTimeValue(40002), TextValue("2020-01-02"), FloatValue(-0.5)},
      {IntValue(5), TextValue("w"), n, n},
  };
  auto run = [&](TNRDQuery& q, const std::vector<TVariantValue>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) q.Params()[static_cast<std::int32_t>(i)].Value = values[i];
    try {
      q.ExecSQL();
      return "rows " + std::to_string(q.RowsAffected());
    } catch (const std::exception& e) {
      return CodeOf(e);
    }
  };
  for (std::size_t i = 0; i < runs.size(); ++i) EXPECT_EQ(run(again, runs[i]), run(fresh, runs[i])) << "run " << i;
  EXPECT_EQ(Rows("r"), Rows("f"));
  EXPECT_GE(Rows("r").size(), 6u);
}

// An equality on a key is answered through the index: the condition is tested on the rows the
// index gives, not on every row of the table.
TEST_F(SqlDml, KeyConditionsUseTheIndex) {
  Exec("CREATE TABLE big (id INTEGER NOT NULL, v INTEGER, PRIMARY KEY (id))");
  std::string values;
  for (int i = 1; i <= 500; ++i) values += (i > 1 ? ", (" : "(") + std::to_string(i) + ", 0)";
  ASSERT_EQ(Exec("INSERT INTO big VALUES " + values), "rows 500");
  const std::int64_t before = sql::StorageEvaluationCount();
  EXPECT_EQ(Exec("UPDATE big SET v = 1 WHERE id = 250"), "rows 1");
  EXPECT_EQ(Exec("DELETE FROM big WHERE id >= 490 AND id < 495"), "rows 5");
  EXPECT_LT(sql::StorageEvaluationCount() - before, 50);
  EXPECT_EQ(Rows("big").size(), 495u);
}

// Another process holds the table: UPDATE and DELETE give up after their lock rounds with 20223,
// INSERT ... SELECT after its tries with 20224; nothing is changed. Once the other process lets
// go, the same statements run.
TEST_F(SqlDml, LockTimeOutsBetweenTwoProcesses) {
  RunCase({"setup", People({{"CREATE TABLE q (id INTEGER, age INTEGER, note VARCHAR(20))", "rows 0"},
                            {"INSERT INTO q SELECT * FROM p WHERE id < 3", "rows 2"}}),
           "", {}});
  // The child must not share the parent's open file: file locks belong to an open file.
  db_->Close();
  db_->SetMultiUser(true);
  int toChild[2], toParent[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(toParent), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    char answer = 'n';
    try {
      EngineShutdown();
      EngineStartup();
      TNRDDatabase child(nullptr);
      child.SetDatabaseName("Child");
      child.SetDatabaseFileName(file_);
      child.SetMultiUser(true);
      child.SetSilentMode(true);
      child.Open();
      TNRDTable t(nullptr);
      t.SetDatabaseName("Child");
      t.SetTableName("p");
      t.Open();
      if (t.Cursor()->LockTable(ltRW, 1, 0, false)) answer = 'y';
      if (write(toParent[1], &answer, 1) != 1) _exit(2);
      char go = 0;
      if (read(toChild[0], &go, 1) != 1) _exit(2);
      t.Cursor()->UnlockTable(ltRW, false);
      t.Close();
    } catch (...) {
      if (answer == 'n' && write(toParent[1], &answer, 1) != 1) _exit(2);
      _exit(1);
    }
    _exit(0);
  }
  char answer = 0;
  ASSERT_EQ(read(toParent[0], &answer, 1), 1);
  ASSERT_EQ(answer, 'y');
  db_->Open();
  sql::TNRDSQLLockRetries saved = sql::SQLLockRetries();
  sql::SQLLockRetries().Rounds = 3;
  sql::SQLLockRetries().DelayMs = 5;
  sql::SQLLockRetries().InsertTries = 3;
  sql::SQLLockRetries().InsertDelayMs = 5;
  EXPECT_EQ(Exec("UPDATE p SET age = 0"), "E20223");
  EXPECT_EQ(Exec("DELETE FROM p"), "E20223");
  EXPECT_EQ(Exec("INSERT INTO p SELECT id + 100, age, note FROM q"), "E20224");
  const char go = 'g';
  ASSERT_EQ(write(toChild[1], &go, 1), 1);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  sql::SQLLockRetries() = saved;
  EXPECT_EQ(Rows("p").size(), 10u);
  EXPECT_EQ(Exec("UPDATE p SET age = 0 WHERE id = 1"), "rows 1");
  EXPECT_EQ(Exec("DELETE FROM p WHERE id = 1"), "rows 1");
  EXPECT_EQ(Exec("INSERT INTO p SELECT id + 100, age, note FROM q WHERE id = 2"), "rows 1");
}

}  // namespace

namespace {

using namespace nrd;

std::string Utf8Of(std::u16string_view w) {
  std::string out;
  for (char16_t c : w) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The SQL script of a table, run through nrd-sql into a new file, gives the same table: its script
// (structure, indexes, settings and every value) is the same, byte for byte.
TEST_F(SqlDml, ExportedScriptRunBackGivesTheSameTable) {
  RunCase({"setup",
           {{"CREATE TABLE 'two words' (id AUTOINC, name VARCHAR(30) NOT NULL DEFAULT 'it''s \"none\"', "
             "born DATE DEFAULT '1900-01-01', at TIME, stamp TIMESTAMP, w DOUBLE MINVALUE 0 MAXVALUE 1000, big LARGEINT, ok BOOLEAN, "
             "memo MEMO, pic BLOB BLOBBLOCKSIZE 2048 BLOBCOMPRESSIONALGORITHM ZLIB BLOBCOMPRESSIONMODE 6, "
             "'values' INTEGER, PRIMARY KEY (id), UNIQUE INDEX byName (name DESC NOCASE), INDEX (born, w))",
             "rows 0"},
            {"INSERT INTO 'two words' (name, born, at, stamp, w, big, ok, memo, pic, 'values') VALUES "
             "('O''Hara', '1901-02-03', ToDate('10:20:30', 'HH24:NN:SS'), '2001-12-31 23:59:58', 0.1, "
             "-9007199254740993, True, 'line one', MimeToBin('AAEC/w=='), 7), "
             "('\xCF\xE5\xF2\xF0\xEE\xE2', NULL, NULL, NULL, 123.456, NULL, False, NULL, NULL, NULL), "
             "('x', '2024-02-29', NULL, NULL, 1e-7, 0, NULL, '', NULL, -1)",
             "rows 3"}},
           "",
           {}});
  auto original = Table("two words");
  original->ExportToSqlOptions().Data = true;
  original->ExportToSqlOptions().BlobSettings = true;
  const std::string script = original->ExportToSQL();
  ASSERT_NE(script.find("INSERT INTO"), std::string::npos);

  const auto in = dir_ / "script.sql", out = dir_ / "out.txt", err = dir_ / "err.txt";
  const std::string copy = (dir_ / "copy.at4").string();
  std::ofstream(in, std::ios::binary) << Utf8Of(AnsiToWide(script));
  const std::string cmd = std::string("'") + NRD_SQL_PATH + "' '" + copy + "' --create <'" + in.string() + "' >'" +
                          out.string() + "' 2>'" + err.string() + "'";
  const int status = std::system(cmd.c_str());
  std::ifstream errIn(err);
  std::string errText((std::istreambuf_iterator<char>(errIn)), std::istreambuf_iterator<char>());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << errText << "\n" << script;

  TNRDDatabase other(nullptr);
  other.SetDatabaseName("Copy");
  other.SetDatabaseFileName(copy);
  other.SetSilentMode(true);
  other.Open();
  TNRDTable back(nullptr);
  back.SetDatabaseName("Copy");
  back.SetTableName("two words");
  back.ExportToSqlOptions().Data = true;
  back.ExportToSqlOptions().BlobSettings = true;
  EXPECT_EQ(back.ExportToSQL(), script);
  other.Close();
}

}  // namespace
