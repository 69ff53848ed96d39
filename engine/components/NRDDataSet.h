// The engine data set: the common base of the table and query components. It shows the records of
// one engine cursor (TNRDCursor) through the data-set layer: the cursor's in-memory record is the
// record buffer, followed by 6 bytes of record ID (the bookmark) and 1 flag byte (0 current, 3 a
// new record). Record operations leave a code in the cursor, raised here as ENRDEngineError.
//
// Also here: ENRDEngineError with its message table, the BLOB field stream (TNRDBLOBStream) a
// program gets from CreateBlobStream, and CopyFieldValue between fields of two data sets.
//
// Cursor contract used: GetRecordBuffer reads into FCurrentRecordBuffer and leaves the record's
// ID in CurrentRecordID; InternalPost leaves CurrentRecordID on the posted record; the data set
// hands its own buffers to the cursor only for the length of one call (the cursor never keeps
// them).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/NRDDB.h"
#include "engine/storage/NRDCursor.h"

namespace nrd {

class TNRDDatabase;
class TNRDSession;

// The error of a cursor record operation: "Noreld Engine Error # <code> <text>".
class ENRDEngineError : public EDatabaseError {
 public:
  ENRDEngineError(std::int32_t errorCode, const std::string& errMessage);
  std::int32_t FErrorCode;
  std::string FErrorMessage;
};

// The fixed text of a code (-8 takes `message`); "" outside -1..-13.
std::string EngineErrorText(std::int32_t errorCode, const std::string& message);
[[noreturn]] void RaiseEngineError(std::int32_t errorCode, const std::string& message);
void CheckEngineError(std::int32_t errorCode, const std::string& message);

class TNRDDataSet : public TDataSet {
 public:
  explicit TNRDDataSet(TComponent* owner = nullptr);
  ~TNRDDataSet() override;

  TNRDCursor* Cursor() const { return FCursor.get(); }

  std::int64_t RecordCount() override;
  std::int64_t RecNo() override;
  void SetRecNo(std::int64_t value) override;
  bool BookmarkValid(const TBookmark& bookmark) override;
  std::int32_t CompareBookmarks(const TBookmark& b1, const TBookmark& b2) override;
  std::unique_ptr<TNRDStream> CreateBlobStream(TField& field, TBlobStreamMode mode) override;

  // The engine stream of a BLOB field of the record of the current state (null when the cursor
  // gives none); owned by the cursor. Write modes need an editing state (10111).
  TNRDStream* InternalCreateBlobStream(TField& field, TBlobStreamMode mode);
  // Lets the cursor close the field's engine stream.
  void CloseBlob(TField& field);
  // Copies a field of the record of this data set's state into a field of `dest`'s, through the
  // cursors (types converted by the engine).
  void CopyFieldValue(std::int32_t srcFieldNo, bool directAccess, std::int32_t destFieldNo, TNRDDataSet& dest);
  // The record of the current state read whole into `buffer` (FRecordBufferSize bytes); false
  // when there is none or it is a new record.
  bool GetCurrentRecord(void* buffer);

  // ----- the database component (NRDDataSetBinding.cpp) -----
  const std::string& DatabaseName() const { return FDatabaseName; }
  // "MEMORY" in any case also sets InMemory. Refused while active or bound to a database.
  void SetDatabaseName(const std::string& value);
  const std::string& SessionName() const { return FSessionName; }
  void SetSessionName(const std::string& value);
  bool InMemory() const { return FInMemory; }
  // True also sets DatabaseName "MEMORY"; false leaves the name.
  void SetInMemory(bool value);
  TNRDDatabase* Database() const { return FDatabase; }
  // The bound database's session, else the session named SessionName, else "Default".
  TNRDSession& DBSession() const;
  // Opens the database of DatabaseName through the session (one reference more) and joins its list.
  TNRDDatabase* OpenDatabase();
  // Leaves the database's list and drops the reference.
  void CloseDatabase(TNRDDatabase* database);
  // The reasons to hold the database, one bit each (0 open; the table's 3, 4, 5, 11): the first
  // bit set binds the database, clearing the last releases it.
  void SetDBFlag(int flag, bool value);
  std::uint16_t DBFlags() const { return FDBFlags; }

  // ----- the current index -----
  // The columns of the cursor's index as field numbers from 1 (empty without an index).
  const std::vector<std::int16_t>& IndexFieldMap() const { return FIndexFieldMap; }
  std::int32_t IndexFieldCount() const { return static_cast<std::int32_t>(FIndexFieldMap.size()); }
  std::int32_t KeySize() const { return FKeySize; }

