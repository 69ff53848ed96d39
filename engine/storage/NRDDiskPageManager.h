// TNRDDiskPageManager: the page manager of a disk database, a single ".at4" file of a fixed header
// area followed by numbered pages. It creates and opens the file, keeps its headers in memory, reads
// and writes pages (encrypting and checking the data area when the database has a password),
// allocates and frees pages through the free space manager, hands out object IDs, places the byte
// locks that coordinate processes, and commits a session's changes as one change set of the file.
// Also the small shared routines of the format: page type names and check, page cipher, retry loop.
//
// File layout, from the header offset H (0, or where the signature is found behind other data);
// little-endian:
//   H+0    76  TNRDDBHeader
//     0 16 Signature "N0RELDKXDATABASE"   16 2 HeaderSize 76      18 8 Version (double) 7.9
//    26  2 PageSize (with 40-byte header)  28 2 PageCountInExtent  30 4 TotalPageCount
//    34  4 LastUsedPageNo (-1 when empty)  38 4 State (+1 per commit, wraps)
//    42  1 WriteChangesState (2 at rest)   43 1 Encrypted (0xFF / 0)  44 32 Reserved
//   H+76  280  TNRDCryptoHeader
//     0  2 CryptoHeaderSize 280   2 1 CryptoAlgorithm   3 1 CryptoMode 0
//     4 256 ControlBlock (random bytes 0..254, stored encrypted)  260 4 ControlBlockCRC (plain)
//   264 16 Reserved
//   H+356  20  TNRDLockedBytes: 0 2 LockedByteSize 20, 2 FSMByte, 3 TablesByte, 4 DBHeaderByte (lock
//              targets only), 5 15 Reserved
//   H+376   4  LastObjectID
//   H+380      page 0; page n at H+380 + n*PageSize. Page header: see TNRDDiskPageHeader.
//
// New pages: a session takes page numbers from a reserve of its own, which the free space manager
// fills with a run of pages in one change set; the run doubles each time the reserve runs dry in
// the same transaction (from 1, or from twice what the session's previous transaction took, at
// most 64, up to the size of the file, at least 64), so a bulk insert pays
// the journal and its syncs about log2(pages) times instead of once per page. The unused rest of
// the reserve is freed inside the session's commit or rollback change set; a commit that leaves a
// growth step or more free at the end of the file cuts that end off. The reserved pages are
// marked used in the file from the moment they are taken, so no other session or process can get
// them; a crash in between leaves them marked used but unreferenced (leaked). An allocation inside
// a running change set (which may still be rolled back) takes a single page and keeps no reserve.
//
// Leaked pages are given back: before its first reserve an opener registers in the reserve
// register "<file>-reserves" beside the file (a byte of its own set to 1, held under a byte lock
// while it lives) and clears its byte when it closes with every reserve returned. A set byte that
// nobody holds belongs to an opener that died with reserves out; the next opener that opens the
// file for writing alone (GiveBackLeakedPages, called by the disk database object) finds the pages
// that nothing owns and frees them, then empties the register.
//
// Commit: the session's removed pages are released, its dirty pages written and the header's State
// advanced, all as one change set of the database file under the header lock; the change set reaches
// the file through the rollback journal (NRDJournal.h), so a commit cut at any point leaves the old
// or the new file. Of the pages the session took from the free space (its added pages) the journal
// keeps only the 40-byte header: nothing in the old file refers to them, and a rolled-back one shows
// its old header (free, removed or zero), so no scan by page header takes it for a live page. A bulk
// insert thus writes its pages once, not once into the journal and once into the file. A failed commit drops the session's changes and the cached pages it touched.
// Whoever takes the header lock first after a writer died rolls its journal back; readers do so
// before they read shared state (RecoverAbandonedChangeSet). A session that held changes when such
// a rollback happened may have built them on the undone half: its commit is refused (20302).
// Big transactions: once a session's changed pages pass the spill budget (SpillIfOverBudget, called
// between record operations), the least recently taken of them go to the file in place, as parts
// of one change set whose journal grows with each part (TNRDDatabaseFile::BeginSpill): the original
// of every spilled page is in the synced journal before the page is overwritten. From the first
// spill to the commit or rollback the session holds the header lock, so no other process commits,
// allocates or reads past a table lock meanwhile (it sees the journal and waits); in multi-user
// mode every spill first takes the RW locks of the session's changed tables (SetBeforeSpill), and
// does not happen while they cannot be had. Other sessions of this process read the originals of
// spilled pages from the journal and can neither allocate pages nor commit until the spill ends
// (20213/20231 "Database is locked"). A spilled page taken again by its session is read back into
// its changed pages. A rollback writes the originals back; a crash leaves the journal, which the
// next holder of the header lock rolls back.
//
// Reading ahead: with one user, a page missing from the cache a little past the last missing page,
// for the second time in a row (a scan walking forward through the file; a lookup's index leaf and
// record page are one such step), brings a run of the pages from it on into the shared
// cache in one read (8 pages, doubling while the walk goes on, at most 32 and a quarter of the
// cache). Pages some session changed, bitmap pages and pages that fail decryption are left out; a
// page read ahead has its type checked by the first GetPage that names one. Never inside a change
// set or while a transaction has spilled, when the file may hold data that could still be undone.
//
// Departures for soundness: page states wrap to 0 at 0x7FFFFFFD; the file size is always set
// absolutely from the page count; read-only object IDs come from a high-water mark; a page whose
// encryption or decryption fails raises before anything is written; header fields that would make
// the page arithmetic meaningless are refused with 20237.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/foundation/NRDCipherPage.h"
#include "engine/storage/NRDDatabaseFile.h"
#include "engine/storage/NRDFreeSpace.h"
#include "engine/storage/NRDPageManager.h"
#include "engine/storage/NRDPageTypes.h"

