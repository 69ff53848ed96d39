// The anniversary calendar on generated trees of 100k persons (and 40k families): a tree with exact dates
// spread over three centuries, where the first day already brings more than 100 rows, and the long scan
// of a tree whose persons share one birthday 202 days ahead (202 days of 100k events without a row, then
// 100k rows). Reported: the time of one Informer run and the rows it made.
#include "app/reports/Calendar.h"

#include "app/core/UnitFunc.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

void Exact(TDATES& d, const QDate& day) {
  d.NORM = day.toString(QStringLiteral("dd.MM.yyyy"));
  d.YEARS = QString::number(day.year());
  d.SORT1 = d.SORT2 = DateKey(day);
  d.DDATE = DateToSerial(day);
}

Model MakeTree(int persons, bool oneBirthday) {
  std::mt19937 rng(777u + unsigned(persons));
  Model m;
  m.aIndi.reserve(std::size_t(persons) + 1);
  for (int i = 1; i <= persons; ++i) {
    TINDI p;
    p.FIO1 = QStringLiteral("Фамилия%1 Имя Отчество").arg(i % 997);
    p.SEX = i % 2 ? QStringLiteral("M") : QStringLiteral("F");
    const QDate birth = oneBirthday ? QDate(1990, 7, 1) : QDate(1750, 1, 1).addDays(qint64(rng() % 95000));
    Exact(p.BIRT_DATE, birth);
    if (!oneBirthday && rng() % 3 == 0) {
      p.DEAT = QStringLiteral("+");
      Exact(p.DEAT_DATE, birth.addDays(qint64(rng() % 30000)));
    }
    m.aIndi.push_back(std::move(p));
  }
  for (int f = 1; !oneBirthday && f <= persons * 2 / 5; ++f) {
    TFAM fam;
    fam.HUSB = 1 + std::int64_t(rng() % unsigned(persons));
    fam.WIFE = 1 + std::int64_t(rng() % unsigned(persons));
    fam.MARR = QStringLiteral("x");
    Exact(fam.MARR_DATE, QDate(1770, 1, 1).addDays(qint64(rng() % 90000)));
    m.aFam.push_back(std::move(fam));
  }
  return m;
}

void Run(benchmark::State& state, bool oneBirthday) {
  const Model m = MakeTree(int(state.range(0)), oneBirthday);
  TCalendarOptions o;
  o.Today = QDate(2026, 12, 11);
  std::size_t rows = 0;
  for (auto _ : state) {
    const auto r = Informer(m, o);
    rows = r.size();
    benchmark::DoNotOptimize(rows);
  }
  state.counters["rows"] = double(rows);
}

void BM_CalendarSpreadDates(benchmark::State& state) { Run(state, false); }
void BM_CalendarLongScan(benchmark::State& state) { Run(state, true); }

BENCHMARK(BM_CalendarSpreadDates)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CalendarLongScan)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
