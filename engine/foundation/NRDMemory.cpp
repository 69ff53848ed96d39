// The engine's guarded-block allocator.
#include "engine/foundation/NRDMemory.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>

#include "engine/foundation/NRDByteOrder.h"
#include "engine/foundation/NRDExcept.h"

namespace nrd {

namespace {

constexpr std::uint32_t kHeadSignature = 0xACCACCACu;
constexpr std::uint32_t kTailSignature = 0xACCEACCEu;
constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kTailSize = 4;
constexpr std::int64_t kMaxBlockSize = std::numeric_limits<std::int32_t>::max();
// Allocation methods by the block's total size: the first row whose maximum is at least the total.
struct MethodRow {
  std::int64_t maxTotalSize;
  std::uint8_t method;
};
constexpr MethodRow kMethodTable[] = {{2147483647LL + static_cast<std::int64_t>(kHeaderSize + kTailSize), 0}};

void PutU32(std::uint8_t* p, std::uint32_t v) { PutLE32(p, v); }
std::uint32_t GetU32(const std::uint8_t* p) { return GetLE32(p); }

std::int64_t HeaderSize(const void* user) {
  return static_cast<std::int32_t>(GetU32(static_cast<const std::uint8_t*>(user) - 16));
}
std::uint8_t HeaderMethod(const void* user) { return static_cast<const std::uint8_t*>(user)[-12]; }
std::uint32_t HeadSignature(const void* user) { return GetU32(static_cast<const std::uint8_t*>(user) - 4); }

}  // namespace

// ----- PointerSet ----------------------------------------------------------------------------------
namespace {
constexpr std::uintptr_t kEmpty = 0;
constexpr std::uintptr_t kErased = 1;
std::size_t HashPointer(std::uintptr_t v) {
  v ^= v >> 33;
  v *= 0xff51afd7ed558ccdULL;
  v ^= v >> 33;
  return static_cast<std::size_t>(v);
}
}  // namespace

std::size_t TNRDMemoryManager::PointerSet::Slot(const void* p) const {
  // The slot holding p, or the empty slot that ends its probe run.
  const auto key = reinterpret_cast<std::uintptr_t>(p);
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = HashPointer(key) & mask;
  while (slots_[i] != kEmpty && slots_[i] != key) i = (i + 1) & mask;
  return i;
}

bool TNRDMemoryManager::PointerSet::Contains(const void* p) const { return SizeOf(p) >= 0; }

std::int64_t TNRDMemoryManager::PointerSet::SizeOf(const void* p) const {
  if (slots_.empty() || p == nullptr) return -1;
  const std::size_t i = Slot(p);
  return slots_[i] == reinterpret_cast<std::uintptr_t>(p) ? sizes_[i] : -1;
}

void TNRDMemoryManager::PointerSet::Grow() {
  std::vector<std::uintptr_t> old;
  std::vector<std::int64_t> oldSizes;
  old.swap(slots_);
  oldSizes.swap(sizes_);
  // Double when mostly live, else rebuild at the same size to drop the erased marks.
  std::size_t capacity = old.empty() ? 64 : (count_ * 2 >= old.size() / 2 ? old.size() * 2 : old.size());
  slots_.assign(capacity, kEmpty);
  sizes_.assign(capacity, 0);
  used_ = count_;
  const std::size_t mask = capacity - 1;
  for (std::size_t k = 0; k < old.size(); ++k) {
    const std::uintptr_t v = old[k];
    if (v == kEmpty || v == kErased) continue;
    std::size_t i = HashPointer(v) & mask;
    while (slots_[i] != kEmpty) i = (i + 1) & mask;
    slots_[i] = v;
    sizes_[i] = oldSizes[k];
  }
}

void TNRDMemoryManager::PointerSet::Insert(const void* p, std::int64_t size) {
  if ((used_ + 1) * 2 > slots_.size()) Grow();
  const auto key = reinterpret_cast<std::uintptr_t>(p);
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = HashPointer(key) & mask;
  std::size_t firstErased = slots_.size();
  while (slots_[i] != kEmpty) {
    if (slots_[i] == key) {
      sizes_[i] = size;
      return;
    }
    if (slots_[i] == kErased && firstErased == slots_.size()) firstErased = i;
    i = (i + 1) & mask;
  }
  if (firstErased != slots_.size()) {
    i = firstErased;
  } else {
    ++used_;
  }
  slots_[i] = key;
  sizes_[i] = size;
  ++count_;
}

void TNRDMemoryManager::PointerSet::Erase(const void* p) {
  if (slots_.empty()) return;
  std::size_t i = Slot(p);
  if (slots_[i] != reinterpret_cast<std::uintptr_t>(p)) return;
  slots_[i] = kErased;
  --count_;
}

// ----- TNRDMemoryManager ----------------------------------------------------------------------------
TNRDMemoryManager::TNRDMemoryManager() = default;
TNRDMemoryManager::TNRDMemoryManager(std::int64_t maxMemorySize) : FMaxMemorySize(maxMemorySize) {}
TNRDMemoryManager::~TNRDMemoryManager() = default;

bool TNRDMemoryManager::IsLiveLocked(const void* buffer) const {
  return buffer != nullptr && FLiveBlocks.Contains(buffer);
}

std::int64_t TNRDMemoryManager::CheckedSizeLocked(const void* buffer) const {
  const std::int64_t size = FLiveBlocks.SizeOf(buffer);
  // Only the heap method is ever written: any other method byte is a damaged header, and trusting
  // it would skip the release of the block.
  if (size < 0 || HeadSignature(buffer) != kHeadSignature || HeaderSize(buffer) != size || HeaderMethod(buffer) != 0)
    return -1;
  return size;
}

bool TNRDMemoryManager::IsLiveBlock(const void* buffer) const {
  TCriticalSectionGuard guard(MMLock);
  return IsLiveLocked(buffer);
}

std::int64_t TNRDMemoryManager::TotalMemAllocated() const {
  TCriticalSectionGuard guard(MMLock);
  return FTotalMemAllocated;
}

std::size_t TNRDMemoryManager::LiveBlockCount() const {
  TCriticalSectionGuard guard(MMLock);
  return FLiveBlocks.Size();
}

void* TNRDMemoryManager::GetMem(std::int64_t bufferSize) {
  if (bufferSize == 0) throw ENRDException(30286, "Cannot allocate 0 bytes");
  if (bufferSize < 0 || bufferSize > kMaxBlockSize)
    throw ENRDException(30015, "GetMem error: %s", {kOutOfMemoryText});
  if (FMaxMemorySize != 0) {
    std::int64_t total;
    {
      TCriticalSectionGuard guard(MMLock);
      total = FTotalMemAllocated;
    }
    if (total + bufferSize > FMaxMemorySize)
      throw ENRDException(30004, "Memory limit exceeded (Limit = %d bytes)", {FMaxMemorySize});
  }
  try {
    std::int64_t total = bufferSize + static_cast<std::int64_t>(kHeaderSize + kTailSize);
    std::uint8_t method = kMethodTable[0].method;
    for (const MethodRow& row : kMethodTable) {
      if (row.maxTotalSize >= total) {
        method = row.method;
        break;
      }
    }
    if (method != 0) throw ENRDException(30340, "Unknown GetMem method type: %d", {static_cast<int>(method)});
    // Round up so that the tail signature lies inside what the allocator hands out.
    std::size_t bytes = (static_cast<std::size_t>(total) + 15) & ~static_cast<std::size_t>(15);
    auto* block = static_cast<std::uint8_t*>(std::aligned_alloc(16, bytes));
    if (block == nullptr) throw EOutOfMemory(kOutOfMemoryText);
    std::uint8_t* user = block + kHeaderSize;
    std::memset(block, 0, kHeaderSize);
    PutU32(block, static_cast<std::uint32_t>(bufferSize));
    block[4] = method;
    PutU32(user - 4, kHeadSignature);
    PutU32(user + bufferSize, kTailSignature);
    try {
      TCriticalSectionGuard guard(MMLock);
      FLiveBlocks.Insert(user, bufferSize);
      FTotalMemAllocated += bufferSize;
    } catch (...) {
      std::free(block);
      throw;
    }
    return user;
  } catch (const std::exception& e) {
    throw ENRDException(30015, "GetMem error: %s", {e.what()});
  }
}

void* TNRDMemoryManager::AllocMem(std::int64_t bufferSize) {
  void* p = GetMem(bufferSize);
  std::memset(p, 0, static_cast<std::size_t>(bufferSize));
  return p;
}

void TNRDMemoryManager::FreeAndNillMem(void*& buffer) {
  bool overrun;
  try {
    std::uint8_t* user = static_cast<std::uint8_t*>(buffer);
    std::int64_t size;
    std::uint8_t method;
    {
      TCriticalSectionGuard guard(MMLock);
      size = CheckedSizeLocked(user);
      if (size < 0) throw ENRDException(30001, "Invalid pointer");
      method = HeaderMethod(user);
      overrun = GetU32(user + size) != kTailSignature;
      FLiveBlocks.Erase(user);
      FTotalMemAllocated -= size;
    }
    if (method == 0) std::free(user - kHeaderSize);
    buffer = nullptr;
  } catch (const ENRDException&) {
    throw;
  } catch (const std::exception& e) {
    throw ENRDException(30138, "FreeAndNillMem error: %s", {e.what()});
  }
  if (overrun) throw ENRDException(30137, "Memory overrun detected");
}

void TNRDMemoryManager::FreeMem(void* buffer) { FreeAndNillMem(buffer); }

void TNRDMemoryManager::ReallocMem(void*& buffer, std::int64_t bufferSize, bool clearTail) {
  try {
    std::int64_t oldSize;
    {
      TCriticalSectionGuard guard(MMLock);
      oldSize = CheckedSizeLocked(buffer);
      if (oldSize < 0) throw ENRDException(30002, "Invalid pointer");
    }
    void* fresh = GetMem(bufferSize);
    std::memcpy(fresh, buffer, static_cast<std::size_t>(std::min(oldSize, bufferSize)));
    if (clearTail && oldSize < bufferSize)
      std::memset(static_cast<std::uint8_t*>(fresh) + oldSize, 0, static_cast<std::size_t>(bufferSize - oldSize));
    try {
      FreeAndNillMem(buffer);
    } catch (...) {
      // The old block is gone (or was never ours); the caller keeps the new one.
      buffer = fresh;
      throw;
    }
    buffer = fresh;
  } catch (const std::exception& e) {
    throw ENRDException(30014, "ReallocMem error: %s", {e.what()});
  }
}

std::int64_t TNRDMemoryManager::GetMemoryBufferSize(const void* buffer) const {
  if (buffer == nullptr) return 0;
  TCriticalSectionGuard guard(MMLock);
  const std::int64_t size = CheckedSizeLocked(buffer);
  if (size < 0) throw ENRDException(30005, "Invalid pointer");
  return size;
}

std::int64_t TNRDMemoryManager::GetFreeMemorySize() {
  const std::int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
  TCriticalSectionGuard guard(MMLock);
  if (FFreeSystemMemoryReadAtMs < 0 || nowMs - FFreeSystemMemoryReadAtMs >= 1000) {
    std::int64_t available = 0;
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::int64_t value;
    std::string unit;
    while (meminfo >> key >> value) {
      std::getline(meminfo, unit);
      if (key == "MemAvailable:") {
        available = value * 1024;
        break;
      }
    }
    FFreeSystemMemorySize = available;
    FFreeSystemMemoryReadAtMs = nowMs;
  }
  if (FMaxMemorySize == 0) return FFreeSystemMemorySize;
  return std::min(FMaxMemorySize, FFreeSystemMemorySize);
}

TNRDMemoryManager& GlobalMemoryManager() {
  static TNRDMemoryManager* manager = new TNRDMemoryManager();
  return *manager;
}

void SafeMove(const void* source, void* dest, std::int32_t count) {
  if (count <= 0 || source == dest) return;
  // memmove copies overlapping ranges correctly in every direction.
  std::memmove(dest, source, static_cast<std::size_t>(count));
}

void TNRDMemoryDeleter::operator()(void* p) const noexcept {
  if (p == nullptr) return;
  try {
    GlobalMemoryManager().FreeMem(p);
  } catch (...) {
    // A destructor never throws; a damaged block is already freed by FreeMem.
  }
}

}  // namespace nrd
