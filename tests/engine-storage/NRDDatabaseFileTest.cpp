// The database file object (open checks, error texts, locks, reopening a lost handle) and the write
// batch and journal format under it.
#include <cerrno>
#include <cstring>
#include <functional>

#include <gtest/gtest.h>

#include "engine/storage/NRDDatabaseFile.h"
#include "engine/storage/NRDJournal.h"
#include "tests/engine-storage/StorageTestUtil.h"

using namespace nrd;
using enginetest::CodeOf;
using enginetest::ExpectNRD;
using storagetest::TempDir;

namespace {

// A file layer whose files lose their handle (reads fail and the handle is invalid until Reopen),
// or refuse byte-range locks altogether.
class FlakyFileSystem : public platform::FileSystem {
 public:
  bool LoseHandle = false;
  bool NoLocks = false;
  int Reopens = 0;

  class File : public platform::NativeFile {
   public:
    File(FlakyFileSystem& fs, std::unique_ptr<platform::NativeFile> inner) : fs_(fs), inner_(std::move(inner)) {}
    bool Read(void* b, std::int64_t c, std::int64_t p) override {
      if (fs_.LoseHandle) return Fail(EBADF);
      return inner_->Read(b, c, p);
    }
    bool Write(const void* b, std::int64_t c, std::int64_t p) override {
      if (fs_.LoseHandle) return Fail(EBADF);
      return inner_->Write(b, c, p);
    }
    bool GetSize(std::int64_t& s) override { return inner_->GetSize(s); }
    bool SetSize(std::int64_t s) override { return inner_->SetSize(s); }
    bool Flush() override { return inner_->Flush(); }
    bool LockRegion(std::int64_t o, std::int64_t c) override {
      if (fs_.NoLocks) return Fail(ENOLCK);
      return inner_->LockRegion(o, c);
    }
    bool UnlockRegion(std::int64_t o, std::int64_t c) override { return inner_->UnlockRegion(o, c); }
    bool IsRegionLocked(std::int64_t o, std::int64_t c) override { return inner_->IsRegionLocked(o, c); }
    bool IsOtherOpenerPresent() override { return inner_->IsOtherOpenerPresent(); }
    bool IsHandleValid() override { return !fs_.LoseHandle && inner_->IsHandleValid(); }
    bool Reopen() override {
      ++fs_.Reopens;
      fs_.LoseHandle = false;
      return inner_->Reopen();
    }
    bool Close() override { return inner_->Close(); }
    int LastError() const override { return error_ != 0 ? error_ : inner_->LastError(); }
    bool IsWritable() const override { return inner_->IsWritable(); }
    const std::string& Path() const override { return inner_->Path(); }

   private:
    bool Fail(int e) {
      error_ = e;
      return false;
    }
    FlakyFileSystem& fs_;
    std::unique_ptr<platform::NativeFile> inner_;
    int error_ = 0;
  };

