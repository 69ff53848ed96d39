// What the table check (nrd-check) sees in a disk table whose index and records disagree, whose
// record page is damaged, or whose pages were left over by a transaction that never committed; and
// what a scan does over a damaged record page.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDBTreeRecordIndex.h"
#include "engine/storage/NRDDiskDatabase.h"
#include "engine/storage/NRDIndexManager.h"
#include "engine/storage/NRDDiskPageManager.h"
#include "engine/storage/NRDDiskTable.h"
#include "engine/storage/NRDTableCheck.h"
#include "tests/engine-foundation/EngineTestUtil.h"
#include "tests/engine-storage/EngineTestTables.h"
#include "tests/engine-storage/StorageTestUtil.h"

using namespace nrd;
using enginetest::CodeOf;
using namespace enginetest_tables;

namespace {

constexpr int kRecords = 60;

// A file with table "T" (id, name) of kRecords records and an index on the name.
struct IndexedTable {
  storagetest::TempDir dir;
  std::string file = dir.File("t.at4");
  std::unique_ptr<TNRDDiskDatabaseData> db;
  TestSession session;
  std::unique_ptr<TableCursor> t;
  std::vector<TNRDPageItemID> ids;

  const TNRDRecordIndexCreator previousCreator = DefaultRecordIndexCreator();

  explicit IndexedTable(int records = kRecords) {
    RegisterBTreeRecordIndex();
    TNRDDiskDatabaseData creator;
    creator.FDatabaseName = file;
    creator.FPageSize = 1024;
    creator.FMaxSessionCount = 4;
    creator.CreateDatabase();
    db = std::make_unique<TNRDDiskDatabaseData>();
    db->FDatabaseName = file;
    db->ConnectSession(&session);
    t = std::make_unique<TableCursor>(*db, session, "T");
    t->Create(false);
    TNRDIndexDef def;
    def.FName = "BYNAME";
    def.AssignByNames({"NAME"}, {""}, {""});
    t->table->AddIndex(def, &t->cursor);
    t->cursor.FBatchUpdate = true;
    for (int i = 0; i < records; ++i) EXPECT_TRUE(t->Insert(i, "name" + std::to_string(i * 7 % records)));
    t->table->ApplyChanges(0, false);
    t->cursor.FBatchUpdate = false;
    t->cursor.FirstPosition = true;
    while (t->Read(grmNext) == grrOK) ids.push_back(t->cursor.CurrentRecordID);
  }
  ~IndexedTable() {
    if (t) t->table->CloseTable(&t->cursor);
    t.reset();
    db->DisconnectSession(&session);
    SetDefaultRecordIndexCreator(previousCreator);
  }
  TNRDDiskTableData& Disk() { return *static_cast<TNRDDiskTableData*>(t->table); }
  // A change through the record manager alone, as if the index had not been told; the table's
  // counters stay right.
  void BehindTheIndex(const std::function<void(TNRDBaseRecordManager&)>& change) {
    change(t->table->RecordManager());
    Disk().SaveMostUpdated(0);
    t->table->ApplyChanges(0, false);
  }
  std::string Check(bool& sound) {
    std::ostringstream out;
    sound = CheckDatabaseTables(*db->DiskPageManager(), out);
    return out.str();
  }
};

TEST(TableCheck, FindsIndexesThatDisagreeWithTheirRecords) {
  struct Case {
    const char* what;
    std::function<void(IndexedTable&)> plant;
    const char* report;  // nullptr: sound
  };
  const Case cases[] = {
      {"nothing planted", [](IndexedTable&) {}, nullptr},
      {"a record without its entry",
       [](IndexedTable& f) {
         f.BehindTheIndex([&](TNRDBaseRecordManager& rm) {
           f.t->Fill(500, "extra");
           TNRDPageItemID id;
           ASSERT_TRUE(rm.AddRecord(0, f.t->Rec(), id));
         });
       },
       "60 entries for 61 records"},
      {"a key changed behind the index",
       [](IndexedTable& f) {
         f.BehindTheIndex([&](TNRDBaseRecordManager& rm) {
           f.t->Fill(7, "renamed");
           ASSERT_TRUE(rm.UpdateRecord(0, f.t->Rec(), f.ids[7]));
         });
       },
       "differs from the record's value"},
      {"an entry for a missing record",
       [](IndexedTable& f) {
         f.BehindTheIndex([&](TNRDBaseRecordManager& rm) {
           TNRDPageItemID id = f.ids[20];
           ASSERT_TRUE(rm.DeleteRecord(0, id));
         });
       },
       "which does not exist"},
  };
  for (const Case& c : cases) {
    IndexedTable f;
    c.plant(f);
    bool sound = false;
    const std::string text = f.Check(sound);
    if (c.report == nullptr) {
      EXPECT_TRUE(sound) << c.what << "\n" << text;
      EXPECT_NE(text.find("pages ok"), std::string::npos) << c.what << "\n" << text;  // index pages are owned
      continue;
    }
    EXPECT_FALSE(sound) << c.what << "\n" << text;
    EXPECT_NE(text.find("table T damaged"), std::string::npos) << c.what << "\n" << text;
    EXPECT_NE(text.find(c.report), std::string::npos) << c.what << "\n" << text;
  }
}

// A record page in the middle of the table that fails its page check: the scan raises instead of
// ending there as if the table ended, and the check reports the table damaged.
TEST(TableCheck, DamagedRecordPageStopsTheScanWithAnError) {
  IndexedTable f(200);
  ASSERT_EQ(f.ids.size(), 200u);
  const std::int32_t middle = f.ids[100].PageNo;
  ASSERT_NE(middle, f.ids.front().PageNo);
  TNRDDiskPageManager& pm = *f.db->DiskPageManager();
  TNRDPage* page = pm.GetPage(0, middle, ptTableRecord);
  page->PageHeader()->ObjectID += 1000;
  page->SetIsDirty(true);
  pm.PutPage(page);
  pm.ApplyChanges(0);
  std::size_t read = 0;
  const int code = CodeOf([&] {
    f.t->cursor.FirstPosition = true;
    while (f.t->Read(grmNext) == grrOK) ++read;
  });
  EXPECT_EQ(code, 20296) << read << " of 200 records read without an error";
  bool sound = true;
  const std::string text = f.Check(sound);
  EXPECT_FALSE(sound);
  EXPECT_NE(text.find("is not a record page of the table"), std::string::npos) << text;
}

}  // namespace
