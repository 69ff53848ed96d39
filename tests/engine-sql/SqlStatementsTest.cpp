// SQL statements run through the query component and the SQL processor on a disk database: the
// processor's dispatch and its errors, the transaction statements, the data definition statements
// (create, index, alter, rename, truncate, drop) and INSERT ... VALUES, with RowsAffected.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/NRDDatabase.h"
#include "engine/components/NRDQuery.h"
#include "engine/components/NRDSession.h"
#include "engine/components/NRDTable.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/sql/NRDExpressions.h"
#include "engine/sql/NRDSQLCommand.h"
#include "tests/engine-sql/SqlStatementsFixture.h"

namespace {

using namespace nrd;

TEST_F(SqlStatements, ErrorsOfTheProcessorAndTheParsers) {
  Exec("CREATE TABLE t (a INTEGER, b VARCHAR(10))");
  struct Case {
    const char* sql;
    const char* expected;
  };
  const Case cases[] = {
      {"x", "E30142"},  // a text of one character
      {"-- nothing but a comment", "E30145"},
      {"CREATE VIEW v", "E30147"},
      {"CREATE", "E30148"},
      {"DROP VIEW v", "E30149"},
      {"DROP", "E30150"},
      {"ALTER VIEW v", "E30151"},
      {"ALTER", "E30152"},
      {"RENAME", "E30353"},
      {"GRANT ALL", "E30153"},
      {"frobnicate t", "E30154"},
      {"START", "E30459"},
      {"START WORK", "E30460"},
      {"CREATE TABLE", "E30249"},
      {"CREATE TABLE u (n VARCHAR)", "E30233"},
      {"CREATE TABLE u (n VARCHAR(x))", "E30235"},
      {"CREATE TABLE u (a INTEGER DEFAULT 1 DEFAULT 2)", "E30299"},
      {"CREATE TABLE u (a FOO)", "E30232"},
      {"CREATE TABLE u (a INTEGER NOT 5)", "E30237"},
      {"CREATE TABLE u (a INTEGER NOT DEFAULT)", "E2011"},
      {"CREATE TABLE u (id AUTOINC(DOUBLE))", "E30295"},
      {"CREATE TABLE u (id AUTOINC(FOO))", "E30293"},
      {"CREATE TABLE u (id AUTOINCSMALLINT(INTEGER))", "E30294"},
      {"CREATE TABLE u (id AUTOINC(INCREMENT", "E30059"},  // the lexer: '(' not closed
      {"CREATE TABLE u (id AUTOINC(INCREMENT 99999999999999999999))", "E30291"},
      {"CREATE TABLE u (id AUTOINC(INCREMENT x))", "E30292"},
      {"CREATE TABLE u a INTEGER", "E30226"},
      {"CREATE TABLE u (a INTEGER) extra", "E30246"},
      {"CREATE TABLE t (a INTEGER)", "E30247"},
      {"CREATE UNIQUE x", "E30267"},
      {"CREATE UNIQUE TABLE x", "E30268"},
      {"CREATE INDEX i t (a)", "E30270"},
      {"CREATE INDEX i AT t (a)", "E30271"},
      {"CREATE INDEX i ON t a", "E30273"},
      {"CREATE INDEX i ON t (a", "E30059"},
      {"DROP INDEX i", "E30498"},
      {"DROP TABLE IF t", "E30485"},
      {"ALTER TABLE t FOO (c INTEGER)", "E30253"},
      {"ALTER TABLE t SELECT (c INTEGER)", "E30252"},
      {"ALTER TABLE t ADD (a INTEGER)", "E30265"},
      {"ALTER TABLE t MODIFY (zz INTEGER)", "E30265"},
      {"ALTER TABLE t RENAME COLUMN a b", "E30352"},
      {"RENAME t u", "E30355"},
      {"INSERT t VALUES (1)", "E30206"},
      {"INSERT INTO", "E30207"},
      {"INSERT INTO t", "E30209"},
      {"INSERT INTO t (a, b) VALUES (1)", "E20259"},
      // Every row is checked against the column list, not only the first.
      {"INSERT INTO t (a, b) VALUES (1, 'x'), (2)", "E20259"},
      // Without a list, more values than columns is an error, not a silent drop.
      {"INSERT INTO t VALUES (1, 'x', 3)", "E20259"},
      {"INSERT INTO t VALUES 1", "E30214"},
      {"INSERT INTO t (a b) VALUES (1)", "E30212"},
      {"INSERT INTO t VALUES (1,)", "E30357"},
      {"INSERT INTO t VALUES (1, 'x') (2, 'y')", "E30212"},
      {"INSERT INTO nowhere VALUES (1)", "E"},
  };
  for (const Case& c : cases) {
    const std::string got = Exec(c.sql);
    if (std::string(c.expected) == "E") EXPECT_EQ(got.substr(0, 1), "E") << c.sql;
    else EXPECT_EQ(got, c.expected) << c.sql;
  }
  // Nothing of the failed statements reached the table.
  EXPECT_EQ(Rows("t"), std::vector<std::string>{});
}

TEST_F(SqlStatements, MessagesNameTheTokenAndItsPlace) {
  EXPECT_EQ(ExecMessage("CREATE VIEW v"),
            "Object type keyword expected, but 'VIEW' found at line 1, column 8 - Native error: 30147");
  EXPECT_EQ(ExecMessage("CREATE TABLE u (n\n  VARCHAR)"),
            "'(' symbol expected, but ')' found at line 2, column 10 - Native error: 30233");
  EXPECT_EQ(ExecMessage("CREATE TABLE u (a INTEGER DEFAULT 1 DEFAULT 2)"),
            "default value for column 'a' declared twice - Native error: 30299");
}

TEST_F(SqlStatements, InsertRowsAndCountThem) {
  Exec("CREATE TABLE t (id INTEGER NOT NULL, name VARCHAR(20), born DATE, w DOUBLE, PRIMARY KEY (id))");
  EXPECT_EQ(Exec("INSERT INTO t VALUES (1, 'a', '2024-02-29', 2.5), (2, NULL, NULL, 0.1)"), "rows 2");
  EXPECT_EQ(Exec("INSERT INTO t (name, id) VALUES ('c', 3)"), "rows 1");
  EXPECT_EQ(Exec("INSERT INTO t (id) VALUES (2 + 2)"), "rows 1");
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"1|a|2024-02-29|2.5", "2|||0.1", "3|c||", "4|||"}));
  // Several statements: RowsAffected is their sum.
  EXPECT_EQ(Exec("INSERT INTO t (id) VALUES (5); INSERT INTO t (id) VALUES (6), (7)"), "rows 3");
}

