// The XLSX writer and its styles part: exact fragments of the parts, the package order, failure
// handling, and the whole package checked by independent readers (zipfile, openpyxl, xmllint, unzip -t).
#include "sheet/bookxlsx.h"

#include <gtest/gtest.h>

#include "sheet/bookSave.h"
#include "sheet/bookZipArchive.h"
#include "sheet/booksavecommon.h"
#include "tests/sheet/BookSaveTestUtil.h"

namespace fs = std::filesystem;

namespace {

std::string Part(const std::function<int(TZStream*)>& write) {
  TZMemoryStream s;
  EXPECT_EQ(write(&s), 0);
  return s.Data();
}

std::string Styles(const TSHEVRIX& book) {
  return Part([&](TZStream* s) { return WriteXlsxStyles(book, s, TZXlsxPartOptions()); });
}

std::string Sheet(const TSHEVRIX& book, int index = 0) {
  return Part([&](TZStream* s) { return WriteXlsxWorksheet(book, index, s, TZXlsxPartOptions()); });
}

bool Has(const std::string& text, const std::string& fragment) { return text.find(fragment) != std::string::npos; }

class XlsxTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTestDir("xlsx"); }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

}  // namespace

TEST(XlsxStyles, BookWithoutStyles) {
  TSHEVRIX book;
  const std::string xml = Styles(book);
  EXPECT_TRUE(Has(xml, "<fonts count=\"1\">"));
  EXPECT_TRUE(Has(xml, "<fills count=\"3\">\r\n  <fill>\r\n   <patternFill patternType=\"none\"/>\r\n  </fill>\r\n"
                       "  <fill>\r\n   <patternFill patternType=\"gray125\"/>\r\n  </fill>\r\n"
                       "  <fill>\r\n   <patternFill patternType=\"none\"/>\r\n  </fill>\r\n </fills>"));
  EXPECT_TRUE(Has(xml, "<borders count=\"1\">"));
  EXPECT_TRUE(Has(xml, "<cellStyleXfs count=\"1\">"));
  EXPECT_TRUE(Has(xml, "<cellXfs count=\"1\">\r\n  <xf applyAlignment=\"false\" applyBorder=\"true\" applyFont=\"true\" "
                       "applyProtection=\"true\" borderId=\"0\" fillId=\"2\" fontId=\"0\" numFmtId=\"0\" xfId=\"0\">\r\n"
                       "   <protection hidden=\"false\" locked=\"true\"/>\r\n  </xf>\r\n </cellXfs>"));
  EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<styleSheet xmlns=\"http://schemas."
                      "openxmlformats.org/spreadsheetml/2006/main\">",
                      0),
            0u);
}

