// The engine's run-time layer: formatter, settings, conversions, date encoding, checks, GUIDs,
// temporary files.
#include "engine/foundation/NRDRuntime.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <random>
#include <unistd.h>

#include "engine/foundation/NRDText.h"
#include "platform/CodePage.h"

namespace nrd {

namespace {

// UTF-8 source literal -> ANSI bytes (Windows-1251), for the built-in Russian names.
std::string Ansi(std::string_view utf8) {
  std::u16string wide;
  for (std::size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    char32_t cp;
    int n;
    if (c < 0x80) { cp = c; n = 1; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; n = 2; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; n = 3; }
    else { cp = c & 0x07; n = 4; }
    for (int k = 1; k < n && i + k < utf8.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += n;
    wide.push_back(cp < 0x10000 ? static_cast<char16_t>(cp) : u'?');
  }
  return platform::Utf16ToCp1251(wide);
}

[[noreturn]] void FormatError(std::string_view format) {
  throw EConvertError("Format '" + std::string(format) + "' invalid or incompatible with argument");
}

std::string Pad(std::string text, int width, bool leftJustify) {
  if (width > 0 && static_cast<int>(text.size()) < width) {
    std::string fill(static_cast<std::size_t>(width) - text.size(), ' ');
    text = leftJustify ? text + fill : fill + text;
  }
  return text;
}

// Decimal digits of a float, rounded to `digits` significant digits: returns the digit string
// (no leading zeros unless the value is 0) and the exponent of the first digit (d.ddd x 10^exp).
void SignificantDigits(long double value, int digits, std::string& out, int& exponent) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%.*Le", std::max(digits, 1) - 1, std::fabs(value));
  out.clear();
  const char* p = buf;
  for (; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') out.push_back(*p);
  exponent = (*p == 'e') ? std::atoi(p + 1) : 0;
  if (std::fabs(value) == 0.0L) exponent = 0;
}

// Fixed notation with `decimals` decimals; '.' replaced by the separator; optional thousands.
std::string FixedText(long double value, int decimals, char decimalSep, char thousandSep, bool thousands) {
  char buf[5000];
  std::snprintf(buf, sizeof buf, "%.*Lf", std::clamp(decimals, 0, 18), value);
  std::string s = buf;
  bool negative = !s.empty() && s[0] == '-';
  if (negative) s.erase(0, 1);
  // "-0.00" is written without its sign.
  if (negative && s.find_first_not_of("0.") == std::string::npos) negative = false;
  std::size_t dot = s.find('.');
  std::string intPart = s.substr(0, dot);
  std::string frac = dot == std::string::npos ? "" : s.substr(dot + 1);
  if (thousands && thousandSep != '\0') {
    std::string grouped;
    int count = 0;
    for (auto it = intPart.rbegin(); it != intPart.rend(); ++it) {
      if (count > 0 && count % 3 == 0) grouped.insert(grouped.begin(), thousandSep);
      grouped.insert(grouped.begin(), *it);
      ++count;
    }
    intPart = grouped;
  }
  std::string r = (negative ? "-" : "") + intPart;
  if (!frac.empty()) r += decimalSep + frac;
  return r;
}

std::string NonFiniteText(long double value) {
  if (std::isnan(value)) return "NAN";
  return value < 0 ? "-INF" : "INF";
}

std::string ExponentText(long double value, int precision, char decimalSep, int minExpDigits, bool plusSign) {
  if (!std::isfinite(value)) return NonFiniteText(value);
  std::string digits;
  int exp;
  precision = std::clamp(precision, 1, 18);
  SignificantDigits(value, precision, digits, exp);
  std::string r = std::signbit(value) && value != 0 ? "-" : "";
  r += digits[0];
  if (digits.size() > 1) { r += decimalSep; r += digits.substr(1); }
  r += 'E';
  r += exp < 0 ? "-" : (plusSign ? "+" : "");
  std::string e = std::to_string(std::abs(exp));
  if (static_cast<int>(e.size()) < minExpDigits) e.insert(0, minExpDigits - e.size(), '0');
  return r + e;
}

std::string CurrencyText(long double value, int decimals, const TFormatSettings& fs) {
  std::string num = FixedText(std::fabs(value), decimals, fs.DecimalSeparator, fs.ThousandSeparator, true);
  const std::string& c = fs.CurrencyString;
  bool negative = value < 0 && num.find_first_not_of(std::string("0") + fs.DecimalSeparator + fs.ThousandSeparator) != std::string::npos;
  if (!negative) {
    switch (fs.CurrencyFormat) {
      case 0: return c + num;
      case 1: return num + c;
      case 2: return c + " " + num;
      default: return num + " " + c;
    }
  }
  switch (fs.NegCurrFormat) {
    case 0: return "(" + c + num + ")";
    case 1: return "-" + c + num;
    case 2: return c + "-" + num;
    case 3: return c + num + "-";
    case 4: return "(" + num + c + ")";
    case 5: return "-" + num + c;
    case 6: return num + "-" + c;
    case 7: return num + c + "-";
    case 9: return "-" + c + " " + num;
    case 10: return num + " " + c + "-";
    case 11: return c + " " + num + "-";
    case 12: return c + " -" + num;
    case 13: return num + "- " + c;
    case 14: return "(" + c + " " + num + ")";
    case 15: return "(" + num + " " + c + ")";
    default: return "-" + num + " " + c;
  }
}

std::string WideToAnsiText(std::u16string_view w) { return WideToAnsi(w); }

}  // namespace

// ---------------------------------------------------------------------------------------------
TFormatSettings TFormatSettings::Russian() {
  TFormatSettings fs;
  fs.CurrencyString = Ansi("р.");
  fs.CurrencyFormat = 3;
  fs.NegCurrFormat = 8;
  fs.ThousandSeparator = '\xA0';
  fs.DecimalSeparator = ',';
  fs.CurrencyDecimals = 2;
  fs.DateSeparator = '.';
  fs.TimeSeparator = ':';
  fs.ShortDateFormat = "dd.MM.yyyy";
  fs.LongDateFormat = Ansi("d MMMM yyyy 'г.'");
  fs.ShortTimeFormat = "H:mm";
  fs.LongTimeFormat = "H:mm:ss";
  static const char* shortMonths[12] = {"янв", "фев", "мар", "апр", "май", "июн",
                                        "июл", "авг", "сен", "окт", "ноя", "дек"};
  static const char* longMonths[12] = {"Январь", "Февраль", "Март", "Апрель", "Май", "Июнь",
                                       "Июль", "Август", "Сентябрь", "Октябрь", "Ноябрь", "Декабрь"};
  static const char* shortDays[7] = {"Вс", "Пн", "Вт", "Ср", "Чт", "Пт", "Сб"};
  static const char* longDays[7] = {"воскресенье", "понедельник", "вторник", "среда",
                                    "четверг", "пятница", "суббота"};
  for (int i = 0; i < 12; ++i) {
    fs.ShortMonthNames[i] = Ansi(shortMonths[i]);
    fs.LongMonthNames[i] = Ansi(longMonths[i]);
  }
  for (int i = 0; i < 7; ++i) {
    fs.ShortDayNames[i] = Ansi(shortDays[i]);
    fs.LongDayNames[i] = Ansi(longDays[i]);
  }
  fs.TwoDigitYearCenturyWindow = 50;
  return fs;
}

TFormatSettings TFormatSettings::Invariant() {
  TFormatSettings fs;
  fs.CurrencyString = "\xA4";
  fs.CurrencyFormat = 0;
  fs.NegCurrFormat = 0;
  fs.ThousandSeparator = ',';
  fs.DecimalSeparator = '.';
  fs.CurrencyDecimals = 2;
  fs.DateSeparator = '-';
  fs.TimeSeparator = ':';
  fs.ShortDateFormat = "yyyy-mm-dd";
  fs.LongDateFormat = "dddd, dd MMMMM yyyy HH:mm:ss";
  fs.TimeAMString = "AM";
  fs.TimePMString = "PM";
  fs.ShortTimeFormat = "hh:nn";
  fs.LongTimeFormat = "hh:nn:ss";
  static const char* shortMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  static const char* longMonths[12] = {"January", "February", "March", "April", "May", "June",
                                       "July", "August", "September", "October", "November", "December"};
  static const char* shortDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* longDays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
  for (int i = 0; i < 12; ++i) {
    fs.ShortMonthNames[i] = shortMonths[i];
    fs.LongMonthNames[i] = longMonths[i];
  }
  for (int i = 0; i < 7; ++i) {
    fs.ShortDayNames[i] = shortDays[i];
    fs.LongDayNames[i] = longDays[i];
  }
  fs.TwoDigitYearCenturyWindow = 50;
  return fs;
}

TFormatSettings& FormatSettings() {
  static TFormatSettings settings = TFormatSettings::Russian();
  return settings;
}

// ---------------------------------------------------------------------------------------------
std::string Format(std::string_view format, TVarRecs args) { return Format(format, args, FormatSettings()); }

std::string Format(std::string_view format, TVarRecs args, const TFormatSettings& fs) {
  return Format(format, std::span<const TVarRec>(args.begin(), args.size()), fs);
}

std::string Format(std::string_view format, std::span<const TVarRec> args, const TFormatSettings& fs) {
  std::string out;
  const TVarRec* argv = args.data();
  const std::size_t argc = args.size();
  std::size_t argIndex = 0;
  auto nextArg = [&]() -> const TVarRec& {
    if (argIndex >= argc) FormatError(format);
    return argv[argIndex++];
  };
  auto readNumber = [&](std::size_t& i, int& value) -> bool {
    if (i < format.size() && format[i] == '*') {
      const TVarRec& a = nextArg();
      if (a.kind() != TVarRec::Kind::Integer) FormatError(format);
      value = static_cast<int>(a.AsInt());
      ++i;
      return true;
    }
    bool any = false;
    long v = 0;
    while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
      v = v * 10 + (format[i] - '0');
      if (v > 100000) FormatError(format);
      ++i;
      any = true;
    }
    value = static_cast<int>(v);
    return any;
  };

