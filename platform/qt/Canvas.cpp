#include "platform/qt/Canvas.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QHash>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <numbers>
#include <utility>

namespace platform {

QColor ToQColor(TColor c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

TColor FromQColor(const QColor& c) {
  return TColor(c.red()) | (TColor(c.green()) << 8) | (TColor(c.blue()) << 16);
}

TColor FromRgb(QRgb rgb) { return TColor(qRed(rgb)) | (TColor(qGreen(rgb)) << 8) | (TColor(qBlue(rgb)) << 16); }

int TCanvasFont::HeightFromPoints(int points) {
  // points * 96 / 72, rounded half away from zero as the platform's MulDiv does.
  const long long num = static_cast<long long>(points) * 96;
  const long long q = (num >= 0 ? num + 36 : num - 36) / 72;
  return -static_cast<int>(q);
}

namespace {

// Pictures are painted on several threads at once (the PNG writer's strips): the font caches below are
// shared by them.
std::mutex& FontCacheMutex() {
  static std::mutex m;
  return m;
}

// Windows face names and the installed faces with the same metrics.
QString MapFace(const QString& name) {
  static const std::pair<const char*, const char*> kTwins[] = {
      {"Arial", "Liberation Sans"},           {"Times New Roman", "Liberation Serif"},
      {"Courier New", "Liberation Mono"},     {"MS Sans Serif", "Liberation Sans"},
      {"Tahoma", "Liberation Sans"},          {"Segoe UI", "Liberation Sans"},
      {"Microsoft Sans Serif", "Liberation Sans"}};
  static QHash<QString, QString> cache;
  std::lock_guard<std::mutex> lock(FontCacheMutex());
  const auto it = cache.constFind(name);
  if (it != cache.constEnd()) return *it;
  QString face = name;
  for (const auto& [win, twin] : kTwins) {
    if (name.compare(QLatin1String(win), Qt::CaseInsensitive) == 0) {
      if (QFontDatabase::hasFamily(QString::fromLatin1(twin))) face = QString::fromLatin1(twin);
      break;
    }
  }
  cache.insert(name, face);
  return face;
}

// em / (ascent + descent) of a face, so that a cell height can be turned into a pixel size.
double EmPerCell(const QString& face, int weight, bool italic) {
  static QHash<QString, double> cache;
  std::lock_guard<std::mutex> lock(FontCacheMutex());
  const QString key = face + QLatin1Char('/') + QString::number(weight) + (italic ? QStringLiteral("i") : QString());
  const auto it = cache.constFind(key);
  if (it != cache.constEnd()) return *it;
  QFont f(face);
  f.setPixelSize(1000);
  f.setWeight(QFont::Weight(weight));
  f.setItalic(italic);
  const QFontMetricsF fm(f);
  const double cell = fm.ascent() + fm.descent();
  const double ratio = cell > 0 ? 1000.0 / cell : 1.0;
  cache.insert(key, ratio);
  return ratio;
}

constexpr QPainter::CompositionMode kMaskNotPen = QPainter::RasterOp_NotSourceAndDestination;

}  // namespace

QFont ToQFont(const TCanvasFont& f) {
  const QString face = MapFace(f.Name);
  QFont q(face);
  const int weight = std::clamp(f.Weight <= 0 ? 400 : f.Weight, 100, 900);
  q.setWeight(QFont::Weight(weight));
  q.setItalic(f.Italic);
  q.setUnderline(f.Underline);
  q.setStrikeOut(f.StrikeOut);
  int px = 16;
  if (f.Height < 0) {
    px = -f.Height;
  } else if (f.Height > 0) {
    px = static_cast<int>(std::nearbyint(f.Height * EmPerCell(face, weight, f.Italic)));
  }
  q.setPixelSize(std::max(1, px));
  return q;
}

int TCanvas::TextWidth(const QString& text) const {
  return QFontMetrics(ToQFont(Font)).horizontalAdvance(text);
}

int TCanvas::TextHeight(const QString&) const {
  const QFontMetrics fm(ToQFont(Font));
  return fm.ascent() + fm.descent();
}

QPoint ArcPoint(double cx, double cy, double r, double a) {
  const double rad = a * std::numbers::pi / 180.0;
  return QPoint(static_cast<int>(std::nearbyint(cx + r * std::cos(rad))),
                static_cast<int>(std::nearbyint(cy - r * std::sin(rad))));
}

void TImageCanvas::SetSize(int w, int h) {
  w = std::max(0, w);
  h = std::max(0, h);
  originY_ = 0;
  image_ = QImage(w, h, QImage::Format_RGB32);
  if (!image_.isNull()) {
    image_.fill(0xFFFFFFFFu);
    image_.setDotsPerMeterX(3780);  // 96 DPI
    image_.setDotsPerMeterY(3780);
  }
}

void TImageCanvas::Widen(int w) {
  if (w <= image_.width()) return;
  const int h = image_.height();
  QImage wider(w, h, QImage::Format_RGB32);
  if (wider.isNull()) return;
  wider.fill(0xFFFFFFFFu);
  wider.setDotsPerMeterX(3780);
  wider.setDotsPerMeterY(3780);
  const qsizetype bytes = qsizetype(image_.width()) * 4;
  for (int y = 0; y < h; ++y) std::memcpy(wider.scanLine(y), image_.constScanLine(y), size_t(bytes));
  image_ = std::move(wider);
}

void TImageCanvas::Assign(const QImage& image) {
  originY_ = 0;
  image_ = image.convertToFormat(QImage::Format_RGB32);
}

void TImageCanvas::AttachBand(QImage& band, int originY) {
  image_ = QImage(band.bits(), band.width(), band.height(), band.bytesPerLine(), QImage::Format_RGB32);
  originY_ = originY;
}

TColor TImageCanvas::Pixel(int x, int y) const {
  y -= originY_;
  if (x < 0 || y < 0 || x >= image_.width() || y >= image_.height()) return 0xFFFFFFFFu;
  return FromRgb(image_.pixel(x, y));
}

void TImageCanvas::Paint(const QRect& bounds, const std::function<void(QPainter&)>& paint, bool forPen) {
  if (image_.isNull()) return;
  const QRect area = bounds.translated(0, -originY_).intersected(image_.rect());
  if (area.isEmpty()) return;
  const int first = area.top() / kBandHeight;
  const int last = area.bottom() / kBandHeight;
  for (int b = first; b <= last; ++b) {
    const int y0 = b * kBandHeight;
    const int bh = std::min(kBandHeight, image_.height() - y0);
    // A view of the band's rows; painting it writes the image's own pixels.
    QImage band(image_.scanLine(y0), image_.width(), bh, image_.bytesPerLine(), QImage::Format_RGB32);
    QPainter p(&band);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.translate(0, -y0 - originY_);
    if (forPen && PenMode == TPenMode::MaskNotPen) p.setCompositionMode(kMaskNotPen);
    paint(p);
  }
}

void TImageCanvas::SetupPen(QPainter& p) const {
  QPen pen(ToQColor(PenColor));
  pen.setWidth(std::max(1, PenWidth));
  pen.setCapStyle(PenWidth > 1 ? Qt::RoundCap : Qt::SquareCap);
  pen.setJoinStyle(Qt::RoundJoin);
  p.setPen(pen);
  if (BrushStyle == TBrushStyle::Solid) {
    p.setBrush(ToQColor(BrushColor));
  } else {
    p.setBrush(Qt::NoBrush);
  }
}

QRect TImageCanvas::PenBounds(const QRect& r) const {
  const int m = std::max(1, PenWidth) + 1;
  return r.normalized().adjusted(-m, -m, m, m);
}

void TImageCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  if (x2 - x1 < 1 || y2 - y1 < 1) return;
  Paint(PenBounds(QRect(QPoint(x1, y1), QPoint(x2, y2))), [&](QPainter& p) {
    SetupPen(p);
    if (BrushStyle == TBrushStyle::Solid) p.fillRect(QRect(x1, y1, x2 - x1, y2 - y1), ToQColor(BrushColor));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1));
  }, true);
}

