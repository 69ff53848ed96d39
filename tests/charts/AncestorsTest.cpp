#include "app/charts/Ancestors.h"
#include "Fixtures.h"

#include <gtest/gtest.h>

namespace {

// Three generations: Child's parents, the father's parents; Child married twice.
struct ThreeGenerations : TreeBuilder {
  std::int64_t child, father, mother, gf, gm, wife1, wife2;
  ThreeGenerations() {
    child = Person(QStringLiteral("Ivanov Petr"), QStringLiteral("M"), QStringLiteral("1950"));
    father = Person(QStringLiteral("Ivanov Ivan"), QStringLiteral("M"), QStringLiteral("1920"), QStringLiteral("1990"));
    mother = Person(QStringLiteral("Petrova Anna"), QStringLiteral("F"));
    gf = Person(QStringLiteral("Ivanov Semen"), QStringLiteral("M"));
    gm = Person(QStringLiteral("Sidorova Olga"), QStringLiteral("F"));
    wife1 = Person(QStringLiteral("Kuznetsova Maria"), QStringLiteral("F"));
    wife2 = Person(QStringLiteral("Orlova Vera"), QStringLiteral("F"));
    Family(father, mother, {child});
    Family(gf, gm, {father});
    Family(child, wife1, {});
    Family(child, wife2, {});
    m.aIndi[size_t(father)].BIRT_PLAC = QStringLiteral("Kyiv");
  }
};

TEST(FillTree, ListsAncestorsBreadthFirstWithTheirPaths) {
  ThreeGenerations t;
  TAncestorList list;
  ASSERT_TRUE(FillTree(t.m, list, Id(t.child), 1));
  const auto& a = list.aPers;
  ASSERT_EQ(a.size(), 5u);
  struct Want { std::int64_t id; const char* place; int iPot; } want[] = {
      {t.child, "0", 0}, {t.father, "00", 0}, {t.mother, "01", 0}, {t.gf, "000", 1}, {t.gm, "001", 1}};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(a[i].ID, Id(want[i].id)) << i;
    EXPECT_EQ(a[i].Place, QString::fromLatin1(want[i].place)) << i;
    if (i > 0) {
      EXPECT_EQ(a[i].iPot, want[i].iPot) << i;
    }
  }
  EXPECT_EQ(a[1].Year2, QStringLiteral("-1990"));
  EXPECT_EQ(a[1].Date2, QStringLiteral("-02.02.1990"));
  EXPECT_EQ(a[0].Year2, QString());
  EXPECT_EQ(a[0].ID1, Id(t.father));
  EXPECT_EQ(a[2].ID1, QString()) << "no parent family";
  EXPECT_EQ(a[0].Fam, QStringLiteral("Ivanov"));
}

TEST(FillTree, AMissingParentIsAnEmptyEntryWithoutParents) {
  TreeBuilder t;
  const auto c = t.Person(QStringLiteral("A a"), QStringLiteral("M"));
  const auto h = t.Person(QStringLiteral("B b"), QStringLiteral("M"));
  t.Family(h, 0, {c});
  TAncestorList list;
  FillTree(t.m, list, Id(c), 1);
  ASSERT_EQ(list.aPers.size(), 3u);
  EXPECT_EQ(list.aPers[2].ID, QStringLiteral("0"));
  EXPECT_EQ(list.aPers[2].Name, QString());
  EXPECT_EQ(list.aPers[2].ID1, QString());
}

TEST(FillTree, NoPersonLeavesOneEmptyEntry) {
  ThreeGenerations t;
  for (const QString& cur : {QString(), QStringLiteral("Not found"), QStringLiteral("999"), QStringLiteral("-3")}) {
    TAncestorList list;
    EXPECT_FALSE(FillTree(t.m, list, cur, 1));
    ASSERT_EQ(list.aPers.size(), 1u);
    EXPECT_EQ(list.aPers[0].ID, cur);
    EXPECT_EQ(list.aPers[0].Name, QString());
    TTreeNodes tree;
    SxPrGedcom(t.m, list, tree, cur, true, {}, 1);
    EXPECT_TRUE(tree.Empty());
  }
}

