// Tables of a database file opened as data sets through the local session and cursor: records
// and BLOB values survive closing and reopening; two sessions in two processes editing one table
// meet the record lock; Locate and filters run through the expression layer.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "engine/components/NRDAdvDefs.h"
#include "engine/components/NRDDataSet.h"
#include "engine/components/NRDLocalCursor.h"
#include "engine/components/NRDSession.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/sql/NRDExpressions.h"

using namespace nrd;

namespace {

class FileTable : public TNRDDataSet {
 public:
  FileTable(TNRDLocalSession& session, std::string table) : session_(session), table_(std::move(table)) {}
  ~FileTable() override { Close(); }

 protected:
  std::unique_ptr<TNRDCursor> CreateHandle() override {
    auto c = std::make_unique<TNRDLocalCursor>();
    c->SetSession(&session_);
    c->SetTableName(table_);
    TNRDFieldDefs f;
    TNRDIndexDefs i;
    TNRDConstraintDefs k;
    c->OpenTableByFieldDefs(f, i, k);
    return c;
  }

 private:
  TNRDLocalSession& session_;
  std::string table_;
};

class DiskTable : public ::testing::Test {
 protected:
  void SetUp() override {
    EngineStartup();
    dir_ = std::filesystem::temp_directory_path() / ("trevolan-disk-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    file_ = (dir_ / "family.at4").string();
    TNRDLocalSession creator;
    creator.FDatabaseFileName = file_;
    creator.CreateDatabase();
  }
  void TearDown() override {
    EngineShutdown();
    std::filesystem::remove_all(dir_);
  }
  void Connect(TNRDLocalSession& s, bool multiUser, const std::string& name) {
    s.FDatabaseName = "Family";
    s.FDatabaseFileName = file_;
    s.FMultiUser = multiUser;
    s.FSessionName = name;
    s.SetConnected(true);
  }
  void CreateValuesTable(TNRDLocalSession& s) {
    TNRDAdvFieldDefs adv;
    adv.Add("ID", aftInteger, 0, true);
    adv.Add("Name", aftString, 30, false);
    adv.Add("vblob", aftBlob, 0, false);
    TNRDIndexDefs indexes;
    TNRDFieldDefs fields;
    TNRDConstraintDefs constraints;
    AdvFieldDefsToEngineDefs(adv, indexes, false, fields, constraints);
    TNRDLocalCursor c;
    c.SetSession(&s);
    c.SetTableName("Values");
    c.CreateTable(fields, indexes, constraints);
  }
  std::filesystem::path dir_;
  std::string file_;
};

}  // namespace

TEST_F(DiskTable, RecordsAndBlobsSurviveReopening) {
  {
    TNRDLocalSession s;
    Connect(s, false, "");
    CreateValuesTable(s);
    FileTable ds(s, "Values");
    ds.Open();
    for (int i = 1; i <= 3; ++i) ds.AppendRecord({IntValue(i), TextValue("v" + std::to_string(i))});
    ds.First();
    ds.Edit();
    {
      auto stream = ds.CreateBlobStream(ds.FieldByName("vblob"), bmWrite);
      const std::string bytes(150000, '\x7f');
      stream->Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    }
    ds.Post();
    ds.Next();
    ds.Delete();
    ds.Close();
    s.SetConnected(false);
  }
  TNRDLocalSession s;
  Connect(s, false, "");
  std::vector<std::string> tables;
  s.GetTablesList(tables);
  EXPECT_EQ(tables, std::vector<std::string>{"Values"});
  EXPECT_GE(s.GetDBFileConnectionsCount(), 1);
  FileTable ds(s, "values");
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "v1");
  EXPECT_EQ(ds.FieldByName("vblob").AsBytes(), std::string(150000, '\x7f'));
  ds.Next();
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "v3");
  EXPECT_TRUE(ds.FieldByName("vblob").IsNull());
}

