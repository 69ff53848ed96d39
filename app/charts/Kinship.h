// The kinship detector's search: how two persons A and B are related. Blood links are found through the
// lowest common ancestors of two breadth-first ancestor expansions; on request, paths through any mix of
// parent, child and spouse links (relationship by marriage) are found by a randomised depth-first graph
// search with iterative deepening. Every find is one entry of the link list (aLinkChains, shown in the
// page's combo box); the first entry is drawn at once (KinshipPicture.h).
//
// Entries of aLinkChains: "." (B is an ancestor of A, or A itself), ".." (A is an ancestor of B), a
// person index as text (the common ancestor of a blood link), or a chain "a;p1;...;b;" followed by one
// step code per step ("1" to a child, "2" to a parent, "5" to a spouse).
//
// Bounds: the expansions append a parent only once per (person, child) pair, so a list holds at most one
// entry per parent link of the tree plus one, whatever pedigree collapse or loops the data has, and no
// parent who is already on the entry's own line (a loop) is appended; the graph
// search reaches every person at most once per pass. The search over all links polls the caller's
// keepGoing hook and stops cleanly when it answers false, keeping what it found.
// Headless: reads a Model, writes the working state below. Main thread only.
#pragma once

#include "app/charts/Ancestors.h"
#include "app/charts/KinshipNaming.h"
#include "app/charts/TreeNodes.h"
#include "app/core/Model.h"

#include <QImage>
#include <QRandomGenerator>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTextDocument>

#include <cstdint>
#include <functional>
#include <vector>

// The working state of the kinship detector, kept from one search to the next.
struct TKinship {
  TKinship();

  std::int64_t A = 0;  // the two persons of the last search
  std::int64_t B = 0;
  std::vector<TPers> aLinkPersA;  // ancestor expansion of A
  std::vector<TPers> aLinkPersB;  // ancestor expansion of B
  std::vector<QString> aLinkChains;
  QStringList Items;           // the link list as shown (ComboBox3)
  int ItemIndex = -1;          // the entry on show
  QString FoundText;           // the blood links' texts, each followed by a blank (ComboBox3's keyword)
  QString LinkChain;           // the chain or entry on show
  std::vector<std::int32_t> aLinkExclude;  // families skipped by a repeated graph search
  TRelationWords Words;
  bool Stopped = false;        // the last search over all links was stopped
  std::uint64_t SearchSteps = 0;  // persons reached by the graph searches of the last search over all links
  bool ShowPicturePage = false;  // the search over all links ran: the page shows its picture
  // The random source of the graph search; seeded from the system at construction, tests seed it.
  QRandomGenerator Random;

  // What the entry on show looks like (KinshipPicture.h).
  TTreeNodes Tree;      // TreeView3
  QTextDocument Text;   // RichEdit2: one line from A to B
  QImage Picture;       // Image1, full size; null when nothing is drawn
};

struct TKinshipHooks {
  // Called every few thousand steps of the search over all links (the window lets events run there);
  // false stops the search.
  std::function<bool()> keepGoing;
};

// Fills a link-list entry from person x: the person's fields, parents ("0" for none) and display text.
void FillLinkEntry(const Model& m, TPers& e, std::int64_t x, const TKinshipOptions& o);

// The search (the page's "Создать"): both expansions, the search over all links unless only blood
// relationship is asked for, then the first entry drawn, or the single item "Not found".
// a and b are person indexes (0 is not a person; the caller puts the current person in its place).
void Link2PersGedcom(const Model& m, TKinship& k, std::int64_t a, std::int64_t b, const TKinshipOptions& o,
                     const TKinshipHooks& hooks = {});

// One breadth-first ancestor expansion of s into list, looking for t and for the entries of other (the
// other person's list) reached through a different child. Appends the finds to k's link list.
void ExpandAncestorsForLink(const Model& m, TKinship& k, std::int64_t s, std::int64_t t, std::vector<TPers>& list,
                            QString& found, std::vector<TPers>& other, const TKinshipOptions& o);

// The search over all links: chains through a marriage, at most MaxLen + 1 steps, shortest first after
// the blood links.
void Link2PersExGedcom(const Model& m, TKinship& k, const TKinshipOptions& o, const TKinshipHooks& hooks = {});

// One randomised depth-first search from a to b that skips family `excluded` (0: none) and goes at most
// `limit` steps deep before its last step; the chain text of the last path found, or empty.
QString SearchLinkGraph(const Model& m, TKinship& k, std::int64_t a, std::int64_t b, std::int64_t excluded,
                        int limit, const TKinshipHooks& hooks = {});

// Orders chains[first .. last] by the length of their step codes, shortest first (not stable).
void SortLinkVariants(std::vector<QString>& chains, int last, int first);

// Whether the line of list[entry] (the entry, its child entry, and so on down to the start person)
// holds one of `persons`. The expansions keep each entry's child entry in iPot.
bool KinshipLineHas(const std::vector<TPers>& list, size_t entry, const QSet<QString>& persons);

// Whether an entry's Place lists link number n among its blank-separated numbers ("2" is not in "12 ").
bool PlaceHasLink(const QString& place, int n);

// The step codes of a chain entry (its text after the last ";").
QString ChainCodes(const QString& chain);
// The person indexes of a chain entry, from A to B.
std::vector<std::int64_t> ChainPersons(const QString& chain);

// Shows entry `index` of the link list: a chain as a chain picture, any other entry as a blood link.
// Nothing happens when the list holds no such entry.
void ComboBox3Change(const Model& m, TKinship& k, int index, const TKinshipOptions& o);
