// Table and record locks of a multi-user database file, shared between the sessions of a process
// and between processes.
//
// Per session the manager keeps the locks it holds (one item per lock type and table, a table named
// by the first page of its locks file), each with a count and whether it is physical, that is held
// as a byte lock in the table's locks file (NRDSystemFiles.h). A lock covered by a stronger one the
// session holds on the same table is only logical. Before a physical lock goes, the session's
// weaker logical locks that leaned on it take their own bytes. Requests that conflict are retried
// with randomised sleeps, outside the manager's critical section. A lock not obtained within its
// tries is a false result. Record locks are ltU items counted per session and table; within a
// session each holder (a cursor) has at most one record lock per table, so two data sets of one
// session edit two records side by side. The first record lock of a session on a table is stored in
// the session's slot of the locks file; every record lock also holds one byte of a region far past
// the end of the database file, picked by the table and the record ID, so that another process
// sees each of them (a shared byte of two records only makes one wait for the other).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "engine/foundation/NRDTypes.h"

namespace nrd {

class TNRDDiskPageManager;
class TNRDTableLocksFile;

struct TNRDTableLockListItem {
  TNRDLockType LockType = ltIS;
  std::int32_t LocksFilePageNo = -1;
  std::int32_t Count = 0;
  bool HasPhysicalLock = false;
  bool IsXIRWAfterSIRWAllowed = false;
};

class TNRDTableLockList {
 public:
  ~TNRDTableLockList() noexcept(false);
  void AddLock(TNRDLockType lockType, std::int32_t locksFilePageNo, bool hasPhysicalLock, bool isXIRWAfterSIRWAllowed);
  // 20202 when missing.
  void RemoveLock(TNRDLockType lockType, std::int32_t locksFilePageNo, bool& hasPhysicalLock, bool ignoreCount);
  bool LockExists(TNRDLockType lockType, std::int32_t locksFilePageNo) const;
  bool LockExists(TNRDLockType lockType, std::int32_t locksFilePageNo, bool isXIRWAfterSIRWAllowed) const;
  bool StrongerLockExists(TNRDLockType lockType, std::int32_t locksFilePageNo) const;
  void SetPhysicalLock(std::int32_t itemNo) { FLockList[static_cast<std::size_t>(itemNo)].HasPhysicalLock = true; }
  bool IsWeakerNonPhysicalLock(std::int32_t itemNo, TNRDLockType lockType) const;
  std::int32_t Count() const { return static_cast<std::int32_t>(FLockList.size()); }
  const TNRDTableLockListItem& Item(std::int32_t i) const { return FLockList[static_cast<std::size_t>(i)]; }
  const TNRDTableLockListItem* Find(TNRDLockType lockType, std::int32_t locksFilePageNo) const;
  // Marks the item of that type and table as held, or not held, by a byte of its own.
  void SetPhysical(TNRDLockType lockType, std::int32_t locksFilePageNo, bool value);
  // Forgets every item (a session that goes has released its bytes with its file handle).
  void Clear() { FLockList.clear(); }

 private:
  std::vector<TNRDTableLockListItem> FLockList;
};

class TNRDDatabaseTableLockManager {
 public:
  TNRDDatabaseTableLockManager(std::int32_t maxSessionCount, TNRDDiskPageManager* pageManager);
  ~TNRDDatabaseTableLockManager();

  bool LockTable(std::int32_t sessionID, TNRDLockType lockType, TNRDTableLocksFile& tableLocksFile,
                 std::int32_t tryCount, std::int32_t delayMS, bool noThreadLock, bool allowXIRWAfterSIRW);
  bool UnlockTable(std::int32_t sessionID, TNRDLockType lockType, TNRDTableLocksFile& tableLocksFile,
                   bool ignoreIfNoLock, bool ignoreCount);
  // holder names who in the session holds the lock (a cursor; nullptr is the session itself). False
  // when the holder already has a record lock on the table, or when the record is held by another
  // session or holder after the tries.
  bool LockRecord(std::int32_t sessionID, TNRDTableLocksFile& tableLocksFile, const TNRDPageItemID& recordID,
                  std::int32_t tryCount, std::int32_t delayMS, const void* holder = nullptr);
  // Releases the holder's record lock on the table (its only one, whatever recordID says); false
  // when it holds none.
  bool UnlockRecord(std::int32_t sessionID, TNRDTableLocksFile& tableLocksFile, const TNRDPageItemID& recordID,
                    const void* holder = nullptr);
  // Another session, or another holder of this session, holds the record.
  bool IsRecordLocked(std::int32_t sessionID, TNRDTableLocksFile& tableLocksFile, const TNRDPageItemID& recordID,
                      const void* holder = nullptr);
  bool AddRWLocksBeforeCommit(std::int32_t sessionID);
  // A session that goes: its lists are forgotten and the far bytes of its record locks released.
  void ForgetSession(std::int32_t sessionID);
  bool ClearTransactionLocks(std::int32_t sessionID);

  TNRDTableLockList& SessionLocks(std::int32_t sessionID);
  std::int32_t MaxSessionCount() const { return FMaxSessionCount; }
  // Retry waits of the unlock and take-over loops (4500 x 20 ms by default).
  void SetReleaseRetry(int tryCount, int delayMS) {
    FReleaseTries = tryCount;
    FReleaseDelayMS = delayMS;
  }

 private:
  // Gives the session's logical locks on the table that lockType covers their own bytes.
  bool TakeOverPhysicalLocks(std::int32_t sessionID, TNRDLockType lockType, TNRDTableLocksFile& file);
  bool Release(std::int32_t sessionID, TNRDLockType lockType, TNRDTableLocksFile& file);
  // One record lock held in this process.
  struct THeldRecord {
    std::int32_t SessionID;
    std::int32_t Table;
    TNRDPageItemID RecordID;
    const void* Holder;
    bool Physical;  // holds its far byte (and maybe the session's slot); false under ltX
    bool InSlot;    // stored in the session's slot of the locks file
  };
  std::size_t FindHeld(std::int32_t sessionID, std::int32_t table, const void* holder) const;
  // Under the locks file's whole-file lock: whether anyone but this holder has the record.
  bool RecordTaken(std::int32_t sessionID, TNRDTableLocksFile& file, const TNRDPageItemID& recordID,
                   const void* holder);
  static std::int64_t RecordLockOffset(std::int32_t table, const TNRDPageItemID& recordID);
  bool TakeFarByte(std::int64_t offset);
  bool ReleaseFarByte(std::int64_t offset);
  std::vector<THeldRecord> FHeldRecords;
  std::vector<std::pair<std::int64_t, std::int32_t>> FFarBytes;  // offset, holders in this process
  void Wait(std::unique_lock<std::recursive_mutex>& lock, std::int32_t ms);
  std::vector<std::unique_ptr<TNRDTableLockList>> FSessionLockList;
  std::int32_t FMaxSessionCount;
  std::recursive_mutex FCSect;
  TNRDDiskPageManager* LPageManager;
  std::mt19937 FRandom{std::random_device{}()};
  int FReleaseTries = 4500;
  int FReleaseDelayMS = 20;
};

}  // namespace nrd
