// One big transaction in a process whose address space is limited: a child process sets
// RLIMIT_AS, inserts records with BLOB values into a database file in one transaction and commits;
// the parent reports the time, the child's peak resident memory and the file size, and checks the
// record count. With the spill of changed pages memory stays bounded whatever the transaction's
// size; without it the child runs out of memory. Run it from a release build (sanitizers reserve
// more address space than any such limit).
//
// Usage: bench_engine_big_transaction [megabytes of records=500] [address limit MB=256]
//        [spill budget MB=32, 0 = never spill] [folder=/tmp]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/foundation/NRDMemory.h"
#include "engine/storage/NRDCursor.h"
#include "engine/storage/NRDDiskDatabase.h"
#include "engine/storage/NRDDiskPageManager.h"
#include "engine/storage/NRDDiskTable.h"
#include "engine/storage/NRDFieldManager.h"
#include "tests/engine-storage/TestCursor.h"

using namespace nrd;

namespace {

class Session : public TNRDBaseSession {};

constexpr std::size_t kBlobSize = 4000;

double Seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Table {
  TNRDDiskDatabaseData db;
  Session session;
  TTestCursor cursor;
  TNRDTableData* table = nullptr;
  std::int32_t size = 0;

  Table(const std::string& file, bool create) {
    if (create) {
      std::filesystem::remove(file);
      TNRDDiskDatabaseData creator;
      creator.FDatabaseName = file;
      creator.FPageSize = 4096;
      creator.CreateDatabase();
    }
    db.FDatabaseName = file;
    db.ConnectSession(&session);
    cursor.FTableName = "T";
    cursor.FSession = &session;
    table = db.FindOrCreateTableData(&cursor);
    if (create) {
      TNRDFieldDefs fields;
      auto add = [&](const char* n, TNRDAdvancedFieldType t) {
        TNRDFieldDef* d = fields.AddCreated();
        d->FName = n;
        d->SetFieldDefDataType(t, 0);
      };
      add("ID", aftInteger);
      add("DATA", aftBlob);
      table->CreateTable(&cursor, fields, TNRDIndexDefs(), TNRDConstraintDefs());
    }
    table->OpenTable(&cursor);
    cursor.FFieldDefs.Assign(table->FieldManager().FFieldDefs);
    size = table->GetRecordBufferSize();
    cursor.FCurrentRecordBuffer = GlobalMemoryManager().AllocMem(size);
  }
  ~Table() {
    table->CloseTable(&cursor);
    GlobalMemoryManager().FreeMem(cursor.FCurrentRecordBuffer);
    db.DisconnectSession(&session);
  }
};

int Child(const std::string& file, std::int64_t rows, std::int64_t budget) {
  Table t(file, false);
  t.db.DiskPageManager()->SetSpillBudget(budget);
  std::string blob(kBlobSize, '\0');
  for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>((i * 2654435761u) >> 13);
  t.session.FInTransaction = true;
  for (std::int64_t i = 0; i < rows; ++i) {
    auto* r = static_cast<std::uint8_t*>(t.cursor.FCurrentRecordBuffer);
    std::memset(r, 0, static_cast<std::size_t>(t.size));
    const auto id = static_cast<std::int32_t>(i);
    SetFieldDataToBuffer(0, t.table->FieldManager().FFieldDefs, &id, r);
    std::unique_ptr<TNRDStream> s(t.table->InternalCreateBlobStream(&t.cursor, true, 1, bomWrite));
    s->Write(blob.data(), static_cast<std::int32_t>(blob.size()));
    t.table->WriteBLOBFieldToRecordBuffer(&t.cursor, 1, s.get());
    s.reset();
    TNRDCursor* c = &t.cursor;
    if (!t.table->InsertRecord(c)) return 2;
  }
  t.db.Commit(t.session.FSessionID, true);
  t.session.FInTransaction = false;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t megabytes = argc > 1 ? std::atoll(argv[1]) : 500;
  const std::int64_t limitMB = argc > 2 ? std::atoll(argv[2]) : 256;
  const std::int64_t budgetMB = argc > 3 ? std::atoll(argv[3]) : 32;
  const std::string folder = argc > 4 ? argv[4] : "/tmp";
  const std::string file = folder + "/bench-big-transaction.at4";
  const std::int64_t rows = megabytes * 1048576 / static_cast<std::int64_t>(kBlobSize);
  { Table create(file, true); }
  std::printf("%lld rows of %zu-byte BLOB values (%lld MB) in one transaction; address limit %lld MB, spill budget %lld MB\n",
              static_cast<long long>(rows), kBlobSize, static_cast<long long>(megabytes), static_cast<long long>(limitMB),
              static_cast<long long>(budgetMB));
  const double t0 = Seconds();
  const pid_t pid = fork();
  if (pid == 0) {
    const rlim_t bytes = static_cast<rlim_t>(limitMB) << 20;
    rlimit limit{bytes, bytes};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(5);
    int code = 3;
    try {
      code = Child(file, rows, budgetMB << 20);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "child: %s\n", e.what());
    }
    _exit(code);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const double seconds = Seconds() - t0;
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  std::printf("child exit %d after %.2f s, peak resident %.1f MB\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1, seconds,
              static_cast<double>(usage.ru_maxrss) / 1024.0);
  int result = 1;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    Table t(file, false);
    const std::int64_t count = t.table->InternalGetRecordCount(&t.cursor);
    std::printf("records after the commit: %lld of %lld; file %.1f MB\n", static_cast<long long>(count),
                static_cast<long long>(rows), static_cast<double>(std::filesystem::file_size(file)) / 1048576.0);
    result = count == rows ? 0 : 1;
  }
  std::filesystem::remove(file);
  return result;
}
