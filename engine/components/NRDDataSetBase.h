// The data set: states, navigation, editing, bookmarks, filters, locate and lookup over one active
// record buffer, for a concrete data set that supplies the record hooks.
// Requires: the concrete class's hooks (InternalOpen .. LocateRecord); one thread.
// Owns: the active, old-value and temporary record buffers (through the hooks), the fields it made
// and its definitions. Does not own: fields made by the caller, data sources, the master.
// Guarantees: a failed post or edit leaves the state as it was; Cancel returns to the record the
// insert started from; misuse (wrong state, unknown names) raises EDatabaseError.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/foundation/NRDStreams.h"
#include "engine/components/NRDDataSource.h"
#include "engine/components/NRDField.h"
#include "engine/components/NRDFieldDefs.h"
#include "engine/components/NRDIndexDefs.h"

namespace nrd {

// ----- the data set -----------------------------------------------------------------------------------------

enum TDataSetState : std::uint8_t {
  dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields, dsFilter, dsNewValue, dsOldValue,
  dsCurValue, dsBlockRead, dsInternalCalc, dsOpening
};

enum TGetMode : std::uint8_t { gmCurrent, gmNext, gmPrior };
enum TGetResult : std::uint8_t { grOK, grBOF, grEOF, grError };

enum TLocateOption : std::uint8_t { loCaseInsensitive = 1, loPartialKey = 2 };
using TLocateOptions = std::uint8_t;
enum TFilterOption : std::uint8_t { foCaseInsensitive = 1, foNoPartialCompare = 2 };
using TFilterOptions = std::uint8_t;

using TBookmark = std::vector<std::uint8_t>;  // empty: no bookmark
using TDataSetNotifyEvent = std::function<void(TDataSet&)>;

// A data set's live count, for tests that check nothing is left behind.
std::int64_t LiveDataSetCount();

class TDataSet : public TComponent {
 public:
  explicit TDataSet(TComponent* owner = nullptr);
  ~TDataSet() override;

  // ----- state -----
  bool Active() const { return FState != dsInactive; }
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState State() const { return FState; }
  bool Bof() const { return FBof; }
  bool Eof() const { return FEof; }
  bool IsEmpty() const;
  bool Modified() const { return FModified; }
  bool CanModify() const { return Active() && !FReadOnly; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value) { FReadOnly = value; }

  // ----- fields -----
  TFieldDefs& FieldDefs() { return FFieldDefs; }
  TIndexDefs& IndexDefs() { return FIndexDefs; }
  std::int32_t FieldCount() const { return static_cast<std::int32_t>(FFields.size()); }
  TField& Fields(std::int32_t i) const { return *FFields.at(static_cast<std::size_t>(i)); }
  // Case-insensitive; null when none.
  TField* FindField(std::string_view name) const;
  // Raises "Field '%s' not found".
  TField& FieldByName(std::string_view name) const;
  // The values of several fields (';'-separated): one field gives its value, several an array in
  // a vector.
  std::vector<TVariantValue> FieldValues(std::string_view fieldNames) const;

  // ----- navigation -----
  void First();
  void Last();
  void Next();
  void Prior();
  // Moves by `distance` records; returns the number moved.
  std::int32_t MoveBy(std::int32_t distance);
  virtual std::int64_t RecordCount();
  virtual std::int64_t RecNo();
  virtual void SetRecNo(std::int64_t value);
  void Refresh();
  void Resync();

  // ----- editing -----
  void Edit();
  void Insert();
  void Append();
  void Post();
  void Cancel();
  void Delete();
  void CheckBrowseMode();
  // Insert/append a record with these values in field order, then post.
  void InsertRecord(const std::vector<TVariantValue>& values);
  void AppendRecord(const std::vector<TVariantValue>& values);

  // ----- bookmarks -----
  TBookmark GetBookmark();
  void GotoBookmark(const TBookmark& bookmark);
  virtual bool BookmarkValid(const TBookmark& bookmark);
  // -1, 0 or 1 in the data set's order; a missing bookmark sorts after a present one.
  virtual std::int32_t CompareBookmarks(const TBookmark& b1, const TBookmark& b2);

  // ----- filters -----
  const std::string& Filter() const { return FFilterText; }
  void SetFilter(const std::string& value);
  bool Filtered() const { return FFiltered; }
  void SetFiltered(bool value);
  TFilterOptions FilterOptions() const { return FFilterOptions; }
  void SetFilterOptions(TFilterOptions value);
  using TFilterRecordEvent = std::function<void(TDataSet&, bool& accept)>;
  void SetOnFilterRecord(TFilterRecordEvent handler);
  bool FindFirst() { return FindRecord(true, true); }
  bool FindLast() { return FindRecord(true, false); }
  bool FindNext() { return FindRecord(false, true); }
  bool FindPrior() { return FindRecord(false, false); }

  // ----- searching -----
  bool Locate(std::string_view keyFields, const std::vector<TVariantValue>& keyValues, TLocateOptions options);
  // The value of ResultFields of the first record with these keys, or null; does not move.
  TVariantValue Lookup(std::string_view keyFields, const std::vector<TVariantValue>& keyValues,
                       std::string_view resultFields);

  // ----- controls -----
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return FDisableCount > 0; }

  // ----- master / detail -----
  TDataSource* MasterSource() const { return FMasterLink.DataSource(); }
  void SetMasterSource(TDataSource* value) { FMasterLink.SetDataSource(value); }
  void SetMasterFields(const std::string& value) { FMasterLink.SetFieldNames(value); }
  const std::string& MasterFields() const { return FMasterLink.FieldNames(); }
  TMasterDataLink& MasterLink() { return FMasterLink; }
  // The detail's fields matched, in order, with MasterFields.
  const std::string& DetailFields() const { return FDetailFields; }
  void SetDetailFields(const std::string& value) { FDetailFields = value; }

