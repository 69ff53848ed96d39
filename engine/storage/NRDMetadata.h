// Table metadata: the definitions of a table's fields, indexes and constraints, their lists, and
// the binary stream form in which a database file keeps them (one metadata file per table; the
// field, index and constraint sections follow each other in that order).
//
// Stream form (little-endian; every item is checked: a short write raises the item's write code
// with "Cannot write to stream. ...", a short read its read code with "Cannot read from stream. ...";
// codes are written as write / read):
//
//   meta object header    name length L u8 (10164/10166), L name bytes (10165/10167), ObjectID i32 (10168/10169)
//   field definition      header, BaseFieldType u8 (10170/10187), AdvancedFieldType u8 (10171/10188),
//                         FieldSize i32 (10172/10189); only Blob/Clob/WideClob: algorithm u8
//                         (10175/10192), mode u8 (10176/10193), block size i32 (10177/10194);
//                         autoinc increment, initial, min, max i64 (30412-30415 / 30407-30410),
//                         cycled u8 (30416/30411); default value in TNRDVariant stream form
//                         (10179-10182 / 10183-10186)
//   index column          name length u8 + name (10354,10355 / 10358,10359), Descending u8
//                         (10356/10360), CaseInsensitive u8 (10357/10361), MaxIndexedSize i32 (20169/20168)
//   index definition      header, IndexType u8 (10344/10349), Unique u8 (10345/10350), Primary u8
//                         (10346/10351), ColumnCount i32 (10347/10352), RootPageNo i32 (10348/10353),
//                         the columns
//   not-null / check      header, TableSchemaObjectID, TableObjectID, ColumnObjectID i32; then
//                         TableSchemaName, TableName, ColumnName each as a byte n = L + 1 and the n
//                         bytes of the name with its own length byte; check adds MinValue, MaxValue
//                         (TNRDVariant stream form). Codes in the .cpp.
//   unique / primary key  header, TableSchemaObjectID i32 (30313/30303), TableObjectID i32
//                         (30314/30304), IndexObjectID i32 (30318/30317); TableSchemaName, TableName,
//                         IndexName each as i32 n = L + 1 and n bytes (the name with its length byte);
//                         column count i32 (30319/30309); per column ColumnObjectID i32 (30320/30310),
//                         i32 n (30321/30311), n bytes (30322/30312)
//   lists                 fields: Count i32 (10158/10159) + definitions; indexes: Count of the
//                         permanent ones i32 (10343/10159) + those; constraints: Count i32
//                         (10158/10159) + per item its type u8 (10219/10220) and definition
//
// Booleans are stored as 0 (false) and 255 (true); any non-zero byte reads as true. Names are
// single-byte text in the engine's code page, at most 255 bytes, compared without regard to case
// through the engine's case mapping. A name of 255 bytes in a one-byte-length layout is written
// with the length byte 0 (256 wraps) and read back from that 0, so such a name survives.
// Hostile streams (negative counts, unknown types, lengths that do not match) raise ENRDException
// with the read code of the item at fault; a list keeps what it read before. Counts are not trusted
// for allocation: items are read one by one, so a count larger than the stream ends at the first
// item that is missing, with that item's read code.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/foundation/NRDCompression.h"
#include "engine/foundation/NRDTypes.h"
#include "engine/foundation/NRDVariant.h"
#include "engine/storage/NRDExpressionHook.h"

namespace nrd {

class TStream;

// The engine-wide default block size of BLOB fields.
inline constexpr std::int32_t kDefaultBLOBBlockSize = 102400;
// Names held as short strings are cut to this many bytes.
inline constexpr std::size_t kMaxShortNameLength = 255;

std::string CutShortName(std::string_view name);
// Name equality without regard to case (the engine's single-byte case mapping).
bool SameName(std::string_view a, std::string_view b);

class TNRDMetaObjectDef {
 public:
  virtual ~TNRDMetaObjectDef() = default;
  virtual void Assign(const TNRDMetaObjectDef& source);
  virtual void LoadFromStream(TStream& stream);
  virtual void SaveToStream(TStream& stream) const;
  virtual const char* ClassName() const { return "TNRDMetaObjectDef"; }

