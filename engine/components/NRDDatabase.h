// The database component: one database file (or the in-memory database "MEMORY") inside a
// session. It holds the connection settings, makes the engine session (TNRDLocalSession) that
// really opens the file, asks again for the password when an encrypted file refuses the current
// one, offers repair of a file that was not closed cleanly, keeps the list of the data sets that
// use it, forwards transactions, and runs the maintenance operations (compact, repair, change
// password, change settings) that rebuild the file table by table.
//
// Maintenance never touches the existing file until the rebuilt one is complete: the new file is
// written beside it ("<file>.tmp"), synced with its folder and renamed over the old one, so a
// crash at any point leaves the old file or the new one, never neither. A repair that had to skip
// records or tables keeps the original as "<file>.bak".
//
// Misuse raises EDatabaseError with the component's name in front; engine failures raise
// ENRDException. Not thread-safe: a database component belongs to one thread (opens of all
// sessions are serialised by the session-list lock).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/NRDDB.h"
#include "engine/foundation/NRDCipherPage.h"

namespace platform {
class TEngineWaitForm;
}

namespace nrd {

class TNRDDataSet;
class TNRDSession;
class TNRDLocalSession;

using TNRDNotifyEvent = std::function<void(TComponent& sender)>;
using TNRDProgressEvent = std::function<void(TComponent& sender, std::int32_t percentDone, bool& continue_)>;
using TNRDPasswordEvent = std::function<void(TComponent& sender, bool& continue_)>;
using TNRDOnNeedRepairEvent = std::function<void(TComponent& sender, bool& doRepair)>;

class TNRDDatabase : public TComponent {
 public:
  // The owner's session when the owner is a session, else the default session.
  explicit TNRDDatabase(TComponent* owner = nullptr);
  ~TNRDDatabase() override;

  // ----- settings -----
  bool Connected() const { return FHandle != nullptr; }
  void SetConnected(bool value);
  static std::string CurrentVersion() { return "7.90 "; }
  const std::string& DatabaseFileName() const { return FDatabaseFileName; }
  void SetDatabaseFileName(const std::string& value);  // closes first when it changes
  const std::string& DatabaseName() const { return FDatabaseName; }
  void SetDatabaseName(const std::string& value);  // closed only; unique in the session
  bool Exclusive() const { return FExclusive; }
  void SetExclusive(bool value);
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& value) { FPassword = value; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value);
  bool HandleShared() const { return FHandleShared; }
  void SetHandleShared(bool value);
  bool KeepConnection() const { return FKeepConnection; }
  void SetKeepConnection(bool value);
  std::int32_t MaxConnections() const { return FMaxConnections; }
  void SetMaxConnections(std::int32_t value);
  bool MultiUser() const { return FMultiUser; }
  void SetMultiUser(bool value);
  const std::string& SessionName() const { return FSessionName; }
  void SetSessionName(const std::string& value);
  bool SilentMode() const { return FSilentMode; }
  void SetSilentMode(bool value) { FSilentMode = value; }
  bool DisableTempFiles() const { return FDisableTempFiles; }
  void SetDisableTempFiles(bool value) { FDisableTempFiles = value; }
  bool NoRequestAutoRepair() const { return FNoRequestAutoRepair; }
  void SetNoRequestAutoRepair(bool value) { FNoRequestAutoRepair = value; }
  TNRDCryptoAlgorithm CryptoAlgorithm() const { return FCryptoAlgorithm; }
  void SetCryptoAlgorithm(TNRDCryptoAlgorithm value) { FCryptoAlgorithm = value; }
  std::int32_t PageSize() const { return FPageSize; }
  void SetPageSize(std::int32_t value) { FPageSize = value; }
  std::int32_t PageCountInExtent() const { return FPageCountInExtent; }
  void SetPageCountInExtent(std::int32_t value) { FPageCountInExtent = value; }

  // ----- state -----
  TNRDLocalSession* Handle() const { return FHandle; }
  TNRDSession* Session() const { return FSession; }
  bool Temporary() const { return FTemporary; }
  bool InTransaction() const;
  bool Exists() const;  // the file DatabaseFileName exists
  std::int32_t DataSetCount() const { return static_cast<std::int32_t>(FDataSets.size()); }
  TNRDDataSet* GetDataSet(std::int32_t index) const { return FDataSets.at(static_cast<std::size_t>(index)); }

  // ----- operations -----
  void Open();
  void Close();
  // Closed database only: creates the file with the current settings (then still closed).
  void CreateDatabase();
  void DeleteDatabase();
  void RenameDatabase(const std::string& newDatabaseFileName);
  // Opens exclusively, gives unused pages at the end of the file back, closes.
  void TruncateDatabase();
  // Writes the stub file followed by the database file into a new file.
  void MakeExecutableDatabase(const std::string& exeStubFileName, const std::string& exeDbFileName);
  std::int32_t GetDBFileConnectionsCount();
  void FlushBuffers();
  // Closes every data set using this database (queries first).
  void CloseDataSets();
  // Opens when closed, fills the list, closes again when it opened; errors are swallowed.
  void GetTablesList(std::vector<std::string>& list);
  // Opens when closed (it stays open).
  bool TableExists(const std::string& tableName);
  void StartTransaction();
  void Commit(bool doFlushBuffers = true);
  void Rollback();
  void ValidateName(const std::string& name);

