// The GEDCOM reader: decoding, record rules, linking, name pass and the shared sample corpus.
// Every load is followed by the model checker.
#include "app/core/GedcomReader.h"
#include "app/core/GDate.h"
#include "app/core/ModelCheck.h"
#include "app/core/ModelDump.h"
#include "app/core/UnitFunc.h"
#include "platform/CodePage.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/core/QtPrint.h"

namespace {

QString Q(const char* s) { return QString::fromUtf8(s); }

class GedcomReader : public ::testing::Test {
 protected:
  // Loads the bytes of a file and checks the model.
  void LoadText(const char* text) { LoadBytes(QByteArray(text)); }
  void LoadBytes(const QByteArray& bytes) {
    Ged_IndiFromBytes(m, bytes);
    const QStringList problems = CheckModel(m);
    EXPECT_TRUE(problems.isEmpty()) << problems.join(u'\n').toStdString();
  }
  const TINDI& P(std::size_t i) const { return m.aIndi.at(i); }
  const TFAM& F(std::size_t i) const { return m.aFam.at(i); }

  Model m;
};

TEST_F(GedcomReader, PersonRules) {
  LoadText(
      "0 HEAD\n1 SOUR Test\n1 CHAR ANSI\n"
      "0 @I1@ INDI\n"
      "1 NAME Ivan Petrovich /Ivanov/\n"
      "1 NAME VARIATION Vanya\n"
      "2 GIVN Ivan Petrovich\n"
      "1 SEX M\n"
      "1 _UID ABC123\n"
      "1 BIRT\n2 DATE 12 JAN 1900\n2 DATE 13 JAN 1900\n2 PLAC Kyiv, Ukraine\n"
      "2 NOTE born\n3 CONC  at home\n3 CONT second line\n"
      "1 DEAT\n2 DATE 1950\n2 DATE 1960\n2 PLAC Moscow, Russia\n2 CAUS old age\n"
      "1 FAMC @F1@\n1 FAMC @F2@\n"
      "1 ADOP\n2 FAMC @F12@\n3 ADOP BOTH\n"
      "1 NOTE general\n2 CONC  note\n2 CONT next\n"
      "1 RESI\n2 PLAC Tula\n2 EMAIL a@b.c\n2 PHON 123\n2 FAX 456\n2 WWW site\n"
      "1 OBJE\n2 FILE photo.jpg\n2 TITL Photo\n2 PRIM Y\n"
      "1 EVEN Graduated\n2 TYPE School\n2 DATE 1917\n2 PLAC Tver\n2 NOTE ev\n3 CONC ent\n3 CONT more\n"
      "1 CHAN\n2 DATE 6 OCT 2012\n3 TIME 18:11:42\n"
      "10 NAME Deep Level /Ignored/\n"
      "0 @F1@ FAM\n0 @F2@ FAM\n0 TRLR\n");
  ASSERT_EQ(m.aIndi.size(), 2u);
  const TINDI& p = P(1);
  EXPECT_EQ(p.INDI, Q("@I1@"));
  EXPECT_EQ(p.NAME, Q("Ivan Petrovich /Ivanov/"));
  EXPECT_EQ(p.GIVN, Q("Ivan Petrovich"));
  EXPECT_EQ(p.SEX, Q("M"));
  EXPECT_EQ(p._UID, Q("ABC123"));
  EXPECT_EQ(p.BIRT_DATE.NORM, Q("12.01.1900"));  // the first birth date wins
  EXPECT_EQ(p.BIRT_PLAC, Q("Kyiv, Ukraine"));
  EXPECT_EQ(p.BIRT_NOTE, Q("born at home\r\nsecond line"));
  EXPECT_EQ(p.DEAT, Q("+"));
  EXPECT_EQ(p.DEAT_DATE.NORM, Q("1960"));  // the last death date wins
  EXPECT_EQ(p.DEAT_PLAC, Q("Moscow, Russia"));
  EXPECT_EQ(p.DEAT_CAUS, Q("old age"));
  EXPECT_EQ(p.FAMC, 1);  // the first FAMC wins
  EXPECT_EQ(p.ADOP, Q("12 BOTH"));
  EXPECT_EQ(p.NOTE, Q("general note\r\nnext"));
  EXPECT_EQ(p.RESI_PLAC, Q("Tula"));
  EXPECT_EQ(p.RESI_EMAIL, Q("a@b.c"));
  EXPECT_EQ(p.RESI_PHON, Q("123"));
  EXPECT_EQ(p.RESI_FAX, Q("456"));
  EXPECT_EQ(p.RESI_WWW, Q("site"));
  EXPECT_EQ(p.OBJE_FILE, Q("photo.jpg"));
  EXPECT_EQ(p.OBJE_TITL, Q("Photo"));
  EXPECT_EQ(p.OBJE_PRIM, Q("Y"));
  ASSERT_EQ(p.EVEN.size(), 1u);
  EXPECT_EQ(p.EVEN[0].EVEN, Q("Graduated"));
  EXPECT_EQ(p.EVEN[0].TYP_, Q("School"));
  EXPECT_EQ(p.EVEN[0].DATE.NORM, Q("1917"));
  EXPECT_EQ(p.EVEN[0].PLAC, Q("Tver"));
  EXPECT_EQ(p.EVEN[0].NOTE, Q("event\r\nmore"));
  EXPECT_EQ(DateTimeToDmy(p.EDIT), Q("06.10.2012 18:11:42"));
  EXPECT_EQ(p.FIO1, Q("Ivanov Ivan Petrovich"));
}

TEST_F(GedcomReader, ValuesAreCutAndKestrelinPlacesEndAtComma) {
  const QByteArray longPlace(130, 'x');
  LoadBytes("0 HEAD\n1 SOUR Kestrelin\n0 @I1@ INDI\n1 BIRT\n2 PLAC Kyiv, Ukraine\n1 DEAT\n2 PLAC Lviv, Ukraine\n"
            "0 @I2@ INDI\n1 BIRT\n2 PLAC " + longPlace + "\n");
  EXPECT_EQ(P(1).BIRT_PLAC, Q("Kyiv"));
  EXPECT_EQ(P(1).DEAT_PLAC, Q("Lviv, Ukraine"));
  EXPECT_EQ(P(2).BIRT_PLAC.size(), 120);
}

TEST_F(GedcomReader, RecordKindsComeFromTheIdentifier) {
  LoadText("0 HEAD\n0 @P1@ INDI\n1 NAME Not /Person/\n0 @I5@ _INDI\n1 INDIVIDUALINTERNALHYPERLINK @I1@\n"
           "1 FAMS @F1@\n1 FAMC @F2@\n0 @I1@ INDI\n1 NAME Real /Person/\n0 @F1@ FAM\n1 HUSB @I1@\n0 @F2@ FAM\n");
  ASSERT_EQ(m.aIndi.size(), 2u);
  EXPECT_EQ(P(1).INDI, Q("@I1@"));
  ASSERT_EQ(m.aIndi_.size(), 2u);
  EXPECT_EQ(m.aIndi_[1].INDI_, Q("@I5@"));
  EXPECT_EQ(m.aIndi_[1].INDI, Q("@I1@"));
  // The hyperlink record adds its family links to the person it names.
  EXPECT_EQ(P(1).FAMS, (std::vector<std::int64_t>{1}));
  EXPECT_EQ(P(1).FAMC, 2);
}

TEST_F(GedcomReader, LinksResolveByIdentifierText) {
  // Families before persons, records out of number order, identifiers without numbers, missing records.
  LoadText(
      "0 HEAD\n"
      "0 @F2@ FAM\n1 HUSB @I7@\n1 WIFE @IABC@\n1 CHIL @I1@\n1 CHIL @I99@\n"
      "0 @FX@ FAM\n1 HUSB @I1@\n"
      "0 @I1@ INDI\n1 FAMC @F2@\n1 FAMS @FX@\n1 FAMS @F77@\n"
      "0 @IABC@ INDI\n1 FAMS @F2@\n"
      "0 @I7@ INDI\n1 FAMS @F2@\n1 FAMC @F99@\n");
  ASSERT_EQ(m.aIndi.size(), 4u);
  ASSERT_EQ(m.aFam.size(), 3u);
  EXPECT_EQ(F(1).HUSB, 3);  // @I7@ is stored at index 3
  EXPECT_EQ(F(1).WIFE, 2);  // @IABC@ has no number but links by its text
  EXPECT_EQ(F(1).CHIL, (std::vector<std::int64_t>{1, 0}));
  EXPECT_EQ(F(2).HUSB, 1);
  EXPECT_EQ(P(1).FAMC, 1);
  EXPECT_EQ(P(1).FAMS, (std::vector<std::int64_t>{2, 0}));
  EXPECT_EQ(P(2).FAMS, (std::vector<std::int64_t>{1}));
  EXPECT_EQ(P(3).FAMC, 0);  // '@F99@' does not exist
}

TEST_F(GedcomReader, AssociationsGetOneBackLink) {
  LoadText("0 HEAD\n0 @I1@ INDI\n1 ASSO @I2@\n2 RELA Godfather\n1 ASSO @I1@\n1 ASSO @I9@\n"
           "0 @I2@ INDI\n0 @I3@ INDI\n1 ASSO @I1@\n0 @I4@ INDI\n1 ASSO @I1@\n0 @I1@ INDI\n");
  ASSERT_EQ(P(1).ASSO.size(), 5u);
  EXPECT_EQ(P(1).ASSO[0].ID, 2);
  EXPECT_EQ(P(1).ASSO[0].RELA, Q("Godfather"));
  EXPECT_EQ(P(1).ASSO[1].ID, 1);  // a self-association adds nothing
  EXPECT_EQ(P(1).ASSO[2].ID, 0);  // no such person
  EXPECT_EQ(P(1).ASSO[3].ID, 3);  // back links of @I3@ and @I4@
  EXPECT_EQ(P(1).ASSO[4].ID, 4);
  ASSERT_EQ(P(2).ASSO.size(), 1u);
  EXPECT_EQ(P(2).ASSO[0].ID, 1);
  EXPECT_EQ(P(2).ASSO[0].INDI, Q("@I1@"));
  EXPECT_TRUE(P(2).ASSO[0].RELA.isEmpty());
  ASSERT_EQ(P(3).ASSO.size(), 1u);  // its own association to @I1@ already links back
  // A duplicate identifier resolves to its first person; the duplicate stays unlinked.
  EXPECT_TRUE(P(5).ASSO.empty());
}

TEST_F(GedcomReader, NotesMarriagesAndTimes) {
  LoadText(
      "0 HEAD\n"
      "0 @N3@ NOTE First line\n1 CONC  continued\n1 CONT Second\n"
      "0 @I1@ INDI\n1 BIRT\n2 NOTE @N3@\n1 NOTE @N404@\n1 CHAN\n2 DATE 1 JAN 2000\n3 TIME not a time\n"
      "0 @F1@ FAM\n1 UNIONS x @M3@\n1 MARR\n2 NOTE m1\n3 CONC m2\n3 CONT m3\n1 CHAN\n2 DATE 2 JAN 2000\n3 TIME 12:00\n"
      "0 @M3@ MARRIAGE\n1 DATE 5 MAY 1920\n1 PLAC Tula\n"
      "0 @F2@ FAM\n1 RELATION Marriage\n");
  EXPECT_EQ(P(1).BIRT_NOTE, Q("First line continued\r\nSecond"));
  EXPECT_EQ(P(1).NOTE, Q("@N404@"));  // a reference without a record keeps its text
  EXPECT_EQ(DateTimeToDmy(P(1).EDIT), Q("01.01.2000"));  // an unreadable time keeps the date
  EXPECT_EQ(F(1).MARR, Q("x"));                          // '1 MARR' after '1 UNIONS' wins
  EXPECT_EQ(F(1).MARR_NOTE, Q("m1m2\r\nm3"));
  EXPECT_EQ(DateTimeToDmy(F(1).CHAN), Q("02.01.2000 12:00:00"));
  EXPECT_EQ(F(2).MARR, Q("x"));
}

TEST_F(GedcomReader, MarriageRecordReference) {
  LoadText("0 HEAD\n0 @F1@ FAM\n1 UNIONS @M3@\n0 @M3@ MARRIAGE\n1 DATE 5 MAY 1920\n1 PLAC Tula\n");
  EXPECT_EQ(F(1).MARR, Q("@M3@"));
  EXPECT_EQ(F(1).MARR_DATE.NORM, Q("05.05.1920"));
  EXPECT_EQ(F(1).MARR_PLAC, Q("Tula"));
}

TEST_F(GedcomReader, NameSplitting) {
  struct Case {
    const char* lines;
    const char* surn1;
    const char* surn0;
    const char* firs1;
    const char* patr1;
  };
  const Case cases[] = {
      {"1 NAME Ivan Petrovich /Ivanov/\n1 SEX M\n", "Ivanov", "", "Ivan", "Petrovich"},
      {"1 NAME Ivan /Ivanov/\n1 SEX M\n", "Ivanov", "", "Ivan", ""},
      {"1 NAME /Ivanov/\n2 GIVN  Petrovich\n1 SEX M\n", "Ivanov", "", "", "Petrovich"},
      {"1 NAME Ivan (Johann) Petrovich /Ivanov/\n", "Ivanov", "", "Ivan (Johann)", "Petrovich"},
      {"1 NAME Ivan (Johann) (Hans) Petrovich /Ivanov/\n", "Ivanov", "", "Ivan (Johann)", "(Hans) Petrovich"},
      {"1 NAME Ivan Petrovich (Johann) /Ivanov/\n", "Ivanov", "", "Ivan", "Petrovich (Johann)"},
      {"1 SEX F\n1 NAME Anna /Ivanova (Petrova)/\n2 SURN Petrova\n", "Ivanova", "Petrova", "Anna", ""},
      {"1 SEX F\n1 NAME Anna /Petrova/\n2 SURN Petrova\n2 _MARNM Ivanova\n", "Ivanova", "Petrova", "Anna", ""},
      {"1 NAME Anna /Petrova/\n2 MIDDLE Ivanovna\n", "Petrova", "", "Anna", "Ivanovna"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    LoadBytes(QByteArray("0 HEAD\n0 @I1@ INDI\n") + c.lines);
    EXPECT_EQ(P(1).SURN1, Q(c.surn1));
    EXPECT_EQ(P(1).SURN0, Q(c.surn0));
    EXPECT_EQ(P(1).FIRS1, Q(c.firs1));
    EXPECT_EQ(P(1).PATR1, Q(c.patr1));
  }
  // A man without '2 SURN' gets his surname from the name line.
  LoadText("0 HEAD\n0 @I1@ INDI\n1 NAME Ivan /Ivanov/\n1 SEX M\n");
  EXPECT_EQ(P(1).SURN, Q("Ivanov"));
  EXPECT_EQ(P(1).FIO1, Q("Ivanov Ivan"));
  // A woman shows her birth surname in brackets.
  LoadText("0 HEAD\n0 @I1@ INDI\n1 SEX F\n1 NAME Anna Ivanovna /Ivanova (Petrova)/\n2 SURN Petrova\n");
  EXPECT_EQ(P(1).FIO1, Q("Ivanova (Petrova) Anna Ivanovna"));
}

TEST_F(GedcomReader, EmptyDatesAndElementZero) {
  LoadText("0 HEAD\n0 @I1@ INDI\n0 @I2@ INDI\n1 DEAT Y\n");
  EXPECT_EQ(P(0).FIO1, Q("..."));
  EXPECT_EQ(P(0).BIRT_DATE.NORM, Q("?"));
  EXPECT_EQ(P(1).BIRT_DATE.NORM, Q("?"));
  EXPECT_EQ(P(1).BIRT_DATE.DDATE, kUnknownDate);
  EXPECT_TRUE(P(1).DEAT_DATE.NORM.isEmpty());  // no death record: the date stays unfilled
  EXPECT_EQ(P(1).DEAT_DATE.DDATE, 0);
  EXPECT_EQ(P(2).DEAT_DATE.NORM, Q("?"));
  EXPECT_EQ(P(2).DEAT_DATE.DDATE, kUnknownDate);
  EXPECT_EQ(P(1).iPr, -1);
  EXPECT_EQ(P(1).iPot, -1);
}

TEST_F(GedcomReader, EmptyAndLevelLessInput) {
  for (const char* text : {"", "\n\n", "garbage\nmore garbage", "0", "@", "1 NAME /x/"}) {
    SCOPED_TRACE(text);
    LoadText(text);
    EXPECT_EQ(m.aIndi.size(), 1u);
    EXPECT_EQ(m.aFam.size(), 1u);
  }
}

TEST_F(GedcomReader, SecondLoadReplacesTheFirst) {
  LoadText("0 HEAD\n1 SOUR A\n0 @I1@ INDI\n0 @F1@ FAM\n0 @N1@ NOTE\n0 @M1@ MARR\n0 @I2@ _INDI\n");
  const std::uint64_t firstLoad = m.LoadCount;
  LoadText("0 HEAD\n0 @I1@ INDI\n");
  // Lists stamped with the first load's count are known stale now.
  EXPECT_GT(m.LoadCount, firstLoad);
  EXPECT_EQ(m.aIndi.size(), 2u);
  EXPECT_EQ(m.aFam.size(), 1u);
  EXPECT_EQ(m.aNote.size(), 1u);
  EXPECT_EQ(m.aMarr.size(), 1u);
  EXPECT_EQ(m.aIndi_.size(), 1u);
  EXPECT_TRUE(m.GedHead.SOUR.isEmpty());
}

TEST_F(GedcomReader, CharacterSets) {
  const QByteArray body = QByteArray("0 HEAD\n1 CHAR ") + "%1" +
                          "\n0 @I1@ INDI\n1 NAME Иван /Ильин/\n1 NOTE @N1@\n0 @N1@ NOTE При\n1 CONC мечание\n";
  const QByteArray utf8 = QByteArray(body).replace("%1", "UTF-8");
  // UTF-8 without a mark: decoded because the header says so ('И' is D0 98 and must survive).
  LoadBytes(utf8);
  EXPECT_EQ(P(1).NAME, Q("Иван /Ильин/"));
  EXPECT_EQ(P(1).NOTE, Q("Примечание"));
  // The same with a lower-case character set name is read as Windows-1251.
  LoadBytes(QByteArray(body).replace("%1", "utf-8"));
  EXPECT_EQ(P(1).NAME, QString::fromUtf16(platform::Cp1251ToUtf16(QByteArray("Иван /Ильин/").toStdString()).c_str()));
  // Windows-1251 bytes.
  const std::u16string text = QString::fromUtf8(QByteArray(body).replace("%1", "ANSI")).toStdU16String();
  LoadBytes(QByteArray::fromStdString(platform::Utf16ToCp1251(text)));
  EXPECT_EQ(P(1).NAME, Q("Иван /Ильин/"));
  EXPECT_EQ(P(1).NOTE, Q("Примечание"));
  // UTF-8 with a mark, UTF-16 both ways.
  LoadBytes("\xEF\xBB\xBF" + QByteArray(body).replace("%1", "ANSI"));
  EXPECT_EQ(P(1).NAME, Q("Иван /Ильин/"));
  const QString u = Q(QByteArray(body).replace("%1", "UNICODE").constData());
  QByteArray le("\xFF\xFE", 2), be("\xFE\xFF", 2);
  for (QChar c : u) {
    le.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    be.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xFF));
  }
  LoadBytes(le);
  EXPECT_EQ(P(1).NAME, Q("Иван /Ильин/"));
  LoadBytes(be);
  EXPECT_EQ(P(1).NAME, Q("Иван /Ильин/"));
  LoadBytes(le.mid(2));  // no mark: recognised by the leading "0"
  EXPECT_EQ(P(1).NAME, Q("Иван /Ильин/"));
  // A character split between two CONC lines of a note record is joined before it is decoded.
  LoadBytes("0 HEAD\n1 CHAR UTF-8\n0 @I1@ INDI\n1 NOTE @N1@\n0 @N1@ NOTE \xD0\x9F\xD1\x80\xD0\n1 CONC \xB8\n");
  EXPECT_EQ(P(1).NOTE, Q("При"));
  // A UTF-8 mark before content that is not UTF-8: read as Windows-1251, the header line restored.
  LoadBytes("\xEF\xBB\xBF" "0 HEAD\n1 SOUR S\n0 @I1@ INDI\n1 NAME \xC8\xE2\xE0\xED\n");
  EXPECT_EQ(m.GedHead.SOUR, Q("S"));
  EXPECT_EQ(P(1).NAME, Q("Иван"));
}

