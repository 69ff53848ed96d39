// The database file layout, page I/O with encryption and checksums, object IDs, and page allocation
// through the free-space pages checked against a model.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <set>

#include <gtest/gtest.h>

#include "engine/foundation/NRDStreams.h"
#include "tests/engine-storage/StorageTestUtil.h"

using namespace nrd;
using enginetest::CodeOf;
using enginetest::ExpectNRD;
using namespace storagetest;

namespace {

TEST(NRDDiskPageManager, NewFileHeaderBytes) {
  TempDir dir;
  const std::string path = dir.File("new.at4");
  {
    auto pm = CreateDb(path, 1024, 8);
    EXPECT_EQ(pm->PageSize(), 1024);
    EXPECT_EQ(pm->PageDataSize(), 984);
  }
  const std::vector<std::uint8_t> bytes = ReadAll(path);
  ASSERT_EQ(bytes.size(), 380u);
  std::vector<std::uint8_t> expected(380, 0);
  const std::uint8_t header[44] = {'N', '0', 'R', 'E', 'L', 'D', 'K', 'X', 'D', 'A', 'T', 'A', 'B', 'A', 'S', 'E',
                                   0x4C, 0x00,                                      // HeaderSize 76
                                   0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0x1F, 0x40,  // Version 7.9
                                   0x00, 0x04,                                      // PageSize 1024
                                   0x08, 0x00,                                      // PageCountInExtent 8
                                   0x00, 0x00, 0x00, 0x00,                          // TotalPageCount 0
                                   0xFF, 0xFF, 0xFF, 0xFF,                          // LastUsedPageNo -1
                                   0x00, 0x00, 0x00, 0x00,                          // State 0
                                   0x02,                                            // WriteChangesState
                                   0x00};                                           // Encrypted
  std::copy(std::begin(header), std::end(header), expected.begin());
  expected[76] = 0x18;  // CryptoHeaderSize 280
  expected[77] = 0x01;
  expected[356] = 0x14;  // LockedByteSize 20
  EXPECT_EQ(bytes, expected);
}

TEST(NRDDiskPageManager, FirstAllocationBuildsTheBitmapPages) {
  TempDir dir;
  const std::string path = dir.File("first.at4");
  auto pm = CreateDb(path, 1024, 8);
  const std::int32_t no = AddFilledPage(*pm, 0, 0xAB);
  EXPECT_EQ(no, 2);
  EXPECT_EQ(TotalPages(*pm), 6);
  EXPECT_EQ(LastUsed(*pm), 2);
  pm->ApplyChanges(0);
  EXPECT_EQ(DbState(*pm), 1);
  pm.reset();
  const std::vector<std::uint8_t> bytes = ReadAll(path);
  ASSERT_EQ(bytes.size(), 380u + 6 * 1024);
  auto pageByte = [&](int page, int offset) { return bytes[static_cast<std::size_t>(380 + page * 1024 + offset)]; };
  EXPECT_EQ(pageByte(0, 8), ptPFS);
  EXPECT_EQ(pageByte(0, 40), 0x07);  // pages 0, 1, 2 used
  EXPECT_EQ(pageByte(1, 8), ptEAM);
  EXPECT_EQ(pageByte(1, 40), 0x01);  // extent 0: some page free
  EXPECT_EQ(pageByte(2, 8), ptTableRecord);
  EXPECT_EQ(pageByte(2, 40), 0xAB);
  EXPECT_EQ(std::memcmp(&bytes[380 + 2 * 1024], "NRDP", 4), 0);
  std::int32_t total = 0;
  std::memcpy(&total, &bytes[30], 4);
  EXPECT_EQ(total, 6);
}

TEST(NRDDiskPageManager, ReopenReadsCommittedPagesAndRefusesBitmapPages) {
  TempDir dir;
  const std::string path = dir.File("reopen.at4");
  const std::vector<std::int32_t> pages = CreateFilledDb(path, 20, 1);
  auto pm = OpenDb(path);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(FirstDataByte(*pm, 0, pages[static_cast<std::size_t>(i)]), i + 1);
  ExpectNRD([&] { pm->GetPage(0, 0, AnyPageType); }, 30434, "PageNo=0");
  ExpectNRD([&] { pm->GetPage(0, 1, AnyPageType); }, 30434);
  ExpectNRD([&] { pm->RemovePage(0, 1); }, 30434);
  EXPECT_EQ(pm->GetPageCount(), TotalPages(*pm));
  // The type is checked when a page is read from the file.
  ExpectNRD([&] { OpenDb(path)->GetPage(0, pages[0], ptTableIndex); }, 20153, "Expecting type 12, but found 10");
}

TEST(NRDDiskPageManager, PageNamesAndTypeCheck) {
  EXPECT_EQ(PageTypeName(0), "Unknown Page");
  EXPECT_EQ(PageTypeName(4), "FileSystemDirectory Page");
  EXPECT_EQ(PageTypeName(12), "TableIndex Page");
  ExpectNRD([] { PageTypeName(13); }, 30382, "Unknown Page Type: (13)");
  EXPECT_NO_THROW(CheckPageType(3, 3, 1));
  ExpectNRD([] { CheckPageType(2, 3, 30424); }, 30424, "Found 'EAM Page', but expecting: 'PFS Page'");
  int calls = 0;
  EXPECT_TRUE(RetryCall(5, 0, [&] { return ++calls == 3; }));
  EXPECT_EQ(calls, 3);
  EXPECT_FALSE(RetryCall(4, 0, [&] { return ++calls > 100; }));
  EXPECT_EQ(calls, 7);
}

// Page allocation on small pages against a set model: P = 64 pages per PFS page, E = 96 pages per
// EAM page, so bitmap pages sit at 0, 1, 64, 96, 128, 192, 193, 256, 288, ...
TEST(NRDFreeSpaceManager, AllocationMatchesASetModel) {
  TempDir dir;
  const std::string path = dir.File("fsm.at4");
  auto pm = CreateDb(path, 48, 3);
  TNRDDatabaseFreeSpaceManager* fsm = pm->FreeSpaceManager();
  ASSERT_EQ(fsm->PFSPagesAddressed(), 64);
  ASSERT_EQ(fsm->EAMPagesAddressed(), 96);
  for (std::int32_t n : {0, 1, 64, 96, 128, 192, 193, 256, 288, 384, 385}) EXPECT_TRUE(fsm->IsSystemPage(n)) << n;
  for (std::int32_t n : {2, 63, 65, 97, 194, 383}) EXPECT_FALSE(fsm->IsSystemPage(n)) << n;
  ExpectNRD([&] { fsm->CheckPageNoForSystemPages(193); }, 30434, "PageNo=193");

  std::set<std::int32_t> model;
  std::mt19937 rng(11);
  auto check = [&](const char* when) {
    const std::int32_t total = TotalPages(*pm);
    EXPECT_EQ(pm->DatabaseFile().GetSize(), 380 + static_cast<std::int64_t>(total) * 48) << when;
    EXPECT_EQ(LastUsed(*pm), model.empty() ? -1 : *model.rbegin()) << when;
    if (total > 0) {
      EXPECT_FALSE(fsm->IsSystemPage(total - 1)) << when << " file ends with a bitmap page";
    }
    for (std::int32_t n = 0; n < total; ++n) {
      const bool expected = model.count(n) > 0 || fsm->IsSystemPage(n);
      ASSERT_EQ(fsm->GetPageUsageFromPFS(n), expected) << when << " page " << n;
    }
  };
  for (int round = 0; round < 40; ++round) {
    const bool grow = round < 12 || rng() % 3 != 0;
    const int count = 1 + static_cast<int>(rng() % 30);
    if (grow) {
      for (int i = 0; i < count; ++i) {
        const std::int32_t no = AddFilledPage(*pm, 0, static_cast<std::uint8_t>(round));
        EXPECT_FALSE(fsm->IsSystemPage(no)) << no;
        EXPECT_TRUE(model.insert(no).second) << "page handed out twice: " << no;
      }
    } else {
      std::vector<std::int32_t> all(model.begin(), model.end());
      std::shuffle(all.begin(), all.end(), rng);
      // Free from the end more often, so that the file shrinks.
      if (rng() % 2 == 0) std::sort(all.rbegin(), all.rend());
      for (int i = 0; i < count && i < static_cast<int>(all.size()); ++i) {
        pm->RemovePage(0, all[static_cast<std::size_t>(i)]);
        model.erase(all[static_cast<std::size_t>(i)]);
      }
    }
    pm->ApplyChanges(0);
    check(grow ? "after allocation" : "after release");
  }
  // A released page is handed out again before the file grows.
  const std::int32_t victim = *std::next(model.begin(), static_cast<std::ptrdiff_t>(model.size() / 2));
  const std::int32_t totalBefore = TotalPages(*pm);
  pm->RemovePage(0, victim);
  pm->ApplyChanges(0);
  model.erase(victim);
  const std::int32_t again = AddFilledPage(*pm, 0, 1);
  model.insert(again);
  EXPECT_EQ(TotalPages(*pm), totalBefore);
  pm->ApplyChanges(0);
  check("after reuse");
  pm.reset();
  pm = OpenDb(path);
  fsm = pm->FreeSpaceManager();
  fsm->LoadHeaderState();
  check("after reopen");
  for (std::int32_t n : model) EXPECT_NO_THROW(FirstDataByte(*pm, 0, n)) << n;
}

TEST(NRDFreeSpaceManager, ShrinksInStepsAndGrowsPastCutBitmapPagesAgain) {
  TempDir dir;
  auto pm = CreateDb(dir.File("shrink.at4"), 48, 3);
  std::vector<std::int32_t> pages;
  // Used pages up to past 300 (pages are taken in runs, so the file size alone says too little).
  while (pages.empty() || pages.back() <= 300) pages.push_back(AddFilledPage(*pm, 0, 1));
  std::sort(pages.begin(), pages.end());
  pm->ApplyChanges(0);
  const std::int32_t totalBefore = TotalPages(*pm);
  ASSERT_GT(totalBefore, 289);  // the EAM page at 288 exists
  // Release every page above 200: the file is cut back, never below the last used page.
  while (pages.back() > 200) {
    pm->RemovePage(0, pages.back());
    pages.pop_back();
  }
  pm->ApplyChanges(0);
  EXPECT_EQ(LastUsed(*pm), pages.back());
  EXPECT_LT(TotalPages(*pm), 288);
  EXPECT_GE(TotalPages(*pm), LastUsed(*pm) + 1);
  EXPECT_FALSE(pm->FreeSpaceManager()->IsSystemPage(TotalPages(*pm) - 1));
  // Growing again past 288 writes the EAM page anew (used pages past it: the commit cuts off the
  // unused rest of the run).
  std::int32_t highest = 0;
  while (highest <= 300) highest = std::max(highest, AddFilledPage(*pm, 0, 2));
  pm->ApplyChanges(0);
  EXPECT_GT(TotalPages(*pm), 300);
  EXPECT_TRUE(pm->FreeSpaceManager()->GetPageUsageFromPFS(288));
}

// Whether a page is a bitmap page does not depend on the pages asked about before it (the answer
// for a run of data pages is remembered): every order of questions gives the plain rule's answers.
TEST(NRDFreeSpaceManager, SystemPagesInAnyOrderOfQuestions) {
  TempDir dir;
  auto pm = CreateDb(dir.File("system.at4"), 256, 4);
  const TNRDDatabaseFreeSpaceManager& fsm = *pm->FreeSpaceManager();
  const std::int64_t p = fsm.PFSPagesAddressed(), e = fsm.EAMPagesAddressed();
  auto rule = [&](std::int64_t n) { return n % p == 0 || n % e == 0 || (n >= 1 && (n - 1) % p == 0 && (n - 1) % e == 0); };
  const std::int32_t last = static_cast<std::int32_t>(2 * std::lcm(p, e) + 5);
  std::vector<std::int32_t> order(static_cast<std::size_t>(last));
  std::iota(order.begin(), order.end(), 0);
  std::vector<std::int32_t> walks = order;
  std::shuffle(order.begin(), order.end(), std::mt19937(3));
  for (const auto* asked : {&walks, &order}) {
    for (std::int32_t n : *asked) ASSERT_EQ(fsm.IsSystemPage(n), rule(n)) << n;
  }
  // Around each bitmap page: a page asked about first, then its neighbours.
  for (std::int64_t m : {p, e, std::lcm(p, e)}) {
    for (std::int64_t d : {-2, -1, 1, 2, 3}) {
      for (std::int64_t k = -2; k <= 3; ++k) {
        EXPECT_EQ(fsm.IsSystemPage(static_cast<std::int32_t>(m + d)), rule(m + d)) << m + d;
        EXPECT_EQ(fsm.IsSystemPage(static_cast<std::int32_t>(m + k)), rule(m + k)) << m + d << " then " << m + k;
      }
    }
  }
}

TEST(NRDFreeSpaceManager, DoubleReleaseAndCancel) {
  TempDir dir;
  auto pm = CreateDb(dir.File("twice.at4"), 256, 4);
  const std::int32_t a = AddFilledPage(*pm, 0, 1);
  const std::int32_t b = AddFilledPage(*pm, 0, 2);
  pm->ApplyChanges(0);
  pm->RemovePage(0, a);
  pm->RemovePage(0, a);
  ExpectNRD([&] { pm->ApplyChanges(0); }, 30427, "already free");
  // The failed commit changed nothing: both pages are still there.
  EXPECT_TRUE(pm->FreeSpaceManager()->GetPageUsageFromPFS(a));
  EXPECT_EQ(FirstDataByte(*pm, 0, a), 1);
  EXPECT_EQ(FirstDataByte(*pm, 0, b), 2);
  // Pages added and then cancelled go back to the free space.
  const std::int32_t c = AddFilledPage(*pm, 0, 3);
  EXPECT_TRUE(pm->FreeSpaceManager()->GetPageUsageFromPFS(c));
  pm->CancelChanges(0);
  pm->FreeSpaceManager()->LoadHeaderState();
  EXPECT_FALSE(pm->FreeSpaceManager()->GetPageUsageFromPFS(c));
}

TEST(NRDDiskPageManager, EveryCipherRoundTripsAndChecksPages) {
  TempDir dir;
  for (int alg = 0; alg < kCryptoAlgorithmCount; ++alg) {
    SCOPED_TRACE(alg);
    const std::string path = dir.File("enc" + std::to_string(alg) + ".at4");
    TNRDPassword password{"secret " + std::to_string(alg), static_cast<TNRDCryptoAlgorithm>(alg)};
    std::int32_t no = 0;
    {
      auto pm = CreateDb(path, 512, 4, password);
      EXPECT_TRUE(pm->Encrypted());
      no = AddFilledPage(*pm, 0, 0x5C);
      pm->ApplyChanges(0);
      // The page in memory stays plain after the write.
      EXPECT_EQ(FirstDataByte(*pm, 0, no), 0x5C);
    }
    std::vector<std::uint8_t> bytes = ReadAll(path);
    EXPECT_EQ(bytes[43], 0xFF);
    const std::size_t pageAt = 380 + static_cast<std::size_t>(no) * 512;
    const std::vector<std::uint8_t> plain(472, 0x5C);
    EXPECT_NE(std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(pageAt + 40),
                                        bytes.begin() + static_cast<std::ptrdiff_t>(pageAt + 512)),
              plain);
    std::uint32_t crc = 0;
    std::memcpy(&crc, &bytes[pageAt + 14], 4);
    EXPECT_EQ(crc, CalcCRC32(0, plain.data(), 472));
    EXPECT_EQ(bytes[pageAt + 20], alg);

    EXPECT_EQ(FirstDataByte(*OpenDb(path, password), 0, no), 0x5C);
    EXPECT_EQ(CodeOf([&] { OpenDb(path, {"wrong", password.CryptoAlgorithm}); }), 30445);
    EXPECT_EQ(CodeOf([&] { OpenDb(path, {}); }), 30445);

    bytes[pageAt + 100] ^= 0x01;
    WriteAll(path, bytes);
    auto pm = OpenDb(path, password);
    ExpectNRD([&] { pm->GetPage(0, no, AnyPageType); }, 30446, "Check CRC failed");
    EXPECT_EQ(pm->SharedPages().Count(), 0);  // the damaged page was not kept
    pm->SetIgnoreCRCErrors(true);
    EXPECT_NO_THROW(pm->PutPage(pm->GetPage(0, no, AnyPageType)));
  }
}

