// The marriage list: the direct-line signs and the view filter (also past generation 9), the estimated
// marriage years, the known-marriage rule, one row per shared family, notes and children texts, cut
// fields, the colour rule shared with the workbook, and the list of the sample tree.
#include "app/reports/Marriages.h"

#include "app/charts/Ancestors.h"
#include "app/core/GedcomReader.h"
#include "app/core/PersonList.h"
#include "platform/qt/ClientDataSet.h"
#include "tests/reports/MarriagesTestTree.h"

#include <gtest/gtest.h>

#include <QSet>

#include <map>
#include <set>

namespace {

using mtree::Tree;

struct Built {
  platform::TClientDataSet cds;
  int total = 0;
  // Field values of every shown row, by field name.
  std::vector<std::map<QString, QString>> Rows() const {
    std::vector<std::map<QString, QString>> out;
    for (int pos = 0; pos < cds.RecordCount(); ++pos) {
      std::map<QString, QString> r;
      for (int f = 0; f < int(cds.FieldDefs().size()); ++f) r[cds.FieldDefs()[f].name] = cds.ValueAt(pos, f).toString();
      out.push_back(r);
    }
    return out;
  }
  QStringList Column(const char* field) const {
    QStringList out;
    for (const auto& r : Rows()) out << r.at(QString::fromUtf8(field));
    return out;
  }
};

void Build(Built& b, const Model& m, std::int64_t person, TMarriageOptions o = {}) {
  mtree::EnsureApp();
  if (o.CurrentYear == 0) o.CurrentYear = 2026;
  TAncestorList list;
  FillTree(m, list, QString::number(person), 1);
  b.total = MarriageGedcom(m, list.aPers, o, b.cds);
}

// Root R with wife; his father F with mother M; F's second wife W2; M's second husband H2; F's parents.
struct Family3 : Tree {
  std::int64_t R, Rw, F, M, W2, H2, GF, GM, RwF;
  Family3() {
    GF = Person(QStringLiteral("Ветров Илья Петрович"), QStringLiteral("M"), QStringLiteral("1890"));
    GM = Person(QStringLiteral("Ветрова Анна Ивановна"), QStringLiteral("F"), QStringLiteral("1893"));
    F = Person(QStringLiteral("Ветров Тимофей Ильич"), QStringLiteral("M"), QStringLiteral("12 MAR 1920"));
    M = Person(QStringLiteral("Северцева Ирина Павловна"), QStringLiteral("F"), QStringLiteral("1925"));
    R = Person(QStringLiteral("Ветров Андрей Тимофеевич"), QStringLiteral("M"), QStringLiteral("1950"));
    Rw = Person(QStringLiteral("Белова Наталья Сергеевна"), QStringLiteral("F"), QStringLiteral("1952"));
    W2 = Person(QStringLiteral("Кузнецова Мария Ивановна"), QStringLiteral("F"), QStringLiteral("1930"));
    H2 = Person(QStringLiteral("Орлов Степан Ильич"), QStringLiteral("M"), QStringLiteral("1921"));
    RwF = Person(QStringLiteral("Белов Сергей Петрович"), QStringLiteral("M"), QStringLiteral("1925"));
    Family(RwF, 0, {Rw});
    Family(GF, GM, {F}, QStringLiteral("1915"));
    Family(F, M, {R}, QStringLiteral("26 NOV 1947"));
    Family(R, Rw, {}, QStringLiteral("19 SEP 1980"));
    Family(F, W2, {}, QStringLiteral("1960"));
    Family(H2, M, {}, QStringLiteral("1965"));
  }
};

TEST(Marriages, DirectLineSignsAndTheViewFilter) {
  Family3 t;
  Built b;
  Build(b, t.m, t.R);
  ASSERT_EQ(b.total, 5);
  // Ordered by generation and path; the second families of the father and the mother carry their signs.
  EXPECT_EQ(b.Column("Main"), (QStringList{"1*", "2*", "2.", "2 .", "3*"}));
  EXPECT_EQ(b.Column("F_Im"), (QStringList{"Наталья", "Ирина", "Мария", "Ирина", "Анна"}));

  struct Case {
    bool men, women, known;
    QStringList main;
  } cases[] = {
      {false, true, true, {"1*", "2*", "2 .", "3*"}},
      {true, false, true, {"1*", "2*", "2.", "3*"}},
      {false, false, true, {"1*", "2*", "3*"}},
      {true, true, false, {"2.", "2 .", "3*"}},  // Ok "+" rows hidden: a known date or bride's father
  };
  for (const Case& c : cases) {
    TMarriageOptions o;
    o.OtherMen = c.men;
    o.OtherWomen = c.women;
    o.Known = c.known;
    o.KnownRule = 2;
    Built f;
    Build(f, t.m, t.R, o);
    EXPECT_EQ(f.Column("Main"), c.main) << c.men << c.women << c.known;
    EXPECT_EQ(f.total, 5);
    EXPECT_TRUE(f.cds.Filtered());
  }
  EXPECT_FALSE(b.cds.Filtered());
}

// The filter decides by the sign alone: generations of two digits are hidden like the others.
TEST(Marriages, FilterBySignAlsoPastGenerationNine) {
  TMarriageOptions none;
  none.OtherMen = none.OtherWomen = none.Known = false;
  struct Case {
    const char* main;
    const char* ok;
    bool shown;
  } cases[] = {{"2.", "-", false},  {"12.", "-", false}, {"2 .", "-", false}, {"10 .", "-", false},
               {"10*", "-", true},  {"1*", "-", true},   {"1*", "+", false}};
  for (const Case& c : cases)
    EXPECT_EQ(MarriageRowShown(QString::fromUtf8(c.main), QString::fromUtf8(c.ok), none), c.shown) << c.main;
  TMarriageOptions all;
  for (const Case& c : cases) EXPECT_TRUE(MarriageRowShown(QString::fromUtf8(c.main), QString::fromUtf8(c.ok), all));
}

TEST(Marriages, EstimatedMarriageYears) {
  struct Case {
    const char* name;
    const char* husband;  // birth
    const char* wife;
    const char* child;    // empty: none
    const char* husbandDeath;
    const char* expected;
  } cases[] = {
      {"both births and a child", "1850", "1855", "1876", "", "1871-1876"},
      {"exact dates", "12 MAR 1850", "1 JAN 1855", "5 MAY 1876", "", "1871-1876"},
      {"no births known", "", "", "", "", "1976-2026"},
      {"only the wife's birth", "", "1900", "", "", "1916-2026"},
      {"the husband died", "1850", "", "", "1890", "1868-1890"},
      {"a child before the lower year", "1880", "", "1890", "", "1898-1890"},
      {"a range of child years takes its upper end", "1850", "", "BET 1874 AND 1877", "", "1868-1877"},
  };
  for (const Case& c : cases) {
    Tree t;
    const auto h = t.Person(QStringLiteral("А Б"), QStringLiteral("M"), QString::fromUtf8(c.husband),
                            QString::fromUtf8(c.husbandDeath));
    const auto w = t.Person(QStringLiteral("В Г"), QStringLiteral("F"), QString::fromUtf8(c.wife));
    std::int64_t f;
    if (*c.child) {
      const auto k = t.Person(QStringLiteral("Д Е"), QStringLiteral("M"), QString::fromUtf8(c.child));
      f = t.Family(h, w, {k});
    } else {
      f = t.Family(h, w, {});
    }
    EXPECT_EQ(MarriageYears(t.m, f, 2026), QString::fromUtf8(c.expected)) << c.name;
  }
}

TEST(Marriages, KnownMarriageRule) {
  struct Case {
    const char* dm;
    const char* father;
    const char* ok[4];  // rule 0..3
  } cases[] = {
      {"19.09.1980", "Петров Иван", {"+", "+", "+", "+"}},
      {"19.09.1980", "", {"+", "-", "+", "-"}},
      {"~1980", "Петров Иван", {"-", "+", "+", "-"}},
      {"?", "", {"-", "-", "-", "-"}},
  };
  for (const Case& c : cases)
    for (int rule = 0; rule < 4; ++rule)
      EXPECT_EQ(MarriageOk(QString::fromUtf8(c.dm), QString::fromUtf8(c.father), rule), QString::fromUtf8(c.ok[rule]))
          << c.dm << " " << rule;

  // A radio-group change sets Ok anew on every row, the hidden ones too.
  Family3 t;
  Built b;
  Build(b, t.m, t.R);
  EXPECT_EQ(b.Column("Ok"), (QStringList{"+", "-", "-", "-", "-"}));  // rule 3: only the root's has both
  RecomputeMarriageOk(b.cds, 0);
  EXPECT_EQ(b.Column("Ok"), (QStringList{"+", "+", "-", "-", "-"}));
}

TEST(Marriages, RowTextsAndTheBridesFather) {
  Tree t;
  const auto gf = t.Person(QStringLiteral("Северцев Павел Петрович"), QStringLiteral("M"), QStringLiteral("1895"));
  const auto w = t.Person(QStringLiteral("Северцева Ирина Павловна"), QStringLiteral("F"), QStringLiteral("13 AUG 1927"));
  t.P(w).SURN1 = QStringLiteral("Ветрова");
  t.P(w).BIRT_PLAC = QStringLiteral("Серпухов Московской губернии");  // 28 characters
  const auto h = t.Person(QStringLiteral("Ветров Тимофей Ильич"), QStringLiteral("M"), QStringLiteral("28 APR 1922"), QStringLiteral("FEB 1984"));
  const auto c1 = t.Person(QStringLiteral("Ветров Никита"), QStringLiteral("M"), QStringLiteral("16 MAR 1948"));
  const auto c2 = t.Person(QStringLiteral("Ветрова Софья"), QStringLiteral("F"));
  t.Family(gf, 0, {w});
  const auto f = t.Family(h, w, {c1, c2}, QStringLiteral("26 NOV 1947"));
  t.F(f).MARR_NOTE = QStringLiteral("Венчались в церкви.\r\nСвидетели: двое.");
  Built b;
  Build(b, t.m, c1);
  ASSERT_EQ(b.total, 2);  // and the family of the wife's father, with no wife
  EXPECT_EQ(b.Rows()[1].at("F_Im"), "");
  const auto r = b.Rows().front();
  EXPECT_EQ(r.at("Main"), "2*");  // the list is of the child's ancestors
  EXPECT_EQ(r.at("M_Fam"), "Ветров");
  EXPECT_EQ(r.at("M_DS"), "??.02.1984");
  EXPECT_EQ(r.at("F_Fam"), "Северцева");  // the birth surname ("Девичья" on)
  EXPECT_EQ(r.at("F_Place"), "Серпухов Московской ");
  EXPECT_EQ(r.at("R_DR"), "Никита 16.03.1948, \r\nСофья ?");
  EXPECT_EQ(r.at("Prim_Marr"), "Венчались в церкви., \r\nСвидетели: двое.");
  EXPECT_EQ(r.at("F_fio_O"), "Северцев Павел Петрович");
  EXPECT_EQ(r.at("DM"), "26.11.1947");
  EXPECT_EQ(r.at("DM_CALC"), "1943-1948");
  EXPECT_EQ(r.at("Ok"), "+");
  EXPECT_EQ(r.at("e_id"), "0200");

  TMarriageOptions o;
  o.MaidenName = false;
  Built b2;
  Build(b2, t.m, c1, o);
  EXPECT_EQ(b2.Column("F_Fam").front(), "Ветрова");
  // A husband without a surname takes the wife's current one when her shown surname differs from it.
  t.P(h).SURN1.clear();
  Built b3;
  Build(b3, t.m, c1);
  EXPECT_EQ(b3.Column("M_Fam").front(), "Ветрова");
}

TEST(Marriages, SharedFamilyOnceAndGenerationLimit) {
  Family3 t;
  // The root's parents share their family: one row, listed under the father (first in the list), as is
  // the father's second family; the mother's second family comes under her.
  Built b;
  Build(b, t.m, t.R);
  EXPECT_EQ(b.Column("e_id"), (QStringList{"010", "0200", "0200", "0201", "03000"}));
  const QStringList fams = b.Column("iFam");
  EXPECT_EQ(QSet<QString>(fams.begin(), fams.end()).size(), 5);
  TMarriageOptions o;
  o.LimitGenerations = true;
  o.Generations = 2;
  Built lim;
  Build(lim, t.m, t.R, o);
  EXPECT_EQ(lim.Column("Main"), (QStringList{"1*", "2*", "2.", "2 ."}));
  // An empty list changes nothing.
  platform::TClientDataSet cds;
  EXPECT_EQ(MarriageGedcom(t.m, {}, o, cds), -1);
  EXPECT_FALSE(cds.Active());
}

TEST(Marriages, CellStyleRuleAndCutTexts) {
  struct Case {
    const char* ok;
    const char* main;
    bool calcColumn;
    const char* calc;
    int style;
  } cases[] = {{"+", "1*", false, "1871-1876", 2}, {"-", "2*", false, "1871-1876", 3}, {"+", "2.", false, "", 4},
               {"+", "2 .", false, "", 4},          {"-", "2.", false, "", 0},          {"-", "2.", true, "1880-1875", 5},
               {"+", "1*", true, "1871-1876", 2},   {"+", "1*", true, "1876-1876", 2}};
  for (const Case& c : cases)
    EXPECT_EQ(MarriageCellStyle(QString::fromUtf8(c.ok), QString::fromUtf8(c.main), c.calcColumn, QString::fromUtf8(c.calc)),
              c.style)
        << c.ok << c.main << c.calc;
  const QString clef = QString::fromUtf16(u"abcdefghijklmnopqrs\U0001D11E");  // the pair at units 20-21
  EXPECT_EQ(CutField(clef, 20), QStringLiteral("abcdefghijklmnopqrs"));
  EXPECT_EQ(CutField(clef, 21), clef);
  EXPECT_EQ(CutField(QStringLiteral("short"), 20), QStringLiteral("short"));
  EXPECT_EQ(WrapHint(QStringLiteral("one two three-four five"), 9), QStringLiteral("one two\nthree-\nfour five"));
}

TEST(Marriages, SampleTree) {
  mtree::EnsureApp();
  // Loaded as the program does: every family of the sample root's ancestors, once each.
  Model m;
  Ged_Indi(m, QStringLiteral(TREVOLAN_SOURCE_DIR "/samples/sample-utf8.ged"));
  PreparePersonsAfterLoad(m);
  ASSERT_GT(m.PersonCount(), 20);
  std::int64_t deepest = 1;
  std::size_t most = 0;
  for (std::int64_t i = 1; i <= m.PersonCount(); ++i) {
    TAncestorList l;
    FillTree(m, l, QString::number(i), 1);
    if (l.aPers.size() > most) {
      most = l.aPers.size();
      deepest = i;
    }
  }
  Built b;
  Build(b, m, deepest);
  ASSERT_GT(b.total, 5);
  std::set<QString> families;
  for (const auto& r : b.Rows()) {
    EXPECT_TRUE(families.insert(r.at("iFam")).second) << r.at("iFam").toStdString();
    EXPECT_EQ(r.at("DM_CALC").size(), 9) << r.at("DM_CALC").toStdString();
    EXPECT_TRUE(r.at("Ok") == u"+" || r.at("Ok") == u"-");
  }
  EXPECT_EQ(b.Rows().front().at("Main"), "1*");
}

}  // namespace

