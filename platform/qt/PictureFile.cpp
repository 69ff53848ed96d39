#include "platform/qt/PictureFile.h"

#include <QFile>
#include <QPainter>

#include <cstdio>
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

QString WritePng(const QString& fileName, const TBandSource& src) {
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

  z_stream z{};
  // Tree pictures are mostly white: the "Up" filter turns repeated rows into zeros, which run-length
  // deflate packs at memory speed.
  if (deflateInit2(&z, 1, Z_DEFLATED, 15, 8, Z_RLE) != Z_OK) return QStringLiteral("Cannot start compression");
  struct Ender {
    z_stream* z;
    ~Ender() { deflateEnd(z); }
  } ender{&z};
  std::vector<unsigned char> row(size_t(w) * 3 + 1);
  std::vector<unsigned char> cur(size_t(w) * 3, 0);
  std::vector<unsigned char> prev(size_t(w) * 3, 0);
  std::vector<unsigned char> out(1 << 16);
  auto pump = [&](int flush) -> bool {
    do {
      z.next_out = out.data();
      z.avail_out = uInt(out.size());
      const int rc = deflate(&z, flush);
      if (rc == Z_STREAM_ERROR) return false;
      const size_t have = out.size() - z.avail_out;
      if (have > 0 && !chunks.Chunk("IDAT", out.data(), have)) return false;
    } while (z.avail_out == 0);
    return true;
  };
  for (int y0 = 0; y0 < h; y0 += kRowsPerBand) {
    QImage band = NewBand(w, std::min(kRowsPerBand, h - y0));
    src.PaintBand(band, y0);
    for (int y = 0; y < band.height(); ++y) {
      const QRgb* line = reinterpret_cast<const QRgb*>(band.constScanLine(y));
      for (int x = 0; x < w; ++x) {
        cur[size_t(x) * 3] = qRed(line[x]);
        cur[size_t(x) * 3 + 1] = qGreen(line[x]);
        cur[size_t(x) * 3 + 2] = qBlue(line[x]);
      }
      row[0] = 2;  // Up: each byte minus the byte above (0 above the first row)
      for (size_t k = 0; k < cur.size(); ++k) row[k + 1] = static_cast<unsigned char>(cur[k] - prev[k]);
      cur.swap(prev);
      z.next_in = row.data();
      z.avail_in = uInt(row.size());
      if (!pump(Z_NO_FLUSH)) return CannotWrite(fileName, f);
    }
  }
  z.next_in = nullptr;
  z.avail_in = 0;
  if (!pump(Z_FINISH)) return CannotWrite(fileName, f);
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

void TImageBandSource::PaintBand(QImage& band, int y0) const {
  // Row copies: a painter's source rectangle would be clipped in images taller than 32767 px.
  const QImage rgb = image_.format() == QImage::Format_RGB32 || image_.format() == QImage::Format_ARGB32
                         ? image_
                         : image_.convertToFormat(QImage::Format_RGB32);
  const int rows = std::min(band.height(), rgb.height() - y0);
  const size_t bytes = size_t(std::min(band.width(), rgb.width())) * 4;
  for (int y = 0; y < rows; ++y) std::memcpy(band.scanLine(y), rgb.constScanLine(y0 + y), bytes);
}

QString WritePicture(const QString& fileName, TPictureFormat format, const TBandSource& source) {
  if (source.Width() <= 0 || source.Height() <= 0) return QStringLiteral("The picture is empty");
  switch (format) {
    case TPictureFormat::Bmp: return WriteBmp(fileName, source);
    case TPictureFormat::Jpeg: return WriteJpeg(fileName, source);
    case TPictureFormat::Png: return WritePng(fileName, source);
  }
  return QStringLiteral("Unknown picture format");
}

QString WritePicture(const QString& fileName, TPictureFormat format, const QImage& image) {
  const TImageBandSource source(image);
  return WritePicture(fileName, format, source);
}

}  // namespace platform