TEST(NRDDiskPageManager, HeaderBehindOtherData) {
  TempDir dir;
  const std::string plain = dir.File("plain.at4");
  std::int32_t no = 0;
  {
    auto pm = CreateDb(plain, 256, 4);
    no = AddFilledPage(*pm, 0, 0x42);
    pm->ApplyChanges(0);
  }
  const std::vector<std::uint8_t> db = ReadAll(plain);
  // 9,990 puts the signature across the boundary of the first 10,000-byte window.
  for (std::size_t prefix : {std::size_t{17}, std::size_t{9990}, std::size_t{12000}}) {
    SCOPED_TRACE(prefix);
    std::vector<std::uint8_t> bytes(prefix, 0x20);
    std::memcpy(bytes.data(), "N0RELDKXDATABASE", 16);  // a signature without the size 76 is skipped
    bytes.insert(bytes.end(), db.begin(), db.end());
    const std::string path = dir.File("behind" + std::to_string(prefix) + ".at4");
    WriteAll(path, bytes);
    auto pm = OpenDb(path);
    EXPECT_EQ(pm->OffsetToDBHeader(), static_cast<std::int64_t>(prefix));
    EXPECT_EQ(pm->OffsetToFirstPage(), static_cast<std::int64_t>(prefix) + 380);
    EXPECT_EQ(FirstDataByte(*pm, 0, no), 0x42);
    FillPage(*pm, 0, no, 0x43);
    AddFilledPage(*pm, 0, 0x44);
    pm->ApplyChanges(0);
    pm.reset();
    const std::vector<std::uint8_t> after = ReadAll(path);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(prefix), after.begin()));
    EXPECT_EQ(FirstDataByte(*OpenDb(path), 0, no), 0x43);
  }
}

