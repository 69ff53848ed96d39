// The navigation oracle shared by the scan tests: random AND-conditions of one and two columns
// over a table, the cursor in physical order, on the scan index or on another index, with or
// without a bitmap, a key range and a record filter; every step forward and backward, every count,
// RecNo, SetRecNo and Locate is compared with a brute-force filter of the cursor's full order.
//
// A world offers: table (TNRDTableData*), cursor, Fields(), IndexID(name), UseBitmap(), and a
// record-buffer size `size`. Fields are the Integer columns A, B, C; indexes IAB (A, B), IC (C)
// and IB (B), with column directions chosen by the world.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "engine/storage/NRDCursorNavigation.h"
#include "tests/engine-storage/ScanStandIns.h"

namespace scantest {

struct Row {
  TNRDPageItemID id;
  std::vector<std::uint8_t> record;
};

inline bool SameID(const TNRDPageItemID& a, const TNRDPageItemID& b) {
  return a.PageNo == b.PageNo && a.PageItemNo == b.PageItemNo;
}

// The cursor's full order, read through the unrestricted cursor.
template <class World>
std::vector<Row> FullOrder(World& w) {
  std::vector<Row> rows;
  TTestCursor& c = w.cursor;
  c.FirstPosition = true;
  c.LastPosition = false;
  while (GetRecordBuffer(*w.table, c, grmNext) == grrOK) {
    const auto* p = static_cast<const std::uint8_t*>(c.FCurrentRecordBuffer);
    rows.push_back({c.CurrentRecordID, std::vector<std::uint8_t>(p, p + w.size)});
  }
  return rows;
}

inline std::vector<Comparison> RandomComparisons(std::mt19937& rng, int count) {
  std::vector<Comparison> parts;
  for (int i = 0; i < count; ++i)
    parts.push_back({static_cast<std::int32_t>(rng() % 3), static_cast<Op>(rng() % 5),
                     static_cast<std::int32_t>(rng() % 7) - 1});
  return parts;
}

struct OracleStats {
  int trials = 0, steps = 0, nonEmptyViews = 0, extracted = 0;
};

// One random trial. Returns quietly when a check fails (the failure is recorded).
template <class World>
void RunOracleTrial(World& w, std::mt19937& rng, OracleStats& stats, const std::string& where) {
  SCOPED_TRACE(where);
  TTestCursor& c = w.cursor;
  TNRDTableData& table = *w.table;
  const TNRDFieldDefs& fields = w.Fields();
  static const char* kOrders[] = {"", "IAB", "IC", "IB"};
  const std::string order = kOrders[rng() % 4];
  c.SetIndexName(order);
  ASSERT_EQ(c.FIndexID, order.empty() ? -1 : w.IndexID(order));
  c.ResetRange();
  c.FFilterExpression = nullptr;
  c.FilterRecord = nullptr;
  const std::vector<Row> full = FullOrder(w);

  AndExpression filter(fields, RandomComparisons(rng, 1 + static_cast<int>(rng() % 2)), w.size);
  c.FFilterExpression = &filter;
  std::vector<std::uint8_t> start, end;
  bool startExclusive = false, endExclusive = false;
  std::int32_t startCount = 0, endCount = 0;
  if (!order.empty() && rng() % 3 == 0) {
    const std::int32_t columns = order == "IAB" ? 2 : 1;
    if (rng() % 2) {
      start = w.Record({static_cast<std::int32_t>(rng() % 5), static_cast<std::int32_t>(rng() % 5),
                        static_cast<std::int32_t>(rng() % 7)});
      startCount = 1 + static_cast<std::int32_t>(rng() % columns);
      startExclusive = rng() % 2;
    }
    if (rng() % 2) {
      end = w.Record({static_cast<std::int32_t>(rng() % 5), static_cast<std::int32_t>(rng() % 5),
                      static_cast<std::int32_t>(rng() % 7)});
      endCount = 1 + static_cast<std::int32_t>(rng() % columns);
      endExclusive = rng() % 2;
    }
    c.ApplyRange(start.empty() ? nullptr : start.data(), end.empty() ? nullptr : end.data(), startCount, endCount,
                 startExclusive, endExclusive);
  }
  const bool withCallback = rng() % 4 == 0;
  std::string described = "order '" + order + "' bitmap " + std::to_string(c.FRecordBitmap != nullptr) +
                          " callback " + std::to_string(withCallback) + " range " + std::to_string(!start.empty()) +
                          "/" + std::to_string(!end.empty()) + " counts " + std::to_string(startCount) + "/" +
                          std::to_string(endCount) + " exclusive " + std::to_string(startExclusive) + "/" +
                          std::to_string(endExclusive) + " filter";
  if (!start.empty())
    described += " start (" + std::to_string(FieldOf(fields, start.data(), 0)) + "," +
                 std::to_string(FieldOf(fields, start.data(), 1)) + ")";
  for (const Comparison& p : filter.Parts())
    described += " f" + std::to_string(p.field) + " op" + std::to_string(static_cast<int>(p.op)) + " " +
                 std::to_string(p.value);
  SCOPED_TRACE(described);
  if (withCallback)
    c.FilterRecord = [&fields](TNRDCursor& cur) { return FieldOf(fields, cur.CurrentRecordBuffer(), 2) % 2 == 0; };
  if (c.FRecordBitmap != nullptr) c.FRecordBitmap->Clear();

  // The brute-force answer.
  TNRDIndex* index = order.empty() ? nullptr : table.IndexManager().OpenIndex(c.FIndexID);
  std::vector<Row> want;
  for (const Row& r : full) {
    if (!filter.Matches(r.record.data())) continue;
    if (withCallback && FieldOf(fields, r.record.data(), 2) % 2 != 0) continue;
    if (!start.empty()) {
      const std::int32_t x = index->CompareRecordBuffersByIndex(r.record.data(), start.data(), startCount);
      if (startExclusive ? x <= 0 : x < 0) continue;
    }
    if (!end.empty()) {
      const std::int32_t x = index->CompareRecordBuffersByIndex(r.record.data(), end.data(), endCount);
      if (endExclusive ? x >= 0 : x > 0) continue;
    }
    want.push_back(r);
  }
  ++stats.trials;
  if (!want.empty()) ++stats.nonEmptyViews;
  const auto n = static_cast<std::int64_t>(want.size());

  // Forward from the first record, with its RecNo at every step.
  c.FirstPosition = true;
  c.LastPosition = false;
  EXPECT_EQ(GetRecNo(table, c), -1);
  for (std::int64_t i = 0; i < n; ++i) {
    ASSERT_EQ(GetRecordBuffer(table, c, grmNext), grrOK) << "forward step " << i << " of " << n;
    ASSERT_TRUE(SameID(c.CurrentRecordID, want[static_cast<std::size_t>(i)].id)) << "forward step " << i;
    // Without a bitmap a RecNo steps through the view: checked at a few steps only.
    if (c.FRecordBitmap != nullptr || rng() % 8 == 0) {
      ASSERT_EQ(GetRecNo(table, c), i + 1);
    }
    ++stats.steps;
  }
  ASSERT_EQ(GetRecordBuffer(table, c, grmNext), grrEOF);
  ASSERT_FALSE(filter.AnyExtracted());  // every node taken out was given back
  ASSERT_EQ(GetRecordCount(table, c), n);

  // Backward from the last record.
  c.FirstPosition = false;
  c.LastPosition = true;
  for (std::int64_t i = n - 1; i >= 0; --i) {
    ASSERT_EQ(GetRecordBuffer(table, c, grmPrior), grrOK) << "backward step " << i;
    ASSERT_TRUE(SameID(c.CurrentRecordID, want[static_cast<std::size_t>(i)].id)) << "backward step " << i;
    ++stats.steps;
  }
  // An empty table answers EOF whichever way it is asked.
  ASSERT_EQ(GetRecordBuffer(table, c, grmPrior), full.empty() ? grrEOF : grrBOF);

  // Record numbers set directly (below 1 and above the count are clamped), then steps both ways.
  for (int k = 0; k < 4 && n > 0; ++k) {
    const std::int64_t asked = static_cast<std::int64_t>(rng() % static_cast<unsigned>(n + 3)) - 1;
    const std::int64_t r = std::clamp<std::int64_t>(asked, 1, n);
    SetRecNo(table, c, asked);
    ASSERT_TRUE(SameID(c.CurrentRecordID, want[static_cast<std::size_t>(r - 1)].id)) << "SetRecNo " << asked;
    ASSERT_EQ(GetRecNo(table, c), r);
    ASSERT_EQ(GetRecordBuffer(table, c, grmCurrent), grrOK);
    if (rng() % 2) {
      if (r > 1) {
        ASSERT_EQ(GetRecordBuffer(table, c, grmPrior), grrOK);
        ASSERT_TRUE(SameID(c.CurrentRecordID, want[static_cast<std::size_t>(r - 2)].id)) << "prior of " << r;
        ASSERT_EQ(GetRecordBuffer(table, c, grmNext), grrOK);
      } else {
        ASSERT_EQ(GetRecordBuffer(table, c, grmPrior), grrBOF);
      }
    }
    if (r < n) {
      ASSERT_EQ(GetRecordBuffer(table, c, grmNext), grrOK);
      ASSERT_TRUE(SameID(c.CurrentRecordID, want[static_cast<std::size_t>(r)].id)) << "next of " << r;
    } else {
      ASSERT_EQ(GetRecordBuffer(table, c, grmNext), grrEOF);
    }
  }

  // Locate: the first record of the view, in the cursor's order, that also satisfies the search.
  AndExpression search(fields, RandomComparisons(rng, 1 + static_cast<int>(rng() % 2)), w.size);
  const Row* first = nullptr;
  for (const Row& r : want)
    if (search.Matches(r.record.data())) {
      first = &r;
      break;
    }
  c.FirstPosition = true;
  c.LastPosition = false;
  if (n > 0) SetRecNo(table, c, 1);
  const TNRDPageItemID before = c.CurrentRecordID;
  const bool beforeFirst = c.FirstPosition;
  const bool located = Locate(table, c, &search);
  ASSERT_EQ(located, first != nullptr);
  if (first != nullptr) {
    ASSERT_TRUE(SameID(c.CurrentRecordID, first->id));
    ASSERT_EQ(std::memcmp(c.FCurrentRecordBuffer, first->record.data(), first->record.size()), 0);
  } else {
    ASSERT_TRUE(SameID(c.CurrentRecordID, before));
    ASSERT_EQ(c.FirstPosition, beforeFirst);
  }
  ASSERT_FALSE(search.AnyExtracted());
  c.FFilterExpression = nullptr;
  c.FilterRecord = nullptr;
  c.ResetRange();
}

}  // namespace scantest
