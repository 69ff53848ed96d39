#include "app/window/DuplicatesPage.h"
#include "app/window/PageControls.h"

#include "app/core/Model.h"

#include <QGridLayout>
#include <algorithm>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

QRadioButton* AddRadio(QWidget* parent, QLayout* layout, const QString& name, const QString& caption,
                       const QString& key, bool checked) {
  auto* r = new QRadioButton(caption, parent);
  r->setObjectName(name);
  r->setChecked(checked);
  platform::SetHelpKeyword(r, key);
  layout->addWidget(r);
  return r;
}

}  // namespace

void TDuplicatesPage::Build() {
  QWidget* page = Tab();
  auto* main = new QHBoxLayout(page);
  auto* left = new QVBoxLayout;
  main->addLayout(left);

  auto* bar = new QHBoxLayout;
  left->addLayout(bar);
  SpeedButton35 = new QToolButton(page);
  SpeedButton35->setObjectName(QStringLiteral("SpeedButton35"));
  SpeedButton35->setText(QStringLiteral("Создать"));
  platform::SetHelpKeyword(SpeedButton35, QStringLiteral("Create"));
  bar->addWidget(SpeedButton35);
  Gauge2 = new QProgressBar(page);
  Gauge2->setObjectName(QStringLiteral("Gauge2"));
  Gauge2->setTextVisible(false);
  Gauge2->setFixedHeight(8);
  Gauge2->hide();
  bar->addWidget(Gauge2, 3);
  bar->addStretch(1);  // keeps the button at the left while the gauge is hidden

  // The fields compared and their weights (1..10); the parents' weights follow from the person's.
  auto* fields = new QGroupBox(QStringLiteral("Анализируемые данные и их вес"), page);
  fields->setObjectName(QStringLiteral("FieldsAnalysBox"));
  platform::SetHelpKeyword(fields, QStringLiteral("FieldsAnalys"));
  platform::SetControlTag(fields, 1);
  auto* grid = new QGridLayout(fields);
  struct Row {
    QCheckBox** check;
    const char* checkName;
    const char* caption;
    const char* key;
    QSpinBox** spin;
    const char* spinName;
    int weight;
  };
  const Row rows[] = {
      {&CheckBox41, "CheckBox41", "Фамилия у мужчин", "SurnameMen", &SpinEdit6, "SpinEdit6", 10},
      {&CheckBox48, "CheckBox48", "Фамилия у женщин", "SurnameWomen", &SpinEdit13, "SpinEdit13", 5},
      {&CheckBox46, "CheckBox46", "(Девичья фамилия)", "MaidenSurname", &SpinEdit11, "SpinEdit11", 10},
      {&CheckBox42, "CheckBox42", "Имя", "FirstName", &SpinEdit7, "SpinEdit7", 10},
      {&CheckBox43, "CheckBox43", "Отчество", "Patronymic", &SpinEdit8, "SpinEdit8", 7},
      {&CheckBox44, "CheckBox44", "Дата рождения", "BirthDate", &SpinEdit9, "SpinEdit9", 6},
      {&CheckBox45, "CheckBox45", "Дата смерти", "DeathDate", &SpinEdit10, "SpinEdit10", 5},
  };
  int row = 0;
  for (const Row& r : rows) {
    *r.check = MakeCheck(fields, QString::fromLatin1(r.checkName), QString::fromUtf8(r.caption),
                         QString::fromLatin1(r.key), true);
    *r.spin = MakeSpin(fields, QString::fromLatin1(r.spinName), 1, 10, r.weight);
    grid->addWidget(*r.check, row, 0);
    grid->addWidget(*r.spin, row, 1);
    ++row;
  }
  CheckBox73 = MakeCheck(fields, QStringLiteral("CheckBox73"), QStringLiteral("Отец"), QStringLiteral("Father"), true);
  CheckBox74 = MakeCheck(fields, QStringLiteral("CheckBox74"), QStringLiteral("Мать"), QStringLiteral("Mother"), true);
  grid->addWidget(CheckBox73, row, 0);
  grid->addWidget(CheckBox74, row + 1, 0);
  left->addWidget(fields);

  RadioGroup5 = new platform::TRadioGroup(page, QStringLiteral("RadioGroup5"));
  RadioGroup5->setTitle(QStringLiteral("Разновидности ФИО"));
  platform::SetHelpKeyword(RadioGroup5, QStringLiteral("TypeCompNames"));
  RadioGroup5->SetItems({QStringLiteral("Точное сравнение"), QStringLiteral("Учитывать похожесть")});
  RadioGroup5->SetItemIndex(0);
  left->addWidget(RadioGroup5);

  auto* content = new QGroupBox(QStringLiteral("Содержимое отчета"), page);
  content->setObjectName(QStringLiteral("ContentReportBox"));
  platform::SetHelpKeyword(content, QStringLiteral("ContentReport"));
  platform::SetControlTag(content, 1);
  auto* cl = new QVBoxLayout(content);
  auto* threshold = new QHBoxLayout;
  cl->addLayout(threshold);
  auto* label = new QLabel(QStringLiteral("Показывать с % выше"), content);
  label->setObjectName(QStringLiteral("ThresholdLabel"));
  platform::SetHelpKeyword(label, QStringLiteral("ShowAbovePercent"));
  threshold->addWidget(label);
  SpinEdit12 = MakeSpin(content, QStringLiteral("SpinEdit12"), 10, 100, 75, 5);
  threshold->addWidget(SpinEdit12);
  threshold->addStretch();
  CheckBox47 = MakeCheck(content, QStringLiteral("CheckBox47"), QStringLiteral("Исключать братьев/сестер"),
                         QStringLiteral("ExcludeSiblings"), true);
  CheckBox49 = MakeCheck(content, QStringLiteral("CheckBox49"), QStringLiteral("Детализировать расчет"),
                         QStringLiteral("DetailCalculation"), true);
  cl->addWidget(CheckBox47);
  cl->addWidget(CheckBox49);
  RadioButton3 = AddRadio(content, cl, QStringLiteral("RadioButton3"), QStringLiteral("Только текущая персона"),
                          QStringLiteral("OnlyCurrentPerson"), true);
  RadioButton4 = AddRadio(content, cl, QStringLiteral("RadioButton4"), QStringLiteral("Включать мужчин"),
                          QStringLiteral("IncludeMen"), false);
  RadioButton5 = AddRadio(content, cl, QStringLiteral("RadioButton5"), QStringLiteral("Включать женщин"),
                          QStringLiteral("IncludeWomen"), false);
  RadioButton6 = AddRadio(content, cl, QStringLiteral("RadioButton6"), QStringLiteral("Включать всех"),
                          QStringLiteral("IncludeAll"), false);
  left->addWidget(content);
  left->addStretch();

  RichEdit4 = new platform::TRichEdit(page, QStringLiteral("RichEdit4"));
  main->addWidget(RichEdit4, 1);

  connect(SpeedButton35, &QToolButton::clicked, this, [this] { RunCommand(host(), [this] { SpeedButton35Click(); }); });
}

