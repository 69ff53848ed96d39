// The group edit tools on ".at4" databases: record ids and full names, the role walk of the person
// choice on a four-generation tree with pedigree collapse (and a loop of roles), each tool's dry run
// against its write run, the rows a write run changes (a small golden fixture), long texts, the layout
// per file, a fault after every change rolled back, and a killed writer.
#include "sources/GroupEdit.h"
#include "sources/PersonChoice.h"
#include "sources/ToolsImpl.h"
#include "sources/Unit2.h"

#include "app/core/ModelDump.h"
#include "sources/FamilyTreeFile.h"
#include "tools/At4Synth.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <random>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace toolsimpl;

TToolOptions Opt(const std::function<void(TToolOptions&)>& f) {
  TToolOptions o;
  f(o);
  return o;
}

// ------------------------------------------------------------------ ids and names

TEST(At4RecordId, StampsAndDigits) {
  EXPECT_EQ(IntToBase62(0), QStringLiteral("0"));
  EXPECT_EQ(IntToBase62(9), QStringLiteral("9"));
  EXPECT_EQ(IntToBase62(10), QStringLiteral("a"));
  EXPECT_EQ(IntToBase62(61), QStringLiteral("Z"));
  EXPECT_EQ(IntToBase62(62), QStringLiteral("10"));
  EXPECT_EQ(IntToBase62(62 * 62 + 61), QStringLiteral("10Z"));
  const QDateTime start(QDate(2004, 1, 1), QTime(0, 0, 0));
  EXPECT_EQ(Base62TimeStamp(true, start), QStringLiteral("0000"));
  EXPECT_EQ(Base62TimeStamp(false, start.addDays(62)), QStringLiteral("1000"));
  EXPECT_EQ(Base62TimeStamp(true, QDateTime(QDate(2004, 1, 2), QTime(23, 59, 58))), QStringLiteral("1GYy"));
  // Before 2004 the days count as 0.
  EXPECT_TRUE(Base62TimeStamp(false, QDateTime(QDate(1999, 5, 5), QTime(1, 2))).startsWith(u'0'));

  std::mt19937 rnd(5);
  const QString a = NewRecordId(start, rnd, {});
  EXPECT_EQ(a.size(), 10);
  EXPECT_TRUE(a.startsWith(QStringLiteral("0000")));
  EXPECT_TRUE(NewRecordId(start.addDays(62), rnd, {}).startsWith(QStringLiteral("10")));
  for (QChar c : a) EXPECT_NE(std::strchr(kBase62Digits, char(c.unicode())), nullptr);
  // An id that is taken is drawn again: with every id of this stamp but the 50th draw taken, the 50th
  // comes out.
  int draws = 0;
  std::set<QString> seen;
  const QString id = NewRecordId(start, rnd, [&](const QString& s) {
    seen.insert(s);
    return ++draws < 50;
  });
  EXPECT_EQ(draws, 50);
  EXPECT_EQ(seen.size(), 50u);
  EXPECT_TRUE(seen.count(id));
  // Even when every id of ten characters is taken the drawing ends (ids grow).
  const QString longer = NewRecordId(start, rnd, [](const QString& s) { return s.size() <= 10; });
  EXPECT_EQ(longer.size(), 11);
}

