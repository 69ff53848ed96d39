// The ".at4" reader: generated trees read back to their expected dump, the same tree as GEDCOM, the date
// converter, the family rules against a linear scan, stopping, and damaged or foreign files.
#include "sources/At4Reader.h"

#include "sources/At4Layout.h"

#include "app/core/GDate.h"
#include "app/core/GedcomReader.h"
#include "app/core/ModelDump.h"
#include "sources/DbValues.h"
#include "platform/EngineDialogs.h"
#include "tools/At4Synth.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>
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
  // Ids of plain letters and of others (a Cyrillic letter, a letter above 255 whose UTF-16 bytes are
  // those of the two-letter id "\x16\x04", and 255 itself): each id stays itself.
  const QString prefixes[] = {QStringLiteral("I"), QString(QChar(0x416)), QString(QChar(0x16)) + QChar(0x04),
                              QString(QChar(0xFF))};
  const auto name = [&prefixes](int k) { return prefixes[k % 4] + QString::number(k / 4); };
  for (int round = 0; round < 40; ++round) {
    Model a, b;
    a.Clear(), b.Clear();
    const int persons = 1 + rnd(25), ids = 1 + rnd(12);
    for (int i = 0; i < persons; ++i) {
      TINDI p;
      p._UID = name(rnd(ids));
      a.aIndi.push_back(p);
      b.aIndi.push_back(p);
    }
    TAt4FamilyBuilder fast(a);
    LinearFamilies slow(b);
    const auto id = [&]() { return rnd(5) == 0 ? QString() : name(rnd(ids + 2)); };
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

// ---------------------------------------------------------------- the file stays as it was

namespace {

// The file's bytes and modification time, to see that a read left it alone.
struct FileState {
  QByteArray bytes;
  QDateTime modified;
  static FileState Of(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return {f.readAll(), QFileInfo(path).lastModified()};
  }
  bool operator==(const FileState& o) const { return bytes == o.bytes && modified == o.modified; }
};

// Sets a file's modification time an hour back, so that any write would move it.
void Age(const QString& path) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadWrite));
  ASSERT_TRUE(f.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
}

}  // namespace

TEST_F(At4Reader, TheFileIsNeverWrittenByAReadAStoppedReadOrAFailedOne) {
  const QString good = Path("good.at4"), odd = Path("odd.at4");
  const at4synth::Tree tree = at4synth::MakeTree(120, 2);
  at4synth::WriteAt4(tree, good.toStdString());
  at4synth::Damage damage;
  damage.oddBlobOf = tree.persons[9].id.toStdString();  // person 10 has a long residence text
  at4synth::WriteAt4(tree, odd.toStdString(), "at4gen", damage);
  Age(good);
  Age(odd);
  const FileState before = FileState::Of(good), oddBefore = FileState::Of(odd);

  Model m = Read(good);
  EXPECT_EQ(m.PersonCount(), 120);
  dm_.CloseAll();
  EXPECT_TRUE(FileState::Of(good) == before);

  m = Read(good, [&m](std::int64_t pos, std::int64_t) {
    if (pos >= 30) m.AbortFlag = true;
  });
  dm_.CloseAll();
  EXPECT_TRUE(FileState::Of(good) == before);

  EXPECT_THROW(Read(odd), EAt4Read);
  dm_.CloseAll();
  EXPECT_TRUE(FileState::Of(odd) == oddBefore);
}

