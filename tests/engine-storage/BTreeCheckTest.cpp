// The database-wide index check (what nrd-check prints) over a real database file: sound trees
// report ok, a damaged page on disk is reported with the engine's error.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDBTreeCheck.h"
#include "engine/storage/NRDBTreeRecordIndex.h"
#include "engine/storage/NRDDiskDatabase.h"
#include "tests/engine-storage/EngineTestTables.h"
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
    if (std::memcmp(page.data(), "NRDP", 4) != 0 || type != ptTableIndex || data[0] != 0 || data[1] != 1 ||
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

// Swaps the first two entries of the first leaf page whose key size is keySize; false when none.
bool SwapLeafEntries(const std::string& path, std::int32_t pageSize, std::uint16_t keySize, std::int32_t entrySize) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  std::vector<char> page(static_cast<std::size_t>(pageSize));
  for (std::int32_t no = 0;; ++no) {
    file.seekg(380 + static_cast<std::streamoff>(no) * pageSize);  // pages follow the 380-byte file header
    if (!file.read(page.data(), pageSize)) return false;
    std::uint16_t type, keys, count;
    std::memcpy(&type, page.data() + 8, 2);
    const char* data = page.data() + 40;
    std::memcpy(&keys, data + 12, 2);
    std::memcpy(&count, data + 14, 2);
    if (std::memcmp(page.data(), "NRDP", 4) != 0 || type != ptTableIndex || data[1] != 1 || keys != keySize ||
        count < 3)
      continue;
    std::vector<char> tmp(page.data() + 58, page.data() + 58 + keySize);
    std::memcpy(page.data() + 58, page.data() + 58 + entrySize, keySize);
    std::memcpy(page.data() + 58 + entrySize, tmp.data(), keySize);
    file.seekp(380 + static_cast<std::streamoff>(no) * pageSize);
    file.write(page.data(), pageSize);
    return true;
  }
}

TEST(BTreeCheck, NamesEveryTableAndIndexOfADiskDatabase) {
  TempDir dir;
  const std::string path = dir.File("people.at4");
  const TNRDRecordIndexCreator previous = DefaultRecordIndexCreator();
  RegisterBTreeRecordIndex();
  {
    TNRDDiskDatabaseData creator;
    creator.FDatabaseName = path;
    creator.FPageSize = 1024;
    creator.FMaxSessionCount = 4;
    creator.CreateDatabase();
    enginetest_tables::TestSession session;
    TNRDDiskDatabaseData db;
    db.FDatabaseName = path;
    db.ConnectSession(&session);
    {
      enginetest_tables::TableCursor t(db, session, "PEOPLE");
      t.Create(false);
      for (int i = 0; i < 150; ++i) ASSERT_TRUE(t.Insert(i, "name" + std::to_string((i * 37) % 101)));
      TNRDIndexDef def;
      def.FName = "BYNAME";
      def.AssignByNames({"NAME"}, {""}, {""});
      t.table->AddIndex(def, &t.cursor);
      for (int i = 150; i < 200; ++i) ASSERT_TRUE(t.Insert(i, "late" + std::to_string(i)));
      t.table->CloseTable(&t.cursor);
    }
    db.DisconnectSession(&session);
  }
  SetDefaultRecordIndexCreator(previous);
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
  EXPECT_EQ(text,
            "table PEOPLE records 200\n"
            "index PEOPLE.BYNAME ok\n"
            "index PEOPLE.RecordPageIndex ok\n"
            "ok\n");
  // NAME is String(20), 21 bytes in memory, indexed on 20: key 1 + 20 + 2 added bytes, leaf entry + 6.
  ASSERT_TRUE(SwapLeafEntries(path, 1024, 23, 29));
  EXPECT_FALSE(check(text));
  EXPECT_NE(text.find("index PEOPLE.BYNAME damaged: Index integrity error. PageNo="), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - 8), "damaged\n");
}

}  // namespace
