// The date grammar. Every comparison is made on the upper-cased text; see GDate.h for the contract.
#include "app/core/GDate.h"

#include "app/core/UnitFunc.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

const std::array<QString, 6>& CalendarEscapes() {
  static const std::array<QString, 6> k = {
      QStringLiteral("@#DGREGORIAN@"), QStringLiteral("@#DJULIAN@"), QStringLiteral("@#DHEBREW@"),
      QStringLiteral("@#DFRENCH R@"), QStringLiteral("@#DROMAN@"),   QStringLiteral("@#DUNKNOWN@")};
  return k;
}

// Seven groups of twelve month words, January to December; longer forms of a language come first so
// that a genitive is replaced before its short form can match inside it.
const std::array<QString, 84>& MonthWords() {
  static const std::array<QString, 84> k = {
      // English GEDCOM
      u"JAN"_qs, u"FEB"_qs, u"MAR"_qs, u"APR"_qs, u"MAY"_qs, u"JUN"_qs, u"JUL"_qs, u"AUG"_qs, u"SEP"_qs,
      u"OCT"_qs, u"NOV"_qs, u"DEC"_qs,
      // Ukrainian genitive
      u"СІЧНЯ"_qs, u"ЛЮТОГО"_qs, u"БЕРЕЗНЯ"_qs, u"КВІТНЯ"_qs, u"ТРАВНЯ"_qs, u"ЧЕРВНЯ"_qs, u"ЛИПНЯ"_qs,
      u"СЕРПНЯ"_qs, u"ВЕРЕСНЯ"_qs, u"ЖОВТНЯ"_qs, u"ЛИСТОПАДА"_qs, u"ГРУДНЯ"_qs,
      // Ukrainian nominative
      u"СІЧЕНЬ"_qs, u"ЛЮТИЙ"_qs, u"БЕРЕЗЕНЬ"_qs, u"КВІТЕНЬ"_qs, u"ТРАВЕНЬ"_qs, u"ЧЕРВЕНЬ"_qs, u"ЛИПЕНЬ"_qs,
      u"СЕРПЕНЬ"_qs, u"ВЕРЕСЕНЬ"_qs, u"ЖОВТЕНЬ"_qs, u"ЛИСТОПАД"_qs, u"ГРУДЕНЬ"_qs,
      // Ukrainian short
      u"СІЧ"_qs, u"ЛЮТ"_qs, u"БЕР"_qs, u"КВІ"_qs, u"ТРА"_qs, u"ЧЕР"_qs, u"ЛИП"_qs, u"СЕР"_qs, u"ВЕР"_qs,
      u"ЖОВ"_qs, u"ЛИС"_qs, u"ГРУ"_qs,
      // Russian genitive
      u"ЯНВАРЯ"_qs, u"ФЕВРАЛЯ"_qs, u"МАРТА"_qs, u"АПРЕЛЯ"_qs, u"МАЯ"_qs, u"ИЮНЯ"_qs, u"ИЮЛЯ"_qs,
      u"АВГУСТА"_qs, u"СЕНТЯБРЯ"_qs, u"ОКТЯБРЯ"_qs, u"НОЯБРЯ"_qs, u"ДЕКАБРЯ"_qs,
      // Russian nominative
      u"ЯНВАРЬ"_qs, u"ФЕВРАЛЬ"_qs, u"МАРТ"_qs, u"АПРЕЛЬ"_qs, u"МАЙ"_qs, u"ИЮНЬ"_qs, u"ИЮЛЬ"_qs,
      u"АВГУСТ"_qs, u"СЕНТЯБРЬ"_qs, u"ОКТЯБРЬ"_qs, u"НОЯБРЬ"_qs, u"ДЕКАБРЬ"_qs,
      // Russian short
      u"ЯНВ"_qs, u"ФЕВ"_qs, u"МАР"_qs, u"АПР"_qs, u"МАЙ"_qs, u"ИЮН"_qs, u"ИЮЛ"_qs, u"АВГ"_qs, u"СЕН"_qs,
      u"ОКТ"_qs, u"НОЯ"_qs, u"ДЕК"_qs};
  return k;
}

const std::array<QString, 12>& MonthMarks() {
  static const std::array<QString, 12> k = {u".01."_qs, u".02."_qs, u".03."_qs, u".04."_qs,
                                            u".05."_qs, u".06."_qs, u".07."_qs, u".08."_qs,
                                            u".09."_qs, u".10."_qs, u".11."_qs, u".12."_qs};
  return k;
}

