#include "app/charts/Ancestors.h"
#include "app/charts/ChartOutput.h"
#include "app/charts/Descendants.h"
#include "app/charts/FanChart.h"
#include "app/charts/FanChartOutput.h"
#include "app/core/Model.h"
#include "app/window/FanChartPage.h"
#include "app/window/PageControls.h"
#include "platform/qt/FlowLayout.h"
#include "platform/qt/IniFile.h"
#include "app/window/FormSettings.h"
#include "platform/qt/Canvas.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/PageSink.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include <exception>

// Shows a picture at its own size, painting only the exposed part (no copy of the picture is made).
class TFanImage : public QWidget {
 public:
  explicit TFanImage(QWidget* parent) : QWidget(parent) { setObjectName(QStringLiteral("Image2")); }
  void SetImage(const QImage& image) {
    image_ = image;
    resize(image_.isNull() ? QSize(1, 1) : image_.size());
    update();
  }
  const QImage& Image() const { return image_; }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter p(this);
    const QRect r = event->rect();
    p.fillRect(r, Qt::white);
    if (!image_.isNull()) p.drawImage(r.topLeft(), image_, r);
  }

 private:
  QImage image_;
};

namespace {

// Drags the scroll box's content with the left mouse button.
class TPanFilter : public QObject {
 public:
  explicit TPanFilter(QScrollArea* box) : QObject(box), box_(box) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonPress) {
      start_ = static_cast<QMouseEvent*>(event)->position().toPoint();
    } else if (event->type() == QEvent::MouseMove) {
      auto* me = static_cast<QMouseEvent*>(event);
      if (me->buttons() & Qt::LeftButton) {
        const QPoint d = me->position().toPoint() - start_;
        box_->horizontalScrollBar()->setValue(box_->horizontalScrollBar()->value() - d.x());
        box_->verticalScrollBar()->setValue(box_->verticalScrollBar()->value() - d.y());
        return true;
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QScrollArea* box_;
  QPoint start_;
};

}  // namespace

namespace {

// Items are translated: the keyword ends in "Static".
QComboBox* AddCombo(QWidget* parent, QLayout* layout, const char* name, const QString& key, const QStringList& items,
                    int index) {
  auto* c = new QComboBox(parent);
  c->setObjectName(QLatin1String(name));
  platform::SetHelpKeyword(c, key);
  c->addItems(items);
  c->setCurrentIndex(index);
  layout->addWidget(c);
  return c;
}

}  // namespace

namespace {
const char* const kPanelNames[4] = {"Panel13", "Panel36", "Panel37", "Panel38"};
}  // namespace

void TFanChartPage::Build() {
  TFanChartPage& f = *this;
  QWidget* page = Tab();
  auto* outer = new QVBoxLayout(page);
  outer->setContentsMargins(2, 2, 2, 2);

  // The option rows sit on a saved panel: their state goes to the settings file.
  auto* options = new platform::TPanel(page, QStringLiteral("Panel12"));
  platform::SetControlTag(options, 1);
  options->setFrameShape(QFrame::NoFrame);
  auto* rows = new QVBoxLayout(options);
  rows->setContentsMargins(0, 0, 0, 0);
  // The option rows wrap when the window is narrow, so that every control stays reachable.
  auto* row1 = new platform::TFlowLayout;
  auto* row2 = new platform::TFlowLayout;
  rows->addLayout(row1);
  rows->addLayout(row2);

  f.SpeedButton4 = new QToolButton(options);
  f.SpeedButton4->setObjectName(QStringLiteral("SpeedButton4"));
  f.SpeedButton4->setText(QStringLiteral("Создать"));
  platform::SetHelpKeyword(f.SpeedButton4, QStringLiteral("Create"));
  row1->addWidget(f.SpeedButton4);
  f.ComboBox12 = AddCombo(options, row1, "ComboBox12", QStringLiteral("FanDirectionStatic"), {QStringLiteral("Предки"), QStringLiteral("Потомки")}, 0);
  f.SpinEdit1 = new QSpinBox(options);
  f.SpinEdit1->setObjectName(QStringLiteral("SpinEdit1"));
  f.SpinEdit1->setRange(2, 15);
  f.SpinEdit1->setValue(8);
  row1->addWidget(f.SpinEdit1);
  f.CheckBox82 = AddCheck(options, row1, QStringLiteral("CheckBox82"), QStringLiteral("Авто"), QStringLiteral("Auto"), false);
  f.ComboBox8 = AddCombo(options, row1, "ComboBox8", QStringLiteral("FanTypeStatic"),
                         {QStringLiteral("Полный круг"), QStringLiteral("Секторная"), QStringLiteral("Сотовая пропорц"),
                          QStringLiteral("Сотовая оптим.1"), QStringLiteral("Сотовая оптим.2")},
                         0);
  f.ComboBox7 = AddCombo(options, row1, "ComboBox7", QStringLiteral("FanColoringStatic"),
                         {QStringLiteral("Черно-белая"), QStringLiteral("Двухцветная"), QStringLiteral("Разноцветная")}, 2);
    const TFanOptions defaults;
  for (int i = 0; i < 4; ++i) {
    auto* p = new platform::TPanel(options, QLatin1String(kPanelNames[i]));
    p->setFixedSize(22, 22);
    p->setFrameShape(QFrame::Box);
    p->SetColor(int(defaults.Colors[size_t(i)]));
    row1->addWidget(p);
    f.Panels[i] = p;
    connect(p, &platform::TPanel::Clicked, this, [this, p] { RunCommand(host(), [&] { Panel13Click(p); }); });
  }
  f.ComboBox6 = AddCombo(options, row1, "ComboBox6", QStringLiteral("FanTextStatic"),
                         {QStringLiteral("Текст - вниз"), QStringLiteral("Низом к центру"), QStringLiteral("Верхом к центру ")},
                         0);
  row1->addStretch(1);

  f.Label9 = new QLabel(options);
  f.Label9->setObjectName(QStringLiteral("Label9"));
  row2->addWidget(f.Label9);
  f.CheckBox1 = AddCheck(options, row2, QStringLiteral("CheckBox1"), QStringLiteral("Фамилия"), QStringLiteral("LastName"), true);
  f.CheckBox2 = AddCheck(options, row2, QStringLiteral("CheckBox2"), QStringLiteral("Фам.при рожд."), QStringLiteral("BirthSurname"), true);
  f.CheckBox9 = AddCheck(options, row2, QStringLiteral("CheckBox9"), QStringLiteral("(в скобки)"), QStringLiteral("InBrackets"), true);
  f.CheckBox3 = AddCheck(options, row2, QStringLiteral("CheckBox3"), QStringLiteral("Имя"), QStringLiteral("FirstName"), true);
  f.CheckBox4 = AddCheck(options, row2, QStringLiteral("CheckBox4"), QStringLiteral("Отчество"), QStringLiteral("Patronymic"), true);
  f.CheckBox5 = AddCheck(options, row2, QStringLiteral("CheckBox5"), QStringLiteral("Годы жизни"), QStringLiteral("YearsLife"), true);
  f.CheckBox6 = AddCheck(options, row2, QStringLiteral("CheckBox6"), QStringLiteral("Даты жизни"), QStringLiteral("DatesLife"), false);
  f.CheckBox10 = AddCheck(options, row2, QStringLiteral("CheckBox10"), QStringLiteral("(в скобки)"), QStringLiteral("InBrackets"), false);
  f.CheckBox88 = AddCheck(options, row2, QStringLiteral("CheckBox88"), QStringLiteral("Сгладить"), QStringLiteral("Smooth"), true);
  f.CheckBox88->setVisible(false);
  f.ComboBox1 = new QComboBox(options);
  f.ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
  f.ComboBox1->setEditable(true);
  f.ComboBox1->setMinimumContentsLength(7);
  f.ComboBox1->addItems(FanZoomItems());
  f.ComboBox1->setCurrentText(kFanZoomFitHeight);
  fitText_ = kFanZoomFitHeight;
  row2->addWidget(f.ComboBox1);
  f.PrintButton = new QToolButton(options);
  f.PrintButton->setObjectName(QStringLiteral("SpeedButtonFanPrint"));
  f.PrintButton->setText(QStringLiteral("Печатать"));
  platform::SetHelpKeyword(f.PrintButton, QStringLiteral("Print"));
  row2->addWidget(f.PrintButton);
  f.SaveButton = new QToolButton(options);
  f.SaveButton->setObjectName(QStringLiteral("SpeedButtonFanSave"));
  f.SaveButton->setText(QStringLiteral("Сохранить"));
  platform::SetHelpKeyword(f.SaveButton, QStringLiteral("Save"));
  row2->addWidget(f.SaveButton);
  row2->addStretch(1);
  outer->addWidget(options);

  f.ScrollBox1 = new QScrollArea(page);
  f.ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
  f.ScrollBox1->setWidgetResizable(false);
  f.ScrollBox1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  f.Image2 = new TFanImage(f.ScrollBox1);
  f.Image2->resize(1, 1);
  f.ScrollBox1->setWidget(f.Image2);
  f.Image2->installEventFilter(new TPanFilter(f.ScrollBox1));
  outer->addWidget(f.ScrollBox1, 1);

  // The chart's context menu: printing and saving in parts.
  f.PopupMenu1 = new QMenu(page);
  f.PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  QMenu* print = f.PopupMenu1->addMenu(QStringLiteral("Печать"));
  print->menuAction()->setStatusTip(QStringLiteral("Print"));
  QMenu* save = f.PopupMenu1->addMenu(QStringLiteral("Сохранение"));
  save->menuAction()->setStatusTip(QStringLiteral("Save"));
  auto item = [this](QMenu* m, const char* name, const QString& caption, const char* key,
                     void (TFanChartPage::*handler)()) {
    QAction* a = m->addAction(caption);
    a->setObjectName(QLatin1String(name));
    a->setStatusTip(QLatin1String(key));
    connect(a, &QAction::triggered, this, [this, handler] { RunCommand(host(), [&] { (this->*handler)(); }); });
  };
  item(print, "N13", QStringLiteral("Без разбивки"), "PrintOnePage", &TFanChartPage::N13Click);
  item(print, "N21", QStringLiteral("Разбить на 2 страницы"), "PrintTwoPages", &TFanChartPage::N21Click);
  item(print, "N41", QStringLiteral("Разбить на 4 страницы"), "PrintFourPages", &TFanChartPage::N41Click);
  item(save, "N14", QStringLiteral("Одним файлом"), "SaveOneFile", &TFanChartPage::N14Click);
  item(save, "N22", QStringLiteral("Разбить на 2 файла"), "SaveTwoFiles", &TFanChartPage::N22Click);
  item(save, "N42", QStringLiteral("Разбить на 4 файла"), "SaveFourFiles", &TFanChartPage::N42Click);
  f.Image2->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(f.Image2, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupMenu1->popup(Image2->mapToGlobal(pos)); });

