// The fan chart page: its option controls, the build command, the zoomed display of the full-size chart
// in a scroll box (with panning by mouse), the colour panels, and printing and saving in one, two or
// four parts. The drawing and the output are headless (app/charts/FanChart*.h); this page reads the
// controls into options and shows the result.
#pragma once

#include "app/charts/Descendants.h"
#include "app/charts/FanChart.h"
#include "app/window/ReportPage.h"
#include "platform/qt/Canvas.h"
#include "platform/qt/Controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QScrollArea>
#include <QSpinBox>
#include <QToolButton>

class TFanImage;

class TFanChartPage : public TReportPage {
 public:
  using TReportPage::TReportPage;
  void Build() override;
  void FormShow() override;
  void Run() override { SpeedButton4Click(); }
  void Print() override { PrintFanChart(1); }
  void Save() override { SaveFanChart(1); }
  bool HasParts() const override { return true; }
  void PrintParts(int parts) override { PrintFanChart(parts); }
  void SaveParts(int parts) override { SaveFanChart(parts); }
  // The colours of the four panels, kept as "FanChartColors" in the settings.
  void LoadSettings(const platform::TIniFile& ini) override;
  void SaveSettings(platform::TIniFile& ini) override;
  // The zoom box's "fit to height" text follows the language.
  void LanguageChanged() override;
  // The chart of the tree read before goes.
  void FileLoaded() override;

  void SpeedButton4Click();          // "Создать": the ancestor or descendant list, the chart, its display
  bool FillTree2();                  // the descendant list of the current person; false: stopped
  void fanChart(int iType);          // 0 ancestors, 1 descendants
  void ReScaleFanChart();
  void PrintFanChart(int iCount);    // 1, 2 or 4 pages
  void SaveFanChart(int iCount);     // 1, 2 or 4 files
  void ComboBox1Change();
  void CheckBox88Click();
  void ComboBox7Change();
  void Panel13Click(QWidget* panel);
  void N13Click() { PrintFanChart(1); }
  void N21Click() { PrintFanChart(2); }
  void N41Click() { PrintFanChart(4); }
  void N14Click() { SaveFanChart(1); }
  void N22Click() { SaveFanChart(2); }
  void N42Click() { SaveFanChart(4); }
  const QImage& FanPicture() const { return picture_.Image(); }  // null before the first drawing

  QComboBox *ComboBox12 = nullptr, *ComboBox8 = nullptr, *ComboBox7 = nullptr, *ComboBox6 = nullptr,
            *ComboBox1 = nullptr;
  QSpinBox* SpinEdit1 = nullptr;
  QCheckBox *CheckBox82 = nullptr, *CheckBox1 = nullptr, *CheckBox2 = nullptr, *CheckBox9 = nullptr,
            *CheckBox3 = nullptr, *CheckBox4 = nullptr, *CheckBox5 = nullptr, *CheckBox6 = nullptr,
            *CheckBox10 = nullptr, *CheckBox88 = nullptr;
  platform::TPanel* Panels[4] = {};  // Panel13, Panel36, Panel37, Panel38
  QLabel* Label9 = nullptr;
  QToolButton *SpeedButton4 = nullptr, *PrintButton = nullptr, *SaveButton = nullptr;
  QScrollArea* ScrollBox1 = nullptr;
  TFanImage* Image2 = nullptr;
  QMenu* PopupMenu1 = nullptr;

 private:
  platform::TImageCanvas picture_;  // FanPicture
  TFanLayout layout_;
  TFanList fanList_;  // aPers2 and aCoord of the last descendant list
  QString fitText_;   // the zoom text that fits the chart to the height, in the current language
};
