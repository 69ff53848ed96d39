#include "app/charts/Kinship.h"
#include "app/charts/KinshipPicture.h"
#include "KinshipFixtures.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TKinshipOptions Named() {
  TKinshipOptions o;
  o.RelationName = true;
  return o;
}

std::vector<QString> Chains(const TKinship& k) { return k.aLinkChains; }

// The text line of every entry, as the page shows each when it is chosen.
QStringList Lines(const Model& m, TKinship& k, const TKinshipOptions& o) {
  QStringList out;
  for (int i = 0; i < int(k.aLinkChains.size()); ++i) {
    ComboBox3Change(m, k, i, o);
    out << k.Text.toPlainText();
  }
  return out;
}

// The relation words at the end of the last person's part of a text line.
QString LastName(const QString& line) { return line.section(QStringLiteral(" > "), -1); }

TEST(Link2PersGedcom, BloodLinksThroughTheLowestCommonAncestors) {
  Clan c;
  struct Case {
    std::int64_t a, b;
    std::vector<std::int64_t> ancestors;  // the common ancestors listed, in order
    const char16_t* lastName;             // how B is named from A
  } cases[] = {
      {c.a, c.sis, {c.f, c.m_}, u"Orlova Sofia 1892 Сестра"},
      {c.a, c.bro, {c.f, c.m_}, u"Orlov Boris 1894 Брат"},
      {c.a, c.cousin, {c.g1, c.g1w}, u"Orlov Kirill 1891 2-юродный брат"},
      {c.a, c.cousinF, {c.g1, c.g1w}, u"Orlova Klara 1893 2-юродная сестра"},
      {c.a, c.u, {c.g1, c.g1w}, u"Orlov Ustin 1864 Дядя"},
      {c.a, c.gu, {c.gg, c.ggw}, u"Orlov Yakov 1835 2-юродный дед"},
      {c.a, c.cc, {c.g1, c.g1w}, u"Orlov Semen 1920 2-юродный племянник"},
      {c.cc, c.a, {c.g1, c.g1w}, u"Orlov Anton 1890 2-юродный дядя"},
  };
  const TKinshipOptions o = Named();
  for (const Case& t : cases) {
    TKinship k;
    Link2PersGedcom(c.m, k, t.a, t.b, o);
    std::vector<QString> want;
    for (std::int64_t x : t.ancestors) want.push_back(Id(x));
    EXPECT_EQ(Chains(k), want) << t.a << " " << t.b;
    ASSERT_EQ(k.Items.size(), qsizetype(want.size()));
    for (size_t i = 0; i < t.ancestors.size(); ++i)
      EXPECT_EQ(k.Items[qsizetype(i)], c.m.aIndi[size_t(t.ancestors[i])].FIO1 + QLatin1Char(' ') +
                                           c.m.aIndi[size_t(t.ancestors[i])].BIRT_DATE.YEARS +
                                           (c.m.aIndi[size_t(t.ancestors[i])].DEAT_DATE.YEARS.isEmpty()
                                                ? QString()
                                                : QLatin1Char('-') + c.m.aIndi[size_t(t.ancestors[i])].DEAT_DATE.YEARS));
    for (const QString& line : Lines(c.m, k, o)) EXPECT_EQ(LastName(line), QString::fromUtf16(t.lastName));
  }
}

TEST(Link2PersGedcom, TheTextLineReadsFromAThroughTheAncestorToB) {
  Clan c;
  TKinship k;
  Link2PersGedcom(c.m, k, c.a, c.cousin, Named());
  EXPECT_EQ(k.Text.toPlainText(),
            QStringLiteral("Orlov Anton 1890 > Orlov Fedor 1860 Отец > Orlov Ivan 1830 Дед > Orlov Ustin 1864 Дядя > "
                           "Orlov Kirill 1891 2-юродный брат"));
  EXPECT_EQ(k.LinkChain, Id(c.a) + QLatin1Char(';') + Id(c.f) + QLatin1Char(';') + Id(c.g1) + QLatin1Char(';') +
                             Id(c.u) + QLatin1Char(';') + Id(c.cousin) + QLatin1Char(';'));
  // The tree: the ancestor, A's line as his first child, B's line as the second.
  ASSERT_EQ(k.Tree.Count(), 5);
  EXPECT_EQ(k.Tree[0].Level, 0);
  EXPECT_EQ(k.Tree[0].Children.size(), 2u);
  EXPECT_EQ(k.Tree[0].StateImage, 1);
}

