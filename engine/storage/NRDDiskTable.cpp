// The disk table object.
#include "engine/storage/NRDDiskTable.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDStreams.h"
#include "engine/storage/NRDBlobPages.h"
#include "engine/storage/NRDConstraints.h"
#include "engine/storage/NRDCursor.h"
#include "engine/storage/NRDDiskDatabase.h"
#include "engine/storage/NRDDiskPageManager.h"
#include "engine/storage/NRDEngineShared.h"
#include "engine/storage/NRDFieldManager.h"
#include "engine/storage/NRDIndexManager.h"
#include "engine/storage/NRDInternalFiles.h"
#include "engine/foundation/NRDFinally.h"
#include "engine/storage/NRDLockManager.h"
#include "engine/storage/NRDRecordPages.h"
#include "engine/storage/NRDSystemFiles.h"
#include "engine/storage/NRDTempEngine.h"

namespace nrd {

TNRDDiskTableData::TNRDDiskTableData(TNRDDiskDatabaseData* databaseData) : TNRDTableData(databaseData) {
  FPageManager = databaseData->DiskPageManager();
}

TNRDDiskTableData::~TNRDDiskTableData() { FreeManagers(); }

TNRDDiskDatabaseData& TNRDDiskTableData::Database() const { return *static_cast<TNRDDiskDatabaseData*>(FDatabaseData); }
TNRDDiskPageManager& TNRDDiskTableData::Pages() const { return *Database().DiskPageManager(); }
bool TNRDDiskTableData::MultiUser() const { return Database().FMultiUser; }
TNRDDiskRecordManager& TNRDDiskTableData::DiskRecords() const {
  return static_cast<TNRDDiskRecordManager&>(*FRecordManager);
}

void TNRDDiskTableData::FreeManagers() {
  if (FBlobManager) FBlobManager.reset();
  FIndexManager.reset();
  FRecordManager.reset();
  FConstraintManager.reset();
  FFieldManager.reset();
  FTemporaryPageManager.reset();
  FreeInternalFiles();
  FOpen = false;
}

// ----- managers -----------------------------------------------------------------------------------
void TNRDDiskTableData::CreateRecordManager() {
  if (!FFieldManager || FFieldManager->FFieldDefs.GetCount() == 0)
    throw ENRDException(20142, "Error creating table - no fields were specified");
  auto rm = std::make_unique<TNRDDiskRecordManager>(&Pages(), FFieldManager.get(), FTableMostUpdatedFile.get(), FTableID);
  rm->Init(FFieldManager->FFieldDefs.GetMemoryRecordBufferSize(), FFieldManager->FFieldDefs.GetDiskRecordBufferSize(),
           FFieldManager->FFieldDefs.GetCount());
  FRecordManager = std::move(rm);
}

void TNRDDiskTableData::InitFieldManager(TNRDFieldDefs& fieldDefs) {
  FFieldManager = std::make_unique<TNRDBaseFieldManager>(this);
  TNRDTableData::InitFieldManager(fieldDefs);
}

void TNRDDiskTableData::InitIndexManager(TNRDIndexDefs& indexDefs) {
  FTemporaryPageManager = std::make_unique<TNRDTemporaryPageManager>(FDisableTempFiles);
  FIndexManager = std::make_unique<TNRDBaseIndexManager>(this, FTemporaryPageManager.get());
  TNRDTableData::InitIndexManager(indexDefs);
}

void TNRDDiskTableData::InitConstraintManager(TNRDConstraintDefs& constraintDefs) {
  FConstraintManager = std::make_unique<TNRDBaseConstraintManager>(this);
  TNRDTableData::InitConstraintManager(constraintDefs);
}

void TNRDDiskTableData::ApplyChanges(std::int32_t sessionID, bool inTransaction) {
  TNRDTableData::ApplyChanges(sessionID, inTransaction);
  if (FTemporaryPageManager) FTemporaryPageManager->ApplyChanges(sessionID);
  // Between record operations of a transaction: a transaction that has changed more pages than
  // memory should hold sends some of them to the file.
  if (inTransaction) Pages().SpillIfOverBudget(sessionID);
}

void TNRDDiskTableData::CancelChanges(std::int32_t sessionID, bool inTransaction) {
  TNRDTableData::CancelChanges(sessionID, inTransaction);
  if (FTemporaryPageManager) FTemporaryPageManager->CancelChanges(sessionID);
}

// ----- internal files -----------------------------------------------------------------------------
void TNRDDiskTableData::OpenInternalFiles(std::int32_t locksPage, std::int32_t metadataPage,
                                          std::int32_t mostUpdatedPage) {
  FTableLocksFile = std::make_unique<TNRDTableLocksFile>(&Pages());
  FTableLocksFile->OpenFile(locksPage);
  FTableMetadataFile = std::make_unique<TNRDInternalDBTransactedAccessFile>(&Pages(), ptTableMetaData);
  FTableMetadataFile->OpenFile(metadataPage);
  FTableMostUpdatedFile = std::make_unique<TNRDInternalDBTransactedAccessFile>(&Pages(), ptTableMostUpdated);
  FTableMostUpdatedFile->OpenFile(mostUpdatedPage);
}

void TNRDDiskTableData::DeleteInternalFiles() {
  if (FTableLocksFile && FTableLocksFile->IsOpen()) FTableLocksFile->DeleteFile();
  if (FTableMetadataFile) FTableMetadataFile->DeleteFile(-2, FTableMetadataFile->StartPageNo());
  if (FTableMostUpdatedFile) FTableMostUpdatedFile->DeleteFile(-2, FTableMostUpdatedFile->StartPageNo());
}

void TNRDDiskTableData::FreeInternalFiles() {
  FTableLocksFile.reset();
  FTableMetadataFile.reset();
  FTableMostUpdatedFile.reset();
}

// ----- metadata and most-updated data -------------------------------------------------------------
void TNRDDiskTableData::LoadMetadata(std::int32_t sessionID) {
  std::int32_t size = 0, plain = 0;
  TNRDCompressionAlgorithm alg = acaNone;
  bool changed = false;
  FTableMetadataFile->GetFileSize(sessionID, size, plain, alg, changed, true);
  TNRDMemoryStream stream;
  if (plain > 0) {
    stream.SetSize(plain);
    FTableMetadataFile->ReadFile(sessionID, stream.Buffer(), plain, true);
  }
  stream.SetPosition(0);
  FFieldManager->LoadMetadata(stream);
  FIndexManager->LoadMetadata(stream);
  FConstraintManager->LoadMetadata(stream);
  DiskRecords().LoadMetadata(stream);
  FBlobManager->LoadMetadata(stream);
}

void TNRDDiskTableData::SaveMetadata(std::int32_t sessionID) {
  TNRDMemoryStream stream;
  FFieldManager->SaveMetadata(stream);
  FIndexManager->SaveMetadata(stream);
  FConstraintManager->SaveMetadata(stream);
  DiskRecords().SaveMetadata(stream);
  FBlobManager->SaveMetadata(stream);
  FTableMetadataFile->WriteFile(sessionID, stream.Buffer(), static_cast<std::int32_t>(stream.Size()), acaZLIB, 1);
}

void TNRDDiskTableData::LoadMostUpdated(std::int32_t sessionID) {
  if (!FTableMostUpdatedFile) throw ENRDException(20176, "Pointer is nil");
  if (MultiUser()) Pages().RecoverAbandonedChangeSet();
  TNRDDiskTablePagesCacheManager* cache = Pages().TablePagesCacheManager();
  const bool loaded = cache->GetIsMostUpdatedLoaded(sessionID, FTableID);
  std::int32_t size = 0, plain = 0;
  TNRDCompressionAlgorithm alg = acaNone;
  bool changed = false;
  FTableMostUpdatedFile->GetFileSize(sessionID, size, plain, alg, changed, !loaded);
  const std::int32_t expected = FFieldManager->MostUpdatedSize() + 8;
  if (plain < expected) throw ENRDException(20164, "Invalid table header data");
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(plain));
  FTableMostUpdatedFile->ReadFile(sessionID, buf.data(), plain, changed || !loaded);
  std::int32_t offset = 0;
  FFieldManager->LoadMostUpdated(buf.data(), plain, offset);
  if (offset + 8 > plain) throw ENRDException(20164, "Invalid table header data");
  DiskRecords().LoadMostUpdated(buf.data(), offset);
  FLastUsedTableState = DiskRecords().FTableState;
  cache->SetIsMostUpdatedLoaded(sessionID, FTableID, FLastUsedTableState);
}

