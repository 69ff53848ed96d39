// Translation files: user-visible texts by key, with the designed Russian texts as defaults.
// A translation file is an ini file with the sections "Language" (";" in a value stands for a line break),
// "*Language" (keys beginning with "*", used as they stand, never written) and "Transliteration".
// Missing keys are written back with their default, so running the program fills a new file.
// Walking a window's controls to translate them is the window's job (app/window/FormTranslation.h);
// this file only looks texts up. Main thread only.
#pragma once

#include <QString>

#include "platform/qt/IniFile.h"

// The left-to-right embedding mark that ends every translated grid column title.
inline constexpr char16_t kTitleMark = u'\x202A';

QString GetLangString(const QString& key, platform::TIniFile* file, const QString& def);

// Letter-by-letter transliteration by the file's "Transliteration" table; variant 1 "ISO9", 2 "ГОСТ",
// 3 "Другой".
QString Transliterate(platform::TIniFile* file, const QString& text, int variant);

// A grid column title without the embedding marks it may carry.
QString StripTitleMark(const QString& title);
