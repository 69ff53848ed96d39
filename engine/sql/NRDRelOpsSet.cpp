// The set operator (UNION [ALL], INTERSECT, EXCEPT) and the grouping operator.
#include <algorithm>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDNamedList.h"
#include "engine/sql/NRDRelOps.h"

namespace nrd::sql {

namespace {

bool IsComparableType(TNRDAdvancedFieldType t) {
  switch (t) {
    case aftUnknown:
    case aftBytes:
    case aftVarBytes:
    case aftBlob:
    case aftGraphic:
    case aftGuid:
      return false;
    default:
      return true;
  }
}

bool RowLessThan(const TNRDRow& a, const TNRDRow& b) {
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const int c = CompareForOrder(a[i], b[i]);
    if (c != 0) return c < 0;
  }
  return false;
}

std::string ShownName(const TNRDFieldLink& l) { return l.DisplayName.empty() ? l.FieldName : l.DisplayName; }

}  // namespace

// ----- set operator ------------------------------------------------------------------------------------

TNRDAOUnion::TNRDAOUnion(std::unique_ptr<TNRDAO> left, std::unique_ptr<TNRDAO> right, TNRDUnionType unionType,
                         TNRDAO* parentQueryAO, TNRDCursor*, bool isCorresponding, bool distinct,
                         const TNRDFields* fieldList)
    : FUnionType(unionType), FDistinct(distinct) {
  InitAO(std::move(left), std::move(right), "", "");
  FParentQueryAO = parentQueryAO;
  const std::vector<std::int32_t> lOut = FLeftAO->OutputLinks(), rOut = FRightAO->OutputLinks();
  auto findRight = [&](const std::string& name) -> std::int32_t {
    for (std::int32_t r : rOut)
      if (SameText(ShownName(FRightAO->Link(r)), name)) return r;
    return -1;
  };
  auto findLeft = [&](const std::string& name) -> std::int32_t {
    for (std::int32_t l : lOut)
      if (SameText(ShownName(FLeftAO->Link(l)), name)) return l;
    return -1;
  };
  std::vector<std::pair<std::int32_t, std::int32_t>> pairs;
  if (fieldList == nullptr) {
    for (std::size_t i = 0; i < lOut.size(); ++i) {
      std::int32_t r = -1;
      if (isCorresponding)
        r = findRight(ShownName(FLeftAO->Link(lOut[i])));
      else if (i < rOut.size())
        r = rOut[i];
      if (r >= 0) pairs.emplace_back(lOut[i], r);
    }
  } else {
    if (fieldList->ItemCount() == 0) throw ENRDException(10337, "Empty field list, item count = %d", {0});
    for (const TNRDSelectListItem& item : fieldList->Items) {
      const std::int32_t l = findLeft(item.FieldName), r = findRight(item.FieldName);
      if (l >= 0 && r >= 0) pairs.emplace_back(l, r);
    }
  }
  const bool keepAll = unionType == autUnion;
  std::vector<std::string> names;
  for (const auto& [l, r] : pairs) {
    const TNRDFieldLink& a = FLeftAO->Link(l);
    const TNRDFieldLink& b = FRightAO->Link(r);
    if (!keepAll && (!IsComparableType(a.FieldType) || !IsComparableType(b.FieldType))) continue;
    TNRDFieldLink link;
    link.FieldName = ShownName(a);
    link.DisplayName = link.FieldName;
    link.FieldType = a.FieldType;
    link.FieldSize = std::max(a.FieldSize, b.FieldSize);
    link.FieldPrecision = a.FieldPrecision;
    link.BLOBCompressionAlgorithm = a.BLOBCompressionAlgorithm;
    link.BLOBCompressionMode = a.BLOBCompressionMode;
    link.BLOBBlockSize = a.BLOBBlockSize;
    link.AO = FLeftAO.get();
    link.FieldNo = l;
    link.IsHidden = false;
    FFieldLinks.push_back(std::move(link));
    FResultFieldsOrder.push_back(FieldCount() - 1);
    FFields1.push_back(l);
    FFields2.push_back(r);
    names.push_back(FFieldLinks.back().FieldName);
  }
  if (FFields1.empty()) throw ENRDException(10339, "Empty field list, item count = %d", {0});
  // Two output columns of one name: the later ones get a suffix, as the result table needs.
  for (std::size_t i = 1; i < FFieldLinks.size(); ++i)
    for (std::size_t k = 0; k < i; ++k)
      if (SameText(FFieldLinks[i].FieldName, FFieldLinks[k].FieldName)) {
        FFieldLinks[i].FieldName += "_" + std::to_string(i);
        FFieldLinks[i].DisplayName = FFieldLinks[i].FieldName;
        names[i] = FFieldLinks[i].FieldName;
        k = 0;
      }
  FHasSetResultFields = true;
  if (distinct) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) list += (i > 0 ? ";" : "") + names[i];
    ApplyDistinct(list);
  }
}