void TImageCanvas::FillRect(int x1, int y1, int x2, int y2) {
  const QRect r = QRect(QPoint(x1, y1), QPoint(x2 - 1, y2 - 1)).normalized();
  if (r.isEmpty()) return;
  Paint(r, [&](QPainter& p) { p.fillRect(r, ToQColor(BrushColor)); }, false);
}

void TImageCanvas::Ellipse(int x1, int y1, int x2, int y2) {
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  if (x2 - x1 < 1 || y2 - y1 < 1) return;
  Paint(PenBounds(QRect(QPoint(x1, y1), QPoint(x2, y2))), [&](QPainter& p) {
    SetupPen(p);
    p.drawEllipse(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1));
  }, true);
}

void TImageCanvas::Line(int x1, int y1, int x2, int y2) {
  Paint(PenBounds(QRect(QPoint(x1, y1), QPoint(x2, y2))), [&](QPainter& p) {
    SetupPen(p);
    p.drawLine(x1, y1, x2, y2);
  }, true);
}

void TImageCanvas::Polyline(const std::vector<QPoint>& points) {
  if (points.empty()) return;
  QRect bounds(points.front(), points.front());
  for (const QPoint& pt : points) bounds |= QRect(pt, pt);
  Paint(PenBounds(bounds), [&](QPainter& p) {
    SetupPen(p);
    p.drawPolyline(points.data(), int(points.size()));
  }, true);
}

