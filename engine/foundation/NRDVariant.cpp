// The engine's typed value, its arithmetic and the raw-value comparison.
#include "engine/foundation/NRDVariant.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDStreams.h"
#include "engine/foundation/NRDText.h"
#include "engine/foundation/NRDTypesRoutines.h"

namespace nrd {

namespace {

TNRDMemoryManager& MM() { return GlobalMemoryManager(); }

[[noreturn]] void ValueIsNull() { throw ENRDException(30016, "Value is Null"); }

long double DecodeFloat(const std::uint8_t* p, TNRDBaseFieldType t) {
  if (t == bftSingle) {
    float f;
    std::memcpy(&f, p, 4);
    return f;
  }
  if (t == bftExtended) return GetExtended(p);
  double d;
  std::memcpy(&d, p, 8);
  return d;
}

// Encodes an integer or a float into the fixed-size bytes of `t` (wrapping integers).
std::int32_t EncodeFixed(std::uint8_t* out, TNRDBaseFieldType t, std::int64_t i, long double f) {
  const auto u = static_cast<std::uint64_t>(i);
  switch (t) {
    case bftSignedInt8:
    case bftUnsignedInt8: out[0] = static_cast<std::uint8_t>(u); return 1;
    case bftSignedInt16:
    case bftUnsignedInt16:
    case bftLogical: PutLE16(out, static_cast<std::uint16_t>(u)); return 2;
    case bftSignedInt32:
    case bftUnsignedInt32:
    case bftDate:
    case bftTime: PutLE32(out, static_cast<std::uint32_t>(u)); return 4;
    case bftSignedInt64: PutLE64(out, u); return 8;
    case bftSingle: {
      float v = static_cast<float>(f);
      if (std::isinf(v) && std::isfinite(f)) throw EOverflow(kOverflowText);
      std::memcpy(out, &v, 4);
      return 4;
    }
    case bftDouble:
    case bftCurrency: {
      double v = static_cast<double>(f);
      if (std::isinf(v) && std::isfinite(f)) throw EOverflow(kOverflowText);
      std::memcpy(out, &v, 8);
      return 8;
    }
    case bftExtended: PutExtended(out, f); return 10;
    default: return 0;
  }
}

bool IsUnsignedIntType(TNRDBaseFieldType t) { return t >= bftUnsignedInt8 && t <= bftUnsignedInt32; }

// Length of a narrow text inside `size` bytes (size -1: up to the zero).
std::int32_t AnsiLength(const std::uint8_t* p, std::int32_t size) {
  std::int32_t n = 0;
  while ((size < 0 || n < size) && p[n] != 0) ++n;
  return n;
}
std::int32_t WideLength(const std::uint8_t* p, std::int32_t size) {
  std::int32_t n = 0;
  while ((size < 0 || 2 * n + 1 < size) && (p[2 * n] | p[2 * n + 1]) != 0) ++n;
  return n;
}

}  // namespace

struct TNRDVariant::View {
  const std::uint8_t* p = nullptr;
  std::int32_t size = 0;
  TNRDMemoryPtr owned;
};

TNRDVariant::~TNRDVariant() { Clear(bftUnknown); }

TNRDVariant::TNRDVariant(TNRDVariant&& other) noexcept
    : FDataType(other.FDataType),
      FDataSize(other.FDataSize),
      FPData(other.FPData),
      FIsDataLinked(other.FIsDataLinked),
      FIsNull(other.FIsNull) {
  other.FPData = nullptr;
  other.Clear(bftUnknown);
}

TNRDVariant& TNRDVariant::operator=(TNRDVariant&& other) noexcept {
  if (this != &other) {
    Clear(bftUnknown);
    FDataType = other.FDataType;
    FDataSize = other.FDataSize;
    FPData = other.FPData;
    FIsDataLinked = other.FIsDataLinked;
    FIsNull = other.FIsNull;
    other.FPData = nullptr;
    other.Clear(bftUnknown);
  }
  return *this;
}

void TNRDVariant::Clear(TNRDBaseFieldType dataType) {
  if (FPData != nullptr && !FIsDataLinked) {
    try {
      MM().FreeMem(FPData);
    } catch (...) {
      // A damaged block is already released by the manager; nothing else to do here.
    }
  }
  FPData = nullptr;
  FDataType = dataType;
  FDataSize = 0;
  FIsDataLinked = false;
  FIsNull = true;
}

void TNRDVariant::SetNull(TNRDBaseFieldType) { FIsNull = true; }

void TNRDVariant::SetDataType(TNRDBaseFieldType dataType) {
  if (IsNull()) {
    if (FPData != nullptr) Clear(dataType);
    else FDataType = dataType;
    return;
  }
  try {
    Cast(dataType);
  } catch (...) {
    Clear(dataType);
  }
}

void TNRDVariant::ReplaceBuffer(void* buffer, std::int32_t size, TNRDBaseFieldType t) {
  Clear(t);
  FPData = buffer;
  FDataSize = size;
  FIsNull = false;
}

void TNRDVariant::Assign(const TNRDVariant& source, bool copyData) {
  if (&source == this) return;
  // A copy of the same size goes into the buffer this value already owns.
  if (copyData && !source.IsNull() && FPData != nullptr && !FIsDataLinked && source.FDataSize == FDataSize &&
      FDataSize > 0 && source.FPData != FPData) {
    std::memcpy(FPData, source.FPData, static_cast<std::size_t>(FDataSize));
    FDataType = source.FDataType;
    FIsNull = false;
    return;
  }
  Clear(source.FDataType);
  if (source.IsNull()) return;
  if (copyData) {
    if (source.FDataSize > 0) {
      FPData = MM().GetMem(source.FDataSize);
      std::memcpy(FPData, source.FPData, static_cast<std::size_t>(source.FDataSize));
    }
  } else {
    FPData = source.FPData;
    FIsDataLinked = true;
  }
  FDataSize = source.FDataSize;
  FIsNull = FPData == nullptr;
}

void TNRDVariant::SetData(const void* buffer, std::int32_t size, TNRDBaseFieldType dataType, bool copyData) {
  if (copyData) {
    if (FPData != nullptr && !FIsDataLinked && FDataSize == size) {
      if (size > 0) std::memmove(FPData, buffer, static_cast<std::size_t>(size));
    } else {
      void* fresh = size > 0 ? MM().GetMem(size) : nullptr;
      if (size > 0) std::memcpy(fresh, buffer, static_cast<std::size_t>(size));
      Clear(dataType);
      FPData = fresh;
    }
    FIsDataLinked = false;
  } else if (buffer == FPData && !FIsDataLinked) {
    // Linking to the value's own buffer keeps it owned (and freed once).
  } else {
    if (buffer != FPData) Clear(dataType);
    FPData = const_cast<void*>(buffer);
    FIsDataLinked = FPData != nullptr;
  }
  FDataType = dataType;
  FDataSize = size;
  FIsNull = false;
}

bool TNRDVariant::CopyDataToAddress(void* buffer, std::int32_t maxSize) const {
  if (IsNull()) return false;
  if (maxSize != -1 && FDataSize > maxSize) throw ENRDException(20056, "Buffer size exceeded");
  if (IsStringDataType() && FDataSize <= 1) return false;
  std::memcpy(buffer, FPData, static_cast<std::size_t>(FDataSize));
  return true;
}

void TNRDVariant::Cast(TNRDBaseFieldType newDataType) {
  if (newDataType == FDataType) return;
  if (IsNull()) {
    Clear(newDataType);
    return;
  }
  if (FDataType == bftClob && newDataType == bftVarchar) {
    // Always into an own buffer, so that a linked owner's bytes stay as they are.
    auto* fresh = static_cast<std::uint8_t*>(MM().GetMem(static_cast<std::int64_t>(FDataSize) + 1));
    std::memcpy(fresh, FPData, static_cast<std::size_t>(FDataSize));
    fresh[FDataSize] = 0;
    std::int32_t size = FDataSize + 1;
    ReplaceBuffer(fresh, size, bftVarchar);
    return;
  }
  std::int32_t size = 0;
  void* fresh = ConvertValue(FPData, FDataSize, FDataType, size, newDataType);
  ReplaceBuffer(fresh, size, newDataType);
}

std::int32_t TNRDVariant::StrLen() const {
  if (!IsStringDataType() || IsNull()) return -1;
  return IsWideStringDataType() ? FDataSize / 2 - 1 : FDataSize - 1;
}

void TNRDVariant::TryToReduceWideStringToAnsiString() {
  if (!IsWideStringDataType() || IsNull()) return;
  std::u16string w = AsWideString();
  if (!IsAnsiRepresentable(w)) return;
  Clear(bftVarchar);
  SetAsAnsiString(WideToAnsi(w));
}

// ----- Stream form ------------------------------------------------------------------------------
void TNRDVariant::SaveToStream(TStream& stream) const {
  std::uint8_t b = FDataType;
  WriteDataToStream(&b, 1, stream, 10179);
  const bool isNull = IsNull();
  b = isNull ? 0xFF : 0;
  WriteDataToStream(&b, 1, stream, 10180);
  if (isNull) return;
  std::uint8_t size[4];
  PutLE32(size, static_cast<std::uint32_t>(FDataSize));
  WriteDataToStream(size, 4, stream, 10181);
  WriteDataToStream(FPData, FDataSize, stream, 10182);
}

void TNRDVariant::LoadFromStream(TStream& stream) {
  Clear(bftUnknown);
  std::uint8_t type, flag, sizeBytes[4];
  ReadDataFromStream(&type, 1, stream, 10183);
  if (type >= kBaseFieldTypeCount) throw ENRDException(10183, "Invalid data type = %d", {static_cast<int>(type)});
  ReadDataFromStream(&flag, 1, stream, 10184);
  const auto t = static_cast<TNRDBaseFieldType>(type);
  if (flag != 0) {
    FDataType = t;
    return;
  }
  ReadDataFromStream(sizeBytes, 4, stream, 10185);
  const auto size = static_cast<std::int32_t>(GetLE32(sizeBytes));
  const std::int64_t left = stream.Size() - stream.Position();
  bool valid = size >= 0 && size <= left;
  if (valid) {
    switch (t) {
      case bftUnknown:
      case bftBFile: valid = size == 0; break;
      case bftChar:
      case bftVarchar: valid = size >= 1; break;
      case bftWideChar:
      case bftWideVarchar: valid = size >= 2 && size % 2 == 0; break;
      case bftBlob:
      case bftClob:
      case bftWideClob:
      case bftBytes:
      case bftVarBytes: break;
      default: valid = size == GetDataTypeSize(t, 0); break;
    }
  }
  if (!valid) throw ENRDException(10185, "Invalid data size = %d for data type '%s'", {size, BaseFieldTypeToSQLName(t)});
  FDataType = t;
  if (size == 0) return;
  auto* data = static_cast<std::uint8_t*>(MM().GetMem(size));
  try {
    ReadDataFromStream(data, size, stream, 10186);
  } catch (...) {
    MM().FreeMem(data);
    throw;
  }
  // Texts always end inside their data.
  if (t == bftChar || t == bftVarchar) data[size - 1] = 0;
  if (t == bftWideChar || t == bftWideVarchar) data[size - 1] = data[size - 2] = 0;
  FPData = data;
  FDataSize = size;
  FIsNull = false;
}

// ----- Typed access --------------------------------------------------------------------------------
TNRDVariant::View TNRDVariant::ViewAs(TNRDBaseFieldType t) const {
  View v;
  if (FDataType == t) {
    v.p = static_cast<const std::uint8_t*>(FPData);
    v.size = FDataSize;
    return v;
  }
  std::int32_t size = 0;
  void* buf = ConvertValue(FPData, FDataSize, FDataType, size, t);
  v.owned.reset(static_cast<std::uint8_t*>(buf));
  v.p = v.owned.get();
  v.size = size;
  return v;
}

namespace {
// An integer of any width stored into the little-endian bytes of integer type `t`, cut to its width
// as the conversion does.
void PutStoredInt(std::uint8_t* p, TNRDBaseFieldType t, std::int64_t v) {
  const auto u = static_cast<std::uint64_t>(v);
  switch (GetDataTypeSize(t, 0)) {
    case 1: p[0] = static_cast<std::uint8_t>(u); break;
    case 2: PutLE16(p, static_cast<std::uint16_t>(u)); break;
    case 4: PutLE32(p, static_cast<std::uint32_t>(u)); break;
    default: PutLE64(p, u); break;
  }
}
}  // namespace

void TNRDVariant::SetTyped(TNRDBaseFieldType t, const void* v, std::int32_t size, bool isEmptyText) {
  if (FDataType == t && FPData != nullptr && !IsStringBaseFieldType(t) && !FIsDataLinked && FDataSize == size) {
    std::memcpy(FPData, v, static_cast<std::size_t>(size));
    FIsNull = false;
    return;
  }
  // An integer into a value of another integer type: converted in place (the conversion between
  // integer types only cuts or widens), without the conversion's own buffer.
  if (!FIsDataLinked && IsIntegerBaseFieldType(t) && IsIntegerBaseFieldType(FDataType) && size >= GetDataTypeSize(t, 0)) {
    const std::int32_t width = GetDataTypeSize(FDataType, 0);
    if (FPData == nullptr || FDataSize != width) {
      const TNRDBaseFieldType own = FDataType;
      Clear(own);
      FPData = MM().GetMem(width);
      FDataSize = width;
    }
    PutStoredInt(static_cast<std::uint8_t*>(FPData), FDataType, GetStoredInt(static_cast<const std::uint8_t*>(v), t));
    FIsNull = false;
    return;
  }
  TNRDBaseFieldType own = FDataType;
  Clear(own);
  if (own == bftUnknown) own = t;
  FDataType = own;
  if (isEmptyText) return;
  void* buffer;
  std::int32_t newSize = size;
  if (own == t) {
    buffer = MM().GetMem(size);
    std::memcpy(buffer, v, static_cast<std::size_t>(size));
  } else {
    buffer = ConvertValue(v, size, t, newSize, own);
  }
  FPData = buffer;
  FDataSize = newSize;
  FIsNull = false;
}

#define NRD_INT_GETTER(Name, CType, Type)        \
  CType TNRDVariant::Name() const {              \
    if (IsNull()) ValueIsNull();                 \
    if (IsIntegerBaseFieldType(Type) && IsIntegerBaseFieldType(FDataType) && FPData != nullptr && \
        FDataSize >= GetDataTypeSize(FDataType, 0)) /* integer to integer: cut or widened, no copy */ \
      return static_cast<CType>(GetStoredInt(static_cast<const std::uint8_t*>(FPData), FDataType)); \
    View v = ViewAs(Type);                       \
    return static_cast<CType>(GetStoredInt(v.p, Type)); \
  }
NRD_INT_GETTER(AsShortint, std::int8_t, bftSignedInt8)
NRD_INT_GETTER(AsSmallint, std::int16_t, bftSignedInt16)
NRD_INT_GETTER(AsInteger, std::int32_t, bftSignedInt32)
NRD_INT_GETTER(AsInt64, std::int64_t, bftSignedInt64)
NRD_INT_GETTER(AsByte, std::uint8_t, bftUnsignedInt8)
NRD_INT_GETTER(AsWord, std::uint16_t, bftUnsignedInt16)
NRD_INT_GETTER(AsCardinal, std::uint32_t, bftUnsignedInt32)
NRD_INT_GETTER(AsNRDDate, std::int32_t, bftDate)
NRD_INT_GETTER(AsNRDTime, std::int32_t, bftTime)
#undef NRD_INT_GETTER

float TNRDVariant::AsSingle() const {
  if (IsNull()) ValueIsNull();
  View v = ViewAs(bftSingle);
  return static_cast<float>(DecodeFloat(v.p, bftSingle));
}
double TNRDVariant::AsDouble() const {
  if (IsNull()) ValueIsNull();
  View v = ViewAs(bftDouble);
  return static_cast<double>(DecodeFloat(v.p, bftDouble));
}
long double TNRDVariant::AsExtended() const {
  if (IsNull()) ValueIsNull();
  View v = ViewAs(bftExtended);
  return DecodeFloat(v.p, bftExtended);
}
double TNRDVariant::AsCurrency() const {
  if (IsNull()) ValueIsNull();
  View v = ViewAs(bftCurrency);
  return static_cast<double>(DecodeFloat(v.p, bftCurrency));
}
bool TNRDVariant::AsBoolean() const {
  if (IsNull()) ValueIsNull();
  View v = ViewAs(bftLogical);
  return GetLE16(v.p) != 0;
}
TNRDDateTime TNRDVariant::AsNRDDateTime() const {
  if (IsNull()) ValueIsNull();
  View v = ViewAs(bftDateTime);
  return TNRDDateTime::Decode(v.p);
}
TDateTime TNRDVariant::AsTDate() const { return NRDDateToDateTime(AsNRDDate()); }
TDateTime TNRDVariant::AsTTime() const { return NRDTimeToDateTime(AsNRDTime()); }
TDateTime TNRDVariant::AsTDateTime() const { return NRDDateTimeToDateTime(AsNRDDateTime()); }

std::string TNRDVariant::AsAnsiString() const {
  if (IsNull()) return std::string();
  View v = ViewAs(bftVarchar);
  return std::string(reinterpret_cast<const char*>(v.p), static_cast<std::size_t>(AnsiLength(v.p, v.size)));
}

std::u16string TNRDVariant::AsWideString() const {
  if (IsNull()) return std::u16string();
  View v = ViewAs(bftWideVarchar);
  std::int32_t n = WideLength(v.p, v.size);
  std::u16string r(static_cast<std::size_t>(n), u'\0');
  for (std::int32_t i = 0; i < n; ++i) r[static_cast<std::size_t>(i)] = static_cast<char16_t>(GetLE16(v.p + 2 * i));
  return r;
}

#define NRD_FIXED_SETTER(Name, CType, Type, IntExpr, FloatExpr) \
  void TNRDVariant::Name(CType v) {                              \
    std::uint8_t buf[16];                                        \
    std::int32_t n = EncodeFixed(buf, Type, IntExpr, FloatExpr); \
    SetTyped(Type, buf, n, false);                               \
  }
NRD_FIXED_SETTER(SetAsShortint, std::int8_t, bftSignedInt8, v, 0)
NRD_FIXED_SETTER(SetAsSmallint, std::int16_t, bftSignedInt16, v, 0)
NRD_FIXED_SETTER(SetAsInteger, std::int32_t, bftSignedInt32, v, 0)
NRD_FIXED_SETTER(SetAsInt64, std::int64_t, bftSignedInt64, v, 0)
NRD_FIXED_SETTER(SetAsByte, std::uint8_t, bftUnsignedInt8, v, 0)
NRD_FIXED_SETTER(SetAsWord, std::uint16_t, bftUnsignedInt16, v, 0)
NRD_FIXED_SETTER(SetAsCardinal, std::uint32_t, bftUnsignedInt32, static_cast<std::int64_t>(v), 0)
NRD_FIXED_SETTER(SetAsSingle, float, bftSingle, 0, v)
NRD_FIXED_SETTER(SetAsDouble, double, bftDouble, 0, v)
NRD_FIXED_SETTER(SetAsExtended, long double, bftExtended, 0, v)
NRD_FIXED_SETTER(SetAsCurrency, double, bftCurrency, 0, v)
NRD_FIXED_SETTER(SetAsNRDDate, std::int32_t, bftDate, v, 0)
NRD_FIXED_SETTER(SetAsNRDTime, std::int32_t, bftTime, v, 0)
NRD_FIXED_SETTER(SetAsBoolean, bool, bftLogical, v ? 0xFFFF : 0, 0)
#undef NRD_FIXED_SETTER

void TNRDVariant::SetAsNRDDateTime(const TNRDDateTime& v) {
  std::uint8_t buf[8];
  v.Encode(buf);
  SetTyped(bftDateTime, buf, 8, false);
}
void TNRDVariant::SetAsTDate(TDateTime v) { SetAsNRDDate(DateTimeToNRDDate(v)); }
void TNRDVariant::SetAsTTime(TDateTime v) { SetAsNRDTime(DateTimeToNRDTime(v)); }
void TNRDVariant::SetAsTDateTime(TDateTime v) { SetAsNRDDateTime(DateTimeToNRDDateTime(v)); }

void TNRDVariant::SetAsAnsiString(std::string_view v) {
  std::size_t zero = v.find('\0');
  if (zero != std::string_view::npos) v = v.substr(0, zero);
  if (v.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
    throw ENRDException(30015, "GetMem error: %s", {kOutOfMemoryText});
  std::string bytes(v);
  bytes.push_back('\0');
  SetTyped(bftVarchar, bytes.data(), static_cast<std::int32_t>(bytes.size()), v.empty());
}

void TNRDVariant::SetAsWideString(std::u16string_view v) {
  std::size_t zero = v.find(u'\0');
  if (zero != std::u16string_view::npos) v = v.substr(0, zero);
  if (v.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() / 2))
    throw ENRDException(30015, "GetMem error: %s", {kOutOfMemoryText});
  std::vector<std::uint8_t> bytes((v.size() + 1) * 2, 0);
  for (std::size_t i = 0; i < v.size(); ++i) PutLE16(&bytes[2 * i], v[i]);
  SetTyped(bftWideVarchar, bytes.data(), static_cast<std::int32_t>(bytes.size()), v.empty());
}

// ----- Variants -----------------------------------------------------------------------------------
TVariantValue TNRDVariant::AsVariant() const {
  if (IsNull()) return TVariantValue::Null();
  switch (FDataType) {
    case bftChar:
    case bftVarchar: {
      TVariantValue r{varString};
      r.Ansi = AsAnsiString();
      return r;
    }
    case bftWideChar:
    case bftWideVarchar: {
      TVariantValue r{varUString};
      r.Wide = AsWideString();
      return r;
    }
    case bftSignedInt8: return TVariantValue::Of(varShortInt, AsShortint());
    case bftSignedInt16: return TVariantValue::Of(varSmallint, AsSmallint());
    case bftSignedInt32: return TVariantValue::Of(varInteger, AsInteger());
    case bftSignedInt64: return TVariantValue::Of(varInt64, AsInt64());
    case bftUnsignedInt8: return TVariantValue::Of(varByte, AsByte());
    case bftUnsignedInt16: return TVariantValue::Of(varWord, AsWord());
    case bftUnsignedInt32: return TVariantValue::Of(varLongWord, AsCardinal());
    case bftSingle:
    case bftDouble:
    case bftExtended:
    case bftCurrency: return TVariantValue::OfFloat(varDouble, AsDouble());
    case bftDate: return TVariantValue::OfFloat(varDate, AsTDate());
    case bftTime: return TVariantValue::OfFloat(varDate, AsTTime());
    case bftDateTime: return TVariantValue::OfFloat(varDate, AsTDateTime());
    case bftLogical: return TVariantValue::Of(varBoolean, AsBoolean() ? 1 : 0);
    case bftBlob: {
      TVariantValue r{varString};
      r.Ansi.assign(static_cast<const char*>(FPData), static_cast<std::size_t>(FDataSize));
      return r;
    }
    default:
      throw ENRDException(30114, "Unsupported Variant Type %s", {BaseFieldTypeToSQLName(FDataType)});
  }
}

void TNRDVariant::SetAsVariant(const TVariantValue& v) {
  switch (v.VType) {
    case varEmpty:
    case varNull: SetNull(FDataType); return;
    case varSmallint: SetAsSmallint(static_cast<std::int16_t>(v.Int)); return;
    case varInteger: SetAsInteger(static_cast<std::int32_t>(v.Int)); return;
    case varSingle: SetAsSingle(static_cast<float>(v.Float)); return;
    case varDouble: SetAsDouble(v.Float); return;
    case varCurrency: SetAsCurrency(v.Float); return;
    case varDate: SetAsTDateTime(v.Float); return;
    case varOleStr: SetAsWideString(v.Wide); return;
    case varBoolean: SetAsBoolean(v.Int != 0); return;
    case varShortInt: SetAsShortint(static_cast<std::int8_t>(v.Int)); return;
    case varByte: SetAsByte(static_cast<std::uint8_t>(v.Int)); return;
    case varWord: SetAsWord(static_cast<std::uint16_t>(v.Int)); return;
    case varLongWord: SetAsCardinal(static_cast<std::uint32_t>(v.Int)); return;
    case varInt64: SetAsInt64(v.Int); return;
    default:
      if (v.VType == varUString) {
        SetAsWideString(v.Wide);
        return;
      }
      if (v.VType >= 256 && v.VType <= 287) {
        SetAsAnsiString(v.Ansi);
        return;
      }
      throw ENRDException(30113, "Unsupported Variant Type %s", {IntToStr(v.VType)});
  }
}

// ----- Arithmetic ----------------------------------------------------------------------------------
void TNRDVariant::InvertValue() {
  if (IsNull()) return;
  switch (FDataType) {
    case bftSignedInt8: SetAsShortint(WrapNeg<std::int8_t>(AsShortint())); break;
    case bftSignedInt16: SetAsSmallint(WrapNeg<std::int16_t>(AsSmallint())); break;
    case bftSignedInt32: SetAsInteger(CheckedNeg32(AsInteger())); break;
    case bftSignedInt64: SetAsInt64(CheckedNeg64(AsInt64())); break;
    case bftUnsignedInt8: SetAsByte(WrapNeg<std::uint8_t>(AsByte())); break;
    case bftUnsignedInt16: SetAsWord(WrapNeg<std::uint16_t>(AsWord())); break;
    case bftUnsignedInt32: SetAsCardinal(WrapNeg<std::uint32_t>(AsCardinal())); break;
    case bftSingle: SetAsSingle(-AsSingle()); break;
    case bftDouble: SetAsDouble(-AsDouble()); break;
    case bftExtended: SetAsExtended(-AsExtended()); break;
    case bftCurrency: SetAsCurrency(-AsCurrency()); break;
    case bftDate: SetAsNRDDate(WrapNeg<std::int32_t>(AsNRDDate())); break;
    case bftLogical: SetAsBoolean(!AsBoolean()); break;
    default:
      throw ENRDException(30123, "Cannot invert value with not numeric type '%s'", {BaseFieldTypeToSQLName(FDataType)});
  }
}

void TNRDVariant::Add(const TNRDVariant& value) {
  if (value.IsNull()) {
    if (!IsStringDataType()) SetNull(FDataType);
    return;
  }
  if (IsNull()) {
    if (IsStringDataType()) Assign(value, true);
    return;
  }
  Arithmetic(value, Op::Add);
}

void TNRDVariant::Sub(const TNRDVariant& value) {
  if (value.IsNull()) {
    SetNull(FDataType);
    return;
  }
  if (IsNull()) return;
  Arithmetic(value, Op::Sub);
}

void TNRDVariant::Mul(const TNRDVariant& value) {
  if (value.IsNull()) {
    SetNull(FDataType);
    return;
  }
  if (IsNull()) return;
  Arithmetic(value, Op::Mul);
}

void TNRDVariant::Division(const TNRDVariant& value) {
  if (value.IsNull()) {
    SetNull(FDataType);
    return;
  }
  if (IsNull()) return;
  try {
    Arithmetic(value, Op::Div);
  } catch (const ENRDException&) {
    throw;
  } catch (const std::exception& e) {
    throw ENRDException(30128, "Division error: %s", {e.what()});
  }
}

namespace {

std::int64_t IntOp(std::int64_t a, std::int64_t b, int op, bool isUnsigned) {
  switch (op) {
    case 0: return WrapAdd(a, b);
    case 1: return WrapSub(a, b);
    case 2: return WrapMul(a, b);
    default:
      if (isUnsigned) return static_cast<std::int64_t>(CheckedDivU64(static_cast<std::uint64_t>(a), static_cast<std::uint64_t>(b)));
      return CheckedDiv64(a, b);
  }
}

std::int32_t Wrap32(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v))); }

}  // namespace

