// trevolan-dump FILE: loads a GEDCOM file through the program's reader and prints the canonical text
// of the model (see app/core/ModelDump.h). Exits 1 with a message when the file cannot be read, 2 on
// wrong usage.
#include "app/core/GedcomReader.h"
#include "app/core/ModelDump.h"

#include <QCoreApplication>
#include <QString>

#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = QCoreApplication::arguments();
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: trevolan-dump FILE\n");
    return 2;
  }
  Model model;
  try {
    Ged_Indi(model, args[1]);
  } catch (const EGedcomRead& e) {
    std::fprintf(stderr, "trevolan-dump: %s\n", e.Message().toUtf8().constData());
    return 1;
  }
  const QByteArray text = DumpModel(model).toUtf8();
  std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout);
  return 0;
}
