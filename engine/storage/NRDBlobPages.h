// BLOB values of a disk table, stored apart from the records on pages of type 11.
//
// A record's BLOB field holds a 6-byte reference (TNRDPageItemID; PageNo 0 or -1: nothing stored;
// PageItemNo 0xFFFF: an own page chain from PageNo; else an entry on the shared page PageNo) and,
// in the memory form only, a 4-byte handle of the field's cache entry. What is stored is the
// compressed stream's bytes with its block count and plain size.
//
// Shared page data area: 0 BlobCount u16, then entries packed one after another:
//   0 ItemNo u16 | 2 NumBlocks i32 | 6 StoredSize i64 | 14 UncompressedSize i64 | 22 the bytes
// A value goes to a shared page when StoredSize + 24 < PageDataSize, else to an own chain:
//   first page: 0 (2 bytes, unused) | 2 NumBlocks i32 | 6 StoredSize i64 | 14 UncompressedSize i64 |
//   22 ListPageNo i32 | 26 ListOffset u16 | 28 PageCount i32 | 32 the first bytes of the value;
//   further data pages carry the value from offset 0; the page list (i32 page numbers of every data
//   page) starts right after the value on the last data page, or on a new page when that one is
//   full, and goes on over pages linked by their headers' NextPageNo.
// Item number 255 is never given to a new entry: old files may hold own chains whose reference
// carries 255, and only for those the kind is guessed when reading or deleting.
// No lock of its own: the disk table object calls it under its lock.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "engine/foundation/NRDStreams.h"
#include "engine/foundation/NRDTypes.h"
#include "engine/storage/NRDPageIndex.h"
#include "engine/storage/NRDTableData.h"

namespace nrd {

class TNRDBaseFieldManager;
class TNRDDiskPageManager;
class TNRDPage;

struct TNRDDiskBLOBCacheEntry {
  std::int32_t NumBlocks = 0;
  std::int64_t UncompressedSize = 0;
  bool Modified = false;
  std::uint8_t* BlobData = nullptr;  // engine-memory block; its recorded size is the stored size
};

class TNRDSmallBlobPage {
 public:
  explicit TNRDSmallBlobPage(TNRDPage* page) : LPage(page) {}
  std::uint16_t GetBlobCount() const;
  void SetBlobCount(std::uint16_t value);
  // 20172 when no item number is free; 20290 when the entry does not fit.
  void AddBlob(const TNRDDiskBLOBCacheEntry& blob, TNRDPageItemID& pageItemID, std::int32_t sizeInIndex = -1);
  // 20171 when no entry has the item number; blobSize: StoredSize + 22 of the entry removed.
  void DeleteBlob(const TNRDPageItemID& pageItemID, std::int64_t& blobSize);
  // False when no entry has the item number (the entry is left without data).
  bool ReadBlob(TNRDDiskBLOBCacheEntry& blob, const TNRDPageItemID& pageItemID) const;
  std::uint16_t NewItemNo() const;

 private:
  // Entry offsets, checked against the page's data area (20171 on a damaged page).
  std::int32_t FindEntry(std::uint16_t itemNo, std::int32_t& endOfEntries) const;
  TNRDPage* LPage;
};

class TNRDDiskBlobManager {
 public:
  TNRDDiskBlobManager(TNRDDiskPageManager* pageManager, TNRDBaseFieldManager* fieldManager,
                      TNRDBaseRecordManager* recordManager);
  // Frees cache entries still live (CheckReleased raises for them).
  ~TNRDDiskBlobManager();
  void CheckReleased() const;  // 20150

  void CreateBlobPageIndex();
  void LoadMetadata(TStream& stream);
  void SaveMetadata(TStream& stream) const;

