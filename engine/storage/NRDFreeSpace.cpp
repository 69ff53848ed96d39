#include "engine/storage/NRDFreeSpace.h"

#include <algorithm>
#include <functional>
#include <limits>

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDDiskPageManager.h"

namespace nrd {

// The bitmap pages read during one operation, each read once and written through at every change.
class TNRDDatabaseFreeSpaceManager::SystemPages {
 public:
  explicit SystemPages(TNRDDiskPageManager* pm) : LPageManager(pm) {}

  TNRDPage& Read(std::int32_t pageNo, std::uint16_t expectedType, int wrongTypeCode) {
    auto it = FPages.find(pageNo);
    if (it == FPages.end()) {
      auto page = std::make_unique<TNRDPage>(LPageManager);
      page->SetPageNo(pageNo);
      page->SetSessionID(-2);
      if (!LPageManager->InternalReadPage(page.get())) {
        throw ENRDException(20299, "Error reading database file page. Page No: %d, type %d",
                            {pageNo, static_cast<int>(expectedType)});
      }
      it = FPages.emplace(pageNo, std::move(page)).first;
    }
    CheckPageType(it->second->PageHeader()->PageType, expectedType, wrongTypeCode);
    return *it->second;
  }

  // A fresh bitmap page of the type with data byte 0 = 1, written at once.
  void Create(std::int32_t pageNo, std::uint16_t type) {
    auto page = std::make_unique<TNRDPage>(LPageManager);
    page->SetPageNo(pageNo);
    page->SetSessionID(-2);
    page->AllocPageBuffer();
    page->PageHeader()->PageType = type;
    page->PageData()[0] = 1;
    LPageManager->InternalWritePage(page.get());
    FPages[pageNo] = std::move(page);
  }

  void Write(TNRDPage& page) { LPageManager->InternalWritePage(&page); }

