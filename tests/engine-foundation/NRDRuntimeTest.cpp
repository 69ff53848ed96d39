#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <unistd.h>

#include "engine/foundation/NRDRuntime.h"
#include "engine/foundation/NRDText.h"

using namespace nrd;

namespace {
// Russian texts of the tests are written in UTF-8 and compared as ANSI bytes.
std::string A(std::u16string_view w) { return WideToAnsi(w); }
}  // namespace

TEST(NRDRuntime, FormatSpecifiers) {
  const TFormatSettings fs = TFormatSettings::Russian();
  struct Case {
    const char* format;
    std::vector<TVarRec> args;
    std::string expect;
  };
  const std::int64_t big = 9000000000LL;
  const std::u16string ivan = u"Иван";  // arguments are views: the text must outlive them
  const Case cases[] = {
      {"%d|%5d|%-5d|%.5d", {42, 42, 42, -42}, "42|   42|42   |-00042"},
      {"%d", {big}, "9000000000"},
      {"%u %x %.4x", {-1, 255, 10}, "4294967295 FF 000A"},
      {"%x", {std::int64_t{-1}}, "FFFFFFFFFFFFFFFF"},
      {"%s|%6s|%-6s|%.2s", {"abc", "abc", "abc", "abc"}, "abc|   abc|abc   |ab"},
      {"%s", {ivan}, A(u"Иван")},
      {"%f|%.3f|%.0f", {1.5, 2.0, 2.5}, "1,50|2,000|2"},
      {"%n", {1234567.891}, "1\xA0" "234\xA0" "567,89"},
      {"%m|%m", {1234.5, -2.0}, "1\xA0" "234,50 " + A(u"р.") + "|-2,00 " + A(u"р.")},
      {"%e", {12345.678}, "1,23456780000000E+004"},
      {"%g|%g", {0.5, 1e20}, "0,5|1E020"},
      {"%1:s %0:s %s", {"a", "b"}, "b a b"},
      {"%*d|%-*d|%.*d", {4, 7, 3, 8, 3, 9}, "   7|8  |009"},
      {"100%%", {}, "100%"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Format(c.format, std::span<const TVarRec>(c.args), fs), c.expect) << c.format;
  }
}

TEST(NRDRuntime, FormatRejectsMismatchedArguments) {
  const char* bad[] = {"%d", "%s", "%f", "%d %d", "%z", "%", "%5"};
  for (const char* f : bad) {
    EXPECT_THROW(Format(f, {}), EConvertError) << f;
  }
  EXPECT_THROW(Format("%d", {"text"}), EConvertError);
  EXPECT_THROW(Format("%s", {5}), EConvertError);
  EXPECT_THROW(Format("%f", {5}), EConvertError);
  EXPECT_THROW(Format("%d", {1.5}), EConvertError);
  EXPECT_THROW(Format("%d", {true}), EConvertError);
  EXPECT_THROW(Format("%3:d", {1}), EConvertError);
  EXPECT_EQ(Format("%d", {1, 2}), "1");  // extra arguments are ignored
}

TEST(NRDRuntime, RussianSettingsAreTheDefault) {
  const TFormatSettings& fs = FormatSettings();
  EXPECT_EQ(fs.DecimalSeparator, ',');
  EXPECT_EQ(fs.ThousandSeparator, '\xA0');
  EXPECT_EQ(fs.DateSeparator, '.');
  EXPECT_EQ(fs.TimeSeparator, ':');
  EXPECT_EQ(fs.ShortDateFormat, "dd.MM.yyyy");
  EXPECT_EQ(fs.LongTimeFormat, "H:mm:ss");
  EXPECT_EQ(fs.CurrencyString, A(u"р."));
  EXPECT_EQ(fs.LongMonthNames[0], A(u"Январь"));
  EXPECT_EQ(fs.ShortDayNames[1], A(u"Пн"));
}

