// The B-tree record index over a table: filling from a record source, navigation in index order
// both ways, record numbers, unique checks on cut keys and NULLs, cursor inserts, updates and
// deletes, range scans and range estimates, positions rebuilt from bitmap numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDBTreeRecordIndex.h"
#include "tests/engine-storage/TestCursor.h"
#include "engine/storage/NRDCursor.h"
#include "engine/storage/NRDDatabaseData.h"
#include "engine/storage/NRDFieldManager.h"
#include "engine/storage/NRDRecordBitmap.h"
#include "engine/storage/NRDSearch.h"
#include "tests/engine-foundation/EngineTestUtil.h"
#include "tests/engine-storage/StorageFakes.h"
#include "tests/engine-storage/StorageTestUtil.h"

using namespace nrd;
using enginetest::CodeOf;
using namespace storagetest;

namespace {

// The fake table's records in ID order: what the cursor layer will hand over.
class MapSource : public TNRDIndexRecordSource {
 public:
  explicit MapSource(FakeRecordManager& records) : it_(records.Records.begin()), end_(records.Records.end()) {}
  bool Next(void* buffer, TNRDPageItemID& id) override {
    if (it_ == end_) return false;
    std::memcpy(buffer, it_->second.data(), it_->second.size());
    id = TNRDPageItemID{it_->first, 0};
    ++it_;
    return true;
  }

 private:
  std::map<std::int32_t, std::vector<std::uint8_t>>::iterator it_, end_;
};

struct IndexFixture {
  explicit IndexFixture(bool unique = false) : pm(256, 40), table(new FakeTable(&db)) {
    table->FPageManager = &pm;
    TNRDFieldDefs fields;
    DefineFields(fields, {{"ID", aftInteger, 0}, {"NAME", aftString, 12}});
    table->InitFieldManager(fields);
    session.FSessionID = 1;
    cursor.FSession = &session;
    def.FName = "BYNAME";
    def.AssignByNames({"NAME"}, {""}, {""});
    def.GetIndexColumn(0).FMaxIndexedSize = 4;
    def.FUnique = unique;
    def.FObjectID = 77;
    SetIndexRecordSourceFactory([](TNRDTableData& t, std::int32_t) {
      return std::make_unique<MapSource>(static_cast<FakeTable&>(t).Records());
    });
  }
  ~IndexFixture() { SetIndexRecordSourceFactory(nullptr); }
  const TNRDFieldDefs& Fields() const { return table->FieldManager().FFieldDefs; }
  std::vector<std::uint8_t> Record(std::int32_t id, const std::string& name, bool isNull = false) const {
    std::vector<std::uint8_t> r(static_cast<std::size_t>(Fields().GetMemoryRecordBufferSize()), 0);
    std::memcpy(r.data() + Fields().GetFieldDef(0)->FMemoryOffset, &id, 4);
    if (isNull)
      SetFieldNull(r.data(), 1, true);
    else
      std::strncpy(reinterpret_cast<char*>(r.data()) + Fields().GetFieldDef(1)->FMemoryOffset, name.c_str(), 12);
    return r;
  }
  void Add(std::int32_t id, const std::string& name) { table->Records().Add(id, Record(id, name)); }
  // The record IDs in index order, walked through GetRecordBuffer.
  std::vector<std::int32_t> Walk(TNRDBTreeRecordIndex& index, bool forward) {
    std::vector<std::int32_t> ids;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(Fields().GetMemoryRecordBufferSize()));
    TNRDNavigationInfo nav;
    nav.GetRecordMode = forward ? grmNext : grmPrior;
    nav.FirstPosition = forward;
    nav.LastPosition = !forward;
    nav.RecordBuffer = buffer.data();
    for (;;) {
      index.GetRecordBuffer(1, nav, nullptr, 0);
      if (nav.GetRecordResult != grrOK) break;
      ids.push_back(nav.RecordID.PageNo);
    }
    if (!forward) std::reverse(ids.begin(), ids.end());
    return ids;
  }
  FakeDatabase db;
  MapPageManager pm;
  FakeTable* table;
  TNRDBaseSession session;
  TTestCursor cursor;
  TNRDIndexDef def;
};

std::vector<std::int32_t> SortedIds(const std::vector<std::pair<std::string, std::int32_t>>& rows) {
  auto sorted = rows;
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::int32_t> ids;
  for (auto& r : sorted) ids.push_back(r.second);
  return ids;
}

