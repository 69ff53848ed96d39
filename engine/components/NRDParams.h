// Parameters of a statement: a list of named values, and the reading of ":name" references in
// SQL text. Owns its items; names are case-insensitive and may repeat.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/foundation/NRDNamedList.h"
#include "engine/foundation/NRDTypes.h"
#include "engine/components/NRDValues.h"

namespace nrd {

// ----- parameters -------------------------------------------------------------------------------------------

enum TParamType : std::uint8_t { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

class TParam {
 public:
  std::string Name;
  TFieldType DataType = ftUnknown;
  TParamType ParamType = ptInput;
  TVariantValue Value = NullValue();
  bool IsNull() const { return IsNullValue(Value); }
  void Clear() { Value = NullValue(); }
};

class TParams {
 public:
  std::int32_t Count() const { return FItems.Count(); }
  TParam& operator[](std::int32_t i) { return FItems.Item(i); }
  const TParam& operator[](std::int32_t i) const { return FItems.Item(i); }
  TParam& CreateParam(TFieldType dataType, const std::string& name, TParamType paramType);
  void Clear() { FItems.Clear(); }
  // The first parameter of that name (case-insensitive), or null.
  TParam* FindParam(std::string_view name) { return FItems.Find(name); }
  // Raises "Parameter '%s' not found".
  TParam& ParamByName(std::string_view name);
  // Values of parameters of the same name are carried over from `source`.
  void AssignValues(const TParams& source);
  // Reads ":name" references outside quotes ('...', "..." and `...`) and, with doCreate, adds one
  // parameter per reference in text order (a name used twice gives two parameters). "::" stands
  // for one ":" and makes no parameter. A name is letters, digits, '_' and '$', or any text in
  // double quotes right after the colon (":\"my name\""). Returns the text with each reference
  // replaced by "?" and "::" by ":".
  std::string ParseSQL(std::string_view sql, bool doCreate);

 private:
  TNRDNamedList<TParam, &TParam::Name> FItems;
};

}  // namespace nrd
