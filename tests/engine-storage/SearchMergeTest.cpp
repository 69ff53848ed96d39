// Merging key conditions, checked against enumeration: every key of a small two-column domain is
// tested against each condition, so a merge outcome can be compared with the key sets it claims.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDSearch.h"

using namespace nrd;

namespace {

constexpr int kValues = 3;  // each column runs 0..2
using Key = std::array<std::int32_t, 2>;

const TNRDSearchCondition kOps[] = {scEqual, scLower, scGreater, scLowerEqual, scGreaterEqual};

int CompareKeys(const Key& a, const Key& b, std::int32_t count) {
  for (std::int32_t i = 0; i < count && i < 2; ++i)
    if (a[static_cast<std::size_t>(i)] != b[static_cast<std::size_t>(i)])
      return a[static_cast<std::size_t>(i)] < b[static_cast<std::size_t>(i)] ? -1 : 1;
  return 0;
}

bool Holds(TNRDSearchCondition op, int r) {
  switch (op) {
    case scEqual: return r == 0;
    case scLower: return r < 0;
    case scGreater: return r > 0;
    case scLowerEqual: return r <= 0;
    case scGreaterEqual: return r >= 0;
    default: return false;
  }
}

struct Cond {
  TNRDSearchCondition op;
  std::int32_t count;
  Key key;
};

std::vector<Key> Domain() {
  std::vector<Key> keys;
  for (int a = 0; a < kValues; ++a)
    for (int b = 0; b < kValues; ++b) keys.push_back({a, b});
  return keys;
}

std::set<Key> KeySet(const Cond& c) {
  std::set<Key> s;
  for (const Key& x : Domain())
    if (Holds(c.op, CompareKeys(x, c.key, c.count))) s.insert(x);
  return s;
}

bool Subset(const std::set<Key>& a, const std::set<Key>& b) {
  for (const Key& x : a)
    if (!b.count(x)) return false;
  return true;
}

std::set<Key> Intersect(const std::set<Key>& a, const std::set<Key>& b) {
  std::set<Key> s;
  for (const Key& x : a)
    if (b.count(x)) s.insert(x);
  return s;
}

std::vector<Cond> AllConditions() {
  std::vector<Cond> all;
  for (TNRDSearchCondition op : kOps)
    for (std::int32_t count = 1; count <= 2; ++count)
      for (const Key& k : Domain()) {
        if (count == 1 && k[1] != 0) continue;  // the second column is not compared
        all.push_back({op, count, k});
      }
  return all;
}

}  // namespace

// Every cell of the 5 x 5 table with each of the three comparison outcomes, over both column
// counts: what the cell claims must hold for the key sets.
TEST(SearchMerge, EveryCellAgreesWithTheKeySets) {
  std::set<std::tuple<int, int, int>> visited;
  const std::vector<Cond> all = AllConditions();
  for (const Cond& k : all)
    for (const Cond& j : all) {
      if (!CanMergeConditions(k.op, k.count, j.op, j.count)) {
        // Only an equality on fewer columns beside a strict bound on more stays apart.
        const bool kEq = k.op == scEqual && (j.op == scLower || j.op == scGreater) && k.count < j.count;
        const bool jEq = j.op == scEqual && (k.op == scLower || k.op == scGreater) && j.count < k.count;
        EXPECT_TRUE(kEq || jEq);
        continue;
      }
      const int c = CompareKeys(k.key, j.key, std::min(k.count, j.count));
      visited.insert({k.op, j.op, c});
      const std::set<Key> sk = KeySet(k), sj = KeySet(j), both = Intersect(sk, sj);
      const bool kShorter = k.count <= j.count, kLonger = k.count >= j.count;
      SCOPED_TRACE(testing::Message() << "k=" << int(k.op) << "/" << k.count << " (" << k.key[0] << "," << k.key[1]
                                      << ") j=" << int(j.op) << "/" << j.count << " (" << j.key[0] << ","
                                      << j.key[1] << ")");
      switch (MergeCell(k.op, k.count, j.op, j.count, c)) {
        case TNRDMergeOutcome::None: break;
        case TNRDMergeOutcome::Contradiction: EXPECT_TRUE(both.empty()); break;
        case TNRDMergeOutcome::KeepK: EXPECT_TRUE(Subset(sk, sj)); break;
        case TNRDMergeOutcome::TakeJ: EXPECT_TRUE(Subset(sj, sk)); break;
        case TNRDMergeOutcome::Shorter: EXPECT_EQ(kShorter ? sk : sj, both); break;
        case TNRDMergeOutcome::Longer: EXPECT_EQ(kLonger ? sk : sj, both); break;
        case TNRDMergeOutcome::LongerAsEqual: {
          const Cond& longer = kLonger ? k : j;
          EXPECT_EQ(KeySet({scEqual, longer.count, longer.key}), both);
          break;
        }
      }
    }
  // All 25 cells were met with c < 0, c = 0 and c > 0.
  EXPECT_EQ(visited.size(), 5u * 5u * 3u);
}

// x <= 5 AND x < 5 keeps the strict bound (and so does x >= 5 AND x > 5), whichever comes first.
TEST(SearchMerge, EqualKeysKeepTheStrictBound) {
  EXPECT_EQ(MergeCell(scLowerEqual, 1, scLower, 1, 0), TNRDMergeOutcome::TakeJ);
  EXPECT_EQ(MergeCell(scLower, 1, scLowerEqual, 1, 0), TNRDMergeOutcome::KeepK);
  EXPECT_EQ(MergeCell(scGreaterEqual, 1, scGreater, 1, 0), TNRDMergeOutcome::TakeJ);
  EXPECT_EQ(MergeCell(scGreater, 1, scGreaterEqual, 1, 0), TNRDMergeOutcome::KeepK);
  EXPECT_EQ(MergeCell(scLowerEqual, 1, scGreaterEqual, 1, 0), TNRDMergeOutcome::LongerAsEqual);
  EXPECT_EQ(MergeCell(scEqual, 1, scEqual, 1, 1), TNRDMergeOutcome::Contradiction);
}