namespace nrd {

#pragma pack(push, 1)
struct TNRDDBHeader {
  char Signature[16];
  std::int16_t HeaderSize;
  double Version;
  std::uint16_t PageSize;
  std::uint16_t PageCountInExtent;
  std::int32_t TotalPageCount;
  std::int32_t LastUsedPageNo;
  std::int32_t State;
  std::uint8_t WriteChangesState;
  std::uint8_t Encrypted;
  std::uint8_t Reserved[32];
};

struct TNRDCryptoHeader {
  std::int16_t CryptoHeaderSize;
  std::uint8_t CryptoAlgorithm;
  std::uint8_t CryptoMode;
  std::uint8_t ControlBlock[256];
  std::uint32_t ControlBlockCRC;
  std::uint8_t Reserverd[16];
};

struct TNRDLockedBytes {
  std::int16_t LockedByteSize;
  std::uint8_t FSMByte;
  std::uint8_t TablesByte;
  std::uint8_t DBHeaderByte;
  std::uint8_t Reserved[15];
};
#pragma pack(pop)
static_assert(sizeof(TNRDDBHeader) == 76);
static_assert(sizeof(TNRDCryptoHeader) == 280);
static_assert(sizeof(TNRDLockedBytes) == 20);


// 30382 above 12.
std::string PageTypeName(std::uint16_t pageType);
// nativeErrorCode with "Wrong page type. Found '%s', but expecting: '%s'" when the types differ.
void CheckPageType(std::uint16_t found, std::uint16_t expected, int nativeErrorCode);
// Calls func up to tryCount times, sleeping delayMS after each failure; true at the first success.
bool RetryCall(int tryCount, int delayMS, const std::function<bool()>& func);

class TNRDDiskPageManager : public TNRDPageManager {
 public:
  // fs: the file system to use; nullptr for the real one. Not owned.
  explicit TNRDDiskPageManager(platform::FileSystem* fs = nullptr);
  ~TNRDDiskPageManager() override;

