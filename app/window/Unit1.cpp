#include "app/window/Unit1.h"
#include "app/window/KinshipPage.h"

#include <QApplication>
#include <QPrinter>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QStandardPaths>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <QVBoxLayout>

#include <optional>

#include "app/charts/Ancestors.h"
#include "app/charts/ChartOutput.h"
#include "sources/Unit2.h"
#include "app/window/FormSettings.h"
#include "app/core/GedcomReader.h"
#include "app/core/Model.h"
#include "app/core/PersonList.h"
#include "app/core/UnitFunc.h"
#include "app/core/trans.h"
#include "app/window/FormTranslation.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/MessageFormat.h"
#include "platform/qt/PageSink.h"
#include "sources/At5Reader.h"
#include "sources/FamilyTreeFile.h"

namespace {

TForm1* g_form = nullptr;
QString g_programDir;

QToolButton* AddToolButton(QToolBar* bar, const QString& name, const QString& caption, const QString& key,
                           const QString& hint) {
  auto* b = new QToolButton(bar);
  b->setObjectName(name);
  b->setText(caption);
  b->setToolTip(hint);
  platform::SetHelpKeyword(b, key);
  b->setToolButtonStyle(Qt::ToolButtonTextOnly);
  bar->addWidget(b);
  return b;
}

}  // namespace

TForm1* Form1() { return g_form; }

void TForm1::SetProgramDir(const QString& dir) {
  g_programDir = dir;
  if (!g_programDir.isEmpty() && !g_programDir.endsWith(QLatin1Char('/'))) g_programDir += QLatin1Char('/');
}

QString TForm1::ProgramDir() {
  if (!g_programDir.isEmpty()) return g_programDir;
  return QCoreApplication::applicationDirPath() + QLatin1Char('/');
}

QString TForm1::IniFileName() {
  const QString base = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
  const QString name = (base.isEmpty() ? QStringLiteral("trevolan") : base) + QStringLiteral(".ini");
  const QString dir = ProgramDir();
  if (QFileInfo(dir).isWritable()) return dir + name;
  const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  QDir().mkpath(config);
  return config + QLatin1Char('/') + name;
}

QString TForm1::SettingsFolder() const { return QFileInfo(IniFileName()).absolutePath() + QLatin1Char('/'); }

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
  g_form = this;
  BuildShell();
  BuildPages();
  WireCommands();
}

TForm1::~TForm1() {
  pages_.clear();
  SetChartTranslator(nullptr);  // it asks this window's translation file
  // Nothing may call back into the window while its widgets go.
  QObject::disconnect(focusConnection_);
  if (hintFilter_) qApp->removeEventFilter(this);
  ClientDataSet1->AfterScroll = nullptr;
  for (QObject* child : findChildren<QObject*>()) child->disconnect(this);
  if (g_form == this) g_form = nullptr;
}

Model& TForm1::model() const { return TheModel(); }

QString TForm1::Lang(const QString& key, const QString& def) const {
  return GetLangString(key, langIni_.get(), def);
}

