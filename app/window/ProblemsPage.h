// The page of the problem detector ("Детектор проблем"): the checks to run with their limits (group
// "Проверять события"), "Требующие уточнений" and "Только фаворитов", and the findings in RichEdit1.
// The page reads its controls into TDetectorOptions and runs the headless detector (app/reports/Detector.h)
// as a long run: Open, Reload and Run are refused meanwhile, "Прервать" and Esc stop it before the next
// person; the pane shows the findings when the run ends. Printing and saving are the rich-text pages'
// ("DetectorProblems").
#pragma once

#include "app/reports/Detector.h"
#include "app/window/ReportPage.h"

#include <array>

class QCheckBox;
class QSpinBox;
class QToolButton;
namespace platform {
class TRichEdit;
}

class TProblemsPage : public TRichTextPage {
 public:
  TProblemsPage(TPageHost& host, QWidget* tab)
      : TRichTextPage(host, tab, QStringLiteral("RichEdit1"), QStringLiteral("DetectorProblems")) {}
  void Build() override;
  void Run() override { DetectorGedcom(); }

  void SpeedButton11Click();  // "Создать": shows the page and runs the detector
  void DetectorGedcom();      // the run over every person, into RichEdit1
  TDetectorOptions Options() const;  // the controls' state

  QToolButton* SpeedButton11 = nullptr;
  std::array<QCheckBox*, 23> Check{};  // Check[1] .. Check[22]
  QSpinBox *Spin091 = nullptr, *Spin092 = nullptr, *Spin101 = nullptr, *Spin102 = nullptr, *Spin111 = nullptr,
           *Spin112 = nullptr, *Spin121 = nullptr, *Spin131 = nullptr, *Spin141 = nullptr;
  QCheckBox *CheckBox7 = nullptr, *CheckBox11 = nullptr;
  platform::TRichEdit* RichEdit1 = nullptr;
};
