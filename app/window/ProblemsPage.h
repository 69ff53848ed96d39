// Placeholder of the page of the problem detector (RichEdit1) until its report is built: it occupies its
// tab.
// Replace this class (keep its name) with the real page; see PageRegistry.h.
#pragma once

#include "app/window/ReportPage.h"

class TProblemsPage : public TRichTextPage {
 public:
  TProblemsPage(TPageHost& host, QWidget* tab) : TRichTextPage(host, tab, QStringLiteral("RichEdit1"), QStringLiteral("DetectorProblems")) {}
};
