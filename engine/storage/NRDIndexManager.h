// The index interface and the index manager of a table.
//
// TNRDIndex is what an index object offers (the B-tree record index implements it); the base
// implements CreateIndex and OpenIndex, every other operation raises 30339 until overridden.
// TNRDBaseIndexManager holds the table's index definitions (permanent and temporary), opens index
// objects on demand, creates and drops indexes, keeps every index in step with record inserts,
// updates and deletes, and rebuilds temporary indexes that fell behind the table.
// Index objects are made by the record index creator (the B-tree registers it; tests use stubs).
// No lock of its own: callers hold the table data lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/foundation/NRDTypes.h"
#include "engine/storage/NRDMetadata.h"

namespace nrd {

class TNRDBaseIndexManager;
class TNRDCursor;
class TNRDIndexPositionCache;
class TNRDPageManager;
class TNRDRecordBitmap;
class TNRDScanSearchCondition;
class TNRDTableData;

// The position of one entry of an index (a key path from the root down). A record bitmap in index
// order numbers its bits through it.
class TNRDIndexPosition {
 public:
  virtual ~TNRDIndexPosition() = default;
  // The bit number of this position in a bitmap of index positions.
  virtual std::int64_t GetBitmapRecNoByIndexPosition(std::int32_t maxEntriesPerPage) const = 0;
  // Moves this position to the entry with that bit number.
  virtual void FillItemsByBitmapRecNo(std::int64_t bitNo, std::int32_t maxEntriesPerPage) = 0;
};

class TNRDIndex {
 public:
  explicit TNRDIndex(TNRDBaseIndexManager* indexManager) : FIndexManager(indexManager) {}
  virtual ~TNRDIndex() = default;
  TNRDIndex(const TNRDIndex&) = delete;
  TNRDIndex& operator=(const TNRDIndex&) = delete;
  virtual const char* ClassName() const { return "TNRDIndex"; }

  // Builds the index over the table's records; the base only takes a copy of the definition.
  virtual void CreateIndex(TNRDCursor* cursor, const TNRDIndexDef& indexDef);
  virtual void DropIndex(std::int32_t sessionID);
  virtual void EmptyIndex(std::int32_t sessionID);
  // Attaches to existing storage; the base only takes a copy of the definition.
  virtual void OpenIndex(const TNRDIndexDef& indexDef);
  virtual void RebuildTemporaryIndex(TNRDCursor* cursor);
  virtual void GetRecordBuffer(std::int32_t sessionID, TNRDNavigationInfo& navigationInfo,
                               TNRDIndexPositionCache* indexPositionCache, std::int32_t tableState);
  virtual void GetClosestRecordBuffer(std::int32_t sessionID, TNRDNavigationInfo& navigationInfo,
                                      TNRDIndexPositionCache* indexPositionCache, std::int32_t tableState);
  virtual TNRDIndexPosition* CreateIndexPosition();
  virtual void FreeIndexPosition(TNRDIndexPosition*& indexPosition);
  virtual bool GetIndexPosition(std::int32_t sessionID, const TNRDPageItemID& recordID, const void* recordBuffer,
                                TNRDIndexPosition* indexPosition);
  virtual std::int32_t CompareRecordPositionsInIndex(const TNRDIndexPosition* position1,
                                                     const TNRDIndexPosition* position2);
  virtual std::int64_t GetRecNoByRecordID(std::int32_t sessionID, const TNRDPageItemID& recordID,
                                          const void* recordBuffer);
  virtual TNRDPageItemID GetRecordIDByRecNo(std::int32_t sessionID, std::int64_t recNo);
  virtual void ApplyDistinctToRecordBitmap(std::int32_t sessionID, TNRDRecordBitmap* bitmap,
                                           std::int32_t distinctFieldCount);
  virtual void* CreateSearchInfo();
  virtual void FreeSearchInfo(void* searchInfo);
  virtual bool FindRecord(std::int32_t sessionID, bool restart, bool goForward,
                          const TNRDScanSearchCondition* startScanCondition,
                          const TNRDScanSearchCondition* endScanCondition, void* recordBuffer,
                          TNRDPageItemID& recordID, void* searchInfo);
  virtual std::int32_t CompareRecordBuffersByIndex(const void* buffer1, const void* buffer2,
                                                   std::int32_t indexFieldCount);
  virtual std::int32_t CompareConditions(const TNRDScanSearchCondition* condition1,
                                         const TNRDScanSearchCondition* condition2);
  virtual std::int64_t GetApproxRangeRecordCount(std::int32_t sessionID, std::int64_t tableRecordCount,
                                                 const TNRDScanSearchCondition* rangeCondition1,
                                                 const TNRDScanSearchCondition* rangeCondition2);
  virtual bool CanInsertRecord(std::int32_t sessionID, const void* recordBuffer);
  virtual bool CanUpdateRecord(std::int32_t sessionID, const void* oldRecordBuffer, const void* newRecordBuffer);
  virtual void InsertRecord(TNRDCursor* cursor);
  virtual void DeleteRecord(TNRDCursor* cursor);
  virtual void UpdateRecord(TNRDCursor* cursor, bool beforeNewRecordIsStored);
  virtual std::int32_t GetMaxEntriesPerPage();
  virtual void GetRecordIDByIndexPosition(std::int32_t sessionID, const TNRDIndexPosition* indexPos,
                                          TNRDPageItemID& recordID);

