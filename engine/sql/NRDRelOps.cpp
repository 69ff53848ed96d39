// The relational operator base and the table leaf: links, name lookup, the streaming of filter,
// DISTINCT and TOP, and the writing of the root's result table.
#include "engine/sql/NRDRelOps.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "engine/components/NRDTable.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDNamedList.h"
#include "engine/foundation/NRDRuntime.h"
#include "engine/storage/NRDCursor.h"

namespace nrd::sql {

namespace {

std::string Upper(std::string_view s) { return AnsiUpperCase(s); }

std::string NewGuidName(const char* prefix) {
  std::string g = GUIDToString(CreateGUID());
  // Names are plain identifiers: keep the hexadecimal digits.
  std::string out = prefix;
  for (char c : g)
    if (c != '{' && c != '}' && c != '-') out += c;
  return out;
}

std::string JoinList(const std::vector<std::string>& items) {
  std::string s;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) s += ';';
    s += items[i];
  }
  return s;
}

}  // namespace

// A copy into `dest` that keeps dest's own buffer when it has the size of the value: reading the
// same column row after row then allocates nothing.
void CopyValue(TNRDVariant& dest, const TNRDVariant& source) {
  if (&dest == &source) return;
  if (source.IsNull()) {
    dest.Clear(source.DataType());
    return;
  }
  dest.SetData(source.pData(), source.DataSize(), source.DataType(), true);
}

void TNRDRowStore::Keep(TNRDVariant& slot, const TNRDVariant& value) {
  if (value.IsNull()) {
    slot.Clear(value.DataType());
    return;
  }
  const auto size = static_cast<std::size_t>(value.DataSize());
  // Eight-byte steps keep every kept value aligned as a block of its own would be.
  const std::size_t step = (size + 7) & ~static_cast<std::size_t>(7);
  if (FBlocks.empty() || FBlockSize - FUsed < step) {
    constexpr std::size_t kBlockSize = 64 * 1024;
    FBlockSize = std::max(kBlockSize, step);
    FBlocks.push_back(std::make_unique<std::uint8_t[]>(FBlockSize));
    FUsed = 0;
  }
  std::uint8_t* p = FBlocks.back().get() + FUsed;
  std::memcpy(p, value.pData(), size);
  FUsed += step;
  slot.SetData(p, value.DataSize(), value.DataType(), false);
}

void TNRDRowStore::Clear() {
  FBlocks.clear();
  FUsed = FBlockSize = 0;
}

std::vector<std::size_t> SortedRowOrder(const std::vector<TNRDRow>& rows, const std::vector<std::size_t>& keys,
                                        const std::vector<bool>& desc, std::vector<std::uint8_t>* newKey) {
  const std::size_t n = rows.size();
  std::vector<std::size_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = i;
  if (keys.empty()) {
    if (newKey != nullptr) newKey->assign(n, 0);
    if (newKey != nullptr && n > 0) (*newKey)[0] = 1;
    return order;
  }
  // Per key column: the integers and NULL flags when every value is an integer or NULL.
  struct IntColumn {
    bool all = true;
    std::vector<std::int64_t> values;
    std::vector<std::uint8_t> nulls;
  };
  std::vector<IntColumn> ints(keys.size());
  for (std::size_t k = 0; k < keys.size(); ++k) {
    IntColumn& col = ints[k];
    col.values.resize(n);
    col.nulls.resize(n);
    for (std::size_t r = 0; r < n && col.all; ++r) {
      const TNRDVariant& v = rows[r][keys[k]];
      if (v.IsNull())
        col.nulls[r] = 1;
      else if (!ReadStoredInteger(v, col.values[r]))
        col.all = false;
    }
    if (!col.all) {
      col.values.clear();
      col.nulls.clear();
    }
  }
  // Negative when row a comes before row b, 0 for equal keys.
  auto compareKeys = [&](std::size_t a, std::size_t b) {
    for (std::size_t k = 0; k < keys.size(); ++k) {
      int c;
      const IntColumn& col = ints[k];
      if (col.all) {
        const bool an = col.nulls[a] != 0, bn = col.nulls[b] != 0;
        if (an || bn)
          c = an == bn ? 0 : (an ? -1 : 1);
        else
          c = col.values[a] < col.values[b] ? -1 : col.values[a] > col.values[b] ? 1 : 0;
      } else {
        c = CompareForOrder(rows[a][keys[k]], rows[b][keys[k]]);
      }
      if (c != 0) return desc[k] ? -c : c;
    }
    return 0;
  };
  if (keys.size() == 1 && ints[0].all) {
    // One integer key: sort compact items instead of reaching into the columns per comparison.
    struct Item {
      std::int64_t value;
      std::size_t row;
      bool null;
    };
    std::vector<Item> items(n);
    for (std::size_t r = 0; r < n; ++r) items[r] = {ints[0].values[r], r, ints[0].nulls[r] != 0};
    const bool down = desc[0];
    std::sort(items.begin(), items.end(), [down](const Item& x, const Item& y) {
      if (x.null != y.null) return down ? y.null : x.null;
      if (!x.null && x.value != y.value) return down ? x.value > y.value : x.value < y.value;
      return x.row < y.row;
    });
    for (std::size_t i = 0; i < n; ++i) order[i] = items[i].row;
  } else {
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      const int c = compareKeys(a, b);
      return c != 0 ? c < 0 : a < b;
    });
  }
  if (newKey != nullptr) {
    newKey->assign(n, 1);
    for (std::size_t i = 1; i < n; ++i) (*newKey)[i] = compareKeys(order[i - 1], order[i]) != 0 ? 1 : 0;
  }
  return order;
}