TEST_F(SqlStatements, AFailingRowKeepsTheRowsBeforeIt) {
  Exec("CREATE TABLE t (id INTEGER NOT NULL, PRIMARY KEY (id))");
  // The third row repeats the first key.
  EXPECT_EQ(Exec("INSERT INTO t VALUES (1), (2), (1), (4)"), "E30319");
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"1", "2"}));
  // A script stops at its first failing statement; earlier statements stay done.
  EXPECT_EQ(Exec("INSERT INTO t VALUES (10); INSERT INTO t VALUES (10); INSERT INTO t VALUES (11)"), "E30319");
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"1", "2", "10"}));
}

TEST_F(SqlStatements, TransactionStatements) {
  Exec("CREATE TABLE t (id INTEGER)");
  EXPECT_EQ(Exec("START TRANSACTION; INSERT INTO t VALUES (1); ROLLBACK WORK"), "rows 1");
  EXPECT_EQ(Rows("t"), std::vector<std::string>{});
  EXPECT_EQ(Exec("START TRANSACTION; INSERT INTO t VALUES (1), (2); COMMIT WORK FLUSH"), "rows 2");
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"1", "2"}));
  // A transaction left open by one run is still open for the next, and a failed statement in it
  // leaves the earlier changes to the transaction's end.
  EXPECT_EQ(Exec("START TRANSACTION; INSERT INTO t VALUES (3)"), "rows 1");
  EXPECT_TRUE(db_->InTransaction());
  EXPECT_EQ(Exec("INSERT INTO t VALUES ('x')"), "E30051");
  EXPECT_EQ(Exec("ROLLBACK"), "rows 0");
  EXPECT_FALSE(db_->InTransaction());
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(Exec("COMMIT"), "E20229");
}

