// The engine's shared vocabulary: storage and column types, expression operators, comparison
// results, lock and navigation modes; the small records that name records, BLOBs and sort keys,
// with little-endian codecs for those stored in files; a growable integer array, the block index of
// a compressed BLOB stream, a bit array with rank and select, bit routines for null flags and
// `MakeUniqueName`.
//
// Stored records (little-endian, packed):
//   TNRDPageItemID (6):  0 PageNo i32 | 4 PageItemNo u16
//   TNRDDateTime (8):    0 Date i32 (engine day number) | 4 Time i32 (ms since midnight)
//   TNRDBLOBDescriptor (32): 0 BlockSize i32 | 4 NumBlocks i64 | 12 UncompressedSize i64 |
//       20 StartPosition i64 | 28 CompressionAlgorithm u8 | 29 CompressionMode u8 | 30 Reserved[2]
//   TNRDPartialTemporaryBLOBDescriptor (20): 0 NumBlocks i32 | 4 UncompressedSize i64 | 12 CompressedSize i64
//   TNRDCompressedStreamBlockHeader (20): 0 CompressedSize i32 | 4 UncompressedSize i32 | 8 Crc32 u32 |
//       12 OffsetToNextHeader i64
// Bit array stream form: Size i32 | NonZeroBitCount i32 | ceil(Size/8) bytes (only when Size > 0).
#pragma once

#include "engine/foundation/NRDByteOrder.h"
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine/foundation/NRDRuntime.h"

