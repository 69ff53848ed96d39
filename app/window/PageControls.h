// Small builders of the report pages' controls: each makes the control with its object name (the settings
// key) and help keyword, puts it in the layout and returns it.
#pragma once

#include <QCheckBox>
#include <QLayout>
#include <QString>
#include <QToolButton>
#include <QWidget>
#include <QtGlobal>

// A check box; an empty key gives it no help keyword.
QCheckBox* AddCheck(QWidget* parent, QLayout* layout, const QString& name, const QString& caption, const QString& key,
                    bool checked = false);

// A tool button that shows its caption only.
QToolButton* AddButton(QWidget* parent, QLayout* layout, const QString& name, const QString& caption,
                       const QString& key);

// A run time as "nn:ss.zz": minutes, seconds and hundredths.
QString Elapsed(qint64 ms);
