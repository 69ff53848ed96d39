// Process-wide engine objects, session components and the local session.
#include "engine/components/NRDSession.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "engine/components/NRDDataSet.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDNamedList.h"
#include "engine/foundation/NRDText.h"
#include "engine/storage/NRDBTreeRecordIndex.h"
#include "engine/storage/NRDDiskDatabase.h"
#include "engine/storage/NRDMemoryEngine.h"
#include "engine/storage/NRDTempEngine.h"

namespace nrd {

namespace {

struct EngineGlobals {
  std::int32_t startCount = 0;
  std::unique_ptr<TNRDDatabaseDataList> databases;
  TNRDDatabaseData* memory = nullptr;
  TNRDDatabaseData* temporary = nullptr;
  std::unique_ptr<TNRDSessionList> sessions;
  TNRDSession* defaultSession = nullptr;
  TNRDSessionComponentManager* current = nullptr;
  std::unique_ptr<TNRDSessionComponentManager> globalManager;
  bool initialized = false;
  TNRDTempDatabaseMaker tempMaker;
  TNRDDiskDatabaseMaker diskMaker;
};

EngineGlobals& G() {
  static EngineGlobals g;
  return g;
}

std::mutex& StartupLock() {
  static std::mutex m;
  return m;
}

// Closes every data set, or bare cursor, open on a table of `db` for `session` (every session when
// null), before what they point at goes away. A data set that fails to close still loses its table.
void CloseCursorsOf(TNRDDatabaseData& db, const TNRDBaseSession* session) {
  for (;;) {
    TNRDCursor* open = nullptr;
    for (TNRDTableData* t : db.Tables()) {
      for (TNRDCursor* c : t->Cursors())
        if (c != nullptr && (session == nullptr || c->Session() == session)) {
          open = c;
          break;
        }
      if (open != nullptr) break;
    }
    if (open == nullptr) return;
    bool stillOpen = true;
    if (open->OwnerDataSet() != nullptr) {
      try {
        static_cast<TNRDDataSet*>(open->OwnerDataSet())->Close();
      } catch (...) {
      }
      stillOpen = false;
      for (TNRDTableData* t : db.Tables())
        for (TNRDCursor* c : t->Cursors()) stillOpen = stillOpen || c == open;
    }
    if (stillOpen) {
      try {
        open->CloseTable();
      } catch (...) {
      }
      // A cursor its table does not let go is dropped from the list by hand, or this never ends.
      for (TNRDTableData* t : db.Tables()) {
        auto& list = const_cast<std::vector<TNRDCursor*>&>(t->Cursors());
        list.erase(std::remove(list.begin(), list.end(), open), list.end());
      }
    }
  }
}

}  // namespace

std::recursive_mutex& SessionListLock() {
  static std::recursive_mutex m;
  return m;
}

// ----- shared database objects ------------------------------------------------------------------------------

TNRDDatabaseDataList::~TNRDDatabaseDataList() {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  while (!FItems.empty()) {
    TNRDDatabaseData* d = FItems.front();
    FItems.erase(FItems.begin());
    delete d;
  }
}

void TNRDDatabaseDataList::Add(TNRDDatabaseData* data) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  FItems.push_back(data);
}

void TNRDDatabaseDataList::Remove(TNRDDatabaseData* data) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  FItems.erase(std::remove(FItems.begin(), FItems.end(), data), FItems.end());
}

std::vector<TNRDDatabaseData*> TNRDDatabaseDataList::Items() {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  return FItems;
}

std::int32_t TNRDDatabaseDataList::Count() {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  return static_cast<std::int32_t>(FItems.size());
}

void RegisterTemporaryDatabaseMaker(TNRDTempDatabaseMaker maker) { G().tempMaker = std::move(maker); }
void RegisterDiskDatabaseMaker(TNRDDiskDatabaseMaker maker) { G().diskMaker = std::move(maker); }

