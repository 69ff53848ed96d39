// Surname chains: the lines of the current person and of each woman of the ancestor list, their
// surname variants, life parts and places, counts and averages, the skip options, looped data, the
// generation numbers, the written colours and the lines of the sample tree.
#include "app/reports/SurnameChains.h"
#include "tests/reports/ReportsTestApp.h"

#include "app/core/GedcomReader.h"
#include "app/core/PersonList.h"

#include <QGuiApplication>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using reportstest::EnsureApp;

struct Kin {
  Model m;
  std::int64_t Person(const QString& sex, const QString& surname, const QString& first, const QString& years = {},
                      const QString& place = {}) {
    TINDI p;
    p.SEX = sex;
    p.SURN1 = surname;
    p.FIRS1 = first;
    p.FIO1 = surname + u' ' + first;
    p.BIRT_PLAC = place;
    if (!years.isEmpty()) {
      const QString b = years.section(u'-', 0, 0), d = years.section(u'-', 1, 1);
      p.BIRT_DATE.NORM = QStringLiteral("01.01.") + b;
      p.BIRT_DATE.YEARS = b;
      if (!d.isEmpty()) {
        p.DEAT_DATE.NORM = QStringLiteral("02.02.") + d;
        p.DEAT_DATE.YEARS = d;
      }
    }
    m.aIndi.push_back(p);
    return std::int64_t(m.aIndi.size()) - 1;
  }
  std::int64_t Woman(const QString& surname, const QString& birthSurname, const QString& first,
                     const QString& years = {}) {
    const auto i = Person(QStringLiteral("F"), surname, first, years);
    m.aIndi[std::size_t(i)].SURN0 = birthSurname;
    return i;
  }
  void Parents(std::int64_t child, std::int64_t father, std::int64_t mother) {
    TFAM f;
    f.HUSB = father;
    f.WIFE = mother;
    f.CHIL.push_back(child);
    const std::int64_t fi = std::int64_t(m.aFam.size());
    m.aFam.push_back(f);
    m.aIndi[std::size_t(child)].FAMC = fi;
  }
  std::vector<TPers> Ancestors(std::int64_t of) {
    TAncestorList list;
    FillTree(m, list, QString::number(of), 1);
    return list.aPers;
  }
  QString Text(std::int64_t of, const TSurnameChainOptions& o) {
    EnsureApp();
    QTextDocument doc;
    ListFamily(m, Ancestors(of), o, &doc);
    return doc.toPlainText();
  }
};

TSurnameChainOptions NoPlaces() {
  TSurnameChainOptions o;
  o.BirthPlace = false;
  return o;
}

// Neither places nor years: names alone (persons built without years would show " ()").
TSurnameChainOptions Bare() {
  TSurnameChainOptions o = NoPlaces();
  o.Years = false;
  return o;
}

TEST(SurnameChains, ThreeGenerationsOfMen) {
  Kin k;
  const auto g = k.Person("M", "Соколов", "Николай", "1840-1910");
  const auto f = k.Person("M", "Соколов", "Пётр", "1870-1940");
  const auto s = k.Person("M", "Соколов", "Иван", "1900-1970");
  k.Parents(s, f, 0);
  k.Parents(f, g, 0);
  EXPECT_EQ(k.Text(s, NoPlaces()),
            QStringLiteral("Соколов Иван (1900-1970), Пётр (1870-1940), Николай (1840-1910) (3/30; 1900-1840)"));
}

