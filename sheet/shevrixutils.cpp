// Value-to-text routines of cell styles.
#include "sheet/shevrixutils.h"

#include <cstdio>

namespace {

std::u16string Ascii(const char* s) {
  std::u16string out;
  for (; *s != 0; ++s) out.push_back(static_cast<unsigned char>(*s));
  return out;
}

template <std::size_t N>
std::u16string NameAt(const char* const (&names)[N], unsigned value) {
  return Ascii(value < N ? names[value] : names[0]);
}

}  // namespace

std::u16string ColorToHexRGB(TColor color) {
  TColor rgb = ColorToRGB(color);
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X%02X%02X", static_cast<unsigned>(rgb & 0xFF),
                static_cast<unsigned>((rgb >> 8) & 0xFF), static_cast<unsigned>((rgb >> 16) & 0xFF));
  return Ascii(buf);
}

std::u16string HorizontalAlignmentName(TZHorizontalAlignment value) {
  static const char* const kNames[] = {"Automatic", "Left",    "Center",      "Right",
                                       "Fill",      "Justify", "CenterAcrossSelection",
                                       "Distributed", "JustifyDistributed"};
  return NameAt(kNames, value);
}

std::u16string VerticalAlignmentName(TZVerticalAlignment value) {
  static const char* const kNames[] = {"Automatic", "Top", "Bottom", "Center", "Justify", "Distributed",
                                       "JustifyDistributed"};
  return NameAt(kNames, value);
}

std::u16string BorderLineName(TZBorderType value) {
  static const char* const kNames[] = {"None", "Continuous", "Dot", "Dash", "DashDot", "DashDotDot",
                                       "SlantDashDot", "Double"};
  return NameAt(kNames, value);
}

std::u16string CellPatternName(TZCellPattern value) {
  static const char* const kNames[] = {
      "None",           "Solid",          "Gray75",           "Gray50",         "Gray25",
      "Gray125",        "Gray0625",       "HorzStripe",       "VertStripe",     "ReverseDiagStripe",
      "DiagStripe",     "DiagCross",      "ThickDiagCross",   "ThinHorzStripe", "ThinVertStripe",
      "ThinReverseDiagStripe", "ThinDiagStripe", "ThinHorzCross", "ThinDiagCross"};
  return NameAt(kNames, value);
}

std::u16string CellTypeName(TZCellType value) {
  static const char* const kNames[] = {"Number", "DateTime", "Boolean", "String", "Error"};
  return NameAt(kNames, value);
}
