// Crash safety of a commit: cut after each of its writes (through a file layer that stops writing,
// as a dead process would), with one failing write that the process survives, in a child process
// killed at a chosen write, and in a child killed at random moments of a run of commits.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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
  std::int64_t commitWrites = 0;
  std::vector<std::uint8_t> after;
  {
    FaultFileSystem fs;
    fs.Granularity = kPageSize;
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
      fs.Granularity = kPageSize;
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
  const int kills = 6;
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
    const int used = CheckConsistent(path);
    auto pm = OpenDb(path);
    const std::uint8_t first = FirstDataByte(*pm, 0, fixed[0]);
    for (std::int32_t no : fixed) EXPECT_EQ(FirstDataByte(*pm, 0, no), first) << "round " << round;
    const bool inFlightDone = first == static_cast<std::uint8_t>((committed + 1) % 251);
    EXPECT_TRUE(first == static_cast<std::uint8_t>(committed % 251) || inFlightDone) << "round " << round;
    if (inFlightDone) ++committed;
    // Ten fixed pages and one extra page; an allocation of the commit in flight may stay behind.
    EXPECT_GE(used, 11);
    EXPECT_LE(used, 12);
  }
}

}  // namespace
