// Page cache and commit costs of the storage layer.
//   BM_CacheGetPut/<capacity>/<working set>: one GetPage/PutPage pair over a page store kept in
//     memory, pages taken at random from the working set (above the capacity every miss evicts).
//   BM_DiskGetPut/<working set>: the same over a database file (misses read the file).
//   BM_Commit/<pages>/<sync>: a commit of that many changed pages through the rollback journal,
//     with (1) or without (0) waiting for the disk.
//   BM_AddPages/<pages>/<sync>: a commit of that many new pages (taken from the session's reserve).
// Run: build-test/bench/engine-storage/bench_engine_storage (a Release build gives the real figures).
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "engine/storage/NRDDiskPageManager.h"

namespace {

using namespace nrd;

class MemoryPageManager : public TNRDPageManager {
 public:
  explicit MemoryPageManager(std::int32_t pages) : store_(static_cast<std::size_t>(pages) * 4096) {
    SetPageSizes(4096, 40);
  }
  void InternalAddPage(TNRDPage*) override {}
  void InternalRemovePage(std::int32_t) override {}
  bool InternalReadPage(TNRDPage* page) override {
    if (page->PageBuffer() == nullptr) page->AllocPageBuffer();
    std::memcpy(page->PageBuffer(), store_.data() + static_cast<std::size_t>(page->PageNo()) * 4096, 4096);
    return true;
  }
  void InternalWritePage(TNRDPage*) override {}

 private:
  std::vector<std::uint8_t> store_;
};

void BM_CacheGetPut(benchmark::State& state) {
  const auto capacity = static_cast<std::int32_t>(state.range(0));
  const auto workingSet = static_cast<std::int32_t>(state.range(1));
  MemoryPageManager pm(workingSet);
  pm.SetCacheCapacity(capacity);
  std::mt19937 rng(1);
  std::uniform_int_distribution<std::int32_t> pick(0, workingSet - 1);
  for (auto _ : state) {
    TNRDPage* page = pm.GetPage(0, pick(rng), AnyPageType);
    benchmark::DoNotOptimize(page->PageData()[0]);
    pm.PutPage(page);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CacheGetPut)->Args({1000, 500})->Args({1000, 2000})->Args({1000, 8000})->Args({100, 1000});

struct BenchDb {
  std::string path;
  std::unique_ptr<TNRDDiskPageManager> pm;
  std::vector<std::int32_t> pages;

  BenchDb(std::int32_t count, bool sync) {
    path = (std::filesystem::temp_directory_path() / ("nrd-bench-" + std::to_string(::getpid()) + ".at4")).string();
    pm = std::make_unique<TNRDDiskPageManager>();
    pm->CreateAndOpenDatabase(path, {}, 4096, 8);
    pm->DatabaseFile().SetSynchronous(false);
    for (std::int32_t i = 0; i < count; ++i) {
      TNRDPage* page = pm->AddPage(0, 10);
      pages.push_back(page->PageNo());
      pm->PutPage(page);
    }
    pm->ApplyChanges(0);
    pm->DatabaseFile().SetSynchronous(sync);
  }
  ~BenchDb() {
    pm.reset();
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
};

void BM_DiskGetPut(benchmark::State& state) {
  BenchDb db(static_cast<std::int32_t>(state.range(0)), false);
  db.pm->SetCacheCapacity(1000);
  std::mt19937 rng(2);
  std::uniform_int_distribution<std::size_t> pick(0, db.pages.size() - 1);
  for (auto _ : state) {
    TNRDPage* page = db.pm->GetPage(0, db.pages[pick(rng)], AnyPageType);
    benchmark::DoNotOptimize(page->PageData()[0]);
    db.pm->PutPage(page);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DiskGetPut)->Arg(500)->Arg(4000);

void BM_Commit(benchmark::State& state) {
  const auto count = static_cast<std::int32_t>(state.range(0));
  BenchDb db(count, state.range(1) != 0);
  std::uint8_t value = 0;
  for (auto _ : state) {
    ++value;
    for (std::int32_t no : db.pages) {
      TNRDPage* page = db.pm->GetPage(0, no, AnyPageType);
      std::memset(page->PageData(), value, 64);
      page->SetIsDirty(true);
      db.pm->PutPage(page);
    }
    db.pm->ApplyChanges(0);
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_Commit)->Args({1, 0})->Args({10, 0})->Args({1000, 0})->Args({1, 1})->Args({10, 1})->Args({1000, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

namespace {

// BM_AddPages/<pages>/<sync>: a commit of that many new pages; the pages come from the session's
// reserve, filled in runs that double (each run one change set of the free-space pages).
void BM_AddPages(benchmark::State& state) {
  const auto count = static_cast<std::int32_t>(state.range(0));
  BenchDb db(1, state.range(1) != 0);
  for (auto _ : state) {
    std::vector<std::int32_t> added;
    for (std::int32_t i = 0; i < count; ++i) {
      TNRDPage* page = db.pm->AddPage(0, 10);
      added.push_back(page->PageNo());
      db.pm->PutPage(page);
    }
    db.pm->ApplyChanges(0);
    state.PauseTiming();
    for (std::int32_t no : added) db.pm->RemovePage(0, no);
    db.pm->ApplyChanges(0);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_AddPages)->Args({100, 0})->Args({100, 1})->Args({10000, 1})->Unit(benchmark::kMicrosecond);

}  // namespace
