// zlib wrapper: see NRDZlib.h.
#include "engine/foundation/NRDZlib.h"

#include <zlib.h>

#include <algorithm>

namespace nrd {

namespace {

// Grows `buf` by `step` bytes, never past `cap`; false when it is already at the cap.
bool Grow(std::vector<std::uint8_t>& buf, std::size_t step, std::size_t cap) {
  if (buf.size() >= cap) return false;
  buf.resize(std::min(cap, buf.size() + std::max<std::size_t>(step, 256)));
  return true;
}

}  // namespace

void ZCompressBuffer(const void* InBuf, std::int32_t InSize, std::vector<std::uint8_t>& OutBuf, int Level,
                     std::int32_t& OutSize) {
  OutSize = 0;
  OutBuf.clear();
  if (InSize < 0 || (InSize > 0 && InBuf == nullptr)) throw ECompressionError(Z_STREAM_ERROR);
  z_stream zs{};
  int rc = deflateInit2(&zs, Level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
  if (rc < 0) throw ECompressionError(rc);
  // Estimate as the stored form needs it; grow by 256 bytes while deflate asks for room.
  std::vector<std::uint8_t> out(std::size_t((std::int64_t(InSize) + InSize / 10 + 12 + 255) / 256 * 256));
  zs.next_in = static_cast<Bytef*>(const_cast<void*>(InBuf));
  zs.avail_in = uInt(InSize);
  zs.next_out = out.data();
  zs.avail_out = uInt(out.size());
  for (;;) {
    rc = deflate(&zs, Z_FINISH);
    if (rc == Z_STREAM_END) break;
    if ((rc < 0 && rc != Z_BUF_ERROR) || (rc == Z_BUF_ERROR && zs.avail_out != 0)) {
      deflateEnd(&zs);
      throw ECompressionError(rc);
    }
    const std::size_t written = zs.total_out;
    if (written > std::size_t(INT32_MAX) - 256) {
      deflateEnd(&zs);
      throw ECompressionError(Z_MEM_ERROR);
    }
    out.resize(out.size() + 256);
    zs.next_out = out.data() + written;
    zs.avail_out = uInt(out.size() - written);
  }
  const std::size_t total = zs.total_out;
  deflateEnd(&zs);
  out.resize(total);
  OutSize = std::int32_t(total);
  OutBuf = std::move(out);
}

bool ZDecompressBuffer(const void* InBuf, std::int32_t InSize, std::int32_t OutEstimate, std::int32_t& OutSize,
                       std::vector<std::uint8_t>& OutBuf, std::string* ErrorText) {
  OutSize = 0;
  OutBuf.clear();
  auto fail = [&](int code) {
    if (ErrorText) *ErrorText = "error " + std::to_string(code);
    OutSize = 0;
    OutBuf.clear();
    return false;
  };
  if (InSize <= 0 || InBuf == nullptr || OutEstimate < 0) return fail(Z_STREAM_ERROR);
  const std::size_t step = std::size_t((std::int64_t(InSize) + 255) / 256 * 256);
  // Without an expected size: deflate expands at most about 1032:1, and never past the ceiling.
  const std::size_t cap = OutEstimate > 0
                              ? std::size_t(OutEstimate)
                              : std::size_t(std::min<std::int64_t>(kMaxUnknownPlainSize,
                                                                   std::int64_t(InSize) * 1032 + 1024));
  std::vector<std::uint8_t> out;
  try {
    out.resize(OutEstimate > 0 ? cap : std::min(step, cap));
  } catch (const std::bad_alloc&) {
    return fail(Z_MEM_ERROR);
  }
  z_stream zs{};
  int rc = inflateInit(&zs);
  if (rc < 0) return fail(rc);
  zs.next_in = static_cast<Bytef*>(const_cast<void*>(InBuf));
  zs.avail_in = uInt(InSize);
  zs.next_out = out.data();
  zs.avail_out = uInt(out.size());
  for (;;) {
    const uLong inBefore = zs.total_in;
    const uLong outBefore = zs.total_out;
    rc = inflate(&zs, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) break;
    // A dictionary request, an error or a call without progress ends the run.
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      inflateEnd(&zs);
      return fail(rc == Z_NEED_DICT ? Z_DATA_ERROR : rc);
    }
    const bool progress = zs.total_in != inBefore || zs.total_out != outBefore;
    if (zs.avail_out == 0) {
      bool grown = false;
      try {
        grown = Grow(out, step, cap);
      } catch (const std::bad_alloc&) {
        grown = false;
      }
      if (!grown) {
        inflateEnd(&zs);
        return fail(Z_BUF_ERROR);  // more plain bytes than expected
      }
      zs.next_out = out.data() + zs.total_out;
      zs.avail_out = uInt(out.size() - zs.total_out);
    } else if (!progress || zs.avail_in == 0) {
      inflateEnd(&zs);
      return fail(Z_BUF_ERROR);  // input used up before the end of the stream
    }
  }
  const std::size_t total = zs.total_out;
  inflateEnd(&zs);
  out.resize(total);
  OutSize = std::int32_t(total);
  OutBuf = std::move(out);
  return true;
}

}  // namespace nrd