TEST(At4FullName, LayoutRules) {
  const auto layout = [](std::initializer_list<TFullName> l) { return std::vector<TFullName>(l); };
  const auto el = [](const char* id, const char* prefix = "", const char* suffix = "", const char* emptyval = "",
                     const char* abbr = "0") {
    return TFullName{QString::fromLatin1(id), QString::fromLatin1(abbr), QString::fromUtf8(prefix),
                     QString::fromUtf8(suffix), QString::fromUtf8(emptyval)};
  };
  const std::vector<TFullName> standard =
      layout({el("P_8"), el("P_9", "(", ")"), el("P_10"), el("P_11")});
  struct Case {
    const char* what;
    std::vector<TFullName> layout;
    std::map<QString, QString> values;
    const char* full;
  };
  const std::vector<Case> cases = {
      {"all parts", standard, {{"P_8", "Орлова"}, {"P_9", "Ильина"}, {"P_10", "Ольга"}, {"P_11", "Ивановна"}},
       "Орлова (Ильина) Ольга Ивановна"},
      {"birth surname equal to the surname is left out", standard,
       {{"P_8", "Орлова"}, {"P_9", "Орлова"}, {"P_10", "Ольга"}}, "Орлова Ольга"},
      {"the birth surname before the surname is kept", layout({el("P_9"), el("P_8")}),
       {{"P_8", "Орлова"}, {"P_9", "Орлова"}}, "Орлова Орлова"},
      {"abbreviated", layout({el("P_8"), el("P_10", "", "", "", "1"), el("P_11", "", "", "", "1")}),
       {{"P_8", "Petrov"}, {"P_10", "Ivan"}}, "Petrov I. ."},
      {"empty value takes emptyval", layout({el("P_8", "", "", "?"), el("P_10", "[", "]")}), {{"P_10", "Ivan"}},
       "? [Ivan]"},
      {"nothing", standard, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto value = [&c](const QString& code) {
      auto it = c.values.find(code);
      return it == c.values.end() ? QString() : it->second;
    };
    EXPECT_EQ(At4FullName(c.layout, value, {}, {}), QString::fromUtf8(c.full));
  }
  // The changed codes go through the change, after the birth surname was compared.
  const std::map<QString, QString> v = {{"P_8", "орлова"}, {"P_9", "орлова"}, {"P_10", "ольга"}};
  EXPECT_EQ(At4FullName(
                standard, [&v](const QString& c) { return v.count(c) ? v.at(c) : QString(); },
                [](const QString& c) { return c == u"P_8" || c == u"P_9"; }, [](const QString& s) { return s.toUpper(); }),
            QStringLiteral("ОРЛОВА ольга"));
}

TEST(At4RoleWalk, ExclusionRules) {
  struct Case {
    int item, r1, r2;
    const char* path;
    bool spouses, siblings, excluded;
  };
  const std::vector<Case> cases = {
      {2, 1, 2, "", false, false, false},   // to the father
      {2, 2, 3, "", false, false, true},    // the other parent of the same child
      {2, 1, 1, "", false, false, true},    // a brother, without the box
      {2, 1, 1, "", false, true, true},     // a brother from the start is no sibling of the start's line
      {2, 2, 1, "2", false, true, false},   // the father's child: a sibling
      {2, 2, 1, "21", false, true, true},   // nothing below a sibling
      {2, 1, 6, "", false, false, true},    // a wife without the box
      {2, 1, 6, "", true, false, false},    // with it
      {2, 6, 2, "6", true, false, true},    // nothing beyond a spouse
      {6, 2, 1, "", false, false, false},   // item 6 goes down
      {6, 1, 2, "1", false, false, true},   // and not up again
      {6, 1, 2, "21", true, false, false},  // with spouses: up again after a "1" with no parent step since
      {6, 1, 3, "12", true, false, true},   // ... but not after one
      {3, 1, 3, "", false, false, true},    // fathers only
      {3, 1, 2, "", false, false, false},
      {3, 1, 3, "2", true, false, false},   // with spouses a mother is reached once
      {3, 1, 2, "3", true, false, true},
      {4, 1, 2, "", false, false, true},    // mothers only
      {4, 1, 3, "", false, false, false},
      {7, 2, 1, "", false, false, true},    // outside the chain: children not without the box
      {7, 1, 2, "", false, false, true},    // X in the chain with R1 1
      {7, 5, 6, "", true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.item << " " << c.r1 << "->" << c.r2 << " path " << c.path);
    EXPECT_EQ(At4Excluded(c.item, c.r1, c.r2, QString::fromLatin1(c.path), c.spouses, c.siblings, false, true),
              c.excluded);
  }
  // A person of the chain is never excluded; outside it X must be in the chain.
  EXPECT_FALSE(At4Excluded(7, 1, 2, QString(), false, false, true, false));
  EXPECT_TRUE(At4Excluded(7, 2, 1, QString(), true, true, false, false));
  EXPECT_TRUE(At4RoleCarriesName(1));
  EXPECT_FALSE(At4RoleCarriesName(2));
  EXPECT_FALSE(At4RoleCarriesName(3));
  EXPECT_TRUE(At4RoleCarriesName(99));
}

// ------------------------------------------------------------------ files

// The engine stays started for the fixture's files.
class At4Tools : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  QString Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
  // The tools' language file: a file of the given name and text in the test's folder.
  void UseLanguage(const char* name, const char* text) {
    QFile f(Path(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    f.close();
    lang_ = std::make_unique<platform::TIniFile>(Path(name));
  }
  static QByteArray Bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  void Write(const at4synth::Tree& t, const QString& path) {
    engine_.CloseAll();
    at4synth::WriteAt4(t, path.toStdString(), "at4tools" + std::to_string(++made_));
  }
  Model Load(const QString& path) {
    Model m;
    EXPECT_TRUE(LoadFamilyTree(m, path));
    engine_.CloseAll();  // the reader leaves the file open in the module
    return m;
  }
  TToolResult Run(const QString& path, const TToolOptions& o, bool write, std::int64_t current = 1,
                  std::function<void(int)> afterChange = {}, const QString& chain = QString()) {
    model_ = Load(path);
    TToolContext ctx{model_, path};
    ctx.write = write;
    ctx.current = current;
    ctx.LinkChain = chain;
    ctx.translit = lang_.get();
    ctx.afterChange = std::move(afterChange);
    return RunGroupEdit(ctx, o);
  }
  // Rows of a table as "col|col|..." texts (BLOBs as their UTF-16LE text), sorted.
  std::multiset<QString> Rows(const QString& path, const char* table, std::initializer_list<const char*> cols) {
    TDataModule2 dm;
    dm.dbAT4.SetDatabaseFileName(path.toStdString());
    dm.dbAT4.Open();
    nrd::TNRDTable t;
    t.SetDatabaseName(dm.DatabaseName());
    t.SetTableName(table);
    t.SetReadOnly(true);
    t.Open();
    std::multiset<QString> out;
    for (t.First(); !t.Eof(); t.Next()) {
      QStringList r;
      for (const char* c : cols) {
        nrd::TField& f = t.FieldByName(c);
        if (f.IsNull()) r << QStringLiteral("<null>");
        else if (f.IsBlob()) {
          const std::string b = f.AsBytes();
          r << QString::fromUtf16(reinterpret_cast<const char16_t*>(b.data()), qsizetype(b.size() / 2));
        } else {
          r << QString::fromStdU16String(f.AsWideString());
        }
      }
      out.insert(r.join(u'|'));
    }
    t.Close();
    dm.CloseAll();
    return out;
  }
  // What changed between two row sets: the rows gone and the rows new.
  static std::pair<std::vector<QString>, std::vector<QString>> Diff(const std::multiset<QString>& a,
                                                                    const std::multiset<QString>& b) {
    std::vector<QString> gone, added;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(gone));
    std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(added));
    return {gone, added};
  }
  // Puts another full-name layout into the file's "global" row.
  static void SetLayout(const QString& path, const QString& xml) {
    TDataModule2 dm;
    dm.dbAT4.SetDatabaseFileName(path.toStdString());
    dm.dbAT4.SetReadOnly(false);
    dm.dbAT4.Open();
    nrd::TNRDTable g;
    g.SetDatabaseName(dm.DatabaseName());
    g.SetTableName("global");
    g.Open();
    g.First();
    g.Edit();
    std::string bytes;
    for (QChar ch : xml) bytes += char(ch.unicode() & 0xFF), bytes += char(ch.unicode() >> 8);
    g.FieldByName("fullname").SetAsBytes(bytes);
    g.Post();
    g.Close();
    dm.CloseAll();
  }
  static std::string NrdCheck(const QString& path) {
#ifdef NRD_CHECK
    QProcess p;
    p.start(QStringLiteral(NRD_CHECK), {path});
    p.waitForFinished(120000);
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    return p.exitCode() == 0 && out.trimmed().endsWith(QStringLiteral("ok")) ? "ok" : out.toStdString();
#else
    (void)path;
    return "ok";
#endif
  }

  QTemporaryDir dir_;
  TDataModule2 engine_;  // keeps the engine started
  std::unique_ptr<platform::TIniFile> lang_;
  Model model_;
  int made_ = 0;
};

