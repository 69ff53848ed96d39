// The table component over a database file: tables made from field and index definitions with
// their constraints, key search, ranges, the master link, and the structure operations.
#include <gtest/gtest.h>

#include "ComponentsFixture.h"
#include "engine/foundation/NRDExcept.h"

using namespace nrd;

namespace {

// "People": id (primary), name (required, indexed case-insensitively), born.
void CreatePeople(TNRDTable& t) {
  t.AdvFieldDefs().Add("id", aftInteger, 0, true);
  t.AdvFieldDefs().Add("name", aftString, 30, true);
  t.AdvFieldDefs().Add("born", aftInteger, 0, false);
  t.AdvIndexDefs().Add("pk", "id", ixPrimary);
  t.AdvIndexDefs().Add("byName", "name", 0, false, "", "name");
  t.AdvIndexDefs().Add("byBorn", "born;name", 0);
  t.CreateTable();
}

void Fill(TNRDTable& t, const std::vector<std::tuple<int, std::string, int>>& rows) {
  for (const auto& [id, name, born] : rows) t.AppendRecord({IntValue(id), TextValue(name), IntValue(born)});
}

std::vector<int> Ids(TNRDTable& t) {
  std::vector<int> ids;
  for (t.First(); !t.Eof(); t.Next()) ids.push_back(t.FieldByName("id").AsInteger());
  return ids;
}

int NativeError(const std::function<void()>& f) {
  try {
    f();
  } catch (const ENRDException& e) {
    return e.NativeError;
  } catch (const std::exception&) {
    return -1;
  }
  return 0;
}

class TableComponent : public ComponentsTest {
 protected:
  void SetUp() override {
    ComponentsTest::SetUp();
    Database("Family", file_);
    people_ = Table("Family", "People");
    CreatePeople(*people_);
    people_->Open();
    Fill(*people_, {{1, "Ann", 1900}, {2, "bob", 1910}, {3, "Cid", 1910}, {4, "dora", 1920}, {5, "Eve", 1930}});
  }
  void TearDown() override {
    people_.reset();
    ComponentsTest::TearDown();
  }
  std::unique_ptr<TNRDTable> people_;
};

}  // namespace

TEST_F(TableComponent, ConstraintsOfTheDefinitionsHold) {
  // NOT NULL from a required field, PRIMARY KEY from the primary index.
  people_->Append();
  people_->FieldByName("id").SetAsInteger(9);
  EXPECT_THROW(people_->Post(), std::exception);
  people_->Cancel();
  people_->Append();
  people_->FieldByName("id").SetAsInteger(3);
  people_->FieldByName("name").SetAsString("dup");
  EXPECT_THROW(people_->Post(), std::exception);
  people_->Cancel();
  EXPECT_EQ(people_->RecordCount(), 5);
}

TEST_F(TableComponent, KeySearchesFollowTheActiveIndex) {
  people_->SetIndexName("pk");
  EXPECT_TRUE(people_->FindKey({IntValue(4)}));
  EXPECT_EQ(people_->FieldByName("name").AsString(), "dora");
  EXPECT_FALSE(people_->FindKey({IntValue(42)}));
  EXPECT_EQ(people_->FieldByName("name").AsString(), "dora") << "a failed search does not move";

  people_->SetKey();
  people_->FieldByName("id").SetAsInteger(2);
  EXPECT_TRUE(people_->GotoKey());
  EXPECT_EQ(people_->FieldByName("name").AsString(), "bob");

  // A field outside the index cannot take a key value.
  people_->SetKey();
  EXPECT_EQ(NativeError([&] { people_->FieldByName("born").SetAsInteger(1); }), 20019);
  people_->CancelKey();

  // The index on born;name searched on its leading column only.
  people_->SetIndexFieldNames("born;name");
  EXPECT_EQ(people_->IndexName(), "");
  EXPECT_TRUE(people_->FindKey({IntValue(1910)}));
  EXPECT_EQ(people_->FieldByName("id").AsInteger(), 2);
  people_->FindNearest({IntValue(1915)});
  EXPECT_EQ(people_->FieldByName("id").AsInteger(), 4);
  people_->FindNearest({IntValue(2000)});
  EXPECT_EQ(people_->FieldByName("id").AsInteger(), 5) << "above every key: the last record";

  // Case-insensitive index.
  people_->SetIndexName("byName");
  EXPECT_TRUE(people_->FindKey({TextValue("BOB")}));
  EXPECT_EQ(people_->FieldByName("id").AsInteger(), 2);
}

TEST_F(TableComponent, RangesRestrictAndCancel) {
  people_->SetIndexFieldNames("born;name");
  struct Case {
    int from, to;
    std::vector<int> ids;
  };
  for (const Case& c : std::vector<Case>{{1910, 1910, {2, 3}}, {1905, 1925, {2, 3, 4}}, {1931, 1999, {}}, {1900, 1930, {1, 2, 3, 4, 5}}}) {
    people_->SetRange({IntValue(c.from)}, {IntValue(c.to)});
    EXPECT_EQ(Ids(*people_), c.ids) << c.from << ".." << c.to;
    EXPECT_EQ(people_->RecordCount(), static_cast<std::int64_t>(c.ids.size()));
  }
  people_->SetRangeStart();
  people_->FieldByName("born").SetAsInteger(1920);
  people_->SetRangeEnd();
  people_->ApplyRange();
  EXPECT_EQ(Ids(*people_), (std::vector<int>{4, 5})) << "an end without a key is open";
  people_->CancelRange();
  EXPECT_EQ(people_->RecordCount(), 5);
}

