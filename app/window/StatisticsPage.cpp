#include "app/window/StatisticsPage.h"
#include "app/window/PageControls.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/charts/ChartOutput.h"
#include "app/core/Model.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/PictureFile.h"
#include "platform/qt/FlowLayout.h"

namespace {

platform::TRadioGroup* AddRadio(QWidget* parent, QLayout* layout, const QString& name, const QString& title,
                                const QString& key, const QStringList& items) {
  auto* g = new platform::TRadioGroup(parent, name);
  g->setTitle(title);
  platform::SetHelpKeyword(g, key);
  g->SetItems(items);
  g->SetItemIndex(0);
  layout->addWidget(g);
  return g;
}

}  // namespace

void TStatisticsPage::Build() {
  QWidget* page = Tab();
  auto* layout = new QVBoxLayout(page);
  // The options live on a panel with a tag: the window keeps them in the settings file.
  auto* options = new QWidget(page);
  options->setObjectName(QStringLiteral("Panel27"));
  platform::SetControlTag(options, 1);
  auto* bar = new platform::TFlowLayout(options);
  bar->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(options);
  SpeedButton27 = new QToolButton(options);
  SpeedButton27->setObjectName(QStringLiteral("SpeedButton27"));
  SpeedButton27->setText(QStringLiteral("Создать"));
  SpeedButton27->setToolButtonStyle(Qt::ToolButtonTextOnly);
  platform::SetHelpKeyword(SpeedButton27, QStringLiteral("Create"));
  bar->addWidget(SpeedButton27);
  RadioGroup2 = AddRadio(options, bar, QStringLiteral("RadioGroup2"), QStringLiteral("Группировка"), QStringLiteral("StatGrouping"),
                         {QStringLiteral("По датам"), QStringLiteral("По годам"), QStringLiteral("По именам")});
  RadioGroup1 = AddRadio(options, bar, QStringLiteral("RadioGroup1"), QStringLiteral("События"), QStringLiteral("StatEvents"),
                         {QStringLiteral("Рождения"), QStringLiteral("Смерти")});

  auto* filters = new QGroupBox(QStringLiteral("Фильтр"), options);
  filters->setObjectName(QStringLiteral("GroupBox35"));
  platform::SetHelpKeyword(filters, QStringLiteral("StatFilter"));
  platform::SetControlTag(filters, 1);
  auto* grid = new QGridLayout(filters);
  CheckBox35 = MakeCheck(filters, QStringLiteral("CheckBox35"), QStringLiteral("С "), QStringLiteral("YearFrom"));
  SpinEdit2 = MakeSpin(filters, QStringLiteral("SpinEdit2"), 0, 2050, 0);
  CheckBox36 = MakeCheck(filters, QStringLiteral("CheckBox36"), QStringLiteral("По"), QStringLiteral("YearTo"));
  SpinEdit3 = MakeSpin(filters, QStringLiteral("SpinEdit3"), -999999, 999999, 0);
  CheckBox37 = MakeCheck(filters, QStringLiteral("CheckBox37"), QStringLiteral("Имя"), QStringLiteral("FirstName"));
  Edit11 = new QLineEdit(filters);
  Edit11->setObjectName(QStringLiteral("Edit11"));
  CheckBox38 = MakeCheck(filters, QStringLiteral("CheckBox38"), QStringLiteral("Фамилия"), QStringLiteral("LastName"));
  Edit12 = new QLineEdit(filters);
  Edit12->setObjectName(QStringLiteral("Edit12"));
  grid->addWidget(CheckBox35, 0, 0);
  grid->addWidget(SpinEdit2, 0, 1);
  grid->addWidget(CheckBox36, 0, 2);
  grid->addWidget(SpinEdit3, 0, 3);
  grid->addWidget(CheckBox37, 1, 0);
  grid->addWidget(Edit11, 1, 1);
  grid->addWidget(CheckBox38, 1, 2);
  grid->addWidget(Edit12, 1, 3);
  bar->addWidget(filters);
  RadioGroup3 = AddRadio(options, bar, QStringLiteral("RadioGroup3"), QStringLiteral("Пол"), QStringLiteral("StatSex"),
                         {QStringLiteral("Все"), QStringLiteral("Мужчины"), QStringLiteral("Женщины")});

  // The scale is not kept: its box has no tag.
  auto* scaleBox = new QWidget(options);
  scaleBox->setObjectName(QStringLiteral("Panel4"));
  auto* scaleRow = new QHBoxLayout(scaleBox);
  auto* scale = new QLabel(QStringLiteral("Масштаб"), scaleBox);
  scale->setObjectName(QStringLiteral("Label27"));
  platform::SetHelpKeyword(scale, QStringLiteral("StatScale"));
  SpinEdit4 = MakeSpin(scaleBox, QStringLiteral("SpinEdit4"), 1, 20, 1);
  scaleRow->addWidget(scale);
  scaleRow->addWidget(SpinEdit4);
  bar->addWidget(scaleBox);

  ScrollBox3 = new QScrollArea(page);
  ScrollBox3->setObjectName(QStringLiteral("ScrollBox3"));
  ScrollBox3->setWidgetResizable(true);
  Chart1 = new platform::TBarChart(nullptr, QStringLiteral("Chart1"));
  Chart1->SetBarColor(platform::ColorFromWin(7096576));
  ScrollBox3->setWidget(Chart1);
  layout->addWidget(ScrollBox3, 1);

  connect(SpeedButton27, &QToolButton::clicked, this, [this] { RunCommand(host(), [this] { SpeedButton27Click(); }); });
  connect(SpinEdit4, &QSpinBox::valueChanged, this, [this] { SpinEdit4Change(); });
  connect(RadioGroup1, &platform::TRadioGroup::ItemIndexChanged, this, [this] { RadioGroup1Click(); });
}

