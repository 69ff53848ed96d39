// trevolan-report calendar FILE: the anniversary calendar from --today (else the current date) as the
// grid shows it: a header line of the column titles, then one tab-separated line per row. Options by
// control name: CheckBox51 (only the living), CheckBox52 (only favourites), CheckBox53 (births),
// CheckBox54 (marriages), CheckBox59 (deaths).
#include "tools/report/ReportCommand.h"

#include "app/reports/Calendar.h"
#include "tools/report/ReportGrid.h"

TCalendarOptions ReportCalendarOptions(const ReportContext& ctx) {
  TCalendarOptions o;
  o.OnlyAlive = ctx.Bool(QStringLiteral("CheckBox51"), o.OnlyAlive);
  o.OnlyFavorites = ctx.Bool(QStringLiteral("CheckBox52"), o.OnlyFavorites);
  o.Births = ctx.Bool(QStringLiteral("CheckBox53"), o.Births);
  o.Marriages = ctx.Bool(QStringLiteral("CheckBox54"), o.Marriages);
  o.Deaths = ctx.Bool(QStringLiteral("CheckBox59"), o.Deaths);
  o.Today = ctx.today;
  return o;
}

namespace {

int RunCalendar(ReportContext& ctx) {
  if (!ctx.args.isEmpty()) throw ReportUsageError(QStringLiteral("unexpected argument %1").arg(ctx.args.front()));
  platform::TClientDataSet cds;
  FillCalendarDataSet(cds, Informer(ctx.model, ReportCalendarOptions(ctx)));
  PrintGridRows(ctx.out, cds, CalendarColumns());
  return 0;
}

const ReportRegistration kCalendar{"calendar", "calendar FILE [--today YYYY-MM-DD] [--set NAME=VALUE]...", &RunCalendar};

}  // namespace
