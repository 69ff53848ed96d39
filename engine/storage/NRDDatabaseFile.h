// TNRDDatabaseFile: the one operating-system file behind a disk database. It checks that the file is
// open, retries a failed operation once after making sure the handle still works (reopening it when
// it does not), turns every remaining failure into an ENRDException whose text names the file, the
// positions and the system error, offers byte-range locks between processes, and finds the database
// header inside a file that carries other data in front of it.
//
// Change sets: between BeginBatch and CommitBatch every write and size change is held in memory
// (reads see it) and CommitBatch brings it to the file through the rollback journal (NRDJournal.h),
// so that a change set is either wholly in the file or not at all, even when the process dies in
// the middle. RecoverJournal rolls back the journal of a writer that is gone; callers call it while
// they hold the database header lock.
//
// Locks: a lock refused by another opener returns false, whatever the reason; there is no state
// that turns later failures into success. A file system without byte-range locks raises 30368.
// Reads past the end of the file give zero bytes. A file opened amReadOnly refuses every write and
// size change here, whatever its descriptor allows.
// Not thread-safe: the page manager above serialises its use. Destructor never throws.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/foundation/NRDTypes.h"
#include "engine/storage/NRDJournal.h"
#include "platform/NativeFile.h"

namespace nrd {


inline constexpr char DatabaseSignature[17] = "N0RELDKXDATABASE";

class TNRDDatabaseFile {
 public:
  // fs: the file system to use; nullptr for the real one. Not owned.
  explicit TNRDDatabaseFile(platform::FileSystem* fs = nullptr);
  ~TNRDDatabaseFile();
  TNRDDatabaseFile(const TNRDDatabaseFile&) = delete;
  TNRDDatabaseFile& operator=(const TNRDDatabaseFile&) = delete;

  // Creates (or empties) the file, exclusively. 30374 blank name; 30361 when it cannot be created,
  // also when another opener holds an existing file of that name (the file is then left alone).
  void CreateAndOpenFile(const std::string& fileName);
  // 30366/30367 unknown mode; 30364 when it cannot be opened.
  void OpenFile(const std::string& fileName, TNRDAccessMode accessMode, TNRDShareMode shareMode);
  void CloseFile();

  void ReadBuffer(void* buffer, std::int64_t count, std::int64_t position, int errorCode);
  bool ReadBuffer(void* buffer, std::int64_t count, std::int64_t position);
  void WriteBuffer(const void* buffer, std::int64_t count, std::int64_t position, int errorCode);
  void SetPosition(std::int64_t position);
  std::int64_t GetPosition();
  void SetSize(std::int64_t newSize);
  std::int64_t GetSize();
  void FlushFileBuffers();

  bool LockByte(std::int64_t offset, std::int32_t count);
  bool UnlockByte(std::int64_t offset, std::int32_t count);
  // Asks, never locks: true when any handle (this one included) holds a lock on the byte(s).
  bool IsByteLocked(std::int64_t offset);
  bool IsRegionLocked(std::int64_t offset, std::int32_t count);
  // True when another handle has the file open.
  bool IsOtherOpenerPresent();

  bool ReopenDatabaseFile();
  bool FindSignature(std::int64_t& offset);

  // Change sets. BeginBatch returns false when a batch is already running (the caller then joins it
  // and neither commits nor aborts it).
  bool BeginBatch();
  void CommitBatch();
  void AbortBatch();
  bool InBatch() const { return FBatch.Active(); }
  // Inside a change set: the journal keeps no before-image of these bytes (see
  // TNRDWriteBatch::SkipBeforeImage). Outside one it does nothing.
  void SkipBeforeImage(std::int64_t position, std::int64_t count) {
    if (FBatch.Active()) FBatch.SkipBeforeImage(position, count);
  }
  // A change set that reaches the file in parts (a transaction that spills its pages): from
  // BeginSpill to EndSpill every batch commits through one growing journal (TNRDSpillJournal), the
  // file is synced and the journal deleted only at EndSpill(true); EndSpill(false) restores the file
  // as it was at BeginSpill. The caller holds the header lock all the while. 30369/30375.
  void BeginSpill();
  void EndSpill(bool commit);
  bool InSpill() const { return FSpill != nullptr; }
  // During a spill: the bytes as they were at BeginSpill, for readers that must not see the
  // change set. False when the read fails.
  bool ReadOriginal(void* buffer, std::int64_t count, std::int64_t position);
  // Rolls back an unfinished change set of a writer that is gone; true when there was one.
  bool RecoverJournal();
  // True when a journal lies beside the file (of a live writer, or of one that is gone).
  bool JournalExists();

  const std::string& FileName() const { return FFileName; }
  bool IsOpened() const { return FIsOpened; }
  TNRDAccessMode AccessMode() const { return FAccessMode; }
  TNRDShareMode ShareMode() const { return FShareMode; }
  // True when the descriptor can write (also for a file opened amReadOnly).
  bool IsWritable() const { return FFile != nullptr && FFile->IsWritable(); }
  // Whether change sets and flushes wait for the disk (fdatasync); on by default.
  bool Synchronous() const { return FSynchronous; }
  void SetSynchronous(bool value) { FSynchronous = value; }
  // Wait between reopen attempts (1000 ms by default).
  void SetReopenDelayMS(int value) { FReopenDelayMS = value; }
  platform::FileSystem& FileSystem() { return *FFileSystem; }

 private:
  void CheckOpened(const char* operation) const;
  void CheckClosed(const char* operation) const;
  bool RawRead(void* buffer, std::int64_t count, std::int64_t position);
  bool RawWrite(const void* buffer, std::int64_t count, std::int64_t position);
  bool RawGetSize(std::int64_t& size);
  bool RawSetSize(std::int64_t size);
  bool TryLock(bool lock, std::int64_t offset, std::int32_t count);
  std::int64_t SizeForMessage();
  bool RefuseReadOnly();
  int LastError() const;

  platform::FileSystem* FFileSystem;
  std::unique_ptr<platform::NativeFile> FFile;
  std::string FFileName;
  std::string FJournalPath;
  TNRDAccessMode FAccessMode = amReadWrite;
  TNRDShareMode FShareMode = smExclusive;
  bool FIsOpened = false;
  std::int64_t FPosition = 0;
  bool FSynchronous = true;
  int FReopenDelayMS = 1000;
  int FLastError = 0;
  TNRDWriteBatch FBatch;
  std::unique_ptr<TNRDSpillJournal> FSpill;
};

// Runs a change set: begins a batch unless one runs already, commits it on Commit, aborts it when
// left without Commit (an exception). A scope that joined a running batch does neither.
class TNRDBatchScope {
 public:
  explicit TNRDBatchScope(TNRDDatabaseFile& file) : FFile(file), FOwner(file.BeginBatch()) {}
  ~TNRDBatchScope() {
    if (FOwner && !FDone) FFile.AbortBatch();
  }
  TNRDBatchScope(const TNRDBatchScope&) = delete;
  TNRDBatchScope& operator=(const TNRDBatchScope&) = delete;
  void Commit() {
    FDone = true;
    if (FOwner) FFile.CommitBatch();
  }
  bool Owner() const { return FOwner; }

 private:
  TNRDDatabaseFile& FFile;
  bool FOwner;
  bool FDone = false;
};

}  // namespace nrd
