// Relational operators: the tree a SELECT runs as. A leaf (TNRDAOTable) reads one table through a
// table component, with the WHERE parts it can answer set as the cursor's filter (so an equality or
// range on an indexed column is answered through the index). Inner operators join, combine,
// compute, group or cut rows. Every operator describes its output columns by field links and is read
// as a row stream (First, Next, Eof, GetFieldValue); expressions bound to an operator read its
// current row through TNRDFieldAccess.
//
// Where rows are kept: inner operators stream; what must be seen more than once is buffered in
// memory and sorted (the scanned input of a join, the input of a grouping, the right input of
// INTERSECT and EXCEPT, an ordered input cut by TOP), so no operator rescans an input per row and
// no step is quadratic. The root operator writes its rows into a result table: a temporary table
// "TEMPORARY_TABLE_" + GUID of the database "TEMP", its rows written in the ORDER BY order (sorted in
// memory), or the INTO target, with ORDER BY as an index on it; the statement hands that table to
// its caller.
//
// Errors raise ENRDException with the codes of the operators. Not thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/components/NRDTable.h"
#include "engine/foundation/NRDVariant.h"
#include "engine/sql/NRDExpressions.h"

namespace nrd {
namespace sql {

class TNRDAO;

// One select-list item; also the items of GROUP BY, USING and CORRESPONDING lists. The expression
// is shared: operators take copies of it.
struct TNRDSelectListItem {
  std::string TableName;
  bool AllFields = false;
  std::string FieldName;
  bool IsExpression = false;
  bool IsDuplicatedField = false;
  std::shared_ptr<TNRDExpression> ValueExpr;
  std::string Pseudonym;
};

class TNRDFields {
 public:
  std::vector<TNRDSelectListItem> Items;
  std::int32_t ItemCount() const { return static_cast<std::int32_t>(Items.size()); }
  void Append(const TNRDSelectListItem& item) { Items.push_back(item); }
};

// One output column of an operator.
struct TNRDFieldLink {
  std::string FieldName;    // unique within the operator after MakeFieldNamesUnique
  std::string DisplayName;  // the name shown in the result; empty when none
  TNRDAdvancedFieldType FieldType = aftUnknown;
  std::int32_t FieldPrecision = 0;
  std::int32_t FieldSize = 0;
  std::uint8_t BLOBCompressionAlgorithm = 0;
  std::uint8_t BLOBCompressionMode = 0;
  std::int32_t BLOBBlockSize = 0;
  TNRDAO* AO = nullptr;              // the child that supplies the value
  TNRDDataSet* Dataset = nullptr;    // or the data set it is read from
  bool IsHidden = true;              // carried but not shown
  std::int32_t FieldNo = -1;         // column of Dataset, or link of AO
  bool IsExpression = false;
  bool IsAggregate = false;
  std::unique_ptr<TNRDExpression> Expr;  // a computed column's expression, owned
};

using TNRDRow = std::vector<TNRDVariant>;


// Compares two values for sorting and grouping: NULL equals NULL and sorts first.
int CompareForOrder(const TNRDVariant& a, const TNRDVariant& b);
// Copies `source` into `dest` (NULL as NULL of its type), keeping dest's buffer when it has the
// value's size.
void CopyValue(TNRDVariant& dest, const TNRDVariant& source);

// Values an operator keeps beyond the current row (a buffered input): their bytes are copied into
// large blocks that the kept values view (linked values), so keeping a value allocates no block of
// its own. Kept values are read-only views that stay valid until Clear or the store's end; rows
// holding them must not outlive the store.
class TNRDRowStore {
 public:
  // `slot` becomes a view of a copy of `value` (NULL stays NULL of its type).
  void Keep(TNRDVariant& slot, const TNRDVariant& value);
  void Clear();

