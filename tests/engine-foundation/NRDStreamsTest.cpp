#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tests/engine-foundation/EngineTestUtil.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDStreams.h"

using namespace nrd;

namespace {

using enginetest::ExpectNRD;

std::vector<std::uint8_t> Pattern(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return v;
}

std::vector<std::uint8_t> Contents(TStream& s) {
  std::int64_t pos = s.Position();
  std::vector<std::uint8_t> v(static_cast<std::size_t>(s.Size()));
  s.SetPosition(0);
  if (!v.empty()) {
    EXPECT_EQ(s.Read(v.data(), static_cast<std::int32_t>(v.size())), static_cast<std::int32_t>(v.size()));
  }
  s.SetPosition(pos);
  return v;
}

// A stream that accepts at most `limit` bytes in all.
class ShortStream : public TNRDMemoryStream {
 public:
  explicit ShortStream(std::int64_t limit) : limit_(limit) {}
  std::int32_t Write(const void* b, std::int32_t n) override {
    std::int32_t allowed = static_cast<std::int32_t>(std::max<std::int64_t>(0, std::min<std::int64_t>(n, limit_ - Size())));
    return allowed > 0 ? TNRDMemoryStream::Write(b, allowed) : 0;
  }

 private:
  std::int64_t limit_;
};

}  // namespace

TEST(NRDStreams, Crc32CheckValues) {
  const char* check = "123456789";
  // The usual CRC-32 is ours started from all ones and inverted at the end.
  EXPECT_EQ(~CalcCRC32(0xFFFFFFFFu, check, 9), 0xCBF43926u);
  EXPECT_EQ(CalcCRC32(0, "abc", 3), 0xCA6598D0u);
  EXPECT_EQ(CalcCRC32(0x12345678u, "abc", 0), 0x12345678u);
  // The table and the fast routine agree, also when chained.
  auto data = Pattern(1000);
  std::uint32_t byTable = 0x1234u;
  for (std::uint8_t b : data) byTable = CRC32Table[(byTable ^ b) & 0xFF] ^ (byTable >> 8);
  EXPECT_EQ(CalcCRC32(0x1234u, data.data(), 1000), byTable);
  EXPECT_EQ(CalcCRC32(CalcCRC32(0x1234u, data.data(), 300), data.data() + 300, 700), byTable);
  EXPECT_EQ(CRC32Table[1], 0x77073096u);
}

TEST(NRDStreams, MemoryStreamGrowthDoublesAndShrinkKeeps) {
  TNRDMemoryStream s;
  std::vector<std::int32_t> allocations;
  for (int i = 0; i < 12; ++i) {
    std::uint8_t b = static_cast<std::uint8_t>(i);
    ASSERT_EQ(s.Write(&b, 1), 1);
    if (allocations.empty() || allocations.back() != s.AllocatedBufferSize()) allocations.push_back(s.AllocatedBufferSize());
  }
  EXPECT_EQ(allocations, (std::vector<std::int32_t>{1, 4, 10, 22}));
  s.SetSize(5);
  EXPECT_EQ(s.AllocatedBufferSize(), 22);
  EXPECT_EQ(s.Position(), 5);
  s.SetSize(9);  // uncovered bytes are zero, not the old content
  auto v = Contents(s);
  EXPECT_EQ(v, (std::vector<std::uint8_t>{0, 1, 2, 3, 4, 0, 0, 0, 0}));
  s.SetSize(0);
  EXPECT_EQ(s.Buffer(), nullptr);
  EXPECT_EQ(s.AllocatedBufferSize(), 0);
  std::uint8_t three[3] = {1, 2, 3};
  s.SetPosition(0);
  EXPECT_EQ(s.Write(three, 3), 3);
  EXPECT_EQ(s.AllocatedBufferSize(), 3);
}