TEST_F(SqlStatements, CreateTableWithKeysDefaultsAndAutoinc) {
  Exec("CREATE TABLE t (id AUTOINC, name VARCHAR(40) NOT NULL DEFAULT 'O''Hara \"x\"', n INTEGER DEFAULT 2 * 3 "
       "MINVALUE 0 MAXVALUE 100, PRIMARY KEY (id), UNIQUE INDEX byName (name DESC NOCASE), INDEX (n))");
  auto t = Table("t");
  t->UpdateFieldDefs();
  t->UpdateIndexDefs();
  EXPECT_EQ(t->AdvFieldDefs().Count(), 3);
  EXPECT_EQ(t->AdvFieldDefs().GetDef(0).FDataType, aftAutoInc);
  EXPECT_TRUE(t->AdvFieldDefs().GetDef(1).FRequired);
  EXPECT_EQ(t->AdvFieldDefs().GetDef(1).FSize, 40);
  ASSERT_NE(t->AdvIndexDefs().Find("C_PK$id"), nullptr);
  ASSERT_NE(t->AdvIndexDefs().Find("byName"), nullptr);
  ASSERT_NE(t->AdvIndexDefs().Find("i$n"), nullptr);
  EXPECT_NE(t->AdvIndexDefs().Find("byName")->FOptions & ixUnique, 0);
  // Defaults are applied by the storage when a column is left out.
  EXPECT_EQ(Exec("INSERT INTO t (name) VALUES ('a')"), "rows 1");
  EXPECT_EQ(Exec("INSERT INTO t (n) VALUES (7)"), "rows 1");
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"1|a|6", "2|O'Hara \"x\"|7"}));
  EXPECT_EQ(Exec("INSERT INTO t (name, n) VALUES ('b', 101)"), "E30030");
  // IF NOT EXISTS leaves the table as it is.
  EXPECT_EQ(Exec("CREATE TABLE IF NOT EXISTS t (x INTEGER)"), "rows 0");
  EXPECT_EQ(Rows("t").size(), 2u);
}

TEST_F(SqlStatements, AutoincOptions) {
  Exec("CREATE TABLE s (id AUTOINC(SMALLINT, INCREMENT 2, INITIALVALUE 10 NOMAXVALUE CYCLED), v INTEGER)");
  auto t = Table("s");
  t->UpdateFieldDefs();
  const TNRDAdvFieldDef& id = t->AdvFieldDefs().GetDef(0);
  EXPECT_EQ(id.FDataType, aftAutoIncSmallint);
  EXPECT_EQ(id.FAutoincIncrement, 2);
  EXPECT_EQ(id.FAutoincInitialValue, 10);
  EXPECT_TRUE(id.FAutoincCycled);
  Exec("INSERT INTO s (v) VALUES (1), (2)");
  EXPECT_EQ(Rows("s"), (std::vector<std::string>{"12|1", "14|2"}));
}

TEST_F(SqlStatements, IndexesComeAndGo) {
  Exec("CREATE TABLE t (a VARCHAR(10), b INTEGER)");
  EXPECT_EQ(Exec("CREATE INDEX ix ON t (a DESC NOCASE, b)"), "rows 0");
  EXPECT_EQ(Exec("CREATE UNIQUE INDEX ub ON t (b)"), "rows 0");
  auto t = Table("t");
  t->UpdateIndexDefs();
  const TNRDAdvIndexDef* ix = t->AdvIndexDefs().Find("ix");
  ASSERT_NE(ix, nullptr);
  EXPECT_EQ(ix->FFields, "a;b");
  EXPECT_EQ(ix->FDescFields, "a");
  EXPECT_EQ(ix->FCaseInsFields, "a");
  ASSERT_NE(t->AdvIndexDefs().Find("ub"), nullptr);
  EXPECT_NE(t->AdvIndexDefs().Find("ub")->FOptions & ixUnique, 0);
  Exec("INSERT INTO t VALUES ('x', 1)");
  EXPECT_EQ(Exec("INSERT INTO t VALUES ('y', 1)"), "E30320");
  EXPECT_EQ(Exec("DROP INDEX t.ub"), "rows 0");
  EXPECT_EQ(Exec("INSERT INTO t VALUES ('y', 1)"), "rows 1");
  t = Table("t");
  t->UpdateIndexDefs();
  EXPECT_EQ(t->AdvIndexDefs().Find("ub"), nullptr);
  EXPECT_NE(t->AdvIndexDefs().Find("ix"), nullptr);
}