  TNRDIndexDef& IndexDef() { return FIndexDef; }
  const TNRDIndexDef& IndexDef() const { return FIndexDef; }

  TNRDIndexDef FIndexDef;
  TNRDBaseIndexManager* FIndexManager;

 protected:
  [[noreturn]] void NotOverridden(const char* method) const;
};

// Makes the index object of a definition (the B-tree record index).
using TNRDRecordIndexCreator = std::function<std::unique_ptr<TNRDIndex>(TNRDBaseIndexManager&)>;
// The creator new index managers start with; the B-tree sets it at start-up.
void SetDefaultRecordIndexCreator(TNRDRecordIndexCreator creator);
const TNRDRecordIndexCreator& DefaultRecordIndexCreator();

class TNRDBaseIndexManager {
 public:
  TNRDBaseIndexManager(TNRDTableData* tableData, TNRDPageManager* tempPageManager);
  // Closes every open index.
  virtual ~TNRDBaseIndexManager();
  TNRDBaseIndexManager(const TNRDBaseIndexManager&) = delete;
  TNRDBaseIndexManager& operator=(const TNRDBaseIndexManager&) = delete;

  virtual void LoadMetadata(TStream& stream) { FIndexDefs.LoadFromStream(stream); }
  virtual void SaveMetadata(TStream& stream) const { FIndexDefs.SaveToStream(stream); }
  virtual void CreateIndexDefs(const TNRDIndexDefs& indexDefs) { FIndexDefs.Assign(indexDefs); }

  TNRDPageManager* GetPageManager(const TNRDIndex& index) const;
  std::int32_t FindIndex(const std::vector<std::string>& fieldNames, const std::vector<std::string>& ascDescList,
                         const std::vector<std::string>& caseSensitivityList, std::int32_t sessionID,
                         const TNRDFieldDefs& fieldDefs) const;
  bool IsIndexExists(const std::vector<std::string>& fieldNames, const std::vector<std::string>& ascDescList,
                     const std::vector<std::string>& caseSensitivityList, std::int32_t sessionID,
                     const TNRDFieldDefs& fieldDefs) const {
    return FindIndex(fieldNames, ascDescList, caseSensitivityList, sessionID, fieldDefs) != -1;
  }
  std::int32_t FindOrCreateIndex(TNRDCursor* cursor, const std::vector<std::string>& fieldNamesList,
                                 const std::vector<std::string>& ascDescList,
                                 const std::vector<std::string>& caseSensitivityList, bool& isCreated);
  std::int32_t CreateTemporaryIndex(TNRDCursor* cursor, const std::vector<std::string>& fieldNamesList,
                                    const std::vector<std::string>& ascDescList,
                                    const std::vector<std::string>& caseSensitivityList);
  // Gives the definition a new object ID, appends a copy and builds it; returns the ID.
  std::int32_t CreateIndex(TNRDCursor* cursor, TNRDIndexDef& indexDef);
  void CreateIndexesByIndexDefs(TNRDCursor* cursor);
  // 20018 "Index not found" for an unknown ID.
  TNRDIndex* OpenIndex(std::int32_t indexID);
  TNRDIndex* FindOpenIndex(std::int32_t indexID) const;
  void CloseIndex(std::int32_t indexID);
  void DropIndex(std::int32_t sessionID, std::int32_t indexID);
  void DropAllIndexes(std::int32_t sessionID);
  void DropTemporaryIndexes(std::int32_t sessionID);
  void EmptyIndex(std::int32_t sessionID, std::int32_t indexID);
  void EmptyAllIndexes(std::int32_t sessionID);
  void GetRecordBuffer(std::int32_t sessionID, TNRDNavigationInfo& navigationInfo,
                       TNRDIndexPositionCache* indexPositionCache, std::int32_t tableState);
  void InsertRecord(TNRDCursor* cursor);
  void UpdateRecord(TNRDCursor* cursor, bool beforeNewRecordIsStored);
  void DeleteRecord(TNRDCursor* cursor);
  // Rebuilds the cursor session's temporary indexes whose table state fell behind the table's.
  void SynchronizeTemporaryIndexes(TNRDCursor* cursor, bool& isChanged);
  void RenameField(const std::string& fieldName, const std::string& newFieldName);

  std::int32_t OpenIndexCount() const { return static_cast<std::int32_t>(FOpenIndexList.size()); }

  TNRDTableData* FTableData;
  TNRDIndexDefs FIndexDefs;
  TNRDPageManager* FPageManager;
  TNRDPageManager* FTemporaryPageManager;
  bool FSynchronizingTemporaryIndexes = false;
  TNRDRecordIndexCreator FIndexCreator;

 private:
  std::unique_ptr<TNRDIndex> NewIndexObject();
  std::int32_t BuildIndex(TNRDCursor* cursor, std::int32_t indexID);

  std::vector<std::unique_ptr<TNRDIndex>> FOpenIndexList;
};

}  // namespace nrd
