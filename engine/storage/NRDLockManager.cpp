// The table and record lock manager.
#include "engine/storage/NRDLockManager.h"

#include <chrono>
#include <thread>

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDDiskPageManager.h"
#include "engine/storage/NRDSystemFiles.h"

namespace nrd {

// ----- lock list ----------------------------------------------------------------------------------
TNRDTableLockList::~TNRDTableLockList() noexcept(false) {
  if (!FLockList.empty() && std::uncaught_exceptions() == 0)
    throw ENRDException(20201, "Some table locks still exist");
}

const TNRDTableLockListItem* TNRDTableLockList::Find(TNRDLockType lockType, std::int32_t locksFilePageNo) const {
  for (const auto& i : FLockList)
    if (i.LockType == lockType && i.LocksFilePageNo == locksFilePageNo) return &i;
  return nullptr;
}

void TNRDTableLockList::SetPhysical(TNRDLockType lockType, std::int32_t locksFilePageNo, bool value) {
  for (auto& i : FLockList)
    if (i.LockType == lockType && i.LocksFilePageNo == locksFilePageNo) i.HasPhysicalLock = value;
}

void TNRDTableLockList::AddLock(TNRDLockType lockType, std::int32_t locksFilePageNo, bool hasPhysicalLock,
                                bool isXIRWAfterSIRWAllowed) {
  for (auto& i : FLockList)
    if (i.LockType == lockType && i.LocksFilePageNo == locksFilePageNo) {
      ++i.Count;
      return;
    }
  FLockList.push_back({lockType, locksFilePageNo, 1, hasPhysicalLock, isXIRWAfterSIRWAllowed});
}

void TNRDTableLockList::RemoveLock(TNRDLockType lockType, std::int32_t locksFilePageNo, bool& hasPhysicalLock,
                                   bool ignoreCount) {
  for (std::size_t n = 0; n < FLockList.size(); ++n) {
    TNRDTableLockListItem& i = FLockList[n];
    if (i.LockType != lockType || i.LocksFilePageNo != locksFilePageNo) continue;
    --i.Count;
    if (i.Count <= 0 || ignoreCount) {
      hasPhysicalLock = i.HasPhysicalLock;
      FLockList.erase(FLockList.begin() + static_cast<std::ptrdiff_t>(n));
    } else {
      hasPhysicalLock = false;
    }
    return;
  }
  throw ENRDException(20202, "Cannot remove table lock. Lock not found");
}

bool TNRDTableLockList::LockExists(TNRDLockType lockType, std::int32_t locksFilePageNo) const {
  return Find(lockType, locksFilePageNo) != nullptr;
}

bool TNRDTableLockList::LockExists(TNRDLockType lockType, std::int32_t locksFilePageNo,
                                   bool isXIRWAfterSIRWAllowed) const {
  const TNRDTableLockListItem* i = Find(lockType, locksFilePageNo);
  return i != nullptr && i->IsXIRWAfterSIRWAllowed == isXIRWAfterSIRWAllowed;
}

bool TNRDTableLockList::StrongerLockExists(TNRDLockType lockType, std::int32_t locksFilePageNo) const {
  for (const auto& i : FLockList)
    if (i.LocksFilePageNo == locksFilePageNo && i.LockType != lockType && IsStrongerLock(i.LockType, lockType))
      return true;
  return false;
}

bool TNRDTableLockList::IsWeakerNonPhysicalLock(std::int32_t itemNo, TNRDLockType lockType) const {
  const TNRDTableLockListItem& i = FLockList[static_cast<std::size_t>(itemNo)];
  return IsStrongerLock(lockType, i.LockType) && !i.HasPhysicalLock;
}

// ----- manager ------------------------------------------------------------------------------------
TNRDDatabaseTableLockManager::TNRDDatabaseTableLockManager(std::int32_t maxSessionCount,
                                                           TNRDDiskPageManager* pageManager)
    : FMaxSessionCount(maxSessionCount), LPageManager(pageManager) {
  for (std::int32_t i = 0; i < maxSessionCount; ++i) FSessionLockList.push_back(std::make_unique<TNRDTableLockList>());
}

TNRDDatabaseTableLockManager::~TNRDDatabaseTableLockManager() {
  // Closing the file releases the byte locks; the lists only need to go.
  for (auto& l : FSessionLockList) l->Clear();
}

void TNRDDatabaseTableLockManager::ForgetSession(std::int32_t sessionID) {
  std::lock_guard<std::recursive_mutex> lock(FCSect);
  TNRDTableLockList& list = SessionLocks(sessionID);
  for (std::size_t n = FHeldRecords.size(); n-- > 0;) {
    const THeldRecord& h = FHeldRecords[n];
    if (h.SessionID != sessionID) continue;
    if (h.Physical) {
      try {
        ReleaseFarByte(RecordLockOffset(h.Table, h.RecordID));
      } catch (...) {
        // A file that is gone has released its bytes already.
      }
    }
    FHeldRecords.erase(FHeldRecords.begin() + static_cast<std::ptrdiff_t>(n));
  }
  list.Clear();
}

TNRDTableLockList& TNRDDatabaseTableLockManager::SessionLocks(std::int32_t sessionID) {
  if (sessionID < 0 || sessionID >= FMaxSessionCount)
    throw ENRDException(20200,
                        "Cannot set table lock. Try to repair database or to increase number of allowed connections");
  return *FSessionLockList[static_cast<std::size_t>(sessionID)];
}

void TNRDDatabaseTableLockManager::Wait(std::unique_lock<std::recursive_mutex>& lock, std::int32_t ms) {
  const bool held = lock.owns_lock();
  if (held) lock.unlock();
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  else std::this_thread::yield();
  if (held) lock.lock();
}

bool TNRDDatabaseTableLockManager::LockTable(std::int32_t sessionID, TNRDLockType lockType,
                                             TNRDTableLocksFile& file, std::int32_t tryCount, std::int32_t delayMS,
                                             bool noThreadLock, bool allowXIRWAfterSIRW) {
  if (LPageManager != nullptr && LPageManager->Exclusive()) return true;
  std::unique_lock<std::recursive_mutex> lock(FCSect, std::defer_lock);
  if (!noThreadLock) lock.lock();
  TNRDTableLockList& list = SessionLocks(sessionID);
  const std::int32_t table = file.StartPageNo();
  if (list.LockExists(lockType, table)) {
    // Counted like every other type: several data sets of one session may each be editing a record
    // of the table (their record locks keep them apart).
    list.AddLock(lockType, table, false, allowXIRWAfterSIRW);
    return true;
  }
  if (list.StrongerLockExists(lockType, table)) {
    list.AddLock(lockType, table, false, true);
    return true;
  }
  for (std::int32_t attempt = 0; attempt < tryCount; ++attempt) {
    if (file.LockFile()) {
      bool granted = false;
      try {
        if (file.IsTableLockAllowed(sessionID, lockType, allowXIRWAfterSIRW)) {
          if (lockType == ltX) {
            granted = true;  // the whole-file lock is the lock
          } else if (file.LockTable(sessionID, lockType)) {
            granted = true;
          } else {
            throw ENRDException(20203, "Cannot set table lock");
          }
        }
      } catch (...) {
        file.UnlockFile();
        throw;
      }
      if (!granted || lockType != ltX) file.UnlockFile();
      if (granted) {
        list.AddLock(lockType, table, true, allowXIRWAfterSIRW);
        return true;
      }
    }
    if (attempt + 1 < tryCount) {
      const std::int32_t half = delayMS / 2;
      const std::int32_t extra = half > 0 ? static_cast<std::int32_t>(FRandom() % static_cast<unsigned>(half)) : 0;
      Wait(lock, half + extra);
    }
  }
  return false;
}

bool TNRDDatabaseTableLockManager::TakeOverPhysicalLocks(std::int32_t sessionID, TNRDLockType lockType,
                                                         TNRDTableLocksFile& file) {
  TNRDTableLockList& list = SessionLocks(sessionID);
  const std::int32_t table = file.StartPageNo();
  bool any = false;
  for (std::int32_t i = 0; i < list.Count(); ++i)
    if (list.Item(i).LocksFilePageNo == table && list.Item(i).LockType != lockType &&
        list.IsWeakerNonPhysicalLock(i, lockType))
      any = true;
  if (!any) return true;
  const bool needFileLock = lockType != ltX;
  if (needFileLock && !RetryCall(FReleaseTries, FReleaseDelayMS, [&] { return file.LockFile(); })) return false;
  bool ok = true;
  for (std::int32_t i = 0; i < list.Count(); ++i) {
    const TNRDTableLockListItem& item = list.Item(i);
    if (item.LocksFilePageNo != table || item.LockType == lockType || !list.IsWeakerNonPhysicalLock(i, lockType))
      continue;
    if (item.LockType == ltU) continue;  // a logical record lock under ltX has no record stored
    if (file.LockTable(sessionID, item.LockType)) list.SetPhysicalLock(i);
    else ok = false;
  }
  if (needFileLock) file.UnlockFile();
  return ok;
}

bool TNRDDatabaseTableLockManager::Release(std::int32_t sessionID, TNRDLockType lockType, TNRDTableLocksFile& file) {
  for (int attempt = 0; attempt < FReleaseTries; ++attempt) {
    if (lockType == ltX) {
      if (file.UnlockFile()) return true;
    } else if (file.LockFile()) {
      const bool done = file.UnlockTable(sessionID, lockType);
      file.UnlockFile();
      if (!done) throw ENRDException(20204, "Cannot unlock table");
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(FReleaseDelayMS));
  }
  return false;
}

bool TNRDDatabaseTableLockManager::UnlockTable(std::int32_t sessionID, TNRDLockType lockType,
                                               TNRDTableLocksFile& file, bool ignoreIfNoLock, bool ignoreCount) {
  if (LPageManager != nullptr && LPageManager->Exclusive()) return true;
  std::lock_guard<std::recursive_mutex> lock(FCSect);
  TNRDTableLockList& list = SessionLocks(sessionID);
  const std::int32_t table = file.StartPageNo();
  const TNRDTableLockListItem* item = list.Find(lockType, table);
  if (item == nullptr && ignoreIfNoLock) return true;
  const TNRDTableLockListItem saved = item != nullptr ? *item : TNRDTableLockListItem{};
  bool physical = false;
  list.RemoveLock(lockType, table, physical, ignoreCount);
  if (!physical) return true;
  // The session's weaker logical locks get bytes of their own first; failing that nothing goes.
  bool released = false;
  if (TakeOverPhysicalLocks(sessionID, lockType, file)) released = Release(sessionID, lockType, file);
  if (!released) {
    list.AddLock(lockType, table, true, saved.IsXIRWAfterSIRWAllowed);
    return false;
  }
  return true;
}

std::size_t TNRDDatabaseTableLockManager::FindHeld(std::int32_t sessionID, std::int32_t table,
                                                   const void* holder) const {
  for (std::size_t n = 0; n < FHeldRecords.size(); ++n) {
    const THeldRecord& h = FHeldRecords[n];
    if (h.SessionID == sessionID && h.Table == table && h.Holder == holder) return n;
  }
  return FHeldRecords.size();
}

std::int64_t TNRDDatabaseTableLockManager::RecordLockOffset(std::int32_t table, const TNRDPageItemID& recordID) {
  // Far past any file size and below the share marker of the file layer (2^62); 2^40 places, so
  // two records of the open tables practically never share one.
  std::uint64_t x = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(table)) << 32) ^
                    (static_cast<std::uint64_t>(static_cast<std::uint32_t>(recordID.PageNo)) << 16) ^
                    static_cast<std::uint64_t>(recordID.PageItemNo);
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  x ^= x >> 31;
  return (std::int64_t{1} << 61) + static_cast<std::int64_t>(x & ((std::uint64_t{1} << 40) - 1));
}

