// The in-memory workbook of the spreadsheet library: the book (TSHEVRIX), its sheets with a dense
// column-major grid of cells and per-row and per-column options, merged areas, document properties,
// cell styles, sheet options with page setup and print titles, the conditional-formatting model, the size
// conversions between points, millimetres and pixels, and the markup-preserving text escaping of cells.
//
// The model knows nothing of XML or files; the writers read it. Every owner holds its parts by value or
// owns them; setters of object-valued properties copy. Reads with an index out of range give null, 0, an
// empty value or the default style; writes with such an index are ignored.
//
// Pointer stability: a cell, row-options or column-options pointer stays valid until its row or column is
// removed (growing the grid never moves existing objects). A style pointer stays valid until Count shrinks
// below it, DeleteStyle or Clear removes it.
//
// Limits: a sheet holds at most 1,048,576 rows and 16,384 columns (the XLSX limits); larger sizes raise
// EZxError and allocate nothing. Sizes that are not finite numbers are ignored like negative ones.
// Empty cells own no heap memory; the rarely used cell texts (formula, hyperlink, note) are held apart.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "sheet/zxmlwriter.h"

// ---------------------------------------------------------------------------------------------------------
// Platform-like basics: colours, fonts, date-times.

// 0x00BBGGRR for an RGB colour; a system colour has the high byte 0xFF and its index in the low byte.
using TColor = std::uint32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clWindow = 0xFF000005;
constexpr TColor clWindowText = 0xFF000008;

// RGB value (0x00BBGGRR) of a colour; system colours resolve to fixed values (window white, window text
// black, and so on).
TColor ColorToRGB(TColor color);

// A date-time as a day count from 30 December 1899, the fraction the time of day.
using TDateTime = double;
// The current local date and time.
TDateTime NowLocal();
// Date-time from its parts (no range check beyond what the day-count arithmetic needs).
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond);
// Parts of a date-time; the milliseconds are rounded. Raises EZxConvertError for values that are not
// finite or outside the years 1..9999.
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& millisecond);

enum TFontPitch : std::uint8_t { fpDefault, fpVariable, fpFixed };
enum TFontStyle : std::uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = std::uint8_t;
constexpr std::uint8_t DEFAULT_CHARSET = 1;

// A font description. Size (points) and Height (pixels at 96 per inch, negative: character height) are two
// views of one value, as a desktop font object keeps them.
class TFont {
 public:
  std::u16string Name = u"Tahoma";
  TColor Color = clWindowText;
  TFontStyles Style = 0;
  TFontPitch Pitch = fpDefault;
  std::uint8_t Charset = DEFAULT_CHARSET;
  int Orientation = 0;
  std::uint8_t Quality = 0;

  int Size() const;
  void SetSize(int points);
  int Height() const { return height_; }
  void SetHeight(int pixels) { height_ = pixels; }

  bool operator==(const TFont& other) const = default;

 private:
  int height_ = -11;  // 8 points
};

// ---------------------------------------------------------------------------------------------------------
// Size conversions (rounding to two decimals is half to even).

double RoundHalfEven(double value);
double RoundTo2(double value);
double PixelsToPoints(double pixels, double mmPerPixel);
// Raises EZxConvertError when the result is outside the 32-bit range or not a number.
int PointsToPixels(double points, double mmPerPixel);
double PointsToMM(double points);
double MMToPoints(double millimetres);

// ---------------------------------------------------------------------------------------------------------
// Cell styles.

enum TZBorderType : std::uint8_t { ZENone, ZEContinuous, ZEDot, ZEDash, ZEDashDot, ZEDashDotDot, ZESlantDashDot,
                                   ZEDouble };
enum TZHorizontalAlignment : std::uint8_t { ZHAutomatic, ZHLeft, ZHCenter, ZHRight, ZHFill, ZHJustify,
                                            ZHCenterAcrossSelection, ZHDistributed, ZHJustifyDistributed };
enum TZVerticalAlignment : std::uint8_t { ZVAutomatic, ZVTop, ZVBottom, ZVCenter, ZVJustify, ZVDistributed,
                                          ZVJustifyDistributed };