TEST(NRDStreams, MemoryStreamReadWriteEdges) {
  TNRDMemoryStream s(nullptr, 16);
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.AllocatedBufferSize(), 16);
  std::uint8_t buf[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(s.Write(buf, 8), 8);
  std::uint8_t out[8] = {};
  s.Seek(10, TSeekOrigin::soBeginning);
  EXPECT_EQ(s.Read(out, 4), 0);  // beyond the end
  s.Seek(-1, TSeekOrigin::soBeginning);
  EXPECT_EQ(s.Read(out, 4), 0);
  EXPECT_EQ(s.Write(buf, 4), 0);  // a negative position writes nothing
  EXPECT_EQ(s.Size(), 8);
  s.Seek(-3, TSeekOrigin::soEnd);
  EXPECT_EQ(s.Read(out, 8), 3);
  EXPECT_EQ(out[0], 6);
  s.Seek(0, TSeekOrigin::soBeginning);
  EXPECT_EQ(s.Read(out, 0), 0);
  // Growth past 2^31 - 1 bytes fails cleanly: it raises and writes nothing.
  s.Seek(std::int64_t{0x7FFFFFFF} - 2, TSeekOrigin::soBeginning);
  ExpectNRD([&] { s.Write(buf, 8); }, kStreamPositionError);
  EXPECT_EQ(s.Size(), 8);
  // A gap written past the end reads back as zeros.
  s.Seek(12, TSeekOrigin::soBeginning);
  EXPECT_EQ(s.Write(buf, 1), 1);
  auto v = Contents(s);
  EXPECT_EQ(v[9], 0);
  EXPECT_EQ(v[12], 1);
}

TEST(NRDStreams, MemoryStreamAdoptsABlock) {
  void* block = GlobalMemoryManager().GetMem(6);
  std::memcpy(block, "abcdef", 6);
  TNRDMemoryStream s(block);
  EXPECT_EQ(s.Size(), 6);
  EXPECT_EQ(s.AllocatedBufferSize(), 6);
  char out[7] = {};
  EXPECT_EQ(s.Read(out, 10), 6);
  EXPECT_STREQ(out, "abcdef");
  int local = 0;
  ExpectNRD([&] { TNRDMemoryStream bad(&local); }, 30005, "Invalid pointer");
}

TEST(NRDStreams, CheckedRoutinesRaiseWithTheCallersCode) {
  TNRDMemoryStream s;
  std::uint8_t buf[4] = {1, 2, 3, 4};
  WriteDataToStream(buf, 4, s, 10398);
  SetStreamPosition(s, 1, 1);
  std::uint8_t out[4];
  ExpectNRD([&] { ReadDataFromStream(out, 4, s, 10401); }, 10401,
            "Cannot read from stream. Position = 1, Stream size = 4, Block size = 4, Bytes Read = 3");
  ShortStream tiny(2);
  ExpectNRD([&] { WriteDataToStream(buf, 4, tiny, 10400); }, 10400,
            "Cannot write to stream. Position = 0, Stream size = 2, Block size = 4, Bytes Write = 2");
  TNRDFileStream* file = TNRDFileStream::CreateTemporary();
  ExpectNRD([&] { SetStreamPosition(*file, 10500, -5); }, 10500,
            "Cannot set stream position to -5. Position = 0, Size = 0");
  delete file;
}

TEST(NRDStreams, BlockCopiesRestorePositionsAndReportProgress) {
  auto data = Pattern(250);
  TNRDMemoryStream src;
  src.Write(data.data(), 250);
  src.SetPosition(17);
  src.SetBlockSize(100);
  std::vector<double> progress;
  src.OnProgress = [&](TNRDStream&, double p) { progress.push_back(p); };
  TNRDMemoryStream dst;
  dst.Write("XY", 2);
  src.SaveToStream(dst);
  EXPECT_EQ(src.Position(), 17);
  EXPECT_EQ(dst.Position(), 2);
  auto v = Contents(dst);
  ASSERT_EQ(v.size(), 252u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), v.begin() + 2));
  EXPECT_EQ(progress, (std::vector<double>{0, 40, 80, 100, 100}));

  TNRDMemoryStream part;
  part.SetBlockSize(64);
  part.LoadFromStreamWithPosition(src, 50, 130);
  EXPECT_EQ(part.Size(), 130);
  EXPECT_EQ(src.Position(), 17);
  auto p = Contents(part);
  EXPECT_TRUE(std::equal(p.begin(), p.end(), data.begin() + 50));

  src.SetBlockSize(0);
  ExpectNRD([&] { src.SaveToStream(dst); }, 10418, "Stream block size = 0 is not allowed");
  ExpectNRD([&] { src.LoadFromStream(dst); }, 10419);
  // A source shorter than asked for is a short read.
  part.SetBlockSize(64);
  ExpectNRD([&] { part.LoadFromStreamWithPosition(src, 200, 100); }, 10148, "Bytes Read = 50");
  ShortStream tiny(10);
  src.SetBlockSize(100);
  ExpectNRD([&] { src.SaveToStream(tiny); }, 10147);
}