TEST(NRDDiskPageManager, OpenRefusesDamagedHeaders) {
  TempDir dir;
  const std::string path = dir.File("damaged.at4");
  { CreateDb(path, 256, 4); }
  const std::vector<std::uint8_t> good = ReadAll(path);
  struct Case {
    const char* name;
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
    int code;
  };
  const Case cases[] = {
      {"signature", 0, {'X'}, 10470},
      {"page size 0", 26, {0, 0}, 20237},
      {"extent 0", 28, {0, 0}, 20237},
      {"negative page count", 30, {0xFF, 0xFF, 0xFF, 0xFF}, 20237},
      {"crypto header size", 76, {0x10, 0x01}, 20237},
      {"locked byte size", 356, {0, 0}, 20237},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes = good;
    std::copy(c.bytes.begin(), c.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(c.offset));
    WriteAll(path, bytes);
    EXPECT_EQ(CodeOf([&] { OpenDb(path); }), c.code) << c.name;
  }
  // A page count near the 32-bit limit opens, but allocation raises instead of overflowing.
  for (std::int32_t total : {0x7FFFFFF0, 0x7FFFFFFF}) {
    std::vector<std::uint8_t> bytes = good;
    const std::int32_t last = total - 1;
    std::memcpy(&bytes[30], &total, 4);
    std::memcpy(&bytes[34], &last, 4);
    WriteAll(path, bytes);
    auto pm = OpenDb(path);
    EXPECT_NE(CodeOf([&] { pm->AddPage(0, ptTableRecord); }), 0) << total;
  }
  WriteAll(path, {});
  EXPECT_EQ(CodeOf([&] { OpenDb(path); }), 10470) << "empty file";
  EXPECT_EQ(CodeOf([&] { OpenDb(dir.File("missing.at4")); }), 30364);
}

