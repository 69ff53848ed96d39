// The POSIX file layer: full reads and writes, handle-owned byte locks with the Windows rules, the
// share marker, reopening with the locks, and locks between two processes.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/FileLocks.h"
#include "platform/NativeFile.h"

using namespace platform;

namespace {

// A scratch folder removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "platformXXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

std::unique_ptr<NativeFile> OpenRW(const std::string& path, FileShare share = FileShare::DenyNone,
                                   FileDisposition disposition = FileDisposition::OpenExisting) {
  int error = 0;
  auto f = FileSystem::Native().Open(path, FileAccess::ReadWrite, share, disposition, error);
  EXPECT_TRUE(f) << SystemErrorMessage(error);
  return f;
}

TEST(NativeFile, FullReadsAndWritesAndZeroPastTheEnd) {
  TempDir dir;
  auto f = OpenRW(dir.File("a.bin"), FileShare::DenyNone, FileDisposition::CreateAlways);
  const char text[] = "0123456789";
  ASSERT_TRUE(f->Write(text, 10, 5));
  std::int64_t size = 0;
  ASSERT_TRUE(f->GetSize(size));
  EXPECT_EQ(size, 15);
  std::uint8_t buffer[24];
  std::memset(buffer, 0xEE, sizeof buffer);
  ASSERT_TRUE(f->Read(buffer, 24, 0));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(buffer[i], 0) << i;
  EXPECT_EQ(std::memcmp(buffer + 5, text, 10), 0);
  for (int i = 15; i < 24; ++i) EXPECT_EQ(buffer[i], 0) << "past the end " << i;
  ASSERT_TRUE(f->SetSize(8));
  ASSERT_TRUE(f->SetSize(12));
  ASSERT_TRUE(f->Read(buffer, 12, 0));
  EXPECT_EQ(buffer[7], '2');
  EXPECT_EQ(buffer[8], 0);  // cut and grown again: zero
  EXPECT_TRUE(f->Flush());
  EXPECT_TRUE(f->IsWritable());
  EXPECT_FALSE(f->Read(buffer, 1, -1));
  // The descriptor is not inherited by programs we start.
  int described = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (std::filesystem::read_symlink(entry.path(), ec) == std::filesystem::path(dir.File("a.bin"))) {
      const int fd = std::stoi(entry.path().filename().string());
      EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
      ++described;
    }
  }
  EXPECT_EQ(described, 1);
  EXPECT_TRUE(f->Close());
  EXPECT_FALSE(f->Read(buffer, 1, 0));
}

TEST(NativeFile, LocksFollowTheRulesOfOneHandle) {
  TempDir dir;
  auto f = OpenRW(dir.File("l.bin"), FileShare::DenyNone, FileDisposition::CreateAlways);
  EXPECT_TRUE(f->LockRegion(0, 10));
  EXPECT_FALSE(f->LockRegion(5, 10)) << "overlapping a range this handle holds";
  EXPECT_EQ(f->LastError(), ErrorLockViolation);
  EXPECT_FALSE(f->LockRegion(9, 1));
  EXPECT_TRUE(f->LockRegion(10, 5)) << "adjacent range";
  EXPECT_TRUE(f->IsRegionLocked(12, 1));
  EXPECT_TRUE(f->IsRegionLocked(0, 100));
  EXPECT_FALSE(f->IsRegionLocked(15, 10));
  EXPECT_FALSE(f->UnlockRegion(0, 5)) << "not exactly a held range";
  EXPECT_EQ(f->LastError(), ErrorNotLocked);
  EXPECT_TRUE(f->UnlockRegion(0, 10));
  EXPECT_FALSE(f->UnlockRegion(0, 10));
  EXPECT_FALSE(f->IsRegionLocked(0, 10));
  // Asking never drops a lock this handle holds.
  EXPECT_TRUE(f->IsRegionLocked(10, 5));
  EXPECT_TRUE(f->IsRegionLocked(10, 5));
  auto g = OpenRW(f->Path());
  EXPECT_FALSE(g->LockRegion(12, 1));
  EXPECT_FALSE(f->LockRegion(0, 0));
  EXPECT_FALSE(IsLockUnsupportedError(f->LastError()));

  LockRegistry r;
  r.Add(100, 5);
  EXPECT_TRUE(r.Overlaps(104, 1));
  EXPECT_FALSE(r.Overlaps(105, 1));
  EXPECT_FALSE(r.Overlaps(95, 5));
  EXPECT_TRUE(r.Holds(100, 5));
  EXPECT_FALSE(r.Remove(100, 4));
  EXPECT_TRUE(r.Remove(100, 5));
}

TEST(NativeFile, TwoHandlesOfOneProcessExcludeEachOther) {
  TempDir dir;
  const std::string path = dir.File("two.bin");
  auto a = OpenRW(path, FileShare::DenyNone, FileDisposition::CreateAlways);
  auto b = OpenRW(path);
  ASSERT_TRUE(a->LockRegion(100, 1));
  EXPECT_FALSE(b->LockRegion(100, 1));
  EXPECT_TRUE(b->IsRegionLocked(100, 1));
  EXPECT_TRUE(b->IsRegionLocked(90, 20));
  EXPECT_FALSE(b->IsRegionLocked(101, 1));
  ASSERT_TRUE(b->LockRegion(200, 1));
  EXPECT_TRUE(a->IsRegionLocked(200, 1));
  // Closing a third handle leaves the locks of the others alone.
  { auto c = OpenRW(path); }
  EXPECT_TRUE(a->IsRegionLocked(200, 1));
  EXPECT_TRUE(b->IsRegionLocked(100, 1));
  a->Close();
  EXPECT_TRUE(b->LockRegion(100, 1));
}