namespace nrd {

class TStream;

// ----- Enumerations (one byte each, ordinals from 0) -----------------------------------------
enum TNRDBaseFieldType : std::uint8_t {
  bftUnknown, bftChar, bftWideChar, bftVarchar, bftWideVarchar, bftSignedInt8, bftSignedInt16,
  bftSignedInt32, bftSignedInt64, bftUnsignedInt8, bftUnsignedInt16, bftUnsignedInt32, bftSingle,
  bftDouble, bftExtended, bftDate, bftTime, bftDateTime, bftBlob, bftClob, bftWideClob, bftLogical,
  bftCurrency, bftBytes, bftVarBytes, bftBFile
};
inline constexpr int kBaseFieldTypeCount = 26;

enum TNRDAdvancedFieldType : std::uint8_t {
  aftUnknown, aftChar, aftString, aftWideChar, aftWideString, aftShortint, aftSmallint, aftInteger,
  aftLargeint, aftByte, aftWord, aftCardinal, aftAutoInc, aftAutoIncShortint, aftAutoIncSmallint,
  aftAutoIncInteger, aftAutoIncLargeint, aftAutoIncByte, aftAutoIncWord, aftAutoIncCardinal, aftSingle,
  aftDouble, aftExtended, aftBoolean, aftCurrency, aftDate, aftTime, aftDateTime, aftTimeStamp, aftBytes,
  aftVarBytes, aftBlob, aftGraphic, aftMemo, aftFormattedMemo, aftWideMemo, aftGuid
};
inline constexpr int kAdvancedFieldTypeCount = 37;

enum TNRDDataOperator : std::uint8_t {
  doUNDEFINED, doEQ, doNE, doGT, doLT, doGE, doLE, doNOT, doAND, doOR, doIN, doNOTIN, doEXISTS,
  doBETWEEN, doNOTBETWEEN, doLIKE, doNOTLIKE, doISNULL, doISNOTNULL, doTRUE, doFALSE, doADD, doSUB,
  doMUL, doDIV, doCONCAT, doUPPER, doLOWER, doTRIM, doLTRIM, doRTRIM, doLENGTH, doPOS, doSUBSTRING,
  doSUM, doAVG, doMIN, doMAX, doCOUNT, doCOUNTALL, doSYSDATE, doCURRENT_DATE, doCURRENT_TIME,
  doTODATE, doTOSTRING, doEXTRACT, doCAST, doLASTAUTOINC, doMIMETOBIN, doROWNUM, doABS, doACOS,
  doASIN, doATAN, doCEIL, doCOS, doEXP, doFLOOR, doLOG, doPOWER, doRAND, doROUND, doSIGN, doSIN,
  doSQR, doSQRT
};
inline constexpr int kDataOperatorCount = 66;

enum TNRDCompareResult : std::uint8_t {
  cmprEqual, cmprLower, cmprGreater, cmprLeftNull, cmprRightNull, cmprBothNull
};
enum TNRDSearchCondition : std::uint8_t {
  scNone, scEqual, scLower, scGreater, scLowerEqual, scGreaterEqual
};
enum TNRDGetRecordMode : std::uint8_t { grmCurrent, grmNext, grmPrior };
enum TNRDGetRecordResult : std::uint8_t { grrOK, grrBOF, grrEOF, grrError };
enum TNRDBLOBOpenMode : std::uint8_t { bomWrite, bomRead, bomReadWrite };
enum TNRDDBFileType : std::uint8_t { dbftUnknown, dbftTablesList, dbftActiveSessionsList };
enum TNRDLockType : std::uint8_t { ltIS, ltS, ltSIRW, ltXIRW, ltRW, ltU, ltX };
enum TNRDShareMode : std::uint8_t { smExclusive, smShareDenyNone, smShareDenyWrite };
enum TNRDAccessMode : std::uint8_t { amReadOnly, amReadWrite };
enum TNRDJoinType : std::uint8_t { ajtCross, ajtInner, ajtLeftOuter, ajtRightOuter, ajtFullOuter };
enum TNRDUnionType : std::uint8_t { autUnion, autIntersect, autExcept };
enum TNRDTableType : std::uint8_t { attTable, attJoinedTable, attSubQuery };
enum TNRDQueryExprType : std::uint8_t { qetSelect, qetUnion, qetExcept, qetIntersect };
enum TNRDBatchMoveType : std::uint8_t {
  bmtAppend, bmtAppendUpdate, bmtCopy, bmtDelete, bmtUpdate, bmtSynchronize
};
enum TNRDConstraintType : std::uint8_t { ctPK, ctFK, ctUnique, ctNotNull, ctCheck };
enum TNRDDateTimeExtractField : std::uint8_t {
  dtefYear, dtefMonth, dtefDay, dtefHour, dtefMinute, dtefSecond
};

// Little-endian byte codecs: NRDByteOrder.h.

// ----- Records ---------------------------------------------------------------------------------
// The structs use natural alignment in memory (no packed members, so references to fields are
// safe); their stored form, kSize bytes, is written and read only through Encode and Decode.
struct TNRDPageItemID {
  std::int32_t PageNo = 0;
  std::uint16_t PageItemNo = 0;
  static constexpr std::size_t kSize = 6;
  void Encode(std::uint8_t* p) const;
  static TNRDPageItemID Decode(const std::uint8_t* p);
  friend bool operator==(const TNRDPageItemID& a, const TNRDPageItemID& b) {
    return a.PageNo == b.PageNo && a.PageItemNo == b.PageItemNo;
  }
};

struct TNRDDateTime {
  std::int32_t Date = 0;  // engine day number (1 = 0001-01-01)
  std::int32_t Time = 0;  // milliseconds since midnight
  static constexpr std::size_t kSize = 8;
  void Encode(std::uint8_t* p) const;
  static TNRDDateTime Decode(const std::uint8_t* p);
};

struct TNRDBLOBDescriptor {
  std::int32_t BlockSize = 0;
  std::int64_t NumBlocks = 0;
  std::int64_t UncompressedSize = 0;
  std::int64_t StartPosition = 0;
  std::uint8_t CompressionAlgorithm = 0;
  std::uint8_t CompressionMode = 0;
  std::uint8_t Reserved[2] = {0, 0};
  static constexpr std::size_t kSize = 32;
  void Encode(std::uint8_t* p) const;
  static TNRDBLOBDescriptor Decode(const std::uint8_t* p);
};

struct TNRDPartialTemporaryBLOBDescriptor {
  std::int32_t NumBlocks = 0;
  std::int64_t UncompressedSize = 0;
  std::int64_t CompressedSize = 0;
  static constexpr std::size_t kSize = 20;
  void Encode(std::uint8_t* p) const;
  static TNRDPartialTemporaryBLOBDescriptor Decode(const std::uint8_t* p);
};

struct TNRDCompressedStreamBlockHeader {
  std::int32_t CompressedSize = 0;
  std::int32_t UncompressedSize = 0;
  std::uint32_t Crc32 = 0;
  std::int64_t OffsetToNextHeader = 0;
  static constexpr std::size_t kSize = 20;
  void Encode(std::uint8_t* p) const;
  static TNRDCompressedStreamBlockHeader Decode(const std::uint8_t* p);
};

// Stored sizes: the sum of the field widths of each layout.
static_assert(TNRDPageItemID::kSize == 4 + 2);
static_assert(TNRDDateTime::kSize == 4 + 4 && sizeof(TNRDDateTime) == 8);
static_assert(TNRDBLOBDescriptor::kSize == 4 + 8 + 8 + 8 + 1 + 1 + 2);
static_assert(TNRDPartialTemporaryBLOBDescriptor::kSize == 4 + 8 + 8);
static_assert(TNRDCompressedStreamBlockHeader::kSize == 4 + 4 + 4 + 8);

// The engine day number of "no date".
inline constexpr std::int32_t kNRDNoDate = -2147483647 - 1;

// In-memory records.
struct TNRDNavigationInfo {
  TNRDGetRecordMode GetRecordMode = grmCurrent;
  std::int32_t IndexID = 0;
  TNRDPageItemID RecordID;
  void* RecordBuffer = nullptr;
  bool FirstPosition = false;
  bool LastPosition = false;
  TNRDGetRecordResult GetRecordResult = grrOK;
};

struct TNRDSortSpecification {
  std::string TableName;
  std::string ColumnName;
  bool Descending = false;
};

struct TNRDDiskBLOBCache {
  std::int32_t NumBlocks = 0;
  std::int64_t UncompressedSize = 0;
  bool Modified = false;
  void* BlobData = nullptr;  // a GlobalMemoryManager block with the stored bytes
};

// ----- Containers ----------------------------------------------------------------------------
// A growable array of Int32. Invariant: ItemCount <= AllocItemCount == Items.size().
// Indexes outside 0..ItemCount-1 raise ERangeError.
class TNRDIntegerArray {
 public:
  TNRDIntegerArray(std::int32_t size, std::int32_t defaultAllocBy, std::int32_t maximumAllocBy);

