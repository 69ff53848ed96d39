#include <gtest/gtest.h>

#include "engine/foundation/NRDExcept.h"

using nrd::ENRDException;

TEST(NRDExcept, MessagesOfBothForms) {
  struct Case {
    ENRDException e;
    const char* message;
    int code;
  };
  const Case cases[] = {
      {ENRDException(30, "x"), "x - Native error: 00030", 30},
      {ENRDException(2011, "Parse error"), "Parse error - Native error: 02011", 2011},
      {ENRDException(123456, "big"), "big - Native error: 123456", 123456},
      {ENRDException(-5, "neg"), "neg - Native error: -00005", -5},
      {ENRDException(30, "x", {}), "x - Native error:    30", 30},
      {ENRDException(2011, "bad %s at %d", {"token", 7}), "bad token at 7 - Native error:  2011", 2011},
      {ENRDException(30004, "Memory limit exceeded (Limit = %d bytes)", {std::int64_t{1000}}),
       "Memory limit exceeded (Limit = 1000 bytes) - Native error: 30004", 30004},
      // Formatting failures never escape: the format text is kept with a remark.
      {ENRDException(30, "value %d", {}), "value %d Arguments are invalid! - Native error:    30", 30},
      {ENRDException(31, "value %d", {"text"}), "value %d Arguments are invalid! - Native error:    31", 31},
      {ENRDException(32, "value %q", {1}), "value %q Arguments are invalid! - Native error:    32", 32},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(c.e.what(), c.message);
    EXPECT_EQ(c.e.Message(), c.message);
    EXPECT_EQ(c.e.NativeError, c.code);
  }
}

TEST(NRDExcept, IsAnEngineAndStandardException) {
  try {
    throw ENRDException(10104, "Cannot create file. FileName = %s", {std::string("a.db")});
  } catch (const nrd::Exception& e) {
    EXPECT_EQ(e.Message(), "Cannot create file. FileName = a.db - Native error: 10104");
  }
  EXPECT_THROW(throw ENRDException(1, "x"), std::exception);
}