  for (std::size_t i = 0; i < format.size();) {
    char c = format[i];
    if (c != '%') {
      out.push_back(c);
      ++i;
      continue;
    }
    ++i;
    if (i >= format.size()) FormatError(format);
    if (format[i] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    // [index:] (digits only, so that a "*" width is not taken for an index)
    int number = 0;
    std::size_t save = i;
    if (format[i] != '*' && readNumber(i, number) && i < format.size() && format[i] == ':') {
      if (static_cast<std::size_t>(number) > argc) FormatError(format);
      argIndex = static_cast<std::size_t>(number);
      ++i;
    } else {
      i = save;
    }
    number = 0;
    bool left = false;
    if (i < format.size() && format[i] == '-') {
      left = true;
      ++i;
    }
    int width = -1;
    if (readNumber(i, number)) width = number;
    if (width < 0 && number < 0) {  // a negative "*" width justifies left
      left = true;
      width = -number;
    }
    int prec = -1;
    if (i < format.size() && format[i] == '.') {
      ++i;
      if (!readNumber(i, prec)) prec = 0;
    }
    if (i >= format.size()) FormatError(format);
    char type = static_cast<char>(format[i] | 0x20);  // lower case
    ++i;
    const TVarRec& a = nextArg();
    using K = TVarRec::Kind;
    std::string text;
    switch (type) {
      case 'd':
      case 'u':
      case 'x': {
        bool negative = false;
        std::uint64_t magnitude;
        if (a.kind() == K::Integer) {
          std::int64_t v = a.AsInt();
          if (type == 'd') {
            negative = v < 0;
            magnitude = negative ? static_cast<std::uint64_t>(0) - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
          } else {
            magnitude = static_cast<std::uint32_t>(v);
          }
        } else if (a.kind() == K::Int64) {
          std::int64_t v = a.AsInt();
          if (type == 'd') {
            negative = v < 0;
            magnitude = negative ? static_cast<std::uint64_t>(0) - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
          } else {
            magnitude = static_cast<std::uint64_t>(v);
          }
        } else if (a.kind() == K::UInt64) {
          magnitude = a.AsUInt();
        } else {
          FormatError(format);
        }
        char buf[32];
        if (type == 'x')
          std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(magnitude));
        else
          std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(magnitude));
        text = buf;
        if (prec > 0 && static_cast<int>(text.size()) < prec) text.insert(0, static_cast<std::size_t>(prec) - text.size(), '0');
        if (negative) text.insert(0, 1, '-');
        break;
      }
      case 'e':
      case 'f':
      case 'g':
      case 'n':
      case 'm': {
        if (a.kind() != K::Float) FormatError(format);
        long double v = a.AsFloat();
        if (!std::isfinite(v)) {
          text = NonFiniteText(v);
        } else if (type == 'e') {
          text = ExponentText(v, prec < 0 ? 15 : prec, fs.DecimalSeparator, 3, true);
        } else if (type == 'g') {
          text = FloatToStrGeneral(v, prec < 0 ? 15 : std::clamp(prec, 1, 18), 3, fs);
        } else if (type == 'm') {
          text = CurrencyText(v, prec < 0 ? fs.CurrencyDecimals : std::min(prec, 18), fs);
        } else {
          text = FixedText(v, prec < 0 ? 2 : std::min(prec, 18), fs.DecimalSeparator, fs.ThousandSeparator, type == 'n');
        }
        break;
      }
      case 's': {
        if (a.kind() == K::String) text = std::string(a.AsString());
        else if (a.kind() == K::WideString) text = WideToAnsiText(a.AsWide());
        else if (a.kind() == K::Char) text = std::string(1, static_cast<char>(a.AsInt()));
        else FormatError(format);
        if (prec >= 0 && static_cast<std::size_t>(prec) < text.size()) text.resize(static_cast<std::size_t>(prec));
        break;
      }
      case 'p': {
        if (a.kind() != K::Pointer) FormatError(format);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%016llX", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(a.AsPointer())));
        text = buf;
        break;
      }
      default:
        FormatError(format);
    }
    out += Pad(std::move(text), width, left);
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
std::string IntToStr(std::int64_t value) { return std::to_string(value); }
std::string UIntToStr(std::uint64_t value) { return std::to_string(value); }

std::string IntToHex(std::uint64_t value, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*llX", std::clamp(digits, 0, 16), static_cast<unsigned long long>(value));
  return buf;
}

namespace {

// Parses the integer syntax; `magnitude` gets the absolute value (saturating flag on overflow).
bool ParseInteger(std::string_view text, bool& negative, std::uint64_t& magnitude) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < text.size() && text[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  } else if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  }
  if (i >= text.size()) return false;
  magnitude = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    unsigned d;
    if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
    else if (hex && c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
    else if (hex && c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
    else return false;
    unsigned base = hex ? 16 : 10;
    if (magnitude > (std::numeric_limits<std::uint64_t>::max() - d) / base) return false;
    magnitude = magnitude * base + d;
  }
  return true;
}

}  // namespace

bool TryStrToInt64(std::string_view text, std::int64_t& value) {
  bool negative;
  std::uint64_t m;
  if (!ParseInteger(text, negative, m)) return false;
  if (negative) {
    if (m > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1) return false;
    value = static_cast<std::int64_t>(static_cast<std::uint64_t>(0) - m);
  } else {
    if (m > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      // Hexadecimal texts may give the full 64-bit pattern.
      std::string_view t = text;
      while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
      if (!t.empty() && t.front() == '+') t.remove_prefix(1);
      bool hex = !t.empty() && (t.front() == '$' || t.front() == 'x' || t.front() == 'X' ||
                                (t.size() > 1 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')));
      if (!hex) return false;
      value = static_cast<std::int64_t>(m);
      return true;
    }
    value = static_cast<std::int64_t>(m);
  }
  return true;
}

bool TryStrToInt(std::string_view text, std::int32_t& value) {
  std::int64_t v;
  if (!TryStrToInt64(text, v)) return false;
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

bool TryStrToUInt64(std::string_view text, std::uint64_t& value) {
  bool negative;
  std::uint64_t m;
  if (!ParseInteger(text, negative, m) || (negative && m != 0)) return false;
  value = m;
  return true;
}

std::int64_t StrToInt64(std::string_view text) {
  std::int64_t v;
  if (!TryStrToInt64(text, v)) throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return v;
}

std::int32_t StrToInt(std::string_view text) {
  std::int32_t v;
  if (!TryStrToInt(text, v)) throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return v;
}

std::string FloatToStrGeneral(long double value, int precision, int expDigits, const TFormatSettings& fs) {
  if (!std::isfinite(value)) return NonFiniteText(value);
  if (value == 0) return "0";
  precision = std::clamp(precision, 1, 18);
  std::string digits;
  int exp;
  SignificantDigits(value, precision, digits, exp);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string r = value < 0 ? "-" : "";
  if (exp >= -4 && exp < precision) {
    if (exp < 0) {
      r += "0";
      r += fs.DecimalSeparator;
      r.append(static_cast<std::size_t>(-exp - 1), '0');
      r += digits;
    } else {
      std::size_t intDigits = static_cast<std::size_t>(exp) + 1;
      if (digits.size() <= intDigits) {
        r += digits;
        r.append(intDigits - digits.size(), '0');
      } else {
        r += digits.substr(0, intDigits);
        r += fs.DecimalSeparator;
        r += digits.substr(intDigits);
      }
    }
    return r;
  }
  r += digits[0];
  if (digits.size() > 1) {
    r += fs.DecimalSeparator;
    r += digits.substr(1);
  }
  r += 'E';
  if (exp < 0) r += '-';
  std::string e = std::to_string(std::abs(exp));
  if (static_cast<int>(e.size()) < expDigits) e.insert(0, static_cast<std::size_t>(expDigits) - e.size(), '0');
  return r + e;
}

std::string FloatToStr(long double value) { return FloatToStr(value, FormatSettings()); }
std::string FloatToStr(long double value, const TFormatSettings& fs) { return FloatToStrGeneral(value, 15, 0, fs); }

bool TryStrToFloat(std::string_view text, long double& value) { return TryStrToFloat(text, value, FormatSettings()); }

bool TryStrToFloat(std::string_view text, long double& value, const TFormatSettings& fs) {
  std::size_t i = 0, n = text.size();
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  while (n > i && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
  std::string clean;
  if (i < n && (text[i] == '+' || text[i] == '-')) clean.push_back(text[i++]);
  bool digits = false, point = false;
  for (; i < n; ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      clean.push_back(c);
      digits = true;
    } else if ((c == fs.DecimalSeparator || c == '.') && !point) {
      clean.push_back('.');
      point = true;
    } else {
      break;
    }
  }
  if (!digits) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    clean.push_back('e');
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) clean.push_back(text[i++]);
    bool expDigits = false;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
      clean.push_back(text[i]);
      expDigits = true;
    }
    if (!expDigits) return false;
  }
  if (i != n) return false;
  errno = 0;
  char* end = nullptr;
  long double v = std::strtold(clean.c_str(), &end);
  if (end != clean.c_str() + clean.size()) return false;
  if (!std::isfinite(v)) return false;
  value = v;
  return true;
}

long double StrToFloat(std::string_view text) { return StrToFloat(text, FormatSettings()); }
long double StrToFloat(std::string_view text, const TFormatSettings& fs) {
  long double v;
  if (!TryStrToFloat(text, v, fs)) throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  return v;
}

std::string CurrToStr(double value) {
  long double rounded = std::nearbyint(static_cast<long double>(value) * 10000.0L) / 10000.0L;
  return FloatToStrGeneral(rounded, 19, 0, FormatSettings());
}

bool TryStrToCurr(std::string_view text, double& value) {
  long double v;
  if (!TryStrToFloat(text, v)) return false;
  long double r = std::nearbyint(v * 10000.0L) / 10000.0L;
  if (std::fabs(r) > 922337203685477.5807L) return false;
  value = static_cast<double>(r);
  return true;
}

double StrToCurr(std::string_view text) {
  double v;
  if (!TryStrToCurr(text, v)) throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  return v;
}

// ---------------------------------------------------------------------------------------------
bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return days[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& date) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  int dayOfYear = day;
  for (int m = 1; m < month; ++m) dayOfYear += DaysInMonth(year, m);
  int y = year - 1;
  date = static_cast<double>(y * 365 + y / 4 - y / 100 + y / 400 + dayOfYear - kDateDelta);
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime d;
  if (!TryEncodeDate(year, month, day, d)) throw EConvertError("Invalid argument to date encode");
  return d;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& time) {
  if (hour < 0 || hour >= 24 || min < 0 || min >= 60 || sec < 0 || sec >= 60 || msec < 0 || msec >= 1000) return false;
  time = (hour * 3600000.0 + min * 60000.0 + sec * 1000.0 + msec) / kMSecsPerDay;
  return true;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  TDateTime t;
  if (!TryEncodeTime(hour, min, sec, msec, t)) throw EConvertError("Invalid argument to time encode");
  return t;
}

