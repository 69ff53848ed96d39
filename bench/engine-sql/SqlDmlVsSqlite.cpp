// INSERT and UPDATE through SQL in our engine and in SQLite, side by side, on a disk file each, with
// the same statements and the same keys:
//   insert-batch  N rows in one transaction, as INSERT ... VALUES texts of 500 rows each (the same
//                 text goes to both engines, which parse it)
//   insert-param  N rows in one transaction, one parameterised INSERT per row (ours: a prepared
//                 query with its parameters set per row; SQLite: a prepared statement bound per row)
//   update-key    UPDATE of 10 % of the rows chosen by a range of the primary key
//   update-scan   UPDATE of 10 % of the rows chosen by a condition on a column without an index
// Each figure is one run on a new file (the file's state is part of what is measured), page cache
// warm from the insert. Prints the times, the ratio ours/SQLite and the row counts, which must agree.
//
// Usage: bench_sql_dml_vs_sqlite [rows=1000000] [folder=/tmp]
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/components/NRDDatabase.h"
#include "engine/components/NRDQuery.h"
#include "engine/components/NRDSession.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/sql/NRDExpressions.h"

using namespace nrd;

namespace {

double Seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The value column v takes the values 0..99 in a scattered order; v < 10 picks 10 % of the rows.
int ValueOf(std::int64_t id) { return static_cast<int>((id * 37) % 100); }

std::vector<std::string> BatchTexts(std::int64_t rows) {
  std::vector<std::string> out;
  for (std::int64_t first = 1; first <= rows; first += 500) {
    std::string s = "INSERT INTO t VALUES ";
    for (std::int64_t id = first; id < first + 500 && id <= rows; ++id) {
      if (id > first) s.append(", ");
      s.append("(").append(std::to_string(id)).append(", ").append(std::to_string(ValueOf(id)));
      s.append(", 'name ").append(std::to_string(id)).append("')");
    }
    out.push_back(std::move(s));
  }
  return out;
}

const char* kCreate = "CREATE TABLE t (id INTEGER NOT NULL, v INTEGER, s VARCHAR(20), PRIMARY KEY (id))";
const char* kCreateSqlite = "CREATE TABLE t (id INTEGER NOT NULL PRIMARY KEY, v INTEGER, s VARCHAR(20))";

// ----- ours ------------------------------------------------------------------------------------------------

class Ours {
 public:
  explicit Ours(const std::string& file) {
    std::filesystem::remove(file);
    db_.SetDatabaseName("bench");
    db_.SetDatabaseFileName(file);
    db_.SetSilentMode(true);
    db_.CreateDatabase();
    db_.Open();
    Exec(kCreate);
  }
  ~Ours() { db_.Close(); }
  std::int64_t Exec(const std::string& sql) {
    TNRDQuery q(nullptr);
    q.SetDatabaseName("bench");
    q.SetParamCheck(false);
    q.SetSQL(sql);
    q.ExecSQL();
    return q.RowsAffected();
  }
  std::int64_t InsertBatches(const std::vector<std::string>& texts) {
    std::int64_t n = 0;
    db_.StartTransaction();
    for (const std::string& s : texts) n += Exec(s);
    db_.Commit(true);
    return n;
  }
  std::int64_t InsertParams(std::int64_t rows) {
    std::int64_t n = 0;
    db_.StartTransaction();
    TNRDQuery q(nullptr);
    q.SetDatabaseName("bench");
    q.SetSQL("INSERT INTO t VALUES (:id, :v, :s)");
    q.Prepare();
    for (std::int64_t id = 1; id <= rows; ++id) {
      q.Params()[0].Value = IntValue(static_cast<std::int32_t>(id));
      q.Params()[1].Value = IntValue(ValueOf(id));
      std::string s = "name ";
      s.append(std::to_string(id));
      q.Params()[2].Value = TextValue(s);
      q.ExecSQL();
      n += q.RowsAffected();
    }
    q.UnPrepare();
    db_.Commit(true);
    return n;
  }

