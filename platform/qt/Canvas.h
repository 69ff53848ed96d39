// Drawing surface for charts and tree pictures, in the terms the drawing code thinks in:
// Windows colour values (red in the low byte), pen and brush, fonts given by a cell or em height in
// pixels at a fixed 96 DPI with an escapement in tenths of a degree, a transparent or opaque text
// background, rectangles whose right and bottom edges are exclusive.
//
// TCanvas is the interface; TImageCanvas paints into a 32-bit QImage with antialiasing off for
// geometry, and TRecordingCanvas (RecordingCanvas.h) writes one text line per call for tests.
// Geometry Qt lacks is done here by hand: arcs from double angles (QPainter's 1/16-degree integer
// arcs miss their radial lines by pixels at large radii) and a 4-connected flood fill.
// Qt's raster painter clips near 32767 px, so TImageCanvas paints a taller image in bands that
// share its pixel buffer; callers never see the bands.
// Not thread-safe; use from the GUI thread (fonts need the Qt application object).
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace platform {

// A Windows colour value: 0x00BBGGRR.
using TColor = std::uint32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGray = 0x808080;

QColor ToQColor(TColor c);
TColor FromQColor(const QColor& c);
// The Windows value of a 0xAARRGGBB pixel (alpha ignored).
TColor FromRgb(QRgb rgb);

struct TCanvasFont {
  QString Name = QStringLiteral("Arial");
  // > 0: cell height (ascent + descent) in pixels; < 0: em height in pixels; 0: a default of 16 px em.
  int Height = -16;
  int Weight = 400;  // 400 normal, 700 bold
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
  int Escapement = 0;  // tenths of a degree, counter-clockwise
  TColor Color = clBlack;

  // The height of a font of `points` points at 96 DPI (negative: an em height).
  static int HeightFromPoints(int points);
};

// The Qt font for a canvas font (face names such as "Arial" map to their metric twins).
QFont ToQFont(const TCanvasFont& f);

enum class TPenMode { Copy, MaskNotPen };
enum class TBrushStyle { Solid, Clear };

// Draws inside a rectangle, word-wrapped and centred.
inline constexpr int kTextCenter = 1;

class TCanvas {
 public:
  virtual ~TCanvas() = default;

  // Drawing state, read by every call.
  TColor PenColor = clBlack;
  int PenWidth = 1;
  TPenMode PenMode = TPenMode::Copy;
  TColor BrushColor = clWhite;
  TBrushStyle BrushStyle = TBrushStyle::Solid;
  TCanvasFont Font;
  bool TransparentText = false;

  virtual int Width() const = 0;
  virtual int Height() const = 0;
  // A white picture of w x h (negative sizes count as 0).
  virtual void SetSize(int w, int h) = 0;
  // Makes the picture w wide keeping its content; the new area is white. Never narrows.
  virtual void Widen(int w) = 0;

  // Outline in the pen, inside filled with the brush; covers x1..x2-1, y1..y2-1.
  virtual void Rectangle(int x1, int y1, int x2, int y2) = 0;
  // Brush only, no outline.
  virtual void FillRect(int x1, int y1, int x2, int y2) = 0;
  virtual void Ellipse(int x1, int y1, int x2, int y2) = 0;
  virtual void Line(int x1, int y1, int x2, int y2) = 0;
  virtual void Polyline(const std::vector<QPoint>& points) = 0;
  virtual void Polygon(const std::vector<QPoint>& points) = 0;
  // Arc of the circle (cx, cy, r) from angle a1 to a2 in degrees, counter-clockwise as seen on screen
  // (0 = right, 90 = up). Its ends are exactly ArcPoint(.., a1) and ArcPoint(.., a2).
  virtual void Arc(double cx, double cy, double r, double a1, double a2) = 0;
  // Fills the 4-connected area of white pixels around (x, y) with `color`. Nothing happens when
  // (x, y) is outside or not white.
  virtual void FloodFill(int x, int y, TColor color) = 0;

  // Text with the top-left of its cell at (x, y), turned by the font's escapement about that point.
  virtual void TextOut(int x, int y, const QString& text) = 0;
  // Word-wrapped text centred in `r`; returns the height it takes. With measureOnly nothing is drawn.
  virtual int DrawTextCentered(const QRect& r, const QString& text, bool measureOnly) = 0;
  virtual void StretchDraw(const QRect& dest, const QImage& src, bool smooth) = 0;

  // Measuring in the current font (no rotation).
  int TextWidth(const QString& text) const;
  int TextHeight(const QString& text) const;
};

// The point of angle `a` degrees on the circle (cx, cy, r), rounded to pixels as the arcs do.
QPoint ArcPoint(double cx, double cy, double r, double a);

class TImageCanvas : public TCanvas {
 public:
  TImageCanvas() = default;
  TImageCanvas(int w, int h) { SetSize(w, h); }

  int Width() const override { return image_.width(); }
  int Height() const override { return image_.height(); }
  void SetSize(int w, int h) override;
  void Widen(int w) override;

  void Rectangle(int x1, int y1, int x2, int y2) override;
  void FillRect(int x1, int y1, int x2, int y2) override;
  void Ellipse(int x1, int y1, int x2, int y2) override;
  void Line(int x1, int y1, int x2, int y2) override;
  void Polyline(const std::vector<QPoint>& points) override;
  void Polygon(const std::vector<QPoint>& points) override;
  void Arc(double cx, double cy, double r, double a1, double a2) override;
  void FloodFill(int x, int y, TColor color) override;
  void TextOut(int x, int y, const QString& text) override;
  int DrawTextCentered(const QRect& r, const QString& text, bool measureOnly) override;
  void StretchDraw(const QRect& dest, const QImage& src, bool smooth) override;

  TColor Pixel(int x, int y) const;
  const QImage& Image() const { return image_; }
  QImage& Image() { return image_; }
  // Takes over an existing image (converted to 32 bits).
  void Assign(const QImage& image);
  // Paints into `band` (32-bit, kept alive by the caller) as the rows from `originY` of a taller
  // picture: every call takes picture coordinates.
  void AttachBand(QImage& band, int originY);

  // The tallest band one QPainter is given.
  static constexpr int kBandHeight = 16384;

 private:
  // Runs `paint` once for each band of the image that `bounds` touches, with a painter whose
  // coordinates are the whole image's.
  void Paint(const QRect& bounds, const std::function<void(class QPainter&)>& paint, bool forPen);
  void SetupPen(QPainter& p) const;
  QRect PenBounds(const QRect& r) const;

  QImage image_;
  int originY_ = 0;
};

}  // namespace platform
