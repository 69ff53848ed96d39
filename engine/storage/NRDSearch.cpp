// Search conditions, merging, the scan choice, the four scans and the bitmap walk.
#include "engine/storage/NRDSearch.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/foundation/NRDConverts.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDVariant.h"
#include "engine/storage/NRDBTreeRecordIndex.h"
#include "engine/storage/NRDCursor.h"
#include "engine/storage/NRDCursorNavigation.h"
#include "engine/storage/NRDFieldManager.h"
#include "engine/storage/NRDIndexManager.h"
#include "engine/storage/NRDPageManager.h"
#include "engine/storage/NRDRecordBitmap.h"
#include "engine/storage/NRDTableData.h"

namespace nrd {

// ----- conditions -----------------------------------------------------------------------------------

TNRDScanSearchCondition::TNRDScanSearchCondition(bool externalKeyRecordBuffer)
    : FExternalKeyRecordBuffer(externalKeyRecordBuffer) {}

TNRDScanSearchCondition::~TNRDScanSearchCondition() { ClearKeyRecordBuffer(); }

void TNRDScanSearchCondition::ClearKeyRecordBuffer() {
  if (KeyRecordBuffer != nullptr && !FExternalKeyRecordBuffer) GlobalMemoryManager().FreeMem(KeyRecordBuffer);
  KeyRecordBuffer = nullptr;
}

void TNRDScanSearchCondition::SetKeyRecordBuffer(const void* buffer, std::int32_t size) {
  ClearKeyRecordBuffer();
  FExternalKeyRecordBuffer = false;
  KeyRecordBufferSize = 0;
  if (buffer == nullptr || size <= 0) return;
  KeyRecordBuffer = GlobalMemoryManager().GetMem(size);
  std::memcpy(KeyRecordBuffer, buffer, static_cast<std::size_t>(size));
  KeyRecordBufferSize = size;
}

void TNRDScanSearchCondition::Assign(const TNRDScanSearchCondition& source) {
  if (&source == this) return;
  Condition = source.Condition;
  SetKeyRecordBuffer(source.KeyRecordBuffer, source.KeyRecordBufferSize);
  KeyFieldCount = source.KeyFieldCount;
  IndexID = source.IndexID;
  Expression = source.Expression;
  CreatedFromExpression = source.CreatedFromExpression;
  PartialCompare = source.PartialCompare;
  ParentExpressions = source.ParentExpressions;
  ParentExpressionNodes = source.ParentExpressionNodes;
}

TNRDScanExpression* AsScanExpression(TNRDExpression* expression) {
  if (expression == nullptr) return nullptr;
  if (TNRDScanExpression* x = expression->ScanExpression()) return x;
  return dynamic_cast<TNRDScanExpression*>(expression);
}

// ----- condition arrays -----------------------------------------------------------------------------

void TNRDScanSearchConditionArray::AddExpression(TNRDExpression* expression) {
  auto c = std::make_unique<TNRDScanSearchCondition>();
  c->Expression = expression;
  Items.push_back(std::move(c));
}

void TNRDScanSearchConditionArray::AddCondition(const TNRDScanSearchCondition& condition) {
  if (condition.Expression == nullptr && condition.IndexID == -1)
    throw ENRDException(10388, "Invalid scan condition - indexID = %d, count = %d",
                        {condition.IndexID, condition.KeyFieldCount});
  auto c = std::make_unique<TNRDScanSearchCondition>();
  c->Assign(condition);
  Items.push_back(std::move(c));
}

void TNRDScanSearchConditionArray::Delete(std::int32_t itemNo) {
  if (itemNo < 0 || itemNo >= Count())
    throw ENRDException(10413, "Invalid item number - ItemNo = %d, ItemCount = %d", {itemNo, Count()});
  if (!Items[static_cast<std::size_t>(itemNo)]) throw ENRDException(10414, "Nil pointer occured");
  Items.erase(Items.begin() + itemNo);
}

void TNRDScanSearchConditionArray::CreateIndexScanConditionsFromExpressions(const TNRDIndexDefs& indexDefs,
                                                                            std::int32_t sessionID) {
  // The expressions as they stand now: the conditions they add are appended behind them.
  std::vector<TNRDScanExpression*> expressions;
  for (const auto& c : Items)
    if (c->Expression != nullptr)
      if (TNRDScanExpression* e = AsScanExpression(c->Expression)) expressions.push_back(e);
  if (expressions.empty()) return;
  for (TNRDScanExpression* e : expressions) e->CreateIndexScanConditions(indexDefs, *this, sessionID);
  for (std::int32_t i = 0; i < Count(); ++i) {
    TNRDScanSearchCondition& c = *Item(i);
    if (c.IndexID == -1 || c.Condition == scNone) continue;
    const TNRDIndexDef* def = indexDefs.GetIndexDefByObjectId(c.IndexID);
    if (def == nullptr || def->ColumnCount() < 2) continue;
    // Offered again while some expression lengthens the key; the key cannot grow past the index.
    for (bool extended = true; extended && c.KeyFieldCount < def->ColumnCount();) {
      extended = false;
      for (TNRDScanExpression* e : expressions)
        if (e->ExtendMultiFieldIndexCondition(c, *def)) {
          extended = true;
          break;
        }
    }
  }
}

void TNRDScanSearchConditionArray::RemoveUnusedConditionsCreatedFromExpressions(std::int32_t& scanConditionNo,
                                                                                std::int32_t& scanEndConditionNo) {
  for (std::int32_t i = Count() - 1; i >= 0; --i) {
    if (!Item(i)->CreatedFromExpression || i == scanConditionNo || i == scanEndConditionNo) continue;
    Delete(i);
    if (scanConditionNo > i) --scanConditionNo;
    if (scanEndConditionNo > i) --scanEndConditionNo;
  }
}

namespace {
bool ChosenNumber(std::int32_t no, std::int32_t count) { return no >= 0 && no <= 255 && no < count; }
}  // namespace

void TNRDScanSearchConditionArray::ExtractChosenConditionsFromExpressions(std::int32_t scanConditionNo,
                                                                          std::int32_t scanEndConditionNo) {
  const std::int32_t s = ChosenNumber(scanConditionNo, Count()) ? scanConditionNo : -1;
  const std::int32_t e = ChosenNumber(scanEndConditionNo, Count()) ? scanEndConditionNo : -1;
  if (s == -1 && e == -1) return;
  for (const auto& c : Items)
    if (c->Expression != nullptr)
      if (TNRDScanExpression* x = AsScanExpression(c->Expression)) x->RemoveExtractedNodes(*this, s, e);
}

void TNRDScanSearchConditionArray::ReturnExtractedConditionsToExpressions(std::int32_t scanConditionNo,
                                                                          std::int32_t scanEndConditionNo) {
  for (std::int32_t no : {scanConditionNo, scanEndConditionNo}) {
    if (!ChosenNumber(no, Count())) continue;
    const TNRDScanSearchCondition& c = *Item(no);
    const std::size_t n = std::min(c.ParentExpressions.size(), c.ParentExpressionNodes.size());
    for (std::size_t k = 0; k < n; ++k)
      if (TNRDScanExpression* x = AsScanExpression(c.ParentExpressions[k])) x->AddNode(c.ParentExpressionNodes[k]);
  }
}

// ----- merging ----------------------------------------------------------------------------------------

bool CanMergeConditions(TNRDSearchCondition k, std::int32_t kCount, TNRDSearchCondition j, std::int32_t jCount) {
  auto strict = [](TNRDSearchCondition c) { return c == scLower || c == scGreater; };
  if (k == scEqual && strict(j) && kCount < jCount) return false;
  if (j == scEqual && strict(k) && jCount < kCount) return false;
  return true;
}

TNRDMergeOutcome MergeCell(TNRDSearchCondition k, std::int32_t kCount, TNRDSearchCondition j, std::int32_t jCount,
                           int c) {
  using O = TNRDMergeOutcome;
  const std::int32_t minCount = std::min(kCount, jCount);
  const std::int32_t maxCount = std::max(kCount, jCount);
  const bool kMin = kCount == minCount, kMax = kCount == maxCount;
  const bool jMin = jCount == minCount, jMax = jCount == maxCount;
  if (k == scNone || j == scNone) return O::None;
  switch (k) {
    case scEqual:
      switch (j) {
        case scEqual: return c == 0 ? O::Longer : O::Contradiction;
        case scLower: return c < 0 ? O::KeepK : O::Contradiction;
        case scGreater: return c > 0 ? O::KeepK : O::Contradiction;
        case scLowerEqual: return c > 0 ? O::Contradiction : c < 0 ? O::KeepK : (kMax ? O::KeepK : O::None);
        case scGreaterEqual: return c < 0 ? O::Contradiction : c > 0 ? O::KeepK : (kMax ? O::KeepK : O::None);
        default: return O::None;
      }
    case scLower:
      switch (j) {
        case scEqual: return c > 0 ? O::TakeJ : O::Contradiction;
        case scLower: return c < 0 ? O::KeepK : c > 0 ? O::TakeJ : O::Shorter;
        case scGreater: return c > 0 ? O::None : O::Contradiction;
        case scLowerEqual: return c <= 0 ? O::KeepK : O::TakeJ;
        case scGreaterEqual: return (c < 0 || (c == 0 && kMin)) ? O::Contradiction : O::None;
        default: return O::None;
      }
    case scGreater:
      switch (j) {
        case scEqual: return c < 0 ? O::TakeJ : O::Contradiction;
        case scLower: return c < 0 ? O::None : O::Contradiction;
        case scGreater: return c > 0 ? O::KeepK : c < 0 ? O::TakeJ : O::Shorter;
        case scLowerEqual: return (c > 0 || (c == 0 && kMin)) ? O::Contradiction : O::None;
        case scGreaterEqual: return c >= 0 ? O::KeepK : O::TakeJ;
        default: return O::None;
      }
    case scLowerEqual:
      switch (j) {
        case scEqual: return c < 0 ? O::Contradiction : (c > 0 || jMax) ? O::TakeJ : O::None;
        // On equal keys the strict bound is the stricter one, whatever the column counts.
        case scLower: return c < 0 ? O::KeepK : O::TakeJ;
        case scGreater: return (c < 0 || (c == 0 && jMin)) ? O::Contradiction : O::None;
        case scLowerEqual: return c < 0 ? O::KeepK : c > 0 ? O::TakeJ : O::Longer;
        case scGreaterEqual: return c < 0 ? O::Contradiction : (c == 0 && minCount == maxCount) ? O::LongerAsEqual : O::None;
        default: return O::None;
      }
    case scGreaterEqual:
      switch (j) {
        case scEqual: return c > 0 ? O::Contradiction : (c < 0 || jMax) ? O::TakeJ : O::None;
        case scLower: return (c > 0 || (c == 0 && jMin)) ? O::Contradiction : O::None;
        case scGreater: return c <= 0 ? O::TakeJ : O::KeepK;
        case scLowerEqual: return c > 0 ? O::Contradiction : (c == 0 && minCount == maxCount) ? O::LongerAsEqual : O::None;
        case scGreaterEqual: return c > 0 ? O::KeepK : c < 0 ? O::TakeJ : O::Longer;
        default: return O::None;
      }
    default:
      return O::None;
  }
}

std::unique_ptr<TNRDScanSearchConditionArray> MergeScanConditions(const TNRDScanSearchConditionArray& conditions,
                                                                  TNRDKeyComparer compare, void* context,
                                                                  bool& contradiction) {
  contradiction = false;
  auto result = std::make_unique<TNRDScanSearchConditionArray>();
  std::vector<std::int32_t> indexIDs;
  for (const auto& c : conditions.Items)
    if (c->IndexID != -1 && std::find(indexIDs.begin(), indexIDs.end(), c->IndexID) == indexIDs.end())
      indexIDs.push_back(c->IndexID);
  for (std::int32_t id : indexIDs) {
    for (const auto& jp : conditions.Items) {
      const TNRDScanSearchCondition& j = *jp;
      if (j.IndexID != id) continue;
      bool merged = false;
      for (std::int32_t n = 0; n < result->Count() && !merged; ++n) {
        TNRDScanSearchCondition& k = *result->Item(n);
        if (k.IndexID != id || k.Condition == scNone || j.Condition == scNone) continue;
        if (!CanMergeConditions(k.Condition, k.KeyFieldCount, j.Condition, j.KeyFieldCount)) continue;
        const std::int32_t count = std::min(k.KeyFieldCount, j.KeyFieldCount);
        const std::int32_t r = compare(context, id, k.KeyRecordBuffer, j.KeyRecordBuffer, count);
        const int c = r < 0 ? -1 : (r > 0 ? 1 : 0);
        const bool kShorter = k.KeyFieldCount <= j.KeyFieldCount;
        const bool kLonger = k.KeyFieldCount >= j.KeyFieldCount;
        switch (MergeCell(k.Condition, k.KeyFieldCount, j.Condition, j.KeyFieldCount, c)) {
          case TNRDMergeOutcome::None: break;
          case TNRDMergeOutcome::Contradiction:
            contradiction = true;
            return nullptr;
          case TNRDMergeOutcome::KeepK: merged = true; break;
          case TNRDMergeOutcome::TakeJ:
            k.Assign(j);
            merged = true;
            break;
          case TNRDMergeOutcome::Shorter:
            if (!kShorter) k.Assign(j);
            merged = true;
            break;
          case TNRDMergeOutcome::Longer:
            if (!kLonger) k.Assign(j);
            merged = true;
            break;
          case TNRDMergeOutcome::LongerAsEqual:
            if (!kLonger) k.Assign(j);
            k.Condition = scEqual;
            merged = true;
            break;
        }
      }
      if (!merged) result->AddCondition(j);
    }
  }
  // Equal duplicates go; the first of them stays.
  for (std::int32_t a = 0; a < result->Count(); ++a)
    for (std::int32_t b = result->Count() - 1; b > a; --b) {
      const TNRDScanSearchCondition& x = *result->Item(a);
      const TNRDScanSearchCondition& y = *result->Item(b);
      if (x.IndexID == y.IndexID && x.Condition != scNone && x.Condition == y.Condition &&
          x.KeyFieldCount == y.KeyFieldCount &&
          compare(context, x.IndexID, x.KeyRecordBuffer, y.KeyRecordBuffer, x.KeyFieldCount) == 0)
        result->Delete(b);
    }
  for (const auto& c : conditions.Items)
    if (c->IndexID == -1) result->AddCondition(*c);
  return result;
}

// ----- helpers over the table -------------------------------------------------------------------------

namespace {

// A record buffer of the engine memory manager, freed at scope end.
class TScratchBuffer {
 public:
  explicit TScratchBuffer(std::int32_t size) : p_(GlobalMemoryManager().AllocMem(std::max(size, 1))) {}
  ~TScratchBuffer() { GlobalMemoryManager().FreeMem(p_); }
  TScratchBuffer(const TScratchBuffer&) = delete;
  TScratchBuffer& operator=(const TScratchBuffer&) = delete;
  void* get() const { return p_; }

