// The storage engine and SQLite side by side on the same work, same machine, one run, both through
// their table-level paths (the engine's table object, SQLite's prepared statements): bulk insert in
// one transaction and the files' sizes after it, the same rows keyed by their text, inserts that
// commit one by one, point lookups by primary key, a full scan with a filter, and two processes
// inserting into one file. SQLite runs with journal_mode DELETE, once
// with synchronous FULL and once with synchronous OFF. Prints each figure with the ratios.
//
// Usage: bench_engine_vs_sqlite [rows=1000000] [autocommit rows=2000] [lookups=100000]
//        [rows per process=20000] [folder=/tmp] [figures=bulk,text,lookup,scan,auto,two]
// The last argument runs only the figures it names (lookup and scan read the bulk insert's file),
// so that a profile shows one workload; "keep" among them leaves the files in the folder.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/foundation/NRDMemory.h"
#include "engine/storage/NRDBTreeRecordIndex.h"
#include "tests/engine-storage/TestCursor.h"
#include "engine/storage/NRDCursor.h"
#include "engine/storage/NRDDiskDatabase.h"
#include "engine/storage/NRDDiskPageManager.h"
#include "engine/storage/NRDDiskTable.h"
#include "engine/storage/NRDFieldManager.h"
#include "engine/storage/NRDIndexManager.h"
#include "engine/storage/NRDRecordPages.h"

using namespace nrd;

namespace {

double Seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

class Session : public TNRDBaseSession {};

std::string NameOf(std::int64_t i) { return "person-" + std::to_string(i * 7919 % 1000003); }
double ValOf(std::int64_t i) { return static_cast<double>((i * 2654435761LL) % 1000) / 1000.0; }

// ----- our engine ------------------------------------------------------------------------------------
struct Ours {
  std::string file;
  std::unique_ptr<TNRDDiskDatabaseData> db;
  Session session;
  TTestCursor cursor;
  TNRDDiskTableData* table = nullptr;
  std::int32_t size = 0;
  std::int32_t indexID = -1;

