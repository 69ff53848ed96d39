// The memory engine: slots and the deleted-slot bitmap, record numbers after deletes, navigation,
// BLOB blocks and their release, and the memory page manager.
#include <gtest/gtest.h>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDStreams.h"
#include "engine/storage/NRDMemoryEngine.h"
#include "tests/engine-storage/TestCursor.h"
#include "tests/engine-foundation/EngineTestUtil.h"
#include "tests/engine-storage/EngineTestTables.h"

using namespace nrd;
using enginetest::ExpectNRD;
using namespace enginetest_tables;

namespace {

struct MemoryFixture {
  TNRDMemoryDatabaseData db;
  TestSession session;
  TableCursor t{db, session, "PEOPLE"};
  MemoryFixture() { db.ConnectSession(&session); }
  ~MemoryFixture() { db.DisconnectSession(&session); }
};

TEST(MemoryEngine, RecordNumbersAfterDeletesSkipDeletedSlots) {
  MemoryFixture f;
  f.t.Create(false);
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(f.t.Insert(i));
  auto& rm = static_cast<TNRDMemoryTableData*>(f.t.table)->MemoryRecords();
  EXPECT_EQ(f.t.table->InternalGetRecordCount(&f.t.cursor), 16);
  f.t.table->InternalSetRecNo(&f.t.cursor, 5);
  EXPECT_EQ(f.t.cursor.CurrentRecordID.PageNo, 4);  // nothing deleted yet: slot = number - 1
  for (int s = 0; s <= 8; ++s) {
    f.t.cursor.CurrentRecordID = TNRDPageItemID{s, 0};
    ASSERT_TRUE(f.t.table->DeleteRecord(&f.t.cursor));
  }
  EXPECT_EQ(rm.FirstRecordID(), 9);
  struct Case { std::int64_t recNo, slot; } cases[] = {{1, 9}, {3, 11}, {7, 15}};
  for (const Case& c : cases) {
    f.t.table->InternalSetRecNo(&f.t.cursor, c.recNo);
    EXPECT_EQ(f.t.cursor.CurrentRecordID.PageNo, c.slot) << c.recNo;
    EXPECT_EQ(f.t.table->InternalGetRecNo(&f.t.cursor), c.recNo);
  }
  // Out of range: the cursor does not move.
  f.t.table->InternalSetRecNo(&f.t.cursor, 8);
  EXPECT_EQ(f.t.cursor.CurrentRecordID.PageNo, 15);
  EXPECT_EQ(f.t.ScanIds(), (std::vector<std::int32_t>{9, 10, 11, 12, 13, 14, 15}));
}

TEST(MemoryEngine, LastRecordMovesBackAndAnEmptyTableRestartsAtSlotZero) {
  MemoryFixture f;
  f.t.Create(false);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(f.t.Insert(i));
  auto& rm = static_cast<TNRDMemoryTableData*>(f.t.table)->MemoryRecords();
  for (int s : {3, 2, 4}) {
    f.t.cursor.CurrentRecordID = TNRDPageItemID{s, 0};
    ASSERT_TRUE(f.t.table->DeleteRecord(&f.t.cursor));
  }
  EXPECT_EQ(rm.LastRecordID(), 1);  // back over the deleted slots 3 and 2
  // The cursor stands on a neighbour after the delete.
  EXPECT_EQ(f.t.cursor.CurrentRecordID.PageNo, 1);
  f.t.cursor.CurrentRecordID = TNRDPageItemID{3, 0};
  EXPECT_FALSE(f.t.table->DeleteRecord(&f.t.cursor));  // already deleted
  // New records go after the last live slot; deleted slots below are not reused.
  ASSERT_TRUE(f.t.Insert(50));
  EXPECT_EQ(f.t.cursor.CurrentRecordID.PageNo, 2);
  for (int s : {0, 1, 2}) {
    f.t.cursor.CurrentRecordID = TNRDPageItemID{s, 0};
    ASSERT_TRUE(f.t.table->DeleteRecord(&f.t.cursor));
  }
  EXPECT_TRUE(f.t.cursor.FirstPosition);  // nothing left to stand on
  EXPECT_EQ(rm.FRecordCount, 0);
  ASSERT_TRUE(f.t.Insert(60));
  EXPECT_EQ(f.t.cursor.CurrentRecordID.PageNo, 0);
  EXPECT_EQ(f.t.ScanIds(), (std::vector<std::int32_t>{60}));
}

TEST(MemoryEngine, NavigationAndUpdates) {
  MemoryFixture f;
  f.t.Create(false);
  EXPECT_EQ(f.t.Read(grmNext), grrEOF);
  for (int i = 0; i < 2500; ++i) ASSERT_TRUE(f.t.Insert(i));  // grows past the 1000-slot steps
  f.t.cursor.FirstPosition = false;
  f.t.cursor.LastPosition = true;
  ASSERT_EQ(f.t.Read(grmPrior), grrOK);
  EXPECT_EQ(f.t.Id(), 2499);
  EXPECT_EQ(f.t.Read(grmNext), grrEOF);
  f.t.cursor.CurrentRecordID = TNRDPageItemID{0, 0};
  EXPECT_EQ(f.t.Read(grmPrior), grrBOF);
  f.t.cursor.CurrentRecordID = TNRDPageItemID{1000, 0};
  ASSERT_EQ(f.t.Read(grmCurrent), grrOK);
  f.t.Fill(-7, "changed");
  ASSERT_TRUE(f.t.table->UpdateRecord(&f.t.cursor));
  std::memset(f.t.Rec(), 0, f.t.size);
  ASSERT_EQ(f.t.Read(grmCurrent), grrOK);
  EXPECT_EQ(f.t.Id(), -7);
  f.t.cursor.CurrentRecordID = TNRDPageItemID{5000, 0};
  EXPECT_EQ(f.t.Read(grmCurrent), grrError);
  EXPECT_FALSE(f.t.table->UpdateRecord(&f.t.cursor));
  auto& rm = f.t.table->RecordManager();
  EXPECT_EQ(rm.GetApproximateRecNo(0, TNRDPageItemID{0, 0}), 1);
  EXPECT_EQ(rm.GetApproximateRecNo(0, TNRDPageItemID{9999, 0}), -1);
}

TEST(MemoryEngine, BlobValuesAreBlocksFreedWithTheirRecords) {
  const std::size_t before = GlobalMemoryManager().LiveBlockCount();
  {
    MemoryFixture f;
    f.t.Create(true);
    const std::vector<std::size_t> sizes = {1, 100, 5000, 300000};
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      f.t.Fill(static_cast<int>(i), "b");
      f.t.SetBlob(Pattern(sizes[i], static_cast<unsigned>(i)));
      TNRDCursor* c = &f.t.cursor;
      ASSERT_TRUE(f.t.table->InsertRecord(c));
    }
    f.t.cursor.FirstPosition = true;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      ASSERT_EQ(f.t.Read(grmNext), grrOK);
      EXPECT_EQ(f.t.GetBlob(), Pattern(sizes[i], static_cast<unsigned>(i))) << sizes[i];
    }
    // Replacing a value frees the old block; an empty value makes the field NULL.
    f.t.SetBlob("replaced");
    EXPECT_EQ(f.t.GetBlob(), "replaced");
    f.t.SetBlob("");
    EXPECT_EQ(f.t.GetBlob(), "<null>");
    ASSERT_TRUE(f.t.table->UpdateRecord(&f.t.cursor));
    // Deleting a record frees its blocks; emptying frees the rest.
    f.t.cursor.CurrentRecordID = TNRDPageItemID{0, 0};
    ASSERT_TRUE(f.t.table->DeleteRecord(&f.t.cursor));
    EXPECT_EQ(f.t.table->Handles().LiveCount(), 2u);  // records 1 and 2; record 3 is NULL now
    f.t.table->EmptyTable(&f.t.cursor);
    EXPECT_EQ(f.t.table->Handles().LiveCount(), 0u);
    EXPECT_EQ(f.t.table->InternalGetRecordCount(&f.t.cursor), 0);
    // Blocks of a table dropped with its database are freed too.
    f.t.Fill(9, "x");
    f.t.SetBlob("left behind");
    TNRDCursor* c = &f.t.cursor;
    ASSERT_TRUE(f.t.table->InsertRecord(c));
    f.t.table->CloseTable(&f.t.cursor);
  }
  EXPECT_EQ(GlobalMemoryManager().LiveBlockCount(), before);
}