void EngineStartup() {
  std::lock_guard<std::mutex> lock(StartupLock());
  EngineGlobals& g = G();
  if (g.startCount++ > 0) return;
  // Indexes of every engine are B-trees.
  RegisterBTreeRecordIndex();
  g.databases = std::make_unique<TNRDDatabaseDataList>();
  g.memory = new TNRDMemoryDatabaseData();
  g.memory->FDatabaseName = "MEMORY";
  g.databases->Add(g.memory);
  g.temporary = g.tempMaker ? g.tempMaker() : new TNRDTemporaryDatabaseData();
  if (g.temporary != nullptr) {
    g.temporary->FDatabaseName = "TEMP";
    g.databases->Add(g.temporary);
  }
  g.sessions = std::make_unique<TNRDSessionList>();
  g.defaultSession = new TNRDSession(nullptr);
  g.defaultSession->FMadeByEngine = true;
  g.defaultSession->SetSessionName("Default");
}

void EngineShutdown() {
  std::lock_guard<std::mutex> lock(StartupLock());
  EngineGlobals& g = G();
  if (g.startCount == 0 || --g.startCount > 0) return;
  // Data sets still open lose their tables and sessions below: they are closed while both exist.
  if (g.databases != nullptr)
    for (TNRDDatabaseData* d : g.databases->Items()) {
      CloseCursorsOf(*d, nullptr);
      // Sessions of the caller outlive the objects freed below: they forget them now.
      for (TNRDBaseSession* session : d->Sessions())
        if (auto* local = dynamic_cast<TNRDLocalSession*>(session)) local->FDatabaseData = nullptr;
    }
  g.sessions.reset();
  g.defaultSession = nullptr;
  g.databases.reset();
  g.memory = nullptr;
  g.temporary = nullptr;
  g.current = nullptr;
  g.globalManager.reset();
  g.initialized = false;
}

bool EngineStarted() { return G().startCount > 0; }

TNRDDatabaseDataList& DatabaseDataList() {
  if (G().databases == nullptr) throw ENRDException(20007, "Database Engine is not initialized");
  return *G().databases;
}

TNRDDatabaseData* MemoryDatabaseData() { return G().memory; }
TNRDDatabaseData* TemporaryDatabaseData() { return G().temporary; }

bool IsMemoryDatabaseName(std::string_view name) { return SameText(name, "MEMORY"); }
bool IsTemporaryDatabaseName(std::string_view name) { return SameText(name, "TEMP"); }

bool SameDatabaseFile(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  const bool ea = ::stat(a.c_str(), &sa) == 0;
  const bool eb = ::stat(b.c_str(), &sb) == 0;
  if (ea && eb) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (ea != eb) return false;
  std::error_code ec;
  const std::string na = std::filesystem::absolute(a, ec).lexically_normal().string();
  const std::string nb = std::filesystem::absolute(b, ec).lexically_normal().string();
  return SameText(na, nb);
}

// ----- sessions ---------------------------------------------------------------------------------------------

TNRDSessionComponentManager* CurrentSessionComponentManager() {
  if (!G().initialized) throw ENRDException(20007, "Database Engine is not initialized");
  return G().current;
}

void SetCurrentSessionComponentManager(TNRDSessionComponentManager* manager) { G().current = manager; }

TNRDSessionList& SessionList() {
  if (G().sessions == nullptr) throw ENRDException(20007, "Database Engine is not initialized");
  return *G().sessions;
}

TNRDSession& DefaultSession() {
  if (G().defaultSession == nullptr) throw ENRDException(20007, "Database Engine is not initialized");
  return *G().defaultSession;
}

TNRDSessionList::~TNRDSessionList() {
  while (!FSessions.empty()) {
    TNRDSession* s = FSessions.back();
    FSessions.pop_back();
    if (s->FMadeByEngine) {
      delete s;
      continue;
    }
    // The caller's own session (on the stack, on the heap or owned by a component) is only
    // deactivated; its owner frees it.
    try {
      s->SetActive(false);
    } catch (...) {
    }
  }
}

std::int32_t TNRDSessionList::Count() {
  std::lock_guard<std::recursive_mutex> lock(SessionListLock());
  return static_cast<std::int32_t>(FSessions.size());
}

TNRDSession* TNRDSessionList::GetSession(std::int32_t index) {
  std::lock_guard<std::recursive_mutex> lock(SessionListLock());
  return FSessions.at(static_cast<std::size_t>(index));
}

