// The ".at5" reader: generated trees read back to their expected dump, the same tree as GEDCOM, and small
// hand-made databases for the rules of persons, values, dates, families, stopping and failures.
#include "sources/At5Reader.h"

#include "app/core/GDate.h"
#include "app/core/GedcomReader.h"
#include "app/core/ModelDump.h"
#include "app/core/UnitFunc.h"
#include "sources/DbValues.h"
#include "tools/At5Synth.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>

namespace {

const TDateContext kToday = TDateContext::ForDate(QDate(2026, 5, 17));

class At5Reader : public ::testing::Test {
 protected:
  // A database with the schema and no rows, plus the given SQL.
  std::string Db(const std::string& sql, bool indexes = true, const char* name = "t.at5") {
    const std::string path = dir_.filePath(QString::fromLatin1(name)).toStdString();
    at5synth::WriteAt5(at5synth::Tree{}, path, indexes);
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* err = nullptr;
    // One transaction: a statement each would sync the file as many times.
    EXPECT_EQ(sqlite3_exec(db, ("BEGIN;" + sql + ";COMMIT;").c_str(), nullptr, nullptr, &err), SQLITE_OK)
        << (err ? err : "");
    sqlite3_free(err);
    sqlite3_close(db);
    return path;
  }
  Model Read(const std::string& path, const GedProgress& progress = {}) {
    Model m;
    TAt5Reader(m, dm_, kToday).At5_Indi(QString::fromStdString(path), QString(), progress);
    return m;
  }
  std::string Message(const std::string& path) {
    try {
      Read(path);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "(no error)";
  }

  QTemporaryDir dir_;
  TDataModule3 dm_;
};

// A person row and its stamp row.
std::string Person(std::int64_t id, const char* sex = "1", std::int64_t birth = 0, std::int64_t death = 0) {
  return "INSERT INTO Persons VALUES (" + std::to_string(id) + ",0,0," + sex + "," + std::to_string(birth) + "," +
         std::to_string(death) + ");INSERT INTO __Recs VALUES (" + std::to_string(id) + ",13,0,NULL,NULL);";
}
std::string Value(int table, int field, std::int64_t rec, const std::string& vstr, const std::string& vblob = "NULL") {
  return "INSERT INTO ValuesStr VALUES (" + std::to_string(field) + ",-1," + std::to_string(rec) + ",0," +
         std::to_string(table) + ",2," + vstr + "," + vblob + ",0,0,NULL);";
}
std::string Role(std::int64_t person, std::int64_t event, int role, int ord = 0) {
  return "INSERT INTO EventDetails VALUES (" + std::to_string(person) + "," + std::to_string(event) + "," +
         std::to_string(role) + "," + std::to_string(ord) + ",0,0);";
}
// A date row of event e: "d, m, y, d2, m2, y2, isjulian, isdateBC, type, sortdate, sortdate2".
std::string DateRow(std::int64_t e, const std::string& values) {
  const std::string v = values;
  return "INSERT INTO ValuesDates (f_id,f_db_id,rec_id,rec_db_id,rec_table,d,m,y,d2,m2,y2,isjulian,isdateBC,type,"
         "sortdate,sortdate2,lconf,ltrust) VALUES (29,-1," + std::to_string(e) + ",0,7," + v + ",0,0);";
}

}  // namespace

// ---------------------------------------------------------------- generated trees

class At5GeneratedTree : public At5Reader, public ::testing::WithParamInterface<at5synth::Indexes> {};

TEST_P(At5GeneratedTree, ReadsBackToTheExpectedDump) {
  for (std::uint64_t seed : {1u, 7u}) {
    const at5synth::Tree tree = at5synth::MakeTree(400, seed);
    const std::string path = dir_.filePath("g.at5").toStdString();
    at5synth::WriteAt5(tree, path, GetParam());
    const Model got = Read(path);
    const QString expected = DumpModel(at5synth::Expected(tree, kToday), kToday.today);
    const QString actual = DumpModel(got, kToday.today);
    ASSERT_EQ(actual.toStdString(), expected.toStdString()) << "seed " << seed;
    EXPECT_GT(got.FamilyCount(), 100);
    // The connection stays open after a read; the work components are closed.
    EXPECT_TRUE(dm_.FDConnection1.Connected());
    EXPECT_FALSE(dm_.FDTable_Values.Active());
    EXPECT_FALSE(dm_.FDQuery_TMP.Active());
  }
}

// A tree large enough that the person pass fills its later rounds on several threads (and reads the whole
// texts of long notes between them) gives the same dump, to the last person.
TEST_F(At5Reader, PersonsFilledOnSeveralThreadsReadBackToTheExpectedDump) {
  const at5synth::Tree tree = at5synth::MakeTree(6000, 11);
  const std::string path = dir_.filePath("threads.at5").toStdString();
  at5synth::WriteAt5(tree, path, at5synth::Indexes::Keys);
  const Model got = Read(path);
  EXPECT_GT(got.PersonCount(), 5000);
  ASSERT_EQ(DumpModel(got, kToday.today).toStdString(),
            DumpModel(at5synth::Expected(tree, kToday), kToday.today).toStdString());
}

INSTANTIATE_TEST_SUITE_P(EveryIndexLayout, At5GeneratedTree,
                         ::testing::Values(at5synth::Indexes::None, at5synth::Indexes::Keys, at5synth::Indexes::All,
                                           at5synth::Indexes::Others));

// The same tree read from GEDCOM gives the same persons, families and dates, except for the fields each
// format fills its own way: identifiers (INDI, _UID), record stamps (INSE, EDIT), the event id kept in
// BIRT_DATE.CALEN, SURN of a woman (GEDCOM: the birth surname), the GEDCOM date text ORIG (the ".at5"
// form is rebuilt from the display text: " MAR 1900", "BET 05 MAR 1900 AND 07.04.1902") and the sort
// keys of partial dates (stored by the database, computed by the GEDCOM date grammar).
TEST_F(At5Reader, SameTreeAsGedcomGivesTheSamePersonsFamiliesAndDates) {
  const at5synth::Tree tree = at5synth::MakeTree(300, 3);
  const std::string path = dir_.filePath("g.at5").toStdString();
  at5synth::WriteAt5(tree, path, true);
  const Model a = Read(path);
  Model g;
  Ged_IndiFromBytes(g, at5synth::Gedcom(tree));
  ASSERT_EQ(a.PersonCount(), g.PersonCount());
  ASSERT_EQ(a.FamilyCount(), g.FamilyCount());

  std::map<QString, std::int64_t> gByUid;  // "1007" -> index in g
  for (std::int64_t i = 1; i <= g.PersonCount(); ++i) gByUid[g.aIndi[std::size_t(i)].INDI.mid(2).chopped(1)] = i;
  const auto uidA = [&](std::int64_t i) { return i ? a.aIndi[std::size_t(i)]._UID : QString(); };
  const auto uidG = [&](std::int64_t i) { return i ? g.aIndi[std::size_t(i)].INDI.mid(2).chopped(1) : QString(); };
  const auto sameDate = [](const TDATES& x, const TDATES& y, const QString& where) {
    EXPECT_EQ(x.NORM, y.NORM) << where.toStdString();
    EXPECT_EQ(x.YEARS, y.YEARS) << where.toStdString() << " " << x.NORM.toStdString();
    EXPECT_EQ(x.STYPE, y.STYPE) << where.toStdString() << " " << x.NORM.toStdString();
    // A range has no day number here; the GEDCOM grammar gives its first day.
    if (x.STYPE != u"BET") {
      EXPECT_EQ(x.DDATE, y.DDATE) << where.toStdString() << " " << x.NORM.toStdString();
    }
    // Whole days: the keys agree.
    if (x.DDATE != kUnknownDate) {
      EXPECT_EQ(x.SORT1, y.SORT1) << where.toStdString();
      EXPECT_EQ(x.SORT2, y.SORT2) << where.toStdString();
    }
  };
  for (std::int64_t i = 1; i <= a.PersonCount(); ++i) {
    const TINDI& p = a.aIndi[std::size_t(i)];
    ASSERT_TRUE(gByUid.count(p._UID)) << p._UID.toStdString();
    const TINDI& q = g.aIndi[std::size_t(gByUid[p._UID])];
    const QString w = p._UID;
    EXPECT_EQ(p.SEX, q.SEX) << w.toStdString();
    EXPECT_EQ(p.SURN1, q.SURN1) << w.toStdString();
    EXPECT_EQ(p.SURN0, q.SURN0) << w.toStdString();
    EXPECT_EQ(p.FIRS1, q.FIRS1) << w.toStdString();
    EXPECT_EQ(p.PATR1, q.PATR1) << w.toStdString();
    EXPECT_EQ(p.GIVN.trimmed(), q.GIVN.trimmed()) << w.toStdString();
    EXPECT_EQ(p.FIO1, q.FIO1) << w.toStdString();
    sameDate(p.BIRT_DATE, q.BIRT_DATE, w + QStringLiteral(" birth"));
    EXPECT_EQ(p.BIRT_PLAC, q.BIRT_PLAC) << w.toStdString();
    EXPECT_EQ(p.BIRT_NOTE, q.BIRT_NOTE) << w.toStdString();
    EXPECT_EQ(p.DEAT, q.DEAT) << w.toStdString();
    if (p.DEAT == u"+") sameDate(p.DEAT_DATE, q.DEAT_DATE, w + QStringLiteral(" death"));
    EXPECT_EQ(p.DEAT_PLAC, q.DEAT_PLAC) << w.toStdString();
    EXPECT_EQ(p.DEAT_NOTE, q.DEAT_NOTE) << w.toStdString();
    EXPECT_EQ(p.DEAT_CAUS, q.DEAT_CAUS) << w.toStdString();
    EXPECT_EQ(p.RESI_PLAC, q.RESI_PLAC) << w.toStdString();
    EXPECT_EQ(p.NOTE, q.NOTE) << w.toStdString();
    EXPECT_EQ(uidA(p.FAMC ? a.aFam[std::size_t(p.FAMC)].HUSB : 0), uidG(q.FAMC ? g.aFam[std::size_t(q.FAMC)].HUSB : 0));
    EXPECT_EQ(uidA(p.FAMC ? a.aFam[std::size_t(p.FAMC)].WIFE : 0), uidG(q.FAMC ? g.aFam[std::size_t(q.FAMC)].WIFE : 0));
    EXPECT_EQ(p.FAMS.size(), q.FAMS.size()) << w.toStdString();
  }
  // Families, matched by their spouses.
  std::map<std::pair<QString, QString>, std::int64_t> gFam;
  for (std::int64_t f = 1; f <= g.FamilyCount(); ++f)
    gFam[{uidG(g.aFam[std::size_t(f)].HUSB), uidG(g.aFam[std::size_t(f)].WIFE)}] = f;
  for (std::int64_t f = 1; f <= a.FamilyCount(); ++f) {
    const TFAM& x = a.aFam[std::size_t(f)];
    const auto key = std::make_pair(uidA(x.HUSB), uidA(x.WIFE));
    if (!gFam.count(key)) {
      // Two families whose spouses were both not read look alike; their children tell them apart.
      EXPECT_TRUE(x.HUSB == 0 && x.WIFE == 0) << x.FAM.toStdString();
      continue;
    }
    const TFAM& y = g.aFam[std::size_t(gFam[key])];
    std::vector<QString> ca, cg;
    for (auto c : x.CHIL) ca.push_back(uidA(c));
    for (auto c : y.CHIL) cg.push_back(uidG(c));
    EXPECT_EQ(ca, cg) << x.FAM.toStdString();
    EXPECT_EQ(x.MARR.isEmpty(), y.MARR.isEmpty()) << x.FAM.toStdString();
    if (!x.MARR.isEmpty() && !y.MARR_DATE.ORIG.isEmpty()) sameDate(x.MARR_DATE, y.MARR_DATE, x.FAM);
    EXPECT_EQ(x.MARR_PLAC, y.MARR_PLAC) << x.FAM.toStdString();
    EXPECT_EQ(x.MARR_NOTE, y.MARR_NOTE) << x.FAM.toStdString();
  }
}

// ---------------------------------------------------------------- persons and values

TEST_F(At5Reader, PersonsComeOnePerIdWithTheirNameValues) {
  const std::string path = Db(
      Person(30, "1") + Value(13, 64, 30, "'Орлов'") + Value(13, 66, 30, "'Иван'") + Value(13, 67, 30, "'Петрович'") +
      Value(13, 73, 30, "'ignored'") +
      Person(20, "2") +                                                              // no values at all
      "INSERT INTO Persons VALUES (25,0,0,1,0,0);" + Value(13, 64, 25, "'Нет'") +  // no stamp row: not read
      Person(40, "0") + Person(50, "NULL") + Person(60, "'2'") + Person(0, "1") + Value(13, 66, 0, "'Нулевой'"));
  const Model m = Read(path);
  ASSERT_EQ(m.PersonCount(), 6);
  const auto& p = m.aIndi;
  EXPECT_EQ(p[1]._UID, u"0");  // a person may have id 0
  EXPECT_EQ(p[1].FIRS1, u"Нулевой");
  EXPECT_TRUE(p[0].FIRS1.isEmpty() && p[0]._UID.isEmpty());  // the empty element stays empty
  EXPECT_EQ(p[2]._UID, u"20");
  EXPECT_EQ(p[2].SEX, u"F");
  EXPECT_EQ(p[2].GIVN, u" ");
  EXPECT_EQ(p[2].FIO1, u"...");
  EXPECT_EQ(p[3]._UID, u"30");
  EXPECT_EQ(p[3].INDI, u"3");
  EXPECT_EQ(p[3].SEX, u"M");
  EXPECT_EQ(p[3].SURN, u"Орлов");
  EXPECT_EQ(p[3].SURN1, u"Орлов");
  EXPECT_EQ(p[3].GIVN, u"Иван Петрович");
  EXPECT_EQ(p[3].FIO1, u"Орлов Иван Петрович");
  EXPECT_EQ(p[3].iPr, -1);
  EXPECT_EQ(p[4].SEX, u"");
  EXPECT_EQ(p[5].SEX, u"");
  EXPECT_EQ(p[6].SEX, u"F");  // a text "2" is the code 2
  // Decision: a person without birth gets the empty parsed date; its event id text is "0".
  EXPECT_EQ(p[3].BIRT_DATE.NORM, GDate_RDates(QString(), kToday).NORM);
  EXPECT_EQ(p[3].BIRT_DATE.CALEN, u"0");
  EXPECT_TRUE(p[3].DEAT.isEmpty());
}

TEST_F(At5Reader, ValueTextsLongTextsLineBreaksAndPlaces) {
  const QString s119(119, u'я'), s120(120, u'я'), s150(150, u'я');
  const QString whole = s150 + QStringLiteral("конец");
  const auto q = [](const QString& s) { return "'" + s.toStdString() + "'"; };
  const std::string path =
      Db(Person(1, "1", 100, 200) + Value(13, 89, 1, q(s150), "CAST(" + q(whole) + " AS BLOB)") +
         Person(2, "1", 101) + Value(13, 89, 2, q(s120), "NULL") +  // long short text, no blob: the short text
         Person(3, "1", 102) + Value(13, 89, 3, q(s119), "CAST('other' AS BLOB)") +
         Value(7, 37, 100, "'строка 1' || char(13,10) || 'строка 2'") + Value(7, 38, 200, "'тиф'") +
         "INSERT INTO ValuesLinks VALUES (28,-1,100,0,7,900,0,14,0,0,NULL);" +
         "INSERT INTO ValuesLinks VALUES (28,-1,101,0,7,901,0,14,0,0,NULL);" +  // place without names
         "INSERT INTO ValuesLinks VALUES (63,-1,1,0,13,900,0,14,0,0,NULL);" + Value(14, 93, 900, "'Тула'") +
         Value(14, 94, 900, "'Тула, Тульская губерния'") +
         // Values of an event with id 0 must not reach the persons without a birth (birth_id 0).
         Person(4, "1", 0) + "INSERT INTO ValuesLinks VALUES (28,-1,0,0,7,900,0,14,0,0,NULL);" +
         Value(7, 37, 0, "'чужая заметка'"));
  const Model m = Read(path);
  ASSERT_EQ(m.PersonCount(), 4);
  EXPECT_EQ(m.aIndi[4].BIRT_PLAC, u"");
  EXPECT_EQ(m.aIndi[4].BIRT_NOTE, u"");
  EXPECT_EQ(m.aIndi[4].BIRT_DATE.CALEN, u"0");
  EXPECT_EQ(m.aIndi[1].NOTE, whole);
  EXPECT_EQ(m.aIndi[2].NOTE, s120);
  EXPECT_EQ(m.aIndi[3].NOTE, s119);
  EXPECT_EQ(m.aIndi[1].BIRT_NOTE, u"строка 1\r\nстрока 2");
  EXPECT_EQ(m.aIndi[1].BIRT_PLAC, u"Тула, Тульская губерния");
  EXPECT_EQ(m.aIndi[1].RESI_PLAC, u"Тула, Тульская губерния");
  EXPECT_EQ(m.aIndi[2].BIRT_PLAC, u"");
  EXPECT_EQ(m.aIndi[1].DEAT, u"+");
  EXPECT_EQ(m.aIndi[1].DEAT_CAUS, u"тиф");
  // The lookups themselves, over the tables of a read in progress.
  Model m2;
  TAt5Reader r(m2, dm_, kToday);
  dm_.FDConnection1.Open(path, platform::TSqliteConnection::Access::ReadOnly);
  dm_.FDTable_Values.Open();
  dm_.FDTable_ValuesLinks.Open();
  EXPECT_EQ(r.fDesc5(7, 37, 100, 0, 0), u"строка 1 строка 2");
  EXPECT_EQ(r.fDesc5(13, 89, 1, 0, 1), s150);  // not full: the short text
  EXPECT_EQ(r.fDesc5(13, 89, 4, 1, 1), u"");
  EXPECT_EQ(r.fPlace5(7, 28, 100, 1), u"Тула");
  EXPECT_EQ(r.fValue5(7, 38, 200), u"тиф");
  EXPECT_EQ(r.fDate5(QStringLiteral("100")), u"");
}

TEST_F(At5Reader, RecordStampsReadFromIsoTextJulianDaysOrNothing) {
  std::string sql;
  const char* stamps[][2] = {{"'2021-03-04 05:06:07'", "'2021-03-04T05:06'"},
                             {"2459277.5", "2459277"},
                             {"'garbage'", "x'00'"},
                             {"NULL", "'2021-02-30'"},
                             {"'2021-03-04Z'", "1e308"}};
  for (int i = 0; i < 5; ++i)
    sql += "INSERT INTO Persons VALUES (" + std::to_string(i + 1) + ",0,0,1,0,0);INSERT INTO __Recs VALUES (" +
           std::to_string(i + 1) + ",13,0," + stamps[i][0] + "," + stamps[i][1] + ");";
  const Model m = Read(Db(sql));
  ASSERT_EQ(m.PersonCount(), 5);
  EXPECT_EQ(DateTimeToDmy(m.aIndi[1].INSE), u"04.03.2021 05:06:07");
  EXPECT_EQ(DateTimeToDmy(m.aIndi[1].EDIT), u"04.03.2021 05:06:00");
  EXPECT_EQ(DateTimeToDmy(m.aIndi[2].INSE), u"04.03.2021");
  EXPECT_EQ(DateTimeToDmy(m.aIndi[2].EDIT), u"03.03.2021 12:00:00");
  EXPECT_EQ(m.aIndi[3].INSE, 0);
  EXPECT_EQ(m.aIndi[3].EDIT, 0);
  EXPECT_EQ(m.aIndi[4].INSE, 0);
  EXPECT_EQ(m.aIndi[4].EDIT, 0);  // no 30 February
  EXPECT_EQ(DateTimeToDmy(m.aIndi[5].INSE), u"04.03.2021");
  EXPECT_EQ(m.aIndi[5].EDIT, 0);  // out of the calendar's range
}

// ---------------------------------------------------------------- dates

TEST_F(At5Reader, DatesByTypeAndKnownParts) {
  struct Case {
    const char* row;  // d, m, y, d2, m2, y2, isjulian, isdateBC, type, sortdate, sortdate2
    const char16_t* norm;
    const char16_t* orig;
    const char16_t* stype;
    const char16_t* years;
    const char16_t* ddate;  // DateTimeToDmy, "" for unknown
    const char16_t* sort1;
  };
  const Case cases[] = {
      {"12,3,1900,NULL,NULL,NULL,0,0,0,190003120,190003120", u"12.03.1900", u"12 MAR 1900", u"", u"1900", u"12.03.1900", u"19000312"},
      {"NULL,NULL,1900,NULL,NULL,NULL,0,0,0,190000000,190099990", u"1900", u"1900", u"", u"1900", u"", u"19000000"},
      {"NULL,NULL,1900,NULL,NULL,NULL,0,0,3,190000000,NULL", u">1900", u"AFT 1900", u"AFT", u"1900", u"", u"19000000"},
      {"NULL,3,1900,NULL,NULL,NULL,0,0,0,NULL,NULL", u"??.03.1900", u" MAR 1900", u"", u"1900", u"", u"00000000"},
      {"12,NULL,1900,NULL,NULL,NULL,0,0,0,NULL,NULL", u"12.??.1900", u"12..1900", u"", u"1900", u"", u"00000000"},
      {"12,3,1900,NULL,NULL,NULL,0,0,1,NULL,NULL", u"~12.03.1900", u"ABT 12 MAR 1900", u"ABT", u"1900", u"", u"00000000"},
      {"12,3,1900,NULL,NULL,NULL,0,0,2,NULL,NULL", u"<12.03.1900", u"BEF 12 MAR 1900", u"BEF", u"1900", u"", u"00000000"},
      {"5,3,1900,7,3,1902,0,0,4,190003050,190203070", u"05.03.1900..07.03.1902", u"BET 05 MAR 1900 AND 07.03.1902",
       u"BET", u"1900", u"", u"19000305"},
      {"NULL,NULL,1900,NULL,NULL,1901,0,0,5,NULL,NULL", u"1900(1901)", u"1900 OR 1901", u"OR", u"1900", u"", u"00000000"},
      {"NULL,NULL,1900,NULL,NULL,NULL,0,0,6,NULL,NULL", u"~1900", u"CAL 1900", u"CAL", u"1900", u"", u"00000000"},
      {"NULL,NULL,1900,NULL,NULL,1910,0,0,8,NULL,NULL", u"1900-1910", u"FROM 1900 TO 1910", u"FROM", u"1900", u"", u"00000000"},
      {"12,3,1900,NULL,NULL,NULL,'true',0,0,NULL,NULL", u"12.03.1900", u"@#DJULIAN@ 12 MAR 1900", u"", u"1900", u"12.03.1900", u"00000000"},
      {"NULL,NULL,1900,NULL,NULL,NULL,0,1,0,NULL,NULL", u"1900", u"1900", u"B.C.", u"1900", u"", u"00000000"},
      {"NULL,NULL,NULL,NULL,NULL,NULL,0,0,0,NULL,NULL", u"?", u"", u"", u"????", u"", u"00000000"},
      {"1,1,1900,NULL,NULL,NULL,0,0,99,NULL,NULL", u"", u"", u"", u"1900", u"", u"00000000"},
      // Values of the wrong type read as 0 (and year 0 is no year).
      {"'x',x'01',1900.5,NULL,NULL,NULL,'maybe',0,'y',NULL,NULL", u"00.00.????", u"00.00.", u"", u"????", u"", u"00000000"},
      // Years outside 1..9999 are unknown years, never a garbled text or another year's day.
      {"1,1,12345,NULL,NULL,NULL,0,0,0,NULL,NULL", u"01.01.????", u"01 JAN ", u"", u"????", u"", u"00000000"},
      {"1,1,-5,NULL,NULL,NULL,0,0,0,NULL,NULL", u"01.01.????", u"01 JAN ", u"", u"????", u"", u"00000000"},
      {"NULL,NULL,1900,NULL,NULL,10000,0,0,8,NULL,NULL", u"1900-?", u"FROM 1900 TO ", u"FROM", u"1900", u"", u"00000000"},
  };
  std::string sql;
  for (std::size_t i = 0; i < std::size(cases); ++i) sql += DateRow(std::int64_t(i + 1), cases[i].row);
  Db(sql);
  Model m;
  TAt5Reader r(m, dm_, kToday);
  dm_.FDConnection1.Open(dir_.filePath("t.at5").toStdString(), platform::TSqliteConnection::Access::ReadOnly);
  dm_.FDTable_Dates.Open();
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const TDATES d = r.ADate_RDates5(7, std::int64_t(i + 1));
    EXPECT_EQ(d.NORM, QString::fromUtf16(c.norm)) << c.row;
    EXPECT_EQ(d.ORIG, QString::fromUtf16(c.orig)) << c.row;
    EXPECT_EQ(d.STYPE, QString::fromUtf16(c.stype)) << c.row;
    EXPECT_EQ(d.YEARS, QString::fromUtf16(c.years)) << c.row;
    EXPECT_EQ(d.DDATE == kUnknownDate ? QString() : DateTimeToDmy(d.DDATE), QString::fromUtf16(c.ddate)) << c.row;
    EXPECT_EQ(d.SORT1, QString::fromUtf16(c.sort1)) << c.row;
    EXPECT_TRUE(d.CALEN.isEmpty());
  }
  // No date row: the empty parsed date.
  const TDATES none = r.ADate_RDates5(7, 999);
  const TDATES empty = GDate_RDates(QString(), kToday);
  EXPECT_EQ(none.NORM, empty.NORM);
  EXPECT_EQ(none.SORT2, empty.SORT2);
  EXPECT_EQ(none.DDATE, empty.DDATE);
}

