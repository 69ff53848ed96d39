// The date grammar as one table of cases, against a fixed today.
#include "app/core/GDate.h"
#include "app/core/UnitFunc.h"

#include <gtest/gtest.h>

#include "tests/core/QtPrint.h"

namespace {

const TDateContext kCtx = TDateContext::ForDate(QDate(2026, 12, 10));
const char* const kToday = "20261210";

struct DateCase {
  const char* in;
  const char* norm;
  const char* sort1;
  const char* sort2;
  const char* years;
  const char* stype;
  QDate day;  // invalid: DDATE is the unknown-date value
  const char* calen = "";
};

const DateCase kCases[] = {
    {"12 JAN 1900", "12.01.1900", "19000112", "19000112", "1900", "", QDate(1900, 1, 12)},
    {"JAN 1900", "??.01.1900", "19000100", "19000199", "1900", "", QDate()},
    {"1900", "1900", "19000000", "19009999", "1900", "", QDate()},
    {"ABT 1900", "~1900", "19000000", "19009999", "1900", "ABT", QDate()},
    {"около 1900", "~1900", "19000000", "19009999", "1900", "ABT", QDate()},
    {"EST 1900", "~1900", "19000000", "19009999", "1900", "EST", QDate()},
    {"BEF 1900", "<1900", "00000000", "19009999", "1900", "BEF", QDate()},
    {"AFT 1900", ">1900", "19000000", kToday, "1900", "AFT", QDate()},
    {"BET 1900 AND 1910", "1900..1910", "19000000", "19109999", "1900", "BET", QDate()},
    {"между 1900 и 1910", "1900..1910", "19000000", "19109999", "1900", "BET", QDate()},
    {"FROM 1900 TO 1910", "1900-1910", "19000000", "19109999", "1900", "FRO", QDate()},
    {"1900 OR 1910", "1900(1910)", "19000000", "19109999", "1900", "OR", QDate()},
    {"1910 OR 1900", "1910(1900)", "19000000", "19109999", "1900", "OR", QDate()},
    {"@#DJULIAN@ 1 JAN 1700", "01.01.1700", "17000101", "17000101", "1700", "", QDate(1700, 1, 1),
     "@#DJULIAN@"},
    {"@#DXYZ@ 1700", "@#DXYZ@1700", "00000000", kToday, "", "", QDate()},
    {"", "?", "00000000", kToday, "", "", QDate()},
    {"   ", "?", "00000000", kToday, "", "", QDate()},
    {"5 МАЯ 1900", "05.05.1900", "19000505", "19000505", "1900", "", QDate(1900, 5, 5)},
    {"ABT 5 МАЯ 1900", "~05.05.1900", "19000505", "19000505", "1900", "ABT", QDate()},
    {"12 листопада 1901", "12.11.1901", "19011112", "19011112", "1901", "", QDate(1901, 11, 12)},
    {"3 марта 1899", "03.03.1899", "18990303", "18990303", "1899", "", QDate(1899, 3, 3)},
    {"до 1900", "<1900", "00000000", "19009999", "1900", "BEF", QDate()},
    {"после 1900", ">1900", "19000000", kToday, "1900", "AFT", QDate()},
    {"С 1900 ПО 1910", "С1900-1910", "00000000", kToday, "", "", QDate()},
    {"12 MAY", "12.05.????", "00000000", kToday, "", "", QDate()},
    // Each field is completed in place: the second day keeps its own digits.
    {"BET 2 MAY 1900 AND 12 MAY 1900", "02.05.1900..12.05.1900", "19000502", "19000512", "1900", "BET",
     QDate(1900, 5, 2)},
    {"FROM 1 JAN 1900 TO 1 FEB 1900", "01.01.1900-01.02.1900", "19000101", "19000201", "1900", "FRO",
     QDate(1900, 1, 1)},
    // Russian numeric forms.
    {"12.01.1900", "12.01.1900", "19000112", "19000112", "1900", "", QDate(1900, 1, 12)},
    {"05.1900", "05.1900", "19000500", "19000599", "1900", "", QDate()},
    {"31 FEB 1900", "31.02.1900", "19000231", "19000231", "1900", "", QDate()},
    // A phrase in brackets keeps its text and the open range.
    {"(Unknown)", "(Unknown)", "00000000", kToday, "", "", QDate()},
    {"(12 JAN 1900)", "12.01.1900", "19000112", "19000112", "1900", "", QDate(1900, 1, 12)},
    {"500 B.C.", "500 B.C.", "00000000", "00000000", "-500", "B.C.", QDate()},
    {"garbage text", "GARBAGETEXT", "00000000", kToday, "", "", QDate()},
};

TEST(GDate, WorkedResultsAndEdgeCases) {
  for (const DateCase& c : kCases) {
    SCOPED_TRACE(c.in);
    const TDATES d = GDate_RDates(QString::fromUtf8(c.in), kCtx);
    EXPECT_EQ(d.ORIG, QString::fromUtf8(c.in));
    EXPECT_EQ(d.NORM, QString::fromUtf8(c.norm));
    EXPECT_EQ(d.SORT1, QString::fromUtf8(c.sort1));
    EXPECT_EQ(d.SORT2, QString::fromUtf8(c.sort2));
    EXPECT_EQ(d.YEARS, QString::fromUtf8(c.years));
    EXPECT_EQ(d.STYPE, QString::fromUtf8(c.stype));
    EXPECT_EQ(d.CALEN, QString::fromUtf8(c.calen));
    EXPECT_EQ(d.DDATE, c.day.isValid() ? DateToSerial(c.day) : kUnknownDate);
  }
}

TEST(GDate, ExactDayIsTheSerialOfTheDate) {
  // 1 January 1900 is day 2 of the scale that starts on 30 December 1899.
  EXPECT_EQ(GDate_RDates(QStringLiteral("1 JAN 1900"), kCtx).DDATE, 2.0);
}

}  // namespace
