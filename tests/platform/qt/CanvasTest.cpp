#include "platform/qt/Canvas.h"
#include "platform/qt/RecordingCanvas.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

TEST(Canvas, FloodFillStaysInsideAClosedRing) {
  TImageCanvas c(200, 200);
  c.BrushStyle = TBrushStyle::Clear;
  c.Ellipse(20, 20, 180, 180);
  c.Ellipse(60, 60, 140, 140);
  c.FloodFill(30, 100, clRed);  // between the rings
  EXPECT_EQ(c.Pixel(30, 100), clRed);
  EXPECT_EQ(c.Pixel(100, 100), clWhite) << "inside the inner ring";
  EXPECT_EQ(c.Pixel(5, 5), clWhite) << "outside the outer ring";
}

TEST(Canvas, FloodFillDoesNotLeakThroughADiagonalGap) {
  TImageCanvas c(40, 40);
  // A staircase of single pixels touching only at corners.
  for (int i = 0; i < 40; ++i) c.Image().setPixel(i, 39 - i, 0xFF000000u);
  c.FloodFill(2, 2, clBlue);
  EXPECT_EQ(c.Pixel(2, 2), clBlue);
  EXPECT_EQ(c.Pixel(37, 37), clWhite);
  EXPECT_EQ(c.Pixel(20, 20), clWhite) << "the pixel right of the diagonal";
}

TEST(Canvas, FloodFillIgnoresSeedsOutsideOrNotWhite) {
  TImageCanvas c(10, 10);
  c.Image().setPixel(5, 5, 0xFF000000u);
  c.FloodFill(5, 5, clRed);
  c.FloodFill(-1, 3, clRed);
  c.FloodFill(3, 10, clRed);
  EXPECT_EQ(c.Pixel(5, 5), clBlack);
  EXPECT_EQ(c.Pixel(0, 0), clWhite);
}

TEST(Canvas, ArcsMeetTheirRadialLinesAtLargeRadius) {
  // Centre far to the left: only the arc's neighbourhood is in the picture.
  const double cx = -5400, cy = 300, r = 5500;
  TImageCanvas c(160, 600);
  c.Arc(cx, cy, r, -2, 2);
  c.Arc(cx, cy, r - 60, -2, 2);
  for (double a : {-2.0, 2.0}) {
    c.Line(ArcPoint(cx, cy, r - 60, a).x(), ArcPoint(cx, cy, r - 60, a).y(), ArcPoint(cx, cy, r, a).x(),
           ArcPoint(cx, cy, r, a).y());
  }
  for (double a : {-2.0, 2.0}) {
    const QPoint p = ArcPoint(cx, cy, r, a);
    EXPECT_EQ(c.Pixel(p.x(), p.y()), clBlack) << a;
  }
  // The cell between the arcs and the radial lines is closed: a fill inside stays inside.
  const QPoint inside = ArcPoint(cx, cy, r - 30, 0);
  c.FloodFill(inside.x(), inside.y(), clRed);
  EXPECT_EQ(c.Pixel(inside.x(), inside.y()), clRed);
  EXPECT_EQ(c.Pixel(150, 300), clWhite) << "outside the outer arc";
  EXPECT_EQ(c.Pixel(10, 300), clWhite) << "inside the inner arc";
  EXPECT_EQ(c.Pixel(inside.x(), 5), clWhite) << "beyond the radial line";
}

TEST(Canvas, MaskNotPenOfGreyOnWhiteIs127) {
  TImageCanvas c(20, 20);
  c.PenColor = clGray;
  c.PenMode = TPenMode::MaskNotPen;
  c.Line(0, 10, 19, 10);
  EXPECT_EQ(c.Pixel(5, 10), 0x7F7F7Fu);
  EXPECT_EQ(c.Pixel(5, 5), clWhite);
}

TEST(Canvas, PaintsBeyondTheRasterLimitOfOnePainter) {
  TImageCanvas c(60, 40000);
  c.Line(0, 35000, 59, 35000);
  c.BrushColor = clBlue;
  c.Rectangle(10, 39900, 30, 39950);
  c.Font.Height = -20;
  c.TransparentText = true;
  c.TextOut(0, 36000, QStringLiteral("W"));
  EXPECT_EQ(c.Pixel(30, 35000), clBlack);
  EXPECT_EQ(c.Pixel(20, 39920), clBlue);
  bool inked = false;
  for (int y = 36000; y < 36025 && !inked; ++y)
    for (int x = 0; x < 25; ++x) inked = inked || c.Pixel(x, y) != clWhite;
  EXPECT_TRUE(inked);
  // A band edge runs through this rectangle: both halves are filled.
  c.Rectangle(0, TImageCanvas::kBandHeight - 5, 20, TImageCanvas::kBandHeight + 5);
  EXPECT_EQ(c.Pixel(10, TImageCanvas::kBandHeight - 2), clBlue);
  EXPECT_EQ(c.Pixel(10, TImageCanvas::kBandHeight + 2), clBlue);
}

TEST(Canvas, WidenKeepsContentAndWhitensTheNewArea) {
  TImageCanvas c(10, 10);
  c.Image().setPixel(9, 9, 0xFF0000FFu);
  c.Widen(20);
  c.Widen(5);
  EXPECT_EQ(c.Width(), 20);
  EXPECT_EQ(c.Pixel(9, 9), clBlue);
  EXPECT_EQ(c.Pixel(15, 9), clWhite);
}

TEST(Canvas, FontHeightsFollowWindowsRules) {
  EXPECT_EQ(TCanvasFont::HeightFromPoints(32), -43);
  EXPECT_EQ(TCanvasFont::HeightFromPoints(8), -11);
  TImageCanvas c;
  c.Font.Height = -40;
  EXPECT_EQ(ToQFont(c.Font).pixelSize(), 40);
  c.Font.Height = 40;  // cell height: the em is smaller
  EXPECT_LT(ToQFont(c.Font).pixelSize(), 40);
  EXPECT_NEAR(c.TextHeight(QStringLiteral("Ag")), 40, 2);
  // The metric twin keeps Arial's widths: "W" at 100 px em is about 94 px wide.
  c.Font.Height = -100;
  EXPECT_NEAR(c.TextWidth(QStringLiteral("W")), 94, 2);
}

TEST(Canvas, RotatedTextGoesUpFromItsOrigin) {
  TImageCanvas c(200, 200);
  c.Font.Height = -30;
  c.Font.Escapement = 900;
  c.TransparentText = true;
  c.TextOut(100, 190, QStringLiteral("HHHH"));
  int top = 200;
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 200; ++x)
      if (c.Pixel(x, y) != clWhite) top = std::min(top, y);
  EXPECT_LT(top, 150);
}

TEST(RecordingCanvas, RecordsCallsWithState) {
  TRecordingCanvas c;
  c.SetSize(100, 50);
  c.BrushColor = clBlue;
  c.Rectangle(1, 2, 3, 4);
  c.TransparentText = true;
  c.TextOut(5, 6, QStringLiteral("x"));
  ASSERT_EQ(c.Calls().size(), 3);
  EXPECT_EQ(c.Calls()[1], QStringLiteral("Rectangle 1,2,3,4 pen=000000/1 brush=FF0000"));
  EXPECT_TRUE(c.Calls()[2].startsWith(QStringLiteral("TextOut 5,6 font=Arial/-16")));
}

}  // namespace
