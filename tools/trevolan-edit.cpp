// trevolan-edit: runs one group edit tool headless on a GEDCOM, ".at4" or ".at5" file and prints the protocol the
// tools page would show (UTF-8, one line each). Without --write it is the dry run, which changes nothing.
//
//   trevolan-edit TOOL FILE [--write] [--set NAME=VALUE]... [--person ID] [--chain ID;ID...] [--lang FILE]
//
// TOOL: techfield, names, surnames, translit (the tools of the page's tool list, in its order). --set
// gives a control of the page by its component name (ComboBox5, Edit24, RadioGroup14, CheckBox55,
// CheckBox56, PageControl4, Edit13, Edit14, Edit15, Edit16, Edit9, Edit10, N4, N5, N7, N8, N9,
// RadioGroup8, ComboBox11, ComboBox10, CheckListBox2 (the checked items, e.g. "0,1"), RadioGroup13).
// --person: the current person (identifier as written in the file, e.g. @I12@ or a database id; else the
// first person);
// --chain: the persons of the kinship path for RadioGroup14=7; --lang: the language file whose
// transliteration table the transliteration uses. Texts are the program's Russian defaults.
// A write run that finds every backup name taken writes nothing (there is nobody to ask) and fails.
// Exit codes: 0 done, 1 the file cannot be read or the tool failed (message on stderr), 2 wrong usage.
#include "app/core/GedcomReader.h"
#include "app/core/Model.h"
#include "sources/FamilyTreeFile.h"
#include "sources/GroupEdit.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSet>
#include <QTextStream>

#include <cstdio>
#include <deque>
#include <memory>