TEST_F(At4Reader, AStopKeepsWholePersonsAndReadsNoFamilies) {
  const QString path = Path("stop.at4");
  at4synth::WriteAt4(at4synth::MakeTree(200, 4), path.toStdString());
  Model m;
  TAt4Reader reader(m, dm_, kToday);
  reader.At4_Indi(path, [&m](std::int64_t pos, std::int64_t max) {
    if (max > 0 && pos >= 50) m.AbortFlag = true;
  });
  EXPECT_TRUE(m.AbortFlag);
  EXPECT_EQ(m.PersonCount(), 49);  // the person of the row the stop was seen at is not added
  EXPECT_EQ(m.FamilyCount(), 0);
  const Model whole = Read(path);
  for (std::int64_t i = 1; i <= m.PersonCount(); ++i) {
    const TINDI& a = m.aIndi[std::size_t(i)];
    const TINDI& b = whole.aIndi[std::size_t(i)];
    EXPECT_EQ(a._UID, b._UID);
    EXPECT_EQ(a.FIO1, b.FIO1);
    EXPECT_EQ(a.BIRT_DATE.NORM, b.BIRT_DATE.NORM);
    EXPECT_TRUE(a.FAMS.empty());
  }
}

// ---------------------------------------------------------------- files that are no family tree

namespace {

EAt4Read::Kind KindOf(const std::function<void()>& read, QString* message = nullptr) {
  try {
    read();
  } catch (const EAt4Read& e) {
    if (message) *message = e.Message();
    return e.What();
  }
  ADD_FAILURE() << "no error";
  return EAt4Read::ReadFailed;
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes);
}

}  // namespace

TEST_F(At4Reader, DamagedAndForeignFilesEndWithAClearMessage) {
  const at4synth::Tree tree = at4synth::MakeTree(60, 6);
  const QString good = Path("good.at4");
  at4synth::WriteAt4(tree, good.toStdString());
  QByteArray whole;
  {
    QFile f(good);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    whole = f.readAll();
  }
  QByteArray noise(64 * 1024, '\0');
  std::uint64_t s = 99;
  for (char& c : noise) {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    c = char(s >> 56);
  }
  at4synth::Damage noSearch, noPersons, odd;
  noSearch.noSearchIndex = true;
  noPersons.noPersons = true;
  odd.oddBlobOf = tree.persons[9].id.toStdString();
  {
    nrd::TNRDDatabase other;  // a database of the engine with no genealogy table
    other.SetDatabaseName("other");
    other.SetDatabaseFileName(Path("other.at4").toStdString());
    other.SetSilentMode(true);
    other.CreateDatabase();
  }
  at4synth::WriteAt4(tree, Path("nosearch.at4").toStdString(), "at4gen", noSearch);
  at4synth::WriteAt4(tree, Path("nopersons.at4").toStdString(), "at4gen", noPersons);
  at4synth::WriteAt4(tree, Path("odd.at4").toStdString(), "at4gen", odd);
  WriteBytes(Path("noise.at4"), noise);
  WriteBytes(Path("empty.at4"), QByteArray());
  WriteBytes(Path("text.at4"), QByteArray("0 HEAD\n1 CHAR UTF-8\n0 TRLR\n"));
  WriteBytes(Path("half.at4"), whole.left(whole.size() / 2));
  WriteBytes(Path("head.at4"), whole.left(300));

  const struct {
    const char* name;
    std::vector<EAt4Read::Kind> kinds;  // what the message may say
    const char* detail;                 // a text the message names
  } cases[] = {
      {"missing.at4", {EAt4Read::OpenFailed}, ""},
      {"noise.at4", {EAt4Read::NotDatabase}, ""},
      {"empty.at4", {EAt4Read::NotDatabase}, ""},
      {"text.at4", {EAt4Read::NotDatabase}, ""},
      {"head.at4", {EAt4Read::NotDatabase, EAt4Read::Damaged}, ""},
      {"half.at4", {EAt4Read::Damaged, EAt4Read::ReadFailed, EAt4Read::NotDatabase}, ""},
      {"other.at4", {EAt4Read::NotFamilyTree}, "Persons"},
      {"nopersons.at4", {EAt4Read::NotFamilyTree}, "Persons"},
      {"nosearch.at4", {EAt4Read::NotFamilyTree}, "Values.search"},
      {"odd.at4", {EAt4Read::BadText}, "P_26"},
  };
  for (const auto& c : cases) {
    const QString path = Path(c.name);
    const bool exists = QFileInfo::exists(path);
    const FileState before = exists ? FileState::Of(path) : FileState{};
    QString message;
    const EAt4Read::Kind kind = KindOf([&] { Read(path); }, &message);
    EXPECT_NE(std::find(c.kinds.begin(), c.kinds.end(), kind), c.kinds.end()) << c.name << ": " << message.toStdString();
    EXPECT_TRUE(message.contains(path)) << c.name << ": " << message.toStdString();
    EXPECT_TRUE(message.contains(QString::fromLatin1(c.detail))) << c.name << ": " << message.toStdString();
    dm_.CloseAll();
    if (exists) {
      EXPECT_TRUE(FileState::Of(path) == before) << c.name;
    }
  }
  // After all that the module reads a sound file again.
  EXPECT_EQ(Read(good).PersonCount(), 60);
}

