// The person list over a synthetic tree of 100k persons: building the list, one filter keystroke, one
// search keystroke, the automatic root choice and the relatives marking.
#include <benchmark/benchmark.h>

#include <QString>
#include <random>

#include "app/core/MainPerson.h"
#include "app/core/Model.h"
#include "app/core/PersonList.h"
#include "app/core/Relatives.h"
#include "platform/qt/ClientDataSet.h"

namespace {

const char16_t* const kSurnames[] = {u"Иванов", u"Петров", u"Сидоров", u"Ветров", u"Белов", u"Соколов",
                                     u"Кузнецов", u"Воронцов", u"Северцев", u"Богданов"};
const char16_t* const kNames[] = {u"Иван", u"Пётр", u"Сергей", u"Андрей", u"Никита", u"Тимофей", u"Степан"};

// Couples in generations: every family has two to four children; about 100k persons.
Model& Tree() {
  static Model m = [] {
    Model t;
    std::mt19937 rng(7);
    const std::size_t n = 100000;
    auto person = [&](std::int64_t famc) {
      TINDI p;
      const auto s = kSurnames[rng() % 10];
      p.SURN1 = QString::fromUtf16(s);
      p.FIRS1 = QString::fromUtf16(kNames[rng() % 7]);
      p.FIO1 = p.SURN1 + u' ' + p.FIRS1 + u' ' + QString::number(rng() % 1000);
      p.SEX = rng() % 2 ? QStringLiteral("M") : QStringLiteral("F");
      const int year = 1700 + static_cast<int>(rng() % 300);
      p.BIRT_DATE.NORM = QString::number(year);
      p.BIRT_DATE.SORT1 = QString::number(year) + QStringLiteral("0000");
      p.BIRT_DATE.SORT2 = QString::number(year) + QStringLiteral("9999");
      if (rng() % 3 == 0) p.DEAT = QStringLiteral("+");
      p.FAMC = famc;
      t.aIndi.push_back(p);
      return static_cast<std::int64_t>(t.aIndi.size()) - 1;
    };
    std::vector<std::int64_t> singles;
    for (int i = 0; i < 200; ++i) singles.push_back(person(0));
    std::size_t next = 0;
    while (t.aIndi.size() < n && next + 1 < singles.size()) {
      TFAM f;
      f.HUSB = singles[next++];
      f.WIFE = singles[next++];
      t.aFam.push_back(f);
      const auto fi = static_cast<std::int64_t>(t.aFam.size()) - 1;
      t.aIndi[f.HUSB].FAMS.push_back(fi);
      t.aIndi[f.WIFE].FAMS.push_back(fi);
      const int kids = 2 + static_cast<int>(rng() % 3);
      for (int k = 0; k < kids && t.aIndi.size() < n; ++k) {
        const auto c = person(fi);
        t.aFam[fi].CHIL.push_back(c);
        singles.push_back(c);
      }
    }
    PreparePersonsAfterLoad(t);
    return t;
  }();
  return m;
}

void Fill(platform::TClientDataSet& ds, const Model& m) {
  ds.SetFieldDefs(PersonFieldDefs());
  ds.SetIndexFieldNames(QStringLiteral("fio"));
  ds.CreateDataSet();
  ds.DisableControls();
  FillPersonRows(m, ds, false);
  ds.EnableControls();
  ds.First();
}

void BM_BuildList(benchmark::State& state) {
  const Model& m = Tree();
  for (auto _ : state) {
    platform::TClientDataSet ds;
    Fill(ds, m);
    benchmark::DoNotOptimize(ds.RecordCount());
  }
}
BENCHMARK(BM_BuildList)->Unit(benchmark::kMillisecond);

void BM_FilterKeystroke(benchmark::State& state) {
  const Model& m = Tree();
  platform::TClientDataSet ds;
  Fill(ds, m);
  int k = 0;
  for (auto _ : state) {
    PersonFilterOptions o{true, k++ % 2 ? QStringLiteral("петров и") : QStringLiteral("петров"), false, false};
    ds.SetFiltered(false);
    ds.SetFilter(MakePersonFilter(o));
    ds.SetFiltered(true);
    benchmark::DoNotOptimize(ds.RecordCount());
  }
}
BENCHMARK(BM_FilterKeystroke)->Unit(benchmark::kMillisecond);

void BM_SearchKeystroke(benchmark::State& state) {
  const Model& m = Tree();
  platform::TClientDataSet ds;
  Fill(ds, m);
  for (auto _ : state) {
    // the worst case: nobody matches, every visible person is tried
    const auto found = FindPersonByText(m, QStringLiteral("нет такого"), [&](std::int64_t i) {
      return ds.PosOfRow(static_cast<int>(i - 1)) >= 0;
    });
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_SearchKeystroke)->Unit(benchmark::kMillisecond);

void BM_AutomaticRootChoice(benchmark::State& state) {
  Model m = Tree();
  for (auto _ : state) {
    for (TINDI& p : m.aIndi) p.iPr = p.iPot = -1;
    benchmark::DoNotOptimize(ChooseMainPerson(m, 2));
  }
}
BENCHMARK(BM_AutomaticRootChoice)->Unit(benchmark::kMillisecond);

void BM_MarkRelatives(benchmark::State& state) {
  Model m = Tree();
  platform::TClientDataSet ds;
  Fill(ds, m);
  const std::int64_t root = static_cast<std::int64_t>(m.aIndi.size()) - 1;
  for (auto _ : state) {
    MarkRelatives(m, root, 2, 10);
    ds.DisableControls();
    ds.SetFiltered(false);
    for (int r = 0; r < ds.TotalRows(); ++r) {
      const QString& fav = m.aIndi[static_cast<std::size_t>(r + 1)].FAVOR;
      if (ds.Value(r, pfIsFav).toString() != fav) ds.SetValue(r, pfIsFav, fav);
    }
    ds.EnableControls();
    benchmark::DoNotOptimize(ds.RecordCount());
  }
}
BENCHMARK(BM_MarkRelatives)->Unit(benchmark::kMillisecond);

}  // namespace
