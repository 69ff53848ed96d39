// The person card rebuilt for each move of the person list on a 100,000-person tree read through the
// GEDCOM reader (the synthetic tree of the load benchmarks): the document alone, and the document shown
// in a text pane with its layout done, as the card page does after every move.
#include "app/charts/PersonCard.h"
#include "app/core/GedcomReader.h"
#include "app/core/Model.h"
#include "app/core/PersonList.h"
#include "tools/SyntheticGedcom.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QTextEdit>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

namespace {

void EnsureApplication() {
  if (QCoreApplication::instance()) return;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "bench_charts";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);  // kept to the end of the process: fonts outlive the benchmarks
}

const Model& Tree100k() {
  static std::unique_ptr<Model> model;
  if (model) return *model;
  EnsureApplication();
  model = std::make_unique<Model>();
  const std::string bytes = synth::MakeTree(100000, true);
  Ged_IndiFromBytes(*model, QByteArray(bytes.data(), qsizetype(bytes.size())));
  PreparePersonsAfterLoad(*model);
  return *model;
}

// Moves through the list with a large stride, so that every build meets a new person.
std::int64_t NextPerson(const Model& m, std::int64_t p) {
  const std::int64_t n = m.PersonCount();
  return (p + 7919) % n + 1;
}

void BM_PersonCardPerMove(benchmark::State& state) {
  const Model& m = Tree100k();
  QTextDocument doc;
  TPersonCard card;
  std::int64_t p = 50000;
  for (auto _ : state) {
    p = NextPerson(m, p);
    PersInfo(m, p, {}, doc, card);
    benchmark::DoNotOptimize(doc.characterCount());
  }
  state.counters["persons"] = double(m.PersonCount());
}
BENCHMARK(BM_PersonCardPerMove)->Unit(benchmark::kMillisecond);

void BM_PersonCardShownPerMove(benchmark::State& state) {
  const Model& m = Tree100k();
  QTextEdit pane;
  pane.resize(900, 700);
  pane.document()->setDocumentMargin(4);
  TPersonCard card;
  std::int64_t p = 50000;
  for (auto _ : state) {
    p = NextPerson(m, p);
    pane.setUpdatesEnabled(false);
    PersInfo(m, p, {}, *pane.document(), card);
    pane.setUpdatesEnabled(true);
    benchmark::DoNotOptimize(pane.document()->documentLayout()->documentSize());
  }
}
BENCHMARK(BM_PersonCardShownPerMove)->Unit(benchmark::kMillisecond);

}  // namespace