  // 10461 when open; 30378 for a page size outside 48..65535 or an extent count below 1.
  void CreateAndOpenDatabase(const std::string& databaseFileName, const TNRDPassword& password,
                             std::int32_t pageSize, std::int32_t extentPageCount);
  // 10462 when open; 20230 header locked; 10470 not a database; 30445 wrong password; 20237 bad format.
  void OpenDatabase(const std::string& databaseFileName, const TNRDPassword& password, bool& readOnly,
                    bool& repairNeeded, bool exclusive, bool& aMultiUser);
  void CloseDatabase();
  // Under the header lock: when the reserve register records an opener that died with reserves
  // out and this opener is alone with the file (so that every used page nothing owns is leaked),
  // `findLeaked` lists those pages (false: damage was found, everything stays as it is); they are
  // freed in one change set and the register is emptied. True when that happened.
  bool GiveBackLeakedPages(const std::function<bool(std::vector<std::int32_t>&)>& findLeaked);

  void TruncateDatabase();
  void ExtendFile(std::int32_t pageCount);
  void TruncateFile(std::int32_t pageCount);
  std::int32_t GetNextObjectID(std::int32_t tryCount, std::int32_t delayMS);
  void InitObjectID(std::int32_t tryCount, std::int32_t delayMS);

  void ReadPageRegion(void* buffer, std::int32_t pageNo, std::uint16_t offset, std::uint16_t count);
  void WritePageRegion(const void* buffer, std::int32_t pageNo, std::uint16_t offset, std::uint16_t count);
  std::int32_t InternalReadPageState(std::int32_t pageNo);
  void InternalWritePageState(std::int32_t pageNo, std::int32_t pageState);

  bool LockDBHeader();
  bool UnlockDBHeader();
  bool LockTables();
  bool UnlockTables();
  bool LockFreeSpaceManager();
  bool UnlockFreeSpaceManager();
  bool LockLastObjectID();
  bool UnlockLastObjectID();
  bool LockPageByte(std::int32_t pageNo, std::int32_t offset);
  bool UnlockPageByte(std::int32_t pageNo, std::int32_t offset);
  bool IsPageByteLocked(std::int32_t pageNo, std::int32_t offset);
  bool IsPageRegionLocked(std::int32_t pageNo, std::int32_t offset, std::int32_t count);
  // The header lock with the configured tries; raises `code` with "Database is locked" on failure.
  void LockDBHeaderOrRaise(int code);
  // Called before shared state is read (a table lock taken, a table's counters loaded): the
  // unfinished change set of a writer that is gone is rolled back first, so that nobody reads or
  // builds on half of it. A live writer's journal is waited for: its writer holds the header lock
  // until the journal is gone. Costs one look into the folder when there is no journal. 20230
  // when the header lock cannot be had.
  void RecoverAbandonedChangeSet();
  // Change sets of gone writers this object rolled back.
  std::int32_t RecoveredChangeSets() const { return FRecoveredChangeSets; }
  // Runs body as one change set of the file under the header lock (joining a running one). When it
  // fails, onFailure runs, the cached pages and the header are taken from the file again, and the
  // error passes on.
  void RunChangeSet(int lockCode, const std::function<void()>& body, const std::function<void()>& onFailure = {});

  // Spill budget in bytes of changed pages per session (0: never spill); 64 MB by default.
  void SetSpillBudget(std::int64_t bytes) { FSpillBudget = bytes; }
  std::int64_t SpillBudget() const { return FSpillBudget; }
  // Between record operations of a transaction (no page of the session is held): when the
  // session's changed pages pass the budget, the least recently taken are written to the file
  // until three quarters of the budget remain. Never raises: a spill that cannot be done leaves the pages in
  // memory, and the commit reports what is wrong with the file.
  void SpillIfOverBudget(std::int32_t sessionID);
  // True while the session's transaction has pages in the file.
  bool SpillActive(std::int32_t sessionID) const { return FSpill && FSpill->SessionID == sessionID; }
  // Pages the running spill has written (0 without one).
  std::int32_t SpilledPageCount() const { return FSpill ? static_cast<std::int32_t>(FSpill->Pages.size()) : 0; }
  // Asked before each spill of a session: true when no other process can read the tables the
  // session changed (multi-user: their RW locks are held). Without it every spill may go ahead.
  void SetBeforeSpill(std::function<bool(std::int32_t)> beforeSpill) { FBeforeSpill = std::move(beforeSpill); }

