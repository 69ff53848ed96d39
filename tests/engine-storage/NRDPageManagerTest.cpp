// The page cache: sorted page list, page objects, the page manager's session lists, eviction,
// commit and cancel, and the per-session table state cache.
#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <set>

#include <gtest/gtest.h>

#include "engine/foundation/NRDMemory.h"
#include "tests/engine-storage/StorageTestUtil.h"

using namespace nrd;
using enginetest::CodeOf;
using enginetest::ExpectNRD;
using storagetest::MapPageManager;

namespace {

TEST(NRDSortedPageList, KeepsNumbersAscendingAndFindsEachPage) {
  MapPageManager pm;
  std::vector<std::int32_t> numbers(300);
  std::iota(numbers.begin(), numbers.end(), 0);
  std::mt19937 rng(5);
  std::shuffle(numbers.begin(), numbers.end(), rng);
  std::vector<std::unique_ptr<TNRDPage>> pages;
  TNRDSortedPageList list;
  for (std::int32_t n : numbers) {
    pages.push_back(std::make_unique<TNRDPage>(&pm));
    pages.back()->SetPageNo(n * 3);
    list.Insert(pages.back().get());
  }
  ASSERT_EQ(list.Count(), 300);
  EXPECT_TRUE(std::is_sorted(list.KeyItems.begin(), list.KeyItems.begin() + list.Count()));
  for (const auto& p : pages) EXPECT_EQ(list.Find(p->PageNo()), p.get());
  EXPECT_EQ(list.Find(1), nullptr);
  EXPECT_EQ(list.Find(-5), nullptr);
  EXPECT_EQ(list.Find(100000), nullptr);
  // Delete every second page; the rest stay findable and sorted.
  for (std::int32_t n = 0; n < 300; n += 2) list.Delete(n * 3);
  EXPECT_EQ(list.Count(), 150);
  for (std::int32_t n = 0; n < 300; ++n) EXPECT_EQ(list.Find(n * 3) != nullptr, n % 2 == 1) << n;
  EXPECT_TRUE(std::is_sorted(list.KeyItems.begin(), list.KeyItems.begin() + list.Count()));
}

TEST(NRDSortedPageList, DeleteAndUpdateErrors) {
  MapPageManager pm;
  TNRDPage a(&pm), b(&pm), c(&pm);
  a.SetPageNo(4);
  b.SetPageNo(9);
  c.SetPageNo(5);
  TNRDSortedPageList list;
  ExpectNRD([&] { list.Delete(4); }, 20165, "no elements in array!");
  list.Insert(&a);
  list.Insert(&b);
  ExpectNRD([&] { list.Delete(5); }, 20166, "element not found, key = 5, itemCount = 2");
  ExpectNRD([&] { list.UpdateLRU(&c); }, 20167, "Page not found");
  list.Delete(4);
  ExpectNRD([&] { list.Delete(4); }, 20166);
}

TEST(NRDSortedPageList, WalksPagesByLastUse) {
  MapPageManager pm;
  std::vector<std::unique_ptr<TNRDPage>> pages;
  TNRDSortedPageList list;
  EXPECT_EQ(list.FirstByLRU(), nullptr);
  for (std::int32_t n : {50, 10, 30, 20}) {
    pages.push_back(std::make_unique<TNRDPage>(&pm));
    pages.back()->SetPageNo(n);
    list.Insert(pages.back().get());
  }
  list.UpdateLRU(list.Find(50));
  list.UpdateLRU(list.Find(20));
  std::vector<std::int32_t> order;
  for (TNRDPage* p = list.FirstByLRU(); p != nullptr; p = list.NextByLRU()) order.push_back(p->PageNo());
  EXPECT_EQ(order, (std::vector<std::int32_t>{10, 30, 50, 20}));
}

TEST(NRDSortedPageList, GrowsAndShrinksInLargeSteps) {
  TNRDSortedPageList list;
  std::vector<std::int32_t> allocations;
  for (std::int32_t n : {1, 2001, 6001, 14001, 24001, 34001}) {
    list.SetSize(n);
    allocations.push_back(list.AllocItemCount);
  }
  EXPECT_EQ(allocations, (std::vector<std::int32_t>{2000, 6000, 14000, 24000, 34000, 44000}));
  list.SetSize(100);  // far more than deAllocBy spare slots: shrink to exactly the size
  EXPECT_EQ(list.AllocItemCount, 100);
  EXPECT_EQ(list.deAllocBy, 2000);
  list.SetSize(0);
  EXPECT_EQ(list.AllocItemCount, 0);
  EXPECT_EQ(list.Count(), 0);
}

TEST(NRDPage, FreshHeaderAndBufferRules) {
  MapPageManager pm;
  TNRDPage page(&pm);
  EXPECT_EQ(page.PageNo(), -1);
  EXPECT_TRUE(page.OwnBuffer());
  EXPECT_TRUE(page.EncryptionEnabled());
  ExpectNRD([&] { page.EnlargePageBuffer(200); }, 20038, "Buffer is Nil");
  page.AllocPageBuffer();
  const std::uint8_t expected[40] = {'N', 'R', 'D', 'P', 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0,
                                     0,   0,   0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(page.PageBuffer(), expected, 40), 0);
  EXPECT_EQ(page.PageData(), page.PageBuffer() + 40);
  EXPECT_EQ(page.PageDataSize(), 88);
  ExpectNRD([&] { page.EnlargePageBuffer(127); }, 20039, "Invalid page modification");
  page.PageData()[0] = 0x5A;
  page.EnlargePageBuffer(300);
  EXPECT_EQ(page.PageData()[0], 0x5A);
  EXPECT_EQ(GlobalMemoryManager().GetMemoryBufferSize(page.PageBuffer()), 300);

  // A borrowed buffer is copied into an own one.
  std::vector<std::uint8_t> borrowed(128, 0x11);
  TNRDPage view(&pm);
  view.SetPageBuffer(borrowed.data(), false);
  view.EnlargePageBuffer(256);
  EXPECT_TRUE(view.OwnBuffer());
  EXPECT_NE(view.PageBuffer(), borrowed.data());
  EXPECT_EQ(view.PageBuffer()[127], 0x11);
}

TEST(NRDPage, TableStatesPerSession) {
  MapPageManager pm;
  TNRDPage page(&pm);
  std::int32_t state = 99;
  EXPECT_FALSE(page.GetTableState(-2, state));
  page.SetTableState(3, 17);
  EXPECT_TRUE(page.GetTableState(3, state));
  EXPECT_EQ(state, 17);
  EXPECT_FALSE(page.GetTableState(-2, state));  // a grown entry stays unassigned
  EXPECT_FALSE(page.GetTableState(7, state));
}

TEST(NRDPageManager, GetPageChecksTheStoredType) {
  MapPageManager pm;
  pm.Seed(3, 10, 0x33);
  ExpectNRD([&] { pm.GetPage(0, 3, 12); }, 20153, "Expecting type 12, but found 10");
  // The mismatching page was not kept: the next request reads it again.
  const int reads = pm.Reads;
  TNRDPage* any = pm.GetPage(0, 3, AnyPageType);
  EXPECT_EQ(pm.Reads, reads + 1);
  EXPECT_EQ(any->PageData()[0], 0x33);
  pm.PutPage(any);
  pm.SetIgnoreCRCErrors(true);
  pm.SetCacheCapacity(0);  // force a read, so that the type check runs again
  TNRDPage* p = pm.GetPage(0, 3, 12);
  pm.PutPage(p);
  EXPECT_EQ(pm.SharedPages().Count(), 0);
  ExpectNRD([&] { pm.GetPage(-1, 3, 10); }, 20186, "Invalid Session ID");
}

TEST(NRDPageManager, UnreadablePageIsNotCached) {
  MapPageManager pm;
  ExpectNRD([&] { pm.GetPage(0, 8, 10); }, 20299, "Page No: 8, type 10");
  EXPECT_EQ(pm.SharedPages().Count(), 0);
  pm.Seed(8, 10, 1);
  TNRDPage* p = pm.GetPage(0, 8, 10);
  EXPECT_EQ(p->PageData()[0], 1);
  pm.PutPage(p);
}

TEST(NRDPageManager, SessionSeesItsOwnDirtyCopy) {
  MapPageManager pm;
  pm.Seed(1, 10, 0x01);
  TNRDPage* p = pm.GetPage(1, 1, 10);
  p->PageData()[0] = 0x02;
  p->SetIsDirty(true);
  pm.PutPage(p);
  EXPECT_EQ(pm.SharedPages().Count(), 0);
  TNRDPage* again = pm.GetPage(1, 1, 10);
  EXPECT_EQ(again, p);
  EXPECT_EQ(again->PageData()[0], 0x02);
  pm.PutPage(again);
  // Another session reads the committed version.
  TNRDPage* other = pm.GetPage(2, 1, 10);
  EXPECT_NE(other, p);
  EXPECT_EQ(other->PageData()[0], 0x01);
  pm.PutPage(other);
  // After the commit the shared cache holds the new version only.
  pm.ApplyChanges(1);
  EXPECT_EQ(pm.SharedPages().Count(), 1);
  TNRDPage* fresh = pm.GetPage(2, 1, 10);
  EXPECT_EQ(fresh->PageData()[0], 0x02);
  pm.PutPage(fresh);
  EXPECT_EQ(pm.StoredFirstByte(1), 0x02);
}

TEST(NRDPageManager, PageHeldByAnotherSession) {
  MapPageManager pm;
  pm.Seed(4, 10, 0);
  TNRDPage* p = pm.GetPage(1, 4, 10);
  TNRDPage* twice = pm.GetPage(1, 4, 10);  // the same session may take it again
  EXPECT_EQ(twice->UseCount(), 2);
  ExpectNRD([&] { pm.GetPage(2, 4, 10); }, 20090, "Page is used by other session");
  pm.PutPage(twice);
  ExpectNRD([&] { pm.GetPage(2, 4, 10); }, 20090);
  pm.PutPage(p);
  TNRDPage* q = pm.GetPage(2, 4, 10);
  EXPECT_EQ(q->SessionID(), 2);
  pm.PutPage(q);
}

TEST(NRDPageManager, ApplyWithPageStillHeldWritesNothing) {
  MapPageManager pm;
  pm.Seed(2, 10, 0);
  pm.Seed(3, 10, 0);
  TNRDPage* a = pm.GetPage(1, 2, 10);
  a->SetIsDirty(true);
  pm.PutPage(a);
  TNRDPage* held = pm.GetPage(1, 3, 10);
  ExpectNRD([&] { pm.ApplyChanges(1); }, 20152, "Some session pages not released");
  EXPECT_TRUE(pm.Written.empty());
  pm.PutPage(held);
  pm.ApplyChanges(1);
  EXPECT_EQ(pm.Written, (std::vector<std::int32_t>{2}));
}

TEST(NRDPageManager, EvictsLeastRecentlyUsedPagesNotInUse) {
  MapPageManager pm;
  pm.SetCacheCapacity(3);
  for (std::int32_t n = 0; n < 6; ++n) pm.Seed(n, 10, static_cast<std::uint8_t>(n));
  TNRDPage* pinned = pm.GetPage(0, 0, 10);  // held throughout: never evicted
  for (std::int32_t n = 1; n <= 3; ++n) pm.PutPage(pm.GetPage(0, n, 10));
  // Cache: 0 (held), then 2, 3 by last use; 1 went when 3 arrived.
  auto cached = [&] {
    std::set<std::int32_t> s;
    for (std::int32_t i = 0; i < pm.SharedPages().Count(); ++i) s.insert(pm.SharedPages().Item(i)->PageNo());
    return s;
  };
  EXPECT_EQ(cached(), (std::set<std::int32_t>{0, 2, 3}));
  pm.PutPage(pm.GetPage(0, 2, 10));  // 2 is now more recent than 3
  pm.PutPage(pm.GetPage(0, 4, 10));
  EXPECT_EQ(cached(), (std::set<std::int32_t>{0, 2, 4}));
  // With every other page held, the cache grows past its capacity rather than drop a held page.
  TNRDPage* h2 = pm.GetPage(0, 2, 10);
  TNRDPage* h4 = pm.GetPage(0, 4, 10);
  TNRDPage* h5 = pm.GetPage(0, 5, 10);
  pm.PutPage(h5);
  EXPECT_EQ(cached(), (std::set<std::int32_t>{0, 2, 4}));
  pm.PutPage(h2);
  pm.PutPage(h4);
  pm.PutPage(pinned);
  EXPECT_LE(pm.SharedPages().Count(), 3);
}

// A bigger cache evicts in batches: against a model of last uses, every page taken is served with
// its own content, no held page is ever dropped, the cache stays within its capacity once nothing
// is held, and the most recently used pages are the ones kept.
TEST(NRDPageManager, BatchEvictionKeepsTheMostRecentPagesAndNoHeldOne) {
  MapPageManager pm;
  pm.SetCacheCapacity(48);
  for (std::int32_t n = 0; n < 300; ++n) pm.Seed(n, 10, static_cast<std::uint8_t>(n));
  std::mt19937 rng(11);
  std::vector<TNRDPage*> held;
  std::vector<std::int32_t> uses;  // page numbers in order of last use
  for (int step = 0; step < 5000; ++step) {
    // Mostly a forward walk with returns to a few hot pages, as a scan over an index does.
    const std::int32_t n = rng() % 4 == 0 ? static_cast<std::int32_t>(rng() % 8) : static_cast<std::int32_t>(step % 300);
    TNRDPage* page = pm.GetPage(0, n, 10);
    ASSERT_EQ(page->PageNo(), n);
    ASSERT_EQ(page->PageData()[0], static_cast<std::uint8_t>(n));
    if (rng() % 50 == 0 && held.size() < 5) {
      held.push_back(page);
    } else {
      pm.PutPage(page);
    }
    if (rng() % 40 == 0 && !held.empty()) {
      pm.PutPage(held.front());
      held.erase(held.begin());
    }
    uses.erase(std::remove(uses.begin(), uses.end(), n), uses.end());
    uses.push_back(n);
    for (TNRDPage* h : held) ASSERT_EQ(pm.SharedPages().Find(h->PageNo()), h);
  }
  for (TNRDPage* h : held) pm.PutPage(h);
  pm.PutPage(pm.GetPage(0, uses.back(), 10));
  EXPECT_LE(pm.SharedPages().Count(), 48);
  EXPECT_GE(pm.SharedPages().Count(), 48 - 48 / 16);
  // The pages used last are all still there.
  for (std::size_t k = 0; k < 30; ++k) EXPECT_NE(pm.SharedPages().Find(uses[uses.size() - 1 - k]), nullptr) << k;
}

TEST(NRDPageManager, CancelReleasesAddedNumbersAndKeepsRemovedPages) {
  MapPageManager pm;
  pm.Seed(0, 10, 0x10);
  pm.Seed(1, 10, 0x11);
  TNRDPage* added = pm.AddPage(1, 10);
  const std::int32_t addedNo = added->PageNo();
  EXPECT_TRUE(added->IsDirty());
  EXPECT_EQ(added->UseCount(), 1);
  EXPECT_EQ(added->PageHeader()->PageType, 10);
  EXPECT_LT(added->PageHeader()->State, 0x3FFFFFFF);
  pm.PutPage(added);
  pm.RemovePage(1, 0);
  TNRDPage* changed = pm.GetPage(1, 1, 10);
  changed->PageData()[0] = 0x77;
  changed->SetIsDirty(true);
  pm.PutPage(changed);
  EXPECT_TRUE(pm.HasChanges(1));
  pm.CancelChanges(1);
  EXPECT_FALSE(pm.HasChanges(1));
  EXPECT_EQ(pm.Removed, (std::vector<std::int32_t>{addedNo}));
  EXPECT_TRUE(pm.Written.empty());
  EXPECT_EQ(pm.Store.count(0), 1u);
  TNRDPage* reread = pm.GetPage(1, 1, 10);
  EXPECT_EQ(reread->PageData()[0], 0x11);
  pm.PutPage(reread);
}

TEST(NRDPageManager, CancelWithHeldDirtyPageChangesNothing) {
  MapPageManager pm;
  TNRDPage* added = pm.AddPage(1, 10);
  ExpectNRD([&] { pm.CancelChanges(1); }, 20088, "Cannot remove used page");
  EXPECT_TRUE(pm.Removed.empty());
  ExpectNRD([&] { pm.ApplyChanges(1); }, 20086, "Cannot write used page");
  EXPECT_TRUE(pm.Written.empty());
  pm.PutPage(added);
  pm.ApplyChanges(1);
  EXPECT_EQ(pm.Written, (std::vector<std::int32_t>{added->PageNo()}));
}

TEST(NRDPageManager, ApplyReleasesRemovedPagesThenWritesInAscendingOrder) {
  MapPageManager pm;
  for (std::int32_t n = 0; n < 4; ++n) pm.Seed(n, 10, static_cast<std::uint8_t>(n));
  for (std::int32_t n : {3, 0, 2}) {
    TNRDPage* p = pm.GetPage(5, n, 10);
    p->PageData()[0] = static_cast<std::uint8_t>(0x80 + n);
    p->SetIsDirty(true);
    pm.PutPage(p);
  }
  pm.RemovePage(5, 2);  // changed, then removed: released, never written
  pm.RemovePage(5, 1);
  pm.ApplyChanges(5);
  EXPECT_EQ(pm.Removed, (std::vector<std::int32_t>{2, 1}));
  EXPECT_EQ(pm.Written, (std::vector<std::int32_t>{0, 3}));
  EXPECT_EQ(pm.StoredFirstByte(3), 0x83);
  EXPECT_FALSE(pm.HasChanges(5));
  EXPECT_EQ(pm.SharedPages().Find(2), nullptr);
  ASSERT_NE(pm.SharedPages().Find(3), nullptr);
  EXPECT_FALSE(pm.SharedPages().Find(3)->IsDirty());
  EXPECT_NO_THROW(pm.CheckNoUncommittedPages());
}

TEST(NRDPageManager, WriteFailureLeavesOnlyUnwrittenPagesDirty) {
  MapPageManager pm;
  for (std::int32_t n = 0; n < 3; ++n) {
    pm.Seed(n, 10, 0);
    TNRDPage* p = pm.GetPage(1, n, 10);
    p->SetIsDirty(true);
    pm.PutPage(p);
  }
  pm.FailWriteAt = 1;
  ExpectNRD([&] { pm.ApplyChanges(1); }, 10469);
  EXPECT_EQ(pm.Written, (std::vector<std::int32_t>{0}));
  const TNRDSessionPageInfo* info = pm.FindSession(1);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->DirtyPages.Count(), 2);
  EXPECT_EQ(info->DirtyPages.Find(0), nullptr);
  ExpectNRD([&] { pm.CheckNoUncommittedPages(); }, 20097, "Cannot free non-commited pages");
  pm.FailWriteAt = -1;
  pm.ApplyChanges(1);
  EXPECT_EQ(pm.Written, (std::vector<std::int32_t>{0, 1, 2}));
}

