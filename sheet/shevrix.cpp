// The workbook model: book, sheets, cells, options, styles, conditional formats, size conversions.
#include "sheet/shevrix.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <limits>

// ---------------------------------------------------------------------------------------------------------
// Colours, fonts, date-times

TColor ColorToRGB(TColor color) {
  if ((color & 0xFF000000u) != 0xFF000000u) return color & 0x00FFFFFFu;
  // Usual values of the desktop's system colours, as 0x00BBGGRR.
  static const TColor kSystem[] = {
      0xC8D0D4, 0x984E00, 0xD1B499, 0xDBCDBF, 0xF0F0F0, 0xFFFFFF, 0x646464, 0x000000, 0x000000, 0x000000,
      0xB4B4B4, 0xFCF7F4, 0xABABAB, 0xD77800, 0xFFFFFF, 0xF0F0F0, 0xA0A0A0, 0x6D6D6D, 0x000000, 0x000000,
      0xFFFFFF, 0x696969, 0xE3E3E3, 0x000000, 0xE1FFFF, 0xB5B5B5, 0xCC6600, 0xEAD1B9, 0xF2E4D7, 0xFF3399,
      0xF0F0F0};
  std::uint32_t index = color & 0xFFu;
  if (index < sizeof(kSystem) / sizeof(kSystem[0])) return kSystem[index];
  return 0;
}

int TFont::Size() const {
  // Height = -round(size * 96 / 72); the inverse rounds the same way.
  return static_cast<int>(-std::lround(static_cast<double>(height_) * 72.0 / 96.0));
}

void TFont::SetSize(int points) { height_ = static_cast<int>(-std::lround(static_cast<double>(points) * 96.0 / 72.0)); }

namespace {

// Days from 1970-01-01 of a civil date (proleptic Gregorian).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long yy = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

constexpr long long kUnixEpochDay = 25569;  // 1970-01-01 as a day count from 1899-12-30

}  // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond) {
  long long days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kUnixEpochDay;
  double time = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + millisecond) / 86400000.0;
  // Before the epoch day the time of day counts away from zero.
  return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& millisecond) {
  // Years 1..9999 lie within about -693,593 .. 2,958,466 days.
  if (!std::isfinite(value) || value < -693594.0 || value >= 2958466.0)
    throw EZxConvertError("Invalid date-time value");
  double whole = std::trunc(value);
  long long days = static_cast<long long>(whole);
  long long ms = std::llround(std::fabs(value - whole) * 86400000.0);
  if (ms >= 86400000) {
    ms -= 86400000;
    days += value >= 0 ? 1 : -1;
  }
  CivilFromDays(days - kUnixEpochDay, year, month, day);
  if (year < 1 || year > 9999) throw EZxConvertError("Invalid date-time value");
  hour = static_cast<int>(ms / 3600000);
  minute = static_cast<int>(ms / 60000 % 60);
  second = static_cast<int>(ms / 1000 % 60);
  millisecond = static_cast<int>(ms % 1000);
}

TDateTime NowLocal() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                        local.tm_sec, 0);
}

// ---------------------------------------------------------------------------------------------------------
// Size conversions

double RoundHalfEven(double value) { return std::nearbyint(value); }  // default rounding mode: to even

double RoundTo2(double value) { return RoundHalfEven(value * 100.0) / 100.0; }

double PixelsToPoints(double pixels, double mmPerPixel) { return RoundTo2(pixels * mmPerPixel / 0.3528); }

int PointsToPixels(double points, double mmPerPixel) {
  double v = RoundHalfEven(points * 0.3528 / mmPerPixel);
  if (!std::isfinite(v) || v < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
      v > static_cast<double>(std::numeric_limits<std::int32_t>::max()))
    throw EZxConvertError("Size out of range");
  return static_cast<int>(v);
}

double PointsToMM(double points) { return RoundTo2(points * 0.3528); }

double MMToPoints(double millimetres) { return RoundTo2(millimetres / 0.3528); }

// ---------------------------------------------------------------------------------------------------------
// Styles

void TZBorderStyle::Assign(const TZBorderStyle& source) {
  SetWeight(source.weight_);
  Color = source.Color;
  LineStyle = source.LineStyle;
}

bool TZBorderStyle::IsEqual(const TZBorderStyle& source) const {
  return LineStyle == source.LineStyle && Color == source.Color && weight_ == source.weight_;
}

TZBorderStyle* TZBorder::Border(int index) {
  return index >= 0 && index < 6 ? &lines_[static_cast<std::size_t>(index)] : nullptr;
}

