// SQL expressions: the expression tree (nodes for columns, constants, ROWNUM, logic, comparisons,
// arithmetic, string, cast, CASE, BLOB and date functions, aggregates and nested SELECTs), its
// recursive-descent grammar, and TNRDExpression, the one object through which the rest of the
// engine parses, binds, evaluates and plans an expression (filters, Locate, match conditions,
// defaults, WHERE parts turned into index-scan conditions).
//
// Ownership: a node owns its children; an expression owns its root. A node's Value holds its last
// result and is overwritten by the next evaluation; callers read it and never keep it.
// Limits that keep hostile text harmless: the parser's nesting depth is capped (30507), its work
// per parse is bounded (30511), and every rule's result is remembered per token position so that
// backtracking never re-parses a nested construct (parsing is polynomial in the text, never
// exponential). Integer arithmetic that leaves its type, division by zero and functions outside
// their domain raise ENRDException (30508, 30128, 30514) instead of wrapping or giving NaN.
// Nested SELECTs are run through TNRDSubqueryRunner, which the SELECT layer registers; without one
// a SELECT inside an expression raises 30512. Not thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/foundation/NRDTypes.h"
#include "engine/foundation/NRDVariant.h"
#include "engine/sql/NRDDateFormat.h"
#include "engine/sql/NRDExpressionFast.h"
#include "engine/sql/NRDExpressionLike.h"
#include "engine/sql/NRDLexer.h"
#include "engine/storage/NRDExpressionHook.h"
#include "engine/storage/NRDSearch.h"

namespace nrd {

class TDataSet;
class TNRDCursor;
class TNRDIndexDef;
class TNRDIndexDefs;

namespace sql {

class TNRDExpression;

enum TNRDQuantifier : std::uint8_t { qUNDEFINED, qALL, qANY };

// Node classes, for checked downcasts.
enum class TNodeKind : std::uint8_t {
  Field, Const, System, Boolean, Comparison, Arithmetic, StringFunction, Cast, Case, Blob, DateFunction,
  Aggregated, Subquery
};

// ----- nested SELECTs -----------------------------------------------------------------------------

// The rows of a nested SELECT, as the SELECT layer delivers them.
class TNRDSubqueryResult {
 public:
  virtual ~TNRDSubqueryResult() = default;
  virtual std::int32_t FieldCount() const = 0;
  virtual std::int64_t RowCount() const = 0;
  // The value of a column of a row (0-based); REQUIRES: row < RowCount(), field < FieldCount().
  virtual void GetValue(std::int64_t row, std::int32_t field, TNRDVariant& value) const = 0;
};

// The SELECT layer's side of a nested SELECT. Positions are lexer command and token numbers of the
// SELECT keyword.
class TNRDSubqueryRunner {
 public:
  virtual ~TNRDSubqueryRunner() = default;
  // Reads the SELECT at the lexer's current token and leaves the lexer on the first token after it
  // (a closing parenthesis of the enclosing expression is not part of it). Throws for bad text.
  virtual void Skip(TNRDLexer& lexer) = 0;
  // True when the SELECT uses no column of an enclosing query (then it runs once per node).
  virtual bool IsUncorrelated(TNRDLexer& lexer, std::int32_t commandNo, std::int32_t tokenNo) = 0;
  // Runs the SELECT; `outerCursor` and `outerRecord` give the enclosing row (either may be null).
  virtual std::unique_ptr<TNRDSubqueryResult> Execute(TNRDLexer& lexer, std::int32_t commandNo, std::int32_t tokenNo,
                                                      TNRDCursor* outerCursor, void* outerRecord) = 0;
  // The same with the enclosing relational operator (a TNRDFieldAccess, or null) whose current row
  // the SELECT's outer column references read.
  virtual std::unique_ptr<TNRDSubqueryResult> ExecuteInAO(TNRDLexer& lexer, std::int32_t commandNo,
                                                          std::int32_t tokenNo, TNRDCursor* outerCursor,
                                                          void* outerRecord, void* /*outerAO*/) {
    return Execute(lexer, commandNo, tokenNo, outerCursor, outerRecord);
  }
  virtual TNRDAdvancedFieldType GetDataType(TNRDLexer& lexer, std::int32_t commandNo, std::int32_t tokenNo) = 0;
  virtual std::int32_t GetDataSize(TNRDLexer& lexer, std::int32_t commandNo, std::int32_t tokenNo) = 0;
};
// The registered runner (not owned), or null.
void SetSubqueryRunner(TNRDSubqueryRunner* runner);
TNRDSubqueryRunner* GetSubqueryRunner();

// While one lives, column references bind only through FindFieldByAlias: a qualifier that names an
// aliased table by its own name finds nothing. The runner asks this way whether a nested SELECT
// needs an enclosing row, so that "FROM t t2 WHERE t2.g = t.g" counts as correlated.
class TNRDQualifierByAliasOnly {
 public:
  TNRDQualifierByAliasOnly();
  ~TNRDQualifierByAliasOnly();
  TNRDQualifierByAliasOnly(const TNRDQualifierByAliasOnly&) = delete;
  TNRDQualifierByAliasOnly& operator=(const TNRDQualifierByAliasOnly&) = delete;