void TNRDDiskTableData::SaveMostUpdated(std::int32_t sessionID) {
  const std::int32_t size = FFieldManager->MostUpdatedSize() + 8;
  if (size > (FFieldManager->FFieldDefs.GetCount() * 8 + 8) * 4 + 4)
    throw ENRDException(20164, "Invalid table header data");
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(size), 0);
  std::int32_t offset = 0;
  FFieldManager->SaveMostUpdated(buf.data(), size, offset);
  DiskRecords().SaveMostUpdated(buf.data(), offset);
  FTableMostUpdatedFile->WriteFile(sessionID, buf.data(), size, acaNone, 0);
  FLastUsedTableState = DiskRecords().FTableState;
}

// ----- locks --------------------------------------------------------------------------------------
bool TNRDDiskTableData::LockTable(std::int32_t sessionID, TNRDLockType lockType, std::int32_t tryCount,
                                  std::int32_t delay, bool allowXIRWAfterSIRW) {
  if (!MultiUser()) return true;
  if (!Database().TableLockManager()->LockTable(sessionID, lockType, *FTableLocksFile, tryCount, delay, false,
                                                allowXIRWAfterSIRW))
    return false;
  // A writer that died while committing this table left its locks free and its journal behind.
  try {
    Pages().RecoverAbandonedChangeSet();
  } catch (...) {
    Database().TableLockManager()->UnlockTable(sessionID, lockType, *FTableLocksFile, true, false);
    throw;
  }
  if (lockType == ltS) Pages().TablePagesCacheManager()->TableIsSLocked(sessionID, FTableID);
  if (lockType == ltRW) Pages().TablePagesCacheManager()->TableIsRWLocked(sessionID, FTableID);
  return true;
}

