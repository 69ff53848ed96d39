#include "engine/storage/NRDDiskPageManager.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <thread>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDStreams.h"

namespace nrd {

namespace {

const char* const kPageTypeNames[] = {"Unknown Page",
                                      "Empty Page",
                                      "EAM Page",
                                      "PFS Page",
                                      "FileSystemDirectory Page",
                                      "ActiveSessionList Page",
                                      "TableList Page",
                                      "TableLocks Page",
                                      "TableMetaData Page",
                                      "TableMostUpdated Page",
                                      "TableRecord Page",
                                      "TableBlob Page",
                                      "TableIndex Page"};

constexpr std::int32_t kPageHeaderSize = 40;
// The smallest page: the page header and 8 data bytes, so that a PFS page describes 64 pages.
constexpr std::int32_t kMinPageSize = kPageHeaderSize + 8;

[[noreturn]] void RaiseNotOpened(int code) { throw ENRDException(code, "Error - database file is not opened."); }

std::int32_t NextPageState(std::int32_t state) {
  // Stored states run 0 .. 0x7FFFFFFC; the values above mark removed or unreadable pages.
  return (state < 0 || state >= 0x7FFFFFFC) ? 0 : state + 1;
}

}  // namespace

std::string PageTypeName(std::uint16_t pageType) {
  if (pageType > 12) throw ENRDException(30382, "Unknown Page Type: (%d)", {static_cast<int>(pageType)});
  return kPageTypeNames[pageType];
}

void CheckPageType(std::uint16_t found, std::uint16_t expected, int nativeErrorCode) {
  if (found == expected) return;
  auto name = [](std::uint16_t t) { return t > 12 ? "Unknown Page Type: (" + std::to_string(t) + ")" : PageTypeName(t); };
  throw ENRDException(nativeErrorCode, "Wrong page type. Found '%s', but expecting: '%s'", {name(found), name(expected)});
}

bool RetryCall(int tryCount, int delayMS, const std::function<bool()>& func) {
  for (int i = 0; i < tryCount; ++i) {
    if (func()) return true;
    if (delayMS > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMS));
  }
  return false;
}

// ---------------------------------------------------------------------------------------------

TNRDDiskPageManager::TNRDDiskPageManager(platform::FileSystem* fs)
    : FDatabaseFile(std::make_unique<TNRDDatabaseFile>(fs)) {
  InitDBHeader();
}

TNRDDiskPageManager::~TNRDDiskPageManager() {
  try {
    CloseDatabase();
  } catch (...) {
  }
}

void TNRDDiskPageManager::InitDBHeader() {
  FDBHeader = TNRDDBHeader{};
  std::memcpy(FDBHeader.Signature, DatabaseSignature, 16);
  FDBHeader.HeaderSize = 76;
  FDBHeader.Version = 7.9;
  FDBHeader.TotalPageCount = 0;
  FDBHeader.LastUsedPageNo = -1;
  FDBHeader.WriteChangesState = 2;
  FLockedBytes = TNRDLockedBytes{};
  FLockedBytes.LockedByteSize = 20;
  FCryptoHeader = TNRDCryptoHeader{};
  FCryptoHeader.CryptoHeaderSize = 280;
}

void TNRDDiskPageManager::SetOffsets(std::int64_t headerOffset) {
  FOffsetToDBHeader = headerOffset;
  FOffsetToCryptoHeader = headerOffset + 76;
  FOffsetToLockedBytes = headerOffset + 356;
  FOffsetToLastObjectID = headerOffset + 376;
  FOffsetToFirstPage = headerOffset + 380;
}

void TNRDDiskPageManager::CheckOpened(int code) const {
  if (!FDatabaseFile->IsOpened()) RaiseNotOpened(code);
}

TNRDPageCipher& TNRDDiskPageManager::Cipher() {
  if (!FCipher || FCipher->Algorithm() != FPassword.CryptoAlgorithm) {
    FCipher = std::make_unique<TNRDPageCipher>(FPassword.CryptoAlgorithm, FPassword.Password);
  }
  return *FCipher;
}

// ---------------------------------------------------------------------------------------------
// Create, open, close

void TNRDDiskPageManager::CreateAndOpenDatabase(const std::string& databaseFileName, const TNRDPassword& password,
                                                std::int32_t pageSize, std::int32_t extentPageCount) {
  if (FDatabaseFile->IsOpened()) {
    throw ENRDException(10461, "Error - database file %s is in use.", {databaseFileName});
  }
  if (pageSize < kMinPageSize || pageSize > 65535 || extentPageCount < 1 || extentPageCount > 65535) {
    throw ENRDException(30378, "Invalid page size %d or pages per extent %d", {pageSize, extentPageCount});
  }
  InitDBHeader();
  SetOffsets(0);
  SetPageSizes(pageSize, kPageHeaderSize);
  FPassword = password;
  FCipher.reset();
  FReadOnly = false;
  FExclusive = true;
  FMultiUser = false;
  FLastReadOnlyObjectID = -1;
  FDatabaseFile->CreateAndOpenFile(databaseFileName);
  try {
    FDBHeader.Encrypted = password.Password.empty() ? 0 : 0xFF;
    FDBHeader.PageSize = static_cast<std::uint16_t>(pageSize);
    FDBHeader.PageCountInExtent = static_cast<std::uint16_t>(extentPageCount);
    if (!password.Password.empty()) {
      FCryptoHeader.CryptoAlgorithm = password.CryptoAlgorithm;
      for (std::uint8_t& b : FCryptoHeader.ControlBlock) b = static_cast<std::uint8_t>(NextRandom() % 255);
      FCryptoHeader.ControlBlockCRC = CalcCRC32(0, FCryptoHeader.ControlBlock, 256);
      if (!EncryptPageData(password.CryptoAlgorithm, FCryptoHeader.ControlBlock, 256, password.Password)) {
        throw ENRDException(30380, "Cannot encrypt the control block of file '%s'", {databaseFileName});
      }
    }
    WriteDBHeader();
    WriteCryptoHeader();
    WriteLockedBytes();
    InitObjectID(1, 0);
    FDatabaseFreeSpaceManager = std::make_unique<TNRDDatabaseFreeSpaceManager>(this);
    FLastDataPageNo = -1;
  } catch (...) {
    try {
      FDatabaseFile->CloseFile();
    } catch (...) {
    }
    throw;
  }
}

bool TNRDDiskPageManager::IsFileReadOnly(const std::string& fileName, bool& aMultiUser) {
  platform::FileSystem& fs = FDatabaseFile->FileSystem();
  if (fs.IsReadOnlyFile(fileName)) {
    aMultiUser = false;
    return true;
  }
  int error = 0;
  auto probe = fs.Open(fileName, platform::FileAccess::ReadWrite, platform::FileShare::DenyNone,
                       platform::FileDisposition::OpenExisting, error);
  if (!probe) return true;
  const bool readOnly = !probe->IsWritable();
  probe->Close();
  return readOnly;
}

