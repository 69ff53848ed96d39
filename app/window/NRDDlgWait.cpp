#include "app/window/NRDDlgWait.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

TfrmWait::TfrmWait(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("frmWait"));
  setWindowTitle(QStringLiteral("Please Wait..."));
  setCursor(Qt::WaitCursor);
  setFixedSize(312, 118);
  QFont f = font();
  f.setPixelSize(11);
  setFont(f);

  lMessage = new QLabel(QStringLiteral("Wait..."), this);
  lMessage->setObjectName(QStringLiteral("lMessage"));
  lMessage->setGeometry(0, 0, 312, 49);
  lMessage->setAlignment(Qt::AlignCenter);
  lMessage->setWordWrap(true);

  btnCancel = new QPushButton(QStringLiteral("Abort"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setGeometry(104, 89, 75, 25);
  btnCancel->setDefault(true);
  btnCancel->setCursor(Qt::ArrowCursor);

  pb = new QProgressBar(this);
  pb->setObjectName(QStringLiteral("pb"));
  pb->setGeometry(16, 64, 281, 16);
  pb->setRange(0, 100);
  pb->setTextVisible(false);

  btnBgMode = new QPushButton(QStringLiteral("Background Mode"), this);
  btnBgMode->setObjectName(QStringLiteral("btnBgMode"));
  btnBgMode->setGeometry(192, 88, 105, 25);
  btnBgMode->setCursor(Qt::ArrowCursor);

  setTabOrder(btnCancel, pb);
  setTabOrder(pb, btnBgMode);

  ShowTimer.setObjectName(QStringLiteral("ShowTimer"));
  ShowTimer.setSingleShot(true);
  ShowTimer.setInterval(500);
  connect(&ShowTimer, &QTimer::timeout, this, &TfrmWait::ShowFormOnTimer);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmWait::btnCancelClick);
  connect(btnBgMode, &QPushButton::clicked, this, &TfrmWait::btnBgModeClick);
}

TfrmWait::~TfrmWait() {
  ShowTimer.stop();
  for (const QPointer<QWidget>& w : FMinimised)
    if (w != nullptr) w->removeEventFilter(this);
  if (FIsShown) hide();
}

void TfrmWait::Show(const std::string& text) {
  lMessage->setText(QString::fromLatin1(text.data(), static_cast<int>(text.size())));
  FTerminated = false;
  btnCancel->setFocus();
  FIsShown = false;
  FIsClosed = false;
  ShowTimer.start();
}

void TfrmWait::ShowFormOnTimer() {
  ShowTimer.stop();
  // An operation already past half way is left to finish without the form.
  if (!FIsClosed && pb->value() <= 50) {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
      move(screen->geometry().center() - rect().center());
    show();
  }
  ProcessMessages();
}

void TfrmWait::SetPosition(int percentDone) {
  pb->setValue(std::clamp(percentDone, 0, 100));
  ProcessMessages();
}

void TfrmWait::ProcessMessages() { QApplication::processEvents(); }

void TfrmWait::showEvent(QShowEvent* event) {
  ShowTimer.stop();
  EActiveWindow = QApplication::activeWindow();
  EWindowList.clear();
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != this && w->isWindow() && w->isVisible() && w->isEnabled()) {
      EWindowList.emplace_back(w);
      w->setEnabled(false);
    }
  FIsShown = true;
  QDialog::showEvent(event);
}

void TfrmWait::hideEvent(QHideEvent* event) {
  ShowTimer.stop();
  if (FIsShown) {
    for (const QPointer<QWidget>& w : EWindowList)
      if (w != nullptr) w->setEnabled(true);
    EWindowList.clear();
    if (EActiveWindow != nullptr) EActiveWindow->activateWindow();
    FIsShown = false;
  }
  QDialog::hideEvent(event);
}

void TfrmWait::btnCancelClick() { FTerminated = true; }

void TfrmWait::btnBgModeClick() {
  hide();
  FMinimised.clear();
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != this && w->isWindow() && w->isVisible()) {
      FMinimised.emplace_back(w);
      w->installEventFilter(this);
      w->showMinimized();
    }
  ProcessMessages();
}

bool TfrmWait::eventFilter(QObject* watched, QEvent* event) {
  // The program restored from the task bar: the form comes back for a still running operation.
  if (event->type() == QEvent::WindowStateChange) {
    auto* w = qobject_cast<QWidget*>(watched);
    if (w != nullptr && !(w->windowState() & Qt::WindowMinimized) && !FIsClosed) {
      for (const QPointer<QWidget>& m : FMinimised)
        if (m != nullptr) m->removeEventFilter(this);
      FMinimised.clear();
      Show(lMessage->text().toStdString());
      ProcessMessages();
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TfrmWait::Close() {
  for (const QPointer<QWidget>& w : FMinimised)
    if (w != nullptr) {
      w->removeEventFilter(this);
      if (w->windowState() & Qt::WindowMinimized) w->showNormal();
    }
  FMinimised.clear();
  hide();
  FIsClosed = true;
  ShowTimer.stop();
}

void TfrmWait::closeEvent(QCloseEvent* event) {
  // The title bar has no close button; Alt+F4 asks to stop, as Abort does.
  FTerminated = true;
  event->ignore();
}

void TfrmWait::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    btnCancelClick();
    return;
  }
  QDialog::keyPressEvent(event);
}
