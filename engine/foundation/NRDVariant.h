// TNRDVariant: the engine's typed value, one value of a storage type or NULL, held as raw bytes
// (the encodings below) in a GlobalMemoryManager block it owns, or viewing a foreign buffer
// ("linked", never freed or written by the value). Reads and writes through the As accessors
// convert between storage types; arithmetic and comparison follow the result-type rule.
//
// Encodings (little-endian): Char/Varchar ANSI bytes + zero byte; WideChar/WideVarchar UTF-16 + zero
// unit; integers two's complement 1/2/4/8; Single/Double/Extended 4/8/10; Date Int32 day number;
// Time Int32 ms; DateTime {Date, Time}; Logical UInt16 (0 false, written 0xFFFF); Currency double;
// Blob, Clob (ANSI), WideClob (UTF-16), Bytes, VarBytes raw bytes.
// An empty string is not stored: a text with DataSize <= 1 counts as empty and writing "" leaves
// the value NULL.
// Stream form: type u8 | null flag u8 (0xFF when null) | when not null: DataSize i32, the data.
// Integer arithmetic wraps in the result type; negating the smallest 32/64-bit value raises
// EIntOverflow; division errors become ENRDException 30128. Not thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/foundation/NRDConverts.h"
#include "engine/foundation/NRDTypes.h"

namespace nrd {

class TStream;

// The platform's variant value, as data-set fields and parameters hand values to the engine:
// a type code and the value of that code.
enum TVarType : std::uint16_t {
  varEmpty = 0, varNull = 1, varSmallint = 2, varInteger = 3, varSingle = 4, varDouble = 5,
  varCurrency = 6, varDate = 7, varOleStr = 8, varBoolean = 11, varShortInt = 16, varByte = 17,
  varWord = 18, varLongWord = 19, varInt64 = 20, varUInt64 = 21, varString = 256, varUString = 258
};
struct TVariantValue {
  TVariantValue() = default;
  explicit TVariantValue(std::uint16_t type) : VType(type) {}

  std::uint16_t VType = varEmpty;
  std::int64_t Int = 0;        // the integer codes and varBoolean (0/1)
  std::uint64_t UInt = 0;      // varUInt64
  double Float = 0;            // varSingle, varDouble, varCurrency, varDate (a date-time serial)
  std::string Ansi;            // varString and the other narrow string codes (256..287 but 258)
  std::u16string Wide;         // varOleStr, varUString

  static TVariantValue Null() { return TVariantValue{varNull}; }
  static TVariantValue Of(std::uint16_t type, std::int64_t v) {
    TVariantValue r{type};
    r.Int = v;
    return r;
  }
  static TVariantValue OfFloat(std::uint16_t type, double v) {
    TVariantValue r{type};
    r.Float = v;
    return r;
  }
};

class TNRDVariant {
 public:
  explicit TNRDVariant(TNRDBaseFieldType dataType = bftUnknown) : FDataType(dataType) {}
  ~TNRDVariant();
  TNRDVariant(const TNRDVariant&) = delete;
  TNRDVariant& operator=(const TNRDVariant&) = delete;
  // Moves take the buffer (owned or linked) and leave the source a NULL bftUnknown value.
  TNRDVariant(TNRDVariant&& other) noexcept;
  TNRDVariant& operator=(TNRDVariant&& other) noexcept;

  TNRDBaseFieldType DataType() const { return FDataType; }
  // A NULL value takes the type; a value is cast, and if the cast fails it becomes NULL of the type.
  void SetDataType(TNRDBaseFieldType dataType);
  std::int32_t DataSize() const { return FDataSize; }
  const void* pData() const { return FPData; }
  bool IsDataLinked() const { return FIsDataLinked; }
  bool IsNull() const { return FIsNull || FPData == nullptr; }

  // Frees an owned buffer (a linked one is dropped) and leaves a NULL value of the type.
  void Clear(TNRDBaseFieldType dataType);
  // Sets the null flag only; type, size and buffer stay.
  void SetNull(TNRDBaseFieldType dataType);
  void Assign(const TNRDVariant& source, bool copyData);
  // Copies (copyData) or links `size` bytes as a non-NULL value of `dataType`.
  void SetData(const void* buffer, std::int32_t size, TNRDBaseFieldType dataType, bool copyData);
  // False for NULL and for a text of at most one byte; 20056 when maxSize != -1 is too small.
  bool CopyDataToAddress(void* buffer, std::int32_t maxSize) const;
  // Converts in place; a failed conversion raises (30051/30052) and leaves the value unchanged.
  void Cast(TNRDBaseFieldType newDataType);