// Ids that point nowhere (a date, a place, a child that no row has) give empty texts, not errors.
TEST_F(At4Reader, IdsThatPointNowhereGiveEmptyTexts) {
  const at4synth::Tree tree = at4synth::MakeTree(400, 8);
  std::size_t dangling = 0, nowhere = 0, missing = 0;
  for (const auto& p : tree.persons)
    for (const auto* e : {p.birth ? &*p.birth : nullptr, p.death ? &*p.death : nullptr})
      if (e) dangling += e->danglingDate, nowhere += e->place == at4synth::Id('L', 999999);
  for (const auto& f : tree.families) missing += !f.missingChild.isEmpty();
  ASSERT_GT(dangling, 0u);
  ASSERT_GT(nowhere, 0u);
  ASSERT_GT(missing, 0u);
  const QString path = Path("dangling.at4");
  at4synth::WriteAt4(tree, path.toStdString());
  EXPECT_EQ(DumpModel(Read(path), kToday.today).toStdString(),
            DumpModel(at4synth::Expected(tree, kToday), kToday.today).toStdString());
}

// The persons come in the person query's order, also where ids tie (a repeated id, ids the collation
// finds equal, several without an id): a Persons table without an index, its rows in a chosen order, read
// by the reader and by the query. With single-byte ids the reader orders a scan of the table itself; with
// wide ones it runs the query.
TEST_F(At4Reader, PersonsComeInTheQuerysOrderAlsoWhereIdsTie) {
  const std::vector<std::pair<const char16_t*, const char16_t*>> persons = {
      {u"b", u"b"},     {u"B", u"B"},          {u"a", u"a"},      {nullptr, u"none 1"}, {u"dup", u"dup 1"},
      {u"a\x01", u"a1"}, {u"dup", u"dup 2"},    {u"A", u"A"},      {u"\u0430", u"cyr a"}, {u"10", u"10"},
      {u"9", u"9"},     {u"I000000002", u"i2"}, {nullptr, u"none 2"}, {u"I000000001", u"i1"}, {u"a-b", u"a-b"},
      {u"ab", u"ab"},   {u"\u0451", u"yo"},     {u"\u0435", u"ye"}};
  for (const nrd::TNRDAdvancedFieldType idType : {nrd::aftString, nrd::aftWideString}) {
    SCOPED_TRACE(idType == nrd::aftString ? "single-byte ids" : "wide ids");
    const QString path = Path("order.at4");
    at4synth::Damage noPersons;
    noPersons.noPersons = true;
    at4synth::WriteAt4(at4synth::MakeTree(30, 4), path.toStdString(), "at4gen", noPersons);
    {
      nrd::TNRDDatabase db;
      db.SetDatabaseName("at4order");
      db.SetDatabaseFileName(path.toStdString());
      db.Open();
      nrd::TNRDTable t;
      at4synth::detail::MakeTable("at4order", "Persons",
                                  {{"id", idType, 10}, {"fullname", nrd::aftWideString, 182}, {"isfav", nrd::aftBoolean, 0},
                                   {"sex", nrd::aftString, 1}, {"birth_id", nrd::aftString, 10}, {"death_id", nrd::aftString, 10}},
                                  {}, t);
      for (const auto& [id, name] : persons) {
        t.Append();
        if (id != nullptr) at4synth::detail::SetText(t, "id", QString::fromUtf16(id));
        at4synth::detail::SetText(t, "fullname", QString::fromUtf16(name));
        t.Post();
      }
      t.Close();
      db.Close();
    }
    std::vector<std::string> byReader, byQuery;
    const Model m = Read(path);
    for (std::int64_t i = 1; i <= m.PersonCount(); ++i)
      byReader.push_back((m.aIndi[std::size_t(i)]._UID + u'|' + m.aIndi[std::size_t(i)].FIO1).toStdString());
    dm_.Query_TMP.SetSQL(TDataModule2::kPersonSQL);
    dm_.Query_TMP.Open();
    for (; !dm_.Query_TMP.Eof(); dm_.Query_TMP.Next())
      byQuery.push_back(QString::fromStdU16String(dm_.Query_TMP.FieldByName("id").AsWideString() + u"|" +
                                                  dm_.Query_TMP.FieldByName("fio").AsWideString())
                            .toStdString());
    dm_.CloseAll();
    EXPECT_EQ(byReader, byQuery);
    ASSERT_EQ(byQuery.size(), persons.size());
    EXPECT_EQ(byQuery.front(), "|none 1");  // NULL first, ties in the table's order
    EXPECT_EQ(byQuery[1], "|none 2");
  }
}

