#include "app/reports/Statistics.h"

#include <QCollator>
#include <QDate>
#include <QLocale>
#include <QMap>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

#include "app/core/UnitFunc.h"
#include "platform/qt/MessageFormat.h"

QStringList StatMaskParts(const QString& masks) {
  static const QRegularExpression separators(QStringLiteral("[ ,/]+"));
  return masks.split(separators, Qt::SkipEmptyParts);
}

bool MatchesMask(const QString& text, const QString& mask) {
  // Iterative wildcard match with one backtrack point, per UTF-16 unit, case folded per character.
  const QString t = text.toUpper(), p = mask.toUpper();
  qsizetype i = 0, j = 0, star = -1, mark = 0;
  while (i < t.size()) {
    if (j < p.size() && (p[j] == u'?' || p[j] == t[i])) {
      ++i;
      ++j;
    } else if (j < p.size() && p[j] == u'*') {
      star = j++;
      mark = i;
    } else if (star >= 0) {
      j = star + 1;
      i = ++mark;
    } else {
      return false;
    }
  }
  while (j < p.size() && p[j] == u'*') ++j;
  return j == p.size();
}

namespace {

bool MatchesAny(const QString& text, const QStringList& masks) {
  for (const QString& mk : masks)
    if (MatchesMask(text, mk)) return true;
  return false;
}

}  // namespace

TStatResult StatGedcom(const Model& m, const TStatOptions& o, const TLangFn& lang) {
  TStatResult r;
  const QString from = QString::number(o.From), to = QString::number(o.To);
  const QStringList names = o.NamesOn ? StatMaskParts(o.Names) : QStringList();
  const QStringList surnames = o.SurnamesOn ? StatMaskParts(o.Surnames) : QStringList();
  QMap<QString, int> counts;
  for (std::size_t i = 1; i < m.aIndi.size(); ++i) {
    const TINDI& p = m.aIndi[i];
    const QString& k = o.Event == 0 ? p.BIRT_DATE.SORT1 : p.DEAT_DATE.SORT1;
    const QString year = k.left(4);
    if (o.FromOn && year < from) continue;
    if (o.ToOn && year > to) continue;
    if (!names.isEmpty() && !MatchesAny(p.FIRS1, names)) continue;
    if (!surnames.isEmpty() && !MatchesAny(p.SURN1, surnames)) continue;
    if (o.Sex == 1 && p.SEX == QLatin1String("F")) continue;
    if (o.Sex == 2 && p.SEX == QLatin1String("M")) continue;
    const QString key = o.Grouping == 0 ? k.mid(4, 4) : o.Grouping == 1 ? year : p.FIRS1;
    ++counts[key];
  }
  QStringList keys = counts.keys();  // sorted as texts
  if (o.Grouping == 2) {
    QCollator collator{QLocale(QLocale::Russian, QLocale::Russia)};
    std::stable_sort(keys.begin(), keys.end(), [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
  }

  if (o.Grouping == 0) {
    const double yearStart = DateToSerial(QDate(2000, 1, 1)), yearEnd = DateToSerial(QDate(2000, 12, 31));
    double prev = yearStart - 1;
    auto bar = [&](double d, int count) {
      r.Bars.push_back({d, count, SerialToDate(d).toString(QStringLiteral("dd.MM"))});
    };
    for (const QString& key : keys) {
      const double d = SortKeyToDate(QStringLiteral("2000") + key, true);
      const int count = counts.value(key);
      if (d > prev) {
        for (double z = prev + 1; z < d; z += 1) bar(z, 0);
        bar(d, count);
        prev = d;
      } else {
        r.Unknown += count;
      }
    }
    // The closing zero bar follows the last day drawn: a key without a valid day draws nothing.
    if (!r.Bars.empty() && prev < yearEnd) bar(yearEnd, 0);
  } else if (o.Grouping == 1) {
    int prev = o.FromOn ? o.From : 0;
    int lastY = 0;
    for (const QString& key : keys) {
      bool ok = false;
      int y = key.toInt(&ok);
      if (!ok) y = 0;
      lastY = y;
      const int count = counts.value(key);
      if (y < 1 || y > 2999) {
        r.Unknown += count;
        continue;
      }
      if (prev == 0) prev = y;
      for (int z = prev + 1; z < y; ++z) r.Bars.push_back({double(z), 0, QString::number(z)});
      r.Bars.push_back({double(y), count, QString::number(y)});
      prev = y;
    }
    if (o.ToOn && !keys.isEmpty() && lastY < o.To) r.Bars.push_back({double(o.To), 0, QString::number(o.To)});
  } else {
    int position = 0;
    for (const QString& key : keys) r.Bars.push_back({double(position++), counts.value(key), key});
  }

  if (r.Unknown > 0 && o.Grouping != 2) {
    const bool byDay = o.Grouping == 0;
    const QString key = byDay ? QStringLiteral("UnknDatePers") : QStringLiteral("UnknYearPers");
    const QString def = byDay ? QStringLiteral("Дата неизвестна: %s персон") : QStringLiteral("Год неизвестен: %s персон");
    const QString text = lang ? lang(key, def) : def;
    r.SubFooter = platform::FormatMsg(text, {QString::number(r.Unknown)});
  }
  return r;
}