enum TZCellPattern : std::uint8_t { ZPNone, ZPSolid, ZPGray75, ZPGray50, ZPGray25, ZPGray125, ZPGray0625,
                                    ZPHorzStripe, ZPVertStripe, ZPReverseDiagStripe, ZPDiagStripe, ZPDiagCross,
                                    ZPThickDiagCross, ZPThinHorzStripe, ZPThinVertStripe, ZPThinReverseDiagStripe,
                                    ZPThinDiagStripe, ZPThinHorzCross, ZPThinDiagCross };
enum TZCellType : std::uint8_t { ZENumber, ZEDateTime, ZEBoolean, ZEString, ZEError };

// Text rotation in degrees, -180..359.
using TZCellTextRotate = std::int16_t;

// One border line.
class TZBorderStyle {
 public:
  TZBorderType LineStyle = ZENone;
  TColor Color = clBlack;

  std::uint8_t Weight() const { return weight_; }
  // Values above 3 are stored as 3.
  void SetWeight(std::uint8_t value) { weight_ = value > 3 ? 3 : value; }

  void Assign(const TZBorderStyle& source);
  bool IsEqual(const TZBorderStyle& source) const;

 private:
  std::uint8_t weight_ = 0;
};

// Six border lines: left, top, right, bottom, diagonal left, diagonal right.
class TZBorder {
 public:
  // The line for 0..5, null otherwise.
  TZBorderStyle* Border(int index);
  const TZBorderStyle* Border(int index) const;
  TZBorderStyle* GetBorder(int index) { return Border(index); }
  // Copies into line 0..5; other indexes are ignored.
  void SetBorder(int index, const TZBorderStyle& line);

  TZBorderStyle& Left() { return lines_[0]; }
  TZBorderStyle& Top() { return lines_[1]; }
  TZBorderStyle& Right() { return lines_[2]; }
  TZBorderStyle& Bottom() { return lines_[3]; }
  TZBorderStyle& DiagonalLeft() { return lines_[4]; }
  TZBorderStyle& DiagonalRight() { return lines_[5]; }
  const TZBorderStyle& Left() const { return lines_[0]; }
  const TZBorderStyle& Top() const { return lines_[1]; }
  const TZBorderStyle& Right() const { return lines_[2]; }
  const TZBorderStyle& Bottom() const { return lines_[3]; }
  const TZBorderStyle& DiagonalLeft() const { return lines_[4]; }
  const TZBorderStyle& DiagonalRight() const { return lines_[5]; }

  void Assign(const TZBorder& source);
  bool IsEqual(const TZBorder& source) const;

 private:
  std::array<TZBorderStyle, 6> lines_{};
};

class TZAlignment {
 public:
  TZHorizontalAlignment Horizontal = ZHAutomatic;
  int Indent = 0;
  TZCellTextRotate Rotate = 0;
  bool ShrinkToFit = false;
  TZVerticalAlignment Vertical = ZVAutomatic;
  bool VerticalText = false;
  bool WrapText = false;

  void Assign(const TZAlignment& source) { *this = source; }
  bool IsEqual(const TZAlignment& source) const;
};

// One cell style. Font defaults: "Arial", 10 points, black.
class TZStyle {
 public:
  TZStyle();
  virtual ~TZStyle() = default;
  TZStyle(const TZStyle&) = default;
  TZStyle& operator=(const TZStyle&) = default;

  TFont Font;
  TZBorder Border;
  TZAlignment Alignment;
  TColor BGColor = clWindow;      // clWindow: no fill colour
  TColor PatternColor = clWindow;  // clWindow: none
  bool Protect = true;
  bool HideFormula = false;
  TZCellPattern CellPattern = ZPNone;

  const std::u16string& NumberFormat() const { return numberFormat_; }
  virtual void SetNumberFormat(const std::u16string& value) { numberFormat_ = value; }

  void Assign(const TZStyle& source);
  // Borders, alignment, colours, pattern, number format (exact), protection flags and the font's colour,
  // height, name, pitch, size and style set; not its character set, orientation or quality.
  bool IsEqual(const TZStyle& source) const;

 private:
  std::u16string numberFormat_ = u"General";
};

