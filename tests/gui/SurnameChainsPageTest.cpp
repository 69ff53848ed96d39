// The surname chains page of the main window: the chain options shown only for the whole chain, the
// report of the current person from the page's button and from "Выполнить", the paragraph spacing.
#include "tests/gui/WindowFixture.h"
#include "app/window/FormSettings.h"
#include "app/core/Model.h"
#include "app/window/SurnameChainsPage.h"
#include "app/window/Unit1.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/PageSink.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTextBlock>

#include <gtest/gtest.h>

#include <memory>

namespace {

using guitest::kSample;

class SurnameChainsPageTest : public guitest::WindowFixture {
 protected:
  void SetUp() override {
    MakeWindow();
    ASSERT_NO_FATAL_FAILURE(Open(kSample, 20));
    for (std::int64_t i = 1; i <= TheModel().PersonCount(); ++i) {
      if (TheModel().aIndi[std::size_t(i)].INDI == u"@I120@") {
        ASSERT_TRUE(form_->LocatePerson(i));
      }
    }
  }
  TSurnameChainsPage* Page() const { return form_->Page<TSurnameChainsPage>(); }
};

const QString kLines = QStringLiteral(
    "Ветров Андрей (Тверь 1955), Тимофей Ильич (Москва 1922-1984) (2/33; 1955-1922) (Тверь ; Москва )\n"
    "Северцева Ирина Павловна (Ветрова) (Серпухов 1927-1977), Павел Петрович (Серпухов 1895-1946), Пётр Петрович "
    "(Орёл 1860-1925), Пётр Васильевич (Москва 1834-1905), Василий Петрович (Рязань 1807-1852), Пётр Никитич "
    "(д. Ольховка, Алексинский уезд 1782-1823) (6/29; 1927-1782) (Серпухов ; Орёл ; Москва ; Рязань ; д. Ольховка, "
    "Алексинский уезд )");

TEST_F(SurnameChainsPageTest, ChainOptionsOnlyForTheWholeChain) {
  TSurnameChainsPage* p = Page();
  form_->show();
  EXPECT_EQ(p->RadioGroup15->ItemIndex(), 1);
  EXPECT_TRUE(p->ChainPanel->isVisibleTo(p->Tab()));
  p->RadioGroup15->SetItemIndex(0);
  p->RadioGroup15Click();
  EXPECT_FALSE(p->ChainPanel->isVisibleTo(p->Tab()));
  EXPECT_EQ(p->UpDown1->Position(), 2);
  EXPECT_EQ(p->Edit8->text(), QStringLiteral("2"));
  for (QWidget* w : std::initializer_list<QWidget*>{p->RadioGroup15, p->CheckBox28, p->CheckBox29, p->CheckBox27,
                                                    p->CheckBox69, p->CheckBox50, p->CheckBox68, p->CheckBox31,
                                                    p->CheckBox26, p->CheckBox30, p->UpDown1, p->CheckBox40})
    EXPECT_TRUE(IsPersistedControl(w)) << w->objectName().toStdString();
}

TEST_F(SurnameChainsPageTest, ReportOfTheCurrentPersonFromTheButtonAndTheRunCommand) {
  TSurnameChainsPage* p = Page();
  p->SpeedButton24->click();
  EXPECT_TRUE(form_->IsCurrentPage(p->Tab()));
  EXPECT_EQ(p->RichEdit3->toPlainText(), kLines);
  EXPECT_TRUE(form_->ToolButton1->isEnabled());
  for (QTextBlock b = p->RichEdit3->document()->begin(); b.isValid(); b = b.next())
    EXPECT_EQ(b.blockFormat().topMargin(), 10);
  p->RichEdit3->clear();
  p->CheckBox68->setChecked(true);
  p->RadioGroup15->SetItemIndex(0);
  form_->ToolButton3Click();
  EXPECT_EQ(p->RichEdit3->toPlainText(), QStringLiteral("1-0. Ветров  (2/33; 1955-1922) (Тверь ; Москва )\n2-1. "
                                                        "Северцева  (6/29; 1927-1782) (Серпухов ; Орёл ; Москва ; "
                                                        "Рязань ; д. Ольховка, Алексинский уезд )"));
}

}  // namespace
