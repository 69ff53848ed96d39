// The B-tree record index: the implementation of the index interface. One tree per index
// definition; leaf entries hold a record's short key and its 6-byte record ID, the root page number
// lives in the definition (FRootPageNo, -1 until the tree exists) and is saved with the table's
// metadata. Pages come from the index manager's page manager for this index (the temporary one for
// temporary indexes).
//
// Positions are key paths (NRDBTreeKeys.h). Navigation continues from the cursor's cached position
// when it still holds, else searches the record's entry, and steps along the level chains; record numbers
// walk the leaf chain (one page read per leaf). A search resets the key reference's compare
// settings when it ends.
//
// Filling a new index reads the table's records through a record source: by default the table's
// record manager in physical order; the cursor layer may install its own.
// Errors raise ENRDException; pages, key buffers and paths are released on every exit. Callers hold
// the table lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/storage/NRDBTreeKeys.h"
#include "engine/storage/NRDIndexManager.h"

namespace nrd {

class TNRDBTreePage;

// The records of a table, one at a time, for filling a new index.
class TNRDIndexRecordSource {
 public:
  virtual ~TNRDIndexRecordSource() = default;
  // The next record into recordBuffer (a memory record buffer of the table); false at the end.
  virtual bool Next(void* recordBuffer, TNRDPageItemID& recordID) = 0;
};
using TNRDIndexRecordSourceFactory =
    std::function<std::unique_ptr<TNRDIndexRecordSource>(TNRDTableData& table, std::int32_t sessionID)>;
// Replaces the record source of new indexes (an empty function restores the default).
void SetIndexRecordSourceFactory(TNRDIndexRecordSourceFactory factory);

// A bound of a range scan over the index: the first keyFieldCount columns of keyRecordBuffer
// compared with op; partialCompare compares text columns on the given text's length (prefix).
struct TNRDBTreeScanBound {
  TNRDSearchCondition Operator = scNone;
  std::int32_t KeyFieldCount = 0;
  const void* KeyRecordBuffer = nullptr;
  bool PartialCompare = false;
};

// The search information of FindRecord.
struct TNRDBTreeSearchInfo {
  bool ScanForward = true;
  bool ScanStarted = false;
  std::unique_ptr<TNRDKeyPath> EndPosition;
  std::unique_ptr<TNRDKeyPath> ScanPosition = std::make_unique<TNRDKeyPath>();
};

class TNRDBTreeRecordIndex : public TNRDIndex {
 public:
  using TNRDIndex::TNRDIndex;
  const char* ClassName() const override { return "TNRDBTreeRecordIndex"; }

