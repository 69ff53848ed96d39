// Database and table objects: the re-entrant lock, commit and rollback dispatch per session,
// session-named objects, shared table objects, table and index operations with stub indexes.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine/foundation/NRDExcept.h"
#include "tests/engine-foundation/EngineTestUtil.h"
#include "tests/engine-storage/StorageFakes.h"
#include "tests/engine-storage/TestCursor.h"
#include "tests/engine-storage/StorageTestUtil.h"

using namespace nrd;
using enginetest::CodeOf;
using enginetest::ExpectNRD;
using namespace storagetest;

namespace {

bool LockedElsewhere(TNRDDatabaseData& db) {
  std::atomic<bool> got{false};
  std::thread t([&] {
    if (db.CriticalSection().try_lock()) {
      got = true;
      db.CriticalSection().unlock();
    }
  });
  t.join();
  return !got;
}

TEST(NRDDatabaseData, LockIsReentrantAndHeldUntilEveryLevelIsLeft) {
  FakeDatabase db;
  FakeTable* table = new FakeTable(&db);
  EXPECT_FALSE(LockedElsewhere(db));
  db.Lock();
  table->Lock();  // the table's lock is the database's, taken again by the same thread
  EXPECT_TRUE(LockedElsewhere(db));
  table->Unlock();
  EXPECT_TRUE(LockedElsewhere(db));
  db.Unlock();
  EXPECT_FALSE(LockedElsewhere(db));
  {
    TNRDTableDataLock outer(*table);
    TNRDDatabaseLock inner(db);
    EXPECT_TRUE(LockedElsewhere(db));
  }
  EXPECT_FALSE(LockedElsewhere(db));
}

TEST(NRDDatabaseData, CommitAndRollbackReachOnlyTheirSession) {
  FakeDatabase db;
  MapPageManager pages;
  db.FPageManager = &pages;
  for (std::int32_t session : {3, 4}) pages.PutPage(pages.AddPage(session, 1));
  ASSERT_TRUE(pages.HasChanges(3));
  ASSERT_TRUE(pages.HasChanges(4));
  db.Rollback(3);
  EXPECT_FALSE(pages.HasChanges(3));
  EXPECT_TRUE(pages.HasChanges(4));
  EXPECT_TRUE(pages.Written.empty());
  db.Commit(4, false);
  EXPECT_FALSE(pages.HasChanges(4));
  EXPECT_EQ(pages.Written.size(), 1u);

  // Rollback rebuilds the temporary indexes of that session's cursors, not of others.
  IndexJournal journal;
  FakeTable* table = new FakeTable(&db);
  TNRDFieldDefs fields;
  DefineFields(fields, {{"A", aftInteger, 0}});
  table->InitFieldManager(fields);
  table->IndexManager().FIndexCreator = StubCreator(journal);
  TNRDBaseSession s3, s5;
  s3.FSessionID = 3;
  s5.FSessionID = 5;
  TTestCursor c3, c5;
  c3.FSession = &s3;
  c5.FSession = &s5;
  c3.FFieldDefs.Assign(table->FieldManager().FFieldDefs);
  table->OpenTable(&c3);
  table->OpenTable(&c5);
  bool created = false;
  table->FindOrCreateIndex(&c3, {"A"}, {""}, {""}, created);
  ASSERT_TRUE(created);
  table->Records().Add(1, std::vector<std::uint8_t>(5));  // the table changed
  journal.calls.clear();
  db.Rollback(5);
  EXPECT_TRUE(journal.calls.empty());
  db.Rollback(3);
  ASSERT_FALSE(journal.calls.empty());
  EXPECT_EQ(journal.calls.back().substr(0, 24), "rebuild:TEMPORARY_INDEX_");
  table->CloseTable(&c3);
  table->CloseTable(&c5);
}

TEST(NRDDatabaseData, SessionNamedObjects) {
  TNRDBaseSession s;
  s.SetObject(std::make_unique<TNRDSessionNamedObjectSequenceValue>(7, 10));
  s.SetObject(std::make_unique<TNRDSessionNamedObjectSequenceValue>(7, 11));
  EXPECT_EQ(s.ObjectCount(), 1);
  EXPECT_EQ(static_cast<TNRDSessionNamedObjectSequenceValue*>(s.GetObjectByID(7))->FValue, 11);
  s.SetObject(std::make_unique<TNRDSessionNamedObject>("Last_Value"));
  s.SetObject(std::make_unique<TNRDSessionNamedObject>("LAST_VALUE"));
  EXPECT_EQ(s.ObjectCount(), 2);
  EXPECT_NE(s.GetObjectByName("last_value"), nullptr);
  EXPECT_EQ(s.GetObjectByName("last"), nullptr);
  EXPECT_EQ(TNRDSessionNamedObject(std::string(300, 'n')).FName.size(), 255u);
  s.DeleteObject(7);
  s.DeleteObject(7);
  EXPECT_EQ(s.ObjectCount(), 1);
  EXPECT_EQ(s.GetObjectByID(7), nullptr);
  EXPECT_EQ(CodeOf([&] { s.StartTransaction(); }), 30339);
}

TEST(NRDDatabaseData, TablesAreSharedByNameAndFreedWithTheDatabase) {
  auto* db = new FakeDatabase;
  TNRDBaseSession session;
  db->ConnectSession(&session);
  EXPECT_EQ(session.FSessionID, 0);
  TTestCursor a, b;
  a.FTableName = "Persons";
  b.FTableName = "PERSONS";
  TNRDTableData* t1 = db->FindOrCreateTableData(&a);
  TNRDTableData* t2 = db->FindOrCreateTableData(&b);
  EXPECT_EQ(t1, t2);
  EXPECT_EQ(db->Tables().size(), 1u);
  EXPECT_TRUE(db->TableExists("persons"));
  EXPECT_FALSE(db->TableExists("person"));
  std::vector<std::string> names;
  db->GetTablesList(names);
  EXPECT_EQ(names, std::vector<std::string>{"Persons"});
  EXPECT_FALSE(db->FreeIfNoSessionsConnected());
  db->DisconnectSession(&session);
  EXPECT_TRUE(db->FreeIfNoSessionsConnected());  // frees the table too (the leak check would see it)
  TNRDDatabaseData base;
  EXPECT_EQ(CodeOf([&] { base.GetNewObjectId(); }), 30339);
  EXPECT_EQ(CodeOf([&] { base.FindOrCreateTableData(&a); }), 30339);
}

// A table with fields ID (autoinc), NAME Varchar(10), PIC Blob and stub indexes.
struct TableFixture {
  TableFixture() : table(new FakeTable(&db)) {
    TNRDFieldDefs fields;
    DefineFields(fields, {{"ID", aftAutoInc, 0}, {"NAME", aftString, 10}, {"PIC", aftBlob, 0}});
    fields.GetFieldDef(0)->FAutoincInitialValue = 100;
    table->InitFieldManager(fields);
    table->IndexManager().FIndexCreator = StubCreator(journal);
    session.FSessionID = 1;
    cursor.FSession = &session;
    cursor.FFieldDefs.Assign(table->FieldManager().FFieldDefs);
    table->OpenTable(&cursor);
  }
  ~TableFixture() { table->CloseTable(&cursor); }
  std::int32_t AddIndex(const char* name, std::vector<std::string> columns) {
    TNRDIndexDef def;
    def.FName = name;
    def.AssignByNames(columns, std::vector<std::string>(columns.size()), std::vector<std::string>(columns.size()));
    return table->AddIndex(def, &cursor);
  }
  FakeDatabase db;
  IndexJournal journal;
  FakeTable* table;
  TNRDBaseSession session;
  TTestCursor cursor;
};

TEST(NRDTableData, RenamesAndDeletesNeedTheTableToThemselves) {
  TableFixture f;
  TTestCursor second;
  f.table->OpenTable(&second);
  ExpectNRD([&] { f.table->RenameTable("U", &f.cursor); }, 10150, "Cannot rename table 'T'");
  ExpectNRD([&] { f.table->DeleteTable(&f.cursor, false); }, 20017, "Cannot delete table 'T'");
  f.table->DeleteTable(&f.cursor, true);  // design mode does not ask
  f.table->CloseTable(&second);
  f.table->RenameTable("U", &f.cursor);
  EXPECT_EQ(f.table->FTableName, "U");
  f.table->DeleteTable(&f.cursor, false);

  f.AddIndex("BY_NAME", {"NAME", "ID"});
  ExpectNRD([&] { f.table->RenameField("name", "Id"); }, 30344, "Field 'Id' already exists");
  ExpectNRD([&] { f.table->RenameField("nope", "x"); }, 30343);
  // Its own name in other letters is taken too: names compare without regard to case.
  ExpectNRD([&] { f.table->RenameField("NAME", "name"); }, 30344);
  f.table->RenameField("name", "Title");
  EXPECT_EQ(f.table->FieldManager().FFieldDefs.GetFieldDef(1)->FName, "Title");
  EXPECT_EQ(f.table->IndexManager().FIndexDefs.GetIndexDef(0)->GetIndexColumn(0).FFieldName, "Title");
  EXPECT_EQ(f.table->IndexManager().FIndexDefs.GetIndexDef(0)->GetIndexColumn(1).FFieldName, "ID");
}

TEST(NRDTableData, RecordSizesAndBlobFields) {
  TableFixture f;
  EXPECT_EQ(f.table->GetRecordBufferSize(), 1 + 4 + 11 + 10);
  f.table->InitCursorRecordSize(f.cursor);
  EXPECT_EQ(f.cursor.FFieldValuesOffset, 1);
  EXPECT_EQ(f.cursor.FRecordSize, 26);
  f.table->ClearBLOBFieldsInRecordBuffer(nullptr);
  EXPECT_EQ(f.table->ClearedBlobFields, std::vector<std::int32_t>{2});
  FakeDatabase db;
  FakeTable* empty = new FakeTable(&db);
  TNRDFieldDefs none;
  empty->InitFieldManager(none);
  ExpectNRD([&] { empty->GetRecordBufferSize(); }, 10131);
  EXPECT_EQ(f.table->LastAutoincValue(0, &f.session), 0);
  EXPECT_EQ(CodeOf([&] { f.table->CreateRecordManager(); }), 30339);
}

TEST(NRDTableData, IndexesFollowRecordChanges) {
  TableFixture f;
  const std::int32_t a = f.AddIndex("A", {"ID"});
  const std::int32_t b = f.AddIndex("B", {"NAME"});
  TNRDBaseIndexManager& im = f.table->IndexManager();
  EXPECT_EQ(im.FIndexDefs.GetIndexDefByObjectId(a)->FRootPageNo, 500 + a);  // copied back after the build
  EXPECT_EQ(im.OpenIndexCount(), 0);  // the building object is not kept
  bool created = false;
  EXPECT_EQ(f.table->FindOrCreateIndex(&f.cursor, {"name"}, {""}, {""}, created), "B");
  EXPECT_FALSE(created);
  const std::string temp = f.table->FindOrCreateIndex(&f.cursor, {"NAME", "ID"}, {"", "DESC"}, {"", ""}, created);
  EXPECT_TRUE(created);
  EXPECT_EQ(temp.rfind("TEMPORARY_INDEX_{", 0), 0u);
  EXPECT_EQ(temp.size(), 16u + 38u);
  EXPECT_EQ(f.table->FindOrCreateIndex(&f.cursor, {"NAME", "ID"}, {"", "DESC"}, {"", ""}, created), temp);
  EXPECT_FALSE(created);
  // Another session makes its own.
  TNRDBaseSession other;
  other.FSessionID = 2;
  TTestCursor otherCursor;
  otherCursor.FSession = &other;
  otherCursor.FFieldDefs.Assign(f.cursor.FFieldDefs);
  EXPECT_NE(f.table->FindOrCreateIndex(&otherCursor, {"NAME", "ID"}, {"", "DESC"}, {"", ""}, created), temp);
  EXPECT_TRUE(created);
  ASSERT_EQ(im.FIndexDefs.GetCount(), 4);
  EXPECT_TRUE(f.table->IndexExists(&f.cursor, {"NAME"}, {""}, {""}));
  EXPECT_FALSE(f.table->IndexExists(&f.cursor, {"PIC"}, {""}, {""}));

  // An insert reaches every index and moves every table state; a new root is copied.
  std::vector<std::int32_t> before;
  for (std::int32_t i = 0; i < 4; ++i) before.push_back(im.FIndexDefs.GetIndexDef(i)->FTableState);
  f.journal.rootAfterInsert = 77;
  f.journal.calls.clear();
  im.InsertRecord(&f.cursor);
  for (std::int32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(im.FIndexDefs.GetIndexDef(i)->FTableState, before[i] + 1);
    EXPECT_EQ(im.FIndexDefs.GetIndexDef(i)->FRootPageNo, 77);
  }
  EXPECT_EQ(std::count_if(f.journal.calls.begin(), f.journal.calls.end(),
                          [](const std::string& c) { return c.rfind("insert:", 0) == 0; }),
            4);
  // An update moves the states only after the record is stored.
  im.UpdateRecord(&f.cursor, true);
  EXPECT_EQ(im.FIndexDefs.GetIndexDef(0)->FTableState, before[0] + 1);
  im.UpdateRecord(&f.cursor, false);
  EXPECT_EQ(im.FIndexDefs.GetIndexDef(0)->FTableState, before[0] + 2);
  // A delete of a record the record manager no longer has touches nothing.
  f.cursor.CurrentRecordID.PageNo = 9;
  f.journal.calls.clear();
  im.DeleteRecord(&f.cursor);
  EXPECT_TRUE(f.journal.calls.empty());
  f.table->Records().Add(9, std::vector<std::uint8_t>(26, 0));
  f.cursor.FCurrentRecordBuffer = GlobalMemoryManager().AllocMem(26);
  im.DeleteRecord(&f.cursor);
  EXPECT_EQ(f.journal.calls.size(), 4u);

  // The table changed: the session's temporary index built before is rebuilt once; the other
  // session's private index is left to that session.
  bool changed = false;
  f.journal.calls.clear();
  im.SynchronizeTemporaryIndexes(&f.cursor, changed);
  EXPECT_TRUE(changed);
  EXPECT_EQ(f.journal.calls, std::vector<std::string>{"rebuild:" + temp});
  im.SynchronizeTemporaryIndexes(&f.cursor, changed);
  EXPECT_FALSE(changed);

  // Reading in index order: a current record that is gone is served by the closest one.
  TNRDNavigationInfo nav;
  nav.IndexID = a;
  nav.RecordID.PageNo = 9;
  f.journal.calls.clear();
  im.GetRecordBuffer(1, nav, nullptr, 0);
  nav.RecordID.PageNo = 10;
  im.GetRecordBuffer(1, nav, nullptr, 0);
  nav.FirstPosition = true;
  im.GetRecordBuffer(1, nav, nullptr, 0);
  EXPECT_EQ(f.journal.calls, (std::vector<std::string>{"read:A", "closest:A", "read:A"}));
  EXPECT_EQ(CodeOf([&] { im.OpenIndex(12345); }), 20018);

  // Temporary indexes of every session go; then everything.
  im.DropTemporaryIndexes(1);
  EXPECT_EQ(im.FIndexDefs.GetCount(), 2);
  EXPECT_EQ(b, im.FIndexDefs.GetIndexDef(1)->FObjectID);
  f.table->DeleteAllIndexes(&f.cursor);
  EXPECT_EQ(im.FIndexDefs.GetCount(), 0);
  EXPECT_EQ(im.OpenIndexCount(), 0);
}

TEST(NRDTableData, FailuresUndoWhatTheyStarted) {
  TableFixture f;
  MapPageManager pages;
  f.table->FPageManager = &pages;
  pages.PutPage(pages.AddPage(1, 1));  // a change of session 1 in flight
  f.cursor.FirstPosition = false;
  f.cursor.CurrentRecordID.PageNo = 42;
  f.journal.failBuild = true;
  bool created = false;
  EXPECT_EQ(CodeOf([&] { f.table->FindOrCreateIndex(&f.cursor, {"NAME"}, {""}, {""}, created); }), 20999);
  EXPECT_EQ(f.table->IndexManager().FIndexDefs.GetCount(), 0);  // the failed definition is gone
  EXPECT_FALSE(pages.HasChanges(1));                             // the session's changes were cancelled
  EXPECT_EQ(f.cursor.CurrentRecordID.PageNo, 42);                // the position was kept
  EXPECT_EQ(CodeOf([&] { f.AddIndex("X", {"ID"}); }), 20999);
  EXPECT_EQ(f.table->ConstraintManager().FConstraintDefs.GetCount(), 0);
  f.journal.failBuild = false;
  // A successful search applies the session's changes.
  pages.PutPage(pages.AddPage(1, 1));
  f.table->FindOrCreateIndex(&f.cursor, {"NAME"}, {""}, {""}, created);
  EXPECT_FALSE(pages.HasChanges(1));
  EXPECT_FALSE(pages.Written.empty());
  // Inside a transaction nothing is applied or cancelled here.
  f.session.FInTransaction = true;
  pages.PutPage(pages.AddPage(1, 1));
  f.table->FindOrCreateIndex(&f.cursor, {"ID"}, {""}, {""}, created);
  EXPECT_TRUE(pages.HasChanges(1));
  pages.CancelChanges(1);
  f.table->FPageManager = nullptr;
}

TEST(NRDTableData, EmptyTableResetsCountersAndIndexes) {
  TableFixture f;
  f.AddIndex("A", {"ID"});
  EXPECT_EQ(f.table->FieldManager().IncrementLastAutoinc(0), 101);
  f.journal.calls.clear();
  f.table->EmptyTable(&f.cursor);
  EXPECT_EQ(f.table->FieldManager().FLastAutoIncValues[0], 100);
  EXPECT_EQ(f.journal.calls, (std::vector<std::string>{"open:A", "empty:A"}));
  // Unique checks go to the constraint's index, and never on an empty table.
  const std::int32_t id = f.table->IndexManager().FIndexDefs.GetIndexDef(0)->FObjectID;
  f.journal.canInsert = false;
  EXPECT_FALSE(f.table->IsUniqueConstraintFailed(1, id, nullptr, nullptr, true, {}));
  f.table->Records().Add(1, {});
  EXPECT_TRUE(f.table->IsUniqueConstraintFailed(1, id, nullptr, nullptr, true, {}));
  EXPECT_FALSE(f.table->IsUniqueConstraintFailed(1, id, nullptr, nullptr, false, {}));
}

}  // namespace

