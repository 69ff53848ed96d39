// Replays the reader's kept fuzz corpus: every input loads into a model that passes the model checker.
#include "fuzz/gedcom/GedcomFuzzBody.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

TEST(GedcomFuzzCorpus, EveryInputGivesASoundModel) {
  const QDir dir(QStringLiteral(TREVOLAN_SOURCE_DIR "/fuzz/gedcom/corpus"));
  const QStringList files = dir.entryList(QDir::Files, QDir::Name);
  ASSERT_FALSE(files.isEmpty());
  for (const QString& name : files) {
    QFile f(dir.filePath(name));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
    const QByteArray bytes = f.readAll();
    const QStringList problems =
        GedcomFuzzOne(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
    EXPECT_TRUE(problems.isEmpty()) << name.toStdString() << ":\n" << problems.join(u'\n').toStdString();
  }
}

}  // namespace