TEST(BTreeRecordIndex, FillsNavigatesAndNumbersInIndexOrder) {
  IndexFixture f;
  std::vector<std::pair<std::string, std::int32_t>> rows;
  std::mt19937 rng(11);
  for (int id = 1; id <= 300; ++id) {
    std::string name(3 + rng() % 6, 'a');
    for (char& c : name) c = static_cast<char>('a' + rng() % 3);
    f.Add(id, name);
    rows.push_back({name, id});
  }
  TNRDBTreeRecordIndex index(&f.table->IndexManager());
  index.CreateIndex(&f.cursor, f.def);
  ASSERT_NE(index.FIndexDef.FRootPageNo, -1);
  index.CheckIntegrity(1);
  const auto expected = SortedIds(rows);
  EXPECT_EQ(f.Walk(index, true), expected);
  EXPECT_EQ(f.Walk(index, false), expected);
  for (std::size_t i = 0; i < expected.size(); i += 37) {
    const std::int32_t id = expected[i];
    const auto& rec = f.table->Records().Records.at(id);
    EXPECT_EQ(index.GetRecNoByRecordID(1, TNRDPageItemID{id, 0}, rec.data()), static_cast<std::int64_t>(i + 1));
    EXPECT_EQ(index.GetRecordIDByRecNo(1, static_cast<std::int64_t>(i + 1)).PageNo, id);
    // A position rebuilt from its bitmap number reaches the same record.
    TNRDKeyPath path;
    ASSERT_TRUE(index.GetIndexPosition(1, TNRDPageItemID{id, 0}, rec.data(), &path));
    TNRDKeyPath rebuilt;
    rebuilt.FillItemsByBitmapRecNo(path.GetBitmapRecNoByIndexPosition(index.GetMaxEntriesPerPage()),
                                   index.GetMaxEntriesPerPage());
    TNRDPageItemID found;
    index.GetRecordIDByIndexPosition(1, &rebuilt, found);
    EXPECT_EQ(found.PageNo, id);
  }
  EXPECT_EQ(CodeOf([&] { index.GetRecordIDByRecNo(1, 301); }), 20075);
  auto missing = f.Record(999, "zzz");
  EXPECT_EQ(index.GetRecNoByRecordID(1, TNRDPageItemID{999, 0}, missing.data()), -1);
  TNRDNavigationInfo nav;
  nav.GetRecordMode = grmCurrent;
  EXPECT_EQ(CodeOf([&] { index.GetRecordBuffer(1, nav, nullptr, 0); }), 20053);

  index.EmptyIndex(1);
  EXPECT_TRUE(f.Walk(index, true).empty());
  EXPECT_EQ(CodeOf([&] { index.GetRecordIDByRecNo(1, 1); }), 20074);
  nav.GetRecordMode = grmNext;
  nav.FirstPosition = true;
  index.GetRecordBuffer(1, nav, nullptr, 0);
  EXPECT_EQ(nav.GetRecordResult, grrError);
  index.DropIndex(1);
  EXPECT_EQ(CodeOf([&] { index.DropIndex(1); }), 20119);
}

TEST(BTreeRecordIndex, RandomChangesKeepRecordNumbersInStepWithAModel) {
  IndexFixture f;
  TNRDBTreeRecordIndex index(&f.table->IndexManager());
  index.CreateIndex(nullptr, f.def);  // no cursor: an empty tree, made by the engine session -2
  f.pm.ApplyChanges(-2);
  std::set<std::pair<std::string, std::int32_t>> model;
  std::mt19937 rng(3);
  std::int32_t nextId = 1;
  for (int step = 0; step < 600; ++step) {
    if (model.empty() || rng() % 10 < (step < 300 ? 7u : 3u)) {
      std::string name(1 + rng() % 6, 'a');
      for (char& c : name) c = static_cast<char>('a' + rng() % 2);
      f.Add(nextId, name);
      index.InsertEntry(1, f.table->Records().Records.at(nextId).data(), TNRDPageItemID{nextId, 0});
      model.insert({name, nextId++});
    } else {
      auto it = model.begin();
      std::advance(it, static_cast<long>(rng() % model.size()));
      ASSERT_TRUE(index.DeleteEntry(1, f.table->Records().Records.at(it->second).data(), TNRDPageItemID{it->second, 0}));
      model.erase(it);
    }
    ASSERT_NO_THROW(index.CheckIntegrity(1)) << step;
    // Three sampled records: record number both ways.
    for (int probe = 0; probe < 3 && !model.empty(); ++probe) {
      const std::int64_t recNo = 1 + static_cast<std::int64_t>(rng() % model.size());
      auto it = model.begin();
      std::advance(it, static_cast<long>(recNo - 1));
      ASSERT_EQ(index.GetRecordIDByRecNo(1, recNo).PageNo, it->second) << step;
      ASSERT_EQ(index.GetRecNoByRecordID(1, TNRDPageItemID{it->second, 0}, f.table->Records().Records.at(it->second).data()),
                recNo);
    }
    if (step % 20 == 0) {
      std::vector<std::int32_t> ids;
      for (auto& e : model) ids.push_back(e.second);
      ASSERT_EQ(f.Walk(index, true), ids) << step;
      ASSERT_EQ(f.Walk(index, false), ids) << step;
    }
  }
}

