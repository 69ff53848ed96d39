// Placeholder of the statistics page until its report is built: it occupies its tab and gives out a
// chart widget named "Chart1" when one is there (printed in landscape, saved as BMP).
// Replace this class (keep its name) with the real page; see PageRegistry.h.
#pragma once

#include "app/charts/ChartOutput.h"
#include "platform/qt/PictureFile.h"
#include "app/window/ReportPage.h"

class TStatisticsPage : public TReportPage {
 public:
  using TReportPage::TReportPage;
  void Print() override {
    // The chart on a landscape page.
    if (auto* chart = Tab()->findChild<QWidget*>(QStringLiteral("Chart1"))) {
      host().SetPrinterLandscape(true);
      PrintBitMap(chart->grab().toImage(), host().Dialogs(), host().Printer());
    }
  }
  void Save() override {
    // Always a BMP, the suffix appended to whatever name was chosen.
    auto* chart = Tab()->findChild<QWidget*>(QStringLiteral("Chart1"));
    QString name;
    int index = 1;
    if (!chart || !host().Dialogs().Save(kPictureSaveFilter, name, index)) return;
    const QString error =
        platform::WritePicture(name + QStringLiteral(".bmp"), platform::TPictureFormat::Bmp, chart->grab().toImage());
    if (!error.isEmpty())
      host().Dialogs().Message(ChartText(QStringLiteral("SaveFailed"), QStringLiteral("Не удалось сохранить файл:")) +
                               QLatin1Char(' ') + error);
  }
};
