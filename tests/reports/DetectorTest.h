// Small family trees for the problem detector tests, built in code with dates parsed against a fixed today,
// and a run that returns the report command's lines.
#pragma once

#include "app/core/GDate.h"
#include "app/core/Model.h"
#include "tests/reports/FamilyLinks.h"
#include "app/reports/Detector.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* os) {
  *os << "[\n";
  for (const QString& s : l) *os << "  " << s.toStdString() << "\n";
  *os << "]";
}

inline const QDate kDetectorToday(2026, 12, 11);

struct DetTree {
  Model m;
  TDateContext ctx = TDateContext::ForDate(kDetectorToday);

  // death: empty = living; "+" = dead, date unknown; else the death date text.
  std::int64_t Person(const QString& name, const QString& sex, const QString& birth = {},
                      const QString& death = {}) {
    TINDI p;
    p.INDI = QStringLiteral("@I%1@").arg(m.aIndi.size());
    p.FIO1 = name;
    p.SURN = name.section(u' ', 0, 0);
    p.SURN0 = p.SURN;
    p.SURN1 = p.SURN;
    p.SEX = sex;
    p.BIRT_DATE = GDate_RDates(birth, ctx);
    if (!death.isEmpty()) {
      p.DEAT = QStringLiteral("+");
      p.DEAT_DATE = GDate_RDates(death == u"+" ? QString() : death, ctx);
    }
    m.aIndi.push_back(p);
    return std::int64_t(m.aIndi.size()) - 1;
  }

  TINDI& P(std::int64_t i) { return m.aIndi[std::size_t(i)]; }

  // marr: the marriage date text; MARR is "x" unless noMarriage.
  std::int64_t Family(std::int64_t husb, std::int64_t wife, std::initializer_list<std::int64_t> children,
                      const QString& marr = {}, bool noMarriage = false) {
    TFAM f;
    f.FAM = QStringLiteral("@F%1@").arg(m.aFam.size());
    f.HUSB = husb;
    f.WIFE = wife;
    if (!noMarriage) {
      f.MARR = QStringLiteral("x");
      f.MARR_DATE = GDate_RDates(marr, ctx);
    }
    return reportstest::AddFamily(m, f, children);
  }

  void Event(std::int64_t person, const QString& even, const QString& type, const QString& date) {
    TEVEN e;
    e.EVEN = even;
    e.TYP_ = type;
    if (!date.isEmpty()) e.DATE = GDate_RDates(date, ctx);
    P(person).EVEN.push_back(e);
  }
};

// Every check off, then the given ones on.
inline TDetectorOptions OnlyChecks(std::initializer_list<int> checks, bool possible = false) {
  TDetectorOptions o;
  o.Check.fill(false);
  for (int n : checks) o.Check[std::size_t(n)] = true;
  o.CheckBox7 = possible;
  return o;
}

inline QStringList DetectorRun(Model& m, const TDetectorOptions& o, const TCheckCatalogue& cat = ReadCheckCatalogue()) {
  TDetectorList list;
  DetectorGedcom(m, o, cat, kDetectorToday, list);
  QStringList lines;
  for (const TDetectorFinding& f : list.findings) lines << DetectorLine(m, f);
  return lines;
}
