// The engine's exception.
#include "engine/foundation/NRDExcept.h"

#include <cstdio>

namespace nrd {

namespace {

std::string Padded(std::string_view text, int code, const char* codeFormat) {
  char buf[32];
  std::snprintf(buf, sizeof buf, codeFormat, code);
  std::string r(text);
  r += " - Native error: ";
  r += buf;
  return r;
}

std::string Formatted(std::string_view errorMsg, TVarRecs args) {
  try {
    return Format(errorMsg, args);
  } catch (...) {
    return std::string(errorMsg) + " Arguments are invalid!";
  }
}

}  // namespace

ENRDException::ENRDException(int nativeErrorCode, std::string_view errorMsg)
    : Exception(Padded(errorMsg, nativeErrorCode, "%.5d")), NativeError(nativeErrorCode) {}

ENRDException::ENRDException(int nativeErrorCode, std::string_view errorMsg, TVarRecs args)
    : Exception(Padded(Formatted(errorMsg, args), nativeErrorCode, "%5d")), NativeError(nativeErrorCode) {}

}  // namespace nrd
