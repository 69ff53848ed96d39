// Save routines shared by the workbook writers.
#include "sheet/booksavecommon.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>

#include <locale.h>
#include <wctype.h>

namespace {

std::u16string Ascii(const char* s) {
  std::u16string out;
  for (; *s != 0; ++s) out.push_back(static_cast<unsigned char>(*s));
  return out;
}

std::u16string Decimal(long long value) { return Ascii(std::to_string(value).c_str()); }

// The upper case of a code point by the Unicode tables of the C library (the built-in C.UTF-8 locale);
// where that locale is missing, the letters of the Latin, Greek and Cyrillic blocks are mapped here.
char32_t UpperLetter(char32_t c) {
  static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (utf8 != static_cast<locale_t>(nullptr)) return static_cast<char32_t>(::towupper_l(static_cast<wint_t>(c), utf8));
  if ((c >= U'a' && c <= U'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) ||
      (c >= 0x430 && c <= 0x44F))
    return c - 32;
  if (c == 0xFF) return 0x178;
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  if (((c >= 0x100 && c <= 0x17F) || (c >= 0x460 && c <= 0x4FF)) && (c & 1) == 1 && c != 0x131 && c != 0x138 &&
      c != 0x149 && c != 0x17F && !(c >= 0x483 && c <= 0x489))
    return c - 1;
  return c;
}

// The code points of a UTF-16 text, each in upper case; a lone surrogate stands for itself.
std::u32string UpperCodePoints(const std::u16string& s) {
  std::u32string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF)
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
    out.push_back(UpperLetter(c));
  }
  return out;
}

bool IsTrimmed(char16_t c) { return c <= u' '; }

std::u16string Trim(const std::u16string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsTrimmed(s[b])) ++b;
  while (e > b && IsTrimmed(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// At most max units, never ending inside a surrogate pair.
std::u16string CutTo(const std::u16string& s, std::size_t max) {
  if (s.size() <= max) return s;
  std::size_t n = max;
  if (n > 0 && s[n - 1] >= 0xD800 && s[n - 1] <= 0xDBFF) --n;
  return s.substr(0, n);
}

// A whole number inside parentheses, within a range where adding one cannot overflow.
bool ParseWholeNumber(const std::u16string& s, long long& value) {
  if (s.empty() || s.size() > 10) return false;
  std::size_t i = 0;
  bool negative = false;
  if (s[0] == u'-' || s[0] == u'+') {
    negative = s[0] == u'-';
    i = 1;
  }
  if (i >= s.size()) return false;
  long long v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < u'0' || s[i] > u'9') return false;
    v = v * 10 + (s[i] - u'0');
  }
  value = negative ? -v : v;
  return value < std::numeric_limits<std::int32_t>::max() && value >= std::numeric_limits<std::int32_t>::min();
}

std::u16string Renumber(const std::u16string& title, long long n) {
  std::u16string base = title;
  if (Trim(base).empty()) base = u"Sheet";
  if (!base.empty() && base.back() == u')') {
    std::size_t open = base.rfind(u'(');
    if (open != std::u16string::npos) {
      long long number;
      if (ParseWholeNumber(base.substr(open + 1, base.size() - open - 2), number)) n = number + 1;
      base.erase(open);
    }
  }
  std::u16string suffix = u"(" + Decimal(n) + u")";
  if (base.size() + suffix.size() > kZMaxSheetTitleLength)
    base = CutTo(base, kZMaxSheetTitleLength - suffix.size());
  return base + suffix;
}

// Blanks, control characters and apostrophes off both ends, until none is left there: readers refuse a
// sheet name that starts or ends with an apostrophe.
std::u16string TrimTitle(const std::u16string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (IsTrimmed(s[b]) || s[b] == u'\'')) ++b;
  while (e > b && (IsTrimmed(s[e - 1]) || s[e - 1] == u'\'')) --e;
  return s.substr(b, e - b);
}

}  // namespace

std::u16string GeneratorName() {
  return u"SHEVRIXlib/0.0.7$GCC SHEVRIX/3f6c2a9e0d41b87c5e2f19a4d6b03c7e8a15f2d9";
}

