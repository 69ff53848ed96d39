#include "app/charts/Descendants.h"
#include "Fixtures.h"
#include "app/core/GedcomReader.h"

#include <gtest/gtest.h>

namespace {

// Root and wife with son A and daughter B; A has A1 (son) and A2 (daughter); B has B1 (daughter).
struct Family3 : TreeBuilder {
  std::int64_t r, w, a, b, aw, bh, a1, a2, b1;
  Family3() {
    r = Person(QStringLiteral("R r"), QStringLiteral("M"), QStringLiteral("1900"), QStringLiteral("1970"));
    w = Person(QStringLiteral("W w"), QStringLiteral("F"));
    a = Person(QStringLiteral("A a"), QStringLiteral("M"));
    b = Person(QStringLiteral("B b"), QStringLiteral("F"));
    aw = Person(QStringLiteral("Aw aw"), QStringLiteral("F"));
    bh = Person(QStringLiteral("Bh bh"), QStringLiteral("M"));
    a1 = Person(QStringLiteral("A1 a1"), QStringLiteral("M"));
    a2 = Person(QStringLiteral("A2 a2"), QStringLiteral("F"));
    b1 = Person(QStringLiteral("B1 b1"), QStringLiteral("F"));
    Family(r, w, {a, b});
    Family(a, aw, {a1, a2}, QString());
    Family(bh, b, {b1});
  }
};

QString NumOf(const std::vector<TPers2>& list, std::int64_t person) {
  for (const TPers2& e : list)
    if (e.ID == Id(person) && e.ER_ID == 0) return e.Num;
  return QStringLiteral("<none>");
}

TEST(SxPotGedcom, NumbersChildrenInEachSystem) {
  Family3 t;
  struct Case { TNumbering n; const char* r; const char* a; const char* b; const char* a1; const char* a2; const char* b1; };
  const Case cases[] = {
      {TNumbering::None, "", "", "", "", "", ""},
      {TNumbering::Sequential, "1 ", "2 ", "3 ", "4 ", "5 ", "6 "},
      {TNumbering::DAboville, "1 ", "1.1 ", "1.2 ", "1.1.1 ", "1.1.2 ", "1.2.1 "},
      {TNumbering::Konovalov, "1 ", "1-2 ", "1-3 ", "2-4 ", "2-5 ", "3-6 "},
  };
  for (const Case& c : cases) {
    TDescendantOptions o;
    o.Numbering = c.n;
    std::vector<TPers2> list;
    TTreeNodes tree;
    ASSERT_TRUE(SxPotGedcom(t.m, list, tree, Id(t.r), o));
    const std::pair<std::int64_t, const char*> want[] = {{t.r, c.r}, {t.a, c.a}, {t.b, c.b},
                                                         {t.a1, c.a1}, {t.a2, c.a2}, {t.b1, c.b1}};
    for (const auto& [p, num] : want) EXPECT_EQ(NumOf(list, p), QString::fromLatin1(num)) << int(c.n) << " " << p;
  }
}

TEST(SxPotGedcom, NodeTextsWithSpousesAndEvents) {
  Family3 t;
  TDescendantOptions o;
  o.Numbering = TNumbering::DAboville;
  std::vector<TPers2> list;
  TTreeNodes tree;
  SxPotGedcom(t.m, list, tree, Id(t.r), o);
  const TTreeNode& root = tree[0];
  EXPECT_EQ(root.Text, QStringLiteral("1  R r (род.01.01.1900, бр., ум.02.02.1970)"));
  EXPECT_EQ(root.StateImage, 1);
  ASSERT_EQ(root.Children.size(), 3u);  // wife, A, B
  EXPECT_EQ(tree[root.Children[0]].Text, QStringLiteral("жена W w (род.?, бр.)"));
  EXPECT_EQ(tree[root.Children[0]].StateImage, -1);
  const TTreeNode& a = tree[root.Children[1]];
  EXPECT_EQ(tree[a.Children[0]].Text, QStringLiteral("супруга Aw aw (род.?, бр.)")) << "no marriage record";
  const TTreeNode& b = tree[root.Children[2]];
  EXPECT_EQ(b.StateImage, 2);
  EXPECT_EQ(tree[b.Children[0]].Text, QStringLiteral("муж Bh bh (род.?, бр.)"));
}

TEST(SxPotGedcom, AFamilyWithoutAWifeShowsTheWordAlone) {
  TreeBuilder t;
  const auto h = t.Person(QStringLiteral("H h"), QStringLiteral("M"));
  t.Family(h, 0, {}, QString());
  std::vector<TPers2> list;
  TTreeNodes tree;
  SxPotGedcom(t.m, list, tree, Id(h), {});
  ASSERT_EQ(tree.Count(), 2);
  EXPECT_EQ(tree[1].Text, QStringLiteral("супруга  (род.?)"));
  EXPECT_EQ(list[1].ID, QStringLiteral("0"));
}

TEST(SxPotGedcom, FiltersByLineAndSex) {
  Family3 t;
  struct Case { TLineFilter f; int nodes; } cases[] = {
      {TLineFilter::All, 9}, {TLineFilter::Women, 3}, {TLineFilter::Men, 3}, {TLineFilter::Line, 7}};
  // Women: R, B, B1. Men: R, A, A1. Line: every slot of R and of A; B is a woman and not expanded.
  for (const Case& c : cases) {
    TDescendantOptions o;
    o.Filter = c.f;
    std::vector<TPers2> list;
    TTreeNodes tree;
    SxPotGedcom(t.m, list, tree, Id(t.r), o);
    EXPECT_EQ(tree.Count(), c.nodes) << int(c.f);
  }
}

TEST(SxPotGedcom, MarriageTextsKeepCommasInsidePlaces) {
  TreeBuilder t;
  const auto h = t.Person(QStringLiteral("H h"), QStringLiteral("M"));
  const auto w1 = t.Person(QStringLiteral("W one"), QStringLiteral("F"));
  const auto w2 = t.Person(QStringLiteral("W two"), QStringLiteral("F"));
  const auto f1 = t.Family(h, w1, {});
  const auto f2 = t.Family(h, w2, {});
  t.m.aFam[size_t(f1)].MARR_DATE.NORM = QStringLiteral("01.01.1900");
  t.m.aFam[size_t(f1)].MARR_PLAC = QStringLiteral("Kyiv, Ukraine");
  t.m.aFam[size_t(f2)].MARR_DATE.NORM = QStringLiteral("02.02.1910");
  TDescendantOptions o;
  o.EventPlace = true;
  std::vector<TPers2> list;
  TTreeNodes tree;
  SxPotGedcom(t.m, list, tree, Id(h), o);
  EXPECT_EQ(list[0].Date3, QStringLiteral(", 1бр.01.01.1900 Kyiv, Ukraine, 2бр.02.02.1910"));
}

TEST(SxPotGedcom, APersonReachedTwiceIsLinkedToHisFirstNode) {
  // Grandparents' grandchildren (first cousins) married; their child is under both.
  TreeBuilder t;
  const auto g = t.Person(QStringLiteral("G g"), QStringLiteral("M"));
  const auto s1 = t.Person(QStringLiteral("S one"), QStringLiteral("M"));
  const auto s2 = t.Person(QStringLiteral("S two"), QStringLiteral("F"));
  const auto c1 = t.Person(QStringLiteral("C one"), QStringLiteral("M"));
  const auto c2 = t.Person(QStringLiteral("C two"), QStringLiteral("F"));
  const auto kid = t.Person(QStringLiteral("K id"), QStringLiteral("F"));
  t.Family(g, 0, {s1, s2});
  t.Family(s1, 0, {c1});
  t.Family(0, s2, {c2});
  t.Family(c1, c2, {kid});
  std::vector<TPers2> list;
  TTreeNodes tree;
  SxPotGedcom(t.m, list, tree, Id(g), {});
  std::vector<int> kidNodes;
  for (const TPers2& e : list)
    if (e.ID == Id(kid)) kidNodes.push_back(e.Node);
  ASSERT_EQ(kidNodes.size(), 2u);
  EXPECT_EQ(tree[kidNodes[1]].Link, kidNodes[0]);
  EXPECT_EQ(tree[kidNodes[1]].StateImage, 5);
  EXPECT_TRUE(tree[kidNodes[1]].Children.empty());
}

TEST(SxPotGedcom, NoPersonShowsNothing) {
  Family3 t;
  for (const QString& cur : {QString(), QStringLiteral("Not found"), QStringLiteral("0"), QStringLiteral("77")}) {
    std::vector<TPers2> list;
    TTreeNodes tree;
    EXPECT_FALSE(SxPotGedcom(t.m, list, tree, cur, {}));
    EXPECT_TRUE(tree.Empty());
    TFanList fan;
    EXPECT_FALSE(FillTree2(t.m, fan, cur, {}));
    EXPECT_TRUE(fan.aPers2.empty());
  }
}

TEST(SxPotGedcom, LongNotesAreCutWithoutSplittingASurrogatePair) {
  EXPECT_EQ(CutText(QStringLiteral("abc"), 5), QStringLiteral("abc"));
  const QString smile = QString::fromUtf16(u"\U0001F600");
  EXPECT_EQ(CutText(QStringLiteral("ab") + smile, 3), QStringLiteral("ab"));
  TreeBuilder t;
  const auto p = t.Person(QStringLiteral("P p"), QStringLiteral("M"));
  t.m.aIndi[size_t(p)].NOTE = QString(299, QLatin1Char('n')) + smile;
  TDescendantOptions o;
  o.PersonNote = true;
  std::vector<TPers2> list;
  TTreeNodes tree;
  SxPotGedcom(t.m, list, tree, Id(p), o);
  EXPECT_EQ(list[0].Desc, QStringLiteral(", ") + QString(299, QLatin1Char('n')) + QStringLiteral("..."));
}

TEST(FillTree2, SharesTheCircleByFanType) {
  TreeBuilder t;
  const auto r = t.Person(QStringLiteral("R r"), QStringLiteral("M"));
  std::vector<std::int64_t> kids;
  for (int i = 0; i < 6; ++i) kids.push_back(t.Person(QStringLiteral("K k"), QStringLiteral("M")));
  t.Family(r, 0, {kids[0], kids[1], kids[2]});
  t.Family(r, 0, {kids[3], kids[4], kids[5]});
  TFanList fan;
  ASSERT_TRUE(FillTree2(t.m, fan, Id(r), {}));
  ASSERT_EQ(fan.aCoord.size(), 7u);
  for (int i = 1; i <= 6; ++i) {
    EXPECT_DOUBLE_EQ(fan.aCoord[size_t(i)].rAn1, 60.0 * (i - 1));
    EXPECT_DOUBLE_EQ(fan.aCoord[size_t(i)].rAn2, 60.0 * i);
  }
  // Type 3: a child with three children of its own gets 4/5, a childless one 1/5.
  TreeBuilder u;
  const auto root = u.Person(QStringLiteral("R r"), QStringLiteral("M"));
  const auto c1 = u.Person(QStringLiteral("C c"), QStringLiteral("M"));
  const auto c2 = u.Person(QStringLiteral("C c"), QStringLiteral("M"));
  u.Family(root, 0, {c1, c2});
  u.Family(c1, 0, {u.Person(QStringLiteral("g"), QStringLiteral("M")), u.Person(QStringLiteral("g"), QStringLiteral("M")),
                   u.Person(QStringLiteral("g"), QStringLiteral("M"))});
  TFanListOptions o;
  o.FanType = 3;
  ASSERT_TRUE(FillTree2(u.m, fan, Id(root), o));
  EXPECT_DOUBLE_EQ(fan.aCoord[1].rAn2 - fan.aCoord[1].rAn1, 360.0 * 4 / 5);
  EXPECT_DOUBLE_EQ(fan.aCoord[2].rAn2 - fan.aCoord[2].rAn1, 360.0 / 5);
  EXPECT_DOUBLE_EQ(fan.aCoord[3].rAn1, 0.0);
  EXPECT_NEAR(fan.aCoord[5].rAn2, 288.0, 1e-9);
}

TEST(FillTree2, AutoStopsAtTheDeepestDrawnLevelAndOnCycles) {
  TreeBuilder t;
  const auto a = t.Person(QStringLiteral("A a"), QStringLiteral("M"));
  const auto b = t.Person(QStringLiteral("B b"), QStringLiteral("M"));
  t.Family(a, 0, {b});
  t.Family(b, 0, {a});  // a is his own grandson
  TFanListOptions o;
  o.Auto = true;
  TFanList fan;
  ASSERT_TRUE(FillTree2(t.m, fan, Id(a), o));
  ASSERT_EQ(fan.aPers2.size(), 3u) << "a, b, and a again, not expanded";
  EXPECT_EQ(fan.aPers2[2].ID, Id(a));
  EXPECT_EQ(fan.aPers2[2].nPP, 0);
  // A chain of 20 generations is listed to level 13.
  TreeBuilder chain;
  std::int64_t prev = chain.Person(QStringLiteral("P 0"), QStringLiteral("M"));
  const std::int64_t first = prev;
  for (int i = 1; i < 20; ++i) {
    const auto next = chain.Person(QStringLiteral("P"), QStringLiteral("M"));
    chain.Family(prev, 0, {next});
    prev = next;
  }
  ASSERT_TRUE(FillTree2(chain.m, fan, Id(first), o));
  EXPECT_EQ(fan.aPers2.size(), size_t(kFanMaxLevels));
  o.Auto = false;
  o.Generations = 3;
  ASSERT_TRUE(FillTree2(chain.m, fan, Id(first), o));
  EXPECT_EQ(fan.aPers2.size(), 3u);
}

}  // namespace

