// The database component, the session's database lookups, and the maintenance rebuild.
#include "engine/components/NRDDatabase.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/components/NRDDataSet.h"
#include "platform/EngineDialogs.h"
#include "engine/components/NRDSession.h"
#include "engine/components/NRDTable.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDText.h"
#include "engine/foundation/NRDTypes.h"

namespace nrd {

namespace {

// Whether a session component still exists (a database may outlive the engine's shutdown).
bool SessionAlive(TNRDSession* session) {
  if (session == nullptr || !EngineStarted()) return false;
  TNRDSessionList& list = SessionList();
  for (std::int32_t i = 0; i < list.Count(); ++i)
    if (list.GetSession(i) == session) return true;
  return false;
}

// Deactivating a session closes its databases, and frees the temporary ones.
void InstallDatabaseCloser(TNRDSession& session) {
  if (session.OnCloseDatabase) return;
  session.OnCloseDatabase = [](TComponent* c) {
    auto* db = dynamic_cast<TNRDDatabase*>(c);
    if (db == nullptr) return;
    if (db->Temporary() && !db->FDestroying) delete db;
    else db->Close();
  };
}

class SessionLockGuard {
 public:
  explicit SessionLockGuard(TNRDSession& s) : FSession(s) { FSession.LockSession(); }
  ~SessionLockGuard() { FSession.UnlockSession(); }
  SessionLockGuard(const SessionLockGuard&) = delete;
  SessionLockGuard& operator=(const SessionLockGuard&) = delete;

