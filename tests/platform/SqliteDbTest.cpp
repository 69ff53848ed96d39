// The SQLite layer: opening (never creating, never a URI, defensive), typed reads of any storage class,
// queries, keyed lookups with and without the file's index, edits and transactions.
#include "platform/SqliteDb.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <filesystem>
#include <fstream>

using platform::ESqliteError;
using platform::TSqliteConnection;
using platform::TSqliteQuery;
using platform::TSqliteTable;
using platform::TSqliteValue;

namespace {

std::string MakeDb(const QTemporaryDir& dir, const char* name, const char* sql) {
  const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr), SQLITE_OK);
  char* err = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
  sqlite3_free(err);
  sqlite3_close(db);
  return path;
}

// Expects ESqliteError whose message contains the given text.
template <class F>
void ExpectError(F&& f, const std::string& part) {
  try {
    f();
    ADD_FAILURE() << "no error; expected one containing \"" << part << "\"";
  } catch (const ESqliteError& e) {
    EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
  }
}

}  // namespace

TEST(SqliteConnection, OpensOnlyExistingDatabaseFiles) {
  QTemporaryDir dir;
  const std::string missing = dir.filePath("missing.at5").toStdString();
  TSqliteConnection c;
  ExpectError([&] { c.Open(missing, TSqliteConnection::Access::ReadWrite); }, "does not exist");
  EXPECT_FALSE(std::filesystem::exists(missing));  // never created
  ExpectError([&] { c.Open(dir.path().toStdString(), TSqliteConnection::Access::ReadOnly); }, "not a file");
  ExpectError([&] { c.Open("", TSqliteConnection::Access::ReadOnly); }, "no database file");

  const std::string text = dir.filePath("text.at5").toStdString();
  std::ofstream(text) << "0 HEAD\n1 CHAR UTF-8\n0 TRLR\n" << std::string(600, 'x');
  ExpectError([&] { c.Open(text, TSqliteConnection::Access::ReadOnly); }, "text.at5");
  EXPECT_FALSE(c.Connected());

  // A URI-looking name is a file name: with URI handling it would create an in-memory or new database.
  const std::string uri = "file:" + dir.filePath("u.db").toStdString() + "?mode=rwc";
  ExpectError([&] { c.Open(uri, TSqliteConnection::Access::ReadWrite); }, "does not exist");
  EXPECT_FALSE(std::filesystem::exists(dir.filePath("u.db").toStdString()));
  ExpectError([&] { c.Open("file::memory:", TSqliteConnection::Access::ReadWrite); }, "does not exist");
}

