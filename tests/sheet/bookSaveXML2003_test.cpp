// The Excel 2003 XML writer: styles against the default style, rows and cells with their skipping rules,
// worksheet options, page breaks, titles, the whole file checked by xmllint, and the file form's
// replace-on-success behaviour.
#include "sheet/bookSaveXML2003.h"

#include <gtest/gtest.h>

#include "sheet/booksavecommon.h"
#include "tests/sheet/BookSaveTestUtil.h"

namespace fs = std::filesystem;

namespace {

std::string Doc(const TSHEVRIX& book, const std::vector<int>& pages = {}, const std::vector<std::u16string>& titles = {}) {
  TZMemoryStream s;
  EXPECT_EQ(SaveBookAsSpreadsheetMLToStream(book, &s, pages, titles, "", u"UTF-8", nullptr), 0);
  return s.Data();
}

bool Has(const std::string& text, const std::string& fragment) { return text.find(fragment) != std::string::npos; }

TZSheet& OneSheet(TSHEVRIX& book, int cols, int rows) {
  book.Sheets().SetCount(1);
  TZSheet& s = *book.Sheets().Sheet(0);
  s.SetColCount(cols);
  s.SetRowCount(rows);
  return s;
}

}  // namespace

TEST(Xml2003, HeaderAndDocumentProperties) {
  TSHEVRIX book;
  OneSheet(book, 1, 1);
  book.DocumentProperties().Author = u"A & B";
  TZMemoryStream s;
  ASSERT_EQ(SaveBookAsSpreadsheetMLToStream(book, &s, {}, {}, "\xEF\xBB\xBF", u"utf-8", nullptr), 0);
  const std::string& doc = s.Data();
  EXPECT_EQ(doc.rfind("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<?mso-application progid=\"Excel.Sheet\"?>"
                      "\r\n<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\" xmlns:o=\"urn:schemas-"
                      "microsoft-com:office:office\" xmlns:x=\"urn:schemas-microsoft-com:office:excel\" xmlns:ss=\"urn:"
                      "schemas-microsoft-com:office:spreadsheet\" xmlns:html=\"http://www.w3.org/TR/REC-html40\">",
                      0),
            0u);
  EXPECT_TRUE(Has(doc, "<Author>A &amp; B</Author>"));
  EXPECT_TRUE(Has(doc, "<NameOfApplication>SHEVRIXlib/0.0.7$"));
  EXPECT_TRUE(Has(doc, "  <ProtectStructure>False</ProtectStructure>\r\n  <ProtectWindows>False</ProtectWindows>\r\n"
                       " </ExcelWorkbook>"));
  EXPECT_EQ(doc.substr(doc.size() - 13), "</Workbook>\r\n");
}

TEST(Xml2003, StylesAgainstTheDefault) {
  TSHEVRIX book;
  OneSheet(book, 1, 1);
  TZStyles& st = book.Styles();
  st.DefaultStyle().Alignment.WrapText = true;
  st.SetCount(3);
  st.Items(0)->Alignment.WrapText = true;
  st.Items(1)->Alignment.WrapText = false;
  st.Items(1)->Font.Style = fsBold;
  st.Items(1)->Alignment.Rotate = 135;
  st.Items(1)->Border.Left().LineStyle = ZEDash;
  st.Items(1)->Border.Left().SetWeight(2);
  st.Items(1)->Border.Right().LineStyle = ZEContinuous;  // weight 0: a thin line
  st.Items(2)->Protect = false;
  st.Items(2)->BGColor = 0x00FFFF;  // yellow
  st.Items(2)->CellPattern = ZPSolid;
  book.Sheets().Sheet(0)->Cell(0, 0)->SetCellStyle(0);
  const std::string doc = Doc(book);
  EXPECT_TRUE(Has(doc, "<Style ss:ID=\"Default\" ss:Name=\"Normal\">\r\n   <Alignment ss:WrapText=\"1\"/>\r\n"
                       "   <Font ss:FontName=\"Arial\" x:CharSet=\"1\"/>\r\n  </Style>"));
  EXPECT_TRUE(Has(doc, "<Style ss:ID=\"s20\">\r\n   <Alignment ss:WrapText=\"1\"/>\r\n   <Font ss:FontName=\"Arial\" "
                       "x:CharSet=\"1\"/>\r\n  </Style>"));
  EXPECT_TRUE(Has(doc, "<Style ss:ID=\"s21\">\r\n   <Alignment ss:Rotate=\"-45\"/>\r\n   <Borders>\r\n"
                       "    <Border ss:Position=\"Left\" ss:LineStyle=\"Dash\" ss:Weight=\"2\"/>\r\n"
                       "    <Border ss:Position=\"Right\" ss:LineStyle=\"Continuous\" ss:Weight=\"1\"/>\r\n   </Borders>\r\n"
                       "   <Font ss:FontName=\"Arial\" x:CharSet=\"1\" ss:Bold=\"1\"/>\r\n  </Style>"));
  EXPECT_TRUE(Has(doc, "<Interior ss:Color=\"#FFFF00\" ss:Pattern=\"Solid\"/>\r\n   <Protection ss:Protected=\"0\"/>"));
  EXPECT_TRUE(Has(doc, "<Cell ss:StyleID=\"s20\"/>"));
}