 private:
  std::vector<std::unique_ptr<std::uint8_t[]>> FBlocks;
  std::size_t FUsed = 0;       // bytes used in the last block
  std::size_t FBlockSize = 0;  // size of the last block
};

// The order of `rows` on the key columns `keys` (each ascending, or descending where desc[k]) as
// row numbers; equal keys keep their input order. A key column whose values are all integers (or
// NULL) is compared on integers read once; other columns through CompareForOrder. Same order as a
// stable sort with CompareForOrder. With `newKey`, newKey[i] is 1 where the i-th row of the order
// starts a new key (always for the first), else 0.
std::vector<std::size_t> SortedRowOrder(const std::vector<TNRDRow>& rows, const std::vector<std::size_t>& keys,
                                        const std::vector<bool>& desc, std::vector<std::uint8_t>* newKey = nullptr);

class TNRDAO : public TNRDFieldAccess {
 public:
  ~TNRDAO() override;
  TNRDAO(const TNRDAO&) = delete;
  TNRDAO& operator=(const TNRDAO&) = delete;

  // ----- reading (slots 0..7) -----
  void First();
  void Next();
  bool GetEof();
  std::int64_t GetRecordCount();

  // ----- building -----
  virtual void MakeFieldNamesUnique();
  virtual void Execute(bool isRootAO, TNRDAO* parentQueryAO, TNRDCursor* parentCursor);
  virtual void SetTopRowCount(std::int64_t firstRowNo, std::int64_t topRowCount);
  virtual void SetResultFields(std::vector<TNRDSelectListItem>& fieldRefs, bool distinct);
  // The number of links matching; their numbers are appended to `fieldNumbers` when given.
  virtual std::int32_t FieldExists(const std::string& fieldName, const std::string& tableName, bool unhide,
                                   std::vector<std::int32_t>* fieldNumbers, bool unhideChildrenOnly = false,
                                   bool scanOnlyVisibleFields = false);
  // ';'-separated link names; a descending or case-insensitive field is listed in the other lists.
  virtual void SetIndex(const std::string& indexFieldNames, const std::string& descFields,
                        const std::string& caseInsensitiveFields);

  bool OpenTables();
  void CloseTables();
  bool LockTables();
  bool UnlockTables();
  // Takes the filter over; a further one is ANDed to it. Binds it to this operator.
  void SetFilter(std::unique_ptr<TNRDExpression> filterExpr, TNRDAO* parentQueryAO);
  void SetResultTable(bool inMemory, bool immediate, const std::string& tableName, const std::string& databaseName);
  void ApplyDistinct(const std::string& distinctFields);

  // ----- field access -----
  std::int32_t FieldCount() const { return static_cast<std::int32_t>(FFieldLinks.size()); }
  TNRDFieldLink& Link(std::int32_t no);
  bool FindFieldInFieldLinks(const std::string& fieldName, std::int32_t& fieldNo) const;
  std::string GetFieldName(std::int32_t fieldNo, bool applyOrderBy);
  std::string GetFieldNameByVisibleNumber(std::int32_t n);
  std::int32_t GetFieldNoByVisibleNumber(std::int32_t n) const;
  std::int32_t VisibleFieldCount() const;
  void GetFieldValue(TNRDVariant& value, std::int32_t fieldNo, bool accessToHidden);
  TNRDAdvancedFieldType GetFieldType(std::int32_t fieldNo);
  std::int32_t GetFieldSize(std::int32_t fieldNo);
  std::int32_t GetFieldPrecision(std::int32_t fieldNo);
  // The output columns in order: link numbers.
  const std::vector<std::int32_t>& ResultFieldsOrder() const { return FResultFieldsOrder; }
  std::vector<std::int32_t> OutputLinks() const;

  // TNRDFieldAccess: column references of expressions bound to this operator.
  std::int32_t FindFieldForExpression(const std::string& tableName, const std::string& fieldName) override;
  std::int32_t FindFieldByAlias(const std::string& tableName, const std::string& fieldName) override;
  void ReadFieldForExpression(std::int32_t fieldNo, TNRDVariant& value) override;
  TNRDAdvancedFieldType FieldTypeForExpression(std::int32_t fieldNo) override;
  std::int32_t FieldSizeForExpression(std::int32_t fieldNo) override;