// The four-generation tree of the model walk's tests, as database roles: 1 x 2 have 3 (M) and 4 (F);
// 3 x 5 have 7; 6 x 4 have 8; the cousins 7 x 8 have 9 (M) and 10 (F); 9 x 11 have 12 (no sex).
// Every couple also has a marriage event (roles 5 and 6).
at4synth::Tree ChoiceTree(const std::vector<std::tuple<int, int, std::vector<std::int64_t>>>& families = {}) {
  at4synth::Tree t;
  const char* sex = "MFMFFMMFMFF?";
  for (int i = 1; i <= 12; ++i) {
    at4synth::Person p;
    p.id = QStringLiteral("I%1").arg(i, 9, 10, QLatin1Char('0'));
    p.sex = sex[i - 1] == '?' ? QString() : QString(QChar(sex[i - 1]));
    p.sur = QStringLiteral("S%1").arg(i);
    p.first = QStringLiteral("F%1").arg(i);
    p.fullname = QStringLiteral("P%1").arg(i);
    at4synth::Event b;
    b.id = QStringLiteral("B%1").arg(i, 9, 10, QLatin1Char('0'));
    p.birth = b;
    t.persons.push_back(p);
  }
  const auto fams = families.empty() ? std::vector<std::tuple<int, int, std::vector<std::int64_t>>>{
                                           {1, 2, {3, 4}}, {3, 5, {7}}, {6, 4, {8}}, {7, 8, {9, 10}}, {9, 11, {12}}}
                                     : families;
  int n = 0;
  for (const auto& [h, w, ch] : fams) {
    at4synth::Family f;
    f.father = h;
    f.mother = w;
    f.children = ch;
    at4synth::Event m;
    m.id = QStringLiteral("M%1").arg(++n, 9, 10, QLatin1Char('0'));
    f.marriage = m;
    t.families.push_back(f);
  }
  return t;
}

