// The group edit tools: the person choice on a four-generation tree with pedigree collapse and a loop,
// the GEDCOM tools (lossless lines, golden results, dry runs, backups, faults in a write run, a killed
// writer), and the ".at5" tools (dry run, transaction rolled back on a fault, integrity of the file).
#include "sources/GedLines.h"
#include "sources/GroupEdit.h"
#include "sources/PersonChoice.h"
#include "sources/ToolsImpl.h"

#include "app/core/GedcomReader.h"
#include "app/core/ModelDump.h"
#include "platform/SqliteDb.h"
#include "sources/FamilyTreeFile.h"
#include "tools/At5Synth.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <random>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// ------------------------------------------------------------------ person choice

// Four generations: 1 x 2 have 3 (M) and 4 (F); 3 x 5 have 7; 6 x 4 have 8; the cousins 7 x 8 have
// 9 (M, the current person) and 10 (F); 9 x 11 have 12 (no recorded sex).
Model ChoiceTree() {
  Model m;
  const char* sex = "MFMFFMMFMFF?";
  for (int i = 1; i <= 12; ++i) {
    TINDI p;
    p.INDI = QStringLiteral("@I%1@").arg(i);
    p.FIO1 = QStringLiteral("P%1").arg(i);
    p.SEX = sex[i - 1] == '?' ? QString() : QString(QChar(sex[i - 1]));
    m.aIndi.push_back(p);
  }
  const auto fam = [&](std::int64_t h, std::int64_t w, std::vector<std::int64_t> ch) {
    TFAM f;
    f.HUSB = h;
    f.WIFE = w;
    f.CHIL = ch;
    m.aFam.push_back(f);
    const std::int64_t fi = std::int64_t(m.aFam.size()) - 1;
    if (h) m.aIndi[std::size_t(h)].FAMS.push_back(fi);
    if (w) m.aIndi[std::size_t(w)].FAMS.push_back(fi);
    for (std::int64_t c : ch) m.aIndi[std::size_t(c)].FAMC = fi;
  };
  fam(1, 2, {3, 4});
  fam(3, 5, {7});
  fam(6, 4, {8});
  fam(7, 8, {9, 10});
  fam(9, 11, {12});
  return m;
}

std::set<std::int64_t> Marked(const Model& m, const QString& mark) {
  std::set<std::int64_t> s;
  for (std::size_t i = 1; i < m.aIndi.size(); ++i)
    if (m.aIndi[i].TECH == mark) s.insert(std::int64_t(i));
  return s;
}

struct ChoiceCase {
  int item, sex;
  bool spouses, children;
  std::int64_t current;
  std::set<std::int64_t> star, plus;
};

TEST(PersonChoice, ModelWalkTable) {
  const std::vector<ChoiceCase> cases = {
      {0, 2, false, false, 9, {9}, {}},
      {0, 1, false, false, 9, {}, {}},  // a man with the filter "women"
      {1, 2, false, false, 9, {9, 12}, {}},
      {1, 2, false, false, 3, {3, 7, 9, 10, 12}, {}},
      {2, 2, false, false, 9, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {}},
      {2, 0, false, false, 9, {1, 3, 6, 7, 9}, {}},
      {3, 2, false, false, 9, {1, 3, 7, 9}, {}},
      {4, 2, false, false, 9, {2, 4, 8, 9}, {}},
      {5, 2, false, false, 9, {1, 3, 4, 7, 9, 10, 12}, {}},
      {5, 2, false, false, 8, {6, 8}, {}},  // a woman: her father's line, not her children
      {6, 2, false, false, 9, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12}, {}},
      {3, 2, true, false, 9, {1, 3, 7, 9}, {2, 5, 8, 11}},
      {3, 2, false, true, 9, {1, 3, 7, 9}, {4, 10, 12}},
      {0, 2, true, false, 12, {12}, {}},  // no recorded sex: no partner
      {0, 2, true, false, 11, {11}, {9}},
  };
  for (const ChoiceCase& c : cases) {
    Model m = ChoiceTree();
    TToolOptions o;
    o.RadioGroup14 = c.item;
    o.RadioGroup13 = c.sex;
    o.CheckBox55 = c.spouses;
    o.CheckBox56 = c.children;
    std::vector<std::int64_t> order;
    ChooseModelPersons(m, o, c.current, {}, true, [&](std::int64_t i) { order.push_back(i); });
    SCOPED_TRACE(testing::Message() << "item " << c.item << " sex " << c.sex << " from " << c.current);
    EXPECT_EQ(Marked(m, QStringLiteral("*")), c.star);
    EXPECT_EQ(Marked(m, QStringLiteral("+")), c.plus);
    // Every person is noted once.
    EXPECT_EQ(order.size(), c.star.size() + c.plus.size());
  }
}