TEST(NRDDiskPageManager, RepairNeededAndReadOnlyAttribute) {
  TempDir dir;
  const std::string path = dir.File("flags.at4");
  { CreateDb(path, 256, 4); }
  std::vector<std::uint8_t> bytes = ReadAll(path);
  struct Case {
    std::uint8_t writeChangesState;
    double version;
    bool repair;
  };
  for (const Case& c : {Case{2, 7.9, false}, Case{1, 7.9, true}, Case{2, 2.5, true}}) {
    bytes[42] = c.writeChangesState;
    std::memcpy(&bytes[18], &c.version, 8);
    WriteAll(path, bytes);
    TNRDDiskPageManager pm;
    bool readOnly = false, repair = false, multi = true;
    pm.OpenDatabase(path, {}, readOnly, repair, false, multi);
    EXPECT_EQ(repair, c.repair);
    EXPECT_FALSE(readOnly);
    EXPECT_TRUE(multi);
  }
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  TNRDDiskPageManager pm;
  bool readOnly = false, repair = false, multi = true;
  pm.OpenDatabase(path, {}, readOnly, repair, false, multi);
  EXPECT_TRUE(readOnly);
  EXPECT_FALSE(multi);
  EXPECT_FALSE(pm.MultiUser());
}

TEST(NRDDiskPageManager, ObjectIDs) {
  TempDir dir;
  const std::string path = dir.File("ids.at4");
  {
    auto pm = CreateDb(path, 256, 4);
    EXPECT_EQ(pm->GetNextObjectID(1, 0), 1);
    EXPECT_EQ(pm->GetNextObjectID(1, 0), 2);
  }
  {
    TNRDDiskPageManager pm;
    bool readOnly = true, repair = false, multi = false;
    pm.OpenDatabase(path, {}, readOnly, repair, false, multi);
    // Read-only: numbers above the stored counter that never repeat, and the file keeps 2.
    std::set<std::int32_t> seen;
    for (int i = 0; i < 50; ++i) {
      const std::int32_t id = pm.GetNextObjectID(1, 0);
      EXPECT_GT(id, 2);
      EXPECT_TRUE(seen.insert(id).second) << id;
    }
  }
  EXPECT_EQ(OpenDb(path)->GetNextObjectID(1, 0), 3);
  TNRDDiskPageManager closed;
  ExpectNRD([&] { closed.GetNextObjectID(1, 0); }, 30399, "not opened");
}

