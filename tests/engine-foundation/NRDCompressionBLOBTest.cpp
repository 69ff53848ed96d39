// Compressed BLOB stream: block layout checked by an independent parser, appends, gaps, cuts,
// damaged blocks, cut chains with and without repair, hostile descriptors, raw BLOBs.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/engine-foundation/EngineTestUtil.h"
#include "engine/foundation/NRDCompression.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDStreams.h"

namespace {

using namespace nrd;

std::vector<std::uint8_t> Data(std::size_t n, std::uint32_t seed) {
  static const char* words[] = {"Иван", "Petrov", "born", "died", "Kyiv", "@I12@", "FAMC", "1 NAME", "2 DATE",
                                "ABT",  "Mariya", "of",   "\r\n"};
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> out;
  out.reserve(n + 32);
  while (out.size() < n) {
    const std::string w = words[rng() % 13];
    out.insert(out.end(), w.begin(), w.end());
    const std::string num = std::to_string(rng() % 100000);
    out.insert(out.end(), num.begin(), num.end());
    out.push_back(' ');
  }
  out.resize(n);
  return out;
}

struct ParsedBlock {
  std::int64_t pos;
  std::int32_t compressed;
  std::int32_t plain;
  std::uint32_t crc;
  std::int64_t offset;
};

// Independent reading of the host bytes: little-endian fields at fixed offsets.
std::vector<ParsedBlock> ParseChain(const std::uint8_t* host, std::int64_t hostSize, std::int64_t start,
                                    std::int64_t numBlocks) {
  auto le = [&](std::int64_t at, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | host[at + i];
    return v;
  };
  std::vector<ParsedBlock> out;
  std::int64_t p = start;
  for (std::int64_t i = 0; i < numBlocks; ++i) {
    if (p + 20 > hostSize) {
      ADD_FAILURE() << "chain runs past the host";
      break;
    }
    ParsedBlock b{p, std::int32_t(le(p, 4)), std::int32_t(le(p + 4, 4)), std::uint32_t(le(p + 8, 4)),
                  std::int64_t(le(p + 12, 8))};
    out.push_back(b);
    p += b.offset;
  }
  return out;
}

std::vector<std::uint8_t> HostBytes(TNRDMemoryStream& host) {
  return std::vector<std::uint8_t>(host.Buffer(), host.Buffer() + host.Size());
}

TNRDBLOBDescriptor NewDescriptor(TNRDCompressionAlgorithm alg, std::uint8_t mode, std::int32_t blockSize = 0,
                                 std::int64_t start = 0) {
  TNRDBLOBDescriptor d;
  d.CompressionAlgorithm = alg;
  d.CompressionMode = mode;
  d.BlockSize = blockSize;
  d.StartPosition = start;
  return d;
}

std::vector<std::uint8_t> ReadAll(TNRDCompressedBLOBStream& s) {
  std::vector<std::uint8_t> out(std::size_t(s.Size()));
  s.Seek(0, TSeekOrigin::soBeginning);
  EXPECT_EQ(s.Read(out.data(), std::int32_t(out.size())), std::int32_t(out.size()));
  return out;
}

using enginetest::CodeOf;

class BLOBPerAlgorithm : public testing::TestWithParam<TNRDCompressionAlgorithm> {};

INSTANTIATE_TEST_SUITE_P(All, BLOBPerAlgorithm, testing::Values(acaZLIB, acaBZIP, acaPPM),
                         [](const auto& info) { return std::string(CompressionAlgorithmNames[info.param]); });

TEST_P(BLOBPerAlgorithm, MegabyteBlocksLaidOutBackToBackAndCutToSize) {
  const auto data = Data(2500000, 5);
  const std::int64_t start = 16;  // the owner's bytes before the BLOB stay untouched
  TNRDMemoryStream host;
  host.SetSize(start);
  std::memset(host.Buffer(), 0xAB, start);
  TNRDBLOBDescriptor d;
  {
    TNRDCompressedBLOBStream blob(host, NewDescriptor(GetParam(), 6, 0, start), true, false);
    EXPECT_EQ(blob.BLOBDescriptor().BlockSize, 1048576);
    EXPECT_EQ(blob.Write(data.data(), std::int32_t(data.size())), 2500000);
    d = blob.BLOBDescriptor();
    EXPECT_GT(blob.CompressionRate(), 50.0);
  }
  EXPECT_EQ(d.NumBlocks, 3);
  EXPECT_EQ(d.UncompressedSize, 2500000);
  const auto oneWrite = HostBytes(host);
  const auto blocks = ParseChain(oneWrite.data(), std::int64_t(oneWrite.size()), start, 3);
  ASSERT_EQ(blocks.size(), 3u);
  const std::int32_t plain[3] = {1048576, 1048576, 402848};
  std::int64_t expectPos = start;
  std::int64_t plainPos = 0;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(blocks[i].pos, expectPos);
    EXPECT_EQ(blocks[i].plain, plain[i]);
    EXPECT_EQ(blocks[i].offset, 20 + blocks[i].compressed);
    EXPECT_EQ(blocks[i].crc, CalcCRC32(0, data.data() + plainPos, plain[i]));
    expectPos += blocks[i].offset;
    plainPos += plain[i];
  }
  EXPECT_EQ(std::int64_t(oneWrite.size()), expectPos);
  EXPECT_EQ(oneWrite[0], 0xAB);
  EXPECT_EQ(oneWrite[start - 1], 0xAB);

