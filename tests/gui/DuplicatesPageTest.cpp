// The duplicate search page of the main window: its controls and their saving, a search of the planted
// duplicates from the page's button and from "Выполнить", the gauge, and the output commands.
#include "tests/gui/WindowFixture.h"
#include "app/window/FormSettings.h"
#include "app/core/Model.h"
#include "app/window/DuplicatesPage.h"
#include "app/window/Unit1.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/PageSink.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

class DuplicatesPageTest : public guitest::WindowFixture {
 protected:
  void SetUp() override { MakeWindow(); }
  void Open(const QString& file) { WindowFixture::Open(file, 0); }
  TDuplicatesPage* Page() const { return form_->Page<TDuplicatesPage>(); }
  QString Text() const { return Page()->RichEdit4->toPlainText(); }
};

const QString kPlanted = QStringLiteral(TREVOLAN_SOURCE_DIR "/tests/data/reports/duplicates/planted.ged");

TEST_F(DuplicatesPageTest, ControlsWithTheirDefaultsAreSaved) {
  TDuplicatesPage* p = Page();
  ASSERT_NE(p, nullptr);
  struct Weight {
    QCheckBox* check;
    QSpinBox* spin;
    int value;
  };
  for (const Weight& w : {Weight{p->CheckBox41, p->SpinEdit6, 10}, Weight{p->CheckBox48, p->SpinEdit13, 5},
                          Weight{p->CheckBox46, p->SpinEdit11, 10}, Weight{p->CheckBox42, p->SpinEdit7, 10},
                          Weight{p->CheckBox43, p->SpinEdit8, 7}, Weight{p->CheckBox44, p->SpinEdit9, 6},
                          Weight{p->CheckBox45, p->SpinEdit10, 5}}) {
    SCOPED_TRACE(w.spin->objectName().toStdString());
    EXPECT_TRUE(w.check->isChecked());
    EXPECT_EQ(w.spin->value(), w.value);
    EXPECT_EQ(w.spin->minimum(), 1);
    EXPECT_EQ(w.spin->maximum(), 10);
    EXPECT_TRUE(IsPersistedControl(w.check));
    EXPECT_TRUE(IsPersistedControl(w.spin));
  }
  EXPECT_EQ(p->SpinEdit12->value(), 75);
  EXPECT_EQ(p->SpinEdit12->minimum(), 10);
  EXPECT_EQ(p->SpinEdit12->singleStep(), 5);
  EXPECT_EQ(p->RadioGroup5->ItemIndex(), 0);
  EXPECT_TRUE(p->RadioButton3->isChecked());
  for (QWidget* w : std::initializer_list<QWidget*>{p->CheckBox73, p->CheckBox74, p->RadioGroup5, p->SpinEdit12,
                                                    p->CheckBox47, p->CheckBox49, p->RadioButton3, p->RadioButton4,
                                                    p->RadioButton5, p->RadioButton6})
    EXPECT_TRUE(IsPersistedControl(w)) << w->objectName().toStdString();
  EXPECT_EQ(form_->findChild<QWidget*>(QStringLiteral("RichEdit4")), p->RichEdit4);
}

TEST_F(DuplicatesPageTest, SearchFromTheButtonShowsThePageAndTheMatches) {
  Open(kPlanted);
  TDuplicatesPage* p = Page();
  p->CheckBox73->setChecked(false);
  p->CheckBox74->setChecked(false);
  p->RadioButton6->setChecked(true);
  p->SpeedButton35->click();
  EXPECT_TRUE(form_->IsCurrentPage(p->Tab()));
  const QString text = Text();
  EXPECT_TRUE(text.startsWith(QStringLiteral("Соколов Иван Петрович (12.03.1850-1910)\n - Соколов Иван Петрович "
                                             "(12.03.1850-) (10+10+7+6+1=34/38) = 90.8%\n")))
      << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral(" = 91.9%")));
  EXPECT_TRUE(text.contains(QStringLiteral("\nTime: ")));
  EXPECT_TRUE(p->Gauge2->isHidden());
  EXPECT_TRUE(form_->ToolButton1->isEnabled());
  EXPECT_TRUE(form_->ToolButton2->isEnabled());
  EXPECT_FALSE(form_->Busy());
}

TEST_F(DuplicatesPageTest, RunCommandSearchesForTheCurrentPerson) {
  Open(kPlanted);
  TDuplicatesPage* p = Page();
  p->CheckBox73->setChecked(false);
  p->CheckBox74->setChecked(false);
  std::int64_t third = 0;
  for (std::int64_t i = 1; i <= TheModel().PersonCount(); ++i)
    if (TheModel().aIndi[std::size_t(i)].INDI == u"@I3@") third = i;
  ASSERT_TRUE(form_->LocatePerson(third));
  form_->ShowPage(p->Tab());
  form_->ToolButton3Click();
  // The current person is paired with the persons before him too.
  const QStringList lines = Text().split(u'\n');
  ASSERT_EQ(lines.size(), 4);
  EXPECT_EQ(lines[0], QStringLiteral("Соколов Иван Петрович (1853-)"));
  EXPECT_TRUE(lines[1].endsWith(QStringLiteral(" = 86.1%")));
  EXPECT_TRUE(lines[2].endsWith(QStringLiteral(" = 86.1%")));
  EXPECT_TRUE(lines[3].startsWith(QStringLiteral("Time: ")));
}

TEST_F(DuplicatesPageTest, StopButtonEndsTheSearch) {
  Open(kPlanted);
  TDuplicatesPage* p = Page();
  p->RadioButton6->setChecked(true);
  p->CheckBox73->setChecked(false);
  p->CheckBox74->setChecked(false);
  // "Прервать" is pressed while the search processes events (its first gauge step).
  QTimer::singleShot(0, form_.get(), [this] {
    ASSERT_TRUE(form_->ToolButton4->isEnabled());
    form_->ToolButton4->click();
  });
  p->SpeedButton35->click();
  EXPECT_TRUE(Text().startsWith(QStringLiteral("Time: "))) << Text().toStdString();  // no pair written
  EXPECT_FALSE(form_->ToolButton4->isEnabled());
  EXPECT_FALSE(form_->Busy());
  // The next search runs in full.
  p->SpeedButton35->click();
  EXPECT_TRUE(Text().contains(QStringLiteral(" = 90.8%")));
}

TEST_F(DuplicatesPageTest, SavesThePaneAsRichText) {
  Open(kPlanted);
  TDuplicatesPage* p = Page();
  p->RadioButton6->setChecked(true);
  p->SpinEdit12->setValue(45);
  p->SpeedButton35->click();
  const QString file = dir_.filePath(QStringLiteral("dupl.rtf"));
  dialogs_->saves.push_back({file, 1});
  p->Save();
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_TRUE(f.readAll().startsWith("{\\rtf1"));
}

}  // namespace
