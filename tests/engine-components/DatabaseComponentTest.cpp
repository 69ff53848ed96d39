// The database component: opening with and without a password (a wrong one asks again through
// the password event or the registered dialog), the session's database lookups, and the
// maintenance operations that rebuild the file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>

#include <fstream>
#include <random>

#include "ComponentsFixture.h"
#include "platform/EngineDialogs.h"
#include "engine/foundation/NRDExcept.h"
#include "FileSound.h"

using namespace nrd;

namespace {

int NativeError(const std::function<void()>& f) {
  try {
    f();
  } catch (const ENRDException& e) {
    return e.NativeError;
  } catch (const std::exception&) {
    return -1;
  }
  return 0;
}

// Answers the password dialog from a list; records every wait form shown.
class FakeDialogs : public platform::TEngineDialogs {
 public:
  std::vector<std::string> answers;
  int asked = 0;
  std::vector<std::string> waitTexts;
  std::vector<int> positions;
  int abortAt = -1;  // the wait form's Abort is pressed once progress reaches this

  class Form : public platform::TEngineWaitForm {
   public:
    explicit Form(FakeDialogs& d) : d_(d) {}
    void Show(const std::string& text) override { d_.waitTexts.push_back(text); }
    void SetPosition(int p) override {
      d_.positions.push_back(p);
      if (d_.abortAt >= 0 && p >= d_.abortAt) terminated_ = true;
    }
    bool Terminated() const override { return terminated_; }
    void ProcessMessages() override {}
    void Close() override { d_.closed++; }

   private:
    FakeDialogs& d_;
    bool terminated_ = false;
  };
  int closed = 0;

  std::unique_ptr<platform::TEngineWaitForm> CreateWaitForm() override { return std::make_unique<Form>(*this); }
  bool ShowPasswordDialog(const std::string&, std::string& password) override {
    if (asked >= static_cast<int>(answers.size())) return false;
    password = answers[static_cast<std::size_t>(asked++)];
    return true;
  }
  bool Confirm(const std::string&) override { return false; }
  void ShowMessage(platform::TEngineMessageKind, const std::string&) override {}
};

class DialogsScope {
 public:
  explicit DialogsScope(platform::TEngineDialogs* d) : old_(platform::SetEngineDialogs(d)) {}
  ~DialogsScope() { platform::SetEngineDialogs(old_); }

 private:
  platform::TEngineDialogs* old_;
};

// A table "T" of n records (id, text, blob) in the database `dbName`.
void MakeTable(ComponentsTest& fx, const std::string& dbName, int n, const std::string& name = "T") {
  auto t = std::make_unique<TNRDTable>(nullptr);
  t->SetDatabaseName(dbName);
  t->SetTableName(name);
  t->AdvFieldDefs().Add("id", aftInteger, 0, true);
  t->AdvFieldDefs().Add("text", aftString, 40, false);
  t->AdvFieldDefs().Add("data", aftBlob, 0, false);
  t->AdvIndexDefs().Add("pk", "id", ixPrimary);
  t->CreateTable();
  t->Open();
  for (int i = 1; i <= n; ++i)
    t->AppendRecord({IntValue(i), TextValue("row " + std::to_string(i)), TextValue(std::string(i % 7 * 100, 'b'))});
  t->Close();
  (void)fx;
}

// The records of "T" as text, in key order.
std::string Dump(const std::string& dbName, const std::string& name = "T") {
  TNRDTable t(nullptr);
  t.SetDatabaseName(dbName);
  t.SetTableName(name);
  t.SetIndexName("pk");
  t.Open();
  std::string out;
  for (t.First(); !t.Eof(); t.Next())
    out += t.FieldByName("id").AsString() + "|" + t.FieldByName("text").AsString() + "|" +
           std::to_string(t.FieldByName("data").AsBytes().size()) + "\n";
  return out;
}

using DatabaseComponent = ComponentsTest;

}  // namespace

