// The engine's own data-set layer: what the table, query and database components and their users
// need from a data-access framework, and nothing more. Components with owners, field and index
// definitions, fields with typed accessors and BLOB streams, parameters, data sources and links,
// and the data set with its states, navigation, editing, bookmarks, filters, locate and lookup.
//
// One active record buffer: the data set shows one record at a time (no grid window). The record
// buffer's form belongs to the concrete data set (the engine data set uses the cursor's in-memory
// record); this layer only holds it and hands it to the concrete class's hooks.
//
// Values are the engine's own (TNRDVariant, TVariantValue): dates are day numbers since
// 1899-12-30, times fractions of a day, exactly as the engine keeps them.
// Text forms of values: integers decimal, floats the shortest text that reads back to the same
// value with "." as separator, booleans "True"/"False", dates ISO ("2024-02-29",
// "2024-02-29 13:05:00", "13:05:00"), single-byte text in the configured code page.
//
// Misuse (wrong state, unknown names) raises EDatabaseError with the component's name in front.
// Not thread-safe: a data set and its fields belong to one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/foundation/NRDConverts.h"
#include "engine/foundation/NRDNamedList.h"
#include "engine/foundation/NRDRuntime.h"
#include "engine/foundation/NRDStreams.h"
#include "engine/foundation/NRDVariant.h"

namespace nrd {

// ----- errors -----------------------------------------------------------------------------------------------

class TComponent;

class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

// Raises EDatabaseError; with a named component the message is "Name: message".
[[noreturn]] void DatabaseError(std::string_view message, const TComponent* component = nullptr);
[[noreturn]] void DatabaseErrorFmt(std::string_view format, TVarRecs args, const TComponent* component = nullptr);

// ----- components -------------------------------------------------------------------------------------------

// A named object that may own others: an owner frees what it owns when it is freed. A component
// freed on its own leaves its owner's list.
class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& Name() const { return FName; }
  virtual void SetName(const std::string& value) { FName = value; }
  TComponent* Owner() const { return FOwner; }
  std::int32_t ComponentCount() const { return static_cast<std::int32_t>(FComponents.size()); }
  TComponent* Components(std::int32_t i) const { return FComponents.at(static_cast<std::size_t>(i)); }
  // The owned component of that name (case-insensitive), or null.
  TComponent* FindComponent(std::string_view name) const;

 protected:
  // Called on every owned component when one of them is about to be freed.
  virtual void Notification(TComponent* component);

 private:
  void RemoveComponent(TComponent* component);
  std::string FName;
  TComponent* FOwner = nullptr;
  std::vector<TComponent*> FComponents;
};

// ----- values -----------------------------------------------------------------------------------------------

// Helpers over TVariantValue, the layer's value type: null, bool, int64, double, text, wide text,
// date-time (varDate: days since 1899-12-30) and bytes (varString holding raw bytes).
TVariantValue NullValue();
TVariantValue BoolValue(bool v);
TVariantValue IntValue(std::int64_t v);
TVariantValue FloatValue(double v);
TVariantValue TextValue(std::string_view v);
TVariantValue WideValue(std::u16string_view v);
TVariantValue DateTimeValue(TDateTime v);
inline bool IsNullValue(const TVariantValue& v) { return v.VType == varNull || v.VType == varEmpty; }
// The text form of a value (the rules at the top of this file); "" for null.
std::string ValueToText(const TVariantValue& v);
// Values of the same kind compare by content; null equals only null.
bool SameValue(const TVariantValue& a, const TVariantValue& b);

// The text of numbers and dates used by fields.
std::string FloatToShortestText(double v);
std::string DateToISO(TDateTime v);
std::string TimeToISO(TDateTime v);
std::string DateTimeToISO(TDateTime v);

// ----- definitions ------------------------------------------------------------------------------------------

class TFieldDef {
 public:
  std::string Name;
  TFieldType DataType = ftUnknown;
  std::int32_t Size = 0;
  bool Required = false;
  std::int32_t FieldNo = 0;  // from 1, in list order
};

class TFieldDefs {
 public:
  std::int32_t Count() const { return FItems.Count(); }
  TFieldDef& operator[](std::int32_t i) { return FItems.Item(i); }
  const TFieldDef& operator[](std::int32_t i) const { return FItems.Item(i); }
  TFieldDef& Add(const std::string& name, TFieldType dataType, std::int32_t size = 0, bool required = false);
  TFieldDef& AddFieldDef();
  void Clear() { FItems.Clear(); }
  void Delete(std::int32_t i);
  // Case-insensitive; -1 when none.
  std::int32_t IndexOf(std::string_view name) const { return FItems.IndexOf(name); }
  // Raises "Field '%s' not found".
  TFieldDef& Find(std::string_view name);
  void Assign(const TFieldDefs& source) { FItems.Assign(source.FItems); }

 private:
  TNRDNamedList<TFieldDef, &TFieldDef::Name> FItems;
};