bool TNRDDatabaseTableLockManager::TakeFarByte(std::int64_t offset) {
  for (auto& f : FFarBytes)
    if (f.first == offset) {
      ++f.second;  // another record of this process shares the byte
      return true;
    }
  if (LPageManager != nullptr && !LPageManager->DatabaseFile().LockByte(offset, 1)) return false;
  FFarBytes.emplace_back(offset, 1);
  return true;
}

bool TNRDDatabaseTableLockManager::ReleaseFarByte(std::int64_t offset) {
  for (std::size_t n = 0; n < FFarBytes.size(); ++n) {
    if (FFarBytes[n].first != offset) continue;
    if (--FFarBytes[n].second > 0) return true;
    FFarBytes.erase(FFarBytes.begin() + static_cast<std::ptrdiff_t>(n));
    return LPageManager == nullptr || LPageManager->DatabaseFile().UnlockByte(offset, 1);
  }
  return false;
}

bool TNRDDatabaseTableLockManager::RecordTaken(std::int32_t sessionID, TNRDTableLocksFile& file,
                                               const TNRDPageItemID& recordID, const void* holder) {
  const std::int32_t table = file.StartPageNo();
  for (const THeldRecord& h : FHeldRecords)
    if (h.Table == table && h.RecordID == recordID && (h.SessionID != sessionID || h.Holder != holder)) return true;
  if (file.IsRecordLockedByAnyOtherSession(sessionID, recordID)) return true;
  // A far byte this process does not hold is another process's record lock.
  const std::int64_t offset = RecordLockOffset(table, recordID);
  for (const auto& f : FFarBytes)
    if (f.first == offset) return false;
  return LPageManager != nullptr && LPageManager->DatabaseFile().IsByteLocked(offset);
}