  // Two writes give the same chain: the first partial block is completed and written again.
  TNRDMemoryStream host2;
  host2.SetSize(start);
  std::memset(host2.Buffer(), 0xAB, start);
  {
    TNRDCompressedBLOBStream blob(host2, NewDescriptor(GetParam(), 6, 0, start), true, false);
    EXPECT_EQ(blob.Write(data.data(), 1000000), 1000000);
    EXPECT_EQ(blob.Write(data.data() + 1000000, 1500000), 1500000);
    EXPECT_EQ(blob.BLOBDescriptor().NumBlocks, 3);
  }
  const auto twoWrites = HostBytes(host2);
  ASSERT_GE(twoWrites.size(), oneWrite.size());
  EXPECT_TRUE(std::equal(oneWrite.begin(), oneWrite.end(), twoWrites.begin()));

  // Reopened, it reads back; cut to 1,500,000 it keeps block 0 and rewrites block 1 in place.
  TNRDCompressedBLOBStream blob(host, d, false, false);
  EXPECT_EQ(ReadAll(blob), data);
  blob.SetSize(1500000);
  EXPECT_EQ(blob.BLOBDescriptor().NumBlocks, 2);
  EXPECT_EQ(blob.BLOBDescriptor().UncompressedSize, 1500000);
  const auto cut = HostBytes(host);
  const auto cutBlocks = ParseChain(cut.data(), std::int64_t(cut.size()), start, 2);
  ASSERT_EQ(cutBlocks.size(), 2u);
  EXPECT_EQ(cutBlocks[1].pos, blocks[1].pos);
  EXPECT_EQ(cutBlocks[1].plain, 451424);
  EXPECT_EQ(std::int64_t(cut.size()), cutBlocks[1].pos + cutBlocks[1].offset);
  TNRDCompressedBLOBStream reopened(host, blob.BLOBDescriptor(), false, false);
  EXPECT_EQ(ReadAll(reopened), std::vector<std::uint8_t>(data.begin(), data.begin() + 1500000));
}

