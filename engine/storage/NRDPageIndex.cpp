#include "engine/storage/NRDPageIndex.h"

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDBTreePage.h"

namespace nrd {

namespace {

void EncodeI32(std::int32_t v, std::uint8_t* p) { PutLE32(p, static_cast<std::uint32_t>(v)); }

void EncodeU16(std::uint16_t v, std::uint8_t* p) { PutLE16(p, v); }

}  // namespace

void TNRDBTreePageIndex::CreateIndex(std::int32_t sessionID) {
  TNRDBTreePage root(LPageManager, &FKeyRef);
  root.Add(sessionID);
  root.InitAsRoot();
  root.SetIsDirty(true);
  FRootPageNo = root.PageNo();
}

void TNRDBTreePageIndex::DropIndex(std::int32_t sessionID) {
  if (FRootPageNo == -1) return;
  TNRDBTreePage root(LPageManager, &FKeyRef);
  root.Get(sessionID, FRootPageNo);
  root.Controller().FreeAllPages(sessionID, false);
  FRootPageNo = -1;
}

void TNRDBTreePageIndex::EmptyIndex(std::int32_t sessionID) {
  if (FRootPageNo == -1) return;
  TNRDBTreePage root(LPageManager, &FKeyRef);
  root.Get(sessionID, FRootPageNo);
  root.Controller().FreeAllPages(sessionID, true);
  root.InitAsRoot();
  root.SetIsDirty(true);
}

bool TNRDBTreePageIndex::GetFirstPosition(std::int32_t sessionID, TNRDKeyPath& position) {
  if (FRootPageNo == -1) throw ENRDException(20115, "Index error: invalid page number");
  position.Clear();
  TNRDBTreePage root(LPageManager, &FKeyRef);
  root.Get(sessionID, FRootPageNo);
  return root.Controller().GetFirstPosition(sessionID, position);
}

bool TNRDBTreePageIndex::GetLastPosition(std::int32_t sessionID, TNRDKeyPath& position) {
  if (FRootPageNo == -1) throw ENRDException(20116, "Index error: invalid page number");
  position.Clear();
  TNRDBTreePage root(LPageManager, &FKeyRef);
  root.Get(sessionID, FRootPageNo);
  return root.Controller().GetLastPosition(sessionID, position);
}

bool TNRDBTreePageIndex::MoveToNextPosition(std::int32_t sessionID, TNRDKeyPath& position) {
  return BTreeMoveToNextPosition(LPageManager, &FKeyRef, sessionID, position, 20099, 20100);
}

bool TNRDBTreePageIndex::MoveToPriorPosition(std::int32_t sessionID, TNRDKeyPath& position) {
  return BTreeMoveToPriorPosition(LPageManager, &FKeyRef, sessionID, position, 20101, 20102);
}

bool TNRDBTreePageIndex::FindPageEntry(std::int32_t sessionID, std::int32_t pageNo, TNRDKeyPath& position) {
  if (FRootPageNo == -1) throw ENRDException(20117, "Index error: invalid page number");
  position.Clear();
  std::uint8_t key[4];
  EncodeI32(pageNo, key);
  TNRDBTreePage root(LPageManager, &FKeyRef);
  root.Get(sessionID, FRootPageNo);
  return root.FindByCondition(sessionID, true, key, scEqual, position);
}

std::int32_t TNRDBTreePageIndex::GetCountAtPosition(std::int32_t sessionID, const TNRDKeyPath& position) {
  if (position.Count <= 0) throw ENRDException(20107, "Index error: invalid position");
  TNRDBTreePage page(LPageManager, &FKeyRef);
  page.Get(sessionID, position.Leaf().PageNo);
  if (!page.IsLeaf() || position.Leaf().EntryNo >= page.EntryCount())
    throw ENRDException(20107, "Index error: invalid position");
  const std::uint8_t* p = page.GetPReference(position.Leaf().EntryNo);
  return GetLE16(p);
}

void TNRDBTreePageIndex::SetCountAtPosition(std::int32_t sessionID, const TNRDKeyPath& position,
                                            std::uint16_t count) {
  if (position.Count <= 0) throw ENRDException(20108, "Index error: invalid position");
  TNRDBTreePage page(LPageManager, &FKeyRef);
  page.Get(sessionID, position.Leaf().PageNo);
  if (!page.IsLeaf() || position.Leaf().EntryNo >= page.EntryCount())
    throw ENRDException(20108, "Index error: invalid position");
  EncodeU16(count, page.GetPReference(position.Leaf().EntryNo));
  page.SetIsDirty(true);
}

std::int32_t TNRDBTreePageIndex::GetPageNoAtPosition(std::int32_t sessionID, const TNRDKeyPath& position) {
  if (position.Count <= 0) throw ENRDException(20103, "Index error: invalid position");
  TNRDBTreePage page(LPageManager, &FKeyRef);
  page.Get(sessionID, position.Leaf().PageNo);
  if (!page.IsLeaf() || position.Leaf().EntryNo >= page.EntryCount())
    throw ENRDException(20103, "Index error: invalid position");
  return static_cast<std::int32_t>(GetLE32(page.GetPKey(position.Leaf().EntryNo)));
}

bool TNRDBTreePageIndex::FindPageWithRoom(std::int32_t sessionID, std::int32_t amount, std::int32_t& pageNo,
                                          TNRDKeyPath* found) {
  TNRDKeyPath position;
  auto take = [&](std::int32_t i) {
    if (found != nullptr) {
      found->Assign(position);
      found->Leaf().EntryNo = i;
    }
  };
  if (!GetLastPosition(sessionID, position)) return false;
  TNRDBTreePage page(LPageManager, &FKeyRef);
  page.Get(sessionID, position.Leaf().PageNo);
  std::int32_t n = page.EntryCount();
  // Backwards over the last leaf (its first entry is left to the forward pass when there are two
  // or more), then forwards over the first leaf (its last entry left out likewise).
  for (std::int32_t i = n - 1, examined = 0; i >= 0 && examined < std::max(n - 1, 1); --i, ++examined) {
    const std::uint8_t* r = page.GetPReference(i);
    if (HasRoomOnPage(GetLE16(r), amount)) {
      pageNo = static_cast<std::int32_t>(GetLE32(page.GetPKey(i)));
      take(i);
      return true;
    }
  }
  if (!GetFirstPosition(sessionID, position)) return false;
  page.Get(sessionID, position.Leaf().PageNo);
  n = page.EntryCount();
  for (std::int32_t i = 0; i < std::max(n - 1, 1) && i < n; ++i) {
    const std::uint8_t* r = page.GetPReference(i);
    if (HasRoomOnPage(GetLE16(r), amount)) {
      pageNo = static_cast<std::int32_t>(GetLE32(page.GetPKey(i)));
      take(i);
      return true;
    }
  }
  return false;
}

void TNRDBTreePageIndex::AddToPageAt(std::int32_t sessionID, std::int32_t amount, std::int32_t pageNo,
                                     TNRDKeyPath& position) {
  if (position.Count > 0) {
    TNRDBTreePage page(LPageManager, &FKeyRef);
    page.Get(sessionID, position.Leaf().PageNo);
    const std::int32_t i = position.Leaf().EntryNo;
    if (page.IsLeaf() && i >= 0 && i < page.EntryCount() &&
        static_cast<std::int32_t>(GetLE32(page.GetPKey(i))) == pageNo) {
      std::uint8_t* r = page.GetPReference(i);
      const std::int32_t count = GetLE16(r);
      if (!HasRoomOnPage(count, amount)) throw ENRDException(20106, "Cannot add data item to page. Page is full");
      EncodeU16(static_cast<std::uint16_t>(count + amount), r);
      page.SetIsDirty(true);
      return;
    }
  }
  AddToPage(sessionID, amount, pageNo);
}

void TNRDBTreePageIndex::AddToPage(std::int32_t sessionID, std::int32_t amount, std::int32_t pageNo) {
  if (FRootPageNo == -1) throw ENRDException(20118, "Index error: invalid page number");
  TNRDKeyPath position;
  if (!FindPageEntry(sessionID, pageNo, position)) {
    std::uint8_t key[4];
    std::uint8_t ref[2];
    EncodeI32(pageNo, key);
    EncodeU16(static_cast<std::uint16_t>(amount), ref);
    position.Clear();
    TNRDBTreePage root(LPageManager, &FKeyRef);
    root.Get(sessionID, FRootPageNo);
    root.Controller().InsertLeafEntry(sessionID, key, ref, position);
    return;
  }
  const std::int32_t count = GetCountAtPosition(sessionID, position);
  if (!HasRoomOnPage(count, amount)) throw ENRDException(20106, "Cannot add data item to page. Page is full");
  SetCountAtPosition(sessionID, position, static_cast<std::uint16_t>(count + amount));
}

void TNRDBTreePageIndex::RemoveFromPage(std::int32_t sessionID, std::int32_t amount, std::int32_t newCount,
                                        std::int32_t pageNo) {
  if (FRootPageNo == -1) throw ENRDException(20110, "Invalid page number");
  TNRDKeyPath position;
  if (!FindPageEntry(sessionID, pageNo, position)) throw ENRDException(20111, "Invalid page number");
  const std::int32_t oldCount = GetCountAtPosition(sessionID, position);
  std::int32_t count;
  if (newCount < 0) {
    if (oldCount == 0) throw ENRDException(20112, "Index error: page is empty");
    count = static_cast<std::uint16_t>(oldCount - amount);
  } else {
    count = static_cast<std::uint16_t>(newCount);
  }
  if (count != 0) {
    SetCountAtPosition(sessionID, position, static_cast<std::uint16_t>(count));
    return;
  }
  std::uint8_t key[4];
  std::uint8_t ref[2];
  EncodeI32(pageNo, key);
  EncodeU16(static_cast<std::uint16_t>(oldCount), ref);
  position.Clear();
  TNRDBTreePage root(LPageManager, &FKeyRef);
  root.Get(sessionID, FRootPageNo);
  root.Controller().DeleteLeafEntry(sessionID, key, ref, position);
}

void TNRDBTreePageIndex::CheckIntegrity(std::int32_t sessionID) {
  if (FRootPageNo == -1) return;
  TNRDKeyPath path;
  TNRDBTreePage root(LPageManager, &FKeyRef);
  root.Get(sessionID, FRootPageNo);
  root.Controller().CheckIntegrity(sessionID, path);
}

// ----- record page index ----------------------------------------------------------------------------

bool TNRDBTreeRecordPageIndex::GetFirstRecordPage(std::int32_t sessionID, std::int32_t& pageNo) {
  TNRDKeyPath position;
  if (!GetFirstPosition(sessionID, position)) return false;
  pageNo = GetPageNoAtPosition(sessionID, position);
  return true;
}

bool TNRDBTreeRecordPageIndex::GetLastRecordPage(std::int32_t sessionID, std::int32_t& pageNo) {
  TNRDKeyPath position;
  if (!GetLastPosition(sessionID, position)) return false;
  pageNo = GetPageNoAtPosition(sessionID, position);
  return true;
}

bool TNRDBTreeRecordPageIndex::GetNextRecordPage(std::int32_t sessionID, std::int32_t currentPageNo,
                                                 std::int32_t& nextPageNo) {
  TNRDKeyPath position;
  if (!FindPageEntry(sessionID, currentPageNo, position)) throw ENRDException(20104, "Invalid page number");
  if (!MoveToNextPosition(sessionID, position)) return false;
  nextPageNo = GetPageNoAtPosition(sessionID, position);
  return true;
}

bool TNRDBTreeRecordPageIndex::GetPriorRecordPage(std::int32_t sessionID, std::int32_t currentPageNo,
                                                  std::int32_t& priorPageNo) {
  TNRDKeyPath position;
  if (!FindPageEntry(sessionID, currentPageNo, position)) throw ENRDException(20105, "Invalid page number");
  if (!MoveToPriorPosition(sessionID, position)) return false;
  priorPageNo = GetPageNoAtPosition(sessionID, position);
  return true;
}

void TNRDBTreeRecordPageIndex::GetRecordByRecNo(std::int32_t sessionID, std::int64_t recNo, std::int32_t& pageNo,
                                                std::int32_t& recNoOnPage) {
  TNRDKeyPath position;
  std::int64_t sum = 0;
  if (recNo >= 0 && GetFirstPosition(sessionID, position)) {
    do {
      const std::int32_t count = GetCountAtPosition(sessionID, position);
      if (sum + count > recNo) {
        pageNo = GetPageNoAtPosition(sessionID, position);
        recNoOnPage = static_cast<std::int32_t>(recNo - sum);
        return;
      }
      sum += count;
    } while (MoveToNextPosition(sessionID, position));
  }
  throw ENRDException(20113, "Cannot set RecNo greater than RecordCount");
}

void TNRDBTreeRecordPageIndex::GetRecNoByRecord(std::int32_t sessionID, std::int32_t pageNo,
                                                std::int32_t recNoOnPage, std::int64_t& recNo) {
  TNRDKeyPath position;
  if (!FindPageEntry(sessionID, pageNo, position)) throw ENRDException(20114, "Invalid page number");
  std::int64_t sum = 0;
  while (MoveToPriorPosition(sessionID, position)) sum += GetCountAtPosition(sessionID, position);
  recNo = sum + recNoOnPage;
}

void TNRDBTreeRecordPageIndex::Validate(std::int32_t sessionID, std::int64_t storedRecordCount) {
  TNRDKeyPath position;
  std::int64_t sum = 0;
  if (GetFirstPosition(sessionID, position)) {
    do {
      sum += GetCountAtPosition(sessionID, position);
    } while (MoveToNextPosition(sessionID, position));
  }
  if (sum != storedRecordCount)
    throw ENRDException(20292,
                        "Invalid table RecordPageIndex or MostUpdated. RecordPageIndex.RecordCount=%d, "
                        "MostUpdated.RecordCount=%d",
                        {sum, storedRecordCount});
}

// ----- BLOB page index ------------------------------------------------------------------------------

bool TNRDBTreeBlobPageIndex::HasRoomOnPage(std::int32_t count, std::int32_t amount) {
  return count + amount < LPageManager->PageDataSize() - 2;
}

std::int32_t TNRDBTreeBlobPageIndex::GetBlobPageAllocatedSpace(std::int32_t sessionID, std::int32_t pageNo) {
  TNRDKeyPath position;
  if (!FindPageEntry(sessionID, pageNo, position)) return -1;
  return GetCountAtPosition(sessionID, position);
}

}  // namespace nrd