  std::string FName;          // at most 255 bytes
  std::int32_t FObjectID = -1;
  std::string FSchemaName;    // not stored
  std::int32_t FSchemaID = -1;  // not stored
};

class TNRDFieldDef : public TNRDMetaObjectDef {
 public:
  TNRDFieldDef() = default;
  void Assign(const TNRDMetaObjectDef& source) override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) const override;
  const char* ClassName() const override { return "TNRDFieldDef"; }

  // Column type and size; the storage type follows (30007 when the column type has none).
  void SetFieldDefDataType(TNRDAdvancedFieldType advancedFieldType, std::int32_t fieldSize);
  // Storage type and size; the column type follows (30008 when the storage type has none).
  void SetFieldDefDataType(TNRDBaseFieldType baseFieldType, std::int32_t fieldSize);
  // Memory size from the storage type and size; disk size 6 for the BLOB types, else the same.
  void RecalcDataSizes();
  // Frees the default expression and builds it again from the default value (see the .cpp).
  void RebuildDefaultValueExpr();
  bool IsBlob() const;
  bool IsAutoinc() const;

  TNRDBaseFieldType FBaseFieldType = bftUnknown;
  TNRDAdvancedFieldType FAdvancedFieldType = aftUnknown;
  std::int32_t FFieldSize = 0;
  std::int32_t FDiskDataSize = 0;
  std::int32_t FMemoryDataSize = 0;
  std::int32_t FDiskOffset = 0;
  std::int32_t FMemoryOffset = 0;
  std::int32_t FFieldNoReference = 0;
  TNRDVariant FDefaultValue{bftUnknown};
  std::unique_ptr<TNRDExpression> FDefaultValueExpr;
  TNRDCompressionAlgorithm FBLOBCompressionAlgorithm = acaNone;
  std::uint8_t FBLOBCompressionMode = 0;
  std::int32_t FBLOBBlockSize = kDefaultBLOBBlockSize;
  std::int64_t FAutoincIncrement = 1;
  std::int64_t FAutoincInitialValue = 0;
  std::int64_t FAutoincMinValue = 0;
  std::int64_t FAutoincMaxValue = INT64_MAX;
  bool FAutoincCycled = false;
};

class TNRDIndexColumn {
 public:
  std::string FFieldName;
  bool FDescending = false;
  bool FCaseInsensitive = false;
  std::int32_t FMaxIndexedSize = 0;  // leading characters of a text column in the key
};

enum TNRDIndexType : std::uint8_t { itBTree = 0, itAnotherOne = 1 };

class TNRDIndexDef : public TNRDMetaObjectDef {
 public:
  void Assign(const TNRDMetaObjectDef& source) override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) const override;
  const char* ClassName() const override { return "TNRDIndexDef"; }

  std::int32_t ColumnCount() const { return static_cast<std::int32_t>(FIndexColumns.size()); }
  // Growing appends empty columns; shrinking frees the surplus.
  void SetColumnCount(std::int32_t count);
  TNRDIndexColumn& GetIndexColumn(std::int32_t i) { return *FIndexColumns.at(static_cast<std::size_t>(i)); }
  const TNRDIndexColumn& GetIndexColumn(std::int32_t i) const { return *FIndexColumns.at(static_cast<std::size_t>(i)); }
  // Columns from three equal-length lists: names, "DESC" items, "NO_CASE" items (10278, 10279).
  void AssignByNames(const std::vector<std::string>& fieldNames, const std::vector<std::string>& ascDescList,
                     const std::vector<std::string>& caseSensitivityList);

  TNRDIndexType FIndexType = itBTree;
  std::vector<std::unique_ptr<TNRDIndexColumn>> FIndexColumns;
  bool FUnique = false;
  bool FPrimary = false;
  std::int32_t FRootPageNo = -1;
  bool FTemporary = false;     // not stored
  std::int32_t FSessionID = -1;
  std::int32_t FTableState = 0;
  bool FNeedRebuild = false;
};

class TNRDConstraintDef : public TNRDMetaObjectDef {
 public:
  explicit TNRDConstraintDef(TNRDConstraintType type) : FConstraintType(type) {}
  void Assign(const TNRDMetaObjectDef& source) override;
  const char* ClassName() const override { return "TNRDConstraintDef"; }
  TNRDConstraintType FConstraintType;
};

// Shared by the not-null and check kinds.
class TNRDConstraintDefColumn : public TNRDConstraintDef {
 public:
  using TNRDConstraintDef::TNRDConstraintDef;
  void Assign(const TNRDMetaObjectDef& source) override;
  void SetNames(std::string_view columnName, std::string_view tableName, std::string_view schemaName);

