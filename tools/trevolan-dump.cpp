// trevolan-dump FILE: loads a GEDCOM (".ged") or ".at5" file through the program's readers (chosen by
// the last three letters of the name, as the window does) and prints the canonical text of the model
// (see app/core/ModelDump.h). Exits 1 with a message when the file cannot be read, 2 on wrong usage.
#include "app/core/GedcomReader.h"
#include "app/core/ModelDump.h"
#include "sources/At5Reader.h"

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
    if (args[1].right(3).toUpper() == u"AT5") {
      TDataModule3 dm;
      At5_Indi(model, dm, args[1]);
    } else {
      Ged_Indi(model, args[1]);
    }
  } catch (const EGedcomRead& e) {
    std::fprintf(stderr, "trevolan-dump: %s\n", e.Message().toUtf8().constData());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "trevolan-dump: %s\n", e.what());
    return 1;
  }
  const QByteArray text = DumpModel(model).toUtf8();
  std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout);
  return 0;
}
