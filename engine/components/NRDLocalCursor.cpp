// The local cursor: table operations under the database lock, record operations under the table
// lock, with re-read and compare before every change.
#include "engine/components/NRDLocalCursor.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "engine/components/NRDDataSet.h"
#include "engine/components/NRDSession.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/storage/NRDConstraints.h"
#include "engine/storage/NRDDiskTable.h"
#include "engine/storage/NRDFieldManager.h"
#include "engine/storage/NRDIndexManager.h"
#include "engine/storage/NRDCursorNavigation.h"
#include "engine/storage/NRDRecordBitmap.h"

namespace nrd {

namespace {

TNRDCursorExpressionFactory* gCursorExpressions = nullptr;

constexpr const char* kInvalidFieldNo = "Invalid field number - FieldNo = %d, FieldCount = %d";

[[noreturn]] void NoExpressions() { throw ENRDException(30039, "Not implemented yet"); }


// Holds the table object's lock for a scope.
class TableLock {
 public:
  explicit TableLock(TNRDCursor& c) : c_(c) { c_.LockTableData(); }
  ~TableLock() { c_.UnlockTableData(); }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;

 private:
  TNRDCursor& c_;
};

}  // namespace

void SetCursorExpressionFactory(TNRDCursorExpressionFactory* factory) { gCursorExpressions = factory; }
TNRDCursorExpressionFactory* GetCursorExpressionFactory() { return gCursorExpressions; }

TNRDLocalCursor::TNRDLocalCursor() {
  FIndexID = -1;
  FTableLockedByCursor = false;
  FBatchUpdate = false;
}

TNRDLocalCursor::~TNRDLocalCursor() {
  try {
    CloseTable();
  } catch (...) {
  }
}

TNRDDatabaseData& TNRDLocalCursor::SessionDatabase() {
  auto* session = dynamic_cast<TNRDLocalSession*>(FSession);
  if (session == nullptr || session->DatabaseData() == nullptr) throw ENRDException(20151, "Pointer is nil");
  FDatabaseData = session->DatabaseData();
  return *FDatabaseData;
}

TNRDTableData& TNRDLocalCursor::Table(int code) const {
  if (FTableData == nullptr) throw ENRDException(code, "Nil pointer occured");
  return *FTableData;
}

bool TNRDLocalCursor::IsTemporaryTable() const {
  return FDatabaseData != nullptr && IsTemporaryDatabaseName(FDatabaseData->FDatabaseName);
}

bool TNRDLocalCursor::InTransaction() const { return FSession != nullptr && FSession->FInTransaction; }

namespace {
// A disk table object made for a structure operation is not kept once no cursor uses it: the
// table's state is on disk, and a later open reads it again.
void ReleaseUnusedDiskTable(TNRDTableData* t) {
  if (dynamic_cast<TNRDDiskTableData*>(t) != nullptr && t->Cursors().empty()) delete t;
}
}  // namespace

bool TNRDLocalCursor::IsDatabaseReadOnly() const {
  return (FDatabaseData != nullptr && FDatabaseData->FReadOnly) || (FSession != nullptr && FSession->FReadOnly);
}

void TNRDLocalCursor::CheckWritable(int code) const {
  // A file another process holds, or one opened read-only, is refused here, before any page or
  // lock of it is touched.
  if (IsDatabaseReadOnly()) throw ENRDException(code, "Dataset is in read only mode");
}

// ----- table operations -------------------------------------------------------------------------------------

void TNRDLocalCursor::CreateTable(TNRDFieldDefs& fieldDefs, TNRDIndexDefs& indexDefs,
                                  TNRDConstraintDefs& constraintDefs) {
  TNRDDatabaseData& db = SessionDatabase();
  TNRDDatabaseLock lock(db);
  CloseTable();
  if (db.TableExists(FTableName)) DeleteTable();
  TNRDTableData* t = db.FindOrCreateTableData(this);
  if (t == nullptr) throw ENRDException(20151, "Pointer is nil");
  try {
    t->CreateTable(this, fieldDefs, indexDefs, constraintDefs);
  } catch (...) {
    CloseTable();
    ReleaseUnusedDiskTable(t);
    throw;
  }
  CloseTable();
  ReleaseUnusedDiskTable(t);
}

void TNRDLocalCursor::DeleteTable() {
  TNRDDatabaseData& db = SessionDatabase();
  TNRDDatabaseLock lock(db);
  CloseTable();
  if (!db.TableExists(FTableName)) throw ENRDException(20132, "Table '%s' not found", {FTableName});
  TNRDTableData* t = db.FindOrCreateTableData(this);
  if (t == nullptr) throw ENRDException(10027, "Table not found, table name = %s", {FTableName});
  if (FSession != nullptr && t->FFieldManager != nullptr)
    for (std::int32_t i = 0; i < t->FieldManager().FFieldDefs.GetCount(); ++i)
      FSession->DeleteObject(t->FieldManager().FFieldDefs.GetFieldDef(i)->FObjectID);
  t->DeleteTable(this, false);
  FTableData = nullptr;
  CloseTable();
}

void TNRDLocalCursor::EmptyTable() {
  TNRDDatabaseData& db = SessionDatabase();
  TNRDDatabaseLock lock(db);
  CloseTable();
  if (!db.TableExists(FTableName)) throw ENRDException(20133, "Table '%s' not found", {FTableName});
  TNRDTableData* t = db.FindOrCreateTableData(this);
  if (t == nullptr) throw ENRDException(10073, "Table not found, table name = %s", {FTableName});
  try {
    t->EmptyTable(this);
  } catch (...) {
    CloseTable();
    ReleaseUnusedDiskTable(t);
    throw;
  }
  CloseTable();
  ReleaseUnusedDiskTable(t);
}

void TNRDLocalCursor::RenameTable(const std::string& newTableName) {
  TNRDDatabaseData& db = SessionDatabase();
  TNRDDatabaseLock lock(db);
  CloseTable();
  if (!db.TableExists(FTableName)) throw ENRDException(20134, "Table '%s' not found", {FTableName});
  if (!SameName(newTableName, FTableName) && db.TableExists(newTableName))
    throw ENRDException(30451, "Table %s already exists", {newTableName});
  if (newTableName == FTableName) throw ENRDException(30452, "Cannot rename table '%s' into itself", {FTableName});
  TNRDTableData* t = db.FindOrCreateTableData(this);
  if (t == nullptr) throw ENRDException(10151, "Table not found, table name = %s", {FTableName});
  t->RenameTable(newTableName, this);
  CloseTable();
  ReleaseUnusedDiskTable(t);
  FTableName = newTableName;
}

void TNRDLocalCursor::InternalInitFieldDefs() {
  TNRDTableData& t = Table(10003);
  FFieldDefs.Assign(t.FieldManager().FFieldDefs);
  FFieldDefs.RecalcFieldOffsets();
  if (!FSettingProjection || FVisibleFieldDefs.GetCount() == 0) {
    FVisibleFieldDefs.Assign(FFieldDefs);
    for (std::int32_t i = 0; i < FVisibleFieldDefs.GetCount(); ++i) FVisibleFieldDefs.GetFieldDef(i)->FFieldNoReference = i;
  }
  FConstraintDefs.Assign(t.ConstraintManager().FConstraintDefs);
  const std::int32_t count = FFieldDefs.GetCount();
  if (count > 0) {
    const TNRDFieldDef* last = FFieldDefs.GetFieldDef(count - 1);
    FBookmarkOffset = last->FMemoryOffset + last->FMemoryDataSize;
    FFieldValuesOffset = FFieldDefs.GetFieldDef(0)->FMemoryOffset;
  } else {
    FBookmarkOffset = 0;
    FFieldValuesOffset = 0;
  }
  FKeyOffset = FBookmarkOffset;
  FKeyBufferSize = FBookmarkOffset + 6;
  FRecordSize = FRecordBufferSize = FCalculatedFieldsOffset = FBookmarkOffset + 7;
}

void TNRDLocalCursor::OpenTableByFieldDefs(TNRDFieldDefs& fieldDefs, TNRDIndexDefs& indexDefs,
                                           TNRDConstraintDefs& constraintDefs) {
  if (FIsOpen) return;
  TNRDDatabaseData& db = SessionDatabase();
  TNRDDatabaseLock lock(db);
  TNRDTableData* t = db.FindTableData(this);
  const bool memoryOrTemp = IsMemoryDatabaseName(db.FDatabaseName) || IsTemporaryDatabaseName(db.FDatabaseName);
  if (t == nullptr) {
    if (memoryOrTemp && !FIsDesignMode) throw ENRDException(10028, "Table not found, table name = %s", {FTableName});
    t = db.CreateTableData(this);
    if (memoryOrTemp) t->CreateTable(this, fieldDefs, indexDefs, constraintDefs);
  }
  OpenTable(t);
  FBorrowedTable = false;  // found or made for this cursor: its own to release
}

void TNRDLocalCursor::OpenTable(TNRDTableData* tableData) {
  if (tableData == nullptr) throw ENRDException(20151, "Pointer is nil");
  TNRDDatabaseLock lock(*tableData->FDatabaseData);
  FDatabaseData = tableData->FDatabaseData;
  FTableData = tableData;
  FBorrowedTable = true;
  tableData->FIsRepairing = FIsRepairing;
  tableData->OpenTable(this);
  FirstPosition = true;
  LastPosition = false;
  FIndexDefs.Assign(tableData->IndexManager().FIndexDefs);
  FBLOBStreams.clear();
  InternalInitFieldDefs();
  FOwnBitmap = std::make_unique<TNRDRecordBitmap>(tableData);
  FRecordBitmap = FOwnBitmap.get();
  FIsOpen = true;
}

void TNRDLocalCursor::CloseTable() {
  if (FTableData != nullptr) {
    TNRDDatabaseLock lock(*FTableData->FDatabaseData);
    ClearBLOBStreams(false);
    TNRDTableData* t = FTableData;
    t->CloseTable(this);
    if (FIsDesignMode && (FInMemory || FTemporary)) t->DeleteTable(this, true);
    // A disk table object lives while cursors use it; its state is on disk, and another process
    // may change the table before the next open reads it again.
    else if (!FBorrowedTable && Disk() != nullptr && t->Cursors().empty()) delete t;
    FTableData = nullptr;
  }
  FRecordBitmap = nullptr;
  FOwnBitmap.reset();
  FFilterExpression = nullptr;
  FOwnFilter.reset();
  FFieldDefs.Clear();
  if (!FSettingProjection) FVisibleFieldDefs.Clear();
  FIndexDefs.Clear();
  for (std::size_t i = FBLOBStreams.size(); i-- > 0;) FreeStream(i);
  FConstraintDefs.Clear();
}

void TNRDLocalCursor::LockTableData() {
  if (FTableData == nullptr) throw ENRDException(10260, "Nil pointer occured");
  FTableData->Lock();
}

void TNRDLocalCursor::UnlockTableData() {
  if (FTableData == nullptr) throw ENRDException(10261, "Nil pointer occured");
  FTableData->Unlock();
}

// Cross-session table locks exist only on multi-user disk tables; every other table is always
// "locked" for this cursor.
bool TNRDLocalCursor::LockTable(TNRDLockType lockType, std::int32_t tryCount, std::int32_t delay,
                                bool allowXIRWAfterSIRW) {
  if (FTableData == nullptr) throw ENRDException(20221, "Pointer is nil");
  if (TNRDDiskTableData* disk = Disk()) return disk->LockTable(SessionID(), lockType, tryCount, delay, allowXIRWAfterSIRW);
  return true;
}

bool TNRDLocalCursor::UnlockTable(TNRDLockType lockType, bool ignoreIfNoLock) {
  if (FTableData == nullptr) throw ENRDException(20222, "Pointer is nil");
  if (TNRDDiskTableData* disk = Disk()) return disk->UnlockTable(SessionID(), lockType, ignoreIfNoLock);
  return true;
}

TNRDDiskTableData* TNRDLocalCursor::Disk() const { return dynamic_cast<TNRDDiskTableData*>(FTableData); }

bool TNRDLocalCursor::MultiUserDisk() const {
  return FSession != nullptr && FSession->FMultiUser && Disk() != nullptr;
}

bool TNRDLocalCursor::LockTableWaiting(TNRDLockType lockType, int attempts, int sleepMS) {
  // The table object's lock is left during each sleep so that other sessions of this process
  // can finish what blocks us.
  for (int i = 0; i < attempts; ++i) {
    if (Disk()->LockTable(SessionID(), lockType, 1, 0, true)) return true;
    UnlockTableData();
    std::this_thread::sleep_for(std::chrono::milliseconds(sleepMS));
    LockTableData();
  }
  return false;
}

void TNRDLocalCursor::RenameField(const std::string& fieldName, const std::string& newFieldName) {
  Table(10003).RenameField(fieldName, newFieldName);
}

TNRDIndexDefs& TNRDLocalCursor::GetIndexDefs() {
  if (FTableData != nullptr) FIndexDefs.Assign(FTableData->IndexManager().FIndexDefs);
  return FIndexDefs;
}

void TNRDLocalCursor::AddIndex(TNRDIndexDef& indexDef) {
  if (FIndexDefs.GetDefNumberByName(indexDef.FName) >= 0)
    throw ENRDException(20022, "Cannot create index '%s'. Index already exists", {indexDef.FName});
  TNRDTableData& t = Table(10003);
  t.AddIndex(indexDef, this);
  FIndexDefs.Assign(t.IndexManager().FIndexDefs);
  FConstraintDefs.Assign(t.ConstraintManager().FConstraintDefs);
}

void TNRDLocalCursor::DeleteIndex(const std::string& name) {
  const TNRDIndexDef* def = FIndexDefs.GetIndexDefByName(name);
  if (def == nullptr) throw ENRDException(20021, "Cannot delete index '%s'. Index not found", {name});
  TNRDTableData& t = Table(10003);
  t.DeleteIndex(def->FObjectID, this);
  FIndexDefs.Assign(t.IndexManager().FIndexDefs);
  FConstraintDefs.Assign(t.ConstraintManager().FConstraintDefs);
}

void TNRDLocalCursor::DeleteAllIndexes() {
  TNRDTableData& t = Table(10003);
  t.DeleteAllIndexes(this);
  FIndexDefs.Assign(t.IndexManager().FIndexDefs);
  FConstraintDefs.Assign(t.ConstraintManager().FConstraintDefs);
}

std::vector<std::string> TNRDLocalCursor::PhysicalNames(const std::vector<std::string>& names) const {
  std::vector<std::string> r = names;
  for (std::string& n : r) {
    if (FFieldDefs.GetDefNumberByName(n) >= 0) continue;
    const TNRDFieldDef* v = FVisibleFieldDefs.GetFieldDefByName(n);
    if (v != nullptr && v->FFieldNoReference >= 0 && v->FFieldNoReference < FFieldDefs.GetCount())
      n = FFieldDefs.GetFieldDef(v->FFieldNoReference)->FName;
  }
  return r;
}

std::string TNRDLocalCursor::FindOrCreateIndex(const std::vector<std::string>& fieldNamesList,
                                               const std::vector<std::string>& ascDescList,
                                               const std::vector<std::string>& caseSensitivityList, bool& isCreated) {
  TNRDTableData& t = Table(10003);
  const std::string name =
      t.FindOrCreateIndex(this, PhysicalNames(fieldNamesList), ascDescList, caseSensitivityList, isCreated);
  FIndexDefs.Assign(t.IndexManager().FIndexDefs);
  return name;
}

bool TNRDLocalCursor::IndexExists(const std::vector<std::string>& fieldNamesList,
                                  const std::vector<std::string>& ascDescList,
                                  const std::vector<std::string>& caseSensitivityList) {
  return Table(10003).IndexExists(this, PhysicalNames(fieldNamesList), ascDescList, caseSensitivityList);
}

void TNRDLocalCursor::CopyFieldValue(std::int32_t srcFieldNo, bool directAccess, std::int32_t destFieldNo,
                                     TNRDCursor& destCursor) {
  const TNRDFieldDefs& srcDefs = directAccess ? FFieldDefs : FVisibleFieldDefs;
  if (srcFieldNo < 0 || srcFieldNo >= srcDefs.GetCount())
    throw ENRDException(10501, kInvalidFieldNo, {srcFieldNo, srcDefs.GetCount()});
  if (destFieldNo < 0 || destFieldNo >= destCursor.VisibleFieldDefs().GetCount())
    throw ENRDException(10502, kInvalidFieldNo, {destFieldNo, destCursor.VisibleFieldDefs().GetCount()});
  const std::int32_t srcPhys = directAccess ? srcFieldNo : srcDefs.GetFieldDef(srcFieldNo)->FFieldNoReference;
  const std::int32_t dstPhys = destCursor.VisibleFieldDefs().GetFieldDef(destFieldNo)->FFieldNoReference;
  const TNRDFieldDef& s = *FFieldDefs.GetFieldDef(srcPhys);
  const TNRDFieldDef& d = *destCursor.FieldDefs().GetFieldDef(dstPhys);
  if (FCurrentRecordBuffer == nullptr || destCursor.CurrentRecordBuffer() == nullptr)
    throw ENRDException(10003, "Nil pointer occured");
  if (IsFieldNull(FCurrentRecordBuffer, srcPhys)) {
    SetFieldNull(destCursor.CurrentRecordBuffer(), dstPhys, true);
    return;
  }
  const bool blob = IsBlobBaseFieldType(s.FBaseFieldType);
  if (!blob && s.FBaseFieldType == d.FBaseFieldType && s.FMemoryDataSize == d.FMemoryDataSize) {
    SetFieldNull(destCursor.CurrentRecordBuffer(), dstPhys, false);
    std::memcpy(static_cast<std::uint8_t*>(destCursor.CurrentRecordBuffer()) + d.FMemoryOffset,
                static_cast<const std::uint8_t*>(FCurrentRecordBuffer) + s.FMemoryOffset,
                static_cast<std::size_t>(s.FMemoryDataSize));
    return;
  }
  auto* dest = dynamic_cast<TNRDLocalCursor*>(&destCursor);
  if (blob && dest != nullptr && dest->FTableData != nullptr && IsBlobBaseFieldType(d.FBaseFieldType)) {
    TNRDTableData& t = Table(10500);
    TNRDBLOBDescriptor descriptor{};
    void* data = nullptr;
    t.GetDirectBlobData(this, srcPhys, FCurrentRecordBuffer, descriptor, data);
    try {
      dest->FTableData->SetDirectBlobData(dest, dstPhys, dest->FCurrentRecordBuffer, descriptor, data);
    } catch (...) {
      t.FreeDirectBlobData(this, srcPhys, FCurrentRecordBuffer, descriptor, data);
      throw;
    }
    t.FreeDirectBlobData(this, srcPhys, FCurrentRecordBuffer, descriptor, data);
    return;
  }
  TNRDVariant value;
  GetFieldValue(value, srcPhys, true);
  destCursor.SetFieldValue(value, destFieldNo, false);
}

void TNRDLocalCursor::InternalInitRecord(void* recordBuffer, bool insertMode) {
  const std::int32_t nullBytes = (FFieldDefs.GetCount() + 7) / 8;
  std::memset(recordBuffer, 0, static_cast<std::size_t>(FBookmarkOffset));
  std::memset(recordBuffer, 0xFF, static_cast<std::size_t>(nullBytes));
  if (insertMode && !FTemporary && FTableData != nullptr)
    FTableData->FieldManager().ApplyDefaultValuesToRecordBuffer(FSession, recordBuffer);
}

void TNRDLocalCursor::FreeRecordBuffer(void*& buffer) {
  if (buffer == nullptr) return;
  if (FTableData != nullptr) FTableData->ClearBlobsCacheInRecordBuffer(buffer);
  GlobalMemoryManager().FreeAndNillMem(buffer);
}

// ----- navigation -------------------------------------------------------------------------------------------

std::int64_t TNRDLocalCursor::GetRecordCount() {
  return nrd::GetRecordCount(Table(10003), *this);
}

TNRDGetRecordResult TNRDLocalCursor::GetRecordBuffer(TNRDGetRecordMode getRecordMode) {
  TableLock lock(*this);
  const TNRDGetRecordResult r = nrd::GetRecordBuffer(*FTableData, *this, getRecordMode);
  if (r == grrOK && FCurrentRecordBuffer != nullptr && FBookmarkOffset > 0) {
    auto* p = static_cast<std::uint8_t*>(FCurrentRecordBuffer) + FBookmarkOffset;
    CurrentRecordID.Encode(p);
    p[6] = 0;
  }
  return r;
}

void TNRDLocalCursor::SetRecNo(std::int64_t value) {
  nrd::SetRecNo(Table(10003), *this, value);
}

std::int64_t TNRDLocalCursor::GetRecNo() {
  return nrd::GetRecNo(Table(10003), *this);
}

std::int32_t TNRDLocalCursor::CompareRecordsOrder(const TNRDPageItemID& id1, const TNRDPageItemID& id2) {
  if (FIndexID != -1 && FTableData != nullptr) {
    const auto pos = SavePosition();
    void* savedBuffer = FCurrentRecordBuffer;
    void* b1 = AllocateRecordBuffer();
    void* b2 = AllocateRecordBuffer();
    std::int32_t r = 0;
    bool decided = false;
    try {
      FCurrentRecordBuffer = b1;
      CurrentRecordID = id1;
      FirstPosition = LastPosition = false;
      if (GetRecordBuffer(grmCurrent) != grrOK) {
        r = -1;
        decided = true;
      } else {
        FCurrentRecordBuffer = b2;
        CurrentRecordID = id2;
        FirstPosition = LastPosition = false;
        if (GetRecordBuffer(grmCurrent) != grrOK) {
          r = 1;
          decided = true;
        } else if (TNRDIndex* index = FTableData->IndexManager().OpenIndex(FIndexID)) {
          // Every column of the index decides, as its order does.
          const TNRDIndexDef* def = FTableData->IndexManager().FIndexDefs.GetIndexDefByObjectId(FIndexID);
          r = index->CompareRecordBuffersByIndex(b1, b2, def != nullptr ? def->ColumnCount() : -1);
          decided = r != 0;
        }
      }
    } catch (...) {
      FCurrentRecordBuffer = savedBuffer;
      RestorePosition(*pos);
      GlobalMemoryManager().FreeAndNillMem(b1);
      GlobalMemoryManager().FreeAndNillMem(b2);
      throw;
    }
    FCurrentRecordBuffer = savedBuffer;
    RestorePosition(*pos);
    GlobalMemoryManager().FreeAndNillMem(b1);
    GlobalMemoryManager().FreeAndNillMem(b2);
    if (decided) return r < 0 ? -1 : (r > 0 ? 1 : 0);
  }
  if (id1.PageNo != id2.PageNo) return id1.PageNo < id2.PageNo ? -1 : 1;
  if (id1.PageItemNo != id2.PageItemNo) return id1.PageItemNo < id2.PageItemNo ? -1 : 1;
  return 0;
}

void TNRDLocalCursor::InternalFirst() {
  FirstPosition = true;
  LastPosition = false;
}

void TNRDLocalCursor::InternalLast() {
  FirstPosition = false;
  LastPosition = true;
}

// ----- record operations ------------------------------------------------------------------------------------

void TNRDLocalCursor::TakeBookmarkID() {
  if (FCurrentRecordBuffer != nullptr && FBookmarkOffset > 0)
    CurrentRecordID = TNRDPageItemID::Decode(static_cast<const std::uint8_t*>(FCurrentRecordBuffer) + FBookmarkOffset);
}

bool TNRDLocalCursor::ReadStored(std::vector<std::uint8_t>& copy) {
  // The caller's values go aside; the stored record is read into the buffer.
  copy.assign(static_cast<const std::uint8_t*>(FCurrentRecordBuffer),
              static_cast<const std::uint8_t*>(FCurrentRecordBuffer) + FRecordBufferSize);
  FirstPosition = LastPosition = false;
  return GetRecordBuffer(grmCurrent) == grrOK;
}

void TNRDLocalCursor::InternalEdit() {
  CheckWritable(10032);
  TableLock lock(*this);
  FErrorCode = 0;
  if (IsTemporaryTable()) {
    FErrorCode = -9;
    return;
  }
  const bool multi = MultiUserDisk();
  const TNRDLockType lockType = InTransaction() ? ltXIRW : ltSIRW;
  if (multi) {
    if (!Disk()->LockTable(SessionID(), lockType, 900, 100, true)) {
      FErrorCode = -13;
      return;
    }
    if (!Disk()->LockRecord(SessionID(), CurrentRecordID, 15, 100, this)) {
      Disk()->UnlockTable(SessionID(), lockType, false);
      FErrorCode = -12;
      return;
    }
  }
  const TNRDPageItemID id = CurrentRecordID;
  std::vector<std::uint8_t> copy;
  const bool found = ReadStored(copy);
  if (!found) FErrorCode = -6;
  else if (!FTableData->FieldManager().CompareRecordBuffers(copy.data(), FCurrentRecordBuffer)) FErrorCode = -4;
  // The caller keeps the values it read, whatever the outcome.
  if (found) FTableData->ClearBlobsCacheInRecordBuffer(FCurrentRecordBuffer);
  std::memcpy(FCurrentRecordBuffer, copy.data(), copy.size());
  CurrentRecordID = id;
  if (multi && FErrorCode != 0) {
    Disk()->UnlockRecord(SessionID(), id, this);
    Disk()->UnlockTable(SessionID(), lockType, false);
  }
}

void TNRDLocalCursor::InternalPost(bool toInsert) {
  CheckWritable(10032);
  TableLock lock(*this);
  FErrorCode = 0;
  const bool multi = MultiUserDisk();
  if (multi && !LockTableWaiting(InTransaction() ? ltXIRW : ltRW, 2250, 40)) {
    FErrorCode = -13;
    return;
  }
  PostProper(toInsert);
  if (!multi) return;
  if (!toInsert && FErrorCode != -8) {
    Disk()->UnlockRecord(SessionID(), CurrentRecordID, this);
    Disk()->UnlockTable(SessionID(), ltSIRW, InTransaction());
  }
  if (!InTransaction()) Disk()->UnlockTable(SessionID(), ltRW, false);
}

void TNRDLocalCursor::PostProper(bool toInsert) {
  try {
    // What a stream still open for writing holds is part of the record being posted.
    WriteOpenBLOBStreams();
    if (toInsert) {
      if (TNRDDiskTableData* disk = Disk()) disk->LoadMostUpdated(SessionID());
      FTableData->FieldManager().ApplyAutoincsToRecordBuffer(FSession, FCurrentRecordBuffer);
    }
    if (!IsTemporaryTable())
      FTableData->ConstraintManager().CheckConstraints(SessionID(), FCurrentRecordBuffer, FEditRecordBuffer, toInsert,
                                                      CurrentRecordID, true, true);
  } catch (const Exception& e) {
    FErrorCode = -8;
    FErrorMessage = e.Message();
    return;
  }
  ClearBLOBStreams(true);
  if (toInsert) {
    TNRDCursor* self = this;
    FErrorCode = FTableData->InsertRecord(self) ? 0 : -1;
    if (FErrorCode == 0 && FBookmarkOffset > 0) {
      auto* p = static_cast<std::uint8_t*>(FCurrentRecordBuffer) + FBookmarkOffset;
      CurrentRecordID.Encode(p);
      p[6] = 3;
    }
    return;
  }
  TakeBookmarkID();
  const TNRDPageItemID id = CurrentRecordID;
  std::vector<std::uint8_t> values;
  const bool found = ReadStored(values);
  if (!found) FErrorCode = -6;
  else if (FEditRecordBuffer != nullptr &&
           !FTableData->FieldManager().CompareRecordBuffers(FEditRecordBuffer, FCurrentRecordBuffer))
    FErrorCode = -4;
  if (found) FTableData->ClearBlobsCacheInRecordBuffer(FCurrentRecordBuffer);
  std::memcpy(FCurrentRecordBuffer, values.data(), values.size());
  CurrentRecordID = id;
  if (FErrorCode != 0) return;
  FErrorCode = FTableData->UpdateRecord(this) ? 0 : -2;
}

void TNRDLocalCursor::InternalCancel(bool toInsert) {
  TableLock lock(*this);
  FErrorCode = 0;
  ClearBLOBStreams(true);
  TNRDDiskTableData* disk = Disk();
  if (disk != nullptr && FCurrentRecordBuffer != nullptr) disk->ClearModifiedBLOBFieldsInRecordBuffer(FCurrentRecordBuffer);
  if (toInsert && FCurrentRecordBuffer != nullptr) FTableData->ClearBLOBFieldsInRecordBuffer(FCurrentRecordBuffer);
  // Values written during an edit are dropped; the stored record keeps its own.
  if (!toInsert && disk == nullptr && FCurrentRecordBuffer != nullptr)
    FTableData->ClearBlobsCacheInRecordBuffer(FCurrentRecordBuffer);
  if (!toInsert && MultiUserDisk()) {
    disk->UnlockRecord(SessionID(), CurrentRecordID, this);
    if (!InTransaction()) disk->UnlockTable(SessionID(), ltSIRW, true);
  }
}

void TNRDLocalCursor::InternalDelete() {
  CheckWritable(10069);
  TableLock lock(*this);
  FErrorCode = 0;
  const bool multi = MultiUserDisk();
  const TNRDLockType lockType = InTransaction() ? ltXIRW : ltRW;
  TakeBookmarkID();
  const TNRDPageItemID id = CurrentRecordID;
  if (multi) {
    if (!LockTableWaiting(lockType, 900, 100)) {
      FErrorCode = -13;
      return;
    }
    if (!Disk()->LockRecord(SessionID(), id, 15, 100, this)) {
      Disk()->UnlockTable(SessionID(), lockType, false);
      FErrorCode = -12;
      return;
    }
  }
  DeleteProper();
  if (multi) {
    Disk()->UnlockRecord(SessionID(), id, this);
    if (!InTransaction()) Disk()->UnlockTable(SessionID(), ltRW, false);
  }
}

void TNRDLocalCursor::DeleteProper() {
  if (IsTemporaryTable()) {
    FErrorCode = -10;
    return;
  }
  const TNRDPageItemID id = CurrentRecordID;
  std::vector<std::uint8_t> copy;
  const bool found = ReadStored(copy);
  if (!found) FErrorCode = -7;
  else if (!FTableData->FieldManager().CompareRecordBuffers(copy.data(), FCurrentRecordBuffer)) FErrorCode = -5;
  if (found) FTableData->ClearBlobsCacheInRecordBuffer(FCurrentRecordBuffer);
  std::memcpy(FCurrentRecordBuffer, copy.data(), copy.size());
  CurrentRecordID = id;
  if (FErrorCode != 0) return;
  FErrorCode = FTableData->DeleteRecord(this) ? 0 : -3;
}

bool TNRDLocalCursor::IsRecordLocked() {
  TableLock lock(*this);
  TakeBookmarkID();
  if (TNRDDiskTableData* disk = Disk()) return disk->IsRecordLocked(SessionID(), CurrentRecordID, this);
  return false;
}

void TNRDLocalCursor::ApplyDistinct(const std::vector<std::string>& fieldNamesList,
                                    const std::vector<std::string>& ascDescList,
                                    const std::vector<std::string>& caseSensitivityList) {
  TableLock lock(*this);
  bool created = false;
  const std::string name = FindOrCreateIndex(fieldNamesList, ascDescList, caseSensitivityList, created);
  SetIndexName(name);
  FDistinctFieldCount = static_cast<std::int32_t>(fieldNamesList.size());
  DisableRecordBitmap();
}

void TNRDLocalCursor::ActivateFilters(const std::string& filterText, bool caseInsensitive, bool partialKey) {
  FFilterExpression = nullptr;
  FOwnFilter.reset();
  if (gCursorExpressions == nullptr) NoExpressions();
  FOwnFilter = gCursorExpressions->ParseForFilter(*this, filterText, caseInsensitive, partialKey);
  FFilterExpression = FOwnFilter.get();
  DisableRecordBitmap();
}

void TNRDLocalCursor::DeactivateFilters() {
  FFilterExpression = nullptr;
  FOwnFilter.reset();
  DisableRecordBitmap();
}

bool TNRDLocalCursor::Locate(const std::vector<std::string>& keyFields, const std::vector<TVariantValue>& keyValues,
                             bool caseInsensitive, bool partialKey) {
  if (gCursorExpressions == nullptr) NoExpressions();
  std::unique_ptr<TNRDExpression> e =
      gCursorExpressions->ParseForLocate(*this, keyFields, keyValues, caseInsensitive, partialKey);
  return nrd::Locate(Table(10003), *this, e.get());
}

bool TNRDLocalCursor::FindKey(TNRDSearchCondition searchCondition) {
  return nrd::FindKey(Table(10003), *this, searchCondition);
}

bool TNRDLocalCursor::IsAnyRecordMatchCondition(const std::string& fieldName, TNRDDataOperator op,
                                                const TNRDVariant& value) {
  if (gCursorExpressions == nullptr) NoExpressions();
  std::unique_ptr<TNRDExpression> e = gCursorExpressions->ParseForIsAnyRecordMatchCondition(*this, fieldName, op, value);
  return nrd::Locate(Table(10003), *this, e.get());
}

// ----- BLOB streams -----------------------------------------------------------------------------------------

TNRDStream* TNRDLocalCursor::InternalCreateBlobStream(bool toInsert, bool toEdit, std::int32_t fieldNo,
                                                      TNRDBLOBOpenMode openMode, bool canDoGetRecordBuffer) {
  if (openMode != bomRead) CheckWritable(10107);
  TableLock lock(*this);
  if (fieldNo < 0 || fieldNo >= FVisibleFieldDefs.GetCount())
    throw ENRDException(10110, kInvalidFieldNo, {fieldNo, FVisibleFieldDefs.GetCount()});
  const std::int32_t phys = FVisibleFieldDefs.GetFieldDef(fieldNo)->FFieldNoReference;
  if (openMode != bomRead)
    for (TNRDStream* s : FBLOBStreams) {
      auto* ls = dynamic_cast<TNRDLocalBLOBStream*>(s);
      if (ls == nullptr) throw ENRDException(10114, "Nil pointer occured");
      if (ls->FieldNo() == phys && ls->OpenMode() != bomRead)
        throw ENRDException(10115, "BLOB field already opened. FieldNo = %d, FieldName = %s",
                            {fieldNo, FVisibleFieldDefs.GetFieldDef(fieldNo)->FName});
    }
  // A stored value is read from the record as it is now, not as the caller last saw it.
  if (!toInsert && !toEdit && canDoGetRecordBuffer && FBLOBStreams.empty() && FCurrentRecordBuffer != nullptr) {
    const auto pos = SavePosition();
    FirstPosition = LastPosition = false;
    const bool ok = GetRecordBuffer(grmCurrent) == grrOK;
    RestorePosition(*pos);
    if (!ok) return nullptr;
  }
  const bool multi = MultiUserDisk();
  if (multi && !Disk()->LockTable(SessionID(), ltS, 2250, 40, true)) return nullptr;
  TNRDStream* engine = nullptr;
  try {
    engine = FTableData->InternalCreateBlobStream(this, toInsert, phys, openMode);
  } catch (...) {
    if (multi) Disk()->UnlockTable(SessionID(), ltS, false);
    throw;
  }
  if (multi) Disk()->UnlockTable(SessionID(), ltS, false);
  if (engine == nullptr) return nullptr;
  auto* stream = new TNRDLocalBLOBStream(std::unique_ptr<TNRDStream>(engine), openMode, phys);
  FBLOBStreams.push_back(stream);
  return stream;
}

void TNRDLocalCursor::FreeStream(std::size_t i) {
  TNRDStream* s = FBLOBStreams[i];
  // A data-set stream still open over this one must not reach it after it is gone.
  if (auto* ls = dynamic_cast<TNRDLocalBLOBStream*>(s))
    if (auto* user = dynamic_cast<TNRDBLOBStream*>(ls->FUserBLOBStream)) user->DetachEngineStream();
  FBLOBStreams.erase(FBLOBStreams.begin() + static_cast<std::ptrdiff_t>(i));
  delete s;
}

void TNRDLocalCursor::InternalCloseBLOB(std::int32_t fieldNo) {
  TableLock lock(*this);
  if (fieldNo < 0 || fieldNo >= FVisibleFieldDefs.GetCount())
    throw ENRDException(10118, kInvalidFieldNo, {fieldNo, FVisibleFieldDefs.GetCount()});
  const std::int32_t phys = FVisibleFieldDefs.GetFieldDef(fieldNo)->FFieldNoReference;
  for (std::size_t i = FBLOBStreams.size(); i-- > 0;) {
    auto* ls = dynamic_cast<TNRDLocalBLOBStream*>(FBLOBStreams[i]);
    if (ls == nullptr) throw ENRDException(10120, "Nil pointer occured");
    if (ls->FieldNo() != phys) continue;
    if (ls->OpenMode() != bomRead && FCurrentRecordBuffer != nullptr)
      FTableData->WriteBLOBFieldToRecordBuffer(this, phys, &ls->TemporaryStream());
    FreeStream(i);
  }
}

void TNRDLocalCursor::WriteOpenBLOBStreams() {
  if (FCurrentRecordBuffer == nullptr) return;
  for (TNRDStream* s : FBLOBStreams) {
    auto* ls = dynamic_cast<TNRDLocalBLOBStream*>(s);
    if (ls == nullptr) throw ENRDException(10121, "Nil pointer occured");
    if (ls->OpenMode() != bomRead) FTableData->WriteBLOBFieldToRecordBuffer(this, ls->FieldNo(), &ls->TemporaryStream());
  }
}

void TNRDLocalCursor::ClearBLOBStreams(bool writeOnly) {
  // Streams are dropped unwritten: a cancel or a post that wrote them through InternalCloseBLOB.
  for (std::size_t i = FBLOBStreams.size(); i-- > 0;) {
    auto* ls = dynamic_cast<TNRDLocalBLOBStream*>(FBLOBStreams[i]);
    if (ls == nullptr) throw ENRDException(10121, "Nil pointer occured");
    if (writeOnly && ls->OpenMode() == bomRead) continue;
    FreeStream(i);
  }
}

std::int64_t TNRDLocalCursor::LastAutoincValue(std::int32_t fieldNo) {
  return Table(10003).LastAutoincValue(fieldNo, FSession);
}

void TNRDLocalCursor::BeginBatchUpdate() {
  if (!InTransaction()) FBatchUpdate = true;
}

void TNRDLocalCursor::EndBatchUpdate() {
  if (!InTransaction() && FBatchUpdate && FTableData != nullptr && FDatabaseData != nullptr &&
      !IsMemoryDatabaseName(FDatabaseData->FDatabaseName) && !IsTemporaryDatabaseName(FDatabaseData->FDatabaseName))
    FTableData->ApplyChanges(SessionID(), false);
  FBatchUpdate = false;
}

void TNRDLocalCursor::CancelBatchUpdate() {
  if (!InTransaction() && FBatchUpdate && FTableData != nullptr && FDatabaseData != nullptr &&
      !IsMemoryDatabaseName(FDatabaseData->FDatabaseName) && !IsTemporaryDatabaseName(FDatabaseData->FDatabaseName))
    FTableData->CancelChanges(SessionID(), false);
  FBatchUpdate = false;
}

bool TNRDLocalCursor::CheckConstraints(bool toInsert) {
  return Table(10003).ConstraintManager().CheckConstraints(SessionID(), FCurrentRecordBuffer, FEditRecordBuffer,
                                                           toInsert, CurrentRecordID, false, true);
}

}  // namespace nrd
