// The date grammar: turns one date text (a GEDCOM date value or a Russian/Ukrainian free text) into a
// TDATES record with a display text, a "yyyymmdd" range, the qualifier, the year to show and the exact
// day when the text names one.
// It never fails: a text it cannot read becomes its own display text with the full open range
// ("00000000" to today), no year and DDATE kUnknownDate. Stateless apart from "today".
#pragma once

#include "app/core/Model.h"

#include <QDate>
#include <QString>

// What the parser needs of the clock: today as "yyyymmdd" and the current year as "yyyy".
struct TDateContext {
  QString today;
  QString year;
  static TDateContext ForDate(const QDate& d);
  static TDateContext Now() { return ForDate(QDate::currentDate()); }
};

// Parses a date text against the given today.
TDATES GDate_RDates(const QString& text, const TDateContext& ctx);
// Parses a date text against the current date.
TDATES GDate_RDates(const QString& text);
// The general algorithm alone. GDate_RDates first tries a fast path for the common shapes of date text,
// which must give exactly this routine's result; the tests compare the two.
TDATES GDate_RDatesGeneral(const QString& text, const TDateContext& ctx);
