#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDTypesRoutines.h"

using namespace nrd;

TEST(NRDTypesRoutines, DataTypeSizes) {
  const std::pair<std::pair<TNRDBaseFieldType, int>, int> cases[] = {
      {{bftVarchar, 5}, 6}, {{bftWideVarchar, 5}, 12}, {{bftBlob, 99}, 10}, {{bftBytes, 16}, 17},
      {{bftLogical, 0}, 2}, {{bftExtended, 0}, 10}, {{bftDateTime, 0}, 8}, {{bftUnsignedInt32, 0}, 4},
      {{bftChar, 0}, 1}, {{bftWideChar, 0}, 2}, {{bftSignedInt8, 0}, 1}, {{bftCurrency, 0}, 8},
  };
  for (auto [in, size] : cases) EXPECT_EQ(GetDataTypeSize(in.first, in.second), size) << int(in.first);
  for (TNRDBaseFieldType t : {bftBFile, bftUnknown}) {
    try {
      GetDataTypeSize(t, 0);
      ADD_FAILURE();
    } catch (const ENRDException& e) {
      EXPECT_EQ(e.NativeError, 30050);
    }
  }
  EXPECT_THROW(GetDataTypeSize(bftVarchar, 0x7FFFFFFF), EIntOverflow);
}

TEST(NRDTypesRoutines, CopyValueToNewBuffer) {
  void* buffer = nullptr;
  std::int32_t size = 0;
  CopyValueToNewBuffer(bftVarchar, std::string_view("ab\0cd", 5), buffer, size);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(size, 3);
  EXPECT_EQ(std::memcmp(buffer, "ab", 3), 0);
  GlobalMemoryManager().FreeAndNillMem(buffer);
  CopyValueToNewBuffer(bftWideVarchar, std::u16string_view(u"Ян"), buffer, size);
  EXPECT_EQ(size, 6);
  EXPECT_EQ(static_cast<std::uint8_t*>(buffer)[4], 0);
  GlobalMemoryManager().FreeAndNillMem(buffer);
  std::int32_t v = 0x01020304;
  CopyValueToNewBuffer(bftSignedInt32, &v, buffer, size);
  EXPECT_EQ(size, 4);
  EXPECT_EQ(static_cast<std::uint8_t*>(buffer)[0], 4);
  GlobalMemoryManager().FreeAndNillMem(buffer);
  // Before the allocation: swallowed, nil buffer. After it: 30054.
  CopyValueToNewBuffer(bftBFile, &v, buffer, size);
  EXPECT_EQ(buffer, nullptr);
  try {
    CopyValueToNewBuffer(bftSignedInt32, static_cast<const void*>(nullptr), buffer, size);
    ADD_FAILURE();
  } catch (const ENRDException& e) {
    EXPECT_EQ(e.NativeError, 30054);
  }
  EXPECT_EQ(buffer, nullptr);
}

TEST(NRDTypesRoutines, WideCaseAndSpecialFloats) {
  EXPECT_EQ(UpperCaseWide(u"пётр"), u"ПЁТР");
  EXPECT_EQ(LowerCaseWide(u"ПЁТР"), u"пётр");
  EXPECT_EQ(UpperCaseWide(u""), u"");
  EXPECT_TRUE(IsNanOrInfinity(NAN));
  EXPECT_TRUE(IsNanOrInfinity(-INFINITY));
  EXPECT_FALSE(IsNanOrInfinity(1e4000L));
  std::uint8_t raw[10];
  PutExtended(raw, -1.5L);
  EXPECT_EQ(raw[9], 0xBF);
  EXPECT_EQ(raw[8], 0xFF);
  EXPECT_EQ(raw[7], 0xC0);
  EXPECT_EQ(GetExtended(raw), -1.5L);
}