bool TNRDDiskTableData::UnlockTable(std::int32_t sessionID, TNRDLockType lockType, bool ignoreIfNoLock) {
  if (!MultiUser()) return true;
  if (!Database().TableLockManager()->UnlockTable(sessionID, lockType, *FTableLocksFile, ignoreIfNoLock, false))
    return false;
  if (lockType == ltS) Pages().TablePagesCacheManager()->TableIsSUnlocked(sessionID, FTableID);
  if (lockType == ltRW) Pages().TablePagesCacheManager()->TableIsRWUnlocked(sessionID, FTableID);
  return true;
}

bool TNRDDiskTableData::LockRecord(std::int32_t sessionID, const TNRDPageItemID& recordID, std::int32_t tryCount,
                                   std::int32_t delay, const void* holder) {
  if (!MultiUser()) return true;
  return Database().TableLockManager()->LockRecord(sessionID, *FTableLocksFile, recordID, tryCount, delay, holder);
}

bool TNRDDiskTableData::UnlockRecord(std::int32_t sessionID, const TNRDPageItemID& recordID, const void* holder) {
  if (!MultiUser()) return true;
  return Database().TableLockManager()->UnlockRecord(sessionID, *FTableLocksFile, recordID, holder);
}

bool TNRDDiskTableData::IsRecordLocked(std::int32_t sessionID, const TNRDPageItemID& recordID, const void* holder) {
  if (!MultiUser()) return false;
  return Database().TableLockManager()->IsRecordLocked(sessionID, *FTableLocksFile, recordID, holder);
}

// ----- table operations ---------------------------------------------------------------------------
void TNRDDiskTableData::CreateTable(TNRDCursor* cursor, const TNRDFieldDefs& fieldDefs,
                                    const TNRDIndexDefs& indexDefs, const TNRDConstraintDefs& constraintDefs) {
  TNRDTableDataLock lock(*this);
  if (fieldDefs.GetCount() == 0) throw ENRDException(20128, "Error creating table - no fields were specified");
  if (cursor != nullptr) {
    FTableName = cursor->TableName();
    FDisableTempFiles = cursor->DisableTempFiles();
  }
  FTableID = Database().GetNewObjectId();
  Database().LockTables();
  Finally unlockTables([this] { Database().UnlockTables(); });
  try {
    {
      Finally freeAll([this] { FreeManagers(); });
      FTableLocksFile = std::make_unique<TNRDTableLocksFile>(&Pages());
      const std::int32_t locksPage = FTableLocksFile->CreateFile(Database().FMaxSessionCount);
      FTableMetadataFile = std::make_unique<TNRDInternalDBTransactedAccessFile>(&Pages(), ptTableMetaData);
      FTableMetadataFile->CreateFile(-2);
      FTableMostUpdatedFile = std::make_unique<TNRDInternalDBTransactedAccessFile>(&Pages(), ptTableMostUpdated);
      FTableMostUpdatedFile->CreateFile(-2);
      InitManagers(fieldDefs, indexDefs, constraintDefs);
      FBlobManager = std::make_unique<TNRDDiskBlobManager>(&Pages(), FFieldManager.get(), FRecordManager.get());
      SaveMostUpdated(-2);
      DiskRecords().CreateRecordPageIndex();
      if (FFieldManager->BlobFieldsPresent()) FBlobManager->CreateBlobPageIndex();
      FIndexManager->CreateIndexesByIndexDefs(nullptr);
      SaveMetadata(-2);
      Database().AddTable(FTableID, FTableName, FTableMetadataFile->StartPageNo(),
                          FTableMostUpdatedFile->StartPageNo(), locksPage);
    }
    Pages().ApplyChanges(-2);
  } catch (...) {
    try {
      Pages().CancelChanges(-2);
    } catch (...) {
    }
    throw;
  }
}

