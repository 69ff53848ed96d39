// Small stateless helpers; see UnitFunc.h for the contracts.
#include "app/core/UnitFunc.h"

#include <QColor>
#include <QFont>
#include <QRandomGenerator>
#include <QTextCursor>
#include <QTextDocument>

#include <cmath>
#include <limits>
#include <stdexcept>

namespace {

// Parses an optionally signed decimal integer filling the whole text; false on anything else or overflow.
bool ParseInt64(QStringView s, std::int64_t& out) {
  qsizetype i = 0;
  bool neg = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
    neg = s[i] == u'-';
    ++i;
  }
  if (i >= s.size()) return false;
  std::uint64_t v = 0;
  const std::uint64_t limit = neg ? std::uint64_t(std::numeric_limits<std::int64_t>::max()) + 1
                                  : std::uint64_t(std::numeric_limits<std::int64_t>::max());
  for (; i < s.size(); ++i) {
    const char16_t c = s[i].unicode();
    if (c < u'0' || c > u'9') return false;
    const std::uint64_t digit = c - u'0';
    if (v > (limit - digit) / 10) return false;
    v = v * 10 + digit;
  }
  out = neg ? std::int64_t(0 - v) : std::int64_t(v);
  return true;
}

bool ParseInt(QStringView s, int& out) {
  std::int64_t v = 0;
  if (!ParseInt64(s, v) || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
    return false;
  out = int(v);
  return true;
}

const qint64 kSerialBaseJd = QDate(1899, 12, 30).toJulianDay();

QColor ToQColor(TColor c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

}  // namespace

// ---------------------------------------------------------------- text and fields

QString TrimCtl(const QString& s) {
  qsizetype b = 0;
  qsizetype e = s.size();
  while (b < e && s[b].unicode() <= u' ') ++b;
  while (e > b && s[e - 1].unicode() <= u' ') --e;
  if (b == 0 && e == s.size()) return s;
  return s.mid(b, e - b);
}

QString SplitPart(int n, const QString& text, const TCharSet& delims) {
  if (text.isEmpty()) return QString();
  QString t = text;
  if (delims.Has(u' ')) {
    t = TrimCtl(text);
    // Runs of blanks count as one; the text is rebuilt only when it has such a run.
    if (t.contains(u"  ")) {
      QString squeezed;
      squeezed.reserve(t.size());
      bool prevBlank = false;
      for (QChar c : std::as_const(t)) {
        if (c == u' ') {
          if (prevBlank) continue;
          prevBlank = true;
        } else {
          prevBlank = false;
        }
        squeezed.append(c);
      }
      t = squeezed;
    }
  }
  // Walk the fields; remember the last for n <= 0. A field that is the whole text shares its buffer.
  const auto piece = [&t](qsizetype from, qsizetype to) {
    return from == 0 && to == t.size() ? t : t.mid(from, to - from);
  };
  int field = 1;
  qsizetype start = 0;
  const qsizetype size = t.size();
  const QChar* data = t.constData();
  for (qsizetype i = 0; i <= size; ++i) {
    if (i == size || delims.Has(data[i])) {
      if (n > 0 && field == n) return piece(start, i);
      if (i == size) return n <= 0 ? piece(start, size) : QString();
      ++field;
      start = i + 1;
    }
  }
  return QString();
}

int PartCount(const QString& text, const TCharSet& delims) {
  if (text.isEmpty()) return 0;
  int n = 1;
  for (QChar c : text)
    if (delims.Has(c)) ++n;
  return n;
}

QString PadLeftTo(const QString& text, int width, QChar fill) {
  if (width <= 0) return QString();
  QString r = text.size() < width ? QString(width - text.size(), fill) + text : text;
  return r.left(width);
}

QString ZeroPadInt(std::int64_t value, int width) {
  const QString s = QString::number(value);
  return s.size() < width ? QString(width - s.size(), u'0') + s : s;
}

int CountCharNoCase(const QString& text, QChar c) {
  const QChar lc = c.toLower();
  int n = 0;
  for (QChar t : text)
    if (t.toLower() == lc) ++n;
  return n;
}

int TextScript(const QString& text) {
  int r = 0;
  for (QChar c : text) {
    const char16_t u = c.unicode();
    if (u >= 0x0410) return 2;
    if (u > u'?' && u != u'~') r = 1;
  }
  return r;
}

QString CapitalizeWords(const QString& text, bool eachWord) {
  QString r = text;
  if (!eachWord) {
    for (qsizetype i = 0; i < r.size(); ++i) r[i] = i == 0 ? r[i].toUpper() : r[i].toLower();
    return r;
  }
  const TCharSet delims{u' ', u'(', u')', u',', u'-', u'/'};
  bool wordStart = true;
  for (qsizetype i = 0; i < r.size(); ++i) {
    if (delims.Has(r[i])) {
      wordStart = true;
      continue;
    }
    r[i] = wordStart ? r[i].toUpper() : r[i].toLower();
    wordStart = false;
  }
  return r;
}

namespace {

// Wraps text at width: a line is broken after the last blank, "-" or tab that keeps it within width;
// a piece without such a character stays whole. Existing line breaks end a line.
QStringList WrapAt(const QString& text, int width) {
  QStringList out;
  auto isBreak = [](QChar c) { return c == u' ' || c == u'-' || c == u'\t'; };
  qsizetype i = 0;
  const qsizetype n = text.size();
  while (i <= n) {
    // One source line.
    qsizetype e = i;
    while (e < n && text[e] != u'\r' && text[e] != u'\n') ++e;
    qsizetype s = i;
    while (e - s > width) {
      qsizetype cut = -1;
      for (qsizetype k = s + width - 1; k > s; --k) {
        if (isBreak(text[k])) {
          cut = k + 1;
          break;
        }
      }
      if (cut < 0) {  // no break within width: break at the first break character after it
        for (qsizetype k = s + width; k < e; ++k) {
          if (isBreak(text[k])) {
            cut = k + 1;
            break;
          }
        }
      }
      if (cut < 0 || cut >= e) break;
      out << text.mid(s, cut - s);
      s = cut;
    }
    out << text.mid(s, e - s);
    if (e >= n) break;
    if (text[e] == u'\r' && e + 1 < n && text[e + 1] == u'\n') ++e;
    i = e + 1;
  }
  return out;
}

}  // namespace

int FitTextLines(const QString& text, QStringList* lines, int startWidth, int maxLines) {
  if (maxLines < 1) maxLines = 1;
  int width = startWidth < 1 ? 1 : startWidth;
  QStringList wrapped;
  for (;;) {
    wrapped = WrapAt(text, width);
    // A width at or beyond the text's length cannot wrap any further.
    if (wrapped.size() <= maxLines || width >= text.size()) break;
    ++width;
  }
  if (lines) {
    lines->clear();
    for (const QString& l : wrapped) lines->append(TrimCtl(l));
  }
  return width;
}

int SimilarityPercent(const QString& a, const QString& b) {
  const qsizetype n = std::max(a.size(), b.size());
  if (n == 0) return 0;
  qsizetype count = 0;
  for (qsizetype p = 0; p < n; ++p) {
    if (p < a.size() && p < b.size() && a[p] == b[p]) ++count;
    if (p + 1 == 3 && count == 0) break;
    if (p + 1 == 5 && count == 1) break;
  }
  return int(count * 100 / n);
}

// ---------------------------------------------------------------- dates

TDateTime DateToSerial(const QDate& d) {
  if (!d.isValid()) return kUnknownDate;
  return TDateTime(d.toJulianDay() - kSerialBaseJd);
}

QDate SerialToDate(TDateTime dt) {
  if (!std::isfinite(dt) || dt == kUnknownDate || std::fabs(dt) > 1.0e7) return QDate();
  return QDate::fromJulianDay(kSerialBaseJd + qint64(std::trunc(dt)));
}

QString DateKey(const QDate& d) {
  if (!d.isValid()) return QString();
  return ZeroPadInt(d.year(), 4) + ZeroPadInt(d.month(), 2) + ZeroPadInt(d.day(), 2);
}

namespace {

QDate ValidDate(int y, int m, int d) {
  if (y < 1 || y > 9999) return QDate();
  QDate r(y, m, d);
  return r;
}

// Splits a day count into its date and its time of day in whole seconds (milliseconds rounded).
bool SplitDateTime(TDateTime dt, QDate& date, int& hh, int& mm, int& ss) {
  date = SerialToDate(dt);
  if (!date.isValid()) return false;
  const double frac = std::fabs(dt - std::trunc(dt));
  long long ms = std::llround(frac * 86400000.0);
  if (ms >= 86400000) ms = 86399999;
  const long long secs = ms / 1000;
  hh = int(secs / 3600);
  mm = int(secs / 60 % 60);
  ss = int(secs % 60);
  return true;
}

}  // namespace

TDateTime DmyToDate(const QString& text) {
  if (text.isEmpty()) return kUnknownDate;
  int d = 0, m = 0, y = 0;
  if (text.size() < 7 || !ParseInt(QStringView(text).mid(0, 2), d) ||
      !ParseInt(QStringView(text).mid(3, 2), m) || !ParseInt(QStringView(text).mid(6, 4), y))
    return kUnknownDate;
  const QDate date = ValidDate(y, m, d);
  return date.isValid() ? DateToSerial(date) : kUnknownDate;
}

QString DateTimeToDmy(TDateTime dt) {
  if (dt == 0) return QString();
  QDate date;
  int hh = 0, mm = 0, ss = 0;
  if (!SplitDateTime(dt, date, hh, mm, ss)) return QString();
  QString r = ZeroPadInt(date.day(), 2) + u'.' + ZeroPadInt(date.month(), 2) + u'.' + ZeroPadInt(date.year(), 4);
  if (hh || mm || ss) r += u' ' + ZeroPadInt(hh, 2) + u':' + ZeroPadInt(mm, 2) + u':' + ZeroPadInt(ss, 2);
  return r;
}

QString DateTimeToSortKey(bool withTime, TDateTime dt) {
  if (dt == 0) return QString();
  QDate date;
  int hh = 0, mm = 0, ss = 0;
  if (!SplitDateTime(dt, date, hh, mm, ss)) return QString();
  QString r = DateKey(date);
  if (withTime) r += ZeroPadInt(hh, 2) + ZeroPadInt(mm, 2) + ZeroPadInt(ss, 2);
  return r;
}

TDateTime SortKeyToDate(const QString& key, bool strict) {
  const TDateTime first = DateToSerial(QDate(1, 1, 1));
  if (key.size() < 8) return first;
  if (key[0] > u'3') return DateToSerial(QDate(3200, 1, 1));
  int y = 0, m = 0, d = 0;
  if (!ParseInt(QStringView(key).mid(0, 4), y) || !ParseInt(QStringView(key).mid(4, 2), m) ||
      !ParseInt(QStringView(key).mid(6, 2), d))
    return first;
  if (!strict) {
    if (m > 12) m = 12;
    if (m == 0) m = 1;
    if (d >= 32) d = m == 12 ? 31 : 28;
    if (d == 0) d = 1;
  }
  const QDate date = ValidDate(y, m, d);
  return date.isValid() ? DateToSerial(date) : first;
}

QString SortKeyFromDateText(const QString& text) {
  if (text.size() <= 5) {
    QString t = text;
    if (t.startsWith(u'~')) t = t.mid(1, 5);
    return PadLeftTo(t, 4, u'0');
  }
  if (text.size() == 8 && !text.contains(u'.')) return text.mid(4, 4) + text.mid(2, 2) + text.mid(0, 2);
  // Fields between dots, taken as views: the key is built in one buffer.
  QStringView fields[3];
  int parts = 0;
  qsizetype start = 0;
  for (qsizetype i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == u'.') {
      if (parts == 3) return QStringLiteral("00000000");
      fields[parts++] = QStringView(text).mid(start, i - start);
      start = i + 1;
    }
  }
  if (parts != 2 && parts != 3) return QStringLiteral("00000000");
  QString key;
  key.reserve(8);
  const auto padded = [&key](QStringView v, qsizetype width) {
    for (qsizetype k = v.size(); k < width; ++k) key.append(u'0');
    key.append(v.left(width));  // padded, then cut to the width
  };
  padded(fields[parts - 1], 4);
  padded(fields[parts - 2], 2);
  if (parts == 3) padded(fields[0], 2);
  return key;
}