  // ----- BLOBs -----
  // A stream over a BLOB field of the current record; the caller frees it. Writing needs an
  // editing state.
  virtual std::unique_ptr<TNRDStream> CreateBlobStream(TField& field, TBlobStreamMode mode) = 0;

  // ----- events -----
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeInsert, AfterInsert, BeforeEdit,
      AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel, BeforeDelete, AfterDelete, BeforeScroll,
      AfterScroll, BeforeRefresh, AfterRefresh, OnNewRecord, OnCalcFields;

  // ----- for fields and subclasses -----
  // The record buffer of the current state (active, filter, calculated-fields or old value), or
  // null (no record).
  void* ActiveRecordBuffer() const;
  virtual void GetFieldValue(const TField& field, TNRDVariant& value) const;
  virtual void SetFieldValue(TField& field, TNRDVariant& value);
  void DataEvent(TDataEvent event, TField* field);
  // Called by the master link.
  virtual void MasterChanged();

 protected:
  // The concrete data set's hooks. Record buffers are AllocRecordBuffer's, freed by
  // FreeRecordBuffer; the bookmark of a buffer is read and written through the bookmark hooks.
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual void InternalInitFieldDefs() = 0;
  virtual void* AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(void*& buffer) = 0;
  virtual std::int32_t RecordBufferSize() const = 0;
  // Reads the next, prior or current record into `buffer`.
  virtual TGetResult GetRecord(void* buffer, TGetMode mode) = 0;
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalSetToRecord(const void* buffer) = 0;
  virtual void InternalGotoBookmark(const TBookmark& bookmark) = 0;
  virtual TBookmark GetBookmarkData(const void* buffer) const = 0;
  virtual std::uint8_t GetBookmarkFlag(const void* buffer) const = 0;  // 0 current, 3 inserted
  virtual void SetBookmarkFlag(void* buffer, std::uint8_t flag) = 0;
  virtual void InternalInitRecord(void* buffer) = 0;
  virtual void InternalInsert() = 0;
  virtual void InternalEdit() = 0;
  virtual void InternalPost() = 0;
  virtual void InternalCancel() = 0;
  virtual void InternalDelete() = 0;
  virtual void InternalRefresh() {}
  virtual void InternalHandleException();
  virtual void ReadFieldValue(const TField& field, const void* buffer, TNRDVariant& value) const = 0;
  virtual void WriteFieldValue(TField& field, TNRDVariant& value, void* buffer) = 0;
  virtual void ActivateFilters() = 0;
  virtual void DeactivateFilters() = 0;
  // Positions the concrete cursor on the first matching record; the buffer receives it.
  virtual bool LocateRecord(const std::vector<std::string>& keyFields, const std::vector<TVariantValue>& keyValues,
                            TLocateOptions options, void* buffer) = 0;
  virtual void OnFieldsCreated() {}

  // Runs the filter handler for the record in `buffer` (true when there is none).
  bool FilterRecordBuffer(void* buffer);
  bool HasFilterHandler() const { return static_cast<bool>(FOnFilterRecord); }
  // True when records must pass FilterRecordBuffer: a filter handler, or a master to follow.
  bool NeedsRecordFilter() const { return HasFilterHandler() || (MasterSource() != nullptr && !FDetailFields.empty()); }
  void SetStateTemp(TDataSetState state, void* buffer, TDataSetState& old, void*& oldBuffer);
  void RestoreState(TDataSetState old, void* oldBuffer);
  void CreateFields();
  void DestroyFields();
  void CalculateFields(void* buffer);
  void ClearActive();
  // First and Last: move to one end and make its record the active one.
  void MoveToEnd(bool last);
  // Re-reads the current record of the cursor into the active buffer; false when none.
  bool ReadCurrent();
  void* ActiveBuffer() const { return FActiveBuffer; }
  void* OldValueBuffer() const { return FOldBuffer; }
  void DoAfterScroll();
  void DoBeforeScroll();
  void CheckActive() const;
  void CheckInactive() const;
  void SetState(TDataSetState value);
  bool FRecordPresent = false;  // the active buffer holds a record
  // The Filter text applies: Filtered, or a FindFirst/FindNext search is running.
  bool FilterTextApplies() const { return FFiltered || FFindingRecord > 0; }

 private:
  friend class TField;
  bool FindRecord(bool restart, bool goForward);
  void DoInsert(bool append);
  void CheckRequiredFields();
  void OpenCursor();
  void CloseCursor();
  TDataSetState FState = dsInactive;
  TFieldDefs FFieldDefs;
  TIndexDefs FIndexDefs;
  std::vector<TField*> FFields;           // in field order
  std::vector<std::unique_ptr<TField>> FOwnedFields;
  void* FActiveBuffer = nullptr;
  void* FOldBuffer = nullptr;
  void* FTempBuffer = nullptr;
  void* FStateBuffer = nullptr;  // the buffer of a temporary state (filter, calc fields)
  TBookmark FInsertReturn;        // where Cancel returns after an insert
  bool FBof = true;
  bool FEof = true;
  bool FModified = false;
  bool FReadOnly = false;
  std::string FFilterText;
  bool FFiltered = false;
  TFilterOptions FFilterOptions = 0;
  TFilterRecordEvent FOnFilterRecord;
  std::int32_t FDisableCount = 0;
  std::int32_t FFindingRecord = 0;
  bool FPendingChange = false;
  std::vector<TDataSource*> FDataSources;
  TMasterDataLink FMasterLink{this};
  std::string FDetailFields;
  friend class TDataSource;
};

}  // namespace nrd