const TZBorderStyle* TZBorder::Border(int index) const {
  return index >= 0 && index < 6 ? &lines_[static_cast<std::size_t>(index)] : nullptr;
}

void TZBorder::SetBorder(int index, const TZBorderStyle& line) {
  if (index >= 0 && index < 6) lines_[static_cast<std::size_t>(index)].Assign(line);
}

void TZBorder::Assign(const TZBorder& source) {
  for (std::size_t i = 0; i < 6; ++i) lines_[i].Assign(source.lines_[i]);
}

bool TZBorder::IsEqual(const TZBorder& source) const {
  for (std::size_t i = 0; i < 6; ++i)
    if (!lines_[i].IsEqual(source.lines_[i])) return false;
  return true;
}

bool TZAlignment::IsEqual(const TZAlignment& s) const {
  return Horizontal == s.Horizontal && Indent == s.Indent && Rotate == s.Rotate && ShrinkToFit == s.ShrinkToFit &&
         Vertical == s.Vertical && VerticalText == s.VerticalText && WrapText == s.WrapText;
}

TZStyle::TZStyle() {
  Font.Name = u"Arial";
  Font.SetSize(10);
  Font.Color = clBlack;
}

void TZStyle::Assign(const TZStyle& source) {
  if (&source == this) return;
  Font = source.Font;
  Border.Assign(source.Border);
  Alignment.Assign(source.Alignment);
  BGColor = source.BGColor;
  PatternColor = source.PatternColor;
  CellPattern = source.CellPattern;
  SetNumberFormat(source.NumberFormat());
  Protect = source.Protect;
  HideFormula = source.HideFormula;
}

bool TZStyle::IsEqual(const TZStyle& s) const {
  return Border.IsEqual(s.Border) && Alignment.IsEqual(s.Alignment) && BGColor == s.BGColor &&
         PatternColor == s.PatternColor && CellPattern == s.CellPattern && NumberFormat() == s.NumberFormat() &&
         Protect == s.Protect && HideFormula == s.HideFormula && Font.Color == s.Font.Color &&
         Font.Height() == s.Font.Height() && Font.Name == s.Font.Name && Font.Pitch == s.Font.Pitch &&
         Font.Size() == s.Font.Size() && Font.Style == s.Font.Style;
}

void TZStyles::SetCount(int value) {
  if (value < 0) throw EZxError("The style count must not be negative");
  auto n = static_cast<std::size_t>(value);
  if (n < items_.size()) {
    items_.resize(n);
    return;
  }
  items_.reserve(n);
  while (items_.size() < n) items_.push_back(std::make_unique<TZStyle>(defaultStyle_));
}

TZStyle* TZStyles::Items(int index) {
  if (index < 0 || index >= Count()) return &defaultStyle_;
  return items_[static_cast<std::size_t>(index)].get();
}

const TZStyle* TZStyles::Items(int index) const {
  if (index < 0 || index >= Count()) return &defaultStyle_;
  return items_[static_cast<std::size_t>(index)].get();
}

void TZStyles::SetStyle(int index, const TZStyle& style) {
  if (index >= 0 && index < Count())
    items_[static_cast<std::size_t>(index)]->Assign(style);
  else if (index == -1)
    defaultStyle_.Assign(style);
}

void TZStyles::SetDefaultStyle(const TZStyle* style) {
  if (style != nullptr) defaultStyle_.Assign(*style);
}

int TZStyles::Find(const TZStyle& style) const {
  if (defaultStyle_.IsEqual(style)) return -1;
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i]->IsEqual(style)) return static_cast<int>(i);
  return -2;
}

int TZStyles::Add(const TZStyle& style, bool checkMatch) {
  if (checkMatch) {
    int found = Find(style);
    if (found != -2) return found;
  }
  items_.push_back(std::make_unique<TZStyle>(style));
  return Count() - 1;
}

int TZStyles::DeleteStyle(int index) {
  if (index < 0 || index >= Count()) return -1;
  items_.erase(items_.begin() + index);
  return 0;
}

void TZStyles::Clear() { items_.clear(); }

void TZStyles::Assign(const TZStyles& source) {
  if (&source == this) return;
  defaultStyle_.Assign(source.defaultStyle_);
  SetCount(source.Count());
  for (int i = 0; i < Count(); ++i) items_[static_cast<std::size_t>(i)]->Assign(*source.Items(i));
}

// ---------------------------------------------------------------------------------------------------------
// Sheet options and print titles

bool TZHeaderFooterMargins::IsEqual(const TZHeaderFooterMargins* s) const {
  return s != nullptr && MarginTopBottom == s->MarginTopBottom && MarginLeft == s->MarginLeft &&
         MarginRight == s->MarginRight && Height == s->Height && UseAutoFitHeight == s->UseAutoFitHeight;
}