// ---------------------------------------------------------------- families

TEST_F(At5Reader, FamiliesFromChildAndCoupleRoles) {
  std::string sql;
  for (int id = 1; id <= 12; ++id) sql += Person(id, id % 2 ? "1" : "2", 100 + id);
  // Family of 1 and 2: children 3 and 5 (ordered by the father's order), married (event 500).
  sql += Role(5, 105, 1) + Role(1, 105, 2, 2) + Role(2, 105, 3, 2);
  sql += Role(3, 103, 1) + Role(1, 103, 2, 1) + Role(2, 103, 3, 1);
  sql += Role(1, 500, 5) + Role(2, 500, 6) + DateRow(500, "1,6,1890,NULL,NULL,NULL,0,0,0,NULL,NULL");
  // Only a mother (4) for child 6; child 99 is not a person; child 7 has no parents at all.
  sql += Role(6, 106, 1) + Role(4, 106, 3, 1) + Role(99, 199, 1) + Role(4, 199, 3, 2) + Role(7, 107, 1);
  // Couple with the roles 40/41 and no children.
  sql += Role(9, 501, 40) + Role(10, 501, 41);
  // Father 11 is not a person; the mother 12 is found by the child row first, then by the couple row.
  sql += Role(8, 108, 1) + Role(111, 108, 2, 1) + Role(12, 108, 3, 1) + Role(111, 502, 5, 5) + Role(12, 502, 6, 5);
  const Model m = Read(Db(sql));
  ASSERT_EQ(m.FamilyCount(), 4);
  const auto& f = m.aFam;
  EXPECT_EQ(f[1].FAM, u" 4");
  EXPECT_EQ(f[1].HUSB, 0);
  EXPECT_EQ(f[1].WIFE, 4);
  EXPECT_EQ(f[1].CHIL, (std::vector<std::int64_t>{6}));  // 99 is no person; the family still exists
  EXPECT_EQ(f[2].FAM, u"1 2");
  EXPECT_EQ(f[2].HUSB, 1);
  EXPECT_EQ(f[2].WIFE, 2);
  EXPECT_EQ(f[2].CHIL, (std::vector<std::int64_t>{3, 5}));
  EXPECT_EQ(f[2].MARR, u"x");
  EXPECT_EQ(f[2].MARR_DATE.NORM, u"01.06.1890");
  EXPECT_EQ(f[3].FAM, u"9 10");
  EXPECT_EQ(f[3].HUSB, 9);
  EXPECT_EQ(f[3].WIFE, 10);
  EXPECT_EQ(f[3].MARR, u"x");
  EXPECT_EQ(f[3].MARR_DATE.NORM, GDate_RDates(QString(), kToday).NORM);  // no date row
  EXPECT_EQ(f[4].FAM, u"111 12");
  EXPECT_EQ(f[4].HUSB, 0);
  EXPECT_EQ(f[4].WIFE, 12);
  // The wife is listed once, though the couple row finds her again.
  EXPECT_EQ(m.aIndi[12].FAMS, (std::vector<std::int64_t>{4}));
  EXPECT_EQ(m.aIndi[1].FAMS, (std::vector<std::int64_t>{2}));
  EXPECT_EQ(m.aIndi[4].FAMS, (std::vector<std::int64_t>{1}));
  EXPECT_EQ(m.aIndi[3].FAMC, 2);
  EXPECT_EQ(m.aIndi[6].FAMC, 1);
  EXPECT_EQ(m.aIndi[7].FAMC, 0);
}

