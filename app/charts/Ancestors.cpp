#include "app/charts/Ancestors.h"

namespace {

const TINDI& Person(const Model& m, std::int64_t p) {
  if (p < 0 || p >= std::int64_t(m.aIndi.size())) return m.aIndi.front();
  return m.aIndi[size_t(p)];
}

// Index from a list entry's ID text; 0 (the empty record) for anything that is not a person.
std::int64_t EntryIndex(const Model& m, const QString& id) {
  bool ok = false;
  const qlonglong v = id.toLongLong(&ok);
  if (!ok || v < 0 || v >= qlonglong(m.aIndi.size())) return 0;
  return v;
}

void FillFromPerson(const Model& m, TPers& e, std::int64_t p) {
  const TINDI& P = Person(m, p);
  e.iID = std::int32_t(p);
  e.Name = P.FIO1;
  e.Date1 = P.BIRT_DATE.NORM;
  e.Date2 = P.DEAT_DATE.NORM.isEmpty() ? QString() : QStringLiteral("-") + P.DEAT_DATE.NORM;
  e.Year1 = P.BIRT_DATE.YEARS;
  e.Year2 = P.DEAT_DATE.YEARS.isEmpty() ? QString() : QStringLiteral("-") + P.DEAT_DATE.YEARS;
  e.b_id = QString::number(P.FAMC);
  e.Fam = P.SURN1;
  e.Im = P.FIRS1;
  e.Ot = P.PATR1;
  e.FamR = P.SURN0;
}

// Father and mother index texts of an entry's parent family; both empty without one.
void ParentIds(const Model& m, TPers& e) {
  const qlonglong k = e.b_id.toLongLong();
  if (k > 0 && k < qlonglong(m.aFam.size())) {
    e.ID1 = QString::number(m.aFam[size_t(k)].HUSB);
    e.ID2 = QString::number(m.aFam[size_t(k)].WIFE);
  } else {
    e.ID1.clear();
    e.ID2.clear();
  }
}

}  // namespace

std::int64_t PersonIndexOf(const Model& m, const QString& indexText) {
  bool ok = false;
  const qlonglong v = indexText.trimmed().toLongLong(&ok);
  if (!ok || v <= 0 || v >= qlonglong(m.aIndi.size())) return 0;
  return v;
}

bool FillTree(const Model& m, TAncestorList& list, const QString& current, std::uint64_t loadStamp) {
  auto& a = list.aPers;
  if (!a.empty() && a.front().ID == current && list.builtBy == TAncestorBuilder::FillTree &&
      list.loadStamp == loadStamp)
    return false;
  a.assign(1, TPers{});
  a[0].ID = current;
  list.builtBy = TAncestorBuilder::None;
  list.loadStamp = loadStamp;
  if (PersonIndexOf(m, current) == 0) return false;
  a[0].Place = QStringLiteral("0");
  const double bound = 1.5 * double(m.aIndi.size());
  size_t i = 0;
  for (;; ++i) {
    const std::int64_t p = EntryIndex(m, a[i].ID);
    FillFromPerson(m, a[i], p);
    a[i].sex = Person(m, p).SEX;
    ParentIds(m, a[i]);
    // A person who is his own descendant on this entry's path closes a loop in the data: his ancestors
    // are already listed along that path, so the entry gets no parents and the loop ends here.
    bool loop = false;
    for (size_t k = i; k > 0 && !loop;) {
      k = size_t(a[k].iPot);
      loop = a[k].ID == a[i].ID;
    }
    if (loop) {
      a[i].ID1.clear();
      a[i].ID2.clear();
    }
    if (!a[i].ID1.isEmpty()) {
      TPers f;
      f.ID = a[i].ID1;
      f.Place = a[i].Place + QLatin1Char('0');
      f.iPot = std::int32_t(i);
      a.push_back(std::move(f));
    }
    if (!a[i].ID2.isEmpty()) {
      TPers mo;
      mo.ID = a[i].ID2;
      mo.Place = a[i].Place + QLatin1Char('1');
      mo.iPot = std::int32_t(i);
      a.push_back(std::move(mo));
    }
    if (i + 1 == a.size()) break;
    // The bound ends runaway expansion of deep trees, but never before every slot of the generations a
    // chart can draw is filled: with intermarriage a loop-free tree has more entries than persons. The
    // list is in generation order, so the next entry's generation tells when those are complete; they
    // hold at most 2^kAncestorFullGenerations - 1 entries.
    if (double(i) > bound && a[i + 1].Place.size() > kAncestorFullGenerations) break;
  }
  list.builtBy = TAncestorBuilder::FillTree;
  return true;
}

