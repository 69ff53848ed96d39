// Placeholder of the page of the duplicate search (RichEdit4) until its report is built: it occupies its
// tab.
// Replace this class (keep its name) with the real page; see PageRegistry.h.
#pragma once

#include "app/window/ReportPage.h"

class TDuplicatesPage : public TRichTextPage {
 public:
  TDuplicatesPage(TPageHost& host, QWidget* tab) : TRichTextPage(host, tab, QStringLiteral("RichEdit4"), QStringLiteral("Doublets")) {}
};
