// The statistics counts: bars by day with the zero bars around them, by year with a lower bound, by
// first name in Russian order; undated persons in the sub-footer; the masks and the sex filter.
#include "app/reports/Statistics.h"

#include "tests/reports/MarriagesTestTree.h"

#include <gtest/gtest.h>

namespace {

using mtree::Tree;

QStringList Bars(const TStatResult& r, bool zeros = false) {
  QStringList out;
  for (const TStatBar& b : r.Bars)
    if (zeros || b.Count) out << b.Label + u'=' + QString::number(b.Count);
  return out;
}

TEST(Statistics, ByDayWithZeroBars) {
  Tree t;
  t.Person(QStringLiteral("А Иван"), QStringLiteral("M"), QStringLiteral("10 MAR 1950"));
  TStatResult r = StatGedcom(t.m, {});
  // 1 January to 9 March (69 days of 2000) at zero, the bar, and the zero bar on 31 December.
  ASSERT_EQ(r.Bars.size(), 71u);
  EXPECT_EQ(r.Bars.front().Label, QStringLiteral("01.01"));
  EXPECT_EQ(r.Bars.front().Count, 0);
  EXPECT_EQ(r.Bars[69].Label, QStringLiteral("10.03"));
  EXPECT_EQ(r.Bars[69].Count, 1);
  EXPECT_EQ(r.Bars[70].Label, QStringLiteral("31.12"));
  EXPECT_EQ(r.Bars[70].Count, 0);
  for (std::size_t i = 1; i < 70; ++i) EXPECT_EQ(r.Bars[i].X, r.Bars[i - 1].X + 1);
  EXPECT_TRUE(r.SubFooter.isEmpty());

  // 1 January is a day, not the undated count; a month without a day and no date at all are undated.
  t.Person(QStringLiteral("Б Пётр"), QStringLiteral("M"), QStringLiteral("1 JAN 1900"));
  t.Person(QStringLiteral("В Анна"), QStringLiteral("F"), QStringLiteral("MAR 1901"));
  t.Person(QStringLiteral("Г Анна"), QStringLiteral("F"));
  r = StatGedcom(t.m, {});
  EXPECT_EQ(Bars(r), (QStringList{"01.01=1", "10.03=1"}));
  EXPECT_EQ(r.Unknown, 2);
  EXPECT_EQ(r.SubFooter, QStringLiteral("Дата неизвестна: 2 персон"));
  // The translated text, with its own "%s".
  r = StatGedcom(t.m, {}, [](const QString& key, const QString&) { return key + QStringLiteral(" %s!"); });
  EXPECT_EQ(r.SubFooter, QStringLiteral("UnknDatePers 2!"));
  // A bar on 31 December needs no closing zero bar.
  t.Person(QStringLiteral("Д Анна"), QStringLiteral("F"), QStringLiteral("31 DEC 1901"));
  r = StatGedcom(t.m, {});
  EXPECT_EQ(r.Bars.back().Label, QStringLiteral("31.12"));
  EXPECT_EQ(r.Bars.back().Count, 1);
}

TEST(Statistics, ByYearAndFilters) {
  Tree t;
  t.Person(QStringLiteral("А Иван"), QStringLiteral("M"), QStringLiteral("1905"), QStringLiteral("1970"));
  t.Person(QStringLiteral("Б Иоанн"), QStringLiteral("M"), QStringLiteral("3 MAY 1910"));
  t.Person(QStringLiteral("В Иванна"), QStringLiteral("F"), QStringLiteral("1910"));
  t.Person(QStringLiteral("Г Пётр"), QStringLiteral("M"), QStringLiteral("1850"));
  t.Person(QStringLiteral("Д Анна"), QStringLiteral("F"));  // year 0000
  const auto nosex = t.Person(QStringLiteral("Е Иван"), QString(), QStringLiteral("1907"));
  (void)nosex;
  struct Case {
    const char* name;
    TStatOptions o;
    QStringList bars;
    QString footer;
  };
  TStatOptions base;
  base.Grouping = 1;
  std::vector<Case> cases;
  {
    TStatOptions o = base;
    o.FromOn = true;
    o.From = 1900;
    cases.push_back({"from 1900", o,
                     {"1901=0", "1902=0", "1903=0", "1904=0", "1905=1", "1906=0", "1907=1", "1908=0", "1909=0", "1910=2"},
                     {}});
  }
  {
    TStatOptions o = base;
    o.FromOn = o.ToOn = true;
    o.From = 1906;
    o.To = 1915;
    cases.push_back({"1906 to 1915 closes with a zero bar", o,
                     {"1907=1", "1908=0", "1909=0", "1910=2", "1915=0"}, {}});
  }
  {
    TStatOptions o = base;
    o.NamesOn = true;
    o.Names = QStringLiteral("И*ан*");
    cases.push_back({"mask И*ан*", o, {"1905=1", "1906=0", "1907=1", "1908=0", "1909=0", "1910=2"}, {}});
  }
  {
    TStatOptions o = base;
    o.NamesOn = true;
    o.Names = QStringLiteral(",Иван,, Иоанн/");
    o.Sex = 1;
    cases.push_back({"two names, empty parts skipped, men with unknown sex", o,
                     {"1905=1", "1906=0", "1907=1", "1908=0", "1909=0", "1910=1"}, {}});
  }
  {
    TStatOptions o = base;
    o.Sex = 2;
    cases.push_back({"women: the undated one in the footer", o, {"1907=1", "1908=0", "1909=0", "1910=1"},
                     QStringLiteral("Год неизвестен: 1 персон")});
  }
  {
    TStatOptions o = base;
    o.Event = 1;
    o.SurnamesOn = true;
    o.Surnames = QStringLiteral("а");
    cases.push_back({"deaths by surname mask", o, {"1970=1"}, {}});
  }
  for (const Case& c : cases) {
    const TStatResult r = StatGedcom(t.m, c.o);
    EXPECT_EQ(Bars(r, true), c.bars) << c.name;
    EXPECT_EQ(r.SubFooter, c.footer) << c.name;
  }
}

TEST(Statistics, NamesInRussianOrderAndMasks) {
  Tree t;
  for (const char* n : {"А Жанна", "Б Ёлка", "В Елена", "Г Елена", "Д Алла"})
    t.Person(QString::fromUtf8(n), QStringLiteral("F"));
  TStatOptions o;
  o.Grouping = 2;
  const TStatResult r = StatGedcom(t.m, o);
  EXPECT_EQ(Bars(r), (QStringList{"Алла=1", "Елена=2", "Ёлка=1", "Жанна=1"}));
  EXPECT_EQ(r.Bars[2].X, 2);
  EXPECT_TRUE(r.SubFooter.isEmpty());

  struct Case {
    const char* text;
    const char* mask;
    bool match;
  } cases[] = {{"Иван", "И*ан*", true},   {"Иоанн", "И*ан*", true}, {"Иванна", "И*ан*", true}, {"Пётр", "И*ан*", false},
               {"иван", "ИВАН", true},    {"Иван", "Ив?н", true},   {"Иван", "Ив?", false},    {"", "*", true},
               {"Иоанна", "Иоанн", false}, {"abcab", "*ab", true},  {"ab", "a*b*c", false}};
  for (const Case& c : cases)
    EXPECT_EQ(MatchesMask(QString::fromUtf8(c.text), QString::fromUtf8(c.mask)), c.match) << c.text << " " << c.mask;
  EXPECT_EQ(StatMaskParts(QStringLiteral(" Иван,,Иоанн / Пётр ")), (QStringList{"Иван", "Иоанн", "Пётр"}));
}

}  // namespace
