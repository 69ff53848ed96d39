// The fixture of the SQL statement tests: a started engine with the SQL layer installed, a folder
// of its own, and the database component "Family" on a new file in it, held open so that a
// transaction spans several runs. Statements run through a query component; outcomes are short
// texts ("rows N", or "E<code>" for an error) and table contents one "a|b|c" line per record.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/NRDDatabase.h"
#include "engine/components/NRDQuery.h"
#include "engine/components/NRDSession.h"
#include "engine/components/NRDTable.h"
#include "engine/foundation/NRDConverts.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/sql/NRDExpressions.h"

class SqlStatements : public ::testing::Test {
 protected:
  void SetUp() override {
    nrd::EngineStartup();
    nrd::sql::InstallExpressionHooks();
    static int counter = 0;
    dir_ = std::filesystem::temp_directory_path() /
           ("trevolan-sqlstmt-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    std::filesystem::create_directories(dir_);
    file_ = (dir_ / "family.at4").string();
    db_ = std::make_unique<nrd::TNRDDatabase>(nullptr);
    db_->SetDatabaseName("Family");
    db_->SetDatabaseFileName(file_);
    db_->SetSilentMode(true);
    db_->CreateDatabase();
    db_->Open();
  }
  // An empty database file again, for the next case of a table of scripts.
  void SetUpDatabaseAgain() {
    db_.reset();
    std::filesystem::remove(file_);
    db_ = std::make_unique<nrd::TNRDDatabase>(nullptr);
    db_->SetDatabaseName("Family");
    db_->SetDatabaseFileName(file_);
    db_->SetSilentMode(true);
    db_->CreateDatabase();
    db_->Open();
  }
  void TearDown() override {
    db_.reset();
    nrd::sql::RemoveExpressionHooks();
    nrd::EngineShutdown();
    std::filesystem::remove_all(dir_);
  }

  // The code of an engine failure: the native code written at the end of its message.
  static std::string CodeOf(const std::exception& e) {
    const std::string m = e.what();
    const std::string tag = "Native error: ";
    const std::size_t at = m.rfind(tag);
    if (at == std::string::npos) return "E?" + m;
    std::string digits = m.substr(at + tag.size());
    while (!digits.empty() && digits.front() == ' ') digits.erase(0, 1);
    while (digits.size() > 1 && digits.front() == '0') digits.erase(0, 1);
    return "E" + digits;
  }

  // Runs the text through a query component: "rows N" or "E<code>".
  std::string Exec(const std::string& sql) {
    nrd::TNRDQuery q(nullptr);
    q.SetDatabaseName("Family");
    q.SetParamCheck(false);
    try {
      q.SetSQL(sql);
      q.ExecSQL();
      return "rows " + std::to_string(q.RowsAffected());
    } catch (const std::exception& e) {
      return CodeOf(e);
    }
  }
  // The message of the failure the text raises ("" when it runs).
  std::string ExecMessage(const std::string& sql) {
    nrd::TNRDQuery q(nullptr);
    q.SetDatabaseName("Family");
    q.SetParamCheck(false);
    try {
      q.SetSQL(sql);
      q.ExecSQL();
      return "";
    } catch (const std::exception& e) {
      return e.what();
    }
  }

  std::unique_ptr<nrd::TNRDTable> Table(const std::string& name) {
    auto t = std::make_unique<nrd::TNRDTable>(nullptr);
    t->SetDatabaseName("Family");
    t->SetTableName(name);
    return t;
  }

  static std::string FieldText(const nrd::TField& f) {
    using namespace nrd;
    if (f.IsNull()) return "";
    switch (f.DataType()) {
      case ftDate: return DateToISO(f.AsDateTime());
      case ftTime: return TimeToISO(f.AsDateTime());
      case ftDateTime:
      case ftTimeStamp: return DateTimeToISO(f.AsDateTime());
      case ftFloat:
      case ftCurrency: return FloatToShortestText(f.AsFloat());
      case ftBlob:
      case ftMemo: return f.AsBytes();
      default: return ValueToText(f.AsVariant());
    }
  }
  // One "a|b|c" line per record of the table, in its physical order.
  std::vector<std::string> Rows(const std::string& name) {
    auto t = Table(name);
    t->Open();
    std::vector<std::string> rows;
    for (t->First(); !t->Eof(); t->Next()) {
      std::string line;
      for (std::int32_t i = 0; i < t->FieldCount(); ++i) line += (i > 0 ? "|" : "") + FieldText(t->Fields(i));
      rows.push_back(line);
    }
    t->Close();
    return rows;
  }
  // "name TYPE(size) [NOT NULL],..." of the stored table.
  std::string Columns(const std::string& name) {
    auto t = Table(name);
    t->UpdateFieldDefs();
    std::string out;
    for (std::int32_t i = 0; i < t->AdvFieldDefs().Count(); ++i) {
      const nrd::TNRDAdvFieldDef& d = t->AdvFieldDefs().GetDef(i);
      if (i > 0) out += ",";
      out += d.FName + " " + (d.FDataType == nrd::aftString ? "VARCHAR" : nrd::AdvancedFieldTypeToSQLName(d.FDataType));
      if (nrd::IsSizedAdvancedFieldType(d.FDataType)) out += "(" + std::to_string(d.FSize) + ")";
      if (d.FRequired) out += " NOT NULL";
    }
    return out;
  }

  std::filesystem::path dir_;
  std::string file_;
  std::unique_ptr<nrd::TNRDDatabase> db_;
};
