// The ancestor scheme page: the name parts and dates to show, and the scheme of the current person's
// ancestors in TreeView1 (app/charts/Ancestors.h builds it).
#pragma once

#include "app/window/SchemeTree.h"

class TAncestorsPage : public TSchemePage {
 public:
  using TSchemePage::TSchemePage;
  void Build() override;
  void Run() override { SxPrGedcom(); }

  void SxPrGedcom();           // the scheme of the current person
  void SpeedButton22Click();   // "Создать": shows the page and builds the scheme

  QCheckBox *CheckBox60 = nullptr, *CheckBox61 = nullptr, *CheckBox62 = nullptr, *CheckBox63 = nullptr,
            *CheckBox64 = nullptr, *CheckBox65 = nullptr, *CheckBox66 = nullptr, *CheckBox67 = nullptr,
            *CheckBox70 = nullptr;
};
