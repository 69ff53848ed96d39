// Fan chart workloads: drawing 8 and 13 generations of ancestors (a full pedigree) and of descendants
// (a binary descendant tree), the zoomed copy of the largest picture, and saving the whole picture and
// its four quarters. Each reports the process's peak resident memory so far ("peak_MB"); run one
// benchmark per process (--benchmark_filter) to read a peak of its own.
#include "app/charts/Ancestors.h"
#include "app/charts/Descendants.h"
#include "app/charts/FanChart.h"
#include "app/charts/FanChartOutput.h"
#include "platform/qt/Dialogs.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

namespace {

void EnsureApp() {
  static QApplication* app = nullptr;  // kept to the end of the process: fonts outlive the benchmarks
  if (app) return;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "bench_charts";
  static char* argv[] = {name, nullptr};
  app = new QApplication(argc, argv);
}

double PeakMb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return 0;
}

std::int64_t AddPerson(Model& m, const QString& surname, const QString& sex, int year) {
  TINDI p;
  p.SURN1 = surname;
  p.FIRS1 = sex == QLatin1String("F") ? QStringLiteral("Анна") : QStringLiteral("Пётр");
  p.PATR1 = QStringLiteral("Иванович");
  p.SEX = sex;
  p.FIO1 = p.SURN1 + QLatin1Char(' ') + p.FIRS1 + QLatin1Char(' ') + p.PATR1;
  p.BIRT_DATE.YEARS = QString::number(year);
  p.BIRT_DATE.NORM = QStringLiteral("01.01.") + p.BIRT_DATE.YEARS;
  m.aIndi.push_back(p);
  return std::int64_t(m.aIndi.size()) - 1;
}

std::int64_t AddFamily(Model& m, std::int64_t h, std::int64_t w, const std::vector<std::int64_t>& kids) {
  TFAM f;
  f.HUSB = h;
  f.WIFE = w;
  f.CHIL = kids;
  m.aFam.push_back(f);
  const std::int64_t id = std::int64_t(m.aFam.size()) - 1;
  if (h) m.aIndi[size_t(h)].FAMS.push_back(id);
  if (w) m.aIndi[size_t(w)].FAMS.push_back(id);
  for (auto k : kids) m.aIndi[size_t(k)].FAMC = id;
  return id;
}

void Pedigree(Model& m, std::int64_t child, int depth, int year) {
  if (depth <= 0) return;
  const auto f = AddPerson(m, QStringLiteral("Петров"), QStringLiteral("M"), year - 30);
  const auto w = AddPerson(m, QStringLiteral("Сидорова"), QStringLiteral("F"), year - 28);
  AddFamily(m, f, w, {child});
  Pedigree(m, f, depth - 1, year - 30);
  Pedigree(m, w, depth - 1, year - 30);
}

void Descendants(Model& m, std::int64_t parent, int depth, int year) {
  if (depth <= 0) return;
  const auto a = AddPerson(m, QStringLiteral("Петров"), QStringLiteral("M"), year + 25);
  const auto b = AddPerson(m, QStringLiteral("Петрова"), QStringLiteral("F"), year + 27);
  AddFamily(m, parent, 0, {a, b});
  Descendants(m, a, depth - 1, year + 25);
  Descendants(m, b, depth - 1, year + 27);
}

struct Drawn {
  Model m;
  TFanLayout layout;
  TAncestorList anc;
  TFanList desc;
  platform::TImageCanvas pic;
  TFanOptions o;
};

void BM_FanAncestors(benchmark::State& state) {
  EnsureApp();
  const int g = int(state.range(0));
  Drawn d;
  const auto root = AddPerson(d.m, QStringLiteral("Иванов"), QStringLiteral("M"), 2000);
  Pedigree(d.m, root, g - 1, 2000);
  d.o.Generations = g;
  d.layout.SetRunningSums(0);
  for (auto _ : state) {
    FillTree(d.m, d.anc, QString::number(root), std::uint64_t(state.iterations()) + 1);
    const TFanResult r = fanChart(0, d.o, d.layout, d.anc.aPers, d.desc, d.pic);
    benchmark::DoNotOptimize(r.Count);
  }
  state.counters["peak_MB"] = PeakMb();
  state.counters["side_px"] = d.pic.Width();
}
BENCHMARK(BM_FanAncestors)->Arg(8)->Arg(13)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_FanDescendants(benchmark::State& state) {
  EnsureApp();
  const int g = int(state.range(0));
  Drawn d;
  const auto root = AddPerson(d.m, QStringLiteral("Иванов"), QStringLiteral("M"), 1600);
  Descendants(d.m, root, g - 1, 1600);
  d.o.Generations = g;
  d.layout.SetRunningSums(1);
  TFanListOptions lo;
  lo.Generations = g;
  for (auto _ : state) {
    FillTree2(d.m, d.desc, QString::number(root), lo);
    const TFanResult r = fanChart(1, d.o, d.layout, d.anc.aPers, d.desc, d.pic);
    benchmark::DoNotOptimize(r.Count);
  }
  state.counters["peak_MB"] = PeakMb();
  state.counters["side_px"] = d.pic.Width();
}
BENCHMARK(BM_FanDescendants)->Arg(8)->Arg(13)->Unit(benchmark::kMillisecond)->Iterations(1);

// The largest picture: 13 generations of descendants (12800 px a side), drawn once.
Drawn& Largest() {
  static std::unique_ptr<Drawn> d;
  if (d) return *d;
  EnsureApp();
  d = std::make_unique<Drawn>();
  const auto root = AddPerson(d->m, QStringLiteral("Иванов"), QStringLiteral("M"), 1600);
  Descendants(d->m, root, 12, 1600);
  d->o.Generations = 13;
  d->layout.SetRunningSums(1);
  TFanListOptions lo;
  lo.Generations = 13;
  FillTree2(d->m, d->desc, QString::number(root), lo);
  fanChart(1, d->o, d->layout, d->anc.aPers, d->desc, d->pic);
  return *d;
}

void BM_FanZoom(benchmark::State& state) {
  Drawn& d = Largest();
  const QSize box(900, 700);
  for (auto _ : state) {
    const TFanZoom z = FanZoomFor(state.range(0) == 0 ? kFanZoomFitHeight : QStringLiteral("50%"), d.pic.Width(), box);
    const QImage shown = FanScaledCopy(d.pic.Image(), z.Side);
    benchmark::DoNotOptimize(shown.width());
  }
  state.counters["peak_MB"] = PeakMb();
}
BENCHMARK(BM_FanZoom)->Arg(0)->Arg(50)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_FanSave(benchmark::State& state) {
  Drawn& d = Largest();
  QTemporaryDir dir;
  platform::TFakeDialogs dialogs;
  const int parts = int(state.range(0));
  for (auto _ : state) {
    dialogs.saves.push_back({dir.filePath(QStringLiteral("fan.png")), 3});
    if (!SaveFanPicture(d.pic.Image(), parts, dialogs)) state.SkipWithError("save failed");
  }
  state.counters["peak_MB"] = PeakMb();
}
BENCHMARK(BM_FanSave)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
