// trevolan-report duplicates FILE: the duplicate search, one line per matching pair in the page's order:
// the two persons' identifiers and the score as the page shows it, separated by tabs. The page's options
// are given by their control names with --set (CheckBox41, SpinEdit6 ..., RadioGroup5=1 for the
// similarity mode, RadioButton3 .. RadioButton6 for who is searched). --plain compares every pair
// without the pruning (the same output, slower).
#include "tools/report/ReportCommand.h"

#include "app/reports/Duplicates.h"

namespace {

TDuplicateOptions ReadOptions(const ReportContext& ctx) {
  TDuplicateOptions o;
  o.SurnameMen = ctx.Bool(QStringLiteral("CheckBox41"), o.SurnameMen);
  o.SurnameMenWeight = ctx.Int(QStringLiteral("SpinEdit6"), o.SurnameMenWeight);
  o.SurnameWomen = ctx.Bool(QStringLiteral("CheckBox48"), o.SurnameWomen);
  o.SurnameWomenWeight = ctx.Int(QStringLiteral("SpinEdit13"), o.SurnameWomenWeight);
  o.Maiden = ctx.Bool(QStringLiteral("CheckBox46"), o.Maiden);
  o.MaidenWeight = ctx.Int(QStringLiteral("SpinEdit11"), o.MaidenWeight);
  o.FirstName = ctx.Bool(QStringLiteral("CheckBox42"), o.FirstName);
  o.FirstNameWeight = ctx.Int(QStringLiteral("SpinEdit7"), o.FirstNameWeight);
  o.Patronymic = ctx.Bool(QStringLiteral("CheckBox43"), o.Patronymic);
  o.PatronymicWeight = ctx.Int(QStringLiteral("SpinEdit8"), o.PatronymicWeight);
  o.Birth = ctx.Bool(QStringLiteral("CheckBox44"), o.Birth);
  o.BirthWeight = ctx.Int(QStringLiteral("SpinEdit9"), o.BirthWeight);
  o.Death = ctx.Bool(QStringLiteral("CheckBox45"), o.Death);
  o.DeathWeight = ctx.Int(QStringLiteral("SpinEdit10"), o.DeathWeight);
  o.Father = ctx.Bool(QStringLiteral("CheckBox73"), o.Father);
  o.Mother = ctx.Bool(QStringLiteral("CheckBox74"), o.Mother);
  // Every value is checked against what its control can hold, as the weights are below.
  const int mode = ctx.Int(QStringLiteral("RadioGroup5"), 0);
  if (mode != 0 && mode != 1) throw ReportUsageError(QStringLiteral("RadioGroup5 is 0 (exact) or 1 (similarity)"));
  o.Similarity = mode == 1;
  o.Threshold = ctx.Int(QStringLiteral("SpinEdit12"), o.Threshold);
  if (o.Threshold < 10 || o.Threshold > 100) throw ReportUsageError(QStringLiteral("SpinEdit12 is 10..100"));
  o.ExcludeSiblings = ctx.Bool(QStringLiteral("CheckBox47"), o.ExcludeSiblings);
  o.Details = ctx.Bool(QStringLiteral("CheckBox49"), o.Details);
  if (ctx.Bool(QStringLiteral("RadioButton4"), false)) o.Who = TDuplicateWho::Men;
  if (ctx.Bool(QStringLiteral("RadioButton5"), false)) o.Who = TDuplicateWho::Women;
  if (ctx.Bool(QStringLiteral("RadioButton6"), false)) o.Who = TDuplicateWho::All;
  if (ctx.Bool(QStringLiteral("RadioButton3"), false)) o.Who = TDuplicateWho::CurrentOnly;
  for (const int w : {o.SurnameMenWeight, o.SurnameWomenWeight, o.MaidenWeight, o.FirstNameWeight,
                      o.PatronymicWeight, o.BirthWeight, o.DeathWeight})
    if (w < 1 || w > 10) throw ReportUsageError(QStringLiteral("weights are 1..10"));
  return o;
}

int RunDuplicates(ReportContext& ctx) {
  if (!ctx.args.isEmpty()) throw ReportUsageError(QStringLiteral("unexpected argument %1").arg(ctx.args.front()));
  const TDuplicateOptions o = ReadOptions(ctx);
  Model& m = ctx.model;
  BuildDuplicateRecords(m);
  if (o.Father || o.Mother) ResolveDuplicateParents(m);
  const auto pairs = FindDuplicatePairs(m, o, ctx.person, !ctx.Has(QStringLiteral("--plain")));
  for (const TDuplicatePair& p : pairs)
    ctx.out << m.aIndi[std::size_t(p.d)].INDI << '\t' << m.aIndi[std::size_t(p.p)].INDI << '\t'
            << DuplicatePercentText(p.score, p.total) << "%\n";
  return 0;
}

const ReportRegistration kDuplicates{"duplicates", "duplicates FILE [--plain] [--person ID] [--set NAME=VALUE]...",
                                     &RunDuplicates, {}, {"--plain"}};

}  // namespace
