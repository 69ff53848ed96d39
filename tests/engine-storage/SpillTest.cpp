// Big transactions that spill their changed pages to the file: memory stays within the budget, the
// commit keeps every row, a rollback and a crash (a cut at any write, a power loss that drops the
// journal's unsynced bytes, a kill -9) leave the file as it was, other sessions read the originals
// of spilled pages, and 500 MB commit under a 256 MB address-space limit.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDBTreeRecordIndex.h"
#include "engine/storage/NRDDiskDatabase.h"
#include "engine/storage/NRDDiskPageManager.h"
#include "engine/storage/NRDDiskTable.h"
#include "engine/storage/NRDTableCheck.h"
#include "tests/engine-foundation/EngineTestUtil.h"
#include "tests/engine-storage/EngineTestTables.h"
#include "tests/engine-storage/StorageTestUtil.h"

using namespace nrd;
using enginetest::CodeOf;
using namespace enginetest_tables;
using namespace storagetest;

namespace {

bool JournalLeft(const std::string& path) { return platform::FileSystem::Native().Exists(TNRDJournal::JournalPath(path)); }

// ----- page level ---------------------------------------------------------------------------------

constexpr std::int32_t kPage = 256;
constexpr int kFixed = 24;
constexpr int kAdded = 30;

// Rewrites the fixed pages twice (so that spilled pages are taken back) and adds pages, with
// a budget of 8 pages; reports whether a spill happened, then commits.
void SpilledTransaction(TNRDDiskPageManager& pm, const std::vector<std::int32_t>& fixed, std::vector<std::int32_t>& added,
                        bool& spilled) {
  pm.SetSpillBudget(8 * kPage);
  for (int round = 0; round < 2; ++round) {
    for (std::int32_t no : fixed) {
      FillPage(pm, 0, no, static_cast<std::uint8_t>(2 + round));
      pm.SpillIfOverBudget(0);
      spilled = spilled || pm.SpilledPageCount() > 0;
    }
  }
  for (int i = 0; i < kAdded; ++i) {
    added.push_back(AddFilledPage(pm, 0, static_cast<std::uint8_t>(10 + i)));
    pm.SpillIfOverBudget(0);
  }
  pm.ApplyChanges(0);
}

// A spilled transaction cut at every write, each cut followed by a power loss that drops what the
// journal had not synced: the file holds the old or the new state, never a mixture. A spilled page
// written before its original was synced into the journal fails here.
TEST(Spill, CutAtEveryWriteWithPowerLossLeavesOldOrNewState) {
  TempDir dir;
  const std::string path = dir.File("spill.at4");
  std::vector<std::int32_t> fixed;
  {
    auto pm = CreateDb(path, kPage, 4);
    for (int i = 0; i < kFixed; ++i) fixed.push_back(AddFilledPage(*pm, 0, 1));
    pm->ApplyChanges(0);
  }
  const std::vector<std::uint8_t> initial = ReadAll(path);
  std::int64_t ops = 0;
  std::vector<std::int32_t> newPages;
  {
    FaultFileSystem fs;
    fs.Granularity = kPage;  // a cut may fall inside a write
    fs.TrackSyncs = true;
    auto pm = OpenDb(path, {}, &fs);
    pm->DatabaseFile().SetSynchronous(true);
    bool spilled = false;
    SpilledTransaction(*pm, fixed, newPages, spilled);
    ASSERT_TRUE(spilled) << "the transaction never passed its budget";
    ops = fs.Used;
  }
  ASSERT_GT(ops, 30);
  int olds = 0;
  int news = 0;
  for (std::int64_t k = 0; k <= ops; ++k) {
    SCOPED_TRACE(k);
    WriteAll(path, initial);
    {
      FaultFileSystem fs;
      fs.Granularity = kPage;
      fs.TrackSyncs = true;
      auto pm = OpenDb(path, {}, &fs);
      pm->DatabaseFile().SetSynchronous(true);
      fs.Budget = fs.Used + k;
      std::vector<std::int32_t> added;
      bool spilled = false;
      const int code = CodeOf([&] { SpilledTransaction(*pm, fixed, added, spilled); });
      if (k < ops) {
        EXPECT_NE(code, 0);
      }
      pm.reset();  // its rollback fails as every write does: the journal stays
      fs.LoseUnsyncedWrites(TNRDJournal::JournalPath(path));
    }
    auto pm = OpenDb(path);
    EXPECT_FALSE(JournalLeft(path));
    EXPECT_EQ(+pm->DBHeader()->WriteChangesState, 2);
    const std::uint8_t first = FirstDataByte(*pm, 0, fixed[0]);
    for (std::int32_t no : fixed) ASSERT_EQ(FirstDataByte(*pm, 0, no), first) << "page " << no;
    if (first == 1) {
      ++olds;
    } else {
      ASSERT_EQ(first, 3);
      ++news;
      for (int i = 0; i < kAdded; ++i) {
        EXPECT_EQ(FirstDataByte(*pm, 0, newPages[static_cast<std::size_t>(i)]), static_cast<std::uint8_t>(10 + i));
      }
    }
    // Whatever was left, the file takes the next commit.
    const std::int32_t extra = AddFilledPage(*pm, 0, 0x55);
    pm->ApplyChanges(0);
    EXPECT_EQ(FirstDataByte(*pm, 0, extra), 0x55);
  }
  EXPECT_GT(olds, 0);
  EXPECT_GT(news, 0);
}

// Another session of the same process (multi-user sessions have numbers of their own) reads the
// originals of pages that a spill put in the file, can neither take new pages nor commit until the
// spill ends, and sees the new pages after the commit.
TEST(Spill, OtherSessionsReadOriginalsAndWaitForTheEnd) {
  TempDir dir;
  const std::string path = dir.File("other.at4");
  std::vector<std::int32_t> fixed;
  {
    auto pm = CreateDb(path, kPage, 4);
    for (int i = 0; i < kFixed; ++i) fixed.push_back(AddFilledPage(*pm, 0, 1));
    pm->ApplyChanges(0);
  }
  auto pm = OpenDb(path);
  pm->SetSpillBudget(8 * kPage);
  for (std::int32_t no : fixed) {
    FillPage(*pm, 1, no, 2);
    pm->SpillIfOverBudget(1);
  }
  ASSERT_GT(pm->SpilledPageCount(), 0);
  for (std::int32_t no : fixed) EXPECT_EQ(FirstDataByte(*pm, 2, no), 1) << "page " << no;
  EXPECT_EQ(CodeOf([&] { AddFilledPage(*pm, 2, 9); }), 20231);
  FillPage(*pm, 2, fixed[0], 7);
  EXPECT_EQ(CodeOf([&] { pm->ApplyChanges(2); }), 20213);
  pm->CancelChanges(2);
  pm->ApplyChanges(1);
  EXPECT_FALSE(JournalLeft(path));
  for (std::int32_t no : fixed) EXPECT_EQ(FirstDataByte(*pm, 2, no), 2) << "page " << no;
}

// ----- table level --------------------------------------------------------------------------------

constexpr int kCommitted = 200;

// One connection to a file; single-user unless asked.
struct Db {
  explicit Db(const std::string& file, bool create = false) {
    if (create) {
      TNRDDiskDatabaseData creator;
      creator.FDatabaseName = file;
      creator.FPageSize = 1024;
      creator.CreateDatabase();
    }
    db.FDatabaseName = file;
    db.ConnectSession(&session);
    db.DiskPageManager()->DatabaseFile().SetSynchronous(false);
  }
  ~Db() {
    for (auto& t : tables) t->table->CloseTable(&t->cursor);
    tables.clear();
    for (TestSession* s : others) db.DisconnectSession(s);
    db.DisconnectSession(&session);
  }
  TableCursor& Open(TestSession& s) {
    tables.push_back(std::make_unique<TableCursor>(db, s, "T"));
    tables.back()->Open();
    return *tables.back();
  }
  TestSession& Other() {
    others.push_back(new TestSession);
    owned.emplace_back(others.back());
    db.ConnectSession(others.back());
    return *others.back();
  }
  TNRDDiskPageManager& Pages() { return *db.DiskPageManager(); }
  std::int32_t Id() const { return session.FSessionID; }