// ---------------------------------------------------------------- passwords

namespace {

// Answers the engine's password question from a list; an empty answer is Cancel.
class ScriptedDialogs : public platform::TEngineDialogs {
 public:
  explicit ScriptedDialogs(std::vector<std::string> answers) : answers_(std::move(answers)) {}
  std::unique_ptr<platform::TEngineWaitForm> CreateWaitForm() override { return nullptr; }
  bool ShowPasswordDialog(const std::string&, std::string& password) override {
    ++asked;
    if (asked > int(answers_.size()) || answers_[std::size_t(asked - 1)].empty()) return false;
    password = answers_[std::size_t(asked - 1)];
    return true;
  }
  bool Confirm(const std::string&) override { return false; }
  void ShowMessage(platform::TEngineMessageKind, const std::string&) override {}
  int asked = 0;

 private:
  std::vector<std::string> answers_;
};

}  // namespace

TEST_F(At4Reader, AnEncryptedFileAsksForItsPasswordUntilRightOrCancelled) {
  const QString path = Path("secret.at4");
  at4synth::WriteAt4(at4synth::MakeTree(40, 9), path.toStdString(), "at4gen", {}, "tree-pass");
  Age(path);
  const FileState before = FileState::Of(path);
  {
    ScriptedDialogs dialogs({"wrong", "tree-pass"});
    platform::TEngineDialogs* old = platform::SetEngineDialogs(&dialogs);
    const Model m = Read(path);
    platform::SetEngineDialogs(old);
    EXPECT_EQ(dialogs.asked, 2);  // a wrong password asks again
    EXPECT_EQ(m.PersonCount(), 40);
  }
  dm_.CloseAll();
  dm_.dbAT4.SetPassword("");
  {
    ScriptedDialogs dialogs({"wrong", ""});
    platform::TEngineDialogs* old = platform::SetEngineDialogs(&dialogs);
    QString message;
    EXPECT_EQ(KindOf([&] { Read(path); }, &message), EAt4Read::NoPassword);
    platform::SetEngineDialogs(old);
    EXPECT_EQ(dialogs.asked, 2);
    EXPECT_TRUE(message.contains(QStringLiteral("паролем"))) << message.toStdString();
  }
  // Without dialogs (a tool) the read ends at once with the same message.
  dm_.CloseAll();
  dm_.dbAT4.SetPassword("");
  EXPECT_EQ(KindOf([&] { Read(path); }), EAt4Read::NoPassword);
  dm_.CloseAll();
  EXPECT_TRUE(FileState::Of(path) == before);
}

