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