int CompareForOrder(const TNRDVariant& a, const TNRDVariant& b) {
  const bool an = a.IsNull(), bn = b.IsNull();
  if (an || bn) return an == bn ? 0 : (an ? -1 : 1);
  // Two integers of any widths compare by value, as the general comparison does, without its
  // conversions: sorting and grouping spend most of their time here.
  std::int64_t x = 0, y = 0;
  if (ReadStoredInteger(a, x) && ReadStoredInteger(b, y)) return x < y ? -1 : x > y ? 1 : 0;
  switch (a.Compare(b, false, false, false)) {
    case cmprLower: return -1;
    case cmprGreater: return 1;
    default: return 0;
  }
}

bool TNRDAO::RowLess::operator()(const TNRDRow& a, const TNRDRow& b) const {
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const int c = CompareForOrder(a[i], b[i]);
    if (c != 0) return c < 0;
  }
  return a.size() < b.size();
}

// ----- life cycle -----------------------------------------------------------------------------------

void TNRDAO::InitAO(std::unique_ptr<TNRDAO> leftAO, std::unique_ptr<TNRDAO> rightAO, const std::string& tableAlias,
                    const std::string& tableName) {
  FLeftAO = std::move(leftAO);
  FRightAO = std::move(rightAO);
  FTableAlias = tableAlias;
  FTableName = tableName;
  if (FLeftAO) FSessionName = FLeftAO->FSessionName;
  if (FRightAO && !FRightAO->FSessionName.empty()) FSessionName = FRightAO->FSessionName;
  FDisableTempFiles = (FLeftAO && FLeftAO->FDisableTempFiles) || (FRightAO && FRightAO->FDisableTempFiles);
  FIsMaterialized = false;
}

TNRDAO::~TNRDAO() {
  try {
    if (FIsAOTable && FIsLocked && FResultDataset && FResultDataset->Active() && FResultDataset->Cursor() != nullptr)
      FResultDataset->Cursor()->UnlockTable(ltS, true);
  } catch (...) {
  }
  try {
    if (FIsAOTable && FResultDataset && FResultDataset->Cursor() != nullptr)
      FResultDataset->Cursor()->SetSQLFilter(nullptr, nullptr, nullptr);
  } catch (...) {
  }
  if (FResultDataset) {
    try {
      FResultDataset->Close();
    } catch (...) {
    }
    if (FTemporaryResult) {
      try {
        FResultDataset->DeleteTable();
      } catch (...) {
      }
    }
  }
  FFieldLinks.clear();
  FFilterExpr.reset();
}

// ----- links ----------------------------------------------------------------------------------------

TNRDFieldLink& TNRDAO::Link(std::int32_t no) {
  if (no < 0 || no >= FieldCount())
    throw ENRDException(10306, "Invalid field number - FieldNo = %d, FieldCount = %d", {no, FieldCount()});
  return FFieldLinks[static_cast<std::size_t>(no)];
}

TNRDFieldLink& TNRDAO::AddChildLink(TNRDAO* child, std::int32_t fieldNo, bool keepHidden) {
  const TNRDFieldLink& c = child->Link(fieldNo);
  TNRDFieldLink l;
  l.FieldName = child->FHasSetResultFields && !c.DisplayName.empty() ? c.DisplayName : c.FieldName;
  l.FieldType = c.FieldType;
  l.FieldPrecision = c.FieldPrecision;
  l.FieldSize = c.FieldSize;
  l.BLOBCompressionAlgorithm = c.BLOBCompressionAlgorithm;
  l.BLOBCompressionMode = c.BLOBCompressionMode;
  l.BLOBBlockSize = c.BLOBBlockSize;
  l.AO = child;
  l.FieldNo = fieldNo;
  l.IsHidden = keepHidden ? c.IsHidden : true;
  FFieldLinks.push_back(std::move(l));
  return FFieldLinks.back();
}

void TNRDAO::AddLeftChildLink(std::int32_t fieldNo, bool skipHidden) {
  const TNRDFieldLink& c = FLeftAO->Link(fieldNo);
  if (FLeftAO->FHasSetResultFields && c.IsHidden && skipHidden) return;
  AddChildLink(FLeftAO.get(), fieldNo, true);
}

bool TNRDAO::FindFieldInFieldLinks(const std::string& fieldName, std::int32_t& fieldNo) const {
  const std::string u = Upper(fieldName);
  for (std::size_t i = 0; i < FFieldLinks.size(); ++i)
    if (Upper(FFieldLinks[i].FieldName) == u || Upper(FFieldLinks[i].DisplayName) == u) {
      fieldNo = static_cast<std::int32_t>(i);
      return true;
    }
  return false;
}

std::string TNRDAO::GetFieldName(std::int32_t fieldNo, bool applyOrderBy) {
  TNRDFieldLink& l = Link(fieldNo);
  if (l.AO != nullptr && !applyOrderBy) return l.AO->GetFieldName(l.FieldNo, false);
  return l.FieldName;
}

std::int32_t TNRDAO::VisibleFieldCount() const { return static_cast<std::int32_t>(OutputLinks().size()); }

std::vector<std::int32_t> TNRDAO::OutputLinks() const {
  if (!FResultFieldsOrder.empty()) return FResultFieldsOrder;
  std::vector<std::int32_t> v;
  for (std::size_t i = 0; i < FFieldLinks.size(); ++i)
    if (!FFieldLinks[i].IsHidden) v.push_back(static_cast<std::int32_t>(i));
  return v;
}

std::string TNRDAO::GetFieldNameByVisibleNumber(std::int32_t n) {
  const std::vector<std::int32_t> out = OutputLinks();
  if (n < 0 || n >= static_cast<std::int32_t>(out.size()))
    throw ENRDException(20243, "Invalid field number in ORDER BY clause: %d", {n + 1});
  const TNRDFieldLink& l = FFieldLinks[static_cast<std::size_t>(out[static_cast<std::size_t>(n)])];
  return l.DisplayName.empty() ? l.FieldName : l.DisplayName;
}

std::int32_t TNRDAO::GetFieldNoByVisibleNumber(std::int32_t n) const {
  if (FResultFieldsOrder.empty()) return n;
  if (n < 0 || n >= static_cast<std::int32_t>(FResultFieldsOrder.size())) return -1;
  return FResultFieldsOrder[static_cast<std::size_t>(n)];
}