TEST(XlsxStyles, FillsBordersFontsAlignment) {
  TSHEVRIX book;
  book.Styles().SetCount(6);
  TZStyles& st = book.Styles();
  st.Items(0)->CellPattern = ZPSolid;
  st.Items(0)->BGColor = clRed;
  st.Items(1)->CellPattern = ZPGray50;
  st.Items(1)->BGColor = clRed;
  st.Items(1)->PatternColor = 0xFF0000;  // blue
  st.Items(2)->Border.Left().LineStyle = ZEContinuous;
  st.Items(2)->Border.Left().SetWeight(1);
  st.Items(2)->Border.Left().Color = 0xC0C0C0;
  st.Items(2)->Border.Top().LineStyle = ZEContinuous;
  st.Items(2)->Border.Top().SetWeight(1);
  st.Items(2)->Alignment.Rotate = -45;
  st.Items(3)->Alignment.VerticalText = true;
  // Styles 4 and 5 differ from the default only in the font's character set: one font for both.
  st.Items(4)->Font.Charset = 204;
  st.Items(4)->Font.Name = u"Tahoma";
  st.Items(5)->Font.Charset = 0;
  st.Items(5)->Font.Name = u"Tahoma";
  const std::string xml = Styles(book);
  EXPECT_TRUE(Has(xml, "<patternFill patternType=\"solid\">\r\n    <fgColor rgb=\"00FF0000\"/>\r\n   </patternFill>"));
  EXPECT_TRUE(Has(xml, "<patternFill patternType=\"mediumGray\">\r\n    <fgColor rgb=\"000000FF\"/>\r\n"
                       "    <bgColor rgb=\"00FF0000\"/>\r\n   </patternFill>"));
  EXPECT_TRUE(Has(xml, "<left style=\"hair\">\r\n    <color rgb=\"00C0C0C0\"/>\r\n   </left>\r\n   <right/>\r\n"
                       "   <top style=\"hair\"/>\r\n   <bottom/>\r\n   <diagonal/>"));
  EXPECT_TRUE(Has(xml, "textRotation=\"135\""));
  EXPECT_TRUE(Has(xml, "textRotation=\"255\""));
  EXPECT_TRUE(Has(xml, "<fonts count=\"2\">"));
  EXPECT_TRUE(Has(xml, "<name val=\"Tahoma\"/>\r\n   <charset val=\"204\"/>"));
  EXPECT_FALSE(Has(xml, "thin"));
  // Cell formats 5 and 6 (styles 4 and 5) point to the same font.
  const auto xfs = xml.substr(xml.find("<cellXfs"));
  std::vector<std::string> fontIds;
  for (auto at = xfs.find("fontId=\""); at != std::string::npos; at = xfs.find("fontId=\"", at + 1))
    fontIds.push_back(xfs.substr(at + 8, xfs.find('"', at + 8) - at - 8));
  EXPECT_EQ(fontIds, (std::vector<std::string>{"0", "0", "0", "0", "0", "1", "1"}));
}

TEST(XlsxStyles, BorderStyleTable) {
  struct Case {
    TZBorderType type;
    int weight;
    const char* style;  // null: no attribute
  };
  const Case cases[] = {
      {ZENone, 1, nullptr},          {ZEContinuous, 1, "hair"},        {ZEContinuous, 2, "medium"},
      {ZEContinuous, 3, "thick"},    {ZEContinuous, 0, "thin"},        {ZEDot, 1, "dotted"},
      {ZEDot, 3, "dotted"},          {ZEDot, 0, nullptr},              {ZEDash, 2, "mediumDashed"},
      {ZEDashDot, 1, "dashDot"},     {ZEDashDotDot, 2, "mediumDashDotDot"}, {ZESlantDashDot, 0, "slantDashDot"},
      {ZEDouble, 1, "double"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.weight));
    TSHEVRIX book;
    book.Styles().SetCount(1);
    book.Styles().Items(0)->Border.Bottom().LineStyle = c.type;
    book.Styles().Items(0)->Border.Bottom().SetWeight(static_cast<std::uint8_t>(c.weight));
    const std::string xml = Styles(book);
    const std::string borders = xml.substr(xml.find("<borders"), xml.find("</borders>") - xml.find("<borders"));
    if (c.style == nullptr) EXPECT_FALSE(Has(borders, "<bottom style=")) << borders;
    else EXPECT_TRUE(Has(borders, std::string("<bottom style=\"") + c.style + "\"/>")) << borders;
  }
}

