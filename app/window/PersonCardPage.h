// Placeholder of the page of the person card of the current person (RichEdit5) until its report is built: it
// occupies its tab.
// Replace this class (keep its name) with the real page; see PageRegistry.h.
#pragma once

#include "app/window/ReportPage.h"

class TPersonCardPage : public TRichTextPage {
 public:
  TPersonCardPage(TPageHost& host, QWidget* tab) : TRichTextPage(host, tab, QStringLiteral("RichEdit5"), QStringLiteral("Info")) {}
};
