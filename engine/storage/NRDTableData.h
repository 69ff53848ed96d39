// The shared table object and the record manager interface.
//
// One TNRDTableData stands for one open table of one database object and is shared by every
// cursor of the process that has the table open. It owns the table's field, index, constraint
// and record managers and implements what the memory, temporary and disk engines share: setting
// up the managers, table- and index-level operations and the per-session rollback. The engines
// derive from it and supply storage, records and BLOBs (the operations whose base raises 30339).
// Cursor navigation, record numbers, Locate and FindKey are added by the navigation layer.
//
// Locking: Lock/Unlock take the owning database object's critical section (re-entrant). Every
// public operation that reads or changes shared state takes it.
//
// Record buffers may carry 4-byte slots that refer to objects the engine keeps in memory (the
// memory-only tail of a BLOB field). Such a slot holds a 32-bit handle from the table object's
// handle table (index and generation), never a pointer, so the buffer layout keeps its size and a
// stale or damaged slot is refused instead of followed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/foundation/NRDCompression.h"
#include "engine/foundation/NRDTypes.h"
#include "engine/storage/NRDMetadata.h"

namespace nrd {

class TNRDBaseConstraintManager;
class TNRDBaseFieldManager;
class TNRDBaseIndexManager;
class TNRDBaseSession;
class TNRDCursor;
class TNRDDatabaseData;
class TNRDPageManager;
class TNRDStream;

class TNRDBaseRecordManager;

// Reads the records of one table in physical order, or by record ID, for the length of one search
// (under the table lock). A reader may keep what it read last and serve the next read from it; it
// does so only while the table state is the one it read under, so every answer is the one the record
// manager's GetRecordBuffer would give at that moment. The base forwards every read.
class TNRDRecordReader {
 public:
  TNRDRecordReader(TNRDBaseRecordManager& records, std::int32_t sessionID) : FRecords(records), FSessionID(sessionID) {}
  virtual ~TNRDRecordReader() = default;
  TNRDRecordReader(const TNRDRecordReader&) = delete;
  TNRDRecordReader& operator=(const TNRDRecordReader&) = delete;
  // As TNRDBaseRecordManager::GetRecordBuffer (IndexID is not looked at).
  virtual void Read(TNRDNavigationInfo& navigationInfo);

 protected:
  TNRDBaseRecordManager& FRecords;
  std::int32_t FSessionID;
};

// Reads, adds, changes and removes the records of one table; implemented by each engine.
class TNRDBaseRecordManager {
 public:
  virtual ~TNRDBaseRecordManager() = default;
  virtual const char* ClassName() const { return "TNRDBaseRecordManager"; }

  virtual void Empty(std::int32_t sessionID);
  virtual bool AddRecord(std::int32_t sessionID, void* recordBuffer, TNRDPageItemID& recordID);
  virtual bool UpdateRecord(std::int32_t sessionID, void* recordBuffer, const TNRDPageItemID& recordID);
  virtual bool DeleteRecord(std::int32_t sessionID, TNRDPageItemID& recordID);
  // Reads the record navigationInfo names (grmCurrent) or the next or prior one in physical order
  // into its buffer and sets RecordID, FirstPosition, LastPosition and GetRecordResult (grrError
  // when the named record does not exist).
  virtual void GetRecordBuffer(std::int32_t sessionID, TNRDNavigationInfo& navigationInfo);
  virtual std::int32_t CompareRecordID(const TNRDPageItemID& recordID1, const TNRDPageItemID& recordID2);
  virtual std::int64_t GetApproximateRecNo(std::int32_t sessionID, const TNRDPageItemID& recordID);
  // A reader for one search of the session; the base gives one that forwards every read.
  virtual std::unique_ptr<TNRDRecordReader> CreateReader(std::int32_t sessionID);

  std::int64_t FRecordCount = 0;
  std::int32_t FTableState = 0;
  std::int32_t FRecordBufferSize = 0;

 protected:
  [[noreturn]] void NotOverridden(const char* method) const;
};

// Objects an engine keeps in memory for record buffers, addressed by 32-bit handles: the low 20
// bits are a slot index + 1, the high 12 bits a generation that changes whenever a slot is reused.
// Handle 0 means none. Not locked: the table data lock covers it.
class TNRDHandleTable {
 public:
  std::uint32_t Add(void* object);
  // The object of a live handle, or null for 0, a freed or reused slot or a damaged handle.
  void* Get(std::uint32_t handle) const;
  // Frees the slot; false when the handle was not live.
  bool Remove(std::uint32_t handle);
  std::size_t LiveCount() const { return live_; }

