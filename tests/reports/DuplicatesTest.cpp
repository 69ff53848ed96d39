// Duplicate search: the scoring rule and its worked numbers, the pair scan (years, siblings, who is
// searched), the planted duplicates of a GEDCOM fixture in each mode, the pruned scan against the plain
// all-pairs scan on random trees, and the written report.
#include "app/reports/Duplicates.h"
#include "tests/reports/FamilyLinks.h"
#include "tests/reports/ReportsTestApp.h"

#include "app/core/GDate.h"
#include "app/core/GedcomReader.h"
#include "app/core/PersonList.h"
#include "app/core/UnitFunc.h"

#include <QGuiApplication>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <tuple>

namespace {

using reportstest::EnsureApp;

TPers4 Rec(const QString& sex, const QString& fam, const QString& im, const QString& ot, int yearR = 0,
           TDateTime dayR = kUnknownDate) {
  TPers4 r;
  r.sex = sex;
  r.Fam = fam;
  r.Im = im;
  r.Ot = ot;
  r.iYearR = yearR;
  r.dDateR = dayR;
  return r;
}

TDuplicateOptions NoParents() {
  TDuplicateOptions o;
  o.Father = false;
  o.Mother = false;
  o.Who = TDuplicateWho::All;
  return o;
}

// ---------------------------------------------------------------- the scoring rule

TEST(DuplicateScore, TwoMenWithEqualNamesAndNoDatesScore3030Of38) {
  const TaPers4 recs{TPers4{}, Rec("M", "Соколов", "Иван", "Петрович"), Rec("M", "Соколов", "Иван", "Петрович")};
  const TDuplicateOptions o = NoParents();
  const TDuplicateWeights w = DuplicateWeights(o);
  EXPECT_EQ(w.TotalM, 38);
  QString detail = QStringLiteral("M");
  const int score = ScoreDuplicatePair(recs, 1, 2, w.TotalM, detail, false, o);
  EXPECT_EQ(score, 1000 + 1000 + 700 + 6 * 30 + 5 * 30);
  EXPECT_EQ(detail, QStringLiteral("(10+10+7+1+1=30/38)"));
  EXPECT_EQ(DuplicatePercentText(score, w.TotalM), QStringLiteral("79.7"));
}

TEST(DuplicateScore, FieldRulesTable) {
  struct Case {
    const char* what;
    TPers4 a, b;
    const char* sex;
    bool similarity;
    int expected;
  };
  const int base = 6 * 30 + 5 * 30;  // no dates
  const Case cases[] = {
      {"men: one surname missing scores 20 per weight point", Rec("M", "", "Иван", "Петрович"),
       Rec("M", "Соколов", "Иван", "Петрович"), "M", false, 200 + 1000 + 700 + base},
      {"women: one surname missing scores 50", Rec("F", "", "Анна", "Ивановна"), Rec("F", "Орлова", "Анна", "Ивановна"),
       "F", false, 5 * 50 + 10 * 20 + 1000 + 700 + base},
      {"different first names score 0 in the exact mode", Rec("M", "Соколов", "Иван", "Петрович"),
       Rec("M", "Соколов", "Пётр", "Петрович"), "M", false, 1000 + 0 + 700 + base},
      {"one first name missing scores 10, one patronymic missing 30", Rec("M", "Соколов", "", ""),
       Rec("M", "Соколов", "Иван", "Петрович"), "M", false, 1000 + 100 + 210 + base},
      {"similar first names score by similarity", Rec("M", "Соколов", "Иван", "Петрович"),
       Rec("M", "Соколов", "Ивна", "Петрович"), "M", true, 1000 + 10 * 50 + 700 + base},
      {"similar men's surnames with one initial", Rec("M", "Соколов", "Иван", "Петрович"),
       Rec("M", "Сокалов", "Иван", "Петрович"), "M", true, 10 * 85 + 1000 + 700 + base},
      {"men's surnames with different initials keep one hundredth", Rec("M", "Соколов", "Иван", "Петрович"),
       Rec("M", "Токолов", "Иван", "Петрович"), "M", true, 1 + 1000 + 700 + base},
      {"unknown sex: no surname, no maiden surname", Rec("", "Соколов", "Иван", "Петрович"),
       Rec("", "Иванов", "Иван", "Петрович"), "", false, 1000 + 700 + base},
      {"birth years 15 apart, one exact day unknown: -50 per weight point",
       Rec("M", "Соколов", "Иван", "Петрович", 1850, 100.0), Rec("M", "Соколов", "Иван", "Петрович", 1865), "M",
       false, 2700 + 6 * (10 - 15) * 10 + 5 * 30},
      {"two different exact birth days score 0", Rec("M", "Соколов", "Иван", "Петрович", 1850, 100.0),
       Rec("M", "Соколов", "Иван", "Петрович", 1850, 101.0), "M", false, 2700 + 0 + 5 * 30},
      {"equal birth years score full weight", Rec("M", "Соколов", "Иван", "Петрович", 1850),
       Rec("M", "Соколов", "Иван", "Петрович", 1850), "M", false, 2700 + 600 + 5 * 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const TaPers4 recs{TPers4{}, c.a, c.b};
    TDuplicateOptions o = NoParents();
    o.Similarity = c.similarity;
    QString detail = QString::fromUtf8(c.sex);
    EXPECT_EQ(ScoreDuplicatePair(recs, 1, 2, 38, detail, false, o), c.expected);
  }
}

TEST(DuplicateScore, DetailTextOfAWomanAndOfParents) {
  TPers4 a = Rec("F", "Орлова", "Анна", "Ивановна", 1870);
  a.FamR = QStringLiteral("Лебедева");
  TPers4 b = a;
  const TaPers4 recs{TPers4{}, a, b};
  const TDuplicateOptions o = NoParents();
  QString detail = QStringLiteral("F");
  EXPECT_EQ(ScoreDuplicatePair(recs, 1, 2, 43, detail, false, o), 500 + 1000 + 1000 + 700 + 600 + 150);
  EXPECT_EQ(detail, QStringLiteral("(5+(10)+10+7+6+1=39/43)"));
  // As a parent (the mothers' comparison): no surname part; the maiden part stays for "F".
  detail = QStringLiteral("F");
  EXPECT_EQ(ScoreDuplicatePair(recs, 1, 2, 38, detail, true, o), 1000 + 1000 + 700 + 600 + 150);
  EXPECT_EQ(detail, QStringLiteral("((10)+10+7+6+1=34/38)"));
  // Two unknown fathers (the empty record) still score the "not both" parts.
  detail = QStringLiteral("M");
  EXPECT_EQ(ScoreDuplicatePair(recs, 0, 0, 28, detail, true, o), 100 + 210 + 180 + 150);
  EXPECT_EQ(detail, QStringLiteral("(1+2+1+1=6/28)"));
}

TEST(DuplicateScore, WeightSumsAreAtLeastOne) {
  TDuplicateOptions o;
  o.FirstName = o.Patronymic = o.Birth = o.Death = o.Maiden = false;
  const TDuplicateWeights w = DuplicateWeights(o);
  EXPECT_EQ(w.Common, 1);
  EXPECT_EQ(w.CommonF, 1);
  EXPECT_EQ(w.TotalM, 11);
  EXPECT_EQ(w.TotalF, 6);
}

TEST(DuplicateScore, PercentRoundsHalvesToEven) {
  EXPECT_EQ(DuplicatePercentText(3030, 38), QStringLiteral("79.7"));
  EXPECT_EQ(DuplicatePercentText(3000, 40), QStringLiteral("75"));
  EXPECT_EQ(DuplicatePercentText(7625, 100), QStringLiteral("76.2"));  // 76.25 -> 76.2
  EXPECT_EQ(DuplicatePercentText(7635, 100), QStringLiteral("76.4"));  // 76.35 -> 76.4
}

// ---------------------------------------------------------------- the scan on small trees

struct Tree {
  Model m;
  std::int64_t Person(const QString& sex, const QString& surname, const QString& first, const QString& patr,
                      const QString& birth = {}, const QString& death = {}) {
    TINDI p;
    p.SEX = sex;
    p.SURN1 = surname;
    if (sex == u"F") p.SURN0 = surname;
    p.FIRS1 = first;
    p.PATR1 = patr;
    p.FIO1 = FormatFullName(surname, first, patr, QString(), QStringLiteral("123"));
    if (!birth.isEmpty()) p.BIRT_DATE = GDate_RDates(birth);
    if (!death.isEmpty()) {
      p.DEAT = QStringLiteral("+");
      p.DEAT_DATE = GDate_RDates(death);
    }
    m.aIndi.push_back(p);
    return std::int64_t(m.aIndi.size()) - 1;
  }
  std::int64_t Family(std::int64_t husb, std::int64_t wife, std::initializer_list<std::int64_t> children,
                      const QString& marriage = {}) {
    TFAM f;
    f.HUSB = husb;
    f.WIFE = wife;
    if (!marriage.isEmpty()) f.MARR_DATE = GDate_RDates(marriage);
    return reportstest::AddFamily(m, f, children);
  }
  std::vector<std::pair<std::int64_t, std::int64_t>> Pairs(const TDuplicateOptions& o, std::int64_t current = 0) {
    m.aPers4.clear();
    BuildDuplicateRecords(m);
    ResolveDuplicateParents(m);
    std::vector<std::pair<std::int64_t, std::int64_t>> out;
    for (const TDuplicatePair& p : FindDuplicatePairs(m, o, current)) out.emplace_back(p.d, p.p);
    return out;
  }
};

using PairList = std::vector<std::pair<std::int64_t, std::int64_t>>;

TEST(DuplicateScan, CurrentPersonIsPairedWithPersonsBeforeAndAfterHim) {
  Tree t;
  const auto a = t.Person("M", "Соколов", "Иван", "Петрович");
  const auto b = t.Person("M", "Соколов", "Иван", "Петрович");
  const auto c = t.Person("M", "Соколов", "Иван", "Петрович");
  t.Person("F", "Соколова", "Иван", "Петрович");  // another sex: never paired
  TDuplicateOptions o = NoParents();
  o.Who = TDuplicateWho::CurrentOnly;
  EXPECT_EQ(t.Pairs(o, b), (PairList{{b, a}, {b, c}}));
  EXPECT_EQ(t.Pairs(o, a), (PairList{{a, b}, {a, c}}));
  o.Who = TDuplicateWho::All;
  EXPECT_EQ(t.Pairs(o), (PairList{{a, b}, {a, c}, {b, c}}));
}

TEST(DuplicateScan, WhoIsSearched) {
  Tree t;
  const auto m1 = t.Person("M", "Соколов", "Иван", "Петрович");
  const auto f1 = t.Person("F", "Орлова", "Анна", "Ивановна");
  const auto m2 = t.Person("M", "Соколов", "Иван", "Петрович");
  const auto f2 = t.Person("F", "Орлова", "Анна", "Ивановна");
  // Neither "M" nor "F": no surname rule, so at most (1000 + 700 + 600 + 150) / 38 = 64.5 %.
  const auto u1 = t.Person("", "Ильин", "Фёдор", "Петрович", "1850");
  const auto u2 = t.Person("", "Ильин", "Фёдор", "Петрович", "1850");
  TDuplicateOptions o = NoParents();
  o.Threshold = 60;
  o.Who = TDuplicateWho::Men;  // leaves out the women only
  EXPECT_EQ(t.Pairs(o), (PairList{{m1, m2}, {u1, u2}}));
  o.Who = TDuplicateWho::Women;  // leaves out the men only
  EXPECT_EQ(t.Pairs(o), (PairList{{f1, f2}, {u1, u2}}));
  o.Who = TDuplicateWho::All;
  EXPECT_EQ(t.Pairs(o), (PairList{{m1, m2}, {f1, f2}, {u1, u2}}));
}

TEST(DuplicateScan, YearRulesRuleOutPairs) {
  Tree t;
  // Died in 1840, before the other's first family year (a child born 1845).
  const auto a = t.Person("M", "Соколов", "Иван", "Петрович", "1800", "1840");
  const auto b = t.Person("M", "Соколов", "Иван", "Петрович", "1805");
  const auto child = t.Person("M", "Соколов", "Пётр", "Иванович", "1845");
  t.Family(b, 0, {child});
  // Born in 1900, after the other's last family year (a marriage in 1880), and 35 years apart.
  const auto c = t.Person("M", "Ильин", "Фёдор", "Петрович", "1865");
  const auto d = t.Person("M", "Ильин", "Фёдор", "Петрович", "1900");
  t.Family(c, 0, {}, QStringLiteral("1880"));
  // Born 30 years apart: still compared.
  const auto e = t.Person("M", "Орлов", "Фёдор", "Петрович", "1800");
  const auto f = t.Person("M", "Орлов", "Фёдор", "Петрович", "1830");
  TDuplicateOptions o = NoParents();
  o.Threshold = 10;
  const PairList pairs = t.Pairs(o);
  EXPECT_EQ(std::count(pairs.begin(), pairs.end(), std::make_pair(a, b)), 0);
  EXPECT_EQ(std::count(pairs.begin(), pairs.end(), std::make_pair(c, d)), 0);
  EXPECT_EQ(std::count(pairs.begin(), pairs.end(), std::make_pair(e, f)), 1);
}

TEST(DuplicateScan, SiblingsAreLeftOutOnlyWhenAsked) {
  Tree t;
  const auto father = t.Person("M", "Ильин", "Фёдор", "", "1870");
  const auto s1 = t.Person("M", "Ильин", "Николай", "Фёдорович", "1901", "1902");
  const auto s2 = t.Person("M", "Ильин", "Николай", "Фёдорович", "1902");
  t.Family(father, 0, {s1, s2});
  // Two persons without known parents are no siblings.
  const auto x = t.Person("M", "Орлов", "Пётр", "Ильич");
  const auto y = t.Person("M", "Орлов", "Пётр", "Ильич");
  TDuplicateOptions o = NoParents();
  EXPECT_EQ(t.Pairs(o), (PairList{{x, y}}));
  o.ExcludeSiblings = false;
  EXPECT_EQ(t.Pairs(o), (PairList{{s1, s2}, {x, y}}));
}

TEST(DuplicateScan, EmptyDateTextCountsAsUnknown) {
  Tree t;
  // One has a death date, the other no death record at all (a date no parser filled): the death field
  // scores "unknown" (30 per point), not "two different days" (0).
  const auto a = t.Person("M", "Соколов", "Иван", "Петрович", {}, "12 MAR 1910");
  const auto b = t.Person("M", "Соколов", "Иван", "Петрович");
  EXPECT_EQ(t.m.aIndi[std::size_t(b)].DEAT_DATE.DDATE, kUnknownDate);
  BuildDuplicateRecords(t.m);
  EXPECT_EQ(t.m.aPers4[std::size_t(b)].dDateS, kUnknownDate);
  QString detail = QStringLiteral("M");
  EXPECT_EQ(ScoreDuplicatePair(t.m.aPers4, a, b, 38, detail, false, NoParents()), 2700 + 180 + 150);
}

TEST(DuplicateScan, ParentsAddTheirScoresAndTotals) {
  Tree t;
  const auto f1 = t.Person("M", "Ильин", "Фёдор", "Петрович", "1870");
  const auto f2 = t.Person("M", "Ильин", "Фёдор", "Петрович", "1870");
  const auto a = t.Person("M", "Ильин", "Николай", "Фёдорович", "1901");
  const auto b = t.Person("M", "Ильин", "Николай", "Фёдорович", "1901");
  t.Family(f1, 0, {a});
  t.Family(f2, 0, {b});
  TDuplicateOptions o;
  o.Who = TDuplicateWho::All;
  o.Threshold = 60;
  t.Pairs(o);
  const auto pairs = FindDuplicatePairs(t.m, o, 0);
  // The fathers (no parents of their own: 4930 / 104 = 47.4 %) stay below; the sons reach 64.8 %.
  ASSERT_EQ(pairs.size(), 1u);
  const TDuplicatePair& sons = pairs[0];
  EXPECT_EQ(sons.d, a);
  // Own: 1000+1000+700+600+150; fathers: 1000+700+600+150; mothers (both unknown): 200+100+210+180+150.
  EXPECT_EQ(sons.score, 3450 + 2450 + 840);
  EXPECT_EQ(sons.total, 38 + 28 + 38);
  EXPECT_EQ(sons.fatherDetail, QStringLiteral(" + (10+7+6+1=24/28)"));
  EXPECT_EQ(sons.motherDetail, QStringLiteral(" + ((2)+1+2+1+1=8/38)"));
}

// ---------------------------------------------------------------- planted duplicates of a GEDCOM file

struct Planted : ::testing::Test {
  Model m;
  void SetUp() override {
    Ged_Indi(m, QStringLiteral(TREVOLAN_SOURCE_DIR "/tests/data/reports/duplicates/planted.ged"));
    PreparePersonsAfterLoad(m);
  }
  std::vector<std::tuple<QString, QString, QString>> Run(const TDuplicateOptions& o, std::int64_t current = 0) {
    m.aPers4.clear();
    BuildDuplicateRecords(m);
    ResolveDuplicateParents(m);
    std::vector<std::tuple<QString, QString, QString>> out;
    for (const TDuplicatePair& p : FindDuplicatePairs(m, o, current))
      out.emplace_back(m.aIndi[std::size_t(p.d)].INDI, m.aIndi[std::size_t(p.p)].INDI,
                       DuplicatePercentText(p.score, p.total));
    return out;
  }
  std::int64_t Find(const char* id) const {
    for (std::size_t i = 1; i < m.aIndi.size(); ++i)
      if (m.aIndi[i].INDI == QLatin1String(id)) return std::int64_t(i);
    return 0;
  }
};

using Found = std::vector<std::tuple<QString, QString, QString>>;
std::tuple<QString, QString, QString> P(const char* a, const char* b, const char* pct) {
  return {QString::fromLatin1(a), QString::fromLatin1(b), QString::fromLatin1(pct)};
}

TEST_F(Planted, ExactModeFindsCopiesAndOtherYears) {
  // @I1@/@I2@: copies (one without death); @I3@ born three years later; @I10@/@I11@: "1870" and "ABT 1870".
  // Not found: misspelt names (@I4@, @I6@, @I12@), swapped first name and patronymic (@I5@), a copy born
  // 40 years later (@I7@), the two brothers of one name (@I20@, @I21@).
  EXPECT_EQ(Run(NoParents()), (Found{P("@I1@", "@I2@", "90.8"), P("@I1@", "@I3@", "86.1"), P("@I2@", "@I3@", "86.1"),
                                     P("@I10@", "@I11@", "91.9")}));
}

TEST_F(Planted, SimilarityModeAlsoFindsMisspeltNames) {
  TDuplicateOptions o = NoParents();
  o.Similarity = true;
  EXPECT_EQ(Run(o), (Found{P("@I1@", "@I2@", "90.8"), P("@I1@", "@I3@", "86.1"), P("@I1@", "@I4@", "77.6"),
                           P("@I1@", "@I6@", "86.8"), P("@I2@", "@I3@", "86.1"), P("@I2@", "@I4@", "77.6"),
                           P("@I2@", "@I6@", "86.8"), P("@I3@", "@I6@", "82.1"), P("@I10@", "@I11@", "91.9"),
                           P("@I10@", "@I12@", "78.8"), P("@I11@", "@I12@", "78.8")}));
}

TEST_F(Planted, SiblingsOfOneNameWithoutTheSiblingRule) {
  TDuplicateOptions o = NoParents();
  o.ExcludeSiblings = false;
  o.Who = TDuplicateWho::Men;
  const Found found = Run(o);
  EXPECT_NE(std::find(found.begin(), found.end(), P("@I20@", "@I21@", "76.3")), found.end());
}

TEST_F(Planted, CurrentPersonMode) {
  TDuplicateOptions o = NoParents();
  o.Who = TDuplicateWho::CurrentOnly;
  EXPECT_EQ(Run(o, Find("@I3@")), (Found{P("@I3@", "@I1@", "86.1"), P("@I3@", "@I2@", "86.1")}));
  EXPECT_EQ(Run(o, Find("@I12@")), Found{});
  o.Similarity = true;
  EXPECT_EQ(Run(o, Find("@I12@")), (Found{P("@I12@", "@I10@", "78.8"), P("@I12@", "@I11@", "78.8")}));
}

TEST_F(Planted, DefaultParentOptionsLowerScoresOfPersonsWithoutParents) {
  // With the fathers and mothers compared (the defaults), two unknown parents score only their "not both"
  // parts, so even exact copies stay below 75 %.
  TDuplicateOptions o;
  o.Who = TDuplicateWho::All;
  EXPECT_EQ(Run(o), Found{});
  o.Threshold = 45;
  const Found found = Run(o);
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found.front(), P("@I1@", "@I2@", "47.4"));  // (3450 + 640 + 840) / (38 + 28 + 38)
}

// ---------------------------------------------------------------- pruned scan = plain scan

// Random trees with few, similar names (so that many texts are equal, similar or missing), random dates
// and families; random options. The pruned scan must give exactly the plain scan's pairs.
TEST(DuplicatePruning, PrunedScanEqualsPlainScanOnRandomTrees) {
  std::mt19937 rng(20261211);
  const auto pick = [&](std::initializer_list<const char*> list) {
    std::uniform_int_distribution<std::size_t> d(0, list.size() - 1);
    return QString::fromUtf8(*(list.begin() + d(rng)));
  };
  const auto chance = [&](int percent) { return int(rng() % 100) < percent; };
  long long totalPairs = 0;
  for (int trial = 0; trial < 120; ++trial) {
    Tree t;
    // Mostly small trees; a few larger ones, where the name selections are small enough to be gathered.
    const int n = trial < 10 ? 400 + int(rng() % 200) : 60 + int(rng() % 80);
    for (int i = 0; i < n; ++i) {
      const QString sex = pick({"M", "M", "F", "F", "", "U"});
      const QString fam = chance(15) ? QString() : pick({"Соколов", "Сокалов", "Соколова", "Иванов", "Иванова", "Ив", "Tokolov"});
      const QString im = chance(15) ? QString() : pick({"Иван", "Ивна", "Пётр", "Петр", "Анна", "Ана", "I"});
      const QString ot = chance(30) ? QString() : pick({"Петрович", "Петровна", "Иванович", "Ивановна"});
      QString birth, death;
      if (chance(70)) birth = chance(50) ? QString::number(1800 + rng() % 60)
                                         : QStringLiteral("%1 MAR %2").arg(1 + rng() % 3).arg(1800 + rng() % 60);
      if (chance(40)) death = QString::number(1840 + rng() % 60);
      const auto p = t.Person(sex, fam, im, ot, birth, death);
      if (sex == u"F" && chance(50)) t.m.aIndi[std::size_t(p)].SURN0 = pick({"Орлова", "Ильина", "Орлова"});
    }
    for (int f = 0; f < n / 4; ++f) {
      const std::int64_t h = 1 + std::int64_t(rng() % n), w = 1 + std::int64_t(rng() % n);
      const std::int64_t c1 = 1 + std::int64_t(rng() % n), c2 = 1 + std::int64_t(rng() % n);
      if (t.m.aIndi[std::size_t(c1)].FAMC || t.m.aIndi[std::size_t(c2)].FAMC || c1 == c2) continue;
      t.Family(chance(80) ? h : 0, chance(80) ? w : 0, {c1, c2}, chance(30) ? QStringLiteral("1850") : QString());
    }
    TDuplicateOptions o;
    const auto weight = [&] { return 1 + int(rng() % 10); };
    o.SurnameMen = chance(80), o.SurnameMenWeight = weight();
    o.SurnameWomen = chance(80), o.SurnameWomenWeight = weight();
    o.Maiden = chance(80), o.MaidenWeight = weight();
    o.FirstName = chance(80), o.FirstNameWeight = weight();
    o.Patronymic = chance(80), o.PatronymicWeight = weight();
    o.Birth = chance(80), o.BirthWeight = weight();
    o.Death = chance(80), o.DeathWeight = weight();
    o.Father = chance(40), o.Mother = chance(40);
    o.Similarity = chance(50);
    o.Threshold = 10 + 5 * int(rng() % 19);
    o.ExcludeSiblings = chance(50);
    o.Who = static_cast<TDuplicateWho>(rng() % 4);
    const std::int64_t current = 1 + std::int64_t(rng() % n);
    BuildDuplicateRecords(t.m);
    ResolveDuplicateParents(t.m);
    const auto plain = FindDuplicatePairs(t.m, o, current, false);
    const auto pruned = FindDuplicatePairs(t.m, o, current, true);
    ASSERT_EQ(plain.size(), pruned.size()) << "trial " << trial;
    for (std::size_t i = 0; i < plain.size(); ++i) {
      SCOPED_TRACE(testing::Message() << "trial " << trial << " pair " << i);
      EXPECT_EQ(pruned[i].d, plain[i].d);
      EXPECT_EQ(pruned[i].p, plain[i].p);
      EXPECT_EQ(pruned[i].score, plain[i].score);
      EXPECT_EQ(pruned[i].total, plain[i].total);
      EXPECT_EQ(pruned[i].siblings, plain[i].siblings);
      EXPECT_EQ(pruned[i].detail + pruned[i].fatherDetail + pruned[i].motherDetail,
                plain[i].detail + plain[i].fatherDetail + plain[i].motherDetail);
    }
    totalPairs += long(plain.size());
  }
  EXPECT_GT(totalPairs, 500);  // the trials do find pairs, so the comparison means something
}

// ---------------------------------------------------------------- the written report

struct TextRun {
  QString text;
  TColor color;
  bool bold;
  bool underline;
};

std::vector<TextRun> Runs(const QTextDocument& doc) {
  std::vector<TextRun> out;
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
    if (b != doc.begin()) out.push_back({QStringLiteral("\n"), -1, false, false});
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      const QTextFragment f = it.fragment();
      const QColor c = f.charFormat().foreground().color();
      out.push_back({f.text(), TColor(c.red() | (c.green() << 8) | (c.blue() << 16)),
                     f.charFormat().fontWeight() >= QFont::Bold, f.charFormat().fontUnderline()});
    }
  }
  return out;
}

