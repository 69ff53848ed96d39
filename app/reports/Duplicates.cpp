// Duplicate search: compact records, the scoring rule, the plain and the pruned pair scan, the report.
#include "app/reports/Duplicates.h"

#include "app/core/UnitFunc.h"

#include <QElapsedTimer>
#include <QHash>
#include <QTextDocument>
#include <QTime>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <unordered_map>

namespace {

constexpr TColor kRed = 255;
constexpr TColor kBlue = 0xFF0000;
const QString kCrLf = QStringLiteral("\r\n");

// A date whose text is empty is unknown, whatever its day number says.
TDateTime DayOf(const TDATES& d) {
  if (d.ORIG.isEmpty() && d.NORM.isEmpty()) return kUnknownDate;
  return d.DDATE;
}

// The year of a sort key's first four characters, 0 when it is no number or lies outside 1000..2500.
std::int32_t KeyYear(const QString& key) {
  bool ok = false;
  const int y = key.left(4).toInt(&ok);
  return ok && y >= 1000 && y <= 2500 ? y : 0;
}

// A family year counts when its four-character text lies strictly between "1000" and "2500" in text
// order (and is a number); returns 0 otherwise.
std::int32_t FamilyYear(const QString& key) {
  const QString y4 = key.left(4);
  if (!(y4 > QLatin1String("1000") && y4 < QLatin1String("2500"))) return 0;
  bool ok = false;
  const int y = y4.toInt(&ok);
  return ok ? y : 0;
}

enum TextState { kNotBoth, kEqual, kDiffer };
enum SexKind { kOther, kMale, kFemale };
enum TextField { fFam, fFamR, fIm, fOt };

SexKind KindOf(const QString& sex) {
  if (sex == u"M") return kMale;
  if (sex == u"F") return kFemale;
  return kOther;
}

const QString& FieldText(const TPers4& r, TextField f) {
  switch (f) {
    case fFam: return r.Fam;
    case fFamR: return r.FamR;
    case fIm: return r.Im;
    case fOt: return r.Ot;
  }
  return r.Fam;
}

// The men's surnames in the similarity mode: two different surnames score by SimilarityPercent, but a
// pair whose first letters differ keeps only one hundredth of a point when they had any similarity at
// all (a different initial rarely is the same family). Returns -1 for "replace by 1".
int SurnameSimilarity(const QString& a, const QString& b) {
  const int s = SimilarityPercent(a, b);
  if (s > 0 && !a.isEmpty() && !b.isEmpty() && a[0].toLower() != b[0].toLower()) return -1;
  return s;
}

struct Parts {
  int S = 0, N = 0, O = 0, R = 0, D = 0, M = 0;
  int Sum() const { return S + N + O + R + D + M; }
};

int DateScore(TDateTime da, TDateTime db, std::int32_t ya, std::int32_t yb, int w) {
  if (da != kUnknownDate && db != kUnknownDate && da != db) return 0;
  if (ya != 0 && yb != 0) return w * (10 - std::abs(ya - yb)) * 10;
  return w * 30;
}

// The one scoring rule. `state(field)` tells whether the two texts of a field are both present, and
// equal or different; the similarity of different texts is taken from the records' own texts.
template <class Rec, class State>
Parts ScoreParts(const Rec& A, const Rec& B, SexKind kind, bool parents, const TDuplicateOptions& o, State state) {
  Parts p;
  const auto text = [&](TextField f, int w, int notBoth) {
    switch (state(f)) {
      case kNotBoth: return w * notBoth;
      case kEqual: return w * 100;
      case kDiffer: return o.Similarity ? w * SimilarityPercent(FieldText(A, f), FieldText(B, f)) : 0;
    }
    return 0;
  };
  if (!parents) {
    if (kind == kMale && o.SurnameMen) {
      const int w = o.SurnameMenWeight;
      const TextState s = state(fFam);
      if (s == kNotBoth) {
        p.S = w * 20;
      } else if (s == kEqual) {
        p.S = w * 100;
      } else if (o.Similarity) {
        const int sim = SurnameSimilarity(FieldText(A, fFam), FieldText(B, fFam));
        p.S = sim < 0 ? 1 : w * sim;
      }
    } else if (kind == kFemale && o.SurnameWomen) {
      p.S = text(fFam, o.SurnameWomenWeight, 50);
    }
  }
  if (o.FirstName) p.N = text(fIm, o.FirstNameWeight, 10);
  if (o.Patronymic) p.O = text(fOt, o.PatronymicWeight, 30);
  if (o.Birth) p.R = DateScore(A.dDateR, B.dDateR, A.iYearR, B.iYearR, o.BirthWeight);
  if (o.Death) p.D = DateScore(A.dDateS, B.dDateS, A.iYearS, B.iYearS, o.DeathWeight);
  if (kind == kFemale && o.Maiden) p.M = text(fFamR, o.MaidenWeight, 20);
  return p;
}

// The most that ScoreParts can give record A with any partner: a text A lacks scores its "not both" part,
// a date whose year A lacks at most 30 per weight point (or 0), anything else at most 100 per point.
// Valid for weights of 0 and above. The score of a pair does not depend on which of the two is A, so the
// bound of either record bounds the pair.
template <class Rec>
long long ScoreBound(const Rec& A, SexKind kind, bool parents, const TDuplicateOptions& o) {
  const auto text = [&](TextField f, int w, int notBoth) {
    return FieldText(A, f).isEmpty() ? (long long)w * notBoth : 100LL * w;
  };
  const auto date = [](std::int32_t year, int w) { return year != 0 ? 100LL * w : 30LL * w; };
  long long b = 0;
  if (!parents) {
    if (kind == kMale && o.SurnameMen) b += text(fFam, o.SurnameMenWeight, 20);
    if (kind == kFemale && o.SurnameWomen) b += text(fFam, o.SurnameWomenWeight, 50);
  }
  if (o.FirstName) b += text(fIm, o.FirstNameWeight, 10);
  if (o.Patronymic) b += text(fOt, o.PatronymicWeight, 30);
  if (o.Birth) b += date(A.iYearR, o.BirthWeight);
  if (o.Death) b += date(A.iYearS, o.DeathWeight);
  if (kind == kFemale && o.Maiden) b += text(fFamR, o.MaidenWeight, 20);
  return b;
}

QString DetailText(const Parts& p, SexKind kind, bool parents, int total) {
  QString s = QStringLiteral("(");
  if (!parents) s += QString::number(p.S / 100) + u'+';
  if (kind == kFemale) s += u'(' + QString::number(p.M / 100) + QStringLiteral(")+");
  s += QString::number(p.N / 100) + u'+' + QString::number(p.O / 100) + u'+' + QString::number(p.R / 100) +
       u'+' + QString::number(p.D / 100) + u'=' + QString::number(p.Sum() / 100) + u'/' +
       QString::number(total) + u')';
  return s;
}

// ---------------------------------------------------------------- the scan

// A record of the scan: interned texts (0 = empty, so that equal texts are equal numbers), the years and
// days the rule reads, and the record's own texts for the similarity.
struct ScanRec {
  const TPers4* src = nullptr;
  int text[4] = {0, 0, 0, 0};  // by TextField
  int sex = 0;                 // interned sex text
  int father = 0, mother = 0;  // interned id_0 / id_1 texts; kNoParent for "0"
  std::int64_t i0 = 0, i1 = 0;
  std::int32_t iYearR = 0, iYearS = 0;
  TDateTime dDateR = kUnknownDate, dDateS = kUnknownDate;
};
constexpr int kNoParent = -1;

const QString& FieldText(const ScanRec& r, TextField f) { return FieldText(*r.src, f); }

// The years of a record that the year rules read, packed small: the scan sweeps these for every pair.
struct Years {
  std::int16_t born = 0, died = 0, first = 9999, last = 0;
  bool viable = true;  // the record's score bound reaches the threshold
};

// Whether the years rule a pair out: one died before the other's first family year, one was born after
// the other's last family year, or both birth years are known and lie more than 30 years apart.
bool YearsRuleOut(const Years& d, const Years& p) {
  const auto diedBefore = [](const Years& x, const Years& y) { return x.died > 0 && y.first != 9999 && x.died < y.first; };
  const auto bornAfter = [](const Years& x, const Years& y) { return x.born > 0 && y.last != 0 && x.born > y.last; };
  if (diedBefore(p, d) || diedBefore(d, p) || bornAfter(p, d) || bornAfter(d, p)) return true;
  return d.born > 0 && p.born > 0 && std::abs(d.born - p.born) > 30;
}

std::int16_t Small(std::int32_t year) { return std::int16_t(std::clamp(year, -30000, 30000)); }

class Interner {
 public:
  int Id(const QString& s) {
    if (s.isEmpty()) return 0;
    const auto it = ids_.constFind(s);
    if (it != ids_.constEnd()) return it.value();
    const int id = int(ids_.size()) + 1;
    ids_.insert(s, id);
    return id;
  }

