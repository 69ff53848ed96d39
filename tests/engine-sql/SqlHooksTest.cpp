// The expression layer behind the engine's hooks, on MEMORY and disk tables opened as data sets:
// filters, Locate, expression defaults and check constraints run through the real expression
// object, and a filter on an indexed column is served by an index scan (fewer records read).
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <functional>

#include "engine/components/NRDAdvDefs.h"
#include "engine/components/NRDDataSet.h"
#include "engine/components/NRDLocalCursor.h"
#include "engine/components/NRDSession.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/sql/NRDExpressions.h"
#include "tests/engine-sql/SqlTableSet.h"

using namespace nrd;

namespace {

using sqltest::TableSet;

// Surnames in the code page of the engine's texts (Windows-1251): Иванов, Ивашкин, Петров.
const char* const kSurnames[] = {"\xC8\xE2\xE0\xED\xEE\xE2", "\xC8\xE2\xE0\xF8\xEA\xE8\xED", "\xCF\xE5\xF2\xF0\xEE\xE2",
                                 "Smith", "Sidorov"};
constexpr int kRows = 600;

struct Row {
  int id;
  std::string surname;
  int year;
};

Row RowOf(int i) { return {i, kSurnames[i % 5], 1700 + (i * 7) % 300}; }

class SqlHooks : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    EngineStartup();
    sql::InstallExpressionHooks();
    memory_ = GetParam();
    if (memory_) {
      session_.FDatabaseName = "Memory";
    } else {
      dir_ = std::filesystem::temp_directory_path() / ("trevolan-sqlhooks-" + std::to_string(::getpid()));
      std::filesystem::create_directories(dir_);
      const std::string file = (dir_ / "family.at4").string();
      TNRDLocalSession creator;
      creator.FDatabaseFileName = file;
      creator.CreateDatabase();
      session_.FDatabaseName = "Family";
      session_.FDatabaseFileName = file;
    }
    session_.SetConnected(true);
  }
  void TearDown() override {
    session_.SetConnected(false);
    sql::RemoveExpressionHooks();
    EngineShutdown();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  // People(ID primary key, Surname, Born (a year; YEAR itself is a reserved word), Added default CURRENT_DATE, Rank 0..10 default 5),
  // with indexes on Born and (case-insensitive) on Surname when asked, filled with kRows rows.
  void CreatePeople(bool yearIndex) {
    TNRDAdvFieldDefs adv;
    adv.Add("ID", aftInteger, 0, true);
    adv.Add("Surname", aftString, 30, false);
    adv.Add("Born", aftInteger, 0, false);
    adv.Add("Added", aftDate, 0, false).FDefaultValue.SetAsAnsiString("CURRENT_DATE");
    TNRDAdvFieldDef& rank = adv.Add("Rank", aftInteger, 0, false);
    rank.FDefaultValue.SetAsInteger(5);
    rank.FMinValue.SetAsInteger(0);
    rank.FMaxValue.SetAsInteger(10);
    TFieldDefs plain;
    AdvFieldDefsToFieldDefs(adv, plain);
    TNRDIndexDefs indexes;
    MakeEngineIndexDef("PK", "ID", ixPrimary | ixUnique, false, "", "", "", plain, *indexes.AddCreated());
    if (yearIndex) {
      MakeEngineIndexDef("ByBorn", "Born", 0, false, "", "", "", plain, *indexes.AddCreated());
      MakeEngineIndexDef("BySurname", "Surname", ixCaseInsensitive, false, "", "Surname", "", plain,
                         *indexes.AddCreated());
    }
    TNRDFieldDefs fields;
    TNRDConstraintDefs constraints;
    AdvFieldDefsToEngineDefs(adv, indexes, false, fields, constraints);
    TNRDLocalCursor c;
    c.SetSession(&session_);
    c.SetTableName("People");
    c.CreateTable(fields, indexes, constraints);
    TableSet ds(session_, "People", memory_);
    ds.Open();
    // One transaction: a disk table then writes its pages once, not once per record.
    session_.StartTransaction();
    for (int i = 0; i < kRows; ++i) {
      const Row r = RowOf(i);
      ds.AppendRecord({IntValue(r.id), TextValue(r.surname), IntValue(r.year)});
    }
    session_.Commit(true);
  }

  // The rows the filter lets through, counted while the data set is walked.
  int CountFiltered(const std::string& filter, TFilterOptions options = 0) {
    TableSet ds(session_, "People", memory_);
    ds.Open();
    ds.SetFilterOptions(options);
    ds.SetFilter(filter);
    ds.SetFiltered(true);
    int n = 0;
    for (ds.First(); !ds.Eof(); ds.Next()) ++n;
    return n;
  }

  bool memory_ = true;
  TNRDLocalSession session_;
  std::filesystem::path dir_;
};

