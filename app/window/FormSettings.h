// Saving and restoring the window's option controls in the settings file, section "Options".
// A control is saved when its direct parent widget has a non-zero "Tag" and it is an edit, radio button,
// radio group, check box, up-down, spin box, page control or combo box; the key is its objectName.
// Restoring reads each key with the control's present value as default; a malformed value keeps the
// present value and values out of range are clamped. Combo boxes and radio groups change without firing
// their change handlers. Main thread only.
#pragma once

#include <QString>
#include <QWidget>

#include "platform/qt/IniFile.h"

inline const QString kOptionsSection = QStringLiteral("Options");

bool IsPersistedControl(const QWidget* control);
void SaveControls(QWidget* form, platform::TIniFile& ini);
void LoadControls(QWidget* form, const platform::TIniFile& ini);
