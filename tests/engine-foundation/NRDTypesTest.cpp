#include <gtest/gtest.h>

#include <vector>

#include "tests/engine-foundation/EngineTestUtil.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDStreams.h"
#include "engine/foundation/NRDTypes.h"

using namespace nrd;

namespace {

using enginetest::ExpectNRD;

std::vector<std::uint8_t> Bytes(std::initializer_list<int> v) {
  std::vector<std::uint8_t> r;
  for (int b : v) r.push_back(static_cast<std::uint8_t>(b));
  return r;
}

}  // namespace

TEST(NRDTypes, EnumerationOrdinals) {
  EXPECT_EQ(bftBFile, 25);
  EXPECT_EQ(bftLogical, 21);
  EXPECT_EQ(aftGuid, 36);
  EXPECT_EQ(aftTimeStamp, 28);
  EXPECT_EQ(doSQRT, 65);
  EXPECT_EQ(doCAST, 46);
  EXPECT_EQ(cmprBothNull, 5);
  EXPECT_EQ(ltX, 6);
  EXPECT_EQ(dtefSecond, 5);
  EXPECT_EQ(sizeof(TNRDBaseFieldType), 1u);
}

TEST(NRDTypes, RecordSerialisersWriteTheStoredLayouts) {
  std::uint8_t buf[32];
  TNRDPageItemID id{0x01020304, 0xA0B0};
  id.Encode(buf);
  EXPECT_EQ(std::vector<std::uint8_t>(buf, buf + 6), Bytes({4, 3, 2, 1, 0xB0, 0xA0}));
  EXPECT_EQ(TNRDPageItemID::Decode(buf), id);

  TNRDBLOBDescriptor d;
  d.BlockSize = 0x11223344;
  d.NumBlocks = 2;
  d.UncompressedSize = 0x0102030405060708;
  d.StartPosition = -1;
  d.CompressionAlgorithm = 1;
  d.CompressionMode = 9;
  d.Encode(buf);
  EXPECT_EQ(std::vector<std::uint8_t>(buf, buf + 32),
            Bytes({0x44, 0x33, 0x22, 0x11, 2, 0, 0, 0, 0, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1,
                   0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 9, 0, 0}));
  TNRDBLOBDescriptor back = TNRDBLOBDescriptor::Decode(buf);
  EXPECT_EQ(back.UncompressedSize, d.UncompressedSize);
  EXPECT_EQ(back.StartPosition, -1);
  EXPECT_EQ(back.CompressionMode, 9);

  TNRDCompressedStreamBlockHeader h{100, 200, 0xDEADBEEF, 0x1122334455667788};
  h.Encode(buf);
  EXPECT_EQ(std::vector<std::uint8_t>(buf, buf + 20),
            Bytes({100, 0, 0, 0, 200, 0, 0, 0, 0xEF, 0xBE, 0xAD, 0xDE, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}));
  TNRDCompressedStreamBlockHeader hb = TNRDCompressedStreamBlockHeader::Decode(buf);
  EXPECT_EQ(hb.Crc32, 0xDEADBEEFu);
  EXPECT_EQ(hb.OffsetToNextHeader, 0x1122334455667788);

  TNRDPartialTemporaryBLOBDescriptor p{3, 4, 5};
  p.Encode(buf);
  EXPECT_EQ(std::vector<std::uint8_t>(buf, buf + 20), Bytes({3, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0}));
  TNRDDateTime dt{693594, 43200000};
  dt.Encode(buf);
  EXPECT_EQ(TNRDDateTime::Decode(buf).Date, 693594);
  EXPECT_EQ(TNRDDateTime::Decode(buf).Time, 43200000);
}

TEST(NRDTypes, IntegerArrayGrowthAndShrink) {
  TNRDIntegerArray a(0, 10, 100);
  a.Append(7);
  EXPECT_EQ(a.AllocItemCount, 20);
  for (int i = 1; i < 21; ++i) a.Append(i);
  EXPECT_EQ(a.ItemCount, 21);
  EXPECT_EQ(a.AllocItemCount, 60);
  for (int i = 0; i < 200; ++i) a.Append(i);
  EXPECT_EQ(a.AllocBy, 100);  // the step never exceeds the cap
  // Deleting follows the shrink rule of SetSize: a small gap keeps the allocation.
  TNRDIntegerArray b(0, 10, 100);
  for (int i = 0; i < 15; ++i) b.Append(i);
  b.Delete(0);
  EXPECT_EQ(b.ItemCount, 14);
  EXPECT_EQ(b.AllocItemCount, 20);
  EXPECT_EQ(b[0], 1);
  for (int i = 0; i < 14; ++i) b.Delete(b.ItemCount - 1);
  EXPECT_EQ(b.AllocItemCount, 0);
  EXPECT_TRUE(b.Items.empty());
  // Shrinking far enough cuts the allocation and doubles the threshold.
  TNRDIntegerArray c(0, 10, 100);
  c.SetSize(100);
  c.SetSize(50);
  EXPECT_EQ(c.AllocItemCount, 50);
  EXPECT_EQ(c.deAllocBy, 20);
  // Items that come back into use are 0.
  c[49] = 5;
  c.SetSize(40);
  c.SetSize(50);
  EXPECT_EQ(c[49], 0);
  EXPECT_THROW(c[50], ERangeError);
  EXPECT_THROW(c.Delete(-1), ERangeError);
}

