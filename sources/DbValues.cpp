// Value readers shared by the genealogy database readers; see DbValues.h.
#include "sources/DbValues.h"

#include "app/core/UnitFunc.h"

#include <QDate>

#include <cmath>
#include <utility>

namespace dbvalues {

using platform::TSqliteValue;

QString Text(const TSqliteValue& v) {
  if (v.GetKind() == TSqliteValue::Kind::Text) return Utf8Bytes(v.AsBytes());
  if (v.GetKind() == TSqliteValue::Kind::Integer || v.GetKind() == TSqliteValue::Kind::Float)
    return QString::fromStdString(v.AsString());
  return QString();
}

QString Utf8Bytes(const std::string& bytes) {
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string Utf16LeOf(const QString& text) {
  std::string b;
  b.reserve(std::size_t(text.size()) * 2);
  for (QChar c : text) {
    b.push_back(char(c.unicode() & 0xFF));
    b.push_back(char(c.unicode() >> 8));
  }
  return b;
}

QString Utf16LeBytes(const std::string& bytes) {
  QString r;
  const std::size_t n = bytes.size() / 2;
  r.reserve(static_cast<qsizetype>(n));
  for (std::size_t i = 0; i < n; ++i) {
    const auto lo = static_cast<unsigned char>(bytes[2 * i]);
    const auto hi = static_cast<unsigned char>(bytes[2 * i + 1]);
    const char16_t c = static_cast<char16_t>(lo | (hi << 8));
    if (c == 0) break;
    r.append(QChar(c));
  }
  return r;
}

QString IdText(const TSqliteValue& v) {
  switch (v.GetKind()) {
    case TSqliteValue::Kind::Integer:
      return QString::number(v.AsInteger());
    case TSqliteValue::Kind::Float: {
      const double f = v.AsFloat();
      if (f == std::trunc(f) && std::fabs(f) < 9e18) return QString::number(static_cast<qint64>(f));
      return QString::fromStdString(v.AsString());
    }
    case TSqliteValue::Kind::Text:
      return Utf8Bytes(v.AsBytes()).trimmed();
    default:
      return QString();
  }
}

namespace {

// Julian day of 30 December 1899 00:00, the day count's origin.
constexpr double kJulianOfOrigin = 2415018.5;
// Julian days of 1 January 0001 and of 31 December 9999 (end of day).
constexpr double kJulianFirst = 1721425.5;
constexpr double kJulianLast = 5373484.5;

TDateTime FromJulian(double jd) {
  if (!std::isfinite(jd) || jd < kJulianFirst || jd > kJulianLast) return 0;
  const double days = jd - kJulianOfOrigin;
  // 0 is "no date" in the model; a stamp that falls exactly on the origin is one millisecond later.
  return days == 0 ? 1.0 / 86400000.0 : days;
}

bool Digits(QStringView s, int& out) {
  if (s.isEmpty()) return false;
  int v = 0;
  for (QChar c : s) {
    if (c < u'0' || c > u'9') return false;
    v = v * 10 + (c.unicode() - u'0');
  }
  out = v;
  return true;
}

TDateTime FromIso(const QString& text) {
  const QString t = text.trimmed();
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  double frac = 0;
  if (t.size() < 10 || t[4] != u'-' || t[7] != u'-' || !Digits(QStringView(t).mid(0, 4), y) ||
      !Digits(QStringView(t).mid(5, 2), mo) || !Digits(QStringView(t).mid(8, 2), d))
    return 0;
  qsizetype i = 10;
  if (i < t.size() && (t[i] == u'T' || t[i] == u' ')) {
    if (t.size() < i + 6 || t[i + 3] != u':' || !Digits(QStringView(t).mid(i + 1, 2), h) ||
        !Digits(QStringView(t).mid(i + 4, 2), mi))
      return 0;
    i += 6;
    if (i < t.size() && t[i] == u':') {
      if (t.size() < i + 3 || !Digits(QStringView(t).mid(i + 1, 2), s)) return 0;
      i += 3;
      if (i < t.size() && t[i] == u'.') {
        qsizetype j = i + 1;
        double scale = 0.1;
        while (j < t.size() && t[j] >= u'0' && t[j] <= u'9') {
          frac += scale * (t[j].unicode() - u'0');
          scale /= 10;
          ++j;
        }
        i = j;
      }
    }
  }
  // What may follow is a zone ("Z", "+hh:mm", "-hhmm"); the stamps are shown as written, so it is ignored.
  if (i < t.size() && t[i] != u'Z' && t[i] != u'z' && t[i] != u'+' && t[i] != u'-') return 0;
  const QDate date(y, mo, d);
  if (!date.isValid() || y < 1 || h > 23 || mi > 59 || s > 59) return 0;
  const double days = static_cast<double>(QDate(1899, 12, 30).daysTo(date));
  const double time = (h * 3600.0 + mi * 60.0 + s + frac) / 86400.0;
  const double r = days + (days < 0 ? -time : time);
  return r == 0 ? 1.0 / 86400000.0 : r;
}

}  // namespace

TDateTime DateTime(const TSqliteValue& v) {
  switch (v.GetKind()) {
    case TSqliteValue::Kind::Integer:
    case TSqliteValue::Kind::Float:
      return FromJulian(v.AsFloat());
    case TSqliteValue::Kind::Text: {
      const TDateTime iso = FromIso(Utf8Bytes(v.AsBytes()));
      if (iso != 0) return iso;
      const double jd = v.AsFloat();
      return jd != 0 ? FromJulian(jd) : 0;
    }
    default:
      return 0;
  }
}

QString CrLfToBlank(const QString& text) {
  QString r = text;
  r.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
  return r;
}

void SetGedcomDateText(TDATES& d, int type, bool isJulian, bool isDateBC) {
  // Literal texts: a date costs no allocation for its words.
  struct Form {
    QString symbol, word, wordBlank;
  };
  static const Form kForms[9] = {
      {QString(), QString(), QString()},
      {QStringLiteral("~"), QStringLiteral("ABT"), QStringLiteral("ABT ")},
      {QStringLiteral("<"), QStringLiteral("BEF"), QStringLiteral("BEF ")},
      {QStringLiteral(">"), QStringLiteral("AFT"), QStringLiteral("AFT ")},
      {QStringLiteral(".."), QStringLiteral("BET"), QStringLiteral("BET ")},
      {QStringLiteral("("), QStringLiteral("OR"), QStringLiteral("OR ")},
      {QStringLiteral("~"), QStringLiteral("CAL"), QStringLiteral("CAL ")},
      {QStringLiteral("~"), QStringLiteral("EST"), QStringLiteral("EST ")},
      {QStringLiteral("-"), QStringLiteral("FROM"), QStringLiteral("FROM ")}};
  static const char16_t* const kMonths[12] = {u"JAN", u"FEB", u"MAR", u"APR", u"MAY", u"JUN",
                                              u"JUL", u"AUG", u"SEP", u"OCT", u"NOV", u"DEC"};
  d.STYPE = isDateBC ? QStringLiteral("B.C.") : QString();
  if (type >= 1 && type <= 8) d.STYPE = kForms[type].word;

  QString g;
  switch (type) {
    case dtAbout:
    case dtBefore:
    case dtAfter:
    case dtCalculated:
    case dtEstimated:
      g = QString(d.NORM).replace(kForms[type].symbol, kForms[type].wordBlank);
      break;
    case dtBetween:
      g = QStringLiteral("BET ") + QString(d.NORM).replace(QStringLiteral(".."), QStringLiteral(" AND "));
      break;
    case dtOr:
      g = QString(d.NORM).replace(u'(', QStringLiteral(" OR ")).remove(u')');
      break;
    case dtFromTo:
      g = QStringLiteral("FROM ") + QString(d.NORM).replace(u'-', QStringLiteral(" TO "));
      break;
    default:
      g = d.NORM;
  }
  g.remove(u'?');
  // The month of the first date only: the first ".mm." becomes " MON ".
  const QString m = SplitPart(2, g, u'.');
  bool ok = false;
  const int month = m.toInt(&ok);
  if (ok && month >= 1 && month <= 12) {
    const QString from = u'.' + m + u'.';
    const qsizetype at = g.indexOf(from);
    if (at >= 0) g.replace(at, from.size(), u' ' + QString::fromUtf16(kMonths[month - 1]) + u' ');
  }
  if (isJulian) g = QStringLiteral("@#DJULIAN@ ") + g;
  d.ORIG = g;
}

TDATES At4Date(const QString& shortText, int day, int month, int year, int type, bool isJulian, bool isDateBC,
               const TDateContext& today) {
  QString s = shortText.trimmed();
  const int n = PartCount(s, u'.');
  // An exact date is rewritten from its numbers, but only with a year four digits hold: an unknown year
  // (0) would become the year 0000 and a day that never was, a longer one a garbled text.
  if (type == dtExact && n == 3 && day > 0 && month > 0 && year >= 1 && year <= 9999)
    s = ZeroPadInt(day, 2) + u'.' + ZeroPadInt(month, 2) + u'.' + ZeroPadInt(year, 4);
  // Unknown parts are written "?" (and a month and year alone as "mm.yyyy"): widened to the display
  // form "??.mm.yyyy", "dd.??.yyyy", "dd.mm.????".
  if (n == 2 && type != dtAfter) {
    s = QStringLiteral("??.") + s;
  } else if (n == 3 && s.contains(u'?')) {
    if (SplitPart(1, s, u'.') == u"?") s = QStringLiteral("??.") + s.mid(2, 100);
    if (SplitPart(2, s, u'.') == u"?") s = s.left(3) + QStringLiteral("??") + s.mid(4);
    if (SplitPart(3, s, u'.') == u"?") s = s.left(6) + QStringLiteral("????");
  }
  TDATES r;
  r.NORM = s;
  // The lower and upper bound, by the first symbol the text holds.
  QString a, b;
  if (s.isEmpty()) {
    a = QStringLiteral("00000000");
    b = today.today;
  } else if (const qsizetype at = s.indexOf(QStringLiteral("..")); at >= 0) {
    a = SortKeyFromDateText(s.left(at));
    b = SortKeyFromDateText(s.mid(at + 2, 20));
  } else if (s.contains(u'-')) {
    a = SortKeyFromDateText(SplitPart(1, s, u'-'));
    b = SortKeyFromDateText(SplitPart(2, s, u'-'));
  } else if (s.contains(u'<')) {
    a = QStringLiteral("00000000");
    b = SortKeyFromDateText(SplitPart(2, s, u'<'));
  } else if (s.contains(u'>')) {
    a = SortKeyFromDateText(SplitPart(2, s, u'>'));
    b = today.today;
  } else if (s.contains(u'~')) {
    a = SortKeyFromDateText(SplitPart(2, s, u'~'));
    b = a;
  } else if (s.contains(u'(')) {
    a = SortKeyFromDateText(SplitPart(1, s, {u'(', u')'}));
    b = SortKeyFromDateText(SplitPart(2, s, {u'(', u')'}));
    if (a > b) std::swap(a, b);
  } else if (isDateBC) {
    a = u'-' + s;
    b = a;
  } else {
    a = SortKeyFromDateText(s);
    b = a == u"00000000" ? today.today : a;
  }
  r.DDATE = DmyToDate(s);
  if (a.size() == 8)
    r.SORT1 = QString(a).replace(u'?', u'0');
  else if (a.size() == 4)
    r.SORT1 = a + QStringLiteral("0000");
  r.SORT2 = b.size() == 8 ? QString(b).replace(u'?', u'9') : b + QStringLiteral("9999");
  if (QStringView(a).left(4) != u"0000")
    r.YEARS = a.left(4);
  else if (QStringView(b).left(4) != today.year)
    r.YEARS = b.left(4);
  if (s.isEmpty()) {
    r.NORM = QStringLiteral("?");
  } else {
    bool ok = false;
    r.YEARS.toInt(&ok);
    if (!ok) {
      r.NORM.clear();
      r.YEARS.clear();
      r.SORT1 = QStringLiteral("00000000");
      r.SORT2 = today.today;
    }
  }
  // The GEDCOM text: a qualified date from the short text as widened, any other from the display text.
  TDATES g;
  g.NORM = type >= dtAbout && type <= dtFromTo ? s : r.NORM;
  SetGedcomDateText(g, type, isJulian, isDateBC);
  r.STYPE = g.STYPE;
  r.ORIG = g.ORIG;
  return r;
}

}  // namespace dbvalues
