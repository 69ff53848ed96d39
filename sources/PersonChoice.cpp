// Person choice of the technical-field tool; see PersonChoice.h.
#include "sources/PersonChoice.h"

#include "platform/qt/MessageFormat.h"

#include <vector>

QString GetTechField(const TINDI& p, int entry) {
  switch (entry) {
    case 0: return p.NPFX;
    case 1: return p.NSFX;
    case 2: return p.RESI_PHON;
    case 3: return p.RESI_EMAIL;
    case 4: return p.RESI_WWW;
    case 5: return p.RESI_FAX;
    default: return {};
  }
}

QString SignChangeNote(platform::TIniFile* lang, const QString& newValue, const std::optional<QString>& oldValue) {
  QString text;
  if (oldValue && !oldValue->isEmpty() && *oldValue != newValue)
    text = platform::FormatMsg(ToolText(lang, "SignChange"), {*oldValue, newValue});
  else if (oldValue && !oldValue->isEmpty())
    text = platform::FormatMsg(ToolText(lang, "SignNoChange"), {*oldValue});
  else
    text = platform::FormatMsg(ToolText(lang, "SignSet"), {newValue});
  return QStringLiteral(", ") + text;
}

namespace {

// The walk from the current person. A state is a person with the direction it was entered in: upwards
// (the start, or through a father or mother: the path has no "C") or downwards (through a child: the path
// ends in "C", and every later step is to a child as well). Everything a state leads to depends only on
// the person, the direction and the persons already reached, so a state is walked once.
class TModelWalk {
 public:
  TModelWalk(Model& m, int item, int sexFilter, const std::function<void(std::int64_t)>& onMark)
      : m_(m), item_(item), sexFilter_(sexFilter), onMark_(onMark),
        visited_(m.aIndi.size(), false), walked_(2 * m.aIndi.size(), false) {}

  void Run(std::int64_t start) {
    if (start <= 0 || start >= std::int64_t(m_.aIndi.size())) return;
    Enter(start, false);
    while (!stack_.empty()) {
      Frame& f = stack_.back();
      if (f.at >= f.next.size()) {
        stack_.pop_back();
        continue;
      }
      const auto [j, down] = f.next[f.at++];
      // A child of a person reached downwards is not walked again once reached.
      if (visited_[std::size_t(j)] && f.down) continue;
      if (walked_[std::size_t(2 * j + (down ? 1 : 0))]) continue;
      Enter(j, down);  // may reallocate the stack: f is not used after this
    }
  }

 private:
  struct Frame {
    bool down = false;
    std::vector<std::pair<std::int64_t, bool>> next;
    std::size_t at = 0;
  };

  void Enter(std::int64_t i, bool down) {
    walked_[std::size_t(2 * i + (down ? 1 : 0))] = true;
    TINDI& p = m_.aIndi[std::size_t(i)];
    if (!visited_[std::size_t(i)] && SexPasses(p.SEX, sexFilter_)) {
      p.TECH = QStringLiteral("*");
      if (onMark_) onMark_(i);
    }
    visited_[std::size_t(i)] = true;
    Frame f;
    f.down = down;
    const std::int64_t nf = std::int64_t(m_.aFam.size());
    if (item_ > 1 && !down && p.FAMC > 0 && p.FAMC < nf) {
      const TFAM& fam = m_.aFam[std::size_t(p.FAMC)];
      if (Valid(fam.HUSB) && item_ != 4) f.next.emplace_back(fam.HUSB, false);
      if (Valid(fam.WIFE) && item_ != 3 && item_ != 5) f.next.emplace_back(fam.WIFE, false);
    }
    if ((item_ == 1 || item_ == 5 || item_ == 6) && !(item_ == 5 && p.SEX == u"F"))
      for (std::int64_t fi : p.FAMS)
        if (fi > 0 && fi < nf)
          for (std::int64_t c : m_.aFam[std::size_t(fi)].CHIL)
            if (Valid(c)) f.next.emplace_back(c, true);
    stack_.push_back(std::move(f));
  }

  bool Valid(std::int64_t i) const { return i > 0 && i < std::int64_t(m_.aIndi.size()); }

  Model& m_;
  int item_;
  int sexFilter_;
  const std::function<void(std::int64_t)>& onMark_;
  std::vector<bool> visited_;  // the persons reached (the visited list)
  std::vector<bool> walked_;   // the states walked: 2 * person + (downwards)
  std::vector<Frame> stack_;
};

}  // namespace

void ChooseModelPersons(Model& m, const TToolOptions& o, std::int64_t current, const QString& linkChain,
                        bool gedcom, const std::function<void(std::int64_t person)>& onMark) {
  for (TINDI& p : m.aIndi) p.TECH.clear();
  const std::int64_t n = std::int64_t(m.aIndi.size());
  const int item = o.RadioGroup14;
  if (item == 7) {
    for (const QString& part : linkChain.split(u';', Qt::SkipEmptyParts)) {
      bool ok = false;
      const std::int64_t i = part.trimmed().toLongLong(&ok);
      if (!ok || i <= 0 || i >= n || !m.aIndi[std::size_t(i)].TECH.isEmpty()) continue;
      m.aIndi[std::size_t(i)].TECH = QStringLiteral("*");
      if (onMark) onMark(i);
    }
  } else if (item == 8) {
    for (std::int64_t i = 1; i < n; ++i) {
      TINDI& p = m.aIndi[std::size_t(i)];
      if (!gedcom) {
        p.TECH = QStringLiteral("-DEL-");
      } else if (!GetTechField(p, o.ComboBox5).isEmpty()) {
        p.TECH = QStringLiteral("-");
        if (onMark) onMark(i);
      }
    }
    return;
  } else if (item >= 0 && item <= 6) {
    TModelWalk(m, item, o.RadioGroup13, onMark).Run(current);
  }
  if (!o.CheckBox55 && !o.CheckBox56) return;
  // Spouses and children of the families of every chosen person, in index order.
  const std::int64_t nf = std::int64_t(m.aFam.size());
  const auto add = [&](std::int64_t j) {
    if (j <= 0 || j >= n || !m.aIndi[std::size_t(j)].TECH.isEmpty()) return;
    m.aIndi[std::size_t(j)].TECH = QStringLiteral("+");
    if (onMark) onMark(j);
  };
  for (std::int64_t i = 1; i < n; ++i) {
    if (m.aIndi[std::size_t(i)].TECH != u"*") continue;
    const QString sex = m.aIndi[std::size_t(i)].SEX;
    for (std::int64_t fi : m.aIndi[std::size_t(i)].FAMS) {
      if (fi <= 0 || fi >= nf) continue;
      const TFAM& fam = m.aFam[std::size_t(fi)];
      if (o.CheckBox55) {
        if (sex == u"M") add(fam.WIFE);
        else if (sex == u"F") add(fam.HUSB);
      }
      if (o.CheckBox56)
        for (std::int64_t c : fam.CHIL) add(c);
    }
  }
}
