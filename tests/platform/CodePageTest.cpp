#include "platform/CodePage.h"

#include <gtest/gtest.h>

namespace {

TEST(CodePage, EveryByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(platform::Utf16ToCp1251(platform::Cp1251ToUtf16(all)), all);
}

TEST(CodePage, KnownLetters) {
  struct Case { std::uint8_t byte; char16_t unit; } cases[] = {
      {0xC0, u'А'}, {0xFF, u'я'}, {0xA8, u'Ё'}, {0xB8, u'ё'}, {0xB9, u'№'}, {0x88, u'€'}, {0x98, 0x0098}, {'A', u'A'}};
  for (const Case& c : cases) {
    EXPECT_EQ(platform::Cp1251ToUnit(c.byte), c.unit) << int(c.byte);
    bool ok = false;
    EXPECT_EQ(platform::UnitToCp1251(c.unit, &ok), c.byte);
    EXPECT_TRUE(ok);
  }
  bool ok = true;
  EXPECT_EQ(platform::UnitToCp1251(u'中', &ok), '?');
  EXPECT_FALSE(ok);
}

}  // namespace
