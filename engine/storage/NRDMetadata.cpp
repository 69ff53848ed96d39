// Table metadata definitions, their lists and their stream form.
#include "engine/storage/NRDMetadata.h"

#include <algorithm>
#include <limits>

#include "engine/foundation/NRDConverts.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDStreams.h"
#include "engine/foundation/NRDText.h"
#include "engine/foundation/NRDTypesRoutines.h"

namespace nrd {

namespace {

TNRDExpressionFactory* gExpressionFactory = nullptr;

constexpr const char* kCannotRead =
    "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d";

// ----- checked little-endian items --------------------------------------------------------------
void WriteU8(TStream& s, std::uint8_t v, int code) { WriteDataToStream(&v, 1, s, code); }
void WriteBool(TStream& s, bool v, int code) { WriteU8(s, v ? 0xFF : 0x00, code); }
void WriteI32(TStream& s, std::int32_t v, int code) {
  std::uint8_t b[4];
  PutLE32(b, static_cast<std::uint32_t>(v));
  WriteDataToStream(b, 4, s, code);
}
void WriteI64(TStream& s, std::int64_t v, int code) {
  std::uint8_t b[8];
  PutLE64(b, static_cast<std::uint64_t>(v));
  WriteDataToStream(b, 8, s, code);
}
std::uint8_t ReadU8(TStream& s, int code) {
  std::uint8_t v = 0;
  ReadDataFromStream(&v, 1, s, code);
  return v;
}
bool ReadBool(TStream& s, int code) { return ReadU8(s, code) != 0; }
std::int32_t ReadI32(TStream& s, int code) {
  std::uint8_t b[4];
  ReadDataFromStream(b, 4, s, code);
  return static_cast<std::int32_t>(GetLE32(b));
}
std::int64_t ReadI64(TStream& s, int code) {
  std::uint8_t b[8];
  ReadDataFromStream(b, 8, s, code);
  return static_cast<std::int64_t>(GetLE64(b));
}

// Raises `code` as a read that could not deliver `wanted` bytes.
[[noreturn]] void BadRead(TStream& s, int code, std::int64_t wanted, std::int64_t got) {
  throw ENRDException(code, kCannotRead, {s.Position(), s.Size(), wanted, got});
}

// A name as a length byte L and L bytes.
void WriteShortName(TStream& s, const std::string& name, int lengthCode, int bytesCode) {
  const std::string cut = CutShortName(name);
  WriteU8(s, static_cast<std::uint8_t>(cut.size()), lengthCode);
  WriteDataToStream(cut.data(), static_cast<std::int32_t>(cut.size()), s, bytesCode);
}
std::string ReadShortName(TStream& s, int lengthCode, int bytesCode) {
  const std::uint8_t n = ReadU8(s, lengthCode);
  std::string name(n, '\0');
  ReadDataFromStream(name.data(), n, s, bytesCode);
  return name;
}

// A name as its whole short string (length byte included), preceded by n = L + 1 as a byte. For a
// 255-byte name n is 256, which a byte holds as 0: a 0 is read back as 256, since n is never 0.
void WriteByteCountedShortString(TStream& s, const std::string& name, int countCode, int bytesCode) {
  const std::string cut = CutShortName(name);
  std::string whole(1, static_cast<char>(cut.size()));
  whole += cut;
  WriteU8(s, static_cast<std::uint8_t>(whole.size() & 0xFF), countCode);
  WriteDataToStream(whole.data(), static_cast<std::int32_t>(whole.size()), s, bytesCode);
}
std::string ReadByteCountedShortString(TStream& s, int countCode, int bytesCode) {
  const std::uint8_t b = ReadU8(s, countCode);
  const std::int32_t n = b == 0 ? 256 : b;
  std::string whole(static_cast<std::size_t>(n), '\0');
  ReadDataFromStream(whole.data(), n, s, bytesCode);
  if (static_cast<std::uint8_t>(whole[0]) != n - 1) BadRead(s, bytesCode, n, static_cast<std::uint8_t>(whole[0]) + 1);
  return whole.substr(1);
}

// The same with n as an i32.
void WriteI32CountedShortString(TStream& s, const std::string& name, int countCode, int bytesCode) {
  const std::string cut = CutShortName(name);
  std::string whole(1, static_cast<char>(cut.size()));
  whole += cut;
  WriteI32(s, static_cast<std::int32_t>(whole.size()), countCode);
  WriteDataToStream(whole.data(), static_cast<std::int32_t>(whole.size()), s, bytesCode);
}
std::string ReadI32CountedShortString(TStream& s, int countCode, int bytesCode) {
  const std::int32_t n = ReadI32(s, countCode);
  if (n < 1 || n > 256) BadRead(s, countCode, n, 4);
  std::string whole(static_cast<std::size_t>(n), '\0');
  ReadDataFromStream(whole.data(), n, s, bytesCode);
  if (static_cast<std::uint8_t>(whole[0]) != n - 1) BadRead(s, bytesCode, n, static_cast<std::uint8_t>(whole[0]) + 1);
  return whole.substr(1);
}

bool IsBlobType(TNRDBaseFieldType t) { return t == bftBlob || t == bftClob || t == bftWideClob; }

bool IsTextType(TNRDBaseFieldType t) {
  return t == bftChar || t == bftWideChar || t == bftVarchar || t == bftWideVarchar;
}

}  // namespace

void SetExpressionFactory(TNRDExpressionFactory* factory) { gExpressionFactory = factory; }
TNRDExpressionFactory* GetExpressionFactory() { return gExpressionFactory; }

std::string CutShortName(std::string_view name) {
  return std::string(name.substr(0, std::min(name.size(), kMaxShortNameLength)));
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && AnsiUpperCase(a) == AnsiUpperCase(b);
}

// ----- TNRDMetaObjectDef ---------------------------------------------------------------------------
void TNRDMetaObjectDef::Assign(const TNRDMetaObjectDef& source) {
  FName = source.FName;
  FObjectID = source.FObjectID;
  FSchemaName = source.FSchemaName;
  FSchemaID = source.FSchemaID;
}

void TNRDMetaObjectDef::SaveToStream(TStream& stream) const {
  WriteShortName(stream, FName, 10164, 10165);
  WriteI32(stream, FObjectID, 10168);
}

void TNRDMetaObjectDef::LoadFromStream(TStream& stream) {
  FName = ReadShortName(stream, 10166, 10167);
  FObjectID = ReadI32(stream, 10169);
}

// ----- TNRDFieldDef ------------------------------------------------------------------------------
bool TNRDFieldDef::IsBlob() const { return IsBlobType(FBaseFieldType); }
bool TNRDFieldDef::IsAutoinc() const { return IsAutoIncAdvancedFieldType(FAdvancedFieldType); }

void TNRDFieldDef::RecalcDataSizes() {
  FMemoryDataSize = GetDataTypeSize(FBaseFieldType, FFieldSize);
  FDiskDataSize = IsBlob() ? 6 : FMemoryDataSize;
}

void TNRDFieldDef::SetFieldDefDataType(TNRDAdvancedFieldType advancedFieldType, std::int32_t fieldSize) {
  const TNRDBaseFieldType base = AdvancedToBaseFieldType(advancedFieldType);
  if (base == bftUnknown)
    throw ENRDException(30007, "Unsupported data type '%s'", {AdvancedFieldTypeToSQLName(advancedFieldType)});
  FAdvancedFieldType = advancedFieldType;
  FBaseFieldType = base;
  FFieldSize = fieldSize;
  RecalcDataSizes();
}

void TNRDFieldDef::SetFieldDefDataType(TNRDBaseFieldType baseFieldType, std::int32_t fieldSize) {
  const TNRDAdvancedFieldType advanced = BaseToAdvancedFieldType(baseFieldType);
  if (advanced == aftUnknown)
    throw ENRDException(30008, "Unsupported data type '%s'", {BaseFieldTypeToSQLName(baseFieldType)});
  FBaseFieldType = baseFieldType;
  FAdvancedFieldType = advanced;
  FFieldSize = fieldSize;
  RecalcDataSizes();
}

// A non-empty text default that parses as an expression without field references becomes an
// expression when its value differs from its own text (a function call, say); a default that
// evaluates to itself, or whose evaluation fails, stays a literal.
void TNRDFieldDef::RebuildDefaultValueExpr() {
  FDefaultValueExpr.reset();
  TNRDExpressionFactory* factory = GetExpressionFactory();
  if (factory == nullptr || FDefaultValue.IsNull() || !FDefaultValue.IsStringDataType() || FDefaultValue.StrLen() <= 0)
    return;
  std::unique_ptr<TNRDExpression> expr = factory->ParseForDefaultValueExpression(FDefaultValue);
  if (!expr) return;
  try {
    TNRDVariant value;
    expr->GetValue(nullptr, value);
    if (!value.IsNull() && value.AsWideString() == FDefaultValue.AsWideString()) return;
  } catch (const ENRDException&) {
    return;
  }
  FDefaultValueExpr = std::move(expr);
}

void TNRDFieldDef::Assign(const TNRDMetaObjectDef& source) {
  TNRDMetaObjectDef::Assign(source);
  const auto* s = dynamic_cast<const TNRDFieldDef*>(&source);
  if (s == nullptr) return;
  FBaseFieldType = s->FBaseFieldType;
  FAdvancedFieldType = s->FAdvancedFieldType;
  FFieldSize = s->FFieldSize;
  FDiskDataSize = s->FDiskDataSize;
  FMemoryDataSize = s->FMemoryDataSize;
  FDiskOffset = s->FDiskOffset;
  FMemoryOffset = s->FMemoryOffset;
  FDefaultValue.Assign(s->FDefaultValue, true);
  RebuildDefaultValueExpr();
  FBLOBCompressionAlgorithm = s->FBLOBCompressionAlgorithm;
  FBLOBCompressionMode = s->FBLOBCompressionMode;
  FBLOBBlockSize = s->FBLOBBlockSize;
  FAutoincIncrement = s->FAutoincIncrement;
  FAutoincInitialValue = s->FAutoincInitialValue;
  FAutoincMinValue = s->FAutoincMinValue;
  FAutoincMaxValue = s->FAutoincMaxValue;
  FAutoincCycled = s->FAutoincCycled;
}

void TNRDFieldDef::SaveToStream(TStream& stream) const {
  TNRDMetaObjectDef::SaveToStream(stream);
  WriteU8(stream, FBaseFieldType, 10170);
  WriteU8(stream, FAdvancedFieldType, 10171);
  WriteI32(stream, FFieldSize, 10172);
  if (IsBlob()) {
    WriteU8(stream, FBLOBCompressionAlgorithm, 10175);
    WriteU8(stream, FBLOBCompressionMode, 10176);
    WriteI32(stream, FBLOBBlockSize, 10177);
  }
  WriteI64(stream, FAutoincIncrement, 30412);
  WriteI64(stream, FAutoincInitialValue, 30413);
  WriteI64(stream, FAutoincMinValue, 30414);
  WriteI64(stream, FAutoincMaxValue, 30415);
  WriteBool(stream, FAutoincCycled, 30416);
  FDefaultValue.SaveToStream(stream);
}

void TNRDFieldDef::LoadFromStream(TStream& stream) {
  TNRDMetaObjectDef::LoadFromStream(stream);
  const std::uint8_t base = ReadU8(stream, 10187);
  const std::uint8_t advanced = ReadU8(stream, 10188);
  // A type the engine does not know, or a size no record can hold, is a damaged stream.
  if (base >= kBaseFieldTypeCount) throw ENRDException(30050, "Unknown DataType: '%s'", {std::string("Unknown")});
  if (advanced >= kAdvancedFieldTypeCount)
    throw ENRDException(30050, "Unknown DataType: '%s'", {std::string("Unknown")});
  FBaseFieldType = static_cast<TNRDBaseFieldType>(base);
  FAdvancedFieldType = static_cast<TNRDAdvancedFieldType>(advanced);
  FFieldSize = ReadI32(stream, 10189);
  if (FFieldSize < 0 || FFieldSize > std::numeric_limits<std::int32_t>::max() / 4)
    BadRead(stream, 10189, 4, FFieldSize);
  if (IsBlob()) {
    const std::uint8_t alg = ReadU8(stream, 10192);
    if (alg > acaPPM) BadRead(stream, 10192, 1, alg);
    FBLOBCompressionAlgorithm = static_cast<TNRDCompressionAlgorithm>(alg);
    FBLOBCompressionMode = ReadU8(stream, 10193);
    FBLOBBlockSize = ReadI32(stream, 10194);
  }
  FAutoincIncrement = ReadI64(stream, 30407);
  FAutoincInitialValue = ReadI64(stream, 30408);
  FAutoincMinValue = ReadI64(stream, 30409);
  FAutoincMaxValue = ReadI64(stream, 30410);
  FAutoincCycled = ReadBool(stream, 30411);
  FDefaultValue.Clear(FBaseFieldType);
  FDefaultValue.LoadFromStream(stream);
  RebuildDefaultValueExpr();
  RecalcDataSizes();
}

// ----- TNRDIndexDef -------------------------------------------------------------------------------
void TNRDIndexDef::SetColumnCount(std::int32_t count) {
  if (count < 0) count = 0;
  while (ColumnCount() < count) FIndexColumns.push_back(std::make_unique<TNRDIndexColumn>());
  FIndexColumns.resize(static_cast<std::size_t>(count));
}

void TNRDIndexDef::Assign(const TNRDMetaObjectDef& source) {
  TNRDMetaObjectDef::Assign(source);
  const auto* s = dynamic_cast<const TNRDIndexDef*>(&source);
  if (s == nullptr || s == this) return;
  FIndexType = s->FIndexType;
  FUnique = s->FUnique;
  FPrimary = s->FPrimary;
  FRootPageNo = s->FRootPageNo;
  SetColumnCount(s->ColumnCount());
  FTemporary = s->FTemporary;
  FSessionID = s->FSessionID;
  FTableState = s->FTableState;
  FNeedRebuild = s->FNeedRebuild;
  for (std::int32_t i = 0; i < ColumnCount(); ++i) GetIndexColumn(i) = s->GetIndexColumn(i);
}

void TNRDIndexDef::AssignByNames(const std::vector<std::string>& fieldNames, const std::vector<std::string>& ascDescList,
                                 const std::vector<std::string>& caseSensitivityList) {
  const char* kDifferent = "Error - different list lengths. L1 = %d, L2 = %d";
  if (fieldNames.size() != ascDescList.size())
    throw ENRDException(10278, kDifferent, {fieldNames.size(), ascDescList.size()});
  if (fieldNames.size() != caseSensitivityList.size())
    throw ENRDException(10279, kDifferent, {fieldNames.size(), caseSensitivityList.size()});
  SetColumnCount(static_cast<std::int32_t>(fieldNames.size()));
  for (std::size_t i = 0; i < fieldNames.size(); ++i) {
    TNRDIndexColumn& c = *FIndexColumns[i];
    c.FFieldName = fieldNames[i];
    c.FDescending = ascDescList[i] == "DESC";
    c.FCaseInsensitive = caseSensitivityList[i] == "NO_CASE";
    c.FMaxIndexedSize = 20;
  }
}

void TNRDIndexDef::SaveToStream(TStream& stream) const {
  TNRDMetaObjectDef::SaveToStream(stream);
  WriteU8(stream, FIndexType, 10344);
  WriteBool(stream, FUnique, 10345);
  WriteBool(stream, FPrimary, 10346);
  WriteI32(stream, ColumnCount(), 10347);
  WriteI32(stream, FRootPageNo, 10348);
  for (const auto& c : FIndexColumns) {
    WriteShortName(stream, c->FFieldName, 10354, 10355);
    WriteBool(stream, c->FDescending, 10356);
    WriteBool(stream, c->FCaseInsensitive, 10357);
    WriteI32(stream, c->FMaxIndexedSize, 20169);
  }
}

void TNRDIndexDef::LoadFromStream(TStream& stream) {
  TNRDMetaObjectDef::LoadFromStream(stream);
  FIndexType = static_cast<TNRDIndexType>(ReadU8(stream, 10349));
  FUnique = ReadBool(stream, 10350);
  FPrimary = ReadBool(stream, 10351);
  const std::int32_t count = ReadI32(stream, 10352);
  if (count < 0) BadRead(stream, 10352, 4, count);
  FRootPageNo = ReadI32(stream, 10353);
  FIndexColumns.clear();
  for (std::int32_t i = 0; i < count; ++i) {
    auto c = std::make_unique<TNRDIndexColumn>();
    c->FFieldName = ReadShortName(stream, 10358, 10359);
    c->FDescending = ReadBool(stream, 10360);
    c->FCaseInsensitive = ReadBool(stream, 10361);
    c->FMaxIndexedSize = ReadI32(stream, 20168);
    FIndexColumns.push_back(std::move(c));
  }
  FTemporary = false;
  FSessionID = -1;
  FNeedRebuild = false;
}

// ----- constraints ---------------------------------------------------------------------------------
void TNRDConstraintDef::Assign(const TNRDMetaObjectDef& source) {
  TNRDMetaObjectDef::Assign(source);
  if (const auto* s = dynamic_cast<const TNRDConstraintDef*>(&source)) FConstraintType = s->FConstraintType;
}

void TNRDConstraintDefColumn::Assign(const TNRDMetaObjectDef& source) {
  TNRDConstraintDef::Assign(source);
  const auto* s = dynamic_cast<const TNRDConstraintDefColumn*>(&source);
  if (s == nullptr) return;
  FTableSchemaName = s->FTableSchemaName;
  FTableSchemaObjectID = s->FTableSchemaObjectID;
  FTableName = s->FTableName;
  FTableObjectID = s->FTableObjectID;
  FColumnName = s->FColumnName;
  FColumnObjectID = s->FColumnObjectID;
}

void TNRDConstraintDefColumn::SetNames(std::string_view columnName, std::string_view tableName,
                                       std::string_view schemaName) {
  FColumnName = CutShortName(columnName);
  FTableName = CutShortName(tableName);
  FSchemaName = std::string(schemaName);
}

void TNRDConstraintDefColumn::SaveColumnPart(TStream& stream, const Codes& write) const {
  TNRDMetaObjectDef::SaveToStream(stream);
  WriteI32(stream, FTableSchemaObjectID, write.ids[0]);
  WriteI32(stream, FTableObjectID, write.ids[1]);
  WriteI32(stream, FColumnObjectID, write.ids[2]);
  WriteByteCountedShortString(stream, FTableSchemaName, write.names[0][0], write.names[0][1]);
  WriteByteCountedShortString(stream, FTableName, write.names[1][0], write.names[1][1]);
  WriteByteCountedShortString(stream, FColumnName, write.names[2][0], write.names[2][1]);
}

void TNRDConstraintDefColumn::LoadColumnPart(TStream& stream, const Codes& read) {
  TNRDMetaObjectDef::LoadFromStream(stream);
  FTableSchemaObjectID = ReadI32(stream, read.ids[0]);
  FTableObjectID = ReadI32(stream, read.ids[1]);
  FColumnObjectID = ReadI32(stream, read.ids[2]);
  FTableSchemaName = ReadByteCountedShortString(stream, read.names[0][0], read.names[0][1]);
  FTableName = ReadByteCountedShortString(stream, read.names[1][0], read.names[1][1]);
  FColumnName = ReadByteCountedShortString(stream, read.names[2][0], read.names[2][1]);
}

void TNRDConstraintDefNotNull::SaveToStream(TStream& stream) const {
  SaveColumnPart(stream, {{10240, 10241, 10242}, {{10243, 10244}, {10245, 10246}, {10247, 10248}}});
}
void TNRDConstraintDefNotNull::LoadFromStream(TStream& stream) {
  LoadColumnPart(stream, {{10249, 10250, 10251}, {{10252, 10253}, {10254, 10255}, {10256, 10257}}});
}

void TNRDConstraintDefCheck::Assign(const TNRDMetaObjectDef& source) {
  TNRDConstraintDefColumn::Assign(source);
  if (const auto* s = dynamic_cast<const TNRDConstraintDefCheck*>(&source)) {
    FMinValue.Assign(s->FMinValue, true);
    FMaxValue.Assign(s->FMaxValue, true);
  }
}
void TNRDConstraintDefCheck::SaveToStream(TStream& stream) const {
  SaveColumnPart(stream, {{10227, 10228, 10229}, {{10221, 10222}, {10223, 10224}, {10225, 10226}}});
  FMinValue.SaveToStream(stream);
  FMaxValue.SaveToStream(stream);
}
void TNRDConstraintDefCheck::LoadFromStream(TStream& stream) {
  LoadColumnPart(stream, {{10230, 10231, 10232}, {{10233, 10234}, {10235, 10236}, {10237, 10238}}});
  FMinValue.LoadFromStream(stream);
  FMaxValue.LoadFromStream(stream);
}

void TNRDConstraintDefUnique::Assign(const TNRDMetaObjectDef& source) {
  TNRDConstraintDef::Assign(source);
  const auto* s = dynamic_cast<const TNRDConstraintDefUnique*>(&source);
  if (s == nullptr) return;
  FTableSchemaName = s->FTableSchemaName;
  FTableSchemaObjectID = s->FTableSchemaObjectID;
  FTableName = s->FTableName;
  FTableObjectID = s->FTableObjectID;
  FIndexName = s->FIndexName;
  FIndexObjectID = s->FIndexObjectID;
  Columns = s->Columns;
}

void TNRDConstraintDefUnique::SaveToStream(TStream& stream) const {
  TNRDMetaObjectDef::SaveToStream(stream);
  WriteI32(stream, FTableSchemaObjectID, 30313);
  WriteI32(stream, FTableObjectID, 30314);
  WriteI32(stream, FIndexObjectID, 30318);
  WriteI32CountedShortString(stream, FTableSchemaName, 30315, 30316);
  WriteI32CountedShortString(stream, FTableName, 30317, 30318);
  WriteI32CountedShortString(stream, FIndexName, 30323, 30324);
  WriteI32(stream, static_cast<std::int32_t>(Columns.size()), 30319);
  for (const TNRDConstraintColumn& c : Columns) {
    WriteI32(stream, c.ColumnObjectID, 30320);
    WriteI32CountedShortString(stream, c.ColumnName, 30321, 30322);
  }
}

void TNRDConstraintDefUnique::LoadFromStream(TStream& stream) {
  TNRDMetaObjectDef::LoadFromStream(stream);
  FTableSchemaObjectID = ReadI32(stream, 30303);
  FTableObjectID = ReadI32(stream, 30304);
  FIndexObjectID = ReadI32(stream, 30317);
  FTableSchemaName = ReadI32CountedShortString(stream, 30305, 30306);
  FTableName = ReadI32CountedShortString(stream, 30307, 30308);
  FIndexName = ReadI32CountedShortString(stream, 30321, 30322);
  const std::int32_t count = ReadI32(stream, 30309);
  if (count < 0) BadRead(stream, 30309, 4, count);
  Columns.clear();
  for (std::int32_t i = 0; i < count; ++i) {
    TNRDConstraintColumn c;
    c.ColumnObjectID = ReadI32(stream, 30310);
    c.ColumnName = ReadI32CountedShortString(stream, 30311, 30312);
    Columns.push_back(std::move(c));
  }
}

// ----- lists ----------------------------------------------------------------------------------------
std::int32_t TNRDMetaObjectDefs::InternalAdd(std::unique_ptr<TNRDMetaObjectDef> def) {
  FDefsList.push_back(std::move(def));
  return GetCount() - 1;
}

TNRDMetaObjectDef* TNRDMetaObjectDefs::InternalAddCreated() {
  throw ENRDException(30339, "The method '%s' not overrided in class '%s'",
                      {std::string("InternalAddCreated"), std::string(ClassName())});
}

void TNRDMetaObjectDefs::SaveToStream(TStream& stream) const {
  WriteI32(stream, GetCount(), 10158);
  for (const auto& d : FDefsList) d->SaveToStream(stream);
}

void TNRDMetaObjectDefs::LoadFromStream(TStream& stream) {
  Clear();
  FLoadedItemCount = ReadI32(stream, 10159);
  if (FLoadedItemCount < 0) BadRead(stream, 10159, 4, FLoadedItemCount);
  for (std::int32_t i = 0; i < FLoadedItemCount; ++i) InternalAddCreated()->LoadFromStream(stream);
}

TNRDMetaObjectDef* TNRDMetaObjectDefs::GetDef(std::int32_t i) const {
  if (i < 0 || i >= GetCount())
    throw ERangeError("List index out of bounds (" + std::to_string(i) + ")");
  return FDefsList[static_cast<std::size_t>(i)].get();
}

void TNRDMetaObjectDefs::SetDef(std::int32_t i, std::unique_ptr<TNRDMetaObjectDef> def) {
  GetDef(i);
  FDefsList[static_cast<std::size_t>(i)] = std::move(def);
}

void TNRDMetaObjectDefs::Delete(std::int32_t i) {
  GetDef(i);
  FDefsList.erase(FDefsList.begin() + i);
}

void TNRDMetaObjectDefs::Insert(std::int32_t i, std::unique_ptr<TNRDMetaObjectDef> def) {
  if (i < 0 || i > GetCount()) throw ERangeError("List index out of bounds (" + std::to_string(i) + ")");
  FDefsList.insert(FDefsList.begin() + i, std::move(def));
}

void TNRDMetaObjectDefs::Move(std::int32_t curIndex, std::int32_t newIndex) {
  GetDef(curIndex);
  GetDef(newIndex);
  if (curIndex == newIndex) return;
  auto item = std::move(FDefsList[static_cast<std::size_t>(curIndex)]);
  FDefsList.erase(FDefsList.begin() + curIndex);
  FDefsList.insert(FDefsList.begin() + newIndex, std::move(item));
}

void TNRDMetaObjectDefs::Clear() {
  while (GetCount() > 0) Delete(0);
}

std::int32_t TNRDMetaObjectDefs::GetDefNumberByName(std::string_view name) const {
  const std::string upper = AnsiUpperCase(name);
  for (std::int32_t i = 0; i < GetCount(); ++i)
    if (AnsiUpperCase(FDefsList[static_cast<std::size_t>(i)]->FName) == upper) return i;
  return -1;
}

TNRDMetaObjectDef* TNRDMetaObjectDefs::GetDefByName(std::string_view name) const {
  const std::int32_t i = GetDefNumberByName(name);
  return i < 0 ? nullptr : FDefsList[static_cast<std::size_t>(i)].get();
}

std::int32_t TNRDMetaObjectDefs::GetDefNumberByObjectId(std::int32_t id) const {
  for (std::int32_t i = 0; i < GetCount(); ++i)
    if (FDefsList[static_cast<std::size_t>(i)]->FObjectID == id) return i;
  return -1;
}

TNRDMetaObjectDef* TNRDMetaObjectDefs::GetDefByObjectId(std::int32_t id) const {
  const std::int32_t i = GetDefNumberByObjectId(id);
  return i < 0 ? nullptr : FDefsList[static_cast<std::size_t>(i)].get();
}

void TNRDMetaObjectDefs::AssignByCreation(const TNRDMetaObjectDefs& source) {
  if (&source == this) return;
  Clear();
  for (const auto& d : source.FDefsList) {
    if (GetDefNumberByName(d->FName) >= 0) throw ENRDException(10424, "Duplicate field name %s", {d->FName});
    InternalAddCreated()->Assign(*d);
  }
}

// Fields.
TNRDMetaObjectDef* TNRDFieldDefs::InternalAddCreated() {
  FDefsList.push_back(std::make_unique<TNRDFieldDef>());
  return FDefsList.back().get();
}

void TNRDFieldDefs::RecalcFieldOffsets() {
  std::int64_t memory = NullBitmapSize();
  std::int64_t disk = memory;
  for (std::int32_t i = 0; i < GetCount(); ++i) {
    TNRDFieldDef* f = GetFieldDef(i);
    f->FMemoryOffset = static_cast<std::int32_t>(memory);
    f->FDiskOffset = static_cast<std::int32_t>(disk);
    memory += f->FMemoryDataSize;
    disk += f->FDiskDataSize;
    // A record must stay addressable with 32-bit offsets.
    if (memory > std::numeric_limits<std::int32_t>::max())
      throw ENRDException(20056, "Buffer size exceeded");
  }
}

std::int32_t TNRDFieldDefs::GetMemoryRecordBufferSize() const {
  std::int64_t size = NullBitmapSize();
  for (std::int32_t i = 0; i < GetCount(); ++i) size += GetFieldDef(i)->FMemoryDataSize;
  if (size > std::numeric_limits<std::int32_t>::max()) throw ENRDException(20056, "Buffer size exceeded");
  return static_cast<std::int32_t>(size);
}

std::int32_t TNRDFieldDefs::GetDiskRecordBufferSize() const {
  std::int64_t size = NullBitmapSize();
  for (std::int32_t i = 0; i < GetCount(); ++i) size += GetFieldDef(i)->FDiskDataSize;
  if (size > std::numeric_limits<std::int32_t>::max()) throw ENRDException(20056, "Buffer size exceeded");
  return static_cast<std::int32_t>(size);
}

// Indexes.
TNRDMetaObjectDef* TNRDIndexDefs::InternalAddCreated() {
  FDefsList.push_back(std::make_unique<TNRDIndexDef>());
  return FDefsList.back().get();
}

void TNRDIndexDefs::SaveToStream(TStream& stream) const {
  std::int32_t permanent = 0;
  for (std::int32_t i = 0; i < GetCount(); ++i)
    if (!GetIndexDef(i)->FTemporary) ++permanent;
  WriteI32(stream, permanent, 10343);
  for (std::int32_t i = 0; i < GetCount(); ++i)
    if (!GetIndexDef(i)->FTemporary) GetIndexDef(i)->SaveToStream(stream);
}

void TNRDIndexDefs::LoadFromStream(TStream& stream) { TNRDMetaObjectDefs::LoadFromStream(stream); }

std::int32_t TNRDIndexDefs::FindIndex(const std::vector<std::string>* fieldNames,
                                      const std::vector<std::string>* ascDescList,
                                      const std::vector<std::string>* caseSensitivityList, std::int32_t sessionID,
                                      const TNRDFieldDefs& fieldDefs) const {
  if (fieldNames == nullptr) throw ENRDException(10389, "Nil pointer occured");
  if (ascDescList == nullptr) throw ENRDException(10390, "Nil pointer occured");
  if (caseSensitivityList == nullptr) throw ENRDException(10391, "Nil pointer occured");
  const char* kDifferent = "Error - different list lengths. L1 = %d, L2 = %d";
  if (fieldNames->size() != ascDescList->size())
    throw ENRDException(10276, kDifferent, {fieldNames->size(), ascDescList->size()});
  if (fieldNames->size() != caseSensitivityList->size())
    throw ENRDException(10277, kDifferent, {fieldNames->size(), caseSensitivityList->size()});
  const std::int32_t wanted = static_cast<std::int32_t>(fieldNames->size());
  for (std::int32_t i = 0; i < GetCount(); ++i) {
    const TNRDIndexDef* def = GetIndexDef(i);
    if (def->ColumnCount() < wanted) continue;
    if (def->FTemporary && def->FSessionID != sessionID) continue;
    bool serves = true;
    for (std::int32_t j = 0; j < wanted && serves; ++j) {
      const TNRDIndexColumn& col = def->GetIndexColumn(j);
      const std::string& name = (*fieldNames)[static_cast<std::size_t>(j)];
      if (!SameName(col.FFieldName, name)) {
        serves = false;
        break;
      }
      const std::string& dir = (*ascDescList)[static_cast<std::size_t>(j)];
      if ((dir == "ASC" && col.FDescending) || (dir == "DESC" && !col.FDescending)) serves = false;
      const std::string& cs = (*caseSensitivityList)[static_cast<std::size_t>(j)];
      if (cs == "CASE") {
        const TNRDFieldDef* field = fieldDefs.GetFieldDefByName(name);
        if (field == nullptr) throw ENRDException(30027, "Field '%s' not found", {name});
        if (IsTextType(field->FBaseFieldType) && col.FCaseInsensitive) serves = false;
      } else if (cs == "NO_CASE" && !col.FCaseInsensitive) {
        serves = false;
      }
    }
    if (serves) return def->FObjectID;
  }
  return -1;
}

// Constraints.
std::unique_ptr<TNRDConstraintDef> TNRDConstraintDefs::CreateByType(std::uint8_t type) {
  switch (type) {
    case ctPK: return std::make_unique<TNRDConstraintDefPrimary>();
    case ctUnique: return std::make_unique<TNRDConstraintDefUnique>();
    case ctNotNull: return std::make_unique<TNRDConstraintDefNotNull>();
    case ctCheck: return std::make_unique<TNRDConstraintDefCheck>();
    default: throw ENRDException(30316, "Unknown Constraint Type: '%d'", {static_cast<int>(type)});
  }
}

void TNRDConstraintDefs::SaveToStream(TStream& stream) const {
  WriteI32(stream, GetCount(), 10158);
  for (std::int32_t i = 0; i < GetCount(); ++i) {
    const TNRDConstraintDef* d = GetConstraintDef(i);
    WriteU8(stream, d->FConstraintType, 10219);
    d->SaveToStream(stream);
  }
}

void TNRDConstraintDefs::LoadFromStream(TStream& stream) {
  Clear();
  FLoadedItemCount = ReadI32(stream, 10159);
  if (FLoadedItemCount < 0) BadRead(stream, 10159, 4, FLoadedItemCount);
  for (std::int32_t i = 0; i < FLoadedItemCount; ++i) {
    const std::uint8_t type = ReadU8(stream, 10220);
    std::unique_ptr<TNRDConstraintDef> d = CreateByType(type);
    TNRDConstraintDef* raw = d.get();
    InternalAdd(std::move(d));
    raw->LoadFromStream(stream);
  }
}

void TNRDConstraintDefs::Assign(const TNRDConstraintDefs& source) {
  if (&source == this) return;
  Clear();
  for (std::int32_t i = 0; i < source.GetCount(); ++i) {
    const TNRDConstraintDef* s = source.GetConstraintDef(i);
    if (s->FConstraintType == ctFK || s->FConstraintType > ctCheck)
      throw ENRDException(30035, "Not implemented yet");
    std::unique_ptr<TNRDConstraintDef> d = CreateByType(s->FConstraintType);
    d->Assign(*s);
    InternalAdd(std::move(d));
  }
}

TNRDConstraintDefNotNull* TNRDConstraintDefs::AddNotNull() {
  auto* d = new TNRDConstraintDefNotNull();
  InternalAdd(std::unique_ptr<TNRDMetaObjectDef>(d));
  return d;
}
TNRDConstraintDefCheck* TNRDConstraintDefs::AddCheck() {
  auto* d = new TNRDConstraintDefCheck();
  InternalAdd(std::unique_ptr<TNRDMetaObjectDef>(d));
  return d;
}
TNRDConstraintDefPrimary* TNRDConstraintDefs::AddPK() {
  auto* d = new TNRDConstraintDefPrimary();
  InternalAdd(std::unique_ptr<TNRDMetaObjectDef>(d));
  return d;
}
TNRDConstraintDefUnique* TNRDConstraintDefs::AddUnique() {
  auto* d = new TNRDConstraintDefUnique();
  InternalAdd(std::unique_ptr<TNRDMetaObjectDef>(d));
  return d;
}

}  // namespace nrd