 private:
  TNRDDatabase db_{nullptr};
};

// ----- SQLite ----------------------------------------------------------------------------------------------

class Peer {
 public:
  explicit Peer(const std::string& file) {
    std::filesystem::remove(file);
    sqlite3_open(file.c_str(), &db_);
    Exec(kCreateSqlite);
  }
  ~Peer() { sqlite3_close(db_); }
  std::int64_t Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      std::fprintf(stderr, "sqlite: %s\n", error != nullptr ? error : "?");
      sqlite3_free(error);
    }
    return sqlite3_changes(db_);
  }
  std::int64_t InsertBatches(const std::vector<std::string>& texts) {
    std::int64_t n = 0;
    Exec("BEGIN");
    for (const std::string& s : texts) n += Exec(s);
    Exec("COMMIT");
    return n;
  }
  std::int64_t InsertParams(std::int64_t rows) {
    std::int64_t n = 0;
    Exec("BEGIN");
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db_, "INSERT INTO t VALUES (?, ?, ?)", -1, &st, nullptr);
    for (std::int64_t id = 1; id <= rows; ++id) {
      std::string s = "name ";
      s.append(std::to_string(id));
      sqlite3_bind_int64(st, 1, id);
      sqlite3_bind_int(st, 2, ValueOf(id));
      sqlite3_bind_text(st, 3, s.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(st);
      sqlite3_reset(st);
      n += sqlite3_changes(db_);
    }
    sqlite3_finalize(st);
    Exec("COMMIT");
    return n;
  }

 private:
  sqlite3* db_ = nullptr;
};

template <typename F>
double Time(F f, std::int64_t& result) {
  const double t0 = Seconds();
  result = f();
  return Seconds() - t0;
}

void Line(const char* name, double ours, std::int64_t oursRows, double peer, std::int64_t peerRows) {
  std::printf("%-14s ours %8.3f s  sqlite %8.3f s  ratio %6.2f  rows %lld / %lld%s\n", name, ours, peer, ours / peer,
              static_cast<long long>(oursRows), static_cast<long long>(peerRows),
              oursRows == peerRows ? "" : "  MISMATCH");
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t rows = argc > 1 ? std::atoll(argv[1]) : 1000000;
  const std::string folder = argc > 2 ? argv[2] : "/tmp";
  const std::string base = folder + "/bench-sql-dml-" + std::to_string(::getpid());
  try {
    EngineStartup();
    sql::InstallExpressionHooks();
    const std::vector<std::string> texts = BatchTexts(rows);
    std::int64_t a = 0, b = 0;
    // BENCH_ONLY=batch or =param runs one half (for profiling).
    const char* only = std::getenv("BENCH_ONLY");
    const std::string part = only != nullptr ? only : "";
    if (part.empty() || part == "batch") {
      Ours ours(base + "-batch.at4");
      Peer peer(base + "-batch.sqlite");
      const double to = Time([&] { return ours.InsertBatches(texts); }, a);
      const double tp = Time([&] { return peer.InsertBatches(texts); }, b);
      Line("insert-batch", to, a, tp, b);
      const std::string key = "UPDATE t SET v = v + 1 WHERE id > " + std::to_string(rows - rows / 10);
      const double uo = Time([&] { return ours.Exec(key); }, a);
      const double up = Time([&] { return peer.Exec(key); }, b);
      Line("update-key", uo, a, up, b);
      const std::string scan = "UPDATE t SET s = 'changed' WHERE v < 10";
      const double so = Time([&] { return ours.Exec(scan); }, a);
      const double sp = Time([&] { return peer.Exec(scan); }, b);
      Line("update-scan", so, a, sp, b);
    }
    if (part.empty() || part == "param") {
      Ours ours(base + "-param.at4");
      Peer peer(base + "-param.sqlite");
      const double to = Time([&] { return ours.InsertParams(rows); }, a);
      const double tp = Time([&] { return peer.InsertParams(rows); }, b);
      Line("insert-param", to, a, tp, b);
    }
    for (const char* suffix : {"-batch.at4", "-batch.sqlite", "-param.at4", "-param.sqlite"})
      std::filesystem::remove(base + suffix);
    EngineShutdown();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    return 1;
  }
  return 0;
}
