// The data module of the ".at5" databases (SQLite files of the genealogy program whose trees we read):
// one connection, the person query, the keyed value tables and the work query, with the settings the
// reader and the group edit tools rely on. The program makes one (DataModule3()) before the main window;
// tests and tools make their own. The module only holds the components: who opens what is the reader's
// business. Main thread only.
#pragma once

#include "platform/SqliteDb.h"

#include <QObject>

class TDataModule3 : public QObject {
  Q_OBJECT
 public:
  explicit TDataModule3(QObject* owner = nullptr);
  ~TDataModule3() override;

  // The person query: one row per (person, name value), a person's rows contiguous (ordered by id).
  static const char* const kPersonSQL;
  // The role query of the family pass: child rows (a child with the father and mother of its event) and
  // couple rows (husband and wife of one event; the event in column 7, 0 in column 8), ordered so that
  // the rows of one father/mother pair are contiguous. The reader makes the same rows in memory (see
  // At5Reader.cpp); the text stays the definition they are checked against.
  static const char* const kRoleSQL;

  // Declared first: the tables and queries below are finalised before the connection closes.
  platform::TSqliteConnection FDConnection1;
  platform::TSqliteQuery FDQuery_{FDConnection1};
  platform::TSqliteTable FDTable_Dates{FDConnection1};        // ValuesDates on rec_table;rec_id
  platform::TSqliteTable FDTable_Values{FDConnection1};       // ValuesStr on rec_table;f_id;rec_id
  platform::TSqliteTable FDTable_ValuesLinks{FDConnection1};  // ValuesLinks on rec_table;f_id;rec_id
  platform::TSqliteQuery FDQuery_TMP{FDConnection1};

  // Closes the queries, the tables and the connection. Never throws.
  void CloseAll() noexcept;
};

// The program's data module, or null before the main block created it (or after it was freed).
TDataModule3* DataModule3();