 private:
  TNRDSession& FSession;
};

void RemoveFileQuietly(const std::string& name) {
  std::error_code ec;
  std::filesystem::remove(name, ec);
}

void SyncPath(const std::string& name, int flags) {
  const int fd = ::open(name.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace


// ----- files --------------------------------------------------------------------------------------------------

void ReplaceFileDurably(const std::string& from, const std::string& to) {
  // The new file's bytes reach the disk before its name does, so after a crash the name holds
  // either the complete old file or the complete new one.
  SyncPath(from, O_RDONLY);
  if (::rename(from.c_str(), to.c_str()) != 0)
    throw ENRDException(20304, "Cannot replace database file '%s': %s", {to, std::string(std::strerror(errno))});
  std::string folder = std::filesystem::path(to).parent_path().string();
  if (folder.empty()) folder = ".";
  SyncPath(folder, O_RDONLY | O_DIRECTORY);
}

bool RemoveStaleFile(const std::string& fileName) {
  const int fd = ::open(fileName.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    std::error_code ec;
    return !std::filesystem::exists(fileName, ec);
  }
  // A process that works on the file holds byte-range locks on it; a lock over the whole file is
  // refused while any of them is held.
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;
  const bool free = ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
  if (free) ::unlink(fileName.c_str());
  ::close(fd);
  return free;
}

// ----- the component ----------------------------------------------------------------------------------------

TNRDDatabase::TNRDDatabase(TComponent* owner) : TComponent(owner) {
  auto* session = dynamic_cast<TNRDSession*>(owner);
  BindSession(session != nullptr ? session : &DefaultSession());
}

TNRDDatabase::~TNRDDatabase() {
  FDestroying = true;
  try {
    Close();
  } catch (...) {
    // A failure to close the engine session leaves nothing this component could still free.
  }
  if (SessionAlive(FSession)) FSession->RemoveDatabase(this);
}

void TNRDDatabase::BindSession(TNRDSession* session) {
  FSession = session;
  FSessionName = session->SessionName();
  InstallDatabaseCloser(*session);
  session->AddDatabase(this);
}

void TNRDDatabase::ResolveSession(bool activate) {
  TNRDSession* s = activate ? &SessionList().GetSessionByName(FSessionName) : SessionList().FindSession(FSessionName);
  if (s != nullptr && s != FSession) {
    if (SessionAlive(FSession)) FSession->RemoveDatabase(this);
    FSession = s;
    InstallDatabaseCloser(*s);
    s->AddDatabase(this);
    try {
      ValidateName(FDatabaseName);
    } catch (...) {
      FDatabaseName.clear();
      throw;
    }
  }
  if (activate && FSession != nullptr) FSession->Handle();
}

void TNRDDatabase::CheckDatabaseName() const {
  if (FDatabaseName.empty() && !FTemporary) DatabaseError("Database name missing", this);
}

void TNRDDatabase::CheckInactive() const {
  if (FHandle != nullptr) DatabaseError("Cannot perform this operation on an open database", this);
}

void TNRDDatabase::CheckActive() const {
  if (FHandle == nullptr) DatabaseError("Cannot perform this operation on a closed database", this);
}

void TNRDDatabase::SetConnected(bool value) {
  if (value) Open();
  else Close();
}

void TNRDDatabase::SetDatabaseFileName(const std::string& value) {
  if (value == FDatabaseFileName) return;
  Close();
  FDatabaseFileName = value;
}

void TNRDDatabase::SetDatabaseName(const std::string& value) {
  CheckInactive();
  ValidateName(value);
  FDatabaseName = value;
}

void TNRDDatabase::SetExclusive(bool value) {
  CheckInactive();
  FExclusive = value;
}

void TNRDDatabase::SetReadOnly(bool value) {
  CheckInactive();
  FReadOnly = value;
}

void TNRDDatabase::SetHandleShared(bool value) {
  CheckInactive();
  FHandleShared = value;
}

void TNRDDatabase::SetKeepConnection(bool value) {
  FKeepConnection = value;
  if (!value && FRefCount == 0) Close();
}

void TNRDDatabase::SetMaxConnections(std::int32_t value) {
  CheckInactive();
  FMaxConnections = value;
}

void TNRDDatabase::SetMultiUser(bool value) {
  CheckInactive();
  FMultiUser = value;
}

void TNRDDatabase::SetSessionName(const std::string& value) {
  CheckInactive();
  if (value == FSessionName) return;
  FSessionName = value;
  if (!FDestroying) ResolveSession(false);
}

bool TNRDDatabase::InTransaction() const { return FHandle != nullptr && FHandle->FInTransaction; }

bool TNRDDatabase::Exists() const {
  std::error_code ec;
  return !FDatabaseFileName.empty() && std::filesystem::is_regular_file(FDatabaseFileName, ec);
}

void TNRDDatabase::ValidateName(const std::string& name) {
  if (name.empty() || FSession == nullptr) return;
  SessionLockGuard lock(*FSession);
  for (std::int32_t i = FSession->DatabaseCount(); i-- > 0;) {
    auto* other = dynamic_cast<TNRDDatabase*>(FSession->GetDatabase(i));
    if (other == nullptr || other == this || !SameName(other->FDatabaseName, name)) continue;
    if (other->FHandleShared && FHandleShared) continue;
    if (!other->FTemporary || other->FRefCount > 0) DatabaseErrorFmt("Duplicate database name '%s'", {name}, this);
    delete other;
  }
}

std::unique_ptr<TNRDLocalSession> TNRDDatabase::MakeEngineSession() {
  auto s = std::make_unique<TNRDLocalSession>();
  s->FDatabaseName = FDatabaseName;
  s->FDatabaseFileName = FDatabaseFileName;
  s->FPassword.Password = FPassword;
  s->FPassword.CryptoAlgorithm = FCryptoAlgorithm;
  s->FPageSize = FPageSize;
  s->FPageCountInExtent = FPageCountInExtent;
  s->FMaxSessionCount = FMaxConnections;
  s->FReadOnly = FReadOnly;
  s->FExclusive = FExclusive;
  s->FMultiUser = FMultiUser;
  if (FMultiUser) s->FSessionName = FSessionName;
  s->FSessionHandle = FSession;
  return s;
}

bool TNRDDatabase::RequestPassword() {
  if (OnPassword) {
    bool cont = false;
    OnPassword(*this, cont);
    return cont;
  }
  if (FSilentMode) return false;
  platform::TEngineDialogs* dialogs = platform::EngineDialogs();
  if (dialogs == nullptr) return false;
  std::string typed = FPassword;
  if (!dialogs->ShowPasswordDialog("", typed)) return false;
  FPassword = typed;
  return true;
}

void TNRDDatabase::Open() {
  if (FHandle != nullptr) return;
  CheckDatabaseName();
  ResolveSession(true);
  if (FHandleShared) {
    for (std::int32_t i = 0; i < FSession->DatabaseCount(); ++i) {
      auto* other = dynamic_cast<TNRDDatabase*>(FSession->GetDatabase(i));
      if (other != nullptr && other != this && other->FHandleShared && other->FHandle != nullptr &&
          SameName(other->FDatabaseName, FDatabaseName)) {
        FHandle = other->FHandle;
        FAcquiredHandle = true;
        if (FSession->OnDBNotify) FSession->OnDBNotify(dbOpen, this);
        return;
      }
    }
  }
  SessionLockGuard lock(*FSession);
  const bool builtIn = IsMemoryDatabaseName(FDatabaseName) || IsTemporaryDatabaseName(FDatabaseName);
  if (!FTemporary && !builtIn && !Exists())
    DatabaseErrorFmt("Database file '%s' does not exist", {FDatabaseFileName}, this);
  for (;;) {
    std::unique_ptr<TNRDLocalSession> s = MakeEngineSession();
    try {
      s->SetConnected(true);
      if (s->FRepairNeeded && !FSilentMode && !FNoRequestAutoRepair) {
        bool doRepair = false;
        if (OnNeedRepair) {
          OnNeedRepair(*this, doRepair);
        } else if (platform::TEngineDialogs* dialogs = platform::EngineDialogs()) {
          doRepair = dialogs->Confirm("Database file was not correctly closed last time. Do you want to repair it?");
        }
        if (doRepair) {
          s->SetConnected(false);
          s.reset();
          FNoRequestAutoRepair = true;
          try {
            const std::string repairLog = RepairDatabase();
            if (!repairLog.empty())
              if (platform::TEngineDialogs* dialogs = platform::EngineDialogs())
                dialogs->ShowMessage(platform::TEngineMessageKind::Warning, repairLog);
          } catch (const std::exception& e) {
            FNoRequestAutoRepair = false;
            throw ENRDException(20238, "Cannot convert database to the new format: %s", {std::string(e.what())});
          }
          FNoRequestAutoRepair = false;
          s = MakeEngineSession();
          s->SetConnected(true);
        }
      }
      FOwnHandle = std::move(s);
      FHandle = FOwnHandle.get();
      break;
    } catch (const ENRDException& e) {
      if (s != nullptr) {
        try {
          s->SetConnected(false);
        } catch (...) {
        }
        s.reset();
      }
      if (e.NativeError == 30445 && RequestPassword()) continue;
      throw;
    } catch (...) {
      if (s != nullptr) {
        try {
          s->SetConnected(false);
        } catch (...) {
        }
      }
      throw;
    }
  }
  FReadOnly = FHandle->FReadOnly;
  FCryptoAlgorithm = FHandle->FPassword.CryptoAlgorithm;
  FPageSize = FHandle->FPageSize;
  FPageCountInExtent = FHandle->FPageCountInExtent;
  if (FHandle->FMaxSessionCount > 0) FMaxConnections = FHandle->FMaxSessionCount;
  if (FSession->OnDBNotify) FSession->OnDBNotify(dbOpen, this);
}

void TNRDDatabase::Close() {
  if (FHandle == nullptr) return;
  if (SessionAlive(FSession) && FSession->OnDBNotify) FSession->OnDBNotify(dbClose, this);
  CloseDataSets();
  std::unique_ptr<TNRDLocalSession> own = std::move(FOwnHandle);
  FHandle = nullptr;
  FRefCount = 0;
  FAcquiredHandle = false;
  if (own != nullptr) own->SetConnected(false);
}

void TNRDDatabase::CloseDataSets() {
  while (!FDataSets.empty()) {
    TNRDDataSet* ds = FDataSets.back();
    ds->Close();
    // A data set that still holds the database for another reason leaves the list here.
    RemoveDataSet(ds);
  }
}

void TNRDDatabase::AddDataSet(TNRDDataSet* dataSet) {
  if (std::find(FDataSets.begin(), FDataSets.end(), dataSet) == FDataSets.end()) FDataSets.push_back(dataSet);
}

void TNRDDatabase::RemoveDataSet(TNRDDataSet* dataSet) {
  FDataSets.erase(std::remove(FDataSets.begin(), FDataSets.end(), dataSet), FDataSets.end());
}

void TNRDDatabase::CreateDatabase() {
  CheckDatabaseName();
  ResolveSession(true);
  CheckInactive();
  SessionLockGuard lock(*FSession);
  std::unique_ptr<TNRDLocalSession> s = MakeEngineSession();
  s->CreateDatabase();
}

void TNRDDatabase::DeleteDatabase() {
  CheckDatabaseName();
  ResolveSession(true);
  CheckInactive();
  if (::unlink(FDatabaseFileName.c_str()) != 0)
    throw ENRDException(20305, "Cannot delete database file '%s': %s", {FDatabaseFileName, std::string(std::strerror(errno))});
}

void TNRDDatabase::RenameDatabase(const std::string& newDatabaseFileName) {
  CheckDatabaseName();
  ResolveSession(true);
  CheckInactive();
  if (::rename(FDatabaseFileName.c_str(), newDatabaseFileName.c_str()) != 0)
    throw ENRDException(20306, "Cannot rename database file '%s': %s",
                        {FDatabaseFileName, std::string(std::strerror(errno))});
  FDatabaseFileName = newDatabaseFileName;
}

void TNRDDatabase::TruncateDatabase() {
  CheckDatabaseName();
  ResolveSession(true);
  CheckInactive();
  const bool oldExclusive = FExclusive;
  FExclusive = true;
  try {
    Open();
    FHandle->TruncateDatabase();
    Close();
  } catch (...) {
    FExclusive = oldExclusive;
    try {
      Close();
    } catch (...) {
    }
    throw;
  }
  FExclusive = oldExclusive;
}

void TNRDDatabase::MakeExecutableDatabase(const std::string& exeStubFileName, const std::string& exeDbFileName) {
  std::ifstream stub(exeStubFileName, std::ios::binary);
  std::ifstream db(FDatabaseFileName, std::ios::binary);
  if (!stub || !db) throw ENRDException(20307, "Cannot read '%s'", {!stub ? exeStubFileName : FDatabaseFileName});
  const std::string tmp = exeDbFileName + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << stub.rdbuf() << db.rdbuf();
    out.flush();
    if (!out) {
      RemoveFileQuietly(tmp);
      throw ENRDException(20308, "Cannot write '%s'", {exeDbFileName});
    }
  }
  ReplaceFileDurably(tmp, exeDbFileName);
}

std::int32_t TNRDDatabase::GetDBFileConnectionsCount() {
  CheckDatabaseName();
  ResolveSession(true);
  CheckActive();
  return FHandle->GetDBFileConnectionsCount();
}

void TNRDDatabase::FlushBuffers() {
  CheckDatabaseName();
  ResolveSession(true);
  CheckActive();
  FHandle->FlushBuffers();
}

void TNRDDatabase::GetTablesList(std::vector<std::string>& list) {
  const bool opened = FHandle == nullptr;
  try {
    if (opened) Open();
    FHandle->GetTablesList(list);
  } catch (...) {
    // The list stays as far as it got.
  }
  if (opened) {
    try {
      Close();
    } catch (...) {
    }
  }
}

bool TNRDDatabase::TableExists(const std::string& tableName) {
  Open();
  return FHandle->TableExists(tableName);
}

void TNRDDatabase::StartTransaction() {
  CheckActive();
  if (FHandle->FInTransaction) DatabaseError("Database is already within a transaction");
  FHandle->StartTransaction();
}

void TNRDDatabase::Commit(bool doFlushBuffers) {
  CheckActive();
  FHandle->Commit(doFlushBuffers);
}

void TNRDDatabase::Rollback() {
  CheckActive();
  FHandle->Rollback();
}

// ----- maintenance ------------------------------------------------------------------------------------------

bool TNRDDatabase::RebuildDatabase(const std::string& newDatabaseFileName, std::string& log, bool ignoreErrors,
                                   const std::string& newPassword, TNRDCryptoAlgorithm newCryptoAlgorithm,
                                   std::int32_t newPageSize, std::int32_t newPageCountInExtent,
                                   std::int32_t newMaxConnections, const TNRDNotifyEvent& before,
                                   const TNRDProgressEvent& progress, const TNRDNotifyEvent& after,
                                   const char* waitText) {
  CheckDatabaseName();
  ResolveSession(true);
  CheckInactive();
  const bool oldExclusive = FExclusive;
  const bool oldSilent = FSilentMode;
  log.clear();

  // The wait form stands in for handlers the caller did not give.
  TNRDNotifyEvent doBefore = before;
  TNRDProgressEvent doProgress = progress;
  TNRDNotifyEvent doAfter = after;
  if (!FSilentMode) {
    if (!doBefore)
      doBefore = [this, waitText](TComponent&) {
        if (platform::TEngineDialogs* dialogs = platform::EngineDialogs()) {
          frmWait = dialogs->CreateWaitForm();
          frmWait->SetPosition(0);
          frmWait->Show(waitText);
        }
      };
    if (!doProgress)
      doProgress = [this](TComponent&, std::int32_t percentDone, bool& cont) {
        if (frmWait == nullptr) return;
        frmWait->SetPosition(percentDone);
        frmWait->ProcessMessages();
        cont = !frmWait->Terminated();
      };
    if (!doAfter)
      doAfter = [this](TComponent&) {
        if (frmWait == nullptr) return;
        frmWait->Close();
        frmWait.reset();
      };
  }

  std::unique_ptr<TNRDDatabase> newDb;
  struct Finally {
    TNRDDatabase& self;
    std::unique_ptr<TNRDDatabase>& newDb;
    bool oldExclusive, oldSilent;
    const TNRDNotifyEvent& after;
    ~Finally() {
      try {
        newDb.reset();
      } catch (...) {
      }
      self.FExclusive = oldExclusive;
      self.FSilentMode = oldSilent;
      try {
        if (after) after(self);
      } catch (...) {
      }
    }
  };
  if (doBefore) doBefore(*this);
  Finally finally{*this, newDb, oldExclusive, oldSilent, doAfter};

  std::error_code ec;
  std::filesystem::path folder = std::filesystem::absolute(newDatabaseFileName, ec).parent_path();
  const std::filesystem::space_info space = std::filesystem::space(folder, ec);
  std::error_code ec2;
  const std::uintmax_t size = std::filesystem::file_size(FDatabaseFileName, ec2);
  if (!ec && !ec2 && space.available < size)
    throw ENRDException(20303,
                        "There is not enough free space on drive to perform required operation with the database file.");

  try {
    newDb = std::make_unique<TNRDDatabase>(nullptr);
    newDb->SetSessionName(FSessionName);
    newDb->SetDatabaseFileName(newDatabaseFileName);
    newDb->SetDatabaseName(MakeUniqueName("TempDatabase"));
    newDb->SetPassword(newPassword);
    newDb->SetCryptoAlgorithm(newCryptoAlgorithm);
    newDb->SetPageSize(newPageSize);
    newDb->SetPageCountInExtent(newPageCountInExtent);
    newDb->SetMaxConnections(newMaxConnections);
    newDb->SetSilentMode(true);
    newDb->CreateDatabase();
    newDb->Open();
  } catch (const std::exception& e) {
    const std::string text = Format("Create database error: '%s'", {std::string(e.what())});
    log += text;
    if (!ignoreErrors) throw ENRDException(30449, text);
    return false;
  }

  FExclusive = true;
  FSilentMode = true;
  try {
    Open();
  } catch (...) {
    FSilentMode = oldSilent;
    throw;
  }
  FSilentMode = oldSilent;
  FHandle->SetSuppressDBHeaderErrors(true);

  bool complete = false;
  try {
    std::vector<std::string> tables;
    FHandle->GetTablesList(tables);
    const std::int32_t n = static_cast<std::int32_t>(tables.size());
    bool cont = true;
    for (std::int32_t i = 0; i < n && cont; ++i) {
      try {
        TNRDTable table(nullptr);
        table.SetSessionName(FSessionName);
        table.SetDatabaseName(FDatabaseName);
        table.SetTableName(tables[static_cast<std::size_t>(i)]);
        if (ignoreErrors) table.RepairOpen();
        table.Open();
        table.Close();
        table.OnCopyProgress = doProgress;
        table.BeforeCopy = [](TComponent&) {};
        table.AfterCopy = [](TComponent&) {};
        table.CopyTable(tables[static_cast<std::size_t>(i)], log, cont, newDatabaseFileName, newPassword, ignoreErrors,
                        false, true, i * 100 / n, (i + 1) * 100 / n);
      } catch (const std::exception& e) {
        const std::string text =
            Format("Problem occured while copying table '%s': '%s'", {tables[static_cast<std::size_t>(i)], std::string(e.what())});
        log += text + "\r\n";
        if (!ignoreErrors) throw ENRDException(20199, text);
      }
    }
    complete = cont;
  } catch (...) {
    try {
      FHandle->SetSuppressDBHeaderErrors(false);
      Close();
    } catch (...) {
    }
    throw;
  }
  FHandle->SetSuppressDBHeaderErrors(false);
  Close();
  if (!complete) return false;
  if (doProgress) {
    bool cont = true;
    doProgress(*this, 100, cont);
  }
  newDb->Close();
  newDb->TruncateDatabase();
  return ignoreErrors || log.empty();
}

bool TNRDDatabase::RebuildInPlace(std::string& log, bool ignoreErrors, bool keepBackupWhenLogged,
                                  const std::string& newPassword, TNRDCryptoAlgorithm newCryptoAlgorithm,
                                  std::int32_t newPageSize, std::int32_t newPageCountInExtent,
                                  std::int32_t newMaxConnections, const TNRDNotifyEvent& before,
                                  const TNRDProgressEvent& progress, const TNRDNotifyEvent& after,
                                  const char* waitText, const char* /*operation*/) {
  const std::string tmp = FDatabaseFileName + ".tmp";
  std::error_code ec;
  if (std::filesystem::exists(tmp, ec) && !RemoveStaleFile(tmp))
    throw ENRDException(20309, "File '%s' is in use by another process", {tmp});
  bool ok = false;
  try {
    ok = RebuildDatabase(tmp, log, ignoreErrors, newPassword, newCryptoAlgorithm, newPageSize, newPageCountInExtent,
                         newMaxConnections, before, progress, after, waitText);
  } catch (...) {
    RemoveFileQuietly(tmp);
    throw;
  }
  if (!ok) {
    RemoveFileQuietly(tmp);
    return false;
  }
  if (keepBackupWhenLogged && !log.empty()) {
    // What the rebuild skipped is still in the original: keep it under another name.
    const std::string bak = FDatabaseFileName + ".bak";
    RemoveFileQuietly(bak);
    if (::link(FDatabaseFileName.c_str(), bak.c_str()) != 0) {
      std::filesystem::copy_file(FDatabaseFileName, bak, std::filesystem::copy_options::overwrite_existing, ec);
      if (ec) {
        RemoveFileQuietly(tmp);
        throw ENRDException(20310, "Cannot keep a copy of '%s': %s", {FDatabaseFileName, ec.message()});
      }
    }
  }
  try {
    ReplaceFileDurably(tmp, FDatabaseFileName);
  } catch (...) {
    RemoveFileQuietly(tmp);
    throw;
  }
  return true;
}

namespace {
bool OnlyStoppedByUser(const std::string& log) { return log == "Terminated by User.\r\n"; }
}  // namespace

bool TNRDDatabase::CompactDatabase() {
  CheckInactive();
  Open();
  Close();
  std::string log;
  if (RebuildInPlace(log, false, false, FPassword, FCryptoAlgorithm, FPageSize, FPageCountInExtent, FMaxConnections,
                     BeforeCompact, OnCompactProgress, AfterCompact, "Compacting Database...", "CompactDatabase"))
    return true;
  if (OnlyStoppedByUser(log)) return false;
  throw ENRDException(30456, "Operation %s failed: %s", {std::string("CompactDatabase"), log});
}

bool TNRDDatabase::CompactDatabase(const std::string& newDatabaseFileName) {
  CheckInactive();
  Open();
  Close();
  std::string log;
  bool ok = false;
  try {
    ok = RebuildDatabase(newDatabaseFileName, log, false, FPassword, FCryptoAlgorithm, FPageSize, FPageCountInExtent,
                         FMaxConnections, BeforeCompact, OnCompactProgress, AfterCompact, "Compacting Database...");
  } catch (...) {
    RemoveFileQuietly(newDatabaseFileName);
    throw;
  }
  if (ok) return true;
  RemoveFileQuietly(newDatabaseFileName);
  if (OnlyStoppedByUser(log)) return false;
  throw ENRDException(30456, "Operation %s failed: %s", {std::string("CompactDatabase"), log});
}

bool TNRDDatabase::RepairDatabase(const std::string& newDatabaseFileName, std::string& log) {
  CheckInactive();
  Open();
  Close();
  bool ok = false;
  try {
    ok = RebuildDatabase(newDatabaseFileName, log, true, FPassword, FCryptoAlgorithm, FPageSize, FPageCountInExtent,
                         FMaxConnections, BeforeRepair, OnRepairProgress, AfterRepair, "Repairing Database...");
  } catch (...) {
    RemoveFileQuietly(newDatabaseFileName);
    throw;
  }
  if (!ok) RemoveFileQuietly(newDatabaseFileName);
  return ok;
}

std::string TNRDDatabase::RepairDatabase() {
  CheckInactive();
  std::string log;
  bool ok = false;
  try {
    Open();
    Close();
    ok = RebuildInPlace(log, true, true, FPassword, FCryptoAlgorithm, FPageSize, FPageCountInExtent, FMaxConnections,
                        BeforeRepair, OnRepairProgress, AfterRepair, "Repairing Database...", "RepairDatabase");
  } catch (const std::exception& e) {
    if (log.empty()) log = e.what();
  }
  if (!ok && log.empty()) log = "Unknown error";
  return log;
}

std::string TNRDDatabase::ChangePassword(const std::string& newPassword) {
  return ChangePassword(newPassword, FCryptoAlgorithm);
}

std::string TNRDDatabase::ChangePassword(const std::string& newPassword, TNRDCryptoAlgorithm newCryptoAlgorithm) {
  CheckInactive();
  std::string log;
  if (RebuildInPlace(log, false, false, newPassword, newCryptoAlgorithm, FPageSize, FPageCountInExtent, FMaxConnections,
                     BeforeChangePassword, OnChangePasswordProgress, AfterChangePassword,
                     "Changing Database Password...", "ChangePassword")) {
    FPassword = newPassword;
    FCryptoAlgorithm = newCryptoAlgorithm;
  }
  return log;
}

bool TNRDDatabase::ChangeDatabaseSettings(std::string& log, bool ignoreErrors, const std::string& newPassword,
                                          TNRDCryptoAlgorithm newCryptoAlgorithm, std::int32_t newPageSize,
                                          std::int32_t newPageCountInExtent, std::int32_t newMaxConnections) {
  if (newMaxConnections <= 0) throw ENRDException(20274, "MaxConnections value must be positive ( >= 0)");
  CheckInactive();
  Open();
  Close();
  if (!RebuildInPlace(log, ignoreErrors, ignoreErrors, newPassword, newCryptoAlgorithm, newPageSize,
                      newPageCountInExtent, newMaxConnections, BeforeChangeDatabaseSettings,
                      OnChangeDatabaseSettingsProgress, AfterChangeDatabaseSettings, "Changing Database Settings...",
                      "ChangeDatabaseSettings"))
    return false;
  FPassword = newPassword;
  FCryptoAlgorithm = newCryptoAlgorithm;
  FPageSize = newPageSize;
  FPageCountInExtent = newPageCountInExtent;
  FMaxConnections = newMaxConnections;
  return true;
}

// ----- the session's databases ------------------------------------------------------------------------------

TNRDDatabase* TNRDSession::OpenDatabase(const std::string& databaseName, TComponent* owner) {
  SessionLockGuard lock(*this);
  TNRDDatabase* db = nullptr;
  if (owner != nullptr)
    for (TComponent* c : FDatabases) {
      auto* d = dynamic_cast<TNRDDatabase*>(c);
      if (d != nullptr && d->Owner() == owner && d->HandleShared() && SameName(d->DatabaseName(), databaseName)) {
        db = d;
        break;
      }
    }
  if (db == nullptr) db = FindDatabase(databaseName);
  bool created = false;
  if (db == nullptr) {
    db = new TNRDDatabase(this);
    created = true;
    db->FTemporary = true;
    db->SetSilentMode(true);
    db->SetKeepConnection(FKeepConnections);
    try {
      db->SetDatabaseName(databaseName);
    } catch (...) {
      delete db;
      throw;
    }
  }
  try {
    db->Open();
    ++db->FRefCount;
  } catch (...) {
    if (created) delete db;
    throw;
  }
  return db;
}

void TNRDSession::CloseDatabase(TNRDDatabase* database) {
  if (database == nullptr) return;
  if (database->FRefCount > 0) --database->FRefCount;
  if (database->FRefCount != 0 || database->KeepConnection()) return;
  if (database->Temporary()) {
    if (!database->FDestroying) delete database;
  } else {
    database->Close();
  }
}

TNRDDatabase* TNRDSession::FindDatabase(const std::string& databaseName) {
  SessionLockGuard lock(*this);
  for (TComponent* c : FDatabases) {
    auto* d = dynamic_cast<TNRDDatabase*>(c);
    if (d == nullptr) continue;
    if (databaseName.empty() ? (d->Temporary() && d->DatabaseName().empty()) : SameName(d->DatabaseName(), databaseName))
      return d;
  }
  return nullptr;
}

void TNRDSession::DropConnections() {
  for (std::size_t i = FDatabases.size(); i-- > 0;) {
    if (i >= FDatabases.size()) continue;
    auto* d = dynamic_cast<TNRDDatabase*>(FDatabases[i]);
    if (d != nullptr && d->Temporary() && d->FRefCount == 0) delete d;
  }
}

void TNRDSession::GetDatabaseNames(std::vector<std::string>& list) {
  std::vector<std::string> names;
  for (TComponent* c : FDatabases)
    if (auto* d = dynamic_cast<TNRDDatabase*>(c)) names.push_back(d->DatabaseName());
  std::sort(names.begin(), names.end());
  list = std::move(names);
}

void TNRDSession::GetTableNames(const std::string& databaseName, std::vector<std::string>& list) {
  list.clear();
  if (databaseName.empty()) return;
  TNRDDatabase* db = OpenDatabase(databaseName);
  try {
    db->Handle()->GetTablesList(list);
  } catch (...) {
    CloseDatabase(db);
    throw;
  }
  CloseDatabase(db);
}

}  // namespace nrd