 private:
  bool FPrevious;
};

// ----- relational operators -----------------------------------------------------------------------

// A relational operator as its expressions see it: column references bind to its columns by name
// and read the operator's current row.
class TNRDFieldAccess {
 public:
  virtual ~TNRDFieldAccess() = default;
  // The number of the column named so (the table name, when not empty, must name its source);
  // -1 when none. A table is named by its own name or by its alias.
  virtual std::int32_t FindFieldForExpression(const std::string& tableName, const std::string& fieldName) = 0;
  // The same, but a table that has an alias is named by its alias only (the scope rule of a
  // nested SELECT: in "FROM t t2", t names the enclosing query's t). Column references try this
  // first, on their own operator and then on the enclosing one, and fall back to the looser
  // lookup only when neither answers.
  virtual std::int32_t FindFieldByAlias(const std::string& tableName, const std::string& fieldName) {
    return FindFieldForExpression(tableName, fieldName);
  }
  virtual void ReadFieldForExpression(std::int32_t fieldNo, TNRDVariant& value) = 0;
  virtual TNRDAdvancedFieldType FieldTypeForExpression(std::int32_t fieldNo) = 0;
  virtual std::int32_t FieldSizeForExpression(std::int32_t fieldNo) = 0;
};

// ----- nodes ----------------------------------------------------------------------------------------

class TNRDExprNode;
using TNRDExprNodePtr = std::unique_ptr<TNRDExprNode>;

class TNRDExprNode {
 public:
  TNRDExprNode(TNRDDataOperator op, bool caseInsensitive, bool partialKey);
  virtual ~TNRDExprNode();
  TNRDExprNode(const TNRDExprNode&) = delete;
  TNRDExprNode& operator=(const TNRDExprNode&) = delete;

  virtual TNodeKind Kind() const = 0;
  // A deep copy, unbound state included (the parser hands out copies of remembered results).
  virtual TNRDExprNodePtr Clone() const = 0;

