// Place report: who lived in a place. For one place of the tree it lists either the surnames found there
// or the residents with their life years, and can open a web map's search for the place.
//
// Headless: reads a Model, returns the report's text (the page puts it into its pane). The map search goes
// through a replaceable opener (the desktop services by default; tests give a fake), never a shell: the
// place travels as a percent-encoded UTF-8 query parameter, so no text of the tree is ever run.
#pragma once

#include "app/core/Model.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

// The page's options; the comments name the controls that hold them.
struct TPlaceOptions {
  QString Place;             // ComboBox13
  bool Residents = false;    // RadioButton2 "Список жителей" (else RadioButton1 "Только фамилии")
  bool OnlyFavorites = false;  // CheckBox75 "Только Фаворитов"
  bool FromYearOn = false;   // CheckBox77 "С "
  int FromYear = 0;          // SpinEdit15 (0..2050)
  bool ToYearOn = false;     // CheckBox78 "По"
  int ToYear = 0;            // SpinEdit16
  bool OpenMap = true;       // CheckBox76 "Открывать в Браузере Карту"
};

// The entries of the report, sorted (Russian collation), each text once.
QStringList PlaceEntries(const Model& m, const TPlaceOptions& o);
// The report's text: the surnames joined with ", ", or the residents one per line (CR LF between).
QString PlaceReportText(const QStringList& entries, bool residents);

// Opens a web address; returns false when it could not.
using TUrlOpener = std::function<bool(const QUrl&)>;
// The desktop services' opener (the default browser).
TUrlOpener DesktopUrlOpener();
// The map service's search address for the place: the query parameter "q=" with the place
// percent-encoded as UTF-8.
QUrl PlaceMapUrl(const QString& place);

// The whole run: the report's text; with OpenMap also asks `opener` to open the map search (also when
// the report is empty; a failure to open is ignored). Clears the model's AbortFlag.
QString PlacePers(Model& m, const TPlaceOptions& o, const TUrlOpener& opener);
