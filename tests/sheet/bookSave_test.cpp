// The export front end: choosing a saver by extension or format name, the target folder, page choice,
// encodings, the saver life cycle, and both formats read back by LibreOffice.
#include "sheet/bookSave.h"

#include <gtest/gtest.h>

#include "sheet/bookSaveXLSX.h"
#include "sheet/bookSaveXML2003.h"
#include "tests/sheet/BookSaveTestUtil.h"

namespace fs = std::filesystem;

namespace {

class BookSaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTestDir("booksave");
    book_.Sheets().SetCount(3);
    for (int i = 0; i < 3; ++i) {
      TZSheet& s = *book_.Sheets().Sheet(i);
      s.SetTitle(u"Sheet" + std::u16string(1, static_cast<char16_t>(u'A' + i)));
      s.SetColCount(1);
      s.SetRowCount(1);
      s.Cell(0, 0)->SetData(u"v");
    }
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  template <typename F>
  std::string SaveError(F&& f) {
    try {
      f();
    } catch (const EZXSaveException& e) {
      return e.what();
    }
    return "(no error)";
  }

  fs::path dir_;
  TSHEVRIX book_;
};

bool IsZip(const std::string& bytes) { return bytes.rfind("PK\3\4", 0) == 0; }
bool IsXml2003(const std::string& bytes) { return bytes.find("<?mso-application progid=\"Excel.Sheet\"?>") != std::string::npos; }

}  // namespace

TEST_F(BookSaveTest, FormatByExtension) {
  EXPECT_EQ(TZBookSave::From(&book_).Save(Path("a.Xlsx")), 0);
  EXPECT_TRUE(IsZip(ReadFile(Path("a.Xlsx"))));
  EXPECT_EQ(TZBookSave::From(&book_).Save(Path("b.XLSM")), 0);
  EXPECT_TRUE(IsZip(ReadFile(Path("b.XLSM"))));
  EXPECT_EQ(TZBookSave::From(&book_).Save(Path("c.xml")), 0);
  EXPECT_TRUE(IsXml2003(ReadFile(Path("c.xml"))));
  EXPECT_EQ(SaveError([&] { TZBookSave::From(&book_).Save(Path("d.xls")); }),
            "Doesn't know how to save the workbook as .xls");
  EXPECT_EQ(SaveError([&] { TZBookSave::From(&book_).Save(Path("noext")); }), "Doesn't know how to save the workbook as ");
  EXPECT_FALSE(fs::exists(Path("d.xls")));
}

