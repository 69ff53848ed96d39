// The trevolan-report command line: parses the common options, loads the tree, sets up the current and the
// root person as the window does after opening a file, and runs the chosen report word.
#include "tools/report/ReportCommand.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>

#include <cstdio>
#include <memory>
#include <unistd.h>
#include <map>
#include <set>
#include <string>

#include "app/core/GedcomReader.h"
#include "app/core/PersonList.h"
#include "app/core/Relatives.h"
#include "sources/FamilyTreeFile.h"

namespace {

struct Word {
  QString usage;
  ReportRun run = nullptr;
  std::set<QString> valueOptions;
  std::set<QString> flagOptions;
  bool draws = false;
};

std::map<QString, Word>& Words() {
  static std::map<QString, Word> words;
  return words;
}

bool ParseBool(const QString& text, bool* ok) {
  const QString t = text.trimmed().toLower();
  *ok = true;
  if (t == u"1" || t == u"true" || t == u"yes") return true;
  if (t == u"0" || t == u"false" || t == u"no") return false;
  *ok = false;
  return false;
}

void PrintUsage() {
  std::fprintf(stderr, "usage: trevolan-report REPORT FILE [ARG...] [--today YYYY-MM-DD] [--set NAME=VALUE]...\n"
                       "                       [--person ID] [--root ID] [report options]\nreports:\n");
  for (const auto& [word, w] : Words()) std::fprintf(stderr, "  %s\n", w.usage.toUtf8().constData());
}

}  // namespace

ReportRegistration::ReportRegistration(const char* word, const char* usage, ReportRun run,
                                       std::initializer_list<const char*> valueOptions,
                                       std::initializer_list<const char*> flagOptions, bool draws) {
  Word w;
  w.draws = draws;
  w.usage = QString::fromUtf8(usage);
  w.run = run;
  for (const char* o : valueOptions) w.valueOptions.insert(QString::fromUtf8(o));
  for (const char* o : flagOptions) w.flagOptions.insert(QString::fromUtf8(o));
  Words()[QString::fromUtf8(word)] = w;
}

bool ReportContext::Bool(const QString& name, bool def) const {
  if (!sets.contains(name)) return def;
  bool ok = false;
  const bool v = ParseBool(sets.value(name), &ok);
  if (!ok) throw ReportUsageError(QStringLiteral("--set %1: not a Boolean value").arg(name));
  return v;
}

int ReportContext::Int(const QString& name, int def) const {
  if (!sets.contains(name)) return def;
  bool ok = false;
  const int v = sets.value(name).trimmed().toInt(&ok);
  if (!ok) throw ReportUsageError(QStringLiteral("--set %1: not an integer").arg(name));
  return v;
}

QString ReportContext::Text(const QString& name, const QString& def) const { return sets.value(name, def); }

int ReportContext::IntOption(const QString& option, int def) const {
  if (!options.contains(option)) return def;
  bool ok = false;
  const int v = options.value(option).trimmed().toInt(&ok);
  if (!ok) throw ReportUsageError(QStringLiteral("%1: not an integer").arg(option));
  return v;
}

std::int64_t ReportContext::FindPerson(const QString& id) const {
  for (std::size_t i = 1; i < model.aIndi.size(); ++i)
    if (model.aIndi[i].INDI == id) return static_cast<std::int64_t>(i);
  return 0;
}

std::int64_t ReportContext::RequirePerson(const QString& id) const {
  const std::int64_t i = FindPerson(id);
  if (i <= 0) throw ReportUsageError(QStringLiteral("no person with identifier %1").arg(id));
  return i;
}

void LoadTreeForReport(Model& model, const QString& path) {
  try {
    if (!LoadFamilyTree(model, path))
      throw std::runtime_error(QStringLiteral("%1: not a file type this command reads").arg(path).toStdString());
  } catch (const EFamilyTreeRead& e) {
    throw std::runtime_error(e.Message().toStdString());
  }
  PreparePersonsAfterLoad(model);
}

