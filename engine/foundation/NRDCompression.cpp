// Compression dispatch: see NRDCompression.h.
#include "engine/foundation/NRDCompression.h"

#include <mutex>

#include "engine/foundation/NRDBZip2.h"
#include "engine/foundation/NRDPPM.h"
#include "engine/foundation/NRDZlib.h"

namespace nrd {

namespace {

std::mutex& ErrorLock() {
  static std::mutex lock;
  return lock;
}

std::string& LastCompressionErrorText() {
  static std::string text;
  return text;
}

void SetLastError(const std::string& text) {
  std::lock_guard<std::mutex> guard(ErrorLock());
  LastCompressionErrorText() = text;
}

}  // namespace

bool CompressBuffer(TNRDCompressionAlgorithm Algorithm, std::uint8_t Mode, const void* InBuf, std::int32_t InSize,
                    std::vector<std::uint8_t>& OutBuf, std::int32_t& OutSize) {
  OutSize = 0;
  OutBuf.clear();
  if (Algorithm == acaNone || Algorithm > acaPPM || InSize <= 0 || InBuf == nullptr) return false;
  try {
    switch (Algorithm) {
      case acaZLIB:
        try {
          ZCompressBuffer(InBuf, InSize, OutBuf, Mode, OutSize);
        } catch (const std::exception& e) {
          SetLastError(e.what());
          throw;
        }
        break;
      case acaBZIP:
        BZCompressBuffer(InBuf, InSize, OutBuf, Mode, OutSize);
        break;
      case acaPPM:
        PPMCompressBuffer(InBuf, InSize, OutBuf, Mode, OutSize);
        break;
      default:
        return false;
    }
  } catch (...) {
    OutBuf.clear();
    OutSize = 0;
    return false;
  }
  if (OutSize <= 0) {
    OutBuf.clear();
    OutSize = 0;
    return false;
  }
  return true;
}

bool DecompressBuffer(TNRDCompressionAlgorithm Algorithm, const void* InBuf, std::int32_t InSize,
                      std::vector<std::uint8_t>& OutBuf, std::int32_t& OutSize) {
  const std::int32_t expected = OutSize;
  OutSize = 0;
  OutBuf.clear();
  if (Algorithm == acaNone || Algorithm > acaPPM || InSize <= 0 || InBuf == nullptr || expected < 0) return false;
  try {
    switch (Algorithm) {
      case acaZLIB: {
        std::string reason;
        if (!ZDecompressBuffer(InBuf, InSize, expected, OutSize, OutBuf, &reason) || OutSize <= 0) {
          SetLastError(reason.empty() ? std::string("error 0") : reason);
          OutBuf.clear();
          OutSize = 0;
          return false;
        }
        break;
      }
      case acaBZIP:
        BZDecompressBuffer(InBuf, InSize, expected, OutSize, OutBuf);
        break;
      case acaPPM:
        OutSize = expected;
        PPMDecompressBuffer(InBuf, InSize, OutBuf, OutSize);
        break;
      default:
        return false;
    }
  } catch (...) {
    OutBuf.clear();
    OutSize = 0;
    return false;
  }
  if (OutSize <= 0) {
    OutBuf.clear();
    OutSize = 0;
    return false;
  }
  return true;
}

std::string GetLastCompressionError() {
  std::lock_guard<std::mutex> guard(ErrorLock());
  return LastCompressionErrorText();
}

TNRDCompressionAlgorithm GetCompressionAlgorithmByName(std::string_view Name) {
  std::string upper(Name);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  for (std::size_t i = 0; i < CompressionAlgorithmNames.size(); ++i)
    if (CompressionAlgorithmNames[i] == upper) return TNRDCompressionAlgorithm(i);
  return acaNone;
}

}  // namespace nrd
