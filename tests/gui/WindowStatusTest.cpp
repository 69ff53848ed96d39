// What the window says agrees with its state: the record counter after a filter, the gauge after an empty
// file, no report of the tree read before left on the pages, the person card in the language just chosen
// and with capital labels, a message where help or a workbook's program is missing, and a start geometry
// that fits the screen (the tests' screen is 1024 x 768).
#include "tests/gui/WindowFixture.h"

#include "app/core/Model.h"
#include "app/window/AncestorsPage.h"
#include "app/window/FanChartPage.h"
#include "app/window/KinshipPage.h"
#include "app/window/MarriagesPage.h"
#include "app/window/PersonCardPage.h"
#include "app/window/ProblemsPage.h"
#include "app/window/Unit1.h"
#include "platform/qt/Dialogs.h"

#include <QDir>
#include <QFile>
#include <QScreen>
#include <QTextEdit>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

using guitest::kSample;

QString WriteFile(const QTemporaryDir& dir, const char* name, const char* text) {
  const QString path = dir.filePath(QLatin1String(name));
  QFile f(path);
  if (f.open(QIODevice::WriteOnly)) f.write(text);
  return path;
}

class WindowStatus : public guitest::WindowFixture {
 protected:
  void SetUp() override {
    MakeWindow();
    ASSERT_NO_FATAL_FAILURE(Open(kSample, 20));
  }
  QString Counter() const { return form_->RecordCounterText().trimmed(); }
};

TEST_F(WindowStatus, RecordCounterFollowsTheCurrentRowThroughAFilter) {
  form_->CheckBox71->setChecked(true);  // ancestors and descendants count as favourites
  form_->CheckBox72->setChecked(true);
  form_->N1Click(0);  // a root and its marks
  platform::TClientDataSet& list = *form_->ClientDataSet1;
  form_->cbFavorit->click();
  ASSERT_GT(list.RecordCount(), 2);
  list.MoveTo(list.RecordCount() - 1);
  const std::int64_t last = form_->CurrentPerson();
  const int favourites = list.RecordCount();
  form_->cbFavorit->click();
  ASSERT_TRUE(form_->LocatePerson(last));
  form_->cbFavorit->click();  // the filter keeps the person current
  EXPECT_EQ(form_->CurrentPerson(), last);
  EXPECT_EQ(Counter(), QStringLiteral("%1/%1").arg(favourites));
}

TEST_F(WindowStatus, GaugeRestsAfterAnEmptyFile) {
  form_->OpenDataFiles(WriteFile(dir_, "empty.ged", "0 HEAD\n1 CHAR UTF-8\n0 TRLR\n"));
  ASSERT_EQ(TheModel().PersonCount(), 0);
  // A range of 0..0 is an endless busy animation.
  EXPECT_LT(form_->Gauge5->minimum(), form_->Gauge5->maximum());
  EXPECT_EQ(form_->Gauge5->value(), 0);
}

TEST_F(WindowStatus, ReportsOfTheTreeReadBeforeGoWhenAnotherOpens) {
  ASSERT_TRUE(form_->LocatePerson(guitest::DeepestPerson()));
  for (const auto& page : form_->Pages()) {
    form_->ShowPage(page->Tab());
    form_->ToolButton3Click();
  }
  auto& fan = *form_->Page<TFanChartPage>();
  auto& kinship = *form_->Page<TKinshipPage>();
  ASSERT_FALSE(fan.FanPicture().isNull());
  ASSERT_FALSE(kinship.RichEdit2->toPlainText().isEmpty());
  ASSERT_FALSE(form_->Page<TProblemsPage>()->Tab()->findChild<QTextEdit*>(QStringLiteral("RichEdit1"))->toPlainText().isEmpty());
  ASSERT_GT(form_->Page<TAncestorsPage>()->Tree->topLevelItemCount(), 0);

  form_->OpenDataFiles(WriteFile(dir_, "two.ged",
                                 "0 HEAD\n1 CHAR UTF-8\n0 @I1@ INDI\n1 NAME Anna /Other/\n1 SEX F\n"
                                 "0 @I2@ INDI\n1 NAME Boris /Other/\n1 SEX M\n0 TRLR\n"));
  ASSERT_EQ(TheModel().PersonCount(), 2);
  EXPECT_TRUE(fan.FanPicture().isNull());
  EXPECT_TRUE(kinship.Picture().isNull());
  EXPECT_EQ(kinship.TreeView3->topLevelItemCount(), 0);
  EXPECT_TRUE(kinship.RichEdit2->toPlainText().isEmpty());
  for (const auto& page : form_->Pages()) {
    if (dynamic_cast<TPersonCardPage*>(page.get())) continue;  // the card of the new current person
    for (auto* e : page->Tab()->findChildren<QTextEdit*>())
      EXPECT_TRUE(e->toPlainText().isEmpty()) << e->objectName().toStdString();
    for (auto* t : page->Tab()->findChildren<QTreeWidget*>())
      EXPECT_EQ(t->topLevelItemCount(), 0) << t->objectName().toStdString();
  }
}

