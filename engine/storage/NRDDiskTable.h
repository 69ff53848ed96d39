// The shared object of one table of a database file: every cursor of the process that opens the
// table shares it. It owns the table's managers (field, index, constraint, record, BLOB) and its
// three internal files (metadata, most-updated, table locks), creates, deletes, empties and renames
// the table in the file, and wraps every record operation with what a shared file needs: the table
// locks, reloading the record count and table state other sessions wrote, storing BLOB values
// before the record, saving the most-updated data after each change and applying the page changes.
//
// Metadata file (page type 8, ZLIB mode 1): field, index and constraint definitions, then the root
// pages of the record page index and of the BLOB page index (Int32 each).
// Most-updated file (page type 9, uncompressed): N i32 | N last autoincrement values i64 |
// TableState i32 | RecordCount i32 (low 32 bits).
// A record's bit in a cursor's record bitmap is PageNo x M + PageItemNo (M slots per page).
//
// Departures for soundness: a record whose add fails leaves no BLOB value behind (the values
// stored for it are deleted and the counts restored); a delete compares records the way an edit
// does (without the BLOB handles); a failed third step of DeleteTable is reported after the table
// has left the list; a table that another process holds stays in the list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/storage/NRDTableData.h"

namespace nrd {

class TNRDDiskBlobManager;
class TNRDDiskDatabaseData;
class TNRDDiskPageManager;
class TNRDDiskRecordManager;
class TNRDInternalDBTransactedAccessFile;
class TNRDTableLocksFile;
class TNRDTemporaryPageManager;

class TNRDDiskTableData : public TNRDTableData {
 public:
  explicit TNRDDiskTableData(TNRDDiskDatabaseData* databaseData);
  ~TNRDDiskTableData() override;
  const char* ClassName() const override { return "TNRDDiskTableData"; }

  void CreateRecordManager() override;
  void InitFieldManager(TNRDFieldDefs& fieldDefs) override;
  void InitIndexManager(TNRDIndexDefs& indexDefs) override;
  void InitConstraintManager(TNRDConstraintDefs& constraintDefs) override;
  void ApplyChanges(std::int32_t sessionID, bool inTransaction) override;
  void CancelChanges(std::int32_t sessionID, bool inTransaction) override;
  void CreateTable(TNRDCursor* cursor, const TNRDFieldDefs& fieldDefs, const TNRDIndexDefs& indexDefs,
                   const TNRDConstraintDefs& constraintDefs) override;
  void DeleteTable(TNRDCursor* cursor, bool designMode) override;
  void EmptyTable(TNRDCursor* cursor) override;
  void RenameTable(const std::string& newTableName, TNRDCursor* cursor) override;
  void OpenTable(TNRDCursor* cursor) override;
  void CloseTable(TNRDCursor* cursor) override;
  void RenameField(const std::string& fieldName, const std::string& newFieldName) override;
  std::int32_t AddIndex(TNRDIndexDef& indexDef, TNRDCursor* cursor) override;
  void DeleteIndex(std::int32_t indexID, TNRDCursor* cursor) override;
  std::int64_t GetBitmapRecordCount(std::int32_t sessionID) override;
  std::int64_t RecordIDToBitmapRecNo(const TNRDPageItemID& recordID) override;
  TNRDPageItemID BitmapRecNoToRecordID(std::int64_t bitNo) override;
  void ClearBlobsCacheInRecordBuffer(void* buffer) override;
  void WriteBLOBFieldToRecordBuffer(TNRDCursor* cursor, std::int32_t fieldNo, TNRDStream* blobStream) override;
  void ClearBLOBFieldInRecordBuffer(void* recordBuffer, std::int32_t fieldNo) override;
  void ClearModifiedBLOBFieldsInRecordBuffer(void* recordBuffer);
  TNRDStream* InternalCreateBlobStream(TNRDCursor* cursor, bool toInsert, std::int32_t fieldNo,
                                       TNRDBLOBOpenMode openMode) override;
  void GetDirectBlobData(TNRDCursor* cursor, std::int32_t fieldNo, void* recordBuffer,
                         TNRDBLOBDescriptor& blobDescriptor, void*& pBlobData) override;
  void SetDirectBlobData(TNRDCursor* cursor, std::int32_t fieldNo, void* recordBuffer,
                         TNRDBLOBDescriptor& blobDescriptor, void*& pBlobData) override;
  void FreeDirectBlobData(TNRDCursor* cursor, std::int32_t fieldNo, void* recordBuffer,
                          TNRDBLOBDescriptor& blobDescriptor, void*& pBlobData) override;
  bool InsertRecord(TNRDCursor*& cursor) override;
  bool DeleteRecord(TNRDCursor* cursor) override;
  bool UpdateRecord(TNRDCursor* cursor) override;
  void InternalSetRecNo(TNRDCursor* cursor, std::int64_t recNo) override;
  std::int64_t InternalGetRecNo(TNRDCursor* cursor) override;
  std::int64_t InternalGetRecordCount(TNRDCursor* cursor) override;
  std::int64_t LastAutoincValue(std::int32_t fieldNo, TNRDBaseSession* session) override;
  void Rollback(std::int32_t sessionID) override;

