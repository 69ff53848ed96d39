// Who frees what when the engine stops or a session goes while data sets are still open: open
// data sets are closed first, and the engine frees only the sessions it made itself. Run under
// the sanitizers, a use after free fails these tests.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "engine/components/NRDAdvDefs.h"
#include "engine/components/NRDDataSet.h"
#include "engine/components/NRDLocalCursor.h"
#include "engine/components/NRDSession.h"
#include "engine/foundation/NRDExcept.h"

using namespace nrd;

namespace {

class Table : public TNRDDataSet {
 public:
  Table(TNRDLocalSession& session, bool inMemory) : session_(session), inMemory_(inMemory) {}
  ~Table() override { Close(); }

 protected:
  std::unique_ptr<TNRDCursor> CreateHandle() override {
    auto c = std::make_unique<TNRDLocalCursor>();
    c->SetSession(&session_);
    c->SetTableName("Things");
    c->SetInMemory(inMemory_);
    TNRDFieldDefs f;
    TNRDIndexDefs i;
    TNRDConstraintDefs k;
    c->OpenTableByFieldDefs(f, i, k);
    return c;
  }

 private:
  TNRDLocalSession& session_;
  bool inMemory_;
};

void CreateThings(TNRDLocalSession& s) {
  TNRDAdvFieldDefs adv;
  adv.Add("ID", aftInteger, 0, true);
  adv.Add("Body", aftBlob, 0, false);
  TNRDIndexDefs indexes;
  TNRDFieldDefs fields;
  TNRDConstraintDefs constraints;
  AdvFieldDefsToEngineDefs(adv, indexes, false, fields, constraints);
  TNRDLocalCursor c;
  c.SetSession(&s);
  c.SetTableName("Things");
  c.CreateTable(fields, indexes, constraints);
}

class Lifetimes : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      dir_ = std::filesystem::temp_directory_path() / ("trevolan-lifetimes-" + std::to_string(::getpid()));
      std::filesystem::create_directories(dir_);
      file_ = (dir_ / "things.at4").string();
    }
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  void Connect(TNRDLocalSession& s) {
    if (GetParam()) {
      TNRDLocalSession creator;
      creator.FDatabaseFileName = file_;
      if (!std::filesystem::exists(file_)) creator.CreateDatabase();
      s.FDatabaseName = "Things";
      s.FDatabaseFileName = file_;
    } else {
      s.FDatabaseName = "MEMORY";
    }
    s.SetConnected(true);
  }
  std::filesystem::path dir_;
  std::string file_;
};

INSTANTIATE_TEST_SUITE_P(Tables, Lifetimes, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Disk" : "Memory"; });

TEST_P(Lifetimes, ShutdownClosesOpenDataSetsFirst) {
  EngineStartup();
  TNRDLocalSession s;
  Connect(s);
  CreateThings(s);
  Table ds(s, !GetParam());
  ds.Open();
  ds.AppendRecord({IntValue(1), TextValue("kept")});
  ds.Edit();
  ds.FieldByName("Body").SetAsBytes("pending");
  EngineShutdown();
  EXPECT_FALSE(ds.Active());
  EXPECT_THROW(ds.Open(), Exception);
  ds.Close();
}

TEST_P(Lifetimes, DisconnectingASessionClosesItsDataSets) {
  EngineStartup();
  {
    TNRDLocalSession s, other;
    Connect(s);
    Connect(other);
    CreateThings(s);
    Table mine(s, !GetParam()), theirs(other, !GetParam());
    mine.Open();
    theirs.Open();
    mine.AppendRecord({IntValue(1), TextValue("one")});
    s.SetConnected(false);
    EXPECT_FALSE(mine.Active());
    // The other session's data set is not its business.
    ASSERT_TRUE(theirs.Active());
    theirs.Refresh();
    EXPECT_EQ(theirs.RecordCount(), 1);
    other.SetConnected(false);
    EXPECT_FALSE(theirs.Active());
  }
  EngineShutdown();
}

TEST(EngineLifetime, ShutdownFreesOnlyTheSessionsTheEngineMade) {
  EngineStartup();
  TNRDSession onStack(nullptr);
  onStack.SetSessionName("OnStack");
  auto* onHeap = new TNRDSession(nullptr);
  onHeap->SetSessionName("OnHeap");
  onHeap->Open();
  SessionList().OpenSession("MadeByTheEngine");
  EngineShutdown();
  // Both still belong to the caller, who frees them after the engine is gone.
  EXPECT_EQ(onStack.SessionName(), "OnStack");
  EXPECT_FALSE(onHeap->Active());
  delete onHeap;
}

}  // namespace