// The persons a technical-field dry run notes, by their number ("P9" -> 9).
std::set<std::int64_t> Noted(const TToolResult& r) {
  std::set<std::int64_t> s;
  for (qsizetype i = 1; i + 1 < r.protocol.size(); ++i) s.insert(r.protocol[i].section(u' ', 0, 0).mid(1).toLongLong());
  return s;
}

TEST_F(At4Tools, RoleWalkChoosesTheExpectedPersons) {
  const QString path = Path("choice.at4");
  Write(ChoiceTree(), path);
  const Model m = Load(path);
  ASSERT_EQ(m.PersonCount(), 12);
  // Ids sort as the numbers: model index = person number.
  for (int i = 1; i <= 12; ++i) ASSERT_EQ(m.aIndi[std::size_t(i)].FIO1, QStringLiteral("P%1").arg(i));
  struct Case {
    int item, sex;
    bool spouses, siblings;
    std::int64_t current;
    std::set<std::int64_t> at4;  // empty: as the model walk
  };
  const std::vector<Case> cases = {
      {0, 2, false, false, 9, {}},
      {0, 1, false, false, 9, {}},
      {1, 2, false, false, 9, {}},
      {1, 2, false, false, 3, {}},
      {2, 2, false, false, 9, {}},
      {2, 0, false, false, 9, {}},
      {3, 2, false, false, 9, {}},
      {4, 2, false, false, 9, {}},
      {5, 2, false, false, 9, {}},
      {5, 2, false, false, 8, {}},
      {6, 2, false, false, 9, {}},
      {6, 1, false, false, 9, {}},
      // With spouses the role walk also walks on from each spouse it reaches.
      {1, 2, true, false, 3, {3, 5, 7, 8, 9, 10, 11, 12}},
      // With spouses the mothers of the fathers' line too (no further line from a mother).
      {3, 2, true, false, 9, {1, 2, 3, 5, 7, 8, 9}},
      // With siblings: the brothers and sisters of each person of the line, and nothing below them.
      {2, 2, false, true, 9, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
      {3, 2, false, true, 9, {1, 3, 4, 7, 9, 10}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "item " << c.item << " sex " << c.sex << " spouses " << c.spouses << " siblings "
                                    << c.siblings << " from " << c.current);
    const TToolOptions o = Opt([&c](TToolOptions& x) {
      x.ComboBox5 = 2;
      x.Edit24 = QStringLiteral("5");
      x.RadioGroup14 = c.item;
      x.RadioGroup13 = c.sex;
      x.CheckBox55 = c.spouses;
      x.CheckBox56 = c.siblings;
    });
    const TToolResult r = Run(path, o, false, c.current);
    std::set<std::int64_t> expected = c.at4;
    if (expected.empty()) {
      Model mm = m;
      ChooseModelPersons(mm, o, c.current, {}, false, {});
      for (std::size_t i = 1; i < mm.aIndi.size(); ++i)
        if (!mm.aIndi[i].TECH.isEmpty()) expected.insert(std::int64_t(i));
    }
    EXPECT_EQ(Noted(r), expected) << r.protocol.join(u'\n').toStdString();
    // Each person once; the count line counts the person lines.
    EXPECT_EQ(r.protocol.size(), qsizetype(expected.size()) + 2);
    EXPECT_EQ(r.protocol.last(), QStringLiteral("Всего изменений у персон: %1").arg(expected.size()));
  }
  // The kinship path: the current person, and through its roles the persons of the chain.
  const TToolOptions chain = Opt([](TToolOptions& x) {
    x.ComboBox5 = 2;
    x.RadioGroup14 = 7;
  });
  EXPECT_EQ(Noted(Run(path, chain, false, 9, {}, QStringLiteral("9;7;3"))), (std::set<std::int64_t>{3, 7, 9}));
  EXPECT_EQ(Noted(Run(path, chain, false, 9, {}, QStringLiteral("9;8;4;1"))), (std::set<std::int64_t>{1, 4, 8, 9}));
}

TEST_F(At4Tools, ALoopOfRolesEnds) {
  // 1 is the child of 3, and 3 the child of 1 and 2; 5 the child of 5.
  const QString path = Path("loop.at4");
  Write(ChoiceTree({{1, 2, {3}}, {3, 4, {1}}, {5, 6, {5}}}), path);
  for (int item : {1, 2, 5, 6}) {
    SCOPED_TRACE(item);
    const TToolOptions o = Opt([item](TToolOptions& x) {
      x.ComboBox5 = 2;
      x.RadioGroup14 = item;
      x.CheckBox55 = true;
    });
    const std::set<std::int64_t> noted = Noted(Run(path, o, false, 1));
    EXPECT_TRUE(noted.count(1));
    EXPECT_LE(noted.size(), 4u);
    EXPECT_FALSE(noted.count(5));
  }
}

TEST_F(At4Tools, EachToolDryRunEqualsWriteRunAndChangesOnlyWhatItSays) {
  ASSERT_NO_FATAL_FAILURE(UseLanguage(
      "tr.lng", "[Transliteration]\nА=A;A;A\nа=a;a;a\nО=O;O;O\nо=o;o;o\nИ=I;I;I\nи=i;i;i\nе=e;e;e\nв=v;v;v\nл=l;l;l\n"));
  struct Case {
    const char* what;
    TToolOptions o;
    std::vector<const char*> fields;  // the dump's person fields the tool may change
  };
  const std::vector<Case> cases = {
      {"phone of the descendants", Opt([](TToolOptions& o) {
         o.ComboBox5 = 2;
         o.Edit24 = QStringLiteral("5");
         o.RadioGroup14 = 6;
         o.CheckBox55 = true;
       }),
       {}},
      {"clear the e-mails", Opt([](TToolOptions& o) {
         o.ComboBox5 = 3;
         o.RadioGroup14 = 8;
         o.RadioGroup13 = 0;  // whatever the sex
       }),
       {}},
      {"first names", Opt([](TToolOptions& o) {
         o.ComboBox4 = gtNames;
         o.Edit13 = QStringLiteral("иван~ ~Анна");
         o.Edit14 = QStringLiteral("Ioann");
         o.N5 = false;
       }),
       {"FIRS1", "GIVN", "FIO1"}},
      {"surnames upper", Opt([](TToolOptions& o) { o.ComboBox4 = gtSurnameCase; }), {"SURN", "SURN0", "SURN1", "FIO1"}},
      {"transliteration", Opt([](TToolOptions& o) {
         o.ComboBox4 = gtTranslit;
         o.TransNames = o.TransPlaces = true;
       }),
       {"SURN", "SURN0", "SURN1", "FIRS1", "PATR1", "GIVN", "FIO1", "RESI_PLAC", "BIRT_PLAC", "DEAT_PLAC"}},
  };
  const at4synth::Tree tree = at4synth::MakeTree(40);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QString path = Path("tree.at4");
    Write(tree, path);
    const QByteArray before = Bytes(path);
    const QDateTime mtime = QFileInfo(path).lastModified();
    const Model m0 = Load(path);
    const std::multiset<QString> values0 = Rows(path, "Values", {"f_id", "r_id", "vstr"});
    const TToolResult dry = Run(path, c.o, false);
    EXPECT_EQ(Bytes(path), before);
    EXPECT_EQ(QFileInfo(path).lastModified(), mtime);
    const TToolResult wet = Run(path, c.o, true);
    EXPECT_EQ(dry.protocol.mid(1), wet.protocol.mid(1));
    EXPECT_GT(wet.changes, 0) << wet.protocol.join(u'\n').toStdString();
    EXPECT_EQ(wet.changes, dry.changes);
    EXPECT_TRUE(wet.reload);
    EXPECT_EQ(NrdCheck(path), "ok");
    // Read back: every person and family as before but for the fields the tool changes.
    const Model m1 = Load(path);
    ASSERT_EQ(m1.PersonCount(), m0.PersonCount());
    Model a = m0, b = m1;
    int changedPersons = 0;
    for (std::size_t i = 1; i < a.aIndi.size(); ++i) {
      bool changed = false;
      for (const char* f : c.fields) {
        QString* x = nullptr;
        QString* y = nullptr;
        const QString name = QString::fromLatin1(f);
        for (auto [p, q] : {std::pair{&a.aIndi[i], &x}, std::pair{&b.aIndi[i], &y}}) {
          TINDI& t = *p;
          *q = name == u"SURN" ? &t.SURN : name == u"SURN0" ? &t.SURN0 : name == u"SURN1" ? &t.SURN1 : name == u"FIRS1" ? &t.FIRS1
             : name == u"PATR1" ? &t.PATR1 : name == u"GIVN" ? &t.GIVN : name == u"FIO1" ? &t.FIO1
             : name == u"RESI_PLAC" ? &t.RESI_PLAC : name == u"BIRT_PLAC" ? &t.BIRT_PLAC : &t.DEAT_PLAC;
        }
        if (*x != *y) changed = true;
        if (c.o.ComboBox4 == gtSurnameCase && name != u"FIO1") { EXPECT_EQ(*y, x->toUpper()); }
        x->clear();
        y->clear();
      }
      if (changed) ++changedPersons;
    }
    for (auto& f : a.aFam) f.MARR_PLAC.clear();
    for (auto& f : b.aFam) f.MARR_PLAC.clear();
    EXPECT_EQ(DumpModel(a), DumpModel(b));
    if (!c.fields.empty()) { EXPECT_GT(changedPersons, 0); }
    // The Values rows: as many differ as the protocol's value count says (tools 1 to 3), and only rows
    // of the tool's codes.
    const auto [gone, added] = Diff(values0, Rows(path, "Values", {"f_id", "r_id", "vstr"}));
    for (const QString& r : gone) {
      const QString code = r.section(u'|', 0, 0);
      if (c.o.ComboBox4 == gtTechField) { EXPECT_EQ(code, c.o.ComboBox5 == 2 ? u"P_32" : u"P_33") << r.toStdString(); } else if (c.o.ComboBox4 == gtNames) { EXPECT_EQ(code, u"P_10") << r.toStdString(); } else if (c.o.ComboBox4 == gtSurnameCase) { EXPECT_TRUE(code == u"P_8" || code == u"P_9") << r.toStdString(); }
    }
    if (c.o.ComboBox4 == gtTechField && c.o.RadioGroup14 == 8) {
      EXPECT_TRUE(added.empty());
      EXPECT_EQ(qsizetype(gone.size()), wet.protocol.size() - 2);
    } else if (c.o.ComboBox4 == gtTechField) {
      EXPECT_TRUE(gone.empty());
      EXPECT_EQ(qsizetype(added.size()), wet.protocol.size() - 2);
    } else if (c.o.ComboBox4 != gtTranslit) {
      const QString values = wet.protocol.filter(QStringLiteral("Всего изменений в значениях")).value(0);
      EXPECT_EQ(QString::number(gone.size()), values.section(u' ', -1)) << values.toStdString();
      EXPECT_EQ(gone.size(), added.size());
    }
    // A second dry run finds nothing more to do.
    const TToolResult again = Run(path, c.o, false);
    if (c.o.ComboBox4 != gtTechField) { EXPECT_EQ(again.changes, 0) << again.protocol.join(u'\n').toStdString(); }
  }
}

