// Translation files: user-visible texts by key, with the designed Russian texts as defaults.
// A translation file is an ini file with the sections "Language" (";" in a value stands for a line break),
// "*Language" (keys beginning with "*", used as they stand, never written) and "Transliteration".
// Missing keys are written back with their default, so running the program fills a new file.
// Controls are translated by their "HelpKeyword"; the texts they were designed with are remembered on the
// first translation and are the defaults of every later one, so switching languages never copies one
// language's texts into another file. Main thread only.
#pragma once

#include <QString>
#include <QWidget>
#include <memory>

#include "platform/qt/IniFile.h"

// The left-to-right embedding mark that ends every translated grid column title.
inline constexpr char16_t kTitleMark = u'\x202A';

QString GetLangString(const QString& key, platform::TIniFile* file, const QString& def);

// Replaces `file` by the translation file at `path` and translates `window` and the controls it owns.
// A missing path leaves `file` empty and the window as it is.
void TranslateForm(QWidget* window, const QString& path, std::unique_ptr<platform::TIniFile>& file);

// Letter-by-letter transliteration by the file's "Transliteration" table; variant 1 "ISO9", 2 "ГОСТ",
// 3 "Другой".
QString Transliterate(platform::TIniFile* file, const QString& text, int variant);

// A grid column title without the embedding marks it may carry.
QString StripTitleMark(const QString& title);