  virtual void AdjustAfterBinding();
  virtual TNRDVariant& GetDataValue() = 0;
  virtual void ResetSubqueryFieldValues() {}
  virtual TNRDVariant* GetSubqueryFieldValue(std::int32_t) { return nullptr; }
  virtual bool IsAggregated();
  virtual bool IsAggregatedCountAll() { return false; }
  virtual void Init();
  virtual void Accumulate();
  virtual void SetCountAll(std::int64_t) {}
  virtual void AssignCursor(TNRDCursor* cursor, void* parentQueryAO, TNRDCursor* parentCursor);
  virtual void AssignCursorBuffer(void* buffer, bool applyToParentQueryFields);
  // Binds column references to the operator `ao`, or, failing that, to the enclosing query's
  // operator `parentAO` (30115 when neither has the column).
  virtual void AssignAO(TNRDFieldAccess* ao, TNRDFieldAccess* parentAO);
  // True when every column reference would bind to `ao` or `parentAO` (either may be null).
  virtual bool CanBeAssigned(TNRDFieldAccess* ao, TNRDFieldAccess* parentAO);
  // True when the node or a descendant is a nested SELECT.
  bool HasSubquery();
  virtual TNRDAdvancedFieldType GetDataType();
  virtual std::int32_t GetDataSize();
  virtual std::int32_t GetPrecision() { return 0; }
  virtual bool CanUseIndex(std::int32_t indexColumnNo, TNRDSearchCondition conditionSearchOperator,
                           const TNRDIndexDef& indexDef, std::int32_t sessionID);
  virtual void AddAsIndexScanCondition(TNRDScanSearchConditionArray&, const TNRDIndexDef&, TNRDExpression*) {}
  virtual void ExtendIndexScanCondition(TNRDScanSearchCondition&, const TNRDIndexDef&, TNRDExpression*) {}
  virtual bool CanBeUsedInGroupBy(const std::string& groupByFields);

  void AddChild(TNRDExprNodePtr child) { Children.push_back(std::move(child)); }
  TNRDExprNode* Child(std::size_t i) const { return Children[i].get(); }

  std::vector<TNRDExprNodePtr> Children;
  TNRDDataOperator Operator;
  TNRDVariant Value;
  bool FCaseInsensitive;
  bool FPartialKey;

 protected:
  // Copies the base state and clones the children into `copy`.
  TNRDExprNodePtr CloneInto(TNRDExprNodePtr copy) const;
};

// Checked downcast: null when the node is of another kind.
template <typename T>
T* NodeAs(TNRDExprNode* node) {
  return node != nullptr && node->Kind() == T::kKind ? static_cast<T*>(node) : nullptr;
}

class TNRDExprNodeField : public TNRDExprNode {
 public:
  static constexpr TNodeKind kKind = TNodeKind::Field;
  TNRDExprNodeField(TNRDCursor* cursor, std::string fieldName, std::string tableName);
  TNodeKind Kind() const override { return kKind; }
  TNRDExprNodePtr Clone() const override;
  TNRDVariant& GetDataValue() override;
  void AssignCursor(TNRDCursor* cursor, void* parentQueryAO, TNRDCursor* parentCursor) override;
  void AssignCursorBuffer(void* buffer, bool applyToParentQueryFields) override;
  void AssignAO(TNRDFieldAccess* ao, TNRDFieldAccess* parentAO) override;
  bool CanBeAssigned(TNRDFieldAccess* ao, TNRDFieldAccess* parentAO) override;
  TNRDAdvancedFieldType GetDataType() override;
  std::int32_t GetDataSize() override { return FFieldSize; }
  bool CanBeUsedInGroupBy(const std::string& groupByFields) override;
  bool FindFieldInCursor(TNRDCursor* cursor, std::int32_t& fieldNo) const;
  // A Clob or WideClob column of `buffer` read whole into Value as an 8-bit or wide text.
  void ReadTextBlob(void* buffer);

  TNRDFieldAccess* LAO = nullptr;  // set when bound to an operator instead of a cursor
  std::int32_t FAOFieldNo = -1;

