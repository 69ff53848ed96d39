// The short way of filters through a record buffer against the general evaluation of the same tree,
// record by record: where the short way answers, it must give the general answer, and it must answer
// for the forms it is made for (else it is no short way at all). The records hold what the short
// way must leave to the general evaluation: NULLs, case variants, texts that differ in bytes but
// not under the collation (a soft hyphen, a control character), and the widths of integers.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/components/NRDAdvDefs.h"
#include "engine/components/NRDDataSet.h"
#include "engine/components/NRDLocalCursor.h"
#include "engine/components/NRDSession.h"
#include "engine/foundation/NRDVariant.h"
#include "engine/sql/NRDExpressions.h"
#include "tests/engine-sql/SqlTableSet.h"

using namespace nrd;

namespace {

using sqltest::TableSet;

// Windows-1251 texts: Ив, Иван, ив, ИВАН, Ёж, Еж, ёж; a soft hyphen (0xAD) and a control character
// inside a name, which the collation ignores.
const std::string kIv = "\xC8\xE2";
const std::vector<std::string> kNames = {
    "\xC8\xE2\xE0\xED",      // Иван
    "\xE8\xE2\xE0\xED",      // иван
    "\xC8\xC2\xC0\xCD",      // ИВАН
    "\xC8\xAD\xE2\xE0\xED",  // И-soft hyphen-ван
    "\xC8\x01\xE2",          // И, a control character, в
    "\xC8",                  // И
    "",                      // empty, not NULL
    "\xA8\xE6",              // Ёж
    "\xC5\xE6",              // Еж
    "\xB8\xE6",              // ёж
    "Smith",
    "smith",
    "Smi\xADth",
    "Sm ith",
    "Smith-Jones",
    "\xD0\xE5\xE4\xFC\xEA\xE8\xED",  // Редькин
};

class FastFilter : public ::testing::Test {
 protected:
  void SetUp() override {
    EngineStartup();
    sql::InstallExpressionHooks();
    session_.FDatabaseName = "Memory";
    session_.SetConnected(true);
    TNRDAdvFieldDefs adv;
    adv.Add("ID", aftInteger, 0, true);
    adv.Add("Name", aftString, 20, false);
    adv.Add("Small", aftSmallint, 0, false);
    adv.Add("Big", aftLargeint, 0, false);
    adv.Add("Tiny", aftByte, 0, false);
    TFieldDefs plain;
    AdvFieldDefsToFieldDefs(adv, plain);
    TNRDIndexDefs indexes;
    TNRDFieldDefs fields;
    TNRDConstraintDefs constraints;
    AdvFieldDefsToEngineDefs(adv, indexes, false, fields, constraints);
    TNRDLocalCursor c;
    c.SetSession(&session_);
    c.SetTableName("T");
    c.SetInMemory(true);
    c.CreateTable(fields, indexes, constraints);
    TableSet ds(session_, "T", true);
    ds.Open();
    int id = 0;
    const std::int64_t numbers[] = {-32768, -1, 0, 1, 1800, 32767};
    for (std::size_t n = 0; n <= kNames.size(); ++n) {
      for (std::size_t k = 0; k < std::size(numbers); ++k) {
        ds.Append();
        ds.FieldByName("ID").SetAsInteger(++id);
        if (n < kNames.size()) ds.FieldByName("Name").SetAsString(kNames[n]);  // the last round: NULL
        if (k != 0) {  // the first number of each round: NULL numbers
          ds.FieldByName("Small").SetAsInteger(static_cast<int>(numbers[k]));
          ds.FieldByName("Big").SetAsLargeInt(numbers[k] * 3000000000LL);
          ds.FieldByName("Tiny").SetAsInteger(static_cast<int>(numbers[k] & 0xFF));
        }
        ds.Post();
      }
    }
  }
  void TearDown() override {
    session_.SetConnected(false);
    sql::RemoveExpressionHooks();
    EngineShutdown();
  }