 private:
  QHash<QString, int> ids_;
};

// Bucket keys of a text: the interned text in the exact mode; (place, character) of the first three
// characters in the similarity mode, one of which any two texts with a non-zero similarity share.
void FieldKeys(const QString& s, int id, bool similarity, std::vector<std::uint64_t>& keys) {
  keys.clear();
  if (id == 0) return;
  if (!similarity) {
    keys.push_back(std::uint64_t(id));
  } else {
    for (int i = 0; i < 3 && i < s.size(); ++i) keys.push_back((std::uint64_t(i) << 16) | s[i].unicode());
  }
}

struct Buckets {
  std::unordered_map<std::uint64_t, std::vector<std::int64_t>> byKey;
  std::vector<std::int64_t> empty;  // persons without this text: they may match any text of it
};

}  // namespace

TDuplicateWeights DuplicateWeights(const TDuplicateOptions& o) {
  const auto w = [](bool on, int weight) { return on ? weight : 0; };
  TDuplicateWeights r;
  const int common = w(o.FirstName, o.FirstNameWeight) + w(o.Patronymic, o.PatronymicWeight) +
                     w(o.Birth, o.BirthWeight) + w(o.Death, o.DeathWeight);
  r.Common = std::max(1, common);
  r.CommonF = std::max(1, common + w(o.Maiden, o.MaidenWeight));
  r.TotalM = w(o.SurnameMen, o.SurnameMenWeight) + r.Common;
  r.TotalF = w(o.SurnameWomen, o.SurnameWomenWeight) + r.CommonF;
  return r;
}

