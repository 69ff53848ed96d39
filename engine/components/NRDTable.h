// The table component: the data set over one stored table. It makes the local cursor for its
// TableName, chooses the active index by name or by field list, searches by key, applies key
// ranges and follows a master data set, and creates, deletes, empties and renames tables and
// indexes. Moving records (import, export, copy, batch move, restructure) lives in
// NRDTableTransfer.cpp and the SQL script export in NRDExportToSQL.cpp, both members of this class.
//
// Key buffers: six record buffers of the cursor's key size (lookup key, range start, range end,
// current range start, current range end, saved key); behind the fields each holds, at the
// cursor's key offset, a has-key byte, an exclusive byte and a 32-bit field count (0: all columns
// of the index). Key values are written through the fields while the table is in the set-key
// state (SetKey, SetRangeStart, SetRangeEnd and their Edit forms).
//
// Definitions: the extended field and index definitions (AdvFieldDefs, AdvIndexDefs) are read from
// the table on open; RestructureFieldDefs and RestructureIndexDefs start as copies of them, are
// kept after closing, and are what CopyTable and RestructureTable apply.
//
// Misuse raises EDatabaseError with the component's name; engine failures ENRDException.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/NRDAdvDefs.h"
#include "engine/components/NRDDataSet.h"
#include "engine/components/NRDDatabase.h"

namespace platform {
class TEngineWaitForm;
}

namespace nrd {

class TNRDLocalCursor;

// What ExportToSQL writes.
class TNRDExportToSqlOptions {
 public:
  bool Structure = true;
  bool AddDropTable = true;
  bool BlobSettings = false;
  bool Data = false;
  bool FieldNamesInInserts = false;
  void Assign(const TNRDExportToSqlOptions& source) { *this = source; }
};

class TNRDTable : public TNRDDataSet {
 public:
  explicit TNRDTable(TComponent* owner = nullptr);
  ~TNRDTable() override;

  // ----- properties -----
  const std::string& TableName() const { return FTableName; }
  void SetTableName(const std::string& value);  // refused while open
  bool Exclusive() const { return FExclusive; }
  void SetExclusive(bool value);
  bool Temporary() const { return FTemporary; }
  void SetTemporary(bool value);  // true also sets DatabaseName "TEMP"
  bool DisableTempFiles() const { return FDisableTempFiles; }
  void SetDisableTempFiles(bool value) { FDisableTempFiles = value; }
  // The active index by name; reads empty when a field list was set.
  std::string IndexName() const { return FFieldsIndex ? std::string() : FIndexName; }
  void SetIndexName(const std::string& value);
  // The active index by its fields (';'-separated); reads empty when a name was set.
  std::string IndexFieldNames() const { return FFieldsIndex ? FIndexName : std::string(); }
  void SetIndexFieldNames(const std::string& value);
  // The table exists in its database; any error gives false.
  bool Exists();

  TNRDAdvFieldDefs& AdvFieldDefs() { return FAdvFieldDefs; }
  TNRDAdvIndexDefs& AdvIndexDefs() { return FAdvIndexDefs; }
  TNRDAdvFieldDefs& RestructureFieldDefs() { return FRestructureFieldDefs; }
  TNRDAdvIndexDefs& RestructureIndexDefs() { return FRestructureIndexDefs; }
  // Reads the field and index definitions of the stored table (through a scratch cursor when
  // closed) into FieldDefs, IndexDefs and the extended and restructure definitions.
  void UpdateFieldDefs();
  void UpdateIndexDefs();

  // ----- index fields -----
  TField& GetIndexField(std::int32_t index);
  void SetIndexField(std::int32_t index, const TVariantValue& value);

  // ----- keys and ranges -----
  void SetKey();
  void EditKey();
  void SetRangeStart();
  void EditRangeStart();
  void SetRangeEnd();
  void EditRangeEnd();
  // Only in the set-key state ("Dataset not in edit or insert mode" outside it).
  bool KeyExclusive() const;
  void SetKeyExclusive(bool value);
  std::int32_t KeyFieldCount() const;
  void SetKeyFieldCount(std::int32_t value);
  // Ends key editing: keeps the typed key (post) or puts the saved one back (cancel).
  void PostKey();
  void CancelKey();
  bool GotoKey();
  void GotoNearest();
  bool FindKey(const std::vector<TVariantValue>& keyValues);
  void FindNearest(const std::vector<TVariantValue>& keyValues);
  void ApplyRange();
  void CancelRange();
  void SetRange(const std::vector<TVariantValue>& startValues, const std::vector<TVariantValue>& endValues);

  // ----- structure -----
  void CreateTable();
  void DeleteTable();
  void EmptyTable();
  void RenameTable(const std::string& newTableName);
  void RenameField(const std::string& fieldName, const std::string& newFieldName);
  void AddIndex(const std::string& name, const std::string& fields, TIndexOptions options,
                const std::string& descFields = "", const std::string& caseInsFields = "");
  void DeleteIndex(const std::string& name);
  void DeleteAllIndexes();
  std::string FindOrCreateIndex(const std::vector<std::string>& fieldNamesList,
                                const std::vector<std::string>& ascDescList,
                                const std::vector<std::string>& caseSensitivityList, bool& isCreated);
  bool IndexExists(const std::vector<std::string>& fieldNamesList, const std::vector<std::string>& ascDescList,
                   const std::vector<std::string>& caseSensitivityList);
  bool IsRecordLocked();
  std::int64_t LastAutoincValue(std::int32_t fieldIndex);
  // Opens the cursor once in repair mode (the engine mends what it must while opening).
  void RepairOpen();