enum TIndexOption : std::uint8_t { ixPrimary = 1, ixUnique = 2, ixDescending = 4, ixCaseInsensitive = 8 };
using TIndexOptions = std::uint8_t;

class TIndexDef {
 public:
  std::string Name;
  std::string Fields;  // ';'-separated
  std::string DescFields;
  std::string CaseInsFields;
  TIndexOptions Options = 0;
};

class TIndexDefs {
 public:
  std::int32_t Count() const { return FItems.Count(); }
  TIndexDef& operator[](std::int32_t i) { return FItems.Item(i); }
  const TIndexDef& operator[](std::int32_t i) const { return FItems.Item(i); }
  TIndexDef& Add(const std::string& name, const std::string& fields, TIndexOptions options);
  TIndexDef& AddIndexDef() { return FItems.AddNew(); }
  void Clear() { FItems.Clear(); }
  // Case-insensitive; -1 when none.
  std::int32_t IndexOf(std::string_view name) const { return FItems.IndexOf(name); }
  // Raises "Index '%s' not found".
  TIndexDef& Find(std::string_view name);
  // The first index whose field list equals `fields` (case-insensitive), else the first whose
  // list starts with them; null when none.
  TIndexDef* FindIndexForFields(std::string_view fields);
  // As FindIndexForFields, but none raises "Index for fields '%s' not found".
  TIndexDef& GetIndexForFields(std::string_view fields);
  void Assign(const TIndexDefs& source) { FItems.Assign(source.FItems); }

 private:
  TNRDNamedList<TIndexDef, &TIndexDef::Name> FItems;
};

// Splits "a;b, c" into field names (';' or ',' separate; blanks around names are dropped).
std::vector<std::string> SplitFieldNames(std::string_view fields);

// ----- parameters -------------------------------------------------------------------------------------------

enum TParamType : std::uint8_t { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

class TParam {
 public:
  std::string Name;
  TFieldType DataType = ftUnknown;
  TParamType ParamType = ptInput;
  TVariantValue Value = NullValue();
  bool IsNull() const { return IsNullValue(Value); }
  void Clear() { Value = NullValue(); }
};

class TParams {
 public:
  std::int32_t Count() const { return FItems.Count(); }
  TParam& operator[](std::int32_t i) { return FItems.Item(i); }
  const TParam& operator[](std::int32_t i) const { return FItems.Item(i); }
  TParam& CreateParam(TFieldType dataType, const std::string& name, TParamType paramType);
  void Clear() { FItems.Clear(); }
  // The first parameter of that name (case-insensitive), or null.
  TParam* FindParam(std::string_view name) { return FItems.Find(name); }
  // Raises "Parameter '%s' not found".
  TParam& ParamByName(std::string_view name);
  // Values of parameters of the same name are carried over from `source`.
  void AssignValues(const TParams& source);
  // Reads ":name" references outside quotes ('...', "..." and `...`) and, with doCreate, adds one
  // parameter per reference in text order (a name used twice gives two parameters). "::" stands
  // for one ":" and makes no parameter. A name is letters, digits, '_' and '$', or any text in
  // double quotes right after the colon (":\"my name\""). Returns the text with each reference
  // replaced by "?" and "::" by ":".
  std::string ParseSQL(std::string_view sql, bool doCreate);

 private:
  TNRDNamedList<TParam, &TParam::Name> FItems;
};

// ----- fields -----------------------------------------------------------------------------------------------

class TDataSet;
class TField;

enum TFieldKind : std::uint8_t { fkData, fkCalculated, fkLookup, fkInternalCalc };
enum TBlobStreamMode : std::uint8_t { bmRead, bmWrite, bmReadWrite };

class TField : public TComponent {
 public:
  explicit TField(TComponent* owner = nullptr);
  ~TField() override;

  const std::string& FieldName() const { return FFieldName; }
  void SetFieldName(const std::string& value) { FFieldName = value; }
  const std::string& DisplayName() const { return FFieldName; }
  TFieldType DataType() const { return FDataType; }
  void SetDataType(TFieldType value) { FDataType = value; }
  std::int32_t Size() const { return FSize; }
  void SetSize(std::int32_t value) { FSize = value; }
  std::int32_t FieldNo() const { return FFieldNo; }  // from 1; 0 for calculated and lookup fields
  TFieldKind FieldKind() const { return FFieldKind; }
  void SetFieldKind(TFieldKind value) { FFieldKind = value; }
  bool Calculated() const { return FFieldKind == fkCalculated || FFieldKind == fkLookup; }
  bool Required() const { return FRequired; }
  void SetRequired(bool value) { FRequired = value; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value) { FReadOnly = value; }
  TDataSet* DataSet() const { return FDataSet; }
  // Adds the field to the data set's field list (which then frees it with the data set's fields
  // only when the data set made it).
  void SetDataSet(TDataSet* value);
  bool IsBlob() const;
  bool Modified() const { return FModified; }
  void SetModified(bool value) { FModified = value; }

