// Process-wide engine objects, session components and the local session.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/components/NRDSession.h"
#include "engine/foundation/NRDExcept.h"

using namespace nrd;

namespace {

int CodeOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const ENRDException& e) {
    return e.NativeError;
  }
  return 0;
}

// A database object standing in for the disk engine's: counts how often it was made.
class FakeDiskDatabase : public TNRDDatabaseData {
 public:
  FakeDiskDatabase() { ++Made; }
  ~FakeDiskDatabase() override { ++Freed; }
  std::int32_t GetNewObjectId() override { return ++last; }
  void CreateDatabase() override { ++Created; }
  static inline int Made = 0, Freed = 0, Created = 0;
  std::int32_t last = 0;
};

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterDiskDatabaseMaker([](TNRDLocalSession&) { return new FakeDiskDatabase(); });
    EngineStartup();
    FakeDiskDatabase::Made = FakeDiskDatabase::Freed = FakeDiskDatabase::Created = 0;
    dir = std::filesystem::temp_directory_path() / ("trevolan-sessions-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override {
    EngineShutdown();
    RegisterDiskDatabaseMaker(nullptr);
    std::filesystem::remove_all(dir);
  }
  std::string File(const std::string& name) {
    const auto p = dir / name;
    std::ofstream(p) << "x";
    return p.string();
  }
  std::filesystem::path dir;
};

}  // namespace

TEST_F(Engine, StartupIsCountedAndMakesTheDefaultObjects) {
  EXPECT_TRUE(EngineStarted());
  EXPECT_EQ(DatabaseDataList().Count(), 2);  // "MEMORY" and "TEMP"
  EXPECT_EQ(DatabaseDataList().Items()[0], MemoryDatabaseData());
  EXPECT_EQ(SessionList().FindSession("")->SessionName(), "Default");
  EXPECT_TRUE(DefaultSession().IsDefault());
  EngineStartup();
  EngineShutdown();
  EXPECT_TRUE(EngineStarted());  // the second start-up only counted
}

TEST(EngineStopped, ObjectsNeedStartup) {
  EXPECT_EQ(CodeOf([] { DatabaseDataList(); }), 20007);
  EXPECT_EQ(CodeOf([] { SessionList(); }), 20007);
  EXPECT_EQ(CodeOf([] { CurrentSessionComponentManager(); }), 20007);
}

TEST_F(Engine, SessionNamesAndActivation) {
  TNRDSessionList& list = SessionList();
  EXPECT_EQ(&list.GetSessionByName(""), &DefaultSession());
  EXPECT_EQ(CodeOf([&] { list.GetSessionByName("nope"); }), 20002);

  TComponent module;
  module.SetName("Module");
  auto* s1 = new TNRDSession(&module);
  s1->SetName("S1");
  s1->SetSessionName("Work");
  auto* s2 = new TNRDSession(nullptr);
  s2->SetName("S2");
  try {
    s2->SetSessionName("WORK");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "S2: Duplicate session name 'WORK'");
  }
  EXPECT_EQ(list.FindSession("work"), s1);

  // Activating a session activates the default one first; an unnamed session cannot start.
  EXPECT_FALSE(DefaultSession().Active());
  s1->Open();
  EXPECT_TRUE(DefaultSession().Active());
  EXPECT_EQ(list.CurrentSession(), s1);
  EXPECT_THROW(s1->SetSessionName("Other"), EDatabaseError);
  try {
    s2->Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "S2: Session name missing");
  }
  s1->Close();
  EXPECT_EQ(list.CurrentSession(), &DefaultSession());
  delete s2;

  TNRDSession& opened = list.OpenSession("Extra");
  EXPECT_TRUE(opened.Active());
  std::vector<std::string> names;
  list.GetSessionNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"Default", "Work", "Extra"}));
}

