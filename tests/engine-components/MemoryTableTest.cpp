// Tables of the database "MEMORY" opened as data sets through the local session and the local
// cursor: create, navigate, edit, insert, delete, bookmarks, BLOB streams, constraint failures,
// a change by another cursor, and Locate and filters through the expression layer.
#include <gtest/gtest.h>

#include "engine/components/NRDAdvDefs.h"
#include "engine/components/NRDDataSet.h"
#include "engine/components/NRDLocalCursor.h"
#include "engine/components/NRDSession.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/sql/NRDExpressions.h"
#include "engine/storage/NRDSearch.h"

using namespace nrd;

namespace {

// A data set over one table of the session's database.
class TableDataSet : public TNRDDataSet {
 public:
  TableDataSet(TNRDLocalSession& session, std::string table) : session_(session), table_(std::move(table)) {}
  ~TableDataSet() override { Close(); }

 protected:
  std::unique_ptr<TNRDCursor> CreateHandle() override {
    auto c = std::make_unique<TNRDLocalCursor>();
    c->SetSession(&session_);
    c->SetTableName(table_);
    c->SetInMemory(true);
    TNRDFieldDefs f;
    TNRDIndexDefs i;
    TNRDConstraintDefs k;
    c->OpenTableByFieldDefs(f, i, k);
    return c;
  }

 private:
  TNRDLocalSession& session_;
  std::string table_;
};

class MemoryTable : public ::testing::Test {
 protected:
  void SetUp() override {
    EngineStartup();
    sql::InstallExpressionHooks();
    session_.FDatabaseName = "Memory";
    session_.SetConnected(true);
    TNRDAdvFieldDefs adv;
    adv.Add("ID", aftInteger, 0, true);
    adv.Add("Name", aftString, 20, false);
    adv.Add("Note", aftMemo, 0, false);
    TFieldDefs plain;
    AdvFieldDefsToFieldDefs(adv, plain);
    TNRDIndexDefs indexes;
    MakeEngineIndexDef("PK", "ID", ixPrimary | ixUnique, false, "", "", "", plain, *indexes.AddCreated());
    TNRDFieldDefs fields;
    TNRDConstraintDefs constraints;
    AdvFieldDefsToEngineDefs(adv, indexes, false, fields, constraints);
    TNRDLocalCursor c;
    c.SetSession(&session_);
    c.SetTableName("People");
    c.CreateTable(fields, indexes, constraints);
  }
  void TearDown() override {
    session_.SetConnected(false);
    sql::RemoveExpressionHooks();
    EngineShutdown();
  }
  TNRDLocalSession session_;
};

std::vector<std::string> Names(TDataSet& ds) {
  std::vector<std::string> r;
  for (ds.First(); !ds.Eof(); ds.Next()) r.push_back(ds.FieldByName("Name").AsString());
  return r;
}

using Strings = std::vector<std::string>;

}  // namespace

TEST_F(MemoryTable, NavigateEditInsertDelete) {
  TableDataSet ds(session_, "people");  // names match without regard to case
  ds.SetName("People");
  ds.Open();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.FieldByName("ID").Required());
  ds.AppendRecord({IntValue(1), TextValue("Anna")});
  ds.AppendRecord({IntValue(2), TextValue("Boris")});
  ds.AppendRecord({IntValue(3), TextValue("Clara")});
  EXPECT_EQ(ds.RecordCount(), 3);
  EXPECT_EQ(Names(ds), (Strings{"Anna", "Boris", "Clara"}));
  ds.Last();
  EXPECT_EQ(ds.RecNo(), 3);
  ds.Prior();
  ds.Edit();
  ds.FieldByName("Name").SetAsString("Bob");
  ds.Post();
  EXPECT_EQ(Names(ds), (Strings{"Anna", "Bob", "Clara"}));
  ds.First();
  ds.Delete();
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "Bob");
  EXPECT_EQ(ds.RecordCount(), 2);

  // Bookmarks.
  ds.Last();
  const TBookmark b = ds.GetBookmark();
  ds.First();
  ds.GotoBookmark(b);
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "Clara");
  EXPECT_TRUE(ds.BookmarkValid(b));
  EXPECT_EQ(ds.CompareBookmarks(ds.GetBookmark(), b), 0);

  // A required field left empty, and a duplicate primary key, are refused by the engine.
  ds.Append();
  ds.FieldByName("Name").SetAsString("NoId");
  EXPECT_THROW(ds.Post(), EDatabaseError);
  ds.FieldByName("ID").SetAsInteger(2);
  try {
    ds.Post();
    FAIL();
  } catch (const ENRDEngineError& e) {
    EXPECT_EQ(e.FErrorCode, -8);
  }
  ds.Cancel();
  EXPECT_EQ(ds.RecordCount(), 2);
}

TEST_F(MemoryTable, BlobFieldsThroughStreams) {
  TableDataSet ds(session_, "People");
  ds.Open();
  ds.Append();
  ds.FieldByName("ID").SetAsInteger(7);
  {
    auto s = ds.CreateBlobStream(ds.FieldByName("Note"), bmWrite);
    const std::string text(250000, 'n');
    s->Write(text.data(), static_cast<std::int32_t>(text.size()));
  }
  ds.Post();
  ds.Close();
  ds.Open();
  EXPECT_EQ(ds.FieldByName("Note").AsBytes(), std::string(250000, 'n'));
  ds.Edit();
  ds.FieldByName("Note").SetAsString("short");
  ds.Post();
  EXPECT_EQ(ds.FieldByName("Note").AsString(), "short");
  ds.Edit();
  ds.FieldByName("Note").Clear();
  ds.Post();
  EXPECT_TRUE(ds.FieldByName("Note").IsNull());

  // A stream kept open past a cancel goes quiet instead of reaching a freed engine stream.
  ds.Edit();
  auto kept = ds.CreateBlobStream(ds.FieldByName("Note"), bmWrite);
  EXPECT_EQ(kept->Write("abc", 3), 3);
  ds.Cancel();
  EXPECT_EQ(kept->Write("abc", 3), 0);
  EXPECT_EQ(kept->GetSize(), 0);
  kept.reset();
  EXPECT_TRUE(ds.FieldByName("Note").IsNull());
}

