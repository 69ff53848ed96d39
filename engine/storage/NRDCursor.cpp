// Cursor base: field access, positions, projection, range and view tests.
#include "engine/storage/NRDCursor.h"

#include <cstring>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/storage/NRDDatabaseData.h"
#include "engine/storage/NRDFieldManager.h"
#include "engine/storage/NRDRecordBitmap.h"

namespace nrd {

namespace {

constexpr const char* kInvalidFieldNo = "Invalid field number - FieldNo = %d, FieldCount = %d";

void FreeEngineBuffer(void*& buffer) {
  if (buffer == nullptr) return;
  try {
    GlobalMemoryManager().FreeAndNillMem(buffer);
  } catch (...) {
    buffer = nullptr;  // a destructor never throws; the block is freed or was never ours
  }
}

}  // namespace

TNRDCursor::TNRDCursor() = default;

TNRDCursor::~TNRDCursor() {
  FreeEngineBuffer(FCurrentRecordBuffer);
  FreeEngineBuffer(FDistinctRecordBuffer);
  FreeEngineBuffer(FEditRecordBuffer);
  FreeEngineBuffer(FKeyBuffer);
  FreeEngineBuffer(FRangeStartBuffer);
  FreeEngineBuffer(FRangeEndBuffer);
}

void TNRDCursor::NotOverridden(const char* method) const {
  throw ENRDException(30339, "The method '%s' not overrided in class '%s'", {std::string(method), std::string(ClassName())});
}

// ----- the local cursor's slots ------------------------------------------------------------------------
void TNRDCursor::CreateTable(TNRDFieldDefs&, TNRDIndexDefs&, TNRDConstraintDefs&) { NotOverridden("CreateTable"); }
void TNRDCursor::DeleteTable() { NotOverridden("DeleteTable"); }
void TNRDCursor::EmptyTable() { NotOverridden("EmptyTable"); }
void TNRDCursor::RenameTable(const std::string&) { NotOverridden("RenameTable"); }
void TNRDCursor::InternalInitFieldDefs() { NotOverridden("InternalInitFieldDefs"); }
void TNRDCursor::OpenTableByFieldDefs(TNRDFieldDefs&, TNRDIndexDefs&, TNRDConstraintDefs&) {
  NotOverridden("OpenTableByFieldDefs");
}
void TNRDCursor::CloseTable() { NotOverridden("CloseTable"); }
void TNRDCursor::LockTableData() { NotOverridden("LockTableData"); }
void TNRDCursor::UnlockTableData() { NotOverridden("UnlockTableData"); }
bool TNRDCursor::LockTable(TNRDLockType, std::int32_t, std::int32_t, bool) { NotOverridden("LockTable"); }
bool TNRDCursor::UnlockTable(TNRDLockType, bool) { NotOverridden("UnlockTable"); }
void TNRDCursor::AddIndex(TNRDIndexDef&) { NotOverridden("AddIndex"); }
void TNRDCursor::DeleteIndex(const std::string&) { NotOverridden("DeleteIndex"); }
void TNRDCursor::DeleteAllIndexes() { NotOverridden("DeleteAllIndexes"); }
std::string TNRDCursor::FindOrCreateIndex(const std::vector<std::string>&, const std::vector<std::string>&,
                                          const std::vector<std::string>&, bool&) {
  NotOverridden("FindOrCreateIndex");
}
bool TNRDCursor::IndexExists(const std::vector<std::string>&, const std::vector<std::string>&,
                             const std::vector<std::string>&) {
  NotOverridden("IndexExists");
}
void TNRDCursor::CopyFieldValue(std::int32_t, bool, std::int32_t, TNRDCursor&) { NotOverridden("CopyFieldValue"); }
void TNRDCursor::InternalInitRecord(void*, bool) { NotOverridden("InternalInitRecord"); }
std::int64_t TNRDCursor::GetRecordCount() { NotOverridden("GetRecordCount"); }
TNRDGetRecordResult TNRDCursor::GetRecordBuffer(TNRDGetRecordMode) { NotOverridden("GetRecordBuffer"); }
void TNRDCursor::SetRecNo(std::int64_t) { NotOverridden("SetRecNo"); }
std::int64_t TNRDCursor::GetRecNo() { NotOverridden("GetRecNo"); }
std::int32_t TNRDCursor::CompareRecordsOrder(const TNRDPageItemID&, const TNRDPageItemID&) {
  NotOverridden("CompareRecordsOrder");
}
void TNRDCursor::InternalFirst() { NotOverridden("InternalFirst"); }
void TNRDCursor::InternalLast() { NotOverridden("InternalLast"); }
void TNRDCursor::InternalInsert() { NotOverridden("InternalInsert"); }
void TNRDCursor::InternalEdit() { NotOverridden("InternalEdit"); }
void TNRDCursor::InternalCancel(bool) { NotOverridden("InternalCancel"); }
void TNRDCursor::InternalPost(bool) { NotOverridden("InternalPost"); }
void TNRDCursor::InternalDelete() { NotOverridden("InternalDelete"); }
bool TNRDCursor::IsRecordLocked() { NotOverridden("IsRecordLocked"); }
void TNRDCursor::ApplyDistinct(const std::vector<std::string>&, const std::vector<std::string>&,
                               const std::vector<std::string>&) {
  NotOverridden("ApplyDistinct");
}
void TNRDCursor::ActivateFilters(const std::string&, bool, bool) { NotOverridden("ActivateFilters"); }
void TNRDCursor::DeactivateFilters() { NotOverridden("DeactivateFilters"); }
bool TNRDCursor::Locate(const std::vector<std::string>&, const std::vector<TVariantValue>&, bool, bool) {
  NotOverridden("Locate");
}
bool TNRDCursor::FindKey(TNRDSearchCondition) { NotOverridden("FindKey"); }
bool TNRDCursor::IsAnyRecordMatchCondition(const std::string&, TNRDDataOperator, const TNRDVariant&) {
  NotOverridden("IsAnyRecordMatchCondition");
}
TNRDStream* TNRDCursor::InternalCreateBlobStream(bool, bool, std::int32_t, TNRDBLOBOpenMode, bool) {
  NotOverridden("InternalCreateBlobStream");
}
void TNRDCursor::InternalCloseBLOB(std::int32_t) { NotOverridden("InternalCloseBLOB"); }
void TNRDCursor::ClearBLOBStreams(bool) { NotOverridden("ClearBLOBStreams"); }
std::int64_t TNRDCursor::LastAutoincValue(std::int32_t) { NotOverridden("LastAutoincValue"); }
void TNRDCursor::BeginBatchUpdate() { NotOverridden("BeginBatchUpdate"); }
void TNRDCursor::EndBatchUpdate() { NotOverridden("EndBatchUpdate"); }
void TNRDCursor::CancelBatchUpdate() { NotOverridden("CancelBatchUpdate"); }
bool TNRDCursor::CheckConstraints(bool) { NotOverridden("CheckConstraints"); }

// ----- slots of the base ----------------------------------------------------------------------------------
void TNRDCursor::RenameField(const std::string& fieldName, const std::string& newFieldName) {
  TNRDFieldDef* field = FFieldDefs.GetFieldDefByName(fieldName);
  if (field == nullptr) throw ENRDException(30345, "Field '%s' not found", {fieldName});
  if (FFieldDefs.GetDefNumberByName(newFieldName) >= 0)
    throw ENRDException(30346, "Cannot rename field '%s'. Field '%s' already exists", {fieldName, newFieldName});
  field->FName = CutShortName(newFieldName);
}

void TNRDCursor::FreeRecordBuffer(void*& buffer) {
  if (buffer != nullptr) GlobalMemoryManager().FreeAndNillMem(buffer);
}

// ----- field access ---------------------------------------------------------------------------------------
void* TNRDCursor::EnsureKeyBuffer() {
  if (FKeyBuffer == nullptr) FKeyBuffer = AllocateKeyRecordBuffer();
  return FKeyBuffer;
}

std::int32_t TNRDCursor::SessionID() const { return FSession != nullptr ? FSession->FSessionID : -1; }

bool TNRDCursor::GetFieldData(std::int32_t fieldNo, void* buffer, const void* recordBuffer) const {
  if (fieldNo < 0 || fieldNo >= FVisibleFieldDefs.GetCount())
    throw ENRDException(10005, kInvalidFieldNo, {fieldNo, FVisibleFieldDefs.GetCount()});
  return GetFieldDataFromBuffer(FVisibleFieldDefs.GetFieldDef(fieldNo)->FFieldNoReference, FFieldDefs, buffer,
                                recordBuffer);
}

void TNRDCursor::SetFieldData(std::int32_t fieldNo, const void* buffer, void* recordBuffer) const {
  if (fieldNo < 0 || fieldNo >= FVisibleFieldDefs.GetCount())
    throw ENRDException(10006, kInvalidFieldNo, {fieldNo, FVisibleFieldDefs.GetCount()});
  SetFieldDataToBuffer(FVisibleFieldDefs.GetFieldDef(fieldNo)->FFieldNoReference, FFieldDefs, buffer, recordBuffer);
}

const TNRDFieldDef& TNRDCursor::VisibleOrTableField(std::int32_t fieldNo, bool directAccess, int badCodeDirect,
                                                   int badCodeVisible, std::int32_t& tableFieldNo) const {
  const TNRDFieldDefs& defs = directAccess ? FFieldDefs : FVisibleFieldDefs;
  if (fieldNo < 0 || fieldNo >= defs.GetCount())
    throw ENRDException(directAccess ? badCodeDirect : badCodeVisible, kInvalidFieldNo, {fieldNo, defs.GetCount()});
  tableFieldNo = directAccess ? fieldNo : defs.GetFieldDef(fieldNo)->FFieldNoReference;
  if (tableFieldNo < 0 || tableFieldNo >= FFieldDefs.GetCount())
    throw ENRDException(directAccess ? badCodeDirect : badCodeVisible, kInvalidFieldNo,
                        {tableFieldNo, FFieldDefs.GetCount()});
  return *FFieldDefs.GetFieldDef(tableFieldNo);
}

void TNRDCursor::GetFieldValue(TNRDVariant& value, std::int32_t fieldNo, bool directAccess) const {
  std::int32_t tableFieldNo = 0;
  const TNRDFieldDef& f = VisibleOrTableField(fieldNo, directAccess, 20191, 10317, tableFieldNo);
  if (FCurrentRecordBuffer == nullptr) throw ENRDException(10003, "Nil pointer occured");
  if (IsFieldNull(FCurrentRecordBuffer, tableFieldNo)) {
    value.Clear(bftUnknown);
    return;
  }
  value.SetData(static_cast<const std::uint8_t*>(FCurrentRecordBuffer) + f.FMemoryOffset, f.FMemoryDataSize,
                f.FBaseFieldType, true);
}

void TNRDCursor::SetFieldValue(TNRDVariant& value, std::int32_t fieldNo, bool directAccess, void* recordBuffer) {
  if (recordBuffer == nullptr) recordBuffer = FCurrentRecordBuffer;
  std::int32_t tableFieldNo = 0;
  const TNRDFieldDef& f = VisibleOrTableField(fieldNo, directAccess, 20192, 20193, tableFieldNo);
  if (recordBuffer == nullptr) throw ENRDException(10003, "Nil pointer occured");
  if (value.IsNull()) {
    SetFieldNull(recordBuffer, tableFieldNo, true);
    return;
  }
  value.Cast(f.FBaseFieldType);
  // Refused before anything changes, so a failed set leaves the field as it was.
  if (value.DataSize() > f.FMemoryDataSize) throw ENRDException(20056, "Buffer size exceeded");
  SetFieldNull(recordBuffer, tableFieldNo, false);
  auto* field = static_cast<std::uint8_t*>(recordBuffer) + f.FMemoryOffset;
  // The field starts from zeros: an empty text must not bring the old value back.
  std::memset(field, 0, static_cast<std::size_t>(f.FMemoryDataSize));
  value.CopyDataToAddress(field, f.FMemoryDataSize);
}

void TNRDCursor::ClearStringFieldsGarbage(void* recordBuffer) const {
  auto* rec = static_cast<std::uint8_t*>(recordBuffer);
  for (std::int32_t i = 0; i < FFieldDefs.GetCount(); ++i) {
    const TNRDFieldDef* f = FFieldDefs.GetFieldDef(i);
    const auto t = f->FBaseFieldType;
    const bool narrow = t == bftChar || t == bftVarchar;
    const bool wide = t == bftWideChar || t == bftWideVarchar;
    if (!narrow && !wide) continue;
    std::uint8_t* p = rec + f->FMemoryOffset;
    const std::int32_t size = f->FMemoryDataSize;
    if (IsFieldNull(recordBuffer, i)) {
      std::memset(p, 0, static_cast<std::size_t>(size));
      continue;
    }
    if (narrow) {
      for (std::int32_t k = 0; k < size; ++k)
        if (p[k] == 0) {
          std::memset(p + k, 0, static_cast<std::size_t>(size - k));
          break;
        }
    } else {
      for (std::int32_t k = 0; k + 1 < size; k += 2)
        if (p[k] == 0 && p[k + 1] == 0) {
          std::memset(p + k, 0, static_cast<std::size_t>(size - k));
          break;
        }
    }
  }
}

void* TNRDCursor::AllocateRecordBuffer() const { return GlobalMemoryManager().AllocMem(FRecordBufferSize); }

void* TNRDCursor::AllocateKeyRecordBuffer() const { return GlobalMemoryManager().GetMem(FKeyBufferSize); }

void TNRDCursor::InternalInitKeyBuffer(void* recordBuffer) {
  std::memset(recordBuffer, 0, static_cast<std::size_t>(FKeyBufferSize));
  InternalInitRecord(recordBuffer, false);
}

std::unique_ptr<TNRDCursorPosition> TNRDCursor::SavePosition() const {
  auto pos = std::make_unique<TNRDCursorPosition>();
  pos->FirstPosition = FirstPosition;
  pos->LastPosition = LastPosition;
  pos->CurrentRecordID = CurrentRecordID;
  return pos;
}

void TNRDCursor::RestorePosition(const TNRDCursorPosition& pos) {
  FirstPosition = pos.FirstPosition;
  LastPosition = pos.LastPosition;
  CurrentRecordID = pos.CurrentRecordID;
}

void TNRDCursor::SetIndexName(const std::string& value) {
  FIndexName = value;
  const TNRDIndexDef* def = FIndexDefs.GetIndexDefByName(value);
  FIndexID = def != nullptr ? def->FObjectID : -1;
}

void TNRDCursor::ApplyProjection(const std::vector<std::string>& fieldNamesList, const std::vector<std::string>& aliasList) {
  if (fieldNamesList.size() != aliasList.size())
    throw ENRDException(10321, "Error - different list lengths. L1 = %d, L2 = %d", {fieldNamesList.size(), aliasList.size()});
  if (fieldNamesList.empty()) throw ENRDException(10322, "No fields were specified while setting projection");
  FSettingProjection = true;
  try {
    FVisibleFieldDefs.Clear();
    for (std::size_t i = 0; i < fieldNamesList.size(); ++i) {
      const std::int32_t tableNo = FFieldDefs.GetDefNumberByName(fieldNamesList[i]);
      if (tableNo < 0) throw ENRDException(10323, "Cannot find field %s", {fieldNamesList[i]});
      std::string name = FFieldDefs.GetFieldDef(tableNo)->FName;
      const std::string& alias = aliasList[i];
      if (!alias.empty()) {
        name = alias;
        // The alias itself when free, else the first free alias_1, alias_2, ... among as many
        // tries as there are names (after that the last one tried).
        for (std::size_t k = 1; FVisibleFieldDefs.GetDefNumberByName(name) >= 0 && k <= fieldNamesList.size(); ++k)
          name = alias + "_" + std::to_string(k);
      }
      TNRDFieldDef* visible = FVisibleFieldDefs.AddCreated();
      visible->Assign(*FFieldDefs.GetFieldDef(tableNo));
      visible->FName = CutShortName(name);
      visible->FFieldNoReference = tableNo;
    }
  } catch (...) {
    FSettingProjection = false;
    throw;
  }
  FSettingProjection = false;
}

namespace {
// An owned copy of a range bound (null for an open bound).
void* CopyRangeBuffer(const void* source, std::int32_t size) {
  if (source == nullptr) return nullptr;
  if (size <= 0) throw ENRDException(10016, "Nil pointer occured");
  void* copy = GlobalMemoryManager().GetMem(size);
  std::memcpy(copy, source, static_cast<std::size_t>(size));
  return copy;
}
}  // namespace

std::int32_t TNRDCursor::RangeBufferSize() const { return FKeyBufferSize > 0 ? FKeyBufferSize : FRecordBufferSize; }

void TNRDCursor::ApplyRange(const void* startBuffer, const void* endBuffer, std::int32_t startKeyFieldCount,
                            std::int32_t endKeyFieldCount, bool startExclusive, bool endExclusive) {
  // Copied before the old bounds go: a caller may pass the cursor's own bounds back.
  void* start = CopyRangeBuffer(startBuffer, RangeBufferSize());
  void* end = nullptr;
  try {
    end = CopyRangeBuffer(endBuffer, RangeBufferSize());
  } catch (...) {
    FreeEngineBuffer(start);
    throw;
  }
  FreeEngineBuffer(FRangeStartBuffer);
  FreeEngineBuffer(FRangeEndBuffer);
  FRangeStartBuffer = start;
  FRangeEndBuffer = end;
  FRangeStartKeyFieldCount = startKeyFieldCount;
  FRangeEndKeyFieldCount = endKeyFieldCount;
  FRangeStartExclusive = startExclusive;
  FRangeEndExclusive = endExclusive;
  DisableRecordBitmap();
}

void TNRDCursor::ResetRange() {
  FreeEngineBuffer(FRangeStartBuffer);
  FreeEngineBuffer(FRangeEndBuffer);
  DisableRecordBitmap();
}

void TNRDCursor::DisableRecordBitmap() {
  if (FRecordBitmap != nullptr) FRecordBitmap->Clear();
}

void TNRDCursor::ReplaceDistinctRecordBuffer(void* buffer) {
  if (FDistinctRecordBuffer != nullptr && FDistinctRecordBuffer != buffer) GlobalMemoryManager().FreeMem(FDistinctRecordBuffer);
  FDistinctRecordBuffer = buffer;
}

void TNRDCursor::SetSQLFilter(TNRDExpression* filterExpr, void* parentQueryAO, TNRDCursor* parentCursor) {
  FSQLFilterExpression = filterExpr;
  if (filterExpr != nullptr) filterExpr->AssignCursor(this, parentQueryAO, parentCursor);
}

}  // namespace nrd