TEST(NRDDiskPageManager, PageStatesWrapAndRegionsStayInsideThePage) {
  TempDir dir;
  auto pm = CreateDb(dir.File("state.at4"), 256, 4);
  const std::int32_t no = AddFilledPage(*pm, 0, 1);
  pm->ApplyChanges(0);
  for (std::int32_t start : {0x7FFFFFFB, 0x7FFFFFFC, 0x7FFFFFFD, 0x7FFFFFFF, -5}) {
    TNRDPage* page = pm->GetPage(0, no, AnyPageType);
    page->PageHeader()->State = start;
    page->SetIsDirty(true);
    pm->PutPage(page);
    pm->ApplyChanges(0);
    std::int32_t stored = 0;
    pm->ReadPageRegion(&stored, no, 4, 4);
    EXPECT_EQ(stored, start == 0x7FFFFFFB ? 0x7FFFFFFC : 0) << start;
  }
  std::uint8_t buffer[8] = {};
  ExpectNRD([&] { pm->ReadPageRegion(buffer, no, 250, 8); }, 10476, "invalid page offset = 258, page size = 256");
  ExpectNRD([&] { pm->WritePageRegion(buffer, no, 255, 2); }, 10477);
  const std::uint8_t pattern[3] = {7, 8, 9};
  pm->WritePageRegion(pattern, no, 253, 3);
  pm->ReadPageRegion(buffer, no, 253, 3);
  EXPECT_EQ(std::memcmp(buffer, pattern, 3), 0);
  ExpectNRD([&] { pm->GetPageOffset(-1); }, 10471, "Invalid PageNo = -1");
}