TEST(NativeFile, ShareMarker) {
  TempDir dir;
  const std::string path = dir.File("share.bin");
  int error = 0;
  auto ex = FileSystem::Native().Open(path, FileAccess::ReadWrite, FileShare::Exclusive, FileDisposition::CreateAlways, error);
  ASSERT_TRUE(ex);
  EXPECT_FALSE(ex->IsOtherOpenerPresent());
  EXPECT_FALSE(FileSystem::Native().Open(path, FileAccess::ReadOnly, FileShare::DenyNone, FileDisposition::OpenExisting, error));
  EXPECT_EQ(error, ErrorSharingViolation);
  // Creating over a file another opener holds fails and leaves it alone.
  ASSERT_TRUE(ex->Write("keep", 4, 0));
  EXPECT_FALSE(FileSystem::Native().Open(path, FileAccess::ReadWrite, FileShare::Exclusive, FileDisposition::CreateAlways, error));
  std::int64_t size = 0;
  ASSERT_TRUE(ex->GetSize(size));
  EXPECT_EQ(size, 4);
  ex->Close();
  auto s1 = OpenRW(path);
  EXPECT_FALSE(s1->IsOtherOpenerPresent());
  auto s2 = OpenRW(path);
  EXPECT_TRUE(s1->IsOtherOpenerPresent());
  EXPECT_FALSE(FileSystem::Native().Open(path, FileAccess::ReadWrite, FileShare::Exclusive, FileDisposition::OpenExisting, error));
  EXPECT_EQ(error, ErrorSharingViolation);
}

TEST(NativeFile, ReopenTakesTheLocksAgain) {
  TempDir dir;
  const std::string path = dir.File("reopen.bin");
  auto a = OpenRW(path, FileShare::DenyNone, FileDisposition::CreateAlways);
  ASSERT_TRUE(a->LockRegion(50, 2));
  ASSERT_TRUE(a->Reopen());
  EXPECT_TRUE(a->IsHandleValid());
  auto b = OpenRW(path);
  EXPECT_FALSE(b->LockRegion(51, 1));
  b->Close();
  // A file that is gone cannot be reopened: the handle is closed and its locks are gone.
  ASSERT_EQ(::unlink(path.c_str()), 0);
  EXPECT_FALSE(a->Reopen());
  EXPECT_FALSE(a->IsHandleValid());
}

TEST(NativeFile, ReadOnlyFileFallsBackToSharedLocks) {
  if (::geteuid() == 0) GTEST_SKIP() << "the superuser may write any file";
  TempDir dir;
  const std::string path = dir.File("ro.bin");
  { OpenRW(path, FileShare::DenyNone, FileDisposition::CreateAlways)->Write("x", 1, 0); }
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  EXPECT_TRUE(FileSystem::Native().IsReadOnlyFile(path));
  int error = 0;
  auto r = FileSystem::Native().Open(path, FileAccess::ReadOnly, FileShare::DenyNone, FileDisposition::OpenExisting, error);
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->IsWritable());
  EXPECT_TRUE(r->HasSharedLocksOnly());
  EXPECT_TRUE(r->LockRegion(0, 1));
  EXPECT_FALSE(r->Write("y", 1, 0));
}

// Locks between two processes: each sees the other's, a refused lock returns false, and the locks of
// a killed process vanish.
TEST(NativeFile, LocksBetweenProcesses) {
  TempDir dir;
  const std::string path = dir.File("proc.bin");
  auto parent = OpenRW(path, FileShare::DenyNone, FileDisposition::CreateAlways);
  ASSERT_TRUE(parent->LockRegion(20, 1));
  int toParent[2];
  int toChild[2];
  ASSERT_EQ(::pipe(toParent), 0);
  ASSERT_EQ(::pipe(toChild), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int error = 0;
    auto child = FileSystem::Native().Open(path, FileAccess::ReadWrite, FileShare::DenyNone, FileDisposition::OpenExisting, error);
    char report[4] = {'0', '0', '0', '0'};
    if (child) {
      report[0] = child->LockRegion(10, 1) ? '1' : '0';      // free: taken
      report[1] = child->IsRegionLocked(20, 1) ? '1' : '0';  // the parent's: seen
      report[2] = child->LockRegion(20, 1) ? '1' : '0';      // the parent's: refused
      report[3] = child->IsOtherOpenerPresent() ? '1' : '0';
    }
    if (::write(toParent[1], report, 4) != 4) ::_exit(2);
    char c;
    (void)::read(toChild[0], &c, 1);  // wait to be killed
    ::_exit(0);
  }
  char report[4] = {};
  ASSERT_EQ(::read(toParent[0], report, 4), 4);
  EXPECT_EQ(std::string(report, 4), "1101");
  EXPECT_TRUE(parent->IsRegionLocked(10, 1));
  EXPECT_FALSE(parent->LockRegion(10, 1));
  EXPECT_TRUE(parent->IsOtherOpenerPresent());
  ::kill(pid, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_FALSE(parent->IsRegionLocked(10, 1));
  EXPECT_TRUE(parent->LockRegion(10, 1));
  EXPECT_FALSE(parent->IsOtherOpenerPresent());
  for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) ::close(fd);
}

}  // namespace
