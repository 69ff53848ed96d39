// The 22 checks of the problem detector, one table of small trees per group of checks. Each case turns on
// only the checks it is about and compares the report command's lines (identifier, colour, message).
#include "tests/reports/DetectorTest.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

struct CheckCase {
  const char* name;
  std::function<void(DetTree&)> build;
  TDetectorOptions options;
  QStringList expected;
};

void RunCases(const std::vector<CheckCase>& cases) {
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    DetTree t;
    c.build(t);
    EXPECT_EQ(DetectorRun(t.m, c.options), c.expected);
  }
}

QString S(const char* utf8) { return QString::fromUtf8(utf8); }

// Checks 1 to 7: one date certainly or possibly after another.
TEST(DetectorChecks, OrderOfDates) {
  RunCases({
      {"1: child born before the mother",
       [](DetTree& t) {
         const auto mother = t.Person(S("Ivanova Anna"), S("F"), S("01.01.1900"));
         const auto kid = t.Person(S("Ivanov Petr"), S("M"), S("01.01.1890"));
         t.Family(0, mother, {kid});
       },
       OnlyChecks({1}),
       {S("@I1@\tred\t1.Ребенок Ivanov Petr (01.01.1890) старше родителя (01.01.1900)")}},
      {"1: a year around the birth is possible only, the nameless child gets the placeholder",
       [](DetTree& t) {
         const auto mother = t.Person(S("Ivanova Anna"), S("F"), S("01.06.1900"));
         const auto kid = t.Person(QString(), S("M"), S("1900"));
         t.Family(0, mother, {kid});
       },
       OnlyChecks({1}, true),
       {S("@I1@\tblue\t1.Ребенок (отсутствует в событии) (1900) старше родителя (01.06.1900)")}},
      {"1: possible findings not asked",
       [](DetTree& t) {
         const auto mother = t.Person(S("Ivanova Anna"), S("F"), S("01.06.1900"));
         t.Family(0, mother, {t.Person(QString(), S("M"), S("1900"))});
       },
       OnlyChecks({1}), {}},
      {"2: birth after death; unknown death dates and the living never",
       [](DetTree& t) {
         t.Person(S("A"), S("M"), S("01.01.1950"), S("01.01.1940"));
         t.Person(S("B"), S("M"), S("01.01.1950"), S("+"));
         t.Person(S("C"), S("M"), S("01.01.1950"));
       },
       OnlyChecks({2}, true), {S("@I1@\tred\t2.Рождение (01.01.1950) после смерти (01.01.1940)")}},
      {"3 and 4: marriage after the death of one spouse, before the birth of the other",
       [](DetTree& t) {
         const auto h = t.Person(S("H"), S("M"), S("01.01.1900"), S("01.01.1940"));
         const auto w = t.Person(S("W"), S("F"), S("01.01.1951"));
         t.Family(h, w, {}, S("01.01.1950"));
       },
       OnlyChecks({3, 4}),
       {S("@I1@\tred\t3.Брак (01.01.1950) после смерти (01.01.1940)"),
        S("@I2@\tred\t4.Брак (01.01.1950) до рождения (01.01.1951)")}},
      {"5: a mother's child after her death, certain and possible",
       [](DetTree& t) {
         const auto w = t.Person(S("W"), S("F"), S("01.01.1870"), S("01.01.1900"));
         t.Family(0, w, {t.Person(S("K1"), S("M"), S("01.01.1901")), t.Person(S("K2"), S("M"), S("1900"))});
       },
       OnlyChecks({5}, true),
       {S("@I1@\tred\t5.Рождение ребенка K1 (01.01.1901) после смерти матери (01.01.1900)"),
        S("@I1@\tblue\t5.Рождение ребенка K2 (1900) возможно после смерти матери (01.01.1900)")}},
      {"5: a father's child more than 300 days after his death",
       [](DetTree& t) {
         const auto h = t.Person(S("H"), S("M"), S("01.01.1870"), S("01.01.1900"));
         t.Family(h, 0, {t.Person(S("K1"), S("M"), S("01.06.1900")), t.Person(S("K2"), S("M"), S("01.01.1901"))});
       },
       OnlyChecks({5}),
       {S("@I1@\tred\t5.Рождение ребенка K2 (01.01.1901) после смерти отца (01.01.1900) составляет 365 дней "
          "(более 10 месяцев)")}},
      {"6 and 7: events before birth and after death; an undated event reports nothing",
       [](DetTree& t) {
         const auto p = t.Person(S("P"), S("M"), S("01.01.1900"), S("01.01.1950"));
         t.Event(p, S("учитель"), S("Род занятий"), S("01.01.1890"));
         t.Event(p, S("Крещение"), QString(), QString());
         t.Event(p, S("Перепись"), QString(), S("1960"));
       },
       OnlyChecks({6, 7}),
       {S("@I1@\tred\t6.Событие (учитель Род занятий: 01.01.1890) произошло перед рождением (01.01.1900)"),
        S("@I1@\tred\t7.Событие (Перепись: 1960) произошло после смерти (01.01.1950)")}},
  });
}