TEST(BTreeRecordIndex, NavigationContinuesFromTheCachedPositionWhileItHolds) {
  IndexFixture f;
  std::vector<std::pair<std::string, std::int32_t>> rows;
  for (int id = 1; id <= 120; ++id) {
    rows.push_back({"k" + std::to_string((id * 53) % 120 + 1000), id});
    f.Add(id, rows.back().first);
  }
  TNRDBTreeRecordIndex index(&f.table->IndexManager());
  index.CreateIndex(&f.cursor, f.def);
  TNRDIndexPositionCache cache;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(f.Fields().GetMemoryRecordBufferSize()));
  TNRDNavigationInfo nav;
  nav.GetRecordMode = grmNext;
  nav.FirstPosition = true;
  nav.RecordBuffer = buffer.data();
  std::vector<std::int32_t> walked;
  const std::int32_t nameOffset = f.Fields().GetFieldDef(1)->FMemoryOffset;
  for (;;) {
    index.GetRecordBuffer(1, nav, &cache, 7);
    if (nav.GetRecordResult != grrOK) break;
    walked.push_back(nav.RecordID.PageNo);
    // A search by this buffer's key would find nothing: only the cached path can go on.
    std::memcpy(buffer.data() + nameOffset, "zzz", 4);
    if (walked.size() == 60) break;
  }
  auto expected = SortedIds(rows);
  ASSERT_EQ(walked, std::vector<std::int32_t>(expected.begin(), expected.begin() + 60));
  // The tree changes while the table state given stays the same: the cached path no longer holds
  // and the record's own key is searched again.
  std::memcpy(buffer.data(), f.table->Records().Records.at(walked.back()).data(), buffer.size());
  for (int id = 121; id <= 200; ++id) {
    rows.push_back({"k" + std::to_string(id + 900), id});
    f.Add(id, rows.back().first);
    index.InsertEntry(1, f.table->Records().Records.at(id).data(), TNRDPageItemID{id, 0});
  }
  expected = SortedIds(rows);
  const auto at = std::find(expected.begin(), expected.end(), walked.back());
  ASSERT_NE(at, expected.end());
  index.GetRecordBuffer(1, nav, &cache, 7);
  ASSERT_EQ(nav.GetRecordResult, grrOK);
  EXPECT_EQ(nav.RecordID.PageNo, *(at + 1));
}

TEST(BTreeRecordIndex, UniqueChecksUseWholeValuesAndTreatNullsAsEqual) {
  IndexFixture f(true);
  f.Add(1, "Petrovich");
  f.table->Records().Add(2, f.Record(2, "", true));
  TNRDBTreeRecordIndex index(&f.table->IndexManager());
  index.CreateIndex(&f.cursor, f.def);
  auto samePrefix = f.Record(3, "Petrova");
  auto same = f.Record(3, "Petrovich");
  auto null = f.Record(3, "", true);
  EXPECT_TRUE(index.CanInsertRecord(1, samePrefix.data()));
  EXPECT_FALSE(index.CanInsertRecord(1, same.data()));
  EXPECT_FALSE(index.CanInsertRecord(1, null.data()));
  auto old = f.Record(1, "Petrovich");
  EXPECT_TRUE(index.CanUpdateRecord(1, old.data(), same.data()));
  EXPECT_FALSE(index.CanUpdateRecord(1, samePrefix.data(), null.data()));
}