void TForm1::BuildShell() {
  setObjectName(QStringLiteral("Form1"));
  platform::SetControlTag(this, 1);
  platform::SetHelpKeyword(this, QStringLiteral("FormCaption"));
  setWindowTitle(kFormCaption);
  resize(1200, 760);
  auto* main = new QVBoxLayout(this);
  main->setContentsMargins(2, 2, 2, 2);
  main->setSpacing(2);

  ToolBar1 = new QToolBar(this);
  ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
  ToolBar1->setToolButtonStyle(Qt::ToolButtonTextOnly);
  main->addWidget(ToolBar1);
  ToolButton0 = AddToolButton(ToolBar1, QStringLiteral("ToolButton0"), QStringLiteral("Открыть"),
                              QStringLiteral("Open"), QStringLiteral("Открыть файл"));
  ToolButton6 = AddToolButton(ToolBar1, QStringLiteral("ToolButton6"), QStringLiteral("Перечитать"),
                              QStringLiteral("Refresh"), QStringLiteral("Перечитать файл"));
  ToolButton1 = AddToolButton(ToolBar1, QStringLiteral("ToolButton1"), QStringLiteral("Печатать"),
                              QStringLiteral("Print"), QStringLiteral("Напечатать отчет"));
  ToolButton2 = AddToolButton(ToolBar1, QStringLiteral("ToolButton2"), QStringLiteral("Сохранить"),
                              QStringLiteral("Save"), QStringLiteral("Сохранить отчет"));
  ToolButton3 = AddToolButton(ToolBar1, QStringLiteral("ToolButton3"), QStringLiteral("Выполнить"),
                              QStringLiteral("Run"),
                              QStringLiteral("Выполнить текущий отчет или другой из списка"));
  ToolButton4 = AddToolButton(ToolBar1, QStringLiteral("ToolButton4"), QStringLiteral("Прервать"),
                              QStringLiteral("Stop"), QStringLiteral("Прервать операцию"));
  ToolButton5 = AddToolButton(ToolBar1, QStringLiteral("ToolButton5"), QStringLiteral("Справка"),
                              QStringLiteral("Help"), QStringLiteral("Открыть файл справки"));
  ToolButton7 = AddToolButton(ToolBar1, QStringLiteral("ToolButton7"), QStringLiteral("Выход"),
                              QStringLiteral("Exit"), QStringLiteral("Закрыть программу"));
  auto menu = [this](const QString& name) {
    auto* m = new QMenu(this);
    m->setObjectName(name);
    return m;
  };
  PopupMenu6 = menu(QStringLiteral("PopupMenu6"));
  PopupMenu2 = menu(QStringLiteral("PopupMenu2"));
  PopupMenu3 = menu(QStringLiteral("PopupMenu3"));
  PopupMenu5 = menu(QStringLiteral("PopupMenu5"));
  PopupMenu7 = menu(QStringLiteral("PopupMenu7"));
  ToolButton0->setMenu(PopupMenu6);
  ToolButton1->setMenu(PopupMenu3);
  ToolButton2->setMenu(PopupMenu2);
  ToolButton3->setMenu(PopupMenu5);
  for (QToolButton* b : {ToolButton0, ToolButton1, ToolButton2, ToolButton3})
    b->setPopupMode(QToolButton::MenuButtonPopup);
  for (QToolButton* b : {ToolButton1, ToolButton2, ToolButton3, ToolButton4}) b->setEnabled(false);

  Panel58 = new platform::TPanel(ToolBar1, QStringLiteral("Panel58"));
  platform::SetControlTag(Panel58, 1);
  Panel58->setFrameShape(QFrame::NoFrame);
  auto* langLayout = new QHBoxLayout(Panel58);
  langLayout->setContentsMargins(0, 0, 0, 0);
  ComboBox9 = new QComboBox(Panel58);
  ComboBox9->setObjectName(QStringLiteral("ComboBox9"));
  ComboBox9->setMinimumWidth(130);
  langLayout->addWidget(ComboBox9);
  Panel58->resize(140, 24);

  Gauge5 = new QProgressBar(this);
  Gauge5->setObjectName(QStringLiteral("Gauge5"));
  Gauge5->setTextVisible(false);
  Gauge5->setFixedHeight(4);
  Gauge5->setValue(0);
  main->addWidget(Gauge5);

  auto* split = new QSplitter(Qt::Horizontal, this);
  main->addWidget(split, 1);

  auto* left = new platform::TPanel(split, QStringLiteral("PanelList"));
  platform::SetControlTag(left, 1);
  left->setFrameShape(QFrame::NoFrame);
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(0, 0, 0, 0);
  left->setMinimumWidth(440);
  PageControl5 = new QTabWidget(left);
  PageControl5->setObjectName(QStringLiteral("PageControl5"));
  leftLayout->addWidget(PageControl5, 1);
  Edit2 = new QLineEdit(left);
  Edit2->setObjectName(QStringLiteral("Edit2"));
  Edit2->setReadOnly(true);
  leftLayout->addWidget(Edit2);
  auto page = [this](const QString& name, const QString& caption, const QString& key, int tag) {
    auto* p = new QWidget;
    p->setObjectName(name);
    platform::SetControlTag(p, tag);
    platform::SetHelpKeyword(p, key);
    PageControl5->addTab(p, caption);
    return p;
  };
  QWidget* p1 = page(QStringLiteral("TabSheet15"), QStringLiteral("Персоны"), QStringLiteral("Persons"), 0);
  QWidget* p2 = page(QStringLiteral("TabSheet16"), QStringLiteral("Фавориты"), QStringLiteral("Favorites"), 1);
  QWidget* p3 = page(QStringLiteral("TabSheet17"), QStringLiteral("Формат"), QStringLiteral("Format"), 1);
  BuildPersonPanel(p1, p2, p3);

  // The report pages scroll when the window is narrower than their content.
  auto* scroll = new QScrollArea(split);
  scroll->setObjectName(QStringLiteral("ScrollReports"));
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  auto* right = new platform::TPanel(nullptr, QStringLiteral("PanelReports"));
  scroll->setWidget(right);
  platform::SetControlTag(right, 1);
  right->setFrameShape(QFrame::NoFrame);
  auto* rightLayout = new QVBoxLayout(right);
  rightLayout->setContentsMargins(0, 0, 0, 0);
  PageControl1 = new QTabWidget(right);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  rightLayout->addWidget(PageControl1);
  split->setStretchFactor(0, 0);
  split->setStretchFactor(1, 1);
  split->setSizes({500, 700});

  // File commands
  connect(ToolButton0, &QToolButton::clicked, this, [this] { RunCommand(*this, [this] { ToolButton0Click(); }); });
  connect(ToolButton6, &QToolButton::clicked, this, [this] { RunCommand(*this, [this] { ToolButton6Click(); }); });
  connect(ToolButton4, &QToolButton::clicked, this, [this] {
    model().AbortFlag = true;
    ToolButton4->setEnabled(false);
  });
  connect(ToolButton7, &QToolButton::clicked, this, &QWidget::close);
  connect(ComboBox9, &QComboBox::currentIndexChanged, this, [this] { RunCommand(*this, [this] { ComboBox9Change(); }); });
  // The window sees these keys before its controls.
  auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(esc, &QShortcut::activated, this, [this] { FormKeyDown(Qt::Key_Escape); });
  auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(f1, &QShortcut::activated, this, [this] { FormKeyDown(Qt::Key_F1); });
}

