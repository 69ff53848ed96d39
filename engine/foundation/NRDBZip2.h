// Whole-buffer bzip2 compression and decompression over the bzip2 library's buffer interface.
// Compression raises EBZCompressionError, decompression EBZDecompressionError ("error " and the
// bzip2 code). Decompression never produces more than the caller's expected size when one is given,
// else never more than a fixed ceiling.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace nrd {

class EBZip2Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class EBZCompressionError : public EBZip2Error {
 public:
  explicit EBZCompressionError(int code) : EBZip2Error("error " + std::to_string(code)), Code(code) {}
  int Code;
};

class EBZDecompressionError : public EBZip2Error {
 public:
  explicit EBZDecompressionError(int code) : EBZip2Error("error " + std::to_string(code)), Code(code) {}
  int Code;
};

// Compresses InSize bytes with a block size of BlockSize100k (1..9; 0 is refused by bzip2).
void BZCompressBuffer(const void* InBuf, std::int32_t InSize, std::vector<std::uint8_t>& OutBuf,
                      int BlockSize100k, std::int32_t& OutSize);

// Decompresses one bzip2 stream. OutEstimate > 0 is the expected plain size and the most that will
// be produced; 0 means unknown (the buffer then doubles up to the ceiling of NRDZlib.h).
void BZDecompressBuffer(const void* InBuf, std::int32_t InSize, std::int32_t OutEstimate, std::int32_t& OutSize,
                        std::vector<std::uint8_t>& OutBuf);

}  // namespace nrd