TEST(DuplicateReport, WritesHeadMatchesParentsAndTime) {
  EnsureApp();
  Tree t;
  const auto father = t.Person("M", "Ильин", "Фёдор", "", "1870");
  const auto a = t.Person("F", "Ильина", "Анна", "Фёдоровна", "1901");
  const auto b = t.Person("F", "Ильина", "Анна", "Фёдоровна", "1901");
  t.Family(father, 0, {a, b});
  TDuplicateOptions o;
  o.Who = TDuplicateWho::CurrentOnly;
  o.ExcludeSiblings = false;
  o.Threshold = 50;
  QTextDocument doc;
  const auto translate = [](const QString& key, const QString& def) {
    return key == u"*PD" ? QStringLiteral("СЕСТРА") : def;
  };
  const auto pairs = FindDoubleGedcom(t.m, o, a, &doc, translate);
  ASSERT_EQ(pairs.size(), 1u);
  const QStringList lines = doc.toPlainText().split(u'\n');
  ASSERT_EQ(lines.size(), 7);
  EXPECT_EQ(lines[0], QStringLiteral("Ильина Анна Фёдоровна (1901-)"));
  EXPECT_EQ(lines[1], QStringLiteral("  отец - Ильин Фёдор (1870-)"));
  EXPECT_EQ(lines[2], QStringLiteral("  мать - ?"));
  const QString pct = DuplicatePercentText(pairs[0].score, pairs[0].total);
  EXPECT_EQ(lines[3], QStringLiteral(" - сестра Ильина Анна Фёдоровна (1901-) ") + pairs[0].detail +
                          pairs[0].fatherDetail + pairs[0].motherDetail + QStringLiteral(" = ") +
                          QString::number(pairs[0].score / 100) + u'/' + QString::number(pairs[0].total) +
                          QStringLiteral(" = ") + pct + u'%');
  EXPECT_EQ(lines[4], QStringLiteral("   отец - Ильин Фёдор (1870-)"));
  EXPECT_EQ(lines[5], QStringLiteral("   мать - ?"));
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^Time: \\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d$")).match(lines[6]).hasMatch())
      << lines[6].toStdString();
  // Colours: the head in red (a woman), bold and underlined; fathers in blue, mothers in red.
  const std::vector<TextRun> runs = Runs(doc);
  ASSERT_FALSE(runs.empty());
  EXPECT_EQ(runs[0].color, 255);
  EXPECT_TRUE(runs[0].bold);
  EXPECT_TRUE(runs[0].underline);
  const auto runOf = [&](const QString& text) {
    for (const TextRun& r : runs)
      if (r.text.startsWith(text)) return r;  // equal formats merge into one fragment
    return TextRun{};
  };
  EXPECT_EQ(runOf(QStringLiteral("  отец - ")).color, 0xFF0000);
  EXPECT_EQ(runOf(QStringLiteral("  мать - ")).color, 255);
  const TextRun match = runOf(QStringLiteral("Ильина Анна Фёдоровна (1901-) "));
  EXPECT_TRUE(match.bold);
  EXPECT_FALSE(match.underline);
}

