#include "app/core/trans.h"

#include <QString>

using platform::TIniFile;

namespace {

const QString kLanguage = QStringLiteral("Language");
const QString kStarLanguage = QStringLiteral("*Language");
const QString kTransliteration = QStringLiteral("Transliteration");
const QString kCrLf = QStringLiteral("\r\n");

}  // namespace

QString StripTitleMark(const QString& title) {
  QString t = title;
  t.remove(QChar(kTitleMark));
  return t;
}

QString GetLangString(const QString& key, TIniFile* file, const QString& def) {
  if (key.isEmpty() || !file) return def;
  if (key.startsWith(QLatin1Char('*'))) return file->ReadString(kStarLanguage, key, QString());
  if (key == QLatin1String("_Hint")) return def;
  const QString v = file->ReadString(kLanguage, key, QString());
  if (!v.isEmpty()) {
    QString r = v;
    r.replace(QLatin1Char(';'), kCrLf);
    return r;
  }
  if (!def.isEmpty()) {
    QString w = def;
    w.replace(kCrLf, QStringLiteral(";"));
    file->WriteString(kLanguage, key, w);  // a read-only file keeps the default
  }
  return def;
}

QString Transliterate(TIniFile* file, const QString& text, int variant) {
  QString result;
  if (!file || text.isEmpty()) return result;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    const bool wordStart = i == 0 || text[i - 1] == QLatin1Char(' ');
    QString v;
    if (wordStart) v = file->ReadString(kTransliteration, QStringLiteral("1") + c, QString());
    if (v.isEmpty()) v = file->ReadString(kTransliteration, QString(c), QString());
    if (v.isEmpty()) {
      result += c;
      continue;
    }
    const QStringList parts = v.split(QLatin1Char(';'));
    QString chosen;
    bool chosenSet = false;
    if (variant == 3 && parts.size() == 3) {
      chosen = parts[2];
      chosenSet = true;
    }
    if (!chosenSet && (variant == 2 || variant == 3) && parts.size() == 2) {
      chosen = parts[1];
      chosenSet = true;
    }
    if (!chosenSet) chosen = parts[0];
    if (c == c.toUpper() && !chosen.isEmpty()) {
      // A one-letter text counts as title case.
      const bool titleCase = text.size() < 2 || text[1] == text[1].toLower();
      if (wordStart && chosen.size() > 1 && titleCase)
        chosen = chosen.left(1).toUpper() + chosen.mid(1, 5);
      else
        chosen = chosen.toUpper();
    }
    result += chosen;
  }
  return result;
}