TEST(Link2PersGedcom, DirectLines) {
  Clan c;
  const TKinshipOptions o = Named();
  TKinship k;
  // B is A's father: the direct line, and B as the ancestor reached from A and from B himself.
  Link2PersGedcom(c.m, k, c.a, c.f, o);
  EXPECT_EQ(Chains(k), (std::vector<QString>{QStringLiteral("."), Id(c.f)}));
  EXPECT_EQ(Lines(c.m, k, o),
            (QStringList{QStringLiteral("Orlov Anton 1890 > Orlov Fedor 1860 Отец"),
                         QStringLiteral("Orlov Anton 1890 > Orlov Fedor 1860 Отец")}));
  // A is B's grandfather: the line still reads from A to B.
  Link2PersGedcom(c.m, k, c.g1, c.a, o);
  EXPECT_EQ(Chains(k), std::vector<QString>{QStringLiteral("..")});
  EXPECT_EQ(k.Text.toPlainText(), QStringLiteral("Orlov Ivan 1830 > Orlov Fedor 1860 Сын > Orlov Anton 1890 Внук"));
  // The same person twice: the single link ".".
  Link2PersGedcom(c.m, k, c.a, c.a, o);
  EXPECT_EQ(Chains(k), std::vector<QString>{QStringLiteral(".")});
  EXPECT_EQ(k.Text.toPlainText(), QStringLiteral("Orlov Anton 1890"));
}

TEST(Link2PersGedcom, NoLinkListsNotFoundAndDrawsNothing) {
  Clan c;
  TKinship k;
  Link2PersGedcom(c.m, k, c.a, c.wf, Named());
  EXPECT_TRUE(k.aLinkChains.empty());
  EXPECT_EQ(k.Items, QStringList{QStringLiteral("Not found")});
  EXPECT_TRUE(k.Picture.isNull());
  EXPECT_TRUE(k.Text.isEmpty());
  EXPECT_TRUE(k.Tree.Empty());
  // An index that is no person finds nothing either.
  Link2PersGedcom(c.m, k, c.a, 9999, Named());
  EXPECT_EQ(k.Items, QStringList{QStringLiteral("Not found")});
}

TEST(Link2PersGedcom, InLawsThroughMarriageShortestFirst) {
  Clan c;
  TKinshipOptions o = Named();
  o.OnlyBlood = false;
  TKinship k;
  k.Random.seed(7);
  Link2PersGedcom(c.m, k, c.a, c.wf, o);
  ASSERT_FALSE(k.aLinkChains.empty());
  EXPECT_EQ(k.aLinkChains[0], Id(c.a) + QLatin1Char(';') + Id(c.wife) + QLatin1Char(';') + Id(c.wf) + QStringLiteral(";52"));
  EXPECT_EQ(k.Items[0], QStringLiteral("Вариант 1 (2)"));
  EXPECT_TRUE(k.ShowPicturePage);
  EXPECT_EQ(k.Text.toPlainText(), QStringLiteral("Orlov Anton > Orlova Zoya > Belov Zakhar"));
  for (size_t i = 1; i < k.aLinkChains.size(); ++i)
    EXPECT_LE(ChainCodes(k.aLinkChains[i - 1]).size(), ChainCodes(k.aLinkChains[i]).size());
}

TEST(Link2PersGedcom, OnlyBloodOrShortLimitsListNoChains) {
  Clan c;
  for (const auto& [onlyBlood, maxLen] : {std::pair{true, 30}, std::pair{false, 10}, std::pair{false, 3}}) {
    TKinshipOptions o;
    o.OnlyBlood = onlyBlood;
    o.MaxLen = maxLen;
    TKinship k;
    Link2PersGedcom(c.m, k, c.a, c.cousin, o);
    for (const QString& e : k.aLinkChains) EXPECT_FALSE(e.contains(QLatin1Char(';'))) << e.toStdString();
    EXPECT_EQ(k.aLinkChains.size(), 2u);
  }
}

