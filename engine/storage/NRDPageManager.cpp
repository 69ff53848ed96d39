#include "engine/storage/NRDPageManager.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"

namespace nrd {

static_assert(std::endian::native == std::endian::little,
              "page headers are read in place and must be little-endian");

// ---------------------------------------------------------------------------------------------
// TNRDPage

TNRDPage::TNRDPage(TNRDPageManager* pageManager) : LPageManager(pageManager) {}

TNRDPage::~TNRDPage() {
  if (FOwnBuffer && FPageBuffer != nullptr) {
    try {
      GlobalMemoryManager().FreeAndNillMem(FPageBuffer);
    } catch (...) {
    }
  }
}


void TNRDPage::AllocPageBuffer() {
  FreeAndNilPageBuffer();
  FPageBuffer = static_cast<std::uint8_t*>(GlobalMemoryManager().AllocMem(PageSize()));
  FOwnBuffer = true;
  InitHeader();
}

void TNRDPage::InitHeader() {
  if (FPageBuffer == nullptr || PageSize() < static_cast<std::int32_t>(sizeof(TNRDDiskPageHeader))) return;
  TNRDDiskPageHeader* h = PageHeader();
  std::memcpy(h->Signature, "NRDP", 4);
  h->State = 0;
  h->PageType = 0;
  h->NextPageNo = -1;
  h->CRC32 = 0;
  h->CRCType = 0;
  h->HashType = 0;
  h->Cipherype = 0;
  h->MACType = 0;
  h->ObjectID = -1;
  h->RecordIDPageNo = -1;
  h->RecordIDPageItemNo = 0;
}

void TNRDPage::ClearPageBuffer() {
  if (FPageBuffer != nullptr) std::memset(FPageBuffer, 0, static_cast<std::size_t>(PageSize()));
}

void TNRDPage::FreeAndNilPageBuffer() {
  if (FPageBuffer == nullptr) return;
  if (FOwnBuffer) {
    GlobalMemoryManager().FreeAndNillMem(FPageBuffer);
  }
  FPageBuffer = nullptr;
}

void TNRDPage::SetPageBuffer(std::uint8_t* buffer, bool ownBuffer) {
  if (buffer != FPageBuffer) FreeAndNilPageBuffer();
  FPageBuffer = buffer;
  FOwnBuffer = ownBuffer;
}

void TNRDPage::EnlargePageBuffer(std::int32_t newSize) {
  if (FPageBuffer == nullptr) throw ENRDException(20038, "Invalid page buffer. Buffer is Nil");
  if (newSize < PageSize()) throw ENRDException(20039, "Invalid page modification");
  if (FOwnBuffer) {
    GlobalMemoryManager().ReallocMem(FPageBuffer, newSize, true);
  } else {
    auto* fresh = static_cast<std::uint8_t*>(GlobalMemoryManager().AllocMem(newSize));
    std::memcpy(fresh, FPageBuffer, static_cast<std::size_t>(PageSize()));
    FPageBuffer = fresh;
    FOwnBuffer = true;
  }
}

void TNRDPage::Synchronize() {
  if (!LPageManager->MultiUser() || FPageBuffer == nullptr) return;
  std::int32_t stored = 0;
  if (!LPageManager->ReadStoredPageState(FPageNo, stored)) return;
  TNRDDiskPageHeader* h = PageHeader();
  if (stored == PageStateRemoved || stored == h->State) {
    h->State = stored;
  } else {
    LPageManager->InternalReadPage(this);
  }
}

bool TNRDPage::GetTableState(std::int32_t sessionID, std::int32_t& tableState) const {
  const std::int64_t index = static_cast<std::int64_t>(sessionID) + 2;
  if (index < 0 || static_cast<std::int64_t>(FTableStates.size()) < index + 1) return false;
  const TNRDPageTableStateInfo& info = FTableStates[static_cast<std::size_t>(index)];
  tableState = info.TableState;
  return info.IsTableStateValueAssigned;
}

void TNRDPage::SetTableState(std::int32_t sessionID, std::int32_t tableState) {
  const std::int64_t index = static_cast<std::int64_t>(sessionID) + 2;
  if (index < 0) return;
  if (static_cast<std::int64_t>(FTableStates.size()) < index + 1) FTableStates.resize(static_cast<std::size_t>(index + 1));
  FTableStates[static_cast<std::size_t>(index)] = {tableState, true};
}

// ---------------------------------------------------------------------------------------------
// TNRDSortedPageList

TNRDSortedPageList::TNRDSortedPageList(std::int32_t size) { SetSize(size); }

std::int32_t TNRDSortedPageList::Search(std::int32_t key, bool& found) const {
  std::int32_t lo = 0;
  std::int32_t hi = ItemCount - 1;
  while (lo <= hi) {
    const std::int32_t mid = lo + (hi - lo) / 2;
    const std::int32_t k = KeyItems[static_cast<std::size_t>(mid)];
    if (k == key) {
      found = true;
      return mid;
    }
    if (k < key) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  found = false;
  return lo;
}

TNRDPage* TNRDSortedPageList::Find(std::int32_t key) const {
  // A reader takes the same page many times in a row (one record after the other): the position of
  // the last page found is tried first. Positions shift with inserts and deletes, so the key at that
  // position is what decides.
  // A writer goes round a few pages (a record page, index leaves, the record page index): a small
  // table by page number keeps one position for each.
  std::int32_t& hint = FFoundPos[static_cast<std::uint32_t>(key) % kFoundPosSlots];
  if (hint < ItemCount && KeyItems[static_cast<std::size_t>(hint)] == key) {
    return ValueItems[static_cast<std::size_t>(hint)].Page;
  }
  bool found = false;
  const std::int32_t i = Search(key, found);
  if (!found) return nullptr;
  hint = i;
  return ValueItems[static_cast<std::size_t>(i)].Page;
}

void TNRDSortedPageList::Insert(TNRDPage* page) {
  ++LRUCount;
  bool found = false;
  std::int32_t pos = 0;
  if (ItemCount == 1) {
    pos = page->PageNo() >= KeyItems[0] ? 1 : 0;
  } else if (ItemCount > 1) {
    pos = Search(page->PageNo(), found);
  }
  const std::int32_t oldCount = ItemCount;
  SetSize(oldCount + 1);
  std::copy_backward(KeyItems.begin() + pos, KeyItems.begin() + oldCount, KeyItems.begin() + oldCount + 1);
  std::copy_backward(ValueItems.begin() + pos, ValueItems.begin() + oldCount, ValueItems.begin() + oldCount + 1);
  KeyItems[static_cast<std::size_t>(pos)] = page->PageNo();
  ValueItems[static_cast<std::size_t>(pos)] = {page, LRUCount, FByLRU.emplace_hint(FByLRU.end(), LRUCount, page)};
}

void TNRDSortedPageList::Delete(std::int32_t pageNo) {
  if (ItemCount == 0) throw ENRDException(20165, "TSortedPageList.Delete - no elements in array!");
  bool found = false;
  const std::int32_t pos = Search(pageNo, found);
  if (!found) {
    throw ENRDException(20166, "TSortedPageList.Delete - element not found, key = %d, itemCount = %d",
                        {pageNo, ItemCount});
  }
  FByLRU.erase(ValueItems[static_cast<std::size_t>(pos)].LRUPos);
  std::copy(KeyItems.begin() + pos + 1, KeyItems.begin() + ItemCount, KeyItems.begin() + pos);
  std::copy(ValueItems.begin() + pos + 1, ValueItems.begin() + ItemCount, ValueItems.begin() + pos);
  // The last slot now repeats its neighbour: it must not take the neighbour's index entry along.
  ValueItems[static_cast<std::size_t>(ItemCount - 1)].Page = nullptr;
  SetSize(ItemCount - 1);
}

void TNRDSortedPageList::UpdateLRU(TNRDPage* page) {
  const std::int32_t hint = FFoundPos[static_cast<std::uint32_t>(page->PageNo()) % kFoundPosSlots];
  bool found = hint < ItemCount && KeyItems[static_cast<std::size_t>(hint)] == page->PageNo();
  const std::int32_t pos = found ? hint : ItemCount > 0 ? Search(page->PageNo(), found) : 0;
  if (!found || ValueItems[static_cast<std::size_t>(pos)].Page != page) {
    throw ENRDException(20167, "Page not found");
  }
  TNRDPageElement& e = ValueItems[static_cast<std::size_t>(pos)];
  if (e.LRUCount == LRUCount) return;  // already the most recently used page
  ++LRUCount;
  // The page's entry moves to the end under its new count; its node is reused, so a page touched
  // once per record read costs no allocation.
  auto node = FByLRU.extract(e.LRUPos);
  node.key() = LRUCount;
  e.LRUCount = LRUCount;
  e.LRUPos = FByLRU.insert(FByLRU.end(), std::move(node));
}

std::vector<TNRDPage*> TNRDSortedPageList::DeleteLeastRecentlyUsed(std::int32_t count) {
  std::vector<TNRDPage*> gone;
  for (auto it = FByLRU.begin(); it != FByLRU.end() && static_cast<std::int32_t>(gone.size()) < count;) {
    if (it->second->UseCount() == 0) {
      gone.push_back(it->second);
      it = FByLRU.erase(it);
    } else {
      ++it;
    }
  }
  if (gone.empty()) return gone;
  std::sort(gone.begin(), gone.end());
  std::int32_t to = 0;
  for (std::int32_t from = 0; from < ItemCount; ++from) {
    if (std::binary_search(gone.begin(), gone.end(), ValueItems[static_cast<std::size_t>(from)].Page)) continue;
    if (to != from) {
      KeyItems[static_cast<std::size_t>(to)] = KeyItems[static_cast<std::size_t>(from)];
      ValueItems[static_cast<std::size_t>(to)] = ValueItems[static_cast<std::size_t>(from)];
    }
    ++to;
  }
  for (std::int32_t i = to; i < ItemCount; ++i) ValueItems[static_cast<std::size_t>(i)].Page = nullptr;
  SetSize(to);
  return gone;
}

TNRDPage* TNRDSortedPageList::FirstByLRU() {
  if (FByLRU.empty()) return nullptr;
  LRULastFound = FByLRU.begin()->first;
  return FByLRU.begin()->second;
}

TNRDPage* TNRDSortedPageList::NextByLRU() {
  auto it = FByLRU.upper_bound(LRULastFound);
  if (it == FByLRU.end()) return nullptr;
  LRULastFound = it->first;
  return it->second;
}

void TNRDSortedPageList::SetSize(std::int32_t newSize) {
  for (std::int32_t i = std::max(newSize, 0); i < ItemCount; ++i) {
    const TNRDPageElement& e = ValueItems[static_cast<std::size_t>(i)];
    if (e.Page != nullptr) FByLRU.erase(e.LRUPos);
  }
  if (newSize <= 0) {
    KeyItems.clear();
    KeyItems.shrink_to_fit();
    ValueItems.clear();
    ValueItems.shrink_to_fit();
    ItemCount = 0;
    AllocItemCount = 0;
    return;
  }
  if (newSize > AllocItemCount) {
    AllocBy = std::min(AllocBy * 2, MaxAllocBy);
    AllocItemCount = AllocItemCount + AllocBy > newSize ? AllocItemCount + AllocBy : newSize;
    KeyItems.resize(static_cast<std::size_t>(AllocItemCount));
    ValueItems.resize(static_cast<std::size_t>(AllocItemCount));
  } else if (newSize < ItemCount && AllocItemCount - newSize > deAllocBy) {
    deAllocBy = std::min(deAllocBy * 2, MaxAllocBy);
    AllocItemCount = newSize;
    KeyItems.resize(static_cast<std::size_t>(AllocItemCount));
    ValueItems.resize(static_cast<std::size_t>(AllocItemCount));
  }
  ItemCount = newSize;
}

// ---------------------------------------------------------------------------------------------
// TNRDPageManager

namespace {

// Seeds for the page managers' generators: one draw of the system's entropy per thread, then a
// generator of its own (a table's first open makes page managers; reading the entropy device for
// each cost more than the rest of the open).
std::uint32_t NextPageManagerSeed() {
  thread_local std::mt19937 seeds(std::random_device{}());
  return static_cast<std::uint32_t>(seeds());
}

}  // namespace

std::uint32_t TNRDPageManager::NextRandom() {
  if (!FRandomGenerator) FRandomGenerator.emplace(FRandomSeed);
  return static_cast<std::uint32_t>((*FRandomGenerator)());
}

TNRDPageManager::TNRDPageManager() : FRandomSeed(NextPageManagerSeed()) {
  const std::int64_t freeMemory = GlobalMemoryManager().GetFreeMemorySize();
  FCacheCapacity = static_cast<std::int32_t>(std::clamp<std::int64_t>(freeMemory / 65536, 0, 1000));
}

TNRDPageManager::~TNRDPageManager() {
  for (auto& info : FSessions) FreeSessionPages(*info);
  FSessions.clear();
  for (std::int32_t i = 0; i < FSharedPages.Count(); ++i) delete FSharedPages.Item(i);
  FSharedPages.SetSize(0);
}

void TNRDPageManager::FreeSessionPages(TNRDSessionPageInfo& info) {
  for (std::int32_t i = 0; i < info.DirtyPages.Count(); ++i) delete info.DirtyPages.Item(i);
  info.DirtyPages.SetSize(0);
}

void TNRDPageManager::SetPageSizes(std::int32_t pageSize, std::int32_t pageHeaderSize) {
  FPageSize = static_cast<std::uint16_t>(pageSize);
  FPageHeaderSize = static_cast<std::uint16_t>(pageHeaderSize);
  FPageDataSize = static_cast<std::uint16_t>(pageSize - pageHeaderSize);
}

bool TNRDPageManager::IsPageCurrent(std::int32_t, TNRDPage*) { return false; }
void TNRDPageManager::RememberPageTableState(std::int32_t, TNRDPage*) {}
void TNRDPageManager::LoadFromStream(TNRDStream&) {}
void TNRDPageManager::SaveToStream(TNRDStream&) {}
bool TNRDPageManager::ReadStoredPageState(std::int32_t, std::int32_t&) { return false; }

TNRDSessionPageInfo* TNRDPageManager::FindSession(std::int32_t sessionID) const {
  for (const auto& info : FSessions) {
    if (info->SessionID == sessionID) return info.get();
  }
  return nullptr;
}

TNRDSessionPageInfo& TNRDPageManager::GetSession(std::int32_t sessionID) {
  if (TNRDSessionPageInfo* info = FindSession(sessionID)) return *info;
  FSessions.push_back(std::make_unique<TNRDSessionPageInfo>(sessionID));
  return *FSessions.back();
}

bool TNRDPageManager::HasChanges(std::int32_t sessionID) const {
  const TNRDSessionPageInfo* info = FindSession(sessionID);
  return info != nullptr && (info->DirtyPages.Count() > 0 || info->AddedPageNumbers.ItemCount > 0 ||
                             info->RemovedPageNumbers.ItemCount > 0);
}

void TNRDPageManager::DropSharedPage(std::int32_t pageNo) {
  TNRDPage* page = FSharedPages.Find(pageNo);
  if (page == nullptr) return;
  FSharedPages.Delete(pageNo);
  if (page->UseCount() > 0) {
    // Someone still holds this copy: it leaves the cache now and is freed at its last PutPage.
    page->SetParentList(nullptr);
  } else {
    delete page;
  }
}

TNRDPage* TNRDPageManager::GetPage(std::int32_t sessionID, std::int32_t pageNo, std::uint16_t pageType,
                                   bool synchronizeAllowed) {
  if (sessionID == -1) throw ENRDException(20186, "Invalid Session ID");
  TNRDSessionPageInfo& info = GetSession(sessionID);
  TNRDPage* page = info.DirtyPages.Find(pageNo);
  if (page == nullptr) {
    page = FSharedPages.Find(pageNo);
    if (page == nullptr && ReadAheadOnMiss(sessionID, pageNo)) page = FSharedPages.Find(pageNo);
    if (page != nullptr && page->TypeUnchecked()) {
      // Read ahead and not yet taken: the type check of a read from storage is still due. A page
      // of the wrong type is dropped and read again below, which raises as it always did.
      if (!FIgnoreCRCErrors && FPageHeaderSize > 0 && pageType != AnyPageType &&
          page->PageHeader()->PageType != pageType && page->UseCount() == 0) {
        DropSharedPage(pageNo);
        page = nullptr;
      } else {
        page->SetTypeUnchecked(false);
      }
    }
    if (page != nullptr) {
      if (page->UseCount() > 0 && page->SessionID() != sessionID) {
        throw ENRDException(20090, "Page is used by other session");
      }
      if (synchronizeAllowed && !IsPageCurrent(sessionID, page)) {
        page->Synchronize();
        RememberPageTableState(sessionID, page);
      }
      page->SetParentList(&FSharedPages);
    } else {
      auto fresh = std::make_unique<TNRDPage>(this);
      fresh->SetPageNo(pageNo);
      fresh->SetSessionID(sessionID);
      bool read = false;
      read = InternalReadPage(fresh.get());  // a raise here frees the page: it was never cached
      if (!read) {
        throw ENRDException(20299, "Error reading database file page. Page No: %d, type %d",
                            {pageNo, static_cast<int>(pageType)});
      }
      if (!FIgnoreCRCErrors && FPageHeaderSize > 0 && pageType != AnyPageType &&
          fresh->PageHeader()->PageType != pageType) {
        throw ENRDException(20153, "Invalid page type. Possible data corruption. Expecting type %d, but found %d",
                            {static_cast<int>(pageType), static_cast<int>(fresh->PageHeader()->PageType)});
      }
      page = fresh.release();
      FSharedPages.Insert(page);
      RememberPageTableState(sessionID, page);
      page->SetParentList(&FSharedPages);
    }
  }
  page->SetSessionID(sessionID);
  page->SetUseCount(page->UseCount() + 1);
  return page;
}

TNRDPage* TNRDPageManager::AddPage(std::int32_t sessionID, std::uint16_t pageType) {
  TNRDSessionPageInfo& info = GetSession(sessionID);
  auto page = std::make_unique<TNRDPage>(this);
  page->SetSessionID(sessionID);  // the store may hand out numbers per session
  InternalAddPage(page.get());
  if (page->PageNo() == -1) throw ENRDException(20064, "Invalid page number");
  page->SetSessionID(sessionID);
  page->SetUseCount(1);
  page->SetIsDirty(true);
  page->SetReloaded(false);
  if (FPageHeaderSize > 0) {
    page->PageHeader()->PageType = pageType;
    page->PageHeader()->State = static_cast<std::int32_t>(NextRandom() % 0x3FFFFFFFu);
  }
  DropSharedPage(page->PageNo());
  if (TNRDPage* stale = info.DirtyPages.Find(page->PageNo())) {
    // A number the session removed and the store handed out again: the old dirty copy is void.
    info.DirtyPages.Delete(page->PageNo());
    delete stale;
  }
  info.DirtyPages.Insert(page.get());
  page->SetParentList(&info.DirtyPages);
  info.AddedPageNumbers.Append(page->PageNo());
  return page.release();
}

void TNRDPageManager::RemovePage(std::int32_t sessionID, std::int32_t pageNo) {
  GetSession(sessionID).RemovedPageNumbers.Append(pageNo);
}

void TNRDPageManager::PutPage(TNRDPage* page) {
  if (page == nullptr) return;
  page->SetUseCount(page->UseCount() - 1);
  if (page->UseCount() <= 0) {
    page->SetUseCount(0);
    page->SetReloaded(false);
  }
  if (page->ParentList() == nullptr) {
    // Detached from every list while it was held: its last holder frees it.
    if (page->UseCount() == 0) delete page;
    return;
  }
  if (page->ParentList() != &FSharedPages) return;
  if (page->UseCount() == 0) {
    if (page->IsDirty()) {
      FSharedPages.Delete(page->PageNo());
      TNRDSessionPageInfo& info = GetSession(page->SessionID());
      info.DirtyPages.Insert(page);
      page->SetParentList(&info.DirtyPages);
      return;
    }
    FSharedPages.UpdateLRU(page);
  }
  EvictSharedPages();
}

void TNRDPageManager::EvictSharedPages() {
  if (FSharedPages.Count() <= FCacheCapacity) return;
  // A sixteenth of the capacity goes at once, in one pass over the list, so that a scan that
  // brings in page after page does not move the whole list for every page it adds.
  const std::int32_t target = std::max(FCacheCapacity - FCacheCapacity / 16, 0);
  for (TNRDPage* page : FSharedPages.DeleteLeastRecentlyUsed(FSharedPages.Count() - target)) delete page;
}

void TNRDPageManager::CheckCanApply(std::int32_t sessionID) const {
  for (std::int32_t i = 0; i < FSharedPages.Count(); ++i) {
    const TNRDPage* page = FSharedPages.Item(i);
    if (page->SessionID() == sessionID && page->UseCount() > 0) {
      throw ENRDException(20152, "Some session pages not released");
    }
  }
  const TNRDSessionPageInfo* info = FindSession(sessionID);
  if (info == nullptr) return;
  for (std::int32_t i = 0; i < info->DirtyPages.Count(); ++i) {
    const TNRDPage* page = info->DirtyPages.Item(i);
    if (!page->IsDirty()) throw ENRDException(20085, "Invalid page");
    if (page->UseCount() > 0) throw ENRDException(20086, "Cannot write used page");
  }
}

void TNRDPageManager::ApplyChanges(std::int32_t sessionID) {
  // Every page is checked before anything reaches storage.
  CheckCanApply(sessionID);
  TNRDSessionPageInfo* info = FindSession(sessionID);
  if (info == nullptr) return;
  TNRDSortedPageList& dirty = info->DirtyPages;

  for (std::int32_t n = 0; n < info->RemovedPageNumbers.ItemCount; ++n) {
    const std::int32_t pageNo = info->RemovedPageNumbers[n];
    InternalRemovePage(pageNo);
    if (TNRDPage* page = dirty.Find(pageNo)) {
      dirty.Delete(pageNo);
      delete page;
    }
    DropSharedPage(pageNo);
  }
  info->RemovedPageNumbers.SetSize(0);
  info->AddedPageNumbers.SetSize(0);

  // Pages are written in ascending number. A failure in the middle leaves only the unwritten pages
  // in the dirty list: the written ones are clean and must not be written again.
  std::vector<TNRDPage*> pages;
  pages.reserve(static_cast<std::size_t>(dirty.Count()));
  for (std::int32_t i = 0; i < dirty.Count(); ++i) pages.push_back(dirty.Item(i));
  std::size_t written = 0;
  try {
    for (; written < pages.size(); ++written) InternalWritePage(pages[written]);
  } catch (...) {
    for (std::size_t i = 0; i < written; ++i) {
      dirty.Delete(pages[i]->PageNo());
      KeepCommittedPage(pages[i]);
    }
    throw;
  }
  dirty.Clear();
  for (TNRDPage* page : pages) KeepCommittedPage(page);
}

void TNRDPageManager::KeepCommittedPage(TNRDPage* page) {
  page->SetIsDirty(false);
  DropSharedPage(page->PageNo());
  if (FSharedPages.Count() < FCacheCapacity) {
    FSharedPages.Insert(page);
    page->SetParentList(&FSharedPages);
  } else {
    delete page;
  }
}

void TNRDPageManager::CancelChanges(std::int32_t sessionID) {
  TNRDSessionPageInfo* info = FindSession(sessionID);
  if (info == nullptr) return;
  TNRDSortedPageList& dirty = info->DirtyPages;
  for (std::int32_t i = 0; i < dirty.Count(); ++i) {
    const TNRDPage* page = dirty.Item(i);
    if (!page->IsDirty()) throw ENRDException(20087, "Invalid index page");
    if (page->UseCount() > 0) throw ENRDException(20088, "Cannot remove used page");
  }
  FreeSessionPages(*info);
  // The numbers are forgotten before the storage is asked to release them, so a failing release
  // does not leave them to be released twice.
  std::vector<std::int32_t> added(info->AddedPageNumbers.Items.begin(),
                                  info->AddedPageNumbers.Items.begin() + info->AddedPageNumbers.ItemCount);
  info->AddedPageNumbers.SetSize(0);
  info->RemovedPageNumbers.SetSize(0);
  for (std::int32_t pageNo : added) InternalRemovePage(pageNo);
}

void TNRDPageManager::DropUnusedSharedPages() {
  for (std::int32_t i = FSharedPages.Count() - 1; i >= 0; --i) {
    TNRDPage* page = FSharedPages.Item(i);
    if (page->UseCount() == 0) {
      FSharedPages.Delete(page->PageNo());
      delete page;
    }
  }
}

void TNRDPageManager::DiscardSession(std::int32_t sessionID) {
  TNRDSessionPageInfo* info = FindSession(sessionID);
  if (info == nullptr) return;
  FreeSessionPages(*info);
  info->AddedPageNumbers.SetSize(0);
  info->RemovedPageNumbers.SetSize(0);
}

void TNRDPageManager::CheckNoUncommittedPages() const {
  for (const auto& info : FSessions) {
    if (info->DirtyPages.Count() > 0) throw ENRDException(20097, "Cannot free non-commited pages");
  }
}

// ---------------------------------------------------------------------------------------------
// Per-session table page-cache state

TNRDDTPCTableInfo& TNRDDTPCSessionInfo::GetTableInfo(std::int32_t tableID) {
  for (auto& info : FTableInfo) {
    if (info->TableID == tableID) return *info;
  }
  FTableInfo.push_back(std::make_unique<TNRDDTPCTableInfo>(tableID));
  return *FTableInfo.back();
}

TNRDDTPCSessionInfo& TNRDDiskTablePagesCacheManager::Session(std::int32_t sessionID) {
  const std::int64_t index = static_cast<std::int64_t>(sessionID) + 2;
  if (index < 0) throw ENRDException(20186, "Invalid Session ID");
  if (static_cast<std::int64_t>(FSessionInfo.size()) <= index) FSessionInfo.resize(static_cast<std::size_t>(index + 1));
  auto& slot = FSessionInfo[static_cast<std::size_t>(index)];
  if (!slot) slot = std::make_unique<TNRDDTPCSessionInfo>();
  return *slot;
}

void TNRDDiskTablePagesCacheManager::TableIsSLocked(std::int32_t sessionID, std::int32_t tableID) {
  TNRDDTPCTableInfo& t = Session(sessionID).GetTableInfo(tableID);
  if (!t.IsLockedFromModification()) t.Reset();
  ++t.TableSLockCount;
}

void TNRDDiskTablePagesCacheManager::TableIsSUnlocked(std::int32_t sessionID, std::int32_t tableID) {
  TNRDDTPCTableInfo& t = Session(sessionID).GetTableInfo(tableID);
  if (t.TableSLockCount > 0) --t.TableSLockCount;
  if (!t.IsLockedFromModification()) t.Reset();
}

void TNRDDiskTablePagesCacheManager::TableIsRWLocked(std::int32_t sessionID, std::int32_t tableID) {
  TNRDDTPCTableInfo& t = Session(sessionID).GetTableInfo(tableID);
  if (!t.IsLockedFromModification()) t.Reset();
  ++t.TableRWLockCount;
}

void TNRDDiskTablePagesCacheManager::TableIsRWUnlocked(std::int32_t sessionID, std::int32_t tableID) {
  TNRDDTPCTableInfo& t = Session(sessionID).GetTableInfo(tableID);
  if (t.TableRWLockCount > 0) --t.TableRWLockCount;
  if (!t.IsLockedFromModification()) t.Reset();
}

bool TNRDDiskTablePagesCacheManager::GetIsMostUpdatedLoaded(std::int32_t sessionID, std::int32_t tableID) {
  return Session(sessionID).GetTableInfo(tableID).IsMostUpdatedLoaded;
}

void TNRDDiskTablePagesCacheManager::SetIsMostUpdatedLoaded(std::int32_t sessionID, std::int32_t tableID,
                                                            std::int32_t tableState) {
  TNRDDTPCTableInfo& t = Session(sessionID).GetTableInfo(tableID);
  if (t.IsMostUpdatedLoaded) return;
  t.IsMostUpdatedLoaded = true;
  t.TableState = tableState;
}

void TNRDDiskTablePagesCacheManager::BeginWorkWithTable(std::int32_t sessionID, std::int32_t tableID) {
  Session(sessionID).FWorkTableIDs.push_back(tableID);
}

void TNRDDiskTablePagesCacheManager::EndWorkWithTable(std::int32_t sessionID, std::int32_t tableID) {
  auto& ids = Session(sessionID).FWorkTableIDs;
  auto it = std::find(ids.begin(), ids.end(), tableID);
  if (it != ids.end()) ids.erase(it);
}

bool TNRDDiskTablePagesCacheManager::GetWorkTableState(std::int32_t sessionID, std::int32_t& workTableState) {
  TNRDDTPCSessionInfo& s = Session(sessionID);
  if (s.FWorkTableIDs.empty()) return false;
  const TNRDDTPCTableInfo& t = s.GetTableInfo(s.FWorkTableIDs.back());
  workTableState = t.TableState;
  return t.IsLockedFromModification() && t.IsMostUpdatedLoaded;
}

}  // namespace nrd
