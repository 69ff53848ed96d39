// The disk database object.
#include "engine/storage/NRDDiskDatabase.h"

#include <algorithm>
#include <sstream>

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDCursor.h"
#include "engine/storage/NRDDiskPageManager.h"
#include "engine/storage/NRDDiskTable.h"
#include "engine/storage/NRDLockManager.h"
#include "engine/storage/NRDMetadata.h"
#include "engine/storage/NRDSystemFiles.h"
#include "engine/storage/NRDTableCheck.h"
#include "engine/storage/NRDTableData.h"

namespace nrd {

TNRDDiskDatabaseData::TNRDDiskDatabaseData(platform::FileSystem* fs) : FFileSystem(fs) {}

TNRDDiskDatabaseData::~TNRDDiskDatabaseData() {
  // Table objects hold pages and files of the page manager: they go before the file closes.
  while (!Tables().empty()) delete Tables().back();
  CloseDatabaseFile();
}

void TNRDDiskDatabaseData::OpenDatabaseFile(TNRDBaseSession* session, bool& repairNeeded) {
  TNRDDatabaseLock lock(*this);
  try {
    FDiskPageManager = std::make_unique<TNRDDiskPageManager>(FFileSystem);
    FDiskPageManager->SetLockRetry(FLockTryCount, FLockDelayMS);
    FPageManager = FDiskPageManager.get();
    FMultiUser = session->FMultiUser;
    FDiskPageManager->OpenDatabase(FDatabaseName, FPassword, FReadOnly, repairNeeded, session->FExclusive, FMultiUser);
    FPassword = *FDiskPageManager->Password();
    FPageSize = FDiskPageManager->PageSize();
    FPageCountInExtent = FDiskPageManager->DBHeader()->PageCountInExtent;
    FSystemDir = std::make_unique<TNRDSystemDirectory>(FDiskPageManager.get());
    FSystemDir->LoadDirectory();
    FActiveSessionsFile = std::make_unique<TNRDActiveSessionsFile>(FDiskPageManager.get());
    FActiveSessionsFile->OpenFile(FSystemDir->GetFileFirstPageNo(dbftActiveSessionsList));
    FMaxSessionCount = FActiveSessionsFile->MaxSessionCount();
    FTableListFile = std::make_unique<TNRDTableListFile>(FDiskPageManager.get());
    FTableListFile->OpenFile(FSystemDir->GetFileFirstPageNo(dbftTablesList));
    FTableListFile->Load();
    FTableLockManager = std::make_unique<TNRDDatabaseTableLockManager>(FMaxSessionCount, FDiskPageManager.get());
    if (FMultiUser) {
      // Spilled pages are uncommitted data in the file: before each spill the session takes the
      // RW locks of its changed tables, as a commit does, so that no other process reads them.
      FDiskPageManager->SetBeforeSpill([this](std::int32_t sessionID) {
        return FTableLockManager != nullptr && FTableLockManager->AddRWLocksBeforeCommit(sessionID);
      });
    }
  } catch (...) {
    CloseDatabaseFile();
    throw;
  }
  // Pages that an opener which died had taken for transactions it never committed go back to the
  // free space, found by the same walk over everything the file owns as the table check makes.
  // Best effort: the file is sound without it, and damage found on the way leaves it as it is.
  try {
    FDiskPageManager->GiveBackLeakedPages([this](std::vector<std::int32_t>& leaked) {
      std::ostringstream report;
      return CheckDatabaseTables(*FDiskPageManager, report, 1, &leaked);
    });
  } catch (const std::exception&) {
  }
}

void TNRDDiskDatabaseData::CloseDatabaseFile() noexcept {
  TNRDDatabaseLock lock(*this);
  FSystemDir.reset();
  FTableListFile.reset();
  FActiveSessionsFile.reset();
  FTableLockManager.reset();
  if (FDiskPageManager) {
    try {
      FDiskPageManager->CloseDatabase();
    } catch (...) {
    }
    FDiskPageManager.reset();
  }
  FPageManager = nullptr;
  FSingleUserConnected = false;
}

void TNRDDiskDatabaseData::ConnectSession(TNRDBaseSession* session) {
  TNRDDatabaseLock lock(*this);
  const bool first = !FDiskPageManager;
  if (first) {
    bool repairNeeded = false;
    OpenDatabaseFile(session, repairNeeded);
    session->FRepairNeeded = repairNeeded;
    session->FMultiUser = FMultiUser;
  }
  try {
    if (session->FMultiUser != FMultiUser)
      throw ENRDException(20235, "Cannot open database in multi-user and signle-user mode at the same time");
    std::int32_t slot = 0;
    if (FMultiUser) {
      slot = FActiveSessionsFile->MultiUserConnect();
    } else if (!FSingleUserConnected) {
      FSingleUserConnected = FActiveSessionsFile->SingleUserConnect();
      if (!FSingleUserConnected) FReadOnly = true;
    }
    TNRDDatabaseData::ConnectSession(session);
    session->FSessionID = slot;
  } catch (...) {
    if (first && Sessions().empty()) CloseDatabaseFile();
    throw;
  }
}

void TNRDDiskDatabaseData::DisconnectSession(TNRDBaseSession* session) {
  TNRDDatabaseLock lock(*this);
  if (std::find(Sessions().begin(), Sessions().end(), session) == Sessions().end()) return;
  // The session's own open transaction ends before its slot can go to another session.
  if (session->FInTransaction && FDiskPageManager) {
    Rollback(session->FSessionID);
    session->FInTransaction = false;
  }
  if (FDiskPageManager) {
    if (FMultiUser) {
      FActiveSessionsFile->MultiUserDisconnect(session->FSessionID);
      if (FTableLockManager) FTableLockManager->ForgetSession(session->FSessionID);
    } else if (FSingleUserConnected && Sessions().size() == 1) {
      FActiveSessionsFile->SingleUserDisconnect();
      FSingleUserConnected = false;
    }
  }
  TNRDDatabaseData::DisconnectSession(session);
  if (Sessions().empty()) {
    while (!Tables().empty()) delete Tables().back();
    CloseDatabaseFile();
  }
}

bool TNRDDiskDatabaseData::FreeIfNoSessionsConnected() { return TNRDDatabaseData::FreeIfNoSessionsConnected(); }

void TNRDDiskDatabaseData::GetTablesList(std::vector<std::string>& list) {
  TNRDDatabaseLock lock(*this);
  if (!FTableListFile) throw ENRDException(20129, "Pointer is nil");
  FTableListFile->GetTablesList(list);
}

void TNRDDiskDatabaseData::CreateDatabase() {
  TNRDDatabaseLock lock(*this);
  auto pm = std::make_unique<TNRDDiskPageManager>(FFileSystem);
  pm->SetLockRetry(FLockTryCount, FLockDelayMS);
  struct Closer {
    std::unique_ptr<TNRDDiskPageManager>& pm;
    ~Closer() {
      try {
        pm->CloseDatabase();
      } catch (...) {
      }
    }
  };
  pm->CreateAndOpenDatabase(FDatabaseName, FPassword, FPageSize, FPageCountInExtent);
  Closer closer{pm};
  TNRDSystemDirectory dir(pm.get());
  dir.CreateDirectory();
  TNRDActiveSessionsFile sessions(pm.get());
  dir.CreateFile(dbftActiveSessionsList, sessions.CreateFile(FMaxSessionCount));
  TNRDTableListFile tables(pm.get());
  dir.CreateFile(dbftTablesList, tables.CreateFile());
  dir.SaveDirectory();
  pm->ApplyChanges(-2);
}

TNRDTableData* TNRDDiskDatabaseData::CreateTableData(TNRDCursor* cursor) {
  TNRDDatabaseLock lock(*this);
  auto* t = new TNRDDiskTableData(this);
  if (cursor != nullptr) t->FTableName = CutShortName(cursor->TableName());
  return t;
}

std::int32_t TNRDDiskDatabaseData::GetNewObjectId() {
  TNRDDatabaseLock lock(*this);
  if (!FDiskPageManager) throw ENRDException(20129, "Pointer is nil");
  return FDiskPageManager->GetNextObjectID(5, 100);
}

void TNRDDiskDatabaseData::Commit(std::int32_t sessionID, bool doFlushBuffers) {
  TNRDDatabaseLock lock(*this);
  if (FMultiUser && FTableLockManager && !FTableLockManager->AddRWLocksBeforeCommit(sessionID))
    throw ENRDException(20233, "Cannot commit changes. Locks of modified tables failed");
  TNRDDatabaseData::Commit(sessionID, false);
  // A synchronous file was synced by the commit's change set itself.
  if (doFlushBuffers && FDiskPageManager && !FDiskPageManager->DatabaseFile().Synchronous())
    FDiskPageManager->DatabaseFile().FlushFileBuffers();
  if (FMultiUser && FTableLockManager) FTableLockManager->ClearTransactionLocks(sessionID);
}

void TNRDDiskDatabaseData::Rollback(std::int32_t sessionID) {
  TNRDDatabaseLock lock(*this);
  // Pages of the transaction that are in the file go back before its table locks are released.
  if (FDiskPageManager && FDiskPageManager->SpillActive(sessionID)) FDiskPageManager->CancelChanges(sessionID);
  if (FMultiUser && FTableLockManager) FTableLockManager->ClearTransactionLocks(sessionID);
  TNRDDatabaseData::Rollback(sessionID);
}

void TNRDDiskDatabaseData::FlushBuffers() {
  if (FDiskPageManager) FDiskPageManager->DatabaseFile().FlushFileBuffers();
}

void TNRDDiskDatabaseData::TruncateDatabase() {
  if (FDiskPageManager) FDiskPageManager->TruncateDatabase();
}

std::int32_t TNRDDiskDatabaseData::GetDBFileConnectionsCount() {
  if (!FActiveSessionsFile) return 0;
  return FActiveSessionsFile->GetDBFileConnectionsCount();
}

void TNRDDiskDatabaseData::LockTables() {
  if (!FDiskPageManager || !RetryCall(200, 20, [this] { return FDiskPageManager->LockTables(); }))
    throw ENRDException(20210, "Database tables are locked");
}

void TNRDDiskDatabaseData::UnlockTables() {
  if (!FDiskPageManager || !FDiskPageManager->UnlockTables())
    throw ENRDException(20211, "Cannot unlock database tables");
}

void TNRDDiskDatabaseData::AddTable(std::int32_t tableID, const std::string& tableName,
                                    std::int32_t metadataFilePageNo, std::int32_t mostUpdatedFilePageNo,
                                    std::int32_t locksFilePageNo) {
  TNRDDatabaseLock lock(*this);
  if (!FTableListFile) throw ENRDException(20129, "Pointer is nil");
  FTableListFile->Load();
  FTableListFile->AddTable(tableID, tableName, metadataFilePageNo, mostUpdatedFilePageNo, locksFilePageNo);
  FTableListFile->Save();
}

void TNRDDiskDatabaseData::OpenTable(const std::string& tableName, std::int32_t& tableID,
                                     std::int32_t& metadataFilePageNo, std::int32_t& mostUpdatedFilePageNo,
                                     std::int32_t& locksFilePageNo) {
  TNRDDatabaseLock lock(*this);
  if (!FTableListFile) throw ENRDException(20129, "Pointer is nil");
  FTableListFile->Load();
  FTableListFile->OpenTable(tableName, tableID, metadataFilePageNo, mostUpdatedFilePageNo, locksFilePageNo);
}

void TNRDDiskDatabaseData::RemoveTable(const std::string& tableName) {
  TNRDDatabaseLock lock(*this);
  if (!FTableListFile) throw ENRDException(20130, "Pointer is nil");
  FTableListFile->Load();
  FTableListFile->RemoveTable(tableName);
  FTableListFile->Save();
}

void TNRDDiskDatabaseData::RenameTable(const std::string& tableName, const std::string& newTableName) {
  TNRDDatabaseLock lock(*this);
  if (!FTableListFile) throw ENRDException(20131, "Pointer is nil");
  FTableListFile->Load();
  FTableListFile->RenameTable(tableName, newTableName);
  FTableListFile->Save();
}

bool TNRDDiskDatabaseData::GetEncrypted() const { return FDiskPageManager && FDiskPageManager->Encrypted(); }

bool TNRDDiskDatabaseData::GetSuppressDBHeaderErrors() const {
  return FDiskPageManager && FDiskPageManager->FreeSpaceManager() &&
         FDiskPageManager->FreeSpaceManager()->SuppressDBHeaderErrors();
}

void TNRDDiskDatabaseData::SetSuppressDBHeaderErrors(bool value) {
  if (FDiskPageManager && FDiskPageManager->FreeSpaceManager())
    FDiskPageManager->FreeSpaceManager()->SetSuppressDBHeaderErrors(value);
}

}  // namespace nrd
