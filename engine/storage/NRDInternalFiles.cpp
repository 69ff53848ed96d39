#include "engine/storage/NRDInternalFiles.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDDiskPageManager.h"

namespace nrd {

namespace {

std::int32_t GetI32(const std::uint8_t* p) {
  std::int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void PutI32(std::uint8_t* p, std::int32_t v) { std::memcpy(p, &v, 4); }

// Puts a page back on every path.
class PageHolder {
 public:
  PageHolder(TNRDPageManager& pm, TNRDPage* page) : FPageManager(pm), FPage(page) {}
  ~PageHolder() {
    if (FPage != nullptr) FPageManager.PutPage(FPage);
  }
  PageHolder(const PageHolder&) = delete;
  PageHolder& operator=(const PageHolder&) = delete;
  TNRDPage* operator->() const { return FPage; }
  TNRDPage* get() const { return FPage; }

 private:
  TNRDPageManager& FPageManager;
  TNRDPage* FPage;
};

[[noreturn]] void RaiseChain(std::int32_t links) {
  throw ENRDException(20300, "Error getting %d-th table file page. Probably database is corrupted and needs repair.",
                      {links});
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Transacted files

void TNRDInternalDBTransactedAccessFile::CheckOpened(const char* operation) const {
  if (FStartPageNo == -1) {
    throw ENRDException(30389, "Cannot perform this operation (%s) on closed internal file", {operation});
  }
}

std::int32_t TNRDInternalDBTransactedAccessFile::PagesFor(std::int64_t storedSize) const {
  const std::int64_t d = LPageManager->PageDataSize();
  return static_cast<std::int32_t>((std::max<std::int64_t>(storedSize, 0) + InternalFileHeaderSize + d - 1) / d);
}

std::int32_t TNRDInternalDBTransactedAccessFile::MaxChainLength() const {
  return std::max<std::int32_t>(+LPageManager->DBHeader()->TotalPageCount, 1);
}

void TNRDInternalDBTransactedAccessFile::CreateFile(std::int32_t sessionID) {
  if (FStartPageNo != -1) {
    throw ENRDException(30383, "Cannot create Internal file. File already exists. StartPageNo=%d", {FStartPageNo});
  }
  PageHolder page(*LPageManager, LPageManager->AddPage(sessionID, FPageTypeID));
  std::uint8_t* data = page->PageData();
  data[0] = InternalFileHeaderSize;
  PutI32(data + 1, 0);
  PutI32(data + 5, 0);
  data[9] = acaNone;
  FStartPageNo = page->PageNo();
}

void TNRDInternalDBTransactedAccessFile::OpenFile(std::int32_t startPageNo) {
  if (startPageNo != -1) FStartPageNo = startPageNo;
}

void TNRDInternalDBTransactedAccessFile::DeleteFile(std::int32_t sessionID, std::int32_t startPageNo) {
  OpenFile(startPageNo);
  std::int32_t no = FStartPageNo;
  std::int32_t links = 0;
  std::set<std::int32_t> visited;
  while (no != -1) {
    ++links;
    if (!visited.insert(no).second) RaiseChain(links);
    std::int32_t next = -1;
    {
      PageHolder page(*LPageManager, LPageManager->GetPage(sessionID, no, FPageTypeID));
      next = page->PageHeader()->NextPageNo;
    }
    LPageManager->RemovePage(sessionID, no);
    no = next;
  }
  FStartPageNo = -1;
}

void TNRDInternalDBTransactedAccessFile::GetFileSize(std::int32_t sessionID, std::int32_t& size,
                                                     std::int32_t& decompressedSize,
                                                     TNRDCompressionAlgorithm& compressionAlgorithm,
                                                     bool& fileWasChanged, bool syncronizeAllowed) {
  CheckOpened("GetSize");
  PageHolder page(*LPageManager, LPageManager->GetPage(sessionID, FStartPageNo, FPageTypeID, syncronizeAllowed));
  const std::uint8_t* data = page->PageData();
  size = GetI32(data + 1);
  decompressedSize = GetI32(data + 5);
  compressionAlgorithm = static_cast<TNRDCompressionAlgorithm>(data[9]);
  fileWasChanged = page->Reloaded();
}

std::int32_t TNRDInternalDBTransactedAccessFile::GetSize(std::int32_t sessionID) {
  std::int32_t size = 0, plain = 0;
  TNRDCompressionAlgorithm algorithm = acaNone;
  bool changed = false;
  GetFileSize(sessionID, size, plain, algorithm, changed, true);
  return plain;
}

std::int32_t TNRDInternalDBTransactedAccessFile::ChainPage(std::int32_t sessionID, std::int32_t k,
                                                           bool synchronizeAllowed) {
  if (k > MaxChainLength()) RaiseChain(k);
  std::int32_t no = FStartPageNo;
  std::set<std::int32_t> visited;
  for (std::int32_t i = 0; i < k; ++i) {
    visited.insert(no);
    PageHolder page(*LPageManager, LPageManager->GetPage(sessionID, no, FPageTypeID, synchronizeAllowed));
    no = page->PageHeader()->NextPageNo;
    if (no == -1 || visited.count(no) > 0) RaiseChain(i + 1);
  }
  return no;
}

void TNRDInternalDBTransactedAccessFile::SetFileSize(std::int32_t sessionID, std::int32_t newSize,
                                                     std::int32_t decompressedSize,
                                                     TNRDCompressionAlgorithm compressionAlgorithm) {
  CheckOpened("SetSize");
  std::int32_t stored = 0;
  {
    PageHolder first(*LPageManager, LPageManager->GetPage(sessionID, FStartPageNo, FPageTypeID));
    stored = GetI32(first->PageData() + 1);
  }
  const std::int32_t oldPages = stored < 0 ? PagesFor(newSize) : PagesFor(stored);
  const std::int32_t newPages = PagesFor(newSize);
  if (newPages > oldPages) {
    TNRDPage* prev = LPageManager->GetPage(sessionID, ChainPage(sessionID, oldPages - 1, true), FPageTypeID);
    try {
      for (std::int32_t i = oldPages; i < newPages; ++i) {
        TNRDPage* added = LPageManager->AddPage(sessionID, FPageTypeID);
        prev->PageHeader()->NextPageNo = added->PageNo();
        prev->SetIsDirty(true);
        LPageManager->PutPage(prev);
        prev = added;
      }
    } catch (...) {
      LPageManager->PutPage(prev);
      throw;
    }
    LPageManager->PutPage(prev);
  } else if (newPages < oldPages) {
    std::int32_t cut = -1;
    {
      PageHolder last(*LPageManager, LPageManager->GetPage(sessionID, ChainPage(sessionID, newPages - 1, true), FPageTypeID));
      cut = last->PageHeader()->NextPageNo;
      last->PageHeader()->NextPageNo = -1;
      last->SetIsDirty(true);
    }
    // The pages cut off the chain are released with the session's commit (never a page of the
    // part that stays, should a damaged link lead back into it).
    std::set<std::int32_t> seen;
    for (std::int32_t i = 0, no = FStartPageNo; i < newPages && no != -1; ++i) {
      seen.insert(no);
      PageHolder page(*LPageManager, LPageManager->GetPage(sessionID, no, FPageTypeID));
      no = page->PageHeader()->NextPageNo;
    }
    for (std::int32_t i = newPages; i < oldPages && cut != -1 && seen.insert(cut).second; ++i) {
      std::int32_t next = -1;
      {
        PageHolder page(*LPageManager, LPageManager->GetPage(sessionID, cut, FPageTypeID));
        next = page->PageHeader()->NextPageNo;
      }
      LPageManager->RemovePage(sessionID, cut);
      cut = next;
    }
  }
  PageHolder first(*LPageManager, LPageManager->GetPage(sessionID, FStartPageNo, FPageTypeID));
  std::uint8_t* data = first->PageData();
  data[0] = InternalFileHeaderSize;
  PutI32(data + 1, newSize);
  PutI32(data + 5, decompressedSize);
  data[9] = compressionAlgorithm;
  first->SetIsDirty(true);
}

std::int64_t TNRDInternalDBTransactedAccessFile::CopyContent(std::int32_t sessionID, std::uint8_t* buf,
                                                             std::int64_t count, bool toFile, bool synchronizeAllowed) {
  const std::int64_t d = LPageManager->PageDataSize();
  std::int64_t done = 0;
  std::int32_t no = FStartPageNo;
  std::set<std::int32_t> visited;
  for (std::int64_t i = 0; no != -1 && done < count; ++i) {
    if (!visited.insert(no).second) RaiseChain(static_cast<std::int32_t>(i));
    PageHolder page(*LPageManager, LPageManager->GetPage(sessionID, no, FPageTypeID, synchronizeAllowed));
    const std::int64_t from = std::max(i * d, InternalFileHeaderSize + done);
    const std::int64_t to = std::min((i + 1) * d, InternalFileHeaderSize + count);
    if (from < to) {
      std::uint8_t* onPage = page->PageData() + (from - i * d);
      std::uint8_t* inBuf = buf + (from - InternalFileHeaderSize);
      if (toFile) {
        std::memcpy(onPage, inBuf, static_cast<std::size_t>(to - from));
        page->SetIsDirty(true);
      } else {
        std::memcpy(inBuf, onPage, static_cast<std::size_t>(to - from));
      }
      done += to - from;
    }
    no = page->PageHeader()->NextPageNo;
  }
  return done;
}

void TNRDInternalDBTransactedAccessFile::ReadFile(std::int32_t sessionID, void* buffer, std::int32_t count,
                                                  bool synchronizeAllowed) {
  CheckOpened("ReadFile");
  std::int32_t stored = 0, plain = 0;
  TNRDCompressionAlgorithm algorithm = acaNone;
  bool changed = false;
  GetFileSize(sessionID, stored, plain, algorithm, changed, synchronizeAllowed);
  if (plain < count) throw ENRDException(30387, "Cannot Read internal file. FileSize=%d. ReadSize=%d", {plain, count});
  if (count <= 0) return;
  auto raiseShort = [](std::int64_t wanted, std::int64_t read) {
    throw ENRDException(30388, "Cannot Read internal file. Bytes wanted=%d. Bytes read=%d", {wanted, read});
  };
  if (algorithm == acaNone) {
    const std::int64_t done = CopyContent(sessionID, static_cast<std::uint8_t*>(buffer), count, false, synchronizeAllowed);
    if (done < count) raiseShort(count, done);
    return;
  }
  // The stored content cannot be longer than the pages of the file.
  const std::int64_t limit = static_cast<std::int64_t>(MaxChainLength()) * LPageManager->PageDataSize();
  if (stored <= 0 || stored > limit) raiseShort(stored, 0);
  std::vector<std::uint8_t> work(static_cast<std::size_t>(stored));
  const std::int64_t done = CopyContent(sessionID, work.data(), stored, false, synchronizeAllowed);
  if (done < stored) raiseShort(stored, done);
  std::vector<std::uint8_t> out;
  std::int32_t outSize = plain;
  if (!DecompressBuffer(algorithm, work.data(), stored, out, outSize) || outSize < count) {
    throw ENRDException(20189, "Table file decompression error. Possible table corruption (%s)",
                        {GetLastCompressionError()});
  }
  std::memcpy(buffer, out.data(), static_cast<std::size_t>(count));
}

void TNRDInternalDBTransactedAccessFile::WriteFile(std::int32_t sessionID, const void* buffer, std::int32_t count,
                                                   TNRDCompressionAlgorithm algorithm, std::uint8_t compressionMode) {
  CheckOpened("WriteFile");
  const std::uint8_t* content = static_cast<const std::uint8_t*>(buffer);
  std::int32_t stored = count;
  std::vector<std::uint8_t> compressed;
  if (algorithm != acaNone) {
    std::int32_t outSize = 0;
    if (!CompressBuffer(algorithm, compressionMode, buffer, count, compressed, outSize)) {
      throw ENRDException(20187, "Table file compression error");
    }
    content = compressed.data();
    stored = outSize;
  }
  if (PagesFor(stored) == 1) {
    // The common case, a small file rewritten whole (a table's counters at every record change):
    // when it already is a single page, header and content go there in one step.
    PageHolder first(*LPageManager, LPageManager->GetPage(sessionID, FStartPageNo, FPageTypeID));
    std::uint8_t* data = first->PageData();
    const std::int32_t old = GetI32(data + 1);
    if (old >= 0 && PagesFor(old) == 1) {
      data[0] = InternalFileHeaderSize;
      PutI32(data + 1, stored);
      PutI32(data + 5, count);
      data[9] = algorithm;
      if (stored > 0) std::memcpy(data + InternalFileHeaderSize, content, static_cast<std::size_t>(stored));
      first->SetIsDirty(true);
      return;
    }
  }
  SetFileSize(sessionID, stored, count, algorithm);
  CopyContent(sessionID, const_cast<std::uint8_t*>(content), stored, true, true);
}

void TNRDInternalDBTransactedAccessFile::InitFileHeader(std::int32_t sessionID) {
  if (FStartPageNo == -1) throw ENRDException(20301, "Invalid page number");
  const bool ignore = LPageManager->IgnoreCRCErrors();
  LPageManager->SetIgnoreCRCErrors(true);
  try {
    PageHolder page(*LPageManager, LPageManager->GetPage(sessionID, FStartPageNo, FPageTypeID));
    page->InitHeader();
    page->PageHeader()->PageType = FPageTypeID;
    std::uint8_t* data = page->PageData();
    data[0] = InternalFileHeaderSize;
    PutI32(data + 1, 0);
    data[9] = acaNone;
  } catch (...) {
    LPageManager->SetIgnoreCRCErrors(ignore);
    throw;
  }
  LPageManager->SetIgnoreCRCErrors(ignore);
}

bool TNRDInternalDBTransactedAccessFile::LockFile() {
  CheckOpened("LockFile");
  return LPageManager->LockPageByte(FStartPageNo, 0);
}

bool TNRDInternalDBTransactedAccessFile::UnlockFile() {
  CheckOpened("UnlockFile");
  return LPageManager->UnlockPageByte(FStartPageNo, 0);
}

// ---------------------------------------------------------------------------------------------
// Direct files

void TNRDInternalDBDirectAccessFile::CheckOpened(const char* operation) const {
  if (FStartPageNo == -1) {
    throw ENRDException(20156, "Cannot perform this operation (%s) on closed internal file", {operation});
  }
}

void TNRDInternalDBDirectAccessFile::CreateFile(std::int32_t size) {
  if (FStartPageNo != -1) {
    throw ENRDException(20157, "Cannot create Internal file. File already exists. StartPageNo=%d", {FStartPageNo});
  }
  const std::int64_t d = LPageManager->PageDataSize();
  const std::int64_t pages = (std::max<std::int64_t>(size, 0) + InternalFileHeaderSize + d - 1) / d;
  TNRDPage* prev = nullptr;
  std::int32_t first = -1;
  try {
    for (std::int64_t i = 0; i < pages; ++i) {
      TNRDPage* page = LPageManager->AddPage(-2, FPageTypeID);
      page->SetEncryptionEnabled(false);
      if (i == 0) {
        first = page->PageNo();
        std::uint8_t* data = page->PageData();
        data[0] = InternalFileHeaderSize;
        PutI32(data + 1, size);
      }
      if (prev != nullptr) {
        prev->PageHeader()->NextPageNo = page->PageNo();
        LPageManager->PutPage(prev);
      }
      prev = page;
    }
  } catch (...) {
    if (prev != nullptr) LPageManager->PutPage(prev);
    throw;
  }
  if (prev != nullptr) LPageManager->PutPage(prev);
  FStartPageNo = first;
  FFileSize = size;
}

std::int32_t TNRDInternalDBDirectAccessFile::ReadNextPageNo(std::int32_t pageNo) {
  // The first byte of a page header may be locked by another process: it is left out.
  std::uint8_t header[39];
  LPageManager->ReadPageRegion(header, pageNo, 1, 39);
  std::uint16_t type = 0;
  std::memcpy(&type, header + 7, 2);
  if (type != FPageTypeID) {
    throw ENRDException(20155, "Invalid PageType found: %d but expecting: %d",
                        {static_cast<int>(type), static_cast<int>(FPageTypeID)});
  }
  return GetI32(header + 9);
}

void TNRDInternalDBDirectAccessFile::OpenFile(std::int32_t startPageNo) {
  FStartPageNo = startPageNo;
  FFilePages.SetSize(0);
  FFileSize = 0;
  if (startPageNo == -1) return;
  std::uint8_t header[InternalFileHeaderSize];
  LPageManager->ReadPageRegion(header, startPageNo, 40, InternalFileHeaderSize);
  const std::int64_t d = LPageManager->PageDataSize();
  const std::int64_t stored = std::max(GetI32(header + 1), 0);
  const std::int64_t wanted = std::min<std::int64_t>((stored + InternalFileHeaderSize + d - 1) / d,
                                                     std::max<std::int32_t>(+LPageManager->DBHeader()->TotalPageCount, 1));
  FFileSize = static_cast<std::int32_t>(stored);
  std::int32_t no = startPageNo;
  for (std::int64_t i = 0; i < wanted && no != -1; ++i) {
    const std::int32_t next = ReadNextPageNo(no);
    FFilePages.Append(no);
    if (i == 0 && next == -1) {
      FFileSize = static_cast<std::int32_t>(d - InternalFileHeaderSize);
      return;
    }
    no = next;
  }
  // A chain shorter than its size says: only the bytes it holds are addressable.
  FFileSize = static_cast<std::int32_t>(
      std::min<std::int64_t>(FFileSize, FFilePages.ItemCount * d - InternalFileHeaderSize));
}

void TNRDInternalDBDirectAccessFile::DeleteFile(std::int32_t startPageNo) {
  if (startPageNo != -1) FStartPageNo = startPageNo;
  std::int32_t no = FStartPageNo;
  std::set<std::int32_t> visited;
  for (std::int32_t links = 0; no != -1; ++links) {
    if (!visited.insert(no).second) RaiseChain(links);
    const std::int32_t next = ReadNextPageNo(no);
    LPageManager->RemovePage(-2, no);
    no = next;
  }
  FStartPageNo = -1;
  FFileSize = 0;
  FFilePages.SetSize(0);
}

std::int32_t TNRDInternalDBDirectAccessFile::GetSize() {
  CheckOpened("GetSize");
  std::uint8_t header[InternalFileHeaderSize];
  LPageManager->ReadPageRegion(header, FStartPageNo, 40, InternalFileHeaderSize);
  return GetI32(header + 1);
}

void TNRDInternalDBDirectAccessFile::Place(std::int32_t p, std::int32_t& pageNo, std::int32_t& pageOffset) const {
  const std::int64_t d = LPageManager->PageDataSize();
  const std::int64_t index = (static_cast<std::int64_t>(p) + InternalFileHeaderSize) / d;
  if (p < 0 || p >= FFileSize || index >= FFilePages.ItemCount) {
    throw ENRDException(20159, "Seek position bigger then file size. FileSize=%d. Position=%d", {FFileSize, p});
  }
  pageNo = FFilePages[static_cast<std::int32_t>(index)];
  pageOffset = static_cast<std::int32_t>(40 + (static_cast<std::int64_t>(p) + InternalFileHeaderSize) % d);
}

void TNRDInternalDBDirectAccessFile::Transfer(std::uint8_t* buffer, std::int32_t count, std::int32_t position, bool write) {
  if (count <= 0) return;
  std::int32_t pageNo = 0, offset = 0;
  Place(position, pageNo, offset);
  const std::int32_t pageSize = LPageManager->PageSize();
  std::int32_t done = 0;
  for (std::int32_t pages = 0; pageNo != -1 && done < count; ++pages) {
    if (pages > FFilePages.ItemCount) RaiseChain(pages);
    const std::int32_t next = ReadNextPageNo(pageNo);
    const std::int32_t n = std::min(pageSize - offset, count - done);
    if (write) {
      LPageManager->WritePageRegion(buffer + done, pageNo, static_cast<std::uint16_t>(offset), static_cast<std::uint16_t>(n));
    } else {
      LPageManager->ReadPageRegion(buffer + done, pageNo, static_cast<std::uint16_t>(offset), static_cast<std::uint16_t>(n));
    }
    done += n;
    pageNo = next;
    offset = 40;
  }
}

void TNRDInternalDBDirectAccessFile::ReadBuffer(void* buffer, std::int32_t count, std::int32_t position) {
  CheckOpened("DirectReadBuffer");
  Transfer(static_cast<std::uint8_t*>(buffer), count, position, false);
}

void TNRDInternalDBDirectAccessFile::WriteBuffer(const void* buffer, std::int32_t count, std::int32_t position) {
  CheckOpened("DirectWriteBuffer");
  if (static_cast<std::int64_t>(position) + count > FFileSize) {
    throw ENRDException(20158, "Cannot write after end of file. FileSize=%d. Position=%d, Count=%d",
                        {FFileSize, position, count});
  }
  Transfer(static_cast<std::uint8_t*>(const_cast<void*>(buffer)), count, position, true);
}

bool TNRDInternalDBDirectAccessFile::LockFile() {
  CheckOpened("LockFile");
  return LPageManager->LockPageByte(FStartPageNo, 0);
}

bool TNRDInternalDBDirectAccessFile::UnlockFile() {
  CheckOpened("UnlockFile");
  return LPageManager->UnlockPageByte(FStartPageNo, 0);
}

bool TNRDInternalDBDirectAccessFile::LockByte(std::int32_t byteNo) {
  CheckOpened("LockByte");
  std::int32_t pageNo = 0, offset = 0;
  Place(byteNo, pageNo, offset);
  return LPageManager->LockPageByte(pageNo, offset);
}

bool TNRDInternalDBDirectAccessFile::UnlockByte(std::int32_t byteNo) {
  CheckOpened("UnlockByte");
  std::int32_t pageNo = 0, offset = 0;
  Place(byteNo, pageNo, offset);
  return LPageManager->UnlockPageByte(pageNo, offset);
}

bool TNRDInternalDBDirectAccessFile::IsByteLocked(std::int32_t byteNo) {
  CheckOpened("IsByteLocked");
  std::int32_t pageNo = 0, offset = 0;
  Place(byteNo, pageNo, offset);
  return LPageManager->IsPageByteLocked(pageNo, offset);
}

bool TNRDInternalDBDirectAccessFile::IsRegionLocked(std::int32_t byteNo, std::int32_t byteCount) {
  CheckOpened("IsRegionLocked");
  if (byteCount <= 0) return false;
  const std::int64_t d = LPageManager->PageDataSize();
  const std::int32_t pageSize = LPageManager->PageSize();
  std::int32_t firstPage = 0, firstOffset = 0, lastPage = 0, lastOffset = 0;
  Place(byteNo, firstPage, firstOffset);
  Place(byteNo + byteCount - 1, lastPage, lastOffset);
  if (firstPage == lastPage) return LPageManager->IsPageRegionLocked(firstPage, firstOffset, byteCount);
  const std::int64_t firstIndex = (static_cast<std::int64_t>(byteNo) + InternalFileHeaderSize) / d;
  const std::int64_t lastIndex = (static_cast<std::int64_t>(byteNo) + byteCount - 1 + InternalFileHeaderSize) / d;
  for (std::int64_t i = firstIndex; i <= lastIndex; ++i) {
    const std::int32_t pageNo = FFilePages[static_cast<std::int32_t>(i)];
    const std::int32_t from = i == firstIndex ? firstOffset : 40;
    const std::int32_t to = i == lastIndex ? lastOffset + 1 : pageSize;
    if (LPageManager->IsPageRegionLocked(pageNo, from, to - from)) return true;
  }
  return false;
}

}  // namespace nrd
