// Shared steps of the storage engines' table objects.
#include "engine/storage/NRDEngineShared.h"

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/storage/NRDCursor.h"
#include "engine/storage/NRDDatabaseData.h"
#include "engine/storage/NRDIndexManager.h"
#include "engine/storage/NRDRecordBitmap.h"
#include "engine/storage/NRDTableData.h"

namespace nrd {

TNRDEngineBLOBStream::TNRDEngineBLOBStream(std::unique_ptr<TStream> host, const TNRDBLOBDescriptor& descriptor,
                                           bool toCreate, TNRDCursor* cursor, std::int32_t fieldNo,
                                           TNRDBLOBOpenMode openMode)
    : FHost(std::move(host)), FCursor(cursor), FFieldNo(fieldNo), FOpenMode(openMode) {
  FHost->SetPosition(0);
  FCompressed = std::make_unique<TNRDCompressedBLOBStream>(*FHost, descriptor, toCreate, false);
  FCompressed->SetModified(false);
}

std::int32_t TNRDEngineBLOBStream::Read(void* buffer, std::int32_t count) { return FCompressed->Read(buffer, count); }
std::int32_t TNRDEngineBLOBStream::Write(const void* buffer, std::int32_t count) {
  const std::int32_t n = FCompressed->Write(buffer, count);
  if (n > 0) FModified = true;
  return n;
}
std::int64_t TNRDEngineBLOBStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  return FCompressed->Seek(offset, origin);
}
std::int64_t TNRDEngineBLOBStream::GetSize() { return FCompressed->Size(); }
void TNRDEngineBLOBStream::SetSize(std::int64_t newSize) {
  FCompressed->SetSize(newSize);
  FModified = true;
}

TNRDCompressedBLOBStream* CompressedStreamOf(TNRDStream* blobStream) {
  if (auto* s = dynamic_cast<TNRDEngineBLOBStream*>(blobStream)) return &s->Compressed();
  return dynamic_cast<TNRDCompressedBLOBStream*>(blobStream);
}

bool BLOBStreamModified(TNRDStream* blobStream) {
  if (blobStream == nullptr) return false;
  if (blobStream->Modified()) return true;
  TNRDCompressedBLOBStream* c = CompressedStreamOf(blobStream);
  return c != nullptr && c->Modified();
}

TNRDBLOBDescriptor BLOBDescriptorForField(const TNRDFieldDef& field, int zeroBlockSizeCode) {
  if (field.FBLOBBlockSize == 0) throw ENRDException(zeroBlockSizeCode, "Stream block size = 0 is not allowed");
  TNRDBLOBDescriptor d;
  d.BlockSize = field.FBLOBBlockSize;
  d.CompressionAlgorithm = static_cast<std::uint8_t>(field.FBLOBCompressionAlgorithm);
  d.CompressionMode = field.FBLOBCompressionMode;
  d.StartPosition = 0;
  d.NumBlocks = 0;
  d.UncompressedSize = 0;
  return d;
}

std::int32_t CursorSession(const TNRDCursor* cursor) { return cursor != nullptr ? cursor->SessionID() : -2; }

bool CursorInTransaction(const TNRDCursor* cursor) {
  return cursor != nullptr && cursor->Session() != nullptr && cursor->Session()->FInTransaction;
}

void ShowOrHideInBitmap(TNRDCursor* cursor, const TNRDPageItemID& recordID) {
  if (cursor == nullptr || cursor->RecordBitmap() == nullptr || !cursor->RecordBitmap()->FActive) return;
  const bool accepted = !cursor->HasRecordFilter() || cursor->AcceptedByRecordFilter();
  if (accepted)
    cursor->RecordBitmap()->ShowRecord(recordID);
  else
    cursor->RecordBitmap()->HideRecord(recordID);
}

bool FindPlaceAfterDelete(TNRDTableData& table, TNRDCursor* cursor, TNRDPageItemID& place) {
  if (cursor == nullptr) return false;
  const std::int32_t size = cursor->RecordSize() > 0 ? cursor->RecordSize() : table.GetRecordBufferSize();
  TNRDMemoryPtr scratch = NRDAllocMem(size);
  for (TNRDGetRecordMode mode : {grmNext, grmPrior}) {
    TNRDNavigationInfo nav;
    nav.GetRecordMode = mode;
    nav.RecordID = cursor->CurrentRecord();
    nav.RecordBuffer = scratch.get();
    nav.IndexID = cursor->IndexID();
    if (cursor->IndexID() != -1 && !cursor->PhysicalOrder())
      table.IndexManager().GetRecordBuffer(cursor->SessionID(), nav, cursor->IndexPositionCache(), 0);
    else
      table.RecordManager().GetRecordBuffer(cursor->SessionID(), nav);
    if (nav.GetRecordResult == grrOK) {
      // The BLOB handles read into the scratch buffer belong to the record still stored.
      place = nav.RecordID;
      return true;
    }
  }
  return false;
}

void PlaceCursorAfterDelete(TNRDCursor* cursor, const TNRDPageItemID& deleted, bool found,
                            const TNRDPageItemID& place, std::int32_t oldTableState, std::int32_t newTableState) {
  if (cursor == nullptr) return;
  TNRDRecordBitmap* bitmap = cursor->RecordBitmap();
  if (bitmap != nullptr && bitmap->FActive) {
    bitmap->HideRecord(deleted);
    if (bitmap->FTableState == oldTableState && !cursor->IsDistinctApplied()) bitmap->FTableState = newTableState;
  }
  if (found) {
    cursor->MoveToRecord(place);
  } else {
    cursor->MoveBeforeFirst();
  }
}

}  // namespace nrd