void TNRDDiskPageManager::CheckHeaderFields() {
  const TNRDDBHeader& h = FDBHeader;
  const std::int64_t dataSize = static_cast<std::int64_t>(h.PageSize) - kPageHeaderSize;
  const std::int64_t eamPages = dataSize * 4 * h.PageCountInExtent;
  const bool sound = h.HeaderSize >= 76 && h.HeaderSize <= 4096 && h.PageSize >= kMinPageSize &&
                     h.PageCountInExtent >= 1 && eamPages <= std::numeric_limits<std::int32_t>::max() &&
                     h.TotalPageCount >= 0 && h.LastUsedPageNo >= -1 && h.LastUsedPageNo < std::max<std::int32_t>(+h.TotalPageCount, 1);
  if (!sound) throw ENRDException(20237, "Invalid database format");
}

void TNRDDiskPageManager::OpenDatabase(const std::string& databaseFileName, const TNRDPassword& password,
                                       bool& readOnly, bool& repairNeeded, bool exclusive, bool& aMultiUser) {
  if (FDatabaseFile->IsOpened()) {
    throw ENRDException(10462, "Error - database file %s is in use.", {databaseFileName});
  }
  InitDBHeader();
  SetOffsets(0);
  FPassword = password;
  FCipher.reset();
  FLastReadOnlyObjectID = -1;
  if (!readOnly && FDatabaseFile->FileSystem().Exists(databaseFileName)) {
    readOnly = IsFileReadOnly(databaseFileName, aMultiUser);
  }
  FMultiUser = aMultiUser;
  FExclusive = exclusive;
  FReadOnly = readOnly;
  if (readOnly) {
    FDatabaseFile->OpenFile(databaseFileName, amReadOnly, smShareDenyNone);
  } else if (exclusive) {
    FMultiUser = false;
    FDatabaseFile->OpenFile(databaseFileName, amReadWrite, smExclusive);
  } else {
    FDatabaseFile->OpenFile(databaseFileName, amReadWrite, smShareDenyNone);
  }
  aMultiUser = FMultiUser;
  try {
    // The header is found before its lock is taken: the lock byte lies behind the header, and an
    // opener that locked anywhere else would not see a live writer and could roll its change set
    // back. The signature itself is never rewritten, so finding it needs no lock.
    std::int64_t headerOffset = 0;
    if (!FDatabaseFile->FindSignature(headerOffset)) headerOffset = 0;
    SetOffsets(headerOffset);
    LockDBHeaderOrRaise(20230);
    try {
      ReadDBHeader();
      repairNeeded = FDBHeader.WriteChangesState != 2 || FDBHeader.Version < 2.99;
    } catch (...) {
      UnlockDBHeader();
      throw;
    }
    UnlockDBHeader();
    SetOffsets(FOffsetToDBHeader);
    if (std::memcmp(FDBHeader.Signature, DatabaseSignature, 16) != 0) {
      throw ENRDException(10470, "Invalid file format. Found signature: '%s', expected: '%s'",
                          {std::string(FDBHeader.Signature, 16), std::string(DatabaseSignature)});
    }
    CheckHeaderFields();
    SetPageSizes(FDBHeader.PageSize, kPageHeaderSize);
    FOffsetToCryptoHeader = FOffsetToDBHeader + FDBHeader.HeaderSize;
    FOffsetToLockedBytes = FOffsetToCryptoHeader + 280;
    ReadCryptoHeader();
    if (Encrypted()) {
      if (FCryptoHeader.CryptoAlgorithm >= kCryptoAlgorithmCount) throw ENRDException(20237, "Invalid database format");
      FPassword.CryptoAlgorithm = static_cast<TNRDCryptoAlgorithm>(FCryptoHeader.CryptoAlgorithm);
      std::uint8_t block[256];
      std::memcpy(block, FCryptoHeader.ControlBlock, 256);
      const bool decrypted = DecryptPageData(FPassword.CryptoAlgorithm, block, 256, FPassword.Password);
      if (!decrypted || CalcCRC32(0, block, 256) != FCryptoHeader.ControlBlockCRC) {
        throw ENRDException(30445, "Cannot open database - incorrect password");
      }
    }
    if (FOffsetToCryptoHeader + FCryptoHeader.CryptoHeaderSize != FOffsetToLockedBytes) {
      throw ENRDException(20237, "Invalid database format");
    }
    ReadLockedBytes();
    if (FLockedBytes.LockedByteSize < 5 || FLockedBytes.LockedByteSize > 4096) {
      throw ENRDException(20237, "Invalid database format");
    }
    FOffsetToLastObjectID = FOffsetToLockedBytes + FLockedBytes.LockedByteSize;
    FOffsetToFirstPage = FOffsetToLastObjectID + 4;
    FDatabaseFreeSpaceManager = std::make_unique<TNRDDatabaseFreeSpaceManager>(this);
    FLastDataPageNo = -1;
  } catch (...) {
    try {
      FDatabaseFile->CloseFile();
    } catch (...) {
    }
    FLockDBHeaderCount = 0;
    throw;
  }
}

void TNRDDiskPageManager::CloseDatabase() {
  if (FDatabaseFile->IsOpened() && FDatabaseFreeSpaceManager) {
    // Changes never committed are dropped with the file, and the pages they added go back, as do
    // unused reserves; should that fail they stay marked used (a leak, which the register keeps
    // recorded for the next opener).
    bool returned = true;
    std::vector<std::int32_t> sessions;
    for (const auto& info : FSessions) sessions.push_back(info->SessionID);
    for (const auto& entry : FReserves) sessions.push_back(entry.first);
    for (const std::int32_t sessionID : sessions) {
      try {
        const TNRDSessionPageInfo* info = FindSession(sessionID);
        if ((info != nullptr && info->AddedPageNumbers.ItemCount > 0) || HasReserve(sessionID) || SpillActive(sessionID))
          CancelChanges(sessionID);
      } catch (...) {
        returned = false;
      }
    }
    if (returned) UnregisterReserves();
  }
  FReserveRegister.reset();
  FReserveSlot = -1;
  FReserves.clear();
  // A spill whose rollback failed leaves its journal for the next opener.
  FSpill.reset();
  if (FDatabaseFile->IsOpened()) {
    try {
      FDatabaseFile->CloseFile();
    } catch (...) {
      // A failing close only leaves the file closed.
    }
  }
  FLockDBHeaderCount = 0;
  FDatabaseFreeSpaceManager.reset();
}

// ---------------------------------------------------------------------------------------------
// Headers

void TNRDDiskPageManager::ReadDBHeader() {
  CheckOpened(10459);
  FDatabaseFile->ReadBuffer(&FDBHeader, sizeof FDBHeader, FOffsetToDBHeader, 10464);
}