bool TNRDDatabaseTableLockManager::LockRecord(std::int32_t sessionID, TNRDTableLocksFile& file,
                                              const TNRDPageItemID& recordID, std::int32_t tryCount,
                                              std::int32_t delayMS, const void* holder) {
  const auto start = std::chrono::steady_clock::now();
  std::unique_lock<std::recursive_mutex> lock(FCSect);
  TNRDTableLockList& list = SessionLocks(sessionID);
  const std::int32_t table = file.StartPageNo();
  if (FindHeld(sessionID, table, holder) < FHeldRecords.size()) return false;
  const auto limit = std::chrono::milliseconds(static_cast<std::int64_t>(delayMS) * tryCount);
  for (std::int32_t attempt = 0; attempt < tryCount; ++attempt) {
    // Under ltX (or an XIRW without SIRW admitted) the lock is logical: only holders of this
    // session can meet it.
    if (list.LockExists(ltX, table) || list.LockExists(ltXIRW, table, false)) {
      if (!RecordTaken(sessionID, file, recordID, holder)) {
        FHeldRecords.push_back({sessionID, table, recordID, holder, false, false});
        list.AddLock(ltU, table, false, false);
        return true;
      }
    } else if (file.LockFile()) {
      bool granted = false;
      bool inSlot = true;
      try {
        if (!RecordTaken(sessionID, file, recordID, holder)) {
          const std::int64_t far = RecordLockOffset(table, recordID);
          if (TakeFarByte(far)) {
            // The session's first record lock on the table also goes into its slot.
            for (const THeldRecord& h : FHeldRecords)
              if (h.SessionID == sessionID && h.Table == table && h.InSlot) inSlot = false;
            if (inSlot && !file.LockRecord(sessionID, recordID)) {
              ReleaseFarByte(far);
              throw ENRDException(20205, "Cannot lock record");
            }
            granted = true;
          }
        }
      } catch (...) {
        file.UnlockFile();
        throw;
      }
      file.UnlockFile();
      if (granted) {
        FHeldRecords.push_back({sessionID, table, recordID, holder, true, inSlot});
        list.AddLock(ltU, table, true, false);
        if (inSlot) list.SetPhysical(ltU, table, true);
        return true;
      }
    }
    if (std::chrono::steady_clock::now() - start >= limit) break;
    if (attempt + 1 < tryCount) Wait(lock, delayMS);
  }
  return false;
}