 private:
  void* p_;
};

// An index position of an index, freed at scope end.
class TPositionHolder {
 public:
  explicit TPositionHolder(TNRDIndex* index) : index_(index), p_(index->CreateIndexPosition()) {}
  ~TPositionHolder() {
    try {
      index_->FreeIndexPosition(p_);
    } catch (...) {
    }
  }
  TPositionHolder(const TPositionHolder&) = delete;
  TPositionHolder& operator=(const TPositionHolder&) = delete;
  TNRDIndexPosition* get() const { return p_; }
  void swap(TPositionHolder& other) { std::swap(p_, other.p_); }

 private:
  TNRDIndex* index_;
  TNRDIndexPosition* p_;
};

class TSearchInfoHolder {
 public:
  explicit TSearchInfoHolder(TNRDIndex* index) : index_(index), p_(index->CreateSearchInfo()) {}
  ~TSearchInfoHolder() {
    try {
      index_->FreeSearchInfo(p_);
    } catch (...) {
    }
  }
  TSearchInfoHolder(const TSearchInfoHolder&) = delete;
  TSearchInfoHolder& operator=(const TSearchInfoHolder&) = delete;
  void* get() const { return p_; }

 private:
  TNRDIndex* index_;
  void* p_;
};

std::int32_t RecordBufferSizeOf(TNRDTableData& table) {
  const std::int32_t managed = table.RecordManager().FRecordBufferSize;
  return managed > 0 ? managed : table.GetRecordBufferSize();
}

std::int32_t CompareThroughIndex(void* context, std::int32_t indexID, const void* key1, const void* key2,
                                 std::int32_t count) {
  auto* table = static_cast<TNRDTableData*>(context);
  return table->IndexManager().OpenIndex(indexID)->CompareRecordBuffersByIndex(key1, key2, count);
}

bool IsLowerBound(TNRDSearchCondition c) { return c == scGreater || c == scGreaterEqual; }
bool IsUpperBound(TNRDSearchCondition c) { return c == scLower || c == scLowerEqual; }

// Two conditions on one index that together cut one range out of it.
bool IsRangePair(const TNRDScanSearchCondition& a, const TNRDScanSearchCondition& b) {
  return (IsLowerBound(a.Condition) && IsUpperBound(b.Condition)) ||
         (IsUpperBound(a.Condition) && IsLowerBound(b.Condition));
}

// The B-tree record index scans and estimates by bounds; other indexes answer the condition forms.
TNRDBTreeScanBound BoundOf(const TNRDScanSearchCondition& c) {
  TNRDBTreeScanBound b;
  b.Operator = c.Condition;
  b.KeyFieldCount = c.KeyFieldCount;
  b.KeyRecordBuffer = c.KeyRecordBuffer;
  b.PartialCompare = c.PartialCompare;
  return b;
}

bool IndexFindRecord(TNRDIndex* index, std::int32_t sessionID, bool restart, bool goForward,
                     const TNRDScanSearchCondition* start, const TNRDScanSearchCondition* end, void* recordBuffer,
                     TNRDPageItemID& recordID, void* searchInfo) {
  if (auto* btree = dynamic_cast<TNRDBTreeRecordIndex*>(index)) {
    const TNRDBTreeScanBound s = BoundOf(*start);
    TNRDBTreeScanBound e;
    if (end != nullptr) e = BoundOf(*end);
    return btree->FindRecordByBounds(sessionID, restart, goForward, &s, end != nullptr ? &e : nullptr, recordBuffer,
                                     recordID, static_cast<TNRDBTreeSearchInfo*>(searchInfo));
  }
  return index->FindRecord(sessionID, restart, goForward, start, end, recordBuffer, recordID, searchInfo);
}

std::int64_t IndexApproxRangeRecordCount(TNRDIndex* index, std::int32_t sessionID, std::int64_t tableRecordCount,
                                         const TNRDScanSearchCondition* a, const TNRDScanSearchCondition* b) {
  if (auto* btree = dynamic_cast<TNRDBTreeRecordIndex*>(index)) {
    // The lower bound first: an upper bound given first trades places with a lower one.
    if ((a->Condition == scLower || a->Condition == scLowerEqual) &&
        (b->Condition == scGreater || b->Condition == scGreaterEqual))
      std::swap(a, b);
    return btree->GetApproxRangeRecordCountByBounds(sessionID, tableRecordCount, BoundOf(*a), BoundOf(*b));
  }
  return index->GetApproxRangeRecordCount(sessionID, tableRecordCount, a, b);
}

// Whether a condition taken from a comparison reaches the end of the index where the NULL keys
// lie (the low end of an ascending column, the high end of a descending one). The index holds those
// keys in the range, but no comparison accepts a NULL, so such a comparison is not taken out of its
// expression: it is still tested for each record the range yields.
bool RangeReachesNulls(TNRDTableData& table, const TNRDScanSearchCondition& c) {
  if (!c.CreatedFromExpression || c.Condition == scEqual || c.Condition == scNone) return false;
  const TNRDIndexDef* def = table.IndexManager().FIndexDefs.GetIndexDefByObjectId(c.IndexID);
  const std::int32_t column = std::max(c.KeyFieldCount, 1) - 1;
  if (def == nullptr || column >= def->ColumnCount()) return true;
  const bool towardLow = c.Condition == scLower || c.Condition == scLowerEqual;
  return towardLow != def->GetIndexColumn(column).FDescending;
}

// The chosen number when its condition's nodes may leave their expressions, else -1.
std::int32_t Extractable(TNRDTableData& table, const TNRDScanSearchConditionArray& conditions, std::int32_t no) {
  if (no < 0 || no >= conditions.Count() || RangeReachesNulls(table, *conditions.Item(no))) return -1;
  return no;
}

bool ReadPhysical(TNRDRecordReader& reader, const TNRDPageItemID& id, void* buffer) {
  TNRDNavigationInfo nav;
  nav.GetRecordMode = grmCurrent;
  nav.IndexID = -1;
  nav.RecordID = id;
  nav.RecordBuffer = buffer;
  reader.Read(nav);
  return nav.GetRecordResult == grrOK;
}

// The matches of an index range in record order. The index gives them in key order, which
// scatters the reads of their records over the table; read in record order, each record page is
// read once for all its matches. Used where the order of the matches does not change the answer.
std::vector<TNRDPageItemID> InRecordOrder(TNRDBaseRecordManager& records, std::vector<TNRDPageItemID> ids) {
  std::sort(ids.begin(), ids.end(),
            [&](const TNRDPageItemID& a, const TNRDPageItemID& b) { return records.CompareRecordID(a, b) < 0; });
  return ids;
}

bool TestSearchCondition(TNRDSearchCondition condition, std::int32_t r) {
  switch (condition) {
    case scEqual: return r == 0;
    case scLower: return r < 0;
    case scGreater: return r > 0;
    case scLowerEqual: return r <= 0;
    case scGreaterEqual: return r >= 0;
    default: return false;
  }
}

// Calls the data set's record filter with a copy of the record in a cursor record buffer that
// carries the record ID at the bookmark offset.
bool CallFilterCallback(TNRDTableData& table, TNRDCursor& cursor, const void* recordBuffer,
                        const TNRDPageItemID& recordID) {
  const std::int32_t recordSize = RecordBufferSizeOf(table);
  std::int32_t size = std::max(cursor.RecordBufferSize(), recordSize);
  const bool withBookmark = cursor.BookmarkOffset() >= recordSize;
  if (withBookmark) size = std::max(size, cursor.BookmarkOffset() + 6);
  TScratchBuffer copy(size);
  auto* p = static_cast<std::uint8_t*>(copy.get());
  std::memcpy(p, recordBuffer, static_cast<std::size_t>(recordSize));
  if (withBookmark) {
    const auto page = static_cast<std::uint32_t>(recordID.PageNo);
    for (int i = 0; i < 4; ++i) p[cursor.BookmarkOffset() + i] = static_cast<std::uint8_t>(page >> (8 * i));
    p[cursor.BookmarkOffset() + 4] = static_cast<std::uint8_t>(recordID.PageItemNo & 0xFF);
    p[cursor.BookmarkOffset() + 5] = static_cast<std::uint8_t>(recordID.PageItemNo >> 8);
  }
  TNRDCursor::TLentBuffer lent(cursor, p);
  return cursor.AcceptedByRecordFilter();
}

}  // namespace

bool EvaluateFilterExpression(TNRDCursor& cursor, TNRDExpression* expression, void* recordBuffer) {
  if (expression == nullptr) return true;
  if (TNRDScanExpression* x = AsScanExpression(expression)) {
    if (x->IsEmpty()) return true;
    if (recordBuffer != nullptr) {
      const int decided = x->DecideRecord(recordBuffer);
      if (decided >= 0) return decided == 1;
    }
    x->AssignCursorBuffer(recordBuffer);
  }
  TNRDVariant value(bftLogical);
  expression->GetValue(cursor.Session(), value);
  return !value.IsNull() && value.AsBoolean();
}

bool IsConditionSatisfied(TNRDTableData& table, TNRDCursor& cursor, const TNRDScanSearchCondition& condition,
                          void* recordBuffer) {
  if (condition.Expression != nullptr) return EvaluateFilterExpression(cursor, condition.Expression, recordBuffer);
  if (condition.Condition == scNone || condition.IndexID == -1) return false;
  TNRDIndex* index = table.IndexManager().OpenIndex(condition.IndexID);
  const std::int32_t r =
      index->CompareRecordBuffersByIndex(recordBuffer, condition.KeyRecordBuffer, condition.KeyFieldCount);
  return TestSearchCondition(condition.Condition, r);
}

// ----- choosing the scan ------------------------------------------------------------------------------

void ChooseScanConditions(TNRDTableData& table, TNRDCursor& cursor, TNRDScanSearchConditionArray& conditions,
                          bool goForward, std::int32_t& scanConditionNo, std::int32_t& scanEndConditionNo) {
  scanConditionNo = -1;
  scanEndConditionNo = -1;
  const TNRDIndexDefs& defs = table.IndexManager().FIndexDefs;
  const TNRDFieldDefs& fields = table.FieldManager().FFieldDefs;
  const std::int32_t n = conditions.Count();
  // An equality on a unique single-column index finds at most one record: no estimate needed.
  for (std::int32_t i = 0; i < n; ++i) {
    const TNRDScanSearchCondition& c = *conditions.Item(i);
    if (c.IndexID == -1 || c.Condition != scEqual || c.KeyFieldCount < 1) continue;
    const TNRDIndexDef* def = defs.GetIndexDefByObjectId(c.IndexID);
    if (def == nullptr || def->ColumnCount() != 1) continue;
    const TNRDFieldDef* field = fields.GetFieldDefByName(def->GetIndexColumn(0).FFieldName);
    if (def->FUnique || def->FPrimary || (field != nullptr && IsAutoIncAdvancedFieldType(field->FAdvancedFieldType))) {
      scanConditionNo = i;
      return;
    }
  }
  std::int32_t keyCount = 0, onlyKey = -1;
  for (std::int32_t i = 0; i < n; ++i)
    if (conditions.Item(i)->IndexID != -1) {
      ++keyCount;
      onlyKey = i;
    }
  if (keyCount == 0) return;
  if (keyCount == 1 && cursor.IndexID() != -1 && conditions.Item(onlyKey)->IndexID == cursor.IndexID()) {
    scanConditionNo = onlyKey;
    return;
  }

  const std::int32_t sessionID = cursor.SessionID();
  const std::int64_t recordCount = table.RecordManager().FRecordCount;
  const double pageDataSize =
      table.FPageManager != nullptr && table.FPageManager->PageDataSize() > 0 ? table.FPageManager->PageDataSize() : 1.0;
  const double recordSize = RecordBufferSizeOf(table);
  double best = static_cast<double>(recordCount);
  for (std::int32_t i = 0; i < n;) {
    const TNRDScanSearchCondition& c = *conditions.Item(i);
    if (c.IndexID == -1) {
      ++i;
      continue;
    }
    std::int32_t end = -1;
    if (i + 1 < n && conditions.Item(i + 1)->IndexID == c.IndexID && IsRangePair(c, *conditions.Item(i + 1)))
      end = i + 1;
    TNRDIndex* index = table.IndexManager().OpenIndex(c.IndexID);
    const double count = static_cast<double>(IndexApproxRangeRecordCount(
        index, sessionID, recordCount, &c, end != -1 ? conditions.Item(end) : &c));
    const double entriesPerPage = std::max<std::int32_t>(index->GetMaxEntriesPerPage(), 1);
    double cost = count / entriesPerPage;
    const bool otherOrder = cursor.IndexID() != -1 && cursor.IndexID() != c.IndexID;
    bool perRecord = static_cast<bool>(cursor.HasRecordFilter()) || otherOrder;
    if (!perRecord) {
      // What would still be tested per record with this candidate's nodes taken out.
      const std::int32_t xi = Extractable(table, conditions, i), xe = Extractable(table, conditions, end);
      conditions.ExtractChosenConditionsFromExpressions(xi, xe);
      try {
        for (std::int32_t l = 0; l < n && !perRecord; ++l) {
          if (l == i || l == end) continue;
          const TNRDScanSearchCondition& o = *conditions.Item(l);
          if (o.Expression != nullptr) {
            TNRDScanExpression* x = AsScanExpression(o.Expression);
            perRecord = x == nullptr || !x->IsEmpty();
          } else if (!o.CreatedFromExpression) {
            perRecord = true;
          }
        }
      } catch (...) {
        conditions.ReturnExtractedConditionsToExpressions(xi, xe);
        throw;
      }
      conditions.ReturnExtractedConditionsToExpressions(xi, xe);
    }
    if (perRecord) cost += count * recordSize / pageDataSize;
    if (otherOrder) cost += count / entriesPerPage;
    if (cost < best) {
      best = cost;
      scanConditionNo = i;
      scanEndConditionNo = end;
    }
    i = end != -1 ? end + 1 : i + 1;
  }
  if (scanConditionNo != -1) {
    std::int64_t rest = recordCount;
    if (!cursor.IsBeforeFirst() && !cursor.IsAfterLast()) {
      const std::int64_t approx = table.RecordManager().GetApproximateRecNo(sessionID, cursor.CurrentRecord());
      if (approx > 0) rest = std::max<std::int64_t>(recordCount - approx, 0);
    }
    const double fullCost =
        cursor.IndexID() == -1 ? static_cast<double>(rest) * recordSize / pageDataSize : static_cast<double>(rest);
    if (fullCost < best) {
      scanConditionNo = -1;
      scanEndConditionNo = -1;
    }
  }
  // Going forward the lower bound starts the scan, going backward the upper one.
  if (scanConditionNo != -1 && scanEndConditionNo != -1) {
    const bool startIsLower = IsLowerBound(conditions.Item(scanConditionNo)->Condition);
    if (startIsLower != goForward) std::swap(scanConditionNo, scanEndConditionNo);
  }
}

// ----- the scans --------------------------------------------------------------------------------------

namespace {

struct TScan {
  TNRDTableData& table;
  TNRDCursor& cursor;
  TNRDScanSearchConditionArray& conditions;
  bool fillBitmap;
  TNRDRecordBitmap* bitmap;
  bool goForward;
  bool restart;
  std::int32_t scanNo;
  std::int32_t endNo;
  std::int32_t sessionID;
  TScratchBuffer buffer;
  bool remain;
  std::unique_ptr<TNRDRecordReader> reader;

