// The query component.
#include "engine/components/NRDQuery.h"

#include "engine/components/NRDDatabase.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDText.h"

namespace nrd {

namespace {

TNRDQueryProcessorFactory& Factory() {
  static TNRDQueryProcessorFactory factory;
  return factory;
}

// A colon between double quotes is text, never the start of a parameter.
constexpr std::string_view kQuotedColon = "\":\"";
constexpr std::string_view kCutColon = "<cut colon>";

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Restores the flag state of a database's silent mode on every way out.
class SilentScope {
 public:
  explicit SilentScope(TNRDDatabase* db) : FDb(db), FOld(db != nullptr && db->SilentMode()) {
    if (FDb != nullptr) FDb->SetSilentMode(true);
  }
  ~SilentScope() {
    if (FDb != nullptr) FDb->SetSilentMode(FOld);
  }
  SilentScope(const SilentScope&) = delete;
  SilentScope& operator=(const SilentScope&) = delete;

 private:
  TNRDDatabase* FDb;
  bool FOld;
};

}  // namespace

void SetQueryProcessorFactory(TNRDQueryProcessorFactory factory) { Factory() = std::move(factory); }

TNRDQuery::TNRDQuery(TComponent* owner) : TNRDDataSet(owner) {}

TNRDQuery::~TNRDQuery() {
  try {
    Close();
  } catch (...) {
  }
  try {
    SetPreparedState(false);
  } catch (...) {
  }
  // Leave the master's source before the link goes.
  try {
    FDataLink.SetDataSource(nullptr);
  } catch (...) {
  }
  try {
    for (int flag = 0; flag < 16; ++flag) SetDBFlag(flag, false);
  } catch (...) {
  }
}

void TNRDQuery::SetSQL(const std::string& text) {
  if (text == FSQL && !FText.empty()) return;
  Close();
  UnPrepare();
  FSQL = text;
  if (FParamCheck) {
    TParams parsed;
    const std::string cut = ReplaceAll(text, kQuotedColon, kCutColon);
    std::string parsedText = parsed.ParseSQL(cut, true);
    parsed.AssignValues(FParams);
    FParams.Clear();
    for (std::int32_t i = 0; i < parsed.Count(); ++i) {
      const TParam& p = parsed[i];
      TParam& n = FParams.CreateParam(p.DataType, p.Name, p.ParamType);
      n.Value = p.Value;
    }
    FText = ReplaceAll(std::move(parsedText), kCutColon, kQuotedColon);
  } else {
    FText = text;
  }
  DataEvent(dePropertyChange, nullptr);
}

void TNRDQuery::SetPrepared(bool value) {
  if (value) Prepare();
  else UnPrepare();
}

void TNRDQuery::Prepare() {
  SetDBFlag(1, true);
  try {
    SetPreparedState(true);
  } catch (...) {
    SetDBFlag(1, false);
    throw;
  }
}

void TNRDQuery::UnPrepare() {
  SetPreparedState(false);
  SetDBFlag(1, false);
}

void TNRDQuery::SetPreparedState(bool value) {
  if (value) {
    if (Active() && State() != dsOpening)
      throw ENRDException(30141, "Cannot perform this operation on an open dataset");
    if (FStmtHandle != nullptr) return;
    FRowsAffected = -1;
    FCheckRowsAffected = true;
    if (FText.size() < 2) throw ENRDException(30142, "No SQL statement available");
    if (!Factory()) throw ENRDException(30039, "Not implemented yet");
    std::unique_ptr<TNRDQueryProcessor> p = Factory()(*this);
    p->SetRequestLive(FRequestLive);
    p->SetInMemory(InMemory());
    p->PrepareStatement(FText);
    FStmtHandle = std::move(p);
    return;
  }
  if (Active()) return;  // an open query only lets go of its cursor when it closes
  FreeProcessor();
}

void TNRDQuery::FreeProcessor() {
  if (FStmtHandle != nullptr && FCheckRowsAffected) FRowsAffected = RowsAffected();
  FStmtHandle.reset();
}

void TNRDQuery::ClearFlag(int flag) {
  const auto bit = static_cast<std::uint16_t>(1u << flag);
  if ((DBFlags() & bit) == 0) return;
  if (DBFlags() == bit) SetPreparedState(false);
  SetDBFlag(flag, false);
}

std::int32_t TNRDQuery::RowsAffected() const {
  if (FStmtHandle != nullptr) return static_cast<std::int32_t>(FStmtHandle->RowsAffected());
  return FRowsAffected;
}

void TNRDQuery::ExecSQL() {
  CheckInactive();
  SetDBFlag(2, true);
  try {
    RunStatement(false);
  } catch (...) {
    try {
      ClearFlag(2);
    } catch (...) {
    }
    throw;
  }
  ClearFlag(2);
}

TNRDCursor* TNRDQuery::RunStatement(bool resultWanted) {
  if (FSQL.empty()) throw ENRDException(20034, "No SQL statement available");
  FExecSQL = !resultWanted;
  try {
    SetPreparedState(true);
  } catch (...) {
    FExecSQL = false;
    throw;
  }
  FExecSQL = false;
  SetParamsFromMaster();
  PassParams();
  SilentScope silent(Database());
  TNRDCursor* cursor = nullptr;
  if (resultWanted) cursor = FStmtHandle->OpenQuery();
  else FStmtHandle->ExecuteQuery();
  FCheckRowsAffected = cursor == nullptr;
  return cursor;
}

void TNRDQuery::SetParamsFromMaster() {
  TDataSource* source = DataSource();
  if (source == nullptr || source->DataSet() == nullptr) return;
  TDataSet& master = *source->DataSet();
  for (std::int32_t i = 0; i < FParams.Count(); ++i) {
    TParam& p = FParams[i];
    TField& f = master.FieldByName(p.Name);
    p.Value = f.AsVariant();
    if (p.DataType == ftUnknown) p.DataType = f.DataType();
    if (p.IsNull()) p.DataType = ftInteger;
  }
}

void TNRDQuery::PassParams() {
  if (FParams.Count() == 0) return;
  FStmtHandle->ClearParams();
  for (std::int32_t i = 0; i < FParams.Count(); ++i) {
    const TParam& p = FParams[i];
    TNRDVariant& v = FStmtHandle->AddParam(p.Name);
    if (p.DataType != ftUnknown) v.Clear(AdvancedToBaseFieldType(FieldTypeToAdvancedFieldType(p.DataType)));
    if (p.IsNull()) continue;
    switch (p.DataType) {
      case ftTime: {
        TNRDVariant t;
        t.SetAsVariant(p.Value);
        v.SetAsTTime(t.AsTDateTime());
        break;
      }
      case ftBlob:
      case ftGraphic: {
        const std::string bytes = ValueToText(p.Value);
        v.Clear(bftBlob);
        v.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size()), bftBlob, true);
        break;
      }
      case ftMemo:
      case ftFmtMemo:
        v.Clear(bftVarchar);
        v.SetAsAnsiString(ValueToText(p.Value));
        break;
      case ftWideMemo:
        v.Clear(bftWideVarchar);
        v.SetAsWideString(p.Value.VType == varUString || p.Value.VType == varOleStr ? p.Value.Wide
                                                                                     : AnsiToWide(ValueToText(p.Value)));
        break;
      default: v.SetAsVariant(p.Value); break;
    }
  }
}