// ---------------------------------------------------------------- stopping and failures

TEST_F(At5Reader, StopEndsThePersonPassBeforeANewPersonAndSkipsFamilies) {
  const at5synth::Tree tree = at5synth::MakeTree(200, 5);
  const std::string path = dir_.filePath("s.at5").toStdString();
  at5synth::WriteAt5(tree, path, true);
  Model m;
  std::int64_t calls = 0;
  TAt5Reader r(m, dm_, kToday);
  r.At5_Indi(QString::fromStdString(path), QString(), [&](std::int64_t pos, std::int64_t max) {
    EXPECT_LE(pos, max);
    if (++calls == 3) m.AbortFlag = true;
  });
  EXPECT_TRUE(m.AbortFlag);
  ASSERT_GT(m.PersonCount(), 0);
  EXPECT_LT(m.PersonCount(), 30);
  EXPECT_EQ(m.FamilyCount(), 0);
  // The last person is whole: its name built, its counters set.
  const TINDI& last = m.aIndi.back();
  EXPECT_FALSE(last.FIO1.isEmpty());
  EXPECT_EQ(last.iPr, -1);
  // Progress reaches the end when not stopped.
  Model full;
  std::int64_t lastPos = -1, lastMax = -2;
  TAt5Reader(full, dm_, kToday).At5_Indi(QString::fromStdString(path), QString(), [&](std::int64_t p, std::int64_t x) {
    lastPos = p;
    lastMax = x;
  });
  EXPECT_EQ(lastPos, lastMax);
  EXPECT_GT(full.FamilyCount(), 0);
}

