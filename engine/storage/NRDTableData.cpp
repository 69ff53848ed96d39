// Table data base, record manager interface and the handle table.
#include "engine/storage/NRDTableData.h"

#include <algorithm>

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDConstraints.h"
#include "engine/storage/NRDCursor.h"
#include "engine/storage/NRDDatabaseData.h"
#include "engine/storage/NRDFieldManager.h"
#include "engine/storage/NRDIndexManager.h"
#include "engine/storage/NRDPageManager.h"

namespace nrd {

namespace {
[[noreturn]] void RaiseNotOverridden(const char* method, const char* className) {
  throw ENRDException(30339, "The method '%s' not overrided in class '%s'",
                      {std::string(method), std::string(className)});
}

std::int32_t CursorSessionID(const TNRDCursor* cursor) { return cursor != nullptr ? cursor->SessionID() : -2; }

// Keeps a cursor's position across an operation that may move it, also on failure.
class TPositionKeeper {
 public:
  explicit TPositionKeeper(TNRDCursor* cursor) : cursor_(cursor) {
    if (cursor_ != nullptr) saved_ = cursor_->SavePosition();
  }
  ~TPositionKeeper() {
    if (cursor_ != nullptr) cursor_->RestorePosition(*saved_);
  }
  TPositionKeeper(const TPositionKeeper&) = delete;
  TPositionKeeper& operator=(const TPositionKeeper&) = delete;