  // ----- maintenance -----
  // Into "<file>.tmp", then renamed over the file. False (or 30456) when the copy failed or was
  // stopped; the old file stays.
  bool CompactDatabase();
  bool CompactDatabase(const std::string& newDatabaseFileName);
  // Copies what can be read into a new file; true unless the rebuild could not run at all. Tables
  // or records skipped are named in `log`.
  bool RepairDatabase(const std::string& newDatabaseFileName, std::string& log);
  // In place (through "<file>.tmp"); the log of what was skipped ("Unknown error" when the repair
  // failed without one). With skipped content the original stays as "<file>.bak".
  std::string RepairDatabase();
  std::string ChangePassword(const std::string& newPassword);
  std::string ChangePassword(const std::string& newPassword, TNRDCryptoAlgorithm newCryptoAlgorithm);
  bool ChangeDatabaseSettings(std::string& log, bool ignoreErrors, const std::string& newPassword,
                              TNRDCryptoAlgorithm newCryptoAlgorithm, std::int32_t newPageSize,
                              std::int32_t newPageCountInExtent, std::int32_t newMaxConnections);

  // ----- events -----
  TNRDPasswordEvent OnPassword;
  TNRDOnNeedRepairEvent OnNeedRepair;
  TNRDNotifyEvent BeforeRepair, AfterRepair, BeforeCompact, AfterCompact, BeforeChangePassword, AfterChangePassword,
      BeforeChangeDatabaseSettings, AfterChangeDatabaseSettings;
  TNRDProgressEvent OnRepairProgress, OnCompactProgress, OnChangePasswordProgress, OnChangeDatabaseSettingsProgress;

  // ----- for the session and the data sets -----
  std::int32_t FRefCount = 0;
  bool FTemporary = false;
  bool FDestroying = false;
  void AddDataSet(TNRDDataSet* dataSet);
  void RemoveDataSet(TNRDDataSet* dataSet);
  // Binds to the session named SessionName (20002 when unknown with activate).
  void ResolveSession(bool activate);

 private:
  friend class TNRDSession;
  void CheckDatabaseName() const;
  void CheckInactive() const;
  void CheckActive() const;
  std::unique_ptr<TNRDLocalSession> MakeEngineSession();
  bool RequestPassword();
  void BindSession(TNRDSession* session);
  // The rebuild behind every maintenance operation.
  bool RebuildDatabase(const std::string& newDatabaseFileName, std::string& log, bool ignoreErrors,
                       const std::string& newPassword, TNRDCryptoAlgorithm newCryptoAlgorithm,
                       std::int32_t newPageSize, std::int32_t newPageCountInExtent, std::int32_t newMaxConnections,
                       const TNRDNotifyEvent& before, const TNRDProgressEvent& progress,
                       const TNRDNotifyEvent& after, const char* waitText);
  // Rebuilds into "<file>.tmp" and puts it in place; keepBackup keeps the original as ".bak".
  bool RebuildInPlace(std::string& log, bool ignoreErrors, bool keepBackupWhenLogged, const std::string& newPassword,
                      TNRDCryptoAlgorithm newCryptoAlgorithm, std::int32_t newPageSize,
                      std::int32_t newPageCountInExtent, std::int32_t newMaxConnections,
                      const TNRDNotifyEvent& before, const TNRDProgressEvent& progress, const TNRDNotifyEvent& after,
                      const char* waitText, const char* operation);

  std::vector<TNRDDataSet*> FDataSets;
  bool FKeepConnection = true;
  bool FAcquiredHandle = false;
  bool FHandleShared = false;
  bool FReadOnly = false;
  bool FExclusive = false;
  std::unique_ptr<TNRDLocalSession> FOwnHandle;
  TNRDLocalSession* FHandle = nullptr;
  TNRDSession* FSession = nullptr;
  std::string FSessionName;
  std::string FDatabaseName;
  std::string FDatabaseFileName;
  std::string FPassword;
  TNRDCryptoAlgorithm FCryptoAlgorithm = craRijndael_128;
  std::int32_t FPageSize = 4096;
  std::int32_t FPageCountInExtent = 8;
  bool FNoRequestAutoRepair = false;
  bool FSilentMode = false;
  bool FMultiUser = false;
  std::int32_t FMaxConnections = 500;
  bool FDisableTempFiles = false;
  std::unique_ptr<platform::TEngineWaitForm> frmWait;
};

// Moves a finished file over its target: syncs `from`, renames it to `to` and syncs the folder.
// Raises ENRDException 20304 when the rename fails (`from` is left as it is).
void ReplaceFileDurably(const std::string& from, const std::string& to);
// Removes a leftover file when no process holds a lock on it; false when one does (kept).
bool RemoveStaleFile(const std::string& fileName);

}  // namespace nrd
