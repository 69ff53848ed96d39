// Adding a family to a tree built in code: the family takes its children, the children and the spouses
// point back at it.
#pragma once

#include "app/core/Model.h"

#include <cstdint>
#include <initializer_list>
#include <utility>

namespace reportstest {

// f's husband and wife are set (0 for none); returns the new family's index.
inline std::int64_t AddFamily(Model& m, TFAM f, std::initializer_list<std::int64_t> children) {
  const std::int64_t fi = std::int64_t(m.aFam.size());
  for (std::int64_t c : children) {
    f.CHIL.push_back(c);
    m.aIndi[std::size_t(c)].FAMC = fi;
  }
  const std::int64_t husb = f.HUSB, wife = f.WIFE;
  m.aFam.push_back(std::move(f));
  if (husb) m.aIndi[std::size_t(husb)].FAMS.push_back(fi);
  if (wife) m.aIndi[std::size_t(wife)].FAMS.push_back(fi);
  return fi;
}

}  // namespace reportstest
