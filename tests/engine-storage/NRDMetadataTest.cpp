// Table metadata: golden bytes of the field, index and constraint sections (built here item by
// item from the layout tables, each item with its read code), round trips of every column type,
// streams cut at every item boundary, hostile streams, name rules, FindIndex and list copies.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/foundation/NRDConverts.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDStreams.h"
#include "engine/storage/NRDMetadata.h"
#include "engine/sql/NRDExpressions.h"
#include "tests/engine-foundation/EngineTestUtil.h"

using namespace nrd;
using enginetest::CodeOf;
using enginetest::ExpectNRD;

namespace {

// Expected stream bytes, with the offset and read code of every item.
struct Golden {
  std::vector<std::uint8_t> bytes;
  struct Item {
    std::size_t offset;
    int readCode;
  };
  std::vector<Item> items;

  Golden& Mark(int code) {
    items.push_back({bytes.size(), code});
    return *this;
  }
  Golden& U8(std::uint8_t v, int code) {
    Mark(code);
    bytes.push_back(v);
    return *this;
  }
  Golden& I32(std::int32_t v, int code) {
    Mark(code);
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i)));
    return *this;
  }
  Golden& I64(std::int64_t v, int code) {
    Mark(code);
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(v) >> (8 * i)));
    return *this;
  }
  Golden& Raw(const std::string& s, int code) {
    if (s.empty()) return *this;  // an empty piece is no item of its own
    Mark(code);
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
  }
  // A meta object header: name length, name, object ID.
  Golden& Header(const std::string& name, std::int32_t id) {
    U8(static_cast<std::uint8_t>(name.size()), 10166);
    Raw(name, 10167);
    return I32(id, 10169);
  }
  // A NULL typed value.
  Golden& NullValue(TNRDBaseFieldType t) {
    U8(t, 10183);
    return U8(0xFF, 10184);
  }
  Golden& Value(TNRDBaseFieldType t, const std::string& data) {
    U8(t, 10183);
    U8(0x00, 10184);
    I32(static_cast<std::int32_t>(data.size()), 10185);
    // A value's size is checked against the bytes left before anything is allocated, so data cut
    // short is reported as a size the stream cannot back (the size's code).
    return Raw(data, 10185);
  }
  Golden& Autoinc(std::int64_t inc, std::int64_t init, std::int64_t min, std::int64_t max, bool cycled) {
    I64(inc, 30407).I64(init, 30408).I64(min, 30409).I64(max, 30410);
    return U8(cycled ? 0xFF : 0x00, 30411);
  }
};

std::vector<std::uint8_t> Bytes(TNRDMemoryStream& s) { return std::vector<std::uint8_t>(s.Buffer(), s.Buffer() + s.Size()); }

template <typename List> std::vector<std::uint8_t> Saved(const List& list) {
  TNRDMemoryStream s;
  list.SaveToStream(s);
  return Bytes(s);
}

template <typename List> void LoadBytes(List& list, const std::vector<std::uint8_t>& bytes, std::size_t length) {
  TNRDMemoryStream s;
  if (length > 0) s.Write(bytes.data(), static_cast<std::int32_t>(length));
  s.SetPosition(0);
  list.LoadFromStream(s);
}

// Every cut inside the stream raises the read code of the item the cut falls in.
template <typename List> void ExpectCutsRaiseItemCodes(const Golden& g) {
  for (std::size_t cut = 0; cut < g.bytes.size(); ++cut) {
    int expected = 0;
    for (const auto& item : g.items)
      if (item.offset <= cut) expected = item.readCode;
    List list;
    EXPECT_EQ(CodeOf([&] { LoadBytes(list, g.bytes, cut); }), expected) << "cut at " << cut;
  }
}

