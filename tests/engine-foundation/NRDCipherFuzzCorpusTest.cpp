// Replays the committed fuzz corpus of the text formats and cipher string decoding.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/eng10/CipherTextFuzzBody.h"

TEST(NRDCipherFuzzCorpus, ReplaysEveryInput) {
  const std::filesystem::path dir = std::filesystem::path(TREVOLAN_SOURCE_DIR) / "fuzz" / "eng10" / "corpus";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(entry.path().filename().string());
    EXPECT_EQ(nrd_fuzz::CipherTextFuzzOne(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0);
    ++count;
  }
  EXPECT_GE(count, 5);
}
