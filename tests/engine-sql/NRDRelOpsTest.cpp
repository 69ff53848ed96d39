// Relational operators built by hand over tables of the database "MEMORY": the leaf with a
// filter, computed columns, the join types with NULL and repeated keys, the set operators, the
// grouping and the row limit, each read back from the root's result table.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "SqlTestUtil.h"
#include "engine/components/NRDSession.h"
#include "engine/components/NRDTable.h"
#include "engine/sql/NRDRelOps.h"

using namespace nrd;
using namespace nrd::sql;

namespace {

class RelOps : public ::testing::Test {
 protected:
  void SetUp() override {
    EngineStartup();
    sql::InstallExpressionHooks();
    Make("A", {{1, "a"}, {2, "b"}, {2, "bb"}, {3, ""}, {0, "n"}}, {false, false, false, false, true});
    Make("B", {{2, "x"}, {2, "y"}, {3, "z"}, {4, "w"}, {0, "nb"}}, {false, false, false, false, true});
  }
  void TearDown() override { EngineShutdown(); }

  // A table id, name in MEMORY; rows marked null get a NULL id.
  void Make(const std::string& name, const std::vector<std::pair<int, std::string>>& rows, const std::vector<bool>& nullId) {
    TNRDTable t;
    t.SetDatabaseName("MEMORY");
    t.SetTableName(name);
    t.AdvFieldDefs().Add("id", aftInteger, 0, false);
    t.AdvFieldDefs().Add("name", aftString, 20, false);
    t.CreateTable();
    t.Open();
    for (std::size_t i = 0; i < rows.size(); ++i) {
      t.Append();
      if (!nullId[i]) t.FieldByName("id").SetAsInteger(rows[i].first);
      if (!rows[i].second.empty()) t.FieldByName("name").SetAsString(rows[i].second);
      t.Post();
    }
  }
  static std::unique_ptr<TNRDAO> Leaf(const std::string& name, const std::string& alias = "") {
    auto t = std::make_unique<TNRDTable>(nullptr);
    t->SetDatabaseName("MEMORY");
    t->SetTableName(name);
    return std::make_unique<TNRDAOTable>(name, alias, std::move(t));
  }
  static TNRDSelectListItem Col(const std::string& table, const std::string& field) {
    TNRDSelectListItem i;
    i.TableName = table;
    i.FieldName = field;
    return i;
  }
  static TNRDSelectListItem Expr(const std::string& text, const std::string& as) {
    TNRDSelectListItem i;
    i.IsExpression = true;
    auto lex = std::make_shared<nrd::TNRDLexer>(text, nullptr, false);
    lex->GetNextCommand();
    auto e = std::make_shared<sql::TNRDExpression>();
    e->ParseForValueExpression(lex.get());
    lexers().push_back(lex);
    i.ValueExpr = e;
    i.Pseudonym = as;
    return i;
  }
  static std::unique_ptr<sql::TNRDExpression> Cond(const std::string& text) {
    auto lex = std::make_shared<nrd::TNRDLexer>(text, nullptr, false);
    lex->GetNextCommand();
    auto e = std::make_unique<sql::TNRDExpression>();
    e->ParseForBooleanExpression(lex.get());
    lexers().push_back(lex);
    return e;
  }
  static std::vector<std::shared_ptr<nrd::TNRDLexer>>& lexers() {
    static std::vector<std::shared_ptr<nrd::TNRDLexer>> l;
    return l;
  }
  // Runs the tree as a root and gives its rows as "v1|v2" texts (sorted unless ordered).
  static std::vector<std::string> Rows(TNRDAO& root, bool sorted = true) {
    EXPECT_TRUE(root.OpenTables());
    root.Execute(true, nullptr, nullptr);
    TNRDTable& t = *root.FResultDataset;
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next()) {
      std::string r;
      for (std::int32_t i = 0; i < t.FieldCount(); ++i) {
        if (i > 0) r += "|";
        r += t.Fields(i).IsNull() ? "-" : t.Fields(i).AsString();
      }
      out.push_back(r);
    }
    if (sorted) std::sort(out.begin(), out.end());
    return out;
  }
  static std::vector<std::string> Names(TNRDAO& root) {
    std::vector<std::string> n;
    for (std::int32_t i = 0; i < root.FResultDataset->FieldCount(); ++i) n.push_back(root.FResultDataset->Fields(i).FieldName());
    return n;
  }
};

using V = std::vector<std::string>;

TEST_F(RelOps, LeafFilterAndComputedColumns) {
  auto leaf = Leaf("A");
  static_cast<TNRDAOTable&>(*leaf).AddCursorFilter(Cond("id >= 2"));
  auto top = std::make_unique<TNRDAOTableExpr>(std::move(leaf));
  std::vector<TNRDSelectListItem> list{Col("", "name"), Expr("id * 10", "tens")};
  top->SetResultFields(list, false);
  EXPECT_EQ(Rows(*top), (V{"-|30", "bb|20", "b|20"}));
  EXPECT_EQ(Names(*top), (V{"name", "tens"}));
}

