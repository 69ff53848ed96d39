// Replays the kept fuzz corpus of the engine's value layer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz/eng8/ValueStreamFuzzBody.h"

TEST(ValueStreamFuzzCorpus, EveryInputEndsCleanly) {
  const std::filesystem::path dir = std::filesystem::path(TREVOLAN_SOURCE_DIR) / "fuzz" / "eng8" / "corpus";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(ValueStreamFuzzOne(bytes.data(), bytes.size())) << entry.path();
    ++count;
  }
  EXPECT_GE(count, 10);
}
