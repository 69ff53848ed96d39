// Helpers of the engine tests: a session and a cursor over a table of an engine, records filled
// and read through the cursor's buffer, BLOB values written and read through the table object.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/foundation/NRDMemory.h"
#include "engine/storage/NRDCursor.h"
#include "tests/engine-storage/TestCursor.h"
#include "engine/storage/NRDDatabaseData.h"
#include "engine/storage/NRDFieldManager.h"
#include "engine/storage/NRDTableData.h"
#include "tests/engine-storage/StorageFakes.h"

namespace enginetest_tables {

class TestSession : public nrd::TNRDBaseSession {};

// A cursor of a session on one table; its current record buffer is owned here.
struct TableCursor {
  TableCursor(nrd::TNRDDatabaseData& db, TestSession& session, const std::string& name) {
    cursor.FTableName = name;
    cursor.FSession = &session;
    table = db.FindOrCreateTableData(&cursor);
  }
  ~TableCursor() {
    if (cursor.FCurrentRecordBuffer != nullptr) nrd::GlobalMemoryManager().FreeMem(cursor.FCurrentRecordBuffer);
  }
  // Fields: id Integer, name String(20), data Blob.
  void Create(bool withBlob = true) {
    nrd::TNRDFieldDefs fields;
    storagetest::DefineFields(fields, {{"ID", nrd::aftInteger, 0}, {"NAME", nrd::aftString, 20}});
    if (withBlob) storagetest::DefineFields(fields, {{"DATA", nrd::aftBlob, 0}});
    nrd::TNRDIndexDefs indexes;
    nrd::TNRDConstraintDefs constraints;
    table->CreateTable(&cursor, fields, indexes, constraints);
    Open();
  }
  void Open() {
    table->OpenTable(&cursor);
    cursor.FFieldDefs.Assign(table->FieldManager().FFieldDefs);
    size = table->GetRecordBufferSize();
    if (cursor.FCurrentRecordBuffer == nullptr) cursor.FCurrentRecordBuffer = nrd::GlobalMemoryManager().AllocMem(size);
  }
  std::uint8_t* Rec() const { return static_cast<std::uint8_t*>(cursor.FCurrentRecordBuffer); }
  void Fill(std::int32_t id, const std::string& name) {
    std::memset(Rec(), 0, static_cast<std::size_t>(size));
    const nrd::TNRDFieldDefs& d = table->FieldManager().FFieldDefs;
    nrd::SetFieldDataToBuffer(0, d, &id, Rec());
    char text[64] = {0};
    std::strncpy(text, name.c_str(), 20);
    nrd::SetFieldDataToBuffer(1, d, text, Rec());
    if (d.GetCount() > 2) nrd::SetFieldNull(Rec(), 2, true);
  }
  std::int32_t Id() const {
    std::int32_t v = -1;
    nrd::GetFieldDataFromBuffer(0, table->FieldManager().FFieldDefs, &v, Rec());
    return v;
  }
  bool Insert(std::int32_t id, const std::string& name = "n") {
    Fill(id, name);
    nrd::TNRDCursor* c = &cursor;
    return table->InsertRecord(c);
  }
  // Reads the record the navigation names into the cursor's buffer.
  nrd::TNRDGetRecordResult Read(nrd::TNRDGetRecordMode mode) {
    nrd::TNRDNavigationInfo nav;
    nav.GetRecordMode = mode;
    nav.RecordID = cursor.CurrentRecordID;
    // A current read names its record by ID, wherever the cursor stood.
    nav.FirstPosition = mode != nrd::grmCurrent && cursor.FirstPosition;
    nav.LastPosition = mode != nrd::grmCurrent && cursor.LastPosition;
    nav.RecordBuffer = cursor.FCurrentRecordBuffer;
    nav.IndexID = -1;
    table->RecordManager().GetRecordBuffer(cursor.SessionID(), nav);
    if (nav.GetRecordResult == nrd::grrOK) {
      cursor.CurrentRecordID = nav.RecordID;
      cursor.FirstPosition = false;
      cursor.LastPosition = false;
    }
    return nav.GetRecordResult;
  }
  std::vector<std::int32_t> ScanIds() {
    std::vector<std::int32_t> ids;
    cursor.FirstPosition = true;
    cursor.LastPosition = false;
    while (Read(nrd::grmNext) == nrd::grrOK) ids.push_back(Id());
    return ids;
  }
  void SetBlob(const std::string& bytes, std::int32_t fieldNo = 2) {
    std::unique_ptr<nrd::TNRDStream> s(table->InternalCreateBlobStream(&cursor, true, fieldNo, nrd::bomWrite));
    if (!bytes.empty()) s->Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    else s->SetModified(true);
    table->WriteBLOBFieldToRecordBuffer(&cursor, fieldNo, s.get());
  }
  std::string GetBlob(std::int32_t fieldNo = 2) {
    if (nrd::IsFieldNull(Rec(), fieldNo)) return "<null>";
    std::unique_ptr<nrd::TNRDStream> s(table->InternalCreateBlobStream(&cursor, false, fieldNo, nrd::bomRead));
    std::string out(static_cast<std::size_t>(s->Size()), '\0');
    s->SetPosition(0);
    if (!out.empty()) s->Read(out.data(), static_cast<std::int32_t>(out.size()));
    s.reset();
    table->ClearBlobsCacheInRecordBuffer(cursor.FCurrentRecordBuffer);
    return out;
  }

  TTestCursor cursor;
  nrd::TNRDTableData* table = nullptr;
  std::int32_t size = 0;
};

// Bytes that do not compress to nothing: a counter pattern of the given length.
inline std::string Pattern(std::size_t n, unsigned seed = 1) {
  std::string s(n, '\0');
  unsigned x = seed * 2654435761u;
  for (std::size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>((x >> 16) & 0xFF);
  }
  return s;
}

}  // namespace enginetest_tables