TEST(NRDTypes, IntegerArrayEditing) {
  TNRDIntegerArray a(0, 4, 16);
  a.Insert(0, 5);          // [5]
  a.Insert(10, 9);         // beyond the end appends: [5 9]
  a.Insert(1, 7);          // [5 7 9]
  a.Insert(0, 1);          // [1 5 7 9]
  EXPECT_EQ(std::vector<std::int32_t>(a.Items.begin(), a.Items.begin() + a.ItemCount), (std::vector<std::int32_t>{1, 5, 7, 9}));
  a.MoveTo(0, 3);          // [5 7 9 1]
  a.MoveTo(3, 2);          // neighbours swap: [5 7 1 9]
  a.MoveTo(3, 0);          // [9 5 7 1]
  EXPECT_EQ(std::vector<std::int32_t>(a.Items.begin(), a.Items.begin() + a.ItemCount), (std::vector<std::int32_t>{9, 5, 7, 1}));
  EXPECT_EQ(a.IndexOf(7), 2);
  EXPECT_FALSE(a.IsValueExists(42));
  std::vector<std::int32_t> out;
  a.CopyTo(out, 1, 10);
  EXPECT_EQ(out, (std::vector<std::int32_t>{5, 7, 1}));
  TNRDIntegerArray b(3, 4, 16);
  b.Assign(a);
  EXPECT_EQ(b.ItemCount, 4);
  EXPECT_EQ(b[0], 9);
}

TEST(NRDTypes, BlockHeadersFindPosition) {
  TNRDCompressedStreamBlockHeadersArray a;
  EXPECT_EQ(a.FindPosition(5), 0);
  a.AppendItem({}, 0);
  a.AppendItem({}, 100);
  a.AppendItem({}, 250);
  EXPECT_EQ(a.AllocItemCount, 20);
  const std::pair<std::int64_t, std::int64_t> cases[] = {{0, 0}, {99, 0}, {100, 1}, {249, 1}, {250, 2}, {10000, 2}, {-5, 0}};
  for (auto [pos, index] : cases) EXPECT_EQ(a.FindPosition(pos), index) << pos;
  a.SetSize(0);
  EXPECT_TRUE(a.Items.empty() && a.Positions.empty());
}

TEST(NRDTypes, BitsArrayRankAndSelect) {
  TNRDBitsArray b;
  b.SetSize(10);
  EXPECT_EQ(GlobalMemoryManager().GetMemoryBufferSize(b.Bits()), 2);
  b.SetBit(9, true);
  EXPECT_EQ(b.Bits()[1], 0x02);
  b.SetBit(9, true);
  EXPECT_EQ(b.NonZeroBitCount(), 1);
  b.SetBit(1, true);
  b.SetBit(4, true);
  EXPECT_EQ(b.GetBitNoByBitPosition(0), 1);
  EXPECT_EQ(b.GetBitNoByBitPosition(2), 9);
  const std::pair<int, int> ranks[] = {{0, -1}, {1, 0}, {3, 0}, {4, 1}, {5, 1}, {8, 1}, {9, 2}};
  for (auto [bit, rank] : ranks) EXPECT_EQ(b.GetBitPositionByBitNo(bit), rank) << bit;
  ExpectNRD([&] { b.GetBitNoByBitPosition(3); }, 10428, "Invalid bit no = 3, number of bits = 3");
  ExpectNRD([&] { b.GetBitPositionByBitNo(10); }, 10429, "Invalid bit no = 10, number of bits = 10");
  ExpectNRD([&] { b.GetBit(10); }, 10394);
  ExpectNRD([&] { b.SetBit(-1, true); }, 10395);
  std::int32_t found = -1;
  EXPECT_TRUE(b.FindBit(false, found));
  EXPECT_EQ(found, 0);
  EXPECT_TRUE(b.Find(false, true, 4, found));
  EXPECT_EQ(found, 9);
  EXPECT_TRUE(b.Find(true, false, 0, found));
  EXPECT_EQ(found, 9);
  EXPECT_FALSE(b.Find(false, true, 9, found));
  b.SetAllBits();
  EXPECT_EQ(b.NonZeroBitCount(), 10);
  EXPECT_EQ(b.GetBitNoByBitPosition(7), 7);
  EXPECT_FALSE(b.FindBit(false, found));
}