  void SetSize(std::int32_t newSize);
  void Append(std::int32_t value);
  void Insert(std::int32_t itemNo, std::int32_t value);
  void Delete(std::int32_t itemNo);
  void MoveTo(std::int32_t itemNo, std::int32_t newItemNo);
  // Copies iCount items from itemNo into ar (resized to fit); nothing when the array is empty.
  void CopyTo(std::vector<std::int32_t>& ar, std::int32_t itemNo, std::int32_t iCount) const;
  void Assign(const TNRDIntegerArray& v);
  bool IsValueExists(std::int32_t value) const { return IndexOf(value) >= 0; }
  std::int32_t IndexOf(std::int32_t value) const;

  std::int32_t& operator[](std::int32_t i) { return Items[static_cast<std::size_t>(CheckIndex(i))]; }
  std::int32_t operator[](std::int32_t i) const { return Items[static_cast<std::size_t>(CheckIndex(i))]; }

  std::vector<std::int32_t> Items;
  std::int32_t ItemCount = 0;
  std::int32_t AllocBy = 0;
  std::int32_t deAllocBy = 0;
  std::int32_t MaxAllocBy = 0;
  std::int32_t AllocItemCount = 0;

 private:
  std::int32_t CheckIndex(std::int32_t i) const;
};

// The block index of a compressed BLOB stream: block headers with the uncompressed start
// position of each block (ascending).
class TNRDCompressedStreamBlockHeadersArray {
 public:
  TNRDCompressedStreamBlockHeadersArray();
  void SetSize(std::int64_t newSize);
  void AppendItem(const TNRDCompressedStreamBlockHeader& value, std::int64_t pos);
  // The last index whose position is <= pos; 0 when empty or pos lies before the first block.
  std::int64_t FindPosition(std::int64_t pos) const;

