// The table check of the nrd-check tool.
#include "engine/storage/NRDTableCheck.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDStreams.h"
#include "engine/storage/NRDBTreeKeys.h"
#include "engine/storage/NRDBlobPages.h"
#include "engine/storage/NRDDatabaseData.h"
#include "engine/storage/NRDDiskPageManager.h"
#include "engine/storage/NRDFieldManager.h"
#include "engine/storage/NRDFreeSpace.h"
#include "engine/storage/NRDInternalFiles.h"
#include "engine/storage/NRDMetadata.h"
#include "engine/storage/NRDPageIndex.h"
#include "engine/storage/NRDRecordPages.h"
#include "engine/storage/NRDSystemFiles.h"
#include "engine/storage/NRDTableData.h"

namespace nrd {

namespace {

struct Checker {
  TNRDDiskPageManager& pm;
  std::int32_t session;
  std::map<std::int32_t, std::string> owner;
  std::vector<std::string> pageProblems;

  void Own(std::int32_t page, const std::string& what) {
    auto [it, fresh] = owner.emplace(page, what);
    if (!fresh && it->second != what)
      pageProblems.push_back("page " + std::to_string(page) + " belongs to " + it->second + " and to " + what);
  }

  // The pages of a transacted internal file: its chain from the first page.
  void OwnChain(std::int32_t start, const std::string& what) {
    std::int32_t p = start;
    std::set<std::int32_t> seen;
    while (p >= 0 && seen.insert(p).second) {
      Own(p, what);
      TNRDPage* page = pm.GetPage(session, p, AnyPageType, false);
      const std::int32_t next = page->PageHeader()->NextPageNo;
      pm.PutPage(page);
      p = next;
    }
    if (p >= 0) throw ENRDException(20162, "chain of %s loops at page %d", {what, p});
  }

  void OwnDirect(std::int32_t start, std::uint16_t type, const std::string& what) {
    TNRDInternalDBDirectAccessFile f(&pm, type);
    f.OpenFile(start);
    for (std::int32_t i = 0; i < f.FilePages().ItemCount; ++i) Own(f.FilePages()[i], what);
  }

  // A B-tree from its root: every page is owned and must be an index page whose entries fit it;
  // leaf entries (key, reference) go to `leaf` in key order.
  void OwnTree(std::int32_t root, std::int32_t referenceSize, const std::string& what,
               const std::function<void(const std::uint8_t*, const std::uint8_t*)>& leaf = {}) {
    std::set<std::int32_t> seen;
    std::function<void(std::int32_t, int)> walk = [&](std::int32_t pageNo, int depth) {
      if (depth > 40 || !seen.insert(pageNo).second)
        throw ENRDException(20020, "%s: page %d is reached twice or the tree is too deep", {what, pageNo});
      Own(pageNo, what);
      TNRDPage* page = pm.GetPage(session, pageNo, ptTableIndex, false);
      std::vector<std::uint8_t> data(page->PageData(), page->PageData() + page->PageDataSize());
      const bool removed = page->PageHeader()->State == PageStateRemoved;
      pm.PutPage(page);
      const std::uint8_t* d = data.data();
      const bool isLeaf = d[1] != 0;
      const std::int32_t keySize = GetLE16(d + 12);
      const std::int32_t count = GetLE16(d + 14);
      const std::int32_t entriesAt = 18 + GetLE16(d + 16);
      const std::int32_t entrySize = keySize + (isLeaf ? referenceSize : 4) + (d[11] != 0 ? 6 : 0);
      if (removed || entrySize <= 0 || entriesAt + static_cast<std::int64_t>(count) * entrySize > static_cast<std::int64_t>(data.size()))
        throw ENRDException(20020, "%s: index page %d fails its page check", {what, pageNo});
      for (std::int32_t i = 0; i < count; ++i) {
        const std::uint8_t* e = d + entriesAt + i * entrySize;
        if (isLeaf) {
          if (leaf) leaf(e, e + keySize);
        } else {
          walk(static_cast<std::int32_t>(GetLE32(e + keySize)), depth + 1);
        }
      }
    };
    if (root < 0) throw ENRDException(20119, "%s: no root page", {what});
    walk(root, 0);
  }

