// Search conditions and index scans: the one search driver of the table object.
//
// SearchRecords serves Locate, FindKey, stepping through a restricted view and filling a view's
// record bitmap. It collects the key condition, the search and filter expressions, the key range
// and the DISTINCT position as scan conditions, lets the expressions add key conditions for their
// comparisons on indexed columns, merges the conditions on one index into ranges (a contradiction
// ends the search without a scan), chooses by estimated page reads the index (or none) and its
// start and end condition, and runs one of four scans. The answer is always the next record in the
// cursor's own order (physical, or its index's), whatever index drives the scan.
//
// Conditions. A key condition says: the record's key, compared in index order (descending columns
// reversed) with the condition's key over KeyFieldCount leading columns, is equal / lower /
// greater / lower or equal / greater or equal. Its key is a memory record buffer of the table.
//
// Expressions. The storage layer sees expressions through TNRDExpression (evaluation) and, when the
// object also implements TNRDScanExpression, through the index-scan protocol below. An expression
// without that protocol is evaluated per record and offers no key conditions.
//
// Departures from the plain cell table and choice rules, each guarding against a wrong answer:
// - (<=, <) on equal keys keeps the stricter "<" (as (>=, >) keeps ">"), so x <= 5 AND x < 5
//   never yields x = 5.
// - Two conditions on one index drive a scan together only when one is a lower bound (>, >=) and
//   the other an upper bound (<, <=); any other pair (an equality on fewer columns beside a bound
//   on more) cannot be cut into one range, so the second one is tested per record instead.
// - A scan that follows another index than the cursor's order, asked to continue from the current
//   record, fills the cursor's bitmap once and walks its bits; without a bitmap it scans onward in
//   the cursor's order, so stepping through a view never re-enumerates every match per step.
// - A comparison whose key condition reaches the NULL keys of its column (x < 5 on an ascending
//   column: NULLs sort lowest) stays in its expression and is tested per record, since the index
//   range holds those NULL keys and no comparison accepts a NULL.
// - A scan through another index than the cursor's enumerates its matches in the direction its
//   start and end were ordered for.
// - The "every bit at once" fill is taken only when the table's bitmap positions are dense (the
//   first record at bit 0, the last at bit count - 1); a table with gaps is read record by record.
//
// The B-tree record index is driven through its bound forms (FindRecordByBounds and the bound
// estimate); any other index through the condition forms of the index interface.
//
// Errors are ENRDException with the codes of the operations; a contradiction is no error.
// Temporary conditions, buffers and search infos are freed on every path, and nodes taken from the
// expressions are always given back. Callers need not hold the table lock: SearchRecords takes it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/foundation/NRDTypes.h"
#include "engine/storage/NRDExpressionHook.h"
#include "engine/storage/NRDMetadata.h"

namespace nrd {

class TNRDCursor;
class TNRDIndex;
class TNRDIndexPosition;
class TNRDRecordBitmap;
class TNRDScanSearchConditionArray;
class TNRDTableData;

class TNRDScanSearchCondition {
 public:
  // An external key buffer belongs to its giver and is never freed here.
  explicit TNRDScanSearchCondition(bool externalKeyRecordBuffer = false);
  ~TNRDScanSearchCondition();
  TNRDScanSearchCondition(const TNRDScanSearchCondition&) = delete;
  TNRDScanSearchCondition& operator=(const TNRDScanSearchCondition&) = delete;

  // Copies everything; the key buffer is copied into a new owned buffer, never shared. The
  // expression and the parents are shared (not owned).
  void Assign(const TNRDScanSearchCondition& source);
  // Frees the key buffer unless it is external.
  void ClearKeyRecordBuffer();
  // Takes an owned copy of size bytes as the key buffer.
  void SetKeyRecordBuffer(const void* buffer, std::int32_t size);

  TNRDExpression* Expression = nullptr;
  TNRDSearchCondition Condition = scNone;
  void* KeyRecordBuffer = nullptr;
  std::int32_t KeyRecordBufferSize = 0;
  std::int32_t KeyFieldCount = 0;
  std::int32_t IndexID = -1;
  bool CreatedFromExpression = false;
  // Pairwise: the expression and the node of it that this condition stands for.
  std::vector<TNRDExpression*> ParentExpressions;
  std::vector<void*> ParentExpressionNodes;
  bool FExternalKeyRecordBuffer;
  bool PartialCompare = false;
};

// The index-scan side of an expression (implemented by the SQL layer's expression object).
class TNRDScanExpression {
 public:
  virtual ~TNRDScanExpression() = default;
  // Appends a key condition for each usable comparison on an indexed column (CreatedFromExpression
  // set, this expression and the node recorded as parents).
  virtual void CreateIndexScanConditions(const TNRDIndexDefs& indexDefs, TNRDScanSearchConditionArray& scanConditions,
                                         std::int32_t sessionID) = 0;
  // Lengthens the condition's key by one column when a comparison of this expression allows it.
  virtual bool ExtendMultiFieldIndexCondition(TNRDScanSearchCondition& scanCondition, const TNRDIndexDef& indexDef) = 0;
  // Unhooks the nodes the two chosen conditions recorded as coming from this expression.
  virtual void RemoveExtractedNodes(const TNRDScanSearchConditionArray& scanConditions, std::int32_t scanConditionNo,
                                    std::int32_t scanEndConditionNo) = 0;
  // Puts an unhooked node back.
  virtual void AddNode(void* node) = 0;
  // Binds the expression's fields to a record buffer of the table.
  virtual void AssignCursorBuffer(void* recordBuffer) = 0;
  // No node left to test.
  virtual bool IsEmpty() const = 0;
  // The filter's answer for a record buffer of the table when the implementation can give it
  // without the general evaluation: 1 accepted, 0 rejected, -1 not decided (then the expression is
  // bound to the buffer and evaluated). An answer must be the one the evaluation gives.
  virtual int DecideRecord(void* recordBuffer) {
    (void)recordBuffer;
    return -1;
  }
};

TNRDScanExpression* AsScanExpression(TNRDExpression* expression);

class TNRDScanSearchConditionArray {
 public:
  std::int32_t Count() const { return static_cast<std::int32_t>(Items.size()); }
  TNRDScanSearchCondition* Item(std::int32_t i) const { return Items[static_cast<std::size_t>(i)].get(); }

