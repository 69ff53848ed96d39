// The ".at4" reader: generated trees read back to their expected dump, the same tree as GEDCOM, the date
// converter, the family rules against a linear scan, stopping, and damaged or foreign files.
#include "sources/At4Reader.h"

#include "app/core/GDate.h"
#include "app/core/GedcomReader.h"
#include "app/core/ModelDump.h"
#include "sources/DbValues.h"
#include "tools/At4Synth.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <map>

namespace {

const TDateContext kToday = TDateContext::ForDate(QDate(2026, 5, 17));

class At4Reader : public ::testing::Test {
 protected:
  Model Read(const QString& path, const GedProgress& progress = {}) {
    Model m;
    TAt4Reader(m, dm_, kToday).At4_Indi(path, progress);
    return m;
  }
  QString Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

  QTemporaryDir dir_;
  TDataModule2 dm_;
};

}  // namespace

TEST_F(At4Reader, GeneratedTreeReadsBackToTheExpectedDump) {
  for (std::uint64_t seed : {1u, 5u}) {
    const at4synth::Tree tree = at4synth::MakeTree(300, seed);
    const QString path = Path("g.at4");
    at4synth::WriteAt4(tree, path.toStdString());
    const Model got = Read(path);
    const QString expected = DumpModel(at4synth::Expected(tree, kToday), kToday.today);
    const QString actual = DumpModel(got, kToday.today);
    ASSERT_EQ(actual.toStdString(), expected.toStdString()) << "seed " << seed;
    EXPECT_GT(got.FamilyCount(), 100);
    // The database stays open after a read, read-only; the work components are closed.
    EXPECT_TRUE(dm_.dbAT4.Connected());
    EXPECT_TRUE(dm_.dbAT4.ReadOnly());
    EXPECT_FALSE(dm_.Query_.Active());
    EXPECT_FALSE(dm_.Query_TMP.Active());
    EXPECT_FALSE(dm_.Table_Values.Active());
    dm_.CloseAll();
  }
}

// ---------------------------------------------------------------- dates

TEST(At4Date, ShortTextsOfEveryTypeBecomeTheModelsDate) {
  const struct {
    const char* shortText;
    int d, m, y, type;
    bool julian, bc;
    const char *norm, *orig, *sort1, *sort2, *years, *stype;
    bool day;  // DDATE is a day
  } cases[] = {
      {"?.03.1900", 0, 3, 1900, 0, false, false, "??.03.1900", " MAR 1900", "19000300", "19000399", "1900", "", false},
      {"~12.03.1900", 12, 3, 1900, 1, false, false, "~12.03.1900", "ABT 12 MAR 1900", "19000312", "19000312", "1900", "ABT", false},
      {"5.3.1900", 5, 3, 1900, 0, false, false, "05.03.1900", "05 MAR 1900", "19000305", "19000305", "1900", "", true},
      {"03.1900", 0, 3, 1900, 0, false, false, "??.03.1900", " MAR 1900", "19000300", "19000399", "1900", "", false},
      {"12.?.1900", 12, 0, 1900, 0, false, false, "12.??.1900", "12..1900", "19000012", "19009912", "1900", "", false},
      // An unknown year is not the year 0000 (nor a day of it): the date has no year to show.
      {"12.03.?", 12, 3, 0, 0, false, false, "", "", "00000000", "20260517", "", "", false},
      {"<12.03.1900", 12, 3, 1900, 2, false, false, "<12.03.1900", "BEF 12 MAR 1900", "00000000", "19000312", "1900", "BEF", false},
      {">1900", 0, 0, 1900, 3, false, false, ">1900", "AFT 1900", "19000000", "20260517", "1900", "AFT", false},
      {"12.03.1900..05.04.1902", 12, 3, 1900, 4, false, false, "12.03.1900..05.04.1902", "BET 12 MAR 1900 AND 05.04.1902",
       "19000312", "19020405", "1900", "BET", true},  // the day its first ten characters name
      {"1900(1901)", 0, 0, 1900, 5, false, false, "1900(1901)", "1900 OR 1901", "19000000", "19019999", "1900", "OR", false},
      {"~1900", 0, 0, 1900, 7, false, false, "~1900", "EST 1900", "19000000", "19009999", "1900", "EST", false},
      {"1900-1905", 0, 0, 1900, 8, false, false, "1900-1905", "FROM 1900 TO 1905", "19000000", "19059999", "1900", "FROM", false},
      {"01.02.1700", 1, 2, 1700, 0, true, false, "01.02.1700", "@#DJULIAN@ 01 FEB 1700", "17000201", "17000201", "1700", "", true},
      {"500", 0, 0, 500, 0, false, true, "500", "500", "-5000000", "-5009999", "-500", "B.C.", false},
      {"", 0, 0, 0, 0, false, false, "?", "", "00000000", "20260517", "", "", false},
      {"abc", 0, 0, 0, 0, false, false, "", "", "00000000", "20260517", "", "", false},
  };
  for (const auto& c : cases) {
    const TDATES d = dbvalues::At4Date(QString::fromUtf8(c.shortText), c.d, c.m, c.y, c.type, c.julian, c.bc, kToday);
    const std::string w = c.shortText;
    EXPECT_EQ(d.NORM.toStdString(), c.norm) << w;
    EXPECT_EQ(d.ORIG.toStdString(), c.orig) << w;
    EXPECT_EQ(d.SORT1.toStdString(), c.sort1) << w;
    EXPECT_EQ(d.SORT2.toStdString(), c.sort2) << w;
    EXPECT_EQ(d.YEARS.toStdString(), c.years) << w;
    EXPECT_EQ(d.STYPE.toStdString(), c.stype) << w;
    EXPECT_EQ(d.DDATE != kUnknownDate, c.day) << w;
    EXPECT_TRUE(d.CALEN.isEmpty()) << w;
  }
}