TEST_F(GedcomReader, MissingFileThrows) {
  EXPECT_THROW(Ged_Indi(m, QStringLiteral("/nonexistent/file.ged")), EGedcomRead);
  EXPECT_THROW(Ged_Indi(m, QDir::tempPath()), EGedcomRead);
}

// Only regular files are read: a FIFO would make the open wait for a writer forever, a device behind a
// link could be read without end. Both give the open error at once, and the message names the file.
TEST_F(GedcomReader, OnlyRegularFilesAreRead) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString fifo = dir.filePath(QStringLiteral("pipe.ged"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const QString zero = dir.filePath(QStringLiteral("zero.ged"));
  ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), zero));
  for (const QString& path : {fifo, zero}) {
    SCOPED_TRACE(path.toStdString());
    try {
      Ged_Indi(m, path);
      ADD_FAILURE() << "no error";
    } catch (const EGedcomRead& e) {
      EXPECT_EQ(e.What(), EGedcomRead::OpenFailed);
      EXPECT_EQ(e.Message(), Q("Не удалось открыть файл \"") + path + u'"');
      EXPECT_EQ(EGedcomRead::Key(e.What()), Q("FileOpenError"));
    }
  }
  // A link to a regular file is followed.
  const QString real = dir.filePath(QStringLiteral("real.ged"));
  QFile f(real);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("0 HEAD\n0 @I1@ INDI\n1 NAME A /B/\n");
  f.close();
  const QString link = dir.filePath(QStringLiteral("link.ged"));
  ASSERT_TRUE(QFile::link(real, link));
  Ged_Indi(m, link);
  EXPECT_EQ(m.aIndi.size(), 2u);
}