  connect(f.SpeedButton4, &QToolButton::clicked, this, [this] { RunCommand(host(), [this] { SpeedButton4Click(); }); });
  connect(f.PrintButton, &QToolButton::clicked, this, [this] { RunCommand(host(), [this] { PrintFanChart(1); }); });
  connect(f.SaveButton, &QToolButton::clicked, this, [this] { RunCommand(host(), [this] { SaveFanChart(1); }); });
  connect(f.ComboBox1, &QComboBox::currentTextChanged, this, [this] { RunCommand(host(), [this] { ComboBox1Change(); }); });
  connect(f.CheckBox88, &QCheckBox::clicked, this, [this] { RunCommand(host(), [this] { CheckBox88Click(); }); });
  connect(f.ComboBox7, &QComboBox::currentIndexChanged, this, [this] { ComboBox7Change(); });
  connect(f.SpinEdit1, &QSpinBox::valueChanged, this, [this](int v) {
    if (v > kFanMaxGenerations) SpinEdit1->setValue(kFanMaxGenerations);
  });
  connect(f.CheckBox82, &QCheckBox::toggled, this, [this](bool on) { SpinEdit1->setEnabled(!on); });
  // "Годы жизни" and "Даты жизни" exclude each other; unticking leaves both unticked.
  connect(f.CheckBox5, &QCheckBox::toggled, this, [this](bool on) {
    if (on) CheckBox6->setChecked(false);
  });
  connect(f.CheckBox6, &QCheckBox::toggled, this, [this](bool on) {
    if (on) CheckBox5->setChecked(false);
  });
  ComboBox7Change();
}

