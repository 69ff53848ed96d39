#include "app/charts/Kinship.h"

#include "app/charts/ChartFiles.h"
#include "app/charts/KinshipPicture.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <utility>

namespace {

bool ValidPerson(const Model& m, std::int64_t p) { return p > 0 && p < std::int64_t(m.aIndi.size()); }
bool ValidFamily(const Model& m, std::int64_t f) { return f > 0 && f < std::int64_t(m.aFam.size()); }

const TINDI& PersonAt(const Model& m, std::int64_t p) {
  return ValidPerson(m, p) ? m.aIndi[size_t(p)] : m.aIndi.front();
}

// How often the search over all links asks whether to go on (in persons reached).
constexpr int kPollEvery = 4096;

// One randomised depth-first pass. Nodes live in an arena and know their parent node, so a path is
// rebuilt only when B is reached; a person is reached at most once per pass (B excepted, which is never
// marked and may be reached again: the last arrival wins).
class TGraphSearch {
 public:
  TGraphSearch(const Model& m, TKinship& k, std::int64_t target, std::int64_t excluded, int limit,
               const TKinshipHooks& hooks)
      : m_(m), k_(k), target_(target), excluded_(excluded), limit_(limit), hooks_(hooks),
        visited_(m.aIndi.size(), 0) {}

  QString Run(std::int64_t a) {
    if (!ValidPerson(m_, a)) return {};
    nodes_.push_back({a, -1, 0, 0});
    Mark(a);
    Visit(0);
    return result_;
  }

 private:
  struct Node {
    std::int64_t person;
    int parent;
    char code;
    int depth;  // number of steps from A
  };

  void Mark(std::int64_t p) {
    if (p >= 0 && p < std::int64_t(visited_.size())) visited_[size_t(p)] = 1;
  }
  bool Visited(std::int64_t p) const {
    return p < 0 || p >= std::int64_t(visited_.size()) || visited_[size_t(p)] != 0;
  }

  QString ChainOf(int node) const {
    std::vector<int> path;
    for (int n = node; n >= 0; n = nodes_[size_t(n)].parent) path.push_back(n);
    std::reverse(path.begin(), path.end());
    QString persons;
    QString codes;
    for (int n : path) {
      persons += QString::number(nodes_[size_t(n)].person) + QLatin1Char(';');
      if (nodes_[size_t(n)].parent >= 0) codes += QLatin1Char(nodes_[size_t(n)].code);
    }
    return persons + codes;
  }

  // The neighbours of f in the search's order: per own family the children, then the spouse; then the
  // parent family's mother and father. A missing member is person 0.
  void Neighbours(std::int64_t f, std::vector<std::pair<std::int64_t, char>>& out) const {
    out.clear();
    const TINDI& p = PersonAt(m_, f);
    for (std::int64_t fam : p.FAMS) {
      if (!ValidFamily(m_, fam) || fam == excluded_) continue;
      const TFAM& F = m_.aFam[size_t(fam)];
      for (std::int64_t c : F.CHIL) out.emplace_back(c, '1');
      out.emplace_back(F.HUSB == f ? F.WIFE : F.HUSB, '5');
    }
    if (ValidFamily(m_, p.FAMC) && p.FAMC != excluded_) {
      const TFAM& F = m_.aFam[size_t(p.FAMC)];
      out.emplace_back(F.WIFE, '2');
      out.emplace_back(F.HUSB, '2');
    }
  }