  void ReadDBHeader();
  void WriteDBHeader();
  void ReadCryptoHeader();
  void WriteCryptoHeader();
  void ReadLockedBytes();
  void WriteLockedBytes();
  std::int64_t GetPageOffset(std::int32_t pageNo) const;
  bool IsFileReadOnly(const std::string& fileName, bool& aMultiUser);

  // TNRDPageManager
  std::int32_t GetPageCount() override;
  // From the file's size: a reader never competes with a committing process for the header lock.
  std::int32_t PageCountBound() override;
  bool IsPageCurrent(std::int32_t sessionID, TNRDPage* page) override;
  void RememberPageTableState(std::int32_t sessionID, TNRDPage* page) override;
  void InternalAddPage(TNRDPage* page) override;
  void InternalRemovePage(std::int32_t pageNo) override;
  bool InternalReadPage(TNRDPage* page) override;
  void InternalWritePage(TNRDPage* page) override;
  bool ReadStoredPageState(std::int32_t pageNo, std::int32_t& state) override;
  void RemovePage(std::int32_t sessionID, std::int32_t pageNo) override;
  TNRDPage* GetPage(std::int32_t sessionID, std::int32_t pageNo, std::uint16_t pageType,
                    bool synchronizeAllowed = true) override;
  void ApplyChanges(std::int32_t sessionID) override;
  void CancelChanges(std::int32_t sessionID) override;

  TNRDDatabaseFile& DatabaseFile() { return *FDatabaseFile; }
  TNRDDBHeader* DBHeader() { return &FDBHeader; }
  const TNRDCryptoHeader& CryptoHeader() const { return FCryptoHeader; }
  TNRDLockedBytes* LockedBytes() { return &FLockedBytes; }
  TNRDPassword* Password() { return &FPassword; }
  bool IsOpened() const { return FDatabaseFile->IsOpened(); }
  std::int64_t OffsetToDBHeader() const { return FOffsetToDBHeader; }
  std::int64_t OffsetToFirstPage() const { return FOffsetToFirstPage; }
  std::int64_t OffsetToLockedBytes() const { return FOffsetToLockedBytes; }
  std::int64_t OffsetToLastObjectID() const { return FOffsetToLastObjectID; }
  TNRDDatabaseFreeSpaceManager* FreeSpaceManager() { return FDatabaseFreeSpaceManager.get(); }
  TNRDDiskTablePagesCacheManager* TablePagesCacheManager() { return &FTablePagesCacheManager; }
  bool Exclusive() const { return FExclusive; }
  bool Encrypted() const { return FDBHeader.Encrypted != 0; }
  bool ReadOnly() const { return FReadOnly; }
  // Tries and wait of the header and object-ID locks (4500 x 20 ms by default).
  void SetLockRetry(int tryCount, int delayMS) {
    FLockTryCount = tryCount;
    FLockDelayMS = delayMS;
  }
  int LockTryCount() const { return FLockTryCount; }
  int LockDelayMS() const { return FLockDelayMS; }

 private:
  void InitDBHeader();
  void CheckOpened(int code) const;
  void CheckHeaderFields();
  void SetOffsets(std::int64_t headerOffset);
  // After a failed or rolled-back change set: the cached pages and the header come from the file.
  void DropCachedState();
  void RecoverJournalUnderLock();
  // Inside the commit's (or a spill part's) change set: the journal keeps only the header's
  // before-image of a page the session took from the free space.
  void SkipDataBeforeImage(std::int32_t pageNo);
  // A page number for a new page of the session, from its reserve.
  std::int32_t TakeReservedPage(std::int32_t sessionID);
  bool HasReserve(std::int32_t sessionID) const;
  // Frees the unused rest of the session's reserve (inside the caller's change set); the reserve
  // itself is dropped by ForgetReserve once that change set has reached the file.
  void ReturnReserve(std::int32_t sessionID);
  void ForgetReserve(std::int32_t sessionID);
  // The reserve register (see the head of this file).
  std::string ReserveRegisterPath() const;
  void RegisterReserves();
  bool DeadReservesRecorded();
  void UnregisterReserves();
  std::unique_ptr<platform::NativeFile> FReserveRegister;
  std::int32_t FReserveSlot = -1;