// ---------------------------------------------------------------- the same tree as GEDCOM

// The same tree read from GEDCOM gives the same persons, families and dates, except for the fields each
// format fills its own way: identifiers (INDI), the event id kept in BIRT_DATE.CALEN and DEAT_DATE.CALEN,
// SURN of a woman (GEDCOM: the birth surname), the GEDCOM date text ORIG (the ".at4" form is rebuilt
// from the display text), dates the GEDCOM twin leaves out (an unknown month, "one of two", B.C.), the
// sort keys and day of partial dates and ranges (the database's rules against the GEDCOM grammar's), the
// qualifier of "from ... to" ("FROM" against "FRO"), the full name FIO1 of a person without names (the
// database's own text) and a person's SEX other than M or F.
TEST_F(At4Reader, SameTreeAsGedcomGivesTheSamePersonsFamiliesAndDates) {
  const at4synth::Tree tree = at4synth::MakeTree(300, 3);
  const QString path = Path("twin.at4");
  at4synth::WriteAt4(tree, path.toStdString());
  const Model a = Read(path);
  Model g;
  Ged_IndiFromBytes(g, at4synth::Gedcom(tree));
  ASSERT_EQ(a.PersonCount(), g.PersonCount());
  ASSERT_EQ(a.FamilyCount(), g.FamilyCount());
  std::map<QString, std::int64_t> gById;  // "@I...@" -> index
  for (std::int64_t i = 1; i <= g.PersonCount(); ++i) gById[g.aIndi[std::size_t(i)].INDI.mid(1).chopped(1)] = i;
  std::map<QString, const at4synth::Event*> eventOf;
  for (const auto& p : tree.persons)
    for (const auto* e : {p.birth ? &*p.birth : nullptr, p.death ? &*p.death : nullptr})
      if (e) eventOf[e->id] = e;
  const auto inTwin = [&](const QString& event) {
    const auto it = eventOf.find(event);
    return it != eventOf.end() && it->second->date && !it->second->date->gedcom.isEmpty();
  };
  const auto uidA = [&](std::int64_t i) { return i ? a.aIndi[std::size_t(i)]._UID : QString(); };
  const auto uidG = [&](std::int64_t i) { return i ? g.aIndi[std::size_t(i)].INDI.mid(1).chopped(1) : QString(); };
  const auto sameDate = [](const TDATES& x, const TDATES& y, const QString& where) {
    EXPECT_EQ(x.NORM, y.NORM) << where.toStdString();
    EXPECT_EQ(x.YEARS, y.YEARS) << where.toStdString() << " " << x.NORM.toStdString();
    // A range "from ... to" is "FROM" here (the database's word), "FRO" in the GEDCOM grammar.
    if (x.STYPE != u"FROM") {
      EXPECT_EQ(x.STYPE, y.STYPE) << where.toStdString() << " " << x.NORM.toStdString();
    }
    if (x.STYPE.isEmpty() && x.DDATE != kUnknownDate) {
      EXPECT_EQ(x.DDATE, y.DDATE) << where.toStdString() << " " << x.NORM.toStdString();
      EXPECT_EQ(x.SORT1, y.SORT1) << where.toStdString();
      EXPECT_EQ(x.SORT2, y.SORT2) << where.toStdString();
    }
  };
  int dates = 0;
  for (std::int64_t i = 1; i <= a.PersonCount(); ++i) {
    const TINDI& p = a.aIndi[std::size_t(i)];
    ASSERT_TRUE(gById.count(p._UID)) << p._UID.toStdString();
    const TINDI& q = g.aIndi[std::size_t(gById[p._UID])];
    const std::string w = p._UID.toStdString();
    if (p.SEX == u"M" || p.SEX == u"F") {
      EXPECT_EQ(p.SEX, q.SEX) << w;
    }
    EXPECT_EQ(p.SURN1, q.SURN1) << w;
    EXPECT_EQ(p.SURN0, q.SURN0) << w;
    EXPECT_EQ(p.FIRS1, q.FIRS1) << w;
    EXPECT_EQ(p.PATR1, q.PATR1) << w;
    EXPECT_EQ(p.GIVN.trimmed(), q.GIVN.trimmed()) << w;
    // The database's full name of a person without names is its own (empty here); GEDCOM builds one.
    if (!p.SURN1.isEmpty()) {
      EXPECT_EQ(p.FIO1, q.FIO1) << w;
    }
    if (inTwin(p.BIRT_DATE.CALEN)) sameDate(p.BIRT_DATE, q.BIRT_DATE, p._UID + QStringLiteral(" birth")), ++dates;
    EXPECT_EQ(p.BIRT_PLAC, q.BIRT_PLAC) << w;
    EXPECT_EQ(p.BIRT_NOTE, q.BIRT_NOTE) << w;
    EXPECT_EQ(p.DEAT, q.DEAT) << w;
    if (inTwin(p.DEAT_DATE.CALEN)) sameDate(p.DEAT_DATE, q.DEAT_DATE, p._UID + QStringLiteral(" death")), ++dates;
    EXPECT_EQ(p.DEAT_PLAC, q.DEAT_PLAC) << w;
    EXPECT_EQ(p.DEAT_NOTE, q.DEAT_NOTE) << w;
    EXPECT_EQ(p.RESI_PLAC, q.RESI_PLAC) << w;
    EXPECT_EQ(p.NOTE, q.NOTE) << w;
    EXPECT_EQ(uidA(p.FAMC ? a.aFam[std::size_t(p.FAMC)].HUSB : 0), uidG(q.FAMC ? g.aFam[std::size_t(q.FAMC)].HUSB : 0)) << w;
    EXPECT_EQ(uidA(p.FAMC ? a.aFam[std::size_t(p.FAMC)].WIFE : 0), uidG(q.FAMC ? g.aFam[std::size_t(q.FAMC)].WIFE : 0)) << w;
    EXPECT_EQ(p.FAMS.size(), q.FAMS.size()) << w;
  }
  EXPECT_GT(dates, 200);
  std::map<std::pair<QString, QString>, std::int64_t> gFam;
  for (std::int64_t f = 1; f <= g.FamilyCount(); ++f)
    gFam[{uidG(g.aFam[std::size_t(f)].HUSB), uidG(g.aFam[std::size_t(f)].WIFE)}] = f;
  for (std::int64_t f = 1; f <= a.FamilyCount(); ++f) {
    const TFAM& x = a.aFam[std::size_t(f)];
    const auto key = std::make_pair(uidA(x.HUSB), uidA(x.WIFE));
    ASSERT_TRUE(gFam.count(key)) << x.FAM.toStdString();
    const TFAM& y = g.aFam[std::size_t(gFam[key])];
    std::vector<QString> ca, cg;
    for (auto c : x.CHIL) ca.push_back(uidA(c));
    for (auto c : y.CHIL) cg.push_back(uidG(c));
    EXPECT_EQ(ca, cg) << x.FAM.toStdString();
    EXPECT_EQ(x.MARR.isEmpty(), y.MARR.isEmpty()) << x.FAM.toStdString();
    EXPECT_EQ(x.MARR_PLAC, y.MARR_PLAC) << x.FAM.toStdString();
    EXPECT_EQ(x.MARR_NOTE, y.MARR_NOTE) << x.FAM.toStdString();
  }
}