  // Lookup fields: the key fields of this data set, the lookup data set, its key and result field.
  std::string KeyFields;
  TDataSet* LookupDataSet = nullptr;
  std::string LookupKeyFields;
  std::string LookupResultField;

  // Value in the engine's form; null when the data set shows no record.
  void GetValue(TNRDVariant& value) const;
  // Needs an editing state; the value is converted to the field's type.
  void SetValue(TNRDVariant& value);
  bool IsNull() const;
  void Clear();

  std::string AsString() const;
  void SetAsString(std::string_view v);
  std::u16string AsWideString() const;
  void SetAsWideString(std::u16string_view v);
  std::int32_t AsInteger() const;
  void SetAsInteger(std::int32_t v);
  std::int64_t AsLargeInt() const;
  void SetAsLargeInt(std::int64_t v);
  double AsFloat() const;
  void SetAsFloat(double v);
  bool AsBoolean() const;
  void SetAsBoolean(bool v);
  TDateTime AsDateTime() const;
  void SetAsDateTime(TDateTime v);
  // The bytes of a BLOB, bytes or text field.
  std::string AsBytes() const;
  void SetAsBytes(std::string_view v);
  TVariantValue AsVariant() const;
  void SetAsVariant(const TVariantValue& v);
  // Copies the value of another field (types converted; BLOBs through their bytes).
  void Assign(const TField& source);

  // Calculated and lookup fields keep their value here for the current record.
  TNRDVariant FCalcValue{bftUnknown};

 private:
  friend class TDataSet;
  std::string FFieldName;
  TFieldType FDataType = ftUnknown;
  std::int32_t FSize = 0;
  std::int32_t FFieldNo = 0;
  TFieldKind FFieldKind = fkData;
  bool FRequired = false;
  bool FReadOnly = false;
  bool FModified = false;
  TDataSet* FDataSet = nullptr;
};

// The engine storage type that holds a field's value.
TNRDBaseFieldType FieldTypeToBaseType(TFieldType t);
bool IsBlobFieldType(TFieldType t);

// ----- data sources and links -------------------------------------------------------------------------------

enum TDataEvent : std::uint8_t {
  deFieldChange, deRecordChange, deDataSetChange, deDataSetScroll, deLayoutChange, deUpdateRecord,
  deUpdateState, deCheckBrowseMode, dePropertyChange, deFieldListChange, deFocusControl
};

class TDataLink;

class TDataSource : public TComponent {
 public:
  explicit TDataSource(TComponent* owner = nullptr);
  ~TDataSource() override;
  TDataSet* DataSet() const { return FDataSet; }
  void SetDataSet(TDataSet* value);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value);
  std::function<void(TDataSource&, TField*)> OnDataChange;
  std::function<void(TDataSource&)> OnStateChange;

 private:
  friend class TDataSet;
  friend class TDataLink;
  void DataEvent(TDataEvent event, TField* field);
  TDataSet* FDataSet = nullptr;
  bool FEnabled = true;
  std::vector<TDataLink*> FDataLinks;
};

// Follows a data source: told when its data set opens, closes, scrolls or changes.
class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;
  TDataSource* DataSource() const { return FDataSource; }
  // Raises "Circular datalinks are not allowed" when the link's owner data set would follow
  // itself through the source.
  void SetDataSource(TDataSource* value);
  TDataSet* DataSet() const;
  bool Active() const;

 protected:
  friend class TDataSource;
  // The data set this link belongs to (a detail data set), or null for a plain link.
  virtual TDataSet* LinkOwner() const { return nullptr; }
  virtual void ActiveChanged() {}
  virtual void RecordChanged(TField*) {}
  virtual void DataSetChanged() {}
  virtual void DataSetScrolled() {}
  virtual void EditingChanged() {}
  void DataEvent(TDataEvent event, TField* field);

 private:
  TDataSource* FDataSource = nullptr;
};

// The link of a detail data set to its master: on every change of the master record the detail
// is told (TDataSet::MasterChanged).
class TMasterDataLink : public TDataLink {
 public:
  explicit TMasterDataLink(TDataSet* detail) : FDetail(detail) {}
  std::string FieldNames;  // master fields, ';'-separated
  // The master's fields named by FieldNames (raises when one is missing).
  std::vector<TField*> Fields() const;

 protected:
  TDataSet* LinkOwner() const override { return FDetail; }
  void ActiveChanged() override;
  void RecordChanged(TField* field) override;
  void DataSetChanged() override;
  void DataSetScrolled() override;

 private:
  TDataSet* FDetail;
};

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
  void SetMasterFields(const std::string& value) { FMasterLink.FieldNames = value; }
  const std::string& MasterFields() const { return FMasterLink.FieldNames; }
  TMasterDataLink& MasterLink() { return FMasterLink; }
  // The detail's fields matched, in order, with MasterFields.
  std::string DetailFields;

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
  bool NeedsRecordFilter() const { return HasFilterHandler() || (MasterSource() != nullptr && !DetailFields.empty()); }
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
  friend class TDataSource;
};

}  // namespace nrd
