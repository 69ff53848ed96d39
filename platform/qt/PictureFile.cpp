#include "platform/qt/PictureFile.h"

#include "platform/qt/RunDeflate.h"
#include "platform/qt/TargetFile.h"

#include <QFile>
#include <QPainter>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <vector>

#include <jpeglib.h>
#include <zlib.h>

namespace platform {

namespace {

constexpr int kRowsPerBand = 1024;

QImage NewBand(int w, int h) {
  QImage band(w, h, QImage::Format_RGB32);
  if (!band.isNull()) band.fill(0xFFFFFFFFu);
  return band;
}

void PutLe16(std::vector<unsigned char>& b, unsigned v) {
  b.push_back(v & 0xFF);
  b.push_back((v >> 8) & 0xFF);
}
void PutLe32(std::vector<unsigned char>& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xFF);
}
void PutBe32(std::vector<unsigned char>& b, std::uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back((v >> (8 * i)) & 0xFF);
}

QString CannotWrite(const QString& fileName, const QFile& f) {
  return QStringLiteral("Cannot write %1: %2").arg(fileName, f.errorString());
}

QString WriteBmp(const QString& fileName, const TBandSource& src) {
  const int w = src.Width();
  const int h = src.Height();
  const std::uint64_t stride = (std::uint64_t(w) * 3 + 3) & ~std::uint64_t(3);
  const std::uint64_t dataSize = stride * std::uint64_t(h);
  if (dataSize + 54 > 0xFFFFFFFFull) return QStringLiteral("The picture is too large for a BMP file");
  QFile f(fileName);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return CannotWrite(fileName, f);
  std::vector<unsigned char> head;
  head.push_back('B');
  head.push_back('M');
  PutLe32(head, std::uint32_t(dataSize + 54));
  PutLe32(head, 0);
  PutLe32(head, 54);
  PutLe32(head, 40);
  PutLe32(head, std::uint32_t(w));
  PutLe32(head, std::uint32_t(h));  // positive: rows bottom-up
  PutLe16(head, 1);
  PutLe16(head, 24);
  PutLe32(head, 0);
  PutLe32(head, std::uint32_t(dataSize));
  PutLe32(head, 3780);
  PutLe32(head, 3780);
  PutLe32(head, 0);
  PutLe32(head, 0);
  if (f.write(reinterpret_cast<const char*>(head.data()), qint64(head.size())) != qint64(head.size()))
    return CannotWrite(fileName, f);
  std::vector<unsigned char> row(size_t(stride), 0);
  // Bands from the bottom up, rows of each band from its last.
  for (int bandEnd = h; bandEnd > 0;) {
    const int y0 = std::max(0, bandEnd - kRowsPerBand);
    QImage band = NewBand(w, bandEnd - y0);
    src.PaintBand(band, y0);
    for (int y = band.height() - 1; y >= 0; --y) {
      const QRgb* line = reinterpret_cast<const QRgb*>(band.constScanLine(y));
      for (int x = 0; x < w; ++x) {
        row[size_t(x) * 3] = qBlue(line[x]);
        row[size_t(x) * 3 + 1] = qGreen(line[x]);
        row[size_t(x) * 3 + 2] = qRed(line[x]);
      }
      if (f.write(reinterpret_cast<const char*>(row.data()), qint64(stride)) != qint64(stride))
        return CannotWrite(fileName, f);
    }
    bandEnd = y0;
  }
  if (!f.flush()) return CannotWrite(fileName, f);
  f.close();
  if (f.error() != QFileDevice::NoError) return CannotWrite(fileName, f);
  return {};
}

class PngChunkWriter {
 public:
  explicit PngChunkWriter(QFile& f) : f_(f) {}
  bool Chunk(const char type[4], const unsigned char* data, size_t n) {
    std::vector<unsigned char> head;
    PutBe32(head, std::uint32_t(n));
    head.insert(head.end(), type, type + 4);
    uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(type), 4);
    if (n > 0) crc = crc32(crc, data, uInt(n));
    std::vector<unsigned char> tail;
    PutBe32(tail, std::uint32_t(crc));
    return f_.write(reinterpret_cast<const char*>(head.data()), 8) == 8 &&
           (n == 0 || f_.write(reinterpret_cast<const char*>(data), qint64(n)) == qint64(n)) &&
           f_.write(reinterpret_cast<const char*>(tail.data()), 4) == 4;
  }

 private:
  QFile& f_;
};

