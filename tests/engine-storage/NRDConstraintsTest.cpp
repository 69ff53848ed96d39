// Constraint manager: enforcement of not-null, check (min/max), primary key and unique with a fake
// record manager and stub indexes; linking, automatic names, constraints that follow indexes.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/foundation/NRDExcept.h"
#include "tests/engine-foundation/EngineTestUtil.h"
#include "tests/engine-storage/StorageFakes.h"
#include "tests/engine-storage/TestCursor.h"

using namespace nrd;
using enginetest::CodeOf;
using enginetest::ExpectNRD;
using namespace storagetest;

namespace {

// Table T (A Integer, B Integer, C Varchar(8)) with a unique index on (A, B) named UX and a
// primary index on A named PK.
struct Fixture {
  Fixture() : table(new FakeTable(&db)) {
    table->FIndexManager.reset();
    TNRDFieldDefs fields;
    DefineFields(fields, {{"A", aftInteger, 0}, {"B", aftInteger, 0}, {"C", aftString, 8}});
    table->InitFieldManager(fields);
    table->IndexManager().FIndexCreator = StubCreator(journal);
    TNRDIndexDefs indexes;
    TNRDIndexDef* pk = indexes.AddCreated();
    pk->FName = "PK";
    pk->FPrimary = pk->FUnique = true;
    pk->AssignByNames({"A"}, {""}, {""});
    TNRDIndexDef* ux = indexes.AddCreated();
    ux->FName = "UX";
    ux->FUnique = true;
    ux->AssignByNames({"A", "B"}, {"", ""}, {"", ""});
    table->InitIndexManager(indexes);
    rec = std::make_unique<RecordBuffer>(table->GetRecordBufferSize());
  }
  void Set(int field, std::optional<std::int32_t> v) {
    SetFieldNull(rec->data(), field, !v);
    if (v) std::memcpy(rec->data() + table->FieldManager().FFieldDefs.GetFieldDef(field)->FMemoryOffset, &*v, 4);
  }
  int Check(bool raise = true, bool unique = true) {
    return CodeOf([&] {
      result = table->ConstraintManager().CheckConstraints(0, rec->data(), rec->data(), true, TNRDPageItemID{}, raise,
                                                           unique);
    });
  }
  FakeDatabase db;
  IndexJournal journal;
  FakeTable* table;  // owned by db
  std::unique_ptr<RecordBuffer> rec;
  bool result = false;
};

TEST(NRDConstraints, EachKindIsEnforcedAndTheFirstViolationWins) {
  Fixture f;
  TNRDConstraintDefs defs;
  defs.AddNotNull()->SetNames("B", "", "");
  TNRDConstraintDefCheck* check = defs.AddCheck();
  check->FName = "RANGE";
  check->SetNames("A", "", "");
  check->FMinValue.SetAsInteger(1);
  check->FMaxValue.SetAsInteger(10);
  TNRDConstraintDefUnique* u = defs.AddUnique();
  u->FName = "U";
  u->FIndexName = "ux";
  u->Columns = {{"A", -1}, {"B", -1}};
  TNRDConstraintDefPrimary* pk = defs.AddPK();
  pk->FName = "P";
  pk->FIndexName = "PK";
  pk->Columns = {{"A", -1}, {"B", -1}};
  f.table->InitConstraintManager(defs);
  const TNRDConstraintDefs& linked = f.table->ConstraintManager().FConstraintDefs;
  EXPECT_EQ(linked.GetDef(0)->FName, "$C_NotNull$T$B");  // unnamed: an automatic name
  EXPECT_EQ(static_cast<const TNRDConstraintDefUnique*>(linked.GetDef(2))->FIndexObjectID,
            f.table->IndexManager().FIndexDefs.GetIndexDef(1)->FObjectID);
  EXPECT_EQ(static_cast<const TNRDConstraintDefColumn*>(linked.GetDef(1))->FColumnObjectID,
            f.table->FieldManager().FFieldDefs.GetFieldDef(0)->FObjectID);

  struct Case {
    const char* what;
    std::optional<std::int32_t> a, b;
    std::int64_t records;
    bool canInsert;
    int code;
  } table[] = {
      {"all well", 5, 6, 3, true, 0},
      {"B null and A too small: not-null comes first", 0, std::nullopt, 3, true, 30026},
      {"minimum is inclusive", 1, 6, 3, true, 0},
      {"maximum is inclusive", 10, 6, 3, true, 0},
      {"below the minimum", 0, 6, 3, true, 30029},
      {"above the maximum", 11, 6, 3, true, 30030},
      {"NULL passes the check", std::nullopt, 6, 3, true, 0},
      {"duplicate key", 5, 6, 3, false, 30320},
      {"an empty table has no duplicates", 5, 6, 0, false, 0},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.what);
    f.Set(0, c.a);
    f.Set(1, c.b);
    f.Set(2, std::nullopt);
    f.table->Records().FRecordCount = c.records;
    f.journal.canInsert = c.canInsert;
    EXPECT_EQ(f.Check(), c.code);
    // Without raising, a violation is a false result.
    EXPECT_EQ(f.Check(false), 0);
    EXPECT_EQ(f.result, c.code == 0);
  }
  // Unique and primary keys are skipped without CheckUniqueIndexes.
  f.Set(0, 5);
  f.Set(1, 6);
  f.table->Records().FRecordCount = 3;
  f.journal.canInsert = false;
  EXPECT_EQ(f.Check(true, false), 0);
  EXPECT_EQ(f.Check(true, true), 30320);
}

