// System directory, table list, active sessions file and table locks files.
#include "engine/storage/NRDSystemFiles.h"

#include <cstring>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDText.h"
#include "engine/storage/NRDDiskPageManager.h"

namespace nrd {

namespace {
constexpr std::int32_t kSystem = -2;
constexpr std::int32_t kDirectoryItemSize = 5;
constexpr std::int32_t kTableListItemSize = 272;

// held h, requested r at r + 7h.
constexpr std::uint8_t kCompatibility[49] = {
    1, 1, 1, 1, 1, 1, 0,  // IS
    1, 1, 1, 1, 0, 1, 0,  // S
    1, 1, 1, 0, 1, 1, 0,  // SIRW
    1, 1, 0, 0, 0, 1, 0,  // XIRW
    1, 0, 1, 0, 0, 1, 0,  // RW
    1, 1, 1, 1, 1, 1, 0,  // U
    0, 0, 0, 0, 0, 0, 0,  // X
};
}  // namespace

bool LockTypesCompatible(TNRDLockType held, TNRDLockType requested) {
  return kCompatibility[requested + 7 * held] != 0;
}

bool IsStrongerLock(TNRDLockType a, TNRDLockType b) {
  for (int r = 0; r < 7; ++r)
    if (kCompatibility[r + 7 * a] && !kCompatibility[r + 7 * b]) return false;
  return true;
}

// ----- system directory ---------------------------------------------------------------------------
TNRDSystemDirectory::TNRDSystemDirectory(TNRDDiskPageManager* pageManager) : LPageManager(pageManager) {}

void TNRDSystemDirectory::CreateDirectory() {
  FHandle = std::make_unique<TNRDInternalDBTransactedAccessFile>(LPageManager, ptFileSystemDirectory);
  FHandle->CreateFile(kSystem);
  if (FHandle->StartPageNo() != SystemDirectoryPageNo)
    throw ENRDException(30392, "Error Creating SystemDirectory. SystemDirectoryPageNo=%d. Real PageNo=%d.",
                        {SystemDirectoryPageNo, FHandle->StartPageNo()});
  FFileList.clear();
}

void TNRDSystemDirectory::LoadDirectory() {
  FHandle = std::make_unique<TNRDInternalDBTransactedAccessFile>(LPageManager, ptFileSystemDirectory);
  FHandle->OpenFile(SystemDirectoryPageNo);
  const std::int32_t size = FHandle->GetSize(kSystem);
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(size));
  if (size > 0) FHandle->ReadFile(kSystem, buf.data(), size, true);
  FFileList.clear();
  for (std::int32_t i = 0; i + kDirectoryItemSize <= size; i += kDirectoryItemSize) {
    TNRDSystemDirectoryListItem item;
    item.FileID = static_cast<TNRDDBFileType>(buf[static_cast<std::size_t>(i)]);
    item.FirstPageNo = static_cast<std::int32_t>(GetLE32(&buf[static_cast<std::size_t>(i) + 1]));
    FFileList.push_back(item);
  }
}

void TNRDSystemDirectory::SaveDirectory() {
  std::vector<std::uint8_t> buf(FFileList.size() * kDirectoryItemSize);
  for (std::size_t i = 0; i < FFileList.size(); ++i) {
    buf[i * kDirectoryItemSize] = FFileList[i].FileID;
    PutLE32(&buf[i * kDirectoryItemSize + 1], static_cast<std::uint32_t>(FFileList[i].FirstPageNo));
  }
  FHandle->WriteFile(kSystem, buf.data(), static_cast<std::int32_t>(buf.size()), acaNone, 0);
}

void TNRDSystemDirectory::CreateFile(TNRDDBFileType fileType, std::int32_t firstPageNo) {
  FFileList.push_back({fileType, firstPageNo});
}

std::int32_t TNRDSystemDirectory::GetFileFirstPageNo(TNRDDBFileType fileType) const {
  for (const auto& i : FFileList)
    if (i.FileID == fileType) return i.FirstPageNo;
  return -1;
}

// ----- table list ---------------------------------------------------------------------------------
TNRDTableListFile::TNRDTableListFile(TNRDDiskPageManager* pageManager) : LPageManager(pageManager) {}

std::int32_t TNRDTableListFile::CreateFile() {
  TNRDInternalDBTransactedAccessFile f(LPageManager, ptTableList);
  f.CreateFile(kSystem);
  return f.StartPageNo();
}

void TNRDTableListFile::OpenFile(std::int32_t startPageNo) {
  if (FHandle) throw ENRDException(30393, "Table list file already opened.");
  FHandle = std::make_unique<TNRDInternalDBTransactedAccessFile>(LPageManager, ptTableList);
  FHandle->OpenFile(startPageNo);
}

