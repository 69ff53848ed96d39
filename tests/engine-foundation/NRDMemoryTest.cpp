#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "tests/engine-foundation/EngineTestUtil.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"

using nrd::ENRDException;
using nrd::TNRDMemoryManager;

namespace {

using enginetest::ExpectNRD;

}  // namespace

TEST(NRDMemory, GetMemRecordsSizeAndCountsTotal) {
  TNRDMemoryManager mm;
  void* a = mm.GetMem(10);
  void* b = mm.AllocMem(33);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 16, 0u);
  EXPECT_EQ(mm.GetMemoryBufferSize(a), 10);
  EXPECT_EQ(mm.GetMemoryBufferSize(b), 33);
  EXPECT_EQ(mm.GetMemoryBufferSize(nullptr), 0);
  for (int i = 0; i < 33; ++i) EXPECT_EQ(static_cast<unsigned char*>(b)[i], 0);
  EXPECT_EQ(mm.TotalMemAllocated(), 43);
  EXPECT_EQ(mm.LiveBlockCount(), 2u);
  mm.FreeAndNillMem(a);
  EXPECT_EQ(a, nullptr);
  mm.FreeMem(b);
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
  EXPECT_EQ(mm.LiveBlockCount(), 0u);
}

TEST(NRDMemory, RefusedSizesRaiseAndChangeNoCounter) {
  TNRDMemoryManager mm;
  ExpectNRD([&] { mm.GetMem(0); }, 30286, "Cannot allocate 0 bytes");
  ExpectNRD([&] { mm.GetMem(-1); }, 30015, "GetMem error: Out of memory");
  ExpectNRD([&] { mm.AllocMem(std::int64_t{1} << 31); }, 30015, "GetMem error");
  ExpectNRD([&] { mm.GetMem(std::int64_t{1} << 40); }, 30015, "GetMem error");
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
  EXPECT_EQ(mm.LiveBlockCount(), 0u);
}

TEST(NRDMemory, LimitIsEnforced) {
  TNRDMemoryManager mm(1000);
  void* a = mm.GetMem(600);
  ExpectNRD([&] { mm.GetMem(500); }, 30004, "Memory limit exceeded (Limit = 1000 bytes)");
  void* b = mm.GetMem(400);
  EXPECT_EQ(mm.TotalMemAllocated(), 1000);
  EXPECT_EQ(mm.GetFreeMemorySize() <= 1000, true);
  mm.FreeMem(a);
  mm.FreeMem(b);
}

TEST(NRDMemory, OverrunIsDetectedAfterFreeing) {
  TNRDMemoryManager mm;
  void* p = mm.GetMem(8);
  static_cast<unsigned char*>(p)[8] = 0;  // one byte past the user data, inside the tail signature
  ExpectNRD([&] { mm.FreeAndNillMem(p); }, 30137, "Memory overrun detected");
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(mm.LiveBlockCount(), 0u);
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
}

TEST(NRDMemory, ForeignPointersAndDoubleFreesAreRefused) {
  TNRDMemoryManager mm;
  int local = 0;
  void* foreign = &local;
  ExpectNRD([&] { mm.FreeAndNillMem(foreign); }, 30001, "Invalid pointer");
  EXPECT_EQ(foreign, &local);
  void* nil = nullptr;
  ExpectNRD([&] { mm.FreeAndNillMem(nil); }, 30001, "Invalid pointer");
  ExpectNRD([&] { mm.ReallocMem(nil, 10, false); }, 30014, "Invalid pointer");
  ExpectNRD([&] { mm.GetMemoryBufferSize(&local); }, 30005, "Invalid pointer");

  void* p = mm.GetMem(4);
  void* copy = p;
  mm.FreeMem(p);
  ExpectNRD([&] { mm.FreeMem(copy); }, 30001, "Invalid pointer");
  // A block of another manager is foreign too.
  TNRDMemoryManager other;
  void* q = other.GetMem(4);
  ExpectNRD([&] { mm.FreeMem(q); }, 30001);
  other.FreeMem(q);
}

TEST(NRDMemory, BrokenHeadSignatureIsInvalidPointer) {
  TNRDMemoryManager mm;
  void* p = mm.GetMem(4);
  auto* bytes = static_cast<unsigned char*>(p);
  bytes[-1] ^= 0xFF;
  ExpectNRD([&] { mm.ReallocMem(p, 8, false); }, 30014, "Invalid pointer");
  ExpectNRD([&] { mm.FreeMem(p); }, 30001, "Invalid pointer");
  bytes[-1] ^= 0xFF;
  mm.FreeMem(p);
}