// A style without an Interior element never follows a filled one: a reader gives such a style the fill of
// the style element before it. Styles are listed without a fill first, then filled, each in index order.
TEST(Xml2003, StylesWithoutFillComeBeforeFilledOnes) {
  TSHEVRIX book;
  OneSheet(book, 1, 1);
  TZStyles& st = book.Styles();
  st.SetCount(5);
  for (int i : {0, 3}) {
    st.Items(i)->BGColor = 0xDDFFDD;
    st.Items(i)->CellPattern = ZPSolid;
  }
  st.Items(1)->Font.Style = fsBold;
  const std::string doc = Doc(book);
  std::vector<std::size_t> at;
  for (const char* id : {"s21", "s22", "s24", "s20", "s23"}) at.push_back(doc.find(std::string("<Style ss:ID=\"") + id + "\""));
  for (std::size_t k = 0; k < at.size(); ++k) {
    ASSERT_NE(at[k], std::string::npos) << k;
    if (k > 0) {
      EXPECT_LT(at[k - 1], at[k]) << k;
    }
  }
}

TEST(Xml2003, RowsAndCellsSkipping) {
  TSHEVRIX book;
  book.Styles().SetCount(3);
  TZSheet& sheet = OneSheet(book, 4, 3);
  sheet.Cell(2, 0)->SetData(u"third");
  sheet.Cell(0, 1)->SetCellStyle(5);  // beyond the table: no style reference
  sheet.Cell(0, 1)->SetData(u"x");
  sheet.Cell(3, 2)->SetFormula(u"=A1&\"<\"");
  const std::string doc = Doc(book);
  EXPECT_TRUE(Has(doc, "   <Row ss:Index=\"1\">\r\n    <Cell ss:Index=\"3\">\r\n     <ss:Data ss:Type=\"String\">third"
                       "</ss:Data>\r\n    </Cell>\r\n    <Cell/>\r\n   </Row>"));
  EXPECT_TRUE(Has(doc, "   <Row ss:Index=\"2\">\r\n    <Cell>\r\n     <ss:Data ss:Type=\"String\">x</ss:Data>"));
  EXPECT_TRUE(Has(doc, "<Cell ss:Index=\"4\" ss:Formula=\"=R[-2]C[-3]&amp;&quot;&lt;&quot;\">\r\n     <ss:Data "
                       "ss:Type=\"String\"></ss:Data>"));
  EXPECT_TRUE(Has(doc, "<Table ss:ExpandedColumnCount=\"4\" ss:ExpandedRowCount=\"3\" x:FullRows=\"1\" "
                       "x:FullColumns=\"1\">\r\n   <Row"));  // default widths: no Column elements

  TSHEVRIX none;
  OneSheet(none, 0, 3);
  EXPECT_FALSE(Has(Doc(none), "<Row"));
}

TEST(Xml2003, ColumnsRowsMergesAndMarkup) {
  TSHEVRIX book;
  book.Styles().SetCount(1);
  TZSheet& sheet = OneSheet(book, 4, 3);
  sheet.SetColWidth(1, 60);
  sheet.Columns(3)->Hidden = true;
  sheet.SetRowHeight(1, 20.5);
  sheet.Rows(2)->StyleID = 0;
  ASSERT_EQ(sheet.MergeCells().AddRectXY(0, 1, 1, 2), 0);
  sheet.Cell(0, 1)->SetData(u"<B>bold</B> & <I>it");
  sheet.Cell(2, 2)->SetData(u"after merge");
  const std::string doc = Doc(book);
  EXPECT_TRUE(Has(doc, "<Column ss:Index=\"2\" ss:Width=\"60\"/>\r\n   <Column ss:Index=\"4\" ss:Hidden=\"1\"/>"));
  EXPECT_TRUE(Has(doc, "<Row ss:Index=\"2\" ss:Height=\"20.5\">\r\n    <Cell ss:MergeAcross=\"1\" ss:MergeDown=\"1\">\r\n"
                       "     <ss:Data ss:Type=\"String\" xmlns=\"http://www.w3.org/TR/REC-html40\"><B>bold</B> &amp; "
                       "&lt;I&gt;it</ss:Data>"));
  EXPECT_TRUE(Has(doc, "<Row ss:Index=\"3\" ss:StyleID=\"s20\">\r\n    <Cell ss:Index=\"3\">\r\n     <ss:Data "
                       "ss:Type=\"String\">after merge</ss:Data>"));
}

