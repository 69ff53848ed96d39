// Tests of the streaming XML writer, its attribute lists and escaping.
#include "sheet/zxmlwriter.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <random>

#include "tests/sheet/xml_parse_check.h"

namespace {

std::string U8(const std::u16string& s) { return Utf16ToXmlUtf8(s); }

TEST(ZxAttributes, AddReplaceInsertDelete) {
  TZAttributes a;
  a.Add("", "x");
  EXPECT_EQ(a.Count(), 0);
  a.Add("a", "1");
  a.Add("b", "2");
  a.Add("a", "3", true);
  ASSERT_EQ(a.Count(), 2);
  EXPECT_EQ(a.Items(0)[0], "a");
  EXPECT_EQ(a.Items(0)[1], "3");
  a.Add("a", "4", false);
  EXPECT_EQ(a.Count(), 3);
  EXPECT_EQ(a.ItemsByName("a"), "3");  // the first pair of that name

  TZAttributes two;
  two.Add("x", "1");
  two.Add("y", "2");
  two.Insert(3, "z", "3", false);
  EXPECT_EQ(two.Count(), 2);
  two.Insert(1, "z", "3", false);
  EXPECT_EQ(two.ToString(), " x=\"1\" z=\"3\" y=\"2\"");
  two.Insert(5, "x", "9", true);  // an existing name is replaced whatever the index
  EXPECT_EQ(two.ItemsByNum(0), "9");
  two.DeleteItem(7);
  two.DeleteItem(0);
  EXPECT_EQ(two.ToString(), " z=\"3\" y=\"2\"");
  EXPECT_EQ(two.Items(9)[0], "");
  two.SetItems(9, {"q", "q"});
  EXPECT_EQ(two.Count(), 2);

  TZAttributes empty;
  empty.Insert(4, "k", "v");
  EXPECT_EQ(empty.Count(), 1);
  empty.SetItemsByName("k", "w");
  empty.SetItemsByName("m", "n");
  EXPECT_EQ(empty.ToString('\''), " k='w' m='n'");
}

TEST(ZxAttributes, ToStringQuotesEscapesAndSkipsEmpty) {
  TZAttributes a;
  a.Add("v", "<a&b \"c\">");
  a.Add("e", "");
  a.Add("ws", "1\t2\n3\r4");
  EXPECT_EQ(a.ToString('x'), " v=\"&lt;a&amp;b &quot;c&quot;&gt;\" e=\"\" ws=\"1&#9;2&#10;3&#13;4\"");
  EXPECT_EQ(a.ToString('"', true, false), " v=\"&lt;a&amp;b &quot;c&quot;&gt;\" ws=\"1&#9;2&#10;3&#13;4\"");
  EXPECT_EQ(a.ToString(false), " v=\"<a&b \"c\">\" e=\"\" ws=\"1\t2\n3\r4\"");
  TZAttributes b;
  b.Assign(a);
  EXPECT_EQ(b.ToString(), a.ToString());
}

TEST(ZxAttributes, CapacityFollowsGrowthRule) {
  TZAttributes a;
  EXPECT_EQ(a.MaxCount(), 15);
  for (int i = 0; i < 15; ++i) a.Add("n" + std::to_string(i), "v", false);
  EXPECT_EQ(a.MaxCount(), 60);  // 15 reached the capacity: 4 x 15
  for (int i = 15; i < 60; ++i) a.Add("n" + std::to_string(i), "v", false);
  EXPECT_EQ(a.MaxCount(), 120);  // 60: 2 x 60
  for (int i = 60; i < 120; ++i) a.Add("n" + std::to_string(i), "v", false);
  EXPECT_EQ(a.MaxCount(), 140);  // 120: 120 + 20
  a.Clear();
  EXPECT_EQ(a.Count(), 0);
}

TEST(ZxEscaping, KeepOrEscapeAmpersandCases) {
  struct Case {
    const char* text;
    bool kept;
  } cases[] = {
      {"&#10;", true},       {"&amp;", true},       {"&lt;x", true},        {"&quot;", true},
      {"&apos;", true},      {"&#x1F600;", true},   {"&#xd;", true},        {"& b;", false},
      {"&ab c;", false},     {"&abc", false},       {"&", false},           {"&nbsp;", false},
      {"&D;", false},        {"&#0;", false},       {"&#1;", false},        {"&#xFFFE;", false},
      {"&#xD800;", false},   {"&#;", false},        {"&#x;", false},        {"&#99999999999;", false},
      {"&amp", false},       {"&#12a;", false},
  };
  for (const auto& c : cases) {
    std::string out;
    KeepOrEscapeAmpersand(std::string(c.text), 1, out);
    EXPECT_EQ(out, c.kept ? "&" : "&amp;") << c.text;
    std::u16string out16;
    std::u16string text16(c.text, c.text + std::char_traits<char>::length(c.text));
    KeepOrEscapeAmpersand(text16, 1, out16);
    EXPECT_EQ(out16, c.kept ? u"&" : u"&amp;") << c.text;
  }
  EXPECT_EQ(EscapeXmlText(std::string("R&D; a &#10; b"), false), "R&amp;D; a &#10; b");
  EXPECT_EQ(EscapeXmlText(std::string("R&D; a &#10; b"), true), "R&amp;D; a &amp;#10; b");
}

TEST(ZxEscaping, ForbiddenCharactersAndSurrogates) {
  std::u16string text = u"a\x01" u"b\x0B\x0C\x1F\t\n\r";
  text.push_back(0xFFFE);
  text.push_back(0xD800);  // lone high surrogate
  text.push_back(u'c');
  text.push_back(0xDC00);  // lone low surrogate
  text += u"\U0001F600";
  std::u16string expected = u"ab\t\n\r";
  expected.push_back(0xFFFD);
  expected.push_back(u'c');
  expected.push_back(0xFFFD);
  expected += u"\U0001F600";
  EXPECT_EQ(EscapeXmlText(text, true), expected);
  EXPECT_EQ(Utf8ToUtf16(Utf16ToXmlUtf8(text)), expected);
  EXPECT_EQ(EscapeXmlText(std::string("x\x01\x02y\x7F"), true), "xy\x7F");
  EXPECT_EQ(AnsiStrPos("]]>", "ab]]>"), 3u);
  EXPECT_EQ(AnsiStrPos("", "ab"), 0u);
  EXPECT_EQ(AnsiStrPos("zz", "ab"), 0u);
}

TEST(ZxXmlWriter, LayoutOfNestedTagsWithIndentation) {
  TZXMLWriter w;
  w.SetTabLength(1);
  ASSERT_TRUE(w.BeginSaveToString());
  w.WriteTagNode("a", true, true, true);
  w.WriteTag("b", "x", true, false, true);
  w.WriteEndTagNode();
  w.EndSaveTo();
  EXPECT_EQ(w.Buffer(), "\r\n<a>\r\n <b>x</b>\r\n</a>\r\n");
  EXPECT_FALSE(w.InProcess());

  TZXMLWriter plain;
  plain.SetNewLine(false);
  plain.SetTabLength(2);
  ASSERT_TRUE(plain.BeginSaveToString());
  plain.WriteTagNode("a", true, true, true);
  plain.WriteTag("b", "x", true, true, true);
  plain.WriteEmptyTag("c", std::vector<TZAttrArray>{{"k", "v"}, {"k", "w"}, {"e", ""}});
  plain.WriteEndTagNode();
  plain.WriteEndTagNode();  // nothing open: nothing written
  plain.EndSaveTo();
  EXPECT_EQ(plain.Buffer(), "<a><b>x</b><c k=\"w\" e=\"\"/></a>");
}

TEST(ZxXmlWriter, ForcedNewLinesUnixSeparatorAndTabs) {
  TZXMLWriter w;
  w.SetUnixNLSeparator(true);
  w.SetTabSymbol('\t');
  w.SetTabSymbol('x');  // ignored
  w.SetTabLength(1);
  EXPECT_EQ(w.TabSymbol(), '\t');
  ASSERT_TRUE(w.BeginSaveToString());
  w.SetUnixNLSeparator(false);  // ignored while writing
  w.SetTabLength(4);
  w.WriteTagNode("r", false, false, true);
  w.WriteTagNode("s", true, false, true);
  w.WriteEndTagNode(true, true);
  w.WriteInstruction("pi", std::vector<TZAttrArray>{{"a", "1"}});
  w.WriteComment("x--y", true);
  w.WriteCDATA("1]]>2]]>3");
  EXPECT_EQ(w.Tags(0), "r");
  EXPECT_EQ(w.Tags(1), "");
  w.EndSaveTo();
  EXPECT_EQ(w.Buffer(),
            "<r>\n\t<s>\n\t</s>\n\t<?pi a=\"1\"?>\n\t<!-- x- -y -->\n\t<![CDATA[1]]&gt;2]]&gt;3]]>"
            "</r>\n");
}

TEST(ZxXmlWriter, IdleWriterWritesNothingAndBeginsOnlyOnce) {
  TZXMLWriter w;
  w.WriteTag("a", "b");
  w.WriteRaw("zz", false, false);
  EXPECT_EQ(w.Buffer(), "");
  EXPECT_FALSE(w.BeginSaveToStream(nullptr));
  ASSERT_TRUE(w.BeginSaveToString());
  EXPECT_FALSE(w.BeginSaveToString());
  TZMemoryStream m;
  EXPECT_FALSE(w.BeginSaveToStream(&m));
  w.SetMaxBufferLength(1);
  EXPECT_EQ(w.MaxBufferLength(), 4096);
  w.EndSaveTo();
  w.SetMaxBufferLength(0);
  EXPECT_EQ(w.MaxBufferLength(), 4096);
  ASSERT_TRUE(w.BeginSaveToString());  // may begin again
}

TEST(ZxXmlWriter, BeginSaveToFileInMissingFolderFails) {
  TZXMLWriter w;
  EXPECT_FALSE(w.BeginSaveToFile("/nonexistent-folder-zx/x/out.xml"));
  EXPECT_FALSE(w.InProcess());
}

TEST(ZxXmlWriter, WritesToFileAndStream) {
  auto path = std::filesystem::temp_directory_path() / "zxmlwriter_test_out.xml";
  {
    TZXMLWriterH w;
    w.SetMaxBufferLength(3);
    ASSERT_TRUE(w.BeginSaveToFile(path.string()));
    w.WriteTag(u"a", u"текст");
    w.EndSaveTo();
  }
  std::ifstream in(path, std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "\r\n<a>" + U8(u"текст") + "</a>\r\n");
  std::filesystem::remove(path);
}

TEST(ZxXmlWriter, ConverterAppliesToEveryPieceButUnconvertedRaw) {
  TZXMLWriter w;
  w.SetNewLine(false);
  w.SetTextConverter([](const std::string& s) {
    std::string out = s;
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
  });
  ASSERT_TRUE(w.BeginSaveToString());
  w.WriteTag("a", "text", std::vector<TZAttrArray>{{"k", "v"}});
  w.WriteRaw("raw", false, false);
  w.WriteRaw("cooked", true, false);
  w.EndSaveTo();
  EXPECT_EQ(w.Buffer(), "<A K=\"V\">TEXT</A>rawCOOKED");
}

TEST(ZxXmlWriterH, EncodesUtf8AndDecodesBuffer) {
  TZXMLWriterH w;
  w.SetNewLine(false);
  ASSERT_TRUE(w.BeginSaveToString());
  w.WriteTagNode(u"Привет", true, false, true);
  EXPECT_EQ(w.Tags(0), u"Привет");
  EXPECT_EQ(U8(u"Привет").size(), 12u);
  w.Attributes().Add(u"имя", u"знач\n\"");
  w.WriteEmptyTag(u"x");
  w.WriteRaw(std::string("\xEF\xBB\xBF"), false, false);
  std::u16string bad = u"a";
  bad.push_back(0xDC01);
  bad.push_back(0x0001);
  w.Attributes().Clear();
  w.WriteTag(u"t", bad);
  w.EndSaveTo();
  EXPECT_EQ(w.RawBuffer(), "<" + U8(u"Привет") + "><x " + U8(u"имя") + "=\"" + U8(u"знач") +
                               "&#10;&quot;\"/>\xEF\xBB\xBF<t>a\xEF\xBF\xBD</t></" + U8(u"Привет") + ">");
  EXPECT_EQ(w.Buffer().substr(1, 6), u"Привет");
}

TEST(ZxXmlWriterH, AttributeListAndSettingsPassThrough) {
  TZAttributesH a;
  a.Add(u"", u"x");
  a.Add(u"ключ", u"1");
  a.Insert(0, TZAttrArrayH{u"первый", u"0"}, false);
  a.Add(std::vector<TZAttrArrayH>{{u"ключ", u"2"}, {u"b", u""}});
  ASSERT_EQ(a.Count(), 3);
  EXPECT_EQ(a.Items(0)[0], u"первый");
  EXPECT_EQ(a.ItemsByName(u"ключ"), u"2");
  a.SetItemsByNum(2, u"<");
  EXPECT_EQ(a.ItemsByNum(2), u"<");
  EXPECT_EQ(a.ToString(u'\''), u" первый='0' ключ='2' b='&lt;'");
  EXPECT_EQ(a.ToString(true), u" первый=\"0\" ключ=\"2\" b=\"&lt;\"");
  a.DeleteItem(0);
  TZAttributesH b;
  b.Assign(a);
  EXPECT_EQ(b.ToString(false), u" ключ=\"2\" b=\"<\"");

  TZXMLWriterH w;
  w.SetAttributeQuote(u'\'');
  w.SetAttributeQuote(u'x');
  EXPECT_EQ(w.AttributeQuote(), u'\'');
  w.SetNewLine(false);
  w.SetAttributes(&b);
  ASSERT_TRUE(w.BeginSaveToString());
  w.WriteEmptyTag(u"e");
  w.WriteInstruction(u"pi", false, true);
  w.EndSaveTo();
  EXPECT_EQ(w.Buffer(), u"<e ключ='2' b='&lt;'/><?pi ключ='2' b='&lt;'?>");
}

// A sink that fails once a byte budget is used up, counting the writes it received.
class FailingStream : public TZStream {
 public:
  explicit FailingStream(std::size_t budget) : budget_(budget) {}
  void WriteBuffer(const void* data, std::size_t count) override {
    ++calls;
    if (count > budget_) throw EZxError("disk full");
    budget_ -= count;
    received.append(static_cast<const char*>(data), count);
  }
  int calls = 0;
  std::string received;

