// The temporary engine: the database "TEMP" of query results and other intermediate tables.
//
// Its tables are insert-only. Records stay in a memory cache up to a budget (a tenth of the free
// memory, taken once when the record manager is made; at most what one memory block and a 32-bit
// count can hold) and go beyond it to a temporary file of fixed-size slots, record n at
//   (n - budget) x record size
// so that record n is found by arithmetic alone. A record ID is the record's number as a 48-bit
// little-endian integer in the 6 bytes of a TNRDPageItemID. BLOB values are appended to one stream
// per table as a 20-byte TNRDPartialTemporaryBLOBDescriptor and the compressed bytes; the record's
// BLOB field holds the descriptor's Int64 position. Replaced values are not reclaimed.
// Index pages come from a TNRDTemporaryPageManager: 4096-byte pages without header, in a memory
// page manager up to the same budget and in a temporary file (page n at n x 4096) beyond it; the
// disk engine uses it for its tables' temporary indexes too.
// Locking: the database object's critical section (table Lock); nothing of its own.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/foundation/NRDStreams.h"
#include "engine/storage/NRDDatabaseData.h"
#include "engine/storage/NRDMemoryEngine.h"
#include "engine/storage/NRDPageManager.h"
#include "engine/storage/NRDTableData.h"

namespace nrd {

// The 48-bit record number of a temporary record in a record ID, and back (zero-extended).
TNRDPageItemID TemporaryRecordID(std::int64_t recordNo);
std::int64_t TemporaryRecordNo(const TNRDPageItemID& recordID);

// The engine's memory budget in bytes: a tenth of the free memory.
std::int64_t TemporaryMemoryBudget();

class TNRDTemporaryRecordManager : public TNRDBaseRecordManager {
 public:
  // 10124 for a record size of 0. maxCachedRecordCount < 0 takes the budget.
  TNRDTemporaryRecordManager(std::int32_t recordBufferSize, std::int32_t recordsPerPage, std::int32_t allocRecordsBy,
                             bool disableTempFiles, std::int64_t maxCachedRecordCount = -1);
  ~TNRDTemporaryRecordManager() override;
  const char* ClassName() const override { return "TNRDTemporaryRecordManager"; }

  void Empty(std::int32_t sessionID) override;
  bool AddRecord(std::int32_t sessionID, void* recordBuffer, TNRDPageItemID& recordID) override;
  bool UpdateRecord(std::int32_t sessionID, void* recordBuffer, const TNRDPageItemID& recordID) override;
  bool DeleteRecord(std::int32_t sessionID, TNRDPageItemID& recordID) override;
  void GetRecordBuffer(std::int32_t sessionID, TNRDNavigationInfo& navigationInfo) override;
  std::int32_t CompareRecordID(const TNRDPageItemID& recordID1, const TNRDPageItemID& recordID2) override;
  std::int64_t GetApproximateRecNo(std::int32_t sessionID, const TNRDPageItemID& recordID) override;

  // Copies record n into the buffer (10127, 10129, 10130).
  void ReadRecord(std::int64_t n, void* buffer);

  std::int64_t MaxCachedRecordCount() const { return FMaxCachedRecordCount; }
  std::int64_t CachedRecordCount() const { return FCachedRecordCount; }
  bool HasTempFile() const { return FTempPageFile != nullptr; }
  std::int32_t WaitingRecordCount() const { return FTempPageRecordCount; }

 private:
  void FlushWriteBuffer();
  std::int32_t FRecordsPerPage;
  std::int64_t FPageSize;
  std::int64_t FCachedRecordCount = 0;
  std::uint8_t* FCache = nullptr;
  std::int64_t FAllocatedRecordCount = 0;
  std::uint8_t* FTempPage = nullptr;
  std::int32_t FTempPageRecordCount = 0;
  std::unique_ptr<TNRDFileStream> FTempPageFile;
  std::int64_t FMaxCachedRecordCount = 0;
  std::int32_t FAllocRecordsBy;
  bool FDisableTempFiles;
};

class TNRDTemporaryPageManager : public TNRDPageManager {
 public:
  // maxMemoryPageCount < 0 takes the budget.
  explicit TNRDTemporaryPageManager(bool disableTempFiles, std::int64_t maxMemoryPageCount = -1);
  ~TNRDTemporaryPageManager() override;