TEST_F(At4Tools, GoldenRowsOfASmallTree) {
  // Three persons and their birth events; the surname Иванова is replaced wherever it is a whole value:
  // both surnames of 1 (her birth surname, equal to her surname, is not shown in her full name) and
  // the birth surname of her mother 3; both are renamed, and 1's name also in the text of her birth
  // event, where she is the child.
  at4synth::Tree t;
  const auto person = [&t](const char* id, const char* sex, const char* sur, const char* birthSur, const char* first,
                           const char* full) {
    at4synth::Person p;
    p.id = QString::fromLatin1(id);
    p.sex = QString::fromLatin1(sex);
    p.sur = QString::fromUtf8(sur);
    p.birthSur = QString::fromUtf8(birthSur);
    p.first = QString::fromUtf8(first);
    p.fullname = QString::fromUtf8(full);
    at4synth::Event b;
    b.id = QStringLiteral("B") + p.id.mid(1);
    p.birth = b;
    t.persons.push_back(p);
  };
  person("A000000001", "F", "Иванова", "Иванова", "Анна", "Иванова Анна");
  person("A000000002", "M", "Петров", "", "Иван", "Петров Иван");
  person("A000000003", "F", "Орлова", "Иванова", "Мария", "Орлова (Иванова) Мария");
  at4synth::Family f;  // 1 is the child of 2 and 3
  f.father = 2;
  f.mother = 3;
  f.children = {1};
  t.families.push_back(f);
  const QString path = Path("golden.at4");
  Write(t, path);
  const TToolOptions o = Opt([](TToolOptions& x) {
    x.ComboBox4 = gtNames;
    x.PageControl4 = 2;
    x.Edit9 = QStringLiteral("Иванова");
    x.Edit10 = QStringLiteral("Сидорова");
  });
  const auto persons0 = Rows(path, "Persons", {"id", "fullname"});
  const auto values0 = Rows(path, "Values", {"f_id", "r_id", "vstr"});
  const auto events0 = Rows(path, "Events", {"id", "mainpers"});
  const TToolResult r = Run(path, o, true);
  EXPECT_EQ(r.protocol.mid(1), (QStringList{QStringLiteral("Иванова Анна -> Сидорова Анна"),
                                            QStringLiteral("Орлова (Иванова) Мария -> Орлова (Сидорова) Мария"),
                                            QStringLiteral("Всего изменений у персон: 2"),
                                            QStringLiteral("Всего изменений в значениях: 3"),
                                            QStringLiteral("Всего изменений в событиях: 1")}));
  using Rows_ = std::vector<QString>;
  const auto [pg, pa] = Diff(persons0, Rows(path, "Persons", {"id", "fullname"}));
  EXPECT_EQ(pg, (Rows_{QStringLiteral("A000000001|Иванова Анна"), QStringLiteral("A000000003|Орлова (Иванова) Мария")}));
  EXPECT_EQ(pa, (Rows_{QStringLiteral("A000000001|Сидорова Анна"), QStringLiteral("A000000003|Орлова (Сидорова) Мария")}));
  const auto [vg, va] = Diff(values0, Rows(path, "Values", {"f_id", "r_id", "vstr"}));
  EXPECT_EQ(vg, (Rows_{QStringLiteral("P_8|A000000001|Иванова"), QStringLiteral("P_9|A000000001|Иванова"),
                       QStringLiteral("P_9|A000000003|Иванова")}));
  EXPECT_EQ(va, (Rows_{QStringLiteral("P_8|A000000001|Сидорова"), QStringLiteral("P_9|A000000001|Сидорова"),
                       QStringLiteral("P_9|A000000003|Сидорова")}));
  const auto [eg, ea] = Diff(events0, Rows(path, "Events", {"id", "mainpers"}));
  EXPECT_EQ(eg, (Rows_{QStringLiteral("B000000001|Иванова Анна")}));
  EXPECT_EQ(ea, (Rows_{QStringLiteral("B000000001|Сидорова Анна")}));
  EXPECT_EQ(NrdCheck(path), "ok");
}

