// Parsing a format, and the two conversions.
#include "engine/sql/NRDDateFormat.h"

#include <array>
#include <cmath>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDText.h"

namespace nrd {
namespace {

constexpr std::array<std::string_view, 26> kTokenTexts = {
    "YYYY", "YY", "YEAR", "Q", "MONTH", "MON", "MM", "M", "RM", "DDD", "DD", "DAY", "DY",
    "DW", "D", "HH12", "HH24", "HH", "H12", "H24", "H", "NN", "N", "SS", "S", "AMPM"};
constexpr std::size_t kLongestToken = 5;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string TwoDigits(int v) {
  std::string r = std::to_string(v);
  return r.size() < 2 ? "0" + r : r;
}

}  // namespace

TDateFormater::TDateFormater(std::string_view dateFormat) : FFormat(dateFormat) {
  const std::string_view f = FFormat;
  std::size_t pending = 0;
  char quote = 0;
  auto flush = [&](std::size_t end) {
    if (end > pending) FDateFormat.push_back({dfText, std::string(f.substr(pending, end - pending))});
  };
  std::size_t i = 0;
  while (i < f.size()) {
    const char c = f[i];
    if (quote == 0 && (c == '\'' || c == '"')) {
      flush(i);
      quote = c;
      pending = ++i;
      continue;
    }
    if (quote != 0) {
      if (c == quote) {
        FDateFormat.push_back({dfText, std::string(f.substr(pending, i - pending))});
        quote = 0;
        pending = i + 1;
      }
      ++i;
      continue;
    }
    bool matched = false;
    for (std::size_t len = std::min(kLongestToken, f.size() - i); len >= 1 && !matched; --len) {
      const std::string upper = AnsiUpperCase(f.substr(i, len));
      for (std::size_t t = 0; t < kTokenTexts.size(); ++t) {
        if (upper == kTokenTexts[t]) {
          flush(i);
          FDateFormat.push_back({static_cast<TDateFormatType>(t), std::string(f.substr(i, len))});
          i += len;
          pending = i;
          matched = true;
          break;
        }
      }
    }
    if (!matched) ++i;
  }
  flush(f.size());
}

TDateTime TDateFormater::ToDate(std::string_view str) const {
  std::size_t pos = 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  auto invalid = [&]() -> ENRDException {
    return ENRDException(30510, "Invalid date '%s' for format '%s'", {std::string(str), FFormat});
  };
  auto take = [&](std::size_t count) {
    std::string_view r = pos < str.size() ? str.substr(pos, count) : std::string_view();
    pos += count;
    return r;
  };
  auto number = [&](std::string_view text) {
    std::int32_t v = 0;
    if (!TryStrToInt(text, v)) throw invalid();
    return v;
  };
  // One digit, or two when a digit follows the first.
  auto oneOrTwo = [&]() { return number(take(pos + 1 < str.size() && IsDigit(str[pos + 1]) ? 2 : 1)); };
  for (const TDateFormatToken& t : FDateFormat) {
    switch (t.TokenType) {
      case dfYYYY:
      case dfYEAR: year = number(take(4)); break;
      case dfYY: {
        const int y = number(take(2));
        year = y < 30 ? y + 2000 : y + 1900;
        break;
      }
      case dfQ: {
        const int q = number(take(1));
        month = (q - 1) * 3 + 1;
        break;
      }
      case dfMM: month = number(take(2)); break;
      case dfM: month = oneOrTwo(); break;
      case dfDD: day = number(take(2)); break;
      case dfD: day = oneOrTwo(); break;
      case dfHH24: hour = number(take(2)); break;
      case dfHH12:
      case dfHH:
      case dfH24:
      case dfH12:
      case dfH: hour = oneOrTwo(); break;
      case dfNN: minute = number(take(2)); break;
      case dfN: minute = oneOrTwo(); break;
      case dfSS: second = number(take(2)); break;
      case dfS: second = oneOrTwo(); break;
      case dfAMPM: {
        const std::string w(take(2));
        const std::string u = AnsiUpperCase(w);
        if (u == "PM") {
          if (hour < 12) hour += 12;
        } else if (u == "AM") {
          if (hour == 12) hour = 0;
        } else {
          throw ENRDException(30129, "AM/PM word expected, but '%s' found", {w});
        }
        break;
      }
      case dfText: take(t.Text.size()); break;
      default: take(t.Text.size()); break;  // names and numbers that are not read
    }
  }
  TDateTime date = 0;
  if (year != 0 && month != 0 && day != 0 && !TryEncodeDate(year, month, day, date)) throw invalid();
  TDateTime time = 0;
  if (!TryEncodeTime(hour, minute, second, 0, time)) throw invalid();
  // Before 1899-12-30 the serial is negative and its fraction still counts forward from midnight.
  return ComposeDateTime(date, time);
}

std::string TDateFormater::ToString(TDateTime dateTime) const {
  int year = 0, month = 0, day = 0;
  if (!TryDecodeDate(dateTime, year, month, day))
    throw ENRDException(30510, "Invalid date '%s' for format '%s'", {FloatToStr(dateTime), FFormat});
  int hour = 0, minute = 0, second = 0, ms = 0;
  DecodeTime(dateTime, hour, minute, second, ms);
  const TFormatSettings& fs = FormatSettings();
  const int hour12 = hour % 12 == 0 ? 12 : hour % 12;
  static const char* const kRoman[12] = {"I", "II", "III", "IV", "V", "VI", "VII", "VIII", "IX", "X", "XI", "XII"};
  // Day of week with Monday first: the platform numbers Sunday 1.
  const int dayOfWeek = (DayOfWeek(dateTime) + 5) % 7 + 1;
  std::string r;
  for (const TDateFormatToken& t : FDateFormat) {
    switch (t.TokenType) {
      case dfYYYY:
      case dfYEAR: {
        std::string y = std::to_string(year);
        r += std::string(y.size() < 4 ? 4 - y.size() : 0, '0') + y;
        break;
      }
      case dfYY: r += TwoDigits(year % 100); break;
      case dfQ: r += std::to_string((month - 1) / 3 + 1); break;
      case dfMONTH: r += fs.LongMonthNames[month - 1]; break;
      case dfMON: r += fs.ShortMonthNames[month - 1]; break;
      case dfMM: r += TwoDigits(month); break;
      case dfM: r += std::to_string(month); break;
      case dfRM: r += kRoman[month - 1]; break;
      case dfDDD: r += fs.ShortDayNames[DayOfWeek(dateTime) - 1]; break;
      case dfDD: r += TwoDigits(day); break;
      case dfDAY: r += fs.LongDayNames[DayOfWeek(dateTime) - 1]; break;
      case dfD: r += std::to_string(day); break;
      case dfDY: {
        TDateTime start = 0;
        TryEncodeDate(year, 1, 1, start);
        r += std::to_string(static_cast<int>(std::floor(DatePart(dateTime)) - std::floor(start)) + 1);
        break;
      }
      case dfDW: r += std::to_string(dayOfWeek); break;
      case dfHH12:
      case dfHH: r += TwoDigits(hour12); break;
      case dfH12:
      case dfH: r += std::to_string(hour12); break;
      case dfHH24: r += TwoDigits(hour); break;
      case dfH24: r += std::to_string(hour); break;
      case dfNN: r += TwoDigits(minute); break;
      case dfN: r += std::to_string(minute); break;
      case dfSS: r += TwoDigits(second); break;
      case dfS: r += std::to_string(second); break;
      case dfAMPM: r += hour > 11 ? "PM" : "AM"; break;
      case dfText: r += t.Text; break;
    }
  }
  return r;
}

std::int32_t TDateFormater::GetStringMaxSize() const {
  std::int32_t n = 0;
  for (const TDateFormatToken& t : FDateFormat) {
    switch (t.TokenType) {
      case dfYYYY:
      case dfYEAR:
      case dfRM:
      case dfDY: n += 4; break;
      case dfQ: n += 1; break;
      case dfMONTH: n += 9; break;
      case dfMON:
      case dfDDD: n += 3; break;
      case dfDAY: n += 12; break;
      case dfText: n += static_cast<std::int32_t>(t.Text.size()); break;
      default: n += 2; break;
    }
  }
  return n;
}

TNRDAdvancedFieldType TDateFormater::GetDataType() const {
  bool date = false, time = false;
  for (const TDateFormatToken& t : FDateFormat) {
    if (t.TokenType == dfText) continue;
    if (t.TokenType >= dfHH12) time = true;
    else date = true;
  }
  if (time && !date) return aftTime;
  if (date && !time) return aftDate;
  return aftDateTime;
}

std::string TDateFormater::DebugGetTotenList() const {
  std::string r;
  for (std::size_t i = 0; i < FDateFormat.size(); ++i) {
    const TDateFormatToken& t = FDateFormat[i];
    r += std::to_string(i + 1);
    r += t.TokenType == dfText ? std::string(" <dfText> = '")
                               : " <df" + std::string(kTokenTexts[t.TokenType]) + "> = '";
    r += t.Text + "'\r\n";
  }
  return r;
}

}  // namespace nrd
