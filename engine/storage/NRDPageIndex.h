// Page indexes: two small B-trees keyed by page number that a disk table keeps beside its records.
// The record page index lists every record page with the number of records on it, the BLOB page
// index every shared BLOB page with the bytes allocated on it. Leaf entry: page number (Int32,
// compared signed) and a UInt16 count; a page is in its index exactly while its count is not 0.
//
// The room search reads only the two outer leaf pages of the tree, so adding a record or a BLOB
// costs a bounded number of page reads however large the table is.
// Errors raise ENRDException; page objects are given back on every exit. Callers hold the table lock.
#pragma once

#include <cstdint>

#include "engine/storage/NRDBTreeKeys.h"

namespace nrd {

class TNRDPageManager;

class TNRDBTreePageIndex {
 public:
  explicit TNRDBTreePageIndex(TNRDPageManager* pageManager) : LPageManager(pageManager) {}
  virtual ~TNRDBTreePageIndex() = default;
  TNRDBTreePageIndex(const TNRDBTreePageIndex&) = delete;
  TNRDBTreePageIndex& operator=(const TNRDBTreePageIndex&) = delete;

  virtual bool HasRoomOnPage(std::int32_t count, std::int32_t amount) = 0;

  void CreateIndex(std::int32_t sessionID);
  void DropIndex(std::int32_t sessionID);
  void EmptyIndex(std::int32_t sessionID);
  void OpenIndex(std::int32_t rootPageNo) { FRootPageNo = rootPageNo; }
  std::int32_t RootPageNo() const { return FRootPageNo; }

  bool GetFirstPosition(std::int32_t sessionID, TNRDKeyPath& position);
  bool GetLastPosition(std::int32_t sessionID, TNRDKeyPath& position);
  bool MoveToNextPosition(std::int32_t sessionID, TNRDKeyPath& position);
  bool MoveToPriorPosition(std::int32_t sessionID, TNRDKeyPath& position);
  bool FindPageEntry(std::int32_t sessionID, std::int32_t pageNo, TNRDKeyPath& position);
  std::int32_t GetCountAtPosition(std::int32_t sessionID, const TNRDKeyPath& position);
  void SetCountAtPosition(std::int32_t sessionID, const TNRDKeyPath& position, std::uint16_t count);
  std::int32_t GetPageNoAtPosition(std::int32_t sessionID, const TNRDKeyPath& position);

  // When position is given, it receives the found page's entry, for AddToPageAt.
  bool FindPageWithRoom(std::int32_t sessionID, std::int32_t amount, std::int32_t& pageNo,
                        TNRDKeyPath* position = nullptr);
  void AddToPage(std::int32_t sessionID, std::int32_t amount, std::int32_t pageNo);
  // AddToPage for a page whose entry FindPageWithRoom has just found, without searching the tree
  // again; a position that no longer holds the page's entry falls back to the search.
  void AddToPageAt(std::int32_t sessionID, std::int32_t amount, std::int32_t pageNo, TNRDKeyPath& position);
  // newCount < 0: the count falls by amount; otherwise it becomes newCount. A count of 0 leaves.
  void RemoveFromPage(std::int32_t sessionID, std::int32_t amount, std::int32_t newCount, std::int32_t pageNo);
  // The integrity check of the tree (20020, 20028-20034, 20194 on damage).
  void CheckIntegrity(std::int32_t sessionID);

  TNRDPageKeyRef& KeyRef() { return FKeyRef; }

 protected:
  std::int32_t FRootPageNo = -1;
  TNRDPageKeyRef FKeyRef;
  TNRDPageManager* LPageManager;
};

class TNRDBTreeRecordPageIndex : public TNRDBTreePageIndex {
 public:
  using TNRDBTreePageIndex::TNRDBTreePageIndex;
  bool HasRoomOnPage(std::int32_t count, std::int32_t) override { return count < FMaxRecordsOnPage; }
  bool FindPageForNewRecord(std::int32_t sessionID, std::int32_t& pageNo, TNRDKeyPath* position = nullptr) {
    return FindPageWithRoom(sessionID, 1, pageNo, position);
  }
  void AddRecord(std::int32_t sessionID, std::int32_t pageNo, std::int32_t addCount) {
    AddToPage(sessionID, addCount, pageNo);
  }
  void DeleteRecord(std::int32_t sessionID, std::int32_t pageNo, std::int32_t newItemCount) {
    RemoveFromPage(sessionID, 1, newItemCount, pageNo);
  }
  bool GetFirstRecordPage(std::int32_t sessionID, std::int32_t& pageNo);
  bool GetLastRecordPage(std::int32_t sessionID, std::int32_t& pageNo);
  // 20104 / 20105 when currentPageNo is not in the index.
  bool GetNextRecordPage(std::int32_t sessionID, std::int32_t currentPageNo, std::int32_t& nextPageNo);
  bool GetPriorRecordPage(std::int32_t sessionID, std::int32_t currentPageNo, std::int32_t& priorPageNo);
  // recNo counts from 0 over all records in page-number order; 20113 beyond the last record.
  void GetRecordByRecNo(std::int32_t sessionID, std::int64_t recNo, std::int32_t& pageNo, std::int32_t& recNoOnPage);
  // 20114 when the page is not in the index.
  void GetRecNoByRecord(std::int32_t sessionID, std::int32_t pageNo, std::int32_t recNoOnPage, std::int64_t& recNo);
  // 20292 when the counts do not add up to storedRecordCount.
  void Validate(std::int32_t sessionID, std::int64_t storedRecordCount);

  std::int32_t FMaxRecordsOnPage = 0;
};

class TNRDBTreeBlobPageIndex : public TNRDBTreePageIndex {
 public:
  using TNRDBTreePageIndex::TNRDBTreePageIndex;
  bool HasRoomOnPage(std::int32_t count, std::int32_t amount) override;
  bool FindPageForNewBlob(std::int32_t sessionID, std::int32_t blobSize, std::int32_t& pageNo) {
    return FindPageWithRoom(sessionID, blobSize, pageNo);
  }
  void AddBlob(std::int32_t sessionID, std::int32_t blobSize, std::int32_t pageNo) {
    AddToPage(sessionID, blobSize, pageNo);
  }
  void DeleteBlob(std::int32_t sessionID, std::int32_t blobSize, std::int32_t pageNo) {
    RemoveFromPage(sessionID, blobSize, -1, pageNo);
  }
  // -1 when the page is not in the index.
  std::int32_t GetBlobPageAllocatedSpace(std::int32_t sessionID, std::int32_t pageNo);
};

}  // namespace nrd
