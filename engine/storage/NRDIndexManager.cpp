// Index interface base and index manager.
#include "engine/storage/NRDIndexManager.h"

#include <algorithm>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDText.h"
#include "engine/storage/NRDCursor.h"
#include "engine/storage/NRDDatabaseData.h"
#include "engine/storage/NRDTableData.h"

namespace nrd {

namespace {
TNRDRecordIndexCreator& DefaultCreator() {
  static TNRDRecordIndexCreator creator;
  return creator;
}
}  // namespace

void SetDefaultRecordIndexCreator(TNRDRecordIndexCreator creator) { DefaultCreator() = std::move(creator); }
const TNRDRecordIndexCreator& DefaultRecordIndexCreator() { return DefaultCreator(); }

// ----- TNRDIndex ---------------------------------------------------------------------------------------
void TNRDIndex::NotOverridden(const char* method) const {
  throw ENRDException(30339, "The method '%s' not overrided in class '%s'", {std::string(method), std::string(ClassName())});
}

void TNRDIndex::CreateIndex(TNRDCursor*, const TNRDIndexDef& indexDef) {
  if (&indexDef != &FIndexDef) FIndexDef.Assign(indexDef);
}
void TNRDIndex::OpenIndex(const TNRDIndexDef& indexDef) {
  if (&indexDef != &FIndexDef) FIndexDef.Assign(indexDef);
}
void TNRDIndex::DropIndex(std::int32_t) { NotOverridden("DropIndex"); }
void TNRDIndex::EmptyIndex(std::int32_t) { NotOverridden("EmptyIndex"); }
void TNRDIndex::RebuildTemporaryIndex(TNRDCursor*) { NotOverridden("RebuildTemporaryIndex"); }
void TNRDIndex::GetRecordBuffer(std::int32_t, TNRDNavigationInfo&, TNRDIndexPositionCache*, std::int32_t) {
  NotOverridden("GetRecordBuffer");
}
void TNRDIndex::GetClosestRecordBuffer(std::int32_t, TNRDNavigationInfo&, TNRDIndexPositionCache*, std::int32_t) {
  NotOverridden("GetClosestRecordBuffer");
}
TNRDIndexPosition* TNRDIndex::CreateIndexPosition() { NotOverridden("CreateIndexPosition"); }
void TNRDIndex::FreeIndexPosition(TNRDIndexPosition*&) { NotOverridden("FreeIndexPosition"); }
bool TNRDIndex::GetIndexPosition(std::int32_t, const TNRDPageItemID&, const void*, TNRDIndexPosition*) {
  NotOverridden("GetIndexPosition");
}
std::int32_t TNRDIndex::CompareRecordPositionsInIndex(const TNRDIndexPosition*, const TNRDIndexPosition*) {
  NotOverridden("CompareRecordPositionsInIndex");
}
std::int64_t TNRDIndex::GetRecNoByRecordID(std::int32_t, const TNRDPageItemID&, const void*) {
  NotOverridden("GetRecNoByRecordID");
}
TNRDPageItemID TNRDIndex::GetRecordIDByRecNo(std::int32_t, std::int64_t) { NotOverridden("GetRecordIDByRecNo"); }
void TNRDIndex::ApplyDistinctToRecordBitmap(std::int32_t, TNRDRecordBitmap*, std::int32_t) {
  NotOverridden("ApplyDistinctToRecordBitmap");
}
void* TNRDIndex::CreateSearchInfo() { NotOverridden("CreateSearchInfo"); }
void TNRDIndex::FreeSearchInfo(void*) { NotOverridden("FreeSearchInfo"); }
bool TNRDIndex::FindRecord(std::int32_t, bool, bool, const TNRDScanSearchCondition*, const TNRDScanSearchCondition*,
                           void*, TNRDPageItemID&, void*) {
  NotOverridden("FindRecord");
}
std::int32_t TNRDIndex::CompareRecordBuffersByIndex(const void*, const void*, std::int32_t) {
  NotOverridden("CompareRecordBuffersByIndex");
}
std::int32_t TNRDIndex::CompareConditions(const TNRDScanSearchCondition*, const TNRDScanSearchCondition*) {
  NotOverridden("CompareConditions");
}
std::int64_t TNRDIndex::GetApproxRangeRecordCount(std::int32_t, std::int64_t, const TNRDScanSearchCondition*,
                                                  const TNRDScanSearchCondition*) {
  NotOverridden("GetApproxRangeRecordCount");
}
bool TNRDIndex::CanInsertRecord(std::int32_t, const void*) { NotOverridden("CanInsertRecord"); }
bool TNRDIndex::CanUpdateRecord(std::int32_t, const void*, const void*) { NotOverridden("CanUpdateRecord"); }
void TNRDIndex::InsertRecord(TNRDCursor*) { NotOverridden("InsertRecord"); }
void TNRDIndex::DeleteRecord(TNRDCursor*) { NotOverridden("DeleteRecord"); }
void TNRDIndex::UpdateRecord(TNRDCursor*, bool) { NotOverridden("UpdateRecord"); }
std::int32_t TNRDIndex::GetMaxEntriesPerPage() { NotOverridden("GetMaxEntriesPerPage"); }
void TNRDIndex::GetRecordIDByIndexPosition(std::int32_t, const TNRDIndexPosition*, TNRDPageItemID&) {
  NotOverridden("GetRecordIDByIndexPosition");
}

// ----- TNRDBaseIndexManager ----------------------------------------------------------------------------
TNRDBaseIndexManager::TNRDBaseIndexManager(TNRDTableData* tableData, TNRDPageManager* tempPageManager)
    : FTableData(tableData),
      FPageManager(tableData != nullptr ? tableData->FPageManager : nullptr),
      FTemporaryPageManager(tempPageManager),
      FIndexCreator(DefaultRecordIndexCreator()) {}

TNRDBaseIndexManager::~TNRDBaseIndexManager() = default;

std::unique_ptr<TNRDIndex> TNRDBaseIndexManager::NewIndexObject() {
  if (!FIndexCreator) throw ENRDException(30339, "The method '%s' not overrided in class '%s'",
                                          {std::string("CreateRecordIndex"), std::string("TNRDBaseIndexManager")});
  std::unique_ptr<TNRDIndex> index = FIndexCreator(*this);
  if (!index) throw ENRDException(20018, "Index not found");
  return index;
}

TNRDPageManager* TNRDBaseIndexManager::GetPageManager(const TNRDIndex& index) const {
  return index.FIndexDef.FTemporary ? FTemporaryPageManager : FPageManager;
}

std::int32_t TNRDBaseIndexManager::FindIndex(const std::vector<std::string>& fieldNames,
                                             const std::vector<std::string>& ascDescList,
                                             const std::vector<std::string>& caseSensitivityList,
                                             std::int32_t sessionID, const TNRDFieldDefs& fieldDefs) const {
  return FIndexDefs.FindIndex(&fieldNames, &ascDescList, &caseSensitivityList, sessionID, fieldDefs);
}

std::int32_t TNRDBaseIndexManager::FindOrCreateIndex(TNRDCursor* cursor, const std::vector<std::string>& fieldNamesList,
                                                     const std::vector<std::string>& ascDescList,
                                                     const std::vector<std::string>& caseSensitivityList,
                                                     bool& isCreated) {
  const std::int32_t id = FindIndex(fieldNamesList, ascDescList, caseSensitivityList, cursor->SessionID(), cursor->FieldDefs());
  if (id != -1) {
    isCreated = false;
    return id;
  }
  isCreated = true;
  return CreateTemporaryIndex(cursor, fieldNamesList, ascDescList, caseSensitivityList);
}

std::int32_t TNRDBaseIndexManager::CreateTemporaryIndex(TNRDCursor* cursor, const std::vector<std::string>& fieldNamesList,
                                                        const std::vector<std::string>& ascDescList,
                                                        const std::vector<std::string>& caseSensitivityList) {
  TNRDIndexDef def;
  do {
    def.FName = MakeUniqueName("TEMPORARY_INDEX_");
  } while (FIndexDefs.GetDefNumberByName(def.FName) >= 0);
  def.FTemporary = true;
  def.FIndexType = itBTree;
  def.FUnique = false;
  def.FPrimary = false;
  def.AssignByNames(fieldNamesList, ascDescList, caseSensitivityList);
  def.FSessionID = cursor->SessionID();
  def.FTableState = FTableData->RecordManager().FTableState;
  return CreateIndex(cursor, def);
}

std::int32_t TNRDBaseIndexManager::CreateIndex(TNRDCursor* cursor, TNRDIndexDef& indexDef) {
  indexDef.FObjectID = FTableData->FDatabaseData->GetNewObjectId();
  FIndexDefs.AddCreated()->Assign(indexDef);
  return BuildIndex(cursor, indexDef.FObjectID);
}

std::int32_t TNRDBaseIndexManager::BuildIndex(TNRDCursor* cursor, std::int32_t indexID) {
  std::unique_ptr<TNRDIndex> index;
  try {
    index = NewIndexObject();
    index->CreateIndex(cursor, *FIndexDefs.GetIndexDefByObjectId(indexID));
    TNRDIndexDef* entry = FIndexDefs.GetIndexDefByObjectId(indexID);
    if (entry == nullptr) throw ENRDException(20018, "Index not found");
    entry->Assign(index->FIndexDef);
  } catch (...) {
    const std::int32_t no = FIndexDefs.GetDefNumberByObjectId(indexID);
    if (no >= 0) FIndexDefs.Delete(no);
    throw;
  }
  return indexID;
}

void TNRDBaseIndexManager::CreateIndexesByIndexDefs(TNRDCursor* cursor) {
  std::vector<std::int32_t> ids;
  for (std::int32_t i = 0; i < FIndexDefs.GetCount(); ++i) ids.push_back(FIndexDefs.GetIndexDef(i)->FObjectID);
  for (std::int32_t id : ids) BuildIndex(cursor, id);
}

TNRDIndex* TNRDBaseIndexManager::FindOpenIndex(std::int32_t indexID) const {
  for (const auto& index : FOpenIndexList)
    if (index->FIndexDef.FObjectID == indexID) return index.get();
  return nullptr;
}

TNRDIndex* TNRDBaseIndexManager::OpenIndex(std::int32_t indexID) {
  if (TNRDIndex* open = FindOpenIndex(indexID)) return open;
  const TNRDIndexDef* def = FIndexDefs.GetIndexDefByObjectId(indexID);
  if (def == nullptr) throw ENRDException(20018, "Index not found");
  std::unique_ptr<TNRDIndex> index = NewIndexObject();
  index->OpenIndex(*def);
  FOpenIndexList.push_back(std::move(index));
  return FOpenIndexList.back().get();
}

void TNRDBaseIndexManager::CloseIndex(std::int32_t indexID) {
  auto it = std::find_if(FOpenIndexList.begin(), FOpenIndexList.end(),
                         [indexID](const auto& p) { return p->FIndexDef.FObjectID == indexID; });
  if (it != FOpenIndexList.end()) FOpenIndexList.erase(it);
}

void TNRDBaseIndexManager::DropIndex(std::int32_t sessionID, std::int32_t indexID) {
  OpenIndex(indexID)->DropIndex(sessionID);
  CloseIndex(indexID);
  const std::int32_t no = FIndexDefs.GetDefNumberByObjectId(indexID);
  if (no >= 0) FIndexDefs.Delete(no);
}

void TNRDBaseIndexManager::DropAllIndexes(std::int32_t sessionID) {
  while (FIndexDefs.GetCount() > 0) DropIndex(sessionID, FIndexDefs.GetIndexDef(0)->FObjectID);
}

void TNRDBaseIndexManager::DropTemporaryIndexes(std::int32_t sessionID) {
  std::vector<std::int32_t> ids;
  for (std::int32_t i = 0; i < FIndexDefs.GetCount(); ++i)
    if (FIndexDefs.GetIndexDef(i)->FTemporary) ids.push_back(FIndexDefs.GetIndexDef(i)->FObjectID);
  for (std::int32_t id : ids) DropIndex(sessionID, id);
}

void TNRDBaseIndexManager::EmptyIndex(std::int32_t sessionID, std::int32_t indexID) {
  OpenIndex(indexID)->EmptyIndex(sessionID);
  CloseIndex(indexID);
}

void TNRDBaseIndexManager::EmptyAllIndexes(std::int32_t sessionID) {
  std::vector<std::int32_t> ids;
  for (std::int32_t i = 0; i < FIndexDefs.GetCount(); ++i) ids.push_back(FIndexDefs.GetIndexDef(i)->FObjectID);
  for (std::int32_t id : ids) EmptyIndex(sessionID, id);
}

void TNRDBaseIndexManager::GetRecordBuffer(std::int32_t sessionID, TNRDNavigationInfo& navigationInfo,
                                           TNRDIndexPositionCache* indexPositionCache, std::int32_t tableState) {
  TNRDIndex* index = OpenIndex(navigationInfo.IndexID);
  bool gone = false;
  if (!navigationInfo.FirstPosition && !navigationInfo.LastPosition) {
    TNRDNavigationInfo probe = navigationInfo;
    probe.GetRecordMode = grmCurrent;
    FTableData->RecordManager().GetRecordBuffer(sessionID, probe);
    gone = probe.GetRecordResult == grrError;
  }
  if (gone)
    index->GetClosestRecordBuffer(sessionID, navigationInfo, indexPositionCache, tableState);
  else
    index->GetRecordBuffer(sessionID, navigationInfo, indexPositionCache, tableState);
}

namespace {
// Lists the IDs first: an index operation may not add or remove definitions, but the list is
// walked by ID all the same so that the loop never holds a pointer into a changing list.
std::vector<std::int32_t> IndexIds(const TNRDIndexDefs& defs) {
  std::vector<std::int32_t> ids;
  for (std::int32_t i = 0; i < defs.GetCount(); ++i) ids.push_back(defs.GetIndexDef(i)->FObjectID);
  return ids;
}
}  // namespace

void TNRDBaseIndexManager::InsertRecord(TNRDCursor* cursor) {
  for (std::int32_t id : IndexIds(FIndexDefs)) {
    TNRDIndex* index = OpenIndex(id);
    index->InsertRecord(cursor);
    TNRDIndexDef* def = FIndexDefs.GetIndexDefByObjectId(id);
    ++def->FTableState;
    if (index->FIndexDef.FRootPageNo != def->FRootPageNo) def->FRootPageNo = index->FIndexDef.FRootPageNo;
  }
}

void TNRDBaseIndexManager::UpdateRecord(TNRDCursor* cursor, bool beforeNewRecordIsStored) {
  for (std::int32_t id : IndexIds(FIndexDefs)) {
    TNRDIndex* index = OpenIndex(id);
    index->UpdateRecord(cursor, beforeNewRecordIsStored);
    TNRDIndexDef* def = FIndexDefs.GetIndexDefByObjectId(id);
    if (!beforeNewRecordIsStored) ++def->FTableState;
    // A change that moved the root must reach the definition the metadata is saved from.
    if (index->FIndexDef.FRootPageNo != def->FRootPageNo) def->FRootPageNo = index->FIndexDef.FRootPageNo;
  }
}

void TNRDBaseIndexManager::DeleteRecord(TNRDCursor* cursor) {
  TNRDNavigationInfo nav;
  nav.GetRecordMode = grmCurrent;
  nav.RecordID = cursor->CurrentRecord();
  nav.RecordBuffer = cursor->CurrentRecordBuffer();
  nav.IndexID = -1;
  FTableData->RecordManager().GetRecordBuffer(cursor->SessionID(), nav);
  if (nav.GetRecordResult == grrError) return;
  for (std::int32_t id : IndexIds(FIndexDefs)) {
    TNRDIndex* index = OpenIndex(id);
    index->DeleteRecord(cursor);
    TNRDIndexDef* def = FIndexDefs.GetIndexDefByObjectId(id);
    ++def->FTableState;
    if (index->FIndexDef.FRootPageNo != def->FRootPageNo) def->FRootPageNo = index->FIndexDef.FRootPageNo;
  }
}

void TNRDBaseIndexManager::SynchronizeTemporaryIndexes(TNRDCursor* cursor, bool& isChanged) {
  isChanged = false;
  if (FSynchronizingTemporaryIndexes) return;
  const std::int32_t tableState = FTableData->RecordManager().FTableState;
  FSynchronizingTemporaryIndexes = true;
  try {
    for (std::int32_t id : IndexIds(FIndexDefs)) {
      TNRDIndexDef* def = FIndexDefs.GetIndexDefByObjectId(id);
      // A temporary index is private to its session: it is rebuilt from that session's cursor only,
      // never filled from another session's view of the table.
      if (!def->FTemporary || def->FTableState == tableState || def->FSessionID != cursor->SessionID()) continue;
      OpenIndex(id)->RebuildTemporaryIndex(cursor);
      def->FTableState = tableState;
      isChanged = true;
    }
  } catch (...) {
    FSynchronizingTemporaryIndexes = false;
    throw;
  }
  FSynchronizingTemporaryIndexes = false;
}

void TNRDBaseIndexManager::RenameField(const std::string& fieldName, const std::string& newFieldName) {
  const std::string lower = AnsiLowerCase(fieldName);
  auto renameIn = [&](TNRDIndexDef& def) {
    for (std::int32_t c = 0; c < def.ColumnCount(); ++c)
      if (AnsiLowerCase(def.GetIndexColumn(c).FFieldName) == lower) def.GetIndexColumn(c).FFieldName = newFieldName;
  };
  for (std::int32_t i = 0; i < FIndexDefs.GetCount(); ++i) renameIn(*FIndexDefs.GetIndexDef(i));
  // Open index objects keep their own copies; they name the same columns.
  for (const auto& index : FOpenIndexList) renameIn(index->FIndexDef);
}

}  // namespace nrd
