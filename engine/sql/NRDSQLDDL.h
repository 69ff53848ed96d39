// The data definition statements: CREATE TABLE, DROP TABLE, TRUNCATE [TABLE], ALTER TABLE (ADD,
// DROP, MODIFY, RENAME COLUMN, RENAME TO), RENAME [TABLE], CREATE [UNIQUE] INDEX and DROP INDEX.
// They parse column and index definitions into their own records and carry them out through a
// table component (create, delete, empty, rename, restructure, add and delete index), in the
// query's database, in memory or in another database file.
//
// Every setting of a column comes with a flag saying the statement wrote it, so that ALTER ...
// MODIFY changes only what was written. The table and database components a statement makes are
// freed when it finishes, also on failure. RowsAffected stays 0; there is no result cursor.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/NRDAdvDefs.h"
#include "engine/sql/NRDSQLCommand.h"

namespace nrd {

class TNRDTable;
class TNRDDatabase;

namespace sql {

// One column as written.
class TSQLFieldDef {
 public:
  std::string FieldName;
  bool CreateIfNotExists = false;
  bool newFieldType = false;
  TNRDAdvancedFieldType FieldType = aftUnknown;
  bool newLength = false;
  std::int32_t Length = 0;
  bool newRequired = false, Required = false;
  bool newAutoincIncrement = false;
  std::int64_t AutoincIncrement = 1;
  bool newAutoincLastValue = false;
  std::int64_t AutoincLastValue = 0;
  bool newAutoincMinValue = false;
  std::int64_t AutoincMinValue = 0;
  bool newAutoincMaxValue = false;
  std::int64_t AutoincMaxValue = INT64_MAX;
  bool newAutoincCycled = false, AutoincCycled = false;
  bool newBlobBlockSize = false;
  std::int32_t BlobBlockSize = 0;
  bool newBlobCompressionAlgorithm = false;
  TCompressionAlgorithm BlobCompressionAlgorithm = caNone;
  bool newBlobCompressionMode = false;
  std::uint8_t BlobCompressionMode = 0;
  bool newDefaultValue = false;
  TNRDVariant DefaultValue{bftUnknown};
  bool newMinValue = false;
  TNRDVariant MinValue{bftUnknown};
  bool newMaxValue = false;
  TNRDVariant MaxValue{bftUnknown};
};

class TSQLFieldDefs {
 public:
  TSQLFieldDef& AddCreated() { return *List.emplace_back(std::make_unique<TSQLFieldDef>()); }
  std::int32_t GetCount() const { return static_cast<std::int32_t>(List.size()); }
  TSQLFieldDef& GetDef(std::int32_t i) const { return *List.at(static_cast<std::size_t>(i)); }
  std::vector<std::unique_ptr<TSQLFieldDef>> List;
};

struct TNRDIndexField {
  std::string FieldName;
  bool desc = false;
  bool nocase = false;
};

// An index written in a column or table constraint.
struct TNRDSQLIndex {
  std::string IndexName;
  bool Unique = false;
  bool Primary = false;
  std::vector<TNRDIndexField> IndexFields;
};

enum TAlterType : std::uint8_t { atAdd, atDrop, atModify, atRenameColumn, atRenameTable };

class TNRDDDLTableManipulation : public TNRDSQLCommand {
 public:
  using TNRDSQLCommand::TNRDSQLCommand;
  // Demands the end of the command.
  void Parse() override;

  std::string Password;
  std::string DatabaseName;  // the database file name
  std::string TableName;
  std::string TableAlias;
  TSQLFieldDefs SQLFieldDefs;
  std::vector<TNRDSQLIndex> Indexes;

 protected:
  // The table reference at the current token.
  void ParseTable();
  // "( column-or-constraint {, column-or-constraint} )" from the current token.
  void ParseColumnDefinitions();
  // A table component (and, for another file, a database component) for the statement.
  void PrepareTable(bool buildDefinitions, std::unique_ptr<TNRDTable>& table, std::unique_ptr<TNRDDatabase>& db);
  // Adds the collected indexes to the table's extended and restructure index definitions.
  void BuildIndexDefs(TNRDTable& table, bool clearFirst);
  static void CopyFieldDef(const TSQLFieldDef& source, TNRDAdvFieldDef& dest);

