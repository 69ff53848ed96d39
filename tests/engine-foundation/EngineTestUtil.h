// Assertions shared by the engine test suites: which native code an engine call raises.
#pragma once

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "engine/foundation/NRDExcept.h"

namespace enginetest {

// Runs `f`, expecting an ENRDException with `code` whose message contains `part`.
template <typename F> void ExpectNRD(F f, int code, const char* part = "") {
  try {
    f();
    ADD_FAILURE() << "no exception, expected " << code;
  } catch (const nrd::ENRDException& e) {
    EXPECT_EQ(e.NativeError, code) << e.what();
    EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
  }
}

// The native code `f` raises, or 0 when it raises no ENRDException.
inline int CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const nrd::ENRDException& e) {
    return e.NativeError;
  }
  return 0;
}

}  // namespace enginetest
