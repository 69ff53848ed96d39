// The page layer shared by every engine: the page object with its buffer and 40-byte header, a thin
// accessor over a page for the B-tree code, a page-number-sorted list with use counters, the caching
// page manager base, and the per-session table state cache that tells the disk page manager when a
// shared page may be used without comparing it with the file.
//
// Page manager contract:
// - One shared cache of clean pages (bounded by CacheCapacity, least recently used pages that nobody
//   holds are evicted, a sixteenth of the capacity at a time) and, per session, a private list of dirty pages plus the numbers the session
//   added and removed. A session's changes reach storage only through ApplyChanges and vanish with
//   CancelChanges.
// - Every page obtained from GetPage or AddPage is given back by exactly one PutPage; a caller that
//   changed a page sets IsDirty before PutPage.
// - A page lives in exactly one list: the shared cache or the dirty list of one session.
// - Concrete managers supply storage through InternalAddPage, InternalRemovePage, InternalReadPage
//   and InternalWritePage.
// - The manager does not lock itself: callers serialise through the database object's lock
//   (CSect() is there for them). Failures raise ENRDException; destructors never throw.
//
// Departures from the simplest reading, each for soundness:
// - A page whose read fails or whose stored type is wrong is dropped from the cache before the error
//   is raised, so a later GetPage reads it again instead of returning an unread buffer.
// - ApplyChanges and CancelChanges check every dirty page before they write or free any, so a faulty
//   page leaves the session's changes untouched. A write failure in the middle drops the pages
//   already written from the dirty list (they are clean and must not be written again).
// - A committed page whose number is already in the shared cache (another session read the old
//   version meanwhile) replaces that copy when nobody holds it; otherwise it is freed.
#pragma once

#include <bit>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <vector>

#include "engine/foundation/NRDTypes.h"

namespace nrd {

class TNRDPageManager;
class TNRDSortedPageList;

// Page header, the first 40 bytes of every page of a disk database (little-endian):
//   0  4  Signature    "NRDP"
//   4  4  State        signed change counter; 0x7FFFFFFF marks a removed page
//   8  2  PageType     unsigned page type
//  10  4  NextPageNo   next page of a chain, -1 for none
//  14  4  CRC32        CRC-32 of the plain data area (encrypted pages only)
//  18  1  CRCType      0
//  19  1  HashType     0
//  20  1  Cipherype    cipher of the data area
//  21  1  MACType      0
//  22  4  ObjectID     owning object, -1 for none
//  26  6  RecordID     PageNo (i32, -1), PageItemNo (u16, 0)
//  32  8  Reserved     zero in pages the engine creates
#pragma pack(push, 1)
struct TNRDDiskPageHeader {
  char Signature[4];
  std::int32_t State;
  std::uint16_t PageType;
  std::int32_t NextPageNo;
  std::uint32_t CRC32;
  std::uint8_t CRCType;
  std::uint8_t HashType;
  std::uint8_t Cipherype;
  std::uint8_t MACType;
  std::int32_t ObjectID;
  std::int32_t RecordIDPageNo;
  std::uint16_t RecordIDPageItemNo;
  std::uint8_t Reserved[8];
};
#pragma pack(pop)
static_assert(sizeof(TNRDDiskPageHeader) == 40);
// The page header and the file headers (NRDDiskPageManager.h) are read and written as packed
// structs, which gives their little-endian layout only on a little-endian host: a build for any
// other host must fail here rather than write files no other build can read.
static_assert(std::endian::native == std::endian::little, "the packed file structures assume a little-endian host");

// Stored page states run 0 .. 0x7FFFFFFC; this value marks a page that was removed (or could not be
// read).
inline constexpr std::int32_t PageStateRemoved = 0x7FFFFFFF;
// GetPage accepts a page of any type with this expected type.
inline constexpr std::uint16_t AnyPageType = 255;

struct TNRDPageTableStateInfo {
  std::int32_t TableState = 0;
  bool IsTableStateValueAssigned = false;
};

class TNRDPage {
 public:
  explicit TNRDPage(TNRDPageManager* pageManager);
  ~TNRDPage();
  TNRDPage(const TNRDPage&) = delete;
  TNRDPage& operator=(const TNRDPage&) = delete;