TEST(BTreeRecordIndex, CursorChangesKeepTheTreeInStep) {
  IndexFixture f;
  for (int id = 1; id <= 40; ++id) f.Add(id, "n" + std::to_string(id % 7));
  TNRDBTreeRecordIndex index(&f.table->IndexManager());
  index.CreateIndex(&f.cursor, f.def);
  auto rec = f.Record(41, "a-new");
  f.table->Records().Add(41, rec);
  f.cursor.FCurrentRecordBuffer = rec.data();
  f.cursor.CurrentRecordID = TNRDPageItemID{41, 0};
  index.InsertRecord(&f.cursor);
  EXPECT_EQ(f.Walk(index, true).front(), 41);
  // An update that keeps the key changes nothing; a changed key moves the entry.
  auto before = rec;
  auto after = f.Record(41, "zz-last");
  f.cursor.FEditRecordBuffer = before.data();
  f.cursor.FCurrentRecordBuffer = after.data();
  index.UpdateRecord(&f.cursor, true);
  f.table->Records().Add(41, after);
  index.UpdateRecord(&f.cursor, false);
  index.CheckIntegrity(1);
  EXPECT_EQ(f.Walk(index, true).back(), 41);
  index.DeleteRecord(&f.cursor);
  EXPECT_EQ(f.Walk(index, true).size(), 40u);
  EXPECT_EQ(CodeOf([&] { index.DeleteRecord(&f.cursor); }), 20027);
  f.cursor.FEditRecordBuffer = before.data();
  EXPECT_EQ(CodeOf([&] { index.UpdateRecord(&f.cursor, true); }), 20250);
  // The nearest record of one that is gone.
  auto gone = f.Record(500, "n3zz");
  TNRDNavigationInfo nav;
  nav.GetRecordMode = grmNext;
  nav.RecordBuffer = gone.data();
  index.GetClosestRecordBuffer(1, nav, nullptr, 0);
  ASSERT_EQ(nav.GetRecordResult, grrOK);
  EXPECT_EQ(nav.RecordID.PageNo % 7, 4);
}

TEST(BTreeRecordIndex, RangeScansAndEstimatesFollowTheBounds) {
  IndexFixture f;
  std::vector<std::pair<std::string, std::int32_t>> rows;
  for (int id = 1; id <= 200; ++id) {
    std::string name = std::string(1, static_cast<char>('a' + id % 5)) + std::to_string(id);
    f.Add(id, name);
    rows.push_back({name, id});
  }
  TNRDBTreeRecordIndex index(&f.table->IndexManager());
  index.CreateIndex(&f.cursor, f.def);
  auto low = f.Record(0, "b");
  auto high = f.Record(0, "c");
  TNRDBTreeScanBound start{scGreaterEqual, 1, low.data(), false};
  TNRDBTreeScanBound end{scLowerEqual, 1, high.data(), true};  // prefix "c": every c-name
  std::vector<std::int32_t> expected;
  for (auto id : SortedIds(rows)) {
    const char first = f.table->Records().Records.at(id)[static_cast<std::size_t>(f.Fields().GetFieldDef(1)->FMemoryOffset)];
    if (first == 'b' || first == 'c') expected.push_back(id);
  }
  for (bool forward : {true, false}) {
    TNRDBTreeSearchInfo info;
    std::vector<std::int32_t> got;
    TNRDPageItemID id;
    std::vector<std::uint8_t> dummy(64, 0);
    bool restart = true;
    // A prefix end bound needs partial compare on the start condition's settings: give both.
    start.PartialCompare = true;
    while (index.FindRecordByBounds(1, restart, forward, forward ? &start : &end, forward ? &end : &start,
                                    dummy.data(), id, &info)) {
      got.push_back(id.PageNo);
      restart = false;
      ASSERT_LE(got.size(), 200u);
    }
    if (!forward) std::reverse(got.begin(), got.end());
    EXPECT_EQ(got, expected) << (forward ? "forward" : "backward");
  }
  start.PartialCompare = false;
  auto beyond = f.Record(0, "d");
  const std::int64_t estimate =
      index.GetApproxRangeRecordCountByBounds(1, 200, start, TNRDBTreeScanBound{scLower, 1, beyond.data(), false});
  EXPECT_GE(estimate, 0);
  EXPECT_LE(estimate, 200);
  EXPECT_NEAR(static_cast<double>(estimate), static_cast<double>(expected.size()), 30.0);
  // The same scan through the index interface's condition forms.
  TNRDScanSearchCondition from(true), to(true);
  from.Condition = scGreaterEqual;
  from.KeyFieldCount = 1;
  from.KeyRecordBuffer = low.data();
  from.PartialCompare = true;
  to.Condition = scLowerEqual;
  to.KeyFieldCount = 1;
  to.KeyRecordBuffer = high.data();
  {
    TNRDIndex& generic = index;
    void* info = generic.CreateSearchInfo();
    std::vector<std::int32_t> got;
    TNRDPageItemID found;
    std::vector<std::uint8_t> dummy(64, 0);
    for (bool restart = true; generic.FindRecord(1, restart, true, &from, &to, dummy.data(), found, info); restart = false)
      got.push_back(found.PageNo);
    generic.FreeSearchInfo(info);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(generic.CompareConditions(&from, &to), -1);
    EXPECT_EQ(generic.CompareConditions(&to, &from), 1);
    from.PartialCompare = false;
    TNRDScanSearchCondition below(true);
    below.Condition = scLower;
    below.KeyFieldCount = 1;
    below.KeyRecordBuffer = beyond.data();
    EXPECT_EQ(generic.GetApproxRangeRecordCount(1, 200, &below, &from), estimate);
  }
  TNRDBTreeSearchInfo started;
  started.ScanStarted = true;
  TNRDPageItemID id;
  EXPECT_EQ(CodeOf([&] { index.FindRecordByBounds(1, true, true, nullptr, nullptr, nullptr, id, &started); }), 20078);
  EXPECT_EQ(CodeOf([&] { index.FindRecordByBounds(1, true, true, nullptr, nullptr, nullptr, id, nullptr); }), 20077);
}

