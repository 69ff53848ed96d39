// The group edit tools page: the dry run shows the protocol and leaves the file, the write run writes it
// (with its backup) and reads it again back on the same person, the page's handlers, the question before a
// database is written, and a file type without tools.
#include "tests/gui/WindowFixture.h"
#include "app/core/Model.h"
#include "app/window/ToolsPage.h"
#include "app/window/Unit1.h"
#include "sources/Unit2.h"
#include "tools/At4Synth.h"
#include "tools/At5Synth.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

class ToolsPageTest : public guitest::WindowFixture {
 protected:
  void SetUp() override {
    MakeWindow();
    path_ = dir_.filePath(QStringLiteral("tree.ged"));
    ASSERT_TRUE(QFile::copy(guitest::kSample, path_));
    QFile::setPermissions(path_, QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_NO_FATAL_FAILURE(Open(path_, 5));
  }
  TToolsPage* Page() const { return form_->Page<TToolsPage>(); }
  QByteArray Bytes() const {
    QFile f(path_);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  QString path_;
};

TEST_F(ToolsPageTest, DryRunThenWriteRun) {
  TToolsPage* p = Page();
  p->ComboBox4->setCurrentIndex(gtSurnameCase);
  EXPECT_EQ(p->PageControl3->currentIndex(), 2);
  const QByteArray before = Bytes();
  const std::int64_t person = form_->CurrentPerson();
  p->Button1->click();
  const QString dry = p->Memo3->toPlainText();
  EXPECT_TRUE(dry.startsWith(QStringLiteral("Эмуляция изменения данных"))) << dry.toStdString();
  EXPECT_EQ(Bytes(), before);
  p->Button5->click();
  const QString wet = p->Memo3->toPlainText();
  EXPECT_TRUE(wet.startsWith(QStringLiteral("Изменение данных в ") + path_));
  EXPECT_EQ(dry.section(u'\n', 1), wet.section(u'\n', 1));
  EXPECT_NE(Bytes(), before);
  EXPECT_TRUE(QFile::exists(dir_.filePath(QStringLiteral("tree.ged.~1"))));
  EXPECT_EQ(form_->CurrentPerson(), person);
}

TEST_F(ToolsPageTest, Handlers) {
  TToolsPage* p = Page();
  p->PageControl3->setCurrentIndex(3);
  EXPECT_EQ(p->ComboBox4->currentIndex(), 3);
  EXPECT_TRUE(p->Panel30->isHidden());
  p->ComboBox4->setCurrentIndex(0);
  EXPECT_FALSE(p->Panel30->isHidden());
  for (int i = 0; i <= 8; ++i) {
    p->RadioGroup14->SetItemIndex(i);
    p->RadioGroup14Click();
    EXPECT_EQ(p->CheckBox56->isEnabled(), i == 2 || i == 3 || i == 4 || i == 7) << i;
  }
  EXPECT_EQ(p->ComboBox5->count(), 6);
  p->SpeedButton41Click();
  EXPECT_EQ(p->RadioGroup14->ItemIndex(), 7);
  EXPECT_EQ(p->PageControl3->currentIndex(), 0);
  p->PageControl4->setCurrentIndex(0);
  p->PopupMenu9Popup();
  EXPECT_FALSE(p->N6->menuAction()->isVisible());
  p->PageControl4->setCurrentIndex(2);
  p->PopupMenu9Popup();
  EXPECT_TRUE(p->N6->menuAction()->isVisible());
}

TEST_F(ToolsPageTest, DatabaseWriteAsksFirstAndNoKeepsTheFile) {
  const QString at5 = dir_.filePath(QStringLiteral("tree.at5"));
  at5synth::WriteAt5(at5synth::MakeTree(30), at5.toStdString(), true);
  form_->OpenDataFiles(at5);
  ASSERT_GT(TheModel().PersonCount(), 5);
  TToolsPage* p = Page();
  EXPECT_EQ(p->ComboBox5->count(), 4);
  p->ComboBox4->setCurrentIndex(gtSurnameCase);
  QFile f(at5);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray before = f.readAll();
  f.close();
  p->Memo3->setPlainText(QStringLiteral("old"));
  form_->OffscreenAnswer = false;
  p->Button5->click();
  EXPECT_EQ(p->Memo3->toPlainText(), QStringLiteral("old"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), before);
  f.close();
  form_->OffscreenAnswer = true;
  p->Button5->click();
  EXPECT_TRUE(p->Memo3->toPlainText().contains(QStringLiteral("Всего изменений в значениях")));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_NE(f.readAll(), before);
}

TEST_F(ToolsPageTest, At4DryRunThenWriteRunAfterTheQuestion) {
  const QString at4 = dir_.filePath(QStringLiteral("tree.at4"));
  {
    TDataModule2 engine;  // keeps the engine started while the file is written
    at4synth::WriteAt4(at4synth::MakeTree(30), at4.toStdString(), "at4page");
  }
  form_->OpenDataFiles(at4);
  ASSERT_GT(TheModel().PersonCount(), 5);
  TToolsPage* p = Page();
  p->ComboBox4->setCurrentIndex(gtSurnameCase);
  const auto bytes = [&at4] {
    QFile f(at4);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  };
  const QByteArray before = bytes();
  const std::int64_t person = form_->CurrentPerson();
  p->Button1->click();
  const QString dry = p->Memo3->toPlainText();
  EXPECT_TRUE(dry.startsWith(QStringLiteral("Эмуляция изменения данных"))) << dry.toStdString();
  EXPECT_TRUE(dry.contains(QStringLiteral("Всего изменений в значениях"))) << dry.toStdString();
  EXPECT_EQ(bytes(), before);
  form_->OffscreenAnswer = false;
  p->Button5->click();
  EXPECT_EQ(p->Memo3->toPlainText(), dry);
  EXPECT_EQ(bytes(), before);
  form_->OffscreenAnswer = true;
  p->Button5->click();
  const QString wet = p->Memo3->toPlainText();
  EXPECT_TRUE(wet.startsWith(QStringLiteral("Изменение данных в ") + at4)) << wet.toStdString();
  EXPECT_EQ(dry.section(u'\n', 1), wet.section(u'\n', 1));
  EXPECT_NE(bytes(), before);
  // Read again, on the same person, with the new names.
  EXPECT_EQ(form_->CurrentPerson(), person);
  const TINDI& q = TheModel().aIndi[std::size_t(person)];
  EXPECT_EQ(q.SURN1, q.SURN1.toUpper());
  // The next dry run finds nothing more to change.
  p->Button1->click();
  EXPECT_TRUE(p->Memo3->toPlainText().contains(QStringLiteral("Всего изменений в значениях: 0")));
}

TEST_F(ToolsPageTest, TheProtocolIsInSightAtTheStartSize) {
  // The window at its own start size, on the tools page: the protocol shows a good part of itself
  // without scrolling the page.
  form_ = std::make_unique<TForm1>();
  form_->show();
  TToolsPage* p = Page();
  form_->ShowPage(p->Tab());
  QCoreApplication::processEvents();
  const QRect seen = p->Memo3->visibleRegion().boundingRect();
  EXPECT_GE(seen.height(), 200) << form_->width() << "x" << form_->height();
  EXPECT_GE(seen.width(), 120);
}

TEST_F(ToolsPageTest, OtherFileTypesDoNothing) {
  form_->Edit2->setText(dir_.filePath(QStringLiteral("tree.txt")));
  Page()->Memo3->setPlainText(QStringLiteral("old"));
  Page()->Button1->click();
  Page()->Button5->click();
  EXPECT_EQ(Page()->Memo3->toPlainText(), QStringLiteral("old"));
}

}  // namespace