namespace {

TEST(NRDTableData, HandleSlotsRefuseStaleAndDamagedHandles) {
  TNRDHandleTable handles;
  int a = 1, b = 2, c = 3;
  const std::uint32_t ha = handles.Add(&a);
  const std::uint32_t hb = handles.Add(&b);
  EXPECT_NE(ha, 0u);
  EXPECT_NE(ha, hb);
  EXPECT_EQ(handles.Get(ha), &a);
  EXPECT_EQ(handles.Get(hb), &b);
  EXPECT_TRUE(handles.Remove(ha));
  EXPECT_FALSE(handles.Remove(ha));
  EXPECT_EQ(handles.Get(ha), nullptr);
  // The slot is reused under another generation: the old handle stays dead.
  const std::uint32_t hc = handles.Add(&c);
  EXPECT_EQ(hc & 0xFFFFFu, ha & 0xFFFFFu);
  EXPECT_NE(hc, ha);
  EXPECT_EQ(handles.Get(ha), nullptr);
  EXPECT_EQ(handles.Get(hc), &c);
  for (std::uint32_t bad : {0u, 0xFFFFFFFFu, hb + 1000u, hb ^ 0x00100000u}) EXPECT_EQ(handles.Get(bad), nullptr) << bad;
  EXPECT_FALSE(handles.Remove(0xFFFFFFFFu));
  EXPECT_EQ(handles.LiveCount(), 2u);
}

}  // namespace
