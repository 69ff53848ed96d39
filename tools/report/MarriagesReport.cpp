// trevolan-report marriages FILE: the marriage list of the current person's ancestors (--person ID, else
// the first person) as the grid shows it: a header line of the column titles, then one tab-separated line
// per shown row. Options by control name: CheckBox32 with SpinEdit5 (generation limit), CheckBox58
// (wife's birth surname), RadioGroup4 (0..3, which marriages count as known), CheckBox34, CheckBox39,
// CheckBox33 (the view filter). The estimate's upper year is the year of --today.
#include "tools/report/ReportCommand.h"

#include "app/charts/Ancestors.h"
#include "app/reports/Marriages.h"
#include "tools/report/ReportGrid.h"

namespace {

TMarriageOptions MarriageOptionsOf(const ReportContext& ctx) {
  TMarriageOptions o;
  o.LimitGenerations = ctx.Bool(QStringLiteral("CheckBox32"), o.LimitGenerations);
  o.Generations = ctx.Int(QStringLiteral("SpinEdit5"), o.Generations);
  if (o.Generations < 2 || o.Generations > 12) throw ReportUsageError(QStringLiteral("SpinEdit5 is 2..12"));
  o.MaidenName = ctx.Bool(QStringLiteral("CheckBox58"), o.MaidenName);
  o.KnownRule = ctx.Int(QStringLiteral("RadioGroup4"), o.KnownRule);
  if (o.KnownRule < 0 || o.KnownRule > 3) throw ReportUsageError(QStringLiteral("RadioGroup4 is 0..3"));
  o.OtherMen = ctx.Bool(QStringLiteral("CheckBox34"), o.OtherMen);
  o.OtherWomen = ctx.Bool(QStringLiteral("CheckBox39"), o.OtherWomen);
  o.Known = ctx.Bool(QStringLiteral("CheckBox33"), o.Known);
  o.CurrentYear = ctx.today.year();
  return o;
}

int RunMarriages(ReportContext& ctx) {
  if (!ctx.args.isEmpty()) throw ReportUsageError(QStringLiteral("unexpected argument %1").arg(ctx.args.front()));
  const TMarriageOptions o = MarriageOptionsOf(ctx);
  TAncestorList list;
  FillTree(ctx.model, list, ctx.person > 0 ? QString::number(ctx.person) : QString(), ctx.model.LoadCount);
  platform::TClientDataSet cds;
  CreateMarriageDataSet(cds);
  MarriageGedcom(ctx.model, list.aPers, o, cds);
  PrintGridRows(ctx.out, cds, MarriageColumns());
  return 0;
}

const ReportRegistration kMarriages{"marriages", "marriages FILE [--person ID] [--today YYYY-MM-DD] [--set NAME=VALUE]...",
                                    &RunMarriages};

}  // namespace

// Used by the workbook word as well.
TMarriageOptions ReportMarriageOptions(const ReportContext& ctx) { return MarriageOptionsOf(ctx); }
