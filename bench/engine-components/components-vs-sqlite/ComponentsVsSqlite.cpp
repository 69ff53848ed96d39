// The table copy into a new file and the compaction of a database file, side by side with
// SQLite's VACUUM INTO on the same rows. Both sides get the same table (id primary key, two texts,
// an integer), filled the same way; each side's time covers the whole operation into a new file,
// synced, as each engine does it.
//
//   bench_components_vs_sqlite [ROWS] [FOLDER]     (default 1000000 rows in the temporary folder)
//
// Prints one line per workload: our seconds, SQLite's seconds and the ratio.
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/components/NRDDatabase.h"
#include "engine/components/NRDSession.h"
#include "engine/components/NRDTable.h"

using namespace nrd;
namespace fs = std::filesystem;

namespace {

double Seconds(const std::chrono::steady_clock::time_point& start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string Note(int i) { return "note " + std::to_string(i * 7919 % 100000) + std::string(30 + i % 40, 'n'); }
std::string Name(int i) { return "person " + std::to_string(i); }

void Exec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s\n", err != nullptr ? err : "?");
    std::exit(1);
  }
}

void FillOurs(const std::string& file, int rows) {
  TNRDDatabase db(nullptr);
  db.SetDatabaseName("Bench");
  db.SetDatabaseFileName(file);
  db.SetSilentMode(true);
  db.CreateDatabase();
  TNRDTable t(nullptr);
  t.SetDatabaseName("Bench");
  t.SetTableName("People");
  t.AdvFieldDefs().Add("id", aftInteger, 0, true);
  t.AdvFieldDefs().Add("name", aftString, 40, false);
  t.AdvFieldDefs().Add("born", aftInteger, 0, false);
  t.AdvFieldDefs().Add("note", aftString, 100, false);
  t.AdvIndexDefs().Add("pk", "id", ixPrimary);
  t.CreateTable();
  t.Open();
  t.Cursor()->BeginBatchUpdate();
  for (int i = 1; i <= rows; ++i)
    t.AppendRecord({IntValue(i), TextValue(Name(i)), IntValue(1800 + i % 200), TextValue(Note(i))});
  t.Cursor()->EndBatchUpdate();
  t.Close();
  db.Close();
}

void FillSqlite(const std::string& file, int rows) {
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  Exec(db, "CREATE TABLE People (id INTEGER PRIMARY KEY, name VARCHAR(40), born INTEGER, note VARCHAR(100))");
  Exec(db, "BEGIN");
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO People VALUES (?, ?, ?, ?)", -1, &st, nullptr);
  for (int i = 1; i <= rows; ++i) {
    const std::string name = Name(i), note = Note(i);
    sqlite3_bind_int(st, 1, i);
    sqlite3_bind_text(st, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(st, 3, 1800 + i % 200);
    sqlite3_bind_text(st, 4, note.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  Exec(db, "COMMIT");
  sqlite3_close(db);
}

double VacuumInto(const std::string& from, const std::string& to) {
  fs::remove(to);
  const auto start = std::chrono::steady_clock::now();
  sqlite3* db = nullptr;
  sqlite3_open(from.c_str(), &db);
  Exec(db, "VACUUM INTO '" + to + "'");
  sqlite3_close(db);
  return Seconds(start);
}

void Report(const char* name, double ours, double peer) {
  std::printf("%-34s ours %8.2f s   sqlite %8.2f s   ratio %5.2f\n", name, ours, peer, ours / peer);
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;
  const fs::path dir = fs::path(argc > 2 ? argv[2] : fs::temp_directory_path().string()) /
                       ("trevolan-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string ours = (dir / "people.at4").string();
  const std::string copy = (dir / "copy.at4").string();
  const std::string lite = (dir / "people.sqlite").string();
  EngineStartup();

  auto start = std::chrono::steady_clock::now();
  FillOurs(ours, rows);
  const double fillOurs = Seconds(start);
  start = std::chrono::steady_clock::now();
  FillSqlite(lite, rows);
  const double fillLite = Seconds(start);
  std::printf("%d rows: our file %.1f MB, SQLite's %.1f MB\n", rows, fs::file_size(ours) / 1e6, fs::file_size(lite) / 1e6);
  Report("fill (one batch / one transaction)", fillOurs, fillLite);

  // The table copied into a new file (indexes along) against VACUUM INTO of the same rows.
  {
    TNRDDatabase target(nullptr);
    target.SetDatabaseName("Target");
    target.SetDatabaseFileName(copy);
    target.SetSilentMode(true);
    target.CreateDatabase();
    TNRDDatabase db(nullptr);
    db.SetDatabaseName("Bench");
    db.SetDatabaseFileName(ours);
    db.SetSilentMode(true);
    TNRDTable t(nullptr);
    t.SetDatabaseName("Bench");
    t.SetTableName("People");
    start = std::chrono::steady_clock::now();
    t.CopyTable("People", copy, "");
    const double copyOurs = Seconds(start);
    t.Close();
    db.Close();
    Report("copy of the table into a new file", copyOurs, VacuumInto(lite, (dir / "vacuum1.sqlite").string()));
  }

  // Compaction of the whole file in place against VACUUM INTO.
  {
    TNRDDatabase db(nullptr);
    db.SetDatabaseName("Bench");
    db.SetDatabaseFileName(ours);
    db.SetSilentMode(true);
    start = std::chrono::steady_clock::now();
    db.CompactDatabase();
    const double compactOurs = Seconds(start);
    Report("compaction of the file", compactOurs, VacuumInto(lite, (dir / "vacuum2.sqlite").string()));
  }
  EngineShutdown();
  fs::remove_all(dir);
  return 0;
}