TEST_F(DiskTable, TwoProcessesMeetTheRecordLock) {
  {
    TNRDLocalSession s;
    Connect(s, true, "setup");
    CreateValuesTable(s);
    FileTable ds(s, "Values");
    ds.Open();
    ds.AppendRecord({IntValue(1), TextValue("one")});
  }
  int toChild[2], toParent[2];
  ASSERT_EQ(::pipe(toChild), 0);
  ASSERT_EQ(::pipe(toParent), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The other process: holds the record in edit until told to let go.
    int code = 1;
    try {
      TNRDLocalSession s;
      Connect(s, true, "child");
      FileTable ds(s, "Values");
      ds.Open();
      ds.Edit();
      char c = 'e';
      if (::write(toParent[1], &c, 1) != 1) ::_exit(2);
      if (::read(toChild[0], &c, 1) != 1) ::_exit(3);
      ds.FieldByName("Name").SetAsString("child");
      ds.Post();
      c = 'p';
      if (::write(toParent[1], &c, 1) != 1) ::_exit(4);
      code = 0;
    } catch (...) {
      code = 5;
    }
    ::_exit(code);
  }
  char c = 0;
  ASSERT_EQ(::read(toParent[0], &c, 1), 1);
  TNRDLocalSession s;
  Connect(s, true, "parent");
  FileTable ds(s, "Values");
  ds.Open();
  try {
    ds.Edit();
    FAIL() << "the record held by the other process was edited";
  } catch (const ENRDEngineError& e) {
    EXPECT_EQ(e.FErrorCode, -12);
  }
  EXPECT_EQ(ds.State(), dsBrowse);
  c = 'g';
  ASSERT_EQ(::write(toChild[1], &c, 1), 1);
  ASSERT_EQ(::read(toParent[0], &c, 1), 1);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  // What we read is out of date: the change is reported, and seen after a refresh.
  try {
    ds.Edit();
    FAIL();
  } catch (const ENRDEngineError& e) {
    EXPECT_EQ(e.FErrorCode, -4);
  }
  ds.Refresh();
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "child");
  ds.Edit();
  ds.FieldByName("Name").SetAsString("parent");
  ds.Post();
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "parent");
  for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) ::close(fd);
}

TEST_F(DiskTable, ReadOnlyDatabaseRefusesEveryChangeWithItsOwnError) {
  {
    TNRDLocalSession s;
    Connect(s, false, "");
    CreateValuesTable(s);
    FileTable ds(s, "Values");
    ds.Open();
    ds.AppendRecord({IntValue(1), TextValue("one")});
  }
  // A second single-user process finds the file held by this one: its database is read-only, and
  // every change it tries is refused by the engine before the file is touched.
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int code = 0;
    try {
      char c = 0;
      if (::read(go[0], &c, 1) != 1) ::_exit(11);
      TNRDLocalSession s;
      Connect(s, false, "");
      if (!s.FReadOnly) ::_exit(10);
      FileTable ds(s, "Values");
      ds.Open();
      const std::function<void()> changes[] = {
          [&] { ds.AppendRecord({IntValue(2), TextValue("two")}); },
          [&] { ds.Edit(); },
          [&] { ds.Delete(); },
          [&] { ds.Cursor()->InternalCreateBlobStream(false, true, 2, bomWrite, false); },
      };
      int step = 0;
      for (const auto& change : changes) {
        ++step;
        try {
          change();
          code = 20 + step;  // taken
        } catch (const ENRDException& e) {
          if (std::string(e.what()).find("read only") == std::string::npos) code = 30 + step;
        } catch (...) {
          code = 40 + step;  // not the engine's error
        }
        if (code != 0) break;
        if (ds.State() != dsBrowse) ds.Cancel();
      }
      if (code == 0 && ds.RecordCount() != 1) code = 50;
    } catch (...) {
      code = 60;
    }
    ::_exit(code);
  }
  TNRDLocalSession holder;
  Connect(holder, false, "");
  char c = 'g';
  EXPECT_EQ(::write(go[1], &c, 1), 1);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(go[0]);
  ::close(go[1]);
  EXPECT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  FileTable ds(holder, "Values");
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 1);
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "one");
}

