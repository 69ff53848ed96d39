// The page of the problem detector ("Детектор проблем"): the checks to run with their limits (group
// "Проверять события"), "Требующие уточнений" and "Только фаворитов", and the findings in RichEdit1.
// The page reads its controls into TDetectorOptions and runs the headless detector (app/reports/Detector.h)
// as a long run: Open, Reload and Run are refused meanwhile, "Прервать" and Esc stop it before the next
// person; the pane shows the findings when the run ends. Printing and saving are the rich-text pages'
// ("DetectorProblems").
#pragma once

#include "app/reports/Detector.h"
#include "app/window/ReportPage.h"

#include <vector>

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

  // The option control of the component `name` (a name of DetectorControls(): "Check1".."Check22",
  // "Spin091".."Spin141", "CheckBox7", "CheckBox11"); null for any other name or before Build().
  QWidget* Control(const QString& name) const;
  QCheckBox* Box(const QString& name) const;
  QSpinBox* Spin(const QString& name) const;
  QCheckBox* Check(int n) const;  // check box n of 1..kDetectorChecks

  QToolButton* SpeedButton11 = nullptr;
  platform::TRichEdit* RichEdit1 = nullptr;

 private:
  // One control per entry of DetectorControls(), in its order: the table is the only list of the options.
  std::vector<QWidget*> controls_;
};