TEST(XlsxStyles, CompactStyleIdsKeepsRanksApartFromStyleIndexes) {
  // Position 2 repeats the default style (-1), position 4 repeats style 0 (position 1).
  std::vector<int> ids{-2, -2, -1, -2, 0};
  CompactStyleIds(ids, 3);
  EXPECT_EQ(ids, (std::vector<int>{0, 1, 0, 2, 1}));

  // The same through the part: the default style and style 1 share a font, style 0 has its own.
  TSHEVRIX book;
  book.Styles().SetCount(2);
  book.Styles().Items(0)->Font.Name = u"Tahoma";
  const std::string xml = Styles(book);
  const auto xfs = xml.substr(xml.find("<cellXfs"));
  EXPECT_TRUE(Has(xfs, "fontId=\"0\" numFmtId=\"0\" xfId=\"0\">\r\n   <protection hidden=\"false\" locked=\"true\"/>"
                       "\r\n  </xf>\r\n  <xf applyAlignment=\"false\" applyBorder=\"true\" applyFont=\"true\" "
                       "applyProtection=\"true\" borderId=\"0\" fillId=\"2\" fontId=\"1\""));
  EXPECT_EQ(xfs.rfind("fontId=\"0\""), xfs.find("fontId=\"0\"", xfs.find("fontId=\"1\"")));
}

TEST(XlsxWorksheet, CellsColumnsRowsAndPage) {
  TSHEVRIX book;
  book.Styles().SetCount(2);
  book.Sheets().SetCount(1);
  TZSheet& sheet = *book.Sheets().Sheet(0);
  sheet.SetColCount(3);
  sheet.SetRowCount(2);
  sheet.Cell(0, 0)->SetData(u"a<b");
  sheet.Cell(1, 0)->SetData(u"x");
  sheet.Cell(1, 0)->SetCellStyle(0);
  sheet.Cell(2, 0)->SetData(u"y");
  sheet.Cell(2, 0)->SetCellStyle(2);  // equal to the style count: the default format
  sheet.Cell(0, 1)->SetAsInteger(42);
  sheet.Cell(1, 1)->SetFormula(u"A2&\"<\"");
  sheet.SetRowHeight(1, 20);
  const std::string xml = Sheet(book);
  EXPECT_TRUE(Has(xml, "<dimension ref=\"A1:C2\"/>"));
  EXPECT_TRUE(Has(xml, "<c r=\"A1\" s=\"0\" t=\"inlineStr\">\r\n    <is>\r\n     <t>a&lt;b</t>\r\n    </is>\r\n   </c>"));
  EXPECT_TRUE(Has(xml, "<c r=\"B1\" s=\"1\" t=\"inlineStr\">"));
  EXPECT_TRUE(Has(xml, "<c r=\"C1\" s=\"0\" t=\"inlineStr\">"));
  EXPECT_TRUE(Has(xml, "<c r=\"A2\" s=\"0\" t=\"n\">\r\n    <v>42</v>\r\n   </c>"));
  EXPECT_TRUE(Has(xml, "<c r=\"B2\" s=\"0\" t=\"str\">\r\n    <f aca=\"false\">A2&amp;&quot;&lt;&quot;</f>\r\n   </c>"));
  EXPECT_TRUE(Has(xml, "<c r=\"C2\" s=\"0\" t=\"str\"/>"));
  EXPECT_TRUE(Has(xml, "<col collapsed=\"false\" hidden=\"false\" max=\"1025\" min=\"3\" style=\"0\" "
                       "width=\"8.7106509804\" bestFit=\"1\"/>"));
  EXPECT_TRUE(Has(xml, "<row collapsed=\"false\" customFormat=\"false\" customHeight=\"false\" hidden=\"false\" "
                       "ht=\"12.76\" outlineLevel=\"0\" r=\"1\">"));
  EXPECT_TRUE(Has(xml, "customHeight=\"true\" hidden=\"false\" ht=\"20"));
  EXPECT_TRUE(Has(xml, "<pageMargins left=\"0.7874015748\" right=\"0.7874015748\" top=\"0.9842519685\" "
                       "bottom=\"0.9842519685\" header=\"0.5118110236\" footer=\"0.5118110236\"/>"));
  EXPECT_TRUE(Has(xml, "orientation=\"portrait\" pageOrder=\"downThenOver\" paperSize=\"9\""));
  EXPECT_FALSE(Has(xml, "<pane"));
  EXPECT_TRUE(Has(xml, "<selection activeCell=\"A1\" sqref=\"A1\"/>"));
}