void TNRDDiskPageManager::WriteDBHeader() {
  CheckOpened(10460);
  FDatabaseFile->WriteBuffer(&FDBHeader, sizeof FDBHeader, FOffsetToDBHeader, 10462);
}

void TNRDDiskPageManager::ReadCryptoHeader() {
  CheckOpened(30436);
  FDatabaseFile->ReadBuffer(&FCryptoHeader, sizeof FCryptoHeader, FOffsetToCryptoHeader, 30439);
}

void TNRDDiskPageManager::WriteCryptoHeader() {
  CheckOpened(30437);
  FDatabaseFile->WriteBuffer(&FCryptoHeader, sizeof FCryptoHeader, FOffsetToCryptoHeader, 30438);
}

void TNRDDiskPageManager::ReadLockedBytes() {
  CheckOpened(30441);
  FDatabaseFile->ReadBuffer(&FLockedBytes.LockedByteSize, 2, FOffsetToLockedBytes, 30442);
}

void TNRDDiskPageManager::WriteLockedBytes() {
  CheckOpened(30443);
  FDatabaseFile->WriteBuffer(&FLockedBytes, sizeof FLockedBytes, FOffsetToLockedBytes, 30444);
}

std::int64_t TNRDDiskPageManager::GetPageOffset(std::int32_t pageNo) const {
  if (pageNo < 0) throw ENRDException(10471, "Invalid PageNo = %d", {pageNo});
  return FOffsetToFirstPage + static_cast<std::int64_t>(pageNo) * FPageSize;
}

// ---------------------------------------------------------------------------------------------
// Locks and change sets

bool TNRDDiskPageManager::LockDBHeader() {
  if (FLockDBHeaderCount > 0) {
    ++FLockDBHeaderCount;
    return true;
  }
  if (!FDatabaseFile->LockByte(FOffsetToLockedBytes + 4, 1)) return false;
  FLockDBHeaderCount = 1;
  try {
    RecoverJournalUnderLock();
  } catch (...) {
    FLockDBHeaderCount = 0;
    FDatabaseFile->UnlockByte(FOffsetToLockedBytes + 4, 1);
    throw;
  }
  return true;
}

bool TNRDDiskPageManager::UnlockDBHeader() {
  if (FLockDBHeaderCount <= 0) return false;
  if (--FLockDBHeaderCount > 0) return true;
  return FDatabaseFile->UnlockByte(FOffsetToLockedBytes + 4, 1);
}

void TNRDDiskPageManager::LockDBHeaderOrRaise(int code) {
  if (!RetryCall(FLockTryCount, FLockDelayMS, [this] { return LockDBHeader(); })) {
    throw ENRDException(code, "Database is locked");
  }
}

void TNRDDiskPageManager::RecoverJournalUnderLock() {
  // Whoever holds the header lock alone may find a journal: its writer is gone.
  if (!FDatabaseFile->RecoverJournal()) return;
  ++FRecoveredChangeSets;
  for (const auto& info : FSessions) {
    if (HasChanges(info->SessionID)) FStaleSessions.insert(info->SessionID);
  }
  DropCachedState();
}

void TNRDDiskPageManager::RecoverAbandonedChangeSet() {
  if (FLockDBHeaderCount > 0 || !FDatabaseFile->IsOpened() || !FDatabaseFile->JournalExists()) return;
  LockDBHeaderOrRaise(20230);  // rolls the journal back when its writer is gone
  UnlockDBHeader();
}

void TNRDDiskPageManager::DropCachedState() {
  DropUnusedSharedPages();
  if (FDatabaseFreeSpaceManager) {
    try {
      ReadDBHeader();
      FDatabaseFreeSpaceManager->LoadHeaderState();
    } catch (...) {
      // The next operation reads the header again and reports the failure.
    }
  }
}

void TNRDDiskPageManager::RunChangeSet(int lockCode, const std::function<void()>& body,
                                       const std::function<void()>& onFailure) {
  LockDBHeaderOrRaise(lockCode);
  bool owner = false;
  try {
    owner = FDatabaseFile->BeginBatch();
    body();
    if (owner) {
      owner = false;  // CommitBatch leaves no batch behind, whatever happens
      FDatabaseFile->CommitBatch();
    }
  } catch (...) {
    if (owner) FDatabaseFile->AbortBatch();
    if (onFailure) {
      try {
        onFailure();
      } catch (...) {
      }
    }
    if (!FDatabaseFile->InBatch()) DropCachedState();
    UnlockDBHeader();
    throw;
  }
  UnlockDBHeader();
}

bool TNRDDiskPageManager::LockTables() { return FDatabaseFile->LockByte(FOffsetToLockedBytes + 3, 1); }
bool TNRDDiskPageManager::UnlockTables() { return FDatabaseFile->UnlockByte(FOffsetToLockedBytes + 3, 1); }
bool TNRDDiskPageManager::LockFreeSpaceManager() { return FDatabaseFile->LockByte(FOffsetToLockedBytes + 2, 1); }
bool TNRDDiskPageManager::UnlockFreeSpaceManager() { return FDatabaseFile->UnlockByte(FOffsetToLockedBytes + 2, 1); }
bool TNRDDiskPageManager::LockLastObjectID() { return FDatabaseFile->LockByte(FOffsetToLastObjectID, 1); }
bool TNRDDiskPageManager::UnlockLastObjectID() { return FDatabaseFile->UnlockByte(FOffsetToLastObjectID, 1); }

bool TNRDDiskPageManager::LockPageByte(std::int32_t pageNo, std::int32_t offset) {
  return FDatabaseFile->LockByte(GetPageOffset(pageNo) + offset, 1);
}

bool TNRDDiskPageManager::UnlockPageByte(std::int32_t pageNo, std::int32_t offset) {
  return FDatabaseFile->UnlockByte(GetPageOffset(pageNo) + offset, 1);
}

bool TNRDDiskPageManager::IsPageByteLocked(std::int32_t pageNo, std::int32_t offset) {
  return FDatabaseFile->IsByteLocked(GetPageOffset(pageNo) + offset);
}

bool TNRDDiskPageManager::IsPageRegionLocked(std::int32_t pageNo, std::int32_t offset, std::int32_t count) {
  return FDatabaseFile->IsRegionLocked(GetPageOffset(pageNo) + offset, count);
}

// ---------------------------------------------------------------------------------------------
// File size and object IDs

void TNRDDiskPageManager::ExtendFile(std::int32_t pageCount) {
  if (pageCount < 1) return;
  const std::int64_t total = static_cast<std::int64_t>(FDBHeader.TotalPageCount) + pageCount;
  if (total > std::numeric_limits<std::int32_t>::max()) {
    throw ENRDException(30430, "Page: %d cannot be addressed. TotalPageCount=%d", {total, FDBHeader.TotalPageCount});
  }
  FDBHeader.TotalPageCount = static_cast<std::int32_t>(total);
  FDatabaseFile->SetSize(FOffsetToFirstPage + total * FPageSize);
}

