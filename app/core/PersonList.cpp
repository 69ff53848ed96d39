#include "app/core/PersonList.h"

#include <QCollator>
#include <QLocale>
#include <QSet>
#include <algorithm>

#include "app/core/GDate.h"

using platform::TClientDataSet;
using platform::TFieldDef;
using platform::TFieldType;

std::vector<TFieldDef> PersonFieldDefs() {
  return {{QStringLiteral("fio"), TFieldType::WideString, 100}, {QStringLiteral("id"), TFieldType::String, 10},
          {QStringLiteral("d1"), TFieldType::String, 30},       {QStringLiteral("d2"), TFieldType::String, 0},
          {QStringLiteral("index"), TFieldType::Integer, 0},    {QStringLiteral("isFav"), TFieldType::String, 1},
          {QStringLiteral("sd1"), TFieldType::String, 17},      {QStringLiteral("sd2"), TFieldType::String, 17}};
}

TClientDataSet::Row PersonRow(const TINDI& p, std::int64_t index, bool withFav) {
  const QString q = QStringLiteral("?");
  QString d1 = p.BIRT_DATE.NORM.isEmpty() ? q : p.BIRT_DATE.NORM;
  QString d2 = p.DEAT_DATE.NORM;
  if (d2.isEmpty() && p.DEAT == QLatin1String("+")) d2 = q;
  const QString dash = QStringLiteral("-");
  const QString sd1 = p.BIRT_DATE.SORT1 + dash + p.BIRT_DATE.SORT2;
  const QString sd2 = (p.DEAT_DATE.SORT1 < p.BIRT_DATE.SORT1 ? p.BIRT_DATE.SORT1 : p.DEAT_DATE.SORT1) + dash +
                      p.DEAT_DATE.SORT2;
  return {p.FIO1,
          QString::number(index),
          d1,
          d2,
          QVariant(static_cast<qlonglong>(index)),
          withFav ? p.FAVOR : QString(),
          sd1,
          sd2};
}

void FillPersonRows(const Model& m, TClientDataSet& data, bool withFav,
                    const std::function<void(std::int64_t)>& progress) {
  data.Reserve(m.aIndi.size());
  for (std::size_t i = 1; i < m.aIndi.size(); ++i) {
    data.AppendRecord(PersonRow(m.aIndi[i], static_cast<std::int64_t>(i), withFav));
    if (progress && i % 100 == 0) progress(static_cast<std::int64_t>(i));
  }
}

void PreparePersonsAfterLoad(Model& m) {
  for (std::size_t i = 1; i < m.aIndi.size(); ++i) {
    m.aIndi[i].iPr = -1;
    m.aIndi[i].iPot = -1;
  }
  const auto n = static_cast<std::int64_t>(m.aIndi.size());
  auto key = [&](std::int64_t c) { return c > 0 && c < n ? m.aIndi[c].BIRT_DATE.SORT1 : QString(); };
  for (TFAM& f : m.aFam) {
    if (!f.MARR.isEmpty() && f.MARR_DATE.ORIG.isEmpty()) f.MARR_DATE = GDate_RDates(QString());
    // Equal keys keep their order, as the exchange sort did.
    std::stable_sort(f.CHIL.begin(), f.CHIL.end(),
                     [&](std::int64_t a, std::int64_t b) { return key(a) < key(b); });
  }
}

QStringList CollectPlaces(const Model& m) {
  QSet<QString> seen;
  QStringList out;
  auto add = [&](const QString& s) {
    if (!s.isEmpty() && !seen.contains(s)) {
      seen.insert(s);
      out << s;
    }
  };
  for (std::size_t i = 1; i < m.aIndi.size(); ++i) {
    add(m.aIndi[i].BIRT_PLAC);
    add(m.aIndi[i].DEAT_PLAC);
    add(m.aIndi[i].RESI_PLAC);
  }
  for (const TFAM& f : m.aFam) add(f.MARR_PLAC);
  QCollator coll{QLocale(QLocale::Russian, QLocale::Russia)};
  coll.setCaseSensitivity(Qt::CaseInsensitive);
  std::sort(out.begin(), out.end(), [&](const QString& a, const QString& b) { return coll.compare(a, b) < 0; });
  return out;
}

bool FilterActive(const PersonFilterOptions& o) {
  return (o.nameFilter && !o.text.isEmpty()) || o.favourites || o.living;
}

TClientDataSet::Predicate MakePersonFilter(const PersonFilterOptions& o) {
  QStringList words;
  const bool byName = o.nameFilter && !o.text.isEmpty();
  if (byName) words = o.text.toUpper().split(QLatin1Char(' '), Qt::SkipEmptyParts);
  const bool fav = o.favourites, live = o.living;
  return [words, byName, fav, live](const TClientDataSet& d, int row) {
    if (fav && d.Value(row, pfIsFav).toString().isEmpty()) return false;
    if (live && !d.Value(row, pfD2).toString().isEmpty()) return false;
    if (byName) {
      const QString& name = d.UpperValue(row, pfFio);
      qsizetype from = 0;
      for (const QString& w : words) {
        const qsizetype at = name.indexOf(w, from);
        if (at < 0) return false;
        from = at + w.size();
      }
    }
    return true;
  };
}

namespace {
// Both texts already in upper case.
bool MaskMatchesUpper(const QString& t, const QString& p) {
  qsizetype ti = 0, pi = 0, star = -1, mark = 0;
  while (ti < t.size()) {
    if (pi < p.size() && (p[pi] == QLatin1Char('?') || (p[pi] != QLatin1Char('*') && p[pi] == t[ti]))) {
      ++ti;
      ++pi;
    } else if (pi < p.size() && p[pi] == QLatin1Char('*')) {
      star = pi++;
      mark = ti;
    } else if (star >= 0) {
      pi = star + 1;
      ti = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == QLatin1Char('*')) ++pi;
  return pi == p.size();
}
}  // namespace

bool MaskMatches(const QString& text, const QString& mask) { return MaskMatchesUpper(text.toUpper(), mask.toUpper()); }

std::int64_t FindPersonByText(const Model& m, const QString& text,
                              const std::function<bool(std::int64_t)>& visible) {
  QString p = text;
  p.replace(QLatin1Char(' '), QLatin1Char('*'));
  p = p.toUpper() + QLatin1Char('*');
  const QString anywhere = QLatin1Char('*') + p;
  for (std::size_t i = 1; i < m.aIndi.size(); ++i) {
    const auto idx = static_cast<std::int64_t>(i);
    if (visible && !visible(idx)) continue;
    const QString name = m.aIndi[i].FIO1.toUpper();
    if (MaskMatchesUpper(name, p) || MaskMatchesUpper(name, anywhere)) return idx;
  }
  return 0;
}
