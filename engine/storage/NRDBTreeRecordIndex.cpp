#include "engine/storage/NRDBTreeRecordIndex.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDBTreePage.h"
#include "engine/storage/NRDCursor.h"
#include "engine/storage/NRDFieldManager.h"
#include "engine/storage/NRDRecordBitmap.h"
#include "engine/storage/NRDSearch.h"
#include "engine/storage/NRDTableData.h"

namespace nrd {

namespace {

[[noreturn]] void InvalidPageNumber(int code) { throw ENRDException(code, "Invalid page number"); }

// The table's records in physical order through its record manager.
class TRecordManagerSource : public TNRDIndexRecordSource {
 public:
  TRecordManagerSource(TNRDTableData& table, std::int32_t sessionID) : table_(table), session_(sessionID) {}
  bool Next(void* recordBuffer, TNRDPageItemID& recordID) override {
    TNRDNavigationInfo nav;
    nav.GetRecordMode = grmNext;
    nav.RecordID = last_;
    nav.FirstPosition = first_;
    nav.RecordBuffer = recordBuffer;
    table_.RecordManager().GetRecordBuffer(session_, nav);
    if (nav.GetRecordResult != grrOK) return false;
    first_ = false;
    last_ = nav.RecordID;
    recordID = nav.RecordID;
    return true;
  }

 private:
  TNRDTableData& table_;
  std::int32_t session_;
  TNRDPageItemID last_;
  bool first_ = true;
};

TNRDIndexRecordSourceFactory& SourceFactory() {
  static TNRDIndexRecordSourceFactory factory;
  return factory;
}

// Puts the key reference's compare settings back when a search ends, however it ends.
class TCompareSettingsGuard {
 public:
  explicit TCompareSettingsGuard(TNRDRecordKeyRef& keyRef) : keyRef_(keyRef) {}
  ~TCompareSettingsGuard() { keyRef_.ResetCompareSettings(); }
  TCompareSettingsGuard(const TCompareSettingsGuard&) = delete;
  TCompareSettingsGuard& operator=(const TCompareSettingsGuard&) = delete;

