// The date grammar. Every comparison is made on the upper-cased text; see GDate.h for the contract.
#include "app/core/GDate.h"

#include "app/core/UnitFunc.h"

#include <array>
#include <bitset>

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