void TNRDAOUnion::Execute(bool isRootAO, TNRDAO* parentQueryAO, TNRDCursor* parentCursor) {
  TNRDAO::Execute(isRootAO, parentQueryAO, parentCursor);
}

TNRDRow TNRDAOUnion::PairedRow(TNRDAO& child, const std::vector<std::int32_t>& links) {
  TNRDRow row(links.size());
  for (std::size_t i = 0; i < links.size(); ++i) child.GetFieldValue(row[i], links[i], true);
  return row;
}

void TNRDAOUnion::ReadChildLink(const TNRDFieldLink& link, TNRDVariant& value) {
  if (FShowLeft) {
    link.AO->GetFieldValue(value, link.FieldNo, true);
    return;
  }
  const std::size_t pair = static_cast<std::size_t>(&link - FFieldLinks.data());
  if (pair < FFields2.size())
    FRightAO->GetFieldValue(value, FFields2[pair], true);
  else
    value.Clear(bftUnknown);
}

void TNRDAOUnion::SkipLeftRows() {
  while (!FLeftAO->GetEof()) {
    const TNRDRow row = PairedRow(*FLeftAO, FFields1);
    const bool found = std::binary_search(FRightRows.begin(), FRightRows.end(), row, RowLessThan);
    if (found == (FUnionType == autIntersect)) return;
    FLeftAO->Next();
  }
}

void TNRDAOUnion::InternalFirst() {
  FShowLeft = true;
  FEof = false;
  if (FUnionType == autUnion) {
    FLeftAO->First();
    if (FLeftAO->GetEof()) {
      FShowLeft = false;
      FRightAO->First();
    }
    return;
  }
  if (FUnionType != autIntersect && FUnionType != autExcept)
    throw ENRDException(10336, "Invalid union type = %d", {static_cast<int>(FUnionType)});
  FRightRows.clear();
  for (FRightAO->First(); !FRightAO->GetEof(); FRightAO->Next()) FRightRows.push_back(PairedRow(*FRightAO, FFields2));
  std::sort(FRightRows.begin(), FRightRows.end(), RowLessThan);
  FLeftAO->First();
  SkipLeftRows();
}

void TNRDAOUnion::InternalNext() {
  if (InternalGetEof()) return;
  if (FUnionType == autUnion) {
    if (FShowLeft) {
      FLeftAO->Next();
      if (FLeftAO->GetEof()) {
        FShowLeft = false;
        FRightAO->First();
      }
    } else {
      FRightAO->Next();
    }
    return;
  }
  FLeftAO->Next();
  SkipLeftRows();
}

bool TNRDAOUnion::InternalGetEof() {
  if (FEof) return true;
  if (FUnionType == autUnion) return !FShowLeft && FRightAO->GetEof();
  return FLeftAO->GetEof();
}

// ----- grouping --------------------------------------------------------------------------------------