 private:
  void ParseColumnType(TSQLFieldDef& def);
  void ParseAutoincOptions(TSQLFieldDef& def);
  void ParseColumnOptions(TSQLFieldDef& def);
  void ParseDefault(TSQLFieldDef& def);
  void ParseIndexColumns(TNRDSQLIndex& index);
  // A table constraint at the current token (PRIMARY KEY, [UNIQUE] INDEX); false when it is none.
  bool ParseTableConstraint();
  std::int64_t ParseIntegerLiteral();
};

class TNRDDDLCreateTable : public TNRDDDLTableManipulation {
 public:
  using TNRDDDLTableManipulation::TNRDDDLTableManipulation;
  void Parse() override;
  void ExecSQL(TNRDDataSet* query, bool isRoot, bool requestLive, bool& readOnly, TNRDAO* parentQueryAO,
               TNRDCursor* parentCursor) override;
  bool FCreateIfNotExists = false;
};

class TNRDDDLDropTable : public TNRDDDLTableManipulation {
 public:
  using TNRDDDLTableManipulation::TNRDDDLTableManipulation;
  void Parse() override;
  void ExecSQL(TNRDDataSet* query, bool isRoot, bool requestLive, bool& readOnly, TNRDAO* parentQueryAO,
               TNRDCursor* parentCursor) override;
};

class TNRDDDLTruncateTable : public TNRDDDLTableManipulation {
 public:
  using TNRDDDLTableManipulation::TNRDDDLTableManipulation;
  void Parse() override;
  void ExecSQL(TNRDDataSet* query, bool isRoot, bool requestLive, bool& readOnly, TNRDAO* parentQueryAO,
               TNRDCursor* parentCursor) override;
};

class TNRDDDLAlterTable : public TNRDDDLTableManipulation {
 public:
  using TNRDDDLTableManipulation::TNRDDDLTableManipulation;
  void Parse() override;
  void ExecSQL(TNRDDataSet* query, bool isRoot, bool requestLive, bool& readOnly, TNRDAO* parentQueryAO,
               TNRDCursor* parentCursor) override;

  TAlterType AlterType = atAdd;
  std::string NewPassword;
  bool NewEncrypted = false;
  std::vector<std::string> DropColumnNamesList;
  std::vector<std::string> RenameColumnOldNamesList;
  std::vector<std::string> RenameColumnNewNamesList;
  std::string NewTableName;
};

class TNRDDDLRenameTable : public TNRDDDLAlterTable {
 public:
  using TNRDDDLAlterTable::TNRDDDLAlterTable;
  void Parse() override;
};

class TNRDDDLCreateIndex : public TNRDSQLCommand {
 public:
  using TNRDSQLCommand::TNRDSQLCommand;
  void Parse() override;
  void ExecSQL(TNRDDataSet* query, bool isRoot, bool requestLive, bool& readOnly, TNRDAO* parentQueryAO,
               TNRDCursor* parentCursor) override;

  bool Unique = false;
  std::string IndexName, DatabaseFileName, TableName, TableAlias, Password;
  bool InMemory = false;
  std::vector<TNRDIndexField> NRDIndexFields;
};

class TNRDDDLDropIndex : public TNRDSQLCommand {
 public:
  using TNRDSQLCommand::TNRDSQLCommand;
  void Parse() override;
  void ExecSQL(TNRDDataSet* query, bool isRoot, bool requestLive, bool& readOnly, TNRDAO* parentQueryAO,
               TNRDCursor* parentCursor) override;

  std::string IndexName, DatabaseFileName, TableName, TableAlias, Password;
  bool InMemory = false;
};

}  // namespace sql
}  // namespace nrd
