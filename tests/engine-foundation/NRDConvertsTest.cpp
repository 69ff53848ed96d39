#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>
#include <cstring>
#include <set>
#include <vector>

#include "tests/engine-foundation/EngineTestUtil.h"
#include "engine/foundation/NRDConverts.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDText.h"
#include "engine/foundation/NRDTypesRoutines.h"

using namespace nrd;

namespace {

using enginetest::CodeOf;

// A sample value of each storage type, in its encoding.
std::vector<std::uint8_t> Sample(TNRDBaseFieldType t) {
  std::vector<std::uint8_t> b(16, 0);
  switch (t) {
    case bftChar:
    case bftVarchar:
    case bftClob:
    case bftBlob:
    case bftBytes:
    case bftVarBytes:
    case bftBFile:
    case bftUnknown: return {'1', 0};
    case bftWideChar:
    case bftWideVarchar:
    case bftWideClob: return {'1', 0, 0, 0};
    case bftSingle: { float f = 1; std::memcpy(b.data(), &f, 4); b.resize(4); return b; }
    case bftDouble:
    case bftCurrency: { double d = 1; std::memcpy(b.data(), &d, 8); b.resize(8); return b; }
    case bftExtended: PutExtended(b.data(), 1.0L); b.resize(10); return b;
    case bftLogical: b[0] = b[1] = 0xFF; b.resize(2); return b;
    case bftDate: PutLE32(b.data(), 739000); b.resize(4); return b;
    case bftDateTime: PutLE32(b.data(), 739000); PutLE32(b.data() + 4, 1000); b.resize(8); return b;
    default: b[0] = 1; b.resize(static_cast<std::size_t>(GetDataTypeSize(t, 0))); return b;
  }
}

std::string Text(const void* p) { return std::string(static_cast<const char*>(p)); }

// Converts and returns the bytes (freeing the buffer).
std::vector<std::uint8_t> Convert(const std::vector<std::uint8_t>& src, TNRDBaseFieldType s, TNRDBaseFieldType d) {
  std::int32_t size = 0;
  void* p = ConvertValue(src.data(), static_cast<std::int32_t>(src.size()), s, size, d);
  std::vector<std::uint8_t> r(static_cast<std::uint8_t*>(p), static_cast<std::uint8_t*>(p) + size);
  GlobalMemoryManager().FreeMem(p);
  return r;
}

std::vector<std::uint8_t> AnsiBytes(std::string s) {
  std::vector<std::uint8_t> r(s.begin(), s.end());
  r.push_back(0);
  return r;
}
std::vector<std::uint8_t> WideBytes(std::u16string s) {
  std::vector<std::uint8_t> r;
  for (char16_t c : s) {
    r.push_back(static_cast<std::uint8_t>(c));
    r.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  r.push_back(0);
  r.push_back(0);
  return r;
}
std::vector<std::uint8_t> I32(std::int32_t v) {
  std::vector<std::uint8_t> r(4);
  PutLE32(r.data(), static_cast<std::uint32_t>(v));
  return r;
}
std::vector<std::uint8_t> F64(double v) {
  std::vector<std::uint8_t> r(8);
  std::memcpy(r.data(), &v, 8);
  return r;
}
double AsF64(const std::vector<std::uint8_t>& b) {
  double v;
  std::memcpy(&v, b.data(), 8);
  return v;
}

}  // namespace

TEST(NRDConverts, ConversionMatrixOfAllTypePairs) {
  const std::set<int> texts = {bftChar, bftWideChar, bftVarchar, bftWideVarchar};
  const std::set<int> ints = {bftSignedInt8, bftSignedInt16, bftSignedInt32, bftSignedInt64,
                              bftUnsignedInt8, bftUnsignedInt16, bftUnsignedInt32};
  const std::set<int> floats = {bftSingle, bftDouble, bftExtended};
  const std::set<int> dates = {bftDate, bftTime, bftDateTime};
  auto in = [](const std::set<int>& s, int t) { return s.count(t) != 0; };
  auto listed = [&](int s, int d) {
    bool commonTarget = in(texts, d) || in(ints, d) || in(floats, d);
    if (in(texts, s) || s == bftClob || s == bftWideClob)
      return commonTarget || in(dates, d) || d == bftLogical || d == bftCurrency || d == bftBlob;
    if (in(ints, s) || in(floats, s) || in(dates, s))
      return commonTarget || in(dates, d) || d == bftLogical || d == bftCurrency;
    if (s == bftLogical) return commonTarget || d == bftLogical;
    if (s == bftCurrency) return commonTarget || d == bftLogical || d == bftCurrency;
    return false;
  };
  int converted = 0;
  for (int s = 0; s < kBaseFieldTypeCount; ++s) {
    for (int d = 0; d < kBaseFieldTypeCount; ++d) {
      auto src = Sample(static_cast<TNRDBaseFieldType>(s));
      int code = CodeOf([&] { Convert(src, static_cast<TNRDBaseFieldType>(s), static_cast<TNRDBaseFieldType>(d)); });
      if (listed(s, d)) {
        EXPECT_TRUE(code == 0 || code == 30051) << s << " -> " << d << " gave " << code;
        converted += code == 0;
      } else {
        EXPECT_EQ(code, 30052) << s << " -> " << d;
      }
    }
  }
  EXPECT_GT(converted, 300);
  try {
    Convert(Sample(bftLogical), bftLogical, bftCurrency);
  } catch (const ENRDException& e) {
    EXPECT_STREQ(e.what(), "Cannot cast from 'LOGICAL' to 'CURRENCY' - Native error: 30052");
  }
  try {
    Convert(AnsiBytes("x"), bftVarchar, bftSignedInt32);
  } catch (const ENRDException& e) {
    EXPECT_STREQ(e.what(), "Cannot cast from 'STRING' to 'INTEGER' - Native error: 30051");
  }
}

TEST(NRDConverts, ConversionValues) {
  // Text to numbers.
  EXPECT_EQ(Convert(AnsiBytes("300"), bftVarchar, bftSignedInt8), std::vector<std::uint8_t>{44});
  EXPECT_EQ(Convert(AnsiBytes("-1"), bftVarchar, bftUnsignedInt8), std::vector<std::uint8_t>{255});
  EXPECT_EQ(Convert(AnsiBytes(" $1F"), bftVarchar, bftSignedInt32), I32(31));
  EXPECT_EQ(CodeOf([] { Convert(AnsiBytes("3000000000"), bftVarchar, bftSignedInt32); }), 30051);
  EXPECT_EQ(GetLE64(Convert(AnsiBytes("3000000000"), bftVarchar, bftSignedInt64).data()), 3000000000u);
  EXPECT_EQ(CodeOf([] { Convert(AnsiBytes("3000000000"), bftClob, bftSignedInt64); }), 30051);
  EXPECT_DOUBLE_EQ(AsF64(Convert(AnsiBytes("2.5e1"), bftVarchar, bftDouble)), 25.0);
  EXPECT_EQ(CodeOf([] { Convert(AnsiBytes("2,5"), bftVarchar, bftDouble); }), 30051);
  EXPECT_EQ(CodeOf([] { Convert(AnsiBytes("nan"), bftVarchar, bftDouble); }), 30051);
  EXPECT_EQ(CodeOf([] { Convert(AnsiBytes("inf"), bftVarchar, bftDouble); }), 30051);
  // Text to Logical never fails.
  const std::pair<const char*, int> logicals[] = {{"yes", 0}, {"true", 0xFF}, {"TRUE", 0xFF}, {"1", 0xFF}, {"", 0}};
  for (auto [text, v] : logicals) EXPECT_EQ(Convert(AnsiBytes(text), bftVarchar, bftLogical)[0], v) << text;
  // Text to dates: ISO first, then the locale's format.
  std::int32_t day = DateTimeToNRDDate(EncodeDate(2024, 3, 5));
  EXPECT_EQ(Convert(AnsiBytes("2024-03-05 10:20:30"), bftVarchar, bftDate), I32(day));
  auto dt = TNRDDateTime::Decode(Convert(AnsiBytes("2024-03-05 10:20:30"), bftVarchar, bftDateTime).data());
  EXPECT_EQ(dt.Date, day);
  EXPECT_EQ(dt.Time, 37230000);
  EXPECT_EQ(Convert(AnsiBytes("05.03.2024"), bftVarchar, bftDate), I32(day));
  EXPECT_EQ(Convert(WideBytes(u"05.03.2024"), bftWideVarchar, bftDate), I32(day));
  EXPECT_EQ(CodeOf([] { Convert(WideBytes(u"2024-03-05"), bftWideVarchar, bftDate); }), 30051);
  EXPECT_EQ(CodeOf([] { Convert(AnsiBytes("2024-13-01"), bftVarchar, bftDate); }), 30051);
  EXPECT_EQ(Convert(AnsiBytes("10:20:30"), bftVarchar, bftTime), I32(37230000));
  // Floats to integers truncate; out of range fails.
  EXPECT_EQ(Convert(F64(2.9), bftDouble, bftSignedInt32), I32(2));
  EXPECT_EQ(Convert(F64(-2.9), bftDouble, bftSignedInt32), I32(-2));
  EXPECT_EQ(CodeOf([] { Convert(F64(1e30), bftDouble, bftSignedInt32); }), 30051);
  EXPECT_EQ(CodeOf([] { Convert(F64(NAN), bftDouble, bftSignedInt64); }), 30051);
  EXPECT_EQ(CodeOf([] { Convert(F64(INFINITY), bftDouble, bftSignedInt16); }), 30051);
  EXPECT_EQ(CodeOf([] { Convert(F64(1e300), bftDouble, bftSingle); }), 30051);
  EXPECT_EQ(Convert(I32(70000), bftSignedInt32, bftUnsignedInt16), (std::vector<std::uint8_t>{0x70, 0x11}));
  EXPECT_EQ(Text(Convert(F64(1.5), bftDouble, bftVarchar).data()), "1,5");
  EXPECT_EQ(Text(Convert({0xFF, 0xFF, 0xFF, 0xFF}, bftUnsignedInt32, bftVarchar).data()), "4294967295");
  // Dates and times to text; the empty forms.
  EXPECT_EQ(Text(Convert(I32(kNRDNoDate), bftDate, bftVarchar).data()), "");
  EXPECT_EQ(Text(Convert(I32(0), bftTime, bftVarchar).data()), "");
  EXPECT_EQ(Text(Convert(I32(day), bftDate, bftVarchar).data()), "05.03.2024");
  EXPECT_EQ(Text(Convert(I32(37230000), bftTime, bftVarchar).data()), "10:20:30");
  std::vector<std::uint8_t> half(8);
  TNRDDateTime{day, 43200000}.Encode(half.data());
  EXPECT_DOUBLE_EQ(AsF64(Convert(half, bftDateTime, bftDouble)), day + 0.5);
  EXPECT_EQ(Text(Convert(half, bftDateTime, bftVarchar).data()), "05.03.2024 12:00:00");
  EXPECT_EQ(Convert(half, bftDateTime, bftWideVarchar), WideBytes(u"05.03.2024 12:00:00"));
  // Logical and Currency.
  EXPECT_EQ(Text(Convert({0x01, 0x00}, bftLogical, bftVarchar).data()), "True");
  EXPECT_EQ(Text(Convert(F64(12.34567), bftCurrency, bftVarchar).data()), "12,3457");
  // A Clob of known size keeps all its bytes; narrow text to wide through the code page.
  EXPECT_EQ(Convert({'a', 'b'}, bftClob, bftVarchar), AnsiBytes("ab"));
  EXPECT_EQ(Convert(AnsiBytes("\xC8\xE2"), bftVarchar, bftWideVarchar), WideBytes(u"Ив"));
  EXPECT_EQ(Convert(WideBytes(u"Ив中"), bftWideVarchar, bftVarchar), AnsiBytes("\xC8\xE2?"));
  // A text read stops at the given size even without a terminating zero.
  std::vector<std::uint8_t> unterminated = {'4', '2'};
  EXPECT_EQ(Convert(unterminated, bftVarchar, bftSignedInt32), I32(42));
}

TEST(NRDConverts, ResultTypes) {
  using T = TNRDBaseFieldType;
  const T order[7] = {bftSignedInt8, bftSignedInt16, bftSignedInt32, bftSignedInt64, bftUnsignedInt8, bftUnsignedInt16, bftUnsignedInt32};
  const char* table[7] = {"8 16 32 64 16 u16 u32", "16 16 32 64 16 u16 u32", "32 32 32 64 32 32 64",
                          "64 64 64 64 64 64 64", "16 16 32 64 u8 u16 u32", "32 32 32 64 u16 u16 u32",
                          "64 64 64 64 u32 u32 u32"};
  auto parse = [](const std::string& w) -> T {
    if (w == "8") return bftSignedInt8;
    if (w == "16") return bftSignedInt16;
    if (w == "32") return bftSignedInt32;
    if (w == "64") return bftSignedInt64;
    if (w == "u8") return bftUnsignedInt8;
    if (w == "u16") return bftUnsignedInt16;
    return bftUnsignedInt32;
  };
  for (int r = 0; r < 7; ++r) {
    std::istringstream row(table[r]);
    for (int c = 0; c < 7; ++c) {
      std::string w;
      row >> w;
      EXPECT_EQ(GetResultDataType(order[r], order[c], false), parse(w)) << r << "," << c;
    }
  }
  struct Case {
    T l, r;
    bool cmp;
    T expect;
  };
  const Case cases[] = {
      {bftWideChar, bftVarchar, false, bftWideChar}, {bftChar, bftVarchar, false, bftVarchar},
      {bftChar, bftChar, false, bftChar}, {bftVarchar, bftWideVarchar, false, bftWideVarchar},
      {bftVarchar, bftClob, false, bftVarchar}, {bftWideClob, bftChar, false, bftWideChar},
      {bftVarchar, bftWideClob, false, bftWideVarchar}, {bftClob, bftClob, false, bftChar},
      {bftClob, bftWideClob, false, bftWideChar}, {bftClob, bftSignedInt32, false, bftUnknown},
      {bftVarchar, bftSignedInt32, true, bftVarchar}, {bftVarchar, bftDate, false, bftVarchar},
      {bftVarchar, bftDate, true, bftDate}, {bftDateTime, bftVarchar, true, bftDateTime},
      {bftSignedInt32, bftDouble, false, bftDouble}, {bftSingle, bftExtended, false, bftExtended},
      {bftDouble, bftSingle, false, bftDouble}, {bftSignedInt32, bftDate, false, bftDate},
      {bftDate, bftTime, false, bftDateTime}, {bftTime, bftTime, false, bftTime},
      {bftDateTime, bftDate, false, bftDateTime}, {bftLogical, bftSignedInt16, false, bftSignedInt16},
      {bftLogical, bftLogical, false, bftLogical}, {bftLogical, bftCurrency, false, bftUnknown},
      {bftLogical, bftDate, true, bftUnknown}, {bftCurrency, bftSignedInt64, false, bftCurrency},
      {bftDouble, bftCurrency, false, bftCurrency}, {bftCurrency, bftDouble, false, bftDouble},
      {bftCurrency, bftDate, false, bftUnknown}, {bftBlob, bftBlob, true, bftUnknown},
      {bftBytes, bftVarchar, false, bftUnknown}, {bftUnknown, bftSignedInt32, false, bftUnknown},
  };
  for (const Case& c : cases) EXPECT_EQ(GetResultDataType(c.l, c.r, c.cmp), c.expect) << int(c.l) << "," << int(c.r);
  EXPECT_EQ(GetResultAdvancedDataType(aftAutoInc, aftLargeint, false), aftLargeint);
  EXPECT_EQ(GetResultAdvancedDataType(aftAutoInc, aftSmallint, false), aftAutoInc);
  EXPECT_EQ(GetResultAdvancedDataType(aftShortint, aftByte, false), aftSmallint);
  EXPECT_EQ(GetResultAdvancedDataType(aftBlob, aftByte, false), aftUnknown);
}

TEST(NRDConverts, TypeTable) {
  EXPECT_EQ(BaseFieldTypeToSQLName(bftDouble), "FLOAT");
  EXPECT_EQ(BaseFieldTypeToSQLName(bftUnknown), "Unknown");
  EXPECT_EQ(BaseFieldTypeToSQLName(bftVarchar), "STRING");
  EXPECT_EQ(BaseFieldTypeToSQLName(bftClob), "MEMO");
  EXPECT_EQ(BaseFieldTypeToSQLName(bftWideClob), "WIDEMEMO");
  EXPECT_EQ(AdvancedFieldTypeToSQLName(aftGuid), "GUID");
  EXPECT_EQ(AdvancedToBaseFieldType(aftTimeStamp), bftDateTime);
  EXPECT_EQ(AdvancedToBaseFieldType(aftAutoIncWord), bftUnsignedInt16);
  EXPECT_EQ(BaseToAdvancedFieldType(bftSignedInt32), aftInteger);
  EXPECT_EQ(BaseToAdvancedFieldType(bftBFile), aftUnknown);
  EXPECT_EQ(FieldTypeToAdvancedFieldType(ftBCD), aftDouble);
  EXPECT_EQ(FieldTypeToAdvancedFieldType(ftWideString), aftWideChar);
  EXPECT_EQ(AdvancedFieldTypeToFieldType(aftCardinal), ftLargeint);
  try {
    FieldTypeToAdvancedFieldType(ftFixedWideChar);
    ADD_FAILURE();
  } catch (const ENRDException& e) {
    EXPECT_EQ(e.NativeError, 30289);
    EXPECT_NE(std::string(e.what()).find("'38'"), std::string::npos);
  }
  int convertible = 0;
  for (int t = 0; t < kAdvancedFieldTypeCount; ++t) convertible += IsConvertibleAdvancedFieldType(static_cast<TNRDAdvancedFieldType>(t));
  EXPECT_EQ(convertible, 31);
  EXPECT_TRUE(IsSizedAdvancedFieldType(aftVarBytes));
  EXPECT_FALSE(IsSizedAdvancedFieldType(aftGuid));
  EXPECT_TRUE(IsNumericAdvancedFieldType(aftAutoIncCardinal));
  EXPECT_TRUE(IsDateTimeAdvancedFieldType(aftTimeStamp));
}

TEST(NRDConverts, EngineDatesAndIsoTexts) {
  EXPECT_EQ(DateTimeToNRDDate(0.5), 693594);
  EXPECT_EQ(DateTimeToNRDDate(-1.5), 693593);
  EXPECT_EQ(DateTimeToNRDTime(-1.5), 43200000);
  EXPECT_EQ(DateTimeToNRDTime(1.0 - 1e-11), 86400000);  // not carried into the day
  EXPECT_EQ(NRDDateToDateTime(1), EncodeDate(1, 1, 1));
  // 1899-12-29 12:00 stays on its day.
  TNRDDateTime dt = DateTimeToNRDDateTime(-1.5);
  EXPECT_EQ(NRDDateTimeToDateTime(dt), -1.5);
  int y, m, d;
  DecodeDate(NRDDateTimeToDateTime(dt), y, m, d);
  EXPECT_EQ(d, 29);
  // Round trips over years 1..9999 with a time of day.
  for (int year = 1; year <= 9999; year += 7) {
    TDateTime t = ComposeDateTime(EncodeDate(year, 7, 15), EncodeTime(18, 30, 0, 250));
    TNRDDateTime e = DateTimeToNRDDateTime(t);
    ASSERT_EQ(e.Time, 66600250) << year;
    ASSERT_EQ(NRDDateTimeToDateTime(e), t) << year;
  }
  struct Case {
    const char* text;
    bool ok;
  };
  const Case dates[] = {{"2024-03-05", true}, {"2024-03-05T", true}, {"2024/03/05", true}, {"2024 03 05", true},
                        {"2024-3-05", false}, {"2024-03-05TZ", false}, {"20240305", false}, {"", false}};
  for (const Case& c : dates) {
    TDateTime v = 0;
    EXPECT_EQ(TryParseISODate(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, EncodeDate(2024, 3, 5)) << c.text;
    }
  }
  TDateTime v;
  EXPECT_THROW(TryParseISODate("2024-13-01", v), EConvertError);
  EXPECT_TRUE(TryParseISOTime("10:20:30", v));
  EXPECT_EQ(v, EncodeTime(10, 20, 30, 0));
  EXPECT_FALSE(TryParseISOTime("10:20", v));
  EXPECT_TRUE(TryParseISODateTime("1812-09-07 06:00:00", v));
  EXPECT_EQ(v, ComposeDateTime(EncodeDate(1812, 9, 7), EncodeTime(6, 0, 0, 0)));
}

TEST(NRDConverts, LikeMatching) {
  struct Case {
    const char* value;
    const char* pattern;
    bool ci;
    bool expect;
  };
  const Case cases[] = {
      {"abc", "a%", false, true}, {"abc", "a_c", false, true}, {"abc", "%d", false, false},
      {"ABC", "abc", true, true}, {"ABC", "abc", false, false}, {"", "%", false, true},
      {"", "%%", false, true}, {"abc", "abc%", false, true}, {"abc", "%", false, true},
      {"abc", "_", false, false}, {"abc", "___", false, true}, {"", "_", false, false},
      {"abcbc", "%bc", false, true}, {"mississippi", "m%iss%pi", false, true},
      {"\xC8\xE2\xE0\xED", "\xE8%", true, true},  // Cyrillic case folding in the code page
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchLikeAnsi(c.value, c.pattern, false, '\\', c.ci), c.expect) << c.value << " LIKE " << c.pattern;
    EXPECT_EQ(MatchLikeWide(AnsiToWide(c.value), AnsiToWide(c.pattern), false, u'\\', c.ci), c.expect) << c.value;
  }
  EXPECT_TRUE(MatchLikeAnsi("a%", "a\\%", true, '\\', false));
  EXPECT_FALSE(MatchLikeAnsi("ab", "a\\%", true, '\\', false));
  EXPECT_TRUE(MatchLikeAnsi("a_b", "a!_b", true, '!', false));
  EXPECT_FALSE(MatchLikeAnsi("axb", "a!_b", true, '!', false));
  // A pattern with many "%" runs in polynomial time.
  std::string longValue(5000, 'a');
  EXPECT_FALSE(MatchLikeAnsi(longValue, "%a%a%a%a%a%a%a%a%b", false, '\\', false));
  EXPECT_TRUE(MatchLikeWide(std::u16string(5000, u'a') + u"b", u"%a%a%a%a%a%a%a%a%b", false, u'\\', true));
}