// Every file the reader cannot read gives a keyed message naming the file (and what is missing), never
// SQLite's English text, and never hangs: views and virtual tables where a table belongs are refused
// before anything runs them (the views below never end).
TEST_F(At5Reader, UnreadableFilesGiveKeyedMessages) {
  const std::string text = dir_.filePath("text.at5").toStdString();
  std::ofstream(text) << std::string(4096, 'x');
  const char* endless =
      "WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) SELECT n id, 0 db_id, 0 isfav, 1 sex, "
      "0 birth_id, 0 death_id FROM r";
  struct Case {
    std::string path;
    const char* key;
    const char* detail;
  };
  const Case cases[] = {
      {dir_.filePath("none.at5").toStdString(), "FileOpenError", ""},
      {dir_.path().toStdString(), "FileOpenError", ""},
      {text, "At5NotDatabase", ""},
      {Db("DROP TABLE __Recs;", true, "nr.at5"), "At5NotFamilyTree", "__Recs"},
      {Db("DROP TABLE ValuesLinks;", true, "nl.at5"), "At5NotFamilyTree", "ValuesLinks"},
      {Db("DROP TABLE ValuesDates; CREATE TABLE ValuesDates (x);", true, "nd.at5"), "At5NotFamilyTree",
       "ValuesDates.rec_table"},
      {Db("ALTER TABLE Persons DROP COLUMN db_id;", false, "nc.at5"), "At5NotFamilyTree", "Persons.db_id"},
      {Db(std::string("DROP TABLE Persons; CREATE VIEW Persons AS ") + endless + ";", true, "vp.at5"), "At5NotATable",
       "Persons"},
      {Db("DROP TABLE __Recs; CREATE VIEW __Recs AS WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) "
          "SELECT n rec_id, 13 rec_table, 0 rec_db_id, NULL rec_di, NULL rec_de FROM r;",
          true, "vr.at5"),
       "At5NotATable", "__Recs"},
      {Db("DROP TABLE EventDetails; CREATE VIEW EventDetails AS WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL "
          "SELECT n + 1 FROM r) SELECT n p_id, 1 e_id, 1 er_id, 0 e_ord, 0 e_db_id, 0 er_db_id FROM r;",
          true, "ve.at5"),
       "At5NotATable", "EventDetails"},
      {Db("DROP TABLE ValuesStr; CREATE VIRTUAL TABLE ValuesStr USING rtree(f_id, rec_id, rec_db_id);", true,
          "vs.at5"),
       "At5NotATable", "ValuesStr"},
  };
  for (const Case& c : cases) {
    try {
      Read(c.path);
      ADD_FAILURE() << c.path << ": no error";
    } catch (const EAt5Read& e) {
      EXPECT_EQ(e.Key().toStdString(), c.key) << c.path;
      EXPECT_EQ(e.Args().value(0).toStdString(), c.path);
      EXPECT_EQ(e.Args().value(1).toStdString(), c.detail) << c.path;
      // The Russian text, as the translation file's default, with the file name in it.
      EXPECT_NE(e.Message().indexOf(QString::fromStdString(c.path)), -1) << e.what();
      EXPECT_EQ(EAt5Read::Key(e.What()), e.Key());
    }
  }
}