TEST_F(At4Tools, LongTextsAndNewIds) {
  const QString path = Path("long.at4");
  Write(at4synth::MakeTree(30), path);
  // A value longer than vstr: cut short text, whole text in vblob.
  const QString text = QString(200, u'ж') + QStringLiteral("!");
  TToolOptions o = Opt([&text](TToolOptions& x) {
    x.ComboBox5 = 2;
    x.Edit24 = text;
    x.RadioGroup14 = 6;
  });
  const TToolResult r = Run(path, o, true);
  const auto rows = Rows(path, "Values", {"f_id", "vstr", "vblob", "id"});
  int phones = 0;
  std::set<QString> ids;
  for (const QString& row : rows) {
    ids.insert(row.section(u'|', 3, 3));
    if (!row.startsWith(QStringLiteral("P_32|"))) continue;
    ++phones;
    EXPECT_EQ(row.section(u'|', 1, 1), QString(120, u'ж'));
    EXPECT_EQ(row.section(u'|', 2, 2), text);
    const QString id = row.section(u'|', 3, 3);
    EXPECT_EQ(id.size(), 10);
    for (QChar ch : id) EXPECT_NE(std::strchr(kBase62Digits, char(ch.unicode())), nullptr);
  }
  EXPECT_EQ(phones, r.protocol.size() - 2);
  EXPECT_GT(phones, 5);
  EXPECT_EQ(ids.size(), rows.size());  // every record id once
  // Clearing with an empty value deletes the rows of the persons chosen.
  o.Edit24.clear();
  Run(path, o, true);
  for (const QString& row : Rows(path, "Values", {"f_id"})) EXPECT_NE(row, QStringLiteral("P_32"));
}

