// Placeholder of the page of the surname chains (RichEdit3); "Выполнить" builds the ancestor list first
// until its report is built: it occupies its tab.
// Replace this class (keep its name) with the real page; see PageRegistry.h.
#pragma once

#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextEdit>

#include "app/charts/Ancestors.h"
#include "app/core/Model.h"
#include "app/window/ReportPage.h"

class TSurnameChainsPage : public TRichTextPage {
 public:
  TSurnameChainsPage(TPageHost& host, QWidget* tab) : TRichTextPage(host, tab, QStringLiteral("RichEdit3"), QStringLiteral("ListFamily")) {}
  void Run() override {
    const std::int64_t p = host().CurrentPerson();
    if (::FillTree(host().model(), host().Ancestors(), p > 0 ? QString::number(p) : QString(), host().model().LoadCount))
      host().OutputReady();
  }
  void FormShow() override {
    if (auto* re3 = Tab()->findChild<QTextEdit*>(QStringLiteral("RichEdit3"))) {
      QTextCursor c(re3->document());
      c.select(QTextCursor::Document);
      QTextBlockFormat f;
      f.setTopMargin(10);  // 150 twips at 96 pixels per inch
      c.mergeBlockFormat(f);
    }
  }
};
