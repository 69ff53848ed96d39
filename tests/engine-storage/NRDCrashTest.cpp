// Crash safety of a commit: cut after each of its writes (through a file layer that stops writing,
// as a dead process would), with one failing write that the process survives, in a child process
// killed at a chosen write, and in a child killed at random moments of a run of commits.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "tests/engine-storage/StorageTestUtil.h"

using namespace nrd;
using enginetest::CodeOf;
using namespace storagetest;

namespace {

constexpr std::int32_t kPageSize = 256;

struct CrashFixture {
  TempDir dir;
  std::string path = dir.File("crash.at4");
  std::vector<std::int32_t> pages;
  std::vector<std::uint8_t> initial;

  CrashFixture() {
    auto pm = CreateDb(path, kPageSize, 4);
    for (int i = 0; i < 120; ++i) pages.push_back(AddFilledPage(*pm, 0, static_cast<std::uint8_t>(i)));
    pm->ApplyChanges(0);
    pm.reset();
    initial = ReadAll(path);
  }

  // A commit of 50 changed pages that also releases the last 60 pages (which shrinks the file).
  void Scenario(TNRDDiskPageManager& pm) const {
    for (int i = 0; i < 50; ++i) FillPage(pm, 0, pages[static_cast<std::size_t>(i)], static_cast<std::uint8_t>(0xA0 + i));
    for (int i = 60; i < 120; ++i) pm.RemovePage(0, pages[static_cast<std::size_t>(i)]);
    pm.ApplyChanges(0);
  }
};

// Every page the free space marks used is readable and of a known type; the header and the file
// size agree. Returns the number of used data pages.
int CheckConsistent(const std::string& path) {
  auto pm = OpenDb(path);
  TNRDDatabaseFreeSpaceManager& fsm = *pm->FreeSpaceManager();
  const std::int32_t total = TotalPages(*pm);
  EXPECT_EQ(pm->DatabaseFile().GetSize(), pm->OffsetToFirstPage() + static_cast<std::int64_t>(total) * pm->PageSize());
  EXPECT_EQ(+pm->DBHeader()->WriteChangesState, 2);
  int used = 0;
  std::int32_t last = -1;
  for (std::int32_t n = 0; n < total; ++n) {
    if (fsm.IsSystemPage(n)) {
      EXPECT_TRUE(fsm.GetPageUsageFromPFS(n)) << n;
      continue;
    }
    if (!fsm.GetPageUsageFromPFS(n)) continue;
    ++used;
    last = n;
    TNRDPage* page = pm->GetPage(0, n, AnyPageType);
    const std::uint16_t type = page->PageHeader()->PageType;
    EXPECT_TRUE(type == ptTableRecord || type == 0) << "page " << n << " type " << type;
    pm->PutPage(page);
  }
  EXPECT_EQ(LastUsed(*pm), last);
  return used;
}

TEST(NRDCrashSafety, CommitCutAfterEveryWriteLeavesOldOrNewFile) {
  CrashFixture fx;
  // The reference run: the new file, and the number of changing file operations of the commit.
  // Writes are cut in pieces of two pages: a cut may also fall inside one write.
  constexpr std::int64_t kPiece = 2 * kPageSize;
  std::int64_t commitWrites = 0;
  std::vector<std::uint8_t> after;
  {
    FaultFileSystem fs;
    fs.Granularity = kPiece;
    auto pm = OpenDb(fx.path, {}, &fs);
    fx.Scenario(*pm);
    commitWrites = fs.Used;
    pm.reset();
    after = ReadAll(fx.path);
  }
  ASSERT_GT(commitWrites, 50);
  ASSERT_LT(after.size(), fx.initial.size());  // the commit shrank the file
  int oldCount = 0;
  int newCount = 0;
  for (std::int64_t k = 0; k <= commitWrites; ++k) {
    WriteAll(fx.path, fx.initial);
    {
      FaultFileSystem fs;
      fs.Granularity = kPiece;
      auto pm = OpenDb(fx.path, {}, &fs);
      fs.Budget = fs.Used + k;
      const int code = CodeOf([&] { fx.Scenario(*pm); });
      if (k < commitWrites) {
        EXPECT_NE(code, 0) << k;
      }
    }
    { OpenDb(fx.path); }  // the next opener rolls an unfinished commit back
    const std::vector<std::uint8_t> now = ReadAll(fx.path);
    const bool isOld = now == fx.initial;
    const bool isNew = now == after;
    EXPECT_TRUE(isOld || isNew) << "cut after write " << k << " of " << commitWrites;
    oldCount += isOld;
    newCount += isNew;
    EXPECT_FALSE(platform::FileSystem::Native().Exists(fx.path + "-journal")) << k;
  }
  EXPECT_GT(oldCount, 0);
  EXPECT_GT(newCount, 0);
  EXPECT_EQ(CheckConsistent(fx.path), 60);
}

TEST(NRDCrashSafety, AFailedWriteRollsTheCommitBackAtOnce) {
  CrashFixture fx;
  for (std::int64_t k : {std::int64_t{1}, std::int64_t{5}, std::int64_t{30}}) {
    WriteAll(fx.path, fx.initial);
    FaultFileSystem fs;
    fs.Granularity = kPageSize;
    auto pm = OpenDb(fx.path, {}, &fs);
    fs.Budget = fs.Used + k;
    fs.TransientFailures = 1;
    EXPECT_NE(CodeOf([&] { fx.Scenario(*pm); }), 0) << k;
    // Without any reopen the file is the old one again and no journal is left.
    EXPECT_EQ(ReadAll(fx.path), fx.initial) << k;
    EXPECT_FALSE(platform::FileSystem::Native().Exists(fx.path + "-journal")) << k;
    // The manager goes on working: the cached pages were dropped with the failed commit.
    EXPECT_EQ(FirstDataByte(*pm, 0, fx.pages[0]), 0);
    EXPECT_EQ(TotalPages(*pm), static_cast<std::int32_t>((fx.initial.size() - 380) / kPageSize));
    fx.Scenario(*pm);
    EXPECT_EQ(FirstDataByte(*pm, 0, fx.pages[0]), 0xA0);
    pm.reset();
    EXPECT_EQ(CheckConsistent(fx.path), 60);
  }
}

TEST(NRDCrashSafety, DamagedJournalIsIgnoredAndRemoved) {
  CrashFixture fx;
  // A journal cut while being written: the database file was not touched yet.
  WriteAll(fx.path + "-journal", {'N', 'R', 'D', 'J', 'R', 'N', 'L', '1', 0, 0});
  { OpenDb(fx.path); }
  EXPECT_FALSE(platform::FileSystem::Native().Exists(fx.path + "-journal"));
  EXPECT_EQ(ReadAll(fx.path), fx.initial);
}

// Runs the scenario in a child process that kills itself at its k-th changing file operation.
TEST(NRDCrashSafety, ChildKilledMidCommit) {
  CrashFixture fx;
  std::vector<std::uint8_t> after;
  std::int64_t commitWrites = 0;
  {
    FaultFileSystem fs;
    fs.Granularity = kPageSize;
    auto pm = OpenDb(fx.path, {}, &fs);
    fx.Scenario(*pm);
    commitWrites = fs.Used;
    pm.reset();
    after = ReadAll(fx.path);
  }
  for (std::int64_t k : {std::int64_t{0}, std::int64_t{1}, commitWrites / 2, commitWrites - 1}) {
    WriteAll(fx.path, fx.initial);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      try {
        FaultFileSystem fs;
        fs.Granularity = kPageSize;
        fs.KillOnExhaustion = true;
        auto pm = OpenDb(fx.path, {}, &fs);
        fs.Budget = fs.Used + k;
        fx.Scenario(*pm);
      } catch (...) {
      }
      ::_exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "child was not killed at write " << k;
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    { OpenDb(fx.path); }
    const std::vector<std::uint8_t> now = ReadAll(fx.path);
    EXPECT_TRUE(now == fx.initial || now == after) << "killed at write " << k;
  }
}

// A commit that frees the end of a file above 16 MB, cut right after the file shrank: its journal
// holds far more before-images than the file has bytes left, and is rolled back all the same.
TEST(NRDCrashSafety, ShrinkingCommitOfABigFileIsRolledBack) {
  TempDir dir;
  const std::string path = dir.File("big.at4");
  std::vector<std::int32_t> pages;
  {
    auto pm = CreateDb(path, 4096, 8);
    for (int i = 0; i < 6200; ++i) pages.push_back(AddFilledPage(*pm, 0, static_cast<std::uint8_t>(i % 251)));
    pm->ApplyChanges(0);
  }
  const std::vector<std::uint8_t> initial = ReadAll(path);
  ASSERT_GT(initial.size(), std::size_t{24} << 20);
  {
    FaultFileSystem fs;
    fs.DieAfterShrink = true;
    auto pm = OpenDb(path, {}, &fs);
    for (std::size_t i = 500; i < pages.size(); ++i) pm->RemovePage(0, pages[i]);
    EXPECT_NE(CodeOf([&] { pm->ApplyChanges(0); }), 0);
  }
  ASSERT_LT(ReadAll(path).size(), initial.size()) << "the commit was not cut after the file shrank";
  ASSERT_TRUE(platform::FileSystem::Native().Exists(path + "-journal"));
  { OpenDb(path); }
  EXPECT_FALSE(platform::FileSystem::Native().Exists(path + "-journal"));
  EXPECT_TRUE(ReadAll(path) == initial) << "the rolled-back file differs from the file before the commit";
}

// A child commits 100 change sets in a row and reports each finished one through a pipe; it is
// killed at a random moment. The file then holds the last reported state or the one in flight.
// Every commit sets ten fixed pages to the commit number and replaces an extra page by a new one.
void RunCommits(const std::string& path, const std::vector<std::int32_t>& fixed, int from, int count, int reportFd) {
  auto pm = OpenDb(path);
  pm->DatabaseFile().SetSynchronous(true);
  // The extra page of the last commit, and any page a killed predecessor allocated and never used.
  std::vector<std::int32_t> extras;
  const std::int32_t total = TotalPages(*pm);
  for (std::int32_t n = 0; n < total; ++n) {
    if (pm->FreeSpaceManager()->IsSystemPage(n) || !pm->FreeSpaceManager()->GetPageUsageFromPFS(n)) continue;
    if (std::find(fixed.begin(), fixed.end(), n) == fixed.end()) extras.push_back(n);
  }
  for (int c = from; c < from + count; ++c) {
    const auto value = static_cast<std::uint8_t>(c % 251);
    for (std::int32_t no : fixed) FillPage(*pm, 0, no, value);
    for (std::int32_t no : extras) pm->RemovePage(0, no);
    extras = {AddFilledPage(*pm, 0, value)};
    pm->ApplyChanges(0);
    const std::int32_t done = c;
    if (::write(reportFd, &done, sizeof done) != sizeof done) ::_exit(4);
  }
}

TEST(NRDCrashSafety, ChildKilledAtRandomDuringManyCommits) {
  TempDir dir;
  const std::string path = dir.File("random.at4");
  std::vector<std::int32_t> fixed;
  {
    auto pm = CreateDb(path, kPageSize, 4);
    for (int i = 0; i < 10; ++i) fixed.push_back(AddFilledPage(*pm, 0, 0));
    pm->ApplyChanges(0);
  }
  std::mt19937 rng(2024);
  int committed = -1;  // the last commit reported by a child
  int rollbacks = 0;   // kills that left a journal behind
  // A few kills here; bench/engine-storage/crash_kills.sh runs many more.
  const char* env = std::getenv("NRD_CRASH_KILLS");
  const int kills = env != nullptr ? std::max(1, std::atoi(env)) : 6;
  for (int round = 0; round < kills; ++round) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const int from = committed + 1;
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(fds[0]);
      try {
        RunCommits(path, fixed, from, 100, fds[1]);
      } catch (...) {
        ::_exit(5);
      }
      ::_exit(0);
    }
    ::close(fds[1]);
    // Wait for at least one commit, then kill at a random moment.
    std::int32_t value = 0;
    ASSERT_EQ(::read(fds[0], &value, sizeof value), static_cast<ssize_t>(sizeof value));
    committed = value;
    std::this_thread::sleep_for(std::chrono::microseconds(200 + rng() % 20000));
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    while (::read(fds[0], &value, sizeof value) == static_cast<ssize_t>(sizeof value)) committed = value;
    ::close(fds[0]);