std::u16string ZeroPaddedInt(long long value, int width) {
  // The magnitude in unsigned arithmetic, so the most negative value has one too.
  unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                           : static_cast<unsigned long long>(value);
  std::u16string digits = Ascii(std::to_string(magnitude).c_str());
  std::u16string out;
  if (value < 0) out.push_back(u'-');
  for (int i = static_cast<int>(digits.size()); i < width; ++i) out.push_back(u'0');
  return out + digits;
}

std::u16string DateTimeToIsoText(TDateTime value) {
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(value, y, mo, d, h, mi, s, ms);
  return ZeroPaddedInt(y, 4) + u"-" + ZeroPaddedInt(mo, 2) + u"-" + ZeroPaddedInt(d, 2) + u"T" +
         ZeroPaddedInt(h, 2) + u":" + ZeroPaddedInt(mi, 2) + u":" + ZeroPaddedInt(s, 2);
}

TDateTime LocalDateTimeToUtc(TDateTime localValue) {
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(localValue, y, mo, d, h, mi, s, ms);
  std::tm local{};
  local.tm_year = y - 1900;
  local.tm_mon = mo - 1;
  local.tm_mday = d;
  local.tm_hour = h;
  local.tm_min = mi;
  local.tm_sec = s;
  local.tm_isdst = -1;
  std::time_t t = std::mktime(&local);
  std::tm utc{};
  if (t == static_cast<std::time_t>(-1) || gmtime_r(&t, &utc) == nullptr) return localValue;
  return EncodeDateTime(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, ms);
}

std::u16string DateTimeToIsoUtcText(TDateTime localValue) {
  return DateTimeToIsoText(LocalDateTimeToUtc(localValue)) + u"Z";
}

void WriteXmlDeclaration(TZXMLWriterH& xml, const std::u16string& encodingName, const std::string& bom) {
  if (!bom.empty()) xml.WriteRaw(bom, false, false);
  TZAttributesH& attrs = xml.Attributes();
  attrs.Clear();
  attrs.Add(u"version", u"1.0");
  if (!encodingName.empty()) attrs.Add(u"encoding", encodingName);
  xml.WriteInstruction(u"xml", attrs, false, true);
  attrs.Clear();
}

bool SameTitleIgnoringCase(const std::u16string& a, const std::u16string& b) {
  return UpperCodePoints(a) == UpperCodePoints(b);
}

