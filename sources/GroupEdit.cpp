// The group edit tools: shared texts and helpers and the dispatch by file type; see GroupEdit.h.
#include "sources/GroupEdit.h"

#include "app/core/UnitFunc.h"
#include "app/core/trans.h"
#include "sources/FamilyTreeFile.h"
#include "sources/ToolsImpl.h"

#include <cstring>

namespace {

struct TTextDefault {
  const char* key;
  const char16_t* text;
};

constexpr TTextDefault kTexts[] = {
    {"ChangeDataIn", u"Изменение данных в"},
    {"EmulationData", u"Эмуляция изменения данных (фактически данные не изменились)"},
    {"AllChangePerson", u"Всего изменений у персон"},
    {"AllChangeEvents", u"Всего изменений в событиях"},
    {"AllChangeValues", u"Всего изменений в значениях"},
    {"AllClearSign", u"Всего признак очищен у персон"},
    {"SignClear", u"очищен признак"},
    {"SignChange", u"смена признака \"%s\" на \"%s\""},
    {"SignNoChange", u"признак \"%s\" уже был установлен"},
    {"SignSet", u"установлен признак \"%s\""},
    {"WarningStatic", u""},
    {"WarningWrite", u""},
    {"NoBackupFree", u"Все 500 имен резервных копий \"%s\" заняты: копия не будет сделана"},
    {"NoBackupAsk", u"Резервную копию сделать нельзя: все 500 имен заняты. Записать файл без копии?"},
    {"NoBackupSkip", u"Файл не записан"},
    {"NoTransliteration", u"В файле языка нет таблицы транслитерации"},
    {"NoToolsForFile", u"Для файла \"%s\" групповой правки нет"},
    {"TextTooLong", u"текст длиннее поля %s, оставлен прежним"},
};

}  // namespace

QString ToolText(platform::TIniFile* lang, const char* key) {
  for (const TTextDefault& t : kTexts)
    if (std::strcmp(t.key, key) == 0) return GetLangString(QString::fromUtf8(key), lang, QString::fromUtf16(t.text));
  return GetLangString(QString::fromUtf8(key), lang, QString());
}

bool HasTransliteration(const platform::TIniFile* file) {
  return file && !file->ReadSection(QStringLiteral("Transliteration")).isEmpty();
}

namespace {

bool WordChar(QChar c) { return c.isLetterOrNumber() || c == u'_'; }

}  // namespace

QString ReplaceWords(const QString& text, const QString& old, const QString& replacement, bool wholeWord,
                     bool matchCase) {
  if (old.isEmpty()) return text;
  const Qt::CaseSensitivity cs = matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
  QString out;
  qsizetype from = 0;
  for (qsizetype at; (at = text.indexOf(old, from, cs)) >= 0;) {
    const qsizetype end = at + old.size();
    const bool whole = (at == 0 || !WordChar(text[at - 1])) && (end >= text.size() || !WordChar(text[end]));
    if (wholeWord && !whole) {
      out += QStringView(text).mid(from, at + 1 - from);
      from = at + 1;
      continue;
    }
    out += QStringView(text).mid(from, at - from);
    out += replacement;
    from = end;
  }
  out += QStringView(text).mid(from);
  return out;
}

bool SexPasses(const QString& sex, int filter) {
  if (filter == 0) return sex == u"M";
  if (filter == 1) return sex == u"F";
  return true;
}

TToolResult RunGroupEdit(TToolContext& ctx, const TToolOptions& o) {
  if (o.ComboBox4 == gtTranslit && !HasTransliteration(ctx.translit))
    throw EGroupEdit(ToolText(ctx.lang, "NoTransliteration"));
  if (o.ComboBox4 < gtTechField || o.ComboBox4 > gtTranslit) throw EGroupEdit(QStringLiteral("unknown tool"));
  switch (FamilyTreeType(ctx.file)) {
    case TFamilyTreeType::Gedcom: return Tools_GED(ctx, o);
    case TFamilyTreeType::At4: return Tools_At4(ctx, o);
    case TFamilyTreeType::At5: return Tools_At5(ctx, o);
    default: break;
  }
  throw EGroupEdit(QString(ToolText(ctx.lang, "NoToolsForFile")).replace(QStringLiteral("%s"), ctx.file));
}

namespace toolsimpl {

QString HeaderLine(const TToolContext& ctx) {
  return ctx.write ? ToolText(ctx.lang, "ChangeDataIn") + QStringLiteral(" ") + ctx.file
                   : ToolText(ctx.lang, "EmulationData");
}

QString CountLine(platform::TIniFile* lang, const char* key, qint64 n) {
  return ToolText(lang, key) + QStringLiteral(": ") + QString::number(n);
}

QStringList OldValues(const QString& text) {
  QStringList out;
  for (const QString& part : text.split(u'~')) {
    const QString t = part.trimmed();
    if (!t.isEmpty()) out << t;
  }
  return out;
}

QString ConvertCase(const QString& text, int mode) {
  if (mode == 1) return CapitalizeWords(text, true);
  QString out = text;
  for (QChar& c : out) c = c.toUpper();
  return out;
}

QString TransliterateKeep(platform::TIniFile* table, const QString& text, int variant) {
  const QString t = Transliterate(table, text, variant);
  return t.isEmpty() ? text : t;
}

void NameReplacement(const TToolOptions& o, QString& oldValues, QString& newValue) {
  switch (o.PageControl4) {
    case 0:
      oldValues = o.Edit13;
      newValue = o.Edit14;
      break;
    case 1:
      oldValues = o.Edit15;
      newValue = o.Edit16;
      break;
    default:
      oldValues = o.Edit9;
      newValue = o.Edit10;
      break;
  }
}

}  // namespace toolsimpl
