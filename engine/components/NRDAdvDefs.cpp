// Extended definitions and the conversions between the three forms of a table description.
#include "engine/components/NRDAdvDefs.h"

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDText.h"

namespace nrd {

namespace {

std::string Trim(std::string_view s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(b, e - b));
}

bool InList(const std::vector<std::string>& list, std::string_view name) {
  for (const std::string& n : list)
    if (SameText(n, name)) return true;
  return false;
}

std::string Join(const std::vector<std::string>& items) {
  std::string r;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i != 0) r += ';';
    r += items[i];
  }
  return r;
}

TNRDCompressionAlgorithm ToEngineAlgorithm(TCompressionAlgorithm a) {
  switch (a) {
    case caZLIB: return acaZLIB;
    case caBZIP: return acaBZIP;
    case caPPM: return acaPPM;
    default: return acaNone;
  }
}

}  // namespace

void TNRDAdvFieldDef::Assign(const TNRDAdvFieldDef& source) {
  if (&source == this) return;
  FName = source.FName;
  FObjectID = source.FObjectID;
  FDataType = source.FDataType;
  FRequired = source.FRequired;
  FSize = source.FSize;
  FDefaultValue.Assign(source.FDefaultValue, true);
  FMinValue.Assign(source.FMinValue, true);
  FMaxValue.Assign(source.FMaxValue, true);
  FAutoincIncrement = source.FAutoincIncrement;
  FAutoincInitialValue = source.FAutoincInitialValue;
  FAutoincMinValue = source.FAutoincMinValue;
  FAutoincMaxValue = source.FAutoincMaxValue;
  FAutoincCycled = source.FAutoincCycled;
  FBLOBCompressionAlgorithm = source.FBLOBCompressionAlgorithm;
  FBLOBCompressionMode = source.FBLOBCompressionMode;
  FBLOBBlockSize = source.FBLOBBlockSize;
}

TNRDAdvFieldDef& TNRDAdvFieldDefs::Add(const std::string& name, TNRDAdvancedFieldType dataType, std::int32_t size,
                                       bool required, TCompressionAlgorithm algorithm, std::uint8_t mode) {
  TNRDAdvFieldDef& d = AddFieldDef();
  d.FName = name;
  d.FDataType = dataType;
  d.FSize = size;
  d.FRequired = required;
  d.FBLOBCompressionAlgorithm = algorithm;
  d.FBLOBCompressionMode = mode;
  return d;
}

void TNRDAdvFieldDefs::DeleteFieldDef(std::string_view fieldName) {
  const std::int32_t i = FDefsList.IndexOf(fieldName);
  if (i < 0) throw ENRDException(30349, "Field '%s' not found", {std::string(fieldName)});
  FDefsList.Delete(i);
}

TNRDAdvIndexDef& TNRDAdvIndexDefs::Add(const std::string& name, const std::string& fields, TIndexOptions options,
                                       bool temporary, const std::string& descFields, const std::string& caseInsFields,
                                       const std::string& maxIndexedSizes) {
  TNRDAdvIndexDef& d = AddIndexDef();
  d.FName = name;
  d.FFields = fields;
  d.FOptions = options;
  d.FTemporary = temporary;
  d.FDescFields = descFields;
  d.FCaseInsFields = caseInsFields;
  d.FMaxIndexedSizes = maxIndexedSizes;
  return d;
}

void TNRDAdvIndexDefs::DeleteIndexDef(std::string_view indexName) {
  const std::int32_t i = FDefsList.IndexOf(indexName);
  if (i < 0) throw ENRDException(20190, "Index '%s' not found", {std::string(indexName)});
  FDefsList.Delete(i);
}

void TNRDAdvIndexDefs::Assign(const TNRDAdvIndexDefs& source, bool skipTemporaryIndexes) {
  FDefsList.Assign(source.FDefsList, [&](const TNRDAdvIndexDef& d) {
    return !skipTemporaryIndexes || (!d.FTemporary && AnsiUpperCase(d.FName).find("TEMPORARY") == std::string::npos);
  });
}

// ----- conversions ------------------------------------------------------------------------------------------

void FieldDefsToEngineFieldDefs(const TFieldDefs& source, TNRDFieldDefs& dest) {
  dest.Clear();
  for (std::int32_t i = 0; i < source.Count(); ++i) {
    TNRDFieldDef* d = dest.AddCreated();
    d->FName = CutShortName(source[i].Name);
    d->SetFieldDefDataType(FieldTypeToAdvancedFieldType(source[i].DataType), source[i].Size);
  }
}