  TScan(TNRDTableData& t, TNRDCursor& c, TNRDScanSearchConditionArray& a, bool fill, TNRDRecordBitmap* b, bool fwd,
        bool rs, std::int32_t s, std::int32_t e)
      : table(t), cursor(c), conditions(a), fillBitmap(fill), bitmap(b), goForward(fwd), restart(rs), scanNo(s),
        endNo(e), sessionID(c.SessionID()), buffer(RecordBufferSizeOf(t)),
        reader(t.RecordManager().CreateReader(c.SessionID())) {
    remain = static_cast<bool>(cursor.HasRecordFilter());
    for (std::int32_t i = 0; i < conditions.Count() && !remain; ++i) {
      if (i == scanNo || i == endNo) continue;
      const TNRDScanSearchCondition& o = *conditions.Item(i);
      TNRDScanExpression* x = o.Expression != nullptr ? AsScanExpression(o.Expression) : nullptr;
      remain = o.Expression == nullptr || x == nullptr || !x->IsEmpty();
    }
  }

  bool Passes(void* record, const TNRDPageItemID& id) {
    for (std::int32_t i = 0; i < conditions.Count(); ++i) {
      if (i == scanNo || i == endNo) continue;
      if (!IsConditionSatisfied(table, cursor, *conditions.Item(i), record)) return false;
    }
    if (cursor.HasRecordFilter() && !CallFilterCallback(table, cursor, record, id)) return false;
    return true;
  }

