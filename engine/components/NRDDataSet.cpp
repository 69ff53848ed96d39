// The engine data set over one cursor, the engine error of record operations, the BLOB field
// stream and the field copy.
#include "engine/components/NRDDataSet.h"

#include <cstring>

#include "engine/components/NRDSession.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDText.h"

namespace nrd {

// ----- engine errors ----------------------------------------------------------------------------------------

std::string EngineErrorText(std::int32_t errorCode, const std::string& message) {
  switch (errorCode) {
    case -1: return "Error adding record";
    case -2: return "Error updating record";
    case -3: return "Error deleting record";
    case -4: return "Error updating record - record was modified by other process";
    case -5: return "Error deleting record - record was modified by other process";
    case -6: return "Error updating record - record was deleted by other process";
    case -7: return "Error deleting record - record was deleted by other process";
    case -8: return message;
    case -9: return "Cannot update record in temporary mode";
    case -10: return "Cannot delete record in temporary mode";
    case -11: return "Cannot cancel operation in temporary mode";
    case -12: return "Record is locked";
    case -13: return "Table is locked";
    default: return "";
  }
}

ENRDEngineError::ENRDEngineError(std::int32_t errorCode, const std::string& errMessage)
    : EDatabaseError("Noreld Engine Error # " + std::to_string(errorCode) + " " +
                     EngineErrorText(errorCode, errMessage)),
      FErrorCode(errorCode),
      FErrorMessage(EngineErrorText(errorCode, errMessage)) {}

void RaiseEngineError(std::int32_t errorCode, const std::string& message) {
  throw ENRDEngineError(errorCode, message);
}

void CheckEngineError(std::int32_t errorCode, const std::string& message) {
  if (errorCode != 0) RaiseEngineError(errorCode, message);
}

// ----- the engine data set ----------------------------------------------------------------------------------

namespace {

// Makes a buffer the cursor's current record for one call and puts the cursor's own back after.
using CurrentBuffer = TNRDCursor::TLentBuffer;

// Saves the cursor's position and restores it when it goes.
class KeepPosition {
 public:
  explicit KeepPosition(TNRDCursor& cursor) : FCursor(cursor), FPos(cursor.SavePosition()) {}
  ~KeepPosition() { FCursor.RestorePosition(*FPos); }
  KeepPosition(const KeepPosition&) = delete;
  KeepPosition& operator=(const KeepPosition&) = delete;

