// A tiny family-tree builder for the person-list, relatives and main-person tests.
#pragma once

#include "app/core/Model.h"

struct TreeBuilder {
  Model m;
  // Adds a person and returns its index.
  std::int64_t Person(const QString& name, const QString& sex = QStringLiteral("M")) {
    TINDI p;
    p.FIO1 = name;
    p.SEX = sex;
    p.iPr = -1;
    p.iPot = -1;
    m.aIndi.push_back(p);
    return static_cast<std::int64_t>(m.aIndi.size()) - 1;
  }
  // Adds a family of husband and wife (0 = none) with children; links FAMS and FAMC.
  std::int64_t Family(std::int64_t husb, std::int64_t wife, std::vector<std::int64_t> children) {
    TFAM f;
    f.HUSB = husb;
    f.WIFE = wife;
    f.CHIL = children;
    m.aFam.push_back(f);
    const auto fi = static_cast<std::int64_t>(m.aFam.size()) - 1;
    if (husb) m.aIndi[husb].FAMS.push_back(fi);
    if (wife) m.aIndi[wife].FAMS.push_back(fi);
    for (std::int64_t c : children) m.aIndi[c].FAMC = fi;
    return fi;
  }
};