namespace {

struct KeyBuffer {
  explicit KeyBuffer(const Key& k) { std::memcpy(bytes, k.data(), sizeof(bytes)); }
  std::uint8_t bytes[8];
};

std::int32_t CompareBuffers(void*, std::int32_t, const void* a, const void* b, std::int32_t count) {
  Key x{}, y{};
  std::memcpy(x.data(), a, 8);
  std::memcpy(y.data(), b, 8);
  return CompareKeys(x, y, count);
}

void AddKeyCondition(TNRDScanSearchConditionArray& array, std::int32_t indexID, const Cond& c) {
  KeyBuffer key(c.key);
  TNRDScanSearchCondition cond(true);
  cond.IndexID = indexID;
  cond.Condition = c.op;
  cond.KeyFieldCount = c.count;
  cond.KeyRecordBuffer = key.bytes;
  cond.KeyRecordBufferSize = sizeof(key.bytes);
  array.AddCondition(cond);
}

Cond CondOf(const TNRDScanSearchCondition& c) {
  Key k{};
  std::memcpy(k.data(), c.KeyRecordBuffer, 8);
  return {c.Condition, c.KeyFieldCount, k};
}

}  // namespace

// Whole arrays: the merged conditions describe exactly the keys the given ones describe, a
// contradiction only when no key is left, and the conditions of one index end up side by side.
TEST(SearchMerge, MergedArraysKeepTheirMeaning) {
  struct Dummy : TNRDExpression {
    void GetValue(TNRDBaseSession*, TNRDVariant&) override {}
    void AssignCursor(TNRDCursor*, void*, TNRDCursor*) override {}
  } dummy;
  std::mt19937 rng(2718);
  const std::vector<Cond> all = AllConditions();
  int contradictions = 0, reduced = 0;
  for (int round = 0; round < 3000; ++round) {
    TNRDScanSearchConditionArray array;
    const int n = 2 + static_cast<int>(rng() % 3);
    std::vector<std::pair<std::int32_t, Cond>> given;
    for (int i = 0; i < n; ++i) {
      const std::int32_t index = 10 + static_cast<std::int32_t>(rng() % 2);
      const Cond c = all[rng() % all.size()];
      given.push_back({index, c});
      AddKeyCondition(array, index, c);
      if (rng() % 4 == 0) array.AddExpression(&dummy);
    }
    bool contradiction = false;
    auto merged = MergeScanConditions(array, &CompareBuffers, nullptr, contradiction);
    std::map<std::int32_t, std::set<Key>> want;
    for (std::int32_t index : {10, 11}) {
      for (const Key& x : Domain()) want[index].insert(x);
      for (const auto& [id, c] : given)
        if (id == index) want[index] = Intersect(want[index], KeySet(c));
    }
    if (contradiction) {
      ++contradictions;
      EXPECT_EQ(merged, nullptr);
      EXPECT_TRUE(want[10].empty() || want[11].empty()) << "round " << round;
      continue;
    }
    for (std::int32_t index : {10, 11}) {
      std::set<Key> got;
      for (const Key& x : Domain()) got.insert(x);
      for (const auto& item : merged->Items)
        if (item->IndexID == index) got = Intersect(got, KeySet(CondOf(*item)));
      EXPECT_EQ(got, want[index]) << "round " << round;
    }
    if (merged->Count() < array.Count()) ++reduced;
    // Key conditions first, grouped by index; the expressions follow in their order.
    bool seenExpression = false;
    std::vector<std::int32_t> order;
    for (const auto& item : merged->Items) {
      if (item->IndexID == -1) {
        seenExpression = true;
        continue;
      }
      EXPECT_FALSE(seenExpression);
      if (order.empty() || order.back() != item->IndexID) order.push_back(item->IndexID);
    }
    EXPECT_EQ(std::set<std::int32_t>(order.begin(), order.end()).size(), order.size());
  }
  EXPECT_GT(contradictions, 100);
  EXPECT_GT(reduced, 100);
}

// The arrays own copies of their keys; an external key is never freed by its condition.
TEST(SearchMerge, ConditionsCopyTheirKeysAndCheckTheirItems) {
  TNRDScanSearchConditionArray array;
  Key k{7, 8};
  KeyBuffer external(k);
  TNRDScanSearchCondition c(true);
  c.IndexID = 3;
  c.Condition = scEqual;
  c.KeyFieldCount = 2;
  c.KeyRecordBuffer = external.bytes;
  c.KeyRecordBufferSize = 8;
  array.AddCondition(c);
  ASSERT_EQ(array.Count(), 1);
  EXPECT_NE(array.Item(0)->KeyRecordBuffer, external.bytes);
  external.bytes[0] = 99;
  EXPECT_EQ(static_cast<std::uint8_t*>(array.Item(0)->KeyRecordBuffer)[0], 7);

  TNRDScanSearchCondition none;
  try {
    array.AddCondition(none);
    FAIL();
  } catch (const ENRDException& e) {
    EXPECT_EQ(e.NativeError, 10388);
  }
  for (std::int32_t bad : {-1, 1}) {
    try {
      array.Delete(bad);
      FAIL();
    } catch (const ENRDException& e) {
      EXPECT_EQ(e.NativeError, 10413);
    }
  }
  array.Delete(0);
  EXPECT_EQ(array.Count(), 0);
}
