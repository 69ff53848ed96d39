// A column read from the record buffer gives what the field's own getters give, for every column of
// every table of a generated ".at4" file (texts, wide texts, integers, Booleans, NULLs and BLOBs) and
// for a query's result, including the getters that raise.
#include "sources/RecordColumn.h"

#include "sources/Unit2.h"
#include "tools/At4Synth.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <functional>
#include <string>
#include <vector>

namespace {

// The getter's result as text, or "raises" when it raises.
template <typename F> std::string Outcome(F get) {
  try {
    if constexpr (std::is_same_v<decltype(get()), std::u16string>) {
      const std::u16string w = get();
      return "w:" + QString::fromStdU16String(w).toStdString();
    } else if constexpr (std::is_same_v<decltype(get()), std::string>) {
      return "s:" + get();
    } else {
      return "n:" + std::to_string(get());
    }
  } catch (const std::exception&) {
    return "raises";
  }
}

// Every field of every row: the view against the field. Returns the number of values compared.
int CompareAll(nrd::TNRDDataSet& ds, const std::string& what) {
  std::vector<TRecordColumn> columns;
  for (int i = 0; i < ds.FieldCount(); ++i) columns.emplace_back(ds, ds.Fields(i));
  int compared = 0, row = 0;
  for (ds.First(); !ds.Eof(); ds.Next(), ++row) {
    for (const TRecordColumn& c : columns) {
      const nrd::TField& f = c.Field();
      SCOPED_TRACE(what + " row " + std::to_string(row) + " " + f.FieldName());
      EXPECT_EQ(c.IsNull(), f.IsNull());
      EXPECT_EQ(Outcome([&] { return c.AsString(); }), Outcome([&] { return f.AsString(); }));
      EXPECT_EQ(Outcome([&] { return c.AsWideString(); }), Outcome([&] { return f.AsWideString(); }));
      EXPECT_EQ(Outcome([&] { return c.AsInteger(); }), Outcome([&] { return f.AsInteger(); }));
      EXPECT_EQ(Outcome([&] { return c.AsBoolean(); }), Outcome([&] { return f.AsBoolean(); }));
      EXPECT_EQ(c.AsQString(), QString::fromStdU16String(c.AsWideString()));
      ++compared;
    }
  }
  return compared;
}

}  // namespace

TEST(RecordColumn, ReadsWhatTheFieldReadsInEveryColumnOfEveryTable) {
  QTemporaryDir dir;
  TDataModule2 dm;
  const std::string path = dir.filePath(QStringLiteral("c.at4")).toStdString();
  at4synth::WriteAt4(at4synth::MakeTree(80, 3), path);
  dm.dbAT4.SetDatabaseFileName(path);
  dm.dbAT4.Open();
  int compared = 0;
  for (const char* name : {"Persons", "Values", "Dates", "Places", "EventDetails", "Events", "global"}) {
    nrd::TNRDTable t;
    t.SetDatabaseName(dm.DatabaseName());
    t.SetTableName(name);
    t.SetReadOnly(true);
    t.Open();
    compared += CompareAll(t, name);
    t.Close();
  }
  // A query's result (a temporary table) with its own column names.
  dm.Query_TMP.SetSQL("select p.id, p.fullname fio, p.isfav, d.y, d.type, d.isjulian, d.shortname from Persons p "
                      "left join Values v on v.r_id = p.birth_id and v.f_id = 'E_7' left join Dates d on d.id = v.vlink "
                      "order by p.id");
  dm.Query_TMP.Open();
  compared += CompareAll(dm.Query_TMP, "query");
  dm.CloseAll();
  EXPECT_GT(compared, 5000);
}
