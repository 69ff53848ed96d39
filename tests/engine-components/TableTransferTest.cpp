// Moving records: import, export, copy (also into another file), batch move in every mode,
// restructure, and the SQL script of a table.
#include <gtest/gtest.h>

#include "ComponentsFixture.h"
#include "engine/components/NRDExportToSQL.h"
#include "engine/foundation/NRDExcept.h"

using namespace nrd;

namespace {

int NativeError(const std::function<void()>& f) {
  try {
    f();
  } catch (const ENRDException& e) {
    return e.NativeError;
  } catch (const std::exception&) {
    return -1;
  }
  return 0;
}

class TableTransfer : public ComponentsTest {
 protected:
  void SetUp() override {
    ComponentsTest::SetUp();
    Database("Family", file_);
  }
  std::unique_ptr<TNRDTable> Make(const std::string& name, const std::vector<std::pair<int, std::string>>& rows) {
    auto t = Table("Family", name);
    t->AdvFieldDefs().Add("id", aftInteger, 0, true);
    t->AdvFieldDefs().Add("name", aftString, 20, false);
    t->AdvIndexDefs().Add("pk", "id", ixPrimary);
    t->CreateTable();
    t->Open();
    for (const auto& [id, text] : rows) t->AppendRecord({IntValue(id), TextValue(text)});
    t->Close();
    return t;
  }
  static std::string Rows(TNRDTable& t) {
    const bool was = t.Active();
    if (!was) t.Open();
    std::string out;
    for (t.First(); !t.Eof(); t.Next()) {
      for (std::int32_t i = 0; i < t.FieldCount(); ++i)
        out += (i ? "|" : "") + (t.Fields(i).IsNull() ? std::string("-") : t.Fields(i).AsString());
      out += "\n";
    }
    if (!was) t.Close();
    return out;
  }
};

}  // namespace

TEST_F(TableTransfer, CopyWithinAndIntoAnotherFile) {
  auto src = Make("Src", {{1, "a"}, {2, "b"}, {3, "c"}});
  // Same database, same name in other letters: refused.
  EXPECT_EQ(NativeError([&] { src->CopyTable("SRC"); }), 30447);
  // The same file reached by another path is the same database.
  const std::string otherPath = (dir_ / "." / "family.at4").string();
  EXPECT_EQ(NativeError([&] { src->CopyTable("src", otherPath, ""); }), 30447);

  ASSERT_TRUE(src->CopyTable("Dst"));
  auto dst = Table("Family", "Dst");
  EXPECT_EQ(Rows(*dst), "1|a\n2|b\n3|c\n");
  EXPECT_EQ(NativeError([&] { src->CopyTable("Dst"); }), 30448) << "exists already";

  const std::string other = (dir_ / "other.at4").string();
  Database("Other", other);
  ASSERT_TRUE(src->CopyTable("Copied", other, ""));
  auto copied = Table("Other", "Copied");
  EXPECT_EQ(Rows(*copied), "1|a\n2|b\n3|c\n");
  copied->UpdateIndexDefs();
  EXPECT_NE(copied->IndexDefs().IndexOf("pk"), -1) << "indexes come along";

  // Stopped through the progress handler.
  std::string log;
  bool cont = true;
  src->OnCopyProgress = [](TComponent&, std::int32_t, bool& c) { c = false; };
  src->CopyTable("Stopped", log, cont, "", "", false, false, true, 0, 100);
  EXPECT_NE(log.find("Terminated by User.\r\n"), std::string::npos);
}

TEST_F(TableTransfer, ImportAndExport) {
  auto src = Make("Src", {{1, "a"}, {2, "b"}});
  auto imported = Table("Family", "Imported");
  std::string log;
  EXPECT_TRUE(imported->ImportTable(*src, log, nullptr)) << log;
  EXPECT_EQ(Rows(*imported), "1|a\n2|b\n");

  auto exported = Table("Family", "Exported");
  log.clear();
  EXPECT_TRUE(src->ExportTable(*exported, [&] { exported->CreateTable(); }, log)) << log;
  EXPECT_EQ(Rows(*exported), "1|a\n2|b\n");

  log.clear();
  EXPECT_FALSE(src->ExportTable(*exported, [&] { throw std::runtime_error("no room"); }, log));
  EXPECT_EQ(log, "Error exporting table. Cannot create table due to error: no room\r\n");
}

