// Load benchmark of the ".at5" reader on synthetic trees (tools/At5Synth.h) of 10k, 100k and 1M persons,
// for every index layout a file may have ("layout": 0 none, 1 the value tables' keys, 2 all, 3 others
// that mislead a planner), side by side with the GEDCOM reader on the same tree (BM_GedcomTwinRead), so
// the ratio of the two reads is printed in one run. Besides the total it reports the share of the
// stages, taken from the reader's progress calls (each pass starts with position 0 of a known maximum):
// "open_s" = opening and reading the tables; "persons_s" = person pass; "families_s" = role rows and
// family pass. The 1M runs are long: select them with --benchmark_filter.
#include "app/core/GedcomReader.h"
#include "sources/At5Reader.h"
#include "tools/At5Synth.h"

#include <QDir>
#include <QFile>
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

const std::string& File(std::int64_t n, int layout) {
  static std::map<std::pair<std::int64_t, int>, std::string> cache;
  std::string& path = cache[{n, layout}];
  if (path.empty()) {
    path = Dir().filePath(QStringLiteral("tree-%1-%2.at5").arg(n).arg(layout)).toStdString();
    at5synth::WriteAt5(at5synth::MakeTree(n, 1), path, static_cast<at5synth::Indexes>(layout));
  }
  return path;
}

const QString& GedcomFile(std::int64_t n) {
  static std::map<std::int64_t, QString> cache;
  QString& path = cache[n];
  if (path.isEmpty()) {
    path = Dir().filePath(QStringLiteral("tree-%1.ged").arg(n));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(at5synth::Gedcom(at5synth::MakeTree(n, 1)));
  }
  return path;
}

// The same tree read from GEDCOM, for the ratio.
void BM_GedcomTwinRead(benchmark::State& state) {
  const QString& path = GedcomFile(state.range(0));
  std::int64_t persons = 0;
  for (auto _ : state) {
    Model m;
    Ged_Indi(m, path);
    benchmark::DoNotOptimize(m.aIndi.data());
    persons = m.PersonCount();
  }
  state.counters["persons"] = double(persons);
  state.counters["persons/s"] =
      benchmark::Counter(double(persons) * double(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_GedcomTwinRead)->ArgName("n")->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_At5Read(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  const QString path = QString::fromStdString(File(n, int(state.range(1))));
  TDataModule3 dm;
  using Clock = std::chrono::steady_clock;
  double stage[4] = {0, 0, 0, 0};
  std::int64_t persons = 0, families = 0;
  for (auto _ : state) {
    Model m;
    std::vector<Clock::time_point> starts;
    const auto begin = Clock::now();
    TAt5Reader(m, dm).At5_Indi(path, QString(), [&](std::int64_t pos, std::int64_t max) {
      if (pos == 0 && max > 0) starts.push_back(Clock::now());
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
    ->ArgNames({"n", "layout"})
    ->ArgsProduct({{10000, 100000, 1000000}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
