// The ".at5" reader: turns an SQLite database of the genealogy program into the family-tree model.
// Persons come one per id of the Persons table (with their record-stamp row, their name values and
// their birth and death events' dates, places and notes looked up by key); then families are assembled
// from the roles persons play in events (child with father and mother, husband with wife), taken in the
// order of father, mother and order.
//
// Linear whatever the file's indexes: every table is read once in its own storage order (no index of the
// file is used) and every join is made in memory, so the cost does not depend on which indexes the file
// happens to have, and the rows held never exceed what the tables hold (an event with many fathers,
// mothers and children, whose combinations would outgrow the tables, is refused).
//
// What it never does: it never writes to the file nor leaves a file beside it (see platform/SqliteDb.h),
// never creates one, never runs a view or a virtual table where it expects a table, and never leaves a
// half-filled last person when stopped.
// Errors: EAt5Read (a keyed message: the file cannot be opened, is no SQLite database, is damaged or
// busy, lacks a table or column, has a view where a table belongs, holds too many role combinations, or
// took longer than the time limit); the model is then in an unspecified but valid state and the caller
// resets it. Missing values, links, places and dates give empty texts (a missing date gives the empty
// parsed date); values of the wrong type read as 0 or empty.
// Stopping: the progress callback runs while SQLite reads the tables, after each round of persons (10
// at first, growing to a few thousand) and every 10 rows of the family pass; when it has set
// model.AbortFlag, the read ends: during the table reads with an empty model, during the person pass
// before the next round is added, and the family pass does not start (or ends before its next row).
// The connection stays open after a read (until the next read or CloseAll), like the module's.
// Threads: the tables are read at once through helper connections of their own to the same file (while
// the module's connection holds its snapshot), and the persons of a round are filled on several threads
// from the rows kept in memory; the caller's thread makes every progress call, and no other thread
// touches the model while one runs. The model is the same for any number of threads.
#pragma once

#include "app/core/GDate.h"
#include "app/core/GedcomReader.h"
#include "app/core/Model.h"
#include "sources/Unit3.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <unordered_map>
#include <vector>

// An ".at5" file that cannot be read: the reason as a translation key with its Russian text.
class EAt5Read : public EFamilyTreeRead {
 public:
  enum Kind { OpenFailed, NotDatabase, Damaged, Busy, NotFamilyTree, NotATable, TooManyRoles, TooSlow, ReadFailed };
  // detail: the table or "table.column" for NotFamilyTree and NotATable.
  EAt5Read(Kind kind, const QString& path, const QString& detail = QString())
      : EFamilyTreeRead(Key(kind), DefaultText(kind), {path, detail}), kind_(kind) {}
  Kind What() const { return kind_; }
  using EFamilyTreeRead::DefaultText;
  using EFamilyTreeRead::Key;
  static QString Key(Kind kind);
  static QString DefaultText(Kind kind);

 private:
  Kind kind_;
};

// The rows of the data module's role query (TDataModule3::kRoleSQL), made in memory from the rows of the
// role table (columns p_id, e_id, er_id, e_ord, e_db_id, er_db_id; rows in any order): the same rows in
// the same order, whatever indexes the file has, in n log n time. The query's columns: the father's p_id,
// er_id and e_ord, the mother's p_id, er_id and e_ord, the child's p_id (a couple row: the event), and 1
// for a child row, 0 for a couple row (husband and wife, or roles 40 and 41, stand for father and mother).
// The role row set must outlive this object.
class TAt5RoleRows {
 public:
  explicit TAt5RoleRows(const platform::TSqliteRowSet& roles);
  // Makes the rows; false, with no rows, when they would be more than bound (a few events with hundreds
  // of fathers, mothers and children make millions of combinations).
  bool Make(std::uint64_t bound);
  std::size_t Size() const { return rows_.size(); }
  // REQUIRES: row < Size(), 0 <= col < 8.
  platform::TSqliteValue Value(std::size_t row, int col) const;
  bool Couple(std::size_t row) const { return rows_[row].couple; }
  // The role row whose person column 0 or 3 shows (the father or husband, the mother or wife), or whose
  // person column 6 of a child row shows; -1 when the column is NULL there. REQUIRES: row < Size().
  std::ptrdiff_t PersonRow(std::size_t row, int col) const;