  TNRDCursor* LCursor = nullptr;
  void* LRecordBuffer = nullptr;
  std::string FTableName, FFieldName;
  std::int32_t FFieldNo = -1;  // table field number
  std::int32_t FFieldOffsetInBuffer = 0;
  TNRDAdvancedFieldType FFieldType = aftUnknown;
  TNRDBaseFieldType FBaseFieldType = bftUnknown;
  std::int32_t FFieldSize = 0;
  std::int32_t FMemoryDataSize = 0;
  bool FGetFromParent = false;
};

class TNRDExprNodeConst : public TNRDExprNode {
 public:
  static constexpr TNodeKind kKind = TNodeKind::Const;
  TNRDExprNodeConst() : TNRDExprNode(doUNDEFINED, false, false) {}
  TNodeKind Kind() const override { return kKind; }
  TNRDExprNodePtr Clone() const override;
  TNRDVariant& GetDataValue() override { return Value; }
  TNRDAdvancedFieldType GetDataType() override;
  std::int32_t GetDataSize() override;
  bool IsLikePatternEqualToPartialComparePattern() const;
  void TruncateForPartialCompare();
  bool IsLowerCase() const;
  bool IsUpperCase() const;
};

// ROWNUM and LASTAUTOINC. LASTAUTOINC opens its table read-only when it is made: through a table
// component when a session or database name is given, else in the engine session of `cursor` (the
// cursor an expression is parsed for); with neither it raises 30512. A missing column raises 30337.
class TNRDExprNodeSystem : public TNRDExprNode {
 public:
  static constexpr TNodeKind kKind = TNodeKind::System;
  TNRDExprNodeSystem(TNRDDataOperator op, std::string tableName, std::string columnName, bool inMemory,
                     std::string sessionName = {}, std::string databaseName = {}, TNRDCursor* cursor = nullptr);
  ~TNRDExprNodeSystem() override;
  TNodeKind Kind() const override { return kKind; }
  TNRDExprNodePtr Clone() const override;
  TNRDVariant& GetDataValue() override;
  TNRDAdvancedFieldType GetDataType() override;
  std::int32_t GetDataSize() override { return 0; }
  std::string FTableName, FColumnName;
  bool FInMemory;
  std::string FSessionName, FDatabaseName;
  std::int32_t FRowNumValue = 0;
  TNRDAdvancedFieldType FFieldType = aftUnknown;

 private:
  void OpenTable();
  TNRDCursor* LCursor;                           // the parse's cursor, whose session is used
  std::unique_ptr<TDataSet> FTable;              // the table component, or
  std::unique_ptr<TNRDCursor> FTableCursor;      // a cursor of the table in the engine session
  std::int32_t FFieldNo = -1;
};

class TNRDExprNodeBoolean : public TNRDExprNode {
 public:
  static constexpr TNodeKind kKind = TNodeKind::Boolean;
  TNRDExprNodeBoolean(TNRDDataOperator op, bool caseInsensitive, bool partialKey, std::string escapeStr = {});
  TNodeKind Kind() const override { return kKind; }
  TNRDExprNodePtr Clone() const override;
  TNRDVariant& GetDataValue() override;
  bool CanUseIndex(std::int32_t indexColumnNo, TNRDSearchCondition conditionSearchOperator,
                   const TNRDIndexDef& indexDef, std::int32_t sessionID) override;
  void AddAsIndexScanCondition(TNRDScanSearchConditionArray& conditions, const TNRDIndexDef& indexDef,
                               TNRDExpression* expression) override;
  void ExtendIndexScanCondition(TNRDScanSearchCondition& condition, const TNRDIndexDef& indexDef,
                                TNRDExpression* expression) override;
  TNRDAdvancedFieldType GetDataType() override { return aftBoolean; }
  std::string EscapeStr;

