// B-tree algorithms: search inside a page, insert with split, delete with merge, positioning by
// condition, freeing and the integrity check.
//
// Every index page object owns one leaf and one node controller and hands each tree operation to
// the one that matches its leaf flag; operations recurse through node pages down to a leaf and
// record the way taken in a key path. Invariants of a sound tree:
// - entries on a page are in ascending short-key order; in record-index leaves equal keys are in
//   ascending record-ID order (node searches break ties through the first entry of a subtree, so
//   the order is exact across pages too);
// - node entry i points to the subtree whose keys are not below key i and not above key i+1; the
//   key of entry 0 of a node is never compared;
// - every level is chained left and right across the whole level;
// - the root keeps its page number for the life of the tree (root splits move its entries down,
//   root collapses move them back up).
// A page is split when it holds one entry more than fits (its buffer is enlarged by one entry
// first), in halves, or, for an entry appended at the end of the last page of its level, with only
// that entry going to the new page (a departure for ascending inserts, which would otherwise leave
// every page half empty); and merged into a neighbour when it falls under half full and both fit in one page.
//
// Departures for soundness (a damaged or degenerate tree must never loop, read out of bounds or be
// left inconsistent): an empty non-root page always merges; a separator written on a merge into the
// right neighbour across parents is the moved subtree's real first key; walks along a level are
// bounded by the page count; a page whose header does not fit the tree raises 20020.
#pragma once

#include <cstdint>

#include "engine/foundation/NRDTypes.h"
#include "engine/storage/NRDBTreeKeys.h"

namespace nrd {

class TNRDBTreePage;
class TNRDPageManager;

class TNRDBTreePageController {
 public:
  explicit TNRDBTreePageController(TNRDBTreePage* page) : FPage(page) {}
  virtual ~TNRDBTreePageController() = default;
  TNRDBTreePageController(const TNRDBTreePageController&) = delete;
  TNRDBTreePageController& operator=(const TNRDBTreePageController&) = delete;

  // Tie-break of the binary search when keys are equal and a record reference is given.
  virtual int CompareEntryWithReference(bool mayUseFullKeys, std::int32_t sessionID, std::int32_t entryNo,
                                        const std::uint8_t* reference, std::uint8_t* key) = 0;
  virtual void InsertLeafEntry(std::int32_t sessionID, std::uint8_t* key, const std::uint8_t* reference,
                               TNRDKeyPath& keyPath) = 0;
  virtual bool DeleteLeafEntry(std::int32_t sessionID, std::uint8_t* key, const std::uint8_t* reference,
                               TNRDKeyPath& keyPath) = 0;
  virtual void FreeAllPages(std::int32_t sessionID, bool keepRootPage) = 0;
  virtual void CheckIntegrity(std::int32_t sessionID, TNRDKeyPath& keyPath) = 0;
  virtual bool FindEntry(std::int32_t sessionID, std::uint8_t* key, const std::uint8_t* reference,
                         TNRDKeyPath& position) = 0;
  virtual bool GetFirstPosition(std::int32_t sessionID, TNRDKeyPath& position) = 0;
  virtual bool GetLastPosition(std::int32_t sessionID, TNRDKeyPath& position) = 0;
  virtual bool FindByCondition(std::int32_t sessionID, bool first, std::uint8_t* key, TNRDSearchCondition op,
                               TNRDKeyPath& position) = 0;
  virtual void GetFirstKey(std::int32_t sessionID, std::uint8_t* key) = 0;
  virtual void GetLastKey(std::int32_t sessionID, std::uint8_t* key) = 0;
  virtual void GetFirstEntry(std::int32_t sessionID, std::uint8_t* key, std::uint8_t* reference) = 0;
  virtual void GetLastEntry(std::int32_t sessionID, std::uint8_t* key, std::uint8_t* reference) = 0;

  TNRDBTreeKeyRef& KeyRef() const;
  std::uint8_t* GetPKey(std::int32_t entryNo) const;
  std::uint8_t* GetPReference(std::int32_t entryNo) const;

  // Binary search; mode 0 returns the first of a run of equal keys, 1 the last, 2 any.
  std::int32_t SearchEntries(bool mayUseFullKeys, std::int32_t sessionID, std::uint8_t* key,
                             const std::uint8_t* reference, std::int32_t startNo, TNRDKeyPathPosition& positionType,
                             int mode);
  bool HasRoomForEntry() const;
  bool IsOverfilled() const;
  bool IsUnderfilled() const;
  bool CanMergeWith(const TNRDBTreePage& page) const;
  void EnlargeForOneEntry();
  int CompareKeyWithEntry(bool mayUseFullKeys, std::int32_t sessionID, std::int32_t entryNo, std::uint8_t* key);
  int CompareReferenceWithEntry(const std::uint8_t* reference, std::int32_t entryNo) const;
  void InsertEntryAt(const std::uint8_t* key, const std::uint8_t* reference, std::int32_t position);
  void DeleteEntryAt(std::int32_t position);
  // appended: the entry that overfilled the page went after its last one, on the last page of its
  // level. The new page then takes only that entry, so that keys inserted in ascending order (an
  // autoincrement key, a bulk load in key order) leave full pages behind instead of half-full ones.
  void Split(std::int32_t sessionID, TNRDKeyPath& keyPath, bool appended = false);
  void TryMerge(std::int32_t sessionID, TNRDKeyPath& keyPath);

