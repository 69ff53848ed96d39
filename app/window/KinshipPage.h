// Placeholder of the kinship detector page until it is built: it occupies its tab and gives out what its
// sub-pages hold when they are there (PageControl2: the tree TreeView3, the text RichEdit2, the picture
// Image1). Its report-menu item only shows the page.
// Replace this class (keep its name) with the real page; see PageRegistry.h.
#pragma once

#include <QLabel>
#include <QTabWidget>
#include <QTreeWidget>

#include "app/charts/ChartOutput.h"
#include "app/window/SchemeTree.h"
#include "app/window/ReportPage.h"

class TKinshipPage : public TRichTextPage {
 public:
  TKinshipPage(TPageHost& host, QWidget* tab)
      : TRichTextPage(host, tab, QStringLiteral("RichEdit2"), QStringLiteral("LinkPersons")) {}
  void ReportMenuItem() override {}
  int SubPage() const {
    auto* pc2 = Tab()->findChild<QTabWidget*>(QStringLiteral("PageControl2"));
    return pc2 ? pc2->currentIndex() : -1;
  }
  void Print() override {
    const int sub = SubPage();
    if (sub == 0) {
      if (auto* t = Tab()->findChild<QTreeWidget*>(QStringLiteral("TreeView3")))
        PrintTree(TreeRowsOf(t), host().Dialogs(), host().Printer());
    } else if (sub == 2) {
      if (auto* img = Tab()->findChild<QLabel*>(QStringLiteral("Image1"))) host().PrintPicture(img->pixmap().toImage());
    } else {
      TRichTextPage::Print();
    }
  }
  void Save() override {
    const int sub = SubPage();
    if (sub == 0) {
      if (auto* t = Tab()->findChild<QTreeWidget*>(QStringLiteral("TreeView3"))) SaveTree(TreeRowsOf(t), host().Dialogs());
    } else if (sub == 2) {
      if (auto* img = Tab()->findChild<QLabel*>(QStringLiteral("Image1"))) host().SavePicture(img->pixmap().toImage());
    } else {
      TRichTextPage::Save();
    }
  }
};