  void ReadBlob(std::int32_t sessionID, void* recordBuffer, std::int32_t fieldNo);
  void WriteBlob(std::int32_t sessionID, void* recordBuffer, std::int32_t fieldNo);
  void WriteBlobs(std::int32_t sessionID, void* recordBuffer);
  void DeleteBlob(std::int32_t sessionID, void* recordBuffer, std::int32_t fieldNo);
  void DeleteBlobs(std::int32_t sessionID, void* recordBuffer);
  // Deletes what a reference names (the reference itself is not changed).
  void DeleteStoredValue(std::int32_t sessionID, const TNRDPageItemID& ref);
  void CopyBlobFromRecordBufferToStream(std::int32_t sessionID, void* recordBuffer, std::int32_t fieldNo,
                                        TNRDBLOBDescriptor& descriptor, TStream& stream);
  void CopyBlobFromStreamToRecordBuffer(void* recordBuffer, std::int32_t fieldNo, TNRDStream* stream);
  void ClearBlobInRecordBuffer(void* recordBuffer, std::int32_t fieldNo, bool forceClear);
  void GetDirectBlobInfoFromRecordBuffer(std::int32_t sessionID, void* recordBuffer, std::int32_t fieldNo,
                                         TNRDBLOBDescriptor& descriptor, void*& pBlobData);
  void SetDirectBlobInfoFromRecordBuffer(std::int32_t sessionID, void* recordBuffer, std::int32_t fieldNo,
                                         TNRDBLOBDescriptor& descriptor, void*& pBlobData);
  void Empty(std::int32_t sessionID);
  void Delete(std::int32_t sessionID);

  // Stores a value and returns its reference (shared page or own chain by size).
  TNRDPageItemID StoreValue(std::int32_t sessionID, const TNRDDiskBLOBCacheEntry& blob);
  // Loads what a reference names into a new entry (BlobData null when nothing is found).
  void LoadValue(std::int32_t sessionID, const TNRDPageItemID& ref, TNRDDiskBLOBCacheEntry& blob);
  // The pages of an own chain: its data pages and the pages of its list.
  void ChainPages(std::int32_t sessionID, std::int32_t firstPageNo, std::vector<std::int32_t>& dataPages,
                  std::vector<std::int32_t>& listPages, std::int64_t& storedSize);

  static TNRDPageItemID GetReference(const void* recordBuffer, const TNRDFieldDef& field);
  static void SetReference(void* recordBuffer, const TNRDFieldDef& field, const TNRDPageItemID& ref);
  TNRDDiskBLOBCacheEntry* Entry(const void* recordBuffer, std::int32_t fieldNo) const;
  std::size_t LiveEntries() const { return FEntries.LiveCount(); }
  TNRDBTreeBlobPageIndex& BlobPageIndex() { return *FBlobPageIndex; }
  bool HasBlobFields() const;

 private:
  std::uint32_t GetHandle(const void* recordBuffer, std::int32_t fieldNo) const;
  void SetHandle(void* recordBuffer, std::int32_t fieldNo, std::uint32_t handle) const;
  TNRDDiskBLOBCacheEntry* NewEntry(void* recordBuffer, std::int32_t fieldNo);
  void FreeEntry(void* recordBuffer, std::int32_t fieldNo);
  TNRDPageItemID StoreShared(std::int32_t sessionID, const TNRDDiskBLOBCacheEntry& blob);
  TNRDPageItemID StoreChain(std::int32_t sessionID, const TNRDDiskBLOBCacheEntry& blob);
  void LoadShared(std::int32_t sessionID, const TNRDPageItemID& ref, TNRDDiskBLOBCacheEntry& blob);
  void LoadChain(std::int32_t sessionID, std::int32_t firstPageNo, TNRDDiskBLOBCacheEntry& blob);
  void DeleteShared(std::int32_t sessionID, const TNRDPageItemID& ref);
  void DeleteChain(std::int32_t sessionID, std::int32_t firstPageNo);
  // For item 255: whether the first page reads as an own chain's header.
  bool LooksLikeChain(std::int32_t sessionID, std::int32_t pageNo);

  TNRDDiskPageManager* LPageManager;
  TNRDBaseFieldManager* LFieldManager;
  TNRDBaseRecordManager* LRecordManager;
  TNRDHandleTable FEntries;
  std::unordered_map<std::uint32_t, TNRDDiskBLOBCacheEntry*> FLive;  // the live entries by handle
  std::unique_ptr<TNRDBTreeBlobPageIndex> FBlobPageIndex;
};

}  // namespace nrd