void AdvFieldDefsToFieldDefs(const TNRDAdvFieldDefs& source, TFieldDefs& dest) {
  dest.Clear();
  for (std::int32_t i = 0; i < source.Count(); ++i) {
    const TNRDAdvFieldDef& a = source.GetDef(i);
    dest.Add(a.FName, AdvancedFieldTypeToFieldType(a.FDataType), a.FSize, a.FRequired);
  }
}

void FieldDefsToAdvFieldDefs(const TFieldDefs& source, TNRDAdvFieldDefs& dest) {
  dest.Clear();
  for (std::int32_t i = 0; i < source.Count(); ++i)
    dest.Add(source[i].Name, FieldTypeToAdvancedFieldType(source[i].DataType), source[i].Size, source[i].Required);
}

void AdvFieldDefsToEngineDefs(const TNRDAdvFieldDefs& source, const TNRDIndexDefs& indexDefs, bool temporary,
                              TNRDFieldDefs& fieldDefs, TNRDConstraintDefs& constraintDefs) {
  fieldDefs.Clear();
  constraintDefs.Clear();
  for (std::int32_t i = 0; i < source.Count(); ++i) {
    const TNRDAdvFieldDef& a = source.GetDef(i);
    TNRDFieldDef* d = fieldDefs.AddCreated();
    d->FName = CutShortName(a.FName);
    d->SetFieldDefDataType(a.FDataType, a.FSize);
    d->FBLOBCompressionAlgorithm = ToEngineAlgorithm(a.FBLOBCompressionAlgorithm);
    d->FBLOBCompressionMode = a.FBLOBCompressionMode;
    d->FBLOBBlockSize = a.FBLOBBlockSize > 0 ? a.FBLOBBlockSize : kDefaultBLOBBlockSize;
    d->FAutoincIncrement = a.FAutoincIncrement;
    d->FAutoincInitialValue = a.FAutoincInitialValue;
    d->FAutoincMinValue = a.FAutoincMinValue;
    d->FAutoincMaxValue = a.FAutoincMaxValue;
    d->FAutoincCycled = a.FAutoincCycled;
    d->FDefaultValue.Assign(a.FDefaultValue, true);
    if (temporary) continue;
    if (a.FRequired) constraintDefs.AddNotNull()->FColumnName = d->FName;
    if (!a.FMinValue.IsNull() || !a.FMaxValue.IsNull()) {
      TNRDConstraintDefCheck* c = constraintDefs.AddCheck();
      c->FColumnName = d->FName;
      c->FMinValue.Assign(a.FMinValue, true);
      c->FMaxValue.Assign(a.FMaxValue, true);
    }
  }
  for (std::int32_t i = 0; i < indexDefs.GetCount(); ++i)
    AddConstraintDefForIndexDef(*indexDefs.GetIndexDef(i), constraintDefs);
}

TNRDConstraintDef* AddConstraintDefForIndexDef(const TNRDIndexDef& indexDef, TNRDConstraintDefs& constraints) {
  TNRDConstraintDefUnique* c = nullptr;
  std::string name;
  if (indexDef.FPrimary) {
    c = constraints.AddPK();
    name = "C_PK";
  } else if (indexDef.FUnique) {
    c = constraints.AddUnique();
    name = "C_Unique";
  } else {
    return nullptr;
  }
  c->FIndexName = indexDef.FName;
  c->FIndexObjectID = indexDef.FObjectID;
  for (std::int32_t i = 0; i < indexDef.ColumnCount(); ++i) {
    const std::string& field = indexDef.GetIndexColumn(i).FFieldName;
    c->Columns.push_back(TNRDConstraintColumn{field, -1});
    name += "$" + field;
  }
  c->FName = CutShortName(name);
  return c;
}

