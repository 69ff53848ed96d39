// Value-to-text routines of cell styles that both workbook writers use: colours as six hex digits and the
// SpreadsheetML names of the enumerated style and cell-type values. Stateless.
#pragma once

#include <string>

#include "sheet/shevrix.h"

// Six upper-case hex digits RRGGBB; system colours resolve to fixed RGB values first (clWindow: FFFFFF).
std::u16string ColorToHexRGB(TColor color);

// Names by position in the enumeration; a value outside it gives the first name.
std::u16string HorizontalAlignmentName(TZHorizontalAlignment value);
std::u16string VerticalAlignmentName(TZVerticalAlignment value);
std::u16string BorderLineName(TZBorderType value);
std::u16string CellPatternName(TZCellPattern value);
std::u16string CellTypeName(TZCellType value);