    // The reopened file holds the last reported commit, or the one that was in flight.
    if (platform::FileSystem::Native().Exists(path + "-journal")) ++rollbacks;
    const int used = CheckConsistent(path);
    auto pm = OpenDb(path);
    const std::uint8_t first = FirstDataByte(*pm, 0, fixed[0]);
    for (std::int32_t no : fixed) EXPECT_EQ(FirstDataByte(*pm, 0, no), first) << "round " << round;
    const bool inFlightDone = first == static_cast<std::uint8_t>((committed + 1) % 251);
    EXPECT_TRUE(first == static_cast<std::uint8_t>(committed % 251) || inFlightDone) << "round " << round;
    if (inFlightDone) ++committed;
    // Ten fixed pages and one extra page; the run the commit in flight took may stay behind (twice
    // the one page the transaction before it took).
    EXPECT_GE(used, 11);
    EXPECT_LE(used, 13);
  }
  RecordProperty("kills", kills);
  RecordProperty("rollbacks", rollbacks);
}

}  // namespace

namespace {

// A writer killed mid-commit while another opener has the file open: that opener rolls the commit
// back as soon as it takes the header lock. Its own change, made on a page read while the killed
// commit was half in the file, is refused; made again on the page as restored, it goes through.
TEST(NRDCrashSafety, OtherOpenerRollsBackUnderTheHeaderLock) {
  CrashFixture fx;
  auto survivor = OpenDb(fx.path, {}, nullptr, true);
  ASSERT_TRUE(survivor->MultiUser());
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    try {
      FaultFileSystem fs;
      fs.Granularity = kPageSize;
      fs.KillOnExhaustion = true;
      auto pm = OpenDb(fx.path, {}, &fs, true);
      fs.Budget = fs.Used + 150;  // inside the writing of the pages
      fx.Scenario(*pm);
    } catch (...) {
    }
    ::_exit(3);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_TRUE(platform::FileSystem::Native().Exists(fx.path + "-journal"));
  FillPage(*survivor, 0, fx.pages[100], 0x77);
  EXPECT_EQ(CodeOf([&] { survivor->ApplyChanges(0); }), 20302);
  EXPECT_FALSE(platform::FileSystem::Native().Exists(fx.path + "-journal"));
  FillPage(*survivor, 0, fx.pages[100], 0x77);
  survivor->ApplyChanges(0);
  EXPECT_FALSE(platform::FileSystem::Native().Exists(fx.path + "-journal"));
  survivor.reset();
  auto pm = OpenDb(fx.path);
  EXPECT_EQ(FirstDataByte(*pm, 0, fx.pages[0]), 0);  // the killed commit is gone
  EXPECT_EQ(FirstDataByte(*pm, 0, fx.pages[100]), 0x77);
  EXPECT_EQ(FirstDataByte(*pm, 0, fx.pages[119]), 119);
  pm.reset();
  EXPECT_EQ(CheckConsistent(fx.path), 120);
}

// Two openers of one file in multi-user mode: the header lock of one refuses the other's commit,
// allocation and page count; a page the other changed is read again.
TEST(NRDMultiUser, HeaderLockAndChangedPages) {
  CrashFixture fx;
  auto a = OpenDb(fx.path, {}, nullptr, true);
  auto b = OpenDb(fx.path, {}, nullptr, true);
  b->SetLockRetry(3, 1);
  EXPECT_EQ(FirstDataByte(*b, 0, fx.pages[5]), 5);  // b caches the page
  ASSERT_TRUE(a->LockDBHeader());
  EXPECT_TRUE(b->DatabaseFile().IsByteLocked(b->OffsetToLockedBytes() + 4));
  FillPage(*b, 0, fx.pages[6], 0x66);
  EXPECT_EQ(CodeOf([&] { b->ApplyChanges(0); }), 20213);
  EXPECT_EQ(CodeOf([&] { b->GetPageCount(); }), 20236);
  EXPECT_EQ(CodeOf([&] { b->AddPage(0, ptTableRecord); }), 20231);
  EXPECT_TRUE(a->UnlockDBHeader());
  FillPage(*a, 0, fx.pages[5], 0x55);
  a->ApplyChanges(0);
  EXPECT_EQ(FirstDataByte(*b, 0, fx.pages[5]), 0x55) << "the cached copy was not compared with the file";
  EXPECT_EQ(b->GetPageCount(), TotalPages(*a));
}

}  // namespace

namespace {

// The journal of a commit cut while the file was open through a link is found by an opener that
// uses the real path.
TEST(NRDCrashSafety, JournalIsFoundWhateverPathOpenedTheFile) {
  CrashFixture fx;
  const std::string link = fx.dir.File("link.at4");
  ASSERT_EQ(::symlink(fx.path.c_str(), link.c_str()), 0);
  {
    FaultFileSystem fs;
    fs.Granularity = kPageSize;
    auto pm = OpenDb(link, {}, &fs);
    fs.Budget = fs.Used + 150;
    EXPECT_NE(CodeOf([&] { fx.Scenario(*pm); }), 0);
  }
  EXPECT_TRUE(platform::FileSystem::Native().Exists(fx.path + "-journal"));
  EXPECT_NE(ReadAll(fx.path), fx.initial);
  { OpenDb(fx.path); }
  EXPECT_EQ(ReadAll(fx.path), fx.initial);
  EXPECT_FALSE(platform::FileSystem::Native().Exists(fx.path + "-journal"));
}

}  // namespace
