// A bare cursor whose state a storage test sets by hand: the record buffers, bitmap, filter and
// position a local cursor would otherwise fill. Only tests use it; the engine reaches a cursor's
// state through its operations.
#pragma once

#include "engine/storage/NRDCursor.h"

class TTestCursor : public nrd::TNRDCursor {
 public:
  using TNRDCursor::CurrentIndexID;
  using TNRDCursor::CurrentRecordID;
  using TNRDCursor::Dataset;
  using TNRDCursor::FBLOBCompression;
  using TNRDCursor::FBLOBStreams;
  using TNRDCursor::FBatchUpdate;
  using TNRDCursor::FBookmarkOffset;
  using TNRDCursor::FCalculatedFieldsOffset;
  using TNRDCursor::FConstraintDefs;
  using TNRDCursor::FCurrentRecordBuffer;
  using TNRDCursor::FCurrentRecordPositionInIndex;
  using TNRDCursor::FDisableTempFiles;
  using TNRDCursor::FDistinctFieldCount;
  using TNRDCursor::FDistinctRecordBuffer;
  using TNRDCursor::FEditRecordBuffer;
  using TNRDCursor::FErrorCode;
  using TNRDCursor::FErrorMessage;
  using TNRDCursor::FExclusive;
  using TNRDCursor::FFieldDefs;
  using TNRDCursor::FFieldValuesOffset;
  using TNRDCursor::FFilterExpression;
  using TNRDCursor::FInMemory;
  using TNRDCursor::FIndexDefs;
  using TNRDCursor::FIndexID;
  using TNRDCursor::FIndexName;
  using TNRDCursor::FIndexPositionCache;
  using TNRDCursor::FIsDesignMode;
  using TNRDCursor::FIsOpen;
  using TNRDCursor::FIsRepairing;
  using TNRDCursor::FKeyBuffer;
  using TNRDCursor::FKeyBufferSize;
  using TNRDCursor::FKeyFieldCount;
  using TNRDCursor::FKeyOffset;
  using TNRDCursor::FPassword;
  using TNRDCursor::FPhysicalOrder;
  using TNRDCursor::FRangeEndBuffer;
  using TNRDCursor::FRangeEndExclusive;
  using TNRDCursor::FRangeEndKeyFieldCount;
  using TNRDCursor::FRangeStartBuffer;
  using TNRDCursor::FRangeStartExclusive;
  using TNRDCursor::FRangeStartKeyFieldCount;
  using TNRDCursor::FReadOnly;
  using TNRDCursor::FRecordBitmap;
  using TNRDCursor::FRecordBufferSize;
  using TNRDCursor::FRecordSize;
  using TNRDCursor::FSQLFilterExpression;
  using TNRDCursor::FSession;
  using TNRDCursor::FSettingProjection;
  using TNRDCursor::FTableLockedByCursor;
  using TNRDCursor::FTableName;
  using TNRDCursor::FTemporary;
  using TNRDCursor::FVisibleFieldDefs;
  using TNRDCursor::FilterRecord;
  using TNRDCursor::FirstPosition;
  using TNRDCursor::LastPosition;
};
