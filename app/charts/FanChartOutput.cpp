#include "app/charts/FanChartOutput.h"

#include "app/charts/ChartOutput.h"
#include "app/core/UnitFunc.h"
#include "platform/qt/PictureFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// A rectangle of a picture read as its own picture, without copying it.
class TCropSource : public platform::TBandSource {
 public:
  TCropSource(const QImage& image, const QRect& r) : image_(image), r_(r) {}
  int Width() const override { return r_.width(); }
  int Height() const override { return r_.height(); }
  void PaintBand(QImage& band, int y0) const override {
    const int rows = std::min(band.height(), r_.height() - y0);
    const size_t bytes = size_t(std::min(band.width(), r_.width())) * 4;
    for (int y = 0; y < rows; ++y)
      std::memcpy(band.scanLine(y), image_.constScanLine(r_.top() + y0 + y) + size_t(r_.left()) * 4, bytes);
  }

 private:
  const QImage& image_;
  QRect r_;
};

QRect Ltrb(int l, int t, int r, int b) { return QRect(QPoint(l, t), QPoint(r - 1, b - 1)); }

}  // namespace

QStringList FanZoomItems() {
  return {QStringLiteral("100%"), QStringLiteral("70%"), QStringLiteral("50%"), QStringLiteral("33%"),
          QStringLiteral("25% "), QStringLiteral("20%"), QStringLiteral("15%"), QStringLiteral("12%"),
          QStringLiteral("10%"), QStringLiteral("8%"),  QStringLiteral("6%"),  QStringLiteral("5%")};
}

TFanZoom FanZoomFor(const QString& zoomText, int w, const QSize& box) {
  TFanZoom z;
  bool ok = false;
  const int percent = SplitPart(1, zoomText, u'%').trimmed().toInt(&ok);
  if (ok && percent > 100) {
    z.mode = TFanZoom::FullSize;
    z.Side = w;
    z.Percent = 100;
    return z;
  }
  if (ok && percent > 0) {
    z.Percent = percent;
    z.Side = int(qint64(percent) * w / 100);
    return z;
  }
  z.Side = zoomText == kFanZoomFitHeight ? box.height() : box.width();
  const int maxSide = int(std::sqrt(double(kFanDisplayPixelBudget)));
  if (z.Side > maxSide) {
    z.Side = maxSide;
    z.OverBudget = true;
  }
  z.Side = std::max(z.Side, 1);
  return z;
}

QPoint FanZoomScroll(int shown, const QSize& box) {
  auto pos = [](int s, int b) { return std::max(0, int(std::nearbyint((s - b) / 2.0))); };
  return QPoint(pos(shown, box.width()), pos(shown, box.height()));
}

