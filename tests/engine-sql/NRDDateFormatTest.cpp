// Date format strings: tokens, ToDate, ToString and round trips, as tables.
#include "engine/sql/NRDDateFormat.h"

#include <gtest/gtest.h>

#include "engine/foundation/NRDExcept.h"

namespace {

using namespace nrd;

std::string ShowDate(TDateTime d) {
  return FormatDateTime("yyyy-mm-dd hh:nn:ss", d, TFormatSettings::Invariant());
}

struct ToDateCase {
  const char* format;
  const char* text;
  const char* expected;  // "yyyy-mm-dd hh:nn:ss" or "E<code>"
};

const ToDateCase kToDate[] = {
    {"YYYY-MM-DD", "2020-07-15", "2020-07-15 00:00:00"},
    {"yyyy-mm-dd", "2020-07-15", "2020-07-15 00:00:00"},
    {"HH24:NN", "13:45", "1899-12-30 13:45:00"},
    {"YY", "29", "1899-12-30 00:00:00"},  // no month and day: date part 0
    {"DD.MM.YY", "01.02.29", "2029-02-01 00:00:00"},
    {"DD.MM.YY", "01.02.30", "1930-02-01 00:00:00"},
    {"M/D/YYYY", "7/4/2020", "2020-07-04 00:00:00"},
    {"M/D/YYYY", "07/04/2020", "2020-07-04 00:00:00"},
    {"YYYY/Q/DD", "2020/3/01", "2020-07-01 00:00:00"},
    {"HH12:NN AMPM", "12:30 AM", "1899-12-30 00:30:00"},
    {"HH12:NN AMPM", "12:30 PM", "1899-12-30 12:30:00"},
    {"HH12:NN AMPM", "00:30 AM", "1899-12-30 00:30:00"},
    {"HH12:NN AMPM", "01:30 PM", "1899-12-30 13:30:00"},
    {"HH12 AMPM", "01 XM", "E30129"},
    {"YYYY-MM-DD", "2020-13-01", "E30510"},
    {"YYYY-MM-DD", "2020-02-30", "E30510"},
    {"YYYY-MM-DD", "20x0-01-01", "E30510"},
    {"YYYY-MM-DD", "", "E30510"},
    {"HH24:NN", "24:00", "E30510"},
    {"'at' HH24", "at 07", "1899-12-30 07:00:00"},
    {"YYYY-MM-DD HH24:NN", "1850-03-01 18:30", "1850-03-01 18:30:00"},
};

TEST(NRDDateFormat, ToDate) {
  for (const ToDateCase& c : kToDate) {
    std::string got;
    try {
      got = ShowDate(TDateFormater(c.format).ToDate(c.text));
    } catch (const ENRDException& e) {
      got = "E" + std::to_string(e.NativeError);
    }
    EXPECT_EQ(got, c.expected) << c.format << " / " << c.text;
  }
}

struct ToStringCase {
  const char* format;
  int h;
  const char* expected;
};

const ToStringCase kToString[] = {
    {"DD.MM.YYYY HH24:NN:SS", 13, "15.07.2020 13:05:09"},
    {"RM", 13, "VII"},
    {"HH12 AMPM", 13, "01 PM"},
    {"HH12 AMPM", 12, "12 PM"},
    {"HH12 AMPM", 0, "12 AM"},
    {"H12", 0, "12"},
    {"H24", 0, "0"},
    {"Q DW DY", 13, "3 3 197"},  // 15 July 2020 is a Wednesday, day 197
    {"YY-M-D", 13, "20-7-15"},
    {"'day:' DD", 13, "day: 15"},
    {"\"it's\" DD", 13, "it's 15"},
};

TEST(NRDDateFormat, ToString) {
  for (const ToStringCase& c : kToString) {
    const TDateTime d = EncodeDate(2020, 7, 15) + EncodeTime(c.h, 5, 9, 0);
    EXPECT_EQ(TDateFormater(c.format).ToString(d), c.expected) << c.format;
  }
}

TEST(NRDDateFormat, RoundTripsEveryHourOfTheClock) {
  for (const char* format : {"YYYY-MM-DD HH24:NN:SS", "DD.MM.YYYY HH12:NN:SS AMPM", "M/D/YYYY H:N:S AMPM"}) {
    const TDateFormater f(format);
    for (int h = 0; h < 24; ++h) {
      const TDateTime d = ComposeDateTime(EncodeDate(1850 + h, 1 + h % 12, 1 + h), EncodeTime(h, 7, 3, 0));
      EXPECT_EQ(ShowDate(f.ToDate(f.ToString(d))), ShowDate(d)) << format << " hour " << h;
    }
  }
}

TEST(NRDDateFormat, TokensSizesAndTypes) {
  EXPECT_EQ(TDateFormater("YYYY-MM-DD").GetStringMaxSize(), 10);
  EXPECT_EQ(TDateFormater("HH24:NN").GetDataType(), aftTime);
  EXPECT_EQ(TDateFormater("YYYY-MM-DD").GetDataType(), aftDate);
  EXPECT_EQ(TDateFormater("YYYY-MM-DD HH24:NN").GetDataType(), aftDateTime);
  EXPECT_EQ(TDateFormater("'x'").GetDataType(), aftDateTime);
  // Longest token first; letters that start no token stay literal; "day" is a token.
  EXPECT_EQ(TDateFormater("MONTH MON M at day").DebugGetTotenList(),
            "1 <dfMONTH> = 'MONTH'\r\n2 <dfText> = ' '\r\n3 <dfMON> = 'MON'\r\n4 <dfText> = ' '\r\n"
            "5 <dfM> = 'M'\r\n6 <dfText> = ' at '\r\n7 <dfDAY> = 'day'\r\n");
  EXPECT_EQ(TDateFormater("''").Tokens().size(), 1u);  // an empty quoted literal
}

}  // namespace
