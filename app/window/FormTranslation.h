// Translating a window: every control it owns gets its text, hint and item texts from the translation file
// by its "HelpKeyword" (lookup rules in app/core/trans.h). The texts the controls were designed with are
// remembered on the first translation and are the defaults of every later one, so switching languages
// never copies one language's texts into another file. Main thread only.
#pragma once

#include <QString>
#include <QWidget>
#include <memory>

#include "platform/qt/IniFile.h"

// Replaces `file` by the translation file at `path` and translates `window` and the controls it owns.
// A missing path leaves `file` empty and the window as it is.
void TranslateForm(QWidget* window, const QString& path, std::unique_ptr<platform::TIniFile>& file);
