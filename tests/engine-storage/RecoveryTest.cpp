// Crash recovery beside other processes, on tables with records and BLOB values: a writer killed
// in the middle of its commit while another process has the file open, readers while a process
// commits, and openers of a file whose header lies behind other data.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "engine/foundation/NRDExcept.h"
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
using storagetest::FaultFileSystem;
using storagetest::ReadAll;
using storagetest::TempDir;
using storagetest::WriteAll;

namespace {

constexpr int kInitialRecords = 30;
constexpr int kWriterRecords = 50;

// One multi-user connection to a file.
struct Connection {
  explicit Connection(const std::string& file, platform::FileSystem* fs = nullptr) : db(fs) {
    db.FDatabaseName = file;
    db.FLockTryCount = 200;
    db.FLockDelayMS = 5;
    session.FMultiUser = true;
    db.ConnectSession(&session);
  }
  ~Connection() {
    if (table) table->table->CloseTable(&table->cursor);
    table.reset();
    db.DisconnectSession(&session);
  }
  TableCursor& Table() {
    if (!table) {
      table = std::make_unique<TableCursor>(db, session, "Shared");
      table->Open();
    }
    return *table;
  }
  TNRDDiskTableData& Disk() { return *static_cast<TNRDDiskTableData*>(Table().table); }
  std::int32_t Id() const { return session.FSessionID; }
  // Inserts under an RW lock taken first, as a writer of a shared table does; one commit for all.
  void InsertLocked(int from, int count, std::size_t blobSize) {
    TableCursor& t = Table();
    ASSERT_TRUE(Disk().LockTable(Id(), ltRW, 100, 10, false));
    Disk().LoadMostUpdated(Id());
    t.cursor.FBatchUpdate = true;
    for (int i = from; i < from + count; ++i) {
      t.Fill(i, "r" + std::to_string(i));
      if (blobSize > 0) t.SetBlob(Pattern(blobSize, static_cast<unsigned>(i)));
      TNRDCursor* c = &t.cursor;
      ASSERT_TRUE(t.table->InsertRecord(c)) << i;
    }
    t.table->ApplyChanges(Id(), false);
    t.cursor.FBatchUpdate = false;
    Disk().UnlockTable(Id(), ltRW, false);
  }

