// Surname chains: the current person's ancestors split into paternal lines. One line starts at the
// current person and one at every woman of the ancestor list; each follows fathers upward as far as the
// list goes. A line lists the surnames found along it, optionally the chain of persons with their life
// part, the number of persons with the average generation length, and the birth places.
//
// Headless: reads the ancestor list (app/charts/Ancestors.h, built by FillTree) and the Model, writes
// coloured text into a QTextDocument.
//
// A line ends at the first father that is not in the list, at a parent the family does not name, and at
// a person already in the line (a person given as his own ancestor), so looped data ends every line.
#pragma once

#include "app/charts/Ancestors.h"
#include "app/core/Model.h"

#include <QString>

#include <vector>

class QTextDocument;

// The page's options; the comments name the controls that hold them.
struct TSurnameChainOptions {
  bool WholeChain = true;          // RadioGroup15: item 0 "Только фамилии", item 1 "Вся цепочка персон"
  bool Years = true;               // CheckBox28 "Годы жизни"
  bool Dates = false;              // CheckBox29 "Даты жизни" (wins over the years)
  bool HusbandSurname = true;      // CheckBox27 "Фамилия по мужу"
  bool BirthPlace = true;          // CheckBox69 "Место рождения"
  bool Patronymic = true;          // CheckBox50 "Отчество"
  bool GenerationNumber = false;   // CheckBox68 "Номер поколения"
  bool AllVariants = true;         // CheckBox31 "Все варианты фамилий"
  bool SkipUnknownSurname = true;  // CheckBox26 "Игнорировать род с неизвестной фамилией"
  bool SkipShort = true;           // CheckBox30 "Игнорировать род с кол-вом поколен. меньше чем"
  int MinPersons = 2;              // UpDown1 (2..10)
  bool Averages = true;            // CheckBox40 "Указывать кол-во поколений и их среднюю продолжительность"
};

// One paternal line.
struct TSurnameChain {
  int Entry = 0;      // the ancestor-list entry that starts the line
  QString Place;      // that entry's path ("0", then "0" father / "1" mother per generation)
  QString Surnames;   // surnames joined with ", "
  QString Places;     // birth places, each followed by a blank, joined with "; "
  QString Head;       // a woman's own name and life part (empty for a line of the current person)
  QString Chain;      // the persons of the line after the head, each as ", " + name + life part
  int Count = 1;      // persons in the line
  int FirstYear = 0;  // birth year of the first person (0 unknown)
  int LastYear = 0;   // birth year of the last person (0 unknown or a line of one)
  bool Skipped = false;  // left out by the skip options
};

// Every line of the list in entry order, with Skipped set by the options.
std::vector<TSurnameChain> SurnameChains(const Model& m, const std::vector<TPers>& aPers,
                                         const TSurnameChainOptions& o);
// "generation-number. " of a line, or empty past 62 generations (the number no longer fits).
QString SurnameChainGeneration(const QString& place);
// The average generation length (FirstYear - LastYear) / (Count - 1), rounded to one decimal (halves to
// even), e.g. "30" or "27.5".
QString SurnameChainAverage(int firstYear, int lastYear, int count);

// Writes the lines that are not skipped into `pane` (cleared first).
void ListFamily(const Model& m, const std::vector<TPers>& aPers, const TSurnameChainOptions& o,
                QTextDocument* pane);
