// A cursor's bitmap of the records its restricted view shows: one bit per possible record position
// of the table (physical positions, or index positions when the view was filled in index order),
// set for the visible records. It answers the view's record count, turns a record into its number
// in the view (RecNo, from 1) and back, and steps from one visible record to the next.
//
// RecNo of a position is 1 + the number of set bits below its bit, which counts visible records
// for a visible position and gives a hidden one the number of the next visible record (with bits
// 0, 3 and 4 set, bit 2 has RecNo 2). A bit at or beyond the size has RecNo -1.
// Bit numbers are 0..2^31-1 (the bits array is 32-bit); a larger one cannot be shown (10395).
// Locking: under the database object's lock, like the cursor that owns it.
#pragma once

#include <cstdint>

#include "engine/foundation/NRDTypes.h"

namespace nrd {

class TNRDIndexPosition;
class TNRDTableData;

class TNRDRecordBitmap {
 public:
  // 10425 "Nil pointer occured" without a table.
  explicit TNRDRecordBitmap(TNRDTableData* tableData);
  TNRDRecordBitmap(const TNRDRecordBitmap&) = delete;
  TNRDRecordBitmap& operator=(const TNRDRecordBitmap&) = delete;

  std::int64_t Size() const { return FBitmap.Size(); }
  void SetSize(std::int64_t value);
  // The record manager's table state differs from the one the bitmap was filled at.
  bool Outdated() const;
  std::int64_t RecordCount() const { return FBitmap.NonZeroBitCount(); }

  std::int64_t GetRecNoByRecordID(const TNRDPageItemID& recordID) const;
  std::int64_t GetRecNoByIndexPos(std::int32_t indexID, const TNRDIndexPosition& indexPos) const;
  TNRDPageItemID GetRecordIDByRecNo(std::int64_t recNo) const;
  void GetIndexPosByRecNo(std::int32_t indexID, std::int64_t recNo, TNRDIndexPosition& indexPos) const;
  bool IsRecordVisible(const TNRDPageItemID& recordID) const;
  bool IsRecordVisible(std::int32_t indexID, const TNRDIndexPosition& indexPos) const;
  // On an index-based bitmap these by-record forms only Clear it (the owner rebuilds it).
  void ShowRecord(const TNRDPageItemID& recordID);
  void HideRecord(const TNRDPageItemID& recordID);
  void ShowRecord(std::int32_t indexID, const TNRDIndexPosition& indexPos);
  void HideRecord(std::int32_t indexID, const TNRDIndexPosition& indexPos);
  void SetAllBits() { FBitmap.SetAllBits(); }
  // Inactive and empty.
  void Clear();
  bool FindRecord(bool restart, bool goForward, const TNRDPageItemID& curRecordID, TNRDPageItemID& foundRecordID) const;
  bool FindRecord(bool restart, bool goForward, const TNRDIndexPosition* curIndexPos,
                  TNRDIndexPosition& foundRecordIndexPos, std::int32_t indexID) const;

  const TNRDBitsArray& Bits() const { return FBitmap; }

  TNRDTableData* FTableData;
  bool FActive = false;
  bool FIndexBased = false;
  std::int32_t FTableState = -1;

 private:
  std::int64_t BitOfIndexPos(std::int32_t indexID, const TNRDIndexPosition& indexPos) const;
  std::int32_t MaxEntriesPerPage(std::int32_t indexID) const;
  void SetBitGrowing(std::int64_t bitNo, bool value);
  std::int64_t RecNoOfBit(std::int64_t bitNo) const;

  TNRDBitsArray FBitmap;
};

}  // namespace nrd
