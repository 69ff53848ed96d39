// Session slots of a database file, the table list, and table and record locks between the
// sessions of one process and between two processes.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDDiskDatabase.h"
#include "engine/storage/NRDDiskPageManager.h"
#include "engine/storage/NRDLockManager.h"
#include "engine/storage/NRDSystemFiles.h"
#include "tests/engine-foundation/EngineTestUtil.h"
#include "tests/engine-storage/LockPeer.h"
#include "tests/engine-storage/StorageTestUtil.h"

using namespace nrd;
using enginetest::ExpectNRD;
using namespace enginetest_tables;

namespace {

struct LockFixture {
  storagetest::TempDir dir;
  std::string file = dir.File("locks.at4");
  TNRDDiskDatabaseData db;
  TestSession session;
  std::int32_t table = -1;  // first page of a table locks file
  explicit LockFixture(std::int32_t maxSessions = 5) {
    TNRDDiskDatabaseData creator;
    creator.FDatabaseName = file;
    creator.FMaxSessionCount = maxSessions;
    creator.CreateDatabase();
    db.FDatabaseName = file;
    session.FMultiUser = true;
    db.ConnectSession(&session);
    TNRDTableLocksFile f(db.DiskPageManager());
    table = f.CreateFile(maxSessions);
    db.DiskPageManager()->ApplyChanges(-2);
  }
  ~LockFixture() {
    for (std::int32_t s = 0; s < db.TableLockManager()->MaxSessionCount(); ++s)
      db.TableLockManager()->SessionLocks(s).Clear();
    db.DisconnectSession(&session);
  }
  std::unique_ptr<TNRDTableLocksFile> Open() {
    auto f = std::make_unique<TNRDTableLocksFile>(db.DiskPageManager());
    f->OpenFile(table);
    return f;
  }
  TNRDDatabaseTableLockManager& Locks() { return *db.TableLockManager(); }
};

const char* kTypeNames[] = {"IS", "S", "SIRW", "XIRW", "RW", "U", "X"};

TEST(SessionSlots, MultiUserSlotsAndSingleUserConnections) {
  LockFixture f(5);
  EXPECT_EQ(f.session.FSessionID, 0);
  TestSession more[5];
  for (int i = 0; i < 4; ++i) {
    more[i].FMultiUser = true;
    f.db.ConnectSession(&more[i]);
    EXPECT_EQ(more[i].FSessionID, i + 1);
  }
  EXPECT_EQ(f.db.GetDBFileConnectionsCount(), 5);
  more[4].FMultiUser = true;
  ExpectNRD([&] { f.db.ConnectSession(&more[4]); }, 20094);  // the sixth of five
  f.db.DisconnectSession(&more[1]);
  f.db.ConnectSession(&more[4]);
  EXPECT_EQ(more[4].FSessionID, 2);  // the freed slot
  // A session that wants the other mode on this object is refused.
  TestSession single;
  ExpectNRD([&] { f.db.ConnectSession(&single); }, 20235);
  // Another opener that wants single-user mode gets the file read-only.
  TNRDDiskDatabaseData other;
  other.FDatabaseName = f.file;
  TestSession s2;
  other.ConnectSession(&s2);
  EXPECT_FALSE(other.FSingleUserConnected);
  EXPECT_TRUE(other.FReadOnly);
  other.DisconnectSession(&s2);
  for (int i : {0, 2, 3, 4}) f.db.DisconnectSession(&more[i]);
}

TEST(SessionSlots, SingleUserHoldsEverySlot) {
  storagetest::TempDir dir;
  TNRDDiskDatabaseData creator;
  creator.FDatabaseName = dir.File("single.at4");
  creator.FMaxSessionCount = 3;
  creator.CreateDatabase();
  TNRDDiskDatabaseData first;
  first.FDatabaseName = creator.FDatabaseName;
  TestSession a, b;
  first.ConnectSession(&a);
  first.ConnectSession(&b);  // the same process shares its single-user connection
  EXPECT_TRUE(first.FSingleUserConnected);
  EXPECT_FALSE(first.FReadOnly);
  EXPECT_EQ(first.GetDBFileConnectionsCount(), 3);
  TNRDDiskDatabaseData second;
  second.FDatabaseName = creator.FDatabaseName;
  TestSession m;
  m.FMultiUser = true;
  ExpectNRD([&] { second.ConnectSession(&m); }, 20094);
  EXPECT_FALSE(second.IsOpen());  // a failed first connect closes the file again
  first.DisconnectSession(&a);
  EXPECT_TRUE(first.FSingleUserConnected);  // b is still there
  first.DisconnectSession(&b);
  EXPECT_FALSE(first.IsOpen());
  second.ConnectSession(&m);
  EXPECT_EQ(m.FSessionID, 0);
  second.DisconnectSession(&m);
}

TEST(TableList, NamesCaseAndSaving) {
  LockFixture f;
  TNRDTableListFile& list = *f.db.TableListFile();
  list.AddTable(11, "Persons", 20, 21, 22);
  ExpectNRD([&] { list.AddTable(12, "PERSONS", 1, 2, 3); }, 30395);
  std::vector<std::string> names;
  list.GetTablesList(names);  // reloads: the unsaved table is not there
  EXPECT_TRUE(names.empty());
  f.db.AddTable(11, "Persons", 20, 21, 22);
  f.db.AddTable(13, std::string(300, 'x'), 30, 31, 32);
  f.db.DiskPageManager()->ApplyChanges(-2);
  std::int32_t id = 0, meta = 0, most = 0, locks = 0;
  f.db.OpenTable("persons", id, meta, most, locks);
  EXPECT_EQ(std::vector<std::int32_t>({id, meta, most, locks}), std::vector<std::int32_t>({11, 20, 21, 22}));
  f.db.RenameTable("PERSONS", "People");
  f.db.RemoveTable(std::string(255, 'X'));  // stored cut to 255 characters
  f.db.DiskPageManager()->ApplyChanges(-2);
  names.clear();
  f.db.GetTablesList(names);
  EXPECT_EQ(names, std::vector<std::string>{"People"});
  ExpectNRD([&] { f.db.OpenTable("Persons", id, meta, most, locks); }, 30396);
  ExpectNRD([&] { f.db.RemoveTable("Persons"); }, 30405);
  ExpectNRD([&] { f.db.RenameTable("Persons", "x"); }, 30397);
}

TEST(LockManager, CompatibilityMatrixBetweenTwoProcesses) {
  LockFixture f;
  auto file = f.Open();
  LockPeer peer(f.file);
  ASSERT_EQ(peer.Ask("S"), "1");
  const std::string t = std::to_string(f.table);
  for (int h = 0; h < 7; ++h) {
    ASSERT_TRUE(peer.Yes("L " + t + " " + std::to_string(h))) << kTypeNames[h];
    for (int r = 0; r < 7; ++r) {
      const auto type = static_cast<TNRDLockType>(r);
      const bool granted = f.Locks().LockTable(0, type, *file, 1, 0, false, false);
      EXPECT_EQ(granted, LockTypesCompatible(static_cast<TNRDLockType>(h), type))
          << "held " << kTypeNames[h] << " requested " << kTypeNames[r];
      if (granted) {
        EXPECT_TRUE(f.Locks().UnlockTable(0, type, *file, false, false));
      }
    }
    ASSERT_TRUE(peer.Yes("U " + t + " " + std::to_string(h)));
  }
  // The other way round for the pairs that are not symmetric.
  ASSERT_TRUE(f.Locks().LockTable(0, ltS, *file, 1, 0, false, false));
  EXPECT_FALSE(peer.Yes("L " + t + " 4"));  // RW refused while S is held
  EXPECT_TRUE(peer.Yes("L " + t + " 0"));   // IS granted
  EXPECT_TRUE(peer.Yes("U " + t + " 0"));
  EXPECT_TRUE(f.Locks().UnlockTable(0, ltS, *file, false, false));
  EXPECT_TRUE(peer.Yes("L " + t + " 4"));
  EXPECT_TRUE(peer.Yes("U " + t + " 4"));
}

TEST(LockManager, RecordLocksAndAKilledProcess) {
  LockFixture f;
  auto file = f.Open();
  const std::string t = std::to_string(f.table);
  {
    LockPeer peer(f.file);
    ASSERT_TRUE(peer.Yes("R " + t + " 5 1"));
    EXPECT_TRUE(f.Locks().IsRecordLocked(0, *file, TNRDPageItemID{5, 1}));
    EXPECT_FALSE(f.Locks().IsRecordLocked(0, *file, TNRDPageItemID{5, 2}));
    EXPECT_FALSE(f.Locks().LockRecord(0, *file, TNRDPageItemID{5, 1}, 2, 1));
    EXPECT_TRUE(f.Locks().LockRecord(0, *file, TNRDPageItemID{5, 2}, 1, 0));
    EXPECT_FALSE(f.Locks().LockRecord(0, *file, TNRDPageItemID{5, 3}, 1, 0));  // one per session and table
    EXPECT_FALSE(f.Locks().IsRecordLocked(0, *file, TNRDPageItemID{5, 2}));    // its own lock does not count
    EXPECT_EQ(peer.Ask("R " + t + " 5 2"), "0");
    EXPECT_TRUE(f.Locks().UnlockRecord(0, *file, TNRDPageItemID{5, 2}));
    EXPECT_FALSE(f.Locks().UnlockRecord(0, *file, TNRDPageItemID{5, 2}));
    ASSERT_TRUE(peer.Yes("L " + t + " 6"));  // ltX: the peer holds the whole file
    EXPECT_FALSE(f.Locks().LockTable(0, ltIS, *file, 2, 2, false, false));
    peer.Kill();
  }
  // The system released what the killed process held.
  EXPECT_TRUE(f.Locks().LockTable(0, ltX, *file, 1, 0, false, false));
  EXPECT_TRUE(f.Locks().LockRecord(0, *file, TNRDPageItemID{5, 1}, 1, 0));  // logical under ltX
  EXPECT_TRUE(f.Locks().UnlockRecord(0, *file, TNRDPageItemID{5, 1}));
  EXPECT_TRUE(f.Locks().UnlockTable(0, ltX, *file, false, false));
}

TEST(LockManager, RecordLocksOfTwoHoldersInOneSessionAndAnotherProcess) {
  LockFixture f;
  auto file = f.Open();
  auto& lm = f.Locks();
  const std::string t = std::to_string(f.table);
  int a = 0, b = 0, c = 0;  // three data sets of session 0
  ASSERT_TRUE(lm.LockRecord(0, *file, TNRDPageItemID{5, 1}, 1, 0, &a));
  ASSERT_TRUE(lm.LockRecord(0, *file, TNRDPageItemID{5, 2}, 1, 0, &b));
  EXPECT_EQ(lm.SessionLocks(0).Find(ltU, f.table)->Count, 2);
  EXPECT_FALSE(lm.LockRecord(0, *file, TNRDPageItemID{5, 3}, 1, 0, &a));  // one per holder and table
  EXPECT_FALSE(lm.LockRecord(0, *file, TNRDPageItemID{5, 1}, 2, 1, &c));  // another holder's record
  EXPECT_TRUE(lm.IsRecordLocked(0, *file, TNRDPageItemID{5, 1}, &c));
  EXPECT_FALSE(lm.IsRecordLocked(0, *file, TNRDPageItemID{5, 1}, &a));
  {
    LockPeer peer(f.file);
    EXPECT_EQ(peer.Ask("R " + t + " 5 1"), "0");
    EXPECT_EQ(peer.Ask("R " + t + " 5 2"), "0");  // the session's second record lock is seen too
    // The record in the session's slot goes first; the other one stays locked.
    EXPECT_TRUE(lm.UnlockRecord(0, *file, TNRDPageItemID{5, 1}, &a));
    EXPECT_FALSE(lm.UnlockRecord(0, *file, TNRDPageItemID{5, 1}, &a));
    EXPECT_EQ(peer.Ask("R " + t + " 5 2"), "0");
    ASSERT_TRUE(peer.Yes("R " + t + " 5 1"));
    EXPECT_FALSE(lm.LockRecord(0, *file, TNRDPageItemID{5, 1}, 2, 1, &a));
    EXPECT_TRUE(lm.IsRecordLocked(0, *file, TNRDPageItemID{5, 1}, &a));
    ASSERT_TRUE(peer.Yes("r " + t + " 5 1"));
    EXPECT_EQ(peer.Ask("L " + t + " 6"), "0");  // ltX: session 0 still holds a record
    EXPECT_TRUE(lm.UnlockRecord(0, *file, TNRDPageItemID{5, 2}, &b));
    EXPECT_EQ(lm.SessionLocks(0).Count(), 0);
    EXPECT_TRUE(peer.Yes("R " + t + " 5 2"));
    EXPECT_TRUE(peer.Yes("r " + t + " 5 2"));
    EXPECT_TRUE(peer.Yes("L " + t + " 6"));
    EXPECT_TRUE(peer.Yes("U " + t + " 6"));
  }
}

TEST(LockManager, AHolderWaitsForAnotherHoldersRecordWithinItsTries) {
  LockFixture f;
  auto file = f.Open();
  auto& lm = f.Locks();
  int a = 0, b = 0;
  ASSERT_TRUE(lm.LockRecord(0, *file, TNRDPageItemID{7, 0}, 1, 0, &a));
  // The lock manager leaves its critical section while it waits, so the holder can let go.
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    lm.UnlockRecord(0, *file, TNRDPageItemID{7, 0}, &a);
  });
  const bool granted = lm.LockRecord(0, *file, TNRDPageItemID{7, 0}, 500, 20, &b);
  releaser.join();
  EXPECT_TRUE(granted);
  EXPECT_TRUE(lm.UnlockRecord(0, *file, TNRDPageItemID{7, 0}, &b));
}