  // A zero-filled buffer of PageSize bytes with a fresh header.
  void AllocPageBuffer();
  // The header fields of a fresh page; the reserved bytes keep their contents.
  void InitHeader();
  void ClearPageBuffer();
  void FreeAndNilPageBuffer();
  // 20038 without a buffer, 20039 for a size below the page size. A borrowed buffer is copied into
  // a new own one.
  void EnlargePageBuffer(std::int32_t newSize);
  // Multi-user only: compares the stored State with the header's and re-reads a changed page.
  void Synchronize();
  bool GetTableState(std::int32_t sessionID, std::int32_t& tableState) const;
  void SetTableState(std::int32_t sessionID, std::int32_t tableState);

  std::int32_t PageNo() const { return FPageNo; }
  void SetPageNo(std::int32_t value) { FPageNo = value; }
  inline std::int32_t PageSize() const;
  std::uint8_t* PageBuffer() const { return FPageBuffer; }
  // Takes a buffer the page does not own (OwnBuffer false) or owns (true); the old own one is freed.
  void SetPageBuffer(std::uint8_t* buffer, bool ownBuffer);
  bool OwnBuffer() const { return FOwnBuffer; }
  bool IsDirty() const { return FIsDirty; }
  void SetIsDirty(bool value) { FIsDirty = value; }
  std::int32_t UseCount() const { return FUseCount; }
  void SetUseCount(std::int32_t value) { FUseCount = value; }
  TNRDPageManager* PageManager() const { return LPageManager; }
  // The buffer seen as a page header; REQUIRES: a buffer of at least 40 bytes.
  TNRDDiskPageHeader* PageHeader() const { return reinterpret_cast<TNRDDiskPageHeader*>(FPageBuffer); }
  inline std::int32_t PageHeaderSize() const;
  std::uint8_t* PageData() const { return FPageBuffer + PageHeaderSize(); }
  std::int32_t PageDataSize() const { return PageSize() - PageHeaderSize(); }
  TNRDSortedPageList* ParentList() const { return FParentList; }
  void SetParentList(TNRDSortedPageList* value) { FParentList = value; }
  std::int32_t SessionID() const { return FSessionID; }
  void SetSessionID(std::int32_t value) { FSessionID = value; }
  bool Reloaded() const { return FReloaded; }
  void SetReloaded(bool value) { FReloaded = value; }
  bool EncryptionEnabled() const { return FEncryptionEnabled; }
  void SetEncryptionEnabled(bool value) { FEncryptionEnabled = value; }
  // When the page was last taken, on a clock of the manager's choosing (the disk manager's spill
  // picks the changed pages least recently taken).
  std::uint64_t LastUse() const { return FLastUse; }
  void SetLastUse(std::uint64_t value) { FLastUse = value; }
  // A page read ahead of need, whose type no GetPage has checked yet: the first GetPage that names
  // a type checks it as a read from storage would.
  bool TypeUnchecked() const { return FTypeUnchecked; }
  void SetTypeUnchecked(bool value) { FTypeUnchecked = value; }

 private:
  TNRDPageManager* LPageManager;
  std::int32_t FPageNo = -1;
  std::uint8_t* FPageBuffer = nullptr;
  bool FOwnBuffer = true;
  bool FIsDirty = false;
  std::int32_t FUseCount = 0;
  TNRDSortedPageList* FParentList = nullptr;
  std::int32_t FSessionID = 0;
  bool FReloaded = false;
  bool FEncryptionEnabled = true;
  std::uint64_t FLastUse = 0;
  bool FTypeUnchecked = false;
  std::vector<TNRDPageTableStateInfo> FTableStates;  // indexed by session id + 2
};

// A thin view over a page; the B-tree index page derives from it. Does not own the page.
class TNRDPageController {
 public:
  explicit TNRDPageController(TNRDPage* page = nullptr) : LPage(page) {}
  virtual ~TNRDPageController() = default;

