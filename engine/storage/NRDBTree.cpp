#include "engine/storage/NRDBTree.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDBTreePage.h"

namespace nrd {

namespace {

[[noreturn]] void InternalIndexError() { throw ENRDException(20020, "Internal index error"); }

[[noreturn]] void IntegrityError(int code, std::int32_t pageNo, std::int32_t entryNo) {
  const char* text = code == 20032   ? "Index integrity error. Circular links. PageNo=%d EntryNo=%d"
                     : code == 20033 || code == 20034 ? "Index integrity error. Invlaid leaf link. PageNo=%d EntryNo=%d"
                                                      : "Index integrity error. PageNo=%d EntryNo=%d";
  throw ENRDException(code, text, {pageNo, entryNo});
}

void EncodePageNo(std::int32_t pageNo, std::uint8_t* p) { PutLE32(p, static_cast<std::uint32_t>(pageNo)); }

}  // namespace

// ----- base ---------------------------------------------------------------------------------------

TNRDBTreeKeyRef& TNRDBTreePageController::KeyRef() const { return *FPage->LKeyRef; }
std::uint8_t* TNRDBTreePageController::GetPKey(std::int32_t entryNo) const { return FPage->GetPKey(entryNo); }
std::uint8_t* TNRDBTreePageController::GetPReference(std::int32_t entryNo) const {
  return FPage->GetPReference(entryNo);
}

std::int32_t TNRDBTreePageController::SearchEntries(bool mayUseFullKeys, std::int32_t sessionID, std::uint8_t* key,
                                                    const std::uint8_t* reference, std::int32_t startNo,
                                                    TNRDKeyPathPosition& positionType, int mode) {
  const std::int32_t n = FPage->EntryCount();
  if (n == 0) {
    positionType = kppEOF;
    return 0;
  }
  std::int32_t lo = startNo;
  std::int32_t hi = n - 1;
  // The last entry first: keys that come in ascending order (a bulk load by a counter) go past
  // it, with one comparison instead of a whole search. Otherwise the search leaves it out.
  if (lo <= hi) {
    int r = CompareKeyWithEntry(mayUseFullKeys, sessionID, hi, key);
    if (r == 0 && reference != nullptr) r = CompareEntryWithReference(mayUseFullKeys, sessionID, hi, reference, key);
    if (r > 0) {
      positionType = kppBeforeKey;
      return n;
    }
    if (r < 0) --hi;
  }
  while (lo <= hi) {
    const std::int32_t mid = (lo + hi) / 2;
    int r = CompareKeyWithEntry(mayUseFullKeys, sessionID, mid, key);
    if (r == 0 && reference != nullptr) r = CompareEntryWithReference(mayUseFullKeys, sessionID, mid, reference, key);
    if (r < 0) {
      hi = mid - 1;
    } else if (r > 0) {
      lo = mid + 1;
    } else {
      positionType = kppOnKey;
      std::int32_t result = mid;
      if (mode == 0) {
        while (result - 1 >= startNo && CompareKeyWithEntry(mayUseFullKeys, sessionID, result - 1, key) == 0) --result;
      } else if (mode == 1) {
        while (result + 1 < n && CompareKeyWithEntry(mayUseFullKeys, sessionID, result + 1, key) == 0) ++result;
      }
      return result;
    }
  }
  positionType = kppBeforeKey;
  return lo;
}

bool TNRDBTreePageController::HasRoomForEntry() const {
  return FPage->EntriesOffset() + (FPage->EntryCount() + 1) * FPage->EntrySize() <= FPage->PageDataSize();
}
bool TNRDBTreePageController::IsOverfilled() const {
  return FPage->EntriesOffset() + FPage->EntryCount() * FPage->EntrySize() > FPage->PageDataSize();
}
bool TNRDBTreePageController::IsUnderfilled() const {
  return FPage->EntryCount() * FPage->EntrySize() < (FPage->PageDataSize() - FPage->EntriesOffset()) / 2;
}
bool TNRDBTreePageController::CanMergeWith(const TNRDBTreePage& page) const {
  // An empty page always goes away: nothing moves, and an empty non-root page must not stay.
  if (FPage->EntryCount() == 0) return true;
  return (FPage->EntryCount() + page.EntryCount()) * FPage->EntrySize() + FPage->EntriesOffset() <
         page.PageDataSize();
}

void TNRDBTreePageController::EnlargeForOneEntry() {
  FPage->EnlargePageBuffer(FPage->PageSize() + FPage->EntrySize());
}

int TNRDBTreePageController::CompareKeyWithEntry(bool mayUseFullKeys, std::int32_t sessionID, std::int32_t entryNo,
                                                 std::uint8_t* key) {
  return KeyRef().CompareShortKeys(key, GetPKey(entryNo), mayUseFullKeys, sessionID, nullptr, GetPReference(entryNo));
}

int TNRDBTreePageController::CompareReferenceWithEntry(const std::uint8_t* reference, std::int32_t entryNo) const {
  return TNRDBTreeKeyRef::CompareReferences(reference, GetPReference(entryNo), FPage->ReferenceSize());
}

void TNRDBTreePageController::InsertEntryAt(const std::uint8_t* key, const std::uint8_t* reference,
                                            std::int32_t position) {
  // A page holds at most one entry more than fits on disk, and only until it is split.
  if (!HasRoomForEntry()) {
    if (IsOverfilled()) InternalIndexError();
    EnlargeForOneEntry();
  }
  const std::int32_t n = FPage->EntryCount();
  const std::int32_t e = FPage->EntrySize();
  if (position < 0 || position > n) InternalIndexError();
  std::uint8_t* p = GetPKey(position);
  std::memmove(p + e, p, static_cast<std::size_t>((n - position) * e));
  std::memset(p, 0, FPage->KeyPrefixSize());
  if (key != nullptr) std::memcpy(p, key, FPage->KeyPrefixSize());
  std::memcpy(p + FPage->KeyPrefixSize(), reference, static_cast<std::size_t>(FPage->ReferenceSize()));
  FPage->SetEntryCount(n + 1);
}

void TNRDBTreePageController::DeleteEntryAt(std::int32_t position) {
  const std::int32_t n = FPage->EntryCount();
  if (n <= 0) throw ENRDException(20025, "Index error: page is empty");
  if (position < 0 || position >= n) InternalIndexError();
  const std::int32_t e = FPage->EntrySize();
  std::uint8_t* p = GetPKey(position);
  std::memmove(p, p + e, static_cast<std::size_t>((n - position - 1) * e));
  FPage->SetEntryCount(n - 1);
}

void TNRDBTreePageController::Split(std::int32_t sessionID, TNRDKeyPath& keyPath, bool appended) {
  const std::int32_t n = FPage->EntryCount();
  const std::int32_t h = appended && FPage->RightPageNo() == -1 && n >= 2 ? n - 1 : n / 2;
  if (FPage->IsRoot())
    SplitRoot(sessionID, h);
  else
    SplitPage(sessionID, keyPath, h);
}

void TNRDBTreePageController::SplitPage(std::int32_t sessionID, TNRDKeyPath& keyPath, std::int32_t h) {
  const std::int32_t n = FPage->EntryCount();
  TNRDBTreePage c(FPage->LPageManager, FPage->LKeyRef);
  c.Add(sessionID);
  c.CopyFrom(*FPage, h, n - h);
  c.SetIsRoot(false);
  c.SetRightPageNo(FPage->RightPageNo());
  c.SetLeftPageNo(FPage->PageNo());
  c.SetIsDirty(true);
  if (FPage->RightPageNo() != -1) {
    TNRDBTreePage right(FPage->LPageManager, FPage->LKeyRef);
    right.Get(sessionID, FPage->RightPageNo());
    right.SetLeftPageNo(c.PageNo());
    right.SetIsDirty(true);
  }
  FPage->SetRightPageNo(c.PageNo());
  FPage->SetEntryCount(h);
  FPage->SetIsDirty(true);
  std::uint8_t ref[4];
  EncodePageNo(c.PageNo(), ref);
  if (keyPath.ItemNo < 1) InternalIndexError();
  keyPath.DecLevel();
  {
    TNRDBTreePage parent(FPage->LPageManager, FPage->LKeyRef);
    parent.Get(sessionID, keyPath.CurrentPageNo());
    parent.InsertNodeEntry(sessionID, c.GetPKey(0), ref, keyPath);
  }
  keyPath.IncLevel();
}

void TNRDBTreePageController::SplitRoot(std::int32_t sessionID, std::int32_t h) {
  const std::int32_t n = FPage->EntryCount();
  TNRDBTreePage a(FPage->LPageManager, FPage->LKeyRef);
  TNRDBTreePage b(FPage->LPageManager, FPage->LKeyRef);
  a.Add(sessionID);
  b.Add(sessionID);
  a.CopyFrom(*FPage, 0, h);
  b.CopyFrom(*FPage, h, n - h);
  a.SetIsRoot(false);
  b.SetIsRoot(false);
  a.SetRightPageNo(b.PageNo());
  b.SetLeftPageNo(a.PageNo());
  a.SetIsDirty(true);
  b.SetIsDirty(true);
  FPage->SetIsLeaf(false);
  FPage->SetEntryCount(0);
  std::uint8_t ref[4];
  EncodePageNo(a.PageNo(), ref);
  InsertEntryAt(nullptr, ref, 0);
  EncodePageNo(b.PageNo(), ref);
  InsertEntryAt(b.GetPKey(0), ref, 1);
  FPage->SetIsDirty(true);
}

void TNRDBTreePageController::TryMerge(std::int32_t sessionID, TNRDKeyPath& keyPath) {
  if (FPage->IsRoot()) return;
  bool merged = false;
  if (FPage->LeftPageNo() != -1) merged = MergeWithPage(sessionID, FPage->LeftPageNo(), keyPath);
  if (!merged && FPage->RightPageNo() != -1) MergeWithPage(sessionID, FPage->RightPageNo(), keyPath);
}

bool TNRDBTreePageController::MergeWithPage(std::int32_t sessionID, std::int32_t pageNo, TNRDKeyPath& keyPath) {
  TNRDPageManager* pm = FPage->LPageManager;
  TNRDBTreeKeyRef* keyRef = FPage->LKeyRef;
  TNRDBTreePage other(pm, keyRef);
  other.Get(sessionID, pageNo);
  if (other.IsLeaf() != FPage->IsLeaf()) InternalIndexError();
  if (!CanMergeWith(other)) return false;
  const bool intoLeft = pageNo == FPage->LeftPageNo();
  const std::int32_t n = FPage->EntryCount();
  std::vector<std::uint8_t> movedFirstKey;
  if (intoLeft) {
    if (FPage->RightPageNo() != -1) {
      TNRDBTreePage right(pm, keyRef);
      right.Get(sessionID, FPage->RightPageNo());
      right.SetLeftPageNo(FPage->LeftPageNo());
      right.SetIsDirty(true);
    }
    if (!FPage->IsLeaf() && n > 0) FPage->Controller().GetFirstKey(sessionID, GetPKey(0));
    other.AppendFrom(*FPage, 0, n);
    other.SetRightPageNo(FPage->RightPageNo());
  } else {
    if (FPage->LeftPageNo() != -1) {
      TNRDBTreePage left(pm, keyRef);
      left.Get(sessionID, FPage->LeftPageNo());
      left.SetRightPageNo(FPage->RightPageNo());
      left.SetIsDirty(true);
    }
    if (!other.IsLeaf() && other.EntryCount() > 0) other.Controller().GetFirstKey(sessionID, other.GetPKey(0));
    if (n > 0) {
      movedFirstKey.resize(FPage->KeyPrefixSize());
      FPage->Controller().GetFirstKey(sessionID, movedFirstKey.data());
    }
    other.InsertFrom(*FPage, 0, n);
    other.SetLeftPageNo(FPage->LeftPageNo());
  }
  other.SetIsDirty(true);
  other.Put();
  const std::int32_t ownPageNo = FPage->PageNo();
  if (keyPath.ItemNo < 1) InternalIndexError();
  keyPath.DecLevel();
  {
    TNRDBTreePage parent(pm, keyRef);
    parent.Get(sessionID, keyPath.CurrentPageNo());
    parent.DeleteNodeEntry(sessionID, keyPath, intoLeft, movedFirstKey.empty() ? nullptr : movedFirstKey.data());
  }
  keyPath.IncLevel();
  TNRDBTreePage::RemoveIndexPage(pm, sessionID, ownPageNo);
  return true;
}

// ----- leaf ----------------------------------------------------------------------------------------

int TNRDBTreeLeafController::CompareEntryWithReference(bool, std::int32_t, std::int32_t entryNo,
                                                       const std::uint8_t* reference, std::uint8_t*) {
  return CompareReferenceWithEntry(reference, entryNo);
}

void TNRDBTreeLeafController::InsertLeafEntry(std::int32_t sessionID, std::uint8_t* key,
                                              const std::uint8_t* reference, TNRDKeyPath& keyPath) {
  TNRDKeyPathPosition pt;
  const std::int32_t pos = SearchEntries(true, sessionID, key, reference, 0, pt, 2);
  InsertEntryAt(key, reference, pos);
  if (IsOverfilled()) {
    Split(sessionID, keyPath, pos == FPage->EntryCount() - 1);
  } else {
    FPage->SetIsDirty(true);
    keyPath.AddItem(FPage->PageNo(), pos, FPage->EntryCount());
  }
}

bool TNRDBTreeLeafController::FindExactEntry(std::int32_t sessionID, std::uint8_t* key,
                                             const std::uint8_t* reference, std::int32_t& position) {
  const std::int32_t n = FPage->EntryCount();
  if (key == nullptr) {
    for (std::int32_t i = 0; i < n; ++i)
      if (CompareReferenceWithEntry(reference, i) == 0) {
        position = i;
        return true;
      }
    return false;
  }
  TNRDKeyPathPosition pt;
  std::int32_t pos = SearchEntries(true, sessionID, key, reference, 0, pt, 0);
  if (pt != kppOnKey) return false;
  while (CompareReferenceWithEntry(reference, pos) != 0) {
    ++pos;
    if (pos >= n || CompareKeyWithEntry(false, sessionID, pos, key) != 0) return false;
  }
  position = pos;
  return true;
}

bool TNRDBTreeLeafController::DeleteLeafEntry(std::int32_t sessionID, std::uint8_t* key,
                                              const std::uint8_t* reference, TNRDKeyPath& keyPath) {
  std::int32_t pos = 0;
  if (!FindExactEntry(sessionID, key, reference, pos)) return false;
  DeleteEntryAt(pos);
  FPage->SetIsDirty(true);
  if (IsUnderfilled()) TryMerge(sessionID, keyPath);
  return true;
}

void TNRDBTreeLeafController::FreeAllPages(std::int32_t sessionID, bool keepRootPage) {
  if (FPage->PageNo() == -1) return;
  if (FPage->IsRoot() && keepRootPage) return;
  TNRDBTreePage::RemoveIndexPage(FPage->LPageManager, sessionID, FPage->PageNo());
}

void TNRDBTreeLeafController::CheckIntegrity(std::int32_t sessionID, TNRDKeyPath&) {
  const bool exact = !KeyRef().HasCutParts();
  const std::int32_t n = FPage->EntryCount();
  std::vector<std::uint8_t> key(static_cast<std::size_t>(FPage->KeyPrefixSize()));
  for (std::int32_t i = 0; i + 1 < n; ++i) {
    std::memcpy(key.data(), GetPKey(i), key.size());
    const int r = KeyRef().CompareShortKeys(key.data(), GetPKey(i + 1), false, sessionID, nullptr, nullptr);
    bool ok;
    if (exact)
      ok = r < 0 || (r == 0 && CompareReferenceWithEntry(GetPReference(i), i + 1) < 0);
    else
      ok = r <= 0;
    if (!ok) IntegrityError(20028, FPage->PageNo(), i);
  }
}

bool TNRDBTreeLeafController::FindEntry(std::int32_t sessionID, std::uint8_t* key, const std::uint8_t* reference,
                                        TNRDKeyPath& position) {
  std::int32_t pos = 0;
  if (!FindExactEntry(sessionID, key, reference, pos)) return false;
  position.AddItem(FPage->PageNo(), pos, FPage->EntryCount());
  return true;
}

bool TNRDBTreeLeafController::GetFirstPosition(std::int32_t, TNRDKeyPath& position) {
  if (FPage->EntryCount() == 0) return false;
  position.AddItem(FPage->PageNo(), 0, FPage->EntryCount());
  return true;
}

bool TNRDBTreeLeafController::GetLastPosition(std::int32_t, TNRDKeyPath& position) {
  if (FPage->EntryCount() == 0) return false;
  position.AddItem(FPage->PageNo(), FPage->EntryCount() - 1, FPage->EntryCount());
  return true;
}

bool TNRDBTreeLeafController::FindByCondition(std::int32_t sessionID, bool first, std::uint8_t* key,
                                              TNRDSearchCondition op, TNRDKeyPath& position) {
  const std::int32_t n = FPage->EntryCount();
  if (n == 0) return false;
  if (key == nullptr) op = scNone;
  TNRDKeyPathPosition pt = kppUnknown;
  std::int32_t pos = -1;
  bool found = false;
  switch (op) {
    case scNone:
      pos = first ? 0 : n - 1;
      found = true;
      break;
    case scEqual:
      pos = SearchEntries(true, sessionID, key, nullptr, 0, pt, first ? 0 : 1);
      found = pt == kppOnKey;
      break;
    case scLower: {
      const std::int32_t p = SearchEntries(true, sessionID, key, nullptr, 0, pt, 0) - 1;
      found = p >= 0;
      pos = first ? 0 : p;
      break;
    }
    case scGreater: {
      std::int32_t p = SearchEntries(true, sessionID, key, nullptr, 0, pt, 1);
      if (pt == kppOnKey) ++p;
      found = p < n;
      pos = first ? p : n - 1;
      break;
    }
    case scLowerEqual: {
      std::int32_t p = SearchEntries(true, sessionID, key, nullptr, 0, pt, first ? 0 : 1);
      if (pt == kppBeforeKey) --p;
      found = p >= 0;
      pos = first ? 0 : p;
      break;
    }
    case scGreaterEqual: {
      const std::int32_t p = SearchEntries(true, sessionID, key, nullptr, 0, pt, first ? 0 : 2);
      found = p < n;
      pos = first ? p : n - 1;
      break;
    }
  }
  if (!found) return false;
  position.AddItem(FPage->PageNo(), pos, n);
  return true;
}

void TNRDBTreeLeafController::GetFirstKey(std::int32_t, std::uint8_t* key) {
  if (FPage->EntryCount() == 0) InternalIndexError();
  std::memcpy(key, GetPKey(0), FPage->KeyPrefixSize());
}
void TNRDBTreeLeafController::GetLastKey(std::int32_t, std::uint8_t* key) {
  if (FPage->EntryCount() == 0) InternalIndexError();
  std::memcpy(key, GetPKey(FPage->EntryCount() - 1), FPage->KeyPrefixSize());
}
void TNRDBTreeLeafController::GetFirstEntry(std::int32_t sessionID, std::uint8_t* key, std::uint8_t* reference) {
  GetFirstKey(sessionID, key);
  std::memcpy(reference, GetPReference(0), static_cast<std::size_t>(FPage->ReferenceSize()));
}
void TNRDBTreeLeafController::GetLastEntry(std::int32_t sessionID, std::uint8_t* key, std::uint8_t* reference) {
  GetLastKey(sessionID, key);
  std::memcpy(reference, GetPReference(FPage->EntryCount() - 1), static_cast<std::size_t>(FPage->ReferenceSize()));
}

// ----- node ----------------------------------------------------------------------------------------

std::int32_t TNRDBTreeNodeController::ChildPageNo(std::int32_t entryNo) const {
  if (entryNo < 0 || entryNo >= FPage->EntryCount()) InternalIndexError();
  return FPage->ChildPageNo(entryNo);
}

int TNRDBTreeNodeController::CompareEntryWithReference(bool, std::int32_t sessionID, std::int32_t entryNo,
                                                       const std::uint8_t* reference, std::uint8_t* key) {
  TNRDBTreePage child(FPage->LPageManager, FPage->LKeyRef);
  child.Get(sessionID, ChildPageNo(entryNo));
  std::vector<std::uint8_t> firstKey(static_cast<std::size_t>(KeyRef().ShortKeySize()));
  std::vector<std::uint8_t> firstRef(KeyRef().ReferenceSize());
  child.Controller().GetFirstEntry(sessionID, firstKey.data(), firstRef.data());
  const int r = KeyRef().CompareShortKeys(key, firstKey.data(), true, sessionID, reference, firstRef.data());
  if (r != 0) return r;
  return TNRDBTreeKeyRef::CompareReferences(reference, firstRef.data(), KeyRef().ReferenceSize());
}

void TNRDBTreeNodeController::InsertLeafEntry(std::int32_t sessionID, std::uint8_t* key,
                                              const std::uint8_t* reference, TNRDKeyPath& keyPath) {
  if (FPage->EntryCount() == 0) InternalIndexError();
  TNRDKeyPathPosition pt;
  std::int32_t child = SearchEntries(false, sessionID, key, reference, 1, pt, 2);
  if (pt == kppBeforeKey) --child;
  keyPath.AddItem(FPage->PageNo(), child, FPage->EntryCount());
  TNRDBTreePage page(FPage->LPageManager, FPage->LKeyRef);
  page.Get(sessionID, ChildPageNo(child));
  page.Controller().InsertLeafEntry(sessionID, key, reference, keyPath);
}

void TNRDBTreeNodeController::InsertNodeEntry(std::int32_t sessionID, const std::uint8_t* key,
                                              const std::uint8_t* reference, TNRDKeyPath& keyPath) {
  const std::int32_t n = FPage->EntryCount();
  const std::int32_t position = n > 1 ? keyPath.Items[keyPath.ItemNo].EntryNo + 1 : n;
  InsertEntryAt(key, reference, position);
  if (IsOverfilled())
    Split(sessionID, keyPath, position == FPage->EntryCount() - 1);
  else
    FPage->SetIsDirty(true);
}

bool TNRDBTreeNodeController::DeleteLeafEntry(std::int32_t sessionID, std::uint8_t* key,
                                              const std::uint8_t* reference, TNRDKeyPath& keyPath) {
  if (FPage->EntryCount() == 0) InternalIndexError();
  TNRDKeyPathPosition pt;
  std::int32_t child = SearchEntries(false, sessionID, key, reference, 1, pt, 2);
  if (pt == kppBeforeKey) --child;
  keyPath.AddItem(FPage->PageNo(), child, FPage->EntryCount());
  TNRDBTreePage page(FPage->LPageManager, FPage->LKeyRef);
  page.Get(sessionID, ChildPageNo(child));
  return page.Controller().DeleteLeafEntry(sessionID, key, reference, keyPath);
}

void TNRDBTreeNodeController::DeleteNodeEntry(std::int32_t sessionID, TNRDKeyPath& keyPath, bool mergeWithLeft,
                                              const std::uint8_t* movedFirstKey) {
  const std::int32_t level = keyPath.ItemNo;
  const std::int32_t e = keyPath.Items[level].EntryNo;
  const std::int32_t n = FPage->EntryCount();
  if (e < 0 || e >= n) InternalIndexError();
  TNRDPageManager* pm = FPage->LPageManager;
  TNRDBTreeKeyRef* keyRef = FPage->LKeyRef;
  auto setKeyAt = [&](std::int32_t lvl, std::int32_t entryNo, const std::uint8_t* key) {
    if (lvl == level) {
      if (entryNo >= n) InternalIndexError();
      FPage->UpdateKey(entryNo, key);
      FPage->SetIsDirty(true);
      return;
    }
    TNRDBTreePage page(pm, keyRef);
    page.Get(sessionID, keyPath.Items[lvl].PageNo);
    if (entryNo >= page.EntryCount() || page.IsLeaf()) InternalIndexError();
    page.UpdateKey(entryNo, key);
    page.SetIsDirty(true);
  };
  if (mergeWithLeft) {
    // The node's lowest subtree goes away: its entry 1 key becomes the node's lowest key. A node
    // left with no entry goes away itself, so nothing above needs a new bound.
    if (e == 0 && n > 1) {
      std::vector<std::uint8_t> key(GetPKey(1), GetPKey(1) + FPage->KeyPrefixSize());
      for (std::int32_t lvl = level - 1; lvl >= 0; --lvl)
        if (keyPath.Items[lvl].EntryNo > 0) {
          setKeyAt(lvl, keyPath.Items[lvl].EntryNo, key.data());
          break;
        }
    }
  } else {
    // The removed page's keys now start its right neighbour.
    std::vector<std::uint8_t> key(FPage->KeyPrefixSize());
    if (e > 0 || movedFirstKey == nullptr)
      std::memcpy(key.data(), GetPKey(e), key.size());
    else
      std::memcpy(key.data(), movedFirstKey, key.size());
    for (std::int32_t lvl = level; lvl >= 0; --lvl) {
      const TNRDKeyPathItem& item = keyPath.Items[lvl];
      if (item.EntryNo == item.EntryCount - 1) continue;
      setKeyAt(lvl, item.EntryNo + 1, key.data());
      break;
    }
  }
  DeleteEntryAt(e);
  FPage->SetIsDirty(true);
  if (IsUnderfilled()) TryMerge(sessionID, keyPath);
  if (FPage->IsRoot() && FPage->EntryCount() == 1) CollapseRoot(sessionID);
}

void TNRDBTreeNodeController::CollapseRoot(std::int32_t sessionID) {
  const std::int32_t childNo = ChildPageNo(0);
  {
    TNRDBTreePage child(FPage->LPageManager, FPage->LKeyRef);
    child.Get(sessionID, childNo);
    // The root's buffer holds at least a page: the child's entries fit as they did on the child.
    FPage->CopyFrom(child, 0, child.EntryCount());
  }
  FPage->SetIsRoot(true);
  FPage->SetLeftPageNo(-1);
  FPage->SetRightPageNo(-1);
  FPage->SetIsDirty(true);
  TNRDBTreePage::RemoveIndexPage(FPage->LPageManager, sessionID, childNo);
}

void TNRDBTreeNodeController::FreeAllPages(std::int32_t sessionID, bool keepRootPage) {
  if (FPage->PageNo() == -1) return;
  for (std::int32_t i = 0; i < FPage->EntryCount(); ++i) {
    TNRDBTreePage child(FPage->LPageManager, FPage->LKeyRef);
    child.Get(sessionID, ChildPageNo(i));
    child.Controller().FreeAllPages(sessionID, keepRootPage);
  }
  if (FPage->IsRoot() && keepRootPage) return;
  TNRDBTreePage::RemoveIndexPage(FPage->LPageManager, sessionID, FPage->PageNo());
}

void TNRDBTreeNodeController::CheckIntegrity(std::int32_t sessionID, TNRDKeyPath& keyPath) {
  const std::int32_t n = FPage->EntryCount();
  const std::int32_t pageNo = FPage->PageNo();
  if (n == 0) IntegrityError(20028, pageNo, 0);
  TNRDPageManager* pm = FPage->LPageManager;
  TNRDBTreeKeyRef* keyRef = FPage->LKeyRef;
  std::vector<std::int32_t> children(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) children[static_cast<std::size_t>(i)] = ChildPageNo(i);
  for (std::int32_t i = 0; i < n; ++i) {
    if (keyPath.PageExists(pageNo)) IntegrityError(20032, pageNo, i);
    const std::int32_t childNo = children[static_cast<std::size_t>(i)];
    if (childNo == pageNo || keyPath.PageExists(childNo)) IntegrityError(20032, pageNo, i);
    TNRDBTreePage child(pm, keyRef);
    child.Get(sessionID, childNo);
    if (i > 0 && child.LeftPageNo() != children[static_cast<std::size_t>(i - 1)]) IntegrityError(20033, pageNo, i);
    if (i < n - 1 && child.RightPageNo() != children[static_cast<std::size_t>(i + 1)])
      IntegrityError(20034, pageNo, i);
    if (child.IsRoot()) IntegrityError(20032, pageNo, i);
    keyPath.AddItem(pageNo, i, n);
    child.Controller().CheckIntegrity(sessionID, keyPath);
    keyPath.DeleteLastItem();
  }
  const std::int32_t ks = FPage->KeyPrefixSize();
  const std::uint16_t rs = keyRef->ReferenceSize();
  const bool exact = !keyRef->HasCutParts();
  std::vector<std::uint8_t> key(static_cast<std::size_t>(ks)), key2(static_cast<std::size_t>(ks)),
      ref1(rs), ref2(rs);
  for (std::int32_t i = 1; i + 1 < n; ++i) {
    std::memcpy(key.data(), GetPKey(i), key.size());
    if (keyRef->CompareShortKeys(key.data(), GetPKey(i + 1), false, sessionID, nullptr, nullptr) > 0)
      IntegrityError(20029, pageNo, i);
    TNRDBTreePage left(pm, keyRef);
    left.Get(sessionID, children[static_cast<std::size_t>(i - 1)]);
    if (left.EntryCount() == 0) IntegrityError(20030, pageNo, i);
    left.Controller().GetLastEntry(sessionID, key2.data(), ref1.data());
    if (keyRef->CompareShortKeys(key2.data(), GetPKey(i), false, sessionID, nullptr, nullptr) > 0)
      IntegrityError(20030, pageNo, i);
    left.Put();
    TNRDBTreePage right(pm, keyRef);
    right.Get(sessionID, children[static_cast<std::size_t>(i + 1)]);
    if (right.EntryCount() == 0) IntegrityError(20031, pageNo, i);
    right.Controller().GetFirstEntry(sessionID, key.data(), ref2.data());
    if (keyRef->CompareShortKeys(key.data(), GetPKey(i + 1), false, sessionID, nullptr, nullptr) < 0)
      IntegrityError(20031, pageNo, i);
    if (exact && keyRef->CompareShortKeys(key2.data(), key.data(), false, sessionID, nullptr, nullptr) == 0 &&
        TNRDBTreeKeyRef::CompareReferences(ref1.data(), ref2.data(), rs) >= 0)
      IntegrityError(20194, pageNo, i);
  }
}

void TNRDBTreeNodeController::ChildRange(std::int32_t sessionID, std::uint8_t* key, TNRDSearchCondition op,
                                         std::int32_t& low, std::int32_t& high) {
  const std::int32_t n = FPage->EntryCount();
  low = 0;
  high = n - 1;
  if (key == nullptr || op == scNone) return;
  // Node searches compare short keys only. Where a part is cut, entries equal on the kept bytes
  // may hold values on either side of the key, so on such a tie the range takes every child that
  // can hold them.
  const bool cut = KeyRef().HasCutParts();
  TNRDKeyPathPosition pt;
  const std::int32_t f = SearchEntries(false, sessionID, key, nullptr, 1, pt, 0);
  const bool onKey = pt == kppOnKey;
  std::int32_t l = f;
  if (onKey) l = SearchEntries(false, sessionID, key, nullptr, 1, pt, 1);
  switch (op) {
    case scEqual:
      low = f - 1;
      high = onKey ? l : f - 1;
      break;
    case scLower:
      high = onKey && cut ? l : f - 1;
      break;
    case scGreater:
      low = onKey && !cut ? l : f - 1;
      break;
    case scLowerEqual:
      high = onKey ? l : f - 1;
      break;
    case scGreaterEqual:
      low = f - 1;
      break;
    default:
      break;
  }
  low = std::clamp(low, 0, n - 1);
  high = std::clamp(high, 0, n - 1);
}

bool TNRDBTreeNodeController::FindEntry(std::int32_t sessionID, std::uint8_t* key, const std::uint8_t* reference,
                                        TNRDKeyPath& position) {
  std::int32_t low, high;
  ChildRange(sessionID, key, scEqual, low, high);
  for (std::int32_t i = low; i <= high; ++i) {
    position.AddItem(FPage->PageNo(), i, FPage->EntryCount());
    TNRDBTreePage child(FPage->LPageManager, FPage->LKeyRef);
    child.Get(sessionID, ChildPageNo(i));
    if (child.Controller().FindEntry(sessionID, key, reference, position)) return true;
    position.DeleteLastItem();
  }
  return false;
}

bool TNRDBTreeNodeController::GetFirstPosition(std::int32_t sessionID, TNRDKeyPath& position) {
  if (FPage->EntryCount() == 0) return false;
  position.AddItem(FPage->PageNo(), 0, FPage->EntryCount());
  TNRDBTreePage child(FPage->LPageManager, FPage->LKeyRef);
  child.Get(sessionID, ChildPageNo(0));
  return child.Controller().GetFirstPosition(sessionID, position);
}

bool TNRDBTreeNodeController::GetLastPosition(std::int32_t sessionID, TNRDKeyPath& position) {
  const std::int32_t n = FPage->EntryCount();
  if (n == 0) return false;
  position.AddItem(FPage->PageNo(), n - 1, n);
  TNRDBTreePage child(FPage->LPageManager, FPage->LKeyRef);
  child.Get(sessionID, ChildPageNo(n - 1));
  return child.Controller().GetLastPosition(sessionID, position);
}

bool TNRDBTreeNodeController::FindByCondition(std::int32_t sessionID, bool first, std::uint8_t* key,
                                              TNRDSearchCondition op, TNRDKeyPath& position) {
  if (FPage->EntryCount() == 0) return false;
  std::int32_t low, high;
  ChildRange(sessionID, key, op, low, high);
  if (low > high) return false;
  const std::int32_t step = first ? 1 : -1;
  for (std::int32_t i = first ? low : high; first ? i <= high : i >= low; i += step) {
    position.AddItem(FPage->PageNo(), i, FPage->EntryCount());
    TNRDBTreePage child(FPage->LPageManager, FPage->LKeyRef);
    child.Get(sessionID, ChildPageNo(i));
    if (child.FindByCondition(sessionID, first, key, op, position)) return true;
    position.DeleteLastItem();
  }
  return false;
}

void TNRDBTreeNodeController::GetFirstKey(std::int32_t sessionID, std::uint8_t* key) {
  TNRDBTreePage child(FPage->LPageManager, FPage->LKeyRef);
  child.Get(sessionID, ChildPageNo(0));
  child.Controller().GetFirstKey(sessionID, key);
}
void TNRDBTreeNodeController::GetLastKey(std::int32_t sessionID, std::uint8_t* key) {
  TNRDBTreePage child(FPage->LPageManager, FPage->LKeyRef);
  child.Get(sessionID, ChildPageNo(FPage->EntryCount() - 1));
  child.Controller().GetLastKey(sessionID, key);
}
void TNRDBTreeNodeController::GetFirstEntry(std::int32_t sessionID, std::uint8_t* key, std::uint8_t* reference) {
  TNRDBTreePage child(FPage->LPageManager, FPage->LKeyRef);
  child.Get(sessionID, ChildPageNo(0));
  child.Controller().GetFirstEntry(sessionID, key, reference);
}
void TNRDBTreeNodeController::GetLastEntry(std::int32_t sessionID, std::uint8_t* key, std::uint8_t* reference) {
  TNRDBTreePage child(FPage->LPageManager, FPage->LKeyRef);
  child.Get(sessionID, ChildPageNo(FPage->EntryCount() - 1));
  child.Controller().GetLastEntry(sessionID, key, reference);
}

std::int64_t BTreeWalkBudget(TNRDPageManager* pageManager, std::int32_t sessionID) {
  const TNRDSessionPageInfo* info = pageManager->FindSession(sessionID);
  return static_cast<std::int64_t>(pageManager->PageCountBound()) + (info != nullptr ? info->AddedPageNumbers.ItemCount : 0) +
         1;
}

// ----- path stepping -------------------------------------------------------------------------------

bool BTreeMoveToNextPosition(TNRDPageManager* pageManager, TNRDBTreeKeyRef* keyRef, std::int32_t sessionID,
                             TNRDKeyPath& path, int emptyCode, int linkCode) {
  if (path.Count <= 0) throw ENRDException(emptyCode, "Index error: invalid position");
  std::int32_t level = path.Count - 1;
  while (level >= 0 && path.Items[level].EntryNo >= path.Items[level].EntryCount - 1) --level;
  if (level < 0) return false;
  TNRDKeyPath moved;
  moved.Assign(path);
  ++moved.Items[level].EntryNo;
  for (std::int32_t l = level + 1; l < moved.Count; ++l) {
    TNRDBTreePage page(pageManager, keyRef);
    page.Get(sessionID, moved.Items[l].PageNo);
    const std::int32_t right = page.RightPageNo();
    if (right == -1) throw ENRDException(linkCode, "Index error: invalid page number");
    page.Get(sessionID, right);
    moved.Items[l] = TNRDKeyPathItem{right, 0, page.EntryCount()};
  }
  // A step onto an empty page means the chains are damaged.
  if (moved.Leaf().EntryCount <= 0) InternalIndexError();
  path.Assign(moved);
  return true;
}

bool BTreeMoveToPriorPosition(TNRDPageManager* pageManager, TNRDBTreeKeyRef* keyRef, std::int32_t sessionID,
                              TNRDKeyPath& path, int emptyCode, int linkCode) {
  if (path.Count <= 0) throw ENRDException(emptyCode, "Index error: invalid position");
  std::int32_t level = path.Count - 1;
  while (level >= 0 && path.Items[level].EntryNo < 1) --level;
  if (level < 0) return false;
  TNRDKeyPath moved;
  moved.Assign(path);
  --moved.Items[level].EntryNo;
  for (std::int32_t l = level + 1; l < moved.Count; ++l) {
    TNRDBTreePage page(pageManager, keyRef);
    page.Get(sessionID, moved.Items[l].PageNo);
    const std::int32_t left = page.LeftPageNo();
    if (left == -1) throw ENRDException(linkCode, "Index error: invalid page number");
    page.Get(sessionID, left);
    if (page.EntryCount() <= 0) InternalIndexError();
    moved.Items[l] = TNRDKeyPathItem{left, page.EntryCount() - 1, page.EntryCount()};
  }
  path.Assign(moved);
  return true;
}

}  // namespace nrd