TNRDAdvancedFieldType TNRDAO::GetFieldType(std::int32_t fieldNo) {
  if (fieldNo < 0 || fieldNo >= FieldCount())
    throw ENRDException(10376, "Invalid field number - FieldNo = %d, FieldCount = %d", {fieldNo, FieldCount()});
  return FFieldLinks[static_cast<std::size_t>(fieldNo)].FieldType;
}

std::int32_t TNRDAO::GetFieldSize(std::int32_t fieldNo) {
  if (fieldNo < 0 || fieldNo >= FieldCount())
    throw ENRDException(10377, "Invalid field number - FieldNo = %d, FieldCount = %d", {fieldNo, FieldCount()});
  return FFieldLinks[static_cast<std::size_t>(fieldNo)].FieldSize;
}

std::int32_t TNRDAO::GetFieldPrecision(std::int32_t fieldNo) {
  if (fieldNo < 0 || fieldNo >= FieldCount())
    throw ENRDException(10378, "Invalid field number - FieldNo = %d, FieldCount = %d", {fieldNo, FieldCount()});
  return FFieldLinks[static_cast<std::size_t>(fieldNo)].FieldPrecision;
}

void TNRDAO::ReadChildLink(const TNRDFieldLink& link, TNRDVariant& value) {
  link.AO->GetFieldValue(value, link.FieldNo, true);
}

void TNRDAO::GetFieldValue(TNRDVariant& value, std::int32_t fieldNo, bool accessToHidden) {
  if (fieldNo < 0 || fieldNo >= FieldCount())
    throw ENRDException(10307, "Invalid field number - FieldNo = %d, FieldCount = %d", {fieldNo, FieldCount()});
  // Every path sets the value (NULL where there is none) without clearing it first, so that a
  // value read again and again keeps its buffer.
  if (FOrderedRows) {
    if (FOrderedPos < FOrderedRows->size())
      CopyValue(value, (*FOrderedRows)[FOrderedPos][static_cast<std::size_t>(fieldNo)]);
    else
      value.Clear(bftUnknown);
    return;
  }
  TNRDFieldLink& l = FFieldLinks[static_cast<std::size_t>(fieldNo)];
  if (l.IsHidden && !accessToHidden)
    throw ENRDException(10310, "Cannot access hidden field: table name = %s, field name = %s, display name = %s, FieldNo = %d",
                        {FTableName, l.FieldName, l.DisplayName, fieldNo});
  if (l.IsExpression && l.Expr) {
    TNRDVariant* v = l.Expr->GetValue(true);
    if (v != nullptr)
      CopyValue(value, *v);
    else
      value.Clear(bftUnknown);
    return;
  }
  if (l.AO != nullptr) {
    if ((l.AO == FLeftAO.get() && FLeftAONull) || (l.AO == FRightAO.get() && FRightAONull)) {
      value.Clear(bftUnknown);
      return;
    }
    ReadChildLink(l, value);
    return;
  }
  if (l.Dataset != nullptr) {
    if (l.Dataset->Eof() && l.Dataset->Bof()) {  // empty
      value.Clear(bftUnknown);
      return;
    }
    l.Dataset->GetFieldValue(l.Dataset->Fields(l.FieldNo), value);
    return;
  }
  value.Clear(bftUnknown);
  throw ENRDException(10309, "Invalid field link: table name = %s, FieldNo = %d", {FTableName, fieldNo});
}

// ----- expressions' view ----------------------------------------------------------------------------

namespace {
// Set while FindFieldByAlias asks: a leaf with an alias then answers to its alias only.
bool gAliasHidesTableName = false;
}  // namespace

std::int32_t TNRDAO::FindFieldForExpression(const std::string& tableName, const std::string& fieldName) {
  std::vector<std::int32_t> found;
  if (FieldExists(fieldName, tableName, true, &found) == 0 || found.empty()) return -1;
  return found.front();
}

std::int32_t TNRDAO::FindFieldByAlias(const std::string& tableName, const std::string& fieldName) {
  struct Restore {
    bool previous = gAliasHidesTableName;
    ~Restore() { gAliasHidesTableName = previous; }
  } restore;
  gAliasHidesTableName = true;
  return FindFieldForExpression(tableName, fieldName);
}

void TNRDAO::ReadFieldForExpression(std::int32_t fieldNo, TNRDVariant& value) { GetFieldValue(value, fieldNo, true); }

TNRDAdvancedFieldType TNRDAO::FieldTypeForExpression(std::int32_t fieldNo) { return GetFieldType(fieldNo); }

std::int32_t TNRDAO::FieldSizeForExpression(std::int32_t fieldNo) { return GetFieldSize(fieldNo); }

// ----- building ---------------------------------------------------------------------------------------

void TNRDAO::MakeFieldNamesUnique() {
  for (std::size_t i = 0; i < FFieldLinks.size(); ++i) {
    std::string n = GetFieldName(static_cast<std::int32_t>(i), false);
    if (n.empty()) n = NewGuidName("Expr");
    FFieldLinks[i].FieldName = n;
  }
  auto clashes = [&](std::size_t i) {
    const std::string u = Upper(FFieldLinks[i].FieldName);
    for (std::size_t k = 0; k < i; ++k)
      if (Upper(FFieldLinks[k].FieldName) == u) return true;
    return false;
  };
  for (std::size_t i = 1; i < FFieldLinks.size(); ++i) {
    std::string base = FFieldLinks[i].FieldName + "_1";
    std::int32_t next = 2;
    if (!clashes(i)) continue;
    FFieldLinks[i].FieldName = base;
    while (clashes(i)) {
      base += std::to_string(next++);
      FFieldLinks[i].FieldName = base;
    }
  }
}