TEST_F(DatabaseComponent, WrongPasswordAsksAgain) {
  TNRDDatabase& db = Database("Secret", file_, true, "right", craTwofish_256);
  MakeTable(*this, "Secret", 3);
  db.Close();

  // The event gives the right password on the second question.
  db.SetPassword("wrong");
  int asked = 0;
  db.OnPassword = [&](TComponent& sender, bool& cont) {
    ++asked;
    static_cast<TNRDDatabase&>(sender).SetPassword(asked == 1 ? "still wrong" : "right");
    cont = true;
  };
  db.Open();
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(db.CryptoAlgorithm(), craTwofish_256);
  EXPECT_EQ(Dump("Secret"), "1|row 1|100\n2|row 2|200\n3|row 3|300\n");
  db.Close();

  // Continue false re-raises the file's refusal.
  db.SetPassword("wrong");
  db.OnPassword = [](TComponent&, bool& cont) { cont = false; };
  EXPECT_EQ(NativeError([&] { db.Open(); }), 30445);
  EXPECT_FALSE(db.Connected());

  // Without an event: the registered dialog asks, unless the database is silent.
  db.OnPassword = nullptr;
  FakeDialogs dialogs;
  dialogs.answers = {"nope", "right"};
  DialogsScope scope(&dialogs);
  EXPECT_EQ(NativeError([&] { db.Open(); }), 30445);
  EXPECT_EQ(dialogs.asked, 0) << "a silent database asks nobody";
  db.SetSilentMode(false);
  db.Open();
  EXPECT_EQ(dialogs.asked, 2);
  EXPECT_EQ(db.Password(), "right");
}

TEST_F(DatabaseComponent, UnknownNameOpensATemporarySilentDatabase) {
  TNRDDatabase& db = Database("Family", file_);
  MakeTable(*this, "Family", 2);
  db.SetKeepConnection(false);
  TNRDSession& session = DefaultSession();
  EXPECT_EQ(session.FindDatabase("FAMILY"), &db);
  {
    TNRDTable t(nullptr);
    t.SetDatabaseName("Family");
    t.SetTableName("T");
    t.Open();
    EXPECT_TRUE(db.Connected());
    EXPECT_EQ(db.DataSetCount(), 1);
  }
  EXPECT_FALSE(db.Connected()) << "the last data set closed a database without KeepConnection";
  std::vector<std::string> names;
  session.GetTableNames("Family", names);
  EXPECT_EQ(names, std::vector<std::string>{"T"});

  // A data set naming no database component: the session makes a temporary one and frees it.
  TNRDTable m(nullptr);
  m.SetDatabaseName("memory");
  EXPECT_TRUE(m.InMemory());
  m.SetTableName("M");
  m.FieldDefs().Add("x", ftInteger);
  m.CreateTable();
  const std::int32_t before = session.DatabaseCount();
  session.DropConnections();
  EXPECT_LE(session.DatabaseCount(), before);
  m.Open();
  m.AppendRecord({IntValue(7)});
  EXPECT_EQ(m.RecordCount(), 1);
  m.Close();
}

