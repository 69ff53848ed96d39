#include "app/window/ExportPage.h"
#include "app/window/PageControls.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/core/Model.h"
#include "platform/qt/Controls.h"
#include "platform/qt/Dialogs.h"

namespace {

QPushButton* AddPushButton(QWidget* parent, QLayout* layout, const QString& name, const QString& caption, const QString& key) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(name);
  platform::SetHelpKeyword(b, key);
  layout->addWidget(b);
  return b;
}

}  // namespace

void TExportPage::Build() {
  QWidget* page = Tab();
  auto* layout = new QHBoxLayout(page);
  auto* group = new QGroupBox(QStringLiteral("Выбор данных для экспорта"), page);
  group->setObjectName(QStringLiteral("GroupBox12"));
  platform::SetHelpKeyword(group, QStringLiteral("ExportChoice"));
  auto* gl = new QVBoxLayout(group);
  CheckListBox1 = new QListWidget(group);
  CheckListBox1->setObjectName(QStringLiteral("CheckListBox1"));
  platform::SetHelpKeyword(CheckListBox1, QStringLiteral("ExportFields"));
  for (const QString& caption : CsvFieldCaptions()) {
    auto* item = new QListWidgetItem(caption, CheckListBox1);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
  }
  gl->addWidget(CheckListBox1);
  layout->addWidget(group, 2);

  auto* side = new QVBoxLayout;
  layout->addLayout(side, 1);
  Button2 = AddPushButton(page, side, QStringLiteral("Button2"), QStringLiteral("Все выделить"), QStringLiteral("SelectAll"));
  Button4 = AddPushButton(page, side, QStringLiteral("Button4"), QStringLiteral("Все снять"), QStringLiteral("UnselectAll"));
  Button3 = AddPushButton(page, side, QStringLiteral("Button3"), QStringLiteral("Экспорт"), QStringLiteral("ExportRun"));
  Gauge3 = new QProgressBar(page);
  Gauge3->setObjectName(QStringLiteral("Gauge3"));
  Gauge3->hide();
  side->addWidget(Gauge3);
  Label31 = new QLabel(page);
  Label31->setObjectName(QStringLiteral("Label31"));
  Label8 = new QLabel(page);
  Label8->setObjectName(QStringLiteral("Label8"));
  side->addWidget(Label31);
  side->addWidget(Label8);
  side->addStretch();

  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
  connect(Button3, &QPushButton::clicked, this, [this] { RunCommand(host(), [this] { Button3Click(); }); });
}

void TExportPage::Button2Click() {
  for (int i = 0; i < CheckListBox1->count(); ++i) CheckListBox1->item(i)->setCheckState(Qt::Checked);
}

void TExportPage::Button4Click() {
  for (int i = 0; i < CheckListBox1->count(); ++i) CheckListBox1->item(i)->setCheckState(Qt::Unchecked);
}

TCsvFields TExportPage::Checked() const {
  TCsvFields f{};
  for (int i = 0; i < CheckListBox1->count() && i < kCsvFieldCount; ++i)
    f[static_cast<std::size_t>(i)] = CheckListBox1->item(i)->checkState() == Qt::Checked;
  return f;
}

void TExportPage::Button3Click() {
  if (host().Busy()) return;
  host().ShowPage(Tab());
  GedcomDataExport();
}

void TExportPage::GedcomDataExport() {
  QStringList captions;
  for (int i = 0; i < CheckListBox1->count(); ++i) captions << CheckListBox1->item(i)->text();
  TCsvResult r;
  {
    TLongRun run(host());
    if (!run.Started()) return;
    TBusyCursor busy;
    const std::int64_t last = host().model().PersonCount();
    Gauge3->setRange(0, static_cast<int>(std::max<std::int64_t>(0, last)));
    Gauge3->setValue(0);
    Gauge3->show();
    QElapsedTimer timer;
    timer.start();
    r = ::GedcomDataExport(host().model(), Checked(), captions,
                           [this](const QString& key, const QString& def) { return host().Lang(key, def); },
                           [&](std::int64_t i, std::int64_t maximum) {
                             Gauge3->setValue(static_cast<int>(i));
                             if (i % 50 == 0) {
                               Label31->setText(Elapsed(timer.elapsed()));
                               Label8->setText(QStringLiteral("%1/%2").arg(i).arg(maximum));
                             }
                             return host().Progress(i, maximum);
                           });
    Label31->setText(Elapsed(timer.elapsed()));
    // A stopped export says how far it went, not that it went to the end.
    Label8->setText(QStringLiteral("%1/%2").arg(r.Stopped ? r.Persons : last).arg(last));
  }
  // The lines made so far are offered also after a stop.
  QString name;
  int filter = 2;
  const bool chosen = host().Dialogs().Save(QStringLiteral("File TXT|*.txt|File CSV|*.csv|File BMP|*.bmp|File JPG|*.jpg"), name, filter);
  Gauge3->hide();
  if (!chosen || name.isEmpty()) return;
  if (QFileInfo(name).suffix().isEmpty()) name += QStringLiteral(".txt");
  TCsvWriteError error;
  if (!WriteCsvFile(name, r.Lines, host().LoadedFile(), &error)) {
    QString text = host().Lang(QStringLiteral("SaveFailed"), QStringLiteral("Не удалось сохранить файл:")) + QLatin1Char(' ') + name;
    if (!error.message.isEmpty()) text += QLatin1Char('\n') + error.message;
    host().ShowError(text);
  }
}