// The three fields of the golden stream.
void FillFields(TNRDFieldDefs& defs) {
  TNRDFieldDef* id = defs.AddCreated();
  id->FName = "ID";
  id->FObjectID = 1;
  id->SetFieldDefDataType(aftAutoInc, 0);
  id->FAutoincIncrement = 5;
  id->FAutoincInitialValue = 10;
  id->FAutoincMinValue = 1;
  id->FAutoincMaxValue = 1000;
  id->FAutoincCycled = true;
  id->FDefaultValue.Clear(bftSignedInt32);

  TNRDFieldDef* name = defs.AddCreated();
  name->FName = "NAME";
  name->FObjectID = 2;
  name->SetFieldDefDataType(aftString, 20);
  name->FDefaultValue.SetAsAnsiString("abc");

  TNRDFieldDef* data = defs.AddCreated();
  data->FName = "DATA";
  data->FObjectID = 3;
  data->SetFieldDefDataType(aftBlob, 0);
  data->FBLOBCompressionAlgorithm = acaZLIB;
  data->FBLOBCompressionMode = 6;
  data->FBLOBBlockSize = 1048576;

  TNRDFieldDef* age = defs.AddCreated();
  age->FName = "AGE";
  age->FObjectID = 4;
  age->SetFieldDefDataType(aftSmallint, 0);
  age->FDefaultValue.SetAsSmallint(7);
}

Golden FieldsGolden() {
  Golden g;
  g.I32(4, 10159);
  g.Header("ID", 1).U8(bftSignedInt32, 10187).U8(aftAutoInc, 10188).I32(0, 10189);
  g.Autoinc(5, 10, 1, 1000, true).NullValue(bftSignedInt32);
  g.Header("NAME", 2).U8(bftVarchar, 10187).U8(aftString, 10188).I32(20, 10189);
  g.Autoinc(1, 0, 0, INT64_MAX, false).Value(bftVarchar, std::string("abc\0", 4));
  g.Header("DATA", 3).U8(bftBlob, 10187).U8(aftBlob, 10188).I32(0, 10189);
  g.U8(acaZLIB, 10192).U8(6, 10193).I32(1048576, 10194);
  g.Autoinc(1, 0, 0, INT64_MAX, false).NullValue(bftUnknown);
  g.Header("AGE", 4).U8(bftSignedInt16, 10187).U8(aftSmallint, 10188).I32(0, 10189);
  g.Autoinc(1, 0, 0, INT64_MAX, false).Value(bftSignedInt16, std::string("\x07\x00", 2));
  return g;
}

TEST(NRDMetadata, FieldSectionGoldenBytesRoundTripAndCuts) {
  TNRDFieldDefs defs;
  FillFields(defs);
  const Golden g = FieldsGolden();
  ASSERT_EQ(Saved(defs), g.bytes);

  TNRDFieldDefs loaded;
  LoadBytes(loaded, g.bytes, g.bytes.size());
  ASSERT_EQ(loaded.GetCount(), 4);
  EXPECT_EQ(loaded.FLoadedItemCount, 4);
  EXPECT_EQ(Saved(loaded), g.bytes);
  const TNRDFieldDef* id = loaded.GetFieldDefByName("id");
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(id->FAutoincIncrement, 5);
  EXPECT_TRUE(id->FAutoincCycled);
  EXPECT_EQ(id->FMemoryDataSize, 4);
  const TNRDFieldDef* name = loaded.GetFieldDef(1);
  EXPECT_EQ(name->FDefaultValue.AsAnsiString(), "abc");
  EXPECT_EQ(name->FMemoryDataSize, 21);  // recomputed, never stored
  const TNRDFieldDef* data = loaded.GetFieldDef(2);
  EXPECT_EQ(data->FBLOBCompressionAlgorithm, acaZLIB);
  EXPECT_EQ(data->FBLOBBlockSize, 1048576);
  EXPECT_EQ(data->FMemoryDataSize, 10);
  EXPECT_EQ(data->FDiskDataSize, 6);
  // A field that is no BLOB carries no BLOB settings: its block size stays the default.
  EXPECT_EQ(loaded.GetFieldDef(3)->FBLOBBlockSize, kDefaultBLOBBlockSize);

  ExpectCutsRaiseItemCodes<TNRDFieldDefs>(g);
}

