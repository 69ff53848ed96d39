#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "tests/engine-foundation/EngineTestUtil.h"
#include "engine/foundation/NRDConverts.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDStreams.h"
#include "engine/foundation/NRDText.h"
#include "engine/foundation/NRDVariant.h"

using namespace nrd;

namespace {

using enginetest::CodeOf;

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

std::vector<std::uint8_t> StreamBytes(const TNRDVariant& v) {
  TNRDMemoryStream s;
  v.SaveToStream(s);
  std::vector<std::uint8_t> r(static_cast<std::size_t>(s.Size()));
  s.SetPosition(0);
  s.Read(r.data(), static_cast<std::int32_t>(r.size()));
  return r;
}

}  // namespace

TEST(NRDVariant, NullValuesAndTypedAccess) {
  TNRDVariant v(bftSignedInt32);
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(CodeOf([&] { v.AsInteger(); }), 30016);
  EXPECT_EQ(v.AsAnsiString(), "");
  TNRDVariant d(bftDouble);
  d.SetAsInteger(5);
  EXPECT_EQ(d.DataType(), bftDouble);
  EXPECT_EQ(d.AsDouble(), 5.0);
  TNRDVariant u;
  u.SetAsInteger(5);
  EXPECT_EQ(u.DataType(), bftSignedInt32);
  const void* before = u.pData();
  u.SetAsInteger(6);  // same type: written in place
  EXPECT_EQ(u.pData(), before);
  EXPECT_EQ(u.AsAnsiString(), "6");
  TNRDVariant s;
  s.SetAsAnsiString("");
  EXPECT_TRUE(s.IsNull());
  s.SetAsAnsiString("abc");
  EXPECT_EQ(s.DataSize(), 4);
  EXPECT_EQ(s.StrLen(), 3);
  s.SetAsWideString(u"Жук");  // keeps the Varchar type, converted through the code page
  EXPECT_EQ(s.DataType(), bftVarchar);
  EXPECT_EQ(s.AsWideString(), u"Жук");
  TNRDVariant b;
  b.SetAsBoolean(true);
  EXPECT_EQ(GetLE16(static_cast<const std::uint8_t*>(b.pData())), 0xFFFF);
  std::uint16_t seven = 7;
  b.SetData(&seven, 2, bftLogical, true);
  EXPECT_TRUE(b.AsBoolean());
  TNRDVariant dt;
  dt.SetAsTDateTime(-1.5);
  EXPECT_EQ(dt.AsNRDDateTime().Date, 693593);
  EXPECT_EQ(dt.AsTDateTime(), -1.5);
  TNRDVariant c(bftCurrency);
  c.SetAsAnsiString("12,5");
  EXPECT_EQ(c.AsCurrency(), 12.5);
  EXPECT_EQ(c.AsAnsiString(), "12,5");
}

TEST(NRDVariant, NullFlagLinkingAndCopies) {
  TNRDVariant v;
  v.SetAsInteger(42);
  v.SetNull(bftVarchar);
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.DataType(), bftSignedInt32);
  EXPECT_EQ(v.DataSize(), 4);
  EXPECT_EQ(StreamBytes(v), (std::vector<std::uint8_t>{bftSignedInt32, 0xFF}));

  std::int32_t raw = 77;
  TNRDVariant linked;
  linked.SetData(&raw, 4, bftSignedInt32, false);
  EXPECT_TRUE(linked.IsDataLinked());
  EXPECT_EQ(linked.AsInteger(), 77);
  linked.SetAsInteger(78);  // a linked buffer is never written
  EXPECT_EQ(raw, 77);
  EXPECT_EQ(linked.AsInteger(), 78);
  TNRDVariant view;
  view.Assign(linked, false);
  EXPECT_EQ(view.pData(), linked.pData());
  TNRDVariant copy;
  copy.Assign(linked, true);
  EXPECT_NE(copy.pData(), linked.pData());
  EXPECT_EQ(copy.AsInteger(), 78);

  std::uint8_t out[8] = {};
  EXPECT_EQ(CodeOf([&] { copy.CopyDataToAddress(out, 3); }), 20056);
  EXPECT_TRUE(copy.CopyDataToAddress(out, -1));
  EXPECT_EQ(out[0], 78);
  TNRDVariant empty;
  empty.SetData("", 1, bftVarchar, true);
  EXPECT_FALSE(empty.CopyDataToAddress(out, 8));

  // A linked Clob cast to Varchar leaves its owner's bytes alone.
  char clob[3] = {'x', 'y', 'z'};
  TNRDVariant text;
  text.SetData(clob, 3, bftClob, false);
  text.Cast(bftVarchar);
  EXPECT_FALSE(text.IsDataLinked());
  EXPECT_EQ(text.AsAnsiString(), "xyz");
  EXPECT_EQ(text.DataSize(), 4);
}

