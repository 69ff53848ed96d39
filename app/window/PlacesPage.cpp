#include "app/window/PlacesPage.h"

#include "app/core/Model.h"
#include "app/core/PersonList.h"
#include "platform/qt/Controls.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <climits>

void TPlacesPage::Build() {
  QWidget* page = Tab();
  auto* main = new QHBoxLayout(page);
  auto* left = new QVBoxLayout;
  main->addLayout(left);

  auto* places = new QGroupBox(QStringLiteral("Населенные пункты"), page);
  places->setObjectName(QStringLiteral("PlacesBox"));
  platform::SetHelpKeyword(places, QStringLiteral("Settlements"));
  auto* pl = new QVBoxLayout(places);
  ComboBox13 = new QComboBox(places);
  ComboBox13->setObjectName(QStringLiteral("ComboBox13"));
  ComboBox13->setEditable(false);
  ComboBox13->setMinimumContentsLength(24);
  ComboBox13->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  pl->addWidget(ComboBox13);
  left->addWidget(places);

  auto* kind = new QGroupBox(QStringLiteral("Вид отчета"), page);
  kind->setObjectName(QStringLiteral("ReportKindBox"));
  platform::SetHelpKeyword(kind, QStringLiteral("ReportKind"));
  platform::SetControlTag(kind, 1);
  auto* kl = new QVBoxLayout(kind);
  RadioButton1 = new QRadioButton(QStringLiteral("Только фамилии"), kind);
  RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
  RadioButton1->setChecked(true);
  platform::SetHelpKeyword(RadioButton1, QStringLiteral("OnlySurnames"));
  RadioButton2 = new QRadioButton(QStringLiteral("Список жителей"), kind);
  RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
  platform::SetHelpKeyword(RadioButton2, QStringLiteral("ResidentsList"));
  kl->addWidget(RadioButton1);
  kl->addWidget(RadioButton2);
  left->addWidget(kind);

  CheckBox75 = new QCheckBox(QStringLiteral("Только Фаворитов"), page);
  CheckBox75->setObjectName(QStringLiteral("CheckBox75"));
  platform::SetHelpKeyword(CheckBox75, QStringLiteral("OnlyFavourites"));
  left->addWidget(CheckBox75);

  auto* years = new QGroupBox(QStringLiteral("Фильтр по годам"), page);
  years->setObjectName(QStringLiteral("YearFilterBox"));
  platform::SetHelpKeyword(years, QStringLiteral("YearFilter"));
  platform::SetControlTag(years, 1);
  auto* yl = new QHBoxLayout(years);
  CheckBox77 = new QCheckBox(QStringLiteral("С "), years);
  CheckBox77->setObjectName(QStringLiteral("CheckBox77"));
  platform::SetHelpKeyword(CheckBox77, QStringLiteral("YearFrom"));
  SpinEdit15 = new QSpinBox(years);
  SpinEdit15->setObjectName(QStringLiteral("SpinEdit15"));
  SpinEdit15->setRange(0, 2050);
  CheckBox78 = new QCheckBox(QStringLiteral("По"), years);
  CheckBox78->setObjectName(QStringLiteral("CheckBox78"));
  platform::SetHelpKeyword(CheckBox78, QStringLiteral("YearTo"));
  SpinEdit16 = new QSpinBox(years);
  SpinEdit16->setObjectName(QStringLiteral("SpinEdit16"));
  SpinEdit16->setRange(INT_MIN, INT_MAX);
  SpinEdit16->setValue(0);
  SpinEdit16->setMaximumWidth(SpinEdit15->sizeHint().width() * 2);
  for (QWidget* w : {static_cast<QWidget*>(CheckBox77), static_cast<QWidget*>(SpinEdit15),
                     static_cast<QWidget*>(CheckBox78), static_cast<QWidget*>(SpinEdit16)})
    yl->addWidget(w);
  left->addWidget(years);

  CheckBox76 = new QCheckBox(QStringLiteral("Открывать в Браузере Карту"), page);
  CheckBox76->setObjectName(QStringLiteral("CheckBox76"));
  platform::SetHelpKeyword(CheckBox76, QStringLiteral("OpenMap"));
  CheckBox76->setChecked(true);
  left->addWidget(CheckBox76);

  auto* bar = new QHBoxLayout;
  Button15 = new QPushButton(QStringLiteral("Создать"), page);
  Button15->setObjectName(QStringLiteral("Button15"));
  platform::SetHelpKeyword(Button15, QStringLiteral("Create"));
  PrintButton = new QToolButton(page);
  PrintButton->setObjectName(QStringLiteral("PrintButtonPlaces"));
  PrintButton->setText(QStringLiteral("Печатать"));
  platform::SetHelpKeyword(PrintButton, QStringLiteral("Print"));
  SaveButton = new QToolButton(page);
  SaveButton->setObjectName(QStringLiteral("SaveButtonPlaces"));
  SaveButton->setText(QStringLiteral("Сохранить"));
  platform::SetHelpKeyword(SaveButton, QStringLiteral("Save"));
  bar->addWidget(Button15);
  bar->addWidget(PrintButton);
  bar->addWidget(SaveButton);
  bar->addStretch();
  left->addLayout(bar);
  left->addStretch();

  RichEdit6 = new platform::TRichEdit(page, QStringLiteral("RichEdit6"));
  main->addWidget(RichEdit6, 1);

  connect(Button15, &QPushButton::clicked, this, [this] { RunCommand(host(), [this] { Button15Click(); }); });
  connect(PrintButton, &QToolButton::clicked, this, [this] { RunCommand(host(), [this] { Print(); }); });
  connect(SaveButton, &QToolButton::clicked, this, [this] { RunCommand(host(), [this] { Save(); }); });
}

void TPlacesPage::FileLoaded() {
  TRichTextPage::FileLoaded();
  ComboBox13->clear();
  ComboBox13->addItems(CollectPlaces(host().model()));
  if (ComboBox13->count() > 0) ComboBox13->setCurrentIndex(0);
}

TPlaceOptions TPlacesPage::Options() const {
  TPlaceOptions o;
  o.Place = ComboBox13->currentText();
  o.Residents = RadioButton2->isChecked();
  o.OnlyFavorites = CheckBox75->isChecked();
  o.FromYearOn = CheckBox77->isChecked();
  o.FromYear = SpinEdit15->value();
  o.ToYearOn = CheckBox78->isChecked();
  o.ToYear = SpinEdit16->value();
  o.OpenMap = CheckBox76->isChecked();
  return o;
}

void TPlacesPage::PlacePers() {
  TPlaceOptions o = Options();
  const bool openMap = o.OpenMap;
  o.OpenMap = false;  // the map opens after the report is shown and the cursor restored
  QString text;
  {
    TBusyCursor busy;
    text = ::PlacePers(host().model(), o, {});
    RichEdit6->setPlainText(text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  }
  if (openMap && opener_) opener_(PlaceMapUrl(o.Place));
}
