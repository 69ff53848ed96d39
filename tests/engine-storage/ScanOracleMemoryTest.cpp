// The navigation oracle over the real storage: tables of the memory engine with B-tree record
// indexes (column directions mixed), records inserted and some deleted again, every view compared
// with a brute-force filter of the cursor's full order.
#include <gtest/gtest.h>

#include "engine/storage/NRDBTreeRecordIndex.h"
#include "tests/engine-storage/TestCursor.h"
#include "engine/storage/NRDMemoryEngine.h"
#include "tests/engine-storage/ScanOracle.h"

using namespace nrd;
using namespace scantest;

namespace {

class Session : public TNRDBaseSession {};

// A memory table T (A, B, C Integer) with indexes IAB, IC and IB, and one cursor on it.
struct MemoryWorld {
  MemoryWorld(std::mt19937& rng, bool withBitmap) : savedCreator(DefaultRecordIndexCreator()) {
    RegisterBTreeRecordIndex();
    db.ConnectSession(&session);
    cursor.FTableName = "T";
    cursor.FSession = &session;
    table = db.FindOrCreateTableData(&cursor);
    TNRDFieldDefs fields;
    storagetest::DefineFields(fields, {{"A", aftInteger, 0}, {"B", aftInteger, 0}, {"C", aftInteger, 0}});
    TNRDIndexDefs indexes;
    auto add = [&](const char* name, std::vector<std::pair<const char*, bool>> columns) {
      TNRDIndexDef* d = indexes.AddCreated();
      d->FName = name;
      d->SetColumnCount(static_cast<std::int32_t>(columns.size()));
      for (std::size_t i = 0; i < columns.size(); ++i) {
        d->GetIndexColumn(static_cast<std::int32_t>(i)).FFieldName = columns[i].first;
        d->GetIndexColumn(static_cast<std::int32_t>(i)).FDescending = columns[i].second;
        d->GetIndexColumn(static_cast<std::int32_t>(i)).FMaxIndexedSize = 20;  // as named definitions get
      }
    };
    add("IAB", {{"A", rng() % 2 == 0}, {"B", rng() % 2 == 0}});
    add("IC", {{"C", rng() % 2 == 0}});
    add("IB", {{"B", rng() % 2 == 0}});
    TNRDConstraintDefs constraints;
    table->CreateTable(&cursor, fields, indexes, constraints);
    table->OpenTable(&cursor);
    cursor.FFieldDefs.Assign(table->FieldManager().FFieldDefs);
    cursor.FIndexDefs.Assign(table->IndexManager().FIndexDefs);
    size = table->GetRecordBufferSize();
    cursor.FRecordBufferSize = size;
    cursor.FKeyBufferSize = size;
    cursor.FCurrentRecordBuffer = GlobalMemoryManager().AllocMem(size);

    std::vector<TNRDPageItemID> ids;
    const int n = static_cast<int>(rng() % 45);
    for (int i = 0; i < n; ++i) {
      const std::vector<std::uint8_t> r = Record({static_cast<std::int32_t>(rng() % 5),
                                                  static_cast<std::int32_t>(rng() % 5),
                                                  rng() % 8 == 0 ? kNull : static_cast<std::int32_t>(rng() % 7)});
      std::memcpy(cursor.FCurrentRecordBuffer, r.data(), r.size());
      TNRDCursor* c = &cursor;
      if (!table->InsertRecord(c)) ADD_FAILURE() << "insert";
      ids.push_back(cursor.CurrentRecordID);
    }
    for (const TNRDPageItemID& id : ids)
      if (rng() % 4 == 0) {
        cursor.CurrentRecordID = id;
        cursor.FirstPosition = cursor.LastPosition = false;
        if (!table->DeleteRecord(&cursor)) ADD_FAILURE() << "delete";
      }
    cursor.FirstPosition = true;
    cursor.LastPosition = false;
    if (withBitmap) UseBitmap();
  }
  ~MemoryWorld() {
    cursor.FRecordBitmap = nullptr;
    bitmap.reset();
    table->CloseTable(&cursor);
    db.DisconnectSession(&session);
    SetDefaultRecordIndexCreator(savedCreator);
  }
  const TNRDFieldDefs& Fields() const { return table->FieldManager().FFieldDefs; }
  std::int32_t IndexID(const std::string& name) const { return cursor.FIndexDefs.GetIndexDefByName(name)->FObjectID; }
  std::vector<std::uint8_t> Record(const std::vector<std::int32_t>& values) const {
    std::vector<std::uint8_t> r(static_cast<std::size_t>(size), 0);
    for (std::size_t i = 0; i < values.size(); ++i) {
      SetFieldDataToBuffer(static_cast<std::int32_t>(i), Fields(), &values[i], r.data());
      if (values[i] == kNull) SetFieldNull(r.data(), static_cast<std::int32_t>(i), true);
    }
    return r;
  }
  void UseBitmap() {
    bitmap = std::make_unique<TNRDRecordBitmap>(table);
    cursor.FRecordBitmap = bitmap.get();
  }

