// The problem detector: up to 22 consistency checks on every person of the loaded tree.
// Headless: DetectorGedcom reads a Model, the options (read from the page's controls by the caller), the
// message catalogue and today's date, and hands each finding to a TDetectorSink in the order the pane
// shows them (persons in index order, checks 1..22 per person). It never touches a widget.
//
// A finding is one line: a bold head in the finding's colour (the person's name and life dates), then
// ": " and the message in black. Colours are Windows values: kDetectorRed (255) marks a certain finding,
// kDetectorBlue (0xFF0000) a possible one or any finding of the structural checks 14 to 22.
//
// Dates are compared through TIDD items whose bounds are "yyyymmdd" sort keys compared as texts
// (IsExactDatePair) or turned into day counts (CompareDateRanges). An item with an empty DateOrig has no
// date and never compares, except the "today" item of a living person in check 12 (flag Today).
//
// Links out of range of aIndi or aFam are treated as no link: nothing is read out of bounds, whatever the
// model holds. The run polls and clears Model::AbortFlag and changes nothing else in the model.
// Main thread only (the Qt texts are not shared across threads).
#pragma once

#include "app/core/Model.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTextCursor>

#include <array>
#include <climits>
#include <cstdint>
#include <functional>
#include <vector>

// The number of checks: check boxes "Check1".."Check22", message slots, the report command's options.
inline constexpr int kDetectorChecks = 22;

inline constexpr std::int32_t kDetectorRed = 255;
inline constexpr std::int32_t kDetectorBlue = 0xFF0000;

// One dated item of a person; all texts empty when not set.
struct TIDD {
  QString ID;        // what the item is: family index, event "EVEN TYPE", association "INDI RELA"
  QString PID;       // index of the other person as decimal text, "?" for an event
  QString Date1;     // lower bound "yyyymmdd"
  QString Date2;     // upper bound "yyyymmdd"
  QString DateOrig;  // the date as shown; empty = the item has no date
  // The "today" item of a living person (check 12): compared as a dated item although its text is empty.
  bool Today = false;
  // Day counts of Date1 and Date2, worked out at the first comparison that needs them (a person's
  // items are compared many times). Valid while Date1 and Date2 stay as they were at that comparison.
  mutable std::int64_t day1 = kNoDay, day2 = kNoDay;
  static constexpr std::int64_t kNoDay = INT64_MIN;
};

// One person as the checks see it.
struct TPers3 {
  QString ID;    // index in aIndi as decimal text
  QString Name;  // FIO1
  QString sex;   // "M", "F" or other
  TIDD DateR;    // birth
  TIDD DateS;    // death; all empty for a living person
  std::vector<TIDD> DateBB;  // one per family in which the person is a spouse
  std::vector<TIDD> DateDD;  // one per child of those families, family by family
  std::vector<TIDD> DateOO;  // one per event, then one per association
  std::int64_t index = 0;    // the person's index in aIndi (ID as a number)
};

// Builds the record of person i (1 <= i < aIndi.size()).
TPers3 MakePers3(const Model& m, std::int64_t i);

// Whether two items can be ordered (both have a date). R1 = 1: X may be later than Y (X's upper bound
// after Y's lower one); R2 = 1: X is certainly later (X's lower bound after Y's upper one); -0.5 where
// a bound is missing, open ("9..." keys) or both items have the same bounds. R1 and R2 are left as they
// are when the result is false.
bool IsExactDatePair(const TIDD& X, const TIDD& Y, double& R1, double& R2);

// The gap in days between two dated items against T days, by Op:
//   ">"  X follows Y by less than T;      "<"  X follows Y by more than T;
//   ">>" X and Y closer than T (only when one of them is known to the month);
//   "<<" X and Y farther apart than T (only when one of them is known to the year).
// Returns 0 (no finding), kDetectorRed (certain) or, when P is 1, kDetectorBlue (possible); Diff gets
// the gap in days that a finding is about. Without a finding Diff is 0 when nothing was compared, else
// the last gap worked out; callers read it only for a finding.
std::int32_t CompareDateRanges(const TIDD& X, const TIDD& Y, const QString& Op, std::int64_t T, int P,
                               double& Diff);

// The message texts, read afresh at the start of every run.
struct TCheckCatalogue {
  std::array<QString, 3> CheckValues;         // 1: placeholder; 2, 3: " value " with blanks around
  // Message n (or n.1) in slot 2(n-1), n.2 in the next slot.
  std::array<QString, 2 * kDetectorChecks> CheckMessageTexts;
  QString Mother;                             // "*M": the missing parent of a man's child
  QString Father;                             // "*F": the missing parent of a woman's child
  QString DecimalPoint = QStringLiteral(".");  // of the numbers of years (the locale's)
};

