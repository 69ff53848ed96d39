// Stand-ins for the parts of storage that later layers supply: a database object that counts out
// object IDs, a table object over a record manager that keeps records in a map, and an index that
// records what the index manager asks of it. Physical bitmap positions are the record's PageNo.
#pragma once

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/foundation/NRDMemory.h"
#include "engine/storage/NRDConstraints.h"
#include "engine/storage/NRDCursor.h"
#include "engine/storage/NRDDatabaseData.h"
#include "engine/storage/NRDFieldManager.h"
#include "engine/storage/NRDIndexManager.h"
#include "engine/storage/NRDTableData.h"

namespace storagetest {

class FakeDatabase : public nrd::TNRDDatabaseData {
 public:
  std::int32_t GetNewObjectId() override { return ++LastId; }
  nrd::TNRDTableData* CreateTableData(nrd::TNRDCursor* cursor) override;
  std::int32_t LastId = 100;
};

class FakeRecordManager : public nrd::TNRDBaseRecordManager {
 public:
  void GetRecordBuffer(std::int32_t, nrd::TNRDNavigationInfo& nav) override {
    auto it = Records.find(nav.RecordID.PageNo);
    if (nav.GetRecordMode != nrd::grmCurrent || it == Records.end()) {
      nav.GetRecordResult = nrd::grrError;
      return;
    }
    if (nav.RecordBuffer != nullptr) std::memcpy(nav.RecordBuffer, it->second.data(), it->second.size());
    nav.GetRecordResult = nrd::grrOK;
    ++Reads;
  }
  void Add(std::int32_t id, std::vector<std::uint8_t> record) {
    Records[id] = std::move(record);
    FRecordCount = static_cast<std::int64_t>(Records.size());
    ++FTableState;
  }
  std::map<std::int32_t, std::vector<std::uint8_t>> Records;
  int Reads = 0;
};

class FakeTable : public nrd::TNRDTableData {
 public:
  explicit FakeTable(nrd::TNRDDatabaseData* db, std::string name = "T") : TNRDTableData(db) {
    FTableName = std::move(name);
    FRecordManager = std::make_unique<FakeRecordManager>();
  }
  FakeRecordManager& Records() { return static_cast<FakeRecordManager&>(*FRecordManager); }
  std::int64_t RecordIDToBitmapRecNo(const nrd::TNRDPageItemID& id) override { return id.PageNo; }
  nrd::TNRDPageItemID BitmapRecNoToRecordID(std::int64_t bitNo) override {
    nrd::TNRDPageItemID id;
    id.PageNo = static_cast<std::int32_t>(bitNo);
    return id;
  }
  void ClearBLOBFieldInRecordBuffer(void*, std::int32_t fieldNo) override { ClearedBlobFields.push_back(fieldNo); }
  std::vector<std::int32_t> ClearedBlobFields;
};

inline nrd::TNRDTableData* FakeDatabase::CreateTableData(nrd::TNRDCursor* cursor) {
  return new FakeTable(this, cursor->TableName());
}

// What the stub indexes were asked, shared by every index object of a manager.
struct IndexJournal {
  std::vector<std::string> calls;
  bool canInsert = true;
  bool canUpdate = true;
  bool failBuild = false;
  std::int32_t rootAfterInsert = -1;
};

class StubIndex : public nrd::TNRDIndex {
 public:
  StubIndex(nrd::TNRDBaseIndexManager* m, IndexJournal& j) : TNRDIndex(m), journal(j) {}
  void Note(const std::string& what) { journal.calls.push_back(what + ":" + FIndexDef.FName); }
  void CreateIndex(nrd::TNRDCursor* cursor, const nrd::TNRDIndexDef& def) override {
    TNRDIndex::CreateIndex(cursor, def);
    if (journal.failBuild) throw nrd::ENRDException(20999, "build failed");
    FIndexDef.FRootPageNo = 500 + FIndexDef.FObjectID;
    Note("create");
  }
  void OpenIndex(const nrd::TNRDIndexDef& def) override {
    TNRDIndex::OpenIndex(def);
    Note("open");
  }
  void DropIndex(std::int32_t) override { Note("drop"); }
  void EmptyIndex(std::int32_t) override { Note("empty"); }
  void RebuildTemporaryIndex(nrd::TNRDCursor*) override { Note("rebuild"); }
  void InsertRecord(nrd::TNRDCursor*) override {
    Note("insert");
    if (journal.rootAfterInsert >= 0) FIndexDef.FRootPageNo = journal.rootAfterInsert;
  }
  void DeleteRecord(nrd::TNRDCursor*) override { Note("delete"); }
  void UpdateRecord(nrd::TNRDCursor*, bool before) override { Note(before ? "update-before" : "update-after"); }
  bool CanInsertRecord(std::int32_t, const void*) override {
    Note("can-insert");
    return journal.canInsert;
  }
  bool CanUpdateRecord(std::int32_t, const void*, const void*) override {
    Note("can-update");
    return journal.canUpdate;
  }
  void GetRecordBuffer(std::int32_t, nrd::TNRDNavigationInfo&, nrd::TNRDIndexPositionCache*, std::int32_t) override {
    Note("read");
  }
  void GetClosestRecordBuffer(std::int32_t, nrd::TNRDNavigationInfo&, nrd::TNRDIndexPositionCache*,
                              std::int32_t) override {
    Note("closest");
  }
  std::int32_t GetMaxEntriesPerPage() override { return 10; }
  IndexJournal& journal;
};

inline nrd::TNRDRecordIndexCreator StubCreator(IndexJournal& journal) {
  return [&journal](nrd::TNRDBaseIndexManager& m) { return std::make_unique<StubIndex>(&m, journal); };
}

// A table with the base managers, its fields defined from (name, column type, size) triples.
struct FieldSpec {
  const char* name;
  nrd::TNRDAdvancedFieldType type;
  std::int32_t size;
};

inline void DefineFields(nrd::TNRDFieldDefs& defs, std::initializer_list<FieldSpec> specs) {
  for (const FieldSpec& s : specs) {
    nrd::TNRDFieldDef* f = defs.AddCreated();
    f->FName = s.name;
    f->SetFieldDefDataType(s.type, s.size);
  }
}

// A zero-filled engine memory record buffer freed at scope end.
struct RecordBuffer {
  explicit RecordBuffer(std::int32_t size) : p(nrd::NRDAllocMem(size)), size(size) {}
  std::uint8_t* data() const { return p.get(); }
  nrd::TNRDMemoryPtr p;
  std::int32_t size;
};

}  // namespace storagetest