TEST(NRDRuntime, IntegerTexts) {
  struct Case {
    const char* text;
    bool ok;
    std::int64_t value;
  };
  const Case cases[] = {
      {"0", true, 0}, {"  -17", true, -17}, {"+5", true, 5}, {"$FF", true, 255}, {"0x1f", true, 31},
      {"-$10", true, -16}, {"9223372036854775807", true, INT64_MAX}, {"-9223372036854775808", true, INT64_MIN},
      {"9223372036854775808", false, 0}, {"$FFFFFFFFFFFFFFFF", true, -1}, {"", false, 0}, {" ", false, 0},
      {"12 ", false, 0}, {"1.5", false, 0}, {"0x", false, 0}, {"--1", false, 0}, {"1e3", false, 0}, {"x1A", true, 26},
  };
  for (const Case& c : cases) {
    std::int64_t v = 0;
    EXPECT_EQ(TryStrToInt64(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
  std::int32_t i32;
  EXPECT_FALSE(TryStrToInt("2147483648", i32));
  EXPECT_TRUE(TryStrToInt("-2147483648", i32));
  try {
    StrToInt("z1");
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'z1' is not a valid integer value");
  }
  EXPECT_EQ(IntToStr(INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(IntToHex(255, 4), "00FF");
}

TEST(NRDRuntime, FloatTexts) {
  struct Case {
    const char* text;
    bool ok;
    long double value;
  };
  const Case cases[] = {
      {"1,5", true, 1.5L}, {"1.5", true, 1.5L}, {" -2,25e2 ", true, -225.0L}, {"1E-3", true, 0.001L},
      {",5", true, 0.5L}, {"5,", true, 5.0L}, {"1\xA0" "000", false, 0}, {"inf", false, 0}, {"nan", false, 0},
      {"1e", false, 0}, {"", false, 0}, {"1,2,3", false, 0}, {"1e99999", false, 0}, {"0x10", false, 0},
  };
  for (const Case& c : cases) {
    long double v = 0;
    EXPECT_EQ(TryStrToFloat(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_DOUBLE_EQ(static_cast<double>(v), static_cast<double>(c.value)) << c.text;
    }
  }
  const std::pair<long double, const char*> out[] = {
      {0, "0"}, {1.5L, "1,5"}, {-0.1L, "-0,1"}, {123456789012345.0L, "123456789012345"},
      {1e15L, "1E15"}, {0.0001L, "0,0001"}, {0.00001L, "1E-5"}, {1.0L / 3, "0,333333333333333"},
      {2.5e-10L, "2,5E-10"}, {std::numeric_limits<double>::infinity(), "INF"},
  };
  for (auto [v, text] : out) EXPECT_EQ(FloatToStr(v), text);
  EXPECT_EQ(CurrToStr(12.34567), "12,3457");
  EXPECT_DOUBLE_EQ(StrToCurr("1,23456"), 1.2346);
}

TEST(NRDRuntime, DateEncodingRoundTripsOverAllYears) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(1, 1, 1), kMinDateTime);
  EXPECT_EQ(EncodeDate(9999, 12, 31), 2958465.0);
  EXPECT_EQ(EncodeDate(2024, 2, 29), 45351.0);
  TDateTime d;
  EXPECT_FALSE(TryEncodeDate(2023, 2, 29, d));
  EXPECT_FALSE(TryEncodeDate(0, 1, 1, d));
  EXPECT_FALSE(TryEncodeDate(10000, 1, 1, d));
  EXPECT_THROW(EncodeDate(1900, 13, 1), EConvertError);
  // Every 97th day over the whole range, and the first and last day of each year.
  int y, m, dd;
  for (double serial = kMinDateTime; serial <= 2958465.0; serial += 97) {
    ASSERT_TRUE(TryDecodeDate(serial, y, m, dd));
    ASSERT_EQ(EncodeDate(y, m, dd), serial);
  }
  for (int year = 1; year <= 9999; ++year) {
    DecodeDate(EncodeDate(year, 12, 31), y, m, dd);
    ASSERT_EQ(y * 10000 + m * 100 + dd, year * 10000 + 1231);
    ASSERT_EQ(EncodeDate(year, 1, 1) + (IsLeapYear(year) ? 365 : 364), EncodeDate(year, 12, 31));
  }
  EXPECT_FALSE(TryDecodeDate(kMinDateTime - 1, y, m, dd));
  EXPECT_FALSE(TryDecodeDate(std::nan(""), y, m, dd));
}

TEST(NRDRuntime, NegativeSerialsKeepTheirDay) {
  // 1899-12-29 12:00 is -1.5: the day is the 29th, the time counts forward.
  int y, m, d, h, n, s, ms;
  DecodeDate(-1.5, y, m, d);
  DecodeTime(-1.5, h, n, s, ms);
  EXPECT_EQ(y * 10000 + m * 100 + d, 18991229);
  EXPECT_EQ(h, 12);
  EXPECT_EQ(ComposeDateTime(EncodeDate(1899, 12, 29), EncodeTime(12, 0, 0, 0)), -1.5);
  EXPECT_EQ(ComposeDateTime(EncodeDate(1812, 9, 7), EncodeTime(6, 0, 0, 0)), EncodeDate(1812, 9, 7) - 0.25);
  TTimeStamp ts = DateTimeToTimeStamp(-1.5);
  EXPECT_EQ(ts.Date, kDateDelta - 1);
  EXPECT_EQ(ts.Time, 43200000);
  EXPECT_EQ(TimeStampToDateTime(ts), -1.5);
  EXPECT_EQ(DateTimeToTimeStamp(0.5).Date, kDateDelta);
  // Rounding to the next midnight carries into the next day.
  ts = DateTimeToTimeStamp(1.0 - 1e-10);
  EXPECT_EQ(ts.Date, kDateDelta + 1);
  EXPECT_EQ(ts.Time, 0);
  EXPECT_THROW(DateTimeToTimeStamp(1e12), ERangeError);
  EXPECT_EQ(DayOfWeek(EncodeDate(2024, 3, 5)), 3);  // a Tuesday
}

TEST(NRDRuntime, DateTexts) {
  const TFormatSettings ru = TFormatSettings::Russian();
  TDateTime v = ComposeDateTime(EncodeDate(2024, 3, 5), EncodeTime(7, 8, 9, 10));
  EXPECT_EQ(DateToStr(v, ru), "05.03.2024");
  EXPECT_EQ(TimeToStr(v, ru), "7:08:09");
  EXPECT_EQ(DateTimeToStr(v, ru), "05.03.2024 7:08:09");
  EXPECT_EQ(DateTimeToStr(EncodeDate(1700, 1, 2), ru), "02.01.1700");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", v, ru), "2024-03-05 07:08:09.010");
  EXPECT_EQ(FormatDateTime("d mmmm yy, dddd", v, ru), "5 " + A(u"Март") + " 24, " + A(u"вторник"));
  EXPECT_EQ(FormatDateTime("'at' h:nn am/pm", EncodeTime(15, 4, 0, 0), ru), "at 3:04 pm");
  EXPECT_EQ(FormatDateTime("dd/mm/yyyy", v, ru), "05.03.2024");

  struct Case {
    const char* text;
    bool ok;
    int y, m, d, h, n, s;
  };
  const Case cases[] = {
      {"05.03.2024", true, 2024, 3, 5, 0, 0, 0},
      {" 5.3.2024 ", true, 2024, 3, 5, 0, 0, 0},
      {"29.12.1899 12:00", true, 1899, 12, 29, 12, 0, 0},
      {"01.01.0001 23:59:59", true, 1, 1, 1, 23, 59, 59},
      {"31.02.2024", false, 0, 0, 0, 0, 0, 0},
      {"2024-03-05", false, 0, 0, 0, 0, 0, 0},
      {"05.03.2024 25:00", false, 0, 0, 0, 0, 0, 0},
      {"05.03.2024 x", false, 0, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    TDateTime r = 0;
    ASSERT_EQ(TryStrToDateTime(c.text, r, ru), c.ok) << c.text;
    if (!c.ok) continue;
    int y, m, d, h, n, s, ms;
    DecodeDate(r, y, m, d);
    DecodeTime(r, h, n, s, ms);
    EXPECT_EQ(std::vector<int>({y, m, d, h, n, s}), std::vector<int>({c.y, c.m, c.d, c.h, c.n, c.s})) << c.text;
  }
  TDateTime t;
  EXPECT_TRUE(TryStrToTime("13:45:10.5", t, ru));
  EXPECT_EQ(FormatDateTime("hh:nn:ss.zzz", t, ru), "13:45:10.500");
  EXPECT_TRUE(TryStrToDate("05.03.24", t, ru));
  int y, m, d;
  DecodeDate(t, y, m, d);
  EXPECT_EQ(y, 2024);
  EXPECT_THROW(StrToDate("32.01.2000"), EConvertError);
  const TFormatSettings iso = TFormatSettings::Invariant();
  EXPECT_EQ(StrToDate("2024-03-05", iso), EncodeDate(2024, 3, 5));
}

TEST(NRDRuntime, ExplicitChecksNeverTrap) {
  EXPECT_THROW(CheckedAdd32(INT32_MAX, 1), EIntOverflow);
  EXPECT_THROW(CheckedSub32(INT32_MIN, 1), EIntOverflow);
  EXPECT_THROW(CheckedMul32(65536, 65536), EIntOverflow);
  EXPECT_THROW(CheckedNeg32(INT32_MIN), EIntOverflow);
  EXPECT_THROW(CheckedNeg64(INT64_MIN), EIntOverflow);
  EXPECT_THROW(CheckedMul64(INT64_MAX, 2), EIntOverflow);
  EXPECT_EQ(CheckedAdd64(-5, 3), -2);
  EXPECT_THROW(CheckedDiv64(1, 0), EDivByZero);
  EXPECT_THROW(CheckedMod64(1, 0), EDivByZero);
  EXPECT_THROW(CheckedDivU64(1, 0), EDivByZero);
  EXPECT_EQ(CheckedDiv64(INT64_MIN, -1), INT64_MIN);
  EXPECT_EQ(CheckedDiv64(-7, 2), -3);
  EXPECT_EQ(CheckedMod64(INT64_MIN, -1), 0);
  try {
    CheckedDiv64(7, 0);
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Division by zero");
  }
  EXPECT_THROW(CheckedFloatDiv(1, 0), EZeroDivide);
  EXPECT_THROW(CheckedFloatDiv(0, 0), EInvalidOp);
  EXPECT_THROW(CheckedFloatDiv(1e4000L, 1e-4000L), EOverflow);
  EXPECT_THROW(CheckFloat(std::nan("")), EInvalidOp);
  EXPECT_EQ(CheckedFloatDiv(1, 4), 0.25L);
  EXPECT_EQ(WrapAdd<std::int8_t>(100, 100), -56);
  EXPECT_EQ(WrapAdd<std::int32_t>(INT32_MAX, 1), INT32_MIN);
  EXPECT_EQ(WrapMul<std::int16_t>(-32768, -1), -32768);
  EXPECT_EQ(WrapMul<std::int64_t>(INT64_MAX, 3), INT64_MAX - 2);
  EXPECT_EQ(WrapNeg<std::int64_t>(INT64_MIN), INT64_MIN);
  EXPECT_EQ(WrapSub<std::uint8_t>(0, 1), 255);
  EXPECT_THROW(TruncToInt64(std::nan("")), EInvalidOp);
  EXPECT_THROW(TruncToInt64(9.3e18L), EInvalidOp);
  EXPECT_THROW(RoundToInt64(-std::numeric_limits<double>::infinity()), EInvalidOp);
  EXPECT_EQ(TruncToInt64(-2.7L), -2);
  EXPECT_EQ(RoundToInt64(2.5L), 2);
  EXPECT_EQ(RoundToInt64(3.5L), 4);
  EXPECT_EQ(TruncToInt64(-9223372036854775808.0L), INT64_MIN);
}

TEST(NRDRuntime, GuidsAndTemporaryFiles) {
  TGUID a = CreateGUID(), b = CreateGUID();
  EXPECT_FALSE(a == b);
  std::string s = GUIDToString(a);
  ASSERT_EQ(s.size(), 38u);
  EXPECT_EQ(s[0], '{');
  EXPECT_EQ(s[15], '4');  // version 4
  EXPECT_EQ(s.find_first_of("abcdef"), std::string::npos);
  std::string name;
  int fd = CreateTemporaryFile("NRD", name);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(name.rfind(GetTempDirectory() + "/NRD", 0), 0u);
  EXPECT_NE(access(name.c_str(), F_OK), 0);  // unlinked at once
  EXPECT_EQ(write(fd, "x", 1), 1);
  close(fd);
}
