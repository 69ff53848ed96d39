// trevolan-report workbook FILE OUT --list marriages|calendar: writes the marriage list (of --person ID,
// else the first person) or the anniversary calendar (from --today) as the "В Excel" button does, XLSX or
// Excel 2003 XML by OUT's extension (.xlsx, .xml). The lists' options are those of the marriages and
// calendar words. OUT must be a regular file or a new one (a link is written through) and never the tree
// that was read; every message is the tool's own (English).
#include "tools/report/ReportCommand.h"
#include "tools/report/OutputFile.h"

#include "app/charts/Ancestors.h"
#include "app/reports/Calendar.h"
#include "app/reports/Marriages.h"
#include "app/reports/WorkbookExport.h"
#include "platform/qt/ClientDataSet.h"

TMarriageOptions ReportMarriageOptions(const ReportContext& ctx);
TCalendarOptions ReportCalendarOptions(const ReportContext& ctx);

namespace {

int RunWorkbook(ReportContext& ctx) {
  if (ctx.args.size() != 1) throw ReportUsageError(QStringLiteral("workbook needs the output file"));
  const QString out = ctx.args.front();
  const QString suffix = out.section(QLatin1Char('.'), -1).toLower();
  if (!out.contains(QLatin1Char('.')) || (suffix != u"xlsx" && suffix != u"xml"))
    throw ReportUsageError(QStringLiteral("the output file must end in .xlsx or .xml"));
  const QString list = ctx.Option(QStringLiteral("--list"));
  if (list != u"marriages" && list != u"calendar") throw ReportUsageError(QStringLiteral("--list is marriages or calendar"));
  CheckOutputFile(out, ctx.file);
  platform::TClientDataSet cds;
  try {
    if (list == u"marriages") {
      TAncestorList ancestors;
      FillTree(ctx.model, ancestors, ctx.person > 0 ? QString::number(ctx.person) : QString(), ctx.model.LoadCount);
      CreateMarriageDataSet(cds);
      MarriageGedcom(ctx.model, ancestors.aPers, ReportMarriageOptions(ctx), cds);
      MarriageToXLS(cds, MarriageColumns(), out, ctx.file);
    } else {
      FillCalendarDataSet(cds, Informer(ctx.model, ReportCalendarOptions(ctx)));
      InformerToXLS(cds, CalendarColumns(), out, ctx.file);
    }
  } catch (const EZxZipGen& e) {
    throw std::runtime_error(OutputFaultText(e.Fault(), e.Errno(), out).toStdString());
  } catch (const EZxError&) {
    // The library's own messages are in the program's language; the tool says it in its own.
    throw std::runtime_error(QStringLiteral("cannot write %1: the workbook could not be made").arg(out).toStdString());
  }
  return 0;
}

const ReportRegistration kWorkbook{"workbook", "workbook FILE OUT.xlsx|OUT.xml --list marriages|calendar [--person ID]",
                                   &RunWorkbook, {"--list"}};

}  // namespace