  // ----- state -----
  bool FIsRootAO = false;
  bool FIsAOTable = false;
  bool FIsAOGroupBy = false;
  std::unique_ptr<TNRDExpression> FFilterExpr;
  TNRDAO* FParentQueryAO = nullptr;
  std::int64_t FTopRowCount = -1;
  std::int64_t FFirstRowNo = -1;
  bool FHasSetResultFields = false;
  std::string FResultTableName;
  bool FResultInMemory = false;
  bool FResultImmediate = false;
  std::string FResultDatabaseName;
  std::string FTableName, FTableAlias;
  bool FIsMaterialized = false;
  std::unique_ptr<TNRDTable> FResultDataset;
  std::vector<std::int32_t> FResultFieldsOrder;
  bool FLeftAONull = false, FRightAONull = false;
  bool FDistinctApplied = false;
  std::vector<std::int32_t> FDistinctFieldsMap;
  std::vector<std::string> FResultIndexFieldsList, FResultIndexAscDescFieldsList, FResultIndexCaseInsFieldsList;
  bool FExpressionsExists = false;
  bool FIsLocked = false;
  bool FDisableTempFiles = false;
  std::vector<TNRDFieldLink> FFieldLinks;
  std::unique_ptr<TNRDAO> FLeftAO, FRightAO;
  std::string FSessionName;  // the session of the tables read

 protected:
  TNRDAO() = default;
  // Common initialisation of every operator.
  void InitAO(std::unique_ptr<TNRDAO> leftAO, std::unique_ptr<TNRDAO> rightAO, const std::string& tableAlias,
              const std::string& tableName);
  // The raw row stream of the operator, before filter, DISTINCT and TOP.
  virtual void InternalFirst() {}
  virtual void InternalNext() {}
  virtual bool InternalGetEof() { return true; }
  virtual std::int64_t InternalGetRecordCount() { return 0; }
  // Reads a link of a child (NULL while that child is padded).
  virtual void ReadChildLink(const TNRDFieldLink& link, TNRDVariant& value);
  // Appends a link to the left child's link `fieldNo`.
  void AddLeftChildLink(std::int32_t fieldNo, bool skipHidden);
  // Appends a link that copies the child's link `fieldNo` (hidden unless the child shows it).
  TNRDFieldLink& AddChildLink(TNRDAO* child, std::int32_t fieldNo, bool keepHidden);
  void EvaluateAccepted();
  bool RowAccepted();
  void Materialize();
  // True when a row of this operator was already read (DISTINCT while streaming).
  bool IsDuplicateRow();

 private:
  // Streaming state of the base (filter, DISTINCT, TOP, buffered order).
  void SkipRejected();
  void BufferOrdered();
  std::int64_t FRowNo = 0;       // input rows read
  std::int64_t FEmitted = 0;     // rows given out
  bool FTopReached = false;
  struct RowLess {
    bool operator()(const TNRDRow& a, const TNRDRow& b) const;
  };
  std::unique_ptr<std::set<TNRDRow, RowLess>> FSeenRows;  // for DISTINCT
  std::unordered_set<std::string> FSeenBytes;              // the exact bytes of rows seen
  TNRDRow FDistinctProbe;                                  // the row being looked up
  std::string FDistinctBytes;                              // its exact bytes
  // An ordered, buffered copy of the stream (all links) when an order is needed below the root.
  std::unique_ptr<std::vector<TNRDRow>> FOrderedRows;
  TNRDRowStore FOrderedStore;  // the values of FOrderedRows
  std::size_t FOrderedPos = 0;
  bool FTemporaryResult = false;
  bool FSortBeforeWriting = false;  // the root writes its temporary result in order, without an index
};

// The leaf: one table through a table component.
class TNRDAOTable : public TNRDAO {
 public:
  // Takes the table component over and opens it (10303 on failure).
  TNRDAOTable(const std::string& tableName, const std::string& tableAlias, std::unique_ptr<TNRDTable> table);
  void Execute(bool isRootAO, TNRDAO* parentQueryAO, TNRDCursor* parentCursor) override;
  void SetResultFields(std::vector<TNRDSelectListItem>& fieldRefs, bool distinct) override;
  // The WHERE parts the table's cursor answers (index scans included); not bound to the operator.
  void AddCursorFilter(std::unique_ptr<TNRDExpression> part);
  bool HasCursorFilter() const { return FCursorFilter != nullptr; }
  TNRDTable& Table() { return *FResultDataset; }