// The reader works on the caller's buffer: neither a byte-wise file nor a UTF-8 file with a mark is
// copied or decoded as a whole (the buffer stays shared while the records are read).
TEST_F(GedcomReader, FileBufferIsNotCopied) {
  for (const QByteArray& head : {QByteArray(), QByteArray("\xEF\xBB\xBF")}) {
    QByteArray bytes = head + "0 HEAD\n1 CHAR UTF-8\n";
    for (int i = 1; i <= 300; ++i) bytes += "0 @I" + QByteArray::number(i) + "@ INDI\n1 NAME \xD0\x98 /B/\n";
    int sharedCalls = 0, calls = 0, stage = 0;
    Ged_IndiFromBytes(m, bytes, [&](std::int64_t pos, std::int64_t) {
      if (pos == 0) ++stage;  // each stage starts at 0; the first one reads the records
      if (pos == 0 || stage != 1) return;
      ++calls;
      sharedCalls += bytes.isDetached() ? 0 : 1;
    });
    EXPECT_GT(calls, 0);
    EXPECT_EQ(sharedCalls, calls) << "mark " << head.size();
    EXPECT_EQ(P(300).NAME, Q("И /B/"));
  }
}

// Many persons naming one person: every one gets its back link once, in order, in linear time (the
// benchmark measures it; here the result of the set-based check).
TEST_F(GedcomReader, ManyAssociationsToOnePerson) {
  QByteArray text("0 HEAD\n0 @I1@ INDI\n");
  for (int i = 2; i <= 2000; ++i) {
    text += "0 @I" + QByteArray::number(i) + "@ INDI\n1 ASSO @I1@\n";
    if (i % 3 == 0) text += "1 ASSO @I1@\n";  // a second association to the same person adds no link
  }
  LoadBytes(text);
  ASSERT_EQ(P(1).ASSO.size(), 1999u);
  for (std::size_t k = 0; k < P(1).ASSO.size(); ++k) ASSERT_EQ(P(1).ASSO[k].ID, std::int32_t(k + 2));
}

