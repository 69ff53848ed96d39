// tools/trevolan-edit: the tool list without arguments, the dry run's protocol equal to the write run's
// (the file untouched by the first, changed and backed up by the second), and clear failures.
#include "sources/Unit2.h"
#include "tools/At4Synth.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#ifdef TREVOLAN_EDIT

namespace {

struct Result {
  int code = -1;
  QString out, err;
};

Result Edit(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral(TREVOLAN_EDIT), args);
  p.waitForFinished(120000);
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
          QString::fromUtf8(p.readAllStandardError())};
}

const char kGed[] =
    "0 HEAD\n1 CHAR UTF-8\n0 @I1@ INDI\n1 NAME Ivan /petrov/\n2 SURN petrov\n1 SEX M\n0 @I2@ INDI\n"
    "1 NAME Anna /petrova/\n1 SEX F\n0 TRLR\n";

TEST(TrevolanEdit, CommandLine) {
  QTemporaryDir dir;
  const QString ged = dir.filePath(QStringLiteral("t.ged"));
  {
    QFile f(ged);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(kGed);
  }
  const Result usage = Edit({});
  EXPECT_EQ(usage.code, 2);
  for (const char* word : {"techfield", "names", "surnames", "translit"})
    EXPECT_TRUE(usage.err.contains(QLatin1String(word))) << word;

  const QStringList args{QStringLiteral("surnames"), ged, QStringLiteral("--set"), QStringLiteral("RadioGroup13=0")};
  const Result dry = Edit(args);
  EXPECT_EQ(dry.code, 0) << dry.err.toStdString();
  QFile f(ged);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray(kGed));
  f.close();
  const Result wet = Edit(args + QStringList{QStringLiteral("--write")});
  EXPECT_EQ(wet.code, 0) << wet.err.toStdString();
  EXPECT_EQ(dry.out.section(u'\n', 1), wet.out.section(u'\n', 1));
  EXPECT_TRUE(wet.out.contains(QStringLiteral("1 NAME Ivan /petrov/ -> 1 NAME Ivan /PETROV/")));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray now = f.readAll();
  EXPECT_TRUE(now.contains("1 NAME Anna /petrova/\n"));  // a woman: filtered out
  EXPECT_TRUE(now.contains("2 SURN PETROV\n"));
  EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("t.ged.~1"))));

  struct Bad {
    QStringList args;
    int code;
  };
  const Bad bad[] = {
      {{QStringLiteral("nosuch"), ged}, 2},
      {{QStringLiteral("names"), ged, QStringLiteral("--set"), QStringLiteral("Bogus=1")}, 2},
      {{QStringLiteral("names"), ged, QStringLiteral("--set"), QStringLiteral("RadioGroup14=9")}, 2},
      {{QStringLiteral("names"), dir.filePath(QStringLiteral("missing.ged"))}, 1},
      {{QStringLiteral("translit"), ged}, 1},
      {{QStringLiteral("names"), ged, QStringLiteral("--person"), QStringLiteral("@I99@")}, 2},
  };
  for (const Bad& b : bad) {
    const Result r = Edit(b.args);
    EXPECT_EQ(r.code, b.code) << b.args.join(u' ').toStdString();
    EXPECT_FALSE(r.err.trimmed().isEmpty());
  }
}

TEST(TrevolanEdit, At4Database) {
  QTemporaryDir dir;
  const QString at4 = dir.filePath(QStringLiteral("t.at4"));
  {
    TDataModule2 engine;  // the engine, started while the file is written
    at4synth::WriteAt4(at4synth::MakeTree(20), at4.toStdString(), "editcli");
  }
  QFile f(at4);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray before = f.readAll();
  f.close();
  // The current person by its database id.
  const QStringList args{QStringLiteral("techfield"), at4, QStringLiteral("--set"), QStringLiteral("ComboBox5=3"),
                         QStringLiteral("--set"), QStringLiteral("Edit24=a@b"), QStringLiteral("--set"),
                         QStringLiteral("RadioGroup14=1"), QStringLiteral("--person"), at4synth::Id('I', 1)};
  const Result dry = Edit(args);
  EXPECT_EQ(dry.code, 0) << dry.err.toStdString();
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), before);
  f.close();
  const Result wet = Edit(args + QStringList{QStringLiteral("--write")});
  EXPECT_EQ(wet.code, 0) << wet.err.toStdString();
  EXPECT_TRUE(wet.out.startsWith(QStringLiteral("Изменение данных в ")));
  EXPECT_EQ(dry.out.section(u'\n', 1), wet.out.section(u'\n', 1));
  EXPECT_TRUE(wet.out.contains(QStringLiteral("смена признака \"mail@example.org\" на \"a@b\""))) << wet.out.toStdString();
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_NE(f.readAll(), before);
  // The phone field of entry 4 is not in these databases.
  const Result bad = Edit({QStringLiteral("techfield"), at4, QStringLiteral("--set"), QStringLiteral("ComboBox5=4")});
  EXPECT_EQ(bad.code, 1);
  EXPECT_FALSE(bad.err.trimmed().isEmpty());
}

}  // namespace

#endif