TTimeStamp DateTimeToTimeStamp(TDateTime value) {
  if (!std::isfinite(value) || value < kMinDateTime - 1 || value > kMaxDateTime + 1)
    throw ERangeError("Invalid date-time value");
  double whole = std::trunc(value);
  double ms = std::nearbyint(std::fabs(value - whole) * kMSecsPerDay);
  std::int64_t day = static_cast<std::int64_t>(whole);
  if (ms >= kMSecsPerDay) {
    ms -= kMSecsPerDay;
    day += 1;
  }
  TTimeStamp r;
  r.Date = static_cast<std::int32_t>(day + kDateDelta);
  r.Time = static_cast<std::int32_t>(ms);
  if (r.Date < 1 || r.Date > 3652059) throw ERangeError("Invalid date-time value");
  return r;
}

TDateTime TimeStampToDateTime(const TTimeStamp& stamp) {
  double day = static_cast<double>(stamp.Date) - kDateDelta;
  double frac = stamp.Time / kMSecsPerDay;
  return day < 0 ? day - frac : day + frac;
}

bool TryDecodeDate(TDateTime date, int& year, int& month, int& day) {
  if (!std::isfinite(date) || date < kMinDateTime - 1 || date > kMaxDateTime + 1) return false;
  std::int64_t t = static_cast<std::int64_t>(std::trunc(date)) + kDateDelta;
  if (t < 1 || t > 3652059) return false;
  std::int64_t d = t - 1;
  int y = 1;
  const int d400 = 146097, d100 = 36524, d4 = 1461;
  y += static_cast<int>(d / d400) * 400;
  d %= d400;
  std::int64_t i = d / d100;
  if (i == 4) i = 3;  // the last day of a 400-year period
  y += static_cast<int>(i) * 100;
  d -= i * d100;
  y += static_cast<int>(d / d4) * 4;
  d %= d4;
  i = d / 365;
  if (i == 4) i = 3;
  y += static_cast<int>(i);
  d -= i * 365;
  int m = 1;
  while (d >= DaysInMonth(y, m)) {
    d -= DaysInMonth(y, m);
    ++m;
  }
  year = y;
  month = m;
  day = static_cast<int>(d) + 1;
  return true;
}

