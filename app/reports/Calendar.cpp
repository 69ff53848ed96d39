#include "app/reports/Calendar.h"

#include <cmath>

#include "app/core/UnitFunc.h"
#include "platform/qt/ClientDataSet.h"

namespace {

using platform::TFieldDef;
using platform::TFieldType;

const QString kBirth = QStringLiteral("*");
const QString kDeath = QString(QChar(0x253C));  // "┼"
const QString kMarriage = QStringLiteral("x");

// One event that may give rows, prepared once: its day number, the day and month its display text
// begins with ("dd.mm"; 0 when it does not), and its year for the anniversary.
struct Event {
  std::int64_t day = 0;
  int dd = 0, mm = 0;
  int year = 0;
  QDate date;
  const QString* type = nullptr;
  std::int64_t a = 0, b = 0;  // person, or husband and wife
  bool family = false;
};

int TwoDigits(const QString& s, int at) {
  if (s.size() < at + 2 || !s[at].isDigit() || !s[at + 1].isDigit()) return 0;
  return s[at].digitValue() * 10 + s[at + 1].digitValue();
}

bool MakeEvent(const TDATES& d, const QString* type, Event& e) {
  if (d.DDATE == kUnknownDate) return false;
  e.day = static_cast<std::int64_t>(std::floor(d.DDATE));
  e.date = SerialToDate(static_cast<TDateTime>(e.day));
  if (!e.date.isValid()) return false;
  // The anniversary compares "dd.mm" with the start of the display text.
  if (d.NORM.size() >= 5 && d.NORM[2] == u'.') {
    e.dd = TwoDigits(d.NORM, 0);
    e.mm = TwoDigits(d.NORM, 3);
  }
  bool ok = false;
  e.year = d.YEARS.toInt(&ok);
  if (!ok) e.year = e.date.year();
  e.type = type;
  return true;
}

}  // namespace

std::vector<TCalendarRow> Informer(const Model& m, const TCalendarOptions& o) {
  const QDate today = o.Today.isValid() ? o.Today : QDate::currentDate();
  const std::int64_t first = static_cast<std::int64_t>(std::floor(DateToSerial(today)));
  const std::int64_t persons = static_cast<std::int64_t>(m.aIndi.size());
  const std::int64_t families = static_cast<std::int64_t>(m.aFam.size());
  auto dead = [&](std::int64_t i) { return i > 0 && i < persons && m.aIndi[static_cast<std::size_t>(i)].DEAT == QLatin1String("+"); };
  auto favorite = [&](std::int64_t i) { return i > 0 && i < persons && !m.aIndi[static_cast<std::size_t>(i)].FAVOR.isEmpty(); };

  // The events in the order the days are scanned: per person its birth and death, then the families.
  std::vector<Event> events;
  if (o.Births || o.Deaths) {
    for (std::int64_t j = 1; j < persons; ++j) {
      const TINDI& p = m.aIndi[static_cast<std::size_t>(j)];
      if (o.OnlyFavorites && p.FAVOR.isEmpty()) continue;
      if (o.OnlyAlive && p.DEAT == QLatin1String("+")) continue;
      Event e;
      e.a = j;
      if (o.Births && MakeEvent(p.BIRT_DATE, &kBirth, e)) events.push_back(e);
      if (o.Deaths && p.DEAT == QLatin1String("+") && MakeEvent(p.DEAT_DATE, &kDeath, e)) events.push_back(e);
    }
  }
  if (o.Marriages) {
    for (std::int64_t j = 1; j < families; ++j) {
      const TFAM& f = m.aFam[static_cast<std::size_t>(j)];
      if (f.MARR.isEmpty()) continue;
      if (o.OnlyFavorites && !favorite(f.HUSB) && !favorite(f.WIFE)) continue;
      if (o.OnlyAlive && (dead(f.HUSB) || dead(f.WIFE))) continue;
      Event e;
      e.a = f.HUSB;
      e.b = f.WIFE;
      e.family = true;
      if (MakeEvent(f.MARR_DATE, &kMarriage, e)) events.push_back(e);
    }
  }

  auto fio = [&](std::int64_t i) -> const QString& {
    return m.aIndi[static_cast<std::size_t>(i >= 0 && i < persons ? i : 0)].FIO1;
  };
  std::vector<TCalendarRow> rows;
  for (int i = 0; i <= 730; ++i) {
    const std::int64_t d = first + i;
    const QDate day = today.addDays(i);
    const int dd = day.day(), mm = day.month();
    for (const Event& e : events) {
      const std::int64_t since = d - e.day;
      const bool thousand = since % 1000 == 0;
      const bool anniversary = e.dd == dd && e.mm == mm;
      if (!thousand && !anniversary) continue;
      TCalendarRow r;
      r.DateCalend = day;
      r.DateOrig = e.date;
      r.Persons = e.family ? fio(e.a) + QStringLiteral(" + ") + fio(e.b) : fio(e.a);
      r.Type = *e.type;
      if (thousand) {
        r.Days = static_cast<int>(since);
        rows.push_back(r);
        r.Days.reset();
      }
      if (anniversary) {
        r.Years = day.year() - e.year;
        rows.push_back(std::move(r));
      }
    }
    if (rows.size() > 100) break;
  }
  return rows;
}

std::vector<TReportColumn> CalendarColumns() {
  return {{QStringLiteral("DateCalend"), QStringLiteral("День"), 85},
          {QStringLiteral("DateOrig"), QStringLiteral("Дата"), 85},
          {QStringLiteral("Persons"), QStringLiteral("Участники"), 330},
          {QStringLiteral("Type"), QStringLiteral("Тип"), 40},
          {QStringLiteral("Years"), QStringLiteral("Лет"), 45},
          {QStringLiteral("Days"), QStringLiteral("Дней"), 55}};
}

void CreateCalendarDataSet(platform::TClientDataSet& cds) {
  cds.Close();
  cds.SetFieldDefs({{QStringLiteral("DateCalend"), TFieldType::WideString, 10},
                    {QStringLiteral("DateOrig"), TFieldType::WideString, 10},
                    {QStringLiteral("Persons"), TFieldType::WideString, 120},
                    {QStringLiteral("Type"), TFieldType::WideString, 9},
                    {QStringLiteral("Years"), TFieldType::Integer, 0},
                    {QStringLiteral("Days"), TFieldType::Integer, 0}});
  cds.CreateDataSet();
}

void FillCalendarDataSet(platform::TClientDataSet& cds, const std::vector<TCalendarRow>& rows) {
  CreateCalendarDataSet(cds);
  cds.DisableControls();
  cds.Reserve(rows.size());
  const QString format = QStringLiteral("dd.MM.yyyy");
  for (const TCalendarRow& r : rows)
    cds.AppendRecord({r.DateCalend.toString(format), r.DateOrig.toString(format), CutField(r.Persons, 120), r.Type,
                      r.Years ? QVariant(*r.Years) : QVariant(), r.Days ? QVariant(*r.Days) : QVariant()});
  cds.First();
  cds.EnableControls();
}

bool CalendarJubilee(const std::optional<int>& years, const std::optional<int>& days) {
  return (years && *years % 5 == 0) || (days && *days % 5000 == 0);
}

int CalendarCellStyle(const QString& type, const QString& field, const std::optional<int>& years,
                      const std::optional<int>& days) {
  if ((field == QLatin1String("Years") && years && *years % 5 == 0) ||
      (field == QLatin1String("Days") && days && *days % 5000 == 0))
    return 5;
  if (type == kBirth) return 2;
  if (type == kMarriage) return 3;
  if (type == kDeath) return 4;
  return 0;
}
