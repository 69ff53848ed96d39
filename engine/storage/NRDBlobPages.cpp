// BLOB pages and the disk BLOB manager.
#include "engine/storage/NRDBlobPages.h"

#include <cstring>

#include "engine/foundation/NRDCompression.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/storage/NRDDiskPageManager.h"
#include "engine/storage/NRDEngineShared.h"
#include "engine/storage/NRDFieldManager.h"

namespace nrd {

namespace {
constexpr std::int32_t kEntryHeader = 22;
constexpr std::int32_t kChainHeader = 32;
constexpr std::uint16_t kOwnChain = 0xFFFF;

class PageRef {
 public:
  PageRef(TNRDPageManager& pm, TNRDPage* page) : pm_(pm), page_(page) {}
  ~PageRef() {
    if (page_ != nullptr) pm_.PutPage(page_);
  }
  PageRef(const PageRef&) = delete;
  PageRef& operator=(const PageRef&) = delete;
  TNRDPage* get() const { return page_; }
  TNRDPage* operator->() const { return page_; }

 private:
  TNRDPageManager& pm_;
  TNRDPage* page_;
};

std::int64_t StoredSizeOf(const TNRDDiskBLOBCacheEntry& b) {
  return b.BlobData != nullptr ? GlobalMemoryManager().GetMemoryBufferSize(b.BlobData) : 0;
}
}  // namespace

// ----- shared page --------------------------------------------------------------------------------
std::uint16_t TNRDSmallBlobPage::GetBlobCount() const { return GetLE16(LPage->PageData()); }
void TNRDSmallBlobPage::SetBlobCount(std::uint16_t value) { PutLE16(LPage->PageData(), value); }

std::int32_t TNRDSmallBlobPage::FindEntry(std::uint16_t itemNo, std::int32_t& endOfEntries) const {
  const std::uint8_t* d = LPage->PageData();
  const std::int32_t size = LPage->PageDataSize();
  std::int32_t off = 2;
  std::int32_t found = -1;
  for (std::uint16_t n = 0; n < GetBlobCount(); ++n) {
    if (off + kEntryHeader > size) throw ENRDException(20171, "Cannot find blob field");
    const std::int64_t stored = static_cast<std::int64_t>(GetLE64(d + off + 6));
    if (stored < 0 || off + kEntryHeader + stored > size) throw ENRDException(20171, "Cannot find blob field");
    if (found < 0 && GetLE16(d + off) == itemNo) found = off;
    off += kEntryHeader + static_cast<std::int32_t>(stored);
  }
  endOfEntries = off;
  return found;
}

std::uint16_t TNRDSmallBlobPage::NewItemNo() const {
  std::uint16_t candidate = GetBlobCount();
  std::int32_t end = 0;
  for (std::int32_t tries = 0; tries < 0x10000; ++tries) {
    // 255 is left out: old files use it for own chains too.
    if (candidate != 255 && candidate != kOwnChain && FindEntry(candidate, end) < 0) return candidate;
    candidate = candidate >= 0xFFFE ? 0 : static_cast<std::uint16_t>(candidate + 1);
  }
  throw ENRDException(20172, "Invalid blob field ID");
}

void TNRDSmallBlobPage::AddBlob(const TNRDDiskBLOBCacheEntry& blob, TNRDPageItemID& pageItemID,
                                std::int32_t sizeInIndex) {
  std::int32_t end = 0;
  FindEntry(0xFFFF, end);
  const std::uint16_t itemNo = NewItemNo();
  const std::int64_t stored = StoredSizeOf(blob);
  const std::int32_t dataSize = LPage->PageDataSize();
  if (end + kEntryHeader + stored > dataSize)
    throw ENRDException(20290,
                        "Cannot add blob. Page is full: BlobCount=%d, BlobOffset=%d, BlobSize=%d, PageDataSize=%d, "
                        "SizeInBlobPageIndex=%d",
                        {static_cast<std::int32_t>(GetBlobCount()), end, stored + kEntryHeader, dataSize, sizeInIndex});
  std::uint8_t* d = LPage->PageData() + end;
  PutLE16(d, itemNo);
  PutLE32(d + 2, static_cast<std::uint32_t>(blob.NumBlocks));
  PutLE64(d + 6, static_cast<std::uint64_t>(stored));
  PutLE64(d + 14, static_cast<std::uint64_t>(blob.UncompressedSize));
  if (stored > 0) std::memcpy(d + kEntryHeader, blob.BlobData, static_cast<std::size_t>(stored));
  SetBlobCount(static_cast<std::uint16_t>(GetBlobCount() + 1));
  LPage->SetIsDirty(true);
  pageItemID.PageNo = LPage->PageNo();
  pageItemID.PageItemNo = itemNo;
}

void TNRDSmallBlobPage::DeleteBlob(const TNRDPageItemID& pageItemID, std::int64_t& blobSize) {
  std::int32_t end = 0;
  const std::int32_t off = FindEntry(pageItemID.PageItemNo, end);
  if (off < 0) throw ENRDException(20171, "Cannot find blob field");
  std::uint8_t* d = LPage->PageData();
  blobSize = kEntryHeader + static_cast<std::int64_t>(GetLE64(d + off + 6));
  const std::int32_t dataSize = LPage->PageDataSize();
  std::memmove(d + off, d + off + blobSize, static_cast<std::size_t>(dataSize - off - blobSize));
  SetBlobCount(static_cast<std::uint16_t>(GetBlobCount() - 1));
  LPage->SetIsDirty(true);
}

bool TNRDSmallBlobPage::ReadBlob(TNRDDiskBLOBCacheEntry& blob, const TNRDPageItemID& pageItemID) const {
  std::int32_t end = 0;
  const std::int32_t off = FindEntry(pageItemID.PageItemNo, end);
  if (off < 0) return false;
  const std::uint8_t* d = LPage->PageData() + off;
  blob.NumBlocks = static_cast<std::int32_t>(GetLE32(d + 2));
  const std::int64_t stored = static_cast<std::int64_t>(GetLE64(d + 6));
  blob.UncompressedSize = static_cast<std::int64_t>(GetLE64(d + 14));
  if (stored > 0) {
    blob.BlobData = static_cast<std::uint8_t*>(GlobalMemoryManager().GetMem(stored));
    std::memcpy(blob.BlobData, d + kEntryHeader, static_cast<std::size_t>(stored));
  }
  return true;
}

// ----- manager ------------------------------------------------------------------------------------
TNRDDiskBlobManager::TNRDDiskBlobManager(TNRDDiskPageManager* pageManager, TNRDBaseFieldManager* fieldManager,
                                         TNRDBaseRecordManager* recordManager)
    : LPageManager(pageManager), LFieldManager(fieldManager), LRecordManager(recordManager),
      FBlobPageIndex(std::make_unique<TNRDBTreeBlobPageIndex>(pageManager)) {}

TNRDDiskBlobManager::~TNRDDiskBlobManager() {
  // Entries still live belong to record buffers that were not cleared: their data go with us.
  for (auto& [handle, e] : FLive) {
    if (e->BlobData != nullptr) GlobalMemoryManager().FreeMem(e->BlobData);
    delete e;
    FEntries.Remove(handle);
  }
}

void TNRDDiskBlobManager::CheckReleased() const {
  if (FEntries.LiveCount() > 0) throw ENRDException(20150, "Blob cache not released");
}

bool TNRDDiskBlobManager::HasBlobFields() const {
  const TNRDFieldDefs& defs = LFieldManager->FFieldDefs;
  for (std::int32_t i = 0; i < defs.GetCount(); ++i)
    if (defs.GetFieldDef(i)->IsBlob()) return true;
  return false;
}

void TNRDDiskBlobManager::CreateBlobPageIndex() { FBlobPageIndex->CreateIndex(-2); }

void TNRDDiskBlobManager::LoadMetadata(TStream& stream) {
  std::uint8_t b[4];
  ReadDataFromStream(b, 4, stream, 20164);
  FBlobPageIndex->OpenIndex(static_cast<std::int32_t>(GetLE32(b)));
}

void TNRDDiskBlobManager::SaveMetadata(TStream& stream) const {
  std::uint8_t b[4];
  PutLE32(b, static_cast<std::uint32_t>(FBlobPageIndex->RootPageNo()));
  WriteDataToStream(b, 4, stream, 20164);
}

TNRDPageItemID TNRDDiskBlobManager::GetReference(const void* recordBuffer, const TNRDFieldDef& field) {
  return TNRDPageItemID::Decode(static_cast<const std::uint8_t*>(recordBuffer) + field.FMemoryOffset);
}

void TNRDDiskBlobManager::SetReference(void* recordBuffer, const TNRDFieldDef& field, const TNRDPageItemID& ref) {
  ref.Encode(static_cast<std::uint8_t*>(recordBuffer) + field.FMemoryOffset);
}

std::uint32_t TNRDDiskBlobManager::GetHandle(const void* recordBuffer, std::int32_t fieldNo) const {
  const TNRDFieldDef* f = LFieldManager->FFieldDefs.GetFieldDef(fieldNo);
  return GetLE32(static_cast<const std::uint8_t*>(recordBuffer) + f->FMemoryOffset + 6);
}

void TNRDDiskBlobManager::SetHandle(void* recordBuffer, std::int32_t fieldNo, std::uint32_t handle) const {
  const TNRDFieldDef* f = LFieldManager->FFieldDefs.GetFieldDef(fieldNo);
  PutLE32(static_cast<std::uint8_t*>(recordBuffer) + f->FMemoryOffset + 6, handle);
}

TNRDDiskBLOBCacheEntry* TNRDDiskBlobManager::Entry(const void* recordBuffer, std::int32_t fieldNo) const {
  if (recordBuffer == nullptr) return nullptr;
  return static_cast<TNRDDiskBLOBCacheEntry*>(FEntries.Get(GetHandle(recordBuffer, fieldNo)));
}

TNRDDiskBLOBCacheEntry* TNRDDiskBlobManager::NewEntry(void* recordBuffer, std::int32_t fieldNo) {
  auto* e = new TNRDDiskBLOBCacheEntry();
  const std::uint32_t h = FEntries.Add(e);
  FLive[h] = e;
  SetHandle(recordBuffer, fieldNo, h);
  return e;
}

void TNRDDiskBlobManager::FreeEntry(void* recordBuffer, std::int32_t fieldNo) {
  const std::uint32_t h = GetHandle(recordBuffer, fieldNo);
  auto* e = static_cast<TNRDDiskBLOBCacheEntry*>(FEntries.Get(h));
  if (e != nullptr) {
    if (e->BlobData != nullptr) GlobalMemoryManager().FreeMem(e->BlobData);
    delete e;
    FEntries.Remove(h);
    FLive.erase(h);
  }
  SetHandle(recordBuffer, fieldNo, 0);
}

void TNRDDiskBlobManager::ClearBlobInRecordBuffer(void* recordBuffer, std::int32_t fieldNo, bool forceClear) {
  TNRDDiskBLOBCacheEntry* e = Entry(recordBuffer, fieldNo);
  if (e == nullptr) return;
  if (e->Modified && !forceClear) return;
  FreeEntry(recordBuffer, fieldNo);
}

TNRDPageItemID TNRDDiskBlobManager::StoreValue(std::int32_t sessionID, const TNRDDiskBLOBCacheEntry& blob) {
  const std::int64_t stored = StoredSizeOf(blob);
  if (stored + 24 < LPageManager->PageDataSize()) return StoreShared(sessionID, blob);
  return StoreChain(sessionID, blob);
}

TNRDPageItemID TNRDDiskBlobManager::StoreShared(std::int32_t sessionID, const TNRDDiskBLOBCacheEntry& blob) {
  const std::int32_t need = static_cast<std::int32_t>(StoredSizeOf(blob)) + kEntryHeader;
  std::int32_t pageNo = -1;
  TNRDPage* raw = nullptr;
  std::int32_t inIndex = -1;
  if (FBlobPageIndex->FindPageForNewBlob(sessionID, need, pageNo)) {
    raw = LPageManager->GetPage(sessionID, pageNo, ptTableBlob, true);
    inIndex = FBlobPageIndex->GetBlobPageAllocatedSpace(sessionID, pageNo);
  } else {
    raw = LPageManager->AddPage(sessionID, ptTableBlob);
    std::memset(raw->PageData(), 0, 2);
  }
  PageRef page(*LPageManager, raw);
  TNRDSmallBlobPage bp(page.get());
  TNRDPageItemID ref;
  bp.AddBlob(blob, ref, inIndex);
  FBlobPageIndex->AddBlob(sessionID, need, ref.PageNo);
  return ref;
}

TNRDPageItemID TNRDDiskBlobManager::StoreChain(std::int32_t sessionID, const TNRDDiskBLOBCacheEntry& blob) {
  const std::int32_t d = LPageManager->PageDataSize();
  const std::int64_t stored = StoredSizeOf(blob);
  std::vector<std::int32_t> dataPages;
  std::int32_t firstPageNo = -1;
  std::int64_t written = 0;
  std::int32_t endOffset = 0;  // where the value ends on the last data page
  {
    PageRef first(*LPageManager, LPageManager->AddPage(sessionID, ptTableBlob));
    firstPageNo = first->PageNo();
    std::uint8_t* p = first->PageData();
    PutLE16(p, kOwnChain);
    PutLE32(p + 2, static_cast<std::uint32_t>(blob.NumBlocks));
    PutLE64(p + 6, static_cast<std::uint64_t>(stored));
    PutLE64(p + 14, static_cast<std::uint64_t>(blob.UncompressedSize));
    const std::int64_t n = std::min<std::int64_t>(stored, d - kChainHeader);
    if (n > 0) std::memcpy(p + kChainHeader, blob.BlobData, static_cast<std::size_t>(n));
    written = n;
    endOffset = kChainHeader + static_cast<std::int32_t>(n);
    dataPages.push_back(firstPageNo);
  }
  std::int32_t lastPageNo = firstPageNo;
  while (written < stored) {
    PageRef page(*LPageManager, LPageManager->AddPage(sessionID, ptTableBlob));
    const std::int64_t n = std::min<std::int64_t>(stored - written, d);
    std::memcpy(page->PageData(), blob.BlobData + written, static_cast<std::size_t>(n));
    written += n;
    endOffset = static_cast<std::int32_t>(n);
    lastPageNo = page->PageNo();
    dataPages.push_back(lastPageNo);
  }
  // The page list, from the value's end on (a full last page: from a new page).
  std::int32_t listPageNo = lastPageNo;
  std::int32_t listOffset = endOffset;
  if (endOffset >= d) {
    PageRef page(*LPageManager, LPageManager->AddPage(sessionID, ptTableBlob));
    listPageNo = page->PageNo();
    listOffset = 0;
  }
  std::size_t next = 0;
  std::int32_t curPage = listPageNo;
  std::int32_t curOffset = listOffset;
  for (;;) {
    PageRef page(*LPageManager, LPageManager->GetPage(sessionID, curPage, ptTableBlob, true));
    const std::int32_t fit = (d - curOffset) / 4;
    for (std::int32_t k = 0; k < fit && next < dataPages.size(); ++k, ++next)
      PutLE32(page->PageData() + curOffset + 4 * k, static_cast<std::uint32_t>(dataPages[next]));
    page->SetIsDirty(true);
    if (next >= dataPages.size()) break;
    PageRef more(*LPageManager, LPageManager->AddPage(sessionID, ptTableBlob));
    page->PageHeader()->NextPageNo = more->PageNo();
    curPage = more->PageNo();
    curOffset = 0;
  }
  {
    PageRef first(*LPageManager, LPageManager->GetPage(sessionID, firstPageNo, ptTableBlob, true));
    std::uint8_t* p = first->PageData();
    PutLE32(p + 22, static_cast<std::uint32_t>(listPageNo));
    PutLE16(p + 26, static_cast<std::uint16_t>(listOffset));
    PutLE32(p + 28, static_cast<std::uint32_t>(dataPages.size()));
    first->SetIsDirty(true);
  }
  return TNRDPageItemID{firstPageNo, kOwnChain};
}

void TNRDDiskBlobManager::ChainPages(std::int32_t sessionID, std::int32_t firstPageNo,
                                     std::vector<std::int32_t>& dataPages, std::vector<std::int32_t>& listPages,
                                     std::int64_t& storedSize) {
  const std::int32_t d = LPageManager->PageDataSize();
  std::int32_t listPageNo = 0, listOffset = 0, pageCount = 0;
  {
    PageRef first(*LPageManager, LPageManager->GetPage(sessionID, firstPageNo, ptTableBlob, true));
    const std::uint8_t* p = first->PageData();
    storedSize = static_cast<std::int64_t>(GetLE64(p + 6));
    listPageNo = static_cast<std::int32_t>(GetLE32(p + 22));
    listOffset = GetLE16(p + 26);
    pageCount = static_cast<std::int32_t>(GetLE32(p + 28));
  }
  // A damaged locator is refused before it is followed.
  const std::int64_t capacity = static_cast<std::int64_t>(d - kChainHeader) + static_cast<std::int64_t>(pageCount - 1) * d;
  if (pageCount < 1 || pageCount > LPageManager->PageCountBound() || storedSize < 0 || storedSize > capacity ||
      listOffset > d || listPageNo < 0)
    throw ENRDException(20162, "Cannot read BLOB field value");
  dataPages.clear();
  listPages.clear();
  std::int32_t curPage = listPageNo;
  std::int32_t curOffset = listOffset;
  while (static_cast<std::int32_t>(dataPages.size()) < pageCount) {
    if (static_cast<std::int32_t>(listPages.size()) > pageCount + 1) throw ENRDException(20162, "Cannot read BLOB field value");
    PageRef page(*LPageManager, LPageManager->GetPage(sessionID, curPage, ptTableBlob, true));
    listPages.push_back(curPage);
    const std::int32_t fit = (d - curOffset) / 4;
    for (std::int32_t k = 0; k < fit && static_cast<std::int32_t>(dataPages.size()) < pageCount; ++k)
      dataPages.push_back(static_cast<std::int32_t>(GetLE32(page->PageData() + curOffset + 4 * k)));
    if (static_cast<std::int32_t>(dataPages.size()) < pageCount) {
      curPage = page->PageHeader()->NextPageNo;
      curOffset = 0;
      if (curPage <= 0) throw ENRDException(20162, "Cannot read BLOB field value");
    }
  }
}

void TNRDDiskBlobManager::LoadChain(std::int32_t sessionID, std::int32_t firstPageNo, TNRDDiskBLOBCacheEntry& blob) {
  std::vector<std::int32_t> dataPages, listPages;
  std::int64_t stored = 0;
  ChainPages(sessionID, firstPageNo, dataPages, listPages, stored);
  const std::int32_t d = LPageManager->PageDataSize();
  std::uint8_t* data = stored > 0 ? static_cast<std::uint8_t*>(GlobalMemoryManager().GetMem(stored)) : nullptr;
  try {
    std::int64_t done = 0;
    for (std::size_t i = 0; i < dataPages.size() && done < stored; ++i) {
      PageRef page(*LPageManager, LPageManager->GetPage(sessionID, dataPages[i], ptTableBlob, true));
      const std::int32_t from = i == 0 ? kChainHeader : 0;
      if (i == 0) {
        blob.NumBlocks = static_cast<std::int32_t>(GetLE32(page->PageData() + 2));
        blob.UncompressedSize = static_cast<std::int64_t>(GetLE64(page->PageData() + 14));
      }
      const std::int64_t n = std::min<std::int64_t>(stored - done, d - from);
      std::memcpy(data + done, page->PageData() + from, static_cast<std::size_t>(n));
      done += n;
    }
  } catch (...) {
    if (data != nullptr) GlobalMemoryManager().FreeMem(data);
    throw;
  }
  blob.BlobData = data;
}

void TNRDDiskBlobManager::LoadShared(std::int32_t sessionID, const TNRDPageItemID& ref, TNRDDiskBLOBCacheEntry& blob) {
  PageRef page(*LPageManager, LPageManager->GetPage(sessionID, ref.PageNo, ptTableBlob, true));
  TNRDSmallBlobPage(page.get()).ReadBlob(blob, ref);
}

bool TNRDDiskBlobManager::LooksLikeChain(std::int32_t sessionID, std::int32_t pageNo) {
  PageRef page(*LPageManager, LPageManager->GetPage(sessionID, pageNo, ptTableBlob, true));
  const std::uint8_t* p = page->PageData();
  const std::int64_t stored = static_cast<std::int64_t>(GetLE64(p + 6));
  const std::int64_t count = static_cast<std::int32_t>(GetLE32(p + 28));
  const std::int64_t d = LPageManager->PageDataSize();
  return (count - 2) * d < stored && stored < count * d;
}

void TNRDDiskBlobManager::LoadValue(std::int32_t sessionID, const TNRDPageItemID& ref, TNRDDiskBLOBCacheEntry& blob) {
  if (ref.PageItemNo == kOwnChain) {
    LoadChain(sessionID, ref.PageNo, blob);
  } else if (ref.PageItemNo != 255) {
    LoadShared(sessionID, ref, blob);
  } else {
    const bool chainFirst = LooksLikeChain(sessionID, ref.PageNo);
    try {
      if (chainFirst) LoadChain(sessionID, ref.PageNo, blob);
      else LoadShared(sessionID, ref, blob);
    } catch (const std::exception&) {
      blob = TNRDDiskBLOBCacheEntry{};
      if (chainFirst) LoadShared(sessionID, ref, blob);
      else LoadChain(sessionID, ref.PageNo, blob);
    }
  }
}

void TNRDDiskBlobManager::ReadBlob(std::int32_t sessionID, void* recordBuffer, std::int32_t fieldNo) {
  if (Entry(recordBuffer, fieldNo) != nullptr) return;
  const TNRDFieldDef& f = *LFieldManager->FFieldDefs.GetFieldDef(fieldNo);
  const TNRDPageItemID ref = GetReference(recordBuffer, f);
  if (ref.PageNo == 0 || ref.PageNo == -1) return;
  TNRDDiskBLOBCacheEntry loaded;
  LoadValue(sessionID, ref, loaded);
  TNRDDiskBLOBCacheEntry* e = NewEntry(recordBuffer, fieldNo);
  *e = loaded;
}

void TNRDDiskBlobManager::DeleteShared(std::int32_t sessionID, const TNRDPageItemID& ref) {
  std::int64_t size = 0;
  bool empty = false;
  {
    PageRef page(*LPageManager, LPageManager->GetPage(sessionID, ref.PageNo, ptTableBlob, true));
    TNRDSmallBlobPage bp(page.get());
    bp.DeleteBlob(ref, size);
    empty = bp.GetBlobCount() == 0;
  }
  if (empty) LPageManager->RemovePage(sessionID, ref.PageNo);
  FBlobPageIndex->DeleteBlob(sessionID, static_cast<std::int32_t>(size), ref.PageNo);
}

void TNRDDiskBlobManager::DeleteChain(std::int32_t sessionID, std::int32_t firstPageNo) {
  std::vector<std::int32_t> dataPages, listPages;
  std::int64_t stored = 0;
  ChainPages(sessionID, firstPageNo, dataPages, listPages, stored);
  for (std::int32_t p : dataPages) LPageManager->RemovePage(sessionID, p);
  for (std::int32_t p : listPages)
    if (std::find(dataPages.begin(), dataPages.end(), p) == dataPages.end()) LPageManager->RemovePage(sessionID, p);
}

void TNRDDiskBlobManager::DeleteStoredValue(std::int32_t sessionID, const TNRDPageItemID& ref) {
  if (ref.PageNo == 0 || ref.PageNo == -1) return;
  if (ref.PageItemNo == kOwnChain) {
    DeleteChain(sessionID, ref.PageNo);
  } else if (ref.PageItemNo != 255) {
    DeleteShared(sessionID, ref);
  } else if (LooksLikeChain(sessionID, ref.PageNo)) {
    try {
      DeleteChain(sessionID, ref.PageNo);
    } catch (const std::exception&) {
      DeleteShared(sessionID, ref);
    }
  } else {
    try {
      DeleteShared(sessionID, ref);
    } catch (const std::exception&) {
      DeleteChain(sessionID, ref.PageNo);
    }
  }
}

void TNRDDiskBlobManager::WriteBlob(std::int32_t sessionID, void* recordBuffer, std::int32_t fieldNo) {
  TNRDDiskBLOBCacheEntry* e = Entry(recordBuffer, fieldNo);
  if (e == nullptr || !e->Modified) return;
  const TNRDFieldDef& f = *LFieldManager->FFieldDefs.GetFieldDef(fieldNo);
  const TNRDPageItemID old = GetReference(recordBuffer, f);
  DeleteStoredValue(sessionID, old);
  TNRDPageItemID ref{-1, kOwnChain};
  SetReference(recordBuffer, f, ref);
  if (e->UncompressedSize > 0) ref = StoreValue(sessionID, *e);
  SetReference(recordBuffer, f, ref);
  e->Modified = false;
  FreeEntry(recordBuffer, fieldNo);
}

void TNRDDiskBlobManager::WriteBlobs(std::int32_t sessionID, void* recordBuffer) {
  const TNRDFieldDefs& defs = LFieldManager->FFieldDefs;
  for (std::int32_t i = 0; i < defs.GetCount(); ++i)
    if (defs.GetFieldDef(i)->IsBlob()) WriteBlob(sessionID, recordBuffer, i);
}

void TNRDDiskBlobManager::DeleteBlob(std::int32_t sessionID, void* recordBuffer, std::int32_t fieldNo) {
  if (IsFieldNull(recordBuffer, fieldNo)) return;
  const TNRDFieldDef& f = *LFieldManager->FFieldDefs.GetFieldDef(fieldNo);
  DeleteStoredValue(sessionID, GetReference(recordBuffer, f));
  if (TNRDDiskBLOBCacheEntry* e = Entry(recordBuffer, fieldNo)) e->Modified = false;
}

void TNRDDiskBlobManager::DeleteBlobs(std::int32_t sessionID, void* recordBuffer) {
  const TNRDFieldDefs& defs = LFieldManager->FFieldDefs;
  for (std::int32_t i = 0; i < defs.GetCount(); ++i)
    if (defs.GetFieldDef(i)->IsBlob()) DeleteBlob(sessionID, recordBuffer, i);
}

void TNRDDiskBlobManager::CopyBlobFromRecordBufferToStream(std::int32_t sessionID, void* recordBuffer,
                                                           std::int32_t fieldNo, TNRDBLOBDescriptor& descriptor,
                                                           TStream& stream) {
  if (IsFieldNull(recordBuffer, fieldNo)) {
    descriptor.NumBlocks = 0;
    descriptor.UncompressedSize = 0;
    return;
  }
  ReadBlob(sessionID, recordBuffer, fieldNo);
  TNRDDiskBLOBCacheEntry* e = Entry(recordBuffer, fieldNo);
  if (e == nullptr) throw ENRDException(20162, "Cannot read BLOB field value");
  const std::int64_t n = StoredSizeOf(*e);
  if (n > 0) WriteDataToStream(e->BlobData, static_cast<std::int32_t>(n), stream, 20161);
  descriptor.NumBlocks = e->NumBlocks;
  descriptor.UncompressedSize = e->UncompressedSize;
}

void TNRDDiskBlobManager::CopyBlobFromStreamToRecordBuffer(void* recordBuffer, std::int32_t fieldNo,
                                                           TNRDStream* stream) {
  if (!BLOBStreamModified(stream)) return;
  TNRDCompressedBLOBStream* c = CompressedStreamOf(stream);
  if (c == nullptr) throw ENRDException(20161, "Pointer is nil");
  FreeEntry(recordBuffer, fieldNo);
  TNRDDiskBLOBCacheEntry* e = NewEntry(recordBuffer, fieldNo);
  e->Modified = true;
  e->NumBlocks = static_cast<std::int32_t>(c->BLOBDescriptor().NumBlocks);
  e->UncompressedSize = c->BLOBDescriptor().UncompressedSize;
  TStream& host = c->CompressedStream();
  const std::int64_t n = host.Size();
  if (n > 0) {
    e->BlobData = static_cast<std::uint8_t*>(GlobalMemoryManager().GetMem(n));
    host.SetPosition(0);
    ReadDataFromStream(e->BlobData, static_cast<std::int32_t>(n), host, 20161);
  }
  SetFieldNull(recordBuffer, fieldNo, c->Size() == 0);
}

void TNRDDiskBlobManager::GetDirectBlobInfoFromRecordBuffer(std::int32_t sessionID, void* recordBuffer,
                                                            std::int32_t fieldNo, TNRDBLOBDescriptor& descriptor,
                                                            void*& pBlobData) {
  descriptor = TNRDBLOBDescriptor{};
  pBlobData = nullptr;
  if (IsFieldNull(recordBuffer, fieldNo)) return;
  ReadBlob(sessionID, recordBuffer, fieldNo);
  TNRDDiskBLOBCacheEntry* e = Entry(recordBuffer, fieldNo);
  if (e == nullptr) throw ENRDException(20291, "Cannot read BLOB field value");
  descriptor.NumBlocks = e->NumBlocks;
  descriptor.UncompressedSize = e->UncompressedSize;
  descriptor.StartPosition = StoredSizeOf(*e);  // the stored size travels in the descriptor's position
  pBlobData = e->BlobData;
}

void TNRDDiskBlobManager::SetDirectBlobInfoFromRecordBuffer(std::int32_t, void* recordBuffer, std::int32_t fieldNo,
                                                            TNRDBLOBDescriptor& descriptor, void*& pBlobData) {
  // The data may belong to another entry of this manager: copy before anything is freed.
  std::uint8_t* copy = nullptr;
  if (descriptor.StartPosition > 0 && pBlobData != nullptr) {
    copy = static_cast<std::uint8_t*>(GlobalMemoryManager().GetMem(descriptor.StartPosition));
    std::memcpy(copy, pBlobData, static_cast<std::size_t>(descriptor.StartPosition));
  }
  FreeEntry(recordBuffer, fieldNo);
  TNRDDiskBLOBCacheEntry* e = NewEntry(recordBuffer, fieldNo);
  e->Modified = true;
  e->NumBlocks = static_cast<std::int32_t>(descriptor.NumBlocks);
  e->UncompressedSize = descriptor.UncompressedSize;
  e->BlobData = copy;
  SetFieldNull(recordBuffer, fieldNo, copy == nullptr);
}

void TNRDDiskBlobManager::Empty(std::int32_t sessionID) {
  if (!HasBlobFields()) return;
  const std::int32_t size = LFieldManager->FFieldDefs.GetMemoryRecordBufferSize();
  TNRDMemoryPtr buffer = NRDAllocMem(size);
  TNRDNavigationInfo nav;
  nav.GetRecordMode = grmNext;
  nav.FirstPosition = true;
  nav.IndexID = -1;
  nav.RecordBuffer = buffer.get();
  for (;;) {
    std::memset(buffer.get(), 0, static_cast<std::size_t>(size));
    LRecordManager->GetRecordBuffer(sessionID, nav);
    if (nav.GetRecordResult != grrOK) break;
    DeleteBlobs(sessionID, buffer.get());
    nav.GetRecordMode = grmNext;
  }
  FBlobPageIndex->EmptyIndex(sessionID);
}

void TNRDDiskBlobManager::Delete(std::int32_t sessionID) {
  if (!HasBlobFields()) return;
  Empty(sessionID);
  FBlobPageIndex->DropIndex(sessionID);
}

}  // namespace nrd
