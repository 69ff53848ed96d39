// TNRDDatabaseFreeSpaceManager: which page of a database file a new page gets, and taking pages
// back. Two kinds of bitmap pages live inside the file:
//   PFS page (type 3): one bit per page, 1 = used. With D = page size - 40 data bytes, PFS page k
//     lies at page k*P (P = D*8) and describes pages k*P .. k*P+P-1: bit b of data byte i (least
//     significant first) is page k*P + i*8 + b. A new PFS page starts with byte 0 = 1 (itself).
//   EAM page (type 2): two bits per extent of PageCountInExtent pages, X = D*4 extents and
//     E = X*PageCountInExtent pages per EAM page; extent j of EAM page k holds bits 2(j mod 4) and
//     2(j mod 4)+1 of byte j div 4: 3 = every page used, 1 = some page free, 0 = never set. EAM page
//     k lies at page k*E, or k*E+1 when k*E is a PFS position (always so for k = 0).
// Pages 0 and 1 are thus the first PFS and EAM pages. The file grows by a tenth (at least one extent,
// 6 pages for an empty file) and shrinks in the same steps when pages at its end are free; a commit
// that leaves at least such a step free at the end (a big transaction's unused reserve) cuts the
// end off down to the last used page (TrimFreeEnd).
//
// Every operation re-reads the database header and runs under the header byte lock, inside one
// change set of the database file (so an allocation or release is wholly done or not at all); the
// bitmap pages bypass the page cache and the session's transaction. GetPages and FreePages take or
// give back a whole run of pages in one change set, so that a caller pays the journal and its
// syncs once per run rather than once per page.
// Departures for soundness: a shrink never leaves the file ending with a PFS or EAM page, whose
// partner bitmap page would otherwise be missing when the file grows again; and an EAM page cut off
// by a shrink loses its used bit in the PFS page that stays, so that growing again can write it anew.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace nrd {

class TNRDDiskPageManager;
class TNRDPage;

class TNRDDatabaseFreeSpaceManager {
 public:
  explicit TNRDDatabaseFreeSpaceManager(TNRDDiskPageManager* pageManager);
  ~TNRDDatabaseFreeSpaceManager();

  // A newly allocated page number (the argument is not used). 20231 when the header is locked.
  std::int32_t GetPage(std::int32_t desiredStartPageNo);
  // `count` newly allocated page numbers, taken in one change set (a run for a session's reserve);
  // the file grows for the first `growFor` of them only (all when negative), the rest are taken
  // while free pages last. 20231 when the header is locked.
  std::vector<std::int32_t> GetPages(std::int32_t count, std::int32_t growFor = -1);
  // 20232 when the header is locked; 30427 for a page that is already free.
  void FreePage(std::int32_t pageNo);
  // Frees every page of the list in one change set (an unused reserve), without shrinking the
  // file; 30427 as FreePage.
  void FreePages(const std::vector<std::int32_t>& pageNos);
  // Cuts every free page off the end of the file, in one change set (joining a running one), when
  // they add up to at least a growth step (the unused reserve of a big transaction): the file then
  // ends with its last used page. `beforeCut` is told each page that goes, bitmap pages excepted,
  // before anything is cut. 20232 when the header is locked.
  void TrimFreeEnd(const std::function<void(std::int32_t)>& beforeCut);
  bool GetPageUsageFromPFS(std::int32_t pageNo);
  // 30434 for a PFS or EAM page.
  void CheckPageNoForSystemPages(std::int32_t pageNo) const;
  bool IsSystemPage(std::int32_t pageNo) const;

  std::int32_t AddPagesStep() const;
  std::int32_t DelPagesStep() const { return AddPagesStep(); }
  bool SuppressDBHeaderErrors() const { return FSuppressDBHeaderErrors; }
  void SetSuppressDBHeaderErrors(bool value) { FSuppressDBHeaderErrors = value; }

  std::int32_t PFSPagesAddressed() const { return FPFSPage_PagesAddressed; }
  std::int32_t EAMPagesAddressed() const { return FEAMPage_PagesAddressed; }
  std::int32_t EAMPageNo(std::int32_t eamIndex) const;
  std::int32_t LastUsedPageNo() const { return FLastUsedPageNo; }
  std::int32_t TotalPageCount() const { return FTotalPageCount; }
  // Re-reads the two header fields from the file (the caller holds the header lock).
  void LoadHeaderState();

 private:
  class SystemPages;  // the bitmap pages read during one operation
  std::int32_t FindFreePage(SystemPages& pages);
  std::int32_t SearchEAMPage(SystemPages& pages, std::int32_t eamIndex);
  std::int32_t AllocateNewPages(SystemPages& pages);
  void UpdatePageUsage(SystemPages& pages, std::int32_t pageNo, bool used);
  void SetPageUsage(SystemPages& pages, std::int32_t pageNo, bool used);
  void UpdateExtentState(SystemPages& pages, std::int32_t pageNo);
  bool PageUsage(SystemPages& pages, std::int32_t pageNo, int wrongTypeCode);
  std::int32_t FindLastUsedPage(SystemPages& pages);
  void ShrinkFile(SystemPages& pages);
  // Cuts `cut` free pages off the end of the file.
  void CutFileEnd(SystemPages& pages, std::int32_t cut);
  void SaveHeaderState();

  TNRDDiskPageManager* LPageManager;
  std::int32_t FPageCountInExtent = 1;
  std::int32_t FPFSPage_PagesAddressed = 0;
  std::int32_t FEAMPage_ExtentsAddressed = 0;
  std::int32_t FEAMPage_PagesAddressed = 0;
  std::int32_t FLastUsedPageNo = -1;
  std::int32_t FTotalPageCount = 0;
  bool FSuppressDBHeaderErrors = false;
  // The run of data pages (between two bitmap pages) the last page asked about lies in: the pages
  // a session takes one after the other lie mostly in one run, and the run spares the divisions.
  mutable std::int64_t FDataRunFirst = 1;
  mutable std::int64_t FDataRunLast = 0;
};

}  // namespace nrd
