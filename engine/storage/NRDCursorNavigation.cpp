// Cursor navigation, views, record counts and record numbers over a table object.
#include "engine/storage/NRDCursorNavigation.h"

#include <algorithm>
#include <memory>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/storage/NRDCursor.h"
#include "engine/storage/NRDIndexManager.h"
#include "engine/storage/NRDRecordBitmap.h"
#include "engine/storage/NRDSearch.h"
#include "engine/storage/NRDTableData.h"

namespace nrd {

namespace {

std::int32_t RecordBufferSizeOf(TNRDTableData& table) {
  const std::int32_t managed = table.RecordManager().FRecordBufferSize;
  return managed > 0 ? managed : table.GetRecordBufferSize();
}

class TBuffer {
 public:
  explicit TBuffer(std::int32_t size) : p_(GlobalMemoryManager().AllocMem(std::max(size, 1))) {}
  ~TBuffer() { GlobalMemoryManager().FreeMem(p_); }
  TBuffer(const TBuffer&) = delete;
  TBuffer& operator=(const TBuffer&) = delete;
  void* get() const { return p_; }

 private:
  void* p_;
};

class TIndexPositionHolder {
 public:
  explicit TIndexPositionHolder(TNRDIndex* index) : index_(index), p_(index->CreateIndexPosition()) {}
  ~TIndexPositionHolder() {
    try {
      index_->FreeIndexPosition(p_);
    } catch (...) {
    }
  }
  TIndexPositionHolder(const TIndexPositionHolder&) = delete;
  TIndexPositionHolder& operator=(const TIndexPositionHolder&) = delete;
  TNRDIndexPosition* get() const { return p_; }

 private:
  TNRDIndex* index_;
  TNRDIndexPosition* p_;
};

// Restores a cursor's position when a scope ends, unless told to keep the new one.
class TPositionGuard {
 public:
  explicit TPositionGuard(TNRDCursor& cursor) : cursor_(cursor), saved_(cursor.SavePosition()) {}
  ~TPositionGuard() {
    if (!keep_) cursor_.RestorePosition(*saved_);
  }
  TPositionGuard(const TPositionGuard&) = delete;
  TPositionGuard& operator=(const TPositionGuard&) = delete;
  void Keep() { keep_ = true; }