TEST(SurnameChains, EveryWomanOpensALineHeadedByHerBirthSurname) {
  Kin k;
  const auto mf = k.Person("M", "Ильин", "Фёдор", "1850-1920");
  const auto mother = k.Woman("Орлова", "Ильина", "Мария", "1875-1950");
  const auto grandma = k.Woman("Ильина", "", "Вера", "1852");  // no birth surname, no father
  const auto father = k.Person("M", "Орлов", "Пётр", "1870-1940");
  const auto son = k.Person("M", "Орлов", "Иван", "1900-1970");
  k.Parents(son, father, mother);
  k.Parents(mother, mf, grandma);
  TSurnameChainOptions o = NoPlaces();
  EXPECT_EQ(k.Text(son, o), QStringLiteral("Орлов Иван (1900-1970), Пётр (1870-1940) (2/30; 1900-1870)\n"
                                           "Ильина Мария (Орлова) (1875-1950), Фёдор (1850-1920) (2/25; 1875-1850)"));
  // The grandmother's line: one person and no surname; shown when neither skip option is on.
  o.SkipShort = false;
  o.SkipUnknownSurname = false;
  const auto lines = SurnameChains(k.m, k.Ancestors(son), o);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2].Head, QStringLiteral("Вера (Ильина) (1852)"));
  EXPECT_EQ(lines[2].Count, 1);
  EXPECT_FALSE(lines[2].Skipped);
  o.SkipUnknownSurname = true;
  EXPECT_TRUE(SurnameChains(k.m, k.Ancestors(son), o)[2].Skipped);
  o.SkipUnknownSurname = false;
  o.SkipShort = true;
  EXPECT_TRUE(SurnameChains(k.m, k.Ancestors(son), o)[2].Skipped);
  // Only surnames.
  o = NoPlaces();
  o.WholeChain = false;
  o.Averages = false;
  EXPECT_EQ(k.Text(son, o), QStringLiteral("Орлов \nИльина "));
}

TEST(SurnameChains, SurnameVariants) {
  Kin k;
  const auto g = k.Person("M", "Соколов (Сокол)/Соколовский, Иванов", "Николай");
  const auto f = k.Person("M", "Иван", "Пётр");
  const auto s = k.Person("M", "Соколов", "Иван");
  k.Parents(s, f, 0);
  k.Parents(f, g, 0);
  TSurnameChainOptions o = NoPlaces();
  auto lines = SurnameChains(k.m, k.Ancestors(s), o);
  ASSERT_EQ(lines.size(), 1u);
  // The father's surname first, then the grandfather's parts; "Соколов" is listed already and "Сокол" is
  // a part of it.
  EXPECT_EQ(lines[0].Surnames, QStringLiteral("Соколов, Иван, Соколовский, Иванов"));
  o.AllVariants = false;
  lines = SurnameChains(k.m, k.Ancestors(s), o);
  EXPECT_EQ(lines[0].Surnames, QStringLiteral("Соколов"));
}

TEST(SurnameChains, SubstringOfAListedSurnameIsNotAddedAgain) {
  Kin k;
  const auto f = k.Person("M", "Иван", "Пётр");
  const auto s = k.Person("M", "Иванов", "Иван");
  k.Parents(s, f, 0);
  EXPECT_EQ(SurnameChains(k.m, k.Ancestors(s), NoPlaces())[0].Surnames, QStringLiteral("Иванов"));
}