TEST(SqliteConnection, RunsDefensiveWithoutTrustedSchemaAndReadOnlyRefusesWrites) {
  QTemporaryDir dir;
  const std::string path = MakeDb(dir, "d.db", "CREATE TABLE t (a INTEGER); INSERT INTO t VALUES (1);");
  TSqliteConnection c;
  c.Open(path, TSqliteConnection::Access::ReadOnly);
  int defensive = -1, trusted = -1;
  sqlite3_db_config(c.Handle(), SQLITE_DBCONFIG_DEFENSIVE, -1, &defensive);
  sqlite3_db_config(c.Handle(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, -1, &trusted);
  EXPECT_EQ(defensive, 1);
  EXPECT_EQ(trusted, 0);
  ExpectError([&] { c.Exec("UPDATE t SET a = 2"); }, "readonly");

  c.Open(path, TSqliteConnection::Access::ReadWrite);
  // Defensive mode: the schema cannot be edited as a table even when asked for.
  ExpectError([&] { c.Exec("PRAGMA writable_schema=ON; UPDATE sqlite_schema SET sql='x'"); }, "");
  c.Exec("UPDATE t SET a = 2");
}

TEST(SqliteValue, EveryStorageClassReadsAsEveryTypeWithoutFailing) {
  QTemporaryDir dir;
  const std::string path = MakeDb(dir, "v.db", "CREATE TABLE t (x);");
  TSqliteConnection c;
  c.Open(path, TSqliteConnection::Access::ReadOnly);
  struct Case {
    const char* literal;
    TSqliteValue::Kind kind;
    std::int64_t asInteger;
    double asFloat;
    const char* asString;
    bool asBoolean;
  };
  const Case cases[] = {
      {"12", TSqliteValue::Kind::Integer, 12, 12, "12", true},
      {"0", TSqliteValue::Kind::Integer, 0, 0, "0", false},
      {"12.0", TSqliteValue::Kind::Float, 12, 12, "12", true},
      {"12.5", TSqliteValue::Kind::Float, 0, 12.5, "12.5", true},
      {"1e300", TSqliteValue::Kind::Float, 0, 1e300, "1e+300", true},
      {"'12'", TSqliteValue::Kind::Text, 12, 12, "12", false},
      {"' -7 '", TSqliteValue::Kind::Text, -7, -7, " -7 ", false},
      {"'12abc'", TSqliteValue::Kind::Text, 0, 0, "12abc", false},
      {"'0x1A'", TSqliteValue::Kind::Text, 0, 0, "0x1A", false},
      {"'99999999999999999999'", TSqliteValue::Kind::Text, 0, 1e20, "99999999999999999999", false},
      {"'true'", TSqliteValue::Kind::Text, 0, 0, "true", true},
      {"'FALSE'", TSqliteValue::Kind::Text, 0, 0, "FALSE", false},
      {"x'3132'", TSqliteValue::Kind::Blob, 0, 0, "", false},
      {"NULL", TSqliteValue::Kind::Null, 0, 0, "", false},
  };
  for (const Case& k : cases) {
    TSqliteQuery q(c);
    q.SetSQL(std::string("SELECT ") + k.literal + " AS v");
    q.Open();
    const TSqliteValue v = q.FieldByName("V");
    EXPECT_EQ(v.GetKind(), k.kind) << k.literal;
    EXPECT_EQ(v.AsInteger(), k.asInteger) << k.literal;
    EXPECT_DOUBLE_EQ(v.AsFloat(), k.asFloat) << k.literal;
    EXPECT_EQ(v.AsString(), k.asString) << k.literal;
    EXPECT_EQ(v.AsBoolean(), k.asBoolean) << k.literal;
    EXPECT_EQ(v.IsNull(), k.kind == TSqliteValue::Kind::Null) << k.literal;
  }
  TSqliteQuery q(c);
  q.SetSQL("SELECT x'3132' AS b, 'ab' AS t");
  q.Open();
  EXPECT_EQ(q.Field(0).AsBytes(), "12");
  EXPECT_EQ(q.Field(1).AsBytes(), "ab");
}

TEST(SqliteQuery, WalksRowsCountsThemAndReadsByPositionAndName) {
  QTemporaryDir dir;
  const std::string path =
      MakeDb(dir, "q.db", "CREATE TABLE t (id INTEGER, name TEXT); INSERT INTO t VALUES (3,'c'),(1,'a'),(2,'b');");
  TSqliteConnection c;
  c.Open(path, TSqliteConnection::Access::ReadOnly);
  TSqliteQuery q(c);
  q.SetSQL("select id, name from t order by id;");
  q.Open();
  q.FetchAll();
  EXPECT_EQ(q.RecordCount(), 3);
  std::string names;
  std::int64_t sum = 0;
  for (; !q.Eof(); q.Next()) {
    names += q.FieldByName("NAME").AsString();
    sum += q.Field(0).AsInteger();
  }
  EXPECT_EQ(names, "abc");
  EXPECT_EQ(sum, 6);
  EXPECT_TRUE(q.Field(0).IsNull());  // past the end: NULL, not a stale row
  ExpectError([&] { (void)q.FieldByName("nope"); }, "nope");
  ExpectError([&] { (void)q.Field(2); }, "out of range");
  q.Close();
  EXPECT_TRUE(q.Eof());
  q.SetSQL("select * from missing");
  ExpectError([&] { q.Open(); }, "no such table: missing");

  q.SetSQL("select name from t where id = ?1");
  q.SetParam(1, TSqliteValue::Integer(2));
  q.Open();
  EXPECT_EQ(q.Field(0).AsString(), "b");
}

// Keyed lookups must find the same rows whether the file's index, the layer's hash of the keys, or the
// hash over prefetched rows serves them: 0 indexed, 1 no index, 2 indexed and prefetched.
class SqliteTableKeys : public ::testing::TestWithParam<int> {};

TEST_P(SqliteTableKeys, FindKeyFindsTheFirstRowInKeyOrder) {
  const bool indexed = GetParam() != 1;
  QTemporaryDir dir;
  std::string sql =
      "CREATE TABLE v (t INTEGER, f INTEGER, r INTEGER, s TEXT);"
      "INSERT INTO v VALUES (13,64,7,'second'),(13,64,7,'later'),(13,63,7,'first'),(13,64,8,'other'),"
      "(7,28,1,'event'),('13','65','7','text keys'),(13.0,66,7,'real key'),(NULL,64,7,'null key'),"
      "(13.5,66,7,'fraction');";
  if (indexed) sql += "CREATE INDEX ix ON v (t, f, r);";
  const std::string path = MakeDb(dir, "k.db", sql.c_str());
  TSqliteConnection c;
  c.Open(path, TSqliteConnection::Access::ReadWrite);
  TSqliteTable t(c);
  t.TableName = "V";
  t.IndexFieldNames = "t;f;r";
  t.Prefetch = GetParam() == 2;
  t.FieldNames = "s";
  t.Open();
  EXPECT_EQ(t.UsesFileIndex(), GetParam() == 0);
  EXPECT_TRUE(t.FindKey({13, 64, 7}));
  EXPECT_EQ(t.FieldByName("s").AsString(), "second");
  EXPECT_TRUE(t.FindKey({13, 64}));
  EXPECT_EQ(t.FieldByName("s").AsString(), "second");
  EXPECT_TRUE(t.FindKey({13}));
  EXPECT_EQ(t.FieldByName("s").AsString(), "first");  // f 63 comes before 64
  // The column has INTEGER affinity, so '13' was stored as the number 13.
  EXPECT_TRUE(t.FindKey({13, 65, 7}));
  EXPECT_EQ(t.FieldByName("s").AsString(), "text keys");
  EXPECT_TRUE(t.FindKey({13, 66, 7}));
  EXPECT_EQ(t.FieldByName("s").AsString(), "real key");
  EXPECT_FALSE(t.FindKey({13, 64, 9}));
  EXPECT_FALSE(t.HasRow());
  EXPECT_TRUE(t.FieldByName("s").IsNull());
  EXPECT_FALSE(t.FindKey({14}));
  ExpectError([&] { t.FindKey({1, 2, 3, 4}); }, "key values");
  ExpectError([&] { (void)t.FieldByName("nope"); }, "nope");

  // Edits: a keyed update inside a transaction, undone by a rollback, kept by a commit.
  ASSERT_TRUE(t.FindKey({7, 28, 1}));
  c.StartTransaction();
  EXPECT_TRUE(t.UpdateCurrent("s", TSqliteValue::Text("changed")));
  c.Rollback();
  EXPECT_FALSE(c.InTransaction());
  t.Open();
  ASSERT_TRUE(t.FindKey({7, 28, 1}));
  EXPECT_EQ(t.FieldByName("s").AsString(), "event");
  c.StartTransaction();
  EXPECT_TRUE(t.UpdateCurrent("s", TSqliteValue::Text("kept")));
  c.Commit();
  t.Open();
  ASSERT_TRUE(t.FindKey({7, 28, 1}));
  EXPECT_EQ(t.FieldByName("s").AsString(), "kept");
  ExpectError([&] { c.Commit(); }, "no transaction");
  // A column outside the prefetched ones reads through the row id; an edited key is found under its new value.
  ASSERT_TRUE(t.FindKey({13, 64, 8}));
  EXPECT_EQ(t.FieldByName("f").AsInteger(), 64);
  EXPECT_EQ(t.Field(3).AsString(), "other");
  EXPECT_TRUE(t.UpdateCurrent("r", TSqliteValue::Integer(80)));
  EXPECT_FALSE(t.FindKey({13, 64, 8}));
  ASSERT_TRUE(t.FindKey({13, 64, 80}));
  EXPECT_EQ(t.FieldByName("s").AsString(), "other");
}

INSTANTIATE_TEST_SUITE_P(IndexOrHash, SqliteTableKeys, ::testing::Values(0, 1, 2));

// The hash over kept rows is built in batches of rows: the first row of a key stays, whether its
// repeats come in its own batch or in later ones, and rows without a number key (skipped) shift nothing.
TEST(SqliteTable, KeptHashKeepsTheFirstRowOfEachKeyAcrossBatches) {
  QTemporaryDir dir;
  std::string sql = "CREATE TABLE v (t INTEGER, f INTEGER, r INTEGER, s INTEGER);";
  // Keys repeat within a batch (even rows, every 10 rows) and across batches (odd rows, every 74).
  const auto keyOf = [](int i) { return i % 2 == 0 ? i % 5 : 5 + i % 37; };
  const auto nullKey = [](int i) { return i % 7 == 3; };
  for (int i = 0; i < 200; ++i)
    sql += "INSERT INTO v VALUES (" + std::string(nullKey(i) ? "NULL" : "1") + "," + std::to_string(keyOf(i)) + ",0," +
           std::to_string(i) + ");";
  const std::string path = MakeDb(dir, "b.db", sql.c_str());
  TSqliteConnection c;
  c.Open(path, TSqliteConnection::Access::ReadOnly);
  TSqliteTable t(c);
  t.TableName = "v";
  t.IndexFieldNames = "t;f;r";
  t.Prefetch = true;
  t.FieldNames = "s";
  t.Open();
  for (int k = 0; k < 42; ++k) {
    int first = 0;
    while (keyOf(first) != k || nullKey(first)) ++first;  // rows with a NULL key are never found
    ASSERT_TRUE(t.FindKey({1, k, 0})) << k;
    EXPECT_EQ(t.FieldByName("s").AsInteger(), first) << k;
    EXPECT_EQ(t.FindKeptRow({1, k, 0}), first) << k;
  }
  EXPECT_FALSE(t.FindKey({1, 42, 0}));
}

TEST(SqliteTable, MissingTableOrKeyColumnIsAnError) {
  QTemporaryDir dir;
  const std::string path = MakeDb(dir, "m.db", "CREATE TABLE v (a INTEGER);");
  TSqliteConnection c;
  c.Open(path, TSqliteConnection::Access::ReadOnly);
  TSqliteTable t(c);
  t.TableName = "ValuesStr";
  t.IndexFieldNames = "a";
  ExpectError([&] { t.Open(); }, "no such table: ValuesStr");
  t.TableName = "v";
  t.IndexFieldNames = "a;b";
  ExpectError([&] { t.Open(); }, "no such column: v.b");
  EXPECT_FALSE(t.Active());
}
