#include "engine/storage/NRDDatabaseFile.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/foundation/NRDExcept.h"

namespace nrd {

using platform::FileAccess;
using platform::FileDisposition;
using platform::FileShare;

TNRDDatabaseFile::TNRDDatabaseFile(platform::FileSystem* fs)
    : FFileSystem(fs != nullptr ? fs : &platform::FileSystem::Native()) {}

TNRDDatabaseFile::~TNRDDatabaseFile() {
  if (FFile) FFile->Close();
}

int TNRDDatabaseFile::LastError() const {
  if (FLastError != 0 || !FFile) return FLastError;
  return FFile->LastError();
}

void TNRDDatabaseFile::CheckOpened(const char* operation) const {
  if (!FIsOpened || !FFile) throw ENRDException(30376, "Cannot perform this operation (%s) on a closed file", {operation});
}

void TNRDDatabaseFile::CheckClosed(const char* operation) const {
  if (FIsOpened) throw ENRDException(30377, "Cannot perform this operation (%s) on a opened file", {operation});
}

void TNRDDatabaseFile::CreateAndOpenFile(const std::string& fileName) {
  CheckClosed("CreateFile");
  if (fileName.find_first_not_of(" \t") == std::string::npos) {
    throw ENRDException(30374, "Cannot create file with blank FileName");
  }
  int error = 0;
  auto file = FFileSystem->Open(fileName, FileAccess::ReadWrite, FileShare::Exclusive, FileDisposition::CreateAlways, error);
  if (!file && error != platform::ErrorSharingViolation && FFileSystem->Exists(fileName)) {
    // An existing file we may not write (the read-only attribute): it is replaced, unless another
    // opener holds it.
    int probeError = 0;
    auto probe = FFileSystem->Open(fileName, FileAccess::ReadOnly, FileShare::DenyNone, FileDisposition::OpenExisting, probeError);
    const bool probeOpened = probe != nullptr;
    const bool held = !probeOpened || probe->IsOtherOpenerPresent();
    if (probe) probe->Close();
    probe.reset();
    if (held) {
      error = probeOpened ? platform::ErrorSharingViolation : (probeError != 0 ? probeError : error);
    } else if (FFileSystem->Remove(fileName, error)) {
      file = FFileSystem->Open(fileName, FileAccess::ReadWrite, FileShare::Exclusive, FileDisposition::CreateAlways, error);
    }
  }
  if (!file) {
    throw ENRDException(30361, "Cannot create file: '%s' Error code: %d. ErrorMessage: %s",
                        {fileName, error, platform::SystemErrorMessage(error)});
  }
  // A journal beside a file that is created anew belongs to the old file.
  int ignored = 0;
  const std::string journal = TNRDJournal::JournalPath(fileName);
  if (FFileSystem->Exists(journal)) FFileSystem->Remove(journal, ignored);
  FFile = std::move(file);
  FFileName = fileName;
  FJournalPath = journal;
  FAccessMode = amReadWrite;
  FShareMode = smExclusive;
  FPosition = 0;
  FIsOpened = true;
}

void TNRDDatabaseFile::OpenFile(const std::string& fileName, TNRDAccessMode accessMode, TNRDShareMode shareMode) {
  CheckClosed("OpenFile");
  if (accessMode != amReadOnly && accessMode != amReadWrite) {
    throw ENRDException(30366, "Unknown Access mode: '%d'", {static_cast<int>(accessMode)});
  }
  FileShare share = FileShare::Exclusive;
  switch (shareMode) {
    case smExclusive: share = FileShare::Exclusive; break;
    case smShareDenyNone: share = FileShare::DenyNone; break;
    case smShareDenyWrite: share = FileShare::DenyWrite; break;
    default: throw ENRDException(30367, "Unknown Share mode: '%d'", {static_cast<int>(shareMode)});
  }
  int error = 0;
  auto file = FFileSystem->Open(fileName, accessMode == amReadOnly ? FileAccess::ReadOnly : FileAccess::ReadWrite,
                                share, FileDisposition::OpenExisting, error);
  if (!file) {
    throw ENRDException(30364, "Cannot open file:'%s' Error code: %d. ErrorMessage: %s",
                        {fileName, error, platform::SystemErrorMessage(error)});
  }
  FFile = std::move(file);
  FFileName = fileName;
  FJournalPath = TNRDJournal::JournalPath(fileName);
  FAccessMode = accessMode;
  FShareMode = shareMode;
  FPosition = 0;
  FIsOpened = true;
}

void TNRDDatabaseFile::CloseFile() {
  CheckOpened("CloseFile");
  FBatch.Clear();
  // A spill still running at close was never committed: the next opener rolls its journal back.
  FSpill.reset();
  const bool ok = FFile->Close();
  const int error = FFile->LastError();
  FFile.reset();
  FIsOpened = false;
  if (!ok) {
    throw ENRDException(30365, "Cannot close file:'%s' Error code: %d. ErrorMessage: %s",
                        {FFileName, error, platform::SystemErrorMessage(error)});
  }
}

bool TNRDDatabaseFile::ReopenDatabaseFile() {
  if (!FFile) return false;
  if (FFile->IsHandleValid()) return true;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(FReopenDelayMS));
    if (FFile->Reopen()) return true;
  }
  return FFile->IsHandleValid();
}

