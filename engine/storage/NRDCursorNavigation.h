// Cursor navigation over a table object, for every engine: the current, next and prior record in
// physical order or in the cursor's index order, restricted views (key range, filter expression,
// SQL filter, filter callback, DISTINCT) kept in the cursor's record bitmap, record numbers (RecNo,
// from 1) and record counts of the view, Locate by expression and FindKey by key.
//
// These are the table object's navigation slots; the local cursor calls them. Searching goes
// through SearchRecords (NRDSearch.h), storage through the record and index managers, and the
// engines supply InternalSetRecNo, InternalGetRecNo, InternalGetRecordCount and the bitmap
// numbering. A cursor's position changes only when an operation succeeds; a failed or fruitless
// search leaves it where it was. A RecNo is never stored: it is computed on each request.
//
// Every operation takes the table lock. Errors are ENRDException (10015, 10016, 10272, 10380, and
// those of the search); temporary buffers and index positions are freed on every path.
#pragma once

#include <cstdint>

#include "engine/foundation/NRDTypes.h"
#include "engine/storage/NRDExpressionHook.h"

namespace nrd {

class TNRDCursor;
class TNRDIndexPosition;
class TNRDIndexPositionCache;
class TNRDRecordBitmap;
class TNRDTableData;

// ----- view checks ----------------------------------------------------------------------------------
bool IsRecordInRange(TNRDTableData& table, TNRDCursor& cursor);
// Range, filter expression, SQL filter, then the filter callback: the first false decides.
bool IsRecordAccepted(TNRDTableData& table, TNRDCursor& cursor);

// ----- record bitmap upkeep -------------------------------------------------------------------------
void ResetRecordBitmap(TNRDTableData& table, TNRDRecordBitmap& bitmap, std::int32_t indexID);
void RefreshRecordBitmap(TNRDTableData& table, TNRDCursor& cursor);
void RebuildRecordBitmap(TNRDTableData& table, TNRDCursor& cursor);
// False when the record cannot be read or has no position in the index.
bool GetIndexPositionOfRecord(TNRDTableData& table, std::int32_t sessionID, std::int32_t indexID,
                              TNRDIndexPosition* indexPos, const TNRDPageItemID& recordID);

// ----- reading and moving ---------------------------------------------------------------------------
// Reads the record the navigation info names (index order when IndexID is set and the mode is not
// grmCurrent, else physical order). 10015 / 10380 / 10016 for a missing record manager, index
// manager or record buffer.
void ReadRecord(TNRDTableData& table, std::int32_t sessionID, TNRDNavigationInfo& navigationInfo,
                std::int32_t tableState, TNRDIndexPositionCache* indexPositionCache);
// The cursor's current, next or prior record into its current record buffer.
TNRDGetRecordResult GetRecordBuffer(TNRDTableData& table, TNRDCursor& cursor, TNRDGetRecordMode getRecordMode);
// 10272 without an expression. The cursor stays where it was when nothing is found.
bool Locate(TNRDTableData& table, TNRDCursor& cursor, TNRDExpression* searchExpression);
// Searches the cursor's key buffer (FKeyFieldCount columns of its index); 20258 without an index.
// A found record becomes current but is not read.
bool FindKey(TNRDTableData& table, TNRDCursor& cursor, TNRDSearchCondition searchCondition);

// ----- counts and record numbers --------------------------------------------------------------------
std::int64_t GetRecordCount(TNRDTableData& table, TNRDCursor& cursor);
// Numbers below 1 are taken as 1, numbers above the count as the count. The record is not read.
void SetRecNo(TNRDTableData& table, TNRDCursor& cursor, std::int64_t recNo);
// -1 before the first or after the last record, or for an empty view.
std::int64_t GetRecNo(TNRDTableData& table, TNRDCursor& cursor);

}  // namespace nrd
