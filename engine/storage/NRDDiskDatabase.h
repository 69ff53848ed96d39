// The shared object of one open database file. Every session of the process that connects to the
// file connects to this object (multi-user: one object per file and session name). It opens the
// file for the first session and closes it after the last, keeps the file's system directory,
// active-sessions file, table list and table lock manager, creates new database files and the disk
// table objects, and adds what a shared file needs: session slots in the file, the tables lock,
// transaction locks around commit and object IDs unique in the file.
// A session that disconnects with an open transaction has it rolled back first, so that a later
// session in the same slot never commits pages it did not change.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/foundation/NRDCipherPage.h"
#include "engine/foundation/NRDTypes.h"
#include "engine/storage/NRDDatabaseData.h"

namespace platform {
class FileSystem;
}

namespace nrd {

class TNRDActiveSessionsFile;
class TNRDDatabaseTableLockManager;
class TNRDDiskPageManager;
class TNRDSystemDirectory;
class TNRDTableListFile;

class TNRDDiskDatabaseData : public TNRDDatabaseData {
 public:
  // fs: the file system for the database file; nullptr for the real one. Not owned.
  explicit TNRDDiskDatabaseData(platform::FileSystem* fs = nullptr);
  ~TNRDDiskDatabaseData() override;
  const char* ClassName() const override { return "TNRDDiskDatabaseData"; }

  void ConnectSession(TNRDBaseSession* session) override;
  void DisconnectSession(TNRDBaseSession* session) override;
  bool FreeIfNoSessionsConnected() override;
  void GetTablesList(std::vector<std::string>& list) override;
  void CreateDatabase() override;
  TNRDTableData* CreateTableData(TNRDCursor* cursor) override;
  std::int32_t GetNewObjectId() override;
  void Commit(std::int32_t sessionID, bool doFlushBuffers) override;
  void Rollback(std::int32_t sessionID) override;
  void FlushBuffers() override;

  void TruncateDatabase();
  std::int32_t GetDBFileConnectionsCount();
  void LockTables();    // 20210
  void UnlockTables();  // 20211

  // Table list access for the disk table objects (changes are saved at once).
  void AddTable(std::int32_t tableID, const std::string& tableName, std::int32_t metadataFilePageNo,
                std::int32_t mostUpdatedFilePageNo, std::int32_t locksFilePageNo);
  void OpenTable(const std::string& tableName, std::int32_t& tableID, std::int32_t& metadataFilePageNo,
                 std::int32_t& mostUpdatedFilePageNo, std::int32_t& locksFilePageNo);
  void RemoveTable(const std::string& tableName);
  void RenameTable(const std::string& tableName, const std::string& newTableName);

  const char* GetPassword() const { return FPassword.Password.c_str(); }
  bool GetEncrypted() const;
  bool GetSuppressDBHeaderErrors() const;
  void SetSuppressDBHeaderErrors(bool value);
  bool IsOpen() const { return FDiskPageManager != nullptr; }
  TNRDDiskPageManager* DiskPageManager() const { return FDiskPageManager.get(); }
  TNRDDatabaseTableLockManager* TableLockManager() const { return FTableLockManager.get(); }
  TNRDActiveSessionsFile* ActiveSessionsFile() const { return FActiveSessionsFile.get(); }
  TNRDTableListFile* TableListFile() const { return FTableListFile.get(); }

  TNRDPassword FPassword;
  std::int32_t FMaxSessionCount = 100;
  std::int32_t FPageSize = 4096;
  std::int32_t FPageCountInExtent = 8;
  bool FSingleUserConnected = false;
  // Lock retries of the file's header, object-ID and tables locks; tests shorten them.
  int FLockTryCount = 4500;
  int FLockDelayMS = 20;

 private:
  void OpenDatabaseFile(TNRDBaseSession* session, bool& repairNeeded);
  void CloseDatabaseFile() noexcept;
  platform::FileSystem* FFileSystem;
  std::unique_ptr<TNRDDiskPageManager> FDiskPageManager;
  std::unique_ptr<TNRDSystemDirectory> FSystemDir;
  std::unique_ptr<TNRDActiveSessionsFile> FActiveSessionsFile;
  std::unique_ptr<TNRDTableListFile> FTableListFile;
  std::unique_ptr<TNRDDatabaseTableLockManager> FTableLockManager;
};

}  // namespace nrd