  bool IsNumericDataType() const { return IsNumericBaseFieldType(FDataType); }
  bool IsStringDataType() const { return IsStringBaseFieldType(FDataType); }
  bool IsWideStringDataType() const { return IsWideStringBaseFieldType(FDataType); }
  bool IsBlobDataType() const { return IsBlobBaseFieldType(FDataType); }
  bool IsDateTimeDataType() const { return IsDateTimeBaseFieldType(FDataType); }
  // Characters of a text value; -1 for other types and NULL.
  std::int32_t StrLen() const;
  void TryToReduceWideStringToAnsiString();

  // Save 10179/10180/10181/10182; load 10183/10184/10185/10186. A hostile stream (unknown type,
  // a size that is negative, beyond the stream, or wrong for the type) raises the load code.
  void SaveToStream(TStream& stream) const;
  void LoadFromStream(TStream& stream);

  // Reads raise 30016 "Value is Null" on NULL (texts read as empty); writes keep the value's type
  // and convert into it (a bftUnknown value takes the accessor's type).
  std::int8_t AsShortint() const;
  std::int16_t AsSmallint() const;
  std::int32_t AsInteger() const;
  std::int64_t AsInt64() const;
  std::uint8_t AsByte() const;
  std::uint16_t AsWord() const;
  std::uint32_t AsCardinal() const;
  std::uint32_t AsLongWord() const { return AsCardinal(); }
  float AsSingle() const;
  double AsDouble() const;
  long double AsExtended() const;
  std::string AsAnsiString() const;
  std::u16string AsWideString() const;
  std::int32_t AsNRDDate() const;
  std::int32_t AsNRDTime() const;
  TNRDDateTime AsNRDDateTime() const;
  TDateTime AsTDate() const;
  TDateTime AsTTime() const;
  TDateTime AsTDateTime() const;
  bool AsBoolean() const;
  bool AsLogical() const { return AsBoolean(); }
  double AsCurrency() const;

  void SetAsShortint(std::int8_t v);
  void SetAsSmallint(std::int16_t v);
  void SetAsInteger(std::int32_t v);
  void SetAsInt64(std::int64_t v);
  void SetAsByte(std::uint8_t v);
  void SetAsWord(std::uint16_t v);
  void SetAsCardinal(std::uint32_t v);
  void SetAsLongWord(std::uint32_t v) { SetAsCardinal(v); }
  void SetAsSingle(float v);
  void SetAsDouble(double v);
  void SetAsExtended(long double v);
  void SetAsAnsiString(std::string_view v);
  void SetAsWideString(std::u16string_view v);
  void SetAsNRDDate(std::int32_t v);
  void SetAsNRDTime(std::int32_t v);
  void SetAsNRDDateTime(const TNRDDateTime& v);
  void SetAsTDate(TDateTime v);
  void SetAsTTime(TDateTime v);
  void SetAsTDateTime(TDateTime v);
  void SetAsBoolean(bool v);
  void SetAsLogical(bool v) { SetAsBoolean(v); }
  void SetAsCurrency(double v);

  // NULL gives varNull; texts varString/varUString; integers their own codes; floats and Currency
  // varDouble; dates varDate; Logical varBoolean; a Blob its raw bytes as varString; other types
  // raise 30114 "Unsupported Variant Type %s" with the SQL name.
  TVariantValue AsVariant() const;
  // Empty and Null set NULL; other codes go through the accessor of their type; an unknown code
  // raises 30113 "Unsupported Variant Type %s" with the decimal code.
  void SetAsVariant(const TVariantValue& v);

  // Arithmetic in place (Self is the left operand).
  void InvertValue();
  void Add(const TNRDVariant& value);
  void Sub(const TNRDVariant& value);
  void Mul(const TNRDVariant& value);
  void Division(const TNRDVariant& value);
  TNRDCompareResult Compare(const TNRDVariant& value, bool trueFalseNullLogic, bool caseInsensitive,
                            bool partialKey) const;

