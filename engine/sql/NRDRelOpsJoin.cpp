// The join operator. One input (the driving one) is streamed; the other (the scanned one) is read
// once into memory and sorted on the join keys, so each driving row finds its partners by binary
// search instead of a rescan: a keyed join costs n log m, whatever the key repetitions. Without
// keys every pair is tested with the join condition.
#include <algorithm>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDNamedList.h"
#include "engine/sql/NRDRelOps.h"

namespace nrd::sql {

namespace {

// The join link of the child's link `childNo`, -1 when none.
std::int32_t JoinLinkOf(const std::vector<TNRDFieldLink>& links, const TNRDAO* child, std::int32_t childNo) {
  for (std::size_t i = 0; i < links.size(); ++i)
    if (links[i].AO == child && links[i].FieldNo == childNo) return static_cast<std::int32_t>(i);
  return -1;
}

}  // namespace

TNRDAOJoin::TNRDAOJoin(std::unique_ptr<TNRDAO> left, std::unique_ptr<TNRDAO> right, TNRDJoinType joinType,
                       bool isNatural, const TNRDFields* fieldList1, const TNRDFields* fieldList2,
                       std::unique_ptr<TNRDExpression> joinCondition) {
  InitAO(std::move(left), std::move(right), "", "");
  const bool noKeys = (fieldList1 == nullptr || fieldList1->ItemCount() == 0) &&
                      (fieldList2 == nullptr || fieldList2->ItemCount() == 0);
  if (joinType == ajtInner && !joinCondition && noKeys && !isNatural) joinType = ajtCross;
  FJoinType = joinType;
  FJoinCondition = std::move(joinCondition);
  FInnerJoin = joinType == ajtInner;
  FDekart = joinType == ajtCross;
  FOuterJoin = joinType == ajtLeftOuter || joinType == ajtRightOuter || joinType == ajtFullOuter;
  const std::int32_t n1 = fieldList1 != nullptr ? fieldList1->ItemCount() : 0;
  const std::int32_t n2 = fieldList2 != nullptr ? fieldList2->ItemCount() : 0;
  if (!FDekart && !isNatural && n1 != n2)
    throw ENRDException(10330, "Error - different list lengths. L1 = %d, L2 = %d", {n1, n2});
  for (std::int32_t i = 0; i < FLeftAO->FieldCount(); ++i) AddChildLink(FLeftAO.get(), i, true);
  for (std::int32_t i = 0; i < FRightAO->FieldCount(); ++i) AddChildLink(FRightAO.get(), i, true);
  for (TNRDFieldLink& l : FFieldLinks) l.FieldName = l.AO->Link(l.FieldNo).FieldName;

  if (isNatural) {
    const std::int32_t leftCount = FLeftAO->FieldCount();
    for (std::int32_t r = leftCount; r < FieldCount(); ++r)
      for (std::int32_t l = 0; l < leftCount; ++l) {
        if (!SameText(FFieldLinks[static_cast<std::size_t>(r)].FieldName, FFieldLinks[static_cast<std::size_t>(l)].FieldName))
          continue;
        FFields1.push_back(l);
        FFields2.push_back(r);
        for (std::int32_t k : {l, r}) {
          TNRDFieldLink& link = FFieldLinks[static_cast<std::size_t>(k)];
          link.IsHidden = false;
          link.AO->FieldExists(link.AO->Link(link.FieldNo).FieldName, "", true, nullptr);
        }
        break;
      }
  } else if (!FDekart) {
    // A key column of the first list is looked up in the left input first, one of the second list
    // in the right input first (USING names the same column on both sides).
    auto resolve = [&](const TNRDSelectListItem& item, std::int32_t i, int code) {
      const bool rightFirst = code == 10332;
      for (TNRDAO* child : {rightFirst ? FRightAO.get() : FLeftAO.get(), rightFirst ? FLeftAO.get() : FRightAO.get()}) {
        std::vector<std::int32_t> found;
        const std::int32_t n = child->FieldExists(item.FieldName, item.TableName, true, &found);
        if (n == 0) continue;
        if (n != 1)
          throw ENRDException(code, "Invalid field for join operation. Table name = '%s', FieldName = '%s', i = %d, FieldExists = %d",
                              {item.TableName, item.FieldName, i, n});
        const std::int32_t link = JoinLinkOf(FFieldLinks, child, found.front());
        FFieldLinks[static_cast<std::size_t>(link)].IsHidden = false;
        return link;
      }
      throw ENRDException(code, "Invalid field for join operation. Table name = '%s', FieldName = '%s', i = %d, FieldExists = %d",
                          {item.TableName, item.FieldName, i, 0});
    };
    for (std::int32_t i = 0; i < n1; ++i)
      FFields1.push_back(resolve(fieldList1->Items[static_cast<std::size_t>(i)], i, 10331));
    for (std::int32_t i = 0; i < n2; ++i)
      FFields2.push_back(resolve(fieldList2->Items[static_cast<std::size_t>(i)], i, 10332));
    if (FFields1.size() != FFields2.size())
      throw ENRDException(10332, "Error - different list lengths. L1 = %d, L2 = %d", {FFields1.size(), FFields2.size()});
    for (std::size_t i = 0; i < FFields1.size(); ++i) {
      const TNRDFieldLink& a = FFieldLinks[static_cast<std::size_t>(FFields1[i])];
      const TNRDFieldLink& b = FFieldLinks[static_cast<std::size_t>(FFields2[i])];
      if (a.AO == b.AO)
        throw ENRDException(10334, "Both join fields are from the same table. Field1 = '%s', Field2 = '%s', No1 = %d, No2 = %d.",
                            {a.FieldName, b.FieldName, FFields1[i], FFields2[i]});
      if (a.AO == FRightAO.get()) std::swap(FFields1[i], FFields2[i]);
    }
  }
  FFieldsLink = !FFields1.empty();
  MakeFieldNamesUnique();
  if (FJoinCondition) FJoinCondition->AssignAO(this, nullptr);
  FIsMaterialized = false;
}

void TNRDAOJoin::Execute(bool isRootAO, TNRDAO* parentQueryAO, TNRDCursor* parentCursor) {
  if (FJoinCondition) FJoinCondition->AssignAO(this, parentQueryAO);
  TNRDAO::Execute(isRootAO, parentQueryAO, parentCursor);
}

void TNRDAOJoin::BufferScanned() {
  TNRDAO& s = FDrivingIsLeft ? *FRightAO : *FLeftAO;
  const std::vector<std::int32_t>& keyJoinLinks = FDrivingIsLeft ? FFields2 : FFields1;
  FScanned = Buffered();
  for (std::int32_t k : keyJoinLinks) FScanned.keyLinks.push_back(FFieldLinks[static_cast<std::size_t>(k)].FieldNo);
  // Only the child columns something reads are kept.
  std::vector<bool> needed(static_cast<std::size_t>(s.FieldCount()), false);
  for (const TNRDFieldLink& l : FFieldLinks)
    if (l.AO == &s && !l.IsHidden) needed[static_cast<std::size_t>(l.FieldNo)] = true;
  for (std::int32_t k : FScanned.keyLinks) needed[static_cast<std::size_t>(k)] = true;
  TNRDVariant value;
  for (s.First(); !s.GetEof(); s.Next()) {
    ++FScannedRowsRead;
    TNRDRow row(needed.size());
    for (std::size_t i = 0; i < needed.size(); ++i)
      if (needed[i]) {
        s.GetFieldValue(value, static_cast<std::int32_t>(i), true);
        FScanned.store.Keep(row[i], value);
      }
    FScanned.rows.push_back(std::move(row));
  }
  std::vector<std::size_t> keys;
  if (FFieldsLink)
    for (std::int32_t k : FScanned.keyLinks) keys.push_back(static_cast<std::size_t>(k));
  FScanned.order = SortedRowOrder(FScanned.rows, keys, std::vector<bool>(keys.size(), false));
  if (keys.size() == 1) {
    // A driving row's partners are then found by a search over plain integers.
    FScanned.intKeys = true;
    FScanned.intKeysFrom = 0;
    FScanned.keys.clear();
    FScanned.keys.reserve(FScanned.order.size());
    for (std::size_t r : FScanned.order) {
      const TNRDVariant& v = FScanned.rows[r][keys[0]];
      std::int64_t x = 0;
      if (v.IsNull()) {
        ++FScanned.intKeysFrom;  // NULLs sort first
      } else if (ReadStoredInteger(v, x)) {
        FScanned.keys.push_back(x);
      } else {
        FScanned.intKeys = false;
        FScanned.keys.clear();
        break;
      }
    }
  }
  FScanned.matched.assign(FScanned.rows.size(), false);
}

void TNRDAOJoin::ReadChildLink(const TNRDFieldLink& link, TNRDVariant& value) {
  TNRDAO* scanned = FDrivingIsLeft ? FRightAO.get() : FLeftAO.get();
  if (link.AO == scanned) {
    if (FScannedRow >= 0)
      CopyValue(value, FScanned.rows[static_cast<std::size_t>(FScannedRow)][static_cast<std::size_t>(link.FieldNo)]);
    else
      value.Clear(bftUnknown);
    return;
  }
  link.AO->GetFieldValue(value, link.FieldNo, true);
}

bool TNRDAOJoin::ConditionHolds() {
  if (!FJoinCondition) return true;
  const bool l = FLeftAONull, r = FRightAONull;
  FLeftAONull = FRightAONull = false;
  bool ok = false;
  try {
    TNRDVariant* v = FJoinCondition->GetValue(false);
    ok = v != nullptr && !v->IsNull() && v->AsBoolean();
  } catch (...) {
    FLeftAONull = l;
    FRightAONull = r;
    throw;
  }
  FLeftAONull = l;
  FRightAONull = r;
  return ok;
}

bool TNRDAOJoin::KeysOfDrivingRow(TNRDRow& keys) {
  const std::vector<std::int32_t>& links = FDrivingIsLeft ? FFields1 : FFields2;
  keys.resize(links.size());
  for (std::size_t i = 0; i < links.size(); ++i) {
    const TNRDFieldLink& l = FFieldLinks[static_cast<std::size_t>(links[i])];
    try {
      l.AO->GetFieldValue(keys[i], l.FieldNo, true);
    } catch (const ENRDException& e) {
      throw ENRDException(10328, "Cannot compare values for fields: %s, %s. Error: %s",
                          {l.FieldName, FFieldLinks[static_cast<std::size_t>((FDrivingIsLeft ? FFields2 : FFields1)[i])].FieldName,
                           std::string(e.what())});
    }
    if (keys[i].IsNull()) return false;  // a NULL key matches nothing
  }
  return true;
}

void TNRDAOJoin::InternalFirst() {
  FDrivingIsLeft = FJoinType != ajtRightOuter;
  TNRDAO& driving = FDrivingIsLeft ? *FLeftAO : *FRightAO;
  BufferScanned();
  driving.First();
  FEof = false;
  FInRightRest = false;
  FDrivingStarted = false;
  FScannedRow = -1;
  FLeftAONull = FRightAONull = false;
  FEof = !Step();
}

void TNRDAOJoin::InternalNext() {
  if (FEof) return;
  FEof = !Step();
}

bool TNRDAOJoin::InternalGetEof() { return FEof; }

std::int64_t TNRDAOJoin::InternalGetRecordCount() {
  if (FDekart) return FLeftAO->GetRecordCount() * FRightAO->GetRecordCount();
  return 0;
}

bool TNRDAOJoin::Step() {
  TNRDAO& driving = FDrivingIsLeft ? *FLeftAO : *FRightAO;
  bool& drivingNull = FDrivingIsLeft ? FLeftAONull : FRightAONull;
  bool& scannedNull = FDrivingIsLeft ? FRightAONull : FLeftAONull;
  const bool outer = FOuterJoin;
  while (true) {
    drivingNull = scannedNull = false;
    if (FInRightRest) {
      // A full join's scanned rows that found no partner, with the driving side NULL.
      while (FRangePos < FScanned.rows.size() && FScanned.matched[FRangePos]) {
        ++FRangePos;
        ++FScannedRowsRead;
      }
      if (FRangePos >= FScanned.rows.size()) return false;
      FScannedRow = static_cast<std::int64_t>(FRangePos++);
      drivingNull = true;
      return true;
    }
    if (driving.GetEof()) {
      if (FJoinType == ajtFullOuter) {
        FInRightRest = true;
        FRangePos = 0;
        continue;
      }
      return false;
    }
    if (!FDrivingStarted) {
      FDrivingStarted = true;
      FDrivingMatched = false;
      if (!FFieldsLink) {
        FRangeBegin = 0;
        FRangeEnd = FScanned.order.size();
      } else {
        TNRDRow& keys = FDrivingKeys;
        std::int64_t key = 0;
        if (!KeysOfDrivingRow(keys)) {
          FRangeBegin = FRangeEnd = 0;
        } else if (FScanned.intKeys && ReadStoredInteger(keys[0], key)) {
          // Integers compare by value whatever their widths, as the general comparison does.
          const auto range = std::equal_range(FScanned.keys.begin(), FScanned.keys.end(), key);
          FRangeBegin = FScanned.intKeysFrom + static_cast<std::size_t>(range.first - FScanned.keys.begin());
          FRangeEnd = FScanned.intKeysFrom + static_cast<std::size_t>(range.second - FScanned.keys.begin());
        } else {
          const std::vector<std::int32_t>& kl = FScanned.keyLinks;
          auto rowVsKey = [&](std::size_t r) {
            for (std::size_t i = 0; i < kl.size(); ++i) {
              const int c = CompareForOrder(FScanned.rows[r][static_cast<std::size_t>(kl[i])], keys[i]);
              if (c != 0) return c;
            }
            return 0;
          };
          const auto lo = std::lower_bound(FScanned.order.begin(), FScanned.order.end(), keys,
                                           [&](std::size_t r, const TNRDRow&) { return rowVsKey(r) < 0; });
          const auto hi = std::upper_bound(lo, FScanned.order.end(), keys,
                                           [&](const TNRDRow&, std::size_t r) { return rowVsKey(r) > 0; });
          FRangeBegin = static_cast<std::size_t>(lo - FScanned.order.begin());
          FRangeEnd = static_cast<std::size_t>(hi - FScanned.order.begin());
        }
      }
      FRangePos = FRangeBegin;
    }
    while (FRangePos < FRangeEnd) {
      const std::size_t r = FScanned.order[FRangePos++];
      ++FScannedRowsRead;
      FScannedRow = static_cast<std::int64_t>(r);
      if (ConditionHolds()) {
        FDrivingMatched = true;
        if (FJoinType == ajtFullOuter) FScanned.matched[r] = true;
        return true;
      }
    }
    // The driving row is done: an outer join shows it once when nothing matched.
    FDrivingStarted = false;
    FScannedRow = -1;
    if (outer && !FDrivingMatched) {
      FDrivingMatched = true;
      FDrivingStarted = true;
      FRangePos = FRangeEnd;
      scannedNull = true;
      // The next call moves on to the next driving row.
      FRangeBegin = FRangeEnd;
      return true;
    }
    driving.Next();
  }
}

}  // namespace nrd::sql