TEST(XlsxWorksheet, PanesMergesAndEmptySheet) {
  TSHEVRIX book;
  book.Sheets().SetCount(2);
  TZSheet& sheet = *book.Sheets().Sheet(0);
  sheet.SetColCount(4);
  sheet.SetRowCount(4);
  sheet.SheetOptions().SplitHorizontalMode = ZSplitFrozen;
  sheet.SheetOptions().SplitHorizontalValue = 1;
  sheet.Cell(1, 1)->SetCellStyle(-1);
  book.Styles().SetCount(1);
  sheet.Cell(1, 1)->SetCellStyle(0);
  EXPECT_EQ(sheet.MergeCells().AddRectXY(1, 1, 2, 2), 0);
  const std::string xml = Sheet(book);
  EXPECT_TRUE(Has(xml, "<pane ySplit=\"1\" topLeftCell=\"A2\" activePane=\"topLeft\" state=\"frozen\"/>"));
  EXPECT_TRUE(Has(xml, "<c r=\"C3\" s=\"1\" t=\"str\"/>"));  // inside the area: the top-left cell's style
  EXPECT_TRUE(Has(xml, "<mergeCells count=\"1\">\r\n  <mergeCell ref=\"B2:C3\"/>\r\n </mergeCells>"));

  TZSheet& empty = *book.Sheets().Sheet(1);
  empty.SetColCount(2);
  empty.SheetOptions().SplitVerticalMode = ZSplitSplit;
  empty.SheetOptions().SplitVerticalValue = 100;
  const std::string e = Sheet(book, 1);
  EXPECT_TRUE(Has(e, "<dimension ref=\"A1:B0\"/>"));
  EXPECT_TRUE(Has(e, "<cols>"));
  EXPECT_TRUE(Has(e, "<sheetData/>") || Has(e, "<sheetData>\r\n </sheetData>"));
  // 100 pixels at 0.265 mm are 75.11 points, 1502 twentieths.
  EXPECT_TRUE(Has(e, "<pane xSplit=\"1502\" activePane=\"topLeft\" state=\"split\"/>"));
}

TEST(XlsxParts, WorkbookRelsAndContentTypes) {
  const std::string wb = Part([](TZStream* s) { return WriteXlsxWorkbook({u"Second", u"A&B"}, s, TZXlsxPartOptions()); });
  EXPECT_TRUE(Has(wb, "<sheet name=\"Second\" sheetId=\"1\" state=\"visible\" r:id=\"rId2\"/>\r\n"
                      "  <sheet name=\"A&amp;B\" sheetId=\"2\" state=\"visible\" r:id=\"rId3\"/>"));
  const std::string rels = Part([](TZStream* s) { return WriteXlsxWorkbookRels(s, 2, TZXlsxPartOptions()); });
  EXPECT_TRUE(Has(rels, "Id=\"rId3\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
                        "worksheet\" Target=\"worksheets/sheet2.xml\"/>"));
  EXPECT_TRUE(Has(rels, "Id=\"rId4\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
                        "sharedStrings\" Target=\"sharedStrings.xml\"/>"));
  const std::string types = Part([](TZStream* s) { return WriteXlsxContentTypes(s, 1, TZXlsxPartOptions()); });
  EXPECT_FALSE(Has(types, "<Default"));
  EXPECT_TRUE(Has(types, "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"application/"
                         "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"));
  EXPECT_EQ(WriteXlsxSharedStrings(nullptr, TZXlsxPartOptions()), 2);
}

