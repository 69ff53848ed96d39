// The temporary engine: record manager, page manager, table and database objects of "TEMP".
#include "engine/storage/NRDTempEngine.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/storage/NRDConstraints.h"
#include "engine/storage/NRDCursor.h"
#include "engine/storage/NRDEngineShared.h"
#include "engine/storage/NRDFieldManager.h"
#include "engine/storage/NRDIndexManager.h"

namespace nrd {

namespace {
constexpr std::int32_t kTempPageSize = 4096;
constexpr std::int64_t kMaxBlock = 2147483647LL;  // the memory manager's largest block
constexpr std::int32_t kPartialDescriptorSize = 20;

std::string PositionText() {
  return "Cannot set stream position to %d. Position = %d, Size = %d";
}
void SeekOrRaise(TStream& s, std::int64_t position, int code) {
  if (s.Seek(position, TSeekOrigin::soBeginning) != position)
    throw ENRDException(code, PositionText(), {position, static_cast<std::int64_t>(s.Position()), s.Size()});
}
}  // namespace

TNRDPageItemID TemporaryRecordID(std::int64_t recordNo) {
  std::uint8_t b[8];
  PutLE64(b, static_cast<std::uint64_t>(recordNo));
  return TNRDPageItemID::Decode(b);
}

std::int64_t TemporaryRecordNo(const TNRDPageItemID& recordID) {
  std::uint8_t b[8] = {0};
  recordID.Encode(b);
  return static_cast<std::int64_t>(GetLE64(b));
}

std::int64_t TemporaryMemoryBudget() { return GlobalMemoryManager().GetFreeMemorySize() / 10; }

// ----- record manager -----------------------------------------------------------------------------
TNRDTemporaryRecordManager::TNRDTemporaryRecordManager(std::int32_t recordBufferSize, std::int32_t recordsPerPage,
                                                       std::int32_t allocRecordsBy, bool disableTempFiles,
                                                       std::int64_t maxCachedRecordCount)
    : FRecordsPerPage(recordsPerPage > 0 ? recordsPerPage : 1),
      FAllocRecordsBy(allocRecordsBy > 0 ? allocRecordsBy : 1000),
      FDisableTempFiles(disableTempFiles) {
  if (recordBufferSize <= 0) throw ENRDException(10124, "Invalid record size = %d", {recordBufferSize});
  FRecordBufferSize = recordBufferSize;
  FPageSize = static_cast<std::int64_t>(FRecordsPerPage) * recordBufferSize;
  // The budget is kept to what one cache block can hold.
  const std::int64_t budget = maxCachedRecordCount >= 0 ? maxCachedRecordCount : TemporaryMemoryBudget() / recordBufferSize;
  FMaxCachedRecordCount = std::min(budget, kMaxBlock / recordBufferSize);
  if (FPageSize > kMaxBlock) throw ENRDException(10124, "Invalid record size = %d", {recordBufferSize});
  FTempPage = static_cast<std::uint8_t*>(GlobalMemoryManager().GetMem(FPageSize));
}

TNRDTemporaryRecordManager::~TNRDTemporaryRecordManager() {
  Empty(-2);
  if (FTempPage != nullptr) GlobalMemoryManager().FreeAndNillMem(FTempPage);
}

void TNRDTemporaryRecordManager::Empty(std::int32_t) {
  FRecordCount = 0;
  FCachedRecordCount = 0;
  FAllocatedRecordCount = 0;
  FTempPageRecordCount = 0;
  if (FCache != nullptr) GlobalMemoryManager().FreeAndNillMem(FCache);
  FTempPageFile.reset();
}

void TNRDTemporaryRecordManager::FlushWriteBuffer() {
  if (FTempPageRecordCount == 0) return;
  if (FTempPageRecordCount > FRecordsPerPage)
    throw ENRDException(10126, "Invalid record count = %d. Limit is %d", {FTempPageRecordCount, FRecordsPerPage});
  const std::int64_t position = (FRecordCount - FMaxCachedRecordCount - FTempPageRecordCount) * FRecordBufferSize;
  SeekOrRaise(*FTempPageFile, position, 10128);
  const std::int32_t bytes = FTempPageRecordCount * FRecordBufferSize;
  if (FTempPageFile->Write(FTempPage, bytes) != bytes) throw ENRDException(10125, "Error writing to stream");
  FTempPageRecordCount = 0;
}

bool TNRDTemporaryRecordManager::AddRecord(std::int32_t, void* recordBuffer, TNRDPageItemID& recordID) {
  try {
    bool toCache = FCachedRecordCount < FAllocatedRecordCount;
    if (!toCache && (FDisableTempFiles || FCachedRecordCount < FMaxCachedRecordCount)) {
      // The cache grows by half of what it holds, at least by the growth step: a growth by the step
      // alone copies the whole cache at every step, quadratic in the records of a large result.
      std::int64_t newCount = FAllocatedRecordCount + std::max<std::int64_t>(FAllocRecordsBy, FAllocatedRecordCount / 2);
      if (!FDisableTempFiles) newCount = std::min(newCount, FMaxCachedRecordCount);
      newCount = std::min(newCount, kMaxBlock / FRecordBufferSize);
      if (newCount <= FAllocatedRecordCount) return false;
      if (FCache == nullptr)
        FCache = static_cast<std::uint8_t*>(GlobalMemoryManager().GetMem(newCount * FRecordBufferSize));
      else
        GlobalMemoryManager().ReallocMem(FCache, newCount * FRecordBufferSize, false);
      FAllocatedRecordCount = newCount;
      toCache = true;
    }
    if (toCache) {
      std::memcpy(FCache + FRecordCount * FRecordBufferSize, recordBuffer, static_cast<std::size_t>(FRecordBufferSize));
      ++FCachedRecordCount;
    } else {
      if (!FTempPageFile) FTempPageFile.reset(TNRDFileStream::CreateTemporary());
      FlushWriteBuffer();
      std::memcpy(FTempPage + static_cast<std::int64_t>(FTempPageRecordCount) * FRecordBufferSize, recordBuffer,
                  static_cast<std::size_t>(FRecordBufferSize));
      ++FTempPageRecordCount;
    }
    recordID = TemporaryRecordID(FRecordCount);
    ++FRecordCount;
    ++FTableState;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TNRDTemporaryRecordManager::UpdateRecord(std::int32_t, void*, const TNRDPageItemID&) { return false; }
bool TNRDTemporaryRecordManager::DeleteRecord(std::int32_t, TNRDPageItemID&) { return false; }

void TNRDTemporaryRecordManager::ReadRecord(std::int64_t n, void* buffer) {
  if (FDisableTempFiles || n < FMaxCachedRecordCount) {
    if (FCache == nullptr || n < 0 || n >= FCachedRecordCount) throw ENRDException(10127, "Error retrieving record");
    std::memcpy(buffer, FCache + n * FRecordBufferSize, static_cast<std::size_t>(FRecordBufferSize));
    return;
  }
  if (!FTempPageFile) throw ENRDException(10127, "Error retrieving record");
  FlushWriteBuffer();
  const std::int64_t position = (n - FMaxCachedRecordCount) * FRecordBufferSize;
  SeekOrRaise(*FTempPageFile, position, 10129);
  const std::int32_t got = FTempPageFile->Read(buffer, FRecordBufferSize);
  if (got != FRecordBufferSize)
    throw ENRDException(10130, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                        {position, FTempPageFile->Size(), static_cast<std::int64_t>(FRecordBufferSize),
                         static_cast<std::int64_t>(got)});
}

void TNRDTemporaryRecordManager::GetRecordBuffer(std::int32_t, TNRDNavigationInfo& nav) {
  std::int64_t n = -1;
  TNRDGetRecordResult result = grrOK;
  if (FRecordCount == 0) {
    result = grrEOF;
  } else if (nav.FirstPosition) {
    if (nav.GetRecordMode == grmNext) n = 0;
    else result = nav.GetRecordMode == grmPrior ? grrBOF : grrError;
  } else if (nav.LastPosition) {
    if (nav.GetRecordMode == grmPrior) n = FRecordCount - 1;
    else result = nav.GetRecordMode == grmNext ? grrEOF : grrError;
  } else {
    const std::int64_t cur = TemporaryRecordNo(nav.RecordID);
    switch (nav.GetRecordMode) {
      case grmCurrent:
        if (cur < 0 || cur >= FRecordCount) result = grrError;
        else n = cur;
        break;
      case grmNext:
        if (cur >= FRecordCount - 1) result = grrEOF;
        else n = cur + 1;
        break;
      case grmPrior:
        if (cur < 1) result = grrBOF;
        else n = std::min(cur, FRecordCount) - 1;
        break;
    }
  }
  nav.GetRecordResult = result;
  if (result != grrOK) return;
  if (nav.RecordBuffer != nullptr) ReadRecord(n, nav.RecordBuffer);
  nav.RecordID = TemporaryRecordID(n);
  nav.FirstPosition = false;
  nav.LastPosition = false;
}

std::int32_t TNRDTemporaryRecordManager::CompareRecordID(const TNRDPageItemID& a, const TNRDPageItemID& b) {
  const std::int64_t x = TemporaryRecordNo(a), y = TemporaryRecordNo(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

std::int64_t TNRDTemporaryRecordManager::GetApproximateRecNo(std::int32_t, const TNRDPageItemID& recordID) {
  const std::int64_t n = TemporaryRecordNo(recordID);
  return n < FRecordCount ? n + 1 : -1;
}

// ----- page manager -------------------------------------------------------------------------------
TNRDTemporaryPageManager::TNRDTemporaryPageManager(bool disableTempFiles, std::int64_t maxMemoryPageCount)
    : FMaxMemoryPageCount(std::min<std::int64_t>(
          maxMemoryPageCount >= 0 ? maxMemoryPageCount : TemporaryMemoryBudget() / kTempPageSize,
          std::numeric_limits<std::int32_t>::max())),
      FMemoryPageManager(std::make_unique<TNRDMemoryPageManager>()),
      FDisableTempFiles(disableTempFiles) {
  SetPageSizes(kTempPageSize, 0);
  FCacheCapacity = 256;
}

// The base frees the page objects; those of memory pages only borrow their blocks.
TNRDTemporaryPageManager::~TNRDTemporaryPageManager() = default;

void TNRDTemporaryPageManager::EnsureFile() {
  if (!FTempPageFile) FTempPageFile.reset(TNRDFileStream::CreateTemporary());
}

void TNRDTemporaryPageManager::InternalAddPage(TNRDPage* page) {
  if (!FDisableTempFiles && FAllocatedPageCount >= FMaxMemoryPageCount) {
    EnsureFile();
    const std::int32_t pageNo = FAllocatedPageCount;
    ++FAllocatedPageCount;
    FAllocatedPageMap.SetSize(FAllocatedPageCount);
    ++FPageCount;
    FAllocatedPageMap.SetBit(pageNo, true);
    const std::int64_t need = static_cast<std::int64_t>(kTempPageSize) * FAllocatedPageCount;
    if (FTempPageFile->Size() < need) FTempPageFile->SetSize(need + need / 2);
    page->SetPageNo(pageNo);
    page->SetPageBuffer(nullptr, true);
    page->AllocPageBuffer();
    return;
  }
  FMemoryPageManager->InternalAddPage(page);
  const std::int32_t pageNo = page->PageNo();
  if (FAllocatedPageCount < pageNo + 1) FAllocatedPageCount = pageNo + 1;
  if (FAllocatedPageMap.Size() < FAllocatedPageCount) FAllocatedPageMap.SetSize(FAllocatedPageCount);
  FAllocatedPageMap.SetBit(pageNo, true);
  ++FPageCount;
}

void TNRDTemporaryPageManager::InternalRemovePage(std::int32_t pageNo) {
  if (pageNo < 0 || pageNo >= FAllocatedPageMap.Size() || !FAllocatedPageMap.GetBit(pageNo)) return;
  --FPageCount;
  FAllocatedPageMap.SetBit(pageNo, false);
  if (IsMemoryPage(pageNo)) FMemoryPageManager->InternalRemovePage(pageNo);
}

bool TNRDTemporaryPageManager::InternalReadPage(TNRDPage* page) {
  const std::int32_t pageNo = page->PageNo();
  if (pageNo < 0 || pageNo >= FAllocatedPageMap.Size() || !FAllocatedPageMap.GetBit(pageNo))
    throw ENRDException(10396, "Page allocation not released");
  if (IsMemoryPage(pageNo)) return FMemoryPageManager->InternalReadPage(page);
  if (!FTempPageFile) throw ENRDException(30482, "Invalid pointer");
  if (page->PageBuffer() == nullptr || !page->OwnBuffer()) {
    page->SetPageBuffer(nullptr, true);
    page->AllocPageBuffer();
  }
  SeekOrRaise(*FTempPageFile, static_cast<std::int64_t>(pageNo) * kTempPageSize, 10396);
  return FTempPageFile->Read(page->PageBuffer(), kTempPageSize) == kTempPageSize;
}

void TNRDTemporaryPageManager::InternalWritePage(TNRDPage* page) {
  const std::int32_t pageNo = page->PageNo();
  if (pageNo < 0 || pageNo >= FAllocatedPageMap.Size() || !FAllocatedPageMap.GetBit(pageNo))
    throw ENRDException(10397, "Page allocation not released");
  if (IsMemoryPage(pageNo)) {
    FMemoryPageManager->InternalWritePage(page);
    return;
  }
  EnsureFile();
  SeekOrRaise(*FTempPageFile, static_cast<std::int64_t>(pageNo) * kTempPageSize, 10397);
  if (FTempPageFile->Write(page->PageBuffer(), kTempPageSize) != kTempPageSize)
    throw ENRDException(10397, "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
                        {static_cast<std::int64_t>(pageNo) * kTempPageSize, FTempPageFile->Size(),
                         static_cast<std::int64_t>(kTempPageSize), static_cast<std::int64_t>(0)});
}

// ----- table --------------------------------------------------------------------------------------
TNRDTemporaryTableData::TNRDTemporaryTableData(TNRDDatabaseData* databaseData, std::int32_t recordsPerPage,
                                               std::int32_t allocRecordsBy)
    : TNRDTableData(databaseData), FRecordsPerPage(recordsPerPage), FAllocRecordsBy(allocRecordsBy) {}

TNRDTemporaryTableData::~TNRDTemporaryTableData() {
  try {
    if (FRecordManager) FRecordManager->Empty(-2);
    if (FIndexManager) FIndexManager->DropAllIndexes(-2);
    if (FPageManager != nullptr) FPageManager->ApplyChanges(-2);
  } catch (...) {
  }
  FIndexManager.reset();
  FRecordManager.reset();
}

void TNRDTemporaryTableData::NewBLOBFile() {
  if (FDisableTempFiles)
    FBLOBFile = std::make_unique<TNRDMemoryStream>(nullptr, 1048576);
  else
    FBLOBFile = std::make_unique<TNRDTemporaryStream>(false);
}

void TNRDTemporaryTableData::CreateRecordManager() {
  FRecordManager = std::make_unique<TNRDTemporaryRecordManager>(GetRecordBufferSize(), FRecordsPerPage,
                                                                FAllocRecordsBy, FDisableTempFiles, FTestRecordBudget);
}

void TNRDTemporaryTableData::InitFieldManager(TNRDFieldDefs& fieldDefs) { TNRDTableData::InitFieldManager(fieldDefs); }

void TNRDTemporaryTableData::InitIndexManager(TNRDIndexDefs& indexDefs) {
  TNRDTableDataLock lock(*this);
  FIndexManager = std::make_unique<TNRDBaseIndexManager>(this, nullptr);
  FIndexManager->FPageManager = FPageManager;
  // A session's temporary index (a sort or DISTINCT no index serves) lives on the same pages.
  FIndexManager->FTemporaryPageManager = FPageManager;
  TNRDTableData::InitIndexManager(indexDefs);
}

void TNRDTemporaryTableData::InitConstraintManager(TNRDConstraintDefs& constraintDefs) {
  TNRDTableDataLock lock(*this);
  FConstraintManager = std::make_unique<TNRDBaseConstraintManager>(this);
  TNRDTableData::InitConstraintManager(constraintDefs);
}

void TNRDTemporaryTableData::CreateTable(TNRDCursor* cursor, const TNRDFieldDefs& fieldDefs,
                                         const TNRDIndexDefs& indexDefs, const TNRDConstraintDefs& constraintDefs) {
  TNRDTableDataLock lock(*this);
  if (fieldDefs.GetCount() == 0) throw ENRDException(10132, "Error creating table - no fields were specified");
  if (cursor != nullptr) {
    FTableName = cursor->TableName();
    FDisableTempFiles = cursor->DisableTempFiles();
  }
  // Whatever an earlier create left goes first: its indexes live on the old page manager.
  FIndexManager.reset();
  FRecordManager.reset();
  FOwnPageManager = std::make_unique<TNRDTemporaryPageManager>(FDisableTempFiles, FTestPageBudget);
  FPageManager = FOwnPageManager.get();
  InitManagers(fieldDefs, indexDefs, constraintDefs);
  if (cursor != nullptr) InitCursorRecordSize(*cursor);
  if (FFieldManager->BlobFieldsPresent()) NewBLOBFile();
  else FBLOBFile.reset();
  FIndexManager->CreateIndexesByIndexDefs(cursor);
  if (cursor != nullptr) ApplyChanges(cursor->SessionID(), CursorInTransaction(cursor));
}

void TNRDTemporaryTableData::DeleteTable(TNRDCursor* cursor, bool designMode) {
  {
    TNRDTableDataLock lock(*this);
    TNRDTableData::DeleteTable(cursor, designMode);
    if (designMode && !FCursorList.empty()) return;
  }
  delete this;
}

void TNRDTemporaryTableData::EmptyTable(TNRDCursor*) {
  TNRDTableDataLock lock(*this);
  // Emptying gives the table a fresh BLOB stream, so that its values can be stored again.
  const bool blobs = FBLOBFile != nullptr;
  FBLOBFile.reset();
  TNRDTableData::EmptyTable(nullptr);
  if (FRecordManager) FRecordManager->Empty(-2);
  if (blobs) NewBLOBFile();
  if (FPageManager != nullptr) FPageManager->ApplyChanges(-2);
}

void TNRDTemporaryTableData::OpenTable(TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  if (cursor != nullptr) FTableName = cursor->TableName();
  TNRDTableData::OpenTable(cursor);
}

void TNRDTemporaryTableData::CloseTable(TNRDCursor* cursor) { TNRDTableData::CloseTable(cursor); }

std::int32_t TNRDTemporaryTableData::AddIndex(TNRDIndexDef& indexDef, TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  const std::int32_t id = TNRDTableData::AddIndex(indexDef, cursor);
  ApplyChanges(CursorSession(cursor), CursorInTransaction(cursor));
  return id;
}

void TNRDTemporaryTableData::DeleteIndex(std::int32_t indexID, TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  TNRDTableData::DeleteIndex(indexID, cursor);
  ApplyChanges(CursorSession(cursor), CursorInTransaction(cursor));
}

std::int64_t TNRDTemporaryTableData::GetBitmapRecordCount(std::int32_t) {
  return FRecordManager ? FRecordManager->FRecordCount : 0;
}
std::int64_t TNRDTemporaryTableData::RecordIDToBitmapRecNo(const TNRDPageItemID& recordID) {
  return TemporaryRecordNo(recordID);
}
TNRDPageItemID TNRDTemporaryTableData::BitmapRecNoToRecordID(std::int64_t bitNo) { return TemporaryRecordID(bitNo); }

std::int64_t TNRDTemporaryTableData::GetPosition(const void* recordBuffer, std::int32_t fieldNo) const {
  const TNRDFieldDef* f = FFieldManager->FFieldDefs.GetFieldDef(fieldNo);
  return static_cast<std::int64_t>(GetLE64(static_cast<const std::uint8_t*>(recordBuffer) + f->FMemoryOffset));
}

void TNRDTemporaryTableData::SetPosition(void* recordBuffer, std::int32_t fieldNo, std::int64_t position) const {
  const TNRDFieldDef* f = FFieldManager->FFieldDefs.GetFieldDef(fieldNo);
  PutLE64(static_cast<std::uint8_t*>(recordBuffer) + f->FMemoryOffset, static_cast<std::uint64_t>(position));
}

namespace {
const char* kWriteText = "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d";
const char* kReadText = "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d";

// Appends descriptor and bytes at the end of the BLOB stream; returns the descriptor's position.
std::int64_t AppendValue(TStream& file, std::int32_t numBlocks, std::int64_t uncompressed, const std::uint8_t* data,
                         std::int64_t size, int seekCode, int writeCode) {
  const std::int64_t end = file.Size();
  SeekOrRaise(file, end, seekCode);
  std::uint8_t d[kPartialDescriptorSize];
  PutLE32(d, static_cast<std::uint32_t>(numBlocks));
  PutLE64(d + 4, static_cast<std::uint64_t>(uncompressed));
  PutLE64(d + 12, static_cast<std::uint64_t>(size));
  std::int32_t put = file.Write(d, kPartialDescriptorSize);
  if (put == kPartialDescriptorSize && size > 0) put += file.Write(data, static_cast<std::int32_t>(size));
  if (put != kPartialDescriptorSize + size)
    throw ENRDException(writeCode, kWriteText, {end, file.Size(), kPartialDescriptorSize + size, static_cast<std::int64_t>(put)});
  return end;
}

// Reads the descriptor at a position: numBlocks, uncompressed size and stored size.
void ReadDescriptor(TStream& file, std::int64_t position, std::int32_t& numBlocks, std::int64_t& uncompressed,
                    std::int64_t& size, int seekCode, int readCode) {
  SeekOrRaise(file, position, seekCode);
  std::uint8_t d[kPartialDescriptorSize];
  const std::int32_t got = file.Read(d, kPartialDescriptorSize);
  numBlocks = static_cast<std::int32_t>(GetLE32(d));
  uncompressed = static_cast<std::int64_t>(GetLE64(d + 4));
  size = static_cast<std::int64_t>(GetLE64(d + 12));
  // A damaged position or descriptor is refused before anything is allocated from it.
  if (got != kPartialDescriptorSize || size < 0 || size > file.Size() - position - kPartialDescriptorSize ||
      size > 2147483647LL)
    throw ENRDException(readCode, kReadText, {position, file.Size(), static_cast<std::int64_t>(kPartialDescriptorSize),
                                              static_cast<std::int64_t>(got)});
}
}  // namespace

void TNRDTemporaryTableData::WriteBLOBFieldToRecordBuffer(TNRDCursor* cursor, std::int32_t fieldNo,
                                                          TNRDStream* blobStream) {
  TNRDTableDataLock lock(*this);
  if (!FBLOBFile) throw ENRDException(10144, "Nil pointer occured");
  if (!BLOBStreamModified(blobStream)) return;
  TNRDCompressedBLOBStream* c = CompressedStreamOf(blobStream);
  if (c == nullptr) throw ENRDException(10144, "Nil pointer occured");
  void* record = cursor->CurrentRecordBuffer();
  if (c->Size() == 0) {
    SetFieldNull(record, fieldNo, true);
    return;
  }
  TStream& host = c->CompressedStream();
  const std::int64_t size = host.Size();
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  host.SetPosition(0);
  if (size > 0 && host.Read(bytes.data(), static_cast<std::int32_t>(size)) != size)
    throw ENRDException(10145, kReadText, {static_cast<std::int64_t>(0), size, size, static_cast<std::int64_t>(0)});
  const std::int64_t pos = AppendValue(*FBLOBFile, static_cast<std::int32_t>(c->BLOBDescriptor().NumBlocks),
                                       c->BLOBDescriptor().UncompressedSize, bytes.data(), size, 10422, 10145);
  SetPosition(record, fieldNo, pos);
  SetFieldNull(record, fieldNo, false);
}

TNRDStream* TNRDTemporaryTableData::InternalCreateBlobStream(TNRDCursor* cursor, bool toInsert, std::int32_t fieldNo,
                                                             TNRDBLOBOpenMode openMode) {
  TNRDTableDataLock lock(*this);
  if (!FBLOBFile) throw ENRDException(10140, "Nil pointer occured");
  TNRDBLOBDescriptor d = BLOBDescriptorForField(*FFieldManager->FFieldDefs.GetFieldDef(fieldNo), 10140);
  auto host = std::make_unique<TNRDTemporaryStream>(FDisableTempFiles);
  void* record = cursor != nullptr ? cursor->CurrentRecordBuffer() : nullptr;
  const bool create = toInsert || openMode == bomWrite || record == nullptr || IsFieldNull(record, fieldNo);
  if (!create) {
    std::int32_t numBlocks = 0;
    std::int64_t uncompressed = 0, size = 0;
    const std::int64_t pos = GetPosition(record, fieldNo);
    ReadDescriptor(*FBLOBFile, pos, numBlocks, uncompressed, size, 10141, 10142);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (size > 0 && FBLOBFile->Read(bytes.data(), static_cast<std::int32_t>(size)) != size)
      throw ENRDException(10142, kReadText, {pos, FBLOBFile->Size(), size, static_cast<std::int64_t>(0)});
    if (size > 0) WriteDataToStream(bytes.data(), static_cast<std::int32_t>(size), *host, 10142);
    d.NumBlocks = numBlocks;
    d.UncompressedSize = uncompressed;
  }
  return new TNRDEngineBLOBStream(std::move(host), d, create, cursor, fieldNo, openMode);
}

void TNRDTemporaryTableData::GetDirectBlobData(TNRDCursor*, std::int32_t fieldNo, void* recordBuffer,
                                               TNRDBLOBDescriptor& d, void*& pBlobData) {
  TNRDTableDataLock lock(*this);
  d = TNRDBLOBDescriptor{};
  pBlobData = nullptr;
  if (IsFieldNull(recordBuffer, fieldNo) || !FBLOBFile) return;
  std::int32_t numBlocks = 0;
  std::int64_t uncompressed = 0, size = 0;
  ReadDescriptor(*FBLOBFile, GetPosition(recordBuffer, fieldNo), numBlocks, uncompressed, size, 10509, 10510);
  d.NumBlocks = numBlocks;
  d.UncompressedSize = uncompressed;
  d.StartPosition = size;  // the stored size travels in the descriptor's position
  if (size > 0) {
    pBlobData = GlobalMemoryManager().GetMem(size);
    if (FBLOBFile->Read(pBlobData, static_cast<std::int32_t>(size)) != size) {
      GlobalMemoryManager().FreeAndNillMem(pBlobData);
      throw ENRDException(10510, kReadText, {static_cast<std::int64_t>(0), FBLOBFile->Size(), size, static_cast<std::int64_t>(0)});
    }
  }
}

void TNRDTemporaryTableData::SetDirectBlobData(TNRDCursor*, std::int32_t fieldNo, void* recordBuffer,
                                               TNRDBLOBDescriptor& d, void*& pBlobData) {
  TNRDTableDataLock lock(*this);
  if (!FBLOBFile) throw ENRDException(10506, "Nil pointer occured");
  if (d.UncompressedSize == 0) {
    SetFieldNull(recordBuffer, fieldNo, true);
    return;
  }
  const std::int64_t pos = AppendValue(*FBLOBFile, static_cast<std::int32_t>(d.NumBlocks), d.UncompressedSize,
                                       static_cast<const std::uint8_t*>(pBlobData), d.StartPosition, 10507, 10508);
  SetPosition(recordBuffer, fieldNo, pos);
  SetFieldNull(recordBuffer, fieldNo, false);
}

void TNRDTemporaryTableData::FreeDirectBlobData(TNRDCursor*, std::int32_t, void*, TNRDBLOBDescriptor&,
                                                void*& pBlobData) {
  if (pBlobData != nullptr) GlobalMemoryManager().FreeAndNillMem(pBlobData);
}

bool TNRDTemporaryTableData::InsertRecord(TNRDCursor*& cursor) {
  TNRDTableDataLock lock(*this);
  if (!FRecordManager) throw ENRDException(10134, "Nil pointer occured");
  if (cursor == nullptr || cursor->CurrentRecordBuffer() == nullptr) throw ENRDException(10135, "Nil pointer occured");
  TNRDPageItemID added = cursor->CurrentRecord();
  const bool stored = FRecordManager->AddRecord(cursor->SessionID(), cursor->CurrentRecordBuffer(), added);
  cursor->SetCurrentRecord(added);
  if (!stored) return false;
  ShowOrHideInBitmap(cursor, cursor->CurrentRecord());
  FIndexManager->InsertRecord(cursor);
  cursor->MoveToRecord(cursor->CurrentRecord());
  ApplyChanges(cursor->SessionID(), CursorInTransaction(cursor));
  return true;
}

bool TNRDTemporaryTableData::DeleteRecord(TNRDCursor*) { return false; }
bool TNRDTemporaryTableData::UpdateRecord(TNRDCursor*) { return false; }

void TNRDTemporaryTableData::InternalSetRecNo(TNRDCursor* cursor, std::int64_t recNo) {
  TNRDTableDataLock lock(*this);
  if (!FRecordManager) throw ENRDException(10136, "Nil pointer occured");
  cursor->SetCurrentRecord(TemporaryRecordID(recNo < 2 ? 0 : recNo - 1));
}

std::int64_t TNRDTemporaryTableData::InternalGetRecNo(TNRDCursor* cursor) {
  TNRDTableDataLock lock(*this);
  if (!FRecordManager) throw ENRDException(10137, "Nil pointer occured");
  return TemporaryRecordNo(cursor->CurrentRecord()) + 1;
}

std::int64_t TNRDTemporaryTableData::InternalGetRecordCount(TNRDCursor*) {
  TNRDTableDataLock lock(*this);
  if (!FRecordManager) throw ENRDException(10133, "Nil pointer occured");
  return FRecordManager->FRecordCount;
}

std::int64_t TNRDTemporaryTableData::LastAutoincValue(std::int32_t fieldNo, TNRDBaseSession* session) {
  TNRDTableDataLock lock(*this);
  return FFieldManager->GetLastAutoinc(session, fieldNo);
}

// ----- database -----------------------------------------------------------------------------------
TNRDTemporaryDatabaseData::TNRDTemporaryDatabaseData() { FDatabaseName = "TEMP"; }

TNRDTemporaryDatabaseData::~TNRDTemporaryDatabaseData() {
  while (!Tables().empty()) {
    TNRDTableData* t = Tables().back();
    try {
      t->DeleteTable(nullptr, false);
    } catch (...) {
      delete t;
    }
  }
}

TNRDTableData* TNRDTemporaryDatabaseData::CreateTableData(TNRDCursor* cursor) {
  TNRDDatabaseLock lock(*this);
  auto* t = new TNRDTemporaryTableData(this, 10, 1000);
  if (cursor != nullptr) t->FTableName = cursor->TableName();
  return t;
}

std::int32_t TNRDTemporaryDatabaseData::GetNewObjectId() {
  TNRDDatabaseLock lock(*this);
  return ++FLastObjectID;
}

}  // namespace nrd
