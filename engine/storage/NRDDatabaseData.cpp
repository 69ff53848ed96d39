// Database data base and engine-side sessions.
#include "engine/storage/NRDDatabaseData.h"

#include <algorithm>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDText.h"
#include "engine/storage/NRDCursor.h"
#include "engine/storage/NRDMetadata.h"
#include "engine/storage/NRDPageManager.h"
#include "engine/storage/NRDTableData.h"

namespace nrd {

namespace {
[[noreturn]] void RaiseNotOverridden(const char* method, const char* className) {
  throw ENRDException(30339, "The method '%s' not overrided in class '%s'",
                      {std::string(method), std::string(className)});
}
}  // namespace

// ----- named objects and sessions ----------------------------------------------------------------
TNRDSessionNamedObject::TNRDSessionNamedObject(std::string_view name) : FName(CutShortName(name)) {}

void TNRDBaseSession::NotOverridden(const char* method) const { RaiseNotOverridden(method, ClassName()); }

bool TNRDBaseSession::GetConnected() { NotOverridden("GetConnected"); }
void TNRDBaseSession::SetConnected(bool) { NotOverridden("SetConnected"); }
bool TNRDBaseSession::GetSuppressDBHeaderErrors() { NotOverridden("GetSuppressDBHeaderErrors"); }
void TNRDBaseSession::SetSuppressDBHeaderErrors(bool) { NotOverridden("SetSuppressDBHeaderErrors"); }
void TNRDBaseSession::CreateDatabase() { NotOverridden("CreateDatabase"); }
void TNRDBaseSession::DeleteDatabase() { NotOverridden("DeleteDatabase"); }
void TNRDBaseSession::RenameDatabase(const std::string&) { NotOverridden("RenameDatabase"); }
void TNRDBaseSession::GetTablesList(std::vector<std::string>&) { NotOverridden("GetTablesList"); }
bool TNRDBaseSession::TableExists(const std::string&) { NotOverridden("TableExists"); }
void TNRDBaseSession::StartTransaction() { NotOverridden("StartTransaction"); }
void TNRDBaseSession::Commit(bool) { NotOverridden("Commit"); }
void TNRDBaseSession::Rollback() { NotOverridden("Rollback"); }
void TNRDBaseSession::FlushBuffers() { NotOverridden("FlushBuffers"); }

void TNRDBaseSession::SetObject(std::unique_ptr<TNRDSessionNamedObject> value) {
  if (!value) return;
  TNRDSessionNamedObject* old =
      value->FObjectID != -1 ? GetObjectByID(value->FObjectID) : GetObjectByName(value->FName);
  if (old != nullptr) {
    auto it = std::find_if(FSessionNamedObjectList.begin(), FSessionNamedObjectList.end(),
                           [old](const auto& p) { return p.get() == old; });
    FSessionNamedObjectList.erase(it);
  }
  FSessionNamedObjectList.push_back(std::move(value));
}

TNRDSessionNamedObject* TNRDBaseSession::GetObjectByName(std::string_view objectName) const {
  const std::string upper = AnsiUpperCase(objectName);
  for (const auto& o : FSessionNamedObjectList)
    if (AnsiUpperCase(o->FName) == upper) return o.get();
  return nullptr;
}

TNRDSessionNamedObject* TNRDBaseSession::GetObjectByID(std::int32_t id) const {
  for (const auto& o : FSessionNamedObjectList)
    if (o->FObjectID == id) return o.get();
  return nullptr;
}

void TNRDBaseSession::DeleteObject(std::int32_t id) {
  auto it = std::find_if(FSessionNamedObjectList.begin(), FSessionNamedObjectList.end(),
                         [id](const auto& p) { return p->FObjectID == id; });
  if (it != FSessionNamedObjectList.end()) FSessionNamedObjectList.erase(it);
}

// ----- database data ---------------------------------------------------------------------------------
TNRDDatabaseData::TNRDDatabaseData() = default;

TNRDDatabaseData::~TNRDDatabaseData() {
  FDestroying = true;
  // Each table data object leaves the list as it is freed.
  while (!FTableDataList.empty()) delete FTableDataList.back();
}

void TNRDDatabaseData::NotOverridden(const char* method) const { RaiseNotOverridden(method, ClassName()); }

void TNRDDatabaseData::ConnectSession(TNRDBaseSession* session) {
  TNRDDatabaseLock lock(*this);
  FSessionList.push_back(session);
  session->FSessionID = 0;
}

void TNRDDatabaseData::DisconnectSession(TNRDBaseSession* session) {
  TNRDDatabaseLock lock(*this);
  FSessionList.erase(std::remove(FSessionList.begin(), FSessionList.end(), session), FSessionList.end());
}

bool TNRDDatabaseData::FreeIfNoSessionsConnected() {
  {
    TNRDDatabaseLock lock(*this);
    if (!FSessionList.empty()) return false;
  }
  delete this;
  return true;
}

void TNRDDatabaseData::GetTablesList(std::vector<std::string>& list) {
  TNRDDatabaseLock lock(*this);
  for (TNRDTableData* t : FTableDataList) list.push_back(t->FTableName);
}

bool TNRDDatabaseData::TableExists(std::string_view tableName) {
  TNRDDatabaseLock lock(*this);
  std::vector<std::string> list;
  GetTablesList(list);
  return std::any_of(list.begin(), list.end(), [&](const std::string& n) { return SameName(n, tableName); });
}

TNRDTableData* TNRDDatabaseData::CreateTableData(TNRDCursor*) { NotOverridden("CreateTableData"); }
std::int32_t TNRDDatabaseData::GetNewObjectId() { NotOverridden("GetNewObjectId"); }

TNRDTableData* TNRDDatabaseData::FindTableDataByName(std::string_view tableName) {
  TNRDDatabaseLock lock(*this);
  const std::string upper = AnsiUpperCase(tableName);
  for (TNRDTableData* t : FTableDataList)
    if (AnsiUpperCase(t->FTableName) == upper) return t;
  return nullptr;
}

TNRDTableData* TNRDDatabaseData::FindTableData(TNRDCursor* cursor) { return FindTableDataByName(cursor->TableName()); }

TNRDTableData* TNRDDatabaseData::FindOrCreateTableData(TNRDCursor* cursor) {
  TNRDDatabaseLock lock(*this);
  TNRDTableData* t = FindTableData(cursor);
  return t != nullptr ? t : CreateTableData(cursor);
}

void TNRDDatabaseData::Commit(std::int32_t sessionID, bool doFlushBuffers) {
  (void)doFlushBuffers;
  TNRDDatabaseLock lock(*this);
  if (FPageManager != nullptr) FPageManager->ApplyChanges(sessionID);
}

void TNRDDatabaseData::Rollback(std::int32_t sessionID) {
  TNRDDatabaseLock lock(*this);
  if (FPageManager != nullptr) FPageManager->CancelChanges(sessionID);
  // A table's rollback may not add or remove tables; walk a copy all the same.
  const std::vector<TNRDTableData*> tables = FTableDataList;
  for (TNRDTableData* t : tables) t->Rollback(sessionID);
}

void TNRDDatabaseData::AddTableData(TNRDTableData* tableData) {
  TNRDDatabaseLock lock(*this);
  FTableDataList.push_back(tableData);
}

void TNRDDatabaseData::RemoveTableData(TNRDTableData* tableData) {
  TNRDDatabaseLock lock(*this);
  FTableDataList.erase(std::remove(FTableDataList.begin(), FTableDataList.end(), tableData), FTableDataList.end());
}

}  // namespace nrd
