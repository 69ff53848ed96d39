// Page indexes over record and BLOB pages: counts per page, room search over the outer leaves,
// record numbers across pages and the consistency check, against a map model.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDPageIndex.h"
#include "tests/engine-foundation/EngineTestUtil.h"
#include "tests/engine-storage/StorageTestUtil.h"

using namespace nrd;
using enginetest::CodeOf;
using namespace storagetest;

namespace {

TEST(PageIndex, CountsFollowAModelThroughSplitsAndMerges) {
  MapPageManager pm(128, 40);  // 11 leaf entries of 6 bytes, 8 node entries of 8 bytes
  TNRDBTreeRecordPageIndex index(&pm);
  index.FMaxRecordsOnPage = 5;
  EXPECT_EQ(CodeOf([&] { index.AddRecord(1, 3, 1); }), 20118);
  index.CreateIndex(1);
  std::int32_t pageNo = -1;
  EXPECT_FALSE(index.FindPageForNewRecord(1, pageNo));
  std::map<std::int32_t, std::int32_t> model;
  std::mt19937 rng(7);
  for (int step = 0; step < 1500; ++step) {
    const std::int32_t page = 1000 + static_cast<std::int32_t>(rng() % 300);
    auto it = model.find(page);
    if (rng() % 3 != 0) {
      if (it != model.end() && it->second >= 5) {
        EXPECT_EQ(CodeOf([&] { index.AddRecord(1, page, 1); }), 20106);
        continue;
      }
      index.AddRecord(1, page, 1);
      ++model[page];
    } else if (it != model.end()) {
      index.DeleteRecord(1, page, it->second - 1);
      if (--it->second == 0) model.erase(it);
    } else {
      EXPECT_EQ(CodeOf([&] { index.DeleteRecord(1, page, 0); }), 20111);
    }
    ASSERT_NO_THROW(index.CheckIntegrity(1)) << step;
  }
  std::int64_t total = 0;
  for (auto& [page, count] : model) total += count;
  index.Validate(1, total);
  EXPECT_EQ(CodeOf([&] { index.Validate(1, total + 1); }), 20292);
  // Walk in page order, record numbers both ways.
  std::int32_t p = -1;
  ASSERT_TRUE(index.GetFirstRecordPage(1, p));
  std::int64_t recNo = 0;
  for (auto& [page, count] : model) {
    ASSERT_EQ(p, page);
    std::int32_t foundPage, onPage;
    index.GetRecordByRecNo(1, recNo + count - 1, foundPage, onPage);
    EXPECT_EQ(foundPage, page);
    EXPECT_EQ(onPage, count - 1);
    std::int64_t back;
    index.GetRecNoByRecord(1, page, 1, back);
    EXPECT_EQ(back, recNo + 1);
    recNo += count;
    std::int32_t next;
    if (!index.GetNextRecordPage(1, p, next)) break;
    p = next;
  }
  EXPECT_EQ(p, model.rbegin()->first);
  std::int32_t unused1, unused2;
  EXPECT_EQ(CodeOf([&] { index.GetRecordByRecNo(1, total, unused1, unused2); }), 20113);
  EXPECT_EQ(CodeOf([&] { index.GetNextRecordPage(1, 5, unused1); }), 20104);
  std::int32_t last;
  ASSERT_TRUE(index.GetLastRecordPage(1, last));
  EXPECT_EQ(last, model.rbegin()->first);
}

TEST(PageIndex, RoomSearchLooksOnlyAtTheOuterLeaves) {
  MapPageManager pm(128, 40);
  TNRDBTreeRecordPageIndex index(&pm);
  index.FMaxRecordsOnPage = 2;
  index.CreateIndex(1);
  // One leaf: both passes together see every page.
  index.AddRecord(1, 10, 2);
  index.AddRecord(1, 11, 1);
  index.AddRecord(1, 12, 2);
  std::int32_t page = -1;
  ASSERT_TRUE(index.FindPageForNewRecord(1, page));
  EXPECT_EQ(page, 11);
  // Many full pages: a free slot on an inner leaf is not found.
  for (int p = 20; p < 80; ++p) index.AddRecord(1, p, 2);
  index.DeleteRecord(1, 11, -1);  // count falls to 0: the page leaves the index
  index.AddRecord(1, 11, 2);
  index.DeleteRecord(1, 40, 1);
  EXPECT_FALSE(index.FindPageForNewRecord(1, page));
  index.DeleteRecord(1, 79, 1);
  ASSERT_TRUE(index.FindPageForNewRecord(1, page));
  EXPECT_EQ(page, 79);
  index.DropIndex(1);
  EXPECT_EQ(index.RootPageNo(), -1);
}

TEST(PageIndex, BlobPagesKeepAllocatedBytes) {
  MapPageManager pm(128, 40);
  TNRDBTreeBlobPageIndex index(&pm);
  index.CreateIndex(1);
  EXPECT_EQ(index.GetBlobPageAllocatedSpace(1, 7), -1);
  index.AddBlob(1, 50, 7);
  index.AddBlob(1, 30, 7);
  EXPECT_EQ(index.GetBlobPageAllocatedSpace(1, 7), 80);
  std::int32_t page = -1;
  EXPECT_FALSE(index.FindPageForNewBlob(1, 10, page));  // 80 + 10 is not below 88 - 2
  ASSERT_TRUE(index.FindPageForNewBlob(1, 5, page));
  EXPECT_EQ(page, 7);
  index.DeleteBlob(1, 80, 7);
  EXPECT_EQ(index.GetBlobPageAllocatedSpace(1, 7), -1);
  EXPECT_EQ(CodeOf([&] { index.DeleteBlob(1, 1, 7); }), 20111);
}

}  // namespace
