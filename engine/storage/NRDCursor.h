// The engine's cursor base: one open table for one session, with a current record, a current
// index, a visible field list (projection) and a view restricted by a key range, filters and
// DISTINCT. The data-set components and the SQL operators work only through it. The local cursor
// implements the 48 operations; this base implements field access, positions, projection, range
// and the view tests that every cursor shares.
//
// Field numbers are visible field numbers (FVisibleFieldDefs) unless DirectAccess is set, in which
// case they are table field numbers (FFieldDefs). Record buffers come from the engine memory
// manager. Not locked: the local cursor wraps its work in the database object's lock.
//
// Contract of TNRDCursor:
// - Requires: a session and a table name (SetSession, SetTableName, and the open options) before a
//   table operation or an open; one thread at a time.
// - Owns: its record, edit, DISTINCT, key and range buffers, the copies of the table's field, index
//   and constraint definitions, and (through the local cursor) its BLOB streams, record bitmap,
//   filter expression and index position cache. A caller may fill the buffers it is handed, never
//   free or keep them past a close; a buffer lent through TLentBuffer stays the caller's.
// - Does not own: the session, the data set above it (OwnerDataSet), the SQL filter expression.
// - Guarantees: the position (a record, before the first, after the last) changes only through
//   the named moves, so the two flags and the record ID never disagree; the record layout is
//   fixed while the cursor is open; a failed record operation leaves its outcome in ErrorCode()
//   and ErrorMessage() instead of raising.
// Its state is not public: the local cursor fills it, the table objects, the search and the
// data sets go through the operations below.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/foundation/NRDCipherPage.h"
#include "engine/foundation/NRDCompression.h"
#include "engine/foundation/NRDTypes.h"
#include "engine/foundation/NRDVariant.h"
#include "engine/storage/NRDExpressionHook.h"
#include "engine/storage/NRDMetadata.h"

namespace nrd {

class TNRDBaseSession;
class TNRDIndexPositionCache;
class TNRDRecordBitmap;
class TNRDStream;
class TNRDIndexPosition;

// A saved cursor position (SavePosition / RestorePosition).
struct TNRDCursorPosition {
  bool FirstPosition = false;
  bool LastPosition = false;
  TNRDPageItemID CurrentRecordID;
};

class TNRDCursor {
 public:
  TNRDCursor();
  virtual ~TNRDCursor();
  TNRDCursor(const TNRDCursor&) = delete;
  TNRDCursor& operator=(const TNRDCursor&) = delete;
  virtual const char* ClassName() const { return "TNRDCursor"; }