void TNRDDiskTableData::FirstOpen(TNRDCursor* cursor) {
  FDisableTempFiles = cursor != nullptr && cursor->DisableTempFiles();
  std::int32_t metadataPage = -1, mostUpdatedPage = -1, locksPage = -1;
  Database().OpenTable(FTableName, FTableID, metadataPage, mostUpdatedPage, locksPage);
  const std::int32_t sessionID = CursorSession(cursor);
  try {
    OpenInternalFiles(locksPage, metadataPage, mostUpdatedPage);
    FFieldManager = std::make_unique<TNRDBaseFieldManager>(this);
    FTemporaryPageManager = std::make_unique<TNRDTemporaryPageManager>(FDisableTempFiles);
    FIndexManager = std::make_unique<TNRDBaseIndexManager>(this, FTemporaryPageManager.get());
    FConstraintManager = std::make_unique<TNRDBaseConstraintManager>(this);
    FRecordManager =
        std::make_unique<TNRDDiskRecordManager>(&Pages(), FFieldManager.get(), FTableMostUpdatedFile.get(), FTableID);
    FBlobManager = std::make_unique<TNRDDiskBlobManager>(&Pages(), FFieldManager.get(), FRecordManager.get());
    LoadMetadata(sessionID);
    const TNRDFieldDefs& defs = FFieldManager->FFieldDefs;
    DiskRecords().Init(defs.GetMemoryRecordBufferSize(), defs.GetDiskRecordBufferSize(), defs.GetCount());
    if (FIsRepairing) RepairLoad(sessionID);
    else LoadMostUpdated(sessionID);
    FExclusive = cursor != nullptr && cursor->Exclusive();
    FOpen = true;
  } catch (...) {
    FreeManagers();
    throw;
  }
}

void TNRDDiskTableData::RepairLoad(std::int32_t sessionID) {
  try {
    LoadMostUpdated(sessionID);
    DiskRecords().ValidateRecordPageIndex(sessionID);
  } catch (const std::exception&) {
    if (DiskRecords().DiskRecordBufferSize() >= Pages().PageDataSize())
      throw ENRDException(10512, "Cannot repair page index for large table. Table name: \"%s\"", {FTableName});
    DiskRecords().RebuildRecordPageIndex(sessionID);
    SaveMetadata(sessionID);
    FTableMostUpdatedFile->InitFileHeader(sessionID);
    SaveMostUpdated(sessionID);
    TNRDTableData::ApplyChanges(sessionID, false);
  }
}

void TNRDDiskTableData::OpenTable(TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  const bool takeTablesLock = !FIsChangingTableList;
  if (takeTablesLock) Database().LockTables();
  Finally unlockTables([&] {
    if (takeTablesLock) Database().UnlockTables();
  });
  const bool othersOpen = std::any_of(FCursorList.begin(), FCursorList.end(), [&](TNRDCursor* c) { return c != cursor; });
  if (othersOpen && cursor != nullptr && cursor->Exclusive() && !FExclusive)
    throw ENRDException(20242, "Cannot access table '%s' in exclusive mode. Table is open by another cursors",
                        {FTableName});
  if (!FOpen) FirstOpen(cursor);
  TNRDTableData::OpenTable(cursor);
  const bool exclusive = cursor != nullptr && cursor->Exclusive();
  const std::int32_t sessionID = CursorSession(cursor);
  if (!LockTable(sessionID, exclusive ? ltX : ltIS, FOpenLockTries, 100, true)) {
    TNRDTableData::CloseTable(cursor);
    if (FCursorList.empty()) FreeManagers();
    if (exclusive)
      throw ENRDException(20208, "Cannot access table '%s' in exclusive mode. Table is open by another user",
                          {FTableName});
    throw ENRDException(20209, "Cannot open table '%s'. Table is locked", {FTableName});
  }
  if (cursor != nullptr) cursor->SetTableLockedByCursor(true);
}

