// Reserved-word texts and their lookup.
#include "engine/sql/NRDConst.h"

#include <array>
#include <string>
#include <unordered_map>

namespace nrd {
namespace {

// clang-format off
constexpr std::array<std::string_view, kReservedWordCount> kWords = {
  "ABSOLUTE", "ACTION", "ADD", "ALL", "ALLOCATE", "ALTER", "AND", "ANY", "ARE", "AS", "ASC", "ASSERTION", "AT",
  "AUTHORIZATION", "AVG", "BEGIN", "BETWEEN", "BIT", "BIT_LENGTH", "BOTH", "BY", "CASCADE", "CASCADED", "CASE",
  "CAST", "CATALOG", "CHAR", "CHARACTER", "CHAR_LENGTH", "CHARACTER_LENGTH", "CHECK", "CLOSE", "COALESCE",
  "COLLATE", "COLLATION", "COLUMN", "COMMIT", "CONNECT", "CONNECTION", "CONSTRAINT", "CONSTRAINTS", "CONTINUE",
  "CONVERT", "CORRESPONDING", "COUNT", "CREATE", "CROSS", "CURRENT", "CURRENT_DATE", "CURRENT_TIME",
  "CURRENT_TIMESTAMP", "CURRENT_USER", "CURSOR", "DATE", "DAY", "DEALLOCATE", "DEC", "DECIMAL", "DECLARE",
  "DEFAULT", "DEFERRABLE", "DEFERRED", "DELETE", "DESC", "DESCRIBE", "DESCRIPTOR", "DIAGNOSTICS", "DISCONNECT",
  "DISTINCT", "DOMAIN", "DOUBLE", "DROP", "ELSE", "END", "END-EXEC", "ESCAPE", "EXCEPT", "EXCEPTION", "EXEC",
  "EXECUTE", "EXISTS", "EXTERNAL", "EXTRACT", "FALSE", "FETCH", "FIRST", "FLOAT", "FOR", "FOREIGN", "FOUND",
  "FROM", "FULL", "GET", "GLOBAL", "GO", "GOTO", "GRANT", "GROUP", "HAVING", "HOUR", "IDENTITY", "IMMEDIATE", "IN",
  "INDICATOR", "INITIALLY", "INNER", "INPUT", "INSENSITIVE", "INSERT", "INT", "INTEGER", "INTERSECT", "INTERVAL",
  "INTO", "IS", "ISOLATION", "JOIN", "KEY", "LANGUAGE", "LAST", "LEADING", "LEFT", "LEVEL", "LIKE", "LOCAL",
  "LOWER", "MATCH", "MAX", "MEMORY", "MIN", "MINUS", "MINUTE", "MODULE", "MONTH", "NAMES", "NATIONAL", "NATURAL",
  "NCHAR", "NEXT", "NO", "NOT", "NULL", "NULLIF", "NUMERIC", "OCTET_LENGTH", "OF", "ON", "ONLY", "OPEN", "OPTION",
  "OR", "ORDER", "OUTER", "OUTPUT", "OVERLAPS", "PAD", "PARTIAL", "POSITION", "PRECISION", "PREPARE", "PRESERVE",
  "PRIMARY", "PRIOR", "PRIVILEGES", "PROCEDURE", "PUBLIC", "READ", "REAL", "REFERENCES", "RELATIVE", "RESTRICT",
  "REVOKE", "RIGHT", "ROLLBACK", "ROWS", "SCHEMA", "SCROLL", "SECOND", "SECTION", "SELECT", "SESSION",
  "SESSION_USER", "SET", "SIZE", "SMALLINT", "SOME", "SPACE", "SQL", "SQLCODE", "SQLERROR", "SQLSTATE",
  "SUBSTRING", "SUM", "SYSTEM_USER", "TABLE", "TEMPORARY", "THEN", "TIME", "TIMESTAMP", "TIMEZONE_HOUR",
  "TIMEZONE_MINUTE", "TO", "TOP", "TRAILING", "TRANSACTION", "TRANSLATE", "TRANSLATION", "TRIM", "TRUE", "UNION",
  "UNIQUE", "UNKNOWN", "UPDATE", "UPPER", "USAGE", "USER", "USING", "VALUE", "VALUES", "VARCHAR", "VARYING",
  "VIEW", "WHEN", "WHENEVER", "WHERE", "WITH", "WORK", "WRITE", "YEAR", "ZONE",
  "PASSWORD", "BLOBBLOCKSIZE", "BLOBCOMPRESSIONMODE", "BLOBCOMPRESSIONALGORITHM", "LASTAUTOINC", "MODIFY", "NEW",
  "INDEX", "NOCASE", "LTRIM", "RTRIM", "POS", "LENGTH", "SYSDATE", "NOW", "TODATE", "TOSTRING", "AUTOINDEXES",
  "NOAUTOINDEXES", "INCREMENT", "LASTVALUE", "MAXVALUE", "MINVALUE", "CYCLED", "NOMAXVALUE", "NOMINVALUE",
  "NOCYCLED", "INITIALVALUE", "STARTVALUE", "RENAME", "START", "FLUSH", "AUTOINC", "MIMETOBIN", "ROWNUM", "IF",
  "TRUNCATE", "ABS", "ACOS", "ASIN", "ATAN", "CEIL", "COS", "EXP", "FLOOR", "LOG", "POWER", "RAND", "ROUND",
  "SIGN", "SIN", "SQR", "SQRT", "HALFEVEN", "HALFPOS", "HALFNEG", "HALFDOWN", "HALFUP", "RNDNEG", "RNDPOS",
  "RNDDOWN", "RNDUP",
};
// clang-format on

// The texts are distinct, so a hash lookup gives the same answer as a search from ordinal 0.
const std::unordered_map<std::string_view, int>& WordMap() {
  static const std::unordered_map<std::string_view, int> map = [] {
    std::unordered_map<std::string_view, int> m;
    for (int i = 0; i < kReservedWordCount; ++i) m.emplace(kWords[static_cast<std::size_t>(i)], i);
    return m;
  }();
  return map;
}

}  // namespace

std::string_view ReservedWordText(TReservedWord word) {
  if (word >= kReservedWordCount) return {};
  return kWords[word];
}

int FindReservedWord(std::string_view text) {
  // No word is longer than 24 characters; longer texts cannot match.
  if (text.empty() || text.size() > 32) return -1;
  std::string upper(text);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  const auto& map = WordMap();
  auto it = map.find(upper);
  return it == map.end() ? -1 : it->second;
}

}  // namespace nrd