void TNRDTableListFile::CloseFile() { FHandle.reset(); }

void TNRDTableListFile::Load() {
  if (!FHandle) throw ENRDException(10483, "Nil pointer occured");
  const std::int32_t size = FHandle->GetSize(kSystem);
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(size));
  if (size > 0) FHandle->ReadFile(kSystem, buf.data(), size, true);
  FTableList.clear();
  for (std::int32_t i = 0; i + kTableListItemSize <= size; i += kTableListItemSize) {
    const std::uint8_t* p = &buf[static_cast<std::size_t>(i)];
    TNRDTableListItem item;
    item.TableName.assign(reinterpret_cast<const char*>(p + 1), p[0]);
    item.TableID = static_cast<std::int32_t>(GetLE32(p + 256));
    item.MetaDataFilePageNo = static_cast<std::int32_t>(GetLE32(p + 260));
    item.MostUpdatedFilePageNo = static_cast<std::int32_t>(GetLE32(p + 264));
    item.LocksFilePageNo = static_cast<std::int32_t>(GetLE32(p + 268));
    FTableList.push_back(std::move(item));
  }
}

void TNRDTableListFile::Save() {
  if (!FHandle) throw ENRDException(10483, "Nil pointer occured");
  std::vector<std::uint8_t> buf(FTableList.size() * kTableListItemSize, 0);
  for (std::size_t i = 0; i < FTableList.size(); ++i) {
    std::uint8_t* p = &buf[i * kTableListItemSize];
    const std::string& n = FTableList[i].TableName;
    p[0] = static_cast<std::uint8_t>(n.size());
    std::memcpy(p + 1, n.data(), n.size());
    PutLE32(p + 256, static_cast<std::uint32_t>(FTableList[i].TableID));
    PutLE32(p + 260, static_cast<std::uint32_t>(FTableList[i].MetaDataFilePageNo));
    PutLE32(p + 264, static_cast<std::uint32_t>(FTableList[i].MostUpdatedFilePageNo));
    PutLE32(p + 268, static_cast<std::uint32_t>(FTableList[i].LocksFilePageNo));
  }
  if (buf.empty()) {
    // An empty list keeps its first page with a zero size.
    FHandle->SetFileSize(kSystem, 0, 0, acaNone);
    return;
  }
  FHandle->WriteFile(kSystem, buf.data(), static_cast<std::int32_t>(buf.size()), acaNone, 0);
}

std::int32_t TNRDTableListFile::Find(const std::string& tableName) const {
  const std::string upper = AnsiUpperCase(tableName.substr(0, 255));
  for (std::size_t i = 0; i < FTableList.size(); ++i)
    if (AnsiUpperCase(FTableList[i].TableName) == upper) return static_cast<std::int32_t>(i);
  return -1;
}

void TNRDTableListFile::AddTable(std::int32_t tableID, const std::string& tableName, std::int32_t metadataFilePageNo,
                                 std::int32_t mostUpdatedFilePageNo, std::int32_t locksFilePageNo) {
  if (Find(tableName) >= 0) throw ENRDException(30395, "Cannot create table. Table '%s' already exists", {tableName});
  FTableList.push_back({tableName.substr(0, 255), tableID, metadataFilePageNo, mostUpdatedFilePageNo, locksFilePageNo});
}

void TNRDTableListFile::OpenTable(const std::string& tableName, std::int32_t& tableID, std::int32_t& metadataFilePageNo,
                                  std::int32_t& mostUpdatedFilePageNo, std::int32_t& locksFilePageNo) const {
  const std::int32_t i = Find(tableName);
  if (i < 0) throw ENRDException(30396, "Table '%s' not exists.", {tableName});
  const TNRDTableListItem& t = FTableList[static_cast<std::size_t>(i)];
  tableID = t.TableID;
  metadataFilePageNo = t.MetaDataFilePageNo;
  mostUpdatedFilePageNo = t.MostUpdatedFilePageNo;
  locksFilePageNo = t.LocksFilePageNo;
}

void TNRDTableListFile::RemoveTable(const std::string& tableName) {
  const std::int32_t i = Find(tableName);
  if (i < 0) throw ENRDException(30405, "Table '%s' not exists.", {tableName});
  FTableList.erase(FTableList.begin() + i);
}

void TNRDTableListFile::RenameTable(const std::string& tableName, const std::string& newName) {
  const std::int32_t i = Find(tableName);
  if (i < 0) throw ENRDException(30397, "Table '%s' not exists.", {tableName});
  FTableList[static_cast<std::size_t>(i)].TableName = newName.substr(0, 255);
}

bool TNRDTableListFile::TableExists(const std::string& tableName) const { return Find(tableName) >= 0; }