TEST_F(SqlStatements, AlterRenameTruncateDrop) {
  Exec("CREATE TABLE t (a INTEGER, b VARCHAR(5))");
  Exec("INSERT INTO t VALUES (1, 'abc'), (2, 'de')");
  EXPECT_EQ(Exec("ALTER TABLE t ADD (c INTEGER DEFAULT 9, IF NOT EXISTS a INTEGER)"), "rows 0");
  EXPECT_EQ(Columns("t"), "a INTEGER,b VARCHAR(5),c INTEGER");
  // Rows that exist take the new column's default.
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"1|abc|9", "2|de|9"}));
  EXPECT_EQ(Exec("ALTER TABLE t MODIFY (b VARCHAR(30) NOT NULL)"), "rows 0");
  EXPECT_EQ(Columns("t"), "a INTEGER,b VARCHAR(30) NOT NULL,c INTEGER");
  EXPECT_EQ(Exec("ALTER TABLE t DROP COLUMN c"), "rows 0");
  EXPECT_EQ(Exec("ALTER TABLE t DROP (a)"), "rows 0");
  EXPECT_EQ(Columns("t"), "b VARCHAR(30) NOT NULL");
  EXPECT_EQ(Exec("ALTER TABLE t ADD (a INTEGER)"), "rows 0");
  EXPECT_EQ(Exec("ALTER TABLE t RENAME COLUMN a TO z"), "rows 0");
  EXPECT_EQ(Exec("ALTER TABLE t RENAME b TO y"), "rows 0");
  EXPECT_EQ(Columns("t"), "y VARCHAR(30) NOT NULL,z INTEGER");
  EXPECT_EQ(Exec("ALTER TABLE t RENAME TO u"), "rows 0");
  EXPECT_EQ(Exec("RENAME TABLE u TO v"), "rows 0");
  EXPECT_EQ(Exec("RENAME v TO w"), "rows 0");
  EXPECT_EQ(Rows("w"), (std::vector<std::string>{"abc|", "de|"}));
  EXPECT_EQ(Exec("TRUNCATE TABLE w"), "rows 0");
  EXPECT_EQ(Rows("w"), std::vector<std::string>{});
  EXPECT_EQ(Exec("DROP TABLE w"), "rows 0");
  EXPECT_FALSE(Table("w")->Exists());
  // Dropping a missing table is no error, with or without IF EXISTS.
  EXPECT_EQ(Exec("DROP TABLE w"), "rows 0");
  EXPECT_EQ(Exec("DROP TABLE IF EXISTS w"), "rows 0");
}

TEST_F(SqlStatements, ReservedWordsServeAsTableNames) {
  for (const char* name : {"values", "global"}) {
    const std::string n = name;
    EXPECT_EQ(Exec("CREATE TABLE " + n + " (a INTEGER)"), "rows 0") << n;
    EXPECT_EQ(Exec("INSERT INTO " + n + " VALUES (1)"), "rows 1") << n;
    EXPECT_EQ(Exec("CREATE INDEX ia ON " + n + " (a)"), "rows 0") << n;
    EXPECT_EQ(Exec("DROP INDEX " + n + ".ia"), "rows 0") << n;
    EXPECT_EQ(Exec("TRUNCATE " + n), "rows 0") << n;
    EXPECT_EQ(Exec("DROP TABLE " + n), "rows 0") << n;
  }
}

TEST_F(SqlStatements, MemoryTablesAndOtherFiles) {
  EXPECT_EQ(Exec("CREATE TABLE MEMORY m (a INTEGER)"), "rows 0");
  EXPECT_EQ(Exec("INSERT INTO MEMORY m VALUES (5)"), "rows 1");
  auto m = Table("m");
  m->SetInMemory(true);
  m->Open();
  EXPECT_EQ(m->RecordCount(), 1);
  m->Close();
  EXPECT_EQ(Exec("DROP TABLE MEMORY m"), "rows 0");
  // A table of another database file, named before a dot.
  const std::string other = (dir_ / "other.at4").string();
  {
    TNRDDatabase creator(nullptr);
    creator.SetDatabaseName("Other");
    creator.SetDatabaseFileName(other);
    creator.SetSilentMode(true);
    creator.CreateDatabase();
  }
  EXPECT_EQ(Exec("CREATE TABLE '" + other + "'.x (a INTEGER)"), "rows 0");
  EXPECT_EQ(Exec("INSERT INTO '" + other + "'.x VALUES (3), (4)"), "rows 2");
  EXPECT_EQ(Exec("CREATE INDEX xa ON '" + other + "'.x (a)"), "rows 0");
  EXPECT_FALSE(Table("x")->Exists());
  EXPECT_EQ(Exec("DROP TABLE '" + other + "'.x"), "rows 0");
}

TEST_F(SqlStatements, AssignVariantToFieldNullEmptiesEveryType) {
  Exec("CREATE TABLE t (a INTEGER, b VARCHAR(5), c DATE, d BLOB, e LARGEINT)");
  Exec("INSERT INTO t VALUES (1, 'x', '2020-01-02', 'bytes', 7)");
  auto t = Table("t");
  t->Open();
  t->Edit();
  TNRDVariant null(bftSignedInt32);
  for (std::int32_t i = 0; i < t->FieldCount(); ++i) sql::TNRDSQLCommand::AssignVariantToField(&null, t->Fields(i));
  t->Post();
  t->Close();
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"||||"}));
  t->Open();
  t->Edit();
  try {
    sql::TNRDSQLCommand::AssignVariantToField(nullptr, t->Fields(0));
    ADD_FAILURE() << "no error";
  } catch (const ENRDException& e) {
    EXPECT_EQ(e.NativeError, 30359);
  }
  t->Cancel();
}