TEST(NRDStreams, FileStreamCreateOpenAndErrors) {
  std::string name = GetTemporaryFileName();
  EXPECT_NE(name.find("/NRD"), std::string::npos);
  {
    TNRDFileStream f(name, fmCreate);
    EXPECT_EQ(f.Write("hello world", 11), 11);
    f.SetSize(5);
    EXPECT_EQ(f.Position(), 5);
    EXPECT_EQ(f.Size(), 5);
  }
  {
    TNRDMemoryStream m;
    m.LoadFromFile(name);
    EXPECT_EQ(Contents(m), (std::vector<std::uint8_t>{'h', 'e', 'l', 'l', 'o'}));
    TNRDFileStream ro(name, fmOpenRead | fmShareDenyWrite);
    EXPECT_EQ(ro.Write("x", 1), 0);  // a read-only stream writes nothing
    m.SaveToFile(name + ".copy");
    TNRDFileStream copy(name + ".copy", fmOpenRead);
    EXPECT_EQ(copy.Size(), 5);
  }
  std::remove((name + ".copy").c_str());
  std::remove(name.c_str());
  ExpectNRD([&] { TNRDFileStream f(name, fmOpenRead | fmShareDenyWrite); }, 10105,
            ("Cannot open file. FileName = " + name + ", Mode = 32").c_str());
  ExpectNRD([&] { TNRDFileStream f("/nonexistent-dir/x.db", fmCreate); }, 10104,
            "Cannot create file. FileName = /nonexistent-dir/x.db");
  // A temporary file made by name vanishes from the folder at once.
  {
    TNRDFileStream t(name, fmCreate, true);
    EXPECT_EQ(t.Write("abc", 3), 3);
    struct stat st{};
    EXPECT_NE(::stat(name.c_str(), &st), 0);
  }
}

TEST(NRDStreams, TemporaryStreamSpillsAboveTheLimit) {
  TNRDTemporaryStream t;
  auto chunk = Pattern(65536);
  for (int i = 0; i < 16; ++i) ASSERT_EQ(t.Write(chunk.data(), 65536), 65536);
  EXPECT_EQ(t.Size(), 1048576);
  EXPECT_TRUE(t.InMemory());
  t.Seek(1000, TSeekOrigin::soBeginning);
  std::uint8_t one = 0xEE;
  // An overwrite inside a full stream needs no more memory: it stays where it is.
  ASSERT_EQ(t.Write(&one, 1), 1);
  EXPECT_TRUE(t.InMemory());
  EXPECT_EQ(t.Position(), 1001);
  // The next byte at the end passes the limit and moves the stream, at its position.
  t.Seek(1048576, TSeekOrigin::soBeginning);
  ASSERT_EQ(t.Write(&one, 1), 1);
  EXPECT_FALSE(t.InMemory());
  EXPECT_EQ(t.Position(), 1048577);
  ASSERT_NE(t.FileStream(), nullptr);
  EXPECT_EQ(t.MemoryStream(), nullptr);
  struct stat st{};
  EXPECT_NE(::stat(t.FileName().c_str(), &st), 0);  // never visible by name
  t.Seek(0, TSeekOrigin::soEnd);
  ASSERT_EQ(t.Write(&one, 1), 1);
  EXPECT_EQ(t.Size(), 1048578);
  auto v = Contents(t);
  EXPECT_EQ(v[1000], 0xEE);
  EXPECT_EQ(v[1001], chunk[1001]);
  EXPECT_EQ(v[1048576], 0xEE);
  EXPECT_EQ(v[1048577], 0xEE);

  TNRDTemporaryStream kept(true);
  for (int i = 0; i < 17; ++i) ASSERT_EQ(kept.Write(chunk.data(), 65536), 65536);
  EXPECT_TRUE(kept.InMemory());
  EXPECT_EQ(kept.Size(), 17 * 65536);
}

