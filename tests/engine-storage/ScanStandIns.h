// Small stand-ins for the scan and navigation tests: a table whose records sit in a map (record ID
// PageNo = slot, physical order = slot order, bitmap position = slot), an index that keeps its
// entries in a sorted vector (position = entry number) and counts what it is asked, and an
// AND-of-comparisons expression that offers key conditions for its comparisons as the SQL layer's
// expressions do (column 0 any comparison, later columns only equalities).
// Every field is a non-NULL Integer.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDVariant.h"
#include "engine/storage/NRDCursor.h"
#include "tests/engine-storage/TestCursor.h"
#include "engine/storage/NRDFieldManager.h"
#include "engine/storage/NRDIndexManager.h"
#include "engine/storage/NRDRecordBitmap.h"
#include "engine/storage/NRDSearch.h"
#include "engine/storage/NRDTableData.h"
#include "tests/engine-storage/StorageFakes.h"

namespace scantest {

using namespace nrd;

// The value that stands for NULL in the tests' value lists.
inline constexpr std::int32_t kNull = -1000;

inline std::int32_t FieldOf(const TNRDFieldDefs& defs, const void* record, std::int32_t fieldNo) {
  std::int32_t v = 0;
  GetFieldDataFromBuffer(fieldNo, defs, &v, record);
  return v;
}

// ----- the expression ---------------------------------------------------------------------------------

enum class Op { EQ, LT, GT, LE, GE };

struct Comparison {
  std::int32_t field;
  Op op;
  std::int32_t value;
  bool extracted = false;
};

inline bool Compare(Op op, std::int32_t a, std::int32_t b) {
  switch (op) {
    case Op::EQ: return a == b;
    case Op::LT: return a < b;
    case Op::GT: return a > b;
    case Op::LE: return a <= b;
    case Op::GE: return a >= b;
  }
  return false;
}

class AndExpression : public TNRDExpression, public TNRDScanExpression {
 public:
  AndExpression(const TNRDFieldDefs& fields, std::vector<Comparison> parts, std::int32_t keySize)
      : fields_(fields), parts_(std::move(parts)), keySize_(keySize) {}

  // Every comparison, extracted or not.
  bool Matches(const void* record) const {
    for (const Comparison& c : parts_)
      if (!Holds(c, record)) return false;
    return true;
  }
  // A comparison with NULL is not true.
  bool Holds(const Comparison& c, const void* record) const {
    return !IsFieldNull(record, c.field) && Compare(c.op, FieldOf(fields_, record, c.field), c.value);
  }

  void GetValue(TNRDBaseSession*, TNRDVariant& value) override {
    ++evaluations;
    bool ok = true;
    for (const Comparison& c : parts_)
      if (!c.extracted && !Holds(c, record_)) ok = false;
    value.SetAsBoolean(ok);
  }
  void AssignCursor(TNRDCursor*, void*, TNRDCursor*) override {}
  void AssignCursorBuffer(void* recordBuffer) override { record_ = recordBuffer; }
  bool IsEmpty() const override {
    return std::all_of(parts_.begin(), parts_.end(), [](const Comparison& c) { return c.extracted; });
  }

  void CreateIndexScanConditions(const TNRDIndexDefs& indexDefs, TNRDScanSearchConditionArray& conditions,
                                 std::int32_t) override {
    for (Comparison& c : parts_) {
      if (c.extracted) continue;
      for (std::int32_t i = 0; i < indexDefs.GetCount(); ++i) {
        const TNRDIndexDef& def = *indexDefs.GetIndexDef(i);
        if (def.ColumnCount() == 0 || FieldNo(def.GetIndexColumn(0).FFieldName) != c.field) continue;
        TNRDScanSearchCondition cond;
        cond.IndexID = def.FObjectID;
        cond.Condition = SearchConditionOf(c.op, def.GetIndexColumn(0).FDescending);
        cond.CreatedFromExpression = true;
        std::vector<std::uint8_t> key(static_cast<std::size_t>(keySize_), 0);
        SetFieldDataToBuffer(c.field, fields_, &c.value, key.data());
        cond.SetKeyRecordBuffer(key.data(), keySize_);
        cond.KeyFieldCount = 1;
        cond.ParentExpressions.push_back(this);
        cond.ParentExpressionNodes.push_back(&c);
        conditions.AddCondition(cond);
      }
    }
  }

