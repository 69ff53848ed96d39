// trevolan-at4gen N FILE.at4 [--seed S] [--gedcom FILE.ged] [--expected FILE.txt]: writes a synthetic
// ".at4" family tree of N persons through the program's engine (see tools/At4Synth.h), optionally the
// same tree as GEDCOM and the canonical dump (tools/trevolan-dump's text) that the ".at4" reader must
// produce from it. Exits 1 when a file cannot be written, 2 on wrong usage.
#include "app/core/ModelDump.h"
#include "sources/Unit2.h"
#include "tools/At4Synth.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = QCoreApplication::arguments();
  const auto usage = [] {
    std::fprintf(stderr, "usage: trevolan-at4gen N FILE.at4 [--seed S] [--gedcom FILE.ged] [--expected FILE.txt]\n");
    return 2;
  };
  if (args.size() < 3) return usage();
  bool ok = false;
  const qint64 n = args[1].toLongLong(&ok);
  if (!ok || n < 0 || n > 10000000) return usage();
  const QString out = args[2];
  quint64 seed = 1;
  QString gedcom, expected;
  for (qsizetype i = 3; i < args.size(); ++i) {
    if (args[i] == u"--seed" && i + 1 < args.size()) {
      seed = args[++i].toULongLong(&ok);
      if (!ok) return usage();
    } else if (args[i] == u"--gedcom" && i + 1 < args.size()) {
      gedcom = args[++i];
    } else if (args[i] == u"--expected" && i + 1 < args.size()) {
      expected = args[++i];
    } else {
      return usage();
    }
  }
  try {
    TDataModule2 engine;  // keeps the engine started while the file is written
    const at4synth::Tree tree = at4synth::MakeTree(n, seed);
    at4synth::WriteAt4(tree, out.toStdString());
    const auto write = [](const QString& path, const QByteArray& bytes) {
      QFile f(path);
      if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw std::runtime_error(path.toStdString() + ": cannot write");
    };
    if (!gedcom.isEmpty()) write(gedcom, at4synth::Gedcom(tree));
    if (!expected.isEmpty()) write(expected, DumpModel(at4synth::Expected(tree, TDateContext::Now())).toUtf8());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "trevolan-at4gen: %s\n", e.what());
    return 1;
  }
  return 0;
}
