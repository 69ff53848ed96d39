// bzip2 wrapper: see NRDBZip2.h.
#include "engine/foundation/NRDBZip2.h"

#include <bzlib.h>

#include <algorithm>
#include <cmath>

#include "engine/foundation/NRDZlib.h"

namespace nrd {

void BZCompressBuffer(const void* InBuf, std::int32_t InSize, std::vector<std::uint8_t>& OutBuf,
                      int BlockSize100k, std::int32_t& OutSize) {
  OutSize = 0;
  OutBuf.clear();
  if (InSize < 0 || (InSize > 0 && InBuf == nullptr)) throw EBZCompressionError(BZ_PARAM_ERROR);
  const std::int64_t estimate = std::llround(double(InSize) * 1.01) + 600;
  if (estimate > INT32_MAX) throw EBZCompressionError(BZ_MEM_ERROR);
  std::vector<std::uint8_t> out(static_cast<std::size_t>(estimate));
  unsigned int destLen = unsigned(estimate);
  const int rc = BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &destLen,
                                          static_cast<char*>(const_cast<void*>(InBuf)), unsigned(InSize),
                                          BlockSize100k, 0, 0);
  if (rc != BZ_OK) throw EBZCompressionError(rc);
  out.resize(destLen);
  OutSize = std::int32_t(destLen);
  OutBuf = std::move(out);
}

void BZDecompressBuffer(const void* InBuf, std::int32_t InSize, std::int32_t OutEstimate, std::int32_t& OutSize,
                        std::vector<std::uint8_t>& OutBuf) {
  OutSize = 0;
  OutBuf.clear();
  if (InSize <= 0 || InBuf == nullptr || OutEstimate < 0) throw EBZDecompressionError(BZ_PARAM_ERROR);
  const std::int64_t step = (std::int64_t(InSize) * 10 + 65535) / 65536 * 65536;
  std::int64_t size = OutEstimate > 0 ? OutEstimate : std::min<std::int64_t>(step, kMaxUnknownPlainSize);
  for (;;) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(size));
    unsigned int destLen = unsigned(size);
    const int rc = BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.data()), &destLen,
                                              static_cast<char*>(const_cast<void*>(InBuf)), unsigned(InSize), 0,
                                              0);
    if (rc == BZ_OK) {
      out.resize(destLen);
      OutSize = std::int32_t(destLen);
      OutBuf = std::move(out);
      return;
    }
    // A full buffer with a known size means more plain bytes than expected. Otherwise retry with
    // twice the room, which keeps the total work linear, up to the ceiling.
    if (rc != BZ_OUTBUFF_FULL || OutEstimate > 0 || size >= kMaxUnknownPlainSize) throw EBZDecompressionError(rc);
    size = std::min<std::int64_t>(size * 2, kMaxUnknownPlainSize);
  }
}

}  // namespace nrd