// Key and Russian default in, translated text out (GetLangString of the open translation file).
using TDetectorTranslate = std::function<QString(const QString& key, const QString& def)>;
// The catalogue through `translate`; without one, the Russian defaults ("*M", "*F" empty). The decimal
// separator is the default locale's.
TCheckCatalogue ReadCheckCatalogue(const TDetectorTranslate& translate = {});

// The page's options; the member names are the controls' component names.
struct TDetectorOptions {
  std::array<bool, kDetectorChecks + 1> Check{};  // Check[1] .. Check[kDetectorChecks]; Check[0] unused
  int Spin091 = 15, Spin092 = 60;
  int Spin101 = 15, Spin102 = 60;
  int Spin111 = 17, Spin112 = 70;
  int Spin121 = 110;
  int Spin131 = 30;
  int Spin141 = 3;
  bool CheckBox7 = false;   // also report possible findings ("Требующие уточнений")
  bool CheckBox11 = false;  // only persons with a relation mark ("Только фаворитов")
  TDetectorOptions();       // the controls' defaults
};

// One option control of the page: component name, caption, help keyword, default, and for a spin edit
// its range (min < max) with the check box it belongs to.
struct TDetectorControl {
  const char16_t* name;
  const char16_t* caption;
  const char16_t* helpKeyword;
  int def;
  int min = 0, max = 0;  // spin edits only
};
// The check boxes Check1..Check22, the nine spin edits, CheckBox7 and CheckBox11, in page order.
const std::vector<TDetectorControl>& DetectorControls();
// Sets the option of the control `name` (a component name of DetectorControls()); false when no such control.
bool SetDetectorOption(TDetectorOptions& o, const QString& name, int value);
// The option of the control `name` (check boxes 0/1); -1 when no such control.
int DetectorOption(const TDetectorOptions& o, const QString& name);

// One finding.
struct TDetectorFinding {
  std::int64_t person = 0;  // index in aIndi
  std::int32_t color = 0;   // head colour: kDetectorRed or kDetectorBlue
  QString head;             // name and life dates, with "20."/"21."/"22." in front for those checks
  QString message;          // the formatted message
};

class TDetectorSink {
 public:
  virtual ~TDetectorSink() = default;
  virtual void Finding(const TDetectorFinding& f) = 0;
};

// Writes each finding at the end of a rich-text document as the pane shows it: the head bold in its
// colour, then ": " + message + CR LF regular black. The sink keeps one cursor at the end and holds the
// document's views in one edit block, so they lay the new lines out once, at Flush() or when the sink
// ends, not after every append. It turns the document's undo history off (a report pane is never edited).
class TDetectorRichSink : public TDetectorSink {
 public:
  explicit TDetectorRichSink(QTextDocument* doc);
  ~TDetectorRichSink() override;
  TDetectorRichSink(const TDetectorRichSink&) = delete;
  TDetectorRichSink& operator=(const TDetectorRichSink&) = delete;
  void Finding(const TDetectorFinding& f) override;
  // Lets the views show the lines written so far.
  void Flush();

 private:
  QTextCursor cursor_;
};

// Collects findings (tests, the report command).
class TDetectorList : public TDetectorSink {
 public:
  std::vector<TDetectorFinding> findings;
  void Finding(const TDetectorFinding& f) override { findings.push_back(f); }
};

// Called before each person with (persons done, persons in total incl. index 0). The window advances its
// gauge and processes pending events here; the abort request arrives through Model::AbortFlag.
using TDetectorProgress = std::function<void(std::int64_t done, std::int64_t total)>;

struct TDetectorResult {
  std::int64_t checked = 0;  // persons whose checks ran
  bool stopped = false;      // ended by the abort request
};

// The checks of one person (checks 1..22 in order, each when its check box is on). `todayKey` is today
// as "yyyymmdd" (check 12 for a living person).
void DePrGC(const Model& m, const TPers3& Rd, const TDetectorOptions& o, const TCheckCatalogue& cat,
            const QString& todayKey, TDetectorSink& sink);

// The run over persons 1..N-1: clears AbortFlag, then per person calls progress, stops before the person
// when AbortFlag is set, skips persons without a relation mark when CheckBox11 is on, and runs DePrGC.
TDetectorResult DetectorGedcom(Model& m, const TDetectorOptions& o, const TCheckCatalogue& cat, const QDate& today,
                               TDetectorSink& sink, const TDetectorProgress& progress = {});

// Diff days / 365 rounded to one decimal, halves to even, exactly; `point` is the decimal separator.
QString DetectorYears(std::int64_t days, const QString& point);

// The report command's line of a finding: identifier TAB "red"/"blue" TAB message.
QString DetectorLine(const Model& m, const TDetectorFinding& f);
