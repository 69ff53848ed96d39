// The person card page of the main window on the sample tree: the card follows every move of the person
// list, its links move the list, "ID Gedcom" redraws it, and it saves as RTF with its picture.
#include "tests/gui/WindowFixture.h"
#include "app/core/Model.h"
#include "app/window/PersonCardPage.h"
#include "app/window/Unit1.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/PageSink.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextFragment>

#include <gtest/gtest.h>

#include <memory>

namespace {

using guitest::ByXref;
using guitest::kSample;

class PersonCardPage : public guitest::WindowFixture {
 protected:
  void SetUp() override {
    MakeWindow();
    ASSERT_NO_FATAL_FAILURE(Open(kSample, 20));
    form_->show();
    form_->PageControl1->setCurrentWidget(Page()->Tab());
    QApplication::processEvents();
  }
  TPersonCardPage* Page() const { return form_->Page<TPersonCardPage>(); }
  QString Text() const { return Page()->RichEdit5->toPlainText(); }
  // The viewport point in the middle of the link to person p.
  QPoint LinkPoint(std::int64_t p) const {
    QTextEdit* e = Page()->RichEdit5;
    for (QTextBlock b = e->document()->begin(); b.isValid(); b = b.next())
      for (auto it = b.begin(); !it.atEnd(); ++it) {
        const QTextFragment f = it.fragment();
        if (PersonOfAnchor(f.charFormat().anchorHref()) != p) continue;
        QTextCursor c(e->document());
        c.setPosition(f.position() + f.length() / 2);
        e->setTextCursor(c);
        e->ensureCursorVisible();
        return e->cursorRect(c).center();
      }
    return {-1, -1};
  }
  void Click(const QPoint& pos) {
    QWidget* vp = Page()->RichEdit5->viewport();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(pos), vp->mapToGlobal(QPointF(pos)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(pos), vp->mapToGlobal(QPointF(pos)), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(vp, &press);
    QApplication::sendEvent(vp, &release);
  }
};

TEST_F(PersonCardPage, FollowsEveryMoveOfTheList) {
  for (const char* x : {"@I1@", "@I5@", "@I20@", "@I40@"}) {
    const std::int64_t p = ByXref(x);
    ASSERT_TRUE(form_->LocatePerson(p));
    EXPECT_TRUE(Text().startsWith(TheModel().aIndi[size_t(p)].FIO1 + QLatin1Char('\n'))) << x;
  }
  Page()->CheckBoxIDgedcom->setChecked(true);
  EXPECT_TRUE(Text().contains(QStringLiteral("(@I40@ %1)").arg(ByXref("@I40@"))));
  Page()->CheckBoxIDgedcom->setChecked(false);
  EXPECT_FALSE(Text().contains(QStringLiteral("@I40@")));
}

TEST_F(PersonCardPage, ALinkClickMovesTheListAndTheCardFollows) {
  const std::int64_t son = ByXref("@I5@");
  const std::int64_t father = ByXref("@I1@");
  ASSERT_TRUE(form_->LocatePerson(son));
  const QPoint at = LinkPoint(father);
  ASSERT_GE(at.x(), 0);
  // The hand shows over a link and not over a label.
  QMouseEvent move(QEvent::MouseMove, QPointF(at), Page()->RichEdit5->viewport()->mapToGlobal(QPointF(at)), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(Page()->RichEdit5->viewport(), &move);
  EXPECT_EQ(Page()->RichEdit5->viewport()->cursor().shape(), Qt::PointingHandCursor);
  Page()->RichEdit5MouseMove(QPoint(2, 2));
  EXPECT_NE(Page()->RichEdit5->viewport()->cursor().shape(), Qt::PointingHandCursor);

  Click(at);
  EXPECT_EQ(form_->CurrentPerson(), father);
  EXPECT_TRUE(Text().startsWith(TheModel().aIndi[size_t(father)].FIO1 + QLatin1Char('\n')));
  // And back down through a child's line.
  const QPoint child = LinkPoint(son);
  ASSERT_GE(child.x(), 0);
  Click(child);
  EXPECT_EQ(form_->CurrentPerson(), son);
}

TEST_F(PersonCardPage, SavesTheCardWithItsPicture) {
  ASSERT_TRUE(form_->LocatePerson(ByXref("@I20@")));
  const QString rtf = dir_.filePath(QStringLiteral("card.rtf"));
  dialogs_->saves.push_back({rtf, 1});
  form_->ToolButton2Click();
  QFile f(rtf);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  EXPECT_TRUE(bytes.contains("{\\pict\\pngblip\\picw600\\pich220"));
  EXPECT_TRUE(bytes.contains("\\ul"));
}

}  // namespace
