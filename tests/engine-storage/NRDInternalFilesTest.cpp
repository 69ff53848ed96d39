// Internal files: transacted chains through the page cache (growing, shrinking, compression, damaged
// chains) and direct chains read and written in place (byte places, locks across pages).
#include <cstring>
#include <numeric>

#include <gtest/gtest.h>

#include "engine/storage/NRDInternalFiles.h"
#include "tests/engine-storage/StorageTestUtil.h"

using namespace nrd;
using enginetest::CodeOf;
using enginetest::ExpectNRD;
using namespace storagetest;

namespace {

constexpr std::int32_t kPage = 256;
constexpr std::int32_t kData = kPage - 40;  // 216

std::vector<std::uint8_t> Pattern(std::size_t n, int seed) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>((i * 7 + static_cast<std::size_t>(seed)) % 251);
  return v;
}

std::vector<std::int32_t> Chain(TNRDDiskPageManager& pm, std::int32_t start) {
  std::vector<std::int32_t> chain;
  for (std::int32_t no = start; no != -1 && chain.size() < 1000;) {
    chain.push_back(no);
    TNRDPage* page = pm.GetPage(0, no, AnyPageType);
    no = page->PageHeader()->NextPageNo;
    pm.PutPage(page);
  }
  return chain;
}

TEST(NRDInternalTransactedFile, GrowsShrinksAndReadsBack) {
  TempDir dir;
  const std::string path = dir.File("tf.at4");
  std::int32_t start = -1;
  const auto content = Pattern(3000, 1);
  {
    auto pm = CreateDb(path, kPage, 4);
    TNRDInternalDBTransactedAccessFile file(pm.get(), ptTableMetaData);
    file.CreateFile(0);
    ExpectNRD([&] { file.CreateFile(0); }, 30383, "File already exists");
    file.WriteFile(0, content.data(), 3000, acaNone, 0);
    start = file.StartPageNo();
    EXPECT_EQ(Chain(*pm, start).size(), 14u);  // ceil(3010 / 216)
    pm->ApplyChanges(0);
  }
  auto pm = OpenDb(path);
  TNRDInternalDBTransactedAccessFile file(pm.get(), ptTableMetaData);
  ExpectNRD([&] { file.GetSize(0); }, 30389, "(GetSize) on closed internal file");
  file.OpenFile(start);
  EXPECT_EQ(file.GetSize(0), 3000);
  std::vector<std::uint8_t> back(3000);
  file.ReadFile(0, back.data(), 3000, true);
  EXPECT_EQ(back, content);
  ExpectNRD([&] { file.ReadFile(0, back.data(), 3001, true); }, 30387, "FileSize=3000. ReadSize=3001");

  // Shrink to one page: the chain ends there and the cut pages go back to the free space.
  const std::vector<std::int32_t> before = Chain(*pm, start);
  const auto small = Pattern(100, 2);
  file.WriteFile(0, small.data(), 100, acaNone, 0);
  EXPECT_EQ(Chain(*pm, start).size(), 1u);
  pm->ApplyChanges(0);
  for (std::size_t i = 1; i < before.size(); ++i) EXPECT_FALSE(pm->FreeSpaceManager()->GetPageUsageFromPFS(before[i]));
  // Across a page boundary again: a new page is linked.
  const auto two = Pattern(kData - 10 + 1, 3);
  file.WriteFile(0, two.data(), static_cast<std::int32_t>(two.size()), acaNone, 0);
  EXPECT_EQ(Chain(*pm, start).size(), 2u);
  pm->ApplyChanges(0);
  std::vector<std::uint8_t> twoBack(two.size());
  OpenDb(path).swap(pm);
  TNRDInternalDBTransactedAccessFile again(pm.get(), ptTableMetaData);
  again.OpenFile(start);
  again.ReadFile(0, twoBack.data(), static_cast<std::int32_t>(twoBack.size()), true);
  EXPECT_EQ(twoBack, two);
  // Deleting releases every page of the chain.
  again.DeleteFile(0, -1);
  EXPECT_EQ(again.StartPageNo(), -1);
  pm->ApplyChanges(0);
  EXPECT_FALSE(pm->FreeSpaceManager()->GetPageUsageFromPFS(start));
}