 private:
  TNRDRecordKeyRef& keyRef_;
};

const TNRDKeyPath* AsKeyPath(const TNRDIndexPosition* position) {
  const auto* path = dynamic_cast<const TNRDKeyPath*>(position);
  if (path == nullptr) throw ENRDException(20020, "Internal index error");
  return path;
}

TNRDBTreeScanBound BoundOfCondition(const TNRDScanSearchCondition& condition) {
  TNRDBTreeScanBound bound;
  bound.Operator = condition.Condition;
  bound.KeyFieldCount = condition.KeyFieldCount;
  bound.KeyRecordBuffer = condition.KeyRecordBuffer;
  bound.PartialCompare = condition.PartialCompare;
  return bound;
}

}  // namespace

void SetIndexRecordSourceFactory(TNRDIndexRecordSourceFactory factory) { SourceFactory() = std::move(factory); }

void RegisterBTreeRecordIndex() {
  SetDefaultRecordIndexCreator(
      [](TNRDBaseIndexManager& manager) { return std::make_unique<TNRDBTreeRecordIndex>(&manager); });
}

// ----- set-up --------------------------------------------------------------------------------------

TNRDPageManager* TNRDBTreeRecordIndex::PageManager() const {
  TNRDPageManager* pm = FIndexManager != nullptr ? FIndexManager->GetPageManager(*this) : nullptr;
  if (pm == nullptr) throw ENRDException(20044, "Pointer is nil");
  return pm;
}

std::int32_t TNRDBTreeRecordIndex::RootPageNo(int code) const {
  if (FIndexDef.FRootPageNo == -1 || !FKeyRef) InvalidPageNumber(code);
  return FIndexDef.FRootPageNo;
}

void TNRDBTreeRecordIndex::MakeKeyRef() {
  auto keyRef = std::make_unique<TNRDRecordKeyRef>();
  keyRef->Assign(FIndexDef, FIndexManager != nullptr ? FIndexManager->FTableData : nullptr);
  keyRef->SetReferenceSize(6);
  // A page must hold a few entries, or splits cannot make room.
  const std::int32_t room = PageManager()->PageDataSize() - kIndexPageHeaderSize;
  if (keyRef->ShortKeySize() > 0xFFFF || room / (keyRef->ShortKeySize() + 6) < 3)
    throw ENRDException(20020, "Internal index error");
  FKeyRef = std::move(keyRef);
}

void TNRDBTreeRecordIndex::CreateIndex(TNRDCursor* cursor, const TNRDIndexDef& indexDef) {
  TNRDIndex::CreateIndex(cursor, indexDef);
  MakeKeyRef();
  const std::int32_t sessionID = cursor != nullptr ? cursor->SessionID() : -2;
  {
    TNRDBTreePage root(PageManager(), FKeyRef.get());
    root.Add(sessionID);
    root.InitAsRoot();
    root.SetIsDirty(true);
    FIndexDef.FRootPageNo = root.PageNo();
  }
  if (cursor == nullptr) return;
  TNRDTableData& table = *FIndexManager->FTableData;
  std::unique_ptr<TNRDIndexRecordSource> source =
      SourceFactory() ? SourceFactory()(table, sessionID) : std::make_unique<TRecordManagerSource>(table, sessionID);
  std::vector<std::uint8_t> record(
      static_cast<std::size_t>(table.FieldManager().FFieldDefs.GetMemoryRecordBufferSize()), 0);
  TNRDPageItemID recordID;
  while (source->Next(record.data(), recordID)) InsertEntry(sessionID, record.data(), recordID);
}

void TNRDBTreeRecordIndex::DropIndex(std::int32_t sessionID) {
  const std::int32_t rootNo = RootPageNo(20119);
  TNRDBTreePage root(PageManager(), FKeyRef.get());
  root.Get(sessionID, rootNo);
  root.Controller().FreeAllPages(sessionID, false);
  FIndexDef.FRootPageNo = -1;
}

void TNRDBTreeRecordIndex::EmptyIndex(std::int32_t sessionID) {
  const std::int32_t rootNo = RootPageNo(20120);
  TNRDBTreePage root(PageManager(), FKeyRef.get());
  root.Get(sessionID, rootNo);
  root.Controller().FreeAllPages(sessionID, true);
  root.InitAsRoot();
  root.SetIsDirty(true);
}

void TNRDBTreeRecordIndex::OpenIndex(const TNRDIndexDef& indexDef) {
  TNRDIndex::OpenIndex(indexDef);
  MakeKeyRef();
}

void TNRDBTreeRecordIndex::RebuildTemporaryIndex(TNRDCursor* cursor) {
  DropIndex(cursor != nullptr ? cursor->SessionID() : -2);
  TNRDIndexDef def;
  def.Assign(FIndexDef);
  CreateIndex(cursor, def);
}

// ----- entries ---------------------------------------------------------------------------------------

void TNRDBTreeRecordIndex::InsertEntry(std::int32_t sessionID, const void* recordBuffer,
                                       const TNRDPageItemID& recordID) {
  const std::int32_t rootNo = RootPageNo(20127);
  std::vector<std::uint8_t> key = FKeyRef->AllocShortKeyBuffer();
  FKeyRef->MakeShortKeyFromRecordBuffer(recordBuffer, key.data());
  std::uint8_t ref[6];
  recordID.Encode(ref);
  TNRDKeyPath path;
  TNRDBTreePage root(PageManager(), FKeyRef.get());
  root.Get(sessionID, rootNo);
  root.Controller().InsertLeafEntry(sessionID, key.data(), ref, path);
}

bool TNRDBTreeRecordIndex::DeleteEntry(std::int32_t sessionID, const void* recordBuffer,
                                       const TNRDPageItemID& recordID) {
  const std::int32_t rootNo = RootPageNo(20127);
  std::vector<std::uint8_t> key = FKeyRef->AllocShortKeyBuffer();
  FKeyRef->MakeShortKeyFromRecordBuffer(recordBuffer, key.data());
  std::uint8_t ref[6];
  recordID.Encode(ref);
  TNRDKeyPath path;
  TNRDBTreePage root(PageManager(), FKeyRef.get());
  root.Get(sessionID, rootNo);
  return root.Controller().DeleteLeafEntry(sessionID, key.data(), ref, path);
}

void TNRDBTreeRecordIndex::InsertRecord(TNRDCursor* cursor) {
  InsertEntry(cursor->SessionID(), cursor->CurrentRecordBuffer(), cursor->CurrentRecord());
}

void TNRDBTreeRecordIndex::DeleteRecord(TNRDCursor* cursor) {
  if (!DeleteEntry(cursor->SessionID(), cursor->CurrentRecordBuffer(), cursor->CurrentRecord()))
    throw ENRDException(20027, "Index error: cannot delete entry. Entry not found");
}

bool TNRDBTreeRecordIndex::FullKeysEqual(const void* buffer1, const void* buffer2) {
  std::vector<std::uint8_t> k1 = FKeyRef->AllocFullKeyBuffer();
  std::vector<std::uint8_t> k2 = FKeyRef->AllocFullKeyBuffer();
  FKeyRef->MakeFullKeyFromRecordBuffer(buffer1, k1.data());
  FKeyRef->MakeFullKeyFromRecordBuffer(buffer2, k2.data());
  return FKeyRef->CompareFullKeys(k1.data(), k2.data()) == 0;
}

void TNRDBTreeRecordIndex::UpdateRecord(TNRDCursor* cursor, bool beforeNewRecordIsStored) {
  RootPageNo(20127);
  if (FullKeysEqual(cursor->EditRecordBuffer(), cursor->CurrentRecordBuffer())) return;
  if (beforeNewRecordIsStored) {
    if (!DeleteEntry(cursor->SessionID(), cursor->EditRecordBuffer(), cursor->CurrentRecord()))
      throw ENRDException(20250, "Index error: cannot delete entry. Entry not found");
  } else {
    InsertEntry(cursor->SessionID(), cursor->CurrentRecordBuffer(), cursor->CurrentRecord());
  }
}

bool TNRDBTreeRecordIndex::CanInsertRecord(std::int32_t sessionID, const void* recordBuffer) {
  if (!FIndexDef.FUnique && !FIndexDef.FPrimary) return true;
  const std::int32_t rootNo = RootPageNo(20126);
  std::vector<std::uint8_t> key = FKeyRef->AllocShortKeyBuffer();
  FKeyRef->MakeShortKeyFromRecordBuffer(recordBuffer, key.data());
  TNRDKeyPath path;
  TNRDBTreePage root(PageManager(), FKeyRef.get());
  root.Get(sessionID, rootNo);
  return !root.FindByCondition(sessionID, true, key.data(), scEqual, path);
}

bool TNRDBTreeRecordIndex::CanUpdateRecord(std::int32_t sessionID, const void* oldRecordBuffer,
                                           const void* newRecordBuffer) {
  RootPageNo(20126);
  if (FullKeysEqual(oldRecordBuffer, newRecordBuffer)) return true;
  return CanInsertRecord(sessionID, newRecordBuffer);
}

std::int32_t TNRDBTreeRecordIndex::CompareRecordBuffersByIndex(const void* buffer1, const void* buffer2,
                                                               std::int32_t indexFieldCount) {
  if (!FKeyRef) throw ENRDException(20044, "Pointer is nil");
  TCompareSettingsGuard guard(*FKeyRef);
  std::vector<std::uint8_t> k1 = FKeyRef->AllocFullKeyBuffer();
  std::vector<std::uint8_t> k2 = FKeyRef->AllocFullKeyBuffer();
  FKeyRef->MakeFullKeyFromRecordBuffer(buffer1, k1.data());
  FKeyRef->MakeFullKeyFromRecordBuffer(buffer2, k2.data());
  // A negative count asks for every column.
  FKeyRef->SetCompareFieldCount(indexFieldCount < 0 ? FKeyRef->PartCount()
                                                    : std::clamp(indexFieldCount, 0, FKeyRef->PartCount()));
  return FKeyRef->CompareFullKeys(k1.data(), k2.data());
}

std::int32_t TNRDBTreeRecordIndex::GetMaxEntriesPerPage() {
  if (!FKeyRef) throw ENRDException(20044, "Pointer is nil");
  return PageManager()->PageDataSize() / (FKeyRef->ShortKeySize() + 4);
}

void TNRDBTreeRecordIndex::CheckIntegrity(std::int32_t sessionID) {
  const std::int32_t rootNo = RootPageNo(20124);
  TNRDKeyPath path;
  TNRDBTreePage root(PageManager(), FKeyRef.get());
  root.Get(sessionID, rootNo);
  if (!root.IsRoot()) throw ENRDException(20020, "Internal index error");
  root.Controller().CheckIntegrity(sessionID, path);
}

// ----- positions -------------------------------------------------------------------------------------

bool TNRDBTreeRecordIndex::GetFirstIndexPosition(std::int32_t sessionID, TNRDKeyPath& position) {
  const std::int32_t rootNo = RootPageNo(20121);
  position.Clear();
  TNRDBTreePage root(PageManager(), FKeyRef.get());
  root.Get(sessionID, rootNo);
  return root.Controller().GetFirstPosition(sessionID, position);
}

bool TNRDBTreeRecordIndex::GetLastIndexPosition(std::int32_t sessionID, TNRDKeyPath& position) {
  const std::int32_t rootNo = RootPageNo(20122);
  position.Clear();
  TNRDBTreePage root(PageManager(), FKeyRef.get());
  root.Get(sessionID, rootNo);
  return root.Controller().GetLastPosition(sessionID, position);
}

bool TNRDBTreeRecordIndex::MoveToNextPosition(std::int32_t sessionID, TNRDKeyPath& position) {
  return BTreeMoveToNextPosition(PageManager(), FKeyRef.get(), sessionID, position, 20069, 20070);
}

bool TNRDBTreeRecordIndex::MoveToPriorPosition(std::int32_t sessionID, TNRDKeyPath& position) {
  return BTreeMoveToPriorPosition(PageManager(), FKeyRef.get(), sessionID, position, 20069, 20071);
}

TNRDPageItemID TNRDBTreeRecordIndex::GetReferenceAtPosition(std::int32_t sessionID, const TNRDKeyPath& position) {
  if (position.Count <= 0) throw ENRDException(20068, "Index error: invalid position");
  TNRDBTreePage leaf(PageManager(), FKeyRef.get());
  leaf.Get(sessionID, position.Leaf().PageNo);
  if (!leaf.IsLeaf() || position.Leaf().EntryNo < 0 || position.Leaf().EntryNo >= leaf.EntryCount())
    throw ENRDException(20068, "Index error: invalid position");
  return TNRDPageItemID::Decode(leaf.GetPReference(position.Leaf().EntryNo));
}

bool TNRDBTreeRecordIndex::GetIndexPosition(std::int32_t sessionID, const TNRDPageItemID& recordID,
                                            const void* recordBuffer, TNRDIndexPosition* indexPosition) {
  const std::int32_t rootNo = RootPageNo(20124);
  auto* path = const_cast<TNRDKeyPath*>(AsKeyPath(indexPosition));
  path->Clear();
  std::vector<std::uint8_t> key = FKeyRef->AllocShortKeyBuffer();
  FKeyRef->MakeShortKeyFromRecordBuffer(recordBuffer, key.data());
  std::uint8_t ref[6];
  recordID.Encode(ref);
  TNRDBTreePage root(PageManager(), FKeyRef.get());
  root.Get(sessionID, rootNo);
  return root.Controller().FindEntry(sessionID, key.data(), ref, *path);
}

std::int32_t TNRDBTreeRecordIndex::CompareRecordPositionsInIndex(const TNRDIndexPosition* position1,
                                                                 const TNRDIndexPosition* position2) {
  if (position1 == nullptr) throw ENRDException(10384, "Nil pointer occured");
  if (position2 == nullptr) throw ENRDException(10385, "Nil pointer occured");
  return AsKeyPath(position1)->Compare(*AsKeyPath(position2));
}

void TNRDBTreeRecordIndex::GetRecordIDByIndexPosition(std::int32_t sessionID, const TNRDIndexPosition* indexPos,
                                                      TNRDPageItemID& recordID) {
  const TNRDKeyPath* path = AsKeyPath(indexPos);
  std::int32_t pageNo = RootPageNo(20124);
  if (path->Count <= 0) throw ENRDException(20068, "Index error: invalid position");
  TNRDBTreePage page(PageManager(), FKeyRef.get());
  for (std::int32_t level = 0; level < path->Count; ++level) {
    page.Get(sessionID, pageNo);
    const std::int32_t entryNo = path->Items[level].EntryNo;
    const bool last = level == path->Count - 1;
    if (entryNo < 0 || entryNo >= page.EntryCount() || page.IsLeaf() != last)
      throw ENRDException(20068, "Index error: invalid position");
    if (last) {
      recordID = TNRDPageItemID::Decode(page.GetPReference(entryNo));
      return;
    }
    pageNo = page.ChildPageNo(entryNo);
  }
}

// ----- navigation ------------------------------------------------------------------------------------

bool TNRDBTreeRecordIndex::CachedPathHolds(std::int32_t sessionID, const TNRDKeyPath& path,
                                           const TNRDPageItemID& recordID) {
  if (path.Count <= 0 || path.Items[0].PageNo != FIndexDef.FRootPageNo) return false;
  TNRDBTreePage page(PageManager(), FKeyRef.get());
  for (std::int32_t level = 0; level < path.Count; ++level) {
    const TNRDKeyPathItem& item = path.Items[level];
    page.Get(sessionID, item.PageNo);
    const bool leaf = level == path.Count - 1;
    if (page.IsLeaf() != leaf || page.EntryCount() != item.EntryCount || item.EntryNo < 0 ||
        item.EntryNo >= item.EntryCount)
      return false;
    if (leaf) return TNRDPageItemID::Decode(page.GetPReference(item.EntryNo)) == recordID;
    if (page.ChildPageNo(item.EntryNo) != path.Items[level + 1].PageNo) return false;
  }
  return false;
}

void TNRDBTreeRecordIndex::GetRecordBuffer(std::int32_t sessionID, TNRDNavigationInfo& navigationInfo,
                                           TNRDIndexPositionCache* indexPositionCache, std::int32_t tableState) {
  if (navigationInfo.GetRecordMode == grmCurrent)
    throw ENRDException(20053, "Invalid 'get record' mode for index: grmCurrent");
  RootPageNo(20123);
  TNRDKeyPath path;
  bool found;
  bool step = false;
  const TNRDKeyPath* cached =
      indexPositionCache != nullptr ? dynamic_cast<const TNRDKeyPath*>(indexPositionCache->Position.get()) : nullptr;
  if (navigationInfo.FirstPosition) {
    found = GetFirstIndexPosition(sessionID, path);
  } else if (navigationInfo.LastPosition) {
    found = GetLastIndexPosition(sessionID, path);
  } else if (cached != nullptr && indexPositionCache->IndexID == FIndexDef.FObjectID &&
             indexPositionCache->RecordID == navigationInfo.RecordID && indexPositionCache->TableState == tableState &&
             CachedPathHolds(sessionID, *cached, navigationInfo.RecordID)) {
    // The cursor's last position still names its record: no search. (Every level is looked at,
    // as a table state that does not change with the table must not lead a step astray.)
    path.Assign(*cached);
    found = true;
    step = true;
  } else {
    found = GetIndexPosition(sessionID, navigationInfo.RecordID, navigationInfo.RecordBuffer, &path);
    step = true;
  }
  if (!found) {
    navigationInfo.GetRecordResult = grrError;
    return;
  }
  if (step) {
    const bool forward = navigationInfo.GetRecordMode == grmNext;
    if (!(forward ? MoveToNextPosition(sessionID, path) : MoveToPriorPosition(sessionID, path))) {
      navigationInfo.GetRecordResult = forward ? grrEOF : grrBOF;
      navigationInfo.FirstPosition = !forward;
      navigationInfo.LastPosition = forward;
      return;
    }
  }
  navigationInfo.GetRecordResult = grrOK;
  navigationInfo.FirstPosition = false;
  navigationInfo.LastPosition = false;
  navigationInfo.RecordID = GetReferenceAtPosition(sessionID, path);
  const TNRDGetRecordMode mode = navigationInfo.GetRecordMode;
  navigationInfo.GetRecordMode = grmCurrent;
  try {
    FIndexManager->FTableData->RecordManager().GetRecordBuffer(sessionID, navigationInfo);
  } catch (...) {
    navigationInfo.GetRecordMode = mode;
    throw;
  }
  navigationInfo.GetRecordMode = mode;
  if (indexPositionCache != nullptr) {
    auto position = std::make_unique<TNRDKeyPath>();
    position->Assign(path);
    indexPositionCache->Position = std::move(position);
    indexPositionCache->IndexID = FIndexDef.FObjectID;
    indexPositionCache->TableState = tableState;
    indexPositionCache->RecordID = navigationInfo.RecordID;
  }
}

void TNRDBTreeRecordIndex::GetClosestRecordBuffer(std::int32_t sessionID, TNRDNavigationInfo& navigationInfo,
                                                  TNRDIndexPositionCache*, std::int32_t) {
  const std::int32_t rootNo = RootPageNo(20293);
  const bool forward = navigationInfo.GetRecordMode == grmNext;
  std::vector<std::uint8_t> key = FKeyRef->AllocShortKeyBuffer();
  FKeyRef->MakeShortKeyFromRecordBuffer(navigationInfo.RecordBuffer, key.data());
  TNRDKeyPath path;
  bool found;
  {
    TNRDBTreePage root(PageManager(), FKeyRef.get());
    root.Get(sessionID, rootNo);
    found = root.FindByCondition(sessionID, forward, key.data(), forward ? scGreater : scLower, path);
  }
  if (!found) {
    navigationInfo.GetRecordResult = forward ? grrEOF : grrBOF;
    navigationInfo.LastPosition = forward;
    navigationInfo.FirstPosition = !forward;
    return;
  }
  navigationInfo.GetRecordResult = grrOK;
  navigationInfo.FirstPosition = false;
  navigationInfo.LastPosition = false;
  navigationInfo.RecordID = GetReferenceAtPosition(sessionID, path);
  const TNRDGetRecordMode mode = navigationInfo.GetRecordMode;
  navigationInfo.GetRecordMode = grmCurrent;
  try {
    FIndexManager->FTableData->RecordManager().GetRecordBuffer(sessionID, navigationInfo);
  } catch (...) {
    navigationInfo.GetRecordMode = mode;
    throw;
  }
  navigationInfo.GetRecordMode = mode;
}

// ----- record numbers --------------------------------------------------------------------------------

std::int64_t TNRDBTreeRecordIndex::GetRecNoByRecordID(std::int32_t sessionID, const TNRDPageItemID& recordID,
                                                      const void* recordBuffer) {
  TNRDKeyPath path;
  if (!GetIndexPosition(sessionID, recordID, recordBuffer, &path)) return -1;
  std::int64_t recNo = path.Leaf().EntryNo + 1;
  TNRDBTreePage page(PageManager(), FKeyRef.get());
  page.Get(sessionID, path.Leaf().PageNo);
  // A leaf chain longer than the file has pages can only be a cycle.
  std::int64_t budget = BTreeWalkBudget(PageManager(), sessionID);
  for (std::int32_t left = page.LeftPageNo(); left != -1; left = page.LeftPageNo()) {
    if (--budget < 0) throw ENRDException(20020, "Internal index error");
    page.Get(sessionID, left);
    recNo += page.EntryCount();
  }
  return recNo;
}

TNRDPageItemID TNRDBTreeRecordIndex::GetRecordIDByRecNo(std::int32_t sessionID, std::int64_t recNo) {
  TNRDKeyPath path;
  if (!GetFirstIndexPosition(sessionID, path))
    throw ENRDException(20074, "Cannot retrieve record from empty index");
  TNRDBTreePage page(PageManager(), FKeyRef.get());
  page.Get(sessionID, path.Leaf().PageNo);
  std::int64_t before = 0;
  std::int64_t budget = BTreeWalkBudget(PageManager(), sessionID);
  for (;;) {
    if (before + page.EntryCount() >= recNo && recNo > before)
      return TNRDPageItemID::Decode(page.GetPReference(static_cast<std::int32_t>(recNo - before - 1)));
    before += page.EntryCount();
    if (page.RightPageNo() == -1) throw ENRDException(20075, "Cannot set RecNo greater than RecordCount");
    if (--budget < 0) throw ENRDException(20020, "Internal index error");
    page.Get(sessionID, page.RightPageNo());
  }
}

// ----- DISTINCT --------------------------------------------------------------------------------------

void TNRDBTreeRecordIndex::ApplyDistinctToRecordBitmap(std::int32_t sessionID, TNRDRecordBitmap* bitmap,
                                                       std::int32_t distinctFieldCount) {
  if (bitmap == nullptr) throw ENRDException(20076, "Pointer is nil");
  RootPageNo(20121);
  TCompareSettingsGuard guard(*FKeyRef);
  FKeyRef->SetCompareFieldCount(std::clamp(distinctFieldCount, 0, FKeyRef->PartCount()));
  TNRDKeyPath path;
  if (!GetFirstIndexPosition(sessionID, path)) return;
  std::vector<std::uint8_t> lastKey = FKeyRef->AllocShortKeyBuffer();
  std::uint8_t lastRef[6] = {};
  bool haveLast = false;
  TNRDBTreePage leaf(PageManager(), FKeyRef.get());
  do {
    if (!bitmap->IsRecordVisible(FIndexDef.FObjectID, path)) continue;
    leaf.Get(sessionID, path.Leaf().PageNo);
    const std::uint8_t* key = leaf.GetPKey(path.Leaf().EntryNo);
    const std::uint8_t* ref = leaf.GetPReference(path.Leaf().EntryNo);
    if (haveLast && FKeyRef->CompareShortKeys(lastKey.data(), key, true, sessionID, lastRef, ref) == 0) {
      leaf.Put();
      bitmap->HideRecord(FIndexDef.FObjectID, path);
      continue;
    }
    std::memcpy(lastKey.data(), key, lastKey.size());
    std::memcpy(lastRef, ref, 6);
    haveLast = true;
    leaf.Put();
  } while (MoveToNextPosition(sessionID, path));
}

// ----- range scans -----------------------------------------------------------------------------------

bool TNRDBTreeRecordIndex::PositionByBound(std::int32_t sessionID, bool first, const TNRDBTreeScanBound& bound,
                                           TNRDKeyPath& position) {
  std::vector<std::uint8_t> key = FKeyRef->AllocShortKeyBuffer();
  FKeyRef->MakeShortKeyFromRecordBuffer(bound.KeyRecordBuffer, key.data());
  FKeyRef->SetCompareFieldCount(std::clamp(bound.KeyFieldCount, 0, FKeyRef->PartCount()));
  position.Clear();
  TNRDBTreePage root(PageManager(), FKeyRef.get());
  root.Get(sessionID, RootPageNo(20124));
  return root.FindByCondition(sessionID, first, key.data(), bound.Operator, position);
}

bool TNRDBTreeRecordIndex::FindRecordByBounds(std::int32_t sessionID, bool restart, bool goForward,
                                              const TNRDBTreeScanBound* start, const TNRDBTreeScanBound* end,
                                              const void* recordBuffer, TNRDPageItemID& recordID,
                                              TNRDBTreeSearchInfo* searchInfo) {
  if (searchInfo == nullptr) throw ENRDException(20077, "Pointer is nil");
  if (restart && searchInfo->ScanStarted) throw ENRDException(20078, "Index error: invalid params");
  RootPageNo(20124);
  TCompareSettingsGuard guard(*FKeyRef);
  TNRDKeyPath& scan = *searchInfo->ScanPosition;
  bool skipStep = false;
  if (restart || !searchInfo->ScanStarted) {
    if (start != nullptr) {
      FKeyRef->SetPartialCompare(start->KeyRecordBuffer, start->PartialCompare);
      if (!PositionByBound(sessionID, goForward, *start, scan)) return false;
      FKeyRef->ResetCompareSettings();
      if (!restart) {
        TNRDKeyPath current;
        if (!GetIndexPosition(sessionID, recordID, recordBuffer, &current)) return false;
        const std::int32_t order = current.Compare(scan);
        if (goForward ? order >= 0 : order <= 0) {
          scan.Assign(current);
        } else if (!(goForward ? MoveToPriorPosition(sessionID, scan) : MoveToNextPosition(sessionID, scan))) {
          // The start is the tree's outermost entry: the coming step must land on it, not pass it.
          skipStep = true;
        }
      }
    } else if (restart) {
      if (!(goForward ? GetFirstIndexPosition(sessionID, scan) : GetLastIndexPosition(sessionID, scan))) return false;
    } else {
      if (!GetIndexPosition(sessionID, recordID, recordBuffer, &scan)) return false;
    }
  }
  if (!searchInfo->ScanStarted && start != nullptr) {
    const TNRDBTreeScanBound& bound = end != nullptr ? *end : *start;
    FKeyRef->SetPartialCompare(bound.KeyRecordBuffer, start->PartialCompare);
    auto endPosition = std::make_unique<TNRDKeyPath>();
    if (!PositionByBound(sessionID, !goForward, bound, *endPosition)) return false;
    FKeyRef->ResetCompareSettings();
    searchInfo->EndPosition = std::move(endPosition);
  }
  if (!restart && !skipStep) {
    if (!(goForward ? MoveToNextPosition(sessionID, scan) : MoveToPriorPosition(sessionID, scan))) return false;
  }
  if (searchInfo->EndPosition) {
    const std::int32_t order = scan.Compare(*searchInfo->EndPosition);
    if (goForward ? order > 0 : order < 0) return false;
  }
  recordID = GetReferenceAtPosition(sessionID, scan);
  if (!searchInfo->ScanStarted) {
    searchInfo->ScanForward = goForward;
    searchInfo->ScanStarted = true;
  }
  return true;
}

bool TNRDBTreeRecordIndex::FindRecord(std::int32_t sessionID, bool restart, bool goForward,
                                      const TNRDScanSearchCondition* startScanCondition,
                                      const TNRDScanSearchCondition* endScanCondition, void* recordBuffer,
                                      TNRDPageItemID& recordID, void* searchInfo) {
  TNRDBTreeScanBound start, end;
  if (startScanCondition != nullptr) start = BoundOfCondition(*startScanCondition);
  if (endScanCondition != nullptr) end = BoundOfCondition(*endScanCondition);
  return FindRecordByBounds(sessionID, restart, goForward, startScanCondition != nullptr ? &start : nullptr,
                            endScanCondition != nullptr ? &end : nullptr, recordBuffer, recordID,
                            static_cast<TNRDBTreeSearchInfo*>(searchInfo));
}

std::int32_t TNRDBTreeRecordIndex::CompareConditions(const TNRDScanSearchCondition* condition1,
                                                     const TNRDScanSearchCondition*) {
  if (condition1 == nullptr) return 0;
  switch (condition1->Condition) {
    case scGreater:
    case scGreaterEqual:
      return -1;
    case scLower:
    case scLowerEqual:
      return 1;
    default:
      return 0;
  }
}

std::int64_t TNRDBTreeRecordIndex::GetApproxRangeRecordCount(std::int32_t sessionID, std::int64_t tableRecordCount,
                                                             const TNRDScanSearchCondition* rangeCondition1,
                                                             const TNRDScanSearchCondition* rangeCondition2) {
  RootPageNo(20125);
  if (rangeCondition1 == nullptr || rangeCondition2 == nullptr) throw ENRDException(20077, "Pointer is nil");
  const bool firstIsLower = CompareConditions(rangeCondition1, rangeCondition2) < 0;
  const TNRDScanSearchCondition& lower = firstIsLower ? *rangeCondition1 : *rangeCondition2;
  const TNRDScanSearchCondition& upper = firstIsLower ? *rangeCondition2 : *rangeCondition1;
  return GetApproxRangeRecordCountByBounds(sessionID, tableRecordCount, BoundOfCondition(lower),
                                           BoundOfCondition(upper));
}

std::int64_t TNRDBTreeRecordIndex::GetApproxRangeRecordCountByBounds(std::int32_t sessionID,
                                                                     std::int64_t tableRecordCount,
                                                                     const TNRDBTreeScanBound& lower,
                                                                     const TNRDBTreeScanBound& upper) {
  RootPageNo(20125);
  TCompareSettingsGuard guard(*FKeyRef);
  TNRDKeyPath p1, p2;
  std::vector<std::uint8_t> key = FKeyRef->AllocShortKeyBuffer();
  const std::int32_t fields = std::clamp(lower.KeyFieldCount, 0, FKeyRef->PartCount());
  auto find = [&](bool first, const TNRDBTreeScanBound& bound, TNRDKeyPath& position) {
    FKeyRef->MakeShortKeyFromRecordBuffer(bound.KeyRecordBuffer, key.data());
    FKeyRef->SetCompareFieldCount(fields);
    position.Clear();
    TNRDBTreePage root(PageManager(), FKeyRef.get());
    root.Get(sessionID, RootPageNo(20125));
    return root.FindByCondition(sessionID, first, key.data(), bound.Operator, position);
  };
  if (!find(true, lower, p1) || !find(false, upper, p2)) return 0;
  const double share = p2.GetApproxRecNoInPercents() - p1.GetApproxRecNoInPercents();
  const auto result = static_cast<std::int64_t>(std::llround(share * static_cast<double>(tableRecordCount)));
  return std::clamp<std::int64_t>(result, 0, std::max<std::int64_t>(tableRecordCount, 0));
}

}  // namespace nrd