void TFanChartPage::FormShow() {
  ComboBox7Change();
  SpinEdit1->setEnabled(!CheckBox82->isChecked());
}

void TFanChartPage::ComboBox7Change() {
  TFanChartPage& f = *this;
  const int c = f.ComboBox7->currentIndex();
  f.Panels[0]->setVisible(c == 1 || c == 2);
  f.Panels[3]->setVisible(c == 1 || c == 2);
  f.Panels[1]->setVisible(c == 2);
  f.Panels[2]->setVisible(c == 2);
}

void TFanChartPage::Panel13Click(QWidget* panel) {
  auto* p = qobject_cast<platform::TPanel*>(panel);
  if (!p) return;
  platform::TColor color = platform::TColor(std::max(0, p->Color()));
  if (host().Dialogs().Color(color)) p->SetColor(int(color & 0xFFFFFF));
}

void TFanChartPage::SpeedButton4Click() {
  if (host().Busy()) return;  // the model is being read
  host().ShowPage(Tab());
  const int direction = ComboBox12->currentIndex() == 1 ? 1 : 0;
  layout_.SetRunningSums(direction);
  {
    TBusyCursor busy;
    const std::int64_t p = host().CurrentPerson();
    const QString current = p > 0 ? QString::number(p) : QString();
    Model& m = host().model();
    if (direction == 0) {
      if (::FillTree(m, host().Ancestors(), current, m.LoadCount)) host().OutputReady();
    } else if (!FillTree2()) {
      // A stopped build leaves part of the list: no chart is drawn from it.
      picture_.SetSize(0, 0);
      Label9->setText(QString());
      Image2->SetImage(QImage());
      return;
    }
  }
  fanChart(direction);
  ReScaleFanChart();
}