TEST(NRDDiskPageManager, CreateRefusesAFileAnotherOpenerHolds) {
  TempDir dir;
  const std::string path = dir.File("held.at4");
  auto first = CreateDb(path, 256, 4);
  AddFilledPage(*first, 0, 9);
  first->ApplyChanges(0);
  const std::vector<std::uint8_t> before = ReadAll(path);
  TNRDDiskPageManager second;
  ExpectNRD([&] { second.CreateAndOpenDatabase(path, {}, 256, 4); }, 30361, "Cannot create file");
  EXPECT_EQ(ReadAll(path), before);
  first.reset();
  EXPECT_NO_THROW(second.CreateAndOpenDatabase(path, {}, 256, 4));
  EXPECT_EQ(second.DatabaseFile().GetSize(), 380);
  ExpectNRD([&] { second.CreateAndOpenDatabase(path, {}, 256, 4); }, 10461, "is in use");
  TNRDDiskPageManager third;
  ExpectNRD([&] { third.CreateAndOpenDatabase(dir.File("bad.at4"), {}, 47, 4); }, 30378);
  ExpectNRD([&] { third.CreateAndOpenDatabase(dir.File("bad.at4"), {}, 256, 0); }, 30378);
}

}  // namespace

namespace {

TEST(NRDDiskPageManager, CipherFailuresRaiseBeforeAnythingIsWritten) {
  TempDir dir;
  const std::string path = dir.File("cipherfail.at4");
  const TNRDPassword password{"pw", craTwofish_128};
  std::int32_t no = 0;
  {
    auto pm = CreateDb(path, 512, 4, password);
    no = AddFilledPage(*pm, 0, 0x11);
    pm->ApplyChanges(0);
    const std::vector<std::uint8_t> before = ReadAll(path);
    FillPage(*pm, 0, no, 0x22);
    pm->Password()->CryptoAlgorithm = static_cast<TNRDCryptoAlgorithm>(200);
    ExpectNRD([&] { pm->ApplyChanges(0); }, 30380, "Cannot encrypt page");
    EXPECT_EQ(ReadAll(path), before);
  }
  // A page whose stored cipher is unknown cannot be decrypted: the read raises and keeps nothing.
  std::vector<std::uint8_t> bytes = ReadAll(path);
  bytes[380 + static_cast<std::size_t>(no) * 512 + 20] = 200;
  WriteAll(path, bytes);
  auto pm = OpenDb(path, password);
  ExpectNRD([&] { pm->GetPage(0, no, AnyPageType); }, 30381, "Cannot decrypt page");
  EXPECT_EQ(pm->SharedPages().Count(), 0);
}

}  // namespace

namespace {

TEST(NRDDiskPageManager, ReadOnlyOpenRefusesEveryWrite) {
  TempDir dir;
  const std::string path = dir.File("ro.at4");
  std::int32_t no = 0;
  {
    auto pm = CreateDb(path, 256, 4);
    no = AddFilledPage(*pm, 0, 1);
    pm->ApplyChanges(0);
  }
  const std::vector<std::uint8_t> before = ReadAll(path);
  TNRDDiskPageManager pm;
  pm.SetLockRetry(3, 1);
  bool readOnly = true, repair = false, multi = false;
  pm.OpenDatabase(path, {}, readOnly, repair, false, multi);
  EXPECT_TRUE(pm.ReadOnly());
  EXPECT_TRUE(pm.DatabaseFile().IsWritable()) << "locks need a writable descriptor";
  FillPage(pm, 0, no, 2);
  ExpectNRD([&] { pm.ApplyChanges(0); }, 10462, "Cannot Write to file");
  EXPECT_NE(CodeOf([&] { pm.AddPage(0, ptTableRecord); }), 0);
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_EQ(FirstDataByte(pm, 0, no), 1);
}

}  // namespace