 private:
  // LIKE: the last pattern compiled, reused while the pattern stays the same (a constant pattern
  // is compiled once for all the records a filter reads).
  std::unique_ptr<TLikeMatcher<char>> FAnsiLike;
  std::unique_ptr<TLikeMatcher<char16_t>> FWideLike;
  bool MatchLike(const TNRDVariant& value, const TNRDVariant& pattern);
};

class TNRDExprNodeComparison : public TNRDExprNode {
 public:
  static constexpr TNodeKind kKind = TNodeKind::Comparison;
  TNRDExprNodeComparison(TNRDDataOperator op, TNRDQuantifier quantifier, TNRDExprNodePtr node1, TNRDExprNodePtr node2,
                         bool trueFalseNullLogic, bool caseInsensitive, bool partialKey);
  TNodeKind Kind() const override { return kKind; }
  TNRDExprNodePtr Clone() const override;
  void AdjustAfterBinding() override;
  TNRDVariant& GetDataValue() override;
  bool CanUseIndex(std::int32_t indexColumnNo, TNRDSearchCondition conditionSearchOperator,
                   const TNRDIndexDef& indexDef, std::int32_t sessionID) override;
  void AddAsIndexScanCondition(TNRDScanSearchConditionArray& conditions, const TNRDIndexDef& indexDef,
                               TNRDExpression* expression) override;
  void ExtendIndexScanCondition(TNRDScanSearchCondition& condition, const TNRDIndexDef& indexDef,
                                TNRDExpression* expression) override;
  TNRDAdvancedFieldType GetDataType() override { return aftBoolean; }
  // The column and the constant of an indexable comparison (either may come back null).
  void GetFieldAndConstNodes(TNRDExprNodeField*& fieldNode, TNRDExprNode*& constNode);
  bool F3ValueLogic;
  TNRDQuantifier FQuantifier;
};

class TNRDExprNodeArithmetic : public TNRDExprNode {
 public:
  static constexpr TNodeKind kKind = TNodeKind::Arithmetic;
  using TNRDExprNode::TNRDExprNode;
  TNodeKind Kind() const override { return kKind; }
  TNRDExprNodePtr Clone() const override;
  TNRDVariant& GetDataValue() override;
  TNRDAdvancedFieldType GetDataType() override;
};

class TNRDExprNodeStringFunction : public TNRDExprNode {
 public:
  static constexpr TNodeKind kKind = TNodeKind::StringFunction;
  using TNRDExprNode::TNRDExprNode;
  TNodeKind Kind() const override { return kKind; }
  TNRDExprNodePtr Clone() const override;
  TNRDVariant& GetDataValue() override;
  TNRDAdvancedFieldType GetDataType() override;
  std::int32_t GetDataSize() override;
};

class TNRDExprNodeCast : public TNRDExprNode {
 public:
  static constexpr TNodeKind kKind = TNodeKind::Cast;
  TNRDExprNodeCast(TNRDExprNodePtr node, TNRDAdvancedFieldType castType, TNRDExprNodePtr castSizeNode);
  TNodeKind Kind() const override { return kKind; }
  TNRDExprNodePtr Clone() const override;
  TNRDVariant& GetDataValue() override;
  TNRDAdvancedFieldType GetDataType() override { return FCastType; }
  std::int32_t GetDataSize() override;
  TNRDAdvancedFieldType FCastType;
  bool HasSizeNode() const { return Children.size() > 1; }
};

// CASE and COALESCE. The parts are children; the lists hold child numbers.
class TNRDExprNodeCase : public TNRDExprNode {
 public:
  static constexpr TNodeKind kKind = TNodeKind::Case;
  static std::unique_ptr<TNRDExprNodeCase> CreateSimpleCase(TNRDExprNodePtr inputExpression);
  static std::unique_ptr<TNRDExprNodeCase> CreateSearchedCase();
  static std::unique_ptr<TNRDExprNodeCase> CreateCoalesce(std::vector<TNRDExprNodePtr> nodes);
  TNodeKind Kind() const override { return kKind; }
  TNRDExprNodePtr Clone() const override;
  void AddWhenExpression(TNRDExprNodePtr node);
  void AddResultExpression(TNRDExprNodePtr node);
  void SetElseResultExpression(TNRDExprNodePtr node);
  TNRDVariant& GetDataValue() override;
  TNRDAdvancedFieldType GetDataType() override;
  std::int32_t GetDataSize() override;

  std::vector<std::size_t> FWhenExpressions, FResultExpressions, FCoalesceNodes;
  std::int32_t FElseResultExpression = -1;
  std::int32_t FInputExpression = -1;
  bool FIsCoalesceExpression = false;