  void Visit(int node) {
    if (stop_) return;
    if (++k_.SearchSteps % kPollEvery == 0 && hooks_.keepGoing && !hooks_.keepGoing()) {
      stop_ = true;
      k_.Stopped = true;
      return;
    }
    const Node here = nodes_[size_t(node)];
    std::vector<std::pair<std::int64_t, char>> next;
    Neighbours(here.person, next);
    std::vector<int> local;
    for (const auto& [n, code] : next) {
      if (Visited(n)) continue;
      nodes_.push_back({n, node, code, here.depth + 1});
      local.push_back(int(nodes_.size()) - 1);
      if (n == target_) {
        result_ = ChainOf(local.back());
        return;
      }
      Mark(n);
    }
    if (here.depth >= limit_ || local.empty()) return;
    // A random permutation of the positions, drawn as the shuffle helper draws it.
    const int last = int(local.size()) - 1;
    std::vector<int> order(local.size());
    for (int i = 0; i <= last; ++i) order[size_t(i)] = i;
    for (int r = last; r >= 0; --r) {
      const int j = r > 0 ? int(k_.Random.bounded(r)) : 0;
      std::swap(order[size_t(r)], order[size_t(j)]);
    }
    for (int i : order) {
      Visit(local[size_t(i)]);
      if (stop_) return;
    }
  }

  const Model& m_;
  TKinship& k_;
  std::int64_t target_;
  std::int64_t excluded_;
  int limit_;
  const TKinshipHooks& hooks_;
  std::vector<char> visited_;
  std::vector<Node> nodes_;
  QString result_;
  bool stop_ = false;
};

// Appends a found chain unless a listed chain has the same step codes or it has no step through a
// marriage (those are blood links, already listed).
void AddVariant(TKinship& k, size_t s0, const QString& chain) {
  const QString codes = ChainCodes(chain);
  if (!codes.contains(QLatin1Char('5'))) return;
  for (size_t i = s0; i < k.aLinkChains.size(); ++i)
    if (ChainCodes(k.aLinkChains[i]) == codes) return;
  k.aLinkChains.push_back(chain);
}

// The families that a chain's spouse steps go through: for a "5" from w to v, every own family of w
// in which w and v are the couple.
std::vector<std::int32_t> SpouseFamilies(const Model& m, const QString& chain) {
  std::vector<std::int32_t> out;
  const QString codes = ChainCodes(chain);
  const std::vector<std::int64_t> persons = ChainPersons(chain);
  for (qsizetype i = 0; i < codes.size(); ++i) {
    if (codes[i] != QLatin1Char('5') || size_t(i) + 1 >= persons.size()) continue;
    const std::int64_t w = persons[size_t(i)];
    const std::int64_t v = persons[size_t(i) + 1];
    for (std::int64_t f : PersonAt(m, w).FAMS) {
      if (!ValidFamily(m, f)) continue;
      const TFAM& F = m.aFam[size_t(f)];
      if ((F.HUSB == w && F.WIFE == v) || (F.WIFE == w && F.HUSB == v)) out.push_back(std::int32_t(f));
    }
  }
  return out;
}

}  // namespace

TKinship::TKinship() : Random(QRandomGenerator::global()->generate()) {}

QString ChainCodes(const QString& chain) { return chain.section(QLatin1Char(';'), -1); }

std::vector<std::int64_t> ChainPersons(const QString& chain) {
  std::vector<std::int64_t> out;
  const QStringList parts = chain.split(QLatin1Char(';'));
  for (qsizetype i = 0; i + 1 < parts.size(); ++i) out.push_back(parts[i].toLongLong());
  return out;
}

void FillLinkEntry(const Model& m, TPers& e, std::int64_t x, const TKinshipOptions& o) {
  const TINDI& P = PersonAt(m, x);
  e.ID = QString::number(x);
  e.iID = std::int32_t(x);
  e.Date1 = P.BIRT_DATE.NORM;
  e.Date2 = P.DEAT_DATE.NORM.isEmpty() ? QString() : QLatin1Char('-') + P.DEAT_DATE.NORM;
  e.Year1 = P.BIRT_DATE.YEARS;
  e.Year2 = P.DEAT_DATE.YEARS.isEmpty() ? QString() : QLatin1Char('-') + P.DEAT_DATE.YEARS;
  e.Fam = P.SURN1;
  e.FamR = P.SURN0;
  e.Im = P.FIRS1;
  e.Ot = P.PATR1;
  e.sex = P.SEX;
  e.b_id = QString::number(P.FAMC);
  if (ValidFamily(m, P.FAMC)) {
    e.ID1 = QString::number(m.aFam[size_t(P.FAMC)].HUSB);
    e.ID2 = QString::number(m.aFam[size_t(P.FAMC)].WIFE);
  } else {
    e.ID1 = e.ID2 = QStringLiteral("0");
  }
  e.Name = createNameLink(e, o);
}