  // Appends an expression condition (scNone, no key, IndexID -1).
  void AddExpression(TNRDExpression* expression);
  // Appends a copy; 10388 for a condition with neither an expression nor an index.
  void AddCondition(const TNRDScanSearchCondition& condition);
  // 10413 outside 0..Count-1; 10414 for an empty slot.
  void Delete(std::int32_t itemNo);
  void CreateIndexScanConditionsFromExpressions(const TNRDIndexDefs& indexDefs, std::int32_t sessionID);
  void RemoveUnusedConditionsCreatedFromExpressions(std::int32_t& scanConditionNo, std::int32_t& scanEndConditionNo);
  void ExtractChosenConditionsFromExpressions(std::int32_t scanConditionNo, std::int32_t scanEndConditionNo);
  void ReturnExtractedConditionsToExpressions(std::int32_t scanConditionNo, std::int32_t scanEndConditionNo);

  std::vector<std::unique_ptr<TNRDScanSearchCondition>> Items;
};

// The last index position of a cursor, so that the index can continue from it while index, record
// and table state are unchanged.
class TNRDIndexPositionCache {
 public:
  std::unique_ptr<TNRDIndexPosition> Position;
  std::int32_t IndexID = -1;
  TNRDPageItemID RecordID;
  std::int32_t TableState = -1;
};

// ----- merging ----------------------------------------------------------------------------------------

// What merging a kept condition k with a new one j gives.
enum class TNRDMergeOutcome : std::uint8_t {
  None,           // both stay
  Contradiction,  // no record satisfies both
  KeepK,          // k replaces both
  TakeJ,          // j replaces k
  Shorter,        // the one with fewer key columns (k on equal counts)
  Longer,         // the one with more key columns (k on equal counts)
  LongerAsEqual,  // the longer one, turned into scEqual
};

// Whether k and j may be merged at all (not an equality on fewer columns beside < or >).
bool CanMergeConditions(TNRDSearchCondition k, std::int32_t kCount, TNRDSearchCondition j, std::int32_t jCount);
// The merge cell: c is the comparison of k's key with j's key over the smaller count.
TNRDMergeOutcome MergeCell(TNRDSearchCondition k, std::int32_t kCount, TNRDSearchCondition j, std::int32_t jCount,
                           int c);

// Compares two keys over count leading columns in an index's order.
using TNRDKeyComparer = std::int32_t (*)(void* context, std::int32_t indexID, const void* key1, const void* key2,
                                         std::int32_t count);

// Merges the key conditions on each index; null and contradiction set when no record can match.
std::unique_ptr<TNRDScanSearchConditionArray> MergeScanConditions(const TNRDScanSearchConditionArray& conditions,
                                                                  TNRDKeyComparer compare, void* context,
                                                                  bool& contradiction);

// ----- the driver -------------------------------------------------------------------------------------

// The search driver. Under the table lock. True when a record was found (then foundRecordID);
// always false while filling a bitmap. keyCondition is FindKey's (IndexID -1 raises 20258).
bool SearchRecords(TNRDTableData& table, TNRDCursor& cursor, TNRDExpression* expression, bool fillBitmap,
                   TNRDRecordBitmap* bitmap, TNRDPageItemID& foundRecordID, bool goForward, bool restart,
                   const TNRDScanSearchCondition* keyCondition);

// Chooses the scan for a merged array (numbers -1 for none). Exposed for tests.
void ChooseScanConditions(TNRDTableData& table, TNRDCursor& cursor, TNRDScanSearchConditionArray& conditions,
                          bool goForward, std::int32_t& scanConditionNo, std::int32_t& scanEndConditionNo);

// Whether the record satisfies the condition (key compare through the condition's index, or the
// expression evaluated on the buffer). scNone without expression fails.
bool IsConditionSatisfied(TNRDTableData& table, TNRDCursor& cursor, const TNRDScanSearchCondition& condition,
                          void* recordBuffer);
// Evaluates a filter expression on a record buffer: true only for a non-NULL true value.
bool EvaluateFilterExpression(TNRDCursor& cursor, TNRDExpression* expression, void* recordBuffer);

}  // namespace nrd