TEST(NRDStreams, TemporaryStreamSpillsOnTheEndOfAWriteFarPastItsSize) {
  // One byte far past the end needs memory up to that byte, not size + 1: it must go to the file
  // instead of growing a memory block to the position (about 2 GB here before the mend).
  TNRDTemporaryStream t;
  std::uint8_t one = 0x5A;
  ASSERT_EQ(t.Write(&one, 1), 1);
  const std::int64_t farAway = std::int64_t(1536) << 20;
  t.Seek(farAway, TSeekOrigin::soBeginning);
  ASSERT_EQ(t.Write(&one, 1), 1);
  EXPECT_FALSE(t.InMemory());
  EXPECT_EQ(t.Size(), farAway + 1);
  EXPECT_EQ(t.Position(), farAway + 1);
  std::uint8_t back[2] = {0, 0};
  t.Seek(farAway - 1, TSeekOrigin::soBeginning);
  ASSERT_EQ(t.Read(back, 2), 2);
  EXPECT_EQ(back[0], 0);
  EXPECT_EQ(back[1], 0x5A);
  // A write just up to the limit stays in memory.
  TNRDTemporaryStream near;
  near.Seek(DefaultTemporaryStreamMemoryLimit - 1, TSeekOrigin::soBeginning);
  ASSERT_EQ(near.Write(&one, 1), 1);
  EXPECT_TRUE(near.InMemory());
  ASSERT_EQ(near.Write(&one, 1), 1);
  EXPECT_FALSE(near.InMemory());
  EXPECT_EQ(near.Size(), DefaultTemporaryStreamMemoryLimit + 1);
}

TEST(NRDStreams, MemoryStreamGrowthAfterAShrinkReadsZeros) {
  // Cut to 10 bytes, then grown inside and past the allocation: no old byte comes back.
  for (std::int64_t grown : {std::int64_t(500), std::int64_t(999), std::int64_t(1000), std::int64_t(5000)}) {
    TNRDMemoryStream s;
    auto data = Pattern(1000);
    for (auto& b : data) b |= 1;  // never zero, so every stale byte shows
    ASSERT_EQ(s.Write(data.data(), 1000), 1000);
    s.SetSize(10);
    s.SetSize(grown);
    auto v = Contents(s);
    ASSERT_EQ(v.size(), std::size_t(grown));
    EXPECT_TRUE(std::equal(v.begin(), v.begin() + 10, data.begin())) << grown;
    EXPECT_EQ(std::count(v.begin() + 10, v.end(), 0), grown - 10) << grown;
  }
  // The same through a write past the end after a cut.
  TNRDMemoryStream w;
  auto data = Pattern(1000);
  for (auto& b : data) b |= 1;
  ASSERT_EQ(w.Write(data.data(), 1000), 1000);
  w.SetSize(10);
  w.Seek(4999, TSeekOrigin::soBeginning);
  std::uint8_t one = 7;
  ASSERT_EQ(w.Write(&one, 1), 1);
  auto v = Contents(w);
  EXPECT_EQ(std::count(v.begin() + 10, v.end() - 1, 0), 4989);
}

TEST(NRDStreams, PositionsThatOverflowOrPassTheLimitRaiseAndWriteNothing) {
  TNRDMemoryStream s;
  std::uint8_t b[4] = {1, 2, 3, 4};
  ASSERT_EQ(s.Write(b, 4), 4);
  const std::int64_t maxPos = std::numeric_limits<std::int64_t>::max();
  struct Case {
    std::int64_t position;
    std::int32_t count;
  } cases[] = {{maxPos, 1}, {maxPos - 2, 4}, {maxPos - 3, 4}, {std::int64_t(1) << 40, 1},
               {std::numeric_limits<std::int32_t>::max(), 1}, {std::numeric_limits<std::int32_t>::max() - 2, 4}};
  for (const Case& c : cases) {
    s.Seek(c.position, TSeekOrigin::soBeginning);
    ExpectNRD([&] { s.Write(b, c.count); }, kStreamPositionError);
    EXPECT_EQ(s.Size(), 4) << c.position;
    EXPECT_EQ(s.Position(), c.position);
  }
  // Seeks whose sum overflows raise and keep the position.
  s.Seek(10, TSeekOrigin::soBeginning);
  ExpectNRD([&] { s.Seek(maxPos, TSeekOrigin::soCurrent); }, kStreamPositionError);
  ExpectNRD([&] { s.Seek(maxPos - 1, TSeekOrigin::soEnd); }, kStreamPositionError);
  EXPECT_EQ(s.Position(), 10);
  s.Seek(-20, TSeekOrigin::soBeginning);
  ExpectNRD([&] { s.Seek(std::numeric_limits<std::int64_t>::min(), TSeekOrigin::soCurrent); }, kStreamPositionError);
  EXPECT_EQ(s.Position(), -20);
  s.Seek(10, TSeekOrigin::soBeginning);
  // Just inside the limit is still a stream position like any other.
  EXPECT_EQ(s.Seek(-10, TSeekOrigin::soCurrent), 0);
  EXPECT_EQ(Contents(s), std::vector<std::uint8_t>(b, b + 4));
}