TEST_F(BookSaveTest, ExportFormatByName) {
  IZBookSave base = TZBookSave::From(&book_);
  struct Case {
    const char* name;
    CZBookSaves cls;
  };
  const Case cases[] = {{"  office open xml ", &TZxXlsxSaver::Class},
                        {"ISO/IEC 29500", &TZxXlsxSaver::Class},
                        {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", &TZxXlsxSaver::Class},
                        {"spreadsheetml", &TZxXml2003Saver::Class},
                        {"XML SS", &TZxXml2003Saver::Class},
                        {".xml", &TZxXml2003Saver::Class}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    IZBookSave chosen = base.ExportFormat(c.name);
    EXPECT_EQ(TZBookSave::FindFormat(c.name), c.cls);
    chosen.Discard();
  }
  // An explicitly chosen saver writes its own format whatever the extension.
  IZBookSave xlsx = base.ExportFormat("OOXML");
  EXPECT_EQ(xlsx.Save(Path("really.xml")), 0);
  EXPECT_TRUE(IsZip(ReadFile(Path("really.xml"))));
  EXPECT_EQ(SaveError([&] { base.ExportFormat("Lotus"); }), "Doesn't know how to save the workbook as Lotus");
  // The saver ExportFormat was called on still needs its own end.
  EXPECT_TRUE(base.Impl()->DoNotDestroyMe());
  base.Discard();
}

TEST_F(BookSaveTest, TargetFolderMustExist) {
  EXPECT_EQ(SaveError([&] { TZBookSave::From(&book_).ToFile("Report.xlsx").Discard(); }), "No such path: ");
  EXPECT_EQ(SaveError([&] { TZBookSave::From(&book_).ToFile(Path("missing/Report.xlsx")).Discard(); }),
            "No such path: " + Path("missing"));
  IZBookSave s = TZBookSave::From(&book_).ToFile(Path("Report.xlsx"));
  EXPECT_EQ(s.Impl()->Path(), dir_.string());
  s.Discard();
}

TEST_F(BookSaveTest, PagesAndNames) {
  IZBookSave s = TZBookSave::From(&book_);
  s.Pages(std::vector<int>{2, 0});
  EXPECT_EQ(SaveError([&] { s.Pages(std::vector<int>{0, 5}); }), "There is no sheet #5 in the workbook");
  EXPECT_EQ(SaveError([&] { s.Pages(std::vector<TZxPageInfo>{{u"x", -1}}); }), "There is no sheet #-1 in the book");
  ASSERT_EQ(s.Impl()->PageList().size(), 2u);  // the earlier choice stays
  EXPECT_EQ(s.Impl()->PageList()[0].no, 2);
  EXPECT_EQ(SaveError([&] { s.PageNames({u"one"}); }), "Sheets titles do not match sheet numbers");
  s.PageNames({u"Second", u"First"});
  EXPECT_EQ(s.Save(Path("pages.xml")), 0);
  const std::string doc = ReadFile(Path("pages.xml"));
  const auto second = doc.find("<Worksheet ss:Name=\"Second\">");
  const auto first = doc.find("<Worksheet ss:Name=\"First\">");
  EXPECT_NE(second, std::string::npos);
  EXPECT_LT(second, first);
  EXPECT_EQ(doc.find("SheetB"), std::string::npos);
}

TEST_F(BookSaveTest, NothingToWrite) {
  TSHEVRIX empty;
  WriteFile(Path("old.xml"), "old");
  EXPECT_EQ(TZBookSave::From(&empty).Save(Path("old.xml")), 2);
  EXPECT_EQ(ReadFile(Path("old.xml")), "old");
  EXPECT_EQ(TZBookSave::From(&empty).Save(Path("new.xlsx")), 2);
  EXPECT_FALSE(fs::exists(Path("new.xlsx")));
}

TEST_F(BookSaveTest, CharsetGoesIntoEveryDeclaration) {
  EXPECT_EQ(TZBookSave::From(&book_).Charset("utf-8").Save(Path("c.xml")), 0);
  EXPECT_EQ(ReadFile(Path("c.xml")).rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>", 0), 0u);
  // A code page gives its MIME name; a converter turns the UTF-8 text into the code page's bytes.
  auto toUpper = [](const std::string& piece) {
    std::string out = piece;
    for (char& c : out)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
  };
  EXPECT_EQ(TZBookSave::From(&book_).Charset(1251).Converter(toUpper).BOM("BOM").Save(Path("d.xml")), 0);
  const std::string d = ReadFile(Path("d.xml"));
  EXPECT_EQ(d.rfind("BOM<?XML VERSION=\"1.0\" ENCODING=\"WINDOWS-1251\"?>", 0), 0u) << d.substr(0, 60);
  struct Case {
    int cp;
    const char* name;
  };
  for (const Case& c : {Case{1251, "windows-1251"}, Case{1258, "windows-1258"}, Case{866, "cp866"},
                        Case{20866, "koi8-r"}, Case{28595, "iso-8859-5"}, Case{28605, "iso-8859-15"},
                        Case{65001, "utf-8"}, Case{28602, ""}, Case{437, ""}, Case{-1, ""}})
    EXPECT_EQ(CodePageCharsetName(c.cp), c.name) << c.cp;
  IZBookSave s = TZBookSave::From(&book_);
  EXPECT_EQ(SaveError([&] { s.Charset(437); }), "No charset (MIME id) found for codepage 437");
  s.Discard();
}

TEST_F(BookSaveTest, LifeCycle) {
  EXPECT_EQ(SaveError([] { TZBookSave::From(nullptr); }), "Cannot export nil book. Do not use inherited TObject.Create");
  const std::string premature =
      "Premature exporter destroying: worksheet export process should end either with .Save or with .Discard.";
  {
    IZBookSave s = TZBookSave::From(&book_);
    IZBookSave copy = s;
    EXPECT_EQ(SaveError([&] { copy.Release(); }), "(no error)");  // not the last handle
    EXPECT_EQ(SaveError([&] { s.Release(); }), premature);
    EXPECT_EQ(s.Impl(), nullptr);
  }
  {
    IZBookSave s = TZBookSave::From(&book_);
    s.Discard();
    EXPECT_EQ(SaveError([&] { s.Release(); }), "(no error)");
  }
  {
    IZBookSave s = TZBookSave::From(&book_);
    s.Save(Path("x.xlsx"));
    EXPECT_EQ(SaveError([&] { s.Release(); }), "(no error)");
  }
  // A handle that just goes out of scope never throws.
  { IZBookSave s = TZBookSave::From(&book_); }
}

TEST_F(BookSaveTest, RegistryOrderAndUnregister) {
  ASSERT_EQ(TZBookSave::Registered().size(), 2u);
  EXPECT_EQ(TZBookSave::Registered()[0], &TZxXlsxSaver::Class);
  EXPECT_EQ(TZBookSave::Registered()[1], &TZxXml2003Saver::Class);
  TZBookSave::UnRegister(&TZxXml2003Saver::Class);
  EXPECT_EQ(SaveError([&] { TZBookSave::From(&book_).Save(Path("u.xml")); }), "Doesn't know how to save the workbook as .xml");
  TZBookSave::Register(&TZxXml2003Saver::Class);
  EXPECT_EQ(TZBookSave::From(&book_).Save(Path("u.xml")), 0);
}

// Both formats converted to CSV by LibreOffice, in one bounded run.
TEST_F(BookSaveTest, LibreOfficeReadsBothFormats) {
  ASSERT_TRUE(HaveProgram("soffice")) << "LibreOffice missing (scripts/install-deps.sh installs it)";
  ASSERT_TRUE(HaveProgram("timeout")) << "timeout missing (scripts/install-deps.sh installs it)";
  TSHEVRIX book;
  MarriageBookShape shape;
  MakeMarriageBook(book, shape);
  ASSERT_EQ(TZBookSave::From(&book).Charset("utf-8").Save(Path("marriage_x.xlsx")), 0);
  ASSERT_EQ(TZBookSave::From(&book).Charset("utf-8").Save(Path("marriage_m.xml")), 0);
  const std::string out = Path("csv");
  const std::string profile = "file://" + Path("lo-profile");
  const std::string command = "timeout 180 soffice -env:UserInstallation=" + ShellQuote(profile) +
                              " --headless --norestore --convert-to " +
                              ShellQuote("csv:Text - txt - csv (StarCalc):44,34,76") + " --outdir " + ShellQuote(out) +
                              " " + ShellQuote(Path("marriage_x.xlsx")) + " " + ShellQuote(Path("marriage_m.xml")) +
                              " >/dev/null 2>&1";
  const int rc = RunCommand(command);
  ASSERT_NE(rc, 124) << "LibreOffice did not finish in time";
  ASSERT_EQ(rc, 0);
  ASSERT_TRUE(HavePython()) << "python3 missing (scripts/install-deps.sh installs it)";
  // The cells as python's csv module reads them, one row per line, cells joined by "|", line breaks as "/".
  const std::string script =
      "import csv,sys\n"
      "for row in csv.reader(open(sys.argv[1], encoding='utf-8', newline='')):\n"
      "  print('|'.join(c.replace('\\r\\n','/').replace('\\n','/') for c in row))\n";
  std::string expected;
  auto line = [](std::vector<std::u16string> cells) {
    std::u16string joined;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (i > 0) joined += u"|";
      std::u16string c = cells[i];
      for (std::size_t at; (at = c.find(u"\r\n")) != std::u16string::npos;) c.replace(at, 2, u"/");
      for (std::size_t at; (at = c.find(u'\n')) != std::u16string::npos;) c.replace(at, 1, u"/");
      joined += c;
    }
    return Utf16ToXmlUtf8(joined) + "\n";
  };
  expected += line(shape.Header);
  for (const auto& row : shape.Rows) expected += line(row);
  EXPECT_EQ(RunPython(script, {out + "/marriage_x.csv"}), expected);
  // In Excel 2003 XML the cell texts keep their markup and entity references: they show as formatted text.
  std::string shown = expected;
  for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{{"<B>Анна</B>", "Анна"},
                                                                                 {"&amp; stays", "& stays"}})
    shown.replace(shown.find(from), from.size(), to);
  EXPECT_EQ(RunPython(script, {out + "/marriage_m.csv"}), shown);
}