TEST_F(RelOps, FilterRejectingEverythingStillHasTheColumns) {
  auto top = std::make_unique<TNRDAOTableExpr>(Leaf("A"));
  std::vector<TNRDSelectListItem> list{Col("", "id"), Col("", "name")};
  top->SetResultFields(list, false);
  top->SetFilter(Cond("id > 100"), nullptr);
  EXPECT_EQ(Rows(*top), V{});
  EXPECT_EQ(Names(*top), (V{"id", "name"}));
}

TEST_F(RelOps, JoinTypesWithNullAndRepeatedKeys) {
  struct Case {
    TNRDJoinType type;
    V rows;
  };
  const std::vector<Case> cases{
      {ajtInner, {"2|b|x", "2|b|y", "2|bb|x", "2|bb|y", "3|-|z"}},
      {ajtLeftOuter, {"-|n|-", "1|a|-", "2|b|x", "2|b|y", "2|bb|x", "2|bb|y", "3|-|z"}},
      {ajtRightOuter, {"-|-|nb", "-|-|w", "2|b|x", "2|b|y", "2|bb|x", "2|bb|y", "3|-|z"}},
      {ajtFullOuter, {"-|-|nb", "-|-|w", "-|n|-", "1|a|-", "2|b|x", "2|b|y", "2|bb|x", "2|bb|y", "3|-|z"}},
  };
  for (const Case& c : cases) {
    TNRDFields l, r;
    l.Append(Col("A", "id"));
    r.Append(Col("B", "id"));
    auto join = std::make_unique<TNRDAOJoin>(Leaf("A"), Leaf("B"), c.type, false, &l, &r, nullptr);
    auto top = std::make_unique<TNRDAOTableExpr>(std::move(join));
    std::vector<TNRDSelectListItem> list{Col("A", "id"), Col("A", "name"), Col("B", "name")};
    top->SetResultFields(list, false);
    V expected = c.rows;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Rows(*top), expected) << static_cast<int>(c.type);
  }
}

TEST_F(RelOps, AKeyedJoinReadsItsScannedInputOnceNotPerRow) {
  // 2,000 rows a side, keys 0 .. 999 twice on the left and 0 .. 1999 once on the right, NULL keys
  // on both: a join that went back over the scanned input for every driving row would read
  // millions of rows; a keyed one reads each row once and each match once more.
  const int n = 2000;
  std::vector<std::pair<int, std::string>> left, right;
  std::vector<bool> leftNull, rightNull;
  for (int i = 0; i < n; ++i) {
    left.push_back({i % 1000, "l"});
    leftNull.push_back(i % 97 == 0);
    right.push_back({i, "r"});
    rightNull.push_back(i % 89 == 0);
  }
  Make("L", left, leftNull);
  Make("R", right, rightNull);
  int matches = 0;
  for (int i = 0; i < n; ++i)
    if (i % 97 != 0 && !((i % 1000) % 89 == 0)) ++matches;
  struct Case {
    TNRDJoinType type;
    std::size_t rows;
  };
  const int unmatchedLeft = n - matches;
  int unmatchedRight = 0;
  for (int k = 0; k < n; ++k) {
    if (k % 89 == 0) {
      ++unmatchedRight;
      continue;
    }
    bool found = false;
    for (int i = 0; i < n && !found; ++i) found = i % 97 != 0 && i % 1000 == k;
    if (!found) ++unmatchedRight;
  }
  const Case cases[] = {
      {ajtInner, static_cast<std::size_t>(matches)},
      {ajtLeftOuter, static_cast<std::size_t>(matches + unmatchedLeft)},
      {ajtRightOuter, static_cast<std::size_t>(matches + unmatchedRight)},
      {ajtFullOuter, static_cast<std::size_t>(matches + unmatchedLeft + unmatchedRight)},
  };
  for (const Case& c : cases) {
    TNRDFields l, r;
    l.Append(Col("L", "id"));
    r.Append(Col("R", "id"));
    auto join = std::make_unique<TNRDAOJoin>(Leaf("L"), Leaf("R"), c.type, false, &l, &r, nullptr);
    std::vector<TNRDSelectListItem> list{Col("L", "id"), Col("R", "id")};
    join->SetResultFields(list, false);
    EXPECT_EQ(Rows(*join).size(), c.rows) << static_cast<int>(c.type);
    EXPECT_LE(join->ScannedRowsRead(), 3 * n) << static_cast<int>(c.type);
  }
}

TEST_F(RelOps, JoinNamesRepeatedColumnsAndRefusesKeysFromOneSide) {
  TNRDFields l, r;
  l.Append(Col("A", "id"));
  r.Append(Col("B", "id"));
  auto join = std::make_unique<TNRDAOJoin>(Leaf("A"), Leaf("B"), ajtInner, false, &l, &r, nullptr);
  EXPECT_EQ(join->Link(2).FieldName, "id_1");
  EXPECT_EQ(join->Link(3).FieldName, "name_1");
  TNRDFields same1, same2;
  same1.Append(Col("A", "id"));
  same2.Append(Col("A", "name"));
  try {
    TNRDAOJoin bad(Leaf("A"), Leaf("B"), ajtInner, false, &same1, &same2, nullptr);
    ADD_FAILURE() << "keys from one side accepted";
  } catch (const ENRDException& e) {
    EXPECT_EQ(e.NativeError, 10334);
  }
}