bool TZSheetFooterHeader::IsEqual(const TZSheetFooterHeader* s) const {
  return s != nullptr && DataLeft == s->DataLeft && Data == s->Data && DataRight == s->DataRight &&
         IsDisplay == s->IsDisplay;
}

TZSheetOptions::TZSheetOptions() {
  HeaderMargins.Height = 13;
  FooterMargins.Height = 13;
}

TZSheetPrintTitles::TZSheetPrintTitles(TZSheet* owner, bool forColumns) : owner_(owner), columns_(forColumns) {
  if (owner == nullptr) throw EZxError("TZSheetPrintTitles requires an existing worksheet for owners.");
}

void TZSheetPrintTitles::CheckRange(int from, int till) const {
  int limit = columns_ ? owner_->ColCount() : owner_->RowCount();
  if (!(till >= from && till < limit)) throw EZxError("Invalid printable titles for the worksheet.");
}

void TZSheetPrintTitles::SetActive(bool value) {
  if (value) CheckRange(from_, till_);
  active_ = value;
}

void TZSheetPrintTitles::SetFrom(std::uint16_t value) {
  if (active_) CheckRange(value, till_);
  from_ = value;
}

void TZSheetPrintTitles::SetTill(std::uint16_t value) {
  if (active_) CheckRange(from_, value);
  till_ = value;
}

void TZSheetPrintTitles::Assign(const TZSheetPrintTitles& source) {
  if (&source == this) return;
  if (source.active_) CheckRange(source.from_, source.till_);
  from_ = source.from_;
  till_ = source.till_;
  active_ = source.active_;
}

std::u16string TZSheetPrintTitles::ToString() const {
  if (!active_) return {};
  char buf[48];
  char letter = columns_ ? 'C' : 'R';
  std::snprintf(buf, sizeof buf, "%c%d:%c%d", letter, from_ + 1, letter, till_ + 1);
  return std::u16string(buf, buf + std::char_traits<char>::length(buf));
}

// ---------------------------------------------------------------------------------------------------------
// Conditional formatting

bool TZConditionalStyleItem::IsEqual(const TZConditionalStyleItem& s) const {
  return Condition == s.Condition && ConditionOperator == s.ConditionOperator && Value1 == s.Value1 &&
         Value2 == s.Value2 && ApplyStyleID == s.ApplyStyleID && BaseCellPageIndex == s.BaseCellPageIndex &&
         BaseCellRowIndex == s.BaseCellRowIndex && BaseCellColumnIndex == s.BaseCellColumnIndex;
}

TZConditionalAreaItem::TZConditionalAreaItem(int columnNum, int rowNum, int areaWidth, int areaHeight) {
  SetColumn(columnNum);
  SetRow(rowNum);
  SetWidth(areaWidth);
  SetHeight(areaHeight);
}

bool TZConditionalAreaItem::IsEqual(const TZConditionalAreaItem& s) const {
  return row_ == s.row_ && column_ == s.column_ && width_ == s.width_ && height_ == s.height_;
}

TZConditionalAreas::TZConditionalAreas() { items_.push_back(std::make_unique<TZConditionalAreaItem>()); }

void TZConditionalAreas::SetCount(int value) {
  if (value < 0 || value == Count()) return;
  auto n = static_cast<std::size_t>(value);
  if (n < items_.size()) {
    items_.resize(n);
    return;
  }
  while (items_.size() < n) items_.push_back(std::make_unique<TZConditionalAreaItem>());
}

TZConditionalAreaItem* TZConditionalAreas::Items(int index) {
  return index >= 0 && index < Count() ? items_[static_cast<std::size_t>(index)].get() : nullptr;
}

const TZConditionalAreaItem* TZConditionalAreas::Items(int index) const {
  return index >= 0 && index < Count() ? items_[static_cast<std::size_t>(index)].get() : nullptr;
}

void TZConditionalAreas::SetItems(int index, const TZConditionalAreaItem* item) {
  if (item != nullptr && index >= 0 && index < Count()) items_[static_cast<std::size_t>(index)]->Assign(*item);
}

TZConditionalAreaItem* TZConditionalAreas::Add() {
  items_.push_back(std::make_unique<TZConditionalAreaItem>());
  return items_.back().get();
}

TZConditionalAreaItem* TZConditionalAreas::Add(int columnNum, int rowNum, int areaWidth, int areaHeight) {
  items_.push_back(std::make_unique<TZConditionalAreaItem>(columnNum, rowNum, areaWidth, areaHeight));
  return items_.back().get();
}