void TImageCanvas::Polygon(const std::vector<QPoint>& points) {
  if (points.empty()) return;
  QRect bounds(points.front(), points.front());
  for (const QPoint& pt : points) bounds |= QRect(pt, pt);
  Paint(PenBounds(bounds), [&](QPainter& p) {
    SetupPen(p);
    p.drawPolygon(points.data(), int(points.size()));
  }, true);
}

void TImageCanvas::Arc(double cx, double cy, double r, double a1, double a2) {
  if (!(r > 0)) return;
  double sweep = std::fmod(a2 - a1, 360.0);
  if (sweep <= 0) sweep += 360.0;
  // Chords short enough that none strays more than a third of a pixel from the true circle.
  const double step = 2.0 * std::acos(std::max(-1.0, 1.0 - 0.3 / r)) * 180.0 / std::numbers::pi;
  const int n = std::max(1, static_cast<int>(std::ceil(sweep / std::max(step, 1e-6))));
  std::vector<QPoint> pts;
  pts.reserve(size_t(n) + 1);
  for (int i = 0; i <= n; ++i) {
    const QPoint pt = ArcPoint(cx, cy, r, i == n ? a1 + sweep : a1 + sweep * i / n);
    if (pts.empty() || pts.back() != pt) pts.push_back(pt);
  }
  if (pts.size() == 1) pts.push_back(pts.front());
  Polyline(pts);
}

void TImageCanvas::FloodFill(int x, int y, TColor color) {
  const int w = image_.width();
  const int h = image_.height();
  y -= originY_;
  if (x < 0 || y < 0 || x >= w || y >= h) return;
  // One detach up front; the pixel test is then plain pointer arithmetic (it runs for every pixel).
  uchar* const base = image_.bits();
  const qsizetype stride = image_.bytesPerLine();
  auto white = [base, stride](int px, int py) {
    return (reinterpret_cast<const QRgb*>(base + stride * py)[px] & 0xFFFFFFu) == 0xFFFFFFu;
  };
  if (!white(x, y)) return;
  const QRgb fill = ToQColor(color).rgb();
  if ((fill & 0xFFFFFFu) == 0xFFFFFFu) return;  // the area is white already
  std::vector<std::pair<int, int>> stack;
  stack.emplace_back(x, y);
  while (!stack.empty()) {
    const auto [sx, sy] = stack.back();
    stack.pop_back();
    if (!white(sx, sy)) continue;
    int left = sx;
    int right = sx;
    while (left > 0 && white(left - 1, sy)) --left;
    while (right < w - 1 && white(right + 1, sy)) ++right;
    QRgb* line = reinterpret_cast<QRgb*>(base + stride * sy);
    for (int i = left; i <= right; ++i) line[i] = fill;
    for (const int ny : {sy - 1, sy + 1}) {
      if (ny < 0 || ny >= h) continue;
      bool inRun = false;
      for (int i = left; i <= right; ++i) {
        const bool wv = white(i, ny);
        if (wv && !inRun) stack.emplace_back(i, ny);
        inRun = wv;
      }
    }
  }
}

void TImageCanvas::TextOut(int x, int y, const QString& text) {
  if (text.isEmpty()) return;
  const QFont qf = ToQFont(Font);
  const QFontMetrics fm(qf);
  const int tw = fm.horizontalAdvance(text);
  const int th = fm.ascent() + fm.descent();
  const int reach = tw + th + 2;
  Paint(QRect(x - reach, y - reach, 2 * reach + 1, 2 * reach + 1), [&](QPainter& p) {
    p.setFont(qf);
    p.translate(x, y);
    if (Font.Escapement != 0) p.rotate(-Font.Escapement / 10.0);
    if (!TransparentText) p.fillRect(QRect(0, 0, tw, th), ToQColor(BrushColor));
    p.setPen(ToQColor(Font.Color));
    p.drawText(0, fm.ascent(), text);
  }, false);
}

int TImageCanvas::DrawTextCentered(const QRect& r, const QString& text, bool measureOnly) {
  const QFont qf = ToQFont(Font);
  const int flags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap;
  const QRect used = QFontMetrics(qf).boundingRect(r, flags, text);
  if (!measureOnly) {
    Paint(used.united(r), [&](QPainter& p) {
      p.setFont(qf);
      if (!TransparentText) p.fillRect(used, ToQColor(BrushColor));
      p.setPen(ToQColor(Font.Color));
      p.drawText(r, flags, text);
    }, false);
  }
  return used.height();
}

void TImageCanvas::StretchDraw(const QRect& dest, const QImage& src, bool smooth) {
  if (src.isNull() || dest.isEmpty()) return;
  Paint(dest, [&](QPainter& p) {
    p.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    p.drawImage(dest, src);
  }, false);
}

}  // namespace platform