// A file that another program holds locked for writing is "busy", not an unreadable file.
TEST_F(At5Reader, FileLockedByAWriterIsBusy) {
  const std::string path = Db(Person(1));
  sqlite3* w = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &w), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(w, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  try {
    Read(path);
    ADD_FAILURE() << "no error";
  } catch (const EAt5Read& e) {
    EXPECT_EQ(e.What(), EAt5Read::Busy) << e.what();
  }
  sqlite3_exec(w, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(w);
}

TEST_F(At5Reader, DamagedFilesFailOrReadWithoutHarm) {
  const at5synth::Tree tree = at5synth::MakeTree(300, 9);
  const std::string good = dir_.filePath("good.at5").toStdString();
  at5synth::WriteAt5(tree, good, true);
  QFile f(QString::fromStdString(good));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  f.close();
  // Overwrite a run of bytes at several places (page headers, cells, the schema page) and cut the file.
  std::uint64_t seed = 42;
  for (int round = 0; round < 12; ++round) {
    QByteArray bad = bytes;
    if (round == 11) {
      bad.truncate(bad.size() / 3);
    } else {
      for (int k = 0; k < 8; ++k) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        const qsizetype at = qsizetype((seed >> 33) % std::uint64_t(bad.size() - 64));
        for (int j = 0; j < 48; ++j) bad[at + j] = char((seed >> (j % 56)) & 0xFF);
      }
    }
    const std::string path = dir_.filePath(QStringLiteral("bad%1.at5").arg(round)).toStdString();
    QFile out(QString::fromStdString(path));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bad);
    out.close();
    Model m;
    try {
      TAt5Reader(m, dm_, kToday).At5_Indi(QString::fromStdString(path));
    } catch (const EAt5Read& e) {
      // A reported failure is the expected outcome for most damage; it is one of the file's own reasons.
      EXPECT_TRUE(e.What() == EAt5Read::Damaged || e.What() == EAt5Read::NotDatabase ||
                  e.What() == EAt5Read::NotFamilyTree || e.What() == EAt5Read::ReadFailed)
          << e.what();
    }
    // Whatever was read keeps the model's links inside its arrays.
    for (const TFAM& fam : m.aFam) {
      EXPECT_LT(fam.HUSB, std::int64_t(m.aIndi.size()));
      EXPECT_LT(fam.WIFE, std::int64_t(m.aIndi.size()));
    }
  }
}