void ExpandAncestorsForLink(const Model& m, TKinship& k, std::int64_t s, std::int64_t t, std::vector<TPers>& list,
                            QString& found, std::vector<TPers>& other, const TKinshipOptions& o) {
  list.assign(1, TPers{});
  list[0].ID = QString::number(s);
  found.clear();
  // Where each person stands in the other list.
  QHash<QString, std::vector<size_t>> inOther;
  for (size_t i = 0; i < other.size(); ++i) inOther[other[i].ID].push_back(i);
  // (person, child) pairs already listed: a parent is appended once per pair.
  QSet<std::pair<QString, QString>> listed;
  listed.insert({list[0].ID, QString()});

  for (size_t e = 0; e < list.size(); ++e) {
    const std::int64_t x = list[e].ID.toLongLong();
    FillLinkEntry(m, list[e], x, o);
    QString text;
    if (x == t) {
      if (other.empty())
        text = QStringLiteral(".");
      else if (!k.FoundText.contains(QLatin1Char('.')))
        text = QStringLiteral("..");
    } else if (const auto it = inOther.constFind(list[e].ID); it != inOther.constEnd()) {
      // x is reached by both persons through different children: a lowest common ancestor.
      const QString number = QString::number(k.Items.size() + 1) + QLatin1Char(' ');
      for (size_t oi : *it) {
        if (other[oi].ID0 == list[e].ID0) continue;
        if (text.isEmpty()) {
          text = list[e].ID;
          list[e].Place += number;
        }
        other[oi].Place += number;
      }
    }
    if (!text.isEmpty()) {
      found += text + QLatin1Char(' ');
      QString item = list[e].Name;
      item.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
      k.Items << item;
      k.aLinkChains.push_back(text);
    }
    for (const QString& parent : {list[e].ID1, list[e].ID2}) {
      if (parent == QLatin1String("0") || parent.isEmpty()) continue;
      std::pair<QString, QString> key{parent, list[e].ID};
      if (listed.contains(key)) continue;
      // A parent who is already on this entry's own line is a loop in the data: going on would give
      // lines that come back to a person, and "ancestors" of the start person that are the person itself.
      if (KinshipLineHas(list, e, QSet<QString>{parent})) continue;
      listed.insert(key);
      TPers p;
      p.ID = parent;
      p.ID0 = list[e].ID;
      p.iPot = std::int32_t(e);
      list.push_back(std::move(p));
    }
  }
}

QString SearchLinkGraph(const Model& m, TKinship& k, std::int64_t a, std::int64_t b, std::int64_t excluded,
                        int limit, const TKinshipHooks& hooks) {
  TGraphSearch search(m, k, b, excluded, limit, hooks);
  return search.Run(a);
}

void SortLinkVariants(std::vector<QString>& chains, int last, int first) {
  for (int a = first; a <= last; ++a)
    for (int i = a + 1; i <= last; ++i)
      if (ChainCodes(chains[size_t(i)]).size() < ChainCodes(chains[size_t(a)]).size())
        std::swap(chains[size_t(a)], chains[size_t(i)]);
}