TPers4 MakeDuplicateRecord(const Model& m, std::int64_t index) {
  TPers4 r;
  if (index <= 0 || index >= std::int64_t(m.aIndi.size())) return r;
  const TINDI& p = m.aIndi[std::size_t(index)];
  r.ID = QString::number(index);
  const bool famOk = p.FAMC > 0 && p.FAMC < std::int64_t(m.aFam.size());
  const TFAM& f = m.aFam[famOk ? std::size_t(p.FAMC) : 0];
  r.id_0 = QString::number(f.HUSB);
  r.id_1 = QString::number(f.WIFE);
  r.sex = p.SEX;
  r.Name = p.FIO1;
  r.DateR = p.BIRT_DATE.NORM;
  r.iYearR = KeyYear(p.BIRT_DATE.SORT1);
  r.dDateR = DayOf(p.BIRT_DATE);
  r.DateS = p.DEAT_DATE.NORM;
  r.iYearS = KeyYear(p.DEAT_DATE.SORT1);
  r.dDateS = DayOf(p.DEAT_DATE);
  r.Fam = p.SURN1;
  r.FamR = p.SURN0;
  r.Im = p.FIRS1;
  r.Ot = p.PATR1;
  const auto feed = [&r](const TDATES& d) {
    if (const int y = FamilyYear(d.SORT1)) r.iYearFirst = std::min(r.iYearFirst, y);
    if (const int y = FamilyYear(d.SORT2)) r.iYearLast = std::max(r.iYearLast, y);
  };
  for (std::int64_t fi : p.FAMS) {
    if (fi <= 0 || fi >= std::int64_t(m.aFam.size())) continue;
    const TFAM& fam = m.aFam[std::size_t(fi)];
    feed(fam.MARR_DATE);
    for (std::int64_t c : fam.CHIL)
      if (c > 0 && c < std::int64_t(m.aIndi.size())) feed(m.aIndi[std::size_t(c)].BIRT_DATE);
  }
  return r;
}