// Checks 8 to 13: gaps between dates against limits in days or years.
TEST(DetectorChecks, GapsAndAges) {
  RunCases({
      {"8: children closer than 9 months; twins only possible; years only never",
       [](DetTree& t) {
         const auto w = t.Person(S("W"), S("F"), S("01.01.1870"));
         t.Family(0, w, {t.Person(S("A"), S("M"), S("01.01.1900")), t.Person(S("B"), S("M"), S("01.06.1900")),
                         t.Person(S("C"), S("M"), S("01.06.1900"))});
         const auto w2 = t.Person(S("W2"), S("F"), S("01.01.1870"));
         t.Family(0, w2, {t.Person(S("D"), S("M"), S("1900")), t.Person(S("E"), S("M"), S("1901"))});
       },
       OnlyChecks({8}, true),
       {S("@I1@\tred\t8.Разница в возрасте детей A (01.01.1900) и B (01.06.1900) составляет  меньше 9 месяцев (151 "
          "дней)"),
        S("@I1@\tred\t8.Разница в возрасте детей A (01.01.1900) и C (01.06.1900) составляет  меньше 9 месяцев (151 "
          "дней)"),
        S("@I1@\tblue\t8.Разница в возрасте детей B (01.06.1900) и C (01.06.1900) может составлять  меньше 9 "
          "месяцев (0 дней)")}},
      {"8: twins without possible findings",
       [](DetTree& t) {
         const auto w = t.Person(S("W"), S("F"), S("01.01.1870"));
         t.Family(0, w, {t.Person(S("B"), S("M"), S("01.06.1900")), t.Person(S("C"), S("M"), S("01.06.1900"))});
       },
       OnlyChecks({8}), {}},
      {"9: a parent too young and too old",
       [](DetTree& t) {
         const auto w = t.Person(S("W"), S("F"), S("01.01.1900"));
         t.Family(0, w, {t.Person(S("A"), S("M"), S("01.01.1910")), t.Person(S("B"), S("M"), S("01.01.1970"))});
       },
       OnlyChecks({9}),
       {S("@I1@\tred\t9.1.Возраст родителя (01.01.1900) в момент рождения A (01.01.1910) составляет 10.0 лет (<15)"),
        S("@I1@\tred\t9.2.Возраст родителя (01.01.1900) в момент рождения B (01.01.1970) составляет 70.0 лет (>60)")}},
      {"10 and 11: bride and groom too young, bride too old; a groom just 17 and a bride just 16 pass",
       [](DetTree& t) {
         const auto h = t.Person(S("H"), S("M"), S("01.01.1900"));
         const auto w = t.Person(S("W"), S("F"), S("01.01.1900"));
         t.Family(h, w, {}, S("01.01.1912"));
         t.Family(t.Person(S("H2"), S("M"), S("01.01.1910")), w, {}, S("01.01.1970"));
         const auto h3 = t.Person(S("H3"), S("M"), S("01.01.1899"));
         t.Family(h3, t.Person(S("W3"), S("F"), S("01.01.1900")), {}, S("01.01.1916"));
       },
       OnlyChecks({10, 11}),
       {S("@I1@\tred\t11.1.Возраст жениха (01.01.1900) в момент свадьбы (01.01.1912) с W составляет 12.0 лет (<17)"),
        S("@I2@\tred\t10.1.Возраст невесты (01.01.1900) в момент свадьбы (01.01.1912) с H составляет 12.0 лет (<15)"),
        S("@I2@\tred\t10.2.Возраст невесты (01.01.1900) в момент свадьбы (01.01.1970) с H2 составляет 70.0 лет "
          "(>60)")}},
      {"12: the living over the limit, the dead over the limit, an unknown death date never",
       [](DetTree& t) {
         t.Person(S("Old"), S("M"), S("06.01.1917"));   // 40151 days before today
         t.Person(S("Limit"), S("M"), S("07.01.1917"));  // exactly 110 x 365 days
         t.Person(S("Dead"), S("F"), S("01.01.1800"), S("01.01.1920"));
         t.Person(S("Gone"), S("F"), S("01.01.1700"), S("+"));
       },
       OnlyChecks({12}, true),
       {S("@I1@\tred\t12.1.Возраст живущего составляет 110.0 лет, рождение 06.01.1917 (>110)"),
        S("@I3@\tred\t12.2.Возраст умершего составляет 120.1 лет, рождение 01.01.1800, смерть 01.01.1920, (>110)")}},
      {"12: a lower limit from the option",
       [](DetTree& t) { t.Person(S("Old"), S("M"), S("01.01.1925")); },
       [] {
         TDetectorOptions o = OnlyChecks({12});
         o.Spin121 = 100;
         return o;
       }(),
       {S("@I1@\tred\t12.1.Возраст живущего составляет 102.0 лет, рождение 01.01.1925 (>100)")}},
      {"13: spouses far apart in age; a marriage without a wife is skipped",
       [](DetTree& t) {
         const auto h = t.Person(S("H"), S("M"), S("01.01.1900"));
         t.Family(h, t.Person(S("W"), S("F"), S("01.01.1940")), {});
         t.Family(h, 0, {});
         t.Family(h, t.Person(S("W2"), S("F"), S("01.01.1910")), {});
         // Element 0 with a parsed empty birth, as a database reader leaves it: still no spouse.
         t.P(0).BIRT_DATE = GDate_RDates(QString(), t.ctx);
       },
       OnlyChecks({13}),
       {S("@I1@\tred\t13.Разница в возрасте между мужем (01.01.1900) и женой W (01.01.1940) составляет больше 30 "
          "лет (40.0)")}},
  });
}