  TNRDDiskDatabaseData db;
  TestSession session;
  std::unique_ptr<TableCursor> table;
};

// A file with one table (id, name, BLOB) of kInitialRecords records.
std::vector<std::uint8_t> MakeTableFile(const std::string& file, std::size_t blobSize = 700) {
  {
    TNRDDiskDatabaseData creator;
    creator.FDatabaseName = file;
    creator.FPageSize = 1024;
    creator.FMaxSessionCount = 8;
    creator.CreateDatabase();
  }
  {
    Connection c(file);
    TableCursor t(c.db, c.session, "Shared");
    t.Create(true);
    t.table->CloseTable(&t.cursor);
  }
  {
    Connection c(file);
    c.InsertLocked(0, kInitialRecords, blobSize);
  }
  return ReadAll(file);
}

// What the checker says of the file, opened afresh; empty when all is sound.
std::string Damage(const std::string& file) {
  Connection c(file);
  std::ostringstream out;
  return CheckDatabaseTables(*c.db.DiskPageManager(), out) ? std::string() : out.str();
}

std::int64_t RecordCount(const std::string& file) {
  Connection c(file);
  return c.Table().table->InternalGetRecordCount(&c.Table().cursor);
}

// The changing file operations of the writer's commit of kWriterRecords records with BLOB values.
std::int64_t CommitOperations(const std::vector<std::uint8_t>& initial, const std::string& file) {
  WriteAll(file, initial);
  FaultFileSystem fs;
  fs.Granularity = 1024;
  Connection w(file, &fs);
  w.Table();
  const std::int64_t before = fs.Used;
  w.InsertLocked(1000, kWriterRecords, 700);
  return fs.Used - before;
}

// A child connects, starts the commit of kWriterRecords records and dies after `budget` changing
// file operations of it, leaving its journal and part of its commit in the file.
void KillWriterInCommit(const std::string& file, std::int64_t budget) {
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    try {
      FaultFileSystem fs;
      fs.Granularity = 1024;
      fs.KillOnExhaustion = true;
      Connection w(file, &fs);
      w.Table();
      fs.Budget = fs.Used + budget;
      w.InsertLocked(1000, kWriterRecords, 700);
    } catch (...) {
    }
    ::_exit(3);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the writer was not killed at operation " << budget;
}

// Another process has the table open when the writer dies; it then locks the table, reads its
// counters and inserts, before anyone else takes the header lock. Whatever moment of the commit
// the writer died at, the survivor builds on the file as it was before that commit.
TEST(Recovery, SurvivorNeverBuildsOnAKilledWritersHalfCommit) {
  TempDir dir;
  const std::vector<std::uint8_t> initial = MakeTableFile(dir.File("initial.at4"));
  const std::int64_t total = CommitOperations(initial, dir.File("reference.at4"));
  ASSERT_GT(total, 8);
  for (std::int64_t k = 1; k < total; k += std::max<std::int64_t>(1, total / 10)) {
    const std::string file = dir.File("run" + std::to_string(k) + ".at4");
    WriteAll(file, initial);
    {
      Connection survivor(file);
      survivor.Table();
      KillWriterInCommit(file, k);
      survivor.InsertLocked(5000, 1, 0);
      EXPECT_EQ(survivor.Table().ScanIds().size(), static_cast<std::size_t>(kInitialRecords + 1)) << "killed at " << k;
    }
    EXPECT_EQ(Damage(file), "") << "killed at " << k << " of " << total;
    EXPECT_EQ(RecordCount(file), kInitialRecords + 1) << "killed at " << k;
  }
}

// A session whose changes rest on pages read while a gone writer's journal lay beside the file
// does not commit them once that journal was rolled back; read again, its change goes through.
TEST(Recovery, ChangesReadBeforeARollbackAreRefused) {
  TempDir dir;
  const std::vector<std::uint8_t> initial = MakeTableFile(dir.File("initial.at4"));
  const std::int64_t total = CommitOperations(initial, dir.File("reference.at4"));
  const std::string file = dir.File("t.at4");
  WriteAll(file, initial);
  Connection survivor(file);
  survivor.Table();
  KillWriterInCommit(file, total - 2);
  TNRDDiskPageManager& pm = *survivor.db.DiskPageManager();
  // Raw page reads look at no journal: the page comes from the half-written file.
  const std::int32_t page = pm.FreeSpaceManager()->LastUsedPageNo();
  storagetest::FillPage(pm, survivor.Id(), page, 0x5A);
  EXPECT_EQ(CodeOf([&] { pm.ApplyChanges(survivor.Id()); }), 20302);
  EXPECT_EQ(pm.RecoveredChangeSets(), 1);
  EXPECT_FALSE(pm.HasChanges(survivor.Id()));
  storagetest::FillPage(pm, survivor.Id(), page, 0x5A);
  pm.ApplyChanges(survivor.Id());
  EXPECT_EQ(storagetest::FirstDataByte(pm, survivor.Id(), page), 0x5A);
  EXPECT_EQ(survivor.Table().ScanIds().size(), static_cast<std::size_t>(kInitialRecords));
}

// Readers of records, BLOB values and indexes never see "Database is locked" while another
// process holds the header lock for its commit.
TEST(Recovery, ReadersDoNotNeedTheHeaderLock) {
  TempDir dir;
  const std::string file = dir.File("t.at4");
  MakeTableFile(file, 3000);  // values longer than a page: chains of BLOB pages
  Connection reader(file);
  TableCursor& t = reader.Table();
  auto committer = storagetest::OpenDb(file, {}, nullptr, true);
  ASSERT_TRUE(committer->LockDBHeader());
  ASSERT_TRUE(reader.Disk().LockTable(reader.Id(), ltS, 10, 1, false));
  reader.Disk().LoadMostUpdated(reader.Id());
  std::vector<std::int32_t> ids;
  t.cursor.FirstPosition = true;
  t.cursor.LastPosition = false;
  while (t.Read(grmNext) == grrOK) {
    ids.push_back(t.Id());
    EXPECT_EQ(t.GetBlob(), Pattern(3000, static_cast<unsigned>(t.Id())));
  }
  reader.Disk().UnlockTable(reader.Id(), ltS, false);
  EXPECT_EQ(ids.size(), static_cast<std::size_t>(kInitialRecords));
  committer->UnlockDBHeader();
}

// Pages the file's free space marks used that the check calls leaked.
std::vector<std::int32_t> Leaked(const std::string& file, bool& sound, std::string& report) {
  auto pm = storagetest::OpenDb(file);  // a bare page manager gives nothing back
  std::ostringstream out;
  std::vector<std::int32_t> leaked;
  sound = CheckDatabaseTables(*pm, out, 1, &leaked);
  report = out.str();
  return leaked;
}

// A writer that dies in the middle of a big transaction leaves the pages it took for it marked
// used. The check reports them on their own line, not as damage; the next opener that has the
// file to itself gives them back, and while another opener is there nothing is touched. A writer
// that closes the file with its batch never applied leaves nothing behind.
TEST(Recovery, PagesOfAnUnfinishedTransactionAreGivenBack) {
  for (const bool killed : {true, false}) {
    TempDir dir;
    const std::string file = dir.File("t.at4");
    MakeTableFile(file);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      try {
        Connection w(file);
        TableCursor& t = w.Table();
        if (w.Disk().LockTable(w.Id(), ltRW, 100, 10, false)) {
          w.Disk().LoadMostUpdated(w.Id());
          t.cursor.FBatchUpdate = true;
          for (int i = 0; i < 300; ++i) {
            t.Fill(2000 + i, "big");
            t.SetBlob(Pattern(700, static_cast<unsigned>(i)));
            TNRDCursor* c = &t.cursor;
            t.table->InsertRecord(c);
          }
        }
        if (killed) ::kill(::getpid(), SIGKILL);
      } catch (...) {
      }
      ::_exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_EQ(WIFSIGNALED(status), killed);
    bool sound = false;
    std::string report;
    const std::size_t leaked = Leaked(file, sound, report).size();
    EXPECT_TRUE(sound) << report;
    // The dead writer's record in the register stays for the next opener; a closed one leaves none.
    EXPECT_EQ(std::filesystem::exists(file + "-reserves"), killed);
    if (!killed) {
      EXPECT_EQ(leaked, 0u) << report;
      continue;
    }
    EXPECT_GT(leaked, 30u) << report;
    EXPECT_NE(report.find("leaked pages: " + std::to_string(leaked) + " ("), std::string::npos) << report;
    {
      auto other = storagetest::OpenDb(file, {}, nullptr, true);
      Connection c(file);
      EXPECT_EQ(c.Table().ScanIds().size(), static_cast<std::size_t>(kInitialRecords));
    }
    EXPECT_EQ(Leaked(file, sound, report).size(), leaked) << "pages were given back beside another opener";
    EXPECT_TRUE(std::filesystem::exists(file + "-reserves"));
    { Connection alone(file); }
    EXPECT_FALSE(std::filesystem::exists(file + "-reserves"));
    EXPECT_TRUE(Leaked(file, sound, report).empty()) << report;
    EXPECT_TRUE(sound) << report;
    EXPECT_EQ(RecordCount(file), kInitialRecords);
  }
}

// The reserve register lives as long as its openers: it stays while one of them is left and goes
// with the last, so closing a database leaves nothing beside it.
TEST(Recovery, TheReserveRegisterGoesWithItsLastOpener) {
  TempDir dir;
  const std::string file = dir.File("t.at4");
  const std::string reg = file + "-reserves";
  MakeTableFile(file);
  EXPECT_FALSE(std::filesystem::exists(reg));
  {
    Connection a(file);
    {
      Connection b(file);
      a.InsertLocked(5000, 20, 3000);  // values longer than a page: new pages from a reserve
      b.InsertLocked(6000, 20, 3000);
      EXPECT_TRUE(std::filesystem::exists(reg));
    }
    EXPECT_TRUE(std::filesystem::exists(reg)) << "taken away from under an opener";
    a.InsertLocked(7000, 20, 3000);
  }
  EXPECT_FALSE(std::filesystem::exists(reg));
  EXPECT_EQ(RecordCount(file), kInitialRecords + 60);
  EXPECT_EQ(Damage(file), "");
}

// A file whose header lies behind other data: every opener locks the header byte at the same
// place, so an opener waits for a live writer instead of rolling its change set back.
TEST(Recovery, OpenerOfAFileWithDataInFrontWaitsForTheLiveWriter) {
  TempDir dir;
  const std::string file = dir.File("t.at4");
  std::vector<std::uint8_t> bytes(3000, 'x');
  {
    auto pm = storagetest::CreateDb(dir.File("plain.at4"), 512, 4);
    for (int i = 0; i < 20; ++i) storagetest::AddFilledPage(*pm, 0, static_cast<std::uint8_t>(i));
    pm->ApplyChanges(0);
  }
  const std::vector<std::uint8_t> plain = ReadAll(dir.File("plain.at4"));
  bytes.insert(bytes.end(), plain.begin(), plain.end());
  WriteAll(file, bytes);
  // A journal of a change set that is still being written, as its live writer leaves it.
  std::vector<std::uint8_t> journal;
  {
    FaultFileSystem fs;
    auto pm = storagetest::OpenDb(file, {}, &fs);
    ASSERT_EQ(pm->OffsetToDBHeader(), 3000);
    storagetest::FillPage(*pm, 0, 2, 0xEE);
    fs.Budget = fs.Used + 3;  // the journal, the file's first write, then nothing
    EXPECT_NE(CodeOf([&] { pm->ApplyChanges(0); }), 0);
  }
  journal = ReadAll(file + "-journal");
  ASSERT_FALSE(journal.empty());
  ::unlink((file + "-journal").c_str());
  const std::vector<std::uint8_t> inFlight = ReadAll(file);
  auto writer = storagetest::OpenDb(file, {}, nullptr, true);
  ASSERT_TRUE(writer->LockDBHeader());
  WriteAll(file + "-journal", journal);
  EXPECT_EQ(CodeOf([&] { storagetest::OpenDb(file, {}, nullptr, true); }), 20230);
  EXPECT_EQ(ReadAll(file), inFlight) << "the live writer's change set was rolled back";
  writer->UnlockDBHeader();
  writer.reset();
  { storagetest::OpenDb(file); }
  EXPECT_EQ(ReadAll(file), bytes);
}

}  // namespace
