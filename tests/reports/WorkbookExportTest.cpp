// The workbook exports of the marriage list and the calendar: the rows the grid shows, the header, the
// styles by the shared colour rule, the written files of both formats read by openpyxl and converted by
// LibreOffice (values, bold frozen header, fills), an empty list, and a write that fails.
#include "app/reports/WorkbookExport.h"

#include "app/core/trans.h"
#include "app/reports/Calendar.h"
#include "platform/qt/ClientDataSet.h"
#include "sheet/shevrix.h"
#include "tests/reports/MarriagesTestTree.h"
#include "tests/sheet/BookSaveTestUtil.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

// Four marriage rows of the four colours; the second has its estimate reversed.
void MarriageRows(platform::TClientDataSet& cds) {
  mtree::EnsureApp();
  CreateMarriageDataSet(cds);
  auto row = [&](const char* main, const char* husband, const char* calc, const char* ok, const char* eid) {
    platform::TClientDataSet::Row r(22);
    r[0] = QString::fromUtf8(main);
    r[1] = QStringLiteral("Ветров");
    r[2] = QString::fromUtf8(husband);
    r[6] = QStringLiteral("Никита 16.03.1948, \r\nСофья ?");
    r[8] = QString::fromUtf8(calc);
    r[9] = QStringLiteral("Белова & <дочь>");
    r[19] = QString::fromUtf8(eid);
    r[20] = QString::fromUtf8(ok);
    r[21] = 1;
    cds.AppendRecord(r);
  };
  row("1*", "Андрей", "1973-2026", "+", "010");
  row("2*", "Тимофей", "1880-1875", "-", "0200");
  row("2.", "Тимофей", "1950-1960", "+", "0200");
  row("2 .", "Степан", "1950-1960", "-", "0201");
  cds.First();
}

int StyleAt(const TSHEVRIX& book, int col, int row) { return book.Sheets().Sheet(0)->Cell(col, row)->CellStyle(); }
std::u16string DataAt(const TSHEVRIX& book, int col, int row) { return book.Sheets().Sheet(0)->Cell(col, row)->Data(); }

TEST(WorkbookExport, MarriageBookFollowsTheGrid) {
  platform::TClientDataSet cds;
  MarriageRows(cds);
  TMarriageOptions o;
  o.OtherMen = false;
  ApplyMarriageFilter(cds, o);
  std::vector<TReportColumn> cols = MarriageColumns();
  cols[2].title += QChar(kTitleMark);  // a translated title carries the mark
  TSHEVRIX book;
  BuildMarriageBook(book, cds, cols);
  ASSERT_EQ(book.Sheets().Count(), 1);
  const TZSheet& sheet = *book.Sheets().Sheet(0);
  EXPECT_EQ(sheet.Title(), u"Marriages");
  EXPECT_EQ(sheet.RowCount(), 4);  // three shown rows + the header
  EXPECT_EQ(sheet.ColCount(), int(cols.size()));
  EXPECT_EQ(sheet.SheetOptions().SplitHorizontalMode, ZSplitFrozen);
  EXPECT_EQ(sheet.SheetOptions().SplitHorizontalValue, 1);
  EXPECT_EQ(book.Styles().Count(), 6);
  EXPECT_EQ(DataAt(book, 2, 0), u"Имя");
  EXPECT_EQ(sheet.Columns(6)->WidthPix(), cols[6].width);
  for (int c = 0; c < sheet.ColCount(); ++c) EXPECT_EQ(StyleAt(book, c, 0), 1);
  EXPECT_EQ(DataAt(book, 0, 3), u"2 .");
  EXPECT_EQ(DataAt(book, 6, 1), u"Никита 16.03.1948, \r\nСофья ?");
  // Row styles by the shared rule: green, yellow (its reversed estimate red), none.
  EXPECT_EQ(StyleAt(book, 0, 1), 2);
  EXPECT_EQ(StyleAt(book, 0, 2), 3);
  EXPECT_EQ(StyleAt(book, 8, 2), 5);
  EXPECT_EQ(StyleAt(book, 9, 2), 3);
  EXPECT_EQ(StyleAt(book, 0, 3), 0);
  const TZStyle& s5 = *book.Styles().Items(5);
  EXPECT_EQ(s5.BGColor, 0xCCCCFFu);
  EXPECT_EQ(s5.CellPattern, ZPSolid);
  EXPECT_EQ(book.Styles().Items(3)->BGColor, 0xE0FFFFu);
  EXPECT_TRUE(book.Styles().Items(1)->Font.Style & fsBold);
  EXPECT_EQ(book.Styles().Items(0)->Font.Name, u"Tahoma");
  EXPECT_EQ(book.Styles().Items(0)->Border.Left().Color, 0xC0C0C0u);
  EXPECT_EQ(book.Styles().Items(1)->Border.Left().Color, 0u);
}

