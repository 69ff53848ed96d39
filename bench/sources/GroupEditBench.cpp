// The group edit tools on synthetic trees of 100k persons (tools/At5Synth.h, tools/At4Synth.h), GEDCOM,
// ".at5" and ".at4": each tool as a write run (GEDCOM: the lines edited and the file replaced with its
// backup; ".at5" and ".at4": one transaction), on a fresh copy of the file per iteration (the copy is not
// timed). The model is read
// once per file, outside the timing. Target: under 10 s per tool.
#include "app/core/Model.h"
#include "sources/FamilyTreeFile.h"
#include "sources/GroupEdit.h"
#include "sources/Unit2.h"
#include "tools/At4Synth.h"
#include "tools/At5Synth.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <map>
#include <memory>

namespace {

QTemporaryDir& Dir() {
  static QTemporaryDir dir;
  return dir;
}

// The engine, started for the ".at4" files.
TDataModule2& Engine() {
  static TDataModule2 dm;
  return dm;
}

// The original file of a type (0 GEDCOM, 1 ".at5", 2 ".at4") and n persons, made once.
const QString& Original(int type, std::int64_t n) {
  static std::map<std::pair<int, std::int64_t>, QString> cache;
  QString& path = cache[{type, n}];
  if (path.isEmpty()) {
    const char* const kExt[] = {"ged", "at5", "at4"};
    path = Dir().filePath(QStringLiteral("orig-%1.%2").arg(n).arg(QLatin1String(kExt[type])));
    if (type == 2) {
      Engine();
      at4synth::WriteAt4(at4synth::MakeTree(n, 1), path.toStdString());
    } else if (type == 0) {
      QFile f(path);
      if (f.open(QIODevice::WriteOnly)) f.write(at5synth::Gedcom(at5synth::MakeTree(n, 1)));
    } else {
      at5synth::WriteAt5(at5synth::MakeTree(n, 1), path.toStdString(), true);
    }
  }
  return path;
}

TToolOptions Options(int tool) {
  TToolOptions o;
  o.ComboBox4 = tool;
  o.RadioGroup14 = 6;  // every blood relative of the first person
  o.CheckBox55 = true;
  o.ComboBox5 = 2;
  o.Edit24 = QStringLiteral("5");
  o.Edit13 = QStringLiteral("Иван~Анна");
  o.Edit14 = QStringLiteral("Ioann");
  o.TransNames = o.TransPlaces = true;
  return o;
}

void BM_GroupEdit(benchmark::State& state) {
  const int type = int(state.range(0));
  const int tool = int(state.range(1));
  const std::int64_t n = state.range(2);
  const QString& orig = Original(type, n);
  const QString work = Dir().filePath(QStringLiteral("work.") + orig.right(3));
  Model model;
  LoadFamilyTree(model, orig);
  platform::TIniFile table(QStringLiteral(TREVOLAN_SOURCE_DIR "/LNG/English.lng"));
  const TToolOptions o = Options(tool);
  int changes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (const QString& f : QDir(Dir().path()).entryList({QStringLiteral("work.*")}, QDir::Files))
      QFile::remove(Dir().filePath(f));
    QFile::copy(orig, work);
    state.ResumeTiming();
    TToolContext ctx(model, work);
    ctx.write = true;
    ctx.current = 1;
    ctx.translit = &table;
    changes = RunGroupEdit(ctx, o).changes;
  }
  state.counters["changes"] = changes;
}

void Args(benchmark::internal::Benchmark* b) {
  for (int type : {0, 1, 2})
    for (int tool = 0; tool < 4; ++tool) b->Args({type, tool, 100000});
}

BENCHMARK(BM_GroupEdit)->Apply(Args)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