namespace {

// Damaged files: random bytes of the header area and the bitmap pages changed. Every operation
// either works or raises ENRDException; nothing crashes, loops or reads out of bounds.
TEST(NRDDiskPageManager, DamagedFilesRaiseCleanly) {
  TempDir dir;
  const std::string path = dir.File("fuzz.at4");
  {
    auto pm = CreateDb(path, 64, 2);
    for (int i = 0; i < 150; ++i) AddFilledPage(*pm, 0, static_cast<std::uint8_t>(i));
    pm->ApplyChanges(0);
  }
  const std::vector<std::uint8_t> good = ReadAll(path);
  std::mt19937 rng(77);
  int opened = 0;
  for (int round = 0; round < 100; ++round) {
    std::vector<std::uint8_t> bytes = good;
    const int changes = 1 + static_cast<int>(rng() % 4);
    for (int c = 0; c < changes; ++c) {
      // Mostly the header area and the first bitmap pages (0, 1, 64 with 24 data bytes a page).
      const std::size_t at = rng() % 2 == 0 ? rng() % 380 : 380 + (rng() % 3 == 0 ? 64 * 64 : 0) + rng() % 128;
      bytes[at] = static_cast<std::uint8_t>(rng());
    }
    WriteAll(path, bytes);
    try {
      auto pm = OpenDb(path);
      ++opened;
      const std::int32_t total = std::min(pm->GetPageCount(), 200);
      for (std::int32_t n = 0; n < total; n += 7) {
        try {
          pm->PutPage(pm->GetPage(0, n, AnyPageType));
        } catch (const ENRDException&) {
        }
      }
      for (std::int32_t n : {2, 3, 100}) {
        try {
          pm->RemovePage(0, n);
          AddFilledPage(*pm, 0, 1);
          pm->ApplyChanges(0);
        } catch (const ENRDException&) {
          pm->CancelChanges(0);
        }
      }
    } catch (const ENRDException&) {
    }
  }
  EXPECT_GT(opened, 20);
}

}  // namespace

namespace {

TEST(NRDDiskPageManager, TruncateDatabaseAndByteLocks) {
  TempDir dir;
  const std::string path = dir.File("trunc.at4");
  {
    auto pm = CreateDb(path, 256, 4);
    for (int i = 0; i < 40; ++i) AddFilledPage(*pm, 0, 1);
    pm->ApplyChanges(0);
    pm->RemovePage(0, LastUsed(*pm));  // fewer free pages at the end than a step: no shrink
    pm->ApplyChanges(0);
    ASSERT_GT(TotalPages(*pm), LastUsed(*pm) + 1);
    pm->TruncateDatabase();
    EXPECT_EQ(TotalPages(*pm), LastUsed(*pm) + 1);
    EXPECT_EQ(pm->DatabaseFile().GetSize(), 380 + static_cast<std::int64_t>(TotalPages(*pm)) * 256);
    pm->TruncateFile(0);
    pm->TruncateFile(TotalPages(*pm) + 1);
    pm->ExtendFile(0);
    EXPECT_EQ(TotalPages(*pm), LastUsed(*pm) + 1);
  }
  auto a = OpenDb(path, {}, nullptr, true);
  auto b = OpenDb(path, {}, nullptr, true);
  b->SetLockRetry(2, 1);
  struct Lock {
    const char* name;
    std::function<bool(TNRDDiskPageManager&)> lock, unlock;
  };
  const Lock locks[] = {
      {"tables", [](TNRDDiskPageManager& m) { return m.LockTables(); }, [](TNRDDiskPageManager& m) { return m.UnlockTables(); }},
      {"free space", [](TNRDDiskPageManager& m) { return m.LockFreeSpaceManager(); },
       [](TNRDDiskPageManager& m) { return m.UnlockFreeSpaceManager(); }},
      {"object id", [](TNRDDiskPageManager& m) { return m.LockLastObjectID(); },
       [](TNRDDiskPageManager& m) { return m.UnlockLastObjectID(); }},
      {"page byte", [](TNRDDiskPageManager& m) { return m.LockPageByte(2, 7); },
       [](TNRDDiskPageManager& m) { return m.UnlockPageByte(2, 7); }},
  };
  for (const Lock& l : locks) {
    EXPECT_TRUE(l.lock(*a)) << l.name;
    EXPECT_FALSE(l.lock(*b)) << l.name;
    EXPECT_TRUE(l.unlock(*a)) << l.name;
    EXPECT_FALSE(l.unlock(*a)) << l.name;
    EXPECT_TRUE(l.lock(*b)) << l.name;
    EXPECT_TRUE(l.unlock(*b)) << l.name;
  }
  ASSERT_TRUE(a->LockLastObjectID());
  EXPECT_EQ(CodeOf([&] { b->GetNextObjectID(1, 0); }), 30401);
  EXPECT_TRUE(a->UnlockLastObjectID());
  ASSERT_TRUE(a->LockPageByte(3, 0));
  EXPECT_TRUE(b->IsPageByteLocked(3, 0));
  EXPECT_TRUE(b->IsPageRegionLocked(2, 250, 10));
  EXPECT_FALSE(b->IsPageRegionLocked(3, 1, 10));
}

// Pages taken one after the other walk forward through the file: the cache reads the pages ahead in
// runs. What a run brings in must be what a read of each page alone would give: the committed
// version (not another session's change), the same type check and, in an encrypted file, the same
// decryption and checksum check.
TEST(NRDDiskPageManager, ReadAheadGivesWhatSingleReadsGive) {
  TempDir dir;
  for (const bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted);
    const std::string path = dir.File(encrypted ? "ahead-enc.at4" : "ahead.at4");
    const TNRDPassword password = encrypted ? TNRDPassword{"ahead", static_cast<TNRDCryptoAlgorithm>(1)} : TNRDPassword{};
    std::vector<std::int32_t> pages;
    {
      auto pm = CreateDb(path, 512, 4, password);
      for (int i = 0; i < 150; ++i) {
        const std::uint16_t type = i == 40 ? ptTableIndex : ptTableRecord;
        pages.push_back(AddFilledPage(*pm, 0, static_cast<std::uint8_t>(i + 1), type));
      }
      pm->ApplyChanges(0);
    }
    // The checksum of page 70 fails (encrypted file) or its data is changed (plain file).
    std::vector<std::uint8_t> bytes = ReadAll(path);
    bytes[380 + static_cast<std::size_t>(pages[70]) * 512 + 100] ^= 0x01;
    WriteAll(path, bytes);

    auto pm = OpenDb(path, password);
    pm->SetCacheCapacity(1000);
    // Session 1 changes page 60 and does not commit yet.
    FillPage(*pm, 1, pages[60], 0xEE);
    for (int i = 0; i < 150; ++i) {
      const std::int32_t no = pages[static_cast<std::size_t>(i)];
      if (i == 40) {
        ExpectNRD([&] { pm->GetPage(0, no, ptTableRecord); }, 20153, "Expecting type 10, but found 12");
        TNRDPage* page = pm->GetPage(0, no, ptTableIndex);
        EXPECT_EQ(page->PageData()[0], i + 1);
        pm->PutPage(page);
      } else if (i == 70 && encrypted) {
        ExpectNRD([&] { pm->GetPage(0, no, ptTableRecord); }, 30446, "Check CRC failed");
      } else {
        TNRDPage* page = pm->GetPage(0, no, ptTableRecord);
        EXPECT_EQ(page->PageData()[0], i + 1) << i;
        EXPECT_EQ(page->PageData()[60], i == 70 ? (i + 1) ^ 0x01 : i + 1) << i;
        pm->PutPage(page);
      }
      // The run reads did happen: more pages are cached than were taken.
      if (i == 20) {
        EXPECT_GT(pm->SharedPages().Count(), i + 1);
      }
    }
    EXPECT_EQ(FirstDataByte(*pm, 1, pages[60]), 0xEE);
    pm->ApplyChanges(1);
    EXPECT_EQ(FirstDataByte(*pm, 0, pages[60]), 0xEE);
  }
}