TEST(FillTree, ReusesOnlyItsOwnListForTheSameLoad) {
  ThreeGenerations t;
  TAncestorList list;
  TTreeNodes tree;
  EXPECT_TRUE(FillTree(t.m, list, Id(t.child), 1));
  EXPECT_FALSE(FillTree(t.m, list, Id(t.child), 1)) << "same person, same load";
  EXPECT_TRUE(FillTree(t.m, list, Id(t.child), 2)) << "the model was loaded again";
  SxPrGedcom(t.m, list, tree, Id(t.child), true, {}, 2);
  EXPECT_TRUE(FillTree(t.m, list, Id(t.child), 2)) << "the scheme's list is not the full expansion";
  EXPECT_TRUE(FillTree(t.m, list, Id(t.father), 2));
}

// First cousins who married: their child reaches the common grandparents twice.
struct CousinsMarried : TreeBuilder {
  std::int64_t gf, gm, s1, s2, w1, h2, c1, c2, kid;
  CousinsMarried() {
    gf = Person(QStringLiteral("G f"), QStringLiteral("M"));
    gm = Person(QStringLiteral("G m"), QStringLiteral("F"));
    s1 = Person(QStringLiteral("S one"), QStringLiteral("M"));
    s2 = Person(QStringLiteral("S two"), QStringLiteral("F"));
    w1 = Person(QStringLiteral("W one"), QStringLiteral("F"));
    h2 = Person(QStringLiteral("H two"), QStringLiteral("M"));
    c1 = Person(QStringLiteral("C one"), QStringLiteral("M"));
    c2 = Person(QStringLiteral("C two"), QStringLiteral("F"));
    kid = Person(QStringLiteral("K id"), QStringLiteral("F"));
    Family(gf, gm, {s1, s2});
    Family(s1, w1, {c1});
    Family(h2, s2, {c2});
    Family(c1, c2, {kid});
  }
};

TEST(SxPrGedcom, ExpandsEachPersonOnceAndLinksRepeats) {
  CousinsMarried t;
  TAncestorList list;
  FillTree(t.m, list, Id(t.kid), 1);
  EXPECT_EQ(std::count_if(list.aPers.begin(), list.aPers.end(), [&](const TPers& e) { return e.ID == Id(t.gf); }), 2)
      << "the plain list holds the couple once per path";
  TTreeNodes tree;
  ASSERT_TRUE(SxPrGedcom(t.m, list, tree, Id(t.kid), true, {}, 1));
  std::vector<int> gfNodes;
  for (const TPers& e : list.aPers)
    if (e.ID == Id(t.gf)) gfNodes.push_back(e.Node);
  ASSERT_EQ(gfNodes.size(), 2u);
  EXPECT_EQ(tree[gfNodes[0]].Link, gfNodes[0]);
  EXPECT_EQ(tree[gfNodes[0]].StateImage, 1);
  EXPECT_EQ(tree[gfNodes[1]].Link, gfNodes[0]);
  EXPECT_EQ(tree[gfNodes[1]].StateImage, 4);
  EXPECT_TRUE(tree[gfNodes[1]].Children.empty());
  EXPECT_EQ(list.aPers.size(), 11u);  // kid, c1, c2, s1, w1, h2, s2, gf, gm, gf, gm
}

TEST(Ancestors, AManWhoIsHisOwnGrandfatherEndsBothBuilds) {
  TreeBuilder t;
  const auto a = t.Person(QStringLiteral("A a"), QStringLiteral("M"));
  const auto b = t.Person(QStringLiteral("B b"), QStringLiteral("M"));
  t.Family(a, 0, {b});
  t.Family(b, 0, {a});
  TAncestorList list;
  FillTree(t.m, list, Id(a), 1);
  EXPECT_LE(list.aPers.size(), size_t(1.5 * t.m.aIndi.size()) * 2 + 3);
  TTreeNodes tree;
  SxPrGedcom(t.m, list, tree, Id(a), true, {}, 1);
  EXPECT_EQ(tree.Count(), 5);  // a, b, "0", a (repeated), "0"
}