TEST(NRDMetadata, EveryColumnTypeRoundTripsWithItsDefault) {
  TNRDFieldDefs defs;
  int n = 0;
  for (int t = aftChar; t < kAdvancedFieldTypeCount; ++t) {
    const auto aft = static_cast<TNRDAdvancedFieldType>(t);
    if (AdvancedToBaseFieldType(aft) == bftUnknown) continue;
    TNRDFieldDef* f = defs.AddCreated();
    f->FName = "F" + std::to_string(t);
    f->FObjectID = 100 + t;
    f->SetFieldDefDataType(aft, 12);
    const TNRDBaseFieldType bft = f->FBaseFieldType;
    if (bft != bftBlob && bft != bftClob && bft != bftWideClob && bft != bftBytes && bft != bftVarBytes) {
      f->FDefaultValue.Clear(bft);
      const char16_t* text = bft == bftLogical    ? u"1"
                             : bft == bftDate     ? u"05.03.2024"
                             : bft == bftTime     ? u"07:30:00"
                             : bft == bftDateTime ? u"05.03.2024 07:30:00"
                                                  : u"7";
      f->FDefaultValue.SetAsWideString(text);
    }
    f->FAutoincMaxValue = t;
    ++n;
  }
  ASSERT_GT(n, 30);
  defs.RecalcFieldOffsets();
  const auto bytes = Saved(defs);
  TNRDFieldDefs loaded;
  LoadBytes(loaded, bytes, bytes.size());
  ASSERT_EQ(loaded.GetCount(), defs.GetCount());
  loaded.RecalcFieldOffsets();
  for (std::int32_t i = 0; i < defs.GetCount(); ++i) {
    const TNRDFieldDef* a = defs.GetFieldDef(i);
    const TNRDFieldDef* b = loaded.GetFieldDef(i);
    SCOPED_TRACE(a->FName);
    EXPECT_EQ(a->FName, b->FName);
    EXPECT_EQ(a->FObjectID, b->FObjectID);
    EXPECT_EQ(a->FBaseFieldType, b->FBaseFieldType);
    EXPECT_EQ(a->FAdvancedFieldType, b->FAdvancedFieldType);
    EXPECT_EQ(a->FFieldSize, b->FFieldSize);
    EXPECT_EQ(a->FMemoryDataSize, b->FMemoryDataSize);
    EXPECT_EQ(a->FDiskDataSize, b->FDiskDataSize);
    EXPECT_EQ(a->FMemoryOffset, b->FMemoryOffset);
    EXPECT_EQ(a->FAutoincMaxValue, b->FAutoincMaxValue);
    EXPECT_EQ(a->FDefaultValue.IsNull(), b->FDefaultValue.IsNull());
    if (!a->FDefaultValue.IsNull()) {
      EXPECT_EQ(b->FDefaultValue.DataType(), a->FBaseFieldType);
      EXPECT_EQ(a->FDefaultValue.Compare(b->FDefaultValue, false, false, false), cmprEqual);
    }
  }
}