TEST(NRDVariant, CastsThroughTheDataType) {
  TNRDVariant v;
  v.SetAsAnsiString("abc");
  v.SetDataType(bftSignedInt32);  // cannot convert: NULL of the new type, no error
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.DataType(), bftSignedInt32);
  TNRDVariant w;
  w.SetAsAnsiString("12");
  EXPECT_EQ(CodeOf([&] { w.Cast(bftBytes); }), 30052);
  EXPECT_EQ(w.AsAnsiString(), "12");  // a failed cast leaves the value unchanged
  w.Cast(bftSignedInt16);
  EXPECT_EQ(w.AsSmallint(), 12);
  TNRDVariant wide;
  wide.SetAsWideString(u"Пётр");
  wide.TryToReduceWideStringToAnsiString();
  EXPECT_EQ(wide.DataType(), bftVarchar);
  wide.SetDataType(bftWideVarchar);
  wide.SetAsWideString(u"Ω");
  wide.TryToReduceWideStringToAnsiString();
  EXPECT_EQ(wide.DataType(), bftWideVarchar);
}

TEST(NRDVariant, StreamFormGoldenBytesAndHostileSizes) {
  TNRDVariant five;
  five.SetAsInteger(5);
  EXPECT_EQ(StreamBytes(five), (std::vector<std::uint8_t>{7, 0, 4, 0, 0, 0, 5, 0, 0, 0}));
  TNRDVariant nullText(bftVarchar);
  EXPECT_EQ(StreamBytes(nullText), (std::vector<std::uint8_t>{3, 0xFF}));
  TNRDVariant text;
  text.SetAsAnsiString("ab");
  EXPECT_EQ(StreamBytes(text), (std::vector<std::uint8_t>{3, 0, 3, 0, 0, 0, 'a', 'b', 0}));
  for (TNRDVariant* v : {&five, &nullText, &text}) {
    TNRDMemoryStream s;
    v->SaveToStream(s);
    s.SetPosition(0);
    TNRDVariant back;
    back.LoadFromStream(s);
    EXPECT_EQ(back.DataType(), v->DataType());
    EXPECT_EQ(back.IsNull(), v->IsNull());
    EXPECT_EQ(back.AsAnsiString(), v->AsAnsiString());
  }
  struct Hostile {
    std::vector<std::uint8_t> bytes;
    int code;
  };
  const Hostile cases[] = {
      {{}, 10183},
      {{30, 0}, 10183},                                    // no such type
      {{7}, 10184},
      {{7, 0, 4, 0}, 10185},
      {{7, 0, 2, 0, 0, 0, 1, 2}, 10185},                   // wrong width for an Integer
      {{7, 0, 0xFF, 0xFF, 0xFF, 0xFF}, 10185},             // negative size
      {{18, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1}, 10185},         // huge BLOB size, no bytes behind it
      {{4, 0, 3, 0, 0, 0, 1, 2, 3}, 10185},                // odd wide size
      {{3, 0, 0, 0, 0, 0}, 10185},                         // a text without its zero
  };
  for (const Hostile& h : cases) {
    TNRDMemoryStream s;
    if (!h.bytes.empty()) s.Write(h.bytes.data(), static_cast<std::int32_t>(h.bytes.size()));
    s.SetPosition(0);
    TNRDVariant v;
    EXPECT_EQ(CodeOf([&] { v.LoadFromStream(s); }), h.code);
    EXPECT_TRUE(v.IsNull());
  }
  // A text whose last byte is not zero is still read inside its data.
  TNRDMemoryStream s;
  const std::uint8_t bytes[] = {3, 0, 2, 0, 0, 0, 'a', 'b'};
  s.Write(bytes, 8);
  s.SetPosition(0);
  TNRDVariant v;
  v.LoadFromStream(s);
  EXPECT_EQ(v.AsAnsiString(), "a");
}