void TNRDVariant::Arithmetic(const TNRDVariant& value, Op op) {
  static const char* const kSymbols[] = {"+", "-", "*", "/"};
  static const int kCodes[] = {30124, 30125, 30126, 30127};
  const int o = static_cast<int>(op);
  const TNRDBaseFieldType t = GetResultDataType(FDataType, value.FDataType, false);
  Cast(t);
  auto notNumeric = [&]() {
    throw ENRDException(kCodes[o], "Not numeric argument in numeric operator '%s'", {kSymbols[o]});
  };
  switch (t) {
    case bftChar:
    case bftVarchar:
      if (op != Op::Add) notNumeric();
      SetAsAnsiString(AsAnsiString() + value.AsAnsiString());
      return;
    case bftWideChar:
    case bftWideVarchar:
      if (op != Op::Add) notNumeric();
      SetAsWideString(AsWideString() + value.AsWideString());
      return;
    case bftSignedInt8:
    case bftSignedInt16:
    case bftSignedInt32:
    case bftSignedInt64:
    case bftUnsignedInt8:
    case bftUnsignedInt16:
    case bftUnsignedInt32:
    case bftDate:
    case bftTime: {
      const std::int64_t a = GetStoredInt(static_cast<const std::uint8_t*>(FPData), t);
      View v = value.ViewAs(t);
      const std::int64_t b = GetStoredInt(v.p, t);
      std::int64_t r;
      if ((t == bftSignedInt32 || t == bftDate || t == bftTime) && op == Op::Div) {
        // 32-bit quotient: the smallest value divided by -1 wraps in the width.
        r = Wrap32(CheckedDiv64(a, b));
      } else {
        r = IntOp(a, b, o, IsUnsignedIntType(t));
      }
      std::uint8_t buf[8];
      std::int32_t n = EncodeFixed(buf, t, r, 0);
      SetTyped(t, buf, n, false);
      return;
    }
    case bftSingle:
    case bftDouble:
    case bftExtended:
    case bftCurrency: {
      const long double a = DecodeFloat(static_cast<const std::uint8_t*>(FPData), t);
      View v = value.ViewAs(t);
      const long double b = DecodeFloat(v.p, t);
      long double r;
      switch (op) {
        case Op::Add: r = a + b; break;
        case Op::Sub: r = a - b; break;
        case Op::Mul: r = a * b; break;
        default: r = CheckedFloatDiv(a, b); break;
      }
      if (std::isfinite(a) && std::isfinite(b)) CheckFloat(r);
      std::uint8_t buf[16];
      std::int32_t n = EncodeFixed(buf, t, 0, r);
      SetTyped(t, buf, n, false);
      return;
    }
    case bftDateTime: {
      const TNRDDateTime a = AsNRDDateTime();
      const TNRDDateTime b = value.AsNRDDateTime();
      std::int64_t days, ms;
      switch (op) {
        case Op::Add: days = std::int64_t{a.Date} + b.Date; ms = std::int64_t{a.Time} + b.Time; break;
        case Op::Sub: days = std::int64_t{a.Date} - b.Date; ms = std::int64_t{a.Time} - b.Time; break;
        case Op::Mul: days = std::int64_t{a.Date} * b.Date; ms = std::int64_t{a.Time} * b.Time; break;
        default: days = CheckedDiv64(a.Date, b.Date); ms = CheckedDiv64(a.Time, b.Time); break;
      }
      if (ms >= 86400000) {
        days += ms / 86400000;
        ms %= 86400000;
      }
      SetAsNRDDateTime(TNRDDateTime{Wrap32(days), Wrap32(ms)});
      return;
    }
    case bftLogical:
      SetAsBoolean(AsBoolean() || value.AsBoolean());
      return;
    default:
      notNumeric();
  }
}