namespace {

Model FromGedcom(const QByteArray& text) {
  Model m;
  Ged_IndiFromBytes(m, text);
  return m;
}

// Three hostile trees that once grew the descendant lists without bound: two persons who are each other's
// spouse and child, a child listed 10,000 times, a person listing one family 10,000 times. Every build ends
// at once with a short list, in every mode.
TEST(DescendantLists, StayBoundedOnHostileTrees) {
  const Model loop = FromGedcom(
      "0 HEAD\n0 @I1@ INDI\n1 SEX M\n1 FAMS @F1@\n1 FAMC @F1@\n0 @I2@ INDI\n1 SEX F\n1 FAMS @F1@\n1 FAMC @F1@\n"
      "0 @F1@ FAM\n1 HUSB @I1@\n1 WIFE @I2@\n1 CHIL @I1@\n1 CHIL @I2@\n1 CHIL @I1@\n1 CHIL @I2@\n0 TRLR\n");
  QByteArray many("0 HEAD\n0 @I1@ INDI\n1 SEX M\n1 FAMS @F1@\n0 @I2@ INDI\n1 SEX M\n1 FAMC @F1@\n0 @F1@ FAM\n1 HUSB @I1@\n");
  for (int i = 0; i < 10000; ++i) many += "1 CHIL @I2@\n";
  const Model manyChildren = FromGedcom(many);
  QByteArray fams("0 HEAD\n0 @I1@ INDI\n1 SEX M\n");
  for (int i = 0; i < 10000; ++i) fams += "1 FAMS @F1@\n";
  fams += "0 @I2@ INDI\n1 SEX F\n";
  for (int i = 0; i < 10000; ++i) fams += "1 FAMS @F1@\n";
  fams += "0 @I3@ INDI\n1 SEX F\n1 FAMC @F1@\n0 @F1@ FAM\n1 HUSB @I1@\n1 WIFE @I2@\n1 MARR\n1 CHIL @I3@\n0 TRLR\n";
  const Model manyFamilies = FromGedcom(fams);

  for (const Model* m : {&loop, &manyChildren, &manyFamilies}) {
    const std::size_t bound = std::size_t(1.5 * double(m->aIndi.size()));
    for (const bool autoDepth : {false, true}) {
      for (const int type : {0, 3, 4}) {
        TFanList list;
        TFanListOptions o;
        o.Auto = autoDepth;
        o.Generations = 13;
        o.FanType = type;
        ASSERT_TRUE(FillTree2(*m, list, QStringLiteral("1"), o));
        EXPECT_LE(list.aPers2.size(), bound + 8) << "auto " << autoDepth << " type " << type;
      }
    }
    std::vector<TPers2> scheme;
    TTreeNodes nodes;
    ASSERT_TRUE(SxPotGedcom(*m, scheme, nodes, QStringLiteral("1"), TDescendantOptions{}));
    EXPECT_LE(nodes.Count(), 8);
  }
  // One family listed 10,000 times is one marriage, with one spouse and one child.
  std::vector<TPers2> scheme;
  TTreeNodes nodes;
  ASSERT_TRUE(SxPotGedcom(manyFamilies, scheme, nodes, QStringLiteral("1"), TDescendantOptions{}));
  ASSERT_EQ(nodes.Count(), 3);
  EXPECT_EQ(scheme[0].Count3, 1);
  // The one child of a family that lists him 10,000 times is in the fan once.
  TFanList list;
  ASSERT_TRUE(FillTree2(manyChildren, list, QStringLiteral("1"), TFanListOptions{}));
  EXPECT_EQ(list.aPers2.size(), 2u);
}

// A long build can be stopped: the progress callback's "no" ends it with the entries made so far (the
// entries not reached keep no name).
TEST(DescendantLists, BuildsStopWhenAsked) {
  TreeBuilder t;
  const std::int64_t root = t.Person(QStringLiteral("R r"), QStringLiteral("M"));
  std::vector<std::int64_t> kids;
  for (int i = 0; i < 2000; ++i) kids.push_back(t.Person(QStringLiteral("K k"), QStringLiteral("M")));
  const std::int64_t fam = t.Family(root, 0, {});
  t.m.aFam[std::size_t(fam)].CHIL = kids;
  for (std::int64_t k : kids) t.m.aIndi[std::size_t(k)].FAMC = fam;
  int calls = 0;
  TFanList list;
  ASSERT_TRUE(FillTree2(t.m, list, Id(root), TFanListOptions{}, [&](std::int64_t) { return ++calls < 2; }));
  EXPECT_EQ(calls, 2);
  EXPECT_FALSE(list.aPers2[300].Name.isEmpty());
  EXPECT_TRUE(list.aPers2.back().Name.isEmpty());
  calls = 0;
  std::vector<TPers2> scheme;
  TTreeNodes nodes;
  ASSERT_TRUE(SxPotGedcom(t.m, scheme, nodes, Id(root), TDescendantOptions{}, [&](std::int64_t) { return ++calls < 2; }));
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(scheme.back().Name.isEmpty());
}

}  // namespace