  std::vector<std::uint8_t> ReadTransacted(std::int32_t start, std::uint16_t type) {
    TNRDInternalDBTransactedAccessFile f(&pm, type);
    f.OpenFile(start);
    std::int32_t size = 0, plain = 0;
    TNRDCompressionAlgorithm alg = acaNone;
    bool changed = false;
    f.GetFileSize(session, size, plain, alg, changed, false);
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(plain));
    if (plain > 0) f.ReadFile(session, buf.data(), plain, false);
    return buf;
  }

  // One table; throws with the first damage found.
  std::string CheckTable(const TNRDTableListItem& t) {
    const std::string tag = "table " + t.TableName;
    OwnChain(t.MetaDataFilePageNo, tag + " metadata");
    OwnChain(t.MostUpdatedFilePageNo, tag + " most-updated data");
    OwnDirect(t.LocksFilePageNo, ptTableLocks, tag + " locks");
    std::vector<std::uint8_t> meta = ReadTransacted(t.MetaDataFilePageNo, ptTableMetaData);
    TNRDMemoryStream stream;
    if (!meta.empty()) WriteDataToStream(meta.data(), static_cast<std::int32_t>(meta.size()), stream, 20164);
    stream.SetPosition(0);
    TNRDBaseFieldManager fields(nullptr);
    fields.LoadMetadata(stream);
    TNRDIndexDefs indexes;
    indexes.LoadFromStream(stream);
    TNRDConstraintDefs constraints;
    constraints.LoadFromStream(stream);
    std::uint8_t b[8];
    ReadDataFromStream(b, 8, stream, 20164);
    const std::int32_t recordRoot = static_cast<std::int32_t>(GetLE32(b));
    const std::int32_t blobRoot = static_cast<std::int32_t>(GetLE32(b + 4));
    std::vector<std::uint8_t> most = ReadTransacted(t.MostUpdatedFilePageNo, ptTableMostUpdated);
    std::int32_t offset = 0;
    fields.LoadMostUpdated(most.data(), static_cast<std::int32_t>(most.size()), offset);
    if (offset + 8 > static_cast<std::int32_t>(most.size())) throw ENRDException(20164, "Invalid table header data");
    const std::uint32_t storedCount = GetLE32(most.data() + offset + 4);

    const std::int32_t diskSize = fields.FFieldDefs.GetDiskRecordBufferSize();
    const std::int32_t memSize = fields.FFieldDefs.GetMemoryRecordBufferSize();
    const std::int32_t slots = RecordSlotsPerPage(pm.PageDataSize(), diskSize);
    TNRDBTreeRecordPageIndex rpi(&pm);
    rpi.OpenIndex(recordRoot);
    rpi.FMaxRecordsOnPage = slots;
    rpi.CheckIntegrity(session);
    std::vector<std::int32_t> blobFields;
    for (std::int32_t i = 0; i < fields.FFieldDefs.GetCount(); ++i)
      if (fields.FFieldDefs.GetFieldDef(i)->IsBlob()) blobFields.push_back(i);
    TNRDDiskBlobManager blobs(&pm, &fields, nullptr);
    std::map<std::int32_t, std::int64_t> allocated;  // shared BLOB page -> bytes of its entries
    std::set<std::uint64_t> recordIDs;
    std::int64_t records = 0, values = 0;
    std::vector<std::uint8_t> disk(static_cast<std::size_t>(diskSize)), mem(static_cast<std::size_t>(memSize));
    std::int32_t pageNo = -1;
    if (rpi.GetFirstRecordPage(session, pageNo)) {
      do {
        TNRDKeyPath pos;
        if (!rpi.FindPageEntry(session, pageNo, pos)) throw ENRDException(20292, "record page %d not in its index", {pageNo});
        const std::int32_t inIndex = rpi.GetCountAtPosition(session, pos);
        TNRDPage* page = pm.GetPage(session, pageNo, AnyPageType, false);
        std::vector<TNRDPageItemID> ids;
        try {
          const TNRDDiskPageHeader* h = page->PageHeader();
          if (h->PageType != ptTableRecord || h->ObjectID != t.TableID || h->State == PageStateRemoved)
            throw ENRDException(20153, "page %d is not a record page of the table (type %d, owner %d)",
                                {pageNo, static_cast<int>(h->PageType), h->ObjectID});
          TNRDSmallRecordPage rp(page, diskSize, slots);
          const std::int64_t onPage = rp.GetRecordCount();
          if (onPage != inIndex)
            throw ENRDException(20292, "record page %d holds %d records, its index says %d",
                                {pageNo, onPage, static_cast<std::int64_t>(inIndex)});
          records += onPage;
          for (std::int32_t s = 0; s < slots; ++s)
            if (rp.IsSlotUsed(s)) {
              ids.push_back(TNRDPageItemID{pageNo, static_cast<std::uint16_t>(s)});
              recordIDs.insert(RecordKey(ids.back()));
            }
          for (const TNRDPageItemID& id : ids) {
            if (blobFields.empty()) break;
            rp.GetRecordBuffer(id, disk.data());
            fields.DiskRecordBufferToMemRecordBuffer(disk.data(), mem.data());
            for (std::int32_t f : blobFields) {
              if (IsFieldNull(mem.data(), f)) continue;
              const TNRDPageItemID ref = TNRDDiskBlobManager::GetReference(mem.data(), *fields.FFieldDefs.GetFieldDef(f));
              if (ref.PageNo == 0 || ref.PageNo == -1) continue;
              TNRDDiskBLOBCacheEntry e;
              blobs.LoadValue(session, ref, e);
              const std::int64_t stored = e.BlobData != nullptr ? GlobalMemoryManager().GetMemoryBufferSize(e.BlobData) : 0;
              if (e.BlobData != nullptr) GlobalMemoryManager().FreeMem(e.BlobData);
              if (e.BlobData == nullptr && e.UncompressedSize > 0)
                throw ENRDException(20162, "BLOB value of record %d:%d is missing", {id.PageNo, static_cast<int>(id.PageItemNo)});
              ++values;
              if (ref.PageItemNo == 0xFFFF) {
                std::vector<std::int32_t> data, list;
                std::int64_t size = 0;
                blobs.ChainPages(session, ref.PageNo, data, list, size);
                for (std::int32_t p : data) Own(p, t.TableName + " BLOB chain " + std::to_string(ref.PageNo));
                for (std::int32_t p : list) Own(p, t.TableName + " BLOB chain " + std::to_string(ref.PageNo));
              } else {
                Own(ref.PageNo, t.TableName + " BLOB page");
                allocated[ref.PageNo] += stored + 22;
              }
            }
          }
        } catch (...) {
          pm.PutPage(page);
          throw;
        }
        pm.PutPage(page);
        Own(pageNo, t.TableName + " record page");
      } while (rpi.GetNextRecordPage(session, pageNo, pageNo));
    }
    if (records != storedCount)
      throw ENRDException(20292, "Invalid table RecordPageIndex or MostUpdated. RecordPageIndex.RecordCount=%d, "
                                 "MostUpdated.RecordCount=%d",
                          {records, static_cast<std::int64_t>(storedCount)});
    if (!blobFields.empty() && blobRoot >= 0) {
      TNRDBTreeBlobPageIndex bpi(&pm);
      bpi.OpenIndex(blobRoot);
      bpi.CheckIntegrity(session);
      std::map<std::int32_t, std::int64_t> inIndex;
      TNRDKeyPath pos;
      if (bpi.GetFirstPosition(session, pos)) {
        do inIndex[bpi.GetPageNoAtPosition(session, pos)] = bpi.GetCountAtPosition(session, pos);
        while (bpi.MoveToNextPosition(session, pos));
      }
      if (inIndex != allocated) {
        std::ostringstream why;
        for (const auto& [p, n] : allocated)
          if (inIndex[p] != n) why << " page " << p << " holds " << n << " bytes, its index says " << inIndex[p];
        for (const auto& [p, n] : inIndex)
          if (allocated.find(p) == allocated.end() && n != 0) why << " page " << p << " listed with " << n << " bytes, no value on it";
        throw ENRDException(20290, "BLOB page index:%s", {why.str()});
      }
    }
    TNRDPageKeyRef pageKeys;
    OwnTree(recordRoot, pageKeys.ReferenceSize(), tag + " record page index");
    if (blobRoot >= 0) OwnTree(blobRoot, pageKeys.ReferenceSize(), tag + " BLOB page index");
    CheckIndexEntries(t, meta, indexes, recordIDs, diskSize, slots);
    return "ok (" + std::to_string(records) + " records, " + std::to_string(values) + " BLOB values, " +
           std::to_string(indexes.GetCount()) + " indexes)";
  }

