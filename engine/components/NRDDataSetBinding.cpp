// The engine data set's side of the database component: the database name and session, the
// reasons a data set holds its database (DB flags), the current index's field map and the
// projection with its reopening.
#include <algorithm>

#include "engine/components/NRDDataSet.h"
#include "engine/components/NRDDatabase.h"
#include "engine/components/NRDSession.h"
#include "engine/foundation/NRDExcept.h"

namespace nrd {

void TNRDDataSet::SetDatabaseName(const std::string& value) {
  if (Active() || FDatabase != nullptr) DatabaseError("Cannot perform this operation on an open database", this);
  FDatabaseName = value;
  FInMemory = IsMemoryDatabaseName(value);
}

void TNRDDataSet::SetSessionName(const std::string& value) {
  if (Active() || FDatabase != nullptr) DatabaseError("Cannot perform this operation on an open database", this);
  FSessionName = value;
}

void TNRDDataSet::SetInMemory(bool value) {
  if (value) SetDatabaseName("MEMORY");
  FInMemory = value;
}

TNRDSession& TNRDDataSet::DBSession() const {
  if (FDatabase != nullptr && FDatabase->Session() != nullptr) return *FDatabase->Session();
  if (TNRDSession* s = SessionList().FindSession(FSessionName)) return *s;
  return DefaultSession();
}

TNRDDatabase* TNRDDataSet::OpenDatabase() {
  TNRDSession& session = SessionList().GetSessionByName(FSessionName);
  // A database of that name left in the default session while this data set names another
  // session follows the data set's session.
  if (!session.IsDefault() && session.FindDatabase(FDatabaseName) == nullptr)
    if (TNRDDatabase* stray = DefaultSession().FindDatabase(FDatabaseName);
        stray != nullptr && SameName(stray->SessionName(), session.SessionName()))
      stray->ResolveSession(false);
  TNRDDatabase* db = session.OpenDatabase(FDatabaseName, Owner());
  db->AddDataSet(this);
  return db;
}

void TNRDDataSet::CloseDatabase(TNRDDatabase* database) {
  if (database == nullptr) return;
  TNRDSession* session = database->Session();
  if (session == nullptr) return;
  session->LockSession();
  try {
    database->RemoveDataSet(this);
    session->CloseDatabase(database);
  } catch (...) {
    session->UnlockSession();
    throw;
  }
  session->UnlockSession();
}

void TNRDDataSet::SetDBFlag(int flag, bool value) {
  const auto bit = static_cast<std::uint16_t>(1u << flag);
  if (value) {
    if (FDBFlags == 0) FDatabase = OpenDatabase();
    FDBFlags = static_cast<std::uint16_t>(FDBFlags | bit);
    return;
  }
  if ((FDBFlags & bit) == 0) return;
  FDBFlags = static_cast<std::uint16_t>(FDBFlags & ~bit);
  if (FDBFlags != 0) return;
  TNRDDatabase* db = FDatabase;
  FDatabase = nullptr;
  CloseDatabase(db);
}

void TNRDDataSet::OpenThroughDatabase() {
  if (FDatabaseName.empty()) DatabaseError("DatabaseName property is blank", this);
  SetDBFlag(0, true);
}

void TNRDDataSet::CloseThroughDatabase() { SetDBFlag(0, false); }

void TNRDDataSet::SwitchToIndex(const std::string& indexName) {
  TNRDCursor& c = CheckedCursor();
  c.ResetRange();
  c.SetIndexName(indexName);
  FIndexFieldMap.clear();
  FKeySize = 0;
  if (c.IndexName().empty()) return;
  const TNRDIndexDef* def = c.IndexDefs().GetIndexDefByName(c.IndexName());
  if (def == nullptr) throw ENRDException(10325, "Cannot find index %s", {c.IndexName()});
  for (std::int32_t i = 0; i < def->ColumnCount(); ++i) {
    const std::string& name = def->GetIndexColumn(i).FFieldName;
    std::int32_t no = -1;
    for (std::int32_t k = 0; k < c.VisibleFieldDefs().GetCount(); ++k) {
      const TNRDFieldDef* v = c.VisibleFieldDefs().GetFieldDef(k);
      const TNRDFieldDef* t = c.FieldDefs().GetFieldDef(v->FFieldNoReference);
      if (t != nullptr && SameName(t->FName, name)) {
        no = k;
        break;
      }
    }
    FIndexFieldMap.push_back(static_cast<std::int16_t>(no + 1));
    const std::int32_t tableNo = c.FieldDefs().GetDefNumberByName(name);
    if (tableNo >= 0) FKeySize += c.FieldDefs().GetFieldDef(tableNo)->FMemoryDataSize;
  }
}

void TNRDDataSet::ApplyProjection(const std::vector<std::string>& fieldNamesList,
                                  const std::vector<std::string>& aliasList) {
  TNRDCursor& c = CheckedCursor();
  c.ApplyProjection(fieldNamesList, aliasList);
  c.SetSettingProjection(true);
  try {
    Close();
    Open();
  } catch (...) {
    if (FKeptCursor != nullptr) FKeptCursor->SetSettingProjection(false);
    if (FCursor != nullptr) FCursor->SetSettingProjection(false);
    FKeptCursor.reset();
    try {
      Close();
      Open();
    } catch (...) {
    }
    throw;
  }
  if (FCursor != nullptr) FCursor->SetSettingProjection(false);
}

}  // namespace nrd