void DecodeDate(TDateTime date, int& year, int& month, int& day) {
  if (!TryDecodeDate(date, year, month, day)) throw ERangeError("Invalid date-time value");
}

void DecodeTime(TDateTime time, int& hour, int& min, int& sec, int& msec) {
  double ms = std::isfinite(time) ? std::nearbyint(std::fabs(time - std::trunc(time)) * kMSecsPerDay) : 0;
  if (ms >= kMSecsPerDay) ms = 0;
  long v = static_cast<long>(ms);
  hour = static_cast<int>(v / 3600000);
  min = static_cast<int>(v / 60000 % 60);
  sec = static_cast<int>(v / 1000 % 60);
  msec = static_cast<int>(v % 1000);
}

int DayOfWeek(TDateTime date) {
  TTimeStamp ts = DateTimeToTimeStamp(date);
  return ts.Date % 7 + 1;  // day 1 (0001-01-01) was a Monday
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time) {
  double frac = std::fabs(time - std::trunc(time));
  double d = std::trunc(date);
  return d < 0 ? d - frac : d + frac;
}

double DatePart(TDateTime value) { return std::trunc(value); }
double TimePart(TDateTime value) { return std::fabs(value - std::trunc(value)); }

TDateTime Now() {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  auto now = std::chrono::system_clock::now();
  int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  TDateTime d = EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  TDateTime tm = EncodeTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59), ms);
  return ComposeDateTime(d, tm);
}

