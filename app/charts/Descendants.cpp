#include "app/charts/Descendants.h"

#include "app/charts/Ancestors.h"

#include <algorithm>
#include <cmath>

namespace {

const TINDI& Person(const Model& m, std::int64_t p) {
  if (p < 0 || p >= std::int64_t(m.aIndi.size())) return m.aIndi.front();
  return m.aIndi[size_t(p)];
}

const TFAM* Family(const Model& m, std::int64_t f) {
  if (f <= 0 || f >= std::int64_t(m.aFam.size())) return nullptr;
  return &m.aFam[size_t(f)];
}

std::int64_t EntryIndex(const Model& m, const QString& id) {
  bool ok = false;
  const qlonglong v = id.toLongLong(&ok);
  if (!ok || v < 0 || v >= qlonglong(m.aIndi.size())) return 0;
  return v;
}

bool IsAncestorEntry(const std::vector<TPers2>& a, size_t s, std::int64_t person) {
  // Walks the entry's own parent chain: a person met there again would start a cycle.
  for (std::int64_t e = std::int64_t(s);;) {
    if (a[size_t(e)].ID.toLongLong() == person) return true;
    if (e == 0) return false;
    e = a[size_t(e)].ID2;
  }
}

// The distinct valid families of a person, in their first order: a family listed twice is one family.
std::vector<const TFAM*> OwnFamilies(const Model& m, const TINDI& p, std::vector<std::int64_t>* indexes = nullptr) {
  std::vector<const TFAM*> out;
  for (std::size_t k = 0; k < p.FAMS.size(); ++k) {
    const std::int64_t fi = p.FAMS[k];
    const TFAM* f = Family(m, fi);
    if (!f) continue;
    bool seen = false;
    for (std::size_t j = 0; j < k && !seen; ++j) seen = p.FAMS[j] == fi;
    if (seen) continue;
    out.push_back(f);
    if (indexes) indexes->push_back(fi);
  }
  return out;
}

// How often the builds report progress (and may be stopped).
constexpr std::size_t kProgressStep = 256;

}  // namespace

QString CutText(const QString& text, int n) {
  if (text.size() <= n) return text;
  if (n > 0 && text.at(n - 1).isHighSurrogate()) --n;
  return text.left(n);
}

bool FillTree2(const Model& m, TFanList& out, const QString& current, const TFanListOptions& o,
               const TDescendantProgress& progress) {
  auto& a = out.aPers2;
  a.clear();
  out.aCoord.clear();
  const std::int64_t root = PersonIndexOf(m, current);
  if (root == 0) return false;
  TPers2 first;
  first.ID = QString::number(root);
  first.iLevel = 1;
  a.push_back(first);
  // The ancestor list's bound: no honest tree has more descendant entries than this.
  const std::size_t bound = std::size_t(1.5 * double(m.aIndi.size()));
  std::vector<std::int64_t> children;  // the distinct children of the family being expanded
  for (size_t s = 0; s < a.size(); ++s) {
    if (progress && s % kProgressStep == 0 && s > 0 && !progress(std::int64_t(a.size()))) break;
    const std::int64_t p = EntryIndex(m, a[s].ID);
    const TINDI& P = Person(m, p);
    a[s].sex = P.SEX;
    a[s].Name = P.FIO1;
    a[s].Date1 = P.BIRT_DATE.NORM;
    a[s].Year1 = P.BIRT_DATE.YEARS;
    if (P.DEAT == QLatin1String("+")) {
      a[s].Date2 = QStringLiteral("-") + P.DEAT_DATE.NORM;
      a[s].Year2 = QStringLiteral("-") + P.DEAT_DATE.YEARS;
    }
    bool expand = o.Auto ? a[s].iLevel < kFanMaxLevels : a[s].iLevel < o.Generations;
    // A person met again on his own line of parents is listed but not expanded: a cycle ends there.
    if (expand && o.Auto && s > 0 && IsAncestorEntry(a, size_t(a[s].ID2), p)) expand = false;
    if (!expand || a.size() > bound) continue;
    for (const TFAM* f : OwnFamilies(m, P)) {
      children.clear();
      for (const std::int64_t c : f->CHIL)
        if (c > 0 && c < std::int64_t(m.aIndi.size()) && std::find(children.begin(), children.end(), c) == children.end())
          children.push_back(c);
      for (const std::int64_t c : children) {
        TPers2 e;
        e.ID = QString::number(c);
        e.ID1 = std::int32_t(p);
        e.ID2 = std::int32_t(s);
        e.iLevel = a[s].iLevel + 1;
        a[s].nPP += 1;
        a.push_back(std::move(e));
      }
    }
  }
  if (o.FanType == 3 || o.FanType == 4) {
    for (size_t s = a.size() - 1; s >= 1; --s)
      a[size_t(a[s].ID2)].iPot += o.FanType == 3 ? a[s].nPP + 1 : a[s].iPot + 1;
  }
  auto& c = out.aCoord;
  c.assign(a.size(), TCoord{});
  c[0].rAn1 = 0;
  c[0].rAn2 = 360;
  double start = 0;
  for (size_t s = 1; s < a.size(); ++s) {
    const size_t parent = size_t(a[s].ID2);
    const size_t prevParent = s == 1 ? 0 : size_t(a[s - 1].ID2);
    if (s == 1 || parent != prevParent) start = c[parent].rAn1;
    double share = 0;
    const TPers2& pe = a[parent];
    if (o.FanType == 3) {
      share = pe.iPot > 0 ? double(a[s].nPP + 1) / pe.iPot : 0;
    } else if (o.FanType == 4) {
      share = pe.iPot > 0 ? double(a[s].iPot + 1) / pe.iPot : 0;
    } else {
      share = pe.nPP > 0 ? 1.0 / pe.nPP : 0;
    }
    c[s].rAn1 = start;
    c[s].rAn2 = start + share * std::fabs(c[parent].rAn2 - c[parent].rAn1);
    start = c[s].rAn2;
  }
  return true;
}

