// The group edit tools of each file type, behind RunGroupEdit (GroupEdit.h), and what they share.
// Internal to sources/; tests include it to reach the pieces.
#pragma once

#include "sources/GroupEdit.h"

#include <QDateTime>
#include <QHash>

#include <functional>
#include <random>
#include <vector>

// The GEDCOM tools: edit the file's lines in memory, then (write run, something changed) replace the file.
TToolResult Tools_GED(TToolContext& ctx, const TToolOptions& o);
// The ".at5" tools: change ValuesStr rows inside one transaction (write run).
TToolResult Tools_At5(TToolContext& ctx, const TToolOptions& o);
// The ".at4" tools: change Values, Persons, Events and Places rows inside one transaction (write run).
TToolResult Tools_At4(TToolContext& ctx, const TToolOptions& o);

namespace toolsimpl {

// The protocol's first line: the file for a write run, the dry run's notice otherwise.
QString HeaderLine(const TToolContext& ctx);
// A count line: the text of key + ": " + n.
QString CountLine(platform::TIniFile* lang, const char* key, qint64 n);
// The old values of a replacement: the "~"-separated parts, trimmed, empty ones left out.
QStringList OldValues(const QString& text);
// Surname case conversion: 0 upper case (per character), 1 capitalised words. Never changes the length.
QString ConvertCase(const QString& text, int mode);
// Transliteration that never blanks a text: the text itself when the table gives nothing.
QString TransliterateKeep(platform::TIniFile* table, const QString& text, int variant);
// The page's old and new value of the name replacement (by PageControl4).
void NameReplacement(const TToolOptions& o, QString& oldValues, QString& newValue);

// --- ".at4" pieces ---

// The 62 digits of ".at4" record ids; a digit's value is its position.
extern const char kBase62Digits[];
// n in base 62, most significant digit first; 0 (and below) gives "0".
QString IntToBase62(std::int64_t n);
// The time stamp of a record id: the days since 2004-01-01 (at least 0), the hour and the minute, and
// the second when asked for, each in base 62.
QString Base62TimeStamp(bool withSeconds, const QDateTime& when);
// A new record id: the time stamp with seconds, completed to 10 characters by random digits; an id for
// which taken() says yes is drawn again.
QString NewRecordId(const QDateTime& when, std::mt19937& random, const std::function<bool(const QString&)>& taken);
// A person's full name by the database's layout: value(code) gives the stored value of a code; a birth
// surname equal to the surname is left out; the codes for which changed() says yes go through change().
QString At4FullName(const std::vector<TFullName>& layout, const std::function<QString(const QString& code)>& value,
                    const std::function<bool(const QString& code)>& changed,
                    const std::function<QString(const QString&)>& change);
// Whether an event of a person in this role (99: a role that is no number) carries its name.
bool At4RoleCarriesName(int role);
// The exclusion rules of the role walk: whether the participant Y (role r2) of an event of X (role r1),
// reached by `path` (the roles of the persons walked so far), is left out for the person choice `item`.
bool At4Excluded(int item, int r1, int r2, const QString& path, bool spouses, bool siblings, bool yInChain,
                 bool xInChain);

}  // namespace toolsimpl