  static std::uint64_t RecordKey(const TNRDPageItemID& id) {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(id.PageNo)) << 16 | id.PageItemNo;
  }

  // Every entry of every index names a record of the table, once, under the key that record has
  // now; every record has its entry.
  void CheckIndexEntries(const TNRDTableListItem& t, const std::vector<std::uint8_t>& meta, const TNRDIndexDefs& indexes,
                         const std::set<std::uint64_t>& recordIDs, std::int32_t diskSize, std::int32_t slots) {
    if (indexes.GetCount() == 0) return;
    TNRDDatabaseData database;
    auto* table = new TNRDTableData(&database);  // owned by the database object
    table->FFieldManager = std::make_unique<TNRDBaseFieldManager>(table);
    TNRDMemoryStream stream;
    WriteDataToStream(meta.data(), static_cast<std::int32_t>(meta.size()), stream, 20164);
    stream.SetPosition(0);
    table->FFieldManager->LoadMetadata(stream);
    TNRDBaseFieldManager& fields = *table->FFieldManager;
    std::vector<std::uint8_t> disk(static_cast<std::size_t>(diskSize));
    std::vector<std::uint8_t> mem(static_cast<std::size_t>(fields.FFieldDefs.GetMemoryRecordBufferSize()));
    for (std::int32_t i = 0; i < indexes.GetCount(); ++i) {
      const TNRDIndexDef& def = *indexes.GetIndexDef(i);
      const std::string what = "table " + t.TableName + " index " + def.FName;
      TNRDRecordKeyRef keyRef;
      keyRef.Assign(def, table);
      keyRef.SetReferenceSize(6);
      std::vector<std::uint8_t> key(static_cast<std::size_t>(keyRef.ShortKeySize()) + 1);
      std::set<std::uint64_t> seen;
      OwnTree(def.FRootPageNo, 6, what, [&](const std::uint8_t* stored, const std::uint8_t* reference) {
        const TNRDPageItemID id{static_cast<std::int32_t>(GetLE32(reference)), GetLE16(reference + 4)};
        const std::uint64_t rk = RecordKey(id);
        if (recordIDs.count(rk) == 0)
          throw ENRDException(20020, "%s: entry for record %d:%d, which does not exist",
                              {what, id.PageNo, static_cast<int>(id.PageItemNo)});
        if (!seen.insert(rk).second)
          throw ENRDException(20020, "%s: record %d:%d has two entries", {what, id.PageNo, static_cast<int>(id.PageItemNo)});
        {
          TNRDPage* page = pm.GetPage(session, id.PageNo, ptTableRecord, false);
          try {
            TNRDSmallRecordPage rp(page, diskSize, slots);
            rp.GetRecordBuffer(id, disk.data());
          } catch (...) {
            pm.PutPage(page);
            throw;
          }
          pm.PutPage(page);
        }
        fields.DiskRecordBufferToMemRecordBuffer(disk.data(), mem.data());
        std::fill(key.begin(), key.end(), 0);
        keyRef.MakeShortKeyFromRecordBuffer(mem.data(), key.data());
        for (const TNRDKeyPart& part : keyRef.Parts) {
          const std::uint8_t* a = stored + part.OffsetInShortKeyBuffer;
          const std::uint8_t* b = key.data() + part.OffsetInShortKeyBuffer;
          const bool same = a[0] == b[0] &&
                            (a[0] != 0 || std::memcmp(a + 1, b + 1, static_cast<std::size_t>(part.ShortSize - 1)) == 0);
          if (!same)
            throw ENRDException(20020, "%s: the key of record %d:%d differs from the record's value",
                                {what, id.PageNo, static_cast<int>(id.PageItemNo)});
        }
      });
      if (seen.size() != recordIDs.size())
        throw ENRDException(20020, "%s: %d entries for %d records",
                            {what, static_cast<std::int64_t>(seen.size()), static_cast<std::int64_t>(recordIDs.size())});
    }
  }
};

}  // namespace