QImage FanScaledCopy(const QImage& picture, int side) {
  if (picture.isNull() || side <= 0) return QImage();
  // Smooth scaling averages the pixels that a shrunk picture drops.
  return picture.scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

std::vector<QRect> FanParts(const QSize& s, int count, bool leftRight) {
  const int w = s.width();
  const int h = s.height();
  if (count == 2) {
    if (leftRight) return {QRect(0, 0, w / 2, h), QRect(w / 2, 0, w - w / 2, h)};
    return {QRect(0, 0, w, h / 2), QRect(0, h / 2, w, h - h / 2)};
  }
  if (count == 4) {
    const int hw = w / 2;
    const int hh = h / 2;
    return {QRect(0, 0, hw, hh), QRect(0, hh, hw, h - hh), QRect(hw, 0, w - hw, hh), QRect(hw, hh, w - hw, h - hh)};
  }
  return {QRect(0, 0, w, h)};
}

std::vector<QRect> FanPrintTargets(int count, bool landscape, const QSize& page) {
  const int s = std::min(page.width(), page.height());
  const int l = std::max(page.width(), page.height());
  if (count == 2) {
    if (landscape) return {Ltrb(0, s - l / 2, l, s), Ltrb(0, 0, l, l / 2)};
    return {Ltrb(s - l / 2, 0, s, l), Ltrb(0, 0, l / 2, l)};
  }
  if (count == 4) {
    if (landscape) return {Ltrb(l - s, 0, l, s), Ltrb(l - s, 0, l, s), Ltrb(0, 0, s, s), Ltrb(0, 0, s, s)};
    return {Ltrb(0, l - s, s, l), Ltrb(0, 0, s, s), Ltrb(0, l - s, s, l), Ltrb(0, 0, s, s)};
  }
  return {Ltrb(0, 0, s, s)};
}

bool PrintFanPicture(const QImage& picture, int count, platform::TDialogs& dialogs, platform::TPageSink& printer) {
  if (picture.isNull() || picture.width() <= 0) return false;
  if (count != 2 && count != 4) count = 1;
  if (!dialogs.Print(printer)) return false;
  const bool landscape = printer.Landscape();
  // Portrait pages take the left and right halves, landscape pages the top and bottom ones.
  const std::vector<QRect> parts = FanParts(picture.size(), count, count == 2 && !landscape);
  const std::vector<QRect> targets = FanPrintTargets(count, landscape, printer.PageSize());
  auto failed = [&] {
    dialogs.Message(ChartText(QStringLiteral("PrintFailed"), QStringLiteral("Не удалось напечатать: ")) +
                    printer.LastError());
    return false;
  };
  if (!printer.BeginDoc(QStringLiteral("FanChart"))) return failed();
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0 && !printer.NewPage()) {
      printer.EndDoc();
      return failed();
    }
    if (count == 1) {
      printer.StretchDraw(targets[i], picture);
    } else {
      const QImage part = picture.copy(parts[i]);
      printer.StretchDraw(targets[i], part);
    }
  }
  if (!printer.EndDoc()) return failed();
  return true;
}

std::vector<QString> FanSaveNames(const QString& chosen, int filterIndex, int count) {
  static const char* const kExt[] = {".jpg", ".bmp", ".png"};
  const QString ext = QLatin1String(kExt[std::clamp(filterIndex, 1, 3) - 1]);
  const int dot = chosen.lastIndexOf(QLatin1Char('.'));
  const int slash = std::max(chosen.lastIndexOf(QLatin1Char('/')), chosen.lastIndexOf(QLatin1Char('\\')));
  const QString base = dot > slash ? chosen.left(dot) : chosen;
  if (count <= 1) return {base + ext};
  std::vector<QString> names;
  for (int i = 1; i <= count; ++i) names.push_back(base + QString::number(i) + ext);
  return names;
}

bool SaveFanPicture(const QImage& picture, int count, platform::TDialogs& dialogs) {
  if (picture.isNull() || picture.width() <= 0) return false;
  if (count != 2 && count != 4) count = 1;
  QString name;
  int filter = 3;
  if (!dialogs.Save(kPictureSaveFilter, name, filter)) return false;
  const platform::TPictureFormat formats[] = {platform::TPictureFormat::Jpeg, platform::TPictureFormat::Bmp,
                                              platform::TPictureFormat::Png};
  const platform::TPictureFormat format = formats[std::clamp(filter, 1, 3) - 1];
  const std::vector<QString> names = FanSaveNames(name, filter, count);
  const std::vector<QRect> parts = FanParts(picture.size(), count);
  const QImage rgb = picture.format() == QImage::Format_RGB32 || picture.format() == QImage::Format_ARGB32
                         ? picture
                         : picture.convertToFormat(QImage::Format_RGB32);
  for (size_t i = 0; i < parts.size(); ++i) {
    const TCropSource source(rgb, parts[i]);
    const QString error = platform::WritePicture(names[i], format, source);
    if (!error.isEmpty()) {
      dialogs.Message(ChartText(QStringLiteral("SaveFailed"), QStringLiteral("Не удалось сохранить файл: ")) + error);
      return false;
    }
  }
  return true;
}