// The style table: a default style and numbered styles.
class TZStyles {
 public:
  TZStyles() = default;
  TZStyles(const TZStyles&) = delete;
  TZStyles& operator=(const TZStyles&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // Growing appends copies of DefaultStyle; shrinking frees the styles from the new count on. A negative
  // count raises EZxError.
  void SetCount(int value);
  // The style, or DefaultStyle for any index outside 0..Count-1; never null.
  TZStyle* Items(int index);
  const TZStyle* Items(int index) const;
  TZStyle* GetStyle(int index) { return Items(index); }
  // Copies into the style at 0..Count-1, into DefaultStyle for -1; otherwise nothing.
  void SetStyle(int index, const TZStyle& style);
  TZStyle& DefaultStyle() { return defaultStyle_; }
  const TZStyle& DefaultStyle() const { return defaultStyle_; }
  void SetDefaultStyle(const TZStyle* style);
  // -1 when equal to DefaultStyle, else the smallest equal index, else -2.
  int Find(const TZStyle& style) const;
  // With checkMatch and a Find result other than -2, that result; otherwise appends a copy.
  int Add(const TZStyle& style, bool checkMatch);
  // 0 when removed (later styles move down, references to them are not renumbered), -1 outside.
  int DeleteStyle(int index);
  void Clear();
  void Assign(const TZStyles& source);

 private:
  TZStyle defaultStyle_;
  std::vector<std::unique_ptr<TZStyle>> items_;
};

// Value-to-text routines of the styles (ColorToHexRGB and the SpreadsheetML names) are in
// sheet/shevrixutils.h.

// ---------------------------------------------------------------------------------------------------------
// Sheet options, page setup and print titles.

enum TZSplitMode : std::uint8_t { ZSplitNone, ZSplitFrozen, ZSplitSplit };

class TZHeaderFooterMargins {
 public:
  std::uint16_t MarginTopBottom = 13;
  std::uint16_t MarginLeft = 0;
  std::uint16_t MarginRight = 0;
  std::uint16_t Height = 7;
  bool UseAutoFitHeight = true;

  void Assign(const TZHeaderFooterMargins& source) { *this = source; }
  bool IsEqual(const TZHeaderFooterMargins* source) const;
};

class TZSheetFooterHeader {
 public:
  std::u16string DataLeft;
  std::u16string Data;
  std::u16string DataRight;
  bool IsDisplay = false;

  void Assign(const TZSheetFooterHeader& source) { *this = source; }
  bool IsEqual(const TZSheetFooterHeader* source) const;
};

class TZSheetOptions {
 public:
  TZSheetOptions();

  std::uint16_t ActiveCol = 0;
  std::uint16_t ActiveRow = 0;
  std::uint16_t MarginBottom = 25;  // millimetres
  std::uint16_t MarginLeft = 20;
  std::uint16_t MarginTop = 25;
  std::uint16_t MarginRight = 20;
  std::uint8_t PaperSize = 9;  // 0: not given
  std::int32_t PaperWidth = 0;
  std::int32_t PaperHeight = 0;
  bool PortraitOrientation = true;
  bool CenterHorizontal = false;
  bool CenterVertical = false;
  std::int32_t StartPageNumber = 1;
  TZHeaderFooterMargins HeaderMargins;
  TZHeaderFooterMargins FooterMargins;
  bool IsEvenFooterEqual = true;
  bool IsEvenHeaderEqual = true;
  TZSheetFooterHeader Header;
  TZSheetFooterHeader Footer;
  TZSheetFooterHeader EvenHeader;
  TZSheetFooterHeader EvenFooter;
  TColor HeaderBGColor = clWindow;
  TColor FooterBGColor = clWindow;
  std::int32_t ScaleToPercent = 100;
  std::int32_t ScaleToPages = 1;
  TZSplitMode SplitVerticalMode = ZSplitNone;
  TZSplitMode SplitHorizontalMode = ZSplitNone;
  std::int32_t SplitVerticalValue = 0;
  std::int32_t SplitHorizontalValue = 0;

  // The Height of HeaderMargins / FooterMargins.
  std::uint16_t HeaderMargin() const { return HeaderMargins.Height; }
  void SetHeaderMargin(std::uint16_t value) { HeaderMargins.Height = value; }
  std::uint16_t FooterMargin() const { return FooterMargins.Height; }
  void SetFooterMargin(std::uint16_t value) { FooterMargins.Height = value; }
  // The Data of Header / Footer.
  const std::u16string& HeaderData() const { return Header.Data; }
  void SetHeaderData(const std::u16string& value) { Header.Data = value; }
  const std::u16string& FooterData() const { return Footer.Data; }
  void SetFooterData(const std::u16string& value) { Footer.Data = value; }