TEST(NRDVariant, ArithmeticNullRulesAndWrapping) {
  TNRDVariant a(bftVarchar), b;
  b.SetAsAnsiString("abc");
  a.Add(b);
  EXPECT_EQ(a.AsAnsiString(), "abc");
  TNRDVariant nullText(bftVarchar);
  a.Add(nullText);
  EXPECT_EQ(a.AsAnsiString(), "abc");
  a.Sub(nullText);
  EXPECT_TRUE(a.IsNull());
  TNRDVariant i(bftSignedInt32), five;
  five.SetAsInteger(5);
  i.Add(five);
  EXPECT_TRUE(i.IsNull());

  auto make = [](TNRDBaseFieldType t, std::int64_t v) {
    auto* r = new TNRDVariant(t);
    r->SetAsInt64(v);
    return std::unique_ptr<TNRDVariant>(r);
  };
  auto x = make(bftSignedInt8, 100);
  x->Add(*make(bftSignedInt8, 100));
  EXPECT_EQ(x->AsShortint(), -56);
  auto m = make(bftSignedInt32, std::numeric_limits<std::int32_t>::max());
  m->Add(*make(bftSignedInt32, 1));
  EXPECT_EQ(m->AsInteger(), std::numeric_limits<std::int32_t>::min());
  auto mixed = make(bftSignedInt8, 5);
  mixed->Add(*make(bftUnsignedInt16, 7));
  EXPECT_EQ(mixed->DataType(), bftUnsignedInt16);
  EXPECT_EQ(mixed->AsWord(), 12);
  auto big = make(bftSignedInt64, std::numeric_limits<std::int64_t>::max());
  big->Mul(*make(bftSignedInt64, 2));
  EXPECT_EQ(big->AsInt64(), -2);
  auto q = make(bftSignedInt32, std::numeric_limits<std::int32_t>::min());
  q->Division(*make(bftSignedInt32, -1));
  EXPECT_EQ(q->AsInteger(), std::numeric_limits<std::int32_t>::min());
  auto neg = make(bftSignedInt32, -7);
  neg->Division(*make(bftSignedInt32, 2));
  EXPECT_EQ(neg->AsInteger(), -3);
  auto u8 = make(bftUnsignedInt8, 5);
  u8->InvertValue();
  EXPECT_EQ(u8->AsByte(), 251);
  auto s8 = make(bftSignedInt8, -128);
  s8->InvertValue();
  EXPECT_EQ(s8->AsShortint(), -128);
  EXPECT_THROW(make(bftSignedInt32, std::numeric_limits<std::int32_t>::min())->InvertValue(), EIntOverflow);
  EXPECT_THROW(make(bftSignedInt64, std::numeric_limits<std::int64_t>::min())->InvertValue(), EIntOverflow);
  TNRDVariant logical;
  logical.SetAsBoolean(false);
  logical.InvertValue();
  EXPECT_TRUE(logical.AsBoolean());
  TNRDVariant text;
  text.SetAsAnsiString("a");
  EXPECT_EQ(CodeOf([&] { text.InvertValue(); }), 30123);
}

