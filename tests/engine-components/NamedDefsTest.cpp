// The definition collections of the data-set layer find their items by name in one way (case-insensitive
// through the code page), keep field numbers in list order, and refuse positions out of range.
#include <gtest/gtest.h>

#include <stdexcept>

#include "engine/components/NRDAdvDefs.h"
#include "engine/foundation/NRDExcept.h"

using namespace nrd;

TEST(NamedDefs, EveryCollectionFindsNamesInAnyCase) {
  // "Имя" added, "ИМЯ" looked up (Windows-1251).
  const char* added = "\xC8\xEC\xFF";
  const char* asked = "\xC8\xCC\xDF";
  TFieldDefs fields;
  fields.Add("ID", ftInteger);
  fields.Add(added, ftString, 20);
  EXPECT_EQ(fields.IndexOf(asked), 1);
  EXPECT_EQ(&fields.Find(asked), &fields[1]);
  TIndexDefs indexes;
  indexes.Add(added, "ID", ixPrimary);
  EXPECT_EQ(indexes.IndexOf(asked), 0);
  EXPECT_EQ(&indexes.Find(asked), &indexes[0]);
  TParams params;
  params.CreateParam(ftInteger, added, ptInput);
  EXPECT_EQ(params.FindParam(asked), &params[0]);
  TNRDAdvFieldDefs adv;
  adv.Add(added, aftInteger, 0, false);
  EXPECT_EQ(adv.Find(asked), &adv.GetDef(0));
  TNRDAdvIndexDefs advIndexes;
  advIndexes.Add(added, "ID", ixPrimary);
  EXPECT_EQ(advIndexes.Find(asked), &advIndexes.GetDef(0));

  // A missing name: null, -1 or the collection's own error.
  EXPECT_EQ(fields.IndexOf("\xC8\xEC"), -1);
  EXPECT_THROW(fields.Find("none"), EDatabaseError);
  EXPECT_THROW(indexes.Find("none"), EDatabaseError);
  EXPECT_EQ(params.FindParam("none"), nullptr);
  EXPECT_EQ(adv.Find("none"), nullptr);
  advIndexes.DeleteIndexDef(asked);
  EXPECT_EQ(advIndexes.Count(), 0);
  adv.DeleteFieldDef(asked);
  EXPECT_EQ(adv.Count(), 0);
}

TEST(NamedDefs, DeleteRenumbersFieldsAndRefusesPositionsOutOfRange) {
  TFieldDefs fields;
  fields.Add("A", ftInteger);
  fields.Add("B", ftInteger);
  fields.Add("C", ftInteger);
  fields.Delete(0);
  ASSERT_EQ(fields.Count(), 2);
  EXPECT_EQ(fields[0].Name, "B");
  EXPECT_EQ(fields[0].FieldNo, 1);
  EXPECT_EQ(fields[1].FieldNo, 2);
  for (int i : {-1, 2, 50}) EXPECT_THROW(fields.Delete(i), std::out_of_range) << i;
  EXPECT_EQ(fields.Count(), 2);
}