TEST(MemoryEngine, TablesObjectIdsAndErrors) {
  MemoryFixture f;
  TNRDCursor* none = nullptr;
  ExpectNRD([&] { f.t.table->InsertRecord(none); }, 10010);
  TNRDFieldDefs empty;
  ExpectNRD([&] { f.t.table->CreateTable(&f.t.cursor, empty, TNRDIndexDefs(), TNRDConstraintDefs()); }, 10025);
  ExpectNRD([] { TNRDMemoryRecordManager rm(0, 10); }, 10011);
  f.t.Create(false);
  EXPECT_EQ(f.db.FDatabaseName, "MEMORY");
  EXPECT_EQ(f.session.FSessionID, 0);
  EXPECT_GT(f.db.GetNewObjectId(), f.t.table->FieldManager().FFieldDefs.GetFieldDef(1)->FObjectID);
  EXPECT_TRUE(f.db.TableExists("people"));
  // Another cursor keeps the table: deleting it fails; in design mode the object stays.
  TTestCursor other;
  other.FSession = &f.session;
  f.t.table->OpenTable(&other);
  ExpectNRD([&] { f.t.table->DeleteTable(&f.t.cursor, false); }, 20017);
  f.t.table->DeleteTable(&f.t.cursor, true);
  EXPECT_TRUE(f.db.TableExists("PEOPLE"));
  f.t.table->CloseTable(&other);
  f.t.table->CloseTable(&f.t.cursor);
  f.t.table->DeleteTable(&f.t.cursor, false);
  EXPECT_FALSE(f.db.TableExists("PEOPLE"));
}