struct FilterCase {
  std::string filter;
  TFilterOptions options;
  std::function<bool(const Row&)> expected;
};

TEST_P(SqlHooks, FiltersAgreeWithAPlainPredicate) {
  CreatePeople(true);
  const std::string iv = "\xC8\xE2";  // Ив
  const FilterCase cases[] = {
      {"Born = 1800", 0, [](const Row& r) { return r.year == 1800; }},
      {"Born >= 1800 AND Born <= 1810", 0, [](const Row& r) { return r.year >= 1800 && r.year <= 1810; }},
      {"Surname LIKE '" + iv + "%'", 0, [&](const Row& r) { return r.surname.rfind(iv, 0) == 0; }},
      {"Surname LIKE '%ov'", 0, [](const Row& r) { return r.surname.size() > 2 && r.surname.substr(r.surname.size() - 2) == "ov"; }},
      {"Surname = 'smith'", foCaseInsensitive, [](const Row& r) { return r.surname == "Smith"; }},
      {"Surname = 'smith'", 0, [](const Row&) { return false; }},
      {"Surname = 'Smi*'", 0, [](const Row& r) { return r.surname == "Smith"; }},
      {"Surname = 'Smi*'", foNoPartialCompare, [](const Row&) { return false; }},
      {"Born BETWEEN 1800 AND 1900 AND Surname LIKE '" + iv + "%'", 0,
       [&](const Row& r) { return r.year >= 1800 && r.year <= 1900 && r.surname.rfind(iv, 0) == 0; }},
      {"Born IN (1700, 1701) OR ID = 5", 0, [](const Row& r) { return r.year == 1700 || r.year == 1701 || r.id == 5; }},
      {"NOT (Born > 1750)", 0, [](const Row& r) { return r.year <= 1750; }},
      {"UPPER(Surname) = 'SMITH'", 0, [](const Row& r) { return r.surname == "Smith"; }},
      {"ID * 2 + 1 = 11", 0, [](const Row& r) { return r.id == 5; }},
      {"1800 < Born AND Born < 1803", 0, [](const Row& r) { return r.year > 1800 && r.year < 1803; }},
  };
  for (const FilterCase& c : cases) {
    int expected = 0;
    for (int i = 0; i < kRows; ++i) expected += c.expected(RowOf(i)) ? 1 : 0;
    EXPECT_EQ(CountFiltered(c.filter, c.options), expected) << c.filter;
  }
}

TEST_P(SqlHooks, BadFiltersAreEngineErrors) {
  CreatePeople(false);
  const std::pair<const char*, int> cases[] = {{"Nosuch = 1", 30115}, {"ID = :p", 30358}, {"", 0}, {"= 1", 30066}, {"YEAR = 1800", 30066},
                                               {"(ID = 1", 30059}};
  for (const auto& [filter, code] : cases) {
    try {
      const int n = CountFiltered(filter);
      EXPECT_EQ(code, 0) << filter << " gave " << n << " rows";
    } catch (const ENRDException& e) {
      EXPECT_EQ(e.NativeError, code) << filter;
    }
  }
}

