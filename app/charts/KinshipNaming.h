// Names of kinship: the display text of a person in the kinship detector, and the name of a relative's
// relationship to the first person ("Дед", "2-юродный брат", "Пра(2)бабушка") built from a relationship
// code and a small vocabulary of Russian kinship words that a translation file may override.
//
// A relationship code is read from the first person outwards: "P" parent, "C" child, "5" a step through
// a marriage, and a last letter for the relative's sex: "F" father, "M" mother, "S" son, "D" daughter.
// Words are looked up through the charts' translator (ChartText) under "*" + code with an empty default,
// so a translation file names any relationship it knows; without a word the name is composed from the
// vocabulary below. Headless and stateless apart from the vocabulary object the caller keeps.
#pragma once

#include <QString>

#include <array>

struct TPers;

// The kinship page's options (its check boxes, the length box and the zoom box).
struct TKinshipOptions {
  // Display text of a person.
  bool Surname = true;         // CheckBox24 "Фамилия"
  bool BirthSurname = true;    // CheckBox23 "Фамилия при рожден."
  bool BirthBrackets = true;   // CheckBox13 "(в скобки)": birth surname in brackets
  bool FirstName = true;       // CheckBox22 "Имя"
  bool Patronymic = true;      // CheckBox21 "Отчество"
  bool YearsLife = true;       // CheckBox20 "Годы жизни"
  bool DatesLife = false;      // CheckBox19 "Даты жизни"
  bool DateBrackets = false;   // CheckBox12 "(в скобки)": dates in brackets
  // Relationship shown in each box.
  bool RelationName = false;   // CheckBox25 "Наименование"
  bool RelationCode = false;   // CheckBox8 "Аббревиатура"
  bool CodeBrackets = false;   // CheckBox57 "(в скобки)": code in brackets
  // The search.
  int MaxLen = 30;             // SpinEdit14 "Максимальная длина", 3 .. 100
  bool OnlyBlood = true;       // CheckBox15 "Только кровные"
  QString Zoom = QStringLiteral("100%");  // ComboBox2 "Масштаб"
};

// The 24 words, [degree 1..6][line 1..2][sex 1..2]; index 0 of each dimension is unused.
// Degree 1..5 is a generation difference of -2..+2 (degree = difference + 3); degree 6 holds the cousin
// suffix in line 1 and the "great" words in line 2 (male slot: descendants, female slot: ancestors).
class TRelationWords {
 public:
  // The built-in Russian words.
  TRelationWords();
  // Each word from the translator under "*" + its code, with the built-in word as the default.
  void Load();
  const QString& At(int degree, int line, int sex) const { return w_[size_t(degree)][size_t(line)][size_t(sex)]; }
  const QString& CousinSuffix(int sex) const { return At(6, 1, sex); }
  const QString& GreatForDescendants() const { return At(6, 2, 1); }
  const QString& GreatForAncestors() const { return At(6, 2, 2); }

 private:
  std::array<std::array<std::array<QString, 3>, 3>, 7> w_;
};

// The display text of an entry: the name parts the options choose, then CR LF and the life dates.
QString createNameLink(const TPers& e, const TKinshipOptions& o);

// The relationship name of a blood relative. iLen 0: the direct line, iPos generations up (> 0) or down
// (< 0); else iLen generations up to the common ancestor and iPos down from it. iSex / iSex2: 1 male or
// not given, 2 female, for the relative and the person before it on the path.
QString LinkName(int iLen, int iPos, int iSex, int iSex2, const TRelationWords& words, const TKinshipOptions& o);

// The relationship name of the k-th person (from 1) of a chain with the step codes `codes` ("1" to a
// child, "2" to a parent, "5" to a spouse); sex as for LinkName.
QString PathCodeToLinkName(const QString& codes, int k, int sex, const TRelationWords& words,
                           const TKinshipOptions& o);
