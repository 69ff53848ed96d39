// B-tree workloads side by side with SQLite on the same keys (both in memory, one transaction):
//   BM_BTreeInsertInt / BM_SQLiteInsertInt      1M inserts of random integer keys
//   BM_BTreeInsertText / BM_SQLiteInsertText    1M inserts of random 12-letter text keys
//   BM_BTreeLookup / BM_SQLiteLookup            100k point lookups in the 1M integer tree
//   BM_BTreeRangeScan / BM_SQLiteRangeScan      a scan of 10k consecutive keys
// SQLite keeps (key, id) in one WITHOUT ROWID B-tree, the same shape as our (key, record ID) entries.
// Our text keys collate through ICU (the engine's collation); SQLite's column uses its built-in
// binary order, so the text figures also show the price of linguistic order.
// Run: build-test/bench/engine-storage/bench_engine_storage --benchmark_filter='BTree|SQLite'
// (a Release build gives the real figures); bench/engine-storage/btree_vs_sqlite.sh prints ratios.
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include "engine/foundation/NRDVariant.h"
#include "engine/foundation/NRDText.h"
#include "engine/storage/NRDBTreePage.h"

namespace {

using namespace nrd;

constexpr int kRows = 1000000;

class BenchPageManager : public TNRDPageManager {
 public:
  BenchPageManager() {
    SetPageSizes(4096, 40);
    SetCacheCapacity(1 << 20);
  }
  void InternalAddPage(TNRDPage* page) override {
    page->SetPageNo(next_++);
    page->AllocPageBuffer();
  }
  void InternalRemovePage(std::int32_t) override {}
  bool InternalReadPage(TNRDPage*) override { return false; }
  void InternalWritePage(TNRDPage*) override {}

 private:
  std::int32_t next_ = 0;
};

// An Int32 column (flag + 4 bytes) or a 20-byte text column (flag + 20 bytes), record IDs as
// references, compared through the engine's key comparison.
class BenchKeyRef : public TNRDBTreeKeyRef {
 public:
  explicit BenchKeyRef(TNRDBaseFieldType type) : type_(type) {
    FShortKeySize = FFullKeySize = type == bftSignedInt32 ? 5 : 21;
    FReferenceSize = 6;
  }
  int CompareShortKeys(std::uint8_t* key1, const std::uint8_t* key2, bool, std::int32_t, const std::uint8_t*,
                       const std::uint8_t*) override {
    return CompareFullKeys(key1, key2);
  }
  int CompareFullKeys(const std::uint8_t* key1, const std::uint8_t* key2) override {
    return CompareKeyValues(key1 + 1, key2 + 1, type_, type_, key1[0] != 0, key2[0] != 0, -1, false,
                            LOCALE_USER_DEFAULT, FShortKeySize - 1, FShortKeySize - 1);
  }