bool TNRDDatabaseTableLockManager::UnlockRecord(std::int32_t sessionID, TNRDTableLocksFile& file,
                                                const TNRDPageItemID&, const void* holder) {
  std::lock_guard<std::recursive_mutex> lock(FCSect);
  TNRDTableLockList& list = SessionLocks(sessionID);
  const std::int32_t table = file.StartPageNo();
  const std::size_t n = FindHeld(sessionID, table, holder);
  if (n >= FHeldRecords.size() || !list.LockExists(ltU, table)) return false;
  const THeldRecord held = FHeldRecords[n];
  bool physical = false;
  if (!held.Physical) {
    FHeldRecords.erase(FHeldRecords.begin() + static_cast<std::ptrdiff_t>(n));
    list.RemoveLock(ltU, table, physical, false);
    return true;
  }
  // The slot passes to another record lock of the session on the table when there is one.
  std::size_t heir = FHeldRecords.size();
  if (held.InSlot)
    for (std::size_t k = 0; k < FHeldRecords.size() && heir == FHeldRecords.size(); ++k) {
      const THeldRecord& h = FHeldRecords[k];
      if (k != n && h.SessionID == sessionID && h.Table == table && h.Physical) heir = k;
    }
  const bool slotGoes = held.InSlot && heir == FHeldRecords.size();
  // Like a table unlock: logical locks that leaned on the record lock get bytes of their own first.
  if (slotGoes && !TakeOverPhysicalLocks(sessionID, ltU, file)) return false;
  for (int attempt = 0; attempt < FReleaseTries; ++attempt) {
    if (file.LockFile()) {
      bool done = false;
      try {
        done = ReleaseFarByte(RecordLockOffset(table, held.RecordID));
        if (done && held.InSlot) {
          done = file.UnlockRecord(sessionID, held.RecordID);
          if (done && !slotGoes) done = file.LockRecord(sessionID, FHeldRecords[heir].RecordID);
        }
      } catch (...) {
        file.UnlockFile();
        throw;
      }
      file.UnlockFile();
      if (!done) throw ENRDException(20206, "Cannot unlock record");
      if (!slotGoes && held.InSlot) FHeldRecords[heir].InSlot = true;
      FHeldRecords.erase(FHeldRecords.begin() + static_cast<std::ptrdiff_t>(n));
      list.RemoveLock(ltU, table, physical, false);
      if (slotGoes) list.SetPhysical(ltU, table, false);  // what is left is logical
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(FReleaseDelayMS));
  }
  return false;
}

