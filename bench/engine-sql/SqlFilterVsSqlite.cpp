// The filter  surname LIKE 'Ив%' AND [year] BETWEEN 1800 AND 1900  over the same records in a disk
// table of our engine and in SQLite, counted both ways: our data set with the filter set (its record
// count, which runs the filter over the table or over the index range) against SQLite's
// SELECT count(*) ... WHERE. Run once without and once with an index on the year column; each
// figure is the best of three runs on a warm cache. Prints the counts (which must agree), the times
// and the ratios. (YEAR is a reserved word of our SQL, so the column is written [year].)
//
// Usage: bench_sql_filter_vs_sqlite [rows=1000000] [folder=/tmp]
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/components/NRDAdvDefs.h"
#include "engine/components/NRDDataSet.h"
#include "engine/components/NRDLocalCursor.h"
#include "engine/components/NRDSession.h"
#include "engine/foundation/NRDText.h"
#include "engine/sql/NRDExpressions.h"

using namespace nrd;

namespace {

double Seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// UTF-8 surnames; a quarter of them begin with "Ив".
const char* const kSurnames[] = {"Иванов", "Ивашкин", "Петров", "Сидоров", "Смирнов", "Кузнецов", "Попов", "Васильев"};

std::string Utf8ToAnsi(const std::string& s) {
  std::u16string w;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      w.push_back(c);
      ++i;
    } else {
      w.push_back(static_cast<char16_t>(((c & 0x1F) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3F)));
      i += 2;
    }
  }
  return WideToAnsi(w);
}

struct Row {
  std::string surname;  // UTF-8
  int year;
};

class TableSet : public TNRDDataSet {
 public:
  TableSet(TNRDLocalSession& session, std::string table) : session_(session), table_(std::move(table)) {}
  ~TableSet() override { Close(); }

 protected:
  std::unique_ptr<TNRDCursor> CreateHandle() override {
    auto c = std::make_unique<TNRDLocalCursor>();
    c->SetSession(&session_);
    c->SetTableName(table_);
    TNRDFieldDefs f;
    TNRDIndexDefs i;
    TNRDConstraintDefs k;
    c->OpenTableByFieldDefs(f, i, k);
    return c;
  }

 private:
  TNRDLocalSession& session_;
  std::string table_;
};

void CreateOurs(TNRDLocalSession& session, const std::vector<Row>& rows, bool index) {
  TNRDAdvFieldDefs adv;
  adv.Add("id", aftInteger, 0, true);
  adv.Add("surname", aftString, 30, false);
  adv.Add("year", aftInteger, 0, false);
  TFieldDefs plain;
  AdvFieldDefsToFieldDefs(adv, plain);
  TNRDIndexDefs indexes;
  MakeEngineIndexDef("PK", "id", ixPrimary | ixUnique, false, "", "", "", plain, *indexes.AddCreated());
  if (index) MakeEngineIndexDef("ByYear", "year", 0, false, "", "", "", plain, *indexes.AddCreated());
  TNRDFieldDefs fields;
  TNRDConstraintDefs constraints;
  AdvFieldDefsToEngineDefs(adv, indexes, false, fields, constraints);
  TNRDLocalCursor c;
  c.SetSession(&session);
  c.SetTableName("people");
  c.CreateTable(fields, indexes, constraints);
  TableSet ds(session, "people");
  ds.Open();
  std::vector<std::string> ansi;
  for (const char* s : kSurnames) ansi.push_back(Utf8ToAnsi(s));
  session.StartTransaction();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::size_t k = 0;
    while (rows[i].surname != kSurnames[k]) ++k;
    ds.AppendRecord({IntValue(static_cast<std::int64_t>(i)), TextValue(ansi[k]), IntValue(rows[i].year)});
  }
  session.Commit(true);
}

std::int64_t CountOurs(TNRDLocalSession& session, const std::string& filter) {
  TableSet ds(session, "people");
  ds.Open();
  ds.SetFilter(filter);
  ds.SetFiltered(true);
  return ds.RecordCount();
}