  void Assign(const TZSheetOptions& source) { *this = source; }
};

class TZSheet;

// Rows or columns printed on every page. Raises EZxError "Invalid printable titles for the worksheet."
// when an active range would not fit the owner sheet.
class TZSheetPrintTitles {
 public:
  // Raises EZxError when owner is null.
  TZSheetPrintTitles(TZSheet* owner, bool forColumns);

  bool Active() const { return active_; }
  void SetActive(bool value);
  std::uint16_t From() const { return from_; }
  void SetFrom(std::uint16_t value);
  std::uint16_t Till() const { return till_; }
  void SetTill(std::uint16_t value);
  bool ForColumns() const { return columns_; }

  // Checks an active source range against this owner, then copies From, Till and Active.
  void Assign(const TZSheetPrintTitles& source);
  // "R1:R3" / "C1:C2" when active, empty otherwise.
  std::u16string ToString() const;

 private:
  void CheckRange(int from, int till) const;

  TZSheet* owner_;
  bool columns_;
  bool active_ = false;
  std::uint16_t till_ = 0;
  std::uint16_t from_ = 0;
};

// ---------------------------------------------------------------------------------------------------------
// Conditional formatting (kept, copied and compared; not written by the writers).

enum TZCondition : std::uint8_t {
  ZCFIsTrueFormula, ZCFCellContentIsBetween, ZCFCellContentIsNotBetween, ZCFCellContentOperator, ZCFNumberValue,
  ZCFString, ZCFBoolTrue, ZCFBoolFalse, ZCFFormula, ZCFContainsText, ZCFNotContainsText, ZCFBeginsWithText,
  ZCFEndsWithText, ZCFCellIsEmpty, ZCFDuplicate, ZCFUnique, ZCFAboveAverage, ZCFBellowAverage,
  ZCFAboveEqualAverage, ZCFBelowEqualAverage, ZCFTopElements, ZCFBottomElements, ZCFTopPercent,
  ZCFBottomPercent, ZCFIsError, ZCFIsNoError };
enum TZConditionalOperator : std::uint8_t { ZCFOpGT, ZCFOpLT, ZCFOpGTE, ZCFOpLTE, ZCFOpEqual, ZCFOpNotEqual };

class TZConditionalStyleItem {
 public:
  TZCondition Condition = ZCFCellContentOperator;
  TZConditionalOperator ConditionOperator = ZCFOpEqual;
  std::u16string Value1;
  std::u16string Value2;
  std::int32_t ApplyStyleID = -1;
  std::int32_t BaseCellPageIndex = -1;
  std::int32_t BaseCellRowIndex = 0;
  std::int32_t BaseCellColumnIndex = 0;

  void Clear() { *this = TZConditionalStyleItem(); }
  void Assign(const TZConditionalStyleItem& source) { *this = source; }
  bool IsEqual(const TZConditionalStyleItem& source) const;
};

class TZConditionalAreaItem {
 public:
  TZConditionalAreaItem() = default;
  // Negative values leave the defaults (column 0, row 0, width 1, height 1).
  TZConditionalAreaItem(int columnNum, int rowNum, int areaWidth, int areaHeight);

  int Row() const { return row_; }
  void SetRow(int value) { if (value >= 0) row_ = value; }
  int Column() const { return column_; }
  void SetColumn(int value) { if (value >= 0) column_ = value; }
  int Width() const { return width_; }
  void SetWidth(int value) { if (value >= 0) width_ = value; }
  int Height() const { return height_; }
  void SetHeight(int value) { if (value >= 0) height_ = value; }

  void Assign(const TZConditionalAreaItem& source) { *this = source; }
  bool IsEqual(const TZConditionalAreaItem& source) const;

 private:
  int row_ = 0;
  int column_ = 0;
  int width_ = 1;
  int height_ = 1;
};

class TZConditionalAreas {
 public:
  TZConditionalAreas();  // one area: column 0, row 0, width 1, height 1

