// Problem detector on generated trees of 100k persons (50k families; persons 2f-1 and 2f marry in family f,
// persons 4f..4f+3 are its children), every check on, possible findings on. Two trees:
//   tree 0 "consistent": generations 30 years apart, children two years apart, spouses of an age, deaths
//          after births: the findings are those a well-kept tree still gets (namesakes, maiden names ...);
//   tree 1 "stress": the load benchmark's tree, whose birth years do not follow the generations, so that
//          most parents and children clash (about 5.8 findings per person).
//   BM_DetectorRun     the run alone: records, comparisons and messages, into a list of findings
//   BM_DetectorInsert  the findings of one run written into a rich-text document, as the pane shows them
//   BM_DetectorTotal   run plus insertion, straight into the document
// Loading the tree is not measured.
#include "app/core/GedcomReader.h"
#include "app/core/PersonList.h"
#include "app/reports/Detector.h"
#include "tools/SyntheticGedcom.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QTextDocument>

#include <benchmark/benchmark.h>

#include <bit>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

namespace {

const QDate kToday(2026, 12, 11);

void EnsureApp() {
  if (QCoreApplication::instance()) return;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "bench_reports";
  static char* argv[] = {name, nullptr};
  static QGuiApplication app(argc, argv);
}

// The consistent tree as GEDCOM text (UTF-8).
std::string ConsistentTree(std::int64_t n) {
  static const char* const kMale[] = {"Иван", "Пётр", "Николай", "Алексей", "Фёдор", "Михаил", "Степан", "Илья"};
  static const char* const kFemale[] = {"Анна", "Мария", "Евдокия", "Ольга", "Татьяна", "Вера", "Софья"};
  static const char* const kSur[] = {"Северцев", "Кузнецов", "Орлов", "Соколов", "Лебедев", "Ильин"};
  static const char* const kMon[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  std::uint64_t seed = 0x2545F4914F6CDD1Dull;
  auto rnd = [&seed](std::uint64_t m) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    return (seed >> 33) % m;
  };
  // Generation k holds the persons 2^k .. 2^(k+1)-1; the parents of person i are near i/2.
  auto year = [](std::int64_t i) {
    const int k = int(std::bit_width(std::uint64_t(i))) - 1;
    return 1500 + 30 * k + 2 * int(i % 4);
  };
  auto date = [&](int y) {
    return std::to_string(rnd(28) + 1) + " " + kMon[rnd(12)] + " " + std::to_string(y);
  };
  std::string s = "0 HEAD\r\n1 CHAR UTF-8\r\n";
  s.reserve(std::size_t(n) * 160);
  const std::int64_t families = n / 2;
  for (std::int64_t i = 1; i <= n; ++i) {
    const bool male = i % 2 == 1;
    const std::size_t k = std::size_t(rnd(1000));
    const int y = year(i);
    s += "0 @I" + std::to_string(i) + "@ INDI\r\n1 NAME ";
    s += male ? kMale[k % 8] : kFemale[k % 7];
    s += " /";
    s += kSur[(i / 4) % 6];
    s += male ? "/" : "а/";
    s += "\r\n1 SEX ";
    s += male ? "M" : "F";
    s += "\r\n1 BIRT\r\n2 DATE " + date(y) + "\r\n";
    if (y < 1940) s += "1 DEAT\r\n2 DATE " + date(y + 60 + int(rnd(25))) + "\r\n";
    if (i >= 4 && i / 4 <= families) s += "1 FAMC @F" + std::to_string(i / 4) + "@\r\n";
    if ((i + 1) / 2 <= families) s += "1 FAMS @F" + std::to_string((i + 1) / 2) + "@\r\n";
  }
  for (std::int64_t f = 1; f <= families; ++f) {
    s += "0 @F" + std::to_string(f) + "@ FAM\r\n1 HUSB @I" + std::to_string(2 * f - 1) + "@\r\n1 WIFE @I" +
         std::to_string(2 * f) + "@\r\n";
    for (std::int64_t c = 4 * f; c < 4 * f + 4 && c <= n; ++c) s += "1 CHIL @I" + std::to_string(c) + "@\r\n";
    s += "1 MARR\r\n2 DATE " + std::to_string(std::max(year(2 * f - 1), year(2 * f)) + 22) + "\r\n";
  }
  s += "0 TRLR\r\n";
  return s;
}

Model& Tree(std::int64_t kind, std::int64_t n) {
  static std::map<std::pair<std::int64_t, std::int64_t>, std::unique_ptr<Model>> cache;
  auto& m = cache[{kind, n}];
  if (!m) {
    m = std::make_unique<Model>();
    const std::string text = kind == 0 ? ConsistentTree(n) : synth::MakeTree(n, true);
    Ged_IndiFromBytes(*m, QByteArray::fromStdString(text));
    PreparePersonsAfterLoad(*m);
  }
  return *m;
}

TDetectorOptions AllChecks() {
  TDetectorOptions o;
  o.Check.fill(true);
  o.CheckBox7 = true;
  return o;
}

void BM_DetectorRun(benchmark::State& state) {
  Model& m = Tree(state.range(0), state.range(1));
  const TDetectorOptions o = AllChecks();
  const TCheckCatalogue cat = ReadCheckCatalogue();
  std::size_t findings = 0;
  for (auto _ : state) {
    TDetectorList list;
    DetectorGedcom(m, o, cat, kToday, list);
    findings = list.findings.size();
    benchmark::DoNotOptimize(list.findings.data());
  }
  state.counters["findings"] = double(findings);
  state.counters["persons/s"] = benchmark::Counter(double(state.range(1)) * double(state.iterations()),
                                                   benchmark::Counter::kIsRate);
}

void BM_DetectorInsert(benchmark::State& state) {
  EnsureApp();
  Model& m = Tree(state.range(0), state.range(1));
  TDetectorList list;
  DetectorGedcom(m, AllChecks(), ReadCheckCatalogue(), kToday, list);
  for (auto _ : state) {
    QTextDocument doc;
    {
      TDetectorRichSink sink(&doc);
      for (const TDetectorFinding& f : list.findings) sink.Finding(f);
    }
    benchmark::DoNotOptimize(doc.characterCount());
  }
  state.counters["findings"] = double(list.findings.size());
}

void BM_DetectorTotal(benchmark::State& state) {
  EnsureApp();
  Model& m = Tree(state.range(0), state.range(1));
  const TDetectorOptions o = AllChecks();
  for (auto _ : state) {
    QTextDocument doc;
    {
      TDetectorRichSink sink(&doc);
      DetectorGedcom(m, o, ReadCheckCatalogue(), kToday, sink);
    }
    benchmark::DoNotOptimize(doc.characterCount());
  }
}

BENCHMARK(BM_DetectorRun)->Args({0, 100000})->Args({1, 100000})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectorInsert)->Args({0, 100000})->Args({1, 100000})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectorTotal)->Args({0, 100000})->Args({1, 100000})->Unit(benchmark::kMillisecond);

}  // namespace