TEST_F(RelOps, SetOperators) {
  struct Case {
    TNRDUnionType type;
    bool distinct;
    V rows;
  };
  const std::vector<Case> cases{
      {autUnion, true, {"-", "1", "2", "3", "4"}},
      {autUnion, false, {"-", "-", "1", "2", "2", "2", "2", "3", "3", "4"}},
      {autIntersect, true, {"-", "2", "3"}},
      {autExcept, true, {"1"}},
  };
  for (const Case& c : cases) {
    auto side = [](const std::string& t, bool zeroForNull) {
      auto top = std::make_unique<TNRDAOTableExpr>(Leaf(t));
      std::vector<TNRDSelectListItem> list{Col("", "id")};
      if (zeroForNull) list.push_back(Expr("COALESCE(id, 0)", "z"));
      top->SetResultFields(list, false);
      return top;
    };
    // Left: id and COALESCE(id, 0) of A; right: the same of B. One column pair.
    auto left = side("A", false), right = side("B", false);
    TNRDAOUnion u(std::move(left), std::move(right), c.type, nullptr, nullptr, false, c.distinct, nullptr);
    EXPECT_EQ(Rows(u), c.rows) << static_cast<int>(c.type);
  }
}

TEST_F(RelOps, GroupingWithAggregatesAndHaving) {
  TNRDFields by;
  by.Append(Col("", "id"));
  std::vector<TNRDSelectListItem> list{Col("", "id"), Expr("COUNT(*)", "n"), Expr("MAX(name)", "m")};
  auto group = std::make_unique<TNRDAOGroupBy>(Leaf("A"), &by, list);
  group->SetResultFields(list, false);
  EXPECT_EQ(Rows(*group), (V{"-|1|n", "1|1|a", "2|2|bb", "3|1|-"}));

  std::vector<TNRDSelectListItem> list2{Col("", "id"), Expr("COUNT(*)", "n")};
  auto having = std::make_unique<TNRDAOGroupBy>(Leaf("A"), &by, list2);
  having->SetResultFields(list2, false);
  having->SetFilter(Cond("COUNT(*) > 1"), nullptr);
  EXPECT_EQ(Rows(*having), (V{"2|2"}));

  std::vector<TNRDSelectListItem> bad{Col("", "name"), Expr("COUNT(*)", "n")};
  auto wrong = std::make_unique<TNRDAOGroupBy>(Leaf("A"), &by, bad);
  try {
    wrong->SetResultFields(bad, false);
    ADD_FAILURE() << "a column outside GROUP BY accepted";
  } catch (const ENRDException& e) {
    EXPECT_EQ(e.NativeError, 10342);
  }
}

TEST_F(RelOps, WholeInputGroupOfAnEmptyInputGivesOneRow) {
  std::vector<TNRDSelectListItem> list{Expr("COUNT(*)", "n"), Expr("SUM(id)", "s")};
  auto leaf = Leaf("A");
  static_cast<TNRDAOTable&>(*leaf).AddCursorFilter(Cond("id > 100"));
  auto group = std::make_unique<TNRDAOGroupBy>(std::move(leaf), nullptr, list);
  group->SetResultFields(list, false);
  EXPECT_EQ(Rows(*group), (V{"0|-"}));
}

TEST_F(RelOps, TopAndOrder) {
  auto top = std::make_unique<TNRDAOTableExpr>(Leaf("A"));
  std::vector<TNRDSelectListItem> list{Col("", "name")};
  top->SetResultFields(list, false);
  top->SetIndex("name", "name", "");
  auto limit = std::make_unique<TNRDAOSQLTopRowCount>(std::move(top));
  limit->SetTopRowCount(-1, 2);
  EXPECT_EQ(Rows(*limit, false), (V{"n", "bb"}));

  auto plain = std::make_unique<TNRDAOTableExpr>(Leaf("A"));
  std::vector<TNRDSelectListItem> list2{Col("", "id")};
  plain->SetResultFields(list2, false);
  plain->SetTopRowCount(3, 2);  // rows 3 and 4 of the input
  EXPECT_EQ(Rows(*plain, false), (V{"2", "3"}));

  auto none = std::make_unique<TNRDAOTableExpr>(Leaf("A"));
  std::vector<TNRDSelectListItem> list3{Col("", "id")};
  none->SetResultFields(list3, false);
  none->SetTopRowCount(-1, 0);
  EXPECT_EQ(Rows(*none), V{});
}

TEST_F(RelOps, DistinctKeepsOneOfEachRowNullsIncluded) {
  auto top = std::make_unique<TNRDAOTableExpr>(Leaf("B"));
  std::vector<TNRDSelectListItem> list{Col("", "id")};
  top->SetResultFields(list, true);
  EXPECT_EQ(Rows(*top), (V{"-", "2", "3", "4"}));
}

}  // namespace
