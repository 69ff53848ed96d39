// Synthetic GEDCOM trees for load benchmarks and peer comparisons: n persons, n/2 families (persons
// 2f-1 and 2f are the spouses of family f, persons 4f..4f+3 its children), dates in GEDCOM and Russian
// forms, places, and a note continued with CONC on every tenth person. Deterministic for a given n.
// Header-only; plain C++ apart from the Windows-1251 encoder of platform/.
#pragma once

#include "platform/CodePage.h"

#include <cstdint>
#include <string>

namespace synth {

inline std::u16string Utf8ToUtf16(const std::string& s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::uint32_t cp = c;
    int len = 1;
    if (c >= 0xF0) {
      cp = c & 0x07;
      len = 4;
    } else if (c >= 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else if (c >= 0xC0) {
      cp = c & 0x1F;
      len = 2;
    }
    for (int k = 1; k < len && i + std::size_t(k) < s.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + std::size_t(k)]) & 0x3F);
    i += std::size_t(len);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += char16_t(0xD800 + (cp >> 10));
      out += char16_t(0xDC00 + (cp & 0x3FF));
    } else {
      out += char16_t(cp);
    }
  }
  return out;
}

// The tree as file bytes: UTF-8 ("1 CHAR UTF-8", no byte-order mark) or Windows-1251 ("1 CHAR ANSI").
inline std::string MakeTree(std::int64_t n, bool utf8) {
  static const char* const kMale[] = {"Иван", "Пётр", "Николай", "Алексей", "Фёдор", "Михаил", "Степан", "Илья"};
  static const char* const kPatrM[] = {"Иванович", "Петрович", "Николаевич", "Алексеевич"};
  static const char* const kPatrF[] = {"Ивановна", "Петровна", "Николаевна", "Алексеевна"};
  static const char* const kFemale[] = {"Анна", "Мария", "Евдокия", "Ольга", "Татьяна", "Вера", "Софья"};
  static const char* const kSurM[] = {"Северцев", "Кузнецов", "Орлов", "Соколов", "Лебедев", "Ильин"};
  static const char* const kSurF[] = {"Северцева", "Кузнецова", "Орлова", "Соколова", "Лебедева", "Ильина"};
  static const char* const kPlace[] = {"Тула", "Калуга", "Москва", "с. Берёзовка, Тульская губерния", "Рязань"};
  static const char* const kMonGed[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                        "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  static const char* const kMonRu[] = {"января", "февраля", "марта", "апреля", "мая", "июня",
                                       "июля", "августа", "сентября", "октября", "ноября", "декабря"};
  std::uint64_t seed = 0x9E3779B97F4A7C15ull ^ std::uint64_t(n);
  auto rnd = [&seed](std::uint64_t m) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    return (seed >> 33) % m;
  };
  auto date = [&](int year) {
    const int m = int(rnd(12));
    const int d = int(rnd(28)) + 1;
    switch (rnd(6)) {
      case 0:
        return std::to_string(d) + " " + kMonGed[m] + " " + std::to_string(year);
      case 1:
        return std::to_string(d) + " " + kMonRu[m] + " " + std::to_string(year);
      case 2:
        return std::string(d < 10 ? "0" : "") + std::to_string(d) + (m < 9 ? ".0" : ".") + std::to_string(m + 1) +
               "." + std::to_string(year);
      case 3:
        return "ABT " + std::to_string(year);
      case 4:
        return "BET " + std::to_string(year) + " AND " + std::to_string(year + 2);
      default:
        return std::string(kMonGed[m]) + " " + std::to_string(year);
    }
  };
  std::string s;
  s.reserve(std::size_t(n) * 260);
  s += "0 HEAD\r\n1 SOUR Synthetic\r\n1 CHAR ";
  s += utf8 ? "UTF-8" : "ANSI";
  s += "\r\n";
  const std::int64_t families = n / 2;
  for (std::int64_t i = 1; i <= n; ++i) {
    const bool male = i % 2 == 1;
    const std::size_t k = std::size_t(rnd(1000));
    const std::string is = std::to_string(i);
    s += "0 @I" + is + "@ INDI\r\n1 NAME ";
    s += male ? kMale[k % 8] : kFemale[k % 7];
    s += " ";
    s += male ? kPatrM[k % 4] : kPatrF[k % 4];
    s += " /";
    s += male ? kSurM[k % 6] : kSurF[k % 6];
    s += "/\r\n1 SEX ";
    s += male ? "M" : "F";
    const int year = 1700 + int(i % 300);
    s += "\r\n1 BIRT\r\n2 DATE " + date(year) + "\r\n2 PLAC " + kPlace[k % 5] + "\r\n";
    if (year < 1930) s += "1 DEAT\r\n2 DATE " + date(year + 40 + int(rnd(40))) + "\r\n";
    if (i >= 4 && i / 4 <= families) s += "1 FAMC @F" + std::to_string(i / 4) + "@\r\n";
    if ((i + 1) / 2 <= families) s += "1 FAMS @F" + std::to_string((i + 1) / 2) + "@\r\n";
    if (i % 10 == 0) {
      s += "1 NOTE Запись из метрической книги прихода, составленная со слов родственников; ";
      s += "\r\n2 CONC часть сведений требует проверки по ревизским сказкам и исповедным ведомостям.\r\n";
      s += "2 CONT Вторая строка примечания.\r\n";
    }
  }
  for (std::int64_t f = 1; f <= families; ++f) {
    s += "0 @F" + std::to_string(f) + "@ FAM\r\n1 HUSB @I" + std::to_string(2 * f - 1) + "@\r\n1 WIFE @I" +
         std::to_string(2 * f) + "@\r\n";
    for (std::int64_t c = 4 * f; c < 4 * f + 4 && c <= n; ++c) s += "1 CHIL @I" + std::to_string(c) + "@\r\n";
    s += "1 MARR\r\n2 DATE " + date(1720 + int(f % 280)) + "\r\n2 PLAC " + kPlace[f % 5] + "\r\n";
  }
  s += "0 TRLR\r\n";
  if (utf8) return s;
  return platform::Utf16ToCp1251(Utf8ToUtf16(s));
}

}  // namespace synth