bool TFanChartPage::FillTree2() {
  TFanListOptions o;
  o.Auto = CheckBox82->isChecked();
  o.Generations = SpinEdit1->value();
  o.FanType = ComboBox8->currentIndex();
  const std::int64_t p = host().CurrentPerson();
  // A long build shows its progress and stops on "Прервать" or Esc.
  const TLongRun run(host());
  const std::int64_t most = std::int64_t(1.5 * double(host().model().aIndi.size()));
  bool stopped = false;
  ::FillTree2(host().model(), fanList_, p > 0 ? QString::number(p) : QString(), o,
              [this, most, &stopped](std::int64_t entries) {
                stopped = host().Progress(entries, most);
                return !stopped;
              });
  return !stopped;
}

void TFanChartPage::fanChart(int iType) {
  TFanChartPage& f = *this;
  TFanOptions o;
  o.Direction = iType;
  o.Generations = f.SpinEdit1->value();
  o.Auto = f.CheckBox82->isChecked();
  o.FanType = std::max(0, f.ComboBox8->currentIndex());
  o.Coloring = std::max(0, f.ComboBox7->currentIndex());
  o.Orientation = std::max(0, f.ComboBox6->currentIndex());
  o.Surname = f.CheckBox1->isChecked();
  o.BirthSurname = f.CheckBox2->isChecked();
  o.NameBrackets = f.CheckBox9->isChecked();
  o.FirstName = f.CheckBox3->isChecked();
  o.Patronymic = f.CheckBox4->isChecked();
  o.Years = f.CheckBox5->isChecked();
  o.Dates = f.CheckBox6->isChecked();
  o.DateBrackets = f.CheckBox10->isChecked();
  for (int i = 0; i < 4; ++i) o.Colors[size_t(i)] = platform::TColor(std::max(0, f.Panels[i]->Color()) & 0xFFFFFF);
  TBusyCursor busy;
  // A big chart takes seconds to draw: it shows its progress and stops on "Прервать" or Esc.
  const TLongRun run(host());
  TFanProgress progress;
  if (run.Started()) progress = [this](int drawn, int most) { return !host().Progress(drawn, most); };
  const TFanResult r = ::fanChart(iType, o, layout_, host().Ancestors().aPers, fanList_, picture_, nullptr, progress);
  f.Label9->setText(r.Drawn ? r.Label : QString());
  if (!r.Drawn) f.Image2->SetImage(QImage());
}