TEST(MemoryPageManager, ReusesFreedNumbersAndRoundTripsThroughAStream) {
  TNRDMemoryPageManager pm;
  std::vector<std::int32_t> numbers;
  for (int i = 0; i < 60; ++i) {
    TNRDPage* p = pm.AddPage(0, 12);
    numbers.push_back(p->PageNo());
    p->PageData()[0] = static_cast<std::uint8_t>(i + 1);
    pm.PutPage(p);
  }
  pm.ApplyChanges(0);
  EXPECT_EQ(numbers.front(), 0);
  EXPECT_EQ(numbers.back(), 59);
  EXPECT_EQ(pm.GetPageCount(), 60);
  pm.RemovePage(0, 7);
  pm.ApplyChanges(0);
  TNRDPage* again = pm.AddPage(0, 12);
  EXPECT_EQ(again->PageNo(), 7);  // the lowest free number
  EXPECT_EQ(again->PageData()[0], 0);
  again->PageData()[0] = 99;
  pm.PutPage(again);
  pm.ApplyChanges(0);
  ExpectNRD([&] { pm.GetPage(0, 200, 12); }, 10392);

  TNRDMemoryStream stream;
  pm.SaveToStream(stream);
  TNRDMemoryPageManager copy;
  stream.SetPosition(0);
  copy.LoadFromStream(stream);
  EXPECT_EQ(copy.GetPageCount(), 60);
  EXPECT_EQ(copy.LastAllocatedPageNo(), 59);
  for (std::int32_t n : {0, 7, 59}) {
    TNRDPage* p = copy.GetPage(0, n, 12);
    EXPECT_EQ(p->PageData()[0], n == 7 ? 99 : n + 1);
    copy.PutPage(p);
  }
  // A cut stream is refused and the manager keeps its pages.
  TNRDMemoryStream cut;
  pm.SaveToStream(cut);
  cut.SetSize(cut.Size() - 100);
  cut.SetPosition(0);
  ExpectNRD([&] { copy.LoadFromStream(cut); }, 10375);
  EXPECT_EQ(copy.GetPageCount(), 60);
}

}  // namespace
