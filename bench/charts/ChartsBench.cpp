// Descendant scheme of a large tree built and shown; tree pictures painted and saved.
// Each benchmark reports the peak resident memory of the process (MB) as a counter.
#include "app/charts/ChartOutput.h"
#include "app/charts/Descendants.h"
#include "app/charts/TreePicture.h"
#include "app/core/Model.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/PictureFile.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTreeWidget>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>

#include "app/window/SchemeTree.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "bench_charts";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QApplication app(argc, argv);
  return app;
}

double PeakMb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_maxrss) / 1024.0;
}

// A tree of about `n` blood descendants of person 1: everyone has a spouse and three children.
Model Descendants(int n) {
  Model m;
  auto person = [&](const QString& sex) {
    TINDI p;
    p.FIO1 = QStringLiteral("Иванов Иван Иванович %1").arg(m.aIndi.size());
    p.SEX = sex;
    p.BIRT_DATE.NORM = QStringLiteral("01.02.1900");
    m.aIndi.push_back(p);
    return std::int64_t(m.aIndi.size()) - 1;
  };
  std::vector<std::int64_t> line{person(QStringLiteral("M"))};
  for (size_t i = 0; i < line.size() && int(line.size()) < n; ++i) {
    const std::int64_t p = line[i];
    const bool man = m.aIndi[size_t(p)].SEX == QLatin1String("M");
    const auto spouse = person(man ? QStringLiteral("F") : QStringLiteral("M"));
    TFAM f;
    f.HUSB = man ? p : spouse;
    f.WIFE = man ? spouse : p;
    f.MARR = QStringLiteral("x");
    const std::int64_t fi = std::int64_t(m.aFam.size());
    for (int c = 0; c < 3; ++c) {
      const auto child = person(c % 2 ? QStringLiteral("F") : QStringLiteral("M"));
      m.aIndi[size_t(child)].FAMC = fi;
      f.CHIL.push_back(child);
      line.push_back(child);
    }
    m.aFam.push_back(f);
    m.aIndi[size_t(p)].FAMS.push_back(fi);
    m.aIndi[size_t(spouse)].FAMS.push_back(fi);
  }
  return m;
}

void BM_DescendantSchemeBuild(benchmark::State& state) {
  const Model m = Descendants(int(state.range(0)));
  TDescendantOptions o;
  o.Numbering = TNumbering::DAboville;
  for (auto _ : state) {
    std::vector<TPers2> list;
    TTreeNodes tree;
    SxPotGedcom(m, list, tree, QStringLiteral("1"), o);
    benchmark::DoNotOptimize(tree.Count());
  }
  state.counters["peak_MB"] = PeakMb();
}
BENCHMARK(BM_DescendantSchemeBuild)->Arg(20000)->Unit(benchmark::kMillisecond);

void BM_DescendantScheme(benchmark::State& state) {
  App();
  const Model m = Descendants(int(state.range(0)));
  TDescendantOptions o;
  o.Numbering = TNumbering::DAboville;
  std::size_t nodes = 0;
  for (auto _ : state) {
    std::vector<TPers2> list;
    TTreeNodes tree;
    SxPotGedcom(m, list, tree, QStringLiteral("1"), o);
    QTreeWidget view;
    ShowTreeNodes(&view, tree);
    nodes = size_t(tree.Count());
  }
  state.counters["nodes"] = double(nodes);
  state.counters["peak_MB"] = PeakMb();
}
BENCHMARK(BM_DescendantScheme)->Arg(20000)->Unit(benchmark::kMillisecond);

std::vector<TTreeRow> PictureRows(int n) {
  std::vector<TTreeRow> rows;
  for (int i = 0; i < n; ++i)
    rows.push_back({i == 0 ? 0 : 1 + i % 7, QStringLiteral("%1. Иванов Иван Иванович (01.02.1900-03.04.1970)").arg(i),
                    i % 3 == 2 ? -1 : 1 + i % 2});
  return rows;
}

void TreePicture(benchmark::State& state, const char* ending, TSplit split) {
  App();
  const auto rows = PictureRows(int(state.range(0)));
  const QString dir = QDir::tempPath() + QStringLiteral("/trevolan-bench-charts");
  QDir().mkpath(dir);
  platform::TFakeDialogs d;
  for (auto _ : state) {
    if (!TreeToPict(rows, dir + QStringLiteral("/tree") + QString::fromLatin1(ending), split, d))
      state.SkipWithError("picture not written");
  }
  QDir(dir).removeRecursively();
  state.counters["peak_MB"] = PeakMb();
}

void BM_TreePicturePng(benchmark::State& state) { TreePicture(state, ".png", TSplit::None); }
void BM_TreePictureBmp(benchmark::State& state) { TreePicture(state, ".bmp", TSplit::None); }
void BM_TreePicturePagesJpg(benchmark::State& state) { TreePicture(state, ".jpg", TSplit::Portrait); }
BENCHMARK(BM_TreePicturePng)->Arg(5000)->Arg(20000)->Unit(benchmark::kMillisecond)->Iterations(1);
// The same 20,000-node picture written by the PNG writer on one thread and on every core (0), with the
// file's size: the pipeline's gain measured like with like.
void BM_TreePicturePngThreads(benchmark::State& state) {
  App();
  const TTreePicture picture(PictureRows(20000));
  const QString dir = QDir::tempPath() + QStringLiteral("/trevolan-bench-charts");
  QDir().mkpath(dir);
  const QString path = dir + QStringLiteral("/threads.png");
  for (auto _ : state) {
    if (!platform::WritePng(path, picture, int(state.range(0))).isEmpty()) state.SkipWithError("picture not written");
  }
  state.counters["file_MB"] = double(QFileInfo(path).size()) / (1024.0 * 1024.0);
  QDir(dir).removeRecursively();
  state.counters["peak_MB"] = PeakMb();
}
BENCHMARK(BM_TreePicturePngThreads)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_TreePictureBmp)->Arg(5000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_TreePicturePagesJpg)->Arg(5000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