  TNRDPage* Page() const { return LPage; }
  void SetPage(TNRDPage* page) { LPage = page; }
  std::int32_t PageNo() const { return LPage->PageNo(); }
  void SetPageNo(std::int32_t value) { LPage->SetPageNo(value); }
  std::int32_t PageSize() const { return LPage->PageSize(); }
  std::uint8_t* PageBuffer() const { return LPage->PageBuffer(); }
  bool OwnBuffer() const { return LPage->OwnBuffer(); }
  bool IsDirty() const { return LPage->IsDirty(); }
  void SetIsDirty(bool value) { LPage->SetIsDirty(value); }
  std::int32_t UseCount() const { return LPage->UseCount(); }
  void SetUseCount(std::int32_t value) { LPage->SetUseCount(value); }
  TNRDPageManager* PageManager() const { return LPage->PageManager(); }
  std::uint8_t* PageData() const { return LPage->PageData(); }
  std::int32_t PageDataSize() const { return LPage->PageDataSize(); }
  void EnlargePageBuffer(std::int32_t newSize) { LPage->EnlargePageBuffer(newSize); }

 protected:
  TNRDPage* LPage;
};

using TNRDLRUIndex = std::map<std::int64_t, TNRDPage*>;

struct TNRDPageElement {
  TNRDPage* Page = nullptr;
  std::int64_t LRUCount = 0;
  TNRDLRUIndex::iterator LRUPos;  // the page's entry in the list's index by use count
};

// Pages sorted by page number, each with the list's use counter value of its last use. Does not own
// the pages.
class TNRDSortedPageList {
 public:
  explicit TNRDSortedPageList(std::int32_t size = 0);
  // The use-count index holds positions into this list's own map: a copy would point into another.
  TNRDSortedPageList(const TNRDSortedPageList&) = delete;
  TNRDSortedPageList& operator=(const TNRDSortedPageList&) = delete;

  TNRDPage* Find(std::int32_t key) const;
  void Insert(TNRDPage* page);
  // 20165 on an empty list, 20166 when the number is not in the list. The page is not freed.
  void Delete(std::int32_t pageNo);
  void Clear() {
    ItemCount = 0;
    FByLRU.clear();
  }
  // 20167 when the page is not in the list.
  void UpdateLRU(TNRDPage* page);
  // Least recently used page first; nil when there is none (further).
  TNRDPage* FirstByLRU();
  // Takes out up to count pages that nobody holds, least recently used first, in one pass over the
  // list; returns them (not freed).
  std::vector<TNRDPage*> DeleteLeastRecentlyUsed(std::int32_t count);
  TNRDPage* NextByLRU();
  void SetSize(std::int32_t newSize);

  std::int32_t Count() const { return ItemCount; }
  TNRDPage* Item(std::int32_t i) const { return ValueItems[static_cast<std::size_t>(i)].Page; }

  std::vector<std::int32_t> KeyItems;
  std::int32_t ItemCount = 0;
  std::int32_t AllocBy = 1000;
  std::int32_t deAllocBy = 1000;
  std::int32_t MaxAllocBy = 10000;
  std::int32_t AllocItemCount = 0;
  std::int64_t LRUCount = 0;
  std::int64_t LRULastFound = 0;
  std::vector<TNRDPageElement> ValueItems;

 private:
  // Index of the key, or the index at which it would be inserted.
  std::int32_t Search(std::int32_t key, bool& found) const;
  // The pages by their use count, so that the least recently used page is found without a scan.
  // Use counts are unique within a list: every Insert and UpdateLRU takes a new one.
  TNRDLRUIndex FByLRU;
  static constexpr std::uint32_t kFoundPosSlots = 16;
  mutable std::int32_t FFoundPos[kFoundPosSlots] = {};
};

struct TNRDSessionPageInfo {
  explicit TNRDSessionPageInfo(std::int32_t sessionID)
      : SessionID(sessionID), AddedPageNumbers(0, 100, 10), RemovedPageNumbers(0, 100, 10) {}
  std::int32_t SessionID;
  TNRDSortedPageList DirtyPages;
  TNRDIntegerArray AddedPageNumbers;
  TNRDIntegerArray RemovedPageNumbers;
};

class TNRDStream;

class TNRDPageManager {
 public:
  TNRDPageManager();
  // Frees every page, committed or not; call CheckNoUncommittedPages first where that matters.
  virtual ~TNRDPageManager();
  TNRDPageManager(const TNRDPageManager&) = delete;
  TNRDPageManager& operator=(const TNRDPageManager&) = delete;

