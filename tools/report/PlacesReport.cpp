// trevolan-report places FILE [PLACE]: the place report's text. The place is PLACE, else --set
// ComboBox13=PLACE, else the first place of the sorted place list (as the page shows after a load).
// Options by control name: RadioButton2=1 for the residents list, CheckBox75, CheckBox77 with SpinEdit15,
// CheckBox78 with SpinEdit16. The map is never opened from here.
#include "tools/report/ReportCommand.h"

#include "app/core/PersonList.h"
#include "app/reports/Places.h"

namespace {

int RunPlaces(ReportContext& ctx) {
  if (ctx.args.size() > 1) throw ReportUsageError(QStringLiteral("unexpected argument %1").arg(ctx.args[1]));
  TPlaceOptions o;
  const QStringList places = CollectPlaces(ctx.model);
  o.Place = ctx.args.isEmpty() ? ctx.Text(QStringLiteral("ComboBox13"), places.value(0)) : ctx.args.front();
  o.Residents = ctx.Bool(QStringLiteral("RadioButton2"), false) && !ctx.Bool(QStringLiteral("RadioButton1"), false);
  o.OnlyFavorites = ctx.Bool(QStringLiteral("CheckBox75"), false);
  o.FromYearOn = ctx.Bool(QStringLiteral("CheckBox77"), false);
  o.FromYear = ctx.Int(QStringLiteral("SpinEdit15"), 0);
  o.ToYearOn = ctx.Bool(QStringLiteral("CheckBox78"), false);
  o.ToYear = ctx.Int(QStringLiteral("SpinEdit16"), 0);
  o.OpenMap = false;
  const QString text = PlacePers(ctx.model, o, {});
  if (!text.isEmpty()) ctx.out << QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")) << '\n';
  return 0;
}

const ReportRegistration kPlaces{"places", "places FILE [PLACE] [--set NAME=VALUE]...", &RunPlaces};

}  // namespace