// ---------------------------------------------------------------------------------------------
namespace {

void AppendNumber(std::string& out, int value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", digits, value);
  out += buf;
}

bool StartsWithNoCase(std::string_view text, std::size_t at, std::string_view word) {
  if (text.size() - at < word.size()) return false;
  for (std::size_t k = 0; k < word.size(); ++k)
    if ((text[at + k] | 0x20) != (word[k] | 0x20)) return false;
  return true;
}

void FormatDateTimeInto(std::string& out, std::string_view f, TDateTime value, const TFormatSettings& fs, int depth) {
  int year = 0, month = 0, day = 0, hour = 0, min = 0, sec = 0, msec = 0;
  bool haveDate = TryDecodeDate(value, year, month, day);
  DecodeTime(value, hour, min, sec, msec);
  bool lastWasHour = false;
  // Does an AM/PM marker follow? Then hours are 12-hour.
  bool twelve = false;
  for (std::size_t k = 0; k < f.size(); ++k)
    if (StartsWithNoCase(f, k, "am/pm") || StartsWithNoCase(f, k, "a/p") || StartsWithNoCase(f, k, "ampm")) twelve = true;
  std::size_t i = 0;
  while (i < f.size()) {
    char c = f[i];
    char lc = static_cast<char>(c | 0x20);
    std::size_t run = 1;
    while (i + run < f.size() && (f[i + run] | 0x20) == lc && std::isalpha(static_cast<unsigned char>(c))) ++run;
    if (c == '\'' || c == '"') {
      std::size_t end = f.find(c, i + 1);
      if (end == std::string_view::npos) end = f.size();
      out.append(f.substr(i + 1, end - i - 1));
      i = end < f.size() ? end + 1 : end;
      continue;
    }
    if (c == '/') { out += fs.DateSeparator; ++i; continue; }
    if (c == ':') { out += fs.TimeSeparator; ++i; continue; }
    switch (lc) {
      case 'y':
        if (haveDate) {
          if (run <= 2) AppendNumber(out, year % 100, 2);
          else AppendNumber(out, year, 4);
        }
        i += run;
        lastWasHour = false;
        continue;
      case 'm':
        if (lastWasHour && run <= 2) {
          AppendNumber(out, min, static_cast<int>(run));
        } else if (haveDate) {
          if (run <= 2) AppendNumber(out, month, static_cast<int>(run));
          else if (run == 3) out += fs.ShortMonthNames[month - 1];
          else out += fs.LongMonthNames[month - 1];
        }
        i += run;
        lastWasHour = false;
        continue;
      case 'd':
        if (haveDate) {
          if (run <= 2) AppendNumber(out, day, static_cast<int>(run));
          else if (run == 3) out += fs.ShortDayNames[DayOfWeek(value) - 1];
          else if (run == 4) out += fs.LongDayNames[DayOfWeek(value) - 1];
          else if (depth < 2) FormatDateTimeInto(out, run == 5 ? fs.ShortDateFormat : fs.LongDateFormat, value, fs, depth + 1);
        }
        i += run;
        lastWasHour = false;
        continue;
      case 'h': {
        int h = hour;
        if (twelve) {
          h %= 12;
          if (h == 0) h = 12;
        }
        AppendNumber(out, h, run >= 2 ? 2 : 1);
        i += run;
        lastWasHour = true;
        continue;
      }
      case 'n':
        AppendNumber(out, min, run >= 2 ? 2 : 1);
        i += run;
        lastWasHour = false;
        continue;
      case 's':
        AppendNumber(out, sec, run >= 2 ? 2 : 1);
        i += run;
        lastWasHour = false;
        continue;
      case 'z':
        AppendNumber(out, msec, run >= 3 ? 3 : 1);
        i += run;
        continue;
      case 't':
        if (depth < 2) FormatDateTimeInto(out, run >= 2 ? fs.LongTimeFormat : fs.ShortTimeFormat, value, fs, depth + 1);
        i += run;
        continue;
      case 'c':
        if (depth < 2) {
          FormatDateTimeInto(out, fs.ShortDateFormat, value, fs, depth + 1);
          if (TimePart(value) != 0) {
            out += ' ';
            FormatDateTimeInto(out, fs.LongTimeFormat, value, fs, depth + 1);
          }
        }
        i += run;
        continue;
      case 'a':
        if (StartsWithNoCase(f, i, "am/pm")) {
          out += hour < 12 ? "am" : "pm";
          i += 5;
          continue;
        }
        if (StartsWithNoCase(f, i, "ampm")) {
          out += hour < 12 ? fs.TimeAMString : fs.TimePMString;
          i += 4;
          continue;
        }
        if (StartsWithNoCase(f, i, "a/p")) {
          out += hour < 12 ? 'a' : 'p';
          i += 3;
          continue;
        }
        out += c;
        ++i;
        continue;
      default:
        out += c;
        ++i;
        lastWasHour = false;
        continue;
    }
  }
}

}  // namespace