TEST(SurnameChains, LifePartsAndPlaces) {
  struct Case {
    const char* what;
    bool years, dates, place;
    const char* expected;
  };
  const Case cases[] = {
      {"years", true, false, false, "Орлов Иван (1900-1970), Пётр (1870-1940) (2/30; 1900-1870)"},
      {"dates win over years", true, true, false,
       "Орлов Иван (01.01.1900-02.02.1970), Пётр (01.01.1870-02.02.1940) (2/30; 1900-1870)"},
      {"years and places", true, false, true,
       "Орлов Иван (Тула 1900-1970), Пётр (Кострома, уезд 1870-1940) (2/30; 1900-1870) (Тула ; Кострома, уезд )"},
      {"places alone", false, false, true,
       "Орлов Иван (Тула), Пётр (Кострома, уезд) (2/30; 1900-1870) (Тула ; Кострома, уезд )"},
      {"neither", false, false, false, "Орлов Иван, Пётр (2/30; 1900-1870)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Kin k;
    const auto f = k.Person("M", "Орлов", "Пётр", "1870-1940", QStringLiteral("Кострома, уезд"));
    const auto s = k.Person("M", "Орлов", "Иван", "1900-1970", QStringLiteral("Тула"));
    k.Parents(s, f, 0);
    TSurnameChainOptions o;
    o.Years = c.years;
    o.Dates = c.dates;
    o.BirthPlace = c.place;
    EXPECT_EQ(k.Text(s, o), QString::fromUtf8(c.expected));
  }
}

TEST(SurnameChains, PlacesListedOnceAndPatronymics) {
  Kin k;
  const auto g = k.Person("M", "Орлов", "Ефим", "1840", QStringLiteral("Тула"));
  const auto f = k.Person("M", "Орлов", "Пётр", "1870", QStringLiteral("Тула"));
  const auto s = k.Person("M", "Орлов", "Иван", "1900", QStringLiteral("Тула"));
  k.m.aIndi[std::size_t(f)].PATR1 = QStringLiteral("Ефимович");
  k.m.aIndi[std::size_t(s)].PATR1 = QStringLiteral("Петрович");  // the first person shows none
  k.Parents(s, f, 0);
  k.Parents(f, g, 0);
  TSurnameChainOptions o;
  o.Years = false;
  EXPECT_EQ(k.Text(s, o), QStringLiteral("Орлов Иван (Тула), Пётр Ефимович (Тула), Ефим (Тула) (3/30; 1900-1840) (Тула )"));
  o.Patronymic = false;
  EXPECT_EQ(k.Text(s, o), QStringLiteral("Орлов Иван (Тула), Пётр (Тула), Ефим (Тула) (3/30; 1900-1840) (Тула )"));
}

TEST(SurnameChains, LineLengthCountsPersonsNotCommas) {
  Kin k;
  // Two persons whose texts hold commas: a count of commas would make the line look longer.
  const auto f = k.Person("M", "Орлов", "Пётр", "1870", QStringLiteral("с. Ивановка, Тульская губ., Россия"));
  const auto s = k.Person("M", "Орлов", "Иван", "1900", QStringLiteral("Тула, Россия"));
  k.Parents(s, f, 0);
  TSurnameChainOptions o;
  o.MinPersons = 3;
  EXPECT_EQ(SurnameChains(k.m, k.Ancestors(s), o)[0].Count, 2);
  EXPECT_EQ(k.Text(s, o), QString());
  o.MinPersons = 2;
  EXPECT_FALSE(k.Text(s, o).isEmpty());
}

TEST(SurnameChains, AveragesAndYears) {
  struct Case {
    const char* son;
    const char* father;
    const char* grandfather;
    const char* expected;
  };
  const Case cases[] = {
      {"1900", "1873", "1845", "Орлов  (3/27.5; 1900-1845)"},
      {"1900", "~1873", "~1845", "Орлов  (3/27.5; 1900-1845)"},  // "~1873": the year from the second character
      {"1900", "1870", "?", "Орлов "},                           // the last person's year unknown: no tail
      {"????", "1870", "1840", "Орлов "},                        // the first person's year unknown: no tail
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.father);
    Kin k;
    const auto g = k.Person("M", "Орлов", "Ефим");
    const auto f = k.Person("M", "Орлов", "Пётр");
    const auto s = k.Person("M", "Орлов", "Иван");
    k.m.aIndi[std::size_t(s)].BIRT_DATE.YEARS = QString::fromUtf8(c.son);
    k.m.aIndi[std::size_t(f)].BIRT_DATE.YEARS = QString::fromUtf8(c.father);
    k.m.aIndi[std::size_t(g)].BIRT_DATE.YEARS = QString::fromUtf8(c.grandfather);
    k.Parents(s, f, 0);
    k.Parents(f, g, 0);
    TSurnameChainOptions o = NoPlaces();
    o.WholeChain = false;
    EXPECT_EQ(k.Text(s, o), QString::fromUtf8(c.expected));
  }
  EXPECT_EQ(SurnameChainAverage(1900, 1779, 5), QStringLiteral("30.2"));  // 30.25: halves to even
  EXPECT_EQ(SurnameChainAverage(1900, 1781, 5), QStringLiteral("29.8"));  // 29.75
  EXPECT_EQ(SurnameChainAverage(1900, 1840, 3), QStringLiteral("30"));
}