  // ----- slots 0-47 (the local cursor's; the base raises 30339 except 11, 12 and 20) -----
  virtual void CreateTable(TNRDFieldDefs& fieldDefs, TNRDIndexDefs& indexDefs, TNRDConstraintDefs& constraintDefs);
  virtual void DeleteTable();
  virtual void EmptyTable();
  virtual void RenameTable(const std::string& newTableName);
  virtual void InternalInitFieldDefs();
  virtual void OpenTableByFieldDefs(TNRDFieldDefs& fieldDefs, TNRDIndexDefs& indexDefs,
                                    TNRDConstraintDefs& constraintDefs);
  virtual void CloseTable();
  virtual void LockTableData();
  virtual void UnlockTableData();
  virtual bool LockTable(TNRDLockType lockType, std::int32_t tryCount, std::int32_t delay, bool allowXIRWAfterSIRW);
  virtual bool UnlockTable(TNRDLockType lockType, bool ignoreIfNoLock);
  // In the cursor's own field definitions: 30345 unknown field, 30346 name taken.
  virtual void RenameField(const std::string& fieldName, const std::string& newFieldName);
  virtual TNRDIndexDefs& GetIndexDefs() { return FIndexDefs; }
  virtual void AddIndex(TNRDIndexDef& indexDef);
  virtual void DeleteIndex(const std::string& name);
  virtual void DeleteAllIndexes();
  virtual std::string FindOrCreateIndex(const std::vector<std::string>& fieldNamesList,
                                        const std::vector<std::string>& ascDescList,
                                        const std::vector<std::string>& caseSensitivityList, bool& isCreated);
  virtual bool IndexExists(const std::vector<std::string>& fieldNamesList, const std::vector<std::string>& ascDescList,
                           const std::vector<std::string>& caseSensitivityList);
  virtual void CopyFieldValue(std::int32_t srcFieldNo, bool directAccess, std::int32_t destFieldNo,
                              TNRDCursor& destCursor);
  virtual void InternalInitRecord(void* recordBuffer, bool insertMode);
  virtual void FreeRecordBuffer(void*& buffer);
  virtual std::int64_t GetRecordCount();
  virtual TNRDGetRecordResult GetRecordBuffer(TNRDGetRecordMode getRecordMode);
  virtual void SetRecNo(std::int64_t value);
  virtual std::int64_t GetRecNo();
  virtual std::int32_t CompareRecordsOrder(const TNRDPageItemID& recordID1, const TNRDPageItemID& recordID2);
  virtual void InternalFirst();
  virtual void InternalLast();
  virtual void InternalInsert();
  virtual void InternalEdit();
  virtual void InternalCancel(bool toInsert);
  virtual void InternalPost(bool toInsert);
  virtual void InternalDelete();
  virtual bool IsRecordLocked();
  virtual void ApplyDistinct(const std::vector<std::string>& fieldNamesList,
                             const std::vector<std::string>& ascDescList,
                             const std::vector<std::string>& caseSensitivityList);
  virtual void ActivateFilters(const std::string& filterText, bool caseInsensitive, bool partialKey);
  virtual void DeactivateFilters();
  virtual bool Locate(const std::vector<std::string>& keyFields, const std::vector<TVariantValue>& keyValues,
                      bool caseInsensitive, bool partialKey);
  virtual bool FindKey(TNRDSearchCondition searchCondition);
  virtual bool IsAnyRecordMatchCondition(const std::string& fieldName, TNRDDataOperator op, const TNRDVariant& value);
  virtual TNRDStream* InternalCreateBlobStream(bool toInsert, bool toEdit, std::int32_t fieldNo,
                                               TNRDBLOBOpenMode openMode, bool canDoGetRecordBuffer);
  virtual void InternalCloseBLOB(std::int32_t fieldNo);
  virtual void ClearBLOBStreams(bool writeOnly);
  virtual std::int64_t LastAutoincValue(std::int32_t fieldNo);
  virtual void BeginBatchUpdate();
  virtual void EndBatchUpdate();
  virtual void CancelBatchUpdate();
  virtual bool CheckConstraints(bool toInsert);

  // ----- shared by every cursor -----
  // 10005 bad number; false for NULL.
  bool GetFieldData(std::int32_t fieldNo, void* buffer, const void* recordBuffer) const;
  // 10006 bad number; an empty text stores NULL.
  void SetFieldData(std::int32_t fieldNo, const void* buffer, void* recordBuffer) const;
  // 20191 (direct) / 10317 bad number. NULL gives a NULL bftUnknown value.
  void GetFieldValue(TNRDVariant& value, std::int32_t fieldNo, bool directAccess) const;
  // 20192 (direct) / 20193 bad number; 20056 when the value is longer than the field. A non-NULL
  // empty text leaves the field zero-filled (no byte of the old value survives).
  void SetFieldValue(TNRDVariant& value, std::int32_t fieldNo, bool directAccess, void* recordBuffer = nullptr);
  void ClearStringFieldsGarbage(void* recordBuffer) const;

  void* AllocateRecordBuffer() const;
  void* AllocateKeyRecordBuffer() const;
  void InternalInitKeyBuffer(void* recordBuffer);

  std::unique_ptr<TNRDCursorPosition> SavePosition() const;
  void RestorePosition(const TNRDCursorPosition& pos);

  const std::string& IndexName() const { return FIndexName; }
  void SetIndexName(const std::string& value);

  // 10321 different lengths, 10322 no names, 10323 unknown field.
  void ApplyProjection(const std::vector<std::string>& fieldNamesList, const std::vector<std::string>& aliasList);

  bool IsIndexApplied() const { return FIndexID != -1; }
  bool IsDistinctApplied() const { return FDistinctFieldCount > 0; }
  bool IsFilterApplied() const {
    return FFilterExpression != nullptr || static_cast<bool>(FilterRecord) || FSQLFilterExpression != nullptr;
  }
  bool IsRangeApplied() const { return FRangeStartBuffer != nullptr || FRangeEndBuffer != nullptr; }
  bool IsViewRestricted() const { return IsFilterApplied() || IsRangeApplied() || IsDistinctApplied(); }

