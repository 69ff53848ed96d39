// trevolan-report chart words, as the scheme and fan pages build them with their designed options
// (any option control by name with --set):
//   ancestors FILE --person ID      the ancestor scheme's node lines, one per line, indented by a tab per level
//   descendants FILE --person ID    the descendant scheme's node lines, likewise
//   fan FILE OUT --person ID [--descendants] [--generations N] [--type N]
//                                   the fan chart saved at full size as the page saves it (format by OUT's extension)
//   tree FILE OUT --person ID [--descendants]
//                                   the scheme's tree picture saved in one file (BMP, JPG or PNG by OUT's extension)
#include "tools/report/ReportCommand.h"

#include "app/charts/Ancestors.h"
#include "app/charts/ChartFiles.h"
#include "app/charts/Descendants.h"
#include "app/charts/FanChart.h"
#include "platform/qt/PictureFile.h"
#include "tools/report/OutputFile.h"

#include <algorithm>
#include <stdexcept>

namespace {

TAncestorTextOptions AncestorOptions(const ReportContext& ctx) {
  TAncestorTextOptions o;
  o.FullName = ctx.Bool(QStringLiteral("CheckBox60"), o.FullName);
  o.Surname = ctx.Bool(QStringLiteral("CheckBox61"), o.Surname);
  o.BirthSurname = ctx.Bool(QStringLiteral("CheckBox62"), o.BirthSurname);
  o.Brackets = ctx.Bool(QStringLiteral("CheckBox63"), o.Brackets);
  o.FirstName = ctx.Bool(QStringLiteral("CheckBox64"), o.FirstName);
  o.Patronymic = ctx.Bool(QStringLiteral("CheckBox65"), o.Patronymic);
  o.YearsLife = ctx.Bool(QStringLiteral("CheckBox66"), o.YearsLife);
  o.DatesLife = ctx.Bool(QStringLiteral("CheckBox67"), o.DatesLife);
  o.BirthPlace = ctx.Bool(QStringLiteral("CheckBox70"), o.BirthPlace);
  return o;
}

TDescendantOptions DescendantOptions(const ReportContext& ctx) {
  TDescendantOptions o;
  o.Numbering = static_cast<TNumbering>(std::clamp(ctx.Int(QStringLiteral("RadioGroup16"), 0), 0, 3));
  o.Filter = static_cast<TLineFilter>(std::clamp(ctx.Int(QStringLiteral("RadioGroup6"), 0), 0, 3));
  o.PersonNote = ctx.Bool(QStringLiteral("CheckBox17"), o.PersonNote);
  o.EventPlace = ctx.Bool(QStringLiteral("CheckBox18"), o.EventPlace);
  o.EventNote = ctx.Bool(QStringLiteral("CheckBox16"), o.EventNote);
  o.DeathCause = ctx.Bool(QStringLiteral("CheckBox14"), o.DeathCause);
  o.BirthLabel = ctx.Text(QStringLiteral("Edit3"), o.BirthLabel);
  o.MarrLabel = ctx.Text(QStringLiteral("Edit4"), o.MarrLabel);
  o.DeathLabel = ctx.Text(QStringLiteral("Edit5"), o.DeathLabel);
  return o;
}

std::int64_t Person(const ReportContext& ctx) {
  if (ctx.person <= 0) throw ReportUsageError(QStringLiteral("the file has no person to start from"));
  return ctx.person;
}

std::vector<TTreeRow> SchemeRows(const ReportContext& ctx, bool descendants) {
  TTreeNodes nodes;
  const QString current = QString::number(Person(ctx));
  if (descendants) {
    std::vector<TPers2> list;
    SxPotGedcom(ctx.model, list, nodes, current, DescendantOptions(ctx));
  } else {
    TAncestorList list;
    SxPrGedcom(ctx.model, list, nodes, current, true, AncestorOptions(ctx), 1);
  }
  return TreeRows(nodes);
}

int RunAncestors(ReportContext& ctx) {
  if (!ctx.args.isEmpty()) throw ReportUsageError(QStringLiteral("ancestors takes no further argument"));
  ctx.out << TreeText(SchemeRows(ctx, false)).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return 0;
}

int RunDescendants(ReportContext& ctx) {
  if (!ctx.args.isEmpty()) throw ReportUsageError(QStringLiteral("descendants takes no further argument"));
  ctx.out << TreeText(SchemeRows(ctx, true)).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return 0;
}

QString OutputFile(const ReportContext& ctx, const char* word) {
  if (ctx.args.size() != 1) throw ReportUsageError(QStringLiteral("%1 needs one output file").arg(QLatin1String(word)));
  CheckOutputFile(ctx.args[0], ctx.file);
  return ctx.args[0];
}

platform::TPictureFormat FormatOf(const QString& fileName) {
  const QString ext = fileName.section(QLatin1Char('.'), -1).toLower();
  if (ext == u"bmp") return platform::TPictureFormat::Bmp;
  if (ext == u"jpg" || ext == u"jpeg") return platform::TPictureFormat::Jpeg;
  if (ext == u"png") return platform::TPictureFormat::Png;
  throw ReportUsageError(QStringLiteral("%1: the picture is saved as .bmp, .jpg or .png").arg(fileName));
}

int RunFan(ReportContext& ctx) {
  const QString out = OutputFile(ctx, "fan");
  const platform::TPictureFormat format = FormatOf(out);
  TFanOptions o;
  o.Direction = ctx.Has(QStringLiteral("--descendants")) ? 1 : ctx.Int(QStringLiteral("ComboBox12"), 0);
  o.Generations = std::clamp(ctx.IntOption(QStringLiteral("--generations"), ctx.Int(QStringLiteral("SpinEdit1"), 8)), 2, 13);
  o.FanType = std::clamp(ctx.IntOption(QStringLiteral("--type"), ctx.Int(QStringLiteral("ComboBox8"), 0)), 0, 4);
  o.Auto = ctx.Bool(QStringLiteral("CheckBox82"), o.Auto);
  o.Coloring = std::clamp(ctx.Int(QStringLiteral("ComboBox7"), o.Coloring), 0, 2);
  o.Orientation = std::clamp(ctx.Int(QStringLiteral("ComboBox6"), o.Orientation), 0, 2);
  o.Surname = ctx.Bool(QStringLiteral("CheckBox1"), o.Surname);
  o.BirthSurname = ctx.Bool(QStringLiteral("CheckBox2"), o.BirthSurname);
  o.NameBrackets = ctx.Bool(QStringLiteral("CheckBox9"), o.NameBrackets);
  o.FirstName = ctx.Bool(QStringLiteral("CheckBox3"), o.FirstName);
  o.Patronymic = ctx.Bool(QStringLiteral("CheckBox4"), o.Patronymic);
  o.Years = ctx.Bool(QStringLiteral("CheckBox5"), o.Years);
  o.Dates = ctx.Bool(QStringLiteral("CheckBox6"), o.Dates);
  o.DateBrackets = ctx.Bool(QStringLiteral("CheckBox10"), o.DateBrackets);
  const QString current = QString::number(Person(ctx));
  TAncestorList ancestors;
  TFanList descendants;
  if (o.Direction == 0) {
    FillTree(ctx.model, ancestors, current, 1);
  } else {
    TFanListOptions lo;
    lo.Auto = o.Auto;
    lo.Generations = o.Generations;
    lo.FanType = o.FanType;
    FillTree2(ctx.model, descendants, current, lo);
  }
  TFanLayout layout;
  layout.SetRunningSums(o.Direction);
  platform::TImageCanvas picture;
  const TFanResult r = fanChart(o.Direction, o, layout, ancestors.aPers, descendants, picture);
  if (!r.Drawn) throw std::runtime_error("nothing to draw for this person");
  const QString error = platform::WritePicture(out, format, picture.Image());
  if (!error.isEmpty()) throw std::runtime_error(error.toStdString());
  ctx.out << r.Label << '\n';
  return 0;
}

int RunTree(ReportContext& ctx) {
  const QString out = OutputFile(ctx, "tree");
  FormatOf(out);
  QString message;
  const bool written =
      WriteTreePicture(SchemeRows(ctx, ctx.Has(QStringLiteral("--descendants"))), out, TSplit::None, message);
  if (!written) throw std::runtime_error(message.toStdString());
  return 0;
}

const ReportRegistration kAncestors{"ancestors", "ancestors FILE --person ID", &RunAncestors};
const ReportRegistration kDescendants{"descendants", "descendants FILE --person ID", &RunDescendants};
const ReportRegistration kFan{"fan", "fan FILE OUT --person ID [--descendants] [--generations N] [--type N]", &RunFan,
                              {"--generations", "--type"}, {"--descendants"}, true};
const ReportRegistration kTree{"tree", "tree FILE OUT --person ID [--descendants]", &RunTree, {}, {"--descendants"}, true};

}  // namespace
