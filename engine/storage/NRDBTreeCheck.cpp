#include "engine/storage/NRDBTreeCheck.h"

#include <exception>
#include <string>
#include <vector>

#include "engine/storage/NRDBTreePage.h"
#include "engine/storage/NRDPageIndex.h"

namespace nrd {

namespace {

// Keys of unknown layout: every pair compares equal, so the check looks at structure only.
class TStructureKeyRef : public TNRDBTreeKeyRef {
 public:
  TStructureKeyRef(std::int32_t shortKeySize, std::uint16_t referenceSize) {
    FShortKeySize = shortKeySize;
    FFullKeySize = shortKeySize + 1;  // parts count as cut: equal neighbours are allowed
    FReferenceSize = referenceSize;
  }
  int CompareShortKeys(std::uint8_t*, const std::uint8_t*, bool, std::int32_t, const std::uint8_t*,
                       const std::uint8_t*) override {
    return 0;
  }
  int CompareFullKeys(const std::uint8_t*, const std::uint8_t*) override { return 0; }
};

}  // namespace

bool CheckDatabaseIndexes(TNRDPageManager& pm, std::ostream& out, std::int32_t sessionID) {
  bool damaged = false;
  std::vector<std::int32_t> roots;
  std::vector<std::uint16_t> keySizes;
  const std::int32_t pageCount = pm.GetPageCount();
  for (std::int32_t no = 0; no < pageCount; ++no) {
    try {
      TNRDPage* page = pm.GetPage(sessionID, no, AnyPageType, false);
      const std::uint8_t* data = page->PageData();
      const bool isIndexRoot = page->PageHeader()->PageType == kIndexPageType &&
                               page->PageHeader()->State != PageStateRemoved && data[0] == 1;
      const auto keySize = static_cast<std::uint16_t>(data[12] | data[13] << 8);
      pm.PutPage(page);
      if (isIndexRoot) {
        roots.push_back(no);
        keySizes.push_back(keySize);
      }
    } catch (const std::exception&) {
      // Free and unreadable pages hold no tree root.
    }
  }
  for (std::size_t i = 0; i < roots.size(); ++i) {
    std::string result = "ok";
    try {
      if (keySizes[i] == 4) {
        TNRDBTreeRecordPageIndex index(&pm);
        index.OpenIndex(roots[i]);
        index.CheckIntegrity(sessionID);
      } else {
        TStructureKeyRef keyRef(keySizes[i], 6);
        TNRDKeyPath path;
        TNRDBTreePage page(&pm, &keyRef);
        page.Get(sessionID, roots[i]);
        page.Controller().CheckIntegrity(sessionID, path);
      }
    } catch (const std::exception& e) {
      result = std::string("damaged: ") + e.what();
      damaged = true;
    }
    out << "index #" << roots[i] << " " << result << "\n";
  }
  try {
    pm.CancelChanges(sessionID);
  } catch (const std::exception&) {
  }
  out << (damaged ? "damaged" : "ok") << "\n";
  return !damaged;
}

}  // namespace nrd