void TNRDDiskPageManager::TruncateFile(std::int32_t pageCount) {
  if (pageCount < 1 || pageCount > FDBHeader.TotalPageCount) return;
  FDBHeader.TotalPageCount -= pageCount;
  FDatabaseFile->SetSize(FOffsetToFirstPage + static_cast<std::int64_t>(FDBHeader.TotalPageCount) * FPageSize);
  WriteDBHeader();
}

void TNRDDiskPageManager::TruncateDatabase() {
  RunChangeSet(20213, [this] {
    ReadDBHeader();
    const std::int32_t surplus = FDBHeader.TotalPageCount - 1 - FDBHeader.LastUsedPageNo;
    if (surplus > 0) TruncateFile(surplus);
    if (FDatabaseFreeSpaceManager) FDatabaseFreeSpaceManager->LoadHeaderState();
  });
}

std::int32_t TNRDDiskPageManager::GetNextObjectID(std::int32_t, std::int32_t) {
  if (!FDatabaseFile->IsOpened()) RaiseNotOpened(30399);
  if (!RetryCall(FLockTryCount, FLockDelayMS, [this] { return LockLastObjectID(); })) {
    throw ENRDException(30401, "Cannot get NextObjectID. File area is Locked.");
  }
  std::int32_t value = 0;
  try {
    FDatabaseFile->ReadBuffer(&value, 4, FOffsetToLastObjectID, 30400);
    value = WrapAdd<std::int32_t>(value, 1);
    if (!FReadOnly && FDatabaseFile->IsWritable()) {
      FDatabaseFile->WriteBuffer(&value, 4, FOffsetToLastObjectID, 30404);
    } else {
      // Read-only: numbers above the stored counter that never repeat within this process.
      value = std::max(value, WrapAdd<std::int32_t>(FLastReadOnlyObjectID, 1));
      FLastReadOnlyObjectID = value;
    }
  } catch (...) {
    UnlockLastObjectID();
    throw;
  }
  UnlockLastObjectID();
  return value;
}

void TNRDDiskPageManager::InitObjectID(std::int32_t, std::int32_t) {
  if (!RetryCall(FLockTryCount, FLockDelayMS, [this] { return LockLastObjectID(); })) return;
  try {
    if (!FReadOnly && FDatabaseFile->IsWritable()) {
      const std::int32_t zero = 0;
      FDatabaseFile->WriteBuffer(&zero, 4, FOffsetToLastObjectID, 30406);
    }
  } catch (...) {
    UnlockLastObjectID();
    throw;
  }
  UnlockLastObjectID();
}

// ---------------------------------------------------------------------------------------------
// Direct page access

void TNRDDiskPageManager::ReadPageRegion(void* buffer, std::int32_t pageNo, std::uint16_t offset, std::uint16_t count) {
  if (offset + count > FPageSize) {
    throw ENRDException(10476, "Error - invalid page offset = %d, page size = %d", {offset + count, static_cast<int>(FPageSize)});
  }
  FDatabaseFile->ReadBuffer(buffer, count, GetPageOffset(pageNo) + offset, 10474);
}

void TNRDDiskPageManager::WritePageRegion(const void* buffer, std::int32_t pageNo, std::uint16_t offset,
                                          std::uint16_t count) {
  if (offset + count > FPageSize) {
    throw ENRDException(10477, "Error - invalid page offset = %d, page size = %d", {offset + count, static_cast<int>(FPageSize)});
  }
  FDatabaseFile->WriteBuffer(buffer, count, GetPageOffset(pageNo) + offset, 10475);
}

std::int32_t TNRDDiskPageManager::InternalReadPageState(std::int32_t pageNo) {
  if (!FMultiUser) return 0;
  std::int32_t state = PageStateRemoved;
  try {
    FDatabaseFile->ReadBuffer(&state, 4, GetPageOffset(pageNo) + 4, 20197);
  } catch (const ENRDException&) {
    return PageStateRemoved;
  }
  return state;
}

void TNRDDiskPageManager::InternalWritePageState(std::int32_t pageNo, std::int32_t pageState) {
  FDatabaseFile->WriteBuffer(&pageState, 4, GetPageOffset(pageNo) + 4, 20198);
}

