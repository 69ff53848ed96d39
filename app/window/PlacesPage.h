// The place report page ("Жители"): the place list, the kind of report, the favourites and year filters
// and the map switch; the report in RichEdit6. The report is headless (app/reports/Places.h); this page
// reads its controls, shows the text and opens the map search through its opener (the desktop services;
// tests put a fake in its place). "Выполнить" does nothing here: the page runs from its own button.
#pragma once

#include "app/reports/Places.h"
#include "app/window/ReportPage.h"
#include "platform/qt/RichText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QToolButton>

class TPlacesPage : public TRichTextPage {
 public:
  TPlacesPage(TPageHost& host, QWidget* tab)
      : TRichTextPage(host, tab, QStringLiteral("RichEdit6"), QStringLiteral("PlacePers")) {}
  void Build() override;
  void FileLoaded() override;  // the places of the new tree, the first one chosen

  void Button15Click() { PlacePers(); }  // "Создать"
  void PlacePers();
  TPlaceOptions Options() const;
  void SetUrlOpener(TUrlOpener opener) { opener_ = std::move(opener); }

  QComboBox* ComboBox13 = nullptr;
  QRadioButton *RadioButton1 = nullptr, *RadioButton2 = nullptr;
  QCheckBox *CheckBox75 = nullptr, *CheckBox77 = nullptr, *CheckBox78 = nullptr, *CheckBox76 = nullptr;
  QSpinBox *SpinEdit15 = nullptr, *SpinEdit16 = nullptr;
  QPushButton* Button15 = nullptr;
  QToolButton *PrintButton = nullptr, *SaveButton = nullptr;
  platform::TRichEdit* RichEdit6 = nullptr;

 private:
  TUrlOpener opener_ = DesktopUrlOpener();
};
