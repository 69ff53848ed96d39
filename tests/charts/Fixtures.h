// Small family trees built in code for the chart tests.
#pragma once

#include "app/core/Model.h"

#include <QString>

#include <initializer_list>
#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

struct TreeBuilder {
  Model m;

  std::int64_t Person(const QString& name, const QString& sex, const QString& birthYear = {},
                      const QString& deathYear = {}) {
    TINDI p;
    p.FIO1 = name;
    p.SURN1 = name.section(QLatin1Char(' '), 0, 0);
    p.FIRS1 = name.section(QLatin1Char(' '), 1, 1);
    p.SEX = sex;
    if (!birthYear.isEmpty()) {
      p.BIRT_DATE.NORM = QStringLiteral("01.01.") + birthYear;
      p.BIRT_DATE.YEARS = birthYear;
    }
    if (!deathYear.isEmpty()) {
      p.DEAT = QStringLiteral("+");
      p.DEAT_DATE.NORM = QStringLiteral("02.02.") + deathYear;
      p.DEAT_DATE.YEARS = deathYear;
    }
    m.aIndi.push_back(p);
    return std::int64_t(m.aIndi.size()) - 1;
  }

  std::int64_t Family(std::int64_t husb, std::int64_t wife, std::initializer_list<std::int64_t> children,
                      const QString& marr = QStringLiteral("x")) {
    TFAM f;
    f.HUSB = husb;
    f.WIFE = wife;
    f.MARR = marr;
    const std::int64_t fi = std::int64_t(m.aFam.size());
    for (std::int64_t c : children) {
      f.CHIL.push_back(c);
      m.aIndi[size_t(c)].FAMC = fi;
    }
    m.aFam.push_back(f);
    if (husb) m.aIndi[size_t(husb)].FAMS.push_back(fi);
    if (wife) m.aIndi[size_t(wife)].FAMS.push_back(fi);
    return fi;
  }
};

inline QString Id(std::int64_t i) { return QString::number(i); }