TEST_P(SqlHooks, LocateThroughTheExpressionObject) {
  CreatePeople(true);
  TableSet ds(session_, "People", memory_);
  ds.Open();
  const Row r = RowOf(123);
  ASSERT_TRUE(ds.Locate("Surname;Born", {TextValue(r.surname), IntValue(r.year)}, 0));
  EXPECT_EQ(ds.FieldByName("Surname").AsString(), r.surname);
  EXPECT_EQ(ds.FieldByName("Born").AsInteger(), r.year);
  EXPECT_FALSE(ds.Locate("Surname", {TextValue("smith")}, 0));
  ASSERT_TRUE(ds.Locate("Surname", {TextValue("smi")}, loCaseInsensitive | loPartialKey));
  EXPECT_EQ(ds.FieldByName("Surname").AsString(), "Smith");
  ASSERT_TRUE(ds.Locate("ID", {IntValue(77)}, 0));
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 77);
  EXPECT_THROW(ds.Locate("Surname;Born", {TextValue("x")}, 0), ENRDException);  // 2 names, 1 value
}

// A wide key against an 8-bit column is narrowed to the code page only when every letter survives:
// narrowed blindly, a letter the code page lacks would turn into '?' and find a lookalike.
TEST_P(SqlHooks, AWideKeyIsNarrowedOnlyWhenTheCodePageHoldsIt) {
  CreatePeople(false);
  TableSet ds(session_, "People", memory_);
  ds.Open();
  ds.AppendRecord({IntValue(5000), TextValue("?mega"), IntValue(1)});
  auto wide = [](std::u16string text) {
    TVariantValue v(varUString);
    v.Wide = std::move(text);
    return v;
  };
  const std::pair<std::u16string, int> cases[] = {
      {u"\u03A9mega", -1},  // Greek capital omega: not in Windows-1251
      {u"?mega", 5000},
      {u"Smith", 3},
  };
  for (const auto& [key, id] : cases) {
    ds.First();
    EXPECT_EQ(ds.Locate("Surname", {wide(key)}, 0), id >= 0) << id;
    if (id >= 0) {
      EXPECT_EQ(ds.FieldByName("ID").AsInteger(), id);
    }
  }
}

// Text BLOB columns (memo and wide memo) are read whole into the expression.
TEST_P(SqlHooks, FiltersReadTextBlobColumns) {
  TNRDAdvFieldDefs adv;
  adv.Add("ID", aftInteger, 0, true);
  adv.Add("Body", aftMemo, 0, false);
  adv.Add("WBody", aftWideMemo, 0, false);
  TFieldDefs plain;
  AdvFieldDefsToFieldDefs(adv, plain);
  TNRDIndexDefs indexes;
  MakeEngineIndexDef("PK", "ID", ixPrimary | ixUnique, false, "", "", "", plain, *indexes.AddCreated());
  TNRDFieldDefs fields;
  TNRDConstraintDefs constraints;
  AdvFieldDefsToEngineDefs(adv, indexes, false, fields, constraints);
  TNRDLocalCursor c;
  c.SetSession(&session_);
  c.SetTableName("Notes");
  c.CreateTable(fields, indexes, constraints);
  const std::string longText = std::string(100000, 'x') + "needle";
  const std::string texts[] = {"short note", longText, ""};
  {
    TableSet ds(session_, "Notes", memory_);
    ds.Open();
    for (int i = 0; i < 3; ++i) {
      ds.Append();
      ds.FieldByName("ID").SetAsInteger(i + 1);
      if (!texts[i].empty()) {
        ds.FieldByName("Body").SetAsString(texts[i]);
        ds.FieldByName("WBody").SetAsString(texts[i]);
      }
      ds.Post();
    }
  }
  auto ids = [&](const std::string& filter) {
    TableSet ds(session_, "Notes", memory_);
    ds.Open();
    ds.SetFilter(filter);
    ds.SetFiltered(true);
    std::vector<int> r;
    for (ds.First(); !ds.Eof(); ds.Next()) r.push_back(ds.FieldByName("ID").AsInteger());
    return r;
  };
  const std::pair<const char*, std::vector<int>> cases[] = {
      {"Body = 'short note'", {1}},
      {"Body LIKE '%needle'", {2}},
      {"Body IS NULL", {3}},
      {"UPPER(Body) LIKE 'SHORT%'", {1}},
      {"WBody LIKE '%needle'", {2}},
      {"WBody = 'short note'", {1}},
      {"WBody IS NOT NULL", {1, 2}},
  };
  for (const auto& [filter, expected] : cases) EXPECT_EQ(ids(filter), expected) << filter;
}

