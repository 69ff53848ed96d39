// SQL statements of our engine against SQLite on the same data, the same indexes and the same
// statement texts: both sides get every statement as SQL text (ours through a query component,
// SQLite through sqlite3_prepare), read every column of every result row as text, and load their
// rows with one INSERT statement per row inside one transaction.
//
// Tables: p (id, grp, val, name) with an index on id, N rows; q (id, pid, tag) with an index on
// pid, N/10 rows. grp takes 100 values, so grp < 10 is a tenth of p.
// Workloads: INSERT of all rows in one transaction, point query by key (1,000 keys), range query
// (100 ranges of 100 keys), two-table join, UNION, GROUP BY with COUNT and SUM, ORDER BY on an
// unindexed column, UPDATE of 10 %. Each figure is the best of three runs (the loads and the
// UPDATE run once). Prints both times and the ratio ours / SQLite.
//
// Usage: bench_sql_select_vs_sqlite [rows=100000] [folder=/tmp] [only=TEXT]
// With `only`, the loads run and then only the workloads whose names contain TEXT (for profiling).
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/components/NRDDatabase.h"
#include "engine/components/NRDQuery.h"
#include "engine/components/NRDSession.h"
#include "engine/sql/NRDExpressions.h"

using namespace nrd;

namespace {

// Every text read lands here, so that no side can skip reading its values.
volatile std::size_t gBytesRead = 0;

double Seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Ours: runs a statement; a SELECT is read to its end. Gives the rows read or affected.
std::int64_t Ours(const std::string& sql, bool select) {
  TNRDQuery q(nullptr);
  q.SetDatabaseName("Bench");
  q.SetParamCheck(false);
  q.SetSQL(sql);
  if (!select) {
    q.ExecSQL();
    return q.RowsAffected();
  }
  q.Open();
  std::int64_t rows = 0;
  std::size_t bytes = 0;
  for (q.First(); !q.Eof(); q.Next()) {
    for (std::int32_t i = 0; i < q.FieldCount(); ++i) bytes += q.Fields(i).AsString().size();
    ++rows;
  }
  q.Close();
  gBytesRead = gBytesRead + bytes;
  return rows;
}

std::int64_t Theirs(sqlite3* db, const std::string& sql, bool select) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "SQLite: %s\n", sqlite3_errmsg(db));
    return -1;
  }
  std::int64_t rows = 0;
  std::size_t bytes = 0;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      const unsigned char* t = sqlite3_column_text(st, i);
      if (t != nullptr) bytes += std::char_traits<char>::length(reinterpret_cast<const char*>(t));
    }
    ++rows;
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) return -1;
  gBytesRead = gBytesRead + bytes;
  return select ? rows : sqlite3_changes(db);
}

struct Workload {
  std::string name;
  std::vector<std::string> statements;  // run in order; their row counts are summed
  bool select;
  int runs;
};

