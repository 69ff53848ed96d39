// The surname chains page: the kind of report, the options of the chain (shown only for the whole chain),
// the variants, skip and count options; the report in RichEdit3. The ancestor list and the report are
// headless (app/charts/Ancestors.h, app/reports/SurnameChains.h); this page reads its controls, builds
// the list of the current person and shows the lines.
#pragma once

#include "app/reports/SurnameChains.h"
#include "app/window/ReportPage.h"
#include "platform/qt/Controls.h"
#include "platform/qt/RichText.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QToolButton>

class TSurnameChainsPage : public TRichTextPage {
 public:
  TSurnameChainsPage(TPageHost& host, QWidget* tab)
      : TRichTextPage(host, tab, QStringLiteral("RichEdit3"), QStringLiteral("ListFamily")) {}
  void Build() override;
  void FormShow() override;
  void Run() override { ListFamily(); }

  void SpeedButton24Click();  // "Создать": shows the page, the ancestor list, the report
  void ListFamily();          // the ancestor list of the current person, then the report
  void RadioGroup15Click();   // the chain options only for the whole chain
  TSurnameChainOptions Options() const;

  QToolButton* SpeedButton24 = nullptr;
  platform::TRadioGroup* RadioGroup15 = nullptr;
  platform::TPanel* ChainPanel = nullptr;  // the options of the chain
  QCheckBox *CheckBox28 = nullptr, *CheckBox29 = nullptr, *CheckBox27 = nullptr, *CheckBox69 = nullptr,
            *CheckBox50 = nullptr, *CheckBox68 = nullptr;
  QCheckBox *CheckBox31 = nullptr, *CheckBox26 = nullptr, *CheckBox30 = nullptr, *CheckBox40 = nullptr;
  QLineEdit* Edit8 = nullptr;
  platform::TUpDown* UpDown1 = nullptr;
  platform::TRichEdit* RichEdit3 = nullptr;

 private:
  void ParagraphSpacing();
};
