// Disk tables: records and BLOB values of every size class through create, fill, read, update,
// delete, empty, rename and delete, with the file closed and opened again between steps; record
// page and BLOB page layouts; two processes on one file.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/storage/NRDBlobPages.h"
#include "engine/storage/NRDDiskDatabase.h"
#include "engine/storage/NRDDiskPageManager.h"
#include "engine/storage/NRDDiskTable.h"
#include "engine/storage/NRDFreeSpace.h"
#include "engine/storage/NRDRecordPages.h"
#include "engine/storage/NRDTableCheck.h"
#include "tests/engine-foundation/EngineTestUtil.h"
#include "tests/engine-storage/EngineTestTables.h"
#include "tests/engine-storage/LockPeer.h"
#include "tests/engine-storage/StorageTestUtil.h"

using namespace nrd;
using enginetest::ExpectNRD;
using namespace enginetest_tables;

namespace {

// A database file and one connected session; Reopen closes the file and opens it again.
struct DiskFixture {
  storagetest::TempDir dir;
  std::string file = dir.File("t.at4");
  std::unique_ptr<TNRDDiskDatabaseData> db;
  TestSession session;
  explicit DiskFixture(bool multiUser = false, std::int32_t pageSize = 4096) {
    TNRDDiskDatabaseData creator;
    creator.FDatabaseName = file;
    creator.FPageSize = pageSize;
    creator.FMaxSessionCount = 8;
    creator.CreateDatabase();
    session.FMultiUser = multiUser;
    Connect();
  }
  ~DiskFixture() { Disconnect(); }
  void Connect() {
    db = std::make_unique<TNRDDiskDatabaseData>();
    db->FDatabaseName = file;
    db->ConnectSession(&session);
  }
  void Disconnect() {
    if (db) db->DisconnectSession(&session);
    db.reset();
  }
  // The file's tables and pages as the nrd-check tool sees them.
  void ExpectSound() {
    std::ostringstream out;
    EXPECT_TRUE(CheckDatabaseTables(*db->DiskPageManager(), out)) << out.str();
  }
  std::unique_ptr<TableCursor> Open(const std::string& name) {
    auto t = std::make_unique<TableCursor>(*db, session, name);
    t->Open();
    return t;
  }
  void Close(std::unique_ptr<TableCursor>& t) {
    t->table->CloseTable(&t->cursor);
    t.reset();
  }
};

TEST(RecordPages, SlotsPerPageAndTheLargestRecord) {
  EXPECT_EQ(RecordSlotsPerPage(4056, 100), 40);
  EXPECT_EQ(RecordSlotsPerPage(4056, 1000), 4);
  EXPECT_EQ(RecordSlotsPerPage(4056, 4054), 1);
  EXPECT_EQ(RecordSlotsPerPage(4056, 4055), 0);
  // Exact integers where the floating-point form rounds: (8 x 4055) div (8 x 81 + 1) = 49.
  EXPECT_EQ(RecordSlotsPerPage(4056, 81), 49);
  EXPECT_EQ(RecordSlotsPerPage(65, 8), 7);
  for (std::int32_t d : {100, 4056, 8152, 65495})
    for (std::int32_t s : {1, 3, 7, 8, 9, 100, 1000}) {
      const std::int32_t m = RecordSlotsPerPage(d, s);
      EXPECT_LE((m + 7) / 8 + static_cast<std::int64_t>(m) * s, d) << d << " " << s;
      EXPECT_GT(static_cast<std::int64_t>(m + 1) * (8 * s + 1), 8LL * (d - 1)) << d << " " << s;
    }
}

TEST(DiskTable, LifecycleWithReopensAndBlobsOfEverySize) {
  DiskFixture f;
  {
    TableCursor t(*f.db, f.session, "People");
    t.Create(true);
    t.cursor.FBatchUpdate = true;  // one commit for the lot
    const std::vector<std::size_t> sizes = {0, 1, 300, 3900, 4100, 9000, 14000};
    for (int i = 0; i < 140; ++i) {
      t.Fill(i, "n" + std::to_string(i));
      const std::size_t size = sizes[static_cast<std::size_t>(i) % sizes.size()];
      if (size > 0) t.SetBlob(Pattern(size, static_cast<unsigned>(i)));
      TNRDCursor* c = &t.cursor;
      ASSERT_TRUE(t.table->InsertRecord(c)) << i;
    }
    t.table->ApplyChanges(0, false);
    EXPECT_EQ(t.table->InternalGetRecordCount(&t.cursor), 140);
    t.table->CloseTable(&t.cursor);
  }
  f.Disconnect();
  f.Connect();
  f.ExpectSound();
  auto t = f.Open("PEOPLE");
  EXPECT_EQ(t->table->InternalGetRecordCount(&t->cursor), 140);
  const std::vector<std::size_t> sizes = {0, 1, 300, 3900, 4100, 9000, 14000};
  std::vector<std::int32_t> ids = t->ScanIds();
  ASSERT_EQ(ids.size(), 140u);
  std::map<std::int32_t, TNRDPageItemID> where;
  t->cursor.FirstPosition = true;
  while (t->Read(grmNext) == grrOK) {
    const int i = t->Id();
    where[i] = t->cursor.CurrentRecordID;
    const std::size_t size = sizes[static_cast<std::size_t>(i) % sizes.size()];
    ASSERT_EQ(t->GetBlob(), size == 0 ? "<null>" : Pattern(size, static_cast<unsigned>(i))) << i;
  }
  // Record numbers and positions.
  t->table->InternalSetRecNo(&t->cursor, 1);
  EXPECT_EQ(t->table->InternalGetRecNo(&t->cursor), 1);
  t->table->InternalSetRecNo(&t->cursor, 130);
  EXPECT_EQ(t->table->InternalGetRecNo(&t->cursor), 130);
  // Update: a value grows from shared to a chain, another becomes empty.
  t->cursor.CurrentRecordID = where[1];
  ASSERT_EQ(t->Read(grmCurrent), grrOK);
  t->SetBlob(Pattern(50000, 99));
  ASSERT_TRUE(t->table->UpdateRecord(&t->cursor));
  t->cursor.CurrentRecordID = where[6];
  ASSERT_EQ(t->Read(grmCurrent), grrOK);
  t->SetBlob("");
  ASSERT_TRUE(t->table->UpdateRecord(&t->cursor));
  // Delete every second record.
  for (int i = 0; i < 140; i += 2) {
    t->cursor.CurrentRecordID = where[i];
    ASSERT_EQ(t->Read(grmCurrent), grrOK) << i;
    ASSERT_TRUE(t->table->DeleteRecord(&t->cursor)) << i;
  }
  f.Close(t);
  f.Disconnect();
  f.Connect();
  f.ExpectSound();
  t = f.Open("people");
  EXPECT_EQ(t->table->InternalGetRecordCount(&t->cursor), 70);
  t->cursor.CurrentRecordID = where[1];
  ASSERT_EQ(t->Read(grmCurrent), grrOK);
  EXPECT_EQ(t->GetBlob(), Pattern(50000, 99));
  t->cursor.FirstPosition = true;
  int seen = 0;
  while (t->Read(grmNext) == grrOK) {
    const int i = t->Id();
    EXPECT_EQ(i % 2, 1);
    const std::size_t size = sizes[static_cast<std::size_t>(i) % sizes.size()];
    if (i != 1 && i != 6) {
      ASSERT_EQ(t->GetBlob(), size == 0 ? "<null>" : Pattern(size, static_cast<unsigned>(i))) << i;
    }
    ++seen;
  }
  EXPECT_EQ(seen, 70);
  f.Close(t);
  // Empty: no record and no BLOB page is left; the freed pages are free in the file.
  TNRDDiskPageManager& pm = *f.db->DiskPageManager();
  {
    TableCursor e(*f.db, f.session, "People");
    e.table->EmptyTable(&e.cursor);
  }
  f.ExpectSound();
  t = f.Open("People");
  EXPECT_EQ(t->table->InternalGetRecordCount(&t->cursor), 0);
  EXPECT_EQ(t->ScanIds(), std::vector<std::int32_t>{});
  std::int32_t used = 0;
  for (std::int32_t p = 0; p < pm.GetPageCount(); ++p) used += pm.FreeSpaceManager()->GetPageUsageFromPFS(p) ? 1 : 0;
  EXPECT_LT(used, 30);  // system pages, the table's files and its two empty page indexes
  ASSERT_TRUE(t->Insert(5));
  f.Close(t);
  // Rename and delete, reopening between.
  {
    TableCursor r(*f.db, f.session, "People");
    r.table->RenameTable("Persons", &r.cursor);
  }
  f.Disconnect();
  f.Connect();
  std::vector<std::string> names;
  f.db->GetTablesList(names);
  EXPECT_EQ(names, std::vector<std::string>{"Persons"});
  t = f.Open("Persons");
  EXPECT_EQ(t->ScanIds(), std::vector<std::int32_t>{5});
  f.Close(t);
  {
    TableCursor d(*f.db, f.session, "Persons");
    d.table->DeleteTable(&d.cursor, false);
  }
  names.clear();
  f.db->GetTablesList(names);
  EXPECT_TRUE(names.empty());
  ExpectNRD([&] { f.Open("Persons"); }, 30396);
  f.ExpectSound();  // no page of the deleted table is left used
}

TEST(TableCheck, FindsDamagedRecordPagesAndLostPages) {
  DiskFixture f;
  auto t = std::make_unique<TableCursor>(*f.db, f.session, "C");
  t->Create(false);
  t->cursor.FBatchUpdate = true;
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(t->Insert(i));
  t->table->ApplyChanges(0, false);
  const TNRDPageItemID id = t->cursor.CurrentRecordID;
  t->table->CloseTable(&t->cursor);
  t.reset();
  f.ExpectSound();
  TNRDDiskPageManager& pm = *f.db->DiskPageManager();
  // A slot bit cleared behind the record manager's back.
  TNRDPage* page = pm.GetPage(0, id.PageNo, ptTableRecord);
  page->PageData()[0] ^= 1;
  page->SetIsDirty(true);
  pm.PutPage(page);
  pm.ApplyChanges(0);
  std::ostringstream out;
  EXPECT_FALSE(CheckDatabaseTables(pm, out));
  EXPECT_NE(out.str().find("table C damaged"), std::string::npos) << out.str();
  // A page taken and never given to anything.
  TNRDPage* lost = pm.AddPage(0, ptTableBlob);
  const std::int32_t lostNo = lost->PageNo();
  pm.PutPage(lost);
  pm.ApplyChanges(0);
  std::ostringstream out2;
  EXPECT_FALSE(CheckDatabaseTables(pm, out2));
  EXPECT_NE(out2.str().find("page " + std::to_string(lostNo) + " is used but belongs to nothing"), std::string::npos)
      << out2.str();
}

TEST(DiskTable, ALeavingSessionRollsBackItsOwnTransaction) {
  DiskFixture f(true);
  {
    TableCursor t(*f.db, f.session, "Tx");
    t.Create(false);
    t.table->CloseTable(&t.cursor);
  }
  TestSession a;
  a.FMultiUser = true;
  f.db->ConnectSession(&a);
  const std::int32_t slot = a.FSessionID;
  {
    TableCursor t(*f.db, a, "Tx");
    t.Open();
    a.FInTransaction = true;
    ASSERT_TRUE(t.Insert(1));
    EXPECT_TRUE(f.db->DiskPageManager()->HasChanges(slot));
    t.table->CloseTable(&t.cursor);
  }
  f.db->DisconnectSession(&a);
  EXPECT_FALSE(f.db->DiskPageManager()->HasChanges(slot));  // nothing left for the slot's next owner
  TestSession b;
  b.FMultiUser = true;
  f.db->ConnectSession(&b);
  EXPECT_EQ(b.FSessionID, slot);
  f.db->Commit(b.FSessionID, false);
  auto t = f.Open("Tx");
  EXPECT_EQ(t->table->InternalGetRecordCount(&t->cursor), 0);
  f.Close(t);
  f.db->DisconnectSession(&b);
}

TEST(DiskTable, RecordPagesAreFreedAndSlotsReused) {
  DiskFixture f;
  auto t = std::make_unique<TableCursor>(*f.db, f.session, "R");
  t->Create(false);
  auto& rm = static_cast<TNRDDiskTableData*>(t->table)->DiskRecords();
  const std::int32_t m = rm.MaxRecordsOnPage();
  t->cursor.FBatchUpdate = true;  // one commit for the lot
  for (int i = 0; i < 2 * m; ++i) ASSERT_TRUE(t->Insert(i));
  t->table->ApplyChanges(0, false);
  TNRDPageItemID first, middle;
  t->cursor.FirstPosition = true;
  ASSERT_EQ(t->Read(grmNext), grrOK);
  first = t->cursor.CurrentRecordID;
  middle = TNRDPageItemID{first.PageNo, 3};
  t->cursor.CurrentRecordID = middle;
  ASSERT_EQ(t->Read(grmCurrent), grrOK);
  ASSERT_TRUE(t->table->DeleteRecord(&t->cursor));
  ASSERT_TRUE(t->Insert(1000));
  EXPECT_EQ(t->cursor.CurrentRecordID.PageNo, middle.PageNo);  // the lowest free slot again
  EXPECT_EQ(t->cursor.CurrentRecordID.PageItemNo, 3);
  // Deleting every record of the first page frees it.
  for (int s = 0; s < m; ++s) {
    t->cursor.CurrentRecordID = TNRDPageItemID{first.PageNo, static_cast<std::uint16_t>(s)};
    ASSERT_EQ(t->Read(grmCurrent), grrOK);
    ASSERT_TRUE(t->table->DeleteRecord(&t->cursor));
  }
  t->table->ApplyChanges(0, false);
  EXPECT_FALSE(f.db->DiskPageManager()->FreeSpaceManager()->GetPageUsageFromPFS(first.PageNo));
  // Moving prior from a record whose page went lands on the last record.
  t->cursor.CurrentRecordID = first;
  EXPECT_EQ(t->Read(grmPrior), grrOK);
  EXPECT_EQ(t->Id(), 2 * m - 1);
  EXPECT_EQ(t->table->GetBitmapRecordCount(0) % m, 0);
  const TNRDPageItemID id{7, 2};
  EXPECT_EQ(t->table->BitmapRecNoToRecordID(t->table->RecordIDToBitmapRecNo(id)), id);
  t->table->CloseTable(&t->cursor);
}

// The reader of a search keeps a copy of the record page it reads on and answers from it; every
// answer must be the record manager's at that moment, also when records change between two reads
// (on the copied page or elsewhere), with and without a BLOB field (whose disk and memory forms
// differ). A table of steps: a read mode, or a change made before the read.
TEST(DiskTable, ARecordReaderAnswersAsTheRecordManager) {
  for (bool withBlob : {false, true}) {
    DiskFixture f;
    auto t = std::make_unique<TableCursor>(*f.db, f.session, "R");
    t->Create(withBlob);
    auto& rm = static_cast<TNRDDiskTableData*>(t->table)->DiskRecords();
    const std::int32_t m = rm.MaxRecordsOnPage();
    t->cursor.FBatchUpdate = true;
    for (int i = 0; i < 3 * m; ++i) ASSERT_TRUE(t->Insert(i, "r" + std::to_string(i)));
    t->table->ApplyChanges(0, false);
    std::unique_ptr<TNRDRecordReader> reader = rm.CreateReader(0);
    std::vector<std::uint8_t> mine(static_cast<std::size_t>(t->size)), theirs(mine.size());
    TNRDNavigationInfo at;  // where the walk stands
    at.IndexID = -1;
    at.FirstPosition = true;
    enum Step { Next, Prior, Current, UpdateAhead, DeleteAhead, InsertOne, DeleteHere };
    std::vector<Step> steps;
    for (int i = 0; i < m + 5; ++i) steps.push_back(Next);
    steps.insert(steps.end(), {UpdateAhead, Next, Next, Current, DeleteAhead, Next, Next, Next, Prior, Prior, Current,
                               InsertOne, Next, Prior, DeleteHere, Current, Next, Next, Next});
    for (int i = 0; i < m + 3; ++i) steps.push_back(Next);
    for (int i = 0; i < m / 2; ++i) steps.push_back(Prior);
    int n = 0;
    for (Step step : steps) {
      ++n;
      TNRDGetRecordMode mode = step == Prior ? grmPrior : step == Current ? grmCurrent : grmNext;
      if (step == UpdateAhead || step == DeleteAhead || step == DeleteHere || step == InsertOne) {
        // The change is made through the record manager in the session, as a cursor's post would.
        TNRDPageItemID id = at.RecordID;
        if (step != DeleteHere) id.PageItemNo = static_cast<std::uint16_t>(id.PageItemNo + 2);
        if (step == UpdateAhead) {
          t->Fill(9000 + n, "changed");
          ASSERT_TRUE(rm.UpdateRecord(0, t->Rec(), id)) << n;
        } else if (step == InsertOne) {
          t->Fill(8000 + n, "added");
          TNRDPageItemID added;
          ASSERT_TRUE(rm.AddRecord(0, t->Rec(), added)) << n;
        } else {
          ASSERT_TRUE(rm.DeleteRecord(0, id)) << n;
        }
        mode = step == DeleteHere ? grmCurrent : grmNext;
      }
      TNRDNavigationInfo a = at, b = at;
      a.GetRecordMode = b.GetRecordMode = mode;
      a.RecordBuffer = mine.data();
      b.RecordBuffer = theirs.data();
      std::fill(mine.begin(), mine.end(), 0xEE);
      std::fill(theirs.begin(), theirs.end(), 0xEE);
      reader->Read(a);
      rm.GetRecordBuffer(0, b);
      ASSERT_EQ(a.GetRecordResult, b.GetRecordResult) << "step " << n;
      if (b.GetRecordResult != grrOK) continue;
      ASSERT_EQ(a.RecordID, b.RecordID) << "step " << n;
      ASSERT_EQ(mine, theirs) << "step " << n;
      at = b;
    }
    t->table->ApplyChanges(0, false);
    t->table->CloseTable(&t->cursor);
  }
}

TEST(DiskTable, TooLargeRecordsAndBadCreates) {
  DiskFixture f(false, 1024);
  TableCursor a(*f.db, f.session, "Wide");
  TNRDFieldDefs fields;
  // One String(n) field: disk size n + 1 plus a 1-byte null bitmap; data area 984 bytes.
  storagetest::DefineFields(fields, {{"S", aftString, 982}});  // 984 bytes: PageDataSize
  ExpectNRD([&] { a.table->CreateTable(&a.cursor, fields, TNRDIndexDefs(), TNRDConstraintDefs()); }, 20174);
  std::vector<std::string> names;
  f.db->GetTablesList(names);
  EXPECT_TRUE(names.empty());  // nothing of the failed table is left
  TableCursor b(*f.db, f.session, "Narrow");
  TNRDFieldDefs fits;
  storagetest::DefineFields(fits, {{"S", aftString, 980}});  // 982 bytes: PageDataSize - 2
  b.table->CreateTable(&b.cursor, fits, TNRDIndexDefs(), TNRDConstraintDefs());
  b.table->OpenTable(&b.cursor);
  EXPECT_EQ(static_cast<TNRDDiskTableData*>(b.table)->DiskRecords().MaxRecordsOnPage(), 1);
  b.table->CloseTable(&b.cursor);
  TableCursor c(*f.db, f.session, "NARROW");
  ExpectNRD([&] { c.table->CreateTable(&c.cursor, fits, TNRDIndexDefs(), TNRDConstraintDefs()); }, 30395);
  ExpectNRD([&] { c.table->CreateTable(&c.cursor, TNRDFieldDefs(), TNRDIndexDefs(), TNRDConstraintDefs()); }, 20128);
}

// The BLOB manager's layouts: threshold, chains whose list starts on a new page or on a page with
// no room, item number 255 left out, a damaged locator refused.
TEST(BlobPages, SharedEntriesChainsAndTheirPageLists) {
  DiskFixture f;
  auto t = std::make_unique<TableCursor>(*f.db, f.session, "B");
  t->Create(true);
  TNRDDiskBlobManager& bm = *static_cast<TNRDDiskTableData*>(t->table)->BlobManager();
  TNRDDiskPageManager& pm = *f.db->DiskPageManager();
  const std::int32_t d = pm.PageDataSize();
  ASSERT_EQ(d, 4056);
  auto value = [](std::int64_t n, unsigned seed) {
    TNRDDiskBLOBCacheEntry e;
    e.NumBlocks = 1;
    e.UncompressedSize = n;
    e.BlobData = static_cast<std::uint8_t*>(GlobalMemoryManager().GetMem(n));
    const std::string p = Pattern(static_cast<std::size_t>(n), seed);
    std::memcpy(e.BlobData, p.data(), static_cast<std::size_t>(n));
    return e;
  };
  struct Case {
    std::int64_t size;
    bool chain;
  } cases[] = {
      {4031, false}, {4032, true},                       // the threshold
      {d - 32 + d, true},                                // fills two pages: the list on a new page
      {d - 32 + 2 * d, true},                            // fills three pages exactly
      {d - 32 + d - 2, true},                            // 2 bytes left: the list goes on on a new page
      {d - 32 + d - 4, true},                            // room for one entry
      {200000, true}, {10, false}, {d - 32, false},
  };
  for (const Case& c : cases) {
    TNRDDiskBLOBCacheEntry e = value(c.size, static_cast<unsigned>(c.size));
    const TNRDPageItemID ref = bm.StoreValue(0, e);
    EXPECT_EQ(ref.PageItemNo == 0xFFFF, c.chain) << c.size;
    TNRDDiskBLOBCacheEntry back;
    bm.LoadValue(0, ref, back);
    ASSERT_NE(back.BlobData, nullptr);
    ASSERT_EQ(GlobalMemoryManager().GetMemoryBufferSize(back.BlobData), c.size);
    EXPECT_EQ(std::memcmp(back.BlobData, e.BlobData, static_cast<std::size_t>(c.size)), 0) << c.size;
    if (c.chain) {
      std::vector<std::int32_t> data, list;
      std::int64_t stored = 0;
      bm.ChainPages(0, ref.PageNo, data, list, stored);
      EXPECT_EQ(stored, c.size);
      EXPECT_EQ(static_cast<std::int64_t>(data.size()), 1 + (c.size - (d - 32) + d - 1) / d) << c.size;
    }
    const std::int32_t before = pm.FreeSpaceManager() != nullptr ? pm.GetPageCount() : 0;
    (void)before;
    bm.DeleteStoredValue(0, ref);
    GlobalMemoryManager().FreeMem(e.BlobData);
    GlobalMemoryManager().FreeMem(back.BlobData);
  }
  pm.ApplyChanges(0);
  // Shared page item numbers skip 255; deleting the last entry frees the page.
  std::vector<TNRDPageItemID> refs;
  for (int i = 0; i < 300; ++i) {
    TNRDDiskBLOBCacheEntry e = value(1, 1);
    refs.push_back(bm.StoreValue(0, e));
    GlobalMemoryManager().FreeMem(e.BlobData);
  }
  for (const auto& r : refs) EXPECT_NE(r.PageItemNo, 255);
  const std::int32_t page = refs[0].PageNo;
  for (const auto& r : refs) bm.DeleteStoredValue(0, r);
  pm.ApplyChanges(0);
  EXPECT_FALSE(pm.FreeSpaceManager()->GetPageUsageFromPFS(page));
  ExpectNRD([&] { bm.DeleteStoredValue(0, TNRDPageItemID{refs.back().PageNo, 3}); }, 20153);  // a freed page
  t->table->CloseTable(&t->cursor);
}

TEST(DiskTable, TwoProcessesSeeEachOthersCommits) {
  DiskFixture f(true);
  {
    TableCursor t(*f.db, f.session, "Shared");
    t.Create(false);
    t.table->CloseTable(&t.cursor);
  }
  auto t = f.Open("Shared");
  auto* table = static_cast<TNRDDiskTableData*>(t->table);
  // The peer inserts under an RW lock, reading the table's counters first.
  LockPeer peer(f.file, [](const std::string& cmd, std::istringstream& line, TNRDDiskDatabaseData& db,
                           TestSession& s) -> std::string {
    if (cmd != "I") return "?";
    int from = 0, count = 0;
    line >> from >> count;
    TableCursor c(db, s, "Shared");
    c.Open();
    auto* dt = static_cast<TNRDDiskTableData*>(c.table);
    for (int i = from; i < from + count; ++i) {
      if (!dt->LockTable(s.FSessionID, ltRW, 100, 10, false)) return "locked";
      dt->LoadMostUpdated(s.FSessionID);
      const bool ok = c.Insert(i);
      dt->UnlockTable(s.FSessionID, ltRW, false);
      if (!ok) return "failed";
    }
    std::string n = std::to_string(dt->InternalGetRecordCount(&c.cursor));
    c.table->CloseTable(&c.cursor);
    return n;
  });
  EXPECT_EQ(peer.Ask("I 0 20"), "20");
  EXPECT_EQ(table->InternalGetRecordCount(&t->cursor), 20);
  for (int i = 100; i < 105; ++i) {
    ASSERT_TRUE(table->LockTable(f.session.FSessionID, ltRW, 100, 10, false));
    table->LoadMostUpdated(f.session.FSessionID);
    ASSERT_TRUE(t->Insert(i));
    table->UnlockTable(f.session.FSessionID, ltRW, false);
  }
  EXPECT_EQ(peer.Ask("I 50 5"), "30");
  EXPECT_EQ(table->InternalGetRecordCount(&t->cursor), 30);
  std::vector<std::int32_t> ids;
  t->cursor.FirstPosition = true;
  while (table->GetRecordBuffer(&t->cursor, grmNext) == grrOK) ids.push_back(t->Id());
  EXPECT_EQ(ids.size(), 30u);
  // Opening the table exclusively fails while the other process has it open.
  {
    LockPeer holder(f.file, [](const std::string& cmd, std::istringstream&, TNRDDiskDatabaseData& db,
                               TestSession& s) -> std::string {
      static std::unique_ptr<TableCursor> keep;
      if (cmd == "O") {
        keep = std::make_unique<TableCursor>(db, s, "Shared");
        keep->Open();
        return "1";
      }
      if (cmd == "X") {
        keep->table->CloseTable(&keep->cursor);
        keep.reset();
        return "1";
      }
      return "?";
    });
    ASSERT_EQ(holder.Ask("O"), "1");
    TableCursor ex(*f.db, f.session, "Shared");
    ex.cursor.FExclusive = true;
    f.Close(t);
    static_cast<TNRDDiskTableData*>(ex.table)->FOpenLockTries = 2;
    TNRDDiskTableData* shared = static_cast<TNRDDiskTableData*>(ex.table);
    (void)shared;
    ExpectNRD([&] { ex.table->OpenTable(&ex.cursor); }, 20208);
    // Deleting it fails the same way and leaves it listed.
    TableCursor del(*f.db, f.session, "Shared");
    ExpectNRD([&] { del.table->DeleteTable(&del.cursor, false); }, 20208);
    EXPECT_TRUE(f.db->TableExists("Shared"));
    ASSERT_EQ(holder.Ask("X"), "1");
  }
}

}  // namespace