std::int32_t TNRDAO::FieldExists(const std::string& fieldName, const std::string& tableName, bool unhide,
                                 std::vector<std::int32_t>* fieldNumbers, bool unhideChildrenOnly,
                                 bool scanOnlyVisibleFields) {
  std::vector<std::int32_t> matches;
  const std::string uName = Upper(fieldName), uTable = Upper(tableName);
  auto add = [&](std::int32_t i) {
    if (std::find(matches.begin(), matches.end(), i) == matches.end()) matches.push_back(i);
  };
  if (FIsAOTable) {
    if (!tableName.empty() && uTable != Upper(FTableAlias) &&
        ((gAliasHidesTableName && !FTableAlias.empty()) || uTable != Upper(FTableName)))
      return 0;
    for (std::size_t i = 0; i < FFieldLinks.size(); ++i) {
      const TNRDFieldLink& l = FFieldLinks[i];
      if (scanOnlyVisibleFields && l.IsHidden) continue;
      if (fieldName == "*" || Upper(l.FieldName) == uName || Upper(l.DisplayName) == uName) {
        add(static_cast<std::int32_t>(i));
        if (fieldName != "*") break;
      }
    }
  } else {
    // A qualified name that is this operator's own alias (a FROM subquery) names its columns.
    const bool ownAlias = !tableName.empty() && !FTableAlias.empty() && uTable == Upper(FTableAlias);
    if (!ownAlias) {
      for (TNRDAO* child : {FLeftAO.get(), FRightAO.get()}) {
        if (child == nullptr) continue;
        std::vector<std::int32_t> childNos;
        if (child->FieldExists(fieldName, tableName, unhide, &childNos, false, false) == 0) continue;
        for (std::size_t i = 0; i < FFieldLinks.size(); ++i) {
          const TNRDFieldLink& l = FFieldLinks[i];
          if (l.AO != child || (scanOnlyVisibleFields && l.IsHidden)) continue;
          if (std::find(childNos.begin(), childNos.end(), l.FieldNo) != childNos.end()) add(static_cast<std::int32_t>(i));
        }
      }
    }
    if (fieldName == "*") {
      if (tableName.empty() || ownAlias)
        for (std::size_t i = 0; i < FFieldLinks.size(); ++i) {
          const TNRDFieldLink& l = FFieldLinks[i];
          if ((l.IsExpression && tableName.empty()) || (ownAlias && !l.IsHidden)) add(static_cast<std::int32_t>(i));
        }
    } else if (tableName.empty() || ownAlias) {
      for (std::size_t i = 0; i < FFieldLinks.size(); ++i) {
        const TNRDFieldLink& l = FFieldLinks[i];
        if (scanOnlyVisibleFields && l.IsHidden) continue;
        if (ownAlias && l.IsHidden) continue;
        if (Upper(l.FieldName) == uName || Upper(l.DisplayName) == uName) {
          add(static_cast<std::int32_t>(i));
          break;
        }
      }
    }
  }
  if (unhide && !unhideChildrenOnly)
    for (std::int32_t i : matches) {
      // A group shows what it finds through its input only when asked by name.
      if (FIsAOGroupBy && fieldName == "*" && FFieldLinks[static_cast<std::size_t>(i)].AO != nullptr) continue;
      FFieldLinks[static_cast<std::size_t>(i)].IsHidden = false;
    }
  if (fieldNumbers != nullptr)
    for (std::int32_t i : matches) fieldNumbers->push_back(i);
  return static_cast<std::int32_t>(matches.size());
}

void TNRDAO::SetResultFields(std::vector<TNRDSelectListItem>& fieldRefs, bool distinct) {
  if (fieldRefs.empty()) {
    FieldExists("*", "", true, &FResultFieldsOrder);
  } else {
    for (TNRDSelectListItem& item : fieldRefs) {
      if (item.IsExpression && item.ValueExpr && (!item.ValueExpr->IsAggregated() || FIsAOGroupBy)) {
        TNRDFieldLink l;
        l.FieldName = !item.Pseudonym.empty() ? item.Pseudonym : NewGuidName("Expr");
        l.DisplayName = l.FieldName;
        l.Expr = std::make_unique<TNRDExpression>(item.ValueExpr->Root()->Clone());
        l.Expr->F3ValueLogic = true;
        l.Expr->AssignAO(this, FParentQueryAO);
        l.FieldType = l.Expr->GetDataType();
        l.FieldSize = l.Expr->GetDataSize();
        l.AO = nullptr;
        l.IsHidden = false;
        l.IsExpression = true;
        l.IsAggregate = l.Expr->IsAggregated();
        FExpressionsExists = true;
        FFieldLinks.push_back(std::move(l));
        FResultFieldsOrder.push_back(FieldCount() - 1);
        if (!FIsAOGroupBy && !item.ValueExpr->IsAggregated()) {
          // Operators above find the computed column by its name.
          item.IsExpression = false;
          item.FieldName = FFieldLinks.back().FieldName;
          item.TableName.clear();
          item.Pseudonym = FFieldLinks.back().FieldName;
        }
        continue;
      }
      const std::string name = item.AllFields ? std::string("*") : item.FieldName;
      if (name.empty()) continue;
      std::vector<std::int32_t> found;
      if (FieldExists(name, item.TableName, true, &found) == 0 || found.empty())
        throw ENRDException(10305, "Cannot find field %s",
                            {item.TableName.empty() ? name : item.TableName + "." + name});
      if (name == "*") {
        for (std::int32_t f : found) FResultFieldsOrder.push_back(f);
      } else {
        const std::int32_t f = found.front();
        TNRDFieldLink& l = FFieldLinks[static_cast<std::size_t>(f)];
        if (std::find(FResultFieldsOrder.begin(), FResultFieldsOrder.end(), f) != FResultFieldsOrder.end()) {
          // The same column twice: a computed copy of it under its own name.
          TNRDFieldLink copy;
          copy.FieldName = !item.Pseudonym.empty() ? item.Pseudonym : l.FieldName + "_1";
          copy.DisplayName = copy.FieldName;
          copy.FieldType = l.FieldType;
          copy.FieldSize = l.FieldSize;
          copy.FieldPrecision = l.FieldPrecision;
          copy.AO = l.AO;
          copy.Dataset = l.Dataset;
          copy.FieldNo = l.FieldNo;
          copy.IsHidden = false;
          FFieldLinks.push_back(std::move(copy));
          FResultFieldsOrder.push_back(FieldCount() - 1);
          continue;
        }
        l.DisplayName = !item.Pseudonym.empty() ? item.Pseudonym : item.FieldName;
        FResultFieldsOrder.push_back(f);
      }
    }
  }
  for (std::int32_t f : FResultFieldsOrder) {
    TNRDFieldLink& l = FFieldLinks[static_cast<std::size_t>(f)];
    if (l.DisplayName.empty()) l.DisplayName = l.FieldName;
  }
  if (distinct) {
    std::vector<std::string> names;
    for (std::int32_t f : FResultFieldsOrder) names.push_back(FFieldLinks[static_cast<std::size_t>(f)].FieldName);
    ApplyDistinct(JoinList(names));
  }
  FHasSetResultFields = true;
}