// A date that names a day no calendar has takes no part in any comparison; a real leap day does.
TEST(DetectorChecks, ImpossibleDaysNeverCompare) {
  RunCases({
      {"2 and 12: 29 February 1900 and 31 April 1901",
       [](DetTree& t) {
         t.Person(S("Leap"), S("M"), S("29 FEB 1900"), S("01.01.1890"));
         t.Person(S("April"), S("F"), S("31 APR 1901"), S("01.01.1960"));
         t.Person(S("Living"), S("M"), S("29 FEB 1900"));
         t.Person(S("Real"), S("M"), S("29 FEB 1904"), S("01.01.1890"));
       },
       OnlyChecks({2, 12}, true),
       {S("@I4@\tred\t2.Рождение (29.02.1904) после смерти (01.01.1890)")}},
      {"1 and 9: a child born on an impossible day",
       [](DetTree& t) {
         const auto mother = t.Person(S("Mother"), S("F"), S("01.01.1900"));
         t.Family(0, mother, {t.Person(S("Kid"), S("M"), S("30 FEB 1850"))});
       },
       OnlyChecks({1, 9}, true), {}},
  });
}

// Checks 14 to 22: the structure of the tree; always blue.
TEST(DetectorChecks, Structure) {
  RunCases({
      {"14: four marriages over a limit of three, three not",
       [](DetTree& t) {
         const auto h = t.Person(S("H"), S("M"), S("01.01.1900"));
         t.Family(h, t.Person(S("W1"), S("F")), {}, S("1925"));
         t.Family(h, t.Person(QString(), S("F")), {});
         t.Family(h, 0, {});
         t.Family(h, t.Person(S("W4"), S("F")), {}, S("01.01.1960"));
         const auto h2 = t.Person(S("H2"), S("M"));
         for (int k = 0; k < 3; ++k) t.Family(h2, 0, {});
       },
       OnlyChecks({14}),
       {S("@I1@\tblue\t14.У персоны 4 брака: 1).W1(1925), 2).(отсутствует в событии)(?), "
          "3).(отсутствует в событии)(?), 4).W4(01.01.1960)")}},
      {"15: a man with children and a partner without marriage record, also without children",
       [](DetTree& t) {
         const auto h = t.Person(S("H"), S("M"));
         const auto w1 = t.Person(S("W1"), S("F"));
         t.Family(h, w1, {t.Person(S("K"), S("M"))});
         t.Family(h, t.Person(S("W2"), S("F")), {}, QString(), true);
         t.Family(h, 0, {}, QString(), true);
         const auto h2 = t.Person(S("H2"), S("M"));  // no children at all: not checked
         t.Family(h2, t.Person(S("W3"), S("F")), {}, QString(), true);
       },
       OnlyChecks({15}), {S("@I1@\tblue\t15.Отсутствие брака при наличии 0 cовместных детей c W2")}},
      {"16: a parent missing, once per child",
       [](DetTree& t) {
         const auto h = t.Person(S("H"), S("M"));
         t.Family(h, 0, {t.Person(S("K1"), S("M"), S("1900")), t.Person(S("K2"), S("F"))});
         const auto w = t.Person(S("W"), S("F"));
         t.Family(0, w, {t.Person(QString(), S("M"), S("01.01.1901"))});
       },
       OnlyChecks({16}),
       {S("@I1@\tblue\t16.Отсутствие одного из родителей () у K1(1900)"),
        S("@I1@\tblue\t16.Отсутствие одного из родителей () у K2(?)"),
        S("@I4@\tblue\t16.Отсутствие одного из родителей () у (отсутствует в событии)(01.01.1901)")}},
      {"17: only a person without any link",
       [](DetTree& t) {
         t.Person(S("Alone"), S("M"));
         const auto a = t.Person(S("Friend"), S("M"));
         TASSO link;
         link.ID = 1;
         link.INDI = QStringLiteral("@I1@");
         t.P(a).ASSO.push_back(link);
         t.Event(t.Person(S("Busy"), S("F")), S("Перепись"), QString(), QString());
         t.Family(0, 0, {t.Person(S("Child"), S("F"))});
       },
       OnlyChecks({17}), {S("@I1@\tblue\t17.Персона без связей")}},
      {"18: three children of one name in one group; nameless children never match; fathers not checked",
       [](DetTree& t) {
         const auto h = t.Person(S("H"), S("M"));
         const auto w = t.Person(S("W"), S("F"));
         t.Family(h, w,
                  {t.Person(S("Ivanov Petr"), S("M"), S("01.01.1900")), t.Person(QString(), S("M")),
                   t.Person(S("Ivanov Petr"), S("M"), S("1902")), t.Person(QString(), S("M")),
                   t.Person(S("Ivanov Ivan"), S("M")), t.Person(S("Ivanov Petr"), S("M"), S("01.01.1904"))});
       },
       OnlyChecks({18}),
       {S("@I2@\tblue\t18.Дети с одинаковыми именами (3): Ivanov Petr (01.01.1900) / Ivanov Petr (1902) / "
          "Ivanov Petr (01.01.1904)")}},
      {"19: maiden name kept; husbands or \"-\"",
       [](DetTree& t) {
         const auto father = t.Person(S("Petrov Ivan"), S("M"));
         const auto a = t.Person(S("Petrova Anna"), S("F"));
         const auto b = t.Person(S("Petrova Vera"), S("F"));
         t.Family(father, 0, {a, b});
         for (auto p : {a, b}) t.P(p).SURN0 = t.P(p).SURN1 = S("Petrova");
         t.Family(t.Person(S("Sidorov Oleg"), S("M")), b, {});
         t.Family(0, b, {});
         t.P(t.Person(S("Other"), S("F"))).SURN0 = QString();  // no maiden name: not this check
       },
       OnlyChecks({19}),
       {S("@I2@\tblue\t19.Девичья фамилия не изменилась после замужества, Отец: Petrov Ivan, Мужья: -"),
        S("@I3@\tblue\t19.Девичья фамилия не изменилась после замужества, Отец: Petrov Ivan, Мужья: Sidorov Oleg, "
          "(отсутствует в событии)")}},
      {"20 and 21: no married surname, no maiden name although the father has one",
       [](DetTree& t) {
         const auto father = t.Person(S("Petrov Ivan"), S("M"));
         const auto w = t.Person(S("Anna"), S("F"));
         t.Family(father, 0, {w});
         t.P(w).SURN0 = t.P(w).SURN1 = QString();
         t.Family(t.Person(S("Sidorov Oleg"), S("M")), w, {});
         const auto single = t.Person(S("Vera"), S("F"));  // no marriage, no father: neither
         t.P(single).SURN0 = t.P(single).SURN1 = QString();
       },
       OnlyChecks({20, 21}),
       {S("@I2@\tblue\t20.Отсутствие фамилии в браке, Мужья: Sidorov Oleg"),
        S("@I2@\tblue\t21.Отсутствие девичьей фамилии при наличии отца, Отец: Petrov Ivan")}},
      {"22: no birth date, also an empty birth text",
       [](DetTree& t) {
         t.Person(S("A"), S("M"));
         t.Person(S("B"), S("M"), S("1900"));
         t.P(t.Person(S("C"), S("M"))).BIRT_DATE = TDATES{};
       },
       OnlyChecks({22}), {S("@I1@\tblue\t22.Отсутствие даты рождения"), S("@I3@\tblue\t22.Отсутствие даты рождения")}},
  });
}

