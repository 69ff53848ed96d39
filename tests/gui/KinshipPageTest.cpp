// The kinship detector page of the main window on the sample tree: choosing the persons, the search from
// the page and from the toolbar, the link list, the three views, the zoom, printing and saving by sub-page.
#include "tests/gui/WindowFixture.h"
#include "app/core/Model.h"
#include "app/window/KinshipPage.h"
#include "app/window/Unit1.h"
#include "platform/qt/DataGrid.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/PageSink.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

using guitest::ByXref;
using guitest::kSample;

class KinshipPage : public guitest::WindowFixture {
 protected:
  void SetUp() override {
    MakeWindow();
    ASSERT_NO_FATAL_FAILURE(Open(kSample, 20));
  }
  TKinshipPage* Page() const { return form_->Page<TKinshipPage>(); }
  // Chooses the two persons with the page's buttons, as a user does from the list.
  void Choose(const char* first, const char* second) {
    ASSERT_TRUE(form_->LocatePerson(ByXref(first)));
    Page()->SpeedButton15->click();
    ASSERT_TRUE(form_->LocatePerson(ByXref(second)));
    Page()->SpeedButton16->click();
  }
  QStringList Items() const {
    QStringList out;
    for (int i = 0; i < Page()->ComboBox3->count(); ++i) out << Page()->ComboBox3->itemText(i);
    return out;
  }
};

TEST_F(KinshipPage, ChoosesThePersonsByButtons) {
  TKinshipPage* p = Page();
  Choose("@I5@", "@I3@");
  EXPECT_EQ(p->FirstPerson(), ByXref("@I5@"));
  EXPECT_EQ(p->Edit6->text(), TheModel().aIndi[size_t(ByXref("@I5@"))].FIO1);
  EXPECT_EQ(p->Edit7->text(), TheModel().aIndi[size_t(ByXref("@I3@"))].FIO1);
  p->SpeedButton17->click();
  EXPECT_EQ(p->FirstPerson(), ByXref("@I3@"));
  EXPECT_EQ(p->SecondPerson(), ByXref("@I5@"));
  p->SpeedButton18->click();
  EXPECT_EQ(p->FirstPerson(), 0);
  EXPECT_TRUE(p->Edit6->text().isEmpty());
  p->SpeedButton19->click();
  EXPECT_EQ(p->SecondPerson(), 0);
  // The report menu's item takes the current person as the first one and does not search.
  form_->LocatePerson(ByXref("@I9@"));
  p->ReportMenuItem();
  EXPECT_EQ(p->FirstPerson(), ByXref("@I9@"));
  EXPECT_EQ(p->ComboBox3->count(), 0);
  // Drops are taken from the person list only.
  QMimeData rows;
  rows.setData(QLatin1String(platform::TDBGrid::kDragMime), "0");
  EXPECT_TRUE(TKinshipPage::AcceptsPersonDrag(form_->DBGrid1, &rows));
  EXPECT_FALSE(TKinshipPage::AcceptsPersonDrag(p->TreeView3, &rows));
  QMimeData text;
  text.setText(QStringLiteral("x"));
  EXPECT_FALSE(TKinshipPage::AcceptsPersonDrag(form_->DBGrid1, &text));
  EXPECT_TRUE(p->Edit6->acceptDrops());
}

TEST_F(KinshipPage, SearchesAndShowsTheLinkThreeWays) {
  TKinshipPage* p = Page();
  p->CheckBox25->setChecked(true);
  Choose("@I23@", "@I40@");
  p->SpeedButton14->click();
  EXPECT_EQ(form_->PageControl1->currentWidget(), p->Tab());
  ASSERT_EQ(p->ComboBox3->count(), 2);
  EXPECT_TRUE(p->ComboBox3->itemText(0).startsWith(QStringLiteral("Северцев Андрей Петрович")));
  EXPECT_EQ(p->RichEdit2->toPlainText(),
            QStringLiteral("Северцев Иван Андреевич 1918-1971 > Северцев Андрей Петрович 1889-1933 Отец > Северцев Пётр "
                           "Андреевич 1919-2000 Брат > Северцев Никита Петрович 1948 Племянник"));
  EXPECT_EQ(p->TreeView3->topLevelItemCount(), 1);
  EXPECT_EQ(p->TreeView3->topLevelItem(0)->childCount(), 2);
  EXPECT_EQ(p->Picture().size(), QSize(600, 450));
  ASSERT_FALSE(p->Image5->pixmap().isNull());
  EXPECT_EQ(p->Image5->pixmap().size(), QSize(600, 450));
  EXPECT_TRUE(form_->ToolButton1->isEnabled());
  // The second link: through the mother.
  p->ComboBox3->setCurrentIndex(1);
  p->ComboBox3Change(1);
  EXPECT_TRUE(p->RichEdit2->toPlainText().contains(QStringLiteral("Звягинцева")));
  EXPECT_EQ(p->LinkChain().count(QLatin1Char(';')), 4);
  // Zoom.
  p->ComboBox2->setCurrentText(QStringLiteral("50%"));
  EXPECT_EQ(p->Image5->pixmap().size(), QSize(300, 225));
  p->ComboBox2->setCurrentText(QStringLiteral("1000%"));
  EXPECT_EQ(p->Image5->pixmap().size(), QSize(2400, 1800)) << "at most 400 %";
}

