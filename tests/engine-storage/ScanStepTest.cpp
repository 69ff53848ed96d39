// The search driver's choices seen from outside: what it asks the index, what it refuses to do,
// and the views it gives, over the stand-in table and index.
#include <gtest/gtest.h>

#include <set>

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDCursorNavigation.h"
#include "tests/engine-storage/ScanStandIns.h"

using namespace nrd;
using namespace scantest;

namespace {

// Fields A, B, C; indexes IAB (A, B), IC (C), unique IU (A) when asked for.
std::unique_ptr<StandInWorld> World(int records, bool uniqueA = false) {
  std::vector<IndexSpec> indexes{{"IAB", {{"A", false}, {"B", false}}}, {"IC", {{"C", false}}}};
  if (uniqueA) indexes.push_back({"IU", {{"A", false}}, true});
  auto w = std::make_unique<StandInWorld>(std::vector<std::string>{"A", "B", "C"}, indexes);
  for (int i = 0; i < records; ++i) w->Put(i, {uniqueA ? i : i % 5, (i * 7) % 5, i % 10});
  return w;
}

std::vector<std::int32_t> WalkForward(StandInWorld& w, std::int32_t field) {
  std::vector<std::int32_t> values;
  w.cursor.FirstPosition = true;
  w.cursor.LastPosition = false;
  while (GetRecordBuffer(*w.table, w.cursor, grmNext) == grrOK) values.push_back(w.Value(field));
  return values;
}

std::vector<std::int32_t> WalkBackward(StandInWorld& w, std::int32_t field) {
  std::vector<std::int32_t> values;
  w.cursor.FirstPosition = false;
  w.cursor.LastPosition = true;
  while (GetRecordBuffer(*w.table, w.cursor, grmPrior) == grrOK) values.push_back(w.Value(field));
  return values;
}

}  // namespace

// A contradiction ends the search before any estimate, scan or evaluation.
TEST(ScanStep, ContradictionGivesNoScan) {
  auto w = World(50);
  AndExpression search(w->Fields(), {{0, Op::EQ, 1}, {0, Op::EQ, 2}}, w->size);
  EXPECT_FALSE(Locate(*w->table, w->cursor, &search));
  AndExpression inverted(w->Fields(), {{2, Op::GT, 6}, {2, Op::LE, 3}}, w->size);
  EXPECT_FALSE(Locate(*w->table, w->cursor, &inverted));
  EXPECT_EQ(w->counters.estimates, 0);
  EXPECT_EQ(w->counters.findRecordRestarts, 0);
  EXPECT_EQ(search.evaluations + inverted.evaluations, 0);
  EXPECT_TRUE(w->cursor.FirstPosition);
}

// Stepping through a view that another index drives: without a bitmap each step scans onward in
// the cursor's order; with one the matches are collected once. Never all matches per step.
TEST(ScanStep, SteppingDoesNotReenumerateTheMatches) {
  for (bool withBitmap : {false, true}) {
    SCOPED_TRACE(withBitmap ? "bitmap" : "no bitmap");
    auto w = World(400);
    if (withBitmap) w->UseBitmap();
    AndExpression filter(w->Fields(), {{2, Op::EQ, 3}}, w->size);
    w->cursor.FFilterExpression = &filter;
    const std::vector<std::int32_t> forward = WalkForward(*w, 2);
    ASSERT_EQ(forward.size(), 40u);
    for (std::int32_t v : forward) EXPECT_EQ(v, 3);
    EXPECT_EQ(WalkBackward(*w, 2).size(), 40u);
    EXPECT_GT(w->counters.findRecordAnswers, 0);  // the index did drive the scan
    EXPECT_LE(w->counters.findRecordAnswers, 4 * 40);
    w->cursor.FFilterExpression = nullptr;
  }
}