bool BuildDuplicateRecords(Model& m, const TDuplicateProgress& progress) {
  const std::int64_t n = std::int64_t(m.aIndi.size());
  if (!m.aPers4.empty()) {
    if (progress) progress(0, std::int64_t(m.aPers4.size()) - 1);
    return true;
  }
  m.aPers4.assign(std::size_t(n), TPers4{});
  for (std::int64_t i = 1; i < n; ++i) {
    if (m.AbortFlag) {
      m.aPers4.clear();
      return false;
    }
    m.aPers4[std::size_t(i)] = MakeDuplicateRecord(m, i);
    if (progress) progress(i, n - 1);
  }
  return true;
}

void ResolveDuplicateParents(Model& m, const TDuplicateProgress& progress) {
  // The ID of record r is r's index text, so an id_0 text names the record of that number; an id_0 that
  // names no record stays unresolved (0).
  const std::int64_t n = std::int64_t(m.aPers4.size());
  const auto resolve = [&](const QString& id) -> std::int32_t {
    bool ok = false;
    const qlonglong v = id.toLongLong(&ok);
    if (!ok || v <= 0 || v >= n) return 0;
    return m.aPers4[std::size_t(v)].ID == id ? std::int32_t(v) : 0;
  };
  for (std::int64_t i = 0; i < n && !m.AbortFlag; ++i) {
    if (progress) progress(i, n - 1);
    TPers4& r = m.aPers4[std::size_t(i)];
    if (r.i_0 == 0) r.i_0 = resolve(r.id_0);
    if (r.i_1 == 0) r.i_1 = resolve(r.id_1);
  }
}

int ScoreDuplicatePair(const TaPers4& recs, std::int64_t a, std::int64_t b, int total, QString& detail,
                       bool parents, const TDuplicateOptions& o) {
  static const TPers4 kEmpty;
  const auto rec = [&](std::int64_t i) -> const TPers4& {
    return i >= 0 && i < std::int64_t(recs.size()) ? recs[std::size_t(i)] : kEmpty;
  };
  const TPers4& A = rec(a);
  const TPers4& B = rec(b);
  const SexKind kind = KindOf(detail);
  const Parts p = ScoreParts(A, B, kind, parents, o, [&](TextField f) {
    const QString& x = FieldText(A, f);
    const QString& y = FieldText(B, f);
    if (x.isEmpty() || y.isEmpty()) return kNotBoth;
    return x == y ? kEqual : kDiffer;
  });
  detail = DetailText(p, kind, parents, total);
  return p.Sum();
}

