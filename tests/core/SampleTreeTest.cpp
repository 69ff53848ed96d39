// The bundled sample tree: both encodings read to the same model, which has the shape the reports rely
// on (seven generations, Cyrillic names, several marriages) and matches its recorded canonical text.
#include "app/core/GedcomReader.h"
#include "app/core/ModelCheck.h"
#include "app/core/ModelDump.h"

#include <QFile>

#include <gtest/gtest.h>

#include "tests/core/QtPrint.h"

namespace {

const QString kSamples = QStringLiteral(TREVOLAN_SOURCE_DIR "/samples/");

QString DumpOf(const QString& file, Model& m) {
  Ged_Indi(m, kSamples + file);
  const QStringList problems = CheckModel(m);
  EXPECT_TRUE(problems.isEmpty()) << problems.join(u'\n').toStdString();
  QString d = DumpModel(m, QStringLiteral("20260101"));
  return d.mid(d.indexOf(u'\n') + 1);  // without the header line, which names the character set
}

int Generations(const Model& m, std::size_t i) {
  int depth = 1;
  for (std::int64_t f = m.aIndi[i].FAMC; f != 0 && depth < 100;) {
    const std::int64_t father = m.aFam[std::size_t(f)].HUSB;
    if (father == 0) break;
    ++depth;
    f = m.aIndi[std::size_t(father)].FAMC;
  }
  return depth;
}

TEST(SampleTree, BothEncodingsReadTheSameTree) {
  Model a, b;
  EXPECT_EQ(DumpOf(QStringLiteral("sample-cp1251.ged"), a), DumpOf(QStringLiteral("sample-utf8.ged"), b));
  EXPECT_EQ(a.GedHead.CHAR, QStringLiteral("ANSI"));
  EXPECT_EQ(b.GedHead.CHAR, QStringLiteral("UTF-8"));
}

TEST(SampleTree, Shape) {
  Model m;
  Ged_Indi(m, kSamples + QStringLiteral("sample-utf8.ged"));
  EXPECT_GE(m.PersonCount(), 140);
  EXPECT_LE(m.PersonCount(), 170);
  int deepest = 0, remarried = 0, dated = 0;
  for (std::size_t i = 1; i < m.aIndi.size(); ++i) {
    deepest = std::max(deepest, Generations(m, i));
    remarried += m.aIndi[i].FAMS.size() > 1;
    dated += m.aIndi[i].BIRT_DATE.DDATE != kUnknownDate;
  }
  EXPECT_GE(deepest, 6);
  EXPECT_GE(remarried, 2);
  EXPECT_GT(dated, 30);
  EXPECT_EQ(m.aIndi[1].FIO1, QString::fromUtf8("Северцев Пётр Никитич"));
}

// The recorded canonical text; regenerate with
//   build/tools/trevolan-dump samples/sample-utf8.ged > tests/data/core/sample-utf8.dump
// after a deliberate change (the upper bound "today" is written as such, so the file does not age).
TEST(SampleTree, MatchesRecordedDump) {
  QFile f(QStringLiteral(TREVOLAN_SOURCE_DIR "/tests/data/core/sample-utf8.dump"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  Model m;
  Ged_Indi(m, kSamples + QStringLiteral("sample-utf8.ged"));
  const QString expected = QString::fromUtf8(f.readAll());
  const QString actual = DumpModel(m);
  if (expected != actual) {
    const QStringList e = expected.split(u'\n'), a = actual.split(u'\n');
    for (qsizetype i = 0; i < std::min(e.size(), a.size()); ++i) {
      ASSERT_EQ(e[i], a[i]) << "first difference at line " << i + 1;
    }
    FAIL() << "line counts differ: " << e.size() << " vs " << a.size();
  }
}

}  // namespace