bool TNRDDiskPageManager::ReadStoredPageState(std::int32_t pageNo, std::int32_t& state) {
  if (!FMultiUser) return false;
  state = InternalReadPageState(pageNo);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Pages

void TNRDDiskPageManager::InternalAddPage(TNRDPage* page) {
  if (!FDatabaseFreeSpaceManager) RaiseNotOpened(30399);
  // A page taken inside another session's spill would go with that spill's rollback.
  if (FSpill && page->SessionID() != FSpill->SessionID) throw ENRDException(20231, "Database is locked");
  page->SetPageNo(TakeReservedPage(page->SessionID()));
  page->AllocPageBuffer();
}

std::int32_t TNRDDiskPageManager::TakeReservedPage(std::int32_t sessionID) {
  // A change set that is running may still be rolled back, taking its allocations with it: a
  // reserve filled inside it could then hold pages the file calls free.
  if (FDatabaseFile->InBatch()) return FDatabaseFreeSpaceManager->GetPage(-1);
  TPageReserve& reserve = FReserves[sessionID];
  if (reserve.Next >= reserve.Pages.size()) {
    RegisterReserves();
    constexpr std::int32_t kMinRunLimit = 64;
    const std::int32_t limit = std::max(kMinRunLimit, FDatabaseFreeSpaceManager->TotalPageCount());
    const std::int32_t count = std::clamp(reserve.Run, 1, limit);
    // A transaction's first run is a guess from the one before: it never grows the file for more
    // than its first page.
    std::vector<std::int32_t> pages = FDatabaseFreeSpaceManager->GetPages(count, reserve.Taken == 0 ? 1 : count);
    if (pages.empty()) throw ENRDException(20064, "Invalid page number");
    std::sort(pages.begin(), pages.end());  // handed out in file order
    reserve.Pages = std::move(pages);
    reserve.Next = 0;
    reserve.Run = count > limit / 2 ? limit : count * 2;
  }
  ++reserve.Taken;
  return reserve.Pages[reserve.Next++];
}

bool TNRDDiskPageManager::HasReserve(std::int32_t sessionID) const {
  auto it = FReserves.find(sessionID);
  return it != FReserves.end() && it->second.Next < it->second.Pages.size();
}

void TNRDDiskPageManager::ReturnReserve(std::int32_t sessionID) {
  auto it = FReserves.find(sessionID);
  if (it == FReserves.end() || it->second.Next >= it->second.Pages.size()) return;
  const TPageReserve& reserve = it->second;
  FDatabaseFreeSpaceManager->FreePages(
      std::vector<std::int32_t>(reserve.Pages.begin() + static_cast<std::ptrdiff_t>(reserve.Next), reserve.Pages.end()));
}

void TNRDDiskPageManager::ForgetReserve(std::int32_t sessionID) {
  auto it = FReserves.find(sessionID);
  if (it == FReserves.end()) return;
  // The session's next transaction starts with a run of twice the pages this one took (at most
  // 64), so that a steady stream of small transactions takes its pages in one change set each
  // rather than in runs of 1, 2, 4 ...; one that took none keeps the start it had.
  constexpr std::int32_t kCarriedRunLimit = 64;
  const TPageReserve& ended = it->second;
  const std::int32_t start =
      ended.Taken > 0 ? static_cast<std::int32_t>(std::min<std::int64_t>(2 * ended.Taken, kCarriedRunLimit)) : ended.Start;
  it->second = TPageReserve{};
  it->second.Run = it->second.Start = start;
}

namespace {
constexpr std::int64_t kReserveSlots = 4096;
}

std::string TNRDDiskPageManager::ReserveRegisterPath() const {
  std::string path = TNRDJournal::JournalPath(FDatabaseFile->FileName());
  return path.substr(0, path.size() - std::string("-journal").size()) + "-reserves";
}

void TNRDDiskPageManager::RegisterReserves() {
  if (FReserveSlot >= 0) return;
  platform::FileSystem& fs = FDatabaseFile->FileSystem();
  const std::string path = ReserveRegisterPath();
  // Under the header lock, so that two openers never both create the register.
  LockDBHeaderOrRaise(20231);
  try {
    int error = 0;
    auto reg = fs.Open(path, platform::FileAccess::ReadWrite, platform::FileShare::DenyNone,
                       platform::FileDisposition::OpenExisting, error);
    if (!reg) {
      reg = fs.Open(path, platform::FileAccess::ReadWrite, platform::FileShare::DenyNone,
                    platform::FileDisposition::CreateAlways, error);
    }
    if (!reg) throw ENRDException(30369, "Cannot open the reserve register '%s'. ErrorCode:%d", {path, error});
    const std::uint8_t one = 1;
    for (std::int64_t slot = 0; slot < kReserveSlots; ++slot) {
      if (!reg->LockRegion(slot, 1)) continue;
      if (!reg->Write(&one, 1, slot) || (FDatabaseFile->Synchronous() && (!reg->Flush() || !fs.SyncDirectoryOf(path)))) {
        throw ENRDException(30369, "Cannot write the reserve register '%s'. ErrorCode:%d", {path, reg->LastError()});
      }
      FReserveSlot = static_cast<std::int32_t>(slot);
      FReserveRegister = std::move(reg);
      break;
    }
  } catch (...) {
    UnlockDBHeader();
    throw;
  }
  UnlockDBHeader();
  // With every slot held the opener goes on unregistered: a crash of it may then leak pages.
}

void TNRDDiskPageManager::UnregisterReserves() {
  if (!FReserveRegister) return;
  // The last opener to leave takes the register away, so that no file stays beside the database.
  // Under the header lock nobody registers meanwhile, and every live opener's byte is set: a
  // register of zero bytes only has no one left to record. One try: a busy file keeps its register.
  const bool headerLocked = LockDBHeader();
  const std::uint8_t zero = 0;
  bool unused = false;
  if (FReserveRegister->Write(&zero, 1, FReserveSlot)) {
    FReserveRegister->UnlockRegion(FReserveSlot, 1);
    std::int64_t size = 0;
    if (headerLocked && FReserveRegister->GetSize(size) && size <= kReserveSlots) {
      std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
      unused = bytes.empty() || FReserveRegister->Read(bytes.data(), size, 0);
      for (const std::uint8_t b : bytes) unused = unused && b == 0;
    }
  }
  FReserveRegister->Close();
  FReserveRegister.reset();
  FReserveSlot = -1;
  if (unused) {
    int error = 0;
    FDatabaseFile->FileSystem().Remove(ReserveRegisterPath(), error);
  }
  if (headerLocked) UnlockDBHeader();
}

bool TNRDDiskPageManager::DeadReservesRecorded() {
  platform::FileSystem& fs = FDatabaseFile->FileSystem();
  int error = 0;
  auto reg = fs.Open(ReserveRegisterPath(), platform::FileAccess::ReadOnly, platform::FileShare::DenyNone,
                     platform::FileDisposition::OpenExisting, error);
  std::int64_t size = 0;
  if (!reg || !reg->GetSize(size)) return false;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min(size, kReserveSlots)));
  if (!bytes.empty() && !reg->Read(bytes.data(), static_cast<std::int64_t>(bytes.size()), 0)) return false;
  for (std::size_t slot = 0; slot < bytes.size(); ++slot) {
    if (bytes[slot] != 0 && !reg->IsRegionLocked(static_cast<std::int64_t>(slot), 1)) return true;
  }
  return false;
}

bool TNRDDiskPageManager::GiveBackLeakedPages(const std::function<bool(std::vector<std::int32_t>&)>& findLeaked) {
  if (FReadOnly || !FDatabaseFile->IsOpened() || !FDatabaseFile->FileSystem().Exists(ReserveRegisterPath())) return false;
  // The header lock keeps every other opener from taking reserves (or opening) meanwhile.
  LockDBHeaderOrRaise(20232);
  bool given = false;
  try {
    std::vector<std::int32_t> leaked;
    if (FReserveSlot < 0 && !FDatabaseFile->IsOtherOpenerPresent() && DeadReservesRecorded() && findLeaked(leaked)) {
      if (!leaked.empty()) RunChangeSet(20232, [&] { FDatabaseFreeSpaceManager->FreePages(leaked); });
      int error = 0;
      FDatabaseFile->FileSystem().Remove(ReserveRegisterPath(), error);
      given = true;
    }
  } catch (...) {
    UnlockDBHeader();
    throw;
  }
  UnlockDBHeader();
  return given;
}

void TNRDDiskPageManager::InternalRemovePage(std::int32_t pageNo) {
  if (!FDatabaseFreeSpaceManager) RaiseNotOpened(30399);
  RunChangeSet(20232, [&] {
    InternalWritePageState(pageNo, PageStateRemoved);
    FDatabaseFreeSpaceManager->FreePage(pageNo);
  });
}

