#include "platform/NativeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/FileLocks.h"

namespace platform {

namespace {

int RawLock(int fd, short type, std::int64_t offset, std::int64_t count) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(count);
  fl.l_pid = 0;
  return fcntl(fd, F_OFD_SETLK, &fl) == 0 ? 0 : errno;
}

// True (with error 0) when another open file description holds a lock that would conflict with a
// write lock on the range.
bool RawIsLocked(int fd, std::int64_t offset, std::int64_t count, int& error) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(count);
  fl.l_pid = 0;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) {
    error = errno;
    return false;
  }
  error = 0;
  return fl.l_type != F_UNLCK;
}

bool IsPermissionError(int error) { return error == EACCES || error == EROFS || error == EPERM; }

class PosixFile final : public NativeFile {
 public:
  PosixFile(std::string path, FileShare share) : path_(std::move(path)), share_(share) {}
  ~PosixFile() override { Close(); }

  // Opens the descriptor and takes the share marker. On failure the error is in LastError().
  bool OpenDescriptor(FileAccess access, FileDisposition disposition) {
    const int create = disposition == FileDisposition::CreateAlways ? O_CREAT : 0;
    fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC | create, 0644);
    writable_ = fd_ >= 0;
    if (fd_ < 0 && access == FileAccess::ReadOnly && IsPermissionError(errno)) {
      fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (fd_ < 0) {
      lastError_ = errno;
      return false;
    }
    if (!TakeShareMarker()) {
      ::close(fd_);
      fd_ = -1;
      return false;
    }
    if (disposition == FileDisposition::CreateAlways && ::ftruncate(fd_, 0) != 0) {
      lastError_ = errno;
      ::close(fd_);
      fd_ = -1;
      return false;
    }
    return true;
  }

  bool Read(void* buffer, std::int64_t count, std::int64_t pos) override {
    if (!CheckOpen() || count < 0 || pos < 0) return Fail(EINVAL);
    auto* p = static_cast<std::uint8_t*>(buffer);
    while (count > 0) {
      const ssize_t n = ::pread(fd_, p, static_cast<std::size_t>(count), static_cast<off_t>(pos));
      if (n < 0) {
        if (errno == EINTR) continue;
        return Fail(errno);
      }
      if (n == 0) {
        std::memset(p, 0, static_cast<std::size_t>(count));
        break;
      }
      p += n;
      pos += n;
      count -= n;
    }
    return true;
  }

  bool Write(const void* buffer, std::int64_t count, std::int64_t pos) override {
    if (!CheckOpen() || count < 0 || pos < 0) return Fail(EINVAL);
    if (!writable_) return Fail(EBADF);
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    while (count > 0) {
      const ssize_t n = ::pwrite(fd_, p, static_cast<std::size_t>(count), static_cast<off_t>(pos));
      if (n < 0) {
        if (errno == EINTR) continue;
        return Fail(errno);
      }
      if (n == 0) return Fail(EIO);
      p += n;
      pos += n;
      count -= n;
    }
    return true;
  }

  bool GetSize(std::int64_t& size) override {
    if (!CheckOpen()) return false;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return Fail(errno);
    size = st.st_size;
    return true;
  }

  bool SetSize(std::int64_t size) override {
    if (!CheckOpen() || size < 0) return Fail(EINVAL);
    if (!writable_) return Fail(EBADF);
    while (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
      if (errno != EINTR) return Fail(errno);
    }
    return true;
  }

  bool Flush() override {
    if (!CheckOpen()) return false;
    if (!writable_) return true;
    while (::fdatasync(fd_) != 0) {
      if (errno != EINTR) return Fail(errno);
    }
    return true;
  }

  bool LockRegion(std::int64_t offset, std::int64_t count) override {
    if (!CheckOpen()) return false;
    if (count <= 0 || offset < 0) return Fail(ERANGE);
    if (locks_.Overlaps(offset, count)) return Fail(ErrorLockViolation);
    const int error = RawLock(fd_, writable_ ? F_WRLCK : F_RDLCK, offset, count);
    if (error != 0) return Fail(error);
    locks_.Add(offset, count);
    return true;
  }

  bool UnlockRegion(std::int64_t offset, std::int64_t count) override {
    if (!CheckOpen()) return false;
    if (!locks_.Holds(offset, count)) return Fail(ErrorNotLocked);
    const int error = RawLock(fd_, F_UNLCK, offset, count);
    if (error != 0) return Fail(error);
    locks_.Remove(offset, count);
    return true;
  }