 private:
  struct Slot {
    void* object = nullptr;
    std::uint16_t generation = 0;
    bool used = false;
  };
  std::vector<Slot> slots_;
  std::vector<std::uint32_t> free_;
  std::size_t live_ = 0;
};

class TNRDTableData {
 public:
  // Registers with the database object (which owns it from then on).
  explicit TNRDTableData(TNRDDatabaseData* databaseData);
  // Frees the field, index, constraint and record managers (in that order) and leaves the
  // database object's table list.
  virtual ~TNRDTableData();
  TNRDTableData(const TNRDTableData&) = delete;
  TNRDTableData& operator=(const TNRDTableData&) = delete;
  virtual const char* ClassName() const { return "TNRDTableData"; }

  void Lock();
  void Unlock();

  // ----- slots (engines override; "e" slots raise 30339 in the base) -----
  virtual void CreateRecordManager();  // e
  // Each gives the definitions new object IDs, then the manager takes a copy of them.
  virtual void InitFieldManager(TNRDFieldDefs& fieldDefs);
  virtual void InitIndexManager(TNRDIndexDefs& indexDefs);
  // 30058 for a foreign-key (or unknown) kind; links the copies and names unnamed ones.
  virtual void InitConstraintManager(TNRDConstraintDefs& constraintDefs);
  virtual void InitCursorRecordSize(TNRDCursor& cursor);
  // The step every engine's CreateTable shares: the field, index and constraint managers from copies of
  // the definitions, then the record manager.
  void InitManagers(const TNRDFieldDefs& fieldDefs, const TNRDIndexDefs& indexDefs,
                    const TNRDConstraintDefs& constraintDefs);
  virtual void ApplyChanges(std::int32_t sessionID, bool inTransaction);
  virtual void CancelChanges(std::int32_t sessionID, bool inTransaction);
  virtual void CreateTable(TNRDCursor* cursor, const TNRDFieldDefs& fieldDefs, const TNRDIndexDefs& indexDefs,
                           const TNRDConstraintDefs& constraintDefs);  // e
  virtual void DeleteTable(TNRDCursor* cursor, bool designMode);
  virtual void EmptyTable(TNRDCursor* cursor);
  virtual void RenameTable(const std::string& newTableName, TNRDCursor* cursor);
  virtual void OpenTable(TNRDCursor* cursor);
  virtual void CloseTable(TNRDCursor* cursor);
  virtual void RenameField(const std::string& fieldName, const std::string& newFieldName);
  // Returns the new index's object ID.
  virtual std::int32_t AddIndex(TNRDIndexDef& indexDef, TNRDCursor* cursor);
  virtual void DeleteIndex(std::int32_t indexID, TNRDCursor* cursor);
  virtual std::int64_t GetBitmapRecordCount(std::int32_t sessionID);  // e
  virtual std::int64_t RecordIDToBitmapRecNo(const TNRDPageItemID& recordID);  // e
  virtual TNRDPageItemID BitmapRecNoToRecordID(std::int64_t bitNo);  // e
  virtual void ClearBlobsCacheInRecordBuffer(void* buffer) { (void)buffer; }
  virtual void WriteBLOBFieldToRecordBuffer(TNRDCursor* cursor, std::int32_t fieldNo, TNRDStream* blobStream);  // e
  virtual void ClearBLOBFieldInRecordBuffer(void* recordBuffer, std::int32_t fieldNo) {
    (void)recordBuffer;
    (void)fieldNo;
  }
  virtual void ClearBLOBFieldsInRecordBuffer(void* recordBuffer);
  virtual TNRDStream* InternalCreateBlobStream(TNRDCursor* cursor, bool toInsert, std::int32_t fieldNo,
                                               TNRDBLOBOpenMode openMode);  // e
  virtual void GetDirectBlobData(TNRDCursor* cursor, std::int32_t fieldNo, void* recordBuffer,
                                 TNRDBLOBDescriptor& blobDescriptor, void*& pBlobData);  // e
  virtual void SetDirectBlobData(TNRDCursor* cursor, std::int32_t fieldNo, void* recordBuffer,
                                 TNRDBLOBDescriptor& blobDescriptor, void*& pBlobData);  // e
  virtual void FreeDirectBlobData(TNRDCursor* cursor, std::int32_t fieldNo, void* recordBuffer,
                                  TNRDBLOBDescriptor& blobDescriptor, void*& pBlobData);  // e
  virtual bool InsertRecord(TNRDCursor*& cursor);  // e
  virtual bool DeleteRecord(TNRDCursor* cursor);   // e
  virtual bool UpdateRecord(TNRDCursor* cursor);   // e
  virtual void InternalSetRecNo(TNRDCursor* cursor, std::int64_t recNo);  // e
  virtual std::int64_t InternalGetRecNo(TNRDCursor* cursor);              // e
  virtual std::int64_t InternalGetRecordCount(TNRDCursor* cursor);        // e
  // Base 0; the engines forward to the field manager.
  virtual std::int64_t LastAutoincValue(std::int32_t fieldNo, TNRDBaseSession* session);
  // Rebuilds the session's temporary indexes.
  virtual void Rollback(std::int32_t sessionID);