 private:
  TNRDCursor& FCursor;
  std::unique_ptr<TNRDCursorPosition> FPos;
};

TNRDBLOBOpenMode ToOpenMode(TBlobStreamMode m) {
  return m == bmWrite ? bomWrite : (m == bmRead ? bomRead : bomReadWrite);
}

}  // namespace

TNRDDataSet::TNRDDataSet(TComponent* owner) : TDataSet(owner) {}

TNRDDataSet::~TNRDDataSet() {
  try {
    Close();
  } catch (...) {
    // Closing frees everything it can; a failure to tell the cursor is not worth a crash.
  }
}

TNRDCursor& TNRDDataSet::CheckedCursor() const {
  if (FCursor == nullptr) throw ENRDException(10003, "Nil pointer occured");
  return *FCursor;
}

void TNRDDataSet::InternalOpen() {
  FCursor = FKeptCursor != nullptr ? std::move(FKeptCursor) : CreateHandle();
  if (FCursor == nullptr) throw ENRDException(20001, "Error creating table handle");
  FCursor->SetOwnerDataSet(this);
  ApplyCursorFilter();
}

void TNRDDataSet::InternalClose() {
  if (FCursor == nullptr) return;
  FCursor->SetRecordFilter(nullptr);
  std::unique_ptr<TNRDCursor> cursor = std::move(FCursor);
  FIndexFieldMap.clear();
  FKeySize = 0;
  if (cursor->SettingProjection()) FKeptCursor = std::move(cursor);
  if (FCursorBorrowed && cursor != nullptr) {
    cursor->SetOwnerDataSet(nullptr);
    (void)cursor.release();
  }
  cursor.reset();
}

void TNRDDataSet::InternalInitFieldDefs() {
  TNRDCursor& c = CheckedCursor();
  FieldDefs().Clear();
  for (std::int32_t i = 0; i < c.VisibleFieldDefs().GetCount(); ++i) {
    const TNRDFieldDef* d = c.VisibleFieldDefs().GetFieldDef(i);
    const TFieldType ft = AdvancedFieldTypeToFieldType(d->FAdvancedFieldType);
    const std::int32_t size = ft != ftGuid && IsSizedAdvancedFieldType(d->FAdvancedFieldType) ? d->FFieldSize : 0;
    FieldDefs().Add(d->FName, ft, size, false);
  }
  for (std::int32_t i = 0; i < c.ConstraintDefs().GetCount(); ++i) {
    const TNRDConstraintDef* cd = c.ConstraintDefs().GetConstraintDef(i);
    if (cd->FConstraintType != ctNotNull) continue;
    const auto* nn = static_cast<const TNRDConstraintDefColumn*>(cd);
    for (std::int32_t k = 0; k < c.VisibleFieldDefs().GetCount(); ++k) {
      const TNRDFieldDef* d = c.VisibleFieldDefs().GetFieldDef(k);
      const TNRDFieldDef* table = c.FieldDefs().GetFieldDef(d->FFieldNoReference);
      if (table != nullptr && table->FObjectID == nn->FColumnObjectID && FieldDefs()[k].DataType != ftAutoInc)
        FieldDefs()[k].Required = true;
    }
  }
}

void* TNRDDataSet::AllocRecordBuffer() {
  return GlobalMemoryManager().AllocMem(std::max<std::int32_t>(CheckedCursor().RecordBufferSize(), 8));
}

void TNRDDataSet::FreeRecordBuffer(void*& buffer) {
  if (buffer == nullptr) return;
  if (FCursor != nullptr) FCursor->FreeRecordBuffer(buffer);
  else GlobalMemoryManager().FreeAndNillMem(buffer);
}

std::int32_t TNRDDataSet::RecordBufferSize() const { return CheckedCursor().RecordBufferSize(); }

TNRDPageItemID TNRDDataSet::RecordIDOf(const void* buffer) const {
  const auto* p = static_cast<const std::uint8_t*>(buffer) + CheckedCursor().BookmarkOffset();
  TNRDPageItemID id;
  std::memcpy(&id.PageNo, p, 4);
  std::memcpy(&id.PageItemNo, p + 4, 2);
  return id;
}

TGetResult TNRDDataSet::GetRecord(void* buffer, TGetMode mode) {
  TNRDCursor& c = CheckedCursor();
  TNRDGetRecordResult r;
  {
    CurrentBuffer current(c, buffer);
    r = c.GetRecordBuffer(mode == gmNext ? grmNext : (mode == gmPrior ? grmPrior : grmCurrent));
  }
  if (r != grrOK) return r == grrBOF ? grBOF : (r == grrEOF ? grEOF : grError);
  auto* p = static_cast<std::uint8_t*>(buffer) + c.BookmarkOffset();
  const TNRDPageItemID& id = c.CurrentRecord();
  std::memcpy(p, &id.PageNo, 4);
  std::memcpy(p + 4, &id.PageItemNo, 2);
  p[6] = 0;
  return grOK;
}

void TNRDDataSet::InternalFirst() { CheckedCursor().InternalFirst(); }
void TNRDDataSet::InternalLast() { CheckedCursor().InternalLast(); }

void TNRDDataSet::InternalSetToRecord(const void* buffer) {
  TNRDCursor& c = CheckedCursor();
  c.MoveToRecord(RecordIDOf(buffer));
}

void TNRDDataSet::InternalGotoBookmark(const TBookmark& bookmark) {
  TNRDCursor& c = CheckedCursor();
  if (bookmark.size() < 6) DatabaseError("Invalid bookmark", this);
  TNRDPageItemID id = c.CurrentRecord();
  std::memcpy(&id.PageNo, bookmark.data(), 4);
  std::memcpy(&id.PageItemNo, bookmark.data() + 4, 2);
  c.MoveToRecord(id);
}

TBookmark TNRDDataSet::GetBookmarkData(const void* buffer) const {
  const auto* p = static_cast<const std::uint8_t*>(buffer) + CheckedCursor().BookmarkOffset();
  return TBookmark(p, p + 6);
}

std::uint8_t TNRDDataSet::GetBookmarkFlag(const void* buffer) const {
  return static_cast<const std::uint8_t*>(buffer)[CheckedCursor().BookmarkOffset() + 6];
}

void TNRDDataSet::SetBookmarkFlag(void* buffer, std::uint8_t flag) {
  static_cast<std::uint8_t*>(buffer)[CheckedCursor().BookmarkOffset() + 6] = flag;
}

void TNRDDataSet::InternalInitRecord(void* buffer) {
  TNRDCursor& c = CheckedCursor();
  c.ClearBLOBStreams(false);
  std::memset(buffer, 0, static_cast<std::size_t>(c.RecordBufferSize()));
  c.InternalInitRecord(buffer, true);
  auto* p = static_cast<std::uint8_t*>(buffer) + c.BookmarkOffset();
  const std::int32_t none = -1;
  const std::uint16_t noItem = 0xFFFF;
  std::memcpy(p, &none, 4);
  std::memcpy(p + 4, &noItem, 2);
  p[6] = 3;
}

void TNRDDataSet::InternalInsert() {
  TNRDCursor& c = CheckedCursor();
  if (ReadOnly()) return;
  CurrentBuffer current(c, ActiveBuffer());
  c.InternalInsert();
}

void TNRDDataSet::InternalEdit() {
  TNRDCursor& c = CheckedCursor();
  if (ReadOnly()) return;
  CurrentBuffer current(c, ActiveBuffer());
  c.ClearError();
  c.InternalEdit();
  CheckEngineError(c.ErrorCode(), c.ErrorMessage());
}

void TNRDDataSet::InternalPost() {
  if (!Active()) throw ENRDException(10029, "Dataset is not opened");
  if (State() != dsEdit && State() != dsInsert) throw ENRDException(10030, "Dataset is not in insert or edit mode");
  if (ReadOnly()) throw ENRDException(10032, "Dataset is in read only mode");
  TNRDCursor& c = CheckedCursor();
  CurrentBuffer current(c, ActiveBuffer());
  if (State() == dsEdit) InternalSetToRecord(ActiveBuffer());
  {
    // The old-value copy is lent to the cursor for the post only.
    TNRDCursor::TLentBuffer oldValues(c, State() == dsEdit ? OldValueBuffer() : nullptr, TNRDCursor::TLentBuffer::lbEditRecord);
    c.ClearError();
    c.InternalPost(State() == dsInsert);
  }
  CheckEngineError(c.ErrorCode(), c.ErrorMessage());
}

void TNRDDataSet::InternalCancel() {
  TNRDCursor& c = CheckedCursor();
  CurrentBuffer current(c, ActiveBuffer());
  c.ClearError();
  c.InternalCancel(State() == dsInsert);
  CheckEngineError(c.ErrorCode(), c.ErrorMessage());
}

void TNRDDataSet::InternalDelete() {
  if (!Active()) throw ENRDException(10068, "Dataset is not opened");
  if (ReadOnly()) throw ENRDException(10069, "Dataset is in read only mode");
  TNRDCursor& c = CheckedCursor();
  CurrentBuffer current(c, ActiveBuffer());
  if (State() == dsEdit) {
    // Deleting the record being edited ends the edit first: its locks and unstored values go,
    // and the record is deleted as it was read, not as it was being changed.
    c.ClearError();
    c.InternalCancel(false);
    CheckEngineError(c.ErrorCode(), c.ErrorMessage());
    if (void* old = OldValueBuffer())
      std::memcpy(ActiveBuffer(), old, static_cast<std::size_t>(c.RecordSize()));
  }
  c.ClearError();
  c.InternalDelete();
  CheckEngineError(c.ErrorCode(), c.ErrorMessage());
}

void TNRDDataSet::ReadBlob(const TField& field, const void* buffer, TNRDVariant& value) const {
  TNRDCursor& c = CheckedCursor();
  const TNRDBaseFieldType t = FieldTypeToBaseType(field.DataType());
  value.Clear(t);
  KeepPosition keep(c);
  CurrentBuffer current(c, buffer);
  const bool isNew = GetBookmarkFlag(buffer) == 3;
  if (!isNew) c.SetCurrentRecord(RecordIDOf(buffer));
  TNRDStream* s = c.InternalCreateBlobStream(isNew || State() == dsInsert, State() == dsEdit, field.FieldNo() - 1,
                                             bomRead, State() == dsBrowse && !isNew);
  if (s == nullptr) return;
  std::string bytes;
  try {
    const std::int64_t size = s->GetSize();
    if (size > INT32_MAX) throw ENRDException(10026, "Cannot retrieve record");
    bytes.resize(static_cast<std::size_t>(size));
    s->SetPosition(0);
    const std::int32_t got = size > 0 ? s->Read(bytes.data(), static_cast<std::int32_t>(size)) : 0;
    bytes.resize(static_cast<std::size_t>(std::max<std::int32_t>(got, 0)));
  } catch (...) {
    c.InternalCloseBLOB(field.FieldNo() - 1);
    throw;
  }
  c.InternalCloseBLOB(field.FieldNo() - 1);
  if (!bytes.empty()) value.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size()), t, true);
}

