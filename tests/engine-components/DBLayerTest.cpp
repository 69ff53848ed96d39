// Definitions, parameters and the field copy of the data-set layer.
#include <gtest/gtest.h>

#include "StandInCursor.h"

using namespace nrd;

TEST(Params, ParseSQLFindsEveryReferenceOutsideQuotes) {
  struct Case {
    const char* sql;
    const char* out;
    std::vector<std::string> names;
  } cases[] = {
      {"select * from t where a = :a and b = :B", "select * from t where a = ? and b = ?", {"a", "B"}},
      {"x = :p or y = :p", "x = ? or y = ?", {"p", "p"}},
      {"s = ':no' and t = \":no\" and u = `:no`", "s = ':no' and t = \":no\" and u = `:no`", {}},
      {"cast(a as time) = '10::00' and b = 10::30", "cast(a as time) = '10::00' and b = 10:30", {}},
      {"a = :\"my name\" and b = ':'':x'", "a = ? and b = ':'':x'", {"my name"}},
      {"a = : b", "a = : b", {}},
  };
  for (const Case& c : cases) {
    TParams params;
    EXPECT_EQ(params.ParseSQL(c.sql, true), c.out) << c.sql;
    ASSERT_EQ(params.Count(), static_cast<std::int32_t>(c.names.size())) << c.sql;
    for (std::size_t i = 0; i < c.names.size(); ++i) EXPECT_EQ(params[static_cast<std::int32_t>(i)].Name, c.names[i]);
  }
  TParams params;
  params.ParseSQL("a = :x", true);
  params.ParamByName("X").Value = IntValue(5);
  EXPECT_EQ(ValueToText(params[0].Value), "5");
  try {
    params.ParamByName("y");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Parameter 'y' not found");
  }
}

TEST(Definitions, FindIndexForFieldsPrefersExactThenPrefix) {
  TIndexDefs defs;
  defs.Add("ByNameBorn", "Name;Born", 0);
  defs.Add("ByName", "NAME", ixCaseInsensitive);
  defs.Add("ById", "ID", ixPrimary);
  EXPECT_EQ(defs.GetIndexForFields("name").Name, "ByName");
  EXPECT_EQ(defs.GetIndexForFields("Name, born").Name, "ByNameBorn");
  EXPECT_EQ(defs.FindIndexForFields("born"), nullptr);
  try {
    defs.GetIndexForFields("Born");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Index for fields 'Born' not found");
  }
  EXPECT_EQ(defs.Find("byid").Fields, "ID");
  EXPECT_THROW(defs.Find("none"), EDatabaseError);

  TFieldDefs fields;
  fields.Add("ID", ftInteger);
  fields.Add("Name", ftString, 20);
  EXPECT_EQ(fields.IndexOf("name"), 1);
  EXPECT_EQ(fields.Find("NAME").FieldNo, 2);
  EXPECT_THROW(fields.Find("x"), EDatabaseError);
}

namespace {

struct Pair {
  std::shared_ptr<standin::Table> st = std::make_shared<standin::Table>();
  std::shared_ptr<standin::Table> dt = std::make_shared<standin::Table>();
  std::unique_ptr<standin::StandInDataSet> src, dst;
  Pair() {
    st->fields = {{"S", {aftString, 20}}, {"Pic", {aftGraphic, 0}}, {"Bin", {aftBlob, 0}}, {"W", {aftWideString, 10}},
                  {"Big", {aftLargeint, 0}}, {"F", {aftDouble, 0}}};
    dt->fields = {{"L", {aftLargeint, 0}}, {"Bin", {aftBlob, 0}}, {"W", {aftWideString, 10}}, {"I", {aftInteger, 0}},
                  {"WM", {aftWideMemo, 0}}};
    src = std::make_unique<standin::StandInDataSet>(st);
    dst = std::make_unique<standin::StandInDataSet>(dt);
    src->Open();
    dst->Open();
    src->Append();
    dst->Append();
  }
};

std::string PictureHeader(std::uint32_t n) {
  std::string h(8, '\0');
  const std::uint16_t a = 1, b = 0x0100;
  std::memcpy(h.data(), &a, 2);
  std::memcpy(h.data() + 2, &b, 2);
  std::memcpy(h.data() + 4, &n, 4);
  return h;
}

}  // namespace

TEST(CopyFieldValue, ConvertsBetweenFieldTypes) {
  Pair p;
  TDataSet& s = *p.src;
  TDataSet& d = *p.dst;
  // A large number held as text reaches a 64-bit field whole.
  s.FieldByName("S").SetAsString("5000000000");
  CopyFieldValue(s.FieldByName("S"), d.FieldByName("L"));
  EXPECT_EQ(d.FieldByName("L").AsLargeInt(), 5000000000LL);

  s.FieldByName("Big").SetAsLargeInt(-7);
  CopyFieldValue(s.FieldByName("Big"), d.FieldByName("I"));
  EXPECT_EQ(d.FieldByName("I").AsInteger(), -7);
  s.FieldByName("Big").Clear();
  CopyFieldValue(s.FieldByName("Big"), d.FieldByName("L"));
  EXPECT_TRUE(d.FieldByName("L").IsNull());

  // A picture loses its stored header; another BLOB that starts with the same bytes does not.
  s.FieldByName("Pic").SetAsBytes(PictureHeader(3) + "PNG");
  CopyFieldValue(s.FieldByName("Pic"), d.FieldByName("Bin"));
  EXPECT_EQ(d.FieldByName("Bin").AsBytes(), "PNG");
  s.FieldByName("Bin").SetAsBytes(PictureHeader(3) + "raw");
  CopyFieldValue(s.FieldByName("Bin"), d.FieldByName("Bin"));
  EXPECT_EQ(d.FieldByName("Bin").AsBytes(), PictureHeader(3) + "raw");

  // Wide text into a BLOB is UTF-16 without a terminator, and back.
  s.FieldByName("W").SetAsWideString(u"\u0416a");
  CopyFieldValue(s.FieldByName("W"), d.FieldByName("Bin"));
  EXPECT_EQ(d.FieldByName("Bin").AsBytes(), std::string("\x16\x04\x61\x00", 4));
  CopyFieldValue(d.FieldByName("Bin"), d.FieldByName("W"));
  EXPECT_EQ(d.FieldByName("W").AsWideString(), u"\u0416a");
  CopyFieldValue(s.FieldByName("W"), d.FieldByName("WM"));
  EXPECT_EQ(d.FieldByName("WM").AsWideString(), u"\u0416a");

  s.FieldByName("F").SetAsFloat(2.5);
  CopyFieldValue(s.FieldByName("F"), d.FieldByName("W"));
  EXPECT_EQ(d.FieldByName("W").AsString(), "2.5");
  p.src->Cancel();
  p.dst->Cancel();
}