// Every step of a chain follows a link of the tree: "1" to a child, "2" to a parent, "5" to a spouse.
void ExpectValidChain(const Model& m, const QString& chain, std::int64_t a, std::int64_t b) {
  const std::vector<std::int64_t> persons = ChainPersons(chain);
  const QString codes = ChainCodes(chain);
  ASSERT_EQ(persons.size(), size_t(codes.size()) + 1) << chain.toStdString();
  EXPECT_EQ(persons.front(), a);
  EXPECT_EQ(persons.back(), b);
  EXPECT_EQ(std::set<std::int64_t>(persons.begin(), persons.end()).size(), persons.size()) << "a simple path";
  for (qsizetype i = 0; i < codes.size(); ++i) {
    const std::int64_t w = persons[size_t(i)], v = persons[size_t(i) + 1];
    bool ok = false;
    for (std::int64_t f : m.aIndi[size_t(w)].FAMS) {
      const TFAM& F = m.aFam[size_t(f)];
      if (codes[i] == QLatin1Char('1'))
        ok |= std::find(F.CHIL.begin(), F.CHIL.end(), v) != F.CHIL.end();
      if (codes[i] == QLatin1Char('5')) ok |= (F.HUSB == w && F.WIFE == v) || (F.WIFE == w && F.HUSB == v);
    }
    if (codes[i] == QLatin1Char('2')) {
      const TFAM& F = m.aFam[size_t(m.aIndi[size_t(w)].FAMC)];
      ok = F.HUSB == v || F.WIFE == v;
    }
    EXPECT_TRUE(ok) << chain.toStdString() << " step " << i;
  }
}

TEST(SearchLinkGraph, FindsRealPathsWithinTheLimitAndRepeatsWithTheSameSeed) {
  Clan c;
  for (quint32 seed : {1u, 2u, 3u, 42u, 1000u}) {
    TKinship k1, k2;
    k1.Random.seed(seed);
    k2.Random.seed(seed);
    const QString chain = SearchLinkGraph(c.m, k1, c.wm, c.cc, 0, 11);
    ASSERT_FALSE(chain.isEmpty()) << seed;
    EXPECT_EQ(SearchLinkGraph(c.m, k2, c.wm, c.cc, 0, 11), chain) << "the same seed, the same path";
    ExpectValidChain(c.m, chain, c.wm, c.cc);
    EXPECT_LE(ChainCodes(chain).size(), 12);
  }
  // Too short a limit finds nothing: wm - wife - a - f - g1 - u - cousin - cc is 7 steps.
  TKinship k;
  EXPECT_EQ(SearchLinkGraph(c.m, k, c.wm, c.cc, 0, 5), QString());
  // Without the marriage of a and his wife there is no way from her mother to the clan.
  const std::int64_t marriage = c.m.aIndi[size_t(c.a)].FAMS.front();
  EXPECT_EQ(SearchLinkGraph(c.m, k, c.wm, c.cc, marriage, 20), QString());
}

TEST(SortLinkVariants, ShortestCodesFirstInTheRangeOnly) {
  std::vector<QString> v{QStringLiteral("7"), QStringLiteral("1;2;3;4;555"), QStringLiteral("1;2;5"),
                         QStringLiteral("1;2;3;55"), QStringLiteral("1;2;5")};
  SortLinkVariants(v, 4, 1);
  EXPECT_EQ(v, (std::vector<QString>{QStringLiteral("7"), QStringLiteral("1;2;5"), QStringLiteral("1;2;5"),
                                     QStringLiteral("1;2;3;55"), QStringLiteral("1;2;3;4;555")}));
}

TEST(PlaceHasLink, ComparesWholeNumbers) {
  EXPECT_TRUE(PlaceHasLink(QStringLiteral("2 "), 2));
  EXPECT_FALSE(PlaceHasLink(QStringLiteral("12 "), 2));
  EXPECT_FALSE(PlaceHasLink(QStringLiteral("1 21 "), 2));
  EXPECT_TRUE(PlaceHasLink(QStringLiteral("1 12 "), 12));
  EXPECT_FALSE(PlaceHasLink(QString(), 1));
}