void TZConditionalAreas::Delete(int index) {
  if (index >= 0 && index < Count()) items_.erase(items_.begin() + index);
}

bool TZConditionalAreas::IsCellInArea(int columnNum, int rowNum) const {
  for (const auto& a : items_) {
    long long c = a->Column(), r = a->Row();
    if (columnNum >= c && columnNum < c + a->Width() && rowNum >= r && rowNum < r + a->Height()) return true;
  }
  return false;
}

void TZConditionalAreas::Assign(const TZConditionalAreas& source) {
  if (&source == this) return;
  items_.clear();
  for (const auto& a : source.items_) items_.push_back(std::make_unique<TZConditionalAreaItem>(*a));
}

bool TZConditionalAreas::IsEqual(const TZConditionalAreas& source) const {
  if (Count() != source.Count()) return false;
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (!items_[i]->IsEqual(*source.items_[i])) return false;
  return true;
}

TZConditionalStyle::TZConditionalStyle() {
  for (int i = 0; i < 3; ++i) items_.push_back(std::make_unique<TZConditionalStyleItem>());
}

void TZConditionalStyle::SetCount(int value) {
  if (value < 0) return;
  if (value < count_) {
    for (int i = value; i < count_; ++i) items_[static_cast<std::size_t>(i)]->Clear();
  } else {
    while (Capacity() < value) items_.push_back(std::make_unique<TZConditionalStyleItem>());
  }
  count_ = value;
}

TZConditionalStyleItem* TZConditionalStyle::Items(int index) {
  return index >= 0 && index < count_ ? items_[static_cast<std::size_t>(index)].get() : nullptr;
}

const TZConditionalStyleItem* TZConditionalStyle::Items(int index) const {
  return index >= 0 && index < count_ ? items_[static_cast<std::size_t>(index)].get() : nullptr;
}

void TZConditionalStyle::SetItems(int index, const TZConditionalStyleItem& item) {
  if (index >= 0 && index < count_) items_[static_cast<std::size_t>(index)]->Assign(item);
}

TZConditionalStyleItem* TZConditionalStyle::Add() {
  SetCount(count_ + 1);
  TZConditionalStyleItem* item = items_[static_cast<std::size_t>(count_ - 1)].get();
  item->Clear();
  return item;
}

TZConditionalStyleItem* TZConditionalStyle::Add(const TZConditionalStyleItem* styleItem) {
  TZConditionalStyleItem* item = Add();
  if (styleItem != nullptr) item->Assign(*styleItem);
  return item;
}

void TZConditionalStyle::Delete(int index) {
  if (index < 0 || index >= count_) return;
  auto removed = std::move(items_[static_cast<std::size_t>(index)]);
  items_.erase(items_.begin() + index);
  removed->Clear();
  items_.push_back(std::move(removed));
  --count_;
}

void TZConditionalStyle::Insert(int index) { Insert(index, nullptr); }

void TZConditionalStyle::Insert(int index, const TZConditionalStyleItem* styleItem) {
  if (index < 0 || index >= count_) return;
  Add();
  auto item = std::move(items_[static_cast<std::size_t>(count_ - 1)]);
  items_.erase(items_.begin() + (count_ - 1));
  items_.insert(items_.begin() + index, std::move(item));
  if (styleItem != nullptr) items_[static_cast<std::size_t>(index)]->Assign(*styleItem);
}

void TZConditionalStyle::SetAreas(const TZConditionalAreas* areas) {
  if (areas != nullptr) areas_.Assign(*areas);
}

void TZConditionalStyle::Assign(const TZConditionalStyle& source) {
  if (&source == this) return;
  SetCount(source.count_);
  areas_.Assign(source.areas_);
  for (int i = 0; i < count_; ++i) items_[static_cast<std::size_t>(i)]->Assign(*source.Items(i));
}

bool TZConditionalStyle::IsEqual(const TZConditionalStyle& source) const {
  if (count_ != source.count_) return false;
  for (int i = 0; i < count_; ++i)
    if (!Items(i)->IsEqual(*source.Items(i))) return false;
  return true;
}

void TZConditionalFormatting::SetCount(int value) {
  if (value < 0) return;
  auto n = static_cast<std::size_t>(value);
  if (n < items_.size()) {
    items_.resize(n);
    return;
  }
  while (items_.size() < n) items_.push_back(std::make_unique<TZConditionalStyle>());
}

TZConditionalStyle* TZConditionalFormatting::Items(int index) {
  return index >= 0 && index < Count() ? items_[static_cast<std::size_t>(index)].get() : nullptr;
}