// ---------------------------------------------------------------------------------------------
// Raw operations: through the change set when one runs, retried once after a handle check.

bool TNRDDatabaseFile::RawRead(void* buffer, std::int64_t count, std::int64_t position) {
  FLastError = 0;
  if (position < 0 || count < 0) return false;
  bool ok = FFile->Read(buffer, count, position);
  if (!ok && ReopenDatabaseFile()) ok = FFile->Read(buffer, count, position);
  if (ok && FBatch.Active()) FBatch.Overlay(buffer, count, position);
  if (ok) FPosition = position + count;
  return ok;
}

bool TNRDDatabaseFile::RefuseReadOnly() {
  // The descriptor may well be writable (locks need that); read-only use is enforced here.
  if (FAccessMode != amReadOnly) return false;
  FLastError = EACCES;
  return true;
}

bool TNRDDatabaseFile::RawWrite(const void* buffer, std::int64_t count, std::int64_t position) {
  FLastError = 0;
  if (position < 0 || count < 0 || RefuseReadOnly()) return false;
  if (FBatch.Active()) {
    FBatch.Write(buffer, count, position);
    FPosition = position + count;
    return true;
  }
  bool ok = FFile->Write(buffer, count, position);
  if (!ok && ReopenDatabaseFile()) ok = FFile->Write(buffer, count, position);
  if (ok) FPosition = position + count;
  return ok;
}

bool TNRDDatabaseFile::RawGetSize(std::int64_t& size) {
  FLastError = 0;
  if (FBatch.Active()) {
    size = FBatch.Size();
    return true;
  }
  bool ok = FFile->GetSize(size);
  if (!ok && ReopenDatabaseFile()) ok = FFile->GetSize(size);
  return ok;
}

bool TNRDDatabaseFile::RawSetSize(std::int64_t size) {
  FLastError = 0;
  if (size < 0 || RefuseReadOnly()) return false;
  if (FBatch.Active()) {
    FBatch.SetSize(size);
    return true;
  }
  bool ok = FFile->SetSize(size);
  if (!ok && ReopenDatabaseFile()) ok = FFile->SetSize(size);
  return ok;
}

std::int64_t TNRDDatabaseFile::SizeForMessage() {
  std::int64_t size = -1;
  if (FFile) RawGetSize(size);
  return size;
}

bool TNRDDatabaseFile::ReadBuffer(void* buffer, std::int64_t count, std::int64_t position) {
  CheckOpened("ReadBuffer");
  return RawRead(buffer, count, position);
}

void TNRDDatabaseFile::ReadBuffer(void* buffer, std::int64_t count, std::int64_t position, int errorCode) {
  CheckOpened("ReadBuffer");
  if (RawRead(buffer, count, position)) return;
  const int error = LastError();
  throw ENRDException(errorCode,
                      "Cannot Read from file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                      "ErrorCode:%d. ErrorMessage: %s",
                      {FFileName, position, count, FPosition, SizeForMessage(), error, platform::SystemErrorMessage(error)});
}

