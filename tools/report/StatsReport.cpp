// trevolan-report stats FILE: the statistics chart's bars, one line per bar: its key ("dd.mm", the year or
// the first name), a tab and its count; the undated count's text follows on a line of its own when there
// is one. Options by control name: RadioGroup2 (0 by day, 1 by year, 2 by name), RadioGroup1 (0 births,
// 1 deaths), CheckBox35 with SpinEdit2, CheckBox36 with SpinEdit3, CheckBox37 with Edit11 (first name
// masks), CheckBox38 with Edit12 (surname masks), RadioGroup3 (0 all, 1 men, 2 women).
#include "tools/report/ReportCommand.h"

#include "app/reports/Statistics.h"

namespace {

int RunStats(ReportContext& ctx) {
  if (!ctx.args.isEmpty()) throw ReportUsageError(QStringLiteral("unexpected argument %1").arg(ctx.args.front()));
  TStatOptions o;
  o.Grouping = ctx.Int(QStringLiteral("RadioGroup2"), 0);
  o.Event = ctx.Int(QStringLiteral("RadioGroup1"), 0);
  o.FromOn = ctx.Bool(QStringLiteral("CheckBox35"), false);
  o.From = ctx.Int(QStringLiteral("SpinEdit2"), 0);
  o.ToOn = ctx.Bool(QStringLiteral("CheckBox36"), false);
  o.To = ctx.Int(QStringLiteral("SpinEdit3"), 0);
  o.NamesOn = ctx.Bool(QStringLiteral("CheckBox37"), false);
  o.Names = ctx.Text(QStringLiteral("Edit11"), QString());
  o.SurnamesOn = ctx.Bool(QStringLiteral("CheckBox38"), false);
  o.Surnames = ctx.Text(QStringLiteral("Edit12"), QString());
  o.Sex = ctx.Int(QStringLiteral("RadioGroup3"), 0);
  if (o.Grouping < 0 || o.Grouping > 2 || o.Event < 0 || o.Event > 1 || o.Sex < 0 || o.Sex > 2)
    throw ReportUsageError(QStringLiteral("RadioGroup2 is 0..2, RadioGroup1 0..1, RadioGroup3 0..2"));
  if (o.From < 0 || o.From > 2050) throw ReportUsageError(QStringLiteral("SpinEdit2 is 0..2050"));
  const TStatResult r = StatGedcom(ctx.model, o);
  for (const TStatBar& b : r.Bars) ctx.out << b.Label << '\t' << b.Count << '\n';
  if (!r.SubFooter.isEmpty()) ctx.out << r.SubFooter << '\n';
  return 0;
}

const ReportRegistration kStats{"stats", "stats FILE [--set NAME=VALUE]...", &RunStats};

}  // namespace
