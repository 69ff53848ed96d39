// The page of the marriage list ("Браки"): the options of the list, the grid DBGrid2 over CDS_Marriage
// (coloured by the shared rule of app/reports/Marriages.h), the hint of a clicked cell, and the workbook
// export ("В Excel", print and save).
#pragma once

#include "app/reports/Marriages.h"
#include "app/window/PageWorkbooks.h"
#include "app/window/ReportPage.h"

#include <QCheckBox>
#include <QLabel>
#include <QSpinBox>
#include <QToolButton>

#include <functional>

#include "platform/qt/ClientDataSet.h"
#include "platform/qt/Controls.h"
#include "platform/qt/DataGrid.h"

class TMarriagesPage : public TReportPage {
 public:
  using TReportPage::TReportPage;
  void Build() override;
  void Run() override { SpeedButton30Click(); }
  void Print() override;
  void Save() override { MarriageToXLS(QString()); }

  void SpeedButton30Click();  // "Создать": page, ancestor list, list, binding
  void MarriageGedcom();
  void RadioGroup4Click();
  void CheckBox34Click();  // the view filter; also the handler of CheckBox39 and CheckBox33
  void DBGrid2CellClick(const QModelIndex& index);
  void DBGrid2Exit();
  // Writes the shown rows; an empty name asks for one (XLSX or Excel 2003 XML).
  void MarriageToXLS(const QString& fileName);
  void SpeedButton31Click();  // "В Excel": the fixed workbook beside the settings, then opened

  TMarriageOptions Options() const;

  // Opens a written file with the desktop's default application (tests replace it).
  std::function<bool(const QString&)> OpenFile;  // true when a program opened the file

  QToolButton *SpeedButton30 = nullptr, *SpeedButton31 = nullptr;
  QCheckBox *CheckBox32 = nullptr, *CheckBox58 = nullptr, *CheckBox34 = nullptr, *CheckBox39 = nullptr,
            *CheckBox33 = nullptr;
  QSpinBox* SpinEdit5 = nullptr;
  platform::TRadioGroup* RadioGroup4 = nullptr;
  QLabel *Label28 = nullptr, *Label30 = nullptr;
  platform::TClientDataSet* CDS_Marriage = nullptr;
  platform::TDataSetModel* DataSource2 = nullptr;
  platform::TDBGrid* DBGrid2 = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowCounts();
  int total_ = 0;
  std::uint64_t builtFor_ = 0;  // the model's load the rows were built from
};
