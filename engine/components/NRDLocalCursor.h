// The engine's cursor over a shared table object: one open table of one local session. Table
// operations hold the database object's lock; record and BLOB operations hold the table object's
// lock (the same critical section). Record operations never raise for the expected outcomes:
// they leave a code in FErrorCode (0 success, -1..-13 as ENRDEngineError lists them) and the
// data set raises it. Before a record is changed or deleted it is read again and compared with
// the copy the caller holds, so a change by another session is reported (-4/-5) and a deletion
// by another session too (-6/-7); the caller's buffer keeps the values it had.
//
// Filter, Locate and match conditions are parsed by the expression layer through
// TNRDCursorExpressionFactory; without one registered these raise 30039 "Not implemented yet".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/NRDCursor.h"
#include "engine/storage/NRDDatabaseData.h"
#include "engine/storage/NRDTableData.h"

namespace nrd {

class TNRDDiskTableData;

// The expression layer's parsers for cursor conditions; registered at start-up by the SQL layer.
class TNRDCursorExpressionFactory {
 public:
  virtual ~TNRDCursorExpressionFactory() = default;
  virtual std::unique_ptr<TNRDExpression> ParseForFilter(TNRDCursor& cursor, const std::string& filterText,
                                                         bool caseInsensitive, bool partialKey) = 0;
  virtual std::unique_ptr<TNRDExpression> ParseForLocate(TNRDCursor& cursor, const std::vector<std::string>& keyFields,
                                                         const std::vector<TVariantValue>& keyValues,
                                                         bool caseInsensitive, bool partialKey) = 0;
  virtual std::unique_ptr<TNRDExpression> ParseForIsAnyRecordMatchCondition(TNRDCursor& cursor,
                                                                            const std::string& fieldName,
                                                                            TNRDDataOperator op,
                                                                            const TNRDVariant& value) = 0;
};
void SetCursorExpressionFactory(TNRDCursorExpressionFactory* factory);
TNRDCursorExpressionFactory* GetCursorExpressionFactory();

class TNRDLocalCursor : public TNRDCursor {
 public:
  TNRDLocalCursor();
  ~TNRDLocalCursor() override;
  const char* ClassName() const override { return "TNRDLocalCursor"; }

  TNRDTableData* TableData() const { return FTableData; }
  TNRDDatabaseData* DatabaseData() const { return FDatabaseData; }
  // Opens over a given table object (used to fill a new index).
  void OpenTable(TNRDTableData* tableData);

  void CreateTable(TNRDFieldDefs& fieldDefs, TNRDIndexDefs& indexDefs, TNRDConstraintDefs& constraintDefs) override;
  void DeleteTable() override;
  void EmptyTable() override;
  void RenameTable(const std::string& newTableName) override;
  void InternalInitFieldDefs() override;
  void OpenTableByFieldDefs(TNRDFieldDefs& fieldDefs, TNRDIndexDefs& indexDefs,
                            TNRDConstraintDefs& constraintDefs) override;
  void CloseTable() override;
  void LockTableData() override;
  void UnlockTableData() override;
  bool LockTable(TNRDLockType lockType, std::int32_t tryCount, std::int32_t delay, bool allowXIRWAfterSIRW) override;
  bool UnlockTable(TNRDLockType lockType, bool ignoreIfNoLock) override;
  void RenameField(const std::string& fieldName, const std::string& newFieldName) override;
  TNRDIndexDefs& GetIndexDefs() override;
  void AddIndex(TNRDIndexDef& indexDef) override;
  void DeleteIndex(const std::string& name) override;
  void DeleteAllIndexes() override;
  std::string FindOrCreateIndex(const std::vector<std::string>& fieldNamesList,
                                const std::vector<std::string>& ascDescList,
                                const std::vector<std::string>& caseSensitivityList, bool& isCreated) override;
  bool IndexExists(const std::vector<std::string>& fieldNamesList, const std::vector<std::string>& ascDescList,
                   const std::vector<std::string>& caseSensitivityList) override;
  void CopyFieldValue(std::int32_t srcFieldNo, bool directAccess, std::int32_t destFieldNo,
                      TNRDCursor& destCursor) override;
  void InternalInitRecord(void* recordBuffer, bool insertMode) override;
  void FreeRecordBuffer(void*& buffer) override;
  std::int64_t GetRecordCount() override;
  TNRDGetRecordResult GetRecordBuffer(TNRDGetRecordMode getRecordMode) override;
  void SetRecNo(std::int64_t value) override;
  std::int64_t GetRecNo() override;
  std::int32_t CompareRecordsOrder(const TNRDPageItemID& recordID1, const TNRDPageItemID& recordID2) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalInsert() override {}
  void InternalEdit() override;
  void InternalCancel(bool toInsert) override;
  void InternalPost(bool toInsert) override;
  void InternalDelete() override;
  bool IsRecordLocked() override;
  void ApplyDistinct(const std::vector<std::string>& fieldNamesList, const std::vector<std::string>& ascDescList,
                     const std::vector<std::string>& caseSensitivityList) override;
  void ActivateFilters(const std::string& filterText, bool caseInsensitive, bool partialKey) override;
  void DeactivateFilters() override;
  bool Locate(const std::vector<std::string>& keyFields, const std::vector<TVariantValue>& keyValues,
              bool caseInsensitive, bool partialKey) override;
  bool FindKey(TNRDSearchCondition searchCondition) override;
  bool IsAnyRecordMatchCondition(const std::string& fieldName, TNRDDataOperator op, const TNRDVariant& value) override;
  TNRDStream* InternalCreateBlobStream(bool toInsert, bool toEdit, std::int32_t fieldNo, TNRDBLOBOpenMode openMode,
                                       bool canDoGetRecordBuffer) override;
  void InternalCloseBLOB(std::int32_t fieldNo) override;
  void ClearBLOBStreams(bool writeOnly) override;
  std::int64_t LastAutoincValue(std::int32_t fieldNo) override;
  void BeginBatchUpdate() override;
  void EndBatchUpdate() override;
  void CancelBatchUpdate() override;
  bool CheckConstraints(bool toInsert) override;

 private:
  TNRDDatabaseData& SessionDatabase();
  TNRDTableData& Table(int code) const;
  bool IsTemporaryTable() const;
  bool InTransaction() const;
  // The database object or the session is read-only (a file held by another process included).
  bool IsDatabaseReadOnly() const;
  // Raises `code` "Dataset is in read only mode" on a read-only database.
  void CheckWritable(int code) const;
  // The record's ID from the bookmark of the current record buffer.
  void TakeBookmarkID();
  // The stored record of CurrentRecordID read into a scratch copy; false when it is gone.
  bool ReadStored(std::vector<std::uint8_t>& copy);
  std::vector<std::string> PhysicalNames(const std::vector<std::string>& names) const;
  void FreeStream(std::size_t i);
  // Writes the content of every stream open for writing into the current record buffer.
  void WriteOpenBLOBStreams();
  TNRDDiskTableData* Disk() const;
  // A disk table of a multi-user session: the only tables with cross-session locks.
  bool MultiUserDisk() const;
  bool LockTableWaiting(TNRDLockType lockType, int attempts, int sleepMS);
  void PostProper(bool toInsert);
  void DeleteProper();

  TNRDTableData* FTableData = nullptr;
  TNRDDatabaseData* FDatabaseData = nullptr;
  // Opened over a table object someone else holds (a new index being filled): never freed here.
  bool FBorrowedTable = false;
  std::unique_ptr<TNRDRecordBitmap> FOwnBitmap;
  std::unique_ptr<TNRDExpression> FOwnFilter;
};

}  // namespace nrd
