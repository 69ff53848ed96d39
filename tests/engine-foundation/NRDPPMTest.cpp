// PPM compressor: header word, level table, round trips, model restarts and damaged streams.
#include "engine/foundation/NRDPPM.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using nrd::PPMCompressBuffer;
using nrd::PPMDecompressBuffer;

std::vector<std::uint8_t> TextData(std::size_t n, std::uint32_t seed) {
  static const char* words[] = {"Иван",  "Petrov", "born", "1885", "died",  "Kyiv", "@I12@", "FAMC",
                                "0 INDI", "1 NAME", "2 DATE", "ABT", "Mariya", "the", "of", "\r\n"};
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> out;
  while (out.size() < n) {
    std::string w = words[rng() % 16];
    out.insert(out.end(), w.begin(), w.end());
    out.push_back(rng() % 7 == 0 ? '\n' : ' ');
    if (rng() % 50 == 0) out.push_back(std::uint8_t('0' + rng() % 10));
  }
  out.resize(n);
  return out;
}

std::vector<std::uint8_t> RandomData(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> out(n);
  for (auto& b : out) b = std::uint8_t(rng());
  return out;
}

std::vector<std::uint8_t> BinaryData(std::size_t n) {
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = std::uint8_t((i % 17 == 0) ? i >> 3 : (i * i) >> 5);
  return out;
}

std::vector<std::uint8_t> Compress(const std::vector<std::uint8_t>& in, int level) {
  std::vector<std::uint8_t> out;
  std::int32_t outSize = 0;
  PPMCompressBuffer(in.data(), std::int32_t(in.size()), out, level, outSize);
  EXPECT_EQ(std::size_t(outSize), out.size());
  return out;
}

std::vector<std::uint8_t> Decompress(const std::vector<std::uint8_t>& in, std::int32_t expected) {
  std::vector<std::uint8_t> out;
  std::int32_t outSize = expected;
  PPMDecompressBuffer(in.data(), std::int32_t(in.size()), out, outSize);
  EXPECT_EQ(std::size_t(outSize), out.size());
  return out;
}

std::uint32_t HeaderOf(const std::vector<std::uint8_t>& s) {
  return std::uint32_t(s[0]) | (std::uint32_t(s[1]) << 8) | (std::uint32_t(s[2]) << 16) |
         (std::uint32_t(s[3]) << 24);
}

TEST(NRDPPM, HeaderWordFollowsLevelTable) {
  EXPECT_EQ(nrd::PPMHeaderWord(4, 7), 0x6063u);
  const std::vector<std::uint8_t> one = {'x'};
  struct Case {
    int level;
    int order;
    int mb;
  };
  const Case cases[] = {{0, 2, 2},  {1, 2, 2},  {2, 3, 3},  {3, 4, 7},    {4, 5, 16},  {5, 7, 22},
                        {6, 8, 25}, {7, 10, 40}, {8, 13, 100}, {9, 16, 100}, {12, 16, 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    auto s = Compress(one, c.level);
    EXPECT_EQ(HeaderOf(s), nrd::PPMHeaderWord(c.order, c.mb));
    EXPECT_EQ(HeaderOf(s) >> 12, 6u);
    EXPECT_EQ(Decompress(s, 1), one);
  }
  // One byte: header, the coder's bytes for the byte and the end symbol, and the 4-byte flush.
  auto s = Compress(one, 3);
  EXPECT_GE(s.size(), 8u);
  EXPECT_LE(s.size(), 12u);
}

TEST(NRDPPM, RoundTripsEveryLevelOnTextBinaryAndNoise) {
  const std::vector<std::vector<std::uint8_t>> inputs = {
      TextData(40000, 1), BinaryData(30000), RandomData(20000, 2), std::vector<std::uint8_t>(5000, 0),
      std::vector<std::uint8_t>{0xFF, 0x00}};
  for (int level = 1; level <= 9; ++level) {
    for (std::size_t k = 0; k < inputs.size(); ++k) {
      SCOPED_TRACE(testing::Message() << "level " << level << " input " << k);
      auto packed = Compress(inputs[k], level);
      EXPECT_EQ(Decompress(packed, std::int32_t(inputs[k].size())), inputs[k]);
    }
  }
  // Text compresses well; noise costs at most a few percent.
  auto text = TextData(40000, 1);
  EXPECT_LT(Compress(text, 6).size(), text.size() / 3);
  auto noise = RandomData(20000, 2);
  EXPECT_LT(Compress(noise, 6).size(), noise.size() + noise.size() / 20 + 50);
}

TEST(NRDPPM, ExhaustedModelRestartsAndStillRoundTrips) {
  // Several MB of varied text at the smallest memory (2 MB) forces many restarts.
  std::vector<std::uint8_t> big = TextData(3 << 20, 7);
  auto noise = RandomData(300000, 8);
  big.insert(big.begin() + 1000000, noise.begin(), noise.end());
  auto packed = Compress(big, 1);
  EXPECT_EQ(Decompress(packed, std::int32_t(big.size())), big);
}

TEST(NRDPPM, RejectsBadHeadersSizesAndDamage) {
  auto text = TextData(5000, 3);
  auto packed = Compress(text, 3);

  std::vector<std::uint8_t> out;
  std::int32_t size = 0;
  try {
    PPMDecompressBuffer(packed.data(), std::int32_t(packed.size()), out, size);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "PPM DecpmpressBuf: OutSize must be set");
  }

  auto variantH = packed;
  variantH[1] = std::uint8_t((variantH[1] & 0x0F) | 0x70);
  size = 5000;
  EXPECT_THROW(PPMDecompressBuffer(variantH.data(), std::int32_t(variantH.size()), out, size),
               std::runtime_error);

  // Only the variant letter of the header's upper half decides: bits 16-31 are not part of the
  // start-up, so a stream with them set still decodes.
  auto highBits = packed;
  highBits[2] = 0xA5;
  highBits[3] = 0x5A;
  size = 5000;
  PPMDecompressBuffer(highBits.data(), std::int32_t(highBits.size()), out, size);
  EXPECT_EQ(out, text);

  // Expecting fewer bytes than the stream holds fails instead of writing past the buffer.
  size = 4999;
  EXPECT_THROW(PPMDecompressBuffer(packed.data(), std::int32_t(packed.size()), out, size), std::runtime_error);
  EXPECT_EQ(size, 0);

  // Every single-byte damage and every cut ends in a result or a clean failure, never a crash.
  for (std::size_t i = 4; i < packed.size(); i += 7) {
    auto bad = packed;
    bad[i] ^= 0x5A;
    size = 5000;
    try {
      PPMDecompressBuffer(bad.data(), std::int32_t(bad.size()), out, size);
      EXPECT_LE(size, 5000);
    } catch (const std::runtime_error&) {
    }
  }
  for (std::size_t cut : {4u, 5u, 9u, 100u}) {
    size = 5000;
    try {
      PPMDecompressBuffer(packed.data(), std::int32_t(cut), out, size);
    } catch (const std::runtime_error&) {
    }
  }
}

}  // namespace
