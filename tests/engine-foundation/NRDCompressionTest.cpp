// Compression dispatch: round trips of every algorithm and mode, refusals, bounded and failing
// decompression, algorithm names.
#include "engine/foundation/NRDCompression.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace nrd;

std::vector<std::uint8_t> Text(std::size_t n) {
  const std::string line = "0 @I1@ INDI\r\n1 NAME Иван /Петров/\r\n1 BIRT\r\n2 DATE ABT 1885\r\n2 PLAC Kyiv\r\n";
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; out.size() < n; ++i) {
    out.insert(out.end(), line.begin(), line.end());
    const std::string num = std::to_string(i * 7919 % 10007);
    out.insert(out.end(), num.begin(), num.end());
  }
  out.resize(n);
  return out;
}

std::vector<std::uint8_t> Noise(std::size_t n) {
  std::mt19937 rng(42);
  std::vector<std::uint8_t> out(n);
  for (auto& b : out) b = std::uint8_t(rng());
  return out;
}

std::vector<std::uint8_t> Binary(std::size_t n) {
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = std::uint8_t(i % 251 < 100 ? 0 : (i * 31) >> 4);
  return out;
}

std::vector<std::uint8_t> Pack(TNRDCompressionAlgorithm alg, int mode, const std::vector<std::uint8_t>& in) {
  std::vector<std::uint8_t> out;
  std::int32_t size = 0;
  EXPECT_TRUE(CompressBuffer(alg, std::uint8_t(mode), in.data(), std::int32_t(in.size()), out, size));
  EXPECT_EQ(std::size_t(size), out.size());
  return out;
}

TEST(NRDCompression, EveryAlgorithmAndModeRoundTrips) {
  const std::vector<std::vector<std::uint8_t>> inputs = {Text(30000), Binary(20000), Noise(10000), {7}};
  for (auto alg : {acaZLIB, acaBZIP, acaPPM}) {
    for (int mode = 0; mode <= 9; ++mode) {
      for (std::size_t k = 0; k < inputs.size(); ++k) {
        SCOPED_TRACE(testing::Message() << "alg " << int(alg) << " mode " << mode << " input " << k);
        const auto& in = inputs[k];
        std::vector<std::uint8_t> packed;
        std::int32_t size = 123;
        const bool ok = CompressBuffer(alg, std::uint8_t(mode), in.data(), std::int32_t(in.size()), packed, size);
        if (alg == acaBZIP && mode == 0) {  // bzip2 refuses a block size of 0
          EXPECT_FALSE(ok);
          EXPECT_EQ(size, 0);
          continue;
        }
        ASSERT_TRUE(ok);
        ASSERT_EQ(std::size_t(size), packed.size());
        for (std::int32_t expected : {std::int32_t(in.size()), std::int32_t(0)}) {
          if (alg == acaPPM && expected == 0) continue;
          std::vector<std::uint8_t> plain;
          std::int32_t plainSize = expected;
          ASSERT_TRUE(DecompressBuffer(alg, packed.data(), size, plain, plainSize));
          EXPECT_EQ(plain, in);
          EXPECT_EQ(std::size_t(plainSize), in.size());
        }
      }
    }
  }
}

TEST(NRDCompression, StoredZlibIsSlightlyLongerThanItsInput) {
  const auto in = Text(5000);
  const auto packed = Pack(acaZLIB, 0, in);
  EXPECT_GT(packed.size(), in.size());
  EXPECT_LT(packed.size(), in.size() + 20);
  EXPECT_EQ(packed[0], 0x78);  // zlib header, window bits 15
}

TEST(NRDCompression, RefusesWithoutAllocating) {
  const std::vector<std::uint8_t> in = {1, 2, 3};
  struct Case {
    TNRDCompressionAlgorithm alg;
    std::int32_t size;
  };
  for (const Case& c : {Case{acaNone, 3}, Case{acaZLIB, 0}, Case{TNRDCompressionAlgorithm(4), 3},
                        Case{TNRDCompressionAlgorithm(255), 3}}) {
    std::vector<std::uint8_t> out;
    std::int32_t size = 77;
    EXPECT_FALSE(CompressBuffer(c.alg, 6, in.data(), c.size, out, size));
    EXPECT_EQ(size, 0);
    EXPECT_TRUE(out.empty());
    size = 3;
    EXPECT_FALSE(DecompressBuffer(c.alg, in.data(), c.size, out, size));
    EXPECT_EQ(size, 0);
  }
}

