// BLOB values through data sets over MEMORY and disk tables: what a stream writes is stored by the
// post that follows, whether or not the stream was closed first; an edit that is cancelled loses
// nothing, and another data set reads the stored value meanwhile; writes far past the end are
// refused before anything is stored.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>

#include "engine/components/NRDAdvDefs.h"
#include "engine/components/NRDDataSet.h"
#include "engine/components/NRDLocalCursor.h"
#include "engine/components/NRDSession.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDStreams.h"

using namespace nrd;

namespace {

class BlobTable : public TNRDDataSet {
 public:
  BlobTable(TNRDLocalSession& session, bool inMemory) : session_(session), inMemory_(inMemory) {}
  ~BlobTable() override { Close(); }

 protected:
  std::unique_ptr<TNRDCursor> CreateHandle() override {
    auto c = std::make_unique<TNRDLocalCursor>();
    c->SetSession(&session_);
    c->SetTableName("Notes");
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

// Parameter: true for a table of a database file, false for a MEMORY table.
class BlobValues : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    EngineStartup();
    if (GetParam()) {
      dir_ = std::filesystem::temp_directory_path() / ("trevolan-blobs-" + std::to_string(::getpid()));
      std::filesystem::create_directories(dir_);
      TNRDLocalSession creator;
      creator.FDatabaseFileName = (dir_ / "notes.at4").string();
      creator.CreateDatabase();
      session_.FDatabaseName = "Notes";
      session_.FDatabaseFileName = creator.FDatabaseFileName;
    } else {
      session_.FDatabaseName = "MEMORY";
    }
    session_.SetConnected(true);
    TNRDAdvFieldDefs adv;
    adv.Add("ID", aftInteger, 0, true);
    adv.Add("Flag", aftBoolean, 0, false);  // puts the BLOB at an odd offset in the record
    adv.Add("Body", aftBlob, 0, false);
    TNRDIndexDefs indexes;
    TNRDFieldDefs fields;
    TNRDConstraintDefs constraints;
    AdvFieldDefsToEngineDefs(adv, indexes, false, fields, constraints);
    TNRDLocalCursor c;
    c.SetSession(&session_);
    c.SetTableName("Notes");
    c.CreateTable(fields, indexes, constraints);
  }
  void TearDown() override {
    session_.SetConnected(false);
    EngineShutdown();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  void AddRecord(TDataSet& ds, int id, const std::string& body) {
    ds.Append();
    ds.FieldByName("ID").SetAsInteger(id);
    ds.FieldByName("Body").SetAsBytes(body);
    ds.Post();
  }
  std::string Body(TDataSet& ds) { return ds.FieldByName("Body").AsBytes(); }

  TNRDLocalSession session_;
  std::filesystem::path dir_;
};

INSTANTIATE_TEST_SUITE_P(Tables, BlobValues, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Disk" : "Memory"; });

TEST_P(BlobValues, StreamStillOpenAtPostIsStored) {
  BlobTable ds(session_, !GetParam());
  ds.Open();
  // Insert: the stream is still open when the record is posted.
  ds.Append();
  ds.FieldByName("ID").SetAsInteger(1);
  auto s = ds.CreateBlobStream(ds.FieldByName("Body"), bmWrite);
  ASSERT_EQ(s->Write("inserted", 8), 8);
  ds.Post();
  EXPECT_EQ(Body(ds), "inserted");
  s.reset();
  // Edit: the same, replacing a stored value.
  ds.Edit();
  s = ds.CreateBlobStream(ds.FieldByName("Body"), bmWrite);
  ASSERT_EQ(s->Write("edited", 6), 6);
  ds.Post();
  s.reset();
  EXPECT_EQ(Body(ds), "edited");
  ds.Close();
  ds.Open();
  EXPECT_EQ(Body(ds), "edited");
  // A stream left open at a cancel writes nothing.
  ds.Edit();
  s = ds.CreateBlobStream(ds.FieldByName("Body"), bmWrite);
  ASSERT_EQ(s->Write("dropped", 7), 7);
  ds.Cancel();
  s.reset();
  EXPECT_EQ(Body(ds), "edited");
}

TEST_P(BlobValues, CancelledEditKeepsTheStoredValueForEveryReader) {
  BlobTable ds(session_, !GetParam());
  BlobTable other(session_, !GetParam());
  ds.Open();
  AddRecord(ds, 1, std::string(3000, 'o'));
  other.Open();
  for (int round = 0; round < 3; ++round) {
    ds.Edit();
    ds.FieldByName("Body").SetAsBytes("new value");
    ds.FieldByName("Body").SetAsBytes("newer value");  // a second write in one edit
    // The stored value is still the old one for another reader while the edit is open.
    other.Refresh();
    EXPECT_EQ(Body(other), std::string(3000, 'o'));
    ds.Cancel();
    EXPECT_EQ(Body(ds), std::string(3000, 'o'));
  }
  ds.Edit();
  ds.FieldByName("Body").SetAsBytes("stored");
  ds.Post();
  other.Refresh();
  EXPECT_EQ(Body(other), "stored");
  ds.Close();
  ds.Open();
  EXPECT_EQ(Body(ds), "stored");
}

TEST_P(BlobValues, WriteFarPastTheEndIsRefusedAndStoresNothing) {
  BlobTable ds(session_, !GetParam());
  ds.Open();
  AddRecord(ds, 1, "ABCDEFGH");
  const std::int64_t far[] = {std::int64_t(1) << 62, std::int64_t(1) << 40,
                              std::numeric_limits<std::int64_t>::max() - 1};
  for (std::int64_t position : far) {
    ds.Edit();
    {
      auto s = ds.CreateBlobStream(ds.FieldByName("Body"), bmReadWrite);
      s->Seek(position, TSeekOrigin::soBeginning);
      try {
        s->Write("xy", 2);
        ADD_FAILURE() << "a write at " << position << " was taken";
      } catch (const ENRDException& e) {
        EXPECT_EQ(e.NativeError, kStreamPositionError);
      }
    }
    ds.Post();
    EXPECT_EQ(Body(ds), "ABCDEFGH") << position;
  }
  ds.Close();
  ds.Open();
  EXPECT_EQ(Body(ds), "ABCDEFGH");
}

}  // namespace
