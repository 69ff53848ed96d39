// The engine's process-wide objects and its sessions.
//
// Start-up (EngineStartup, counted: only the first call creates) makes the list of shared database
// objects with the in-memory database "MEMORY" (and "TEMP" when a maker for it is registered),
// the session list and the session "Default". Shutdown (the last call) closes every data set still
// open, frees the sessions the engine made (the default one and those OpenSession made; sessions
// of the caller are only deactivated), then every database object. Disconnecting a local session
// closes the data sets open through it first.
//
// TNRDSession groups database components under a session name; TNRDLocalSession is the engine
// session that binds one database component to one shared database object. Database files are
// shared by file identity (device and inode), so two names of one file (other letter case, a
// link, a relative path) meet at the same object; "MEMORY" and "TEMP" are matched without regard
// to case. Disk database objects come from a maker the disk engine registers.
//
// Locks, in the order taken: the session-list lock (process-wide, re-entrant), the database list's
// lock, then the database object's own critical section.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/components/NRDDB.h"
#include "engine/foundation/NRDCipherPage.h"
#include "engine/foundation/NRDStreams.h"
#include "engine/foundation/NRDTypes.h"
#include "engine/storage/NRDDatabaseData.h"

namespace nrd {

class TNRDSession;
class TNRDLocalSession;
class TNRDDatabase;

// ----- shared database objects ------------------------------------------------------------------------------

// The process-wide list of shared database objects; owns them. Every access takes its lock.
class TNRDDatabaseDataList {
 public:
  ~TNRDDatabaseDataList();
  std::recursive_mutex& Mutex() { return FLock; }
  // Under the lock.
  void Add(TNRDDatabaseData* data);
  void Remove(TNRDDatabaseData* data);
  std::vector<TNRDDatabaseData*> Items();
  std::int32_t Count();

 private:
  std::recursive_mutex FLock;
  std::vector<TNRDDatabaseData*> FItems;
};

// Makers of database objects the storage engines provide: "TEMP" at start-up, and a disk database
// object for a local session (its file name, read-only flag and session name already copied from
// the session; the maker fills in the rest). A maker returns a new object the list will own.
// Without makers, "TEMP" is the temporary engine's database and files are disk databases.
using TNRDTempDatabaseMaker = std::function<TNRDDatabaseData*()>;
using TNRDDiskDatabaseMaker = std::function<TNRDDatabaseData*(TNRDLocalSession& session)>;
void RegisterTemporaryDatabaseMaker(TNRDTempDatabaseMaker maker);
void RegisterDiskDatabaseMaker(TNRDDiskDatabaseMaker maker);

// Counted start-up and shutdown of the process-wide objects.
void EngineStartup();
void EngineShutdown();
bool EngineStarted();
// 20007 "Database Engine is not initialized" before start-up.
TNRDDatabaseDataList& DatabaseDataList();
TNRDDatabaseData* MemoryDatabaseData();
TNRDDatabaseData* TemporaryDatabaseData();  // null when no maker was registered

// Whether two file names name the same file: same device and inode when both exist, else the
// same absolute, normalised path (upper-cased).
bool SameDatabaseFile(const std::string& a, const std::string& b);
// "MEMORY" or "TEMP" in any letter case.
bool IsMemoryDatabaseName(std::string_view name);
bool IsTemporaryDatabaseName(std::string_view name);

// ----- sessions ---------------------------------------------------------------------------------------------

// A token: one per active session; the default session's is the process's current manager.
class TNRDSessionComponentManager {};

// 20007 while no session is active.
TNRDSessionComponentManager* CurrentSessionComponentManager();
void SetCurrentSessionComponentManager(TNRDSessionComponentManager* manager);

// The process-wide session-list lock.
std::recursive_mutex& SessionListLock();

class TNRDSessionList {
 public:
  TNRDSessionList() = default;
  // Frees every session, the last first.
  ~TNRDSessionList();
  std::int32_t Count();
  TNRDSession* GetSession(std::int32_t index);
  TNRDSession* CurrentSession();
  void SetCurrentSession(TNRDSession* session);
  // An empty name gives the session "Default"; case-insensitive; null when none.
  TNRDSession* FindSession(std::string_view sessionName);
  // As FindSession; an unknown name raises 20002 "Invalid session name '%s'".
  TNRDSession& GetSessionByName(std::string_view sessionName);
  void GetSessionNames(std::vector<std::string>& list);
  // The named session, or a new ownerless one of that name; made active.
  TNRDSession& OpenSession(const std::string& sessionName);

 private:
  friend class TNRDSession;
  std::vector<TNRDSession*> FSessions;
  std::vector<bool> FSessionNumbers;  // automatic numbers taken
};

TNRDSessionList& SessionList();
TNRDSession& DefaultSession();

enum TNRDDatabaseEvent : std::uint8_t { dbOpen, dbClose, dbAdd, dbRemove };

class TNRDSession : public TComponent {
 public:
  explicit TNRDSession(TComponent* owner = nullptr);
  ~TNRDSession() override;

  bool Active() const { return FHandle != nullptr; }
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  bool IsDefault() const { return FDefault; }
  bool KeepConnections() const { return FKeepConnections; }
  void SetKeepConnections(bool value) { FKeepConnections = value; }
  const std::string& SessionName() const { return FSessionName; }
  void SetSessionName(const std::string& value);
  bool AutoSessionName() const { return FAutoSessionName; }
  void SetAutoSessionName(bool value);
  void SetName(const std::string& value) override;
  std::int32_t SessionNumber() const { return FSessionNumber; }
  // Enters the session-list lock and makes this session's handle current (activating it).
  void LockSession();
  void UnlockSession();
  TNRDSessionComponentManager* Handle();

