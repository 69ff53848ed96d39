// The page of the anniversary calendar ("Календарь"): the filters and event kinds, the grid DBGrid3 over
// CDS_Informer (coloured by the shared rule of app/reports/Calendar.h, jubilees in bold dark red), and
// the workbook export ("В Excel", "Сохранить").
#pragma once

#include "app/reports/Calendar.h"
#include "app/window/ReportPage.h"

#include <QCheckBox>
#include <QDate>
#include <QToolButton>

#include <functional>

#include "platform/qt/ClientDataSet.h"
#include "platform/qt/Controls.h"
#include "platform/qt/DataGrid.h"

class TCalendarPage : public TReportPage {
 public:
  using TReportPage::TReportPage;
  void Build() override;
  void Run() override { SpeedButton42Click(); }
  // Its report-menu item only shows the page.
  void ReportMenuItem() override {}
  void Save() override { InformerToXLS(QString()); }

  void SpeedButton42Click();  // "Создать"
  void Informer();
  void InformerToXLS(const QString& fileName);
  void SpeedButton6Click();  // "В Excel": the fixed workbook beside the settings, then opened

  TCalendarOptions Options() const;

  // The first day of the calendar; invalid: the current date (tests fix it).
  QDate Today;
  std::function<bool(const QString&)> OpenFile;  // true when a program opened the file

  QToolButton *SpeedButton42 = nullptr, *SpeedButton6 = nullptr, *SpeedButton7 = nullptr;
  QCheckBox *CheckBox51 = nullptr, *CheckBox52 = nullptr, *CheckBox53 = nullptr, *CheckBox54 = nullptr,
            *CheckBox59 = nullptr;
  platform::TClientDataSet* CDS_Informer = nullptr;
  platform::TDataSetModel* DataSource3 = nullptr;
  platform::TDBGrid* DBGrid3 = nullptr;
};