// --- Life cycle ---

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  if (const QScreen* s = screen()) {
    // The designed size where the screen has room for it; on a smaller screen the window takes what the
    // screen leaves (the report pages scroll), so that the tool bar and the language box stay on it.
    const QRect avail = s->availableGeometry();
    QSize frame = frameGeometry().size() - size();
    if (frame.isEmpty()) frame = QSize(8, 32);  // not yet known before the first show: a typical title bar
    resize(std::min(width(), avail.width() - frame.width()), std::min(height(), avail.height() - frame.height()));
    QRect r(QPoint(0, 0), size() + frame);
    r.moveCenter(avail.center());
    move(std::max(r.left(), avail.left()), std::max(r.top(), avail.top()));
  }
  RunCommand(*this, [this] { FormShow(); });
}

void TForm1::FormShow() {
  FormResize();
  const QString langDir = ProgramDir() + QStringLiteral("LNG");
  if (!QFileInfo(langDir).isDir()) Panel58->hide();
  const QString remembered = ComboBox9->currentText();
  QStringList files = QDir(langDir).entryList({QStringLiteral("*.lng")}, QDir::Files);
  std::sort(files.begin(), files.end(),
            [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
  {
    const QSignalBlocker block(ComboBox9);
    ComboBox9->addItems(files);
    ComboBox9->setCurrentIndex(-1);
    if (!files.isEmpty() && remembered.isEmpty())
      ComboBox9->setCurrentIndex(ComboBox9->findText(QStringLiteral("English.lng")));
  }
  IniLoad();
  ClearRoot->setVisible(!Edit18->text().isEmpty());
  ComboBox9Change();
  PageControl5->setCurrentIndex(0);
  for (const auto& page : pages_) page->FormShow();
  PageControl5Change();
}

void TForm1::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow())
    QTimer::singleShot(0, this, [this] {
      if (isActiveWindow()) FormActivate();
    });
}