// ---------------------------------------------------------------- families

namespace {

// The family pass as a scan over all persons from index 1 for every row (the rules TAt4FamilyBuilder
// keeps with its id map).
struct LinearFamilies {
  explicit LinearFamilies(Model& model) : m(model) {}
  Model& m;
  QString previous;
  std::int64_t f = 0;
  std::int64_t Family(const QString& a, const QString& b) {
    const QString key = a + u' ' + b;
    if (key != previous) {
      m.aFam.emplace_back();
      f = m.FamilyCount();
      m.aFam.back().FAM = key;
      previous = key;
    }
    return f;
  }
  void Child(const QString& father, const QString& mother, const QString& child) {
    if (father.isEmpty() && mother.isEmpty()) return;
    TFAM& fam = m.aFam[std::size_t(Family(father, mother))];
    int found = (fam.HUSB != 0 || father.isEmpty()) + (fam.WIFE != 0 || mother.isEmpty());
    for (std::int64_t i = 1; i <= m.PersonCount() && found < 3; ++i) {
      TINDI& p = m.aIndi[std::size_t(i)];
      if (p._UID == child) {
        fam.CHIL.push_back(i), p.FAMC = f, ++found;
      } else if (p._UID == father && fam.HUSB == 0) {
        fam.HUSB = i, p.FAMS.push_back(f), ++found;
      } else if (p._UID == mother && fam.WIFE == 0) {
        fam.WIFE = i, p.FAMS.push_back(f), ++found;
      }
    }
  }
  void Couple(const QString& husband, const QString& wife) {
    if (husband.isEmpty() && wife.isEmpty()) return;
    TFAM& fam = m.aFam[std::size_t(Family(husband, wife))];
    fam.MARR = QStringLiteral("x");
    if (fam.HUSB != 0) return;
    int found = 0;
    for (std::int64_t i = 1; i <= m.PersonCount() && found < 2; ++i) {
      TINDI& p = m.aIndi[std::size_t(i)];
      if (p._UID == husband) {
        fam.HUSB = i, p.FAMS.push_back(f), ++found;
      } else if (p._UID == wife && fam.WIFE == 0) {
        fam.WIFE = i, p.FAMS.push_back(f), ++found;
      }
    }
  }
};

}  // namespace

TEST(At4Families, TheIdMapKeepsTheRulesOfTheLinearScan) {
  // Few ids over many persons: repeated ids, a father who is his own child's id, rows of one key in runs.
  std::uint64_t s = 12345;
  const auto rnd = [&s](int n) {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    return int((s >> 33) % std::uint64_t(n));
  };
  for (int round = 0; round < 40; ++round) {
    Model a, b;
    a.Clear(), b.Clear();
    const int persons = 1 + rnd(25), ids = 1 + rnd(12);
    for (int i = 0; i < persons; ++i) {
      TINDI p;
      p._UID = QStringLiteral("I%1").arg(rnd(ids));
      a.aIndi.push_back(p);
      b.aIndi.push_back(p);
    }
    TAt4FamilyBuilder fast(a);
    LinearFamilies slow(b);
    const auto id = [&]() { return rnd(5) == 0 ? QString() : QStringLiteral("I%1").arg(rnd(ids + 2)); };
    QString father = id(), mother = id();
    for (int row = 0; row < 60; ++row) {
      if (rnd(4) == 0) father = id(), mother = id();
      if (rnd(3) == 0) {
        fast.CoupleRow(father, mother, true);
        slow.Couple(father, mother);
      } else {
        const QString child = id();
        fast.ChildRow(father, mother, child);
        slow.Child(father, mother, child);
      }
    }
    ASSERT_EQ(DumpModel(a, kToday.today).toStdString(), DumpModel(b, kToday.today).toStdString()) << "round " << round;
  }
}

// The role rows made in memory are the rows of the module's role query, in its order.
TEST_F(At4Reader, RoleRowsInMemoryAreTheQuerysRows) {
  const QString path = Path("roles.at4");
  at4synth::WriteAt4(at4synth::MakeTree(200, 3), path.toStdString());
  dm_.dbAT4.SetDatabaseFileName(path.toStdString());
  dm_.dbAT4.Open();
  std::vector<std::string> query;
  dm_.Query_TMP.SetSQL(TDataModule2::kRoleSQL);
  dm_.Query_TMP.Open();
  for (; !dm_.Query_TMP.Eof(); dm_.Query_TMP.Next()) {
    std::string line;
    for (int c = 0; c < 8; ++c) {
      const nrd::TField& f = dm_.Query_TMP.Fields(c);
      line += (c ? "|" : "") + (f.IsNull() ? std::string("-") : f.AsString());
    }
    query.push_back(line);
  }
  dm_.Query_TMP.Close();
  nrd::TNRDTable t;
  t.SetDatabaseName(dm_.DatabaseName());
  t.SetTableName("EventDetails");
  t.Open();
  TAt4RoleRows rows;
  rows.Read(t, path);
  ASSERT_TRUE(rows.Make(1000000));
  std::vector<std::string> memory;
  for (std::size_t r = 0; r < rows.Size(); ++r) {
    std::string line;
    for (int c = 0; c < 8; ++c) line += (c ? "|" : "") + (rows.Null(r, c) ? std::string("-") : rows.Show(r, c));
    memory.push_back(line);
  }
  EXPECT_GT(memory.size(), 200u);
  EXPECT_EQ(memory, query);
  t.Close();
  dm_.CloseAll();
}