TEST(NRDPageManager, CommittedPageGoesToCacheOnlyWhileThereIsRoom) {
  MapPageManager pm;
  pm.SetCacheCapacity(1);
  TNRDPage* a = pm.AddPage(1, 10);
  TNRDPage* b = pm.AddPage(1, 10);
  pm.PutPage(a);
  pm.PutPage(b);
  pm.ApplyChanges(1);
  EXPECT_EQ(pm.Written.size(), 2u);
  EXPECT_EQ(pm.SharedPages().Count(), 1);
}

TEST(NRDPageManager, SynchronizeRereadsAChangedPageInMultiUserMode) {
  MapPageManager pm;
  pm.SetMultiUser(true);
  pm.Seed(6, 10, 0x01, 40);
  pm.PutPage(pm.GetPage(0, 6, 10));
  pm.Seed(6, 10, 0x02, 40);  // same state: the cached copy is taken as current
  TNRDPage* p = pm.GetPage(0, 6, 10);
  EXPECT_EQ(p->PageData()[0], 0x01);
  pm.PutPage(p);
  pm.Seed(6, 10, 0x03, 41);  // another writer advanced the state
  p = pm.GetPage(0, 6, 10);
  EXPECT_EQ(p->PageData()[0], 0x03);
  pm.PutPage(p);
  pm.Store.erase(6);  // removed elsewhere: only the state is taken over
  p = pm.GetPage(0, 6, 10);
  EXPECT_EQ(p->PageHeader()->State, PageStateRemoved);
  EXPECT_EQ(p->PageData()[0], 0x03);
  pm.PutPage(p);
  p = pm.GetPage(0, 6, 10, false);  // no synchronisation asked
  pm.PutPage(p);
}