TEST(LockManager, LocksOfOneProcessCountAndTakeOver) {
  LockFixture f;
  TestSession second;
  second.FMultiUser = true;
  f.db.ConnectSession(&second);
  ASSERT_EQ(second.FSessionID, 1);
  auto file = f.Open();
  auto& lm = f.Locks();
  // SIRW twice (two data sets of the session editing) counts like S, and needs two unlocks.
  EXPECT_TRUE(lm.LockTable(0, ltSIRW, *file, 1, 0, false, false));
  EXPECT_TRUE(lm.LockTable(0, ltSIRW, *file, 1, 0, false, false));
  EXPECT_TRUE(lm.UnlockTable(0, ltSIRW, *file, false, false));
  EXPECT_FALSE(lm.LockTable(1, ltXIRW, *file, 1, 0, false, false));  // one SIRW is still held
  EXPECT_TRUE(lm.UnlockTable(0, ltSIRW, *file, false, false));
  EXPECT_TRUE(lm.LockTable(1, ltXIRW, *file, 1, 0, false, false));
  EXPECT_TRUE(lm.UnlockTable(1, ltXIRW, *file, false, false));
  EXPECT_TRUE(lm.LockTable(0, ltS, *file, 1, 0, false, false));
  EXPECT_TRUE(lm.LockTable(0, ltS, *file, 1, 0, false, false));
  EXPECT_TRUE(lm.UnlockTable(0, ltS, *file, false, false));
  EXPECT_FALSE(lm.LockTable(1, ltRW, *file, 1, 0, false, false));  // one S is still held
  EXPECT_TRUE(lm.UnlockTable(0, ltS, *file, false, false));
  EXPECT_TRUE(lm.LockTable(1, ltRW, *file, 1, 0, false, false));
  EXPECT_TRUE(lm.UnlockTable(1, ltRW, *file, false, false));
  ExpectNRD([&] { lm.UnlockTable(0, ltS, *file, false, false); }, 20202);
  EXPECT_TRUE(lm.UnlockTable(0, ltS, *file, true, false));
  // An S taken under a held RW is logical; when RW goes, S takes its own byte.
  EXPECT_TRUE(lm.LockTable(0, ltRW, *file, 1, 0, false, false));
  EXPECT_TRUE(lm.LockTable(0, ltS, *file, 1, 0, false, false));
  EXPECT_FALSE(lm.SessionLocks(0).Find(ltS, f.table)->HasPhysicalLock);
  EXPECT_FALSE(file->IsTableLockedByAnyOtherSession(1, ltS));
  EXPECT_TRUE(lm.UnlockTable(0, ltRW, *file, false, false));
  EXPECT_TRUE(lm.SessionLocks(0).Find(ltS, f.table)->HasPhysicalLock);
  EXPECT_TRUE(file->IsTableLockedByAnyOtherSession(1, ltS));
  EXPECT_FALSE(lm.LockTable(1, ltRW, *file, 1, 0, false, false));
  EXPECT_TRUE(lm.UnlockTable(0, ltS, *file, false, false));
  // XIRW next to another session's SIRW only when allowed.
  EXPECT_TRUE(lm.LockTable(1, ltSIRW, *file, 1, 0, false, false));
  EXPECT_FALSE(lm.LockTable(0, ltXIRW, *file, 1, 0, false, false));
  EXPECT_TRUE(lm.LockTable(0, ltXIRW, *file, 1, 0, false, true));
  // Commit: XIRW gets an RW (refused while the other session holds SIRW? no: SIRW admits RW).
  EXPECT_TRUE(lm.AddRWLocksBeforeCommit(0));
  EXPECT_TRUE(lm.SessionLocks(0).LockExists(ltRW, f.table));
  EXPECT_TRUE(lm.ClearTransactionLocks(0));
  EXPECT_EQ(lm.SessionLocks(0).Count(), 0);
  EXPECT_TRUE(lm.UnlockTable(1, ltSIRW, *file, false, false));
  // A record lock ends its transaction as an SIRW on the table.
  EXPECT_TRUE(lm.LockRecord(0, *file, TNRDPageItemID{9, 0}, 1, 0));
  EXPECT_TRUE(lm.ClearTransactionLocks(0));
  EXPECT_TRUE(lm.SessionLocks(0).LockExists(ltSIRW, f.table));
  EXPECT_TRUE(lm.UnlockRecord(0, *file, TNRDPageItemID{9, 0}));
  EXPECT_TRUE(lm.UnlockTable(0, ltSIRW, *file, false, false));
  // Two record locks of the session (two data sets) end it as two SIRW, one for each post.
  int holderA = 0, holderB = 0;
  EXPECT_TRUE(lm.LockRecord(0, *file, TNRDPageItemID{9, 0}, 1, 0, &holderA));
  EXPECT_TRUE(lm.LockRecord(0, *file, TNRDPageItemID{9, 1}, 1, 0, &holderB));
  EXPECT_TRUE(lm.ClearTransactionLocks(0));
  EXPECT_EQ(lm.SessionLocks(0).Find(ltSIRW, f.table)->Count, 2);
  EXPECT_TRUE(lm.UnlockRecord(0, *file, TNRDPageItemID{9, 0}, &holderA));
  EXPECT_TRUE(lm.UnlockRecord(0, *file, TNRDPageItemID{9, 1}, &holderB));
  EXPECT_TRUE(lm.UnlockTable(0, ltSIRW, *file, false, false));
  EXPECT_TRUE(lm.UnlockTable(0, ltSIRW, *file, false, false));
  // A commit whose RW cannot be had fails and leaves no RW behind.
  EXPECT_TRUE(lm.LockTable(0, ltXIRW, *file, 1, 0, false, false));
  EXPECT_TRUE(lm.LockTable(1, ltS, *file, 1, 0, false, false));
  lm.SetReleaseRetry(3, 1);
  // (900 tries of 100 ms would take minutes: the other session lets go of S in between is not
  // modelled here; a session that holds S blocks RW, which is what is checked.)
  EXPECT_TRUE(lm.UnlockTable(1, ltS, *file, false, false));
  EXPECT_TRUE(lm.ClearTransactionLocks(0));
  f.db.DisconnectSession(&second);
}