TEST_F(GedcomReader, ProgressIsReported) {
  QByteArray text("0 HEAD\n");
  for (int i = 1; i <= 300; ++i) text += "0 @I" + QByteArray::number(i) + "@ INDI\n1 NAME A /B/\n";
  std::int64_t calls = 0, lastMax = -1;
  Ged_IndiFromBytes(m, text, [&](std::int64_t pos, std::int64_t max) {
    ++calls;
    EXPECT_LE(pos, max);
    lastMax = max;
  });
  EXPECT_GT(calls, 5);
  EXPECT_EQ(lastMax, 300);
}

// Blank lines change no state, so they cost no line of the reader's work: a file padded with them reads
// to the same model, and the passes walk (and report) the lines with text only. A first line that is
// blank still ends the header before it begins.
TEST_F(GedcomReader, BlankLinesCostNothing) {
  const QByteArray plain("0 HEAD\n1 CHAR UTF-8\n0 @I1@ INDI\n1 NAME Иван /Орлов/\n1 BIRT\n2 DATE 1 JAN 1900\n0 TRLR\n");
  QByteArray padded;
  for (const QByteArray& line : plain.split('\n')) padded += line + QByteArray(3000, '\n') + " \t\r\n" + "\r\n\r\n";
  Ged_IndiFromBytes(m, plain);
  const QString want = DumpModel(m);
  std::int64_t maxLines = 0;
  Ged_IndiFromBytes(m, padded, [&](std::int64_t, std::int64_t max) { maxLines = std::max(maxLines, max); });
  EXPECT_EQ(DumpModel(m), want);
  EXPECT_LT(maxLines, 10);
  LoadText("\n0 HEAD\n1 SOUR Kestrelin\n0 @I1@ INDI\n1 NAME A /B/\n");
  EXPECT_TRUE(m.GedHead.SOUR.isEmpty());
  EXPECT_EQ(m.PersonCount(), 1);
}