void TNRDDatabaseFile::WriteBuffer(const void* buffer, std::int64_t count, std::int64_t position, int errorCode) {
  CheckOpened("WriteBuffer");
  if (position < 0) {
    throw ENRDException(errorCode != 0 ? errorCode : 30372,
                        "Cannot Set File Position to %d. FileName='%s'. FilePosition = %d, FileSize = %d",
                        {position, FFileName, FPosition, SizeForMessage()});
  }
  if (RawWrite(buffer, count, position)) return;
  const int error = LastError();
  throw ENRDException(errorCode,
                      "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                      "ErrorCode:%d. ErrorMessage: %s",
                      {FFileName, position, count, FPosition, SizeForMessage(), error, platform::SystemErrorMessage(error)});
}

void TNRDDatabaseFile::SetPosition(std::int64_t position) {
  CheckOpened("SetPosition");
  if (position < 0) {
    throw ENRDException(30372, "Cannot Set File Position to %d. FileName='%s'. FilePosition = %d, FileSize = %d",
                        {position, FFileName, FPosition, SizeForMessage()});
  }
  FPosition = position;
}

std::int64_t TNRDDatabaseFile::GetPosition() {
  CheckOpened("GetPosition");
  return FPosition;
}

void TNRDDatabaseFile::SetSize(std::int64_t newSize) {
  CheckOpened("SetSize");
  if (newSize < 0) {
    throw ENRDException(30372, "Cannot Set File Position to %d. FileName='%s'. FilePosition = %d, FileSize = %d",
                        {newSize, FFileName, FPosition, SizeForMessage()});
  }
  if (RawSetSize(newSize)) {
    FPosition = newSize;
    return;
  }
  const int error = LastError();
  throw ENRDException(30370, "Cannot Truncate File '%s' to %d bytes. ErrorCode:%d. ErrorMessage: %s",
                      {FFileName, newSize, error, platform::SystemErrorMessage(error)});
}

std::int64_t TNRDDatabaseFile::GetSize() {
  CheckOpened("GetSize");
  std::int64_t size = 0;
  if (RawGetSize(size)) return size;
  const int error = LastError();
  throw ENRDException(30371, "Cannot Get File Size for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                      {FFileName, error, platform::SystemErrorMessage(error)});
}

void TNRDDatabaseFile::FlushFileBuffers() {
  CheckOpened("FlushFileBuffers");
  if (FBatch.Active()) return;  // the change set's commit syncs
  bool ok = FFile->Flush();
  if (!ok && ReopenDatabaseFile()) ok = FFile->Flush();
  if (ok) return;
  const int error = LastError();
  throw ENRDException(30379, "Cannot flush file buffers for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                      {FFileName, error, platform::SystemErrorMessage(error)});
}

// ---------------------------------------------------------------------------------------------
// Locks

bool TNRDDatabaseFile::TryLock(bool lock, std::int64_t offset, std::int32_t count) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool ok = lock ? FFile->LockRegion(offset, count) : FFile->UnlockRegion(offset, count);
    if (ok) return true;
    const int error = FFile->LastError();
    if (platform::IsLockUnsupportedError(error)) {
      throw ENRDException(30368, "Byte-range locks are not supported for file '%s'. ErrorCode:%d. ErrorMessage: %s",
                          {FFileName, error, platform::SystemErrorMessage(error)});
    }
    // A refusal by another opener is asked once more on a sound handle; a lost handle is reopened
    // with its locks first.
    if (attempt == 0 && !ReopenDatabaseFile()) return false;
  }
  return false;
}

bool TNRDDatabaseFile::LockByte(std::int64_t offset, std::int32_t count) {
  CheckOpened("LockByte");
  return TryLock(true, offset, count);
}

bool TNRDDatabaseFile::UnlockByte(std::int64_t offset, std::int32_t count) {
  CheckOpened("UnlockByte");
  return TryLock(false, offset, count);
}

bool TNRDDatabaseFile::IsByteLocked(std::int64_t offset) {
  CheckOpened("IsByteLocked");
  return FFile->IsRegionLocked(offset, 1);
}

bool TNRDDatabaseFile::IsRegionLocked(std::int64_t offset, std::int32_t count) {
  CheckOpened("IsRegionLocked");
  return FFile->IsRegionLocked(offset, count);
}

bool TNRDDatabaseFile::IsOtherOpenerPresent() {
  CheckOpened("IsOtherOpenerPresent");
  return FFile->IsOtherOpenerPresent();
}

// ---------------------------------------------------------------------------------------------
// Header search