 private:
  // Copies `size` bytes of storage type `t` from `v` into this value's type (SetTypedValue).
  void SetTyped(TNRDBaseFieldType t, const void* v, std::int32_t size, bool isEmptyText);
  // This value's bytes in type `t` (a new buffer when a conversion is needed).
  struct View;
  View ViewAs(TNRDBaseFieldType t) const;
  void ReplaceBuffer(void* buffer, std::int32_t size, TNRDBaseFieldType t);
  enum class Op { Add, Sub, Mul, Div };
  void Arithmetic(const TNRDVariant& value, Op op);

  TNRDBaseFieldType FDataType = bftUnknown;
  std::int32_t FDataSize = 0;
  void* FPData = nullptr;
  bool FIsDataLinked = false;
  bool FIsNull = true;
};

// Compares two raw values. Sizes (-1 = not known: texts end at their zero) keep every read inside
// the data. Both NULL: cmprBothNull; left NULL: cmprLeftNull; right NULL: cmprRightNull.
// Different types compare in GetResultDataType(.., true) (none: 30044); nil data raises 30140;
// texts compare through the locale collation (string sort, optional case insensitivity) over
// partialLength characters (-1: all; longer than a text: that text's own length).
// Floats: NaN sorts below every number and equals only NaN.
TNRDCompareResult CompareValues(const void* buffer1, const void* buffer2, TNRDBaseFieldType type1,
                                TNRDBaseFieldType type2, bool isNull1, bool isNull2, std::int32_t partialLength,
                                bool caseInsensitive, int locale, std::int32_t size1 = -1,
                                std::int32_t size2 = -1);
// -1 for lower or left NULL, 1 for greater or right NULL, 0 for equal or both NULL.
int CompareKeyValuesGeneral(const void* buffer1, const void* buffer2, TNRDBaseFieldType type1,
                            TNRDBaseFieldType type2, bool isNull1, bool isNull2, std::int32_t partialLength,
                            bool caseInsensitive, int locale, std::int32_t size1, std::int32_t size2);
inline int CompareKeyValues(const void* buffer1, const void* buffer2, TNRDBaseFieldType type1,
                            TNRDBaseFieldType type2, bool isNull1, bool isNull2, std::int32_t partialLength,
                            bool caseInsensitive, int locale, std::int32_t size1 = -1, std::int32_t size2 = -1) {
  // The common index key: two 32-bit signed values of one type, read without a detour.
  if (type1 == type2 && (type1 == bftSignedInt32 || type1 == bftDate || type1 == bftTime) && !isNull1 &&
      !isNull2 && buffer1 != nullptr && buffer2 != nullptr && (size1 < 0 || size1 >= 4) && (size2 < 0 || size2 >= 4)) {
    const auto* p1 = static_cast<const std::uint8_t*>(buffer1);
    const auto* p2 = static_cast<const std::uint8_t*>(buffer2);
    const auto a = static_cast<std::int32_t>(GetLE32(p1));
    const auto b = static_cast<std::int32_t>(GetLE32(p2));
    return (a > b) - (a < b);
  }
  return CompareKeyValuesGeneral(buffer1, buffer2, type1, type2, isNull1, isNull2, partialLength, caseInsensitive,
                                 locale, size1, size2);
}

// The value of an integer of any storage width, read from its little-endian bytes; false for other
// types, NULL or a short buffer. Inline: sorting, grouping and filters compare integers through it.
inline bool ReadStoredInteger(const TNRDVariant& v, std::int64_t& out) {
  if (v.IsNull()) return false;
  const auto* p = static_cast<const std::uint8_t*>(v.pData());
  std::int32_t width = 0;
  bool isSigned = true;
  switch (v.DataType()) {
    case bftSignedInt8: width = 1; break;
    case bftSignedInt16: width = 2; break;
    case bftSignedInt32: width = 4; break;
    case bftSignedInt64: width = 8; break;
    case bftUnsignedInt8: width = 1; isSigned = false; break;
    case bftUnsignedInt16: width = 2; isSigned = false; break;
    case bftUnsignedInt32: width = 4; isSigned = false; break;
    default: return false;
  }
  if (v.DataSize() < width) return false;
  std::uint64_t u = 0;
  for (std::int32_t i = 0; i < width; ++i) u |= static_cast<std::uint64_t>(p[i]) << (8 * i);
  if (isSigned && width < 8 && (u >> (8 * width - 1)) != 0) u |= ~std::uint64_t{0} << (8 * width);
  out = static_cast<std::int64_t>(u);
  return true;
}

}  // namespace nrd