  virtual std::int32_t GetPageCount() { return FPageCount; }
  // An upper bound of the page count for read paths that only need a limit (walk budgets, damage
  // checks of references): it never waits for or takes a lock.
  virtual std::int32_t PageCountBound() { return GetPageCount(); }
  // Whether a shared page may be used by the session without comparing it with storage.
  virtual bool IsPageCurrent(std::int32_t sessionID, TNRDPage* page);
  virtual void RememberPageTableState(std::int32_t sessionID, TNRDPage* page);
  virtual void LoadFromStream(TNRDStream& stream);
  virtual void SaveToStream(TNRDStream& stream);
  // Must give the page its number and a buffer.
  virtual void InternalAddPage(TNRDPage* page) = 0;
  virtual void InternalRemovePage(std::int32_t pageNo) = 0;
  // Fills the buffer for the page's number; false when it cannot be read.
  virtual bool InternalReadPage(TNRDPage* page) = 0;
  virtual void InternalWritePage(TNRDPage* page) = 0;
  // The stored State of a page, for multi-user page validation; false when this manager keeps no
  // states (memory-based managers).
  virtual bool ReadStoredPageState(std::int32_t pageNo, std::int32_t& state);

  // The page is released from storage at ApplyChanges.
  virtual void RemovePage(std::int32_t sessionID, std::int32_t pageNo);
  // The page taken once by the session. pageType AnyPageType accepts any stored type.
  // 20186 session -1; 20299 unreadable; 20153 wrong type; 20090 held by another session.
  virtual TNRDPage* GetPage(std::int32_t sessionID, std::int32_t pageNo, std::uint16_t pageType,
                            bool synchronizeAllowed = true);
  // Writes the session's dirty pages and releases the pages it removed.
  virtual void ApplyChanges(std::int32_t sessionID);

  // A new page, taken once and dirty, in the session's dirty list.
  // Drops the session's changes.
  virtual void CancelChanges(std::int32_t sessionID);

  TNRDPage* AddPage(std::int32_t sessionID, std::uint16_t pageType);
  void PutPage(TNRDPage* page);
  // The checks ApplyChanges makes before it changes anything: 20152, 20085, 20086.
  void CheckCanApply(std::int32_t sessionID) const;
  // 20097 when a session still has uncommitted pages.
  void CheckNoUncommittedPages() const;
  // True when the session has dirty, added or removed pages.
  bool HasChanges(std::int32_t sessionID) const;

  std::int32_t PageSize() const { return FPageSize; }
  std::int32_t PageHeaderSize() const { return FPageHeaderSize; }
  std::int32_t PageDataSize() const { return FPageDataSize; }
  std::int32_t PageCount() { return GetPageCount(); }
  bool MultiUser() const { return FMultiUser; }
  void SetMultiUser(bool value) { FMultiUser = value; }
  bool IgnoreCRCErrors() const { return FIgnoreCRCErrors; }
  void SetIgnoreCRCErrors(bool value) { FIgnoreCRCErrors = value; }
  std::int32_t CacheCapacity() const { return FCacheCapacity; }
  void SetCacheCapacity(std::int32_t value) { FCacheCapacity = value; }
  TCriticalSection& CSect() { return FCSect; }
  // Seeds the generator of fresh page states (tests that compare files byte for byte).
  void SeedRandom(std::uint32_t seed) {
    FRandomSeed = seed;
    FRandomGenerator.reset();
  }
  const TNRDSortedPageList& SharedPages() const { return FSharedPages; }
  // The session's page information, or nil.
  TNRDSessionPageInfo* FindSession(std::int32_t sessionID) const;