TEST(PersonChoice, WalkOrderClearAndChain) {
  Model m = ChoiceTree();
  TToolOptions o;
  o.RadioGroup14 = 5;
  std::vector<std::int64_t> order;
  ChooseModelPersons(m, o, 9, {}, true, [&](std::int64_t i) { order.push_back(i); });
  EXPECT_EQ(order, (std::vector<std::int64_t>{9, 7, 3, 1, 4, 10, 12}));

  o.RadioGroup14 = 7;  // the kinship path, whatever the sex filter
  o.RadioGroup13 = 1;
  ChooseModelPersons(m, o, 9, QStringLiteral("9;7;x;99;8"), false, {});
  EXPECT_EQ(Marked(m, QStringLiteral("*")), (std::set<std::int64_t>{7, 8, 9}));

  o.RadioGroup14 = 8;
  o.ComboBox5 = 2;
  m.aIndi[4].RESI_PHON = QStringLiteral("5");
  ChooseModelPersons(m, o, 9, {}, true, {});
  EXPECT_EQ(Marked(m, QStringLiteral("-")), (std::set<std::int64_t>{4}));
  ChooseModelPersons(m, o, 9, {}, false, {});
  EXPECT_EQ(Marked(m, QStringLiteral("-DEL-")).size(), 12u);
}

TEST(PersonChoice, LoopsOfParentLinksEnd) {
  Model m = ChoiceTree();
  // 9 becomes the father of his own great-grandfather 1, and 12 the father of 9.
  TFAM f;
  f.HUSB = 9;
  f.CHIL = {1};
  m.aFam.push_back(f);
  m.aIndi[1].FAMC = std::int64_t(m.aFam.size()) - 1;
  m.aIndi[9].FAMS.push_back(m.aIndi[1].FAMC);
  m.aFam[4].WIFE = 12;
  for (int item : {1, 2, 3, 5, 6}) {
    TToolOptions o;
    o.RadioGroup14 = item;
    int notes = 0;
    ChooseModelPersons(m, o, 9, {}, true, [&](std::int64_t) { ++notes; });
    EXPECT_LE(notes, 12) << item;
    EXPECT_TRUE(m.aIndi[9].TECH == u"*") << item;
  }
}

TEST(PersonChoice, LongLineNeedsNoDeepStack) {
  Model m;
  const int n = 100000;
  for (int i = 1; i <= n; ++i) {
    TINDI p;
    p.SEX = QStringLiteral("M");
    m.aIndi.push_back(p);
  }
  for (int i = 1; i < n; ++i) {
    TFAM f;
    f.HUSB = i + 1;
    f.CHIL = {i};
    m.aFam.push_back(f);
    m.aIndi[std::size_t(i)].FAMC = i;
    m.aIndi[std::size_t(i + 1)].FAMS.push_back(i);
  }
  TToolOptions o;
  o.RadioGroup14 = 3;
  ChooseModelPersons(m, o, 1, {}, true, {});
  EXPECT_EQ(Marked(m, QStringLiteral("*")).size(), std::size_t(n));
}

TEST(PersonChoice, Notes) {
  EXPECT_EQ(SignChangeNote(nullptr, QStringLiteral("5"), std::nullopt), QStringLiteral(", установлен признак \"5\""));
  EXPECT_EQ(SignChangeNote(nullptr, QStringLiteral("5"), QStringLiteral("5")),
            QStringLiteral(", признак \"5\" уже был установлен"));
  EXPECT_EQ(SignChangeNote(nullptr, QStringLiteral("5"), QStringLiteral("%s")),
            QStringLiteral(", смена признака \"%s\" на \"5\""));
}

// ------------------------------------------------------------------ helpers

