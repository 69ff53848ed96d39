// Field definitions of a data set: a list in field order with a case-insensitive lookup. Owns its
// items; FieldNo counts from 1 in list order.
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

// ----- definitions ------------------------------------------------------------------------------------------

class TFieldDef {
 public:
  std::string Name;
  TFieldType DataType = ftUnknown;
  std::int32_t Size = 0;
  bool Required = false;
  std::int32_t FieldNo = 0;  // from 1, in list order
};

class TFieldDefs {
 public:
  std::int32_t Count() const { return FItems.Count(); }
  TFieldDef& operator[](std::int32_t i) { return FItems.Item(i); }
  const TFieldDef& operator[](std::int32_t i) const { return FItems.Item(i); }
  TFieldDef& Add(const std::string& name, TFieldType dataType, std::int32_t size = 0, bool required = false);
  TFieldDef& AddFieldDef();
  void Clear() { FItems.Clear(); }
  void Delete(std::int32_t i);
  // Case-insensitive; -1 when none.
  std::int32_t IndexOf(std::string_view name) const { return FItems.IndexOf(name); }
  // Raises "Field '%s' not found".
  TFieldDef& Find(std::string_view name);
  void Assign(const TFieldDefs& source) { FItems.Assign(source.FItems); }

 private:
  TNRDNamedList<TFieldDef, &TFieldDef::Name> FItems;
};

// Splits "a;b, c" into field names (';' or ',' separate; blanks around names are dropped).
std::vector<std::string> SplitFieldNames(std::string_view fields);

}  // namespace nrd