TEST(WorkbookExport, EmptyListAndFailedWrite) {
  mtree::EnsureApp();
  platform::TClientDataSet cds;
  CreateCalendarDataSet(cds);
  TSHEVRIX book;
  BuildInformerBook(book, cds, CalendarColumns());
  EXPECT_EQ(book.Sheets().Sheet(0)->RowCount(), 1);
  EXPECT_EQ(book.Sheets().Sheet(0)->Columns(2)->WidthPix(), CalendarColumns()[2].width + 10);
  QTemporaryDir dir;
  EXPECT_THROW(InformerToXLS(cds, CalendarColumns(), dir.filePath(QStringLiteral("none/Informer.XLSX"))), std::exception);
  EXPECT_THROW(InformerToXLS(cds, CalendarColumns(), dir.filePath(QStringLiteral("Informer.txt"))), std::exception);
  EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("Informer.txt"))));
  // A dataset that is not open writes nothing.
  platform::TClientDataSet closed;
  InformerToXLS(closed, CalendarColumns(), dir.filePath(QStringLiteral("closed.xlsx")));
  EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("closed.xlsx"))));
  InformerToXLS(cds, CalendarColumns(), dir.filePath(QStringLiteral("Informer.XLSX")));
  EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("Informer.XLSX"))));
}

// Prints, per file, the sheet title, the frozen cell, then per row its values and per cell the fill colour
// and boldness and font colour where set.
const char* const kDescribe =
    "import sys, warnings\nwarnings.simplefilter('ignore')\nimport openpyxl\n"
    "for path in sys.argv[1:]:\n"
    "  ws = openpyxl.load_workbook(path).worksheets[0]\n"
    "  print(ws.title, ws.freeze_panes)\n"
    "  for row in ws.iter_rows():\n"
    "    out = []\n"
    "    for c in row:\n"
    "      v = '' if c.value is None else str(c.value).replace('\\r', '<CR>').replace('\\n', '<LF>')\n"
    "      f = c.fill.fgColor.rgb[-6:] if c.fill is not None and c.fill.patternType == 'solid' else ''\n"
    "      b = 'B' if c.font.b else ''\n"
    "      k = c.font.color.rgb[-6:] if c.font.color is not None and isinstance(c.font.color.rgb, str) and c.font.color.rgb[-6:] not in ('000000',) else ''\n"
    "      out.append(v + ('{' + f + b + k + '}' if f or b or k else ''))\n"
    "    print('|'.join(out))\n";

class WorkbookFiles : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTestDir("workbooks"); }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  // LibreOffice's own XLSX of each file; false when the conversion fails or LibreOffice is missing
  // (scripts/install-deps.sh installs it).
  bool Convert(const std::vector<std::string>& files, const std::string& outDir) {
    std::string command = "timeout 180 soffice -env:UserInstallation=" + ShellQuote("file://" + Path("lo-profile")) +
                          " --headless --norestore --convert-to xlsx --outdir " + ShellQuote(outDir);
    for (const auto& f : files) command += " " + ShellQuote(f);
    return RunCommand(command + " >/dev/null 2>&1") == 0;
  }
  fs::path dir_;
};