TEST(Xml2003, WorksheetOptionsTitlesAndBreaks) {
  TSHEVRIX book;
  TZSheet& sheet = OneSheet(book, 3, 4);
  sheet.SetTitle(u"A:B");
  sheet.SheetOptions().SplitHorizontalMode = ZSplitFrozen;
  sheet.SheetOptions().SplitHorizontalValue = 1;
  sheet.SheetOptions().SetHeaderData(u"Page &P");
  sheet.RowsToRepeat().SetTill(0);
  sheet.RowsToRepeat().SetActive(true);
  sheet.Rows(0)->Breaked = true;  // the first row: never written
  sheet.Rows(2)->Breaked = true;
  sheet.Columns(1)->Breaked = true;
  const std::string doc = Doc(book);
  EXPECT_TRUE(Has(doc, "<Worksheet ss:Name=\"A;B\">\r\n  <Names>\r\n   <NamedRange ss:Name=\"Print_Titles\" "
                       "ss:RefersTo=\"=R1:R1\"/></Names>"));
  EXPECT_TRUE(Has(doc, "<Cell>\r\n     <NamedCell ss:Name=\"Print_Titles\"/>\r\n    </Cell>"));
  EXPECT_TRUE(Has(doc, "<PageMargins x:Bottom=\"0.984251968503937\" x:Left=\"0.78740157480315\" "
                       "x:Right=\"0.78740157480315\" x:Top=\"0.984251968503937\"/>\r\n    <Header x:Data=\"Page &amp;P\"/>"));
  EXPECT_TRUE(Has(doc, "<Print>\r\n    <ValidPrinterInfo/>\r\n    <PaperSizeIndex>9</PaperSizeIndex>"));
  EXPECT_TRUE(Has(doc, "<FreezePanes/>\r\n   <FrozenNoSplit/>\r\n   <SplitHorizontal>1</SplitHorizontal>\r\n"
                       "   <TopRowBottomPane>1</TopRowBottomPane>\r\n   <ActivePane>2</ActivePane>\r\n"
                       "  </WorksheetOptions>"));
  EXPECT_TRUE(Has(doc, "<PageBreaks xmlns=\"urn:schemas-microsoft-com:office:excel\">\r\n   <ColBreaks>\r\n"
                       "    <ColBreak>\r\n     <Column>1</Column>\r\n    </ColBreak>\r\n   </ColBreaks>\r\n"
                       "   <RowBreaks>\r\n    <RowBreak>\r\n     <Row>2</Row>\r\n    </RowBreak>\r\n   </RowBreaks>\r\n"
                       "  </PageBreaks>\r\n </Worksheet>"));
}

TEST(Xml2003, PageTitles) {
  TSHEVRIX book;
  book.Sheets().SetCount(2);
  std::string doc = Doc(book);
  EXPECT_TRUE(Has(doc, "ss:Name=\"Sheet 1\""));
  EXPECT_TRUE(Has(doc, "ss:Name=\"Sheet 2\""));
  doc = Doc(book, {0, 0});
  EXPECT_TRUE(Has(doc, "<Worksheet ss:Name=\"Sheet 1\">"));
  EXPECT_TRUE(Has(doc, "<Worksheet ss:Name=\"Sheet 1(1)\">"));
  doc = Doc(book, {1}, {u"Given"});
  EXPECT_TRUE(Has(doc, "<Worksheet ss:Name=\"Given\">"));
  EXPECT_FALSE(Has(doc, "Sheet 1"));
  // Characters a sheet name cannot hold become ";"; long titles are cut to 31, suffix included.
  doc = Doc(book, {0, 1}, {u" a\\b/c?d*e[f]g:h ", std::u16string(40, u'Ж')});
  EXPECT_TRUE(Has(doc, "<Worksheet ss:Name=\"a;b;c;d;e;f;g;h\">"));
  doc = Doc(book, {0, 1}, {std::u16string(40, u'x'), std::u16string(35, u'X')});
  EXPECT_TRUE(Has(doc, "<Worksheet ss:Name=\"" + std::string(31, 'x') + "\">"));
  EXPECT_TRUE(Has(doc, "<Worksheet ss:Name=\"" + std::string(28, 'X') + "(1)\">"));
  TZMemoryStream s;
  EXPECT_EQ(SaveBookAsSpreadsheetMLToStream(book, &s, {7}, {}, "", u"UTF-8", nullptr), 2);
  EXPECT_TRUE(s.Data().empty());
}