void CreateSqlite(sqlite3* db, const std::vector<Row>& rows, bool index) {
  sqlite3_exec(db, "DROP TABLE IF EXISTS people; CREATE TABLE people(id INTEGER PRIMARY KEY, surname TEXT, year INTEGER)",
               nullptr, nullptr, nullptr);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO people VALUES (?, ?, ?)", -1, &st, nullptr);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    sqlite3_bind_int64(st, 1, static_cast<sqlite3_int64>(i));
    sqlite3_bind_text(st, 2, rows[i].surname.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_int(st, 3, rows[i].year);
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  if (index) sqlite3_exec(db, "CREATE INDEX ByYear ON people(year)", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "ANALYZE", nullptr, nullptr, nullptr);
}

std::int64_t CountSqlite(sqlite3* db) {
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*) FROM people WHERE surname LIKE 'Ив%' AND year BETWEEN 1800 AND 1900", -1,
                     &st, nullptr);
  std::int64_t n = -1;
  if (sqlite3_step(st) == SQLITE_ROW) n = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  return n;
}

template <typename F>
double Best(F f, std::int64_t& result) {
  double best = 1e100;
  for (int i = 0; i < 3; ++i) {
    const double t0 = Seconds();
    result = f();
    best = std::min(best, Seconds() - t0);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t rows = argc > 1 ? std::atoll(argv[1]) : 1000000;
  const std::filesystem::path folder = argc > 2 ? argv[2] : "/tmp";
  std::mt19937 rng(42);
  std::vector<Row> data(static_cast<std::size_t>(rows));
  for (Row& r : data) {
    r.surname = kSurnames[rng() % 8];
    r.year = 1700 + static_cast<int>(rng() % 300);
  }
  const std::string filter = "surname LIKE '" + Utf8ToAnsi("Ив") + "%' AND [year] BETWEEN 1800 AND 1900";
  EngineStartup();
  sql::InstallExpressionHooks();
  std::printf("rows %lld, filter: surname LIKE 'Ив%%' AND year BETWEEN 1800 AND 1900\n",
              static_cast<long long>(rows));
  for (bool index : {false, true}) {
    const std::string ours = (folder / ("sqlfilter-" + std::to_string(::getpid()) + ".at4")).string();
    const std::string theirs = (folder / ("sqlfilter-" + std::to_string(::getpid()) + ".sqlite")).string();
    std::filesystem::remove(ours);
    std::filesystem::remove(theirs);
    {
      TNRDLocalSession creator;
      creator.FDatabaseFileName = ours;
      creator.CreateDatabase();
    }
    TNRDLocalSession session;
    session.FDatabaseName = "Bench";
    session.FDatabaseFileName = ours;
    session.SetConnected(true);
    double t0 = Seconds();
    CreateOurs(session, data, index);
    const double oursLoad = Seconds() - t0;
    sqlite3* db = nullptr;
    sqlite3_open(theirs.c_str(), &db);
    t0 = Seconds();
    CreateSqlite(db, data, index);
    const double sqliteLoad = Seconds() - t0;
    std::int64_t oursCount = 0, sqliteCount = 0;
    const double oursTime = Best([&] { return CountOurs(session, filter); }, oursCount);
    const double sqliteTime = Best([&] { return CountSqlite(db); }, sqliteCount);
    std::printf("%s index: ours %lld rows in %.3f s, SQLite %lld rows in %.3f s, ratio %.2f (load: ours %.1f s, SQLite %.1f s)\n",
                index ? "with" : "no", static_cast<long long>(oursCount), oursTime,
                static_cast<long long>(sqliteCount), sqliteTime, oursTime / sqliteTime, oursLoad, sqliteLoad);
    if (oursCount != sqliteCount) std::printf("  COUNTS DIFFER\n");
    sqlite3_close(db);
    session.SetConnected(false);
    std::filesystem::remove(ours);
    std::filesystem::remove(theirs);
  }
  sql::RemoveExpressionHooks();
  EngineShutdown();
  return 0;
}