TEST_F(XlsxTest, PackageOrderPagesAndIndependentReaders) {
  TSHEVRIX book;
  book.DocumentProperties().Created = EncodeDateTime(2024, 3, 5, 7, 8, 9, 0);
  book.Sheets().SetCount(3);
  for (int i = 0; i < 3; ++i) {
    book.Sheets().Sheet(i)->SetTitle(u"S" + std::u16string(1, static_cast<char16_t>(u'0' + i)));
    book.Sheets().Sheet(i)->SetColCount(1);
    book.Sheets().Sheet(i)->SetRowCount(1);
    book.Sheets().Sheet(i)->Cell(0, 0)->SetData(u"sheet " + std::u16string(1, static_cast<char16_t>(u'0' + i)));
  }
  const std::string file = Path("pages.xlsx");
  EXPECT_EQ(SaveBookAsXlsx(book, file, {2, 0}, {}, nullptr, false, "", u"UTF-8", nullptr), 0);
  ASSERT_TRUE(HavePython()) << "python3 missing (scripts/install-deps.sh installs it)";
  const std::string script =
      "import zipfile,sys\n"
      "z=zipfile.ZipFile(sys.argv[1]); assert z.testzip() is None\n"
      "print(' '.join(z.namelist()))\n"
      "w=z.read('xl/workbook.xml').decode()\n"
      "print(w.count('<sheet '), 'name=\"S2\" sheetId=\"1\"' in w, 'name=\"S0\" sheetId=\"2\"' in w)\n"
      "print('sheet 2' in z.read('xl/worksheets/sheet1.xml').decode(), 'sheet 0' in z.read('xl/worksheets/sheet2.xml').decode())\n"
      "print(z.read('docProps/core.xml').decode().count('2024-03-05T'))\n";
  EXPECT_EQ(RunPython(script, {file}),
            "xl/styles.xml xl/sharedStrings.xml _rels/.rels xl/_rels/workbook.xml.rels xl/worksheets/sheet1.xml "
            "xl/worksheets/sheet2.xml xl/workbook.xml [Content_Types].xml docProps/app.xml docProps/core.xml\n"
            "2 True True\nTrue True\n2\n");
}