// One strip of rows, compressed on its own as raw deflate ending on a byte boundary (a sync flush, or the
// final block for the last strip), so strips written one after another form one deflate stream; the
// Adler-32 of the strip's filtered bytes is combined into the zlib trailer. The strip's first row is
// written unfiltered, so no strip needs the rows of another: strips are painted and compressed on any
// thread in any order, and the file is the same whatever the number of threads.
struct PngStrip {
  int y0 = 0;
  int rows = 0;
  bool last = false;
  std::vector<unsigned char> out;
  uLong adler = 1;
  std::size_t length = 0;
  bool ok = true;
};

// Paints (or, for a ready image, reads) the strip's rows and compresses them into strip.out. `band` is
// the calling thread's own band image, reused from strip to strip.
void CompressStrip(const TBandSource& src, const QImage* image, QImage& band, PngStrip& strip) {
  const int width = src.Width();
  if (!image) {
    if (band.isNull() || band.height() < strip.rows) band = NewBand(width, strip.rows);
    else band.fill(0xFFFFFFFFu);
    if (band.isNull()) {
      strip.ok = false;
      return;
    }
    src.PaintBand(band, strip.y0);
  }
  // Tree pictures are mostly white: the "Up" filter turns repeated rows into runs of zeros, which the
  // run encoder packs at memory speed.
  const std::size_t n = std::size_t(width) * 3;
  std::vector<unsigned char> row(n + 1);
  const auto scanLine = [&](int k) {
    return reinterpret_cast<const QRgb*>(image ? image->constScanLine(strip.y0 + k) : band.constScanLine(k));
  };
  strip.out.reserve(std::size_t(64) << 10);
  TRunDeflater deflater(strip.out);
  for (int k = 0; k < strip.rows; ++k) {
    const QRgb* line = scanLine(k);
    unsigned char* to = row.data() + 1;
    if (k == 0) {
      row[0] = 0;  // None: the row as it is
      for (int x = 0; x < width; ++x, to += 3) {
        to[0] = static_cast<unsigned char>(qRed(line[x]));
        to[1] = static_cast<unsigned char>(qGreen(line[x]));
        to[2] = static_cast<unsigned char>(qBlue(line[x]));
      }
    } else {
      row[0] = 2;  // Up: each byte minus the byte above
      const QRgb* above = scanLine(k - 1);
      for (int x = 0; x < width; ++x, to += 3) {
        to[0] = static_cast<unsigned char>(qRed(line[x]) - qRed(above[x]));
        to[1] = static_cast<unsigned char>(qGreen(line[x]) - qGreen(above[x]));
        to[2] = static_cast<unsigned char>(qBlue(line[x]) - qBlue(above[x]));
      }
    }
    strip.adler = adler32(strip.adler, row.data(), uInt(row.size()));
    strip.length += row.size();
    deflater.Add(row.data(), row.size());
  }
  deflater.Finish(strip.last);
  strip.out.shrink_to_fit();
}

// Strips painted and compressed by worker threads while the calling thread writes finished ones in
// order. At most `window` strips are held at once, so memory stays bounded for a picture of any height.
class PngStripPipeline {
 public:
  PngStripPipeline(const TBandSource& src, int stripRows, int threads)
      : src_(src), stripRows_(stripRows), count_((src.Height() + stripRows - 1) / stripRows),
        window_(std::max(2, 2 * threads)), slots_(std::size_t(window_)) {
    if (const auto* ready = dynamic_cast<const TImageBandSource*>(&src)) image_ = &ready->Rgb32();
    for (int t = 0; t < std::min(threads, count_); ++t) workers_.emplace_back([this] { Work(); });
  }
  ~PngStripPipeline() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : workers_) t.join();
  }
  PngStripPipeline(const PngStripPipeline&) = delete;
  PngStripPipeline& operator=(const PngStripPipeline&) = delete;

  int Count() const { return count_; }
  // Waits for strip i (taken in order 0, 1, ...); it stays valid until Release(i).
  const PngStrip& Take(int i) {
    std::unique_lock<std::mutex> lock(mutex_);
    Slot& s = slots_[std::size_t(i % window_)];
    changed_.wait(lock, [&] { return s.ready && s.index == i; });
    return s.strip;
  }
  void Release(int i) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Slot& s = slots_[std::size_t(i % window_)];
      s.ready = false;
      s.strip = PngStrip();
      released_ = i + 1;
    }
    changed_.notify_all();
  }

 private:
  struct Slot {
    int index = -1;
    bool ready = false;
    PngStrip strip;
  };

  void Work() {
    QImage band;
    for (;;) {
      int i = 0;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || next_ >= count_ || next_ < released_ + window_; });
        if (stop_ || next_ >= count_) return;
        i = next_++;
      }
      PngStrip strip;
      strip.y0 = i * stripRows_;
      strip.rows = std::min(stripRows_, src_.Height() - strip.y0);
      strip.last = i == count_ - 1;
      CompressStrip(src_, image_, band, strip);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        Slot& s = slots_[std::size_t(i % window_)];
        s.index = i;
        s.strip = std::move(strip);
        s.ready = true;
      }
      changed_.notify_all();
    }
  }

  const TBandSource& src_;
  const QImage* image_ = nullptr;
  const int stripRows_;
  const int count_;
  const int window_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Slot> slots_;
  int next_ = 0;      // the next strip a worker takes
  int released_ = 0;  // strips before this one are written and given back
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