double Time(const Workload& w, const std::function<std::int64_t(const std::string&)>& run, std::int64_t& rows) {
  double best = 1e100;
  for (int r = 0; r < w.runs; ++r) {
    rows = 0;
    const double t0 = Seconds();
    for (const std::string& s : w.statements) rows += run(s);
    best = std::min(best, Seconds() - t0);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t n = argc > 1 ? std::atoll(argv[1]) : 100000;
  const std::filesystem::path folder = argc > 2 ? argv[2] : "/tmp";
  const std::string only = argc > 3 ? argv[3] : "";
  auto chosen = [&only](const std::string& name) { return only.empty() || name.find(only) != std::string::npos; };
  const std::string ours = (folder / ("sqlselect-" + std::to_string(::getpid()) + ".at4")).string();
  const std::string theirs = (folder / ("sqlselect-" + std::to_string(::getpid()) + ".sqlite")).string();
  // The engine keeps a register of page reserves beside a database file.
  const std::string oursReserves = ours + "-reserves";
  std::filesystem::remove(ours);
  std::filesystem::remove(oursReserves);
  std::filesystem::remove(theirs);
  EngineStartup();
  sql::InstallExpressionHooks();
  int code = 0;
  {
    TNRDDatabase db(nullptr);
    db.SetDatabaseName("Bench");
    db.SetDatabaseFileName(ours);
    db.SetSilentMode(true);
    db.CreateDatabase();
    db.Open();
    sqlite3* lite = nullptr;
    sqlite3_open(theirs.c_str(), &lite);

    const std::vector<std::string> schema{
        "CREATE TABLE p (id INTEGER, grp INTEGER, val INTEGER, name VARCHAR(20))",
        "CREATE INDEX PById ON p (id)",
        "CREATE TABLE q (id INTEGER, pid INTEGER, tag VARCHAR(20))",
        "CREATE INDEX QByPid ON q (pid)",
    };
    for (const std::string& s : schema) {
      Ours(s, false);
      Theirs(lite, s, false);
    }
    std::mt19937 rng(7);
    Workload insertP{"INSERT p (one transaction)", {}, false, 1}, insertQ{"INSERT q (one transaction)", {}, false, 1};
    for (std::int64_t i = 0; i < n; ++i)
      insertP.statements.push_back("INSERT INTO p VALUES (" + std::to_string(i) + ", " + std::to_string(rng() % 100) +
                                   ", " + std::to_string(rng() % 1000000) + ", 'n" + std::to_string(rng() % 1000) + "')");
    for (std::int64_t i = 0; i < n / 10; ++i)
      insertQ.statements.push_back("INSERT INTO q VALUES (" + std::to_string(i) + ", " + std::to_string(rng() % n) +
                                   ", 'n" + std::to_string(rng() % 500) + "')");

    std::vector<Workload> work;
    Workload point{"point query by key (1,000 keys)", {}, true, 3};
    for (int i = 0; i < 1000; ++i) point.statements.push_back("SELECT name, val FROM p WHERE id = " + std::to_string(rng() % n));
    Workload range{"range query (100 x 100 keys)", {}, true, 3};
    for (int i = 0; i < 100; ++i) {
      const std::int64_t a = static_cast<std::int64_t>(rng() % static_cast<unsigned>(n - 100));
      range.statements.push_back("SELECT id, name FROM p WHERE id >= " + std::to_string(a) + " AND id < " +
                                 std::to_string(a + 100));
    }
    work.push_back(point);
    work.push_back(range);
    work.push_back({"two-table join", {"SELECT p.name, q.tag FROM p JOIN q ON p.id = q.pid"}, true, 3});
    work.push_back({"UNION", {"SELECT name FROM p WHERE grp < 50 UNION SELECT tag FROM q"}, true, 3});
    work.push_back({"GROUP BY with COUNT, SUM", {"SELECT grp, COUNT(*), SUM(val) FROM p GROUP BY grp"}, true, 3});
    work.push_back({"ORDER BY unindexed column", {"SELECT id, val FROM p ORDER BY val"}, true, 3});
    Workload update{"UPDATE 10 %", {"UPDATE p SET val = val + 1 WHERE grp < 10"}, false, 1};

    std::printf("rows %lld (p), %lld (q)\n", static_cast<long long>(n), static_cast<long long>(n / 10));
    auto report = [&](const Workload& w, double a, double b, std::int64_t ra, std::int64_t rb) {
      std::printf("%-34s ours %8.3f s  SQLite %8.3f s  ratio %6.2f  (rows %lld / %lld)%s\n", w.name.c_str(), a, b, a / b,
                  static_cast<long long>(ra), static_cast<long long>(rb), ra == rb ? "" : "  ROWS DIFFER");
      if (ra != rb) code = 1;
    };
    auto oursRun = [&](bool select) { return [select](const std::string& s) { return Ours(s, select); }; };
    auto theirsRun = [&](bool select) {
      return [&lite, select](const std::string& s) { return Theirs(lite, s, select); };
    };
    for (Workload* w : {&insertP, &insertQ}) {
      std::int64_t ra = 0, rb = 0;
      double t0 = Seconds();
      db.StartTransaction();
      for (const std::string& s : w->statements) ra += Ours(s, false);
      db.Commit();
      const double a = Seconds() - t0;
      t0 = Seconds();
      sqlite3_exec(lite, "BEGIN", nullptr, nullptr, nullptr);
      for (const std::string& s : w->statements) rb += Theirs(lite, s, false);
      sqlite3_exec(lite, "COMMIT", nullptr, nullptr, nullptr);
      report(*w, a, Seconds() - t0, ra, rb);
    }
    sqlite3_exec(lite, "ANALYZE", nullptr, nullptr, nullptr);
    for (const Workload& w : work) {
      if (!chosen(w.name)) continue;
      std::int64_t ra = 0, rb = 0;
      const double a = Time(w, oursRun(true), ra);
      const double b = Time(w, theirsRun(true), rb);
      report(w, a, b, ra, rb);
    }
    if (chosen(update.name)) {
      std::int64_t ra = 0, rb = 0;
      const double a = Time(update, oursRun(false), ra);
      const double b = Time(update, theirsRun(false), rb);
      report(update, a, b, ra, rb);
    }
    sqlite3_close(lite);
    db.Close();
  }
  sql::RemoveExpressionHooks();
  EngineShutdown();
  std::filesystem::remove(ours);
  std::filesystem::remove(oursReserves);
  std::filesystem::remove(theirs);
  return code;
}