  bool ExtendMultiFieldIndexCondition(TNRDScanSearchCondition& cond, const TNRDIndexDef& def) override {
    if (cond.Condition != scEqual || cond.KeyFieldCount >= def.ColumnCount()) return false;
    const std::int32_t field = FieldNo(def.GetIndexColumn(cond.KeyFieldCount).FFieldName);
    for (Comparison& c : parts_) {
      if (c.extracted || c.field != field || c.op != Op::EQ) continue;
      SetFieldDataToBuffer(c.field, fields_, &c.value, cond.KeyRecordBuffer);
      ++cond.KeyFieldCount;
      cond.ParentExpressions.push_back(this);
      cond.ParentExpressionNodes.push_back(&c);
      return true;
    }
    return false;
  }

  void RemoveExtractedNodes(const TNRDScanSearchConditionArray& conditions, std::int32_t scanNo,
                            std::int32_t endNo) override {
    for (std::int32_t no : {scanNo, endNo}) {
      if (no < 0 || no >= conditions.Count()) continue;
      const TNRDScanSearchCondition& c = *conditions.Item(no);
      for (std::size_t k = 0; k < c.ParentExpressions.size(); ++k)
        if (c.ParentExpressions[k] == this) static_cast<Comparison*>(c.ParentExpressionNodes[k])->extracted = true;
    }
  }
  void AddNode(void* node) override { static_cast<Comparison*>(node)->extracted = false; }

  bool AnyExtracted() const {
    return std::any_of(parts_.begin(), parts_.end(), [](const Comparison& c) { return c.extracted; });
  }

  const std::vector<Comparison>& Parts() const { return parts_; }
  int evaluations = 0;

 private:
  std::int32_t FieldNo(const std::string& name) const { return fields_.GetDefNumberByName(name); }
  static TNRDSearchCondition SearchConditionOf(Op op, bool descending) {
    switch (op) {
      case Op::EQ: return scEqual;
      case Op::LT: return descending ? scGreater : scLower;
      case Op::GT: return descending ? scLower : scGreater;
      case Op::LE: return descending ? scGreaterEqual : scLowerEqual;
      case Op::GE: return descending ? scLowerEqual : scGreaterEqual;
    }
    return scNone;
  }

  const TNRDFieldDefs& fields_;
  std::vector<Comparison> parts_;
  std::int32_t keySize_;
  void* record_ = nullptr;
};

// ----- the table --------------------------------------------------------------------------------------

class MapRecordManager : public TNRDBaseRecordManager {
 public:
  void GetRecordBuffer(std::int32_t, TNRDNavigationInfo& nav) override {
    auto deliver = [&](std::map<std::int32_t, std::vector<std::uint8_t>>::const_iterator it) {
      std::memcpy(nav.RecordBuffer, it->second.data(), it->second.size());
      nav.RecordID = TNRDPageItemID{it->first, 0};
      nav.FirstPosition = false;
      nav.LastPosition = false;
      nav.GetRecordResult = grrOK;
    };
    if (nav.GetRecordMode == grmCurrent) {
      auto it = Records.find(nav.RecordID.PageNo);
      if (it == Records.end()) {
        nav.GetRecordResult = grrError;
        return;
      }
      deliver(it);
      return;
    }
    if (nav.GetRecordMode == grmNext) {
      auto it = nav.FirstPosition ? Records.begin() : Records.upper_bound(nav.RecordID.PageNo);
      if (nav.LastPosition) it = Records.end();
      if (it == Records.end()) {
        nav.GetRecordResult = grrEOF;
        nav.LastPosition = true;
        nav.FirstPosition = false;
        return;
      }
      deliver(it);
      return;
    }
    auto it = nav.LastPosition ? Records.end() : Records.lower_bound(nav.RecordID.PageNo);
    if (nav.FirstPosition || it == Records.begin()) {
      nav.GetRecordResult = grrBOF;
      nav.FirstPosition = true;
      nav.LastPosition = false;
      return;
    }
    deliver(std::prev(it));
  }
  std::int32_t CompareRecordID(const TNRDPageItemID& a, const TNRDPageItemID& b) override {
    return (a.PageNo > b.PageNo) - (a.PageNo < b.PageNo);
  }
  std::int64_t GetApproximateRecNo(std::int32_t, const TNRDPageItemID& id) override { return RankOf(id.PageNo); }
  std::int64_t RankOf(std::int32_t slot) const {
    auto it = Records.find(slot);
    if (it == Records.end()) return -1;
    return std::distance(Records.begin(), it) + 1;
  }