struct Qualifier {
  std::vector<QString> local;  // local words; blanks belong to the words
  QString gedcom;
  QString symbol;
};

const std::array<Qualifier, 10>& Qualifiers() {
  static const std::array<Qualifier, 10> k = {{
      {{u"БЛИЗЬКО"_qs, u"ОКОЛО"_qs, u"БЛ."_qs}, u"ABT"_qs, u"~"_qs},
      {{u"ПРИБЛИЗНО:"_qs, u"ПРИБЛИЗИТЕЛЬНО"_qs}, u"EST"_qs, u"~"_qs},
      {{u"ВИРАХУВАНО:"_qs}, u"CAL"_qs, u"~"_qs},
      {{u"МІЖ"_qs, u"МЕЖДУ"_qs}, u"BET"_qs, QString()},
      {{u"ДО "_qs}, u"BEF"_qs, u"<"_qs},
      {{u"ПІСЛЯ"_qs, u"ПОСЛЕ"_qs}, u"AFT"_qs, u">"_qs},
      {{u"З "_qs, u"ВІД "_qs, u"ОТ "_qs}, u"FROM"_qs, QString()},
      {{u" І "_qs, u" И "_qs}, u"AND"_qs, u"="_qs},
      {{u"ПО "_qs, u"ДО "_qs, u" К "_qs}, u"TO"_qs, u"-"_qs},
      {{u" АБО "_qs, u" ИЛИ "_qs}, u"OR"_qs, u"("_qs},
  }};
  return k;
}

bool IsRangeDelim(QChar c) {
  switch (c.unicode()) {
    case u'(':
    case u'-':
    case u'<':
    case u'=':
    case u'>':
    case u'~':
      return true;
    default:
      return false;
  }
}

// The completed form of one date field: "1.05.1900" -> "01.05.1900", ".05.1900" -> "??.05.1900",
// "12.05." -> "12.05.????".
QString CompleteField(const QString& p) {
  QString q = p;
  if (q.size() >= 2 && q[0] >= u'1' && q[0] <= u'9' && q[1] == u'.') q.prepend(u'0');
  if (q.startsWith(u'.')) q.prepend(u"??"_qs);
  if (q.endsWith(u'.')) q.append(u"????"_qs);
  return q;
}

// Rewrites the first two fields of W (split at the range delimiters) in place.
void CompleteFields(QString& w) {
  qsizetype start = 0;
  QString out;
  out.reserve(w.size() + 8);
  int field = 1;
  for (qsizetype i = 0; i <= w.size(); ++i) {
    if (i == w.size() || IsRangeDelim(w[i])) {
      const QString p = w.mid(start, i - start);
      out += field <= 2 && !p.isEmpty() ? CompleteField(p) : p;
      if (i == w.size()) break;
      out += w[i];
      ++field;
      start = i + 1;
    }
  }
  w = out;
}

// Field n of text split at one delimiter (no trimming).
QString Field(const QString& text, int n, QChar delim) { return SplitPart(n, text, TCharSet(delim.unicode())); }

bool StrToIntDefNotMinusOne(const QString& s) {
  bool ok = false;
  const int v = s.toInt(&ok);
  return ok && v != -1;
}

}  // namespace

// ---------------------------------------------------------------- fast path
//
// Most date texts are short GEDCOM or Russian/Ukrainian dates made of digits, blanks, dots, month words
// and GEDCOM qualifier words. For such a text the steps of the general parser act on each word on its
// own: a month word or qualifier word consists of letters only, the texts that replace them contain no
// letters, so no replacement can reach across the digits, blanks and dots between two words. The fast
// path therefore looks each word up once in a table computed from the very same replacement tables,
// builds the normalised text in a small buffer and derives the keys from views into it. A text with any
// other character, any other word or more than kFastMax characters takes the general path.
namespace {

constexpr int kFastMax = 64;

// A letter after upper-casing, as far as the fast path admits letters (Latin A-Z, Cyrillic U+0400-U+042F).
bool FastLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= 0x400 && c <= 0x42F); }