TEST_F(KinshipPage, ToolbarRunUsesTheCurrentPersonForAnEmptyField) {
  TKinshipPage* p = Page();
  form_->PageControl1->setCurrentWidget(p->Tab());
  form_->LocatePerson(ByXref("@I1@"));
  p->SpeedButton15->click();
  form_->LocatePerson(ByXref("@I2@"));
  form_->ToolButton3Click();
  EXPECT_EQ(Items(), QStringList{QStringLiteral("Not found")}) << "husband and wife: no blood link";
  EXPECT_TRUE(p->Picture().isNull());
  // Through the marriage.
  p->CheckBox15->setChecked(false);
  form_->ToolButton3Click();
  ASSERT_FALSE(Items().isEmpty());
  EXPECT_EQ(Items().front(), QStringLiteral("Вариант 1 (1)"));
  EXPECT_EQ(p->SubPage(), 2) << "the search over all links shows its picture";
  EXPECT_FALSE(p->Picture().isNull());
  EXPECT_TRUE(p->SpeedButton14->isEnabled()) << "the buttons are enabled again after the search";
  EXPECT_FALSE(form_->Busy());
}

TEST_F(KinshipPage, PrintsAndSavesWhatTheSubPageShows) {
  TKinshipPage* p = Page();
  Choose("@I5@", "@I3@");
  p->SpeedButton14->click();
  // Picture.
  p->PageControl2->setCurrentIndex(2);
  const QString png = dir_.filePath(QStringLiteral("link.png"));
  dialogs_->saves.push_back({png, 3});
  form_->ToolButton2Click();
  QImage saved(png);
  EXPECT_EQ(saved.size(), p->Picture().size());
  dialogs_->prints.push_back(true);
  form_->ToolButton1Click();
  EXPECT_FALSE(sink_->images.empty());
  // Text.
  p->PageControl2->setCurrentIndex(1);
  const QString rtf = dir_.filePath(QStringLiteral("link.rtf"));
  dialogs_->saves.push_back({rtf, 1});
  form_->ToolButton2Click();
  QFile f(rtf);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_TRUE(f.readAll().startsWith("{\\rtf1"));
  // Tree as text.
  p->PageControl2->setCurrentIndex(0);
  const QString txt = dir_.filePath(QStringLiteral("link.txt"));
  dialogs_->saves.push_back({txt, 1});
  form_->ToolButton2Click();
  QFile t(txt);
  ASSERT_TRUE(t.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromUtf8(t.readAll()).count(QStringLiteral("\r\n")), 3);
  // The tree's picture cut for portrait pages, from the page's own save drop-down.
  dialogs_->saves.push_back({dir_.filePath(QStringLiteral("tree.bmp")), 2});
  p->MenuItem3->trigger();
  EXPECT_TRUE(QFile::exists(dir_.filePath(QStringLiteral("tree1.bmp"))));
  EXPECT_FALSE(QFile::exists(dir_.filePath(QStringLiteral("tree2.bmp")))) << "three rows fit on one page";
}

// A long line of couples: the search over all links takes long enough to be stopped from the toolbar.
TEST_F(KinshipPage, StopEndsTheSearchWhileTheButtonsAreDisabled) {
  QByteArray ged = "0 HEAD\r\n1 CHAR UTF-8\r\n";
  const int n = 3000;
  for (int i = 1; i <= n; ++i) {
    ged += "0 @I" + QByteArray::number(2 * i - 1) + "@ INDI\r\n1 NAME H" + QByteArray::number(i) + " /Line/\r\n1 SEX M\r\n";
    ged += "1 FAMS @F" + QByteArray::number(i) + "@\r\n";
    if (i > 1) ged += "1 FAMC @F" + QByteArray::number(i - 1) + "@\r\n";
    ged += "0 @I" + QByteArray::number(2 * i) + "@ INDI\r\n1 NAME W" + QByteArray::number(i) + " /Wife/\r\n1 SEX F\r\n";
    ged += "1 FAMS @F" + QByteArray::number(i) + "@\r\n";
  }
  for (int i = 1; i <= n; ++i) {
    ged += "0 @F" + QByteArray::number(i) + "@ FAM\r\n1 HUSB @I" + QByteArray::number(2 * i - 1) + "@\r\n1 WIFE @I" +
           QByteArray::number(2 * i) + "@\r\n";
    if (i < n) ged += "1 CHIL @I" + QByteArray::number(2 * i + 1) + "@\r\n";
  }
  ged += "0 TRLR\r\n";
  const QString path = dir_.filePath(QStringLiteral("line.ged"));
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(ged);
  f.close();
  form_->OpenDataFiles(path);
  ASSERT_EQ(TheModel().PersonCount(), 2 * n);
  TKinshipPage* p = Page();
  Choose("@I1@", "@I6000@");
  p->CheckBox15->setChecked(false);
  p->SpinEdit14->setValue(100);
  bool disabled = false, stopEnabled = false;
  QTimer::singleShot(0, [&] {
    disabled = !p->SpeedButton14->isEnabled() && !p->SpeedButton15->isEnabled() && !p->ComboBox3->isEnabled();
    stopEnabled = form_->ToolButton4->isEnabled();
    form_->ToolButton4->click();
  });
  p->SpeedButton14->click();
  EXPECT_TRUE(disabled) << "the page's buttons are disabled while the search runs";
  EXPECT_TRUE(stopEnabled);
  EXPECT_TRUE(p->Kinship().Stopped);
  EXPECT_TRUE(p->SpeedButton14->isEnabled());
  EXPECT_FALSE(form_->Busy());
  EXPECT_EQ(Items(), QStringList{QStringLiteral("Not found")});
}

}  // namespace