void TNRDAO::ApplyDistinct(const std::string& distinctFields) {
  FDistinctFieldsMap.clear();
  for (const std::string& n : SplitFieldList(distinctFields)) {
    std::int32_t no = -1;
    if (FindFieldInFieldLinks(n, no)) FDistinctFieldsMap.push_back(no);
  }
  FDistinctApplied = !FDistinctFieldsMap.empty();
}

void TNRDAO::SetIndex(const std::string& indexFieldNames, const std::string& descFields,
                      const std::string& caseInsensitiveFields) {
  FResultIndexFieldsList.clear();
  FResultIndexAscDescFieldsList.clear();
  FResultIndexCaseInsFieldsList.clear();
  const std::vector<std::string> desc = SplitFieldList(descFields), ci = SplitFieldList(caseInsensitiveFields);
  for (const std::string& n : SplitFieldList(indexFieldNames)) {
    if (n.empty()) continue;
    FResultIndexFieldsList.push_back(n);
    FResultIndexAscDescFieldsList.push_back(std::find(desc.begin(), desc.end(), n) != desc.end() ? "DESC" : "ASC");
    FResultIndexCaseInsFieldsList.push_back(std::find(ci.begin(), ci.end(), n) != ci.end() ? "NO_CASE" : "CASE");
  }
}

void TNRDAO::SetTopRowCount(std::int64_t firstRowNo, std::int64_t topRowCount) {
  if (FDistinctApplied || !FResultIndexFieldsList.empty()) return;
  FTopRowCount = topRowCount;
  FFirstRowNo = firstRowNo < 0 ? 1 : firstRowNo;
}

void TNRDAO::SetFilter(std::unique_ptr<TNRDExpression> filterExpr, TNRDAO* parentQueryAO) {
  if (!filterExpr || filterExpr->IsEmpty()) return;
  filterExpr->AssignAO(this, parentQueryAO);
  if (!FFilterExpr)
    FFilterExpr = std::move(filterExpr);
  else
    FFilterExpr->AddAndMoveNodesFromExpression(*filterExpr);
}

void TNRDAO::SetResultTable(bool inMemory, bool immediate, const std::string& tableName,
                            const std::string& databaseName) {
  FResultInMemory = inMemory;
  FResultImmediate = immediate;
  FResultTableName = tableName;
  FResultDatabaseName = databaseName;
}

// ----- tables and locks -------------------------------------------------------------------------------

bool TNRDAO::OpenTables() {
  if (FIsAOTable) {
    try {
      if (!FResultDataset->Active()) FResultDataset->Open();
      return true;
    } catch (...) {
      try {
        FResultDataset->Close();
      } catch (...) {
      }
      return false;
    }
  }
  if (FLeftAO && !FLeftAO->OpenTables()) return false;
  if (FRightAO && !FRightAO->OpenTables()) return false;
  return true;
}

void TNRDAO::CloseTables() {
  if (FIsAOTable) {
    FResultDataset->Close();
    return;
  }
  if (FLeftAO) FLeftAO->CloseTables();
  if (FRightAO) FRightAO->CloseTables();
}

bool TNRDAO::LockTables() {
  if (FIsAOTable) {
    if (FResultDataset->Active() && FResultDataset->Cursor() != nullptr && !FIsLocked)
      FIsLocked = FResultDataset->Cursor()->LockTable(ltS, 2, 20, true);
    return FIsLocked || !FResultDataset->Active();
  }
  if (FLeftAO && !FLeftAO->LockTables()) return false;
  if (FRightAO && !FRightAO->LockTables()) return false;
  return true;
}

bool TNRDAO::UnlockTables() {
  bool ok = true;
  if (FIsAOTable) {
    if (FIsLocked && FResultDataset->Active() && FResultDataset->Cursor() != nullptr) {
      ok = FResultDataset->Cursor()->UnlockTable(ltS, true);
      if (ok) FIsLocked = false;
    }
    return ok;
  }
  if (FLeftAO) ok = FLeftAO->UnlockTables() && ok;
  if (FRightAO) ok = FRightAO->UnlockTables() && ok;
  return ok;
}

// ----- streaming ----------------------------------------------------------------------------------------

bool TNRDAO::RowAccepted() {
  if (!FFilterExpr) return true;
  TNRDVariant* v = FFilterExpr->GetValue(false);
  return v != nullptr && !v->IsNull() && v->AsBoolean();
}