  std::string FTableSchemaName;
  std::int32_t FTableSchemaObjectID = -1;
  std::string FTableName;
  std::int32_t FTableObjectID = -1;
  std::string FColumnName;
  std::int32_t FColumnObjectID = -1;

 protected:
  // The write and read codes of the nine items: the three IDs, then n and bytes of each name.
  struct Codes {
    int ids[3];
    int names[3][2];
  };
  void SaveColumnPart(TStream& stream, const Codes& write) const;
  void LoadColumnPart(TStream& stream, const Codes& read);
};

class TNRDConstraintDefNotNull : public TNRDConstraintDefColumn {
 public:
  TNRDConstraintDefNotNull() : TNRDConstraintDefColumn(ctNotNull) {}
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) const override;
  const char* ClassName() const override { return "TNRDConstraintDefNotNull"; }
};

class TNRDConstraintDefCheck : public TNRDConstraintDefColumn {
 public:
  TNRDConstraintDefCheck() : TNRDConstraintDefColumn(ctCheck) {}
  void Assign(const TNRDMetaObjectDef& source) override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) const override;
  const char* ClassName() const override { return "TNRDConstraintDefCheck"; }

  TNRDVariant FMinValue{bftUnknown};  // NULL: not checked
  TNRDVariant FMaxValue{bftUnknown};
};

struct TNRDConstraintColumn {
  std::string ColumnName;
  std::int32_t ColumnObjectID = -1;
};

class TNRDConstraintDefUnique : public TNRDConstraintDef {
 public:
  TNRDConstraintDefUnique() : TNRDConstraintDef(ctUnique) {}
  void Assign(const TNRDMetaObjectDef& source) override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) const override;
  const char* ClassName() const override { return "TNRDConstraintDefUnique"; }

  std::string FTableSchemaName;
  std::int32_t FTableSchemaObjectID = -1;
  std::string FTableName;
  std::int32_t FTableObjectID = -1;
  std::string FIndexName;
  std::int32_t FIndexObjectID = -1;
  std::vector<TNRDConstraintColumn> Columns;

 protected:
  explicit TNRDConstraintDefUnique(TNRDConstraintType type) : TNRDConstraintDef(type) {}
};

class TNRDConstraintDefPrimary : public TNRDConstraintDefUnique {
 public:
  TNRDConstraintDefPrimary() : TNRDConstraintDefUnique(ctPK) {}
  const char* ClassName() const override { return "TNRDConstraintDefPrimary"; }
};

// An ordered list that owns its definitions.
class TNRDMetaObjectDefs {
 public:
  virtual ~TNRDMetaObjectDefs() = default;
  TNRDMetaObjectDefs() = default;
  TNRDMetaObjectDefs(const TNRDMetaObjectDefs&) = delete;
  TNRDMetaObjectDefs& operator=(const TNRDMetaObjectDefs&) = delete;
  virtual const char* ClassName() const { return "TNRDMetaObjectDefs"; }

  virtual std::int32_t GetCount() const { return static_cast<std::int32_t>(FDefsList.size()); }
  // Appends (the list takes ownership) and returns the position.
  virtual std::int32_t InternalAdd(std::unique_ptr<TNRDMetaObjectDef> def);
  // A new definition of the list's kind, appended. The base raises 30339.
  virtual TNRDMetaObjectDef* InternalAddCreated();
  virtual void LoadFromStream(TStream& stream);
  virtual void SaveToStream(TStream& stream) const;
  virtual void Delete(std::int32_t i);
  virtual void Insert(std::int32_t i, std::unique_ptr<TNRDMetaObjectDef> def);
  virtual void Move(std::int32_t curIndex, std::int32_t newIndex);
  virtual void Clear();

  TNRDMetaObjectDef* GetDef(std::int32_t i) const;
  void SetDef(std::int32_t i, std::unique_ptr<TNRDMetaObjectDef> def);
  std::int32_t GetDefNumberByName(std::string_view name) const;
  TNRDMetaObjectDef* GetDefByName(std::string_view name) const;
  std::int32_t GetDefNumberByObjectId(std::int32_t id) const;
  TNRDMetaObjectDef* GetDefByObjectId(std::int32_t id) const;

  std::int32_t FLoadedItemCount = 0;

