// SQL type table, predicates, date conversions, ISO parsers, LIKE, result types and casts.
#include "engine/foundation/NRDConverts.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDText.h"
#include "engine/foundation/NRDTypesRoutines.h"

namespace nrd {

const TSQLFieldType SQLFieldTypeTable[kSQLFieldTypeCount] = {
    {"CHAR", aftChar, bftChar, ftFixedChar},
    {"FIXEDCHAR", aftChar, bftChar, ftFixedChar},
    {"STRING", aftString, bftVarchar, ftString},
    {"VARCHAR", aftString, bftVarchar, ftString},
    {"VARCHAR2", aftString, bftVarchar, ftString},
    {"WIDECHAR", aftWideChar, bftWideChar, ftWideString},
    {"FIXEDWIDECHAR", aftWideChar, bftWideChar, ftWideString},
    {"WIDESTRING", aftWideString, bftWideVarchar, ftWideString},
    {"WIDEVARCHAR", aftWideString, bftWideVarchar, ftWideString},
    {"SMALLINT", aftSmallint, bftSignedInt16, ftSmallint},
    {"SIGNEDINT16", aftSmallint, bftSignedInt16, ftSmallint},
    {"SHORTINT", aftShortint, bftSignedInt8, ftSmallint},
    {"SIGNEDINT8", aftShortint, bftSignedInt8, ftSmallint},
    {"INTEGER", aftInteger, bftSignedInt32, ftInteger},
    {"SIGNEDINT32", aftInteger, bftSignedInt32, ftInteger},
    {"LARGEINT", aftLargeint, bftSignedInt64, ftLargeint},
    {"INT64", aftLargeint, bftSignedInt64, ftLargeint},
    {"SIGNEDINT64", aftLargeint, bftSignedInt64, ftLargeint},
    {"WORD", aftWord, bftUnsignedInt16, ftWord},
    {"UNSIGNEDINT16", aftWord, bftUnsignedInt16, ftWord},
    {"BYTE", aftByte, bftUnsignedInt8, ftWord},
    {"UNSIGNEDINT8", aftByte, bftUnsignedInt8, ftWord},
    {"CARDINAL", aftCardinal, bftUnsignedInt32, ftLargeint},
    {"UNSIGNEDINT32", aftCardinal, bftUnsignedInt32, ftLargeint},
    {"AUTOINC", aftAutoInc, bftSignedInt32, ftAutoInc},
    {"AUTOINCSHORTINT", aftAutoIncShortint, bftSignedInt8, ftAutoInc},
    {"AUTOINCSMALLINT", aftAutoIncSmallint, bftSignedInt16, ftAutoInc},
    {"AUTOINCINTEGER", aftAutoIncInteger, bftSignedInt32, ftAutoInc},
    {"AUTOINCLARGEINT", aftAutoIncLargeint, bftSignedInt64, ftLargeint},
    {"AUTOINCBYTE", aftAutoIncByte, bftUnsignedInt8, ftAutoInc},
    {"AUTOINCWORD", aftAutoIncWord, bftUnsignedInt16, ftAutoInc},
    {"AUTOINCCARDINAL", aftAutoIncCardinal, bftUnsignedInt32, ftAutoInc},
    {"FLOAT", aftDouble, bftDouble, ftFloat},
    {"FLOAT", aftDouble, bftDouble, ftBCD},
    {"SINGLE", aftSingle, bftSingle, ftFloat},
    {"DOUBLE", aftDouble, bftDouble, ftFloat},
    {"EXTENDED", aftExtended, bftExtended, ftFloat},
    {"LOGICAL", aftBoolean, bftLogical, ftBoolean},
    {"BOOLEAN", aftBoolean, bftLogical, ftBoolean},
    {"BOOL", aftBoolean, bftLogical, ftBoolean},
    {"BIT", aftBoolean, bftLogical, ftBoolean},
    {"CURRENCY", aftCurrency, bftCurrency, ftCurrency},
    {"MONEY", aftCurrency, bftCurrency, ftCurrency},
    {"DATE", aftDate, bftDate, ftDate},
    {"TIME", aftTime, bftTime, ftTime},
    {"DATETIME", aftDateTime, bftDateTime, ftDateTime},
    {"TIMESTAMP", aftTimeStamp, bftDateTime, ftTimeStamp},
    {"BYTES", aftBytes, bftBytes, ftBytes},
    {"VARBYTES", aftVarBytes, bftVarBytes, ftVarBytes},
    {"BLOB", aftBlob, bftBlob, ftBlob},
    {"BLOB", aftBlob, bftBlob, ftParadoxOle},
    {"BLOB", aftBlob, bftBlob, ftTypedBinary},
    {"BLOB", aftBlob, bftBlob, ftDBaseOle},
    {"BLOB", aftBlob, bftBlob, ftOraBlob},
    {"BLOB", aftBlob, bftBlob, ftOraClob},
    {"GRAPHIC", aftGraphic, bftBlob, ftGraphic},
    {"MEMO", aftMemo, bftClob, ftMemo},
    {"CLOB", aftMemo, bftClob, ftMemo},
    {"FORMATTEDMEMO", aftFormattedMemo, bftClob, ftFmtMemo},
    {"WIDEMEMO", aftWideMemo, bftWideClob, ftWideMemo},
    {"WIDECLOB", aftWideMemo, bftWideClob, ftWideMemo},
    {"GUID", aftGuid, bftChar, ftGuid},
};

namespace {

// SQL names by storage type, resolved once from the table.
struct SqlNames {
  std::string base[kBaseFieldTypeCount];
  SqlNames() {
    for (int t = 0; t < kBaseFieldTypeCount; ++t) {
      base[t] = "Unknown";
      for (const auto& row : SQLFieldTypeTable)
        if (row.BaseFieldType == t) {
          base[t] = row.SqlName;
          break;
        }
    }
  }
};
const SqlNames& Names() {
  static const SqlNames names;
  return names;
}

}  // namespace

TNRDBaseFieldType AdvancedToBaseFieldType(TNRDAdvancedFieldType aft) {
  for (const auto& row : SQLFieldTypeTable)
    if (row.AdvancedFieldType == aft) return row.BaseFieldType;
  return bftUnknown;
}

TNRDAdvancedFieldType BaseToAdvancedFieldType(TNRDBaseFieldType bft) {
  for (const auto& row : SQLFieldTypeTable)
    if (row.BaseFieldType == bft) return row.AdvancedFieldType;
  return aftUnknown;
}

TNRDAdvancedFieldType FieldTypeToAdvancedFieldType(TFieldType ft) {
  for (const auto& row : SQLFieldTypeTable)
    if (row.FieldType == ft && row.AdvancedFieldType != aftUnknown) return row.AdvancedFieldType;
  throw ENRDException(30289, "Unknown DataType: '%s'", {IntToStr(static_cast<int>(ft))});
}

TFieldType AdvancedFieldTypeToFieldType(TNRDAdvancedFieldType aft) {
  for (const auto& row : SQLFieldTypeTable)
    if (row.AdvancedFieldType == aft) return row.FieldType;
  return ftUnknown;
}

std::string AdvancedFieldTypeToSQLName(TNRDAdvancedFieldType aft) {
  for (const auto& row : SQLFieldTypeTable)
    if (row.AdvancedFieldType == aft) return row.SqlName;
  return "Unknown";
}

std::string BaseFieldTypeToSQLName(TNRDBaseFieldType bft) {
  if (static_cast<int>(bft) >= kBaseFieldTypeCount) return "Unknown";
  return Names().base[bft];
}

bool IsBlobBaseFieldType(TNRDBaseFieldType t) { return t == bftBlob || t == bftClob || t == bftWideClob; }
bool IsStringBaseFieldType(TNRDBaseFieldType t) {
  return t == bftChar || t == bftWideChar || t == bftVarchar || t == bftWideVarchar;
}
bool IsWideStringBaseFieldType(TNRDBaseFieldType t) { return t == bftWideChar || t == bftWideVarchar; }
bool IsIntegerBaseFieldType(TNRDBaseFieldType t) { return t >= bftSignedInt8 && t <= bftUnsignedInt32; }
bool IsFloatBaseFieldType(TNRDBaseFieldType t) { return t >= bftSingle && t <= bftExtended; }
bool IsNumericBaseFieldType(TNRDBaseFieldType t) { return (t >= bftSignedInt8 && t <= bftExtended) || t == bftCurrency; }
bool IsDateTimeBaseFieldType(TNRDBaseFieldType t) { return t == bftDate || t == bftTime || t == bftDateTime; }
bool IsBlobAdvancedFieldType(TNRDAdvancedFieldType t) {
  return t == aftBlob || t == aftGraphic || t == aftMemo || t == aftFormattedMemo || t == aftWideMemo;
}
bool IsStringAdvancedFieldType(TNRDAdvancedFieldType t) {
  return t == aftChar || t == aftString || t == aftWideChar || t == aftWideString || t == aftGuid;
}
bool IsWideStringAdvancedFieldType(TNRDAdvancedFieldType t) { return t == aftWideChar || t == aftWideString; }
bool IsBytesAdvancedFieldType(TNRDAdvancedFieldType t) { return t == aftBytes || t == aftVarBytes; }
bool IsAutoIncAdvancedFieldType(TNRDAdvancedFieldType t) { return t >= aftAutoInc && t <= aftAutoIncCardinal; }
bool IsNumericAdvancedFieldType(TNRDAdvancedFieldType t) { return IsNumericBaseFieldType(AdvancedToBaseFieldType(t)); }
bool IsDateTimeAdvancedFieldType(TNRDAdvancedFieldType t) { return IsDateTimeBaseFieldType(AdvancedToBaseFieldType(t)); }
bool IsSizedAdvancedFieldType(TNRDAdvancedFieldType t) {
  return (IsStringAdvancedFieldType(t) && t != aftGuid) || IsBytesAdvancedFieldType(t);
}
bool IsConvertibleAdvancedFieldType(TNRDAdvancedFieldType t) {
  return (t >= aftChar && t <= aftTimeStamp) || (t >= aftMemo && t <= aftWideMemo);
}

// ----- Dates -------------------------------------------------------------------------------------
TDateTime NRDDateToDateTime(std::int32_t d) { return static_cast<double>(d) - kNRDDateDelta; }

std::int32_t DateTimeToNRDDate(TDateTime t) {
  double d = std::trunc(t) + kNRDDateDelta;
  if (!(d >= -2147483648.0 && d <= 2147483647.0)) throw ERangeError("Invalid date-time value");
  return static_cast<std::int32_t>(d);
}

TDateTime NRDTimeToDateTime(std::int32_t ms) {
  double v = ms / kMSecsPerDay;
  return v - std::trunc(v);
}

std::int32_t DateTimeToNRDTime(TDateTime t) {
  if (!std::isfinite(t)) throw ERangeError("Invalid date-time value");
  return static_cast<std::int32_t>(std::nearbyint(std::fabs(t - std::trunc(t)) * kMSecsPerDay));
}

TDateTime NRDDateTimeToDateTime(const TNRDDateTime& dt) {
  return ComposeDateTime(NRDDateToDateTime(dt.Date), NRDTimeToDateTime(dt.Time));
}

TNRDDateTime DateTimeToNRDDateTime(TDateTime t) { return TNRDDateTime{DateTimeToNRDDate(t), DateTimeToNRDTime(t)}; }

bool ReadDigitGroup(std::string_view s, int count, std::uint16_t& value, std::size_t& pos) {
  int digits = 0;
  unsigned v = 0;
  while (pos <= s.size() && s[pos - 1] >= '0' && s[pos - 1] <= '9') {
    if (digits < 5) v = v * 10 + static_cast<unsigned>(s[pos - 1] - '0');
    ++digits;
    ++pos;
  }
  if (pos <= s.size()) ++pos;  // the separator
  value = static_cast<std::uint16_t>(v);
  return digits == count;
}

namespace {

bool ReadGroups(std::string_view s, std::initializer_list<int> counts, std::uint16_t* out) {
  std::size_t pos = 1;
  int i = 0;
  for (int c : counts)
    if (!ReadDigitGroup(s, c, out[i++], pos)) return false;
  return pos > s.size();
}

}  // namespace

bool TryParseISODate(std::string_view s, TDateTime& value) {
  std::uint16_t g[3];
  if (!ReadGroups(s, {4, 2, 2}, g)) return false;
  value = EncodeDate(g[0], g[1], g[2]);
  return true;
}

bool TryParseISOTime(std::string_view s, TDateTime& value) {
  std::uint16_t g[3];
  if (!ReadGroups(s, {2, 2, 2}, g)) return false;
  value = EncodeTime(g[0], g[1], g[2], 0);
  return true;
}

bool TryParseISODateTime(std::string_view s, TDateTime& value) {
  std::uint16_t g[6];
  if (!ReadGroups(s, {4, 2, 2, 2, 2, 2}, g)) return false;
  value = ComposeDateTime(EncodeDate(g[0], g[1], g[2]), EncodeTime(g[3], g[4], g[5], 0));
  return true;
}

// ----- LIKE --------------------------------------------------------------------------------------
namespace {

enum class TokKind : std::uint8_t { Any, One, Literal };
template <typename C> struct Tok {
  TokKind kind;
  C ch;
};

template <typename C>
std::vector<Tok<C>> Tokenize(std::basic_string_view<C> pattern, bool useEscape, C escapeChar) {
  std::vector<Tok<C>> toks;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    C c = pattern[i];
    if (useEscape && c == escapeChar && i + 1 < pattern.size()) {
      toks.push_back({TokKind::Literal, pattern[++i]});
    } else if (c == C('%')) {
      if (toks.empty() || toks.back().kind != TokKind::Any) toks.push_back({TokKind::Any, c});
    } else if (c == C('_')) {
      toks.push_back({TokKind::One, c});
    } else {
      toks.push_back({TokKind::Literal, c});
    }
  }
  return toks;
}

// Greedy matching with one backtrack point (the last "%"): O(len(value) x len(pattern)).
template <typename C, typename Eq>
bool MatchTokens(std::basic_string_view<C> value, const std::vector<Tok<C>>& toks, Eq eq) {
  std::size_t vi = 0, pi = 0, starP = std::string::npos, starV = 0;
  const std::size_t n = value.size(), m = toks.size();
  while (vi < n) {
    if (pi < m && toks[pi].kind == TokKind::Any) {
      starP = pi++;
      starV = vi;
    } else if (pi < m && (toks[pi].kind == TokKind::One || eq(value[vi], toks[pi].ch))) {
      ++vi;
      ++pi;
    } else if (starP != std::string::npos) {
      pi = starP + 1;
      vi = ++starV;
    } else {
      return false;
    }
  }
  while (pi < m && toks[pi].kind == TokKind::Any) ++pi;
  return pi == m;
}

}  // namespace

