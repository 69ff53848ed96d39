// trevolan-report card FILE ID: the person card of one person as text, links written as their visible
// text (the chart picture is left out). --set CheckBoxIDgedcom=1 shows record identifiers; --rtf FILE
// also saves the card as rich text with its chart picture.
#include "tools/report/ReportCommand.h"

#include "app/charts/PersonCard.h"
#include "platform/qt/RtfWriter.h"
#include "tools/report/OutputFile.h"

namespace {

int RunCard(ReportContext& ctx) {
  if (ctx.args.size() != 1) throw ReportUsageError(QStringLiteral("card needs one person identifier"));
  const std::int64_t p = ctx.RequirePerson(ctx.args[0]);
  const QString rtf = ctx.Option(QStringLiteral("--rtf"));
  if (!rtf.isEmpty()) CheckOutputFile(rtf, ctx.file);
  TPersonCardOptions o;
  o.IdGedcom = ctx.Bool(QStringLiteral("CheckBoxIDgedcom"), o.IdGedcom);
  QTextDocument doc;
  TPersonCard card;
  PersInfo(ctx.model, p, o, doc, card);
  ctx.out << PersonCardPlainText(doc);
  if (!rtf.isEmpty()) {
    const QString error = platform::WriteRtfFile(rtf, doc);
    if (!error.isEmpty()) throw std::runtime_error(error.toStdString());
  }
  return 0;
}

const ReportRegistration kCard{"card", "card FILE ID [--rtf FILE]", &RunCard, {"--rtf"}, {}, true};

}  // namespace