// The ancestor's own entry is taken only for the link on show: link 2 is not link 12.
TEST(Link2PersPaint, TakesTheAncestorEntryOfTheChosenLinkOnly) {
  TreeBuilder t;
  const auto gf = t.Person(QStringLiteral("Gf G"), QStringLiteral("M"));
  const auto gm = t.Person(QStringLiteral("Gm G"), QStringLiteral("F"));
  const auto k0 = t.Person(QStringLiteral("K0 K"), QStringLiteral("M"));
  const auto k1 = t.Person(QStringLiteral("K1 K"), QStringLiteral("M"));
  t.Family(gf, gm, {k0, k1});
  const auto x = t.Person(QStringLiteral("X X"), QStringLiteral("M"));
  const auto y = t.Person(QStringLiteral("Y Y"), QStringLiteral("F"));
  t.Family(k0, 0, {x});
  t.Family(k1, 0, {y});
  TKinship k;
  Link2PersGedcom(t.m, k, x, y, Named());
  ASSERT_EQ(k.aLinkChains, (std::vector<QString>{Id(gf), Id(gm)}));
  ComboBox3Change(t.m, k, 1, Named());
  EXPECT_EQ(k.Text.toPlainText(), QStringLiteral("X X > K0 K Отец > Gm G Бабушка > K1 K Дядя > Y Y 2-юродная сестра"));
  // Give the grandmother's entry in A's list the number of a twelfth link instead.
  for (TPers& e : k.aLinkPersA)
    if (e.ID == Id(gm)) e.Place = QStringLiteral("12 ");
  ComboBox3Change(t.m, k, 1, Named());
  EXPECT_EQ(k.Text.toPlainText(), QStringLiteral("Y Y Внучка > K1 K Сын > Gm G"))
      << "an entry of link 12 is not an entry of link 2";
}

// A person who is his own grandfather: the expansions and the graph search end, and the lists stay
// bounded by the number of parent links.
TEST(Link2PersGedcom, EndsOnALoopInTheData) {
  TreeBuilder t;
  const auto x = t.Person(QStringLiteral("X X"), QStringLiteral("M"));
  const auto y = t.Person(QStringLiteral("Y Y"), QStringLiteral("M"));
  const auto w = t.Person(QStringLiteral("W W"), QStringLiteral("F"));
  const auto z = t.Person(QStringLiteral("Z Z"), QStringLiteral("F"));
  t.Family(y, w, {x});  // Y is X's father
  t.Family(x, z, {y});  // and X is Y's father
  const auto s = t.Person(QStringLiteral("S S"), QStringLiteral("M"));
  t.Family(x, z, {s});
  TKinshipOptions o = Named();
  o.OnlyBlood = false;
  TKinship k;
  k.Random.seed(3);
  Link2PersGedcom(t.m, k, s, y, o);
  EXPECT_FALSE(k.aLinkChains.empty());
  EXPECT_LE(k.aLinkPersA.size(), 8u);
  EXPECT_LE(k.aLinkPersB.size(), 8u);
}

// C is the mother of B and also his daughter, and B is A's father: a loop in the data. Every link between
// any two of them reads from the first person to the second and passes nobody twice.
TEST(Link2PersGedcom, LinksOnALoopEndAtBAndPassNobodyTwice) {
  TreeBuilder t;
  const auto a = t.Person(QStringLiteral("Loop A"), QStringLiteral("M"));
  const auto b = t.Person(QStringLiteral("Loop B"), QStringLiteral("M"));
  const auto c = t.Person(QStringLiteral("Loop C"), QStringLiteral("F"));
  t.Family(b, 0, {a});
  t.Family(0, c, {b});
  t.Family(b, 0, {c});
  const TKinshipOptions o = Named();
  for (const auto& [x, y] : std::vector<std::pair<std::int64_t, std::int64_t>>{
           {a, b}, {b, a}, {a, c}, {c, a}, {b, c}, {c, b}}) {
    TKinship k;
    Link2PersGedcom(t.m, k, x, y, o);
    ASSERT_FALSE(k.aLinkChains.empty()) << x << " " << y;
    for (int i = 0; i < int(k.aLinkChains.size()); ++i) {
      ComboBox3Change(t.m, k, i, o);
      const QStringList persons = k.LinkChain.split(QLatin1Char(';'), Qt::SkipEmptyParts);
      const QString what = QStringLiteral("%1 -> %2, link %3: ").arg(x).arg(y).arg(i + 1) + k.Text.toPlainText();
      ASSERT_FALSE(persons.isEmpty()) << what.toStdString();
      EXPECT_EQ(persons.front(), Id(x)) << what.toStdString();
      EXPECT_EQ(persons.back(), Id(y)) << what.toStdString();
      EXPECT_EQ(QSet<QString>(persons.begin(), persons.end()).size(), persons.size()) << what.toStdString();
    }
  }
  // The user's case: B is A's father, found as the direct line and as the ancestor reached from both.
  TKinship k;
  Link2PersGedcom(t.m, k, a, b, o);
  EXPECT_EQ(Chains(k), (std::vector<QString>{QStringLiteral("."), Id(b)}));
  EXPECT_EQ(Lines(t.m, k, o), (QStringList{QStringLiteral("Loop A > Loop B Отец"), QStringLiteral("Loop A > Loop B Отец")}));
}