bool MatchLikeAnsi(std::string_view value, std::string_view pattern, bool useEscape, char escapeChar,
                   bool caseInsensitive) {
  const unsigned flags = SORT_STRINGSORT | (caseInsensitive ? NORM_IGNORECASE : 0u);
  auto eq = [&](char a, char b) {
    if (a == b) return true;
    if (caseInsensitive && AnsiUpperChar(a) == AnsiUpperChar(b)) return true;
    return CompareStringA(LOCALE_USER_DEFAULT, flags, &a, 1, &b, 1) == CSTR_EQUAL;
  };
  return MatchTokens<char>(value, Tokenize<char>(pattern, useEscape, escapeChar), eq);
}

bool MatchLikeWide(std::u16string_view value, std::u16string_view pattern, bool useEscape, char16_t escapeChar,
                   bool caseInsensitive) {
  const unsigned flags = SORT_STRINGSORT | (caseInsensitive ? NORM_IGNORECASE : 0u);
  auto eq = [&](char16_t a, char16_t b) {
    if (a == b) return true;
    if (caseInsensitive && WideUpperChar(a) == WideUpperChar(b)) return true;
    return WideCompareStringProc(LOCALE_USER_DEFAULT, flags, &a, 1, &b, 1) == CSTR_EQUAL;
  };
  return MatchTokens<char16_t>(value, Tokenize<char16_t>(pattern, useEscape, escapeChar), eq);
}

// ----- Result types --------------------------------------------------------------------------------
namespace {

bool IsText(TNRDBaseFieldType t) { return IsStringBaseFieldType(t); }
bool IsInt(TNRDBaseFieldType t) { return IsIntegerBaseFieldType(t); }
bool IsFloat(TNRDBaseFieldType t) { return IsFloatBaseFieldType(t); }
bool IsNumber(TNRDBaseFieldType t) { return IsInt(t) || IsFloat(t); }
bool IsDate(TNRDBaseFieldType t) { return IsDateTimeBaseFieldType(t); }

TNRDBaseFieldType WideFormOf(TNRDBaseFieldType t) {
  return (t == bftChar || t == bftWideChar) ? bftWideChar : bftWideVarchar;
}

// Integer with integer; rows are the left type, columns the right (I8 I16 I32 I64 U8 U16 U32).
constexpr TNRDBaseFieldType kIntTable[7][7] = {
    {bftSignedInt8, bftSignedInt16, bftSignedInt32, bftSignedInt64, bftSignedInt16, bftUnsignedInt16, bftUnsignedInt32},
    {bftSignedInt16, bftSignedInt16, bftSignedInt32, bftSignedInt64, bftSignedInt16, bftUnsignedInt16, bftUnsignedInt32},
    {bftSignedInt32, bftSignedInt32, bftSignedInt32, bftSignedInt64, bftSignedInt32, bftSignedInt32, bftSignedInt64},
    {bftSignedInt64, bftSignedInt64, bftSignedInt64, bftSignedInt64, bftSignedInt64, bftSignedInt64, bftSignedInt64},
    {bftSignedInt16, bftSignedInt16, bftSignedInt32, bftSignedInt64, bftUnsignedInt8, bftUnsignedInt16, bftUnsignedInt32},
    {bftSignedInt32, bftSignedInt32, bftSignedInt32, bftSignedInt64, bftUnsignedInt16, bftUnsignedInt16, bftUnsignedInt32},
    {bftSignedInt64, bftSignedInt64, bftSignedInt64, bftSignedInt64, bftUnsignedInt32, bftUnsignedInt32, bftUnsignedInt32},
};

}  // namespace

TNRDBaseFieldType GetResultDataType(TNRDBaseFieldType l, TNRDBaseFieldType r, bool forComparison) {
  auto excluded = [](TNRDBaseFieldType t) {
    return t == bftUnknown || t == bftBlob || t == bftBytes || t == bftVarBytes || t == bftBFile ||
           static_cast<int>(t) >= kBaseFieldTypeCount;
  };
  if (excluded(l) || excluded(r)) return bftUnknown;
  // 2. text with text
  if (IsText(l) && IsText(r)) {
    if (l == bftWideVarchar || r == bftWideVarchar) return bftWideVarchar;
    if (l == bftWideChar || r == bftWideChar) return bftWideChar;
    if (l == bftVarchar || r == bftVarchar) return bftVarchar;
    return bftChar;
  }
  // 3. character large objects
  if (l == bftClob || l == bftWideClob || r == bftClob || r == bftWideClob) {
    if (IsText(l) || IsText(r)) {
      TNRDBaseFieldType text = IsText(l) ? l : r;
      TNRDBaseFieldType lob = IsText(l) ? r : l;
      return lob == bftClob ? text : WideFormOf(text);
    }
    if (l == bftClob && r == bftClob) return bftChar;
    if ((l == bftClob || l == bftWideClob) && (r == bftClob || r == bftWideClob)) return bftWideChar;
    return bftUnknown;
  }
  // 4, 5. text with a number, Logical, Currency or a date
  if (IsText(l) || IsText(r)) {
    TNRDBaseFieldType text = IsText(l) ? l : r;
    TNRDBaseFieldType other = IsText(l) ? r : l;
    if (IsNumber(other) || other == bftLogical || other == bftCurrency) return text;
    if (IsDate(other)) return forComparison ? other : text;
    return bftUnknown;
  }
  // 6. integers
  if (IsInt(l) && IsInt(r)) return kIntTable[l - bftSignedInt8][r - bftSignedInt8];
  // 7. floats
  if ((IsInt(l) && IsFloat(r)) || (IsFloat(l) && IsInt(r))) return IsFloat(l) ? l : r;
  if (IsFloat(l) && IsFloat(r)) return l > r ? l : r;
  // 8. dates
  if ((IsNumber(l) && IsDate(r)) || (IsDate(l) && IsNumber(r))) return IsDate(l) ? l : r;
  if (IsDate(l) && IsDate(r)) {
    if (l == bftDateTime || r == bftDateTime) return bftDateTime;
    if (l == r) return l;
    return bftDateTime;
  }
  // 9. Logical
  if (l == bftLogical || r == bftLogical) {
    TNRDBaseFieldType other = l == bftLogical ? r : l;
    if (other == bftLogical) return bftLogical;
    if (IsNumber(other)) return other;
    return bftUnknown;
  }
  // 10. Currency
  if (l == bftCurrency || r == bftCurrency) {
    if (l == bftCurrency && r == bftCurrency) return bftCurrency;
    TNRDBaseFieldType other = l == bftCurrency ? r : l;
    if (IsInt(other)) return bftCurrency;
    if (IsFloat(other)) return l == bftCurrency ? r : bftCurrency;
    return bftUnknown;
  }
  return bftUnknown;
}

TNRDAdvancedFieldType GetResultAdvancedDataType(TNRDAdvancedFieldType left, TNRDAdvancedFieldType right,
                                                bool forComparison) {
  TNRDBaseFieldType l = AdvancedToBaseFieldType(left), r = AdvancedToBaseFieldType(right);
  TNRDBaseFieldType res = GetResultDataType(l, r, forComparison);
  if (res == bftUnknown) return aftUnknown;
  if (res == l) return left;
  if (res == r) return right;
  return BaseToAdvancedFieldType(res);
}

// ----- Conversion ----------------------------------------------------------------------------------
namespace {

bool IsTextFamily(TNRDBaseFieldType t) { return IsText(t) || t == bftClob || t == bftWideClob; }
bool IsWideFamily(TNRDBaseFieldType t) { return t == bftWideChar || t == bftWideVarchar || t == bftWideClob; }

[[noreturn]] void CastError(int code, TNRDBaseFieldType s, TNRDBaseFieldType d) {
  throw ENRDException(code, "Cannot cast from '%s' to '%s'", {BaseFieldTypeToSQLName(s), BaseFieldTypeToSQLName(d)});
}

// The value read from the source, in the widest native form of its family.
struct Native {
  std::string ansi;
  std::u16string wide;
  std::int64_t i = 0;     // integers, Date, Time, Logical (0/1)
  long double f = 0;      // floats, Currency
  TNRDDateTime dt;        // DateTime
};

std::string ReadAnsi(const std::uint8_t* p, std::int32_t size, TNRDBaseFieldType t) {
  const char* c = reinterpret_cast<const char*>(p);
  if (size < 0) return std::string(c);
  // A Clob with a known size keeps all its bytes; the other texts end at their first zero.
  if (t == bftClob && size > 0) return std::string(c, static_cast<std::size_t>(size));
  std::size_t n = 0;
  while (n < static_cast<std::size_t>(size) && c[n] != '\0') ++n;
  return std::string(c, n);
}

std::u16string ReadWide(const std::uint8_t* p, std::int32_t size) {
  std::u16string r;
  std::size_t maxUnits = size < 0 ? std::numeric_limits<std::size_t>::max() : static_cast<std::size_t>(size) / 2;
  for (std::size_t i = 0; i < maxUnits; ++i) {
    char16_t u = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
    if (u == 0) break;
    r.push_back(u);
  }
  return r;
}

long double ReadFloat(const std::uint8_t* p, TNRDBaseFieldType t) {
  switch (t) {
    case bftSingle: {
      float f;
      std::memcpy(&f, p, 4);
      return f;
    }
    case bftDouble:
    case bftCurrency: {
      double d;
      std::memcpy(&d, p, 8);
      return d;
    }
    case bftExtended: return GetExtended(p);
    default: return 0;
  }
}

// The output buffer in dest's encoding.
struct Out {
  std::vector<std::uint8_t> bytes;
};

void EmitAnsiText(Out& o, const std::string& s) {
  o.bytes.assign(s.begin(), s.end());
  o.bytes.push_back(0);
}
void EmitWideText(Out& o, const std::u16string& s) {
  o.bytes.resize((s.size() + 1) * 2);
  for (std::size_t i = 0; i < s.size(); ++i) PutLE16(&o.bytes[2 * i], s[i]);
  PutLE16(&o.bytes[2 * s.size()], 0);
}
void EmitText(Out& o, TNRDBaseFieldType d, const std::string& ansi) {
  if (IsWideFamily(d)) EmitWideText(o, AnsiToWide(ansi));
  else EmitAnsiText(o, ansi);
}

void EmitInt(Out& o, TNRDBaseFieldType d, std::int64_t v) {
  const auto u = static_cast<std::uint64_t>(v);
  switch (d) {
    case bftSignedInt8:
    case bftUnsignedInt8: o.bytes = {static_cast<std::uint8_t>(u)}; break;
    case bftSignedInt16:
    case bftUnsignedInt16: o.bytes.resize(2); PutLE16(o.bytes.data(), static_cast<std::uint16_t>(u)); break;
    case bftSignedInt32:
    case bftUnsignedInt32:
    case bftDate:
    case bftTime: o.bytes.resize(4); PutLE32(o.bytes.data(), static_cast<std::uint32_t>(u)); break;
    case bftSignedInt64: o.bytes.resize(8); PutLE64(o.bytes.data(), u); break;
    default: throw ERangeError("not an integer type");
  }
}

void EmitFloat(Out& o, TNRDBaseFieldType d, long double v) {
  switch (d) {
    case bftSingle: {
      float f = static_cast<float>(v);
      if (std::isinf(f) && std::isfinite(v)) throw EOverflow(kOverflowText);
      o.bytes.resize(4);
      std::memcpy(o.bytes.data(), &f, 4);
      break;
    }
    case bftDouble:
    case bftCurrency: {
      double f = static_cast<double>(v);
      if (std::isinf(f) && std::isfinite(v)) throw EOverflow(kOverflowText);
      o.bytes.resize(8);
      std::memcpy(o.bytes.data(), &f, 8);
      break;
    }
    case bftExtended: o.bytes.resize(10); PutExtended(o.bytes.data(), v); break;
    default: throw ERangeError("not a float type");
  }
}

void EmitDateTime(Out& o, const TNRDDateTime& dt) {
  o.bytes.resize(8);
  dt.Encode(o.bytes.data());
}

void EmitLogical(Out& o, bool v) {
  o.bytes.resize(2);
  PutLE16(o.bytes.data(), v ? 0xFFFF : 0);
}

std::int32_t ToInt32Checked(long double v) {
  if (!(v >= -2147483648.0L && v <= 2147483647.0L)) throw EInvalidOp(kInvalidOpText);
  return static_cast<std::int32_t>(v);
}

TFormatSettings PointSettings() {
  TFormatSettings fs = FormatSettings();
  fs.DecimalSeparator = '.';
  return fs;
}

// Text -> date-time by the source's rules.
TDateTime TextToDateTime(const std::string& text, TNRDBaseFieldType source, TNRDBaseFieldType dest) {
  const bool iso = source == bftChar || source == bftVarchar;
  TDateTime v;
  if (dest == bftDate) {
    if (iso && (TryParseISODateTime(text, v) || TryParseISODate(text, v))) return v;
    return StrToDate(text);
  }
  if (dest == bftTime) {
    if (iso && TryParseISOTime(text, v)) return v;
    return StrToTime(text);
  }
  if (iso && (TryParseISODateTime(text, v) || TryParseISODate(text, v))) return v;
  return StrToDateTime(text);
}

void FromText(Out& o, const std::uint8_t* p, std::int32_t size, TNRDBaseFieldType s, TNRDBaseFieldType d) {
  const bool wideSource = IsWideFamily(s);
  std::string ansi;
  std::u16string wide;
  if (wideSource) {
    wide = ReadWide(p, size);
    ansi = WideToAnsi(wide);
  } else {
    ansi = ReadAnsi(p, size, s);
  }
  if (IsTextFamily(d)) {
    if (IsWideFamily(d)) EmitWideText(o, wideSource ? wide : AnsiToWide(ansi));
    else EmitAnsiText(o, ansi);
    return;
  }
  if (d == bftBlob) {
    if (wideSource) EmitWideText(o, wide);
    else EmitAnsiText(o, ansi);
    return;
  }
  if (IsInt(d)) {
    std::int64_t v;
    const bool lob = s == bftClob || s == bftWideClob;
    if (d == bftSignedInt64 && !lob) v = StrToInt64(ansi);
    else v = StrToInt(ansi);
    EmitInt(o, d, v);
    return;
  }
  if (IsFloat(d)) {
    EmitFloat(o, d, StrToFloat(ansi, PointSettings()));
    return;
  }
  if (IsDate(d)) {
    TDateTime t = TextToDateTime(ansi, s, d);
    if (d == bftDate) EmitInt(o, d, DateTimeToNRDDate(t));
    else if (d == bftTime) EmitInt(o, d, DateTimeToNRDTime(t));
    else EmitDateTime(o, DateTimeToNRDDateTime(t));
    return;
  }
  if (d == bftLogical) {
    std::string up = ansi;
    for (char& c : up)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    EmitLogical(o, up == "1" || up == "TRUE");
    return;
  }
  if (d == bftCurrency) {
    EmitFloat(o, d, StrToCurr(ansi));
    return;
  }
  throw ERangeError("unexpected destination");
}

std::string DateText(std::int32_t d) {
  if (d == kNRDNoDate) return "";
  int y, m, day;
  TDateTime t = NRDDateToDateTime(d);
  if (!TryDecodeDate(t, y, m, day)) throw ERangeError("Invalid date value");
  return DateToStr(t);
}

void FromNumberOrDate(Out& o, const std::uint8_t* p, TNRDBaseFieldType s, TNRDBaseFieldType d) {
  // Integers and the two 32-bit date types: an integer view; floats: a float view.
  if (IsInt(s) || s == bftDate || s == bftTime) {
    const std::int64_t v = GetStoredInt(p, s);
    if (IsTextFamily(d)) {
      std::string text;
      if (s == bftDate) text = DateText(static_cast<std::int32_t>(v));
      else if (s == bftTime) text = v == 0 ? "" : TimeToStr(NRDTimeToDateTime(static_cast<std::int32_t>(v)));
      else text = IntToStr(v);
      EmitText(o, d, text);
    } else if (IsInt(d)) {
      EmitInt(o, d, v);
    } else if (IsFloat(d) || d == bftCurrency) {
      EmitFloat(o, d, static_cast<long double>(v));
    } else if (d == bftDate) {
      EmitInt(o, d, s == bftDate ? v : static_cast<std::int32_t>(static_cast<std::uint32_t>(v)));
    } else if (d == bftTime) {
      EmitInt(o, d, s == bftDate ? v % 86400000 : static_cast<std::int32_t>(static_cast<std::uint32_t>(v)));
    } else if (d == bftDateTime) {
      TNRDDateTime dt;
      if (s == bftTime) {
        dt.Date = kNRDNoDate;
        dt.Time = static_cast<std::int32_t>(v);
      } else {
        dt.Date = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
      }
      EmitDateTime(o, dt);
    } else if (d == bftLogical) {
      EmitLogical(o, s == bftDate ? v != kNRDNoDate : v != 0);
    }
    return;
  }
  if (IsFloat(s)) {
    const long double v = ReadFloat(p, s);
    if (IsTextFamily(d)) {
      EmitText(o, d, FloatToStr(v));
    } else if (IsInt(d)) {
      EmitInt(o, d, TruncToInt64(v));
    } else if (IsFloat(d) || d == bftCurrency) {
      EmitFloat(o, d, v);
    } else if (d == bftDate) {
      EmitInt(o, d, ToInt32Checked(std::trunc(v)));
    } else if (d == bftTime) {
      EmitInt(o, d, static_cast<std::int32_t>(TruncToInt64(v) % 86400000));
    } else if (d == bftDateTime) {
      TNRDDateTime dt;
      dt.Date = ToInt32Checked(std::trunc(v));
      dt.Time = static_cast<std::int32_t>(std::trunc((v - std::trunc(v)) * 86400000.0L));
      EmitDateTime(o, dt);
    } else if (d == bftLogical) {
      EmitLogical(o, v != 0);
    }
    return;
  }
  // DateTime
  const TNRDDateTime dt = TNRDDateTime::Decode(p);
  if (IsTextFamily(d)) {
    std::string text;
    if (!(dt.Date == kNRDNoDate && dt.Time == 0)) {
      int y, m, day;
      TDateTime t = NRDDateTimeToDateTime(dt);
      if (!TryDecodeDate(t, y, m, day)) throw ERangeError("Invalid date value");
      text = DateTimeToStr(t);
    }
    EmitText(o, d, text);
  } else if (IsInt(d)) {
    EmitInt(o, d, dt.Date);
  } else if (d == bftDate) {
    EmitInt(o, d, dt.Date);
  } else if (d == bftTime) {
    EmitInt(o, d, dt.Time);
  } else if (d == bftDateTime) {
    EmitDateTime(o, dt);
  } else if (IsFloat(d) || d == bftCurrency) {
    long double v = dt.Date == kNRDNoDate ? 0.0L : static_cast<long double>(dt.Date);
    if (dt.Time != 0) v += dt.Time / 86400000.0L;
    if (d == bftCurrency) {
      long double scaled = std::nearbyint(v * 10000.0L);
      if (std::fabs(scaled) > 9.2233720368547758e18L) throw EInvalidOp(kInvalidOpText);
      v = scaled / 10000.0L;
    }
    EmitFloat(o, d, v);
  } else if (d == bftLogical) {
    EmitLogical(o, !(dt.Date == kNRDNoDate && dt.Time == 0));
  }
}

void FromLogical(Out& o, const std::uint8_t* p, TNRDBaseFieldType d) {
  const bool v = GetLE16(p) != 0;
  if (IsTextFamily(d)) EmitText(o, d, v ? "True" : "False");
  else if (IsInt(d)) EmitInt(o, d, v ? 1 : 0);
  else if (IsFloat(d)) EmitFloat(o, d, v ? 1.0L : 0.0L);
  else EmitLogical(o, v);
}

void FromCurrency(Out& o, const std::uint8_t* p, TNRDBaseFieldType d) {
  const long double v = ReadFloat(p, bftCurrency);
  if (IsTextFamily(d)) {
    if (!std::isfinite(v) || std::fabs(v) > 922337203685477.5807L) throw EInvalidOp(kInvalidOpText);
    EmitText(o, d, CurrToStr(static_cast<double>(v)));
  } else if (IsInt(d)) {
    EmitInt(o, d, TruncToInt64(v));
  } else if (IsFloat(d) || d == bftCurrency) {
    EmitFloat(o, d, v);
  } else {
    EmitLogical(o, v != 0);
  }
}

}  // namespace

bool IsConvertiblePair(TNRDBaseFieldType s, TNRDBaseFieldType d) {
  auto targetOk = [](TNRDBaseFieldType t) {
    return t != bftUnknown && t != bftClob && t != bftWideClob && t != bftBytes && t != bftVarBytes &&
           t != bftBFile && static_cast<int>(t) < kBaseFieldTypeCount;
  };
  if (!targetOk(d) || static_cast<int>(s) >= kBaseFieldTypeCount) return false;
  const bool textLike = IsText(d);
  if (IsTextFamily(s)) return true;  // every remaining target, Blob included
  if (d == bftBlob) return false;
  if (IsNumber(s) || IsDate(s)) return true;
  if (s == bftLogical) return textLike || IsNumber(d) || d == bftLogical;
  if (s == bftCurrency) return textLike || IsNumber(d) || d == bftLogical || d == bftCurrency;
  return false;
}

void* ConvertValue(const void* source, std::int32_t sourceSize, TNRDBaseFieldType sourceType,
                   std::int32_t& destSize, TNRDBaseFieldType destType) {
  if (!IsConvertiblePair(sourceType, destType)) CastError(30052, sourceType, destType);
  Out out;
  try {
    if (source == nullptr) throw ERangeError("nil value");
    const auto* p = static_cast<const std::uint8_t*>(source);
    // Fixed-size sources must hold their full width when the size is known.
    if (!IsTextFamily(sourceType) && sourceSize >= 0 && sourceSize < GetDataTypeSize(sourceType, 0))
      throw ERangeError("value too short");
    if (IsTextFamily(sourceType)) FromText(out, p, sourceSize, sourceType, destType);
    else if (sourceType == bftLogical) FromLogical(out, p, destType);
    else if (sourceType == bftCurrency) FromCurrency(out, p, destType);
    else FromNumberOrDate(out, p, sourceType, destType);
  } catch (const std::exception&) {
    CastError(30051, sourceType, destType);
  }
  void* buffer;
  try {
    buffer = GlobalMemoryManager().GetMem(static_cast<std::int64_t>(out.bytes.size()));
  } catch (const std::exception&) {
    CastError(30051, sourceType, destType);
  }
  std::memcpy(buffer, out.bytes.data(), out.bytes.size());
  destSize = static_cast<std::int32_t>(out.bytes.size());
  return buffer;
}

void* ConvertValueData(const void* source, std::int32_t sourceSize, TNRDBaseFieldType sourceType,
                       TNRDBaseFieldType destType) {
  std::int32_t size;
  return ConvertValue(source, sourceSize, sourceType, size, destType);
}

}  // namespace nrd
