// The query component: runs SQL text through the engine's SQL processor. Opening the query runs
// the text and shows the result cursor of its last statement; ExecSQL runs it without a result.
// Parameters (":name" in the text) come from Params or, for a detail query, from the fields of
// the master data set named by DataSource.
//
// The SQL processor lives in the SQL layer, above this one: it registers a factory here at
// start-up (SetQueryProcessorFactory). Without one, preparing a query raises 30039.
// The cursor a query shows belongs to the processor's last statement: the query lets go of it on
// close and frees the processor when it unprepares.
//
// Reasons to hold the database (DB flags): 0 open, 1 prepared by Prepare, 2 running ExecSQL;
// clearing the last one unprepares the query first.
// Misuse raises EDatabaseError with the component's name; engine failures ENRDException.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/NRDDataSet.h"

namespace nrd {

class TNRDQuery;

// The SQL layer's side of a query.
class TNRDQueryProcessor {
 public:
  virtual ~TNRDQueryProcessor() = default;
  virtual void SetRequestLive(bool value) = 0;
  virtual void SetInMemory(bool value) = 0;
  // Keeps the text; nothing is parsed yet.
  virtual void PrepareStatement(const std::string& sqlText) = 0;
  virtual void ClearParams() = 0;
  // A new NULL parameter at the end of the list, for the caller to fill.
  virtual TNRDVariant& AddParam(const std::string& name) = 0;
  // Runs every statement; the last one's result cursor (owned by the processor) or null.
  virtual TNRDCursor* OpenQuery() = 0;
  virtual void ExecuteQuery() = 0;
  virtual std::int64_t RowsAffected() const = 0;
  // The last statement's result cannot be edited.
  virtual bool ReadOnly() const = 0;
};
using TNRDQueryProcessorFactory = std::function<std::unique_ptr<TNRDQueryProcessor>(TNRDDataSet& query)>;
void SetQueryProcessorFactory(TNRDQueryProcessorFactory factory);

class TNRDQuery : public TNRDDataSet {
 public:
  explicit TNRDQuery(TComponent* owner = nullptr);
  ~TNRDQuery() override;

  // ----- properties -----
  const std::string& SQL() const { return FSQL; }
  // A different text closes and unprepares the query first, then re-reads Params (ParamCheck).
  void SetSQL(const std::string& text);
  bool ParamCheck() const { return FParamCheck; }
  void SetParamCheck(bool value) { FParamCheck = value; }
  bool RequestLive() const { return FRequestLive; }
  void SetRequestLive(bool value) { FRequestLive = value; }
  TDataSource* DataSource() const { return FDataLink.DataSource(); }
  // Raises "Circular datalinks are not allowed" for a source that shows this query.
  void SetDataSource(TDataSource* value) { FDataLink.SetDataSource(value); }
  TParams& Params() { return FParams; }
  // Values of parameters of the same name are taken over.
  void SetParams(const TParams& value) { FParams.AssignValues(value); }
  std::int32_t ParamCount() const { return FParams.Count(); }
  TParam& ParamByName(std::string_view name) { return FParams.ParamByName(name); }
  // The text as last parsed (parameters replaced by "?" when ParamCheck is on).
  const std::string& Text() const { return FText; }
  TNRDQueryProcessor* StmtHandle() const { return FStmtHandle.get(); }

  // ----- preparing and running -----
  bool Prepared() const { return FStmtHandle != nullptr; }
  void SetPrepared(bool value);
  void Prepare();
  void UnPrepare();
  // Runs the text without a result (the query must be closed).
  void ExecSQL();
  // The statements' affected rows while prepared, else the count kept from the last run; -1 before
  // any statement ran.
  std::int32_t RowsAffected() const;
  // The master fields named by parameters, and this query's fields of the same names.
  void GetDetailLinkFields(std::vector<TField*>& masterFields, std::vector<TField*>& detailFields);

 protected:
  std::unique_ptr<TNRDCursor> CreateHandle() override;
  void InternalOpen() override;
  void InternalClose() override;

 private:
  class TNRDQueryDataLink : public TDataLink {
   public:
    explicit TNRDQueryDataLink(TNRDQuery& query) : FQuery(query) {}

   protected:
    TDataSet* LinkOwner() const override { return &FQuery; }
    void ActiveChanged() override;
    void RecordChanged(TField* field) override;

   private:
    TNRDQuery& FQuery;
  };

  void SetPreparedState(bool value);
  // Keeps the row count when it must be kept, then frees the processor (and the result cursor).
  void FreeProcessor();
  // Clears a DB flag; clearing the last one unprepares first.
  void ClearFlag(int flag);
  // Runs the text; with a result its cursor (may be null).
  TNRDCursor* RunStatement(bool resultWanted);
  void SetParamsFromMaster();
  void PassParams();
  void RefreshParams();

  std::unique_ptr<TNRDQueryProcessor> FStmtHandle;
  std::string FSQL;
  TParams FParams;
  std::string FText;
  TNRDQueryDataLink FDataLink{*this};
  std::int32_t FRowsAffected = -1;
  bool FRequestLive = false;
  bool FParamCheck = true;
  bool FExecSQL = false;
  bool FCheckRowsAffected = false;
};

}  // namespace nrd
