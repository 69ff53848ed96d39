// Helpers of the storage tests: a page manager over a map of page images, with counters of the
// storage calls and switches that make reads or writes fail.
#pragma once

#include <cstring>
#include <map>
#include <stdexcept>
#include <vector>

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDPageManager.h"
#include "tests/engine-foundation/EngineTestUtil.h"

namespace storagetest {

class MapPageManager : public nrd::TNRDPageManager {
 public:
  explicit MapPageManager(std::int32_t pageSize = 128, std::int32_t headerSize = 40) {
    SetPageSizes(pageSize, headerSize);
  }

  void InternalAddPage(nrd::TNRDPage* page) override {
    std::int32_t no = NextPageNo++;
    if (!FreeNumbers.empty()) {
      no = FreeNumbers.back();
      FreeNumbers.pop_back();
    }
    page->SetPageNo(no);
    page->AllocPageBuffer();
  }
  void InternalRemovePage(std::int32_t pageNo) override {
    Removed.push_back(pageNo);
    Store.erase(pageNo);
    FreeNumbers.push_back(pageNo);
  }
  bool InternalReadPage(nrd::TNRDPage* page) override {
    ++Reads;
    if (page->PageBuffer() == nullptr) page->AllocPageBuffer();
    auto it = Store.find(page->PageNo());
    if (it == Store.end() || FailReads) return false;
    std::memcpy(page->PageBuffer(), it->second.data(), it->second.size());
    page->SetReloaded(true);
    return true;
  }
  void InternalWritePage(nrd::TNRDPage* page) override {
    if (FailWriteAt == static_cast<int>(Written.size())) throw nrd::ENRDException(10469, "write failed");
    Written.push_back(page->PageNo());
    Store[page->PageNo()].assign(page->PageBuffer(), page->PageBuffer() + PageSize());
  }
  bool ReadStoredPageState(std::int32_t pageNo, std::int32_t& state) override {
    auto it = Store.find(pageNo);
    if (it == Store.end()) {
      state = nrd::PageStateRemoved;
    } else {
      std::memcpy(&state, it->second.data() + 4, 4);
    }
    return true;
  }

  // Puts a page image straight into the store (type and first data byte).
  void Seed(std::int32_t pageNo, std::uint16_t type, std::uint8_t firstByte, std::int32_t state = 7) {
    std::vector<std::uint8_t> image(static_cast<std::size_t>(PageSize()), 0);
    std::memcpy(image.data(), "NRDP", 4);
    std::memcpy(image.data() + 4, &state, 4);
    std::memcpy(image.data() + 8, &type, 2);
    image[static_cast<std::size_t>(PageHeaderSize())] = firstByte;
    Store[pageNo] = image;
    if (pageNo >= NextPageNo) NextPageNo = pageNo + 1;
  }
  std::uint8_t StoredFirstByte(std::int32_t pageNo) { return Store.at(pageNo)[static_cast<std::size_t>(PageHeaderSize())]; }

  std::map<std::int32_t, std::vector<std::uint8_t>> Store;
  std::vector<std::int32_t> Written, Removed, FreeNumbers;
  std::int32_t NextPageNo = 0;
  int Reads = 0;
  bool FailReads = false;
  int FailWriteAt = -1;
};

}  // namespace storagetest

// ---------------------------------------------------------------------------------------------
// Files

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/NativeFile.h"

namespace storagetest {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "nrdstorXXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

inline std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A file system that lets a budget of changing operations (create, write, size change, remove)
// through and then fails every further one without effect, as a process that died at that point
// would. With KillOnExhaustion the process kills itself instead (for child processes).
class FaultFileSystem : public platform::FileSystem {
 public:
  std::int64_t Budget = -1;  // -1: no limit
  std::int64_t Used = 0;
  bool KillOnExhaustion = false;
  // When set, only this many operations fail, then the budget is unlimited again.
  std::int64_t TransientFailures = -1;
  // When set, a size change that shrinks a file goes through and spends the budget: the process
  // dies right after the file shrank.
  bool DieAfterShrink = false;

  // A write counts as one operation per Granularity bytes; a write cut in the middle leaves its
  // first part written (a torn write). 0: every write is one operation.
  std::int64_t Granularity = 0;

  // Bytes written through this file system, by path.
  std::map<std::string, std::int64_t> BytesWritten;