TStatOptions TStatisticsPage::Options() const {
  TStatOptions o;
  o.Grouping = RadioGroup2->ItemIndex();
  o.Event = RadioGroup1->ItemIndex();
  o.FromOn = CheckBox35->isChecked();
  o.From = SpinEdit2->value();
  o.ToOn = CheckBox36->isChecked();
  o.To = SpinEdit3->value();
  o.NamesOn = CheckBox37->isChecked();
  o.Names = Edit11->text();
  o.SurnamesOn = CheckBox38->isChecked();
  o.Surnames = Edit12->text();
  o.Sex = RadioGroup3->ItemIndex();
  return o;
}

void TStatisticsPage::SpeedButton27Click() {
  if (host().Busy()) return;
  host().ShowPage(Tab());
  StatGedcom();
}

void TStatisticsPage::StatGedcom() {
  TBusyCursor busy;
  Chart1->SetSubFooter(QString());
  const TStatResult r = ::StatGedcom(host().model(), Options(),
                                     [this](const QString& key, const QString& def) { return host().Lang(key, def); });
  std::vector<platform::TBarChart::Bar> bars;
  bars.reserve(r.Bars.size());
  for (const TStatBar& b : r.Bars) bars.push_back({b.X, double(b.Count), b.Label});
  Chart1->SetBars(std::move(bars));
  Chart1->SetSubFooter(r.SubFooter);
  host().OutputReady();
}

void TStatisticsPage::SpinEdit4Change() {
  const int scale = SpinEdit4->value();
  if (scale <= 1) {
    ScrollBox3->setWidgetResizable(true);
  } else {
    ScrollBox3->setWidgetResizable(false);
    Chart1->resize(scale * ScrollBox3->viewport()->width(), ScrollBox3->viewport()->height());
  }
}

void TStatisticsPage::RadioGroup1Click() {
  if (!ScrollBox3->widgetResizable()) Chart1->resize(ScrollBox3->viewport()->width(), ScrollBox3->viewport()->height());
}

void TStatisticsPage::Print() {
  // The chart on a landscape page, drawn at a landscape page's proportions so that it fills the page.
  host().SetPrinterLandscape(true);
  PrintBitMap(Chart1->Picture(QSize(1100, 750), 2), host().Dialogs(), host().Printer());
}

void TStatisticsPage::Save() {
  // Always a BMP, the suffix appended to whatever name was chosen.
  QString name;
  int index = 1;
  if (!host().Dialogs().Save(kPictureSaveFilter, name, index)) return;
  const QString error = platform::WritePicture(name + QStringLiteral(".bmp"), platform::TPictureFormat::Bmp, Chart1->Picture());
  if (!error.isEmpty())
    host().Dialogs().Message(ChartText(QStringLiteral("SaveFailed"), QStringLiteral("Не удалось сохранить файл:")) +
                             QLatin1Char(' ') + error);
}