TEST_F(XlsxTest, MarriageBookReadByOpenpyxlXmllintAndUnzip) {
  TSHEVRIX book;
  MakeMarriageBook(book);
  const std::string file = Path("Marriage.XLSX");
  EXPECT_EQ(TZBookSave::From(&book).Charset("utf-8").Save(file), 0);
  ASSERT_TRUE(fs::exists(file));
  EXPECT_EQ(ListDir(dir_), std::vector<std::string>{"Marriage.XLSX"});

  ASSERT_TRUE(HaveProgram("unzip")) << "unzip missing (scripts/install-deps.sh installs it)";
  ASSERT_TRUE(HaveProgram("xmllint")) << "xmllint missing (scripts/install-deps.sh installs it)";
  EXPECT_EQ(RunCommand("unzip -tq " + ShellQuote(file) + " >/dev/null 2>&1"), 0);
  const auto parts = dir_ / "parts";
  ASSERT_EQ(RunCommand("unzip -q " + ShellQuote(file) + " -d " + ShellQuote(parts.string())), 0);
  int checked = 0;
  for (const auto& e : fs::recursive_directory_iterator(parts)) {
    if (!e.is_regular_file()) continue;
    EXPECT_EQ(RunCommand("xmllint --noout " + ShellQuote(e.path().string()) + " 2>/dev/null"), 0) << e.path();
    EXPECT_EQ(ReadFile(e.path().string()).rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>", 0), 0u) << e.path();
    ++checked;
  }
  EXPECT_EQ(checked, 9);
  ASSERT_TRUE(HaveOpenpyxl()) << "python3-openpyxl missing (scripts/install-deps.sh installs it)";
  const std::string script =
      "import sys, warnings, zipfile\n"
      "warnings.simplefilter('ignore')\n"
      "import openpyxl\n"
      "z=zipfile.ZipFile(sys.argv[1]); assert z.testzip() is None\n"
      "wb=openpyxl.load_workbook(sys.argv[1]); ws=wb.active\n"
      "print(wb.sheetnames, ws.freeze_panes)\n"
      "for row in ws.iter_rows(): print('|'.join('' if c.value is None else c.value for c in row).replace('\\n','/'))\n"
      "h=ws['A1']; print(h.font.b, h.font.name, h.font.sz, h.alignment.horizontal, h.alignment.vertical, h.border.left.style)\n"
      "c=ws['A2']; print(c.font.b, c.fill.patternType, c.fill.fgColor.rgb, c.border.top.style, c.border.top.color.rgb)\n"
      "print(ws['D2'].fill.fgColor.rgb, ws['A5'].fill.patternType, ws['A5'].alignment.wrap_text)\n"
      "print(' '.join('%.4f' % ws.column_dimensions[x].width for x in 'ABCD'))\n";
  const std::string out = RunPython(script, {file});
  EXPECT_EQ(out,
            "['Marriages'] A2\n"
            "Муж|Жена|Дата & место|Лет\n"
            "Иванов Иван*|Петрова Мария|1880, Київ|1880-1875\n"
            "Сидоров & сын|<B>Анна</B>|первая\r/вторая строка|12\n"
            "Smith <John>|O'Neil \"Kate\"|a/b|\n"
            "Ёжиков||&amp; stays|3\n"
            "True Tahoma 9.0 center center hair\n"
            "False solid 00CCFFCC hair 00C0C0C0\n"
            "00FFCCCC None True\n"
            "16.3614 19.0883 13.6345 5.4538\n");
}

TEST_F(XlsxTest, FixedClockGivesIdenticalBytes) {
  TSHEVRIX book;
  MakeMarriageBook(book);
  ASSERT_EQ(TZBookSave::From(&book).Save(Path("1.xlsx")), 0);
  ASSERT_EQ(TZBookSave::From(&book).Save(Path("2.xlsx")), 0);
  const std::string one = ReadFile(Path("1.xlsx"));
  EXPECT_FALSE(one.empty());
  EXPECT_EQ(one, ReadFile(Path("2.xlsx")));
}

TEST_F(XlsxTest, FailureInTheMiddleKeepsOldFileAndReportsTheOriginalError) {
  TSHEVRIX book;
  MakeMarriageBook(book);
  const std::string file = Path("Marriage.xlsx");
  WriteFile(file, "old workbook");
  // A converter that fails once the worksheet is being written.
  auto failing = [](const std::string& piece) -> std::string {
    if (piece.find("sheetData") != std::string::npos) throw std::runtime_error("injected write failure");
    return piece;
  };
  try {
    TZBookSave::From(&book).Charset("utf-8", failing).Save(file);
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "injected write failure");
  }
  EXPECT_EQ(ReadFile(file), "old workbook");
  EXPECT_EQ(ListDir(dir_), std::vector<std::string>{"Marriage.xlsx"});
}

TEST_F(XlsxTest, NothingToWriteAndNoGenerator) {
  TSHEVRIX empty;
  const std::string file = Path("none.xlsx");
  EXPECT_EQ(TZBookSave::From(&empty).Save(file), 2);
  EXPECT_FALSE(fs::exists(file));

  TSHEVRIX book;
  MakeMarriageBook(book);
  TZxZipGen::UnRegister(&TZxZipArchive::Class);
  std::string error;
  try {
    SaveBookAsXlsx(book, file, {}, {}, nullptr, false, "", u"UTF-8", nullptr);
  } catch (const EZxZipGen& e) {
    error = e.what();
  }
  EXPECT_EQ(SaveBookAsXlsx(book, Path("folder"), {}, {}, nullptr, true, "", u"UTF-8", nullptr), 0);
  TZxZipGen::Register(&TZxZipArchive::Class);
  EXPECT_EQ(error, "No zip generators registered, folder output disabled.");
  EXPECT_FALSE(fs::exists(file));
  EXPECT_TRUE(fs::exists(Path("folder/xl/worksheets/sheet1.xml")));
  EXPECT_TRUE(fs::exists(Path("folder/[Content_Types].xml")));
}