void TFanChartPage::ReScaleFanChart() {
  TFanChartPage& f = *this;
  const QImage& pic = picture_.Image();
  if (pic.isNull() || pic.width() <= 0) return;
  const QSize box = f.ScrollBox1->viewport()->size();
  QString zoom = f.ComboBox1->currentText();
  if (zoom == fitText_) zoom = kFanZoomFitHeight;
  const TFanZoom z = FanZoomFor(zoom, pic.width(), box);
  f.Image2->SetImage(QImage());
  if (z.OverBudget)
    host().Dialogs().Message(ChartText(QStringLiteral("FanZoomTooLarge"),
                                          QStringLiteral("Масштаб слишком велик; картинка вписана в окно.")));
  if (z.mode == TFanZoom::FullSize) {
    f.Image2->SetImage(pic);
  } else {
    f.Image2->SetImage(FanScaledCopy(pic, z.Side));
  }
  const QPoint scroll = z.Percent > 0 ? FanZoomScroll(int(qint64(z.Percent) * pic.width() / 100), box) : QPoint();
  f.ScrollBox1->horizontalScrollBar()->setValue(scroll.x());
  f.ScrollBox1->verticalScrollBar()->setValue(scroll.y());
}

void TFanChartPage::LanguageChanged() {
  const QString fit = host().Lang(QStringLiteral("FanZoomFitHeight"), kFanZoomFitHeight);
  const QString now = ComboBox1->currentText();
  if (now == fitText_ || now == kFanZoomFitHeight) {
    const QSignalBlocker block(ComboBox1);
    ComboBox1->setCurrentText(fit);
  }
  fitText_ = fit;
}

void TFanChartPage::ComboBox1Change() { ReScaleFanChart(); }

void TFanChartPage::CheckBox88Click() { ComboBox1Change(); }

void TFanChartPage::PrintFanChart(int iCount) {
  PrintFanPicture(picture_.Image(), iCount, host().Dialogs(), host().Printer());
}

void TFanChartPage::FileLoaded() {
  picture_.SetSize(0, 0);
  fanList_ = TFanList();
  Image2->SetImage(QImage());
}

void TFanChartPage::SaveFanChart(int iCount) { SaveFanPicture(picture_.Image(), iCount, host().Dialogs()); }

void TFanChartPage::SaveSettings(platform::TIniFile& ini) {
  QStringList colors;
  for (const platform::TPanel* p : Panels) colors << QString::number(p->Color());
  ini.WriteString(kOptionsSection, QStringLiteral("FanChartColors"), colors.join(QLatin1Char(';')));
}

void TFanChartPage::LoadSettings(const platform::TIniFile& ini) {
  const QString c = ini.ReadString(kOptionsSection, QStringLiteral("FanChartColors"), QString());
  const QStringList parts = c.split(QLatin1Char(';'));
  if (parts.size() != 4) return;
  int values[4];
  for (int i = 0; i < 4; ++i) {
    bool ok = false;
    values[i] = parts[i].trimmed().toInt(&ok);
    if (!ok || values[i] < 0 || values[i] > 0xFFFFFF) return;  // the designed colours stay
  }
  for (int i = 0; i < 4; ++i) Panels[i]->SetColor(values[i]);
}