TEST_F(TableComponent, DetailFollowsItsMasterOnTheLinkField) {
  auto events = Table("Family", "Events");
  events->AdvFieldDefs().Add("e_id", aftInteger, 0, true);
  events->AdvFieldDefs().Add("what", aftString, 20, false);
  events->AdvIndexDefs().Add("pk", "e_id", ixPrimary);
  events->CreateTable();
  auto details = Table("Family", "EventDetails");
  details->AdvFieldDefs().Add("e_id", aftInteger, 0, true);
  details->AdvFieldDefs().Add("er_id", aftInteger, 0, true);
  details->AdvFieldDefs().Add("note", aftString, 20, false);
  details->AdvIndexDefs().Add("byEvent", "e_id;er_id", ixPrimary);
  details->CreateTable();
  events->Open();
  for (int i = 1; i <= 3; ++i) events->AppendRecord({IntValue(i), TextValue("e" + std::to_string(i))});
  details->Open();
  for (auto [e, r] : std::vector<std::pair<int, int>>{{1, 1}, {1, 2}, {2, 1}, {3, 1}, {3, 2}, {3, 3}})
    details->AppendRecord({IntValue(e), IntValue(r), TextValue("n")});
  details->Close();

  TDataSource source;
  source.SetDataSet(events.get());
  details->SetIndexFieldNames("e_id");
  details->SetMasterSource(&source);
  details->SetMasterFields("e_id");
  details->Open();
  events->First();
  EXPECT_EQ(details->RecordCount(), 2);
  std::vector<std::int64_t> counts;
  for (events->First(); !events->Eof(); events->Next()) {
    counts.push_back(details->RecordCount());
    for (details->First(); !details->Eof(); details->Next())
      EXPECT_EQ(details->FieldByName("e_id").AsInteger(), events->FieldByName("e_id").AsInteger());
  }
  EXPECT_EQ(counts, (std::vector<std::int64_t>{2, 1, 3}));
}

TEST_F(TableComponent, StructureOperations) {
  people_->Close();
  people_->EmptyTable();
  people_->Open();
  EXPECT_EQ(people_->RecordCount(), 0);
  people_->Close();

  EXPECT_EQ(NativeError([&] { people_->RenameTable("People"); }), 30452) << "into itself";
  people_->RenameTable("Persons");
  EXPECT_EQ(people_->TableName(), "Persons");
  std::vector<std::string> tables;
  dbs_[0]->GetTablesList(tables);
  EXPECT_EQ(tables, std::vector<std::string>{"Persons"});

  people_->AddIndex("byBornOnly", "born", 0);
  people_->UpdateIndexDefs();
  EXPECT_NE(people_->IndexDefs().IndexOf("byBornOnly"), -1);
  people_->DeleteIndex("byBornOnly");
  people_->UpdateIndexDefs();
  EXPECT_EQ(people_->IndexDefs().IndexOf("byBornOnly"), -1);

  people_->DeleteTable();
  EXPECT_FALSE(people_->Exists());

  auto bad = Table("Family", "Bad");
  bad->AdvFieldDefs().Add("s", aftString, 0, false);
  EXPECT_EQ(NativeError([&] { bad->CreateTable(); }), 30453);
}

TEST_F(TableComponent, DiskTableObjectGoesWithItsLastCursor) {
  TNRDDatabaseData* data = dbs_[0]->Handle()->DatabaseData();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->Tables().size(), 1u);
  auto second = Table("Family", "People");
  second->Open();
  people_->Close();
  EXPECT_EQ(data->Tables().size(), 1u) << "still used by the second table";
  second->Close();
  EXPECT_TRUE(data->Tables().empty());
  // Opened again, it reads the table from the file.
  second->Open();
  EXPECT_EQ(second->RecordCount(), 5);
  second->AddIndex("byBornDesc", "born", ixDescending);
  EXPECT_EQ(second->RecordCount(), 5);
}

TEST_F(TableComponent, ProjectionReopensWithTheChosenFields) {
  people_->SetIndexName("pk");
  people_->ApplyProjection({"name", "id"}, {"who", ""});
  ASSERT_EQ(people_->FieldCount(), 2);
  EXPECT_EQ(people_->Fields(0).FieldName(), "who");
  EXPECT_EQ(people_->Fields(1).FieldName(), "id");
  EXPECT_EQ(people_->RecordCount(), 5);
  people_->First();
  EXPECT_EQ(people_->FieldByName("who").AsString(), "Ann");
  EXPECT_EQ(people_->FieldByName("id").AsInteger(), 1);
  // An unknown field is refused and the data set stays usable.
  EXPECT_ANY_THROW(people_->ApplyProjection({"nosuch"}, {""}));
  EXPECT_TRUE(people_->Active());
  EXPECT_EQ(people_->RecordCount(), 5);
}