void EngineDefsToAdvFieldDefs(const TNRDFieldDefs& visibleFieldDefs, const TNRDFieldDefs& allFieldDefs,
                              const TNRDConstraintDefs& constraintDefs, TNRDAdvFieldDefs& dest) {
  dest.Clear();
  for (std::int32_t i = 0; i < visibleFieldDefs.GetCount(); ++i) {
    const TNRDFieldDef* d = visibleFieldDefs.GetFieldDef(i);
    TNRDAdvFieldDef& a = dest.AddFieldDef();
    a.FName = d->FName;
    a.FObjectID = d->FObjectID;
    a.FDataType = d->FAdvancedFieldType;
    a.FSize = d->FAdvancedFieldType == aftGuid ? 0 : d->FFieldSize;
    a.FAutoincIncrement = d->FAutoincIncrement;
    a.FAutoincInitialValue = d->FAutoincInitialValue;
    a.FAutoincMinValue = d->FAutoincMinValue;
    a.FAutoincMaxValue = d->FAutoincMaxValue;
    a.FAutoincCycled = d->FAutoincCycled;
    a.FBLOBCompressionAlgorithm = CompressionAlgorithmFromByte(static_cast<std::uint8_t>(d->FBLOBCompressionAlgorithm));
    a.FBLOBCompressionMode = d->FBLOBCompressionMode;
    a.FBLOBBlockSize = d->FBLOBBlockSize;
    a.FDefaultValue.Assign(d->FDefaultValue, true);
  }
  // The visible definition that shows table field number `fieldNo`, or -1.
  auto visibleOf = [&](std::int32_t fieldNo) {
    for (std::int32_t k = 0; k < visibleFieldDefs.GetCount(); ++k)
      if (visibleFieldDefs.GetFieldDef(k)->FFieldNoReference == fieldNo) return k;
    return -1;
  };
  for (std::int32_t i = 0; i < constraintDefs.GetCount(); ++i) {
    const TNRDConstraintDef* c = constraintDefs.GetConstraintDef(i);
    switch (c->FConstraintType) {
      case ctPK:
      case ctUnique: break;
      case ctNotNull:
      case ctCheck: {
        const auto* col = static_cast<const TNRDConstraintDefColumn*>(c);
        const std::int32_t fieldNo = allFieldDefs.GetDefNumberByObjectId(col->FColumnObjectID);
        if (fieldNo < 0) {
          if (c->FConstraintType == ctNotNull) throw ENRDException(30032, "Field #%d not found", {col->FColumnObjectID});
          throw ENRDException(30031, "Field #%d not found", {col->FColumnObjectID});
        }
        const std::int32_t v = visibleOf(fieldNo);
        if (v < 0) break;
        TNRDAdvFieldDef& a = dest.GetDef(v);
        if (c->FConstraintType == ctNotNull) {
          a.FRequired = true;
        } else {
          const auto* check = static_cast<const TNRDConstraintDefCheck*>(c);
          a.FMinValue.Assign(check->FMinValue, true);
          a.FMaxValue.Assign(check->FMaxValue, true);
        }
        break;
      }
      default: throw ENRDException(30039, "Not implemented yet");
    }
  }
}

void EngineFieldDefsToFieldDefs(const TNRDFieldDefs& visibleFieldDefs, const TNRDConstraintDefs& constraintDefs,
                                TFieldDefs& dest) {
  dest.Clear();
  for (std::int32_t i = 0; i < visibleFieldDefs.GetCount(); ++i) {
    const TNRDFieldDef* d = visibleFieldDefs.GetFieldDef(i);
    const TFieldType ft = AdvancedFieldTypeToFieldType(d->FAdvancedFieldType);
    const std::int32_t size = ft != ftGuid && IsSizedAdvancedFieldType(d->FAdvancedFieldType) ? d->FFieldSize : 0;
    dest.Add(d->FName, ft, size, false);
  }
  for (std::int32_t i = 0; i < constraintDefs.GetCount(); ++i) {
    const TNRDConstraintDef* c = constraintDefs.GetConstraintDef(i);
    if (c->FConstraintType != ctNotNull) continue;
    const auto* col = static_cast<const TNRDConstraintDefColumn*>(c);
    const std::int32_t v = visibleFieldDefs.GetDefNumberByObjectId(col->FColumnObjectID);
    if (v >= 0 && dest[v].DataType != ftAutoInc) dest[v].Required = true;
  }
}

std::vector<std::string> SplitIndexFieldList(std::string_view fields) {
  std::string text(fields);
  for (char& c : text)
    if (c == ',') c = ';';
  std::vector<std::string> r;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find(';', pos);
    if (end == std::string::npos) end = text.size();
    r.push_back(Trim(std::string_view(text).substr(pos, end - pos)));
    pos = end + 1;
  }
  return r;
}

