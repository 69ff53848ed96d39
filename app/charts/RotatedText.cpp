// Rotated and arc text; see RotatedText.h for the contracts.
#include "app/charts/RotatedText.h"

#include <QFontMetrics>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/qt/Canvas.h"

namespace {
int RoundEven(double v) { return int(std::nearbyint(v)); }
}  // namespace

QFont MakeRotatedFont(const QString& face, int height, int width, int escapement, int weight) {
  (void)escapement;  // the escapement is applied when drawing (DrawTextEscaped)
  // The canvas's own Windows height rule (a negative height is the em height, a positive one the cell
  // height), so that text measured on the canvas and text drawn rotated have one size.
  platform::TCanvasFont cf;
  cf.Name = face;
  cf.Height = height;
  cf.Weight = weight;
  QFont f = platform::ToQFont(cf);
  if (width > 0 && height != 0) f.setStretch(std::clamp(width * 200 / std::abs(height), 1, 4000));
  f.setStyleStrategy(QFont::PreferAntialias);
  return f;
}

void DrawTextEscaped(QPainter& canvas, const QFont& f, int escapement, int x, int y, const QString& text) {
  canvas.save();
  canvas.setFont(f);
  canvas.translate(x, y);
  canvas.rotate(-escapement / 10.0);
  const QFontMetrics fm(f);
  const int w = fm.horizontalAdvance(text);
  canvas.setBackgroundMode(Qt::TransparentMode);
  canvas.drawText(QPoint(-w / 2, fm.ascent()), text);
  canvas.restore();
}

void DrawRotatedText(QPainter& canvas, const QString& face, int height, int width, int weight,
                     const QString& text, double e, double d, double radius, double cx, double cy) {
  // A line on the right half is turned over: its offset is mirrored first, so that the line keeps its
  // place in the sector's order and lies along its own radius; the position uses the angle before the turn.
  const bool turned = e > 90 && e < 270;
  if (turned) d = -d;
  const double h = (-d - 90.0 - e) * M_PI / 180.0;
  if (turned) e += 180;
  const int x = RoundEven(cx + radius * std::sin(h));
  const int y = RoundEven(cy + radius * std::cos(h));
  const int esc = RoundEven(-10.0 * d - 10.0 * e);
  DrawTextEscaped(canvas, MakeRotatedFont(face, height, width, esc, weight), esc, x, y, text);
}

void DrawArcText(QPainter& canvas, const QString& face, int height, int width, int weight,
                 const QString& text, double g, double radius, double cx, double cy, double a) {
  if (text.isEmpty()) return;
  const double start = a / 2.0 + 90.0 - g;
  const double step = a / double(text.size());
  const int fontHeight = step != 0 ? height + int(std::trunc(2.0 / step)) : height;
  for (qsizetype p = 0; p < text.size(); ++p) {
    const int esc = g >= 180 ? RoundEven((start + 180.0) * 10.0 - step * 10.0 * double(p))
                             : RoundEven(start * 10.0 - step * 10.0 * double(p));
    const QChar ch = g >= 180 ? text[text.size() - 1 - p] : text[p];
    const double theta = (start - 180.0 - double(p) * step) * M_PI / 180.0;
    const int x = RoundEven(cx + radius * std::sin(theta));
    const int y = RoundEven(cy + radius * std::cos(theta));
    DrawTextEscaped(canvas, MakeRotatedFont(face, fontHeight, width, esc, weight), esc, x, y, QString(ch));
  }
}