TEST(NRDConstraints, PrimaryKeyNullsAndDuplicates) {
  Fixture f;
  TNRDConstraintDefs defs;
  TNRDConstraintDefPrimary* pk = defs.AddPK();
  pk->FName = "P";
  pk->FIndexName = "PK";
  pk->Columns = {{"A", -1}, {"B", -1}};
  f.table->InitConstraintManager(defs);
  f.table->Records().FRecordCount = 2;
  f.Set(0, std::nullopt);
  f.Set(1, 4);
  EXPECT_EQ(f.Check(), 0);  // one NULL column is fine
  f.Set(1, std::nullopt);
  ExpectNRD([&] { f.table->ConstraintManager().CheckConstraints(0, f.rec->data(), nullptr, true, {}, true, true); },
            30330, "Constraint 'P' violated. Value in field 'A,B' cannot be null");
  f.Set(0, 1);
  f.journal.canInsert = false;
  EXPECT_EQ(f.Check(), 30319);
  // An update asks whether the old key may become the new one.
  f.journal.canUpdate = true;
  f.journal.calls.clear();
  EXPECT_TRUE(f.table->ConstraintManager().CheckConstraints(0, f.rec->data(), f.rec->data(), false, {}, true, true));
  EXPECT_EQ(f.journal.calls.back(), "can-update:PK");
}