TEST(NRDTypes, BitsArrayFindMatchesABitByBitWalkFromEveryStart) {
  // The search skips empty stretches a word at a time: hits at byte and word edges, at the first
  // and last bit, lone bits far apart and a last byte only partly in use must all be found.
  struct Case {
    std::int32_t size;
    std::vector<std::int32_t> set;
  };
  const Case cases[] = {
      {1, {0}},          {7, {}},          {8, {7}},
      {9, {8}},          {63, {0, 62}},    {64, {63}},
      {65, {64}},        {130, {1, 64, 127, 128}},
      {200, {70}},       {1000, {5, 511, 512, 999}},
      {1001, {1000}},    {333, {8, 15, 16, 63, 64, 71, 72, 200, 256, 332}},
  };
  for (const Case& c : cases) {
    TNRDBitsArray b;
    b.SetSize(c.size);
    for (std::int32_t bit : c.set) b.SetBit(bit, true);
    auto walk = [&](std::int64_t from, int step) -> std::int32_t {
      for (std::int64_t i = from; i >= 0 && i < c.size; i += step)
        if (b.GetBit(static_cast<std::int32_t>(i))) return static_cast<std::int32_t>(i);
      return -1;
    };
    for (bool forward : {true, false}) {
      const int step = forward ? 1 : -1;
      std::int32_t found = -1;
      const std::int32_t first = walk(forward ? 0 : c.size - 1, step);
      EXPECT_EQ(b.Find(true, forward, 0, found), first >= 0) << c.size << " restart " << forward;
      if (first >= 0) {
        EXPECT_EQ(found, first) << c.size;
      }
      for (std::int32_t cur = -2; cur <= c.size + 1; ++cur) {
        const std::int32_t expected = walk(static_cast<std::int64_t>(cur) + step, step);
        found = -1;
        const bool ok = b.Find(false, forward, cur, found);
        EXPECT_EQ(ok, expected >= 0) << c.size << " from " << cur << " forward " << forward;
        if (ok) {
          EXPECT_EQ(found, expected) << c.size << " from " << cur << " forward " << forward;
        }
      }
    }
  }
  TNRDBitsArray empty;
  std::int32_t found = -1;
  EXPECT_FALSE(empty.Find(true, true, 0, found));
  EXPECT_FALSE(empty.Find(true, false, 0, found));
}

TEST(NRDTypes, BitsArrayCountsSetBitsBelowABitForVisibleAndHiddenRecords) {
  // Visible records 0, 3 and 4 of five: a record's number among the visible ones is 1 + the set
  // bits below it, for a hidden record the number of the next visible one.
  TNRDBitsArray b;
  b.SetSize(5);
  for (int bit : {0, 3, 4}) b.SetBit(bit, true);
  const std::pair<int, int> recNos[] = {{0, 1}, {1, 2}, {2, 2}, {3, 2}, {4, 3}};
  for (auto [bit, recNo] : recNos) EXPECT_EQ(1 + b.CountSetBitsBelow(bit), recNo) << bit;
  EXPECT_EQ(b.CountSetBitsBelow(5), 3);
  // The rank keeps its own meaning: the nearest set bit below a clear one.
  EXPECT_EQ(b.GetBitPositionByBitNo(2), 0);
  ExpectNRD([&] { b.CountSetBitsBelow(6); }, 10429);
  ExpectNRD([&] { b.CountSetBitsBelow(-1); }, 10429);
  // Across whole bytes, against a plain count; and with every bit set.
  TNRDBitsArray big;
  big.SetSize(100);
  for (int i = 0; i < 100; i += 3) big.SetBit(i, true);
  for (int bit = 0; bit <= 100; ++bit) {
    int expected = 0;
    for (int i = 0; i < bit; ++i) expected += big.GetBit(i) ? 1 : 0;
    EXPECT_EQ(big.CountSetBitsBelow(bit), expected) << bit;
  }
  big.SetAllBits();
  EXPECT_EQ(big.CountSetBitsBelow(37), 37);
  TNRDBitsArray empty;
  EXPECT_EQ(empty.CountSetBitsBelow(0), 0);
}

