// The queries the ".at4" reader runs, on a small genealogy database file made here: the person
// query, and the role query with its two left outer joins, the join of the couple events, the
// union and the order on the result's aliases; and the kin-group query over the table named
// "values" with a correlated nested SELECT and a union with "global".
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "SqlSelectUtil.h"
#include "engine/components/NRDDatabase.h"
#include "engine/sql/NRDExpressions.h"

using namespace nrd;
using namespace sqltest;

namespace {

class At4Queries : public ::testing::Test {
 protected:
  void SetUp() override {
    EngineStartup();
    sql::InstallExpressionHooks();
    dir_ = std::filesystem::temp_directory_path() / ("trevolan-at4q-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    db_ = std::make_unique<TNRDDatabase>(nullptr);
    db_->SetDatabaseName("at4");
    db_->SetDatabaseFileName((dir_ / "tree.at4").string());
    db_->SetSilentMode(true);
    db_->CreateDatabase();
    Make("Persons", {{"id", aftString, 10}, {"fullname", aftWideString, 100}, {"isfav", aftBoolean, 0},
                     {"sex", aftString, 1}, {"birth_id", aftString, 10}, {"death_id", aftString, 10}},
         {{"I3", "Child One", "False", "M", "E1", "-"},
          {"I1", "Father", "True", "M", "-", "E9"},
          {"I2", "Mother", "False", "F", "-", "-"},
          {"I5", "Child Three", "False", "F", "E4", "-"},
          {"I4", "Child Two", "False", "M", "E2", "-"}});
    // Roles: 1 child, 2 father, 3 mother, 5 husband, 6 wife.
    Make("EventDetails", {{"id", aftString, 10}, {"p_id", aftString, 10}, {"e_id", aftString, 10},
                          {"er_id", aftString, 10}, {"e_ord", aftSmallint, 0}, {"p_ord", aftSmallint, 0}},
         {{"D1", "I3", "E1", "1", "0", "0"}, {"D2", "I1", "E1", "2", "1", "1"}, {"D3", "I2", "E1", "3", "3", "2"},
          {"D4", "I4", "E2", "1", "0", "0"}, {"D5", "I1", "E2", "2", "4", "1"},
          {"D6", "I1", "E3", "5", "2", "0"}, {"D7", "I2", "E3", "6", "5", "1"},
          {"D8", "I5", "E4", "1", "0", "0"}, {"D9", "I2", "E4", "3", "6", "1"}});
    Make("Values", {{"id", aftString, 10}, {"f_id", aftString, 10}, {"r_id", aftString, 10},
                    {"vstr", aftWideString, 120}, {"vlink", aftString, 10}},
         {{"V1", "FAM_3", "K1", "Smiths", "-"}, {"V2", "FAM_4", "K1", "-", "I1"}, {"V3", "FAM_3", "K2", "Browns", "-"}});
    Make("global", {{"id", aftString, 10}}, {{"G"}});
  }
  void TearDown() override {
    db_.reset();
    EngineShutdown();
    std::filesystem::remove_all(dir_);
  }
  void Make(const std::string& name, const std::vector<Column>& columns, const std::vector<std::vector<std::string>>& rows) {
    TNRDTable t;
    t.SetDatabaseName("at4");
    t.SetTableName(name);
    for (const Column& c : columns) t.AdvFieldDefs().Add(c.name, c.type, c.size, false);
    t.CreateTable();
    t.Open();
    for (const auto& row : rows) {
      t.Append();
      for (std::size_t i = 0; i < row.size(); ++i)
        if (row[i] != "-") t.Fields(static_cast<std::int32_t>(i)).SetAsString(row[i]);
      t.Post();
    }
  }
  std::filesystem::path dir_;
  std::unique_ptr<TNRDDatabase> db_;
};

TEST_F(At4Queries, PersonQuery) {
  const Result r = Select(
      "select p1.id, p1.fullname fio, P1.isfav, p1.sex,P1.birth_id,P1.death_id\n     from \"Persons\" P1 order by p1.id",
      "at4");
  EXPECT_EQ(r.names, (std::vector<std::string>{"id", "fio", "isfav", "sex", "birth_id", "death_id"}));
  ASSERT_EQ(r.rows.size(), 5u);
  std::vector<std::string> ids;
  for (const std::string& row : r.rows) ids.push_back(row.substr(0, row.find('|')));
  EXPECT_EQ(ids, (std::vector<std::string>{"I1", "I2", "I3", "I4", "I5"}));
  EXPECT_EQ(r.rows[0].substr(0, 10), "I1|Father|");
  EXPECT_EQ(r.rows[0].substr(r.rows[0].size() - 7), "|M|-|E9");
}

TEST_F(At4Queries, RoleQuery) {
  const Result r = Select(
      "select ed2.p_id pid2,ed2.er_id,ed2.e_ord ord2,  ed3.p_id pid3,ed3.er_id,ed3.e_ord,  ed1.p_id,ed1.er_id from "
      "EventDetails ed1 left join eventdetails ed2 on ed1.e_id=ed2.e_id and ed2.er_id=2 left join eventdetails ed3 on "
      "ed1.e_id=ed3.e_id and ed3.er_id=3 where ed1.er_id=1 union select ed5.p_id,ed5.er_id,ed5.e_ord,  "
      "ed6.p_id,ed6.er_id,ed6.e_ord,ed5.e_id,0 from EventDetails ed5 join EventDetails ed6 on ed5.e_id=ed6.e_id where "
      "ed5.er_id=5 and ed6.er_id=6 order by pid2,pid3,ord2",
      "at4");
  EXPECT_EQ(r.rows, (std::vector<std::string>{
                        "-|-|-|I2|3|6|I5|1",  // a child with its mother only
                        "I1|2|4|-|-|-|I4|1",  // a child with its father only
                        "I1|2|1|I2|3|3|I3|1",  // a child of the pair
                        "I1|5|2|I2|6|5|E3|0",  // the pair's couple event
                    }));
  ASSERT_EQ(r.names.size(), 8u);
  EXPECT_EQ(r.names[0], "pid2");
  EXPECT_EQ(r.names[3], "pid3");
}

TEST_F(At4Queries, KinGroupQuery) {
  const Result r = Select(
      "select v1.r_id r_id,v1.vstr vstr,(select v2.vlink from values v2 where (v2.f_id='FAM_4') and (v1.r_id=v2.r_id)) "
      "vlink from values v1\nwhere (v1.f_id='FAM_3')\nunion\nselect ' ' r_id,'----' vstr,' ' vlink from global\norder by "
      "vstr ",
      "at4");
  ASSERT_EQ(r.rows.size(), 3u) << (r.rows.empty() ? "" : r.rows[0]);
  EXPECT_EQ(r.rows[0].substr(r.rows[0].find('|')), "|----| ");
  EXPECT_EQ(r.rows[1], "K2|Browns|-");
  EXPECT_EQ(r.rows[2], "K1|Smiths|I1");
}

}  // namespace