TEST(SurnameChains, GenerationNumbers) {
  EXPECT_EQ(SurnameChainGeneration(QStringLiteral("0")), QStringLiteral("1-0. "));
  EXPECT_EQ(SurnameChainGeneration(QStringLiteral("01")), QStringLiteral("2-1. "));
  EXPECT_EQ(SurnameChainGeneration(QStringLiteral("001")), QStringLiteral("3-1. "));
  EXPECT_EQ(SurnameChainGeneration(QStringLiteral("011")), QStringLiteral("3-2. "));
  EXPECT_EQ(SurnameChainGeneration(QStringLiteral("0111")), QStringLiteral("4-4. "));
  // 62 generations still fit in 64 bits; beyond, the number is left out.
  EXPECT_EQ(SurnameChainGeneration(QStringLiteral("0") + QString(61, u'1')),
            QStringLiteral("62-") + QString::number((std::int64_t(1) << 60)) + QStringLiteral(". "));
  EXPECT_EQ(SurnameChainGeneration(QStringLiteral("0") + QString(62, u'1')), QString());
  EXPECT_EQ(SurnameChainGeneration(QStringLiteral("0") + QString(100, u'1')), QString());
  Kin k;
  const auto mother = k.Woman("Орлова", "Ильина", "Мария");
  const auto mf = k.Person("M", "Ильин", "Фёдор");
  const auto son = k.Person("M", "Орлов", "Иван");
  k.Parents(son, 0, mother);
  k.Parents(mother, mf, 0);
  TSurnameChainOptions o = Bare();
  o.GenerationNumber = true;
  o.SkipShort = false;
  EXPECT_EQ(k.Text(son, o), QStringLiteral("1-0. Орлов Иван\n2-1. Ильина Мария (Орлова), Фёдор"));
}

TEST(SurnameChains, PedigreeCollapseWritesTheAncestorInBothLines) {
  Kin k;
  // Cousins married: the son's father and mother share the grandfather Ефим.
  const auto efim = k.Person("M", "Орлов", "Ефим");
  const auto a = k.Person("M", "Орлов", "Пётр");
  const auto b = k.Woman("Орлова", "Орлова", "Анна");
  const auto c = k.Person("M", "Орлов", "Илья");
  const auto d = k.Person("M", "Орлов", "Иван");
  const auto wife = k.Woman("Орлова", "Орлова", "Вера");
  k.Parents(a, efim, 0);
  k.Parents(b, efim, 0);
  k.Parents(c, a, 0);
  k.Parents(wife, efim, 0);
  k.Parents(d, c, wife);
  (void)b;
  EXPECT_EQ(k.Text(d, Bare()), QStringLiteral("Орлов Иван, Илья, Пётр, Ефим\nОрлова Вера (Орлова), Ефим"));
}

TEST(SurnameChains, LoopedAncestryEndsTheLine) {
  Kin k;
  // A man given as his own father, and two men given as each other's fathers.
  const auto self = k.Person("M", "Орлов", "Пётр", "1870");
  k.Parents(self, self, 0);
  TSurnameChainOptions o = Bare();
  o.SkipShort = false;
  const auto lines = SurnameChains(k.m, k.Ancestors(self), o);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Count, 1);

  Kin k2;
  const auto x = k2.Person("M", "Орлов", "Пётр");
  const auto y = k2.Person("M", "Ильин", "Фёдор");
  k2.Parents(x, y, 0);
  k2.Parents(y, x, 0);
  const auto lines2 = SurnameChains(k2.m, k2.Ancestors(x), o);
  ASSERT_EQ(lines2.size(), 1u);
  EXPECT_EQ(lines2[0].Count, 2);
  EXPECT_EQ(lines2[0].Chain, QStringLiteral("Пётр, Фёдор"));
}

