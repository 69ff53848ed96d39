// The system files of a database file, each an internal file (NRDInternalFiles.h):
// - the system directory (transacted, page type 4, first page always page 2): 5-byte items
//     0 FileID u8 (TNRDDBFileType) | 1 FirstPageNo i32
// - the table list (transacted, page type 6): 272-byte items
//     0 TableName (length byte + 255) | 256 TableID i32 | 260 MetaDataFilePageNo i32 |
//     264 MostUpdatedFilePageNo i32 | 268 LocksFilePageNo i32
// - the active sessions file (direct, page type 5): N bytes, byte s the lock target of session
//   slot s (never read or written)
// - per table, the table locks file (direct, page type 7): 12 x N bytes; byte t x N + s (t = 0..5)
//   the lock of type t held by session s (t = 5 is also the session's record lock); at 6N + 6s the
//   6-byte record ID session s has locked. ltX is the whole-file lock of the locks file.
// All page work is done as the system session -2. Coordination between processes is byte-range
// locks only; a lock not obtained is a false result, not an error.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/foundation/NRDTypes.h"
#include "engine/storage/NRDInternalFiles.h"

namespace nrd {

class TNRDDiskPageManager;

inline constexpr std::int32_t SystemDirectoryPageNo = 2;

struct TNRDSystemDirectoryListItem {
  TNRDDBFileType FileID = dbftUnknown;
  std::int32_t FirstPageNo = -1;
};

class TNRDSystemDirectory {
 public:
  explicit TNRDSystemDirectory(TNRDDiskPageManager* pageManager);
  // 30392 when the file does not start at page 2.
  void CreateDirectory();
  void LoadDirectory();
  void SaveDirectory();
  void CreateFile(TNRDDBFileType fileType, std::int32_t firstPageNo);
  std::int32_t GetFileFirstPageNo(TNRDDBFileType fileType) const;
  TNRDDiskPageManager* PageManager() const { return LPageManager; }
  const std::vector<TNRDSystemDirectoryListItem>& Items() const { return FFileList; }

 private:
  TNRDDiskPageManager* LPageManager;
  std::unique_ptr<TNRDInternalDBTransactedAccessFile> FHandle;
  std::vector<TNRDSystemDirectoryListItem> FFileList;
};

struct TNRDTableListItem {
  std::string TableName;
  std::int32_t TableID = -1;
  std::int32_t MetaDataFilePageNo = -1;
  std::int32_t MostUpdatedFilePageNo = -1;
  std::int32_t LocksFilePageNo = -1;
};

class TNRDTableListFile {
 public:
  explicit TNRDTableListFile(TNRDDiskPageManager* pageManager);
  std::int32_t CreateFile();
  // 30393 when open.
  void OpenFile(std::int32_t startPageNo);
  void CloseFile();
  void Load();
  void Save();
  // 30395 when the name is listed (without regard to case).
  void AddTable(std::int32_t tableID, const std::string& tableName, std::int32_t metadataFilePageNo,
                std::int32_t mostUpdatedFilePageNo, std::int32_t locksFilePageNo);
  // 30396 when missing.
  void OpenTable(const std::string& tableName, std::int32_t& tableID, std::int32_t& metadataFilePageNo,
                 std::int32_t& mostUpdatedFilePageNo, std::int32_t& locksFilePageNo) const;
  void RemoveTable(const std::string& tableName);                               // 30405
  void RenameTable(const std::string& tableName, const std::string& newName);  // 30397
  bool TableExists(const std::string& tableName) const;
  // Loads the stored list first.
  void GetTablesList(std::vector<std::string>& list);
  std::int32_t StartPageNo() const { return FHandle ? FHandle->StartPageNo() : -1; }
  const std::vector<TNRDTableListItem>& Items() const { return FTableList; }

 private:
  std::int32_t Find(const std::string& tableName) const;
  TNRDDiskPageManager* LPageManager;
  std::unique_ptr<TNRDInternalDBTransactedAccessFile> FHandle;
  std::vector<TNRDTableListItem> FTableList;
};

class TNRDActiveSessionsFile {
 public:
  explicit TNRDActiveSessionsFile(TNRDDiskPageManager* pageManager);
  std::int32_t CreateFile(std::int32_t maxSessionCount);
  void OpenFile(std::int32_t startPageNo);
  void CloseFile();
  // The first free slot (multi-user); 0 at once when the file is not opened multi-user. 20094
  // when every slot is taken or the file is held single-user.
  std::int32_t MultiUserConnect();
  void MultiUserDisconnect(std::int32_t sessionID);  // 20095
  // Every slot, when none is taken by anyone.
  bool SingleUserConnect();
  void SingleUserDisconnect();
  std::int32_t GetDBFileConnectionsCount();
  std::int32_t StartPageNo() const { return FHandle ? FHandle->StartPageNo() : -1; }
  std::int32_t MaxSessionCount() const { return FMaxSessionCount; }

 private:
  // Runs body under the file's whole-file lock (taken when it can be; released only when taken).
  template <typename F> auto UnderFileLock(int unlockCode, F body);
  TNRDDiskPageManager* LPageManager;
  std::unique_ptr<TNRDInternalDBDirectAccessFile> FHandle;
  std::int32_t FMaxSessionCount = 0;
};

class TNRDTableLocksFile {
 public:
  explicit TNRDTableLocksFile(TNRDDiskPageManager* pageManager);
  std::int32_t CreateFile(std::int32_t maxSessionCount);
  void OpenFile(std::int32_t startPageNo);
  void CloseFile();
  void DeleteFile();
  bool LockTable(std::int32_t sessionID, TNRDLockType lockType);    // 10489, 20200
  bool UnlockTable(std::int32_t sessionID, TNRDLockType lockType);  // 10494
  bool IsTableLockedByAnyOtherSession(std::int32_t sessionID, TNRDLockType lockType);  // 10490
  bool IsTableLockAllowed(std::int32_t sessionID, TNRDLockType lockType, bool allowXIRWAfterSIRW);
  bool LockRecord(std::int32_t sessionID, const TNRDPageItemID& recordID);    // 10491
  bool UnlockRecord(std::int32_t sessionID, const TNRDPageItemID& recordID);  // 10492
  bool IsRecordLockedByAnyOtherSession(std::int32_t sessionID, const TNRDPageItemID& recordID);  // 10493
  bool LockFile();
  bool UnlockFile();
  std::int32_t MaxSessionCount() const { return FMaxSessionCount; }
  std::int32_t StartPageNo() const;  // 10483 when not open
  bool IsOpen() const { return FHandle != nullptr; }

 private:
  TNRDInternalDBDirectAccessFile& Open(int code) const;
  TNRDDiskPageManager* LPageManager;
  std::unique_ptr<TNRDInternalDBDirectAccessFile> FHandle;
  std::int32_t FMaxSessionCount = 0;
};

// Whether a lock of type `held` held by another session admits a request of type `requested`.
bool LockTypesCompatible(TNRDLockType held, TNRDLockType requested);
// Every request that `a` held admits is admitted by `b` held too.
bool IsStrongerLock(TNRDLockType a, TNRDLockType b);

}  // namespace nrd
