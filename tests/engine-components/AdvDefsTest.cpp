// Extended definitions and the conversions between the three forms of a table description.
#include <gtest/gtest.h>

#include "engine/components/NRDAdvDefs.h"
#include "engine/foundation/NRDExcept.h"

using namespace nrd;

namespace {

TFieldDefs ThreeFields() {
  TFieldDefs f;
  f.Add("id", ftInteger);
  f.Add("name", ftString, 30);
  f.Add("b", ftDate);
  return f;
}

int CodeOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const ENRDException& e) {
    return e.NativeError;
  }
  return 0;
}

}  // namespace

TEST(AdvDefs, ConstraintsDerivedFromIndexes) {
  const TFieldDefs fields = ThreeFields();
  TNRDIndexDefs indexes;
  MakeEngineIndexDef("pk", "id;name", ixPrimary, false, "", "", "", fields, *indexes.AddCreated());
  MakeEngineIndexDef("u", "name", ixUnique, false, "", "", "", fields, *indexes.AddCreated());
  MakeEngineIndexDef("plain", "b", 0, false, "", "", "", fields, *indexes.AddCreated());
  TNRDAdvFieldDefs adv;
  adv.Add("id", aftInteger, 0, true);
  adv.Add("name", aftString, 30, false).FMinValue.SetAsAnsiString("A");
  adv.Add("b", aftDate, 0, false);
  TNRDFieldDefs engineFields;
  TNRDConstraintDefs constraints;
  AdvFieldDefsToEngineDefs(adv, indexes, false, engineFields, constraints);
  ASSERT_EQ(constraints.GetCount(), 4);
  EXPECT_EQ(constraints.GetConstraintDef(0)->FConstraintType, ctNotNull);
  EXPECT_EQ(constraints.GetConstraintDef(1)->FConstraintType, ctCheck);
  EXPECT_EQ(constraints.GetConstraintDef(2)->FName, "C_PK$id$name");
  EXPECT_EQ(constraints.GetConstraintDef(3)->FName, "C_Unique$name");
  EXPECT_EQ(static_cast<TNRDConstraintDefUnique*>(constraints.GetConstraintDef(2))->FIndexName, "pk");
  EXPECT_EQ(engineFields.GetFieldDef(2)->FBLOBBlockSize, kDefaultBLOBBlockSize);

  // Temporary tables get no NOT NULL or CHECK constraints.
  TNRDIndexDefs none;
  AdvFieldDefsToEngineDefs(adv, none, true, engineFields, constraints);
  EXPECT_EQ(constraints.GetCount(), 0);
}

TEST(AdvDefs, MakeEngineIndexDefColumns) {
  const TFieldDefs fields = ThreeFields();
  TNRDIndexDef d;
  MakeEngineIndexDef("i", "id, name;b", ixDescending, false, "", "", "10;;5", fields, d);
  ASSERT_EQ(d.ColumnCount(), 3);  // a comma separates like ';'
  EXPECT_TRUE(d.GetIndexColumn(0).FDescending && d.GetIndexColumn(1).FDescending && d.GetIndexColumn(2).FDescending);
  EXPECT_EQ(d.GetIndexColumn(0).FMaxIndexedSize, 10);
  EXPECT_EQ(d.GetIndexColumn(1).FMaxIndexedSize, 20);
  EXPECT_EQ(d.GetIndexColumn(2).FMaxIndexedSize, 5);
  MakeEngineIndexDef("i", "id;b", ixDescending | ixCaseInsensitive, false, "B", "id", "", fields, d);
  EXPECT_FALSE(d.GetIndexColumn(0).FDescending);
  EXPECT_TRUE(d.GetIndexColumn(1).FDescending);
  EXPECT_TRUE(d.GetIndexColumn(0).FCaseInsensitive);
  EXPECT_FALSE(d.GetIndexColumn(1).FCaseInsensitive);

  EXPECT_EQ(CodeOf([&] { MakeEngineIndexDef("", "id", 0, false, "", "", "", fields, d); }), 20048);
  EXPECT_EQ(CodeOf([&] { MakeEngineIndexDef("i", "", 0, false, "", "", "", fields, d); }), 20049);
  EXPECT_EQ(CodeOf([&] { MakeEngineIndexDef("i", "id;x", 0, false, "", "", "", fields, d); }), 20050);

  // Back to the extended and the data-set forms.
  MakeEngineIndexDef("i", "id;name", ixUnique | ixPrimary, true, "name", "", "", fields, d);
  TNRDAdvIndexDef a;
  EngineIndexDefToAdvIndexDef(d, a);
  EXPECT_EQ(a.FFields, "id;name");
  EXPECT_EQ(a.FDescFields, "name");
  EXPECT_EQ(a.FCaseInsFields, "");
  EXPECT_EQ(a.FMaxIndexedSizes, "20;20");
  EXPECT_EQ(a.FOptions, ixUnique | ixPrimary);
  EXPECT_TRUE(a.FTemporary);
  TNRDAdvIndexDefs advs;
  advs.Add("all", "a;b", 0, false, " A;B ", "", "");
  advs.Add("TEMPORARY_INDEX_x", "a", 0);
  advs.Add("t", "a", 0, true);
  TIndexDefs out;
  AdvIndexDefsToIndexDefs(advs, out);
  EXPECT_EQ(out[0].Options, ixDescending);
  TNRDAdvIndexDefs kept;
  kept.Assign(advs, true);
  EXPECT_EQ(kept.Count(), 1);
  EXPECT_EQ(CodeOf([&] { advs.DeleteIndexDef("nope"); }), 20190);
  advs.DeleteIndexDef("ALL");
  EXPECT_EQ(advs.Count(), 2);
}