TEST(NRDVariant, DivisionAndOperatorErrors) {
  TNRDVariant seven, zero;
  seven.SetAsInteger(7);
  zero.SetAsInteger(0);
  std::string msg = MessageOf([&] { seven.Division(zero); });
  EXPECT_NE(msg.find("Division error: Division by zero"), std::string::npos) << msg;
  EXPECT_NE(msg.find("30128"), std::string::npos);
  TNRDVariant f, fz;
  f.SetAsDouble(1.0);
  fz.SetAsDouble(0.0);
  EXPECT_EQ(CodeOf([&] { f.Division(fz); }), 30128);
  TNRDVariant zf;
  zf.SetAsDouble(0.0);
  EXPECT_NE(MessageOf([&] { zf.Division(fz); }).find("Invalid floating point operation"), std::string::npos);
  TNRDVariant huge, two;
  huge.SetAsDouble(1e308);
  two.SetAsDouble(1e308);
  EXPECT_THROW(huge.Mul(two), EOverflow);
  TNRDVariant abc, a;
  abc.SetAsAnsiString("abc");
  a.SetAsAnsiString("a");
  msg = MessageOf([&] { abc.Sub(a); });
  EXPECT_EQ(msg, "Not numeric argument in numeric operator '-' - Native error: 30125");
  EXPECT_EQ(CodeOf([&] { abc.Mul(a); }), 30126);
  EXPECT_EQ(CodeOf([&] { abc.Division(a); }), 30127);
  TNRDVariant blob;
  blob.SetData("xy", 2, bftBlob, true);
  EXPECT_EQ(CodeOf([&] { blob.Add(seven); }), 30052);  // no common type: the cast fails
}

TEST(NRDVariant, DateTimeArithmeticCarries) {
  TNRDVariant a, b;
  a.SetAsNRDDateTime({739000, 80000000});
  b.SetAsNRDDateTime({1, 10000000});
  a.Add(b);
  EXPECT_EQ(a.AsNRDDateTime().Date, 739002);
  EXPECT_EQ(a.AsNRDDateTime().Time, 3600000);
  TNRDVariant c, d;
  c.SetAsNRDDateTime({739000, 1000});
  d.SetAsNRDDateTime({0, 5000});
  c.Sub(d);
  EXPECT_EQ(c.AsNRDDateTime().Time, -4000);  // a negative part stays negative
  TNRDVariant e, n;
  e.SetAsNRDDateTime({739000, 1000});
  n.SetAsInteger(2);  // a number becomes {2, 0}: the time part divides by zero
  EXPECT_EQ(CodeOf([&] { e.Division(n); }), 30128);
  TNRDVariant date, days;
  date.SetAsNRDDate(739000);
  days.SetAsInteger(3);
  date.Add(days);
  EXPECT_EQ(date.DataType(), bftDate);
  EXPECT_EQ(date.AsNRDDate(), 739003);
}

TEST(NRDVariant, Comparison) {
  TNRDVariant null(bftSignedInt32), five, null2(bftSignedInt32);
  five.SetAsInteger(5);
  EXPECT_EQ(null.Compare(five, true, false, false), cmprLeftNull);
  EXPECT_EQ(null.Compare(five, false, false, false), cmprLower);
  EXPECT_EQ(five.Compare(null, false, false, false), cmprGreater);
  EXPECT_EQ(null.Compare(null2, true, false, false), cmprBothNull);
  EXPECT_EQ(null.Compare(null2, false, false, false), cmprEqual);
  TNRDVariant abc, ABD, ab;
  abc.SetAsAnsiString("abc");
  ABD.SetAsAnsiString("ABD");
  ab.SetAsAnsiString("ab");
  EXPECT_EQ(abc.Compare(ABD, false, true, false), cmprLower);
  EXPECT_EQ(abc.Compare(ab, false, false, true), cmprEqual);
  EXPECT_EQ(ab.Compare(abc, false, false, true), cmprLower);  // a partial length beyond 'ab' uses its own
  TNRDVariant ten, nine;
  ten.SetAsAnsiString("10");
  nine.SetAsInteger(9);
  EXPECT_EQ(ten.Compare(nine, false, false, false), cmprLower);  // compared as texts
  TNRDVariant dateText, date;
  dateText.SetAsAnsiString("2024-03-05");
  date.SetAsTDate(EncodeDate(2024, 3, 5));
  EXPECT_EQ(dateText.Compare(date, false, false, false), cmprEqual);
  TNRDVariant blob1, blob2, logical;
  blob1.SetData("a", 1, bftBlob, true);
  blob2.SetData("a", 1, bftBlob, true);
  logical.SetAsBoolean(true);
  EXPECT_EQ(CodeOf([&] { blob1.Compare(blob2, false, false, false); }), 30047);
  EXPECT_EQ(CodeOf([&] { logical.Compare(date, false, false, false); }), 30044);
  EXPECT_EQ(CompareKeyValues(nullptr, five.pData(), bftSignedInt32, bftSignedInt32, true, false, -1, false, 0x400), -1);
  EXPECT_EQ(CodeOf([&] { CompareValues(nullptr, five.pData(), bftSignedInt32, bftSignedInt32, false, false, -1, false, 0x400); }), 30140);
}