TEST_F(DatabaseComponent, CompactionReplacesTheFileWithASoundSmallerOne) {
  TNRDDatabase& db = Database("Family", file_);
  MakeTable(*this, "Family", 150);
  {
    TNRDTable t(nullptr);
    t.SetDatabaseName("Family");
    t.SetTableName("T");
    t.Open();
    // Delete most records so the file has room to give back.
    t.First();
    while (!t.Eof()) {
      if (t.FieldByName("id").AsInteger() % 10 != 0) t.Delete();
      else t.Next();
    }
  }
  db.Close();
  const std::string before = Dump("Family");
  db.Close();
  const auto sizeBefore = std::filesystem::file_size(file_);
  FakeDialogs dialogs;
  DialogsScope scope(&dialogs);
  db.SetSilentMode(false);
  ASSERT_TRUE(db.CompactDatabase());
  EXPECT_EQ(dialogs.waitTexts, std::vector<std::string>{"Compacting Database..."});
  EXPECT_EQ(dialogs.positions.back(), 100);
  EXPECT_EQ(dialogs.closed, 1);
  EXPECT_LT(std::filesystem::file_size(file_), sizeBefore);
  EXPECT_FALSE(std::filesystem::exists(file_ + ".tmp"));
  EXPECT_TRUE(FileSound(file_, ""));
  EXPECT_EQ(Dump("Family"), before);
  db.Close();

  // Abort in the wait form: false, the old file stays, no ".tmp" is left.
  const std::string bytesBefore = [&] {
    std::ifstream in(file_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  dialogs.abortAt = 1;
  EXPECT_FALSE(db.CompactDatabase());
  EXPECT_FALSE(std::filesystem::exists(file_ + ".tmp"));
  std::ifstream in(file_, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), bytesBefore);
}

TEST_F(DatabaseComponent, PasswordAndCipherChange) {
  TNRDDatabase& db = Database("Family", file_);
  MakeTable(*this, "Family", 50);
  const std::string before = Dump("Family");
  db.Close();
  EXPECT_EQ(db.ChangePassword("new secret", craBlowfish), "");
  EXPECT_EQ(db.Password(), "new secret");
  EXPECT_EQ(db.CryptoAlgorithm(), craBlowfish);
  EXPECT_FALSE(FileSound(file_, "")) << "the file is encrypted now";
  EXPECT_TRUE(FileSound(file_, "new secret"));
  EXPECT_EQ(Dump("Family"), before);
  db.Close();
  db.SetPassword("");
  db.OnPassword = [](TComponent&, bool& cont) { cont = false; };
  EXPECT_EQ(NativeError([&] { db.Open(); }), 30445);

  std::string log;
  EXPECT_EQ(NativeError([&] { db.ChangeDatabaseSettings(log, false, "", craRijndael_128, 4096, 8, 0); }), 20274);
}

TEST_F(DatabaseComponent, RepairCopiesEverythingReadable) {
  TNRDDatabase& db = Database("Family", file_);
  MakeTable(*this, "Family", 30);
  MakeTable(*this, "Family", 5, "U");
  const std::string before = Dump("Family");
  db.Close();
  EXPECT_EQ(db.RepairDatabase(), "");
  EXPECT_FALSE(std::filesystem::exists(file_ + ".bak")) << "nothing skipped, no copy kept";
  EXPECT_EQ(Dump("Family"), before);
  EXPECT_EQ(Dump("Family", "U"), "1|row 1|100\n2|row 2|200\n3|row 3|300\n4|row 4|400\n5|row 5|500\n");
}

// Children killed at random points of a compaction and of a password change leave the old file or
// the new one, sound, never neither.
TEST_F(DatabaseComponent, KilledMaintenanceLeavesOldOrNewFile) {
  TNRDDatabase& db = Database("Family", file_);
  MakeTable(*this, "Family", 300);
  const std::string expected = Dump("Family");
  db.Close();
  std::mt19937 random(12345);
  for (int round = 0; round < 8; ++round) {
    const bool passwordChange = round % 2 == 1;
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int code = 0;
      try {
        EngineShutdown();
        EngineStartup();
        TNRDDatabase child(nullptr);
        child.SetDatabaseName("Child");
        child.SetDatabaseFileName(file_);
        child.SetSilentMode(true);
        // Whatever password the file has now: the old one or, after a finished change, the new one.
        child.OnPassword = [](TComponent& s, bool& cont) {
          auto& d = static_cast<TNRDDatabase&>(s);
          cont = d.Password().empty();
          d.SetPassword("pw");
        };
        for (int k = 0; k < 50; ++k) {
          if (passwordChange) child.ChangePassword(child.Password().empty() ? "pw" : "", craRijndael_256);
          else child.CompactDatabase();
        }
      } catch (...) {
        code = 1;
      }
      ::_exit(code);
    }
    std::uniform_int_distribution<int> delay(5, 400);
    ::usleep(static_cast<useconds_t>(delay(random) * 1000));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(std::filesystem::exists(file_)) << "round " << round;
    const bool plain = FileSound(file_, "");
    const bool encrypted = FileSound(file_, "pw");
    EXPECT_TRUE(plain || encrypted) << "round " << round;
    db.SetPassword(plain ? "" : "pw");
    db.OnPassword = nullptr;
    db.SetNoRequestAutoRepair(true);
    EXPECT_EQ(Dump("Family"), expected) << "round " << round;
    db.Close();
  }
}

