// Small family trees for the tests of the marriage list, the calendar, the statistics and the exports:
// persons and families built in code, dates parsed against a fixed today.
#pragma once

#include "app/core/GDate.h"
#include "app/core/Model.h"
#include "tests/reports/ReportsTestApp.h"

#include <QGuiApplication>
#include <QDate>
#include <QString>
#include <QStringList>

#include <cstdlib>
#include <initializer_list>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace mtree {

using reportstest::EnsureApp;

inline const QDate kToday(2026, 12, 11);

struct Tree {
  Model m;
  TDateContext ctx = TDateContext::ForDate(kToday);

  // "Surname First Patronymic"; death: empty = living, "+" = dead with no date, else the death date.
  std::int64_t Person(const QString& name, const QString& sex, const QString& birth = {}, const QString& death = {}) {
    TINDI p;
    p.INDI = QStringLiteral("@I%1@").arg(m.aIndi.size());
    p.FIO1 = name;
    p.SURN1 = name.section(u' ', 0, 0);
    p.SURN0 = p.SURN1;
    p.FIRS1 = name.section(u' ', 1, 1);
    p.PATR1 = name.section(u' ', 2, 2);
    p.GIVN = name.section(u' ', 1);
    p.SEX = sex;
    p.BIRT_DATE = GDate_RDates(birth, ctx);
    p.DEAT_DATE = GDate_RDates(QString(), ctx);
    if (!death.isEmpty()) {
      p.DEAT = QStringLiteral("+");
      p.DEAT_DATE = GDate_RDates(death == u"+" ? QString() : death, ctx);
    }
    m.aIndi.push_back(p);
    return std::int64_t(m.aIndi.size()) - 1;
  }
  TINDI& P(std::int64_t i) { return m.aIndi[std::size_t(i)]; }
  TFAM& F(std::int64_t i) { return m.aFam[std::size_t(i)]; }

  // marr: the marriage date text; MARR is "x" unless noMarriage.
  std::int64_t Family(std::int64_t husb, std::int64_t wife, std::initializer_list<std::int64_t> children,
                      const QString& marr = {}, bool noMarriage = false) {
    TFAM f;
    f.FAM = QStringLiteral("@F%1@").arg(m.aFam.size());
    f.HUSB = husb;
    f.WIFE = wife;
    f.MARR_DATE = GDate_RDates(marr, ctx);
    if (!noMarriage) f.MARR = QStringLiteral("x");
    const std::int64_t fi = std::int64_t(m.aFam.size());
    for (std::int64_t c : children) {
      f.CHIL.push_back(c);
      m.aIndi[std::size_t(c)].FAMC = fi;
    }
    m.aFam.push_back(f);
    if (husb) m.aIndi[std::size_t(husb)].FAMS.push_back(fi);
    if (wife) m.aIndi[std::size_t(wife)].FAMS.push_back(fi);
    return fi;
  }
};

}  // namespace mtree
