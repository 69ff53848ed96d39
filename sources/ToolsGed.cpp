// The group edit tools on a GEDCOM file. The file's lines are edited in memory; a write run that changed
// a line replaces the file as a whole (GedLines.h). Persons are matched to their records by the record's
// identifier (the model's INDI), never by counting records, so a record the reader did not take as a
// person cannot shift an edit onto another person.
#include "sources/GedLines.h"
#include "sources/PersonChoice.h"
#include "sources/ToolsImpl.h"

#include "app/core/UnitFunc.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <map>

using namespace toolsimpl;

namespace {

// One GEDCOM line cut into its parts: blanks before the level, level, tag, and where the value begins
// (the line's end when there is none).
struct TLine {
  QString level, tag;
  qsizetype valueAt = 0;
  QString value;  // up to the line's end, blanks kept
  bool ok = false;
};

TLine Parse(const QString& line) {
  TLine t;
  qsizetype i = 0;
  const qsizetype n = line.size();
  while (i < n && line[i].unicode() <= u' ') ++i;
  const qsizetype l0 = i;
  while (i < n && line[i] != u' ') ++i;
  t.level = line.mid(l0, i - l0);
  if (i < n) ++i;
  const qsizetype t0 = i;
  while (i < n && line[i] != u' ') ++i;
  t.tag = line.mid(t0, i - t0);
  if (i < n) ++i;
  t.valueAt = i;
  t.value = line.mid(i);
  t.ok = !t.level.isEmpty() && t.level[0].isDigit();
  return t;
}

// The line with its value replaced.
QString WithValue(const QString& line, const TLine& t, const QString& value) {
  QString head = line.left(t.valueAt);
  if (t.valueAt >= line.size() && !head.endsWith(u' ') && !value.isEmpty()) head += u' ';
  return head + value;
}

// Persons by record identifier; identifiers held by two persons map to 0 (never edited).
QHash<QString, std::int64_t> PersonsById(const Model& m) {
  QHash<QString, std::int64_t> ids;
  for (std::size_t i = 1; i < m.aIndi.size(); ++i) {
    const QString& id = m.aIndi[i].INDI;
    if (id.isEmpty()) continue;
    auto it = ids.find(id);
    if (it == ids.end())
      ids.insert(id, std::int64_t(i));
    else
      it.value() = 0;
  }
  return ids;
}

class TGedTools {
 public:
  TGedTools(TToolContext& ctx, const TToolOptions& o) : ctx_(ctx), o_(o), lines_(TGedLines::Load(ctx.file)) {}

  TToolResult Run() {
    r_.protocol << HeaderLine(ctx_);
    switch (o_.ComboBox4) {
      case gtTechField: TechField(); break;
      case gtNames: Names(); break;
      case gtSurnameCase: SurnameCase(); break;
      case gtTranslit: Translit(); break;
      default: break;
    }
    r_.changes = changes_;
    if (ctx_.write && changes_ > 0) Save();
    return r_;
  }

 private:
  void Changed() {
    ++changes_;
    if (ctx_.write && ctx_.afterChange) ctx_.afterChange(changes_);
  }
  void Progress(std::size_t i) {
    if (ctx_.progress && i % 100 == 0) ctx_.progress(std::int64_t(i), std::int64_t(lines_.Size()) - 1);
  }
  // A changed line: protocol old -> new, then the line is replaced (in memory, in both runs).
  void Replace(std::size_t i, const QString& now) {
    r_.protocol << lines_.Line(i) + QStringLiteral(" -> ") + now;
    lines_.SetLine(i, now);
    Changed();
  }