bool TNRDAO::IsDuplicateRow() {
  if (!FSeenRows) FSeenRows = std::make_unique<std::set<TNRDRow, RowLess>>();
  // The row is read into one reused row. Its exact bytes (type, NULL flag, data of each value) are
  // looked up first: a row whose bytes were seen is a repeat for certain, since equal bytes compare
  // equal, and most rows of a DISTINCT are such repeats. Only a row not seen byte for byte is
  // looked up by comparison (values equal by collation but not by bytes) and kept when new.
  FDistinctProbe.resize(FDistinctFieldsMap.size());
  FDistinctBytes.clear();
  for (std::size_t i = 0; i < FDistinctFieldsMap.size(); ++i) {
    TNRDVariant& v = FDistinctProbe[i];
    GetFieldValue(v, FDistinctFieldsMap[i], true);
    const bool isNull = v.IsNull();
    const std::int32_t size = isNull ? 0 : v.DataSize();
    FDistinctBytes.push_back(static_cast<char>(v.DataType()));
    FDistinctBytes.push_back(isNull ? 1 : 0);
    FDistinctBytes.append(reinterpret_cast<const char*>(&size), sizeof size);
    if (size > 0) FDistinctBytes.append(static_cast<const char*>(v.pData()), static_cast<std::size_t>(size));
  }
  if (FSeenBytes.count(FDistinctBytes) != 0) return true;
  FSeenBytes.insert(FDistinctBytes);
  if (FSeenRows->find(FDistinctProbe) != FSeenRows->end()) return true;
  TNRDRow kept(FDistinctProbe.size());
  for (std::size_t i = 0; i < kept.size(); ++i) CopyValue(kept[i], FDistinctProbe[i]);
  FSeenRows->insert(std::move(kept));
  return false;
}

void TNRDAO::SkipRejected() {
  while (!InternalGetEof()) {
    ++FRowNo;
    if (FTopRowCount >= 0 && FEmitted >= FTopRowCount) {
      FTopReached = true;
      return;
    }
    if (FFirstRowNo > 1 && FRowNo < FFirstRowNo) {
      InternalNext();
      continue;
    }
    if (!RowAccepted() || (FDistinctApplied && IsDuplicateRow())) {
      InternalNext();
      continue;
    }
    ++FEmitted;
    return;
  }
}

void TNRDAO::BufferOrdered() {
  // Every link's value of every accepted row, sorted on the order columns.
  std::vector<std::int32_t> keys;
  std::vector<bool> desc;
  for (std::size_t i = 0; i < FResultIndexFieldsList.size(); ++i) {
    std::int32_t no = -1;
    if (!FindFieldInFieldLinks(FResultIndexFieldsList[i], no)) continue;
    keys.push_back(no);
    desc.push_back(FResultIndexAscDescFieldsList[i] == "DESC");
  }
  std::vector<TNRDRow> rows;
  FOrderedStore.Clear();
  InternalFirst();
  FRowNo = FEmitted = 0;
  FTopReached = false;
  SkipRejected();
  TNRDVariant value;
  while (!FTopReached && !InternalGetEof()) {
    TNRDRow r(FFieldLinks.size());
    for (std::size_t i = 0; i < FFieldLinks.size(); ++i) {
      GetFieldValue(value, static_cast<std::int32_t>(i), true);
      FOrderedStore.Keep(r[i], value);
    }
    rows.push_back(std::move(r));
    InternalNext();
    SkipRejected();
  }
  std::vector<std::size_t> keyColumns(keys.begin(), keys.end());
  const std::vector<std::size_t> order = SortedRowOrder(rows, keyColumns, desc);
  auto sorted = std::make_unique<std::vector<TNRDRow>>();
  sorted->reserve(rows.size());
  for (std::size_t r : order) sorted->push_back(std::move(rows[r]));
  FOrderedRows = std::move(sorted);
  FOrderedPos = 0;
}

void TNRDAO::First() {
  if (FIsMaterialized) {
    FResultDataset->First();
    return;
  }
  if (!FResultIndexFieldsList.empty() && (!FIsRootAO || FSortBeforeWriting)) {
    if (!FOrderedRows) BufferOrdered();
    FOrderedPos = 0;
    return;
  }
  FRowNo = FEmitted = 0;
  FTopReached = false;
  if (FSeenRows) FSeenRows->clear();
  FSeenBytes.clear();
  InternalFirst();
  SkipRejected();
}

void TNRDAO::Next() {
  if (FIsMaterialized) {
    FResultDataset->Next();
    return;
  }
  if (FOrderedRows) {
    if (FOrderedPos < FOrderedRows->size()) ++FOrderedPos;
    return;
  }
  if (FTopReached || InternalGetEof()) return;
  InternalNext();
  SkipRejected();
}

bool TNRDAO::GetEof() {
  if (FIsMaterialized) return FResultDataset->Eof();
  if (FOrderedRows) return FOrderedPos >= FOrderedRows->size();
  return FTopReached || InternalGetEof();
}

std::int64_t TNRDAO::GetRecordCount() {
  if (FIsMaterialized) return FResultDataset->RecordCount();
  if (FOrderedRows) return static_cast<std::int64_t>(FOrderedRows->size());
  return InternalGetRecordCount();
}

// ----- execution ---------------------------------------------------------------------------------------

void TNRDAO::Execute(bool isRootAO, TNRDAO* parentQueryAO, TNRDCursor* parentCursor) {
  FIsRootAO = isRootAO;
  if (FLeftAO) FLeftAO->Execute(false, parentQueryAO, parentCursor);
  if (FRightAO) FRightAO->Execute(false, parentQueryAO, parentCursor);
  if (isRootAO && !FIsAOTable) Materialize();
}