TEST(NRDInternalTransactedFile, CompressedContent) {
  TempDir dir;
  auto pm = CreateDb(dir.File("zip.at4"), kPage, 4);
  TNRDInternalDBTransactedAccessFile file(pm.get(), ptTableMetaData);
  file.CreateFile(0);
  std::vector<std::uint8_t> text(5000);
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<std::uint8_t>("metadata "[i % 9]);
  for (TNRDCompressionAlgorithm algorithm : {acaZLIB, acaBZIP, acaPPM}) {
    SCOPED_TRACE(static_cast<int>(algorithm));
    file.WriteFile(0, text.data(), 5000, algorithm, 6);
    std::int32_t stored = 0, plain = 0;
    TNRDCompressionAlgorithm stamp = acaNone;
    bool changed = false;
    file.GetFileSize(0, stored, plain, stamp, changed, true);
    EXPECT_EQ(plain, 5000);
    EXPECT_LT(stored, 1000);
    EXPECT_EQ(stamp, algorithm);
    std::vector<std::uint8_t> back(5000);
    file.ReadFile(0, back.data(), 5000, true);
    EXPECT_EQ(back, text);
  }
  ExpectNRD([&] { file.WriteFile(0, text.data(), 0, acaZLIB, 6); }, 20187, "Table file compression error");
  // Damaged compressed bytes do not decompress.
  file.WriteFile(0, text.data(), 5000, acaZLIB, 6);
  TNRDPage* first = pm->GetPage(0, file.StartPageNo(), ptTableMetaData);
  std::memset(first->PageData() + 12, 0x55, 20);
  first->SetIsDirty(true);
  pm->PutPage(first);
  std::vector<std::uint8_t> back(5000);
  ExpectNRD([&] { file.ReadFile(0, back.data(), 5000, true); }, 20189, "Table file decompression error");
  pm->CancelChanges(0);
}

TEST(NRDInternalTransactedFile, DamagedChains) {
  TempDir dir;
  auto pm = CreateDb(dir.File("chain.at4"), kPage, 4);
  TNRDInternalDBTransactedAccessFile file(pm.get(), ptTableMetaData);
  file.CreateFile(0);
  const auto content = Pattern(1000, 4);
  file.WriteFile(0, content.data(), 1000, acaNone, 0);
  pm->ApplyChanges(0);
  const std::vector<std::int32_t> chain = Chain(*pm, file.StartPageNo());
  ASSERT_EQ(chain.size(), 5u);
  auto link = [&](std::int32_t page, std::int32_t next) {
    TNRDPage* p = pm->GetPage(0, page, ptTableMetaData);
    p->PageHeader()->NextPageNo = next;
    p->SetIsDirty(true);
    pm->PutPage(p);
  };
  std::vector<std::uint8_t> back(1000);
  link(chain[2], -1);  // the chain ends early
  ExpectNRD([&] { file.ReadFile(0, back.data(), 1000, true); }, 30388);
  ExpectNRD([&] { file.SetFileSize(0, 2000, 2000, acaNone); }, 20300, "3-th table file page");
  link(chain[2], chain[0]);  // a loop
  EXPECT_NE(CodeOf([&] { file.ReadFile(0, back.data(), 1000, true); }), 0);
  EXPECT_EQ(CodeOf([&] { file.DeleteFile(0, -1); }), 20300);
  pm->CancelChanges(0);
  // Rebuilding the header cuts the chain at the first page and keeps the plain size.
  TNRDInternalDBTransactedAccessFile fresh(pm.get(), ptTableMetaData);
  ExpectNRD([&] { fresh.InitFileHeader(0); }, 20301, "Invalid page number");
  fresh.OpenFile(chain[0]);
  fresh.InitFileHeader(0);
  std::int32_t stored = -1, plain = 0;
  TNRDCompressionAlgorithm algorithm = acaZLIB;
  bool changed = false;
  fresh.GetFileSize(0, stored, plain, algorithm, changed, true);
  EXPECT_EQ(stored, 0);
  EXPECT_EQ(plain, 1000);
  EXPECT_EQ(algorithm, acaNone);
  EXPECT_EQ(Chain(*pm, chain[0]).size(), 1u);
}

struct DirectFixture {
  TempDir dir;
  std::string path = dir.File("direct.at4");
  std::unique_ptr<TNRDDiskPageManager> pm;
  std::int32_t start = -1;

  explicit DirectFixture(std::int32_t size, const TNRDPassword& password = {}) {
    pm = CreateDb(path, kPage, 4, password);
    TNRDInternalDBDirectAccessFile file(pm.get(), ptTableLocks);
    file.CreateFile(size);
    start = file.StartPageNo();
    ExpectNRD([&] { file.CreateFile(size); }, 20157);
    pm->ApplyChanges(-2);
    // Open again, shared, so that other handles may look at the file.
    pm.reset();
    pm = OpenDb(path, password);
  }
};

