#include "platform/qt/RecordingCanvas.h"

#include <algorithm>

namespace platform {

namespace {
QString Hex(TColor c) { return QString::number(c, 16).toUpper().rightJustified(6, QLatin1Char('0')); }
QString Pts(const std::vector<QPoint>& points) {
  QStringList parts;
  for (const QPoint& p : points) parts << QStringLiteral("%1,%2").arg(p.x()).arg(p.y());
  return parts.join(QLatin1Char(' '));
}
}  // namespace

QString TRecordingCanvas::PenText() const {
  return QStringLiteral("pen=%1/%2%3")
      .arg(Hex(PenColor))
      .arg(PenWidth)
      .arg(PenMode == TPenMode::MaskNotPen ? QStringLiteral("/masknotpen") : QString());
}

QString TRecordingCanvas::BrushText() const {
  return BrushStyle == TBrushStyle::Clear ? QStringLiteral("brush=clear") : QStringLiteral("brush=") + Hex(BrushColor);
}

void TRecordingCanvas::SetSize(int w, int h) {
  w_ = std::max(0, w);
  h_ = std::max(0, h);
  calls_ << QStringLiteral("SetSize %1,%2").arg(w_).arg(h_);
}

void TRecordingCanvas::Widen(int w) {
  if (w <= w_) return;
  w_ = w;
  calls_ << QStringLiteral("Widen %1").arg(w);
}

void TRecordingCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  calls_ << QStringLiteral("Rectangle %1,%2,%3,%4 %5 %6").arg(x1).arg(y1).arg(x2).arg(y2).arg(PenText(), BrushText());
}

void TRecordingCanvas::FillRect(int x1, int y1, int x2, int y2) {
  calls_ << QStringLiteral("FillRect %1,%2,%3,%4 %5").arg(x1).arg(y1).arg(x2).arg(y2).arg(BrushText());
}

void TRecordingCanvas::Ellipse(int x1, int y1, int x2, int y2) {
  calls_ << QStringLiteral("Ellipse %1,%2,%3,%4 %5 %6").arg(x1).arg(y1).arg(x2).arg(y2).arg(PenText(), BrushText());
}

void TRecordingCanvas::Line(int x1, int y1, int x2, int y2) {
  calls_ << QStringLiteral("Line %1,%2,%3,%4 %5").arg(x1).arg(y1).arg(x2).arg(y2).arg(PenText());
}

void TRecordingCanvas::Polyline(const std::vector<QPoint>& points) {
  calls_ << QStringLiteral("Polyline %1 %2").arg(Pts(points), PenText());
}

void TRecordingCanvas::Polygon(const std::vector<QPoint>& points) {
  calls_ << QStringLiteral("Polygon %1 %2 %3").arg(Pts(points), PenText(), BrushText());
}

void TRecordingCanvas::Arc(double cx, double cy, double r, double a1, double a2) {
  calls_ << QStringLiteral("Arc %1,%2 r=%3 %4..%5 %6").arg(cx).arg(cy).arg(r).arg(a1).arg(a2).arg(PenText());
}

void TRecordingCanvas::FloodFill(int x, int y, TColor color) {
  calls_ << QStringLiteral("FloodFill %1,%2 %3").arg(x).arg(y).arg(Hex(color));
}

void TRecordingCanvas::TextOut(int x, int y, const QString& text) {
  calls_ << QStringLiteral("TextOut %1,%2 font=%3/%4/%5/esc%6 %7 \"%8\"")
                .arg(x)
                .arg(y)
                .arg(Font.Name)
                .arg(Font.Height)
                .arg(Hex(Font.Color))
                .arg(Font.Escapement)
                .arg(TransparentText ? QStringLiteral("transparent") : QStringLiteral("opaque"), text);
}

int TRecordingCanvas::DrawTextCentered(const QRect& r, const QString& text, bool measureOnly) {
  TImageCanvas measurer;
  measurer.Font = Font;
  const int h = measurer.DrawTextCentered(r, text, true);
  if (!measureOnly) {
    calls_ << QStringLiteral("DrawTextCentered %1,%2,%3,%4 \"%5\"")
                  .arg(r.left()).arg(r.top()).arg(r.right() + 1).arg(r.bottom() + 1).arg(text);
  }
  return h;
}

void TRecordingCanvas::StretchDraw(const QRect& dest, const QImage& src, bool smooth) {
  calls_ << QStringLiteral("StretchDraw %1,%2,%3,%4 from %5x%6%7")
                .arg(dest.left()).arg(dest.top()).arg(dest.right() + 1).arg(dest.bottom() + 1)
                .arg(src.width()).arg(src.height()).arg(smooth ? QStringLiteral(" smooth") : QString());
}

}  // namespace platform