void Link2PersExGedcom(const Model& m, TKinship& k, const TKinshipOptions& o, const TKinshipHooks& hooks) {
  k.Text.clear();
  k.Stopped = false;
  k.SearchSteps = 0;
  const size_t s0 = k.aLinkChains.size();
  const int maxLen = std::clamp(o.MaxLen, 3, 100);
  for (int d = 11; d <= maxLen && !k.Stopped; ++d) {
    k.LinkChain = SearchLinkGraph(m, k, k.A, k.B, 0, d, hooks);
    if (k.LinkChain.isEmpty()) continue;
    AddVariant(k, s0, k.LinkChain);
    k.aLinkExclude = SpouseFamilies(m, k.LinkChain);
    for (std::int32_t x : k.aLinkExclude) {
      if (k.Stopped) break;
      k.LinkChain = SearchLinkGraph(m, k, k.A, k.B, x, d, hooks);
      if (!k.LinkChain.isEmpty()) AddVariant(k, s0, k.LinkChain);
    }
  }
  SortLinkVariants(k.aLinkChains, int(k.aLinkChains.size()) - 1, int(s0));
  const QString variant = ChartText(QStringLiteral("Variant"), QStringLiteral("Вариант"));
  for (size_t j = s0; j < k.aLinkChains.size(); ++j)
    k.Items << variant + QLatin1Char(' ') + QString::number(j + 1) + QStringLiteral(" (") +
                   QString::number(ChainCodes(k.aLinkChains[j]).size()) + QLatin1Char(')');
}

void Link2PersGedcom(const Model& m, TKinship& k, std::int64_t a, std::int64_t b, const TKinshipOptions& o,
                     const TKinshipHooks& hooks) {
  k.Items.clear();
  k.ItemIndex = -1;
  k.aLinkPersA.clear();
  k.aLinkPersB.clear();
  k.aLinkChains.clear();
  k.aLinkExclude.clear();
  k.FoundText.clear();
  k.LinkChain.clear();
  k.Stopped = false;
  k.ShowPicturePage = false;
  k.A = a;
  k.B = b;
  if (o.RelationName) k.Words.Load();

  if (ValidPerson(m, a) && ValidPerson(m, b)) {
    QString f1, f2;
    ExpandAncestorsForLink(m, k, a, b, k.aLinkPersA, f1, k.aLinkPersB, o);
    k.FoundText = f1;
    ExpandAncestorsForLink(m, k, b, a, k.aLinkPersB, f2, k.aLinkPersA, o);
    k.FoundText = f1 + f2;
    if (!o.OnlyBlood) {
      Link2PersExGedcom(m, k, o, hooks);
      k.ShowPicturePage = true;
    }
  }

  k.Text.clear();
  k.Tree.Clear();
  k.Picture = QImage();
  if (!k.aLinkChains.empty()) {
    ComboBox3Change(m, k, 0, o);
  } else {
    k.Items = QStringList{ChartText(QStringLiteral("NotFound"), QStringLiteral("Not found"))};
    k.ItemIndex = 0;
  }
}

void ComboBox3Change(const Model& m, TKinship& k, int index, const TKinshipOptions& o) {
  if (index < 0 || size_t(index) >= k.aLinkChains.size()) return;
  k.ItemIndex = index;
  const QString entry = k.aLinkChains[size_t(index)];
  k.LinkChain = entry;
  if (entry.contains(QLatin1Char(';')))
    Link2PersPaintExGedcom(m, k, entry, o);
  else
    Link2PersPaint(m, k, entry, o);
}

bool KinshipLineHas(const std::vector<TPers>& list, size_t entry, const QSet<QString>& persons) {
  for (size_t j = entry; j < list.size(); j = size_t(list[j].iPot)) {
    if (persons.contains(list[j].ID)) return true;
    // Each entry's child entry stands before it; the start entry ends the line.
    if (j == 0 || size_t(list[j].iPot) >= j) break;
  }
  return false;
}

bool PlaceHasLink(const QString& place, int n) {
  return place.split(QLatin1Char(' '), Qt::SkipEmptyParts).contains(QString::number(n));
}
