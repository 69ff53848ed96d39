// Internal files: variable-size structures stored inside a database file as chains of pages of one
// page type, linked through NextPageNo, with a 10-byte internal file header at the start of the first
// page's data area (D = page size - 40 data bytes per page; little-endian):
//   0  1  header size 10
//   1  4  stored size (bytes of content as stored, after compression)
//   5  4  plain size (content before compression; 0 in direct files)
//   9  1  compression algorithm (0 none, 1 ZLIB, 2 BZIP, 3 PPM; 0 in direct files)
// Content byte p lies on chain page (p + 10) div D at data offset (p + 10) mod D; a file of stored
// size S occupies ceil((S + 10) / D) pages.
//
// TNRDInternalDBTransactedAccessFile is read and written whole through the page cache, so its changes
// belong to a session and become durable with that session's commit; it can be compressed.
// TNRDInternalDBDirectAccessFile is read and written in place in the file, bypassing cache,
// transaction and encryption; its content bytes serve other processes as lock targets.
//
// Hostile chains (a loop, a link to nowhere, a size larger than the file) raise instead of looping
// or reading out of bounds. Shrinking a transacted file releases the pages cut off its chain.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/foundation/NRDCompression.h"
#include "engine/foundation/NRDTypes.h"

namespace nrd {

class TNRDDiskPageManager;

inline constexpr std::int32_t InternalFileHeaderSize = 10;

class TNRDInternalDBTransactedAccessFile {
 public:
  TNRDInternalDBTransactedAccessFile(TNRDDiskPageManager* pageManager, std::uint16_t pageTypeID)
      : LPageManager(pageManager), FPageTypeID(pageTypeID) {}

  // 30383 when a file is already open.
  void CreateFile(std::int32_t sessionID);
  // -1 leaves the file unchanged.
  void OpenFile(std::int32_t startPageNo);
  void DeleteFile(std::int32_t sessionID, std::int32_t startPageNo);
  void GetFileSize(std::int32_t sessionID, std::int32_t& size, std::int32_t& decompressedSize,
                   TNRDCompressionAlgorithm& compressionAlgorithm, bool& fileWasChanged, bool syncronizeAllowed);
  // The plain size.
  std::int32_t GetSize(std::int32_t sessionID);
  void SetFileSize(std::int32_t sessionID, std::int32_t newSize, std::int32_t decompressedSize,
                   TNRDCompressionAlgorithm compressionAlgorithm);
  // 30387 when the file holds fewer plain bytes; 30388 when the chain ends early; 20189 when the
  // content does not decompress.
  void ReadFile(std::int32_t sessionID, void* buffer, std::int32_t count, bool synchronizeAllowed);
  // 20187 when compression fails (also for 0 bytes).
  void WriteFile(std::int32_t sessionID, const void* buffer, std::int32_t count, TNRDCompressionAlgorithm algorithm,
                 std::uint8_t compressionMode);
  // Rewrites the header of the first page (the chain then ends there) without flagging the page.
  void InitFileHeader(std::int32_t sessionID);
  bool LockFile();
  bool UnlockFile();

  TNRDDiskPageManager* PageManager() const { return LPageManager; }
  std::int32_t StartPageNo() const { return FStartPageNo; }

 private:
  void CheckOpened(const char* operation) const;
  std::int32_t PagesFor(std::int64_t storedSize) const;
  // The number of the k-th page of the chain (0 = the first).
  std::int32_t ChainPage(std::int32_t sessionID, std::int32_t k, bool synchronizeAllowed);
  // Copies between buf and the chain's content from content byte 0; returns the bytes done.
  std::int64_t CopyContent(std::int32_t sessionID, std::uint8_t* buf, std::int64_t count, bool toFile,
                           bool synchronizeAllowed);
  std::int32_t MaxChainLength() const;

  TNRDDiskPageManager* LPageManager;
  std::int32_t FStartPageNo = -1;
  std::uint16_t FPageTypeID;
};

class TNRDInternalDBDirectAccessFile {
 public:
  TNRDInternalDBDirectAccessFile(TNRDDiskPageManager* pageManager, std::uint16_t pageTypeID)
      : LPageManager(pageManager), FPageTypeID(pageTypeID), FFilePages(0, 100, 10) {}

  // Builds the whole chain as pages of the system session -2 (unencrypted); 20157 when open.
  void CreateFile(std::int32_t size);
  // Remembers the first page and loads the page list from the file.
  void OpenFile(std::int32_t startPageNo);
  void DeleteFile(std::int32_t startPageNo);
  std::int32_t GetSize();
  void ReadBuffer(void* buffer, std::int32_t count, std::int32_t position);
  // 20158 past the end of the file.
  void WriteBuffer(const void* buffer, std::int32_t count, std::int32_t position);
  bool LockFile();
  bool UnlockFile();
  bool LockByte(std::int32_t byteNo);
  bool UnlockByte(std::int32_t byteNo);
  bool IsByteLocked(std::int32_t byteNo);
  bool IsRegionLocked(std::int32_t byteNo, std::int32_t byteCount);

  TNRDDiskPageManager* PageManager() const { return LPageManager; }
  std::int32_t StartPageNo() const { return FStartPageNo; }
  std::int32_t FileSize() const { return FFileSize; }
  const TNRDIntegerArray& FilePages() const { return FFilePages; }

 private:
  void CheckOpened(const char* operation) const;
  // Page and page offset of content byte p; 20159 past the end.
  void Place(std::int32_t p, std::int32_t& pageNo, std::int32_t& pageOffset) const;
  // Reads the page header straight from the file (without its first byte), checks the type and
  // returns NextPageNo.
  std::int32_t ReadNextPageNo(std::int32_t pageNo);
  void Transfer(std::uint8_t* buffer, std::int32_t count, std::int32_t position, bool write);

  TNRDDiskPageManager* LPageManager;
  std::int32_t FStartPageNo = -1;
  std::uint16_t FPageTypeID;
  std::int32_t FFileSize = 0;
  TNRDIntegerArray FFilePages;
};

}  // namespace nrd
