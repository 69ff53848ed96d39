// The SQL script of a table: DROP TABLE, CREATE TABLE with its column and index clauses, and one
// INSERT per record, in the engine's own SQL dialect, as TNRDTable::ExportToSQL writes it under
// its ExportToSqlOptions.
//
// Identifiers are quoted ('name', inner quotes doubled) when they hold a blank or "-" or are
// reserved words of the SQL language. The reserved words belong to the SQL layer, which registers
// its lookup here at start-up; without one, only blanks and "-" make a name quoted.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace nrd {

// The ordinal of a reserved word (0 or more), or -1 for any other text.
using TNRDReservedWordFinder = std::function<int(std::string_view text)>;
void SetReservedWordFinder(TNRDReservedWordFinder finder);

// A name as the script writes it.
std::string SQLIdentifier(const std::string& name);
// A text between single quotes with inner single quotes doubled.
std::string SQLQuoted(std::string_view text);

}  // namespace nrd