TEST(NRDTypes, BitsArrayShrinkThenGrowBringsBackZeros) {
  // A shrink that kept old bits inside the last byte would bring them back uncounted on growth.
  TNRDBitsArray b;
  b.SetSize(16);
  b.SetAllBits();
  b.SetSize(4);
  EXPECT_EQ(b.NonZeroBitCount(), 4);
  b.SetSize(8);
  EXPECT_EQ(b.NonZeroBitCount(), 4);
  for (int i = 4; i < 8; ++i) EXPECT_FALSE(b.GetBit(i));
  b.SetSize(20);
  EXPECT_EQ(b.GetBitNoByBitPosition(3), 3);
  EXPECT_EQ(b.GetBitPositionByBitNo(19), 3);
  b.SetSize(0);
  EXPECT_EQ(b.Bits(), nullptr);
  EXPECT_EQ(b.NonZeroBitCount(), 0);
}

TEST(NRDTypes, BitsArrayStreamFormAndHostileStreams) {
  TNRDBitsArray b;
  b.SetSize(10);
  b.SetBit(0, true);
  b.SetBit(9, true);
  TNRDMemoryStream s;
  b.SaveToStream(s);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(s.Size()));
  s.SetPosition(0);
  s.Read(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  EXPECT_EQ(bytes, Bytes({10, 0, 0, 0, 2, 0, 0, 0, 0x01, 0x02}));
  s.SetPosition(0);
  TNRDBitsArray c;
  c.LoadFromStream(s);
  EXPECT_EQ(c.Size(), 10);
  EXPECT_EQ(c.NonZeroBitCount(), 2);
  EXPECT_TRUE(c.GetBit(9));

  struct Hostile {
    std::vector<std::uint8_t> data;
    int code;
  };
  const Hostile cases[] = {
      {Bytes({10, 0}), 10401},                                   // size cut short
      {Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}), 10401},      // negative size
      {Bytes({10, 0, 0, 0, 11, 0, 0, 0, 0xFF, 0x03}), 10426},    // more set bits than bits
      {Bytes({10, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0x03}), 10426},     // count does not match the bits
      {Bytes({0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0}), 10402},      // huge size, no bytes behind it
      {Bytes({10, 0, 0, 0, 1, 0, 0, 0, 0x01}), 10402},           // one byte short
  };
  for (const Hostile& h : cases) {
    TNRDMemoryStream in;
    in.Write(h.data.data(), static_cast<std::int32_t>(h.data.size()));
    in.SetPosition(0);
    TNRDBitsArray x;
    ExpectNRD([&] { x.LoadFromStream(in); }, h.code);
    EXPECT_EQ(x.Size(), 0);
  }
  // Bits beyond the size in the last byte are ignored (masked), not counted.
  TNRDMemoryStream in;
  auto data = Bytes({10, 0, 0, 0, 1, 0, 0, 0, 0x00, 0xF2});
  in.Write(data.data(), 10);
  in.SetPosition(0);
  TNRDBitsArray x;
  x.LoadFromStream(in);
  EXPECT_EQ(x.GetBitNoByBitPosition(0), 9);
}

TEST(NRDTypes, BufferBitsAndUniqueNames) {
  std::uint8_t buf[3] = {};
  SetBitInBuffer(true, 9, buf);
  EXPECT_EQ(buf[1], 0x02);
  EXPECT_TRUE(IsBitSetInBuffer(9, buf));
  SetBitInBuffer(false, 9, buf);
  EXPECT_EQ(buf[1], 0);
  std::string a = MakeUniqueName("T"), b = MakeUniqueName("T");
  EXPECT_EQ(a.size(), 39u);
  EXPECT_EQ(a.substr(0, 2), "T{");
  EXPECT_EQ(a.back(), '}');
  EXPECT_NE(a, b);
  EXPECT_EQ(a[10], '-');
}

TEST(NRDTypes, PointerList) {
  int x = 1, y = 2, z = 3;
  TNRDSortedStringPtrArray l;
  l.Add(&x);
  l.Add(&y);
  l.Insert(0, &z);
  EXPECT_EQ(l.Get(0), &z);
  l.Move(0, 2);
  EXPECT_EQ(l.IndexOf(&z), 2);
  l.Delete(0);
  EXPECT_EQ(l.Count(), 2);
  EXPECT_THROW(l.Get(5), ERangeError);
}