  struct TPageReserve {
    std::vector<std::int32_t> Pages;
    std::size_t Next = 0;  // Pages[Next..] are still to hand out
    std::int32_t Run = 1;    // the size of the next run
    std::int32_t Start = 1;  // the size of the transaction's first run
    std::int64_t Taken = 0;  // pages handed out in the transaction
  };
  std::map<std::int32_t, TPageReserve> FReserves;  // by session

  struct TSpillState {
    std::int32_t SessionID = -1;
    // Pages whose content in the file belongs to the running spill.
    std::set<std::int32_t> Pages;
    // Pages the transaction had taken from the file before its first spill: a rollback of the
    // spill leaves them marked used, so they are given back after it.
    std::vector<std::int32_t> TakenBefore;
  };
  bool StartSpill(std::int32_t sessionID);
  // Writes the session's changed pages that nobody holds, least recently taken first, until no more
  // than keepBytes of them remain in memory.
  void SpillPages(TNRDSessionPageInfo& info, std::int64_t keepBytes);
  // Rolls the spill back (the file as before the first spill) and gives back the pages the
  // transaction took before it; the session's changes are dropped.
  void AbortSpill(std::int32_t sessionID);
  std::unique_ptr<TSpillState> FSpill;
  std::int64_t FSpillBudget = std::int64_t{64} << 20;
  std::function<bool(std::int32_t)> FBeforeSpill;
  std::uint64_t FUseClock = 0;
  // Sessions that held changes when a gone writer's change set was rolled back: their changes may
  // rest on pages of that change set, so they must not be committed.
  std::set<std::int32_t> FStaleSessions;
  std::int32_t FRecoveredChangeSets = 0;
  TNRDPageCipher& Cipher();
  // Decrypts and checks the data area of a page just read (encrypted files; 30381, 30446).
  void DecryptReadPage(TNRDPage* page);
  // When the misses walk forward through the file, reads a run of pages from the missing one on in
  // one call into the shared cache.
  bool ReadAheadOnMiss(std::int32_t sessionID, std::int32_t pageNo) override;
  // The last page number that passed the bitmap-page check (a reader takes one page many times).
  std::int32_t FLastDataPageNo = -1;
  static constexpr std::int32_t kReadAheadFirstRun = 8;
  static constexpr std::int32_t kReadAheadMaxRun = 32;
  static constexpr std::int32_t kReadAheadGap = 8;
  std::int32_t FLastMissPageNo = -1000;
  std::int32_t FReadAheadRun = 0;
  std::int32_t FForwardMisses = 0;
  std::vector<std::uint8_t> FReadAheadBuffer;

  std::unique_ptr<TNRDDatabaseFreeSpaceManager> FDatabaseFreeSpaceManager;
  std::unique_ptr<TNRDDatabaseFile> FDatabaseFile;
  TNRDDBHeader FDBHeader{};
  TNRDCryptoHeader FCryptoHeader{};
  TNRDPassword FPassword;
  TNRDLockedBytes FLockedBytes{};
  std::int32_t FLockDBHeaderCount = 0;
  bool FExclusive = false;
  bool FReadOnly = false;
  TNRDDiskTablePagesCacheManager FTablePagesCacheManager;
  std::int64_t FOffsetToDBHeader = 0;
  std::int64_t FOffsetToCryptoHeader = 76;
  std::int64_t FOffsetToLockedBytes = 356;
  std::int64_t FOffsetToLastObjectID = 376;
  std::int64_t FOffsetToFirstPage = 380;
  std::int32_t FLastReadOnlyObjectID = -1;
  int FLockTryCount = 4500;
  int FLockDelayMS = 20;
  std::unique_ptr<TNRDPageCipher> FCipher;
  std::vector<std::uint8_t> FScratch;
};

}  // namespace nrd