  int Count() const { return static_cast<int>(items_.size()); }
  void SetCount(int value);
  TZConditionalAreaItem* Items(int index);
  const TZConditionalAreaItem* Items(int index) const;
  void SetItems(int index, const TZConditionalAreaItem* item);
  TZConditionalAreaItem* Add();
  TZConditionalAreaItem* Add(int columnNum, int rowNum, int areaWidth, int areaHeight);
  void Delete(int index);
  bool IsCellInArea(int columnNum, int rowNum) const;
  void Assign(const TZConditionalAreas& source);
  bool IsEqual(const TZConditionalAreas& source) const;

 private:
  std::vector<std::unique_ptr<TZConditionalAreaItem>> items_;
};

class TZConditionalStyle {
 public:
  TZConditionalStyle();

  int Count() const { return count_; }
  // Shrinking resets the conditions beyond the count and keeps them as spare capacity.
  void SetCount(int value);
  int Capacity() const { return static_cast<int>(items_.size()); }
  TZConditionalStyleItem* Items(int index);
  const TZConditionalStyleItem* Items(int index) const;
  void SetItems(int index, const TZConditionalStyleItem& item);
  TZConditionalStyleItem* Add();
  TZConditionalStyleItem* Add(const TZConditionalStyleItem* styleItem);
  void Delete(int index);
  void Insert(int index);
  void Insert(int index, const TZConditionalStyleItem* styleItem);
  TZConditionalAreas& Areas() { return areas_; }
  const TZConditionalAreas& Areas() const { return areas_; }
  void SetAreas(const TZConditionalAreas* areas);

  void Assign(const TZConditionalStyle& source);
  // Same count and equal conditions in order; the areas are not compared.
  bool IsEqual(const TZConditionalStyle& source) const;

 private:
  int count_ = 0;
  std::vector<std::unique_ptr<TZConditionalStyleItem>> items_;
  TZConditionalAreas areas_;
};

class TZConditionalFormatting {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  void SetCount(int value);
  TZConditionalStyle* Items(int index);
  const TZConditionalStyle* Items(int index) const;
  void SetItems(int index, const TZConditionalStyle* style);
  TZConditionalStyle* Add();
  TZConditionalStyle* Add(const TZConditionalStyle* style);
  TZConditionalStyle* Add(int columnNum, int rowNum, int areaWidth, int areaHeight);
  void Clear() { items_.clear(); }
  bool Delete(int index);
  void Assign(const TZConditionalFormatting& source);
  bool IsEqual(const TZConditionalFormatting& source) const;

 private:
  std::vector<std::unique_ptr<TZConditionalStyle>> items_;
};

// ---------------------------------------------------------------------------------------------------------
// Cells, rows, columns, merged areas, sheets, the book.

constexpr int kZMaxRows = 1048576;
constexpr int kZMaxCols = 16384;

// One grid position. The rarely used texts (formula, hyperlink and its tip, note and its author) live in a
// block allocated only when one of them is set.
class TZCell {
 public:
  TZCell() = default;
  TZCell(const TZCell& other) { Assign(other); }
  TZCell& operator=(const TZCell& other) {
    Assign(other);
    return *this;
  }
  TZCell(TZCell&&) noexcept = default;
  TZCell& operator=(TZCell&&) noexcept = default;

  const std::u16string& Data() const { return data_; }
  void SetData(const std::u16string& value) { data_ = value; }
  void SetData(std::u16string&& value) { data_ = std::move(value); }
  TZCellType CellType() const { return cellType_; }
  void SetCellType(TZCellType value) { cellType_ = value; }
  // Index into the book's styles; -1 or any index outside the table means the default style.
  int CellStyle() const { return cellStyle_; }
  void SetCellStyle(int value) { cellStyle_ = value; }
  bool AlwaysShowComment() const { return alwaysShowComment_; }
  void SetAlwaysShowComment(bool value) { alwaysShowComment_ = value; }
  bool ShowComment() const { return showComment_; }
  void SetShowComment(bool value) { showComment_ = value; }

  const std::u16string& Formula() const;
  void SetFormula(const std::u16string& value);
  const std::u16string& HRef() const;
  void SetHRef(const std::u16string& value);
  const std::u16string& HRefScreenTip() const;
  void SetHRefScreenTip(const std::u16string& value);
  const std::u16string& Comment() const;
  void SetComment(const std::u16string& value);
  const std::u16string& CommentAuthor() const;
  void SetCommentAuthor(const std::u16string& value);