 protected:
  // Clears, then copies every definition of `source` through InternalAddCreated (10424 on a
  // repeated name).
  void AssignByCreation(const TNRDMetaObjectDefs& source);

  std::vector<std::unique_ptr<TNRDMetaObjectDef>> FDefsList;
};

class TNRDFieldDefs : public TNRDMetaObjectDefs {
 public:
  const char* ClassName() const override { return "TNRDFieldDefs"; }
  TNRDMetaObjectDef* InternalAddCreated() override;
  TNRDFieldDef* AddCreated() { return static_cast<TNRDFieldDef*>(InternalAddCreated()); }
  void Assign(const TNRDFieldDefs& source) { AssignByCreation(source); }
  TNRDFieldDef* GetFieldDef(std::int32_t i) const { return static_cast<TNRDFieldDef*>(GetDef(i)); }
  TNRDFieldDef* GetFieldDefByName(std::string_view name) const { return static_cast<TNRDFieldDef*>(GetDefByName(name)); }
  TNRDFieldDef* operator[](std::int32_t i) const { return GetFieldDef(i); }

  // Record buffer layout: the null bitmap (ceil(count / 8) bytes), then the fields in order.
  void RecalcFieldOffsets();
  std::int32_t NullBitmapSize() const { return (GetCount() + 7) / 8; }
  std::int32_t GetMemoryRecordBufferSize() const;
  std::int32_t GetDiskRecordBufferSize() const;
};

class TNRDIndexDefs : public TNRDMetaObjectDefs {
 public:
  const char* ClassName() const override { return "TNRDIndexDefs"; }
  TNRDMetaObjectDef* InternalAddCreated() override;
  TNRDIndexDef* AddCreated() { return static_cast<TNRDIndexDef*>(InternalAddCreated()); }
  // Only the permanent definitions are written; the count leaves the temporary ones out.
  void SaveToStream(TStream& stream) const override;
  void LoadFromStream(TStream& stream) override;
  void Assign(const TNRDIndexDefs& source) { AssignByCreation(source); }
  TNRDIndexDef* GetIndexDef(std::int32_t i) const { return static_cast<TNRDIndexDef*>(GetDef(i)); }
  void SetIndexDef(std::int32_t i, std::unique_ptr<TNRDIndexDef> def) { SetDef(i, std::move(def)); }
  TNRDIndexDef* GetIndexDefByName(std::string_view name) const { return static_cast<TNRDIndexDef*>(GetDefByName(name)); }
  TNRDIndexDef* GetIndexDefByObjectId(std::int32_t id) const {
    return static_cast<TNRDIndexDef*>(GetDefByObjectId(id));
  }

  // The object ID of the first index that serves the key, or -1. Missing lists raise 10389-10391;
  // unequal lengths 10276/10277; a name that is no field of fieldDefs raises 30027.
  std::int32_t FindIndex(const std::vector<std::string>* fieldNames, const std::vector<std::string>* ascDescList,
                         const std::vector<std::string>* caseSensitivityList, std::int32_t sessionID,
                         const TNRDFieldDefs& fieldDefs) const;
  bool IsIndexExists(const std::vector<std::string>* fieldNames, const std::vector<std::string>* ascDescList,
                     const std::vector<std::string>* caseSensitivityList, std::int32_t sessionID,
                     const TNRDFieldDefs& fieldDefs) const {
    return FindIndex(fieldNames, ascDescList, caseSensitivityList, sessionID, fieldDefs) != -1;
  }
};

class TNRDConstraintDefs : public TNRDMetaObjectDefs {
 public:
  const char* ClassName() const override { return "TNRDConstraintDefs"; }
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) const override;
  // Clears and copies by the source's kinds (30035 for a kind without a class).
  void Assign(const TNRDConstraintDefs& source);
  TNRDConstraintDef* GetConstraintDef(std::int32_t i) const { return static_cast<TNRDConstraintDef*>(GetDef(i)); }

  TNRDConstraintDefNotNull* AddNotNull();
  TNRDConstraintDefCheck* AddCheck();
  TNRDConstraintDefPrimary* AddPK();
  TNRDConstraintDefUnique* AddUnique();
  // A new empty definition of a kind (30316 "Unknown Constraint Type: '%d'" for 1 and above 4).
  static std::unique_ptr<TNRDConstraintDef> CreateByType(std::uint8_t type);
};

}  // namespace nrd