  // Database components bound to this session (their component is the database's own layer).
  std::int32_t DatabaseCount() const { return static_cast<std::int32_t>(FDatabases.size()); }
  TComponent* GetDatabase(std::int32_t i) const { return FDatabases.at(static_cast<std::size_t>(i)); }
  void AddDatabase(TComponent* database);
  void RemoveDatabase(TComponent* database);
  // Closes (or frees) a bound database on deactivation; set by the database layer.
  std::function<void(TComponent*)> OnCloseDatabase;

  // Database components by name (defined with the database component). OpenDatabase, under the
  // session lock: the database of that name (with an owner: the owner's shared one), else a new
  // temporary, silent one owned by the session; opened, and one reference more.
  TNRDDatabase* OpenDatabase(const std::string& databaseName, TComponent* owner = nullptr);
  // One reference less; at 0 without KeepConnection a temporary database is freed, another closed.
  void CloseDatabase(TNRDDatabase* database);
  // Case-insensitive; an empty name matches only a temporary database. Null when none.
  TNRDDatabase* FindDatabase(const std::string& databaseName);
  // Frees every temporary database nobody refers to.
  void DropConnections();
  void GetDatabaseNames(std::vector<std::string>& list);
  // The tables of a database, opened for the question and closed again.
  void GetTableNames(const std::string& databaseName, std::vector<std::string>& list);
  std::function<void(TNRDDatabaseEvent, TComponent*)> OnDBNotify;
  std::function<void(TNRDSession&)> OnStartup;

 private:
  friend class TNRDSessionList;
  friend void EngineStartup();
  void Activate();
  void Deactivate();
  void AssignAutoName();
  TNRDSessionComponentManager* FHandle = nullptr;
  std::unique_ptr<TNRDSessionComponentManager> FOwnManager;
  std::vector<TComponent*> FDatabases;
  bool FKeepConnections = true;
  bool FDefault = false;
  bool FAutoSessionName = false;
  bool FUpdatingAutoSessionName = false;
  std::string FSessionName;
  std::int32_t FSessionNumber = -1;
  bool FMadeByEngine = false;  // the default session and those OpenSession made: shutdown frees them
};

// ----- the local session ------------------------------------------------------------------------------------

class TNRDLocalSession : public TNRDBaseSession {
 public:
  TNRDLocalSession() = default;
  ~TNRDLocalSession() override;
  const char* ClassName() const override { return "TNRDLocalSession"; }

  bool GetConnected() override { return FDatabaseData != nullptr; }
  void SetConnected(bool value) override;
  // The disk database object's flag; false for other databases.
  bool GetSuppressDBHeaderErrors() override;
  void SetSuppressDBHeaderErrors(bool value) override;
  // 20092 when the file is open in this process already.
  void CreateDatabase() override;
  void DeleteDatabase() override {}
  void RenameDatabase(const std::string&) override {}
  void GetTablesList(std::vector<std::string>& list) override;
  bool TableExists(const std::string& tableName) override;
  void StartTransaction() override { FInTransaction = true; }
  // 20229 outside a transaction.
  void Commit(bool doFlushBuffers) override;
  void Rollback() override;
  void FlushBuffers() override;
  // A disk database's; nothing (0) for the others.
  void TruncateDatabase();
  std::int32_t GetDBFileConnectionsCount();

  // Whether a list item is this session's database object.
  bool IsOwnDatabaseData(const TNRDDatabaseData& item) const;
  TNRDDatabaseData* FindDatabaseData();
  TNRDDatabaseData* CreateDatabaseData();
  TNRDDatabaseData* FindOrCreateDatabaseData();
  TNRDDatabaseData* DatabaseData() const { return FDatabaseData; }

  TNRDPassword FPassword;
  std::int32_t FPageSize = 4096;
  std::int32_t FPageCountInExtent = 8;

 private:
  friend void EngineShutdown();
  TNRDDatabaseData* FDatabaseData = nullptr;
};

// The stream a table object hands to a local cursor for one BLOB field, as the cursor keeps it:
// it owns the table object's stream and refuses writes when opened for reading.
class TNRDLocalBLOBStream : public TNRDStream {
 public:
  TNRDLocalBLOBStream(std::unique_ptr<TNRDStream> temporaryStream, TNRDBLOBOpenMode openMode, std::int32_t fieldNo);
  std::int32_t Read(void* buffer, std::int32_t count) override;
  // 10115 "Cannot write to read only stream" when opened for reading.
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t GetSize() override;
  // 10116 when opened for reading.
  void SetSize(std::int64_t newSize) override;
  TNRDStream& TemporaryStream() const { return *FTemporaryStream; }
  TNRDBLOBOpenMode OpenMode() const { return FOpenMode; }
  std::int32_t FieldNo() const { return FFieldNo; }
  TNRDStream* FUserBLOBStream = nullptr;  // the data set's stream over this one

 private:
  std::unique_ptr<TNRDStream> FTemporaryStream;
  TNRDBLOBOpenMode FOpenMode;
  std::int32_t FFieldNo;
};

}  // namespace nrd
