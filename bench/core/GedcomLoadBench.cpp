// Load benchmark of the GEDCOM reader on synthetic trees of 1k to 300k persons (n/2 families), in
// UTF-8 and Windows-1251. Besides the total time it reports the share of each stage, taken from the
// reader's progress calls (each stage starts with position 0): "read" = decoding, header, survey and
// the record pass on its threads (which also builds the names); "link" = person and family post-passes;
// "names" = what is left of the name pass (element 0).
#include "app/core/GedcomReader.h"
#include "tools/SyntheticGedcom.h"

#include <QByteArray>

#include <benchmark/benchmark.h>

#include <chrono>
#include <map>
#include <vector>

namespace {

const QByteArray& Tree(std::int64_t n, bool utf8) {
  static std::map<std::pair<std::int64_t, bool>, QByteArray> cache;
  auto& b = cache[{n, utf8}];
  if (b.isEmpty()) b = QByteArray::fromStdString(synth::MakeTree(n, utf8));
  return b;
}

void Load(benchmark::State& state, bool utf8) {
  const std::int64_t n = state.range(0);
  const QByteArray& bytes = Tree(n, utf8);
  using Clock = std::chrono::steady_clock;
  double stage[4] = {0, 0, 0, 0};
  for (auto _ : state) {
    Model m;
    std::vector<Clock::time_point> starts;
    const auto begin = Clock::now();
    Ged_IndiFromBytes(m, bytes, [&](std::int64_t pos, std::int64_t) {
      if (pos == 0) starts.push_back(Clock::now());
    });
    const auto end = Clock::now();
    benchmark::DoNotOptimize(m.aIndi.data());
    // Stage starts: record pass, person pass, family pass, name pass.
    if (starts.size() == 4) {
      stage[0] += std::chrono::duration<double>(starts[1] - begin).count();
      stage[1] += std::chrono::duration<double>(starts[3] - starts[1]).count();
      stage[2] += std::chrono::duration<double>(end - starts[3]).count();
    }
    stage[3] += std::chrono::duration<double>(end - begin).count();
  }
  const double iters = double(state.iterations());
  state.counters["read_s"] = stage[0] / iters;
  state.counters["link_s"] = stage[1] / iters;
  state.counters["names_s"] = stage[2] / iters;
  state.counters["persons/s"] = benchmark::Counter(double(n) * iters, benchmark::Counter::kIsRate);
  state.SetBytesProcessed(std::int64_t(bytes.size()) * state.iterations());
}

void BM_LoadUtf8(benchmark::State& state) { Load(state, true); }
void BM_LoadCp1251(benchmark::State& state) { Load(state, false); }

BENCHMARK(BM_LoadUtf8)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(300000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadCp1251)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(300000)->Unit(benchmark::kMillisecond);

// The record pass on one thread against as many as the machine has (0), on the same bytes: the CPU time
// column shows the work, the wall time what the threads gain (on a busy machine, less than the cores).
void BM_LoadThreads(benchmark::State& state) {
  const QByteArray& bytes = Tree(state.range(0), true);
  for (auto _ : state) {
    Model m;
    Ged_IndiFromBytes(m, bytes, {}, QString::fromUtf16(kDefaultNameTemplate), int(state.range(1)));
    benchmark::DoNotOptimize(m.aIndi.data());
  }
  state.counters["persons/s"] =
      benchmark::Counter(double(state.range(0)) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoadThreads)
    ->ArgNames({"n", "threads"})
    ->ArgsProduct({{100000}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

}  // namespace

namespace {

// The floor under every load: creating n empty person records (the model's memory).
void BM_AllocatePersons(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<TINDI> v;
    v.reserve(std::size_t(state.range(0)) + 1);
    v.resize(std::size_t(state.range(0)) + 1);
    benchmark::DoNotOptimize(v.data());
  }
  state.counters["bytes_per_person"] = double(sizeof(TINDI));
}
BENCHMARK(BM_AllocatePersons)->Arg(100000)->Unit(benchmark::kMillisecond);


// Every person names one person by an association: the back links grow one list to n entries. Linear
// growth from 20k to 200k shows that linking does not scan that list per link.
void BM_LoadAssociationsToOne(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  QByteArray bytes("0 HEAD\n0 @I1@ INDI\n");
  for (std::int64_t i = 2; i <= n; ++i) bytes += "0 @I" + QByteArray::number(i) + "@ INDI\n1 ASSO @I1@\n";
  for (auto _ : state) {
    Model m;
    Ged_IndiFromBytes(m, bytes);
    benchmark::DoNotOptimize(m.aIndi.data());
  }
  state.counters["persons/s"] =
      benchmark::Counter(double(n) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoadAssociationsToOne)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);

}  // namespace
