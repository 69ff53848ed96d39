// The marriage list and its workbooks on a full pedigree: the root's ancestors numbered as in an ahnentafel
// (person k has father 2k and mother 2k+1), 2^17 - 1 = 131071 persons and 65535 families, so the list has
// 65535 rows. Reported: building the list into its dataset (with the ancestor list made once), and
// writing the shown rows as XLSX and as Excel 2003 XML, with the rows and the bytes written. And the
// calendar's workbook of 100k persons: 100k persons sharing a birthday within the two years give 100k
// anniversary rows (40 years: every row a jubilee), written as XLSX.
#include "app/reports/WorkbookExport.h"

#include "app/charts/Ancestors.h"
#include "app/reports/Calendar.h"
#include "app/core/UnitFunc.h"
#include "platform/qt/ClientDataSet.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

Model MakePedigree(int persons) {
  Model m;
  m.aIndi.reserve(std::size_t(persons) + 1);
  for (int k = 1; k <= persons; ++k) {
    TINDI p;
    p.SURN1 = p.SURN0 = QStringLiteral("Фамилия%1").arg(k % 997);
    p.FIRS1 = QStringLiteral("Имя%1").arg(k % 101);
    p.PATR1 = QStringLiteral("Отчество%1").arg(k % 53);
    p.FIO1 = p.SURN1 + u' ' + p.FIRS1 + u' ' + p.PATR1;
    p.SEX = k % 2 ? QStringLiteral("F") : QStringLiteral("M");
    const int year = 2000 - 25 * (31 - __builtin_clz(unsigned(k)));
    p.BIRT_DATE.NORM = QStringLiteral("01.05.%1").arg(year);
    p.BIRT_DATE.SORT1 = p.BIRT_DATE.SORT2 = QStringLiteral("%1").arg(year) + QStringLiteral("0501");
    p.BIRT_PLAC = QStringLiteral("Город%1").arg(k % 300);
    m.aIndi.push_back(std::move(p));
  }
  for (int k = 1; 2 * k + 1 <= persons; ++k) {
    TFAM f;
    f.HUSB = 2 * k;
    f.WIFE = 2 * k + 1;
    f.CHIL.push_back(k);
    f.MARR = QStringLiteral("x");
    f.MARR_DATE.NORM = QStringLiteral("12.06.%1").arg(m.aIndi[std::size_t(k)].BIRT_DATE.NORM.right(4).toInt() - 1);
    if (k % 7 == 0) f.MARR_NOTE = QStringLiteral("Венчание в церкви\r\nсвидетели & <гости>");
    const std::int64_t fi = std::int64_t(m.aFam.size());
    m.aIndi[std::size_t(k)].FAMC = fi;
    m.aIndi[std::size_t(2 * k)].FAMS.push_back(fi);
    m.aIndi[std::size_t(2 * k + 1)].FAMS.push_back(fi);
    m.aFam.push_back(std::move(f));
  }
  return m;
}

struct Fixture {
  Model m;
  TAncestorList list;
  platform::TClientDataSet cds;
  explicit Fixture(int persons) : m(MakePedigree(persons)) {
    FillTree(m, list, QStringLiteral("1"), 1);
    CreateMarriageDataSet(cds);
  }
};

constexpr int kPersons = (1 << 17) - 1;

void BM_WorkbookMarriageList(benchmark::State& state) {
  Fixture f(kPersons);
  TMarriageOptions o;
  o.CurrentYear = 2026;
  int rows = 0;
  for (auto _ : state) rows = MarriageGedcom(f.m, f.list.aPers, o, f.cds);
  state.counters["rows"] = rows;
}

void Write(benchmark::State& state, const char* name) {
  Fixture f(kPersons);
  TMarriageOptions o;
  o.CurrentYear = 2026;
  MarriageGedcom(f.m, f.list.aPers, o, f.cds);
  QTemporaryDir dir;
  const QString path = dir.filePath(QLatin1String(name));
  for (auto _ : state) MarriageToXLS(f.cds, MarriageColumns(), path);
  state.counters["rows"] = f.cds.RecordCount();
  state.counters["bytes"] = double(QFile(path).size());
}

void BM_WorkbookMarriageXlsx(benchmark::State& state) { Write(state, "Marriage.xlsx"); }
void BM_WorkbookMarriageXml2003(benchmark::State& state) { Write(state, "Marriage.xml"); }

void BM_WorkbookInformerXlsx(benchmark::State& state) {
  Model m;
  const int persons = int(state.range(0));
  for (int i = 1; i <= persons; ++i) {
    TINDI p;
    p.FIO1 = QStringLiteral("Фамилия%1 Имя%2 Отчество").arg(i % 997).arg(i % 101);
    const QDate birth(1987, 7, 1);
    p.BIRT_DATE.NORM = birth.toString(QStringLiteral("dd.MM.yyyy"));
    p.BIRT_DATE.YEARS = QString::number(birth.year());
    p.BIRT_DATE.DDATE = DateToSerial(birth);
    m.aIndi.push_back(std::move(p));
  }
  TCalendarOptions o;
  o.Today = QDate(2026, 12, 11);
  platform::TClientDataSet cds;
  FillCalendarDataSet(cds, Informer(m, o));
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("Informer.xlsx"));
  for (auto _ : state) InformerToXLS(cds, CalendarColumns(), path);
  state.counters["rows"] = cds.RecordCount();
  state.counters["bytes"] = double(QFile(path).size());
}

BENCHMARK(BM_WorkbookInformerXlsx)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WorkbookMarriageList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WorkbookMarriageXlsx)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WorkbookMarriageXml2003)->Unit(benchmark::kMillisecond);

}  // namespace