TEST_P(BLOBPerAlgorithm, FlippedByteFailsOnlyTheReadsOfItsBlock) {
  const auto data = Data(3500, 9);
  TNRDMemoryStream host;
  TNRDBLOBDescriptor d;
  {
    TNRDCompressedBLOBStream blob(host, NewDescriptor(GetParam(), 5, 1000), true, false);
    blob.Write(data.data(), 3500);
    d = blob.BLOBDescriptor();
  }
  const auto bytes = HostBytes(host);
  const auto blocks = ParseChain(bytes.data(), std::int64_t(bytes.size()), 0, 4);
  ASSERT_EQ(blocks.size(), 4u);
  // Damage a byte inside block 2's compressed data.
  host.Buffer()[blocks[2].pos + 20 + blocks[2].compressed / 2] ^= 0x10;
  TNRDCompressedBLOBStream blob(host, d, false, false);
  std::vector<std::uint8_t> piece(1000);
  struct Case {
    std::int64_t at;
    std::int32_t count;
    bool fails;
  };
  for (const Case& c : {Case{0, 1000, false}, Case{500, 1000, false}, Case{1999, 2, true}, Case{2000, 1, true},
                        Case{3000, 500, false}, Case{2999, 1, true}}) {
    SCOPED_TRACE(c.at);
    blob.Seek(c.at, TSeekOrigin::soBeginning);
    if (c.fails) {
      const int code = CodeOf([&] { blob.Read(piece.data(), c.count); });
      EXPECT_TRUE(code == 10089 || code == 10087 || code == 10088) << code;
    } else {
      ASSERT_EQ(blob.Read(piece.data(), c.count), c.count);
      EXPECT_TRUE(std::equal(piece.begin(), piece.begin() + c.count, data.begin() + c.at));
    }
  }
}

TEST_P(BLOBPerAlgorithm, ChainCutInsideAHeaderFailsOrIsRepaired) {
  const auto data = Data(3500, 11);
  TNRDMemoryStream host;
  TNRDBLOBDescriptor d;
  {
    TNRDCompressedBLOBStream blob(host, NewDescriptor(GetParam(), 3, 1000), true, false);
    blob.Write(data.data(), 3500);
    d = blob.BLOBDescriptor();
  }
  const auto bytes = HostBytes(host);
  const auto blocks = ParseChain(bytes.data(), std::int64_t(bytes.size()), 0, 4);
  host.SetSize(blocks[2].pos + 10);
  EXPECT_EQ(CodeOf([&] { TNRDCompressedBLOBStream blob(host, d, false, false); }), 10082);
  TNRDCompressedBLOBStream repaired(host, d, false, true);
  EXPECT_EQ(repaired.BLOBDescriptor().NumBlocks, 2);
  EXPECT_EQ(repaired.Size(), 2000);
  EXPECT_EQ(ReadAll(repaired), std::vector<std::uint8_t>(data.begin(), data.begin() + 2000));
  // Cut inside the data of block 2: the complete blocks stay as well.
  host.SetSize(bytes.size());
  std::memcpy(host.Buffer(), bytes.data(), bytes.size());
  host.SetSize(blocks[2].pos + 25);
  EXPECT_EQ(CodeOf([&] { TNRDCompressedBLOBStream blob(host, d, false, false); }), 10082);
  TNRDCompressedBLOBStream repaired2(host, d, false, true);
  EXPECT_EQ(repaired2.Size(), 2000);
}

