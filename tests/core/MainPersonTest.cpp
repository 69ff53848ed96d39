#include "app/core/MainPerson.h"

#include <gtest/gtest.h>

#include "WindowTestModel.h"

namespace {

TEST(MainPerson, ScoresCountAncestorsAndDescendants) {
  TreeBuilder t;
  const auto f = t.Person("F"), m = t.Person("M", "F"), c = t.Person("C"), w = t.Person("W", "F");
  t.Family(f, m, {c});
  MainPersonChooser ch(t.m);
  EXPECT_EQ(ch.MainPersonScore(c, 0), 2);  // two parents without parents of their own
  EXPECT_EQ(ch.MainPersonScore(f, 1), 0);  // the descendant count is the line count less one
  EXPECT_EQ(ch.MainPersonScore(c, 1), 0);  // has a parent family
  EXPECT_EQ(ch.MainPersonScore(c, 2), 2);  // the father's count already stored the child's 0
  // With a family of its own the person scores 0 by ancestors.
  t.Family(c, w, {});
  t.m.aIndi[c].iPr = -1;
  MainPersonChooser ch2(t.m);
  EXPECT_EQ(ch2.MainPersonScore(c, 0), 0);
}

TEST(MainPerson, TieGoesToTheLowerIndexAndNothingScoresGivesZero) {
  TreeBuilder t;
  const auto a1 = t.Person("A1"), a2 = t.Person("A2");
  const auto b1 = t.Person("B1"), b2 = t.Person("B2");
  const auto x = t.Person("X"), y = t.Person("Y");
  t.Family(a1, a2, {x});
  t.Family(b1, b2, {y});
  EXPECT_EQ(ChooseMainPerson(t.m, 0), x);
  TreeBuilder empty;
  empty.Person("Alone");
  EXPECT_EQ(ChooseMainPerson(empty.m, 0), 0);
  EXPECT_EQ(ChooseMainPerson(empty.m, 2), 0);
}

TEST(MainPerson, MemoisedCountsAreReusedAndLongChainsDoNotOverflow) {
  TreeBuilder t;
  const int n = 50000;
  std::int64_t child = t.Person("C0");
  const std::int64_t leaf = child;
  for (int i = 1; i < n; ++i) {
    const std::int64_t parent = t.Person("P");
    t.Family(parent, 0, {child});
    child = parent;
  }
  EXPECT_EQ(ChooseMainPerson(t.m, 0), leaf);
  EXPECT_EQ(t.m.aIndi[leaf].iPr, n - 1);
  EXPECT_EQ(t.m.aIndi[leaf + 1].iPr, n - 2);  // memo of the father
  EXPECT_EQ(ChooseMainPerson(t.m, 1), child);  // the oldest ancestor has the most descendants
}

}  // namespace
