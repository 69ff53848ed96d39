// The descendant scheme page: numbering, line filter, what to show and the event abbreviations, and the
// scheme of the current person's descendants in TreeView2 (app/charts/Descendants.h builds it).
#pragma once

#include "app/charts/Descendants.h"
#include "app/window/SchemeTree.h"
#include "platform/qt/Controls.h"

#include <vector>

class TDescendantsPage : public TSchemePage {
 public:
  using TSchemePage::TSchemePage;
  void Build() override;
  void FormShow() override;
  // The event abbreviations still holding a built-in default follow the language.
  void LanguageChanged() override;
  void Run() override { SxPotGedcom(); }

  void SxPotGedcom();         // the scheme of the current person
  void SpeedButton7Click();   // "Создать": shows the page and builds the scheme

  platform::TRadioGroup *RadioGroup16 = nullptr, *RadioGroup6 = nullptr;
  QCheckBox *CheckBox14 = nullptr, *CheckBox16 = nullptr, *CheckBox17 = nullptr, *CheckBox18 = nullptr;
  QLineEdit *Edit3 = nullptr, *Edit4 = nullptr, *Edit5 = nullptr;

 private:
  std::vector<TPers2> descendants_;  // aPers2 of the last scheme
  QString abbrevs_[3];               // the defaults of Edit3, Edit4, Edit5 in the current language
};