// ---------------------------------------------------------------- numbers

std::int64_t BinToInt(const QString& digits) {
  std::uint64_t v = 0;
  for (QChar c : digits) v = v * 2 + std::uint64_t(std::int64_t(c.unicode()) - 48);
  return std::int64_t(v);
}

QString IntToBin(std::int64_t value, int n) {
  QString r;
  if (n <= 0) return r;
  r.resize(n);
  const std::uint64_t u = std::uint64_t(value);
  for (int i = 0; i < n; ++i) {
    const int bit = n - 1 - i;
    r[i] = bit < 64 && ((u >> bit) & 1) ? u'1' : u'0';
  }
  return r;
}

std::int64_t XrefNumber(const QString& text) {
  const QString f = SplitPart(2, text, u'@');
  if (f.size() < 2) return 0;
  std::int64_t last = -1;
  for (qsizetype k = 1; k < f.size(); ++k) {
    std::int64_t v = 0;
    last = ParseInt64(QStringView(f).mid(k), v) ? v : -1;
    if (last > 0) return last;
  }
  return last;
}

void ShuffleRange(std::vector<std::int32_t>& a, int n) {
  if (n < 0 || a.size() < std::size_t(n) + 1) throw std::out_of_range("ShuffleRange: array too short");
  for (int i = 0; i <= n; ++i) a[std::size_t(i)] = i;
  for (int r = n; r >= 0; --r) {
    const int j = r > 0 ? int(QRandomGenerator::global()->bounded(r)) : 0;
    std::swap(a[std::size_t(r)], a[std::size_t(j)]);
  }
}