// What the month and qualifier steps make of one word standing alone.
struct FastWord {
  std::int8_t month[3] = {-1, -1, -1};  // by script 1 or 2: month 1..12, 0 when it stays, -1 when unusable
  bool qualifier = false;               // a GEDCOM qualifier word: replaced by symbol in the qualifier step
  bool isOr = false;                    // the word "OR"
  char16_t symbol = 0;                  // its symbol; 0 when the word is removed
  const QString* stype = nullptr;       // the qualifier type its first three letters name, if any
};

const std::array<QString, 7>& QualifierTypes() {
  static const std::array<QString, 7> k = {u"ABT"_qs, u"EST"_qs, u"CAL"_qs, u"BET"_qs,
                                           u"BEF"_qs, u"AFT"_qs, u"FRO"_qs};
  return k;
}

class FastWords {
 public:
  FastWords() {
    std::vector<QString> words(MonthWords().begin(), MonthWords().end());
    for (const Qualifier& q : Qualifiers()) words.push_back(q.gedcom);
    for (const QString& w : words) {
      const std::u16string key(reinterpret_cast<const char16_t*>(w.constData()), std::size_t(w.size()));
      if (map_.count(key)) continue;
      FastWord f;
      for (int script = 1; script <= 2; ++script) {
        QString r = w;
        const std::size_t count = script == 1 ? 12 : MonthWords().size();
        for (std::size_t i = 0; i < count; ++i)
          if (r.contains(MonthWords()[i])) r.replace(MonthWords()[i], MonthMarks()[i % 12]);
        if (r == w) f.month[script] = 0;
        for (int m = 0; m < 12; ++m)
          if (r == MonthMarks()[std::size_t(m)]) f.month[script] = std::int8_t(m + 1);
      }
      QString r = w;
      for (const Qualifier& q : Qualifiers())
        if (r.contains(q.gedcom)) r.replace(q.gedcom, q.symbol);
      for (const Qualifier& q : Qualifiers()) {
        if (w == q.gedcom && r == q.symbol && q.symbol.size() <= 1) {
          f.qualifier = true;
          f.symbol = q.symbol.isEmpty() ? char16_t(0) : q.symbol[0].unicode();
        }
      }
      f.isOr = w == u"OR"_qs;
      if (w.size() >= 3)
        for (const QString& t : QualifierTypes())
          if (w.left(3) == t) f.stype = &t;
      map_.emplace(key, f);
    }
  }
  const FastWord* Find(const char16_t* p, int n) const {
    const auto it = map_.find(std::u16string_view(p, std::size_t(n)));
    return it == map_.end() ? nullptr : &it->second;
  }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::u16string_view v) const { return std::hash<std::u16string_view>()(v); }
  };
  std::unordered_map<std::u16string, FastWord, Hash, std::equal_to<>> map_;
};

const FastWords& TheFastWords() {
  static const FastWords k;
  return k;
}

// A bit for each range delimiter, 0 for any other character.
int DelimBit(char16_t c) {
  switch (c) {
    case u'(': return 1;
    case u'-': return 2;
    case u'<': return 4;
    case u'=': return 8;
    case u'>': return 16;
    case u'~': return 32;
    default: return 0;
  }
}

// A growing text in a fixed buffer; Push fails when full.
struct FastBuf {
  char16_t c[256];
  int n = 0;
  bool Push(char16_t ch) {
    if (n >= int(sizeof c / sizeof c[0])) return false;
    c[n++] = ch;
    return true;
  }
  std::u16string_view View() const { return {c, std::size_t(n)}; }
};

// A sort key of at most 8 characters.
struct FastKey {
  char16_t c[8];
  int n = 0;
  std::u16string_view View() const { return {c, std::size_t(n)}; }
  void Add(std::u16string_view v) {
    for (char16_t ch : v) c[n++] = ch;
  }
};

// The key of a date text, as SortKeyFromDateText gives it.
FastKey KeyOf(std::u16string_view t) {
  FastKey k;
  if (t.size() <= 5) {
    if (!t.empty() && t[0] == u'~') t = t.substr(1, 5);
    for (std::size_t i = t.size(); i < 4; ++i) k.c[k.n++] = u'0';
    k.Add(t.substr(0, std::size_t(4 - k.n)));
    return k;
  }
  if (t.size() == 8 && t.find(u'.') == std::u16string_view::npos) {
    k.Add(t.substr(4, 4));
    k.Add(t.substr(2, 2));
    k.Add(t.substr(0, 2));
    return k;
  }
  std::u16string_view fields[3];
  int parts = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= t.size(); ++i) {
    if (i == t.size() || t[i] == u'.') {
      if (parts == 3) {
        k.Add(u"00000000");
        return k;
      }
      fields[parts++] = t.substr(start, i - start);
      start = i + 1;
    }
  }
  if (parts != 2 && parts != 3) {
    k.Add(u"00000000");
    return k;
  }
  const auto padded = [&k](std::u16string_view v, std::size_t width) {
    for (std::size_t i = v.size(); i < width; ++i) k.c[k.n++] = u'0';
    k.Add(v.substr(0, width));
  };
  padded(fields[parts - 1], 4);
  padded(fields[parts - 2], 2);
  if (parts == 3) padded(fields[0], 2);
  return k;
}

