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
      {u"<B>bold</B>", u"<B>bold</B>", true},
      {u"<B>bold", u"&lt;B&gt;bold", false},
      {u"<Font html:Color=\"#FF0000\">x</Font>", u"<Font html:Color=\"#FF0000\">x</Font>", true},
      {u"<Font html:Face='Times New'>x</Font>", u"<Font html:Face='Times New'>x</Font>", true},
      {u"<Font  html:Size = \"12\" >x</Font >", u"<Font  html:Size = \"12\" >x</Font >", true},
      {u"a<br/>b", u"a&lt;br/&gt;b", false},
      {u"<B>x</b>", u"&lt;B&gt;x&lt;/b&gt;", false},
      {u"</I><B>x</B>", u"&lt;/I&gt;<B>x</B>", true},
      {u"<B>1</B><I>2</I><U><S><Sub>3</Sub></S></U>", u"<B>1</B><I>2</I><U><S><Sub>3</Sub></S></U>", true},
      {u"1\r\n2", u"1&#10;2", false},
      {u"1\n2", u"1&#10;2", false},
      {u"\n", u"&#10;", false},
      {u"1\r2\r", u"1&#13;2&#13;", false},
      {u"x<y and more", u"x&lt;y and more", false},
      {u"\"q\" 'a' >", u"&quot;q&quot; &apos;a&apos; &gt;", false},
      {u"&#10;&amp;&nbsp;R&D;", u"&#10;&amp;&amp;nbsp;R&amp;D;", false},
      {u"<Font html:Face=\"a&b<c\">t</Font>", u"<Font html:Face=\"a&amp;b&lt;c\">t</Font>", true},
      {u"< B>x</B>", u"&lt; B&gt;x&lt;/B&gt;", false},
      {u"<Font html:Size=1>x</Font>", u"&lt;Font html:Size=1&gt;x&lt;/Font&gt;", false},
      {u"<Font html:Size>x</Font>", u"&lt;Font html:Size&gt;x&lt;/Font&gt;", false},
      // Only the formatting tags the format defines, spelled as it spells them, with or without the
      // workbook's html prefix; readers show nothing of the text inside any other tag.
      {u"Иван <b>Петров</b>", u"Иван &lt;b&gt;Петров&lt;/b&gt;", false},
      {u"<p>x</p><font color=\"red\">y</font>", u"&lt;p&gt;x&lt;/p&gt;&lt;font color=&quot;red&quot;&gt;y&lt;/font&gt;",
       false},
      {u"<Span>a</Span><Sup>2</Sup>", u"<Span>a</Span><Sup>2</Sup>", true},
      {u"<1b>x</1b>", u"&lt;1b&gt;x&lt;/1b&gt;", false},
      {u"<foo:B>x</foo:B>", u"&lt;foo:B&gt;x&lt;/foo:B&gt;", false},
      {u"<html:B>x</html:B>", u"<html:B>x</html:B>", true},
      {u"<Font x:CharSet=\"204\" x:Family=\"Swiss\">x</Font>", u"<Font x:CharSet=\"204\" x:Family=\"Swiss\">x</Font>",
       true},
      {u"<Font co\u106Flor=\"red\">x</Font>", u"&lt;Font co\u106Flor=&quot;red&quot;&gt;x&lt;/Font&gt;", false},
      {u"<\u0436>x</\u0436>", u"&lt;\u0436&gt;x&lt;/\u0436&gt;", false},
      // Attributes: only the font's own, and none on the other tags.
      {u"<Font color=\"red\">x</Font>", u"&lt;Font color=&quot;red&quot;&gt;x&lt;/Font&gt;", false},
      {u"<B html:Color=\"#FF0000\">x</B>", u"&lt;B html:Color=&quot;#FF0000&quot;&gt;x&lt;/B&gt;", false},
      {u"<Font a:b=\"1\">x</Font>", u"&lt;Font a:b=&quot;1&quot;&gt;x&lt;/Font&gt;", false},
      {u"<>x</>", u"&lt;&gt;x&lt;/&gt;", false},
      {u"<B =\"1\">x</B>", u"&lt;B =&quot;1&quot;&gt;x&lt;/B&gt;", false},
      // Attributes must be unique, separated by blanks, closed by their own quote; closing tags have none.
      {u"<Font html:Size=\"1\" html:Size=\"2\">x</Font>",
       u"&lt;Font html:Size=&quot;1&quot; html:Size=&quot;2&quot;&gt;x&lt;/Font&gt;", false},
      {u"<Font html:Size=\"1\"html:Face=\"2\">x</Font>",
       u"&lt;Font html:Size=&quot;1&quot;html:Face=&quot;2&quot;&gt;x&lt;/Font&gt;", false},
      {u"<Font html:Face=\"it's\">x</Font>", u"<Font html:Face=\"it's\">x</Font>", true},
      {u"<Font html:Face=\"1'>x</Font>", u"&lt;Font html:Face=&quot;1&apos;&gt;x&lt;/Font&gt;", false},
      {u"<B>x</B html:Color=\"1\">", u"&lt;B&gt;x&lt;/B html:Color=&quot;1&quot;&gt;", false},
      {u"<B>x<//B>", u"&lt;B&gt;x&lt;//B&gt;", false},
      // An unclosed parent: its own tag becomes text, its completed children stay markup.
      {u"<B>x<I>y</I>z", u"&lt;B&gt;x<I>y</I>z", true},
      {u"<B><I>1</I><U>2</U>", u"&lt;B&gt;<I>1</I><U>2</U>", true},
      {u"<Font html:Face=\"&amp;\">t", u"&lt;Font html:Face=&quot;&amp;amp;&quot;&gt;t", false},
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
  std::u16string text = u"a\x01<B>\x02x\x1F</B>";
  text.push_back(0xD801);
  EXPECT_EQ(CorrectMarkupText(text), u"a<B>x</B>\xFFFD");
}

TEST(ZxMarkup, ParseMarkupTagStopsAtTheClosingSign) {
  std::u16string text = u"ab<Font  html:Face='v'>rest";
  std::size_t pos = 2;
  StackData e;
  e.RawTag = u"<";
  ParseMarkupTag(text, pos, e);
  EXPECT_EQ(pos, 22u);
  EXPECT_FALSE(e.isBad);
  EXPECT_FALSE(e.isClose);
  EXPECT_EQ(e.TagName, u"Font");
  EXPECT_EQ(e.RawTag, u"<Font  html:Face='v'>");
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
  const std::u16string pieces[] = {u"<B>", u"</B>", u"<I>", u"</I>", u"<Font html:Color=\"red\">", u"</Font>",
                                   u"&amp;", u"&#10;", u"&#x41;", u"<html:B>", u"</html:B>", u"<b>", u"</b>"};
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
