// Cursor base: projections and aliases, field access through visible and table numbers, typed
// values (empty texts, overlong values), garbage after text terminators, index names, ranges,
// view tests and the slots left to the local cursor.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDRecordBitmap.h"
#include "tests/engine-storage/TestCursor.h"
#include "tests/engine-foundation/EngineTestUtil.h"
#include "tests/engine-storage/StorageFakes.h"

using namespace nrd;
using enginetest::CodeOf;
using enginetest::ExpectNRD;
using namespace storagetest;

namespace {

// A cursor over A Integer, B Varchar(10), C WideString(4), with one index "BY_B".
struct CursorFixture {
  CursorFixture() {
    DefineFields(cursor.FFieldDefs, {{"A", aftInteger, 0}, {"B", aftString, 10}, {"C", aftWideString, 4}});
    cursor.FFieldDefs.RecalcFieldOffsets();
    cursor.FVisibleFieldDefs.Assign(cursor.FFieldDefs);
    for (std::int32_t i = 0; i < 3; ++i) cursor.FVisibleFieldDefs.GetFieldDef(i)->FFieldNoReference = i;
    TNRDIndexDef* byB = cursor.FIndexDefs.AddCreated();
    byB->FName = "BY_B";
    byB->FObjectID = 31;
    cursor.FRecordBufferSize = cursor.FFieldDefs.GetMemoryRecordBufferSize();
    cursor.FCurrentRecordBuffer = cursor.AllocateRecordBuffer();
  }
  std::uint8_t* Rec() { return static_cast<std::uint8_t*>(cursor.FCurrentRecordBuffer); }
  std::uint8_t* Field(int i) { return Rec() + cursor.FFieldDefs.GetFieldDef(i)->FMemoryOffset; }
  TTestCursor cursor;
};

TEST(NRDCursor, ProjectionsMapVisibleFieldsToTableFields) {
  CursorFixture f;
  f.cursor.ApplyProjection({"b", "A"}, {"", ""});
  ASSERT_EQ(f.cursor.FVisibleFieldDefs.GetCount(), 2);
  EXPECT_EQ(f.cursor.FVisibleFieldDefs.GetFieldDef(0)->FFieldNoReference, 1);
  EXPECT_EQ(f.cursor.FVisibleFieldDefs.GetFieldDef(0)->FName, "B");
  const std::int32_t a = 1234;
  SetFieldNull(f.Rec(), 0, false);
  std::memcpy(f.Field(0), &a, 4);
  std::int32_t out = 0;
  EXPECT_TRUE(f.cursor.GetFieldData(1, &out, f.Rec()));  // visible 1 is table field A
  EXPECT_EQ(out, 1234);

  struct Case {
    std::vector<std::string> names, aliases;
    std::vector<std::string> expected;
  } table[] = {
      {{"A", "A"}, {"X", "X"}, {"X", "X_1"}},
      {{"A", "A", "A"}, {"X", "X", "X"}, {"X", "X_1", "X_2"}},
      {{"A", "B"}, {"", "A"}, {"A", "A_1"}},
      {{"A", "B", "C"}, {"B", "", "Z"}, {"B", "B", "Z"}},  // an unaliased field keeps its own name
      {{"A", "A"}, {"X_1", "X"}, {"X_1", "X"}},
  };
  for (const Case& c : table) {
    f.cursor.ApplyProjection(c.names, c.aliases);
    std::vector<std::string> names;
    for (std::int32_t i = 0; i < f.cursor.FVisibleFieldDefs.GetCount(); ++i)
      names.push_back(f.cursor.FVisibleFieldDefs.GetFieldDef(i)->FName);
    EXPECT_EQ(names, c.expected);
  }
  EXPECT_EQ(CodeOf([&] { f.cursor.ApplyProjection({"A"}, {}); }), 10321);
  EXPECT_EQ(CodeOf([&] { f.cursor.ApplyProjection({}, {}); }), 10322);
  ExpectNRD([&] { f.cursor.ApplyProjection({"Q"}, {""}); }, 10323, "Cannot find field Q");
  EXPECT_FALSE(f.cursor.FSettingProjection);
}

TEST(NRDCursor, TypedValuesAndEmptyTexts) {
  CursorFixture f;
  TNRDVariant v;
  v.SetAsAnsiString("hello");
  f.cursor.SetFieldValue(v, 1, false);
  EXPECT_FALSE(IsFieldNull(f.Rec(), 1));
  TNRDVariant back;
  f.cursor.GetFieldValue(back, 1, true);
  EXPECT_EQ(back.DataType(), bftVarchar);
  EXPECT_EQ(back.AsAnsiString(), "hello");
  // A non-NULL empty text leaves no byte of "hello" behind.
  TNRDVariant empty;
  empty.SetData("", 1, bftVarchar, true);
  f.cursor.SetFieldValue(empty, 1, false);
  EXPECT_FALSE(IsFieldNull(f.Rec(), 1));
  for (int i = 0; i < 11; ++i) EXPECT_EQ(f.Field(1)[i], 0) << i;
  // A value longer than its field is refused and changes nothing.
  f.cursor.SetFieldValue(v, 1, false);
  TNRDVariant longer;
  longer.SetAsAnsiString("far too long for ten");
  ExpectNRD([&] { f.cursor.SetFieldValue(longer, 1, false); }, 20056);
  f.cursor.GetFieldValue(back, 1, false);
  EXPECT_EQ(back.AsAnsiString(), "hello");
  // Values are cast to the field's type; NULL sets the bit and keeps the bytes.
  TNRDVariant number;
  number.SetAsAnsiString("42");
  f.cursor.SetFieldValue(number, 0, true);
  f.cursor.GetFieldValue(back, 0, true);
  EXPECT_EQ(back.DataType(), bftSignedInt32);
  EXPECT_EQ(back.AsInteger(), 42);
  TNRDVariant null(bftSignedInt32);
  f.cursor.SetFieldValue(null, 0, true);
  EXPECT_TRUE(IsFieldNull(f.Rec(), 0));
  EXPECT_EQ(f.Field(0)[0], 42);
  f.cursor.GetFieldValue(back, 0, true);
  EXPECT_TRUE(back.IsNull());
  EXPECT_EQ(back.DataType(), bftUnknown);
  // Another record buffer can be given.
  RecordBuffer other(f.cursor.FRecordBufferSize);
  f.cursor.SetFieldValue(number, 0, true, other.data());
  EXPECT_FALSE(IsFieldNull(other.data(), 0));
  // An empty text through the raw field routine is NULL.
  const char blank[11] = "";
  f.cursor.SetFieldData(1, blank, f.Rec());
  EXPECT_TRUE(IsFieldNull(f.Rec(), 1));
  struct Bad {
    std::function<void()> call;
    int code;
  } bad[] = {
      {[&] { f.cursor.GetFieldData(3, nullptr, f.Rec()); }, 10005},
      {[&] { f.cursor.SetFieldData(-1, nullptr, f.Rec()); }, 10006},
      {[&] { f.cursor.GetFieldValue(back, 3, true); }, 20191},
      {[&] { f.cursor.GetFieldValue(back, 3, false); }, 10317},
      {[&] { f.cursor.SetFieldValue(v, 3, true); }, 20192},
      {[&] { f.cursor.SetFieldValue(v, 3, false); }, 20193},
  };
  for (const Bad& b : bad) EXPECT_EQ(CodeOf(b.call), b.code);
}

TEST(NRDCursor, GarbageAfterTerminatorsIsCleared) {
  CursorFixture f;
  RecordBuffer one(f.cursor.FRecordBufferSize), two(f.cursor.FRecordBufferSize);
  const std::int32_t b = f.cursor.FFieldDefs.GetFieldDef(1)->FMemoryOffset;
  const std::int32_t c = f.cursor.FFieldDefs.GetFieldDef(2)->FMemoryOffset;
  std::memcpy(one.data() + b, "ab\0xyzxyz", 10);
  std::memcpy(two.data() + b, "ab\0qqq", 6);
  const char16_t wideOne[5] = {u'w', 0, u'j', u'k', 0};
  const char16_t wideTwo[5] = {u'w', 0, 0, 0, u'z'};
  std::memcpy(one.data() + c, wideOne, 10);
  std::memcpy(two.data() + c, wideTwo, 10);
  SetFieldNull(one.data(), 0, true);  // A: NULL in both, not a text: left as it is
  SetFieldNull(two.data(), 0, true);
  EXPECT_NE(std::memcmp(one.data(), two.data(), static_cast<std::size_t>(one.size)), 0);
  f.cursor.ClearStringFieldsGarbage(one.data());
  f.cursor.ClearStringFieldsGarbage(two.data());
  EXPECT_EQ(std::memcmp(one.data(), two.data(), static_cast<std::size_t>(one.size)), 0);
  // A NULL text is zero-filled whole.
  SetFieldNull(one.data(), 1, true);
  f.cursor.ClearStringFieldsGarbage(one.data());
  for (int i = 0; i < 11; ++i) EXPECT_EQ(one.data()[b + i], 0);
}

TEST(NRDCursor, IndexNamesRangesAndViews) {
  CursorFixture f;
  f.cursor.SetIndexName("by_b");
  EXPECT_EQ(f.cursor.FIndexID, 31);
  EXPECT_TRUE(f.cursor.IsIndexApplied());
  f.cursor.SetIndexName("NOPE");
  EXPECT_EQ(f.cursor.FIndexID, -1);
  EXPECT_EQ(f.cursor.IndexName(), "NOPE");
  EXPECT_FALSE(f.cursor.IsViewRestricted());

  FakeDatabase db;
  FakeTable* table = new FakeTable(&db);
  TNRDRecordBitmap bitmap(table);
  bitmap.ShowRecord(TNRDPageItemID{3, 0});
  bitmap.FActive = true;
  f.cursor.FRecordBitmap = &bitmap;
  std::uint8_t start[4] = {}, end[4] = {};
  f.cursor.FKeyBufferSize = sizeof(start);  // the bounds are copied at the key buffer's size
  f.cursor.ApplyRange(start, end, 1, 2, true, false);
  EXPECT_FALSE(bitmap.FActive);  // the view changed: the bitmap is rebuilt on demand
  EXPECT_EQ(bitmap.Size(), 0);
  EXPECT_TRUE(f.cursor.IsRangeApplied());
  EXPECT_TRUE(f.cursor.IsViewRestricted());
  EXPECT_EQ(f.cursor.FRangeEndKeyFieldCount, 2);
  EXPECT_TRUE(f.cursor.FRangeStartExclusive);
  f.cursor.ResetRange();
  EXPECT_FALSE(f.cursor.IsRangeApplied());
  f.cursor.FDistinctFieldCount = 1;
  EXPECT_TRUE(f.cursor.IsDistinctApplied());
  f.cursor.FDistinctFieldCount = 0;
  f.cursor.FilterRecord = [](TNRDCursor&) { return true; };
  EXPECT_TRUE(f.cursor.IsFilterApplied());
  f.cursor.FilterRecord = nullptr;

  struct Binder : TNRDExpression {
    void GetValue(TNRDBaseSession*, TNRDVariant&) override {}
    void AssignCursor(TNRDCursor* c, void* ao, TNRDCursor* parent) override {
      cursor = c;
      queryAO = ao;
      parentCursor = parent;
    }
    TNRDCursor* cursor = nullptr;
    void* queryAO = nullptr;
    TNRDCursor* parentCursor = nullptr;
  } binder;
  TTestCursor parent;
  int ao = 0;
  f.cursor.SetSQLFilter(&binder, &ao, &parent);
  EXPECT_EQ(binder.cursor, &f.cursor);
  EXPECT_EQ(binder.queryAO, &ao);
  EXPECT_EQ(binder.parentCursor, &parent);
  EXPECT_TRUE(f.cursor.IsFilterApplied());
  f.cursor.SetSQLFilter(nullptr, nullptr, nullptr);
  EXPECT_FALSE(f.cursor.IsFilterApplied());
  f.cursor.FRecordBitmap = nullptr;
}

TEST(NRDCursor, PositionsRenamesBuffersAndSlotsLeftToTheLocalCursor) {
  CursorFixture f;
  f.cursor.FirstPosition = false;
  f.cursor.CurrentRecordID = TNRDPageItemID{7, 2};
  auto saved = f.cursor.SavePosition();
  f.cursor.FirstPosition = true;
  f.cursor.LastPosition = true;
  f.cursor.CurrentRecordID = TNRDPageItemID{};
  f.cursor.RestorePosition(*saved);
  EXPECT_FALSE(f.cursor.FirstPosition);
  EXPECT_FALSE(f.cursor.LastPosition);
  EXPECT_EQ(f.cursor.CurrentRecordID, (TNRDPageItemID{7, 2}));

  ExpectNRD([&] { f.cursor.RenameField("a", "b"); }, 30346);
  ExpectNRD([&] { f.cursor.RenameField("z", "y"); }, 30345);
  f.cursor.RenameField("a", std::string(300, 'r'));
  EXPECT_EQ(f.cursor.FFieldDefs.GetFieldDef(0)->FName.size(), 255u);
  EXPECT_EQ(&f.cursor.GetIndexDefs(), &f.cursor.FIndexDefs);

  void* buffer = f.cursor.AllocateRecordBuffer();
  EXPECT_EQ(static_cast<std::uint8_t*>(buffer)[0], 0);
  f.cursor.FreeRecordBuffer(buffer);
  EXPECT_EQ(buffer, nullptr);
  f.cursor.FreeRecordBuffer(buffer);  // nothing to free
  f.cursor.FKeyBufferSize = 8;
  void* key = f.cursor.AllocateKeyRecordBuffer();
  EXPECT_EQ(CodeOf([&] { f.cursor.InternalInitKeyBuffer(key); }), 30339);  // the record part is the local cursor's
  EXPECT_EQ(static_cast<std::uint8_t*>(key)[7], 0);
  f.cursor.FreeRecordBuffer(key);

  ExpectNRD([&] { f.cursor.GetRecordCount(); }, 30339, "GetRecordCount");
  EXPECT_EQ(CodeOf([&] { f.cursor.InternalPost(true); }), 30339);
  EXPECT_EQ(CodeOf([&] { f.cursor.CheckConstraints(true); }), 30339);
}

}  // namespace