// Field n (1 or 2) of t split at any of the delimiters; empty when there are fewer fields.
std::u16string_view FieldOf(std::u16string_view t, int n, char16_t d1, char16_t d2 = 0) {
  int field = 1;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= t.size(); ++i) {
    if (i == t.size() || t[i] == d1 || (d2 && t[i] == d2)) {
      if (field == n) return t.substr(start, i - start);
      ++field;
      start = i + 1;
    }
  }
  return {};
}

QString ToQString(std::u16string_view v) { return QString(reinterpret_cast<const QChar*>(v.data()), qsizetype(v.size())); }

std::u16string_view ViewOf(const QString& s) {
  return {reinterpret_cast<const char16_t*>(s.constData()), std::size_t(s.size())};
}

// The year text reads as an integer other than -1.
bool YearReadable(std::u16string_view y) {
  bool digits = !y.empty() && y.size() <= 9;
  for (char16_t ch : y) digits = digits && ch >= u'0' && ch <= u'9';
  if (digits) return true;
  return StrToIntDefNotMinusOne(ToQString(y));
}

// DmyToDate for a text whose day, month and year positions hold plain digits, by arithmetic on the
// proleptic Gregorian calendar; any other text is left to DmyToDate itself.
TDateTime DayOfDmy(const QString& text) {
  const qsizetype n = text.size();
  if (n == 0 || n < 7) return kUnknownDate;
  if (n < 10) return DmyToDate(text);
  const QChar* p = text.constData();
  int value[3] = {0, 0, 0};
  static constexpr int kFrom[3] = {0, 3, 6}, kLen[3] = {2, 2, 4};
  for (int f = 0; f < 3; ++f) {
    for (int i = kFrom[f]; i < kFrom[f] + kLen[f]; ++i) {
      const char16_t c = p[i].unicode();
      if (c == u'+' || c == u'-') return DmyToDate(text);
      if (c < u'0' || c > u'9') return kUnknownDate;
      value[f] = value[f] * 10 + (c - u'0');
    }
  }
  const int d = value[0], m = value[1], y = value[2];
  if (y < 1 || m < 1 || m > 12 || d < 1) return kUnknownDate;
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (d > kDays[m - 1] + (m == 2 && leap ? 1 : 0)) return kUnknownDate;
  // Days from 1 March of year 0, then shifted to the day count's origin, 30 December 1899.
  const int yy = m <= 2 ? y - 1 : y;
  const int era = yy / 400;
  const int yoe = yy - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long long days1970 = (long long)era * 146097 + doe - 719468;
  return TDateTime(days1970 + 25569);
}

// The texts that most dates share: the years 1000 to 2099 and their bounds "yyyy0000" and "yyyy9999",
// made once; a date of such a year refers to them instead of holding copies. Any other text is made anew.
class YearTexts {
 public:
  static const YearTexts& Get() {
    static const YearTexts k;
    return k;
  }
  QString Year(std::u16string_view v) const {
    const int i = v.size() == 4 ? Index(v) : -1;
    return i >= 0 ? year_[std::size_t(i)] : ToQString(v);
  }
  // fill '0': a lower bound, '9': an upper bound.
  QString Bound(std::u16string_view v, char16_t fill) const {
    if (v.size() == 8 && v[4] == fill && v[5] == fill && v[6] == fill && v[7] == fill) {
      const int i = Index(v);
      if (i >= 0) return fill == u'0' ? low_[std::size_t(i)] : high_[std::size_t(i)];
    }
    return ToQString(v);
  }