  // When set, every flush keeps an image of the file as the disk then holds it, so that a test can
  // make a power loss of any file undo its writes since the last flush (LoseUnsyncedWrites).
  bool TrackSyncs = false;
  std::map<std::string, std::vector<std::uint8_t>> Synced;
  void LoseUnsyncedWrites(const std::string& path) {
    auto it = Synced.find(path);
    int error = 0;
    if (it == Synced.end()) {
      if (platform::FileSystem::Native().Exists(path)) platform::FileSystem::Native().Remove(path, error);
      return;
    }
    auto f = platform::FileSystem::Native().Open(path, platform::FileAccess::ReadWrite, platform::FileShare::DenyNone,
                                                 platform::FileDisposition::CreateAlways, error);
    if (f) {
      if (!it->second.empty()) f->Write(it->second.data(), static_cast<std::int64_t>(it->second.size()), 0);
      f->Close();
    }
  }

  // False when the budget is spent; the caller then dies (KillOnExhaustion) after doing what a
  // dying process would have done, or fails the operation.
  bool Allow() {
    if (Budget >= 0 && Used >= Budget) {
      if (TransientFailures > 0 && --TransientFailures == 0) Budget = -1;
      errno = EIO;
      return false;
    }
    ++Used;
    return true;
  }
  void Die() {
    if (KillOnExhaustion) ::kill(::getpid(), SIGKILL);
  }

  class File : public platform::NativeFile {
   public:
    File(FaultFileSystem& fs, std::unique_ptr<platform::NativeFile> inner) : fs_(fs), inner_(std::move(inner)) {}
    bool Read(void* b, std::int64_t c, std::int64_t p) override { return inner_->Read(b, c, p); }
    bool Write(const void* b, std::int64_t c, std::int64_t p) override {
      const std::int64_t g = fs_.Granularity > 0 ? fs_.Granularity : std::max<std::int64_t>(c, 1);
      for (std::int64_t done = 0; done < std::max<std::int64_t>(c, 1); done += g) {
        if (!fs_.Allow()) {
          if (done > 0) inner_->Write(b, done, p);
          fs_.Die();
          return Fail();
        }
      }
      failed_ = false;
      fs_.BytesWritten[inner_->Path()] += c;
      return inner_->Write(b, c, p);
    }
    bool GetSize(std::int64_t& s) override { return inner_->GetSize(s); }
    bool SetSize(std::int64_t s) override {
      if (!fs_.Allow()) {
        fs_.Die();
        return Fail();
      }
      failed_ = false;
      std::int64_t before = 0;
      const bool shrinks = fs_.DieAfterShrink && inner_->GetSize(before) && s < before;
      const bool ok = inner_->SetSize(s);
      if (shrinks) fs_.Budget = fs_.Used;
      return ok;
    }
    bool Flush() override {
      // With syncs tracked, the images stand for the disk: the real sync would only cost time.
      if (!fs_.TrackSyncs) return inner_->Flush();
      {
        std::int64_t size = 0;
        std::vector<std::uint8_t> image;
        if (inner_->GetSize(size)) {
          image.resize(static_cast<std::size_t>(size));
          if (size > 0) inner_->Read(image.data(), size, 0);
        }
        fs_.Synced[inner_->Path()] = std::move(image);
      }
      return true;
    }
    bool LockRegion(std::int64_t o, std::int64_t c) override { return inner_->LockRegion(o, c); }
    bool UnlockRegion(std::int64_t o, std::int64_t c) override { return inner_->UnlockRegion(o, c); }
    bool IsRegionLocked(std::int64_t o, std::int64_t c) override { return inner_->IsRegionLocked(o, c); }
    bool IsOtherOpenerPresent() override { return inner_->IsOtherOpenerPresent(); }
    bool IsHandleValid() override { return inner_->IsHandleValid(); }
    bool Reopen() override { return inner_->Reopen(); }
    bool Close() override { return inner_->Close(); }
    int LastError() const override { return failed_ ? EIO : inner_->LastError(); }
    bool IsWritable() const override { return inner_->IsWritable(); }
    const std::string& Path() const override { return inner_->Path(); }

   private:
    bool Fail() {
      failed_ = true;
      return false;
    }
    FaultFileSystem& fs_;
    std::unique_ptr<platform::NativeFile> inner_;
    bool failed_ = false;
  };