  void TechField() {
    Model& m = ctx_.model;
    const int entry = o_.ComboBox5;
    if (entry < 0 || entry > 5) throw EGroupEdit(QStringLiteral("ComboBox5: no such field"));
    ChooseModelPersons(m, o_, ctx_.current, ctx_.LinkChain, true, [&](std::int64_t i) {
      const TINDI& p = m.aIndi[std::size_t(i)];
      if (p.TECH == u"-")
        r_.protocol << p.FIO1 + QStringLiteral(", ") + ToolText(ctx_.lang, "SignClear");
      else
        r_.protocol << p.FIO1 + QStringLiteral(" ") + SignChangeNote(ctx_.lang, o_.Edit24, GetTechField(p, entry));
    });
    const qint64 marked = r_.protocol.size() - 1;
    r_.protocol << CountLine(ctx_.lang, o_.RadioGroup14 == 8 ? "AllClearSign" : "AllChangePerson", marked);
    if (marked == 0) return;

    static const char* const kTags[] = {"NPFX", "NSFX", "PHON", "EMAIL", "WWW", "FAX"};
    const QString tag = QString::fromLatin1(kTags[entry]);
    const bool resi = entry >= 2;
    // Record heads by their text; a head that occurs twice is never edited.
    QHash<QString, std::int64_t> heads;
    for (std::size_t i = 0; i < lines_.Size(); ++i) {
      const QString t = lines_.Line(i).trimmed();
      if (!t.startsWith(QStringLiteral("0 @")) || !t.endsWith(QStringLiteral(" INDI"))) continue;
      auto it = heads.find(t);
      if (it == heads.end())
        heads.insert(t, std::int64_t(i));
      else
        it.value() = -1;
    }
    // The edits, one per record, applied from the end of the file so positions stay valid.
    struct Edit {
      std::size_t at;
      enum { Set, Erase, InsertAfter, InsertResi } kind;
      QString text;
    };
    std::vector<Edit> edits;
    for (std::size_t i = 1; i < m.aIndi.size(); ++i) {
      const TINDI& p = m.aIndi[i];
      if (p.TECH.isEmpty()) continue;
      const auto head = heads.find(QStringLiteral("0 ") + p.INDI + QStringLiteral(" INDI"));
      if (head == heads.end() || head.value() < 0) continue;
      std::size_t found = SIZE_MAX, name = SIZE_MAX, resiLine = SIZE_MAX, end = lines_.Size();
      for (std::size_t k = std::size_t(head.value()) + 1; k < lines_.Size(); ++k) {
        const TLine t = Parse(lines_.Line(k));
        if (t.level == u"0") {
          end = k;
          break;
        }
        if (t.ok && t.tag == tag) {
          found = k;
          break;
        }
        if (t.level == u"1" && t.tag == u"NAME") name = k;
        if (t.level == u"1" && t.tag == u"RESI") resiLine = k;
      }
      const QString value = o_.Edit24;
      const auto tagLine = [&](const QString& level) {
        return level + QStringLiteral(" ") + tag + (value.isEmpty() ? QString() : QStringLiteral(" ") + value);
      };
      if (found != SIZE_MAX) {
        if (p.TECH == u"-") {
          edits.push_back({found, Edit::Erase, {}});
        } else {
          const QString& line = lines_.Line(found);
          const TLine t = Parse(line);
          const qsizetype lead = line.indexOf(t.level);
          const QString now = line.left(lead) + tagLine(t.level);
          if (now != line) edits.push_back({found, Edit::Set, now});
        }
      } else if (p.TECH != u"-") {
        if (resi && resiLine != SIZE_MAX)
          edits.push_back({resiLine, Edit::InsertAfter, tagLine(QStringLiteral("2"))});
        else if (resi)
          edits.push_back({end, Edit::InsertResi, tagLine(QStringLiteral("2"))});
        else if (name != SIZE_MAX)
          edits.push_back({name, Edit::InsertAfter, tagLine(QStringLiteral("2"))});
      }
    }
    // One pass over the file, whatever the number of edits.
    std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.at < b.at; });
    std::vector<std::pair<std::size_t, std::vector<QString>>> splice;
    for (const Edit& e : edits) {
      std::size_t at = e.at;
      std::vector<QString> with;
      switch (e.kind) {
        case Edit::Set: with = {e.text}; break;
        case Edit::Erase: break;
        case Edit::InsertAfter: with = {lines_.Line(at), e.text}; break;
        case Edit::InsertResi:
          if (at < lines_.Size()) {
            with = {QStringLiteral("1 RESI"), e.text, lines_.Line(at)};
          } else {  // the record ends with the file
            at = lines_.Size() - 1;
            with = {lines_.Line(at), QStringLiteral("1 RESI"), e.text};
          }
          break;
      }
      if (!splice.empty() && splice.back().first == at) continue;  // one edit per line (never two)
      splice.emplace_back(at, std::move(with));
      Changed();
    }
    lines_.Splice(splice);
  }

  // The person records in file order until the first family record: calls line(i, person, parsed) for
  // each line of a person record (person 0 for a record of no single person of the model).
  template <typename F>
  void PersonLines(F&& line) {
    const QHash<QString, std::int64_t> ids = PersonsById(ctx_.model);
    std::int64_t person = 0;
    for (std::size_t i = 0; i < lines_.Size(); ++i) {
      Progress(i);
      const TLine t = Parse(lines_.Line(i));
      if (t.level == u"0") {
        if (t.tag.startsWith(QStringLiteral("@F"))) break;
        person = t.tag.startsWith(QStringLiteral("@I")) ? ids.value(t.tag, 0) : 0;
        continue;
      }
      if (person > 0 && t.ok) line(i, person, t);
    }
  }

  void Names() {
    QString oldText, newValue;
    NameReplacement(o_, oldText, newValue);
    const QStringList olds = OldValues(oldText);
    const QString pageTag = o_.PageControl4 == 2 ? QStringLiteral("SURN") : QStringLiteral("GIVN");
    const bool surname = o_.PageControl4 == 2;
    const Qt::CaseSensitivity cs = o_.N5 ? Qt::CaseSensitive : Qt::CaseInsensitive;
    QSet<std::int64_t> persons;
    std::int64_t lastPerson = -1;
    QString matched;
    QString l1, l2;
    PersonLines([&](std::size_t i, std::int64_t person, const TLine& t) {
      const TINDI& p = ctx_.model.aIndi[std::size_t(person)];
      if (person != lastPerson) {
        lastPerson = person;
        l1.clear();
        l2.clear();
        matched.clear();
        if (!SexPasses(p.SEX, o_.RadioGroup13)) return;
        QString value;
        if (o_.PageControl4 == 0) value = p.FIRS1;
        else if (o_.PageControl4 == 1) value = p.PATR1;
        else if (o_.LastNameChange == 0) value = p.SURN1;
        else if (o_.LastNameChange == 1) value = p.SURN0;
        else value = p.SURN0 + QStringLiteral("~") + p.SURN1;
        for (const QString& part : value.split(u'~')) {
          const QString v = part.trimmed();
          for (const QString& o : olds) {
            if (o_.N4 ? QString::compare(v, o, cs) == 0 : v.contains(o, cs)) {
              matched = o;
              break;
            }
          }
          if (!matched.isEmpty()) break;
        }
      }
      if (matched.isEmpty()) return;
      if (t.level == u"1") {
        l1 = t.tag;
        l2.clear();
      } else if (t.level == u"2") {
        l2 = t.tag;
      }
      if (l1 != u"NAME") return;
      const QString& line = lines_.Line(i);
      QString now = line;
      if (t.level == u"1") {
        // Given names stand outside the slashes, the surname between them.
        const QString& v = t.value;
        const qsizetype a = v.indexOf(u'/');
        const qsizetype b = a < 0 ? -1 : v.indexOf(u'/', a + 1);
        const auto rep = [&](const QString& s) { return ReplaceWords(s, matched, newValue, o_.N4, o_.N5); };
        QString nv;
        if (surname) {
          if (a < 0) return;
          const qsizetype e = b < 0 ? v.size() : b;
          nv = v.left(a + 1) + rep(v.mid(a + 1, e - a - 1)) + v.mid(e);
        } else if (a < 0) {
          nv = rep(v);
        } else if (b < 0) {
          nv = rep(v.left(a)) + v.mid(a);
        } else {
          nv = rep(v.left(a)) + v.mid(a, b - a + 1) + rep(v.mid(b + 1));
        }
        now = WithValue(line, t, nv);
      } else if (t.level == u"2" && t.tag == pageTag) {
        now = WithValue(line, t, ReplaceWords(t.value, matched, newValue, o_.N4, o_.N5));
      }
      if (now != line) {
        persons.insert(person);
        Replace(i, now);
      }
    });
    r_.protocol << CountLine(ctx_.lang, "AllChangePerson", persons.size());
    r_.protocol << CountLine(ctx_.lang, "AllChangeValues", changes_);
  }

  void SurnameCase() {
    QSet<std::int64_t> chosen;
    if (o_.RadioGroup8 == 0) chosen.insert(ctx_.current);
    if (o_.RadioGroup8 == 1) {
      chosen.insert(ctx_.current);
      for (std::int64_t a : ctx_.ancestors) chosen.insert(a);
    }
    const bool all = o_.RadioGroup8 != 0 && o_.RadioGroup8 != 1;
    QSet<std::int64_t> persons;
    QString l1;
    PersonLines([&](std::size_t i, std::int64_t person, const TLine& t) {
      if (!all && !chosen.contains(person)) return;
      if (!SexPasses(ctx_.model.aIndi[std::size_t(person)].SEX, o_.RadioGroup13)) return;
      if (t.level == u"1") l1 = t.tag;
      const QString& line = lines_.Line(i);
      QString now = line;
      if (t.level == u"1" && t.tag == u"NAME") {
        const qsizetype a = t.value.indexOf(u'/');
        if (a < 0) return;
        now = WithValue(line, t, t.value.left(a) + ConvertCase(t.value.mid(a), o_.ComboBox11));
      } else if (t.level == u"2" && t.tag == u"SURN" && l1 == u"NAME") {
        now = WithValue(line, t, ConvertCase(t.value, o_.ComboBox11));
      }
      if (now == line) return;
      if (t.level == u"1") persons.insert(person);
      Replace(i, now);
    });
    r_.protocol << CountLine(ctx_.lang, "AllChangePerson", persons.size());
    r_.protocol << CountLine(ctx_.lang, "AllChangeValues", changes_);
  }

  void Translit() {
    const int variant = o_.ComboBox10 + 1;
    for (std::size_t i = 0; i < lines_.Size(); ++i) {
      Progress(i);
      const QString& line = lines_.Line(i);
      const TLine t = Parse(line);
      if (!t.ok || t.level == u"0" || t.value.isEmpty()) continue;
      const bool name = t.tag == u"NAME" || t.tag == u"SURN" || t.tag == u"GIVN";
      if (!(name && o_.TransNames) && !(t.tag == u"PLAC" && o_.TransPlaces)) continue;
      const QString now = WithValue(line, t, TransliterateKeep(ctx_.translit, t.value, variant));
      if (now != line) Replace(i, now);
    }
    r_.protocol << CountLine(ctx_.lang, "AllChangeValues", changes_);
  }

  void Save() {
    const QByteArray bytes = lines_.Bytes();
    const QString backup = SaveReplacing(ctx_.file, bytes, [&] {
      const QString line = QString(ToolText(ctx_.lang, "NoBackupFree")).replace(QStringLiteral("%s"), ctx_.file);
      r_.protocol << line;
      const bool yes = ctx_.ask && ctx_.ask(ToolText(ctx_.lang, "NoBackupAsk"));
      if (!yes) r_.protocol << ToolText(ctx_.lang, "NoBackupSkip");
      return yes;
    });
    r_.reload = !backup.isNull();
  }

  TToolContext& ctx_;
  const TToolOptions& o_;
  TGedLines lines_;
  TToolResult r_;
  int changes_ = 0;
};

}  // namespace

TToolResult Tools_GED(TToolContext& ctx, const TToolOptions& o) { return TGedTools(ctx, o).Run(); }