std::string FormatDateTime(std::string_view format, TDateTime value) { return FormatDateTime(format, value, FormatSettings()); }
std::string FormatDateTime(std::string_view format, TDateTime value, const TFormatSettings& fs) {
  std::string out;
  FormatDateTimeInto(out, format.empty() ? std::string_view("c") : format, value, fs, 0);
  return out;
}
std::string DateToStr(TDateTime value) { return DateToStr(value, FormatSettings()); }
std::string TimeToStr(TDateTime value) { return TimeToStr(value, FormatSettings()); }
std::string DateTimeToStr(TDateTime value) { return DateTimeToStr(value, FormatSettings()); }
std::string DateToStr(TDateTime value, const TFormatSettings& fs) { return FormatDateTime("ddddd", value, fs); }
std::string TimeToStr(TDateTime value, const TFormatSettings& fs) { return FormatDateTime("tt", value, fs); }
std::string DateTimeToStr(TDateTime value, const TFormatSettings& fs) { return FormatDateTime("c", value, fs); }

namespace {

void SkipBlanks(std::string_view t, std::size_t& i) {
  while (i < t.size() && t[i] == ' ') ++i;
}

bool ScanNumber(std::string_view t, std::size_t& i, int& value, int& digits) {
  SkipBlanks(t, i);
  digits = 0;
  long v = 0;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9' && digits < 9) {
    v = v * 10 + (t[i] - '0');
    ++i;
    ++digits;
  }
  value = static_cast<int>(v);
  return digits > 0;
}

bool ScanChar(std::string_view t, std::size_t& i, char c) {
  SkipBlanks(t, i);
  if (i < t.size() && t[i] == c) {
    ++i;
    return true;
  }
  return false;
}

// 0 = day-month-year, 1 = month-day-year, 2 = year-month-day.
int DateOrder(std::string_view fmt) {
  for (char c : fmt) {
    char lc = static_cast<char>(c | 0x20);
    if (lc == 'd') return 0;
    if (lc == 'm') return 1;
    if (lc == 'y') return 2;
  }
  return 0;
}

