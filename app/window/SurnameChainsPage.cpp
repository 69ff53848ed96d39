#include "app/window/SurnameChainsPage.h"
#include "app/window/PageControls.h"

#include "app/charts/Ancestors.h"
#include "app/core/Model.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QVBoxLayout>

#include "platform/qt/FlowLayout.h"

void TSurnameChainsPage::Build() {
  // The options above, the report below at the page's full width (its lines are long).
  QWidget* page = Tab();
  auto* main = new QVBoxLayout(page);
  // The two groups of options side by side, the chain's below the others when the page is narrow.
  auto* top = new platform::TFlowLayout;
  main->addLayout(top);
  auto* common = new platform::TPanel(page, QStringLiteral("ChainCommonPanel"));
  platform::SetControlTag(common, 1);
  common->setFrameShape(QFrame::NoFrame);
  auto* left = new QVBoxLayout(common);
  left->setContentsMargins(0, 0, 0, 0);
  top->addWidget(common);

  SpeedButton24 = new QToolButton(page);
  SpeedButton24->setObjectName(QStringLiteral("SpeedButton24"));
  SpeedButton24->setText(QStringLiteral("Создать"));
  platform::SetHelpKeyword(SpeedButton24, QStringLiteral("Create"));
  left->addWidget(SpeedButton24, 0, Qt::AlignLeft);

  RadioGroup15 = new platform::TRadioGroup(page, QStringLiteral("RadioGroup15"));
  RadioGroup15->setTitle(QStringLiteral("Вид отчета"));
  platform::SetHelpKeyword(RadioGroup15, QStringLiteral("ChainKind"));
  RadioGroup15->SetItems({QStringLiteral("Только фамилии"), QStringLiteral("Вся цепочка персон")});
  RadioGroup15->SetItemIndex(1);
  left->addWidget(RadioGroup15);

  ChainPanel = new platform::TPanel(page, QStringLiteral("ChainOptionsPanel"));
  platform::SetControlTag(ChainPanel, 1);
  auto* cp = new QVBoxLayout(ChainPanel);
  CheckBox28 = AddCheck(ChainPanel, cp, QStringLiteral("CheckBox28"), QStringLiteral("Годы жизни"), QStringLiteral("YearsLife"), true);
  CheckBox29 = AddCheck(ChainPanel, cp, QStringLiteral("CheckBox29"), QStringLiteral("Даты жизни"), QStringLiteral("DatesLife"), false);
  CheckBox27 = AddCheck(ChainPanel, cp, QStringLiteral("CheckBox27"), QStringLiteral("Фамилия по мужу"), QStringLiteral("HusbandSurname"), true);
  CheckBox69 = AddCheck(ChainPanel, cp, QStringLiteral("CheckBox69"), QStringLiteral("Место рождения"), QStringLiteral("BirthPlace"), true);
  CheckBox50 = AddCheck(ChainPanel, cp, QStringLiteral("CheckBox50"), QStringLiteral("Отчество"), QStringLiteral("Patronymic"), true);
  CheckBox68 = AddCheck(ChainPanel, cp, QStringLiteral("CheckBox68"), QStringLiteral("Номер поколения"), QStringLiteral("GenerationNumber"), false);
  top->addWidget(ChainPanel);

  CheckBox31 = AddCheck(page, left, QStringLiteral("CheckBox31"), QStringLiteral("Все варианты фамилий"), QStringLiteral("AllSurnameVariants"), true);
  CheckBox26 = AddCheck(page, left, QStringLiteral("CheckBox26"),
                        QStringLiteral("Игнорировать род с неизвестной фамилией"), QStringLiteral("SkipUnknownSurname"),
                        true);
  auto* shortRow = new QHBoxLayout;
  CheckBox30 = AddCheck(page, shortRow, QStringLiteral("CheckBox30"),
                        QStringLiteral("Игнорировать род с кол-вом поколен. меньше чем"), QStringLiteral("SkipShortLines"),
                        true);
  Edit8 = new QLineEdit(page);
  Edit8->setObjectName(QStringLiteral("Edit8"));
  Edit8->setReadOnly(true);
  Edit8->setMaximumWidth(40);
  UpDown1 = new platform::TUpDown(page, QStringLiteral("UpDown1"), Edit8, 2, 10, 2);
  shortRow->addWidget(Edit8);
  shortRow->addWidget(UpDown1);
  shortRow->addStretch();
  left->addLayout(shortRow);
  CheckBox40 = AddCheck(page, left, QStringLiteral("CheckBox40"),
                        QStringLiteral("Указывать кол-во поколений и их среднюю продолжительность"),
                        QStringLiteral("GenerationCounts"), true);
  left->addStretch();

  RichEdit3 = new platform::TRichEdit(page, QStringLiteral("RichEdit3"));
  main->addWidget(RichEdit3, 1);

  connect(SpeedButton24, &QToolButton::clicked, this, [this] { RunCommand(host(), [this] { SpeedButton24Click(); }); });
  connect(RadioGroup15, &platform::TRadioGroup::ItemIndexChanged, this, [this] { RadioGroup15Click(); });
  RadioGroup15Click();
}

void TSurnameChainsPage::FormShow() {
  // The settings may have changed the kind of report.
  RadioGroup15Click();
  ParagraphSpacing();
}

void TSurnameChainsPage::ParagraphSpacing() {
  QTextCursor c(RichEdit3->document());
  c.select(QTextCursor::Document);
  QTextBlockFormat f;
  f.setTopMargin(10);  // 150 twips at 96 pixels per inch
  c.mergeBlockFormat(f);
}

void TSurnameChainsPage::RadioGroup15Click() { ChainPanel->setVisible(RadioGroup15->ItemIndex() == 1); }

TSurnameChainOptions TSurnameChainsPage::Options() const {
  TSurnameChainOptions o;
  o.WholeChain = RadioGroup15->ItemIndex() == 1;
  o.Years = CheckBox28->isChecked();
  o.Dates = CheckBox29->isChecked();
  o.HusbandSurname = CheckBox27->isChecked();
  o.BirthPlace = CheckBox69->isChecked();
  o.Patronymic = CheckBox50->isChecked();
  o.GenerationNumber = CheckBox68->isChecked();
  o.AllVariants = CheckBox31->isChecked();
  o.SkipUnknownSurname = CheckBox26->isChecked();
  o.SkipShort = CheckBox30->isChecked();
  o.MinPersons = UpDown1->Position();
  o.Averages = CheckBox40->isChecked();
  return o;
}

void TSurnameChainsPage::SpeedButton24Click() {
  host().ShowPage(Tab());
  ListFamily();
}

void TSurnameChainsPage::ListFamily() {
  TBusyCursor busy;
  Model& m = host().model();
  const std::int64_t p = host().CurrentPerson();
  ::FillTree(m, host().Ancestors(), p > 0 ? QString::number(p) : QString(), m.LoadCount);
  ::ListFamily(m, host().Ancestors().aPers, Options(), RichEdit3->document());
  ParagraphSpacing();
  host().OutputReady();
}