 private:
  static constexpr int kFirst = 1000, kCount = 1100;
  YearTexts() {
    for (int i = 0; i < kCount; ++i) {
      year_[std::size_t(i)] = QString::number(kFirst + i);
      low_[std::size_t(i)] = year_[std::size_t(i)] + u"0000"_qs;
      high_[std::size_t(i)] = year_[std::size_t(i)] + u"9999"_qs;
    }
  }
  // The table index of the year in the first four characters, or -1.
  static int Index(std::u16string_view v) {
    int y = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      if (v[k] < u'0' || v[k] > u'9') return -1;
      y = y * 10 + (v[k] - u'0');
    }
    return y >= kFirst && y < kFirst + kCount ? y - kFirst : -1;
  }
  std::array<QString, kCount> year_, low_, high_;
};

const QString& Zeros8() {
  static const QString k = u"00000000"_qs;
  return k;
}

// Fills r (apart from ORIG) and returns true when the text is one the fast path reads; false leaves r as
// it was.
bool FastRDates(const QString& text, const TDateContext& ctx, TDATES& r) {
  const QChar* p = text.constData();
  qsizetype b = 0, e = text.size();
  while (b < e && p[b].unicode() <= u' ') ++b;
  while (e > b && p[e - 1].unicode() <= u' ') --e;
  if (e - b > kFastMax) return false;

  // Upper-cased text; every admitted character has a simple upper-case form. The same pass notes
  // what the script test and the calendar escape need.
  char16_t s[kFastMax];
  int len = 0;
  bool cyrillic = false;  // a character from U+0410 on
  int lastLetter = -1;    // the last character above "?" other than "~"
  int lastAt = -1;        // the last "@" or "#"
  for (qsizetype i = b; i < e; ++i) {
    char16_t c = p[i].unicode();
    if (c >= u'a' && c <= u'z') {
      c = char16_t(c - 32);
    } else if (c >= 0x430 && c <= 0x44F) {
      c = char16_t(c - 0x20);
    } else if (c >= 0x450 && c <= 0x45F) {
      c = char16_t(c - 0x50);
    } else if (!FastLetter(c)) {
      switch (c) {
        case u' ': case u'.': case u'-': case u'?': case u'~': case u'<': case u'=': case u'>':
        case u',': case u'/':
          break;
        case u'@': case u'#':
          lastAt = len;
          break;
        default:
          if (c < u'0' || c > u'9') return false;
      }
    }
    if (c >= 0x410) cyrillic = true;
    if (c > u'?' && c != u'~') lastLetter = len;
    s[len++] = c;
  }

  // Calendar escape: only as the very beginning of the text, and no other "@" or "#".
  int start = 0;
  const QString* calen = nullptr;
  if (len >= 3 && s[0] == u'@' && s[1] == u'#' && s[2] == u'D') {
    for (const QString& esc : CalendarEscapes()) {
      if (esc.size() <= len && ViewOf(esc) == std::u16string_view(s, std::size_t(esc.size()))) {
        calen = &esc;
        start = int(esc.size());
        break;
      }
    }
    if (!calen) return false;
  }
  if (lastAt >= start) return false;

  // One pass over the words: month words to ".mm.", qualifier words to their symbols, blanks dropped,
  // and each of the first two fields (between the range delimiters) completed as it closes:
  // "1.05.1900" -> "01.05.1900", ".05.1900" -> "??.05.1900", "12.05." -> "12.05.????".
  const FastWords& words = TheFastWords();
  const std::u16string_view w0(s + start, std::size_t(len - start));
  const int script0 = cyrillic ? 2 : lastLetter >= start ? 1 : 0;
  FastBuf w;
  int field = 1;
  int fieldStart = 0;
  unsigned seen = 0;  // the range delimiters written, as bits
  const auto closeField = [&w, &field, &fieldStart] {
    if (field > 2 || w.n == fieldStart) return;
    const char16_t first = w.c[fieldStart];
    int insert = 0;
    if (w.n - fieldStart >= 2 && first >= u'1' && first <= u'9' && w.c[fieldStart + 1] == u'.')
      insert = 1;
    else if (first == u'.')
      insert = 2;
    if (insert) {
      for (int k = w.n - 1; k >= fieldStart; --k) w.c[k + insert] = w.c[k];
      for (int k = 0; k < insert; ++k) w.c[fieldStart + k] = insert == 1 ? u'0' : u'?';
      w.n += insert;
    }
    if (w.c[w.n - 1] == u'.')
      for (int k = 0; k < 4; ++k) w.c[w.n++] = u'?';
  };
  const auto put = [&](char16_t ch) {
    const int bit = DelimBit(ch);
    if (bit) {
      closeField();
      seen |= unsigned(bit);
      ++field;
      w.c[w.n++] = ch;
      fieldStart = w.n;
    } else {
      w.c[w.n++] = ch;
    }
  };
  const QString* stype = nullptr;
  bool orWord = false;
  for (std::size_t i = 0; i < w0.size();) {
    if (w.n > kFastMax * 2) return false;  // cannot happen: at most four characters per three read
    const char16_t ch = w0[i];
    if (!FastLetter(ch)) {
      if (ch != u' ') put(ch);
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < w0.size() && FastLetter(w0[j])) ++j;
    const FastWord* f = words.Find(w0.data() + i, int(j - i));
    if (!f || script0 == 0 || f->month[script0] < 0) return false;
    const int m = f->month[script0];
    if (m > 0) {
      w.c[w.n++] = u'.';
      w.c[w.n++] = char16_t(u'0' + m / 10);
      w.c[w.n++] = char16_t(u'0' + m % 10);
      w.c[w.n++] = u'.';
    } else {
      // A word that stays through the month step: only a GEDCOM qualifier word is read here. The type
      // is the first three characters of the text when they name one, else "OR" for " OR ".
      if (!f->qualifier) return false;
      if (i == 0) stype = f->stype;
      if (f->isOr && i > 0 && w0[i - 1] == u' ' && j < w0.size() && w0[j] == u' ') orWord = true;
      if (f->symbol) put(f->symbol);
    }
    i = j;
  }
  closeField();
  if (!stype && orWord) {
    static const QString kOr = u"OR"_qs;
    stype = &kOr;
  }

  // Range keys.
  const std::u16string_view today = ViewOf(ctx.today);
  const std::u16string_view zeros = u"00000000";
  FastKey k1, k2;
  std::u16string_view s1, s2;
  const std::u16string_view v = w.View();
  const auto has = [seen](char16_t ch) { return (seen & unsigned(DelimBit(ch))) != 0; };
  QString norm;
  if (v.empty()) {
    s1 = zeros;
    s2 = today;
  } else if (has(u'=')) {
    k1 = KeyOf(FieldOf(v, 1, u'='));
    k2 = KeyOf(FieldOf(v, 2, u'='));
    s1 = k1.View();
    s2 = k2.View();
    norm.reserve(w.n + 4);
    for (char16_t ch : v) {
      if (ch == u'=')
        norm += u".."_qs;
      else
        norm += QChar(ch);
    }
  } else if (has(u'-')) {
    k1 = KeyOf(FieldOf(v, 1, u'-'));
    k2 = KeyOf(FieldOf(v, 2, u'-'));
    s1 = k1.View();
    s2 = k2.View();
  } else if (has(u'<')) {
    s1 = zeros;
    k2 = KeyOf(FieldOf(v, 2, u'<'));
    s2 = k2.View();
  } else if (has(u'>')) {
    k1 = KeyOf(FieldOf(v, 2, u'>'));
    s1 = k1.View();
    s2 = today;
  } else if (has(u'~')) {
    k1 = KeyOf(FieldOf(v, 2, u'~'));
    s1 = k1.View();
    s2 = s1;
  } else if (has(u'(')) {
    k1 = KeyOf(FieldOf(v, 1, u'(', u')'));
    k2 = KeyOf(FieldOf(v, 2, u'(', u')'));
    s1 = k1.View();
    s2 = k2.View();
    w.Push(u')');
    if (s1 > s2) std::swap(s1, s2);
  } else {
    k1 = KeyOf(v);
    s1 = k1.View();
    s2 = s1 == zeros ? today : s1;
  }
  if (norm.isNull()) norm = ToQString(w.View());

  r.DDATE = DayOfDmy(norm);
  r.CALEN = calen ? *calen : QString();
  r.STYPE = stype ? *stype : QString();

  std::u16string_view years;
  if (s1.substr(0, 4) != u"0000")
    years = s1.substr(0, 4);
  else if (s2.substr(0, 4) != ViewOf(ctx.year))
    years = s2.substr(0, 4);
  if (v.empty()) {
    r.NORM = u"?"_qs;
  } else {
    r.NORM = norm;
    if (years.empty() || !YearReadable(years)) {
      // Not a date after all: the open range and no year.
      r.YEARS.clear();
      r.SORT1 = Zeros8();
      r.SORT2 = ctx.today;
      return true;
    }
  }
  r.YEARS = YearTexts::Get().Year(years);

  // Bounds: unknown digits become 0 below and 9 above; a year or a "yyyymm" key is completed.
  char16_t lo[12];
  int nlo = 0;
  if (s1.size() == 8 || s1.size() == 6 || s1.size() == 4) {
    for (char16_t ch : s1) lo[nlo++] = ch == u'?' && s1.size() == 8 ? u'0' : ch;
    while (nlo < 8 && s1.size() != 8) lo[nlo++] = u'0';
  }
  const std::u16string_view lov(lo, std::size_t(nlo));
  if (lov == zeros)
    r.SORT1 = Zeros8();
  else
    r.SORT1 = YearTexts::Get().Bound(lov, u'0');  // empty for a key of another length
  if (s2.data() == today.data() && s2.size() == 8) {
    r.SORT2 = ctx.today;
  } else if (s2.size() > 8) {  // only a today of another form
    r.SORT2 = ToQString(s2) + u"9999"_qs;
  } else {
    char16_t hi[12];
    int nhi = 0;
    for (char16_t ch : s2) hi[nhi++] = ch == u'?' && s2.size() == 8 ? u'9' : ch;
    const int fill = s2.size() == 8 ? 0 : s2.size() == 6 ? 2 : 4;
    for (int k = 0; k < fill; ++k) hi[nhi++] = u'9';
    const std::u16string_view hiv(hi, std::size_t(nhi));
    if (hiv == lov)
      r.SORT2 = r.SORT1;  // an exact day: both bounds share one text
    else
      r.SORT2 = YearTexts::Get().Bound(hiv, u'9');
  }
  return true;
}

}  // namespace

