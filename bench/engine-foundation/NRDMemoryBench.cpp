// Allocations per second of the engine's memory manager against plain malloc.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "engine/foundation/NRDMemory.h"

namespace {

void BM_EngineGetFree(benchmark::State& state) {
  const auto size = state.range(0);
  auto& mm = nrd::GlobalMemoryManager();
  for (auto _ : state) {
    void* p = mm.GetMem(size);
    benchmark::DoNotOptimize(p);
    mm.FreeMem(p);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_MallocFree(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    void* p = std::malloc(size);
    benchmark::DoNotOptimize(p);
    std::free(p);
  }
  state.SetItemsProcessed(state.iterations());
}

// 1000 live blocks at a time, as a page cache or record buffers hold them.
void BM_EngineBatch(benchmark::State& state) {
  auto& mm = nrd::GlobalMemoryManager();
  std::vector<void*> blocks(1000);
  for (auto _ : state) {
    for (auto& b : blocks) b = mm.GetMem(state.range(0));
    for (auto& b : blocks) mm.FreeMem(b);
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}

void BM_MallocBatch(benchmark::State& state) {
  std::vector<void*> blocks(1000);
  for (auto _ : state) {
    for (auto& b : blocks) {
      b = std::malloc(static_cast<std::size_t>(state.range(0)));
      benchmark::DoNotOptimize(b);
    }
    for (auto& b : blocks) std::free(b);
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}

}  // namespace

BENCHMARK(BM_EngineGetFree)->Arg(16)->Arg(4096);
BENCHMARK(BM_MallocFree)->Arg(16)->Arg(4096);
BENCHMARK(BM_EngineBatch)->Arg(64);
BENCHMARK(BM_MallocBatch)->Arg(64);
