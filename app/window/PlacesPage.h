// Placeholder of the page of the place report (RichEdit6) and its place list ComboBox13 until its report is
// built: it occupies its tab.
// Replace this class (keep its name) with the real page; see PageRegistry.h.
#pragma once

#include <QComboBox>

#include "app/core/Model.h"
#include "app/core/PersonList.h"
#include "app/window/ReportPage.h"

class TPlacesPage : public TRichTextPage {
 public:
  TPlacesPage(TPageHost& host, QWidget* tab) : TRichTextPage(host, tab, QStringLiteral("RichEdit6"), QStringLiteral("PlacePers")) {}
  void FileLoaded() override {
    auto* places = Tab()->findChild<QComboBox*>(QStringLiteral("ComboBox13"));
    if (!places) return;
    places->clear();
    places->addItems(CollectPlaces(host().model()));
    if (places->count() > 0) places->setCurrentIndex(0);
  }
};