void TNRDAO::Materialize() {
  if (FIsMaterialized) return;
  // Columns: the output in order, then other visible links (sort columns not shown).
  std::vector<std::int32_t> cols = OutputLinks();
  const std::size_t shown = cols.size();
  for (std::size_t i = 0; i < FFieldLinks.size(); ++i)
    if (!FFieldLinks[i].IsHidden && std::find(cols.begin(), cols.end(), static_cast<std::int32_t>(i)) == cols.end())
      cols.push_back(static_cast<std::int32_t>(i));
  for (std::int32_t c : cols)
    if (FFieldLinks[static_cast<std::size_t>(c)].IsHidden && !FFieldLinks[static_cast<std::size_t>(c)].IsExpression)
      FFieldLinks[static_cast<std::size_t>(c)].IsHidden = false;
  // Physical names: unique, the link names first.
  std::vector<std::string> physical;
  auto taken = [&](const std::string& n) {
    for (const std::string& p : physical)
      if (SameText(p, n)) return true;
    return false;
  };
  for (std::int32_t c : cols) {
    std::string n = FFieldLinks[static_cast<std::size_t>(c)].FieldName;
    if (n.empty()) n = "Expr";
    std::string candidate = n;
    for (int k = 1; taken(candidate); ++k) candidate = n + "_" + std::to_string(k);
    physical.push_back(candidate);
  }
  auto table = std::make_unique<TNRDTable>(nullptr);
  const bool named = !FResultTableName.empty();
  if (named) {
    table->SetDatabaseName(FResultDatabaseName);
    table->SetInMemory(FResultInMemory);
    table->SetTableName(FResultTableName);
    if (table->Exists()) table->DeleteTable();
  } else {
    table->SetTemporary(true);
    table->SetDisableTempFiles(FDisableTempFiles);
    std::string name = NewGuidName("TEMPORARY_TABLE_");
    table->SetTableName(name);
    while (table->Exists()) table->SetTableName(NewGuidName("TEMPORARY_TABLE_"));
  }
  if (!FSessionName.empty()) table->SetSessionName(FSessionName);
  for (std::size_t i = 0; i < cols.size(); ++i) {
    const TNRDFieldLink& l = FFieldLinks[static_cast<std::size_t>(cols[i])];
    TNRDAdvancedFieldType t = l.FieldType;
    switch (t) {  // a result column counts nothing itself
      case aftAutoInc: case aftAutoIncInteger: t = aftInteger; break;
      case aftAutoIncShortint: t = aftShortint; break;
      case aftAutoIncSmallint: t = aftSmallint; break;
      case aftAutoIncLargeint: t = aftLargeint; break;
      case aftAutoIncByte: t = aftByte; break;
      case aftAutoIncWord: t = aftWord; break;
      case aftAutoIncCardinal: t = aftCardinal; break;
      case aftUnknown: t = aftString; break;
      default: break;
    }
    std::int32_t size = l.FieldSize;
    if ((t == aftString || t == aftWideString || t == aftChar || t == aftWideChar) && size <= 0) size = 255;
    table->AdvFieldDefs().Add(physical[i], t, size, false);
  }
  table->CreateTable();
  FTemporaryResult = !named;
  table->Open();
  // A temporary result is written in its order, sorted in memory, and read in the order it was
  // written: an index on it would cost a B-tree insert per row here and a B-tree step per row read.
  // A named target (INTO) gets the order as an index, as it keeps it beyond this statement.
  FSortBeforeWriting = !named && !FResultIndexFieldsList.empty();
  // Rows.
  std::vector<TNRDVariant> values(cols.size());
  for (First(); !GetEof(); Next()) {
    for (std::size_t i = 0; i < cols.size(); ++i) GetFieldValue(values[i], cols[i], true);
    table->Append();
    try {
      for (std::size_t i = 0; i < cols.size(); ++i)
        if (!values[i].IsNull()) table->SetFieldValue(table->Fields(static_cast<std::int32_t>(i)), values[i]);
      table->Post();
    } catch (...) {
      table->Cancel();
      throw;
    }
  }
  FSeenRows.reset();
  FSeenBytes.clear();
  FOrderedRows.reset();
  FOrderedStore.Clear();
  // The order as an index on a named result.
  if (!FResultIndexFieldsList.empty() && !FSortBeforeWriting) {
    std::vector<std::string> fields, descs, cis;
    for (std::size_t i = 0; i < FResultIndexFieldsList.size(); ++i) {
      std::int32_t no = -1;
      if (!FindFieldInFieldLinks(FResultIndexFieldsList[i], no)) continue;
      const auto at = std::find(cols.begin(), cols.end(), no);
      if (at == cols.end()) continue;
      const std::string& p = physical[static_cast<std::size_t>(at - cols.begin())];
      fields.push_back(p);
      if (FResultIndexAscDescFieldsList[i] == "DESC") descs.push_back(p);
      if (FResultIndexCaseInsFieldsList[i] == "NO_CASE") cis.push_back(p);
    }
    if (!fields.empty()) {
      const std::string indexName = NewGuidName("TEMPORARY_INDEX_");
      table->AddIndex(indexName, JoinList(fields), 0, JoinList(descs), JoinList(cis));
      table->SetIndexName(indexName);
    }
  }
  // Show the output columns under their display names.
  std::vector<std::string> names, aliases;
  bool projection = cols.size() != shown;
  for (std::size_t i = 0; i < shown; ++i) {
    const TNRDFieldLink& l = FFieldLinks[static_cast<std::size_t>(cols[i])];
    names.push_back(physical[i]);
    const std::string display = l.DisplayName.empty() ? l.FieldName : l.DisplayName;
    aliases.push_back(display);
    if (display != physical[i]) projection = true;
  }
  if (projection && !names.empty()) table->ApplyProjection(names, aliases);
  FResultDataset = std::move(table);
  // The links now read the result.
  for (std::size_t i = 0; i < shown; ++i) {
    TNRDFieldLink& l = FFieldLinks[static_cast<std::size_t>(cols[i])];
    l.Expr.reset();
    l.IsExpression = false;
    l.AO = nullptr;
    l.Dataset = FResultDataset.get();
    l.FieldNo = static_cast<std::int32_t>(i);
  }
  for (std::size_t i = shown; i < cols.size(); ++i) {
    TNRDFieldLink& l = FFieldLinks[static_cast<std::size_t>(cols[i])];
    l.Expr.reset();
    l.AO = nullptr;
    l.Dataset = nullptr;
    l.IsHidden = true;
  }
  FFilterExpr.reset();
  FIsMaterialized = true;
  FResultDataset->First();
}

