// Record pages of a disk table and the disk engine's record manager.
//
// A record page (page type 10, header ObjectID = the table's ID) holds, in its data area of D bytes:
//   0      B bytes  slot bitmap, bit i (byte i div 8, least significant first) set when slot i holds
//                   a record
//   B + iS S bytes  slot i: a record in its disk form
// with S the disk record size, M = (8(D - 1)) div (8S + 1) slots (integer arithmetic, so that no
// rounding decides whether the last slot fits) and B = ceil(M / 8). A record ID is (page, slot).
// The record manager finds pages with a free slot, the next and prior record pages and record
// numbers through the table's record page index, frees a page when its last record goes, and keeps
// the record count and table state of the most-updated file. Every page taken is given back on
// every path. No lock of its own: the disk table object calls it under its lock.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/foundation/NRDStreams.h"
#include "engine/storage/NRDPageIndex.h"
#include "engine/storage/NRDTableData.h"

namespace nrd {

class TNRDBaseFieldManager;
class TNRDDiskPageManager;
class TNRDInternalDBTransactedAccessFile;
class TNRDPage;

// Slots per page for a data area of pageDataSize bytes and records of recordSize bytes.
std::int32_t RecordSlotsPerPage(std::int32_t pageDataSize, std::int32_t recordSize);

class TNRDSmallRecordPage {
 public:
  // 20140 when the bitmap and slots do not fit the page's data area.
  TNRDSmallRecordPage(TNRDPage* page, std::int32_t recordBufferSize, std::int32_t maxRecordsOnPage);
  void AddRecord(const void* recordBuffer, TNRDPageItemID& recordID);  // 20141
  bool UpdateRecord(const void* recordBuffer, const TNRDPageItemID& recordID);
  bool DeleteRecord(const TNRDPageItemID& recordID);
  bool GetRecordBuffer(const TNRDPageItemID& recordID, void* recordBuffer) const;
  // The slot's bytes in the page; nil when the slot holds no record. Lives as long as the page.
  const std::uint8_t* RecordData(const TNRDPageItemID& recordID) const;
  std::int64_t GetRecordCount() const;
  void GetFirstRecordID(TNRDPageItemID& recordID) const;  // 20143
  void GetLastRecordID(TNRDPageItemID& recordID) const;   // 20144
  bool GetNextRecordID(TNRDPageItemID& recordID) const;
  bool GetPriorRecordID(TNRDPageItemID& recordID) const;
  void GetRecordID(std::int32_t recNoOnPage, TNRDPageItemID& recordID) const;  // 20146
  void GetRecNoOnPage(const TNRDPageItemID& recordID, std::int32_t& recNoOnPage) const;
  bool IsSlotUsed(std::int32_t slot) const;
  TNRDPage* Page() const { return LPage; }

 private:
  std::uint8_t* Data() const;
  TNRDPage* LPage;
  std::int32_t FRecordBufferSize;
  std::int32_t FMaxRecordsOnPage;
  std::int32_t FRecordDataOffset;
};

class TNRDRecordPageCopy;
class TNRDRecordDecodePlan;

class TNRDDiskRecordManager : public TNRDBaseRecordManager {
 public:
  TNRDDiskRecordManager(TNRDDiskPageManager* pageManager, TNRDBaseFieldManager* fieldManager,
                        TNRDInternalDBTransactedAccessFile* mostUpdatedFile, std::int32_t tableID);
  ~TNRDDiskRecordManager() override;
  const char* ClassName() const override { return "TNRDDiskRecordManager"; }

  // 20174 when not even one record fits a page.
  void Init(std::int32_t recordBufferSize, std::int32_t diskRecordBufferSize, std::int32_t fieldCount);
  void CreateRecordPageIndex();
  void LoadMetadata(TStream& stream);
  void SaveMetadata(TStream& stream) const;
  void LoadMostUpdated(const std::uint8_t* buf, std::int32_t& offset);
  void SaveMostUpdated(std::uint8_t* buf, std::int32_t& offset) const;

  void Empty(std::int32_t sessionID) override;
  void Delete(std::int32_t sessionID);
  bool AddRecord(std::int32_t sessionID, void* recordBuffer, TNRDPageItemID& recordID) override;
  bool UpdateRecord(std::int32_t sessionID, void* recordBuffer, const TNRDPageItemID& recordID) override;
  bool DeleteRecord(std::int32_t sessionID, TNRDPageItemID& recordID) override;
  void GetRecordBuffer(std::int32_t sessionID, TNRDNavigationInfo& navigationInfo) override;
  // Single-user: a reader that keeps a copy of the record page it reads a second time in a row
  // and serves the following reads on that page (the next, prior or a named record) from the copy
  // while the table state stays the same. Multi-user: the base reader (a page may change under
  // another process's hand between two reads).
  std::unique_ptr<TNRDRecordReader> CreateReader(std::int32_t sessionID) override;
  std::int32_t CompareRecordID(const TNRDPageItemID& recordID1, const TNRDPageItemID& recordID2) override;
  std::int64_t GetApproximateRecNo(std::int32_t sessionID, const TNRDPageItemID& recordID) override;
  void SetRecNo(std::int32_t sessionID, std::int64_t recNo, TNRDPageItemID& recordID);
  void GetRecNo(std::int32_t sessionID, const TNRDPageItemID& recordID, std::int64_t& recNo);
  void RebuildRecordPageIndex(std::int32_t sessionID);
  void ValidateRecordPageIndex(std::int32_t sessionID);

  std::int32_t MaxRecordsOnPage() const { return FMaxRecordsOnPage; }
  std::int32_t DiskRecordBufferSize() const { return FDiskRecordBufferSize; }
  TNRDBTreeRecordPageIndex& RecordPageIndex() { return *FRecordPageIndex; }
  std::int32_t TableID() const { return FTableID; }

 private:
  // 20296: a listed record page whose header is not that of a live record page of this table.
  [[noreturn]] void RaisePageCheck(std::int32_t pageNo) const;
  bool PagePasses(TNRDPage* page) const;
  friend class TNRDDiskRecordReader;
  // GetRecordBuffer; with `keep`, the page the record is read from is copied into it.
  void ReadRecord(std::int32_t sessionID, TNRDNavigationInfo& nav, TNRDRecordPageCopy* keep);
  // Reads the slot into the navigation info (converted to the memory form).
  void ReadSlot(const TNRDSmallRecordPage& rp, const TNRDPageItemID& id, TNRDNavigationInfo& nav,
                TNRDRecordPageCopy* keep);
  std::unique_ptr<TNRDBTreeRecordPageIndex> FRecordPageIndex;
  TNRDDiskPageManager* LPageManager;
  TNRDBaseFieldManager* LFieldManager;
  TNRDInternalDBTransactedAccessFile* LMostUpdatedFile;
  std::int32_t FMaxRecordsOnPage = 0;
  std::int32_t FDiskRecordBufferSize = 0;
  std::uint8_t* FTempDiskRecordBuffer = nullptr;
  // How a slot becomes a record in memory, made at the first read (the field definitions are
  // complete by then and keep their layout while the table is open; Init starts over).
  std::unique_ptr<TNRDRecordDecodePlan> FDecodePlan;
  std::int32_t FTableID;
};

}  // namespace nrd