namespace {

const char* const kTools[] = {"techfield", "names", "surnames", "translit"};

void Usage() {
  std::fprintf(stderr,
               "usage: trevolan-edit TOOL FILE [--write] [--set NAME=VALUE]... [--person ID] [--chain ID;ID...] "
               "[--lang FILE]\ntools:\n  techfield  the technical field\n  names      name replacement\n"
               "  surnames   surname case\n  translit   transliteration\n");
}

struct UsageError {
  QString text;
};

bool Bool(const QString& name, const QString& v) {
  const QString t = v.trimmed().toLower();
  if (t == u"1" || t == u"true" || t == u"yes") return true;
  if (t == u"0" || t == u"false" || t == u"no") return false;
  throw UsageError{QStringLiteral("--set %1: not a Boolean value").arg(name)};
}

int Int(const QString& name, const QString& v, int lo, int hi) {
  bool ok = false;
  const int n = v.trimmed().toInt(&ok);
  if (!ok || n < lo || n > hi) throw UsageError{QStringLiteral("--set %1: not a number from %2 to %3").arg(name).arg(lo).arg(hi)};
  return n;
}

void Set(TToolOptions& o, const QString& name, const QString& v) {
  if (name == u"ComboBox5") o.ComboBox5 = Int(name, v, 0, 5);
  else if (name == u"Edit24") o.Edit24 = v;
  else if (name == u"RadioGroup14") o.RadioGroup14 = Int(name, v, 0, 8);
  else if (name == u"CheckBox55") o.CheckBox55 = Bool(name, v);
  else if (name == u"CheckBox56") o.CheckBox56 = Bool(name, v);
  else if (name == u"PageControl4") o.PageControl4 = Int(name, v, 0, 2);
  else if (name == u"Edit13") o.Edit13 = v;
  else if (name == u"Edit14") o.Edit14 = v;
  else if (name == u"Edit15") o.Edit15 = v;
  else if (name == u"Edit16") o.Edit16 = v;
  else if (name == u"Edit9") o.Edit9 = v;
  else if (name == u"Edit10") o.Edit10 = v;
  else if (name == u"N4") o.N4 = Bool(name, v);
  else if (name == u"N5") o.N5 = Bool(name, v);
  else if (name == u"N7" || name == u"N8" || name == u"N9") {
    if (Bool(name, v)) o.LastNameChange = name == u"N7" ? 0 : name == u"N8" ? 1 : 2;
  } else if (name == u"RadioGroup8") o.RadioGroup8 = Int(name, v, 0, 2);
  else if (name == u"ComboBox11") o.ComboBox11 = Int(name, v, 0, 1);
  else if (name == u"ComboBox10") o.ComboBox10 = Int(name, v, 0, 2);
  else if (name == u"CheckListBox2") {
    o.TransNames = o.TransPlaces = false;
    for (const QString& item : v.split(u',', Qt::SkipEmptyParts)) {
      const int i = Int(name, item, 0, 1);
      (i == 0 ? o.TransNames : o.TransPlaces) = true;
    }
  } else if (name == u"RadioGroup13") o.RadioGroup13 = Int(name, v, 0, 2);
  else throw UsageError{QStringLiteral("--set %1: no such control of the tools page").arg(name)};
}

std::int64_t FindPerson(const Model& m, const QString& id) {
  for (std::size_t i = 1; i < m.aIndi.size(); ++i)
    if (m.aIndi[i].INDI == id || (!m.aIndi[i]._UID.isEmpty() && m.aIndi[i]._UID == id)) return std::int64_t(i);
  throw UsageError{QStringLiteral("no person with identifier %1").arg(id)};
}

// The person and every ancestor through both parents, each once.
std::vector<std::int64_t> Ancestors(const Model& m, std::int64_t p) {
  std::vector<std::int64_t> out;
  if (p <= 0) return out;
  QSet<std::int64_t> seen{p};
  std::deque<std::int64_t> queue{p};
  while (!queue.empty()) {
    const std::int64_t i = queue.front();
    queue.pop_front();
    out.push_back(i);
    const std::int64_t f = m.aIndi[std::size_t(i)].FAMC;
    if (f <= 0 || f >= std::int64_t(m.aFam.size())) continue;
    for (std::int64_t parent : {m.aFam[std::size_t(f)].HUSB, m.aFam[std::size_t(f)].WIFE})
      if (parent > 0 && parent < std::int64_t(m.aIndi.size()) && !seen.contains(parent)) {
        seen.insert(parent);
        queue.push_back(parent);
      }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = QCoreApplication::arguments();
  if (args.size() < 3) {
    Usage();
    return 2;
  }
  int tool = -1;
  for (int i = 0; i < 4; ++i)
    if (args[1] == QString::fromLatin1(kTools[i])) tool = i;
  const QString file = args[2];
  TToolOptions o;
  o.ComboBox4 = tool;
  bool write = false;
  QString person, chain, lang;
  try {
    if (tool < 0) throw UsageError{QStringLiteral("unknown tool \"%1\"").arg(args[1])};
    for (int i = 3; i < args.size(); ++i) {
      const QString& a = args[i];
      const auto next = [&]() -> QString {
        if (i + 1 >= args.size()) throw UsageError{QStringLiteral("%1 needs a value").arg(a)};
        return args[++i];
      };
      if (a == u"--write") {
        write = true;
      } else if (a == u"--set") {
        const QString v = next();
        const qsizetype eq = v.indexOf(u'=');
        if (eq <= 0) throw UsageError{QStringLiteral("--set needs NAME=VALUE")};
        Set(o, v.left(eq), v.mid(eq + 1));
      } else if (a == u"--person") {
        person = next();
      } else if (a == u"--chain") {
        chain = next();
      } else if (a == u"--lang") {
        lang = next();
      } else {
        throw UsageError{QStringLiteral("unknown argument %1").arg(a)};
      }
    }
  } catch (const UsageError& e) {
    std::fprintf(stderr, "trevolan-edit: %s\n", e.text.toUtf8().constData());
    Usage();
    return 2;
  }

  if (!QFileInfo(file).isFile()) {
    std::fprintf(stderr, "trevolan-edit: cannot read %s\n", file.toUtf8().constData());
    return 1;
  }
  Model model;
  try {
    if (!LoadFamilyTree(model, file)) {
      std::fprintf(stderr, "trevolan-edit: %s: not a file type the group edit tools change\n", file.toUtf8().constData());
      return 1;
    }
  } catch (const EFamilyTreeRead& e) {
    std::fprintf(stderr, "trevolan-edit: %s\n", e.Message().toUtf8().constData());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "trevolan-edit: %s\n", e.what());
    return 1;
  }

  std::unique_ptr<platform::TIniFile> table;
  if (!lang.isEmpty()) {
    if (!QFileInfo(lang).isFile()) {
      std::fprintf(stderr, "trevolan-edit: cannot read %s\n", lang.toUtf8().constData());
      return 1;
    }
    table = std::make_unique<platform::TIniFile>(lang);
  }
  TToolContext ctx(model, file);
  ctx.write = write;
  ctx.translit = table.get();
  bool declined = false;
  ctx.ask = [&](const QString&) {
    declined = true;
    return false;
  };
  try {
    ctx.current = model.aIndi.size() > 1 ? 1 : 0;
    if (!person.isEmpty()) ctx.current = FindPerson(model, person);
    QStringList indexes;
    for (const QString& id : chain.split(u';', Qt::SkipEmptyParts)) indexes << QString::number(FindPerson(model, id.trimmed()));
    ctx.LinkChain = indexes.join(u';');
    ctx.ancestors = Ancestors(model, ctx.current);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "trevolan-edit: %s\n", e.text.toUtf8().constData());
    return 2;
  }

  QTextStream out(stdout);
  out.setEncoding(QStringConverter::Utf8);
  try {
    const TToolResult r = RunGroupEdit(ctx, o);
    for (const QString& line : r.protocol) out << line << '\n';
    out.flush();
  } catch (const EGroupEdit& e) {
    std::fprintf(stderr, "trevolan-edit: %s\n", e.Text().toUtf8().constData());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "trevolan-edit: %s: %s\n", file.toUtf8().constData(), e.what());
    return 1;
  }
  if (declined) {
    std::fprintf(stderr, "trevolan-edit: every backup name of %s is taken (1 to 500): the file was not written\n",
                 file.toUtf8().constData());
    return 1;
  }
  return 0;
}
