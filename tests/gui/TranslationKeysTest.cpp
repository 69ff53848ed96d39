// Every key the program asks for exists in each shipped translation file. The window runs through every page
// on the sample tree (each page's run, report-menu item, print and save, and every button of the page) under a
// writable copy of the file; a key the file lacks is written back with its Russian default, so the keys the
// copy gained are the missing ones. The kinship vocabulary ("*" keys, never written back) is checked slot by
// slot: a missing word is empty and silently switches composed names off.
#include "tests/gui/WindowFixture.h"

#include "app/charts/ChartOutput.h"
#include "app/charts/KinshipNaming.h"
#include "app/window/CalendarPage.h"
#include "app/window/MarriagesPage.h"
#include "app/window/Unit1.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/IniFile.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

class ShippedKeys : public guitest::ShownWindowFixture, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ShownWindowFixture::SetUp());
    QDir(dir_.path()).mkdir(QStringLiteral("LNG"));
    for (const char* name : {"English.lng", "Ukrainian.lng"}) {
      const QString to = dir_.filePath(QStringLiteral("LNG/") + QLatin1String(name));
      ASSERT_TRUE(QFile::copy(QStringLiteral(TREVOLAN_SOURCE_DIR "/LNG/") + QLatin1String(name), to));
      QFile::setPermissions(to, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
  }
  void TearDown() override {
    ShownWindowFixture::TearDown();
    TheModel().Reset();
  }
};

TEST_P(ShippedKeys, EveryKeyTheWindowAsksForIsInTheFile) {
  const QString file = QLatin1String(GetParam());
  const QStringList shipped =
      platform::TIniFile(QStringLiteral(TREVOLAN_SOURCE_DIR "/LNG/") + file).ReadSection(QStringLiteral("Language"));
  TForm1& f = Show();
  f.SetDialogs(std::make_unique<platform::TFakeDialogs>());
  f.ComboBox9->setCurrentIndex(f.ComboBox9->findText(file));
  ASSERT_NE(f.LangIni(), nullptr);
  f.OpenDataFiles(guitest::kSample);
  ASSERT_GT(TheModel().PersonCount(), 20);
  f.N1Click(0);
  ASSERT_TRUE(f.LocatePerson(f.RootPerson()));
  // Workbooks go to the program folder and stay there.
  f.Page<TMarriagesPage>()->OpenFile = [](const QString&) { return false; };
  f.Page<TCalendarPage>()->OpenFile = [](const QString&) { return false; };
  for (const auto& page : f.Pages()) {
    f.ShowPage(page->Tab());
    f.ToolButton3Click();
    page->ReportMenuItem();
    page->Print();
    page->Save();
    for (QAbstractButton* b : page->Tab()->findChildren<QAbstractButton*>()) b->click();
    f.LocatePerson(f.RootPerson());
  }
  for (QAbstractButton* b : f.PageControl5->findChildren<QAbstractButton*>()) b->click();

  QStringList missing;
  for (const QString& key : f.LangIni()->ReadSection(QStringLiteral("Language")))
    if (!shipped.contains(key, Qt::CaseInsensitive)) missing << key;
  EXPECT_TRUE(missing.isEmpty()) << file.toStdString() << " lacks: " << missing.join(QLatin1Char(' ')).toStdString();

  // The kinship vocabulary: every word but the two empty slots of the person himself.
  TRelationWords words;
  words.Load();
  for (int degree = 1; degree <= 6; ++degree)
    for (int line = 1; line <= 2; ++line)
      for (int sex = 1; sex <= 2; ++sex)
        if (degree != 3 || line != 1) {
          EXPECT_FALSE(words.At(degree, line, sex).isEmpty()) << degree << "/" << line << "/" << sex;
        }
  // A man and his great-great-great-grandfather: a composed name, not a bare "grandfather".
  TKinshipOptions o;
  o.RelationName = true;
  const QString far = LinkName(0, 5, 1, 1, words, o);
  EXPECT_NE(far, LinkName(0, 2, 1, 1, words, o));
  EXPECT_TRUE(far.contains(QLatin1String("(3)"))) << far.toStdString();
  for (const char* key : {"*A", "*H", "*B", "*W"})
    EXPECT_FALSE(f.LangIni()->ReadString(QStringLiteral("*Language"), QLatin1String(key), QString()).isEmpty()) << key;
}

INSTANTIATE_TEST_SUITE_P(Files, ShippedKeys, ::testing::Values("English.lng", "Ukrainian.lng"),
                         [](const auto& info) { return std::string(info.param).substr(0, 2); });

}  // namespace