TNRDSession* TNRDSessionList::CurrentSession() {
  std::lock_guard<std::recursive_mutex> lock(SessionListLock());
  for (TNRDSession* s : FSessions)
    if (s->FHandle != nullptr && s->FHandle == G().current) return s;
  return nullptr;
}

void TNRDSessionList::SetCurrentSession(TNRDSession* session) {
  if (session != nullptr) SetCurrentSessionComponentManager(session->Handle());
}

TNRDSession* TNRDSessionList::FindSession(std::string_view sessionName) {
  if (sessionName.empty()) return G().defaultSession;
  std::lock_guard<std::recursive_mutex> lock(SessionListLock());
  for (TNRDSession* s : FSessions)
    if (SameText(s->SessionName(), sessionName)) return s;
  return nullptr;
}

TNRDSession& TNRDSessionList::GetSessionByName(std::string_view sessionName) {
  TNRDSession* s = FindSession(sessionName);
  if (s == nullptr) throw ENRDException(20002, "Invalid session name '%s'", {std::string(sessionName)});
  return *s;
}

void TNRDSessionList::GetSessionNames(std::vector<std::string>& list) {
  std::lock_guard<std::recursive_mutex> lock(SessionListLock());
  list.clear();
  for (TNRDSession* s : FSessions) list.push_back(s->SessionName());
}

TNRDSession& TNRDSessionList::OpenSession(const std::string& sessionName) {
  TNRDSession* s = FindSession(sessionName);
  if (s == nullptr) {
    s = new TNRDSession(nullptr);
    s->FMadeByEngine = true;
    try {
      s->SetSessionName(sessionName);
    } catch (...) {
      delete s;
      throw;
    }
  }
  s->SetActive(true);
  return *s;
}

namespace {

// Refuses a new session on an owner whose session has an automatic name, before the new one
// joins the owner.
TComponent* CheckSessionOwner(TComponent* owner) {
  SessionList();  // the engine must be started
  if (owner != nullptr)
    for (std::int32_t i = 0; i < owner->ComponentCount(); ++i) {
      auto* other = dynamic_cast<TNRDSession*>(owner->Components(i));
      if (other != nullptr && other->AutoSessionName())
        DatabaseErrorFmt(
            "Cannot add a session to the form or data-module while session '%s' has AutoSessionName enabled",
            {other->Name()});
    }
  return owner;
}

}  // namespace

TNRDSession::TNRDSession(TComponent* owner) : TComponent(CheckSessionOwner(owner)) {
  TNRDSessionList& list = SessionList();
  std::lock_guard<std::recursive_mutex> lock(SessionListLock());
  FDefault = list.FSessions.empty();
  list.FSessions.push_back(this);
}

