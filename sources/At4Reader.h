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
#include "sources/At4IdIndex.h"
#include "sources/Unit2.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// An ".at4" file that cannot be read: the reason as a translation key with its Russian text.
class EAt4Read : public EFamilyTreeRead {
 public:
  enum Kind { OpenFailed, NotDatabase, Damaged, NoPassword, NotFamilyTree, BadText, TooManyRoles, BadLayout, ReadFailed };
  // detail: the table, "table.column" or "table.index" for NotFamilyTree; "f_id r_id" of the value for
  // BadText; what is wrong for BadLayout; the engine's message for Damaged and ReadFailed.
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
  void Candidates(const QString& id, std::size_t limit, std::vector<std::int64_t>& out);

  Model& model_;
  // id -> its number -> the first person with it; ids of single-byte characters and others apart.
  TAt4IdIndex narrowIds_, wideIds_;
  std::vector<std::int64_t> narrowFirst_, wideFirst_;
  std::vector<std::int64_t> next_;  // person -> the next one with the same id, 0 for none
  std::string bytes_;               // an id's index bytes, reused
  std::vector<std::int64_t> who_;         // the persons a row looks at
  QString previousKey_, previousFather_, previousMother_;
  std::int64_t family_ = 0;
};

// The rows of the data module's role query (TDataModule2::kRoleSQL), made in memory from the rows of the
// role table (EventDetails: p_id, e_id, er_id, e_ord; rows in any order): the same rows in the same order,
// in n log n time, whatever indexes the file has. Ids compare as the engine's ORDER BY compares them (its
// collation of single-byte texts), NULL first. The query's columns: the father's p_id, er_id and e_ord,
// the mother's p_id, er_id and e_ord, the child's p_id (a couple row: the event), and the child's er_id
// for a child row, 0 for a couple row (husband and wife stand for father and mother).
class TAt4RoleRows {
 public:
  struct Role {
    std::string p, e, er;  // p_id, e_id, er_id as stored (single-byte texts)
    int role = -1;         // er_id as a number; -1 when it is none
    int ord = 0;
    bool pNull = true, eNull = true, erNull = true, ordNull = true;
  };
  std::vector<Role> roles;  // the table's rows, filled by the caller or by Read

  // Appends the rows of an open data set over the role table (fields p_id, e_id, er_id, e_ord), from its
  // current position to its end. Throws EAt4Read NotFamilyTree (naming path) for a missing field.
  void Read(nrd::TNRDDataSet& table, const QString& path);

  // Makes the rows; false, with no rows, when they would be more than bound (a few events with hundreds
  // of fathers, mothers and children make millions of combinations).
  bool Make(std::uint64_t bound);
  std::size_t Size() const { return rows_.size(); }
  // A cell as text ("" for NULL) and whether it is NULL; REQUIRES: row < Size(), 0 <= col < 8.
  const std::string& Text(std::size_t row, int col) const;
  bool Null(std::size_t row, int col) const;
  bool Couple(std::size_t row) const { return rows_[row].couple; }
  // The cell as the query shows it, "" for NULL (for the tests that hold these rows against the query).
  std::string Show(std::size_t row, int col) const;

 private:
  struct Row {
    std::uint32_t a, b, c;  // child row: child, father, mother; couple row: husband, wife
    bool couple;
  };
  int Compare(const Row& x, const Row& y, int col) const;
  std::vector<Row> rows_;
  std::vector<std::uint32_t> rank_;  // per role: rank of its p_id among all p_ids
};

class TAt4Reader {
 public:
  // today fixes the date parser's "today" (the open ends of dates); tests pass a fixed one.
  TAt4Reader(Model& model, TDataModule2& dm, TDateContext today = TDateContext::Now());
  ~TAt4Reader();
  TAt4Reader(const TAt4Reader&) = delete;
  TAt4Reader& operator=(const TAt4Reader&) = delete;

  // Reads the file at path into the model (replacing what it held).
  void At4_Indi(const QString& path, const GedProgress& progress = {});

  // Value lookups over the values, dates and places of the file read last (valid after At4_Indi, also
  // after one that failed late, until the next read; empty before). Ids are the file's texts. A value
  // of the codes the reader uses ("P_8" ... "P_11", "P_26", "E_6", "E_7", "E_14") is found; others are
  // not kept.
  QString fDesc4(const QString& sFid, const QString& sRid, int iFull, int iCRLF);
  QString fPlace4(const QString& sFid, const QString& sRid, int iType);
  QString fDate4(const QString& sRid);
  // The date converter: see dbvalues::At4Date.
  TDATES ADate_RDates4(const QString& sDateShort, int iDD, int iMM, int iYYYY, int iType, bool isJulian,
                       bool isDateBC) const;

 private:
  struct Store;
  struct Value;
  struct Record;  // the values of one person or event
  void Read(const QString& path, const GedProgress& progress);
  void OpenDatabase(const QString& path);
  void CheckSchema(const QString& path);
  void LoadStore();
  struct PersonRow;
  // The person query's rows from a scan of Persons put in the query's order; false (nothing read) when
  // that order cannot be had so (an id column that is not a single-byte text).
  bool PersonsByScan(std::vector<PersonRow>& rows);
  void PersonsByQuery(std::vector<PersonRow>& rows);
  void PersonPass(const GedProgress& progress);
  void FamilyPass(const GedProgress& progress);
  // The value (code, record) or null.
  const Value* Find(int code, const std::string& rid) const;
  // The values of the record rid (null for none, and for an empty id); its value of a code or null.
  const Record* RecordOf(const std::string& rid) const;
  const Value* ValueOf(const Record* r, int code) const;
  // A value's text: the whole text when iFull and vstr may be cut; CR LF made a blank unless iCRLF.
  QString TextOf(const Value& v, int iFull, int iCRLF) const;
  QString PlaceOf(const Value& v, int iType) const;
  // The event's date (Values "E_7" -> Dates); false when it has none.
  bool EventDate(const Record* event, TDATES& out) const;

  Model& model_;
  TDataModule2& dm_;
  TDateContext today_;
  TDATES empty_;  // the empty parsed date, made once
  QString path_;
  std::unique_ptr<Store> store_;
};

// The reader as the program calls it, with the program's data module.
void At4_Indi(Model& model, TDataModule2& dm, const QString& path, const GedProgress& progress = {});
