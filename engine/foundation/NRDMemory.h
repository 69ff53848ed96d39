// TNRDMemoryManager: the engine's single allocator of guarded blocks, and `SafeMove`.
// Every block carries its user size, its allocation method and a head signature before the user
// data and a tail signature right after it; freeing or resizing checks both, so an overrun is
// reported and a foreign pointer is refused. A registry of live blocks is consulted before any
// header is read, so a foreign pointer, nil or a double free raises 30001/30002/30005 instead of
// touching memory the manager does not own.
//
// Block layout (user pointer P is 16-byte aligned; values little-endian):
//   P-16  Int32  user size          P-12  UInt8  method (0 = heap)
//   P-4   UInt32 head signature 0xACCACCAC
//   P     user data (size bytes)    P+size UInt32 tail signature 0xACCEACCE
//
// Sizes are Int64 at the interface; a size below 1 or above 2,147,483,647 is refused.
// Thread safety: every method may be called from any thread; the live-total counter and the
// registry are guarded by one critical section. The limit test reads the total without the lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/foundation/NRDRuntime.h"

namespace nrd {

class TNRDMemoryManager {
 public:
  TNRDMemoryManager();
  explicit TNRDMemoryManager(std::int64_t maxMemorySize);
  // Does not free live blocks.
  ~TNRDMemoryManager();
  TNRDMemoryManager(const TNRDMemoryManager&) = delete;
  TNRDMemoryManager& operator=(const TNRDMemoryManager&) = delete;

  // A new block with undefined user data. Raises 30286 for size 0, 30004 over the limit, 30015 when
  // the size is refused or the allocation fails.
  void* GetMem(std::int64_t bufferSize);
  // GetMem, then the user bytes zeroed.
  void* AllocMem(std::int64_t bufferSize);
  // Frees the block and sets the variable to nil. 30001 for a pointer that is not a live block
  // (nothing freed); 30137 when the tail signature was damaged (the block is freed, the variable
  // nil); any other failure becomes 30138.
  void FreeAndNillMem(void*& buffer);
  template <typename T> void FreeAndNillMem(T*& buffer) {
    void* p = buffer;
    try {
      FreeAndNillMem(p);
    } catch (...) {
      buffer = static_cast<T*>(p);
      throw;
    }
    buffer = nullptr;
  }
  // Frees the block; the caller's variable keeps its value.
  void FreeMem(void* buffer);
  // Replaces the block by a new one of the new size with the common prefix; with clearTail the
  // bytes beyond the old size are zero. Never resizes in place; does not accept nil. Every failure
  // is raised as 30014 "ReallocMem error: %s".
  void ReallocMem(void*& buffer, std::int64_t bufferSize, bool clearTail);
  template <typename T> void ReallocMem(T*& buffer, std::int64_t bufferSize, bool clearTail) {
    void* p = buffer;
    ReallocMem(p, bufferSize, clearTail);
    buffer = static_cast<T*>(p);
  }
  void ReallocMemAndClearTail(void*& buffer, std::int64_t bufferSize) { ReallocMem(buffer, bufferSize, true); }
  template <typename T> void ReallocMemAndClearTail(T*& buffer, std::int64_t bufferSize) {
    ReallocMem(buffer, bufferSize, true);
  }
  // The recorded user size; 0 for nil; 30005 for a pointer that is not a live block.
  std::int64_t GetMemoryBufferSize(const void* buffer) const;
  // The available physical memory, capped by the limit when there is one. The system's figure is
  // read at most once a second: page managers ask for it whenever a table is first opened.
  std::int64_t GetFreeMemorySize();

  std::int64_t MaxMemorySize() const { return FMaxMemorySize; }
  std::int64_t TotalMemAllocated() const;
  // Number of live blocks (for leak checks in tests).
  std::size_t LiveBlockCount() const;
  // True when `buffer` is the user pointer of a live block of this manager.
  bool IsLiveBlock(const void* buffer) const;

 private:
  bool IsLiveLocked(const void* buffer) const;

  std::int64_t FMaxMemorySize = 0;
  std::int64_t FTotalMemAllocated = 0;
  std::int64_t FFreeSystemMemorySize = 0;
  std::int64_t FFreeSystemMemoryReadAtMs = -1;  // steady clock, -1: never read
  mutable TCriticalSection MMLock;

  // The live blocks: an open-addressing map of user pointers to their user sizes (linear probing,
  // tombstones), so that registering a block allocates nothing in the common case. The size kept
  // here is the one trusted: a header whose size differs was damaged and is refused.
  class PointerSet {
   public:
    bool Contains(const void* p) const;
    // The recorded size of a live block, or -1.
    std::int64_t SizeOf(const void* p) const;
    void Insert(const void* p, std::int64_t size);
    void Erase(const void* p);
    std::size_t Size() const { return count_; }

   private:
    std::size_t Slot(const void* p) const;
    void Grow();
    std::vector<std::uintptr_t> slots_;  // 0 empty, 1 erased, else a pointer
    std::vector<std::int64_t> sizes_;    // the user size of each live slot
    std::size_t count_ = 0;
    std::size_t used_ = 0;  // live + erased slots
  };
  // The recorded size when `buffer` is live and its header is intact (signature and size), else -1.
  std::int64_t CheckedSizeLocked(const void* buffer) const;
  PointerSet FLiveBlocks;
};

// The process-wide manager, created without a limit on first use and never destroyed (blocks
// still live at exit are not released).
TNRDMemoryManager& GlobalMemoryManager();

// A byte copy between possibly overlapping buffers.
void SafeMove(const void* source, void* dest, std::int32_t count);

// Owning handle of a GlobalMemoryManager block, for code that must free on every path.
struct TNRDMemoryDeleter {
  void operator()(void* p) const noexcept;
};
using TNRDMemoryPtr = std::unique_ptr<std::uint8_t, TNRDMemoryDeleter>;
inline TNRDMemoryPtr NRDAllocMem(std::int64_t size) {
  return TNRDMemoryPtr(static_cast<std::uint8_t*>(GlobalMemoryManager().AllocMem(size)));
}

}  // namespace nrd