TEST_F(TableTransfer, BatchMoveModes) {
  struct Case {
    TNRDBatchMoveType type;
    std::string expected;
  };
  // Destination 1:a 2:b 4:d; source 2:B 3:C 4:D.
  const std::vector<Case> cases = {
      {bmtAppend, "1|a\n2|b\n3|C\n4|d\n"},
      {bmtAppendUpdate, "1|a\n2|B\n3|C\n4|D\n"},
      {bmtUpdate, "1|a\n2|B\n4|D\n"},
      {bmtDelete, "1|a\n"},
      {bmtCopy, "2|B\n3|C\n4|D\n"},
      {bmtSynchronize, "2|B\n3|C\n4|D\n"},
  };
  int k = 0;
  for (const Case& c : cases) {
    const std::string n = std::to_string(k++);
    auto dst = Make("Dst" + n, {{1, "a"}, {2, "b"}, {4, "d"}});
    auto src = Make("Src" + n, {{2, "B"}, {3, "C"}, {4, "D"}});
    dst->BatchMove(*src, c.type);
    dst->SetIndexName("pk");
    EXPECT_EQ(Rows(*dst), c.expected) << "mode " << static_cast<int>(c.type);
  }
}

TEST_F(TableTransfer, RestructureAddsDropsAndRetypes) {
  auto t = Make("T", {{1, "10"}, {2, "20"}});
  t->UpdateIndexDefs();
  TNRDAdvFieldDefs& defs = t->RestructureFieldDefs();
  defs.Add("extra", aftString, 10, false);
  // name becomes an integer column; id stays.
  defs.Find("name")->FDataType = aftInteger;
  defs.Find("name")->FSize = 0;
  t->RestructureIndexDefs().Add("byName", "name", 0);
  std::string log;
  ASSERT_TRUE(t->RestructureTable(log)) << log;
  EXPECT_EQ(t->TableName(), "T");
  t->Open();
  EXPECT_EQ(t->FieldByName("name").DataType(), ftInteger);
  EXPECT_EQ(Rows(*t), "1|10|-\n2|20|-\n");
  t->Close();
  t->UpdateIndexDefs();
  EXPECT_NE(t->IndexDefs().IndexOf("byName"), -1);

  // A dropped column.
  t->RestructureFieldDefs().DeleteFieldDef("extra");
  ASSERT_TRUE(t->RestructureTable(log)) << log;
  EXPECT_EQ(Rows(*t), "1|10\n2|20\n");
  std::vector<std::string> tables;
  dbs_[0]->GetTablesList(tables);
  EXPECT_EQ(tables, std::vector<std::string>{"T"}) << "no old table left behind";

  // A copy error (a value that does not fit the new type) leaves the old table under its name.
  auto u = Make("U", {{1, "not a number"}});
  u->UpdateIndexDefs();
  u->RestructureFieldDefs().Find("name")->FDataType = aftInteger;
  u->RestructureFieldDefs().Find("name")->FSize = 0;
  EXPECT_ANY_THROW(u->RestructureTable(log));
  EXPECT_EQ(u->TableName(), "U");
  EXPECT_EQ(Rows(*u), "1|not a number\n");
  tables.clear();
  dbs_[0]->GetTablesList(tables);
  EXPECT_EQ(tables.size(), 2u);
}

TEST_F(TableTransfer, SQLScriptGoldenText) {
  SetReservedWordFinder([](std::string_view w) { return w == "date" || w == "DATE" || w == "Date" ? 1 : -1; });
  auto t = Table("Family", "My Table");
  t->AdvFieldDefs().Add("id", aftInteger, 0, true);
  TNRDAdvFieldDef& name = t->AdvFieldDefs().Add("name", aftString, 20, false);
  name.FDefaultValue.SetAsAnsiString("it's");
  t->AdvFieldDefs().Add("Date", aftDate, 0, false);
  t->AdvFieldDefs().Add("ok", aftBoolean, 0, false);
  t->AdvFieldDefs().Add("raw", aftBlob, 0, false);
  t->AdvIndexDefs().Add("pk", "id", ixPrimary);
  t->AdvIndexDefs().Add("byName", "name;id", 0, false, "id", "name");
  t->CreateTable();
  t->Open();
  t->AppendRecord({IntValue(1), TextValue("O'Neil"), DateTimeValue(45351), BoolValue(true), TextValue("hi")});
  t->AppendRecord({IntValue(2), NullValue(), NullValue(), BoolValue(false), NullValue()});
  t->Close();
  t->ExportToSqlOptions().Data = true;
  EXPECT_EQ(t->ExportToSQL(),
            "DROP TABLE 'My Table';\r\n"
            "CREATE TABLE 'My Table' (\r\n"
            "  id INTEGER NOT NULL,\r\n"
            "  name VARCHAR(20) DEFAULT 'it''s',\r\n"
            "  'Date' DATE,\r\n"
            "  ok LOGICAL,\r\n"
            "  raw BLOB, \r\n"
            "  PRIMARY KEY pk (id), \r\n"
            "  INDEX byName (name NOCASE, id DESC)\r\n"
            ");\r\n"
            "INSERT INTO 'My Table' values (1, 'O''Neil', '2024-02-29', True, MIMETOBIN('aGk='));\r\n"
            "INSERT INTO 'My Table' values (2, NULL, NULL, False, NULL);\r\n"
            "\r\n");
  SetReservedWordFinder(nullptr);
}
