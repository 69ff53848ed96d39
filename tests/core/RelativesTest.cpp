#include "app/core/Relatives.h"

#include <gtest/gtest.h>

#include <map>

#include "WindowTestModel.h"

namespace {

// GP1+GP2 -> F, U; F+M -> R (root), S; R+W -> C1; C1+X -> G; S+Y -> N; U+Z -> K
struct Family3 : TreeBuilder {
  std::int64_t GP1, GP2, F, U, M, R, S, W, C1, X, G, Y, N, Z, K;
  Family3() {
    GP1 = Person("GP1"); GP2 = Person("GP2", "F"); F = Person("F"); U = Person("U");
    M = Person("M", "F"); R = Person("R"); S = Person("S", "F"); W = Person("W", "F");
    C1 = Person("C1"); X = Person("X", "F"); G = Person("G"); Y = Person("Y");
    N = Person("N"); Z = Person("Z", "F"); K = Person("K");
    Family(GP1, GP2, {F, U});
    Family(F, M, {R, S});
    Family(R, W, {C1});
    Family(C1, X, {G});
    Family(Y, S, {N});
    Family(U, Z, {K});
  }
  std::map<std::int64_t, QString> Marks() const {
    std::map<std::int64_t, QString> out;
    for (std::size_t i = 1; i < m.aIndi.size(); ++i)
      if (!m.aIndi[i].FAVOR.isEmpty()) out[static_cast<std::int64_t>(i)] = m.aIndi[i].FAVOR;
    return out;
  }
};

TEST(Relatives, LevelsGiveTheMarksOfTheTable) {
  Family3 t;
  struct Case {
    int b, c;
    std::map<std::int64_t, QString> expected;
  };
  const Case cases[] = {
      {0, 0, {{t.R, "0"}}},
      {1, 0, {{t.R, "0"}, {t.F, "1"}, {t.M, "1"}, {t.GP1, "1"}, {t.GP2, "1"}}},
      // siblings of the root and of its ancestors; the root's own children stay unmarked
      {2, 0, {{t.R, "0"}, {t.F, "1"}, {t.M, "1"}, {t.GP1, "1"}, {t.GP2, "1"}, {t.S, "3"}, {t.U, "3"}}},
      {0, 1, {{t.R, "0"}, {t.C1, "2"}, {t.G, "2"}}},
      {0, 2, {{t.R, "0"}, {t.C1, "2"}, {t.G, "2"}, {t.F, "1"}, {t.M, "1"}, {t.N, "4"}}},
      // deeper levels reach the grandparents; the father stays a direct ancestor when met as their child
      {0, 3, {{t.R, "0"}, {t.C1, "2"}, {t.G, "2"}, {t.F, "1"}, {t.M, "1"}, {t.GP1, "1"}, {t.GP2, "1"}, {t.N, "4"}}},
  };
  for (const Case& c : cases) {
    MarkRelatives(t.m, t.R, c.b, c.c);
    EXPECT_EQ(t.Marks(), c.expected) << "B=" << c.b << " C=" << c.c;
  }
}

TEST(Relatives, RootZeroClearsEveryMarkAndCyclesEnd) {
  Family3 t;
  MarkRelatives(t.m, t.R, 2, 10);
  MarkRelatives(t.m, 0, 2, 10);
  EXPECT_TRUE(t.Marks().empty());

  // A cycle of parent links and a family listed twice: the walk ends and the root stays "0".
  TreeBuilder c;
  const auto a = c.Person("A"), b = c.Person("B"), d = c.Person("D");
  c.Family(a, 0, {b});
  c.Family(b, 0, {d});
  c.Family(d, 0, {a});
  c.m.aIndi[b].FAMS.push_back(c.m.aIndi[b].FAMS[0]);
  MarkRelatives(c.m, a, 2, 10);
  EXPECT_EQ(c.m.aIndi[a].FAVOR, "0");
}

TEST(Relatives, LongChainDoesNotExhaustTheStack) {
  TreeBuilder t;
  const int n = 50000;
  std::int64_t prev = t.Person("P0");
  const std::int64_t root = prev;
  for (int i = 1; i < n; ++i) {
    const std::int64_t p = t.Person("P");
    t.Family(prev, 0, {p});
    prev = p;
  }
  MarkRelatives(t.m, root, 0, 10);
  EXPECT_EQ(t.m.aIndi[prev].FAVOR, "2");
}

}  // namespace
