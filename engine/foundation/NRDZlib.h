// Whole-buffer deflate and inflate over zlib (the zlib stream format: header, deflate data,
// Adler-32 trailer; window bits 15, memory level 8, default strategy).
// Compression raises ECompressionError ("error " and the zlib code); decompression never raises
// and never produces more than its bound: the caller's expected size when it gives one, else a
// fixed ceiling. A stream that asks for a preset dictionary, stops making progress, is cut short or
// is damaged fails cleanly with an empty result and a reason in ErrorText.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace nrd {

class EZlibError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ECompressionError : public EZlibError {
 public:
  explicit ECompressionError(int code) : EZlibError("error " + std::to_string(code)), Code(code) {}
  int Code;
};

// Largest plain size produced when the caller does not know the size (256 MiB).
inline constexpr std::int32_t kMaxUnknownPlainSize = 256 << 20;

// Compresses InSize bytes at Level 0..9. OutBuf receives exactly OutSize bytes.
void ZCompressBuffer(const void* InBuf, std::int32_t InSize, std::vector<std::uint8_t>& OutBuf, int Level,
                     std::int32_t& OutSize);

// Inflates one zlib stream. OutEstimate > 0 is the expected plain size and the most that will be
// produced; 0 means unknown. Returns false (OutSize 0, OutBuf empty) on failure, with the reason in
// ErrorText when it is given.
bool ZDecompressBuffer(const void* InBuf, std::int32_t InSize, std::int32_t OutEstimate, std::int32_t& OutSize,
                       std::vector<std::uint8_t>& OutBuf, std::string* ErrorText = nullptr);

}  // namespace nrd
