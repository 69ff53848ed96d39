// The named list under the engine's definition collections: lookups by name through the code page's
// upper case, copies that own their items, the filter of a copy, and positions out of range.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "engine/foundation/NRDNamedList.h"

using namespace nrd;

namespace {

struct Plain {
  std::string Name;
  int Value = 0;
};

// An item that copies through Assign, and counts how it was copied.
struct WithAssign {
  std::string Name;
  int Copies = 0;
  void Assign(const WithAssign& source) {
    Name = source.Name;
    Copies = source.Copies + 1;
  }
};

using PlainList = TNRDNamedList<Plain, &Plain::Name>;

PlainList Make(std::initializer_list<const char*> names) {
  PlainList list;
  int value = 0;
  for (const char* n : names) {
    Plain& p = list.AddNew();
    p.Name = n;
    p.Value = ++value;
  }
  return list;
}

}  // namespace

TEST(NRDNamedList, IndexOfAndFindCompareNamesThroughTheCodePage) {
  // "Имя" and "ИМЯ" in Windows-1251, "Ёлка" and "ёЛКА": one name each, whatever the case.
  const PlainList list = Make({"ID", "\xC8\xEC\xFF", "\xA8\xEB\xEA\xE0", "id"});
  const struct {
    const char* name;
    int index;
  } cases[] = {
      {"ID", 0},        {"id", 0},   {"Id", 0},
      {"\xC8\xCC\xDF", 1},  // "ИМЯ"
      {"\xE8\xEC\xFF", 1},  // "имя"
      {"\xB8\xCB\xCA\xC0", 2},  // "ёЛКА"
      {"", -1},         {"I", -1},   {"IDX", -1},
      {"\xC8\xEC", -1},  // "Им": a prefix is no match
  };
  for (const auto& c : cases) {
    EXPECT_EQ(list.IndexOf(c.name), c.index) << c.name;
    Plain* found = list.Find(c.name);
    if (c.index < 0) EXPECT_EQ(found, nullptr) << c.name;
    else EXPECT_EQ(found, &list.Item(c.index)) << c.name;
  }
  EXPECT_TRUE(SameText("\xC8\xEC\xFF", "\xE8\xCC\xDF"));
  EXPECT_FALSE(SameText("\xC8\xEC\xFF", "\xC8\xEC"));
}

TEST(NRDNamedList, AssignMakesCopiesTheSourceNoLongerReaches) {
  PlainList source = Make({"A", "B", "C"});
  PlainList copy = Make({"old"});
  copy.Assign(source);
  ASSERT_EQ(copy.Count(), 3);
  EXPECT_EQ(copy.IndexOf("old"), -1);
  source.Item(0).Value = 100;
  source.Delete(1);
  source.Clear();
  EXPECT_EQ(copy.Item(0).Value, 1);
  EXPECT_EQ(copy.Item(1).Name, "B");
  EXPECT_EQ(copy.Item(2).Value, 3);

  // Assigning a list to itself keeps it as it is.
  copy.Assign(copy);
  EXPECT_EQ(copy.Count(), 3);

  // The filter keeps the order of what it accepts.
  PlainList odd;
  odd.Assign(copy, [](const Plain& p) { return p.Value % 2 == 1; });
  ASSERT_EQ(odd.Count(), 2);
  EXPECT_EQ(odd.Item(0).Name, "A");
  EXPECT_EQ(odd.Item(1).Name, "C");
}

TEST(NRDNamedList, AnItemWithAssignIsCopiedThroughIt) {
  TNRDNamedList<WithAssign, &WithAssign::Name> source, copy;
  source.AddNew().Name = "X";
  copy.Assign(source);
  ASSERT_EQ(copy.Count(), 1);
  EXPECT_EQ(copy.Item(0).Copies, 1);
  EXPECT_EQ(copy.Find("x"), &copy.Item(0));
}

TEST(NRDNamedList, PositionsOutOfRangeRaise) {
  PlainList list = Make({"A", "B"});
  for (int i : {-1, 2, 1000}) {
    EXPECT_THROW(list.Item(i), std::out_of_range) << i;
    EXPECT_THROW(list.Delete(i), std::out_of_range) << i;
    EXPECT_THROW(list.Set(i, std::make_unique<Plain>()), std::out_of_range) << i;
  }
  EXPECT_EQ(list.Count(), 2);
  list.Delete(0);
  EXPECT_EQ(list.Item(0).Name, "B");
  EXPECT_EQ(list.IndexOf("A"), -1);
}