QString WritePngStrips(const QString& fileName, const TBandSource& src, int threads) {
  const int w = src.Width();
  const int h = src.Height();
  QFile f(fileName);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return CannotWrite(fileName, f);
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (f.write(reinterpret_cast<const char*>(kSignature), 8) != 8) return CannotWrite(fileName, f);
  PngChunkWriter chunks(f);
  std::vector<unsigned char> ihdr;
  PutBe32(ihdr, std::uint32_t(w));
  PutBe32(ihdr, std::uint32_t(h));
  ihdr.push_back(8);  // bit depth
  ihdr.push_back(2);  // truecolour
  ihdr.push_back(0);
  ihdr.push_back(0);
  ihdr.push_back(0);
  if (!chunks.Chunk("IHDR", ihdr.data(), ihdr.size())) return CannotWrite(fileName, f);

  // The zlib stream: a header for the fastest level, the strips' deflate data, the combined Adler-32.
  static const unsigned char kZlibHeader[2] = {0x78, 0x01};
  if (!chunks.Chunk("IDAT", kZlibHeader, 2)) return CannotWrite(fileName, f);
  if (threads <= 0) threads = std::max(1, std::min(16, int(std::thread::hardware_concurrency())));
  const std::size_t rowBytes = std::size_t(w) * 3 + 1;
  // Strips of about 4 MB of filtered rows keep every core busy without holding much at once.
  const int stripRows = int(std::clamp<std::size_t>((std::size_t(4) << 20) / rowBytes, 16, std::size_t(kRowsPerBand)));
  uLong adler = 1;
  {
    PngStripPipeline pipeline(src, stripRows, threads);
    for (int i = 0; i < pipeline.Count(); ++i) {
      const PngStrip& strip = pipeline.Take(i);
      if (!strip.ok) return QStringLiteral("Cannot compress the picture");
      adler = adler32_combine(adler, strip.adler, z_off_t(strip.length));
      for (std::size_t at = 0; at < strip.out.size(); at += std::size_t(1) << 20) {
        const std::size_t len = std::min(strip.out.size() - at, std::size_t(1) << 20);
        if (!chunks.Chunk("IDAT", strip.out.data() + at, len)) return CannotWrite(fileName, f);
      }
      pipeline.Release(i);
    }
  }
  std::vector<unsigned char> trailer;
  PutBe32(trailer, std::uint32_t(adler));
  if (!chunks.Chunk("IDAT", trailer.data(), trailer.size())) return CannotWrite(fileName, f);
  if (!chunks.Chunk("IEND", nullptr, 0)) return CannotWrite(fileName, f);
  if (!f.flush()) return CannotWrite(fileName, f);
  f.close();
  if (f.error() != QFileDevice::NoError) return CannotWrite(fileName, f);
  return {};
}

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr cinfo) {
  JpegError* err = reinterpret_cast<JpegError*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

void JpegSilence(j_common_ptr) {}

// Plain C state only between setjmp and longjmp: nothing with a destructor lives in this frame.
bool JpegCompress(std::FILE* file, const TBandSource& src, unsigned char* row, QImage* band, JpegError* err) {
  jpeg_compress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = jpeg_std_error(&err->mgr);
  err->mgr.error_exit = JpegErrorExit;
  err->mgr.output_message = JpegSilence;
  if (setjmp(err->jump)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = JDIMENSION(src.Width());
  cinfo.image_height = JDIMENSION(src.Height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, kJpegQuality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  const int w = src.Width();
  for (int y0 = 0; y0 < src.Height(); y0 += band->height()) {
    band->fill(0xFFFFFFFFu);
    src.PaintBand(*band, y0);
    const int rows = std::min(band->height(), src.Height() - y0);
    for (int y = 0; y < rows; ++y) {
      const QRgb* line = reinterpret_cast<const QRgb*>(band->constScanLine(y));
      for (int x = 0; x < w; ++x) {
        row[size_t(x) * 3] = qRed(line[x]);
        row[size_t(x) * 3 + 1] = qGreen(line[x]);
        row[size_t(x) * 3 + 2] = qBlue(line[x]);
      }
      JSAMPROW rows1[1] = {row};
      jpeg_write_scanlines(&cinfo, rows1, 1);
    }
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

QString WriteJpeg(const QString& fileName, const TBandSource& src) {
  const int w = src.Width();
  const int h = src.Height();
  if (w > kJpegMaxSide || h > kJpegMaxSide)
    return QStringLiteral("A JPEG picture cannot be larger than %1 pixels a side (this one is %2 x %3)")
        .arg(kJpegMaxSide).arg(w).arg(h);
  if (w <= 0 || h <= 0) return QStringLiteral("The picture is empty");
  std::FILE* file = std::fopen(QFile::encodeName(fileName).constData(), "wb");
  if (!file) return QStringLiteral("Cannot write %1: %2").arg(fileName, QString::fromLocal8Bit(std::strerror(errno)));
  std::vector<unsigned char> row(size_t(w) * 3);
  QImage band = NewBand(w, std::min(kRowsPerBand, h));
  auto err = std::make_unique<JpegError>();
  const bool ok = JpegCompress(file, src, row.data(), &band, err.get());
  const bool ioOk = std::ferror(file) == 0;
  const bool closed = std::fclose(file) == 0;
  if (!ok) return QStringLiteral("Cannot write %1: %2").arg(fileName, QString::fromLocal8Bit(err->message));
  if (!ioOk || !closed) return QStringLiteral("Cannot write %1: write error").arg(fileName);
  return {};
}

}  // namespace

TImageBandSource::TImageBandSource(const QImage& image)
    : image_(image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32
                 ? image
                 : image.convertToFormat(QImage::Format_RGB32)) {}

void TImageBandSource::PaintBand(QImage& band, int y0) const {
  // Row copies: a painter's source rectangle would be clipped in images taller than 32767 px.
  const QImage& rgb = image_;
  const int rows = std::min(band.height(), rgb.height() - y0);
  const size_t bytes = size_t(std::min(band.width(), rgb.width())) * 4;
  for (int y = 0; y < rows; ++y) std::memcpy(band.scanLine(y), rgb.constScanLine(y0 + y), bytes);
}

namespace {

// Runs `write` on a temporary file that replaces `fileName` only when it succeeded; the writer's messages
// name the user's file, not the temporary one.
template <class Write>
QString WriteWhole(const QString& fileName, Write write) {
  TTargetFile target(fileName);
  QString error = target.Open();
  if (error.isEmpty()) error = write(target.TempPath());
  if (!error.isEmpty()) return error.replace(target.TempPath(), fileName);
  return target.Commit();
}

}  // namespace

QString WritePicture(const QString& fileName, TPictureFormat format, const TBandSource& source) {
  if (source.Width() <= 0 || source.Height() <= 0) return QStringLiteral("The picture is empty");
  switch (format) {
    case TPictureFormat::Bmp: {
      const std::uint64_t stride = (std::uint64_t(source.Width()) * 3 + 3) & ~std::uint64_t(3);
      if (stride * std::uint64_t(source.Height()) + 54 > 0xFFFFFFFFull)
        return QStringLiteral("The picture is too large for a BMP file");
      return WriteWhole(fileName, [&](const QString& temp) { return WriteBmp(temp, source); });
    }
    case TPictureFormat::Jpeg:
      if (source.Width() > kJpegMaxSide || source.Height() > kJpegMaxSide)
        return QStringLiteral("A JPEG picture cannot be larger than %1 pixels a side (this one is %2 x %3)")
            .arg(kJpegMaxSide).arg(source.Width()).arg(source.Height());
      return WriteWhole(fileName, [&](const QString& temp) { return WriteJpeg(temp, source); });
    case TPictureFormat::Png: return WritePng(fileName, source);
  }
  return QStringLiteral("Unknown picture format");
}

QString WritePng(const QString& fileName, const TBandSource& source, int threads) {
  if (source.Width() <= 0 || source.Height() <= 0) return QStringLiteral("The picture is empty");
  return WriteWhole(fileName, [&](const QString& temp) { return WritePngStrips(temp, source, threads); });
}

QString WritePicture(const QString& fileName, TPictureFormat format, const QImage& image) {
  const TImageBandSource source(image);
  return WritePicture(fileName, format, source);
}

}  // namespace platform