// 49 persons, 13 full generations: every person of generations 2..13 is one of two couples whose
// children marry each other, so the pedigree has 8191 slots, all known, and no loop.
TEST(FillTree, IntermarriageFillsEveryGenerationAChartDraws) {
  TreeBuilder t;
  const auto root = t.Person(QStringLiteral("Root R"), QStringLiteral("M"));
  std::int64_t famA = 0, famB = 0;  // the two families of the generation below
  for (int g = 2; g <= kAncestorFullGenerations; ++g) {
    const QString n = QString::number(g);
    const auto ma = t.Person(QStringLiteral("Ma ") + n, QStringLiteral("M"));
    const auto fa = t.Person(QStringLiteral("Fa ") + n, QStringLiteral("F"));
    const auto mb = t.Person(QStringLiteral("Mb ") + n, QStringLiteral("M"));
    const auto fb = t.Person(QStringLiteral("Fb ") + n, QStringLiteral("F"));
    const auto a = t.Family(ma, fa, {});
    const auto b = t.Family(mb, fb, {});
    if (g == 2) {
      t.m.aFam[size_t(a)].CHIL.push_back(root);
      t.m.aIndi[size_t(root)].FAMC = a;
    } else {
      // The husbands of the generation below are sons of family a, the wives daughters of family b.
      for (const auto f : {famA, famB}) {
        const TFAM& below = t.m.aFam[size_t(f)];
        t.m.aFam[size_t(a)].CHIL.push_back(below.HUSB);
        t.m.aIndi[size_t(below.HUSB)].FAMC = a;
        t.m.aFam[size_t(b)].CHIL.push_back(below.WIFE);
        t.m.aIndi[size_t(below.WIFE)].FAMC = b;
      }
    }
    famA = a;
    famB = b;
  }
  ASSERT_EQ(t.m.aIndi.size(), 50u);
  TAncestorList list;
  ASSERT_TRUE(FillTree(t.m, list, Id(root), 1));
  std::vector<int> filled(kAncestorFullGenerations + 2, 0);
  for (const TPers& e : list.aPers)
    if (!e.Name.isEmpty()) ++filled[size_t(e.Place.size())];
  for (int g = 1; g <= kAncestorFullGenerations; ++g) EXPECT_EQ(filled[size_t(g)], 1 << (g - 1)) << "generation " << g;
}

TEST(SxPrGedcom, ReturnsAtOnceOffItsPageForTheSamePerson) {
  ThreeGenerations t;
  TAncestorList list;
  TTreeNodes tree;
  ASSERT_TRUE(SxPrGedcom(t.m, list, tree, Id(t.child), true, {}, 1));
  EXPECT_FALSE(SxPrGedcom(t.m, list, tree, Id(t.child), false, {}, 1));
  EXPECT_TRUE(SxPrGedcom(t.m, list, tree, Id(t.child), true, {}, 1));
  EXPECT_TRUE(SxPrGedcom(t.m, list, tree, Id(t.father), false, {}, 1));
}

TEST(AncestorNodeText, FollowsTheFillOptions) {
  ThreeGenerations t;
  TAncestorList list;
  FillTree(t.m, list, Id(t.child), 1);
  const TPers& father = list.aPers[1];
  const TPers& mother = list.aPers[2];
  TAncestorTextOptions o;
  EXPECT_EQ(AncestorNodeText(t.m, father, 1, o), QStringLiteral("1. Ivanov Ivan (Kyiv 1920-1990)"));
  EXPECT_EQ(AncestorNodeText(t.m, mother, 1, o), QStringLiteral("1. Petrova Anna ()"));
  o.DatesLife = true;
  EXPECT_EQ(AncestorNodeText(t.m, father, 1, o), QStringLiteral("1. Ivanov Ivan (Kyiv 01.01.1920-02.02.1990)"));
  o.DatesLife = false;
  o.YearsLife = false;
  EXPECT_EQ(AncestorNodeText(t.m, father, 1, o), QStringLiteral("1. Ivanov Ivan (Kyiv)"));
  EXPECT_EQ(AncestorNodeText(t.m, mother, 1, o), QStringLiteral("1. Petrova Anna"));
  o.FullName = false;
  o.Patronymic = false;
  EXPECT_EQ(AncestorNodeText(t.m, mother, 1, o), QStringLiteral("Petrova () Anna")) << "a woman always shows it";
  o.Brackets = false;
  EXPECT_EQ(AncestorNodeText(t.m, father, 1, o), QStringLiteral("Ivanov Ivan (Kyiv)"));
}

}  // namespace