void FillTreeGenerations(const Model& m, std::vector<TPers>& a, std::int64_t p, int generations) {
  a.clear();
  if (p <= 0 || p >= std::int64_t(m.aIndi.size()) || generations < 1) return;
  a.emplace_back();
  a[0].ID = QString::number(p);
  a[0].Place = QStringLiteral("0");
  for (size_t i = 0; i < a.size(); ++i) {
    const std::int64_t x = EntryIndex(m, a[i].ID);
    FillFromPerson(m, a[i], x);
    a[i].sex = Person(m, x).SEX;
    ParentIds(m, a[i]);
    if (a[i].Place.size() >= generations) continue;
    for (int side = 0; side < 2; ++side) {
      const QString& id = side == 0 ? a[i].ID1 : a[i].ID2;
      if (id.isEmpty()) continue;
      TPers e;
      e.ID = id;
      e.Place = a[i].Place + QLatin1Char(side == 0 ? '0' : '1');
      e.iPot = std::int32_t(i);
      a.push_back(std::move(e));
    }
  }
}

QString AncestorNodeText(const Model& m, const TPers& e, int level, const TAncestorTextOptions& o) {
  QString t;
  if (o.FullName) {
    t = QString::number(level) + QStringLiteral(". ") + e.Name;
  } else {
    if (o.Surname) t = e.Fam;
    if (o.BirthSurname && (!e.FamR.isEmpty() || e.sex == QLatin1String("F")))
      t += o.Brackets ? QStringLiteral(" (") + e.FamR + QLatin1Char(')') : QStringLiteral(" ") + e.FamR;
    if (o.FirstName) t += QLatin1Char(' ') + e.Im;
    if (o.Patronymic) t += QLatin1Char(' ') + e.Ot;
  }
  QString s = o.BirthPlace ? Person(m, e.iID).BIRT_PLAC : QString();
  if (!s.isEmpty()) s += QLatin1Char(' ');
  if (o.DatesLife) {
    t += QStringLiteral(" (") + s + e.Date1 + e.Date2 + QLatin1Char(')');
  } else if (o.YearsLife) {
    t += QStringLiteral(" (") + s + e.Year1 + e.Year2 + QLatin1Char(')');
  } else if (!s.isEmpty()) {
    t += QStringLiteral(" (") + s.trimmed() + QLatin1Char(')');
  }
  return t;
}

bool SxPrGedcom(const Model& m, TAncestorList& list, TTreeNodes& tree, const QString& current,
                bool schemePageActive, const TAncestorTextOptions& options, std::uint64_t loadStamp) {
  auto& a = list.aPers;
  if (!a.empty() && a.front().ID == current && !schemePageActive) return false;
  // First node of each person; -1 while the person has none.
  std::vector<int> firstNode(m.aIndi.size(), -1);
  tree.Clear();
  a.assign(1, TPers{});
  a[0].ID = current;
  list.builtBy = TAncestorBuilder::Scheme;
  list.loadStamp = loadStamp;
  const std::int64_t root = PersonIndexOf(m, current);
  if (root == 0) return true;
  a[0].Place = QStringLiteral("0");
  a[0].sex = Person(m, root).SEX;
  a[0].Node = tree.Add(-1, a[0].ID);
  tree[a[0].Node].Expanded = true;
  for (size_t f = 0; f < a.size(); ++f) {
    const std::int64_t g = EntryIndex(m, a[f].ID);
    const int node = a[f].Node;
    tree[node].Link = node;
    if (g > 0) {
      if (firstNode[size_t(g)] < 0)
        firstNode[size_t(g)] = node;
      else
        tree[node].Link = firstNode[size_t(g)];
    }
    FillFromPerson(m, a[f], g);
    const bool repeated = tree[node].Link != node;
    const bool woman = a[f].sex == QLatin1String("F");
    tree[node].Text = AncestorNodeText(m, a[f], tree[node].Level, options);
    tree[node].StateImage = repeated ? (woman ? 5 : 4) : (woman ? 2 : 1);
    ParentIds(m, a[f]);
    if (repeated) continue;
    for (int side = 0; side < 2; ++side) {
      const QString& id = side == 0 ? a[f].ID1 : a[f].ID2;
      if (id.isEmpty()) continue;
      TPers e;
      e.ID = id;
      e.Place = a[f].Place + QLatin1Char(side == 0 ? '0' : '1');
      e.Node = tree.Add(node, id);
      e.iPot = std::int32_t(f);
      e.sex = side == 0 ? QStringLiteral("M") : QStringLiteral("F");
      a.push_back(std::move(e));
    }
  }
  return true;
}