  // ----- shared operations -----
  void AssignNewObjectIds(TNRDMetaObjectDefs& defs);
  // 10131 for a table without fields.
  std::int32_t GetRecordBufferSize() const;
  void EmptyIndex(std::int32_t indexID, std::int32_t sessionID);
  void DeleteAllIndexes(TNRDCursor* cursor);
  void EmptyAllIndexes(std::int32_t sessionID);
  // The name of the index that serves the key (created as a temporary one when none does).
  std::string FindOrCreateIndex(TNRDCursor* cursor, const std::vector<std::string>& fieldNamesList,
                                const std::vector<std::string>& ascDescList,
                                const std::vector<std::string>& caseSensitivityList, bool& isCreated);
  bool IndexExists(TNRDCursor* cursor, const std::vector<std::string>& fieldNamesList,
                   const std::vector<std::string>& ascDescList, const std::vector<std::string>& caseSensitivityList);
  bool IsUniqueConstraintFailed(std::int32_t sessionID, std::int32_t indexID, const void* newRecordBuffer,
                                const void* oldRecordBuffer, bool toInsert, const TNRDPageItemID& currentRecordID);
  void RebuildTemporaryIndexes(std::int32_t sessionID);

  TNRDBaseFieldManager& FieldManager() const { return *FFieldManager; }
  TNRDBaseIndexManager& IndexManager() const { return *FIndexManager; }
  TNRDBaseConstraintManager& ConstraintManager() const { return *FConstraintManager; }
  TNRDBaseRecordManager& RecordManager() const { return *FRecordManager; }
  const std::vector<TNRDCursor*>& Cursors() const { return FCursorList; }
  TNRDHandleTable& Handles() { return FHandles; }

  bool FIsRepairing = false;
  TNRDPageManager* FPageManager = nullptr;  // the engine's, not owned here
  TNRDDatabaseData* FDatabaseData;
  std::string FTableName;
  TNRDCompression FBLOBCompression;
  bool FActive = false;
  // Owned; created by the engine (the base creates the field, index and constraint managers
  // when Init* finds none).
  std::unique_ptr<TNRDBaseFieldManager> FFieldManager;
  std::unique_ptr<TNRDBaseConstraintManager> FConstraintManager;
  std::unique_ptr<TNRDBaseIndexManager> FIndexManager;
  std::unique_ptr<TNRDBaseRecordManager> FRecordManager;
  bool FDisableTempFiles = false;

 protected:
  [[noreturn]] void NotOverridden(const char* method) const;
  void EnsureManagers();

  std::vector<TNRDCursor*> FCursorList;  // not owned
  TNRDHandleTable FHandles;
};

// Holds a table data object's lock for a scope.
class TNRDTableDataLock {
 public:
  explicit TNRDTableDataLock(TNRDTableData& t) : t_(t) { t_.Lock(); }
  ~TNRDTableDataLock() { t_.Unlock(); }
  TNRDTableDataLock(const TNRDTableDataLock&) = delete;
  TNRDTableDataLock& operator=(const TNRDTableDataLock&) = delete;

 private:
  TNRDTableData& t_;
};

}  // namespace nrd
