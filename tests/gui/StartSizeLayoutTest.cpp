// The window at the size it starts with: every page's controls are reachable without scrolling sideways
// (option rows wrap instead of widening the page), in Russian and in English.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>

#include <memory>

#include "app/window/Unit1.h"
#include "tests/gui/GuiTestApp.h"

namespace {

// The widgets of a page with a name, shown, that do not fit the page's width.
QStringList OutsideThePage(QWidget* tab) {
  QStringList out;
  for (QWidget* w : tab->findChildren<QWidget*>()) {
    if (w->objectName().isEmpty() || !w->isVisibleTo(tab) || w->objectName().startsWith(QLatin1String("qt_"))) continue;
    const QRect r(w->mapTo(tab, QPoint(0, 0)), w->size());
    if (r.left() < 0 || r.right() >= tab->width()) out << QStringLiteral("%1 %2..%3 of %4").arg(w->objectName()).arg(r.left()).arg(r.right()).arg(tab->width());
  }
  return out;
}

TEST(StartSize, EveryPageFitsWithoutSidewaysScrolling) {
  guitest::EnsureApp();
  QTemporaryDir dir;
  TForm1::SetProgramDir(dir.path());
  for (const bool english : {false, true}) {
    SCOPED_TRACE(english ? "English" : "Russian");
    if (english) {
      QDir(dir.path()).mkdir(QStringLiteral("LNG"));
      QFile::copy(QStringLiteral(TREVOLAN_SOURCE_DIR "/LNG/English.lng"), dir.filePath(QStringLiteral("LNG/English.lng")));
    }
    auto form = std::make_unique<TForm1>();
    form->show();  // at the size the window gives itself
    QCoreApplication::processEvents();
    auto* scroll = form->findChild<QScrollArea*>(QStringLiteral("ScrollReports"));
    ASSERT_NE(scroll, nullptr);
    QTabWidget* pages = form->PageControl1;
    for (int i = 0; i < pages->count(); ++i) {
      pages->setCurrentIndex(i);
      QCoreApplication::processEvents();
      SCOPED_TRACE(pages->tabText(i).toStdString());
      EXPECT_EQ(scroll->horizontalScrollBar()->maximum(), 0) << "page is wider than the window leaves: let its option rows wrap (platform::TFlowLayout)";
      const QStringList outside = OutsideThePage(pages->widget(i));
      EXPECT_TRUE(outside.isEmpty()) << outside.join(QStringLiteral("; ")).toStdString();
    }
    form.reset();
  }
  TForm1::SetProgramDir(QString());
}

}  // namespace