 private:
  TNRDExprNodeCase() : TNRDExprNode(doUNDEFINED, false, false) {}
  // Wraps child i in a CAST to `type` unless it already has that type or is a CAST.
  void CastChildTo(std::size_t i, TNRDAdvancedFieldType type);
};

class TNRDExprNodeBlob : public TNRDExprNode {
 public:
  static constexpr TNodeKind kKind = TNodeKind::Blob;
  explicit TNRDExprNodeBlob(TNRDExprNodePtr node);
  TNodeKind Kind() const override { return kKind; }
  TNRDExprNodePtr Clone() const override;
  TNRDVariant& GetDataValue() override;
  TNRDAdvancedFieldType GetDataType() override { return aftString; }
  std::int32_t GetDataSize() override { return 0; }
};

class TNRDExprNodeDateFunction : public TNRDExprNode {
 public:
  static constexpr TNodeKind kKind = TNodeKind::DateFunction;
  // SYSDATE, CURRENT_DATE, CURRENT_TIME (no child); TODATE and TOSTRING (a child and a format).
  TNRDExprNodeDateFunction(TNRDDataOperator op, TNRDExprNodePtr node, const std::string* formatStr);
  TNRDExprNodeDateFunction(TNRDExprNodePtr extractSource, TNRDDateTimeExtractField extractField);
  TNodeKind Kind() const override { return kKind; }
  TNRDExprNodePtr Clone() const override;
  TNRDVariant& GetDataValue() override;
  TNRDAdvancedFieldType GetDataType() override;
  std::int32_t GetDataSize() override;
  std::unique_ptr<TDateFormater> DateFormater;
  std::string FFormat;
  TNRDDateTimeExtractField ExtractDateTimeField = dtefYear;
};

class TNRDExprNodeAggregated : public TNRDExprNode {
 public:
  static constexpr TNodeKind kKind = TNodeKind::Aggregated;
  // COUNT(*) without a node; the others with their argument.
  TNRDExprNodeAggregated(TNRDDataOperator op, bool distinct, TNRDExprNodePtr node);
  ~TNRDExprNodeAggregated() override;
  TNodeKind Kind() const override { return kKind; }
  TNRDExprNodePtr Clone() const override;
  TNRDVariant& GetDataValue() override;
  bool IsAggregated() override { return true; }
  bool IsAggregatedCountAll() override { return Operator == doCOUNTALL; }
  void Init() override;
  void Accumulate() override;
  void SetCountAll(std::int64_t recordCount) override { count = recordCount; }
  TNRDAdvancedFieldType GetDataType() override;
  std::int32_t GetDataSize() override;
  bool CanBeUsedInGroupBy(const std::string&) override { return true; }

  std::int64_t count = 0;
  bool distinct;
  TNRDVariant AvgSum;

  // What a group's accumulation has gathered. A grouping that meets its groups in any order keeps
  // one per group and swaps it with the node's own before accumulating or reading a group; a
  // state made by the default constructor is the one Init leaves.
  struct TGroupState {
    std::int64_t count = 0;
    TNRDVariant value;
    TNRDVariant avgSum;
    std::vector<std::unique_ptr<TNRDVariant>> seen;
  };
  void SwapGroupState(TGroupState& state);
  // The aggregate nodes that Init and Accumulate reach from `node` (not those nested in another
  // aggregate's argument, which they never reach), each once, appended to `out`.
  static void Collect(TNRDExprNode* node, std::vector<TNRDExprNodeAggregated*>& out);

 private:
  // True when v was seen before in this group (DISTINCT); remembers it otherwise.
  bool SeenBefore(const TNRDVariant& v);
  bool AddToInt64Sum(const TNRDVariant& v);
  std::vector<std::unique_ptr<TNRDVariant>> FSeen;
};

class TNRDExprNodeSubquery : public TNRDExprNode {
 public:
  static constexpr TNodeKind kKind = TNodeKind::Subquery;
  // Reads the SELECT at the lexer's current token through the registered runner (30512 without
  // one) and leaves the lexer after it.
  TNRDExprNodeSubquery(bool mustHaveOneField, bool mustHaveOneRow, TNRDLexer* lexer);
  TNodeKind Kind() const override { return kKind; }
  TNRDExprNodePtr Clone() const override;
  TNRDVariant& GetDataValue() override;
  void ResetSubqueryFieldValues() override;
  TNRDVariant* GetSubqueryFieldValue(std::int32_t fieldNo) override;
  void AssignCursor(TNRDCursor* cursor, void* parentQueryAO, TNRDCursor* parentCursor) override;
  void AssignCursorBuffer(void* buffer, bool applyToParentQueryFields) override;
  void AssignAO(TNRDFieldAccess* ao, TNRDFieldAccess* parentAO) override;
  bool CanBeAssigned(TNRDFieldAccess* ao, TNRDFieldAccess* parentAO) override;
  TNRDAdvancedFieldType GetDataType() override;
  std::int32_t GetDataSize() override;
  bool Exists();
  bool IsValueIn(const TNRDVariant& value);
  bool QuantifiedCompare(TNRDDataOperator op, TNRDQuantifier quantifier, const TNRDVariant& value);

