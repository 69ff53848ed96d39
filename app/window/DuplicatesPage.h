// The duplicate search page: the fields to compare with their weights, the name comparison mode, the
// threshold, the sibling rule, the detail switch and who is searched; the matches in RichEdit4. The search
// itself is headless (app/reports/Duplicates.h); this page reads its controls into options, runs it as a
// long run (gauge Gauge2, "Прервать" live) and shows the result.
#pragma once

#include "app/reports/Duplicates.h"
#include "app/window/ReportPage.h"
#include "platform/qt/Controls.h"
#include "platform/qt/RichText.h"

#include <QCheckBox>
#include <QProgressBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QToolButton>

class TDuplicatesPage : public TRichTextPage {
 public:
  TDuplicatesPage(TPageHost& host, QWidget* tab)
      : TRichTextPage(host, tab, QStringLiteral("RichEdit4"), QStringLiteral("Doublets")) {}
  void Build() override;
  void Run() override { FindDoubleGedcom(); }

  void SpeedButton35Click();  // "Создать": shows the page and searches
  void FindDoubleGedcom();    // the search with the page's options
  TDuplicateOptions Options() const;

  QToolButton* SpeedButton35 = nullptr;
  QProgressBar* Gauge2 = nullptr;
  // Fields and weights (group "FieldsAnalys")
  QCheckBox *CheckBox41 = nullptr, *CheckBox48 = nullptr, *CheckBox46 = nullptr, *CheckBox42 = nullptr,
            *CheckBox43 = nullptr, *CheckBox44 = nullptr, *CheckBox45 = nullptr, *CheckBox73 = nullptr,
            *CheckBox74 = nullptr;
  QSpinBox *SpinEdit6 = nullptr, *SpinEdit13 = nullptr, *SpinEdit11 = nullptr, *SpinEdit7 = nullptr,
           *SpinEdit8 = nullptr, *SpinEdit9 = nullptr, *SpinEdit10 = nullptr;
  platform::TRadioGroup* RadioGroup5 = nullptr;  // "Разновидности ФИО"
  // Report content (group "ContentReport")
  QSpinBox* SpinEdit12 = nullptr;
  QCheckBox *CheckBox47 = nullptr, *CheckBox49 = nullptr;
  QRadioButton *RadioButton3 = nullptr, *RadioButton4 = nullptr, *RadioButton5 = nullptr, *RadioButton6 = nullptr;
  platform::TRichEdit* RichEdit4 = nullptr;
};