TEST_F(DiskTable, DeleteWhileEditingDeletesOnesOwnRecord) {
  // The edit holds the record lock; the delete must not meet it as if another session held it,
  // and the values typed into the edit are not a change by another session either.
  for (bool multiUser : {true, false}) {
    TNRDLocalSession s;
    Connect(s, multiUser, multiUser ? "editor" : "");
    CreateValuesTable(s);
    FileTable ds(s, "Values");
    ds.Open();
    ds.AppendRecord({IntValue(1), TextValue("one")});
    ds.AppendRecord({IntValue(2), TextValue("two")});
    ds.First();
    ds.Edit();
    ds.FieldByName("Name").SetAsString("typed");
    ds.Delete();
    EXPECT_EQ(ds.State(), dsBrowse);
    EXPECT_EQ(ds.RecordCount(), 1) << multiUser;
    EXPECT_EQ(ds.FieldByName("Name").AsString(), "two");
    // Nothing of the edit is left held: the next record is edited and posted as usual.
    ds.Edit();
    ds.FieldByName("Name").SetAsString("second");
    ds.Post();
    EXPECT_EQ(ds.FieldByName("Name").AsString(), "second");
  }
}

// Locate, Lookup and filters on a disk table run through the expression layer; a filter on an
// indexed column reads only the records of its key range.
TEST_F(DiskTable, LocateAndFiltersThroughTheExpressionLayer) {
  struct Hooks {
    Hooks() { sql::InstallExpressionHooks(); }
    ~Hooks() { sql::RemoveExpressionHooks(); }
  } hooks;
  TNRDLocalSession s;
  Connect(s, false, "");
  {
    TNRDAdvFieldDefs adv;
    adv.Add("ID", aftInteger, 0, true);
    adv.Add("Name", aftString, 30, false);
    TFieldDefs plain;
    AdvFieldDefsToFieldDefs(adv, plain);
    TNRDIndexDefs indexes;
    MakeEngineIndexDef("PK", "ID", ixPrimary | ixUnique, false, "", "", "", plain, *indexes.AddCreated());
    TNRDFieldDefs fields;
    TNRDConstraintDefs constraints;
    AdvFieldDefsToEngineDefs(adv, indexes, false, fields, constraints);
    TNRDLocalCursor c;
    c.SetSession(&s);
    c.SetTableName("People");
    c.CreateTable(fields, indexes, constraints);
  }
  FileTable ds(s, "People");
  ds.Open();
  s.StartTransaction();
  for (int i = 1; i <= 200; ++i) ds.AppendRecord({IntValue(i), TextValue(i % 2 ? "odd" : "even")});
  s.Commit(true);
  EXPECT_TRUE(ds.Locate("ID", {IntValue(3)}, 0));
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);
  EXPECT_FALSE(ds.Locate("ID", {IntValue(999)}, 0));
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);
  EXPECT_TRUE(ds.Locate("Name", {TextValue("EV")}, loCaseInsensitive | loPartialKey));
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 2);
  EXPECT_EQ(ValueToText(ds.Lookup("ID", {IntValue(8)}, "Name")), "even");

  auto ids = [&](const std::string& filter) {
    ds.SetFilter(filter);
    ds.SetFilterOptions(foCaseInsensitive);
    ds.SetFiltered(true);
    std::vector<int> r;
    for (ds.First(); !ds.Eof(); ds.Next()) r.push_back(ds.FieldByName("ID").AsInteger());
    ds.SetFiltered(false);
    return r;
  };
  EXPECT_EQ(ids("Name = 'EVEN' AND ID < 7"), (std::vector<int>{2, 4, 6}));
  // The key range of ID (10..19) is read through the primary index: only its records are tested
  // against the rest of the filter.
  const std::int64_t before = sql::StorageEvaluationCount();
  EXPECT_EQ(ids("ID >= 10 AND ID < 20 AND Name = 'odd'"), (std::vector<int>{11, 13, 15, 17, 19}));
  const std::int64_t tested = sql::StorageEvaluationCount() - before;
  EXPECT_GT(tested, 0);
  EXPECT_LE(tested, 3 * 10);
  ds.Close();
  s.SetConnected(false);
}