TNRDAOGroupBy::TNRDAOGroupBy(std::unique_ptr<TNRDAO> child, const TNRDFields* fieldList,
                             std::vector<TNRDSelectListItem>& fieldRefs) {
  InitAO(std::move(child), nullptr, "", "");
  FIsAOGroupBy = true;
  FAllFields = fieldList == nullptr || fieldList->ItemCount() == 0;
  for (std::int32_t i = 0; i < FLeftAO->FieldCount(); ++i) AddChildLink(FLeftAO.get(), i, false);
  if (!FAllFields) {
    std::vector<std::string> names;
    for (std::int32_t i = 0; i < fieldList->ItemCount(); ++i) {
      const TNRDSelectListItem& item = fieldList->Items[static_cast<std::size_t>(i)];
      std::vector<std::int32_t> found;
      std::int32_t n = FieldExists(item.FieldName, item.TableName, true, &found);
      if (n == 0) {
        for (const TNRDSelectListItem& ref : fieldRefs)
          if (!ref.Pseudonym.empty() && SameText(ref.Pseudonym, item.FieldName) &&
              !(ref.IsExpression && ref.ValueExpr && ref.ValueExpr->IsAggregated())) {
            n = FieldExists(ref.FieldName, ref.TableName, true, &found);
            break;
          }
      }
      if (n == 0 || found.empty())
        throw ENRDException(20245, "Invalid field for 'GROUP BY.' Table name = '%s', FieldName = '%s', i = %d, FieldExists = %d",
                            {item.TableName, item.FieldName, i, n});
      FFields.push_back(found.front());
      names.push_back(FFieldLinks[static_cast<std::size_t>(found.front())].FieldName);
      // Group columns are read but shown only when selected.
      FFieldLinks[static_cast<std::size_t>(found.front())].IsHidden = true;
    }
    for (std::size_t i = 0; i < names.size(); ++i) GroupByFields += (i > 0 ? ";" : "") + names[i];
  }
}

void TNRDAOGroupBy::SetResultFields(std::vector<TNRDSelectListItem>& fieldRefs, bool) {
  TNRDAO::SetResultFields(fieldRefs, false);
  for (std::int32_t no : FResultFieldsOrder) {
    TNRDFieldLink& l = FFieldLinks[static_cast<std::size_t>(no)];
    if (l.IsExpression && l.Expr && !l.Expr->CanBeUsedInGroupBy(GroupByFields))
      throw ENRDException(20269,
                          "Expression (Name=\"%s\", DisplayName=\"%s\") cannot be used with GROUP BY. Possibly expression is "
                          "not aggregate, but it uses fields not included into group fields",
                          {l.FieldName, l.DisplayName});
  }
  for (const TNRDSelectListItem& item : fieldRefs) {
    if (item.IsExpression || item.AllFields || item.FieldName.empty()) continue;
    std::vector<std::int32_t> found;
    if (FieldExists(item.FieldName, item.TableName, false, &found) == 0)
      throw ENRDException(10341, "Cannot find field %s in table %s", {item.FieldName, item.TableName});
    for (std::int32_t f : found) {
      const TNRDFieldLink& l = FFieldLinks[static_cast<std::size_t>(f)];
      if (l.IsExpression) continue;
      std::int32_t source = f;
      if (l.AO == nullptr && l.Dataset == nullptr) continue;
      bool grouped = std::find(FFields.begin(), FFields.end(), source) != FFields.end();
      // A repeated selection of a group column reads the same child column.
      if (!grouped && l.AO == FLeftAO.get())
        for (std::int32_t g : FFields)
          if (FFieldLinks[static_cast<std::size_t>(g)].AO == l.AO && FFieldLinks[static_cast<std::size_t>(g)].FieldNo == l.FieldNo)
            grouped = true;
      if (!grouped)
        throw ENRDException(10342,
                            "Field is not included in GROUP BY list. Table name = '%s', Field name = '%s', FieldNo = %d, Found "
                            "field name = '%s'",
                            {item.TableName, item.FieldName, f, l.FieldName});
    }
  }
}