 private:
  TNRDDiskPageManager* LPageManager;
  std::map<std::int32_t, std::unique_ptr<TNRDPage>> FPages;
};

TNRDDatabaseFreeSpaceManager::TNRDDatabaseFreeSpaceManager(TNRDDiskPageManager* pageManager) : LPageManager(pageManager) {
  const TNRDDBHeader& h = *pageManager->DBHeader();
  FPageCountInExtent = std::max<std::int32_t>(h.PageCountInExtent, 1);
  FLastUsedPageNo = h.LastUsedPageNo;
  FTotalPageCount = h.TotalPageCount;
  const std::int32_t dataSize = pageManager->PageDataSize();
  FPFSPage_PagesAddressed = dataSize * 8;
  FEAMPage_ExtentsAddressed = dataSize * 4;
  FEAMPage_PagesAddressed = FEAMPage_ExtentsAddressed * FPageCountInExtent;
}

TNRDDatabaseFreeSpaceManager::~TNRDDatabaseFreeSpaceManager() = default;

std::int32_t TNRDDatabaseFreeSpaceManager::AddPagesStep() const {
  if (FTotalPageCount == 0) return 6;
  return std::max(FTotalPageCount / 10, FPageCountInExtent);
}

bool TNRDDatabaseFreeSpaceManager::IsSystemPage(std::int32_t pageNo) const {
  const std::int32_t p = FPFSPage_PagesAddressed;
  const std::int32_t e = FEAMPage_PagesAddressed;
  if (pageNo < 0) return false;
  if (pageNo >= FDataRunFirst && pageNo <= FDataRunLast) return false;
  if (pageNo % p == 0 || pageNo % e == 0 || (pageNo >= 1 && (pageNo - 1) % p == 0 && (pageNo - 1) % e == 0)) return true;
  // The run reaches from just past the last multiple of p or e below the page (and past the EAM
  // page that follows a page that is a multiple of both) to just before the next multiple.
  const std::int64_t n = pageNo;
  std::int64_t first = std::max(n - n % p, n - n % e) + 1;
  if ((first - 1) % p == 0 && (first - 1) % e == 0) ++first;
  FDataRunFirst = first;
  FDataRunLast = std::min(n - n % p + p, n - n % e + e) - 1;
  return false;
}

void TNRDDatabaseFreeSpaceManager::CheckPageNoForSystemPages(std::int32_t pageNo) const {
  if (IsSystemPage(pageNo)) throw ENRDException(30434, "Cannot delete PFS or EAM page. PageNo=%d", {pageNo});
}

std::int32_t TNRDDatabaseFreeSpaceManager::EAMPageNo(std::int32_t eamIndex) const {
  const std::int64_t first = static_cast<std::int64_t>(eamIndex) * FEAMPage_PagesAddressed;
  return static_cast<std::int32_t>(first % FPFSPage_PagesAddressed == 0 ? first + 1 : first);
}

void TNRDDatabaseFreeSpaceManager::LoadHeaderState() {
  LPageManager->ReadDBHeader();
  FLastUsedPageNo = LPageManager->DBHeader()->LastUsedPageNo;
  FTotalPageCount = LPageManager->DBHeader()->TotalPageCount;
}

void TNRDDatabaseFreeSpaceManager::SaveHeaderState() {
  TNRDDBHeader& h = *LPageManager->DBHeader();
  if (h.LastUsedPageNo != FLastUsedPageNo || h.TotalPageCount != FTotalPageCount) {
    h.LastUsedPageNo = FLastUsedPageNo;
    h.TotalPageCount = FTotalPageCount;
    LPageManager->WriteDBHeader();
  }
}

std::int32_t TNRDDatabaseFreeSpaceManager::GetPage(std::int32_t) {
  std::int32_t result = -1;
  LPageManager->RunChangeSet(20231, [&] {
    LoadHeaderState();
    SystemPages pages(LPageManager);
    try {
      result = FindFreePage(pages);
      if (result == -1) result = AllocateNewPages(pages);
      FLastUsedPageNo = std::max(FLastUsedPageNo, result);
    } catch (...) {
      SaveHeaderState();
      throw;
    }
    SaveHeaderState();
  });
  return result;
}

std::vector<std::int32_t> TNRDDatabaseFreeSpaceManager::GetPages(std::int32_t count, std::int32_t growFor) {
  std::vector<std::int32_t> result;
  if (count < 1) return result;
  if (growFor < 0) growFor = count;
  LPageManager->RunChangeSet(20231, [&] {
    result.clear();  // a retried body starts over
    LoadHeaderState();
    SystemPages pages(LPageManager);
    try {
      for (std::int32_t i = 0; i < count; ++i) {
        std::int32_t pageNo = FindFreePage(pages);
        if (pageNo == -1) {
          if (i >= growFor) break;
          pageNo = AllocateNewPages(pages);
        }
        FLastUsedPageNo = std::max(FLastUsedPageNo, pageNo);
        result.push_back(pageNo);
      }
    } catch (...) {
      SaveHeaderState();
      throw;
    }
    SaveHeaderState();
  });
  return result;
}

void TNRDDatabaseFreeSpaceManager::FreePages(const std::vector<std::int32_t>& pageNos) {
  if (pageNos.empty()) return;
  LPageManager->RunChangeSet(20232, [&] {
    LoadHeaderState();
    try {
      SystemPages pages(LPageManager);
      for (std::int32_t pageNo : pageNos) UpdatePageUsage(pages, pageNo, false);
      // The file keeps its size: the pages stay free inside it for the next run.
      FLastUsedPageNo = FindLastUsedPage(pages);
    } catch (...) {
      SaveHeaderState();
      throw;
    }
    SaveHeaderState();
  });
}

void TNRDDatabaseFreeSpaceManager::FreePage(std::int32_t pageNo) {
  LPageManager->RunChangeSet(20232, [&] {
    LoadHeaderState();
    try {
      SystemPages pages(LPageManager);
      UpdatePageUsage(pages, pageNo, false);
      FLastUsedPageNo = FindLastUsedPage(pages);
      ShrinkFile(pages);
    } catch (...) {
      SaveHeaderState();
      throw;
    }
    SaveHeaderState();
  });
}

// ---------------------------------------------------------------------------------------------

std::int32_t TNRDDatabaseFreeSpaceManager::FindFreePage(SystemPages& pages) {
  if (FLastUsedPageNo == -1) return -1;
  const std::int32_t lastEAM = std::max(FTotalPageCount - 1, 0) / FEAMPage_PagesAddressed;
  std::int32_t found = SearchEAMPage(pages, lastEAM);
  for (std::int32_t k = 0; found == -1 && k < lastEAM; ++k) found = SearchEAMPage(pages, k);
  if (found != -1) UpdatePageUsage(pages, found, true);
  return found;
}

std::int32_t TNRDDatabaseFreeSpaceManager::SearchEAMPage(SystemPages& pages, std::int32_t eamIndex) {
  TNRDPage& eam = pages.Read(EAMPageNo(eamIndex), ptEAM, 30423);
  const std::uint8_t* data = eam.PageData();
  const std::int32_t dataSize = eam.PageDataSize();
  std::int64_t extent = -1;
  for (std::int32_t i = 0; extent < 0 && i < dataSize; ++i) {
    if (data[i] == 0xFF) continue;
    for (int q = 0; q < 4; ++q) {
      if (((data[i] >> (2 * q)) & 2) == 0) {
        extent = static_cast<std::int64_t>(eamIndex) * FEAMPage_ExtentsAddressed + i * 4 + q;
        break;
      }
    }
  }
  if (extent < 0) return -1;
  const std::int64_t firstPage = extent * FPageCountInExtent;
  const std::int64_t lastPage = firstPage + FPageCountInExtent - 1;
  const std::int64_t pfsFirst = firstPage / FPFSPage_PagesAddressed;
  std::int64_t pfsLast = lastPage / FPFSPage_PagesAddressed;
  while (pfsLast >= pfsFirst && pfsLast * FPFSPage_PagesAddressed >= FTotalPageCount) --pfsLast;
  std::int64_t candidate = -1;
  for (std::int64_t k = pfsFirst; k <= pfsLast; ++k) {
    TNRDPage& pfs = pages.Read(static_cast<std::int32_t>(k * FPFSPage_PagesAddressed), ptPFS, 30423);
    const std::uint8_t* bits = pfs.PageData();
    for (std::int32_t i = 0; i < pfs.PageDataSize(); ++i) {
      if (bits[i] == 0xFF) continue;
      int b = 0;
      while ((bits[i] >> b) & 1) ++b;
      candidate = k * FPFSPage_PagesAddressed + i * 8 + b;
      break;
    }
  }
  if (candidate < 0 || candidate >= FTotalPageCount) return -1;
  return static_cast<std::int32_t>(candidate);
}

std::int32_t TNRDDatabaseFreeSpaceManager::AllocateNewPages(SystemPages& pages) {
  const bool wasEmpty = FLastUsedPageNo == -1;
  const std::int32_t oldLastPFS = wasEmpty ? -1 : std::max(FTotalPageCount - 1, 0) / FPFSPage_PagesAddressed;
  const std::int32_t oldLastEAM = wasEmpty ? -1 : std::max(FTotalPageCount - 1, 0) / FEAMPage_PagesAddressed;
  // Page numbers are 32-bit: a damaged header near the limit raises instead of overflowing.
  constexpr std::int64_t kLimit = std::numeric_limits<std::int32_t>::max() - 4;
  if (FLastUsedPageNo >= kLimit || FTotalPageCount >= kLimit) {
    throw ENRDException(30430, "Page: %d cannot be addressed. TotalPageCount=%d", {FLastUsedPageNo, FTotalPageCount});
  }
  do {
    ++FLastUsedPageNo;
  } while (IsSystemPage(FLastUsedPageNo));
  const std::int32_t newPage = FLastUsedPageNo;
  std::int64_t step = AddPagesStep();
  if (newPage >= static_cast<std::int64_t>(FTotalPageCount) + step) step = newPage - FTotalPageCount + 1;
  while (FTotalPageCount + step - 1 < kLimit && IsSystemPage(static_cast<std::int32_t>(FTotalPageCount + step - 1))) ++step;
  if (FTotalPageCount + step > kLimit) {
    throw ENRDException(30430, "Page: %d cannot be addressed. TotalPageCount=%d", {newPage, FTotalPageCount});
  }
  LPageManager->ExtendFile(static_cast<std::int32_t>(step));
  FTotalPageCount = LPageManager->DBHeader()->TotalPageCount;

  const std::int32_t newLastPFS = (FTotalPageCount - 1) / FPFSPage_PagesAddressed;
  const std::int32_t newLastEAM = (FTotalPageCount - 1) / FEAMPage_PagesAddressed;
  for (std::int32_t k = oldLastPFS + 1; k <= newLastPFS; ++k) pages.Create(k * FPFSPage_PagesAddressed, ptPFS);
  for (std::int32_t k = oldLastEAM + 1; k <= newLastEAM; ++k) pages.Create(EAMPageNo(k), ptEAM);
  for (std::int32_t k = oldLastEAM + 1; k <= newLastEAM; ++k) {
    SetPageUsage(pages, EAMPageNo(k), true);
    UpdateExtentState(pages, EAMPageNo(k));
  }
  for (std::int32_t k = oldLastPFS + 1; k <= newLastPFS; ++k) UpdateExtentState(pages, k * FPFSPage_PagesAddressed);
  UpdatePageUsage(pages, newPage, true);
  return newPage;
}

void TNRDDatabaseFreeSpaceManager::UpdatePageUsage(SystemPages& pages, std::int32_t pageNo, bool used) {
  SetPageUsage(pages, pageNo, used);
  UpdateExtentState(pages, pageNo);
}

void TNRDDatabaseFreeSpaceManager::SetPageUsage(SystemPages& pages, std::int32_t pageNo, bool used) {
  if (pageNo < 0 || pageNo >= FTotalPageCount) {
    throw ENRDException(30430, "Page: %d cannot be addressed. TotalPageCount=%d", {pageNo, FTotalPageCount});
  }
  const std::int32_t k = pageNo / FPFSPage_PagesAddressed;
  TNRDPage& pfs = pages.Read(k * FPFSPage_PagesAddressed, ptPFS, 30424);
  const std::int32_t bit = pageNo - k * FPFSPage_PagesAddressed;
  std::uint8_t& byte = pfs.PageData()[bit / 8];
  const std::uint8_t mask = static_cast<std::uint8_t>(1u << (bit % 8));
  if (used && (byte & mask) != 0) throw ENRDException(30425, "Page: %d already used", {pageNo});
  if (!used && (byte & mask) == 0) throw ENRDException(30427, "Page: %d already free", {pageNo});
  byte = static_cast<std::uint8_t>(used ? byte | mask : byte & ~mask);
  pages.Write(pfs);
}

bool TNRDDatabaseFreeSpaceManager::PageUsage(SystemPages& pages, std::int32_t pageNo, int wrongTypeCode) {
  const std::int32_t k = pageNo / FPFSPage_PagesAddressed;
  if (static_cast<std::int64_t>(k) * FPFSPage_PagesAddressed > FLastUsedPageNo) return false;
  TNRDPage& pfs = pages.Read(k * FPFSPage_PagesAddressed, ptPFS, wrongTypeCode);
  const std::int32_t bit = pageNo - k * FPFSPage_PagesAddressed;
  return ((pfs.PageData()[bit / 8] >> (bit % 8)) & 1) != 0;
}

bool TNRDDatabaseFreeSpaceManager::GetPageUsageFromPFS(std::int32_t pageNo) {
  // A bitmap page inside the file is in use, also when it lies above the last used data page
  // (whose PFS page the lookup below would not read).
  if (pageNo >= 0 && pageNo < FTotalPageCount && IsSystemPage(pageNo)) return true;
  SystemPages pages(LPageManager);
  return PageUsage(pages, pageNo, 30430);
}

void TNRDDatabaseFreeSpaceManager::UpdateExtentState(SystemPages& pages, std::int32_t pageNo) {
  if (pageNo < 0 || pageNo >= FTotalPageCount) {
    throw ENRDException(30431, "Page: %d cannot be addressed. TotalPageCount=%d", {pageNo, FTotalPageCount});
  }
  const std::int32_t eamIndex = pageNo / FEAMPage_PagesAddressed;
  TNRDPage& eam = pages.Read(EAMPageNo(eamIndex), ptEAM, 30428);
  const std::int64_t extent = pageNo / FPageCountInExtent;
  const std::int64_t j = extent - static_cast<std::int64_t>(eamIndex) * FEAMPage_ExtentsAddressed;
  bool sawUsed = false;
  bool sawFree = false;
  const std::int64_t first = extent * FPageCountInExtent;
  for (std::int64_t p = first; p < first + FPageCountInExtent && !(sawUsed && sawFree); ++p) {
    if (PageUsage(pages, static_cast<std::int32_t>(p), 30430)) {
      sawUsed = true;
    } else {
      sawFree = true;
    }
  }
  const std::uint8_t state = !sawFree ? 3 : ((sawUsed || sawFree) ? 1 : 0);
  std::uint8_t& byte = eam.PageData()[j / 4];
  const int shift = static_cast<int>(2 * (j % 4));
  const auto updated = static_cast<std::uint8_t>((byte & ~(3u << shift)) | (static_cast<unsigned>(state) << shift));
  if (updated != byte) {
    byte = updated;
    pages.Write(eam);
  }
}

std::int32_t TNRDDatabaseFreeSpaceManager::FindLastUsedPage(SystemPages& pages) {
  if (FTotalPageCount <= 0) return -1;
  const std::int32_t lastPFS = (FTotalPageCount - 1) / FPFSPage_PagesAddressed;
  for (std::int32_t k = lastPFS; k >= 0; --k) {
    TNRDPage& pfs = pages.Read(k * FPFSPage_PagesAddressed, ptPFS, 30432);
    const std::uint8_t* bits = pfs.PageData();
    for (std::int32_t i = pfs.PageDataSize() - 1; i >= 0; --i) {
      if (bits[i] == 0) continue;
      for (int b = 7; b >= 0; --b) {
        if (((bits[i] >> b) & 1) == 0) continue;
        const std::int64_t pageNo = static_cast<std::int64_t>(k) * FPFSPage_PagesAddressed + i * 8 + b;
        if (!IsSystemPage(static_cast<std::int32_t>(pageNo))) return static_cast<std::int32_t>(pageNo);
      }
    }
  }
  return -1;
}

void TNRDDatabaseFreeSpaceManager::TrimFreeEnd(const std::function<void(std::int32_t)>& beforeCut) {
  LPageManager->RunChangeSet(20232, [&] {
    LoadHeaderState();
    try {
      SystemPages pages(LPageManager);
      FLastUsedPageNo = FindLastUsedPage(pages);
      const std::int32_t spare = FTotalPageCount - FLastUsedPageNo - 1;
      // The file then ends with its last used page, which is never a bitmap page.
      if (FLastUsedPageNo >= 0 && spare >= DelPagesStep()) {
        for (std::int32_t p = FLastUsedPageNo + 1; p < FTotalPageCount; ++p) {
          if (!IsSystemPage(p)) beforeCut(p);
        }
        CutFileEnd(pages, spare);
      }
    } catch (...) {
      SaveHeaderState();
      throw;
    }
    SaveHeaderState();
  });
}

void TNRDDatabaseFreeSpaceManager::ShrinkFile(SystemPages& pages) {
  const std::int32_t step = DelPagesStep();
  const std::int32_t spare = FTotalPageCount - FLastUsedPageNo - 1;
  if (spare < step) return;
  std::int32_t cut = (spare / step) * step;
  // Never end the file with a bitmap page: its partner would be missing when the file grows again.
  while (cut < spare && FTotalPageCount - cut - 1 >= 0 && IsSystemPage(FTotalPageCount - cut - 1)) ++cut;
  CutFileEnd(pages, cut);
}

void TNRDDatabaseFreeSpaceManager::CutFileEnd(SystemPages& pages, std::int32_t cut) {
  // An EAM page that is cut off while the PFS page describing it stays must lose its used bit, or
  // the growth that writes it again finds it "already used".
  const std::int32_t newTotal = FTotalPageCount - cut;
  for (std::int64_t k = newTotal / FEAMPage_PagesAddressed; k <= (FTotalPageCount - 1) / FEAMPage_PagesAddressed; ++k) {
    const std::int32_t eam = EAMPageNo(static_cast<std::int32_t>(k));
    const std::int64_t pfs = static_cast<std::int64_t>(eam / FPFSPage_PagesAddressed) * FPFSPage_PagesAddressed;
    if (eam >= newTotal && eam < FTotalPageCount && pfs < newTotal) SetPageUsage(pages, eam, false);
  }
  LPageManager->TruncateFile(cut);
  FTotalPageCount = LPageManager->DBHeader()->TotalPageCount;
}

}  // namespace nrd