TNRDCompareResult TNRDVariant::Compare(const TNRDVariant& value, bool trueFalseNullLogic, bool caseInsensitive,
                                       bool partialKey) const {
  const std::int32_t partialLength = partialKey ? value.StrLen() : -1;
  TNRDCompareResult r = CompareValues(FPData, value.FPData, FDataType, value.FDataType, IsNull(), value.IsNull(),
                                      partialLength, caseInsensitive, LOCALE_USER_DEFAULT, FDataSize, value.FDataSize);
  if (trueFalseNullLogic) return r;
  if (r == cmprLeftNull) return cmprLower;
  if (r == cmprRightNull) return cmprGreater;
  if (r == cmprBothNull) return cmprEqual;
  return r;
}

// ----- Raw comparison ---------------------------------------------------------------------------------
namespace {

template <typename T> TNRDCompareResult Order(T a, T b) {
  return a < b ? cmprLower : (b < a ? cmprGreater : cmprEqual);
}

// Floats in a total order an index can use: NaN sorts below every number and equals only NaN.
TNRDCompareResult OrderFloat(long double a, long double b) {
  const bool nanA = std::isnan(a), nanB = std::isnan(b);
  if (nanA || nanB) return nanA && nanB ? cmprEqual : nanA ? cmprLower : cmprGreater;
  return Order(a, b);
}

std::int32_t Partial(std::int32_t length, std::int32_t partialLength) {
  return partialLength >= 0 && partialLength < length ? partialLength : length;
}

}  // namespace