  Ours(const std::string& f, bool create, bool multiUser) : file(f) {
    if (create) {
      std::filesystem::remove(file);
      TNRDDiskDatabaseData creator;
      creator.FDatabaseName = file;
      creator.FPageSize = 4096;
      creator.CreateDatabase();
    }
    db = std::make_unique<TNRDDiskDatabaseData>();
    db->FDatabaseName = file;
    session.FMultiUser = multiUser;
    db->ConnectSession(&session);
    // NRD_SPILL_MB: the spill budget of big transactions (0: never spill), to see what it costs.
    if (const char* mb = std::getenv("NRD_SPILL_MB")) db->DiskPageManager()->SetSpillBudget(std::atoll(mb) << 20);
  }
  ~Ours() {
    if (table != nullptr) table->CloseTable(&cursor);
    if (cursor.FCurrentRecordBuffer != nullptr) GlobalMemoryManager().FreeMem(cursor.FCurrentRecordBuffer);
    db->DisconnectSession(&session);
  }
  // textKey: the primary key is the NAME text instead of the ID.
  void Open(const std::string& name, bool create, bool textKey = false) {
    cursor.FTableName = name;
    cursor.FSession = &session;
    table = static_cast<TNRDDiskTableData*>(db->FindOrCreateTableData(&cursor));
    if (create) {
      TNRDFieldDefs fields;
      auto add = [&](const char* n, TNRDAdvancedFieldType t, std::int32_t s) {
        TNRDFieldDef* d = fields.AddCreated();
        d->FName = n;
        d->SetFieldDefDataType(t, s);
      };
      add("ID", aftInteger, 0);
      add("NAME", aftString, 30);
      add("VAL", aftDouble, 0);
      TNRDIndexDefs indexes;
      TNRDIndexDef* pk = indexes.AddCreated();
      pk->FName = "PK";
      pk->FPrimary = true;
      pk->FUnique = true;
      pk->SetColumnCount(1);
      pk->GetIndexColumn(0).FFieldName = textKey ? "NAME" : "ID";
      pk->GetIndexColumn(0).FMaxIndexedSize = textKey ? 30 : 4;  // the whole value
      table->CreateTable(&cursor, fields, indexes, TNRDConstraintDefs());
    }
    table->OpenTable(&cursor);
    cursor.FFieldDefs.Assign(table->FieldManager().FFieldDefs);
    size = table->GetRecordBufferSize();
    cursor.FCurrentRecordBuffer = GlobalMemoryManager().AllocMem(size);
    indexID = table->IndexManager().FIndexDefs.GetIndexDef(0)->FObjectID;
  }
  void Fill(std::int64_t i) {
    auto* r = static_cast<std::uint8_t*>(cursor.FCurrentRecordBuffer);
    std::memset(r, 0, static_cast<std::size_t>(size));
    const TNRDFieldDefs& d = table->FieldManager().FFieldDefs;
    std::int32_t id = static_cast<std::int32_t>(i);
    char name[32] = {0};
    std::snprintf(name, sizeof name, "%s", NameOf(i).c_str());
    double v = ValOf(i);
    SetFieldDataToBuffer(0, d, &id, r);
    SetFieldDataToBuffer(1, d, name, r);
    SetFieldDataToBuffer(2, d, &v, r);
  }
  bool Insert(std::int64_t i) {
    Fill(i);
    TNRDCursor* c = &cursor;
    return table->InsertRecord(c);
  }
  void Begin() { session.FInTransaction = true; }
  void Commit() {
    db->Commit(session.FSessionID, true);
    session.FInTransaction = false;
  }
  // The record with this primary key into the cursor's buffer.
  bool Lookup(std::int32_t id, std::vector<std::uint8_t>& key) {
    const TNRDFieldDefs& d = table->FieldManager().FFieldDefs;
    SetFieldDataToBuffer(0, d, &id, key.data());
    auto* index = static_cast<TNRDBTreeRecordIndex*>(table->IndexManager().OpenIndex(indexID));
    TNRDBTreeScanBound bound;
    bound.Operator = scEqual;
    bound.KeyFieldCount = 1;
    bound.KeyRecordBuffer = key.data();
    TNRDBTreeSearchInfo info;
    TNRDPageItemID rid;
    if (!index->FindRecordByBounds(session.FSessionID, true, true, &bound, &bound, key.data(), rid, &info)) return false;
    TNRDNavigationInfo nav;
    nav.GetRecordMode = grmCurrent;
    nav.RecordID = rid;
    nav.RecordBuffer = cursor.FCurrentRecordBuffer;
    nav.IndexID = -1;
    table->RecordManager().GetRecordBuffer(session.FSessionID, nav);
    return nav.GetRecordResult == grrOK;
  }
  std::int64_t ScanFiltered(double below) {
    const TNRDFieldDefs& d = table->FieldManager().FFieldDefs;
    TNRDNavigationInfo nav;
    nav.GetRecordMode = grmNext;
    nav.FirstPosition = true;
    nav.IndexID = -1;
    nav.RecordBuffer = cursor.FCurrentRecordBuffer;
    std::int64_t n = 0;
    for (;;) {
      table->RecordManager().GetRecordBuffer(session.FSessionID, nav);
      if (nav.GetRecordResult != grrOK) break;
      double v = 0;
      GetFieldDataFromBuffer(2, d, &v, cursor.FCurrentRecordBuffer);
      if (v < below) ++n;
    }
    return n;
  }
};

// ----- SQLite ----------------------------------------------------------------------------------------
struct Lite {
  sqlite3* db = nullptr;
  sqlite3_stmt* insert = nullptr;
  Lite(const std::string& file, bool create, bool full, bool textKey = false) {
    if (create) std::filesystem::remove(file);
    sqlite3_open(file.c_str(), &db);
    sqlite3_busy_timeout(db, 60000);
    Exec("PRAGMA journal_mode=DELETE");
    Exec(full ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=OFF");
    // With a text key SQLite keeps the rows by rowid and the key in an index of its own, as the
    // engine keeps records in record pages and the key in a B-tree.
    if (create)
      Exec(textKey ? "CREATE TABLE t(id INTEGER, name TEXT PRIMARY KEY, val REAL)"
                   : "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, val REAL)");
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?,?,?)", -1, &insert, nullptr);
  }
  ~Lite() {
    sqlite3_finalize(insert);
    sqlite3_close(db);
  }
  void Exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
      std::fprintf(stderr, "sqlite: %s: %s\n", sql, err != nullptr ? err : "?");
      sqlite3_free(err);
    }
  }
  bool Insert(std::int64_t i) {
    const std::string name = NameOf(i);
    sqlite3_bind_int64(insert, 1, i);
    sqlite3_bind_text(insert, 2, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_double(insert, 3, ValOf(i));
    const int rc = sqlite3_step(insert);
    sqlite3_reset(insert);
    return rc == SQLITE_DONE;
  }
};