// A view whose first search found no index worth using is stepped through without being planned
// again per record (each plan asks the index for an estimate). The steps still answer the view as
// it stands: a filter swapped in mid-walk, one an index would serve, gives exactly its own records
// after the current one, forward and backward.
TEST(ScanStep, SteppingAViewWithoutAnIndexPlansItOnce) {
  for (bool withBitmap : {false, true}) {
    SCOPED_TRACE(withBitmap ? "bitmap" : "no bitmap");
    auto w = World(400);
    if (withBitmap) w->UseBitmap();
    // Every record in the cursor's order, as (B, C).
    std::vector<std::pair<std::int32_t, std::int32_t>> all;
    w->cursor.FirstPosition = true;
    w->cursor.LastPosition = false;
    while (GetRecordBuffer(*w->table, w->cursor, grmNext) == grrOK) all.emplace_back(w->Value(1), w->Value(2));
    ASSERT_EQ(all.size(), 400u);

    // C >= 0 holds everywhere: a scan through IC would cost more than the plain scan.
    AndExpression wide(w->Fields(), {{1, Op::EQ, 2}, {2, Op::GE, 0}}, w->size);
    w->cursor.FFilterExpression = &wide;
    const int before = w->counters.estimates;
    EXPECT_EQ(WalkForward(*w, 1), std::vector<std::int32_t>(80, 2));
    EXPECT_EQ(WalkBackward(*w, 1), std::vector<std::int32_t>(80, 2));
    EXPECT_LE(w->counters.estimates - before, 4);

    for (bool forward : {true, false}) {
      SCOPED_TRACE(forward ? "forward" : "backward");
      const TNRDGetRecordMode mode = forward ? grmNext : grmPrior;
      // A filter change clears the bitmap, as the cursor's own filter setting does.
      w->cursor.FFilterExpression = &wide;
      w->cursor.DisableRecordBitmap();
      w->cursor.FirstPosition = forward;
      w->cursor.LastPosition = !forward;
      for (int i = 0; i < 5; ++i) ASSERT_EQ(GetRecordBuffer(*w->table, w->cursor, mode), grrOK);
      // Where the fifth match of the wide view stands in the full order.
      std::vector<std::size_t> order(all.size());
      for (std::size_t i = 0; i < order.size(); ++i) order[i] = forward ? i : order.size() - 1 - i;
      std::size_t at = 0;
      for (int seen = 0; at < order.size(); ++at)
        if (all[order[at]].first == 2 && ++seen == 5) break;
      std::vector<std::int32_t> expected;
      for (std::size_t k = at + 1; k < order.size(); ++k)
        if (all[order[k]].second == 3) expected.push_back(all[order[k]].first);
      AndExpression narrow(w->Fields(), {{2, Op::EQ, 3}}, w->size);
      w->cursor.FFilterExpression = &narrow;
      w->cursor.DisableRecordBitmap();
      std::vector<std::int32_t> got;
      while (GetRecordBuffer(*w->table, w->cursor, mode) == grrOK) {
        EXPECT_EQ(w->Value(2), 3);
        got.push_back(w->Value(1));
      }
      EXPECT_EQ(got, expected);
    }
    w->cursor.FFilterExpression = nullptr;
  }
}

