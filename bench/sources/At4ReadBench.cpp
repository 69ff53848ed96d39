// Load benchmark of the ".at4" reader on synthetic trees (tools/At4Synth.h) of 10k and 100k persons,
// beside the ".at5" reader on a tree of the same size and shape (tools/At5Synth.h: the same families of
// two spouses and up to four children, the same share of events, dates and notes) and the GEDCOM reader
// on the ".at4" tree's GEDCOM twin. Besides the total it reports the stages, taken from the reader's
// progress calls (each pass starts with position 0 of a known maximum and ends at the maximum):
// "open_s" = opening the database and tables and running the person query; "persons_s" = person pass;
// "roles_s" = the role query; "families_s" = the family pass.
#include "app/core/GedcomReader.h"
#include "sources/At4Reader.h"
#include "sources/At5Reader.h"
#include "tools/At4Synth.h"
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

QTemporaryDir& TempDir() {
  static QTemporaryDir dir;
  return dir;
}

// The trees' folder: TREVOLAN_BENCH_DIR when set (trees written there are kept and used again by later
// runs, since writing a 100k tree takes longer than reading it many times), else a fresh temporary one.
QDir Dir() {
  const QString kept = qEnvironmentVariable("TREVOLAN_BENCH_DIR");
  return QDir(kept.isEmpty() ? TempDir().path() : kept);
}

// Files of an earlier run are used again only when it finished writing them (the marker is written last).
bool Kept(const QString& path) {
  return !qEnvironmentVariable("TREVOLAN_BENCH_DIR").isEmpty() && QFile::exists(path + QStringLiteral(".done"));
}
void MarkKept(const QString& path) {
  if (qEnvironmentVariable("TREVOLAN_BENCH_DIR").isEmpty()) return;
  QFile f(path + QStringLiteral(".done"));
  if (f.open(QIODevice::WriteOnly)) f.write("1");
}

TDataModule2& Module() {
  static TDataModule2 dm;
  return dm;
}

const QString& At4File(std::int64_t n) {
  static std::map<std::int64_t, QString> cache;
  QString& path = cache[n];
  if (path.isEmpty()) {
    path = Dir().filePath(QStringLiteral("tree-%1.at4").arg(n));
    Module();  // the engine, started
    if (!Kept(path)) {
      const at4synth::Tree tree = at4synth::MakeTree(n, 1);
      at4synth::WriteAt4(tree, path.toStdString(), "at4bench");
      QFile f(Dir().filePath(QStringLiteral("tree-%1.ged").arg(n)));
      if (f.open(QIODevice::WriteOnly)) f.write(at4synth::Gedcom(tree));
      f.close();
      MarkKept(path);
    }
  }
  return path;
}

void BM_At4Read(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  const QString& path = At4File(n);
  TDataModule2& dm = Module();
  using Clock = std::chrono::steady_clock;
  double stage[4] = {0, 0, 0, 0};
  std::int64_t persons = 0, families = 0;
  for (auto _ : state) {
    Model m;
    std::vector<Clock::time_point> starts, ends;
    const auto begin = Clock::now();
    TAt4Reader(m, dm).At4_Indi(path, [&](std::int64_t pos, std::int64_t max) {
      if (pos == 0 && max > 0) starts.push_back(Clock::now());
      if (pos == max && max > 0 && ends.size() < starts.size()) ends.push_back(Clock::now());
    });
    const auto end = Clock::now();
    benchmark::DoNotOptimize(m.aIndi.data());
    persons = m.PersonCount();
    families = m.FamilyCount();
    if (starts.size() == 2 && ends.size() == 2) {
      stage[0] += std::chrono::duration<double>(starts[0] - begin).count();
      stage[1] += std::chrono::duration<double>(ends[0] - starts[0]).count();
      stage[2] += std::chrono::duration<double>(starts[1] - ends[0]).count();
      stage[3] += std::chrono::duration<double>(end - starts[1]).count();
    }
    dm.CloseAll();
  }
  const double iters = double(state.iterations());
  state.counters["open_s"] = stage[0] / iters;
  state.counters["persons_s"] = stage[1] / iters;
  state.counters["roles_s"] = stage[2] / iters;
  state.counters["families_s"] = stage[3] / iters;
  state.counters["persons"] = double(persons);
  state.counters["families"] = double(families);
}

BENCHMARK(BM_At4Read)->ArgName("n")->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

// The ".at5" read of a tree of the same size and shape (all indexes), for the ratio.
void BM_At5SameShapeRead(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  static std::map<std::int64_t, QString> cache;
  QString& path = cache[n];
  if (path.isEmpty()) {
    path = Dir().filePath(QStringLiteral("tree-%1.at5").arg(n));
    if (!Kept(path)) {
      at5synth::WriteAt5(at5synth::MakeTree(n, 1), path.toStdString(), at5synth::Indexes::All);
      MarkKept(path);
    }
  }
  TDataModule3 dm;
  std::int64_t persons = 0;
  for (auto _ : state) {
    Model m;
    TAt5Reader(m, dm).At5_Indi(path);
    benchmark::DoNotOptimize(m.aIndi.data());
    persons = m.PersonCount();
  }
  state.counters["persons"] = double(persons);
}

BENCHMARK(BM_At5SameShapeRead)->ArgName("n")->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

// The ".at4" tree's GEDCOM twin.
void BM_At4GedcomTwinRead(benchmark::State& state) {
  At4File(state.range(0));
  const QString path = Dir().filePath(QStringLiteral("tree-%1.ged").arg(state.range(0)));
  std::int64_t persons = 0;
  for (auto _ : state) {
    Model m;
    Ged_Indi(m, path);
    benchmark::DoNotOptimize(m.aIndi.data());
    persons = m.PersonCount();
  }
  state.counters["persons"] = double(persons);
}

BENCHMARK(BM_At4GedcomTwinRead)->ArgName("n")->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

namespace {
// A scan of the Values table in storage order (no index) and in the order of "search", reading the
// columns the reader uses: what a pass that loads the values at once costs.
void BM_At4ScanValues(benchmark::State& state) {
  const QString& path = At4File(state.range(0));
  TDataModule2& dm = Module();
  std::int64_t rows = 0;
  for (auto _ : state) {
    dm.CloseAll();
    dm.dbAT4.SetDatabaseFileName(path.toStdString());
    dm.dbAT4.Open();
    nrd::TNRDTable t;
    t.SetDatabaseName(dm.DatabaseName());
    t.SetTableName("Values");
    t.SetReadOnly(true);
    if (state.range(1)) t.SetIndexName("search");
    t.Open();
    nrd::TField& fid = t.FieldByName("f_id");
    nrd::TField& rid = t.FieldByName("r_id");
    nrd::TField& vstr = t.FieldByName("vstr");
    nrd::TField& vlink = t.FieldByName("vlink");
    rows = 0;
    std::size_t sum = 0;
    for (t.First(); !t.Eof(); t.Next()) {
      sum += fid.AsString().size() + rid.AsString().size() + vstr.AsWideString().size() + vlink.AsString().size();
      ++rows;
    }
    benchmark::DoNotOptimize(sum);
    t.Close();
    dm.CloseAll();
  }
  state.counters["rows"] = double(rows);
}
BENCHMARK(BM_At4ScanValues)->ArgNames({"n", "search"})->ArgsProduct({{10000, 100000}, {0, 1}})->Unit(benchmark::kMillisecond)->Iterations(1);
}  // namespace