struct Row {
  std::string what;
  double ours, full, off;
};

void Print(const std::vector<Row>& rows) {
  std::printf("\n%-44s %12s %14s %8s %14s %8s\n", "figure (seconds)", "engine", "SQLite FULL", "ratio",
              "SQLite OFF", "ratio");
  for (const Row& r : rows)
    std::printf("%-44s %12.3f %14.3f %8.2f %14.3f %8.2f\n", r.what.c_str(), r.ours, r.full, r.ours / r.full, r.off,
                r.ours / r.off);
  std::printf("(ratio = engine time / SQLite time; below 1 the engine is faster)\n");
}

// Runs body in two forked processes at once; returns the wall time.
double TwoProcesses(const std::function<void(int)>& body) {
  const double t0 = Seconds();
  pid_t pids[2];
  for (int p = 0; p < 2; ++p) {
    pids[p] = fork();
    if (pids[p] == 0) {
      body(p);
      _exit(0);
    }
  }
  for (pid_t pid : pids) waitpid(pid, nullptr, 0);
  return Seconds() - t0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t rows = argc > 1 ? std::atoll(argv[1]) : 1000000;
  const std::int64_t autoRows = argc > 2 ? std::atoll(argv[2]) : 2000;
  const std::int64_t lookups = argc > 3 ? std::atoll(argv[3]) : 100000;
  const std::int64_t perProcess = argc > 4 ? std::atoll(argv[4]) : 20000;
  const std::string folder = argc > 5 ? argv[5] : "/tmp";
  const std::string figures = argc > 6 ? argv[6] : "bulk,text,lookup,scan,auto,two";
  auto wanted = [&](const char* name) {
    return ("," + figures + ",").find("," + std::string(name) + ",") != std::string::npos;
  };
  RegisterBTreeRecordIndex();
  const std::string ourFile = folder + "/bench-engine.at4";
  const std::string liteFile[2] = {folder + "/bench-full.sqlite", folder + "/bench-off.sqlite"};
  std::vector<Row> out;
  std::printf("rows %lld, autocommit rows %lld, lookups %lld, rows per process %lld, folder %s\n",
              static_cast<long long>(rows), static_cast<long long>(autoRows), static_cast<long long>(lookups),
              static_cast<long long>(perProcess), folder.c_str());

  // 1. Bulk insert in one transaction.
  if (wanted("bulk")) {
    Row bulk{"insert " + std::to_string(rows) + " rows, one transaction", 0, 0, 0};
    {
      Ours e(ourFile, true, false);
      e.Open("T", true);
      const double t0 = Seconds();
      e.Begin();
      for (std::int64_t i = 0; i < rows; ++i)
        if (!e.Insert(i)) std::fprintf(stderr, "engine insert %lld failed\n", static_cast<long long>(i));
      e.Commit();
      bulk.ours = Seconds() - t0;
    }
    for (int k = 0; k < 2; ++k) {
      Lite l(liteFile[k], true, k == 0);
      const double t0 = Seconds();
      l.Exec("BEGIN");
      for (std::int64_t i = 0; i < rows; ++i) l.Insert(i);
      l.Exec("COMMIT");
      (k == 0 ? bulk.full : bulk.off) = Seconds() - t0;
    }
    out.push_back(bulk);
    // The files' sizes for the same rows (not a time: the ratio column compares bytes).
    Row bytes{"file size after the bulk insert (MB)", 0, 0, 0};
    bytes.ours = static_cast<double>(std::filesystem::file_size(ourFile)) / 1048576.0;
    bytes.full = static_cast<double>(std::filesystem::file_size(liteFile[0])) / 1048576.0;
    bytes.off = static_cast<double>(std::filesystem::file_size(liteFile[1])) / 1048576.0;
    out.push_back(bytes);
  }

  // 1b. Bulk insert of the same rows keyed by their text, one transaction.
  if (wanted("text")) {
    Row textBulk{"insert " + std::to_string(rows) + " text-key rows, one transaction", 0, 0, 0};
    {
      const std::string textFile = folder + "/bench-engine-text.at4";
      {
        Ours e(textFile, true, false);
        e.Open("T", true, true);
        const double t0 = Seconds();
        e.Begin();
        for (std::int64_t i = 0; i < rows; ++i)
          if (!e.Insert(i)) std::fprintf(stderr, "engine text-key insert %lld failed\n", static_cast<long long>(i));
        e.Commit();
        textBulk.ours = Seconds() - t0;
      }
      std::filesystem::remove(textFile);
    }
    for (int k = 0; k < 2; ++k) {
      const std::string textFile = liteFile[k] + "-text";
      {
        Lite l(textFile, true, k == 0, true);
        const double t0 = Seconds();
        l.Exec("BEGIN");
        for (std::int64_t i = 0; i < rows; ++i) l.Insert(i);
        l.Exec("COMMIT");
        (k == 0 ? textBulk.full : textBulk.off) = Seconds() - t0;
      }
      std::filesystem::remove(textFile);
    }
    out.push_back(textBulk);
  }

  // 2. Point lookups by primary key (random keys, the file reopened first).
  if (wanted("lookup")) {
    Row look{std::to_string(lookups) + " point lookups by primary key", 0, 0, 0};
    std::mt19937_64 rng(42);
    std::vector<std::int32_t> keys(static_cast<std::size_t>(lookups));
    for (auto& k : keys) k = static_cast<std::int32_t>(rng() % static_cast<std::uint64_t>(rows));
    {
      Ours e(ourFile, false, false);
      e.Open("T", false);
      std::vector<std::uint8_t> key(static_cast<std::size_t>(e.size), 0);
      std::int64_t found = 0;
      const double t0 = Seconds();
      for (std::int32_t k : keys) found += e.Lookup(k, key) ? 1 : 0;
      look.ours = Seconds() - t0;
      if (found != lookups) std::fprintf(stderr, "engine found %lld of %lld\n", static_cast<long long>(found),
                                         static_cast<long long>(lookups));
    }
    for (int k = 0; k < 2; ++k) {
      Lite l(liteFile[k], false, k == 0);
      sqlite3_stmt* q = nullptr;
      sqlite3_prepare_v2(l.db, "SELECT name, val FROM t WHERE id = ?", -1, &q, nullptr);
      const double t0 = Seconds();
      for (std::int32_t key : keys) {
        sqlite3_bind_int64(q, 1, key);
        sqlite3_step(q);
        sqlite3_reset(q);
      }
      (k == 0 ? look.full : look.off) = Seconds() - t0;
      sqlite3_finalize(q);
    }
    out.push_back(look);
  }

  // 3. Full scan with a filter.
  if (wanted("scan")) {
    Row scan{"full scan, filter val < 0.25", 0, 0, 0};
    {
      Ours e(ourFile, false, false);
      e.Open("T", false);
      const double t0 = Seconds();
      const std::int64_t n = e.ScanFiltered(0.25);
      scan.ours = Seconds() - t0;
      std::printf("engine scan matched %lld\n", static_cast<long long>(n));
    }
    for (int k = 0; k < 2; ++k) {
      Lite l(liteFile[k], false, k == 0);
      sqlite3_stmt* q = nullptr;
      sqlite3_prepare_v2(l.db, "SELECT count(*) FROM t WHERE val < 0.25", -1, &q, nullptr);
      const double t0 = Seconds();
      sqlite3_step(q);
      if (k == 0) std::printf("SQLite scan matched %lld\n", static_cast<long long>(sqlite3_column_int64(q, 0)));
      (k == 0 ? scan.full : scan.off) = Seconds() - t0;
      sqlite3_finalize(q);
    }
    out.push_back(scan);
  }

  // 4. Inserts that commit one by one.
  if (wanted("auto")) {
    Row single{"insert " + std::to_string(autoRows) + " rows, autocommit", 0, 0, 0};
    {
      Ours e(ourFile, true, false);
      e.Open("T", true);
      const double t0 = Seconds();
      for (std::int64_t i = 0; i < autoRows; ++i) e.Insert(i);
      single.ours = Seconds() - t0;
    }
    for (int k = 0; k < 2; ++k) {
      Lite l(liteFile[k], true, k == 0);
      const double t0 = Seconds();
      for (std::int64_t i = 0; i < autoRows; ++i) l.Insert(i);
      (k == 0 ? single.full : single.off) = Seconds() - t0;
    }
    out.push_back(single);
  }

  // 5. Two processes inserting into one file, transactions of 100 rows.
  if (wanted("two")) {
    Row two{"2 processes x " + std::to_string(perProcess) + " rows, 100 per commit", 0, 0, 0};
    {
      {
        Ours e(ourFile, true, true);
        e.Open("T", true);
      }
      two.ours = TwoProcesses([&](int p) {
        Ours e(ourFile, false, true);
        e.Open("T", false);
        const std::int32_t sid = e.session.FSessionID;
        for (std::int64_t i = 0; i < perProcess; i += 100) {
          while (!e.table->LockTable(sid, ltRW, 1000, 10, false)) {
          }
          e.table->LoadMostUpdated(sid);
          e.Begin();
          for (std::int64_t j = i; j < i + 100 && j < perProcess; ++j)
            if (!e.Insert(p * perProcess + j)) std::fprintf(stderr, "engine multi-user insert failed\n");
          e.Commit();
          e.table->UnlockTable(sid, ltRW, true);  // the commit ended the transaction's RW lock
        }
      });
      Ours check(ourFile, false, true);
      check.Open("T", false);
      std::printf("engine rows after two processes: %lld\n",
                  static_cast<long long>(check.table->InternalGetRecordCount(&check.cursor)));
    }
    for (int k = 0; k < 2; ++k) {
      { Lite l(liteFile[k], true, k == 0); }
      (k == 0 ? two.full : two.off) = TwoProcesses([&](int p) {
        Lite l(liteFile[k], false, k == 0);
        for (std::int64_t i = 0; i < perProcess; i += 100) {
          l.Exec("BEGIN IMMEDIATE");
          for (std::int64_t j = i; j < i + 100 && j < perProcess; ++j) l.Insert(p * perProcess + j);
          l.Exec("COMMIT");
        }
      });
    }
    out.push_back(two);
  }
  Print(out);
  if (wanted("keep")) return 0;
  std::filesystem::remove(ourFile);
  for (const auto& f : liteFile) std::filesystem::remove(f);
  return 0;
}
