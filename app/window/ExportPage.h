// The page of the CSV export of persons ("Экспорт"): the check list of the 42 fields, "Все выделить",
// "Все снять", "Экспорт" with its gauge, time and progress labels; the lines go to the file chosen in the
// save dialog (UTF-8 with a byte-order mark).
#pragma once

#include "app/reports/CsvExport.h"
#include "app/window/ReportPage.h"

#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

class TExportPage : public TReportPage {
 public:
  using TReportPage::TReportPage;
  void Build() override;
  void Run() override { Button3Click(); }
  void ReportMenuItem() override {}

  void Button2Click();  // "Все выделить"
  void Button4Click();  // "Все снять"
  void Button3Click();  // "Экспорт": the page, then the export
  void GedcomDataExport();

  TCsvFields Checked() const;

  QListWidget* CheckListBox1 = nullptr;
  QPushButton *Button2 = nullptr, *Button4 = nullptr, *Button3 = nullptr;
  QProgressBar* Gauge3 = nullptr;
  QLabel *Label31 = nullptr, *Label8 = nullptr;
};
