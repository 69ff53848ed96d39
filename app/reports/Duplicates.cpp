// Duplicate search: compact records, the scoring rule, the plain and the pruned pair scan, the report.
#include "app/reports/Duplicates.h"

#include "app/core/UnitFunc.h"

#include <QElapsedTimer>
#include <QHash>
#include <QTextDocument>
#include <QTime>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <unordered_map>

namespace {

constexpr TColor kRed = 255;
constexpr TColor kBlue = 0xFF0000;
const QString kCrLf = QStringLiteral("\r\n");

// A date whose text is empty is unknown, also when no parser filled its day number (which is then 0).
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
template <class State>
Parts ScoreParts(const TPers4& A, const TPers4& B, SexKind kind, bool parents, const TDuplicateOptions& o,
                 State state) {
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
        const int sim = SurnameSimilarity(A.Fam, B.Fam);
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

// A record of the scan: interned texts (0 = empty), so that equal texts are equal numbers.
struct ScanRec {
  int text[4] = {0, 0, 0, 0};  // by TextField
  int sex = 0;                 // interned sex text
  int father = 0, mother = 0;  // interned id_0 / id_1 texts; kNoParent for "0"
  std::int64_t i0 = 0, i1 = 0;
};
constexpr int kNoParent = -1;

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

// The blocking plan of one sex: which text fields a match cannot lose.
struct Plan {
  bool prune = false;
  std::vector<TextField> necessary;  // a match keeps each of these (any one suffices to select)
  std::vector<TextField> anyOf;      // or: a match keeps at least one of these
};

// Bucket key of a text field: the interned text in the exact mode; (place, character) of the first three
// characters in the similarity mode, which any two texts with a non-zero similarity share.
std::vector<std::uint64_t> FieldKeys(const QString& s, int id, bool similarity) {
  std::vector<std::uint64_t> keys;
  if (id == 0) return keys;
  if (!similarity) {
    keys.push_back(std::uint64_t(id));
  } else {
    for (int i = 0; i < 3 && i < s.size(); ++i) keys.push_back((std::uint64_t(i) << 16) | s[i].unicode());
  }
  return keys;
}

struct Buckets {
  std::unordered_map<std::uint64_t, std::vector<std::int64_t>> byKey;
  std::vector<std::int64_t> empty;  // persons without this text: they match any text of it
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

  // Interned texts.
  Interner names, sexes, parentsIds;
  std::vector<ScanRec> scan(static_cast<std::size_t>(n));
  for (std::int64_t i = 0; i < n; ++i) {
    const TPers4& r = recs[std::size_t(i)];
    ScanRec& s = scan[std::size_t(i)];
    for (TextField f : {fFam, fFamR, fIm, fOt}) s.text[f] = names.Id(FieldText(r, f));
    s.sex = sexes.Id(r.sex);
    s.father = r.id_0 == u"0" ? kNoParent : parentsIds.Id(r.id_0);
    s.mother = r.id_1 == u"0" ? kNoParent : parentsIds.Id(r.id_1);
    s.i0 = r.i_0 >= 0 && r.i_0 < n ? r.i_0 : 0;
    s.i1 = r.i_1 >= 0 && r.i_1 < n ? r.i_1 : 0;
  }
  const auto stateOf = [&](std::int64_t a, std::int64_t b) {
    return [&scan, a, b](TextField f) {
      const int x = scan[std::size_t(a)].text[f];
      const int y = scan[std::size_t(b)].text[f];
      if (x == 0 || y == 0) return kNotBoth;
      return x == y ? kEqual : kDiffer;
    };
  };
  const auto score = [&](std::int64_t a, std::int64_t b, SexKind kind, bool parents) {
    return ScoreParts(recs[std::size_t(a)], recs[std::size_t(b)], kind, parents, o, stateOf(a, b)).Sum();
  };

  // The pair test of the scan, in the rule's order: the years, the siblings, the score.
  const auto test = [&](std::int64_t d, std::int64_t p, TDuplicatePair& pair) {
    const TPers4& D = recs[std::size_t(d)];
    const TPers4& P = recs[std::size_t(p)];
    const auto diedBefore = [](const TPers4& x, const TPers4& y) {  // x died before y's first family year
      return x.iYearS > 0 && y.iYearFirst != 9999 && x.iYearS < y.iYearFirst;
    };
    const auto bornAfter = [](const TPers4& x, const TPers4& y) {  // x born after y's last family year
      return x.iYearR > 0 && y.iYearLast != 0 && x.iYearR > y.iYearLast;
    };
    if (diedBefore(P, D) || diedBefore(D, P) || bornAfter(P, D) || bornAfter(D, P)) return false;
    if (D.iYearR > 0 && P.iYearR > 0 && std::abs(D.iYearR - P.iYearR) > 30) return false;
    const ScanRec& sd = scan[std::size_t(d)];
    const ScanRec& sp = scan[std::size_t(p)];
    const bool siblings =
        (sd.father != kNoParent && sd.father == sp.father) || (sd.mother != kNoParent && sd.mother == sp.mother);
    if (o.ExcludeSiblings && siblings) return false;
    const SexKind kind = KindOf(D.sex);
    int total = kind == kFemale ? w.TotalF : w.TotalM;
    int sc = score(d, p, kind, false);
    if (o.Father) {
      sc += score(sd.i0, sp.i0, kMale, true);
      total += w.Common;
    }
    if (o.Mother) {
      sc += score(sd.i1, sp.i1, kFemale, true);
      total += w.CommonF;
    }
    if (double(sc) / double(total) < double(o.Threshold)) return false;
    pair.d = d;
    pair.p = p;
    pair.score = sc;
    pair.total = total;
    pair.siblings = siblings;
    return true;
  };

  // Persons by sex, in index order (record 0 takes part as the rule's scan starts at 1 only for d).
  std::unordered_map<int, std::vector<std::int64_t>> groups;
  for (std::int64_t i = 1; i < n; ++i) groups[scan[std::size_t(i)].sex].push_back(i);

  // The blocking plan and buckets of each sex.
  struct GroupIndex {
    Plan plan;
    Buckets buckets[4];
  };
  std::unordered_map<int, GroupIndex> index;
  if (pruned) {
    for (auto& [sexId, members] : groups) {
      const SexKind kind = KindOf(recs[std::size_t(members.front())].sex);
      struct FieldMax {
        TextField f;
        long long max;
      };
      std::vector<FieldMax> fields;
      if (kind == kMale && o.SurnameMen) fields.push_back({fFam, 100LL * o.SurnameMenWeight});
      if (kind == kFemale && o.SurnameWomen) fields.push_back({fFam, 100LL * o.SurnameWomenWeight});
      if (o.FirstName) fields.push_back({fIm, 100LL * o.FirstNameWeight});
      if (o.Patronymic) fields.push_back({fOt, 100LL * o.PatronymicWeight});
      if (kind == kFemale && o.Maiden) fields.push_back({fFamR, 100LL * o.MaidenWeight});
      long long best = 0;
      for (const FieldMax& f : fields) best += std::max(0LL, f.max);
      if (o.Birth) best += 100LL * std::max(0, o.BirthWeight);
      if (o.Death) best += 100LL * std::max(0, o.DeathWeight);
      if (o.Father) best += 100LL * w.Common;
      if (o.Mother) best += 100LL * w.CommonF;
      long long total = (kind == kFemale ? w.TotalF : w.TotalM) + (o.Father ? w.Common : 0) +
                        (o.Mother ? w.CommonF : 0);
      const long long need = (long long)o.Threshold * total;  // a match scores at least this
      GroupIndex& gi = index[sexId];
      std::sort(fields.begin(), fields.end(), [](const FieldMax& a, const FieldMax& b) { return a.max > b.max; });
      for (const FieldMax& f : fields)
        if (f.max > 0 && best - f.max < need) gi.plan.necessary.push_back(f.f);
      if (gi.plan.necessary.empty()) {
        long long lost = 0;
        for (const FieldMax& f : fields) {
          if (f.max <= 0) continue;
          gi.plan.anyOf.push_back(f.f);
          lost += f.max;
          if (best - lost < need) break;
        }
        if (best - lost >= need) gi.plan.anyOf.clear();
      }
      gi.plan.prune = !gi.plan.necessary.empty() || !gi.plan.anyOf.empty();
      if (!gi.plan.prune) continue;
      for (std::int64_t i : members) {
        for (TextField f : {fFam, fFamR, fIm, fOt}) {
          const int id = scan[std::size_t(i)].text[f];
          Buckets& b = gi.buckets[f];
          if (id == 0) {
            b.empty.push_back(i);
            continue;
          }
          for (std::uint64_t k : FieldKeys(FieldText(recs[std::size_t(i)], f), id, o.Similarity))
            b.byKey[k].push_back(i);
        }
      }
    }
  }

  std::vector<std::int64_t> mark(std::size_t(n), -1);
  std::vector<std::int64_t> cand;
  // The persons that can match d on field f: those sharing a key of d's text, and those without the text.
  // Returns false when d has no text there (every person can match).
  const auto collect = [&](const GroupIndex& gi, std::int64_t d, TextField f, std::vector<std::int64_t>& into) {
    const int id = scan[std::size_t(d)].text[f];
    if (id == 0) return false;
    const Buckets& b = gi.buckets[f];
    const auto add = [&](const std::vector<std::int64_t>& list) {
      for (std::int64_t p : list)
        if (mark[std::size_t(p)] != d) {
          mark[std::size_t(p)] = d;
          into.push_back(p);
        }
    };
    for (std::uint64_t k : FieldKeys(FieldText(recs[std::size_t(d)], f), id, o.Similarity)) {
      const auto it = b.byKey.find(k);
      if (it != b.byKey.end()) add(it->second);
    }
    add(b.empty);
    return true;
  };
  const auto listSize = [&](const GroupIndex& gi, std::int64_t d, TextField f) -> std::size_t {
    const int id = scan[std::size_t(d)].text[f];
    if (id == 0) return SIZE_MAX;
    const Buckets& b = gi.buckets[f];
    std::size_t size = b.empty.size();
    for (std::uint64_t k : FieldKeys(FieldText(recs[std::size_t(d)], f), id, o.Similarity)) {
      const auto it = b.byKey.find(k);
      if (it != b.byKey.end()) size += it->second.size();
    }
    return size;
  };

  for (std::int64_t d = 1; d < n; ++d) {
    if (m.AbortFlag) break;
    if (progress) progress(d, n - 1);
    const TPers4& D = recs[std::size_t(d)];
    if (o.Who == TDuplicateWho::CurrentOnly && d != current) continue;
    if (o.Who == TDuplicateWho::Women && D.sex == u"M") continue;
    if (o.Who == TDuplicateWho::Men && D.sex == u"F") continue;
    const std::vector<std::int64_t>& members = groups[scan[std::size_t(d)].sex];
    // The current person alone is paired with everyone else; otherwise each pair is taken once, from
    // its lower index.
    const bool everyOther = o.Who == TDuplicateWho::CurrentOnly;
    const std::vector<std::int64_t>* candidates = &members;
    if (pruned) {
      const GroupIndex& gi = index[scan[std::size_t(d)].sex];
      if (gi.plan.prune) {
        cand.clear();
        bool selected = false;
        if (!gi.plan.necessary.empty()) {
          // Each necessary field alone selects every possible match: take the smallest selection.
          TextField bestField = gi.plan.necessary.front();
          std::size_t bestSize = SIZE_MAX;
          for (TextField f : gi.plan.necessary) {
            const std::size_t s = listSize(gi, d, f);
            if (s < bestSize) {
              bestSize = s;
              bestField = f;
            }
          }
          selected = bestSize != SIZE_MAX && collect(gi, d, bestField, cand);
        } else {
          selected = true;
          for (TextField f : gi.plan.anyOf)
            if (scan[std::size_t(d)].text[f] == 0) selected = false;
          if (selected)
            for (TextField f : gi.plan.anyOf) collect(gi, d, f, cand);
        }
        if (selected) {
          std::sort(cand.begin(), cand.end());
          candidates = &cand;
        }
      }
    }
    for (std::int64_t p : *candidates) {
      if (everyOther ? p == d : p <= d) continue;
      TDuplicatePair pair;
      if (test(d, p, pair)) out.push_back(std::move(pair));
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