// The head of a line: the person's name and life dates; checks 20 to 22 put their number in front.
TEST(DetectorChecks, Heads) {
  DetTree t;
  t.Person(S("Living Old"), S("M"), S("01.01.1900"));
  t.Person(S("Gone"), S("F"), QString(), S("+"));
  t.Person(S("Dead"), S("M"), S("01.01.1800"), S("01.01.1920"));
  TDetectorList list;
  DetectorGedcom(t.m, OnlyChecks({12, 22}), ReadCheckCatalogue(), kDetectorToday, list);
  ASSERT_EQ(list.findings.size(), 3u);
  EXPECT_EQ(list.findings[0].head, S("Living Old (01.01.1900-)"));
  EXPECT_EQ(list.findings[0].color, kDetectorRed);
  EXPECT_EQ(list.findings[1].head, S("22.Gone (?-?)"));
  EXPECT_EQ(list.findings[1].color, kDetectorBlue);
  EXPECT_EQ(list.findings[2].head, S("Dead (01.01.1800-01.01.1920)"));
}

// The missing parent's word comes from the translation keys "*M" and "*F".
TEST(DetectorChecks, MissingParentWords) {
  DetTree t;
  const auto h = t.Person(S("H"), S("M"));
  t.Family(h, 0, {t.Person(S("K1"), S("M"), S("1900"))});
  const auto w = t.Person(S("W"), S("F"));
  t.Family(0, w, {t.Person(S("K2"), S("M"), S("1901"))});
  const TCheckCatalogue cat = ReadCheckCatalogue([](const QString& key, const QString& def) {
    if (key == u"*M") return S("мать");
    if (key == u"*F") return S("отец");
    return def;
  });
  EXPECT_EQ(DetectorRun(t.m, OnlyChecks({16}), cat),
            QStringList({S("@I1@\tblue\t16.Отсутствие одного из родителей (мать) у K1(1900)"),
                         S("@I3@\tblue\t16.Отсутствие одного из родителей (отец) у K2(1901)")}));
}