 protected:
  void SetPageSizes(std::int32_t pageSize, std::int32_t pageHeaderSize);
  TNRDSessionPageInfo& GetSession(std::int32_t sessionID);
  // Called by GetPage when the page is neither the session's nor cached: may put it (and more) into
  // the shared cache, as pages read ahead (TypeUnchecked). True when it did.
  virtual bool ReadAheadOnMiss(std::int32_t /*sessionID*/, std::int32_t /*pageNo*/) { return false; }
  // Drops a page from the shared cache; it is freed now, or at its last PutPage when held.
  void DropSharedPage(std::int32_t pageNo);
  // Frees every page of the shared cache that nobody holds.
  void DropUnusedSharedPages();
  // Forgets the session's dirty pages and its added and removed numbers, without touching storage.
  void DiscardSession(std::int32_t sessionID);

  TCriticalSection FCSect;
  std::int32_t FCacheCapacity = 0;
  TNRDSortedPageList FSharedPages;
  std::vector<std::unique_ptr<TNRDSessionPageInfo>> FSessions;
  std::uint16_t FPageSize = 0;
  std::uint16_t FPageHeaderSize = 0;
  std::uint16_t FPageDataSize = 0;
  std::int32_t FPageCount = 0;
  bool FMultiUser = false;
  bool FIgnoreCRCErrors = false;
  // The generator of fresh page states, made from its seed when first drawn from: most page
  // managers (those of every table open and temporary table) never draw, and seeding one costs
  // more than the rest of their construction.
  std::uint32_t NextRandom();

 private:
  std::uint32_t FRandomSeed = 0;
  std::optional<std::mt19937> FRandomGenerator;

 protected:

 private:
  void EvictSharedPages();
  // A written page: clean, into the shared cache while there is room, else freed.
  void KeepCommittedPage(TNRDPage* page);
  void FreeSessionPages(TNRDSessionPageInfo& info);
};

inline std::int32_t TNRDPage::PageSize() const { return LPageManager->PageSize(); }
inline std::int32_t TNRDPage::PageHeaderSize() const { return LPageManager->PageHeaderSize(); }

// ---------------------------------------------------------------------------------------------
// Per-session table page-cache state. While a session holds an ltS or ltRW lock on a table nobody
// else can change it, so the table state the session loaded stays valid and cached pages read under
// it need not be compared with the file.

class TNRDDTPCTableInfo {
 public:
  explicit TNRDDTPCTableInfo(std::int32_t tableID) : TableID(tableID) {}
  void Reset() {
    IsMostUpdatedLoaded = false;
    TableState = -1;
  }
  bool IsLockedFromModification() const { return TableSLockCount + TableRWLockCount > 0; }

  std::int32_t TableID;
  std::int32_t TableSLockCount = 0;
  std::int32_t TableRWLockCount = 0;
  bool IsMostUpdatedLoaded = false;
  std::int32_t TableState = -1;
};

class TNRDDTPCSessionInfo {
 public:
  TNRDDTPCTableInfo& GetTableInfo(std::int32_t tableID);
  std::vector<std::unique_ptr<TNRDDTPCTableInfo>> FTableInfo;
  std::vector<std::int32_t> FWorkTableIDs;  // a stack: the last one is the current work table
};

class TNRDDiskTablePagesCacheManager {
 public:
  void TableIsSLocked(std::int32_t sessionID, std::int32_t tableID);
  void TableIsSUnlocked(std::int32_t sessionID, std::int32_t tableID);
  void TableIsRWLocked(std::int32_t sessionID, std::int32_t tableID);
  void TableIsRWUnlocked(std::int32_t sessionID, std::int32_t tableID);
  bool GetIsMostUpdatedLoaded(std::int32_t sessionID, std::int32_t tableID);
  // Keeps the first state loaded under the current locks.
  void SetIsMostUpdatedLoaded(std::int32_t sessionID, std::int32_t tableID, std::int32_t tableState);
  void BeginWorkWithTable(std::int32_t sessionID, std::int32_t tableID);
  void EndWorkWithTable(std::int32_t sessionID, std::int32_t tableID);
  // True when the innermost work table is locked from modification and its state is loaded.
  bool GetWorkTableState(std::int32_t sessionID, std::int32_t& workTableState);

 private:
  TNRDDTPCSessionInfo& Session(std::int32_t sessionID);
  std::vector<std::unique_ptr<TNRDDTPCSessionInfo>> FSessionInfo;  // indexed by session id + 2
};

}  // namespace nrd
