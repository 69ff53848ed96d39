// The table check of the nrd-check tool.
#include "engine/storage/NRDTableCheck.h"

#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDStreams.h"
#include "engine/storage/NRDBlobPages.h"
#include "engine/storage/NRDDiskPageManager.h"
#include "engine/storage/NRDFieldManager.h"
#include "engine/storage/NRDFreeSpace.h"
#include "engine/storage/NRDInternalFiles.h"
#include "engine/storage/NRDMetadata.h"
#include "engine/storage/NRDPageIndex.h"
#include "engine/storage/NRDRecordPages.h"
#include "engine/storage/NRDSystemFiles.h"

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
            if (rp.IsSlotUsed(s)) ids.push_back(TNRDPageItemID{pageNo, static_cast<std::uint16_t>(s)});
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
    return "ok (" + std::to_string(records) + " records, " + std::to_string(values) + " BLOB values)";
  }
};

}  // namespace

bool CheckDatabaseTables(TNRDDiskPageManager& pm, std::ostream& out, std::int32_t sessionID) {
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
  // Free space: every used page is owned, no owned page is free. Free space map and index pages
  // are known by their type.
  std::int64_t used = 0;
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
    std::uint16_t type = 0;
    try {
      TNRDPage* page = pm.GetPage(sessionID, p, AnyPageType, false);
      type = page->PageHeader()->PageType;
      pm.PutPage(page);
    } catch (const std::exception&) {
    }
    if (type != ptEAM && type != ptPFS && type != ptTableIndex)
      c.pageProblems.push_back("page " + std::to_string(p) + " is used but belongs to nothing (type " +
                               std::to_string(type) + ")");
  }
  if (c.pageProblems.empty()) {
    out << "pages ok (" << used << " used)\n";
  } else {
    sound = false;
    out << "pages damaged:";
    for (std::size_t i = 0; i < c.pageProblems.size() && i < 20; ++i) out << " " << c.pageProblems[i] << ";";
    out << "\n";
  }
  try {
    pm.CancelChanges(sessionID);
  } catch (const std::exception&) {
  }
  return sound;
}

}  // namespace nrd