 private:
  std::size_t budget_;
};

TEST(ZxXmlWriter, StreamFailurePropagatesAndDestructorDiscards) {
  FailingStream sink(10);
  {
    TZXMLWriter w;
    w.SetMaxBufferLength(8);
    ASSERT_TRUE(w.BeginSaveToStream(&sink));
    w.WriteTagNode("root");
    EXPECT_THROW(w.WriteTag("a", "0123456789"), EZxError);
    // Destroyed while writing after a failure: no exception, nothing more sent to the sink.
  }
  EXPECT_EQ(sink.calls, 2);

  FailingStream ended(10);
  TZXMLWriter w;
  w.SetMaxBufferLength(8);
  ASSERT_TRUE(w.BeginSaveToStream(&ended));
  w.WriteTagNode("root");
  EXPECT_THROW(w.WriteTag("a", "0123456789"), EZxError);
  w.EndSaveTo();  // no second attempt at the failed bytes
  EXPECT_FALSE(w.InProcess());
  EXPECT_EQ(ended.calls, 2);
  EXPECT_EQ(w.TagCount(), 0);

  // The first failure happens while the destructor ends the document: it is swallowed.
  FailingStream late(3);
  {
    TZXMLWriter w;
    ASSERT_TRUE(w.BeginSaveToStream(&late));
    w.WriteTagNode("root");
  }
  EXPECT_EQ(late.calls, 1);
  EXPECT_EQ(late.received, "");
}

TEST(ZxXmlWriter, DestructorEndsAnUnfinishedDocument) {
  TZMemoryStream sink;
  {
    TZXMLWriter w;
    w.SetNewLine(false);
    ASSERT_TRUE(w.BeginSaveToStream(&sink));
    w.WriteTagNode("a");
    w.WriteTagNode("b");
  }
  EXPECT_EQ(sink.Data(), "<a><b></b></a>");
}

// Random operations give the same bytes to a string and to a stream flushed every few bytes, and the
// document parses.
TEST(ZxXmlWriter, RandomOperationsAreIdenticalAcrossDestinationsAndParse) {
  std::mt19937 rng(12345);
  const std::u16string alphabet = u"ab<>&\"';#=/ \t\r\nЖя\x01\x1F";
  auto randomText = [&](std::size_t maxLen) {
    std::u16string s;
    std::size_t len = rng() % (maxLen + 1);
    for (std::size_t i = 0; i < len; ++i) {
      if (rng() % 40 == 0) {
        s.push_back(static_cast<char16_t>(0xD800 + rng() % 0x800));  // stray surrogate
      } else {
        s.push_back(alphabet[rng() % alphabet.size()]);
      }
    }
    return s;
  };
  const std::u16string names[] = {u"a", u"b", u"ss:Cell", u"Данные", u"x-y"};
  for (int round = 0; round < 200; ++round) {
    struct Op {
      int kind;
      std::u16string name, text, attrValue;
      bool f1, f2;
    };
    std::vector<Op> ops;
    int n = static_cast<int>(rng() % 40);
    for (int i = 0; i < n; ++i) {
      ops.push_back(Op{static_cast<int>(rng() % 7), names[rng() % 5], randomText(12), randomText(6),
                       rng() % 2 == 0, rng() % 2 == 0});
    }
    auto run = [&](TZXMLWriterH& w) {
      w.WriteTagNode(u"root", true, true, true);
      for (const Op& op : ops) {
        switch (op.kind) {
          case 0: w.WriteTagNode(op.name, std::vector<TZAttrArrayH>{{u"v", op.attrValue}}, op.f1, op.f2, true); break;
          case 1: if (w.TagCount() > 1) w.WriteEndTagNode(); break;
          case 2: w.WriteTag(op.name, op.text, std::vector<TZAttrArrayH>{{u"k", op.attrValue}}, op.f1, op.f2, true); break;
          case 3: w.WriteEmptyTag(op.name, std::vector<TZAttrArrayH>{{u"k", op.text}, {u"m", op.attrValue}}, op.f1, true); break;
          case 4: w.WriteCDATA(op.text, true, op.f1); break;
          case 5: w.WriteComment(op.text, op.f1); break;
          case 6: w.WriteRaw(EscapeXmlText(op.text, true), true, op.f1); break;
        }
      }
      w.EndSaveTo();
    };
    TZXMLWriterH toString;
    toString.SetTabLength(1 + round % 3);
    ASSERT_TRUE(toString.BeginSaveToString());
    run(toString);
    TZMemoryStream sink;
    TZXMLWriterH toStream;
    toStream.SetTabLength(1 + round % 3);
    toStream.SetMaxBufferLength(1 + round % 7);
    ASSERT_TRUE(toStream.BeginSaveToStream(&sink));
    run(toStream);
    ASSERT_EQ(toString.RawBuffer(), sink.Data()) << "round " << round;
    XmlParseResult parsed = ParseXml(sink.Data());
    ASSERT_TRUE(parsed.ok) << parsed.error << "\n" << sink.Data();
  }
}

}  // namespace