  bool IsRegionLocked(std::int64_t offset, std::int64_t count) override {
    if (!CheckOpen() || count <= 0 || offset < 0) return false;
    if (locks_.Overlaps(offset, count)) return true;
    int error = 0;
    const bool locked = RawIsLocked(fd_, offset, count, error);
    if (error != 0) lastError_ = error;
    return locked;
  }

  bool IsOtherOpenerPresent() override {
    if (!CheckOpen()) return false;
    int error = 0;
    return RawIsLocked(fd_, ShareMarkerOffset, 1, error);
  }

  bool IsHandleValid() override {
    struct stat st {};
    return fd_ >= 0 && ::fstat(fd_, &st) == 0;
  }

  bool Reopen() override {
    if (fd_ >= 0) ::close(fd_);  // drops every lock of this description
    fd_ = ::open(path_.c_str(), (writable_ ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd_ < 0) {
      lastError_ = errno;
      locks_.Clear();
      return false;
    }
    bool ok = TakeShareMarker();
    for (const LockedRange& r : locks_.Ranges()) {
      if (!ok) break;
      const int error = RawLock(fd_, writable_ ? F_WRLCK : F_RDLCK, r.Offset, r.Count);
      if (error != 0) {
        lastError_ = error;
        ok = false;
      }
    }
    if (!ok) {
      ::close(fd_);
      fd_ = -1;
      locks_.Clear();
    }
    return ok;
  }

  bool Close() override {
    locks_.Clear();
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) return Fail(errno);
    return true;
  }

  int LastError() const override { return lastError_; }
  bool IsWritable() const override { return writable_; }
  const std::string& Path() const override { return path_; }

 private:
  bool CheckOpen() {
    if (fd_ >= 0) return true;
    lastError_ = EBADF;
    return false;
  }
  bool Fail(int error) {
    lastError_ = error;
    return false;
  }

  bool TakeShareMarker() {
    const bool exclusive = share_ == FileShare::Exclusive;
    if (exclusive && !writable_) {
      // A read-only descriptor cannot hold a write lock: ask whether anybody else is there.
      int error = 0;
      if (RawIsLocked(fd_, ShareMarkerOffset, 1, error)) return Fail(ErrorSharingViolation);
    }
    const int error = RawLock(fd_, exclusive && writable_ ? F_WRLCK : F_RDLCK, ShareMarkerOffset, 1);
    if (error == EAGAIN || error == EACCES) return Fail(ErrorSharingViolation);
    if (error != 0) return Fail(error);
    return true;
  }

  std::string path_;
  FileShare share_;
  int fd_ = -1;
  bool writable_ = false;
  int lastError_ = 0;
  LockRegistry locks_;
};

class PosixFileSystem final : public FileSystem {
 public:
  std::unique_ptr<NativeFile> Open(const std::string& path, FileAccess access, FileShare share,
                                   FileDisposition disposition, int& error) override {
    auto file = std::make_unique<PosixFile>(path, share);
    if (!file->OpenDescriptor(access, disposition)) {
      error = file->LastError();
      return nullptr;
    }
    error = 0;
    return file;
  }

  bool Exists(const std::string& path) override {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
  }

  bool Remove(const std::string& path, int& error) override {
    if (::unlink(path.c_str()) == 0) return true;
    error = errno;
    return false;
  }

  bool IsReadOnlyFile(const std::string& path) override {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
    return ::access(path.c_str(), W_OK) != 0 && IsPermissionError(errno);
  }

  bool SyncDirectoryOf(const std::string& path) override {
    const auto slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
  }
};

}  // namespace

FileSystem& FileSystem::Native() {
  static PosixFileSystem fs;
  return fs;
}

bool IsLockUnsupportedError(int error) {
  return error == EINVAL || error == ENOLCK || error == EOPNOTSUPP || error == ENOSYS;
}

std::string SystemErrorMessage(int error) {
  if (error == ErrorSharingViolation) return "The file is in use by another opener";
  if (error == ErrorLockViolation) return "The region overlaps a region this handle has locked";
  if (error == ErrorNotLocked) return "The region is not locked by this handle";
  char buffer[256] = {};
  const char* text = ::strerror_r(error, buffer, sizeof buffer);
  return text != nullptr ? std::string(text) : std::string();
}

}  // namespace platform