TEST(GroupEditText, ReplaceWords) {
  struct Case {
    const char16_t *text, *old, *now;
    bool whole, matchCase;
    const char16_t* want;
  };
  const Case cases[] = {
      {u"Ivan Ivanovich", u"Ivan", u"Ioann", true, true, u"Ioann Ivanovich"},
      {u"Ivan Ivanovich", u"Ivan", u"Ioann", false, true, u"Ioann Ioannovich"},
      {u"ivan IVAN Ivan", u"Ivan", u"Ioann", true, false, u"Ioann Ioann Ioann"},
      {u"ivan IVAN Ivan", u"Ivan", u"Ioann", true, true, u"ivan IVAN Ioann"},
      {u"Иван-Иван", u"иван", u"Фёдор", true, false, u"Фёдор-Фёдор"},
      {u"aaa", u"aa", u"b", false, true, u"ba"},
      {u"text", u"", u"x", false, true, u"text"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ReplaceWords(QString::fromUtf16(c.text), QString::fromUtf16(c.old), QString::fromUtf16(c.now), c.whole,
                           c.matchCase),
              QString::fromUtf16(c.want));
  EXPECT_EQ(toolsimpl::OldValues(QStringLiteral(" a ~~ b~ ")), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
  EXPECT_EQ(toolsimpl::ConvertCase(QStringLiteral("/петров-водкин/ jr"), 0), QStringLiteral("/ПЕТРОВ-ВОДКИН/ JR"));
  EXPECT_EQ(toolsimpl::ConvertCase(QStringLiteral("/ПЕТРОВ-ВОДКИН/"), 1), QStringLiteral("/Петров-Водкин/"));
}

// ------------------------------------------------------------------ GEDCOM lines

TEST(GedLines, SavingUnchangedLinesGivesTheSameBytes) {
  const QByteArray utf8 = QStringLiteral("0 HEAD\r\n1 CHAR UTF-8\r\n0 @I1@ INDI\r\n1 NAME Пётр /Орлов/\r\n").toUtf8();
  const QByteArray cases[] = {
      QByteArray("0 HEAD\n1 CHAR ANSI\n0 @I1@ INDI\n1 NAME \xcf\xe5\xf2\xf0 /X/\n0 TRLR"),
      QByteArray("0 HEAD\r\n\r\n0 TRLR\r\n\r"),
      QByteArray("0 HEAD\r1 CHAR UTF-8\r1 NAME \xff\xfe bad\r"),  // not UTF-8: single bytes
      utf8,
      QByteArray("\xEF\xBB\xBF") + utf8,
      QByteArray("\xEF\xBB\xBF") + QByteArray("0 HEAD\n\xEF\xBB\xBF 1\n"),
      QByteArray("\xEF\xBB\xBF\xC3"),  // a mark before bytes that are no UTF-8
      QByteArray("\xFF\xFE" "0\0 \0H\0\r\0\n\0\x3D\xD8", 14),
      QByteArray("\xFE\xFF\0" "0\0\n\0", 7),
      QByteArray("0\0\n\0" "1\0", 6),
      QByteArray("0\0\n\0" "1", 5),
      QByteArray(),
      QByteArray("\n\n\r\n"),
  };
  for (const QByteArray& b : cases) {
    const TGedLines g = TGedLines::FromBytes(b);
    EXPECT_EQ(g.Bytes(), b) << b.toHex().constData();
  }
}

TEST(GedLines, SplitUtf8CharacterIsMendedInMemory) {
  const QByteArray name = QStringLiteral("П").toUtf8();
  QByteArray b = "0 HEAD\r\n1 CHAR UTF-8\r\n0 @N1@ NOTE abc";
  b += name.left(1);
  b += "\r\n1 CONC ";
  b += name.mid(1);
  b += "x\r\n";
  const TGedLines g = TGedLines::FromBytes(b);
  EXPECT_TRUE(g.Mended());
  EXPECT_EQ(g.GetEncoding(), TGedLines::Encoding::Utf8);
  EXPECT_EQ(g.Line(2), QStringLiteral("0 @N1@ NOTE abc"));
  EXPECT_EQ(g.Line(3), QStringLiteral("1 CONC Пx"));
}

TEST(GedLines, InsertAndEraseKeepTheBreaks) {
  TGedLines g = TGedLines::FromBytes("a\nb");
  g.Insert(2, QStringLiteral("c"));
  EXPECT_EQ(g.Bytes(), QByteArray("a\nb\nc"));
  g.Erase(2);
  EXPECT_EQ(g.Bytes(), QByteArray("a\nb"));
  g.Insert(1, QStringLiteral("x"));
  EXPECT_EQ(g.Bytes(), QByteArray("a\nx\nb"));
  TGedLines s = TGedLines::FromBytes("a\r\nb\r\nc\nd");
  s.Splice({{0, {QStringLiteral("a"), QStringLiteral("a2")}}, {1, {}}, {3, {QStringLiteral("d"), QStringLiteral("e")}}});
  EXPECT_EQ(s.Bytes(), QByteArray("a\r\na2\r\nc\nd\r\ne"));
  s.Splice({{4, {}}});
  EXPECT_EQ(s.Bytes(), QByteArray("a\r\na2\r\nc\nd"));
  TGedLines a = TGedLines::FromBytes("0 A\n");
  a.SetLine(0, QStringLiteral("0 中"));
  EXPECT_THROW(a.Bytes(), EGroupEdit);  // Windows-1251 cannot hold it: no silent "?"
}

// ------------------------------------------------------------------ GEDCOM tools

const char* const kGed =
    "0 HEAD\r\n"
    "1 CHAR UTF-8\r\n"
    "0 @I1@ INDI\r\n"
    "1 NAME Ivan Ivanovich /Petrov/\r\n"
    "2 GIVN Ivan Ivanovich\r\n"
    "2 SURN Petrov\r\n"
    "1 SEX M\r\n"
    "1 FAMS @F1@\r\n"
    "0 @I2@ INDI\r\n"
    "1 NAME Мария /петрова/\r\n"
    "2 GIVN Мария\r\n"
    "2 SURN петрова\r\n"
    "2 NPFX Dr\r\n"
    "1 SEX F\r\n"
    "1 RESI\r\n"
    "2 PHON 123\r\n"
    "1 FAMS @F1@\r\n"
    "0 @I3@ INDI\r\n"
    "1 NAME Ivan /Petrov/\r\n"
    "2 GIVN Ivan\r\n"
    "1 SEX M\r\n"
    "1 FAMC @F1@\r\n"
    "0 @F1@ FAM\r\n"
    "1 HUSB @I1@\r\n"
    "1 WIFE @I2@\r\n"
    "1 CHIL @I3@\r\n"
    "1 MARR\r\n"
    "2 PLAC Тула\r\n"
    "0 @I9@ INDI\r\n"
    "1 NAME Ivan /Late/\r\n"
    "1 SEX M\r\n"
    "0 TRLR\r\n";

class GedTools : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    path_ = dir_.filePath(QStringLiteral("tree.ged"));
    Put(kGed);
  }
  void Put(const QByteArray& bytes) {
    QFile f(path_);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
  }
  QByteArray Bytes() const {
    QFile f(path_);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  Model Load() const {
    Model m;
    LoadFamilyTree(m, path_);
    return m;
  }
  TToolResult Run(const TToolOptions& o, bool write, std::int64_t current = 1,
                  std::function<void(int)> afterChange = {}) {
    model_ = Load();
    TToolContext ctx{model_, path_};
    ctx.write = write;
    ctx.current = current;
    ctx.ancestors = {1};
    ctx.translit = table_.get();
    ctx.afterChange = std::move(afterChange);
    return RunGroupEdit(ctx, o);
  }
  QStringList Files() const { return QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

  QTemporaryDir dir_;
  QString path_;
  Model model_;
  std::unique_ptr<platform::TIniFile> table_;
};

struct GedCase {
  const char* what;
  TToolOptions o;
  std::vector<std::pair<const char*, const char*>> edits;  // line before -> line after ("" = none)
  QStringList tail;  // the protocol's last lines
};

TToolOptions Opt(std::function<void(TToolOptions&)> f) {
  TToolOptions o;
  f(o);
  return o;
}

TEST_F(GedTools, DryAndWriteRunsAgainstGoldenFiles) {
  const std::vector<GedCase> cases = {
      {"first name, whole word, match case",
       Opt([](TToolOptions& o) {
         o.ComboBox4 = gtNames;
         o.Edit13 = QStringLiteral("Ivan");
         o.Edit14 = QStringLiteral("Ioann");
       }),
       {{"1 NAME Ivan Ivanovich /Petrov/", "1 NAME Ioann Ivanovich /Petrov/"},
        {"2 GIVN Ivan Ivanovich", "2 GIVN Ioann Ivanovich"},
        {"1 NAME Ivan /Petrov/", "1 NAME Ioann /Petrov/"},
        {"2 GIVN Ivan", "2 GIVN Ioann"}},
       {QStringLiteral("Всего изменений у персон: 2"), QStringLiteral("Всего изменений в значениях: 4")}},
      {"surname part only",
       Opt([](TToolOptions& o) {
         o.ComboBox4 = gtNames;
         o.PageControl4 = 2;
         o.Edit9 = QStringLiteral(" ~petrov");
         o.Edit10 = QStringLiteral("Ivan");
         o.N5 = false;
       }),
       {{"1 NAME Ivan Ivanovich /Petrov/", "1 NAME Ivan Ivanovich /Ivan/"},
        {"2 SURN Petrov", "2 SURN Ivan"},
        {"1 NAME Ivan /Petrov/", "1 NAME Ivan /Ivan/"}},
       {QStringLiteral("Всего изменений у персон: 2"), QStringLiteral("Всего изменений в значениях: 3")}},
      {"surname case upper, women",
       Opt([](TToolOptions& o) {
         o.ComboBox4 = gtSurnameCase;
         o.RadioGroup13 = 1;
       }),
       {{"1 NAME Мария /петрова/", "1 NAME Мария /ПЕТРОВА/"}, {"2 SURN петрова", "2 SURN ПЕТРОВА"}},
       {QStringLiteral("Всего изменений у персон: 1"), QStringLiteral("Всего изменений в значениях: 2")}},
      {"surname case of the current person",
       Opt([](TToolOptions& o) {
         o.ComboBox4 = gtSurnameCase;
         o.RadioGroup8 = 0;
         o.ComboBox11 = 0;
       }),
       {{"1 NAME Ivan Ivanovich /Petrov/", "1 NAME Ivan Ivanovich /PETROV/"}, {"2 SURN Petrov", "2 SURN PETROV"}},
       {QStringLiteral("Всего изменений у персон: 1"), QStringLiteral("Всего изменений в значениях: 2")}},
      {"phone of a person without RESI",
       Opt([](TToolOptions& o) {
         o.ComboBox5 = 2;
         o.Edit24 = QStringLiteral("5");
         o.RadioGroup14 = 0;
       }),
       {{"1 FAMS @F1@", "1 FAMS @F1@\n1 RESI\n2 PHON 5"}},
       {QStringLiteral("Всего изменений у персон: 1")}},
      {"prefix of the descendants, one already set",
       Opt([](TToolOptions& o) {
         o.ComboBox5 = 0;
         o.Edit24 = QStringLiteral("Dr");
         o.RadioGroup14 = 1;
         o.CheckBox55 = true;
       }),
       {{"1 NAME Ivan Ivanovich /Petrov/", "1 NAME Ivan Ivanovich /Petrov/\n2 NPFX Dr"},
        {"1 NAME Ivan /Petrov/", "1 NAME Ivan /Petrov/\n2 NPFX Dr"}},
       {QStringLiteral("Всего изменений у персон: 3")}},
      {"clear the phones",
       Opt([](TToolOptions& o) {
         o.ComboBox5 = 2;
         o.RadioGroup14 = 8;
       }),
       {{"2 PHON 123", ""}},
       {QStringLiteral("Всего признак очищен у персон: 1")}},
  };
  for (const GedCase& c : cases) {
    SCOPED_TRACE(c.what);
    Put(kGed);
    for (const QString& f : Files())
      if (f != u"tree.ged") QFile::remove(dir_.filePath(f));
    const TToolResult dry = Run(c.o, false);
    EXPECT_EQ(Bytes(), QByteArray(kGed));
    EXPECT_EQ(Files(), QStringList{QStringLiteral("tree.ged")});
    const QString dumpBefore = DumpModel(model_, QStringLiteral("20260101"));
    const TToolResult wet = Run(c.o, true);
    ASSERT_FALSE(dry.protocol.isEmpty());
    EXPECT_EQ(dry.protocol.mid(1), wet.protocol.mid(1));
    EXPECT_EQ(wet.protocol.mid(wet.protocol.size() - c.tail.size()), c.tail) << wet.protocol.join(u'\n').toStdString();
    QByteArray golden(kGed);
    for (const auto& [from, to] : c.edits) {
      const QByteArray a = QByteArray(from) + "\r\n";
      const QByteArray b = *to ? QByteArray(to).replace("\n", "\r\n") + "\r\n" : QByteArray();
      const qsizetype at = golden.indexOf(a);
      ASSERT_GE(at, 0) << from;
      golden.replace(at, a.size(), b);
    }
    EXPECT_EQ(Bytes().toStdString(), golden.toStdString());
    EXPECT_TRUE(wet.reload);
    EXPECT_EQ(Files(), (QStringList{QStringLiteral("tree.ged"), QStringLiteral("tree.ged.~1")}));
    // The tree read back differs from the one before by the intended change only.
    const QString dumpAfter = DumpModel(Load(), QStringLiteral("20260101"));
    EXPECT_NE(dumpBefore, dumpAfter);
  }
}

TEST_F(GedTools, ARecordThatEndsWithTheFileGetsItsResidence) {
  Put("0 HEAD\n0 @I1@ INDI\n1 NAME A /B/\n1 SEX M");
  TToolOptions o;
  o.ComboBox5 = 3;
  o.Edit24 = QStringLiteral("a@b");
  Run(o, true);
  EXPECT_EQ(Bytes(), QByteArray("0 HEAD\n0 @I1@ INDI\n1 NAME A /B/\n1 SEX M\n1 RESI\n2 EMAIL a@b"));
}

TEST_F(GedTools, ReadBackDumpChangesOnlyTheEditedPersons) {
  const QStringList before = DumpModel(Load(), QStringLiteral("20260101")).split(u'\n');
  TToolOptions o;
  o.ComboBox4 = gtNames;
  o.Edit13 = QStringLiteral("Ivan");
  o.Edit14 = QStringLiteral("Ioann");
  Run(o, true);
  const QStringList after = DumpModel(Load(), QStringLiteral("20260101")).split(u'\n');
  ASSERT_EQ(before.size(), after.size());
  for (int i = 0; i < before.size(); ++i) {
    if (before[i] == after[i]) continue;
    EXPECT_TRUE(after[i].contains(QStringLiteral("Ioann"))) << after[i].toStdString();
    EXPECT_EQ(QString(after[i]).replace(QStringLiteral("Ioann"), QStringLiteral("Ivan")), before[i]);
  }
}

TEST_F(GedTools, BackupsAreNumberedAndAFullSetAsks) {
  TToolOptions o;
  o.ComboBox4 = gtSurnameCase;
  for (int k = 0; k < 3; ++k) {
    o.ComboBox11 = k % 2;
    Run(o, true);
  }
  EXPECT_EQ(Files(), (QStringList{QStringLiteral("tree.ged"), QStringLiteral("tree.ged.~1"), QStringLiteral("tree.ged.~2"),
                                  QStringLiteral("tree.ged.~3")}));
  QFile b1(dir_.filePath(QStringLiteral("tree.ged.~1")));
  ASSERT_TRUE(b1.open(QIODevice::ReadOnly));
  EXPECT_EQ(b1.readAll(), QByteArray(kGed));

  for (int n = 4; n <= 500; ++n) QFile(GedBackupName(path_, n)).open(QIODevice::WriteOnly);
  o.ComboBox11 = 1;
  const QByteArray was = Bytes();
  model_ = Load();
  TToolContext ctx{model_, path_};
  ctx.write = true;
  QString asked;
  ctx.ask = [&](const QString& q) {
    asked = q;
    return false;
  };
  const TToolResult r = RunGroupEdit(ctx, o);
  EXPECT_FALSE(asked.isEmpty());
  EXPECT_TRUE(r.protocol.join(u'\n').contains(QStringLiteral("500")));
  EXPECT_FALSE(r.reload);
  EXPECT_EQ(Bytes(), was);
  ctx.ask = [](const QString&) { return true; };
  EXPECT_TRUE(RunGroupEdit(ctx, o).reload);
  EXPECT_NE(Bytes(), was);
  EXPECT_EQ(Files().size(), 501);
}

TEST_F(GedTools, TransliterationNeedsATableAndNeverBlanks) {
  TToolOptions o;
  o.ComboBox4 = gtTranslit;
  o.TransNames = o.TransPlaces = true;
  EXPECT_THROW(Run(o, false), EGroupEdit);
  const QString lng = dir_.filePath(QStringLiteral("t.lng"));
  {
    QFile f(lng);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("[Transliteration]\nм=M\nа=a\nр=r\nи=i\nя=ia\nу=u\nл=l\n").toUtf8());
  }
  table_ = std::make_unique<platform::TIniFile>(lng);
  const TToolResult dry = Run(o, false);
  const TToolResult wet = Run(o, true);
  EXPECT_EQ(dry.protocol.mid(1), wet.protocol.mid(1));
  EXPECT_TRUE(Bytes().contains(QStringLiteral("1 NAME Mariia /петrовa/\r\n").toUtf8())) << Bytes().toStdString();
  EXPECT_TRUE(Bytes().contains(QStringLiteral("2 PLAC Тula\r\n").toUtf8()));
  EXPECT_EQ(wet.protocol.last(), QStringLiteral("Всего изменений в значениях: 4"));
}

TEST_F(GedTools, AFaultAfterAnyChangeLeavesTheFile) {
  TToolOptions o;
  o.ComboBox4 = gtNames;
  o.Edit13 = QStringLiteral("Ivan");
  o.Edit14 = QStringLiteral("Ioann");
  const int total = Run(o, false).changes;
  ASSERT_EQ(total, 4);
  for (int k = 1; k <= total; ++k) {
    EXPECT_THROW(Run(o, true, 1, [k](int n) { if (n == k) throw std::runtime_error("fault"); }), std::runtime_error);
    EXPECT_EQ(Bytes(), QByteArray(kGed)) << k;
    EXPECT_EQ(Files(), QStringList{QStringLiteral("tree.ged")}) << k;
  }
  // Faults inside the replacement: after the backup, after the temporary file.
  for (int step : {1, 2}) {
    EXPECT_THROW(SaveReplacing(path_, "new", [] { return false; },
                               [step](int s) { if (s == step) throw std::runtime_error("fault"); }),
                 std::runtime_error);
    EXPECT_EQ(Bytes(), QByteArray(kGed)) << step;
    for (const QString& f : Files()) EXPECT_FALSE(f.startsWith(u'.')) << f.toStdString();
    for (const QString& f : Files())
      if (f != u"tree.ged") QFile::remove(dir_.filePath(f));
  }
}

TEST_F(GedTools, AKilledWriterLeavesTheOldOrTheNewFile) {
  // A large file, so that a kill lands inside the write now and then.
  QByteArray big(kGed);
  big.chop(QByteArray("0 TRLR\r\n").size());
  for (int i = 100; i < 40100; ++i)
    big += QStringLiteral("0 @I%1@ INDI\r\n1 NAME Ivan /Sidorov/\r\n1 SEX M\r\n").arg(i).toUtf8();
  big += "0 TRLR\r\n";
  Put(big);
  TToolOptions o;
  o.ComboBox4 = gtSurnameCase;
  // The whole new file, as an uninterrupted write run leaves it.
  Run(o, true);
  const QByteArray written = Bytes();
  ASSERT_NE(written, big);
  std::mt19937 rnd(7);
  for (int round = 0; round < 6; ++round) {
    Put(big);
    for (const QString& f : Files())
      if (f != u"tree.ged") QFile::remove(dir_.filePath(f));
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      try {
        Run(o, true);
      } catch (...) {
        ::_exit(3);
      }
      ::_exit(0);
    }
    ::usleep(useconds_t(rnd() % 400000));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const QByteArray now = Bytes();
    if (now != big) {
      EXPECT_EQ(now, written) << round;  // the complete new file, never a part of it
    }
  }
}