TNRDSession::~TNRDSession() {
  try {
    SetActive(false);
  } catch (...) {
  }
  if (G().sessions != nullptr) {
    std::lock_guard<std::recursive_mutex> lock(SessionListLock());
    auto& v = G().sessions->FSessions;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
  if (G().defaultSession == this) G().defaultSession = nullptr;
}

void TNRDSession::SetActive(bool value) {
  if (value == Active()) return;
  std::lock_guard<std::recursive_mutex> lock(SessionListLock());
  if (value) Activate();
  else Deactivate();
}

void TNRDSession::Activate() {
  if (OnStartup) OnStartup(*this);
  if (FSessionName.empty()) DatabaseError("Session name missing", this);
  EngineGlobals& g = G();
  if (!FDefault && g.defaultSession != nullptr && g.defaultSession != this) g.defaultSession->SetActive(true);
  if (FDefault) {
    if (g.globalManager == nullptr) {
      g.globalManager = std::make_unique<TNRDSessionComponentManager>();
      g.initialized = true;
    }
    FHandle = g.globalManager.get();
  } else {
    FOwnManager = std::make_unique<TNRDSessionComponentManager>();
    FHandle = FOwnManager.get();
  }
  SetCurrentSessionComponentManager(FHandle);
}

void TNRDSession::Deactivate() {
  EngineGlobals& g = G();
  SetCurrentSessionComponentManager(FHandle);
  for (std::size_t i = FDatabases.size(); i-- > 0;)
    if (i < FDatabases.size() && OnCloseDatabase) OnCloseDatabase(FDatabases[i]);
  if (FDefault) {
    g.globalManager.reset();
    g.initialized = false;
    SetCurrentSessionComponentManager(nullptr);
  } else {
    FOwnManager.reset();
    SetCurrentSessionComponentManager(g.defaultSession != nullptr ? g.defaultSession->FHandle : nullptr);
  }
  FHandle = nullptr;
}

void TNRDSession::SetSessionName(const std::string& value) {
  if (FAutoSessionName && !FUpdatingAutoSessionName)
    DatabaseError("Cannot modify SessionName while AutoSessionName is enabled", this);
  if (Active()) DatabaseError("Cannot perform this operation on an active session", this);
  if (!value.empty()) {
    TNRDSession* other = SessionList().FindSession(value);
    if (other != nullptr && other != this) DatabaseErrorFmt("Duplicate session name '%s'", {value}, this);
  }
  FSessionName = value;
}

void TNRDSession::AssignAutoName() {
  FUpdatingAutoSessionName = true;
  try {
    SetSessionName(Format("%s_%d", {Name(), FSessionNumber + 1}));
  } catch (...) {
    FUpdatingAutoSessionName = false;
    throw;
  }
  FUpdatingAutoSessionName = false;
}

void TNRDSession::SetAutoSessionName(bool value) {
  if (value == FAutoSessionName) return;
  std::lock_guard<std::recursive_mutex> lock(SessionListLock());
  TNRDSessionList& list = SessionList();
  if (value) {
    if (Active()) DatabaseError("Cannot perform this operation on an active session", this);
    if (Owner() != nullptr)
      for (std::int32_t i = 0; i < Owner()->ComponentCount(); ++i) {
        auto* other = dynamic_cast<TNRDSession*>(Owner()->Components(i));
        if (other != nullptr && other != this)
          DatabaseError("Cannot enable AutoSessionName property with more than one session on a form or data-module",
                        this);
      }
    std::size_t n = 0;
    while (n < list.FSessionNumbers.size() && list.FSessionNumbers[n]) ++n;
    if (n == list.FSessionNumbers.size()) list.FSessionNumbers.push_back(false);
    list.FSessionNumbers[n] = true;
    FSessionNumber = static_cast<std::int32_t>(n);
    FAutoSessionName = true;
    try {
      AssignAutoName();
    } catch (...) {
      list.FSessionNumbers[n] = false;
      FSessionNumber = -1;
      FAutoSessionName = false;
      throw;
    }
  } else {
    if (FSessionNumber >= 0 && static_cast<std::size_t>(FSessionNumber) < list.FSessionNumbers.size())
      list.FSessionNumbers[static_cast<std::size_t>(FSessionNumber)] = false;
    FSessionNumber = -1;
    FAutoSessionName = false;
  }
}

void TNRDSession::SetName(const std::string& value) {
  TComponent::SetName(value);
  if (FAutoSessionName) AssignAutoName();
}

void TNRDSession::LockSession() {
  SessionListLock().lock();
  try {
    if (FHandle == nullptr) SetActive(true);
    else SetCurrentSessionComponentManager(FHandle);
  } catch (...) {
    SessionListLock().unlock();
    throw;
  }
}

void TNRDSession::UnlockSession() { SessionListLock().unlock(); }

TNRDSessionComponentManager* TNRDSession::Handle() {
  if (FHandle == nullptr) SetActive(true);
  else SetCurrentSessionComponentManager(FHandle);
  return FHandle;
}

void TNRDSession::AddDatabase(TComponent* database) {
  FDatabases.push_back(database);
  if (OnDBNotify) OnDBNotify(dbAdd, database);
}

void TNRDSession::RemoveDatabase(TComponent* database) {
  {
    std::lock_guard<std::recursive_mutex> lock(SessionListLock());
    FDatabases.erase(std::remove(FDatabases.begin(), FDatabases.end(), database), FDatabases.end());
  }
  if (OnDBNotify) OnDBNotify(dbRemove, database);
}

// ----- the local session ------------------------------------------------------------------------------------

TNRDLocalSession::~TNRDLocalSession() {
  try {
    SetConnected(false);
  } catch (...) {
  }
}

bool TNRDLocalSession::IsOwnDatabaseData(const TNRDDatabaseData& item) const {
  if (IsMemoryDatabaseName(FDatabaseName)) return IsMemoryDatabaseName(item.FDatabaseName);
  if (IsTemporaryDatabaseName(FDatabaseName)) return IsTemporaryDatabaseName(item.FDatabaseName);
  if (IsMemoryDatabaseName(item.FDatabaseName) || IsTemporaryDatabaseName(item.FDatabaseName)) return false;
  return SameText(item.FSessionName, FSessionName) && SameDatabaseFile(item.FDatabaseName, FDatabaseFileName);
}

TNRDDatabaseData* TNRDLocalSession::FindDatabaseData() {
  TNRDDatabaseDataList& list = DatabaseDataList();
  std::lock_guard<std::recursive_mutex> lock(list.Mutex());
  for (TNRDDatabaseData* d : list.Items())
    if (IsOwnDatabaseData(*d)) return d;
  return nullptr;
}

TNRDDatabaseData* TNRDLocalSession::CreateDatabaseData() {
  if (IsMemoryDatabaseName(FDatabaseName) || IsTemporaryDatabaseName(FDatabaseName))
    throw ENRDException(20001, "Error creating table handle");
  TNRDDatabaseData* d = nullptr;
  if (G().diskMaker) {
    d = G().diskMaker(*this);
  } else {
    auto* disk = new TNRDDiskDatabaseData();
    disk->FPassword = FPassword;
    disk->FMaxSessionCount = FMaxSessionCount > 0 ? FMaxSessionCount : disk->FMaxSessionCount;
    disk->FPageSize = FPageSize;
    disk->FPageCountInExtent = FPageCountInExtent;
    d = disk;
  }
  if (d == nullptr) throw ENRDException(20001, "Error creating table handle");
  d->FDatabaseName = FDatabaseFileName;
  d->FReadOnly = FReadOnly;
  d->FSessionName = FSessionName;
  d->FMultiUser = FMultiUser;
  DatabaseDataList().Add(d);
  return d;
}

TNRDDatabaseData* TNRDLocalSession::FindOrCreateDatabaseData() {
  TNRDDatabaseDataList& list = DatabaseDataList();
  std::lock_guard<std::recursive_mutex> lock(list.Mutex());
  TNRDDatabaseData* d = FindDatabaseData();
  return d != nullptr ? d : CreateDatabaseData();
}

void TNRDLocalSession::SetConnected(bool value) {
  if (value == GetConnected()) return;
  if (!EngineStarted()) {
    FDatabaseData = nullptr;  // shutdown already freed every database object
    return;
  }
  TNRDDatabaseDataList& list = DatabaseDataList();
  std::lock_guard<std::recursive_mutex> lock(list.Mutex());
  if (value) {
    TNRDDatabaseData* d = FindOrCreateDatabaseData();
    try {
      d->ConnectSession(this);
    } catch (...) {
      // A new disk object that no session took is not kept.
      if (d != MemoryDatabaseData() && d != TemporaryDatabaseData() && d->Sessions().empty()) {
        list.Remove(d);
        d->FreeIfNoSessionsConnected();
      }
      throw;
    }
    FDatabaseData = d;
    FReadOnly = FReadOnly || d->FReadOnly;
    if (auto* disk = dynamic_cast<TNRDDiskDatabaseData*>(d)) {
      if (disk->GetEncrypted() && !disk->FPassword.Password.empty() &&
          disk->FPassword.Password != FPassword.Password)
        throw ENRDException(20298, "Database password is invalid.");
      FPassword = disk->FPassword;
      FPageSize = disk->FPageSize;
      FPageCountInExtent = disk->FPageCountInExtent;
      FMaxSessionCount = disk->FMaxSessionCount;
    }
    return;
  }
  TNRDDatabaseData* d = FDatabaseData;
  // This session's data sets must not outlive it nor the database object it may free.
  CloseCursorsOf(*d, this);
  d->DisconnectSession(this);
  if (d != MemoryDatabaseData() && d != TemporaryDatabaseData() && d->Sessions().empty()) {
    list.Remove(d);
    d->FreeIfNoSessionsConnected();
  }
  FDatabaseData = nullptr;
}

void TNRDLocalSession::CreateDatabase() {
  TNRDDatabaseDataList& list = DatabaseDataList();
  std::lock_guard<std::recursive_mutex> lock(list.Mutex());
  if (FindDatabaseData() != nullptr) throw ENRDException(20092, "Cannot create database. Database is already open");
  TNRDDatabaseData* d = CreateDatabaseData();
  try {
    d->CreateDatabase();
  } catch (...) {
    list.Remove(d);
    d->FreeIfNoSessionsConnected();
    throw;
  }
  list.Remove(d);
  d->FreeIfNoSessionsConnected();
}

void TNRDLocalSession::GetTablesList(std::vector<std::string>& list) {
  TNRDDatabaseData* d = FDatabaseData != nullptr ? FDatabaseData : FindOrCreateDatabaseData();
  d->GetTablesList(list);
}

bool TNRDLocalSession::TableExists(const std::string& tableName) {
  TNRDDatabaseData* d = FDatabaseData != nullptr ? FDatabaseData : FindOrCreateDatabaseData();
  return d->TableExists(tableName);
}

void TNRDLocalSession::Commit(bool doFlushBuffers) {
  if (!FInTransaction) throw ENRDException(20229, "Database is not within a transaction. Cannot perform operation");
  if (FDatabaseData != nullptr) FDatabaseData->Commit(FSessionID, doFlushBuffers);
  FInTransaction = false;
}

void TNRDLocalSession::Rollback() {
  if (!FInTransaction) throw ENRDException(20229, "Database is not within a transaction. Cannot perform operation");
  if (FDatabaseData != nullptr) FDatabaseData->Rollback(FSessionID);
  FInTransaction = false;
}

bool TNRDLocalSession::GetSuppressDBHeaderErrors() {
  if (auto* disk = dynamic_cast<TNRDDiskDatabaseData*>(FDatabaseData)) return disk->GetSuppressDBHeaderErrors();
  return false;
}

void TNRDLocalSession::SetSuppressDBHeaderErrors(bool value) {
  if (auto* disk = dynamic_cast<TNRDDiskDatabaseData*>(FDatabaseData)) disk->SetSuppressDBHeaderErrors(value);
}

void TNRDLocalSession::TruncateDatabase() {
  if (auto* disk = dynamic_cast<TNRDDiskDatabaseData*>(FDatabaseData)) disk->TruncateDatabase();
}

std::int32_t TNRDLocalSession::GetDBFileConnectionsCount() {
  if (auto* disk = dynamic_cast<TNRDDiskDatabaseData*>(FDatabaseData)) return disk->GetDBFileConnectionsCount();
  return 0;
}

void TNRDLocalSession::FlushBuffers() {
  if (FDatabaseData != nullptr) FDatabaseData->FlushBuffers();
}

// ----- local BLOB stream ------------------------------------------------------------------------------------

TNRDLocalBLOBStream::TNRDLocalBLOBStream(std::unique_ptr<TNRDStream> temporaryStream, TNRDBLOBOpenMode openMode,
                                         std::int32_t fieldNo)
    : FTemporaryStream(std::move(temporaryStream)), FOpenMode(openMode), FFieldNo(fieldNo) {
  SetBlockSize(FTemporaryStream->BlockSize());
}

std::int32_t TNRDLocalBLOBStream::Read(void* buffer, std::int32_t count) { return FTemporaryStream->Read(buffer, count); }

std::int32_t TNRDLocalBLOBStream::Write(const void* buffer, std::int32_t count) {
  if (FOpenMode == bomRead) throw ENRDException(10115, "Cannot write to read only stream");
  const std::int32_t n = FTemporaryStream->Write(buffer, count);
  if (n > 0) FModified = true;
  return n;
}

std::int64_t TNRDLocalBLOBStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  return FTemporaryStream->Seek(offset, origin);
}

std::int64_t TNRDLocalBLOBStream::GetSize() { return FTemporaryStream->GetSize(); }

void TNRDLocalBLOBStream::SetSize(std::int64_t newSize) {
  if (FOpenMode == bomRead) throw ENRDException(10116, "Cannot write to read only stream");
  FTemporaryStream->SetSize(newSize);
}

}  // namespace nrd
