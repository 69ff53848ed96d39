#include "app/core/PersonList.h"

#include <gtest/gtest.h>

#include "WindowTestModel.h"
#include "platform/qt/ClientDataSet.h"

namespace {

using platform::TClientDataSet;

TDATES Date(const QString& norm, const QString& s1, const QString& s2) {
  TDATES d;
  d.NORM = norm;
  d.SORT1 = s1;
  d.SORT2 = s2;
  return d;
}

TEST(PersonList, RowColumnsFollowTheDates) {
  TINDI p;
  p.FIO1 = "Иванов Иван";
  // no birth date, marked dead without a date
  p.DEAT = "+";
  auto r = PersonRow(p, 7, false);
  EXPECT_EQ(r[pfD1].toString(), "?");
  EXPECT_EQ(r[pfD2].toString(), "?");
  EXPECT_EQ(r[pfIndex].toLongLong(), 7);
  EXPECT_EQ(r[pfId].toString(), "7");
  // living: empty death column
  p.DEAT.clear();
  EXPECT_EQ(PersonRow(p, 7, false)[pfD2].toString(), "");
  // a death key before the birth key sorts by the birth start key
  p.BIRT_DATE = Date("01.01.1900", "19000101", "19000101");
  p.DEAT_DATE = Date("01.01.1890", "18900101", "18900101");
  r = PersonRow(p, 7, false);
  EXPECT_EQ(r[pfSd1].toString(), "19000101-19000101");
  EXPECT_EQ(r[pfSd2].toString(), "19000101-18900101");
  p.FAVOR = "1";
  EXPECT_EQ(PersonRow(p, 7, false)[pfIsFav].toString(), "");
  EXPECT_EQ(PersonRow(p, 7, true)[pfIsFav].toString(), "1");
}

TEST(PersonList, ChildrenInBirthOrderAndMarriageDates) {
  TreeBuilder t;
  const auto a = t.Person("A"), b = t.Person("B"), c = t.Person("C"), d = t.Person("D");
  t.m.aIndi[a].BIRT_DATE.SORT1 = "19100000";
  t.m.aIndi[b].BIRT_DATE.SORT1 = "19050000";
  t.m.aIndi[d].BIRT_DATE.SORT1 = "19050000";
  const auto f = t.Family(0, 0, {a, b, c, d});
  t.m.aFam[f].MARR = "x";
  t.m.aIndi[a].iPr = 5;
  PreparePersonsAfterLoad(t.m);
  // no birth date first, equal keys keep their order
  EXPECT_EQ(t.m.aFam[f].CHIL, (std::vector<std::int64_t>{c, b, d, a}));
  EXPECT_EQ(t.m.aFam[f].MARR_DATE.NORM, "?");
  EXPECT_EQ(t.m.aIndi[a].iPr, -1);
}

TEST(PersonList, MaskMatching) {
  struct Case { const char* text; const char* mask; bool match; };
  const Case cases[] = {
      {"Иванов Иван", "ИВАН*", true},     {"Иванов Иван", "ИВАНОВ*ИВ*", true},
      {"Петров Иван", "ИВАН*", false},    {"Петров Иван", "*ИВАН*", true},
      {"abc", "a?c", true},               {"abc", "a?", false},
      {"", "*", true},                    {"ab", "*b*", true},
      {"ПЕТРОВ", "петров", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MaskMatches(QString::fromUtf8(c.text), QString::fromUtf8(c.mask)), c.match) << c.text << " " << c.mask;
}

TEST(PersonList, SearchFindsTheFirstVisiblePersonInIndexOrder) {
  TreeBuilder t;
  const auto p1 = t.Person("Петров Иван Сергеевич");
  const auto p2 = t.Person("Иванов Пётр Иванович");
  const auto p3 = t.Person("Иванов Сергей");
  const auto all = [](std::int64_t) { return true; };
  EXPECT_EQ(FindPersonByText(t.m, "иван с", all), p1);  // contains both words in order
  EXPECT_EQ(FindPersonByText(t.m, "иванов с", all), p3);
  EXPECT_EQ(FindPersonByText(t.m, "иванов п", all), p2);
  EXPECT_EQ(FindPersonByText(t.m, "сидоров", all), 0);
  EXPECT_EQ(FindPersonByText(t.m, "иванов", [&](std::int64_t i) { return i == p3; }), p3);
}

TEST(PersonList, FilterTakesTheSearchTextLiterally) {
  TClientDataSet ds;
  ds.SetFieldDefs(PersonFieldDefs());
  ds.CreateDataSet();
  const char* names[] = {"O'Brien Anna", "Sale 50% Bob", "A_B Carl", "AxB Dora", "Brien Anna"};
  for (int i = 0; i < 5; ++i) {
    TINDI p;
    p.FIO1 = names[i];
    p.FAVOR = i == 1 ? "1" : "";
    if (i == 2) p.DEAT = "+";
    ds.AppendRecord(PersonRow(p, i + 1, true));
  }
  auto count = [&](PersonFilterOptions o) {
    ds.SetFiltered(false);
    ds.SetFilter(MakePersonFilter(o));
    ds.SetFiltered(FilterActive(o));
    return ds.RecordCount();
  };
  EXPECT_EQ(count({true, "o'brien", false, false}), 1);
  EXPECT_EQ(count({true, "50%", false, false}), 1);
  EXPECT_EQ(count({true, "a_b", false, false}), 1);  // "_" is not a wildcard
  EXPECT_EQ(count({true, "brien anna", false, false}), 2);
  EXPECT_EQ(count({true, "anna brien", false, false}), 0);  // words in order
  EXPECT_EQ(count({false, "anna", false, false}), 5);       // switch up: no name filter
  EXPECT_EQ(count({false, "", true, false}), 1);
  EXPECT_EQ(count({false, "", false, true}), 4);
  EXPECT_EQ(count({false, "", true, true}), 1);
}

TEST(PersonList, PlacesAreUniqueAndSorted) {
  TreeBuilder t;
  const auto a = t.Person("A"), b = t.Person("B");
  t.m.aIndi[a].BIRT_PLAC = "Тверь";
  t.m.aIndi[a].DEAT_PLAC = "Москва";
  t.m.aIndi[b].RESI_PLAC = "Тверь";
  const auto f = t.Family(a, b, {});
  t.m.aFam[f].MARR_PLAC = "Астрахань";
  EXPECT_EQ(CollectPlaces(t.m), (QStringList{"Астрахань", "Москва", "Тверь"}));
}

}  // namespace