namespace {
// The engine error code a record operation raises (0 when it succeeds).
int EngineCode(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const ENRDEngineError& e) {
    return e.FErrorCode;
  }
  return 0;
}
}  // namespace

TEST_F(DiskTable, TwoDataSetsOfOneSessionEditTwoRecords) {
  TNRDLocalSession s;
  Connect(s, true, "one");
  CreateValuesTable(s);
  FileTable a(s, "Values"), b(s, "Values"), c(s, "Values");
  a.Open();
  for (int i = 1; i <= 3; ++i) a.AppendRecord({IntValue(i), TextValue("v" + std::to_string(i))});
  b.Open();
  c.Open();
  a.First();
  a.Edit();
  b.First();
  b.Next();
  EXPECT_EQ(EngineCode([&] { b.Edit(); }), 0);  // another record of the same table
  ASSERT_EQ(b.State(), dsEdit);
  // A third data set of the session still meets the record the first one edits.
  c.First();
  EXPECT_EQ(EngineCode([&] { c.Edit(); }), -12);
  EXPECT_EQ(c.State(), dsBrowse);
  EXPECT_EQ(EngineCode([&] { c.Delete(); }), -12);
  EXPECT_EQ(c.RecordCount(), 3);
  a.FieldByName("Name").SetAsString("by a");
  b.FieldByName("Name").SetAsString("by b");
  a.Post();
  b.Post();
  c.Refresh();
  c.First();
  EXPECT_EQ(c.FieldByName("Name").AsString(), "by a");
  c.Next();
  EXPECT_EQ(c.FieldByName("Name").AsString(), "by b");
  // Nothing stays held: the third data set edits the first record now.
  c.First();
  c.Edit();
  c.FieldByName("Name").SetAsString("by c");
  c.Post();
  a.Refresh();
  EXPECT_EQ(a.FieldByName("Name").AsString(), "by c");
}

TEST_F(DiskTable, AnotherProcessMeetsEveryRecordASessionEdits) {
  {
    TNRDLocalSession s;
    Connect(s, true, "setup");
    CreateValuesTable(s);
    FileTable ds(s, "Values");
    ds.Open();
    for (int i = 1; i <= 3; ++i) ds.AppendRecord({IntValue(i), TextValue("v" + std::to_string(i))});
  }
  int toChild[2], toParent[2];
  ASSERT_EQ(::pipe(toChild), 0);
  ASSERT_EQ(::pipe(toParent), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // One session, two data sets editing records 1 and 2 until told to post.
    ::close(toChild[1]);
    ::close(toParent[0]);
    int code = 1;
    try {
      TNRDLocalSession s;
      Connect(s, true, "child");
      FileTable a(s, "Values"), b(s, "Values");
      a.Open();
      b.Open();
      a.Edit();
      b.Next();
      b.Edit();
      char c = 'e';
      if (::write(toParent[1], &c, 1) != 1) ::_exit(2);
      if (::read(toChild[0], &c, 1) != 1) ::_exit(3);
      a.FieldByName("Name").SetAsString("child a");
      b.FieldByName("Name").SetAsString("child b");
      a.Post();
      b.Post();
      code = 0;
    } catch (...) {
      code = 5;
    }
    ::_exit(code);
  }
  ::close(toChild[0]);
  ::close(toParent[1]);
  char c = 0;
  ASSERT_EQ(::read(toParent[0], &c, 1), 1) << "the other process could not edit two records";
  TNRDLocalSession s;
  Connect(s, true, "parent");
  FileTable ds(s, "Values");
  ds.Open();
  EXPECT_EQ(EngineCode([&] { ds.Edit(); }), -12);
  ds.Next();
  EXPECT_EQ(EngineCode([&] { ds.Edit(); }), -12);  // the second data set's record
  ds.Next();
  EXPECT_EQ(EngineCode([&] { ds.Edit(); }), 0);
  ds.Cancel();
  c = 'g';
  ASSERT_EQ(::write(toChild[1], &c, 1), 1);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ds.Refresh();
  ds.First();
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "child a");
  ds.Next();
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "child b");
  for (int fd : {toChild[1], toParent[0]}) ::close(fd);
}