TDateContext TDateContext::ForDate(const QDate& d) {
  TDateContext c;
  c.today = DateKey(d);
  c.year = c.today.left(4);
  return c;
}

TDATES GDate_RDates(const QString& text) { return GDate_RDates(text, TDateContext::Now()); }

namespace {

// The characters below U+0500 that occur in a text: a word whose first character is missing cannot
// occur, so most of the table searches are skipped.
class CharsPresent {
 public:
  explicit CharsPresent(const QString& w) {
    for (QChar c : w)
      if (c.unicode() < kSize) bits_.set(c.unicode());
  }
  bool MayContain(const QString& word) const {
    return word.isEmpty() || word[0].unicode() >= kSize || bits_.test(word[0].unicode());
  }

 private:
  static constexpr char16_t kSize = 0x500;
  std::bitset<kSize> bits_;
};

}  // namespace

TDATES GDate_RDates(const QString& text, const TDateContext& ctx) {
  TDATES r;
  r.ORIG = text;
  if (FastRDates(text, ctx, r)) return r;
  return GDate_RDatesGeneral(text, ctx);
}

TDATES GDate_RDatesGeneral(const QString& text, const TDateContext& ctx) {
  TDATES r;
  r.ORIG = text;
  const QString s = TrimCtl(text.toUpper());
  QString w = s;

  // Calendar escape: the first one of the table that occurs is removed and kept.
  if (s.contains(u"@#D"_qs)) {
    for (const QString& esc : CalendarEscapes()) {
      if (s.contains(esc)) {
        w = QString(s).remove(esc);
        r.CALEN = esc;
        break;
      }
    }
  }

  if (w.size() >= 2 && w.startsWith(u'(') && w.endsWith(u')')) w = w.mid(1, w.size() - 2);

  // Month words to ".mm.".
  const int script0 = TextScript(w);
  if (script0 > 0) {
    const auto& words = MonthWords();
    const std::size_t count = script0 == 1 ? 12 : words.size();
    const CharsPresent present(w);
    for (std::size_t i = 0; i < count; ++i) {
      if (present.MayContain(words[i]) && w.contains(words[i])) w.replace(words[i], MonthMarks()[i % 12]);
    }
  }

  // Qualifiers: local words to GEDCOM words, then the qualifier type, then GEDCOM words to symbols.
  const int c = TextScript(w);
  if (c == 2) {
    const CharsPresent present(w);
    for (const Qualifier& q : Qualifiers())
      for (const QString& local : q.local)
        if (present.MayContain(local) && w.contains(local)) w.replace(local, q.gedcom);
  }
  if (c != 0) {
    static const QString kTypes[] = {u"ABT"_qs, u"EST"_qs, u"CAL"_qs, u"BET"_qs,
                                     u"BEF"_qs, u"AFT"_qs, u"FRO"_qs};
    const QString head = w.left(3);
    for (const QString& t : kTypes) {
      if (head == t) {
        r.STYPE = t;
        break;
      }
    }
    if (r.STYPE.isEmpty()) {
      if (w.contains(u" OR "_qs))
        r.STYPE = u"OR"_qs;
      else if (w.contains(u"B.C."_qs))
        r.STYPE = u"B.C."_qs;
    }
    const CharsPresent present(w);
    for (const Qualifier& q : Qualifiers())
      if (present.MayContain(q.gedcom) && w.contains(q.gedcom)) w.replace(q.gedcom, q.symbol);
  }

  const bool bc = w.contains(u"B.C."_qs);
  if (!bc) {
    w.remove(u' ');
    CompleteFields(w);
  }

  // A parenthesised phrase that is not a date keeps its own text and the open range.
  const bool phrase = s.size() >= 2 && s.startsWith(u'(') && s.endsWith(u')') && TextScript(w) > 0;
  if (phrase) {
    r.NORM = text;
    r.SORT1 = u"00000000"_qs;
    r.SORT2 = ctx.today;
    r.DDATE = kUnknownDate;
    return r;
  }

  QString s1, s2;
  if (w.isEmpty()) {
    s1 = u"00000000"_qs;
    s2 = ctx.today;
  } else if (w.contains(u'=')) {
    s1 = SortKeyFromDateText(Field(w, 1, u'='));
    s2 = SortKeyFromDateText(Field(w, 2, u'='));
    w.replace(u'=', u".."_qs);
  } else if (w.contains(u'-') && !bc) {
    s1 = SortKeyFromDateText(Field(w, 1, u'-'));
    s2 = SortKeyFromDateText(Field(w, 2, u'-'));
  } else if (w.contains(u'<')) {
    s1 = u"00000000"_qs;
    s2 = SortKeyFromDateText(Field(w, 2, u'<'));
  } else if (w.contains(u'>')) {
    s1 = SortKeyFromDateText(Field(w, 2, u'>'));
    s2 = ctx.today;
  } else if (w.contains(u'~') && !bc) {
    s1 = SortKeyFromDateText(Field(w, 2, u'~'));
    s2 = s1;
  } else if (w.contains(u'(')) {
    s1 = SortKeyFromDateText(SplitPart(1, w, TCharSet{u'(', u')'}));
    s2 = SortKeyFromDateText(SplitPart(2, w, TCharSet{u'(', u')'}));
    w += u')';
    if (s1 > s2) std::swap(s1, s2);
  } else if (bc) {
    s1 = u'-' + QString(w).remove(u"B.C."_qs);
    s2 = s1;
  } else {
    s1 = SortKeyFromDateText(w);
    s2 = s1 == u"00000000"_qs ? ctx.today : s1;
  }

  r.DDATE = DmyToDate(w);

  // Bounds: unknown digits become 0 below and 9 above; a year or a "yyyymm" key is completed.
  if (s1.size() == 8)
    r.SORT1 = QString(s1).replace(u'?', u'0');
  else if (s1.size() == 6)
    r.SORT1 = s1 + u"00"_qs;
  else if (s1.size() == 4)
    r.SORT1 = s1 + u"0000"_qs;
  if (s2.size() == 8)
    r.SORT2 = QString(s2).replace(u'?', u'9');
  else if (s2.size() == 6)
    r.SORT2 = s2 + u"99"_qs;
  else
    r.SORT2 = s2 + u"9999"_qs;

  if (s1.left(4) != u"0000"_qs)
    r.YEARS = s1.left(4);
  else if (s2.left(4) != ctx.year)
    r.YEARS = s2.left(4);

  if (w.isEmpty()) {
    r.NORM = u"?"_qs;
  } else {
    r.NORM = w;
    if (r.YEARS.isEmpty() || !StrToIntDefNotMinusOne(r.YEARS)) {
      r.YEARS.clear();
      r.SORT1 = u"00000000"_qs;
      r.SORT2 = ctx.today;
    }
  }
  // Dates before the era have no place on the "yyyymmdd" scale: both keys sort first.
  if (bc) {
    r.SORT1 = u"00000000"_qs;
    r.SORT2 = u"00000000"_qs;
  }
  return r;
}