const TZConditionalStyle* TZConditionalFormatting::Items(int index) const {
  return index >= 0 && index < Count() ? items_[static_cast<std::size_t>(index)].get() : nullptr;
}

void TZConditionalFormatting::SetItems(int index, const TZConditionalStyle* style) {
  if (style != nullptr && index >= 0 && index < Count()) items_[static_cast<std::size_t>(index)]->Assign(*style);
}

TZConditionalStyle* TZConditionalFormatting::Add() {
  items_.push_back(std::make_unique<TZConditionalStyle>());
  return items_.back().get();
}

TZConditionalStyle* TZConditionalFormatting::Add(const TZConditionalStyle* style) {
  TZConditionalStyle* added = Add();
  if (style != nullptr) added->Assign(*style);
  return added;
}

TZConditionalStyle* TZConditionalFormatting::Add(int columnNum, int rowNum, int areaWidth, int areaHeight) {
  TZConditionalStyle* added = Add();
  TZConditionalAreaItem* area = added->Areas().Items(0);
  area->SetColumn(columnNum);
  area->SetRow(rowNum);
  area->SetWidth(areaWidth);
  area->SetHeight(areaHeight);
  return added;
}

bool TZConditionalFormatting::Delete(int index) {
  if (index < 0 || index >= Count()) return false;
  items_.erase(items_.begin() + index);
  return true;
}

void TZConditionalFormatting::Assign(const TZConditionalFormatting& source) {
  if (&source == this) return;
  SetCount(source.Count());
  for (int i = 0; i < Count(); ++i) items_[static_cast<std::size_t>(i)]->Assign(*source.Items(i));
}

bool TZConditionalFormatting::IsEqual(const TZConditionalFormatting& source) const {
  if (Count() != source.Count()) return false;
  for (int i = 0; i < Count(); ++i)
    if (!items_[static_cast<std::size_t>(i)]->IsEqual(*source.Items(i))) return false;
  return true;
}

// ---------------------------------------------------------------------------------------------------------
// Cells

namespace {
const std::u16string kEmpty;
}

TZCell::Extra& TZCell::MakeExtra() {
  if (!extra_) extra_ = std::make_unique<Extra>();
  return *extra_;
}

void TZCell::DropExtraIfEmpty() {
  if (extra_ && extra_->Formula.empty() && extra_->HRef.empty() && extra_->HRefScreenTip.empty() &&
      extra_->Comment.empty() && extra_->CommentAuthor.empty())
    extra_.reset();
}

#define ZX_CELL_EXTRA(Name)                                                  \
  const std::u16string& TZCell::Name() const { return extra_ ? extra_->Name : kEmpty; } \
  void TZCell::Set##Name(const std::u16string& value) {                      \
    if (value.empty() && !extra_) return;                                    \
    MakeExtra().Name = value;                                                \
    DropExtraIfEmpty();                                                      \
  }

ZX_CELL_EXTRA(Formula)
ZX_CELL_EXTRA(HRef)
ZX_CELL_EXTRA(HRefScreenTip)
ZX_CELL_EXTRA(Comment)
ZX_CELL_EXTRA(CommentAuthor)
#undef ZX_CELL_EXTRA

void TZCell::Assign(const TZCell& source) {
  if (&source == this) return;
  data_ = source.data_;
  if (source.extra_)
    extra_ = std::make_unique<Extra>(*source.extra_);
  else
    extra_.reset();
  cellStyle_ = source.cellStyle_;
  cellType_ = source.cellType_;
  alwaysShowComment_ = source.alwaysShowComment_;
  showComment_ = source.showComment_;
}

void TZCell::Clear() {
  data_.clear();
  extra_.reset();
  cellStyle_ = -1;
  cellType_ = ZEString;
  alwaysShowComment_ = false;
  showComment_ = false;
}

namespace {

std::u16string Ascii16(const char* s) {
  std::u16string out;
  for (; *s != 0; ++s) out.push_back(static_cast<unsigned char>(*s));
  return out;
}

// ASCII bytes of a text, or false when it holds anything else.
bool ToAscii(const std::u16string& text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c == 0 || c >= 0x80) return false;
    out.push_back(static_cast<char>(c));
  }
  return true;
}

}  // namespace

void TZCell::SetAsInteger(std::int64_t value) {
  data_ = Ascii16(std::to_string(value).c_str());
  cellType_ = ZENumber;
}

