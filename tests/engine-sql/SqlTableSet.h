// A data set over one table of a session's database, in memory or on disk, for the SQL tests that
// drive filters and hooks through the component layer.
#pragma once

#include <memory>
#include <string>

#include "engine/components/NRDAdvDefs.h"
#include "engine/components/NRDDataSet.h"
#include "engine/components/NRDLocalCursor.h"
#include "engine/components/NRDSession.h"

namespace sqltest {

class TableSet : public nrd::TNRDDataSet {
 public:
  TableSet(nrd::TNRDLocalSession& session, std::string table, bool inMemory)
      : session_(session), table_(std::move(table)), inMemory_(inMemory) {}
  ~TableSet() override { Close(); }

 protected:
  std::unique_ptr<nrd::TNRDCursor> CreateHandle() override {
    auto c = std::make_unique<nrd::TNRDLocalCursor>();
    c->SetSession(&session_);
    c->SetTableName(table_);
    c->SetInMemory(inMemory_);
    nrd::TNRDFieldDefs f;
    nrd::TNRDIndexDefs i;
    nrd::TNRDConstraintDefs k;
    c->OpenTableByFieldDefs(f, i, k);
    return c;
  }

 private:
  nrd::TNRDLocalSession& session_;
  std::string table_;
  bool inMemory_;
};

}  // namespace sqltest