  void CreateIndex(TNRDCursor* cursor, const TNRDIndexDef& indexDef) override;
  void DropIndex(std::int32_t sessionID) override;
  void EmptyIndex(std::int32_t sessionID) override;
  void OpenIndex(const TNRDIndexDef& indexDef) override;
  void RebuildTemporaryIndex(TNRDCursor* cursor) override;
  void GetRecordBuffer(std::int32_t sessionID, TNRDNavigationInfo& navigationInfo,
                       TNRDIndexPositionCache* indexPositionCache, std::int32_t tableState) override;
  void GetClosestRecordBuffer(std::int32_t sessionID, TNRDNavigationInfo& navigationInfo,
                              TNRDIndexPositionCache* indexPositionCache, std::int32_t tableState) override;
  TNRDIndexPosition* CreateIndexPosition() override { return new TNRDKeyPath(); }
  void FreeIndexPosition(TNRDIndexPosition*& indexPosition) override {
    delete indexPosition;
    indexPosition = nullptr;
  }
  bool GetIndexPosition(std::int32_t sessionID, const TNRDPageItemID& recordID, const void* recordBuffer,
                        TNRDIndexPosition* indexPosition) override;
  std::int32_t CompareRecordPositionsInIndex(const TNRDIndexPosition* position1,
                                             const TNRDIndexPosition* position2) override;
  std::int64_t GetRecNoByRecordID(std::int32_t sessionID, const TNRDPageItemID& recordID,
                                  const void* recordBuffer) override;
  TNRDPageItemID GetRecordIDByRecNo(std::int32_t sessionID, std::int64_t recNo) override;
  void ApplyDistinctToRecordBitmap(std::int32_t sessionID, TNRDRecordBitmap* bitmap,
                                   std::int32_t distinctFieldCount) override;
  void* CreateSearchInfo() override { return new TNRDBTreeSearchInfo(); }
  void FreeSearchInfo(void* searchInfo) override { delete static_cast<TNRDBTreeSearchInfo*>(searchInfo); }
  bool FindRecord(std::int32_t sessionID, bool restart, bool goForward, const TNRDScanSearchCondition* startScanCondition,
                  const TNRDScanSearchCondition* endScanCondition, void* recordBuffer, TNRDPageItemID& recordID,
                  void* searchInfo) override;
  std::int32_t CompareRecordBuffersByIndex(const void* buffer1, const void* buffer2,
                                           std::int32_t indexFieldCount) override;
  // -1 for a lower bound (scGreater, scGreaterEqual), 1 for an upper one, else 0.
  std::int32_t CompareConditions(const TNRDScanSearchCondition* condition1,
                                 const TNRDScanSearchCondition* condition2) override;
  std::int64_t GetApproxRangeRecordCount(std::int32_t sessionID, std::int64_t tableRecordCount,
                                         const TNRDScanSearchCondition* rangeCondition1,
                                         const TNRDScanSearchCondition* rangeCondition2) override;
  bool CanInsertRecord(std::int32_t sessionID, const void* recordBuffer) override;
  bool CanUpdateRecord(std::int32_t sessionID, const void* oldRecordBuffer, const void* newRecordBuffer) override;
  void InsertRecord(TNRDCursor* cursor) override;
  void DeleteRecord(TNRDCursor* cursor) override;
  void UpdateRecord(TNRDCursor* cursor, bool beforeNewRecordIsStored) override;
  std::int32_t GetMaxEntriesPerPage() override;
  void GetRecordIDByIndexPosition(std::int32_t sessionID, const TNRDIndexPosition* indexPos,
                                  TNRDPageItemID& recordID) override;

  // The range scan behind FindRecord, over bounds given directly.
  bool FindRecordByBounds(std::int32_t sessionID, bool restart, bool goForward, const TNRDBTreeScanBound* start,
                          const TNRDBTreeScanBound* end, const void* recordBuffer, TNRDPageItemID& recordID,
                          TNRDBTreeSearchInfo* searchInfo);
  // The range estimate behind GetApproxRangeRecordCount (lower bound first).
  std::int64_t GetApproxRangeRecordCountByBounds(std::int32_t sessionID, std::int64_t tableRecordCount,
                                                 const TNRDBTreeScanBound& lower, const TNRDBTreeScanBound& upper);

  // Entry-level operations (the cursor forms use the cursor's record buffer and record ID).
  void InsertEntry(std::int32_t sessionID, const void* recordBuffer, const TNRDPageItemID& recordID);
  bool DeleteEntry(std::int32_t sessionID, const void* recordBuffer, const TNRDPageItemID& recordID);
  // The integrity check of the whole tree (20020, 20028-20034, 20194 on damage).
  void CheckIntegrity(std::int32_t sessionID);

  bool GetFirstIndexPosition(std::int32_t sessionID, TNRDKeyPath& position);
  bool GetLastIndexPosition(std::int32_t sessionID, TNRDKeyPath& position);
  bool MoveToNextPosition(std::int32_t sessionID, TNRDKeyPath& position);
  bool MoveToPriorPosition(std::int32_t sessionID, TNRDKeyPath& position);
  TNRDPageItemID GetReferenceAtPosition(std::int32_t sessionID, const TNRDKeyPath& position);

  TNRDRecordKeyRef* KeyRef() { return FKeyRef.get(); }

 private:
  TNRDPageManager* PageManager() const;
  std::int32_t RootPageNo(int code) const;
  void MakeKeyRef();
  bool PositionByBound(std::int32_t sessionID, bool first, const TNRDBTreeScanBound& bound, TNRDKeyPath& position);
  bool FullKeysEqual(const void* buffer1, const void* buffer2);
  // The path still leads from the root to the record (page numbers, counts, links, reference).
  bool CachedPathHolds(std::int32_t sessionID, const TNRDKeyPath& path, const TNRDPageItemID& recordID);

  std::unique_ptr<TNRDRecordKeyRef> FKeyRef;
  std::vector<std::uint8_t> FKey;
};

// Makes new index managers build B-tree record indexes (call once at start-up).
void RegisterBTreeRecordIndex();

}  // namespace nrd