TDuplicateOptions TDuplicatesPage::Options() const {
  TDuplicateOptions o;
  o.SurnameMen = CheckBox41->isChecked();
  o.SurnameMenWeight = SpinEdit6->value();
  o.SurnameWomen = CheckBox48->isChecked();
  o.SurnameWomenWeight = SpinEdit13->value();
  o.Maiden = CheckBox46->isChecked();
  o.MaidenWeight = SpinEdit11->value();
  o.FirstName = CheckBox42->isChecked();
  o.FirstNameWeight = SpinEdit7->value();
  o.Patronymic = CheckBox43->isChecked();
  o.PatronymicWeight = SpinEdit8->value();
  o.Birth = CheckBox44->isChecked();
  o.BirthWeight = SpinEdit9->value();
  o.Death = CheckBox45->isChecked();
  o.DeathWeight = SpinEdit10->value();
  o.Father = CheckBox73->isChecked();
  o.Mother = CheckBox74->isChecked();
  o.Similarity = RadioGroup5->ItemIndex() == 1;
  o.Threshold = SpinEdit12->value();
  o.ExcludeSiblings = CheckBox47->isChecked();
  o.Details = CheckBox49->isChecked();
  o.Who = RadioButton6->isChecked()   ? TDuplicateWho::All
          : RadioButton5->isChecked() ? TDuplicateWho::Women
          : RadioButton4->isChecked() ? TDuplicateWho::Men
                                      : TDuplicateWho::CurrentOnly;
  return o;
}

void TDuplicatesPage::SpeedButton35Click() {
  host().ShowPage(Tab());
  FindDoubleGedcom();
}

void TDuplicatesPage::FindDoubleGedcom() {
  TLongRun run(host());
  if (!run.Started()) return;
  TBusyCursor busy;
  Gauge2->setValue(0);
  Gauge2->show();
  // The gauges move and pending events are processed every few milliseconds rather than after every
  // record: "Прервать" and Esc stay live, and a search over many persons is not slowed by repainting.
  QElapsedTimer sinceEvents;
  sinceEvents.start();
  const auto progress = [this, &sinceEvents](std::int64_t position, std::int64_t maximum) {
    if (position != 0 && position < maximum && sinceEvents.elapsed() < 20) return;
    sinceEvents.restart();
    Gauge2->setMaximum(int(std::clamp<std::int64_t>(maximum, 0, INT32_MAX)));
    Gauge2->setValue(int(std::clamp<std::int64_t>(position, 0, INT32_MAX)));
    host().Progress(position, maximum);
  };
  const auto translate = [this](const QString& key, const QString& def) { return host().Lang(key, def); };
  ::FindDoubleGedcom(host().model(), Options(), host().CurrentPerson(), RichEdit4->document(), translate, progress);
  Gauge2->hide();
  host().OutputReady();
}