  std::unique_ptr<platform::NativeFile> Open(const std::string& path, platform::FileAccess access,
                                             platform::FileShare share, platform::FileDisposition disposition,
                                             int& error) override {
    if (disposition == platform::FileDisposition::CreateAlways && !Allow()) {
      Die();
      error = EIO;
      return nullptr;
    }
    auto inner = platform::FileSystem::Native().Open(path, access, share, disposition, error);
    if (!inner) return nullptr;
    if (disposition == platform::FileDisposition::CreateAlways) Synced.erase(inner->Path());
    return std::make_unique<File>(*this, std::move(inner));
  }
  bool Exists(const std::string& path) override { return platform::FileSystem::Native().Exists(path); }
  bool Remove(const std::string& path, int& error) override {
    if (!Allow()) {
      Die();
      error = EIO;
      return false;
    }
    Synced.erase(path);
    return platform::FileSystem::Native().Remove(path, error);
  }
  bool IsReadOnlyFile(const std::string& path) override { return platform::FileSystem::Native().IsReadOnlyFile(path); }
  bool SyncDirectoryOf(const std::string& path) override {
    return TrackSyncs || platform::FileSystem::Native().SyncDirectoryOf(path);
  }
};

}  // namespace storagetest

#include "engine/storage/NRDDiskPageManager.h"

namespace storagetest {

inline std::unique_ptr<nrd::TNRDDiskPageManager> CreateDb(const std::string& path, std::int32_t pageSize = 1024,
                                                          std::int32_t extent = 8, const nrd::TNRDPassword& password = {},
                                                          platform::FileSystem* fs = nullptr) {
  auto pm = std::make_unique<nrd::TNRDDiskPageManager>(fs);
  pm->SetLockRetry(50, 1);
  pm->DatabaseFile().SetSynchronous(false);
  pm->CreateAndOpenDatabase(path, password, pageSize, extent);
  return pm;
}

inline std::unique_ptr<nrd::TNRDDiskPageManager> OpenDb(const std::string& path, const nrd::TNRDPassword& password = {},
                                                        platform::FileSystem* fs = nullptr, bool multiUser = false) {
  auto pm = std::make_unique<nrd::TNRDDiskPageManager>(fs);
  pm->SetLockRetry(50, 1);
  pm->DatabaseFile().SetSynchronous(false);
  bool readOnly = false;
  bool repair = false;
  pm->OpenDatabase(path, password, readOnly, repair, false, multiUser);
  return pm;
}

// Header fields, copied out of the packed header.
inline std::int32_t TotalPages(nrd::TNRDDiskPageManager& pm) { return pm.DBHeader()->TotalPageCount; }
inline std::int32_t LastUsed(nrd::TNRDDiskPageManager& pm) { return pm.DBHeader()->LastUsedPageNo; }
inline std::int32_t DbState(nrd::TNRDDiskPageManager& pm) { return pm.DBHeader()->State; }

// Adds a page of the type whose data area is filled with `fill`; returns its number.
inline std::int32_t AddFilledPage(nrd::TNRDPageManager& pm, std::int32_t session, std::uint8_t fill,
                                  std::uint16_t type = nrd::ptTableRecord) {
  nrd::TNRDPage* page = pm.AddPage(session, type);
  std::memset(page->PageData(), fill, static_cast<std::size_t>(page->PageDataSize()));
  const std::int32_t no = page->PageNo();
  pm.PutPage(page);
  return no;
}

// A new file of 512-byte pages (extent 4) holding `count` committed pages, page i filled with
// i + firstFill (cut to a byte); returns their numbers in order.
inline std::vector<std::int32_t> CreateFilledDb(const std::string& path, int count, int firstFill) {
  auto pm = CreateDb(path, 512, 4);
  std::vector<std::int32_t> pages;
  for (int i = 0; i < count; ++i) pages.push_back(AddFilledPage(*pm, 0, static_cast<std::uint8_t>(i + firstFill)));
  pm->ApplyChanges(0);
  return pages;
}

inline void FillPage(nrd::TNRDPageManager& pm, std::int32_t session, std::int32_t pageNo, std::uint8_t fill) {
  nrd::TNRDPage* page = pm.GetPage(session, pageNo, nrd::AnyPageType);
  std::memset(page->PageData(), fill, static_cast<std::size_t>(page->PageDataSize()));
  page->SetIsDirty(true);
  pm.PutPage(page);
}

inline std::uint8_t FirstDataByte(nrd::TNRDPageManager& pm, std::int32_t session, std::int32_t pageNo) {
  nrd::TNRDPage* page = pm.GetPage(session, pageNo, nrd::AnyPageType);
  const std::uint8_t b = page->PageData()[0];
  pm.PutPage(page);
  return b;
}

}  // namespace storagetest
