// Whole files against small reference files: the marriage-shaped book as Excel 2003 XML, and as XLSX
// written part by part into a folder (NoZip), with the clock and the time zone fixed. Set
// TREVOLAN_UPDATE_GOLDEN=1 to rewrite the references after a deliberate change of the output.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "sheet/bookSave.h"
#include "tests/sheet/BookSaveTestUtil.h"

namespace fs = std::filesystem;

namespace {

const fs::path kReferences = fs::path(TREVOLAN_SOURCE_DIR) / "tests" / "data" / "sheet";

// Runs the body with TZ=UTC, so the "Z" times do not depend on the machine.
class GoldenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTestDir("golden");
    if (const char* tz = std::getenv("TZ")) oldTz_ = tz, hadTz_ = true;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
  void TearDown() override {
    if (hadTz_) ::setenv("TZ", oldTz_.c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
    fs::remove_all(dir_);
  }
  void Compare(const fs::path& produced, const fs::path& reference) {
    if (std::getenv("TREVOLAN_UPDATE_GOLDEN") != nullptr) {
      fs::create_directories(reference.parent_path());
      fs::copy_file(produced, reference, fs::copy_options::overwrite_existing);
      return;
    }
    ASSERT_TRUE(fs::exists(reference)) << reference;
    EXPECT_EQ(ReadFile(produced.string()), ReadFile(reference.string())) << reference;
  }
  fs::path dir_;
  std::string oldTz_;
  bool hadTz_ = false;
};

}  // namespace

TEST_F(GoldenTest, MarriageBookAsExcel2003Xml) {
  TSHEVRIX book;
  MakeMarriageBook(book);
  const fs::path file = dir_ / "marriage.xml";
  ASSERT_EQ(TZBookSave::From(&book).Charset("utf-8").Save(file.string()), 0);
  Compare(file, kReferences / "marriage.xml");
}

TEST_F(GoldenTest, MarriageBookAsXlsxPartsInAFolder) {
  TSHEVRIX book;
  MakeMarriageBook(book);
  const fs::path folder = dir_ / "marriage.xlsx";
  ASSERT_EQ(TZBookSave::From(&book).Charset("utf-8").NoZip().Save(folder.string()), 0);
  ASSERT_TRUE(fs::is_directory(folder));
  int parts = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (!e.is_regular_file()) continue;
    Compare(e.path(), kReferences / "marriage-xlsx" / fs::relative(e.path(), folder));
    ++parts;
  }
  EXPECT_EQ(parts, 9);
}
