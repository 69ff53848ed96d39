// Table descriptions in three vocabularies and the conversions between them: the data-set layer's
// TFieldDefs/TIndexDefs, the components' extended definitions (engine column types, defaults,
// ranges, autoincrement and BLOB settings, per-column index options), and the engine's own field,
// index and constraint definitions. NOT NULL, CHECK, PRIMARY KEY and UNIQUE constraints are
// derived here, and named: a primary index on id and name gives the constraint "C_PK$id$name",
// a unique one "C_Unique$...".
//
// Conversions clear their target first unless said otherwise; a failure leaves the target partly
// filled. Errors are ENRDException with the codes in the .cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/NRDDB.h"
#include "engine/storage/NRDMetadata.h"

namespace nrd {

enum TCompressionAlgorithm : std::uint8_t { caNone, caZLIB, caBZIP, caPPM };

class TNRDAdvFieldDef {
 public:
  TNRDAdvFieldDef() = default;
  TNRDAdvFieldDef(const TNRDAdvFieldDef&) = delete;
  TNRDAdvFieldDef& operator=(const TNRDAdvFieldDef&) = delete;
  void Assign(const TNRDAdvFieldDef& source);

  std::string FName;
  std::int32_t FObjectID = -1;
  TNRDAdvancedFieldType FDataType = aftUnknown;
  bool FRequired = false;
  std::int32_t FSize = 0;
  TNRDVariant FDefaultValue{bftUnknown};
  TNRDVariant FMinValue{bftUnknown};
  TNRDVariant FMaxValue{bftUnknown};
  std::int64_t FAutoincIncrement = 1;
  std::int64_t FAutoincInitialValue = 0;
  std::int64_t FAutoincMinValue = 0;
  std::int64_t FAutoincMaxValue = INT64_MAX;
  bool FAutoincCycled = false;
  TCompressionAlgorithm FBLOBCompressionAlgorithm = caNone;
  std::uint8_t FBLOBCompressionMode = 0;
  std::int32_t FBLOBBlockSize = kDefaultBLOBBlockSize;
};

class TNRDAdvFieldDefs {
 public:
  std::int32_t Count() const { return FDefsList.Count(); }
  TNRDAdvFieldDef& GetDef(std::int32_t i) const { return FDefsList.Item(i); }
  void SetDef(std::int32_t i, std::unique_ptr<TNRDAdvFieldDef> def) { FDefsList.Set(i, std::move(def)); }
  TNRDAdvFieldDef& AddFieldDef() { return FDefsList.AddNew(); }
  TNRDAdvFieldDef& Add(const std::string& name, TNRDAdvancedFieldType dataType, std::int32_t size, bool required,
                       TCompressionAlgorithm algorithm = caNone, std::uint8_t mode = 0);
  // 30349 when no definition has that name.
  void DeleteFieldDef(std::string_view fieldName);
  // Case-insensitive; null when none.
  TNRDAdvFieldDef* Find(std::string_view name) const { return FDefsList.Find(name); }
  void Clear() { FDefsList.Clear(); }
  void Assign(const TNRDAdvFieldDefs& source) { FDefsList.Assign(source.FDefsList); }