  // Whether a bitmap with every record's bit set would be exact: positions 0 .. count - 1.
  bool DensePositions() {
    const std::int64_t count = table.RecordManager().FRecordCount;
    if (table.GetBitmapRecordCount(sessionID) != count) return false;
    TNRDNavigationInfo nav;
    nav.IndexID = -1;
    nav.RecordBuffer = buffer.get();
    nav.GetRecordMode = grmNext;
    nav.FirstPosition = true;
    table.RecordManager().GetRecordBuffer(sessionID, nav);
    if (nav.GetRecordResult != grrOK || table.RecordIDToBitmapRecNo(nav.RecordID) != 0) return false;
    TNRDNavigationInfo last;
    last.IndexID = -1;
    last.RecordBuffer = buffer.get();
    last.GetRecordMode = grmPrior;
    last.LastPosition = true;
    table.RecordManager().GetRecordBuffer(sessionID, last);
    return last.GetRecordResult == grrOK && table.RecordIDToBitmapRecNo(last.RecordID) == count - 1;
  }

  // Scan 1: no index chosen; records in the cursor's order.
  bool FullScan(TNRDPageItemID& found) {
    if (fillBitmap && bitmap != nullptr && conditions.Count() == 0 && !cursor.HasRecordFilter() && cursor.IndexID() == -1 &&
        DensePositions()) {
      bitmap->SetSize(table.RecordManager().FRecordCount);
      bitmap->SetAllBits();
      return false;
    }
    TNRDIndex* cursorIndex = cursor.IndexID() != -1 ? table.IndexManager().OpenIndex(cursor.IndexID()) : nullptr;
    std::unique_ptr<TPositionHolder> position;
    if (fillBitmap && bitmap != nullptr && bitmap->FIndexBased && cursorIndex != nullptr)
      position = std::make_unique<TPositionHolder>(cursorIndex);
    TNRDIndexPositionCache cache;
    TNRDNavigationInfo nav;
    nav.IndexID = cursor.IndexID();
    nav.RecordBuffer = buffer.get();
    if (restart) {
      nav.FirstPosition = goForward;
      nav.LastPosition = !goForward;
    } else {
      nav.RecordID = cursor.CurrentRecord();
      nav.FirstPosition = cursor.IsBeforeFirst();
      nav.LastPosition = cursor.IsAfterLast();
    }
    const std::int32_t tableState = table.RecordManager().FTableState;
    for (;;) {
      nav.GetRecordMode = goForward ? grmNext : grmPrior;
      if (nav.IndexID == -1) {
        if (!table.FRecordManager) throw ENRDException(10015, "Nil pointer occured");
        reader->Read(nav);
      } else {
        ReadRecord(table, sessionID, nav, tableState, &cache);
      }
      if (nav.GetRecordResult != grrOK) return false;
      if (!Passes(buffer.get(), nav.RecordID)) continue;
      if (!fillBitmap) {
        found = nav.RecordID;
        return true;
      }
      if (bitmap == nullptr) continue;
      if (position) {
        if (cursorIndex->GetIndexPosition(sessionID, nav.RecordID, buffer.get(), position->get()))
          bitmap->ShowRecord(cursor.IndexID(), *position->get());
      } else {
        bitmap->ShowRecord(nav.RecordID);
      }
    }
  }

