// Tests of the style value-to-text routines.
#include "sheet/shevrixutils.h"

#include <gtest/gtest.h>

namespace {

TEST(ZxStyleNames, ColoursAsHex) {
  struct Case {
    TColor color;
    const char16_t* hex;
  } cases[] = {
      {clBlack, u"000000"}, {clRed, u"FF0000"}, {0x00FF00, u"00FF00"}, {0x123456, u"563412"},
      {clWindow, u"FFFFFF"}, {clWindowText, u"000000"}, {0xFF0000FF, u"000000"},
  };
  for (const auto& c : cases) EXPECT_EQ(ColorToHexRGB(c.color), c.hex) << std::hex << c.color;
}

TEST(ZxStyleNames, EnumerationNames) {
  EXPECT_EQ(HorizontalAlignmentName(ZHAutomatic), u"Automatic");
  EXPECT_EQ(HorizontalAlignmentName(ZHCenterAcrossSelection), u"CenterAcrossSelection");
  EXPECT_EQ(HorizontalAlignmentName(ZHJustifyDistributed), u"JustifyDistributed");
  EXPECT_EQ(VerticalAlignmentName(ZVCenter), u"Center");
  EXPECT_EQ(VerticalAlignmentName(ZVJustifyDistributed), u"JustifyDistributed");
  EXPECT_EQ(BorderLineName(ZEContinuous), u"Continuous");
  EXPECT_EQ(BorderLineName(ZEDouble), u"Double");
  EXPECT_EQ(CellPatternName(ZPGray0625), u"Gray0625");
  EXPECT_EQ(CellPatternName(ZPThinDiagCross), u"ThinDiagCross");
  EXPECT_EQ(CellTypeName(ZENumber), u"Number");
  EXPECT_EQ(CellTypeName(ZEError), u"Error");
  EXPECT_EQ(CellTypeName(static_cast<TZCellType>(9)), u"Number");
}

}  // namespace
