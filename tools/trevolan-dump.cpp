// trevolan-dump FILE: loads a family tree through the door the window uses (sources/FamilyTreeFile.h:
// the reader chosen by the last three letters of the name) and prints the canonical text of the model
// (see app/core/ModelDump.h). Exits 1 with a message when the file cannot be read or its type has no
// reader, 2 on wrong usage.
#include "app/core/ModelDump.h"
#include "sources/FamilyTreeFile.h"

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
    if (!LoadFamilyTree(model, args[1])) {
      std::fprintf(stderr, "trevolan-dump: %s: not a file type this command reads\n", args[1].toUtf8().constData());
      return 1;
    }
  } catch (const EFamilyTreeRead& e) {
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
