// Placeholder of the group edit tools page until it is built: it occupies its tab; at show it puts its
// tool page control PageControl3 and tool list ComboBox4 on their first entries when they are there.
// Its report-menu item only shows the page.
// Replace this class (keep its name) with the real page; see PageRegistry.h.
#pragma once

#include <QComboBox>
#include <QTabWidget>

#include "app/window/ReportPage.h"

class TToolsPage : public TReportPage {
 public:
  using TReportPage::TReportPage;
  void ReportMenuItem() override {}
  void FormShow() override {
    if (auto* pc3 = Tab()->findChild<QTabWidget*>(QStringLiteral("PageControl3")))
      if (pc3->count() > 0) pc3->setCurrentIndex(0);
    if (auto* cb4 = Tab()->findChild<QComboBox*>(QStringLiteral("ComboBox4")))
      if (cb4->count() > 0) cb4->setCurrentIndex(0);
  }
};