  // Reads the cursor's current, next or prior record in physical or index order into its buffer
  // (multi-user: under an ltS lock, after reloading the most-updated data).
  TNRDGetRecordResult GetRecordBuffer(TNRDCursor* cursor, TNRDGetRecordMode mode);

  bool LockTable(std::int32_t sessionID, TNRDLockType lockType, std::int32_t tryCount, std::int32_t delay,
                 bool allowXIRWAfterSIRW);
  bool UnlockTable(std::int32_t sessionID, TNRDLockType lockType, bool ignoreIfNoLock);
  // holder: who in the session holds the record lock (the cursor); see NRDLockManager.h.
  bool LockRecord(std::int32_t sessionID, const TNRDPageItemID& recordID, std::int32_t tryCount, std::int32_t delay,
                  const void* holder = nullptr);
  bool UnlockRecord(std::int32_t sessionID, const TNRDPageItemID& recordID, const void* holder = nullptr);
  bool IsRecordLocked(std::int32_t sessionID, const TNRDPageItemID& recordID, const void* holder = nullptr);

  void LoadMetadata(std::int32_t sessionID);
  void SaveMetadata(std::int32_t sessionID);
  void LoadMostUpdated(std::int32_t sessionID);
  void SaveMostUpdated(std::int32_t sessionID);

  std::int32_t TableID() const { return FTableID; }
  TNRDDiskRecordManager& DiskRecords() const;
  TNRDDiskBlobManager* BlobManager() const { return FBlobManager.get(); }
  TNRDTableLocksFile* TableLocksFile() const { return FTableLocksFile.get(); }
  TNRDDiskDatabaseData& Database() const;
  bool MultiUser() const;

  bool FExclusive = false;
  bool FIsChangingTableList = false;
  std::int32_t FLastUsedTableState = -1;
  // Tries of the table lock an open takes (100 ms apart); tests shorten them.
  std::int32_t FOpenLockTries = 50;

 private:
  TNRDDiskPageManager& Pages() const;
  void OpenInternalFiles(std::int32_t locksPage, std::int32_t metadataPage, std::int32_t mostUpdatedPage);
  void DeleteInternalFiles();
  void FreeInternalFiles();
  void FreeManagers();
  void FirstOpen(TNRDCursor* cursor);
  void RepairLoad(std::int32_t sessionID);
  // The multi-user read bracket: ltS, reload, begin/end work with the table.
  template <typename F> auto UnderReadLock(TNRDCursor* cursor, int failCode, F body);

  std::int32_t FTableID = -1;
  std::unique_ptr<TNRDTableLocksFile> FTableLocksFile;
  std::unique_ptr<TNRDInternalDBTransactedAccessFile> FTableMetadataFile;
  std::unique_ptr<TNRDInternalDBTransactedAccessFile> FTableMostUpdatedFile;
  std::unique_ptr<TNRDDiskBlobManager> FBlobManager;
  std::unique_ptr<TNRDTemporaryPageManager> FTemporaryPageManager;
  bool FOpen = false;
};

}  // namespace nrd
