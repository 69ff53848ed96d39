// The anniversary calendar: for each day from today on, the births, deaths and marriages of the tree
// whose anniversary (same day and month) falls on that day, and those on which a whole multiple of 1000
// days has passed since the event. At most the 731 days from today are visited; the list stops after the
// first day that brings it above 100 rows.
//
// Headless: reads the Model, returns the rows and fills the client dataset CDS_Informer, which the page
// shows in its grid and the workbook export writes. CalendarCellStyle is the colour rule shared by the
// grid and the workbook.
#pragma once

#include "app/core/Model.h"
#include "app/reports/Marriages.h"

#include <QDate>
#include <QString>

#include <optional>
#include <vector>

namespace platform {
class TClientDataSet;
}

// The page's options; the comments name the controls that hold them.
struct TCalendarOptions {
  bool OnlyAlive = false;      // CheckBox51 "Только Живых"
  bool OnlyFavorites = false;  // CheckBox52 "Только Фаворитов"
  bool Births = true;          // CheckBox53 "Рождения (*)"
  bool Marriages = true;       // CheckBox54 "Браки (x)"
  bool Deaths = true;          // CheckBox59 "Смерти (┼)"
  QDate Today;                 // the first day; invalid: the current date
};

struct TCalendarRow {
  QDate DateCalend;          // the calendar day of the row
  QDate DateOrig;            // the event's date
  QString Persons;           // FIO1, or husband's FIO1 + " + " + wife's FIO1
  QString Type;              // "*" birth, "┼" death, "x" marriage
  std::optional<int> Years;  // anniversary rows
  std::optional<int> Days;   // 1000-day rows
};

// The rows in the order they are found.
std::vector<TCalendarRow> Informer(const Model& m, const TCalendarOptions& o);

// The grid's columns of CDS_Informer in order.
std::vector<TReportColumn> CalendarColumns();
// Makes `cds` the empty CDS_Informer and opens it.
void CreateCalendarDataSet(platform::TClientDataSet& cds);
// Rebuilds CDS_Informer from the rows (dates as "dd.mm.yyyy").
void FillCalendarDataSet(platform::TClientDataSet& cds, const std::vector<TCalendarRow>& rows);

// A row is a jubilee when its Years is a multiple of 5 or its Days a multiple of 5000.
bool CalendarJubilee(const std::optional<int>& years, const std::optional<int>& days);
// The colour rule of a calendar cell, shared by the grid and the workbook: 2 birth, 3 marriage, 4 death,
// 0 other; 5 for the Years and Days cells of a jubilee row (column "Years" or "Days" given in `field`).
int CalendarCellStyle(const QString& type, const QString& field, const std::optional<int>& years,
                      const std::optional<int>& days);
