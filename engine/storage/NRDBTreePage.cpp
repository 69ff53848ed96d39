#include "engine/storage/NRDBTreePage.h"

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDPageTypes.h"

namespace nrd {

TNRDBTreePage::~TNRDBTreePage() {
  try {
    Put();
  } catch (...) {
  }
}

void TNRDBTreePage::Get(std::int32_t sessionID, std::int32_t pageNo) {
  Put();
  LPage = LPageManager->GetPage(sessionID, pageNo, ptTableIndex, true);
  try {
    CheckHeader();
  } catch (...) {
    Put();
    throw;
  }
}

void TNRDBTreePage::Add(std::int32_t sessionID) {
  Put();
  LPage = LPageManager->AddPage(sessionID, ptTableIndex);
  Init();
}

void TNRDBTreePage::Put() {
  if (LPage == nullptr) return;
  TNRDPage* page = LPage;
  LPage = nullptr;
  LPageManager->PutPage(page);
}

void TNRDBTreePage::CheckHeader() const {
  const std::int32_t entrySize = EntrySize();
  const bool sound = KeyPrefixSize() == LKeyRef->ShortKeySize() && !HasSuffixes() && PagePrefixSize() == 0 &&
                     EntriesOffset() + static_cast<std::int64_t>(EntryCount()) * entrySize <= PageDataSize();
  if (!sound) throw ENRDException(20020, "Internal index error");
}

void TNRDBTreePage::Init() {
  SetIsRoot(false);
  SetIsLeaf(false);
  SetLeftPageNo(-1);
  SetRightPageNo(-1);
  SetHasKeys(false);
  SetHasSuffixes(false);
  SetKeyPrefixSize(0);
  SetEntryCount(0);
  SetPagePrefixSize(0);
}

void TNRDBTreePage::InitAsRoot() {
  Init();
  SetIsRoot(true);
  SetIsLeaf(true);
  SetHasKeys(true);
  SetKeyPrefixSize(static_cast<std::uint16_t>(LKeyRef->ShortKeySize()));
}

void TNRDBTreePage::CopyFrom(const TNRDBTreePage& source, std::int32_t startNo, std::int32_t count) {
  std::memmove(D(), source.D(), static_cast<std::size_t>(source.EntriesOffset()));
  const std::int32_t e = source.EntrySize();
  std::memmove(GetPKey(0), source.GetPKey(startNo), static_cast<std::size_t>(count * e));
  SetEntryCount(count);
}

void TNRDBTreePage::AppendFrom(const TNRDBTreePage& source, std::int32_t startNo, std::int32_t count) {
  const std::int32_t n = EntryCount();
  std::memmove(GetPKey(n), source.GetPKey(startNo), static_cast<std::size_t>(count * EntrySize()));
  SetEntryCount(n + count);
}

void TNRDBTreePage::InsertFrom(const TNRDBTreePage& source, std::int32_t startNo, std::int32_t count) {
  const std::int32_t n = EntryCount();
  const std::int32_t e = EntrySize();
  std::memmove(GetPKey(count), GetPKey(0), static_cast<std::size_t>(n * e));
  std::memmove(GetPKey(0), source.GetPKey(startNo), static_cast<std::size_t>(count * e));
  SetEntryCount(n + count);
}

void TNRDBTreePage::InsertNodeEntry(std::int32_t sessionID, const std::uint8_t* key, const std::uint8_t* reference,
                                    TNRDKeyPath& keyPath) {
  if (IsLeaf()) throw ENRDException(20020, "Internal index error");
  FNodeController.InsertNodeEntry(sessionID, key, reference, keyPath);
}

void TNRDBTreePage::DeleteNodeEntry(std::int32_t sessionID, TNRDKeyPath& keyPath, bool mergeWithLeft,
                                    const std::uint8_t* movedFirstKey) {
  if (IsLeaf()) throw ENRDException(20024, "Internal index error");
  FNodeController.DeleteNodeEntry(sessionID, keyPath, mergeWithLeft, movedFirstKey);
}

}  // namespace nrd
