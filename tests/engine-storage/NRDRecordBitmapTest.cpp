// Record bitmap: the RecNo table for visible and hidden records, finding, growing, index-based
// bitmaps and their positions.
#include <gtest/gtest.h>

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDRecordBitmap.h"
#include "tests/engine-foundation/EngineTestUtil.h"
#include "tests/engine-storage/StorageFakes.h"

using namespace nrd;
using enginetest::CodeOf;
using namespace storagetest;

namespace {

TNRDPageItemID Rec(std::int32_t bit) {
  TNRDPageItemID id;
  id.PageNo = bit;
  return id;
}

// An index position that is simply a bit number.
class BitPosition : public TNRDIndexPosition {
 public:
  explicit BitPosition(std::int64_t bit = 0) : bit(bit) {}
  std::int64_t GetBitmapRecNoByIndexPosition(std::int32_t maxEntriesPerPage) const override {
    EXPECT_EQ(maxEntriesPerPage, 10);
    return bit;
  }
  void FillItemsByBitmapRecNo(std::int64_t bitNo, std::int32_t) override { bit = bitNo; }
  std::int64_t bit;
};

struct Fixture {
  Fixture() : table(new FakeTable(&db)), bitmap(table) {}
  FakeDatabase db;
  FakeTable* table;
  TNRDRecordBitmap bitmap;
};

TEST(NRDRecordBitmap, RecNoTableForVisibleAndHiddenRecords) {
  Fixture f;
  for (int bit : {0, 3, 4}) f.bitmap.ShowRecord(Rec(bit));
  EXPECT_EQ(f.bitmap.Size(), 5);
  EXPECT_EQ(f.bitmap.RecordCount(), 3);
  // bit -> RecNo: a hidden record gets the number of the next visible one.
  const std::pair<int, std::int64_t> recNos[] = {{0, 1}, {1, 2}, {2, 2}, {3, 2}, {4, 3}, {5, -1}, {100, -1}, {-1, -1}};
  for (auto [bit, recNo] : recNos) EXPECT_EQ(f.bitmap.GetRecNoByRecordID(Rec(bit)), recNo) << bit;
  const std::pair<std::int64_t, int> records[] = {{1, 0}, {2, 3}, {3, 4}};
  for (auto [recNo, bit] : records) EXPECT_EQ(f.bitmap.GetRecordIDByRecNo(recNo).PageNo, bit) << recNo;
  EXPECT_EQ(CodeOf([&] { f.bitmap.GetRecordIDByRecNo(4); }), 10428);
  EXPECT_EQ(CodeOf([&] { f.bitmap.GetRecordIDByRecNo(0); }), 10428);
  EXPECT_TRUE(f.bitmap.IsRecordVisible(Rec(3)));
  EXPECT_FALSE(f.bitmap.IsRecordVisible(Rec(2)));
  EXPECT_FALSE(f.bitmap.IsRecordVisible(Rec(5)));
}

TEST(NRDRecordBitmap, FindingGrowingAndClearing) {
  Fixture f;
  for (int bit : {0, 3, 4}) f.bitmap.ShowRecord(Rec(bit));
  TNRDPageItemID found;
  struct Case {
    bool restart, forward;
    int from;
    int expected;  // -1: nothing
  } table[] = {{false, true, 4, -1}, {false, false, 4, 3}, {true, false, 4, 4}, {true, true, 4, 0},
               {false, true, 0, 3},  {false, false, 0, -1}, {false, true, 1, 3}, {false, false, 9, 4}};
  for (const Case& c : table) {
    SCOPED_TRACE(testing::Message() << c.restart << c.forward << c.from);
    const bool ok = f.bitmap.FindRecord(c.restart, c.forward, Rec(c.from), found);
    EXPECT_EQ(ok, c.expected != -1);
    if (ok) {
      EXPECT_EQ(found.PageNo, c.expected);
    }
  }
  // Showing beyond the size grows it with clear bits between.
  f.bitmap.ShowRecord(Rec(20));
  EXPECT_EQ(f.bitmap.Size(), 21);
  EXPECT_EQ(f.bitmap.RecordCount(), 4);
  EXPECT_FALSE(f.bitmap.IsRecordVisible(Rec(19)));
  f.bitmap.HideRecord(Rec(3));
  EXPECT_EQ(f.bitmap.GetRecNoByRecordID(Rec(4)), 2);
  f.bitmap.HideRecord(Rec(30));  // hiding beyond the size grows too, with nothing visible
  EXPECT_EQ(f.bitmap.Size(), 31);
  EXPECT_EQ(f.bitmap.RecordCount(), 3);
  EXPECT_EQ(CodeOf([&] { f.bitmap.ShowRecord(Rec(-3)); }), 10395);
  f.bitmap.SetAllBits();
  EXPECT_EQ(f.bitmap.RecordCount(), 31);
  f.bitmap.FActive = true;
  f.bitmap.Clear();
  EXPECT_FALSE(f.bitmap.FActive);
  EXPECT_EQ(f.bitmap.Size(), 0);
  EXPECT_EQ(CodeOf([] { TNRDRecordBitmap b(nullptr); }), 10425);
}

TEST(NRDRecordBitmap, OutdatedFollowsTheTableState) {
  Fixture f;
  EXPECT_TRUE(f.bitmap.Outdated());  // -1 at creation
  f.bitmap.FTableState = f.table->Records().FTableState;
  EXPECT_FALSE(f.bitmap.Outdated());
  f.table->Records().Add(1, {});
  EXPECT_TRUE(f.bitmap.Outdated());
}

TEST(NRDRecordBitmap, IndexBasedPositions) {
  Fixture f;
  IndexJournal journal;
  TNRDFieldDefs fields;
  DefineFields(fields, {{"A", aftInteger, 0}});
  f.table->InitFieldManager(fields);
  f.table->IndexManager().FIndexCreator = StubCreator(journal);
  TNRDIndexDefs indexes;
  indexes.AddCreated()->AssignByNames({"A"}, {""}, {""});
  f.table->InitIndexManager(indexes);
  const std::int32_t indexID = f.table->IndexManager().FIndexDefs.GetIndexDef(0)->FObjectID;
  f.bitmap.FIndexBased = true;
  for (int bit : {2, 5, 6}) f.bitmap.ShowRecord(indexID, BitPosition(bit));
  EXPECT_EQ(f.bitmap.GetRecNoByIndexPos(indexID, BitPosition(5)), 2);
  EXPECT_EQ(f.bitmap.GetRecNoByIndexPos(indexID, BitPosition(3)), 2);
  EXPECT_TRUE(f.bitmap.IsRecordVisible(indexID, BitPosition(6)));
  BitPosition pos;
  f.bitmap.GetIndexPosByRecNo(indexID, 3, pos);
  EXPECT_EQ(pos.bit, 6);
  EXPECT_TRUE(f.bitmap.FindRecord(false, false, &pos, pos, indexID));
  EXPECT_EQ(pos.bit, 5);
  EXPECT_TRUE(f.bitmap.FindRecord(true, true, nullptr, pos, indexID));
  EXPECT_EQ(pos.bit, 2);
  f.bitmap.HideRecord(indexID, BitPosition(2));
  EXPECT_EQ(f.bitmap.RecordCount(), 2);
  // Showing or hiding by record ID cannot place the record in index order: the bitmap empties.
  f.bitmap.FActive = true;
  f.bitmap.ShowRecord(Rec(1));
  EXPECT_FALSE(f.bitmap.FActive);
  EXPECT_EQ(f.bitmap.Size(), 0);
}

}  // namespace