QString TForm1::DisplayHint(const QString& hint) {
  if (!hint.contains(QLatin1Char('\\'))) return hint;
  return hint.split(QLatin1Char('\\')).join(QStringLiteral("\r\n"));
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* w = qobject_cast<QWidget*>(watched);
    if (w && w->window() == this && !w->toolTip().isEmpty()) {
      auto* help = static_cast<QHelpEvent*>(event);
      QString text = DisplayHint(w->toolTip());
      text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
      QToolTip::showText(help->globalPos(), text, w, QRect(), 60000);
      return true;
    }
  }
  if (watched == Edit18) {
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
      auto* d = static_cast<QDropEvent*>(event);
      if (Edit6DragOver(d->source())) d->acceptProposedAction(); else d->ignore();
      return true;
    }
    if (event->type() == QEvent::Drop) {
      auto* d = static_cast<QDropEvent*>(event);
      if (Edit6DragOver(d->source()) && !busy_) {
        d->acceptProposedAction();
        RunCommand(*this, [this] { SpeedButton2Click(); });
      }
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TForm1::FormActivate() {
  if (busy_ || closed_) return;
  QCoreApplication::processEvents();
  if (!hintFilter_) {
    hintFilter_ = true;
    qApp->installEventFilter(this);
  }
  const QString path = Edit2->text();
  const QFileInfo fi(path);
  if (path.isEmpty() || !fi.exists()) return;
  if (!activatedOnce_) {
    activatedOnce_ = true;
    OpenDataFiles(path);
    return;
  }
  // A later activation reloads only a file that changed since it was read, and keeps the person.
  if (path == loadedPath_ && fi.size() == loadedSize_ && fi.lastModified() == loadedTime_) return;
  ToolButton6Click();
}

void TForm1::FormKeyDown(int key) {
  if (key == Qt::Key_Escape) {
    model().AbortFlag = true;
    ToolButton4->setEnabled(false);
  } else if (key == Qt::Key_F1) {
    RunCommand(*this, [this] { ToolButton5Click(); });
  }
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FormResize();
}

void TForm1::FormResize() {
  Panel58->move(ToolBar1->width() - Panel58->width() - 5, (ToolBar1->height() - Panel58->height()) / 2);
  Panel58->raise();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (busy_) {  // a load is running: ask it to stop, and close when it has ended
    model().AbortFlag = true;
    closePending_ = true;
    event->ignore();
    return;
  }
  FormClose();
  QWidget::closeEvent(event);
}

void TForm1::CloseIfPending() {
  // Queued: the command that ran the load finishes (and updates the recent files) before the window goes.
  if (closePending_) QTimer::singleShot(0, this, [this] { close(); });
}

void TForm1::FormClose() {
  if (closed_) return;
  closed_ = true;
  IniSave();
  langIni_.reset();
  if (TDataModule2* dm = DataModule2()) dm->CloseAll();
}

void TForm1::ShowError(const QString& text) {
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
    qWarning("%s", qUtf8Printable(text));
    return;
  }
  QMessageBox::critical(this, QCoreApplication::applicationName(), text);
}

QString TForm1::FileName() const { return Edit2->text(); }

void TForm1::ReloadFile(std::int64_t locateIndex) {
  OpenDataFiles(Edit2->text());
  if (locateIndex > 0) LocatePerson(locateIndex);
}

QString TForm1::LinkChain() const {
  const TKinshipPage* k = Page<TKinshipPage>();
  return k ? k->LinkChain() : QString();
}