TEST(NRDMetadata, IndexSectionLeavesTemporaryIndexesOut) {
  TNRDIndexDefs defs;
  TNRDIndexDef* pk = defs.AddCreated();
  pk->FName = "PK";
  pk->FObjectID = 11;
  pk->FPrimary = true;
  pk->FUnique = true;
  pk->FRootPageNo = 42;
  pk->AssignByNames({"ID"}, {"ASC"}, {"CASE"});
  TNRDIndexDef* temp = defs.AddCreated();
  temp->FName = "TEMPORARY_INDEX_X";
  temp->FObjectID = 12;
  temp->FTemporary = true;
  temp->AssignByNames({"NAME"}, {""}, {""});
  TNRDIndexDef* byName = defs.AddCreated();
  byName->FName = "BY_NAME";
  byName->FObjectID = 13;
  byName->AssignByNames({"NAME", "AGE"}, {"ASC", "DESC"}, {"NO_CASE", ""});

  Golden g;
  g.I32(2, 10159);
  g.Header("PK", 11).U8(itBTree, 10349).U8(0xFF, 10350).U8(0xFF, 10351).I32(1, 10352).I32(42, 10353);
  g.U8(2, 10358).Raw("ID", 10359).U8(0, 10360).U8(0, 10361).I32(20, 20168);
  g.Header("BY_NAME", 13).U8(itBTree, 10349).U8(0, 10350).U8(0, 10351).I32(2, 10352).I32(-1, 10353);
  g.U8(4, 10358).Raw("NAME", 10359).U8(0, 10360).U8(0xFF, 10361).I32(20, 20168);
  g.U8(3, 10358).Raw("AGE", 10359).U8(0xFF, 10360).U8(0, 10361).I32(20, 20168);
  ASSERT_EQ(Saved(defs), g.bytes);

  TNRDIndexDefs loaded;
  LoadBytes(loaded, g.bytes, g.bytes.size());
  ASSERT_EQ(loaded.GetCount(), 2);
  EXPECT_EQ(loaded.GetIndexDef(0)->FRootPageNo, 42);
  EXPECT_TRUE(loaded.GetIndexDef(0)->FPrimary);
  EXPECT_EQ(loaded.GetIndexDef(1)->ColumnCount(), 2);
  EXPECT_TRUE(loaded.GetIndexDef(1)->GetIndexColumn(1).FDescending);
  EXPECT_TRUE(loaded.GetIndexDef(1)->GetIndexColumn(0).FCaseInsensitive);
  EXPECT_FALSE(loaded.GetIndexDef(1)->FTemporary);
  ExpectCutsRaiseItemCodes<TNRDIndexDefs>(g);
}

// One constraint of each kind, each with its own name layout.
void FillConstraints(TNRDConstraintDefs& defs, const std::string& longColumn) {
  TNRDConstraintDefPrimary* pk = defs.AddPK();
  pk->FName = "C_PK$ID";
  pk->FObjectID = 21;
  pk->FTableSchemaObjectID = -1;
  pk->FTableName = "T";
  pk->FTableObjectID = 5;
  pk->FIndexName = "PK";
  pk->FIndexObjectID = 11;
  pk->Columns = {{"ID", 1}};
  TNRDConstraintDefUnique* u = defs.AddUnique();
  u->FName = "C_Unique$NAME$AGE";
  u->FObjectID = 22;
  u->FTableName = "T";
  u->FIndexName = "BY_NAME";
  u->FIndexObjectID = 13;
  u->Columns = {{"NAME", 2}, {"AGE", 4}};
  TNRDConstraintDefNotNull* nn = defs.AddNotNull();
  nn->FName = "NN";
  nn->FObjectID = 23;
  nn->SetNames(longColumn, "T", "S");
  nn->FColumnObjectID = 2;
  TNRDConstraintDefCheck* ck = defs.AddCheck();
  ck->FObjectID = 24;
  ck->SetNames("AGE", "T", "");
  ck->FColumnObjectID = 4;
  ck->FMinValue.SetAsInteger(1);
  ck->FMaxValue.SetAsInteger(10);
}