  bool FMustHaveOneField, FMustHaveOneRow;
  TNRDLexer* LLexer;
  TNRDCursor* LCursor = nullptr;
  void* LCursorRecordBuffer = nullptr;
  TNRDFieldAccess* LAO = nullptr;  // the enclosing query's operator
  std::int32_t FCommandNo = 0, FTokenNo = 0;
  bool FCorrelated = true;
  std::vector<std::unique_ptr<TNRDVariant>> FFieldValues;

 private:
  TNRDSubqueryResult& Run();
  std::unique_ptr<TNRDSubqueryResult> FResult;  // kept for an uncorrelated SELECT
  TNRDVariant FPriorValueToCheck;
  bool FPriorResult = false, FPriorResultInitialized = false;
};

// ----- the expression object ------------------------------------------------------------------------

class TNRDExpression : public nrd::TNRDExpression, public nrd::TNRDScanExpression {
 public:
  TNRDExpression();
  explicit TNRDExpression(TNRDExprNodePtr rootNode);
  ~TNRDExpression() override;

  // Entry points; each replaces any tree held.
  void ParseForFilter(TNRDCursor* cursor, std::string_view filter, bool caseInsensitive, bool partialKey);
  void ParseForBooleanExpression(TNRDLexer* lexer);
  void ParseForValueExpression(TNRDLexer* lexer);
  void ParseForRowSubqueryExpression(TNRDLexer* lexer);
  // Never throws: false when the text is not exactly one expression.
  bool ParseForDefaultValueExpression(std::string_view defaultValue);
  void ParseForLocate(TNRDCursor* cursor, const std::vector<std::string>& fieldNames,
                      const std::vector<TVariantValue>& keyValues, bool caseInsensitive, bool partialKey);
  void ParseForIsAnyRecordMatchCondition(TNRDCursor* cursor, const std::string& fieldName, TNRDDataOperator op,
                                         const TNRDVariant& value);

  // Null without a tree; NULL becomes false unless trueFalseNullLogic. Owned by the root node.
  TNRDVariant* GetValue(bool trueFalseNullLogic);
  bool GetResult();  // 30110 without a tree
  bool IsEmpty() const override;
  bool IsField() const;
  void GetFieldInfo(std::string& tableName, std::string& fieldName) const;  // 30198
  bool IsFieldsExpression() const;
  TNRDAdvancedFieldType GetDataType();
  std::int32_t GetDataSize();
  bool IsAggregated();
  bool IsAggregatedCountAll();
  void Init();
  void Accumulate();
  void SetCountAll(std::int64_t recordCount);
  bool CanBeUsedInGroupBy(const std::string& groupByFields);

  void AssignCursor(TNRDCursor* cursor, void* parentQueryAO, TNRDCursor* parentCursor) override;
  void AssignCursorBuffer(void* buffer, bool applyToParentQueryFields);
  void AssignAO(TNRDFieldAccess* ao, TNRDFieldAccess* parentAO);
  bool CanBeAssigned(TNRDFieldAccess* ao, TNRDFieldAccess* parentAO);
  bool HasSubquery();
  // Takes the tree apart at its top-level ANDs: the parts, in order; the expression is left empty.
  std::vector<TNRDExprNodePtr> TakeAndParts();

