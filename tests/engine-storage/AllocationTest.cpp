// Page allocation of a disk database in runs: a bulk insert takes its pages in a few change sets,
// the unused rest of a run goes back with the commit or the rollback, a cut at any write of a bulk
// insert leaves the old or the new state (the old one possibly with pages marked used that nothing
// references), and two processes allocating at once never get the same page.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "tests/engine-storage/StorageTestUtil.h"

using namespace nrd;
using enginetest::CodeOf;
using namespace storagetest;

namespace {

constexpr std::int32_t kPageSize = 256;

// The data pages the free space marks used.
std::set<std::int32_t> UsedPages(TNRDDiskPageManager& pm) {
  TNRDDatabaseFreeSpaceManager& fsm = *pm.FreeSpaceManager();
  std::set<std::int32_t> used;
  const std::int32_t total = pm.GetPageCount();
  for (std::int32_t n = 0; n < total; ++n) {
    if (!fsm.IsSystemPage(n) && fsm.GetPageUsageFromPFS(n)) used.insert(n);
  }
  return used;
}

// The file is sound: its size agrees with the header, no commit is half done, no journal is left.
void ExpectSoundFile(const std::string& path, TNRDDiskPageManager& pm) {
  EXPECT_EQ(pm.DatabaseFile().GetSize(), pm.OffsetToFirstPage() + static_cast<std::int64_t>(TotalPages(pm)) * pm.PageSize());
  EXPECT_EQ(+pm.DBHeader()->WriteChangesState, 2);
  EXPECT_FALSE(platform::FileSystem::Native().Exists(path + "-journal"));
  const std::set<std::int32_t> used = UsedPages(pm);
  EXPECT_EQ(LastUsed(pm), used.empty() ? -1 : *used.rbegin());
}

TEST(Allocation, BulkInsertTakesFewChangeSetsAndGivesTheRestBack) {
  TempDir dir;
  const std::string path = dir.File("bulk.at4");
  std::set<std::int32_t> base;
  {
    auto pm = CreateDb(path, kPageSize, 4);
    for (int i = 0; i < 20; ++i) AddFilledPage(*pm, 0, 1);
    pm->ApplyChanges(0);
    base = UsedPages(*pm);
  }
  ASSERT_EQ(base.size(), 20u);
  struct Case {
    const char* name;
    bool commit;
  };
  for (const Case& c : {Case{"rollback", false}, Case{"commit", true}, Case{"rollback after commit", false}}) {
    SCOPED_TRACE(c.name);
    FaultFileSystem fs;  // counts the changing file operations
    auto pm = OpenDb(path, {}, &fs);
    const std::set<std::int32_t> before = UsedPages(*pm);
    const std::int64_t opsBefore = fs.Used;
    std::set<std::int32_t> added;
    std::map<std::int32_t, std::uint8_t> fills;
    for (int i = 0; i < 1000; ++i) {
      const auto fill = static_cast<std::uint8_t>(i % 251);
      const std::int32_t no = AddFilledPage(*pm, 0, fill);
      added.insert(no);
      fills[no] = fill;
    }
    ASSERT_EQ(added.size(), 1000u) << "a page was handed out twice";
    for (std::int32_t no : added) EXPECT_EQ(before.count(no), 0u) << no;
    // A change set costs at least a journal, a write and a removal: one per page would be thousands.
    EXPECT_LT(fs.Used - opsBefore, 300) << "allocations are not taken in runs";
    // Pages taken and not yet handed out stay used while the transaction runs.
    EXPECT_GE(UsedPages(*pm).size(), before.size() + 1000);
    std::set<std::int32_t> expected = before;
    if (c.commit) {
      pm->ApplyChanges(0);
      expected.insert(added.begin(), added.end());
    } else {
      pm->CancelChanges(0);
    }
    EXPECT_EQ(UsedPages(*pm), expected) << "the unused rest of the run was not given back";
    ExpectSoundFile(path, *pm);
    pm.reset();
    auto check = OpenDb(path);
    EXPECT_EQ(UsedPages(*check), expected);
    if (c.commit) {
      for (const auto& [no, fill] : fills) ASSERT_EQ(FirstDataByte(*check, 0, no), fill) << no;
    }
  }
  // A reserve left by a transaction whose commit had nothing to write (its pages removed again)
  // goes back as well.
  auto pm = OpenDb(path);
  const std::set<std::int32_t> before = UsedPages(*pm);
  std::vector<std::int32_t> added;
  for (int i = 0; i < 5; ++i) added.push_back(AddFilledPage(*pm, 0, 9));
  pm->ApplyChanges(0);
  for (std::int32_t no : added) pm->RemovePage(0, no);
  pm->ApplyChanges(0);
  EXPECT_EQ(UsedPages(*pm), before);
}

// A commit journals the before-images of the committed pages it changes, but of the pages it took
// from the free space only their headers (nothing old refers to them), so a bulk insert writes its
// data once. Encrypted pages keep whole before-images: an old header over new data would fail its
// check. The cut test below shows that such a commit still rolls back to a sound file.
TEST(Allocation, CommitJournalsOnlyTheHeadersOfItsNewPages) {
  struct Case {
    const char* name;
    TNRDPassword password;
    bool wholePages;
  };
  const Case cases[] = {{"plain", {}, false}, {"encrypted", {"pw", craTwofish_128}, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.File("journal.at4");
    std::vector<std::int32_t> fixed;
    {
      auto pm = CreateDb(path, kPageSize, 4, c.password);
      for (int i = 0; i < 10; ++i) fixed.push_back(AddFilledPage(*pm, 0, 1));
      pm->ApplyChanges(0);
    }
    FaultFileSystem fs;
    std::vector<std::int32_t> added;
    {
      auto pm = OpenDb(path, c.password, &fs);
      for (std::int32_t no : fixed) FillPage(*pm, 0, no, 2);
      for (int i = 0; i < 150; ++i) added.push_back(AddFilledPage(*pm, 0, 3));
      fs.BytesWritten.clear();  // the reserves' change sets are done: what follows is the commit
      pm->ApplyChanges(0);
      for (std::int32_t no : added) EXPECT_EQ(FirstDataByte(*pm, 0, no), 3);
    }
    const std::int64_t journal = fs.BytesWritten[TNRDJournal::JournalPath(path)];
    const std::int64_t changedPages = 10 * kPageSize;
    const std::int64_t newPages = 150 * kPageSize;
    if (c.wholePages) {
      EXPECT_GE(journal, changedPages + newPages);
    } else {
      EXPECT_GE(journal, changedPages + 150 * 40);
      EXPECT_LT(journal, changedPages + newPages / 2);
    }
  }
}

// A bulk insert that also changes committed pages, cut after each of its file operations: the
// reopened file holds the old pages (maybe with allocated pages nothing references) or the new
// ones, and takes a further commit.
TEST(Allocation, BulkInsertCutAtEveryWriteLeavesOldOrNewState) {
  TempDir dir;
  const std::string path = dir.File("cut.at4");
  std::vector<std::int32_t> fixed;
  {
    auto pm = CreateDb(path, kPageSize, 4);
    for (int i = 0; i < 10; ++i) fixed.push_back(AddFilledPage(*pm, 0, 1));
    pm->ApplyChanges(0);
  }
  const std::vector<std::uint8_t> initial = ReadAll(path);
  constexpr int kAdded = 150;
  auto scenario = [&](TNRDDiskPageManager& pm, std::vector<std::int32_t>& added) {
    for (std::int32_t no : fixed) FillPage(pm, 0, no, 2);
    for (int i = 0; i < kAdded; ++i) added.push_back(AddFilledPage(pm, 0, static_cast<std::uint8_t>(3 + i % 200)));
    pm.ApplyChanges(0);
  };
  std::int64_t ops = 0;
  std::vector<std::int32_t> newPages;
  std::set<std::int32_t> newUsed;
  {
    FaultFileSystem fs;
    fs.Granularity = 4 * kPageSize;  // a cut may also fall inside one write
    auto pm = OpenDb(path, {}, &fs);
    scenario(*pm, newPages);
    ops = fs.Used;
    newUsed = UsedPages(*pm);
  }
  ASSERT_GT(ops, 40);
  const std::set<std::int32_t> oldUsed(fixed.begin(), fixed.end());
  int olds = 0;
  int news = 0;
  for (std::int64_t k = 0; k <= ops; ++k) {
    SCOPED_TRACE(k);
    WriteAll(path, initial);
    {
      FaultFileSystem fs;
      fs.Granularity = 4 * kPageSize;
      auto pm = OpenDb(path, {}, &fs);
      fs.Budget = fs.Used + k;
      std::vector<std::int32_t> added;
      const int code = CodeOf([&] { scenario(*pm, added); });
      if (k < ops) {
        EXPECT_NE(code, 0);
      }
    }
    auto pm = OpenDb(path);
    ExpectSoundFile(path, *pm);
    const std::set<std::int32_t> used = UsedPages(*pm);
    const std::uint8_t first = FirstDataByte(*pm, 0, fixed[0]);
    for (std::int32_t no : fixed) ASSERT_EQ(FirstDataByte(*pm, 0, no), first);
    if (first == 1) {
      ++olds;
      // The leak: pages the cut transaction had taken (handed out or still in its reserve, which
      // never holds more than the transaction used so far, plus one).
      std::size_t leaked = 0;
      for (std::int32_t no : used) {
        if (oldUsed.count(no) != 0) continue;
        ++leaked;
        EXPECT_GT(no, *oldUsed.rbegin()) << "page " << no << " used but never allocated";
      }
      EXPECT_LE(leaked, 2u * kAdded + 1);
      for (std::int32_t no : oldUsed) EXPECT_EQ(used.count(no), 1u);
    } else {
      ASSERT_EQ(first, 2);
      ++news;
      EXPECT_EQ(used, newUsed);
      for (int i = 0; i < kAdded; ++i) {
        EXPECT_EQ(FirstDataByte(*pm, 0, newPages[static_cast<std::size_t>(i)]), static_cast<std::uint8_t>(3 + i % 200));
      }
    }
    // Whatever was left, the file takes the next commit.
    const std::int32_t extra = AddFilledPage(*pm, 0, 0x55);
    pm->ApplyChanges(0);
    EXPECT_EQ(FirstDataByte(*pm, 0, extra), 0x55);
  }
  EXPECT_GT(olds, 0);
  EXPECT_GT(news, 0);
}

// A commit that releases the last pages of the file and leaves part of its reserve unused cuts
// the end of the file off. Cut after each of its file operations, the reopened file holds either
// the old pages, released ones included with their data, or the new state with the shorter file.
TEST(Allocation, CommitThatCutsTheFileEndLeavesOldOrNewState) {
  TempDir dir;
  const std::string path = dir.File("trim.at4");
  std::vector<std::int32_t> fixed;
  {
    auto pm = CreateDb(path, kPageSize, 4);
    for (int i = 0; i < 30; ++i) fixed.push_back(AddFilledPage(*pm, 0, static_cast<std::uint8_t>(10 + i)));
    pm->ApplyChanges(0);
    // Holes below the pages that go: the new pages fill them, so the released ones end the file.
    for (int i = 0; i < 10; ++i) pm->RemovePage(0, fixed[static_cast<std::size_t>(i)]);
    pm->ApplyChanges(0);
  }
  const std::vector<std::uint8_t> initial = ReadAll(path);
  auto scenario = [&](TNRDDiskPageManager& pm) {
    for (int i = 20; i < 30; ++i) pm.RemovePage(0, fixed[static_cast<std::size_t>(i)]);
    for (int i = 0; i < 10; ++i) AddFilledPage(pm, 0, 0xAA);
    pm.ApplyChanges(0);
  };
  std::int64_t ops = 0;
  std::int32_t newTotal = 0;
  {
    FaultFileSystem fs;
    fs.Granularity = kPageSize;  // a cut may also fall inside one write
    auto pm = OpenDb(path, {}, &fs);
    const std::int64_t before = fs.Used;
    scenario(*pm);
    ops = fs.Used - before;
    newTotal = TotalPages(*pm);
    ASSERT_LE(newTotal, fixed[20]) << "the end of the file was not cut off";
  }
  int olds = 0;
  for (std::int64_t k = 0; k <= ops; ++k) {
    SCOPED_TRACE(k);
    WriteAll(path, initial);
    {
      FaultFileSystem fs;
      fs.Granularity = kPageSize;
      auto pm = OpenDb(path, {}, &fs);
      fs.Budget = fs.Used + k;
      CodeOf([&] { scenario(*pm); });
    }
    auto pm = OpenDb(path);
    ExpectSoundFile(path, *pm);
    const std::set<std::int32_t> used = UsedPages(*pm);
    if (used.count(fixed[29]) != 0) {
      ++olds;
      for (int i = 10; i < 30; ++i) {
        ASSERT_EQ(FirstDataByte(*pm, 0, fixed[static_cast<std::size_t>(i)]), 10 + i) << "page " << fixed[static_cast<std::size_t>(i)];
      }
    } else {
      EXPECT_EQ(TotalPages(*pm), newTotal);
      for (int i = 10; i < 20; ++i) EXPECT_EQ(FirstDataByte(*pm, 0, fixed[static_cast<std::size_t>(i)]), 10 + i);
    }
  }
  EXPECT_GT(olds, 0);
  EXPECT_LT(olds, ops + 1);
}

// Two processes insert into one file at the same time, in transactions that commit or roll back;
// each marks its pages with its own number and a serial. Afterwards every committed page holds
// what its writer put there (no page was handed to both) and no page is used without a writer.
TEST(Allocation, TwoProcessesNeverGetTheSamePage) {
  TempDir dir;
  const std::string path = dir.File("two.at4");
  { CreateDb(path, kPageSize, 4); }
  constexpr int kRounds = 12;
  constexpr int kPerRound = 40;
  auto child = [&](std::uint8_t id) {
    // The other writer may hold the header lock for a while: wait for it, also when opening.
    auto pm = std::make_unique<TNRDDiskPageManager>();
    pm->SetLockRetry(20000, 1);
    pm->DatabaseFile().SetSynchronous(false);
    bool readOnly = false;
    bool repair = false;
    bool multiUser = true;
    pm->OpenDatabase(path, {}, readOnly, repair, false, multiUser);
    if (!multiUser) throw std::runtime_error("not opened multi-user");
    for (int round = 0; round < kRounds; ++round) {
      for (int i = 0; i < kPerRound; ++i) {
        TNRDPage* page = pm->AddPage(0, ptTableRecord);
        std::memset(page->PageData(), 0, static_cast<std::size_t>(page->PageDataSize()));
        page->PageData()[0] = id;
        page->PageData()[1] = static_cast<std::uint8_t>(round);
        page->PageData()[2] = static_cast<std::uint8_t>(i);
        pm->PutPage(page);
      }
      // Every third round is rolled back.
      if (round % 3 == 2) {
        pm->CancelChanges(0);
      } else {
        pm->ApplyChanges(0);
      }
    }
  };
  std::vector<pid_t> pids;
  for (std::uint8_t id : {std::uint8_t{1}, std::uint8_t{2}}) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int rc = 0;
      try {
        child(id);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "writer %d: %s\n", id, e.what());
        rc = 5;
      }
      ::_exit(rc);
    }
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed";
  }
  auto pm = OpenDb(path);
  ExpectSoundFile(path, *pm);
  std::set<std::vector<int>> seen;
  for (std::int32_t no : UsedPages(*pm)) {
    TNRDPage* page = pm->GetPage(0, no, ptTableRecord);
    const std::vector<int> mark = {page->PageData()[0], page->PageData()[1], page->PageData()[2]};
    pm->PutPage(page);
    EXPECT_TRUE(mark[0] == 1 || mark[0] == 2) << "page " << no;
    EXPECT_NE(mark[1] % 3, 2) << "a rolled-back page is still used: " << no;
    EXPECT_TRUE(seen.insert(mark).second) << "page " << no << " written twice";
  }
  // Both writers' committed pages, each exactly once: a page given to both would hold only one.
  constexpr int kCommitted = 2 * (kRounds - kRounds / 3) * kPerRound;
  EXPECT_EQ(static_cast<int>(seen.size()), kCommitted);
}

}  // namespace