// Every file of the shared sample corpus loads into a sound model.
TEST_F(GedcomReader, SampleCorpusLoads) {
  const QDir dir(QStringLiteral(TREVOLAN_SOURCE_DIR "/tests/data/gedcom"));
  const QStringList files = dir.entryList({QStringLiteral("*.ged")}, QDir::Files, QDir::Name);
  ASSERT_GE(files.size(), 16);
  QHash<QString, QString> dumps;
  for (const QString& f : files) {
    SCOPED_TRACE(f.toStdString());
    Ged_Indi(m, dir.filePath(f));
    const QStringList problems = CheckModel(m);
    EXPECT_TRUE(problems.isEmpty()) << problems.join(u'\n').toStdString();
    dumps[f] = DumpModel(m, QStringLiteral("20260101"));
  }
  // The same tree in every encoding and line-end style reads the same.
  for (const char* f : {"utf8_crlf_bom.ged", "utf8_crlf_nobom.ged", "utf8_lf_nobom.ged"})
    EXPECT_EQ(dumps[QString::fromLatin1(f)], dumps[QStringLiteral("utf8_cr_nobom.ged")]) << f;
  EXPECT_EQ(dumps[QStringLiteral("utf16le.ged")], dumps[QStringLiteral("utf8.ged")]);
  EXPECT_EQ(dumps[QStringLiteral("utf16be.ged")], dumps[QStringLiteral("utf8.ged")]);
  EXPECT_EQ(dumps[QStringLiteral("unicode-littleendian-crlf.ged")],
            dumps[QStringLiteral("unicode-littleendian-cronly.ged")]);
  EXPECT_TRUE(dumps[QStringLiteral("utf8_cr_nobom.ged")].contains(Q("INDI 1 @I1@\n  NAME John /Grüber/")));
  EXPECT_TRUE(dumps[QStringLiteral("Harry_Potter.ged")].contains(Q("COUNTS INDI 23 FAM 7")));
}

}  // namespace