TEST(NRDInternalDirectFile, BytePlacesAcrossPages) {
  DirectFixture fx(500);
  TNRDInternalDBDirectAccessFile file(fx.pm.get(), ptTableLocks);
  ExpectNRD([&] { file.GetSize(); }, 20156, "(GetSize) on closed internal file");
  file.OpenFile(fx.start);
  EXPECT_EQ(file.GetSize(), 500);
  EXPECT_EQ(file.FileSize(), 500);
  ASSERT_EQ(file.FilePages().ItemCount, 3);  // ceil(510 / 216)
  const std::vector<std::uint8_t> firstPageBefore = [&] {
    std::vector<std::uint8_t> b(50);
    fx.pm->ReadPageRegion(b.data(), fx.start, 0, 50);
    return b;
  }();
  const auto content = Pattern(500, 5);
  file.WriteBuffer(content.data(), 500, 0);
  std::vector<std::uint8_t> back(500);
  file.ReadBuffer(back.data(), 500, 0);
  EXPECT_EQ(back, content);
  // Content byte D - 10 is the first data byte of the second page.
  std::uint8_t b = 0;
  fx.pm->ReadPageRegion(&b, file.FilePages()[1], 40, 1);
  EXPECT_EQ(b, content[kData - 10]);
  std::vector<std::uint8_t> firstPageAfter(50);
  fx.pm->ReadPageRegion(firstPageAfter.data(), fx.start, 0, 50);
  EXPECT_EQ(firstPageAfter, firstPageBefore) << "content writes touched the page or file header";
  ExpectNRD([&] { file.WriteBuffer(content.data(), 2, 499); }, 20158, "FileSize=500. Position=499, Count=2");
  ExpectNRD([&] { file.ReadBuffer(back.data(), 1, 500); }, 20159, "FileSize=500. Position=500");
  // The content went straight to the file: another opener sees it at once.
  TNRDDatabaseFile raw;
  raw.OpenFile(fx.path, amReadOnly, smShareDenyNone);
  std::uint8_t direct = 0;
  raw.ReadBuffer(&direct, 1, fx.pm->GetPageOffset(file.FilePages()[2]) + 40 + 3, 1);
  EXPECT_EQ(direct, content[2 * kData - 10 + 3]);
}

TEST(NRDInternalDirectFile, RegionLockedByItsLastByteAcrossPages) {
  DirectFixture fx(500);
  TNRDInternalDBDirectAccessFile file(fx.pm.get(), ptTableLocks);
  file.OpenFile(fx.start);
  // Another handle locks content byte 210, the fifth byte of the second page.
  TNRDDatabaseFile other;
  other.OpenFile(fx.path, amReadWrite, smShareDenyNone);
  const std::int64_t place = fx.pm->GetPageOffset(file.FilePages()[1]) + 40 + (210 + 10 - kData);
  ASSERT_TRUE(other.LockByte(place, 1));
  EXPECT_TRUE(file.IsByteLocked(210));
  EXPECT_FALSE(file.IsByteLocked(209));
  EXPECT_TRUE(file.IsRegionLocked(150, 61));   // 150 .. 210 spans two pages, only its last byte locked
  EXPECT_FALSE(file.IsRegionLocked(150, 60));  // 150 .. 209
  EXPECT_FALSE(file.IsRegionLocked(150, 0));
  EXPECT_FALSE(file.LockByte(210));
  EXPECT_TRUE(file.LockByte(209));
  EXPECT_TRUE(other.IsByteLocked(place - 1));
  EXPECT_TRUE(file.UnlockByte(209));
  EXPECT_TRUE(file.LockFile());
  EXPECT_TRUE(other.IsByteLocked(fx.pm->GetPageOffset(fx.start)));
  EXPECT_TRUE(file.UnlockFile());
}

TEST(NRDInternalDirectFile, OnePageFileAndEncryptedDatabase) {
  DirectFixture fx(20, {"pw", craBlowfish});
  TNRDInternalDBDirectAccessFile file(fx.pm.get(), ptTableLocks);
  file.OpenFile(fx.start);
  EXPECT_EQ(file.FileSize(), kData - 10);  // one page: its whole capacity
  std::uint8_t v = 0x3C;
  EXPECT_NO_THROW(file.WriteBuffer(&v, 1, kData - 11));
  ExpectNRD([&] { file.IsByteLocked(kData - 10); }, 20159);
  // Direct pages are stored plain, also in an encrypted database.
  std::uint8_t raw = 0;
  fx.pm->ReadPageRegion(&raw, fx.start, static_cast<std::uint16_t>(40 + kData - 1), 1);
  EXPECT_EQ(raw, 0x3C);
  TNRDInternalDBDirectAccessFile wrongType(fx.pm.get(), ptActiveSessionList);
  ExpectNRD([&] { wrongType.OpenFile(fx.start); }, 20155, "Invalid PageType found: 7 but expecting: 5");
  file.DeleteFile(-1);
  fx.pm->ApplyChanges(-2);
  EXPECT_FALSE(fx.pm->FreeSpaceManager()->GetPageUsageFromPFS(fx.start));
}

}  // namespace