void TNRDDiskTableData::CloseTable(TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  if (std::find(FCursorList.begin(), FCursorList.end(), cursor) != FCursorList.end()) {
    if (FTableLocksFile && FTableLocksFile->IsOpen() && cursor != nullptr && cursor->TableLockedByCursor()) {
      UnlockTable(CursorSession(cursor), cursor->Exclusive() ? ltX : ltIS, false);
      cursor->SetTableLockedByCursor(false);
    }
    TNRDTableData::CloseTable(cursor);
  }
  if (FCursorList.empty()) FreeManagers();
}

void TNRDDiskTableData::DeleteTable(TNRDCursor* cursor, bool designMode) {
  {
    TNRDTableDataLock lock(*this);
    TNRDTableData::DeleteTable(cursor, designMode);
    Database().LockTables();
    Finally unlockTables([this] { Database().UnlockTables(); });
    FIsChangingTableList = true;
    Finally endChange([this] { FIsChangingTableList = false; });
    TNRDCursor scratch;
    TNRDCursor* c = cursor;
    if (c == nullptr) {
      scratch.SetTableName(FTableName);
      c = &scratch;
    }
    const bool oldExclusive = c->Exclusive();
    c->SetExclusive(true);
    Finally restore([&] { c->SetExclusive(oldExclusive); });
    // A table that another cursor or process holds is left as it is.
    OpenTable(c);
    std::optional<ENRDException> stepFailure;
    try {
      while (FIndexManager->FIndexDefs.GetCount() > 0)
        FIndexManager->DropIndex(-2, FIndexManager->FIndexDefs.GetIndexDef(0)->FObjectID);
      FBlobManager->Delete(-2);
      DiskRecords().Delete(-2);
      UnlockTable(CursorSession(c), ltX, true);
      c->SetTableLockedByCursor(false);
      DeleteInternalFiles();
    } catch (const ENRDException& e) {
      stepFailure = e;
    } catch (const std::exception& e) {
      stepFailure = ENRDException(30339, e.what());
    }
    if (c->TableLockedByCursor()) {
      UnlockTable(CursorSession(c), ltX, true);
      c->SetTableLockedByCursor(false);
    }
    CloseTable(c);
    Database().RemoveTable(FTableName);
    Pages().ApplyChanges(-2);
    if (stepFailure) throw *stepFailure;
    if (designMode && !FCursorList.empty()) return;
  }
  delete this;
}

void TNRDDiskTableData::EmptyTable(TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  TNRDCursor scratch;
  TNRDCursor* c = cursor;
  if (c == nullptr) {
    scratch.SetTableName(FTableName);
    c = &scratch;
  }
  const bool oldExclusive = c->Exclusive();
  c->SetExclusive(true);
  Finally restore([&] { c->SetExclusive(oldExclusive); });
  OpenTable(c);
  Finally close([&] { CloseTable(c); });
  const std::int32_t sessionID = CursorSession(c);
  TNRDTableData::EmptyTable(c);
  FBlobManager->Empty(sessionID);
  DiskRecords().Empty(sessionID);
  if (FFieldManager->BlobFieldsPresent()) {
    // The index was emptied; it stays where the metadata says.
  }
  SaveMostUpdated(sessionID);
  ApplyChanges(sessionID, CursorInTransaction(c));
}

void TNRDDiskTableData::RenameTable(const std::string& newTableName, TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  Database().LockTables();
  Finally unlockTables([this] { Database().UnlockTables(); });
  TNRDCursor scratch;
  TNRDCursor* c = cursor;
  if (c == nullptr) {
    scratch.SetTableName(FTableName);
    c = &scratch;
  }
  const bool oldExclusive = c->Exclusive();
  c->SetExclusive(true);
  FIsChangingTableList = true;
  Finally restore([&] {
    c->SetExclusive(oldExclusive);
    FIsChangingTableList = false;
  });
  OpenTable(c);
  CloseTable(c);
  Database().RenameTable(FTableName, newTableName);
  Pages().ApplyChanges(-2);
  FTableName = newTableName.substr(0, 255);
}

void TNRDDiskTableData::RenameField(const std::string& fieldName, const std::string& newFieldName) {
  TNRDTableDataLock lock(*this);
  TNRDTableData::RenameField(fieldName, newFieldName);
  SaveMetadata(-2);
  Pages().ApplyChanges(-2);
}

std::int32_t TNRDDiskTableData::AddIndex(TNRDIndexDef& indexDef, TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  const std::int32_t id = TNRDTableData::AddIndex(indexDef, cursor);
  SaveMetadata(CursorSession(cursor));
  ApplyChanges(CursorSession(cursor), CursorInTransaction(cursor));
  return id;
}

