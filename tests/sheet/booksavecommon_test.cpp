// Tests of the save routines shared by the workbook writers.
#include "sheet/booksavecommon.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

namespace {

std::string U8(const std::u16string& s) { return Utf16ToXmlUtf8(s); }

TEST(ZxSaveCommon, ColumnLetters) {
  struct Case {
    int column;
    const char16_t* letters;
  } cases[] = {{0, u"A"}, {25, u"Z"}, {26, u"AA"}, {51, u"AZ"}, {52, u"BA"}, {701, u"ZZ"},
               {702, u"AAA"}, {16383, u"XFD"}, {-1, u""}, {-100, u""}};
  for (const auto& c : cases) EXPECT_EQ(ColumnLetters(c.column), c.letters) << c.column;
  EXPECT_EQ(ColumnLetters(std::numeric_limits<int>::max()).size(), 7u);
}

// Excel 2003 XML reads ss:Formula in R1C1 notation; the workbook keeps A1.
TEST(ZxSaveCommon, FormulaA1ToR1C1) {
  struct Case {
    const char16_t* a1;
    int column, row;
    const char16_t* r1c1;
  } cases[] = {
      {u"=C1*3", 0, 0, u"=RC[2]*3"},
      {u"=A1", 0, 0, u"=RC"},
      {u"=A1", 3, 2, u"=R[-2]C[-3]"},
      {u"=$C$1+$C1+C$1", 1, 4, u"=R1C3+R[-4]C3+R1C[1]"},
      {u"=SUM(a1:B10)", 0, 0, u"=SUM(RC:R[9]C[1])"},
      {u"=LOG10(A2)&\"B2\"", 0, 0, u"=LOG10(R[1]C)&\"B2\""},
      {u"=Sheet1!A1+'My A1'!B2", 0, 0, u"=Sheet1!RC+'My A1'!R[1]C[1]"},
      {u"=\"a\"\"A1\"&TRUE", 0, 0, u"=\"a\"\"A1\"&TRUE"},
      {u"=XFD1048576+XFE1+A0+ABCD1+1E5", 0, 0, u"=R[1048575]C[16383]+XFE1+A0+ABCD1+1E5"},
      {u"=my_name1+A1B", 0, 0, u"=my_name1+A1B"},
  };
  for (const Case& c : cases) EXPECT_EQ(U8(FormulaA1ToR1C1(c.a1, c.column, c.row)), U8(c.r1c1)) << U8(c.a1);
}

TEST(ZxSaveCommon, Rotation) {
  struct Case {
    int angle, normalized, xlsx;
  } cases[] = {{0, 0, 0},     {45, 45, 45},    {90, 90, 90},   {-90, -90, 180}, {135, -45, 135},
               {-135, 45, 45}, {180, 0, 0},    {270, -90, 180}, {359, -1, 91},  {-180, 0, 0},
               {-45, -45, 135}, {450, 90, 90}, {-270, 90, 90}};
  for (const auto& c : cases) {
    EXPECT_EQ(NormalizeRotation(c.angle), c.normalized) << c.angle;
    EXPECT_EQ(XlsxTextRotation(c.angle), c.xlsx) << c.angle;
  }
  for (int extreme : {std::numeric_limits<int>::min(), std::numeric_limits<int>::max()})
    EXPECT_LE(std::abs(NormalizeRotation(extreme)), 90);
}

TEST(ZxSaveCommon, DateTimeText) {
  TDateTime t = EncodeDateTime(2024, 3, 5, 7, 8, 9, 600);
  EXPECT_EQ(DateTimeToIsoText(t), u"2024-03-05T07:08:09");
  EXPECT_EQ(DateTimeToIsoText(EncodeDateTime(1899, 12, 30, 0, 0, 0, 0)), u"1899-12-30T00:00:00");
  EXPECT_EQ(DateTimeToIsoText(EncodeDateTime(1, 1, 1, 23, 59, 59, 0)), u"0001-01-01T23:59:59");
  EXPECT_EQ(DateTimeToIsoText(EncodeDateTime(2023, 12, 31, 23, 59, 59, 999)), u"2023-12-31T23:59:59");
  EXPECT_THROW(DateTimeToIsoText(std::numeric_limits<double>::quiet_NaN()), EZxConvertError);
  EXPECT_THROW(DateTimeToIsoText(1e9), EZxConvertError);
  EXPECT_EQ(ZeroPaddedInt(7, 3), u"007");
  EXPECT_EQ(ZeroPaddedInt(0, 1), u"0");
  EXPECT_EQ(ZeroPaddedInt(12345, 2), u"12345");
  EXPECT_EQ(ZeroPaddedInt(-5, 3), u"-005");
  EXPECT_EQ(ZeroPaddedInt(std::numeric_limits<long long>::min(), 1), u"-9223372036854775808");
}

TEST(ZxSaveCommon, LocalTimesWrittenWithZAreConvertedToUtc) {
  const char* old = std::getenv("TZ");
  std::string saved = old != nullptr ? old : "";
  setenv("TZ", "XYZ-3", 1);  // three hours east of UTC, no daylight saving
  tzset();
  TDateTime local = EncodeDateTime(2024, 1, 1, 1, 30, 0, 0);
  EXPECT_EQ(DateTimeToIsoUtcText(local), u"2023-12-31T22:30:00Z");
  if (old != nullptr)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

TEST(ZxSaveCommon, NumberFormatting) {
  struct Case {
    double value;
    int decimals;
    const char16_t* text;
  } cases[] = {
      {25 / 25.4, 15, u"0.984251968503937"}, {20 / 25.4, 15, u"0.78740157480315"}, {48, 5, u"48"},
      {75.11, 5, u"75.11"}, {-0.0000001, 5, u"0"}, {13 / 25.4, 2, u"0.51"}, {1.5, 0, u"2"},
      {-2.25, 1, u"-2.2"}, {123456789.0, 2, u"123456789"}, {std::numeric_limits<double>::infinity(), 3, u"0"},
      {std::numeric_limits<double>::quiet_NaN(), 3, u"0"}, {1e300, 2, nullptr},
  };
  for (const auto& c : cases) {
    std::u16string s = FormatDecimal(c.value, c.decimals);
    if (c.text != nullptr) {
      EXPECT_EQ(s, c.text) << c.value;
    }
    EXPECT_EQ(s.find(u','), std::u16string::npos);
    EXPECT_EQ(s.find(u'e'), std::u16string::npos);
  }
  EXPECT_EQ(DotDecimalSeparator(u"1,5;2,25"), u"1.5;2.25");
  auto parts = SplitAtChar(u"a||b|", u'|');
  ASSERT_EQ(parts.size(), 4u);
  EXPECT_EQ(parts[0], u"a");
  EXPECT_EQ(parts[1], u"");
  EXPECT_EQ(parts[2], u"b");
  EXPECT_EQ(parts[3], u"");
}

TEST(ZxSaveCommon, XmlDeclarationAndGeneratorName) {
  TZXMLWriterH xml;
  xml.SetTabLength(1);
  ASSERT_TRUE(xml.BeginSaveToString());
  xml.Attributes().Add(u"stale", u"1");
  WriteXmlDeclaration(xml, u"UTF-8", "\xEF\xBB\xBF");
  EXPECT_EQ(xml.Attributes().Count(), 0);
  xml.WriteEmptyTag(u"r");
  xml.EndSaveTo();
  EXPECT_EQ(xml.RawBuffer(), "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<r/>\r\n");

  TZXMLWriterH bare;
  bare.SetNewLine(false);
  ASSERT_TRUE(bare.BeginSaveToString());
  WriteXmlDeclaration(bare, u"", "");
  bare.EndSaveTo();
  EXPECT_EQ(bare.RawBuffer(), "<?xml version=\"1.0\"?>");

  std::string g = U8(GeneratorName());
  ASSERT_EQ(g.rfind("SHEVRIXlib/0.0.7$", 0), 0u);
  std::size_t slash = g.find(" SHEVRIX/");
  ASSERT_NE(slash, std::string::npos);
  std::string id = g.substr(slash + 9);
  EXPECT_EQ(id.size(), 40u);
  EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
}

std::vector<std::u16string> Titles(const TSHEVRIX& book, const std::vector<int>& indexes,
                                   const std::vector<std::u16string>& titles) {
  TZPageList pages;
  EXPECT_TRUE(PreparePageList(book, indexes, titles, pages));
  EXPECT_EQ(pages.SheetIndexes.size(), pages.Titles.size());
  return pages.Titles;
}

TEST(ZxSaveCommon, PageListTitles) {
  TSHEVRIX book;
  book.Sheets().SetCount(3);
  using V = std::vector<std::u16string>;
  EXPECT_EQ(Titles(book, {}, {}), (V{u"Sheet 1", u"Sheet 2", u"Sheet 3"}));
  EXPECT_EQ(Titles(book, {0, 0}, {}), (V{u"Sheet 1", u"Sheet 1(1)"}));
  EXPECT_EQ(Titles(book, {}, {u"A", u"A", u"A"}), (V{u"A", u"A(1)", u"A(2)"}));
  EXPECT_EQ(Titles(book, {0, 1}, {u"Data(3)", u"Data(3)"}), (V{u"Data(3)", u"Data(4)"}));
  EXPECT_EQ(Titles(book, {0, 1}, {u"Report (final)", u"Report (final)"}), (V{u"Report (final)", u"Report (1)"}));
  EXPECT_EQ(Titles(book, {0, 1}, {u"a", u"A"}), (V{u"a", u"A(1)"}));
  EXPECT_EQ(Titles(book, {0, 1}, {u"Я", u"я"}), (V{u"Я", u"я(1)"}));
  EXPECT_EQ(Titles(book, {0}, {u"  A:B/C\\D?E*F[G]H \t"}), (V{u"A;B;C;D;E;F;G;H"}));
  EXPECT_EQ(Titles(book, {0, 1, 2}, {u"X(1)", u"X", u"X"}), (V{u"X(1)", u"X", u"X(2)"}));
  // Characters the XML encoder drops are gone before titles are made unique.
  EXPECT_EQ(Titles(book, {0, 1}, {u"A\x01" u"B", u"AB"}), (V{u"AB", u"AB(1)"}));
  EXPECT_EQ(Titles(book, {0, 1}, {u"C\xFFFF", u"C\xD800"}), (V{u"C", u"C(1)"}));
  EXPECT_EQ(Titles(book, {0}, {u"\x02"}), (V{u"Sheet 1"}));
  // A number in parentheses at the top of the range does not overflow.
  EXPECT_EQ(Titles(book, {0, 1}, {u"T(2147483647)", u"T(2147483647)"}), (V{u"T(2147483647)", u"T(1)"}));

  book.Sheets().Sheet(1)->SetTitle(u"Own");
  EXPECT_EQ(Titles(book, {1, 7, -1, 2}, {u" "}), (V{u"Own", u"Sheet 3"}));

  // Titles are at most 31 units, the renumbering suffix included.
  std::u16string longTitle(40, u'L');
  V cut = Titles(book, {0, 1}, {longTitle, longTitle});
  EXPECT_EQ(cut[0], std::u16string(31, u'L'));
  EXPECT_EQ(cut[1], std::u16string(28, u'L') + u"(1)");

  TZPageList none;
  EXPECT_FALSE(PreparePageList(book, {5, 9}, {}, none));
  EXPECT_EQ(none.Count(), 0);
  TSHEVRIX empty;
  EXPECT_FALSE(PreparePageList(empty, {}, {}, none));
}

TEST(ZxSaveCommon, ManyEqualTitlesBecomeUnique) {
  std::vector<std::u16string> titles(60, u"Same title that is quite long!!");
  MakeTitlesUnique(titles);
  for (std::size_t i = 0; i < titles.size(); ++i) {
    EXPECT_LE(titles[i].size(), kZMaxSheetTitleLength);
    for (std::size_t k = i + 1; k < titles.size(); ++k) EXPECT_NE(titles[i], titles[k]);
  }
}

}  // namespace