TEST_F(At4Tools, APlaceNameThatWouldNotFitIsLeftAndSaid) {
  // Transliteration makes "ж" two letters: a short name of 150 of them would need 300 of its 200
  // characters. It is kept as it was, with a protocol line; the full name, which fits, changes.
  ASSERT_NO_FATAL_FAILURE(UseLanguage("zh.lng", "[Transliteration]\nж=zh;zh;zh\n"));
  at4synth::Tree t = ChoiceTree();
  at4synth::Place pl;
  pl.id = QStringLiteral("L000000001");
  pl.shortName = QString(150, u'ж');
  pl.fullName = QStringLiteral("жжж");
  t.places.push_back(pl);
  const QString path = Path("place.at4");
  Write(t, path);
  const TToolOptions o = Opt([](TToolOptions& x) {
    x.ComboBox4 = gtTranslit;
    x.TransPlaces = true;
  });
  const TToolResult r = Run(path, o, true);
  ASSERT_EQ(r.protocol.size(), 3) << r.protocol.join(u'\n').toStdString();
  EXPECT_TRUE(r.protocol[1].contains(QStringLiteral("Places.shortname"))) << r.protocol[1].toStdString();
  EXPECT_EQ(r.protocol[2], QStringLiteral("Place FullName: жжж -> zhzhzh"));
  EXPECT_EQ(Rows(path, "Places", {"shortname", "fullname"}),
            (std::multiset<QString>{QString(150, u'ж') + QStringLiteral("|zhzhzh")}));
}

