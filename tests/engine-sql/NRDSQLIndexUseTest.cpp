// A SELECT on a disk table answers an equality or a range on an indexed column through the index,
// and a join reads each of its inputs once instead of rescanning one per row of the other. The
// records read are counted as the filter evaluations the storage layer asks of the expression
// layer: a scan of the whole table costs one per record, an index range one per record of the
// range.
#include <gtest/gtest.h>

#include "tests/engine-sql/SqlStatementsFixture.h"

namespace {

using namespace nrd;

class SqlIndexUse : public SqlStatements {
 protected:
  static constexpr int kRows = 5000;

  // p: id 0 .. kRows-1, k = id, u = id (k indexed, u not), name "n<id mod 100>".
  // q: id 0 .. kRows/10-1, k = 10 * id (indexed), tag "t<id>".
  void CreateTables() {
    ASSERT_EQ(Exec("CREATE TABLE p (id INTEGER, k INTEGER, u INTEGER, name VARCHAR(10))"), "rows 0");
    ASSERT_EQ(Exec("CREATE INDEX ByK ON p (k)"), "rows 0");
    ASSERT_EQ(Exec("CREATE TABLE q (id INTEGER, k INTEGER, tag VARCHAR(10))"), "rows 0");
    ASSERT_EQ(Exec("CREATE INDEX QByK ON q (k)"), "rows 0");
    db_->StartTransaction();
    {
      auto p = Table("p");
      p->Open();
      for (int i = 0; i < kRows; ++i) {
        p->Append();
        p->FieldByName("id").SetAsInteger(i);
        p->FieldByName("k").SetAsInteger(i);
        p->FieldByName("u").SetAsInteger(i);
        p->FieldByName("name").SetAsString("n" + std::to_string(i % 100));
        p->Post();
      }
      auto q = Table("q");
      q->Open();
      for (int i = 0; i < kRows / 10; ++i) {
        q->Append();
        q->FieldByName("id").SetAsInteger(i);
        q->FieldByName("k").SetAsInteger(10 * i);
        q->FieldByName("tag").SetAsString("t" + std::to_string(i));
        q->Post();
      }
    }
    db_->Commit();
  }

  // The rows the SELECT gives and the filter evaluations it took.
  std::pair<std::int64_t, std::int64_t> Run(const std::string& sql) {
    const std::int64_t before = sql::StorageEvaluationCount();
    TNRDQuery q(nullptr);
    q.SetDatabaseName("Family");
    q.SetSQL(sql);
    q.Open();
    std::int64_t rows = 0;
    for (q.First(); !q.Eof(); q.Next()) ++rows;
    return {rows, sql::StorageEvaluationCount() - before};
  }
};

TEST_F(SqlIndexUse, AnEqualityOrARangeOnAnIndexedColumnReadsOnlyItsKeyRange) {
  CreateTables();
  struct Case {
    const char* indexed;    // a condition on k
    const char* unindexed;  // the same condition on u
    std::int64_t rows;
    std::int64_t range;     // the records of the key range
  };
  const Case cases[] = {
      {"k = 777", "u = 777", 1, 1},
      {"k = 99999", "u = 99999", 0, 0},
      {"k BETWEEN 1000 AND 1099", "u BETWEEN 1000 AND 1099", 100, 100},
      {"k BETWEEN 1099 AND 1000", "u BETWEEN 1099 AND 1000", 0, 0},
      {"k >= 4950", "u >= 4950", 50, 50},
      {"k < 30", "u < 30", 30, 30},
      {"k > 500 AND k <= 520", "u > 500 AND u <= 520", 20, 20},
      {"k >= 4000 AND k < 4010 AND name = 'n0'", "u >= 4000 AND u < 4010 AND name = 'n0'", 1, 10},
      {"name = 'n7' AND k BETWEEN 300 AND 399", "name = 'n7' AND u BETWEEN 300 AND 399", 1, 100},
  };
  for (const Case& c : cases) {
    const auto [rows, reads] = Run(std::string("SELECT id, name FROM p WHERE ") + c.indexed);
    const auto [plainRows, plainReads] = Run(std::string("SELECT id, name FROM p WHERE ") + c.unindexed);
    EXPECT_EQ(rows, c.rows) << c.indexed;
    EXPECT_EQ(plainRows, c.rows) << c.unindexed;
    // The index: the key range and at most a record on either side of it; the scan: every record.
    EXPECT_LE(reads, c.range + 2) << c.indexed;
    EXPECT_GE(plainReads, kRows) << c.unindexed;
  }
  // NOT BETWEEN, and a BETWEEN under OR, are no ranges: every record is read, and a NULL key is
  // neither in nor out of the range.
  ASSERT_EQ(Exec("INSERT INTO p (id, name) VALUES (-1, 'none')"), "rows 1");
  const std::string last = std::to_string(kRows - 1), tenBeforeLast = std::to_string(kRows - 11);
  EXPECT_EQ(Run("SELECT id FROM p WHERE k NOT BETWEEN 10 AND " + last).first, 10);
  EXPECT_EQ(Run("SELECT id FROM p WHERE k BETWEEN 0 AND 9 OR name = 'none'").first, 11);
  EXPECT_EQ(Run("SELECT id FROM p WHERE NOT (k BETWEEN 0 AND " + tenBeforeLast + ")").first, 10);
  EXPECT_EQ(Run("SELECT id FROM p WHERE k BETWEEN 0 AND " + last).first, kRows);
}

TEST_F(SqlIndexUse, AJoinOnAnIndexedKeyReadsEachInputOnce) {
  CreateTables();
  // Both inputs carry a filter of their own, so every record read from either is counted; a join
  // that rescanned its inner input per outer row would read 5,000 x 500 records.
  const std::string inner = "(SELECT k, tag FROM q WHERE tag IS NOT NULL) b";
  const std::pair<std::string, std::int64_t> joins[] = {
      {"SELECT a.id, b.tag FROM p a JOIN " + inner + " ON a.k = b.k WHERE a.name IS NOT NULL", kRows / 10},
      {"SELECT a.id, b.tag FROM p a LEFT JOIN " + inner + " ON a.k = b.k WHERE a.name IS NOT NULL", kRows},
      {"SELECT a.id, b.tag FROM p a RIGHT JOIN " + inner + " ON a.k = b.k WHERE a.name IS NOT NULL", kRows / 10},
      {"SELECT a.id, b.tag FROM p a FULL JOIN " + inner + " ON a.k = b.k WHERE a.name IS NOT NULL", kRows},
  };
  for (const auto& [sql, expected] : joins) {
    const auto [rows, reads] = Run(sql);
    EXPECT_EQ(rows, expected) << sql;
    EXPECT_LE(reads, 2 * (kRows + kRows / 10)) << sql;
  }
}

}  // namespace
