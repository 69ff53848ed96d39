// The in-memory family tree: persons, families, note records, marriage records and hyperlink person
// records, plus the header of the last GEDCOM file and the abort flag of long runs.
// Readers fill the arrays directly; reports read them and write a few per-person working fields.
// Invariants after a completed load:
//   - aIndi and aFam always have at least one element; element 0 is an empty record nothing refers to;
//   - every HUSB, WIFE, CHIL, FAMC and FAMS value is 0 (no link) or a valid index of the other array;
//   - links are 64-bit indexes; negative values exist only inside a reader while it runs.
// Text fields are QString (UTF-16); an empty text means "not known". Dates are day counts (whole part:
// days since 30 December 1899; fraction: time of day); -1000000 is the unknown-date value.
// Single thread: everything runs on the main thread.
#pragma once

#include <QString>

#include <cstdint>
#include <type_traits>
#include <vector>

// A date or date-time value: days since 30 December 1899, time of day as the fraction.
using TDateTime = double;

// The unknown-date value.
inline constexpr TDateTime kUnknownDate = -1000000.0;

// One date, as read and as normalised (made by GDate_RDates).
struct TDATES {
  QString ORIG;         // the date text exactly as read
  QString NORM;         // display text "dd.mm.yyyy" with "??"/"????" and qualifier symbols; "?" when empty
  QString SORT1;        // lower bound "yyyymmdd" (unknown digits as 0)
  QString SORT2;        // upper bound "yyyymmdd" (unknown digits as 9; today for an open end)
  QString STYPE;        // "ABT", "EST", "CAL", "BET", "BEF", "AFT", "FRO", "OR", "B.C." or empty
  QString YEARS;        // the year shown for the date (four characters, may hold "?") or empty
  // The exact day, kUnknownDate when not complete and in a record no parser filled. Day 0 is an ordinary
  // day (30 December 1899), never a mark.
  TDateTime DDATE = kUnknownDate;
  QString CALEN;        // calendar escape found in the text ("@#DJULIAN@" ...) or a reader's event id
};

// One further event of a person.
struct TEVEN {
  QString EVEN;  // the value written on the event line
  QString TYP_;  // event type
  TDATES DATE;
  QString PLAC;
  QString NOTE;
};

// One association with another person.
struct TASSO {
  std::int32_t ID = 0;  // index in aIndi of the associated person; 0 when it names no person
  QString INDI;         // that person's cross-reference identifier
  QString RELA;         // relation word; empty for an association added as the back link
};

// One person.
struct TINDI {
  QString INDI;   // cross-reference identifier as written in the file (@I12@), or a database record id
  QString _UID;   // unique identifier from the file
  QString NAME;   // full name line as read
  QString GIVN;   // given names (first name and patronymic together)
  QString SURN;   // surname as read
  QString SURN0;  // surname at birth
  QString SURN1;  // current surname used for display
  QString SURN2;  // married surname as read
  QString FIRS1;  // first name, split from GIVN
  QString PATR1;  // patronymic (middle names), split from GIVN
  QString FIO1;   // display name built by the name template
  QString NSFX;   // name suffix
  QString NPFX;   // name prefix
  QString SEX;    // "M", "F", another letter or empty
  TDATES BIRT_DATE;
  QString BIRT_PLAC;
  QString BIRT_NOTE;
  QString DEAT;  // "+" when the person is known to be dead
  TDATES DEAT_DATE;
  QString DEAT_PLAC;
  QString DEAT_CAUS;
  QString DEAT_NOTE;
  std::int64_t FAMC = 0;           // index in aFam of the family in which the person is a child
  QString ADOP;                    // adopting family's number, a blank and "BOTH", "HUSB" or "WIFE"
  std::vector<std::int64_t> FAMS;  // indexes in aFam of the families where the person is a spouse
  QString RESI_PLAC;
  QString RESI_EMAIL;
  QString RESI_PHON;
  QString RESI_FAX;
  QString RESI_WWW;
  QString OCCU;
  QString NOTE;
  QString OBJE_FILE;
  QString OBJE_TITL;
  QString OBJE_PRIM;
  std::vector<TEVEN> EVEN;
  std::vector<TASSO> ASSO;
  TDateTime INSE = 0;  // created (database readers only)
  TDateTime EDIT = 0;  // last changed
  QString FAVOR;       // relation mark to the root person; empty when unrelated
  QString TECH;        // technical mark of the group edit tools
  std::int32_t iPr = 0;   // memoised ancestor count; -1 = not yet counted
  std::int32_t iPot = 0;  // memoised descendant count; -1 = not yet counted
  std::int32_t Tag1 = 0;  // scratch counters of the ancestor scheme
  std::int32_t Tag2 = 0;
};