bool TNRDDatabaseFile::FindSignature(std::int64_t& offset) {
  CheckOpened("FindSignature");
  const std::int64_t savedPosition = FPosition;
  constexpr std::int64_t kWindow = 10000;
  // A header is the signature followed by the 16-bit header size 76; windows overlap by those 18
  // bytes so that a header across a window boundary is seen whole in the next window.
  constexpr std::int64_t kMatch = 18;
  auto isHeader = [](const std::uint8_t* p) {
    std::int16_t headerSize = 0;
    std::memcpy(&headerSize, p + 16, 2);
    return std::memcmp(p, DatabaseSignature, 16) == 0 && headerSize == 76;
  };
  bool found = false;
  std::vector<std::uint8_t> window(static_cast<std::size_t>(kWindow));
  std::int64_t size = 0;
  if (RawGetSize(size) && size >= kMatch) {
    if (RawRead(window.data(), kMatch, 0) && isHeader(window.data())) {
      offset = 0;
      found = true;
    }
    for (std::int64_t start = 0; !found && start < size; start += kWindow - kMatch) {
      const std::int64_t n = std::min(kWindow, size - start);
      if (n < kMatch || !RawRead(window.data(), n, start)) break;
      for (std::int64_t i = 0; i + kMatch <= n; ++i) {
        if (isHeader(window.data() + i)) {
          offset = start + i;
          found = true;
          break;
        }
      }
      if (start + n >= size) break;
    }
  }
  FPosition = savedPosition;
  return found;
}

// ---------------------------------------------------------------------------------------------
// Change sets

bool TNRDDatabaseFile::BeginBatch() {
  CheckOpened("BeginBatch");
  if (FBatch.Active()) return false;
  std::int64_t size = 0;
  if (!RawGetSize(size)) {
    const int error = LastError();
    throw ENRDException(30371, "Cannot Get File Size for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                        {FFileName, error, platform::SystemErrorMessage(error)});
  }
  FBatch.Begin(size);
  return true;
}

void TNRDDatabaseFile::CommitBatch() {
  CheckOpened("CommitBatch");
  if (!FBatch.Active()) return;
  TNRDWriteBatch batch = std::move(FBatch);
  FBatch.Clear();
  if (FSpill) {
    FSpill->Apply(batch);
  } else {
    TNRDJournal::Apply(*FFileSystem, *FFile, batch, FSynchronous);
  }
}

void TNRDDatabaseFile::BeginSpill() {
  CheckOpened("BeginSpill");
  if (FSpill || FBatch.Active()) throw ENRDException(30369, "A change set of file '%s' is running", {FFileName});
  if (RefuseReadOnly()) throw ENRDException(30369, "File '%s' is read-only", {FFileName});
  auto spill = std::make_unique<TNRDSpillJournal>(*FFileSystem, *FFile, FSynchronous);
  spill->Start();
  FSpill = std::move(spill);
}

void TNRDDatabaseFile::EndSpill(bool commit) {
  if (!FSpill) return;
  FBatch.Clear();
  std::unique_ptr<TNRDSpillJournal> spill = std::move(FSpill);
  if (commit) {
    try {
      spill->Finish();
    } catch (...) {
      // Not committed after all: the journal, wherever it stands, takes the file back.
      spill.reset();
      try {
        TNRDJournal::Recover(*FFileSystem, *FFile, FSynchronous);
      } catch (...) {
      }
      throw;
    }
  } else {
    spill->RollBack();
  }
}

bool TNRDDatabaseFile::ReadOriginal(void* buffer, std::int64_t count, std::int64_t position) {
  CheckOpened("ReadBuffer");
  if (!FSpill) return RawRead(buffer, count, position);
  FLastError = 0;
  return position >= 0 && count >= 0 && FSpill->ReadOriginal(buffer, count, position);
}

void TNRDDatabaseFile::AbortBatch() { FBatch.Clear(); }

bool TNRDDatabaseFile::RecoverJournal() {
  CheckOpened("RecoverJournal");
  if (FBatch.Active() || FSpill) return false;
  return TNRDJournal::Recover(*FFileSystem, *FFile, FSynchronous);
}

bool TNRDDatabaseFile::JournalExists() {
  CheckOpened("JournalExists");
  return FFileSystem->Exists(FJournalPath);
}

}  // namespace nrd