void TNRDDataSet::ReadFieldValue(const TField& field, const void* buffer, TNRDVariant& value) const {
  TNRDCursor& c = CheckedCursor();
  if (field.IsBlob()) {
    ReadBlob(field, buffer, value);
    return;
  }
  CurrentBuffer current(c, buffer);
  c.GetFieldValue(value, field.FieldNo() - 1, false);
}

void TNRDDataSet::WriteFieldValue(TField& field, TNRDVariant& value, void* buffer) {
  TNRDCursor& c = CheckedCursor();
  if (field.IsBlob()) {
    TNRDBLOBStream s(field, bmWrite);
    if (!value.IsNull() && value.DataSize() > 0) s.Write(value.pData(), value.DataSize());
    return;
  }
  CurrentBuffer current(c, buffer);
  c.SetFieldValue(value, field.FieldNo() - 1, false, buffer);
}

void TNRDDataSet::ApplyCursorFilter() {
  TNRDCursor& c = CheckedCursor();
  if (FilterTextApplies() && !Filter().empty())
    c.ActivateFilters(Filter(), (FilterOptions() & foCaseInsensitive) != 0,
                      (FilterOptions() & foNoPartialCompare) == 0);
  else if (c.IsFilterApplied())
    c.DeactivateFilters();
  if (NeedsRecordFilter())
    c.SetRecordFilter([this](TNRDCursor& cursor) { return FilterRecordBuffer(cursor.CurrentRecordBuffer()); });
  else
    c.SetRecordFilter(nullptr);
  c.DisableRecordBitmap();
}

