// The ancestor list of a person (breadth-first: the person, parents, grandparents ...; each entry
// knows its path "0" + one digit per generation, "0" father, "1" mother) and the numbered ancestor
// scheme built with it as a tree of nodes. Headless: reads a Model, writes the list and a TTreeNodes.
//
// FillTree builds the full expansion (a person reached along two paths occurs twice, with his whole
// ancestry). A person met again on his own path (a loop in the data) gets no parents there. The walk
// stops past 1.5 x the person count, but never before the first kAncestorFullGenerations generations
// are complete. SxPrGedcom expands
// every person once; a repeated person is a leaf linked to his first node.
// A list is reused by FillTree only when FillTree itself built it for the same person and the same
// load of the model (the caller's load stamp).
#pragma once

#include "app/charts/TreeNodes.h"
#include "app/core/Model.h"

#include <QPoint>
#include <QString>

#include <cstdint>
#include <vector>

struct TPers {
  QString ID;  // person index as decimal text; "0" for a parent the family does not name
  std::int32_t iID = 0;
  QString Name;
  std::int32_t iX = 0;  // column of the person card's small chart
  QString b_id;         // parent family as decimal text, "0" when none
  QString Date1;
  QString Date2;  // "-" + death date text, or empty
  QString Year1;
  QString Year2;  // "-" + death years, or empty
  QString Fam;
  QString FamR;
  QString Im;
  QString Ot;
  QString ID1;  // father index text ("0" for none); empty without a parent family
  QString ID2;  // mother, likewise
  QString sex;
  int Node = -1;  // the entry's node in the scheme (scheme only)
  QString Place;  // path from the root: "0", then "0" father / "1" mother per generation
  QString ID0;    // kinship search only
  QPoint aPoint[4];
  double rAn1 = 0;
  double rAn2 = 0;
  std::int32_t iPot = 0;  // index of the child entry whose parent this entry is
};

// The generations FillTree always completes: the deepest ring of the fan chart (the person is generation 1).
inline constexpr int kAncestorFullGenerations = 13;

enum class TAncestorBuilder { None, FillTree, Scheme };

struct TAncestorList {
  std::vector<TPers> aPers;
  TAncestorBuilder builtBy = TAncestorBuilder::None;
  std::uint64_t loadStamp = 0;
  void Clear() {
    aPers.clear();
    builtBy = TAncestorBuilder::None;
  }
};

// What the scheme's node texts show (the page's "Заполнять" group).
struct TAncestorTextOptions {
  bool FullName = true;      // CheckBox60
  bool Surname = true;       // CheckBox61
  bool BirthSurname = true;  // CheckBox62
  bool Brackets = true;      // CheckBox63
  bool FirstName = true;     // CheckBox64
  bool Patronymic = true;    // CheckBox65
  bool YearsLife = true;     // CheckBox66
  bool DatesLife = false;    // CheckBox67
  bool BirthPlace = true;    // CheckBox70
};

// The person index of a current-index text, or 0 when it names no person of the model
// (empty text, "Not found", not a number, out of range).
std::int64_t PersonIndexOf(const Model& m, const QString& indexText);

// Builds list.aPers for the person `current` (index text). Returns true when it built a list
// (the toolbar's print and save become available), false when it reused the list or there was
// no person (then aPers is one empty entry with ID = current).
bool FillTree(const Model& m, TAncestorList& list, const QString& current, std::uint64_t loadStamp);

// The first `generations` generations of person p's ancestor list, entry for entry as FillTree builds
// them (the person is generation 1). Leaves `a` empty when p is not a person of the model.
void FillTreeGenerations(const Model& m, std::vector<TPers>& a, std::int64_t p, int generations);

// Builds list.aPers and the scheme in `tree`. With schemePageActive false and a list already for
// `current`, returns false at once. Returns true when it built (also an empty tree for no person).
bool SxPrGedcom(const Model& m, TAncestorList& list, TTreeNodes& tree, const QString& current,
                bool schemePageActive, const TAncestorTextOptions& options, std::uint64_t loadStamp);

// The scheme text of entry e at tree level `level`.
QString AncestorNodeText(const Model& m, const TPers& e, int level, const TAncestorTextOptions& o);