  // Data as decimal text, CellType ZENumber.
  void SetAsInteger(std::int64_t value);
  // Raises EZxConvertError when Data is not a whole number in the 32-bit range.
  int AsInteger() const;
  // 0 is stored as "0"; other values as 15 significant digits "d.ddddddddddddddE+xxxx". Values that are
  // not finite raise EZxConvertError and change nothing.
  void SetAsDouble(double value);
  // Raises EZxConvertError "ZxCell: Cannot cast data to number" when Data does not parse.
  double AsDouble() const;

  void Assign(const TZCell& source);
  void Clear();

 private:
  struct Extra {
    std::u16string Formula, HRef, HRefScreenTip, Comment, CommentAuthor;
  };
  Extra& MakeExtra();
  void DropExtraIfEmpty();

  std::u16string data_;
  std::unique_ptr<Extra> extra_;
  std::int32_t cellStyle_ = -1;
  TZCellType cellType_ = ZEString;
  bool alwaysShowComment_ = false;
  bool showComment_ = false;
};

// Shared base of row and column options; sizes in points.
class TZRowColOptions {
 public:
  explicit TZRowColOptions(TZSheet* sheet, double size = 0) : sheet_(sheet), size_(size) {}
  virtual ~TZRowColOptions() = default;

  bool Hidden = false;
  std::int32_t StyleID = -1;
  bool Breaked = false;

  TZSheet* Sheet() const { return sheet_; }
  void Assign(const TZRowColOptions& source);

 protected:
  double Size() const { return size_; }
  void SetSize(double value);  // negative or not finite: ignored
  bool AutoFit() const { return auto_; }
  void SetAutoFit(bool value) { auto_ = value; }
  // Millimetres per pixel of the book: horizontal for columns, vertical for rows; 0.265 without a book.
  double PixelSize(bool horizontal) const;

 private:
  TZSheet* sheet_;
  double size_;
  bool auto_ = true;
};

class TZColOptions : public TZRowColOptions {
 public:
  using TZRowColOptions::TZRowColOptions;
  double Width() const { return Size(); }
  void SetWidth(double value) { SetSize(value); }
  double WidthMM() const { return PointsToMM(Size()); }
  void SetWidthMM(double value) { SetSize(MMToPoints(value)); }
  int WidthPix() const { return PointsToPixels(Size(), PixelSize(true)); }
  void SetWidthPix(int value);
  bool AutoFitWidth() const { return AutoFit(); }
  void SetAutoFitWidth(bool value) { SetAutoFit(value); }
};

class TZRowOptions : public TZRowColOptions {
 public:
  using TZRowColOptions::TZRowColOptions;
  double Height() const { return Size(); }
  void SetHeight(double value) { SetSize(value); }
  double HeightMM() const { return PointsToMM(Size()); }
  void SetHeightMM(double value) { SetSize(MMToPoints(value)); }
  int HeightPix() const { return PointsToPixels(Size(), PixelSize(false)); }
  void SetHeightPix(int value);
  bool AutoFitHeight() const { return AutoFit(); }
  void SetAutoFitHeight(bool value) { SetAutoFit(value); }
};

// A rectangle of cells, 0-based and inclusive.
struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  bool operator==(const TRect& other) const = default;
};

// True when the rectangles share at least one cell.
bool AreasIntersect(const TRect& a, const TRect& b);

class TZMergeCells {
 public:
  explicit TZMergeCells(TZSheet* sheet) : sheet_(sheet) {}

  int Count() const { return static_cast<int>(items_.size()); }
  // 0 added, 1 a negative coordinate, 2 overlaps a stored area, 3 a single cell. Grows the owner sheet to
  // hold the area; an area beyond the sheet limits raises EZxError and is not added.
  std::uint8_t AddRect(TRect rect);
  std::uint8_t AddRectXY(int x1, int y1, int x2, int y2) { return AddRect(TRect{x1, y1, x2, y2}); }
  bool DeleteItem(int index);
  // Index of the first area whose top-left cell is that cell, else -1.
  int InLeftTopCorner(int column, int row) const;
  // Index of the first area that contains the cell, else -1.
  int InMergeRange(int column, int row) const;
  // The rectangle, or all zeros outside the range.
  TRect Items(int index) const;
  void Clear() { items_.clear(); }