// ---------------------------------------------------------------- cost and hostile files

// The work SQLite does grows with the file, whatever indexes the file has: four times the persons cost
// about four times the work (a plan that scans every person's values for every person costs sixteen).
// Work is counted in the connection's progress points, not timed.
TEST_F(At5Reader, WorkGrowsLinearlyWhateverTheIndexes) {
  for (at5synth::Indexes layout : {at5synth::Indexes::None, at5synth::Indexes::Keys, at5synth::Indexes::All,
                                   at5synth::Indexes::Others}) {
    std::uint64_t work[2] = {0, 0};
    const std::int64_t sizes[2] = {300, 1200};
    for (int k = 0; k < 2; ++k) {
      const std::string path = dir_.filePath(QStringLiteral("lin%1.at5").arg(k)).toStdString();
      at5synth::WriteAt5(at5synth::MakeTree(sizes[k], 2), path, layout);
      const Model m = Read(path);
      EXPECT_GT(m.PersonCount(), sizes[k] / 2);
      work[k] = dm_.FDConnection1.ProgressTicks();
    }
    ASSERT_GT(work[0], 0u);
    EXPECT_LT(double(work[1]) / double(work[0]), 6.0) << "layout " << int(layout) << ": " << work[0] << " then "
                                                      << work[1];
  }
}