  std::unique_ptr<platform::NativeFile> Open(const std::string& path, platform::FileAccess a, platform::FileShare s,
                                             platform::FileDisposition d, int& error) override {
    auto inner = platform::FileSystem::Native().Open(path, a, s, d, error);
    if (!inner) return nullptr;
    return std::make_unique<File>(*this, std::move(inner));
  }
  bool Exists(const std::string& p) override { return platform::FileSystem::Native().Exists(p); }
  bool Remove(const std::string& p, int& e) override { return platform::FileSystem::Native().Remove(p, e); }
  bool IsReadOnlyFile(const std::string& p) override { return platform::FileSystem::Native().IsReadOnlyFile(p); }
  bool SyncDirectoryOf(const std::string& p) override { return platform::FileSystem::Native().SyncDirectoryOf(p); }
};

TEST(NRDDatabaseFile, OperationsCheckTheOpenState) {
  TNRDDatabaseFile f;
  std::uint8_t b[4];
  const std::pair<const char*, std::function<void()>> closedOps[] = {
      {"ReadBuffer", [&] { f.ReadBuffer(b, 4, 0, 1); }},
      {"WriteBuffer", [&] { f.WriteBuffer(b, 4, 0, 1); }},
      {"SetPosition", [&] { f.SetPosition(0); }},
      {"GetPosition", [&] { f.GetPosition(); }},
      {"SetSize", [&] { f.SetSize(0); }},
      {"GetSize", [&] { f.GetSize(); }},
      {"CloseFile", [&] { f.CloseFile(); }},
      {"FlushFileBuffers", [&] { f.FlushFileBuffers(); }},
      {"LockByte", [&] { f.LockByte(0, 1); }},
      {"UnlockByte", [&] { f.UnlockByte(0, 1); }},
      {"IsByteLocked", [&] { f.IsByteLocked(0); }},
      {"IsRegionLocked", [&] { f.IsRegionLocked(0, 1); }},
  };
  for (const auto& [name, op] : closedOps) {
    ExpectNRD(op, 30376, (std::string("(") + name + ") on a closed file").c_str());
  }
  TempDir dir;
  ExpectNRD([&] { f.CreateAndOpenFile("  "); }, 30374, "blank FileName");
  f.CreateAndOpenFile(dir.File("x.db"));
  ExpectNRD([&] { f.CreateAndOpenFile(dir.File("y.db")); }, 30377, "(CreateFile) on a opened file");
  ExpectNRD([&] { f.OpenFile(dir.File("x.db"), amReadOnly, smShareDenyNone); }, 30377, "(OpenFile)");
  f.CloseFile();
  ExpectNRD([&] { f.OpenFile(dir.File("x.db"), static_cast<TNRDAccessMode>(7), smShareDenyNone); }, 30366,
            "Unknown Access mode: '7'");
  ExpectNRD([&] { f.OpenFile(dir.File("x.db"), amReadOnly, static_cast<TNRDShareMode>(9)); }, 30367);
  ExpectNRD([&] { f.OpenFile(dir.File("none.db"), amReadOnly, smShareDenyNone); }, 30364, "Cannot open file:'");
}

TEST(NRDDatabaseFile, ReadsWritesAndLocks) {
  TempDir dir;
  TNRDDatabaseFile f;
  f.CreateAndOpenFile(dir.File("rw.db"));
  f.WriteBuffer("abcdef", 6, 10, 10469);
  EXPECT_EQ(f.GetSize(), 16);
  EXPECT_EQ(f.GetPosition(), 16);
  std::uint8_t b[8];
  std::memset(b, 0x77, sizeof b);
  EXPECT_TRUE(f.ReadBuffer(b, 8, 12));
  EXPECT_EQ(std::memcmp(b, "cdef", 4), 0);
  EXPECT_EQ(b[4], 0);  // past the end
  f.SetSize(11);
  EXPECT_EQ(f.GetSize(), 11);
  ExpectNRD([&] { f.WriteBuffer(b, 1, -3, 10469); }, 10469, "Cannot Set File Position to -3");
  ExpectNRD([&] { f.SetPosition(-1); }, 30372);
  EXPECT_TRUE(f.LockByte(5, 1));
  EXPECT_FALSE(f.LockByte(5, 1));
  EXPECT_TRUE(f.IsByteLocked(5));
  EXPECT_TRUE(f.IsRegionLocked(0, 10));
  EXPECT_FALSE(f.UnlockByte(6, 1));
  EXPECT_TRUE(f.UnlockByte(5, 1));
  EXPECT_FALSE(f.IsByteLocked(5));
  f.FlushFileBuffers();
}

TEST(NRDDatabaseFile, WriteFailureNamesTheFileAndPositions) {
  TempDir dir;
  storagetest::FaultFileSystem fs;
  TNRDDatabaseFile f(&fs);
  f.CreateAndOpenFile(dir.File("w.db"));
  fs.Budget = fs.Used;
  ExpectNRD([&] { f.WriteBuffer("ab", 2, 40, 10469); }, 10469, "Cannot Write to file: '");
  try {
    f.WriteBuffer("ab", 2, 40, 10475);
  } catch (const ENRDException& e) {
    EXPECT_NE(std::string(e.what()).find("Position = 40, Count = 2"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("ErrorMessage: "), std::string::npos) << e.what();
  }
}

TEST(NRDDatabaseFile, LostHandleIsReopenedWithItsLocks) {
  TempDir dir;
  FlakyFileSystem fs;
  TNRDDatabaseFile f(&fs);
  f.SetReopenDelayMS(0);
  {
    TNRDDatabaseFile creator;
    creator.CreateAndOpenFile(dir.File("flaky.db"));
  }
  f.OpenFile(dir.File("flaky.db"), amReadWrite, smShareDenyNone);
  f.WriteBuffer("data", 4, 0, 1);
  ASSERT_TRUE(f.LockByte(100, 1));
  fs.LoseHandle = true;
  char b[4] = {};
  f.ReadBuffer(b, 4, 0, 10474);
  EXPECT_EQ(std::memcmp(b, "data", 4), 0);
  EXPECT_EQ(fs.Reopens, 1);
  // The lock was taken again under the new handle.
  TNRDDatabaseFile other;
  other.OpenFile(dir.File("flaky.db"), amReadWrite, smShareDenyNone);
  EXPECT_TRUE(other.IsByteLocked(100));
  EXPECT_FALSE(other.LockByte(100, 1));
}

TEST(NRDDatabaseFile, FileSystemWithoutLocksIsAnError) {
  TempDir dir;
  FlakyFileSystem fs;
  fs.NoLocks = true;
  TNRDDatabaseFile f(&fs);
  f.CreateAndOpenFile(dir.File("nolocks.db"));
  ExpectNRD([&] { f.LockByte(1, 1); }, 30368, "Byte-range locks are not supported");
}

TEST(NRDWriteBatch, OverlayMergesWritesAndSizeChanges) {
  TNRDWriteBatch batch;
  batch.Begin(100);
  const std::uint8_t a[4] = {1, 2, 3, 4};
  const std::uint8_t b[4] = {5, 6, 7, 8};
  batch.Write(a, 4, 10);
  batch.Write(b, 4, 12);  // overlaps: merges
  batch.Write(a, 4, 16);  // touches: stays apart
  batch.Write(b, 2, 40);
  batch.Write(b, 4, 8);   // overlaps the start of the merged extent
  batch.Write(a, 2, 16);  // the same place again
  ASSERT_EQ(batch.Extents().size(), 3u);
  EXPECT_EQ(batch.Extents().begin()->first, 8);
  EXPECT_EQ(batch.Extents().begin()->second, (std::vector<std::uint8_t>{5, 6, 7, 8, 5, 6, 7, 8}));
  EXPECT_EQ(std::next(batch.Extents().begin())->second, (std::vector<std::uint8_t>{1, 2, 3, 4}));
  std::vector<std::uint8_t> view(50, 0xEE);
  batch.Overlay(view.data(), 50, 0);
  EXPECT_EQ(view[7], 0xEE);
  EXPECT_EQ(view[9], 6);
  EXPECT_EQ(view[12], 5);
  EXPECT_EQ(view[17], 2);
  EXPECT_EQ(view[41], 6);
  // Shrink below an extent, then grow: the cut bytes read as zero.
  batch.SetSize(41);
  batch.SetSize(60);
  EXPECT_EQ(batch.Size(), 60);
  EXPECT_EQ(batch.MinSize(), 41);
  std::vector<std::uint8_t> tail(20, 0xEE);
  batch.Overlay(tail.data(), 20, 40);
  EXPECT_EQ(tail[0], 5);
  EXPECT_EQ(tail[1], 0);
  EXPECT_EQ(tail[19], 0);
  batch.Write(a, 4, 70);
  EXPECT_EQ(batch.Size(), 74);
}

TEST(NRDJournal, FormatRoundTripsAndRefusesDamage) {
  const std::vector<TNRDJournalRegion> regions = {{0, {1, 2, 3}}, {500, std::vector<std::uint8_t>(300, 9)}};
  const std::vector<std::uint8_t> good = TNRDJournal::Build(1000, regions);
  std::int64_t size = 0;
  std::vector<TNRDJournalRegion> parsed;
  ASSERT_TRUE(TNRDJournal::Parse(good, size, parsed));
  EXPECT_EQ(size, 1000);
  ASSERT_EQ(parsed.size(), 2u);
  EXPECT_EQ(parsed[1].Offset, 500);
  EXPECT_EQ(parsed[1].Bytes, regions[1].Bytes);
  struct Case {
    const char* name;
    std::function<void(std::vector<std::uint8_t>&)> damage;
  };
  const Case cases[] = {
      {"cut short", [](std::vector<std::uint8_t>& j) { j.resize(j.size() - 1); }},
      {"cut in a region", [](std::vector<std::uint8_t>& j) { j.resize(100); }},
      {"flipped byte", [](std::vector<std::uint8_t>& j) { j[40] ^= 1; }},
      {"empty", [](std::vector<std::uint8_t>& j) { j.clear(); }},
      {"bad magic", [](std::vector<std::uint8_t>& j) { j[0] = 'X'; }},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> j = good;
    c.damage(j);
    EXPECT_FALSE(TNRDJournal::Parse(j, size, parsed)) << c.name;
  }
  // A region beyond the old size is refused even with a sound checksum.
  EXPECT_FALSE(TNRDJournal::Parse(TNRDJournal::Build(600, regions), size, parsed));
}

}  // namespace