  void MoveAndNodesToRoot();
  void AddNode(TNRDExprNodePtr node);
  void AddAndMoveNodesFromExpression(TNRDExpression& expr);
  std::int32_t ExtractableNodeCount() const;

  // Storage's side.
  void GetValue(TNRDBaseSession* session, TNRDVariant& value) override;
  void CreateIndexScanConditions(const TNRDIndexDefs& indexDefs, TNRDScanSearchConditionArray& scanConditions,
                                 std::int32_t sessionID) override;
  bool ExtendMultiFieldIndexCondition(TNRDScanSearchCondition& scanCondition, const TNRDIndexDef& indexDef) override;
  void RemoveExtractedNodes(const TNRDScanSearchConditionArray& scanConditions, std::int32_t scanConditionNo,
                            std::int32_t scanEndConditionNo) override;
  void AddNode(void* node) override;
  void AssignCursorBuffer(void* recordBuffer) override { AssignCursorBuffer(recordBuffer, false); }
  // Through the compiled short way (NRDExpressionFast.h) when the tree has its form; the nodes are
  // bound to the buffer as the general evaluation would leave them.
  int DecideRecord(void* recordBuffer) override;
  nrd::TNRDScanExpression* ScanExpression() override { return this; }

  TNRDExprNode* Root() const { return FRootExprNode.get(); }

  TNRDCursor* LCursor = nullptr;
  bool FCaseInsensitive = false;
  bool FPartialKey = false;
  bool F3ValueLogic = true;
  bool FInMemory = false;
  // The session and database LASTAUTOINC opens its table in (empty: the session of LCursor).
  std::string FSessionName, FDatabaseName;

 private:
  friend class TNRDExpressionParser;
  void Reset();
  void PostBind();
  // The tree or its binding changed: the post-bind adjustment is due again and the compiled short
  // way and the remembered buffer binding are void.
  void TreeChanged();
  void DropFastFilter();
  // The candidates of index planning: the root and, through AND nodes, its descendants.
  void CollectIndexCandidates(TNRDExprNode* node, std::vector<TNRDExprNode*>& out) const;
  // Splits each BETWEEN on the AND chain from the root whose value is a column and whose bounds
  // are constants into its two comparisons (>= low, <= high), so that an index can serve the
  // range. Only that chain: there a NULL and a false result both reject the record, so the
  // comparisons (never NULL) decide as the BETWEEN did. Used for filters only, never for a check
  // constraint, where NULL passes and false does not.
  static void SplitRangesForIndexes(TNRDExprNodePtr& node);

  TNRDExprNodePtr FRootExprNode;
  std::unique_ptr<TNRDLexer> FOwnLexer;  // the filter's and default's own text
  std::vector<TNRDExprNodePtr> FExtractedNodes;  // unhooked for a scan, given back by AddNode
  // The post-bind adjustment has run over the tree as it stands; every change of the tree clears it.
  bool FAdjusted = false;
  // The compiled short way of a filter (null when the tree has another form), made on first use
  // after a change; and the buffer every column node was last bound to (null when unknown).
  std::unique_ptr<TNRDFastFilter> FFast;
  bool FFastTried = false;
  void* FBoundBuffer = nullptr;
};

// The display text of an operator for messages.
std::string OperatorText(TNRDDataOperator op);
// The column type of an SQL type name (first matching row), aftUnknown when none.
TNRDAdvancedFieldType SQLTypeNameToFieldType(std::string_view typeName);
std::vector<std::string> SplitFieldList(std::string_view text);
TNRDDataOperator MirrorCompareOperator(TNRDDataOperator op);
TNRDDataOperator NegateCompareOperator(TNRDDataOperator op);
bool IsExpressionDefaultValue(const TNRDVariant& value);

// Evaluations made through storage's door since start (filters, WHERE parts, defaults): lets tests
// and diagnostics see how many records an expression was asked about.
std::int64_t StorageEvaluationCount();

// Installs the expression layer behind storage's and the cursor's hooks (idempotent).
void InstallExpressionHooks();
void RemoveExpressionHooks();

}  // namespace sql
}  // namespace nrd