void TNRDTableListFile::GetTablesList(std::vector<std::string>& list) {
  Load();
  for (const auto& t : FTableList) list.push_back(t.TableName);
}

// ----- active sessions ----------------------------------------------------------------------------
TNRDActiveSessionsFile::TNRDActiveSessionsFile(TNRDDiskPageManager* pageManager) : LPageManager(pageManager) {}

std::int32_t TNRDActiveSessionsFile::CreateFile(std::int32_t maxSessionCount) {
  TNRDInternalDBDirectAccessFile f(LPageManager, ptActiveSessionList);
  f.CreateFile(maxSessionCount);
  return f.StartPageNo();
}

void TNRDActiveSessionsFile::OpenFile(std::int32_t startPageNo) {
  FHandle = std::make_unique<TNRDInternalDBDirectAccessFile>(LPageManager, ptActiveSessionList);
  FHandle->OpenFile(startPageNo);
  FMaxSessionCount = FHandle->GetSize();
  const std::int64_t usable =
      static_cast<std::int64_t>(FHandle->FilePages().ItemCount) * LPageManager->PageDataSize() - InternalFileHeaderSize;
  if (usable < FMaxSessionCount) FMaxSessionCount = static_cast<std::int32_t>(std::max<std::int64_t>(usable, 0));
}

void TNRDActiveSessionsFile::CloseFile() { FHandle.reset(); }

template <typename F> auto TNRDActiveSessionsFile::UnderFileLock(int unlockCode, F body) {
  if (!FHandle) throw ENRDException(10483, "Nil pointer occured");
  const bool locked = RetryCall(4500, 20, [this] { return FHandle->LockFile(); });
  struct Release {
    TNRDInternalDBDirectAccessFile& f;
    bool locked;
    int code;
    bool done = false;
    void Now() {
      done = true;
      // A lock that was not obtained is not released.
      if (locked && !f.UnlockFile()) throw ENRDException(code, "Cannot unlock sessions file");
    }
    ~Release() {
      if (!done && locked) f.UnlockFile();
    }
  } release{*FHandle, locked, unlockCode};
  if constexpr (std::is_void_v<decltype(body())>) {
    body();
    release.Now();
  } else {
    auto r = body();
    release.Now();
    return r;
  }
}

std::int32_t TNRDActiveSessionsFile::MultiUserConnect() {
  if (!LPageManager->MultiUser()) return 0;
  return UnderFileLock(20093, [this]() -> std::int32_t {
    for (std::int32_t s = 0; s < FMaxSessionCount; ++s)
      if (FHandle->LockByte(s)) return s;
    throw ENRDException(20094,
                        "Cannot connect session. Maximum connections quantity exceeded or database is open in "
                        "single-user mode");
  });
}

void TNRDActiveSessionsFile::MultiUserDisconnect(std::int32_t sessionID) {
  if (!LPageManager->MultiUser()) return;
  UnderFileLock(20096, [&] {
    if (!FHandle->UnlockByte(sessionID)) throw ENRDException(20095, "Cannot disconnect session");
  });
}

bool TNRDActiveSessionsFile::SingleUserConnect() {
  return UnderFileLock(20240, [this] {
    if (FMaxSessionCount <= 0 || FHandle->IsRegionLocked(0, FMaxSessionCount)) return false;
    for (std::int32_t s = 0; s < FMaxSessionCount; ++s) {
      if (!FHandle->LockByte(s)) {
        for (std::int32_t u = 0; u < s; ++u) FHandle->UnlockByte(u);
        return false;
      }
    }
    return true;
  });
}

void TNRDActiveSessionsFile::SingleUserDisconnect() {
  UnderFileLock(20241, [this] {
    for (std::int32_t s = 0; s < FMaxSessionCount; ++s) FHandle->UnlockByte(s);
  });
}

std::int32_t TNRDActiveSessionsFile::GetDBFileConnectionsCount() {
  return UnderFileLock(30484, [this] {
    std::int32_t n = 0;
    for (std::int32_t s = 0; s < FMaxSessionCount; ++s)
      if (FHandle->IsByteLocked(s)) ++n;
    return n;
  });
}

// ----- table locks --------------------------------------------------------------------------------
TNRDTableLocksFile::TNRDTableLocksFile(TNRDDiskPageManager* pageManager) : LPageManager(pageManager) {}

std::int32_t TNRDTableLocksFile::CreateFile(std::int32_t maxSessionCount) {
  TNRDInternalDBDirectAccessFile f(LPageManager, ptTableLocks);
  f.CreateFile(12 * maxSessionCount);
  return f.StartPageNo();
}

void TNRDTableLocksFile::OpenFile(std::int32_t startPageNo) {
  FHandle = std::make_unique<TNRDInternalDBDirectAccessFile>(LPageManager, ptTableLocks);
  FHandle->OpenFile(startPageNo);
  FMaxSessionCount = FHandle->GetSize() / 12;
}

