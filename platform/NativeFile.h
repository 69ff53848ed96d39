// Files and byte-range locks for the database engine, on POSIX calls, with the semantics the engine
// expects of a Windows file handle. Plain C++, no Qt.
//
// - Every descriptor is opened with O_CLOEXEC, so a spawned program never inherits our locks.
// - Read and Write move the whole count (pread/pwrite loops); a read past the end zero-fills the
//   rest of the buffer. Flush is fdatasync.
// - Byte-range locks are open-file-description locks (F_OFD_SETLK/F_OFD_GETLK): they belong to the
//   handle, not the process, so two handles of one process exclude each other as two processes do,
//   and closing one handle never drops the locks of another. A registry per handle gives the Windows
//   rules: locking a range that overlaps one this handle holds fails; unlocking a range that is not
//   held exactly returns false; "is it locked" asks the registry, then F_OFD_GETLK, and never locks
//   and unlocks (which would drop a lock we hold).
// - Exclusive locks need a descriptor open for writing, so a file is opened read-write whenever it
//   allows that, also for read-only use (the caller enforces read-only). Only a file that cannot be
//   opened for writing falls back to a read-only descriptor; its byte locks are then shared locks,
//   which keep writers out but do not exclude other read-only openers (the weaker mode).
// - Share modes are emulated with a marker lock at ShareMarkerOffset: every opener holds a shared
//   lock on it, an exclusive opener a write lock. IsOtherOpenerPresent asks through it.
// - After Reopen every lock of the registry (and the marker) is taken again, or Reopen fails.
// - Multi-user use is meant for local file systems only.
// Failures return false and leave the errno value in LastError(); nothing here throws.
// Thread safety: a NativeFile is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

enum class FileAccess { ReadOnly, ReadWrite };
enum class FileShare { Exclusive, DenyWrite, DenyNone };
enum class FileDisposition { OpenExisting, CreateAlways };

// The marker byte of the share-mode emulation; far beyond any data offset the engine uses.
inline constexpr std::int64_t ShareMarkerOffset = std::int64_t{1} << 62;

// Error values beyond the errno range, with the meaning of the Windows codes of the same number:
// another opener holds the file; the range overlaps one this handle holds; the range is not held.
inline constexpr int ErrorSharingViolation = 32 + 1000;
inline constexpr int ErrorLockViolation = 33 + 1000;
inline constexpr int ErrorNotLocked = 158 + 1000;

// True for the errors with which a file system refuses byte-range locks altogether.
bool IsLockUnsupportedError(int error);

class NativeFile {
 public:
  virtual ~NativeFile() = default;
  // Reads count bytes at pos; bytes past the end of the file read as zero.
  virtual bool Read(void* buffer, std::int64_t count, std::int64_t pos) = 0;
  virtual bool Write(const void* buffer, std::int64_t count, std::int64_t pos) = 0;
  virtual bool GetSize(std::int64_t& size) = 0;
  // Grows (zero bytes) or shrinks the file to exactly size bytes.
  virtual bool SetSize(std::int64_t size) = 0;
  virtual bool Flush() = 0;
  // Non-blocking exclusive lock of count bytes at offset (shared in the weaker read-only mode).
  virtual bool LockRegion(std::int64_t offset, std::int64_t count) = 0;
  virtual bool UnlockRegion(std::int64_t offset, std::int64_t count) = 0;
  // True when this handle or any other holds a lock on a byte of the region.
  virtual bool IsRegionLocked(std::int64_t offset, std::int64_t count) = 0;
  // True when another handle (this process or another) has the file open.
  virtual bool IsOtherOpenerPresent() = 0;
  // Whether the handle still works (the size can be asked through it).
  virtual bool IsHandleValid() = 0;
  // Opens the file again under a fresh handle and takes every held lock again; false when the file
  // cannot be opened or a lock cannot be taken again (the handle is then closed).
  virtual bool Reopen() = 0;
  virtual bool Close() = 0;
  virtual int LastError() const = 0;
  // True when the descriptor was opened for writing.
  virtual bool IsWritable() const = 0;
  // True in the weaker mode (read-only descriptor, shared byte locks).
  virtual bool HasSharedLocksOnly() const { return !IsWritable(); }
  virtual const std::string& Path() const = 0;
};

// Creates and removes files. The engine reaches the file system only through this interface, so
// tests can put a fault-injecting layer in between.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opens (or creates and truncates) a file. A writable descriptor is used whenever the file allows
  // it. Exclusive share fails with ErrorSharingViolation when another opener is present; a shared
  // open fails the same way when an exclusive opener is present. nullptr on failure with error set.
  virtual std::unique_ptr<NativeFile> Open(const std::string& path, FileAccess access, FileShare share,
                                           FileDisposition disposition, int& error) = 0;
  virtual bool Exists(const std::string& path) = 0;
  virtual bool Remove(const std::string& path, int& error) = 0;
  // True when the file may not be written (no write permission for us): the read-only attribute.
  virtual bool IsReadOnlyFile(const std::string& path) = 0;
  // Makes the creation or removal of a file in its folder durable.
  virtual bool SyncDirectoryOf(const std::string& path) = 0;

  // The real file system.
  static FileSystem& Native();
};

// The system's text for an errno value.
std::string SystemErrorMessage(int error);

}  // namespace platform
