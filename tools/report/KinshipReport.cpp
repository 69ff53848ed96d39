// trevolan-report kinship FILE ID1 ID2: how two persons are related, one line per entry of the link list
// in list order, each the entry's relation text as the kinship page shows it (its text line from the
// first person to the second). With nothing found, the list's single item ("Not found").
// Options are the page's controls by name (--set CheckBox25=1 names the relationships, --set
// CheckBox15=0 also searches paths through marriages, --set SpinEdit14=N their length); --seed N fixes
// the random order of that search; --picture FILE saves the picture of the first entry (BMP, JPG, PNG).
#include "tools/report/ReportCommand.h"

#include "app/charts/Kinship.h"
#include "app/charts/KinshipPicture.h"
#include "platform/qt/PictureFile.h"
#include "tools/report/OutputFile.h"

namespace {

TKinshipOptions OptionsOf(const ReportContext& ctx) {
  TKinshipOptions o;
  o.Surname = ctx.Bool(QStringLiteral("CheckBox24"), o.Surname);
  o.BirthSurname = ctx.Bool(QStringLiteral("CheckBox23"), o.BirthSurname);
  o.BirthBrackets = ctx.Bool(QStringLiteral("CheckBox13"), o.BirthBrackets);
  o.FirstName = ctx.Bool(QStringLiteral("CheckBox22"), o.FirstName);
  o.Patronymic = ctx.Bool(QStringLiteral("CheckBox21"), o.Patronymic);
  o.YearsLife = ctx.Bool(QStringLiteral("CheckBox20"), o.YearsLife);
  o.DatesLife = ctx.Bool(QStringLiteral("CheckBox19"), o.DatesLife);
  o.DateBrackets = ctx.Bool(QStringLiteral("CheckBox12"), o.DateBrackets);
  o.RelationName = ctx.Bool(QStringLiteral("CheckBox25"), o.RelationName);
  o.RelationCode = ctx.Bool(QStringLiteral("CheckBox8"), o.RelationCode);
  o.CodeBrackets = ctx.Bool(QStringLiteral("CheckBox57"), o.CodeBrackets);
  o.OnlyBlood = ctx.Bool(QStringLiteral("CheckBox15"), o.OnlyBlood);
  o.MaxLen = ctx.Int(QStringLiteral("SpinEdit14"), o.MaxLen);
  if (o.MaxLen < 3 || o.MaxLen > 100) throw ReportUsageError(QStringLiteral("SpinEdit14 must be 3 .. 100"));
  return o;
}

int RunKinship(ReportContext& ctx) {
  if (ctx.args.size() != 2) throw ReportUsageError(QStringLiteral("kinship needs two person identifiers"));
  const std::int64_t a = ctx.RequirePerson(ctx.args[0]);
  const std::int64_t b = ctx.RequirePerson(ctx.args[1]);
  const TKinshipOptions o = OptionsOf(ctx);
  const QString file = ctx.Option(QStringLiteral("--picture"));
  if (!file.isEmpty()) CheckOutputFile(file, ctx.file);
  TKinship k;
  if (ctx.Has(QStringLiteral("--seed"))) k.Random.seed(quint32(ctx.IntOption(QStringLiteral("--seed"), 0)));
  Link2PersGedcom(ctx.model, k, a, b, o);
  const QImage first = k.Picture;
  if (k.aLinkChains.empty()) {
    ctx.out << k.Items.value(0) << '\n';
  } else {
    for (int i = 0; i < int(k.aLinkChains.size()); ++i) {
      ComboBox3Change(ctx.model, k, i, o);
      ctx.out << k.Text.toPlainText() << '\n';
    }
  }
  if (!file.isEmpty()) {
    if (first.isNull()) throw std::runtime_error("nothing to draw");
    const QString end = file.right(3).toUpper();
    const platform::TPictureFormat format = end == u"BMP"   ? platform::TPictureFormat::Bmp
                                            : end == u"PNG" ? platform::TPictureFormat::Png
                                                            : platform::TPictureFormat::Jpeg;
    const QString error = platform::WritePicture(file, format, first);
    if (!error.isEmpty()) throw std::runtime_error(error.toStdString());
  }
  return 0;
}

const ReportRegistration kKinship{"kinship", "kinship FILE ID1 ID2 [--seed N] [--picture FILE]", &RunKinship,
                                  {"--seed", "--picture"}, {}, true};

}  // namespace
