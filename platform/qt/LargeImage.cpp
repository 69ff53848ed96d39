#include "platform/qt/LargeImage.h"

#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace platform {

namespace {
void FreeBuffer(void* p) { std::free(p); }
}  // namespace

QImage NewLargeWhiteImage(int w, int h) {
  if (w <= 0 || h <= 0) return QImage();
  const qsizetype stride = qsizetype(w) * 4;
  const size_t bytes = size_t(stride) * size_t(h);
  constexpr size_t kAlign = size_t(2) << 20;
  const size_t rounded = (bytes + kAlign - 1) / kAlign * kAlign;
  void* buffer = std::aligned_alloc(kAlign, rounded);
  if (!buffer) return QImage();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  madvise(buffer, rounded, MADV_HUGEPAGE);  // a hint only; without it the pages come one by one
#endif
  std::memset(buffer, 0xFF, bytes);
  QImage image(static_cast<uchar*>(buffer), w, h, stride, QImage::Format_RGB32, FreeBuffer, buffer);
  if (image.isNull()) {
    std::free(buffer);
    return QImage();
  }
  image.setDotsPerMeterX(3780);
  image.setDotsPerMeterY(3780);
  return image;
}

}  // namespace platform