  // The bounds (null: open) are copied (RangeBufferSize bytes each) and owned by the cursor.
  // 10016 when the cursor has no key or record buffer size to copy them with.
  void ApplyRange(const void* startBuffer, const void* endBuffer, std::int32_t startKeyFieldCount, std::int32_t endKeyFieldCount,
                  bool startExclusive, bool endExclusive);
  void ResetRange();
  std::int32_t RangeBufferSize() const;
  void DisableRecordBitmap();
  // Not owned: the SQL layer keeps the expression.
  void SetSQLFilter(TNRDExpression* filterExpr, void* parentQueryAO, TNRDCursor* parentCursor);

  std::int32_t SessionID() const;

  // ----- what the cursor works on: set before a table operation or an open -----
  TNRDBaseSession* Session() const { return FSession; }
  void SetSession(TNRDBaseSession* session) { FSession = session; }
  const std::string& TableName() const { return FTableName; }
  void SetTableName(const std::string& name) { FTableName = name; }
  // A table of the database "MEMORY".
  bool InMemory() const { return FInMemory; }
  void SetInMemory(bool value) { FInMemory = value; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value) { FReadOnly = value; }
  bool Exclusive() const { return FExclusive; }
  void SetExclusive(bool value) { FExclusive = value; }
  // A temporary cursor belongs to a query result: its table lives as long as the cursor.
  bool Temporary() const { return FTemporary; }
  void SetTemporary(bool value) { FTemporary = value; }
  bool DisableTempFiles() const { return FDisableTempFiles; }
  void SetDisableTempFiles(bool value) { FDisableTempFiles = value; }
  // Opened by the repair of a table: damaged records are skipped instead of refused.
  bool IsRepairing() const { return FIsRepairing; }
  void SetRepairing(bool value) { FIsRepairing = value; }
  const TNRDPassword& Password() const { return FPassword; }
  void SetPassword(const TNRDPassword& value) { FPassword = value; }
  bool IsOpen() const { return FIsOpen; }
  bool InBatchUpdate() const { return FBatchUpdate; }
  // A projection is being applied: the next open keeps the visible field list.
  bool SettingProjection() const { return FSettingProjection; }
  void SetSettingProjection(bool value) { FSettingProjection = value; }

  // ----- the table's definitions as the open cursor sees them -----
  const TNRDFieldDefs& FieldDefs() const { return FFieldDefs; }
  // Each a copy of a table field whose FFieldNoReference is the table field number.
  const TNRDFieldDefs& VisibleFieldDefs() const { return FVisibleFieldDefs; }
  const TNRDConstraintDefs& ConstraintDefs() const { return FConstraintDefs; }
  const TNRDIndexDefs& IndexDefs() const { return FIndexDefs; }
  // The object ID of the current index; -1 in physical order.
  std::int32_t IndexID() const { return FIndexID; }

  // ----- the layout of a cursor record buffer (fixed while the cursor is open) -----
  std::int32_t RecordBufferSize() const { return FRecordBufferSize; }
  std::int32_t RecordSize() const { return FRecordSize; }
  std::int32_t FieldValuesOffset() const { return FFieldValuesOffset; }
  std::int32_t CalculatedFieldsOffset() const { return FCalculatedFieldsOffset; }
  // Where the 6-byte record ID kept with a record sits in a record buffer.
  std::int32_t BookmarkOffset() const { return FBookmarkOffset; }
  std::int32_t KeyBufferSize() const { return FKeyBufferSize; }
  std::int32_t KeyOffset() const { return FKeyOffset; }

  // ----- the buffers the cursor owns (null while closed); callers may fill them, never free them -----
  void* CurrentRecordBuffer() const { return FCurrentRecordBuffer; }
  // The current record as it was before editing.
  void* EditRecordBuffer() const { return FEditRecordBuffer; }
  // The key values FindKey searches for, KeyFieldCount() columns of the current index.
  void* KeyBuffer() const { return FKeyBuffer; }
  std::int32_t KeyFieldCount() const { return FKeyFieldCount; }
  void SetKeyFieldCount(std::int32_t count) { FKeyFieldCount = count; }

  // The key buffer, allocated (AllocateKeyRecordBuffer) on first use.
  void* EnsureKeyBuffer();