  std::map<std::int32_t, std::vector<std::uint8_t>> Records;
};

class MapTable : public TNRDTableData {
 public:
  explicit MapTable(TNRDDatabaseData* db) : TNRDTableData(db) {
    FTableName = "T";
    FRecordManager = std::make_unique<MapRecordManager>();
  }
  MapRecordManager& Records() { return static_cast<MapRecordManager&>(*FRecordManager); }
  std::int64_t GetBitmapRecordCount(std::int32_t) override {
    return Records().Records.empty() ? 0 : Records().Records.rbegin()->first + 1;
  }
  std::int64_t RecordIDToBitmapRecNo(const TNRDPageItemID& id) override { return id.PageNo; }
  TNRDPageItemID BitmapRecNoToRecordID(std::int64_t bitNo) override {
    return TNRDPageItemID{static_cast<std::int32_t>(bitNo), 0};
  }
  std::int64_t InternalGetRecordCount(TNRDCursor*) override { return FRecordManager->FRecordCount; }
  std::int64_t InternalGetRecNo(TNRDCursor* cursor) override { return Records().RankOf(cursor->CurrentRecord().PageNo); }
  void InternalSetRecNo(TNRDCursor* cursor, std::int64_t recNo) override {
    auto it = Records().Records.begin();
    std::advance(it, recNo - 1);
    cursor->SetCurrentRecord(TNRDPageItemID{it->first, 0});
  }

  void Put(std::int32_t slot, std::vector<std::uint8_t> record) {
    Records().Records[slot] = std::move(record);
    FRecordManager->FRecordCount = static_cast<std::int64_t>(Records().Records.size());
    ++FRecordManager->FTableState;
  }
  void Remove(std::int32_t slot) {
    Records().Records.erase(slot);
    FRecordManager->FRecordCount = static_cast<std::int64_t>(Records().Records.size());
    ++FRecordManager->FTableState;
  }
};

// ----- the index --------------------------------------------------------------------------------------

class EntryPosition : public TNRDIndexPosition {
 public:
  std::int64_t GetBitmapRecNoByIndexPosition(std::int32_t) const override { return Entry; }
  void FillItemsByBitmapRecNo(std::int64_t bitNo, std::int32_t) override { Entry = bitNo; }
  std::int64_t Entry = -1;
};

struct IndexCounters {
  int findRecordAnswers = 0;
  int findRecordRestarts = 0;
  int estimates = 0;
};

class VectorIndex : public TNRDIndex {
 public:
  VectorIndex(TNRDBaseIndexManager* m, IndexCounters& counters) : TNRDIndex(m), counters_(counters) {}

  MapTable& Table() const { return static_cast<MapTable&>(*FIndexManager->FTableData); }
  const TNRDFieldDefs& Fields() const { return Table().FieldManager().FFieldDefs; }

