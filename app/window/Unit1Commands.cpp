// The page registry and the commands that act on the active page: the toolbar's run, print, save and help,
// their drop-down menus, the page control's context menu and the report menu; and the services the window
// gives its pages (TPageHost). Every command goes through RunCommand, the one error path.
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPrinter>
#include <QTextDocument>
#include <QUrl>

#include "app/charts/Ancestors.h"
#include "app/charts/ChartOutput.h"
#include "app/core/Model.h"
#include "app/window/PageRegistry.h"
#include "app/window/Unit1.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/MessageFormat.h"
#include "platform/qt/PageSink.h"
#include "platform/qt/RtfWriter.h"

namespace {

QAction* AddItem(QMenu* menu, const QString& caption, const QString& key) {
  QAction* a = menu->addAction(caption);
  if (!key.isEmpty()) a->setStatusTip(key);
  return a;
}

}  // namespace

void TForm1::BuildPages() {
  ancestors_ = std::make_unique<TAncestorList>();
  printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
  printerSink_ = std::make_unique<platform::TPrinterSink>(*printer_);
  dialogs_ = std::make_unique<platform::TQtDialogs>(this);
  SetChartTranslator([this](const QString& key, const QString& def) { return Lang(key, def); });
  for (const TPageEntry& e : ReportPageEntries()) {
    auto* tab = new QWidget;
    tab->setObjectName(QLatin1String(e.tabName));
    platform::SetControlTag(tab, 1);
    platform::SetHelpKeyword(tab, QLatin1String(e.key));
    PageControl1->addTab(tab, QString::fromUtf8(e.caption));
    pages_.push_back(e.make(*this, tab));
    pages_.back()->Build();
  }
}

TReportPage* TForm1::CurrentPage() const {
  const QWidget* tab = PageControl1->currentWidget();
  for (const auto& p : pages_)
    if (p->Tab() == tab) return p.get();
  return nullptr;
}

// --- Services of the pages ---

TAncestorList& TForm1::Ancestors() { return *ancestors_; }

void TForm1::ShowPage(QWidget* tab) { PageControl1->setCurrentWidget(tab); }

bool TForm1::IsCurrentPage(const QWidget* tab) const { return PageControl1->currentWidget() == tab; }

void TForm1::OutputReady() {
  for (QWidget* w : {static_cast<QWidget*>(ToolButton1), static_cast<QWidget*>(ToolButton2)}) {
    bool locked = false;
    for (auto& [control, enabled] : lockedStates_)
      if (control == w) enabled = locked = true;  // enabled once the run has ended
    if (!locked) w->setEnabled(true);
  }
}

void TForm1::SetGaugeMaximum(std::int64_t maximum) {
  // A range of 0..0 makes the bar an endless "busy" animation: an empty tree or list keeps a range of 1.
  Gauge5->setMaximum(static_cast<int>(std::clamp<std::int64_t>(maximum, 1, INT32_MAX)));
}

void TForm1::LockCommands(bool locked) {
  if (locked) {
    if (!lockedStates_.empty()) return;
    std::vector<QWidget*> controls = {ToolButton0, ToolButton6, ToolButton1, ToolButton2, ToolButton3, ComboBox9,
                                      PageControl5};
    for (const auto& page : pages_) controls.push_back(page->Tab());
    for (QWidget* w : controls) {
      lockedStates_.emplace_back(w, w->isEnabled());
      w->setEnabled(false);
    }
    return;
  }
  for (const auto& [control, enabled] : lockedStates_) control->setEnabled(enabled);
  lockedStates_.clear();
}

bool TForm1::BeginLongRun() {
  if (busy_) return false;
  busy_ = true;
  model().AbortFlag = false;
  LockCommands(true);
  ToolButton4->setEnabled(true);
  return true;
}

void TForm1::EndLongRun() {
  ToolButton4->setEnabled(false);
  Gauge5->setValue(0);
  LockCommands(false);
  busy_ = false;
  CloseIfPending();
}