  TNRDDiskDatabaseData db;
  TestSession session;
  std::vector<TestSession*> others;
  std::vector<std::unique_ptr<TestSession>> owned;
  std::vector<std::unique_ptr<TableCursor>> tables;
};

std::string NameOf(int id, int version) {
  char text[24];
  std::snprintf(text, sizeof text, "v%d-%d", version, id);
  return text;
}

// A file with table T (ID, NAME, DATA; a primary index on ID) of kCommitted rows of version 0.
void MakeFile(const std::string& file) {
  RegisterBTreeRecordIndex();
  Db d(file, true);
  {
    TableCursor t(d.db, d.session, "T");
    TNRDFieldDefs fields;
    DefineFields(fields, {{"ID", aftInteger, 0}, {"NAME", aftString, 20}, {"DATA", aftBlob, 0}});
    TNRDIndexDefs indexes;
    TNRDIndexDef* pk = indexes.AddCreated();
    pk->FName = "PK";
    pk->FPrimary = true;
    pk->FUnique = true;
    pk->SetColumnCount(1);
    pk->GetIndexColumn(0).FFieldName = "ID";
    pk->GetIndexColumn(0).FMaxIndexedSize = 4;
    t.table->CreateTable(&t.cursor, fields, indexes, TNRDConstraintDefs());
    t.table->CloseTable(&t.cursor);
  }
  TableCursor& t = d.Open(d.session);
  for (int i = 0; i < kCommitted; ++i) {
    t.Fill(i, NameOf(i, 0));
    t.SetBlob(Pattern(300, static_cast<unsigned>(i)));
    TNRDCursor* c = &t.cursor;
    ASSERT_TRUE(t.table->InsertRecord(c));
  }
}

// Inside the session's transaction: every committed row gets version 1, then `extra` rows with
// BLOB values are added. The budget is small, so pages go to the file on the way; the session's
// changed pages never pass it by more than one operation's pages.
void BigTransaction(Db& d, TableCursor& t, int extra, std::int64_t budget) {
  d.Pages().SetSpillBudget(budget);
  d.session.FInTransaction = true;
  std::int32_t most = 0;
  auto track = [&] {
    const TNRDSessionPageInfo* info = d.Pages().FindSession(d.Id());
    if (info != nullptr) most = std::max(most, info->DirtyPages.Count());
  };
  t.cursor.FirstPosition = true;
  t.cursor.LastPosition = false;
  int updated = 0;
  std::vector<std::uint8_t> old(static_cast<std::size_t>(t.size));
  t.cursor.FEditRecordBuffer = old.data();
  while (t.Read(grmNext) == grrOK) {
    std::memcpy(old.data(), t.Rec(), old.size());
    const std::int32_t id = t.Id();
    char text[21] = {0};
    std::snprintf(text, sizeof text, "%s", NameOf(id, 1).c_str());
    SetFieldDataToBuffer(1, t.table->FieldManager().FFieldDefs, text, t.Rec());
    ASSERT_TRUE(t.table->UpdateRecord(&t.cursor)) << id;
    ++updated;
    track();
  }
  t.cursor.FEditRecordBuffer = nullptr;
  ASSERT_EQ(updated, kCommitted);
  for (int i = 0; i < extra; ++i) {
    const int id = kCommitted + i;
    t.Fill(id, NameOf(id, 1));
    t.SetBlob(Pattern(300, static_cast<unsigned>(id)));
    TNRDCursor* c = &t.cursor;
    ASSERT_TRUE(t.table->InsertRecord(c)) << id;
    track();
  }
  EXPECT_GT(d.Pages().SpilledPageCount(), 0) << "the transaction never passed its budget";
  EXPECT_LE(most * 1024, budget + 64 * 1024) << "changed pages held in memory";
}

// Every row of the table by ID: its name and whether its BLOB value is the one written for it.
std::map<int, std::string> Rows(TableCursor& t) {
  std::map<int, std::string> rows;
  t.cursor.FirstPosition = true;
  t.cursor.LastPosition = false;
  while (t.Read(grmNext) == grrOK) {
    char text[21] = {0};
    GetFieldDataFromBuffer(1, t.table->FieldManager().FFieldDefs, text, t.Rec());
    const int id = t.Id();
    rows[id] = std::string(text) + (t.GetBlob() == Pattern(300, static_cast<unsigned>(id)) ? "" : " <blob differs>");
  }
  return rows;
}

std::map<int, std::string> Expected(int count, int committedVersion) {
  std::map<int, std::string> rows;
  for (int i = 0; i < count; ++i) rows[i] = NameOf(i, i < kCommitted ? committedVersion : 1);
  return rows;
}

// The file reopened: no journal, checker content, no page that nothing owns.
void ExpectSound(const std::string& file) {
  EXPECT_FALSE(JournalLeft(file));
  Db d(file);
  std::ostringstream report;
  std::vector<std::int32_t> leaked;
  EXPECT_TRUE(CheckDatabaseTables(d.Pages(), report, 1, &leaked)) << report.str();
  EXPECT_TRUE(leaked.empty()) << leaked.size() << " pages leaked";
}

TEST(Spill, BigTransactionCommitsEveryRowWithinItsBudget) {
  TempDir dir;
  const std::string file = dir.File("commit.at4");
  MakeFile(file);
  {
    Db d(file);
    TableCursor& t = d.Open(d.session);
    BigTransaction(d, t, 1500, 128 * 1024);
    d.db.Commit(d.Id(), true);
    d.session.FInTransaction = false;
    EXPECT_EQ(d.Pages().SpilledPageCount(), 0);
    EXPECT_FALSE(JournalLeft(file));
    EXPECT_EQ(Rows(t), Expected(kCommitted + 1500, 1));
  }
  Db d(file);
  EXPECT_EQ(Rows(d.Open(d.session)), Expected(kCommitted + 1500, 1));
  ExpectSound(file);
}

TEST(Spill, RollbackAfterSpillRestoresTheFile) {
  TempDir dir;
  const std::string file = dir.File("rollback.at4");
  MakeFile(file);
  {
    Db d(file);
    TableCursor& t = d.Open(d.session);
    BigTransaction(d, t, 1500, 128 * 1024);
    d.db.Rollback(d.Id());
    d.session.FInTransaction = false;
    EXPECT_FALSE(JournalLeft(file));
    // The same connection goes on: a small commit after the rollback.
    EXPECT_TRUE(t.Insert(5000, NameOf(5000, 1)));
  }
  Db d(file);
  std::map<int, std::string> expected = Expected(kCommitted, 0);
  std::map<int, std::string> rows = Rows(d.Open(d.session));
  EXPECT_EQ(rows.erase(5000), 1u);
  EXPECT_EQ(rows, expected);
  ExpectSound(file);
}

// A process that spilled part of its transaction is killed: the next opener rolls it back.
TEST(Spill, KilledAfterSpillRecoversTheOldState) {
  TempDir dir;
  const std::string file = dir.File("killed.at4");
  MakeFile(file);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(fds[0]);
    try {
      Db d(file);
      d.Pages().DatabaseFile().SetSynchronous(true);
      TableCursor& t = d.Open(d.session);
      BigTransaction(d, t, 1500, 128 * 1024);
      const char ready = d.Pages().SpilledPageCount() > 0 ? 'y' : 'n';
      if (::write(fds[1], &ready, 1) != 1) ::_exit(4);
      ::pause();
    } catch (...) {
    }
    ::_exit(3);
  }
  ::close(fds[1]);
  char ready = 0;
  ASSERT_EQ(::read(fds[0], &ready, 1), 1);
  ::close(fds[0]);
  EXPECT_EQ(ready, 'y');
  EXPECT_TRUE(JournalLeft(file));
  ::kill(pid, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  {
    Db d(file);
    EXPECT_EQ(Rows(d.Open(d.session)), Expected(kCommitted, 0));
  }
  ExpectSound(file);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// A child limited to 256 MB of address space commits 500 MB of records in one transaction. The
// sanitizers reserve terabytes of address space, so a sanitized build cannot run it; the bench
// program bench_engine_big_transaction makes the same check in a release build.
TEST(Spill, HalfAGigabyteCommitsUnderAQuarterGigabyteAddressLimit) {
  if (kSanitized) GTEST_SKIP() << "sanitizers reserve more address space than the limit";
  TempDir dir;
  const std::string file = dir.File("big.at4");
  MakeFile(file);
  constexpr int kRows = 130000;  // 4000-byte BLOB values: about 520 MB
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const rlim_t bytes = rlim_t{256} << 20;
    rlimit limit{bytes, bytes};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(5);
    try {
      Db d(file);
      TableCursor& t = d.Open(d.session);
      d.session.FInTransaction = true;
      const std::string blob = Pattern(4000, 7);
      for (int i = 0; i < kRows; ++i) {
        t.Fill(kCommitted + i, "big");
        t.SetBlob(blob);
        TNRDCursor* c = &t.cursor;
        if (!t.table->InsertRecord(c)) ::_exit(6);
      }
      d.db.Commit(d.Id(), true);
      d.session.FInTransaction = false;
    } catch (...) {
      ::_exit(7);
    }
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  Db d(file);
  TableCursor& t = d.Open(d.session);
  EXPECT_EQ(t.table->InternalGetRecordCount(&t.cursor), kCommitted + kRows);
}

}  // namespace
