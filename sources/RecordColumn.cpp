// A column read from the current record's buffer; see RecordColumn.h.
#include "sources/RecordColumn.h"

#include "engine/components/NRDDB.h"
#include "engine/foundation/NRDTypesRoutines.h"
#include "engine/storage/NRDCursor.h"
#include "engine/storage/NRDFieldManager.h"

#include <limits>

TRecordColumn::TRecordColumn(nrd::TNRDDataSet& ds, nrd::TField& field) : ds_(ds), field_(field) {
  const nrd::TNRDCursor* c = ds.Cursor();
  if (c == nullptr || field.Calculated() || field.IsBlob() || field.FieldNo() < 1) return;
  // The field's place as the data set reads it: its visible column, then the table column behind it.
  const nrd::TNRDFieldDefs& visible = c->VisibleFieldDefs();
  const std::int32_t n = field.FieldNo() - 1;
  if (n >= visible.GetCount()) return;
  const std::int32_t t = visible.GetFieldDef(n)->FFieldNoReference;
  if (t < 0 || t >= c->FieldDefs().GetCount()) return;
  const nrd::TNRDFieldDef& d = *c->FieldDefs().GetFieldDef(t);
  switch (d.FBaseFieldType) {
    case nrd::bftChar: case nrd::bftVarchar: kind_ = Kind::Narrow; break;
    case nrd::bftWideChar: case nrd::bftWideVarchar: kind_ = Kind::Wide; break;
    case nrd::bftSignedInt8: case nrd::bftSignedInt16: case nrd::bftSignedInt32: case nrd::bftSignedInt64:
    case nrd::bftUnsignedInt8: case nrd::bftUnsignedInt16: case nrd::bftUnsignedInt32:
      kind_ = Kind::Integer;
      break;
    case nrd::bftLogical: kind_ = Kind::Logical; break;
    default: return;
  }
  type_ = d.FBaseFieldType;
  tableFieldNo_ = t;
  offset_ = d.FMemoryOffset;
  size_ = d.FMemoryDataSize;
}

bool TRecordColumn::Look(const std::uint8_t*& at) const {
  if (kind_ == Kind::Field || ds_.State() != nrd::dsBrowse) return false;
  const void* record = ds_.ActiveRecordBuffer();
  if (record == nullptr) return false;
  at = nrd::IsFieldNull(record, tableFieldNo_) ? nullptr : static_cast<const std::uint8_t*>(record) + offset_;
  return true;
}

namespace {
// An engine value over bytes it does not own: the engine's own conversions, with no copy.
struct Viewed {
  nrd::TNRDVariant v;
  Viewed(const std::uint8_t* at, std::int32_t size, nrd::TNRDBaseFieldType type) { v.SetData(at, size, type, false); }
};
}  // namespace

bool TRecordColumn::IsNull() const {
  const std::uint8_t* at = nullptr;
  if (!Look(at)) return field_.IsNull();
  return at == nullptr;
}

std::string TRecordColumn::AsString() const {
  const std::uint8_t* at = nullptr;
  if (kind_ != Kind::Narrow && kind_ != Kind::Wide) return field_.AsString();
  if (!Look(at)) return field_.AsString();
  if (at == nullptr) return std::string();
  return Viewed(at, size_, type_).v.AsAnsiString();
}

std::u16string TRecordColumn::AsWideString() const {
  const std::uint8_t* at = nullptr;
  if (kind_ != Kind::Narrow && kind_ != Kind::Wide) return field_.AsWideString();
  if (!Look(at)) return field_.AsWideString();
  if (at == nullptr) return std::u16string();
  return Viewed(at, size_, type_).v.AsWideString();
}

QString TRecordColumn::AsQString() const {
  // A wide column's characters go straight into the text: no engine value, no second copy.
  const std::uint8_t* at = nullptr;
  if (kind_ != Kind::Wide || !Look(at)) return QString::fromStdU16String(AsWideString());
  if (at == nullptr) return QString();
  // As the engine reads a wide text: up to the first NUL character or the end of the column.
  qsizetype n = 0;
  while (2 * n + 1 < size_ && (at[2 * n] | at[2 * n + 1]) != 0) ++n;
  QString r(n, Qt::Uninitialized);
  char16_t* out = reinterpret_cast<char16_t*>(r.data());
  for (qsizetype i = 0; i < n; ++i) out[i] = char16_t(at[2 * i] | at[2 * i + 1] << 8);
  return r;
}

std::int32_t TRecordColumn::AsInteger() const {
  const std::uint8_t* at = nullptr;
  if (kind_ != Kind::Integer || !Look(at)) return field_.AsInteger();
  if (at == nullptr) return 0;
  // The stored integer as it is: widening it through an engine value would allocate a converted copy.
  const std::int64_t v = nrd::GetStoredInt(at, type_);
  // Out of range: the field raises its own error.
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
    return field_.AsInteger();
  return static_cast<std::int32_t>(v);
}

bool TRecordColumn::AsBoolean() const {
  const std::uint8_t* at = nullptr;
  if (kind_ != Kind::Logical || !Look(at)) return field_.AsBoolean();
  if (at == nullptr) return false;
  return Viewed(at, size_, type_).v.AsBoolean();
}