std::unique_ptr<TNRDCursor> TNRDQuery::CreateHandle() {
  TNRDCursor* cursor = RunStatement(true);
  if (cursor == nullptr) return nullptr;
  SetCursorBorrowed(true);
  TNRDDatabase* db = Database();
  SetReadOnly(FStmtHandle->ReadOnly() || (db != nullptr && db->ReadOnly()));
  return std::unique_ptr<TNRDCursor>(cursor);
}

void TNRDQuery::InternalOpen() {
  OpenThroughDatabase();
  try {
    TNRDDataSet::InternalOpen();
  } catch (...) {
    try {
      InternalClose();
    } catch (...) {
    }
    throw;
  }
}

void TNRDQuery::InternalClose() {
  TNRDDataSet::InternalClose();
  SetCursorBorrowed(false);
  // The data set still reads as open here: the processor goes directly.
  if (DBFlags() == 1) FreeProcessor();
  SetDBFlag(0, false);
}

void TNRDQuery::GetDetailLinkFields(std::vector<TField*>& masterFields, std::vector<TField*>& detailFields) {
  masterFields.clear();
  detailFields.clear();
  TDataSource* source = DataSource();
  if (source == nullptr || source->DataSet() == nullptr) return;
  for (std::int32_t i = 0; i < FParams.Count(); ++i) {
    TField* m = source->DataSet()->FindField(FParams[i].Name);
    if (m == nullptr) continue;
    masterFields.push_back(m);
    if (TField* d = FindField(FParams[i].Name)) detailFields.push_back(d);
  }
}

void TNRDQuery::RefreshParams() {
  DisableControls();
  try {
    TDataSource* source = DataSource();
    TDataSet* master = source != nullptr ? source->DataSet() : nullptr;
    if (master != nullptr && master->Active() && master->State() != dsSetKey) {
      Close();
      Open();
    }
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
}

void TNRDQuery::TNRDQueryDataLink::ActiveChanged() {
  if (FQuery.Active()) FQuery.RefreshParams();
}

void TNRDQuery::TNRDQueryDataLink::RecordChanged(TField* field) {
  if (field == nullptr && FQuery.Active()) FQuery.RefreshParams();
}

}  // namespace nrd
