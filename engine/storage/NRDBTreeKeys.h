// B-tree keys and key paths.
//
// A key reference says how the keys of one B-tree are laid out and compared; a key path is the
// position of one entry in a tree (page, entry number and entry count for every level from the root
// down). The short key built here is what the index pages store, so its bytes are file format.
//
// Record key layout (short and full keys; parts follow each other in index-column order):
//   part offset + 0            1 byte   null flag: 1 when the field is NULL, 0 when it has a value
//   part offset + 1            n bytes  the field's in-memory value (record buffer layout of the field
//                                       manager); a short key keeps ShortSize - AddedSize - 1 bytes
//   part offset + ShortSize-2  2 bytes  only on a cut part (AddedSize 2): zero
// A NULL writes only the flag; the rest keeps what the (zero-filled) buffer held.
// Page key layout: the page number as a little-endian Int32, no null flag.
//
// Comparisons: every part goes through the engine's key comparison (texts through the locale
// collation of the user's default locale; case-insensitive columns ignore case), bounded by the
// bytes the part stores; a NULL sorts below every value, a descending part negates the result.
// Ties on a cut part are settled on full keys read from the records when allowed.
//
// Errors raise ENRDException. Not thread safe: a key reference belongs to one index object, whose
// caller holds the table lock.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/foundation/NRDTypes.h"
#include "engine/storage/NRDIndexManager.h"

namespace nrd {

class TNRDIndexDef;
class TNRDTableData;

// The deepest tree a key path can describe. A deeper walk means a damaged tree (20020).
inline constexpr std::int32_t kMaxKeyPathLevels = 32;

enum TNRDKeyPathPosition : std::uint8_t { kppUnknown, kppOnKey, kppBeforeKey, kppAfterKey, kppBOF, kppEOF };

struct TNRDKeyPathItem {
  std::int32_t PageNo = -1;
  std::int32_t EntryNo = 0;
  std::int32_t EntryCount = 0;
};

// The position of one entry: Items[0] is the root level, Items[Count-1] the leaf level.
class TNRDKeyPath : public TNRDIndexPosition {
 public:
  TNRDKeyPath() { Clear(); }
  void Clear() {
    Count = 0;
    ItemNo = 0;
  }
  void Assign(const TNRDKeyPath& source);
  // Writes the item at ItemNo and moves on; 20020 when the path is already 32 levels deep.
  void AddItem(std::int32_t pageNo, std::int32_t entryNo, std::int32_t entryCount);
  void DeleteLastItem() {
    --ItemNo;
    --Count;
  }
  void IncLevel() { ++ItemNo; }
  void DecLevel() { --ItemNo; }
  bool PageExists(std::int32_t pageNo) const;
  // Order of two positions of one tree: 20051 for different depths, 20052 when a level is reached
  // on different pages before the entry numbers differ.
  std::int32_t Compare(const TNRDKeyPath& other) const;
  double GetApproxRecNoInPercents() const;
  // One base (maxEntriesPerPage + 1) digit per level, root most significant, digit = entry + 1.
  // Integer arithmetic; 20020 when the number would not fit 63 bits.
  std::int64_t GetBitmapRecNoByIndexPosition(std::int32_t maxEntriesPerPage) const override;
  // The inverse: entry numbers only (page numbers -1, counts 0). 20020 for a number that is not a
  // position (a zero digit, more than 32 digits, a base below 2).
  void FillItemsByBitmapRecNo(std::int64_t recordNo, std::int32_t maxEntriesPerPage) override;

  std::int32_t CurrentPageNo() const { return Items[ItemNo].PageNo; }
  void SetCurrentPageNo(std::int32_t pageNo) { Items[ItemNo].PageNo = pageNo; }
  TNRDKeyPathItem& Leaf() { return Items[Count - 1]; }
  const TNRDKeyPathItem& Leaf() const { return Items[Count - 1]; }

  TNRDKeyPathItem Items[kMaxKeyPathLevels];
  std::int32_t Count = 0;
  std::int32_t ItemNo = 0;
  TNRDKeyPathPosition PositionType = kppUnknown;
  std::int32_t IndexState = 0;
};

struct TNRDKeyPart {
  std::int32_t OffsetInShortKeyBuffer = 0;
  std::int32_t OffsetInFullKeyBuffer = 0;
  std::int32_t OffsetInRecordBuffer = 0;
  std::int32_t FieldNo = 0;
  std::int32_t ShortSize = 0;
  std::int32_t FullSize = 0;
  std::int32_t AddedSize = 0;
  TNRDBaseFieldType DataType = bftUnknown;
  bool Descending = false;
  bool CaseInsensitive = false;
};

// Key buffers are plain byte blocks of ShortKeySize or FullKeySize bytes.
class TNRDBTreeKeyRef {
 public:
  virtual ~TNRDBTreeKeyRef() = default;
  TNRDBTreeKeyRef() = default;
  TNRDBTreeKeyRef(const TNRDBTreeKeyRef&) = delete;
  TNRDBTreeKeyRef& operator=(const TNRDBTreeKeyRef&) = delete;

