// Small stateless helpers shared by the readers, reports and charts: field access in delimited texts,
// padding, conversions between day counts, "dd.mm.yyyy" texts and "yyyymmdd" sort keys, binary digit
// texts, the display-name template, coloured appends to rich-text documents, colour blending, a similarity score, word capitalisation, a random permutation and the number inside a
// GEDCOM cross-reference.
// Texts are UTF-16 (QString); positions are 1-based; lengths count UTF-16 units.
// Dates are day counts (days since 30 December 1899, time as fraction); kUnknownDate (-1000000) is "unknown".
// Colours are 0x00BBGGRR. Conversions that fail give their documented fallback, never an exception;
// only calls outside a routine's contract (ShuffleRange, BlendColors) throw std::out_of_range.
#pragma once

#include "app/core/Model.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <bitset>
#include <cstdint>
#include <initializer_list>
#include <vector>

class QTextCursor;
class QTextDocument;

// A set of delimiter characters with codes 0..255; a character of code 256 or more is never a member.
class TCharSet {
 public:
  TCharSet(char16_t c) { Add(c); }  // NOLINT: a single character is a set
  TCharSet(std::initializer_list<char16_t> chars) {
    for (char16_t c : chars) Add(c);
  }
  bool Has(QChar c) const { return c.unicode() < 256 && bits_.test(c.unicode()); }

 private:
  void Add(char16_t c) {
    if (c < 256) bits_.set(c);
  }
  std::bitset<256> bits_;
};

using TColor = std::int32_t;

// Font style flags for rich-text appends.
enum TFontStyle : int { fsNone = 0, fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = int;

// --- Text and field access ---

// Removes leading and trailing characters with codes up to the blank (blanks and control characters).
QString TrimCtl(const QString& s);

// Field n (1-based) of text split at the delimiters; n <= 0 gives the last field; too few fields give
// the empty text. When the set holds the blank, the text is trimmed and blank runs collapse first.
QString SplitPart(int n, const QString& text, const TCharSet& delims);
// 0 for the empty text, else 1 + the number of characters of the text that are in the set.
int PartCount(const QString& text, const TCharSet& delims);
// Prefixes fill characters up to width, then keeps the first width characters.
QString PadLeftTo(const QString& text, int width, QChar fill);
// Decimal text of value prefixed with "0" up to width; never cut.
QString ZeroPadInt(std::int64_t value, int width);
inline QString ChooseStr(bool flag, const QString& a, const QString& b) { return flag ? a : b; }
inline std::int32_t ChooseInt(bool flag, std::int32_t a, std::int32_t b) { return flag ? a : b; }
inline std::int16_t ChooseSmallInt(bool flag, std::int16_t a, std::int16_t b) { return flag ? a : b; }
// Positions whose character equals c after both are lower-cased.
int CountCharNoCase(const QString& text, QChar c);
// 2: some character >= U+0410 (Cyrillic); 1: some letter-like character above "?" other than "~"; 0: none.
int TextScript(const QString& text);
// Without eachWord: first character upper-cased, the rest lower-cased. With eachWord: every word (split
// at blank, "(", ")", ",", "-", "/") gets its first character upper-cased and the rest lower-cased, in
// place. The text keeps its length in both modes.
QString CapitalizeWords(const QString& text, bool eachWord);
// Wraps text at widths startWidth, startWidth+1, ... (breaks after blank, "-" and tab; existing line
// breaks kept) until it fits in maxLines lines, or the width reaches the text's length. lines (when not
// null) receives the trimmed lines of the chosen width. Returns that width. REQUIRES: maxLines >= 1.
int FitTextLines(const QString& text, QStringList* lines, int startWidth, int maxLines);
// Percentage of positions where both texts have the same character (with early stops); 0 when both are
// empty.
int SimilarityPercent(const QString& a, const QString& b);

// --- Dates and keys ---

// Day count <-> calendar date. An invalid QDate gives kUnknownDate and back.
TDateTime DateToSerial(const QDate& d);
QDate SerialToDate(TDateTime dt);
// The date formatted "yyyymmdd".
QString DateKey(const QDate& d);

// "dd.mm.yyyy" (characters 1-2, 4-5, 7-10) to a day count; kUnknownDate when not a valid date.
TDateTime DmyToDate(const QString& text);
// 0 gives the empty text; else "dd.mm.yyyy", plus " HH:MM:SS" unless the time is 00:00:00.
QString DateTimeToDmy(TDateTime dt);
// 0 gives the empty text; else "yyyymmdd", plus "HHMMSS" when withTime.
QString DateTimeToSortKey(bool withTime, TDateTime dt);
// "yyyymmdd" key to a day count; see the fallbacks (1 January 0001, 1 January 3200) in the source.
TDateTime SortKeyToDate(const QString& key, bool strict);
inline TDateTime SortKeyToDateClamped(const QString& key) { return SortKeyToDate(key, false); }
// A date text ("dd.mm.yyyy", "mm.yyyy", "ddmmyyyy", a year) to its sort key; "00000000" when unreadable.
QString SortKeyFromDateText(const QString& text);

// --- Numbers ---

// Digit text, most significant first: '101' gives 5.
std::int64_t BinToInt(const QString& digits);
// n characters "0"/"1", the lowest bit last.
QString IntToBin(std::int64_t value, int n);
// The number inside a GEDCOM cross-reference: '@I12@' gives 12, '@IH5@' 5, '@I0@' 0, '@IX@' -1.
std::int64_t XrefNumber(const QString& text);
// Fills a[0..n] with 0..n, then exchanges position r with a random position below r for r = n..0.
// Throws std::out_of_range when a holds fewer than n+1 elements or n < 0.
void ShuffleRange(std::vector<std::int32_t>& a, int n);
// Per channel (a × (d − c) + b × c) div d. Throws std::out_of_range unless 0 <= c <= d, d > 0 and both
// colours are plain RGB values.
TColor BlendColors(TColor a, TColor b, int c, int d);

// --- Display name ---

// Builds a display name from a template: "1" surname, "2" first name, "3" patronymic, "4" birth
// surname; a ")" right after a digit wraps that part in brackets. See the source for the fallbacks.
QString FormatFullName(const QString& surname, const QString& firstName, const QString& patronymic,
                       const QString& birthSurname, const QString& tmpl);

// --- Rich text ---

// Appends (atEnd) or prepends text in a colour and style; with backColor >= 0 also in "Courier New"
// 10 pt on that background.
void InsertRich(QTextDocument* pane, const QString& text, TColor color, TFontStyles style, bool atEnd,
                TColor backColor = -1);
void AppendRich(QTextDocument* pane, const QString& text, TColor color, TFontStyles style, bool atEnd);
// The same at a cursor, which ends after the text: a long report keeps one cursor at the end of its
// document instead of finding the end for every append.
void InsertRich(QTextCursor& cursor, const QString& text, TColor color, TFontStyles style, TColor backColor = -1);