TEST(NRDPageManager, DestroyFreesUncommittedPages) {
  auto pm = std::make_unique<MapPageManager>();
  pm->PutPage(pm->AddPage(1, 10));
  pm->Seed(9, 10, 0);
  pm->PutPage(pm->GetPage(2, 9, 10));
  pm.reset();  // the leak check of the suite sees every buffer freed
}

struct TableStateCase {
  const char* name;
  std::vector<std::string> steps;  // "S+ T" "S- T" "RW+ T" "RW- T" "load T state" "begin T" "end T"
  bool expectKnown;
  std::int32_t expectState;
};

TEST(NRDDiskTablePagesCacheManager, WorkTableStateFollowsLocks) {
  const TableStateCase cases[] = {
      {"no lock", {"begin 1", "load 1 5"}, false, 5},
      {"no work table", {"S+ 1", "load 1 5"}, false, -7},
      {"S lock and load", {"S+ 1", "load 1 5", "begin 1"}, true, 5},
      {"RW lock and load", {"RW+ 1", "load 1 6", "begin 1"}, true, 6},
      {"second load keeps first", {"S+ 1", "load 1 5", "load 1 9", "begin 1"}, true, 5},
      {"two S locks, one unlock", {"S+ 1", "S+ 1", "load 1 5", "S- 1", "begin 1"}, true, 5},
      {"two S locks, two unlocks", {"S+ 1", "S+ 1", "load 1 5", "S- 1", "S- 1", "begin 1"}, false, -1},
      {"S and RW, S goes", {"S+ 1", "RW+ 1", "load 1 4", "S- 1", "begin 1"}, true, 4},
      {"unlock without lock", {"S- 1", "begin 1"}, false, -1},
      {"innermost table", {"S+ 1", "load 1 5", "S+ 2", "load 2 8", "begin 1", "begin 2"}, true, 8},
      {"inner table ended", {"S+ 1", "load 1 5", "S+ 2", "load 2 8", "begin 1", "begin 2", "end 2"}, true, 5},
      {"relock reloads", {"S+ 1", "load 1 5", "S- 1", "S+ 1", "load 1 6", "begin 1"}, true, 6},
  };
  for (const TableStateCase& c : cases) {
    TNRDDiskTablePagesCacheManager m;
    const std::int32_t session = 3;
    for (const std::string& step : c.steps) {
      const auto space = step.find(' ');
      const std::string op = step.substr(0, space);
      const std::string rest = step.substr(space + 1);
      const std::int32_t arg = std::stoi(rest);
      const auto second = rest.find(' ');
      const std::int32_t arg2 = second == std::string::npos ? 0 : std::stoi(rest.substr(second + 1));
      if (op == "S+") m.TableIsSLocked(session, arg);
      if (op == "S-") m.TableIsSUnlocked(session, arg);
      if (op == "RW+") m.TableIsRWLocked(session, arg);
      if (op == "RW-") m.TableIsRWUnlocked(session, arg);
      if (op == "load") m.SetIsMostUpdatedLoaded(session, arg, arg2);
      if (op == "begin") m.BeginWorkWithTable(session, arg);
      if (op == "end") m.EndWorkWithTable(session, arg);
    }
    std::int32_t state = -7;
    EXPECT_EQ(m.GetWorkTableState(session, state), c.expectKnown) << c.name;
    EXPECT_EQ(state, c.expectState) << c.name;
    // Other sessions keep their own information.
    std::int32_t other = -7;
    EXPECT_FALSE(m.GetWorkTableState(-2, other)) << c.name;
  }
}

}  // namespace