int TZCell::AsInteger() const {
  std::string s;
  if (!ToAscii(data_, s)) throw EZxConvertError("'" + s + "' is not a valid integer value");
  // Whole-number text with an optional sign, optional leading blanks and "$" for hexadecimal.
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  int base = 10;
  if (i < s.size() && s[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size()) throw EZxConvertError("'" + s + "' is not a valid integer value");
  long long v = 0;
  for (; i < s.size(); ++i) {
    int d;
    char c = s[i];
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else throw EZxConvertError("'" + s + "' is not a valid integer value");
    v = v * base + d;
    if (v > 0x100000000LL) throw EZxConvertError("'" + s + "' is not a valid integer value");
  }
  if (negative) v = -v;
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
    throw EZxConvertError("'" + s + "' is not a valid integer value");
  return static_cast<int>(v);
}

void TZCell::SetAsDouble(double value) {
  if (!std::isfinite(value)) throw EZxConvertError("ZxCell: Cannot store a value that is not a number");
  if (value == 0) {
    SetAsInteger(0);
    return;
  }
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.14E", value);  // d.ddddddddddddddE+xx
  if (!std::isfinite(std::strtod(buf, nullptr))) {
    // Rounded to 15 digits, a value next to the largest double lies beyond it and would read back as
    // infinity: the last digit is taken one lower (the mantissa is then cut, not rounded).
    char* last = std::strchr(buf, 'E') - 1;
    while (*last == '0') *last-- = '9';
    --*last;
  }
  std::string s(buf);
  std::size_t e = s.find('E');
  std::string mantissa = s.substr(0, e);
  char sign = s[e + 1];
  int exponent = std::atoi(s.c_str() + e + 2);
  std::snprintf(buf, sizeof buf, "%sE%c%04d", mantissa.c_str(), sign, exponent);
  data_ = Ascii16(buf);
  cellType_ = ZENumber;
}

double TZCell::AsDouble() const {
  static const char* kMessage = "ZxCell: Cannot cast data to number";
  std::string s;
  if (!ToAscii(data_, s)) throw EZxConvertError(kMessage);
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  // Digits with a point and an optional exponent only: no hexadecimal, no "inf" or "nan".
  std::size_t j = i;
  if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
  std::size_t digits = 0;
  while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j, ++digits;
  if (j < s.size() && s[j] == '.') {
    ++j;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j, ++digits;
  }
  if (digits == 0) throw EZxConvertError(kMessage);
  if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
    ++j;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    std::size_t expDigits = 0;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j, ++expDigits;
    if (expDigits == 0) throw EZxConvertError(kMessage);
  }
  if (j != s.size()) throw EZxConvertError(kMessage);
  errno = 0;
  double v = std::strtod(s.c_str() + i, nullptr);
  if (!std::isfinite(v)) throw EZxConvertError(kMessage);
  return v;
}

// ---------------------------------------------------------------------------------------------------------
// Rows and columns

void TZRowColOptions::Assign(const TZRowColOptions& source) {
  if (&source == this) return;
  Hidden = source.Hidden;
  StyleID = source.StyleID;
  size_ = source.size_;
  auto_ = source.auto_;
  Breaked = source.Breaked;
}

void TZRowColOptions::SetSize(double value) {
  if (std::isfinite(value) && value >= 0) size_ = value;
}

double TZRowColOptions::PixelSize(bool horizontal) const {
  if (sheet_ == nullptr || sheet_->Store() == nullptr) return 0.265;
  return horizontal ? sheet_->Store()->HorPixelSize() : sheet_->Store()->VertPixelSize();
}

void TZColOptions::SetWidthPix(int value) {
  if (value >= 0) SetSize(PixelsToPoints(value, PixelSize(true)));
}

void TZRowOptions::SetHeightPix(int value) {
  if (value >= 0) SetSize(PixelsToPoints(value, PixelSize(false)));
}

// ---------------------------------------------------------------------------------------------------------
// Merged areas

bool AreasIntersect(const TRect& a, const TRect& b) {
  return a.Left <= b.Right && b.Left <= a.Right && a.Top <= b.Bottom && b.Top <= a.Bottom;
}

std::uint8_t TZMergeCells::AddRect(TRect rect) {
  if (rect.Right < rect.Left) std::swap(rect.Left, rect.Right);
  if (rect.Bottom < rect.Top) std::swap(rect.Top, rect.Bottom);
  if (rect.Left < 0 || rect.Top < 0) return 1;
  if (rect.Left == rect.Right && rect.Top == rect.Bottom) return 3;
  for (const TRect& e : items_)
    if (AreasIntersect(e, rect)) return 2;
  if (rect.Right >= kZMaxCols || rect.Bottom >= kZMaxRows)
    throw EZxError("The merged area lies beyond the sheet's limits");
  if (sheet_ != nullptr) {
    if (rect.Right >= sheet_->ColCount()) sheet_->SetColCount(rect.Right + 1);
    if (rect.Bottom >= sheet_->RowCount()) sheet_->SetRowCount(rect.Bottom + 1);
  }
  items_.push_back(rect);
  return 0;
}