  // Entries (slots) in index order: key, then slot.
  const std::vector<std::int32_t>& Entries() {
    if (builtState_ != Table().RecordManager().FTableState) {
      entries_.clear();
      for (const auto& [slot, rec] : Table().Records().Records) entries_.push_back(slot);
      std::stable_sort(entries_.begin(), entries_.end(), [&](std::int32_t a, std::int32_t b) {
        const int r = CompareRecordBuffersByIndex(Rec(a), Rec(b), FIndexDef.ColumnCount());
        return r != 0 ? r < 0 : a < b;
      });
      builtState_ = Table().RecordManager().FTableState;
    }
    return entries_;
  }
  const void* Rec(std::int32_t slot) const { return Table().Records().Records.at(slot).data(); }
  std::int64_t EntryOf(std::int32_t slot) {
    const auto& e = Entries();
    auto it = std::find(e.begin(), e.end(), slot);
    return it == e.end() ? -1 : it - e.begin();
  }

  std::int32_t CompareRecordBuffersByIndex(const void* a, const void* b, std::int32_t count) override {
    for (std::int32_t i = 0; i < count && i < FIndexDef.ColumnCount(); ++i) {
      const TNRDIndexColumn& col = FIndexDef.GetIndexColumn(i);
      const std::int32_t f = Fields().GetDefNumberByName(col.FFieldName);
      const bool nx = IsFieldNull(a, f), ny = IsFieldNull(b, f);
      if (nx || ny) {
        if (nx && ny) continue;
        return nx != col.FDescending ? -1 : 1;  // NULL is the lowest key
      }
      const std::int32_t x = FieldOf(Fields(), a, f), y = FieldOf(Fields(), b, f);
      if (x != y) return (x < y) != col.FDescending ? -1 : 1;
    }
    return 0;
  }

  void GetRecordBuffer(std::int32_t, TNRDNavigationInfo& nav, TNRDIndexPositionCache*, std::int32_t) override {
    const auto& e = Entries();
    std::int64_t at;
    if (nav.GetRecordMode == grmNext)
      at = nav.FirstPosition ? 0 : (nav.LastPosition ? static_cast<std::int64_t>(e.size()) : EntryOf(nav.RecordID.PageNo) + 1);
    else
      at = nav.LastPosition ? static_cast<std::int64_t>(e.size()) - 1
                            : (nav.FirstPosition ? -1 : EntryOf(nav.RecordID.PageNo) - 1);
    if (at < 0 || at >= static_cast<std::int64_t>(e.size())) {
      nav.GetRecordResult = nav.GetRecordMode == grmNext ? grrEOF : grrBOF;
      nav.FirstPosition = nav.GetRecordMode != grmNext;
      nav.LastPosition = nav.GetRecordMode == grmNext;
      return;
    }
    const std::int32_t slot = e[static_cast<std::size_t>(at)];
    std::memcpy(nav.RecordBuffer, Rec(slot), Table().Records().Records.at(slot).size());
    nav.RecordID = TNRDPageItemID{slot, 0};
    nav.FirstPosition = nav.LastPosition = false;
    nav.GetRecordResult = grrOK;
  }
  void GetClosestRecordBuffer(std::int32_t s, TNRDNavigationInfo& nav, TNRDIndexPositionCache* c,
                              std::int32_t t) override {
    GetRecordBuffer(s, nav, c, t);
  }

  TNRDIndexPosition* CreateIndexPosition() override { return new EntryPosition(); }
  void FreeIndexPosition(TNRDIndexPosition*& p) override {
    delete p;
    p = nullptr;
  }
  bool GetIndexPosition(std::int32_t, const TNRDPageItemID& id, const void*, TNRDIndexPosition* pos) override {
    const std::int64_t entry = EntryOf(id.PageNo);
    static_cast<EntryPosition*>(pos)->Entry = entry;
    return entry >= 0;
  }
  std::int32_t CompareRecordPositionsInIndex(const TNRDIndexPosition* a, const TNRDIndexPosition* b) override {
    const auto x = static_cast<const EntryPosition*>(a)->Entry, y = static_cast<const EntryPosition*>(b)->Entry;
    return (x > y) - (x < y);
  }
  std::int64_t GetRecNoByRecordID(std::int32_t, const TNRDPageItemID& id, const void*) override {
    const std::int64_t e = EntryOf(id.PageNo);
    return e < 0 ? -1 : e + 1;
  }
  TNRDPageItemID GetRecordIDByRecNo(std::int32_t, std::int64_t recNo) override {
    return TNRDPageItemID{Entries().at(static_cast<std::size_t>(recNo - 1)), 0};
  }
  void GetRecordIDByIndexPosition(std::int32_t, const TNRDIndexPosition* pos, TNRDPageItemID& id) override {
    id = TNRDPageItemID{Entries().at(static_cast<std::size_t>(static_cast<const EntryPosition*>(pos)->Entry)), 0};
  }
  std::int32_t GetMaxEntriesPerPage() override { return 50; }

