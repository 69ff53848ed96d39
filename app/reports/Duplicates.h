// Duplicate search: pairs of persons of the same sex who may be one person entered twice. Each pair is
// scored field by field (surname, maiden surname, first name, patronymic, birth, death and optionally
// the two persons' fathers and mothers) with the user's weights; a pair whose score reaches the
// threshold is written into a rich-text document.
//
// Headless: reads a Model (and builds its compact records aPers4 once per loaded file), writes to a
// QTextDocument, reports progress through a callback and stops when the model's AbortFlag is set.
//
// Scores are in hundredths of weight points; a pair matches when Score / Total (a percentage) reaches
// the threshold. One scoring rule (ScoreDuplicatePair) serves both scans:
//   - the plain scan compares every later record of the same sex, as the rule describes;
//   - the pruned scan (the default) bounds the score first. A record's bound is what its own texts,
//     years and parents could score with the best partner (a text it lacks scores only its "not both"
//     part); a pair scores at most the bound of either record, so a record whose bound stays below the
//     threshold is in no match. For the others, a text both have but different scores 0 (also in the
//     similarity mode when the two share no character at the same place among their first three, as
//     SimilarityPercent then gives 0); where losing such fields drops the bound below the threshold,
//     only persons that share d's text (or key) in one of them, or lack it, are compared. When that
//     selection is not small, the members are swept in index order with the packed years and bounds.
//     The candidates are scored by the same rule and taken in index order, so both scans give the same
//     pairs in the same order (a test holds them equal on random trees).
#pragma once

#include "app/core/Model.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

class QTextDocument;

// Who is searched (RadioButton3 .. RadioButton6).
enum class TDuplicateWho { CurrentOnly, Men, Women, All };

// The page's options; the comments name the controls that hold them. Weights are 1..10.
struct TDuplicateOptions {
  bool SurnameMen = true;      // CheckBox41 "Фамилия у мужчин"
  int SurnameMenWeight = 10;   // SpinEdit6
  bool SurnameWomen = true;    // CheckBox48 "Фамилия у женщин"
  int SurnameWomenWeight = 5;  // SpinEdit13
  bool Maiden = true;          // CheckBox46 "(Девичья фамилия)"
  int MaidenWeight = 10;       // SpinEdit11
  bool FirstName = true;       // CheckBox42 "Имя"
  int FirstNameWeight = 10;    // SpinEdit7
  bool Patronymic = true;      // CheckBox43 "Отчество"
  int PatronymicWeight = 7;    // SpinEdit8
  bool Birth = true;           // CheckBox44 "Дата рождения"
  int BirthWeight = 6;         // SpinEdit9
  bool Death = true;           // CheckBox45 "Дата смерти"
  int DeathWeight = 5;         // SpinEdit10
  bool Father = true;          // CheckBox73 "Отец"
  bool Mother = true;          // CheckBox74 "Мать"
  bool Similarity = false;     // RadioGroup5: item 0 exact, item 1 similarity
  int Threshold = 75;          // SpinEdit12 "Показывать с % выше" (10..100)
  bool ExcludeSiblings = true; // CheckBox47 "Исключать братьев/сестер"
  bool Details = true;         // CheckBox49 "Детализировать расчет"
  TDuplicateWho Who = TDuplicateWho::CurrentOnly;
};

// The weight sums of a run. A weight counts only when its box is checked; Common and CommonF are at
// least 1.
struct TDuplicateWeights {
  int Common = 1;   // first name + patronymic + birth + death
  int CommonF = 1;  // maiden + first name + patronymic + birth + death
  int TotalM = 1;   // men's surname + Common
  int TotalF = 1;   // women's surname + CommonF
};
TDuplicateWeights DuplicateWeights(const TDuplicateOptions& o);

// Progress of a pass: position and maximum of the gauge. The caller may process pending events here
// (and so set the model's AbortFlag).
using TDuplicateProgress = std::function<void(std::int64_t position, std::int64_t maximum)>;
// A user-visible text by key with its Russian default.
using TDuplicateTranslate = std::function<QString(const QString& key, const QString& def)>;

// The compact record of person `index` (ID, parents, sex, name, dates, years, name parts, family years).
TPers4 MakeDuplicateRecord(const Model& m, std::int64_t index);
// Builds m.aPers4 when it is empty (one record per entry of aIndi, record 0 empty). Returns false when
// the AbortFlag stopped the build; aPers4 is then empty again.
bool BuildDuplicateRecords(Model& m, const TDuplicateProgress& progress = {});
// Resolves i_0 and i_1 of every record whose parents are not resolved yet; stops at the AbortFlag.
void ResolveDuplicateParents(Model& m, const TDuplicateProgress& progress = {});

// The score of records a and b of `recs` (positions; 0 is the empty record). `detail` holds the sex that
// selects the surname rules ("M", "F" or another text) on entry and the detail text on return.
int ScoreDuplicatePair(const TaPers4& recs, std::int64_t a, std::int64_t b, int total, QString& detail,
                       bool parents, const TDuplicateOptions& o);

// One match: records d and p, the score and total, the detail texts, and whether the two share a
// father or a mother.
struct TDuplicatePair {
  std::int64_t d = 0;
  std::int64_t p = 0;
  int score = 0;
  int total = 0;
  bool siblings = false;
  QString detail;        // the pair's own detail text
  QString fatherDetail;  // " + " and the fathers' detail, when the fathers are compared
  QString motherDetail;  // likewise for the mothers
};

// Scans m.aPers4 (built, parents resolved) for matching pairs, for each record d in index order its
// matches in index order. `current` is the current person's index (used by TDuplicateWho::CurrentOnly,
// where the current person is paired with every other person of his sex). With pruned false every
// pair is compared (the plain scan). Stops when m.AbortFlag is set.
std::vector<TDuplicatePair> FindDuplicatePairs(const Model& m, const TDuplicateOptions& o, std::int64_t current,
                                               bool pruned = true, const TDuplicateProgress& progress = {});

// Score / Total as a percentage rounded to one decimal (halves to even), e.g. "79.7" or "80".
QString DuplicatePercentText(int score, int total);

// The whole run: builds the records when needed, resolves parents, scans and writes the matches into
// `pane` (cleared first), then the line "Time: hh:nn:ss.zzz". Clears AbortFlag at the start. Returns the
// pairs written.
std::vector<TDuplicatePair> FindDoubleGedcom(Model& m, const TDuplicateOptions& o, std::int64_t current,
                                             QTextDocument* pane, const TDuplicateTranslate& translate = {},
                                             const TDuplicateProgress& progress = {});