void TNRDDataSet::ActivateFilters() { ApplyCursorFilter(); }

void TNRDDataSet::DeactivateFilters() {
  TNRDCursor& c = CheckedCursor();
  c.DeactivateFilters();
  if (NeedsRecordFilter() && (Filtered() || MasterSource() != nullptr))
    c.SetRecordFilter([this](TNRDCursor& cursor) { return FilterRecordBuffer(cursor.CurrentRecordBuffer()); });
  else
    c.SetRecordFilter(nullptr);
  c.DisableRecordBitmap();
}

bool TNRDDataSet::LocateRecord(const std::vector<std::string>& keyFields, const std::vector<TVariantValue>& keyValues,
                               TLocateOptions options, void* buffer) {
  if (FCursor == nullptr) throw ENRDException(10271, "Cannot perform LOCATE on a closed dataset");
  TNRDCursor& c = *FCursor;
  TDataSetState old;
  void* oldBuffer;
  SetStateTemp(dsFilter, buffer, old, oldBuffer);
  bool found = false;
  try {
    CurrentBuffer current(c, buffer);
    found = c.Locate(keyFields, keyValues, (options & loCaseInsensitive) != 0, (options & loPartialKey) != 0);
  } catch (...) {
    RestoreState(old, oldBuffer);
    throw;
  }
  RestoreState(old, oldBuffer);
  return found && GetRecord(buffer, gmCurrent) == grOK;
}

