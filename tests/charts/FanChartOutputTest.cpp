// Zoom sizes, print placement, part rectangles and file names of the fan chart output, and the files
// written for the parts of a picture.
#include "app/charts/FanChartOutput.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

namespace {

TEST(FanChartOutput, ZoomTextGivesTheShownSide) {
  const QSize box(900, 600);
  struct Case {
    QString text;
    TFanZoom::Mode mode;
    int side;
    int percent;
  } cases[] = {
      {QStringLiteral("25% "), TFanZoom::Scaled, 1500, 25},
      {QStringLiteral("33%"), TFanZoom::Scaled, 1980, 33},
      {QStringLiteral("100%"), TFanZoom::Scaled, 6000, 100},
      {QStringLiteral("По гор."), TFanZoom::Scaled, 600, 0},
      {QStringLiteral("abc"), TFanZoom::Scaled, 900, 0},
      {QStringLiteral(""), TFanZoom::Scaled, 900, 0},
      {QStringLiteral("0"), TFanZoom::Scaled, 900, 0},
      {QStringLiteral("-50%"), TFanZoom::Scaled, 900, 0},
      {QStringLiteral("101%"), TFanZoom::FullSize, 6000, 100},
      {QStringLiteral("1000"), TFanZoom::FullSize, 6000, 100},
      {QStringLiteral("99999999999%"), TFanZoom::Scaled, 900, 0},  // not an integer: fit
  };
  for (const Case& c : cases) {
    const TFanZoom z = FanZoomFor(c.text, 6000, box);
    EXPECT_EQ(z.mode, c.mode) << c.text.toStdString();
    EXPECT_EQ(z.Side, c.side) << c.text.toStdString();
    EXPECT_EQ(z.Percent, c.percent) << c.text.toStdString();
    EXPECT_FALSE(z.OverBudget);
  }
  // A fit to a box larger than the budget allows is capped and says so.
  const TFanZoom huge = FanZoomFor(QStringLiteral("x"), 800, QSize(100000, 100));
  EXPECT_TRUE(huge.OverBudget);
  EXPECT_LE(qint64(huge.Side) * huge.Side, kFanDisplayPixelBudget);
  EXPECT_EQ(FanZoomScroll(1500, box), QPoint(300, 450));
  EXPECT_EQ(FanZoomScroll(500, box), QPoint(0, 0));
}

TEST(FanChartOutput, PartsAndPrintTargets) {
  const auto quarters = FanParts(QSize(6000, 6000), 4);
  ASSERT_EQ(quarters.size(), 4u);
  EXPECT_EQ(quarters[0], QRect(0, 0, 3000, 3000));     // top-left
  EXPECT_EQ(quarters[1], QRect(0, 3000, 3000, 3000));  // bottom-left
  EXPECT_EQ(quarters[2], QRect(3000, 0, 3000, 3000));  // top-right
  EXPECT_EQ(quarters[3], QRect(3000, 3000, 3000, 3000));
  EXPECT_EQ(FanParts(QSize(6000, 6000), 2)[1], QRect(0, 3000, 6000, 3000));
  EXPECT_EQ(FanParts(QSize(6000, 6000), 2, true)[1], QRect(3000, 0, 3000, 6000));
  // Portrait halves: the left half against the right edge of page 1, the right half at the left of page 2.
  const auto portrait = FanPrintTargets(2, false, QSize(2000, 3000));
  EXPECT_EQ(portrait[0], QRect(QPoint(500, 0), QPoint(1999, 2999)));
  EXPECT_EQ(portrait[1], QRect(QPoint(0, 0), QPoint(1499, 2999)));
  const auto one = FanPrintTargets(1, true, QSize(3000, 2000));
  EXPECT_EQ(one[0], QRect(0, 0, 2000, 2000));
  const auto landscape4 = FanPrintTargets(4, true, QSize(3000, 2000));
  EXPECT_EQ(landscape4[0], QRect(1000, 0, 2000, 2000));
  EXPECT_EQ(landscape4[2], QRect(0, 0, 2000, 2000));
}

TEST(FanChartOutput, FileNamesFollowTheFilter) {
  EXPECT_EQ(FanSaveNames(QStringLiteral("/d/chart.jpg"), 2, 1), std::vector<QString>{QStringLiteral("/d/chart.bmp")});
  EXPECT_EQ(FanSaveNames(QStringLiteral("/d.x/chart"), 1, 1), std::vector<QString>{QStringLiteral("/d.x/chart.jpg")});
  const std::vector<QString> four = {QStringLiteral("fan1.png"), QStringLiteral("fan2.png"), QStringLiteral("fan3.png"),
                                     QStringLiteral("fan4.png")};
  EXPECT_EQ(FanSaveNames(QStringLiteral("fan.png"), 3, 4), four);
}

TEST(FanChartOutput, SavedQuartersHoldTheirPartOfThePicture) {
  QImage pic(60, 60, QImage::Format_RGB32);
  pic.fill(Qt::white);
  const QRgb marks[4] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(0, 0, 0)};
  pic.setPixel(5, 5, marks[0]);    // top-left
  pic.setPixel(5, 35, marks[1]);   // bottom-left
  pic.setPixel(35, 5, marks[2]);   // top-right
  pic.setPixel(35, 35, marks[3]);  // bottom-right
  QTemporaryDir dir;
  platform::TFakeDialogs d;
  d.saves.push_back({dir.filePath(QStringLiteral("q.bmp")), 2});
  ASSERT_TRUE(SaveFanPicture(pic, 4, d));
  for (int i = 0; i < 4; ++i) {
    const QImage part(dir.filePath(QStringLiteral("q%1.bmp").arg(i + 1)));
    ASSERT_EQ(part.size(), QSize(30, 30)) << i;
    EXPECT_EQ(part.pixel(5, 5), marks[i]) << i;
  }
  // Cancelled: nothing asked further, nothing written.
  EXPECT_FALSE(SaveFanPicture(pic, 1, d));
  EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("q.jpg"))));
  EXPECT_FALSE(SaveFanPicture(QImage(), 1, d));
}

}  // namespace