bool CheckDatabaseTables(TNRDDiskPageManager& pm, std::ostream& out, std::int32_t sessionID,
                         std::vector<std::int32_t>* leakedPages) {
  Checker c{pm, sessionID, {}, {}};
  bool sound = true;
  std::vector<TNRDTableListItem> tables;
  try {
    TNRDSystemDirectory dir(&pm);
    dir.LoadDirectory();
    c.OwnChain(SystemDirectoryPageNo, "system directory");
    const std::int32_t sessionsPage = dir.GetFileFirstPageNo(dbftActiveSessionsList);
    const std::int32_t listPage = dir.GetFileFirstPageNo(dbftTablesList);
    c.OwnDirect(sessionsPage, ptActiveSessionList, "sessions file");
    c.OwnChain(listPage, "table list");
    TNRDTableListFile list(&pm);
    list.OpenFile(listPage);
    list.Load();
    tables = list.Items();
  } catch (const std::exception& e) {
    out << "system files damaged: " << e.what() << "\n";
    sound = false;
  }
  for (const TNRDTableListItem& t : tables) {
    try {
      out << "table " << t.TableName << " " << c.CheckTable(t) << "\n";
    } catch (const std::exception& e) {
      out << "table " << t.TableName << " damaged: " << e.what() << "\n";
      sound = false;
    }
  }
  // Free space: every used page is owned, no owned page is free. A used page that nothing owns and
  // that holds no live content (never written, or written as removed) was allocated by a
  // transaction that never committed: it is leaked space, reported apart from damage.
  std::int64_t used = 0;
  std::vector<std::int32_t> leaked;
  TNRDDatabaseFreeSpaceManager* fsm = pm.FreeSpaceManager();
  const std::int32_t count = pm.GetPageCount();
  for (std::int32_t p = 0; fsm != nullptr && p < count; ++p) {
    bool isUsed = false;
    try {
      isUsed = fsm->GetPageUsageFromPFS(p);
    } catch (const std::exception& e) {
      c.pageProblems.push_back("page " + std::to_string(p) + ": " + e.what());
      continue;
    }
    const auto own = c.owner.find(p);
    if (!isUsed) {
      if (own != c.owner.end()) c.pageProblems.push_back("page " + std::to_string(p) + " of " + own->second + " is free");
      continue;
    }
    ++used;
    if (own != c.owner.end() || fsm->IsSystemPage(p)) continue;
    try {
      TNRDPage* page = pm.GetPage(sessionID, p, AnyPageType, false);
      const std::uint16_t type = page->PageHeader()->PageType;
      const bool dead = type == ptUnknown || type == ptEmpty || page->PageHeader()->State == PageStateRemoved;
      pm.PutPage(page);
      if (dead) {
        leaked.push_back(p);
      } else {
        c.pageProblems.push_back("page " + std::to_string(p) + " is used but belongs to nothing (type " +
                                 std::to_string(type) + ")");
      }
    } catch (const std::exception& e) {
      c.pageProblems.push_back("page " + std::to_string(p) + " fails its page check: " + e.what());
    }
  }
  if (c.pageProblems.empty()) {
    out << "pages ok (" << used << " used)\n";
  } else {
    sound = false;
    out << "pages damaged:";
    for (std::size_t i = 0; i < c.pageProblems.size() && i < 20; ++i) out << " " << c.pageProblems[i] << ";";
    out << "\n";
  }
  if (leakedPages != nullptr) *leakedPages = leaked;
  if (!leaked.empty()) {
    out << "leaked pages: " << leaked.size() << " (" << static_cast<std::int64_t>(leaked.size()) * pm.PageSize()
        << " bytes):";
    for (std::size_t i = 0; i < leaked.size() && i < 20; ++i) out << " " << leaked[i];
    out << (leaked.size() > 20 ? " ...\n" : "\n");
  }
  try {
    pm.CancelChanges(sessionID);
  } catch (const std::exception&) {
  }
  return sound;
}

}  // namespace nrd