bool TZMergeCells::DeleteItem(int index) {
  if (index < 0 || index >= Count()) return false;
  items_.erase(items_.begin() + index);
  return true;
}

int TZMergeCells::InLeftTopCorner(int column, int row) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i].Left == column && items_[i].Top == row) return static_cast<int>(i);
  return -1;
}

int TZMergeCells::InMergeRange(int column, int row) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const TRect& r = items_[i];
    if (column >= r.Left && column <= r.Right && row >= r.Top && row <= r.Bottom) return static_cast<int>(i);
  }
  return -1;
}

TRect TZMergeCells::Items(int index) const {
  if (index < 0 || index >= Count()) return TRect{};
  return items_[static_cast<std::size_t>(index)];
}

// ---------------------------------------------------------------------------------------------------------
// Sheets

TZSheet::TZSheet(TSHEVRIX* store)
    : store_(store), mergeCells_(this), rowsToRepeat_(this, false), colsToRepeat_(this, true) {
  if (store != nullptr) sheetOptions_.Assign(store->DefaultSheetOptions());
}

void TZSheet::SetRowCount(int value) {
  if (value < 0 || value == rowCount_) return;
  if (value > kZMaxRows) throw EZxError("A sheet holds at most 1048576 rows");
  auto n = static_cast<std::size_t>(value);
  if (value > rowCount_) {
    for (auto& column : cells_) column.resize(n);
    while (rows_.size() < n) rows_.emplace_back(this, defaultRowHeight_);
  } else {
    for (auto& column : cells_) column.resize(n);
    rows_.resize(n, TZRowOptions(this));
  }
  rowCount_ = value;
}

void TZSheet::SetColCount(int value) {
  if (value < 0 || value == colCount_) return;
  if (value > kZMaxCols) throw EZxError("A sheet holds at most 16384 columns");
  auto n = static_cast<std::size_t>(value);
  if (value > colCount_) {
    while (cells_.size() < n) cells_.emplace_back(static_cast<std::size_t>(rowCount_));
    while (columns_.size() < n) columns_.emplace_back(this, defaultColWidth_);
  } else {
    cells_.resize(n);
    columns_.resize(n, TZColOptions(this));
  }
  colCount_ = value;
}

TZCell* TZSheet::Cell(int column, int row) {
  if (column < 0 || column >= colCount_ || row < 0 || row >= rowCount_) return nullptr;
  return &cells_[static_cast<std::size_t>(column)][static_cast<std::size_t>(row)];
}

const TZCell* TZSheet::Cell(int column, int row) const {
  if (column < 0 || column >= colCount_ || row < 0 || row >= rowCount_) return nullptr;
  return &cells_[static_cast<std::size_t>(column)][static_cast<std::size_t>(row)];
}

void TZSheet::SetCell(int column, int row, const TZCell& cell) {
  if (TZCell* target = Cell(column, row)) target->Assign(cell);
}

TZColOptions* TZSheet::Columns(int index) {
  return index >= 0 && index < colCount_ ? &columns_[static_cast<std::size_t>(index)] : nullptr;
}

const TZColOptions* TZSheet::Columns(int index) const {
  return index >= 0 && index < colCount_ ? &columns_[static_cast<std::size_t>(index)] : nullptr;
}

void TZSheet::SetColumn(int index, const TZColOptions& options) {
  if (TZColOptions* target = Columns(index)) target->Assign(options);
}

TZRowOptions* TZSheet::Rows(int index) {
  return index >= 0 && index < rowCount_ ? &rows_[static_cast<std::size_t>(index)] : nullptr;
}

const TZRowOptions* TZSheet::Rows(int index) const {
  return index >= 0 && index < rowCount_ ? &rows_[static_cast<std::size_t>(index)] : nullptr;
}

void TZSheet::SetRow(int index, const TZRowOptions& options) {
  if (TZRowOptions* target = Rows(index)) target->Assign(options);
}

double TZSheet::ColWidths(int index) const {
  const TZColOptions* c = Columns(index);
  return c != nullptr ? c->Width() : 0;
}

void TZSheet::SetColWidth(int index, double value) {
  if (TZColOptions* c = Columns(index)) c->SetWidth(value);
}

double TZSheet::RowHeights(int index) const {
  const TZRowOptions* r = Rows(index);
  return r != nullptr ? r->Height() : 0;
}

void TZSheet::SetRowHeight(int index, double value) {
  if (TZRowOptions* r = Rows(index)) r->SetHeight(value);
}

