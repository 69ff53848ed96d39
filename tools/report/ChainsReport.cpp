// trevolan-report chains FILE: the surname chains of the current person (--person ID, else the first
// person) as the pane's plain text. Options by control name: RadioGroup15 (0 surnames only, 1 whole
// chain), CheckBox26 .. CheckBox31, CheckBox40, CheckBox50, CheckBox68, CheckBox69, UpDown1.
#include "tools/report/ReportCommand.h"

#include "app/charts/Ancestors.h"
#include "app/reports/SurnameChains.h"

#include <QTextDocument>

namespace {

int RunChains(ReportContext& ctx) {
  if (!ctx.args.isEmpty()) throw ReportUsageError(QStringLiteral("unexpected argument %1").arg(ctx.args.front()));
  TSurnameChainOptions o;
  o.WholeChain = ctx.Int(QStringLiteral("RadioGroup15"), 1) == 1;
  o.Years = ctx.Bool(QStringLiteral("CheckBox28"), o.Years);
  o.Dates = ctx.Bool(QStringLiteral("CheckBox29"), o.Dates);
  o.HusbandSurname = ctx.Bool(QStringLiteral("CheckBox27"), o.HusbandSurname);
  o.BirthPlace = ctx.Bool(QStringLiteral("CheckBox69"), o.BirthPlace);
  o.Patronymic = ctx.Bool(QStringLiteral("CheckBox50"), o.Patronymic);
  o.GenerationNumber = ctx.Bool(QStringLiteral("CheckBox68"), o.GenerationNumber);
  o.AllVariants = ctx.Bool(QStringLiteral("CheckBox31"), o.AllVariants);
  o.SkipUnknownSurname = ctx.Bool(QStringLiteral("CheckBox26"), o.SkipUnknownSurname);
  o.SkipShort = ctx.Bool(QStringLiteral("CheckBox30"), o.SkipShort);
  o.MinPersons = ctx.Int(QStringLiteral("UpDown1"), o.MinPersons);
  if (o.MinPersons < 2 || o.MinPersons > 10) throw ReportUsageError(QStringLiteral("UpDown1 is 2..10"));
  o.Averages = ctx.Bool(QStringLiteral("CheckBox40"), o.Averages);
  TAncestorList list;
  FillTree(ctx.model, list, ctx.person > 0 ? QString::number(ctx.person) : QString(), ctx.model.LoadCount);
  QTextDocument pane;
  ListFamily(ctx.model, list.aPers, o, &pane);
  const QString text = pane.toPlainText();
  if (!text.isEmpty()) ctx.out << text << '\n';
  return 0;
}

const ReportRegistration kChains{"chains", "chains FILE [--person ID] [--set NAME=VALUE]...", &RunChains};

}  // namespace
