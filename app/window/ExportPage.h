// Placeholder of the page of the CSV export of persons; its report-menu item only shows the page until its
// report is built: it occupies its tab.
// Replace this class (keep its name) with the real page; see PageRegistry.h.
#pragma once

#include "app/window/ReportPage.h"

class TExportPage : public TReportPage {
 public:
  using TReportPage::TReportPage;
  void ReportMenuItem() override {}
};