// A record page damaged on disk: the repair copies what it can read, says what it skipped, and
// keeps the original beside the repaired file.
TEST_F(DatabaseComponent, RepairOfADamagedPageKeepsTheOriginal) {
  TNRDDatabase& db = Database("Family", file_);
  MakeTable(*this, "Family", 200);
  MakeTable(*this, "Family", 3, "U");
  db.Close();
  std::string bytes;
  {
    std::ifstream in(file_, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  const std::size_t at = bytes.find("row 150");
  ASSERT_NE(at, std::string::npos);
  const std::size_t page = at / 4096 * 4096;
  for (std::size_t i = page; i < page + 64; ++i) bytes[i] = static_cast<char>(0xA5);
  {
    std::ofstream out(file_, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  const std::string log = db.RepairDatabase();
  EXPECT_FALSE(log.empty());
  ASSERT_TRUE(std::filesystem::exists(file_ + ".bak")) << log;
  EXPECT_EQ(std::filesystem::file_size(file_ + ".bak"), bytes.size());
  EXPECT_TRUE(FileSound(file_, ""));
  EXPECT_EQ(Dump("Family", "U"), "1|row 1|100\n2|row 2|200\n3|row 3|300\n") << "the sound table is whole";
  const std::string repaired = Dump("Family");
  EXPECT_NE(repaired.find("1|row 1|100\n"), std::string::npos) << log;
  EXPECT_NE(repaired.find("200|row 200|"), std::string::npos) << "records past the damage are copied";
  EXPECT_NE(log.find("Error copying table \"T\". Record #"), std::string::npos) << log;
}

// A ".tmp" left by a crash goes; one that another holder still locks stays, and the compaction
// refuses to run rather than write over it.
TEST_F(DatabaseComponent, StaleTemporaryFileIsRemovedOnlyWhenNobodyHoldsIt) {
  TNRDDatabase& db = Database("Family", file_);
  MakeTable(*this, "Family", 5);
  db.Close();
  const std::string tmp = file_ + ".tmp";
  { std::ofstream(tmp) << "left by a crash"; }
  ASSERT_TRUE(db.CompactDatabase());
  EXPECT_FALSE(std::filesystem::exists(tmp));

  { std::ofstream(tmp) << "in use"; }
  const int fd = ::open(tmp.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  struct flock fl {};
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 1;
  ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &fl), 0);
  EXPECT_EQ(NativeError([&] { db.CompactDatabase(); }), 20309);
  EXPECT_TRUE(std::filesystem::exists(tmp));
  ::close(fd);
  EXPECT_EQ(Dump("Family"), "1|row 1|100\n2|row 2|200\n3|row 3|300\n4|row 4|400\n5|row 5|500\n");
}

// One BLOB page damaged on disk: the repair keeps every record, the damaged value alone is lost
// (and logged), and the record after it keeps all of its values.
TEST_F(DatabaseComponent, RepairOfADamagedBlobPageLosesOnlyThatValue) {
  TNRDDatabase& db = Database("Family", file_);
  {
    auto t = Table("Family", "T");
    t->AdvFieldDefs().Add("id", aftInteger, 0, true);
    t->AdvFieldDefs().Add("text", aftString, 40, false);
    t->AdvFieldDefs().Add("data", aftBlob, 0, false);
    t->AdvIndexDefs().Add("pk", "id", ixPrimary);
    t->CreateTable();
    t->Open();
    std::string pattern;
    for (int i = 0; pattern.size() < 20000; ++i) pattern += "damaged-blob-" + std::to_string(i) + ";";
    t->AppendRecord({IntValue(1), TextValue("row 1"), TextValue(std::string(300, 'a'))});
    t->AppendRecord({IntValue(2), TextValue("row 2"), TextValue(pattern)});
    t->AppendRecord({IntValue(3), TextValue("row 3"), TextValue(std::string(500, 'c'))});
    t->AppendRecord({IntValue(4), TextValue("row 4"), TextValue(std::string(700, 'd'))});
    t->Close();
  }
  db.Close();
  std::string bytes;
  {
    std::ifstream in(file_, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  const std::size_t at = bytes.find("damaged-blob-0;");
  ASSERT_NE(at, std::string::npos) << "the value is stored as it is";
  // Pages follow the 380 bytes of the file header; the headers of the value's first page go.
  const std::size_t page = 380 + (at - 380) / 4096 * 4096;
  for (std::size_t i = page; i < page + 64; ++i) bytes[i] = static_cast<char>(0xA5);
  {
    std::ofstream out(file_, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  // Read as it is, the damage shows on that value alone.
  {
    auto t = Table("Family", "T");
    t->SetIndexName("pk");
    t->Open();
    t->Next();
    EXPECT_ANY_THROW(t->FieldByName("data").AsBytes());
    t->Next();
    EXPECT_EQ(t->FieldByName("id").AsInteger(), 3);
    EXPECT_EQ(t->FieldByName("text").AsString(), "row 3");
  }
  db.Close();
  const std::string log = db.RepairDatabase();
  EXPECT_NE(log.find("Record #2, field 'data' was copied with Null value"), std::string::npos) << log;
  EXPECT_TRUE(FileSound(file_, ""));
  EXPECT_EQ(Dump("Family"), "1|row 1|300\n2|row 2|0\n3|row 3|500\n4|row 4|700\n") << log;
}