std::vector<TDuplicatePair> FindDuplicatePairs(const Model& m, const TDuplicateOptions& o, std::int64_t current,
                                               bool pruned, const TDuplicateProgress& progress) {
  std::vector<TDuplicatePair> out;
  const TaPers4& recs = m.aPers4;
  const std::int64_t n = std::int64_t(recs.size());
  if (n < 2) return out;
  const TDuplicateWeights w = DuplicateWeights(o);

  Interner names, sexes, parentIds;
  std::vector<ScanRec> scan(static_cast<std::size_t>(n));
  std::vector<Years> years(static_cast<std::size_t>(n));
  for (std::int64_t i = 0; i < n; ++i) {
    const TPers4& r = recs[std::size_t(i)];
    ScanRec& s = scan[std::size_t(i)];
    s.src = &r;
    for (TextField f : {fFam, fFamR, fIm, fOt}) s.text[f] = names.Id(FieldText(r, f));
    s.sex = sexes.Id(r.sex);
    s.father = r.id_0 == u"0" ? kNoParent : parentIds.Id(r.id_0);
    s.mother = r.id_1 == u"0" ? kNoParent : parentIds.Id(r.id_1);
    s.i0 = r.i_0 >= 0 && r.i_0 < n ? r.i_0 : 0;
    s.i1 = r.i_1 >= 0 && r.i_1 < n ? r.i_1 : 0;
    s.iYearR = r.iYearR;
    s.iYearS = r.iYearS;
    s.dDateR = r.dDateR;
    s.dDateS = r.dDateS;
    years[std::size_t(i)] = {Small(r.iYearR), Small(r.iYearS), Small(r.iYearFirst), Small(r.iYearLast), true};
  }
  const auto score = [&](std::int64_t a, std::int64_t b, SexKind kind, bool parents) {
    const ScanRec& A = scan[std::size_t(a)];
    const ScanRec& B = scan[std::size_t(b)];
    return ScoreParts(A, B, kind, parents, o, [&A, &B](TextField f) {
             const int x = A.text[f], y = B.text[f];
             if (x == 0 || y == 0) return kNotBoth;
             return x == y ? kEqual : kDiffer;
           }).Sum();
  };
  const auto totalOf = [&](SexKind kind) {
    return (kind == kFemale ? w.TotalF : w.TotalM) + (o.Father ? w.Common : 0) + (o.Mother ? w.CommonF : 0);
  };

  // The pair test, in the rule's order: the years, the siblings, the score.
  const auto test = [&](std::int64_t d, std::int64_t p, TDuplicatePair& pair) {
    if (YearsRuleOut(years[std::size_t(d)], years[std::size_t(p)])) return false;
    const ScanRec& sd = scan[std::size_t(d)];
    const ScanRec& sp = scan[std::size_t(p)];
    const bool siblings =
        (sd.father != kNoParent && sd.father == sp.father) || (sd.mother != kNoParent && sd.mother == sp.mother);
    if (o.ExcludeSiblings && siblings) return false;
    const SexKind kind = KindOf(sd.src->sex);
    int sc = score(d, p, kind, false);
    if (o.Father) sc += score(sd.i0, sp.i0, kMale, true);
    if (o.Mother) sc += score(sd.i1, sp.i1, kFemale, true);
    const int total = totalOf(kind);
    if (double(sc) / double(total) < double(o.Threshold)) return false;
    pair.d = d;
    pair.p = p;
    pair.score = sc;
    pair.total = total;
    pair.siblings = siblings;
    return true;
  };

  // Persons by sex, in index order.
  std::unordered_map<int, std::vector<std::int64_t>> groups;
  for (std::int64_t i = 1; i < n; ++i) groups[scan[std::size_t(i)].sex].push_back(i);

  // Pruning. The bounds hold for weights of 0 and above, which the page's spin edits give.
  for (int wt : {o.SurnameMenWeight, o.SurnameWomenWeight, o.MaidenWeight, o.FirstNameWeight, o.PatronymicWeight,
                 o.BirthWeight, o.DeathWeight})
    if (wt < 0) pruned = false;
  std::vector<long long> best(static_cast<std::size_t>(n), 0);  // each record's score bound
  std::unordered_map<int, std::array<Buckets, 4>> buckets;       // by sex, by text field
  std::vector<std::uint64_t> keys;
  if (pruned) {
    // A pair scores at most the bound of either of its records; a record whose bound stays below the
    // threshold takes part in no match.
    for (std::int64_t i = 1; i < n; ++i) {
      const ScanRec& r = scan[std::size_t(i)];
      const SexKind kind = KindOf(r.src->sex);
      long long b = ScoreBound(r, kind, false, o);
      if (o.Father) b += ScoreBound(scan[std::size_t(r.i0)], kMale, true, o);
      if (o.Mother) b += ScoreBound(scan[std::size_t(r.i1)], kFemale, true, o);
      best[std::size_t(i)] = b;
      years[std::size_t(i)].viable = b >= (long long)o.Threshold * totalOf(kind);
    }
    for (auto& [sexId, members] : groups) {
      std::array<Buckets, 4>& byField = buckets[sexId];
      for (std::int64_t i : members) {
        if (!years[std::size_t(i)].viable) continue;
        for (TextField f : {fFam, fFamR, fIm, fOt}) {
          const int id = scan[std::size_t(i)].text[f];
          if (id == 0) {
            byField[f].empty.push_back(i);
            continue;
          }
          FieldKeys(FieldText(recs[std::size_t(i)], f), id, o.Similarity, keys);
          for (std::uint64_t k : keys) byField[f].byKey[k].push_back(i);
        }
      }
    }
  }

  // The weight of a text field in d's score, 0 when the field does not count for d's sex.
  const auto fieldWeight = [&](TextField f, SexKind kind) -> long long {
    switch (f) {
      case fFam:
        if (kind == kMale) return o.SurnameMen ? o.SurnameMenWeight : 0;
        if (kind == kFemale) return o.SurnameWomen ? o.SurnameWomenWeight : 0;
        return 0;
      case fFamR: return kind == kFemale && o.Maiden ? o.MaidenWeight : 0;
      case fIm: return o.FirstName ? o.FirstNameWeight : 0;
      case fOt: return o.Patronymic ? o.PatronymicWeight : 0;
    }
    return 0;
  };

  std::vector<std::int64_t> mark(std::size_t(n), -1);
  std::vector<std::int64_t> cand;
  for (std::int64_t d = 1; d < n; ++d) {
    if (m.AbortFlag) break;
    if (progress) progress(d, n - 1);
    const ScanRec& sd = scan[std::size_t(d)];
    if (o.Who == TDuplicateWho::CurrentOnly && d != current) continue;
    if (o.Who == TDuplicateWho::Women && sd.src->sex == u"M") continue;
    if (o.Who == TDuplicateWho::Men && sd.src->sex == u"F") continue;
    // The current person alone is paired with everyone else; otherwise each pair is taken once, from its
    // lower index.
    const bool everyOther = o.Who == TDuplicateWho::CurrentOnly;
    const std::vector<std::int64_t>& members = groups[sd.sex];
    if (!pruned) {
      for (std::int64_t p : members) {
        if (everyOther ? p == d : p <= d) continue;
        TDuplicatePair pair;
        if (test(d, p, pair)) out.push_back(std::move(pair));
      }
      continue;
    }
    if (!years[std::size_t(d)].viable) continue;

    // A text of d that p has too but different (without a shared key in the similarity mode) scores 0
    // there, losing d's full 100 points per weight. Fields whose loss alone drops d's bound below the
    // threshold must agree: the persons sharing d's key there (or without the text) are all candidates.
    // Otherwise a set of fields whose joint loss does it: candidates agree on at least one of them.
    const SexKind kind = KindOf(sd.src->sex);
    const long long need = (long long)o.Threshold * totalOf(kind);
    const long long slack = best[std::size_t(d)] - need;  // >= 0 for a viable record
    std::array<Buckets, 4>& byField = buckets[sd.sex];
    struct Field {
      TextField f;
      long long loss;
    };
    std::vector<Field> fields;
    for (TextField f : {fFam, fFamR, fIm, fOt}) {
      const long long wt = fieldWeight(f, kind);
      if (wt > 0 && sd.text[f] != 0) fields.push_back({f, 100 * wt});
    }
    std::sort(fields.begin(), fields.end(), [](const Field& a, const Field& b) { return a.loss > b.loss; });
    const auto listSize = [&](TextField f) {
      std::size_t size = byField[f].empty.size();
      FieldKeys(FieldText(*sd.src, f), sd.text[f], o.Similarity, keys);
      for (std::uint64_t k : keys) {
        const auto it = byField[f].byKey.find(k);
        if (it != byField[f].byKey.end()) size += it->second.size();
      }
      return size;
    };
    std::vector<TextField> select;  // the candidates are the union of these fields' selections
    std::size_t selected = 0;
    std::size_t smallest = SIZE_MAX;
    for (const Field& f : fields)
      if (f.loss > slack) {
        const std::size_t size = listSize(f.f);
        if (size < smallest) {
          smallest = size;
          select.assign(1, f.f);
        }
      }
    if (select.empty()) {
      long long lost = 0;
      for (const Field& f : fields) {
        select.push_back(f.f);
        selected += listSize(f.f);
        lost += f.loss;
        if (lost > slack) break;
      }
      if (lost <= slack) select.clear();
    } else {
      selected = smallest;
    }

    // A small selection is gathered and sorted; otherwise the members are swept in index order, the
    // packed years and bounds ruling out most pairs before any text is read.
    const Years& yd = years[std::size_t(d)];
    if (!select.empty() && selected * 4 < members.size()) {
      cand.clear();
      const auto add = [&](const std::vector<std::int64_t>& list) {
        for (std::int64_t p : list)
          if (mark[std::size_t(p)] != d) {
            mark[std::size_t(p)] = d;
            cand.push_back(p);
          }
      };
      for (TextField f : select) {
        FieldKeys(FieldText(*sd.src, f), sd.text[f], o.Similarity, keys);
        for (std::uint64_t k : keys) {
          const auto it = byField[f].byKey.find(k);
          if (it != byField[f].byKey.end()) add(it->second);
        }
        add(byField[f].empty);
      }
      std::sort(cand.begin(), cand.end());
      for (std::int64_t p : cand) {
        if (everyOther ? p == d : p <= d) continue;
        TDuplicatePair pair;
        if (test(d, p, pair)) out.push_back(std::move(pair));
      }
    } else {
      auto it = everyOther ? members.begin() : std::upper_bound(members.begin(), members.end(), d);
      for (; it != members.end(); ++it) {
        const std::int64_t p = *it;
        const Years& yp = years[std::size_t(p)];
        if (!yp.viable || p == d || YearsRuleOut(yd, yp)) continue;
        TDuplicatePair pair;
        if (test(d, p, pair)) out.push_back(std::move(pair));
      }
    }
  }

  // The detail texts of the matches.
  for (TDuplicatePair& pair : out) {
    const TPers4& D = recs[std::size_t(pair.d)];
    const TPers4& P = recs[std::size_t(pair.p)];
    const SexKind kind = KindOf(D.sex);
    QString detail = D.sex;
    ScoreDuplicatePair(recs, pair.d, pair.p, kind == kFemale ? w.TotalF : w.TotalM, detail, false, o);
    pair.detail = detail;
    if (o.Father) {
      QString fd = QStringLiteral("M");
      ScoreDuplicatePair(recs, D.i_0, P.i_0, w.Common, fd, true, o);
      pair.fatherDetail = QStringLiteral(" + ") + fd;
    }
    if (o.Mother) {
      QString md = QStringLiteral("F");
      ScoreDuplicatePair(recs, D.i_1, P.i_1, w.CommonF, md, true, o);
      pair.motherDetail = QStringLiteral(" + ") + md;
    }
  }
  return out;
}