  // Scan 2: the chosen index is the cursor's own.
  bool CursorIndexScan(TNRDPageItemID& found) {
    TNRDIndex* index = table.IndexManager().OpenIndex(conditions.Item(scanNo)->IndexID);
    const TNRDScanSearchCondition* start = conditions.Item(scanNo);
    const TNRDScanSearchCondition* end = endNo != -1 ? conditions.Item(endNo) : nullptr;
    TSearchInfoHolder info(index);
    TScratchBuffer current(RecordBufferSizeOf(table));
    TNRDPageItemID id;
    if (!restart) {
      id = cursor.CurrentRecord();
      if (!ReadPhysical(*reader, id, current.get())) return false;
    }
    std::unique_ptr<TPositionHolder> position;
    if (fillBitmap && bitmap != nullptr) position = std::make_unique<TPositionHolder>(index);
    bool first = restart;
    while (IndexFindRecord(index, sessionID, first, goForward, start, end, current.get(), id, info.get())) {
      first = false;
      if (remain || position) {
        if (!ReadPhysical(*reader, id, buffer.get())) continue;
        if (remain && !Passes(buffer.get(), id)) continue;
      }
      if (!fillBitmap) {
        found = id;
        return true;
      }
      if (position && index->GetIndexPosition(sessionID, id, buffer.get(), position->get()))
        bitmap->ShowRecord(cursor.IndexID(), *position->get());
    }
    return false;
  }