  void ApplyDistinctToRecordBitmap(std::int32_t, TNRDRecordBitmap* bitmap, std::int32_t count) override {
    const auto e = Entries();
    std::int32_t last = -1;
    for (std::size_t i = 0; i < e.size(); ++i) {
      EntryPosition p;
      p.Entry = static_cast<std::int64_t>(i);
      if (!bitmap->IsRecordVisible(FIndexDef.FObjectID, p)) continue;
      if (last >= 0 && CompareRecordBuffersByIndex(Rec(last), Rec(e[i]), count) == 0)
        bitmap->HideRecord(FIndexDef.FObjectID, p);
      else
        last = e[i];
    }
  }

  struct SearchInfo {
    std::vector<std::int32_t> matches;
    std::size_t next = 0;
    bool started = false;
  };
  void* CreateSearchInfo() override { return new SearchInfo(); }
  void FreeSearchInfo(void* info) override { delete static_cast<SearchInfo*>(info); }

  static bool Holds(TNRDSearchCondition c, int r) {
    switch (c) {
      case scEqual: return r == 0;
      case scLower: return r < 0;
      case scGreater: return r > 0;
      case scLowerEqual: return r <= 0;
      case scGreaterEqual: return r >= 0;
      default: return false;
    }
  }
  bool InRange(std::int32_t slot, const TNRDScanSearchCondition* start, const TNRDScanSearchCondition* end) {
    for (const TNRDScanSearchCondition* c : {start, end})
      if (c != nullptr &&
          !Holds(c->Condition, CompareRecordBuffersByIndex(Rec(slot), c->KeyRecordBuffer, c->KeyFieldCount)))
        return false;
    return true;
  }

  // Like a B-tree range scan: from the first entry (in the scan's direction) that satisfies the
  // start condition to the last one that satisfies the end condition (the start again when there
  // is none); the entries between are answered without testing them.
  bool FindRecord(std::int32_t, bool restart, bool goForward, const TNRDScanSearchCondition* start,
                  const TNRDScanSearchCondition* end, void*, TNRDPageItemID& id, void* searchInfo) override {
    auto& info = *static_cast<SearchInfo*>(searchInfo);
    if (restart) ++counters_.findRecordRestarts;
    if (!info.started) {
      info.started = true;
      const auto& e = Entries();
      const auto size = static_cast<std::int64_t>(e.size());
      auto firstSatisfying = [&](const TNRDScanSearchCondition* c, bool fromLow) -> std::int64_t {
        for (std::int64_t k = 0; k < size; ++k) {
          const std::int64_t i = fromLow ? k : size - 1 - k;
          if (c == nullptr || InRange(e[static_cast<std::size_t>(i)], c, nullptr)) return i;
        }
        return -1;
      };
      const std::int64_t from = firstSatisfying(start, goForward);
      const std::int64_t to = firstSatisfying(end != nullptr ? end : start, !goForward);
      if (from >= 0 && to >= 0) {
        std::int64_t i = from;
        if (!restart) {
          const std::int64_t current = EntryOf(id.PageNo);
          if (goForward ? current >= from : current <= from) i = current + (goForward ? 1 : -1);
        }
        for (; goForward ? i <= to : i >= to; i += goForward ? 1 : -1) info.matches.push_back(e[static_cast<std::size_t>(i)]);
      }
    }
    if (info.next >= info.matches.size()) return false;
    id = TNRDPageItemID{info.matches[info.next++], 0};
    ++counters_.findRecordAnswers;
    return true;
  }