  virtual void SetPartCount(std::int32_t count) { Parts.resize(static_cast<std::size_t>(count)); }
  // Compares a search key (1) with a stored key (2). reference2 is the record reference stored with
  // key 2, reference1 the one of key 1 or null. key1 is briefly changed (and always restored).
  virtual int CompareShortKeys(std::uint8_t* key1, const std::uint8_t* key2, bool mayUseFullKeys,
                               std::int32_t sessionID, const std::uint8_t* reference1,
                               const std::uint8_t* reference2) = 0;
  virtual int CompareFullKeys(const std::uint8_t* key1, const std::uint8_t* key2) = 0;

  std::vector<std::uint8_t> AllocShortKeyBuffer() const {
    return std::vector<std::uint8_t>(static_cast<std::size_t>(FShortKeySize), 0);
  }
  std::vector<std::uint8_t> AllocFullKeyBuffer() const {
    return std::vector<std::uint8_t>(static_cast<std::size_t>(FFullKeySize), 0);
  }
  // Record IDs (size 6: PageNo signed, then item number unsigned) or unsigned bytes.
  static int CompareReferences(const std::uint8_t* reference1, const std::uint8_t* reference2, std::int32_t size);

  std::int32_t ShortKeySize() const { return FShortKeySize; }
  std::int32_t FullKeySize() const { return FFullKeySize; }
  std::uint16_t ReferenceSize() const { return FReferenceSize; }
  void SetReferenceSize(std::uint16_t size) { FReferenceSize = size; }
  bool KeyIsReference() const { return FKeyIsReference; }
  std::int32_t CompareFieldCount() const { return FCompareFieldCount; }
  void SetCompareFieldCount(std::int32_t count) { FCompareFieldCount = count; }
  std::int32_t PartCount() const { return static_cast<std::int32_t>(Parts.size()); }
  // True when some part keeps less than the whole value (ties may need the records).
  bool HasCutParts() const { return FShortKeySize != FFullKeySize; }

  std::vector<TNRDKeyPart> Parts;

 protected:
  std::int32_t FShortKeySize = 0;
  std::int32_t FFullKeySize = 0;
  std::uint16_t FReferenceSize = 0;
  bool FKeyIsReference = false;
  std::int32_t FCompareFieldCount = 0;
};

class TNRDRecordKeyRef : public TNRDBTreeKeyRef {
 public:
  TNRDRecordKeyRef() = default;
  void SetPartCount(std::int32_t count) override;
  // Builds the parts from an index definition over the table's fields: 20044/20045 without field
  // manager or definitions, 20043 for an unknown field, 20295 for a BLOB field.
  void Assign(const TNRDIndexDef& indexDef, TNRDTableData* tableData);
  void MakeShortKeyFromRecordBuffer(const void* recordBuffer, std::uint8_t* keyBuffer);
  void MakeFullKeyFromRecordBuffer(const void* recordBuffer, std::uint8_t* keyBuffer) const;
  // Reads the record through the table's record manager; 20170 when it cannot be read.
  void MakeFullKeyByRecordID(const std::uint8_t* recordID, std::uint8_t* keyBuffer, std::int32_t sessionID);
  // Text parts of a non-NULL value compare on the value's length only (prefix search).
  void SetPartialCompare(const void* recordBuffer, bool partialCompare);
  // Back to whole-key comparisons (partial compare off, all parts compared).
  void ResetCompareSettings();
  int CompareShortKeys(std::uint8_t* key1, const std::uint8_t* key2, bool mayUseFullKeys, std::int32_t sessionID,
                       const std::uint8_t* reference1, const std::uint8_t* reference2) override;
  int CompareFullKeys(const std::uint8_t* key1, const std::uint8_t* key2) override;

  const void* LRecordBuffer = nullptr;
  TNRDTableData* LTableData = nullptr;
  std::vector<std::int32_t> FCompareLengths;

 private:
  int ComparePart(const TNRDKeyPart& part, const std::uint8_t* value1, const std::uint8_t* value2,
                  std::int32_t compareLength, std::int32_t storedBytes) const;
  std::vector<std::uint8_t> FFullKey1, FFullKey2, FRecord;
};

class TNRDPageKeyRef : public TNRDBTreeKeyRef {
 public:
  TNRDPageKeyRef();
  int CompareShortKeys(std::uint8_t* key1, const std::uint8_t* key2, bool mayUseFullKeys, std::int32_t sessionID,
                       const std::uint8_t* reference1, const std::uint8_t* reference2) override;
  int CompareFullKeys(const std::uint8_t* key1, const std::uint8_t* key2) override {
    return CompareShortKeys(const_cast<std::uint8_t*>(key1), key2, false, 0, nullptr, nullptr);
  }
};

}  // namespace nrd