void TNRDAOGroupBy::Execute(bool isRootAO, TNRDAO* parentQueryAO, TNRDCursor* parentCursor) {
  TNRDAO::Execute(isRootAO, parentQueryAO, parentCursor);
}

void TNRDAOGroupBy::ReadChildLink(const TNRDFieldLink& link, TNRDVariant& value) {
  if (link.AO != FLeftAO.get()) {
    value.Clear(bftUnknown);
  } else if (FReadingInput) {
    FLeftAO->GetFieldValue(value, link.FieldNo, true);
  } else if (FCurrent >= 0) {
    CopyValue(value, FGroups[static_cast<std::size_t>(FCurrent)].row[static_cast<std::size_t>(link.FieldNo)]);
  } else {
    value.Clear(bftUnknown);
  }
}

bool TNRDAOGroupBy::TGroupLess::operator()(std::size_t a, std::size_t b) const {
  const TNRDRow& x = a == kProbe ? owner->FProbe : owner->FGroups[a].row;
  const TNRDRow& y = b == kProbe ? owner->FProbe : owner->FGroups[b].row;
  for (std::size_t k = 0; k < owner->FKeys.size(); ++k) {
    const std::size_t column = a == kProbe ? k : owner->FKeys[k];
    const std::size_t other = b == kProbe ? k : owner->FKeys[k];
    const int c = CompareForOrder(x[column], y[other]);
    if (c != 0) return c < 0;
  }
  return false;
}

void TNRDAOGroupBy::InitGroup() {
  if (FFilterExpr) FFilterExpr->Init();
  for (TNRDFieldLink& l : FFieldLinks)
    if (l.IsAggregate && l.Expr) l.Expr->Init();
}

void TNRDAOGroupBy::AccumulateRow() {
  if (FFilterExpr) FFilterExpr->Accumulate();
  for (TNRDFieldLink& l : FFieldLinks)
    if (l.IsAggregate && l.Expr) l.Expr->Accumulate();
}

void TNRDAOGroupBy::LoadGroup(std::int64_t no) {
  if (no == FLoaded) return;
  // The nodes hold the loaded group's states; its slots hold what they held before it was loaded.
  if (FLoaded >= 0) {
    auto& states = FGroups[static_cast<std::size_t>(FLoaded)].states;
    for (std::size_t i = 0; i < FAggregates.size(); ++i) FAggregates[i]->SwapGroupState(states[i]);
  }
  auto& states = FGroups[static_cast<std::size_t>(no)].states;
  for (std::size_t i = 0; i < FAggregates.size(); ++i) FAggregates[i]->SwapGroupState(states[i]);
  FLoaded = no;
}

