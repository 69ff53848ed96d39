// The ".at5" reader: turns an SQLite database of the genealogy program into the family-tree model.
// Persons come from the person query of the data module (one row per person and name value, a person's
// rows contiguous), with their birth and death events' dates, places and notes looked up by key; then
// families are assembled from the roles persons play in events (child with father and mother, husband
// with wife), whose rows the role query delivers ordered by father, mother and order.
//
// What it never does: it never writes to the file (the connection is read-only), never creates one,
// and never leaves a half-filled last person when stopped.
// Errors: a file that cannot be opened, is no SQLite database, or lacks a table or column the queries
// need raises platform::ESqliteError (a std::runtime_error with a readable message); the model is then
// in an unspecified but valid state and the caller resets it. Missing values, links, places and dates
// give empty texts (a missing date gives the empty parsed date); values of the wrong type read as 0 or
// empty.
// Stopping: the progress callback runs every 10 rows; when it has set model.AbortFlag, the person pass
// ends before the next person is added, and the family pass does not start (or ends before its next
// row). The connection stays open after a read (until the next read or CloseAll), like the module's.
// Single thread.
#pragma once

#include "app/core/GDate.h"
#include "app/core/GedcomReader.h"
#include "app/core/Model.h"
#include "sources/Unit3.h"

#include <QString>

#include <cstdint>
#include <unordered_map>

class TAt5Reader {
 public:
  // today fixes the date parser's "today" (the empty date's upper bound); tests pass a fixed one.
  TAt5Reader(Model& model, TDataModule3& dm, TDateContext today = TDateContext::Now());

  // Reads the file at path into the model (replacing what it held). nameTemplate builds FIO1 (the
  // default template when empty).
  void At5_Indi(const QString& path, const QString& nameTemplate = QString(), const GedProgress& progress = {});

  // Value lookups over the open tables (see the .cpp for the rules). iTable <= 0 reads the table's
  // current row instead of looking one up.
  QString fDesc5(int iTable, int iField, std::int64_t iRec, int iFull, int iCRLF);
  QString fValue5(int iTable, int iField, std::int64_t iRec);
  QString fPlace5(int iTable, int iField, std::int64_t iRec, int iType);
  QString fDate5(const QString& sRid) const;
  TDATES ADate_RDates5(int iTable, std::int64_t iRec);

 private:
  void PersonPass(const QString& nameTemplate, const GedProgress& progress);
  void FamilyPass(const GedProgress& progress);
  void StartPerson(TINDI& p, std::int64_t id);
  void FinishPerson(TINDI& p, std::int64_t id, const QString& nameTemplate);
  // Column positions in the value tables, found again whenever a table was (re)opened.
  struct Columns {
    std::uint64_t values = 0, links = 0, dates = 0;  // table generations the positions belong to
    int vstr = 0, vblob = 0, vlink = 0;
    int d = 0, m = 0, y = 0, d2 = 0, m2 = 0, y2 = 0, julian = 0, bc = 0, type = 0, sort1 = 0, sort2 = 0;
  };
  const Columns& Cols();
  // The person whose _UID is the id's text (its decimal text for a number), 0 when none.
  std::int64_t PersonByUid(const QString& id) const;

  Model& model_;
  TDataModule3& dm_;
  TDateContext today_;
  TDATES empty_;  // the empty parsed date, made once
  Columns cols_;
  // Person index by id. Every _UID is the decimal text of an integer id, so a text id matches exactly
  // when it is the canonical decimal text of a key here.
  std::unordered_map<std::int64_t, std::int64_t> byId_;
};

// The reader as the program calls it, with the program's data module.
void At5_Indi(Model& model, TDataModule3& dm, const QString& path, const QString& nameTemplate = QString(),
              const GedProgress& progress = {});
