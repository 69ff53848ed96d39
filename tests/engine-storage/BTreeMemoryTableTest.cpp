// The B-tree record index inside a real engine table (the memory engine): built over existing
// records through the table's own record manager, then kept in step with inserts, updates and
// deletes made through the table, and walked through the index manager in collation order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDText.h"
#include "engine/storage/NRDBTreeRecordIndex.h"
#include "engine/storage/NRDMemoryEngine.h"
#include "tests/engine-storage/EngineTestTables.h"

using namespace nrd;
using namespace enginetest_tables;

namespace {

std::string RandomName(std::mt19937& rng) {
  // Latin and Cyrillic letters in both cases (Windows-1251 bytes), so the order is the collation's.
  static const char letters[] = "abcABC\xE0\xE1\xE2\xC0\xC1";
  std::string s(1 + rng() % 8, 'a');
  for (char& c : s) c = letters[rng() % (sizeof(letters) - 1)];
  return s;
}

TEST(BTreeMemoryTable, IndexFollowsTheTableInCollationOrder) {
  TNRDMemoryDatabaseData db;
  TestSession session;
  db.ConnectSession(&session);
  {
    TableCursor t(db, session, "PEOPLE");
    t.Create(false);
    std::mt19937 rng(17);
    std::map<std::int32_t, std::string> names;  // by ID
    for (int id = 0; id < 300; ++id) {
      names[id] = RandomName(rng);
      ASSERT_TRUE(t.Insert(id, names[id]));
    }
    t.table->IndexManager().FIndexCreator = [](TNRDBaseIndexManager& m) {
      return std::make_unique<TNRDBTreeRecordIndex>(&m);
    };
    TNRDIndexDef def;
    def.FName = "BYNAME";
    def.AssignByNames({"NAME"}, {""}, {""});
    def.GetIndexColumn(0).FMaxIndexedSize = 4;
    const std::int32_t indexID = t.table->AddIndex(def, &t.cursor);

    // Changes through the table: inserts, key updates, deletes.
    for (int id = 300; id < 400; ++id) {
      names[id] = RandomName(rng);
      ASSERT_TRUE(t.Insert(id, names[id]));
    }
    std::vector<std::uint8_t> edit(static_cast<std::size_t>(t.size));
    t.cursor.FEditRecordBuffer = edit.data();
    for (int n = 0; n < 60; ++n) {
      const std::int32_t id = static_cast<std::int32_t>(rng() % 400);
      t.cursor.CurrentRecordID = TNRDPageItemID{id, 0};
      if (names.count(id) == 0 || t.Read(grmCurrent) != grrOK) continue;
      std::memcpy(edit.data(), t.Rec(), edit.size());
      if (n % 2 == 0) {
        names[id] = RandomName(rng);
        t.Fill(id, names[id]);
        ASSERT_TRUE(t.table->UpdateRecord(&t.cursor));
      } else {
        ASSERT_TRUE(t.table->DeleteRecord(&t.cursor));
        names.erase(id);
      }
    }
    t.cursor.FEditRecordBuffer = nullptr;

    auto* index = static_cast<TNRDBTreeRecordIndex*>(t.table->IndexManager().OpenIndex(indexID));
    ASSERT_NO_THROW(index->CheckIntegrity(session.FSessionID));
    // Expected: collation order of the names, ties by record ID (= slot = ID here).
    std::vector<std::int32_t> expected;
    std::vector<std::pair<std::int32_t, std::string>> sorted;
    for (auto& [id, name] : names) sorted.push_back({id, name});
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
      const int c = AnsiCompareText(a.second, b.second, false) - CSTR_EQUAL;
      return c != 0 ? c < 0 : a.first < b.first;
    });
    for (auto& s : sorted) expected.push_back(s.first);

    std::vector<std::int32_t> walked;
    TNRDNavigationInfo nav;
    nav.IndexID = indexID;
    nav.GetRecordMode = grmNext;
    nav.FirstPosition = true;
    nav.RecordBuffer = t.cursor.FCurrentRecordBuffer;
    for (;;) {
      t.table->IndexManager().GetRecordBuffer(session.FSessionID, nav, nullptr, 0);
      if (nav.GetRecordResult != grrOK) break;
      walked.push_back(t.Id());
    }
    EXPECT_EQ(walked, expected);
    for (std::size_t i = 0; i < walked.size() && i < expected.size(); ++i)
      if (walked[i] != expected[i]) ADD_FAILURE() << i << ": " << names[walked[i]] << " / " << names[expected[i]];
    t.table->CloseTable(&t.cursor);
  }
  db.DisconnectSession(&session);
}

}  // namespace
