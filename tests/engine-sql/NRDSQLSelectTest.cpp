// SELECT texts run over small tables of the database "MEMORY": the select list, FROM with every
// join form, WHERE, GROUP BY and HAVING, set operators, ORDER BY, TOP, INTO and nested SELECTs;
// the cases are kept as a data table.
#include <gtest/gtest.h>

#include "SqlSelectUtil.h"
#include "engine/sql/NRDExpressions.h"

using namespace nrd;
using namespace sqltest;

namespace {

class SelectText : public ::testing::Test {
 protected:
  void SetUp() override {
    EngineStartup();
    sql::InstallExpressionHooks();
    MakeTable("a", {{"id", aftInteger, 0}, {"name", aftString, 20}, {"x", aftInteger, 0}},
              {{"1", "ann", "10"}, {"2", "bob", "20"}, {"2", "bea", "25"}, {"3", "cid", "-"}, {"-", "nul", "5"}});
    MakeTable("b", {{"id", aftInteger, 0}, {"name", aftString, 20}, {"y", aftInteger, 0}},
              {{"2", "bob", "1"}, {"2", "box", "2"}, {"3", "cat", "3"}, {"4", "dan", "4"}, {"-", "nob", "5"}});
    MakeTable("c", {{"id", aftInteger, 0}, {"z", aftString, 10}}, {{"3", "z3"}, {"4", "z4"}});
    MakeTable("global", {{"vstr", aftString, 10}}, {{"----"}});
  }
  void TearDown() override { EngineShutdown(); }
};

struct Case {
  Case(const char* s, std::vector<std::string> r, bool o = false) : sql(s), rows(std::move(r)), ordered(o) {}
  const char* sql;
  std::vector<std::string> rows;  // in order when `ordered`, else compared sorted
  bool ordered;
};

TEST_F(SelectText, Cases) {
  const std::vector<Case> cases{
      // select list and WHERE
      {"SELECT * FROM a WHERE id = 2", {"2|bob|20", "2|bea|25"}},
      {"SELECT name, x * 2 AS dx FROM a WHERE x > 10", {"bob|40", "bea|50"}},
      {"SELECT a.name FROM a WHERE a.x IS NULL", {"cid"}},
      {"SELECT name FROM a WHERE id = 2 AND x > 20 OR id = 3", {"bea", "cid"}},
      // every join form
      {"SELECT a.name, b.name FROM a JOIN b ON a.id = b.id", {"bob|bob", "bob|box", "bea|bob", "bea|box", "cid|cat"}},
      {"SELECT a.name, b.name FROM a INNER JOIN b ON a.id = b.id AND a.x > b.y * 20",
       {"bea|bob"}},
      {"SELECT a.name, b.name FROM a LEFT JOIN b ON a.id = b.id",
       {"ann|-", "bob|bob", "bob|box", "bea|bob", "bea|box", "cid|cat", "nul|-"}},
      {"SELECT a.name, b.name FROM a LEFT OUTER JOIN b ON a.id = b.id AND b.y = 2",
       {"ann|-", "bob|box", "bea|box", "cid|-", "nul|-"}},
      {"SELECT a.name, b.name FROM a RIGHT JOIN b ON a.id = b.id",
       {"bob|bob", "bob|box", "bea|bob", "bea|box", "cid|cat", "-|dan", "-|nob"}},
      {"SELECT a.name, b.name FROM a FULL OUTER JOIN b ON a.id = b.id",
       {"ann|-", "bob|bob", "bob|box", "bea|bob", "bea|box", "cid|cat", "nul|-", "-|dan", "-|nob"}},
      {"SELECT a.name, c.z FROM a CROSS JOIN c WHERE a.id = 1", {"ann|z3", "ann|z4"}},
      {"SELECT a.name, c.z FROM a, c WHERE a.id = c.id", {"cid|z3"}},
      {"SELECT a.name, b.y FROM a JOIN b USING (id) WHERE b.y < 3", {"bob|1", "bob|2", "bea|1", "bea|2"}},
      {"SELECT a.name, b.y FROM a NATURAL JOIN b", {"bob|1"}},
      {"SELECT a.name, b.name, c.z FROM a JOIN b ON a.id = b.id JOIN c ON b.id = c.id", {"cid|cat|z3"}},
      {"SELECT a.name FROM a JOIN b ON a.id = b.id JOIN c ON a.x = c.id", {}},
      // grouping
      {"SELECT id, COUNT(*), SUM(x), MAX(name) FROM a GROUP BY id", {"-|1|5|nul", "1|1|10|ann", "2|2|45|bob", "3|1|-|cid"}},
      {"SELECT id, COUNT(x) AS n FROM a GROUP BY id HAVING COUNT(*) > 1", {"2|2"}},
      {"SELECT COUNT(*) FROM a", {"5"}},
      {"SELECT COUNT(*), MAX(x) FROM a WHERE id > 100", {"0|-"}},
      {"SELECT id FROM a GROUP BY id ORDER BY id DESC", {"3", "2", "1", "-"}, true},
      // set operators
      {"SELECT id FROM a UNION SELECT id FROM b", {"-", "1", "2", "3", "4"}},
      {"SELECT id FROM a UNION ALL SELECT id FROM c", {"-", "1", "2", "2", "3", "3", "4"}},
      {"SELECT id FROM a INTERSECT SELECT id FROM b", {"-", "2", "3"}},
      {"SELECT id FROM a EXCEPT SELECT id FROM b", {"1"}},
      {"SELECT id FROM a MINUS SELECT id FROM c", {"-", "1", "2"}},
      {"SELECT id FROM b EXCEPT SELECT id FROM a WHERE id > 100", {"-", "2", "3", "4"}},
      {"SELECT id, z FROM c UNION SELECT id, name FROM a WHERE id = 1", {"1|ann", "3|z3", "4|z4"}},
      // ordering, DISTINCT, TOP
      {"SELECT name FROM a ORDER BY x DESC", {"bea", "bob", "ann", "nul", "cid"}, true},
      {"SELECT * FROM c ORDER BY 2 DESC", {"4|z4", "3|z3"}, true},
      {"SELECT DISTINCT id FROM b", {"-", "2", "3", "4"}},
      {"SELECT DISTINCT id FROM b ORDER BY id", {"-", "2", "3", "4"}, true},
      {"SELECT TOP 2 name FROM a ORDER BY name", {"ann", "bea"}, true},
      {"SELECT TOP 0 name FROM a", {}},
      {"SELECT TOP 2, 3 id FROM a", {"2", "3"}, true},
      {"SELECT id FROM a UNION SELECT id FROM c ORDER BY id DESC", {"4", "3", "2", "1", "-"}, true},
      // nested SELECTs
      {"SELECT name FROM a WHERE x = (SELECT MAX(x) FROM a)", {"bea"}},
      {"SELECT name FROM a WHERE id IN (SELECT id FROM c)", {"cid"}},
      {"SELECT name FROM a WHERE EXISTS (SELECT * FROM b WHERE b.id = a.id AND b.y > 1)", {"bob", "bea", "cid"}},
      {"SELECT name, (SELECT COUNT(*) FROM b WHERE b.id = a.id) AS n FROM a",
       {"ann|0", "bob|2", "bea|2", "cid|1", "nul|0"}},
      {"SELECT name FROM a WHERE x > ALL (SELECT y * 10 FROM b WHERE y < 3)", {"bea"}},
      {"SELECT s.name FROM (SELECT name, x FROM a WHERE x > 5) s WHERE s.x < 25", {"ann", "bob"}},
      // errors
      {"SELECT * FROM c ORDER BY 0", {"E20243"}},
      {"SELECT * FROM c ORDER BY 99", {"E20243"}},
      {"SELECT * FROM c ORDER BY nosuch", {"E30195"}},
      {"SELECT id INTO x FROM a UNION SELECT id FROM b", {"E20272"}},
      {"SELECT a.name FROM a JOIN b ON a.id = b.id AND c.id = 1", {"E20270"}},
      {"SELECT name, COUNT(*) FROM a GROUP BY id", {"E10342"}},
      {"SELECT nosuch FROM a", {"E10305"}},
      {"SELECT name FROM a WHERE x = (SELECT x FROM a)", {"E20247"}},
      {"SELECT name FROM a WHERE x = (SELECT x FROM a WHERE id = 42)", {"E20249"}},
  };
  for (const Case& c : cases) {
    const Result r = Select(c.sql);
    if (c.ordered)
      EXPECT_EQ(r.rows, c.rows) << c.sql;
    else
      EXPECT_EQ(Sorted(r.rows), Sorted(c.rows)) << c.sql;
  }
}

TEST_F(SelectText, ColumnNames) {
  EXPECT_EQ(Select("SELECT id, id FROM c").names, (std::vector<std::string>{"id", "id_1"}));
  EXPECT_EQ(Select("SELECT z AS zed, id + 1 AS nxt FROM c").names, (std::vector<std::string>{"zed", "nxt"}));
  EXPECT_EQ(Select("SELECT name FROM a ORDER BY id").names, (std::vector<std::string>{"name"}));
  EXPECT_EQ(Select("SELECT id FROM a UNION SELECT id FROM c").names, (std::vector<std::string>{"id"}));
}

TEST_F(SelectText, QuotedTableNameWithAliasAndReservedWordTable) {
  MakeTable("Persons", {{"id", aftString, 10}, {"fullname", aftString, 40}}, {{"I2", "Bee"}, {"I1", "Ann"}});
  const Result p = Select("select p1.id, p1.fullname fio from \"Persons\" P1 order by p1.id");
  EXPECT_EQ(p.rows, (std::vector<std::string>{"I1|Ann", "I2|Bee"}));
  EXPECT_EQ(p.names, (std::vector<std::string>{"id", "fio"}));
  const Result g = Select("select name vstr from a where id = 1 union select vstr from global order by vstr");
  EXPECT_EQ(g.rows, (std::vector<std::string>{"----", "ann"}));
}

TEST_F(SelectText, IntoWritesANamedTable) {
  EXPECT_EQ(Select("SELECT id, z INTO copied FROM c WHERE id > 3").rows, (std::vector<std::string>{"4|z4"}));
  EXPECT_EQ(Select("SELECT * FROM copied").rows, (std::vector<std::string>{"4|z4"}));
}

TEST_F(SelectText, EqualityOnAnIndexedColumnReadsThroughTheIndex) {
  TNRDTable t;
  t.SetDatabaseName("MEMORY");
  t.SetTableName("big");
  t.AdvFieldDefs().Add("k", aftInteger, 0, false);
  t.AdvFieldDefs().Add("v", aftInteger, 0, false);
  t.AdvIndexDefs().Add("byk", "k", 0);
  t.CreateTable();
  t.Open();
  for (int i = 0; i < 2000; ++i) t.AppendRecord({IntValue(i), IntValue(i % 7)});
  const std::int64_t before = sql::StorageEvaluationCount();
  EXPECT_EQ(Select("SELECT v FROM big WHERE k = 1234").rows, (std::vector<std::string>{"2"}));
  EXPECT_LT(sql::StorageEvaluationCount() - before, 50) << "the filter was asked about most of the table";
  const std::int64_t before2 = sql::StorageEvaluationCount();
  EXPECT_EQ(Select("SELECT COUNT(*) FROM big WHERE k >= 1990").rows, (std::vector<std::string>{"10"}));
  EXPECT_LT(sql::StorageEvaluationCount() - before2, 100);
}

}  // namespace
