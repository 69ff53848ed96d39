// Load benchmark of the ".at5" reader on synthetic trees (tools/At5Synth.h) of 10k and 100k persons, with
// the value tables indexed on their keys (as the other program writes them) and without any index (the
// reader's table layer then keys them in memory once per read). Besides the total it reports the share
// of the stages, taken from the reader's progress calls (each pass starts with position 0): "open_s" =
// opening, counting the person rows and keying the tables; "persons_s" = person pass; "families_s" =
// role query and family pass.
#include "sources/At5Reader.h"
#include "tools/At5Synth.h"

#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <map>
#include <memory>
#include <vector>

namespace {

QTemporaryDir& Dir() {
  static QTemporaryDir dir;
  return dir;
}

const std::string& File(std::int64_t n, bool indexes) {
  static std::map<std::pair<std::int64_t, bool>, std::string> cache;
  std::string& path = cache[{n, indexes}];
  if (path.empty()) {
    path = Dir().filePath(QStringLiteral("tree-%1-%2.at5").arg(n).arg(indexes ? 1 : 0)).toStdString();
    at5synth::WriteAt5(at5synth::MakeTree(n, 1), path, indexes);
  }
  return path;
}

void BM_At5Read(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  const bool indexes = state.range(1) != 0;
  const QString path = QString::fromStdString(File(n, indexes));
  TDataModule3 dm;
  using Clock = std::chrono::steady_clock;
  double stage[4] = {0, 0, 0, 0};
  std::int64_t persons = 0, families = 0;
  for (auto _ : state) {
    Model m;
    std::vector<Clock::time_point> starts;
    const auto begin = Clock::now();
    TAt5Reader(m, dm).At5_Indi(path, QString(), [&](std::int64_t pos, std::int64_t) {
      if (pos == 0) starts.push_back(Clock::now());
    });
    const auto end = Clock::now();
    benchmark::DoNotOptimize(m.aIndi.data());
    persons = m.PersonCount();
    families = m.FamilyCount();
    if (starts.size() == 2) {
      stage[0] += std::chrono::duration<double>(starts[0] - begin).count();
      stage[1] += std::chrono::duration<double>(starts[1] - starts[0]).count();
      stage[2] += std::chrono::duration<double>(end - starts[1]).count();
    }
    stage[3] += std::chrono::duration<double>(end - begin).count();
  }
  const double iters = double(state.iterations());
  state.counters["open_s"] = stage[0] / iters;
  state.counters["persons_s"] = stage[1] / iters;
  state.counters["families_s"] = stage[2] / iters;
  state.counters["persons"] = double(persons);
  state.counters["families"] = double(families);
  state.counters["persons/s"] = benchmark::Counter(double(persons) * iters, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_At5Read)
    ->ArgNames({"n", "indexes"})
    ->Args({10000, 1})
    ->Args({10000, 0})
    ->Args({100000, 1})
    ->Args({100000, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
