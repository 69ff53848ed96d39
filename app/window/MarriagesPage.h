// Placeholder of the page of the marriage list until its report is built: it occupies its tab.
// Replace this class (keep its name) with the real page; see PageRegistry.h.
#pragma once

#include "app/window/ReportPage.h"

class TMarriagesPage : public TReportPage {
 public:
  using TReportPage::TReportPage;
};
