// The door to a family tree on disk: the type by the name's last three letters, the reader it runs, and
// one form of error for every reader.
#include "sources/FamilyTreeFile.h"

#include "sources/Unit2.h"
#include "tools/At4Synth.h"
#include "tools/At5Synth.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

TEST(FamilyTreeFile, TypeByTheLastThreeLettersInAnyCase) {
  const struct {
    const char* name;
    TFamilyTreeType type;
  } cases[] = {
      {"tree.ged", TFamilyTreeType::Gedcom}, {"TREE.GED", TFamilyTreeType::Gedcom}, {"x.Ged", TFamilyTreeType::Gedcom},
      {"treeged", TFamilyTreeType::Gedcom},  {"a.at4", TFamilyTreeType::At4},       {"a.AT5", TFamilyTreeType::At5},
      {"a.ged.bak", TFamilyTreeType::Unknown}, {"a.txt", TFamilyTreeType::Unknown}, {"", TFamilyTreeType::Unknown},
  };
  for (const auto& c : cases) EXPECT_EQ(FamilyTreeType(QString::fromLatin1(c.name)), c.type) << c.name;
}

TEST(FamilyTreeFile, LoadsByTypeAndLeavesTheModelAloneWithoutAReader) {
  QTemporaryDir dir;
  const at5synth::Tree tree = at5synth::MakeTree(40, 3);
  const QString ged = dir.filePath("t.GED"), at5 = dir.filePath("t.at5"), at4 = dir.filePath("t.at4"),
                other = dir.filePath("t.txt");
  {
    QFile f(ged);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(at5synth::Gedcom(tree));
  }
  at5synth::WriteAt5(tree, at5.toStdString(), true);
  QFile::copy(ged, other);
  const at4synth::Tree tree4 = at4synth::MakeTree(30, 3);
  {
    TDataModule2 engine;  // the engine, started while the file is written
    at4synth::WriteAt4(tree4, at4.toStdString());
  }

  Model g, a, b;
  std::int64_t calls = 0;
  ASSERT_TRUE(LoadFamilyTree(g, ged, [&](std::int64_t, std::int64_t) { ++calls; }));
  ASSERT_TRUE(LoadFamilyTree(a, at5));
  EXPECT_GT(calls, 0);
  EXPECT_GT(g.PersonCount(), 20);
  EXPECT_EQ(a.PersonCount(), g.PersonCount());
  EXPECT_EQ(a.aIndi[1]._UID, QString::number(tree.persons[0].id));  // the ".at5" reader's mark
  calls = 0;
  ASSERT_TRUE(LoadFamilyTree(b, at4, [&](std::int64_t, std::int64_t) { ++calls; }));
  EXPECT_GT(calls, 0);
  EXPECT_EQ(b.PersonCount(), 30);
  EXPECT_EQ(b.aIndi[1]._UID.size(), 10);  // the ".at4" reader's ids

  Model m = g;
  EXPECT_FALSE(LoadFamilyTree(m, other));
  EXPECT_EQ(m.PersonCount(), g.PersonCount());  // nothing read, nothing cleared
}

TEST(FamilyTreeFile, EveryReaderFailsWithAKeyedMessage) {
  QTemporaryDir dir;
  for (const char* name : {"missing.ged", "missing.at4", "missing.at5"}) {
    Model m;
    try {
      LoadFamilyTree(m, dir.filePath(QString::fromLatin1(name)));
      ADD_FAILURE() << name << ": no error";
    } catch (const EFamilyTreeRead& e) {
      EXPECT_EQ(e.Key(), u"FileOpenError") << name;
      EXPECT_EQ(e.Args().value(0), dir.filePath(QString::fromLatin1(name)));
    }
  }
}
