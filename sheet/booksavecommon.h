// Save routines shared by the XLSX and Excel 2003 XML writers: the generator name, date-time text, the XML
// declaration, the list of pages to export with unique titles, column letters, text rotation and the
// formatting of numbers with a point as decimal separator whatever the locale. Stateless.
#pragma once

#include <string>
#include <vector>

#include "sheet/shevrix.h"
#include "sheet/zxmlwriter.h"

// The application name written into document properties.
std::u16string GeneratorName();

// "yyyy-mm-ddThh:nn:ss" of the value as it is (no time-zone conversion, seconds without fraction).
// Raises EZxConvertError for values outside the years 1..9999 or not finite.
std::u16string DateTimeToIsoText(TDateTime value);
// The local date-time converted to UTC, as "yyyy-mm-ddThh:nn:ssZ". Use this wherever a "Z" is written.
std::u16string DateTimeToIsoUtcText(TDateTime localValue);
// The local date-time converted to UTC (by the process's time zone rules).
TDateTime LocalDateTimeToUtc(TDateTime localValue);

// Decimal digits left-padded with "0" to width.
std::u16string ZeroPaddedInt(long long value, int width);

// The BOM bytes raw, then <?xml version="1.0" encoding="..."?> (no encoding when the name is empty), no
// line break before either. Leaves the writer's attribute list empty.
void WriteXmlDeclaration(TZXMLWriterH& xml, const std::u16string& encodingName, const std::string& bom);

// Pages to export: sheet indexes in output order and their unique titles.
struct TZPageList {
  std::vector<int> SheetIndexes;
  std::vector<std::u16string> Titles;
  int Count() const { return static_cast<int>(SheetIndexes.size()); }
};

// Sheet titles are at most this many UTF-16 units.
constexpr std::size_t kZMaxSheetTitleLength = 31;

// Builds the page list: no indexes means every sheet; indexes outside the book are dropped (repetitions
// stay). Titles come from the given titles, else the sheet's title, else "Sheet N"; they are cleaned
// (SanitizeSheetTitle) and made unique without regard to letter case. False when there is no page.
bool PreparePageList(const TSHEVRIX& book, const std::vector<int>& sheetIndexes,
                     const std::vector<std::u16string>& titles, TZPageList& pages);
// Blanks, control characters and apostrophes removed at both ends; \ / ? * [ ] : become ";"; cut to 31 units.
std::u16string SanitizeSheetTitle(const std::u16string& title);
// True when the titles are equal once every letter is in upper case (all scripts, as readers compare
// sheet names: "Отчёт" and "ОТЧЁТ" are the same sheet name).
bool SameTitleIgnoringCase(const std::u16string& a, const std::u16string& b);
// Renumbers equal titles (case ignored): A, A, A give A, A(1), A(2); Data(3) twice gives Data(4).
void MakeTitlesUnique(std::vector<std::u16string>& titles);

// A1-notation letters of a 0-based column: 0 A, 25 Z, 26 AA, 702 AAA; negative gives empty.
std::u16string ColumnLetters(int column);
// A formula in A1 notation rewritten in R1C1 notation for the cell at the 0-based column and row, as
// Excel 2003 XML reads ss:Formula: in cell A1, "=C1*3" gives "=RC[2]*3" and "=$C$2" gives "=R2C3".
// Texts in quotes, quoted sheet names, function names and other names are copied unchanged.
std::u16string FormulaA1ToR1C1(const std::u16string& formula, int column, int row);

// The angle folded into -90..90 modulo 180 (135 gives -45, 270 gives -90).
int NormalizeRotation(int angle);
// The normalised angle when not negative, else 90 minus it (-45 gives 135).
int XlsxTextRotation(int angle);

// Every "," replaced by ".".
std::u16string DotDecimalSeparator(const std::u16string& text);
// The value with at most maxDecimals decimals, no trailing zeros, no grouping, a point as separator
// (the patterns "0.##", "0.#####" and so on). Values that are not finite give "0".
std::u16string FormatDecimal(double value, int maxDecimals);

// The pieces between occurrences of the separator; empty pieces kept.
std::vector<std::u16string> SplitAtChar(const std::u16string& text, char16_t separator);

// The type a cell's value is written with, and the text of that value. A number cell whose text is no
// finite decimal number (optional sign, digits with an optional point, optional exponent; blanks around
// it dropped) and a Boolean cell whose text is neither 0 nor 1 are written as text: readers refuse the
// whole workbook over one such value. An error cell whose text is no error value ("#DIV/0!", "#N/A" ...)
// is written as text too. Every other cell keeps its type and its text.
TZCellType WrittenCellType(const TZCell& cell, std::u16string& value);
