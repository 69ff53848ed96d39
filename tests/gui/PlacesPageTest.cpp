// The place report page of the main window: the place list after a load, both kinds of report, the map
// search through a fake opener, and "Выполнить" doing nothing here.
#include "tests/gui/WindowFixture.h"
#include "app/window/FormSettings.h"
#include "app/core/Model.h"
#include "app/core/PersonList.h"
#include "app/window/PlacesPage.h"
#include "app/window/Unit1.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/PageSink.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using guitest::kSample;

class PlacesPageTest : public guitest::WindowFixture {
 protected:
  void SetUp() override {
    MakeWindow();
    ASSERT_NO_FATAL_FAILURE(Open(kSample, 20));
    Page()->SetUrlOpener([this](const QUrl& url) {
      opened_.push_back(url);
      return true;
    });
  }
  TPlacesPage* Page() const { return form_->Page<TPlacesPage>(); }

  std::vector<QUrl> opened_;
};

TEST_F(PlacesPageTest, PlaceListOfTheLoadedTree) {
  TPlacesPage* p = Page();
  QStringList items;
  for (int i = 0; i < p->ComboBox13->count(); ++i) items << p->ComboBox13->itemText(i);
  EXPECT_EQ(items, CollectPlaces(TheModel()));
  EXPECT_EQ(p->ComboBox13->currentIndex(), 0);
  EXPECT_TRUE(p->RadioButton1->isChecked());
  EXPECT_TRUE(p->CheckBox76->isChecked());
  EXPECT_EQ(p->SpinEdit15->maximum(), 2050);
  for (QWidget* w : std::initializer_list<QWidget*>{p->RadioButton1, p->RadioButton2, p->CheckBox75, p->CheckBox76,
                                                    p->CheckBox77, p->CheckBox78, p->SpinEdit15, p->SpinEdit16})
    EXPECT_TRUE(IsPersistedControl(w)) << w->objectName().toStdString();
}

TEST_F(PlacesPageTest, SurnamesAndResidentsOfAPlaceAndTheMap) {
  TPlacesPage* p = Page();
  const QString tula = QStringLiteral("Тула");
  p->ComboBox13->setCurrentIndex(p->ComboBox13->findText(tula));
  ASSERT_EQ(p->ComboBox13->currentText(), tula);
  p->Button15->click();
  TPlaceOptions o;
  o.Place = tula;
  EXPECT_EQ(p->RichEdit6->toPlainText(), PlaceReportText(PlaceEntries(TheModel(), o), false));
  EXPECT_TRUE(p->RichEdit6->toPlainText().contains(QStringLiteral(", ")));
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0], PlaceMapUrl(tula));
  EXPECT_TRUE(opened_[0].toEncoded().endsWith("q=%D0%A2%D1%83%D0%BB%D0%B0"));

  p->RadioButton2->setChecked(true);
  p->CheckBox76->setChecked(false);
  p->Button15->click();
  o.Residents = true;
  EXPECT_EQ(p->RichEdit6->toPlainText(), PlaceEntries(TheModel(), o).join(u'\n'));
  EXPECT_EQ(opened_.size(), 1u);
}

TEST_F(PlacesPageTest, RunCommandDoesNothingHere) {
  TPlacesPage* p = Page();
  form_->ShowPage(p->Tab());
  form_->ToolButton3Click();
  EXPECT_TRUE(p->RichEdit6->toPlainText().isEmpty());
  EXPECT_TRUE(opened_.empty());
}

}  // namespace