 protected:
  void InternalFirst() override;
  void InternalNext() override;
  bool InternalGetEof() override;
  std::int64_t InternalGetRecordCount() override;

 private:
  std::unique_ptr<TNRDExpression> FCursorFilter;
};

class TNRDAOJoin : public TNRDAO {
 public:
  TNRDAOJoin(std::unique_ptr<TNRDAO> left, std::unique_ptr<TNRDAO> right, TNRDJoinType joinType, bool isNatural,
             const TNRDFields* fieldList1, const TNRDFields* fieldList2, std::unique_ptr<TNRDExpression> joinCondition);
  void Execute(bool isRootAO, TNRDAO* parentQueryAO, TNRDCursor* parentCursor) override;
  TNRDJoinType JoinType() const { return FJoinType; }
  bool IsOuterJoin() const { return FOuterJoin; }
  // Rows of the scanned input read so far: once each into the buffer, then the rows each driving
  // row's key range visits. A keyed join stays near the sizes of its inputs and its result.
  std::int64_t ScannedRowsRead() const { return FScannedRowsRead; }

  bool FDekart = false, FOuterJoin = false, FInnerJoin = false;
  TNRDJoinType FJoinType = ajtInner;
  std::vector<std::int32_t> FFields1, FFields2;  // key links, left and right
  std::unique_ptr<TNRDExpression> FJoinCondition;
  bool FFieldsLink = false;

 protected:
  void InternalFirst() override;
  void InternalNext() override;
  bool InternalGetEof() override;
  std::int64_t InternalGetRecordCount() override;
  void ReadChildLink(const TNRDFieldLink& link, TNRDVariant& value) override;

 private:
  // The scanned input: every row of one child, its key values, sorted by key.
  struct Buffered {
    std::vector<TNRDRow> rows;            // values of the child's links (all of them)
    TNRDRowStore store;                   // the values of rows
    std::vector<std::size_t> order;       // row numbers sorted by key
    std::vector<std::int32_t> keyLinks;   // child link numbers of the keys
    std::vector<bool> matched;            // full join: rows that found a partner
    // One key column whose values are all integers or NULL: the keys in `order`'s order, the
    // NULLs (first in that order) left out; `intKeysFrom` is the position of the first non-NULL.
    bool intKeys = false;
    std::vector<std::int64_t> keys;
    std::size_t intKeysFrom = 0;
  };
  void BufferScanned();
  bool ConditionHolds();
  bool KeysOfDrivingRow(TNRDRow& keys);
  // Positions on the next output row; false at the end.
  bool Step();
  bool FDrivingIsLeft = true;
  Buffered FScanned;
  TNRDRow FDrivingKeys;             // the driving row's key values, kept between rows
  bool FEof = false;
  bool FInRightRest = false;        // full join: emitting unmatched scanned rows
  std::size_t FRangeBegin = 0, FRangeEnd = 0, FRangePos = 0;
  bool FDrivingMatched = false;
  std::int64_t FScannedRow = -1;   // row of FScanned shown, -1 none
  bool FDrivingStarted = false;
  std::int64_t FScannedRowsRead = 0;
};

class TNRDAOUnion : public TNRDAO {
 public:
  TNRDAOUnion(std::unique_ptr<TNRDAO> left, std::unique_ptr<TNRDAO> right, TNRDUnionType unionType,
              TNRDAO* parentQueryAO, TNRDCursor* parentCursor, bool isCorresponding, bool distinct,
              const TNRDFields* fieldList);
  void Execute(bool isRootAO, TNRDAO* parentQueryAO, TNRDCursor* parentCursor) override;
  TNRDUnionType FUnionType;
  std::vector<std::int32_t> FFields1, FFields2;  // paired output links of the left and right inputs

