// Writes pictures as BMP (24-bit), JPEG (quality 90) or PNG, a band of rows at a time: a picture
// source paints bands into a small image, so a tree picture a million pixels tall never needs one
// image of its full size. Every failure (file not created, disk full, a JPEG side above 65500 px,
// a BMP above 4 GB) comes back as a message; nothing half-written is reported as written. The file is
// written whole or not at all (platform/qt/TargetFile.h): a failure keeps the old file, and a target that
// is no regular file (a FIFO, a device, a folder) is refused.
#pragma once

#include <QImage>
#include <QString>

namespace platform {

class TBandSource {
 public:
  virtual ~TBandSource() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  // Paints the picture's rows y0 .. y0 + band.height() - 1 into `band` (32-bit, Width() wide,
  // white when it arrives). The PNG writer calls it from several threads at once, each with its own
  // band: it must not change the source.
  virtual void PaintBand(QImage& band, int y0) const = 0;
};

// A ready image as a band source.
// The image is taken in a 32-bit format once (a shallow copy when it already is one).
class TImageBandSource : public TBandSource {
 public:
  explicit TImageBandSource(const QImage& image);
  int Width() const override { return image_.width(); }
  int Height() const override { return image_.height(); }
  void PaintBand(QImage& band, int y0) const override;
  const QImage& Rgb32() const { return image_; }

 private:
  QImage image_;
};

enum class TPictureFormat { Bmp, Jpeg, Png };

inline constexpr int kJpegMaxSide = 65500;
inline constexpr int kJpegQuality = 90;

// Writes `source` to `fileName`. Returns an empty string on success, else the reason it failed.
QString WritePicture(const QString& fileName, TPictureFormat format, const TBandSource& source);
QString WritePicture(const QString& fileName, TPictureFormat format, const QImage& image);
// PNG whose strips of rows are painted and compressed on `threads` threads (0: one per core, at most
// 16) while this thread writes them in order; the file's bytes do not depend on the number of threads.
QString WritePng(const QString& fileName, const TBandSource& source, int threads = 0);

}  // namespace platform
