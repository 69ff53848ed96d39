// The GEDCOM reader's record pass split over threads: whatever the number of parts, the model is the
// same as one thread's, to the last field of the canonical dump. Parts begin at level-0 lines anywhere
// in a file, so every shape of file is read with many more parts than it has records too.
#include "app/core/GedcomReader.h"
#include "app/core/ModelCheck.h"
#include "app/core/ModelDump.h"
#include "tools/SyntheticGedcom.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

namespace {

// Thread counts to compare with one thread: a few parts, a prime, and more parts than most files have records.
constexpr int kThreadCounts[] = {2, 3, 7, 64};

QString DumpWith(const QByteArray& bytes, int threads) {
  Model m;
  Ged_IndiFromBytes(m, bytes, {}, QString::fromUtf16(kDefaultNameTemplate), threads);
  const QStringList problems = CheckModel(m);
  EXPECT_TRUE(problems.isEmpty()) << problems.join(u'\n').toStdString();
  return DumpModel(m, QStringLiteral("20260101"));
}

void ExpectSameForAnyThreads(const QByteArray& bytes, const std::string& what) {
  SCOPED_TRACE(what);
  const QString one = DumpWith(bytes, 1);
  for (int threads : kThreadCounts) EXPECT_EQ(DumpWith(bytes, threads), one) << threads << " threads";
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
  return f.readAll();
}

// Links that cross parts: families before and after the persons they name, a person named before it is
// read, identifiers written twice (the first record wins), hyperlink records, note and marriage records,
// associations and their back links, UTF-8 decoded lines, CONC/CONT, lines of another level and blank
// and indented lines between records.
const char kCrossLinks[] =
    "0 HEAD\n1 SOUR Test\n1 CHAR UTF-8\n"
    "0 @F2@ FAM\n1 HUSB @I3@\n1 WIFE @I4@\n1 CHIL @I1@\n1 MARR\n2 NOTE @N1@\n"
    "0 @I1@ INDI\n1 NAME Иван Петрович /Орлов/\n1 SEX M\n1 FAMC @F2@\n1 FAMS @F1@\n1 ASSO @I4@\n2 RELA Крестник\n"
    "1 BIRT\n2 DATE 12 JAN 1900\n2 NOTE @N1@\n"
    "\n\n   \n"
    "0 @I2@ INDI\n1 NAME Анна /Орлова (Петрова)/\n2 SURN Петрова\n1 SEX F\n1 FAMS @F1@\n1 NOTE @N2@\n"
    "  0 @I3@ INDI\n1 NAME Пётр /Орлов/\n1 SEX M\n1 FAMS @F2@\n1 DEAT\n2 DATE ABT 1950\n"
    "0 @I4@ INDI\n1 NAME Мария /Орлова/\n1 SEX F\n1 FAMS @F2@\n1 ASSO @I1@\n"
    "0 @I3@ INDI\n1 NAME Second /Of Three/\n"
    "0 @F1@ FAM\n1 HUSB @I1@\n1 WIFE @I2@\n1 CHIL @I5@\n1 CHIL @I9@\n1 UNIONS @M1@\n"
    "5 DEEP level\n"
    "0 @N1@ NOTE Запись\n1 CONC  о рождении\n1 CONT вторая строка\n"
    "0 @N2@ NOTE\n1 CONT note two\n"
    "0 @M1@ MARR\n1 DATE 3 MAR 1925\n1 PLAC Tula\n"
    "0 @I5@ INDI\n1 NAME Child /Orlov/\n1 FAMC @F9@\n"
    "0 @I6@ _INDI\n1 INDIVIDUALINTERNALHYPERLINK @I5@\n1 FAMC @F1@\n1 FAMS @F2@\n"
    "0 @I7@ _INDI\n1 INDIVIDUALINTERNALHYPERLINK @I5@\n1 FAMS @F1@\n"
    "0 TRLR\n";

TEST(GedcomThreads, CrossPartLinksReadAsOnOneThread) {
  const QByteArray lf(kCrossLinks);
  ExpectSameForAnyThreads(lf, "LF");
  QByteArray crlf = lf;
  crlf.replace("\n", "\r\n");
  ExpectSameForAnyThreads(crlf, "CR LF");
  QByteArray cr = lf;
  cr.replace('\n', '\r');
  ExpectSameForAnyThreads(cr, "CR");
  // The same text as UTF-16 and with a UTF-8 mark.
  const QString text = QString::fromUtf8(lf);
  QByteArray utf16("\xFF\xFE", 2);
  utf16.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
  ExpectSameForAnyThreads(utf16, "UTF-16");
  ExpectSameForAnyThreads(QByteArray("\xEF\xBB\xBF") + lf, "UTF-8 mark");

  // The file's own links, read on many parts: the families before their persons are linked.
  Model m;
  Ged_IndiFromBytes(m, lf, {}, QString::fromUtf16(kDefaultNameTemplate), 64);
  ASSERT_EQ(m.PersonCount(), 6);
  EXPECT_EQ(m.aFam[1].HUSB, 3);  // the first @I3@
  EXPECT_EQ(m.aIndi[6].FAMC, 2);  // the hyperlink's family replaces the one that names no family
  EXPECT_EQ(m.aIndi[6].FAMS, (std::vector<std::int64_t>{1, 2}));
  EXPECT_EQ(m.aFam[2].MARR_PLAC, QStringLiteral("Tula"));
  EXPECT_EQ(m.aIndi[2].NOTE, QStringLiteral("\r\nnote two"));
}

// Synthetic trees in both encodings the generator writes.
TEST(GedcomThreads, SyntheticTreesReadAsOnOneThread) {
  for (const bool utf8 : {true, false}) {
    const QByteArray bytes = QByteArray::fromStdString(synth::MakeTree(500, utf8));
    ExpectSameForAnyThreads(bytes, utf8 ? "UTF-8" : "Windows-1251");
  }
}

// Every sample file and every kept fuzz input (damaged lines, odd levels and encodings).
TEST(GedcomThreads, SamplesAndFuzzInputsReadAsOnOneThread) {
  for (const char* folder : {"/tests/data/gedcom", "/fuzz/gedcom/corpus"}) {
    const QDir dir(QStringLiteral(TREVOLAN_SOURCE_DIR) + QString::fromLatin1(folder));
    const QStringList files = dir.entryList(QDir::Files, QDir::Name);
    ASSERT_FALSE(files.isEmpty()) << folder;
    for (const QString& name : files) {
      const QByteArray bytes = ReadFile(dir.filePath(name));
      const QString one = DumpWith(bytes, 1);
      EXPECT_EQ(DumpWith(bytes, 7), one) << folder << "/" << name.toStdString();
    }
  }
}

// Read from a file, the reader gives the bytes it has passed back to the system as it goes: what it
// reads is still the whole file, in every line-end style and in UTF-16 (whose bytes go once decoded).
TEST(GedcomThreads, FileReadGivesBackNothingItStillReads) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QByteArray lf = QByteArray::fromStdString(synth::MakeTree(7000, true));
  QByteArray crlf = lf;
  crlf.replace("\n", "\r\n");
  const QString text = QString::fromUtf8(QByteArray(kCrossLinks));
  QByteArray utf16("\xFF\xFE", 2);
  utf16.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
  int k = 0;
  for (const QByteArray& bytes : {lf, crlf, utf16}) {
    const QString path = dir.filePath(QStringLiteral("tree%1.ged").arg(++k));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
    f.close();
    Model m;
    Ged_Indi(m, path);
    EXPECT_EQ(DumpModel(m, QStringLiteral("20260101")), DumpWith(bytes, 1)) << k;
  }
}

