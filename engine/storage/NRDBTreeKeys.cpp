#include "engine/storage/NRDBTreeKeys.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDText.h"
#include "engine/foundation/NRDVariant.h"
#include "engine/storage/NRDFieldManager.h"
#include "engine/storage/NRDMetadata.h"
#include "engine/storage/NRDTableData.h"

namespace nrd {

namespace {

[[noreturn]] void InternalIndexError() { throw ENRDException(20020, "Internal index error"); }

bool IsTextType(TNRDBaseFieldType t) {
  return t == bftChar || t == bftVarchar || t == bftWideChar || t == bftWideVarchar;
}
bool IsWideTextType(TNRDBaseFieldType t) { return t == bftWideChar || t == bftWideVarchar; }

// Kept texts of two cut values are equal in their base letters (primary collation strength).
bool BaseLettersEqual(const TNRDKeyPart& part, const std::uint8_t* v1, const std::uint8_t* v2,
                      std::int32_t valueBytes) {
  const unsigned flags = SORT_STRINGSORT | NORM_IGNORECASE | NORM_IGNORENONSPACE;
  if (IsWideTextType(part.DataType)) {
    const std::int32_t n = valueBytes / 2;
    std::u16string a(static_cast<std::size_t>(n), u'\0'), b(static_cast<std::size_t>(n), u'\0');
    for (std::int32_t i = 0; i < n; ++i) {
      a[static_cast<std::size_t>(i)] = static_cast<char16_t>(v1[2 * i] | v1[2 * i + 1] << 8);
      b[static_cast<std::size_t>(i)] = static_cast<char16_t>(v2[2 * i] | v2[2 * i + 1] << 8);
    }
    return CompareStringW(LOCALE_USER_DEFAULT, flags, a.data(), n, b.data(), n) == CSTR_EQUAL;
  }
  return CompareStringA(LOCALE_USER_DEFAULT, flags, reinterpret_cast<const char*>(v1), valueBytes,
                        reinterpret_cast<const char*>(v2), valueBytes) == CSTR_EQUAL;
}

// True when a cut value has no terminator among its kept bytes (it may go on beyond them).
bool FillsKeptWidth(const TNRDKeyPart& part, const std::uint8_t* value, std::int32_t valueBytes) {
  if (IsWideTextType(part.DataType)) {
    for (std::int32_t i = 0; i + 1 < valueBytes; i += 2)
      if ((value[i] | value[i + 1]) == 0) return false;
    return true;
  }
  if (IsTextType(part.DataType)) return std::memchr(value, 0, static_cast<std::size_t>(valueBytes)) == nullptr;
  return true;
}

}  // namespace

// ----- TNRDKeyPath -------------------------------------------------------------------------------

void TNRDKeyPath::Assign(const TNRDKeyPath& source) {
  Count = source.Count;
  ItemNo = source.ItemNo;
  PositionType = source.PositionType;
  IndexState = source.IndexState;
  std::copy(source.Items, source.Items + std::clamp(source.Count, 0, kMaxKeyPathLevels), Items);
}

void TNRDKeyPath::AddItem(std::int32_t pageNo, std::int32_t entryNo, std::int32_t entryCount) {
  // A tree deeper than a path can hold only arises from damaged (circular) links.
  if (ItemNo < 0 || ItemNo >= kMaxKeyPathLevels) InternalIndexError();
  Items[ItemNo] = TNRDKeyPathItem{pageNo, entryNo, entryCount};
  ++ItemNo;
  ++Count;
  if (Count > kMaxKeyPathLevels) InternalIndexError();
}

bool TNRDKeyPath::PageExists(std::int32_t pageNo) const {
  for (std::int32_t i = 0; i < Count; ++i)
    if (Items[i].PageNo == pageNo) return true;
  return false;
}

std::int32_t TNRDKeyPath::Compare(const TNRDKeyPath& other) const {
  if (Count != other.Count) throw ENRDException(20051, "Invalid index key path");
  for (std::int32_t i = 0; i < Count; ++i) {
    if (Items[i].PageNo != other.Items[i].PageNo) throw ENRDException(20052, "Invalid index key path");
    if (Items[i].EntryNo != other.Items[i].EntryNo) return Items[i].EntryNo < other.Items[i].EntryNo ? -1 : 1;
  }
  return 0;
}

double TNRDKeyPath::GetApproxRecNoInPercents() const {
  double a = 1;
  double b = 0;
  for (std::int32_t i = Count - 1; i >= 0; --i) {
    b += Items[i].EntryNo * a;
    a *= std::max(Items[i].EntryCount, 1);
  }
  return Count == 0 ? 0 : b / a;
}

std::int64_t TNRDKeyPath::GetBitmapRecNoByIndexPosition(std::int32_t maxEntriesPerPage) const {
  const std::int64_t base = static_cast<std::int64_t>(maxEntriesPerPage) + 1;
  if (base < 2) InternalIndexError();
  std::int64_t result = 0;
  for (std::int32_t i = 0; i < Count; ++i) {
    const std::int64_t digit = static_cast<std::int64_t>(Items[i].EntryNo) + 1;
    if (digit < 1 || digit >= base) InternalIndexError();
    if (result > (INT64_MAX - digit) / base) InternalIndexError();
    result = result * base + digit;
  }
  return result;
}

void TNRDKeyPath::FillItemsByBitmapRecNo(std::int64_t recordNo, std::int32_t maxEntriesPerPage) {
  const std::int64_t base = static_cast<std::int64_t>(maxEntriesPerPage) + 1;
  if (base < 2 || recordNo < 0) InternalIndexError();
  std::int32_t digits[kMaxKeyPathLevels];
  std::int32_t n = 0;
  for (std::int64_t r = recordNo; r > 0; r /= base) {
    if (n == kMaxKeyPathLevels) InternalIndexError();
    const auto digit = static_cast<std::int32_t>(r % base);
    if (digit == 0) InternalIndexError();
    digits[n++] = digit;
  }
  Count = n;
  ItemNo = n;
  for (std::int32_t level = 0; level < n; ++level)
    Items[level] = TNRDKeyPathItem{-1, digits[n - 1 - level] - 1, 0};
}

// ----- TNRDBTreeKeyRef ------------------------------------------------------------------------------

int TNRDBTreeKeyRef::CompareReferences(const std::uint8_t* reference1, const std::uint8_t* reference2,
                                       std::int32_t size) {
  if (size == 6) {
    const auto p1 = static_cast<std::int32_t>(GetLE32(reference1));
    const auto p2 = static_cast<std::int32_t>(GetLE32(reference2));
    if (p1 != p2) return p1 < p2 ? -1 : 1;
    const std::uint16_t i1 = GetLE16(reference1 + 4);
    const std::uint16_t i2 = GetLE16(reference2 + 4);
    return (i1 > i2) - (i1 < i2);
  }
  for (std::int32_t i = 0; i < size; ++i)
    if (reference1[i] != reference2[i]) return reference1[i] < reference2[i] ? -1 : 1;
  return 0;
}

// ----- TNRDRecordKeyRef -----------------------------------------------------------------------------

void TNRDRecordKeyRef::SetPartCount(std::int32_t count) {
  TNRDBTreeKeyRef::SetPartCount(count);
  FCompareLengths.assign(static_cast<std::size_t>(count), -1);
}

void TNRDRecordKeyRef::Assign(const TNRDIndexDef& indexDef, TNRDTableData* tableData) {
  LTableData = tableData;
  SetPartCount(indexDef.ColumnCount());
  FCompareFieldCount = PartCount();
  FShortKeySize = 0;
  FFullKeySize = 0;
  if (tableData == nullptr || !tableData->FFieldManager) throw ENRDException(20044, "Pointer is nil");
  const TNRDFieldDefs& fieldDefs = tableData->FFieldManager->FFieldDefs;
  std::int32_t shortTotal = 0;
  std::int32_t fullTotal = 0;
  for (std::int32_t i = 0; i < PartCount(); ++i) {
    const TNRDIndexColumn& column = indexDef.GetIndexColumn(i);
    TNRDKeyPart& part = Parts[static_cast<std::size_t>(i)];
    part.OffsetInShortKeyBuffer = shortTotal;
    part.OffsetInFullKeyBuffer = fullTotal;
    const std::int32_t fieldIndex = fieldDefs.GetDefNumberByName(column.FFieldName);
    if (fieldIndex < 0) throw ENRDException(20043, "Cannot find index field '%s'", {column.FFieldName});
    const TNRDFieldDef& field = *fieldDefs.GetFieldDef(fieldIndex);
    if (field.FBaseFieldType == bftBlob || field.FBaseFieldType == bftClob || field.FBaseFieldType == bftWideClob)
      throw ENRDException(20295,
                          "Cannot index BLOB field '%s'. Direct indexing of BLOB fields is not supported yet, "
                          "please use CAST(blob_field, string) function to convert BLOB field to a string "
                          "expression before indexing.",
                          {column.FFieldName});
    part.OffsetInRecordBuffer = field.FMemoryOffset;
    part.FieldNo = fieldIndex;
    // The indexed size of a wide text keeps whole characters; a stored size below zero keeps none.
    std::int32_t indexed = std::max(column.FMaxIndexedSize, 0);
    if (IsWideTextType(field.FBaseFieldType)) indexed &= ~1;
    if (indexed < field.FMemoryDataSize) {
      part.AddedSize = 2;
      part.ShortSize = indexed + 3;
    } else {
      part.AddedSize = 0;
      part.ShortSize = field.FMemoryDataSize + 1;
    }
    part.FullSize = field.FMemoryDataSize + 1;
    shortTotal += part.ShortSize;
    fullTotal += part.FullSize;
    FShortKeySize += part.ShortSize;
    FFullKeySize += part.FullSize;
    part.DataType = field.FBaseFieldType;
    part.Descending = column.FDescending;
    part.CaseInsensitive = column.FCaseInsensitive;
  }
}

void TNRDRecordKeyRef::MakeShortKeyFromRecordBuffer(const void* recordBuffer, std::uint8_t* keyBuffer) {
  LRecordBuffer = recordBuffer;
  const auto* record = static_cast<const std::uint8_t*>(recordBuffer);
  for (const TNRDKeyPart& part : Parts) {
    std::uint8_t* p = keyBuffer + part.OffsetInShortKeyBuffer;
    if (IsFieldNull(record, part.FieldNo)) {
      p[0] = 1;
      continue;
    }
    p[0] = 0;
    const std::int32_t valueBytes = part.ShortSize - part.AddedSize - 1;
    std::memcpy(p + 1, record + part.OffsetInRecordBuffer, static_cast<std::size_t>(valueBytes));
    if (part.AddedSize > 0) std::memset(p + 1 + valueBytes, 0, static_cast<std::size_t>(part.AddedSize));
  }
}

void TNRDRecordKeyRef::MakeFullKeyFromRecordBuffer(const void* recordBuffer, std::uint8_t* keyBuffer) const {
  const auto* record = static_cast<const std::uint8_t*>(recordBuffer);
  for (const TNRDKeyPart& part : Parts) {
    std::uint8_t* p = keyBuffer + part.OffsetInFullKeyBuffer;
    if (IsFieldNull(record, part.FieldNo)) {
      p[0] = 1;
      continue;
    }
    p[0] = 0;
    std::memcpy(p + 1, record + part.OffsetInRecordBuffer, static_cast<std::size_t>(part.FullSize - 1));
  }
}

void TNRDRecordKeyRef::MakeFullKeyByRecordID(const std::uint8_t* recordID, std::uint8_t* keyBuffer,
                                             std::int32_t sessionID) {
  if (LTableData == nullptr || !LTableData->FFieldManager || !LTableData->FRecordManager)
    throw ENRDException(20170, "Cannot retrieve record for index");
  FRecord.assign(static_cast<std::size_t>(LTableData->FFieldManager->FFieldDefs.GetMemoryRecordBufferSize()), 0);
  TNRDNavigationInfo nav;
  nav.GetRecordMode = grmCurrent;
  nav.RecordID = TNRDPageItemID::Decode(recordID);
  nav.RecordBuffer = FRecord.data();
  LTableData->FRecordManager->GetRecordBuffer(sessionID, nav);
  if (nav.GetRecordResult != grrOK) throw ENRDException(20170, "Cannot retrieve record for index");
  MakeFullKeyFromRecordBuffer(FRecord.data(), keyBuffer);
}

void TNRDRecordKeyRef::SetPartialCompare(const void* recordBuffer, bool partialCompare) {
  const auto* record = static_cast<const std::uint8_t*>(recordBuffer);
  for (std::size_t i = 0; i < Parts.size(); ++i) {
    const TNRDKeyPart& part = Parts[i];
    std::int32_t length = -1;
    if (partialCompare && IsTextType(part.DataType) && !IsFieldNull(record, part.FieldNo)) {
      const std::uint8_t* value = record + part.OffsetInRecordBuffer;
      const std::int32_t bytes = part.FullSize - 1;
      length = 0;
      if (IsWideTextType(part.DataType)) {
        while ((length + 1) * 2 <= bytes && (value[length * 2] | value[length * 2 + 1]) != 0) ++length;
      } else {
        while (length < bytes && value[length] != 0) ++length;
      }
    }
    FCompareLengths[i] = length;
  }
}

void TNRDRecordKeyRef::ResetCompareSettings() {
  std::fill(FCompareLengths.begin(), FCompareLengths.end(), -1);
  FCompareFieldCount = PartCount();
}

int TNRDRecordKeyRef::ComparePart(const TNRDKeyPart& part, const std::uint8_t* value1, const std::uint8_t* value2,
                                  std::int32_t compareLength, std::int32_t storedBytes) const {
  const bool null1 = value1[-1] != 0;
  const bool null2 = value2[-1] != 0;
  int r = CompareKeyValues(value1, value2, part.DataType, part.DataType, null1, null2, compareLength,
                           part.CaseInsensitive, LOCALE_USER_DEFAULT, storedBytes, storedBytes);
  return part.Descending ? -r : r;
}

int TNRDRecordKeyRef::CompareFullKeys(const std::uint8_t* key1, const std::uint8_t* key2) {
  const std::int32_t n = std::min(FCompareFieldCount, PartCount());
  for (std::int32_t i = 0; i < n; ++i) {
    const TNRDKeyPart& part = Parts[static_cast<std::size_t>(i)];
    const int r = ComparePart(part, key1 + part.OffsetInFullKeyBuffer + 1, key2 + part.OffsetInFullKeyBuffer + 1,
                              FCompareLengths[static_cast<std::size_t>(i)], part.FullSize - 1);
    if (r != 0) return r;
  }
  return 0;
}

int TNRDRecordKeyRef::CompareShortKeys(std::uint8_t* key1, const std::uint8_t* key2, bool mayUseFullKeys,
                                       std::int32_t sessionID, const std::uint8_t* reference1,
                                       const std::uint8_t* reference2) {
  const std::int32_t n = std::min(FCompareFieldCount, PartCount());
  for (std::int32_t i = 0; i < n; ++i) {
    const TNRDKeyPart& part = Parts[static_cast<std::size_t>(i)];
    std::uint8_t* v1 = key1 + part.OffsetInShortKeyBuffer + 1;
    const std::uint8_t* v2 = key2 + part.OffsetInShortKeyBuffer + 1;
    const std::int32_t valueBytes = part.ShortSize - part.AddedSize - 1;
    std::int32_t length = FCompareLengths[static_cast<std::size_t>(i)];
    // A cut part is compared on its kept characters (and the terminator the added bytes give).
    if (part.AddedSize != 0) {
      const std::int32_t kept = IsWideTextType(part.DataType) ? valueBytes / 2 + 1 : valueBytes + 1;
      length = length < 0 ? kept : std::min(length, kept);
    }
    const std::int32_t stored = part.ShortSize - 1;
    int r = CompareKeyValues(v1, v2, part.DataType, part.DataType, v1[-1] != 0, v2[-1] != 0, length,
                             part.CaseInsensitive, LOCALE_USER_DEFAULT, stored, stored);
    // Two values that both fill the kept width and differ there only in case or accents may be
    // ordered the other way by their whole texts: the collation weighs such a difference below a
    // difference of base letters further on ("Семё|нов" against "Семе|нова"). Their kept bytes
    // only tell that they tie.
    if (r != 0 && part.AddedSize != 0 && IsTextType(part.DataType) && v1[-1] == 0 && v2[-1] == 0 &&
        FillsKeptWidth(part, v1, valueBytes) && FillsKeptWidth(part, v2, valueBytes) &&
        BaseLettersEqual(part, v1, v2, valueBytes))
      r = 0;
    if (r == 0 && part.AddedSize != 0) {
      if (!mayUseFullKeys) return 0;
      if (reference2 != nullptr && v1[-1] == 0 && v2[-1] == 0 && FillsKeptWidth(part, v1, valueBytes)) {
        // Key 1 fills the whole kept width, so both values may go on beyond it and only the records
        // can tell. (Asking the collation whether one more character changes the outcome does not
        // work: control characters carry no collation weight.)
        FFullKey1.assign(static_cast<std::size_t>(FFullKeySize), 0);
        FFullKey2.assign(static_cast<std::size_t>(FFullKeySize), 0);
        if (reference1 != nullptr) {
          MakeFullKeyByRecordID(reference1, FFullKey1.data(), sessionID);
        } else {
          if (LRecordBuffer == nullptr) throw ENRDException(20170, "Cannot retrieve record for index");
          MakeFullKeyFromRecordBuffer(LRecordBuffer, FFullKey1.data());
        }
        MakeFullKeyByRecordID(reference2, FFullKey2.data(), sessionID);
        return CompareFullKeys(FFullKey1.data(), FFullKey2.data());
      }
      continue;
    }
    if (part.Descending) r = -r;
    if (r != 0) return r;
  }
  return 0;
}

// ----- TNRDPageKeyRef -------------------------------------------------------------------------------

TNRDPageKeyRef::TNRDPageKeyRef() {
  SetPartCount(1);
  TNRDKeyPart& part = Parts[0];
  part.ShortSize = 4;
  part.FullSize = 4;
  part.DataType = bftSignedInt32;
  FShortKeySize = 4;
  FFullKeySize = 4;
  FReferenceSize = 2;
}

int TNRDPageKeyRef::CompareShortKeys(std::uint8_t* key1, const std::uint8_t* key2, bool, std::int32_t,
                                     const std::uint8_t*, const std::uint8_t*) {
  const auto a = static_cast<std::int32_t>(GetLE32(key1));
  const auto b = static_cast<std::int32_t>(GetLE32(key2));
  return (a > b) - (a < b);
}

}  // namespace nrd
