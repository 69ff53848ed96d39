// Text formats: Base64 (RFC 4648 vectors and the decoder's tolerance rules), the copy format, the
// registered formats without an alphabet, and the format list.
#include <gtest/gtest.h>

#include "engine/foundation/NRDDecUtil.h"

using namespace nrd;

TEST(NRDDecUtil, Base64Rfc4648Vectors) {
  const std::pair<const char*, const char*> cases[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                                                       {"foo", "Zm9v"},  {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
                                                       {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, text] : cases) {
    EXPECT_EQ(BytesToStringFormat(plain, 4196), text) << plain;
    EXPECT_EQ(StringFormatToBytes(text, 4196), plain) << text;
  }
  // Every byte value survives a round trip; the default identifier is Base64.
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  const std::string text = BytesToStringFormat(all, -1);
  EXPECT_EQ(text.size(), 4u * 86);
  EXPECT_EQ(StringFormatToBytes(text, -1), all);
}

TEST(NRDDecUtil, Base64DecoderRules) {
  const TStringFormat* mime = TStringFormat_MIME64::Class();
  // Missing "=" are supplied: two characters give one byte.
  EXPECT_EQ(StringFormatToBytes("Zg", 4196), "f");
  EXPECT_EQ(StringFormatToBytes("Zm8", 4196), "fo");
  // A blank, CR or LF is not in the alphabet: the checked conversion refuses it...
  for (const char* bad : {"Zm9v Yg==", "Zm9v\r\nYg=="}) {
    try {
      StringFormatToBytes(bad, 4196);
      ADD_FAILURE() << bad;
    } catch (const EStringFormat& e) {
      EXPECT_STREQ(e.what(), "Input is not an valid MIME Base 64 Format.");
    }
  }
  // ...while the format itself skips it.
  EXPECT_EQ(mime->ToStr("Zm9v Yg==", -1), "foob");
  EXPECT_EQ(mime->ToStr("Zm9v\nYmFy", -1), "foobar");
  // A group of four "=" would give a negative length: invalid text.
  EXPECT_THROW(StringFormatToBytes("Zm9v====", 4196), EStringFormat);
  EXPECT_THROW(mime->ToStr("====", 4), EStringFormat);
  EXPECT_EQ(mime->ToStr("A===", 4), "");
  // A negative length reads up to the first zero byte.
  EXPECT_EQ(mime->StrTo("foo\0bar", -1), "Zm9v");
  EXPECT_TRUE(mime->IsValid("any thing", -1, false));
  EXPECT_FALSE(mime->IsValid("Zm9v!", -1, true));
}

TEST(NRDDecUtil, CopyFormatAndEmptyInputs) {
  const std::string bytes("a\0b\xff", 4);
  EXPECT_EQ(BytesToStringFormat(bytes, 1), bytes);
  EXPECT_EQ(StringFormatToBytes(bytes, 1), bytes);
  EXPECT_EQ(BytesToStringFormat("abc", 0), "");
  EXPECT_EQ(StringFormatToBytes("abc", 0), "");
  EXPECT_EQ(BytesToStringFormat(nullptr, 5, 4196), "");
  EXPECT_EQ(BytesToStringFormat("abc", 0, 4196), "");
  EXPECT_EQ(BytesToStringFormat("", -1, 16), "");  // nothing to convert: the format is not asked
}

TEST(NRDDecUtil, FormatsWithoutAlphabetAndUnknownIdentifiers) {
  struct Case {
    int id;
    const char* name;
    const char* message;
  } cases[] = {{16, "Hexadecimal", "Not Implemented 2"},
               {1016, "Hexadecimal lowercase", "Not implemented 3"},
               {21845, "UU Coding", "Not implemented 5"},
               {22616, "XX Coding", "Not implemented 6"}};
  for (const Case& c : cases) {
    const TStringFormat* cls = StringFormatById(c.id);
    ASSERT_NE(cls, nullptr) << c.id;
    EXPECT_EQ(cls->Name(), c.name);
    EXPECT_EQ(cls->Format(), c.id);
    for (int direction = 0; direction < 2; ++direction) {
      try {
        if (direction == 0)
          BytesToStringFormat("abc", c.id);
        else
          StringFormatToBytes("abc", c.id);
        ADD_FAILURE() << c.id;
      } catch (const EStringFormat&) {
        ADD_FAILURE() << "plain exception expected " << c.id;
      } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), c.message);
      }
    }
  }
  try {
    BytesToStringFormat("abc", 12345);
    FAIL();
  } catch (const EStringFormat& e) {
    EXPECT_STREQ(e.what(), "String Format \"12345\" not exists.");
  }
  EXPECT_THROW(StringFormatToBytes("abc", 777), EStringFormat);
}

TEST(NRDDecUtil, FormatList) {
  const auto& list = StringFormatList();
  ASSERT_GE(list.size(), 6u);
  const int ids[] = {1, 16, 1016, 4196, 21845, 22616};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(list[static_cast<std::size_t>(i)]->Format(), ids[i]);
  EXPECT_EQ(TStringFormat::Class()->Name(), "copy Input to Output");
  EXPECT_EQ(DefaultStringFormatId(), 4196);
  EXPECT_EQ(StringFormatById(-1), TStringFormat_MIME64::Class());
  EXPECT_EQ(StringFormatById(99), nullptr);
  // Registering a listed format again keeps its place.
  const std::size_t size = list.size();
  AddStringFormatClasses({TStringFormat_MIME64::Class(), nullptr});
  EXPECT_EQ(list.size(), size);
  EXPECT_EQ(list[3], TStringFormat_MIME64::Class());
}