 private:
  TZSheet* sheet_;
  std::vector<TRect> items_;
};

class TSHEVRIX;

class TZSheet {
 public:
  explicit TZSheet(TSHEVRIX* store);
  TZSheet(const TZSheet&) = delete;
  TZSheet& operator=(const TZSheet&) = delete;

  TSHEVRIX* Store() const { return store_; }

  int RowCount() const { return rowCount_; }
  // Negative values are ignored; above 1,048,576 raises EZxError.
  void SetRowCount(int value);
  int ColCount() const { return colCount_; }
  // Negative values are ignored; above 16,384 raises EZxError.
  void SetColCount(int value);

  // Null outside the grid; never grows it.
  TZCell* Cell(int column, int row);
  const TZCell* Cell(int column, int row) const;
  TZCell* GetCell(int column, int row) { return Cell(column, row); }
  void SetCell(int column, int row, const TZCell& cell);

  TZColOptions* Columns(int index);
  const TZColOptions* Columns(int index) const;
  void SetColumn(int index, const TZColOptions& options);
  TZRowOptions* Rows(int index);
  const TZRowOptions* Rows(int index) const;
  void SetRow(int index, const TZRowOptions& options);

  double ColWidths(int index) const;
  void SetColWidth(int index, double value);
  double RowHeights(int index) const;
  void SetRowHeight(int index, double value);

  double DefaultColWidth() const { return defaultColWidth_; }
  void SetDefaultColWidth(double value);
  double DefaultRowHeight() const { return defaultRowHeight_; }
  void SetDefaultRowHeight(double value);

  const std::u16string& Title() const { return title_; }
  void SetTitle(const std::u16string& value) { title_ = value; }
  TColor TabColor() const { return tabColor_; }
  void SetTabColor(TColor value) { tabColor_ = value; }
  bool Protect() const { return protect_; }
  void SetProtect(bool value) { protect_ = value; }
  bool RightToLeft() const { return rightToLeft_; }
  void SetRightToLeft(bool value) { rightToLeft_ = value; }
  bool Selected() const { return selected_; }
  void SetSelected(bool value) { selected_ = value; }

  TZMergeCells& MergeCells() { return mergeCells_; }
  const TZMergeCells& MergeCells() const { return mergeCells_; }
  TZSheetOptions& SheetOptions() { return sheetOptions_; }
  const TZSheetOptions& SheetOptions() const { return sheetOptions_; }
  void SetSheetOptions(const TZSheetOptions* options);
  TZSheetPrintTitles& RowsToRepeat() { return rowsToRepeat_; }
  const TZSheetPrintTitles& RowsToRepeat() const { return rowsToRepeat_; }
  void SetRowsToRepeat(const TZSheetPrintTitles& titles) { rowsToRepeat_.Assign(titles); }
  TZSheetPrintTitles& ColsToRepeat() { return colsToRepeat_; }
  const TZSheetPrintTitles& ColsToRepeat() const { return colsToRepeat_; }
  void SetColsToRepeat(const TZSheetPrintTitles& titles) { colsToRepeat_.Assign(titles); }
  TZConditionalFormatting& ConditionalFormatting() { return conditionalFormatting_; }
  const TZConditionalFormatting& ConditionalFormatting() const { return conditionalFormatting_; }
  void SetConditionalFormatting(const TZConditionalFormatting* formatting);

  // Frees every cell, row and column; title, default sizes, options, merged areas and print titles stay.
  void Clear();
  void Assign(const TZSheet& source);

 private:
  TSHEVRIX* store_;
  std::deque<std::deque<TZCell>> cells_;  // [column][row]; deques never move their elements
  std::deque<TZRowOptions> rows_;
  std::deque<TZColOptions> columns_;
  std::u16string title_;
  int rowCount_ = 0;
  int colCount_ = 0;
  TColor tabColor_ = clWindow;
  double defaultRowHeight_ = 12.75;
  double defaultColWidth_ = 48.0;
  TZMergeCells mergeCells_;
  bool protect_ = false;
  bool rightToLeft_ = false;
  TZSheetOptions sheetOptions_;
  bool selected_ = false;
  TZSheetPrintTitles rowsToRepeat_;
  TZSheetPrintTitles colsToRepeat_;
  TZConditionalFormatting conditionalFormatting_;
};

