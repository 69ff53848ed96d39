#include "app/charts/PersonCard.h"
#include "KinshipFixtures.h"
#include "platform/qt/RecordingCanvas.h"
#include "platform/qt/RtfWriter.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextFragment>

#include <gtest/gtest.h>

namespace {

struct TCardRun {
  QString href;
  QString text;
  bool bold, underline;
  QRgb color;
};

// The text runs of a card with their links and styles, in order.
std::vector<TCardRun> Runs(const QTextDocument& doc) {
  std::vector<TCardRun> out;
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      const QTextFragment f = it.fragment();
      if (!f.isValid() || f.charFormat().isImageFormat()) continue;
      const QTextCharFormat cf = f.charFormat();
      out.push_back({cf.anchorHref(), f.text(), cf.fontWeight() >= QFont::Bold, cf.fontUnderline(),
                     cf.foreground().color().rgb() & 0xFFFFFF});
    }
  return out;
}

std::vector<std::int64_t> LinkTargets(const QTextDocument& doc) {
  std::vector<std::int64_t> out;
  for (const TCardRun& r : Runs(doc))
    if (!r.href.isEmpty()) out.push_back(PersonOfAnchor(r.href));
  return out;
}

struct Card : Clan {
  Card() {
    TINDI& A = m.aIndi[size_t(a)];
    A.BIRT_PLAC = QStringLiteral("Tula");
    A.BIRT_NOTE = QStringLiteral("born at home");
    A.DEAT = QStringLiteral("+");
    A.DEAT_DATE.NORM = QStringLiteral("05.06.1950");
    A.DEAT_PLAC = QStringLiteral("Orel");
    A.INDI = QStringLiteral("@I10@");
    m.aIndi[size_t(f)].INDI = QStringLiteral("@I6@");
    TFAM& marriage = m.aFam[size_t(A.FAMS.front())];
    marriage.MARR_DATE.NORM = QStringLiteral("07.08.1915");
    marriage.MARR_PLAC = QStringLiteral("Kaluga");
    marriage.FAM = QStringLiteral("@F7@");
    son = Person(QStringLiteral("Orlov Lev"), QStringLiteral("M"), QStringLiteral("1916"));
    m.aIndi[size_t(son)].FIRS1 = QStringLiteral("Lev");
    marriage.CHIL.push_back(son);
    m.aIndi[size_t(son)].FAMC = A.FAMS.front();
    m.aIndi[size_t(son)].FAVOR = QStringLiteral("2");
  }
  std::int64_t son;
};

TEST(PersInfo, WritesTheCardOfAPerson) {
  Card t;
  QTextDocument doc;
  TPersonCard card;
  PersInfo(t.m, t.a, {}, doc, card);
  EXPECT_EQ(PersonCardPlainText(doc),
            QStringLiteral("Orlov Anton\n"
                           "\n"
                           "Рождение: 01.01.1890 Tula\n"
                           "born at home\n"
                           "\n"
                           "Отец: Orlov Fedor 01.01.1860\n"
                           "Мать: Orlova Maria 01.01.1862\n"
                           "Сестра: Orlova Sofia 01.01.1892\n"
                           "Брат: Orlov Boris 01.01.1894\n"
                           "\n"
                           "Жена: Orlova Zoya 01.01.1893\n"
                           "Брак: 07.08.1915 Kaluga\n"
                           "\n"
                           "Дети:\n"
                           "1. Lev 01.01.1916\n"
                           "\n"
                           "Смерть: 05.06.1950 Orel\n"
                           "\n"));
  EXPECT_EQ(LinkTargets(doc), (std::vector<std::int64_t>{t.f, t.m_, t.sis, t.bro, t.wife, t.son}));
  EXPECT_EQ(card.PersInfoLinks, QStringLiteral("Orlov Fedor 01.01.1860=%1;Orlova Maria 01.01.1862=%2;Orlova Sofia "
                                               "01.01.1892=%3;Orlov Boris 01.01.1894=%4;Orlova Zoya 01.01.1893=%5;1. "
                                               "Lev 01.01.1916=%6;")
                                    .arg(t.f).arg(t.m_).arg(t.sis).arg(t.bro).arg(t.wife).arg(t.son));
  // Colours and styles: navy for men, maroon for women, labels bold, links underlined; the child with a
  // relation mark is bold.
  for (const TCardRun& r : Runs(doc)) {
    if (r.text == QStringLiteral("Отец: ")) {
      EXPECT_TRUE(r.bold);
      EXPECT_EQ(r.color, 0x000080u);
    }
    if (r.text.startsWith(QStringLiteral("Orlova Maria"))) {
      EXPECT_TRUE(r.underline);
      EXPECT_FALSE(r.bold);
      EXPECT_EQ(r.color, 0x800000u);
    }
    if (r.text.startsWith(QStringLiteral("1. Lev"))) {
      EXPECT_TRUE(r.bold && r.underline);
    }
    if (r.text == QStringLiteral("Orlov Anton")) {
      EXPECT_TRUE(r.bold && r.underline);
      EXPECT_TRUE(r.href.isEmpty()) << "the person's own name is no link";
    }
  }
  // The chart sits at the end of the text.
  ASSERT_FALSE(card.Chart.isNull());
  EXPECT_EQ(card.Chart.size(), QSize(600, 220));
  EXPECT_TRUE(doc.toPlainText().endsWith(QChar::ObjectReplacementCharacter));
}

