// The engine's three type systems related through one table of SQL type names (storage types,
// column types and the data-set field types), the type predicates, the engine date/time <->
// platform date-time conversions, the ISO date and time parsers, the LIKE matchers, and the
// result-type rule and value conversion between storage types (GetResultDataType, ConvertValue).
//
// Engine date: Int32 day number D = platform serial + 693,594 (D = 1 is 0001-01-01), with
// -2,147,483,648 for no date. Engine time: Int32 milliseconds since midnight.
// Before 1899-12-30 the platform serial is negative and its fraction still counts forward from
// midnight: 1899-12-29 12:00 is -1.5, engine {693593, 43200000}.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/foundation/NRDRuntime.h"
#include "engine/foundation/NRDTypes.h"

namespace nrd {

// Field types of the data-set framework, with their customary ordinals.
enum TFieldType : std::uint8_t {
  ftUnknown, ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat, ftCurrency, ftBCD, ftDate,
  ftTime, ftDateTime, ftBytes, ftVarBytes, ftAutoInc, ftBlob, ftMemo, ftGraphic, ftFmtMemo,
  ftParadoxOle, ftDBaseOle, ftTypedBinary, ftCursor, ftFixedChar, ftWideString, ftLargeint, ftADT,
  ftArray, ftReference, ftDataSet, ftOraBlob, ftOraClob, ftVariant, ftInterface, ftIDispatch, ftGuid,
  ftTimeStamp, ftFMTBcd, ftFixedWideChar, ftWideMemo, ftOraTimeStamp, ftOraInterval, ftLongWord,
  ftShortint, ftByte, ftExtended, ftConnection, ftParams, ftStream, ftTimeStampOffset, ftObject,
  ftSingle
};

struct TSQLFieldType {
  const char* SqlName;
  TNRDAdvancedFieldType AdvancedFieldType;
  TNRDBaseFieldType BaseFieldType;
  TFieldType FieldType;
};
inline constexpr int kSQLFieldTypeCount = 62;
extern const TSQLFieldType SQLFieldTypeTable[kSQLFieldTypeCount];

// Lookups: the first row whose key matches.
TNRDBaseFieldType AdvancedToBaseFieldType(TNRDAdvancedFieldType aft);      // bftUnknown when none
TNRDAdvancedFieldType BaseToAdvancedFieldType(TNRDBaseFieldType bft);      // aftUnknown when none
TNRDAdvancedFieldType FieldTypeToAdvancedFieldType(TFieldType ft);         // 30289 when none
TFieldType AdvancedFieldTypeToFieldType(TNRDAdvancedFieldType aft);        // ftUnknown when none
std::string AdvancedFieldTypeToSQLName(TNRDAdvancedFieldType aft);         // "Unknown" when none
std::string BaseFieldTypeToSQLName(TNRDBaseFieldType bft);                 // "Unknown" when none

bool IsBlobBaseFieldType(TNRDBaseFieldType t);
bool IsStringBaseFieldType(TNRDBaseFieldType t);
bool IsWideStringBaseFieldType(TNRDBaseFieldType t);
bool IsNumericBaseFieldType(TNRDBaseFieldType t);
bool IsDateTimeBaseFieldType(TNRDBaseFieldType t);
bool IsIntegerBaseFieldType(TNRDBaseFieldType t);
bool IsFloatBaseFieldType(TNRDBaseFieldType t);
bool IsBlobAdvancedFieldType(TNRDAdvancedFieldType t);
bool IsStringAdvancedFieldType(TNRDAdvancedFieldType t);
bool IsWideStringAdvancedFieldType(TNRDAdvancedFieldType t);
bool IsBytesAdvancedFieldType(TNRDAdvancedFieldType t);
bool IsAutoIncAdvancedFieldType(TNRDAdvancedFieldType t);
bool IsNumericAdvancedFieldType(TNRDAdvancedFieldType t);
bool IsDateTimeAdvancedFieldType(TNRDAdvancedFieldType t);
bool IsSizedAdvancedFieldType(TNRDAdvancedFieldType t);
bool IsConvertibleAdvancedFieldType(TNRDAdvancedFieldType t);

// Engine date/time <-> platform date-time. Out-of-range values raise ERangeError.
inline constexpr std::int32_t kNRDDateDelta = 693594;
TDateTime NRDDateToDateTime(std::int32_t d);
std::int32_t DateTimeToNRDDate(TDateTime t);
TDateTime NRDTimeToDateTime(std::int32_t ms);
std::int32_t DateTimeToNRDTime(TDateTime t);  // a fraction that rounds to 86,400,000 stays so
TDateTime NRDDateTimeToDateTime(const TNRDDateTime& dt);
TNRDDateTime DateTimeToNRDDateTime(TDateTime t);

// ISO parsers: digit groups of exact lengths separated by any single non-digit; at most one
// trailing non-digit. An impossible date or time raises EConvertError from the encoding.
bool ReadDigitGroup(std::string_view s, int count, std::uint16_t& value, std::size_t& pos);  // pos 1-based
bool TryParseISODate(std::string_view s, TDateTime& value);
bool TryParseISOTime(std::string_view s, TDateTime& value);
bool TryParseISODateTime(std::string_view s, TDateTime& value);

// LIKE: "%" any run (also empty), "_" one character, escapeChar makes the next pattern character
// literal; characters compare through the locale comparison (case ignored on request). Runs in
// O(len(value) x len(pattern)) at worst.
bool MatchLikeAnsi(std::string_view value, std::string_view pattern, bool useEscape, char escapeChar,
                   bool caseInsensitive);
bool MatchLikeWide(std::u16string_view value, std::u16string_view pattern, bool useEscape, char16_t escapeChar,
                   bool caseInsensitive);

// ----- Result types and casts ---------------------------------------------------------------
// The storage type in which a binary operation (forComparison false) or a comparison (true) on
// the two types is carried out; bftUnknown when they cannot be combined.
TNRDBaseFieldType GetResultDataType(TNRDBaseFieldType left, TNRDBaseFieldType right, bool forComparison);
TNRDAdvancedFieldType GetResultAdvancedDataType(TNRDAdvancedFieldType left, TNRDAdvancedFieldType right,
                                                bool forComparison);
// True when a value of `source` converts to `dest` (the pair is listed).
bool IsConvertiblePair(TNRDBaseFieldType source, TNRDBaseFieldType dest);
// Converts `sourceSize` bytes (-1: a zero-terminated text or a fixed-size value) of `source` into a
// new GlobalMemoryManager block owned by the caller, in dest's encoding; destSize gets its size.
// A pair that is not listed raises 30052, a failure inside a listed one 30051, both
// "Cannot cast from '%s' to '%s'". Texts are never read beyond sourceSize when it is given.
void* ConvertValue(const void* source, std::int32_t sourceSize, TNRDBaseFieldType sourceType,
                   std::int32_t& destSize, TNRDBaseFieldType destType);
void* ConvertValueData(const void* source, std::int32_t sourceSize, TNRDBaseFieldType sourceType,
                       TNRDBaseFieldType destType);

}  // namespace nrd