TEST(NRDVariant, CompareKeyValuesForEveryType) {
  // For each comparable storage type: a smaller and a larger value in that type.
  struct Pair {
    TNRDBaseFieldType type;
    std::string low, high;  // texts converted into the type
  };
  const Pair pairs[] = {
      {bftChar, "apple", "banana"}, {bftVarchar, "Ель", "Жук"}, {bftWideChar, "a", "b"},
      {bftWideVarchar, "Иван", "Пётр"}, {bftSignedInt8, "-5", "3"}, {bftSignedInt16, "-300", "300"},
      {bftSignedInt32, "-70000", "70000"}, {bftSignedInt64, "-5000000000", "5000000000"},
      {bftUnsignedInt8, "1", "255"}, {bftUnsignedInt16, "1", "65535"}, {bftUnsignedInt32, "1", "2147483647"},
      {bftSingle, "-1.5", "2.5"}, {bftDouble, "-1e300", "1e300"}, {bftExtended, "1.25", "1.5"},
      {bftDate, "07.09.1812", "09.05.1945"}, {bftTime, "01:00:00", "23:00:00"},
      {bftDateTime, "07.09.1812 10:00:00", "07.09.1812 11:00:00"}, {bftLogical, "0", "1"},
      {bftCurrency, "1", "2"},
  };
  for (const Pair& p : pairs) {
    TNRDVariant lo(p.type), hi(p.type);
    // Texts are given in UTF-8 (Cyrillic included) and written through the wide accessor,
    // which converts them into the value's type.
    auto utf8ToWide = [](const std::string& s) {
      std::u16string w;
      for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) { w.push_back(c); ++i; }
        else { w.push_back(static_cast<char16_t>(((c & 0x1F) << 6) | (s[i + 1] & 0x3F))); i += 2; }
      }
      return w;
    };
    lo.SetAsWideString(utf8ToWide(p.low));
    hi.SetAsWideString(utf8ToWide(p.high));
    ASSERT_FALSE(lo.IsNull()) << int(p.type);
    ASSERT_EQ(lo.DataType(), p.type);
    auto key = [&](const TNRDVariant& a, const TNRDVariant& b) {
      return CompareKeyValues(a.pData(), b.pData(), a.DataType(), b.DataType(), a.IsNull(), b.IsNull(), -1, false,
                              LOCALE_USER_DEFAULT, a.DataSize(), b.DataSize());
    };
    EXPECT_EQ(key(lo, hi), -1) << int(p.type);
    EXPECT_EQ(key(hi, lo), 1) << int(p.type);
    EXPECT_EQ(key(lo, lo), 0) << int(p.type);
    TNRDVariant null(p.type);
    EXPECT_EQ(key(null, lo), -1) << int(p.type);
    EXPECT_EQ(key(hi, null), 1) << int(p.type);
  }
}

