// The ".at4" reader: turns a database of the program's own engine (the genealogy program's ".at4"
// file) into the family-tree model. Persons come one per row of the person query, in the order of
// their ids, with names, sex, residence and the dates, places and notes of their birth and death
// events looked up by key; then families are assembled from the roles persons play in events (child
// with father and mother, husband with wife), in the order of father, mother and order.
//
// What it never does: it never writes the file (the database is opened read-only and is never
// offered for repair, so its bytes and modification time stay as they were, also after a stopped or
// failed read), and never leaves a half-filled last person when stopped.
// Errors: EAt4Read (a keyed message: the file is missing, is no database of the engine, is damaged,
// wants a password that was not given, lacks a table, column or index of the genealogy schema, or holds
// a text value that is not UTF-16); the model is then in an unspecified but valid state and the caller
// resets it. Missing values, places and dates (an id that points nowhere) give empty texts; a missing
// birth or death date gives the empty parsed date.
// Stopping: the progress callback runs every 10 rows; when it has set model.AbortFlag, the person pass
// ends before the next person is added and the family pass does not start (or ends before its next
// row). The database stays open (read-only) after a read, until the next read or the module's CloseAll.
// Single thread.
#pragma once

#include "app/core/GDate.h"
#include "app/core/GedcomReader.h"
#include "app/core/Model.h"
#include "sources/Unit2.h"

#include <QHash>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

// An ".at4" file that cannot be read: the reason as a translation key with its Russian text.
class EAt4Read : public EFamilyTreeRead {
 public:
  enum Kind { OpenFailed, NotDatabase, Damaged, NoPassword, NotFamilyTree, BadText, ReadFailed };
  // detail: the table, "table.column" or "table.index" for NotFamilyTree; "f_id r_id" of the value for
  // BadText; the engine's message for Damaged and ReadFailed.
  EAt4Read(Kind kind, const QString& path, const QString& detail = QString())
      : EFamilyTreeRead(Key(kind), DefaultText(kind), {path, detail}), kind_(kind) {}
  Kind What() const { return kind_; }
  using EFamilyTreeRead::DefaultText;
  using EFamilyTreeRead::Key;
  static QString Key(Kind kind);
  static QString DefaultText(Kind kind);

 private:
  Kind kind_;
};

// Families assembled from the rows of the role query, in their order: rows of one father/mother key
// make one family. Persons are found by id through a map that keeps the rules of a scan over all
// persons from index 1: a person whose id is the child's is a child; else the father's id while the
// family has no husband; else the mother's while it has no wife; the scan ends once the row's three
// persons are known (counting those already known or missing). A couple row sets the husband and, when
// the family has none yet, the wife; a wife already known is not listed in her families twice.
class TAt4FamilyBuilder {
 public:
  // Indexes the persons model.aIndi holds now.
  explicit TAt4FamilyBuilder(Model& model);
  // A child row; the family it went to, 0 when the row has neither father nor mother.
  std::int64_t ChildRow(const QString& father, const QString& mother, const QString& child);
  // A couple row (husband, wife) of an event: the family gets MARR "x"; with an event (not empty) its
  // spouses are looked up as above when it has no husband yet. The family, 0 when skipped.
  std::int64_t CoupleRow(const QString& husband, const QString& wife, bool withEvent);

 private:
  std::int64_t FamilyOf(const QString& father, const QString& mother);
  // The first persons (at most `limit`) whose _UID is id, in index order.
  void Candidates(const QString& id, std::size_t limit, std::vector<std::int64_t>& out) const;

  Model& model_;
  QHash<QString, std::vector<std::int64_t>> byId_;
  QString previousKey_;
  std::int64_t family_ = 0;
};

class TAt4Reader {
 public:
  // today fixes the date parser's "today" (the open ends of dates); tests pass a fixed one.
  TAt4Reader(Model& model, TDataModule2& dm, TDateContext today = TDateContext::Now());

  // Reads the file at path into the model (replacing what it held).
  void At4_Indi(const QString& path, const GedProgress& progress = {});

  // Value lookups over the open tables (see the .cpp for the rules); ids are the texts of the file.
  QString fDesc4(const QString& sFid, const QString& sRid, int iFull, int iCRLF);
  QString fPlace4(const QString& sFid, const QString& sRid, int iType);
  QString fDate4(const QString& sRid);
  // The date converter: see dbvalues::At4Date.
  TDATES ADate_RDates4(const QString& sDateShort, int iDD, int iMM, int iYYYY, int iType, bool isJulian,
                       bool isDateBC) const;

 private:
  struct Fields;
  void Read(const QString& path, const GedProgress& progress);
  void OpenDatabase(const QString& path);
  void OpenTables(const QString& path);
  void PersonPass(const GedProgress& progress);
  void FamilyPass(const GedProgress& progress);
  // The Values row (f_id, r_id) made current; false when there is none.
  bool FindValue(const char* fid, const std::string& rid);
  // The current Values row's text (the whole text from vblob when iFull and vstr may be cut).
  QString ValueText(int iFull, int iCRLF);
  // The event's date (Values "E_7" -> Dates); false when it has none.
  bool EventDate(const std::string& event, TDATES& out);

  Model& model_;
  TDataModule2& dm_;
  TDateContext today_;
  TDATES empty_;  // the empty parsed date, made once
  QString path_;
  Fields* f_ = nullptr;  // the open tables' fields, while a read runs
};

// The reader as the program calls it, with the program's data module.
void At4_Indi(Model& model, TDataModule2& dm, const QString& path, const GedProgress& progress = {});