// ------------------------------------------------------------------ ".at5" tools

class At5Tools : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    path_ = dir_.filePath(QStringLiteral("tree.at5"));
    at5synth::WriteAt5(at5synth::MakeTree(40), path_.toStdString(), true);
    QFile f(path_);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    original_ = f.readAll();
  }
  QByteArray Bytes() const {
    QFile f(path_);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  // The ValuesStr rows as text, in a fixed order.
  QStringList Values() const {
    platform::TSqliteConnection c;
    c.Open(path_.toStdString(), platform::TSqliteConnection::Access::ReadOnly);
    platform::TSqliteQuery q(c);
    q.SetSQL("SELECT rec_table, f_id, rec_id, f_db_id, rec_db_id, lang_id, lconf, ltrust, vstr, hex(vblob) FROM ValuesStr "
             "ORDER BY 1, 2, 3, 9");
    q.Open();
    QStringList rows;
    for (; !q.Eof(); q.Next()) {
      QStringList r;
      for (int i = 0; i < q.FieldCount(); ++i) r << QString::fromStdString(q.Field(i).AsString());
      rows << r.join(u'|');
    }
    return rows;
  }
  std::string Integrity() const {
    platform::TSqliteConnection c;
    c.Open(path_.toStdString(), platform::TSqliteConnection::Access::ReadWrite);
    platform::TSqliteQuery q(c);
    q.SetSQL("PRAGMA integrity_check");
    q.Open();
    return q.Field(0).AsString();
  }
  TToolResult Run(const TToolOptions& o, bool write, std::function<void(int)> afterChange = {}) {
    model_ = Model();
    LoadFamilyTree(model_, path_);
    TToolContext ctx{model_, path_};
    ctx.write = write;
    ctx.current = 1;
    ctx.afterChange = std::move(afterChange);
    return RunGroupEdit(ctx, o);
  }

  QTemporaryDir dir_;
  QString path_;
  QByteArray original_;
  Model model_;
};