bool TNRDDatabaseTableLockManager::IsRecordLocked(std::int32_t sessionID, TNRDTableLocksFile& file,
                                                  const TNRDPageItemID& recordID, const void* holder) {
  std::lock_guard<std::recursive_mutex> lock(FCSect);
  SessionLocks(sessionID);
  return RecordTaken(sessionID, file, recordID, holder);
}

bool TNRDDatabaseTableLockManager::AddRWLocksBeforeCommit(std::int32_t sessionID) {
  std::unique_lock<std::recursive_mutex> lock(FCSect);
  TNRDTableLockList& list = SessionLocks(sessionID);
  if (list.Count() == 0) return true;
  std::vector<std::int32_t> tables;
  for (std::int32_t i = 0; i < list.Count(); ++i) {
    const TNRDTableLockListItem& item = list.Item(i);
    if (item.LockType != ltXIRW) continue;
    bool covered = false;
    for (std::int32_t j = 0; j < list.Count(); ++j)
      if (list.Item(j).LocksFilePageNo == item.LocksFilePageNo && IsStrongerLock(list.Item(j).LockType, ltRW))
        covered = true;
    if (!covered) tables.push_back(item.LocksFilePageNo);
  }
  bool ok = true;
  for (std::int32_t table : tables) {
    TNRDTableLocksFile file(LPageManager);
    file.OpenFile(table);
    if (!LockTable(sessionID, ltRW, file, 900, 100, true, true)) {
      ok = false;
      break;
    }
  }
  if (!ok) {
    for (std::int32_t i = list.Count() - 1; i >= 0; --i) {
      if (i >= list.Count() || list.Item(i).LockType != ltRW) continue;
      TNRDTableLocksFile file(LPageManager);
      file.OpenFile(list.Item(i).LocksFilePageNo);
      UnlockTable(sessionID, ltRW, file, false, false);
    }
    for (std::int32_t i = 0; i < list.Count(); ++i)
      if (list.Item(i).LockType == ltRW) throw ENRDException(20234, "Some table locks still exist");
  }
  return ok;
}

bool TNRDDatabaseTableLockManager::ClearTransactionLocks(std::int32_t sessionID) {
  std::unique_lock<std::recursive_mutex> lock(FCSect);
  TNRDTableLockList& list = SessionLocks(sessionID);
  // Each record lock goes on as an edit outside the transaction, whose post or cancel releases
  // one ltSIRW: the session gets as many as it has record locks on the table.
  std::vector<std::pair<std::int32_t, std::int32_t>> recordTables;
  for (std::int32_t i = 0; i < list.Count(); ++i)
    if (list.Item(i).LockType == ltU) recordTables.emplace_back(list.Item(i).LocksFilePageNo, list.Item(i).Count);
  for (const auto& [table, records] : recordTables) {
    const TNRDTableLockListItem* sirw = list.Find(ltSIRW, table);
    const std::int32_t missing = records - (sirw != nullptr ? sirw->Count : 0);
    if (missing <= 0) continue;
    TNRDTableLocksFile file(LPageManager);
    file.OpenFile(table);
    for (std::int32_t k = 0; k < missing; ++k)
      if (!LockTable(sessionID, ltSIRW, file, 900, 100, true, true)) return false;
  }
  for (;;) {
    std::int32_t found = -1;
    for (std::int32_t i = 0; i < list.Count() && found < 0; ++i)
      if (list.Item(i).LockType == ltXIRW || list.Item(i).LockType == ltRW) found = i;
    if (found < 0) break;
    const TNRDTableLockListItem item = list.Item(found);
    TNRDTableLocksFile file(LPageManager);
    file.OpenFile(item.LocksFilePageNo);
    if (!UnlockTable(sessionID, item.LockType, file, false, true)) return false;
  }
  return true;
}

}  // namespace nrd