// ---------------------------------------------------------------- the full-name layout

namespace {

QByteArray Utf16(const QString& s) {
  const std::string b = at4synth::detail::Utf16Le(s);
  return QByteArray(b.data(), qsizetype(b.size()));
}

}  // namespace

TEST(At4Layout, TheDocumentElementsChildrenWithOrWithoutDeclaration) {
  const QString fields = QStringLiteral("P_8|P_9|P_10|P_11");
  const QString bom = QString(QChar(0xFEFF));
  const struct {
    QString xml;
    QString ids;  // fieldID of each element, "|"-joined
  } cases[] = {
      {at4synth::LayoutXml(true), fields},
      {at4synth::LayoutXml(false), fields},
      {bom + at4synth::LayoutXml(true), fields},
      {bom + at4synth::LayoutXml(false), fields},
      // Only element children count: text, comments, instructions and grandchildren do not.
      {QStringLiteral("<!-- the layout --><l>text<a fieldID=\"P_8\"><b fieldID=\"X\"/></a><!-- c --><?pi x?>"
                      "<a fieldID=\"P_10\"/></l>"),
       QStringLiteral("P_8|P_10")},
      {QStringLiteral("<l/>"), QString()},
  };
  for (const auto& c : cases) {
    const std::vector<TFullName> layout = ParseFullNameLayout(Utf16(c.xml), QStringLiteral("x.at4"));
    QStringList ids;
    for (const TFullName& f : layout) ids << f.fieldID;
    EXPECT_EQ(ids.join(u'|'), c.ids) << c.xml.toStdString();
  }
  const std::vector<TFullName> l = ParseFullNameLayout(Utf16(at4synth::LayoutXml(false)), QStringLiteral("x.at4"));
  ASSERT_EQ(l.size(), 4u);
  EXPECT_EQ(l[1].prefix, u"(");
  EXPECT_EQ(l[1].suffix, u")");
  EXPECT_EQ(l[1].abbr, u"0");
  const std::vector<TFullName> bare = ParseFullNameLayout(Utf16(QStringLiteral("<l><a/></l>")), QStringLiteral("x.at4"));
  ASSERT_EQ(bare.size(), 1u);
  EXPECT_TRUE(bare[0].fieldID.isEmpty() && bare[0].prefix.isEmpty() && bare[0].emptyval.isEmpty());
}

