// The problem detector page in a shown main window on the stress tree of 100k persons (see DetectorBench),
// every check and possible findings on: the whole command as the user starts it ("Создать"), with the gauge
// moved and events processed every 100 persons and the findings shown in the pane at the end.
#include "app/window/ProblemsPage.h"
#include "app/window/Unit1.h"
#include "platform/qt/RichText.h"
#include "tools/SyntheticGedcom.h"

#include <QApplication>
#include <QFile>
#include <QTextDocument>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

namespace {

QApplication& App() {
  if (auto* a = qobject_cast<QApplication*>(QCoreApplication::instance())) return *a;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "bench_reports";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

void BM_DetectorPage(benchmark::State& state) {
  App();
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("tree.ged"));
  {
    QFile f(file);
    f.open(QIODevice::WriteOnly);
    f.write(QByteArray::fromStdString(synth::MakeTree(state.range(0), true)));
  }
  TForm1::SetProgramDir(dir.path());
  auto form = std::make_unique<TForm1>();
  form->resize(1600, 1000);
  form->show();
  form->OpenDataFiles(file);
  TProblemsPage* page = form->Page<TProblemsPage>();
  for (int n = 1; n <= kDetectorChecks; ++n) page->Check(n)->setChecked(true);
  page->Box(QStringLiteral("CheckBox7"))->setChecked(true);
  for (auto _ : state) {
    page->SpeedButton11Click();
    QApplication::processEvents();
  }
  state.counters["lines"] = double(page->RichEdit1->document()->blockCount() - 1);
  form.reset();
  TheModel().Reset();
}
BENCHMARK(BM_DetectorPage)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