TEST(LockManager, ExclusiveDatabaseGrantsAtOnceAndSessionsFileErrors) {
  storagetest::TempDir dir;
  TNRDDiskDatabaseData creator;
  creator.FDatabaseName = dir.File("x.at4");
  creator.CreateDatabase();
  TNRDDiskDatabaseData db;
  db.FDatabaseName = creator.FDatabaseName;
  TestSession s;
  s.FExclusive = true;
  db.ConnectSession(&s);
  TNRDTableLocksFile file(db.DiskPageManager());
  const std::int32_t start = file.CreateFile(4);
  db.DiskPageManager()->ApplyChanges(-2);
  file.OpenFile(start);
  EXPECT_TRUE(db.TableLockManager()->LockTable(0, ltX, file, 1, 0, false, false));
  EXPECT_TRUE(db.TableLockManager()->UnlockTable(0, ltS, file, false, false));  // nothing held, still true
  TNRDTableLocksFile closed(db.DiskPageManager());
  ExpectNRD([&] { closed.LockTable(0, ltS); }, 10489);
  ExpectNRD([&] { closed.IsRecordLockedByAnyOtherSession(0, TNRDPageItemID{}); }, 10493);
  ExpectNRD([&] { (void)closed.StartPageNo(); }, 10483);
  ExpectNRD([&] { file.LockTable(4, ltS); }, 20200);
  db.DisconnectSession(&s);
}

}  // namespace