TEST(NRDVariant, PlatformVariants) {
  TNRDVariant big(bftSignedInt64);
  big.SetAsInt64(5000000000LL);
  TVariantValue v = big.AsVariant();
  EXPECT_EQ(v.VType, varInt64);
  EXPECT_EQ(v.Int, 5000000000LL);
  TNRDVariant target;
  try {
    target.SetAsVariant(TVariantValue{varUInt64});
    ADD_FAILURE();
  } catch (const ENRDException& e) {
    EXPECT_EQ(e.NativeError, 30113);
    EXPECT_NE(std::string(e.what()).find("Unsupported Variant Type 21"), std::string::npos);
  }
  const std::pair<TVariantValue, TNRDBaseFieldType> writes[] = {
      {TVariantValue::Of(varSmallint, -3), bftSignedInt16}, {TVariantValue::Of(varLongWord, 7), bftUnsignedInt32},
      {TVariantValue::OfFloat(varDate, -1.5), bftDateTime}, {TVariantValue::Of(varBoolean, 1), bftLogical},
      {TVariantValue::OfFloat(varCurrency, 2.5), bftCurrency},
  };
  for (const auto& [value, type] : writes) {
    TNRDVariant x;
    x.SetAsVariant(value);
    EXPECT_EQ(x.DataType(), type);
  }
  TVariantValue text{varString};
  text.Ansi = "abc";
  TNRDVariant t;
  t.SetAsVariant(text);
  EXPECT_EQ(t.AsVariant().Ansi, "abc");
  t.SetAsVariant(TVariantValue::Null());
  EXPECT_EQ(t.AsVariant().VType, varNull);
  TNRDVariant date;
  date.SetAsNRDDate(693594);
  EXPECT_EQ(date.AsVariant().VType, varDate);
  EXPECT_EQ(date.AsVariant().Float, 0.0);
  TNRDVariant bytes;
  bytes.SetData("ab", 2, bftBytes, true);
  try {
    bytes.AsVariant();
    ADD_FAILURE();
  } catch (const ENRDException& e) {
    EXPECT_EQ(e.NativeError, 30114);
    EXPECT_NE(std::string(e.what()).find("BYTES"), std::string::npos);
  }
}

TEST(NRDVariant, MovesTransferTheBuffer) {
  std::vector<TNRDVariant> values;
  for (int i = 0; i < 20; ++i) {
    TNRDVariant v;
    v.SetAsAnsiString("value " + std::to_string(i));
    values.push_back(std::move(v));
    EXPECT_TRUE(v.IsNull());
  }
  EXPECT_EQ(values[13].AsAnsiString(), "value 13");
  TNRDVariant target;
  target.SetAsInteger(1);
  target = std::move(values[0]);
  EXPECT_EQ(target.AsAnsiString(), "value 0");
}

TEST(NRDVariant, NaNSortsBelowEveryNumberAndEqualsOnlyNaN) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  TNRDVariant n1(bftDouble), n2(bftDouble), single(bftSingle), extended(bftExtended);
  n1.SetAsDouble(nan);
  n2.SetAsDouble(-nan);
  single.SetAsSingle(std::numeric_limits<float>::quiet_NaN());
  extended.SetAsExtended(std::numeric_limits<long double>::quiet_NaN());
  const double numbers[] = {-inf, -1e308, -1.0, 0.0, 1.0, 1e308, inf};
  for (double x : numbers) {
    TNRDVariant v(bftDouble), i(bftSignedInt32);
    v.SetAsDouble(x);
    EXPECT_EQ(n1.Compare(v, false, false, false), cmprLower) << x;
    EXPECT_EQ(v.Compare(n1, false, false, false), cmprGreater) << x;
    EXPECT_EQ(CompareKeyValues(n1.pData(), v.pData(), bftDouble, bftDouble, false, false, -1, false, 0x400), -1) << x;
    EXPECT_EQ(CompareKeyValues(v.pData(), n1.pData(), bftDouble, bftDouble, false, false, -1, false, 0x400), 1) << x;
    EXPECT_EQ(CompareValues(single.pData(), v.pData(), bftSingle, bftDouble, false, false, -1, false, 0x400),
              cmprLower)
        << x;
  }
  // An integer compared with NaN in the common float type.
  TNRDVariant seven(bftSignedInt32);
  seven.SetAsInteger(7);
  EXPECT_EQ(seven.Compare(n1, false, false, false), cmprGreater);
  // NaN equals NaN (of any sign or width); NULL still sorts below NaN.
  EXPECT_EQ(n1.Compare(n2, false, false, false), cmprEqual);
  EXPECT_EQ(CompareKeyValues(n1.pData(), single.pData(), bftDouble, bftSingle, false, false, -1, false, 0x400), 0);
  EXPECT_EQ(CompareKeyValues(extended.pData(), extended.pData(), bftExtended, bftExtended, false, false, -1, false,
                             0x400),
            0);
  TNRDVariant null(bftDouble);
  EXPECT_EQ(null.Compare(n1, false, false, false), cmprLower);
  EXPECT_EQ(null.Compare(n1, true, false, false), cmprLeftNull);
}

