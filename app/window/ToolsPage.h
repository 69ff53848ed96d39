// The group edit tools page ("Инструменты"): the tool list ComboBox4 with the tools' option pages
// PageControl3, the sex filter, the dry run ("Эмуляция") and the write run ("Поехали!") and the protocol
// Memo3. The tools themselves are headless (sources/GroupEdit.h): this page reads its controls into
// TToolOptions, asks before a database is written, shows the protocol and has the window read the file
// again after a write run that changed it. It reaches the window only through TPageHost.
#pragma once

#include "app/window/ReportPage.h"
#include "platform/qt/Controls.h"
#include "sources/GroupEdit.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>

class TToolsPage : public TReportPage {
 public:
  using TReportPage::TReportPage;
  void Build() override;
  void FormShow() override;
  void ReportMenuItem() override {}
  void FileLoaded() override;
  void LanguageChanged() override;

  // Runs the tool: Sender Button1 is the dry run, Button5 the write run.
  void Button1Click(QObject* sender);
  TToolOptions Options() const;
  void ComboBox4Change();
  void PageControl3Change();
  void RadioGroup14Click();
  void PopupMenu9Popup();
  // The shortcut of the kinship view: the technical field for the persons of the kinship detector.
  void SpeedButton41Click();

  QComboBox* ComboBox4 = nullptr;
  QTabWidget* PageControl3 = nullptr;
  QComboBox* ComboBox5 = nullptr;
  QLineEdit* Edit24 = nullptr;
  platform::TRadioGroup* RadioGroup14 = nullptr;
  QCheckBox *CheckBox55 = nullptr, *CheckBox56 = nullptr;
  QTabWidget* PageControl4 = nullptr;
  QLineEdit *Edit13 = nullptr, *Edit14 = nullptr, *Edit15 = nullptr, *Edit16 = nullptr, *Edit9 = nullptr,
            *Edit10 = nullptr;
  QPushButton* Button13 = nullptr;
  QMenu* PopupMenu9 = nullptr;
  QAction *N4 = nullptr, *N5 = nullptr, *N7 = nullptr, *N8 = nullptr, *N9 = nullptr;
  QMenu* N6 = nullptr;
  platform::TRadioGroup* RadioGroup8 = nullptr;
  QComboBox *ComboBox11 = nullptr, *ComboBox10 = nullptr;
  QCheckBox *TransNames = nullptr, *TransPlaces = nullptr;  // the check list CheckListBox2
  QWidget* CheckListBox2 = nullptr;
  platform::TPanel* Panel30 = nullptr;
  platform::TRadioGroup* RadioGroup13 = nullptr;
  QPlainTextEdit* Memo3 = nullptr;
  QProgressBar* Gauge6 = nullptr;
  QPushButton *Button1 = nullptr, *Button5 = nullptr;

 private:
  void FillTechFields();
};