bool TNRDDiskPageManager::InternalReadPage(TNRDPage* page) {
  if (page->PageBuffer() == nullptr) page->AllocPageBuffer();
  // A page another session spilled holds that session's uncommitted changes: everyone else reads
  // its original from the journal.
  const bool original = FSpill && page->SessionID() != FSpill->SessionID && FSpill->Pages.count(page->PageNo()) > 0;
  const std::int64_t offset = GetPageOffset(page->PageNo());
  const bool read = original ? FDatabaseFile->ReadOriginal(page->PageBuffer(), FPageSize, offset)
                             : FDatabaseFile->ReadBuffer(page->PageBuffer(), FPageSize, offset);
  if (!read) {
    page->PageHeader()->State = PageStateRemoved;
    return false;
  }
  DecryptReadPage(page);
  page->SetReloaded(true);
  return true;
}

void TNRDDiskPageManager::DecryptReadPage(TNRDPage* page) {
  if (!Encrypted() || !FDatabaseFreeSpaceManager || FDatabaseFreeSpaceManager->IsSystemPage(page->PageNo())) return;
  const auto algorithm = static_cast<TNRDCryptoAlgorithm>(page->PageHeader()->Cipherype);
  bool decrypted = false;
  try {
    if (algorithm == FPassword.CryptoAlgorithm) {
      Cipher().DecryptPage(page->PageData(), FPageDataSize);
      decrypted = true;
    } else {
      decrypted = DecryptPageData(algorithm, page->PageData(), FPageDataSize, FPassword.Password);
    }
  } catch (...) {
    decrypted = false;
  }
  if (!decrypted) throw ENRDException(30381, "Cannot decrypt page. PageNo: %d", {page->PageNo()});
  if (!FIgnoreCRCErrors && CalcCRC32(0, page->PageData(), FPageDataSize) != page->PageHeader()->CRC32) {
    throw ENRDException(30446, "Decrypt page error. Check CRC failed. PageNo: %d", {page->PageNo()});
  }
}

bool TNRDDiskPageManager::ReadAheadOnMiss(std::int32_t sessionID, std::int32_t pageNo) {
  // Only where a cached page stays valid without a look at the file (one user), and never while
  // the file holds uncommitted data: inside a change set or while a transaction has spilled.
  if (FMultiUser || FSpill || FDatabaseFile->InBatch() || !FDatabaseFreeSpaceManager) return false;
  // A miss a little ahead of the last one walks forward through the file (a scan, whose next
  // record page may lie behind a few index pages); any other miss ends the walk.
  const std::int32_t last = FLastMissPageNo;
  FLastMissPageNo = pageNo;
  if (pageNo <= last || pageNo - last > FReadAheadRun + kReadAheadGap) {
    FReadAheadRun = 0;
    return false;
  }
  // The run doubles while the walk goes on, up to a bound, and never takes more than a quarter of
  // the cache, so that the pages read ahead do not push out what the reader still uses.
  const std::int32_t run = std::min({FReadAheadRun == 0 ? kReadAheadFirstRun : FReadAheadRun * 2, kReadAheadMaxRun,
                                     FCacheCapacity / 4});
  if (run < 2) return false;
  std::int64_t size = 0;
  try {
    size = FDatabaseFile->GetSize();
  } catch (const ENRDException&) {
    return false;  // the page is read alone, which reports what went wrong
  }
  FReadAheadRun = run;
  const std::int64_t inFile = size > FOffsetToFirstPage ? (size - FOffsetToFirstPage) / FPageSize - pageNo : 0;
  const std::int32_t count = static_cast<std::int32_t>(std::min<std::int64_t>(run, inFile));
  if (count < 2) return false;
  FReadAheadBuffer.resize(static_cast<std::size_t>(count) * FPageSize);
  if (!FDatabaseFile->ReadBuffer(FReadAheadBuffer.data(), static_cast<std::int64_t>(count) * FPageSize, GetPageOffset(pageNo))) {
    return false;  // the page is read alone, which reports what went wrong
  }
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t no = pageNo + i;
    if (FDatabaseFreeSpaceManager->IsSystemPage(no) || FSharedPages.Find(no) != nullptr) continue;
    // A page some session changed stays that session's; the cache keeps only what others may read.
    bool changed = false;
    for (const auto& other : FSessions) changed = changed || other->DirtyPages.Find(no) != nullptr;
    if (changed) continue;
    auto page = std::make_unique<TNRDPage>(this);
    page->SetPageNo(no);
    page->SetSessionID(sessionID);
    page->AllocPageBuffer();
    std::memcpy(page->PageBuffer(), FReadAheadBuffer.data() + static_cast<std::size_t>(i) * FPageSize, FPageSize);
    try {
      DecryptReadPage(page.get());
    } catch (const ENRDException&) {
      continue;  // a page that fails its check is left to its own read, which raises
    }
    page->SetReloaded(true);
    page->SetTypeUnchecked(true);
    FSharedPages.Insert(page.get());
    page->SetParentList(&FSharedPages);
    page.release();
  }
  return true;
}

void TNRDDiskPageManager::SkipDataBeforeImage(std::int32_t pageNo) {
  // A page the transaction took from the free space: nothing committed refers to it, and once its
  // header is rolled back (still journaled) every reader sees it as the free page it was. Not for
  // encrypted pages: an old header over new data would fail its CRC check instead of reading as free.
  if (Encrypted()) return;
  FDatabaseFile->SkipBeforeImage(GetPageOffset(pageNo) + kPageHeaderSize, FPageSize - kPageHeaderSize);
}

void TNRDDiskPageManager::InternalWritePage(TNRDPage* page) {
  TNRDDiskPageHeader* h = page->PageHeader();
  h->State = NextPageState(h->State);
  const std::int64_t offset = GetPageOffset(page->PageNo());
  if (Encrypted() && page->EncryptionEnabled() && FDatabaseFreeSpaceManager &&
      !FDatabaseFreeSpaceManager->IsSystemPage(page->PageNo())) {
    h->Cipherype = FPassword.CryptoAlgorithm;
    h->CRC32 = CalcCRC32(0, page->PageData(), FPageDataSize);
    // The page in memory stays plain: the cipher works on a copy.
    FScratch.assign(page->PageBuffer(), page->PageBuffer() + FPageSize);
    try {
      Cipher().EncryptPage(FScratch.data() + kPageHeaderSize, FPageDataSize);
    } catch (...) {
      throw ENRDException(30380, "Cannot encrypt page. PageNo: %d", {page->PageNo()});
    }
    FDatabaseFile->WriteBuffer(FScratch.data(), FPageSize, offset, 10469);
  } else {
    FDatabaseFile->WriteBuffer(page->PageBuffer(), FPageSize, offset, 10469);
  }
}

std::int32_t TNRDDiskPageManager::GetPageCount() {
  if (!LockDBHeader()) throw ENRDException(20236, "Database is locked");
  try {
    ReadDBHeader();
  } catch (...) {
    UnlockDBHeader();
    throw;
  }
  UnlockDBHeader();
  return FDBHeader.TotalPageCount;
}