// Lookups miss an index leaf and then the record page just behind it: that is no walk through the
// file, and reading ahead there would only push useful pages out of the cache.
TEST(NRDDiskPageManager, LookupsDoNotReadAhead) {
  TempDir dir;
  const std::string path = dir.File("lookups.at4");
  const std::vector<std::int32_t> pages = CreateFilledDb(path, 200, 0);
  auto pm = OpenDb(path);
  pm->SetCacheCapacity(1000);
  const int pairs[][2] = {{100, 102}, {20, 21}, {150, 155}, {60, 61}, {170, 172}, {5, 9}};
  for (const auto& pair : pairs) {
    for (const int i : pair) EXPECT_EQ(FirstDataByte(*pm, 0, pages[static_cast<std::size_t>(i)]), i);
  }
  EXPECT_EQ(pm->SharedPages().Count(), 12);
}

// Reading ahead never serves a page of a change set that may still be undone: not inside one,
// and not while a transaction has spilled its pages to the file.
TEST(NRDDiskPageManager, ReadAheadKeepsOutOfSpilledTransactions) {
  TempDir dir;
  const std::string path = dir.File("ahead-spill.at4");
  const std::vector<std::int32_t> pages = CreateFilledDb(path, 80, 1);
  auto pm = OpenDb(path);
  pm->SetCacheCapacity(1000);
  pm->SetSpillBudget(512 * 4);
  for (int i = 0; i < 80; i += 2) FillPage(*pm, 1, pages[static_cast<std::size_t>(i)], 0xAA);
  pm->SpillIfOverBudget(1);
  ASSERT_TRUE(pm->SpillActive(1));
  for (int i = 0; i < 80; ++i) EXPECT_EQ(FirstDataByte(*pm, 0, pages[static_cast<std::size_t>(i)]), i + 1) << i;
  pm->CancelChanges(1);
  for (int i = 0; i < 80; ++i) EXPECT_EQ(FirstDataByte(*pm, 2, pages[static_cast<std::size_t>(i)]), i + 1) << i;
}

}  // namespace
