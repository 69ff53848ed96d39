// The anniversary calendar: anniversary and 1000-day rows of births, deaths and marriages, the filters,
// negative and zero day counts, the stop after 100 rows, dates that never match, the jubilee colour rule
// and the dataset the grid shows.
#include "app/reports/Calendar.h"

#include "platform/qt/ClientDataSet.h"
#include "tests/reports/MarriagesTestTree.h"

#include <gtest/gtest.h>

namespace {

using mtree::Tree;

QString Show(const TCalendarRow& r) {
  return r.DateCalend.toString(QStringLiteral("dd.MM.yyyy")) + u' ' + r.DateOrig.toString(QStringLiteral("dd.MM.yyyy")) +
         u' ' + r.Type + u' ' + r.Persons + u' ' + (r.Years ? QStringLiteral("Y") + QString::number(*r.Years) : QString()) +
         (r.Days ? QStringLiteral("D") + QString::number(*r.Days) : QString());
}

QStringList RunCalendar(const Model& m, TCalendarOptions o) {
  QStringList out;
  for (const TCalendarRow& r : Informer(m, o)) out << Show(r);
  return out;
}

TEST(Calendar, AnniversariesAndThousandDays) {
  Tree t;
  t.Person(QStringLiteral("Ветров Андрей"), QStringLiteral("M"), QStringLiteral("5 MAR 1950"));
  const QDate birth(1950, 3, 5);
  TCalendarOptions o;
  o.Today = QDate(2026, 3, 1);
  const QStringList rows = RunCalendar(t.m, o);
  // On each 5 March within the 731 days (the window ends on 29 February 2028) and on the 28000th day.
  const int d28 = int(birth.daysTo(QDate(2026, 3, 1)) / 1000 + 1) * 1000;
  const QDate mark = birth.addDays(d28);
  QStringList expected{QStringLiteral("05.03.2026 05.03.1950 * Ветров Андрей Y76")};
  expected << mark.toString(QStringLiteral("dd.MM.yyyy")) + QStringLiteral(" 05.03.1950 * Ветров Андрей D") + QString::number(d28);
  expected << QStringLiteral("05.03.2027 05.03.1950 * Ветров Андрей Y77");
  EXPECT_EQ(rows, expected);

  // A window that holds the 27000th day gives its row.
  o.Today = birth.addDays(27000).addDays(-10);
  const QStringList near = RunCalendar(t.m, o);
  ASSERT_FALSE(near.isEmpty());
  EXPECT_TRUE(near.front().endsWith(QStringLiteral("D27000"))) << near.front().toStdString();
}

// 30 December 1899 is day 0 of the day count and an ordinary date: its anniversaries are listed.
TEST(Calendar, DayZeroIsAnOrdinaryDate) {
  Tree t;
  t.Person(QStringLiteral("Ветров Андрей"), QStringLiteral("M"), QStringLiteral("30 DEC 1899"));
  t.Person(QStringLiteral("Ветров Павел"), QStringLiteral("M"), QStringLiteral("31 DEC 1899"));
  TCalendarOptions o;
  o.Today = QDate(2026, 12, 20);
  const QStringList rows = RunCalendar(t.m, o);
  EXPECT_TRUE(rows.contains(QStringLiteral("30.12.2026 30.12.1899 * Ветров Андрей Y127"))) << rows.join(u'|').toStdString();
  EXPECT_TRUE(rows.contains(QStringLiteral("31.12.2026 31.12.1899 * Ветров Павел Y127"))) << rows.join(u'|').toStdString();
}

TEST(Calendar, EventsFiltersAndMarriages) {
  Tree t;
  const auto h = t.Person(QStringLiteral("Орлов Степан"), QStringLiteral("M"), QStringLiteral("10 DEC 1940"),
                          QStringLiteral("20 DEC 2000"));
  const auto w = t.Person(QStringLiteral("Орлова Прасковья"), QStringLiteral("F"), QStringLiteral("15 DEC 1945"));
  const auto a = t.Person(QStringLiteral("Белов Иван"), QStringLiteral("M"), QStringLiteral("14 DEC 1960"));
  const auto b = t.Person(QStringLiteral("Белова Анна"), QStringLiteral("F"), QStringLiteral("MAR 1962"));  // month only
  t.Family(h, w, {}, QStringLiteral("16 DEC 1965"));
  const auto noMarr = t.Family(a, b, {}, QStringLiteral("17 DEC 1985"), true);  // MARR empty: never listed
  (void)noMarr;
  t.P(w).FAVOR = QStringLiteral("1");
  TCalendarOptions o;
  o.Today = QDate(2026, 12, 11);
  auto firstYear = [&](TCalendarOptions opt) {
    QStringList out;
    for (const QString& s : RunCalendar(t.m, opt))
      if (s.mid(6, 4) == u"2026") out << s;
    return out;
  };
  EXPECT_EQ(firstYear(o), (QStringList{
                              "14.12.2026 14.12.1960 * Белов Иван Y66",
                              "15.12.2026 15.12.1945 * Орлова Прасковья Y81",
                              "16.12.2026 16.12.1965 x Орлов Степан + Орлова Прасковья Y61",
                              "20.12.2026 20.12.2000 ┼ Орлов Степан Y26",
                          }));
  struct Case {
    const char* name;
    bool alive, fav, births, marriages, deaths;
    QStringList rows;
  } cases[] = {
      {"only the living: no deaths, no couple with a dead spouse",
       true, false, true, true, true,
       {"14.12.2026 14.12.1960 * Белов Иван Y66", "15.12.2026 15.12.1945 * Орлова Прасковья Y81"}},
      {"only favourites: the couple through the wife",
       false, true, true, true, true,
       {"15.12.2026 15.12.1945 * Орлова Прасковья Y81",
        "16.12.2026 16.12.1965 x Орлов Степан + Орлова Прасковья Y61"}},
      {"marriages only", false, false, false, true, false,
       {"16.12.2026 16.12.1965 x Орлов Степан + Орлова Прасковья Y61"}},
      {"deaths only", false, false, false, false, true, {"20.12.2026 20.12.2000 ┼ Орлов Степан Y26"}},
  };
  for (const Case& c : cases) {
    TCalendarOptions p = o;
    p.OnlyAlive = c.alive;
    p.OnlyFavorites = c.fav;
    p.Births = c.births;
    p.Marriages = c.marriages;
    p.Deaths = c.deaths;
    EXPECT_EQ(firstYear(p), c.rows) << c.name;
  }
}

TEST(Calendar, TodayFutureAndTheHundredRowStop) {
  Tree t;
  t.Person(QStringLiteral("Новый Пётр"), QStringLiteral("M"), QStringLiteral("11 DEC 2026"));  // born today
  t.Person(QStringLiteral("Будущий Иван"), QStringLiteral("M"), QStringLiteral("7 SEP 2029"));  // today + 1001
  TCalendarOptions o;
  o.Today = QDate(2026, 12, 11);
  const QStringList rows = RunCalendar(t.m, o);
  ASSERT_GE(rows.size(), 2);
  EXPECT_EQ(rows[0], QStringLiteral("11.12.2026 11.12.2026 * Новый Пётр D0"));
  EXPECT_EQ(rows[1], QStringLiteral("11.12.2026 11.12.2026 * Новый Пётр Y0"));
  EXPECT_TRUE(rows.contains(QStringLiteral("12.12.2026 07.09.2029 * Будущий Иван D-1000"))) << rows.join(u'\n').toStdString();

  // 60 persons born on 13 December, 60 on 20 December and 60 on 1 January: 20 December brings the list
  // above 100 rows; that day is completed and the list ends there.
  Tree many;
  for (int i = 0; i < 60; ++i) many.Person(QStringLiteral("А%1 Б").arg(i), QStringLiteral("M"), QStringLiteral("13 DEC 1990"));
  for (int i = 0; i < 60; ++i) many.Person(QStringLiteral("В%1 Г").arg(i), QStringLiteral("M"), QStringLiteral("20 DEC 1991"));
  for (int i = 0; i < 60; ++i) many.Person(QStringLiteral("Д%1 Е").arg(i), QStringLiteral("M"), QStringLiteral("1 JAN 1992"));
  const auto all = Informer(many.m, o);
  EXPECT_EQ(all.size(), 120u);
  EXPECT_EQ(all.back().DateCalend, QDate(2026, 12, 20));
}

TEST(Calendar, JubileesAndTheDataSet) {
  struct Case {
    std::optional<int> years, days;
    bool jubilee;
    int yearsStyle, daysStyle;
  } cases[] = {{50, {}, true, 5, 2}, {52, {}, false, 2, 2}, {{}, 10000, true, 2, 5},
               {{}, 12000, false, 2, 2}, {0, {}, true, 5, 2}, {{}, -5000, true, 2, 5}};
  for (const Case& c : cases) {
    EXPECT_EQ(CalendarJubilee(c.years, c.days), c.jubilee);
    EXPECT_EQ(CalendarCellStyle(QStringLiteral("*"), QStringLiteral("Years"), c.years, c.days), c.yearsStyle);
    EXPECT_EQ(CalendarCellStyle(QStringLiteral("*"), QStringLiteral("Days"), c.years, c.days), c.daysStyle);
  }
  EXPECT_EQ(CalendarCellStyle(QStringLiteral("x"), QStringLiteral("Persons"), 25, {}), 3);
  EXPECT_EQ(CalendarCellStyle(QStringLiteral("┼"), QStringLiteral("Persons"), 25, {}), 4);

  mtree::EnsureApp();
  platform::TClientDataSet cds;
  FillCalendarDataSet(cds, {{QDate(2026, 12, 14), QDate(1971, 12, 14), QStringLiteral("А + Б"), QStringLiteral("x"), 55, {}}});
  ASSERT_EQ(cds.RecordCount(), 1);
  EXPECT_EQ(cds.ValueAt(0, 0).toString(), QStringLiteral("14.12.2026"));
  EXPECT_EQ(cds.ValueAt(0, 1).toString(), QStringLiteral("14.12.1971"));
  EXPECT_EQ(cds.ValueAt(0, 4).toInt(), 55);
  EXPECT_TRUE(cds.ValueAt(0, 5).toString().isEmpty());
}

}  // namespace