std::int64_t TNRDDataSet::RecordCount() { return Active() && FCursor != nullptr ? FCursor->GetRecordCount() : 0; }

std::int64_t TNRDDataSet::RecNo() {
  if (!Active() || State() == dsInsert) return -1;
  void* buffer = ActiveRecordBuffer();
  if (buffer == nullptr || GetBookmarkFlag(buffer) != 0) return -1;
  TNRDCursor& c = CheckedCursor();
  KeepPosition keep(c);
  c.SetCurrentRecord(RecordIDOf(buffer));
  return c.GetRecNo();
}

void TNRDDataSet::SetRecNo(std::int64_t value) {
  CheckBrowseMode();
  DoBeforeScroll();
  TNRDCursor& c = CheckedCursor();
  c.SetRecNo(value);
  if (!ReadCurrent()) {
    if (FRecordPresent) InternalSetToRecord(ActiveBuffer());
    return;
  }
  Resync();
  DoAfterScroll();
}

bool TNRDDataSet::BookmarkValid(const TBookmark& bookmark) {
  if (FCursor == nullptr || bookmark.size() < 6) return false;
  TNRDCursor& c = *FCursor;
  KeepPosition keep(c);
  void* scratch = AllocRecordBuffer();
  bool valid = false;
  try {
    InternalGotoBookmark(bookmark);
    CurrentBuffer current(c, scratch);
    valid = c.GetRecordBuffer(grmCurrent) == grrOK;
  } catch (...) {
    FreeRecordBuffer(scratch);
    throw;
  }
  FreeRecordBuffer(scratch);
  return valid;
}

std::int32_t TNRDDataSet::CompareBookmarks(const TBookmark& b1, const TBookmark& b2) {
  if (b1.size() >= 6 && b2.size() >= 6) {
    TNRDPageItemID a, b;
    std::memcpy(&a.PageNo, b1.data(), 4);
    std::memcpy(&a.PageItemNo, b1.data() + 4, 2);
    std::memcpy(&b.PageNo, b2.data(), 4);
    std::memcpy(&b.PageItemNo, b2.data() + 4, 2);
    const std::int32_t r = CheckedCursor().CompareRecordsOrder(a, b);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
  }
  return TDataSet::CompareBookmarks(b1, b2);
}

bool TNRDDataSet::GetCurrentRecord(void* buffer) {
  if (FCursor == nullptr || !FRecordPresent || GetBookmarkFlag(ActiveBuffer()) != 0) return false;
  InternalSetToRecord(ActiveBuffer());
  CurrentBuffer current(*FCursor, buffer);
  return FCursor->GetRecordBuffer(grmCurrent) == grrOK;
}

std::unique_ptr<TNRDStream> TNRDDataSet::CreateBlobStream(TField& field, TBlobStreamMode mode) {
  if (mode != bmRead && ReadOnly()) throw ENRDException(10107, "Dataset is in read only mode");
  return std::make_unique<TNRDBLOBStream>(field, mode);
}