TEST_F(MemoryTable, ChangeByAnotherCursorIsReported) {
  TableDataSet a(session_, "People"), b(session_, "People");
  a.Open();
  a.AppendRecord({IntValue(1), TextValue("Anna")});
  b.Open();
  EXPECT_EQ(b.FieldByName("Name").AsString(), "Anna");
  a.Edit();
  a.FieldByName("Name").SetAsString("Ann");
  a.Post();
  try {
    b.Edit();
    FAIL();
  } catch (const ENRDEngineError& e) {
    EXPECT_EQ(e.FErrorCode, -4);
  }
  EXPECT_EQ(b.FieldByName("Name").AsString(), "Anna");  // the values b read stay
  b.Refresh();
  b.Edit();
  a.Delete();
  b.FieldByName("Name").SetAsString("x");
  try {
    b.Post();
    FAIL();
  } catch (const ENRDEngineError& e) {
    EXPECT_EQ(e.FErrorCode, -6);
  }
  b.Cancel();
}

TEST_F(MemoryTable, LocateAndFilterThroughTheExpressionLayer) {
  TableDataSet ds(session_, "People");
  ds.Open();
  for (int i = 1; i <= 4; ++i) ds.AppendRecord({IntValue(i), TextValue(i % 2 ? "odd" : "even")});
  EXPECT_TRUE(ds.Locate("ID", {IntValue(3)}, 0));
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_FALSE(ds.Locate("ID", {IntValue(9)}, 0));
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);
  EXPECT_EQ(ValueToText(ds.Lookup("ID", {IntValue(2)}, "Name")), "even");
  ds.SetFilter("Name='EVEN'");
  ds.SetFilterOptions(foCaseInsensitive);
  ds.SetFiltered(true);
  std::vector<int> ids;
  for (ds.First(); !ds.Eof(); ds.Next()) ids.push_back(ds.FieldByName("ID").AsInteger());
  EXPECT_EQ(ids, (std::vector<int>{2, 4}));
  ds.SetFiltered(false);
  EXPECT_EQ(ds.RecordCount(), 4);
}

TEST_F(MemoryTable, BookmarksCompareInTheOrderOfTheActiveIndex) {
  TableDataSet ds(session_, "People");
  ds.Open();
  // Stored order Zoe, Adam, Mia; by name Adam, Mia, Zoe.
  ds.AppendRecord({IntValue(1), TextValue("Zoe")});
  ds.AppendRecord({IntValue(2), TextValue("Adam")});
  ds.AppendRecord({IntValue(3), TextValue("Mia")});
  TFieldDefs plain;
  plain.Add("ID", ftInteger);
  plain.Add("Name", ftString, 20);
  TNRDIndexDef byName;
  MakeEngineIndexDef("ByName", "Name", 0, false, "", "", "", plain, byName);
  ds.Cursor()->AddIndex(byName);
  ds.Cursor()->SetIndexName("ByName");
  ds.First();
  ASSERT_EQ(ds.FieldByName("Name").AsString(), "Adam");
  const TBookmark adam = ds.GetBookmark();
  ds.Next();
  const TBookmark mia = ds.GetBookmark();
  ds.Last();
  ASSERT_EQ(ds.FieldByName("Name").AsString(), "Zoe");
  const TBookmark zoe = ds.GetBookmark();
  struct Case {
    const TBookmark& a;
    const TBookmark& b;
    int expected;
  };
  const Case cases[] = {{adam, zoe, -1}, {zoe, adam, 1}, {mia, zoe, -1}, {adam, mia, -1}, {zoe, mia, 1}, {mia, mia, 0}};
  for (const Case& c : cases) EXPECT_EQ(ds.CompareBookmarks(c.a, c.b), c.expected);
}

TEST_F(MemoryTable, TemporaryIndexOrdersTheRecordsAndIsFoundAgain) {
  // A key no index serves (a sort or DISTINCT on a column) gets a session-private index; on a
  // MEMORY table it lives on the table's own memory pages.
  TableDataSet ds(session_, "People");
  ds.Open();
  ds.AppendRecord({IntValue(1), TextValue("Zoe")});
  ds.AppendRecord({IntValue(2), TextValue("Adam")});
  ds.AppendRecord({IntValue(3), TextValue("Mia")});
  bool created = false;
  const std::string name = ds.Cursor()->FindOrCreateIndex({"Name"}, {"ASC"}, {"CASE"}, created);
  EXPECT_TRUE(created);
  EXPECT_EQ(name.rfind("TEMPORARY_INDEX_", 0), 0u) << name;
  bool again = true;
  EXPECT_EQ(ds.Cursor()->FindOrCreateIndex({"Name"}, {"ASC"}, {"CASE"}, again), name);
  EXPECT_FALSE(again);
  ds.Cursor()->SetIndexName(name);
  ds.First();
  EXPECT_EQ(Names(ds), (Strings{"Adam", "Mia", "Zoe"}));
  // A record added later is in its place once the index is used again.
  ds.AppendRecord({IntValue(4), TextValue("Bea")});
  EXPECT_EQ(Names(ds), (Strings{"Adam", "Bea", "Mia", "Zoe"}));
}
