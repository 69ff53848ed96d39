// The memory engine: the database "MEMORY", whose tables live in process memory only.
//
// Records of a memory table are fixed-size slots in one growing block (slot n is record ID n, in
// its memory form) with a bitmap of deleted slots; new records always go after the last live slot,
// and numbering restarts at slot 0 once the table is empty. BLOB values are engine-memory blocks
//   0 NumBlocks i32 | 4 UncompressedSize i64 | 12 the value's compressed bytes
// referred to from the record by a handle in the field's last 4 memory bytes. Indexes live on the
// 4096-byte header-less pages of a memory page manager, which the temporary engine also uses.
// Nothing reaches a disk. Locking: the database object's critical section (table Lock).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

#include "engine/foundation/NRDTypes.h"
#include "engine/storage/NRDDatabaseData.h"
#include "engine/storage/NRDPageManager.h"
#include "engine/storage/NRDTableData.h"

namespace nrd {

class TNRDMemoryPageManager : public TNRDPageManager {
 public:
  TNRDMemoryPageManager();
  ~TNRDMemoryPageManager() override;

  void LoadFromStream(TNRDStream& stream) override;
  void SaveToStream(TNRDStream& stream) override;
  void InternalAddPage(TNRDPage* page) override;
  void InternalRemovePage(std::int32_t pageNo) override;
  bool InternalReadPage(TNRDPage* page) override;
  void InternalWritePage(TNRDPage* page) override;

  std::int32_t AllocatedPageCount() const { return FAllocatedPageCount; }
  std::int32_t LastAllocatedPageNo() const { return LastAllocatedPageNo_; }
  bool IsPageAllocated(std::int32_t pageNo) const;

 private:
  void FreeBlocks();
  TNRDBitsArray FAllocatedPageMap;
  std::int32_t FAllocatedPageCount = 0;
  std::int32_t FAllocateBy = 50;
  std::int32_t LastAllocatedPageNo_ = -1;
  std::vector<std::uint8_t*> FDataPtrs;
};

class TNRDMemoryRecordManager : public TNRDBaseRecordManager {
 public:
  // 10011 for a record size of 0.
  TNRDMemoryRecordManager(std::int32_t recordBufferSize, std::int32_t allocRecordsBy);
  ~TNRDMemoryRecordManager() override;
  const char* ClassName() const override { return "TNRDMemoryRecordManager"; }

  void Empty(std::int32_t sessionID) override;
  bool AddRecord(std::int32_t sessionID, void* recordBuffer, TNRDPageItemID& recordID) override;
  bool UpdateRecord(std::int32_t sessionID, void* recordBuffer, const TNRDPageItemID& recordID) override;
  bool DeleteRecord(std::int32_t sessionID, TNRDPageItemID& recordID) override;
  void GetRecordBuffer(std::int32_t sessionID, TNRDNavigationInfo& navigationInfo) override;
  std::int32_t CompareRecordID(const TNRDPageItemID& recordID1, const TNRDPageItemID& recordID2) override;
  std::int64_t GetApproximateRecNo(std::int32_t sessionID, const TNRDPageItemID& recordID) override;

  // The slot of the recNo-th live record (from 1); false (nothing found) outside 1..count.
  bool SlotOfRecNo(std::int64_t recNo, std::int64_t& slot) const;
  // The record number (from 1) of a slot; -1 at or past the allocated slots.
  std::int64_t RecNoOfSlot(std::int64_t slot) const;
  bool IsSlotDeleted(std::int64_t slot) const;
  // The stored record of a slot (no check).
  std::uint8_t* Slot(std::int64_t slot) const { return FRecordBuffer + slot * FRecordBufferSize; }

  std::int64_t FirstRecordID() const { return FFirstRecordID; }
  std::int64_t LastRecordID() const { return FLastRecordID; }
  std::int64_t AllocatedRecordCount() const { return FAllocatedRecordCount; }
  bool NoRecordsDeleted() const { return FNoRecordsDeleted; }

 private:
  bool Grow();
  std::uint8_t* FRecordBuffer = nullptr;
  std::uint8_t* FDeleteFlagBuffer = nullptr;
  std::int64_t FAllocatedRecordCount = 0;
  std::int32_t FAllocRecordsBy;
  std::int64_t FFirstRecordID = 0;
  std::int64_t FLastRecordID = 0;
  std::array<std::uint8_t, 256> FBitsTable{};
  bool FNoRecordsDeleted = true;
};

class TNRDMemoryTableData : public TNRDTableData {
 public:
  TNRDMemoryTableData(TNRDDatabaseData* databaseData, std::int32_t allocRecordsBy);
  ~TNRDMemoryTableData() override;
  const char* ClassName() const override { return "TNRDMemoryTableData"; }

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
  // A value written into a record buffer is a new block of its own; the block of the stored
  // record stays until an update stores the buffer, so a cancel or another reader still has it.
  void WriteBLOBFieldToRecordBuffer(TNRDCursor* cursor, std::int32_t fieldNo, TNRDStream* blobStream) override;
  void ClearBLOBFieldInRecordBuffer(void* recordBuffer, std::int32_t fieldNo) override;
  // Frees the blocks a record buffer holds that no stored record owns (values written but not
  // posted); the stored record's blocks stay.
  void ClearBlobsCacheInRecordBuffer(void* buffer) override;
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

  TNRDMemoryRecordManager& MemoryRecords() const { return static_cast<TNRDMemoryRecordManager&>(*FRecordManager); }
  // The BLOB block a record's field refers to, or null (NULL field or no live block).
  std::uint8_t* BlobBlock(const void* recordBuffer, std::int32_t fieldNo);
  // Frees every BLOB block a record refers to (the record's fields become NULL).
  void FreeRecordBlobs(void* recordBuffer);

 private:
  // The block handle of a BLOB field, kept byte-wise: the field may sit at any offset.
  std::uint32_t GetHandle(const void* recordBuffer, std::int32_t fieldNo) const;
  void SetHandle(void* recordBuffer, std::int32_t fieldNo, std::uint32_t handle) const;
  // A new block for a buffer's field: owned by no stored record until the buffer is stored.
  void SetUnstoredBlob(void* recordBuffer, std::int32_t fieldNo, void* block);
  // Makes the field NULL; its block is freed only when no stored record owns it.
  void DropBufferBlob(void* recordBuffer, std::int32_t fieldNo);
  // The buffer's new blocks now belong to the stored record.
  void MarkBlobsStored(const void* recordBuffer);
  std::unique_ptr<TNRDMemoryPageManager> FOwnPageManager;
  std::unordered_set<std::uint32_t> FUnstoredBlobs;
  std::int32_t FAllocRecordsBy;
};

class TNRDMemoryDatabaseData : public TNRDDatabaseData {
 public:
  TNRDMemoryDatabaseData();
  ~TNRDMemoryDatabaseData() override;
  const char* ClassName() const override { return "TNRDMemoryDatabaseData"; }
  void ConnectSession(TNRDBaseSession* session) override;
  TNRDTableData* CreateTableData(TNRDCursor* cursor) override;
  std::int32_t GetNewObjectId() override;

  std::int32_t FLastObjectID = 0;
};

}  // namespace nrd