  // ----- moving records (NRDTableTransfer.cpp) -----
  bool ImportTable(TDataSet& sourceTable, std::string& log, const TIndexDefs* indexDefs = nullptr);
  bool ImportTable(TDataSet& sourceTable);
  // createTable must create the destination table.
  bool ExportTable(TDataSet& destinationTable, const std::function<void()>& createTable, std::string& log);
  bool ExportTable(TDataSet& destinationTable, const std::function<void()>& createTable);
  bool CopyTable(const std::string& newTableName, std::string& log, bool& continue_,
                 const std::string& destDatabaseFileName, const std::string& destDatabasePassword, bool ignoreErrors,
                 bool overwriteExistingTable, bool copyIndexes, std::int32_t minProgress, std::int32_t maxProgress);
  bool CopyTable(const std::string& newTableName, const std::string& destDatabaseFileName = "",
                 const std::string& destDatabasePassword = "");
  void BatchMove(TNRDDataSet& sourceTableOrQuery, TNRDBatchMoveType moveType,
                 const std::string& dstTableIndexNameToIdentifyEqualRecords = "");
  bool RestructureTable(std::string& log);
  bool RestructureTable();

  // ----- SQL script (NRDExportToSQL.cpp) -----
  TNRDExportToSqlOptions& ExportToSqlOptions() { return FExportToSqlOptions; }
  void ExportToSQL(TNRDStream& stream);
  void ExportToSQL(const std::string& fileName);
  std::string ExportToSQL();

  // ----- events -----
  TNRDNotifyEvent BeforeCopy, AfterCopy, BeforeImport, AfterImport, BeforeExport, AfterExport, BeforeRestructure,
      AfterRestructure, BeforeBatchMove, AfterBatchMove;
  TNRDProgressEvent OnCopyProgress, OnImportProgress, OnExportProgress, OnRestructureProgress, OnBatchMoveProgress;

  void MasterChanged() override;
  void GetFieldValue(const TField& field, TNRDVariant& value) const override;
  void SetFieldValue(TField& field, TNRDVariant& value) override;

 protected:
  std::unique_ptr<TNRDCursor> CreateHandle() override;
  void InternalOpen() override;
  void InternalClose() override;
  void InternalInitFieldDefs() override;
  // The master link's range needs the fields, so it is set once they exist.
  void OnFieldsCreated() override;

 private:
  friend struct TNRDTableTransfer;
  enum KeyIndex { kiLookup, kiRangeStart, kiRangeEnd, kiCurRangeStart, kiCurRangeEnd, kiSave, kiCount };
  // A local cursor over this table, bound to the database's engine session; opened when asked.
  std::unique_ptr<TNRDLocalCursor> MakeLocalCursor(bool open);
  // Runs `work` with a cursor: the open one, or a scratch one (DB flag `flag`) freed afterwards.
  void WithCursor(int flag, bool needOpen, const std::function<void(TNRDCursor&)>& work);
  void CheckNotInTransaction(const char* operation, int code);
  std::string ResolveIndexName();
  void ReadIndexDefs(TNRDCursor& cursor);
  void ReadFieldDefs(TNRDCursor& cursor);
  // Definitions for CreateTable: engine field, index and constraint definitions.
  void PrepareCreateDefs(TNRDFieldDefs& fields, TNRDIndexDefs& indexes, TNRDConstraintDefs& constraints);
  void* KeyBuffer(KeyIndex i) const { return FKeyBuffers[i]; }
  std::uint8_t* KeyHeader(void* buffer) const;
  void BeginKeyEdit(KeyIndex i, bool clear);
  void SetKeyFields(KeyIndex i, const std::vector<TVariantValue>& values);
  bool SetCursorRange();
  bool ResetCursorRange();
  void SetLinkRange();
  bool ResyncUnderSharedLock(bool moveFirst);
  void FreeKeyBuffers();
  void ActivateIndex();
  void ChangeIndex(const std::string& name, bool fieldsIndex);
  // The default progress handlers: a wait form unless the database is silent or the table temporary.
  struct WaitHandlers {
    TNRDNotifyEvent before, after;
    TNRDProgressEvent progress;
  };
  WaitHandlers DefaultWait(const char* text, const TNRDNotifyEvent& before, const TNRDProgressEvent& progress,
                           const TNRDNotifyEvent& after);

  std::string FTableName;
  bool FExclusive = false;
  bool FTemporary = false;
  std::string FIndexName;
  bool FFieldsIndex = false;
  bool FDisableTempFiles = false;
  bool FIsRepairing = false;
  bool FIndexDefsUpToDate = false;
  TNRDAdvFieldDefs FAdvFieldDefs;
  TNRDAdvIndexDefs FAdvIndexDefs{this};
  TNRDAdvFieldDefs FRestructureFieldDefs;
  TNRDAdvIndexDefs FRestructureIndexDefs{this};
  void* FKeyBuffers[kiCount] = {};
  void* FKeyBuffer = nullptr;  // the one being edited
  bool FKeyModified = false;
  TNRDExportToSqlOptions FExportToSqlOptions;
  std::unique_ptr<platform::TEngineWaitForm> frmWait;
};

}  // namespace nrd