TEST(NRDCompressedBLOBStream, GapsAppendsInnerWritesAndCuts) {
  const auto data = Data(2500, 3);
  TNRDMemoryStream host;
  TNRDCompressedBLOBStream blob(host, NewDescriptor(acaZLIB, 6, 1000), true, false);
  ASSERT_EQ(blob.Write(data.data(), 2500), 2500);
  // A write inside the BLOB does nothing.
  blob.Seek(100, TSeekOrigin::soBeginning);
  EXPECT_EQ(blob.Write(data.data(), 10), 0);
  EXPECT_EQ(blob.Size(), 2500);
  // Ten bytes past the end, then one byte: ten zeros in between.
  blob.Seek(10, TSeekOrigin::soEnd);
  const std::uint8_t x = 0x7E;
  EXPECT_EQ(blob.Write(&x, 1), 1);
  EXPECT_EQ(blob.Size(), 2511);
  auto all = ReadAll(blob);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), all.begin()));
  EXPECT_EQ(std::vector<std::uint8_t>(all.begin() + 2500, all.begin() + 2510), std::vector<std::uint8_t>(10, 0));
  EXPECT_EQ(all[2510], 0x7E);
  // Seeking before the start gives 0; reading at the end gives nothing.
  EXPECT_EQ(blob.Seek(-5, TSeekOrigin::soBeginning), 0);
  blob.Seek(0, TSeekOrigin::soEnd);
  EXPECT_EQ(blob.Read(all.data(), 10), 0);
  // Cut on a block boundary keeps whole blocks; extending fills zeros across blocks.
  blob.SetSize(2000);
  EXPECT_EQ(blob.BLOBDescriptor().NumBlocks, 2);
  EXPECT_EQ(blob.Position(), 2000);
  blob.SetSize(4321);
  EXPECT_EQ(blob.BLOBDescriptor().NumBlocks, 5);
  all = ReadAll(blob);
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 2000, all.begin()));
  EXPECT_EQ(std::vector<std::uint8_t>(all.begin() + 2000, all.end()), std::vector<std::uint8_t>(2321, 0));
  TNRDCompressedBLOBStream reopened(host, blob.BLOBDescriptor(), false, false);
  EXPECT_EQ(ReadAll(reopened), all);
  EXPECT_EQ(CodeOf([&] { blob.SetSize(-1); }), 10098);
}

TEST(NRDCompressedBLOBStream, HostileDescriptorsAndHeadersAreRefusedBeforeAllocating) {
  const auto data = Data(3000, 4);
  TNRDMemoryStream host;
  TNRDBLOBDescriptor good;
  {
    TNRDCompressedBLOBStream blob(host, NewDescriptor(acaZLIB, 6, 1000), true, false);
    blob.Write(data.data(), 3000);
    good = blob.BLOBDescriptor();
  }
  struct Case {
    const char* name;
    std::function<void(TNRDBLOBDescriptor&)> change;
    int code;
  };
  const std::vector<Case> cases = {
      {"block size 0", [](auto& d) { d.BlockSize = 0; }, 10084},
      {"negative block size", [](auto& d) { d.BlockSize = -5; }, 10084},
      {"huge block size", [](auto& d) { d.BlockSize = 2000000000; }, 10084},
      {"negative block count", [](auto& d) { d.NumBlocks = -1; }, 10084},
      {"start beyond the host", [](auto& d) { d.StartPosition = 1 << 30; }, 10084},
      {"unknown algorithm", [](auto& d) { d.CompressionAlgorithm = 9; }, 10084},
      {"more blocks than the host holds", [](auto& d) { d.NumBlocks = 1LL << 40; }, 10082},
      {"block size smaller than the blocks", [](auto& d) { d.BlockSize = 999; }, 10084},
      {"block size larger than the blocks", [](auto& d) { d.BlockSize = 1001; }, 10084},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TNRDBLOBDescriptor d = good;
    c.change(d);
    EXPECT_EQ(CodeOf([&] { TNRDCompressedBLOBStream blob(host, d, false, false); }), c.code);
  }
  // Headers that point backwards or claim more data than the host holds.
  const auto bytes = HostBytes(host);
  struct HeaderCase {
    std::size_t at;
    std::uint8_t value;
    int code;
  };
  for (const HeaderCase& c : {HeaderCase{12, 0, 10084}, HeaderCase{3, 0x7F, 10082}, HeaderCase{3, 0x80, 10084},
                              HeaderCase{7, 0x80, 10084}, HeaderCase{19, 0xFF, 10084}}) {
    SCOPED_TRACE(c.at);
    std::memcpy(host.Buffer(), bytes.data(), bytes.size());
    host.Buffer()[c.at] = c.value;
    EXPECT_EQ(CodeOf([&] { TNRDCompressedBLOBStream blob(host, good, false, false); }), c.code);
    TNRDCompressedBLOBStream repaired(host, good, false, true);
    EXPECT_EQ(repaired.Size(), 0);
  }
}

