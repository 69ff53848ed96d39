// Tests of the markup-preserving escaping of cell texts.
#include <gtest/gtest.h>

#include <random>

#include "sheet/shevrix.h"
#include "tests/sheet/xml_parse_check.h"

namespace {

// The result inside a cell element whose prefixes are declared, as the workbook writer places it.
std::string Wrapped(const std::u16string& corrected) {
  return "<Data xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\" "
         "xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\" xmlns:x=\"urn:schemas-microsoft-com:office:excel\" "
         "xmlns:o=\"urn:schemas-microsoft-com:office:office\" xmlns:html=\"http://www.w3.org/TR/REC-html40\">" +
         Utf16ToXmlUtf8(corrected) + "</Data>";
}

TEST(ZxMarkup, CasesOfTheEscaping) {
  struct Case {
    const char16_t* text;
    const char16_t* expected;
    bool kept;
  } cases[] = {
      {u"a & b < c", u"a &amp; b &lt; c", false},
      {u"<b>bold</b>", u"<b>bold</b>", true},
      {u"<b>bold", u"&lt;b&gt;bold", false},
      {u"<font color=\"red\">x</font>", u"<font color=\"red\">x</font>", true},
      {u"<font face='Times New'>x</font>", u"<font face='Times New'>x</font>", true},
      {u"<font  color = \"red\" >x</font >", u"<font  color = \"red\" >x</font >", true},
      {u"a<br/>b", u"a&lt;br/&gt;b", false},
      {u"<b>x</B>", u"&lt;b&gt;x&lt;/B&gt;", false},
      {u"</i><b>x</b>", u"&lt;/i&gt;<b>x</b>", true},
      {u"<a>1</a><b>2</b><c><d><e>3</e></d></c>", u"<a>1</a><b>2</b><c><d><e>3</e></d></c>", true},
      {u"1\r\n2", u"1&#10;2", false},
      {u"1\n2", u"1&#10;2", false},
      {u"\n", u"&#10;", false},
      {u"1\r2\r", u"1\r2\r", false},
      {u"x<y and more", u"x&lt;y and more", false},
      {u"\"q\" 'a' >", u"&quot;q&quot; &apos;a&apos; &gt;", false},
      {u"&#10;&amp;&nbsp;R&D;", u"&#10;&amp;&amp;nbsp;R&amp;D;", false},
      {u"<b x=\"a&b<c\">t</b>", u"<b x=\"a&amp;b&lt;c\">t</b>", true},
      {u"< b>x</b>", u"&lt; b&gt;x&lt;/b&gt;", false},
      {u"<b x=1>x</b>", u"&lt;b x=1&gt;x&lt;/b&gt;", false},
      {u"<b x>x</b>", u"&lt;b x&gt;x&lt;/b&gt;", false},
      // Names must be XML names, with no prefix or one the workbook declares.
      {u"<1b>x</1b>", u"&lt;1b&gt;x&lt;/1b&gt;", false},
      {u"<foo:b>x</foo:b>", u"&lt;foo:b&gt;x&lt;/foo:b&gt;", false},
      {u"<html:b>x</html:b>", u"<html:b>x</html:b>", true},
      {u"<font co\u106Flor=\"red\">x</font>", u"&lt;font co\u106Flor=&quot;red&quot;&gt;x&lt;/font&gt;", false},
      {u"<\u0436>x</\u0436>", u"&lt;\u0436&gt;x&lt;/\u0436&gt;", false},
      {u"<b a:b=\"1\">x</b>", u"&lt;b a:b=&quot;1&quot;&gt;x&lt;/b&gt;", false},
      {u"<>x</>", u"&lt;&gt;x&lt;/&gt;", false},
      {u"<b =\"1\">x</b>", u"&lt;b =&quot;1&quot;&gt;x&lt;/b&gt;", false},
      // Attributes must be unique, separated by blanks, closed by their own quote; closing tags have none.
      {u"<b c=\"1\" c=\"2\">x</b>", u"&lt;b c=&quot;1&quot; c=&quot;2&quot;&gt;x&lt;/b&gt;", false},
      {u"<b c=\"1\"d=\"2\">x</b>", u"&lt;b c=&quot;1&quot;d=&quot;2&quot;&gt;x&lt;/b&gt;", false},
      {u"<b c=\"it's\">x</b>", u"<b c=\"it's\">x</b>", true},
      {u"<b c=\"1'>x</b>", u"&lt;b c=&quot;1&apos;&gt;x&lt;/b&gt;", false},
      {u"<b>x</b c=\"1\">", u"&lt;b&gt;x&lt;/b c=&quot;1&quot;&gt;", false},
      {u"<b>x<//b>", u"&lt;b&gt;x&lt;//b&gt;", false},
      // An unclosed parent: its own tag becomes text, its completed children stay markup.
      {u"<a>x<b>y</b>z", u"&lt;a&gt;x<b>y</b>z", true},
      {u"<a><b>1</b><c>2</c>", u"&lt;a&gt;<b>1</b><c>2</c>", true},
      {u"<a x=\"&amp;\">t", u"&lt;a x=&quot;&amp;amp;&quot;&gt;t", false},
  };
  for (const auto& c : cases) {
    bool kept = !c.kept;
    std::u16string result = CorrectMarkupText(c.text, kept);
    EXPECT_EQ(result, c.expected) << Utf16ToXmlUtf8(c.text);
    EXPECT_EQ(kept, c.kept) << Utf16ToXmlUtf8(c.text);
    XmlParseResult parsed = ParseXml(Wrapped(result));
    EXPECT_TRUE(parsed.ok) << parsed.error << " in " << Utf16ToXmlUtf8(result);
  }
}

TEST(ZxMarkup, ForbiddenCharactersAreDropped) {
  std::u16string text = u"a\x01<b>\x02x\x1F</b>";
  text.push_back(0xD801);
  EXPECT_EQ(CorrectMarkupText(text), u"a<b>x</b>\xFFFD");
}

TEST(ZxMarkup, ParseMarkupTagStopsAtTheClosingSign) {
  std::u16string text = u"ab<i  k='v'>rest";
  std::size_t pos = 2;
  StackData e;
  e.RawTag = u"<";
  ParseMarkupTag(text, pos, e);
  EXPECT_EQ(pos, 11u);
  EXPECT_FALSE(e.isBad);
  EXPECT_FALSE(e.isClose);
  EXPECT_EQ(e.TagName, u"i");
  EXPECT_EQ(e.RawTag, u"<i  k='v'>");
  std::u16string open = u"x<y";
  pos = 1;
  StackData bad;
  bad.RawTag = u"<";
  ParseMarkupTag(open, pos, bad);
  EXPECT_TRUE(bad.isBad);
  EXPECT_EQ(bad.RawTag, u"<y");
  EXPECT_EQ(pos, 2u);
}

// Random texts over the characters that matter: the result in its cell element always parses.
TEST(ZxMarkup, RandomTextsAlwaysGiveWellFormedContent) {
  const std::u16string alphabet = u"<>/=\"'&;#abAB12 \r\n\t\x01\x0B\x1Fxbi:";
  const std::u16string pieces[] = {u"<b>", u"</b>", u"<i>", u"</i>", u"<font color=\"red\">", u"</font>",
                                   u"&amp;", u"&#10;", u"&#x41;", u"<html:b>", u"</html:b>"};
  std::mt19937 rng(2024);
  int keptCount = 0;
  for (int round = 0; round < 8000; ++round) {
    std::u16string text;
    int len = static_cast<int>(rng() % 30);
    for (int i = 0; i < len; ++i) {
      if (rng() % 4 == 0)
        text += pieces[rng() % (sizeof pieces / sizeof pieces[0])];
      else
        text.push_back(alphabet[rng() % alphabet.size()]);
    }
    bool kept = false;
    std::u16string result = CorrectMarkupText(text, kept);
    keptCount += kept ? 1 : 0;
    XmlParseResult parsed = ParseXml(Wrapped(result));
    ASSERT_TRUE(parsed.ok) << parsed.error << "\ninput: " << Utf16ToXmlUtf8(text)
                           << "\nresult: " << Utf16ToXmlUtf8(result);
  }
  EXPECT_GT(keptCount, 400);  // the generator does exercise kept markup
}

}  // namespace