void TNRDDiskTableData::DeleteIndex(std::int32_t indexID, TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  const TNRDIndexDef* def = FIndexManager->FIndexDefs.GetIndexDefByObjectId(indexID);
  const bool temporary = def != nullptr && def->FTemporary;
  TNRDTableData::DeleteIndex(indexID, cursor);
  if (cursor != nullptr) {
    if (!temporary) SaveMetadata(cursor->SessionID());
    ApplyChanges(cursor->SessionID(), CursorInTransaction(cursor));
  }
}

// ----- bitmaps ------------------------------------------------------------------------------------
std::int64_t TNRDDiskTableData::GetBitmapRecordCount(std::int32_t sessionID) {
  TNRDTableDataLock lock(*this);
  std::int32_t last = -1;
  if (!DiskRecords().RecordPageIndex().GetLastRecordPage(sessionID, last)) return 1;
  return (static_cast<std::int64_t>(last) + 1) * DiskRecords().MaxRecordsOnPage();
}

std::int64_t TNRDDiskTableData::RecordIDToBitmapRecNo(const TNRDPageItemID& recordID) {
  return static_cast<std::int64_t>(recordID.PageNo) * DiskRecords().MaxRecordsOnPage() + recordID.PageItemNo;
}

TNRDPageItemID TNRDDiskTableData::BitmapRecNoToRecordID(std::int64_t bitNo) {
  const std::int64_t m = DiskRecords().MaxRecordsOnPage();
  return TNRDPageItemID{static_cast<std::int32_t>(bitNo / m), static_cast<std::uint16_t>(bitNo % m)};
}

// ----- BLOB values --------------------------------------------------------------------------------
void TNRDDiskTableData::ClearBlobsCacheInRecordBuffer(void* buffer) { ClearBLOBFieldsInRecordBuffer(buffer); }

void TNRDDiskTableData::WriteBLOBFieldToRecordBuffer(TNRDCursor* cursor, std::int32_t fieldNo, TNRDStream* blobStream) {
  TNRDTableDataLock lock(*this);
  FBlobManager->CopyBlobFromStreamToRecordBuffer(cursor->CurrentRecordBuffer(), fieldNo, blobStream);
}

void TNRDDiskTableData::ClearBLOBFieldInRecordBuffer(void* recordBuffer, std::int32_t fieldNo) {
  TNRDTableDataLock lock(*this);
  if (FBlobManager) FBlobManager->ClearBlobInRecordBuffer(recordBuffer, fieldNo, false);
}

void TNRDDiskTableData::ClearModifiedBLOBFieldsInRecordBuffer(void* recordBuffer) {
  TNRDTableDataLock lock(*this);
  if (!FBlobManager || !FFieldManager->BlobFieldsPresent()) return;
  const TNRDFieldDefs& defs = FFieldManager->FFieldDefs;
  for (std::int32_t i = 0; i < defs.GetCount(); ++i)
    if (defs.GetFieldDef(i)->IsBlob()) FBlobManager->ClearBlobInRecordBuffer(recordBuffer, i, true);
}

TNRDStream* TNRDDiskTableData::InternalCreateBlobStream(TNRDCursor* cursor, bool toInsert, std::int32_t fieldNo,
                                                        TNRDBLOBOpenMode openMode) {
  TNRDTableDataLock lock(*this);
  TNRDBLOBDescriptor d = BLOBDescriptorForField(*FFieldManager->FFieldDefs.GetFieldDef(fieldNo), 20149);
  auto host = std::make_unique<TNRDTemporaryStream>(FDisableTempFiles);
  void* record = cursor != nullptr ? cursor->CurrentRecordBuffer() : nullptr;
  const bool create = openMode == bomWrite || record == nullptr || IsFieldNull(record, fieldNo);
  (void)toInsert;
  if (!create) {
    try {
      FBlobManager->CopyBlobFromRecordBufferToStream(CursorSession(cursor), record, fieldNo, d, *host);
      if (d.UncompressedSize < 0) throw ENRDException(20248, "Invalid blob field size");
    } catch (...) {
      FBlobManager->ClearBlobInRecordBuffer(record, fieldNo, true);
      throw;
    }
  }
  return new TNRDEngineBLOBStream(std::move(host), d, create, cursor, fieldNo, openMode);
}

