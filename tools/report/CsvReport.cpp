// trevolan-report csv FILE OUT.csv: writes the CSV export of every person with the default columns (code,
// full name, sex, birth and death dates and places, father, mother, and per family the spouse, the role,
// the marriage date and the children). --set ExportFields=N,N,... checks exactly the items named (0..41)
// instead. Values that a spreadsheet program would run as formulas (a start "=", "+", "-" or "@") are
// written behind an apostrophe; the identifier column keeps "@I1@". OUT must be a regular file or a new
// one (a link is written through) and never the tree that was read.
#include "tools/report/ReportCommand.h"

#include "app/reports/CsvExport.h"
#include "tools/report/OutputFile.h"

namespace {

int RunCsv(ReportContext& ctx) {
  if (ctx.args.size() != 1) throw ReportUsageError(QStringLiteral("csv needs the output file"));
  TCsvFields fields = DefaultCsvFields();
  const QString chosen = ctx.Text(QStringLiteral("ExportFields"), QString());
  if (!chosen.isEmpty()) {
    fields.fill(false);
    for (const QString& part : chosen.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
      bool ok = false;
      const int i = part.trimmed().toInt(&ok);
      if (!ok || i < 0 || i >= kCsvFieldCount) throw ReportUsageError(QStringLiteral("ExportFields: %1 is not 0..41").arg(part));
      fields[static_cast<std::size_t>(i)] = true;
    }
  }
  const QString out = ctx.args.front();
  CheckOutputFile(out, ctx.file);
  const TCsvResult r = GedcomDataExport(ctx.model, fields, CsvFieldCaptions());
  TCsvWriteError error;
  if (!WriteCsvFile(out, r.Lines, ctx.file, &error))
    throw std::runtime_error(OutputFaultText(error.fault, error.err, out).toStdString());
  return 0;
}

const ReportRegistration kCsv{"csv", "csv FILE OUT.csv [--set ExportFields=N,N,...]", &RunCsv};

}  // namespace
