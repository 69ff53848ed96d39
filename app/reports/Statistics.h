// The statistics chart's counts: births or deaths of the tree by day of the year, by year, or the first
// names, restricted by a year range, first name and surname masks and sex. The result is the list of bars
// (zero bars fill the gaps of the day and year groupings) and the count of persons without a usable date.
//
// Headless: reads the Model; the page draws the bars with its bar chart widget.
#pragma once

#include "app/core/Model.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// The page's options; the comments name the controls that hold them.
struct TStatOptions {
  int Grouping = 0;        // RadioGroup2 "Группировка": 0 by day, 1 by year, 2 by first name
  int Event = 0;           // RadioGroup1 "События": 0 births, 1 deaths
  bool FromOn = false;     // CheckBox35 "С "
  int From = 0;            // SpinEdit2 (0..2050)
  bool ToOn = false;       // CheckBox36 "По"
  int To = 0;              // SpinEdit3
  bool NamesOn = false;    // CheckBox37 "Имя"
  QString Names;           // Edit11
  bool SurnamesOn = false; // CheckBox38 "Фамилия"
  QString Surnames;        // Edit12
  int Sex = 0;             // RadioGroup3 "Пол": 0 all, 1 men (all but "F"), 2 women (all but "M")
};

struct TStatBar {
  double X = 0;   // the day number (by day), the year, or the position (by name)
  int Count = 0;
  QString Label;  // "dd.mm", the year, or the name
};

struct TStatResult {
  std::vector<TStatBar> Bars;
  int Unknown = 0;    // persons counted without a usable day or year
  QString SubFooter;  // the undated count's text, empty when none
};

// Translated text of a key with its Russian default (the window's Lang; the identity for tools).
using TLangFn = std::function<QString(const QString& key, const QString& def)>;

// The parts of a mask text split at blanks, commas and slashes; empty parts are dropped.
QStringList StatMaskParts(const QString& masks);
// True when `text` matches the mask ("*" any run, "?" one character; case ignored).
bool MatchesMask(const QString& text, const QString& mask);

TStatResult StatGedcom(const Model& m, const TStatOptions& o, const TLangFn& lang = {});