class TZSheets {
 public:
  explicit TZSheets(TSHEVRIX* store) : store_(store) {}
  TZSheets(const TZSheets&) = delete;
  TZSheets& operator=(const TZSheets&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // Growing appends sheets made with the book; shrinking frees from the new count on. Negative raises
  // EZxError.
  void SetCount(int value);
  TZSheet* Sheet(int index);
  const TZSheet* Sheet(int index) const;
  void SetSheet(int index, const TZSheet& sheet);
  void Assign(const TZSheets& source);

 private:
  TSHEVRIX* store_;
  std::vector<std::unique_ptr<TZSheet>> items_;
};

class TSHEVRIXDocumentProperties {
 public:
  TSHEVRIXDocumentProperties();

  std::u16string Author = u"none";
  std::u16string LastAuthor = u"none";
  TDateTime Created = 0;  // local time at construction
  std::u16string Company = u"none";
  std::u16string Version = u"11.9999";
  std::uint16_t WindowHeight = 20000;
  std::uint16_t WindowWidth = 20000;
  std::int32_t WindowTopX = 150;
  std::int32_t WindowTopY = 150;
  bool ModeR1C1 = false;

  void Assign(const TSHEVRIXDocumentProperties& source) { *this = source; }
};

// The workbook.
class TSHEVRIX {
 public:
  TSHEVRIX();
  TSHEVRIX(const TSHEVRIX&) = delete;
  TSHEVRIX& operator=(const TSHEVRIX&) = delete;

  TZSheets& Sheets() { return sheets_; }
  const TZSheets& Sheets() const { return sheets_; }
  TSHEVRIXDocumentProperties& DocumentProperties() { return documentProperties_; }
  const TSHEVRIXDocumentProperties& DocumentProperties() const { return documentProperties_; }
  TZStyles& Styles() { return styles_; }
  const TZStyles& Styles() const { return styles_; }
  double HorPixelSize() const { return horPixelSize_; }
  void SetHorPixelSize(double value);
  double VertPixelSize() const { return vertPixelSize_; }
  void SetVertPixelSize(double value);
  TZSheetOptions& DefaultSheetOptions() { return defaultSheetOptions_; }
  const TZSheetOptions& DefaultSheetOptions() const { return defaultSheetOptions_; }
  void SetDefaultSheetOptions(const TZSheetOptions* options);

  // Millimetres per pixel from a device's size in millimetres and resolution in pixels.
  void GetPixelSize(double horSizeMM, int horRes, double vertSizeMM, int vertRes);

  // Copies styles and sheets (not properties, pixel sizes or default options).
  void Assign(const TSHEVRIX& source);
  void Assign(const TZStyles& source) { styles_.Assign(source); }
  void Assign(const TZSheets& source) { sheets_.Assign(source); }

 private:
  TSHEVRIXDocumentProperties documentProperties_;
  TZStyles styles_;
  TZSheetOptions defaultSheetOptions_;
  double horPixelSize_ = 0.265;
  double vertPixelSize_ = 0.265;
  TZSheets sheets_;  // last: sheets refer to the members above while they are destroyed
};

// ---------------------------------------------------------------------------------------------------------
// Markup-preserving escaping of cell and note texts.

// One tag while CorrectMarkupText reads; RawTag is the tag's own text and Content the completed children
// (with the text between them) of an open element.
struct StackData {
  std::u16string TextBeforeTag;
  std::u16string TagName;
  std::u16string RawTag;
  std::u16string Content;
  bool isBad = false;
  bool isClose = false;
};

// Escapes text for XML but keeps well-formed, properly nested tag pairs as markup. Kept tags have XML names
// (optionally prefixed html, ss, x or o) and blank-separated, unique, quoted attributes; everything else is
// escaped. LF and CR LF become "&#10;", a lone CR "&#13;". The result is well-formed element content;
// kept tells whether a tag pair was preserved.
std::u16string CorrectMarkupText(const std::u16string& text, bool& kept);
std::u16string CorrectMarkupText(const std::u16string& text);

// Reads the tag whose '<' is at the 0-based position, fills entry (TagName, RawTag, isBad, isClose) and
// moves the position to the last character consumed.
void ParseMarkupTag(const std::u16string& text, std::size_t& position, StackData& entry);
