// Small family trees built in memory for the fan chart tests.
#pragma once

#include "app/core/Model.h"

#include <QString>

#include <cstdint>
#include <vector>

class FanTree {
 public:
  Model m;

  std::int64_t Person(const QString& surname, const QString& first, const QString& sex,
                      const QString& birthYear = QString(), const QString& deathYear = QString()) {
    TINDI p;
    p.SURN1 = surname;
    p.FIRS1 = first;
    p.PATR1 = sex == QLatin1String("F") ? QStringLiteral("Ивановна") : QStringLiteral("Иванович");
    p.SEX = sex;
    p.FIO1 = surname + QLatin1Char(' ') + first + QLatin1Char(' ') + p.PATR1;
    p.BIRT_DATE.YEARS = birthYear;
    p.BIRT_DATE.NORM = birthYear.isEmpty() ? QString() : QStringLiteral("01.01.") + birthYear;
    if (!deathYear.isEmpty()) {
      p.DEAT = QStringLiteral("+");
      p.DEAT_DATE.YEARS = deathYear;
      p.DEAT_DATE.NORM = QStringLiteral("01.01.") + deathYear;
    }
    m.aIndi.push_back(p);
    return std::int64_t(m.aIndi.size()) - 1;
  }

  std::int64_t Family(std::int64_t husb, std::int64_t wife, const std::vector<std::int64_t>& children) {
    TFAM f;
    f.HUSB = husb;
    f.WIFE = wife;
    f.CHIL = children;
    f.MARR = QStringLiteral("x");
    m.aFam.push_back(f);
    const std::int64_t id = std::int64_t(m.aFam.size()) - 1;
    if (husb > 0) m.aIndi[size_t(husb)].FAMS.push_back(id);
    if (wife > 0) m.aIndi[size_t(wife)].FAMS.push_back(id);
    for (std::int64_t c : children) m.aIndi[size_t(c)].FAMC = id;
    return id;
  }

  // Gives `parent` a family of `count` children of the surname and sex; returns them in order.
  std::vector<std::int64_t> Children(std::int64_t parent, int count, const QString& first, const QString& sex) {
    std::vector<std::int64_t> kids;
    for (int i = 0; i < count; ++i) kids.push_back(Person(QStringLiteral("Сидоров"), first, sex));
    Family(parent, 0, kids);
    return kids;
  }

  // Gives `child` both parents and, up to `depth` further generations, theirs (a full pedigree).
  void Pedigree(std::int64_t child, int depth) {
    if (depth <= 0) return;
    const std::int64_t father = Person(QStringLiteral("Петров"), QStringLiteral("Пётр"), QStringLiteral("M"),
                                       QStringLiteral("1900"), QStringLiteral("1970"));
    const std::int64_t mother = Person(QStringLiteral("Петрова"), QStringLiteral("Анна"), QStringLiteral("F"),
                                       QStringLiteral("1902"));
    Family(father, mother, {child});
    Pedigree(father, depth - 1);
    Pedigree(mother, depth - 1);
  }
};