// One family.
struct TFAM {
  QString FAM;                     // cross-reference identifier
  std::int64_t HUSB = 0;           // person index, 0 none
  std::int64_t WIFE = 0;           // person index, 0 none
  std::vector<std::int64_t> CHIL;  // person indexes
  QString MARR;                    // "x" for a marriage without details, else the value read (@M3@ ...)
  TDATES MARR_DATE;
  QString MARR_PLAC;
  QString MARR_NOTE;
  QString OBJE_FILE;
  QString OBJE_TITL;
  QString OBJE_PRIM;
  TDateTime CHAN = 0;  // last change
};

// File header of the last GEDCOM file read.
struct THEAD {
  QString SOUR;  // source program name
  QString NAME;  // source product name
  QString CHAR;  // character set; "UTF-8" decides decoding
  QString DATE;  // file date text
};

// A GEDCOM note record.
struct TNOTE {
  QString NOTE;  // its cross-reference identifier (@N5@)
  QString TEXT;  // the note text, lines joined with CR LF
};

// A hyperlink person record: adds family links to a person defined elsewhere.
struct TINDI_ {
  QString INDI_;                   // its own identifier
  QString INDI;                    // identifier of the target person
  std::int64_t FAMC = 0;           // raw family reference until merged
  std::vector<std::int64_t> FAMS;  // raw family references until merged
};

// A GEDCOM marriage record (identifier beginning with @M).
struct TMarr {
  QString ID;
  QString DATE;
  QString PLAC;
  QString NOTE;
};

// One element of the full-name layout stored in ".at4" databases.
struct TFullName {
  QString fieldID;
  QString abbr;
  QString prefix;
  QString suffix;
  QString emptyval;
};

// One compact person of the duplicate search; position = the person's index in aIndi.
struct TPers4 {
  QString ID;
  QString id_0;
  QString id_1;
  std::int32_t i_0 = 0;
  std::int32_t i_1 = 0;
  QString sex;
  QString Name;
  QString DateR;
  std::int32_t iYearR = 0;
  TDateTime dDateR = kUnknownDate;
  QString DateS;
  std::int32_t iYearS = 0;
  TDateTime dDateS = kUnknownDate;
  QString Fam;
  QString FamR;
  QString Im;
  QString Ot;
  std::int32_t iYearFirst = 9999;
  std::int32_t iYearLast = 0;
};
using TaPers4 = std::vector<TPers4>;

// The whole family tree. The program has one (TheModel()); tests make their own.
struct Model {
  std::vector<TINDI> aIndi;    // persons 1..N-1; element 0 empty
  std::vector<TFAM> aFam;      // families 1..M-1; element 0 empty
  std::vector<TNOTE> aNote;    // note records; element 0 empty
  std::vector<TMarr> aMarr;    // marriage records; element 0 empty
  std::vector<TINDI_> aIndi_;  // hyperlink person records; element 0 empty
  THEAD GedHead;               // header of the last GEDCOM file read
  bool AbortFlag = false;      // stop request for long runs
  TaPers4 aPers4;              // duplicate-search records, built once per loaded file
  std::vector<std::int32_t> aLinkExclude;  // family indexes a repeated kinship search skips
  // Counts the Clear() calls, i.e. the loads: a working list stamped with it is known stale after a
  // reload or a group edit.
  std::uint64_t LoadCount = 0;

  // A model holds its empty elements from the start, so the invariants hold before any load.
  Model();

  // What opening a file does before a reader runs: clears AbortFlag, empties aIndi, aFam, aNote,
  // aLinkExclude, aIndi_ and aPers4 and gives aIndi, aFam, aNote and aIndi_ their empty element 0.
  // aMarr and GedHead are left to the GEDCOM reader, which empties them itself. Counts up LoadCount.
  void Clear();

  // Everything back to the state of a new model (also aMarr and GedHead); used after a failed load.
  void Reset();

  // Number of real persons / families (without element 0).
  std::int64_t PersonCount() const { return static_cast<std::int64_t>(aIndi.size()) - 1; }
  std::int64_t FamilyCount() const { return static_cast<std::int64_t>(aFam.size()) - 1; }
};

// The program's one model.
Model& TheModel();

// Arrays grow by moving records; a throwing move would make every growth copy all records.
static_assert(std::is_nothrow_move_constructible_v<TINDI> && std::is_nothrow_move_constructible_v<TFAM>);