void TZSheet::SetDefaultColWidth(double value) {
  if (std::isfinite(value) && value >= 0) defaultColWidth_ = RoundTo2(value);
}

void TZSheet::SetDefaultRowHeight(double value) {
  if (std::isfinite(value) && value >= 0) defaultRowHeight_ = RoundTo2(value);
}

void TZSheet::SetSheetOptions(const TZSheetOptions* options) {
  if (options != nullptr) sheetOptions_.Assign(*options);
}

void TZSheet::SetConditionalFormatting(const TZConditionalFormatting* formatting) {
  if (formatting != nullptr) conditionalFormatting_.Assign(*formatting);
}

void TZSheet::Clear() {
  cells_.clear();
  rows_.clear();
  columns_.clear();
  rowCount_ = 0;
  colCount_ = 0;
}

void TZSheet::Assign(const TZSheet& source) {
  if (&source == this) return;
  SetRowCount(source.rowCount_);
  SetColCount(source.colCount_);
  tabColor_ = source.tabColor_;
  title_ = source.title_;
  protect_ = source.protect_;
  rightToLeft_ = source.rightToLeft_;
  SetDefaultRowHeight(source.defaultRowHeight_);
  SetDefaultColWidth(source.defaultColWidth_);
  for (int r = 0; r < rowCount_; ++r) rows_[static_cast<std::size_t>(r)].Assign(*source.Rows(r));
  for (int c = 0; c < colCount_; ++c) {
    columns_[static_cast<std::size_t>(c)].Assign(*source.Columns(c));
    auto& column = cells_[static_cast<std::size_t>(c)];
    const auto& sourceColumn = source.cells_[static_cast<std::size_t>(c)];
    for (std::size_t r = 0; r < column.size(); ++r) column[r].Assign(sourceColumn[r]);
  }
  selected_ = source.selected_;
  sheetOptions_.Assign(source.sheetOptions_);
  mergeCells_.Clear();
  for (int i = 0; i < source.mergeCells_.Count(); ++i) mergeCells_.AddRect(source.mergeCells_.Items(i));
  conditionalFormatting_.Assign(source.conditionalFormatting_);
  rowsToRepeat_.Assign(source.rowsToRepeat_);
  colsToRepeat_.Assign(source.colsToRepeat_);
}

void TZSheets::SetCount(int value) {
  if (value < 0) throw EZxError("The sheet count must not be negative");
  auto n = static_cast<std::size_t>(value);
  if (n < items_.size()) {
    items_.resize(n);
    return;
  }
  items_.reserve(n);
  while (items_.size() < n) items_.push_back(std::make_unique<TZSheet>(store_));
}

TZSheet* TZSheets::Sheet(int index) {
  return index >= 0 && index < Count() ? items_[static_cast<std::size_t>(index)].get() : nullptr;
}

const TZSheet* TZSheets::Sheet(int index) const {
  return index >= 0 && index < Count() ? items_[static_cast<std::size_t>(index)].get() : nullptr;
}

void TZSheets::SetSheet(int index, const TZSheet& sheet) {
  if (TZSheet* target = Sheet(index)) target->Assign(sheet);
}

void TZSheets::Assign(const TZSheets& source) {
  if (&source == this) return;
  SetCount(source.Count());
  for (int i = 0; i < Count(); ++i) items_[static_cast<std::size_t>(i)]->Assign(*source.Sheet(i));
}

// ---------------------------------------------------------------------------------------------------------
// The book

TSHEVRIXDocumentProperties::TSHEVRIXDocumentProperties() : Created(NowLocal()) {}

TSHEVRIX::TSHEVRIX() : sheets_(this) {}

void TSHEVRIX::SetHorPixelSize(double value) {
  if (std::isfinite(value) && value > 0) horPixelSize_ = value;
}

void TSHEVRIX::SetVertPixelSize(double value) {
  if (std::isfinite(value) && value > 0) vertPixelSize_ = value;
}

void TSHEVRIX::SetDefaultSheetOptions(const TZSheetOptions* options) {
  if (options != nullptr) defaultSheetOptions_.Assign(*options);
}

void TSHEVRIX::GetPixelSize(double horSizeMM, int horRes, double vertSizeMM, int vertRes) {
  if (horRes > 0) SetHorPixelSize(horSizeMM / horRes);
  if (vertRes > 0) SetVertPixelSize(vertSizeMM / vertRes);
}

void TSHEVRIX::Assign(const TSHEVRIX& source) {
  if (&source == this) return;
  styles_.Assign(source.styles_);
  sheets_.Assign(source.sheets_);
}