TNRDCompareResult CompareValues(const void* buffer1, const void* buffer2, TNRDBaseFieldType type1,
                                TNRDBaseFieldType type2, bool isNull1, bool isNull2, std::int32_t partialLength,
                                bool caseInsensitive, int locale, std::int32_t size1, std::int32_t size2) {
  if (isNull1 && isNull2) return cmprBothNull;
  if (isNull1) return cmprLeftNull;
  if (isNull2) return cmprRightNull;
  if (buffer1 == nullptr || buffer2 == nullptr) throw ENRDException(30140, "Value is Null");
  TNRDBaseFieldType t = type1;
  TNRDMemoryPtr owned1, owned2;
  if (type1 != type2 || type1 == bftClob || type1 == bftWideClob) {
    t = GetResultDataType(type1, type2, true);
    if (t == bftUnknown)
      throw ENRDException(30044, "Cannot compare Incompatible DataTypes: '%s' and '%s'",
                          {BaseFieldTypeToSQLName(type1), BaseFieldTypeToSQLName(type2)});
    if (type1 != t) {
      owned1.reset(static_cast<std::uint8_t*>(ConvertValue(buffer1, size1, type1, size1, t)));
      buffer1 = owned1.get();
    }
    if (type2 != t) {
      owned2.reset(static_cast<std::uint8_t*>(ConvertValue(buffer2, size2, type2, size2, t)));
      buffer2 = owned2.get();
    }
  }
  const auto* p1 = static_cast<const std::uint8_t*>(buffer1);
  const auto* p2 = static_cast<const std::uint8_t*>(buffer2);
  // Fixed-size values must hold their width when the size is known.
  auto needs = [&](std::int32_t width) {
    if ((size1 >= 0 && size1 < width) || (size2 >= 0 && size2 < width)) throw ENRDException(30140, "Value is Null");
  };
  const unsigned flags = SORT_STRINGSORT | (caseInsensitive ? NORM_IGNORECASE : 0u);
  switch (t) {
    case bftChar:
    case bftVarchar:
    case bftBytes: {
      std::int32_t n1 = Partial(t == bftBytes && size1 >= 0 ? size1 : AnsiLength(p1, size1), partialLength);
      std::int32_t n2 = Partial(t == bftBytes && size2 >= 0 ? size2 : AnsiLength(p2, size2), partialLength);
      int r = CompareStringA(locale, flags, reinterpret_cast<const char*>(p1), n1, reinterpret_cast<const char*>(p2), n2);
      if (r < 1 || r > 3) throw ENRDException(30045, "Unknown return code: %d", {r});
      return r == 1 ? cmprLower : r == 2 ? cmprEqual : cmprGreater;
    }
    case bftWideChar:
    case bftWideVarchar: {
      std::int32_t n1 = Partial(WideLength(p1, size1), partialLength);
      std::int32_t n2 = Partial(WideLength(p2, size2), partialLength);
      // The units are copied out (on the stack when short) so that the comparison sees aligned
      // UTF-16 text.
      char16_t small1[128], small2[128];
      std::u16string big1, big2;
      char16_t* w1 = small1;
      char16_t* w2 = small2;
      if (n1 > 128) {
        big1.resize(static_cast<std::size_t>(n1));
        w1 = big1.data();
      }
      if (n2 > 128) {
        big2.resize(static_cast<std::size_t>(n2));
        w2 = big2.data();
      }
      std::memcpy(w1, p1, static_cast<std::size_t>(n1) * 2);
      std::memcpy(w2, p2, static_cast<std::size_t>(n2) * 2);
      int r = WideCompareStringProc(LOCALE_USER_DEFAULT, flags, w1, n1, w2, n2);
      if (r < 1 || r > 3)
        throw ENRDException(30046,
                            "Unicode is not available on this version of Windows. Put the file \"unicows.dll\" "
                            "into the application's folder");
      return r == 1 ? cmprLower : r == 2 ? cmprEqual : cmprGreater;
    }
    case bftSignedInt8:
    case bftSignedInt16:
    case bftSignedInt32:
    case bftSignedInt64:
    case bftUnsignedInt8:
    case bftUnsignedInt16:
    case bftUnsignedInt32:
    case bftDate:
    case bftTime:
      needs(GetDataTypeSize(t, 0));
      return Order(GetStoredInt(p1, t), GetStoredInt(p2, t));
    case bftSingle:
    case bftDouble:
    case bftExtended:
    case bftCurrency:
      needs(GetDataTypeSize(t, 0));
      return OrderFloat(DecodeFloat(p1, t), DecodeFloat(p2, t));
    case bftDateTime: {
      needs(8);
      const TNRDDateTime a = TNRDDateTime::Decode(p1), b = TNRDDateTime::Decode(p2);
      TNRDCompareResult r = Order(a.Date, b.Date);
      return r != cmprEqual ? r : Order(a.Time, b.Time);
    }
    case bftLogical:
      needs(2);
      return Order(GetLE16(p1) != 0, GetLE16(p2) != 0);
    default:
      throw ENRDException(30047, "Unknown DataType: '%s'", {BaseFieldTypeToSQLName(t)});
  }
}

int CompareKeyValuesGeneral(const void* buffer1, const void* buffer2, TNRDBaseFieldType type1,
                            TNRDBaseFieldType type2, bool isNull1, bool isNull2, std::int32_t partialLength,
                            bool caseInsensitive, int locale, std::int32_t size1, std::int32_t size2) {
  switch (CompareValues(buffer1, buffer2, type1, type2, isNull1, isNull2, partialLength, caseInsensitive, locale,
                        size1, size2)) {
    case cmprLower:
    case cmprLeftNull: return -1;
    case cmprGreater:
    case cmprRightNull: return 1;
    default: return 0;
  }
}

}  // namespace nrd
