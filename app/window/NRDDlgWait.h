// The engine's progress form: shown by the default handlers of long table and database operations
// (copy, import, export, restructure, batch move, repair, compaction, password and settings
// changes) through the engine's wait-form interface (engine/components/NRDDialogs.h).
//
// Show only arms a 500 ms timer: the form appears when the timer fires, unless it was closed
// meanwhile or the work is already past half way, so short operations never flash a window. While
// it is visible the other windows of the program are disabled; Abort asks the operation to stop
// (the next progress call answers "stop"); Background Mode minimises the program, and restoring it
// brings the form back for a still running operation.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <vector>

#include "platform/EngineDialogs.h"

class QLabel;
class QProgressBar;
class QPushButton;

class TfrmWait : public QDialog, public platform::TEngineWaitForm {
  Q_OBJECT

 public:
  explicit TfrmWait(QWidget* parent = nullptr);
  ~TfrmWait() override;

  // platform::TEngineWaitForm
  void Show(const std::string& text) override;
  void SetPosition(int percentDone) override;
  bool Terminated() const override { return FTerminated; }
  void ProcessMessages() override;
  void Close() override;

  QLabel* lMessage = nullptr;
  QPushButton* btnCancel = nullptr;
  QProgressBar* pb = nullptr;
  QPushButton* btnBgMode = nullptr;
  QTimer ShowTimer;
  bool IsShown() const { return FIsShown; }
  bool IsClosed() const { return FIsClosed; }

 public slots:
  void ShowFormOnTimer();
  void btnCancelClick();
  void btnBgModeClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::vector<QPointer<QWidget>> EWindowList;  // windows disabled while the form is shown
  QPointer<QWidget> EActiveWindow;
  std::vector<QPointer<QWidget>> FMinimised;   // windows minimised by Background Mode
  bool FIsShown = false;
  bool FIsClosed = false;
  bool FTerminated = false;
};
