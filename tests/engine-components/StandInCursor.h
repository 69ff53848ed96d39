// A cursor over an in-memory table, standing in for the engine's local cursor in the data-set
// tests: records in ID order, BLOBs beside the records, filter texts evaluated by a test-supplied
// predicate (in place of the expression layer), and the record codes of edits (a record locked
// by "another session", a record changed or deleted behind the cursor's back).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/NRDDataSet.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDStreams.h"
#include "engine/storage/NRDCursor.h"
#include "engine/storage/NRDFieldManager.h"

namespace standin {

using namespace nrd;

struct Row {
  std::uint16_t id = 0;
  std::vector<std::uint8_t> rec;
  std::map<std::int32_t, std::string> blobs;
};

struct Table {
  std::vector<std::pair<std::string, std::pair<TNRDAdvancedFieldType, std::int32_t>>> fields;
  std::vector<Row> rows;
  std::uint16_t nextId = 1;
  std::uint16_t lockedRecord = 0;   // a record another session holds locked
  std::string failPost;             // a post fails with this message (code -8)
  // Evaluates a filter text for the record in the cursor's current buffer.
  std::function<bool(TNRDCursor&, const std::string&)> evaluator;
};

class StandInCursor : public TNRDCursor {
 public:
  explicit StandInCursor(std::shared_ptr<Table> table) : FTable(std::move(table)) {
    for (const auto& [name, type] : FTable->fields) {
      TNRDFieldDef* d = FFieldDefs.AddCreated();
      d->FName = name;
      d->FObjectID = FFieldDefs.GetCount();
      d->SetFieldDefDataType(type.first, type.second);
    }
    FFieldDefs.RecalcFieldOffsets();
    FVisibleFieldDefs.Assign(FFieldDefs);
    for (std::int32_t i = 0; i < FVisibleFieldDefs.GetCount(); ++i) FVisibleFieldDefs.GetFieldDef(i)->FFieldNoReference = i;
    FBookmarkOffset = FFieldDefs.GetMemoryRecordBufferSize();
    FRecordBufferSize = FRecordSize = FBookmarkOffset + 7;
    FIsOpen = true;
  }
  ~StandInCursor() override { ClearBLOBStreams(false); }

  std::int32_t RecordSizeOnly() const { return FBookmarkOffset; }

  void InternalInitRecord(void* recordBuffer, bool) override {
    const std::int32_t nb = FFieldDefs.NullBitmapSize();
    std::memset(recordBuffer, 0, static_cast<std::size_t>(FBookmarkOffset));
    std::memset(recordBuffer, 0xFF, static_cast<std::size_t>(nb));
  }
  void InternalFirst() override {
    FirstPosition = true;
    LastPosition = false;
  }
  void InternalLast() override {
    FirstPosition = false;
    LastPosition = true;
  }
  void InternalInsert() override {}

  TNRDGetRecordResult GetRecordBuffer(TNRDGetRecordMode mode) override {
    auto& rows = FTable->rows;
    if (mode == grmCurrent) {
      const Row* r = Find(CurrentRecordID.PageItemNo);
      if (r == nullptr || !Visible(*r)) return grrEOF;
      return grrOK;
    }
    if (mode == grmNext) {
      if (LastPosition) return grrEOF;
      for (const Row& r : rows)
        if ((FirstPosition || r.id > CurrentRecordID.PageItemNo) && Visible(r)) return Take(r);
      FirstPosition = false;
      LastPosition = true;
      return grrEOF;
    }
    if (FirstPosition) return grrBOF;
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
      if ((LastPosition || it->id < CurrentRecordID.PageItemNo) && Visible(*it)) return Take(*it);
    FirstPosition = true;
    LastPosition = false;
    return grrBOF;
  }