  TNRDLocalSession session_;
};

struct Case {
  std::string filter;
  bool caseInsensitive;
  bool fast;  // the short way is made for this form
};

TEST_F(FastFilter, AnswersAsTheTreeDoes) {
  const Case cases[] = {
      {"Small = 1800", false, true},
      {"Small <> 1", false, true},
      {"Small < 0 AND Big >= 0", false, true},
      {"1800 <= Small", false, true},
      {"0 > Small", false, true},
      {"Big > 3000000000", false, true},
      {"Big <= 3000000000 AND Small <> 32767", false, true},
      {"Small > -1", false, false},                // a negated literal is arithmetic: the tree
      {"Tiny = 255 OR Tiny = 0", false, false},  // OR: the tree
      {"Tiny >= 1", false, true},
      {"Small + 0 = 1", false, false},           // arithmetic: the tree
      {"Name LIKE '" + kIv + "%'", false, true},  // a prefix comparison
      {"Name LIKE '" + kIv + "%'", true, true},
      {"Name NOT LIKE '" + kIv + "%'", false, true},
      {"Name = 'Smith'", false, true},
      {"Name = 'Smith'", true, true},
      {"Name <> 'smith'", true, true},
      {"Name = '\xC5\xE6'", false, true},           // Еж: not Ёж
      {"Name = '\xC5\xE6'", true, true},            // nor ёж without case
      {"Name = ''", false, false},                 // an empty text is NULL: the tree
      {"Name LIKE 'Sm%' AND Small > 0", false, true},
      {"Name < 'Smith'", false, false},             // an order: the collation's
      {"Name LIKE '%n'", false, false},             // a LIKE pattern: the matcher
      {"Name = 'Sm\xADith'", false, false},         // an ignorable character: no bytes alike, the tree
  };
  TNRDLocalCursor cursor;
  cursor.SetSession(&session_);
  cursor.SetTableName("T");
  cursor.SetInMemory(true);
  TNRDFieldDefs f;
  TNRDIndexDefs i;
  TNRDConstraintDefs k;
  cursor.OpenTableByFieldDefs(f, i, k);
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::max(cursor.RecordBufferSize(), 1)));
  TNRDCursor::TLentBuffer lent(cursor, buffer.data());
  for (const Case& c : cases) {
    sql::TNRDExpression e;
    e.ParseForFilter(&cursor, c.filter, c.caseInsensitive, true);
    int decided = 0, records = 0;
    cursor.InternalFirst();
    while (cursor.GetRecordBuffer(grmNext) == grrOK) {
      void* record = buffer.data();
      ++records;
      const int fast = e.DecideRecord(record);
      e.AssignCursorBuffer(record, false);
      TNRDVariant* v = e.GetValue(true);
      const bool general = v != nullptr && !v->IsNull() && v->AsBoolean();
      if (fast >= 0) {
        ++decided;
        EXPECT_EQ(fast == 1, general) << c.filter << " on record " << records;
      }
    }
    ASSERT_GT(records, 0);
    if (c.fast)
      EXPECT_GT(decided, records / 2) << c.filter;
    else
      EXPECT_EQ(decided, 0) << c.filter;
  }
}

// The texts the collation takes for equal although their bytes differ reach the general
// comparison and are found; a NULL column never matches.
TEST_F(FastFilter, FiltersOnADataSetFindCollationEqualTexts) {
  auto ids = [&](const std::string& filter, TFilterOptions options) {
    TableSet ds(session_, "T", true);
    ds.Open();
    ds.SetFilterOptions(options);
    ds.SetFilter(filter);
    ds.SetFiltered(true);
    std::vector<std::string> names;
    for (ds.First(); !ds.Eof(); ds.Next())
      if (ds.FieldByName("Small").AsInteger() == 1) names.push_back(ds.FieldByName("Name").AsString());
    return names;
  };
  // A prefix comparison compares as many bytes as the constant has: И-soft hyphen is not Ив.
  EXPECT_EQ(ids("Name LIKE '" + kIv + "%' AND Small = 1", 0), (std::vector<std::string>{kNames[0]}));
  EXPECT_EQ(ids("Name LIKE '" + kIv + "%' AND Small = 1", foCaseInsensitive),
            (std::vector<std::string>{kNames[0], kNames[1], kNames[2]}));
  // The soft hyphen is ignored by the collation: Smi-soft hyphen-th is Smith.
  EXPECT_EQ(ids("Name = 'Smith' AND Small = 1", 0), (std::vector<std::string>{"Smith", "Smi\xADth"}));
  EXPECT_EQ(ids("Name = 'Sm\x01ith' AND Small = 1", 0), (std::vector<std::string>{"Smith", "Smi\xADth"}));
}

}  // namespace
