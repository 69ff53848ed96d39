// trevolan-report detector FILE: the problem detector, one line per finding in the order of the pane:
// the person's identifier, TAB, "red" (certain) or "blue" (possible or structural), TAB, the message as
// the pane shows it after the head. Options are the page's controls (--set Check18=1 --set Spin121=100
// --set CheckBox7=1); the texts are the built-in Russian ones.
#include "tools/report/ReportCommand.h"

#include "app/reports/Detector.h"

namespace {

int RunDetector(ReportContext& ctx) {
  TDetectorOptions o;
  for (const TDetectorControl& c : DetectorControls()) {
    const QString name = QString::fromUtf16(c.name);
    if (c.min < c.max) {
      const int v = ctx.Int(name, c.def);
      if (v < c.min || v > c.max)
        throw ReportUsageError(QStringLiteral("--set %1: %2 is outside %3..%4").arg(name).arg(v).arg(c.min).arg(c.max));
      SetDetectorOption(o, name, v);
    } else {
      SetDetectorOption(o, name, ctx.Bool(name, c.def != 0) ? 1 : 0);
    }
  }
  TDetectorList list;
  DetectorGedcom(ctx.model, o, ReadCheckCatalogue(), ctx.today, list);
  for (const TDetectorFinding& f : list.findings) ctx.out << DetectorLine(ctx.model, f) << '\n';
  return 0;
}

const ReportRegistration kDetector{"detector", "detector FILE", &RunDetector};

}  // namespace