TEST_F(WindowStatus, HelpSaysThatNoneIsInstalled) {
  form_->ToolButton5->click();
  ASSERT_EQ(dialogs_->messages.size(), 1);
  EXPECT_TRUE(dialogs_->messages[0].contains(QLatin1String(".chm"))) << dialogs_->messages[0].toStdString();
  form_->FormKeyDown(Qt::Key_F1);
  EXPECT_EQ(dialogs_->messages.size(), 2);
}

TEST_F(WindowStatus, PrintedMarriageWorkbookSaysWhereItWentWhenNoProgramOpensIt) {
  TForm1::SetProgramDir(dir_.path());
  auto& p = *form_->Page<TMarriagesPage>();
  ASSERT_TRUE(form_->LocatePerson(guitest::DeepestPerson()));
  p.SpeedButton30->click();
  QStringList asked;
  p.OpenFile = [&](const QString& path) {
    asked << path;
    return false;  // no program for spreadsheets
  };
  form_->ShowPage(p.Tab());
  form_->ToolButton1Click();
  ASSERT_EQ(asked.size(), 1);
  EXPECT_TRUE(QFileInfo::exists(asked[0]));
  ASSERT_EQ(dialogs_->messages.size(), 1);
  EXPECT_TRUE(dialogs_->messages[0].contains(QDir::toNativeSeparators(asked[0]))) << dialogs_->messages[0].toStdString();
  TForm1::SetProgramDir(QString());
}

// The window as a user starts it, with the shipped translations beside it.
class ShownStatus : public guitest::ShownWindowFixture {
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

TEST_F(ShownStatus, StartGeometryFitsTheScreen) {
  TForm1& f = Show();
  const QRect avail = f.screen()->availableGeometry();
  ASSERT_EQ(avail.width(), 1024);
  EXPECT_TRUE(avail.contains(f.frameGeometry())) << f.frameGeometry().x() << "," << f.frameGeometry().y() << " "
                                                 << f.frameGeometry().width() << "x" << f.frameGeometry().height();
  for (QWidget* w : {static_cast<QWidget*>(f.ToolButton0), static_cast<QWidget*>(f.ComboBox9)}) {
    const QRect r(w->mapToGlobal(QPoint(0, 0)), w->size());
    EXPECT_TRUE(avail.contains(r)) << w->objectName().toStdString();
  }
}

TEST_F(ShownStatus, PersonCardFollowsTheLanguageAtOnceWithCapitalLabels) {
  TForm1& f = Show();
  f.SetDialogs(std::make_unique<platform::TFakeDialogs>());
  f.ComboBox9->setCurrentIndex(f.ComboBox9->findText(QStringLiteral("English.lng")));
  f.OpenDataFiles(kSample);
  // A married man with brothers or sisters.
  const Model& m = TheModel();
  std::int64_t man = 0;
  for (std::int64_t i = 1; i <= m.PersonCount() && !man; ++i) {
    const TINDI& p = m.aIndi[std::size_t(i)];
    if (p.SEX == QLatin1String("M") && !p.FAMS.empty() && p.FAMC > 0 && m.aFam[std::size_t(p.FAMC)].CHIL.size() > 1 &&
        !m.aFam[std::size_t(p.FAMS.front())].MARR.isEmpty())
      man = i;
  }
  ASSERT_GT(man, 0);
  ASSERT_TRUE(f.LocatePerson(man));
  const QTextEdit* card = f.Page<TPersonCardPage>()->RichEdit5;
  const QString english = card->toPlainText();
  EXPECT_TRUE(english.contains(QLatin1String("Father:"))) << english.toStdString();
  EXPECT_TRUE(english.contains(QLatin1String("Wife:"))) << english.toStdString();
  for (const char* lower : {"wife:", "spouse:", "brother:", "sister:"})
    EXPECT_FALSE(english.contains(QLatin1String(lower))) << lower;

  f.ComboBox9->setCurrentIndex(f.ComboBox9->findText(QStringLiteral("Ukrainian.lng")));
  const QString father = f.Lang(QStringLiteral("Father"), QString());
  ASSERT_FALSE(father.isEmpty());
  EXPECT_EQ(f.CurrentPerson(), man);
  EXPECT_TRUE(card->toPlainText().contains(father + QLatin1Char(':'))) << card->toPlainText().toStdString();
}

}  // namespace