  std::int64_t GetApproxRangeRecordCount(std::int32_t, std::int64_t, const TNRDScanSearchCondition* a,
                                         const TNRDScanSearchCondition* b) override {
    ++counters_.estimates;
    std::int64_t n = 0;
    for (std::int32_t slot : Entries()) n += InRange(slot, a, b) ? 1 : 0;
    return n;
  }

  void InsertRecord(TNRDCursor*) override {}
  void DeleteRecord(TNRDCursor*) override {}
  void UpdateRecord(TNRDCursor*, bool) override {}

 private:
  IndexCounters& counters_;
  std::vector<std::int32_t> entries_;
  std::int32_t builtState_ = -1;
};

// A table of Integer fields with indexes, given as lists of (field name, descending).
struct IndexSpec {
  std::string name;
  std::vector<std::pair<std::string, bool>> columns;
  bool unique = false;
};

struct StandInWorld {
  StandInWorld(const std::vector<std::string>& fieldNames, const std::vector<IndexSpec>& indexes) {
    table = new MapTable(&db);
    TNRDFieldDefs fields;
    for (const std::string& n : fieldNames) storagetest::DefineFields(fields, {{n.c_str(), aftInteger, 0}});
    table->InitFieldManager(fields);
    TNRDIndexDefs defs;
    for (const IndexSpec& s : indexes) {
      TNRDIndexDef* d = defs.AddCreated();
      d->FName = s.name;
      d->FUnique = s.unique;
      d->SetColumnCount(static_cast<std::int32_t>(s.columns.size()));
      for (std::size_t i = 0; i < s.columns.size(); ++i) {
        d->GetIndexColumn(static_cast<std::int32_t>(i)).FFieldName = s.columns[i].first;
        d->GetIndexColumn(static_cast<std::int32_t>(i)).FDescending = s.columns[i].second;
      }
    }
    table->InitIndexManager(defs);
    table->IndexManager().FIndexCreator = [this](TNRDBaseIndexManager& m) {
      return std::make_unique<VectorIndex>(&m, counters);
    };
    size = table->GetRecordBufferSize();
    cursor.FFieldDefs.Assign(table->FieldManager().FFieldDefs);
    cursor.FIndexDefs.Assign(table->IndexManager().FIndexDefs);
    cursor.FRecordBufferSize = size;
    cursor.FKeyBufferSize = size;
    cursor.FCurrentRecordBuffer = GlobalMemoryManager().AllocMem(size);
  }
  ~StandInWorld() {
    cursor.FRecordBitmap = nullptr;
    bitmap.reset();
  }
  const TNRDFieldDefs& Fields() const { return table->FieldManager().FFieldDefs; }
  std::int32_t IndexID(const std::string& name) const {
    return table->IndexManager().FIndexDefs.GetIndexDefByName(name)->FObjectID;
  }
  std::vector<std::uint8_t> Record(const std::vector<std::int32_t>& values) const {
    std::vector<std::uint8_t> r(static_cast<std::size_t>(size), 0);
    for (std::size_t i = 0; i < values.size(); ++i) {
      SetFieldDataToBuffer(static_cast<std::int32_t>(i), Fields(), &values[i], r.data());
      if (values[i] == kNull) SetFieldNull(r.data(), static_cast<std::int32_t>(i), true);
    }
    return r;
  }
  void Put(std::int32_t slot, const std::vector<std::int32_t>& values) { table->Put(slot, Record(values)); }
  void UseBitmap() {
    bitmap = std::make_unique<TNRDRecordBitmap>(table);
    cursor.FRecordBitmap = bitmap.get();
  }
  std::int32_t Value(std::int32_t fieldNo) const { return FieldOf(Fields(), cursor.FCurrentRecordBuffer, fieldNo); }

  storagetest::FakeDatabase db;
  MapTable* table;  // owned by db
  IndexCounters counters;
  TTestCursor cursor;
  std::unique_ptr<TNRDRecordBitmap> bitmap;
  std::int32_t size = 0;
};

}  // namespace scantest
