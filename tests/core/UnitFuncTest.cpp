// Text and value helpers: fields, padding, keys, numbers, names, capitalisation and line fitting.
#include "app/core/UnitFunc.h"

#include <QTextDocument>

#include <gtest/gtest.h>

#include "tests/core/QtPrint.h"

namespace {

QString Q(const char* s) { return QString::fromUtf8(s); }
TDateTime D(int y, int m, int d) { return DateToSerial(QDate(y, m, d)); }

TEST(UnitFunc, SplitPartAndPartCount) {
  EXPECT_EQ(SplitPart(2, Q("1 NAME Ivan"), u' '), Q("NAME"));
  EXPECT_EQ(SplitPart(1, Q("Kyiv, Ukraine"), u','), Q("Kyiv"));
  EXPECT_EQ(SplitPart(1, Q("  a   b "), u' '), Q("a"));
  EXPECT_EQ(SplitPart(2, Q("  a   b "), u' '), Q("b"));
  EXPECT_EQ(SplitPart(3, Q("  a   b "), u' '), Q(""));
  EXPECT_EQ(SplitPart(0, Q("  a   b "), u' '), Q("b"));
  EXPECT_EQ(SplitPart(1, Q("abc"), u','), Q("abc"));
  EXPECT_EQ(SplitPart(2, Q("a,,b"), u','), Q(""));
  EXPECT_EQ(SplitPart(3, Q("a,,b"), u','), Q("b"));
  EXPECT_EQ(SplitPart(1, Q(""), u','), Q(""));
  EXPECT_EQ(PartCount(Q(""), u','), 0);
  EXPECT_EQ(PartCount(Q("a,,b"), u','), 3);
  EXPECT_EQ(PartCount(Q(" a "), u' '), 3);
  // A character beyond the 256 codes is never a delimiter.
  EXPECT_EQ(PartCount(Q("аба"), TCharSet(u'б')), 1);
}

TEST(UnitFunc, Padding) {
  EXPECT_EQ(PadLeftTo(Q("7"), 2, u'0'), Q("07"));
  EXPECT_EQ(PadLeftTo(Q("12345"), 4, u'0'), Q("1234"));
  EXPECT_EQ(ZeroPadInt(7, 3), Q("007"));
  EXPECT_EQ(ZeroPadInt(12345, 3), Q("12345"));
}

TEST(UnitFunc, TextScript) {
  EXPECT_EQ(TextScript(Q("12.05.1900 <>=~")), 0);
  EXPECT_EQ(TextScript(Q("ABT 1900")), 1);
  EXPECT_EQ(TextScript(Q("около 1900")), 2);
}

TEST(UnitFunc, DateConversions) {
  EXPECT_EQ(DmyToDate(Q("12.01.1900")), D(1900, 1, 12));
  EXPECT_EQ(DmyToDate(Q("31.02.1900")), kUnknownDate);
  EXPECT_EQ(DmyToDate(Q("??.05.1900")), kUnknownDate);
  EXPECT_EQ(DmyToDate(Q("")), kUnknownDate);
  EXPECT_EQ(DmyToDate(Q("1900")), kUnknownDate);

  EXPECT_EQ(SortKeyToDate(Q("19001299"), false), D(1900, 12, 31));
  EXPECT_EQ(SortKeyToDate(Q("19000599"), false), D(1900, 5, 28));
  EXPECT_EQ(SortKeyToDate(Q("19000431"), false), D(1, 1, 1));
  EXPECT_EQ(SortKeyToDate(Q("40000101"), false), D(3200, 1, 1));
  EXPECT_EQ(SortKeyToDate(Q("19000000"), false), D(1900, 1, 1));
  EXPECT_EQ(SortKeyToDate(Q("19000000"), true), D(1, 1, 1));
  EXPECT_EQ(SortKeyToDate(Q("1900"), false), D(1, 1, 1));
  EXPECT_EQ(SortKeyToDate(Q("1900ab01"), false), D(1, 1, 1));

  EXPECT_EQ(SortKeyFromDateText(Q("~1900")), Q("1900"));
  EXPECT_EQ(SortKeyFromDateText(Q("12.01.1900")), Q("19000112"));
  EXPECT_EQ(SortKeyFromDateText(Q("12011900")), Q("19000112"));
  EXPECT_EQ(SortKeyFromDateText(Q("abc")), Q("0abc"));
  EXPECT_EQ(SortKeyFromDateText(Q("abcdef")), Q("00000000"));
  EXPECT_EQ(SortKeyFromDateText(Q("05.1900")), Q("190005"));
  EXPECT_EQ(SortKeyFromDateText(Q("??.05.1900")), Q("190005??"));

  EXPECT_EQ(DateTimeToDmy(0), Q(""));
  EXPECT_EQ(DateTimeToDmy(D(1900, 1, 12)), Q("12.01.1900"));
  EXPECT_EQ(DateTimeToDmy(D(1900, 1, 12) + 0.5), Q("12.01.1900 12:00:00"));
  EXPECT_EQ(DateTimeToSortKey(true, D(2001, 2, 3) + 0.75), Q("20010203180000"));
  EXPECT_EQ(DateTimeToSortKey(false, D(2001, 2, 3) + 0.75), Q("20010203"));
  EXPECT_EQ(DateTimeToSortKey(false, 0), Q(""));
}

TEST(UnitFunc, Numbers) {
  EXPECT_EQ(BinToInt(Q("101")), 5);
  EXPECT_EQ(BinToInt(Q("")), 0);
  EXPECT_EQ(IntToBin(5, 4), Q("0101"));
  EXPECT_EQ(BinToInt(IntToBin(1234, 16)), 1234);

  EXPECT_EQ(XrefNumber(Q("@I12@")), 12);
  EXPECT_EQ(XrefNumber(Q("1 FAMC @F3@")), 3);
  EXPECT_EQ(XrefNumber(Q("@IH5@")), 5);
  EXPECT_EQ(XrefNumber(Q("@I0@")), 0);
  EXPECT_EQ(XrefNumber(Q("@IX@")), -1);
  EXPECT_EQ(XrefNumber(Q("@I@")), 0);
  EXPECT_EQ(XrefNumber(Q("@I-5@")), 5);

  std::vector<std::int32_t> a(6);
  ShuffleRange(a, 5);
  std::vector<std::int32_t> sorted = a;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (std::vector<std::int32_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_THROW(ShuffleRange(a, 6), std::out_of_range);

  EXPECT_EQ(BlendColors(0x0000FF, 0xFF0000, 1, 2), 0x7F007F);
  EXPECT_EQ(BlendColors(0x102030, 0x000000, 0, 5), 0x102030);
  EXPECT_THROW(BlendColors(0, 0, 3, 2), std::out_of_range);
  EXPECT_THROW(BlendColors(0, 0, 0, 0), std::out_of_range);
}

TEST(UnitFunc, FormatFullName) {
  const QString t = Q("14)23");
  EXPECT_EQ(FormatFullName(Q("Ivanova"), Q("Anna"), Q("Ivanovna"), Q("Petrova"), t),
            Q("Ivanova (Petrova) Anna Ivanovna"));
  EXPECT_EQ(FormatFullName(Q("Ivanova"), Q("Anna"), Q("Ivanovna"), Q(""), t), Q("Ivanova Anna Ivanovna"));
  EXPECT_EQ(FormatFullName(Q(""), Q(""), Q(""), Q(""), t), Q("..."));
  EXPECT_EQ(FormatFullName(Q("Ivanova"), Q("Anna"), Q("Ivanovna"), Q(""), Q("1 2")), Q("Ivanova Anna"));
  // Without a birth-surname slot an empty surname falls back to the birth surname.
  EXPECT_EQ(FormatFullName(Q(""), Q("Anna"), Q(""), Q("Petrova"), Q("123")), Q("Petrova Anna"));
  EXPECT_EQ(FormatFullName(Q(" Ivanov "), Q(""), Q(""), Q(""), Q("12")), Q("Ivanov ..."));
}

TEST(UnitFunc, CapitalizeWordsKeepsTextAndWorksInPlace) {
  EXPECT_EQ(CapitalizeWords(Q("ANDERSON SON"), true), Q("Anderson Son"));
  EXPECT_EQ(CapitalizeWords(Q("ivanov-petrov (smith)/x"), true), Q("Ivanov-Petrov (Smith)/X"));
  EXPECT_EQ(CapitalizeWords(Q("иВАНОВ иван"), false), Q("Иванов иван"));
  const QString longText(1500, u'a');
  EXPECT_EQ(CapitalizeWords(longText, false).size(), 1500);
}

TEST(UnitFunc, FitTextLines) {
  QStringList lines;
  // A word longer than the width stays whole.
  EXPECT_EQ(FitTextLines(Q("Ivanov Ivan Petrovich"), &lines, 5, 3), 5);
  EXPECT_EQ(lines, (QStringList{Q("Ivanov"), Q("Ivan"), Q("Petrovich")}));
  EXPECT_EQ(FitTextLines(Q("Ivanov Ivan Petrovich"), &lines, 5, 2), 12);
  EXPECT_EQ(lines, (QStringList{Q("Ivanov Ivan"), Q("Petrovich")}));
  EXPECT_EQ(FitTextLines(Q("Ivanov Ivan Petrovich"), &lines, 5, 1), 21);
  EXPECT_EQ(lines, QStringList{Q("Ivanov Ivan Petrovich")});
  // Many line breaks can never fit in one line: the search ends at the text's length.
  const QString breaks = Q("a\r\nb\r\nc\r\nd");
  EXPECT_EQ(FitTextLines(breaks, &lines, 1, 1), breaks.size());
  EXPECT_EQ(lines.size(), 4);
}

TEST(UnitFunc, SimilarityPercent) {
  EXPECT_EQ(SimilarityPercent(Q("abcdef"), Q("xyzdef")), 0);
  EXPECT_EQ(SimilarityPercent(Q("abcdef"), Q("abcdef")), 100);
  EXPECT_EQ(SimilarityPercent(Q("abcd"), Q("abxx")), 50);
  EXPECT_EQ(SimilarityPercent(Q(""), Q("")), 0);
}

TEST(UnitFunc, RichTextAppendAndPrepend) {
  QTextDocument doc;
  AppendRich(&doc, Q("b"), 0xFF, fsBold, true);
  AppendRich(&doc, Q("c"), 0, fsNone, true);
  AppendRich(&doc, Q("a"), 0, fsNone, false);
  EXPECT_EQ(doc.toPlainText(), Q("abc"));
}

}  // namespace