// ----- the table leaf ------------------------------------------------------------------------------------

TNRDAOTable::TNRDAOTable(const std::string& tableName, const std::string& tableAlias, std::unique_ptr<TNRDTable> table) {
  InitAO(nullptr, nullptr, tableAlias, tableName);
  FIsAOTable = true;
  FIsMaterialized = false;
  FDisableTempFiles = table->DisableTempFiles();
  FSessionName = table->SessionName();
  FResultDataset = std::move(table);
  try {
    if (!FResultDataset->Active()) FResultDataset->Open();
  } catch (const std::exception& e) {
    throw ENRDException(10303, "Error on opening table \"%s\" (InMemory = %d) in SQL query: %s",
                        {tableName, FResultDataset->InMemory() ? 1 : 0, std::string(e.what())});
  }
  for (std::int32_t i = 0; i < FResultDataset->FieldCount(); ++i) {
    const TField& f = FResultDataset->Fields(i);
    TNRDFieldLink l;
    l.FieldName = f.FieldName();
    l.Dataset = FResultDataset.get();
    l.FieldNo = i;
    l.IsHidden = true;
    if (const TNRDAdvFieldDef* d = FResultDataset->AdvFieldDefs().Find(f.FieldName())) {
      l.FieldType = d->FDataType;
      l.FieldSize = d->FSize;
      l.BLOBCompressionAlgorithm = static_cast<std::uint8_t>(d->FBLOBCompressionAlgorithm);
      l.BLOBCompressionMode = d->FBLOBCompressionMode;
      l.BLOBBlockSize = d->FBLOBBlockSize;
    }
    FFieldLinks.push_back(std::move(l));
  }
}

void TNRDAOTable::SetResultFields(std::vector<TNRDSelectListItem>& fieldRefs, bool distinct) {
  for (const TNRDSelectListItem& item : fieldRefs)
    if (!item.TableName.empty() && !SameText(item.TableName, FTableName) && !SameText(item.TableName, FTableAlias))
      throw ENRDException(30327, "Invalid table name in reference. Table name = %s, table alias = %s, tname = %s",
                          {FTableName, FTableAlias, item.TableName});
  TNRDAO::SetResultFields(fieldRefs, distinct);
}

void TNRDAOTable::AddCursorFilter(std::unique_ptr<TNRDExpression> part) {
  if (!part || part->IsEmpty()) return;
  if (!FCursorFilter)
    FCursorFilter = std::move(part);
  else
    FCursorFilter->AddAndMoveNodesFromExpression(*part);
}

void TNRDAOTable::Execute(bool isRootAO, TNRDAO* parentQueryAO, TNRDCursor* parentCursor) {
  if (FCursorFilter && FResultDataset->Cursor() != nullptr) {
    FResultDataset->Cursor()->SetSQLFilter(FCursorFilter.get(), static_cast<TNRDFieldAccess*>(parentQueryAO), parentCursor);
    FResultDataset->Cursor()->DisableRecordBitmap();
  }
  TNRDAO::Execute(isRootAO, parentQueryAO, parentCursor);
}

void TNRDAOTable::InternalFirst() { FResultDataset->First(); }
void TNRDAOTable::InternalNext() { FResultDataset->Next(); }
bool TNRDAOTable::InternalGetEof() { return FResultDataset->Eof(); }
std::int64_t TNRDAOTable::InternalGetRecordCount() { return FResultDataset->RecordCount(); }

// ----- the expression operator ------------------------------------------------------------------------

TNRDAOTableExpr::TNRDAOTableExpr(std::unique_ptr<TNRDAO> child) {
  InitAO(std::move(child), nullptr, "", "");
  if (FLeftAO->FHasSetResultFields) {
    for (std::int32_t f : FLeftAO->OutputLinks()) AddChildLink(FLeftAO.get(), f, false);
  } else {
    for (std::int32_t i = 0; i < FLeftAO->FieldCount(); ++i) AddLeftChildLink(i, true);
  }
}

void TNRDAOTableExpr::InternalFirst() { FLeftAO->First(); }
void TNRDAOTableExpr::InternalNext() { FLeftAO->Next(); }
bool TNRDAOTableExpr::InternalGetEof() { return FLeftAO->GetEof(); }
std::int64_t TNRDAOTableExpr::InternalGetRecordCount() { return FLeftAO->GetRecordCount(); }

// ----- the row limit -----------------------------------------------------------------------------------

TNRDAOSQLTopRowCount::TNRDAOSQLTopRowCount(std::unique_ptr<TNRDAO> child) {
  InitAO(std::move(child), nullptr, "", "");
  if (FLeftAO->FHasSetResultFields) {
    for (std::int32_t f : FLeftAO->OutputLinks()) {
      TNRDFieldLink& l = AddChildLink(FLeftAO.get(), f, false);
      l.IsHidden = false;
      l.DisplayName = l.FieldName;
      FResultFieldsOrder.push_back(FieldCount() - 1);
    }
    FHasSetResultFields = true;
  } else {
    for (std::int32_t i = 0; i < FLeftAO->FieldCount(); ++i) AddLeftChildLink(i, true);
  }
}

// The limit goes to the lowest operator that can apply it; it is applied once.
void TNRDAOSQLTopRowCount::SetTopRowCount(std::int64_t firstRowNo, std::int64_t topRowCount) {
  FLeftAO->SetTopRowCount(firstRowNo, topRowCount);
  if (FLeftAO->FTopRowCount < 0) TNRDAO::SetTopRowCount(firstRowNo, topRowCount);
}

void TNRDAOSQLTopRowCount::InternalFirst() { FLeftAO->First(); }
void TNRDAOSQLTopRowCount::InternalNext() { FLeftAO->Next(); }
bool TNRDAOSQLTopRowCount::InternalGetEof() { return FLeftAO->GetEof(); }

}  // namespace nrd::sql