  // Scan 3: physical order through another index: the nearest match by record ID.
  bool PhysicalOrderScan(TNRDPageItemID& found) {
    TNRDIndex* index = table.IndexManager().OpenIndex(conditions.Item(scanNo)->IndexID);
    const TNRDScanSearchCondition* start = conditions.Item(scanNo);
    const TNRDScanSearchCondition* end = endNo != -1 ? conditions.Item(endNo) : nullptr;
    if (restart && bitmap != nullptr) ResetRecordBitmap(table, *bitmap, -1);
    // Sized once: the matches come in record order, and a bitmap grown to each new last bit would
    // be copied once per match.
    if (bitmap != nullptr) {
      const std::int64_t bits = table.GetBitmapRecordCount(sessionID);
      if (bitmap->Size() < bits && bits <= std::numeric_limits<std::int32_t>::max()) bitmap->SetSize(bits);
    }
    TSearchInfoHolder info(index);
    TScratchBuffer dummy(RecordBufferSizeOf(table));
    TNRDBaseRecordManager& records = table.RecordManager();
    TNRDPageItemID id, best;
    bool haveBest = false;
    bool first = true;
    // Every match is looked at; the direction is the one the start and end were ordered for.
    // Neither the bitmap nor the nearest match depends on the order in which they are looked at.
    std::vector<TNRDPageItemID> matches;
    while (IndexFindRecord(index, sessionID, first, goForward, start, end, dummy.get(), id, info.get())) {
      first = false;
      matches.push_back(id);
    }
    if (remain) matches = InRecordOrder(records, std::move(matches));
    for (const TNRDPageItemID& match : matches) {
      id = match;
      if (remain) {
        if (!ReadPhysical(*reader, id, buffer.get())) continue;
        if (!Passes(buffer.get(), id)) continue;
      }
      if (bitmap != nullptr) bitmap->ShowRecord(id);
      if (fillBitmap) continue;
      if (!restart) {
        const std::int32_t order = records.CompareRecordID(id, cursor.CurrentRecord());
        if (goForward ? order <= 0 : order >= 0) continue;
      }
      if (!haveBest || (goForward ? records.CompareRecordID(id, best) < 0 : records.CompareRecordID(id, best) > 0)) {
        best = id;
        haveBest = true;
      }
    }
    if (bitmap != nullptr && !fillBitmap && restart) bitmap->FActive = true;
    if (fillBitmap || !haveBest) return false;
    found = best;
    return true;
  }