// The input is read once, in its order; each row is placed in its group through an ordered set
// of the groups met so far and accumulated into that group's aggregate states. A group's rows are
// thus accumulated in input order and its columns come from its last input row, as a stable sort
// on the group links followed by one pass would give, without keeping or sorting the input.
void TNRDAOGroupBy::InternalFirst() {
  FGroups.clear();
  FOrder.clear();
  FPos = 0;
  FCurrent = -1;
  FLoaded = -1;
  FEOF = false;
  // SELECT COUNT(*) over a whole unfiltered table reads no row.
  bool countOnly = FAllFields && FLeftAO->FIsAOTable && !static_cast<TNRDAOTable*>(FLeftAO.get())->HasCursorFilter() &&
                   !FFilterExpr;
  bool anyAggregate = false;
  for (TNRDFieldLink& l : FFieldLinks)
    if (l.IsAggregate && l.Expr) {
      anyAggregate = true;
      if (!l.Expr->IsAggregatedCountAll()) countOnly = false;
    } else if (!l.IsHidden && l.IsExpression) {
      countOnly = false;
    }
  FCountOnly = countOnly && anyAggregate;
  InitGroup();
  if (FCountOnly) {
    const std::int64_t n = FLeftAO->GetRecordCount();
    for (TNRDFieldLink& l : FFieldLinks)
      if (l.IsAggregate && l.Expr) l.Expr->SetCountAll(n);
    return;
  }
  FAggregates.clear();
  if (FFilterExpr) TNRDExprNodeAggregated::Collect(FFilterExpr->Root(), FAggregates);
  for (TNRDFieldLink& l : FFieldLinks)
    if (l.IsAggregate && l.Expr) TNRDExprNodeAggregated::Collect(l.Expr->Root(), FAggregates);
  // Only the child columns something reads are kept.
  std::vector<bool> needed(static_cast<std::size_t>(FLeftAO->FieldCount()), false);
  for (const TNRDFieldLink& l : FFieldLinks)
    if (l.AO == FLeftAO.get() && !l.IsHidden) needed[static_cast<std::size_t>(l.FieldNo)] = true;
  FKeys.clear();
  for (std::int32_t g : FFields) {
    const auto column = static_cast<std::size_t>(FFieldLinks[static_cast<std::size_t>(g)].FieldNo);
    needed[column] = true;
    FKeys.push_back(column);
  }
  FProbe.clear();
  FProbe.resize(FKeys.size());
  auto newGroup = [&] {
    FGroups.emplace_back();
    FGroups.back().row.resize(needed.size());
    FGroups.back().states.resize(FAggregates.size());
    return static_cast<std::int64_t>(FGroups.size() - 1);
  };
  std::set<std::size_t, TGroupLess> groups(TGroupLess{this});
  // The whole input is one group when there are no group links, also when it is empty.
  if (FAllFields) newGroup();
  FReadingInput = true;
  try {
    for (FLeftAO->First(); !FLeftAO->GetEof(); FLeftAO->Next()) {
      std::int64_t no = 0;
      bool fresh = false;
      if (!FAllFields) {
        for (std::size_t k = 0; k < FKeys.size(); ++k)
          FLeftAO->GetFieldValue(FProbe[k], static_cast<std::int32_t>(FKeys[k]), true);
        const auto found = groups.find(TGroupLess::kProbe);
        fresh = found == groups.end();
        no = fresh ? newGroup() : static_cast<std::int64_t>(*found);
      }
      // A group's links change only to values that compare equal, so its place in the set holds.
      TNRDRow& row = FGroups[static_cast<std::size_t>(no)].row;
      for (std::size_t i = 0; i < needed.size(); ++i)
        if (needed[i]) FLeftAO->GetFieldValue(row[i], static_cast<std::int32_t>(i), true);
      if (fresh) groups.insert(static_cast<std::size_t>(no));
      LoadGroup(no);
      AccumulateRow();
    }
  } catch (...) {
    FReadingInput = false;
    throw;
  }
  FReadingInput = false;
  if (FAllFields) {
    // An empty input shows NULL columns and the aggregates as Init left them.
    FCurrent = FLoaded;
    return;
  }
  FOrder.assign(groups.begin(), groups.end());
  ShowGroup();
}

void TNRDAOGroupBy::ShowGroup() {
  if (FPos >= FOrder.size()) {
    FEOF = true;
    FCurrent = -1;
    return;
  }
  FCurrent = static_cast<std::int64_t>(FOrder[FPos++]);
  LoadGroup(FCurrent);
}

void TNRDAOGroupBy::InternalNext() {
  if (FEOF) return;
  if (FAllFields || FCountOnly) {
    FEOF = true;
    return;
  }
  ShowGroup();
}

bool TNRDAOGroupBy::InternalGetEof() { return FEOF; }

std::int64_t TNRDAOGroupBy::InternalGetRecordCount() { return FLeftAO->GetRecordCount(); }

}  // namespace nrd::sql
