#include <gtest/gtest.h>

#include "engine/foundation/NRDText.h"

#include <string>
#include <vector>

using namespace nrd;

TEST(NRDText, CodePageRoundTripsEveryByte) {
  for (int b = 0; b < 256; ++b) {
    bool ok = false;
    EXPECT_EQ(WideCharToAnsi(AnsiCharToWide(static_cast<std::uint8_t>(b)), &ok), b);
    EXPECT_TRUE(ok);
  }
  EXPECT_EQ(AnsiToWide("\xC8\xE2\xE0\xED"), u"Иван");
  EXPECT_EQ(WideToAnsi(u"Ёж€"), "\xA8\xE6\x88");
  bool ok = true;
  EXPECT_EQ(WideCharToAnsi(u'中', &ok), '?');
  EXPECT_FALSE(ok);
  EXPECT_TRUE(IsAnsiRepresentable(u"Пётр I"));
  EXPECT_FALSE(IsAnsiRepresentable(u"Ω"));
}

TEST(NRDText, CodePageIsConfigurable) {
  char16_t latin1[256];
  for (int b = 0; b < 256; ++b) latin1[b] = static_cast<char16_t>(b);
  SetAnsiCodePage(latin1);
  EXPECT_EQ(AnsiToWide("\xE9"), u"é");
  EXPECT_EQ(AnsiUpperCase("\xE9"), "\xC9");
  ResetAnsiCodePage();
  EXPECT_EQ(AnsiToWide("\xE9"), u"й");
}

// The copy-free comparison agrees with comparing the upper-cased copies, for every pair of bytes and
// for texts of different lengths.
TEST(NRDText, SameTextAgreesWithUpperCasedCopies) {
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b) {
      const std::string x(1, static_cast<char>(a)), y(1, static_cast<char>(b));
      ASSERT_EQ(AnsiSameText(x, y), AnsiUpperCase(x) == AnsiUpperCase(y)) << a << " " << b;
    }
  EXPECT_TRUE(AnsiSameText("\xC8\xE2\xE0\xED temp", "\xE8\xC2\xC0\xCD TEMP"));
  EXPECT_FALSE(AnsiSameText("TEMP", "TEMP1"));
  EXPECT_FALSE(AnsiSameText("", "x"));
  EXPECT_TRUE(AnsiSameText("", ""));
}

TEST(NRDText, CollationOrders) {
  struct Case {
    const char16_t* a;
    const char16_t* b;
    bool ignoreCase;
    int expect;
  };
  const Case cases[] = {
      {u"abc", u"abd", false, CSTR_LESS_THAN},
      {u"abc", u"ABD", true, CSTR_LESS_THAN},
      {u"ABC", u"abc", true, CSTR_EQUAL},
      {u"abc", u"ABC", false, CSTR_LESS_THAN},     // lower case first
      {u"Ёлка", u"Жук", false, CSTR_LESS_THAN},    // Ё sorts with Е, before Ж
      {u"ель", u"Ёлка", true, CSTR_GREATER_THAN},  // Ё is Е with an accent: к < ь decides
      {u"Яков", u"Zorro", false, CSTR_GREATER_THAN},  // Cyrillic after Latin
      {u"co-op", u"coop", false, CSTR_LESS_THAN},  // string sort: the hyphen counts
      {u"10", u"9", false, CSTR_LESS_THAN},
      {u"", u"a", false, CSTR_LESS_THAN},
      {u"", u"", false, CSTR_EQUAL},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WideCompareText(c.a, c.b, c.ignoreCase), c.expect) << static_cast<int>(c.a[0]);
    EXPECT_EQ(AnsiCompareText(WideToAnsi(c.a), WideToAnsi(c.b), c.ignoreCase), c.expect);
  }
  // Lengths: -1 reads up to the zero; a given length cuts.
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, SORT_STRINGSORT, "abcX", 3, "abc", -1), CSTR_EQUAL);
  EXPECT_EQ(CompareStringW(1049, SORT_STRINGSORT, u"abz", -1, u"abc", 2), CSTR_GREATER_THAN);
  EXPECT_EQ(CompareStringA(12345, 0, "a", 1, "b", 1), 0);  // unknown locale
  std::string longA(1000, 'a'), longB = longA + "b";
  EXPECT_EQ(AnsiCompareText(longA, longB, false), CSTR_LESS_THAN);
}

TEST(NRDText, CaseMappingKeepsLength) {
  EXPECT_EQ(WideUpperCase(u"иванов ёж straße ǆ"), u"ИВАНОВ ЁЖ STRAßE Ǆ");
  EXPECT_EQ(WideLowerCase(u"ПЁТР İ"), u"пётр i");
  EXPECT_EQ(WideUpperCase(u"\xD83D\xDE00"), u"\xD83D\xDE00");  // surrogates stay
  EXPECT_EQ(AnsiUpperCase(WideToAnsi(u"ёж abc")), WideToAnsi(u"ЁЖ ABC"));
  EXPECT_EQ(AnsiLowerCase(WideToAnsi(u"ЁЖ ABC")), WideToAnsi(u"ёж abc"));
  char16_t buf[] = u"abc";
  EXPECT_EQ(CharUpperBuffW(buf, 2), 2);
  EXPECT_EQ(std::u16string(buf), u"ABc");
}

// Sort keys order texts as the collation does, pair by pair: cases, letters of both scripts, digits,
// punctuation, an ignorable control character (equal to the text without it), and seeded random bytes.
TEST(NRDText, SortKeysOrderAsTheCollationCompares) {
  std::vector<std::string> texts = {"", "a", "A", "b", "B", "ab", "aB", "a-b", "a b", "a_b", "1", "10", "9", "09",
                                    "I000000001", "i000000001", "I00000001", "\xE0", "\xC0", "\xB8", "\xA8", "\xE5",
                                    "\xE0\xE1", "a\x01", "\x01", "Z", "z", "_", "-", ".", "P_10", "P_8", "P_9",
                                    "\xFF", "\x80", "~", " a", "a "};
  std::uint32_t seed = 12345;
  for (int i = 0; i < 40; ++i) {
    std::string t;
    const int len = static_cast<int>((seed >> 24) % 6);
    for (int k = 0; k < len; ++k) {
      seed = seed * 1103515245u + 12345u;
      t.push_back(static_cast<char>(seed >> 16));
    }
    seed = seed * 1103515245u + 12345u;
    texts.push_back(t);
  }
  const auto sign = [](int v) { return (v > 0) - (v < 0); };
  for (const int locale : {LOCALE_USER_DEFAULT, 1033})
    for (const bool caseInsensitive : {false, true}) {
      std::vector<std::string> keys;
      for (const std::string& t : texts) keys.push_back(AnsiSortKey(t, caseInsensitive, locale));
      for (std::size_t i = 0; i < texts.size(); ++i)
        for (std::size_t j = 0; j < texts.size(); ++j) {
          const int byCollation = AnsiCompareText(texts[i], texts[j], caseInsensitive, locale) - CSTR_EQUAL;
          const int byKey = keys[i].compare(keys[j]);
          ASSERT_EQ(sign(byKey), sign(byCollation))
              << "locale " << locale << " ci " << caseInsensitive << " texts " << i << " and " << j;
        }
    }
  // An unknown locale: every text equal, every key empty.
  EXPECT_EQ(AnsiSortKey("abc", false, 77777), "");
}