TEST(PersInfo, EqualRelativeTextsLinkToTheirOwnPersons) {
  TreeBuilder t;
  const auto f = t.Person(QStringLiteral("Ivanov Ivan"), QStringLiteral("M"), QStringLiteral("1900"));
  const auto c1 = t.Person(QStringLiteral("Ivanov Petr"), QStringLiteral("M"), QStringLiteral("1930"));
  const auto c2 = t.Person(QStringLiteral("Ivanov Petr"), QStringLiteral("M"), QStringLiteral("1930"));
  const auto c3 = t.Person(QStringLiteral("Ivanov Petr Ivanovich"), QStringLiteral("M"), QStringLiteral("1930"));
  const auto me = t.Person(QStringLiteral("Ivanov Oleg"), QStringLiteral("M"), QStringLiteral("1932"));
  t.Family(f, 0, {c1, c2, c3, me});
  QTextDocument doc;
  TPersonCard card;
  PersInfo(t.m, me, {}, doc, card);
  // The missing mother's line has no link; the three brothers link to themselves.
  EXPECT_EQ(LinkTargets(doc), (std::vector<std::int64_t>{f, c1, c2, c3}));
  EXPECT_TRUE(PersonCardPlainText(doc).contains(QStringLiteral("\nМать: ")));
  EXPECT_EQ(card.Links.size(), 4u);
}

TEST(PersInfo, SpouseWordsWithoutAMarriageAndRecordIdentifiers) {
  Card t;
  TFAM& marriage = t.m.aFam[size_t(t.m.aIndi[size_t(t.a)].FAMS.front())];
  marriage.MARR.clear();
  QTextDocument doc;
  TPersonCard card;
  PersInfo(t.m, t.a, {}, doc, card);
  QString text = PersonCardPlainText(doc);
  EXPECT_TRUE(text.contains(QStringLiteral("\nСупруга: Orlova Zoya 01.01.1893\n\nДети:")));
  EXPECT_FALSE(text.contains(QStringLiteral("Брак")));
  PersInfo(t.m, t.a, {true}, doc, card);
  text = PersonCardPlainText(doc);
  EXPECT_TRUE(text.startsWith(QStringLiteral("Orlov Anton (@I10@ %1)\n").arg(t.a)));
  EXPECT_TRUE(text.contains(QStringLiteral("Отец: Orlov Fedor 01.01.1860 [@I6@]\n")));
  EXPECT_TRUE(text.contains(QStringLiteral("Супруга: Orlova Zoya 01.01.1893 []\n(@F7@)\n")));
  EXPECT_TRUE(text.contains(QStringLiteral("1. Lev 01.01.1916 []\n")));
  // A woman's husband; a dead relative shows both dates.
  PersInfo(t.m, t.wife, {}, doc, card);
  text = PersonCardPlainText(doc);
  EXPECT_TRUE(text.contains(QStringLiteral("Супруг: Orlov Anton (01.01.1890-05.06.1950)\n")));
}

TEST(PersInfo, NoPersonGivesAnEmptyCard) {
  Card t;
  QTextDocument doc;
  TPersonCard card;
  for (std::int64_t p : {std::int64_t(0), std::int64_t(-1), std::int64_t(t.m.aIndi.size())}) {
    PersInfo(t.m, p, {}, doc, card);
    EXPECT_TRUE(doc.isEmpty());
    EXPECT_TRUE(card.Links.empty());
  }
  EXPECT_EQ(PersonOfAnchor(QStringLiteral("person:12")), 12);
  EXPECT_EQ(PersonOfAnchor(QStringLiteral("person:x")), 0);
  EXPECT_EQ(PersonOfAnchor(QStringLiteral("12")), 0);
}