TEST(NRDMemory, ReallocKeepsPrefixAndClearsTail) {
  TNRDMemoryManager mm;
  void* p = mm.GetMem(10);
  std::memset(p, 0x5A, 10);
  mm.ReallocMem(p, 20, true);
  EXPECT_EQ(mm.GetMemoryBufferSize(p), 20);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(static_cast<unsigned char*>(p)[i], 0x5A);
  for (int i = 10; i < 20; ++i) EXPECT_EQ(static_cast<unsigned char*>(p)[i], 0);
  mm.ReallocMemAndClearTail(p, 4);
  EXPECT_EQ(mm.GetMemoryBufferSize(p), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(static_cast<unsigned char*>(p)[i], 0x5A);
  EXPECT_EQ(mm.TotalMemAllocated(), 4);
  ExpectNRD([&] { mm.ReallocMem(p, 0, false); }, 30014, "Cannot allocate 0 bytes");
  EXPECT_EQ(mm.GetMemoryBufferSize(p), 4);  // a failed resize keeps the old block
  mm.FreeMem(p);
}

TEST(NRDMemory, ConcurrentUseKeepsTheTotal) {
  TNRDMemoryManager mm;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&mm] {
      for (int i = 1; i <= 500; ++i) {
        void* p = mm.GetMem(i);
        mm.ReallocMem(p, i + 7, true);
        mm.FreeMem(p);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
  EXPECT_EQ(mm.LiveBlockCount(), 0u);
}

TEST(NRDMemory, SafeMoveHandlesOverlapBothWays) {
  for (int shift : {-5, -3, -1, 1, 2, 3, 7}) {
    std::vector<unsigned char> buf(32), expect(32);
    for (int i = 0; i < 32; ++i) buf[i] = expect[i] = static_cast<unsigned char>(i);
    const int from = 10, count = 12;
    std::memmove(expect.data() + from + shift, expect.data() + from, count);
    nrd::SafeMove(buf.data() + from, buf.data() + from + shift, count);
    EXPECT_EQ(buf, expect) << "shift " << shift;
  }
}

TEST(NRDMemory, OwningHandleFreesItsBlock) {
  std::size_t before = nrd::GlobalMemoryManager().LiveBlockCount();
  {
    nrd::TNRDMemoryPtr p = nrd::NRDAllocMem(64);
    EXPECT_EQ(nrd::GlobalMemoryManager().LiveBlockCount(), before + 1);
  }
  EXPECT_EQ(nrd::GlobalMemoryManager().LiveBlockCount(), before);
}

TEST(NRDMemory, RegistryFollowsManyBlocksInAnyOrder) {
  TNRDMemoryManager mm;
  std::vector<void*> live;
  std::vector<void*> freed;
  std::uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  for (int round = 0; round < 20000; ++round) {
    if (live.empty() || next() % 3 != 0) {
      live.push_back(mm.GetMem(1 + next() % 64));
    } else {
      std::size_t i = next() % live.size();
      freed.push_back(live[i]);
      mm.FreeMem(live[i]);
      live[i] = live.back();
      live.pop_back();
    }
  }
  EXPECT_EQ(mm.LiveBlockCount(), live.size());
  for (void* p : live) ASSERT_TRUE(mm.IsLiveBlock(p));
  std::size_t stillFreed = 0;
  for (void* p : freed) stillFreed += !mm.IsLiveBlock(p);
  EXPECT_GT(stillFreed, 0u);  // addresses may be reused by later blocks, the rest must be gone
  for (void* p : live) mm.FreeMem(p);
  EXPECT_EQ(mm.LiveBlockCount(), 0u);
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
}

TEST(NRDMemory, DamagedSizeInAHeaderIsRefusedBeforeAnyRead) {
  // A header whose size was overwritten must not steer the tail check, the copy of a realloc or
  // the size query outside the block: the registry's size is the trusted one.
  TNRDMemoryManager mm;
  void* p = mm.AllocMem(32);
  auto* size = static_cast<unsigned char*>(p) - 16;
  const unsigned char saved[4] = {size[0], size[1], size[2], size[3]};
  const std::int32_t damaged[] = {1 << 30, 33, 31, -5, 0};
  for (std::int32_t d : damaged) {
    std::memcpy(size, &d, 4);
    ExpectNRD([&] { mm.GetMemoryBufferSize(p); }, 30005, "Invalid pointer");
    ExpectNRD([&] { mm.ReallocMem(p, 64, true); }, 30014, "Invalid pointer");
    void* q = p;
    ExpectNRD([&] { mm.FreeAndNillMem(q); }, 30001, "Invalid pointer");
    EXPECT_EQ(q, p);
    EXPECT_EQ(mm.LiveBlockCount(), 1u);
    EXPECT_EQ(mm.TotalMemAllocated(), 32);
  }
  std::memcpy(size, saved, 4);
  EXPECT_EQ(mm.GetMemoryBufferSize(p), 32);
  mm.ReallocMem(p, 40, true);
  EXPECT_EQ(mm.GetMemoryBufferSize(p), 40);
  mm.FreeAndNillMem(p);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
}

TEST(NRDMemory, DamagedMethodInAHeaderIsRefusedAndTheBlockStaysLive) {
  // A method byte no allocation wrote would decide how the block is released: the block is refused
  // like any damaged header, stays registered and is freed once the header is whole again.
  TNRDMemoryManager mm;
  void* p = mm.AllocMem(24);
  auto* method = static_cast<unsigned char*>(p) - 12;
  for (unsigned char d : {1, 2, 0x80, 0xFF}) {
    *method = d;
    ExpectNRD([&] { mm.GetMemoryBufferSize(p); }, 30005, "Invalid pointer");
    ExpectNRD([&] { mm.ReallocMem(p, 64, true); }, 30014, "Invalid pointer");
    void* q = p;
    ExpectNRD([&] { mm.FreeAndNillMem(q); }, 30001, "Invalid pointer");
    EXPECT_EQ(q, p);
    EXPECT_EQ(mm.LiveBlockCount(), 1u);
    EXPECT_EQ(mm.TotalMemAllocated(), 24);
  }
  *method = 0;
  mm.FreeAndNillMem(p);
  EXPECT_EQ(mm.LiveBlockCount(), 0u);
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
}