TEST(SurnameChains, AFatherTheFamilyDoesNotNameEndsTheLine) {
  Kin k;
  const auto mother = k.Woman("Орлова", "Ильина", "Мария");
  const auto son = k.Person("M", "Орлов", "Иван");
  k.Parents(son, 0, mother);  // the list holds a father entry "0" with empty texts
  TSurnameChainOptions o = Bare();
  o.SkipShort = false;
  const auto lines = SurnameChains(k.m, k.Ancestors(son), o);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].Count, 1);
  EXPECT_EQ(lines[0].Chain, QStringLiteral("Иван"));
}

TEST(SurnameChains, ColoursAndStyles) {
  EnsureApp();
  Kin k;
  const auto f = k.Person("M", "Орлов", "Пётр", "1870-1940");
  const auto mother = k.Woman("Орлова", "Ильина", "Мария", "1875-1950");
  const auto mf = k.Person("M", "Ильин", "Фёдор", "1850-1920");
  const auto s = k.Person("M", "Орлов", "Иван", "1900-1970");
  k.Parents(s, f, mother);
  k.Parents(mother, mf, 0);
  QTextDocument doc;
  ListFamily(k.m, k.Ancestors(s), NoPlaces(), &doc);
  struct Expect {
    const char* text;
    int color;
    bool bold;
    bool underline;
  };
  const Expect expected[] = {
      {"Орлов ", 0x800000, true, true},
      {"Иван (1900-1970), Пётр (1870-1940)", 0xFF0000, true, false},
      {" (2/30; 1900-1870)", 0, false, false},
      {"Ильина ", 0x800000, true, true},
      {"Мария (Орлова) (1875-1950)", 255, true, false},
      {", Фёдор (1850-1920)", 0xFF0000, true, false},
      {" (2/25; 1875-1850)", 0, false, false},
  };
  std::vector<QTextFragment> fragments;
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
    for (auto it = b.begin(); !it.atEnd(); ++it) fragments.push_back(it.fragment());
  ASSERT_EQ(fragments.size(), std::size(expected));
  for (std::size_t i = 0; i < fragments.size(); ++i) {
    SCOPED_TRACE(expected[i].text);
    const QTextCharFormat f = fragments[i].charFormat();
    const QColor c = f.foreground().color();
    EXPECT_EQ(fragments[i].text(), QString::fromUtf8(expected[i].text));
    EXPECT_EQ(c.red() | (c.green() << 8) | (c.blue() << 16), expected[i].color);
    EXPECT_EQ(f.fontWeight() >= QFont::Bold, expected[i].bold);
    EXPECT_EQ(f.fontUnderline(), expected[i].underline);
  }
}

TEST(SurnameChains, SampleTree) {
  Model m;
  Ged_Indi(m, QStringLiteral(TREVOLAN_SOURCE_DIR "/samples/sample-utf8.ged"));
  PreparePersonsAfterLoad(m);
  std::int64_t who = 0;
  for (std::size_t i = 1; i < m.aIndi.size(); ++i)
    if (m.aIndi[i].INDI == u"@I120@") who = std::int64_t(i);
  ASSERT_GT(who, 0);
  TAncestorList list;
  FillTree(m, list, QString::number(who), 1);
  EnsureApp();
  QTextDocument doc;
  ListFamily(m, list.aPers, TSurnameChainOptions{}, &doc);
  EXPECT_EQ(doc.toPlainText(),
            QStringLiteral("Ветров Андрей (Тверь 1955), Тимофей Ильич (Москва 1922-1984) (2/33; 1955-1922) (Тверь ; Москва )\n"
                           "Северцева Ирина Павловна (Ветрова) (Серпухов 1927-1977), Павел Петрович (Серпухов 1895-1946), "
                           "Пётр Петрович (Орёл 1860-1925), Пётр Васильевич (Москва 1834-1905), Василий Петрович (Рязань "
                           "1807-1852), Пётр Никитич (д. Ольховка, Алексинский уезд 1782-1823) (6/29; 1927-1782) (Серпухов ; "
                           "Орёл ; Москва ; Рязань ; д. Ольховка, Алексинский уезд )"));
}

}  // namespace
