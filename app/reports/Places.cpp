// Place report: the person pass, the family pass, the text and the map search.
#include "app/reports/Places.h"

#include <QCollator>
#include <QDesktopServices>
#include <QLocale>

#include <algorithm>
#include <set>

namespace {

// The year of a sort key's first four characters as a number; a missing or unreadable key counts as
// year 0, as the key "00000000" of an unknown date does.
int KeyYear(const QString& sortKey) {
  bool ok = false;
  const int y = sortKey.left(4).toInt(&ok);
  return ok ? y : 0;
}

QString Resident(const TINDI& p) {
  return p.FIO1 + QStringLiteral(" (") + p.BIRT_DATE.YEARS + u'-' + p.DEAT_DATE.YEARS + u')';
}

// The map service's search address; the place follows "q=".
const char kMapSearch[] = "https://www.google.com/maps?q=";

}  // namespace

QStringList PlaceEntries(const Model& m, const TPlaceOptions& o) {
  std::set<QString> listed;
  QStringList out;
  const auto add = [&](const QString& text) {
    if (listed.insert(text).second) out << text;
  };
  const auto has = [&](const QString& text) { return listed.count(text) != 0; };

  for (std::size_t j = 1; j < m.aIndi.size(); ++j) {
    const TINDI& p = m.aIndi[j];
    if (o.OnlyFavorites && p.FAVOR.isEmpty()) continue;
    if (p.BIRT_PLAC != o.Place && p.DEAT_PLAC != o.Place && p.RESI_PLAC != o.Place) continue;
    // The years compare as numbers: a person without a death date (year 0) has not lived into any year
    // after 0.
    if (o.FromYearOn && KeyYear(p.DEAT_DATE.SORT1) < o.FromYear) continue;
    if (o.ToYearOn && KeyYear(p.BIRT_DATE.SORT1) > o.ToYear) continue;
    if (o.Residents) {
      add(Resident(p));
    } else if (!p.SURN0.isEmpty() && !has(p.SURN0)) {
      add(p.SURN0);
    } else if (!p.SURN1.isEmpty()) {
      add(p.SURN1);
    }
  }

  // Couples married in the place, whatever the year filter.
  const auto person = [&](std::int64_t i) -> const TINDI& {
    return m.aIndi[i > 0 && i < std::int64_t(m.aIndi.size()) ? std::size_t(i) : 0];
  };
  for (std::size_t j = 1; j < m.aFam.size(); ++j) {
    const TFAM& f = m.aFam[j];
    const TINDI& husb = person(f.HUSB);
    const TINDI& wife = person(f.WIFE);
    if (o.OnlyFavorites && husb.FAVOR.isEmpty() && wife.FAVOR.isEmpty()) continue;
    if (f.MARR_PLAC != o.Place) continue;
    if (!husb.SURN1.isEmpty()) add(o.Residents ? Resident(husb) : husb.SURN1);
    if (!wife.SURN0.isEmpty()) add(o.Residents ? Resident(wife) : wife.SURN0);
  }

  QCollator coll{QLocale(QLocale::Russian, QLocale::Russia)};
  coll.setCaseSensitivity(Qt::CaseInsensitive);
  std::sort(out.begin(), out.end(), [&](const QString& a, const QString& b) {
    const int c = coll.compare(a, b);
    return c != 0 ? c < 0 : a < b;
  });
  return out;
}

QString PlaceReportText(const QStringList& entries, bool residents) {
  return entries.join(residents ? QStringLiteral("\r\n") : QStringLiteral(", "));
}

TUrlOpener DesktopUrlOpener() {
  return [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

QUrl PlaceMapUrl(const QString& place) {
  return QUrl::fromEncoded(QByteArray(kMapSearch) + QUrl::toPercentEncoding(place), QUrl::StrictMode);
}

QString PlacePers(Model& m, const TPlaceOptions& o, const TUrlOpener& opener) {
  m.AbortFlag = false;
  const QString text = PlaceReportText(PlaceEntries(m, o), o.Residents);
  if (o.OpenMap && opener) opener(PlaceMapUrl(o.Place));
  return text;
}