bool ScanDate(std::string_view t, std::size_t& i, TDateTime& value, const TFormatSettings& fs) {
  int n1, n2, n3 = 0, d1, d2, d3 = 0;
  if (!ScanNumber(t, i, n1, d1) || !ScanChar(t, i, fs.DateSeparator) || !ScanNumber(t, i, n2, d2)) return false;
  bool three = false;
  std::size_t save = i;
  if (ScanChar(t, i, fs.DateSeparator)) {
    if (!ScanNumber(t, i, n3, d3)) return false;
    three = true;
  } else {
    i = save;
  }
  int year, month, day, yearDigits;
  int order = DateOrder(fs.ShortDateFormat);
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  int currentYear = local.tm_year + 1900;
  if (!three) {
    year = currentYear;
    yearDigits = 4;
    if (order == 1) { month = n1; day = n2; }
    else if (order == 2) { month = n1; day = n2; }
    else { day = n1; month = n2; }
  } else if (order == 0) { day = n1; month = n2; year = n3; yearDigits = d3; }
  else if (order == 1) { month = n1; day = n2; year = n3; yearDigits = d3; }
  else { year = n1; month = n2; day = n3; yearDigits = d1; }
  if (yearDigits <= 2) {
    int century = currentYear - fs.TwoDigitYearCenturyWindow;
    year += (century / 100) * 100;
    if (fs.TwoDigitYearCenturyWindow > 0 && year < century) year += 100;
  }
  // A trailing separator after the year is tolerated.
  save = i;
  if (!ScanChar(t, i, fs.DateSeparator)) i = save;
  return TryEncodeDate(year, month, day, value);
}

bool ScanTime(std::string_view t, std::size_t& i, TDateTime& value, const TFormatSettings& fs) {
  int hour, min = 0, sec = 0, msec = 0, digits;
  if (!ScanNumber(t, i, hour, digits)) return false;
  if (!ScanChar(t, i, fs.TimeSeparator) || !ScanNumber(t, i, min, digits)) return false;
  std::size_t save = i;
  if (ScanChar(t, i, fs.TimeSeparator)) {
    if (!ScanNumber(t, i, sec, digits)) return false;
    save = i;
    if (ScanChar(t, i, '.') || ScanChar(t, i, fs.DecimalSeparator)) {
      int msDigits;
      if (!ScanNumber(t, i, msec, msDigits)) return false;
      while (msDigits > 3) { msec /= 10; --msDigits; }
      while (msDigits < 3) { msec *= 10; ++msDigits; }
    } else {
      i = save;
    }
  } else {
    i = save;
  }
  SkipBlanks(t, i);
  int ampm = 0;
  auto tryMarker = [&](std::string_view word, int kind) {
    if (!word.empty() && StartsWithNoCase(t, i, word)) {
      ampm = kind;
      i += word.size();
      return true;
    }
    return false;
  };
  if (!tryMarker(fs.TimeAMString, 1) && !tryMarker(fs.TimePMString, 2) && !tryMarker("AM", 1)) tryMarker("PM", 2);
  if (ampm != 0) {
    if (hour < 1 || hour > 12) return false;
    if (ampm == 1 && hour == 12) hour = 0;
    if (ampm == 2 && hour < 12) hour += 12;
  }
  return TryEncodeTime(hour, min, sec, msec, value);
}

}  // namespace

bool TryStrToDate(std::string_view text, TDateTime& value, const TFormatSettings& fs) {
  std::size_t i = 0;
  TDateTime d;
  if (!ScanDate(text, i, d, fs)) return false;
  SkipBlanks(text, i);
  if (i != text.size()) return false;
  value = d;
  return true;
}

bool TryStrToTime(std::string_view text, TDateTime& value, const TFormatSettings& fs) {
  std::size_t i = 0;
  TDateTime t;
  if (!ScanTime(text, i, t, fs)) return false;
  SkipBlanks(text, i);
  if (i != text.size()) return false;
  value = t;
  return true;
}

bool TryStrToDateTime(std::string_view text, TDateTime& value, const TFormatSettings& fs) {
  std::size_t i = 0;
  TDateTime d = 0, t = 0;
  std::size_t save = i;
  if (!ScanDate(text, i, d, fs)) {
    // A time alone.
    i = save;
    if (!ScanTime(text, i, t, fs)) return false;
    SkipBlanks(text, i);
    if (i != text.size()) return false;
    value = t;
    return true;
  }
  SkipBlanks(text, i);
  if (i < text.size()) {
    if (!ScanTime(text, i, t, fs)) return false;
    SkipBlanks(text, i);
    if (i != text.size()) return false;
  }
  value = ComposeDateTime(d, t);
  return true;
}

TDateTime StrToDate(std::string_view text) { return StrToDate(text, FormatSettings()); }
TDateTime StrToTime(std::string_view text) { return StrToTime(text, FormatSettings()); }
TDateTime StrToDateTime(std::string_view text) { return StrToDateTime(text, FormatSettings()); }
TDateTime StrToDate(std::string_view text, const TFormatSettings& fs) {
  TDateTime v;
  if (!TryStrToDate(text, v, fs)) throw EConvertError("'" + std::string(text) + "' is not a valid date");
  return v;
}
TDateTime StrToTime(std::string_view text, const TFormatSettings& fs) {
  TDateTime v;
  if (!TryStrToTime(text, v, fs)) throw EConvertError("'" + std::string(text) + "' is not a valid time");
  return v;
}
TDateTime StrToDateTime(std::string_view text, const TFormatSettings& fs) {
  TDateTime v;
  if (!TryStrToDateTime(text, v, fs)) throw EConvertError("'" + std::string(text) + "' is not a valid date and time");
  return v;
}

