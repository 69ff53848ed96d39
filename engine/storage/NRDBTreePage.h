// B-tree index pages (page type ptTableIndex, "TableIndex Page"): the header, entry addressing and block copies of entries.
//
// Data area layout (from the first byte after the page header; little-endian):
//   0   1  IsRoot          1 on the root page of a tree
//   1   1  IsLeaf          1 on a leaf, 0 on a node
//   2   4  LeftPageNo      previous page on the same level, -1 for none
//   6   4  RightPageNo     next page on the same level, -1 for none
//  10   1  HasKeys         1 on pages of a tree made by InitAsRoot (written, never tested)
//  11   1  HasSuffixes     always 0
//  12   2  KeyPrefixSize   bytes of key in every entry (the short key size)
//  14   2  EntryCount      entries on the page
//  16   2  PagePrefixSize  always 0
//  18   .  entries         EntryCount fixed-size entries in key order:
//                          key (KeyPrefixSize bytes), then on a leaf the key reference's
//                          ReferenceSize bytes (record ID or page count), on a node the child's
//                          page number (Int32)
//
// A page object is a view over one page of the page manager for one scope: Get or Add takes the
// page, the destructor (or Put) gives it back. Taking a page checks that its header fits the tree
// (key size, entry count within the page); a header that does not raises 20020, so a damaged file
// is an error and never a read out of bounds.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/foundation/NRDByteOrder.h"
#include "engine/storage/NRDBTree.h"
#include "engine/storage/NRDPageManager.h"

namespace nrd {

inline constexpr std::int32_t kIndexPageHeaderSize = 18;

class TNRDBTreePage : public TNRDPageController {
 public:
  TNRDBTreePage(TNRDPageManager* pageManager, TNRDBTreeKeyRef* keyRef)
      : TNRDPageController(nullptr), LKeyRef(keyRef), LPageManager(pageManager), FLeafController(this),
        FNodeController(this) {}
  ~TNRDBTreePage() override;
  TNRDBTreePage(const TNRDBTreePage&) = delete;
  TNRDBTreePage& operator=(const TNRDBTreePage&) = delete;

  // Takes an existing index page (20020 when its header does not fit this tree).
  void Get(std::int32_t sessionID, std::int32_t pageNo);
  // Takes a new index page and clears its header (Init).
  void Add(std::int32_t sessionID);
  // Gives the page back (no-op without one).
  void Put();
  bool Taken() const { return LPage != nullptr; }
  static void RemoveIndexPage(TNRDPageManager* pageManager, std::int32_t sessionID, std::int32_t pageNo) {
    pageManager->RemovePage(sessionID, pageNo);
  }

  void Init();
  void InitAsRoot();

  bool IsRoot() const { return D()[0] != 0; }
  void SetIsRoot(bool v) { D()[0] = v ? 1 : 0; }
  bool IsLeaf() const { return D()[1] != 0; }
  void SetIsLeaf(bool v) { D()[1] = v ? 1 : 0; }
  std::int32_t LeftPageNo() const { return static_cast<std::int32_t>(GetLE32(D() + 2)); }
  void SetLeftPageNo(std::int32_t v) { PutLE32(D() + 2, static_cast<std::uint32_t>(v)); }
  std::int32_t RightPageNo() const { return static_cast<std::int32_t>(GetLE32(D() + 6)); }
  void SetRightPageNo(std::int32_t v) { PutLE32(D() + 6, static_cast<std::uint32_t>(v)); }
  bool HasKeys() const { return D()[10] != 0; }
  void SetHasKeys(bool v) { D()[10] = v ? 1 : 0; }
  bool HasSuffixes() const { return D()[11] != 0; }
  void SetHasSuffixes(bool v) { D()[11] = v ? 1 : 0; }
  std::uint16_t KeyPrefixSize() const { return Get16(12); }
  void SetKeyPrefixSize(std::uint16_t v) { Put16(12, v); }
  std::int32_t EntryCount() const { return Get16(14); }
  void SetEntryCount(std::int32_t v) { Put16(14, static_cast<std::uint16_t>(v)); }
  std::uint16_t PagePrefixSize() const { return Get16(16); }
  void SetPagePrefixSize(std::uint16_t v) { Put16(16, v); }

  std::int32_t ReferenceSize() const { return IsLeaf() ? LKeyRef->ReferenceSize() : 4; }
  std::int32_t EntrySize() const {
    return KeyPrefixSize() + ReferenceSize() + (HasSuffixes() ? SuffixPtrSize() : 0);
  }
  std::int32_t EntriesOffset() const { return kIndexPageHeaderSize + PagePrefixSize(); }
  static constexpr std::int32_t SuffixPtrSize() { return 6; }

  std::uint8_t* GetPKey(std::int32_t keyPosition) const {
    return D() + EntriesOffset() + keyPosition * EntrySize();
  }
  std::uint8_t* GetPReference(std::int32_t refPosition) const { return GetPKey(refPosition) + KeyPrefixSize(); }
  void UpdateKey(std::int32_t position, const std::uint8_t* key) {
    std::memcpy(GetPKey(position), key, KeyPrefixSize());
  }
  void UpdateReference(std::int32_t position, const std::uint8_t* reference) {
    std::memcpy(GetPReference(position), reference, static_cast<std::size_t>(ReferenceSize()));
  }
  // Child page number stored in a node entry.
  std::int32_t ChildPageNo(std::int32_t entryNo) const {
    return static_cast<std::int32_t>(GetLE32(GetPReference(entryNo)));
  }

  void CopyFrom(const TNRDBTreePage& source, std::int32_t startNo, std::int32_t count);
  void AppendFrom(const TNRDBTreePage& source, std::int32_t startNo, std::int32_t count);
  void InsertFrom(const TNRDBTreePage& source, std::int32_t startNo, std::int32_t count);

  TNRDBTreePageController& Controller() {
    return IsLeaf() ? static_cast<TNRDBTreePageController&>(FLeafController) : FNodeController;
  }
  TNRDBTreeNodeController& NodeController() { return FNodeController; }
  // Node-only operations; 20020 / 20024 on a leaf.
  void InsertNodeEntry(std::int32_t sessionID, const std::uint8_t* key, const std::uint8_t* reference,
                       TNRDKeyPath& keyPath);
  void DeleteNodeEntry(std::int32_t sessionID, TNRDKeyPath& keyPath, bool mergeWithLeft,
                       const std::uint8_t* movedFirstKey = nullptr);
  // False at once on a page without entries.
  bool FindByCondition(std::int32_t sessionID, bool first, std::uint8_t* key, TNRDSearchCondition op,
                       TNRDKeyPath& position) {
    if (EntryCount() == 0) return false;
    return Controller().FindByCondition(sessionID, first, key, op, position);
  }
  std::int32_t PageDataSize() const { return LPageManager->PageDataSize(); }
  // 20020 when the header does not describe a page of this tree.
  void CheckHeader() const;

  TNRDBTreeKeyRef* LKeyRef;
  TNRDPageManager* LPageManager;

 private:
  // Read through on every use: the buffer moves when a page is enlarged, possibly through another
  // view of the same page.
  std::uint8_t* D() const { return LPage->PageBuffer() + LPageManager->PageHeaderSize(); }
  std::uint16_t Get16(int offset) const { return GetLE16(D() + offset); }
  void Put16(int offset, std::uint16_t v) { PutLE16(D() + offset, v); }

  TNRDBTreeLeafController FLeafController;
  TNRDBTreeNodeController FNodeController;
};

}  // namespace nrd