Golden ConstraintsGolden(const std::string& longColumn) {
  auto shortString = [](const std::string& s) { return std::string(1, static_cast<char>(s.size())) + s; };
  Golden g;
  g.I32(4, 10159);
  // Primary key: i32-counted names.
  g.U8(ctPK, 10220).Header("C_PK$ID", 21).I32(-1, 30303).I32(5, 30304).I32(11, 30317);
  g.I32(1, 30305).Raw(shortString(""), 30306);
  g.I32(2, 30307).Raw(shortString("T"), 30308);
  g.I32(3, 30321).Raw(shortString("PK"), 30322);
  g.I32(1, 30309).I32(1, 30310).I32(3, 30311).Raw(shortString("ID"), 30312);
  // Unique.
  g.U8(ctUnique, 10220).Header("C_Unique$NAME$AGE", 22).I32(-1, 30303).I32(-1, 30304).I32(13, 30317);
  g.I32(1, 30305).Raw(shortString(""), 30306);
  g.I32(2, 30307).Raw(shortString("T"), 30308);
  g.I32(8, 30321).Raw(shortString("BY_NAME"), 30322);
  g.I32(2, 30309).I32(2, 30310).I32(5, 30311).Raw(shortString("NAME"), 30312);
  g.I32(4, 30310).I32(4, 30311).Raw(shortString("AGE"), 30312);
  // Not null: byte-counted names; a 255-byte name is counted as 0 (256 in one byte).
  g.U8(ctNotNull, 10220).Header("NN", 23).I32(-1, 10249).I32(-1, 10250).I32(2, 10251);
  g.U8(1, 10252).Raw(shortString(""), 10253);
  g.U8(2, 10254).Raw(shortString("T"), 10255);
  g.U8(static_cast<std::uint8_t>((longColumn.size() + 1) & 0xFF), 10256).Raw(shortString(longColumn), 10257);
  // Check: the same layout with its own codes, then the two bounds.
  g.U8(ctCheck, 10220).Header("", 24).I32(-1, 10230).I32(-1, 10231).I32(4, 10232);
  g.U8(1, 10233).Raw(shortString(""), 10234);
  g.U8(2, 10235).Raw(shortString("T"), 10236);
  g.U8(4, 10237).Raw(shortString("AGE"), 10238);
  g.Value(bftSignedInt32, std::string("\x01\0\0\0", 4)).Value(bftSignedInt32, std::string("\x0A\0\0\0", 4));
  return g;
}

TEST(NRDMetadata, ConstraintSectionGoldenBytesRoundTripAndCuts) {
  for (std::size_t length : {std::size_t(4), std::size_t(254), std::size_t(255)}) {
    SCOPED_TRACE(length);
    const std::string longColumn(length, 'C');
    TNRDConstraintDefs defs;
    FillConstraints(defs, longColumn);
    const Golden g = ConstraintsGolden(longColumn);
    ASSERT_EQ(Saved(defs), g.bytes);
    TNRDConstraintDefs loaded;
    LoadBytes(loaded, g.bytes, g.bytes.size());
    ASSERT_EQ(loaded.GetCount(), 4);
    EXPECT_EQ(Saved(loaded), g.bytes);
    EXPECT_EQ(static_cast<TNRDConstraintDefColumn*>(loaded.GetConstraintDef(2))->FColumnName, longColumn);
    const auto* u = static_cast<TNRDConstraintDefUnique*>(loaded.GetConstraintDef(1));
    ASSERT_EQ(u->Columns.size(), 2u);
    EXPECT_EQ(u->Columns[1].ColumnName, "AGE");
    EXPECT_EQ(u->Columns[1].ColumnObjectID, 4);
    EXPECT_EQ(loaded.GetConstraintDef(0)->FConstraintType, ctPK);
    EXPECT_EQ(static_cast<TNRDConstraintDefCheck*>(loaded.GetConstraintDef(3))->FMaxValue.AsInteger(), 10);
    if (length == 4) ExpectCutsRaiseItemCodes<TNRDConstraintDefs>(g);
  }
}

