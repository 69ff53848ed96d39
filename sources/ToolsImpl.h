// The group edit tools of each file type, behind RunGroupEdit (GroupEdit.h), and what they share.
// Internal to sources/; tests include it to reach the pieces.
#pragma once

#include "sources/GroupEdit.h"

#include <QHash>

// The GEDCOM tools: edit the file's lines in memory, then (write run, something changed) replace the file.
TToolResult Tools_GED(TToolContext& ctx, const TToolOptions& o);
// The ".at5" tools: change ValuesStr rows inside one transaction (write run).
TToolResult Tools_At5(TToolContext& ctx, const TToolOptions& o);

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

}  // namespace toolsimpl