TNRDStream* TNRDDataSet::InternalCreateBlobStream(TField& field, TBlobStreamMode mode) {
  TNRDCursor& c = CheckedCursor();
  if (mode != bmRead && State() != dsEdit && State() != dsInsert)
    throw ENRDException(10111, "Dataset not in edit or insert mode");
  void* buffer = ActiveRecordBuffer();
  if (buffer == nullptr) return c.InternalCreateBlobStream(true, false, field.FieldNo() - 1, ToOpenMode(mode), false);
  KeepPosition keep(c);
  CurrentBuffer current(c, buffer);
  const bool isNew = GetBookmarkFlag(buffer) == 3;
  if (!isNew) c.SetCurrentRecord(RecordIDOf(buffer));
  return c.InternalCreateBlobStream(State() == dsInsert || isNew, State() == dsEdit, field.FieldNo() - 1,
                                    ToOpenMode(mode), State() == dsBrowse && !isNew);
}

void TNRDDataSet::CloseBlob(TField& field) {
  if (FCursor == nullptr) return;
  CurrentBuffer current(*FCursor, ActiveRecordBuffer());
  FCursor->InternalCloseBLOB(field.FieldNo() - 1);
}

void TNRDDataSet::CopyFieldValue(std::int32_t srcFieldNo, bool directAccess, std::int32_t destFieldNo,
                                 TNRDDataSet& dest) {
  if (FCursor == nullptr) throw ENRDException(10500, "Nil pointer occured");
  if (dest.FCursor == nullptr) throw ENRDException(10503, "Nil pointer occured");
  void* destBuffer = dest.ActiveRecordBuffer();
  if (destBuffer == nullptr) throw ENRDException(10504, "Nil pointer occured");
  CurrentBuffer src(*FCursor, ActiveRecordBuffer());
  CurrentBuffer dst(*dest.FCursor, destBuffer);
  FCursor->CopyFieldValue(srcFieldNo, directAccess, destFieldNo, *dest.FCursor);
}

// ----- BLOB field stream ------------------------------------------------------------------------------------

TNRDBLOBStream::TNRDBLOBStream(TField& field, TBlobStreamMode mode) : FField(&field) {
  auto* ds = dynamic_cast<TNRDDataSet*>(field.DataSet());
  if (ds == nullptr) DatabaseErrorFmt("Field '%s' is not a field of an engine dataset", {field.FieldName()});
  if (mode != bmRead && ds->ReadOnly()) throw ENRDException(10106, "Dataset is in read only mode");
  TField& named = ds->FieldByName(field.FieldName());
  FField = &named;
  FBLOBStream = ds->InternalCreateBlobStream(named, mode);
  if (FBLOBStream == nullptr) return;
  FDataSet = ds;
  if (auto* local = dynamic_cast<TNRDLocalBLOBStream*>(FBLOBStream)) local->FUserBLOBStream = this;
  SetBlockSize(FBLOBStream->BlockSize());
  if (mode == bmWrite) {
    FBLOBStream->SetPosition(0);
    SetSize(0);
  }
}

TNRDBLOBStream::~TNRDBLOBStream() {
  if (FBLOBStream == nullptr) return;
  const bool modified = FBLOBStream->Modified();
  FModified = modified;
  if (auto* local = dynamic_cast<TNRDLocalBLOBStream*>(FBLOBStream)) local->FUserBLOBStream = nullptr;
  try {
    FDataSet->CloseBlob(*FField);
    if (modified) {
      FField->SetModified(true);
      FDataSet->DataEvent(deFieldChange, FField);
    }
  } catch (...) {
    // A destructor must not throw; a link's failure to repaint is not the stream's concern.
  }
}

std::int32_t TNRDBLOBStream::Read(void* buffer, std::int32_t count) {
  return FBLOBStream != nullptr ? FBLOBStream->Read(buffer, count) : 0;
}

std::int32_t TNRDBLOBStream::Write(const void* buffer, std::int32_t count) {
  if (FBLOBStream == nullptr) return 0;
  const std::int32_t written = FBLOBStream->Write(buffer, count);
  if (count > 0) FBLOBStream->SetModified(true);
  return written;
}