TEST(BTreeRecordIndex, IndexManagerBuildsItThroughTheCreator) {
  IndexFixture f;
  for (int id = 1; id <= 20; ++id) f.Add(id, "k" + std::to_string(100 - id));
  f.table->IndexManager().FIndexCreator = [](TNRDBaseIndexManager& m) {
    return std::make_unique<TNRDBTreeRecordIndex>(&m);
  };
  TNRDIndexDef def;
  def.FName = "BYNAME";
  def.AssignByNames({"NAME"}, {"DESC"}, {""});
  const std::int32_t id = f.table->IndexManager().CreateIndex(&f.cursor, def);
  auto* index = static_cast<TNRDBTreeRecordIndex*>(f.table->IndexManager().OpenIndex(id));
  ASSERT_NE(index->FIndexDef.FRootPageNo, -1);
  const auto ids = f.Walk(*index, true);
  ASSERT_EQ(ids.size(), 20u);
  EXPECT_EQ(ids.front(), 1);  // "k99" first in descending order
  EXPECT_EQ(ids.back(), 20);
}

TEST(BTreeRecordIndex, DistinctKeepsTheFirstRecordOfEachKey) {
  IndexFixture f;
  // Names repeat every 4 records; "Petrovich"/"Petrova" share the kept bytes but differ.
  const char* names[] = {"Ivanov", "Petrovich", "Petrova", "Ivanov"};
  for (int id = 1; id <= 24; ++id) f.Add(id, names[id % 4]);
  f.table->IndexManager().FIndexCreator = [](TNRDBaseIndexManager& m) {
    return std::make_unique<TNRDBTreeRecordIndex>(&m);
  };
  TNRDIndexDef def;
  def.FName = "BYNAME";
  def.AssignByNames({"NAME"}, {""}, {""});
  def.GetIndexColumn(0).FMaxIndexedSize = 4;
  const std::int32_t indexID = f.table->IndexManager().CreateIndex(&f.cursor, def);
  auto* index = static_cast<TNRDBTreeRecordIndex*>(f.table->IndexManager().OpenIndex(indexID));
  TNRDRecordBitmap bitmap(f.table);
  bitmap.FIndexBased = true;
  bitmap.FActive = true;
  TNRDKeyPath path;
  ASSERT_TRUE(index->GetFirstIndexPosition(1, path));
  do {
    bitmap.ShowRecord(indexID, path);
  } while (index->MoveToNextPosition(1, path));
  index->ApplyDistinctToRecordBitmap(1, &bitmap, 1);
  std::vector<std::int32_t> visible;
  ASSERT_TRUE(index->GetFirstIndexPosition(1, path));
  do {
    if (bitmap.IsRecordVisible(indexID, path)) visible.push_back(index->GetReferenceAtPosition(1, path).PageNo);
  } while (index->MoveToNextPosition(1, path));
  // Ivanov (ids 3, 4, 7, 8, ...: first 3), Petrova (2), Petrovich (1).
  EXPECT_EQ(visible, (std::vector<std::int32_t>{3, 2, 1}));
  EXPECT_EQ(CodeOf([&] { index->ApplyDistinctToRecordBitmap(1, nullptr, 1); }), 20076);
}

}  // namespace
