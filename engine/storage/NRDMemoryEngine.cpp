// The memory engine: page manager, record manager, table and database objects of "MEMORY".
#include "engine/storage/NRDMemoryEngine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDStreams.h"
#include "engine/storage/NRDConstraints.h"
#include "engine/storage/NRDCursor.h"
#include "engine/storage/NRDEngineShared.h"
#include "engine/storage/NRDFieldManager.h"
#include "engine/storage/NRDIndexManager.h"

namespace nrd {

namespace {
constexpr std::int32_t kMemoryPageSize = 4096;
constexpr std::int64_t kBlobBlockHeader = 12;  // NumBlocks i32, UncompressedSize i64

std::int64_t FlagBytes(std::int64_t slots) { return (slots + 7) / 8; }
}  // namespace

// ----- page manager -------------------------------------------------------------------------------
TNRDMemoryPageManager::TNRDMemoryPageManager() {
  SetPageSizes(kMemoryPageSize, 0);
  // Pages are borrowed views of blocks that live as long as the manager, so a page missing from the
  // cache costs only a lookup; the cache stays small because every apply of a change looks through
  // it (an unbounded cache made each insert cost the size of the table's indexes).
  FCacheCapacity = 64;
}

TNRDMemoryPageManager::~TNRDMemoryPageManager() {
  // The base frees the page objects; their buffers are borrowed, the blocks are freed here after.
  FreeBlocks();
}

void TNRDMemoryPageManager::FreeBlocks() {
  for (std::uint8_t*& p : FDataPtrs)
    if (p != nullptr) GlobalMemoryManager().FreeAndNillMem(p);
  FDataPtrs.clear();
}

bool TNRDMemoryPageManager::IsPageAllocated(std::int32_t pageNo) const {
  return pageNo >= 0 && pageNo < FAllocatedPageMap.Size() && FAllocatedPageMap.GetBit(pageNo);
}

void TNRDMemoryPageManager::InternalAddPage(TNRDPage* page) {
  std::int32_t pageNo = -1;
  if (!FAllocatedPageMap.FindBit(false, pageNo)) {
    pageNo = FPageCount == 0 && LastAllocatedPageNo_ < 0 ? 0 : LastAllocatedPageNo_ + 1;
    if (pageNo >= FAllocatedPageMap.Size()) {
      FAllocatedPageCount = FAllocatedPageMap.Size() + FAllocateBy;
      if (FAllocatedPageCount <= pageNo) FAllocatedPageCount = pageNo + 1;
      FAllocatedPageMap.SetSize(FAllocatedPageCount);
    }
  }
  ++FPageCount;
  if (FAllocatedPageMap.GetBit(pageNo)) {
    --FPageCount;
    throw ENRDException(20037, "Page allocation not released");
  }
  FAllocatedPageMap.SetBit(pageNo, true);
  if (pageNo > LastAllocatedPageNo_) LastAllocatedPageNo_ = pageNo;
  if (static_cast<std::int32_t>(FDataPtrs.size()) <= pageNo) {
    const std::size_t newLength = std::max<std::size_t>(pageNo + 1, FDataPtrs.size() + 50);
    const std::size_t old = FDataPtrs.size();
    FDataPtrs.resize(newLength, nullptr);
    for (std::size_t i = old; i < newLength; ++i)
      FDataPtrs[i] = static_cast<std::uint8_t*>(GlobalMemoryManager().AllocMem(FPageSize));
  }
  std::uint8_t* block = FDataPtrs[static_cast<std::size_t>(pageNo)];
  // A reused page starts clean, as a new one would.
  std::memset(block, 0, FPageSize);
  page->SetPageNo(pageNo);
  page->SetPageBuffer(block, false);
}

void TNRDMemoryPageManager::InternalRemovePage(std::int32_t pageNo) {
  if (!IsPageAllocated(pageNo)) return;
  --FPageCount;
  FAllocatedPageMap.SetBit(pageNo, false);
}

bool TNRDMemoryPageManager::InternalReadPage(TNRDPage* page) {
  if (!IsPageAllocated(page->PageNo())) throw ENRDException(10392, "Page allocation not released");
  page->SetPageBuffer(FDataPtrs[static_cast<std::size_t>(page->PageNo())], false);
  return true;
}

void TNRDMemoryPageManager::InternalWritePage(TNRDPage* page) {
  if (!IsPageAllocated(page->PageNo())) throw ENRDException(10393, "Page allocation not released");
  std::uint8_t* block = FDataPtrs[static_cast<std::size_t>(page->PageNo())];
  if (page->OwnBuffer() && page->PageBuffer() != block) std::memcpy(block, page->PageBuffer(), FPageSize);
}

namespace {
void WriteI32(TStream& s, std::int32_t v, int code) {
  std::uint8_t b[4];
  PutLE32(b, static_cast<std::uint32_t>(v));
  WriteDataToStream(b, 4, s, code);
}
void WriteU16(TStream& s, std::uint16_t v, int code) {
  std::uint8_t b[2];
  PutLE16(b, v);
  WriteDataToStream(b, 2, s, code);
}
std::int32_t ReadI32(TStream& s, int code) {
  std::uint8_t b[4];
  ReadDataFromStream(b, 4, s, code);
  return static_cast<std::int32_t>(GetLE32(b));
}
std::uint16_t ReadU16(TStream& s, int code) {
  std::uint8_t b[2];
  ReadDataFromStream(b, 2, s, code);
  return GetLE16(b);
}
}  // namespace

void TNRDMemoryPageManager::SaveToStream(TNRDStream& stream) {
  WriteI32(stream, FAllocatedPageCount, 10362);
  WriteI32(stream, LastAllocatedPageNo_, 10363);
  WriteI32(stream, FAllocateBy, 10364);
  WriteU16(stream, FPageSize, 10365);
  WriteU16(stream, FPageHeaderSize, 10366);
  WriteI32(stream, FPageCount, 10367);
  FAllocatedPageMap.SaveToStream(stream);
  static const std::vector<std::uint8_t> zero(kMemoryPageSize, 0);
  for (std::int32_t i = 0; i < FAllocatedPageCount; ++i) {
    const std::uint8_t* block = i < static_cast<std::int32_t>(FDataPtrs.size()) ? FDataPtrs[i] : zero.data();
    WriteDataToStream(block, FPageSize, stream, 10368);
  }
}

void TNRDMemoryPageManager::LoadFromStream(TNRDStream& stream) {
  const std::int32_t allocated = ReadI32(stream, 10369);
  const std::int32_t last = ReadI32(stream, 10370);
  const std::int32_t allocateBy = ReadI32(stream, 10371);
  const std::uint16_t pageSize = ReadU16(stream, 10372);
  const std::uint16_t headerSize = ReadU16(stream, 10373);
  const std::int32_t pageCount = ReadI32(stream, 10374);
  // A stream that does not describe pages of this manager is refused before anything changes.
  if (allocated < 0 || pageSize != kMemoryPageSize || headerSize != 0 || pageCount < 0 || pageCount > allocated ||
      last >= allocated || allocateBy < 1 ||
      static_cast<std::int64_t>(allocated) * pageSize > stream.Size() - stream.Position())
    throw ENRDException(10375, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                        {static_cast<std::int64_t>(stream.Position()), static_cast<std::int64_t>(stream.Size()),
                         static_cast<std::int64_t>(pageSize), static_cast<std::int64_t>(0)});
  TNRDBitsArray map;
  map.LoadFromStream(stream);
  std::vector<std::uint8_t*> blocks;
  try {
    for (std::int32_t i = 0; i < allocated; ++i) {
      blocks.push_back(static_cast<std::uint8_t*>(GlobalMemoryManager().AllocMem(kMemoryPageSize)));
      ReadDataFromStream(blocks.back(), kMemoryPageSize, stream, 10375);
    }
  } catch (...) {
    for (std::uint8_t*& p : blocks) GlobalMemoryManager().FreeAndNillMem(p);
    throw;
  }
  DropUnusedSharedPages();
  FreeBlocks();
  FDataPtrs = std::move(blocks);
  FAllocatedPageCount = allocated;
  LastAllocatedPageNo_ = last;
  FAllocateBy = allocateBy;
  FPageCount = pageCount;
  FAllocatedPageMap.SetSize(0);
  FAllocatedPageMap.SetSize(map.Size());
  for (std::int32_t i = 0; i < map.Size(); ++i)
    if (map.GetBit(i)) FAllocatedPageMap.SetBit(i, true);
}

// ----- record manager -----------------------------------------------------------------------------
TNRDMemoryRecordManager::TNRDMemoryRecordManager(std::int32_t recordBufferSize, std::int32_t allocRecordsBy)
    : FAllocRecordsBy(allocRecordsBy > 0 ? allocRecordsBy : 1000) {
  if (recordBufferSize <= 0) throw ENRDException(10011, "Invalid record size = %d", {recordBufferSize});
  FRecordBufferSize = recordBufferSize;
  for (int b = 0; b < 256; ++b) {
    int zeros = 0;
    for (int i = 0; i < 8; ++i)
      if ((b & (1 << i)) == 0) ++zeros;
    FBitsTable[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(zeros);
  }
}

TNRDMemoryRecordManager::~TNRDMemoryRecordManager() { Empty(-2); }

void TNRDMemoryRecordManager::Empty(std::int32_t) {
  if (FRecordBuffer != nullptr) GlobalMemoryManager().FreeAndNillMem(FRecordBuffer);
  if (FDeleteFlagBuffer != nullptr) GlobalMemoryManager().FreeAndNillMem(FDeleteFlagBuffer);
  FAllocatedRecordCount = 0;
  FRecordCount = 0;
  FFirstRecordID = 0;
  FLastRecordID = 0;
  FNoRecordsDeleted = true;
}

bool TNRDMemoryRecordManager::IsSlotDeleted(std::int64_t slot) const {
  return (FDeleteFlagBuffer[slot >> 3] >> (slot & 7)) & 1;
}

bool TNRDMemoryRecordManager::Grow() {
  // The block grows by half its slots (at least the step): a growth copies every record, so a
  // fixed step would make appending quadratic. Near the block's 2^31 - 1 bytes it takes what fits.
  constexpr std::int64_t kMaxBytes = 2147483647LL;
  std::int64_t newCount = FAllocatedRecordCount + std::max<std::int64_t>(FAllocRecordsBy, FAllocatedRecordCount / 2);
  if (newCount * FRecordBufferSize > kMaxBytes) newCount = kMaxBytes / FRecordBufferSize;
  if (newCount <= FAllocatedRecordCount) return false;
  const std::int64_t bytes = newCount * FRecordBufferSize;
  if (FRecordBuffer == nullptr) {
    FRecordBuffer = static_cast<std::uint8_t*>(GlobalMemoryManager().GetMem(bytes));
    FDeleteFlagBuffer = static_cast<std::uint8_t*>(GlobalMemoryManager().AllocMem(FlagBytes(newCount)));
  } else {
    GlobalMemoryManager().ReallocMem(FRecordBuffer, bytes, false);
    GlobalMemoryManager().ReallocMem(FDeleteFlagBuffer, FlagBytes(newCount), true);
  }
  FAllocatedRecordCount = newCount;
  return true;
}

bool TNRDMemoryRecordManager::AddRecord(std::int32_t, void* recordBuffer, TNRDPageItemID& recordID) {
  try {
    const std::int64_t slot = FRecordCount == 0 ? 0 : FLastRecordID + 1;
    if (slot > 0x7FFFFFFF) return false;  // a record ID holds 32 bits of slot number
    if (slot >= FAllocatedRecordCount && !Grow()) return false;
    std::memcpy(Slot(slot), recordBuffer, static_cast<std::size_t>(FRecordBufferSize));
    FDeleteFlagBuffer[slot >> 3] = static_cast<std::uint8_t>(FDeleteFlagBuffer[slot >> 3] & ~(1u << (slot & 7)));
    if (FRecordCount == 0) {
      FFirstRecordID = slot;
      FLastRecordID = slot;
    } else {
      if (slot < FFirstRecordID) FFirstRecordID = slot;
      if (slot > FLastRecordID) FLastRecordID = slot;
    }
    ++FRecordCount;
    ++FTableState;
    recordID.PageNo = static_cast<std::int32_t>(slot);
    recordID.PageItemNo = 0;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TNRDMemoryRecordManager::UpdateRecord(std::int32_t, void* recordBuffer, const TNRDPageItemID& recordID) {
  const std::int64_t slot = recordID.PageNo;
  if (FRecordCount == 0 || slot < FFirstRecordID || slot > FLastRecordID) return false;
  std::memcpy(Slot(slot), recordBuffer, static_cast<std::size_t>(FRecordBufferSize));
  ++FTableState;
  return true;
}

bool TNRDMemoryRecordManager::DeleteRecord(std::int32_t, TNRDPageItemID& recordID) {
  const std::int64_t slot = recordID.PageNo;
  if (FRecordCount == 0 || slot < FFirstRecordID || slot > FLastRecordID || IsSlotDeleted(slot)) return false;
  FDeleteFlagBuffer[slot >> 3] = static_cast<std::uint8_t>(FDeleteFlagBuffer[slot >> 3] | (1u << (slot & 7)));
  --FRecordCount;
  if (FRecordCount > 0) {
    if (slot == FFirstRecordID) {
      std::int64_t s = slot + 1;
      while (s <= FLastRecordID && IsSlotDeleted(s)) ++s;
      FFirstRecordID = s;
    }
    if (slot == FLastRecordID) {
      std::int64_t s = slot - 1;
      while (s >= FFirstRecordID && IsSlotDeleted(s)) --s;
      FLastRecordID = s;
      recordID.PageNo = static_cast<std::int32_t>(s);
    }
  } else {
    FFirstRecordID = 0;
    FLastRecordID = 0;
  }
  FNoRecordsDeleted = false;
  ++FTableState;
  return true;
}

void TNRDMemoryRecordManager::GetRecordBuffer(std::int32_t, TNRDNavigationInfo& nav) {
  std::int64_t slot = -1;
  TNRDGetRecordResult result = grrOK;
  if (FRecordCount == 0) {
    result = grrEOF;
  } else if (nav.FirstPosition) {
    if (nav.GetRecordMode == grmNext) slot = FFirstRecordID;
    else result = nav.GetRecordMode == grmPrior ? grrBOF : grrError;
  } else if (nav.LastPosition) {
    if (nav.GetRecordMode == grmPrior) slot = FLastRecordID;
    else result = nav.GetRecordMode == grmNext ? grrEOF : grrError;
  } else {
    const std::int64_t cur = nav.RecordID.PageNo;
    switch (nav.GetRecordMode) {
      case grmCurrent:
        if (cur < FFirstRecordID || cur > FLastRecordID || IsSlotDeleted(cur)) result = grrError;
        else slot = cur;
        break;
      case grmNext: {
        if (cur >= FAllocatedRecordCount - 1) {
          result = grrEOF;
          break;
        }
        std::int64_t s = cur < FFirstRecordID ? FFirstRecordID : cur + 1;
        while (s <= FLastRecordID && IsSlotDeleted(s)) ++s;
        if (s > FLastRecordID) result = grrEOF;
        else slot = s;
        break;
      }
      case grmPrior: {
        if (cur <= 0) {
          result = grrBOF;
          break;
        }
        std::int64_t s = cur > FLastRecordID ? FLastRecordID : cur - 1;
        while (s >= FFirstRecordID && IsSlotDeleted(s)) --s;
        if (s < FFirstRecordID) result = grrBOF;
        else slot = s;
        break;
      }
    }
  }
  nav.GetRecordResult = result;
  if (result != grrOK) return;
  if (nav.RecordBuffer != nullptr) {
    if (FRecordBuffer == nullptr) throw ENRDException(10019, "Error retrieving record");
    std::memcpy(nav.RecordBuffer, Slot(slot), static_cast<std::size_t>(FRecordBufferSize));
  }
  nav.RecordID.PageNo = static_cast<std::int32_t>(slot);
  nav.RecordID.PageItemNo = 0;
  nav.FirstPosition = false;
  nav.LastPosition = false;
}

std::int32_t TNRDMemoryRecordManager::CompareRecordID(const TNRDPageItemID& a, const TNRDPageItemID& b) {
  return a.PageNo < b.PageNo ? -1 : (a.PageNo > b.PageNo ? 1 : 0);
}

std::int64_t TNRDMemoryRecordManager::GetApproximateRecNo(std::int32_t, const TNRDPageItemID& recordID) {
  const std::int64_t slot = recordID.PageNo;
  if (FRecordCount == 0 || slot < FFirstRecordID || slot > FLastRecordID) return -1;
  if (FRecordCount == 1) return 1;
  const double v = static_cast<double>(slot - FFirstRecordID) / static_cast<double>(FRecordCount) *
                   static_cast<double>(FLastRecordID - FFirstRecordID);
  return static_cast<std::int64_t>(std::nearbyint(v)) + 1;
}

bool TNRDMemoryRecordManager::SlotOfRecNo(std::int64_t recNo, std::int64_t& slot) const {
  if (recNo < 1 || recNo > FRecordCount) return false;
  if (FNoRecordsDeleted) {
    slot = recNo - 1;
    return true;
  }
  // Whole flag bytes are skipped by their count of live slots.
  std::int64_t before = 0;
  std::int64_t byte = 0;
  const std::int64_t bytes = FlagBytes(FAllocatedRecordCount);
  for (; byte < bytes; ++byte) {
    const std::int64_t live = FBitsTable[FDeleteFlagBuffer[byte]];
    if (before + live >= recNo) break;
    before += live;
  }
  if (byte >= bytes) return false;
  for (int bit = 0; bit < 8; ++bit) {
    if ((FDeleteFlagBuffer[byte] >> bit) & 1) continue;
    if (++before == recNo) {
      slot = byte * 8 + bit;
      return slot < FAllocatedRecordCount;
    }
  }
  return false;
}

std::int64_t TNRDMemoryRecordManager::RecNoOfSlot(std::int64_t slot) const {
  if (slot < 0 || slot >= FAllocatedRecordCount) return -1;
  if (FNoRecordsDeleted) return slot + 1;
  std::int64_t count = 0;
  const std::int64_t fullBytes = (slot + 1) / 8;
  for (std::int64_t b = 0; b < fullBytes; ++b) count += FBitsTable[FDeleteFlagBuffer[b]];
  for (std::int64_t s = fullBytes * 8; s <= slot; ++s)
    if (!IsSlotDeleted(s)) ++count;
  return count;
}

// ----- table --------------------------------------------------------------------------------------
TNRDMemoryTableData::TNRDMemoryTableData(TNRDDatabaseData* databaseData, std::int32_t allocRecordsBy)
    : TNRDTableData(databaseData), FOwnPageManager(std::make_unique<TNRDMemoryPageManager>()),
      FAllocRecordsBy(allocRecordsBy) {
  FPageManager = FOwnPageManager.get();
  FDisableTempFiles = true;
}

TNRDMemoryTableData::~TNRDMemoryTableData() {
  try {
    if (FRecordManager && FFieldManager && FFieldManager->FFieldDefs.GetCount() > 0 &&
        FFieldManager->BlobFieldsPresent()) {
      TNRDMemoryRecordManager& rm = MemoryRecords();
      for (std::int64_t s = rm.FirstRecordID(); rm.FRecordCount > 0 && s <= rm.LastRecordID(); ++s)
        if (!rm.IsSlotDeleted(s)) FreeRecordBlobs(rm.Slot(s));
    }
    // Values written into buffers that were never stored nor cancelled.
    for (std::uint32_t h : FUnstoredBlobs)
      if (void* block = FHandles.Get(h)) {
        FHandles.Remove(h);
        GlobalMemoryManager().FreeMem(block);
      }
    FUnstoredBlobs.clear();
  } catch (...) {
  }
  // Index objects hold pages of the page manager: they go before it.
  FIndexManager.reset();
  FRecordManager.reset();
}

void TNRDMemoryTableData::CreateRecordManager() {
  FRecordManager = std::make_unique<TNRDMemoryRecordManager>(GetRecordBufferSize(), FAllocRecordsBy);
}

void TNRDMemoryTableData::InitFieldManager(TNRDFieldDefs& fieldDefs) { TNRDTableData::InitFieldManager(fieldDefs); }

void TNRDMemoryTableData::InitIndexManager(TNRDIndexDefs& indexDefs) {
  TNRDTableDataLock lock(*this);
  if (!FIndexManager) FIndexManager = std::make_unique<TNRDBaseIndexManager>(this, nullptr);
  FIndexManager->FPageManager = FPageManager;
  // A session's temporary index (a sort or DISTINCT no index serves) lives on the same pages.
  FIndexManager->FTemporaryPageManager = FPageManager;
  TNRDTableData::InitIndexManager(indexDefs);
}

void TNRDMemoryTableData::InitConstraintManager(TNRDConstraintDefs& constraintDefs) {
  TNRDTableData::InitConstraintManager(constraintDefs);
}

void TNRDMemoryTableData::CreateTable(TNRDCursor* cursor, const TNRDFieldDefs& fieldDefs,
                                      const TNRDIndexDefs& indexDefs, const TNRDConstraintDefs& constraintDefs) {
  TNRDTableDataLock lock(*this);
  if (fieldDefs.GetCount() == 0) throw ENRDException(10025, "Error creating table - no fields were specified");
  if (cursor != nullptr) FTableName = cursor->TableName();
  InitManagers(fieldDefs, indexDefs, constraintDefs);
  if (cursor != nullptr) InitCursorRecordSize(*cursor);
  FIndexManager->CreateIndexesByIndexDefs(cursor);
  ApplyChanges(CursorSession(cursor), CursorInTransaction(cursor));
}

void TNRDMemoryTableData::DeleteTable(TNRDCursor* cursor, bool designMode) {
  {
    TNRDTableDataLock lock(*this);
    TNRDTableData::DeleteTable(cursor, designMode);
    if (designMode && !FCursorList.empty()) return;
  }
  delete this;
}

void TNRDMemoryTableData::EmptyTable(TNRDCursor*) {
  TNRDTableDataLock lock(*this);
  TNRDTableData::EmptyTable(nullptr);
  if (FRecordManager) {
    TNRDMemoryRecordManager& rm = MemoryRecords();
    if (FFieldManager->BlobFieldsPresent() && rm.FRecordCount > 0)
      for (std::int64_t s = rm.FirstRecordID(); s <= rm.LastRecordID(); ++s)
        if (!rm.IsSlotDeleted(s)) FreeRecordBlobs(rm.Slot(s));
    rm.Empty(-2);
  }
  FPageManager->ApplyChanges(-2);
}

void TNRDMemoryTableData::OpenTable(TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  if (cursor != nullptr && FTableName.empty()) FTableName = cursor->TableName();
  TNRDTableData::OpenTable(cursor);
}

void TNRDMemoryTableData::CloseTable(TNRDCursor* cursor) { TNRDTableData::CloseTable(cursor); }

std::int32_t TNRDMemoryTableData::AddIndex(TNRDIndexDef& indexDef, TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  const std::int32_t id = TNRDTableData::AddIndex(indexDef, cursor);
  ApplyChanges(CursorSession(cursor), CursorInTransaction(cursor));
  return id;
}

void TNRDMemoryTableData::DeleteIndex(std::int32_t indexID, TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  TNRDTableData::DeleteIndex(indexID, cursor);
  ApplyChanges(CursorSession(cursor), CursorInTransaction(cursor));
}

std::int64_t TNRDMemoryTableData::GetBitmapRecordCount(std::int32_t) {
  return FRecordManager ? FRecordManager->FRecordCount : 0;
}
std::int64_t TNRDMemoryTableData::RecordIDToBitmapRecNo(const TNRDPageItemID& recordID) { return recordID.PageNo; }
TNRDPageItemID TNRDMemoryTableData::BitmapRecNoToRecordID(std::int64_t bitNo) {
  TNRDPageItemID id;
  id.PageNo = static_cast<std::int32_t>(bitNo);
  return id;
}

std::uint32_t TNRDMemoryTableData::GetHandle(const void* recordBuffer, std::int32_t fieldNo) const {
  const TNRDFieldDef* f = FFieldManager->FFieldDefs.GetFieldDef(fieldNo);
  std::uint32_t h;
  std::memcpy(&h, static_cast<const std::uint8_t*>(recordBuffer) + f->FMemoryOffset + f->FMemoryDataSize - 4, 4);
  return h;
}

void TNRDMemoryTableData::SetHandle(void* recordBuffer, std::int32_t fieldNo, std::uint32_t handle) const {
  const TNRDFieldDef* f = FFieldManager->FFieldDefs.GetFieldDef(fieldNo);
  std::memcpy(static_cast<std::uint8_t*>(recordBuffer) + f->FMemoryOffset + f->FMemoryDataSize - 4, &handle, 4);
}

std::uint8_t* TNRDMemoryTableData::BlobBlock(const void* recordBuffer, std::int32_t fieldNo) {
  if (IsFieldNull(recordBuffer, fieldNo)) return nullptr;
  return static_cast<std::uint8_t*>(FHandles.Get(GetHandle(recordBuffer, fieldNo)));
}

void TNRDMemoryTableData::FreeRecordBlobs(void* recordBuffer) {
  const TNRDFieldDefs& defs = FFieldManager->FFieldDefs;
  for (std::int32_t i = 0; i < defs.GetCount(); ++i)
    // A handle whose block is already gone is skipped.
    if (defs.GetFieldDef(i)->IsBlob() && BlobBlock(recordBuffer, i) != nullptr)
      ClearBLOBFieldInRecordBuffer(recordBuffer, i);
}

void TNRDMemoryTableData::ClearBLOBFieldInRecordBuffer(void* recordBuffer, std::int32_t fieldNo) {
  TNRDTableDataLock lock(*this);
  if (!FFieldManager || !FFieldManager->BlobFieldsPresent() || IsFieldNull(recordBuffer, fieldNo)) return;
  const std::uint32_t h = GetHandle(recordBuffer, fieldNo);
  void* block = FHandles.Get(h);
  if (block == nullptr) throw ENRDException(10118, "Nil pointer occured");
  FHandles.Remove(h);
  FUnstoredBlobs.erase(h);
  GlobalMemoryManager().FreeMem(block);
  SetHandle(recordBuffer, fieldNo, 0);
  SetFieldNull(recordBuffer, fieldNo, true);
}

void TNRDMemoryTableData::SetUnstoredBlob(void* recordBuffer, std::int32_t fieldNo, void* block) {
  const std::uint32_t h = FHandles.Add(block);
  FUnstoredBlobs.insert(h);
  SetHandle(recordBuffer, fieldNo, h);
  SetFieldNull(recordBuffer, fieldNo, false);
}

void TNRDMemoryTableData::DropBufferBlob(void* recordBuffer, std::int32_t fieldNo) {
  if (!IsFieldNull(recordBuffer, fieldNo)) {
    const std::uint32_t h = GetHandle(recordBuffer, fieldNo);
    if (FUnstoredBlobs.count(h) != 0 && FHandles.Get(h) != nullptr) ClearBLOBFieldInRecordBuffer(recordBuffer, fieldNo);
  }
  SetHandle(recordBuffer, fieldNo, 0);
  SetFieldNull(recordBuffer, fieldNo, true);
}

void TNRDMemoryTableData::MarkBlobsStored(const void* recordBuffer) {
  if (FUnstoredBlobs.empty()) return;
  const TNRDFieldDefs& defs = FFieldManager->FFieldDefs;
  for (std::int32_t i = 0; i < defs.GetCount(); ++i)
    if (defs.GetFieldDef(i)->IsBlob() && !IsFieldNull(recordBuffer, i)) FUnstoredBlobs.erase(GetHandle(recordBuffer, i));
}

void TNRDMemoryTableData::ClearBlobsCacheInRecordBuffer(void* buffer) {
  TNRDTableDataLock lock(*this);
  if (buffer == nullptr || FUnstoredBlobs.empty() || !FFieldManager || !FFieldManager->BlobFieldsPresent()) return;
  const TNRDFieldDefs& defs = FFieldManager->FFieldDefs;
  for (std::int32_t i = 0; i < defs.GetCount(); ++i)
    if (defs.GetFieldDef(i)->IsBlob() && !IsFieldNull(buffer, i) && FUnstoredBlobs.count(GetHandle(buffer, i)) != 0)
      DropBufferBlob(buffer, i);
}

void TNRDMemoryTableData::WriteBLOBFieldToRecordBuffer(TNRDCursor* cursor, std::int32_t fieldNo,
                                                       TNRDStream* blobStream) {
  TNRDTableDataLock lock(*this);
  if (!BLOBStreamModified(blobStream)) return;
  TNRDCompressedBLOBStream* c = CompressedStreamOf(blobStream);
  if (c == nullptr) throw ENRDException(10117, "Nil pointer occured");
  void* record = cursor->CurrentRecordBuffer();
  if (c->Size() == 0) {
    DropBufferBlob(record, fieldNo);
    return;
  }
  TStream& host = c->CompressedStream();
  const std::int64_t compressed = host.Size();
  auto* block = static_cast<std::uint8_t*>(GlobalMemoryManager().GetMem(compressed + kBlobBlockHeader));
  try {
    PutLE32(block, static_cast<std::uint32_t>(c->BLOBDescriptor().NumBlocks));
    PutLE64(block + 4, static_cast<std::uint64_t>(c->BLOBDescriptor().UncompressedSize));
    const std::int64_t keep = host.Position();
    host.SetPosition(0);
    const std::int32_t got = host.Read(block + kBlobBlockHeader, static_cast<std::int32_t>(compressed));
    host.SetPosition(keep);
    if (got != compressed)
      throw ENRDException(10117,
                          "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                          {static_cast<std::int64_t>(0), compressed, compressed, static_cast<std::int64_t>(got)});
  } catch (...) {
    GlobalMemoryManager().FreeMem(block);
    throw;
  }
  DropBufferBlob(record, fieldNo);
  SetUnstoredBlob(record, fieldNo, block);
}

TNRDStream* TNRDMemoryTableData::InternalCreateBlobStream(TNRDCursor* cursor, bool toInsert, std::int32_t fieldNo,
                                                          TNRDBLOBOpenMode openMode) {
  TNRDTableDataLock lock(*this);
  TNRDBLOBDescriptor d = BLOBDescriptorForField(*FFieldManager->FFieldDefs.GetFieldDef(fieldNo), 10420);
  auto host = std::make_unique<TNRDTemporaryStream>(FDisableTempFiles);
  void* record = cursor != nullptr ? cursor->CurrentRecordBuffer() : nullptr;
  const bool create = toInsert || openMode == bomWrite || record == nullptr || IsFieldNull(record, fieldNo);
  if (!create) {
    const std::uint8_t* block = BlobBlock(record, fieldNo);
    if (block == nullptr) throw ENRDException(10112, "Nil pointer occured");
    d.NumBlocks = static_cast<std::int32_t>(GetLE32(block));
    d.UncompressedSize = static_cast<std::int64_t>(GetLE64(block + 4));
    const std::int64_t compressed = GlobalMemoryManager().GetMemoryBufferSize(block) - kBlobBlockHeader;
    WriteDataToStream(block + kBlobBlockHeader, static_cast<std::int32_t>(compressed), *host, 10112);
  }
  return new TNRDEngineBLOBStream(std::move(host), d, create, cursor, fieldNo, openMode);
}

void TNRDMemoryTableData::GetDirectBlobData(TNRDCursor*, std::int32_t fieldNo, void* recordBuffer,
                                            TNRDBLOBDescriptor& d, void*& pBlobData) {
  TNRDTableDataLock lock(*this);
  d = TNRDBLOBDescriptor{};
  pBlobData = nullptr;
  if (IsFieldNull(recordBuffer, fieldNo)) return;
  const std::uint8_t* block = BlobBlock(recordBuffer, fieldNo);
  if (block == nullptr) throw ENRDException(10511, "Nil pointer occured");
  const std::int64_t compressed = GlobalMemoryManager().GetMemoryBufferSize(block) - kBlobBlockHeader;
  d.NumBlocks = static_cast<std::int32_t>(GetLE32(block));
  d.UncompressedSize = static_cast<std::int64_t>(GetLE64(block + 4));
  d.StartPosition = compressed;  // the compressed size travels in the descriptor's position
  if (compressed > 0) {
    pBlobData = GlobalMemoryManager().GetMem(compressed);
    std::memcpy(pBlobData, block + kBlobBlockHeader, static_cast<std::size_t>(compressed));
  }
}

void TNRDMemoryTableData::SetDirectBlobData(TNRDCursor*, std::int32_t fieldNo, void* recordBuffer,
                                            TNRDBLOBDescriptor& d, void*& pBlobData) {
  TNRDTableDataLock lock(*this);
  const std::int64_t compressed = d.StartPosition;
  if (compressed <= 0 || pBlobData == nullptr) {
    DropBufferBlob(recordBuffer, fieldNo);
    return;
  }
  auto* block = static_cast<std::uint8_t*>(GlobalMemoryManager().GetMem(compressed + kBlobBlockHeader));
  PutLE32(block, static_cast<std::uint32_t>(d.NumBlocks));
  PutLE64(block + 4, static_cast<std::uint64_t>(d.UncompressedSize));
  std::memcpy(block + kBlobBlockHeader, pBlobData, static_cast<std::size_t>(compressed));
  DropBufferBlob(recordBuffer, fieldNo);
  SetUnstoredBlob(recordBuffer, fieldNo, block);
}

void TNRDMemoryTableData::FreeDirectBlobData(TNRDCursor*, std::int32_t, void*, TNRDBLOBDescriptor&,
                                             void*& pBlobData) {
  if (pBlobData != nullptr) GlobalMemoryManager().FreeAndNillMem(pBlobData);
}

bool TNRDMemoryTableData::InsertRecord(TNRDCursor*& cursor) {
  TNRDTableDataLock lock(*this);
  if (!FRecordManager) throw ENRDException(10010, "Nil pointer occured");
  if (cursor == nullptr || cursor->CurrentRecordBuffer() == nullptr) throw ENRDException(10018, "Nil pointer occured");
  TNRDPageItemID added = cursor->CurrentRecord();
  const bool stored = FRecordManager->AddRecord(cursor->SessionID(), cursor->CurrentRecordBuffer(), added);
  cursor->SetCurrentRecord(added);
  if (!stored) return false;
  MarkBlobsStored(cursor->CurrentRecordBuffer());
  ShowOrHideInBitmap(cursor, cursor->CurrentRecord());
  FIndexManager->InsertRecord(cursor);
  cursor->MoveToRecord(cursor->CurrentRecord());
  ApplyChanges(cursor->SessionID(), CursorInTransaction(cursor));
  return true;
}

bool TNRDMemoryTableData::DeleteRecord(TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  if (!FRecordManager) throw ENRDException(10013, "Nil pointer occured");
  TNRDMemoryRecordManager& rm = MemoryRecords();
  const TNRDPageItemID deleted = cursor->CurrentRecord();
  TNRDNavigationInfo probe;
  probe.GetRecordMode = grmCurrent;
  probe.RecordID = deleted;
  rm.GetRecordBuffer(cursor->SessionID(), probe);
  if (probe.GetRecordResult != grrOK) return false;
  TNRDPageItemID place;
  const bool found = FindPlaceAfterDelete(*this, cursor, place);
  // The stored record owns the BLOB blocks; the cursor's buffer is a copy of it.
  FIndexManager->DeleteRecord(cursor);
  const std::int32_t oldState = rm.FTableState;
  std::uint8_t* stored = rm.Slot(deleted.PageNo);
  TNRDPageItemID id = deleted;
  if (!rm.DeleteRecord(cursor->SessionID(), id)) return false;
  if (FFieldManager->BlobFieldsPresent()) FreeRecordBlobs(stored);
  PlaceCursorAfterDelete(cursor, deleted, found, place, oldState, rm.FTableState);
  ApplyChanges(cursor->SessionID(), CursorInTransaction(cursor));
  return true;
}

bool TNRDMemoryTableData::UpdateRecord(TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  if (!FRecordManager) throw ENRDException(10014, "Nil pointer occured");
  if (cursor == nullptr || cursor->CurrentRecordBuffer() == nullptr) throw ENRDException(10017, "Nil pointer occured");
  // The blocks the stored record owns now; those the new values no longer name go once it is stored.
  std::vector<std::uint32_t> replaced;
  TNRDMemoryRecordManager& rm = MemoryRecords();
  const std::int64_t slot = cursor->CurrentRecord().PageNo;
  if (FFieldManager->BlobFieldsPresent() && rm.FRecordCount > 0 && slot >= rm.FirstRecordID() &&
      slot <= rm.LastRecordID() && !rm.IsSlotDeleted(slot)) {
    const std::uint8_t* stored = rm.Slot(slot);
    const TNRDFieldDefs& defs = FFieldManager->FFieldDefs;
    for (std::int32_t i = 0; i < defs.GetCount(); ++i) {
      if (!defs.GetFieldDef(i)->IsBlob() || IsFieldNull(stored, i)) continue;
      const std::uint32_t old = GetHandle(stored, i);
      if (IsFieldNull(cursor->CurrentRecordBuffer(), i) || GetHandle(cursor->CurrentRecordBuffer(), i) != old)
        replaced.push_back(old);
    }
  }
  FIndexManager->UpdateRecord(cursor, true);
  if (!FRecordManager->UpdateRecord(cursor->SessionID(), cursor->CurrentRecordBuffer(), cursor->CurrentRecord()))
    return false;
  MarkBlobsStored(cursor->CurrentRecordBuffer());
  for (std::uint32_t h : replaced)
    if (void* block = FHandles.Get(h)) {
      FHandles.Remove(h);
      GlobalMemoryManager().FreeMem(block);
    }
  FIndexManager->UpdateRecord(cursor, false);
  ShowOrHideInBitmap(cursor, cursor->CurrentRecord());
  ApplyChanges(cursor->SessionID(), CursorInTransaction(cursor));
  return true;
}

void TNRDMemoryTableData::InternalSetRecNo(TNRDCursor* cursor, std::int64_t recNo) {
  TNRDTableDataLock lock(*this);
  if (!FRecordManager) throw ENRDException(10074, "Nil pointer occured");
  std::int64_t slot = 0;
  if (!MemoryRecords().SlotOfRecNo(recNo, slot)) return;
  cursor->SetCurrentRecord(TNRDPageItemID{static_cast<std::int32_t>(slot), 0});
}

std::int64_t TNRDMemoryTableData::InternalGetRecNo(TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  if (!FRecordManager) throw ENRDException(10033, "Nil pointer occured");
  return MemoryRecords().RecNoOfSlot(cursor->CurrentRecord().PageNo);
}

std::int64_t TNRDMemoryTableData::InternalGetRecordCount(TNRDCursor*) {
  TNRDTableDataLock lock(*this);
  if (!FRecordManager) throw ENRDException(10009, "Nil pointer occured");
  return FRecordManager->FRecordCount;
}

std::int64_t TNRDMemoryTableData::LastAutoincValue(std::int32_t fieldNo, TNRDBaseSession* session) {
  TNRDTableDataLock lock(*this);
  return FFieldManager->GetLastAutoinc(session, fieldNo);
}

// ----- database -----------------------------------------------------------------------------------
TNRDMemoryDatabaseData::TNRDMemoryDatabaseData() { FDatabaseName = "MEMORY"; }

TNRDMemoryDatabaseData::~TNRDMemoryDatabaseData() {
  while (!Tables().empty()) {
    TNRDTableData* t = Tables().back();
    if (t == nullptr) break;
    try {
      t->DeleteTable(nullptr, false);  // frees the table, which leaves the list
    } catch (...) {
      delete t;  // still open by a cursor: the database goes all the same
    }
  }
}

void TNRDMemoryDatabaseData::ConnectSession(TNRDBaseSession* session) { TNRDDatabaseData::ConnectSession(session); }

TNRDTableData* TNRDMemoryDatabaseData::CreateTableData(TNRDCursor* cursor) {
  TNRDDatabaseLock lock(*this);
  auto* t = new TNRDMemoryTableData(this, 1000);
  if (cursor != nullptr) t->FTableName = cursor->TableName();
  return t;
}

std::int32_t TNRDMemoryDatabaseData::GetNewObjectId() {
  TNRDDatabaseLock lock(*this);
  return ++FLastObjectID;
}

}  // namespace nrd