// LASTAUTOINC reads the last number a table's autoincrement column gave out.
TEST_P(SqlHooks, LastAutoincOfATable) {
  TNRDAdvFieldDefs adv;
  adv.Add("ID", aftAutoInc, 0, true);
  adv.Add("Name", aftString, 20, false);
  TFieldDefs plain;
  AdvFieldDefsToFieldDefs(adv, plain);
  TNRDIndexDefs indexes;
  TNRDFieldDefs fields;
  TNRDConstraintDefs constraints;
  AdvFieldDefsToEngineDefs(adv, indexes, false, fields, constraints);
  TNRDLocalCursor c;
  c.SetSession(&session_);
  c.SetTableName("Counters");
  c.CreateTable(fields, indexes, constraints);
  TableSet ds(session_, "Counters", memory_);
  ds.Open();
  for (const char* name : {"a", "b", "c"}) {
    ds.Append();
    ds.FieldByName("Name").SetAsString(name);
    ds.Post();
  }
  ds.Last();
  const int last = ds.FieldByName("ID").AsInteger();
  auto names = [&](const std::string& filter) {
    ds.SetFilter(filter);
    ds.SetFiltered(true);
    std::string r;
    for (ds.First(); !ds.Eof(); ds.Next()) r += ds.FieldByName("Name").AsString();
    ds.SetFiltered(false);
    return r;
  };
  EXPECT_EQ(names("ID = LASTAUTOINC(Counters, ID)"), "c");
  EXPECT_EQ(names("ID < LASTAUTOINC(Counters, id) - 1"), last >= 2 ? "a" : "");
  const std::pair<const char*, int> errors[] = {{"ID = LASTAUTOINC(Counters, Nosuch)", 30337},
                                                {"ID = LASTAUTOINC(Counters ID)", 30334}};
  for (const auto& [filter, code] : errors) {
    try {
      names(filter);
      ADD_FAILURE() << filter;
    } catch (const ENRDException& e) {
      EXPECT_EQ(e.NativeError, code) << filter;
    }
  }
  EXPECT_ANY_THROW(names("ID = LASTAUTOINC(Nosuch, ID)"));
  // Without a cursor (a column default) there is no session to look in: the text is no expression.
  sql::TNRDExpression e;
  EXPECT_FALSE(e.ParseForDefaultValueExpression("LASTAUTOINC(Counters, ID)"));
}

TEST_P(SqlHooks, DefaultsAndChecksOnNewRecords) {
  CreatePeople(false);
  TableSet ds(session_, "People", memory_);
  ds.Open();
  ds.Append();
  ds.FieldByName("ID").SetAsInteger(100000);
  ds.Post();
  ASSERT_TRUE(ds.Locate("ID", {IntValue(100000)}, 0));
  // CURRENT_DATE is computed; the literal 5 is stored as it stands.
  EXPECT_EQ(static_cast<int>(ds.FieldByName("Added").AsDateTime()), static_cast<int>(Now()));
  EXPECT_EQ(ds.FieldByName("Rank").AsInteger(), 5);
  ds.Append();
  ds.FieldByName("ID").SetAsInteger(100001);
  ds.FieldByName("Rank").SetAsInteger(11);
  EXPECT_ANY_THROW(ds.Post());
  ds.Cancel();
  EXPECT_FALSE(ds.Locate("ID", {IntValue(100001)}, 0));
}