  void InternalAddPage(TNRDPage* page) override;
  void InternalRemovePage(std::int32_t pageNo) override;
  bool InternalReadPage(TNRDPage* page) override;
  void InternalWritePage(TNRDPage* page) override;

  std::int64_t MaxMemoryPageCount() const { return FMaxMemoryPageCount; }
  bool HasTempFile() const { return FTempPageFile != nullptr; }

 private:
  bool IsMemoryPage(std::int32_t pageNo) const { return FDisableTempFiles || pageNo < FMaxMemoryPageCount; }
  void EnsureFile();
  TNRDBitsArray FAllocatedPageMap;
  std::int32_t FAllocatedPageCount = 0;
  std::unique_ptr<TNRDFileStream> FTempPageFile;
  std::int64_t FMaxMemoryPageCount;
  std::unique_ptr<TNRDMemoryPageManager> FMemoryPageManager;
  bool FDisableTempFiles;
};

class TNRDTemporaryTableData : public TNRDTableData {
 public:
  TNRDTemporaryTableData(TNRDDatabaseData* databaseData, std::int32_t recordsPerPage, std::int32_t allocRecordsBy);
  ~TNRDTemporaryTableData() override;
  const char* ClassName() const override { return "TNRDTemporaryTableData"; }

  void CreateRecordManager() override;
  void InitFieldManager(TNRDFieldDefs& fieldDefs) override;
  void InitIndexManager(TNRDIndexDefs& indexDefs) override;
  void InitConstraintManager(TNRDConstraintDefs& constraintDefs) override;
  void CreateTable(TNRDCursor* cursor, const TNRDFieldDefs& fieldDefs, const TNRDIndexDefs& indexDefs,
                   const TNRDConstraintDefs& constraintDefs) override;
  void DeleteTable(TNRDCursor* cursor, bool designMode) override;
  void EmptyTable(TNRDCursor* cursor) override;
  void OpenTable(TNRDCursor* cursor) override;
  void CloseTable(TNRDCursor* cursor) override;
  std::int32_t AddIndex(TNRDIndexDef& indexDef, TNRDCursor* cursor) override;
  void DeleteIndex(std::int32_t indexID, TNRDCursor* cursor) override;
  std::int64_t GetBitmapRecordCount(std::int32_t sessionID) override;
  std::int64_t RecordIDToBitmapRecNo(const TNRDPageItemID& recordID) override;
  TNRDPageItemID BitmapRecNoToRecordID(std::int64_t bitNo) override;
  void WriteBLOBFieldToRecordBuffer(TNRDCursor* cursor, std::int32_t fieldNo, TNRDStream* blobStream) override;
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

  TNRDTemporaryRecordManager& TemporaryRecords() const {
    return static_cast<TNRDTemporaryRecordManager&>(*FRecordManager);
  }
  TNRDStream* BLOBFile() const { return FBLOBFile.get(); }
  // Budgets for tests (records and pages); -1 takes the engine's budget.
  std::int64_t FTestRecordBudget = -1;
  std::int64_t FTestPageBudget = -1;

 private:
  void NewBLOBFile();
  std::int64_t GetPosition(const void* recordBuffer, std::int32_t fieldNo) const;
  void SetPosition(void* recordBuffer, std::int32_t fieldNo, std::int64_t position) const;
  std::unique_ptr<TNRDStream> FBLOBFile;
  std::unique_ptr<TNRDTemporaryPageManager> FOwnPageManager;
  std::int32_t FRecordsPerPage;
  std::int32_t FAllocRecordsBy;
};

class TNRDTemporaryDatabaseData : public TNRDDatabaseData {
 public:
  TNRDTemporaryDatabaseData();
  ~TNRDTemporaryDatabaseData() override;
  const char* ClassName() const override { return "TNRDTemporaryDatabaseData"; }
  TNRDTableData* CreateTableData(TNRDCursor* cursor) override;
  std::int32_t GetNewObjectId() override;

  std::int32_t FLastObjectID = 0;
};

}  // namespace nrd
