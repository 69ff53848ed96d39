// trevolan-report: one command that loads a family tree through the program's own readers and prints a
// report as UTF-8 text on stdout (or writes the report's files). Each report word lives in a file of its
// own in this folder and registers itself with a static ReportRegistration:
//
//   static int RunDetector(ReportContext& ctx);
//   static const ReportRegistration kDetector{"detector", "detector FILE", &RunDetector};
//
// The command line is: trevolan-report REPORT FILE [ARG...] [options]. Common options, read before the
// report runs: --today YYYY-MM-DD, --set NAME=VALUE (any option control by its component name; repeatable),
// --person ID and --root ID (identifiers as written in the file, e.g. @I12@). A word declares the further
// options it accepts: those in `valueOptions` take the next argument as their value, those in `flagOptions`
// take none. Everything else not starting with "--" is a positional argument (ctx.args).
// Exit codes: 0 done, 1 the file cannot be read or the report failed (message on stderr), 2 wrong usage.
#pragma once

#include <QDate>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <cstdint>
#include <initializer_list>
#include <stdexcept>

#include "app/core/Model.h"

// Thrown by a report for wrong usage (exit 2); the message is printed with the usage line.
class ReportUsageError : public std::runtime_error {
 public:
  explicit ReportUsageError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

struct ReportContext {
  Model& model;
  QString file;                    // FILE as given
  QStringList args;                // positional arguments after FILE
  QDate today;                     // --today, else the current date
  std::int64_t person = 0;         // current person of the list (index in aIndi); see ReportMain.cpp
  std::int64_t root = 0;           // root person (index in aIndi), 0 when none
  QMap<QString, QString> sets;     // --set NAME=VALUE
  QMap<QString, QString> options;  // the word's own options: value, or "1" for a flag that was given
  QTextStream& out;                // stdout, UTF-8

  // The value of --set NAME, or `def` when it was not given. Bool accepts 1/0, true/false, yes/no;
  // Int and Bool raise ReportUsageError on a value that is not one.
  bool Bool(const QString& name, bool def) const;
  int Int(const QString& name, int def) const;
  QString Text(const QString& name, const QString& def) const;
  // The word's own option, or `def`.
  bool Has(const QString& option) const { return options.contains(option); }
  QString Option(const QString& option, const QString& def = {}) const { return options.value(option, def); }
  int IntOption(const QString& option, int def) const;
  // Index in aIndi of the person whose identifier is `id` (as written in the file); 0 when none.
  std::int64_t FindPerson(const QString& id) const;
  // FindPerson, raising ReportUsageError "no person with identifier ..." when there is none.
  std::int64_t RequirePerson(const QString& id) const;
};

using ReportRun = int (*)(ReportContext&);

// A word whose report draws (charts, pictures placed in text) passes draws = true: it then runs in a GUI
// application on the offscreen platform, which fonts need; the others run in a plain core application.
struct ReportRegistration {
  ReportRegistration(const char* word, const char* usage, ReportRun run,
                     std::initializer_list<const char*> valueOptions = {},
                     std::initializer_list<const char*> flagOptions = {}, bool draws = false);
};

// Loads the file at `path` into `model` through the program's door (sources/FamilyTreeFile.h),
// and prepares the model as the person list does after a load. Throws std::runtime_error with a message
// when the file cannot be read.
void LoadTreeForReport(Model& model, const QString& path);