TEST(NRDConstraints, LinkingNamesAndIndexConstraints) {
  Fixture f;
  TNRDConstraintDefs defs;
  defs.AddNotNull()->SetNames("C", "", "");
  defs.AddNotNull()->SetNames("C", "", "");
  defs.AddCheck()->SetNames("A", "", "");
  int draws = 0;
  f.table->ConstraintManager().FRandom = [&draws] { return draws++ == 0 ? 7 : 8; };
  f.table->InitConstraintManager(defs);
  const TNRDConstraintDefs& c = f.table->ConstraintManager().FConstraintDefs;
  EXPECT_EQ(c.GetDef(0)->FName, "$C_NotNull$T$C");
  EXPECT_EQ(c.GetDef(1)->FName, "$C_NotNull$T$C7");
  EXPECT_EQ(c.GetDef(2)->FName, "$C_Check$T$A");
  // A taken random suffix is drawn again; a very long base still finds a free name.
  TNRDConstraintDefs longDefs;
  const std::string longColumn(300, 'L');
  for (int i = 0; i < 3; ++i) {
    TNRDConstraintDefNotNull* d = longDefs.AddNotNull();
    d->FTableName = "T";
    d->FColumnName = longColumn;
  }
  TNRDBaseConstraintManager m(f.table);
  m.FConstraintDefs.Assign(longDefs);
  int next = 0;
  m.FRandom = [&next] { return next++ < 2 ? 1 : 2; };
  m.FillConstraintAutoNames();
  EXPECT_EQ(m.FConstraintDefs.GetDef(0)->FName.size(), 255u);
  EXPECT_NE(m.FConstraintDefs.GetDef(1)->FName, m.FConstraintDefs.GetDef(2)->FName);
  EXPECT_EQ(m.FConstraintDefs.GetDef(2)->FName.substr(250), "2");

  // Unknown names.
  struct Bad {
    std::function<void(TNRDConstraintDefs&)> add;
    int code;
  } bad[] = {
      {[](TNRDConstraintDefs& d) { d.AddNotNull()->SetNames("Z", "", ""); }, 30027},
      {[](TNRDConstraintDefs& d) {
         auto* p = d.AddPK();
         p->FIndexName = "NOPE";
       },
       30325},
      {[](TNRDConstraintDefs& d) {
         auto* u = d.AddUnique();
         u->FIndexName = "NOPE";
       },
       30326},
      {[](TNRDConstraintDefs& d) {
         auto* p = d.AddPK();
         p->FIndexName = "PK";
         p->Columns = {{"Z", -1}};
       },
       30331},
      {[](TNRDConstraintDefs& d) {
         auto* u = d.AddUnique();
         u->FIndexName = "UX";
         u->Columns = {{"Z", -1}};
       },
       30332},
  };
  for (const Bad& b : bad) {
    TNRDConstraintDefs d;
    b.add(d);
    d.GetDef(0)->FName = "X";
    EXPECT_EQ(CodeOf([&] { f.table->InitConstraintManager(d); }), b.code);
  }
  TNRDConstraintDefs fk;
  fk.InternalAdd(std::make_unique<TNRDConstraintDef>(ctFK));
  EXPECT_EQ(CodeOf([&] { f.table->InitConstraintManager(fk); }), 30058);

  // An index implies its constraint; dropping the index drops it.
  TNRDConstraintDefs none;
  f.table->InitConstraintManager(none);
  TNRDIndexDef ab;
  ab.FName = "AB";
  ab.FUnique = true;
  ab.AssignByNames({"A", "B"}, {"", ""}, {"", ""});
  TTestCursor cursor;
  const std::int32_t id = f.table->AddIndex(ab, &cursor);
  ASSERT_EQ(f.table->ConstraintManager().FConstraintDefs.GetCount(), 1);
  const auto* added = static_cast<const TNRDConstraintDefUnique*>(f.table->ConstraintManager().FConstraintDefs.GetDef(0));
  EXPECT_EQ(added->FName, "C_Unique$A$B");
  EXPECT_EQ(added->FIndexObjectID, id);
  EXPECT_EQ(added->Columns[1].ColumnObjectID, f.table->FieldManager().FFieldDefs.GetFieldDef(1)->FObjectID);
  TNRDIndexDef plain;
  plain.FName = "PLAIN";
  plain.AssignByNames({"C"}, {""}, {""});
  f.table->AddIndex(plain, &cursor);
  EXPECT_EQ(f.table->ConstraintManager().FConstraintDefs.GetCount(), 1);
  TNRDIndexDef primary;
  primary.FName = "P2";
  primary.FPrimary = true;
  primary.AssignByNames({"B"}, {""}, {""});
  f.table->AddIndex(primary, &cursor);
  EXPECT_EQ(f.table->ConstraintManager().FConstraintDefs.GetDef(1)->FName, "C_PK$B");
  f.table->DeleteIndex(id, &cursor);
  ASSERT_EQ(f.table->ConstraintManager().FConstraintDefs.GetCount(), 1);
  EXPECT_EQ(f.table->ConstraintManager().FConstraintDefs.GetDef(0)->FName, "C_PK$B");
}

}  // namespace
