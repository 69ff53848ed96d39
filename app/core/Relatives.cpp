#include "app/core/Relatives.h"

#include <QString>
#include <vector>

namespace {

struct Step {
  std::int64_t person;
  int depth;  // steps from the root; the root has depth 1
  int gen;    // generation relative to the root: negative above, positive below
};

bool Valid(const Model& m, std::int64_t i) { return i > 0 && i < static_cast<std::int64_t>(m.aIndi.size()); }

bool KeepsMark(const QString& mark) { return mark == QLatin1String("0") || mark == QLatin1String("1"); }

}  // namespace

void MarkRelatives(Model& m, std::int64_t root, int B, int C) {
  for (std::size_t i = 1; i < m.aIndi.size(); ++i) {
    m.aIndi[i].FAVOR.clear();
    m.aIndi[i].Tag1 = 0;
    m.aIndi[i].Tag2 = 0;
  }
  if (root < 0 || root >= static_cast<std::int64_t>(m.aIndi.size())) return;
  const QString kRoot = QStringLiteral("0"), kAnc = QStringLiteral("1"), kDesc = QStringLiteral("2"),
                kSib = QStringLiteral("3"), kColl = QStringLiteral("4");
  m.aIndi[root].FAVOR = kRoot;
  if (root == 0) return;

  // Depth-first in discovery order: each step's new entries are pushed in reverse.
  std::vector<Step> stack{{root, 1, 0}};
  std::vector<Step> found;
  while (!stack.empty()) {
    const Step s = stack.back();
    stack.pop_back();
    found.clear();
    TINDI& a = m.aIndi[s.person];
    const QString aMark = a.FAVOR;
    // Parents
    if ((B > 0 || C > s.depth) && (aMark == kRoot || aMark == kAnc) && a.FAMC > 0 &&
        a.FAMC < static_cast<std::int64_t>(m.aFam.size())) {
      const TFAM& f = m.aFam[a.FAMC];
      for (std::int64_t p : {f.HUSB, f.WIFE}) {
        if (!Valid(m, p) || m.aIndi[p].Tag1 != 0) continue;
        found.push_back({p, s.depth + 1, s.gen - 1});
        if (m.aIndi[p].FAVOR != kRoot) m.aIndi[p].FAVOR = kAnc;
        m.aIndi[p].Tag1 = 1;
      }
    }
    // Children
    if ((B > 1 && aMark == kAnc) || C > 0) {
      const std::vector<std::int64_t> fams = a.FAMS;
      for (std::int64_t fi : fams) {
        if (fi <= 0 || fi >= static_cast<std::int64_t>(m.aFam.size())) continue;
        const std::vector<std::int64_t> children = m.aFam[fi].CHIL;
        for (std::int64_t h : children) {
          if (!Valid(m, h) || m.aIndi[h].Tag2 == 1) continue;
          TINDI& child = m.aIndi[h];
          child.Tag2 = 1;
          found.push_back({h, s.depth + 1, s.gen + 1});
          if (KeepsMark(child.FAVOR)) continue;
          if (B > 1 && aMark == kAnc)
            child.FAVOR = kSib;
          else if (C > 0 && (aMark == kDesc || aMark == kRoot))
            child.FAVOR = kDesc;
          else if (C < 2)
            ;  // keeps its mark
          else
            child.FAVOR = s.gen >= 0 ? kColl : QString();
        }
      }
    }
    for (auto it = found.rbegin(); it != found.rend(); ++it) stack.push_back(*it);
  }
  m.aIndi[root].FAVOR = kRoot;
}