// Integers read and written across integer types without a conversion buffer give what the
// general conversion gives: cut to the narrower width, sign as the type reads it.
TEST(NRDVariant, IntegerToIntegerAgreesWithTheConversion) {
  const TNRDBaseFieldType types[] = {bftSignedInt8,   bftSignedInt16,   bftSignedInt32,  bftSignedInt64,
                                     bftUnsignedInt8, bftUnsignedInt16, bftUnsignedInt32};
  const std::int64_t values[] = {0, 1, -1, 127, 128, 255, 256, -129, 32767, 40000, -40000, 70000,
                                 std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::min(),
                                 5000000000LL, std::numeric_limits<std::int64_t>::min()};
  // The bytes the general conversion makes of `value` given as `from`, in type `to`.
  auto converted = [](std::int64_t value, TNRDBaseFieldType to) {
    std::uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
    std::int32_t size = 0;
    void* p = ConvertValue(bytes, 8, bftSignedInt64, size, to);
    std::vector<std::uint8_t> r(static_cast<const std::uint8_t*>(p), static_cast<const std::uint8_t*>(p) + size);
    GlobalMemoryManager().FreeMem(p);
    return r;
  };
  auto bytesOf = [](const TNRDVariant& v) {
    const auto* p = static_cast<const std::uint8_t*>(v.pData());
    return std::vector<std::uint8_t>(p, p + v.DataSize());
  };
  for (TNRDBaseFieldType held : types)
    for (std::int64_t value : values) {
      TNRDVariant target(held);
      target.SetAsInt64(1);  // holds its buffer now: the next stores go in place
      target.SetAsInt64(value);
      ASSERT_EQ(target.DataType(), held);
      EXPECT_EQ(bytesOf(target), converted(value, held)) << held << " " << value;
      target.SetAsSmallint(static_cast<std::int16_t>(value));
      EXPECT_EQ(bytesOf(target), converted(static_cast<std::int16_t>(value), held)) << held << " " << value;
      target.SetAsCardinal(static_cast<std::uint32_t>(value));
      EXPECT_EQ(bytesOf(target), converted(static_cast<std::uint32_t>(value), held)) << held << " " << value;
      // Reading it back through each getter agrees with reading a converted copy.
      TNRDVariant copy;
      copy.Assign(target, true);
      copy.Cast(bftSignedInt64);
      const std::int64_t wide = copy.AsInt64();
      EXPECT_EQ(target.AsInt64(), wide);
      EXPECT_EQ(target.AsInteger(), static_cast<std::int32_t>(wide));
      EXPECT_EQ(target.AsSmallint(), static_cast<std::int16_t>(wide));
      EXPECT_EQ(target.AsShortint(), static_cast<std::int8_t>(wide));
      EXPECT_EQ(target.AsByte(), static_cast<std::uint8_t>(wide));
      EXPECT_EQ(target.AsWord(), static_cast<std::uint16_t>(wide));
      EXPECT_EQ(target.AsCardinal(), static_cast<std::uint32_t>(wide));
    }
}

// A copy into a value that owns a buffer of the same size reuses it; the copy stays a copy of its
// own and takes the source's type.
TEST(NRDVariant, CopyIntoAnOwnedBufferOfTheSameSize) {
  TNRDVariant source, target;
  source.SetAsInteger(7);
  target.SetAsSingle(1.5f);  // four bytes as well
  target.Assign(source, true);
  EXPECT_EQ(target.DataType(), bftSignedInt32);
  EXPECT_EQ(target.AsInteger(), 7);
  EXPECT_NE(target.pData(), source.pData());
  source.SetAsInteger(9);
  EXPECT_EQ(target.AsInteger(), 7);
  // A linked value is not written through: it is replaced by a copy of its own.
  TNRDVariant linked;
  linked.Assign(source, false);
  linked.Assign(target, true);
  EXPECT_EQ(linked.AsInteger(), 7);
  EXPECT_EQ(source.AsInteger(), 9);
  EXPECT_FALSE(linked.IsDataLinked());
  // A NULL source leaves a NULL of its type.
  TNRDVariant null(bftVarchar);
  target.Assign(null, true);
  EXPECT_TRUE(target.IsNull());
  EXPECT_EQ(target.DataType(), bftVarchar);
}