void TNRDTableLocksFile::CloseFile() { FHandle.reset(); }

void TNRDTableLocksFile::DeleteFile() {
  if (!FHandle) return;
  FHandle->DeleteFile(FHandle->StartPageNo());
  FHandle.reset();
}

std::int32_t TNRDTableLocksFile::StartPageNo() const {
  if (!FHandle) throw ENRDException(10483, "Nil pointer occured");
  return FHandle->StartPageNo();
}

TNRDInternalDBDirectAccessFile& TNRDTableLocksFile::Open(int code) const {
  if (!FHandle) throw ENRDException(code, "Nil pointer occured");
  return *FHandle;
}

bool TNRDTableLocksFile::LockTable(std::int32_t sessionID, TNRDLockType lockType) {
  TNRDInternalDBDirectAccessFile& f = Open(10489);
  if (lockType == ltX) return false;
  if (sessionID < 0 || sessionID >= FMaxSessionCount)
    throw ENRDException(20200,
                        "Cannot set table lock. Try to repair database or to increase number of allowed connections");
  return f.LockByte(lockType * FMaxSessionCount + sessionID);
}

bool TNRDTableLocksFile::UnlockTable(std::int32_t sessionID, TNRDLockType lockType) {
  TNRDInternalDBDirectAccessFile& f = Open(10494);
  if (lockType == ltX || sessionID < 0 || sessionID >= FMaxSessionCount) return false;
  return f.UnlockByte(lockType * FMaxSessionCount + sessionID);
}

bool TNRDTableLocksFile::IsTableLockedByAnyOtherSession(std::int32_t sessionID, TNRDLockType lockType) {
  TNRDInternalDBDirectAccessFile& f = Open(10490);
  if (lockType == ltX) return false;
  const std::int32_t row = lockType * FMaxSessionCount;
  if (sessionID > 0 && f.IsRegionLocked(row, std::min(sessionID, FMaxSessionCount))) return true;
  if (sessionID + 1 < FMaxSessionCount && f.IsRegionLocked(row + sessionID + 1, FMaxSessionCount - sessionID - 1))
    return true;
  return false;
}

bool TNRDTableLocksFile::IsTableLockAllowed(std::int32_t sessionID, TNRDLockType lockType, bool allowXIRWAfterSIRW) {
  for (int h = ltIS; h <= ltX; ++h) {
    const auto held = static_cast<TNRDLockType>(h);
    if (LockTypesCompatible(held, lockType)) continue;
    if (allowXIRWAfterSIRW && lockType == ltXIRW && held == ltSIRW) continue;
    // ltX of another session is its whole-file lock, which the caller holds while it asks.
    if (held == ltX) continue;
    if (IsTableLockedByAnyOtherSession(sessionID, held)) return false;
  }
  return true;
}

bool TNRDTableLocksFile::LockRecord(std::int32_t sessionID, const TNRDPageItemID& recordID) {
  TNRDInternalDBDirectAccessFile& f = Open(10491);
  if (sessionID < 0 || sessionID >= FMaxSessionCount) return false;
  if (!f.LockByte(5 * FMaxSessionCount + sessionID)) return false;
  std::uint8_t b[6];
  recordID.Encode(b);
  f.WriteBuffer(b, 6, 6 * FMaxSessionCount + 6 * sessionID);
  return true;
}

bool TNRDTableLocksFile::UnlockRecord(std::int32_t sessionID, const TNRDPageItemID&) {
  TNRDInternalDBDirectAccessFile& f = Open(10492);
  if (sessionID < 0 || sessionID >= FMaxSessionCount) return false;
  return f.UnlockByte(5 * FMaxSessionCount + sessionID);
}

bool TNRDTableLocksFile::IsRecordLockedByAnyOtherSession(std::int32_t sessionID, const TNRDPageItemID& recordID) {
  TNRDInternalDBDirectAccessFile& f = Open(10493);
  if (!IsTableLockedByAnyOtherSession(sessionID, ltU)) return false;
  for (std::int32_t s = 0; s < FMaxSessionCount; ++s) {
    if (s == sessionID || !f.IsByteLocked(5 * FMaxSessionCount + s)) continue;
    std::uint8_t b[6];
    f.ReadBuffer(b, 6, 6 * FMaxSessionCount + 6 * s);
    if (TNRDPageItemID::Decode(b) == recordID) return true;
  }
  return false;
}

bool TNRDTableLocksFile::LockFile() { return Open(10483).LockFile(); }
bool TNRDTableLocksFile::UnlockFile() { return Open(10483).UnlockFile(); }

}  // namespace nrd
