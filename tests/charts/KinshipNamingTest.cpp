#include "app/charts/Ancestors.h"
#include "app/charts/ChartOutput.h"
#include "app/charts/KinshipNaming.h"
#include "Fixtures.h"

#include <gtest/gtest.h>

#include <map>

namespace {

TKinshipOptions Named() {
  TKinshipOptions o;
  o.RelationName = true;
  return o;
}

// A translation file as the charts see it: "*" keys give the file's word or the empty text.
class Translation {
 public:
  using Words = std::map<QString, QString>;
  explicit Translation(Words words) : words_(std::move(words)) {
    SetChartTranslator([this](const QString& key, const QString& def) {
      if (key.startsWith(QLatin1Char('*'))) {
        const auto it = words_.find(key);
        return it == words_.end() ? QString() : it->second;
      }
      return def;
    });
  }
  ~Translation() { SetChartTranslator({}); }

 private:
  std::map<QString, QString> words_;
};

TEST(LinkName, ComposesRussianNamesFromTheBuiltInWords) {
  const TRelationWords words;
  const TKinshipOptions o = Named();
  struct Case {
    int len, pos, sex;
    const char16_t* want;
  } cases[] = {
      {0, 1, 1, u"Отец"},
      {0, 1, 2, u"Мать"},
      {0, 2, 1, u"Дед"},
      {0, 2, 2, u"Бабушка"},
      {0, 3, 1, u"Прадед"},
      {0, 4, 2, u"Пра(2)бабушка"},
      {0, 6, 1, u"Пра(4)дед"},
      {0, -1, 1, u"Сын"},
      {0, -2, 2, u"Внучка"},
      {0, -3, 1, u"Правнук"},
      {0, -5, 2, u"Пра(3)внучка"},
      {1, 1, 1, u"Брат"},
      {1, 1, 2, u"Сестра"},
      {2, 1, 1, u"Дядя"},
      {2, 1, 2, u"Тетя"},
      {1, 2, 1, u"Племянник"},
      {1, 3, 2, u"Внучатая племянница"},
      {1, 4, 1, u"Правнучатый племянник"},
      {2, 2, 1, u"2-юродный брат"},
      {3, 3, 2, u"3-юродная сестра"},
      {3, 2, 1, u"2-юродный дядя"},  // a parent's first cousin
      {2, 3, 1, u"2-юродный племянник"},  // a first cousin's child
      {3, 1, 1, u"2-юродный дед"},  // a grandparent's brother
      {4, 1, 1, u"2-юродный прадед"},
      {5, 5, 1, u"5-юродный брат"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(LinkName(c.len, c.pos, c.sex, 1, words, o), QString::fromUtf16(c.want))
        << c.len << " " << c.pos << " " << c.sex;
  EXPECT_EQ(LinkName(0, 0, 1, 1, words, o), QString()) << "the person himself";
}

TEST(LinkName, CodeAloneOrAfterTheName) {
  const TRelationWords words;
  TKinshipOptions o;
  o.RelationCode = true;
  o.CodeBrackets = true;
  EXPECT_EQ(LinkName(2, 2, 1, 1, words, o), QStringLiteral(" (PPCS)"));
  o.CodeBrackets = false;
  EXPECT_EQ(LinkName(0, -2, 2, 1, words, o), QStringLiteral(" CD"));
  o.RelationName = true;
  EXPECT_EQ(LinkName(0, 4, 2, 1, words, o), QStringLiteral("Пра(2)бабушка PPPM"));
  EXPECT_EQ(LinkName(0, 0, 1, 1, words, o), QString()) << "no code for the person himself";
}

TEST(LinkName, TranslatedWordsWinAndTheSiblingFormFirst) {
  Translation t(Translation::Words{{QStringLiteral("*PS"), QStringLiteral("brother")},
                 {QStringLiteral("*PSS"), QStringLiteral("brother's son")},
                 {QStringLiteral("*PPCC"), QStringLiteral("first cousin")},
                 {QStringLiteral("*XXF"), QStringLiteral("-юродный")}});
  TRelationWords words;
  words.Load();
  TKinshipOptions o = Named();
  o.RelationCode = true;
  // The path runs through a brother (iSex2 1): the brother's form is looked up first.
  EXPECT_EQ(LinkName(1, 2, 1, 1, words, o), QStringLiteral("Brother's son PSS"));
  // Through a sister there is no word: the name is composed, the code stays.
  EXPECT_EQ(LinkName(1, 2, 1, 2, words, o), QStringLiteral(" PCS")) << "the file gives no nephew word";
  EXPECT_EQ(LinkName(1, 1, 1, 1, words, o), QStringLiteral("Brother PS"));
  // A word for the child code names sons and daughters alike, and its code is shown.
  EXPECT_EQ(LinkName(2, 2, 2, 1, words, o), QStringLiteral("First cousin PPCC"));
}

TEST(LinkName, ATranslationWithoutTheCousinWordComposesNothing) {
  Translation t(Translation::Words{{QStringLiteral("*F"), QStringLiteral("father")}});
  TRelationWords words;
  words.Load();
  EXPECT_EQ(words.At(4, 1, 1), QStringLiteral("father"));
  EXPECT_EQ(words.At(5, 1, 1), QString()) << "a missing star key is empty, not the Russian word";
  const TKinshipOptions o = Named();
  EXPECT_EQ(LinkName(2, 2, 1, 1, words, o), QString());
  EXPECT_EQ(LinkName(0, 1, 1, 1, words, o), QString()) << "one letter codes are not looked up, only composed";
}

TEST(LinkName, CutsTo100CharactersAndCasesEveryCharacter) {
  Translation t(Translation::Words{{QStringLiteral("*PS"), QString(150, QLatin1Char('X'))}});
  TRelationWords words;
  const QString name = LinkName(1, 1, 1, 1, words, Named());
  ASSERT_EQ(name.size(), 100);
  EXPECT_EQ(name, QLatin1Char('X') + QString(99, QLatin1Char('x')));
}

TEST(PathCodeToLinkName, NamesThePersonsOfAChain) {
  const TRelationWords words;
  const TKinshipOptions o = Named();
  struct Case {
    const char* codes;
    int k, sex;
    const char16_t* want;
  } cases[] = {
      {"21", 1, 1, u""},        // the first person
      {"21", 2, 1, u"Отец"},
      {"21", 3, 2, u"Сестра"},
      {"2211", 5, 1, u"2-юродный брат"},
      {"221", 4, 1, u"Дядя"},
      {"52", 2, 2, u""},        // the wife: a spouse step is neither up nor down
      {"52", 3, 1, u"Отец"},    // her father
      {"1", 2, 1, u"Сын"},      // only down: the direct line
      {"11", 3, 2, u"Внучка"},
      {"51", 3, 1, u"Сын"},     // the wife's son
      {"2222", 5, 2, u"Пра(2)бабушка"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PathCodeToLinkName(QString::fromLatin1(c.codes), c.k, c.sex, words, o), QString::fromUtf16(c.want))
        << c.codes << " " << c.k;
}

TEST(PathCodeToLinkName, TheChildCodeBecomesTheSexedCode) {
  Translation t(Translation::Words{{QStringLiteral("*5F"), QStringLiteral("father-in-law")}, {QStringLiteral("*XXF"), QStringLiteral("-x")}});
  const TRelationWords words;
  TKinshipOptions o = Named();
  o.RelationCode = true;
  EXPECT_EQ(PathCodeToLinkName(QStringLiteral("52"), 3, 1, words, o), QStringLiteral("Father-in-law 5F"));
  EXPECT_EQ(PathCodeToLinkName(QStringLiteral("21"), 3, 2, words, o), QStringLiteral("Сестра PD"));
}

TEST(CreateNameLink, NamePartsAndDatesByTheOptions) {
  TPers e;
  e.Fam = QStringLiteral("Ivanova");
  e.FamR = QStringLiteral("Petrova");
  e.Im = QStringLiteral("Anna");
  e.Ot = QStringLiteral("Ivanovna");
  e.Year1 = QStringLiteral("1900");
  e.Year2 = QStringLiteral("-1970");
  e.Date1 = QStringLiteral("01.02.1900");
  e.Date2 = QStringLiteral("-03.04.1970");
  e.sex = QStringLiteral("F");
  TKinshipOptions o;
  EXPECT_EQ(createNameLink(e, o), QStringLiteral("Ivanova (Petrova) Anna Ivanovna\r\n1900-1970"));
  o.BirthBrackets = false;
  o.YearsLife = false;
  o.DatesLife = true;
  o.DateBrackets = true;
  EXPECT_EQ(createNameLink(e, o), QStringLiteral("Ivanova Petrova Anna Ivanovna\r\n(01.02.1900-03.04.1970)"));
  o.DatesLife = false;
  EXPECT_EQ(createNameLink(e, o), QStringLiteral("Ivanova Petrova Anna Ivanovna")) << "no dates, no line break";
  // A man without a birth surname shows his surname in its place when the surname itself is off.
  TPers man;
  man.Fam = QStringLiteral("Orlov");
  man.Im = QStringLiteral("Ivan");
  man.sex = QStringLiteral("M");
  TKinshipOptions s;
  s.Surname = false;
  EXPECT_EQ(createNameLink(man, s), QStringLiteral("(Orlov) Ivan"));
  s.Surname = true;
  EXPECT_EQ(createNameLink(man, s), QStringLiteral("Orlov Ivan")) << "an empty birth surname adds nothing";
}

}  // namespace