TEST(AdvDefs, EngineDefinitionsBackToExtendedAndDataSetForms) {
  TNRDFieldDefs all;
  const std::pair<const char*, TNRDAdvancedFieldType> cols[] = {
      {"id", aftAutoInc}, {"name", aftString}, {"hidden", aftInteger}, {"g", aftGuid}};
  for (const auto& [name, type] : cols) {
    TNRDFieldDef* d = all.AddCreated();
    d->FName = name;
    d->FObjectID = all.GetCount() * 10;
    d->SetFieldDefDataType(type, type == aftString ? 40 : (type == aftGuid ? 38 : 0));
  }
  TNRDFieldDefs visible;
  for (int i : {0, 1, 3}) {
    TNRDFieldDef* v = visible.AddCreated();
    v->Assign(*all.GetFieldDef(i));
    v->FFieldNoReference = i;
  }
  TNRDConstraintDefs constraints;
  for (int objectId : {10, 20, 30}) constraints.AddNotNull()->FColumnObjectID = objectId;
  TNRDConstraintDefCheck* check = constraints.AddCheck();
  check->FColumnObjectID = 20;
  check->FMaxValue.SetAsAnsiString("Z");
  constraints.AddPK();

  TNRDAdvFieldDefs adv;
  EngineDefsToAdvFieldDefs(visible, all, constraints, adv);
  ASSERT_EQ(adv.Count(), 3);
  EXPECT_TRUE(adv.GetDef(0).FRequired);
  EXPECT_TRUE(adv.GetDef(1).FRequired);
  EXPECT_EQ(adv.GetDef(1).FMaxValue.AsAnsiString(), "Z");
  EXPECT_EQ(adv.GetDef(2).FSize, 0);  // a GUID has no size
  EXPECT_FALSE(adv.GetDef(2).FRequired);

  TFieldDefs fd;
  EngineFieldDefsToFieldDefs(visible, constraints, fd);
  EXPECT_EQ(fd[0].DataType, ftAutoInc);
  EXPECT_FALSE(fd[0].Required);  // an autoincrement never shows Required
  EXPECT_TRUE(fd[1].Required);
  EXPECT_EQ(fd[1].Size, 40);

  constraints.AddNotNull()->FColumnObjectID = 99;
  EXPECT_EQ(CodeOf([&] { EngineDefsToAdvFieldDefs(visible, all, constraints, adv); }), 30032);
  EXPECT_EQ(CodeOf([&] { adv.DeleteFieldDef("nope"); }), 30349);
  EXPECT_EQ(CompressionAlgorithmFromByte(2), caBZIP);
  EXPECT_EQ(CompressionAlgorithmFromByte(9), caNone);
}
