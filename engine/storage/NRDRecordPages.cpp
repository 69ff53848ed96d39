// Record pages and the disk record manager.
#include "engine/storage/NRDRecordPages.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/storage/NRDDiskPageManager.h"
#include "engine/storage/NRDFieldManager.h"
#include "engine/storage/NRDInternalFiles.h"

namespace nrd {

namespace {
// Gives a page back on every path.
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

bool Bit(const std::uint8_t* bits, std::int32_t i) { return (bits[i >> 3] >> (i & 7)) & 1; }
void SetBit(std::uint8_t* bits, std::int32_t i, bool v) {
  if (v) bits[i >> 3] = static_cast<std::uint8_t>(bits[i >> 3] | (1u << (i & 7)));
  else bits[i >> 3] = static_cast<std::uint8_t>(bits[i >> 3] & ~(1u << (i & 7)));
}
}  // namespace

std::int32_t RecordSlotsPerPage(std::int32_t pageDataSize, std::int32_t recordSize) {
  if (recordSize <= 0 || pageDataSize <= 1) return 0;
  return static_cast<std::int32_t>((8LL * (pageDataSize - 1)) / (8LL * recordSize + 1));
}

// ----- record page --------------------------------------------------------------------------------
TNRDSmallRecordPage::TNRDSmallRecordPage(TNRDPage* page, std::int32_t recordBufferSize, std::int32_t maxRecordsOnPage)
    : LPage(page), FRecordBufferSize(recordBufferSize), FMaxRecordsOnPage(maxRecordsOnPage),
      FRecordDataOffset((maxRecordsOnPage + 7) / 8) {
  if (static_cast<std::int64_t>(FRecordDataOffset) + static_cast<std::int64_t>(maxRecordsOnPage) * recordBufferSize >
      page->PageDataSize())
    throw ENRDException(20140, "Invalid number of records on page");
}

std::uint8_t* TNRDSmallRecordPage::Data() const { return LPage->PageData(); }

bool TNRDSmallRecordPage::IsSlotUsed(std::int32_t slot) const {
  return slot >= 0 && slot < FMaxRecordsOnPage && Bit(Data(), slot);
}

void TNRDSmallRecordPage::AddRecord(const void* recordBuffer, TNRDPageItemID& recordID) {
  // Whole bytes of used slots are passed over at once.
  std::int32_t slot = 0;
  const std::uint8_t* bits = Data();
  while (slot + 8 <= FMaxRecordsOnPage && bits[slot >> 3] == 0xFF) slot += 8;
  while (slot < FMaxRecordsOnPage && Bit(bits, slot)) ++slot;
  if (slot >= FMaxRecordsOnPage) throw ENRDException(20141, "Cannot add record to page. Page is full");
  SetBit(Data(), slot, true);
  std::memcpy(Data() + FRecordDataOffset + static_cast<std::int64_t>(slot) * FRecordBufferSize, recordBuffer,
              static_cast<std::size_t>(FRecordBufferSize));
  LPage->SetIsDirty(true);
  recordID.PageNo = LPage->PageNo();
  recordID.PageItemNo = static_cast<std::uint16_t>(slot);
}

bool TNRDSmallRecordPage::UpdateRecord(const void* recordBuffer, const TNRDPageItemID& recordID) {
  if (!IsSlotUsed(recordID.PageItemNo)) return false;
  std::memcpy(Data() + FRecordDataOffset + static_cast<std::int64_t>(recordID.PageItemNo) * FRecordBufferSize,
              recordBuffer, static_cast<std::size_t>(FRecordBufferSize));
  LPage->SetIsDirty(true);
  return true;
}

bool TNRDSmallRecordPage::DeleteRecord(const TNRDPageItemID& recordID) {
  if (!IsSlotUsed(recordID.PageItemNo)) return false;
  SetBit(Data(), recordID.PageItemNo, false);
  LPage->SetIsDirty(true);
  return true;
}

bool TNRDSmallRecordPage::GetRecordBuffer(const TNRDPageItemID& recordID, void* recordBuffer) const {
  if (!IsSlotUsed(recordID.PageItemNo)) return false;
  std::memcpy(recordBuffer, Data() + FRecordDataOffset + static_cast<std::int64_t>(recordID.PageItemNo) * FRecordBufferSize,
              static_cast<std::size_t>(FRecordBufferSize));
  return true;
}

const std::uint8_t* TNRDSmallRecordPage::RecordData(const TNRDPageItemID& recordID) const {
  if (!IsSlotUsed(recordID.PageItemNo)) return nullptr;
  return Data() + FRecordDataOffset + static_cast<std::int64_t>(recordID.PageItemNo) * FRecordBufferSize;
}

std::int64_t TNRDSmallRecordPage::GetRecordCount() const {
  std::int64_t n = 0;
  const std::int32_t fullBytes = FMaxRecordsOnPage / 8;
  for (std::int32_t b = 0; b < fullBytes; ++b) n += __builtin_popcount(Data()[b]);
  for (std::int32_t s = fullBytes * 8; s < FMaxRecordsOnPage; ++s) n += Bit(Data(), s);
  return n;
}

void TNRDSmallRecordPage::GetFirstRecordID(TNRDPageItemID& recordID) const {
  for (std::int32_t s = 0; s < FMaxRecordsOnPage; ++s)
    if (Bit(Data(), s)) {
      recordID.PageNo = LPage->PageNo();
      recordID.PageItemNo = static_cast<std::uint16_t>(s);
      return;
    }
  throw ENRDException(20143, "Record not found. PageNo=%d, PageRecordCount=%d",
                      {LPage->PageNo(), static_cast<std::int64_t>(0)});
}

void TNRDSmallRecordPage::GetLastRecordID(TNRDPageItemID& recordID) const {
  for (std::int32_t s = FMaxRecordsOnPage - 1; s >= 0; --s)
    if (Bit(Data(), s)) {
      recordID.PageNo = LPage->PageNo();
      recordID.PageItemNo = static_cast<std::uint16_t>(s);
      return;
    }
  throw ENRDException(20144, "Record not found");
}

bool TNRDSmallRecordPage::GetNextRecordID(TNRDPageItemID& recordID) const {
  for (std::int32_t s = recordID.PageItemNo + 1; s < FMaxRecordsOnPage; ++s)
    if (Bit(Data(), s)) {
      recordID.PageNo = LPage->PageNo();
      recordID.PageItemNo = static_cast<std::uint16_t>(s);
      return true;
    }
  return false;
}

bool TNRDSmallRecordPage::GetPriorRecordID(TNRDPageItemID& recordID) const {
  for (std::int32_t s = std::min<std::int32_t>(recordID.PageItemNo, FMaxRecordsOnPage) - 1; s >= 0; --s)
    if (Bit(Data(), s)) {
      recordID.PageNo = LPage->PageNo();
      recordID.PageItemNo = static_cast<std::uint16_t>(s);
      return true;
    }
  return false;
}

void TNRDSmallRecordPage::GetRecordID(std::int32_t recNoOnPage, TNRDPageItemID& recordID) const {
  std::int32_t seen = 0;
  for (std::int32_t s = 0; s < FMaxRecordsOnPage; ++s)
    if (Bit(Data(), s) && seen++ == recNoOnPage) {
      recordID.PageNo = LPage->PageNo();
      recordID.PageItemNo = static_cast<std::uint16_t>(s);
      return;
    }
  throw ENRDException(20146, "Record not found");
}

void TNRDSmallRecordPage::GetRecNoOnPage(const TNRDPageItemID& recordID, std::int32_t& recNoOnPage) const {
  recNoOnPage = 0;
  for (std::int32_t s = 0; s < recordID.PageItemNo && s < FMaxRecordsOnPage; ++s) recNoOnPage += Bit(Data(), s);
}

// ----- record manager -----------------------------------------------------------------------------
TNRDDiskRecordManager::TNRDDiskRecordManager(TNRDDiskPageManager* pageManager, TNRDBaseFieldManager* fieldManager,
                                             TNRDInternalDBTransactedAccessFile* mostUpdatedFile,
                                             std::int32_t tableID)
    : FRecordPageIndex(std::make_unique<TNRDBTreeRecordPageIndex>(pageManager)), LPageManager(pageManager),
      LFieldManager(fieldManager), LMostUpdatedFile(mostUpdatedFile), FTableID(tableID) {}

TNRDDiskRecordManager::~TNRDDiskRecordManager() {
  if (FTempDiskRecordBuffer != nullptr) GlobalMemoryManager().FreeAndNillMem(FTempDiskRecordBuffer);
}

void TNRDDiskRecordManager::Init(std::int32_t recordBufferSize, std::int32_t diskRecordBufferSize, std::int32_t) {
  FRecordBufferSize = recordBufferSize;
  FDiskRecordBufferSize = diskRecordBufferSize;
  FDecodePlan.reset();
  if (FTempDiskRecordBuffer != nullptr) GlobalMemoryManager().FreeAndNillMem(FTempDiskRecordBuffer);
  FTempDiskRecordBuffer = static_cast<std::uint8_t*>(GlobalMemoryManager().AllocMem(diskRecordBufferSize));
  FMaxRecordsOnPage = RecordSlotsPerPage(LPageManager->PageDataSize(), diskRecordBufferSize);
  if (FMaxRecordsOnPage <= 0)
    throw ENRDException(20174,
                        "Cannot create table. Record is too large to fit in current database page. Please increase "
                        "page size of database file or decrease record size");
  // A slot number is 16 bits; 0xFFFF is never a slot.
  if (FMaxRecordsOnPage > 0xFFFF) FMaxRecordsOnPage = 0xFFFF;
  FRecordPageIndex->FMaxRecordsOnPage = FMaxRecordsOnPage;
  FRecordCount = 0;
  FTableState = 0;
}

void TNRDDiskRecordManager::CreateRecordPageIndex() { FRecordPageIndex->CreateIndex(-2); }

void TNRDDiskRecordManager::LoadMetadata(TStream& stream) {
  std::uint8_t b[4];
  ReadDataFromStream(b, 4, stream, 20164);
  FRecordPageIndex->OpenIndex(static_cast<std::int32_t>(GetLE32(b)));
}

void TNRDDiskRecordManager::SaveMetadata(TStream& stream) const {
  std::uint8_t b[4];
  PutLE32(b, static_cast<std::uint32_t>(FRecordPageIndex->RootPageNo()));
  WriteDataToStream(b, 4, stream, 20164);
}

void TNRDDiskRecordManager::LoadMostUpdated(const std::uint8_t* buf, std::int32_t& offset) {
  FTableState = static_cast<std::int32_t>(GetLE32(buf + offset));
  offset += 4;
  FRecordCount = static_cast<std::int64_t>(GetLE32(buf + offset));
  offset += 4;
}

void TNRDDiskRecordManager::SaveMostUpdated(std::uint8_t* buf, std::int32_t& offset) const {
  PutLE32(buf + offset, static_cast<std::uint32_t>(FTableState));
  offset += 4;
  PutLE32(buf + offset, static_cast<std::uint32_t>(FRecordCount));
  offset += 4;
}

void TNRDDiskRecordManager::RaisePageCheck(std::int32_t pageNo) const {
  throw ENRDException(20296, "Record page %d of table %d fails its page check. Possible data corruption",
                      {pageNo, FTableID});
}

bool TNRDDiskRecordManager::PagePasses(TNRDPage* page) const {
  TNRDDatabaseFreeSpaceManager* fsm = LPageManager->FreeSpaceManager();
  if (fsm != nullptr && fsm->SuppressDBHeaderErrors()) return true;
  if (LPageManager->DBHeader()->Version < 2.99) return true;
  const TNRDDiskPageHeader* h = page->PageHeader();
  return h->State <= 0x7FFFFFFD && h->State >= 0 && h->PageType == ptTableRecord && h->ObjectID == FTableID;
}

void TNRDDiskRecordManager::Empty(std::int32_t sessionID) {
  std::int32_t pageNo = -1;
  std::vector<std::int32_t> pages;
  if (FRecordPageIndex->GetFirstRecordPage(sessionID, pageNo)) {
    do pages.push_back(pageNo);
    while (FRecordPageIndex->GetNextRecordPage(sessionID, pages.back(), pageNo));
  }
  for (std::int32_t p : pages) LPageManager->RemovePage(sessionID, p);
  FTableState = 0;
  FRecordPageIndex->EmptyIndex(sessionID);
  FRecordCount = 0;
}

void TNRDDiskRecordManager::Delete(std::int32_t sessionID) {
  Empty(sessionID);
  FRecordPageIndex->DropIndex(sessionID);
}

bool TNRDDiskRecordManager::AddRecord(std::int32_t sessionID, void* recordBuffer, TNRDPageItemID& recordID) {
  try {
    std::int32_t pageNo = -1;
    TNRDPage* raw = nullptr;
    TNRDKeyPath position;  // the page's entry in the record page index, when it is listed there
    if (FRecordPageIndex->FindPageForNewRecord(sessionID, pageNo, &position)) {
      raw = LPageManager->GetPage(sessionID, pageNo, ptTableRecord, true);
    } else {
      raw = LPageManager->AddPage(sessionID, ptTableRecord);
      raw->PageHeader()->ObjectID = FTableID;
      std::memset(raw->PageData(), 0, static_cast<std::size_t>((FMaxRecordsOnPage + 7) / 8));
    }
    PageRef page(*LPageManager, raw);
    LFieldManager->MemRecordBufferToDiskRecordBuffer(recordBuffer, FTempDiskRecordBuffer);
    TNRDSmallRecordPage rp(page.get(), FDiskRecordBufferSize, FMaxRecordsOnPage);
    rp.AddRecord(FTempDiskRecordBuffer, recordID);
    if (position.Count > 0 && recordID.PageNo == pageNo) {
      FRecordPageIndex->AddToPageAt(sessionID, 1, pageNo, position);
    } else {
      FRecordPageIndex->AddRecord(sessionID, recordID.PageNo, 1);
    }
    ++FRecordCount;
    ++FTableState;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TNRDDiskRecordManager::UpdateRecord(std::int32_t sessionID, void* recordBuffer, const TNRDPageItemID& recordID) {
  PageRef page(*LPageManager, LPageManager->GetPage(sessionID, recordID.PageNo, ptTableRecord, true));
  LFieldManager->MemRecordBufferToDiskRecordBuffer(recordBuffer, FTempDiskRecordBuffer);
  TNRDSmallRecordPage rp(page.get(), FDiskRecordBufferSize, FMaxRecordsOnPage);
  if (!rp.UpdateRecord(FTempDiskRecordBuffer, recordID)) return false;
  ++FTableState;
  return true;
}

bool TNRDDiskRecordManager::DeleteRecord(std::int32_t sessionID, TNRDPageItemID& recordID) {
  std::int64_t left = 0;
  {
    PageRef page(*LPageManager, LPageManager->GetPage(sessionID, recordID.PageNo, ptTableRecord, true));
    TNRDSmallRecordPage rp(page.get(), FDiskRecordBufferSize, FMaxRecordsOnPage);
    if (!rp.DeleteRecord(recordID)) return false;
    left = rp.GetRecordCount();
  }
  --FRecordCount;
  ++FTableState;
  if (left == 0) LPageManager->RemovePage(sessionID, recordID.PageNo);
  FRecordPageIndex->DeleteRecord(sessionID, recordID.PageNo, static_cast<std::int32_t>(left));
  return true;
}

// ----- the reader of one search ---------------------------------------------------------------------

// A copy of a record page's data area (slot bitmap and slots) taken under a table state.
class TNRDRecordPageCopy {
 public:
  void Take(const TNRDPage& page, std::int32_t tableState) {
    Data.assign(page.PageData(), page.PageData() + page.PageDataSize());
    PageNo = page.PageNo();
    TableState = tableState;
  }
  std::vector<std::uint8_t> Data;
  std::int32_t PageNo = -1;
  std::int32_t TableState = 0;
};

// Reads through the record manager, and from a page copy while the reads stay on one page. A page
// is copied only when it is read twice in a row, so that reads that jump from page to page (records
// in the order of an index) cost no more than before. The copy is used only under the table state
// it was taken at: every change of a record changes that state.
class TNRDDiskRecordReader final : public TNRDRecordReader {
 public:
  TNRDDiskRecordReader(TNRDDiskRecordManager& records, std::int32_t sessionID)
      : TNRDRecordReader(records, sessionID), FManager(records), FPlan(records.LFieldManager->FFieldDefs),
        FSlots(records.FMaxRecordsOnPage), FSlotSize(records.FDiskRecordBufferSize),
        FDataOffset((records.FMaxRecordsOnPage + 7) / 8) {}

  void Read(TNRDNavigationInfo& nav) override {
    const bool onPage = !nav.FirstPosition && !nav.LastPosition;
    if (onPage && FCopy.PageNo != -1 && nav.RecordID.PageNo == FCopy.PageNo && FCopy.TableState == FManager.FTableState &&
        ReadFromCopy(nav))
      return;
    const bool keep = onPage && nav.RecordID.PageNo == FLastPageNo && FLastTableState == FManager.FTableState;
    FCopy.PageNo = -1;
    FManager.ReadRecord(FSessionID, nav, keep ? &FCopy : nullptr);
    FLastPageNo = nav.GetRecordResult == grrOK ? nav.RecordID.PageNo : -1;
    FLastTableState = FManager.FTableState;
  }

 private:
  bool Used(std::int32_t slot) const {
    return slot >= 0 && slot < FSlots && ((FCopy.Data[static_cast<std::size_t>(slot >> 3)] >> (slot & 7)) & 1) != 0;
  }

  // The answer the record manager gives for a record of the copied page; false when the page
  // does not hold it (the record manager then looks further).
  bool ReadFromCopy(TNRDNavigationInfo& nav) {
    std::int32_t slot = -1;
    const std::int32_t at = nav.RecordID.PageItemNo;
    switch (nav.GetRecordMode) {
      case grmCurrent:
        if (Used(at)) slot = at;
        break;
      case grmNext:
        for (std::int32_t s = at + 1; s < FSlots; ++s)
          if (Used(s)) {
            slot = s;
            break;
          }
        break;
      case grmPrior:
        for (std::int32_t s = std::min(at, FSlots) - 1; s >= 0; --s)
          if (Used(s)) {
            slot = s;
            break;
          }
        break;
    }
    if (slot < 0) return false;
    nav.RecordID.PageNo = FCopy.PageNo;
    nav.RecordID.PageItemNo = static_cast<std::uint16_t>(slot);
    if (nav.RecordBuffer != nullptr)
      FPlan.Decode(FCopy.Data.data() + FDataOffset + static_cast<std::int64_t>(slot) * FSlotSize, nav.RecordBuffer);
    nav.GetRecordResult = grrOK;
    nav.FirstPosition = false;
    nav.LastPosition = false;
    return true;
  }

  TNRDDiskRecordManager& FManager;
  TNRDRecordDecodePlan FPlan;
  std::int32_t FSlots, FSlotSize, FDataOffset;
  TNRDRecordPageCopy FCopy;
  std::int32_t FLastPageNo = -1;
  std::int32_t FLastTableState = 0;
};

std::unique_ptr<TNRDRecordReader> TNRDDiskRecordManager::CreateReader(std::int32_t sessionID) {
  if (LPageManager->MultiUser() || FMaxRecordsOnPage <= 0) return TNRDBaseRecordManager::CreateReader(sessionID);
  return std::make_unique<TNRDDiskRecordReader>(*this, sessionID);
}

void TNRDDiskRecordManager::ReadSlot(const TNRDSmallRecordPage& rp, const TNRDPageItemID& id, TNRDNavigationInfo& nav,
                                     TNRDRecordPageCopy* keep) {
  nav.RecordID = id;
  if (nav.RecordBuffer != nullptr) {
    if (const std::uint8_t* slot = rp.RecordData(id)) {
      if (!FDecodePlan) FDecodePlan = std::make_unique<TNRDRecordDecodePlan>(LFieldManager->FFieldDefs);
      FDecodePlan->Decode(slot, nav.RecordBuffer);
    } else {
      rp.GetRecordBuffer(id, FTempDiskRecordBuffer);
      LFieldManager->DiskRecordBufferToMemRecordBuffer(FTempDiskRecordBuffer, nav.RecordBuffer);
    }
  }
  if (keep != nullptr) keep->Take(*rp.Page(), FTableState);
  nav.GetRecordResult = grrOK;
  nav.FirstPosition = false;
  nav.LastPosition = false;
}

void TNRDDiskRecordManager::GetRecordBuffer(std::int32_t sessionID, TNRDNavigationInfo& nav) {
  ReadRecord(sessionID, nav, nullptr);
}

void TNRDDiskRecordManager::ReadRecord(std::int32_t sessionID, TNRDNavigationInfo& nav, TNRDRecordPageCopy* keep) {
  if (FRecordCount == 0) {
    nav.GetRecordResult = grrEOF;
    return;
  }
  auto readEdge = [&](bool first) {
    std::int32_t pageNo = -1;
    const bool found = first ? FRecordPageIndex->GetFirstRecordPage(sessionID, pageNo)
                             : FRecordPageIndex->GetLastRecordPage(sessionID, pageNo);
    if (!found) {
      nav.GetRecordResult = grrError;
      return;
    }
    PageRef page(*LPageManager, LPageManager->GetPage(sessionID, pageNo, ptTableRecord, true));
    if (!PagePasses(page.get())) {
      nav.GetRecordResult = grrError;
      return;
    }
    TNRDSmallRecordPage rp(page.get(), FDiskRecordBufferSize, FMaxRecordsOnPage);
    TNRDPageItemID id;
    if (first) rp.GetFirstRecordID(id);
    else rp.GetLastRecordID(id);
    ReadSlot(rp, id, nav, keep);
  };
  if (nav.FirstPosition) {
    if (nav.GetRecordMode == grmNext) readEdge(true);
    else nav.GetRecordResult = nav.GetRecordMode == grmPrior ? grrBOF : grrError;
    return;
  }
  if (nav.LastPosition) {
    if (nav.GetRecordMode == grmPrior) readEdge(false);
    else nav.GetRecordResult = nav.GetRecordMode == grmNext ? grrEOF : grrError;
    return;
  }
  const TNRDPageItemID cur = nav.RecordID;
  TNRDPage* raw = nullptr;
  try {
    raw = LPageManager->GetPage(sessionID, cur.PageNo, AnyPageType, true);
  } catch (const ENRDException&) {
    raw = nullptr;  // a page that cannot be read is treated as a page that fails the check
  }
  if (raw == nullptr || !PagePasses(raw)) {
    if (raw != nullptr) LPageManager->PutPage(raw);
    // A page the table's record page index still lists is damaged: a scan that ended here would
    // pass for a complete one. A page that is no longer listed was emptied and removed meanwhile.
    TNRDKeyPath listed;
    if (FRecordPageIndex->FindPageEntry(sessionID, cur.PageNo, listed)) RaisePageCheck(cur.PageNo);
    if (nav.GetRecordMode == grmNext) nav.GetRecordResult = grrEOF;
    else if (nav.GetRecordMode == grmPrior) readEdge(false);
    else nav.GetRecordResult = grrError;
    return;
  }
  PageRef page(*LPageManager, raw);
  TNRDSmallRecordPage rp(page.get(), FDiskRecordBufferSize, FMaxRecordsOnPage);
  switch (nav.GetRecordMode) {
    case grmCurrent:
      if (rp.IsSlotUsed(cur.PageItemNo)) ReadSlot(rp, cur, nav, keep);
      else nav.GetRecordResult = grrError;
      return;
    case grmNext: {
      TNRDPageItemID id = cur;
      if (rp.GetNextRecordID(id)) {
        ReadSlot(rp, id, nav, keep);
        return;
      }
      std::int32_t next = -1;
      if (!FRecordPageIndex->GetNextRecordPage(sessionID, cur.PageNo, next)) {
        nav.GetRecordResult = grrEOF;
        return;
      }
      PageRef np(*LPageManager, LPageManager->GetPage(sessionID, next, ptTableRecord, true));
      if (!PagePasses(np.get())) RaisePageCheck(next);
      TNRDSmallRecordPage nrp(np.get(), FDiskRecordBufferSize, FMaxRecordsOnPage);
      nrp.GetFirstRecordID(id);
      ReadSlot(nrp, id, nav, keep);
      return;
    }
    case grmPrior: {
      TNRDPageItemID id = cur;
      if (rp.GetPriorRecordID(id)) {
        ReadSlot(rp, id, nav, keep);
        return;
      }
      std::int32_t prior = -1;
      if (!FRecordPageIndex->GetPriorRecordPage(sessionID, cur.PageNo, prior)) {
        nav.GetRecordResult = grrBOF;
        return;
      }
      PageRef pp(*LPageManager, LPageManager->GetPage(sessionID, prior, ptTableRecord, true));
      if (!PagePasses(pp.get())) RaisePageCheck(prior);
      TNRDSmallRecordPage prp(pp.get(), FDiskRecordBufferSize, FMaxRecordsOnPage);
      prp.GetLastRecordID(id);
      ReadSlot(prp, id, nav, keep);
      return;
    }
  }
}

std::int32_t TNRDDiskRecordManager::CompareRecordID(const TNRDPageItemID& a, const TNRDPageItemID& b) {
  if (a.PageNo != b.PageNo) return a.PageNo < b.PageNo ? -1 : 1;
  if (a.PageItemNo != b.PageItemNo) return a.PageItemNo < b.PageItemNo ? -1 : 1;
  return 0;
}

std::int64_t TNRDDiskRecordManager::GetApproximateRecNo(std::int32_t, const TNRDPageItemID&) { return FRecordCount / 2; }

void TNRDDiskRecordManager::SetRecNo(std::int32_t sessionID, std::int64_t recNo, TNRDPageItemID& recordID) {
  std::int32_t pageNo = -1, onPage = 0;
  FRecordPageIndex->GetRecordByRecNo(sessionID, recNo - 1, pageNo, onPage);
  PageRef page(*LPageManager, LPageManager->GetPage(sessionID, pageNo, ptTableRecord, true));
  TNRDSmallRecordPage rp(page.get(), FDiskRecordBufferSize, FMaxRecordsOnPage);
  rp.GetRecordID(onPage, recordID);
}

void TNRDDiskRecordManager::GetRecNo(std::int32_t sessionID, const TNRDPageItemID& recordID, std::int64_t& recNo) {
  std::int32_t onPage = 0;
  {
    PageRef page(*LPageManager, LPageManager->GetPage(sessionID, recordID.PageNo, ptTableRecord, true));
    TNRDSmallRecordPage rp(page.get(), FDiskRecordBufferSize, FMaxRecordsOnPage);
    rp.GetRecNoOnPage(recordID, onPage);
  }
  FRecordPageIndex->GetRecNoByRecord(sessionID, recordID.PageNo, onPage, recNo);
  ++recNo;
}

void TNRDDiskRecordManager::RebuildRecordPageIndex(std::int32_t sessionID) {
  FRecordPageIndex = std::make_unique<TNRDBTreeRecordPageIndex>(LPageManager);
  FRecordPageIndex->FMaxRecordsOnPage = FMaxRecordsOnPage;
  FRecordPageIndex->CreateIndex(sessionID);
  FRecordCount = 0;
  TNRDDatabaseFreeSpaceManager* fsm = LPageManager->FreeSpaceManager();
  const std::int32_t count = LPageManager->GetPageCount();
  for (std::int32_t p = 1; p < count; ++p) {
    TNRDPage* raw = nullptr;
    try {
      raw = LPageManager->GetPage(sessionID, p, ptTableRecord, true);
    } catch (const std::exception&) {
      continue;
    }
    try {
      if (raw->PageHeader()->ObjectID == FTableID && PagePasses(raw) &&
          (fsm == nullptr || fsm->GetPageUsageFromPFS(p))) {
        TNRDSmallRecordPage rp(raw, FDiskRecordBufferSize, FMaxRecordsOnPage);
        const std::int64_t n = rp.GetRecordCount();
        if (n > 0) {
          FRecordPageIndex->AddRecord(sessionID, p, static_cast<std::int32_t>(n));
          FRecordCount += n;
        }
      }
    } catch (const std::exception&) {
    }
    try {
      LPageManager->PutPage(raw);
    } catch (...) {
    }
  }
}

void TNRDDiskRecordManager::ValidateRecordPageIndex(std::int32_t sessionID) {
  FRecordPageIndex->Validate(sessionID, static_cast<std::int64_t>(static_cast<std::uint32_t>(FRecordCount)));
}

}  // namespace nrd