  // Makes a caller's buffer the cursor's current record, or its record as before editing, for the
  // lifetime of this object, and puts the cursor's own back afterwards (also when an exception
  // passes). The cursor never keeps or frees a lent buffer; nothing may open or close the cursor
  // meanwhile.
  class TLentBuffer {
   public:
    enum TKind : std::uint8_t { lbCurrentRecord, lbEditRecord };
    TLentBuffer(TNRDCursor& cursor, const void* buffer, TKind kind = lbCurrentRecord)
        : FCursor(cursor), FKind(kind), FOwn(Slot() ) {
      Slot() = const_cast<void*>(buffer);
    }
    ~TLentBuffer() { Slot() = FOwn; }
    TLentBuffer(const TLentBuffer&) = delete;
    TLentBuffer& operator=(const TLentBuffer&) = delete;

   private:
    void*& Slot() { return FKind == lbCurrentRecord ? FCursor.FCurrentRecordBuffer : FCursor.FEditRecordBuffer; }
    TNRDCursor& FCursor;
    TKind FKind;
    void* FOwn;
  };

  // ----- the position: on a record, before the first or after the last -----
  const TNRDPageItemID& CurrentRecord() const { return CurrentRecordID; }
  bool IsBeforeFirst() const { return FirstPosition; }
  bool IsAfterLast() const { return LastPosition; }
  void MoveToRecord(const TNRDPageItemID& recordID) {
    CurrentRecordID = recordID;
    FirstPosition = false;
    LastPosition = false;
  }
  void MoveBeforeFirst() {
    FirstPosition = true;
    LastPosition = false;
  }
  void MoveAfterLast() {
    FirstPosition = false;
    LastPosition = true;
  }
  // Names the record without touching the before-first / after-last flags: for a step on that
  // record inside a SavePosition / RestorePosition pair.
  void SetCurrentRecord(const TNRDPageItemID& recordID) { CurrentRecordID = recordID; }
  // As a navigation step left it (both flags may be false on a record).
  void SetPosition(const TNRDPageItemID& recordID, bool beforeFirst, bool afterLast) {
    CurrentRecordID = recordID;
    FirstPosition = beforeFirst;
    LastPosition = afterLast;
  }

  // ----- the data set above the cursor -----
  // The record filter the data set applies to every record of the view (empty: none).
  bool HasRecordFilter() const { return static_cast<bool>(FilterRecord); }
  void SetRecordFilter(std::function<bool(TNRDCursor&)> filter) { FilterRecord = std::move(filter); }
  // The data set that owns the cursor (opaque here), or null.
  void* OwnerDataSet() const { return Dataset; }
  void SetOwnerDataSet(void* dataSet) { Dataset = dataSet; }

  // ----- outcome of the last record operation (0, or -1..-13 as the data set reports them) -----
  std::int32_t ErrorCode() const { return FErrorCode; }
  const std::string& ErrorMessage() const { return FErrorMessage; }
  void ClearError() {
    FErrorCode = 0;
    FErrorMessage.clear();
  }

  // ----- what the table object and the search keep for the cursor -----
  // Kept in physical order although an index is set (a DISTINCT view over a temporary index).
  bool PhysicalOrder() const { return FPhysicalOrder; }
  std::int32_t DistinctFieldCount() const { return FDistinctFieldCount; }
  // During a DISTINCT step: the record whose key closes the current group (null otherwise).
  void* DistinctRecordBuffer() const { return FDistinctRecordBuffer; }
  // Takes `buffer` (engine memory, or null) as the DISTINCT group record, freeing the one before.
  void ReplaceDistinctRecordBuffer(void* buffer);
  // The view's records by bitmap number, kept by the table object (null: not used).
  TNRDRecordBitmap* RecordBitmap() const { return FRecordBitmap; }
  TNRDIndexPositionCache* IndexPositionCache() const { return FIndexPositionCache; }
  // The filter text's compiled expression (the local cursor's) and the SQL layer's filter.
  TNRDExpression* FilterExpression() const { return FFilterExpression; }
  TNRDExpression* SQLFilterExpression() const { return FSQLFilterExpression; }
  // The range bounds (null: open), as ApplyRange copied them.
  const void* RangeStartBuffer() const { return FRangeStartBuffer; }
  const void* RangeEndBuffer() const { return FRangeEndBuffer; }
  bool RangeStartExclusive() const { return FRangeStartExclusive; }
  bool RangeEndExclusive() const { return FRangeEndExclusive; }
  std::int32_t RangeStartKeyFieldCount() const { return FRangeStartKeyFieldCount; }
  std::int32_t RangeEndKeyFieldCount() const { return FRangeEndKeyFieldCount; }
  // Runs the data set's record filter on the current record buffer (requires HasRecordFilter()).
  bool AcceptedByRecordFilter() { return FilterRecord(*this); }
  // The table object's part of the record layout, set when the cursor opens the table.
  void SetTableRecordLayout(std::int32_t recordSize, std::int32_t fieldValuesOffset) {
    FRecordSize = recordSize;
    FFieldValuesOffset = fieldValuesOffset;
  }
  // The last search over this cursor's own view alone (no key, no extra expression, no range or
  // DISTINCT bound) found no index worth using, so the next step of such a search scans on without
  // planning again. Only a hint: a scan in the cursor's order finds the record any plan would.
  bool FullScanHint() const { return FFullScanHint; }
  void SetFullScanHint(bool value) { FFullScanHint = value; }
  // The disk table holds a table lock (ltIS, or ltX when exclusive) for this cursor's open.
  bool TableLockedByCursor() const { return FTableLockedByCursor; }
  void SetTableLockedByCursor(bool value) { FTableLockedByCursor = value; }