TEST(NRDCompressedBLOBStream, RawBLOBLivesInTheHostAfterItsStart) {
  const auto data = Data(5000, 8);
  TNRDMemoryStream host;
  host.SetSize(100);
  TNRDBLOBDescriptor d;
  {
    TNRDCompressedBLOBStream blob(host, NewDescriptor(acaNone, 0, 0, 100), true, false);
    EXPECT_EQ(blob.Write(data.data(), 5000), 5000);
    d = blob.BLOBDescriptor();
    EXPECT_EQ(blob.CompressionRate(), 0.0);
  }
  EXPECT_EQ(d.UncompressedSize, 5000);
  EXPECT_EQ(host.Size(), 5100);
  EXPECT_EQ(std::memcmp(host.Buffer() + 100, data.data(), 5000), 0);
  TNRDCompressedBLOBStream blob(host, d, false, false);
  EXPECT_EQ(ReadAll(blob), data);
  std::uint8_t b;
  EXPECT_EQ(blob.Read(&b, 1), 0);
  blob.SetSize(300);
  EXPECT_EQ(host.Size(), 400);
  d.UncompressedSize = 5000;
  EXPECT_EQ(CodeOf([&] { TNRDCompressedBLOBStream short_(host, d, false, false); }), 10081);
  // Repair keeps what the host holds, so a later append lands at the host's end, not far beyond it.
  d.UncompressedSize = std::int64_t(1) << 40;
  TNRDCompressedBLOBStream repaired(host, d, false, true);
  EXPECT_EQ(repaired.Size(), 300);
  repaired.Seek(0, TSeekOrigin::soEnd);
  EXPECT_EQ(repaired.Write(data.data(), 10), 10);
  EXPECT_EQ(host.Size(), 410);
}

// A host that refuses to grow past a capacity: writes beyond it are short.
class FullHost : public TNRDMemoryStream {
 public:
  explicit FullHost(std::int64_t capacity) : capacity_(capacity) {}
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    const std::int64_t room = capacity_ - Position();
    if (room <= 0) return 0;
    return TNRDMemoryStream::Write(buffer, std::int32_t(std::min<std::int64_t>(room, count)));
  }

 private:
  std::int64_t capacity_;
};

TEST(NRDCompressedBLOBStream, ShortHostWritesRaiseTheirCodes) {
  const auto data = Data(3000, 12);
  struct Case {
    std::int64_t capacity;
    int code;
  };
  for (const Case& c : {Case{10, 10100}, Case{25, 10101}}) {
    SCOPED_TRACE(c.capacity);
    FullHost host(c.capacity);
    TNRDCompressedBLOBStream blob(host, NewDescriptor(acaZLIB, 6, 1000), true, false);
    EXPECT_EQ(CodeOf([&] { blob.Write(data.data(), 3000); }), c.code);
  }
}

TEST(NRDCompressedBLOBStream, BZIPModeZeroRefusesToWrite) {
  TNRDMemoryStream host;
  TNRDCompressedBLOBStream blob(host, NewDescriptor(acaBZIP, 0), true, false);
  EXPECT_EQ(blob.BLOBDescriptor().BlockSize, 102400);
  const std::uint8_t x[3] = {1, 2, 3};
  EXPECT_EQ(CodeOf([&] { blob.Write(x, 3); }), 10085);
  EXPECT_EQ(BLOBBlockSizeForMode(3), 524288);
  EXPECT_EQ(BLOBBlockSizeForMode(4), 1048576);
  EXPECT_EQ(BLOBBlockSizeForMode(9), 1572864);
}

}  // namespace