std::int64_t TNRDBLOBStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  return FBLOBStream != nullptr ? FBLOBStream->Seek(offset, origin) : 0;
}

std::int64_t TNRDBLOBStream::GetSize() { return FBLOBStream != nullptr ? FBLOBStream->GetSize() : 0; }

void TNRDBLOBStream::SetSize(std::int64_t newSize) {
  if (FBLOBStream == nullptr) return;
  FBLOBStream->SetSize(newSize);
  if (FBLOBStream->GetSize() == newSize) FBLOBStream->SetModified(true);
}

void TNRDBLOBStream::Truncate() { SetSize(Position()); }

// ----- field copy -------------------------------------------------------------------------------------------

namespace {

bool IsLargeIntField(const TField& f) { return f.DataType() == ftLargeint; }

std::string ReadWholeBlob(TField& f) {
  if (f.IsNull()) return "";
  return f.AsBytes();
}

}  // namespace

void CopyFieldValue(TField& source, TField& dest) {
  const TFieldType st = source.DataType();
  if (st == ftVarBytes) {
    const TVariantValue v = source.AsVariant();
    if (!SameValue(dest.AsVariant(), v)) dest.SetAsVariant(v);
    return;
  }
  if (st == ftLargeint) {
    if (source.IsNull()) dest.Clear();
    else if (IsLargeIntField(dest)) dest.SetAsLargeInt(source.AsLargeInt());
    else dest.Assign(source);
    return;
  }
  if (st == ftWideMemo && !dest.IsBlob()) {
    if (source.IsNull()) dest.Clear();
    else dest.SetAsWideString(source.AsWideString());
    return;
  }
  if (source.IsBlob() && dest.IsBlob()) {
    if (dest.DataType() == ftWideMemo) {
      if (source.IsNull()) dest.Clear();
      else if (st == ftWideMemo) dest.SetAsWideString(source.AsWideString());
      else dest.SetAsWideString(AnsiToWide(source.AsBytes()));
      return;
    }
    std::string bytes = ReadWholeBlob(source);
    // A stored picture starts with an 8-byte header {1, 0x0100, size - 8} that the copy leaves
    // out. Only pictures: another BLOB that happens to begin with those bytes is copied whole.
    if (st == ftGraphic && bytes.size() >= 8) {
      std::uint16_t a = 0, b = 0;
      std::uint32_t n = 0;
      std::memcpy(&a, bytes.data(), 2);
      std::memcpy(&b, bytes.data() + 2, 2);
      std::memcpy(&n, bytes.data() + 4, 4);
      if (a == 1 && b == 0x0100 && n == bytes.size() - 8) bytes.erase(0, 8);
    }
    if (bytes.empty() && source.IsNull()) dest.Clear();
    else dest.SetAsBytes(bytes);
    return;
  }
  if (st == ftWideString && dest.IsBlob()) {
    if (source.IsNull()) {
      dest.Clear();
      return;
    }
    const std::u16string w = source.AsWideString();
    dest.SetAsBytes(std::string(reinterpret_cast<const char*>(w.data()), w.size() * 2));
    return;
  }
  if (dest.DataType() == ftWideString && source.IsBlob()) {
    if (source.IsNull()) {
      dest.Clear();
      return;
    }
    if (st == ftWideMemo) {
      dest.SetAsWideString(source.AsWideString());
      return;
    }
    const std::string bytes = ReadWholeBlob(source);
    std::u16string w(bytes.size() / 2, u'\0');
    std::memcpy(w.data(), bytes.data(), w.size() * 2);
    dest.SetAsWideString(w);
    return;
  }
  if (IsLargeIntField(dest) && !IsLargeIntField(source)) {
    // The whole value: a text or a float source must not be cut to 32 bits on the way.
    if (source.IsNull()) dest.Clear();
    else dest.SetAsLargeInt(source.AsLargeInt());
    return;
  }
  dest.Assign(source);
}

}  // namespace nrd