int main(int argc, char** argv) {
  // Reports that draw need fonts: a GUI application without a screen. It wants a private runtime folder,
  // made here when the session has none, so that nothing but the report reaches the output.
  const auto drawing = argc >= 2 ? Words().find(QString::fromLocal8Bit(argv[1])) : Words().end();
  std::unique_ptr<QCoreApplication> app;
  if (drawing != Words().end() && drawing->second.draws) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
      const QString runtime = QDir::tempPath() + QStringLiteral("/trevolan-runtime-") + QString::number(getuid());
      QDir().mkpath(runtime);
      QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
      qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    }
    app = std::make_unique<QGuiApplication>(argc, argv);
  } else {
    app = std::make_unique<QCoreApplication>(argc, argv);
  }
  const QStringList argvList = QCoreApplication::arguments();
  if (argvList.size() < 3) {
    PrintUsage();
    return 2;
  }
  const QString word = argvList[1];
  const auto found = Words().find(word);
  if (found == Words().end()) {
    std::fprintf(stderr, "trevolan-report: unknown report \"%s\"\n", word.toUtf8().constData());
    PrintUsage();
    return 2;
  }
  const Word& w = found->second;
  const auto usageError = [&](const QString& message) {
    std::fprintf(stderr, "trevolan-report: %s\nusage: trevolan-report %s\n", message.toUtf8().constData(),
                 w.usage.toUtf8().constData());
    return 2;
  };

  Model model;
  QTextStream out(stdout);
  out.setEncoding(QStringConverter::Utf8);
  ReportContext ctx{model, argvList[2], {}, QDate::currentDate(), 0, 0, {}, {}, out};
  QString personId, rootId;
  for (int i = 3; i < argvList.size(); ++i) {
    const QString& a = argvList[i];
    const auto next = [&]() -> const QString* { return i + 1 < argvList.size() ? &argvList[++i] : nullptr; };
    if (!a.startsWith(u"--")) {
      ctx.args << a;
    } else if (a == u"--today") {
      const QString* v = next();
      if (!v) return usageError(QStringLiteral("--today needs a date"));
      ctx.today = QDate::fromString(*v, Qt::ISODate);
      if (!ctx.today.isValid()) return usageError(QStringLiteral("--today %1: not a date YYYY-MM-DD").arg(*v));
    } else if (a == u"--set") {
      const QString* v = next();
      const qsizetype eq = v ? v->indexOf(u'=') : -1;
      if (eq <= 0) return usageError(QStringLiteral("--set needs NAME=VALUE"));
      ctx.sets[v->left(eq)] = v->mid(eq + 1);
    } else if (a == u"--person" || a == u"--root") {
      const QString* v = next();
      if (!v) return usageError(QStringLiteral("%1 needs an identifier").arg(a));
      (a == u"--person" ? personId : rootId) = *v;
    } else if (w.valueOptions.count(a)) {
      const QString* v = next();
      if (!v) return usageError(QStringLiteral("%1 needs a value").arg(a));
      ctx.options[a] = *v;
    } else if (w.flagOptions.count(a)) {
      ctx.options[a] = QStringLiteral("1");
    } else {
      return usageError(QStringLiteral("unknown option %1").arg(a));
    }
  }

  if (!QFileInfo(ctx.file).isFile()) {
    std::fprintf(stderr, "trevolan-report: cannot read %s\n", ctx.file.toUtf8().constData());
    return 1;
  }
  try {
    LoadTreeForReport(model, ctx.file);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "trevolan-report: %s\n", e.what());
    return 1;
  }

  try {
    // As after opening a file: the list stands on its first person, no root is chosen.
    ctx.person = model.aIndi.size() > 1 ? 1 : 0;
    if (!personId.isEmpty()) ctx.person = ctx.RequirePerson(personId);
    if (!rootId.isEmpty()) {
      ctx.root = ctx.RequirePerson(rootId);
      // Relatives are marked as the root command does, with the levels of the relation options.
      const int up = ctx.Bool(QStringLiteral("CheckBox71"), false) ? ctx.Int(QStringLiteral("UpDown2"), 1) : 0;
      const int down = ctx.Bool(QStringLiteral("CheckBox72"), false) ? ctx.Int(QStringLiteral("UpDown3"), 1) : 0;
      MarkRelatives(model, ctx.root, up, down);
    }
    const int code = w.run(ctx);
    out.flush();
    return code;
  } catch (const ReportUsageError& e) {
    out.flush();
    return usageError(QString::fromStdString(e.what()));
  } catch (const std::exception& e) {
    out.flush();
    std::fprintf(stderr, "trevolan-report: %s\n", e.what());
    return 1;
  }
}