TEST(PaintTree, ThreeGenerationsOn600PixelsAtHalfScale) {
  Clan t;
  const auto mp = t.Person(QStringLiteral("Popov Pavel"), QStringLiteral("M"));
  const auto mm = t.Person(QStringLiteral("Popova Polina"), QStringLiteral("F"));
  t.Family(mp, mm, {t.m_});
  std::vector<TPers> a;
  FillTreeGenerations(t.m, a, t.a, 3);
  ASSERT_EQ(a.size(), 7u);
  platform::TRecordingCanvas c;
  c.SetSize(600, 105);
  c.Clear();
  PaintTree(a, 3, c);
  const QStringList calls = c.Calls();
  EXPECT_EQ(calls.front(), QStringLiteral("SetSize 600,220"));
  QStringList frames;
  for (const QString& s : calls)
    if (s.startsWith(QStringLiteral("StretchDraw"))) frames << s;
  // Cells of 136 x 60, rows 75 apart; the root centred, parents at the quarters, grandparents at eighths.
  EXPECT_EQ(frames, (QStringList{QStringLiteral("StretchDraw 232,0,368,60 from 273x121 smooth"),
                                 QStringLiteral("StretchDraw 82,75,218,135 from 273x121 smooth"),
                                 QStringLiteral("StretchDraw 382,75,518,135 from 273x121 smooth"),
                                 QStringLiteral("StretchDraw 7,150,143,210 from 273x121 smooth"),
                                 QStringLiteral("StretchDraw 157,150,293,210 from 273x121 smooth"),
                                 QStringLiteral("StretchDraw 307,150,443,210 from 273x121 smooth"),
                                 QStringLiteral("StretchDraw 457,150,593,210 from 273x121 smooth")}));
  EXPECT_TRUE(calls.contains(QStringLiteral("Polyline 300,60 300,68 150,68 150,75 pen=808080/1/masknotpen")));
  EXPECT_TRUE(calls.contains(QStringLiteral("Polyline 450,135 450,143 525,143 525,150 pen=808080/1/masknotpen")));
  EXPECT_EQ(a[6].iX, 525);
}

TEST(PaintTree, FramesBySexAndTallTextClipped) {
  platform::TRecordingCanvas c;
  c.SetSize(600, 105);
  PaintCell(300, 0, 0.5, c, QStringLiteral("x"), 1, QStringLiteral("F"));
  PaintCell(300, 0, 0.5, c, QStringLiteral("x"), 1, QString());  // odd position: male
  PaintCell(300, 0, 0.5, c, QStringLiteral("x"), 2, QString());  // even position: female
  PaintCell(300, 0, 0.5, c, QStringLiteral("x"), 2, QStringLiteral("U"));  // another letter: no frame
  int frames = 0;
  for (const QString& s : c.Calls()) frames += s.startsWith(QStringLiteral("StretchDraw"));
  EXPECT_EQ(frames, 3);
  c.Clear();
  PaintCell(300, 1, 0.5, c, QString(40, QLatin1Char('w')).replace(QLatin1Char('w'), QStringLiteral("word ")), 1,
            QStringLiteral("M"));
  const QString draw = c.Calls().last();
  EXPECT_TRUE(draw.startsWith(QStringLiteral("DrawTextCentered 232,75,368,130 "))) << draw.toStdString();
}

TEST(PersonCardRtf, KeepsThePicture) {
  Card t;
  QTextDocument doc;
  TPersonCard card;
  PersInfo(t.m, t.a, {}, doc, card);
  const QByteArray rtf = platform::DocumentToRtf(doc);
  EXPECT_TRUE(rtf.contains("{\\pict\\pngblip\\picw600\\pich220"));
  EXPECT_TRUE(rtf.contains("\\fs18"));
  EXPECT_TRUE(rtf.contains("Tahoma"));
}

// The saved card opens in LibreOffice with its picture.
TEST(PersonCardRtf, LibreOfficeOpensItWithThePicture) {
  Card t;
  QTextDocument doc;
  TPersonCard card;
  PersInfo(t.m, t.a, {}, doc, card);
  const QString office = QStandardPaths::findExecutable(QStringLiteral("soffice"));
  ASSERT_FALSE(office.isEmpty()) << "LibreOffice missing (scripts/install-deps.sh installs it)";
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.filePath(QStringLiteral("card.rtf"));
  ASSERT_EQ(platform::WriteRtfFile(file, doc), QString());
  QProcess p;
  p.start(office, {QStringLiteral("-env:UserInstallation=file://") + dir.filePath(QStringLiteral("profile")),
                   QStringLiteral("--headless"), QStringLiteral("--convert-to"), QStringLiteral("html"),
                   QStringLiteral("--outdir"), dir.path(), file});
  ASSERT_TRUE(p.waitForFinished(120000));
  QFile html(dir.filePath(QStringLiteral("card.html")));
  ASSERT_TRUE(html.open(QIODevice::ReadOnly)) << p.readAllStandardError().toStdString();
  // The HTML writer wraps long lines: compare with blank runs collapsed.
  const QString body = QString::fromUtf8(html.readAll()).simplified();
  EXPECT_TRUE(body.contains(QStringLiteral("Orlov Anton")));
  EXPECT_TRUE(body.contains(QStringLiteral("Рождение")));
  EXPECT_TRUE(body.contains(QStringLiteral("<img"))) << "the chart picture";
}

}  // namespace