TColor BlendColors(TColor a, TColor b, int c, int d) {
  if (d <= 0 || c < 0 || c > d || (a & ~0xFFFFFF) || (b & ~0xFFFFFF))
    throw std::out_of_range("BlendColors: arguments outside their range");
  TColor r = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const std::int64_t ca = (a >> shift) & 0xFF;
    const std::int64_t cb = (b >> shift) & 0xFF;
    r |= TColor((ca * (d - c) + cb * c) / d) << shift;
  }
  return r;
}

// ---------------------------------------------------------------- display name

QString FormatFullName(const QString& surname, const QString& firstName, const QString& patronymic,
                       const QString& birthSurname, const QString& tmpl) {
  const bool hasBirthSlot = tmpl.contains(u'4');
  QString result;
  for (qsizetype i = 0; i < tmpl.size(); ++i) {
    QString part;
    switch (tmpl[i].unicode()) {
      case u'1':
        part = TrimCtl(surname);
        if (part.isEmpty() && !hasBirthSlot) part = TrimCtl(birthSurname);
        break;
      case u'2':
        part = TrimCtl(firstName);
        if (part.isEmpty()) part = QStringLiteral("...");
        break;
      case u'3':
        part = TrimCtl(patronymic);
        break;
      case u'4':
        part = TrimCtl(birthSurname);
        break;
      default:
        continue;
    }
    if (part.isEmpty()) continue;
    if (i + 1 < tmpl.size() && tmpl[i + 1] == u')') part = u'(' + part + u')';
    if (!result.isEmpty()) result += u' ';
    result += part;
  }
  result = TrimCtl(result);
  return result.isEmpty() ? QStringLiteral("...") : result;
}

// ---------------------------------------------------------------- rich text

void InsertRich(QTextDocument* pane, const QString& text, TColor color, TFontStyles style, bool atEnd,
                TColor backColor) {
  if (!pane) return;
  QTextCursor cur(pane);
  cur.movePosition(atEnd ? QTextCursor::End : QTextCursor::Start);
  InsertRich(cur, text, color, style, backColor);
}

void InsertRich(QTextCursor& cur, const QString& text, TColor color, TFontStyles style, TColor backColor) {
  QTextCharFormat f;
  f.setForeground(ToQColor(color));
  f.setFontWeight(style & fsBold ? QFont::Bold : QFont::Normal);
  f.setFontItalic(style & fsItalic);
  f.setFontUnderline(style & fsUnderline);
  f.setFontStrikeOut(style & fsStrikeOut);
  if (backColor >= 0) {
    f.setFontFamilies({QStringLiteral("Courier New")});
    f.setFontPointSize(10);
    f.setBackground(ToQColor(backColor));
  }
  cur.insertText(text, f);
}

void AppendRich(QTextDocument* pane, const QString& text, TColor color, TFontStyles style, bool atEnd) {
  InsertRich(pane, text, color, style, atEnd, -1);
}