TEST(DuplicateReport, RecordsAreBuiltOncePerLoadAndAStopEmptiesThem) {
  EnsureApp();
  Tree t;
  t.Person("M", "Соколов", "Иван", "Петрович");
  t.Person("M", "Соколов", "Иван", "Петрович");
  TDuplicateOptions o = NoParents();
  QTextDocument doc;
  EXPECT_EQ(FindDoubleGedcom(t.m, o, 1, &doc).size(), 1u);
  // A second search uses the kept records: a change of the model after the build is not seen.
  t.m.aIndi[2].FIRS1 = QStringLiteral("Пётр");
  EXPECT_EQ(FindDoubleGedcom(t.m, o, 1, &doc).size(), 1u);
  // A stop during the build empties the records; the report still ends with its time line.
  t.m.aPers4.clear();
  int calls = 0;
  const auto stopAtOnce = [&](std::int64_t, std::int64_t) {
    if (++calls == 1) t.m.AbortFlag = true;
  };
  EXPECT_TRUE(FindDoubleGedcom(t.m, o, 1, &doc, {}, stopAtOnce).empty());
  EXPECT_TRUE(t.m.aPers4.empty());
  EXPECT_TRUE(doc.toPlainText().startsWith(QStringLiteral("Time: ")));
  // The next search rebuilds them from the changed model.
  EXPECT_TRUE(FindDoubleGedcom(t.m, o, 1, &doc).empty());
  EXPECT_FALSE(t.m.aPers4.empty());
}

}  // namespace