class Xml2003FileTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTestDir("xml2003"); }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(Xml2003FileTest, MarriageBookIsWellFormed) {
  TSHEVRIX book;
  MakeMarriageBook(book);
  const std::string file = Path("marriage.xml");
  ASSERT_EQ(SaveBookAsSpreadsheetMLToFile(book, file, {}, {}, "", u"utf-8", nullptr), 0);
  EXPECT_EQ(ListDir(dir_), std::vector<std::string>{"marriage.xml"});
  const std::string doc = ReadFile(file);
  EXPECT_TRUE(Has(doc, "<ss:Data ss:Type=\"String\" xmlns=\"http://www.w3.org/TR/REC-html40\"><B>Анна</B></ss:Data>"));
  EXPECT_TRUE(Has(doc, "<ss:Data ss:Type=\"String\">первая&#10;вторая строка</ss:Data>"));
  ASSERT_TRUE(HaveProgram("xmllint")) << "xmllint missing (scripts/install-deps.sh installs it)";
  EXPECT_EQ(RunCommand("xmllint --noout " + ShellQuote(file)), 0);
}

TEST_F(Xml2003FileTest, ReplaceOnlyOnSuccess) {
  TSHEVRIX book;
  MakeMarriageBook(book);
  const std::string file = Path("Marriage.xml");
  WriteFile(file, "old");

  // Nothing to write: the old file stays.
  EXPECT_EQ(SaveBookAsSpreadsheetMLToFile(book, file, {3}, {}, "", u"UTF-8", nullptr), 2);
  EXPECT_EQ(ReadFile(file), "old");

  // A failure in the middle: the old file stays, no temporary file, the original error.
  int calls = 0;
  auto failing = [&calls](const std::string& piece) -> std::string {
    if (++calls == 60) throw std::runtime_error("injected write failure");
    return piece;
  };
  try {
    SaveBookAsSpreadsheetMLToFile(book, file, {}, {}, "", u"UTF-8", failing);
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "injected write failure");
  }
  EXPECT_EQ(ReadFile(file), "old");
  EXPECT_EQ(ListDir(dir_), std::vector<std::string>{"Marriage.xml"});

  // The folder does not exist: result 1.
  EXPECT_EQ(SaveBookAsSpreadsheetMLToFile(book, Path("no/such.xml"), {}, {}, "", u"UTF-8", nullptr), 1);

  // Success replaces it.
  EXPECT_EQ(SaveBookAsSpreadsheetMLToFile(book, file, {}, {}, "", u"UTF-8", nullptr), 0);
  EXPECT_TRUE(Has(ReadFile(file), "<Worksheet ss:Name=\"Marriages\">"));
  EXPECT_EQ(ListDir(dir_), std::vector<std::string>{"Marriage.xml"});
}

TEST(Xml2003, CommentsLinksActiveCellAndTabColour) {
  TSHEVRIX book;
  TZSheet& sheet = OneSheet(book, 2, 2);
  TZCell& cell = *sheet.Cell(0, 0);
  cell.SetHRef(u"https://example.org/?a=1&b=2");
  cell.SetHRefScreenTip(u"tip <here>");
  cell.SetShowComment(true);
  cell.SetAlwaysShowComment(true);
  cell.SetCommentAuthor(u"Автор");
  cell.SetComment(u"<B>note</B>\nline");
  sheet.Cell(1, 1)->SetCellType(ZENumber);
  sheet.Cell(1, 1)->SetData(u"1.5");
  sheet.SheetOptions().ActiveCol = 1;
  sheet.SheetOptions().ActiveRow = 2;
  sheet.SheetOptions().PortraitOrientation = false;
  sheet.SheetOptions().PaperSize = 0;
  sheet.SetTabColor(255);
  const std::string doc = Doc(book);
  EXPECT_TRUE(Has(doc, "<Cell ss:HRef=\"https://example.org/?a=1&amp;b=2\" x:HRefScreenTip=\"tip &lt;here&gt;\">\r\n"
                       "     <Comment ss:Author=\"Автор\" ss:ShowAlways=\"1\">\r\n      <ss:Data xmlns=\"http://www.w3.org/"
                       "TR/REC-html40\"><B>note</B>&#10;line</ss:Data>\r\n     </Comment>\r\n    </Cell>"));
  EXPECT_TRUE(Has(doc, "<ss:Data ss:Type=\"Number\">1.5</ss:Data>"));
  EXPECT_TRUE(Has(doc, "<Layout x:Orientation=\"Landscape\"/>"));
  EXPECT_FALSE(Has(doc, "<Print>"));
  EXPECT_TRUE(Has(doc, "<Panes>\r\n    <Pane>\r\n     <Number>3</Number>\r\n     <ActiveRow>2</ActiveRow>\r\n"
                       "     <ActiveCol>1</ActiveCol>\r\n    </Pane>\r\n   </Panes>\r\n   <TabColorIndex>255</TabColorIndex>"));
}
