// Family trees for the kinship and person card tests.
#pragma once

#include "Fixtures.h"

// Four generations under one couple:
//   gg + ggw -> g1, gu (the grand-uncle)
//   g1 + g1w -> f, u (the uncle)
//   f + m    -> a, sis, bro
//   u + uw   -> cousin, cousinF
//   cousin + cw -> cc (the first cousin's child)
// and a's wife, whose parents wf (the father-in-law) and wm have no blood link to a.
struct Clan : TreeBuilder {
  std::int64_t gg, ggw, g1, g1w, gu, f, m_, u, uw, a, sis, bro, cousin, cousinF, cw, cc, wife, wf, wm;
  Clan() {
    gg = Person(QStringLiteral("Orlov Gleb"), QStringLiteral("M"), QStringLiteral("1800"), QStringLiteral("1870"));
    ggw = Person(QStringLiteral("Orlova Galina"), QStringLiteral("F"), QStringLiteral("1802"));
    g1 = Person(QStringLiteral("Orlov Ivan"), QStringLiteral("M"), QStringLiteral("1830"));
    g1w = Person(QStringLiteral("Orlova Irina"), QStringLiteral("F"), QStringLiteral("1832"));
    gu = Person(QStringLiteral("Orlov Yakov"), QStringLiteral("M"), QStringLiteral("1835"));
    f = Person(QStringLiteral("Orlov Fedor"), QStringLiteral("M"), QStringLiteral("1860"));
    m_ = Person(QStringLiteral("Orlova Maria"), QStringLiteral("F"), QStringLiteral("1862"));
    u = Person(QStringLiteral("Orlov Ustin"), QStringLiteral("M"), QStringLiteral("1864"));
    uw = Person(QStringLiteral("Orlova Ulyana"), QStringLiteral("F"), QStringLiteral("1866"));
    a = Person(QStringLiteral("Orlov Anton"), QStringLiteral("M"), QStringLiteral("1890"));
    sis = Person(QStringLiteral("Orlova Sofia"), QStringLiteral("F"), QStringLiteral("1892"));
    bro = Person(QStringLiteral("Orlov Boris"), QStringLiteral("M"), QStringLiteral("1894"));
    cousin = Person(QStringLiteral("Orlov Kirill"), QStringLiteral("M"), QStringLiteral("1891"));
    cousinF = Person(QStringLiteral("Orlova Klara"), QStringLiteral("F"), QStringLiteral("1893"));
    cw = Person(QStringLiteral("Orlova Vera"), QStringLiteral("F"), QStringLiteral("1895"));
    cc = Person(QStringLiteral("Orlov Semen"), QStringLiteral("M"), QStringLiteral("1920"));
    wife = Person(QStringLiteral("Orlova Zoya"), QStringLiteral("F"), QStringLiteral("1893"));
    wf = Person(QStringLiteral("Belov Zakhar"), QStringLiteral("M"), QStringLiteral("1860"));
    wm = Person(QStringLiteral("Belova Zina"), QStringLiteral("F"), QStringLiteral("1863"));
    Family(gg, ggw, {g1, gu});
    Family(g1, g1w, {f, u});
    Family(f, m_, {a, sis, bro});
    Family(u, uw, {cousin, cousinF});
    Family(cousin, cw, {cc});
    Family(wf, wm, {wife});
    Family(a, wife, {});
  }
};
