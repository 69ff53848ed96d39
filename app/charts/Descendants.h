// The descendant list of a person, breadth-first (the person, children, grandchildren ...), in two
// builds: FillTree2, blood descendants with generation, parent entry and fan sector angles; and
// SxPotGedcom, the descendant scheme with spouses, numbering, a line/sex filter and event details
// in each node's text. Headless: reads a Model, writes the list and a TTreeNodes.
#pragma once

#include "app/charts/TreeNodes.h"
#include "app/core/Model.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

struct TPers2 {
  QString ID;  // person index text; "0" for a spouse the family does not name
  QString Name;
  QString Date1;
  QString Date2;
  QString Year1;
  QString Year2;
  QString Date3;              // the finished marriage text
  QStringList Marriages;      // one marriage text per own family, in order
  std::int32_t Count3 = 0;    // number of own families counted
  std::int32_t ER_ID = 0;     // spouse entry: the linking family; 0 for a descendant
  QString sex;
  int Node = -1;
  QString Desc;
  QString Num;
  std::int32_t nPP = 0;
  QString sSupr;
  std::int32_t ID1 = 0;
  std::int32_t ID2 = 0;
  std::int32_t iLevel = 0;
  std::int32_t iPot = 0;
};

struct TCoord {
  double rAn1 = 0;
  double rAn2 = 0;
};

// The deepest generation the descendant fan draws; "Авто" lists no deeper.
inline constexpr int kFanMaxLevels = 13;

struct TFanListOptions {
  bool Auto = false;    // CheckBox82
  int Generations = 5;  // SpinEdit1
  int FanType = 0;      // ComboBox8: 0..2 equal shares, 3 and 4 weighted
};

struct TFanList {
  std::vector<TPers2> aPers2;
  std::vector<TCoord> aCoord;
};

// Called every few hundred entries with the number of entries made; returns false to stop the build
// (the list made so far stays). May be empty.
using TDescendantProgress = std::function<bool(std::int64_t entries)>;

// Builds the fan list of `current`; returns false (list empty) when it names no person.
// Bounded on any data: a family listed twice by a person, or a child listed twice by a family, is
// expanded once, and the walk ends once 1.5 x (persons + 1) entries have been made (a person who is his
// own descendant), as the ancestor list does.
bool FillTree2(const Model& m, TFanList& out, const QString& current, const TFanListOptions& o,
               const TDescendantProgress& progress = {});

enum class TNumbering { None, Sequential, DAboville, Konovalov };  // RadioGroup16, in item order
enum class TLineFilter { All, Men, Women, Line };                   // RadioGroup6, in item order

struct TDescendantOptions {
  TNumbering Numbering = TNumbering::None;
  TLineFilter Filter = TLineFilter::All;
  bool PersonNote = false;  // CheckBox17 "Прим.к персоне"
  bool EventPlace = false;  // CheckBox18 "Место события"
  bool EventNote = false;   // CheckBox16 "Прим.к событию"
  bool DeathCause = false;  // CheckBox14 "Причина смерти"
  QString BirthLabel = QStringLiteral("род.");  // Edit3
  QString MarrLabel = QStringLiteral("бр.");    // Edit4
  QString DeathLabel = QStringLiteral("ум.");   // Edit5
  // Relation words (translated, any case): wife / spouse (f.) / husband / spouse (m.).
  QString WordWife = QStringLiteral("Жена");
  QString WordWifeUnmarried = QStringLiteral("Супруга");
  QString WordHusband = QStringLiteral("Муж");
  QString WordHusbandUnmarried = QStringLiteral("Супруг");
};

// Builds the scheme of `current` into `tree` and the list into `aPers2`. Returns false (empty tree)
// when `current` names no person.
// A family listed twice by a person is counted and expanded once; every person is expanded once.
bool SxPotGedcom(const Model& m, std::vector<TPers2>& aPers2, TTreeNodes& tree, const QString& current,
                 const TDescendantOptions& o, const TDescendantProgress& progress = {});

// The first `n` UTF-16 units of `text`, one fewer when that would split a surrogate pair.
QString CutText(const QString& text, int n);
