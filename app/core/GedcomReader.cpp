// GEDCOM reader (first cut: file access only; the record rules follow).
#include "app/core/GedcomReader.h"

#include <QFile>

void Ged_IndiFromBytes(Model& model, const QByteArray& bytes, const GedProgress& progress,
                       const QString& nameTemplate) {
  (void)bytes;
  (void)progress;
  (void)nameTemplate;
  model.Reset();
}

void Ged_Indi(Model& model, const QString& path, const GedProgress& progress, const QString& nameTemplate) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    throw EGedcomRead(QStringLiteral("Не удалось открыть файл \"%1\": %2").arg(path, file.errorString()));
  }
  Ged_IndiFromBytes(model, file.readAll(), progress, nameTemplate);
}