void TNRDDiskTableData::GetDirectBlobData(TNRDCursor* cursor, std::int32_t fieldNo, void* recordBuffer,
                                          TNRDBLOBDescriptor& d, void*& pBlobData) {
  TNRDTableDataLock lock(*this);
  FBlobManager->GetDirectBlobInfoFromRecordBuffer(CursorSession(cursor), recordBuffer, fieldNo, d, pBlobData);
}

void TNRDDiskTableData::SetDirectBlobData(TNRDCursor* cursor, std::int32_t fieldNo, void* recordBuffer,
                                          TNRDBLOBDescriptor& d, void*& pBlobData) {
  TNRDTableDataLock lock(*this);
  FBlobManager->SetDirectBlobInfoFromRecordBuffer(CursorSession(cursor), recordBuffer, fieldNo, d, pBlobData);
}

void TNRDDiskTableData::FreeDirectBlobData(TNRDCursor*, std::int32_t fieldNo, void* recordBuffer,
                                           TNRDBLOBDescriptor&, void*& pBlobData) {
  TNRDTableDataLock lock(*this);
  FBlobManager->ClearBlobInRecordBuffer(recordBuffer, fieldNo, false);
  pBlobData = nullptr;
}

// ----- records ------------------------------------------------------------------------------------
bool TNRDDiskTableData::InsertRecord(TNRDCursor*& cursor) {
  TNRDTableDataLock lock(*this);
  if (!FRecordManager) throw ENRDException(20135, "Nil pointer occured");
  if (cursor == nullptr || cursor->CurrentRecordBuffer() == nullptr) throw ENRDException(20136, "Nil pointer occured");
  const std::int32_t sessionID = cursor->SessionID();
  if (MultiUser()) {
    bool changed = false;
    FIndexManager->SynchronizeTemporaryIndexes(cursor, changed);
  }
  void* record = cursor->CurrentRecordBuffer();
  FBlobManager->WriteBlobs(sessionID, record);
  TNRDPageItemID added = cursor->CurrentRecord();
  const bool stored = FRecordManager->AddRecord(sessionID, record, added);
  cursor->SetCurrentRecord(added);
  if (!stored) {
    // The values stored for the record go again, so that nothing refers to them.
    FBlobManager->DeleteBlobs(sessionID, record);
    return false;
  }
  ShowOrHideInBitmap(cursor, cursor->CurrentRecord());
  FIndexManager->InsertRecord(cursor);
  cursor->MoveToRecord(cursor->CurrentRecord());
  SaveMostUpdated(sessionID);
  if (!cursor->InBatchUpdate()) ApplyChanges(sessionID, CursorInTransaction(cursor));
  return true;
}

bool TNRDDiskTableData::DeleteRecord(TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  if (!FRecordManager) throw ENRDException(20137, "Nil pointer occured");
  const std::int32_t sessionID = cursor->SessionID();
  if (MultiUser()) {
    LoadMostUpdated(sessionID);
    bool changed = false;
    FIndexManager->SynchronizeTemporaryIndexes(cursor, changed);
  }
  TNRDPageItemID place;
  const bool found = FindPlaceAfterDelete(*this, cursor, place);
  const TNRDPageItemID deleted = cursor->CurrentRecord();
  void* record = cursor->CurrentRecordBuffer();
  ClearBLOBFieldsInRecordBuffer(record);
  FBlobManager->DeleteBlobs(sessionID, record);
  FIndexManager->DeleteRecord(cursor);
  const std::int32_t oldState = FRecordManager->FTableState;
  TNRDPageItemID id = deleted;
  if (!FRecordManager->DeleteRecord(sessionID, id)) return false;
  SaveMostUpdated(sessionID);
  if (!cursor->InBatchUpdate()) ApplyChanges(sessionID, CursorInTransaction(cursor));
  PlaceCursorAfterDelete(cursor, deleted, found, place, oldState, FRecordManager->FTableState);
  return true;
}

bool TNRDDiskTableData::UpdateRecord(TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  if (!FRecordManager) throw ENRDException(20138, "Nil pointer occured");
  if (cursor == nullptr || cursor->CurrentRecordBuffer() == nullptr) throw ENRDException(20139, "Nil pointer occured");
  const std::int32_t sessionID = cursor->SessionID();
  if (MultiUser()) {
    LoadMostUpdated(sessionID);
    bool changed = false;
    FIndexManager->SynchronizeTemporaryIndexes(cursor, changed);
  }
  FIndexManager->UpdateRecord(cursor, true);
  FBlobManager->WriteBlobs(sessionID, cursor->CurrentRecordBuffer());
  if (!FRecordManager->UpdateRecord(sessionID, cursor->CurrentRecordBuffer(), cursor->CurrentRecord())) return false;
  FIndexManager->UpdateRecord(cursor, false);
  ShowOrHideInBitmap(cursor, cursor->CurrentRecord());
  SaveMostUpdated(sessionID);
  if (!cursor->InBatchUpdate()) ApplyChanges(sessionID, CursorInTransaction(cursor));
  return true;
}

