// The field manager of a table and the record buffer routines of the cursors.
//
// Record buffer (memory and disk forms; they differ only in BLOB fields):
//   offset 0                    null bitmap, ceil(FieldCount / 8) bytes: field i is bit (i mod 8) of
//                               byte (i div 8), least significant first; a set bit means NULL
//   offset FMemoryOffset/FDiskOffset of field i
//                               the field's bytes, in field order, without gaps:
//     Char, Varchar             FieldSize + 1      single-byte text, zero-terminated
//     WideChar, WideVarchar     (FieldSize + 1) x 2  UTF-16 text, zero-terminated
//     8/16/32/64-bit integers   1/2/4/8
//     Single, Double, Extended  4/8/10
//     Date, Time                4 (Int32 day number / milliseconds since midnight)
//     DateTime                  8 (day number, then milliseconds)
//     Blob, Clob, WideClob      10 in memory, 6 on disk (the record's BLOB reference; the last
//                               4 memory bytes are the engine's handle slot)
//     Logical                   2
//     Currency                  8
//     Bytes, VarBytes           FieldSize + 1
//
// The manager also fills defaults and autoincrement values into new records and keeps the last
// autoincrement value of every field. No lock of its own: callers hold the table data lock.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/storage/NRDMetadata.h"

namespace nrd {

class TNRDBaseSession;
class TNRDTableData;

// The disk-to-memory conversion of DiskRecordBufferToMemRecordBuffer worked out once for a record
// layout: the null bitmap and the fields as runs of bytes, neighbouring runs merged, so that a table
// without BLOB fields (same form on disk and in memory) converts with one copy. The result is the
// same bytes: memory bytes no run covers (the BLOB handle slots) are zero. Valid while the field
// definitions it was built from keep their layout (one search under the table lock).
class TNRDRecordDecodePlan {
 public:
  explicit TNRDRecordDecodePlan(const TNRDFieldDefs& fieldDefs);
  void Decode(const void* diskBuffer, void* memBuffer) const;

 private:
  struct Run {
    std::int32_t MemoryOffset, DiskOffset, Size;
  };
  std::vector<Run> FRuns;
  std::int32_t FMemorySize = 0;
  bool FCoversAll = false;  // the runs write every memory byte: no zeroing first
};

class TNRDBaseFieldManager {
 public:
  explicit TNRDBaseFieldManager(TNRDTableData* tableData) : FTableData(tableData) {}
  virtual ~TNRDBaseFieldManager() = default;
  TNRDBaseFieldManager(const TNRDBaseFieldManager&) = delete;
  TNRDBaseFieldManager& operator=(const TNRDBaseFieldManager&) = delete;

  // Loads the field definitions, lays out the record and sets up the autoincrement counters.
  void LoadMetadata(TStream& stream);
  void SaveMetadata(TStream& stream) const;
  void RecalcFieldOffsets() { FFieldDefs.RecalcFieldOffsets(); }
  void InitLastAutoIncValues();

  // The table's most-updated data: an i32 count N and N i64 last values; offset advances by 4 + 8N.
  // Loading raises 10159 when the count is negative or runs past `bufferSize`.
  void LoadMostUpdated(const std::uint8_t* buffer, std::int32_t bufferSize, std::int32_t& offset);
  void SaveMostUpdated(std::uint8_t* buffer, std::int32_t bufferSize, std::int32_t& offset) const;
  std::int32_t MostUpdatedSize() const { return 4 + 8 * static_cast<std::int32_t>(FLastAutoIncValues.size()); }

  void DiskRecordBufferToMemRecordBuffer(const void* diskBuffer, void* memBuffer) const;
  void MemRecordBufferToDiskRecordBuffer(const void* memBuffer, void* diskBuffer) const;
  // The null bitmaps and the disk bytes of every field are equal.
  bool CompareRecordBuffers(const void* buffer1, const void* buffer2) const;
  // True when a field is a BLOB; 10421 when the first BLOB field has block size 0.
  bool BlobFieldsPresent() const;

  // Defaults into a new record: at most the field's size is copied (a text is cut and stays
  // terminated); an empty text default leaves the field zero-filled and not NULL.
  virtual void ApplyDefaultValuesToRecordBuffer(TNRDBaseSession* session, void* recordBuffer);
  virtual void ApplyAutoincsToRecordBuffer(TNRDBaseSession* session, void* recordBuffer);
  // The next value of a field's counter: 30402/30403 for a bad field number; 20160 when it passes
  // the maximum or does not fit the field's storage type (unless cycled: then the minimum).
  virtual std::int64_t IncrementLastAutoinc(std::int32_t fieldNo);
  virtual std::int64_t GetNextAutoinc(TNRDBaseSession* session, std::int32_t fieldNo);
  virtual std::int64_t GetLastAutoinc(TNRDBaseSession* session, std::int32_t fieldNo);
  void UpdateLastAutoinc(TNRDBaseSession* session, std::int32_t fieldNo, std::int64_t insertedValue);

  TNRDFieldDefs FFieldDefs;
  TNRDTableData* FTableData;
  std::vector<std::int64_t> FLastAutoIncValues;
};

// Field values between a record buffer and a caller's buffer (field numbers are table field numbers).
// False for NULL. 10000 bad number, 10003 no record buffer, 10002 a failed copy.
bool GetFieldDataFromBuffer(std::int32_t fieldNo, const TNRDFieldDefs& fieldDefs, void* buffer,
                            const void* recordBuffer);
// An absent buffer or an empty text makes the field NULL (its bytes untouched). 10004 bad number.
void SetFieldDataToBuffer(std::int32_t fieldNo, const TNRDFieldDefs& fieldDefs, const void* buffer,
                          void* recordBuffer);
// First n bytes equal; 10122/10123 for a missing buffer.
bool BuffersEqual(const void* buffer1, const void* buffer2, std::int32_t n);

// Is field i NULL in a record buffer (bit i of the null bitmap)?
inline bool IsFieldNull(const void* recordBuffer, std::int32_t fieldNo) { return IsBitSetInBuffer(fieldNo, recordBuffer); }
inline void SetFieldNull(void* recordBuffer, std::int32_t fieldNo, bool isNull) {
  SetBitInBuffer(isNull, fieldNo, recordBuffer);
}

}  // namespace nrd