 private:
  TNRDBaseFieldType type_;
};

struct Tree {
  explicit Tree(TNRDBaseFieldType type) : keyRef(type) {
    TNRDBTreePage root(&pm, &keyRef);
    root.Add(1);
    root.InitAsRoot();
    root.SetIsDirty(true);
    rootNo = root.PageNo();
  }
  void Insert(const std::uint8_t* key, std::int32_t id) {
    std::vector<std::uint8_t> k(key, key + keyRef.ShortKeySize());
    std::uint8_t ref[6];
    TNRDPageItemID{id, 0}.Encode(ref);
    TNRDKeyPath path;
    TNRDBTreePage root(&pm, &keyRef);
    root.Get(1, rootNo);
    root.Controller().InsertLeafEntry(1, k.data(), ref, path);
  }
  bool Find(std::uint8_t* key, TNRDSearchCondition op, TNRDKeyPath& path) {
    path.Clear();
    TNRDBTreePage root(&pm, &keyRef);
    root.Get(1, rootNo);
    return root.FindByCondition(1, true, key, op, path);
  }
  BenchPageManager pm;
  BenchKeyRef keyRef;
  std::int32_t rootNo;
};

std::vector<std::int32_t> IntKeys() {
  std::vector<std::int32_t> keys(kRows);
  std::mt19937 rng(42);
  for (auto& k : keys) k = static_cast<std::int32_t>(rng());
  return keys;
}

std::vector<std::string> TextKeys() {
  std::vector<std::string> keys(kRows);
  std::mt19937 rng(43);
  for (auto& k : keys) {
    k.resize(12);
    for (char& c : k) c = static_cast<char>('a' + rng() % 26);
  }
  return keys;
}

void IntKey(std::int32_t v, std::uint8_t* k) {
  k[0] = 0;
  std::memcpy(k + 1, &v, 4);
}

void TextKey(const std::string& s, std::uint8_t* k) {
  std::memset(k, 0, 21);
  std::memcpy(k + 1, s.data(), std::min<std::size_t>(s.size(), 19));
}

std::unique_ptr<Tree> BuildIntTree(const std::vector<std::int32_t>& keys) {
  auto tree = std::make_unique<Tree>(bftSignedInt32);
  std::uint8_t k[5];
  for (int i = 0; i < kRows; ++i) {
    IntKey(keys[static_cast<std::size_t>(i)], k);
    tree->Insert(k, i);
  }
  return tree;
}

void BM_BTreeInsertInt(benchmark::State& state) {
  const auto keys = IntKeys();
  for (auto _ : state) benchmark::DoNotOptimize(BuildIntTree(keys));
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_BTreeInsertInt)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_BTreeInsertText(benchmark::State& state) {
  const auto keys = TextKeys();
  for (auto _ : state) {
    Tree tree(bftVarchar);
    std::uint8_t k[21];
    for (int i = 0; i < kRows; ++i) {
      TextKey(keys[static_cast<std::size_t>(i)], k);
      tree.Insert(k, i);
    }
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_BTreeInsertText)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_BTreeLookup(benchmark::State& state) {
  const auto keys = IntKeys();
  auto tree = BuildIntTree(keys);
  std::mt19937 rng(5);
  for (auto _ : state) {
    int found = 0;
    std::uint8_t k[5];
    TNRDKeyPath path;
    for (int i = 0; i < 100000; ++i) {
      IntKey(keys[rng() % kRows], k);
      found += tree->Find(k, scEqual, path);
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_BTreeLookup)->Unit(benchmark::kMillisecond);

void BM_BTreeRangeScan(benchmark::State& state) {
  const auto keys = IntKeys();
  auto tree = BuildIntTree(keys);
  for (auto _ : state) {
    std::uint8_t k[5];
    IntKey(0, k);
    TNRDKeyPath path;
    std::int64_t sum = 0;
    if (tree->Find(k, scGreaterEqual, path)) {
      for (int i = 0; i < 10000; ++i) {
        TNRDBTreePage leaf(&tree->pm, &tree->keyRef);
        leaf.Get(1, path.Leaf().PageNo);
        sum += TNRDPageItemID::Decode(leaf.GetPReference(path.Leaf().EntryNo)).PageNo;
        leaf.Put();
        if (!BTreeMoveToNextPosition(&tree->pm, &tree->keyRef, 1, path, 20069, 20070)) break;
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_BTreeRangeScan)->Unit(benchmark::kMillisecond);

// ----- SQLite on the same keys ------------------------------------------------------------------------

struct Db {
  explicit Db(const char* type) {
    sqlite3_open(":memory:", &db);
    // One B-tree of (key, record number), as ours holds (key, record ID): no separate table tree.
    sqlite3_exec(db,
                 (std::string("CREATE TABLE t(k ") + type + ", id INTEGER, PRIMARY KEY(k, id)) WITHOUT ROWID;").c_str(),
                 nullptr, nullptr, nullptr);
  }
  ~Db() { sqlite3_close(db); }
  sqlite3* db = nullptr;
};

template <typename Bind>
void SQLiteInsert(Db& d, int rows, Bind bind) {
  sqlite3_exec(d.db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(d.db, "INSERT INTO t(k, id) VALUES(?, ?)", -1, &st, nullptr);
  for (int i = 0; i < rows; ++i) {
    bind(st, i);
    sqlite3_bind_int(st, 2, i);
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_exec(d.db, "COMMIT", nullptr, nullptr, nullptr);
}

std::unique_ptr<Db> BuildIntDb(const std::vector<std::int32_t>& keys) {
  auto d = std::make_unique<Db>("INTEGER");
  SQLiteInsert(*d, kRows, [&](sqlite3_stmt* st, int i) { sqlite3_bind_int(st, 1, keys[static_cast<std::size_t>(i)]); });
  return d;
}

void BM_SQLiteInsertInt(benchmark::State& state) {
  const auto keys = IntKeys();
  for (auto _ : state) benchmark::DoNotOptimize(BuildIntDb(keys));
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_SQLiteInsertInt)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_SQLiteInsertText(benchmark::State& state) {
  const auto keys = TextKeys();
  for (auto _ : state) {
    Db d("TEXT");
    SQLiteInsert(d, kRows, [&](sqlite3_stmt* st, int i) {
      sqlite3_bind_text(st, 1, keys[static_cast<std::size_t>(i)].c_str(), -1, SQLITE_STATIC);
    });
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_SQLiteInsertText)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_SQLiteLookup(benchmark::State& state) {
  const auto keys = IntKeys();
  auto d = BuildIntDb(keys);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(d->db, "SELECT id FROM t WHERE k = ? LIMIT 1", -1, &st, nullptr);
  std::mt19937 rng(5);
  for (auto _ : state) {
    int found = 0;
    for (int i = 0; i < 100000; ++i) {
      sqlite3_bind_int(st, 1, keys[rng() % kRows]);
      found += sqlite3_step(st) == SQLITE_ROW;
      sqlite3_reset(st);
    }
    benchmark::DoNotOptimize(found);
  }
  sqlite3_finalize(st);
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_SQLiteLookup)->Unit(benchmark::kMillisecond);

void BM_SQLiteRangeScan(benchmark::State& state) {
  const auto keys = IntKeys();
  auto d = BuildIntDb(keys);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(d->db, "SELECT id FROM t WHERE k >= 0 ORDER BY k LIMIT 10000", -1, &st, nullptr);
  for (auto _ : state) {
    std::int64_t sum = 0;
    while (sqlite3_step(st) == SQLITE_ROW) sum += sqlite3_column_int64(st, 0);
    sqlite3_reset(st);
    benchmark::DoNotOptimize(sum);
  }
  sqlite3_finalize(st);
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_SQLiteRangeScan)->Unit(benchmark::kMillisecond);

}  // namespace