  std::int64_t GetRecordCount() override { return static_cast<std::int64_t>(VisibleIds().size()); }
  std::int64_t GetRecNo() override {
    const auto ids = VisibleIds();
    for (std::size_t i = 0; i < ids.size(); ++i)
      if (ids[i] == CurrentRecordID.PageItemNo) return static_cast<std::int64_t>(i) + 1;
    return -1;
  }
  void SetRecNo(std::int64_t value) override {
    const auto ids = VisibleIds();
    if (value < 1 || value > static_cast<std::int64_t>(ids.size())) return;
    CurrentRecordID = {1, ids[static_cast<std::size_t>(value - 1)]};
    FirstPosition = LastPosition = false;
  }
  std::int32_t CompareRecordsOrder(const TNRDPageItemID& a, const TNRDPageItemID& b) override {
    return (a.PageItemNo > b.PageItemNo) - (a.PageItemNo < b.PageItemNo);
  }

  void InternalEdit() override {
    FErrorCode = 0;
    if (FTable->lockedRecord != 0 && FTable->lockedRecord == CurrentRecordID.PageItemNo) {
      FErrorCode = -12;
      return;
    }
    // The record is read again: a change behind our back is reported, and the fresh copy kept out.
    const Row* r = Find(CurrentRecordID.PageItemNo);
    if (r == nullptr) {
      FErrorCode = -6;
      return;
    }
    if (std::memcmp(r->rec.data(), FCurrentRecordBuffer, r->rec.size()) != 0) FErrorCode = -4;
  }

  void InternalPost(bool toInsert) override {
    FErrorCode = 0;
    if (!FTable->failPost.empty()) {
      FErrorCode = -8;
      FErrorMessage = FTable->failPost;
      return;
    }
    const auto* rec = static_cast<const std::uint8_t*>(FCurrentRecordBuffer);
    Row* target = nullptr;
    if (toInsert) {
      FTable->rows.push_back(Row{FTable->nextId++, {}, {}});
      target = &FTable->rows.back();
    } else {
      target = Find(CurrentRecordID.PageItemNo);
      if (target == nullptr) {
        FErrorCode = -6;
        return;
      }
    }
    target->rec.assign(rec, rec + FBookmarkOffset);
    for (auto& [field, stream] : FPending) {
      if (!stream.write) continue;
      const std::int32_t size = static_cast<std::int32_t>(stream.s->GetSize());
      std::string bytes(static_cast<std::size_t>(size), '\0');
      stream.s->SetPosition(0);
      if (size > 0) stream.s->Read(bytes.data(), size);
      target->blobs[field] = bytes;
      SetFieldNull(target->rec.data(), field, bytes.empty());
    }
    ClearBLOBStreams(false);
    CurrentRecordID = {1, target->id};
    FirstPosition = LastPosition = false;
  }
  void InternalCancel(bool) override {
    FErrorCode = 0;
    ClearBLOBStreams(false);
  }
  void InternalDelete() override {
    FErrorCode = 0;
    auto& rows = FTable->rows;
    for (auto it = rows.begin(); it != rows.end(); ++it)
      if (it->id == CurrentRecordID.PageItemNo) {
        rows.erase(it);
        return;
      }
    FErrorCode = -7;
  }

  void ActivateFilters(const std::string& filterText, bool, bool) override {
    FFilterText = filterText;
    DisableRecordBitmap();
  }
  void DeactivateFilters() override { FFilterText.clear(); }

  bool Locate(const std::vector<std::string>& keyFields, const std::vector<TVariantValue>& keyValues,
              bool caseInsensitive, bool partialKey) override {
    void* saved = FCurrentRecordBuffer;
    void* scratch = AllocateRecordBuffer();
    FCurrentRecordBuffer = scratch;
    bool found = false;
    for (const Row& r : FTable->rows) {
      if (!Visible(r)) continue;
      bool match = true;
      for (std::size_t i = 0; i < keyFields.size() && match; ++i) {
        TNRDVariant v, key;
        GetFieldValue(v, FVisibleFieldDefs.GetDefNumberByName(keyFields[i]), false);
        key.SetAsVariant(i < keyValues.size() ? keyValues[i] : TVariantValue::Null());
        match = v.Compare(key, false, caseInsensitive, partialKey) == cmprEqual;
      }
      if (match) {
        CurrentRecordID = {1, r.id};
        FirstPosition = LastPosition = false;
        found = true;
        break;
      }
    }
    FCurrentRecordBuffer = saved;
    GlobalMemoryManager().FreeAndNillMem(scratch);
    return found;
  }

