// The database-wide index check (what nrd-check prints) over a real database file: sound trees
// report ok, a damaged page on disk is reported with the engine's error.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "engine/storage/NRDBTreeCheck.h"
#include "engine/storage/NRDBTreePage.h"
#include "engine/storage/NRDPageIndex.h"
#include "tests/engine-storage/StorageTestUtil.h"

using namespace nrd;
using namespace storagetest;

namespace {

TEST(BTreeCheck, ReportsEveryTreeAndFindsDamageOnDisk) {
  TempDir dir;
  const std::string path = dir.File("check.at4");
  const std::int32_t pageSize = 256;
  std::int32_t recordIndexRoot = -1;
  std::int32_t blobIndexRoot = -1;
  {
    auto pm = CreateDb(path, pageSize);
    TNRDBTreeRecordPageIndex records(pm.get());
    records.FMaxRecordsOnPage = 100;
    records.CreateIndex(1);
    for (int p = 0; p < 400; ++p) records.AddRecord(1, 5000 + p, 1 + p % 50);
    TNRDBTreeBlobPageIndex blobs(pm.get());
    blobs.CreateIndex(1);
    blobs.AddBlob(1, 100, 42);
    recordIndexRoot = records.RootPageNo();
    blobIndexRoot = blobs.RootPageNo();
    pm->ApplyChanges(1);
    pm->CloseDatabase();
  }
  auto check = [&](std::string& text) {
    auto pm = OpenDb(path);
    std::ostringstream out;
    const bool sound = CheckDatabaseIndexes(*pm, out);
    pm->CloseDatabase();
    text = out.str();
    return sound;
  };
  std::string text;
  ASSERT_TRUE(check(text)) << text;
  EXPECT_NE(text.find("index #" + std::to_string(recordIndexRoot) + " ok\n"), std::string::npos) << text;
  EXPECT_NE(text.find("index #" + std::to_string(blobIndexRoot) + " ok\n"), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - 3), "ok\n");

  // Two neighbouring leaf keys swapped on disk: the page index's order check finds it.
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  std::vector<char> page(pageSize);
  bool planted = false;
  for (std::int32_t no = 0; !planted; ++no) {
    file.seekg(380 + static_cast<std::streamoff>(no) * pageSize);  // pages follow the 380-byte file header
    if (!file.read(page.data(), pageSize)) break;
    std::uint16_t type;
    std::memcpy(&type, page.data() + 8, 2);
    const char* data = page.data() + 40;
    std::uint16_t count;
    std::memcpy(&count, data + 14, 2);
    if (std::memcmp(page.data(), "NRDP", 4) != 0 || type != kIndexPageType || data[0] != 0 || data[1] != 1 ||
        count < 3)
      continue;
    char tmp[4];
    char* e0 = page.data() + 40 + 18;
    char* e1 = e0 + 6;
    std::memcpy(tmp, e0, 4);
    std::memcpy(e0, e1, 4);
    std::memcpy(e1, tmp, 4);
    file.seekp(380 + static_cast<std::streamoff>(no) * pageSize);
    file.write(page.data(), pageSize);
    planted = true;
  }
  file.close();
  ASSERT_TRUE(planted);
  EXPECT_FALSE(check(text));
  EXPECT_NE(text.find("damaged: Index integrity error. PageNo="), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - 8), "damaged\n");
}

}  // namespace