 private:
  TNRDCursor* cursor_;
  std::unique_ptr<TNRDCursorPosition> saved_;
};
}  // namespace

// ----- record manager --------------------------------------------------------------------------------
void TNRDBaseRecordManager::NotOverridden(const char* method) const { RaiseNotOverridden(method, ClassName()); }
void TNRDBaseRecordManager::Empty(std::int32_t) { NotOverridden("Empty"); }
bool TNRDBaseRecordManager::AddRecord(std::int32_t, void*, TNRDPageItemID&) { NotOverridden("AddRecord"); }
bool TNRDBaseRecordManager::UpdateRecord(std::int32_t, void*, const TNRDPageItemID&) { NotOverridden("UpdateRecord"); }
bool TNRDBaseRecordManager::DeleteRecord(std::int32_t, TNRDPageItemID&) { NotOverridden("DeleteRecord"); }
void TNRDBaseRecordManager::GetRecordBuffer(std::int32_t, TNRDNavigationInfo&) { NotOverridden("GetRecordBuffer"); }
std::unique_ptr<TNRDRecordReader> TNRDBaseRecordManager::CreateReader(std::int32_t sessionID) {
  return std::make_unique<TNRDRecordReader>(*this, sessionID);
}
void TNRDRecordReader::Read(TNRDNavigationInfo& navigationInfo) { FRecords.GetRecordBuffer(FSessionID, navigationInfo); }
std::int32_t TNRDBaseRecordManager::CompareRecordID(const TNRDPageItemID&, const TNRDPageItemID&) {
  NotOverridden("CompareRecordID");
}
std::int64_t TNRDBaseRecordManager::GetApproximateRecNo(std::int32_t, const TNRDPageItemID&) {
  NotOverridden("GetApproximateRecNo");
}

// ----- handle table ------------------------------------------------------------------------------------
namespace {
constexpr std::uint32_t kIndexBits = 20;
constexpr std::uint32_t kIndexMask = (1u << kIndexBits) - 1;
constexpr std::uint32_t kGenerationMask = 0xFFFu;
}  // namespace

std::uint32_t TNRDHandleTable::Add(void* object) {
  std::uint32_t index;
  if (!free_.empty()) {
    index = free_.back();
    free_.pop_back();
  } else {
    if (slots_.size() >= kIndexMask) throw ENRDException(30015, "GetMem error: %s", {std::string(kOutOfMemoryText)});
    index = static_cast<std::uint32_t>(slots_.size());
    slots_.emplace_back();
  }
  Slot& s = slots_[index];
  s.object = object;
  s.used = true;
  ++live_;
  return (static_cast<std::uint32_t>(s.generation & kGenerationMask) << kIndexBits) | (index + 1);
}

void* TNRDHandleTable::Get(std::uint32_t handle) const {
  const std::uint32_t index = handle & kIndexMask;
  if (index == 0 || index > slots_.size()) return nullptr;
  const Slot& s = slots_[index - 1];
  if (!s.used || (s.generation & kGenerationMask) != (handle >> kIndexBits)) return nullptr;
  return s.object;
}

bool TNRDHandleTable::Remove(std::uint32_t handle) {
  const std::uint32_t index = handle & kIndexMask;
  if (index == 0 || index > slots_.size()) return false;
  Slot& s = slots_[index - 1];
  if (!s.used || (s.generation & kGenerationMask) != (handle >> kIndexBits)) return false;
  s.used = false;
  s.object = nullptr;
  s.generation = static_cast<std::uint16_t>((s.generation + 1) & kGenerationMask);
  free_.push_back(index - 1);
  --live_;
  return true;
}

// ----- table data -------------------------------------------------------------------------------------
TNRDTableData::TNRDTableData(TNRDDatabaseData* databaseData) : FDatabaseData(databaseData) {
  if (FDatabaseData != nullptr) FDatabaseData->AddTableData(this);
}

TNRDTableData::~TNRDTableData() {
  FFieldManager.reset();
  FIndexManager.reset();
  FConstraintManager.reset();
  FRecordManager.reset();
  if (FDatabaseData != nullptr) FDatabaseData->RemoveTableData(this);
}

void TNRDTableData::NotOverridden(const char* method) const { RaiseNotOverridden(method, ClassName()); }

void TNRDTableData::Lock() { FDatabaseData->Lock(); }
void TNRDTableData::Unlock() { FDatabaseData->Unlock(); }

void TNRDTableData::EnsureManagers() {
  if (!FFieldManager) FFieldManager = std::make_unique<TNRDBaseFieldManager>(this);
  if (!FIndexManager) FIndexManager = std::make_unique<TNRDBaseIndexManager>(this, nullptr);
  if (!FConstraintManager) FConstraintManager = std::make_unique<TNRDBaseConstraintManager>(this);
}

void TNRDTableData::CreateRecordManager() { NotOverridden("CreateRecordManager"); }
void TNRDTableData::CreateTable(TNRDCursor*, const TNRDFieldDefs&, const TNRDIndexDefs&, const TNRDConstraintDefs&) {
  NotOverridden("CreateTable");
}
std::int64_t TNRDTableData::GetBitmapRecordCount(std::int32_t) { NotOverridden("GetBitmapRecordCount"); }
std::int64_t TNRDTableData::RecordIDToBitmapRecNo(const TNRDPageItemID&) { NotOverridden("RecordIDToBitmapRecNo"); }
TNRDPageItemID TNRDTableData::BitmapRecNoToRecordID(std::int64_t) { NotOverridden("BitmapRecNoToRecordID"); }
void TNRDTableData::WriteBLOBFieldToRecordBuffer(TNRDCursor*, std::int32_t, TNRDStream*) {
  NotOverridden("WriteBLOBFieldToRecordBuffer");
}
TNRDStream* TNRDTableData::InternalCreateBlobStream(TNRDCursor*, bool, std::int32_t, TNRDBLOBOpenMode) {
  NotOverridden("InternalCreateBlobStream");
}
void TNRDTableData::GetDirectBlobData(TNRDCursor*, std::int32_t, void*, TNRDBLOBDescriptor&, void*&) {
  NotOverridden("GetDirectBlobData");
}
void TNRDTableData::SetDirectBlobData(TNRDCursor*, std::int32_t, void*, TNRDBLOBDescriptor&, void*&) {
  NotOverridden("SetDirectBlobData");
}
void TNRDTableData::FreeDirectBlobData(TNRDCursor*, std::int32_t, void*, TNRDBLOBDescriptor&, void*&) {
  NotOverridden("FreeDirectBlobData");
}
bool TNRDTableData::InsertRecord(TNRDCursor*&) { NotOverridden("InsertRecord"); }
bool TNRDTableData::DeleteRecord(TNRDCursor*) { NotOverridden("DeleteRecord"); }
bool TNRDTableData::UpdateRecord(TNRDCursor*) { NotOverridden("UpdateRecord"); }
void TNRDTableData::InternalSetRecNo(TNRDCursor*, std::int64_t) { NotOverridden("InternalSetRecNo"); }
std::int64_t TNRDTableData::InternalGetRecNo(TNRDCursor*) { NotOverridden("InternalGetRecNo"); }
std::int64_t TNRDTableData::InternalGetRecordCount(TNRDCursor*) { NotOverridden("InternalGetRecordCount"); }

void TNRDTableData::AssignNewObjectIds(TNRDMetaObjectDefs& defs) {
  for (std::int32_t i = 0; i < defs.GetCount(); ++i) defs.GetDef(i)->FObjectID = FDatabaseData->GetNewObjectId();
}

void TNRDTableData::InitFieldManager(TNRDFieldDefs& fieldDefs) {
  TNRDTableDataLock lock(*this);
  EnsureManagers();
  AssignNewObjectIds(fieldDefs);
  FFieldManager->FFieldDefs.Assign(fieldDefs);
  FFieldManager->RecalcFieldOffsets();
  FFieldManager->InitLastAutoIncValues();
}

void TNRDTableData::InitIndexManager(TNRDIndexDefs& indexDefs) {
  TNRDTableDataLock lock(*this);
  EnsureManagers();
  AssignNewObjectIds(indexDefs);
  FIndexManager->CreateIndexDefs(indexDefs);
}

void TNRDTableData::InitConstraintManager(TNRDConstraintDefs& constraintDefs) {
  TNRDTableDataLock lock(*this);
  EnsureManagers();
  AssignNewObjectIds(constraintDefs);
  for (std::int32_t i = 0; i < constraintDefs.GetCount(); ++i) {
    TNRDConstraintDef* def = constraintDefs.GetConstraintDef(i);
    if (def->FConstraintType == ctFK || def->FConstraintType > ctCheck) throw ENRDException(30058, "Not implemented yet");
    if (def->FConstraintType == ctNotNull || def->FConstraintType == ctCheck)
      static_cast<TNRDConstraintDefColumn*>(def)->FTableName = CutShortName(FTableName);
    else
      static_cast<TNRDConstraintDefUnique*>(def)->FTableName = CutShortName(FTableName);
  }
  FConstraintManager->FConstraintDefs.Assign(constraintDefs);
  FConstraintManager->LinkObjectIds();
  FConstraintManager->FillConstraintAutoNames();
}

std::int32_t TNRDTableData::GetRecordBufferSize() const {
  if (!FFieldManager || FFieldManager->FFieldDefs.GetCount() == 0)
    throw ENRDException(10131, "Error creating table - no fields were specified");
  return FFieldManager->FFieldDefs.GetMemoryRecordBufferSize();
}


void TNRDTableData::InitManagers(const TNRDFieldDefs& fieldDefs, const TNRDIndexDefs& indexDefs,
                                 const TNRDConstraintDefs& constraintDefs) {
  TNRDFieldDefs fields;
  fields.Assign(fieldDefs);
  TNRDIndexDefs indexes;
  indexes.Assign(indexDefs);
  TNRDConstraintDefs constraints;
  constraints.Assign(constraintDefs);
  InitFieldManager(fields);
  InitIndexManager(indexes);
  InitConstraintManager(constraints);
  CreateRecordManager();
}
void TNRDTableData::InitCursorRecordSize(TNRDCursor& cursor) {
  const TNRDFieldDefs* defs = FFieldManager ? &FFieldManager->FFieldDefs : nullptr;
  cursor.SetTableRecordLayout(GetRecordBufferSize(),
                              defs != nullptr && defs->GetCount() > 0 ? defs->GetFieldDef(0)->FMemoryOffset : 0);
}

void TNRDTableData::ApplyChanges(std::int32_t sessionID, bool inTransaction) {
  if (!inTransaction && FPageManager != nullptr) FPageManager->ApplyChanges(sessionID);
}

void TNRDTableData::CancelChanges(std::int32_t sessionID, bool inTransaction) {
  if (!inTransaction && FPageManager != nullptr) FPageManager->CancelChanges(sessionID);
}

namespace {
bool OpenByAnother(const std::vector<TNRDCursor*>& cursors, const TNRDCursor* self) {
  return std::any_of(cursors.begin(), cursors.end(), [self](const TNRDCursor* c) { return c != self; });
}
}  // namespace

void TNRDTableData::DeleteTable(TNRDCursor* cursor, bool designMode) {
  TNRDTableDataLock lock(*this);
  if (!designMode && OpenByAnother(FCursorList, cursor))
    throw ENRDException(20017, "Cannot delete table '%s'. Table is open by another dataset", {FTableName});
}

void TNRDTableData::EmptyTable(TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  EnsureManagers();
  FFieldManager->InitLastAutoIncValues();
  FIndexManager->EmptyAllIndexes(CursorSessionID(cursor));
}

void TNRDTableData::RenameTable(const std::string& newTableName, TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  if (OpenByAnother(FCursorList, cursor))
    throw ENRDException(10150, "Cannot rename table '%s'. Table is open by another dataset", {FTableName});
  FTableName = newTableName;
}

void TNRDTableData::OpenTable(TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  FCursorList.push_back(cursor);
}

void TNRDTableData::CloseTable(TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  auto it = std::find(FCursorList.begin(), FCursorList.end(), cursor);
  if (it != FCursorList.end()) FCursorList.erase(it);
}

void TNRDTableData::RenameField(const std::string& fieldName, const std::string& newFieldName) {
  TNRDTableDataLock lock(*this);
  EnsureManagers();
  TNRDFieldDef* field = FFieldManager->FFieldDefs.GetFieldDefByName(fieldName);
  if (field == nullptr) throw ENRDException(30343, "Field '%s' not found", {fieldName});
  if (FFieldManager->FFieldDefs.GetDefNumberByName(newFieldName) >= 0)
    throw ENRDException(30344, "Cannot rename field '%s'. Field '%s' already exists", {fieldName, newFieldName});
  field->FName = CutShortName(newFieldName);
  FIndexManager->RenameField(fieldName, field->FName);
}

std::int32_t TNRDTableData::AddIndex(TNRDIndexDef& indexDef, TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  EnsureManagers();
  TPositionKeeper keep(cursor);
  const std::int32_t id = FIndexManager->CreateIndex(cursor, indexDef);
  if (!indexDef.FTemporary && (cursor == nullptr || !cursor->Temporary())) {
    const TNRDIndexDef* created = FIndexManager->FIndexDefs.GetIndexDefByObjectId(id);
    if (created != nullptr) FConstraintManager->AddConstraintFromIndex(*created);
  }
  return id;
}

void TNRDTableData::DeleteIndex(std::int32_t indexID, TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  EnsureManagers();
  if (cursor != nullptr) {
    const TNRDIndexDef* def = FIndexManager->FIndexDefs.GetIndexDefByObjectId(indexID);
    if (def != nullptr && !def->FTemporary && !cursor->Temporary()) FConstraintManager->DeleteConstraintForIndexID(indexID);
  }
  FIndexManager->DropIndex(CursorSessionID(cursor), indexID);
}

void TNRDTableData::EmptyIndex(std::int32_t indexID, std::int32_t sessionID) {
  TNRDTableDataLock lock(*this);
  EnsureManagers();
  FIndexManager->EmptyIndex(sessionID, indexID);
}

void TNRDTableData::DeleteAllIndexes(TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  EnsureManagers();
  while (FIndexManager->FIndexDefs.GetCount() > 0) DeleteIndex(FIndexManager->FIndexDefs.GetIndexDef(0)->FObjectID, cursor);
}

void TNRDTableData::EmptyAllIndexes(std::int32_t sessionID) {
  TNRDTableDataLock lock(*this);
  EnsureManagers();
  FIndexManager->EmptyAllIndexes(sessionID);
}

std::string TNRDTableData::FindOrCreateIndex(TNRDCursor* cursor, const std::vector<std::string>& fieldNamesList,
                                             const std::vector<std::string>& ascDescList,
                                             const std::vector<std::string>& caseSensitivityList, bool& isCreated) {
  TNRDTableDataLock lock(*this);
  EnsureManagers();
  TPositionKeeper keep(cursor);
  const std::int32_t sessionID = CursorSessionID(cursor);
  const bool inTransaction = cursor != nullptr && cursor->Session() != nullptr && cursor->Session()->FInTransaction;
  try {
    const std::int32_t id =
        FIndexManager->FindOrCreateIndex(cursor, fieldNamesList, ascDescList, caseSensitivityList, isCreated);
    const TNRDIndexDef* def = FIndexManager->FIndexDefs.GetIndexDefByObjectId(id);
    if (def == nullptr) throw ENRDException(10324, "Cannot find index by ID = %d", {id});
    std::string name = def->FName;
    ApplyChanges(sessionID, inTransaction);
    return name;
  } catch (...) {
    CancelChanges(sessionID, inTransaction);
    throw;
  }
}

bool TNRDTableData::IndexExists(TNRDCursor* cursor, const std::vector<std::string>& fieldNamesList,
                                const std::vector<std::string>& ascDescList,
                                const std::vector<std::string>& caseSensitivityList) {
  TNRDTableDataLock lock(*this);
  EnsureManagers();
  return FIndexManager->IsIndexExists(fieldNamesList, ascDescList, caseSensitivityList, CursorSessionID(cursor),
                                      cursor->FieldDefs());
}

bool TNRDTableData::IsUniqueConstraintFailed(std::int32_t sessionID, std::int32_t indexID, const void* newRecordBuffer,
                                             const void* oldRecordBuffer, bool toInsert,
                                             const TNRDPageItemID& currentRecordID) {
  (void)currentRecordID;
  if (!FRecordManager || FRecordManager->FRecordCount == 0) return false;
  TNRDIndex* index = FIndexManager->OpenIndex(indexID);
  if (toInsert) return !index->CanInsertRecord(sessionID, newRecordBuffer);
  return !index->CanUpdateRecord(sessionID, oldRecordBuffer, newRecordBuffer);
}

void TNRDTableData::ClearBLOBFieldsInRecordBuffer(void* recordBuffer) {
  if (!FFieldManager || !FFieldManager->BlobFieldsPresent()) return;
  const TNRDFieldDefs& defs = FFieldManager->FFieldDefs;
  for (std::int32_t i = 0; i < defs.GetCount(); ++i)
    if (defs.GetFieldDef(i)->IsBlob()) ClearBLOBFieldInRecordBuffer(recordBuffer, i);
}

std::int64_t TNRDTableData::LastAutoincValue(std::int32_t, TNRDBaseSession*) { return 0; }

void TNRDTableData::Rollback(std::int32_t sessionID) { RebuildTemporaryIndexes(sessionID); }

void TNRDTableData::RebuildTemporaryIndexes(std::int32_t sessionID) {
  TNRDTableDataLock lock(*this);
  if (!FIndexManager) return;
  const std::vector<TNRDCursor*> cursors = FCursorList;
  for (TNRDCursor* c : cursors) {
    if (c->SessionID() != sessionID) continue;
    bool changed = false;
    FIndexManager->SynchronizeTemporaryIndexes(c, changed);
  }
}

}  // namespace nrd
