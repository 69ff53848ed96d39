// Workbooks that readers open as written: hostile cell texts, values, sheet titles, border styles, fill
// patterns and charsets, checked in the written XML and, where the readers are installed, by openpyxl and
// by a LibreOffice round trip of both file kinds.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>

#include "sheet/bookSave.h"
#include "sheet/bookSaveXML2003.h"
#include "sheet/booksavecommon.h"
#include "sheet/bookxlsx.h"
#include "tests/sheet/BookSaveTestUtil.h"

namespace fs = std::filesystem;

namespace {

bool Has(const std::string& text, const std::string& fragment) { return text.find(fragment) != std::string::npos; }

std::string XlsxSheetPart(const TSHEVRIX& book) {
  TZMemoryStream s;
  EXPECT_EQ(WriteXlsxWorksheet(book, 0, &s, TZXlsxPartOptions()), 0);
  return s.Data();
}

std::string XlsxStylesPart(const TSHEVRIX& book) {
  TZMemoryStream s;
  EXPECT_EQ(WriteXlsxStyles(book, &s, TZXlsxPartOptions()), 0);
  return s.Data();
}

std::string Xml2003(const TSHEVRIX& book, const std::vector<std::u16string>& titles = {}) {
  TZMemoryStream s;
  EXPECT_EQ(SaveBookAsSpreadsheetMLToStream(book, &s, {}, titles, "", u"utf-8", nullptr), 0);
  return s.Data();
}

// A one-sheet book whose cell A1 the case fills.
void OneCellBook(TSHEVRIX& book, const std::function<void(TZCell&)>& fill) {
  book.Sheets().SetCount(1);
  book.Sheets().Sheet(0)->SetColCount(1);
  book.Sheets().Sheet(0)->SetRowCount(1);
  fill(*book.Sheets().Sheet(0)->Cell(0, 0));
}

std::function<void(TZCell&)> Text(const std::u16string& text) {
  return [text](TZCell& c) { c.SetData(text); };
}

std::function<void(TZCell&)> Typed(const std::u16string& text, TZCellType type) {
  return [text, type](TZCell& c) {
    c.SetData(text);
    c.SetCellType(type);
  };
}

// ---------------------------------------------------------------------------------------------------
// Cell values: what each writer puts into the file for a hostile value.

TEST(ReadersOpenAsWritten, HostileCellValuesInBothWriters) {
  struct Case {
    const char* name;
    std::function<void(TZCell&)> fill;
    const char* xlsx;     // a fragment of the XLSX worksheet
    const char* xml2003;  // a fragment of the Excel 2003 XML file (null: not checked)
    const char* absent;   // a fragment neither file may hold (null: none)
  } cases[] = {
      {"formula keeps one '='",
       [](TZCell& c) {
         c.SetFormula(u"=A1*3");
         c.SetData(u"6");
       },
       "<f aca=\"false\">A1*3</f>", "ss:Formula=\"=RC*3\"", "==A1"},
      {"blanks at both ends", Text(u"  two blanks  "), "<t xml:space=\"preserve\">  two blanks  </t>",
       "<ss:Data ss:Type=\"String\">  two blanks  </ss:Data>", nullptr},
      {"CR LF and a lone CR", Text(u"a\r\nb\rc"), "<t xml:space=\"preserve\">a&#13;\nb&#13;c</t>", nullptr, nullptr},
      {"a tab inside", Text(u"a\tb"), "<t xml:space=\"preserve\">a\tb</t>", nullptr, nullptr},
      {"a lone CR is a reference in both", Text(u"a\rb"), "<t xml:space=\"preserve\">a&#13;b</t>",
       "<ss:Data ss:Type=\"String\">a&#13;b</ss:Data>", nullptr},
      {"a literal XLSX escape keeps its text", Text(u"a_x000D_b_x41_c_X0041_"), "<t>a_x005F_x000D_b_x41_c_X0041_</t>",
       "<ss:Data ss:Type=\"String\">a_x000D_b_x41_c_X0041_</ss:Data>", nullptr},
      {"a formula's text result keeps a literal escape",
       [](TZCell& c) {
         c.SetFormula(u"=B1");
         c.SetData(u"a_x0041_");
       },
       "<v>a_x005F_x0041_</v>", nullptr, nullptr},
      {"an error value stays an error", Typed(u"#DIV/0!", ZEError), "t=\"e\">\r\n    <v>#DIV/0!</v>",
       "<ss:Data ss:Type=\"Error\">#DIV/0!</ss:Data>", nullptr},
      {"an error cell without an error value is text", Typed(u"oops", ZEError), "<t>oops</t>",
       "<ss:Data ss:Type=\"String\">oops</ss:Data>", "t=\"e\""},
      {"undefined tags stay text", Text(u"Иван <b>Петров</b>"), "<t>Иван &lt;b&gt;Петров&lt;/b&gt;</t>",
       "<ss:Data ss:Type=\"String\">Иван &lt;b&gt;Петров&lt;/b&gt;</ss:Data>", "<b>"},
      {"defined tags stay markup", Text(u"<B>Анна</B>"), "<t>&lt;B&gt;Анна&lt;/B&gt;</t>",
       "<ss:Data ss:Type=\"String\" xmlns=\"http://www.w3.org/TR/REC-html40\"><B>Анна</B></ss:Data>", nullptr},
      {"a decimal comma is no number", Typed(u"1,5", ZENumber), "t=\"inlineStr\">\r\n    <is>\r\n     <t>1,5</t>",
       "<ss:Data ss:Type=\"String\">1,5</ss:Data>", "t=\"n\""},
      {"blanks around a number", Typed(u" 3.25 ", ZENumber), "t=\"n\">\r\n    <v>3.25</v>",
       "<ss:Data ss:Type=\"Number\">3.25</ss:Data>", nullptr},
      {"a number beyond the largest double", Typed(u"1e999", ZENumber), "<t>1e999</t>",
       "<ss:Data ss:Type=\"String\">1e999</ss:Data>", "t=\"n\""},
      {"inf is no number", Typed(u"inf", ZENumber), "<t>inf</t>", "<ss:Data ss:Type=\"String\">inf</ss:Data>",
       "t=\"n\""},
      {"nan is no number", Typed(u"NaN", ZENumber), "<t>NaN</t>", nullptr, "t=\"n\""},
      {"hexadecimal is no number", Typed(u"0x1A", ZENumber), "<t>0x1A</t>", nullptr, "t=\"n\""},
      {"a Boolean word", Typed(u"yes", ZEBoolean), "<t>yes</t>", "<ss:Data ss:Type=\"String\">yes</ss:Data>",
       "t=\"b\""},
      {"a Boolean true word", Typed(u"true", ZEBoolean), "<t>true</t>", nullptr, "t=\"b\""},
      {"a Boolean 1", Typed(u"1", ZEBoolean), "t=\"b\">\r\n    <v>1</v>", "<ss:Data ss:Type=\"Boolean\">1</ss:Data>",
       nullptr},
      {"the largest double", [](TZCell& c) { c.SetAsDouble(DBL_MAX); }, "<v>1.79769313486231E+0308</v>",
       "<ss:Data ss:Type=\"Number\">1.79769313486231E+0308</ss:Data>", nullptr},
      {"the most negative double", [](TZCell& c) { c.SetAsDouble(-DBL_MAX); }, "<v>-1.79769313486231E+0308</v>",
       nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSHEVRIX book;
    OneCellBook(book, c.fill);
    const std::string xlsx = XlsxSheetPart(book);
    const std::string xml = Xml2003(book);
    EXPECT_TRUE(Has(xlsx, c.xlsx)) << xlsx.substr(xlsx.find("<sheetData>"), 300);
    if (c.xml2003 != nullptr) {
      EXPECT_TRUE(Has(xml, c.xml2003)) << xml.substr(xml.find("<Table"), 500);
    }
    if (c.absent != nullptr) {
      EXPECT_FALSE(Has(xlsx, c.absent));
      EXPECT_FALSE(Has(xml, c.absent));
    }
  }
}

// The largest doubles are stored so that they read back finite, and close to the value.
TEST(ReadersOpenAsWritten, LargestDoublesReadBackFinite) {
  for (double v : {DBL_MAX, -DBL_MAX, std::nextafter(DBL_MAX, 0.0), 1.797693134862315e308, 1.79769313486231e308}) {
    TZCell cell;
    cell.SetAsDouble(v);
    const double back = cell.AsDouble();
    EXPECT_TRUE(std::isfinite(back)) << v;
    EXPECT_NEAR(back / v, 1.0, 1e-14) << v;
  }
}

// ---------------------------------------------------------------------------------------------------
// Sheet titles

TEST(ReadersOpenAsWritten, HostileSheetTitles) {
  using V = std::vector<std::u16string>;
  struct Case {
    V given;
    V written;
  } cases[] = {
      {{u" 'Quoted' "}, {u"Quoted"}},
      {{u"'a'b'"}, {u"a'b"}},
      {{u"' ' '"}, {u"Sheet 1"}},
      {{u"''", u"'"}, {u"Sheet 1", u"Sheet 2"}},
      {{u"Отчёт", u"ОТЧЁТ"}, {u"Отчёт", u"ОТЧЁТ(1)"}},
      {{u"ёж", u"Ёж", u"ЁЖ"}, {u"ёж", u"Ёж(1)", u"ЁЖ(2)"}},
      {{u"Ωmega", u"ωMEGA"}, {u"Ωmega", u"ωMEGA(1)"}},
      {{u"Ärger", u"äRGER"}, {u"Ärger", u"äRGER(1)"}},
      {{u"Дата", u"Дати"}, {u"Дата", u"Дати"}},
  };
  for (const Case& c : cases) {
    TSHEVRIX book;
    book.Sheets().SetCount(static_cast<int>(c.given.size()));
    TZPageList pages;
    ASSERT_TRUE(PreparePageList(book, {}, c.given, pages));
    EXPECT_EQ(pages.Titles, c.written) << Utf16ToXmlUtf8(c.given[0]);
  }
}

// ---------------------------------------------------------------------------------------------------
// Borders: every line style at every weight gives a name of the format's own list, the same line in both
// writers.

const std::vector<std::string> kFormatBorderStyles = {
    "none",   "thin",    "medium",        "dashed",     "dotted",           "thick",       "double",
    "hair",   "mediumDashed", "dashDot", "mediumDashDot", "dashDotDot", "mediumDashDotDot", "slantDashDot"};

TEST(ReadersOpenAsWritten, EveryBorderStyleAndWeightHasAFormatName) {
  for (int type = ZENone; type <= ZEDouble; ++type) {
    for (int weight = 0; weight <= 3; ++weight) {
      SCOPED_TRACE(std::to_string(type) + "/" + std::to_string(weight));
      TSHEVRIX book;
      book.Styles().SetCount(1);
      TZBorderStyle& line = book.Styles().Items(0)->Border.Left();
      line.LineStyle = static_cast<TZBorderType>(type);
      line.SetWeight(static_cast<std::uint8_t>(weight));
      const std::string styles = XlsxStylesPart(book);
      const std::size_t at = styles.find("<left style=\"");
      if (at != std::string::npos) {
        const std::size_t from = at + 13;
        const std::string name = styles.substr(from, styles.find('"', from) - from);
        EXPECT_NE(std::find(kFormatBorderStyles.begin(), kFormatBorderStyles.end(), name), kFormatBorderStyles.end())
            << name;
      }
      // A continuous line of weight 0 is a thin line in both writers.
      if (type == ZEContinuous && weight == 0) {
        EXPECT_TRUE(Has(styles, "<left style=\"thin\"/>"));
        OneCellBook(book, [](TZCell& c) { c.SetCellStyle(0); });
        EXPECT_TRUE(Has(Xml2003(book), "<Border ss:Position=\"Left\" ss:LineStyle=\"Continuous\" ss:Weight=\"1\"/>"));
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------------
// Charsets

class CharsetTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTestDir("charset"); }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(CharsetTest, ACodePageWithoutConverterWritesItsOwnBytes) {
  TSHEVRIX book;
  OneCellBook(book, Text(u"Отчёт 中 €"));
  book.Sheets().Sheet(0)->SetTitle(u"Лист");
  ASSERT_EQ(TZBookSave::From(&book).Charset(1251).Save(Path("cp.xml")), 0);
  const std::string bytes = ReadFile(Path("cp.xml"));
  EXPECT_TRUE(Has(bytes, "<?xml version=\"1.0\" encoding=\"windows-1251\"?>"));
  // Отчёт in windows-1251; the Chinese character has no place there and becomes a reference.
  EXPECT_TRUE(Has(bytes, "\xCE\xF2\xF7\xB8\xF2 &#20013; \x88")) << bytes.substr(bytes.find("<Table"), 400);
  EXPECT_TRUE(Has(bytes, "ss:Name=\"\xCB\xE8\xF1\xF2\""));
  EXPECT_FALSE(Has(bytes, "\xD0\x9E"));  // no UTF-8 left

  ASSERT_EQ(TZBookSave::From(&book).Charset("KOI8-R").Save(Path("koi.xlsx")), 0);
  // A caller's own converter is kept.
  int calls = 0;
  ASSERT_EQ(TZBookSave::From(&book)
                .Charset("windows-1251", [&](const std::string& piece) {
                  ++calls;
                  return piece;
                })
                .Save(Path("own.xml")),
            0);
  EXPECT_GT(calls, 0);

  std::string error;
  try {
    TZBookSave::From(&book).Charset("x-no-such-charset").Save(Path("none.xml"));
  } catch (const EZXSaveException& e) {
    error = e.what();
  }
  EXPECT_EQ(error, "No converter for the charset x-no-such-charset");
  EXPECT_FALSE(fs::exists(Path("none.xml")));

  ASSERT_TRUE(HavePython()) << "python3 missing (scripts/install-deps.sh installs it)";
  const std::string script =
      "import sys, xml.etree.ElementTree as ET\n"
      "ns='{urn:schemas-microsoft-com:office:spreadsheet}'\n"
      "root=ET.parse(sys.argv[1]).getroot()\n"
      "ws=root.find(ns+'Worksheet')\n"
      "print(ws.get(ns+'Name'), ws.find('.//'+ns+'Data').text)\n";
  EXPECT_EQ(RunPython(script, {Path("cp.xml")}), "Лист Отчёт 中 €\n");
  ASSERT_TRUE(HaveOpenpyxl()) << "python3-openpyxl missing (scripts/install-deps.sh installs it)";
  const std::string read =
      "import sys, warnings\nwarnings.simplefilter('ignore')\nimport openpyxl\n"
      "wb=openpyxl.load_workbook(sys.argv[1]); print(wb.sheetnames[0], wb.active['A1'].value)\n";
  EXPECT_EQ(RunPython(read, {Path("koi.xlsx")}), "Лист Отчёт 中 €\n");
}

// ---------------------------------------------------------------------------------------------------
// Readers

class ReadersTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTestDir("readers"); }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

// Every border style at every weight and every fill pattern in one package, loaded by openpyxl: each
// cell reads back with its line and its pattern.
TEST_F(ReadersTest, OpenpyxlLoadsEveryBorderAndFill) {
  ASSERT_TRUE(HaveOpenpyxl()) << "python3-openpyxl missing (scripts/install-deps.sh installs it)";
  // The expected XLSX name of each line style (rows) at weights 0..3 (columns); "-" no line.
  const char* const kLines[8][4] = {
      {"-", "-", "-", "-"},
      {"thin", "hair", "medium", "thick"},
      {"-", "dotted", "dotted", "dotted"},
      {"-", "dashed", "mediumDashed", "mediumDashed"},
      {"-", "dashDot", "mediumDashDot", "mediumDashDot"},
      {"-", "dashDotDot", "mediumDashDotDot", "mediumDashDotDot"},
      {"slantDashDot", "slantDashDot", "slantDashDot", "slantDashDot"},
      {"double", "double", "double", "double"},
  };
  const char* const kPatterns[] = {"none",         "solid",         "darkGray",       "mediumGray",
                                   "lightGray",    "gray125",       "gray0625",       "darkHorizontal",
                                   "darkVertical", "darkDown",      "darkUp",         "darkGrid",
                                   "darkTrellis",  "lightHorizontal", "lightVertical", "lightDown",
                                   "lightUp",      "lightGrid",     "lightTrellis"};
  const int patterns = static_cast<int>(sizeof kPatterns / sizeof kPatterns[0]);
  TSHEVRIX book;
  book.Sheets().SetCount(1);
  TZSheet& sheet = *book.Sheets().Sheet(0);
  sheet.SetColCount(5);
  sheet.SetRowCount(8 + patterns);
  sheet.Cell(4, 0)->SetFormula(u"=A1*3");
  book.Styles().SetCount(32 + patterns);
  std::string expected;
  for (int type = 0; type < 8; ++type) {
    for (int weight = 0; weight < 4; ++weight) {
      const int style = type * 4 + weight;
      for (int side = 0; side < 6; ++side) {
        TZBorderStyle& line = *book.Styles().Items(style)->Border.Border(side);
        line.LineStyle = static_cast<TZBorderType>(type);
        line.SetWeight(static_cast<std::uint8_t>(weight));
        line.Color = 0x0000FF;
      }
      TZCell& cell = *sheet.Cell(weight, type);
      cell.SetData(u"b");
      cell.SetCellStyle(style);
      const std::string name = kLines[type][weight];
      const std::string shown = name == "-" ? "None" : name;
      if (weight > 0) expected += " ";
      expected += shown + "/" + shown + "/" + shown;
      if (weight == 3) expected += "\n";
    }
  }
  for (int p = 0; p < patterns; ++p) {
    TZStyle& s = *book.Styles().Items(32 + p);
    s.CellPattern = static_cast<TZCellPattern>(p);
    s.BGColor = 0x00CCFF;
    s.PatternColor = 0xFF0000;
    sheet.Cell(0, 8 + p)->SetData(u"f");
    sheet.Cell(0, 8 + p)->SetCellStyle(32 + p);
    expected += p == 0 ? std::string("None\n") : std::string(kPatterns[p]) + "\n";  // "none" reads as no fill
  }
  expected += "=A1*3\n";  // the reader adds the "=" itself
  const std::string file = Path("borders.xlsx");
  ASSERT_EQ(TZBookSave::From(&book).Save(file), 0);
  const std::string script =
      "import sys, warnings\nwarnings.simplefilter('ignore')\nimport openpyxl\n"
      "ws=openpyxl.load_workbook(sys.argv[1]).active\n"
      "for r in range(1, 9):\n"
      "  print(' '.join('%s/%s/%s' % (c.border.left.style, c.border.top.style, c.border.diagonal.style)\n"
      "                 for c in ws[r][:4]))\n"
      "for r in range(9, ws.max_row + 1): print(ws.cell(r, 1).fill.patternType)\n"
      "print(ws['E1'].value)\n";
  EXPECT_EQ(RunPython(script, {file}), expected);
}

// A book of hostile sheet titles and cell texts written in both formats and converted by LibreOffice to
// one CSV file per sheet: the titles and the values read back as written.
TEST_F(ReadersTest, LibreOfficeReadsHostileTextsInBothFormats) {
  ASSERT_TRUE(HaveProgram("soffice")) << "LibreOffice missing (scripts/install-deps.sh installs it)";
  ASSERT_TRUE(HaveProgram("timeout")) << "timeout missing (scripts/install-deps.sh installs it)";
  ASSERT_TRUE(HavePython()) << "python3 missing (scripts/install-deps.sh installs it)";
  const std::vector<std::u16string> titles = {u"'Quoted'", u"Отчёт", u"ОТЧЁТ", u"A:B"};
  const std::vector<std::u16string> written = {u"Quoted", u"Отчёт", u"ОТЧЁТ(1)", u"A;B"};
  const std::vector<std::u16string> texts = {
      u"Иван <b>Петров</b>", u"  two blanks  ", u"line1\r\nline2", u"cr\ronly", u"O'Neil & \"Co\" <tag/>",
      u"&amp; stays", u"tab\there", u"<p>para</p>", u"<B>Анна</B> Мария", u"a_x000D_b _x00e9_ _x005F_x0041_"};
  TSHEVRIX book;
  book.Sheets().SetCount(static_cast<int>(titles.size()));
  for (std::size_t i = 0; i < titles.size(); ++i) {
    TZSheet& sheet = *book.Sheets().Sheet(static_cast<int>(i));
    sheet.SetTitle(titles[i]);
    sheet.SetColCount(2);
    sheet.SetRowCount(static_cast<int>(texts.size()) + 4);
    for (std::size_t r = 0; r < texts.size(); ++r) {
      sheet.Cell(0, static_cast<int>(r))->SetData(texts[r]);
      sheet.Cell(1, static_cast<int>(r))->SetAsInteger(static_cast<std::int64_t>(r + i * 100));
    }
    const int r = static_cast<int>(texts.size());
    sheet.Cell(0, r)->SetData(u"1,5");
    sheet.Cell(0, r)->SetCellType(ZENumber);
    sheet.Cell(1, r)->SetAsDouble(3.25);
    sheet.Cell(0, r + 1)->SetData(u"yes");
    sheet.Cell(0, r + 1)->SetCellType(ZEBoolean);
    sheet.Cell(1, r + 1)->SetAsInteger(static_cast<std::int64_t>(i * 100 + 2));
    sheet.Cell(0, r + 2)->SetData(u"=not a formula");
    sheet.Cell(1, r + 2)->SetAsDouble(-2.5e-7);
    sheet.Cell(0, r + 3)->SetAsDouble(DBL_MAX);
  }
  ASSERT_EQ(TZBookSave::From(&book).Save(Path("hx.xlsx")), 0);
  ASSERT_EQ(TZBookSave::From(&book).Save(Path("hm.xml")), 0);
  // Every sheet to its own CSV file (sheet number -1), values as stored, not as shown.
  const std::string out = Path("csv");
  const std::string profile = "file://" + Path("lo-profile");
  const std::string command = "timeout 180 soffice -env:UserInstallation=" + ShellQuote(profile) +
                              " --headless --norestore --convert-to " +
                              ShellQuote("csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1") +
                              " --outdir " + ShellQuote(out) + " " + ShellQuote(Path("hx.xlsx")) + " " +
                              ShellQuote(Path("hm.xml")) + " >/dev/null 2>&1";
  const int rc = RunCommand(command);
  ASSERT_NE(rc, 124) << "LibreOffice did not finish in time";
  ASSERT_EQ(rc, 0);
  // Each CSV file as "== <sheet>" and its cells, one row per line, "|" between cells, CR as "<CR>" and
  // LF as "<LF>", tab as "<TAB>".
  const std::string script =
      "import csv, sys, os\n"
      "base, names = sys.argv[1], sys.argv[2:]\n"
      "for n in names:\n"
      "  print('==', n)\n"
      "  for row in csv.reader(open(os.path.join(os.path.dirname(base), 'csv', os.path.basename(base) + '-' + n + "
      "'.csv'), encoding='utf-8', newline='')):\n"
      "    print('|'.join(c.replace('\\r','<CR>').replace('\\n','<LF>').replace('\\t','<TAB>') for c in row))\n";
  auto shown = [](std::u16string s, bool xml2003) {
    auto replaceAll = [&](const std::u16string& from, const std::u16string& to) {
      for (std::size_t at = 0; (at = s.find(from, at)) != std::u16string::npos; at += to.size()) s.replace(at, from.size(), to);
    };
    // A CR LF pair is one line break in both: Excel 2003 XML stores it as LF, and LibreOffice keeps line
    // breaks as LF (the XLSX file holds the CR, as openpyxl shows). A lone CR stays.
    replaceAll(u"\r\n", u"\n");
    if (xml2003) {
      // Defined tags show as formatting, entity references as their characters.
      replaceAll(u"<B>", u"");
      replaceAll(u"</B>", u"");
      replaceAll(u"&amp;", u"&");
    }
    replaceAll(u"\r", u"<CR>");
    replaceAll(u"\n", u"<LF>");
    replaceAll(u"\t", u"<TAB>");
    return Utf16ToXmlUtf8(s);
  };
  for (const bool xml2003 : {false, true}) {
    SCOPED_TRACE(xml2003 ? "Excel 2003 XML" : "XLSX");
    std::string expected;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < written.size(); ++i) {
      names.push_back(Utf16ToXmlUtf8(written[i]));
      expected += "== " + names.back() + "\n";
      for (std::size_t r = 0; r < texts.size(); ++r) expected += shown(texts[r], xml2003) + "|" + std::to_string(r + i * 100) + "\n";
      expected += "1,5|3.25\nyes|" + std::to_string(i * 100 + 2) + "\n=not a formula|-0.00000025\n";
      expected += "1.79769313486231E+308|\n";
    }
    std::vector<std::string> args{Path(xml2003 ? "hm" : "hx")};
    args.insert(args.end(), names.begin(), names.end());
    EXPECT_EQ(RunPython(script, args), expected);
  }
}

}  // namespace