 private:
  TNRDCursor& cursor_;
  std::unique_ptr<TNRDCursorPosition> saved_;
  bool keep_ = false;
};

bool ReadCurrentPhysical(TNRDTableData& table, TNRDCursor& cursor, void* buffer) {
  TNRDNavigationInfo nav;
  nav.GetRecordMode = grmCurrent;
  nav.IndexID = -1;
  nav.RecordID = cursor.CurrentRecord();
  nav.RecordBuffer = buffer;
  ReadRecord(table, cursor.SessionID(), nav, table.RecordManager().FTableState, nullptr);
  return nav.GetRecordResult == grrOK;
}

TNRDGetRecordResult MoveToRecord(TNRDTableData& table, TNRDCursor& cursor, TNRDGetRecordMode mode) {
  const bool restricted = cursor.IsViewRestricted();
  if (mode != grmCurrent && restricted) {
    // Before the first record there is nothing prior, after the last nothing next.
    if (mode == grmPrior && cursor.IsBeforeFirst()) return grrBOF;
    if (mode == grmNext && cursor.IsAfterLast()) return grrEOF;
    TNRDPageItemID found;
    const bool restart = cursor.IsBeforeFirst() || cursor.IsAfterLast();
    if (!SearchRecords(table, cursor, nullptr, false, cursor.RecordBitmap(), found, mode == grmNext, restart, nullptr))
      return mode == grmNext ? grrEOF : grrBOF;
    TNRDNavigationInfo nav;
    nav.GetRecordMode = grmCurrent;
    nav.IndexID = -1;
    nav.RecordID = found;
    nav.RecordBuffer = cursor.CurrentRecordBuffer();
    ReadRecord(table, cursor.SessionID(), nav, table.RecordManager().FTableState, nullptr);
    if (nav.GetRecordResult == grrOK) {
      cursor.MoveToRecord(found);
    }
    return nav.GetRecordResult;
  }
  TNRDNavigationInfo nav;
  nav.GetRecordMode = mode;
  nav.IndexID = cursor.IndexID();
  nav.RecordBuffer = cursor.CurrentRecordBuffer();
  nav.RecordID = cursor.CurrentRecord();
  nav.FirstPosition = cursor.IsBeforeFirst();
  nav.LastPosition = cursor.IsAfterLast();
  ReadRecord(table, cursor.SessionID(), nav, table.RecordManager().FTableState, cursor.IndexPositionCache());
  if (nav.GetRecordResult == grrError) return grrError;
  if (nav.GetRecordResult == grrOK && restricted && !IsRecordAccepted(table, cursor)) return grrError;
  cursor.SetPosition(nav.RecordID, nav.FirstPosition, nav.LastPosition);
  return nav.GetRecordResult;
}

}  // namespace

// ----- view checks ----------------------------------------------------------------------------------

bool IsRecordInRange(TNRDTableData& table, TNRDCursor& cursor) {
  if (!cursor.IsRangeApplied() || cursor.IndexID() == -1) return true;
  TNRDIndex* index = table.IndexManager().OpenIndex(cursor.IndexID());
  if (cursor.RangeStartBuffer() != nullptr) {
    const std::int32_t c = index->CompareRecordBuffersByIndex(cursor.CurrentRecordBuffer(), cursor.RangeStartBuffer(),
                                                              cursor.RangeStartKeyFieldCount());
    if (cursor.RangeStartExclusive() ? c <= 0 : c < 0) return false;
  }
  if (cursor.RangeEndBuffer() != nullptr) {
    const std::int32_t c = index->CompareRecordBuffersByIndex(cursor.CurrentRecordBuffer(), cursor.RangeEndBuffer(),
                                                              cursor.RangeEndKeyFieldCount());
    if (cursor.RangeEndExclusive() ? c >= 0 : c > 0) return false;
  }
  return true;
}

bool IsRecordAccepted(TNRDTableData& table, TNRDCursor& cursor) {
  if (!IsRecordInRange(table, cursor)) return false;
  if (!EvaluateFilterExpression(cursor, cursor.FilterExpression(), cursor.CurrentRecordBuffer())) return false;
  if (!EvaluateFilterExpression(cursor, cursor.SQLFilterExpression(), cursor.CurrentRecordBuffer())) return false;
  if (cursor.HasRecordFilter() && !cursor.AcceptedByRecordFilter()) return false;
  return true;
}

// ----- record bitmap upkeep -------------------------------------------------------------------------

void ResetRecordBitmap(TNRDTableData& table, TNRDRecordBitmap& bitmap, std::int32_t indexID) {
  bitmap.Clear();
  bitmap.FTableState = table.RecordManager().FTableState;
  bitmap.FIndexBased = indexID != -1;
}

void RefreshRecordBitmap(TNRDTableData& table, TNRDCursor& cursor) {
  TNRDRecordBitmap* bitmap = cursor.RecordBitmap();
  if (bitmap == nullptr) return;
  if ((bitmap->FActive && bitmap->Outdated()) || (!bitmap->FActive && cursor.IsViewRestricted()))
    RebuildRecordBitmap(table, cursor);
}

void RebuildRecordBitmap(TNRDTableData& table, TNRDCursor& cursor) {
  TNRDRecordBitmap* bitmap = cursor.RecordBitmap();
  if (bitmap == nullptr) return;
  TNRDTableDataLock lock(table);
  bitmap->Clear();
  bitmap->SetSize(table.GetBitmapRecordCount(cursor.SessionID()));
  if (table.RecordManager().FRecordCount == 0) return;
  TPositionGuard guard(cursor);
  cursor.MoveBeforeFirst();
  // The whole view is searched: no current record to start from.
  TNRDCursor::TLentBuffer none(cursor, nullptr);
  TNRDPageItemID found;
  SearchRecords(table, cursor, nullptr, true, bitmap, found, true, true, nullptr);
}

bool GetIndexPositionOfRecord(TNRDTableData& table, std::int32_t sessionID, std::int32_t indexID,
                              TNRDIndexPosition* indexPos, const TNRDPageItemID& recordID) {
  TBuffer buffer(RecordBufferSizeOf(table));
  TNRDNavigationInfo nav;
  nav.GetRecordMode = grmCurrent;
  nav.IndexID = -1;
  nav.RecordID = recordID;
  nav.RecordBuffer = buffer.get();
  ReadRecord(table, sessionID, nav, table.RecordManager().FTableState, nullptr);
  if (nav.GetRecordResult != grrOK) return false;
  return table.IndexManager().OpenIndex(indexID)->GetIndexPosition(sessionID, recordID, buffer.get(), indexPos);
}

// ----- reading and moving ---------------------------------------------------------------------------

void ReadRecord(TNRDTableData& table, std::int32_t sessionID, TNRDNavigationInfo& navigationInfo,
                std::int32_t tableState, TNRDIndexPositionCache* indexPositionCache) {
  if (!table.FRecordManager) throw ENRDException(10015, "Nil pointer occured");
  if (!table.FIndexManager) throw ENRDException(10380, "Nil pointer occured");
  if (navigationInfo.RecordBuffer == nullptr) throw ENRDException(10016, "Nil pointer occured");
  if (navigationInfo.IndexID != -1 && navigationInfo.GetRecordMode != grmCurrent)
    table.IndexManager().GetRecordBuffer(sessionID, navigationInfo, indexPositionCache, tableState);
  else
    table.RecordManager().GetRecordBuffer(sessionID, navigationInfo);
}

TNRDGetRecordResult GetRecordBuffer(TNRDTableData& table, TNRDCursor& cursor, TNRDGetRecordMode getRecordMode) {
  TNRDTableDataLock lock(table);
  if (table.RecordManager().FRecordCount == 0) return grrEOF;
  const bool distinctStep = cursor.IsDistinctApplied() && getRecordMode != grmCurrent && !cursor.IsBeforeFirst() &&
                            !cursor.IsAfterLast();
  if (!distinctStep) return MoveToRecord(table, cursor, getRecordMode);
  // The current record's key tells the search where the current DISTINCT group ends.
  struct TDistinctBuffer {
    TNRDCursor& cursor;
    ~TDistinctBuffer() { cursor.ReplaceDistinctRecordBuffer(nullptr); }
  } distinct{cursor};
  cursor.ReplaceDistinctRecordBuffer(GlobalMemoryManager().AllocMem(RecordBufferSizeOf(table)));
  if (!ReadCurrentPhysical(table, cursor, cursor.DistinctRecordBuffer())) return grrError;
  return MoveToRecord(table, cursor, getRecordMode);
}

bool Locate(TNRDTableData& table, TNRDCursor& cursor, TNRDExpression* searchExpression) {
  if (searchExpression == nullptr) throw ENRDException(10272, "Nil pointer occured");
  TNRDTableDataLock lock(table);
  TPositionGuard guard(cursor);
  TNRDPageItemID found;
  if (!SearchRecords(table, cursor, searchExpression, false, nullptr, found, true, true, nullptr)) return false;
  cursor.MoveToRecord(found);
  guard.Keep();
  GetRecordBuffer(table, cursor, grmCurrent);
  return true;
}

bool FindKey(TNRDTableData& table, TNRDCursor& cursor, TNRDSearchCondition searchCondition) {
  TNRDScanSearchCondition condition(true);
  condition.Condition = searchCondition;
  condition.KeyFieldCount = cursor.KeyFieldCount();
  condition.KeyRecordBuffer = cursor.KeyBuffer();
  condition.KeyRecordBufferSize = cursor.KeyBufferSize() > 0 ? cursor.KeyBufferSize() : RecordBufferSizeOf(table);
  condition.IndexID = cursor.IndexID();
  TNRDTableDataLock lock(table);
  TPositionGuard guard(cursor);
  TNRDPageItemID found;
  if (!SearchRecords(table, cursor, nullptr, false, nullptr, found, true, true, &condition)) return false;
  cursor.MoveToRecord(found);
  guard.Keep();
  return true;
}

// ----- counts and record numbers --------------------------------------------------------------------

static std::int64_t CountByStepping(TNRDTableData& table, TNRDCursor& cursor);

std::int64_t GetRecordCount(TNRDTableData& table, TNRDCursor& cursor) {
  TNRDTableDataLock lock(table);
  if (!cursor.IsViewRestricted()) return table.InternalGetRecordCount(&cursor);
  if (cursor.RecordBitmap() != nullptr) {
    RefreshRecordBitmap(table, cursor);
    return cursor.RecordBitmap()->RecordCount();
  }
  // Without a bitmap the view is counted by stepping through it once.
  return CountByStepping(table, cursor);
}

namespace {
// The next record of the view after the cursor's (or its first with restart), without moving
// the cursor: the search of a step, with the DISTINCT group of the current record skipped.
bool SearchNextInView(TNRDTableData& table, TNRDCursor& cursor, bool restart, TNRDPageItemID& found) {
  if (restart || !cursor.IsDistinctApplied())
    return SearchRecords(table, cursor, nullptr, false, nullptr, found, true, restart, nullptr);
  struct TDistinctBuffer {
    TNRDCursor& cursor;
    ~TDistinctBuffer() { cursor.ReplaceDistinctRecordBuffer(nullptr); }
  } distinct{cursor};
  cursor.ReplaceDistinctRecordBuffer(GlobalMemoryManager().AllocMem(RecordBufferSizeOf(table)));
  if (!ReadCurrentPhysical(table, cursor, cursor.DistinctRecordBuffer())) return false;
  return SearchRecords(table, cursor, nullptr, false, nullptr, found, true, false, nullptr);
}

// Numbers a restricted view that has no bitmap by stepping through it from its first record:
// with recNo > 0 the cursor ends on that record; with recNo 0 the result is the number of the
// record `target`, or -1. The cursor's position is kept when nothing was positioned.
std::int64_t StepThroughView(TNRDTableData& table, TNRDCursor& cursor, std::int64_t recNo, TNRDPageItemID target) {
  TPositionGuard guard(cursor);
  TNRDPageItemID found;
  std::int64_t n = 0;
  for (bool restart = true; SearchNextInView(table, cursor, restart, found); restart = false) {
    ++n;
    cursor.MoveToRecord(found);
    if (recNo > 0 && n == recNo) {
      guard.Keep();
      return n;
    }
    if (recNo == 0 && found.PageNo == target.PageNo && found.PageItemNo == target.PageItemNo) return n;
  }
  return -1;
}
}  // namespace

static std::int64_t CountByStepping(TNRDTableData& table, TNRDCursor& cursor) {
  TPositionGuard guard(cursor);
  std::int64_t count = 0;
  TNRDPageItemID found;
  for (bool restart = true; SearchNextInView(table, cursor, restart, found); restart = false) {
    ++count;
    cursor.MoveToRecord(found);
  }
  return count;
}

void SetRecNo(TNRDTableData& table, TNRDCursor& cursor, std::int64_t recNo) {
  TNRDTableDataLock lock(table);
  const std::int64_t count = GetRecordCount(table, cursor);
  if (count <= 0) return;
  recNo = std::clamp<std::int64_t>(recNo, 1, count);
  if (cursor.IsViewRestricted() && cursor.RecordBitmap() == nullptr) {
    StepThroughView(table, cursor, recNo, TNRDPageItemID());
    return;
  }
  const bool restricted = cursor.IsViewRestricted();
  TNRDPageItemID id = cursor.CurrentRecord();
  if (cursor.IsIndexApplied()) {
    TNRDIndex* index = table.IndexManager().OpenIndex(cursor.IndexID());
    if (restricted && cursor.RecordBitmap()->FIndexBased) {
      TIndexPositionHolder position(index);
      cursor.RecordBitmap()->GetIndexPosByRecNo(cursor.IndexID(), recNo, *position.get());
      index->GetRecordIDByIndexPosition(cursor.SessionID(), position.get(), id);
    } else if (restricted) {
      id = cursor.RecordBitmap()->GetRecordIDByRecNo(recNo);
    } else {
      id = index->GetRecordIDByRecNo(cursor.SessionID(), recNo);
    }
  } else if (restricted) {
    id = cursor.RecordBitmap()->GetRecordIDByRecNo(recNo);
  } else {
    cursor.MoveToRecord(cursor.CurrentRecord());
    table.InternalSetRecNo(&cursor, recNo);
    return;
  }
  cursor.MoveToRecord(id);
}

std::int64_t GetRecNo(TNRDTableData& table, TNRDCursor& cursor) {
  TNRDTableDataLock lock(table);
  if (cursor.IsBeforeFirst() || cursor.IsAfterLast()) return -1;
  if (GetRecordCount(table, cursor) <= 0) return -1;
  if (cursor.IsViewRestricted() && cursor.RecordBitmap() == nullptr)
    return StepThroughView(table, cursor, 0, cursor.CurrentRecord());
  RefreshRecordBitmap(table, cursor);
  const bool restricted = cursor.IsViewRestricted();
  if (cursor.IsIndexApplied()) {
    TBuffer buffer(RecordBufferSizeOf(table));
    if (!ReadCurrentPhysical(table, cursor, buffer.get())) return -1;
    TNRDIndex* index = table.IndexManager().OpenIndex(cursor.IndexID());
    if (restricted && cursor.RecordBitmap()->FIndexBased) {
      TIndexPositionHolder position(index);
      if (!index->GetIndexPosition(cursor.SessionID(), cursor.CurrentRecord(), buffer.get(), position.get())) return -1;
      return cursor.RecordBitmap()->GetRecNoByIndexPos(cursor.IndexID(), *position.get());
    }
    if (restricted) return cursor.RecordBitmap()->GetRecNoByRecordID(cursor.CurrentRecord());
    return index->GetRecNoByRecordID(cursor.SessionID(), cursor.CurrentRecord(), buffer.get());
  }
  if (restricted) return cursor.RecordBitmap()->GetRecNoByRecordID(cursor.CurrentRecord());
  return table.InternalGetRecNo(&cursor);
}

}  // namespace nrd