std::u16string SanitizeSheetTitle(const std::u16string& title) {
  // First drop what the XML encoder would drop (control characters, lone surrogates, U+FFFE and U+FFFF),
  // so that titles are made unique as they will be written: "A\x01B" and "AB" are one title.
  std::u16string kept;
  kept.reserve(title.size());
  for (std::size_t i = 0; i < title.size(); ++i) {
    const char16_t c = title[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < title.size() && title[i + 1] >= 0xDC00 && title[i + 1] <= 0xDFFF) {
      kept.push_back(c);
      kept.push_back(title[++i]);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    if (c == u'\t' || c == u'\n' || c == u'\r' || IsXmlAllowedChar(c)) kept.push_back(c);
  }
  std::u16string s = TrimTitle(kept);
  for (char16_t& c : s) {
    switch (c) {
      case u':': case u'\\': case u'/': case u'?': case u'*': case u'[': case u']': c = u';'; break;
      default: break;
    }
  }
  return TrimTitle(CutTo(s, kZMaxSheetTitleLength));
}

void MakeTitlesUnique(std::vector<std::u16string>& titles) {
  bool changed = true;
  while (changed) {
    changed = false;
    for (std::size_t i = 0; i + 1 < titles.size() && !changed; ++i) {
      long long counter = 1;
      for (std::size_t k = i + 1; k < titles.size(); ++k) {
        if (SameTitleIgnoringCase(titles[i], titles[k])) {
          titles[k] = Renumber(titles[k], counter++);
          changed = true;
        }
      }
    }
  }
}

bool PreparePageList(const TSHEVRIX& book, const std::vector<int>& sheetIndexes,
                     const std::vector<std::u16string>& titles, TZPageList& pages) {
  pages.SheetIndexes.clear();
  pages.Titles.clear();
  const int count = book.Sheets().Count();
  if (sheetIndexes.empty()) {
    for (int i = 0; i < count; ++i) pages.SheetIndexes.push_back(i);
  } else {
    for (int index : sheetIndexes)
      if (index >= 0 && index < count) pages.SheetIndexes.push_back(index);
  }
  if (pages.SheetIndexes.empty()) return false;
  for (std::size_t i = 0; i < pages.SheetIndexes.size(); ++i) {
    const int index = pages.SheetIndexes[i];
    std::u16string title;
    if (i < titles.size()) title = SanitizeSheetTitle(titles[i]);
    if (title.empty()) title = SanitizeSheetTitle(book.Sheets().Sheet(index)->Title());
    if (title.empty()) title = u"Sheet " + Decimal(index + 1);
    pages.Titles.push_back(std::move(title));
  }
  MakeTitlesUnique(pages.Titles);
  return true;
}

std::u16string ColumnLetters(int column) {
  std::u16string out;
  long long n = column;
  while (n >= 0) {
    out.insert(out.begin(), static_cast<char16_t>(u'A' + n % 26));
    n = n / 26 - 1;
  }
  return out;
}

int NormalizeRotation(int angle) {
  if (angle >= -90 && angle <= 90) return angle;
  long long r = (angle < 0 ? -static_cast<long long>(angle) : angle) % 360;
  if (r > 180) r -= 360;
  long long d = r < 0 ? -r : r;
  if (d > 90) d -= 180;
  bool sameSign = (angle < 0) == (r < 0);
  return static_cast<int>(sameSign ? d : -d);
}

int XlsxTextRotation(int angle) {
  int r = NormalizeRotation(angle);
  return r >= 0 ? r : 90 - r;
}

std::u16string DotDecimalSeparator(const std::u16string& text) {
  std::u16string out = text;
  for (char16_t& c : out)
    if (c == u',') c = u'.';
  return out;
}

std::u16string FormatDecimal(double value, int maxDecimals) {
  if (!std::isfinite(value)) return u"0";
  if (maxDecimals < 0) maxDecimals = 0;
  if (maxDecimals > 20) maxDecimals = 20;
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.*f", maxDecimals, value);
  std::string s(buf);
  if (s.find('.') != std::string::npos) {
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return DotDecimalSeparator(Ascii(s.c_str()));
}

std::vector<std::u16string> SplitAtChar(const std::u16string& text, char16_t separator) {
  std::vector<std::u16string> out;
  std::size_t start = 0;
  while (true) {
    std::size_t p = text.find(separator, start);
    if (p == std::u16string::npos) {
      out.push_back(text.substr(start));
      break;
    }
    out.push_back(text.substr(start, p - start));
    start = p + 1;
  }
  return out;
}

namespace {

bool IsValueBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::u16string TrimValue(const std::u16string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsValueBlank(s[b])) ++b;
  while (e > b && IsValueBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool IsFiniteNumberText(const std::u16string& s) {
  std::string ascii;
  std::size_t digits = 0;
  std::size_t i = 0;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) ascii.push_back(static_cast<char>(s[i++]));
  while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') ascii.push_back(static_cast<char>(s[i++])), ++digits;
  if (i < s.size() && s[i] == u'.') {
    ascii.push_back(static_cast<char>(s[i++]));
    while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') ascii.push_back(static_cast<char>(s[i++])), ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
    ascii.push_back(static_cast<char>(s[i++]));
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) ascii.push_back(static_cast<char>(s[i++]));
    std::size_t expDigits = 0;
    while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') ascii.push_back(static_cast<char>(s[i++])), ++expDigits;
    if (expDigits == 0) return false;
  }
  if (i != s.size()) return false;
  return std::isfinite(std::strtod(ascii.c_str(), nullptr));
}

}  // namespace

namespace {

// The error values a spreadsheet holds; any other text in an error cell is written as text.
bool IsErrorValueText(const std::u16string& text) {
  static const char16_t* const kErrors[] = {u"#NULL!", u"#DIV/0!", u"#VALUE!", u"#REF!",
                                            u"#NAME?", u"#NUM!",   u"#N/A",    u"#GETTING_DATA"};
  for (const char16_t* e : kErrors)
    if (text == e) return true;
  return false;
}

bool AsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
bool AsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
// A character that continues a name (function, defined name, sheet name without quotes).
bool NameChar(char16_t c) { return AsciiLetter(c) || AsciiDigit(c) || c == u'_' || c == u'.' || c >= 0x80; }

// One part of an R1C1 reference: absolute "R5", relative "R[-2]", or the cell's own "R".
std::u16string R1C1Part(char16_t letter, bool absolute, long long index, long long own) {
  std::u16string out(1, letter);
  if (absolute) return out + Decimal(index);
  if (index != own) out += u"[" + Decimal(index - own) + u"]";
  return out;
}

}  // namespace

std::u16string FormulaA1ToR1C1(const std::u16string& formula, int column, int row) {
  std::u16string out;
  out.reserve(formula.size() + 8);
  const std::size_t n = formula.size();
  std::size_t i = 0;
  while (i < n) {
    const char16_t c = formula[i];
    // Texts and quoted sheet names are copied as they stand (a doubled quote stays inside).
    if (c == u'"' || c == u'\'') {
      std::size_t j = i + 1;
      while (j < n) {
        if (formula[j] == c) {
          if (j + 1 < n && formula[j + 1] == c) {
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        ++j;
      }
      out.append(formula, i, j - i);
      i = j;
      continue;
    }
    const bool startsName = (c == u'$' || AsciiLetter(c)) && (i == 0 || !(NameChar(formula[i - 1]) || formula[i - 1] == u'$'));
    if (!startsName) {
      out.push_back(c);
      ++i;
      continue;
    }
    // A reference: [$]letters(1..3)[$]digits, not followed by a name character or "(" (a function).
    std::size_t j = i;
    const bool colAbs = formula[j] == u'$';
    if (colAbs) ++j;
    const std::size_t letters = j;
    while (j < n && AsciiLetter(formula[j]) && j - letters < 4) ++j;
    const std::size_t letterCount = j - letters;
    bool rowAbs = false;
    if (j < n && formula[j] == u'$') {
      rowAbs = true;
      ++j;
    }
    const std::size_t digits = j;
    while (j < n && AsciiDigit(formula[j]) && j - digits < 8) ++j;
    const std::size_t digitCount = j - digits;
    if (letterCount >= 1 && letterCount <= 3 && digitCount >= 1 && (j >= n || !(NameChar(formula[j]) || formula[j] == u'('))) {
      long long col = 0;
      for (std::size_t k = letters; k < letters + letterCount; ++k)
        col = col * 26 + ((formula[k] | 0x20) - u'a' + 1);
      long long r = 0;
      for (std::size_t k = digits; k < digits + digitCount; ++k) r = r * 10 + (formula[k] - u'0');
      if (col <= 16384 && r >= 1 && r <= 1048576) {
        out += R1C1Part(u'R', rowAbs, r, static_cast<long long>(row) + 1);
        out += R1C1Part(u'C', colAbs, col, static_cast<long long>(column) + 1);
        i = j;
        continue;
      }
    }
    // Not a reference: the whole name is copied.
    std::size_t k = i + (colAbs ? 1 : 0);
    while (k < n && (NameChar(formula[k]) || formula[k] == u'$')) ++k;
    out.append(formula, i, k - i);
    i = k;
  }
  return out;
}

TZCellType WrittenCellType(const TZCell& cell, std::u16string& value) {
  const TZCellType type = cell.CellType();
  if (type == ZEError && !IsErrorValueText(cell.Data())) {
    value = cell.Data();
    return ZEString;
  }
  if ((type == ZENumber || type == ZEBoolean) && !cell.Data().empty()) {
    std::u16string trimmed = TrimValue(cell.Data());
    const bool valid = type == ZENumber ? IsFiniteNumberText(trimmed) : (trimmed == u"0" || trimmed == u"1");
    if (valid) {
      value = std::move(trimmed);
      return type;
    }
    value = cell.Data();
    return ZEString;
  }
  value = cell.Data();
  return type;
}
