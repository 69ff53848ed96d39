// The SELECT layer against the sqlite3 command-line program on the same random small tables
// (NULLs and repeated keys on purpose): every join type, UNION [ALL], INTERSECT, EXCEPT, GROUP BY
// with aggregates and HAVING, DISTINCT, ORDER BY, TOP, nested SELECTs in WHERE, in the select list
// and in FROM. Where the engine is meant to answer otherwise, the case is listed at the end and
// checked on its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <unistd.h>

#include "SqlSelectUtil.h"
#include "engine/sql/NRDExpressions.h"

using namespace nrd;
using namespace sqltest;

namespace {

struct Query {
  Query(std::string e, std::string s = "", bool o = false) : engine(std::move(e)), sqlite(std::move(s)), ordered(o) {}
  std::string engine;
  std::string sqlite;  // empty: the same text
  bool ordered;
};

const std::vector<Query>& Queries() {
  static const std::vector<Query> q{
      {"SELECT a, b FROM t1 WHERE a > 1"},
      {"SELECT a, c FROM t1 WHERE b IS NULL OR c = 'p'"},
      {"SELECT t1.a, t1.c, t2.d FROM t1 JOIN t2 ON t1.a = t2.a"},
      {"SELECT t1.a, t1.c, t2.d FROM t1 INNER JOIN t2 ON t1.a = t2.a AND t1.b = t2.b"},
      {"SELECT t1.a, t1.c, t2.d FROM t1 LEFT JOIN t2 ON t1.a = t2.a"},
      {"SELECT t1.a, t1.c, t2.d FROM t1 LEFT OUTER JOIN t2 ON t1.a = t2.a AND t2.b > 1"},
      {"SELECT t1.c, t2.a, t2.d FROM t1 RIGHT JOIN t2 ON t1.b = t2.b"},
      {"SELECT t1.a, t1.c, t2.a, t2.d FROM t1 FULL OUTER JOIN t2 ON t1.a = t2.a"},
      {"SELECT t1.c, t2.d FROM t1 CROSS JOIN t2 WHERE t1.b = 0"},
      {"SELECT t1.c, t2.d FROM t1, t2 WHERE t1.a = t2.b"},
      {"SELECT t1.a, t2.d FROM t1 JOIN t2 USING (a)", "SELECT t1.a, t2.d FROM t1 JOIN t2 ON t1.a = t2.a"},
      {"SELECT x.a, y.b FROM t1 x JOIN t1 y ON x.a = y.b WHERE x.c = 'q'"},
      {"SELECT t1.c, t2.d, t3.b FROM t1 JOIN t2 ON t1.a = t2.a LEFT JOIN t1 t3 ON t2.b = t3.a"},
      {"SELECT a FROM t1 UNION SELECT b FROM t2"},
      {"SELECT a, c FROM t1 UNION ALL SELECT a, d FROM t2"},
      {"SELECT a FROM t1 INTERSECT SELECT a FROM t2"},
      {"SELECT a, b FROM t1 EXCEPT SELECT a, b FROM t2"},
      {"SELECT a, COUNT(*), SUM(b), MIN(c), MAX(b), COUNT(c) FROM t1 GROUP BY a"},
      {"SELECT a, COUNT(*) FROM t1 GROUP BY a HAVING COUNT(*) > 1"},
      {"SELECT a, b, COUNT(*) FROM t1 GROUP BY a, b"},
      {"SELECT COUNT(*), SUM(a), MAX(c) FROM t1"},
      {"SELECT COUNT(*), MIN(b) FROM t1 WHERE a > 100"},
      {"SELECT t1.a, COUNT(t2.d) FROM t1 LEFT JOIN t2 ON t1.a = t2.a GROUP BY t1.a"},
      {"SELECT DISTINCT a, c FROM t1"},
      {"SELECT a, b, c FROM t1 ORDER BY a DESC, b, c", "", true},
      {"SELECT c, b FROM t1 ORDER BY c, b DESC", "", true},
      {"SELECT a FROM t1 UNION SELECT a FROM t2 ORDER BY a", "", true},
      {"SELECT TOP 3 a, b FROM t1 ORDER BY a, b", "SELECT a, b FROM t1 ORDER BY a, b LIMIT 3", true},
      {"SELECT TOP 2 a FROM t1 ORDER BY a DESC", "SELECT a FROM t1 ORDER BY a DESC LIMIT 2", true},
      {"SELECT a, b FROM t1 WHERE a IN (SELECT b FROM t2)"},
      {"SELECT a, c FROM t1 WHERE EXISTS (SELECT * FROM t2 WHERE t2.a = t1.a)"},
      {"SELECT a, (SELECT MAX(b) FROM t2 WHERE t2.a = t1.a) AS m FROM t1"},
      {"SELECT a, b FROM t1 WHERE b > (SELECT MIN(b) FROM t2)"},
      {"SELECT s.a, COUNT(*) FROM (SELECT a FROM t1 WHERE b IS NOT NULL) s GROUP BY s.a"},
      // every join type once more: natural, USING on two columns, outer joins on keys with NULLs
      // on both sides, a join with a filter on the join, cross joins whole, three tables
      {"SELECT t1.a, t1.b, t1.c, t2.d FROM t1 NATURAL JOIN t2"},
      {"SELECT t1.a, t1.b, t1.c, t2.d FROM t1 NATURAL LEFT JOIN t2"},
      {"SELECT t1.c, t2.d FROM t1 JOIN t2 USING (a, b)", "SELECT t1.c, t2.d FROM t1 JOIN t2 ON t1.a = t2.a AND t1.b = t2.b"},
      {"SELECT t1.a, t1.c, t2.d FROM t1 LEFT JOIN t2 USING (b)", "SELECT t1.a, t1.c, t2.d FROM t1 LEFT JOIN t2 ON t1.b = t2.b"},
      {"SELECT t1.a, t1.c, t2.b, t2.d FROM t1 RIGHT OUTER JOIN t2 ON t1.a = t2.a AND t1.b = t2.b"},
      {"SELECT t1.b, t1.c, t2.b, t2.d FROM t1 FULL JOIN t2 ON t1.b = t2.b"},
      {"SELECT t1.a, t2.a FROM t1 FULL OUTER JOIN t2 ON t1.a = t2.a AND t1.c = t2.d"},
      {"SELECT t1.a, t1.b, t2.b FROM t1 JOIN t2 ON t1.a = t2.a AND t1.b > t2.b"},
      {"SELECT t1.a, t2.b FROM t1 CROSS JOIN t2"},
      {"SELECT t1.a, t2.b FROM t1, t2"},
      {"SELECT x.c, y.d, z.c FROM t1 x JOIN t2 y ON x.a = y.a JOIN t1 z ON y.b = z.b"},
      {"SELECT x.c, y.d, z.c FROM t1 x LEFT JOIN t2 y ON x.a = y.a LEFT JOIN t1 z ON y.b = z.a"},
      {"SELECT t1.a, s.m FROM t1 JOIN (SELECT a, MAX(b) AS m FROM t2 GROUP BY a) s ON t1.a = s.a"},
      // set operators: more columns, chains, precedence, NULLs as equal values
      {"SELECT a, b, c FROM t1 UNION SELECT a, b, d FROM t2"},
      {"SELECT b FROM t1 UNION ALL SELECT b FROM t2 UNION ALL SELECT a FROM t1"},
      {"SELECT a, b FROM t1 INTERSECT SELECT a, b FROM t2"},
      {"SELECT c FROM t1 EXCEPT SELECT d FROM t2"},
      {"SELECT a FROM t1 UNION SELECT a FROM t2 EXCEPT SELECT b FROM t1"},
      {"SELECT a FROM t1 EXCEPT SELECT a FROM t2 UNION SELECT b FROM t2"},
      {"SELECT b FROM t1 WHERE a > 0 UNION SELECT b FROM t2 WHERE a < 3"},
      // grouping
      {"SELECT b, SUM(a), COUNT(a), MIN(c), MAX(c) FROM t1 GROUP BY b"},
      {"SELECT c, COUNT(*), SUM(b) FROM t1 GROUP BY c HAVING SUM(b) > 2 OR c IS NULL"},
      {"SELECT a, COUNT(DISTINCT b) FROM t1 GROUP BY a"},
      {"SELECT COUNT(DISTINCT c), SUM(DISTINCT a) FROM t1"},
      {"SELECT t2.b, COUNT(*) FROM t1 JOIN t2 ON t1.a = t2.a GROUP BY t2.b HAVING COUNT(*) >= 2"},
      {"SELECT a, MAX(b) FROM t1 WHERE c IS NOT NULL GROUP BY a HAVING MIN(b) < 2"},
      // DISTINCT, ORDER BY, TOP
      {"SELECT DISTINCT b FROM t1"},
      {"SELECT DISTINCT t1.a, t2.d FROM t1 JOIN t2 ON t1.a = t2.a"},
      {"SELECT DISTINCT a, b FROM t1 ORDER BY b DESC, a DESC", "", true},
      {"SELECT a, c FROM t1 WHERE c IS NOT NULL AND a IS NOT NULL ORDER BY c, a DESC", "", true},
      {"SELECT a, COUNT(*) FROM t1 WHERE a IS NOT NULL GROUP BY a ORDER BY a DESC", "", true},
      {"SELECT TOP 4 b, c FROM t1 WHERE b IS NOT NULL ORDER BY b DESC, c", "SELECT b, c FROM t1 WHERE b IS NOT NULL ORDER BY b DESC, c LIMIT 4", true},
      // nested SELECTs in WHERE and in the select list, correlated and not
      {"SELECT a, b FROM t1 WHERE a IS NOT NULL AND a NOT IN (SELECT a FROM t2 WHERE a IS NOT NULL)"},
      {"SELECT a, c FROM t1 WHERE NOT EXISTS (SELECT * FROM t2 WHERE t2.b = t1.b)"},
      {"SELECT a, (SELECT COUNT(*) FROM t2 WHERE t2.b = t1.b) AS n FROM t1"},
      {"SELECT c, (SELECT MIN(a) FROM t2) AS m FROM t1"},
      {"SELECT a FROM t1 WHERE b = (SELECT MAX(b) FROM t2 WHERE t2.a = t1.a)"},
      {"SELECT a, b FROM t1 WHERE a IN (1, 3) AND b IN (SELECT b FROM t2 WHERE d IS NOT NULL)"},
  };
  return q;
}

struct Row {
  std::string a, b, c;  // "-" for NULL
};

std::string SqlValue(const std::string& v, bool text) {
  if (v == "-") return "NULL";
  return text ? "'" + v + "'" : v;
}

// Runs the script with sqlite3 and gives, per query marker, the rows it printed.
std::map<int, std::vector<std::string>> RunSqlite(const std::string& script, const std::filesystem::path& dir) {
  const std::filesystem::path in = dir / "script.sql", out = dir / "out.txt";
  std::ofstream(in) << script;
  const std::string cmd = "sqlite3 :memory: < '" + in.string() + "' > '" + out.string() + "' 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream f(out);
  std::map<int, std::vector<std::string>> result;
  int current = -1;
  for (std::string line; std::getline(f, line);) {
    if (line.rfind("#Q", 0) == 0) {
      current = std::stoi(line.substr(2));
      result[current];
      continue;
    }
    if (current >= 0) result[current].push_back(line);
  }
  return result;
}

class Differential : public ::testing::TestWithParam<unsigned> {
 protected:
  void SetUp() override {
    EngineStartup();
    sql::InstallExpressionHooks();
    dir_ = std::filesystem::temp_directory_path() / ("trevolan-diff-" + std::to_string(::getpid()) + "-" +
                                                     std::to_string(GetParam()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    EngineShutdown();
    std::filesystem::remove_all(dir_);
  }
  std::filesystem::path dir_;
};

TEST_P(Differential, SameRowsAsSqlite) {
  const std::string probe = "sqlite3 -version > '" + (dir_ / "version.txt").string() + "' 2>&1";
  if (std::system(probe.c_str()) != 0) GTEST_SKIP() << "no sqlite3 program";
  std::mt19937 rng(GetParam());
  auto value = [&](int n) { return rng() % 5 == 0 ? std::string("-") : std::to_string(rng() % n); };
  auto text = [&]() {
    static const char* t[] = {"p", "q", "r"};
    return rng() % 5 == 0 ? std::string("-") : std::string(t[rng() % 3]);
  };
  std::string script = ".nullvalue -\n.separator |\n";
  for (const char* name : {"t1", "t2"}) {
    const std::string last = std::string(name) == "t1" ? "c" : "d";
    std::vector<std::vector<std::string>> rows;
    const int count = 6 + static_cast<int>(rng() % 8);
    for (int i = 0; i < count; ++i) rows.push_back({value(4), value(4), text()});
    MakeTable(name, {{"a", aftInteger, 0}, {"b", aftInteger, 0}, {last, aftString, 5}}, rows);
    script += "CREATE TABLE " + std::string(name) + " (a INTEGER, b INTEGER, " + last + " TEXT);\n";
    for (const auto& r : rows)
      script += "INSERT INTO " + std::string(name) + " VALUES (" + SqlValue(r[0], false) + ", " + SqlValue(r[1], false) +
                ", " + SqlValue(r[2], true) + ");\n";
  }
  const std::vector<Query>& qs = Queries();
  for (std::size_t i = 0; i < qs.size(); ++i)
    script += "SELECT '#Q" + std::to_string(i) + "';\n" + (qs[i].sqlite.empty() ? qs[i].engine : qs[i].sqlite) + ";\n";
  const std::map<int, std::vector<std::string>> expected = RunSqlite(script, dir_);
  std::size_t compared = 0;
  for (std::size_t i = 0; i < qs.size(); ++i) {
    const Result r = Select(qs[i].engine);
    auto it = expected.find(static_cast<int>(i));
    ASSERT_NE(it, expected.end()) << qs[i].engine;
    if (qs[i].ordered)
      EXPECT_EQ(r.rows, it->second) << qs[i].engine << " (seed " << GetParam() << ")";
    else
      EXPECT_EQ(Sorted(r.rows), Sorted(it->second)) << qs[i].engine << " (seed " << GetParam() << ")";
    compared += it->second.size();
  }
  EXPECT_GT(compared, 100u) << "the comparison saw too few rows to mean anything";
}

INSTANTIATE_TEST_SUITE_P(Seeds, Differential, ::testing::Values(1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u));

// Where the engine answers otherwise than sqlite3, on purpose.
class Deviations : public ::testing::Test {
 protected:
  void SetUp() override {
    EngineStartup();
    sql::InstallExpressionHooks();
  }
  void TearDown() override { EngineShutdown(); }
};

TEST_F(Deviations, AnEmptyStringIsStoredAsNull) {
  TNRDTable t;
  t.SetDatabaseName("MEMORY");
  t.SetTableName("e");
  t.AdvFieldDefs().Add("s", aftString, 5, false);
  t.CreateTable();
  t.Open();
  t.Append();
  t.Fields(0).SetAsString("");
  t.Post();
  EXPECT_EQ(Select("SELECT COUNT(*) FROM e WHERE s IS NULL").rows, (std::vector<std::string>{"1"}));
}

TEST_F(Deviations, NotInOverASubqueryWithNullsIgnoresTheNulls) {
  // sqlite3 gives no row (x NOT IN (.., NULL) is unknown); the engine's IN compares with the
  // values that are there.
  MakeTable("n", {{"v", aftInteger, 0}}, {{"1"}, {"-"}});
  MakeTable("m", {{"v", aftInteger, 0}}, {{"2"}});
  EXPECT_EQ(Select("SELECT v FROM m WHERE v NOT IN (SELECT v FROM n)").rows, (std::vector<std::string>{"2"}));
  // A NULL value is not in a set of a subquery (sqlite3: unknown), so NOT IN holds for it.
  MakeTable("k", {{"v", aftInteger, 0}}, {{"-"}, {"3"}});
  EXPECT_EQ(Sorted(Select("SELECT v FROM k WHERE v NOT IN (SELECT v FROM m)").rows),
            (std::vector<std::string>{"-", "3"}));
}

TEST_F(Deviations, TopCountsFromARowNumberOfTheInput) {
  // TOP n, m starts at input row m (counted from 1), where sqlite3 has LIMIT n OFFSET m - 1.
  MakeTable("r", {{"v", aftInteger, 0}}, {{"1"}, {"2"}, {"3"}, {"4"}});
  EXPECT_EQ(Select("SELECT TOP 2, 2 v FROM r").rows, (std::vector<std::string>{"2", "3"}));
}

}  // namespace