TEST_F(At5Tools, EachToolDryRunEqualsWriteRunAndChangesOnlyItsRows) {
  struct Case {
    const char* what;
    TToolOptions o;
  };
  const std::vector<Case> cases = {
      {"phone of the descendants", Opt([](TToolOptions& o) {
         o.ComboBox5 = 2;
         o.Edit24 = QStringLiteral("5");
         o.RadioGroup14 = 1;
         o.CheckBox55 = true;
       })},
      {"clear the phones", Opt([](TToolOptions& o) {
         o.ComboBox5 = 2;
         o.RadioGroup14 = 8;
       })},
      {"first names", Opt([](TToolOptions& o) {
         o.ComboBox4 = gtNames;
         o.Edit13 = QStringLiteral("иван~Анна");
         o.Edit14 = QStringLiteral("Ioann");
         o.N5 = false;
       })},
      {"surnames upper", Opt([](TToolOptions& o) { o.ComboBox4 = gtSurnameCase; })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    at5synth::WriteAt5(at5synth::MakeTree(40), path_.toStdString(), true);
    if (std::string(c.what) == "clear the phones") {
      TToolOptions set = Opt([](TToolOptions& o) {
        o.ComboBox5 = 2;
        o.Edit24 = QStringLiteral("7");
        o.RadioGroup14 = 6;
      });
      Run(set, true);
    }
    const QByteArray before = Bytes();
    const QStringList rowsBefore = Values();
    const TToolResult dry = Run(c.o, false);
    EXPECT_EQ(Bytes(), before);
    const TToolResult wet = Run(c.o, true);
    EXPECT_EQ(dry.protocol.mid(1), wet.protocol.mid(1));
    EXPECT_GT(wet.changes, 0) << wet.protocol.join(u'\n').toStdString();
    EXPECT_EQ(wet.changes, dry.changes);
    EXPECT_EQ(Integrity(), "ok");
    const QStringList rowsAfter = Values();
    // Exactly `changes` rows differ (an edit changes one row; an insert or delete adds or removes one).
    const std::set<QString> a(rowsBefore.begin(), rowsBefore.end()), b(rowsAfter.begin(), rowsAfter.end());
    std::vector<QString> gone, added;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(gone));
    std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(added));
    EXPECT_EQ(int(std::max(gone.size(), added.size())), wet.changes);
    for (const QString& r : added) {
      if (c.o.ComboBox4 != gtTechField) continue;
      EXPECT_TRUE(r.startsWith(QStringLiteral("13|85|"))) << r.toStdString();
      EXPECT_TRUE(r.endsWith(QStringLiteral("|-1|0|2|0|10|5|"))) << r.toStdString();
    }
  }
}