// One person id repeated in every table gives one person, read at the cost of the rows stored, not of
// their product.
TEST_F(At5Reader, RepeatedPersonIdIsReadOnceAtTheCostOfItsRows) {
  std::string sql = "WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r WHERE n < 150) ";
  const std::string path = Db(sql + "INSERT INTO Persons SELECT 7, n, 0, 1, 0, 0 FROM r;" + sql +
                              "INSERT INTO __Recs SELECT 7, 13, 0, NULL, NULL FROM r;" + sql +
                              "INSERT INTO ValuesStr SELECT 66, -1, 7, 0, 13, 2, 'Имя' || n, NULL, 0, 0, NULL FROM r;");
  const Model m = Read(path);
  ASSERT_EQ(m.PersonCount(), 1);
  EXPECT_EQ(m.aIndi[1].FIRS1, u"Имя150");  // the last value row wins
  // 3.4 million joined rows would be far above this; the 450 stored rows are far below.
  EXPECT_LT(dm_.FDConnection1.ProgressTicks(), 200u);
}

// An event with many fathers, mothers and children would make rows by the million out of a few hundred:
// the file is refused. A few of each are read as the role query joins them.
TEST_F(At5Reader, EventWithHundredsOfParentsIsRefused) {
  std::string sql;
  for (int i = 1; i <= 60; ++i) sql += Role(i, 900, 1) + Role(100 + i, 900, 2) + Role(200 + i, 900, 3);
  try {
    Read(Db(sql + Person(1)));
    ADD_FAILURE() << "no error";
  } catch (const EAt5Read& e) {
    EXPECT_EQ(e.What(), EAt5Read::TooManyRoles);
  }
  // Two fathers and two mothers of two children: four families, each with both children.
  std::string small;
  for (int id : {1, 2, 3, 4, 5, 6}) small += Person(id);
  small += Role(5, 900, 1) + Role(6, 900, 1) + Role(1, 900, 2) + Role(2, 900, 2) + Role(3, 900, 3) + Role(4, 900, 3);
  const Model m = Read(Db(small, true, "small.at5"));
  ASSERT_EQ(m.FamilyCount(), 4);
  for (std::int64_t f = 1; f <= 4; ++f) EXPECT_EQ(m.aFam[std::size_t(f)].CHIL, (std::vector<std::int64_t>{5, 6}));
}

// The rows made in memory are the rows of the role query, in its order, on random role tables with
// repeated rows, NULLs, texts and several parents per event; the last rounds hold only integers and
// NULLs, as family trees do, which the rows are sorted by without the general comparison; the very
// last hold the least integer too, which the sort by flat keys takes for NULL.
TEST(At5RoleRows, SameRowsAsTheRoleQuery) {
  std::uint64_t seed = 11;
  const auto rnd = [&seed](int n) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    return int((seed >> 33) % std::uint64_t(n));
  };
  QTemporaryDir dir;
  for (int round = 0; round < 100; ++round) {
    const bool integers = round >= 60;
    const int kinds = integers ? 5 : 8;  // values[0..4]: NULL and integers
    const std::string path = dir.filePath(QStringLiteral("r%1.db").arg(round)).toStdString();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    std::string sql = "BEGIN; CREATE TABLE EventDetails (p_id, e_id, er_id, e_ord, e_db_id, er_db_id);";
    const char* values[] = {"NULL", "0", "1", "2", round >= 90 ? "(-9223372036854775807 - 1)" : "3", "'x'", "2.5", "1.0"};
    const char* roleCodes[] = {"1", "1", "2", "3", "5", "6", "40", "41", "7", "'2'"};
    const int n = rnd(40);
    for (int i = 0; i < n; ++i)
      sql += std::string("INSERT INTO EventDetails VALUES (") + values[rnd(kinds)] + "," + values[1 + rnd(3)] + "," +
             roleCodes[rnd(integers ? 9 : 10)] + "," + values[rnd(5)] + "," + (rnd(8) ? "0" : values[rnd(kinds)]) + "," +
             (rnd(8) ? "0" : "NULL") + ");";
    if (round % 3 == 1) sql += "CREATE INDEX ix ON EventDetails (er_id);";
    sql += "COMMIT;";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    platform::TSqliteConnection c;
    c.Open(path, platform::TSqliteConnection::Access::ReadOnly);
    platform::TSqliteStatement scan(c, "SELECT p_id, e_id, er_id, e_ord, e_db_id, er_db_id FROM EventDetails");
    platform::TSqliteRowSet roles;
    roles.Reset(6);
    while (scan.Step()) scan.AppendTo(roles, 0, 6);
    TAt5RoleRows rows(roles);
    ASSERT_TRUE(rows.Make(1000000));
    platform::TSqliteStatement query(c, TDataModule3::kRoleSQL);
    std::size_t r = 0;
    for (; query.Step(); ++r) {
      ASSERT_LT(r, rows.Size()) << "round " << round;
      for (int col = 0; col < 8; ++col) {
        const platform::TSqliteValue want = query.Column(col), got = rows.Value(r, col);
        // Of values that compare equal (1 and 1.0), which one UNION keeps is the engine's choice.
        const auto number = [](const platform::TSqliteValue& v) {
          return v.GetKind() == platform::TSqliteValue::Kind::Integer || v.GetKind() == platform::TSqliteValue::Kind::Float;
        };
        if (number(got) && number(want)) {
          EXPECT_EQ(got.AsFloat(), want.AsFloat()) << "round " << round << " row " << r << " col " << col;
        } else {
          EXPECT_EQ(int(got.GetKind()), int(want.GetKind())) << "round " << round << " row " << r << " col " << col;
          EXPECT_EQ(got.AsString(), want.AsString()) << "round " << round << " row " << r << " col " << col;
        }
      }
    }
    EXPECT_EQ(r, rows.Size()) << "round " << round;
  }
}

