// Replays the kept fuzz corpus of the decompressors and the BLOB chain loader through the same
// entry the fuzzer calls: every input must end without a crash, a sanitizer report or a leak.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz/compression/CompressionFuzzBody.h"

namespace {

TEST(NRDCompressionFuzz, KeptCorpusReplaysClean) {
  const std::filesystem::path dir = std::filesystem::path(TREVOLAN_SOURCE_DIR) / "fuzz/compression/corpus";
  ASSERT_TRUE(std::filesystem::is_directory(dir));
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream f(entry.path(), std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(entry.path().filename().string());
    compression_fuzz::CompressionFuzzOne(bytes.data(), bytes.size());
    ++count;
  }
  EXPECT_GT(count, 10u);
}

}  // namespace
