// Replays the kept corpus of the SQL expression fuzzer: every input must end in a value or an
// engine error.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz/sql/SqlExpressionFuzzBody.h"

TEST(SqlFuzzCorpus, EveryKeptInputEndsCleanly) {
  const std::filesystem::path dir = std::filesystem::path(TREVOLAN_SOURCE_DIR) / "fuzz" / "sql" / "corpus";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SqlExpressionFuzzOne(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++count;
  }
  EXPECT_GT(count, 0);
}