std::int32_t TNRDDiskPageManager::PageCountBound() {
  CheckOpened(10459);
  const std::int64_t size = FDatabaseFile->GetSize();
  const std::int64_t pages = size > FOffsetToFirstPage ? (size - FOffsetToFirstPage + FPageSize - 1) / FPageSize : 0;
  return static_cast<std::int32_t>(std::min<std::int64_t>(std::max<std::int64_t>(pages, FDBHeader.TotalPageCount),
                                                          std::numeric_limits<std::int32_t>::max()));
}

bool TNRDDiskPageManager::IsPageCurrent(std::int32_t sessionID, TNRDPage* page) {
  if (!FMultiUser) return true;
  std::int32_t workState = 0;
  std::int32_t pageState = 0;
  return FTablePagesCacheManager.GetWorkTableState(sessionID, workState) && page->GetTableState(sessionID, pageState) &&
         workState == pageState;
}

void TNRDDiskPageManager::RememberPageTableState(std::int32_t sessionID, TNRDPage* page) {
  if (!FMultiUser) return;
  std::int32_t workState = 0;
  if (FTablePagesCacheManager.GetWorkTableState(sessionID, workState)) page->SetTableState(sessionID, workState);
}

void TNRDDiskPageManager::RemovePage(std::int32_t sessionID, std::int32_t pageNo) {
  if (!FDatabaseFreeSpaceManager) RaiseNotOpened(30399);
  FDatabaseFreeSpaceManager->CheckPageNoForSystemPages(pageNo);
  TNRDPageManager::RemovePage(sessionID, pageNo);
}

TNRDPage* TNRDDiskPageManager::GetPage(std::int32_t sessionID, std::int32_t pageNo, std::uint16_t pageType,
                                       bool synchronizeAllowed) {
  if (!FDatabaseFreeSpaceManager) RaiseNotOpened(30399);
  if (pageNo != FLastDataPageNo) {
    FDatabaseFreeSpaceManager->CheckPageNoForSystemPages(pageNo);
    FLastDataPageNo = pageNo;
  }
  if (FSpill && sessionID == FSpill->SessionID && FSpill->Pages.count(pageNo) > 0) {
    // The session's own spilled page comes back into its changed pages, never into the shared
    // cache, where other sessions would see it.
    TNRDSessionPageInfo& info = GetSession(sessionID);
    if (info.DirtyPages.Find(pageNo) == nullptr) {
      auto page = std::make_unique<TNRDPage>(this);
      page->SetPageNo(pageNo);
      page->SetSessionID(sessionID);
      if (!InternalReadPage(page.get())) {
        throw ENRDException(20299, "Error reading database file page. Page No: %d, type %d",
                            {pageNo, static_cast<int>(pageType)});
      }
      if (!FIgnoreCRCErrors && pageType != AnyPageType && page->PageHeader()->PageType != pageType) {
        throw ENRDException(20153, "Invalid page type. Possible data corruption. Expecting type %d, but found %d",
                            {static_cast<int>(pageType), static_cast<int>(page->PageHeader()->PageType)});
      }
      page->SetIsDirty(true);
      info.DirtyPages.Insert(page.get());
      page->SetParentList(&info.DirtyPages);
      page.release();
    }
  }
  TNRDPage* page = TNRDPageManager::GetPage(sessionID, pageNo, pageType, synchronizeAllowed);
  page->SetLastUse(++FUseClock);
  return page;
}

// ---------------------------------------------------------------------------------------------
// Spilling the changed pages of big transactions

void TNRDDiskPageManager::SpillIfOverBudget(std::int32_t sessionID) {
  if (FSpillBudget <= 0 || FReadOnly || !FDatabaseFreeSpaceManager || FDatabaseFile->InBatch()) return;
  if (FSpill && FSpill->SessionID != sessionID) return;
  TNRDSessionPageInfo* info = FindSession(sessionID);
  if (info == nullptr || static_cast<std::int64_t>(info->DirtyPages.Count()) * FPageSize <= FSpillBudget) return;
  try {
    if (FBeforeSpill && !FBeforeSpill(sessionID)) return;
    if (!FSpill && !StartSpill(sessionID)) return;
    // Down to three quarters of the budget: the pages taken most recently (the inner pages of the
    // indexes, the leaves a random insert order keeps coming back to) stay.
    SpillPages(*info, FSpillBudget / 4 * 3);
  } catch (const std::exception&) {
    // The pages stay in memory; a file that cannot be written is reported by the commit.
  }
}

bool TNRDDiskPageManager::StartSpill(std::int32_t sessionID) {
  // Changes of other sessions would have to wait for this transaction's end to be committed, and
  // their page reserves would go with its rollback: no spill while there are any.
  for (const auto& other : FSessions) {
    if (other->SessionID != sessionID && HasChanges(other->SessionID)) return false;
  }
  for (const auto& [other, reserve] : FReserves) {
    if (other != sessionID && reserve.Next < reserve.Pages.size()) return false;
  }
  if (FStaleSessions.count(sessionID) > 0) return false;
  if (!RetryCall(FLockTryCount, FLockDelayMS, [this] { return LockDBHeader(); })) return false;
  // Taking the lock may have rolled back a gone writer's change set under this session.
  if (FStaleSessions.count(sessionID) > 0) {
    UnlockDBHeader();
    return false;
  }
  auto spill = std::make_unique<TSpillState>();
  spill->SessionID = sessionID;
  if (const TNRDSessionPageInfo* info = FindSession(sessionID)) {
    spill->TakenBefore.assign(info->AddedPageNumbers.Items.begin(),
                              info->AddedPageNumbers.Items.begin() + info->AddedPageNumbers.ItemCount);
  }
  auto reserve = FReserves.find(sessionID);
  if (reserve != FReserves.end()) {
    const auto& pages = reserve->second.Pages;
    spill->TakenBefore.insert(spill->TakenBefore.end(), pages.begin() + static_cast<std::ptrdiff_t>(reserve->second.Next), pages.end());
  }
  try {
    FDatabaseFile->BeginSpill();
  } catch (...) {
    UnlockDBHeader();
    throw;
  }
  FSpill = std::move(spill);
  return true;
}