// Cousins who married: their child reaches the shared great-grandparents along two lines.
TEST(ExpandAncestorsForLink, PedigreeCollapseKeepsOneEntryPerParentLink) {
  TreeBuilder t;
  std::int64_t top = t.Person(QStringLiteral("T T"), QStringLiteral("M"));
  const auto topw = t.Person(QStringLiteral("Tw T"), QStringLiteral("F"));
  const auto s1 = t.Person(QStringLiteral("S1 S"), QStringLiteral("M"));
  const auto s2 = t.Person(QStringLiteral("S2 S"), QStringLiteral("F"));
  t.Family(top, topw, {s1, s2});
  const auto c1 = t.Person(QStringLiteral("C1 C"), QStringLiteral("M"));
  const auto c2 = t.Person(QStringLiteral("C2 C"), QStringLiteral("F"));
  t.Family(s1, 0, {c1});
  t.Family(0, s2, {c2});
  const auto child = t.Person(QStringLiteral("Ch C"), QStringLiteral("M"));
  t.Family(c1, c2, {child});
  // Twenty generations above the top couple double nothing.
  for (int g = 0; g < 20; ++g) {
    const auto p = t.Person(QStringLiteral("P%1 P").arg(g), QStringLiteral("M"));
    t.Family(p, 0, {top});
    top = p;
  }
  TKinship k;
  QString found;
  std::vector<TPers> list, none;
  ExpandAncestorsForLink(t.m, k, child, 0, list, found, none, {});
  // child, c1, c2, s1, s2, T and Tw once per child (s1, s2), then the line above T once: both T entries
  // would append the same (father, T) pair.
  EXPECT_EQ(list.size(), 9u + 20u);
  std::set<std::pair<QString, QString>> pairs;
  for (const TPers& e : list) pairs.insert({e.ID, e.ID0});
  EXPECT_EQ(pairs.size(), list.size());
}

TEST(Link2PersExGedcom, StopsWhenAskedAndKeepsWhatItFound) {
  // A long line of couples: each husband is the son of the previous couple.
  TreeBuilder t;
  std::int64_t parent = 0, mother = 0;
  std::vector<std::int64_t> men;
  for (int i = 0; i < 3000; ++i) {
    const auto h = t.Person(QStringLiteral("H%1 H").arg(i), QStringLiteral("M"));
    const auto w = t.Person(QStringLiteral("W%1 W").arg(i), QStringLiteral("F"));
    if (parent) t.Family(parent, mother, {h});
    t.Family(h, w, {});
    parent = h;
    mother = w;
    men.push_back(h);
  }
  TKinshipOptions o;
  o.OnlyBlood = false;
  o.MaxLen = 100;
  TKinship k;
  int calls = 0;
  TKinshipHooks hooks;
  hooks.keepGoing = [&] { return ++calls < 2; };
  Link2PersGedcom(t.m, k, men.front(), mother, o, hooks);
  EXPECT_TRUE(k.Stopped);
  EXPECT_EQ(calls, 2) << "no question after the answer to stop";
  EXPECT_EQ(k.Items, QStringList{QStringLiteral("Not found")});
}

}  // namespace
