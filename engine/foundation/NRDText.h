// Text services of the engine's run-time layer: the ANSI code page (a 256-entry table to and from
// UTF-16; Windows-1251 unless configured otherwise), string comparison with the semantics of the
// platform's locale comparison (locale id, "string sort", optional case insensitivity) through ICU
// collation, and per-character case mapping that never changes a text's length.
// Thread safety: the code page is set at start-up and read afterwards; comparisons use one collator
// per thread and may run on any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace nrd {

// ----- ANSI code page ------------------------------------------------------------------------
// Replaces the ANSI code page by a table of the UTF-16 unit of each byte. Units that two bytes share
// encode as the lower byte. Call before any engine object exists.
void SetAnsiCodePage(const char16_t (&table)[256]);
// Back to Windows-1251.
void ResetAnsiCodePage();
char16_t AnsiCharToWide(std::uint8_t byte);
// The byte of a unit; '?' for a unit outside the code page (`ok` tells which).
std::uint8_t WideCharToAnsi(char16_t unit, bool* ok = nullptr);
std::u16string AnsiToWide(std::string_view text);
std::string WideToAnsi(std::u16string_view text);
// True when every unit of `text` is in the code page (the text survives a round trip).
bool IsAnsiRepresentable(std::u16string_view text);

// ----- Locale comparison ---------------------------------------------------------------------
inline constexpr int LOCALE_USER_DEFAULT = 0x0400;
inline constexpr int LOCALE_SYSTEM_DEFAULT = 0x0800;
inline constexpr int LOCALE_INVARIANT = 0x007F;
inline constexpr unsigned NORM_IGNORECASE = 0x0001;
// Base letters only: accents (and, with NORM_IGNORECASE, case) do not count.
inline constexpr unsigned NORM_IGNORENONSPACE = 0x0002;
inline constexpr unsigned SORT_STRINGSORT = 0x1000;
inline constexpr int CSTR_LESS_THAN = 1;
inline constexpr int CSTR_EQUAL = 2;
inline constexpr int CSTR_GREATER_THAN = 3;

// The locale that LOCALE_USER_DEFAULT and LOCALE_SYSTEM_DEFAULT stand for (1049, Russian, unless set).
void SetDefaultLocale(int localeId);
int DefaultLocale();

// Compares two texts: CSTR_LESS_THAN, CSTR_EQUAL or CSTR_GREATER_THAN; 0 when the locale is
// unknown or the collator cannot be made. A length of -1 means "up to the first zero".
// With SORT_STRINGSORT punctuation is significant; NORM_IGNORECASE ignores case only.
int CompareStringA(int locale, unsigned flags, const char* text1, int length1, const char* text2, int length2);
int CompareStringW(int locale, unsigned flags, const char16_t* text1, int length1, const char16_t* text2,
                   int length2);
// Convenience forms over whole texts with string sort.
int AnsiCompareText(std::string_view a, std::string_view b, bool caseInsensitive, int locale = LOCALE_USER_DEFAULT);
int WideCompareText(std::u16string_view a, std::u16string_view b, bool caseInsensitive,
                    int locale = LOCALE_USER_DEFAULT);
// The collation key of a single-byte text: two keys compare as bytes (std::string's order) as
// AnsiCompareText compares their texts with the same case rule and locale, equal keys for texts it finds
// equal. One key per text turns a sort of many texts into byte comparisons. Empty for every text when
// the locale is unknown (AnsiCompareText then finds all texts equal).
std::string AnsiSortKey(std::string_view text, bool caseInsensitive, int locale = LOCALE_USER_DEFAULT);

// ----- Case mapping ----------------------------------------------------------------------------
// Simple per-unit mapping: a unit whose mapping is not a single unit stays as it is.
char16_t WideUpperChar(char16_t c);
char16_t WideLowerChar(char16_t c);
// In place over `length` units; returns `length`.
std::int32_t CharUpperBuffW(char16_t* text, std::int32_t length);
std::int32_t CharLowerBuffW(char16_t* text, std::int32_t length);
std::u16string WideUpperCase(std::u16string_view text);
std::u16string WideLowerCase(std::u16string_view text);
// ANSI texts through the code page, byte for byte.
char AnsiUpperChar(char c);
char AnsiLowerChar(char c);
std::string AnsiUpperCase(std::string_view text);
std::string AnsiLowerCase(std::string_view text);
// AnsiUpperCase(a) == AnsiUpperCase(b), without making either copy.
bool AnsiSameText(std::string_view a, std::string_view b);

}  // namespace nrd