TEST(NRDCompressedBLOBStream, RawBLOBCutAndExtendedReadsZeros) {
  // A raw BLOB cut to 10 bytes and extended to 5,000 must not bring back the 990 bytes it lost.
  std::vector<std::uint8_t> data(1000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = std::uint8_t(i % 250 + 1);
  TNRDMemoryStream host;
  TNRDCompressedBLOBStream blob(host, NewDescriptor(acaNone, 0), true, false);
  ASSERT_EQ(blob.Write(data.data(), 1000), 1000);
  blob.SetSize(10);
  blob.SetSize(5000);
  const auto all = ReadAll(blob);
  ASSERT_EQ(all.size(), 5000u);
  EXPECT_TRUE(std::equal(all.begin(), all.begin() + 10, data.begin()));
  EXPECT_EQ(std::count(all.begin() + 10, all.end(), 0), 4990);
}

TEST(NRDCompressedBLOBStream, SeeksAndWritesNearTheLargestPositionRaise) {
  const std::int64_t maxPos = std::numeric_limits<std::int64_t>::max();
  std::uint8_t b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (TNRDCompressionAlgorithm alg : {acaNone, acaZLIB}) {
    SCOPED_TRACE(int(alg));
    TNRDMemoryStream host;
    host.SetSize(16);
    TNRDCompressedBLOBStream blob(host, NewDescriptor(alg, 1, 0, 16), true, false);
    ASSERT_EQ(blob.Write(b, 8), 8);
    const auto hostBefore = HostBytes(host);
    EXPECT_EQ(CodeOf([&] { blob.Seek(maxPos, TSeekOrigin::soEnd); }), kStreamPositionError);
    EXPECT_EQ(CodeOf([&] { blob.Seek(1, TSeekOrigin::soCurrent), blob.Seek(maxPos, TSeekOrigin::soCurrent); }),
              kStreamPositionError);
    // A position the BLOB accepts, but whose end (or host position) wraps: nothing is written.
    if (alg == acaNone) {
      EXPECT_EQ(CodeOf([&] { blob.Seek(maxPos - 4, TSeekOrigin::soBeginning); }), kStreamPositionError);
      EXPECT_EQ(CodeOf([&] { blob.Seek(maxPos - 100, TSeekOrigin::soBeginning); }), 0);
      EXPECT_EQ(CodeOf([&] { blob.Write(b, 8); }), kStreamPositionError);
    } else {
      EXPECT_EQ(CodeOf([&] { blob.Seek(maxPos - 4, TSeekOrigin::soBeginning); }), 0);
      EXPECT_EQ(CodeOf([&] { blob.Write(b, 8); }), kStreamPositionError);
    }
    EXPECT_EQ(HostBytes(host), hostBefore);
    EXPECT_EQ(blob.Size(), 8);
  }
}

TEST(NRDCompressedBLOBStream, PositionsAndSizesPastTheLimitAreRefusedBeforeAnyWork) {
  // A gap far past the end would be filled block by block for years; it is refused at once, and
  // the value keeps what it held.
  const std::int64_t maxPos = std::numeric_limits<std::int64_t>::max();
  for (TNRDCompressionAlgorithm alg : {acaNone, acaZLIB}) {
    TNRDMemoryStream host;
    TNRDCompressedBLOBStream blob(host, NewDescriptor(alg, 6, 1000), true, false);
    ASSERT_EQ(blob.Write("ABCDEFGH", 8), 8);
    for (std::int64_t position : {std::int64_t(1) << 50, std::int64_t(1) << 40, maxPos - 4,
                                  kMaxBLOBSize - 1}) {
      blob.Seek(position, TSeekOrigin::soBeginning);
      EXPECT_EQ(CodeOf([&] { blob.Write("xy", 2); }), kStreamPositionError) << alg << " " << position;
      EXPECT_EQ(blob.Size(), 8);
    }
    for (std::int64_t size : {maxPos, std::int64_t(1) << 50, kMaxBLOBSize + 1})
      EXPECT_EQ(CodeOf([&] { blob.SetSize(size); }), kStreamPositionError) << alg << " " << size;
    EXPECT_EQ(blob.Size(), 8);
    std::vector<std::uint8_t> back = ReadAll(blob);
    EXPECT_EQ(std::string(back.begin(), back.end()), "ABCDEFGH") << alg;
  }
}