TEST(NRDStreams, TemporaryStreamKeepsOnePositionRuleInMemoryAndInItsFile) {
  // The same writes are refused the same way whether the stream still sits in memory or has
  // moved into its file: nothing lands elsewhere (position 0), and no huge sparse file appears.
  const std::int64_t maxPos = std::numeric_limits<std::int64_t>::max();
  const std::int64_t tooFar[] = {maxPos - 1, std::int64_t(1) << 62, std::int64_t(1) << 40,
                                 std::int64_t(std::numeric_limits<std::int32_t>::max())};
  for (bool spilled : {false, true}) {
    for (std::int64_t position : tooFar) {
      TNRDTemporaryStream t;
      auto head = Pattern(spilled ? DefaultTemporaryStreamMemoryLimit + 10 : 8);
      ASSERT_EQ(t.Write(head.data(), std::int32_t(head.size())), std::int32_t(head.size()));
      ASSERT_EQ(t.InMemory(), !spilled);
      t.Seek(position, TSeekOrigin::soBeginning);
      EXPECT_EQ(t.Position(), position) << spilled << " " << position;
      ExpectNRD([&] { t.Write("xy", 2); }, kStreamPositionError);
      EXPECT_EQ(t.Size(), std::int64_t(head.size())) << spilled << " " << position;
      EXPECT_EQ(Contents(t), head) << spilled << " " << position;
      ExpectNRD([&] { t.SetSize(position > maxPos - 2 ? maxPos : position + 2); }, kStreamPositionError);
      EXPECT_EQ(t.Size(), std::int64_t(head.size()));
      if (spilled) {
        struct stat st{};
        ASSERT_EQ(::fstat(t.FileStream()->Handle(), &st), 0);
        EXPECT_LT(st.st_size, std::int64_t(4) << 20) << position;
      }
    }
  }
  // A spilled stream reads and writes at far positions inside the limit like the memory one.
  TNRDTemporaryStream t;
  auto head = Pattern(DefaultTemporaryStreamMemoryLimit + 1);
  ASSERT_EQ(t.Write(head.data(), std::int32_t(head.size())), std::int32_t(head.size()));
  t.Seek(-5, TSeekOrigin::soBeginning);
  std::uint8_t b[2] = {1, 1};
  EXPECT_EQ(t.Write(b, 2), 0);
  EXPECT_EQ(t.Read(b, 2), 0);
  EXPECT_EQ(Contents(t), head);
}

TEST(NRDStreams, TemporaryStreamGrownBySizeMovesIntoItsFile) {
  // Memory is bounded by the limit however the stream grows: a size change past it moves the
  // stream into its file as a write would, keeping content and position.
  TNRDTemporaryStream t;
  ASSERT_EQ(t.Write("abc", 3), 3);
  t.SetSize(std::int64_t(64) << 20);
  EXPECT_FALSE(t.InMemory());
  EXPECT_EQ(t.Size(), std::int64_t(64) << 20);
  EXPECT_EQ(t.Position(), 3);
  t.Seek(0, TSeekOrigin::soBeginning);
  char back[4] = {};
  ASSERT_EQ(t.Read(back, 4), 4);
  EXPECT_EQ(std::string(back, 4), std::string("abc\0", 4));
  TNRDTemporaryStream kept(true);
  kept.SetSize(std::int64_t(2) << 20);
  EXPECT_TRUE(kept.InMemory());
  TNRDTemporaryStream small;
  small.SetSize(DefaultTemporaryStreamMemoryLimit);
  EXPECT_TRUE(small.InMemory());
}