// x <= 5 AND x < 5: the range's inclusive end and the filter's strict bound merge into x < 5.
TEST(ScanStep, InclusiveAndStrictBoundKeepTheStrictOne) {
  auto w = World(100);
  w->UseBitmap();
  w->cursor.SetIndexName("IC");
  const std::vector<std::uint8_t> five = w->Record({0, 0, 5});
  w->cursor.ApplyRange(nullptr, five.data(), 0, 1, false, false);
  AndExpression filter(w->Fields(), {{2, Op::LT, 5}}, w->size);
  w->cursor.FFilterExpression = &filter;
  const std::vector<std::int32_t> values = WalkForward(*w, 2);
  EXPECT_EQ(values.size(), 50u);
  EXPECT_EQ(std::set<std::int32_t>(values.begin(), values.end()), (std::set<std::int32_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(GetRecordCount(*w->table, w->cursor), 50);
  w->cursor.FFilterExpression = nullptr;
}

// An equality on A beside a range bound on (A, B): no single range of the index holds both, so the
// bound is tested per record and no record with A = 3 slips in.
TEST(ScanStep, EqualityOnFewerColumnsBesideABoundOnMore) {
  auto w = World(100);
  w->cursor.SetIndexName("IAB");
  const std::vector<std::uint8_t> bound = w->Record({3, 4, 0});
  w->cursor.ApplyRange(nullptr, bound.data(), 0, 2, false, true);
  AndExpression filter(w->Fields(), {{0, Op::EQ, 2}}, w->size);
  w->cursor.FFilterExpression = &filter;
  for (const auto& values : {WalkForward(*w, 0), WalkBackward(*w, 0)}) {
    EXPECT_EQ(values.size(), 20u);
    for (std::int32_t v : values) EXPECT_EQ(v, 2);
  }
  w->cursor.FFilterExpression = nullptr;
}

// An equality on a unique single-column index is taken without asking for estimates.
TEST(ScanStep, UniqueEqualityNeedsNoEstimate) {
  auto w = World(300, true);
  AndExpression search(w->Fields(), {{0, Op::EQ, 123}}, w->size);
  ASSERT_TRUE(Locate(*w->table, w->cursor, &search));
  EXPECT_EQ(w->Value(0), 123);
  EXPECT_EQ(w->counters.estimates, 0);
  EXPECT_FALSE(search.AnyExtracted());
}

// FindKey needs the cursor's index; it finds the nearest key and leaves the record unread.
TEST(ScanStep, FindKey) {
  auto w = World(50);
  const std::vector<std::uint8_t> key = w->Record({0, 0, 7});
  w->cursor.FKeyBuffer = GlobalMemoryManager().AllocMem(w->size);
  std::memcpy(w->cursor.FKeyBuffer, key.data(), key.size());
  w->cursor.FKeyFieldCount = 1;
  try {
    FindKey(*w->table, w->cursor, scEqual);
    FAIL() << "no index";
  } catch (const ENRDException& e) {
    EXPECT_EQ(e.NativeError, 20258);
  }
  w->cursor.SetIndexName("IC");
  ASSERT_TRUE(FindKey(*w->table, w->cursor, scEqual));
  EXPECT_EQ(w->cursor.CurrentRecordID.PageNo, 7);
  ASSERT_TRUE(FindKey(*w->table, w->cursor, scGreater));
  EXPECT_EQ(w->cursor.CurrentRecordID.PageNo % 10, 8);
  const std::vector<std::uint8_t> high = w->Record({0, 0, 9});
  std::memcpy(w->cursor.FKeyBuffer, high.data(), high.size());
  const TNRDPageItemID before = w->cursor.CurrentRecordID;
  EXPECT_FALSE(FindKey(*w->table, w->cursor, scGreater));
  EXPECT_EQ(w->cursor.CurrentRecordID.PageNo, before.PageNo);
}

// DISTINCT on the first index column: one record per value, both ways, with and without a bitmap.
TEST(ScanStep, DistinctSkipsTheRestOfEachGroup) {
  for (bool withBitmap : {false, true}) {
    SCOPED_TRACE(withBitmap ? "bitmap" : "no bitmap");
    auto w = World(60);
    if (withBitmap) w->UseBitmap();
    w->cursor.SetIndexName("IAB");
    w->cursor.FDistinctFieldCount = 1;
    EXPECT_EQ(WalkForward(*w, 0), (std::vector<std::int32_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(WalkBackward(*w, 0), (std::vector<std::int32_t>{4, 3, 2, 1, 0}));
    EXPECT_EQ(GetRecordCount(*w->table, w->cursor), 5);
    SetRecNo(*w->table, w->cursor, 3);
    ASSERT_EQ(GetRecordBuffer(*w->table, w->cursor, grmCurrent), grrOK);
    EXPECT_EQ(w->Value(0), 2);
    EXPECT_EQ(GetRecNo(*w->table, w->cursor), 3);
    EXPECT_EQ(w->cursor.FDistinctRecordBuffer, nullptr);
  }
}

// The record filter sees each record with its ID at the bookmark offset; its answer decides.
TEST(ScanStep, FilterCallbackSeesTheRecordAndItsID) {
  auto w = World(30);
  w->UseBitmap();
  w->cursor.FBookmarkOffset = w->size;
  w->cursor.FRecordBufferSize = w->size + 6;
  std::set<std::int32_t> seen;
  w->cursor.FilterRecord = [&](TNRDCursor& c) {
    const auto* p = static_cast<const std::uint8_t*>(c.CurrentRecordBuffer()) + c.BookmarkOffset();
    const std::int32_t slot = p[0] | (p[1] << 8) | (p[2] << 16) | (p[3] << 24);
    EXPECT_EQ(FieldOf(w->Fields(), c.CurrentRecordBuffer(), 2), slot % 10);
    seen.insert(slot);
    return slot % 3 == 0;
  };
  AndExpression filter(w->Fields(), {{2, Op::GE, 2}}, w->size);
  w->cursor.FFilterExpression = &filter;
  const std::vector<std::int32_t> c = WalkForward(*w, 2);
  EXPECT_EQ(GetRecordCount(*w->table, w->cursor), static_cast<std::int64_t>(c.size()));
  for (std::int32_t v : c) EXPECT_GE(v, 2);
  EXPECT_FALSE(seen.empty());
  w->cursor.FilterRecord = nullptr;
  w->cursor.FFilterExpression = nullptr;
}

// Record numbers on an unrestricted cursor come from the engine or the index; below 1 is 1.
TEST(ScanStep, RecordNumbersWithoutAView) {
  auto w = World(20);
  w->cursor.FirstPosition = true;
  EXPECT_EQ(GetRecNo(*w->table, w->cursor), -1);
  SetRecNo(*w->table, w->cursor, -5);
  EXPECT_EQ(GetRecNo(*w->table, w->cursor), 1);
  SetRecNo(*w->table, w->cursor, 99);
  EXPECT_EQ(GetRecNo(*w->table, w->cursor), 20);
  w->cursor.SetIndexName("IC");
  SetRecNo(*w->table, w->cursor, 3);
  ASSERT_EQ(GetRecordBuffer(*w->table, w->cursor, grmCurrent), grrOK);
  EXPECT_EQ(w->Value(2), 1);  // C = 0, 0, 1, 1, ... in index order
  EXPECT_EQ(GetRecNo(*w->table, w->cursor), 3);

  StandInWorld empty({"A"}, {});
  EXPECT_EQ(GetRecordBuffer(*empty.table, empty.cursor, grmNext), grrEOF);
  EXPECT_TRUE(empty.cursor.FirstPosition);
  SetRecNo(*empty.table, empty.cursor, 1);
  EXPECT_EQ(GetRecNo(*empty.table, empty.cursor), -1);
  try {
    Locate(*empty.table, empty.cursor, nullptr);
    FAIL();
  } catch (const ENRDException& e) {
    EXPECT_EQ(e.NativeError, 10272);
  }
}

// Before the first record nothing is prior, after the last nothing is next, also in a view.
TEST(ScanStep, NoWrapAroundAtTheEnds) {
  auto w = World(30);
  AndExpression filter(w->Fields(), {{2, Op::GE, 5}}, w->size);
  w->cursor.FFilterExpression = &filter;
  w->cursor.FirstPosition = true;
  w->cursor.LastPosition = false;
  EXPECT_EQ(GetRecordBuffer(*w->table, w->cursor, grmPrior), grrBOF);
  EXPECT_TRUE(w->cursor.FirstPosition);
  w->cursor.FirstPosition = false;
  w->cursor.LastPosition = true;
  EXPECT_EQ(GetRecordBuffer(*w->table, w->cursor, grmNext), grrEOF);
  EXPECT_TRUE(w->cursor.LastPosition);
  w->cursor.FFilterExpression = nullptr;
}

// The range bounds are the cursor's own copies: the caller may reuse its buffers at once.
TEST(ScanStep, RangeBoundsAreCopied) {
  auto w = World(40);
  w->UseBitmap();
  w->cursor.SetIndexName("IC");
  std::vector<std::uint8_t> low = w->Record({0, 0, 2}), high = w->Record({0, 0, 4});
  w->cursor.ApplyRange(low.data(), high.data(), 1, 1, false, false);
  low = w->Record({0, 0, 0});
  high = w->Record({0, 0, 9});
  EXPECT_EQ(GetRecordCount(*w->table, w->cursor), 12);
  for (std::int32_t v : WalkForward(*w, 2)) EXPECT_TRUE(v >= 2 && v <= 4);
  w->cursor.ApplyRange(w->cursor.FRangeStartBuffer, nullptr, 1, 0, true, false);  // its own bound again
  EXPECT_EQ(GetRecordCount(*w->table, w->cursor), 28);
}

// Reading needs a record manager, an index manager and a buffer; each missing one has its code.
TEST(ScanStep, ReadRecordRefusesMissingParts) {
  storagetest::FakeDatabase db;
  auto* bare = new TNRDTableData(&db);  // owned by db
  TNRDNavigationInfo nav;
  std::uint8_t buffer[16] = {};
  nav.RecordBuffer = buffer;
  auto codeOf = [&](TNRDTableData& t) {
    try {
      ReadRecord(t, 0, nav, 0, nullptr);
    } catch (const ENRDException& e) {
      return e.NativeError;
    }
    return 0;
  };
  EXPECT_EQ(codeOf(*bare), 10015);
  auto w = World(3);
  w->table->FIndexManager.swap(bare->FIndexManager);  // none on the bare table
  EXPECT_EQ(codeOf(*w->table), 10380);
  w->table->FIndexManager.swap(bare->FIndexManager);
  nav.RecordBuffer = nullptr;
  EXPECT_EQ(codeOf(*w->table), 10016);

  TNRDScanSearchConditionArray array;
  array.Items.push_back(nullptr);
  try {
    array.Delete(0);
    FAIL();
  } catch (const ENRDException& e) {
    EXPECT_EQ(e.NativeError, 10414);
  }
}
