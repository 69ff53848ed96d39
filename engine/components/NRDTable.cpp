// The table component: cursor creation, index choice, key search, ranges, the master link and
// the structure operations.
#include "engine/components/NRDTable.h"

#include <cstring>

#include "platform/EngineDialogs.h"
#include "engine/components/NRDLocalCursor.h"
#include "engine/components/NRDSession.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDText.h"
#include "engine/foundation/NRDTypesRoutines.h"

namespace nrd {

namespace {

std::string TrimText(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  const auto e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// DB flag bits of the table (beside bit 0, open).
constexpr int kFlagMaintenance = 3;
constexpr int kFlagFieldDefs = 4;
constexpr int kFlagIndexDefs = 5;
constexpr int kFlagRepairOpen = 11;

// Clears a DB flag when it goes out of scope.
class FlagGuard {
 public:
  FlagGuard(TNRDDataSet& ds, int flag) : FDataSet(ds), FFlag(flag) { FDataSet.SetDBFlag(FFlag, true); }
  ~FlagGuard() {
    try {
      FDataSet.SetDBFlag(FFlag, false);
    } catch (...) {
    }
  }
  FlagGuard(const FlagGuard&) = delete;
  FlagGuard& operator=(const FlagGuard&) = delete;

 private:
  TNRDDataSet& FDataSet;
  int FFlag;
};

bool IsStringColumn(TNRDAdvancedFieldType t) {
  return t == aftChar || t == aftString || t == aftWideChar || t == aftWideString || t == aftGuid;
}

bool IsBlobColumn(TNRDAdvancedFieldType t) {
  return t == aftBlob || t == aftGraphic || t == aftMemo || t == aftFormattedMemo || t == aftWideMemo;
}

}  // namespace

TNRDTable::TNRDTable(TComponent* owner) : TNRDDataSet(owner) {}

TNRDTable::~TNRDTable() {
  try {
    Close();
  } catch (...) {
  }
  FreeKeyBuffers();
}

// ----- properties -------------------------------------------------------------------------------------------

void TNRDTable::SetTableName(const std::string& value) {
  if (Active()) DatabaseError("Cannot perform this operation on an open dataset", this);
  FTableName = value;
  FIndexDefsUpToDate = false;
}

void TNRDTable::SetExclusive(bool value) {
  if (Active()) DatabaseError("Cannot perform this operation on an open dataset", this);
  FExclusive = value;
}

void TNRDTable::SetTemporary(bool value) {
  if (Active()) DatabaseError("Cannot perform this operation on an open dataset", this);
  FTemporary = value;
  if (value) SetDatabaseName("TEMP");
}

bool TNRDTable::Exists() {
  if (DatabaseName().empty()) return false;
  try {
    if (Database() != nullptr) return Database()->TableExists(FTableName);
    FlagGuard guard(*this, kFlagMaintenance);
    return Database()->TableExists(FTableName);
  } catch (...) {
    return false;
  }
}

// ----- the cursor -------------------------------------------------------------------------------------------

std::unique_ptr<TNRDLocalCursor> TNRDTable::MakeLocalCursor(bool open) {
  TNRDDatabase* db = Database();
  if (db == nullptr || db->Handle() == nullptr) throw ENRDException(10282, "Nil pointer occured");
  auto c = std::make_unique<TNRDLocalCursor>();
  c->SetSession(db->Handle());
  c->SetTableName(FTableName);
  c->SetExclusive(FExclusive);
  c->SetReadOnly(ReadOnly() || db->ReadOnly());
  c->SetInMemory(InMemory());
  c->SetTemporary(FTemporary);
  c->SetDisableTempFiles(InMemory() ? true : (db->Temporary() ? FDisableTempFiles : db->DisableTempFiles()));
  c->SetRepairing(FIsRepairing);
  if (open) {
    TNRDFieldDefs fields;
    TNRDIndexDefs indexes;
    TNRDConstraintDefs constraints;
    if (FTemporary || InMemory()) PrepareCreateDefs(fields, indexes, constraints);
    c->OpenTableByFieldDefs(fields, indexes, constraints);
    SetReadOnly(c->ReadOnly());
  }
  return c;
}

std::unique_ptr<TNRDCursor> TNRDTable::CreateHandle() {
  if (TrimText(FTableName).empty()) DatabaseError("Missing TableName property", this);
  FIndexDefsUpToDate = false;
  return MakeLocalCursor(true);
}

void TNRDTable::InternalOpen() {
  OpenThroughDatabase();
  try {
    TNRDDataSet::InternalOpen();
    TNRDCursor& c = CheckedCursor();
    for (void*& k : FKeyBuffers) {
      k = c.AllocateKeyRecordBuffer();
      c.InternalInitKeyBuffer(k);
    }
    ReadIndexDefs(c);
    ActivateIndex();
  } catch (...) {
    try {
      InternalClose();
    } catch (...) {
    }
    throw;
  }
}

void TNRDTable::InternalClose() {
  FreeKeyBuffers();
  TNRDDataSet::InternalClose();
  CloseThroughDatabase();
}

void TNRDTable::FreeKeyBuffers() {
  for (void*& k : FKeyBuffers)
    if (k != nullptr) GlobalMemoryManager().FreeMem(k), k = nullptr;
  FKeyBuffer = nullptr;
}

void TNRDTable::InternalInitFieldDefs() {
  TNRDDataSet::InternalInitFieldDefs();
  ReadFieldDefs(CheckedCursor());
}

void TNRDTable::ReadFieldDefs(TNRDCursor& c) {
  if (&c != Cursor()) {
    FieldDefs().Clear();
    EngineFieldDefsToFieldDefs(c.VisibleFieldDefs(), c.ConstraintDefs(), FieldDefs());
  }
  EngineDefsToAdvFieldDefs(c.VisibleFieldDefs(), c.FieldDefs(), c.ConstraintDefs(), FAdvFieldDefs);
  FRestructureFieldDefs.Assign(FAdvFieldDefs);
}

void TNRDTable::ReadIndexDefs(TNRDCursor& c) {
  EngineIndexDefsToAdvIndexDefs(c.GetIndexDefs(), FAdvIndexDefs);
  AdvIndexDefsToIndexDefs(FAdvIndexDefs, IndexDefs());
  FRestructureIndexDefs.Assign(FAdvIndexDefs);
  FIndexDefsUpToDate = true;
}

void TNRDTable::WithCursor(int flag, bool needOpen, const std::function<void(TNRDCursor&)>& work) {
  if (Cursor() != nullptr) {
    work(*Cursor());
    return;
  }
  FlagGuard guard(*this, flag);
  std::unique_ptr<TNRDLocalCursor> c = MakeLocalCursor(needOpen);
  work(*c);
}

void TNRDTable::UpdateFieldDefs() {
  if (Active()) return;
  WithCursor(kFlagFieldDefs, true, [this](TNRDCursor& c) { ReadFieldDefs(c); });
}

void TNRDTable::UpdateIndexDefs() {
  if (Active()) {
    ReadIndexDefs(CheckedCursor());
    return;
  }
  WithCursor(kFlagIndexDefs, true, [this](TNRDCursor& c) {
    ReadFieldDefs(c);
    ReadIndexDefs(c);
  });
}

std::string TNRDTable::ResolveIndexName() {
  if (!FFieldsIndex) return FIndexName;
  if (FIndexName.empty()) return "";
  return IndexDefs().GetIndexForFields(FIndexName).Name;
}

void TNRDTable::ActivateIndex() {
  SwitchToIndex(ResolveIndexName());
  for (void* k : FKeyBuffers)
    if (k != nullptr) CheckedCursor().InternalInitKeyBuffer(k);
  if (FieldCount() > 0) SetLinkRange();
}

void TNRDTable::OnFieldsCreated() {
  TNRDDataSet::OnFieldsCreated();
  SetLinkRange();
}

void TNRDTable::SetIndexName(const std::string& value) {
  if (Active()) CheckBrowseMode();
  if (value == FIndexName && !FFieldsIndex) return;
  ChangeIndex(value, false);
}

void TNRDTable::SetIndexFieldNames(const std::string& value) {
  if (Active()) CheckBrowseMode();
  // An empty list counts as an index name.
  const bool kind = !value.empty();
  if (value == FIndexName && kind == FFieldsIndex) return;
  ChangeIndex(value, kind);
}

// Switches the active index; a failed switch leaves the old index in force.
void TNRDTable::ChangeIndex(const std::string& name, bool fieldsIndex) {
  const std::string oldName = FIndexName;
  const bool oldKind = FFieldsIndex;
  FIndexName = name;
  FFieldsIndex = fieldsIndex;
  if (!Active()) return;
  try {
    ActivateIndex();
  } catch (...) {
    FIndexName = oldName;
    FFieldsIndex = oldKind;
    throw;
  }
  Resync();
}

// ----- index fields -----------------------------------------------------------------------------------------

TField& TNRDTable::GetIndexField(std::int32_t index) {
  if (index < 0 || index >= IndexFieldCount()) DatabaseError("Field index out of range", this);
  const std::int32_t no = IndexFieldMap()[static_cast<std::size_t>(index)];
  for (std::int32_t i = 0; i < FieldCount(); ++i)
    if (Fields(i).FieldNo() == no) return Fields(i);
  const TNRDCursor& c = CheckedCursor();
  const TNRDFieldDef* d = no > 0 ? c.VisibleFieldDefs().GetFieldDef(no - 1) : nullptr;
  DatabaseErrorFmt("Cannot access index field '%s'", {d != nullptr ? d->FName : std::string()}, this);
}

void TNRDTable::SetIndexField(std::int32_t index, const TVariantValue& value) {
  GetIndexField(index).SetAsVariant(value);
}

// ----- key buffers ------------------------------------------------------------------------------------------

std::uint8_t* TNRDTable::KeyHeader(void* buffer) const {
  return static_cast<std::uint8_t*>(buffer) + CheckedCursor().KeyOffset();
}

void TNRDTable::BeginKeyEdit(KeyIndex i, bool clear) {
  PostKey();
  CheckBrowseMode();
  TNRDCursor& c = CheckedCursor();
  FKeyBuffer = FKeyBuffers[i];
  std::memcpy(FKeyBuffers[kiSave], FKeyBuffer, static_cast<std::size_t>(c.KeyBufferSize()));
  if (clear) c.InternalInitKeyBuffer(FKeyBuffer);
  FKeyModified = KeyHeader(FKeyBuffer)[0] != 0;
  SetState(dsSetKey);
  DataEvent(deDataSetChange, nullptr);
}

void TNRDTable::SetKey() { BeginKeyEdit(kiLookup, true); }
void TNRDTable::EditKey() { BeginKeyEdit(kiLookup, false); }
void TNRDTable::SetRangeStart() { BeginKeyEdit(kiRangeStart, true); }
void TNRDTable::EditRangeStart() { BeginKeyEdit(kiRangeStart, false); }
void TNRDTable::SetRangeEnd() { BeginKeyEdit(kiRangeEnd, true); }
void TNRDTable::EditRangeEnd() { BeginKeyEdit(kiRangeEnd, false); }

bool TNRDTable::KeyExclusive() const {
  if (State() != dsSetKey) DatabaseError("Dataset not in edit or insert mode", this);
  return KeyHeader(FKeyBuffer)[1] != 0;
}

void TNRDTable::SetKeyExclusive(bool value) {
  if (State() != dsSetKey) DatabaseError("Dataset not in edit or insert mode", this);
  KeyHeader(FKeyBuffer)[1] = value ? 1 : 0;
}

std::int32_t TNRDTable::KeyFieldCount() const {
  if (State() != dsSetKey) DatabaseError("Dataset not in edit or insert mode", this);
  std::int32_t n;
  std::memcpy(&n, KeyHeader(FKeyBuffer) + 2, 4);
  return n;
}

void TNRDTable::SetKeyFieldCount(std::int32_t value) {
  if (State() != dsSetKey) DatabaseError("Dataset not in edit or insert mode", this);
  std::memcpy(KeyHeader(FKeyBuffer) + 2, &value, 4);
}

void TNRDTable::PostKey() {
  if (State() != dsSetKey) return;
  KeyHeader(FKeyBuffer)[0] = FKeyModified ? 1 : 0;
  FKeyBuffer = nullptr;
  SetState(dsBrowse);
  DataEvent(deDataSetChange, nullptr);
}

void TNRDTable::CancelKey() {
  if (State() != dsSetKey) return;
  std::memcpy(FKeyBuffer, FKeyBuffers[kiSave], static_cast<std::size_t>(CheckedCursor().KeyBufferSize()));
  FKeyBuffer = nullptr;
  SetState(dsBrowse);
  DataEvent(deDataSetChange, nullptr);
}

void TNRDTable::GetFieldValue(const TField& field, TNRDVariant& value) const {
  if (State() == dsSetKey && !field.Calculated() && FKeyBuffer != nullptr) {
    ReadFieldValue(field, FKeyBuffer, value);
    return;
  }
  TNRDDataSet::GetFieldValue(field, value);
}

void TNRDTable::SetFieldValue(TField& field, TNRDVariant& value) {
  if (State() != dsSetKey) {
    TNRDDataSet::SetFieldValue(field, value);
    return;
  }
  bool inIndex = false;
  for (std::int16_t no : IndexFieldMap())
    if (no == field.FieldNo()) inIndex = true;
  if (field.Calculated() || (IndexFieldCount() > 0 && !inIndex))
    throw ENRDException(20019, "Field %s is not in the current index", {field.DisplayName()});
  WriteFieldValue(field, value, FKeyBuffer);
  FKeyModified = true;
  DataEvent(deFieldChange, &field);
}

void TNRDTable::SetKeyFields(KeyIndex i, const std::vector<TVariantValue>& values) {
  TNRDCursor& c = CheckedCursor();
  if (c.IndexID() == -1) DatabaseError("No index currently active", this);
  void* buffer = FKeyBuffers[i];
  c.InternalInitKeyBuffer(buffer);
  void* const oldKey = FKeyBuffer;
  const TDataSetState oldState = State();
  FKeyBuffer = buffer;
  SetState(dsSetKey);
  try {
    for (std::size_t k = 0; k < values.size(); ++k) GetIndexField(static_cast<std::int32_t>(k)).SetAsVariant(values[k]);
  } catch (...) {
    FKeyBuffer = oldKey;
    SetState(oldState);
    throw;
  }
  FKeyBuffer = oldKey;
  SetState(oldState);
  const std::int32_t n = static_cast<std::int32_t>(values.size());
  std::memcpy(KeyHeader(buffer) + 2, &n, 4);
  KeyHeader(buffer)[0] = 1;
}

// ----- search -----------------------------------------------------------------------------------------------

bool TNRDTable::ResyncUnderSharedLock(bool moveFirst) {
  TNRDCursor& c = CheckedCursor();
  // Another process must not change the table between the search and the refill of the record.
  const bool locked = c.LockTable(ltS, 900, 100, true);
  try {
    if (moveFirst) First();
    else if (ReadCurrent()) Resync();
    else Resync();
  } catch (...) {
    if (locked) c.UnlockTable(ltS, false);
    throw;
  }
  if (locked) c.UnlockTable(ltS, false);
  return true;
}

bool TNRDTable::GotoKey() {
  PostKey();
  CheckBrowseMode();
  DoBeforeScroll();
  TNRDCursor& c = CheckedCursor();
  void* lookup = FKeyBuffers[kiLookup];
  std::memcpy(c.EnsureKeyBuffer(), lookup, static_cast<std::size_t>(c.KeyBufferSize()));
  std::int32_t n;
  std::memcpy(&n, KeyHeader(lookup) + 2, 4);
  c.SetKeyFieldCount(n != 0 ? n : IndexFieldCount());
  const auto pos = c.SavePosition();
  const bool found = c.FindKey(scEqual);
  if (!found) {
    c.RestorePosition(*pos);
    return false;
  }
  ResyncUnderSharedLock(false);
  DoAfterScroll();
  return true;
}

void TNRDTable::GotoNearest() {
  PostKey();
  CheckBrowseMode();
  TNRDCursor& c = CheckedCursor();
  void* lookup = FKeyBuffers[kiLookup];
  std::memcpy(c.EnsureKeyBuffer(), lookup, static_cast<std::size_t>(c.KeyBufferSize()));
  std::int32_t n;
  std::memcpy(&n, KeyHeader(lookup) + 2, 4);
  c.SetKeyFieldCount(n != 0 ? n : IndexFieldCount());
  const bool found = c.FindKey(KeyHeader(lookup)[1] != 0 ? scGreater : scGreaterEqual);
  if (!found) {
    Last();
    return;
  }
  ResyncUnderSharedLock(false);
}

bool TNRDTable::FindKey(const std::vector<TVariantValue>& keyValues) {
  CheckBrowseMode();
  SetKeyFields(kiLookup, keyValues);
  return GotoKey();
}

void TNRDTable::FindNearest(const std::vector<TVariantValue>& keyValues) {
  CheckBrowseMode();
  SetKeyFields(kiLookup, keyValues);
  GotoNearest();
}

// ----- ranges -----------------------------------------------------------------------------------------------

bool TNRDTable::SetCursorRange() {
  TNRDCursor& c = CheckedCursor();
  const auto size = static_cast<std::size_t>(c.KeyBufferSize());
  for (KeyIndex i : {kiRangeStart, kiRangeEnd, kiCurRangeStart, kiCurRangeEnd}) c.ClearStringFieldsGarbage(FKeyBuffers[i]);
  if (std::memcmp(FKeyBuffers[kiRangeStart], FKeyBuffers[kiCurRangeStart], size) == 0 &&
      std::memcmp(FKeyBuffers[kiRangeEnd], FKeyBuffers[kiCurRangeEnd], size) == 0)
    return false;
  void* start = FKeyBuffers[kiRangeStart];
  void* end = FKeyBuffers[kiRangeEnd];
  std::int32_t ns, ne;
  std::memcpy(&ns, KeyHeader(start) + 2, 4);
  std::memcpy(&ne, KeyHeader(end) + 2, 4);
  // A bound without a key is open.
  c.ApplyRange(KeyHeader(start)[0] != 0 ? start : nullptr, KeyHeader(end)[0] != 0 ? end : nullptr,
               ns != 0 ? ns : IndexFieldCount(), ne != 0 ? ne : IndexFieldCount(), KeyHeader(start)[1] != 0,
               KeyHeader(end)[1] != 0);
  std::memcpy(FKeyBuffers[kiCurRangeStart], start, size);
  std::memcpy(FKeyBuffers[kiCurRangeEnd], end, size);
  return true;
}

bool TNRDTable::ResetCursorRange() {
  TNRDCursor& c = CheckedCursor();
  if (KeyHeader(FKeyBuffers[kiCurRangeStart])[0] == 0 && KeyHeader(FKeyBuffers[kiCurRangeEnd])[0] == 0) {
    c.ResetRange();
    return false;
  }
  c.InternalInitKeyBuffer(FKeyBuffers[kiCurRangeStart]);
  c.InternalInitKeyBuffer(FKeyBuffers[kiCurRangeEnd]);
  c.ResetRange();
  return true;
}

void TNRDTable::ApplyRange() {
  PostKey();
  CheckBrowseMode();
  if (SetCursorRange()) ResyncUnderSharedLock(true);
}

void TNRDTable::CancelRange() {
  PostKey();
  CheckBrowseMode();
  if (ResetCursorRange()) ResyncUnderSharedLock(false);
}

void TNRDTable::SetRange(const std::vector<TVariantValue>& startValues, const std::vector<TVariantValue>& endValues) {
  PostKey();
  CheckBrowseMode();
  SetKeyFields(kiRangeStart, startValues);
  SetKeyFields(kiRangeEnd, endValues);
  ApplyRange();
}

// ----- master link ------------------------------------------------------------------------------------------

void TNRDTable::SetLinkRange() {
  TDataSource* source = MasterSource();
  if (source == nullptr || source->DataSet() == nullptr || !source->DataSet()->Active() || MasterFields().empty())
    return;
  if (CheckedCursor().IndexID() == -1) return;
  const std::vector<TField*> masters = MasterLink().Fields();
  std::vector<TVariantValue> values;
  for (TField* f : masters) values.push_back(f->AsVariant());
  SetKeyFields(kiRangeStart, values);
  std::memcpy(FKeyBuffers[kiRangeEnd], FKeyBuffers[kiRangeStart], static_cast<std::size_t>(CheckedCursor().KeyBufferSize()));
  SetCursorRange();
}

void TNRDTable::MasterChanged() {
  if (!Active()) return;
  CheckBrowseMode();
  TDataSource* source = MasterSource();
  if (source != nullptr && source->DataSet() != nullptr && source->DataSet()->Active()) {
    SetLinkRange();
    First();
  } else {
    CancelRange();
  }
}

// ----- structure --------------------------------------------------------------------------------------------

void TNRDTable::CheckNotInTransaction(const char* operation, int code) {
  if (Database() != nullptr && Database()->InTransaction())
    throw ENRDException(code, "Cannot perform '%s' operation on a database in transaction", {std::string(operation)});
}

void TNRDTable::PrepareCreateDefs(TNRDFieldDefs& fields, TNRDIndexDefs& indexes, TNRDConstraintDefs& constraints) {
  if (FAdvFieldDefs.Count() == 0) {
    for (std::int32_t i = 0; i < FieldDefs().Count(); ++i)
      if (FieldDefs()[i].DataType == ftGuid) FieldDefs()[i].Size = 38;
    FieldDefsToAdvFieldDefs(FieldDefs(), FAdvFieldDefs);
  }
  for (std::int32_t i = 0; i < FAdvFieldDefs.Count(); ++i) {
    TNRDAdvFieldDef& d = FAdvFieldDefs.GetDef(i);
    // Normalising: a size only where the type takes one; an empty default text is no default.
    if (!IsSizedAdvancedFieldType(d.FDataType)) d.FSize = 0;
    if (d.FDataType == aftGuid) d.FSize = 38;
    if (d.FName.empty())
      throw ENRDException(30499, "Missing field name. FieldNo=%d, table '%s'", {i + 1, FTableName});
    if ((IsStringColumn(d.FDataType) || d.FDataType == aftBytes || d.FDataType == aftVarBytes) && d.FSize <= 0)
      throw ENRDException(30453, "Cannot create table '%s' with field: %s %s(%d)",
                          {FTableName, d.FName, AdvancedFieldTypeToSQLName(d.FDataType), d.FSize});
    if (IsBlobColumn(d.FDataType) && d.FBLOBCompressionAlgorithm != caNone &&
        (d.FBLOBCompressionMode == 0 || d.FBLOBCompressionMode > 9))
      throw ENRDException(20257,
                          "Invalid BlobCompressionMode (must be in 1..9 range) for blob field '%s'. Cannot create table '%s'",
                          {d.FName, FTableName});
  }
  AdvFieldDefsToFieldDefs(FAdvFieldDefs, FieldDefs());
  if (FAdvIndexDefs.Count() == 0) IndexDefsToAdvIndexDefs(IndexDefs(), FAdvIndexDefs);
  else AdvIndexDefsToIndexDefs(FAdvIndexDefs, IndexDefs());
  AdvIndexDefsToEngineIndexDefs(FAdvIndexDefs, FieldDefs(), indexes);
  AdvFieldDefsToEngineDefs(FAdvFieldDefs, indexes, FTemporary, fields, constraints);
}

void TNRDTable::CreateTable() {
  if (Active()) DatabaseError("Cannot perform this operation on an open dataset", this);
  if (TrimText(FTableName).empty()) DatabaseError("Missing TableName property", this);
  FlagGuard guard(*this, kFlagMaintenance);
  CheckNotInTransaction("CreateTable", 20182);
  TNRDFieldDefs fields;
  TNRDIndexDefs indexes;
  TNRDConstraintDefs constraints;
  PrepareCreateDefs(fields, indexes, constraints);
  std::unique_ptr<TNRDLocalCursor> c = MakeLocalCursor(false);
  c->SetReadOnly(false);
  c->SetExclusive(true);
  c->CreateTable(fields, indexes, constraints);
  FRestructureFieldDefs.Assign(FAdvFieldDefs);
  FRestructureIndexDefs.Assign(FAdvIndexDefs);
}

void TNRDTable::DeleteTable() {
  Close();
  if (TrimText(FTableName).empty()) DatabaseError("Missing TableName property", this);
  FlagGuard guard(*this, kFlagMaintenance);
  CheckNotInTransaction("DeleteTable", 20183);
  std::unique_ptr<TNRDLocalCursor> c = MakeLocalCursor(false);
  c->SetReadOnly(false);
  c->SetExclusive(true);
  c->DeleteTable();
}

void TNRDTable::EmptyTable() {
  if (Active()) DatabaseError("Cannot perform this operation on an open dataset", this);
  FlagGuard guard(*this, kFlagMaintenance);
  std::unique_ptr<TNRDLocalCursor> c = MakeLocalCursor(false);
  c->SetReadOnly(false);
  c->SetExclusive(true);
  c->EmptyTable();
}

void TNRDTable::RenameTable(const std::string& newTableName) {
  if (Active()) DatabaseError("Cannot perform this operation on an open dataset", this);
  if (TrimText(FTableName).empty()) DatabaseError("Missing TableName property", this);
  FlagGuard guard(*this, kFlagMaintenance);
  CheckNotInTransaction("RenameTable", 20181);
  std::unique_ptr<TNRDLocalCursor> c = MakeLocalCursor(false);
  c->SetReadOnly(false);
  c->SetExclusive(true);
  c->RenameTable(newTableName);
  FTableName = newTableName;
}

void TNRDTable::RenameField(const std::string& fieldName, const std::string& newFieldName) {
  if (Active()) DatabaseError("Cannot perform this operation on an open dataset", this);
  FlagGuard guard(*this, kFlagMaintenance);
  CheckNotInTransaction("RenameField", 20179);
  std::unique_ptr<TNRDLocalCursor> c = MakeLocalCursor(false);
  c->SetReadOnly(false);
  c->SetExclusive(true);
  TNRDFieldDefs fields;
  TNRDIndexDefs indexes;
  TNRDConstraintDefs constraints;
  c->OpenTableByFieldDefs(fields, indexes, constraints);
  c->RenameField(fieldName, newFieldName);
}

void TNRDTable::AddIndex(const std::string& name, const std::string& fields, TIndexOptions options,
                         const std::string& descFields, const std::string& caseInsFields) {
  if (!Active()) UpdateFieldDefs();
  FlagGuard guard(*this, kFlagIndexDefs);
  CheckNotInTransaction("AddIndex", 20175);
  if (name.empty()) throw ENRDException(20046, "Invalid index name '%s'", {name});
  if (fields.empty()) throw ENRDException(20047, "Cannot find index field '%s'", {fields});
  if (Active()) CheckBrowseMode();
  TNRDIndexDef def;
  MakeEngineIndexDef(name, fields, options, false, descFields, caseInsFields, "", FieldDefs(), def);
  WithCursor(kFlagIndexDefs, true, [&](TNRDCursor& c) {
    if (!c.LockTable(ltX, 50, 100, false))
      throw ENRDException(20228, "Cannot access table '%s' in exclusive mode. Table is open by another user", {FTableName});
    try {
      c.AddIndex(def);
    } catch (...) {
      c.UnlockTable(ltX, true);
      throw;
    }
    c.UnlockTable(ltX, true);
    ReadIndexDefs(c);
  });
}

void TNRDTable::DeleteIndex(const std::string& name) {
  FlagGuard guard(*this, kFlagIndexDefs);
  CheckNotInTransaction("DeleteIndex", 20177);
  WithCursor(kFlagIndexDefs, true, [&](TNRDCursor& c) {
    c.DeleteIndex(name);
    ReadIndexDefs(c);
  });
}

void TNRDTable::DeleteAllIndexes() {
  FlagGuard guard(*this, kFlagIndexDefs);
  CheckNotInTransaction("DeleteAllIndexes", 20178);
  WithCursor(kFlagIndexDefs, true, [&](TNRDCursor& c) {
    c.DeleteAllIndexes();
    ReadIndexDefs(c);
  });
}

std::string TNRDTable::FindOrCreateIndex(const std::vector<std::string>& fieldNamesList,
                                         const std::vector<std::string>& ascDescList,
                                         const std::vector<std::string>& caseSensitivityList, bool& isCreated) {
  std::string name;
  WithCursor(kFlagIndexDefs, true, [&](TNRDCursor& c) {
    name = c.FindOrCreateIndex(fieldNamesList, ascDescList, caseSensitivityList, isCreated);
    ReadIndexDefs(c);
  });
  return name;
}

bool TNRDTable::IndexExists(const std::vector<std::string>& fieldNamesList, const std::vector<std::string>& ascDescList,
                            const std::vector<std::string>& caseSensitivityList) {
  bool exists = false;
  WithCursor(kFlagIndexDefs, true,
             [&](TNRDCursor& c) { exists = c.IndexExists(fieldNamesList, ascDescList, caseSensitivityList); });
  return exists;
}

bool TNRDTable::IsRecordLocked() { return Cursor() != nullptr && Cursor()->IsRecordLocked(); }

std::int64_t TNRDTable::LastAutoincValue(std::int32_t fieldIndex) { return CheckedCursor().LastAutoincValue(fieldIndex); }

void TNRDTable::RepairOpen() {
  FlagGuard guard(*this, kFlagRepairOpen);
  FIsRepairing = true;
  try {
    MakeLocalCursor(true);
  } catch (...) {
    FIsRepairing = false;
    throw;
  }
  FIsRepairing = false;
}

TNRDTable::WaitHandlers TNRDTable::DefaultWait(const char* text, const TNRDNotifyEvent& before,
                                                const TNRDProgressEvent& progress, const TNRDNotifyEvent& after) {
  WaitHandlers h{before, after, progress};
  const bool silent = FTemporary || (Database() != nullptr && Database()->SilentMode());
  if (!h.before)
    h.before = [this, text, silent](TComponent&) {
      if (silent || (Database() != nullptr && Database()->SilentMode())) return;
      if (platform::TEngineDialogs* dialogs = platform::EngineDialogs()) {
        frmWait = dialogs->CreateWaitForm();
        frmWait->SetPosition(0);
        frmWait->Show(text);
        frmWait->ProcessMessages();
      }
    };
  if (!h.progress)
    h.progress = [this](TComponent&, std::int32_t percentDone, bool& cont) {
      if (frmWait == nullptr) return;
      frmWait->SetPosition(percentDone);
      frmWait->ProcessMessages();
      cont = !frmWait->Terminated();
    };
  if (!h.after)
    h.after = [this](TComponent&) {
      if (frmWait == nullptr) return;
      frmWait->Close();
      frmWait.reset();
    };
  return h;
}

}  // namespace nrd
