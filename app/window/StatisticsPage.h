// The page of the statistics chart ("Статистика"): grouping, event, year range, name masks, sex and the
// scale; the bars drawn by our bar chart widget Chart1 with click labels and the undated count below;
// printed on a landscape page and saved as a picture.
#pragma once

#include "app/reports/Statistics.h"
#include "app/window/ReportPage.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QScrollArea>
#include <QSpinBox>
#include <QToolButton>

#include "platform/qt/BarChart.h"
#include "platform/qt/Controls.h"

class TStatisticsPage : public TReportPage {
 public:
  using TReportPage::TReportPage;
  void Build() override;
  void Run() override { SpeedButton27Click(); }
  void Print() override;
  void Save() override;

  void SpeedButton27Click();  // "Создать"
  void StatGedcom();
  void SpinEdit4Change();     // the scale
  void RadioGroup1Click();    // the chart back to the width of its area

  TStatOptions Options() const;

  QToolButton* SpeedButton27 = nullptr;
  platform::TRadioGroup *RadioGroup2 = nullptr, *RadioGroup1 = nullptr, *RadioGroup3 = nullptr;
  QCheckBox *CheckBox35 = nullptr, *CheckBox36 = nullptr, *CheckBox37 = nullptr, *CheckBox38 = nullptr;
  QSpinBox *SpinEdit2 = nullptr, *SpinEdit3 = nullptr, *SpinEdit4 = nullptr;
  QLineEdit *Edit11 = nullptr, *Edit12 = nullptr;
  QScrollArea* ScrollBox3 = nullptr;
  platform::TBarChart* Chart1 = nullptr;
};