void TNRDDiskPageManager::SpillPages(TNRDSessionPageInfo& info, std::int64_t keepBytes) {
  std::vector<TNRDPage*> victims;
  for (std::int32_t i = 0; i < info.DirtyPages.Count(); ++i) {
    TNRDPage* page = info.DirtyPages.Item(i);
    if (page->UseCount() == 0 && page->IsDirty()) victims.push_back(page);
  }
  const std::int64_t keep = keepBytes / std::max<std::int32_t>(FPageSize, 1);
  const std::int64_t excess = static_cast<std::int64_t>(info.DirtyPages.Count()) - keep;
  if (excess <= 0 || victims.empty()) return;
  std::sort(victims.begin(), victims.end(), [](const TNRDPage* a, const TNRDPage* b) { return a->LastUse() < b->LastUse(); });
  victims.resize(static_cast<std::size_t>(std::min<std::int64_t>(excess, static_cast<std::int64_t>(victims.size()))));
  std::sort(victims.begin(), victims.end(), [](const TNRDPage* a, const TNRDPage* b) { return a->PageNo() < b->PageNo(); });
  // In parts of at most 4 MB, so that the write batch never holds much more than the pages do.
  const std::size_t part = std::max<std::size_t>(1, (std::size_t{4} << 20) / static_cast<std::size_t>(std::max<std::int32_t>(FPageSize, 1)));
  std::vector<std::int32_t> added(info.AddedPageNumbers.Items.begin(),
                                  info.AddedPageNumbers.Items.begin() + info.AddedPageNumbers.ItemCount);
  std::sort(added.begin(), added.end());
  for (std::size_t from = 0; from < victims.size(); from += part) {
    const std::size_t to = std::min(victims.size(), from + part);
    RunChangeSet(20213, [&] {
      for (std::size_t i = from; i < to; ++i) {
        if (std::binary_search(added.begin(), added.end(), victims[i]->PageNo())) SkipDataBeforeImage(victims[i]->PageNo());
        InternalWritePage(victims[i]);
      }
    });
    for (std::size_t i = from; i < to; ++i) {
      TNRDPage* page = victims[i];
      info.DirtyPages.Delete(page->PageNo());
      FSpill->Pages.insert(page->PageNo());
      delete page;
    }
  }
}

void TNRDDiskPageManager::AbortSpill(std::int32_t sessionID) {
  const std::vector<std::int32_t> takenBefore = std::move(FSpill->TakenBefore);
  FStaleSessions.erase(sessionID);
  DiscardSession(sessionID);
  ForgetReserve(sessionID);
  try {
    FDatabaseFile->EndSpill(false);
  } catch (...) {
    // The journal stays; whoever takes the header lock next (this process included) rolls it back.
    FSpill.reset();
    UnlockDBHeader();
    DropCachedState();
    throw;
  }
  FSpill.reset();
  try {
    DropCachedState();
    // A journal that is still there was not rolled back: it must not be overwritten by another
    // change set's journal, and the pages must stay as they are until it is.
    if (FDatabaseFile->JournalExists()) {
      throw ENRDException(30375, "Cannot roll back the unfinished change set of file '%s'", {FDatabaseFile->FileName()});
    }
    if (!takenBefore.empty()) RunChangeSet(20232, [&] { FDatabaseFreeSpaceManager->FreePages(takenBefore); });
  } catch (...) {
    UnlockDBHeader();
    throw;
  }
  UnlockDBHeader();
}

void TNRDDiskPageManager::ApplyChanges(std::int32_t sessionID) {
  if (FSpill && FSpill->SessionID != sessionID && HasChanges(sessionID)) throw ENRDException(20213, "Database is locked");
  if (!HasChanges(sessionID) && !SpillActive(sessionID)) {
    if (HasReserve(sessionID)) {
      RunChangeSet(20213, [&] { ReturnReserve(sessionID); });
    }
    ForgetReserve(sessionID);
    return;
  }
  // Taking the header lock rolls back a gone writer's journal, which may make this session stale;
  // the lock is held from that check to the end of the commit.
  LockDBHeaderOrRaise(20213);
  try {
    if (FStaleSessions.count(sessionID) > 0) {
      CancelChanges(sessionID);
      throw ENRDException(20302,
                          "The transaction was rolled back: it read data of another process's unfinished commit, "
                          "which has since been undone");
    }
    CheckCanApply(sessionID);
    if (SpillActive(sessionID)) {
      // The rest of a spilled transaction goes to the file in parts too, so that the commit's own
      // change set holds no copy of up to a budget of pages.
      if (TNRDSessionPageInfo* info = FindSession(sessionID)) SpillPages(*info, 0);
    }
    RunChangeSet(
        20213,
        [&] {
          ReadDBHeader();
          FDBHeader.WriteChangesState = 1;
          WriteDBHeader();
          // Pages this commit releases: the old file refers to them, so a trim keeps their data.
          std::vector<std::int32_t> released;
          if (const TNRDSessionPageInfo* info = FindSession(sessionID)) {
            for (std::int32_t n = 0; n < info->AddedPageNumbers.ItemCount; ++n) SkipDataBeforeImage(info->AddedPageNumbers[n]);
            released.assign(info->RemovedPageNumbers.Items.begin(),
                            info->RemovedPageNumbers.Items.begin() + info->RemovedPageNumbers.ItemCount);
            std::sort(released.begin(), released.end());
          }
          TNRDPageManager::ApplyChanges(sessionID);
          ReturnReserve(sessionID);
          // A big transaction's unused reserve leaves the file. Every other page cut off was free
          // before this commit, so nothing old refers to it.
          FDatabaseFreeSpaceManager->TrimFreeEnd([&](std::int32_t pageNo) {
            if (!std::binary_search(released.begin(), released.end(), pageNo)) SkipDataBeforeImage(pageNo);
          });
          FDBHeader.State = WrapAdd<std::int32_t>(FDBHeader.State, 1);
          FDBHeader.WriteChangesState = 2;
          WriteDBHeader();
        },
        [&] { DiscardSession(sessionID); });
    if (SpillActive(sessionID)) {
      // The commit point of a spilled transaction: the file synced, its journal deleted. Copies of
      // spilled pages that other sessions cached are the old versions.
      for (const std::int32_t pageNo : FSpill->Pages) DropSharedPage(pageNo);
      FDatabaseFile->EndSpill(true);
      FSpill.reset();
      UnlockDBHeader();
    }
  } catch (...) {
    if (SpillActive(sessionID)) {
      try {
        AbortSpill(sessionID);
      } catch (...) {
      }
    }
    UnlockDBHeader();
    throw;
  }
  UnlockDBHeader();
  // Only now are the unused pages free in the file; a failed commit keeps the reserve, whose pages
  // its rolled-back change set left marked used.
  ForgetReserve(sessionID);
}

void TNRDDiskPageManager::CancelChanges(std::int32_t sessionID) {
  if (SpillActive(sessionID)) {
    AbortSpill(sessionID);
    return;
  }
  FStaleSessions.erase(sessionID);
  const TNRDSessionPageInfo* info = FindSession(sessionID);
  if ((info == nullptr || info->AddedPageNumbers.ItemCount == 0) && !HasReserve(sessionID)) {
    TNRDPageManager::CancelChanges(sessionID);
    ForgetReserve(sessionID);
    return;
  }
  RunChangeSet(20232, [&] {
    TNRDPageManager::CancelChanges(sessionID);
    ReturnReserve(sessionID);
  });
  ForgetReserve(sessionID);
}

}  // namespace nrd