 protected:
  void InternalFirst() override;
  void InternalNext() override;
  bool InternalGetEof() override;
  void ReadChildLink(const TNRDFieldLink& link, TNRDVariant& value) override;

 private:
  TNRDRow PairedRow(TNRDAO& child, const std::vector<std::int32_t>& links);
  void SkipLeftRows();
  bool FShowLeft = true;
  bool FEof = false;
  bool FDistinct = false;
  std::vector<TNRDRow> FRightRows;  // INTERSECT, EXCEPT: the right input, sorted
};

class TNRDAOTableExpr : public TNRDAO {
 public:
  explicit TNRDAOTableExpr(std::unique_ptr<TNRDAO> child);

 protected:
  void InternalFirst() override;
  void InternalNext() override;
  bool InternalGetEof() override;
  std::int64_t InternalGetRecordCount() override;
};

class TNRDAOGroupBy : public TNRDAO {
 public:
  TNRDAOGroupBy(std::unique_ptr<TNRDAO> child, const TNRDFields* fieldList, std::vector<TNRDSelectListItem>& fieldRefs);
  void SetResultFields(std::vector<TNRDSelectListItem>& fieldRefs, bool distinct) override;
  void Execute(bool isRootAO, TNRDAO* parentQueryAO, TNRDCursor* parentCursor) override;
  bool FAllFields = false;
  std::vector<std::int32_t> FFields;  // group links
  std::string GroupByFields;

 protected:
  void InternalFirst() override;
  void InternalNext() override;
  bool InternalGetEof() override;
  std::int64_t InternalGetRecordCount() override;
  void ReadChildLink(const TNRDFieldLink& link, TNRDVariant& value) override;

 private:
  // One group met in the input: the values of its last input row (the columns something reads)
  // and the states of the aggregates over its rows.
  struct TGroup {
    TNRDRow row;
    std::vector<TNRDExprNodeAggregated::TGroupState> states;
  };
  // Orders group numbers on the group links of their rows; kProbe stands for FProbe, the group
  // links of the input row being placed.
  struct TGroupLess {
    static constexpr std::size_t kProbe = static_cast<std::size_t>(-1);
    const TNRDAOGroupBy* owner;
    bool operator()(std::size_t a, std::size_t b) const;
  };
  void InitGroup();
  void AccumulateRow();
  // Makes group `no`'s aggregate states the nodes' own (the group loaded before gets its back).
  void LoadGroup(std::int64_t no);
  void ShowGroup();
  std::vector<TNRDExprNodeAggregated*> FAggregates;  // every aggregate node of the links and HAVING
  std::vector<TGroup> FGroups;
  std::vector<std::size_t> FKeys;     // the child columns of the group links
  TNRDRow FProbe;                     // per key: the current input row's value
  std::vector<std::size_t> FOrder;    // group numbers in the order of their group links
  std::size_t FPos = 0;               // next group of FOrder to show
  std::int64_t FCurrent = -1;         // the group shown; its row answers the child columns
  std::int64_t FLoaded = -1;          // the group whose aggregate states the nodes hold
  bool FReadingInput = false;         // child columns come from the child's current row
  bool FEOF = true;
  bool FCountOnly = false;
};

class TNRDAOSQLTopRowCount : public TNRDAO {
 public:
  explicit TNRDAOSQLTopRowCount(std::unique_ptr<TNRDAO> child);
  void SetTopRowCount(std::int64_t firstRowNo, std::int64_t topRowCount) override;

 protected:
  void InternalFirst() override;
  void InternalNext() override;
  bool InternalGetEof() override;
};

}  // namespace sql
}  // namespace nrd
