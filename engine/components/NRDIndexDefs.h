// Index definitions of a data set: a list with a case-insensitive lookup by name and a search by
// field list. Owns its items.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/foundation/NRDNamedList.h"

namespace nrd {

// ----- index definitions ----------------------------------------------------------------------------------------

enum TIndexOption : std::uint8_t { ixPrimary = 1, ixUnique = 2, ixDescending = 4, ixCaseInsensitive = 8 };
using TIndexOptions = std::uint8_t;

class TIndexDef {
 public:
  std::string Name;
  std::string Fields;  // ';'-separated
  std::string DescFields;
  std::string CaseInsFields;
  TIndexOptions Options = 0;
};

class TIndexDefs {
 public:
  std::int32_t Count() const { return FItems.Count(); }
  TIndexDef& operator[](std::int32_t i) { return FItems.Item(i); }
  const TIndexDef& operator[](std::int32_t i) const { return FItems.Item(i); }
  TIndexDef& Add(const std::string& name, const std::string& fields, TIndexOptions options);
  TIndexDef& AddIndexDef() { return FItems.AddNew(); }
  void Clear() { FItems.Clear(); }
  // Case-insensitive; -1 when none.
  std::int32_t IndexOf(std::string_view name) const { return FItems.IndexOf(name); }
  // Raises "Index '%s' not found".
  TIndexDef& Find(std::string_view name);
  // The first index whose field list equals `fields` (case-insensitive), else the first whose
  // list starts with them; null when none.
  TIndexDef* FindIndexForFields(std::string_view fields);
  // As FindIndexForFields, but none raises "Index for fields '%s' not found".
  TIndexDef& GetIndexForFields(std::string_view fields);
  void Assign(const TIndexDefs& source) { FItems.Assign(source.FItems); }

 private:
  TNRDNamedList<TIndexDef, &TIndexDef::Name> FItems;
};

}  // namespace nrd
