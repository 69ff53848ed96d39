#include "app/charts/ChartOutput.h"
#include "app/charts/Kinship.h"
#include "app/charts/KinshipPicture.h"
#include "KinshipFixtures.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/PageSink.h"
#include "platform/qt/RecordingCanvas.h"

#include <gtest/gtest.h>

namespace {

const QString kPen = QStringLiteral("pen=808080/1/masknotpen");

TKinshipOptions Named() {
  TKinshipOptions o;
  o.RelationName = true;
  return o;
}

QStringList Only(const QStringList& calls, const QString& prefix) {
  QStringList out;
  for (const QString& c : calls)
    if (c.startsWith(prefix)) out << c;
  return out;
}

QStringList TreeTexts(const TKinship& k) {
  QStringList out;
  for (int i : k.Tree.PreOrder()) out << k.Tree[i].Text;
  return out;
}

// Draws entry `index` of the link list from a to b on a recording canvas.
platform::TRecordingCanvas Draw(const Model& m, TKinship& k, std::int64_t a, std::int64_t b, const TKinshipOptions& o,
                                int index = 0) {
  Link2PersGedcom(m, k, a, b, o);
  platform::TRecordingCanvas c;
  const QString entry = k.aLinkChains.at(size_t(index));
  k.ItemIndex = index;
  if (entry.contains(QLatin1Char(';')))
    Link2PersPaintExGedcom(m, k, entry, o, c);
  else
    Link2PersPaint(m, k, entry, o, c);
  return c;
}

TEST(Link2PersPaint, SiblingsUnderTheirFatherWithAFork) {
  Clan t;
  TKinship k;
  const auto c = Draw(t.m, k, t.a, t.sis, Named());
  EXPECT_EQ(TreeTexts(k), (QStringList{QStringLiteral("Orlov Fedor 1860 Отец"), QStringLiteral("Orlov Anton 1890"),
                                       QStringLiteral("Orlova Sofia 1892 Сестра")}));
  EXPECT_EQ(k.Text.toPlainText(), QStringLiteral("Orlov Anton 1890 > Orlov Fedor 1860 Отец > Orlova Sofia 1892 Сестра"));
  EXPECT_EQ(c.Calls().front(), QStringLiteral("SetSize 600,300"));
  EXPECT_EQ(Only(c.Calls(), QStringLiteral("Line")),
            (QStringList{QStringLiteral("Line 150,150,450,150 ") + kPen, QStringLiteral("Line 150,150,150,250 ") + kPen,
                         QStringLiteral("Line 450,150,450,250 ") + kPen, QStringLiteral("Line 300,150,300,120 ") + kPen}));
  EXPECT_EQ(Only(c.Calls(), QStringLiteral("StretchDraw")),
            (QStringList{QStringLiteral("StretchDraw 165,15,438,136 from 273x121"),
                         QStringLiteral("StretchDraw 20,165,293,286 from 273x121"),
                         QStringLiteral("StretchDraw 320,165,593,286 from 273x121")}));
  // Father and son in male frames, the sister in the female one.
  EXPECT_EQ(k.Tree[0].StateImage, 1);
  EXPECT_EQ(k.Tree[k.Tree.PreOrder()[2]].StateImage, 2);
}

TEST(Link2PersPaint, ADirectAncestorIsOneColumnWithVerticalLines) {
  Clan t;
  TKinship k;
  const auto c = Draw(t.m, k, t.a, t.g1, Named());
  ASSERT_EQ(k.aLinkChains.front(), QStringLiteral("."));
  EXPECT_EQ(TreeTexts(k), (QStringList{QStringLiteral("Orlov Ivan 1830 Дед"), QStringLiteral("Orlov Fedor 1860 Отец"),
                                       QStringLiteral("Orlov Anton 1890")}));
  EXPECT_EQ(Only(c.Calls(), QStringLiteral("Line")),
            (QStringList{QStringLiteral("Line 150,132,150,165 ") + kPen, QStringLiteral("Line 150,282,150,315 ") + kPen}));
  EXPECT_EQ(Only(c.Calls(), QStringLiteral("StretchDraw")),
            (QStringList{QStringLiteral("StretchDraw 20,15,293,136 from 273x121"),
                         QStringLiteral("StretchDraw 20,165,293,286 from 273x121"),
                         QStringLiteral("StretchDraw 20,315,293,436 from 273x121")}));
  EXPECT_EQ(k.LinkChain, Id(t.a) + QLatin1Char(';') + Id(t.f) + QLatin1Char(';') + Id(t.g1) + QLatin1Char(';'));
}

TEST(Link2PersPaint, TheCodeAloneWhenTheNameIsOff) {
  Clan t;
  TKinshipOptions o;
  o.RelationCode = true;
  o.CodeBrackets = true;
  TKinship k;
  const auto c = Draw(t.m, k, t.a, t.cousin, o);
  EXPECT_EQ(TreeTexts(k).last(), QStringLiteral("Orlov Kirill 1891  (PPCS)"));
  EXPECT_TRUE(Only(c.Calls(), QStringLiteral("DrawTextCentered")).last().endsWith(QStringLiteral("\"Orlov Kirill\n1891\n (PPCS)\"")));
  // Without either option the boxes show the display text only.
  TKinship plain;
  Draw(t.m, plain, t.a, t.cousin, TKinshipOptions{});
  EXPECT_EQ(TreeTexts(plain).last(), QStringLiteral("Orlov Kirill 1891"));
}

TEST(Link2PersPaintExGedcom, ASpouseStandsOneColumnRightOnTheSameRow) {
  Clan t;
  TKinshipOptions o = Named();
  o.OnlyBlood = false;
  TKinship k;
  k.Random.seed(5);
  const auto c = Draw(t.m, k, t.a, t.wf, o);
  ASSERT_EQ(ChainCodes(k.aLinkChains.front()), QStringLiteral("52"));
  EXPECT_EQ(c.Calls().front(), QStringLiteral("SetSize 600,300"));
  EXPECT_EQ(Only(c.Calls(), QStringLiteral("StretchDraw")),
            (QStringList{QStringLiteral("StretchDraw 0,15,273,136 from 273x121"),
                         QStringLiteral("StretchDraw 300,15,573,136 from 273x121"),
                         QStringLiteral("StretchDraw 300,165,573,286 from 273x121")}));
  EXPECT_EQ(Only(c.Calls(), QStringLiteral("Line")),
            (QStringList{QStringLiteral("Line 268,75,300,75 ") + kPen, QStringLiteral("Line 430,131,430,165 ") + kPen}));
  const QStringList texts = Only(c.Calls(), QStringLiteral("DrawTextCentered"));
  ASSERT_EQ(texts.size(), 3);
  EXPECT_TRUE(texts[2].endsWith(QStringLiteral("\"Belov Zakhar\n1860\nОтец\"")));
  EXPECT_TRUE(k.Tree.Empty());
}

TEST(Link2PersPaintExGedcom, TurnsBetweenUpAndDownMoveHalfAColumnEach) {
  Clan t;
  TKinship k;
  platform::TRecordingCanvas c;
  // a -> f (parent) -> sis (child): the father stands between and below his children.
  Link2PersPaintExGedcom(t.m, k, Id(t.a) + QLatin1Char(';') + Id(t.f) + QLatin1Char(';') + Id(t.sis) + QStringLiteral(";21"),
                         Named(), c);
  EXPECT_EQ(c.Calls().front(), QStringLiteral("SetSize 600,300"));
  EXPECT_EQ(Only(c.Calls(), QStringLiteral("StretchDraw")),
            (QStringList{QStringLiteral("StretchDraw 0,15,273,136 from 273x121"),
                         QStringLiteral("StretchDraw 150,165,423,286 from 273x121"),
                         QStringLiteral("StretchDraw 300,15,573,136 from 273x121")}));
  EXPECT_EQ(Only(c.Calls(), QStringLiteral("Polyline")),
            (QStringList{QStringLiteral("Polyline 130,131 130,150 280,150 280,165 ") + kPen,
                         QStringLiteral("Polyline 280,165 280,150 430,150 430,131 ") + kPen}));
  EXPECT_EQ(k.Text.toPlainText(), QStringLiteral("Orlov Anton > Orlov Fedor > Orlova Sofia"));
}

TEST(Link2PersPaintExGedcom, ALongChainIsDrawnWithinThePixelBudget) {
  Clan t;
  TKinship k;
  platform::TRecordingCanvas c;
  QString chain;
  for (int i = 0; i < 81; ++i) chain += Id(t.a) + QLatin1Char(';');
  chain += QString(60, QLatin1Char('2')) + QString(20, QLatin1Char('5'));
  Link2PersPaintExGedcom(t.m, k, chain, Named(), c);
  // At full size 6300 x 9150 pixels.
  const qint64 pixels = qint64(c.Width()) * c.Height();
  EXPECT_LE(pixels, kKinshipPixelBudget);
  EXPECT_GT(pixels, kKinshipPixelBudget * 9 / 10);
  EXPECT_NEAR(double(c.Width()) / c.Height(), 6300.0 / 9150.0, 0.01);
  EXPECT_EQ(Only(c.Calls(), QStringLiteral("StretchDraw")).size(), 81);
}

TEST(KinshipZoom, PercentagesFitsAndBounds) {
  const QSize picture(600, 450), box(300, 200);
  struct Case {
    const char16_t* text;
    int want;
  } cases[] = {
      {u"100%", 100}, {u"50%", 50}, {u"20%", 20}, {u"400%", 400}, {u"1000%", 400}, {u"-20%", 1},
      {u"0%", 50},    // no number: fit the width
      {u"abc", 50},   {u"", 50},
      {u"По гор.", 44},  // fit the height: 200 / 450
  };
  for (const Case& c : cases)
    EXPECT_EQ(KinshipZoomPercent(QString::fromUtf16(c.text), picture, box), c.want) << QString::fromUtf16(c.text).toStdString();
  EXPECT_EQ(KinshipZoomPercent(QStringLiteral("50%"), QSize(), box), 0) << "no picture";
  // The zoomed copy keeps inside the budget as well.
  EXPECT_EQ(KinshipZoomPercent(QStringLiteral("400%"), QSize(10000, 4000), box), 100);
  QImage img(600, 450, QImage::Format_RGB32);
  img.fill(Qt::white);
  EXPECT_EQ(ReScalelink2Pers(img, QStringLiteral("50%"), box).size(), QSize(300, 225));
  EXPECT_TRUE(ReScalelink2Pers(QImage(), QStringLiteral("50%"), box).isNull());
}

TEST(KinshipPicture, NothingFoundPrintsAndSavesNothing) {
  Clan t;
  TKinship k;
  Link2PersGedcom(t.m, k, t.a, t.wf, Named());
  ASSERT_TRUE(k.Picture.isNull());
  platform::TFakeDialogs dialogs;
  dialogs.prints.push_back(true);
  dialogs.saves.push_back({QStringLiteral("/tmp/never.png"), 3});
  platform::TRecordingPageSink printer;
  EXPECT_FALSE(PrintBitMap(k.Picture, dialogs, printer));
  EXPECT_FALSE(SaveBitMap(k.Picture, dialogs));
  EXPECT_EQ(dialogs.printAsked, 0);
  EXPECT_TRUE(dialogs.filters.isEmpty());
  EXPECT_TRUE(printer.calls.isEmpty());
}

TEST(KinshipPicture, TheDrawnPictureShowsFramesAndText) {
  Clan t;
  TKinship k;
  Link2PersGedcom(t.m, k, t.a, t.sis, Named());
  ASSERT_EQ(k.Picture.size(), QSize(600, 300));
  // The root's frame is filled (not white) and the space beside it is white.
  EXPECT_NE(k.Picture.pixel(300, 80), qRgb(255, 255, 255));
  EXPECT_EQ(k.Picture.pixel(5, 5), qRgb(255, 255, 255));
  // The fork's horizontal line is grey.
  EXPECT_EQ(k.Picture.pixel(310, 150) & 0xFFFFFF, qRgb(127, 127, 127) & 0xFFFFFF);
  // Some dark text pixels inside the sister's box.
  int dark = 0;
  for (int y = 170; y < 280; ++y)
    for (int x = 330; x < 580; ++x) dark += qGray(k.Picture.pixel(x, y)) < 100;
  EXPECT_GT(dark, 50);
}

}  // namespace