TEST(NRDMetadata, HostileStreamsRaiseTheirItemsCodes) {
  // A foreign-key (or unknown) constraint type byte.
  for (std::uint8_t type : {std::uint8_t(1), std::uint8_t(5), std::uint8_t(200)}) {
    Golden g;
    g.I32(1, 10159).U8(type, 10220);
    TNRDConstraintDefs defs;
    ExpectNRD([&] { LoadBytes(defs, g.bytes, g.bytes.size()); }, 30316, "Unknown Constraint Type");
  }
  struct Case {
    const char* what;
    Golden g;
    int code;
    bool constraints = false;
  };
  std::vector<Case> cases;
  {
    Golden g;
    g.I32(-1, 10159);
    cases.push_back({"negative field count", g, 10159});
  }
  {
    Golden g;
    g.I32(1, 10159).Header("A", 1).U8(99, 10187);
    g.U8(0, 10188).I32(0, 10189);
    cases.push_back({"unknown storage type", g, 30050});
  }
  {
    Golden g;
    g.I32(1, 10159).Header("A", 1).U8(bftVarchar, 10187).U8(aftString, 10188).I32(-7, 10189);
    cases.push_back({"negative field size", g, 10189});
  }
  {
    Golden g;
    g.I32(2000000000, 10159).Header("A", 1);
    cases.push_back({"count beyond the stream", g, 10187});
  }
  {
    Golden g;
    g.I32(1, 10159).U8(ctNotNull, 10220).Header("N", 1).I32(0, 0).I32(0, 0).I32(0, 0).U8(5, 0).Raw("\x02xy!!", 0);
    cases.push_back({"short string whose length byte disagrees", g, 10253, true});
  }
  {
    Golden g;
    g.I32(1, 10159).U8(ctUnique, 10220).Header("U", 1).I32(0, 0).I32(0, 0).I32(0, 0).I32(100000, 0);
    cases.push_back({"i32 name count beyond a short string", g, 30305, true});
  }
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.constraints) {
      TNRDConstraintDefs defs;
      EXPECT_EQ(CodeOf([&] { LoadBytes(defs, c.g.bytes, c.g.bytes.size()); }), c.code);
    } else {
      TNRDFieldDefs defs;
      EXPECT_EQ(CodeOf([&] { LoadBytes(defs, c.g.bytes, c.g.bytes.size()); }), c.code);
    }
  }
}

TEST(NRDMetadata, NamesCompareWithoutCaseAndListsRefuseDuplicates) {
  TNRDFieldDefs defs;
  defs.AddCreated()->FName = "NAME";
  defs.AddCreated()->FName = "\xC8\xEC\xFF";  // "Имя" in Windows-1251
  EXPECT_EQ(defs.GetDefNumberByName("name"), 0);
  EXPECT_EQ(defs.GetDefNumberByName("\xE8\xCC\xDF"), 1);  // "иМЯ"
  EXPECT_EQ(defs.GetDefNumberByName("NAM"), -1);
  defs.GetFieldDef(1)->FObjectID = 77;
  EXPECT_EQ(defs.GetDefByObjectId(77), defs.GetDef(1));
  EXPECT_EQ(defs.GetDefNumberByObjectId(78), -1);

  TNRDFieldDefs twice;
  twice.AddCreated()->FName = "A";
  twice.AddCreated()->FName = "a";
  TNRDFieldDefs copy;
  ExpectNRD([&] { copy.Assign(twice); }, 10424, "Duplicate field name a");
  EXPECT_EQ(copy.GetCount(), 1);

  TNRDMetaObjectDefs base;
  ExpectNRD([&] { base.InternalAddCreated(); }, 30339, "InternalAddCreated");

  // Unsupported types.
  TNRDFieldDef f;
  ExpectNRD([&] { f.SetFieldDefDataType(aftUnknown, 0); }, 30007);
  ExpectNRD([&] { f.SetFieldDefDataType(bftBFile, 0); }, 30008);
  // Moves, inserts, deletes keep ownership straight.
  defs.Insert(0, std::make_unique<TNRDFieldDef>());
  defs.GetDef(0)->FName = "FIRST";
  defs.Move(0, 2);
  EXPECT_EQ(defs.GetDef(2)->FName, "FIRST");
  defs.Delete(2);
  EXPECT_EQ(defs.GetCount(), 2);
  defs.Clear();
  EXPECT_EQ(defs.GetCount(), 0);
}

