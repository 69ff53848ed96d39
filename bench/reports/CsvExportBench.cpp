// The CSV export of a generated tree of 100k persons (40k families with two or three children each): the
// lines with the default columns (identity, dates, places, parents, one family group per marriage) and
// with all 42 columns, and writing them to a file. Reported: the time and the bytes written.
#include "app/reports/CsvExport.h"

#include "app/core/UnitFunc.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <random>

namespace {

Model MakeTree(int persons) {
  std::mt19937 rng(99u);
  Model m;
  m.aIndi.reserve(std::size_t(persons) + 1);
  for (int i = 1; i <= persons; ++i) {
    TINDI p;
    p.INDI = QStringLiteral("@I%1@").arg(i);
    p.SURN1 = p.SURN0 = QStringLiteral("Фамилия%1").arg(i % 997);
    p.FIRS1 = QStringLiteral("Имя%1").arg(i % 101);
    p.PATR1 = QStringLiteral("Отчество%1").arg(i % 53);
    p.FIO1 = p.SURN1 + u' ' + p.FIRS1 + u' ' + p.PATR1;
    p.GIVN = p.FIRS1 + u' ' + p.PATR1;
    p.SEX = i % 2 ? QStringLiteral("M") : QStringLiteral("F");
    const QDate birth = QDate(1750, 1, 1).addDays(qint64(rng() % 95000));
    p.BIRT_DATE.NORM = birth.toString(QStringLiteral("dd.MM.yyyy"));
    p.BIRT_DATE.YEARS = QString::number(birth.year());
    p.BIRT_PLAC = QStringLiteral("Город%1").arg(i % 300);
    if (i % 3 == 0) {
      p.DEAT = QStringLiteral("+");
      p.DEAT_DATE.NORM = QStringLiteral("~%1").arg(birth.year() + 60);
      p.NOTE = QStringLiteral("Первая строка \"примечания\"\r\nвторая строка");
    }
    m.aIndi.push_back(std::move(p));
  }
  for (int f = 1; f <= persons * 2 / 5; ++f) {
    TFAM fam;
    fam.HUSB = 1 + 2 * std::int64_t(rng() % unsigned(persons / 2));
    fam.WIFE = 2 + 2 * std::int64_t(rng() % unsigned(persons / 2 - 1));
    fam.MARR = QStringLiteral("x");
    fam.MARR_DATE.NORM = QStringLiteral("%1").arg(1770 + int(rng() % 250));
    for (int c = 0; c < 2 + int(rng() % 2); ++c) {
      const std::int64_t k = 1 + std::int64_t(rng() % unsigned(persons));
      fam.CHIL.push_back(k);
      m.aIndi[std::size_t(k)].FAMC = f;
    }
    m.aIndi[std::size_t(fam.HUSB)].FAMS.push_back(f);
    m.aIndi[std::size_t(fam.WIFE)].FAMS.push_back(f);
    m.aFam.push_back(std::move(fam));
  }
  return m;
}

void Run(benchmark::State& state, const TCsvFields& fields) {
  const Model m = MakeTree(int(state.range(0)));
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("persons.csv"));
  for (auto _ : state) {
    const TCsvResult r = GedcomDataExport(m, fields, CsvFieldCaptions());
    if (!WriteCsvFile(path, r.Lines)) state.SkipWithError("cannot write");
  }
  state.counters["bytes"] = double(QFile(path).size());
}

void BM_CsvExportDefaultColumns(benchmark::State& state) { Run(state, DefaultCsvFields()); }
void BM_CsvExportAllColumns(benchmark::State& state) {
  TCsvFields all;
  all.fill(true);
  Run(state, all);
}

BENCHMARK(BM_CsvExportDefaultColumns)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CsvExportAllColumns)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
