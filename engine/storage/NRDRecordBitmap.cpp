// Record bitmap of a restricted cursor view.
#include "engine/storage/NRDRecordBitmap.h"

#include <limits>

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDIndexManager.h"
#include "engine/storage/NRDTableData.h"

namespace nrd {

namespace {
constexpr std::int64_t kMaxBits = std::numeric_limits<std::int32_t>::max();

[[noreturn]] void BitTooLarge(std::int64_t bitNo, std::int64_t size) {
  throw ENRDException(10395, "Invalid bit no = %d, number of bits = %d", {bitNo, size});
}
}  // namespace

TNRDRecordBitmap::TNRDRecordBitmap(TNRDTableData* tableData) : FTableData(tableData) {
  if (tableData == nullptr) throw ENRDException(10425, "Nil pointer occured");
}

void TNRDRecordBitmap::SetSize(std::int64_t value) {
  if (value < 0 || value > kMaxBits) BitTooLarge(value, Size());
  FBitmap.SetSize(static_cast<std::int32_t>(value));
}

bool TNRDRecordBitmap::Outdated() const { return FTableData->RecordManager().FTableState != FTableState; }

std::int64_t TNRDRecordBitmap::RecNoOfBit(std::int64_t bitNo) const {
  if (bitNo < 0 || bitNo >= Size()) return -1;
  return 1 + FBitmap.CountSetBitsBelow(static_cast<std::int32_t>(bitNo));
}

std::int32_t TNRDRecordBitmap::MaxEntriesPerPage(std::int32_t indexID) const {
  return FTableData->IndexManager().OpenIndex(indexID)->GetMaxEntriesPerPage();
}

std::int64_t TNRDRecordBitmap::BitOfIndexPos(std::int32_t indexID, const TNRDIndexPosition& indexPos) const {
  return indexPos.GetBitmapRecNoByIndexPosition(MaxEntriesPerPage(indexID));
}

std::int64_t TNRDRecordBitmap::GetRecNoByRecordID(const TNRDPageItemID& recordID) const {
  return RecNoOfBit(FTableData->RecordIDToBitmapRecNo(recordID));
}

std::int64_t TNRDRecordBitmap::GetRecNoByIndexPos(std::int32_t indexID, const TNRDIndexPosition& indexPos) const {
  return RecNoOfBit(BitOfIndexPos(indexID, indexPos));
}

TNRDPageItemID TNRDRecordBitmap::GetRecordIDByRecNo(std::int64_t recNo) const {
  if (recNo < 1 || recNo > RecordCount())
    throw ENRDException(10428, "Invalid bit no = %d, number of bits = %d", {recNo - 1, RecordCount()});
  return FTableData->BitmapRecNoToRecordID(FBitmap.GetBitNoByBitPosition(static_cast<std::int32_t>(recNo - 1)));
}

void TNRDRecordBitmap::GetIndexPosByRecNo(std::int32_t indexID, std::int64_t recNo, TNRDIndexPosition& indexPos) const {
  if (recNo < 1 || recNo > RecordCount())
    throw ENRDException(10428, "Invalid bit no = %d, number of bits = %d", {recNo - 1, RecordCount()});
  indexPos.FillItemsByBitmapRecNo(FBitmap.GetBitNoByBitPosition(static_cast<std::int32_t>(recNo - 1)),
                                  MaxEntriesPerPage(indexID));
}

bool TNRDRecordBitmap::IsRecordVisible(const TNRDPageItemID& recordID) const {
  const std::int64_t bit = FTableData->RecordIDToBitmapRecNo(recordID);
  return bit >= 0 && bit < Size() && FBitmap.GetBit(static_cast<std::int32_t>(bit));
}

bool TNRDRecordBitmap::IsRecordVisible(std::int32_t indexID, const TNRDIndexPosition& indexPos) const {
  const std::int64_t bit = BitOfIndexPos(indexID, indexPos);
  return bit >= 0 && bit < Size() && FBitmap.GetBit(static_cast<std::int32_t>(bit));
}

void TNRDRecordBitmap::SetBitGrowing(std::int64_t bitNo, bool value) {
  if (bitNo < 0 || bitNo >= kMaxBits) BitTooLarge(bitNo, Size());
  if (bitNo >= Size()) FBitmap.SetSize(static_cast<std::int32_t>(bitNo + 1));
  FBitmap.SetBit(static_cast<std::int32_t>(bitNo), value);
}

void TNRDRecordBitmap::ShowRecord(const TNRDPageItemID& recordID) {
  if (FIndexBased) {
    Clear();
    return;
  }
  SetBitGrowing(FTableData->RecordIDToBitmapRecNo(recordID), true);
}

void TNRDRecordBitmap::HideRecord(const TNRDPageItemID& recordID) {
  if (FIndexBased) {
    Clear();
    return;
  }
  SetBitGrowing(FTableData->RecordIDToBitmapRecNo(recordID), false);
}

void TNRDRecordBitmap::ShowRecord(std::int32_t indexID, const TNRDIndexPosition& indexPos) {
  SetBitGrowing(BitOfIndexPos(indexID, indexPos), true);
}

void TNRDRecordBitmap::HideRecord(std::int32_t indexID, const TNRDIndexPosition& indexPos) {
  SetBitGrowing(BitOfIndexPos(indexID, indexPos), false);
}

void TNRDRecordBitmap::Clear() {
  FActive = false;
  FBitmap.SetSize(0);
}

bool TNRDRecordBitmap::FindRecord(bool restart, bool goForward, const TNRDPageItemID& curRecordID,
                                  TNRDPageItemID& foundRecordID) const {
  std::int32_t cur = 0;
  if (!restart) {
    const std::int64_t bit = FTableData->RecordIDToBitmapRecNo(curRecordID);
    // A current record beyond the bits is past every visible one (forward: nothing; backward:
    // the search starts from the last bit).
    if (bit >= Size()) {
      if (goForward) return false;
      cur = static_cast<std::int32_t>(Size());
    } else {
      cur = static_cast<std::int32_t>(bit < 0 ? -1 : bit);
    }
  }
  std::int32_t found = -1;
  if (!FBitmap.Find(restart, goForward, cur, found)) return false;
  foundRecordID = FTableData->BitmapRecNoToRecordID(found);
  return true;
}

bool TNRDRecordBitmap::FindRecord(bool restart, bool goForward, const TNRDIndexPosition* curIndexPos,
                                  TNRDIndexPosition& foundRecordIndexPos, std::int32_t indexID) const {
  std::int32_t cur = 0;
  if (!restart) {
    if (curIndexPos == nullptr) throw ENRDException(10425, "Nil pointer occured");
    const std::int64_t bit = BitOfIndexPos(indexID, *curIndexPos);
    if (bit >= Size()) {
      if (goForward) return false;
      cur = static_cast<std::int32_t>(Size());
    } else {
      cur = static_cast<std::int32_t>(bit < 0 ? -1 : bit);
    }
  }
  std::int32_t found = -1;
  if (!FBitmap.Find(restart, goForward, cur, found)) return false;
  foundRecordIndexPos.FillItemsByBitmapRecNo(found, MaxEntriesPerPage(indexID));
  return true;
}

}  // namespace nrd