// The calling thread makes every progress call, and the record pass's position never passes its maximum.
TEST(GedcomThreads, ProgressComesFromTheCallingThread) {
  const QByteArray bytes = QByteArray::fromStdString(synth::MakeTree(3000, true));
  const auto caller = std::this_thread::get_id();
  bool otherThread = false;
  std::int64_t calls = 0;
  Model m;
  Ged_IndiFromBytes(
      m, bytes,
      [&](std::int64_t pos, std::int64_t max) {
        otherThread = otherThread || std::this_thread::get_id() != caller;
        EXPECT_LE(pos, max);
        EXPECT_GE(pos, 0);
        ++calls;
      },
      QString::fromUtf16(kDefaultNameTemplate), 4);
  EXPECT_FALSE(otherThread);
  EXPECT_GE(calls, 8);
  EXPECT_EQ(m.PersonCount(), 3000);
}

// Stop (the model's AbortFlag set by a progress call) ends the read at once: at the start of the record
// pass, while its parts run on their threads (one part or many), and at the start of the linking passes.
// No progress call follows the stop, and the model is left as a new one with AbortFlag set; the next read
// into it is whole.
TEST(GedcomThreads, StopEndsTheReadAndLeavesAnEmptyModel) {
  const QByteArray bytes = QByteArray::fromStdString(synth::MakeTree(8000, true));
  enum When { RecordPassStart, InsideRecordPass, LinkPassStart };
  const struct {
    When when;
    int threads;
    const char* what;
  } kCases[] = {
      {RecordPassStart, 4, "at the record pass's start"},
      {InsideRecordPass, 1, "inside the record pass, one part"},
      {InsideRecordPass, 4, "inside the record pass, four parts"},
      {LinkPassStart, 4, "at the linking passes' start"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    Model m;
    std::int64_t starts = 0, callsAfterStop = 0;
    bool stopped = false;
    Ged_IndiFromBytes(
        m, bytes,
        [&](std::int64_t pos, std::int64_t max) {
          if (stopped) {
            ++callsAfterStop;
            return;
          }
          if (pos == 0 && max > 0) ++starts;
          const bool now = c.when == RecordPassStart    ? starts == 1
                           : c.when == InsideRecordPass ? starts == 1 && pos > 0 && pos < max
                                                        : starts == 2;
          if (now) stopped = m.AbortFlag = true;
        },
        QString::fromUtf16(kDefaultNameTemplate), c.threads);
    ASSERT_TRUE(stopped) << "the stop point was never reached";
    EXPECT_EQ(callsAfterStop, 0);
    EXPECT_TRUE(m.AbortFlag);
    EXPECT_EQ(m.PersonCount(), 0);
    EXPECT_EQ(m.FamilyCount(), 0);
    EXPECT_EQ(m.aNote.size(), 1u);
    EXPECT_EQ(m.aMarr.size(), 1u);
    EXPECT_TRUE(m.GedHead.SOUR.isEmpty());
    EXPECT_TRUE(CheckModel(m).isEmpty());
    if (c.when != InsideRecordPass || c.threads == 1) continue;
    Ged_IndiFromBytes(m, bytes, {}, QString::fromUtf16(kDefaultNameTemplate), c.threads);
    EXPECT_FALSE(m.AbortFlag);
    EXPECT_EQ(m.PersonCount(), 8000);
  }
}

}  // namespace
