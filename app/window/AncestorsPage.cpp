#include "app/window/AncestorsPage.h"
#include "app/window/PageControls.h"

#include <QGroupBox>
#include <QHBoxLayout>

#include "app/charts/Ancestors.h"
#include "app/core/Model.h"
#include "platform/qt/FlowLayout.h"
#include "platform/qt/Controls.h"

void TAncestorsPage::Build() {
  QWidget* page = Tab();
  auto* layout = new QVBoxLayout(page);
  BuildBar(layout, QStringLiteral("SpeedButton22"), QStringLiteral("SpeedButton23"),
           QStringLiteral("PrintButtonAncestors"), QStringLiteral("SaveButtonAncestors"));
  auto* fill = new QGroupBox(QStringLiteral("Заполнять"), page);
  fill->setObjectName(QStringLiteral("GroupBox60"));
  platform::SetHelpKeyword(fill, QStringLiteral("Fill"));
  platform::SetControlTag(fill, 1);
  auto* fl = new platform::TFlowLayout(fill);
  CheckBox60 = AddCheck(fill, fl, QStringLiteral("CheckBox60"), QStringLiteral("Полное имя"), QStringLiteral("FullName"), true);
  CheckBox61 = AddCheck(fill, fl, QStringLiteral("CheckBox61"), QStringLiteral("Фамилия"), QStringLiteral("LastName"), true);
  CheckBox62 = AddCheck(fill, fl, QStringLiteral("CheckBox62"), QStringLiteral("Фам.при рожд."), QStringLiteral("BirthSurname"), true);
  CheckBox63 = AddCheck(fill, fl, QStringLiteral("CheckBox63"), QStringLiteral("(в скобки)"), QStringLiteral("InBrackets"), true);
  CheckBox64 = AddCheck(fill, fl, QStringLiteral("CheckBox64"), QStringLiteral("Имя"), QStringLiteral("FirstName"), true);
  CheckBox65 = AddCheck(fill, fl, QStringLiteral("CheckBox65"), QStringLiteral("Отчество"), QStringLiteral("Patronymic"), true);
  CheckBox70 = AddCheck(fill, fl, QStringLiteral("CheckBox70"), QStringLiteral("Место рождения"), QStringLiteral("BirthPlace"), true);
  CheckBox66 = AddCheck(fill, fl, QStringLiteral("CheckBox66"), QStringLiteral("Годы жизни"), QStringLiteral("YearsLife"), true);
  CheckBox67 = AddCheck(fill, fl, QStringLiteral("CheckBox67"), QStringLiteral("Даты жизни"), QStringLiteral("DatesLife"), false);
  fl->addStretch();
  layout->addWidget(fill);
  BuildTree(layout, QStringLiteral("TreeView1"));

  connect(CreateButton, &QToolButton::clicked, this, [this] { RunCommand(host(), [this] { SpeedButton22Click(); }); });
  PairYearsDates(CheckBox66, CheckBox67);
  // "Полное имя" stands for the five name parts beside it.
  auto nameParts = [this](bool full) {
    for (QCheckBox* b : {CheckBox61, CheckBox62, CheckBox63, CheckBox64, CheckBox65}) b->setEnabled(!full);
  };
  nameParts(CheckBox60->isChecked());
  connect(CheckBox60, &QCheckBox::toggled, this, nameParts);
}

void TAncestorsPage::SpeedButton22Click() {
  if (host().Busy()) return;  // the model is being read
  host().ShowPage(Tab());
  SxPrGedcom();
}

void TAncestorsPage::SxPrGedcom() {
  TAncestorTextOptions o;
  o.FullName = CheckBox60->isChecked();
  o.Surname = CheckBox61->isChecked();
  o.BirthSurname = CheckBox62->isChecked();
  o.Brackets = CheckBox63->isChecked();
  o.FirstName = CheckBox64->isChecked();
  o.Patronymic = CheckBox65->isChecked();
  o.YearsLife = CheckBox66->isChecked();
  o.DatesLife = CheckBox67->isChecked();
  o.BirthPlace = CheckBox70->isChecked();
  const std::int64_t p = host().CurrentPerson();
  TTreeNodes nodes;
  TBusyCursor busy;
  Model& m = host().model();
  if (!::SxPrGedcom(m, host().Ancestors(), nodes, p > 0 ? QString::number(p) : QString(), host().IsCurrentPage(Tab()),
                    o, m.LoadCount))
    return;
  Show(nodes, !nodes.Empty());
}
