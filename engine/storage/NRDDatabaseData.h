// The shared database object and the engine-side session base.
//
// TNRDDatabaseData stands for one open database ("MEMORY", "TEMP" or a database file) and is shared
// by every session connected to it. It owns the table data objects of its open tables, hands out
// object IDs (engine), dispatches commit and rollback per session, and holds the one critical
// section that serialises storage work on that database: every table data object's Lock is this
// lock. The lock is re-entrant (std::recursive_mutex): a thread may nest Lock calls, and must call
// Unlock once per Lock.
//
// TNRDBaseSession keeps a session's named objects (sequence values: the last autoincrement value
// the session generated or inserted per field). The database operations are the local session's.
// Named objects belong to one session and are not locked.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/foundation/NRDRuntime.h"

namespace nrd {

class TNRDCursor;
class TNRDPageManager;
class TNRDTableData;

class TNRDSessionNamedObject {
 public:
  explicit TNRDSessionNamedObject(std::string_view name);
  explicit TNRDSessionNamedObject(std::int32_t objectID) : FObjectID(objectID) {}
  virtual ~TNRDSessionNamedObject() = default;

  std::int32_t FObjectID = -1;
  std::string FName;  // at most 255 bytes
};

class TNRDSessionNamedObjectSequenceValue : public TNRDSessionNamedObject {
 public:
  TNRDSessionNamedObjectSequenceValue(std::int32_t objectID, std::int64_t value)
      : TNRDSessionNamedObject(objectID), FValue(value) {}
  std::int64_t FValue;
};

class TNRDBaseSession {
 public:
  TNRDBaseSession() = default;
  virtual ~TNRDBaseSession() = default;
  TNRDBaseSession(const TNRDBaseSession&) = delete;
  TNRDBaseSession& operator=(const TNRDBaseSession&) = delete;
  virtual const char* ClassName() const { return "TNRDBaseSession"; }

  // Database operations of the local session; the base raises 30339 for each.
  virtual bool GetConnected();
  virtual void SetConnected(bool value);
  virtual bool GetSuppressDBHeaderErrors();
  virtual void SetSuppressDBHeaderErrors(bool value);
  virtual void CreateDatabase();
  virtual void DeleteDatabase();
  virtual void RenameDatabase(const std::string& newDatabaseFileName);
  virtual void GetTablesList(std::vector<std::string>& list);
  virtual bool TableExists(const std::string& tableName);
  // Named objects. SetObject replaces the object with the same ID (or, for ID -1, the same name)
  // and takes ownership of `value`.
  virtual void SetObject(std::unique_ptr<TNRDSessionNamedObject> value);
  virtual TNRDSessionNamedObject* GetObjectByName(std::string_view objectName) const;
  virtual TNRDSessionNamedObject* GetObjectByID(std::int32_t id) const;
  virtual void DeleteObject(std::int32_t id);
  virtual void StartTransaction();
  virtual void Commit(bool doFlushBuffers);
  virtual void Rollback();
  virtual void FlushBuffers();

  std::int32_t ObjectCount() const { return static_cast<std::int32_t>(FSessionNamedObjectList.size()); }

  std::string FDatabaseName;
  std::string FDatabaseFileName;
  std::int32_t FSessionID = -1;
  bool FInTransaction = false;
  bool FReadOnly = false;
  bool FExclusive = false;
  bool FInMemory = false;
  std::string FLogin;
  void* FSessionHandle = nullptr;  // the owning session component (components layer)
  std::int32_t FMaxSessionCount = 0;
  bool FRepairNeeded = false;
  bool FMultiUser = false;
  std::string FSessionName;

 protected:
  [[noreturn]] void NotOverridden(const char* method) const;

 private:
  std::vector<std::unique_ptr<TNRDSessionNamedObject>> FSessionNamedObjectList;
};

class TNRDDatabaseData {
 public:
  TNRDDatabaseData();
  // Frees every table data object; does not free the page manager (the engine's).
  virtual ~TNRDDatabaseData();
  TNRDDatabaseData(const TNRDDatabaseData&) = delete;
  TNRDDatabaseData& operator=(const TNRDDatabaseData&) = delete;
  virtual const char* ClassName() const { return "TNRDDatabaseData"; }

  void Lock() { FCSect.lock(); }
  void Unlock() { FCSect.unlock(); }
  TCriticalSection& CriticalSection() { return FCSect; }

  // Slots in order. The session ID given by ConnectSession is 0; engines with several sessions
  // assign their own.
  virtual void ConnectSession(TNRDBaseSession* session);
  virtual void DisconnectSession(TNRDBaseSession* session);
  // Deletes this object when no session is connected; true when it did (the caller drops its pointer).
  virtual bool FreeIfNoSessionsConnected();
  virtual void GetTablesList(std::vector<std::string>& list);
  virtual void CreateDatabase() {}
  virtual TNRDTableData* CreateTableData(TNRDCursor* cursor);  // engine; base raises 30339
  virtual TNRDTableData* FindTableData(TNRDCursor* cursor);
  virtual TNRDTableData* FindOrCreateTableData(TNRDCursor* cursor);
  virtual std::int32_t GetNewObjectId();  // engine; base raises 30339
  virtual void Commit(std::int32_t sessionID, bool doFlushBuffers);
  virtual void Rollback(std::int32_t sessionID);
  virtual void FlushBuffers() {}

  // True when GetTablesList holds the name (compared without regard to case).
  bool TableExists(std::string_view tableName);
  // The first table data object of that name (case-insensitive), or null.
  TNRDTableData* FindTableDataByName(std::string_view tableName);

  // Called by TNRDTableData's constructor and destructor.
  void AddTableData(TNRDTableData* tableData);
  void RemoveTableData(TNRDTableData* tableData);

  const std::vector<TNRDBaseSession*>& Sessions() const { return FSessionList; }
  const std::vector<TNRDTableData*>& Tables() const { return FTableDataList; }

  std::string FDatabaseName;
  TNRDPageManager* FPageManager = nullptr;  // the engine's, not owned here
  bool FReadOnly = false;
  std::int32_t FTryCount = 20;
  std::int32_t FDelayMS = 50;
  bool FMultiUser = false;
  std::string FSessionName;

 protected:
  [[noreturn]] void NotOverridden(const char* method) const;

 private:
  TCriticalSection FCSect;
  std::vector<TNRDBaseSession*> FSessionList;   // not owned
  std::vector<TNRDTableData*> FTableDataList;   // owned (each removes itself when freed)
  bool FDestroying = false;
};

// Holds the database lock for a scope.
class TNRDDatabaseLock {
 public:
  explicit TNRDDatabaseLock(TNRDDatabaseData& db) : db_(db) { db_.Lock(); }
  ~TNRDDatabaseLock() { db_.Unlock(); }
  TNRDDatabaseLock(const TNRDDatabaseLock&) = delete;
  TNRDDatabaseLock& operator=(const TNRDDatabaseLock&) = delete;

 private:
  TNRDDatabaseData& db_;
};

}  // namespace nrd