TEST(NRDMetadata, FindIndexRules) {
  TNRDFieldDefs fields;
  auto addField = [&](const char* name, TNRDAdvancedFieldType t) {
    TNRDFieldDef* f = fields.AddCreated();
    f->FName = name;
    f->SetFieldDefDataType(t, 10);
  };
  addField("A", aftString);
  addField("B", aftInteger);
  TNRDIndexDefs defs;
  auto addIndex = [&](std::int32_t id, std::vector<std::string> names, std::vector<std::string> dirs,
                      std::vector<std::string> cases, bool temporary = false, std::int32_t session = -1) {
    TNRDIndexDef* d = defs.AddCreated();
    d->FObjectID = id;
    d->FName = "I" + std::to_string(id);
    d->AssignByNames(names, dirs, cases);
    d->FTemporary = temporary;
    d->FSessionID = session;
  };
  addIndex(1, {"A", "B"}, {"ASC", "ASC"}, {"", ""});
  addIndex(2, {"B"}, {"DESC"}, {""});
  addIndex(3, {"B"}, {"ASC"}, {"NO_CASE"}, true, 7);
  addIndex(4, {"A"}, {"ASC"}, {"NO_CASE"});
  addField("\xC8\xCC\xDF", aftInteger);                  // "ИМЯ" in Windows-1251
  addIndex(5, {"\xE8\xEC\xFF"}, {""}, {""});               // "имя"
  struct Case {
    std::vector<std::string> names, dirs, cases;
    std::int32_t session;
    std::int32_t expected;
  } table[] = {
      {{"A"}, {""}, {""}, 0, 1},                  // a longer index serves as a prefix
      {{"a", "b"}, {"ASC", ""}, {"", ""}, 0, 1},  // names in any letter case
      {{"B"}, {"ASC"}, {""}, 0, -1},              // 2 is descending, 3 belongs to session 7
      {{"B"}, {"ASC"}, {""}, 7, 3},
      {{"B"}, {""}, {""}, 0, 2},                  // no direction asked: either
      {{"B"}, {""}, {"NO_CASE"}, 0, -1},          // NO_CASE needs a case-insensitive column even on integers
      {{"B"}, {""}, {"CASE"}, 7, 2},              // CASE on an integer field accepts either
      {{"A"}, {""}, {"CASE"}, 0, 1},
      {{"A"}, {""}, {"NO_CASE"}, 0, 4},
      {{"A", "B", "A"}, {"", "", ""}, {"", "", ""}, 0, -1},
      {{"\xC8\xEC\xFF"}, {""}, {"CASE"}, 0, 5},  // "Имя": names compare through the code page's case
  };
  for (const Case& c : table) {
    SCOPED_TRACE(testing::Message() << c.names.size() << " " << c.names[0] << " " << c.dirs[0] << " " << c.cases[0]);
    EXPECT_EQ(defs.FindIndex(&c.names, &c.dirs, &c.cases, c.session, fields), c.expected);
    EXPECT_EQ(defs.IsIndexExists(&c.names, &c.dirs, &c.cases, c.session, fields), c.expected != -1);
  }
  const std::vector<std::string> one = {"A"}, two = {"A", "B"};
  EXPECT_EQ(CodeOf([&] { defs.FindIndex(nullptr, &one, &one, 0, fields); }), 10389);
  EXPECT_EQ(CodeOf([&] { defs.FindIndex(&one, nullptr, &one, 0, fields); }), 10390);
  EXPECT_EQ(CodeOf([&] { defs.FindIndex(&one, &one, nullptr, 0, fields); }), 10391);
  EXPECT_EQ(CodeOf([&] { defs.FindIndex(&one, &two, &one, 0, fields); }), 10276);
  EXPECT_EQ(CodeOf([&] { defs.FindIndex(&one, &one, &two, 0, fields); }), 10277);
  TNRDIndexDef d;
  EXPECT_EQ(CodeOf([&] { d.AssignByNames(one, two, one); }), 10278);
  EXPECT_EQ(CodeOf([&] { d.AssignByNames(one, one, two); }), 10279);
}