bool SxPotGedcom(const Model& m, std::vector<TPers2>& a, TTreeNodes& tree, const QString& current,
                 const TDescendantOptions& o, const TDescendantProgress& progress) {
  a.clear();
  tree.Clear();
  const std::int64_t root = PersonIndexOf(m, current);
  if (root == 0) return false;
  std::vector<int> firstNode(m.aIndi.size(), -1);
  const bool numbered = o.Numbering != TNumbering::None;
  TPers2 first;
  first.ID = QString::number(root);
  first.Node = tree.Add(-1, QString());
  tree[first.Node].Expanded = true;
  long long k = 0;
  if (numbered) {
    first.Num = QStringLiteral("1 ");
    k = 1;
  }
  a.push_back(first);
  std::vector<std::int64_t> familyIndexes;
  for (size_t s = 0; s < a.size(); ++s) {
    if (progress && s % kProgressStep == 0 && s > 0 && !progress(std::int64_t(a.size()))) break;
    const std::int64_t p = EntryIndex(m, a[s].ID);
    const TINDI& P = Person(m, p);
    const int node = a[s].Node;
    tree[node].Link = node;
    if (p > 0) {
      if (firstNode[size_t(p)] < 0)
        firstNode[size_t(p)] = node;
      else
        tree[node].Link = firstNode[size_t(p)];
    }
    const bool repeated = tree[node].Link != node;
    a[s].sex = P.SEX;
    a[s].Name = P.FIO1;
    const bool woman = P.SEX == QLatin1String("F");
    if (a[s].ER_ID == 0) tree[node].StateImage = repeated ? (woman ? 5 : 4) : (woman ? 2 : 1);
    if (o.PersonNote) {
      QString note = P.NOTE;
      if (note.size() > 300) note = CutText(note, 300) + QStringLiteral("...");
      if (!note.isEmpty()) a[s].Desc += QStringLiteral(", ") + note;
    }
    a[s].Date1 = P.BIRT_DATE.NORM;
    if (o.EventPlace && !P.BIRT_PLAC.isEmpty()) a[s].Date1 += QLatin1Char(' ') + P.BIRT_PLAC;
    if (o.EventNote && !P.BIRT_NOTE.isEmpty()) a[s].Date1 += QStringLiteral(", ") + P.BIRT_NOTE;
    if (P.DEAT == QLatin1String("+")) {
      QString d = QStringLiteral(", ") + o.DeathLabel + P.DEAT_DATE.NORM;
      if (o.EventPlace && !P.DEAT_PLAC.isEmpty()) d += QLatin1Char(' ') + P.DEAT_PLAC;
      if (o.DeathCause && !P.DEAT_CAUS.isEmpty()) d += QLatin1Char(' ') + P.DEAT_CAUS;
      if (o.EventNote && !P.DEAT_NOTE.isEmpty()) d += QStringLiteral(", ") + P.DEAT_NOTE;
      a[s].Date2 = d;
    }
    familyIndexes.clear();
    const std::vector<const TFAM*> families = OwnFamilies(m, P, &familyIndexes);
    for (const TFAM* f : families) {
      a[s].Count3 += 1;
      QString t = f->MARR_DATE.NORM;
      if (o.EventPlace && !f->MARR_PLAC.isEmpty()) t += QLatin1Char(' ') + f->MARR_PLAC;
      if (o.EventNote && !f->MARR_NOTE.isEmpty()) t += QStringLiteral(" /") + f->MARR_NOTE;
      a[s].Marriages << t;
    }
    if (a[s].ER_ID != 0 || repeated) continue;
    const bool man = P.SEX == QLatin1String("M");
    for (std::size_t fk = 0; fk < families.size(); ++fk) {
      const TFAM* f = families[fk];
      const std::int64_t fi = familyIndexes[fk];
      for (size_t slot = 0; slot <= f->CHIL.size(); ++slot) {
        const std::int64_t child = slot == 0 ? 0 : f->CHIL[slot - 1];
        // A child the family lists twice is one child.
        if (slot > 1 && std::find(f->CHIL.begin(), f->CHIL.begin() + std::ptrdiff_t(slot - 1), child) !=
                            f->CHIL.begin() + std::ptrdiff_t(slot - 1))
          continue;
        const QString childSex = slot == 0 ? QString() : Person(m, child).SEX;
        bool take = false;
        switch (o.Filter) {
          case TLineFilter::All: take = true; break;
          case TLineFilter::Men: take = slot > 0 && childSex == QLatin1String("M"); break;
          case TLineFilter::Women: take = slot > 0 && childSex == QLatin1String("F"); break;
          case TLineFilter::Line: take = man; break;
        }
        if (!take) continue;
        TPers2 e;
        e.Node = tree.Add(node, QString());
        if (slot == 0) {
          e.ER_ID = std::int32_t(fi);
          const bool married = !f->MARR.isEmpty();
          if (man) {
            e.ID = QString::number(f->WIFE);
            e.sSupr = (married ? o.WordWife : o.WordWifeUnmarried).toLower();
          } else {
            e.ID = QString::number(f->HUSB);
            e.sSupr = (married ? o.WordHusband : o.WordHusbandUnmarried).toLower();
          }
        } else {
          e.ID = QString::number(child);
          a[s].nPP += 1;
          ++k;
          switch (o.Numbering) {
            case TNumbering::None: break;
            case TNumbering::Sequential: e.Num = QString::number(k) + QLatin1Char(' '); break;
            case TNumbering::DAboville:
              e.Num = a[s].Num.trimmed() + QLatin1Char('.') + QString::number(a[s].nPP) + QLatin1Char(' ');
              break;
            case TNumbering::Konovalov: {
              const QString own = a[s].Num;
              const QString parentPart =
                  own == QLatin1String("1 ") ? QStringLiteral("1") : own.section(QLatin1Char('-'), 1).trimmed();
              e.Num = parentPart + QLatin1Char('-') + QString::number(k) + QLatin1Char(' ');
              break;
            }
          }
        }
        a.push_back(std::move(e));
      }
    }
  }
  for (TPers2& e : a) {
    if (e.Count3 == 1) {
      e.Date3 = QStringLiteral(", ") + o.MarrLabel + e.Marriages.value(0);
    } else if (e.Count3 > 1) {
      QStringList parts;
      for (int j = 1; j <= e.Count3; ++j) parts << QString::number(j) + o.MarrLabel + e.Marriages.value(j - 1);
      e.Date3 = QStringLiteral(", ") + parts.join(QStringLiteral(", "));
    }
    tree[e.Node].Text = e.Num + e.sSupr + QLatin1Char(' ') + e.Name + e.Desc + QStringLiteral(" (") + o.BirthLabel +
                        (e.Date1.isEmpty() ? QStringLiteral("?") : e.Date1) + e.Date3 + e.Date2 + QLatin1Char(')');
  }
  return true;
}
