#include "engine/storage/NRDBTreeCheck.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDStreams.h"
#include "engine/storage/NRDBTreePage.h"
#include "engine/storage/NRDDatabaseData.h"
#include "engine/storage/NRDDiskPageManager.h"
#include "engine/storage/NRDFieldManager.h"
#include "engine/storage/NRDInternalFiles.h"
#include "engine/storage/NRDMetadata.h"
#include "engine/storage/NRDPageIndex.h"
#include "engine/storage/NRDSystemFiles.h"
#include "engine/storage/NRDTableData.h"

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

// The whole content of a transacted internal file.
std::vector<std::uint8_t> ReadInternalFile(TNRDDiskPageManager& pm, std::int32_t sessionID, std::int32_t startPageNo,
                                           std::uint16_t pageType) {
  TNRDInternalDBTransactedAccessFile file(&pm, pageType);
  file.OpenFile(startPageNo);
  std::int32_t size = 0, plain = 0;
  TNRDCompressionAlgorithm algorithm = acaNone;
  bool changed = false;
  file.GetFileSize(sessionID, size, plain, algorithm, changed, false);
  std::vector<std::uint8_t> content(static_cast<std::size_t>(std::max(plain, 0)));
  if (plain > 0) file.ReadFile(sessionID, content.data(), plain, false);
  return content;
}

std::string CheckTree(TNRDPageManager& pm, TNRDBTreeKeyRef& keyRef, std::int32_t rootPageNo, std::int32_t sessionID) {
  try {
    if (rootPageNo < 0) throw ENRDException(20119, "Invalid page number");
    TNRDKeyPath path;
    TNRDBTreePage root(&pm, &keyRef);
    root.Get(sessionID, rootPageNo);
    if (!root.IsRoot()) throw ENRDException(20020, "Internal index error");
    root.Controller().CheckIntegrity(sessionID, path);
    return "ok";
  } catch (const std::exception& e) {
    return std::string("damaged: ") + e.what();
  }
}

// One table: its record count and every index. False when something is damaged.
bool CheckTable(TNRDDiskPageManager& pm, const TNRDTableListItem& item, std::ostream& out, std::int32_t sessionID) {
  TNRDDatabaseData database;
  auto* table = new TNRDTableData(&database);  // owned by the database object
  TNRDIndexDefs indexDefs;
  std::int32_t recordPageIndexRoot = -1;
  std::int32_t blobPageIndexRoot = -1;
  std::int64_t recordCount = 0;
  try {
    std::vector<std::uint8_t> meta = ReadInternalFile(pm, sessionID, item.MetaDataFilePageNo, ptTableMetaData);
    TNRDMemoryStream stream;
    stream.SetSize(static_cast<std::int64_t>(meta.size()));
    if (!meta.empty()) std::memcpy(stream.Buffer(), meta.data(), meta.size());
    stream.SetPosition(0);
    table->FFieldManager = std::make_unique<TNRDBaseFieldManager>(table);
    table->FFieldManager->LoadMetadata(stream);
    indexDefs.LoadFromStream(stream);
    TNRDConstraintDefs constraints;
    constraints.LoadFromStream(stream);
    std::uint8_t roots[8] = {};
    if (stream.Read(roots, 8) != 8) throw ENRDException(20164, "Invalid table header data");
    recordPageIndexRoot = static_cast<std::int32_t>(GetLE32(roots));
    blobPageIndexRoot = static_cast<std::int32_t>(GetLE32(roots + 4));
    std::vector<std::uint8_t> most = ReadInternalFile(pm, sessionID, item.MostUpdatedFilePageNo, ptTableMostUpdated);
    const std::int64_t n = most.size() >= 4 ? static_cast<std::int32_t>(GetLE32(most.data())) : -1;
    if (n < 0 || static_cast<std::int64_t>(most.size()) < 12 + 8 * n)
      throw ENRDException(20164, "Invalid table header data");
    recordCount = static_cast<std::int32_t>(GetLE32(most.data() + 8 + 8 * n));
  } catch (const std::exception& e) {
    out << "table " << item.TableName << " damaged: " << e.what() << "\n";
    return false;
  }
  out << "table " << item.TableName << " records " << recordCount << "\n";
  bool sound = true;
  auto report = [&](const std::string& name, const std::string& result) {
    out << "index " << item.TableName << "." << name << " " << result << "\n";
    sound = sound && result == "ok";
  };
  for (std::int32_t i = 0; i < indexDefs.GetCount(); ++i) {
    const TNRDIndexDef& def = *indexDefs.GetIndexDef(i);
    std::string result;
    try {
      TNRDRecordKeyRef keyRef;
      keyRef.Assign(def, table);
      keyRef.SetReferenceSize(6);
      result = CheckTree(pm, keyRef, def.FRootPageNo, sessionID);
    } catch (const std::exception& e) {
      result = std::string("damaged: ") + e.what();
    }
    report(def.FName, result);
  }
  TNRDPageKeyRef pageKeys;
  report("RecordPageIndex", CheckTree(pm, pageKeys, recordPageIndexRoot, sessionID));
  if (blobPageIndexRoot != -1) report("BlobPageIndex", CheckTree(pm, pageKeys, blobPageIndexRoot, sessionID));
  return sound;
}

}  // namespace

bool CheckDatabaseIndexes(TNRDDiskPageManager& pm, std::ostream& out, std::int32_t sessionID) {
  std::vector<TNRDTableListItem> tables;
  try {
    TNRDSystemDirectory directory(&pm);
    directory.LoadDirectory();
    TNRDTableListFile list(&pm);
    list.OpenFile(directory.GetFileFirstPageNo(dbftTablesList));
    list.Load();
    tables = list.Items();
  } catch (const std::exception&) {
    // No table list: a bare page file.
    try {
      pm.CancelChanges(sessionID);
      pm.CancelChanges(-2);
    } catch (const std::exception&) {
    }
    return CheckIndexTreeRoots(pm, out, sessionID);
  }
  bool sound = true;
  for (const TNRDTableListItem& item : tables) sound = CheckTable(pm, item, out, sessionID) && sound;
  try {
    pm.CancelChanges(sessionID);
    pm.CancelChanges(-2);
  } catch (const std::exception&) {
  }
  out << (sound ? "ok" : "damaged") << "\n";
  return sound;
}

bool CheckIndexTreeRoots(TNRDPageManager& pm, std::ostream& out, std::int32_t sessionID) {
  bool damaged = false;
  std::vector<std::int32_t> roots;
  std::vector<std::uint16_t> keySizes;
  const std::int32_t pageCount = pm.GetPageCount();
  for (std::int32_t no = 0; no < pageCount; ++no) {
    try {
      TNRDPage* page = pm.GetPage(sessionID, no, AnyPageType, false);
      const std::uint8_t* data = page->PageData();
      const bool isIndexRoot = page->PageHeader()->PageType == ptTableIndex &&
                               page->PageHeader()->State != PageStateRemoved && data[0] == 1;
      const std::uint16_t keySize = GetLE16(data + 12);
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
