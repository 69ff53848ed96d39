// Data sources and links: a data source tells the links that follow it when its data set opens,
// closes, scrolls or changes; a detail data set follows its master through a TMasterDataLink.
// Neither owns the data set; a link leaves its source when freed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/components/NRDComponent.h"

namespace nrd {

class TDataSet;
class TField;

// ----- data sources and links -------------------------------------------------------------------------------

enum TDataEvent : std::uint8_t {
  deFieldChange, deRecordChange, deDataSetChange, deDataSetScroll, deLayoutChange, deUpdateRecord,
  deUpdateState, deCheckBrowseMode, dePropertyChange, deFieldListChange, deFocusControl
};

class TDataLink;

class TDataSource : public TComponent {
 public:
  explicit TDataSource(TComponent* owner = nullptr);
  ~TDataSource() override;
  TDataSet* DataSet() const { return FDataSet; }
  void SetDataSet(TDataSet* value);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value);
  std::function<void(TDataSource&, TField*)> OnDataChange;
  std::function<void(TDataSource&)> OnStateChange;

 private:
  friend class TDataSet;
  friend class TDataLink;
  void DataEvent(TDataEvent event, TField* field);
  TDataSet* FDataSet = nullptr;
  bool FEnabled = true;
  std::vector<TDataLink*> FDataLinks;
};

// Follows a data source: told when its data set opens, closes, scrolls or changes.
class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;
  TDataSource* DataSource() const { return FDataSource; }
  // Raises "Circular datalinks are not allowed" when the link's owner data set would follow
  // itself through the source.
  void SetDataSource(TDataSource* value);
  TDataSet* DataSet() const;
  bool Active() const;

 protected:
  friend class TDataSource;
  // The data set this link belongs to (a detail data set), or null for a plain link.
  virtual TDataSet* LinkOwner() const { return nullptr; }
  virtual void ActiveChanged() {}
  virtual void RecordChanged(TField*) {}
  virtual void DataSetChanged() {}
  virtual void DataSetScrolled() {}
  virtual void EditingChanged() {}
  void DataEvent(TDataEvent event, TField* field);

 private:
  TDataSource* FDataSource = nullptr;
};

// The link of a detail data set to its master: on every change of the master record the detail
// is told (TDataSet::MasterChanged).
class TMasterDataLink : public TDataLink {
 public:
  explicit TMasterDataLink(TDataSet* detail) : FDetail(detail) {}
  // The master fields, ';'-separated.
  const std::string& FieldNames() const { return FFieldNames; }
  void SetFieldNames(const std::string& value) { FFieldNames = value; }
  // The master's fields named by FieldNames (raises when one is missing).
  std::vector<TField*> Fields() const;

 protected:
  TDataSet* LinkOwner() const override { return FDetail; }
  void ActiveChanged() override;
  void RecordChanged(TField* field) override;
  void DataSetChanged() override;
  void DataSetScrolled() override;

 private:
  TDataSet* FDetail;
  std::string FFieldNames;
};

}  // namespace nrd
