// The GEDCOM reader: reads a GEDCOM file into a Model.
// Stages: decoding (byte-order mark, else Windows-1251, then UTF-8 when the header says so), a header
// pass, a record pass that creates records, copies tag values, links persons and families by exact
// identifier text and builds every person's display name, and post-passes for notes, marriage records,
// hyperlink records and association back links.
// The reader is tolerant: unknown tags and malformed lines are skipped; it never ends a load because of
// the content of a line. It throws EGedcomRead only when the file cannot be read at all; the model is
// then left in an unspecified but valid state and the caller resets it.
// Stopping: when a progress call has set the model's AbortFlag (the window's Stop or Esc), the read ends
// soon after (the worker threads look at it every 128 lines) and leaves the model empty, as a new model,
// with AbortFlag still set; a file whose records were read on several threads at once gives no
// consistent part of a tree. Threads: the record pass runs on worker threads (parts that begin at
// level-0 lines, one part for a small file); the caller's thread waits for them and makes every progress
// call, so the window's gauge, events and Stop stay on it. The model is the same for any number of
// threads. The reader touches no shared state but the model it is given, so two reads into two models
// may run at once.
#pragma once

#include "app/core/Model.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <stdexcept>

// Progress of a long pass: position of maximum. Called on the caller's thread, about every 20 ms while
// the record pass runs on worker threads and at the start and end of each pass; the window updates its
// gauge and processes pending events here.
using GedProgress = std::function<void(std::int64_t position, std::int64_t maximum)>;

// A family-tree file that cannot be read, as the user is told: a translation key, its Russian text with
// "%s" standing for the file name (and, where the text has a second "%s", for a detail), and those
// arguments. Every reader raises a kind of it, so the window and the tools show any of them one way.
class EFamilyTreeRead : public std::runtime_error {
 public:
  EFamilyTreeRead(QString key, QString defaultText, QStringList args)
      : std::runtime_error(Format(defaultText, args).toStdString()),
        key_(std::move(key)),
        text_(std::move(defaultText)),
        args_(std::move(args)) {}
  const QString& Key() const { return key_; }
  const QString& DefaultText() const { return text_; }
  const QStringList& Args() const { return args_; }
  // The message in Russian; the window shows it through the translation file (Key, DefaultText).
  QString Message() const { return Format(text_, args_); }

 private:
  static QString Format(const QString& text, const QStringList& args) {
    QString r;
    qsizetype from = 0, a = 0;
    for (qsizetype at; (at = text.indexOf(QStringLiteral("%s"), from)) >= 0; from = at + 2) {
      r += QStringView(text).mid(from, at - from);
      r += a < args.size() ? args[a++] : QString();
    }
    r += QStringView(text).mid(from);
    return r;
  }
  QString key_, text_;
  QStringList args_;
};

// A GEDCOM file that cannot be read (missing, unreadable, a directory).
class EGedcomRead : public EFamilyTreeRead {
 public:
  enum Kind { OpenFailed, ReadFailed };
  EGedcomRead(Kind kind, const QString& path) : EFamilyTreeRead(Key(kind), DefaultText(kind), {path}), kind_(kind) {}
  Kind What() const { return kind_; }
  const QString& Path() const { return Args().front(); }
  using EFamilyTreeRead::DefaultText;
  using EFamilyTreeRead::Key;
  // The translation key of the message and its Russian text, with "%s" standing for the file name.
  static QString Key(Kind kind) { return kind == OpenFailed ? QStringLiteral("FileOpenError") : QStringLiteral("FileReadError"); }
  static QString DefaultText(Kind kind) {
    return kind == OpenFailed ? QStringLiteral("Не удалось открыть файл \"%s\"") : QStringLiteral("Не удалось прочитать файл \"%s\"");
  }

 private:
  Kind kind_;
};

// The default display-name template: surname, birth surname in brackets, first name, patronymic.
inline const char16_t kDefaultNameTemplate[] = u"14)23";

// Reads the GEDCOM file at path into model (replacing what the model held). Throws EGedcomRead when the
// file cannot be read. nameTemplate is the person-list name template used for FIO1.
void Ged_Indi(Model& model, const QString& path, const GedProgress& progress = {},
              const QString& nameTemplate = QString::fromUtf16(kDefaultNameTemplate));

// The same from the file's bytes already in memory; never throws for any content (only when memory runs
// out). threads: the most worker threads of the record pass; 0 chooses by the machine's cores and the
// file's size (a small file is read on the caller's thread alone).
void Ged_IndiFromBytes(Model& model, const QByteArray& bytes, const GedProgress& progress = {},
                       const QString& nameTemplate = QString::fromUtf16(kDefaultNameTemplate), int threads = 0);
