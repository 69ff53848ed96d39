// The data module of the ".at4" databases (files of the program's own database engine): the database
// component, the person query, the keyed tables of dates, values, places, roles and events, the work
// query and the kin-group query, with the settings the reader and the group edit tools rely on.
// The module only holds the components; who opens what is the reader's business.
//
// Read-only by default: the database component opens its file read-only, never offers to repair a
// file that was not closed cleanly (a repair rewrites the file) and asks for the password of an
// encrypted file through the engine's password dialog (platform/EngineDialogs.h).
//
// The program makes one (DataModule2()) before the main window; tests and tools make their own. Each
// module keeps the engine started while it lives. The program's module names its database "at4";
// others get a name of their own ("at4_2", ...), since names are unique in the engine's session.
// Main thread only.
#pragma once

#include "engine/components/NRDDatabase.h"
#include "engine/components/NRDQuery.h"
#include "engine/components/NRDTable.h"

#include <QObject>

#include <string>

class TDataModule2 : public QObject {
  Q_OBJECT

  // Holds the engine started (and its SQL layer registered) for as long as the module lives; first
  // member, so that it outlives every component below.
  struct EngineUse {
    EngineUse();
    ~EngineUse();
    EngineUse(const EngineUse&) = delete;
    EngineUse& operator=(const EngineUse&) = delete;
  };
  EngineUse engine_;

 public:
  explicit TDataModule2(QObject* owner = nullptr);
  ~TDataModule2() override;

  // The person query's text; "%1" stands for the Persons table's name between double quotes.
  static const char* const kPersonSQL;
  // The role query of the family pass (child rows and couple rows, ordered by father, mother, order).
  static const char* const kRoleSQL;
  // The kin groups with their names and links, and a row "----".
  static const char* const kFamiliesSQL;

  // The name the data sets reach the database by.
  const std::string& DatabaseName() const { return databaseName_; }

  // Declared first: the data sets below close before the database does.
  nrd::TNRDDatabase dbAT4;
  nrd::TNRDQuery Query_;
  nrd::TNRDTable Table_Dates;
  nrd::TNRDTable Table_Values;
  nrd::TNRDQuery Query_TMP;
  nrd::TNRDTable Table_Place;
  nrd::TDataSource PersonsSource;  // the person query, master of EventDetailsTable
  nrd::TNRDTable EventDetailsTable;
  nrd::TNRDTable EventsTable;
  nrd::TNRDQuery QueryFamilies;
  nrd::TDataSource EventDetailsSource;
  nrd::TDataSource FamiliesSource;
  nrd::TNRDTable EventDetailsTable2;

  // Closes every data set and the database. Never throws.
  void CloseAll() noexcept;

 private:
  std::string databaseName_;
};

// The program's data module, or null before the main block created it (or after it was freed).
TDataModule2* DataModule2();