TEST_P(SqlHooks, AnIndexServesTheFilter) {
  const std::string filter = "Born >= 1800 AND Born <= 1809 AND Surname LIKE '%o%'";
  int expected = 0, inRange = 0;
  for (int i = 0; i < kRows; ++i) {
    const Row r = RowOf(i);
    inRange += r.year >= 1800 && r.year <= 1809 ? 1 : 0;
    expected += r.year >= 1800 && r.year <= 1809 && r.surname.find('o') != std::string::npos ? 1 : 0;
  }
  CreatePeople(false);
  std::int64_t before = sql::StorageEvaluationCount();
  EXPECT_EQ(CountFiltered(filter), expected);
  const std::int64_t withoutIndex = sql::StorageEvaluationCount() - before;
  session_.SetConnected(false);
  TearDown();
  SetUp();
  CreatePeople(true);
  before = sql::StorageEvaluationCount();
  EXPECT_EQ(CountFiltered(filter), expected);
  const std::int64_t withIndex = sql::StorageEvaluationCount() - before;
  // Without the index every record is tested; with it only those of the key range.
  EXPECT_GE(withoutIndex, kRows);
  EXPECT_LE(withIndex, 3 * inRange);
  EXPECT_GT(withIndex, 0);
}

// Which conditions of a filter an index can serve: each row lists the key conditions the expression
// offers for the indexes on Born (ascending) and on Surname (case-insensitive), as "index:condition".
TEST_P(SqlHooks, WhichConditionsAnIndexCanServe) {
  CreatePeople(true);
  TNRDLocalCursor cursor;
  cursor.SetSession(&session_);
  cursor.SetTableName("People");
  cursor.SetInMemory(memory_);
  TNRDFieldDefs f;
  TNRDIndexDefs i;
  TNRDConstraintDefs k;
  cursor.OpenTableByFieldDefs(f, i, k);
  const TNRDIndexDefs& defs = cursor.GetIndexDefs();
  auto offered = [&](const std::string& filter, bool caseInsensitive = false) {
    sql::TNRDExpression e;
    e.ParseForFilter(&cursor, filter, caseInsensitive, true);
    TNRDScanSearchConditionArray conditions;
    e.CreateIndexScanConditions(defs, conditions, cursor.SessionID());
    std::string r;
    static const char* names[] = {"none", "=", "<", ">", "<=", ">="};
    for (std::int32_t n = 0; n < conditions.Count(); ++n) {
      const TNRDScanSearchCondition& c = *conditions.Item(n);
      const TNRDIndexDef* def = defs.GetIndexDefByObjectId(c.IndexID);
      r += (r.empty() ? "" : " ") + (def != nullptr ? def->FName : std::string("?")) + ":" + names[c.Condition];
    }
    return r;
  };
  const std::pair<const char*, const char*> cases[] = {
      {"Born = 1800", "ByBorn:="},
      {"1800 < Born", "ByBorn:>"},
      {"Born <= 1800 AND ID > 5", "ByBorn:<= PK:>"},
      {"Born <> 1800", ""},
      {"Born = 1800 OR ID = 1", ""},
      {"NOT (Born = 1800)", ""},
      {"Born IS NULL", "ByBorn:="},
      {"Born IS NOT NULL", "ByBorn:>"},
      {"Born = NULL", ""},
      {"Born + 0 = 1800", ""},
      {"Surname LIKE 'Sm%'", ""},        // a prefix comparison is partial: never a key
      {"Surname = 'Smith'", ""},         // case-sensitive against a case-insensitive index
      {"UPPER(Surname) = 'SMITH'", "BySurname:="},
      {"UPPER(Surname) = 'Smith'", ""},
  };
  for (const auto& [filter, expected] : cases) EXPECT_EQ(offered(filter), expected) << filter;
  EXPECT_EQ(offered("Surname = 'smith'", true), "BySurname:=");
}

INSTANTIATE_TEST_SUITE_P(Engines, SqlHooks, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Memory" : "Disk"; });

}  // namespace
