// The GEDCOM reader: reads a GEDCOM file into a Model.
// Stages: decoding (byte-order mark, else Windows-1251, then UTF-8 when the header says so), a header
// pass, a record pass that creates records and copies tag values, and post-passes that resolve links by
// exact identifier text and build every person's display name.
// The reader is tolerant: unknown tags and malformed lines are skipped; it never ends a load because of
// the content of a line. It throws EGedcomRead only when the file cannot be read at all; the model is
// then left in an unspecified but valid state and the caller resets it.
// It does not poll AbortFlag. Single thread.
#pragma once

#include "app/core/Model.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <stdexcept>

// Progress of a long pass: position of maximum. Called every 100 lines or records; the window updates
// its gauge and processes pending events here.
using GedProgress = std::function<void(std::int64_t position, std::int64_t maximum)>;

// A file that cannot be read (missing, unreadable, a directory).
class EGedcomRead : public std::runtime_error {
 public:
  enum Kind { OpenFailed, ReadFailed };
  EGedcomRead(Kind kind, const QString& path)
      : std::runtime_error(Format(DefaultText(kind), path).toStdString()), kind_(kind), path_(path) {}
  Kind What() const { return kind_; }
  const QString& Path() const { return path_; }
  // The translation key of the message and its Russian text, with "%s" standing for the file name.
  static QString Key(Kind kind) { return kind == OpenFailed ? QStringLiteral("FileOpenError") : QStringLiteral("FileReadError"); }
  static QString DefaultText(Kind kind) {
    return kind == OpenFailed ? QStringLiteral("Не удалось открыть файл \"%s\"") : QStringLiteral("Не удалось прочитать файл \"%s\"");
  }
  // The message in Russian; the window shows it through the translation file (Key, DefaultText).
  QString Message() const { return Format(DefaultText(kind_), path_); }

 private:
  static QString Format(QString text, const QString& path) { return text.replace(QStringLiteral("%s"), path); }
  Kind kind_;
  QString path_;
};

// The default display-name template: surname, birth surname in brackets, first name, patronymic.
inline const char16_t kDefaultNameTemplate[] = u"14)23";

// Reads the GEDCOM file at path into model (replacing what the model held). Throws EGedcomRead when the
// file cannot be read. nameTemplate is the person-list name template used for FIO1.
void Ged_Indi(Model& model, const QString& path, const GedProgress& progress = {},
              const QString& nameTemplate = QString::fromUtf16(kDefaultNameTemplate));

// The same from the file's bytes already in memory; never throws for any content.
void Ged_IndiFromBytes(Model& model, const QByteArray& bytes, const GedProgress& progress = {},
                       const QString& nameTemplate = QString::fromUtf16(kDefaultNameTemplate));