// A zlib stream made with a preset dictionary.
std::vector<std::uint8_t> WithDictionary(const std::vector<std::uint8_t>& in) {
  z_stream zs{};
  deflateInit(&zs, 6);
  const char dict[] = "INDI NAME BIRT DATE PLAC";
  deflateSetDictionary(&zs, reinterpret_cast<const Bytef*>(dict), sizeof dict);
  std::vector<std::uint8_t> out(in.size() + 1000);
  zs.next_in = const_cast<Bytef*>(in.data());
  zs.avail_in = uInt(in.size());
  zs.next_out = out.data();
  zs.avail_out = uInt(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

TEST(NRDCompression, DamagedShortAndOversizedStreamsFailCleanly) {
  const auto text = Text(50000);
  const auto zeros = std::vector<std::uint8_t>(4 << 20, 0);
  struct Case {
    const char* name;
    TNRDCompressionAlgorithm alg;
    std::vector<std::uint8_t> stream;
    std::int32_t expected;
  };
  std::vector<Case> cases;
  for (auto alg : {acaZLIB, acaBZIP, acaPPM}) {
    const auto packed = Pack(alg, 6, text);
    cases.push_back({"cut short", alg, {packed.begin(), packed.begin() + packed.size() / 2}, 50000});
    cases.push_back({"fewer bytes expected than held", alg, packed, 49999});
    const auto bomb = Pack(alg, 9, zeros);
    cases.push_back({"bomb against a small bound", alg, bomb, 1000});
    auto flipped = packed;
    flipped[flipped.size() / 3] ^= 0x40;
    if (alg != acaPPM) cases.push_back({"flipped byte", alg, flipped, 50000});
  }
  cases.push_back({"preset dictionary", acaZLIB, WithDictionary(text), 50000});
  cases.push_back({"preset dictionary, size unknown", acaZLIB, WithDictionary(text), 0});
  const auto zpacked = Pack(acaZLIB, 6, text);
  cases.push_back({"cut short, size unknown", acaZLIB, {zpacked.begin(), zpacked.begin() + 100}, 0});
  cases.push_back({"PPM without a size", acaPPM, Pack(acaPPM, 6, text), 0});
  cases.push_back({"PPM header only", acaPPM, {0x63, 0x60, 0, 0}, 10});
  cases.push_back({"garbage", acaBZIP, {'B', 'Z', 'h', '9', 1, 2, 3}, 0});
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << " alg " << int(c.alg));
    std::vector<std::uint8_t> out;
    std::int32_t size = c.expected;
    EXPECT_FALSE(DecompressBuffer(c.alg, c.stream.data(), std::int32_t(c.stream.size()), out, size));
    EXPECT_EQ(size, 0);
    EXPECT_TRUE(out.empty());
  }
  // The failed ZLIB calls left their reason.
  EXPECT_FALSE(GetLastCompressionError().empty());
}

TEST(NRDCompression, SizeExactlyAtTheBoundSucceeds) {
  for (std::size_t n : {1u, 255u, 256u, 65536u, 300000u}) {
    const auto in = Noise(n);
    for (auto alg : {acaZLIB, acaBZIP, acaPPM}) {
      SCOPED_TRACE(testing::Message() << n << " alg " << int(alg));
      const auto packed = Pack(alg, 1, in);
      std::vector<std::uint8_t> out;
      std::int32_t size = std::int32_t(n);
      ASSERT_TRUE(DecompressBuffer(alg, packed.data(), std::int32_t(packed.size()), out, size));
      EXPECT_EQ(out, in);
    }
  }
}

TEST(NRDCompression, AlgorithmNames) {
  struct Case {
    const char* name;
    TNRDCompressionAlgorithm alg;
  };
  for (const Case& c : {Case{"zlib", acaZLIB}, Case{"ZLIB", acaZLIB}, Case{"Bzip", acaBZIP}, Case{"ppm", acaPPM},
                        Case{"NONE", acaNone}, Case{"LZMA", acaNone}, Case{"", acaNone}, Case{"zlib ", acaNone}}) {
    EXPECT_EQ(GetCompressionAlgorithmByName(c.name), c.alg) << c.name;
  }
}

}  // namespace
