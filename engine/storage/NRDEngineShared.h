// What the memory, temporary and disk engines share above the record managers: the BLOB stream a
// table object hands to a cursor, and the cursor-side steps of an insert, update and delete (the
// session and transaction of a cursor, the record bitmap, where a cursor lands after a delete).
#pragma once

#include <cstdint>
#include <memory>

#include "engine/foundation/NRDCompression.h"
#include "engine/foundation/NRDStreams.h"
#include "engine/foundation/NRDTypes.h"

namespace nrd {

class TNRDCursor;
class TNRDTableData;
class TNRDFieldDef;

// The stream of one BLOB value opened through a table object: the plain bytes of a compressed
// value over a host stream that holds its stored bytes. Owns both. The engines read back the
// compressed stream when the value is stored into a record.
class TNRDEngineBLOBStream : public TNRDStream {
 public:
  TNRDEngineBLOBStream(std::unique_ptr<TStream> host, const TNRDBLOBDescriptor& descriptor, bool toCreate,
                       TNRDCursor* cursor, std::int32_t fieldNo, TNRDBLOBOpenMode openMode);
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t GetSize() override;
  void SetSize(std::int64_t newSize) override;

  TNRDCompressedBLOBStream& Compressed() { return *FCompressed; }
  TStream& Host() { return *FHost; }
  TNRDCursor* Cursor() const { return FCursor; }
  std::int32_t FieldNo() const { return FFieldNo; }
  TNRDBLOBOpenMode OpenMode() const { return FOpenMode; }

 private:
  std::unique_ptr<TStream> FHost;
  std::unique_ptr<TNRDCompressedBLOBStream> FCompressed;
  TNRDCursor* FCursor;
  std::int32_t FFieldNo;
  TNRDBLOBOpenMode FOpenMode;
};

// The compressed stream behind a stream a cursor gives back (an engine BLOB stream or a bare
// compressed stream); null for anything else.
TNRDCompressedBLOBStream* CompressedStreamOf(TNRDStream* blobStream);
// Whether the value was written to since it was opened.
bool BLOBStreamModified(TNRDStream* blobStream);

// A descriptor for a new or stored value of the field (block size, algorithm and mode from the
// definition); zeroBlockSizeCode is raised for a block size of 0.
TNRDBLOBDescriptor BLOBDescriptorForField(const TNRDFieldDef& field, int zeroBlockSizeCode);

std::int32_t CursorSession(const TNRDCursor* cursor);
bool CursorInTransaction(const TNRDCursor* cursor);

// After a record was stored: shows or hides it in the cursor's active record bitmap (the data
// set's record filter decides; a cursor without one accepts every record).
void ShowOrHideInBitmap(TNRDCursor* cursor, const TNRDPageItemID& recordID);

// Where a cursor stands after its current record goes: the next record in the cursor's order,
// else the prior one; false when neither exists. The cursor's position is not changed.
bool FindPlaceAfterDelete(TNRDTableData& table, TNRDCursor* cursor, TNRDPageItemID& place);

// After a delete: hides the record in the cursor's bitmap (giving it the new table state when it
// had the old one and no DISTINCT applies) and places the cursor.
void PlaceCursorAfterDelete(TNRDCursor* cursor, const TNRDPageItemID& deleted, bool found,
                            const TNRDPageItemID& place, std::int32_t oldTableState, std::int32_t newTableState);

}  // namespace nrd