void MakeEngineIndexDef(const std::string& name, const std::string& fields, TIndexOptions options, bool temporary,
                        const std::string& descFields, const std::string& caseInsFields,
                        const std::string& maxIndexedSizes, const TFieldDefs& fieldDefs, TNRDIndexDef& dest) {
  if (name.empty()) throw ENRDException(20048, "Invalid index name '%s'", {name});
  if (fields.empty()) throw ENRDException(20049, "Cannot find index field '%s'", {fields});
  dest.FName = CutShortName(name);
  dest.FIndexType = itBTree;
  dest.FUnique = (options & ixUnique) != 0;
  dest.FPrimary = (options & ixPrimary) != 0;
  dest.FTemporary = temporary;
  const std::vector<std::string> names = SplitIndexFieldList(fields);
  const std::vector<std::string> desc = SplitIndexFieldList(descFields);
  const std::vector<std::string> caseIns = SplitIndexFieldList(caseInsFields);
  const std::vector<std::string> sizes = SplitIndexFieldList(maxIndexedSizes);
  dest.SetColumnCount(static_cast<std::int32_t>(names.size()));
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!FieldDefsHasField(fieldDefs, names[i])) throw ENRDException(20050, "Cannot find index field '%s'", {names[i]});
    TNRDIndexColumn& col = dest.GetIndexColumn(static_cast<std::int32_t>(i));
    col.FFieldName = names[i];
    col.FDescending = InList(desc, names[i]) || ((options & ixDescending) != 0 && descFields.empty());
    col.FCaseInsensitive = InList(caseIns, names[i]) || ((options & ixCaseInsensitive) != 0 && caseInsFields.empty());
    std::int32_t size = 20;
    if (i < sizes.size() && !sizes[i].empty()) size = StrToInt(sizes[i]);
    col.FMaxIndexedSize = size;
  }
}

void AdvIndexDefToEngineIndexDef(const TNRDAdvIndexDef& s, const TFieldDefs& fieldDefs, TNRDIndexDef& dest) {
  MakeEngineIndexDef(s.FName, s.FFields, s.FOptions, s.FTemporary, s.FDescFields, s.FCaseInsFields, s.FMaxIndexedSizes,
                     fieldDefs, dest);
}

void AdvIndexDefsToEngineIndexDefs(const TNRDAdvIndexDefs& source, const TFieldDefs& fieldDefs, TNRDIndexDefs& dest) {
  dest.Clear();
  for (std::int32_t i = 0; i < source.Count(); ++i)
    AdvIndexDefToEngineIndexDef(source.GetDef(i), fieldDefs, *dest.AddCreated());
}

void EngineIndexDefToAdvIndexDef(const TNRDIndexDef& source, TNRDAdvIndexDef& dest) {
  std::vector<std::string> fields, desc, caseIns, sizes;
  for (std::int32_t i = 0; i < source.ColumnCount(); ++i) {
    const TNRDIndexColumn& c = source.GetIndexColumn(i);
    fields.push_back(c.FFieldName);
    if (c.FDescending) desc.push_back(c.FFieldName);
    if (c.FCaseInsensitive) caseIns.push_back(c.FFieldName);
    sizes.push_back(std::to_string(c.FMaxIndexedSize));
  }
  dest.FName = source.FName;
  dest.FFields = Join(fields);
  dest.FDescFields = Join(desc);
  dest.FCaseInsFields = Join(caseIns);
  dest.FMaxIndexedSizes = Join(sizes);
  dest.FOptions = static_cast<TIndexOptions>((source.FUnique ? ixUnique : 0) | (source.FPrimary ? ixPrimary : 0));
  dest.FTemporary = source.FTemporary;
}

void EngineIndexDefsToAdvIndexDefs(const TNRDIndexDefs& source, TNRDAdvIndexDefs& dest) {
  dest.Clear();
  for (std::int32_t i = 0; i < source.GetCount(); ++i) EngineIndexDefToAdvIndexDef(*source.GetIndexDef(i), dest.AddIndexDef());
}

void AdvIndexDefsToIndexDefs(const TNRDAdvIndexDefs& source, TIndexDefs& dest) {
  dest.Clear();
  for (std::int32_t i = 0; i < source.Count(); ++i) {
    const TNRDAdvIndexDef& a = source.GetDef(i);
    TIndexDef& d = dest.Add(a.FName, a.FFields, a.FOptions);
    d.DescFields = a.FDescFields;
    d.CaseInsFields = a.FCaseInsFields;
    const std::string all = AnsiUpperCase(Trim(a.FFields));
    if (all == AnsiUpperCase(Trim(a.FDescFields))) d.Options |= ixDescending;
    if (all == AnsiUpperCase(Trim(a.FCaseInsFields))) d.Options |= ixCaseInsensitive;
  }
}

void IndexDefsToAdvIndexDefs(const TIndexDefs& source, TNRDAdvIndexDefs& dest) {
  dest.Clear();
  for (std::int32_t i = 0; i < source.Count(); ++i) {
    const TIndexDef& d = source[i];
    dest.Add(d.Name, d.Fields, d.Options, false, d.DescFields, d.CaseInsFields, "");
  }
}

bool FieldDefsHasField(const TFieldDefs& fieldDefs, std::string_view name) { return fieldDefs.IndexOf(name) >= 0; }

TCompressionAlgorithm CompressionAlgorithmFromByte(std::uint8_t value) {
  switch (value) {
    case 1: return caZLIB;
    case 2: return caBZIP;
    case 3: return caPPM;
    default: return caNone;
  }
}

}  // namespace nrd
