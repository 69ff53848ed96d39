// Helpers of the SELECT tests: tables in the database "MEMORY" and a SELECT text run to rows.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/components/NRDSession.h"
#include "engine/components/NRDTable.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/sql/NRDSQLSelect.h"

namespace sqltest {

using namespace nrd;

struct Column {
  std::string name;
  TNRDAdvancedFieldType type;
  std::int32_t size;
};

// A table of the database "MEMORY"; "-" in a row stands for NULL.
inline void MakeTable(const std::string& name, const std::vector<Column>& columns,
                      const std::vector<std::vector<std::string>>& rows) {
  TNRDTable t;
  t.SetDatabaseName("MEMORY");
  t.SetTableName(name);
  for (const Column& c : columns) t.AdvFieldDefs().Add(c.name, c.type, c.size, false);
  t.CreateTable();
  t.Open();
  for (const auto& row : rows) {
    t.Append();
    for (std::size_t i = 0; i < row.size(); ++i)
      if (row[i] != "-") t.Fields(static_cast<std::int32_t>(i)).SetAsString(row[i]);
    t.Post();
  }
}

// The result of a SELECT: its column names, and its rows as "v1|v2|..." with "-" for NULL; or
// "E<code>" as the only row for an engine error.
struct Result {
  std::vector<std::string> names;
  std::vector<std::string> rows;
};

inline Result Select(const std::string& text, const std::string& database = "MEMORY") {
  Result r;
  try {
    TNRDLexer lex(text, nullptr, false);
    lex.GetNextCommand();
    sql::TNRDSQLContext context;
    context.DatabaseName = database;
    std::unique_ptr<sql::TNRDSQLUnion> u = sql::RunSelect(lex, context);
    TNRDTable& t = *u->GetResultDataset();
    for (std::int32_t i = 0; i < t.FieldCount(); ++i) r.names.push_back(t.Fields(i).FieldName());
    for (t.First(); !t.Eof(); t.Next()) {
      std::string line;
      for (std::int32_t i = 0; i < t.FieldCount(); ++i) {
        if (i > 0) line += "|";
        line += t.Fields(i).IsNull() ? "-" : t.Fields(i).AsString();
      }
      r.rows.push_back(line);
    }
  } catch (const ENRDException& e) {
    r.rows = {"E" + std::to_string(e.NativeError)};
  }
  return r;
}

inline std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

}  // namespace sqltest
