// Radial texts of the fan chart: the lines of a sector in order on both halves of the circle, each along
// its own radius and inside its sector, and drawn at the size the canvas measures them.
#include "app/charts/RotatedText.h"
#include "platform/qt/Canvas.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr int kSide = 1600;
constexpr double kCentre = kSide / 2.0;
constexpr double kRadius = 560;

struct Ink {
  std::vector<double> angles;  // screen angle of every inked pixel about the centre, degrees
  double Mean() const {
    double sum = 0;
    for (double a : angles) sum += a;
    return angles.empty() ? 0 : sum / double(angles.size());
  }
};

// Screen angle in degrees (y down), unwrapped around `around` so that a sector near 0/360 stays whole.
double AngleAt(int x, int y, double around) {
  double a = std::atan2(y - kCentre, x - kCentre) * 180.0 / std::numbers::pi;
  while (a < around - 180) a += 360;
  while (a > around + 180) a -= 360;
  return a;
}

Ink DrawLine(const QString& text, int height, double e, double d, double around) {
  QImage img(kSide, kSide, QImage::Format_RGB32);
  img.fill(Qt::white);
  {
    QPainter p(&img);
    p.setPen(Qt::black);
    DrawRotatedText(p, QStringLiteral("Arial"), height, 0, 400, text, e, d, kRadius, kCentre, kCentre);
  }
  Ink ink;
  for (int y = 0; y < kSide; ++y) {
    const QRgb* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
    for (int x = 0; x < kSide; ++x)
      if (qGray(row[x]) < 128) ink.angles.push_back(AngleAt(x, y, around));
  }
  return ink;
}

// A sector of 15 degrees at angle e with three lines, offsets as the fan chart gives them. On the screen
// the sector's middle lies at 180 + e degrees. On the left half the first line is the most clockwise;
// on the right half, where lines are turned over to stay readable, the first line is the most
// counter-clockwise (the mirror image), and on both every line stays inside the sector.
TEST(RotatedText, SectorLinesKeepTheirOrderAndTheirSector) {
  const double span = 15;
  const QStringList lines = {QStringLiteral("Северцев"), QStringLiteral("Яков Григорьевич"),
                             QStringLiteral("1901-1970")};
  for (double e : {30.0, 60.0, 120.0, 200.0, 250.0, 300.0}) {
    SCOPED_TRACE(e);
    const bool turned = e > 90 && e < 270;
    const double middle = 180 + e;
    std::vector<double> means;
    for (int i = 0; i < lines.size(); ++i) {
      const double d = (0.5 - double(i + 1) / double(lines.size() + 1)) * span;
      const Ink ink = DrawLine(lines[i], -18, e, d, middle);
      ASSERT_FALSE(ink.angles.empty()) << i;
      for (double a : ink.angles) ASSERT_LE(std::abs(a - middle), span / 2) << "line " << i << " leaves its sector";
      means.push_back(ink.Mean());
    }
    for (std::size_t i = 1; i < means.size(); ++i) {
      if (turned)
        EXPECT_LT(means[i - 1], means[i]) << "line " << i;
      else
        EXPECT_GT(means[i - 1], means[i]) << "line " << i;
    }
  }
}

// A positive height is a cell height, as on the canvas: the drawn name is as long as the canvas measures it
// (the width the fan chart's line fitting relies on), not about an eighth longer.
TEST(RotatedText, DrawnWidthIsTheMeasuredWidth) {
  const QString name = QStringLiteral("Константинопольский");
  for (int height : {24, -24, 40}) {
    SCOPED_TRACE(height);
    platform::TImageCanvas canvas(10, 10);
    canvas.Font.Name = QStringLiteral("Arial");
    canvas.Font.Height = height;
    const int measured = canvas.TextWidth(name);
    // Drawn along the radius pointing left (e = 0): its length shows as a horizontal extent.
    QImage img(kSide, kSide, QImage::Format_RGB32);
    img.fill(Qt::white);
    {
      QPainter p(&img);
      p.setPen(Qt::black);
      DrawRotatedText(p, QStringLiteral("Arial"), height, 0, 400, name, 0, 0, kRadius, kCentre, kCentre);
    }
    int left = kSide, right = -1;
    for (int y = 0; y < kSide; ++y)
      for (int x = 0; x < kSide; ++x)
        if (qGray(img.pixel(x, y)) < 200) {
          left = std::min(left, x);
          right = std::max(right, x);
        }
    ASSERT_GE(right, left);
    EXPECT_NEAR(right - left + 1, measured, measured * 0.04);
  }
}

}  // namespace