bool TForm1::Confirm(const QString& question) {
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) return OffscreenAnswer;
  return QMessageBox::question(this, QCoreApplication::applicationName(), question,
                               QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

// --- Files ---

void TForm1::OpenDataFiles(const QString& path) {
  if (busy_) return;
  busy_ = true;
  Model& m = model();
  m.AbortFlag = false;
  LockCommands(true);
  ToolButton4->setEnabled(true);
  std::optional<TBusyCursor> cursor(std::in_place);
  Edit2->setText(path);
  const QString ext = path.right(3).toUpper();
  ClientDataSet1->DisableControls();
  if (ClientDataSet1->Created()) ClientDataSet1->Close(); else ClientDataSet1->CreateDataSet();
  ClientDataSet1->Open();
  m.Clear();
  const auto progress = [this](std::int64_t pos, std::int64_t max) {
    SetGaugeMaximum(max);
    Gauge5->setValue(static_cast<int>(std::min<std::int64_t>(pos, INT32_MAX)));
    QCoreApplication::processEvents();
  };
  QString error;
  try {
    // The ".at5" reader puts the default name template into an empty field.
    if (FamilyTreeType(path) == TFamilyTreeType::At5 && Edit21->text().isEmpty())
      Edit21->setText(QString::fromUtf16(kDefaultNameTemplate));
    LoadFamilyTree(m, path, progress, Edit21->text());
  } catch (const EFamilyTreeRead& e) {
    error = platform::FormatMsg(Lang(e.Key(), e.DefaultText()), e.Args());
  } catch (const std::exception& e) {
    error = QString::fromUtf8(e.what());
  }
  // A failed read leaves no half-built model behind.
  if (!error.isEmpty()) m.Reset();
  try {
    Indi_DataSet(path);
  } catch (const std::exception& e) {
    if (error.isEmpty()) error = QString::fromUtf8(e.what());
    m.Reset();
  }
  while (ClientDataSet1->ControlsDisabled()) ClientDataSet1->EnableControls();
  const QFileInfo fi(path);
  loadedPath_ = path;
  loadedSize_ = fi.exists() ? fi.size() : -1;
  loadedTime_ = fi.exists() ? fi.lastModified() : QDateTime();
  cursor.reset();
  LockCommands(false);
  ToolButton2->setEnabled(true);
  ToolButton1->setEnabled(true);
  ToolButton3->setEnabled(true);
  ToolButton4->setEnabled(false);
  Gauge5->setValue(0);
  busy_ = false;
  if (!error.isEmpty())
    ShowError(error);
  else if (m.aIndi.size() <= 1 && !m.AbortFlag && (ext == u"GED" || ext == u"AT4" || ext == u"AT5"))
    // The file was read but held no person (not a family tree, or persons under other identifiers):
    // the list stays empty, and the user learns why.
    Dialogs().Message(platform::FormatMsg(Lang(QStringLiteral("NoPersonsFound"),
                                               QStringLiteral("В файле \"%s\" не найдено ни одной персоны")),
                                          {path}));
  CloseIfPending();
}

void TForm1::ToolButton0Click() {
  if (busy_) return;
  QFileDialog dlg(this);
  dlg.setFileMode(QFileDialog::ExistingFile);
  dlg.setDefaultSuffix(QStringLiteral("ged"));
  dlg.setNameFilter(QStringLiteral("*.ged,*.at4,*.at5 (*.ged *.at4 *.at5)"));
  if (!openDialogDir_.isEmpty()) dlg.setDirectory(openDialogDir_);
  if (!openDialogFile_.isEmpty()) dlg.selectFile(openDialogFile_);
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return;
  const QString path = dlg.selectedFiles().first();
  OpenDataFiles(path);
  Ancestors().Clear();
  SavePopup(path);
}

QAction* TForm1::AddRecentItem(const QString& path, int position) {
  QString caption = path;
  caption.replace(QLatin1Char('&'), QStringLiteral("&&"));  // captions stay exactly the paths
  auto* item = new QAction(caption, PopupMenu6);
  item->setData(path);
  connect(item, &QAction::triggered, this, [this, item] { RunCommand(*this, [&] { Npp6Click(item); }); });
  const QList<QAction*> items = PopupMenu6->actions();
  if (position < items.size())
    PopupMenu6->insertAction(items[position], item);
  else
    PopupMenu6->addAction(item);
  return item;
}

void TForm1::SavePopup(const QString& path) {
  if (!QFileInfo::exists(path)) return;
  AddRecentItem(path, 0);
  const QList<QAction*> items = PopupMenu6->actions();
  for (qsizetype i = items.size() - 1; i >= 1; --i)
    if (items[i]->data().toString() == path) {
      PopupMenu6->removeAction(items[i]);
      items[i]->deleteLater();
    }
}

QStringList TForm1::RecentFiles() const {
  QStringList out;
  for (QAction* a : PopupMenu6->actions()) out << a->data().toString();
  return out;
}

void TForm1::Npp6Click(QAction* item) {
  if (busy_ || !item) return;
  const QString path = item->data().toString();
  OpenDataFiles(path);
  Ancestors().Clear();
  openDialogFile_ = path;
  openDialogDir_ = QFileInfo(path).absolutePath();
}

void TForm1::ToolButton6Click() {
  if (busy_) return;
  const QString path = Edit2->text();
  if (path.isEmpty() || !QFileInfo::exists(path)) return;
  const QString id = ClientDataSet1->FieldValue(QStringLiteral("id")).toString();
  OpenDataFiles(path);
  if (!id.isEmpty()) ClientDataSet1->Locate(QStringLiteral("id"), id);
}

// --- Settings and translation ---

void TForm1::IniSave() {
  platform::TIniFile ini(IniFileName());
  ini.BeginUpdate();
  SaveControls(this, ini);
  QString history;
  for (const QString& p : RecentFiles()) history += p + QLatin1Char(';');
  ini.WriteString(kOptionsSection, QStringLiteral("FilesHistory"), history);
  for (const auto& page : pages_) page->SaveSettings(ini);
  ini.EndUpdate();
}

void TForm1::IniLoad() {
  const QString name = IniFileName();
  if (!QFileInfo::exists(name)) return;
  const platform::TIniFile ini(name);
  LoadControls(this, ini);
  const QString s = ini.ReadString(kOptionsSection, QStringLiteral("FilesHistory"), QString());
  for (int i = PartCount(s, u';') - 1; i >= 1; --i) SavePopup(SplitPart(i, s, u';'));
  for (const auto& page : pages_) page->LoadSettings(ini);
}

void TForm1::ComboBox9Change() {
  const QString text = ComboBox9->currentText();
  const QString path = ProgramDir() + QStringLiteral("LNG/") + (text.isEmpty() ? QStringLiteral("Ukrainian.lng") : text);
  TranslateForm(this, path, langIni_);
  for (const auto& page : pages_) page->LanguageChanged();
  if (!loadedPath_.isEmpty()) setWindowTitle(Lang(QStringLiteral("FormCaption"), kFormCaption) + QStringLiteral(" - ") + loadedPath_);
  PageControl5Change();
}