  // Restricts and renames the visible fields, then reopens on the same cursor so the fields are
  // built again. When the reopening fails the data set is opened without the projection and the
  // error passes on.
  void ApplyProjection(const std::vector<std::string>& fieldNamesList, const std::vector<std::string>& aliasList);

 protected:
  // The cursor of the open data set, made by the concrete component; null raises 20001.
  virtual std::unique_ptr<TNRDCursor> CreateHandle() = 0;
  // The cursor CreateHandle gives belongs to someone else (a query shows the result cursor of
  // its statement): closing lets go of it instead of freeing it.
  void SetCursorBorrowed(bool value) { FCursorBorrowed = value; }

  void InternalOpen() override;
  void InternalClose() override;
  void InternalInitFieldDefs() override;
  void* AllocRecordBuffer() override;
  void FreeRecordBuffer(void*& buffer) override;
  std::int32_t RecordBufferSize() const override;
  TGetResult GetRecord(void* buffer, TGetMode mode) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalSetToRecord(const void* buffer) override;
  void InternalGotoBookmark(const TBookmark& bookmark) override;
  TBookmark GetBookmarkData(const void* buffer) const override;
  std::uint8_t GetBookmarkFlag(const void* buffer) const override;
  void SetBookmarkFlag(void* buffer, std::uint8_t flag) override;
  void InternalInitRecord(void* buffer) override;
  void InternalInsert() override;
  void InternalEdit() override;
  void InternalPost() override;
  void InternalCancel() override;
  void InternalDelete() override;
  void ReadFieldValue(const TField& field, const void* buffer, TNRDVariant& value) const override;
  void WriteFieldValue(TField& field, TNRDVariant& value, void* buffer) override;
  void ActivateFilters() override;
  void DeactivateFilters() override;
  bool LocateRecord(const std::vector<std::string>& keyFields, const std::vector<TVariantValue>& keyValues,
                    TLocateOptions options, void* buffer) override;

  TNRDCursor& CheckedCursor() const;
  // Sets the cursor's index and rebuilds the index field map; 10325 for a name the cursor lacks.
  void SwitchToIndex(const std::string& indexName);
  // Opening and closing through the database: DB flag 0 around the data set's cursor.
  void OpenThroughDatabase();
  void CloseThroughDatabase();
  // Reads the whole BLOB of a field of `buffer` (the cursor's stream for it).
  void ReadBlob(const TField& field, const void* buffer, TNRDVariant& value) const;

 private:
  TNRDPageItemID RecordIDOf(const void* buffer) const;
  void ApplyCursorFilter();
  std::unique_ptr<TNRDCursor> FCursor;
  // A cursor kept across a close to be opened again (a projection being applied).
  std::unique_ptr<TNRDCursor> FKeptCursor;
  bool FCursorBorrowed = false;
  std::string FDatabaseName;
  std::string FSessionName;
  bool FInMemory = false;
  std::uint16_t FDBFlags = 0;
  TNRDDatabase* FDatabase = nullptr;
  std::vector<std::int16_t> FIndexFieldMap;
  std::int32_t FKeySize = 0;
};

// The stream over one BLOB field of a data set's current record: reads and writes go to the
// cursor's engine stream; freeing it closes that stream and, when something changed, marks the
// field modified and tells the data set's links.
class TNRDBLOBStream : public TNRDStream {
 public:
  // A mode other than bmRead on a read-only data set raises 10106; bmWrite empties the value.
  TNRDBLOBStream(TField& field, TBlobStreamMode mode);
  ~TNRDBLOBStream() override;

  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t GetSize() override;
  void SetSize(std::int64_t newSize) override;
  void Truncate();
  TNRDStream* BLOBStream() const { return FBLOBStream; }
  // Called by the cursor when it closes the engine stream under this one (a post or a cancel);
  // afterwards the stream reads and writes nothing.
  void DetachEngineStream() { FBLOBStream = nullptr; }

 private:
  TField* FField;
  TNRDDataSet* FDataSet = nullptr;
  TNRDStream* FBLOBStream = nullptr;
};

// Copies the value of one data-set field into a field of another, converting between the types
// (64-bit integers, wide texts, BLOBs through their streams).
void CopyFieldValue(TField& source, TField& dest);

}  // namespace nrd