// Links out of range of the arrays are no links: every check runs without reading out of bounds.
TEST(DetectorChecks, LinksOutOfRangeAreNone) {
  DetTree t;
  const auto h = t.Person(S("H"), S("M"), S("01.01.1900"));
  const auto w = t.Person(S("W"), S("F"), S("01.01.1900"));
  t.Family(h, w, {t.Person(S("K"), S("M"), S("01.01.1920"))});
  t.m.aFam[1].WIFE = 77;  // the husband sees no wife
  t.m.aFam[1].CHIL.push_back(99);
  t.m.aFam[1].CHIL.push_back(-3);
  t.P(h).FAMS.push_back(55);
  t.P(h).FAMS.push_back(-1);
  t.P(w).FAMC = 1234;
  t.P(w).SURN0 = QString();
  t.P(w).ASSO.push_back(TASSO{5000, S("@I5000@"), S("друг")});
  TDetectorOptions all;
  all.Check.fill(true);
  all.CheckBox7 = true;
  const QStringList lines = DetectorRun(t.m, all);
  EXPECT_TRUE(lines.contains(S("@I1@\tblue\t16.Отсутствие одного из родителей () у K(01.01.1920)")));
  // The out-of-range families and children are dropped: one marriage, one child.
  EXPECT_TRUE(lines.filter(S("14.")).isEmpty());
  EXPECT_EQ(lines.filter(S("16.")).size(), 1);
}

}  // namespace
