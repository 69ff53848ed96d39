// Small routines under the typed value: the buffer size of a value of each storage type, the copy
// of a native value into a new engine buffer, the wide-text case mapping and comparison entry
// points, and the NaN/infinity test of an 80-bit float.
// Thread safety: the entry points are set before any engine object exists and only read afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/foundation/NRDTypes.h"

namespace nrd {

// Entry points with the shapes of the platform's wide comparison and in-place case mapping;
// they default to the run-time layer's own routines (NRDText).
using TWideCompareStringProc = int (*)(int locale, unsigned flags, const char16_t* text1, int length1,
                                       const char16_t* text2, int length2);
using TWideCaseProc = std::int32_t (*)(char16_t* text, std::int32_t length);
extern TWideCompareStringProc WideCompareStringProc;
extern TWideCaseProc WideUpperCaseProc;
extern TWideCaseProc WideLowerCaseProc;

// Bytes of a value: texts and Bytes length + 1 (wide texts (length + 1) x 2), fixed types their
// width, Blob/Clob/WideClob 10. bftUnknown and BFile raise 30050 "Unknown DataType: '%s'".
std::int32_t GetDataTypeSize(TNRDBaseFieldType dataType, std::int32_t length);

// A new GlobalMemoryManager block with the value in the encoding of dataType; `size` gets its
// size. Narrow and wide texts are copied up to their first zero, with one zero added. A failure
// before the allocation leaves buffer nil (a NULL value to the caller); one after it raises
// 30054 "Cannot copy data into new memory".
void CopyValueToNewBuffer(TNRDBaseFieldType dataType, std::string_view value, void*& buffer, std::int32_t& size);
void CopyValueToNewBuffer(TNRDBaseFieldType dataType, std::u16string_view value, void*& buffer, std::int32_t& size);
// Fixed-size types: GetDataTypeSize(dataType, 0) bytes are read from `value`.
void CopyValueToNewBuffer(TNRDBaseFieldType dataType, const void* value, void*& buffer, std::int32_t& size);

std::u16string UpperCaseWide(std::u16string_view s);
std::u16string LowerCaseWide(std::u16string_view s);

bool IsNanOrInfinity(long double value);

// The 80-bit extended float as stored (10 bytes, little-endian).
static_assert(sizeof(long double) >= 10, "an x87 80-bit long double is required");
void PutExtended(std::uint8_t* p, long double v);
long double GetExtended(const std::uint8_t* p);

// The integer stored in the little-endian bytes of an integer, date or time type (sign-extended for
// the signed types); 0 for any other type.
std::int64_t GetStoredInt(const std::uint8_t* p, TNRDBaseFieldType t);

}  // namespace nrd