// A text value goes into a field of every kind without a conversion rule of its own (integer, large
// integer, date and time fields have theirs) as it goes through the field's variant setter: the
// same stored value, or the same error.
TEST_F(SqlStatements, AssignVariantToFieldTextAsTheVariantSetterDoes) {
  Exec("CREATE TABLE t (a INTEGER, b VARCHAR(5), c DATE, d SMALLINT, e DOUBLE, f BOOLEAN, g TIMESTAMP, "
       "h TIME, i WORD, j LARGEINT, k BYTE)");
  Exec("INSERT INTO t VALUES (1, 'x', '2020-01-02', 2, 1.5, TRUE, '2020-01-02 03:04:05', '03:04:05', 3, 4, 5)");
  auto t = Table("t");
  t->Open();
  // The field's text after the assignment, or the error it raised.
  auto outcome = [&](std::int32_t column, const TNRDVariant& value, bool direct) {
    t->Edit();
    std::string r;
    try {
      if (direct) sql::TNRDSQLCommand::AssignVariantToField(&value, t->Fields(column));
      else t->Fields(column).SetAsVariant(value.AsVariant());
      r = "value " + t->Fields(column).AsString();
    } catch (const std::exception& e) {
      r = std::string("error ") + e.what();
    }
    t->Cancel();
    return r;
  };
  for (const char* text : {"12", "-3", "1.25", "abc", "", "2021-05-06", "03:04:05", "true", "2021-05-06 07:08:09",
                           "toolongtext"})
    for (std::int32_t column = 0; column < t->FieldCount(); ++column) {
      const TFieldType type = t->Fields(column).DataType();
      if (type == ftInteger || type == ftLargeint || type == ftDate || type == ftTime || type == ftDateTime ||
          type == ftTimeStamp)
        continue;
      TNRDVariant value;
      value.SetAsAnsiString(text);
      EXPECT_EQ(outcome(column, value, true), outcome(column, value, false)) << text << " into " << column;
    }
  t->Close();
}

TEST_F(SqlStatements, QueryComponent) {
  Exec("CREATE TABLE t (a INTEGER, b VARCHAR(10))");
  TNRDQuery q(nullptr);
  q.SetDatabaseName("Family");
  EXPECT_THROW(q.ExecSQL(), ENRDException);  // no text: 20034
  q.SetSQL("INSERT INTO t VALUES (:a, :b), (:a, \":\")");
  ASSERT_EQ(q.ParamCount(), 3);  // the colon between double quotes makes none
  q.ParamByName("a").Value = IntValue(5);
  q.Params()[1].Value = TextValue("five");
  q.Params()[2].Value = IntValue(6);
  EXPECT_EQ(q.RowsAffected(), -1);
  q.ExecSQL();
  // Kept after the implicit unprepare.
  EXPECT_FALSE(q.Prepared());
  EXPECT_EQ(q.RowsAffected(), 2);
  EXPECT_EQ(Rows("t"), (std::vector<std::string>{"5|five", "6|:"}));
  // Prepared explicitly, the statement survives the run.
  q.SetSQL("INSERT INTO t (a) VALUES (:v)");
  q.Params()[0].Value = IntValue(8);
  q.Prepare();
  q.ExecSQL();
  EXPECT_TRUE(q.Prepared());
  EXPECT_EQ(q.RowsAffected(), 1);
  q.UnPrepare();
  EXPECT_EQ(q.RowsAffected(), 1);
  // A text whose last statement has no result cannot be opened.
  q.SetSQL("INSERT INTO t (a) VALUES (9)");
  try {
    q.Open();
    ADD_FAILURE() << "opened";
  } catch (const ENRDException& e) {
    EXPECT_EQ(e.NativeError, 20001);
  }
  EXPECT_FALSE(q.Active());
  q.SetSQL("x");
  try {
    q.ExecSQL();
    ADD_FAILURE() << "ran";
  } catch (const ENRDException& e) {
    EXPECT_EQ(e.NativeError, 30142);
  }
  EXPECT_EQ(db_->DataSetCount(), 0);
}

}  // namespace
