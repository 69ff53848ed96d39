// Value readers shared by the genealogy database readers: typed column values turned into the model's
// texts, day counts and flags, and the GEDCOM form of a date given as a display text and a type code.
// The databases are files of another program and untrusted: every routine here accepts any storage
// class and falls back (empty text, 0, false) instead of failing. Stateless; callable from anywhere.
#pragma once

#include "app/core/GDate.h"
#include "app/core/Model.h"
#include "platform/SqliteDb.h"

#include <QString>

#include <string>

namespace dbvalues {

// A text column as UTF-16 (invalid UTF-8 sequences become U+FFFD); NULL and BLOB give the empty text.
QString Text(const platform::TSqliteValue& v);
// Bytes taken as UTF-8 text (a BLOB that holds a long text).
QString Utf8Bytes(const std::string& bytes);
// Bytes taken as UTF-16LE characters up to the first NUL character or the end (an odd last byte is
// dropped).
QString Utf16LeBytes(const std::string& bytes);
// A text as its UTF-16LE bytes, as a long text is stored in a BLOB.
std::string Utf16LeOf(const QString& text);

// A record id as the model keeps it: an integer (or a whole REAL) as its decimal text, a text trimmed,
// NULL and BLOB as the empty text.
QString IdText(const platform::TSqliteValue& v);

// A date-time column as a day count (days since 30 December 1899, time of day as the fraction):
// ISO-8601 text ("yyyy-mm-dd", optionally followed by "T" or a blank and "hh:mm", ":ss", ".fff" and a
// zone, which is ignored), or a number (INTEGER, REAL or a numeric text) taken as a Julian day. NULL,
// BLOB, unreadable texts and dates outside the years 1 to 9999 give 0 (no date).
TDateTime DateTime(const platform::TSqliteValue& v);

// A Boolean column: 0/1, true/false (any case), "t"/"f", "yes"/"no"; anything else false.
inline bool Boolean(const platform::TSqliteValue& v) { return v.AsBoolean(); }

// Every CR LF pair made one blank.
QString CrLfToBlank(const QString& text);

// Date type codes of the databases, with their display symbols and GEDCOM words.
enum TDateType : int {
  dtExact = 0,
  dtAbout = 1,
  dtBefore = 2,
  dtAfter = 3,
  dtBetween = 4,
  dtOr = 5,
  dtCalculated = 6,
  dtEstimated = 7,
  dtFromTo = 8,
};

// Fills d.STYPE and d.ORIG from d.NORM (a display text written with the symbols "~", "<", ">", "..",
// "(...)" and "-") and the date's type and flags: the qualifier word, the GEDCOM text with "?" removed,
// the month of the first date as its abbreviation, and the Julian escape in front.
void SetGedcomDateText(TDATES& d, int type, bool isJulian, bool isDateBC);

// The date of an ".at4" Dates row, rebuilt from its short text (day, month and year as "dd.mm.yyyy"
// with "?" for an unknown part, and the symbols above) with the help of its day, month, year, type and
// flags: the display text NORM (unknown parts widened to "??" and "????"), the "yyyymmdd" bounds
// SORT1/SORT2 (an open end is today), YEARS, the exact day and the GEDCOM text ORIG. A text whose year
// cannot be told gives an empty NORM and the open range; an empty text gives NORM "?". CALEN stays
// empty. Pure: the same input and today give the same date.
TDATES At4Date(const QString& shortText, int day, int month, int year, int type, bool isJulian, bool isDateBC,
               const TDateContext& today);

}  // namespace dbvalues
