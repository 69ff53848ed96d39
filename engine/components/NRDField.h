// A field of a data set: a typed view of one column of the data set's current record.
// Requires: a data set (SetDataSet) before its value is read or written; writing needs an editing
// state. Owns: nothing but the value of a calculated or lookup field for the current record.
// Guarantees: values are converted to the field's type; a data set with no record reads null.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/foundation/NRDTypes.h"
#include "engine/foundation/NRDVariant.h"
#include "engine/components/NRDComponent.h"
#include "engine/components/NRDValues.h"

namespace nrd {

// ----- fields -----------------------------------------------------------------------------------------------

class TDataSet;
class TField;

enum TFieldKind : std::uint8_t { fkData, fkCalculated, fkLookup, fkInternalCalc };
enum TBlobStreamMode : std::uint8_t { bmRead, bmWrite, bmReadWrite };

class TField : public TComponent {
 public:
  explicit TField(TComponent* owner = nullptr);
  ~TField() override;

  const std::string& FieldName() const { return FFieldName; }
  void SetFieldName(const std::string& value) { FFieldName = value; }
  const std::string& DisplayName() const { return FFieldName; }
  TFieldType DataType() const { return FDataType; }
  void SetDataType(TFieldType value) { FDataType = value; }
  std::int32_t Size() const { return FSize; }
  void SetSize(std::int32_t value) { FSize = value; }
  std::int32_t FieldNo() const { return FFieldNo; }  // from 1; 0 for calculated and lookup fields
  TFieldKind FieldKind() const { return FFieldKind; }
  void SetFieldKind(TFieldKind value) { FFieldKind = value; }
  bool Calculated() const { return FFieldKind == fkCalculated || FFieldKind == fkLookup; }
  bool Required() const { return FRequired; }
  void SetRequired(bool value) { FRequired = value; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value) { FReadOnly = value; }
  TDataSet* DataSet() const { return FDataSet; }
  // Adds the field to the data set's field list (which then frees it with the data set's fields
  // only when the data set made it).
  void SetDataSet(TDataSet* value);
  bool IsBlob() const;
  bool Modified() const { return FModified; }
  void SetModified(bool value) { FModified = value; }

  // Lookup fields: the key fields of this data set, the lookup data set (not owned), its key and
  // result field.
  const std::string& KeyFields() const { return FKeyFields; }
  void SetKeyFields(const std::string& value) { FKeyFields = value; }
  TDataSet* LookupDataSet() const { return FLookupDataSet; }
  void SetLookupDataSet(TDataSet* value) { FLookupDataSet = value; }
  const std::string& LookupKeyFields() const { return FLookupKeyFields; }
  void SetLookupKeyFields(const std::string& value) { FLookupKeyFields = value; }
  const std::string& LookupResultField() const { return FLookupResultField; }
  void SetLookupResultField(const std::string& value) { FLookupResultField = value; }

  // Value in the engine's form; null when the data set shows no record.
  void GetValue(TNRDVariant& value) const;
  // Needs an editing state; the value is converted to the field's type.
  void SetValue(TNRDVariant& value);
  bool IsNull() const;
  void Clear();

  std::string AsString() const;
  void SetAsString(std::string_view v);
  std::u16string AsWideString() const;
  void SetAsWideString(std::u16string_view v);
  std::int32_t AsInteger() const;
  void SetAsInteger(std::int32_t v);
  std::int64_t AsLargeInt() const;
  void SetAsLargeInt(std::int64_t v);
  double AsFloat() const;
  void SetAsFloat(double v);
  bool AsBoolean() const;
  void SetAsBoolean(bool v);
  TDateTime AsDateTime() const;
  void SetAsDateTime(TDateTime v);
  // The bytes of a BLOB, bytes or text field.
  std::string AsBytes() const;
  void SetAsBytes(std::string_view v);
  TVariantValue AsVariant() const;
  void SetAsVariant(const TVariantValue& v);
  // Copies the value of another field (types converted; BLOBs through their bytes).
  void Assign(const TField& source);

  // The value of a calculated or lookup field for the current record (its data set fills it).
  const TNRDVariant& CalcValue() const { return FCalcValue; }

 private:
  friend class TDataSet;
  TNRDVariant FCalcValue{bftUnknown};
  std::string FKeyFields;
  TDataSet* FLookupDataSet = nullptr;
  std::string FLookupKeyFields;
  std::string FLookupResultField;
  std::string FFieldName;
  TFieldType FDataType = ftUnknown;
  std::int32_t FSize = 0;
  std::int32_t FFieldNo = 0;
  TFieldKind FFieldKind = fkData;
  bool FRequired = false;
  bool FReadOnly = false;
  bool FModified = false;
  TDataSet* FDataSet = nullptr;
};

// The engine storage type that holds a field's value.
TNRDBaseFieldType FieldTypeToBaseType(TFieldType t);
bool IsBlobFieldType(TFieldType t);

}  // namespace nrd
