// Field manager, record buffer layout and field value exchange.
#include "engine/storage/NRDFieldManager.h"

#include <cstring>
#include <limits>

#include "engine/foundation/NRDConverts.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDTypesRoutines.h"
#include "engine/storage/NRDDatabaseData.h"

namespace nrd {

namespace {

bool IsBlobColumnType(TNRDAdvancedFieldType t) {
  return t == aftBlob || t == aftGraphic || t == aftMemo || t == aftFormattedMemo || t == aftWideMemo;
}

bool IsTextType(TNRDBaseFieldType t) {
  return t == bftChar || t == bftWideChar || t == bftVarchar || t == bftWideVarchar;
}

// The range of values an autoincrement field of storage type t can hold.
void StorageRange(TNRDBaseFieldType t, std::int64_t& lo, std::int64_t& hi) {
  switch (t) {
    case bftSignedInt8: lo = INT8_MIN; hi = INT8_MAX; return;
    case bftSignedInt16: lo = INT16_MIN; hi = INT16_MAX; return;
    case bftSignedInt32: lo = INT32_MIN; hi = INT32_MAX; return;
    case bftUnsignedInt8: lo = 0; hi = UINT8_MAX; return;
    case bftUnsignedInt16: lo = 0; hi = UINT16_MAX; return;
    case bftUnsignedInt32: lo = 0; hi = UINT32_MAX; return;
    default: lo = INT64_MIN; hi = INT64_MAX; return;
  }
}

std::uint8_t* Bytes(void* p) { return static_cast<std::uint8_t*>(p); }
const std::uint8_t* Bytes(const void* p) { return static_cast<const std::uint8_t*>(p); }

}  // namespace

void TNRDBaseFieldManager::LoadMetadata(TStream& stream) {
  FFieldDefs.LoadFromStream(stream);
  RecalcFieldOffsets();
  InitLastAutoIncValues();
}

void TNRDBaseFieldManager::SaveMetadata(TStream& stream) const { FFieldDefs.SaveToStream(stream); }

void TNRDBaseFieldManager::InitLastAutoIncValues() {
  FLastAutoIncValues.assign(static_cast<std::size_t>(FFieldDefs.GetCount()), 0);
  for (std::int32_t i = 0; i < FFieldDefs.GetCount(); ++i) {
    const TNRDFieldDef* f = FFieldDefs.GetFieldDef(i);
    if (f->IsAutoinc()) FLastAutoIncValues[static_cast<std::size_t>(i)] = f->FAutoincInitialValue;
  }
}

void TNRDBaseFieldManager::LoadMostUpdated(const std::uint8_t* buffer, std::int32_t bufferSize, std::int32_t& offset) {
  const char* kRead = "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d";
  if (offset < 0 || offset > bufferSize - 4) throw ENRDException(10159, kRead, {offset, bufferSize, 4, 0});
  const std::int32_t n = static_cast<std::int32_t>(GetLE32(buffer + offset));
  if (n < 0 || n > (bufferSize - offset - 4) / 8)
    throw ENRDException(10159, kRead, {offset + 4, bufferSize, static_cast<std::int64_t>(n) * 8, bufferSize - offset - 4});
  offset += 4;
  FLastAutoIncValues.assign(static_cast<std::size_t>(n), 0);
  for (std::int32_t i = 0; i < n; ++i) {
    FLastAutoIncValues[static_cast<std::size_t>(i)] = static_cast<std::int64_t>(GetLE64(buffer + offset));
    offset += 8;
  }
}

void TNRDBaseFieldManager::SaveMostUpdated(std::uint8_t* buffer, std::int32_t bufferSize, std::int32_t& offset) const {
  const std::int32_t need = MostUpdatedSize();
  if (offset < 0 || offset > bufferSize - need)
    throw ENRDException(10158, "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
                        {offset, bufferSize, need, 0});
  PutLE32(buffer + offset, static_cast<std::uint32_t>(FLastAutoIncValues.size()));
  offset += 4;
  for (std::int64_t v : FLastAutoIncValues) {
    PutLE64(buffer + offset, static_cast<std::uint64_t>(v));
    offset += 8;
  }
}

void TNRDBaseFieldManager::DiskRecordBufferToMemRecordBuffer(const void* diskBuffer, void* memBuffer) const {
  std::memset(memBuffer, 0, static_cast<std::size_t>(FFieldDefs.GetMemoryRecordBufferSize()));
  std::memcpy(memBuffer, diskBuffer, static_cast<std::size_t>(FFieldDefs.NullBitmapSize()));
  for (std::int32_t i = 0; i < FFieldDefs.GetCount(); ++i) {
    const TNRDFieldDef* f = FFieldDefs.GetFieldDef(i);
    std::memcpy(Bytes(memBuffer) + f->FMemoryOffset, Bytes(diskBuffer) + f->FDiskOffset,
                static_cast<std::size_t>(f->FDiskDataSize));
  }
}

TNRDRecordDecodePlan::TNRDRecordDecodePlan(const TNRDFieldDefs& fieldDefs) {
  FMemorySize = fieldDefs.GetMemoryRecordBufferSize();
  auto add = [&](std::int32_t memoryOffset, std::int32_t diskOffset, std::int32_t size) {
    if (size <= 0) return;
    if (!FRuns.empty()) {
      Run& last = FRuns.back();
      if (last.MemoryOffset + last.Size == memoryOffset && last.DiskOffset + last.Size == diskOffset) {
        last.Size += size;
        return;
      }
    }
    FRuns.push_back({memoryOffset, diskOffset, size});
  };
  add(0, 0, fieldDefs.NullBitmapSize());
  for (std::int32_t i = 0; i < fieldDefs.GetCount(); ++i) {
    const TNRDFieldDef* f = fieldDefs.GetFieldDef(i);
    add(f->FMemoryOffset, f->FDiskOffset, f->FDiskDataSize);
  }
  FCoversAll = FRuns.size() == 1 && FRuns[0].MemoryOffset == 0 && FRuns[0].Size == FMemorySize;
}

void TNRDRecordDecodePlan::Decode(const void* diskBuffer, void* memBuffer) const {
  if (!FCoversAll) std::memset(memBuffer, 0, static_cast<std::size_t>(FMemorySize));
  for (const Run& r : FRuns)
    std::memcpy(Bytes(memBuffer) + r.MemoryOffset, Bytes(diskBuffer) + r.DiskOffset, static_cast<std::size_t>(r.Size));
}

void TNRDBaseFieldManager::MemRecordBufferToDiskRecordBuffer(const void* memBuffer, void* diskBuffer) const {
  std::memset(diskBuffer, 0, static_cast<std::size_t>(FFieldDefs.GetDiskRecordBufferSize()));
  std::memcpy(diskBuffer, memBuffer, static_cast<std::size_t>(FFieldDefs.NullBitmapSize()));
  for (std::int32_t i = 0; i < FFieldDefs.GetCount(); ++i) {
    const TNRDFieldDef* f = FFieldDefs.GetFieldDef(i);
    std::memcpy(Bytes(diskBuffer) + f->FDiskOffset, Bytes(memBuffer) + f->FMemoryOffset,
                static_cast<std::size_t>(f->FDiskDataSize));
  }
}

bool TNRDBaseFieldManager::CompareRecordBuffers(const void* buffer1, const void* buffer2) const {
  if (std::memcmp(buffer1, buffer2, static_cast<std::size_t>(FFieldDefs.NullBitmapSize())) != 0) return false;
  for (std::int32_t i = 0; i < FFieldDefs.GetCount(); ++i) {
    const TNRDFieldDef* f = FFieldDefs.GetFieldDef(i);
    if (std::memcmp(Bytes(buffer1) + f->FMemoryOffset, Bytes(buffer2) + f->FMemoryOffset,
                    static_cast<std::size_t>(f->FDiskDataSize)) != 0)
      return false;
  }
  return true;
}

bool TNRDBaseFieldManager::BlobFieldsPresent() const {
  for (std::int32_t i = 0; i < FFieldDefs.GetCount(); ++i) {
    const TNRDFieldDef* f = FFieldDefs.GetFieldDef(i);
    if (!f->IsBlob()) continue;
    if (f->FBLOBBlockSize == 0) throw ENRDException(10421, "BLOB block size should be > 0 for field %s", {f->FName});
    return true;
  }
  return false;
}

void TNRDBaseFieldManager::ApplyDefaultValuesToRecordBuffer(TNRDBaseSession* session, void* recordBuffer) {
  for (std::int32_t i = 0; i < FFieldDefs.GetCount(); ++i) {
    TNRDFieldDef* f = FFieldDefs.GetFieldDef(i);
    if (f->IsBlob() || f->FDefaultValue.IsNull()) continue;
    TNRDVariant value;
    if (f->FDefaultValueExpr) {
      f->FDefaultValueExpr->GetValue(session, value);
    } else {
      value.Assign(f->FDefaultValue, true);
    }
    if (!value.IsNull() && value.DataType() != f->FBaseFieldType) value.Cast(f->FBaseFieldType);
    std::uint8_t* field = Bytes(recordBuffer) + f->FMemoryOffset;
    const std::size_t room = static_cast<std::size_t>(f->FMemoryDataSize);
    // The field starts from zeros, so an empty text leaves nothing of an earlier value behind
    // and a shorter value is zero-padded.
    std::memset(field, 0, room);
    if (!value.IsNull() && value.pData() != nullptr && value.DataSize() > 0) {
      const std::size_t n = std::min(room, static_cast<std::size_t>(value.DataSize()));
      std::memcpy(field, value.pData(), n);
      // A text cut to its field keeps its terminator.
      if (IsTextType(f->FBaseFieldType) && n == room) {
        const std::size_t unit = (f->FBaseFieldType == bftWideChar || f->FBaseFieldType == bftWideVarchar) ? 2 : 1;
        if (room >= unit) std::memset(field + room - unit, 0, unit);
      }
    }
    SetFieldNull(recordBuffer, i, false);
  }
}

void TNRDBaseFieldManager::ApplyAutoincsToRecordBuffer(TNRDBaseSession* session, void* recordBuffer) {
  for (std::int32_t i = 0; i < FFieldDefs.GetCount(); ++i) {
    TNRDFieldDef* f = FFieldDefs.GetFieldDef(i);
    if (!f->IsAutoinc()) continue;
    std::uint8_t* field = Bytes(recordBuffer) + f->FMemoryOffset;
    const std::size_t width = static_cast<std::size_t>(std::min(f->FMemoryDataSize, 8));
    if (IsFieldNull(recordBuffer, i)) {
      const std::int64_t next = GetNextAutoinc(session, i);
      std::uint8_t le[8];
      PutLE64(le, static_cast<std::uint64_t>(next));
      std::memcpy(field, le, width);
      SetFieldNull(recordBuffer, i, false);
    } else {
      // A value the user gave: read in its own type, so a negative signed value stays negative.
      std::uint8_t le[8] = {};
      std::memcpy(le, field, width);
      const std::int64_t v = GetStoredInt(le, f->FBaseFieldType);
      UpdateLastAutoinc(session, i, v);
    }
  }
}

std::int64_t TNRDBaseFieldManager::IncrementLastAutoinc(std::int32_t fieldNo) {
  if (fieldNo < 0 || fieldNo >= FFieldDefs.GetCount()) throw ENRDException(30402, "Field #%d not found", {fieldNo});
  if (static_cast<std::size_t>(fieldNo) >= FLastAutoIncValues.size())
    throw ENRDException(30403, "Field #%d not found", {fieldNo});
  const TNRDFieldDef* f = FFieldDefs.GetFieldDef(fieldNo);
  std::int64_t& last = FLastAutoIncValues[static_cast<std::size_t>(fieldNo)];
  const std::int64_t step = f->FAutoincIncrement != 0 ? f->FAutoincIncrement : 1;
  std::int64_t lo, hi;
  StorageRange(f->FBaseFieldType, lo, hi);
  std::int64_t next;
  const bool wrapped = __builtin_add_overflow(last, step, &next);
  if (!wrapped) last = next;
  const bool pastMax = wrapped || next > hi || (f->FAutoincMaxValue != 0 && next > f->FAutoincMaxValue);
  // A value its field cannot hold is refused instead of being stored cut to the field's width.
  if (pastMax && f->FAutoincCycled && f->FAutoincMinValue >= lo && f->FAutoincMinValue <= hi) {
    last = f->FAutoincMinValue;
  } else if (pastMax || next < lo) {
    throw ENRDException(20160, "Autoinc max value exceeded for field '%s'", {f->FName});
  }
  return last;
}

std::int64_t TNRDBaseFieldManager::GetNextAutoinc(TNRDBaseSession* session, std::int32_t fieldNo) {
  const std::int64_t value = IncrementLastAutoinc(fieldNo);
  if (session != nullptr)
    session->SetObject(std::make_unique<TNRDSessionNamedObjectSequenceValue>(
        FFieldDefs.GetFieldDef(fieldNo)->FObjectID, value));
  return value;
}

std::int64_t TNRDBaseFieldManager::GetLastAutoinc(TNRDBaseSession* session, std::int32_t fieldNo) {
  if (fieldNo < 0 || fieldNo >= FFieldDefs.GetCount()) throw ENRDException(30402, "Field #%d not found", {fieldNo});
  const TNRDFieldDef* f = FFieldDefs.GetFieldDef(fieldNo);
  if (session != nullptr) {
    if (auto* seq = dynamic_cast<TNRDSessionNamedObjectSequenceValue*>(session->GetObjectByID(f->FObjectID)))
      return seq->FValue;
    if (session->FMultiUser)
      throw ENRDException(30012, "No SequenceLastValue in session for sequence '%s'. Call GetNextVal first", {f->FName});
  }
  if (f->IsAutoinc() && static_cast<std::size_t>(fieldNo) < FLastAutoIncValues.size())
    return FLastAutoIncValues[static_cast<std::size_t>(fieldNo)];
  return 0;
}

void TNRDBaseFieldManager::UpdateLastAutoinc(TNRDBaseSession* session, std::int32_t fieldNo, std::int64_t insertedValue) {
  if (fieldNo < 0 || static_cast<std::size_t>(fieldNo) >= FLastAutoIncValues.size() || fieldNo >= FFieldDefs.GetCount())
    throw ENRDException(30403, "Field #%d not found", {fieldNo});
  std::int64_t& last = FLastAutoIncValues[static_cast<std::size_t>(fieldNo)];
  if (insertedValue <= last) return;
  last = insertedValue;
  if (session != nullptr)
    session->SetObject(std::make_unique<TNRDSessionNamedObjectSequenceValue>(
        FFieldDefs.GetFieldDef(fieldNo)->FObjectID, insertedValue));
}

// ----- field value exchange ------------------------------------------------------------------------
bool GetFieldDataFromBuffer(std::int32_t fieldNo, const TNRDFieldDefs& fieldDefs, void* buffer,
                            const void* recordBuffer) {
  if (fieldNo < 0 || fieldNo >= fieldDefs.GetCount())
    throw ENRDException(10000, "Invalid field number - FieldNo = %d, FieldCount = %d", {fieldNo, fieldDefs.GetCount()});
  if (recordBuffer == nullptr) throw ENRDException(10003, "Nil pointer occured");
  if (IsFieldNull(recordBuffer, fieldNo)) return false;
  const TNRDFieldDef* f = fieldDefs.GetFieldDef(fieldNo);
  if (buffer == nullptr || IsBlobColumnType(f->FAdvancedFieldType)) return true;
  try {
    const std::uint8_t* src = Bytes(recordBuffer) + f->FMemoryOffset;
    switch (f->FAdvancedFieldType) {
      case aftShortint: {
        const std::int16_t v = static_cast<std::int8_t>(src[0]);
        std::memcpy(buffer, &v, 2);
        break;
      }
      case aftCardinal: {
        const std::uint64_t v = GetLE32(src);
        std::memcpy(buffer, &v, 8);
        break;
      }
      case aftSingle: {
        float s;
        std::memcpy(&s, src, 4);
        const double v = s;
        std::memcpy(buffer, &v, 8);
        break;
      }
      case aftExtended: {
        const double v = static_cast<double>(GetExtended(src));
        std::memcpy(buffer, &v, 8);
        break;
      }
      default:
        std::memcpy(buffer, src, static_cast<std::size_t>(f->FMemoryDataSize));
    }
  } catch (const std::exception&) {
    throw ENRDException(10002, "Error getting field data - FieldNo = %d, MemoryOffset = %d, MemoryDataSize = %d",
                        {fieldNo, f->FMemoryOffset, f->FMemoryDataSize});
  }
  return true;
}

void SetFieldDataToBuffer(std::int32_t fieldNo, const TNRDFieldDefs& fieldDefs, const void* buffer,
                          void* recordBuffer) {
  if (fieldNo < 0 || fieldNo >= fieldDefs.GetCount())
    throw ENRDException(10004, "Invalid field number - FieldNo = %d, FieldCount = %d", {fieldNo, fieldDefs.GetCount()});
  if (recordBuffer == nullptr) throw ENRDException(10003, "Nil pointer occured");
  const TNRDFieldDef* f = fieldDefs.GetFieldDef(fieldNo);
  const auto t = f->FAdvancedFieldType;
  const bool emptyText = buffer != nullptr &&
                         (((t == aftChar || t == aftString || t == aftGuid) && Bytes(buffer)[0] == 0) ||
                          ((t == aftWideChar || t == aftWideString) && Bytes(buffer)[0] == 0 && Bytes(buffer)[1] == 0));
  if (buffer == nullptr || emptyText) {
    SetFieldNull(recordBuffer, fieldNo, true);
    return;
  }
  SetFieldNull(recordBuffer, fieldNo, false);
  std::uint8_t* dst = Bytes(recordBuffer) + f->FMemoryOffset;
  switch (t) {
    case aftShortint: {
      std::int16_t v;
      std::memcpy(&v, buffer, 2);
      dst[0] = static_cast<std::uint8_t>(v & 0xFF);
      break;
    }
    case aftCardinal: std::memcpy(dst, buffer, 4); break;
    case aftSingle: {
      double v;
      std::memcpy(&v, buffer, 8);
      const float s = static_cast<float>(v);
      std::memcpy(dst, &s, 4);
      break;
    }
    case aftExtended: {
      double v;
      std::memcpy(&v, buffer, 8);
      PutExtended(dst, v);
      break;
    }
    default: std::memcpy(dst, buffer, static_cast<std::size_t>(f->FMemoryDataSize));
  }
}

bool BuffersEqual(const void* buffer1, const void* buffer2, std::int32_t n) {
  if (buffer1 == nullptr) throw ENRDException(10122, "Nil pointer occured");
  if (buffer2 == nullptr) throw ENRDException(10123, "Nil pointer occured");
  return n <= 0 || std::memcmp(buffer1, buffer2, static_cast<std::size_t>(n)) == 0;
}

}  // namespace nrd
