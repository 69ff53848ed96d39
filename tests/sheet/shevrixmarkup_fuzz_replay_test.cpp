// Replays the fuzz corpus of the markup escaping and XML writer through the same body as the fuzzer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/sheet6/markup_fuzz_body.h"

namespace {

TEST(ZxMarkupFuzzCorpus, EveryInputGivesWellFormedXml) {
  const std::filesystem::path dir = std::filesystem::path(TREVOLAN_SOURCE_DIR) / "fuzz" / "sheet6" / "corpus";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(SheetMarkupFuzzOne(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()))
        << entry.path();
    ++files;
  }
  EXPECT_GT(files, 0);
}

}  // namespace