TEST_F(At5Tools, AFaultAfterAnyChangeRollsBack) {
  TToolOptions o;
  o.ComboBox4 = gtSurnameCase;
  o.RadioGroup8 = 2;
  const int total = Run(o, false).changes;
  ASSERT_GT(total, 3);
  for (int k = 1; k <= total; k += std::max(1, total / 7)) {
    EXPECT_THROW(Run(o, true, [k](int n) { if (n == k) throw std::runtime_error("fault"); }), std::runtime_error);
    EXPECT_EQ(Bytes(), original_) << k;
    EXPECT_FALSE(QFile::exists(path_ + QStringLiteral("-journal")));
  }
}

TEST_F(At5Tools, AKilledWriterLeavesTheOldOrTheNewDatabase) {
  at5synth::WriteAt5(at5synth::MakeTree(3000), path_.toStdString(), true);
  const QStringList before = Values();
  TToolOptions o;
  o.ComboBox4 = gtSurnameCase;
  std::mt19937 rnd(11);
  for (int round = 0; round < 4; ++round) {
    at5synth::WriteAt5(at5synth::MakeTree(3000), path_.toStdString(), true);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      try {
        Run(o, true, [](int) { ::usleep(20); });
      } catch (...) {
        ::_exit(3);
      }
      ::_exit(0);
    }
    ::usleep(useconds_t(50000 + rnd() % 300000));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(Integrity(), "ok");
    const QStringList now = Values();
    // Either no surname row or every one upper-cased: the whole transaction or nothing of it.
    int upper = 0, rows = 0;
    for (const QString& r : now) {
      if (!r.startsWith(QStringLiteral("13|64|")) && !r.startsWith(QStringLiteral("13|65|"))) continue;
      const QString vstr = r.section(u'|', 8, 8);
      if (vstr == vstr.toLower()) continue;  // no letters to change
      ++rows;
      if (vstr == vstr.toUpper()) ++upper;
    }
    EXPECT_TRUE(now == before || upper == rows) << upper << " of " << rows;
    Model m;
    EXPECT_NO_THROW(LoadFamilyTree(m, path_));
  }
}

TEST_F(At5Tools, LongTextKeepsItsWholeInTheBlob) {
  TToolOptions o;
  o.ComboBox5 = 3;
  o.Edit24 = QString(200, u'ж');
  o.RadioGroup14 = 0;
  Run(o, true);
  platform::TSqliteConnection c;
  c.Open(path_.toStdString(), platform::TSqliteConnection::Access::ReadOnly);
  platform::TSqliteQuery q(c);
  q.SetSQL("SELECT vstr, vblob FROM ValuesStr WHERE rec_table = 13 AND f_id = 86");
  q.Open();
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(QString::fromStdString(q.Field(0).AsString()), QString(150, u'ж'));
  EXPECT_EQ(QString::fromStdString(q.Field(1).AsBytes()), o.Edit24);
}

}  // namespace