 private:
  struct Row {
    std::uint32_t a, b, c;  // child row: child, father, mother; couple row: husband, wife
    bool couple;
  };
  struct Ref {
    const platform::TSqliteRowSet* set;
    std::size_t row;
    int col;
  };
  Ref Cell(const Row& r, int col) const;
  int Compare(const Row& x, const Row& y, int col) const;
  const platform::TSqliteRowSet& roles_;
  platform::TSqliteRowSet consts_;  // NULL, 0, 1
  std::vector<Row> rows_;
};

class TAt5Reader {
 public:
  // today fixes the date parser's "today" (the empty date's upper bound); tests pass a fixed one.
  TAt5Reader(Model& model, TDataModule3& dm, TDateContext today = TDateContext::Now());

  // Reads the file at path into the model (replacing what it held). nameTemplate builds FIO1 (the
  // default template when empty).
  void At5_Indi(const QString& path, const QString& nameTemplate = QString(), const GedProgress& progress = {});

  // The longest a read may keep SQLite working before it is given up (EAt5Read::TooSlow): a last guard
  // against a file that would keep it busy for ever, far above what any family tree takes.
  static constexpr std::chrono::milliseconds kDefaultTimeLimit = std::chrono::minutes(5);
  void SetTimeLimit(std::chrono::milliseconds limit) { timeLimit_ = limit; }

  // Value lookups over the open tables (see the .cpp for the rules). iTable <= 0 reads the table's
  // current row instead of looking one up.
  QString fDesc5(int iTable, int iField, std::int64_t iRec, int iFull, int iCRLF);
  QString fValue5(int iTable, int iField, std::int64_t iRec);
  QString fPlace5(int iTable, int iField, std::int64_t iRec, int iType);
  QString fDate5(const QString& sRid) const;
  TDATES ADate_RDates5(int iTable, std::int64_t iRec);

 private:
  struct Tables;
  void Read(const QString& path, const QString& nameTemplate, const GedProgress& progress);
  void CheckSchema();
  // Reads the person, stamp and role tables and fills the three value tables (prepared), several at once
  // through helper connections; stop ends every read (ESqliteError SQLITE_INTERRUPT), late tells that
  // the time limit set it.
  void ReadTables(Tables& t, std::atomic<bool>& stop, std::atomic<bool>& late,
                  std::chrono::steady_clock::time_point deadline);
  void PersonPass(Tables& t, const QString& nameTemplate, const GedProgress& progress);
  void FamilyPass(Tables& t, const GedProgress& progress);
  // Column positions in the value tables, found again whenever a table was (re)opened.
  struct Columns {
    std::uint64_t values = 0, links = 0, dates = 0;  // table generations the positions belong to
    int vstr = 0, vblob = 0, vlink = 0;
    int d = 0, m = 0, y = 0, d2 = 0, m2 = 0, y2 = 0, julian = 0, bc = 0, type = 0, sort1 = 0, sort2 = 0;
  };
  const Columns& Cols();
  // One person of the person pass, from the tables' kept rows alone: it changes nothing but p, so the
  // persons of a round are filled on several threads at once. A note whose short text may be cut takes
  // its whole text from the kept rows; when those lack it, the note is left for the caller's thread,
  // which reads the whole text from the file (longNote set).
  struct Start;
  void FillPerson(TINDI& p, const Start& s, std::int64_t index, const Tables& t, const QString& nameTemplate,
                  bool& longNote) const;
  // Kept-row lookups, safe on several threads: the short text of a value, the name of a linked place,
  // the date of a record.
  QString KeptText(int iTable, int iField, std::int64_t iRec) const;
  QString KeptPlace(int iTable, int iField, std::int64_t iRec, int iType) const;
  TDATES KeptDate(int iTable, std::int64_t iRec) const;
  // The date of one ValuesDates row whose columns field(position) gives; one rule for both lookups.
  template <typename Field>
  TDATES DateOf(const Field& field, const Columns& c) const;
  // The person whose _UID is the id's text (its decimal text for a number), 0 when none.
  std::int64_t PersonByUid(const QString& id) const;

  Model& model_;
  TDataModule3& dm_;
  TDateContext today_;
  std::chrono::milliseconds timeLimit_ = kDefaultTimeLimit;
  bool timedOut_ = false;
  TDATES empty_;  // the empty parsed date, made once
  Columns cols_;
  // Person index by id. Every _UID is the decimal text of an integer id, so a text id matches exactly
  // when it is the canonical decimal text of a key here.
  std::unordered_map<std::int64_t, std::int64_t> byId_;
};

// The reader as the program calls it, with the program's data module.
void At5_Indi(Model& model, TDataModule3& dm, const QString& path, const QString& nameTemplate = QString(),
              const GedProgress& progress = {});