 protected:
  // Entries 0 .. h-1 stay (SplitPage) or go to the left page (SplitRoot).
  void SplitPage(std::int32_t sessionID, TNRDKeyPath& keyPath, std::int32_t h);
  void SplitRoot(std::int32_t sessionID, std::int32_t h);
  bool MergeWithPage(std::int32_t sessionID, std::int32_t pageNo, TNRDKeyPath& keyPath);
  // Descends into the child of a node whose entry is childNo (checks the child against the path).
  TNRDBTreePage* FPage;
};

class TNRDBTreeLeafController : public TNRDBTreePageController {
 public:
  using TNRDBTreePageController::TNRDBTreePageController;
  int CompareEntryWithReference(bool mayUseFullKeys, std::int32_t sessionID, std::int32_t entryNo,
                                const std::uint8_t* reference, std::uint8_t* key) override;
  void InsertLeafEntry(std::int32_t sessionID, std::uint8_t* key, const std::uint8_t* reference,
                       TNRDKeyPath& keyPath) override;
  bool DeleteLeafEntry(std::int32_t sessionID, std::uint8_t* key, const std::uint8_t* reference,
                       TNRDKeyPath& keyPath) override;
  void FreeAllPages(std::int32_t sessionID, bool keepRootPage) override;
  void CheckIntegrity(std::int32_t sessionID, TNRDKeyPath& keyPath) override;
  bool FindEntry(std::int32_t sessionID, std::uint8_t* key, const std::uint8_t* reference,
                 TNRDKeyPath& position) override;
  bool GetFirstPosition(std::int32_t sessionID, TNRDKeyPath& position) override;
  bool GetLastPosition(std::int32_t sessionID, TNRDKeyPath& position) override;
  bool FindByCondition(std::int32_t sessionID, bool first, std::uint8_t* key, TNRDSearchCondition op,
                       TNRDKeyPath& position) override;
  void GetFirstKey(std::int32_t sessionID, std::uint8_t* key) override;
  void GetLastKey(std::int32_t sessionID, std::uint8_t* key) override;
  void GetFirstEntry(std::int32_t sessionID, std::uint8_t* key, std::uint8_t* reference) override;
  void GetLastEntry(std::int32_t sessionID, std::uint8_t* key, std::uint8_t* reference) override;

 private:
  bool FindExactEntry(std::int32_t sessionID, std::uint8_t* key, const std::uint8_t* reference,
                      std::int32_t& position);
};

class TNRDBTreeNodeController : public TNRDBTreePageController {
 public:
  using TNRDBTreePageController::TNRDBTreePageController;
  int CompareEntryWithReference(bool mayUseFullKeys, std::int32_t sessionID, std::int32_t entryNo,
                                const std::uint8_t* reference, std::uint8_t* key) override;
  void InsertLeafEntry(std::int32_t sessionID, std::uint8_t* key, const std::uint8_t* reference,
                       TNRDKeyPath& keyPath) override;
  bool DeleteLeafEntry(std::int32_t sessionID, std::uint8_t* key, const std::uint8_t* reference,
                       TNRDKeyPath& keyPath) override;
  void FreeAllPages(std::int32_t sessionID, bool keepRootPage) override;
  void CheckIntegrity(std::int32_t sessionID, TNRDKeyPath& keyPath) override;
  bool FindEntry(std::int32_t sessionID, std::uint8_t* key, const std::uint8_t* reference,
                 TNRDKeyPath& position) override;
  bool GetFirstPosition(std::int32_t sessionID, TNRDKeyPath& position) override;
  bool GetLastPosition(std::int32_t sessionID, TNRDKeyPath& position) override;
  bool FindByCondition(std::int32_t sessionID, bool first, std::uint8_t* key, TNRDSearchCondition op,
                       TNRDKeyPath& position) override;
  void GetFirstKey(std::int32_t sessionID, std::uint8_t* key) override;
  void GetLastKey(std::int32_t sessionID, std::uint8_t* key) override;
  void GetFirstEntry(std::int32_t sessionID, std::uint8_t* key, std::uint8_t* reference) override;
  void GetLastEntry(std::int32_t sessionID, std::uint8_t* key, std::uint8_t* reference) override;
  // The new child (reference = its page number) goes after the entry the path names at its level.
  void InsertNodeEntry(std::int32_t sessionID, const std::uint8_t* key, const std::uint8_t* reference,
                       TNRDKeyPath& keyPath);
  // Removes the entry of a page that merged into a neighbour. movedFirstKey: the real first key
  // of the moved subtree (used when it merged into its right neighbour).
  void DeleteNodeEntry(std::int32_t sessionID, TNRDKeyPath& keyPath, bool mergeWithLeft,
                       const std::uint8_t* movedFirstKey = nullptr);

 private:
  std::int32_t ChildPageNo(std::int32_t entryNo) const;
  // The children [low, high] that may hold keys meeting the condition.
  void ChildRange(std::int32_t sessionID, std::uint8_t* key, TNRDSearchCondition op, std::int32_t& low,
                  std::int32_t& high);
  void CollapseRoot(std::int32_t sessionID);
};

// Path stepping along the level chains (not through the parents). False at the end (the path is
// unchanged). emptyCode for an empty path, linkCode for a missing neighbour.
bool BTreeMoveToNextPosition(TNRDPageManager* pageManager, TNRDBTreeKeyRef* keyRef, std::int32_t sessionID,
                             TNRDKeyPath& path, int emptyCode, int linkCode);
bool BTreeMoveToPriorPosition(TNRDPageManager* pageManager, TNRDBTreeKeyRef* keyRef, std::int32_t sessionID,
                              TNRDKeyPath& path, int emptyCode, int linkCode);

// An upper bound of the pages a walk along one level can visit: the pages of storage and those the
// session added. A longer walk can only be a cycle.
std::int64_t BTreeWalkBudget(TNRDPageManager* pageManager, std::int32_t sessionID);

}  // namespace nrd