  TNRDStream* InternalCreateBlobStream(bool toInsert, bool toEdit, std::int32_t fieldNo, TNRDBLOBOpenMode mode,
                                       bool) override {
    auto it = FPending.find(fieldNo);
    if (it != FPending.end()) {
      if (mode != bomRead) it->second.write = true;
      it->second.s->SetPosition(0);
      return it->second.s.get();
    }
    auto s = std::make_unique<TNRDMemoryStream>();
    if (!toInsert) {
      const Row* r = Find(CurrentRecordID.PageItemNo);
      if (r != nullptr) {
        auto b = r->blobs.find(fieldNo);
        if (b != r->blobs.end() && !b->second.empty())
          s->Write(b->second.data(), static_cast<std::int32_t>(b->second.size()));
      }
    }
    s->SetPosition(0);
    s->SetModified(false);
    TNRDStream* raw = s.get();
    FPending[fieldNo] = Pending{std::move(s), mode != bomRead || toEdit || toInsert ? mode != bomRead : false};
    ++OpenedStreams;
    return raw;
  }
  void InternalCloseBLOB(std::int32_t fieldNo) override {
    auto it = FPending.find(fieldNo);
    if (it != FPending.end() && !it->second.write) FPending.erase(it);
  }
  void ClearBLOBStreams(bool) override { FPending.clear(); }

  int OpenedStreams = 0;

 private:
  struct Pending {
    std::unique_ptr<TNRDMemoryStream> s;
    bool write = false;
  };

  Row* Find(std::uint16_t id) {
    for (Row& r : FTable->rows)
      if (r.id == id) return &r;
    return nullptr;
  }
  TNRDGetRecordResult Take(const Row& r) {
    CurrentRecordID = {1, r.id};
    FirstPosition = LastPosition = false;
    return grrOK;
  }
  // Copies the record into the current buffer and runs the filters over it.
  bool Visible(const Row& r) {
    std::memcpy(FCurrentRecordBuffer, r.rec.data(), r.rec.size());
    if (!FFilterText.empty() && FTable->evaluator && !FTable->evaluator(*this, FFilterText)) return false;
    if (FilterRecord && !FilterRecord(*this)) return false;
    return true;
  }
  std::vector<std::uint16_t> VisibleIds() {
    std::vector<std::uint16_t> ids;
    void* saved = FCurrentRecordBuffer;
    void* scratch = AllocateRecordBuffer();
    FCurrentRecordBuffer = scratch;
    for (const Row& r : FTable->rows)
      if (Visible(r)) ids.push_back(r.id);
    FCurrentRecordBuffer = saved;
    GlobalMemoryManager().FreeAndNillMem(scratch);
    return ids;
  }

  std::shared_ptr<Table> FTable;
  std::string FFilterText;
  std::map<std::int32_t, Pending> FPending;
};

// A data set over a stand-in table.
class StandInDataSet : public TNRDDataSet {
 public:
  StandInDataSet(std::shared_ptr<Table> table, TComponent* owner = nullptr) : TNRDDataSet(owner), FTable(std::move(table)) {}
  StandInCursor* StandIn() const { return static_cast<StandInCursor*>(Cursor()); }

 protected:
  std::unique_ptr<TNRDCursor> CreateHandle() override { return std::make_unique<StandInCursor>(FTable); }

 private:
  std::shared_ptr<Table> FTable;
};

}  // namespace standin
