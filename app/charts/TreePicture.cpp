#include "app/charts/TreePicture.h"

#include <QFontMetrics>

#include <algorithm>
#include <cmath>

using platform::TCanvas;

TTreePicture::TTreePicture(std::vector<TTreeRow> rows) : rows_(std::move(rows)) {
  const int n = int(rows_.size());
  height_ = n * kRow + 150;
  const QFontMetrics fm(platform::ToQFont(PictureFont()));
  std::vector<int> lastY;  // last row of each level
  texts_.reserve(size_t(n));
  for (int i = 0; i < n; ++i) {
    const int L = std::max(0, rows_[size_t(i)].Level);
    if (int(lastY.size()) <= L) lastY.resize(size_t(L) + 1, 0);
    texts_.push_back(DrawnText(rows_[size_t(i)].Text));
    width_ = std::max(width_, fm.horizontalAdvance(texts_.back()) + kRow * L + 100);
    if (i > 0) {
      const int prev = std::max(0, rows_[size_t(i) - 1].Level);
      const int x = kRow * L - 30;
      const int y = kRow * i + 25;
      auto add = [&](int x1, int y1, int x2, int y2) {
        segments_.push_back({QLine(x1, y1, x2, y2), std::min(y1, y2), std::max(y1, y2)});
      };
      add(kRow * L, y, x, y);
      const int up = prev < L ? kRow * i - 5 : kRow * i - 30;
      add(x, y, x, up);
      if (prev > L) add(x, up, x, lastY[size_t(L)]);
    }
    lastY[size_t(L)] = kRow * i + 25;
  }
}

platform::TCanvasFont TTreePicture::PictureFont() {
  platform::TCanvasFont f;
  f.Name = QStringLiteral("Arial");
  f.Height = platform::TCanvasFont::HeightFromPoints(32);
  return f;
}

QString TTreePicture::DrawnText(const QString& text) {
  QString t = text;
  for (QChar& ch : t) {
    const char16_t u = ch.unicode();
    if (u == '\r' || u == '\n' || u == '\t' || u == 0x2028 || u == 0x2029) ch = QLatin1Char(' ');
  }
  return t;
}

void TTreePicture::Draw(TCanvas& c, int y0, int y1) const {
  const int n = int(rows_.size());
  const int first = std::clamp(y0 / kRow - 1, 0, n);
  const int last = std::clamp(y1 / kRow + 1, 0, n);
  c.Font = PictureFont();
  c.PenColor = platform::clBlack;
  c.PenWidth = 1;
  c.PenMode = platform::TPenMode::Copy;
  for (int i = first; i < last; ++i) {
    const TTreeRow& r = rows_[size_t(i)];
    const int L = std::max(0, r.Level);
    const int x = kRow * L;
    const int y = kRow * i;
    c.BrushStyle = platform::TBrushStyle::Solid;
    if (r.StateImage == 1) {
      c.BrushColor = platform::clBlue;
      c.Rectangle(x, y + 5, x + 40, y + 45);
    } else if (r.StateImage == 2) {
      c.BrushColor = platform::clRed;
      c.Ellipse(x, y + 5, x + 40, y + 45);
    }
    c.TransparentText = true;
    c.TextOut(r.StateImage == -1 ? x + 10 : x + 50, y, texts_[size_t(i)]);
  }
  for (const Segment& s : segments_) {
    if (s.bottom < y0 - 2 || s.top > y1 + 2) continue;
    c.Line(s.line.x1(), s.line.y1(), s.line.x2(), s.line.y2());
  }
}

void TTreePicture::PaintBand(QImage& band, int y0) const {
  platform::TImageCanvas c;
  c.AttachBand(band, y0);
  Draw(c, y0, y0 + band.height());
}

QImage TTreePicture::Cut(int y0, int h) const {
  // Nothing is drawn below the picture's last row, so the page is white there.
  QImage page(width_, std::max(1, h), QImage::Format_RGB32);
  page.fill(0xFFFFFFFFu);
  if (y0 < height_) PaintBand(page, y0);
  return page;
}

int TreePageHeight(int width, bool landscape) {
  const double h = landscape ? width * 70.0 / 99.0 : width * 99.0 / 70.0;
  const int rounded = int(std::nearbyint(h));
  return std::max(TTreePicture::kRow, rounded / TTreePicture::kRow * TTreePicture::kRow);
}