bool TForm1::Progress(std::int64_t position, std::int64_t maximum) {
  SetGaugeMaximum(maximum);
  Gauge5->setValue(static_cast<int>(std::clamp<std::int64_t>(position, 0, INT32_MAX)));
  QCoreApplication::processEvents();
  return model().AbortFlag;
}

void TForm1::SetDialogs(std::unique_ptr<platform::TDialogs> dialogs) { dialogs_ = std::move(dialogs); }
void TForm1::SetPrinterSink(std::unique_ptr<platform::TPageSink> sink) { printerSink_ = std::move(sink); }

void TForm1::SetPrinterLandscape(bool landscape) {
  if (printer_) printer_->setPageOrientation(landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
}

void TForm1::PrintRichText(const QTextDocument& document, const QString& title) {
  if (!dialogs_->Print(*printerSink_)) return;
  if (!printerSink_->PrintDocument(document, title))
    dialogs_->Message(ChartText(QStringLiteral("PrintFailed"), QStringLiteral("Не удалось напечатать:")) + QLatin1Char(' ') +
                      printerSink_->LastError());
}

void TForm1::SaveRichText(const QTextDocument& document) {
  QString name;
  int index = 1;
  if (!dialogs_->Save(QStringLiteral("File RTF|*.rtf"), name, index)) return;
  const QString error = platform::WriteRtfFile(name, document);
  if (!error.isEmpty())
    dialogs_->Message(ChartText(QStringLiteral("SaveFailed"), QStringLiteral("Не удалось сохранить файл:")) + QLatin1Char(' ') +
                      error);
}

void TForm1::PrintPicture(const QImage& picture) { PrintBitMap(picture, *dialogs_, *printerSink_); }
void TForm1::SavePicture(const QImage& picture) { SaveBitMap(picture, *dialogs_); }

// --- Commands on the active page ---

void TForm1::ToolButton3Click() {
  if (busy_) return;
  if (TReportPage* page = CurrentPage()) page->Run();
}

void TForm1::ToolButton1Click() {
  if (TReportPage* page = CurrentPage()) page->Print();
}

void TForm1::ToolButton2Click() {
  if (TReportPage* page = CurrentPage()) page->Save();
}

QString TForm1::HelpFileName() {
  const QString base = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
  return ProgramDir() + (base.isEmpty() ? QStringLiteral("trevolan") : base) + QStringLiteral(".chm");
}

void TForm1::ToolButton5Click() {
  // No help file ships with the program: the user learns that instead of seeing nothing happen.
  const QString help = HelpFileName();
  if (QFileInfo::exists(help) && QDesktopServices::openUrl(QUrl::fromLocalFile(help))) return;
  Dialogs().Message(platform::FormatMsg(
      Lang(QStringLiteral("NoHelpFile"), QStringLiteral("Справка не установлена: файла \"%s\" нет.")),
      {QDir::toNativeSeparators(help)}));
}

void TForm1::PersInfo() {
  for (const auto& page : pages_) page->PersonChanged();
}

void TForm1::WireCommands() {
  auto command = [this](void (TForm1::*fn)()) { return [this, fn] { RunCommand(*this, [&] { (this->*fn)(); }); }; };
  connect(ToolButton3, &QToolButton::clicked, this, command(&TForm1::ToolButton3Click));
  connect(ToolButton1, &QToolButton::clicked, this, command(&TForm1::ToolButton1Click));
  connect(ToolButton2, &QToolButton::clicked, this, command(&TForm1::ToolButton2Click));
  connect(ToolButton5, &QToolButton::clicked, this, command(&TForm1::ToolButton5Click));

  // Save and print drop-downs: the split variants belong to pages that print and save in parts.
  QAction* save1 = AddItem(PopupMenu2, QStringLiteral("Одним файлом"), QStringLiteral("SaveOneFile"));
  QAction* save2 = AddItem(PopupMenu2, QStringLiteral("Разбить на 2 файла"), QStringLiteral("SaveTwoFiles"));
  QAction* save4 = AddItem(PopupMenu2, QStringLiteral("Разбить на 4 файла"), QStringLiteral("SaveFourFiles"));
  QAction* print1 = AddItem(PopupMenu3, QStringLiteral("Без разбивки"), QStringLiteral("PrintOnePage"));
  QAction* print2 = AddItem(PopupMenu3, QStringLiteral("Разбить на 2 страницы"), QStringLiteral("PrintTwoPages"));
  QAction* print4 = AddItem(PopupMenu3, QStringLiteral("Разбить на 4 страницы"), QStringLiteral("PrintFourPages"));
  connect(save1, &QAction::triggered, this, command(&TForm1::ToolButton2Click));
  connect(print1, &QAction::triggered, this, command(&TForm1::ToolButton1Click));
  auto splitEnabling = [this](QMenu* menu) {
    const TReportPage* page = CurrentPage();
    const QList<QAction*> items = menu->actions();
    for (int i = 1; i < items.size() && i <= 2; ++i) items[i]->setEnabled(page && page->HasParts());
  };
  connect(PopupMenu2, &QMenu::aboutToShow, this, [this, splitEnabling] { splitEnabling(PopupMenu2); });
  connect(PopupMenu3, &QMenu::aboutToShow, this, [this, splitEnabling] { splitEnabling(PopupMenu3); });
  auto parts = [this](bool print, int n) {
    return [this, print, n] {
      RunCommand(*this, [&] {
        TReportPage* page = CurrentPage();
        if (!page || !page->HasParts()) return;
        if (print)
          page->PrintParts(n);
        else
          page->SaveParts(n);
      });
    };
  };
  connect(save2, &QAction::triggered, this, parts(false, 2));
  connect(save4, &QAction::triggered, this, parts(false, 4));
  connect(print2, &QAction::triggered, this, parts(true, 2));
  connect(print4, &QAction::triggered, this, parts(true, 4));

  // Context menu of the page control.
  PopupMenu4 = new QMenu(this);
  PopupMenu4->setObjectName(QStringLiteral("PopupMenu4"));
  QAction* ctxPrint = AddItem(PopupMenu4, QStringLiteral("Печать"), QStringLiteral("Print"));
  QAction* ctxSave = AddItem(PopupMenu4, QStringLiteral("Сохранение"), QStringLiteral("Save"));
  connect(ctxPrint, &QAction::triggered, this, command(&TForm1::ToolButton1Click));
  connect(ctxSave, &QAction::triggered, this, command(&TForm1::ToolButton2Click));
  connect(PopupMenu4, &QMenu::aboutToShow, this, [this, ctxPrint, ctxSave] {
    const int pos = PageControl1->currentIndex();
    const bool off = pos == 9 || pos == 10;  // duplicate search and group edit tools
    ctxPrint->setEnabled(!off && ToolButton1->isEnabled());
    ctxSave->setEnabled(!off && ToolButton2->isEnabled());
  });
  PageControl1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(PageControl1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupMenu4->popup(PageControl1->mapToGlobal(pos)); });

  // The report menu: each item shows its page, then the page decides what its item does.
  const auto& entries = ReportPageEntries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!entries[i].menuCaption) continue;
    QAction* a = AddItem(PopupMenu5, QString::fromUtf8(entries[i].menuCaption), QLatin1String(entries[i].menuKey));
    TReportPage* page = pages_[i].get();
    connect(a, &QAction::triggered, this, [this, page] {
      RunCommand(*this, [&] {
        ShowPage(page->Tab());
        if (!busy_) page->ReportMenuItem();
      });
    });
  }
  DBGrid1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(DBGrid1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupMenu5->popup(DBGrid1->viewport()->mapToGlobal(pos)); });
}