TEST_F(Engine, AutomaticSessionNames) {
  TComponent a, b, c;
  auto* s1 = new TNRDSession(&a);
  s1->SetName("SessA");
  s1->SetAutoSessionName(true);
  auto* s2 = new TNRDSession(&b);
  s2->SetName("SessB");
  s2->SetAutoSessionName(true);
  EXPECT_EQ(s1->SessionName(), "SessA_1");
  EXPECT_EQ(s2->SessionName(), "SessB_2");
  s2->SetName("Renamed");
  EXPECT_EQ(s2->SessionName(), "Renamed_2");
  EXPECT_THROW(s1->SetSessionName("x"), EDatabaseError);
  try {
    new TNRDSession(&a);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(),
                 "Cannot add a session to the form or data-module while session 'SessA' has AutoSessionName enabled");
  }
  EXPECT_EQ(a.ComponentCount(), 1);
  // A number comes back only when the automatic name is switched off.
  s1->SetAutoSessionName(false);
  auto* s3 = new TNRDSession(&c);
  s3->SetName("SessC");
  auto* extra = new TNRDSession(&c);
  EXPECT_THROW(s3->SetAutoSessionName(true), EDatabaseError);  // two sessions on one owner
  delete extra;
  s3->SetAutoSessionName(true);
  EXPECT_EQ(s3->SessionName(), "SessC_1");
}

TEST_F(Engine, LocalSessionsShareDatabaseObjectsByFile) {
  TNRDLocalSession mem;
  mem.FDatabaseName = "memory";
  mem.SetConnected(true);
  EXPECT_EQ(mem.DatabaseData(), MemoryDatabaseData());
  mem.SetConnected(false);
  EXPECT_EQ(DatabaseDataList().Count(), 2);  // the memory and temporary databases stay

  const std::string file = File("family.at4");
  const auto link = dir / "link.at4";
  std::filesystem::create_symlink(file, link);
  TNRDLocalSession a, b, other;
  a.FDatabaseName = b.FDatabaseName = other.FDatabaseName = "Family";
  a.FDatabaseFileName = file;
  b.FDatabaseFileName = link.string();  // another name of the same file
  other.FDatabaseFileName = File("other.at4");
  a.SetConnected(true);
  b.SetConnected(true);
  other.SetConnected(true);
  EXPECT_EQ(a.DatabaseData(), b.DatabaseData());
  EXPECT_NE(a.DatabaseData(), other.DatabaseData());
  EXPECT_EQ(FakeDiskDatabase::Made, 2);
  EXPECT_EQ(CodeOf([&] {
              TNRDLocalSession c;
              c.FDatabaseName = "Family";
              c.FDatabaseFileName = file;
              c.CreateDatabase();
            }),
            20092);
  a.SetConnected(false);
  EXPECT_EQ(FakeDiskDatabase::Freed, 0);  // b still uses it
  b.SetConnected(false);
  EXPECT_EQ(FakeDiskDatabase::Freed, 1);
  EXPECT_EQ(DatabaseDataList().Count(), 3);

  // Multi-user: one object per session name.
  TNRDLocalSession m1, m2;
  m1.FDatabaseFileName = m2.FDatabaseFileName = file;
  m1.FSessionName = "one";
  m2.FSessionName = "two";
  m1.SetConnected(true);
  m2.SetConnected(true);
  EXPECT_NE(m1.DatabaseData(), m2.DatabaseData());

  // Creating a file that no session has open makes and releases a database object.
  TNRDLocalSession creator;
  creator.FDatabaseFileName = (dir / "new.at4").string();
  const int freed = FakeDiskDatabase::Freed;
  creator.CreateDatabase();
  EXPECT_EQ(FakeDiskDatabase::Created, 1);
  EXPECT_EQ(FakeDiskDatabase::Freed, freed + 1);
  EXPECT_FALSE(creator.GetConnected());

  EXPECT_EQ(CodeOf([&] { m1.Commit(true); }), 20229);
  EXPECT_EQ(CodeOf([&] { m1.Rollback(); }), 20229);
  m1.StartTransaction();
  m1.Commit(false);
  EXPECT_FALSE(m1.FInTransaction);
}

TEST(LocalBLOBStream, ReadModeRefusesWrites) {
  auto inner = std::make_unique<TNRDMemoryStream>();
  inner->Write("abc", 3);
  inner->SetPosition(0);
  TNRDLocalBLOBStream r(std::move(inner), bomRead, 2);
  char buf[3];
  EXPECT_EQ(r.Read(buf, 3), 3);
  EXPECT_EQ(CodeOf([&] { r.Write("x", 1); }), 10115);
  EXPECT_EQ(CodeOf([&] { r.SetSize(0); }), 10116);
  EXPECT_EQ(r.GetSize(), 3);
  TNRDLocalBLOBStream w(std::make_unique<TNRDMemoryStream>(), bomReadWrite, 0);
  EXPECT_EQ(w.Write("xy", 2), 2);
  EXPECT_TRUE(w.Modified());
  w.SetSize(1);
  EXPECT_EQ(w.GetSize(), 1);
}
