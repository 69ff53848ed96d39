// The temporary engine: the record cache and its temporary file, record numbers, insert-only
// tables, appended BLOB values, and the temporary page manager.
#include <gtest/gtest.h>

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDTempEngine.h"
#include "tests/engine-foundation/EngineTestUtil.h"
#include "tests/engine-storage/EngineTestTables.h"

using namespace nrd;
using enginetest::ExpectNRD;
using namespace enginetest_tables;

namespace {

struct TempFixture {
  TNRDTemporaryDatabaseData db;
  TestSession session;
  TableCursor t{db, session, "RESULT"};
  TempFixture() { db.ConnectSession(&session); }
  ~TempFixture() { db.DisconnectSession(&session); }
  TNRDTemporaryTableData& Table() { return *static_cast<TNRDTemporaryTableData*>(t.table); }
};

TEST(TemporaryEngine, RecordsBeyondTheBudgetGoToATemporaryFile) {
  TempFixture f;
  f.Table().FTestRecordBudget = 3;
  f.t.Create(false);
  auto& rm = f.Table().TemporaryRecords();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(f.t.Insert(i));
  EXPECT_FALSE(rm.HasTempFile());
  ASSERT_TRUE(f.t.Insert(3));  // the first record past the budget
  EXPECT_TRUE(rm.HasTempFile());
  EXPECT_EQ(rm.WaitingRecordCount(), 1);
  // Reading a record beyond the budget writes the waiting one out first.
  f.t.cursor.CurrentRecordID = TemporaryRecordID(3);
  ASSERT_EQ(f.t.Read(grmCurrent), grrOK);
  EXPECT_EQ(f.t.Id(), 3);
  EXPECT_EQ(rm.WaitingRecordCount(), 0);
  for (int i = 4; i < 40; ++i) ASSERT_TRUE(f.t.Insert(i));
  std::vector<std::int32_t> all(40);
  for (int i = 0; i < 40; ++i) all[i] = i;
  EXPECT_EQ(f.t.ScanIds(), all);
  f.t.cursor.FirstPosition = false;
  f.t.cursor.LastPosition = true;
  ASSERT_EQ(f.t.Read(grmPrior), grrOK);
  EXPECT_EQ(f.t.Id(), 39);
  // Record numbers are arithmetic on the 48-bit record ID.
  f.t.table->InternalSetRecNo(&f.t.cursor, 17);
  EXPECT_EQ(TemporaryRecordNo(f.t.cursor.CurrentRecordID), 16);
  EXPECT_EQ(f.t.table->InternalGetRecNo(&f.t.cursor), 17);
  f.t.table->InternalSetRecNo(&f.t.cursor, -5);
  EXPECT_EQ(TemporaryRecordNo(f.t.cursor.CurrentRecordID), 0);
  EXPECT_EQ(TemporaryRecordNo(TemporaryRecordID(0x123456789ALL)), 0x123456789ALL);
  // Insert-only: updates and deletes change nothing.
  EXPECT_FALSE(f.t.table->UpdateRecord(&f.t.cursor));
  EXPECT_FALSE(f.t.table->DeleteRecord(&f.t.cursor));
  EXPECT_EQ(f.t.table->InternalGetRecordCount(&f.t.cursor), 40);
  f.t.table->EmptyTable(&f.t.cursor);
  EXPECT_FALSE(rm.HasTempFile());
  EXPECT_EQ(f.t.ScanIds(), std::vector<std::int32_t>{});
}

// The cache grows in ever larger steps, never past the budget: a budget between two steps fills the
// cache to the record, and every record past it goes to the file, each read back in its place.
TEST(TemporaryEngine, TheCacheGrowsToTheBudgetExactly) {
  for (const std::int64_t budget : {999, 1000, 1001, 2500, 4321}) {
    SCOPED_TRACE(budget);
    TempFixture f;
    f.Table().FTestRecordBudget = budget;
    f.t.Create(false);
    const int n = int(budget) + 3000;
    for (int i = 0; i < n; ++i) ASSERT_TRUE(f.t.Insert(i));
    auto& rm = f.Table().TemporaryRecords();
    EXPECT_EQ(rm.CachedRecordCount(), budget);
    EXPECT_TRUE(rm.HasTempFile());
    std::vector<std::int32_t> all(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) all[static_cast<std::size_t>(i)] = i;
    EXPECT_EQ(f.t.ScanIds(), all);
  }
}

TEST(TemporaryEngine, DisabledTempFilesKeepEverythingInMemory) {
  TempFixture f;
  f.t.cursor.FDisableTempFiles = true;
  f.Table().FTestRecordBudget = 2;
  f.Table().FTestPageBudget = 1;
  f.t.Create(true);
  for (int i = 0; i < 2500; ++i) ASSERT_TRUE(f.t.Insert(i));
  EXPECT_FALSE(f.Table().TemporaryRecords().HasTempFile());
  EXPECT_EQ(f.Table().TemporaryRecords().CachedRecordCount(), 2500);
  EXPECT_NE(dynamic_cast<TNRDMemoryStream*>(f.Table().BLOBFile()), nullptr);
}

TEST(TemporaryEngine, BlobValuesAreAppendedAndReplacedValuesStay) {
  TempFixture f;
  f.Table().FTestRecordBudget = 1;
  f.t.Create(true);
  f.t.Fill(1, "a");
  f.t.SetBlob(Pattern(70000, 3));
  const std::int64_t afterFirst = f.Table().BLOBFile()->Size();
  f.t.SetBlob("second");
  EXPECT_GT(f.Table().BLOBFile()->Size(), afterFirst);  // the old bytes stay
  EXPECT_EQ(f.t.GetBlob(), "second");
  TNRDCursor* c = &f.t.cursor;
  ASSERT_TRUE(f.t.table->InsertRecord(c));
  f.t.Fill(2, "b");
  f.t.SetBlob(Pattern(10, 4));
  ASSERT_TRUE(f.t.table->InsertRecord(c));  // beyond the budget: in the record file
  f.t.Fill(3, "c");
  ASSERT_TRUE(f.t.table->InsertRecord(c));
  f.t.cursor.FirstPosition = true;
  ASSERT_EQ(f.t.Read(grmNext), grrOK);
  EXPECT_EQ(f.t.GetBlob(), "second");
  ASSERT_EQ(f.t.Read(grmNext), grrOK);
  EXPECT_EQ(f.t.GetBlob(), Pattern(10, 4));
  ASSERT_EQ(f.t.Read(grmNext), grrOK);
  EXPECT_EQ(f.t.GetBlob(), "<null>");
  // Raw copies between tables.
  TNRDBLOBDescriptor d;
  void* data = nullptr;
  f.t.cursor.CurrentRecordID = TemporaryRecordID(1);
  ASSERT_EQ(f.t.Read(grmCurrent), grrOK);
  f.t.table->GetDirectBlobData(&f.t.cursor, 2, f.t.Rec(), d, data);
  EXPECT_EQ(d.UncompressedSize, 10);
  f.t.table->SetDirectBlobData(&f.t.cursor, 2, f.t.Rec(), d, data);
  f.t.table->FreeDirectBlobData(&f.t.cursor, 2, f.t.Rec(), d, data);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(f.t.GetBlob(), Pattern(10, 4));
  // A damaged position is refused, not followed.
  PutLE64(f.t.Rec() + f.t.table->FieldManager().FFieldDefs.GetFieldDef(2)->FMemoryOffset, 1ull << 40);
  ExpectNRD([&] { f.t.GetBlob(); }, 10142);
  // Emptying keeps a BLOB stream to store into.
  f.t.table->EmptyTable(&f.t.cursor);
  f.t.Fill(4, "d");
  f.t.SetBlob("again");
  EXPECT_EQ(f.t.GetBlob(), "again");
}

TEST(TemporaryPageManager, PagesBeyondTheBudgetLiveInAFile) {
  TNRDTemporaryPageManager pm(false, 2);
  std::vector<std::int32_t> numbers;
  for (int i = 0; i < 6; ++i) {
    TNRDPage* p = pm.AddPage(0, 12);
    numbers.push_back(p->PageNo());
    p->PageData()[100] = static_cast<std::uint8_t>(i + 10);
    pm.PutPage(p);
  }
  pm.ApplyChanges(0);
  EXPECT_EQ(numbers, (std::vector<std::int32_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_TRUE(pm.HasTempFile());
  pm.SetCacheCapacity(0);  // read back from storage, not the cache
  TNRDPage* q = pm.AddPage(0, 12);
  pm.PutPage(q);
  pm.ApplyChanges(0);
  for (int i = 0; i < 6; ++i) {
    TNRDPage* p = pm.GetPage(0, i, 12);
    EXPECT_EQ(p->PageData()[100], i + 10) << i;
    pm.PutPage(p);
  }
  pm.RemovePage(0, 4);
  pm.ApplyChanges(0);
  ExpectNRD([&] { pm.GetPage(0, 4, 12); }, 10396);
  TNRDTemporaryPageManager memoryOnly(true, 1);
  for (int i = 0; i < 5; ++i) memoryOnly.PutPage(memoryOnly.AddPage(0, 12));
  memoryOnly.ApplyChanges(0);
  EXPECT_FALSE(memoryOnly.HasTempFile());
}

}  // namespace