QString DuplicatePercentText(int score, int total) {
  if (total == 0) return QStringLiteral("0");
  const double v = std::nearbyint(double(score) / double(total) * 10.0) / 10.0;  // halves to even
  return QString::number(v, 'g', 15);
}

std::vector<TDuplicatePair> FindDoubleGedcom(Model& m, const TDuplicateOptions& o, std::int64_t current,
                                             QTextDocument* pane, const TDuplicateTranslate& translate,
                                             const TDuplicateProgress& progress) {
  QElapsedTimer timer;
  timer.start();
  m.AbortFlag = false;
  if (pane) pane->clear();
  const auto tr = [&](const QString& key, const QString& def) { return translate ? translate(key, def) : def; };
  const QString fatherWord = tr(QStringLiteral("Father"), QStringLiteral("Отец")).toLower();
  const QString motherWord = tr(QStringLiteral("Mother"), QStringLiteral("Мать")).toLower();

  std::vector<TDuplicatePair> pairs;
  if (BuildDuplicateRecords(m, progress)) {
    if (progress) progress(0, std::int64_t(m.aPers4.size()) - 1);
    if (o.Father || o.Mother) ResolveDuplicateParents(m, progress);
    if (progress) progress(0, std::int64_t(m.aPers4.size()) - 1);
    pairs = FindDuplicatePairs(m, o, current, true, progress);
  }

  const TaPers4& recs = m.aPers4;
  const auto append = [&](const QString& text, TColor color, TFontStyles style = fsNone) {
    AppendRich(pane, text, color, style, true);
  };
  const auto life = [](const TPers4& r) { return r.Name + QStringLiteral(" (") + r.DateR + u'-' + r.DateS + u')'; };
  const auto parentLine = [&](std::int64_t i, TColor color) {
    if (i <= 0 || i >= std::int64_t(recs.size()))
      append(QStringLiteral("?") + kCrLf, color);
    else
      append(life(recs[std::size_t(i)]) + kCrLf, color);
  };
  const auto parentLines = [&](const TPers4& r, const QString& indent) {
    if (o.Father) {
      append(indent + fatherWord + QStringLiteral(" - "), kBlue);
      parentLine(r.i_0, kBlue);
    }
    if (o.Mother) {
      append(indent + motherWord + QStringLiteral(" - "), kRed);
      parentLine(r.i_1, kRed);
    }
  };
  if (pane) {
    std::int64_t lastD = -1;
    for (const TDuplicatePair& pair : pairs) {
      const TPers4& D = recs[std::size_t(pair.d)];
      const TPers4& P = recs[std::size_t(pair.p)];
      const bool female = D.sex == u"F";
      const TColor c = female ? kRed : kBlue;
      if (pair.d != lastD) {
        lastD = pair.d;
        append(life(D) + kCrLf, c, fsBold | fsUnderline);
        parentLines(D, QStringLiteral("  "));
      }
      append(QStringLiteral(" - "), c);
      if (pair.siblings)
        append(tr(female ? QStringLiteral("*PD") : QStringLiteral("*PS"), QString()).toLower() + u' ', c);
      append(life(P) + u' ', c, fsBold);
      if (o.Details) append(pair.detail + pair.fatherDetail + pair.motherDetail, c);
      if (o.Father || o.Mother)
        append(QStringLiteral(" = ") + QString::number(pair.score / 100) + u'/' + QString::number(pair.total), c);
      append(QStringLiteral(" = ") + DuplicatePercentText(pair.score, pair.total) + u'%' + kCrLf, c);
      parentLines(P, QStringLiteral("   "));
    }
    append(QStringLiteral("Time: ") + QTime(0, 0).addMSecs(int(timer.elapsed())).toString(QStringLiteral("hh:mm:ss.zzz")),
           0);
  }
  return pairs;
}