TEST_F(At4Tools, TheLayoutIsKeptPerFile) {
  // Two files, the second with a layout of its own (the first name first): each run uses its file's.
  const QString a = Path("a.at4"), b = Path("b.at4");
  Write(ChoiceTree(), a);
  Write(ChoiceTree(), b);
  SetLayout(b, QStringLiteral("<fullname><f fieldID=\"P_10\"/><f fieldID=\"P_8\" prefix=\"/\" suffix=\"/\"/></fullname>"));
  const TToolOptions o = Opt([](TToolOptions& x) {
    x.ComboBox4 = gtSurnameCase;
    x.RadioGroup8 = 0;
  });
  EXPECT_EQ(Run(a, o, false, 9).protocol.value(1), QStringLiteral("P9 -> S9 F9"));
  EXPECT_EQ(Run(b, o, false, 9).protocol.value(1), QStringLiteral("P9 -> F9 /S9/"));
  EXPECT_EQ(Run(a, o, false, 9).protocol.value(1), QStringLiteral("P9 -> S9 F9"));
  // A layout without parts renames nobody (every full name would be empty); the values still change.
  const QString c = Path("c.at4");
  at4synth::Tree lower = ChoiceTree();
  lower.persons[8].sur = QStringLiteral("s9");
  Write(lower, c);
  SetLayout(c, QStringLiteral("<fullname/>"));
  EXPECT_EQ(Run(c, o, false, 9).protocol.mid(1),
            (QStringList{QStringLiteral("P9: s9 -> S9"), QStringLiteral("Всего изменений у персон: 0"),
                         QStringLiteral("Всего изменений в значениях: 1")}));
}

TEST_F(At4Tools, AFaultAfterAnyChangeRollsBack) {
  const QString path = Path("fault.at4");
  Write(at4synth::MakeTree(12), path);
  const TToolOptions o = Opt([](TToolOptions& x) { x.ComboBox4 = gtSurnameCase; });
  const QString dump0 = DumpModel(Load(path));
  const auto values0 = Rows(path, "Values", {"id", "f_id", "r_id", "vstr"});
  const int total = Run(path, o, false).changes;
  ASSERT_GT(total, 5);
  for (int k = 1; k <= total; ++k) {
    SCOPED_TRACE(k);
    EXPECT_THROW(Run(path, o, true, 1, [k](int n) { if (n == k) throw std::runtime_error("fault"); }), std::runtime_error);
    EXPECT_EQ(DumpModel(Load(path)), dump0);
    EXPECT_EQ(Rows(path, "Values", {"id", "f_id", "r_id", "vstr"}), values0);
    if (k == 1 || k == total || k % 5 == 0) { EXPECT_EQ(NrdCheck(path), "ok"); }
    EXPECT_FALSE(QFile::exists(path + QStringLiteral("-journal")));
  }
  // And the tool still runs to its end afterwards.
  EXPECT_EQ(Run(path, o, true).changes, total);
}

TEST_F(At4Tools, AKilledWriterLeavesTheOldOrTheNewDatabase) {
  const at4synth::Tree tree = at4synth::MakeTree(150);
  const QString path = Path("kill.at4"), done = Path("done.at4");
  const TToolOptions o = Opt([](TToolOptions& x) { x.ComboBox4 = gtSurnameCase; });
  Write(tree, done);
  Write(tree, path);
  const QString before = DumpModel(Load(path));
  const QByteArray original = Bytes(path);
  // How long a whole write run takes here (loading the model included): the kills fall from early in
  // the run to just past its end, so some hit the commit.
  QElapsedTimer clock;
  clock.start();
  Run(done, o, true);
  const qint64 whole = std::max<qint64>(clock.elapsed(), 20);
  const QString after = DumpModel(Load(done));
  ASSERT_NE(before, after);
  std::mt19937 rnd(11);
  int old = 0, fresh = 0;
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    {
      QFile f(path);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(original);
    }
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      try {
        Run(path, o, true);
      } catch (...) {
        ::_exit(3);
      }
      ::_exit(0);
    }
    const qint64 at = whole * (40 + qint64(rnd() % 80)) / 100;
    ::usleep(useconds_t(at * 1000));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const QString now = DumpModel(Load(path));
    EXPECT_TRUE(now == before || now == after);
    (now == before ? old : fresh) += 1;
    EXPECT_EQ(NrdCheck(path), "ok");
    EXPECT_FALSE(QFile::exists(path + QStringLiteral("-journal")));
  }
  // Not asserted (timing), but worth seeing when the test is run by hand.
  std::printf("killed writers: %d left the old database, %d the new one\n", old, fresh);
}

}  // namespace
