// trevolan-at5gen N FILE.at5 [--seed S] [--no-indexes | --indexes none|keys|all|others] [--gedcom FILE.ged] [--expected FILE.txt]:
// writes a synthetic ".at5" family tree of N persons (see tools/At5Synth.h), optionally the same tree as
// GEDCOM and the canonical dump (tools/trevolan-dump's text) that the ".at5" reader must produce from it.
// Exits 1 when a file cannot be written, 2 on wrong usage.
#include "app/core/ModelDump.h"
#include "tools/At5Synth.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = QCoreApplication::arguments();
  const auto usage = [] {
    std::fprintf(stderr,
                 "usage: trevolan-at5gen N FILE.at5 [--seed S] [--no-indexes | --indexes none|keys|all|others] [--gedcom FILE.ged] [--expected FILE.txt]\n");
    return 2;
  };
  if (args.size() < 3) return usage();
  bool ok = false;
  const qint64 n = args[1].toLongLong(&ok);
  if (!ok || n < 0 || n > 10000000) return usage();
  const QString out = args[2];
  quint64 seed = 1;
  at5synth::Indexes indexes = at5synth::Indexes::All;
  QString gedcom, expected;
  for (qsizetype i = 3; i < args.size(); ++i) {
    if (args[i] == u"--no-indexes") {
      indexes = at5synth::Indexes::None;
    } else if (args[i] == u"--indexes" && i + 1 < args.size()) {
      const QString v = args[++i];
      if (v == u"none") indexes = at5synth::Indexes::None;
      else if (v == u"keys") indexes = at5synth::Indexes::Keys;
      else if (v == u"all") indexes = at5synth::Indexes::All;
      else if (v == u"others") indexes = at5synth::Indexes::Others;
      else return usage();
    } else if (args[i] == u"--seed" && i + 1 < args.size()) {
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
    const at5synth::Tree tree = at5synth::MakeTree(n, seed);
    at5synth::WriteAt5(tree, out.toStdString(), indexes);
    const auto write = [](const QString& path, const QByteArray& bytes) {
      QFile f(path);
      if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw std::runtime_error(path.toStdString() + ": cannot write");
    };
    if (!gedcom.isEmpty()) write(gedcom, at5synth::Gedcom(tree));
    if (!expected.isEmpty()) write(expected, DumpModel(at5synth::Expected(tree, TDateContext::Now())).toUtf8());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "trevolan-at5gen: %s\n", e.what());
    return 1;
  }
  return 0;
}