  TNRDRecordIndexCreator savedCreator;
  TNRDMemoryDatabaseData db;
  Session session;
  TTestCursor cursor;
  TNRDTableData* table = nullptr;
  std::unique_ptr<TNRDRecordBitmap> bitmap;
  std::int32_t size = 0;
};

}  // namespace

TEST(ScanOracle, MemoryEngineViewsMatchBruteForce) {
  std::mt19937 rng(4321);
  OracleStats stats;
  for (int world = 0; world < 30; ++world) {
    MemoryWorld w(rng, world % 3 != 0);
    for (int trial = 0; trial < 10; ++trial) {
      RunOracleTrial(w, rng, stats, "world " + std::to_string(world) + " trial " + std::to_string(trial));
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(stats.nonEmptyViews, 100);
  EXPECT_GT(stats.steps, 2000);
}

// A filtered view's bitmap follows the table: after another cursor inserts a record that passes
// the filter, the next count rebuilds the bitmap and shows it.
TEST(ScanMemory, AnotherCursorsInsertReachesTheFilteredCount) {
  std::mt19937 rng(99);
  MemoryWorld w(rng, true);
  AndExpression filter(w.Fields(), {{2, Op::EQ, 3}}, w.size);
  w.cursor.FFilterExpression = &filter;
  w.cursor.SetIndexName("IAB");
  const std::int64_t before = GetRecordCount(*w.table, w.cursor);

  TTestCursor other;
  other.FTableName = "T";
  other.FSession = &w.session;
  ASSERT_EQ(w.db.FindOrCreateTableData(&other), w.table);
  w.table->OpenTable(&other);
  other.FRecordBufferSize = w.size;
  other.FCurrentRecordBuffer = GlobalMemoryManager().AllocMem(w.size);
  for (std::int32_t c : {3, 4}) {
    const std::vector<std::uint8_t> r = w.Record({1, 1, c});
    std::memcpy(other.FCurrentRecordBuffer, r.data(), r.size());
    TNRDCursor* p = &other;
    ASSERT_TRUE(w.table->InsertRecord(p));
  }
  EXPECT_EQ(GetRecordCount(*w.table, w.cursor), before + 1);
  w.table->CloseTable(&other);
  w.cursor.FFilterExpression = nullptr;
}

// A comparison's range that runs to the NULL keys does not bring them in: C < 5 and C <= 4 through
// the index on C, ascending or descending, never give a record whose C is NULL.
TEST(ScanMemory, RangesTowardNullKeysLeaveThemOut) {
  for (int seed = 0; seed < 6; ++seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    MemoryWorld w(rng, seed % 2 == 0);
    for (const Comparison& part : {Comparison{2, Op::LT, 5}, Comparison{2, Op::GT, 1}, Comparison{2, Op::LE, 4}}) {
      AndExpression search(w.Fields(), {part}, w.size);
      w.cursor.FFilterExpression = &search;
      w.cursor.FirstPosition = true;
      w.cursor.LastPosition = false;
      while (GetRecordBuffer(*w.table, w.cursor, grmNext) == grrOK)
        EXPECT_FALSE(IsFieldNull(w.cursor.FCurrentRecordBuffer, 2));
      w.cursor.FFilterExpression = nullptr;
    }
  }
}

// A view with no condition fills its bitmap at once only where every position holds a record:
// after deletes the memory table has empty slots, and the view still shows exactly its records.
TEST(ScanMemory, WholeTableBitmapSkipsEmptySlots) {
  for (unsigned seed : {5u, 6u, 7u}) {
    std::mt19937 rng(seed);
    MemoryWorld w(rng, true);
    std::vector<std::int32_t> live;
    w.cursor.FirstPosition = true;
    while (GetRecordBuffer(*w.table, w.cursor, grmNext) == grrOK) live.push_back(w.cursor.CurrentRecordID.PageNo);
    w.cursor.FDistinctFieldCount = 1;  // DISTINCT without an index: a restricted view without conditions
    EXPECT_EQ(GetRecordCount(*w.table, w.cursor), static_cast<std::int64_t>(live.size()));
    std::vector<std::int32_t> seen;
    w.cursor.FirstPosition = true;
    w.cursor.LastPosition = false;
    while (GetRecordBuffer(*w.table, w.cursor, grmNext) == grrOK) seen.push_back(w.cursor.CurrentRecordID.PageNo);
    EXPECT_EQ(seen, live);
    w.cursor.FDistinctFieldCount = 0;
  }
}