  std::int64_t AllocBy = 10;
  std::int64_t DeAllocBy = 10;
  std::int64_t MaxAllocBy = 10000;
  std::int64_t AllocItemCount = 0;
  std::int64_t ItemCount = 0;
  std::vector<TNRDCompressedStreamBlockHeader> Items;
  std::vector<std::int64_t> Positions;
};

// A bit array in one GlobalMemoryManager block with a count of its set bits, rank and select.
// Bits at or beyond Size are always 0 inside the buffer.
class TNRDBitsArray {
 public:
  TNRDBitsArray();
  ~TNRDBitsArray();
  TNRDBitsArray(const TNRDBitsArray&) = delete;
  TNRDBitsArray& operator=(const TNRDBitsArray&) = delete;

  std::int32_t Size() const { return FBitCount; }
  // New bits are 0; a shrink recounts the set bits that remain.
  void SetSize(std::int32_t value);
  std::int32_t NonZeroBitCount() const { return FNonZeroBitCount; }

  bool GetBit(std::int32_t bitNo) const;             // 10394
  void SetBit(std::int32_t bitNo, bool value);       // 10395
  void SetAllBits();
  // Select: the bit number of the set bit whose 0-based rank is bitPosition (10428).
  std::int32_t GetBitNoByBitPosition(std::int32_t bitPosition) const;
  // Rank: set bits among 0..bitNo, minus one (10429).
  std::int32_t GetBitPositionByBitNo(std::int32_t bitNo) const;
  // The number of set bits among 0..bitNo-1; bitNo may be Size (then NonZeroBitCount). Unlike
  // the rank above, it means the same for a clear bit as for a set one: 1 + this count is the
  // 1-based number of bit bitNo among the set bits when it is set, and of the next set bit when
  // it is clear (10429 outside 0..Size).
  std::int32_t CountSetBitsBelow(std::int32_t bitNo) const;
  bool FindBit(bool value, std::int32_t& bitNo) const;
  bool Find(bool restart, bool goForward, std::int32_t curBitNo, std::int32_t& foundBitNo) const;
  // Write 10398/10427/10400; save without a buffer 10399. Read 10401/10426/10402; a hostile
  // stream (negative size, a count that does not match the bits, too few bytes left) raises the
  // load code of the field at fault and leaves the array empty.
  void SaveToStream(TStream& stream) const;
  void LoadFromStream(TStream& stream);

  const std::uint8_t* Bits() const { return FBits; }

 private:
  std::uint8_t* FBits = nullptr;
  std::int32_t FBitCount = 0;
  std::int32_t FNonZeroBitCount = 0;
};

// A plain list of pointers (definition objects, session named objects); no ownership.
class TNRDSortedStringPtrArray {
 public:
  std::int32_t Add(void* item);
  void* Get(std::int32_t index) const;
  void Put(std::int32_t index, void* item);
  void Insert(std::int32_t index, void* item);
  void Delete(std::int32_t index);
  void Move(std::int32_t curIndex, std::int32_t newIndex);
  std::int32_t IndexOf(const void* item) const;
  void Clear() { FItems.clear(); }
  std::int32_t Count() const { return static_cast<std::int32_t>(FItems.size()); }

 private:
  std::vector<void*> FItems;
};

// ----- Free routines -------------------------------------------------------------------------
// Bit (bitNo mod 8) of byte (bitNo div 8), least significant first. Callers keep bitNo >= 0.
inline bool IsBitSetInBuffer(std::int32_t bitNo, const void* buffer) {
  return (static_cast<const std::uint8_t*>(buffer)[bitNo >> 3] >> (bitNo & 7)) & 1;
}
inline void SetBitInBuffer(bool value, std::int32_t bitNo, void* buffer) {
  std::uint8_t& b = static_cast<std::uint8_t*>(buffer)[bitNo >> 3];
  const std::uint8_t mask = static_cast<std::uint8_t>(1u << (bitNo & 7));
  b = value ? static_cast<std::uint8_t>(b | mask) : static_cast<std::uint8_t>(b & ~mask);
}

// Prefix followed by a new GUID in its braced 38-character form.
std::string MakeUniqueName(std::string_view prefix);

}  // namespace nrd