TEST_F(WorkbookFiles, BothFormatsReadByOpenpyxlAndLibreOffice) {
  platform::TClientDataSet marriages;
  MarriageRows(marriages);
  TMarriageOptions o;
  o.OtherWomen = false;
  ApplyMarriageFilter(marriages, o);
  // Two columns keep the check short: the sign, the husband, the estimate and the wife.
  const std::vector<TReportColumn> mcols = {{"Main", "#", 30}, {"M_Im", "Имя", 80}, {"DM_CALC", "Дата бр.расч.", 75},
                                            {"F_Fam", "Фамилия", 90}, {"R_DR", "Даты рождения детей", 160}};
  platform::TClientDataSet calendar;
  FillCalendarDataSet(calendar, {{QDate(2026, 12, 14), QDate(2001, 12, 14), QStringLiteral("Белов Иван"), QStringLiteral("*"), 25, {}},
                                 {QDate(2026, 12, 16), QDate(1911, 12, 20), QStringLiteral("А + Б"), QStringLiteral("x"), {}, 42000},
                                 {QDate(2026, 12, 20), QDate(2000, 12, 20), QStringLiteral("Орлов"), QStringLiteral("┼"), 26, {}}});
  const std::vector<TReportColumn> ccols = CalendarColumns();
  for (const char* ext : {"xlsx", "xml"}) {
    MarriageToXLS(marriages, mcols, QString::fromStdString(Path(std::string("Marriage.") + ext)));
    InformerToXLS(calendar, ccols, QString::fromStdString(Path(std::string("Informer.") + ext)));
  }
  // The Excel 2003 XML file names the sheet and freezes its first row.
  const std::string xml = ReadFile(Path("Informer.xml"));
  EXPECT_NE(xml.find("ss:Name=\"Informer\""), std::string::npos);
  EXPECT_NE(xml.find("<FreezePanes/>"), std::string::npos);
  EXPECT_NE(xml.find("<SplitHorizontal>1</SplitHorizontal>"), std::string::npos);
  EXPECT_EQ(ReadFile(Path("Marriage.xlsx")).substr(0, 2), "PK");

  const std::string marriageExpected =
      "Marriages A2\n"
      "#{B}|Имя{B}|Дата бр.расч.{B}|Фамилия{B}|Даты рождения детей{B}\n"
      "1*{CCFFCC}|Андрей{CCFFCC}|1973-2026{CCFFCC}|Белова & <дочь>{CCFFCC}|Никита 16.03.1948, <CR><LF>Софья ?{CCFFCC}\n"
      "2*{FFFFE0}|Тимофей{FFFFE0}|1880-1875{FFCCCC}|Белова & <дочь>{FFFFE0}|Никита 16.03.1948, <CR><LF>Софья ?{FFFFE0}\n"
      "2.{CCFFFF}|Тимофей{CCFFFF}|1950-1960{CCFFFF}|Белова & <дочь>{CCFFFF}|Никита 16.03.1948, <CR><LF>Софья ?{CCFFFF}\n";
  const std::string calendarExpected =
      "Informer A2\n"
      "День{B}|Дата{B}|Участники{B}|Тип{B}|Лет{B}|Дней{B}\n"
      "14.12.2026{DDFFDD}|14.12.2001{DDFFDD}|Белов Иван{DDFFDD}|*{DDFFDD}|25{B800000}|{DDFFDD}\n"
      "16.12.2026{FFDDFF}|20.12.1911{FFDDFF}|А + Б{FFDDFF}|x{FFDDFF}|{FFDDFF}|42000{FFDDFF}\n"
      "20.12.2026{DDDDFF}|20.12.2000{DDDDFF}|Орлов{DDDDFF}|┼{DDDDFF}|26{DDDDFF}|{DDDDFF}\n";
  ASSERT_TRUE(HaveOpenpyxl()) << "python3-openpyxl missing (scripts/install-deps.sh installs it)";
  EXPECT_EQ(RunPython(kDescribe, {Path("Marriage.xlsx")}), marriageExpected);
  EXPECT_EQ(RunPython(kDescribe, {Path("Informer.xlsx")}), calendarExpected);

  // LibreOffice opens both formats as written: its own XLSX of each holds the same values, bold header
  // and fills (line breaks become LF in its files). Run headless it keeps no view settings, so the frozen
  // row is not looked for in its files (it is checked above in both written files).
  const std::string out = Path("lo");
  ASSERT_TRUE(Convert({Path("Marriage.xlsx"), Path("Informer.xlsx")}, Path("lo-x")));
  ASSERT_TRUE(Convert({Path("Marriage.xml"), Path("Informer.xml")}, Path("lo-m")));
  auto lf = [](std::string s) {
    for (std::size_t at; (at = s.find("<CR><LF>")) != std::string::npos;) s.replace(at, 8, "<LF>");
    const std::size_t title = s.find(' ');
    return s.substr(0, title) + s.substr(s.find('\n'));
  };
  for (const char* folder : {"lo-x", "lo-m"}) {
    SCOPED_TRACE(folder);
    EXPECT_EQ(lf(RunPython(kDescribe, {Path(std::string(folder) + "/Marriage.xlsx")})), lf(marriageExpected));
    // The bold dark red jubilee style has no fill in both formats (in Excel 2003 XML it is listed before
    // every filled style, so no reader can give it the fill of the style listed before it).
    EXPECT_EQ(lf(RunPython(kDescribe, {Path(std::string(folder) + "/Informer.xlsx")})), lf(calendarExpected));
  }
}

}  // namespace