// The stop flag and the time limit reach SQLite while it reads the tables: the window's progress runs
// before the first row of a pass, a stop there ends the read with an empty model, and a read past its
// time limit ends with a keyed message.
TEST_F(At5Reader, StopAndTimeLimitReachSqliteWhileItReads) {
  const std::string path = dir_.filePath("big.at5").toStdString();
  at5synth::WriteAt5(at5synth::MakeTree(3000, 4), path, at5synth::Indexes::Keys);
  Model m;
  int duringTables = 0;
  TAt5Reader(m, dm_, kToday).At5_Indi(QString::fromStdString(path), QString(), [&](std::int64_t, std::int64_t max) {
    if (max == 0 && m.PersonCount() == 0) {
      ++duringTables;
      m.AbortFlag = true;
    }
  });
  EXPECT_EQ(duringTables, 1);
  EXPECT_TRUE(m.AbortFlag);
  EXPECT_EQ(m.PersonCount(), 0);
  EXPECT_EQ(m.FamilyCount(), 0);

  Model late;
  TAt5Reader r(late, dm_, kToday);
  r.SetTimeLimit(std::chrono::milliseconds(0));
  try {
    r.At5_Indi(QString::fromStdString(path));
    ADD_FAILURE() << "no error";
  } catch (const EAt5Read& e) {
    EXPECT_EQ(e.What(), EAt5Read::TooSlow);
  }
}

namespace {

std::vector<std::string> FilesIn(const QTemporaryDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path().toStdString()))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

QByteArray Bytes(const std::string& path) {
  QFile f(QString::fromStdString(path));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

// A read leaves the user's folder as it was: a write-ahead file gets no "-wal" or "-shm" beside it, and
// a changes log still open in another program is read as that program committed it.
TEST_F(At5Reader, WriteAheadFilesAreReadWithoutFilesLeftBeside) {
  const std::string path = Db(Person(1) + Value(13, 66, 1, "'Иван'"));
  sqlite3* w = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &w), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(w, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(w);
  const std::vector<std::string> before = FilesIn(dir_);
  const QByteArray bytes = Bytes(path);
  Model m = Read(path);
  ASSERT_EQ(m.PersonCount(), 1);
  EXPECT_EQ(m.aIndi[1].FIRS1, u"Иван");
  dm_.CloseAll();
  EXPECT_EQ(FilesIn(dir_), before);
  EXPECT_EQ(Bytes(path), bytes);

  // Another program keeps the file open with a committed change still in its log.
  ASSERT_EQ(sqlite3_open(path.c_str(), &w), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(w, "PRAGMA wal_autocheckpoint=0; UPDATE ValuesStr SET vstr='Пётр'", nullptr, nullptr, nullptr),
            SQLITE_OK);
  const std::vector<std::string> open = FilesIn(dir_);
  const QByteArray log = Bytes(path + "-wal");
  m = Read(path);
  ASSERT_EQ(m.PersonCount(), 1);
  EXPECT_EQ(m.aIndi[1].FIRS1, u"Пётр");
  dm_.CloseAll();
  EXPECT_EQ(FilesIn(dir_), open);
  EXPECT_EQ(Bytes(path + "-wal"), log);
  sqlite3_close(w);
}

// A file with the journal of another program's unfinished change beside it is read as it was before
// that change (what the journal restores), and neither the file nor the journal is touched.
TEST_F(At5Reader, UnfinishedChangeOfAnotherProgramIsReadAsBeforeIt) {
  std::string sql;
  for (int id = 1; id <= 300; ++id) sql += Person(id) + Value(13, 66, id, "'Старое'");
  const std::string path = Db(sql);
  const std::string copy = dir_.filePath("hot.at5").toStdString();
  sqlite3* w = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &w), SQLITE_OK);
  // A small cache makes the change reach the file before its end, as a large change does.
  ASSERT_EQ(sqlite3_exec(w, "PRAGMA cache_size=1; BEGIN; UPDATE ValuesStr SET vstr='Новое' || rec_id;", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  // The file and its journal as a crash would leave them.
  std::filesystem::copy_file(path, copy);
  std::filesystem::copy_file(path + "-journal", copy + "-journal");
  sqlite3_exec(w, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(w);
  ASSERT_NE(Bytes(copy), Bytes(path));  // the change reached the file
  const std::vector<std::string> before = FilesIn(dir_);
  const QByteArray bytes = Bytes(copy), journal = Bytes(copy + "-journal");
  const Model m = Read(copy);
  ASSERT_EQ(m.PersonCount(), 300);
  EXPECT_EQ(m.aIndi[300].FIRS1, u"Старое");
  dm_.CloseAll();
  EXPECT_EQ(FilesIn(dir_), before);
  EXPECT_EQ(Bytes(copy), bytes);
  EXPECT_EQ(Bytes(copy + "-journal"), journal);
}