// A default text is an expression when the expression layer parses it, it names no field, and its
// value is not the text itself; an expression that fails to evaluate is a literal.
TEST(NRDMetadata, DefaultExpressionsComeFromTheExpressionLayer) {
  sql::InstallExpressionHooks();
  struct Case {
    const char* text;
    bool expression;
  } table[] = {{"NOW", true}, {"plain", false}, {"12", false}, {"1 / 0", false}, {"'open", false}};
  for (const Case& c : table) {
    TNRDFieldDef f;
    f.SetFieldDefDataType(aftString, 10);
    f.FDefaultValue.SetAsAnsiString(c.text);
    TNRDFieldDef copy;
    copy.Assign(f);
    EXPECT_EQ(copy.FDefaultValueExpr != nullptr, c.expression) << c.text;
    // Loading rebuilds it too.
    TNRDFieldDefs list;
    list.AddCreated()->Assign(f);
    const auto bytes = Saved(list);
    TNRDFieldDefs loaded;
    LoadBytes(loaded, bytes, bytes.size());
    EXPECT_EQ(loaded.GetFieldDef(0)->FDefaultValueExpr != nullptr, c.expression) << c.text;
  }
  sql::RemoveExpressionHooks();
  TNRDFieldDef f;
  f.SetFieldDefDataType(aftString, 10);
  f.FDefaultValue.SetAsAnsiString("NOW");
  TNRDFieldDef copy;
  copy.Assign(f);
  EXPECT_EQ(copy.FDefaultValueExpr, nullptr);
}

TEST(NRDMetadata, IndexColumnCountAndAssignCopyEverything) {
  TNRDIndexDef d;
  d.SetColumnCount(3);
  EXPECT_EQ(d.ColumnCount(), 3);
  d.GetIndexColumn(2).FFieldName = "Z";
  d.SetColumnCount(1);
  EXPECT_EQ(d.ColumnCount(), 1);
  d.AssignByNames({"A", "B"}, {"DESC", "desc"}, {"NO_CASE", "no_case"});
  EXPECT_TRUE(d.GetIndexColumn(0).FDescending);
  EXPECT_FALSE(d.GetIndexColumn(1).FDescending);  // compared with case
  EXPECT_TRUE(d.GetIndexColumn(0).FCaseInsensitive);
  EXPECT_FALSE(d.GetIndexColumn(1).FCaseInsensitive);
  d.FTemporary = true;
  d.FSessionID = 3;
  d.FTableState = 9;
  d.FNeedRebuild = true;
  d.FRootPageNo = 17;
  TNRDIndexDef c;
  c.Assign(d);
  EXPECT_EQ(c.ColumnCount(), 2);
  EXPECT_EQ(c.GetIndexColumn(1).FFieldName, "B");
  EXPECT_EQ(c.GetIndexColumn(0).FMaxIndexedSize, 20);
  EXPECT_TRUE(c.FTemporary);
  EXPECT_EQ(c.FSessionID, 3);
  EXPECT_EQ(c.FTableState, 9);
  EXPECT_TRUE(c.FNeedRebuild);
  EXPECT_EQ(c.FRootPageNo, 17);

  TNRDConstraintDefs cons;
  FillConstraints(cons, "COL");
  TNRDConstraintDefs copy;
  copy.Assign(cons);
  EXPECT_EQ(Saved(copy), Saved(cons));
  cons.InternalAdd(std::make_unique<TNRDConstraintDef>(ctFK));
  ExpectNRD([&] { copy.Assign(cons); }, 30035);
}

}  // namespace