template <typename F> auto TNRDDiskTableData::UnderReadLock(TNRDCursor* cursor, int failCode, F body) {
  const std::int32_t sessionID = CursorSession(cursor);
  if (!MultiUser()) return body();
  if (!LockTable(sessionID, ltS, 2250, 40, false)) throw ENRDException(failCode, "Table is locked");
  Finally unlock([&] { UnlockTable(sessionID, ltS, false); });
  LoadMostUpdated(sessionID);
  TNRDDiskTablePagesCacheManager* cache = Pages().TablePagesCacheManager();
  cache->BeginWorkWithTable(sessionID, FTableID);
  Finally endWork([&] { cache->EndWorkWithTable(sessionID, FTableID); });
  return body();
}

TNRDGetRecordResult TNRDDiskTableData::GetRecordBuffer(TNRDCursor* cursor, TNRDGetRecordMode mode) {
  TNRDTableDataLock lock(*this);
  const std::int32_t sessionID = CursorSession(cursor);
  auto read = [&] {
    if (MultiUser()) {
      bool changed = false;
      FIndexManager->SynchronizeTemporaryIndexes(cursor, changed);
      if (changed && FTemporaryPageManager) FTemporaryPageManager->ApplyChanges(sessionID);
    }
    TNRDNavigationInfo nav;
    nav.GetRecordMode = mode;
    nav.RecordID = cursor->CurrentRecord();
    nav.FirstPosition = cursor->IsBeforeFirst();
    nav.LastPosition = cursor->IsAfterLast();
    nav.RecordBuffer = cursor->CurrentRecordBuffer();
    nav.IndexID = cursor->IndexID();
    if (cursor->IndexID() != -1 && !cursor->PhysicalOrder())
      FIndexManager->GetRecordBuffer(sessionID, nav, cursor->IndexPositionCache(), FRecordManager->FTableState);
    else
      FRecordManager->GetRecordBuffer(sessionID, nav);
    if (nav.GetRecordResult == grrOK) {
      cursor->MoveToRecord(nav.RecordID);
    }
    return nav.GetRecordResult;
  };
  if (!MultiUser()) return read();
  if (!LockTable(sessionID, ltS, 2250, 40, false)) return grrError;
  Finally unlock([&] { UnlockTable(sessionID, ltS, false); });
  LoadMostUpdated(sessionID);
  TNRDDiskTablePagesCacheManager* cache = Pages().TablePagesCacheManager();
  cache->BeginWorkWithTable(sessionID, FTableID);
  Finally endWork([&] { cache->EndWorkWithTable(sessionID, FTableID); });
  return read();
}

void TNRDDiskTableData::InternalSetRecNo(TNRDCursor* cursor, std::int64_t recNo) {
  TNRDTableDataLock lock(*this);
  TNRDPageItemID id = cursor->CurrentRecord();
  UnderReadLock(cursor, 20219, [&] { DiskRecords().SetRecNo(CursorSession(cursor), recNo, id); });
  cursor->SetCurrentRecord(id);
}

std::int64_t TNRDDiskTableData::InternalGetRecNo(TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  return UnderReadLock(cursor, 20220, [&] {
    std::int64_t recNo = -1;
    DiskRecords().GetRecNo(CursorSession(cursor), cursor->CurrentRecord(), recNo);
    return recNo;
  });
}

std::int64_t TNRDDiskTableData::InternalGetRecordCount(TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  return UnderReadLock(cursor, 20218, [&] { return FRecordManager->FRecordCount; });
}

std::int64_t TNRDDiskTableData::LastAutoincValue(std::int32_t fieldNo, TNRDBaseSession* session) {
  TNRDTableDataLock lock(*this);
  return FFieldManager->GetLastAutoinc(session, fieldNo);
}

void TNRDDiskTableData::Rollback(std::int32_t sessionID) {
  TNRDTableDataLock lock(*this);
  if (!FOpen) return;
  LoadMostUpdated(sessionID);
  if (FTemporaryPageManager) FTemporaryPageManager->CancelChanges(sessionID);
  TNRDTableData::Rollback(sessionID);
  if (FTemporaryPageManager) FTemporaryPageManager->ApplyChanges(sessionID);
}

}  // namespace nrd
