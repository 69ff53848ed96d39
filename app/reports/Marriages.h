// The marriage list: every family of the current person's ancestors, one row per family, with both
// spouses, their dates and places, the children's births, the recorded marriage date and an estimated
// range of marriage years, the bride's father and the marriage note.
//
// Headless: reads the ancestor list (app/charts/Ancestors.h, built by FillTree) and the Model, fills the
// client dataset CDS_Marriage (fields below), which the page shows in its grid and the workbook export
// writes. The colour of a row is decided by MarriageCellStyle, shared by the grid and the workbook.
#pragma once

#include "app/charts/Ancestors.h"
#include "app/core/Model.h"

#include <QString>

#include <functional>
#include <vector>

namespace platform {
class TClientDataSet;
}

// The page's options; the comments name the controls that hold them.
struct TMarriageOptions {
  bool LimitGenerations = false;  // CheckBox32 (group "Лимит поколений")
  int Generations = 8;            // SpinEdit5 (2..12)
  bool MaidenName = true;         // CheckBox58 "Девичья" (group "Фамилия женщин")
  int KnownRule = 3;              // RadioGroup4 "Известные браки"
  bool OtherMen = true;           // CheckBox34: other marriages of men
  bool OtherWomen = true;         // CheckBox39: other marriages of women
  bool Known = true;              // CheckBox33 "Известные браки"
  int CurrentYear = 0;            // the upper bound of the estimate; 0: this year
};

// One column of a grid over a report dataset: field, title and width in pixels.
struct TReportColumn {
  QString field, title;
  int width = 80;
};

// The grid's columns of CDS_Marriage in order (field names for the fields without a title).
std::vector<TReportColumn> MarriageColumns();

// Makes `cds` the empty CDS_Marriage (its fields, the index on e_id) and opens it.
void CreateMarriageDataSet(platform::TClientDataSet& cds);

// Rebuilds CDS_Marriage from the ancestor list and applies the view filter; returns the number of rows
// (the total). Nothing happens (returns -1) when the list is empty or its first entry names no person.
// `progress` (may be empty) gets the entry's place and the number of entries after each row; when it
// returns true the build stops there and keeps the rows made so far (the user pressed Stop).
int MarriageGedcom(const Model& m, const std::vector<TPers>& aPers, const TMarriageOptions& o,
                   platform::TClientDataSet& cds, const std::function<bool(int, int)>& progress = {});

// "+" or "-" by the rule of RadioGroup4 (0 exact date, 1 bride's father, 2 either, 3 both).
QString MarriageOk(const QString& dm, const QString& fatherName, int rule);
// Sets Ok of every row anew by the rule.
void RecomputeMarriageOk(platform::TClientDataSet& cds, int rule);
// The view filter of the three boxes: a row is hidden by the sign its Main ends with (" ." other
// marriage of a woman, "." of a man) or by Ok. Filtering is on only when a box is unchecked.
bool MarriageRowShown(const QString& main, const QString& ok, const TMarriageOptions& o);
void ApplyMarriageFilter(platform::TClientDataSet& cds, const TMarriageOptions& o);

// The colour rule of a marriage cell, shared by the grid and the workbook: 2 known marriage of the
// direct line, 3 unknown one of the direct line, 4 known other marriage, 0 none; 5 for the DM_CALC cell
// whose lower year is above its upper year.
int MarriageCellStyle(const QString& ok, const QString& main, bool calcColumn, const QString& dmCalc);

// The estimated marriage years "lower-upper" of family f (the DM_CALC rule).
QString MarriageYears(const Model& m, std::int64_t f, int currentYear);

// Text cut to at most n UTF-16 units without splitting a surrogate pair.
QString CutField(const QString& text, int n);
// The text wrapped at blanks, hyphens and tabs to lines of at most `width` characters (longer words stay
// whole), lines joined with LF.
QString WrapHint(const QString& text, int width);