 protected:
  // The state below is the cursor's own: the local cursor (and a test's stand-in) fill it; every
  // other class goes through the operations above.
  bool FSettingProjection = false;
  std::string FTableName;
  std::string FIndexName;
  std::int32_t FIndexID = -1;
  bool FReadOnly = false;
  bool FExclusive = false;
  bool FInMemory = false;
  bool FTemporary = false;
  TNRDBaseSession* FSession = nullptr;
  bool FIsOpen = false;
  bool FPhysicalOrder = false;
  TNRDIndexPosition* FCurrentRecordPositionInIndex = nullptr;  // the local cursor's
  void* FCurrentRecordBuffer = nullptr;
  void* FDistinctRecordBuffer = nullptr;
  void* FEditRecordBuffer = nullptr;
  TNRDPassword FPassword;
  TNRDConstraintDefs FConstraintDefs;
  TNRDCompression FBLOBCompression;
  TNRDFieldDefs FFieldDefs;
  TNRDFieldDefs FVisibleFieldDefs;
  TNRDIndexDefs FIndexDefs;
  std::vector<TNRDStream*> FBLOBStreams;  // the local cursor's
  TNRDRecordBitmap* FRecordBitmap = nullptr;  // the local cursor's
  TNRDIndexPositionCache* FIndexPositionCache = nullptr;  // the local cursor's
  bool FTableLockedByCursor = false;
  bool FFullScanHint = false;
  bool FBatchUpdate = false;
  bool FDisableTempFiles = false;
  bool FIsRepairing = false;
  std::int32_t FErrorCode = 0;
  std::string FErrorMessage;
  bool FIsDesignMode = false;
  std::int32_t FRecordBufferSize = 0;
  std::int32_t FRecordSize = 0;
  std::int32_t FKeyBufferSize = 0;
  std::int32_t FKeyOffset = 0;
  std::int32_t FKeyFieldCount = 0;
  std::int32_t FFieldValuesOffset = 0;
  std::int32_t FCalculatedFieldsOffset = 0;
  std::int32_t FBookmarkOffset = 0;
  TNRDExpression* FFilterExpression = nullptr;     // the local cursor's
  TNRDExpression* FSQLFilterExpression = nullptr;  // the SQL layer's
  void* FKeyBuffer = nullptr;
  void* FRangeStartBuffer = nullptr;
  void* FRangeEndBuffer = nullptr;
  bool FRangeStartExclusive = false;
  bool FRangeEndExclusive = false;
  std::int32_t FRangeStartKeyFieldCount = 0;
  std::int32_t FRangeEndKeyFieldCount = 0;
  std::int32_t FDistinctFieldCount = 0;
  TNRDPageItemID CurrentRecordID;
  std::int32_t CurrentIndexID = -1;
  bool FirstPosition = true;
  bool LastPosition = false;
  std::function<bool(TNRDCursor&)> FilterRecord;  // the data set's record filter
  void* Dataset = nullptr;

  [[noreturn]] void NotOverridden(const char* method) const;
  const TNRDFieldDef& VisibleOrTableField(std::int32_t fieldNo, bool directAccess, int badCodeDirect,
                                          int badCodeVisible, std::int32_t& tableFieldNo) const;
};

}  // namespace nrd
