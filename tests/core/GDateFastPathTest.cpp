// The date parser's fast path against the general algorithm: every field of the result must be the same
// for every date text of the test corpora, the sample trees, the synthetic generator and a large table of
// generated combinations (qualifiers, month words in every form and case, partial dates, "B.C.", calendar
// escapes, parentheses, odd blanks, bad digits).
// The general algorithm is kept below as it stood before the fast path, word for word, so that a change
// to the parser cannot change both sides of the comparison at once.
#include "app/core/GDate.h"
#include "app/core/UnitFunc.h"
#include "platform/CodePage.h"
#include "tools/SyntheticGedcom.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>

#include <array>
#include <bitset>
#include <cstdint>
#include <iostream>
#include <random>
#include <set>
#include <vector>

#include "tests/core/QtPrint.h"

namespace reference_parser {

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

TDATES GDate_RDatesReference(const QString& text, const TDateContext& ctx) {
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

}  // namespace reference_parser

namespace {

// The date value of a "n DATE value" line, or nothing.
bool DateValue(const QString& line, QString& value) {
  static const QRegularExpression re(QStringLiteral("^\\s*\\d+\\s+DATE(?:\\s(.*))?$"),
                                     QRegularExpression::CaseInsensitiveOption);
  const auto m = re.match(line);
  if (!m.hasMatch()) return false;
  value = m.captured(1);
  while (!value.isEmpty() && (value.back() == u'\r' || value.back() == u'\n')) value.chop(1);
  return true;
}

// Every date value of a file, decoded as UTF-16 when it has that byte-order mark, else each line both as
// UTF-8 and as Windows-1251.
void CollectFile(const QString& path, std::set<QString>& out) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return;
  const QByteArray bytes = f.readAll();
  QString value;
  const bool le = bytes.startsWith("\xFF\xFE"), be = bytes.startsWith("\xFE\xFF");
  if (le || be) {
    QStringDecoder dec(le ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
    const QString text = dec(bytes.mid(2));
    for (const QString& line : text.split(QRegularExpression(QStringLiteral("[\r\n]"))))
      if (DateValue(line, value)) out.insert(value);
    return;
  }
  for (const QByteArray& line : bytes.split('\n')) {
    for (const QByteArray& piece : line.split('\r')) {
      if (DateValue(QString::fromUtf8(piece), value)) out.insert(value);
      const std::u16string u = platform::Cp1251ToUtf16(std::string_view(piece.constData(), std::size_t(piece.size())));
      if (DateValue(QString::fromStdU16String(u), value)) out.insert(value);
    }
  }
}

void CollectDir(const QString& dir, std::set<QString>& out) {
  QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) CollectFile(it.next(), out);
}

std::set<QString> CorpusDates() {
  std::set<QString> out;
  const QString root = QStringLiteral(TREVOLAN_SOURCE_DIR);
  CollectDir(root + u"/tests/data"_qs, out);
  CollectDir(root + u"/fuzz/gedcom/corpus"_qs, out);
  CollectDir(root + u"/samples"_qs, out);
  CollectDir(QStringLiteral(TREVOLAN_TESTDATA_DIR "/gedcom"), out);
  return out;
}

std::set<QString> SyntheticDates() {
  std::set<QString> out;
  for (const bool utf8 : {true, false}) {
    const std::string bytes = synth::MakeTree(3000, utf8);
    QString value;
    for (const std::string_view line : {std::string_view(bytes)}) {
      std::size_t from = 0;
      while (from < line.size()) {
        std::size_t to = line.find('\n', from);
        if (to == std::string_view::npos) to = line.size();
        const std::string_view l = line.substr(from, to - from);
        const QString text = utf8 ? QString::fromUtf8(l.data(), qsizetype(l.size()))
                                  : QString::fromStdU16String(platform::Cp1251ToUtf16(l));
        if (DateValue(text, value)) out.insert(value);
        from = to + 1;
      }
    }
  }
  return out;
}

// Month words in every form of the parser's tables, plus words that only look like them.
std::vector<QString> MonthWordsAllForms() {
  const std::vector<QString> upper = {
      u"JAN"_qs, u"FEB"_qs, u"MAR"_qs, u"APR"_qs, u"MAY"_qs, u"JUN"_qs, u"JUL"_qs, u"AUG"_qs, u"SEP"_qs,
      u"OCT"_qs, u"NOV"_qs, u"DEC"_qs,
      u"СІЧНЯ"_qs, u"ЛЮТОГО"_qs, u"БЕРЕЗНЯ"_qs, u"КВІТНЯ"_qs, u"ТРАВНЯ"_qs, u"ЧЕРВНЯ"_qs, u"ЛИПНЯ"_qs,
      u"СЕРПНЯ"_qs, u"ВЕРЕСНЯ"_qs, u"ЖОВТНЯ"_qs, u"ЛИСТОПАДА"_qs, u"ГРУДНЯ"_qs,
      u"СІЧЕНЬ"_qs, u"ЛЮТИЙ"_qs, u"БЕРЕЗЕНЬ"_qs, u"КВІТЕНЬ"_qs, u"ТРАВЕНЬ"_qs, u"ЧЕРВЕНЬ"_qs, u"ЛИПЕНЬ"_qs,
      u"СЕРПЕНЬ"_qs, u"ВЕРЕСЕНЬ"_qs, u"ЖОВТЕНЬ"_qs, u"ЛИСТОПАД"_qs, u"ГРУДЕНЬ"_qs,
      u"СІЧ"_qs, u"ЛЮТ"_qs, u"БЕР"_qs, u"КВІ"_qs, u"ТРА"_qs, u"ЧЕР"_qs, u"ЛИП"_qs, u"СЕР"_qs, u"ВЕР"_qs,
      u"ЖОВ"_qs, u"ЛИС"_qs, u"ГРУ"_qs,
      u"ЯНВАРЯ"_qs, u"ФЕВРАЛЯ"_qs, u"МАРТА"_qs, u"АПРЕЛЯ"_qs, u"МАЯ"_qs, u"ИЮНЯ"_qs, u"ИЮЛЯ"_qs,
      u"АВГУСТА"_qs, u"СЕНТЯБРЯ"_qs, u"ОКТЯБРЯ"_qs, u"НОЯБРЯ"_qs, u"ДЕКАБРЯ"_qs,
      u"ЯНВАРЬ"_qs, u"ФЕВРАЛЬ"_qs, u"МАРТ"_qs, u"АПРЕЛЬ"_qs, u"МАЙ"_qs, u"ИЮНЬ"_qs, u"ИЮЛЬ"_qs,
      u"АВГУСТ"_qs, u"СЕНТЯБРЬ"_qs, u"ОКТЯБРЬ"_qs, u"НОЯБРЬ"_qs, u"ДЕКАБРЬ"_qs,
      u"ЯНВ"_qs, u"ФЕВ"_qs, u"МАР"_qs, u"АПР"_qs, u"МАЙ"_qs, u"ИЮН"_qs, u"ИЮЛ"_qs, u"АВГ"_qs, u"СЕН"_qs,
      u"ОКТ"_qs, u"НОЯ"_qs, u"ДЕК"_qs,
      // not month words, or longer than one
      u"JANUARY"_qs, u"MARCH"_qs, u"SEPT"_qs, u"JA"_qs, u"ЯНВАРЯЯ"_qs, u"СІЧЕНЬЬ"_qs, u"ЁЛКИ"_qs, u"ЇЖАК"_qs,
      u"ІЮЛЯ"_qs, u"ВЕРЕСЕН"_qs, u"JANFEB"_qs, u"МАЯJAN"_qs, u"X"_qs, u"Ё"_qs, u"І"_qs};
  std::vector<QString> out;
  for (const QString& w : upper) {
    out.push_back(w);
    out.push_back(w.toLower());
    out.push_back(w.left(1) + w.mid(1).toLower());
  }
  return out;
}

std::set<QString> GeneratedDates() {
  std::set<QString> out;
  const std::vector<QString> days = {u""_qs, u"1"_qs, u"01"_qs, u"9"_qs, u"12"_qs, u"31"_qs, u"0"_qs, u"00"_qs,
                                     u"?"_qs, u"1?"_qs, u"123"_qs, u"3O"_qs, u"-1"_qs};
  const std::vector<QString> years = {u"1900"_qs, u"1700"_qs, u"2026"_qs, u"850"_qs,  u"19??"_qs, u"0"_qs,
                                      u""_qs,     u"12345"_qs, u"1900/01"_qs, u"-1"_qs, u"19O0"_qs, u"0000"_qs,
                                      u"9999"_qs, u"1"_qs,    u"?"_qs};
  const std::vector<QString> months = MonthWordsAllForms();

  // Day, month word and year: every word with a few days and years, every day and year with a few words.
  for (const QString& m : months) {
    for (const QString& y : {u"1900"_qs, u"850"_qs, u""_qs, u"19??"_qs}) {
      for (const QString& d : {u""_qs, u"5"_qs, u"12"_qs, u"0"_qs}) {
        out.insert(TrimCtl(d + u' ' + m + u' ' + y));
        out.insert(d + m + y);
        out.insert(d + u'.' + m + u'.' + y);
      }
    }
  }
  const std::vector<QString> bodies0 = [&] {
    std::vector<QString> b;
    for (const QString& d : days)
      for (const QString& y : years)
        for (const QString& m : {u"JAN"_qs, u"feb"_qs, u"МАЯ"_qs, u"листопада"_qs, u"Dec"_qs, u"МАЙ"_qs, u""_qs}) {
          b.push_back(TrimCtl(d + u' ' + m + u' ' + y));
        }
    for (const QString& d : days)
      for (const QString& y : years)
        for (const QString& m : {u"05"_qs, u"5"_qs, u"12"_qs, u"13"_qs, u"?"_qs, u""_qs}) {
          b.push_back(d + u'.' + m + u'.' + y);
          b.push_back(m + u'.' + y);
          b.push_back(d + m + y);
        }
    return b;
  }();
  for (const QString& b : bodies0) out.insert(b);

  // Qualifiers before a date, and two-date forms.
  const std::vector<QString> singles = {u"ABT "_qs,   u"EST "_qs,   u"CAL "_qs,   u"BEF "_qs,  u"AFT "_qs,
                                        u"FROM "_qs,  u"TO "_qs,    u"INT "_qs,   u"abt "_qs,  u"Bef "_qs,
                                        u"ABT"_qs,    u"ABT  "_qs,  u"около "_qs, u"до "_qs,   u"после "_qs,
                                        u"близько "_qs, u"бл. "_qs, u"приблизно: "_qs, u"приблизительно "_qs,
                                        u"вирахувано: "_qs, u"після "_qs, u"з "_qs, u"від "_qs, u"от "_qs,
                                        u"по "_qs,    u"с "_qs,     u"~"_qs,      u"<"_qs,     u">"_qs,
                                        u"="_qs,      u"-"_qs,      u"("_qs,      u"ABT BEF "_qs, u"OR "_qs};
  const std::vector<QString> few = {u"1900"_qs, u"12 JAN 1900"_qs, u"JAN 1900"_qs, u"5 мая 1900"_qs,
                                    u"12.05.1900"_qs, u"05.1900"_qs, u"1 JAN"_qs, u"19??"_qs, u""_qs,
                                    u"850"_qs, u"2026"_qs, u"31 FEB 1900"_qs, u"3 березня 1899"_qs,
                                    u"12.05."_qs, u".05.1900"_qs, u"1.5.1900"_qs, u"19000512"_qs};
  for (const QString& q : singles) {
    for (const QString& b : few) out.insert(q + b);
    for (std::size_t i = 0; i < bodies0.size(); i += 7) out.insert(q + bodies0[i]);
  }
  const std::vector<std::pair<QString, QString>> pairs = {
      {u"BET "_qs, u" AND "_qs}, {u"FROM "_qs, u" TO "_qs}, {u""_qs, u" OR "_qs}, {u"между "_qs, u" и "_qs},
      {u"між "_qs, u" і "_qs},    {u"с "_qs, u" по "_qs},    {u"з "_qs, u" до "_qs},  {u""_qs, u" - "_qs},
      {u""_qs, u"-"_qs},          {u"bet "_qs, u" and "_qs}, {u""_qs, u" или "_qs}, {u""_qs, u" або "_qs},
      {u"BET "_qs, u" "_qs},      {u"от "_qs, u" к "_qs},    {u"ABT "_qs, u" OR "_qs}, {u"FROM "_qs, u" AND "_qs}};
  for (const auto& [a, b] : pairs)
    for (const QString& x : few)
      for (const QString& y : few) out.insert(a + x + b + y);

  // Calendar escapes, B.C., parentheses and blanks around and inside.
  const std::vector<QString> escapes = {u"@#DGREGORIAN@ "_qs, u"@#DJULIAN@ "_qs, u"@#DHEBREW@ "_qs,
                                        u"@#DFRENCH R@ "_qs,  u"@#DROMAN@ "_qs,  u"@#DUNKNOWN@ "_qs,
                                        u"@#djulian@ "_qs,    u"@#DJULIAN@"_qs,  u"@#DXYZ@ "_qs,
                                        u"@#D"_qs,            u"@"_qs,           u"@#DJULIAN@ @#DHEBREW@ "_qs};
  for (const QString& e : escapes) {
    for (const QString& b : few) {
      out.insert(e + b);
      out.insert(u"ABT "_qs + e + b);
      out.insert(b + u' ' + e);
    }
    out.insert(e + u"BET 1900 AND 1910"_qs);
    out.insert(e + u"ABT 1900"_qs);
  }
  for (const QString& b : few) {
    out.insert(b + u" B.C."_qs);
    out.insert(u"ABT "_qs + b + u" B.C."_qs);
    out.insert(b + u"B.C."_qs);
    out.insert(u'(' + b + u')');
    out.insert(u"(ABT "_qs + b + u')');
    out.insert(u"( "_qs + b + u" )"_qs);
    out.insert(u'(' + b);
    out.insert(b + u')');
    out.insert(u"  "_qs + b + u"  "_qs);
    out.insert(u'\t' + b + u"\r\n"_qs);
    out.insert(QString(b).replace(u' ', u"   "_qs));
    out.insert(QString(b).replace(u' ', u'\t'));
    out.insert(QString(b).replace(u' ', QChar(0xA0)));
    out.insert(QString(b).replace(u' ', u","_qs));
    out.insert(QString(b).replace(u' ', u"/"_qs));
    out.insert(b + u" (phrase)"_qs);
  }
  for (const char* t : {"(unknown)", "(около 1900)", "(1900)", "()", "(", ")", "B.C.", "b.c.", "100 B.C.",
                        "ABT 100 b.c.", " ", "\t", ".", "..", "...", "?", "??.??.????", "00.00.0000",
                        "29.02.1900", "29.02.2000", "31.12.9999", "01.01.0001", "1.1.1", "1.1.", ".1.",
                        "1900..1910", "1900=1910", "=1900", "1900=", "<>", "~~1900", "1900 1910", "19 00",
                        "ABT 1900 - 1910", "BEF 1900 AND AFT 1910", "1900 OR 1910 OR 1920", "1 2 3 4",
                        "1900-", "-1900", "1900--1910", "12.05.1900-", "С 1900 ПО 1910", "ОКОЛО", "ABT",
                        "MAY", "mAy", "1900 ABT", "1 JAN 1900 ABT", "31 ДЕКАБРЯ 1999", "1 ЯНВАРЯ 2000",
                        "Ⅻ 1900", "ß 1900", "ﬁ 1900", "１９００", "1900\u0301", "İ 1900", "ǅ 1900"})
    out.insert(QString::fromUtf8(t));

  // Every day of every month in leap and common years, as digits and with month words.
  static const char* const kMon[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  for (const int y : {1, 4, 100, 1600, 1700, 1899, 1900, 1904, 2000, 2024, 2100, 9999}) {
    const QString ys = QStringLiteral("%1").arg(y, 4, 10, QLatin1Char('0'));
    for (int m = 0; m <= 13; ++m) {
      for (int d = 0; d <= 32; ++d) {
        out.insert(QStringLiteral("%1.%2.").arg(d, 2, 10, QLatin1Char('0')).arg(m, 2, 10, QLatin1Char('0')) + ys);
        if (m >= 1 && m <= 12) out.insert(QString::number(d) + u' ' + QLatin1String(kMon[m - 1]) + u' ' + ys);
      }
    }
  }
  for (const char* t : {"+1.01.1900", "01.+1.1900", "01.01.+900", "-1.01.1900", "01.01.-900", "1.01.1900",
                        "01.1.1900", "01.01.19000", "01/01/1900", "01-01-1900", "010.1.1900"})
    out.insert(QString::fromUtf8(t));

  // Random texts over the parser's own vocabulary and separators, with a fixed seed.
  const std::vector<QString> vocab = {
      u"ABT"_qs, u"EST"_qs, u"CAL"_qs, u"BET"_qs, u"BEF"_qs, u"AFT"_qs, u"FROM"_qs, u"TO"_qs, u"AND"_qs,
      u"OR"_qs,  u"INT"_qs, u"JAN"_qs, u"may"_qs, u"Dec"_qs, u"МАЯ"_qs, u"листопада"_qs, u"січень"_qs,
      u"ОКОЛО"_qs, u"до"_qs, u"по"_qs, u"и"_qs, u"і"_qs, u"B.C."_qs, u"1900"_qs, u"12"_qs, u"5"_qs,
      u"05"_qs, u"850"_qs, u"??"_qs, u"@#DJULIAN@"_qs, u"("_qs, u")"_qs, u"."_qs, u"-"_qs, u"~"_qs,
      u"<"_qs, u">"_qs, u"="_qs, u"0"_qs, u"19O0"_qs, u"ЁЖ"_qs};
  const std::vector<QString> seps = {u" "_qs, u""_qs, u"  "_qs, u"."_qs, u" "_qs, u" "_qs};
  std::mt19937 rng(20261211);
  for (int i = 0; i < 20000; ++i) {
    QString t;
    const int words = 1 + int(rng() % 6);
    for (int k = 0; k < words; ++k) {
      if (k) t += seps[rng() % seps.size()];
      t += vocab[rng() % vocab.size()];
    }
    out.insert(t);
  }
  return out;
}

void ExpectSame(const QString& text, const TDateContext& ctx, int& mismatches) {
  const TDATES a = GDate_RDates(text, ctx);
  const TDATES b = reference_parser::GDate_RDatesReference(text, ctx);
  const bool same = a.ORIG == b.ORIG && a.NORM == b.NORM && a.SORT1 == b.SORT1 && a.SORT2 == b.SORT2 &&
                    a.STYPE == b.STYPE && a.YEARS == b.YEARS && a.DDATE == b.DDATE && a.CALEN == b.CALEN &&
                    a.ORIG.isNull() == b.ORIG.isNull();
  if (!same && ++mismatches <= 20) {
    ADD_FAILURE() << "date text \"" << text.toStdString() << "\" today " << ctx.today.toStdString()
                  << "\n  NORM  " << a.NORM.toStdString() << " | " << b.NORM.toStdString()
                  << "\n  SORT1 " << a.SORT1.toStdString() << " | " << b.SORT1.toStdString()
                  << "\n  SORT2 " << a.SORT2.toStdString() << " | " << b.SORT2.toStdString()
                  << "\n  STYPE " << a.STYPE.toStdString() << " | " << b.STYPE.toStdString()
                  << "\n  YEARS " << a.YEARS.toStdString() << " | " << b.YEARS.toStdString()
                  << "\n  DDATE " << a.DDATE << " | " << b.DDATE
                  << "\n  CALEN " << a.CALEN.toStdString() << " | " << b.CALEN.toStdString();
  }
}

// Two todays: one far from every year of the texts, one inside them, so that the year rule that compares
// with the current year is taken both ways.
const TDateContext kContexts[] = {TDateContext::ForDate(QDate(2026, 12, 10)),
                                  TDateContext::ForDate(QDate(1900, 5, 12))};

// Contexts that no clock gives, for the rules that use today's text as it is.
const TDateContext kOddContexts[] = {TDateContext{QString(), QString()},
                                     TDateContext{u"2026121"_qs, u"2026"_qs},
                                     TDateContext{u"202612101"_qs, u"2026"_qs}};

int CompareAll(const std::set<QString>& texts, bool odd = false) {
  int mismatches = 0;
  for (const TDateContext& ctx : kContexts)
    for (const QString& t : texts) ExpectSame(t, ctx, mismatches);
  if (odd)
    for (const TDateContext& ctx : kOddContexts)
      for (const QString& t : texts) ExpectSame(t, ctx, mismatches);
  return mismatches;
}

TEST(GDateFastPath, SameAsGeneralForEveryCorpusDate) {
  const std::set<QString> texts = CorpusDates();
  std::cout << "corpus date texts: " << texts.size() << "\n";
  // The corpora hold close to a thousand distinct dates; far fewer means that the files were not found.
  EXPECT_GT(texts.size(), 500u);
  std::set<QString> variants;
  for (const QString& t : texts) {
    variants.insert(t.toLower());
    variants.insert(u"  "_qs + t + u' ');
  }
  EXPECT_EQ(CompareAll(texts, true), 0);
  EXPECT_EQ(CompareAll(variants), 0);
}

TEST(GDateFastPath, SameAsGeneralForSyntheticDates) {
  const std::set<QString> texts = SyntheticDates();
  std::cout << "synthetic date texts: " << texts.size() << "\n";
  EXPECT_GT(texts.size(), 1000u);
  EXPECT_EQ(CompareAll(texts, true), 0);
}

TEST(GDateFastPath, SameAsGeneralForGeneratedCombinations) {
  const std::set<QString> texts = GeneratedDates();
  std::cout << "generated date texts: " << texts.size() << "\n";
  EXPECT_GT(texts.size(), 20000u);
  EXPECT_EQ(CompareAll(texts), 0);
}

// The comparison itself must be able to fail: a changed rule in a copy of the general algorithm shows.
TEST(GDateFastPath, ComparisonSeesADifference) {
  const TDateContext& ctx = kContexts[0];
  TDATES a = GDate_RDates(u"ABT 12 JAN 1900"_qs, ctx);
  const TDATES b = reference_parser::GDate_RDatesReference(u"ABT 12 JAN 1900"_qs, ctx);
  EXPECT_EQ(a.NORM, b.NORM);
  EXPECT_EQ(a.NORM, u"~12.01.1900"_qs);
  a.SORT2 = u"19000113"_qs;
  EXPECT_NE(a.SORT2, b.SORT2);
}

}  // namespace