// ---------------------------------------------------------------------------------------------
std::int32_t CheckedAdd32(std::int32_t a, std::int32_t b) {
  std::int32_t r;
  if (__builtin_add_overflow(a, b, &r)) throw EIntOverflow(kIntOverflowText);
  return r;
}
std::int32_t CheckedSub32(std::int32_t a, std::int32_t b) {
  std::int32_t r;
  if (__builtin_sub_overflow(a, b, &r)) throw EIntOverflow(kIntOverflowText);
  return r;
}
std::int32_t CheckedMul32(std::int32_t a, std::int32_t b) {
  std::int32_t r;
  if (__builtin_mul_overflow(a, b, &r)) throw EIntOverflow(kIntOverflowText);
  return r;
}
std::int32_t CheckedNeg32(std::int32_t a) {
  if (a == std::numeric_limits<std::int32_t>::min()) throw EIntOverflow(kIntOverflowText);
  return -a;
}
std::int64_t CheckedAdd64(std::int64_t a, std::int64_t b) {
  std::int64_t r;
  if (__builtin_add_overflow(a, b, &r)) throw EIntOverflow(kIntOverflowText);
  return r;
}
std::int64_t CheckedSub64(std::int64_t a, std::int64_t b) {
  std::int64_t r;
  if (__builtin_sub_overflow(a, b, &r)) throw EIntOverflow(kIntOverflowText);
  return r;
}
std::int64_t CheckedMul64(std::int64_t a, std::int64_t b) {
  std::int64_t r;
  if (__builtin_mul_overflow(a, b, &r)) throw EIntOverflow(kIntOverflowText);
  return r;
}
std::int64_t CheckedNeg64(std::int64_t a) {
  if (a == std::numeric_limits<std::int64_t>::min()) throw EIntOverflow(kIntOverflowText);
  return -a;
}
std::int64_t CheckedDiv64(std::int64_t a, std::int64_t b) {
  if (b == 0) throw EDivByZero(kDivByZeroText);
  if (b == -1) return WrapNeg(a);
  return a / b;
}
std::uint64_t CheckedDivU64(std::uint64_t a, std::uint64_t b) {
  if (b == 0) throw EDivByZero(kDivByZeroText);
  return a / b;
}
std::int64_t CheckedMod64(std::int64_t a, std::int64_t b) {
  if (b == 0) throw EDivByZero(kDivByZeroText);
  if (b == -1) return 0;
  return a % b;
}

long double CheckedFloatDiv(long double a, long double b) {
  if (b == 0) {
    if (a == 0 || std::isnan(a)) throw EInvalidOp(kInvalidOpText);
    throw EZeroDivide(kZeroDivideText);
  }
  return CheckFloat(a / b);
}

long double CheckFloat(long double value) {
  if (std::isnan(value)) throw EInvalidOp(kInvalidOpText);
  if (std::isinf(value)) throw EOverflow(kOverflowText);
  return value;
}

std::int64_t TruncToInt64(long double value) {
  if (!std::isfinite(value)) throw EInvalidOp(kInvalidOpText);
  long double t = std::trunc(value);
  if (t < -9223372036854775808.0L || t >= 9223372036854775808.0L) throw EInvalidOp(kInvalidOpText);
  return static_cast<std::int64_t>(t);
}

std::int64_t RoundToInt64(long double value) {
  if (!std::isfinite(value)) throw EInvalidOp(kInvalidOpText);
  long double t = std::nearbyint(value);  // default rounding: ties to even
  if (t < -9223372036854775808.0L || t >= 9223372036854775808.0L) throw EInvalidOp(kInvalidOpText);
  return static_cast<std::int64_t>(t);
}

// ---------------------------------------------------------------------------------------------
TGUID CreateGUID() {
  static thread_local std::mt19937_64 engine = [] {
    std::random_device rd;
    std::seed_seq seq{rd(), rd(), rd(), rd(), rd(), rd(), rd(), rd()};
    return std::mt19937_64(seq);
  }();
  std::uint64_t a = engine(), b = engine();
  TGUID g;
  g.D1 = static_cast<std::uint32_t>(a >> 32);
  g.D2 = static_cast<std::uint16_t>(a >> 16);
  g.D3 = static_cast<std::uint16_t>((a & 0x0FFF) | 0x4000);  // version 4
  for (int i = 0; i < 8; ++i) g.D4[i] = static_cast<std::uint8_t>(b >> (8 * i));
  g.D4[0] = static_cast<std::uint8_t>((g.D4[0] & 0x3F) | 0x80);  // variant 1
  return g;
}

std::string GUIDToString(const TGUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.D1, g.D2, g.D3, g.D4[0],
                g.D4[1], g.D4[2], g.D4[3], g.D4[4], g.D4[5], g.D4[6], g.D4[7]);
  return buf;
}

// ---------------------------------------------------------------------------------------------
std::string GetTempDirectory() {
  const char* dir = std::getenv("TMPDIR");
  std::string d = (dir && *dir) ? dir : "/tmp";
  while (d.size() > 1 && d.back() == '/') d.pop_back();
  return d;
}

int CreateTemporaryFile(std::string_view prefix, std::string& fileName) {
  std::string pattern = GetTempDirectory() + "/" + std::string(prefix) + "XXXXXX";
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    int err = errno;
    throw EOSError("Cannot create a temporary file in " + GetTempDirectory() + ": " + std::strerror(err), err);
  }
  ::unlink(pattern.c_str());
  fileName = pattern;
  return fd;
}

}  // namespace nrd