TEST(At4Layout, ABrokenOrExplodingDocumentIsAClearError) {
  // Entities that would expand to 10^9 copies: refused at the expansion limit, at once.
  QString bomb = QStringLiteral("<?xml version=\"1.0\"?><!DOCTYPE l [<!ENTITY e0 \"lol\">");
  for (int i = 1; i <= 9; ++i)
    bomb += QStringLiteral("<!ENTITY e%1 \"%2\">").arg(i).arg(QStringLiteral("&e%1;").arg(i - 1).repeated(10));
  bomb += QStringLiteral("]><l><a fieldID=\"&e9;\"/></l>");
  QByteArray odd = Utf16(at4synth::LayoutXml());
  odd.chop(1);
  const struct {
    const char* what;
    QByteArray bytes;
  } cases[] = {
      {"bomb", Utf16(bomb)},
      {"unclosed", Utf16(QStringLiteral("<l><a fieldID=\"P_8\">"))},
      {"two roots", Utf16(QStringLiteral("<l/><m/>"))},
      {"empty", QByteArray()},
      {"text only", Utf16(QStringLiteral("Фамилия Имя"))},
      {"odd length", odd},
  };
  for (const auto& c : cases) {
    try {
      ParseFullNameLayout(c.bytes, QStringLiteral("x.at4"));
      ADD_FAILURE() << c.what << ": no error";
    } catch (const EAt4Read& e) {
      EXPECT_EQ(e.What(), EAt4Read::BadLayout) << c.what;
      EXPECT_TRUE(e.Message().contains(QStringLiteral("x.at4"))) << c.what;
    }
  }
}

TEST_F(At4Reader, TheLayoutIsReadFromTheGlobalRow) {
  const QString path = Path("layout.at4");
  at4synth::WriteAt4(at4synth::MakeTree(10, 1), path.toStdString());
  Read(path);
  const std::vector<TFullName> layout = LoadFullNameLayout(dm_);
  ASSERT_EQ(layout.size(), 4u);
  EXPECT_EQ(layout[0].fieldID, u"P_8");
  EXPECT_EQ(layout[3].fieldID, u"P_11");
}
