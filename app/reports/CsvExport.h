// The CSV export of persons: every person of the tree as one line of ";"-separated fields, with the
// columns chosen from a list of 42 fields (identity and names, notes, birth and death, parents, siblings,
// one group of spouse, marriage and children fields per family of the person, the favourite mark).
//
// The file is UTF-8 with a byte-order mark, lines end with CR LF. A value is written between double
// quotes with its quotes doubled and every line break (CR LF, lone CR or LF) as ". "; the always empty and
// the date-time fields are bare. A value that begins with "=", "+", "-" or "@" gets a leading apostrophe,
// as spreadsheet users write it, so that a spreadsheet program shows it as text instead of running it as
// a formula (a stranger's tree may hold a name "=HYPERLINK(...)"); the identifier column keeps a plain
// cross-reference such as "@I1@" as it is. The header names as many family groups as the largest family count among
// the exported persons, and every line is padded to that many groups, so the columns line up.
//
// Headless: reads the Model, reports progress through a callback that may stop the run.
#pragma once

#include "app/core/Model.h"
#include "app/reports/Statistics.h"
#include "sheet/bookZip.h"

#include <QString>
#include <QStringList>

#include <array>
#include <functional>

inline constexpr int kCsvFieldCount = 42;
using TCsvFields = std::array<bool, kCsvFieldCount>;

// The Russian captions of the 42 items (translated through the keys "ExportFields_<n>").
QStringList CsvFieldCaptions();
// The fields checked when the export runs from the command line: code, full name, sex, birth and death
// dates and places, father, mother and the family group's spouse, marriage date and children.
TCsvFields DefaultCsvFields();

struct TCsvResult {
  QStringList Lines;  // the header first
  int Persons = 0;    // persons written
  bool Stopped = false;
};

// Builds the lines. `captions` are the (translated) captions of the 42 items; `lang` gives the role
// texts ("*A", "*H", "*B", "*W"); `progress` (may be empty) gets the person's index and the last index
// and returns true to stop (the lines made so far are kept).
TCsvResult GedcomDataExport(const Model& m, const TCsvFields& checked, const QStringList& captions,
                            const TLangFn& lang = {},
                            const std::function<bool(std::int64_t, std::int64_t)>& progress = {});

// One value as a quoted field with its ";" (a formula-like start neutralised, see above).
QString CsvQuoted(const QString& value);

// Why WriteCsvFile wrote nothing: the kind of fault, errno where the system gave one, and the file
// layer's message.
struct TCsvWriteError {
  TZxFileFault fault = TZxFileFault::ffNone;
  int err = 0;
  QString message;
};
// Writes the lines to `path` as UTF-8 with a BOM, CR LF after each line, through the project's one
// whole-file writer (TZxTargetFile: written beside the target and renamed over it, links written through,
// only a regular file replaced). `input`, when given, is the file the tree was read from: it is never
// overwritten. False when the file cannot be written (then no partial file is left and an old file is
// untouched); `error` (may be null) then says why.
bool WriteCsvFile(const QString& path, const QStringList& lines, const QString& input = {},
                  TCsvWriteError* error = nullptr);
