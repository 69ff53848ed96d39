// The person list's data: the dataset fields, one row per person, the preparation of the model after a
// load (memo counts reset, children in birth order, marriages without a date given the parsed empty
// date), the place list, the name filter as a predicate over rows and the incremental search.
// The window (TForm1) owns the dataset and the grid and calls these. Single thread.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

#include "app/core/Model.h"
#include "platform/qt/ClientDataSet.h"

// Field positions of the person list dataset.
enum PersonField { pfFio = 0, pfId, pfD1, pfD2, pfIndex, pfIsFav, pfSd1, pfSd2 };

std::vector<platform::TFieldDef> PersonFieldDefs();

// The row of person `index`; "isFav" is filled from FAVOR only when `withFav`.
platform::TClientDataSet::Row PersonRow(const TINDI& person, std::int64_t index, bool withFav);

// Appends one row per person 1..N-1 in index order. `progress` is called every 100 persons.
void FillPersonRows(const Model& model, platform::TClientDataSet& data, bool withFav,
                    const std::function<void(std::int64_t)>& progress = {});

// After a load: iPr/iPot := -1; each family's children sorted by birth key (stable); a marriage without
// a date text gets the parsed empty date.
void PreparePersonsAfterLoad(Model& model);

// Birth, death, residence and marriage places, each once, in sorted order.
QStringList CollectPlaces(const Model& model);

struct PersonFilterOptions {
  bool nameFilter = false;  // the name filter switch is down
  QString text;             // the search text
  bool favourites = false;  // only persons with a relation mark
  bool living = false;      // only persons with an empty death column
};
// True when the options filter anything at all.
bool FilterActive(const PersonFilterOptions& options);
// A row predicate; the search text is matched literally (blanks separate words that must appear in order).
platform::TClientDataSet::Predicate MakePersonFilter(const PersonFilterOptions& options);

// File-mask matching: "*" any run of characters, "?" one character, case-insensitive.
bool MaskMatches(const QString& text, const QString& mask);

// The first person (index order) among those `visible` accepts whose display name matches the search
// text as a prefix pattern or anywhere; 0 when none does.
std::int64_t FindPersonByText(const Model& model, const QString& text,
                              const std::function<bool(std::int64_t)>& visible);
