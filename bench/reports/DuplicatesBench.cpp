// Duplicate search over generated trees of 10k and 50k persons: name pools of a few hundred surnames and
// about a hundred first names, birth years over three centuries, families with children, and about one
// person in a hundred entered twice with small changes. Reported: the total time of a search for
// everybody ("Включать всех") with the page's default options (parents=1) and without comparing the
// parents (parents=0, where the planted copies are found), the same-sex pairs it covers per second and
// the matches found. "Plain" runs the all-pairs scan (10k only: at 50k it takes about half a minute) and
// checks that the pruned scan gives the same pairs (equal=1).
#include "app/reports/Duplicates.h"

#include "app/core/UnitFunc.h"

#include <benchmark/benchmark.h>

#include <map>
#include <random>

namespace {

QString Year(std::mt19937& rng, int year, bool exact) {
  if (!exact) return QString::number(year);
  return QStringLiteral("%1.%2.%3")
      .arg(1 + int(rng() % 28), 2, 10, QLatin1Char('0'))
      .arg(1 + int(rng() % 12), 2, 10, QLatin1Char('0'))
      .arg(year);
}

void SetDate(TDATES& d, const QString& text) {
  d.ORIG = text;
  d.NORM = text;
  const QString y = text.right(4);
  d.YEARS = y;
  if (text.size() == 10) {
    d.SORT1 = d.SORT2 = SortKeyFromDateText(text);
    d.DDATE = DmyToDate(text);
  } else {
    d.SORT1 = y + QStringLiteral("0000");
    d.SORT2 = y + QStringLiteral("1231");
    d.DDATE = kUnknownDate;
  }
}

Model MakeTree(int n) {
  std::mt19937 rng(4242u + unsigned(n));
  QStringList surnames, male, female;
  const char* const stems[] = {"Сокол", "Орл", "Лебед", "Кузнец", "Ильин", "Северц", "Ветр", "Зуе", "Бел", "Покров"};
  const char* const ends[] = {"ов", "ев", "ин", "ский", "цов", "ых", "аев", "ёв", "енко", "иков"};
  for (const char* s : stems)
    for (const char* e : ends)
      for (int v = 0; v < 4; ++v)
        surnames << QString::fromUtf8(s) + QString::fromUtf8(e) + (v ? QString(QChar(u'а' + v)) : QString());
  const char* const m[] = {"Иван", "Пётр", "Николай", "Алексей", "Фёдор", "Михаил", "Степан", "Илья", "Сергей", "Андрей",
                           "Павел", "Егор", "Василий", "Григорий", "Дмитрий", "Тимофей", "Никита", "Семён", "Яков", "Роман"};
  const char* const f[] = {"Анна", "Мария", "Евдокия", "Ольга", "Татьяна", "Вера", "Софья", "Ирина", "Любовь", "Варвара",
                           "Агафья", "Прасковья", "Елизавета", "Наталья", "Дарья", "Екатерина", "Ксения", "Марфа"};
  for (const char* s : m)
    for (int v = 0; v < 5; ++v) male << QString::fromUtf8(s) + (v ? QString::number(v) : QString());
  for (const char* s : f)
    for (int v = 0; v < 5; ++v) female << QString::fromUtf8(s) + (v ? QString::number(v) : QString());

  Model model;
  for (int i = 1; i <= n; ++i) {
    TINDI p;
    const bool man = rng() % 2 == 0;
    const bool copy = i > 1 && rng() % 100 == 0;
    if (copy) {
      p = model.aIndi[1 + rng() % (model.aIndi.size() - 1)];
      p.FAMS.clear();
      p.FAMC = 0;
      if (rng() % 2) p.PATR1.clear();
      if (rng() % 2) SetDate(p.DEAT_DATE, {});
    } else {
      p.SEX = man ? QStringLiteral("M") : QStringLiteral("F");
      const QString sur = surnames[int(rng() % surnames.size())];
      p.SURN1 = man ? sur : sur + QStringLiteral("а");
      if (!man) p.SURN0 = surnames[int(rng() % surnames.size())] + QStringLiteral("а");
      p.FIRS1 = (man ? male : female)[int(rng() % (man ? male.size() : female.size()))];
      if (rng() % 10 < 7) p.PATR1 = male[int(rng() % male.size())] + (man ? QStringLiteral("ович") : QStringLiteral("овна"));
      const int born = 1700 + int(rng() % 300);
      if (rng() % 10 < 8) SetDate(p.BIRT_DATE, Year(rng, born, rng() % 10 < 7));
      if (rng() % 2) SetDate(p.DEAT_DATE, Year(rng, born + 20 + int(rng() % 70), rng() % 2));
      p.FIO1 = FormatFullName(p.SURN1, p.FIRS1, p.PATR1, p.SURN0, QStringLiteral("14)23"));
    }
    model.aIndi.push_back(p);
  }
  // Families: a man and a woman with up to four children of later persons.
  for (int i = 1; i + 6 <= n; i += 6) {
    TFAM fam;
    fam.HUSB = i;
    fam.WIFE = i + 1;
    const std::int64_t fi = std::int64_t(model.aFam.size());
    for (int c = i + 2; c < i + 6; ++c) {
      fam.CHIL.push_back(c);
      model.aIndi[std::size_t(c)].FAMC = fi;
    }
    model.aIndi[std::size_t(i)].FAMS.push_back(fi);
    model.aIndi[std::size_t(i + 1)].FAMS.push_back(fi);
    model.aFam.push_back(fam);
  }
  return model;
}

const Model& Tree(int n) {
  static std::map<int, Model> cache;
  auto it = cache.find(n);
  if (it == cache.end()) it = cache.emplace(n, MakeTree(n)).first;
  return it->second;
}

void Search(benchmark::State& state, bool pruned) {
  const int n = int(state.range(0));
  const Model& base = Tree(n);
  TDuplicateOptions o;
  o.Who = TDuplicateWho::All;
  o.Father = o.Mother = state.range(1) != 0;
  std::size_t found = 0;
  double samePairs = 0;
  for (auto _ : state) {
    Model m = base;  // each run builds the records as the first search after a load does
    BuildDuplicateRecords(m);
    ResolveDuplicateParents(m);
    found = FindDuplicatePairs(m, o, 0, pruned).size();
    state.PauseTiming();
    std::map<QString, double> bySex;
    for (std::size_t i = 1; i < m.aPers4.size(); ++i) bySex[m.aPers4[i].sex] += 1;
    samePairs = 0;
    for (const auto& [sex, count] : bySex) samePairs += count * (count - 1) / 2;
    state.ResumeTiming();
  }
  state.counters["matches"] = double(found);
  state.counters["pairs"] = samePairs;
  state.counters["pairs/s"] = benchmark::Counter(samePairs * double(state.iterations()), benchmark::Counter::kIsRate);
  if (!pruned) {
    Model m = base;
    BuildDuplicateRecords(m);
    ResolveDuplicateParents(m);
    const auto a = FindDuplicatePairs(m, o, 0, false), b = FindDuplicatePairs(m, o, 0, true);
    bool equal = a.size() == b.size();
    for (std::size_t i = 0; equal && i < a.size(); ++i)
      equal = a[i].d == b[i].d && a[i].p == b[i].p && a[i].score == b[i].score && a[i].total == b[i].total;
    state.counters["equal"] = equal ? 1 : 0;
  }
}

void Pruned(benchmark::State& state) { Search(state, true); }
void Plain(benchmark::State& state) { Search(state, false); }

}  // namespace

BENCHMARK(Pruned)->ArgsProduct({{10000, 50000}, {1, 0}})->ArgNames({"n", "parents"})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Plain)->ArgsProduct({{10000}, {1, 0}})->ArgNames({"n", "parents"})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