  // Scan 4: the cursor's index differs from the chosen one: the nearest match in the cursor's order.
  bool OtherIndexScan(TNRDPageItemID& found) {
    TNRDIndex* index = table.IndexManager().OpenIndex(conditions.Item(scanNo)->IndexID);
    TNRDIndex* cursorIndex = table.IndexManager().OpenIndex(cursor.IndexID());
    const TNRDScanSearchCondition* start = conditions.Item(scanNo);
    const TNRDScanSearchCondition* end = endNo != -1 ? conditions.Item(endNo) : nullptr;
    TPositionHolder current(cursorIndex), candidate(cursorIndex), best(cursorIndex);
    if (!restart) {
      const TNRDPageItemID& id = cursor.CurrentRecord();
      auto fail = [&](int code) {
        throw ENRDException(code, "Cannot find record position in index %d, RecordID = %d %d",
                            {cursor.IndexID(), id.PageNo, static_cast<std::int32_t>(id.PageItemNo)});
      };
      if (!ReadPhysical(*reader, id, buffer.get())) fail(10387);
      if (!cursorIndex->GetIndexPosition(sessionID, id, buffer.get(), current.get())) fail(10386);
    }
    if (restart && bitmap != nullptr) ResetRecordBitmap(table, *bitmap, cursor.IndexID());
    TSearchInfoHolder info(index);
    TScratchBuffer dummy(RecordBufferSizeOf(table));
    TNRDPageItemID id, bestID;
    bool haveBest = false;
    bool first = true;
    // Every match is looked at; the direction is the one the start and end were ordered for.
    // Neither the bitmap nor the nearest match in the cursor's order depends on the order in which
    // they are looked at.
    std::vector<TNRDPageItemID> matches;
    while (IndexFindRecord(index, sessionID, first, goForward, start, end, dummy.get(), id, info.get())) {
      first = false;
      matches.push_back(id);
    }
    matches = InRecordOrder(table.RecordManager(), std::move(matches));
    for (const TNRDPageItemID& match : matches) {
      id = match;
      if (!ReadPhysical(*reader, id, buffer.get())) continue;
      if (remain && !Passes(buffer.get(), id)) continue;
      if (!cursorIndex->GetIndexPosition(sessionID, id, buffer.get(), candidate.get()))
        throw ENRDException(10432, "Cannot find record position in index %d, RecordID = %d %d",
                            {cursor.IndexID(), id.PageNo, static_cast<std::int32_t>(id.PageItemNo)});
      if (bitmap != nullptr) bitmap->ShowRecord(cursor.IndexID(), *candidate.get());
      if (fillBitmap) continue;
      if (!restart) {
        const std::int32_t order = cursorIndex->CompareRecordPositionsInIndex(candidate.get(), current.get());
        if (goForward ? order <= 0 : order >= 0) continue;
      }
      if (!haveBest) {
        best.swap(candidate);
        bestID = id;
        haveBest = true;
        continue;
      }
      const std::int32_t order = cursorIndex->CompareRecordPositionsInIndex(candidate.get(), best.get());
      if (goForward ? order < 0 : order > 0) {
        best.swap(candidate);
        bestID = id;
      }
    }
    if (bitmap != nullptr && !fillBitmap && restart) bitmap->FActive = true;
    if (fillBitmap || !haveBest) return false;
    found = bestID;
    return true;
  }
};

// The answer from an active bitmap alone.
bool BitmapWalk(TNRDTableData& table, TNRDCursor& cursor, TNRDRecordBitmap& bitmap, bool goForward, bool restart,
                TNRDPageItemID& found) {
  const std::int32_t sessionID = cursor.SessionID();
  if (!bitmap.FIndexBased) return bitmap.FindRecord(restart, goForward, cursor.CurrentRecord(), found);
  TNRDIndex* index = table.IndexManager().OpenIndex(cursor.IndexID());
  TPositionHolder current(index), next(index);
  if (!restart && !GetIndexPositionOfRecord(table, sessionID, cursor.IndexID(), current.get(), cursor.CurrentRecord()))
    return false;
  if (!bitmap.FindRecord(restart, goForward, restart ? nullptr : current.get(), *next.get(), cursor.IndexID()))
    return false;
  index->GetRecordIDByIndexPosition(sessionID, next.get(), found);
  return true;
}

void AddBoundCondition(TNRDScanSearchConditionArray& conditions, std::int32_t indexID, TNRDSearchCondition op,
                       const void* key, std::int32_t keySize, std::int32_t count) {
  TNRDScanSearchCondition c(true);
  c.IndexID = indexID;
  c.Condition = op;
  c.KeyRecordBuffer = const_cast<void*>(key);  // an external bound: the search only reads it
  c.KeyRecordBufferSize = keySize;
  c.KeyFieldCount = count;
  conditions.AddCondition(c);
}

}  // namespace

// ----- the driver -------------------------------------------------------------------------------------

bool SearchRecords(TNRDTableData& table, TNRDCursor& cursor, TNRDExpression* expression, bool fillBitmap,
                   TNRDRecordBitmap* bitmap, TNRDPageItemID& foundRecordID, bool goForward, bool restart,
                   const TNRDScanSearchCondition* keyCondition) {
  TNRDTableDataLock lock(table);
  if (keyCondition != nullptr && keyCondition->IndexID == -1)
    throw ENRDException(20258,
                        "No active index is set for Key search. Set Table.IndexName to the index on search fields.");
  if (table.RecordManager().FRecordCount == 0) return false;
  const std::int32_t sessionID = cursor.SessionID();
  if (bitmap != nullptr && (fillBitmap || bitmap->Outdated())) {
    ResetRecordBitmap(table, *bitmap, cursor.IndexID());
    if (fillBitmap) bitmap->SetSize(table.GetBitmapRecordCount(sessionID));
  }
  if (bitmap != nullptr && bitmap->FActive && !fillBitmap)
    return BitmapWalk(table, cursor, *bitmap, goForward, restart, foundRecordID);

  // A step through the cursor's own view whose last search chose no index: the plan would only
  // be made again (conditions built, merged and costed per record found), so the scan goes on
  // with the view's expressions as the plan would leave them.
  const bool viewOnly = keyCondition == nullptr && expression == nullptr && !fillBitmap &&
                        !(cursor.IsRangeApplied() && cursor.IndexID() != -1) &&
                        !(cursor.IsDistinctApplied() && cursor.IndexID() != -1);
  if (viewOnly && !restart && cursor.FullScanHint()) {
    TNRDScanSearchConditionArray plain;
    if (cursor.FilterExpression() != nullptr) plain.AddExpression(cursor.FilterExpression());
    if (cursor.SQLFilterExpression() != nullptr) plain.AddExpression(cursor.SQLFilterExpression());
    TScan scan(table, cursor, plain, false, bitmap, goForward, false, -1, -1);
    return scan.FullScan(foundRecordID);
  }

  TNRDScanSearchConditionArray conditions;
  if (keyCondition != nullptr) conditions.AddCondition(*keyCondition);
  if (expression != nullptr) conditions.AddExpression(expression);
  if (cursor.FilterExpression() != nullptr) conditions.AddExpression(cursor.FilterExpression());
  if (cursor.SQLFilterExpression() != nullptr) conditions.AddExpression(cursor.SQLFilterExpression());
  const std::int32_t keySize = cursor.KeyBufferSize() > 0 ? cursor.KeyBufferSize() : RecordBufferSizeOf(table);
  if (cursor.IsRangeApplied() && cursor.IndexID() != -1) {
    if (cursor.RangeStartBuffer() != nullptr)
      AddBoundCondition(conditions, cursor.IndexID(), cursor.RangeStartExclusive() ? scGreater : scGreaterEqual,
                        cursor.RangeStartBuffer(), keySize, cursor.RangeStartKeyFieldCount());
    if (cursor.RangeEndBuffer() != nullptr)
      AddBoundCondition(conditions, cursor.IndexID(), cursor.RangeEndExclusive() ? scLower : scLowerEqual,
                        cursor.RangeEndBuffer(), keySize, cursor.RangeEndKeyFieldCount());
  }
  if (cursor.IsDistinctApplied() && cursor.IndexID() != -1 && cursor.DistinctRecordBuffer() != nullptr &&
      !cursor.IsBeforeFirst() && !cursor.IsAfterLast())
    AddBoundCondition(conditions, cursor.IndexID(), goForward ? scGreater : scLower, cursor.DistinctRecordBuffer(),
                      RecordBufferSizeOf(table), cursor.DistinctFieldCount());

  conditions.CreateIndexScanConditionsFromExpressions(table.IndexManager().FIndexDefs, sessionID);
  bool contradiction = false;
  std::unique_ptr<TNRDScanSearchConditionArray> merged =
      MergeScanConditions(conditions, &CompareThroughIndex, &table, contradiction);
  if (contradiction) return false;

  std::int32_t scanNo = -1, endNo = -1;
  ChooseScanConditions(table, cursor, *merged, goForward, scanNo, endNo);
  if (scanNo >= merged->Count())
    throw ENRDException(10382, "Invalid condition number = %d, count = %d", {scanNo, merged->Count()});
  const bool otherOrder = scanNo != -1 && merged->Item(scanNo)->IndexID != cursor.IndexID();
  if (otherOrder && !restart && !fillBitmap) {
    // Continuing through another index's matches would enumerate all of them for every step.
    if (bitmap != nullptr && bitmap == cursor.RecordBitmap() && expression == nullptr && keyCondition == nullptr) {
      RebuildRecordBitmap(table, cursor);
      if (bitmap->FActive) return BitmapWalk(table, cursor, *bitmap, goForward, false, foundRecordID);
    }
    scanNo = -1;
    endNo = -1;
  }

  if (viewOnly) cursor.SetFullScanHint(scanNo == -1);
  merged->RemoveUnusedConditionsCreatedFromExpressions(scanNo, endNo);
  const std::int32_t extractScan = Extractable(table, *merged, scanNo);
  const std::int32_t extractEnd = Extractable(table, *merged, endNo);
  merged->ExtractChosenConditionsFromExpressions(extractScan, extractEnd);
  bool found = false;
  try {
    TScan scan(table, cursor, *merged, fillBitmap, bitmap, goForward, restart, scanNo, endNo);
    if (scanNo == -1)
      found = scan.FullScan(foundRecordID);
    else if (merged->Item(scanNo)->IndexID == cursor.IndexID())
      found = scan.CursorIndexScan(foundRecordID);
    else if (cursor.IndexID() == -1)
      found = scan.PhysicalOrderScan(foundRecordID);
    else
      found = scan.OtherIndexScan(foundRecordID);
  } catch (...) {
    merged->ReturnExtractedConditionsToExpressions(extractScan, extractEnd);
    throw;
  }
  merged->ReturnExtractedConditionsToExpressions(extractScan, extractEnd);

  if (bitmap != nullptr && fillBitmap) bitmap->FActive = true;
  if (bitmap != nullptr && restart && bitmap->FActive && cursor.IsDistinctApplied() && cursor.IndexID() != -1) {
    table.IndexManager().OpenIndex(cursor.IndexID())->ApplyDistinctToRecordBitmap(sessionID, bitmap,
                                                                                 cursor.DistinctFieldCount());
    // The scan's answer came before the groups were cut down; the bitmap now holds the view.
    if (!fillBitmap) found = BitmapWalk(table, cursor, *bitmap, goForward, true, foundRecordID);
  }
  return fillBitmap ? false : found;
}

}  // namespace nrd
