// A table's whole life on each engine at full size: created in "MEMORY", "TEMP" and a database
// file, filled with records carrying BLOB values of every size class (none, a few bytes, a shared
// page entry, the largest shared entry, chains of two and of many pages), read back, updated,
// deleted from, emptied, renamed and deleted. The file is closed and opened again between steps
// and checked as nrd-check does. Prints the time of each step; exits 1 at the first wrong value.
//
// Usage: bench_engine_lifecycle [records=100000] [folder=/tmp]
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>

#include "engine/foundation/NRDMemory.h"
#include "engine/storage/NRDCursor.h"
#include "engine/storage/NRDDiskDatabase.h"
#include "engine/storage/NRDDiskPageManager.h"
#include "engine/storage/NRDFieldManager.h"
#include "engine/storage/NRDMemoryEngine.h"
#include "engine/storage/NRDTableCheck.h"
#include "engine/storage/NRDTempEngine.h"
#include "tests/engine-storage/TestCursor.h"

using namespace nrd;

namespace {

class Session : public TNRDBaseSession {};

double Seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::size_t BlobSize(std::int64_t i) {
  static const std::size_t sizes[] = {0, 5, 300, 4000, 6000, 0, 17, 900};
  if (i % 1000 == 999) return 200000;  // a long chain now and then
  return sizes[i % 8];
}

std::string Bytes(std::size_t n, std::int64_t seed) {
  std::string s(n, '\0');
  std::uint32_t x = static_cast<std::uint32_t>(seed) * 2654435761u + 1;
  for (std::size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(x >> 16);
  }
  return s;
}

[[noreturn]] void Fail(const std::string& what) {
  std::cerr << "FAILED: " << what << "\n";
  std::exit(1);
}

struct Table {
  TTestCursor cursor;
  TNRDTableData* table = nullptr;
  std::int32_t size = 0;
  Table(TNRDDatabaseData& db, Session& s, const std::string& name) {
    cursor.FTableName = name;
    cursor.FSession = &s;
    table = db.FindOrCreateTableData(&cursor);
  }
  ~Table() {
    if (cursor.FCurrentRecordBuffer != nullptr) GlobalMemoryManager().FreeMem(cursor.FCurrentRecordBuffer);
  }
  void Create() {
    TNRDFieldDefs fields;
    auto add = [&](const char* n, TNRDAdvancedFieldType t, std::int32_t s) {
      TNRDFieldDef* d = fields.AddCreated();
      d->FName = n;
      d->SetFieldDefDataType(t, s);
    };
    add("ID", aftInteger, 0);
    add("NAME", aftString, 20);
    add("DATA", aftBlob, 0);
    table->CreateTable(&cursor, fields, TNRDIndexDefs(), TNRDConstraintDefs());
  }
  void Open() {
    table->OpenTable(&cursor);
    size = table->GetRecordBufferSize();
    if (cursor.FCurrentRecordBuffer == nullptr) cursor.FCurrentRecordBuffer = GlobalMemoryManager().AllocMem(size);
  }
  void Close() { table->CloseTable(&cursor); }
  std::uint8_t* Rec() { return static_cast<std::uint8_t*>(cursor.FCurrentRecordBuffer); }
  std::int32_t Id() {
    std::int32_t v = -1;
    GetFieldDataFromBuffer(0, table->FieldManager().FFieldDefs, &v, Rec());
    return v;
  }
  void SetBlob(const std::string& bytes) {
    std::unique_ptr<TNRDStream> s(table->InternalCreateBlobStream(&cursor, true, 2, bomWrite));
    if (!bytes.empty()) s->Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    else s->SetModified(true);
    table->WriteBLOBFieldToRecordBuffer(&cursor, 2, s.get());
  }
  std::string GetBlob() {
    if (IsFieldNull(Rec(), 2)) return "";
    std::unique_ptr<TNRDStream> s(table->InternalCreateBlobStream(&cursor, false, 2, bomRead));
    std::string out(static_cast<std::size_t>(s->Size()), '\0');
    s->SetPosition(0);
    if (!out.empty()) s->Read(out.data(), static_cast<std::int32_t>(out.size()));
    s.reset();
    table->ClearBlobsCacheInRecordBuffer(Rec());
    return out;
  }
  bool Insert(std::int64_t i) {
    std::memset(Rec(), 0, static_cast<std::size_t>(size));
    const TNRDFieldDefs& d = table->FieldManager().FFieldDefs;
    std::int32_t id = static_cast<std::int32_t>(i);
    char name[21] = {0};
    std::snprintf(name, sizeof name, "n%lld", static_cast<long long>(i));
    SetFieldDataToBuffer(0, d, &id, Rec());
    SetFieldDataToBuffer(1, d, name, Rec());
    SetFieldNull(Rec(), 2, true);
    const std::size_t n = BlobSize(i);
    if (n > 0) SetBlob(Bytes(n, i));
    TNRDCursor* c = &cursor;
    return table->InsertRecord(c);
  }
  TNRDGetRecordResult Next() {
    TNRDNavigationInfo nav;
    nav.GetRecordMode = grmNext;
    nav.RecordID = cursor.CurrentRecordID;
    nav.FirstPosition = cursor.FirstPosition;
    nav.LastPosition = cursor.LastPosition;
    nav.RecordBuffer = Rec();
    nav.IndexID = -1;
    table->RecordManager().GetRecordBuffer(cursor.SessionID(), nav);
    if (nav.GetRecordResult == grrOK) {
      cursor.CurrentRecordID = nav.RecordID;
      cursor.FirstPosition = cursor.LastPosition = false;
    }
    return nav.GetRecordResult;
  }
  // Reads every record; checks each value with want(id) ("" for none). Returns the count.
  std::int64_t Verify(const std::function<std::string(std::int32_t)>& want) {
    cursor.FirstPosition = true;
    cursor.LastPosition = false;
    std::int64_t n = 0;
    while (Next() == grrOK) {
      const std::int32_t id = Id();
      if (GetBlob() != want(id)) Fail(table->FTableName + ": value of record " + std::to_string(id));
      ++n;
    }
    return n;
  }
};

void Step(const std::string& what, const std::function<void()>& body) {
  const double t0 = Seconds();
  body();
  std::printf("  %-44s %8.2f s\n", what.c_str(), Seconds() - t0);
  std::fflush(stdout);
}

void Check(TNRDDiskDatabaseData& db) {
  if (!CheckDatabaseTables(*db.DiskPageManager(), std::cout)) Fail("the file's check");
}

// The same steps on any engine; reopen closes and opens the database (a file) or does nothing.
void Run(const std::string& engine, std::int64_t count, const std::function<TNRDDatabaseData&()>& db,
         Session& session, const std::function<void()>& reopen, bool canChange) {
  std::printf("%s, %lld records\n", engine.c_str(), static_cast<long long>(count));
  auto original = [](std::int32_t id) { return Bytes(BlobSize(id), id); };
  {
    Table t(db(), session, "Lifecycle");
    Step("create and fill", [&] {
      t.Create();
      t.Open();
      t.cursor.FBatchUpdate = true;
      for (std::int64_t i = 0; i < count; ++i)
        if (!t.Insert(i)) Fail("insert " + std::to_string(i));
      t.table->ApplyChanges(session.FSessionID, false);
      t.Close();
    });
  }
  reopen();
  {
    Table t(db(), session, "Lifecycle");
    t.Open();
    Step("read back", [&] {
      if (t.Verify(original) != count) Fail("record count after filling");
    });
    if (canChange) {
      Step("update every 7th value", [&] {
        t.cursor.FirstPosition = true;
        t.cursor.FBatchUpdate = true;
        while (t.Next() == grrOK) {
          if (t.Id() % 7 != 0) continue;
          t.SetBlob(Bytes(BlobSize(t.Id() + 3), -t.Id()));
          if (!t.table->UpdateRecord(&t.cursor)) Fail("update");
        }
        t.table->ApplyChanges(session.FSessionID, false);
      });
    }
    t.Close();
  }
  reopen();
  auto updated = [&](std::int32_t id) {
    return canChange && id % 7 == 0 ? Bytes(BlobSize(id + 3), -id) : Bytes(BlobSize(id), id);
  };
  {
    Table t(db(), session, "Lifecycle");
    t.Open();
    if (canChange) {
      Step("read back, delete every 3rd record", [&] {
        if (t.Verify(updated) != count) Fail("record count after updates");
        t.cursor.FirstPosition = true;
        t.cursor.FBatchUpdate = true;
        while (t.Next() == grrOK)
          if (t.Id() % 3 == 0 && !t.table->DeleteRecord(&t.cursor)) Fail("delete");
        t.table->ApplyChanges(session.FSessionID, false);
      });
    }
    t.Close();
  }
  reopen();
  {
    Table t(db(), session, "Lifecycle");
    t.Open();
    Step("read back, empty", [&] {
      const std::int64_t left = t.Verify(updated);
      const std::int64_t want = canChange ? count - (count + 2) / 3 : count;
      if (left != want) Fail("record count after deletes: " + std::to_string(left));
      t.Close();
      t.table->EmptyTable(&t.cursor);
      t.Open();
      if (t.Verify(updated) != 0) Fail("records after emptying");
    });
    t.Close();
    Step("rename", [&] { t.table->RenameTable("Renamed", &t.cursor); });
  }
  reopen();
  {
    Table t(db(), session, "Renamed");
    Step("delete", [&] { t.table->DeleteTable(&t.cursor, false); });
  }
  if (db().TableExists("Renamed")) Fail("table still listed");
  reopen();
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t count = argc > 1 ? std::atoll(argv[1]) : 100000;
  const std::string folder = argc > 2 ? argv[2] : "/tmp";
  {
    TNRDMemoryDatabaseData memory;
    Session s;
    memory.ConnectSession(&s);
    Run("MEMORY", count, [&]() -> TNRDDatabaseData& { return memory; }, s, [] {}, true);
    memory.DisconnectSession(&s);
  }
  {
    TNRDTemporaryDatabaseData temp;
    Session s;
    temp.ConnectSession(&s);
    // Temporary tables take inserts only.
    Run("TEMP", count, [&]() -> TNRDDatabaseData& { return temp; }, s, [] {}, false);
    temp.DisconnectSession(&s);
  }
  {
    const std::string file = folder + "/lifecycle.at4";
    std::filesystem::remove(file);
    TNRDDiskDatabaseData creator;
    creator.FDatabaseName = file;
    creator.CreateDatabase();
    Session s;
    std::unique_ptr<TNRDDiskDatabaseData> db;
    auto connect = [&] {
      db = std::make_unique<TNRDDiskDatabaseData>();
      db->FDatabaseName = file;
      db->ConnectSession(&s);
    };
    connect();
    auto reopen = [&] {
      db->DisconnectSession(&s);
      connect();
      Check(*db);
    };
    Run("database file", count, [&]() -> TNRDDatabaseData& { return *db; }, s, reopen, true);
    std::printf("  file size after deleting the table: %lld bytes\n",
                static_cast<long long>(std::filesystem::file_size(file)));
    db->DisconnectSession(&s);
    std::filesystem::remove(file);
  }
  std::printf("all steps sound\n");
  return 0;
}
