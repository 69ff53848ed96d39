// The kinship search on a 30-generation tree with heavy pedigree collapse: every generation has the
// same 400 persons' worth of couples, paired at random, so a person of the last generation has about
// 2^29 ancestor paths through a few thousand distinct ancestors. Blood links alone, and with the search
// over all links at chain lengths 30 and 100. Each run also draws the first link, as the page does.
#include "app/charts/Kinship.h"
#include "app/core/Model.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <random>

namespace {

void EnsureApplication() {
  if (QCoreApplication::instance()) return;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "bench_charts";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);  // kept to the end of the process: fonts outlive the benchmarks
}

constexpr int kGenerations = 30;
constexpr int kWidth = 400;  // persons per generation, half men, half women

struct TCollapsedTree {
  Model m;
  std::vector<std::vector<std::int64_t>> generations;
};

const TCollapsedTree& Collapsed() {
  static std::unique_ptr<TCollapsedTree> tree;
  if (tree) return *tree;
  EnsureApplication();
  tree = std::make_unique<TCollapsedTree>();
  Model& m = tree->m;
  std::mt19937 rnd(2024);
  auto person = [&](int g, int i, bool man) {
    TINDI p;
    p.SURN1 = QStringLiteral("Фамилия%1").arg(i % 37);
    p.FIRS1 = man ? QStringLiteral("Иван") : QStringLiteral("Анна");
    p.FIO1 = p.SURN1 + QLatin1Char(' ') + p.FIRS1 + QStringLiteral(" %1.%2").arg(g).arg(i);
    p.SEX = man ? QStringLiteral("M") : QStringLiteral("F");
    p.BIRT_DATE.NORM = QStringLiteral("01.01.%1").arg(1100 + 25 * g);
    p.BIRT_DATE.YEARS = QString::number(1100 + 25 * g);
    m.aIndi.push_back(p);
    return std::int64_t(m.aIndi.size()) - 1;
  };
  std::vector<std::int64_t> gen;
  for (int i = 0; i < kWidth; ++i) gen.push_back(person(0, i, i % 2 == 0));
  tree->generations.push_back(gen);
  for (int g = 1; g < kGenerations; ++g) {
    std::vector<std::int64_t> men, women, next;
    for (std::int64_t p : gen) (m.aIndi[size_t(p)].SEX == QLatin1String("M") ? men : women).push_back(p);
    std::shuffle(women.begin(), women.end(), rnd);
    for (size_t c = 0; c < men.size(); ++c) {
      TFAM f;
      f.HUSB = men[c];
      f.WIFE = women[c];
      f.MARR = QStringLiteral("x");
      const std::int64_t fi = std::int64_t(m.aFam.size());
      for (int k = 0; k < 2; ++k) {
        const std::int64_t child = person(g, int(next.size()), k == 0);
        m.aIndi[size_t(child)].FAMC = fi;
        f.CHIL.push_back(child);
        next.push_back(child);
      }
      m.aIndi[size_t(f.HUSB)].FAMS.push_back(fi);
      m.aIndi[size_t(f.WIFE)].FAMS.push_back(fi);
      m.aFam.push_back(f);
    }
    // Children are paired with a random partner of their own generation in the next round.
    gen = next;
    tree->generations.push_back(gen);
  }
  return *tree;
}

void Search(benchmark::State& state, bool onlyBlood, int maxLen) {
  const TCollapsedTree& t = Collapsed();
  const std::int64_t a = t.generations.back().front();
  const std::int64_t b = t.generations.back()[kWidth / 2 + 1];
  TKinshipOptions o;
  o.RelationName = true;
  o.OnlyBlood = onlyBlood;
  o.MaxLen = maxLen;
  TKinship k;
  for (auto _ : state) {
    k.Random.seed(1);
    Link2PersGedcom(t.m, k, a, b, o);
    benchmark::DoNotOptimize(k.aLinkChains.size());
  }
  state.counters["persons"] = double(t.m.PersonCount());
  state.counters["links"] = double(k.aLinkChains.size());
  state.counters["entriesA"] = double(k.aLinkPersA.size());
  state.counters["entriesB"] = double(k.aLinkPersB.size());
  state.counters["chains"] = double(std::count_if(k.aLinkChains.begin(), k.aLinkChains.end(),
                                                  [](const QString& c) { return c.contains(QLatin1Char(';')); }));
}

void BM_KinshipBloodCollapsed30(benchmark::State& state) { Search(state, true, 30); }
BENCHMARK(BM_KinshipBloodCollapsed30)->Unit(benchmark::kMillisecond);

void BM_KinshipAllLinksCollapsed30(benchmark::State& state) { Search(state, false, int(state.range(0))); }
BENCHMARK(BM_KinshipAllLinksCollapsed30)->Arg(30)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace
