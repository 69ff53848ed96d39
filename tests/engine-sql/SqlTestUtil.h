// Helpers of the SQL tests: evaluate an expression text and show its value as one short text.
#pragma once

#include <string>

#include "engine/foundation/NRDConverts.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDRuntime.h"
#include "engine/sql/NRDExpressions.h"

namespace sqltest {

using namespace nrd;

// "NULL", "TRUE"/"FALSE", "i:5" (32-bit), "l:5" (64-bit), "d:2.5", "s:text", "w:text", "date:...",
// "time:...", "dt:...", "u16:7", "blob:bytes", other types by their SQL name.
inline std::string Show(const TNRDVariant& v) {
  if (v.IsNull()) return "NULL";
  const TFormatSettings inv = TFormatSettings::Invariant();
  switch (v.DataType()) {
    case bftLogical: return v.AsBoolean() ? "TRUE" : "FALSE";
    case bftSignedInt32: return "i:" + std::to_string(v.AsInteger());
    case bftSignedInt64: return "l:" + std::to_string(v.AsInt64());
    case bftUnsignedInt16: return "u16:" + std::to_string(v.AsWord());
    case bftDouble: return "d:" + FloatToStr(v.AsDouble(), inv);
    case bftChar:
    case bftVarchar: return "s:" + v.AsAnsiString();
    case bftWideChar:
    case bftWideVarchar: return "w:" + v.AsAnsiString();
    case bftDate: return "date:" + FormatDateTime("yyyy-mm-dd", v.AsTDate(), inv);
    case bftTime: return "time:" + FormatDateTime("hh:nn:ss", v.AsTTime(), inv);
    case bftDateTime: return "dt:" + FormatDateTime("yyyy-mm-dd hh:nn:ss", v.AsTDateTime(), inv);
    case bftBlob:
      return "blob:" + std::string(static_cast<const char*>(v.pData()), static_cast<std::size_t>(v.DataSize()));
    default: return BaseFieldTypeToSQLName(v.DataType()) + ":" + v.AsAnsiString();
  }
}

// Parses `text` as a condition (boolean) or a value expression and evaluates it once, or gives
// "E<code>" for an engine error.
inline std::string Eval(const std::string& text, bool boolean) {
  try {
    TNRDLexer lex(text, nullptr, false);
    if (!lex.GetNextCommand()) return "E-blank";
    sql::TNRDExpression e;
    if (boolean) e.ParseForBooleanExpression(&lex);
    else e.ParseForValueExpression(&lex);
    TNRDVariant* v = e.GetValue(true);
    return v == nullptr ? "<none>" : Show(*v);
  } catch (const ENRDException& x) {
    return "E" + std::to_string(x.NativeError);
  }
}

}  // namespace sqltest
