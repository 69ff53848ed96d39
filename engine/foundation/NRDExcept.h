// ENRDException: the one error class of the database engine. It carries the native error code of
// the raise site beside its English message; the message ends in " - Native error: " and the code.
// The plain constructor writes the code zero-padded to five digits ("00030"); the formatting
// constructor formats the text with its arguments first and writes the code right-aligned in five
// places ("   30"). A format that does not fit its arguments never escapes as an error of its own:
// the text becomes the format followed by " Arguments are invalid!".
#pragma once

#include <string>
#include <string_view>

#include "engine/foundation/NRDRuntime.h"

namespace nrd {

class ENRDException : public Exception {
 public:
  ENRDException(int nativeErrorCode, std::string_view errorMsg);
  ENRDException(int nativeErrorCode, std::string_view errorMsg, TVarRecs args);

  int NativeError;  // the code given to the constructor
};

}  // namespace nrd