 private:
  TNRDNamedList<TNRDAdvFieldDef, &TNRDAdvFieldDef::FName> FDefsList;
};

class TNRDAdvIndexDef {
 public:
  void Assign(const TNRDAdvIndexDef& source) { *this = source; }
  std::string FName;
  std::string FFields;        // ';'-separated
  std::string FDescFields;
  std::string FCaseInsFields;
  TIndexOptions FOptions = 0;
  std::string FMaxIndexedSizes;  // ';'-separated decimal sizes, one per column
  bool FTemporary = false;
};

class TNRDAdvIndexDefs {
 public:
  explicit TNRDAdvIndexDefs(TDataSet* dataset = nullptr) : FDataset(dataset) {}
  std::int32_t Count() const { return FDefsList.Count(); }
  TNRDAdvIndexDef& GetDef(std::int32_t i) const { return FDefsList.Item(i); }
  void SetDef(std::int32_t i, std::unique_ptr<TNRDAdvIndexDef> def) { FDefsList.Set(i, std::move(def)); }
  TNRDAdvIndexDef& AddIndexDef() { return FDefsList.AddNew(); }
  TNRDAdvIndexDef& Add(const std::string& name, const std::string& fields, TIndexOptions options, bool temporary = false,
                       const std::string& descFields = "", const std::string& caseInsFields = "",
                       const std::string& maxIndexedSizes = "");
  // 20190 when no definition has that name.
  void DeleteIndexDef(std::string_view indexName);
  // Case-insensitive; null when none.
  TNRDAdvIndexDef* Find(std::string_view name) const { return FDefsList.Find(name); }
  void Clear() { FDefsList.Clear(); }
  // With skipTemporaryIndexes, temporary definitions and those whose name contains "TEMPORARY"
  // are left out.
  void Assign(const TNRDAdvIndexDefs& source, bool skipTemporaryIndexes = false);
  // Asks the owning data set to bring the definitions up to date.
  void Update() {
    if (OnUpdate) OnUpdate(*this);
  }
  TDataSet* Dataset() const { return FDataset; }
  std::function<void(TNRDAdvIndexDefs&)> OnUpdate;

 private:
  TNRDNamedList<TNRDAdvIndexDef, &TNRDAdvIndexDef::FName> FDefsList;
  TDataSet* FDataset;
};

void FieldDefsToEngineFieldDefs(const TFieldDefs& source, TNRDFieldDefs& dest);
void AdvFieldDefsToFieldDefs(const TNRDAdvFieldDefs& source, TFieldDefs& dest);
void FieldDefsToAdvFieldDefs(const TFieldDefs& source, TNRDAdvFieldDefs& dest);
void AdvFieldDefsToEngineDefs(const TNRDAdvFieldDefs& source, const TNRDIndexDefs& indexDefs, bool temporary,
                              TNRDFieldDefs& fieldDefs, TNRDConstraintDefs& constraintDefs);
void EngineDefsToAdvFieldDefs(const TNRDFieldDefs& visibleFieldDefs, const TNRDFieldDefs& allFieldDefs,
                              const TNRDConstraintDefs& constraintDefs, TNRDAdvFieldDefs& dest);
void EngineFieldDefsToFieldDefs(const TNRDFieldDefs& visibleFieldDefs, const TNRDConstraintDefs& constraintDefs,
                                TFieldDefs& dest);
// ',' counts as ';'; every ';' ends a name (blanks around names dropped, empty names kept).
std::vector<std::string> SplitIndexFieldList(std::string_view fields);
void MakeEngineIndexDef(const std::string& name, const std::string& fields, TIndexOptions options, bool temporary,
                        const std::string& descFields, const std::string& caseInsFields,
                        const std::string& maxIndexedSizes, const TFieldDefs& fieldDefs, TNRDIndexDef& dest);
void AdvIndexDefToEngineIndexDef(const TNRDAdvIndexDef& source, const TFieldDefs& fieldDefs, TNRDIndexDef& dest);
void AdvIndexDefsToEngineIndexDefs(const TNRDAdvIndexDefs& source, const TFieldDefs& fieldDefs, TNRDIndexDefs& dest);
// Overwrites `dest` (not cleared first).
void EngineIndexDefToAdvIndexDef(const TNRDIndexDef& source, TNRDAdvIndexDef& dest);
void EngineIndexDefsToAdvIndexDefs(const TNRDIndexDefs& source, TNRDAdvIndexDefs& dest);
void AdvIndexDefsToIndexDefs(const TNRDAdvIndexDefs& source, TIndexDefs& dest);
void IndexDefsToAdvIndexDefs(const TIndexDefs& source, TNRDAdvIndexDefs& dest);
// A PRIMARY KEY or UNIQUE constraint for the index, added to `constraints`; null for another index.
TNRDConstraintDef* AddConstraintDefForIndexDef(const TNRDIndexDef& indexDef, TNRDConstraintDefs& constraints);
bool FieldDefsHasField(const TFieldDefs& fieldDefs, std::string_view name);
TCompressionAlgorithm CompressionAlgorithmFromByte(std::uint8_t value);

}  // namespace nrd
