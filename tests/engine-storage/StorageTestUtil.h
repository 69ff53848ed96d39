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
