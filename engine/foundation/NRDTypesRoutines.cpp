// Value sizes, value copies and wide-text entry points.
#include "engine/foundation/NRDTypesRoutines.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "engine/foundation/NRDConverts.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDText.h"

namespace nrd {

static_assert(std::numeric_limits<long double>::digits == 64, "x87 extended precision expected");

TWideCompareStringProc WideCompareStringProc = &CompareStringW;
TWideCaseProc WideUpperCaseProc = &CharUpperBuffW;
TWideCaseProc WideLowerCaseProc = &CharLowerBuffW;

std::int32_t GetDataTypeSize(TNRDBaseFieldType dataType, std::int32_t length) {
  switch (dataType) {
    case bftChar:
    case bftVarchar:
    case bftBytes:
    case bftVarBytes:
      return CheckedAdd32(length, 1);
    case bftWideChar:
    case bftWideVarchar:
      return CheckedMul32(CheckedAdd32(length, 1), 2);
    case bftSignedInt8:
    case bftUnsignedInt8:
      return 1;
    case bftSignedInt16:
    case bftUnsignedInt16:
    case bftLogical:
      return 2;
    case bftSignedInt32:
    case bftUnsignedInt32:
    case bftSingle:
    case bftDate:
    case bftTime:
      return 4;
    case bftSignedInt64:
    case bftDouble:
    case bftDateTime:
    case bftCurrency:
      return 8;
    case bftExtended:
    case bftBlob:
    case bftClob:
    case bftWideClob:
      return 10;
    default:
      throw ENRDException(30050, "Unknown DataType: '%s'", {BaseFieldTypeToSQLName(dataType)});
  }
}

namespace {

// Allocates `size` bytes and fills them; the failure rules of CopyValueToNewBuffer.
template <typename Fill> void NewBuffer(std::int64_t size, void*& buffer, std::int32_t& outSize, Fill fill) {
  buffer = nullptr;
  void* p;
  try {
    p = GlobalMemoryManager().GetMem(size);
  } catch (...) {
    return;
  }
  try {
    fill(static_cast<std::uint8_t*>(p));
  } catch (...) {
    GlobalMemoryManager().FreeMem(p);
    throw ENRDException(30054, "Cannot copy data into new memory");
  }
  buffer = p;
  outSize = static_cast<std::int32_t>(size);
}

}  // namespace

void CopyValueToNewBuffer(TNRDBaseFieldType dataType, std::string_view value, void*& buffer, std::int32_t& size) {
  buffer = nullptr;
  std::size_t zero = value.find('\0');
  if (zero != std::string_view::npos) value = value.substr(0, zero);
  std::int32_t n;
  try {
    if (value.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() - 2)) return;
    n = GetDataTypeSize(dataType, static_cast<std::int32_t>(value.size()));
  } catch (...) {
    return;
  }
  NewBuffer(n, buffer, size, [&](std::uint8_t* p) {
    std::memcpy(p, value.data(), value.size());
    std::memset(p + value.size(), 0, static_cast<std::size_t>(n) - value.size());
  });
}

void CopyValueToNewBuffer(TNRDBaseFieldType dataType, std::u16string_view value, void*& buffer, std::int32_t& size) {
  buffer = nullptr;
  std::size_t zero = value.find(u'\0');
  if (zero != std::u16string_view::npos) value = value.substr(0, zero);
  std::int32_t n;
  try {
    if (value.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() / 2 - 2)) return;
    n = GetDataTypeSize(dataType, static_cast<std::int32_t>(value.size()));
  } catch (...) {
    return;
  }
  NewBuffer(n, buffer, size, [&](std::uint8_t* p) {
    std::size_t bytes = std::min<std::size_t>(value.size() * 2, static_cast<std::size_t>(n));
    std::memcpy(p, value.data(), bytes);
    std::memset(p + bytes, 0, static_cast<std::size_t>(n) - bytes);
  });
}

void CopyValueToNewBuffer(TNRDBaseFieldType dataType, const void* value, void*& buffer, std::int32_t& size) {
  buffer = nullptr;
  std::int32_t n;
  try {
    n = GetDataTypeSize(dataType, 0);
  } catch (...) {
    return;
  }
  NewBuffer(n, buffer, size, [&](std::uint8_t* p) {
    if (value == nullptr) throw ERangeError("nil value");
    std::memcpy(p, value, static_cast<std::size_t>(n));
  });
}

std::u16string UpperCaseWide(std::u16string_view s) {
  std::u16string r(s);
  if (!r.empty()) WideUpperCaseProc(r.data(), static_cast<std::int32_t>(r.size()));
  return r;
}

std::u16string LowerCaseWide(std::u16string_view s) {
  std::u16string r(s);
  if (!r.empty()) WideLowerCaseProc(r.data(), static_cast<std::int32_t>(r.size()));
  return r;
}

bool IsNanOrInfinity(long double value) { return std::isnan(value) || std::isinf(value); }

void PutExtended(std::uint8_t* p, long double v) {
  std::uint8_t raw[sizeof(long double)] = {};
  std::memcpy(raw, &v, sizeof v);
  std::memcpy(p, raw, 10);
}

std::int64_t GetStoredInt(const std::uint8_t* p, TNRDBaseFieldType t) {
  switch (t) {
    case bftSignedInt8: return static_cast<std::int8_t>(p[0]);
    case bftSignedInt16: return static_cast<std::int16_t>(GetLE16(p));
    case bftSignedInt32:
    case bftDate:
    case bftTime: return static_cast<std::int32_t>(GetLE32(p));
    case bftSignedInt64: return static_cast<std::int64_t>(GetLE64(p));
    case bftUnsignedInt8: return p[0];
    case bftUnsignedInt16: return GetLE16(p);
    case bftUnsignedInt32: return GetLE32(p);
    default: return 0;
  }
}

long double GetExtended(const std::uint8_t* p) {
  std::uint8_t raw[sizeof(long double)] = {};
  std::memcpy(raw, p, 10);
  long double v;
  std::memcpy(&v, raw, sizeof v);
  return v;
}

}  // namespace nrd
