// Moving records between data sets: the record copy routine shared by import, export, copy and
// restructure, and the batch move. The copy keeps going past bad fields and bad records and
// writes what happened into a log text (each message ends with CR LF).
#include <algorithm>
#include <cmath>

#include "engine/components/NRDLocalCursor.h"
#include "engine/components/NRDSession.h"
#include "engine/components/NRDTable.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDText.h"
#include "engine/foundation/NRDTypes.h"

namespace nrd {

namespace {

const char* const kCRLF = "\r\n";

// Runs a step whose failure does not matter (a cancel after a failed post, a refresh).
template <typename F>
void Quietly(F&& f) {
  try {
    f();
  } catch (...) {
  }
}

}  // namespace

// The record copy routine and the pieces of the table that it needs.
struct TNRDTableTransfer {
  // Copies every record of `source` into `dest`. True when nothing was logged and nothing was
  // stopped. Field pairs are matched once, before the first record: by position when the source
  // has as many fields as definitions, else by name; with matchByObjectID (two tables, a
  // restructure) through the object IDs of the source's definitions.
  static bool CopyDataSetRecords(TComponent& sender, TDataSet& source, TDataSet& dest, std::string& log, bool& cont,
                                 bool ignoreErrors, bool matchByObjectID, const TNRDProgressEvent& onProgress,
                                 std::int32_t minProgress, std::int32_t maxProgress) {
    bool result = true;
    auto* senderTable = dynamic_cast<TNRDTable*>(&sender);
    const std::string tableName = senderTable != nullptr ? senderTable->TableName() : "unknown";
    auto* sourceTable = dynamic_cast<TNRDTable*>(&source);
    const std::string sourceName = sourceTable != nullptr ? sourceTable->TableName() : "unknown";
    auto* destTable = dynamic_cast<TNRDTable*>(&dest);
    source.CheckBrowseMode();

    // Field pairs.
    std::vector<std::pair<TField*, TField*>> pairs;
    for (std::int32_t i = 0; i < source.FieldDefs().Count(); ++i) {
      const TFieldDef& def = source.FieldDefs()[i];
      TField* from = source.FieldCount() == source.FieldDefs().Count() ? &source.Fields(i) : source.FindField(def.Name);
      if (from == nullptr) {
        log += Format("Field type is not supported. Table name: \"%s\", field name: \"%s\"", {sourceName, def.Name}) + kCRLF;
        result = false;
        if (!ignoreErrors)
          throw ENRDException(10499, "Field type is not supported. Table name: \"%s\", field name: \"%s\"",
                              {sourceName, def.Name});
        continue;
      }
      TField* to = nullptr;
      if (matchByObjectID && sourceTable != nullptr && destTable != nullptr) {
        if (const TNRDAdvFieldDef* adv = sourceTable->FAdvFieldDefs.Find(from->FieldName()); adv != nullptr) {
          const TNRDAdvFieldDefs& target = sourceTable->FRestructureFieldDefs;
          for (std::int32_t k = 0; k < target.Count() && to == nullptr; ++k)
            if (target.GetDef(k).FObjectID == adv->FObjectID && adv->FObjectID != -1)
              to = dest.FindField(target.GetDef(k).FName);
        }
      }
      if (to == nullptr && !matchByObjectID) to = dest.FindField(from->FieldName());
      if (to == nullptr && matchByObjectID && (sourceTable == nullptr || destTable == nullptr))
        to = dest.FindField(from->FieldName());
      if (to != nullptr) pairs.emplace_back(from, to);
    }

    const std::int64_t count = source.RecordCount();
    const std::int64_t span = maxProgress - minProgress;
    const std::int64_t step = span != 0 ? count / span + 1 : 1;
    const std::int64_t every = std::max<std::int64_t>(1, std::min<std::int64_t>(step, 30));
    std::int64_t n = 1;
    Quietly([&] { source.Refresh(); });
    const TBookmark mark = source.GetBookmark();
    source.First();
    while (!source.Eof()) {
      dest.Insert();
      for (auto& pair : pairs) {
        // Named members, not a structured binding: a lambda below captures `to`.
        TField* from = pair.first;
        TField* to = pair.second;
        try {
          CopyFieldValue(*from, *to);
        } catch (const std::exception& e) {
          log += Format("Error copying table \"%s\". Record #%d, field '%s' was copied with Null value due to error: %s",
                        {tableName, n, from->FieldName(), std::string(e.what())}) +
                 kCRLF;
          Quietly([&] { to->Clear(); });
          result = false;
          if (!ignoreErrors) {
            Quietly([&] { dest.Cancel(); });
            throw;
          }
        }
      }
      try {
        dest.Post();
      } catch (const std::exception& e) {
        log += Format("Error copying table \"%s\". Record #%d was not imported due to error: %s",
                      {tableName, n, std::string(e.what())}) +
               kCRLF;
        Quietly([&] { dest.Cancel(); });
        result = false;
        if (!ignoreErrors) throw;
      }
      ++n;
      bool moved = true;
      try {
        source.Next();
      } catch (...) {
        moved = false;
      }
      // A record that cannot be read is skipped by number; when no later number can be reached
      // either, the copy ends here rather than going round in circles.
      while (!moved) {
        try {
          source.SetRecNo(n);
          moved = true;
        } catch (...) {
          log += "Record #" + std::to_string(n) + " corrupted and skipped." + kCRLF;
          result = false;
          ++n;
          if (n > count) break;
        }
      }
      if (!moved) {
        log += "Cannot move past record #" + std::to_string(n - 1) + ", copy ended." + kCRLF;
        break;
      }
      if ((n - 2) % every == 0) {
        const auto percent = static_cast<std::int32_t>(
            minProgress + std::llround(static_cast<double>(n - 1) * static_cast<double>(span) /
                                       static_cast<double>(std::max<std::int64_t>(count, 1))));
        if (onProgress) onProgress(source, percent, cont);
        if (!cont) {
          log += std::string("Terminated by User.") + kCRLF;
          result = false;
          break;
        }
      }
    }
    Quietly([&] {
      if (!mark.empty()) source.GotoBookmark(mark);
    });
    return result;
  }
};

// ----- import and export ------------------------------------------------------------------------------------

bool TNRDTable::ImportTable(TDataSet& sourceTable) {
  std::string log;
  return ImportTable(sourceTable, log, nullptr);
}

bool TNRDTable::ImportTable(TDataSet& sourceTable, std::string& log, const TIndexDefs* indexDefs) {
  SetFiltered(false);
  const std::size_t entry = log.size();
  if (Active()) DatabaseError("Cannot perform this operation on an open dataset", this);
  IndexDefs().Clear();
  FAdvIndexDefs.Clear();
  FieldDefs().Clear();
  FAdvFieldDefs.Clear();
  if (auto* table = dynamic_cast<TNRDTable*>(&sourceTable)) {
    if (!table->Active()) table->UpdateIndexDefs();
    FAdvFieldDefs.Assign(table->FAdvFieldDefs);
    FAdvIndexDefs.Assign(table->FAdvIndexDefs, true);
  } else if (auto* nrd = dynamic_cast<TNRDDataSet*>(&sourceTable); nrd != nullptr && nrd->Cursor() != nullptr) {
    TNRDCursor& c = *nrd->Cursor();
    EngineDefsToAdvFieldDefs(c.VisibleFieldDefs(), c.FieldDefs(), c.ConstraintDefs(), FAdvFieldDefs);
    EngineIndexDefsToAdvIndexDefs(c.GetIndexDefs(), FAdvIndexDefs);
    TNRDAdvIndexDefs kept;
    kept.Assign(FAdvIndexDefs, true);
    FAdvIndexDefs.Assign(kept);
  } else {
    FieldDefs().Assign(sourceTable.FieldDefs());
    if (indexDefs != nullptr) {
      bool named = false;
      for (std::int32_t i = 0; i < indexDefs->Count(); ++i) {
        const TIndexDef& d = (*indexDefs)[i];
        if (d.Fields.empty()) {
          log += Format("Cannot import index '%s'. Index type is not supported, index skipped", {d.Name}) + kCRLF;
          continue;
        }
        TIndexDef& copy = IndexDefs().AddIndexDef();
        copy = d;
        if (copy.Name.empty() && !named) {
          copy.Name = "idxPrimaryKey";
          named = true;
        }
      }
    }
  }
  try {
    CreateTable();
  } catch (const std::exception& e) {
    log += Format("Error importing table. Cannot create table due to error: %s", {std::string(e.what())}) + kCRLF;
    return log.size() == entry;
  }
  const bool sourceWasActive = sourceTable.Active();
  Open();
  std::string errors;
  CheckedCursor().LockTableData();
  try {
    if (!sourceWasActive) sourceTable.Open();
    const WaitHandlers h = DefaultWait("Import Table...", BeforeImport, OnImportProgress, AfterImport);
    if (h.before) h.before(*this);
    bool cont = true;
    try {
      TNRDTableTransfer::CopyDataSetRecords(*this, sourceTable, *this, errors, cont, true, false, h.progress, 0, 100);
    } catch (...) {
      if (h.after) h.after(*this);
      throw;
    }
    if (h.after) h.after(*this);
  } catch (...) {
    CheckedCursor().UnlockTableData();
    if (!sourceWasActive) Quietly([&] { sourceTable.Close(); });
    Close();
    throw;
  }
  CheckedCursor().UnlockTableData();
  if (!sourceWasActive) Quietly([&] { sourceTable.Close(); });
  Close();
  if (!errors.empty()) log += Format("Error importing table. Cannot copy data due to error: %s", {errors}) + kCRLF;
  return log.size() == entry;
}

bool TNRDTable::ExportTable(TDataSet& destinationTable, const std::function<void()>& createTable) {
  std::string log;
  return ExportTable(destinationTable, createTable, log);
}

bool TNRDTable::ExportTable(TDataSet& destinationTable, const std::function<void()>& createTable, std::string& log) {
  const std::size_t entry = log.size();
  destinationTable.Close();
  const bool wasActive = Active();
  const TBookmark mark = wasActive ? GetBookmark() : TBookmark{};
  Close();
  Open();
  auto finish = [&] {
    if (wasActive) {
      Quietly([&] {
        if (!mark.empty()) GotoBookmark(mark);
      });
    } else {
      Close();
    }
    return log.size() == entry;
  };
  if (auto* table = dynamic_cast<TNRDTable*>(&destinationTable)) {
    table->FAdvFieldDefs.Assign(FAdvFieldDefs);
    table->FAdvIndexDefs.Clear();
    table->FieldDefs().Assign(FieldDefs());
    table->IndexDefs().Clear();
  } else {
    destinationTable.FieldDefs().Assign(FieldDefs());
  }
  try {
    if (createTable) createTable();
  } catch (const std::exception& e) {
    log += Format("Error exporting table. Cannot create table due to error: %s", {std::string(e.what())}) + kCRLF;
    return finish();
  }
  try {
    destinationTable.Open();
    for (std::int32_t i = 0; i < destinationTable.FieldDefs().Count(); ++i) destinationTable.FieldDefs()[i].Required = false;
    for (std::int32_t i = 0; i < destinationTable.FieldCount(); ++i) destinationTable.Fields(i).SetRequired(false);
  } catch (const std::exception& e) {
    log += Format("Error exporting table. Cannot open destination table due to error: %s", {std::string(e.what())}) + kCRLF;
    return finish();
  }
  std::string errors;
  CheckedCursor().LockTableData();
  const WaitHandlers h = DefaultWait("Export Table...", BeforeExport, OnExportProgress, AfterExport);
  try {
    if (h.before) h.before(*this);
    bool cont = true;
    TNRDTableTransfer::CopyDataSetRecords(*this, *this, destinationTable, errors, cont, true, false, h.progress, 0, 100);
    if (h.after) h.after(*this);
  } catch (...) {
    if (h.after) Quietly([&] { h.after(*this); });
    CheckedCursor().UnlockTableData();
    finish();
    throw;
  }
  CheckedCursor().UnlockTableData();
  if (!errors.empty()) log += Format("Error exporting table. Cannot copy data due to error: %s", {errors}) + kCRLF;
  return finish();
}

// ----- copy -------------------------------------------------------------------------------------------------

bool TNRDTable::CopyTable(const std::string& newTableName, const std::string& destDatabaseFileName,
                          const std::string& destDatabasePassword) {
  std::string log;
  bool cont = true;
  return CopyTable(newTableName, log, cont, destDatabaseFileName, destDatabasePassword, false, false, true, 0, 100);
}

bool TNRDTable::CopyTable(const std::string& newTableName, std::string& log, bool& continue_,
                          const std::string& destDatabaseFileName, const std::string& destDatabasePassword,
                          bool ignoreErrors, bool overwriteExistingTable, bool copyIndexes, std::int32_t minProgress,
                          std::int32_t maxProgress) {
  const bool wasActive = Active();
  const TBookmark mark = wasActive ? GetBookmark() : TBookmark{};
  if (wasActive) Close();
  Open();
  std::unique_ptr<TNRDDatabase> destDb;
  bool result = true;
  const WaitHandlers h = DefaultWait("Copy Table...", BeforeCopy, OnCopyProgress, AfterCopy);
  bool beforeCalled = false;
  auto finish = [&] {
    if (beforeCalled && h.after) Quietly([&] { h.after(*this); });
    if (wasActive) {
      Quietly([&] {
        if (!mark.empty()) GotoBookmark(mark);
      });
    } else {
      Quietly([&] { Close(); });
    }
    Quietly([&] { destDb.reset(); });
  };
  try {
    const bool toMemory = IsMemoryDatabaseName(destDatabaseFileName);
    const std::string destLabel = toMemory ? std::string("MEMORY") : destDatabaseFileName;
    std::string destDatabaseName = DatabaseName();
    std::string destSessionName = SessionName();
    if (!destDatabaseFileName.empty() && !toMemory) {
      destDb = std::make_unique<TNRDDatabase>(nullptr);
      destDb->SetDatabaseName(MakeUniqueName("TempDb"));
      destDb->SetDatabaseFileName(destDatabaseFileName);
      destDb->SetPassword(destDatabasePassword);
      destDb->SetSilentMode(true);
      try {
        destDb->Open();
      } catch (...) {
        destDb.reset();
        if (!ignoreErrors) throw;
        result = false;
        finish();
        return false;
      }
      destDatabaseName = destDb->DatabaseName();
      destSessionName = destDb->SessionName();
    } else if (toMemory) {
      destDatabaseName = "MEMORY";
      destSessionName.clear();
    }
    // The same database is recognised by the file itself, whatever name or path reaches it.
    bool sameDatabase = destDatabaseFileName.empty();
    if (!sameDatabase && !toMemory && Database() != nullptr)
      sameDatabase = SameDatabaseFile(destDatabaseFileName, Database()->DatabaseFileName());
    if (toMemory) sameDatabase = InMemory();
    if (sameDatabase && SameText(newTableName, FTableName)) {
      const std::string text = Format("Cannot copy table '%s.%s' into it self", {destDatabaseFileName, FTableName});
      if (!ignoreErrors) throw ENRDException(30447, text);
      log += text + kCRLF;
      finish();
      return false;
    }
    for (std::int32_t i = 0; i < FieldDefs().Count(); ++i)
      if (FindField(FieldDefs()[i].Name) == nullptr)
        throw ENRDException(20297, "Cannot copy table \"%s\". Field object for field \"%s\" is not created.",
                            {FTableName, FieldDefs()[i].Name});
    if (h.before) h.before(*this);
    beforeCalled = true;
    auto copy = std::make_unique<TNRDTable>(nullptr);
    copy->SetTableName(newTableName);
    if (destDatabaseFileName.empty()) {
      copy->SetSessionName(SessionName());
      copy->SetDatabaseName(DatabaseName());
      copy->FTemporary = FTemporary;
    } else {
      copy->SetSessionName(destSessionName);
      copy->SetDatabaseName(destDatabaseName);
    }
    copy->FAdvFieldDefs.Assign(FRestructureFieldDefs);
    if (copyIndexes) copy->FAdvIndexDefs.Assign(FRestructureIndexDefs, true);
    if (copy->Exists()) {
      if (overwriteExistingTable) {
        copy->DeleteTable();
      } else {
        const std::string text = Format("Table '%s.%s' already exists", {destLabel, newTableName});
        if (!ignoreErrors) throw ENRDException(toMemory ? 10515 : 30448, text);
        log += text + kCRLF;
        finish();
        return false;
      }
    }
    try {
      copy->CreateTable();
    } catch (const std::exception& e) {
      const std::string text = Format("Create table '%s.%s' error: '%s'", {destLabel, newTableName, std::string(e.what())});
      if (!ignoreErrors) throw ENRDException(30450, text);
      log += text + kCRLF;
      finish();
      return false;
    }
    copy->Open();
    // Records go in as one batch: the destination applies its changes once at the end.
    copy->CheckedCursor().BeginBatchUpdate();
    try {
      TNRDTableTransfer::CopyDataSetRecords(*this, *this, *copy, log, continue_, ignoreErrors, false, h.progress,
                                            minProgress, maxProgress);
    } catch (...) {
      Quietly([&] { copy->CheckedCursor().CancelBatchUpdate(); });
      throw;
    }
    copy->CheckedCursor().EndBatchUpdate();
    copy->Close();
  } catch (...) {
    finish();
    throw;
  }
  finish();
  return result;
}

// ----- batch move -------------------------------------------------------------------------------------------

void TNRDTable::BatchMove(TNRDDataSet& source, TNRDBatchMoveType moveType,
                          const std::string& dstTableIndexNameToIdentifyEqualRecords) {
  DisableControls();
  source.DisableControls();
  const std::string oldIndexFieldNames = IndexFieldNames();
  const std::string oldIndexName = IndexName();
  TDataSource* oldMaster = MasterSource();
  SetMasterSource(nullptr);
  if (Active()) SetIndexFieldNames("");
  std::vector<std::string> createdHere;   // index created on this table
  std::string createdOnSource;            // index created on the source table
  auto* sourceTable = dynamic_cast<TNRDTable*>(&source);
  const std::string oldSourceIndexFieldNames = sourceTable != nullptr ? sourceTable->IndexFieldNames() : "";
  const std::string oldSourceIndexName = sourceTable != nullptr ? sourceTable->IndexName() : "";
  TBookmark thisMark, sourceMark;
  const WaitHandlers h = DefaultWait("Batch Moving...", BeforeBatchMove, OnBatchMoveProgress, AfterBatchMove);
  bool beforeCalled = false;
  auto restore = [&] {
    if (beforeCalled && h.after) Quietly([&] { h.after(source); });
    Quietly([&] {
      if (!oldIndexFieldNames.empty()) SetIndexFieldNames(oldIndexFieldNames);
      else SetIndexName(oldIndexName);
    });
    Quietly([&] { SetMasterSource(oldMaster); });
    for (const std::string& name : createdHere) Quietly([&] { DeleteIndex(name); });
    if (sourceTable != nullptr && !createdOnSource.empty()) Quietly([&] { sourceTable->DeleteIndex(createdOnSource); });
    Quietly([&] {
      if (!sourceMark.empty()) source.GotoBookmark(sourceMark);
    });
    Quietly([&] {
      if (!thisMark.empty() && Active() && BookmarkValid(thisMark)) GotoBookmark(thisMark);
    });
    EnableControls();
    source.EnableControls();
  };
  try {
    if (Active()) thisMark = GetBookmark();
    if (!source.Active()) source.Open();
    sourceMark = source.GetBookmark();
    if (!Exists() || moveType == bmtCopy) {
      Close();
      FieldDefs().Assign(source.FieldDefs());
      IndexDefs().Assign(source.IndexDefs());
      FAdvFieldDefs.Clear();
      FAdvIndexDefs.Clear();
      if (auto* t = dynamic_cast<TNRDTable*>(&source)) {
        FAdvFieldDefs.Assign(t->FAdvFieldDefs);
        FAdvIndexDefs.Assign(t->FAdvIndexDefs, true);
      }
      CreateTable();
    }
    Open();
    source.First();
    if (!dstTableIndexNameToIdentifyEqualRecords.empty()) {
      SetIndexName(dstTableIndexNameToIdentifyEqualRecords);
    } else {
      std::string primary;
      for (std::int32_t i = 0; i < IndexDefs().Count() && primary.empty(); ++i)
        if ((IndexDefs()[i].Options & ixPrimary) != 0) primary = IndexDefs()[i].Name;
      if (!primary.empty()) {
        SetIndexName(primary);
      } else {
        std::vector<std::string> names, asc, cs;
        for (std::int32_t i = 0; i < source.FieldCount(); ++i)
          if (FindField(source.Fields(i).FieldName()) != nullptr && !source.Fields(i).IsBlob()) {
            names.push_back(source.Fields(i).FieldName());
            asc.emplace_back("ASC");
            cs.emplace_back("CASE");
          }
        bool created = false;
        const std::string name = FindOrCreateIndex(names, asc, cs, created);
        if (created) createdHere.push_back(name);
        SetIndexName(name);
      }
    }
    std::int64_t total = source.RecordCount();
    if (moveType == bmtSynchronize) total += RecordCount();
    total = std::max<std::int64_t>(total, 1);
    std::int64_t i = 1;
    bool cont = true;
    if (h.before) h.before(source);
    beforeCalled = true;
    for (source.First(); !source.Eof(); source.Next(), ++i) {
      if (h.progress) h.progress(*this, static_cast<std::int32_t>(std::llround(static_cast<double>(i) / total * 100)), cont);
      if (!cont) break;
      bool exists = false;
      if (moveType != bmtCopy) {
        SetKey();
        for (std::int32_t k = 0; k < IndexFieldCount(); ++k) {
          TField& key = GetIndexField(k);
          if (TField* from = source.FindField(key.FieldName())) key.SetAsVariant(from->AsVariant());
        }
        exists = GotoKey();
      }
      auto copyFields = [&] {
        for (std::int32_t k = 0; k < source.FieldCount(); ++k)
          if (TField* to = FindField(source.Fields(k).FieldName())) nrd::CopyFieldValue(source.Fields(k), *to);
      };
      if (exists) {
        if (moveType == bmtAppendUpdate || moveType == bmtUpdate || moveType == bmtSynchronize) {
          Edit();
          copyFields();
          Post();
        } else if (moveType == bmtDelete) {
          Delete();
        }
      } else if (moveType == bmtAppend || moveType == bmtAppendUpdate || moveType == bmtCopy ||
                 moveType == bmtSynchronize) {
        try {
          Append();
          copyFields();
          Post();
        } catch (...) {
          Quietly([&] { Cancel(); });
        }
      }
    }
    if (moveType == bmtSynchronize && cont) {
      total = std::max<std::int64_t>(source.RecordCount() + RecordCount(), 1);
      // The key fields of this table's index, looked up in the source.
      std::vector<std::string> names, asc, cs;
      const TNRDIndexDef* def = CheckedCursor().IndexDefs().GetIndexDefByName(CheckedCursor().IndexName());
      if (def != nullptr)
        for (std::int32_t k = 0; k < def->ColumnCount(); ++k) {
          names.push_back(def->GetIndexColumn(k).FFieldName);
          asc.emplace_back(def->GetIndexColumn(k).FDescending ? "DESC" : "ASC");
          cs.emplace_back(def->GetIndexColumn(k).FCaseInsensitive ? "NO_CASE" : "CASE");
        }
      if (sourceTable != nullptr) {
        bool created = false;
        const std::string name = sourceTable->FindOrCreateIndex(names, asc, cs, created);
        if (created) createdOnSource = name;
        sourceTable->SetIndexName(name);
      }
      First();
      while (!Eof()) {
        if (h.progress) h.progress(*this, static_cast<std::int32_t>(std::llround(static_cast<double>(i) / total * 100)), cont);
        ++i;
        if (!cont) break;
        std::vector<TVariantValue> values;
        for (const std::string& n : names) values.push_back(FieldByName(n).AsVariant());
        bool found;
        if (sourceTable != nullptr) {
          found = sourceTable->FindKey(values);
        } else {
          std::string list;
          for (const std::string& n : names) list += (list.empty() ? "" : ";") + n;
          found = source.Locate(list, values, 0);
        }
        if (!found) Delete();
        else Next();
      }
      if (sourceTable != nullptr) {
        if (!oldSourceIndexFieldNames.empty()) sourceTable->SetIndexFieldNames(oldSourceIndexFieldNames);
        else sourceTable->SetIndexName(oldSourceIndexName);
      }
    }
  } catch (...) {
    restore();
    throw;
  }
  restore();
}

// ----- restructure ------------------------------------------------------------------------------------------

bool TNRDTable::RestructureTable() {
  std::string log;
  return RestructureTable(log);
}

bool TNRDTable::RestructureTable(std::string& log) {
  if (Active()) DatabaseError("Cannot perform this operation on an open dataset", this);
  const std::string former = FTableName;
  const std::string temporaryName = MakeUniqueName("OLD_" + former + "_");
  bool result = true;
  RenameTable(temporaryName);
  std::unique_ptr<TNRDTable> fresh;
  try {
    fresh = std::make_unique<TNRDTable>(nullptr);
    fresh->SetTableName(former);
    fresh->SetSessionName(SessionName());
    fresh->SetDatabaseName(DatabaseName());
    fresh->FTemporary = FTemporary;
    fresh->FAdvFieldDefs.Assign(FRestructureFieldDefs);
    fresh->FAdvIndexDefs.Assign(FRestructureIndexDefs);
    try {
      fresh->CreateTable();
    } catch (const ENRDException& e) {
      log += Format("Error restructuring table. Cannot create table due to error: %s", {std::string(e.what())}) + kCRLF;
      fresh.reset();
      RenameTable(former);
      if (e.NativeError == 20182)
        throw ENRDException(20180, "Cannot perform '%s' operation on a database in transaction",
                            {std::string("RestructureTable")});
      return false;
    } catch (const std::exception& e) {
      log += Format("Error restructuring table. Cannot create table due to error: %s", {std::string(e.what())}) + kCRLF;
      fresh.reset();
      RenameTable(former);
      return false;
    }
    bool copied = false;
    std::string copyLog;
    try {
      fresh->Open();
      TNRDAdvFieldDefs wanted;
      wanted.Assign(FRestructureFieldDefs);
      Open();
      FRestructureFieldDefs.Assign(wanted);
      const WaitHandlers h = DefaultWait("Restructure Table...", BeforeRestructure, OnRestructureProgress, AfterRestructure);
      if (h.before) h.before(*this);
      const bool wasFiltered = Filtered();
      SetFiltered(false);
      bool cont = true;
      try {
        copied = TNRDTableTransfer::CopyDataSetRecords(*this, *this, *fresh, copyLog, cont, false, true, h.progress, 0, 99);
      } catch (...) {
        Quietly([&] { SetFiltered(wasFiltered); });
        if (h.after) Quietly([&] { h.after(*this); });
        throw;
      }
      SetFiltered(wasFiltered);
      if (h.after) h.after(*this);
      Close();
      fresh->Close();
    } catch (...) {
      // Nothing half-done stays: the new table goes and the old one takes its name back.
      Quietly([&] { Close(); });
      Quietly([&] { fresh->Close(); });
      Quietly([&] { fresh->DeleteTable(); });
      fresh.reset();
      RenameTable(former);
      throw;
    }
    log += copyLog;
    if (copied) {
      try {
        DeleteTable();
      } catch (const std::exception& e) {
        log += Format("Error restructuring table. Cannot delete table due to error: %s", {std::string(e.what())}) + kCRLF;
        result = false;
      }
      FTableName = former;
    } else {
      Quietly([&] { fresh->DeleteTable(); });
      fresh.reset();
      RenameTable(former);
      result = false;
    }
  } catch (...) {
    if (!SameText(FTableName, former)) Quietly([&] { RenameTable(former); });
    throw;
  }
  FIndexDefsUpToDate = false;
  return result;
}

}  // namespace nrd
