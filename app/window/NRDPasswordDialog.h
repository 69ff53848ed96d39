// The password question of the engine: shown when an encrypted database file refuses the current
// password (TNRDDatabase asks through engine/components/NRDDialogs.h). OK hands the typed text
// back; Cancel leaves the caller's password as it was.
//
// TNRDQtDialogs is the application's implementation of the engine's dialogs: this password
// dialog, the wait form (NRDDlgWait.h) and the repair question and messages as message boxes.
// Register one instance with platform::SetEngineDialogs at start-up.
#pragma once

#include <QDialog>
#include <functional>

#include "platform/EngineDialogs.h"

class QLabel;
class QLineEdit;
class QPushButton;

class TNRDPassDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TNRDPassDialog(QWidget* parent = nullptr);

  // Shows the dialog modally; true, with `password` set from the edit, when closed with OK.
  static bool ShowPasswordDialog(const std::string& name, std::string& password, QWidget* parent = nullptr);
  // Called on the shown dialog before it runs its loop (tests type and press through it).
  static std::function<void(TNRDPassDialog&)>& OnShown();

  QLabel* Label1 = nullptr;
  QLineEdit* Pass = nullptr;
  QPushButton* cbOk = nullptr;
  QPushButton* cbCancel = nullptr;
  QLabel* lbName = nullptr;
  std::string FPassword;  // the text OK hands back, in the engine's code page

 public slots:
  void cbOkClick();
};

class TNRDQtDialogs : public platform::TEngineDialogs {
 public:
  explicit TNRDQtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
  std::unique_ptr<platform::TEngineWaitForm> CreateWaitForm() override;
  bool ShowPasswordDialog(const std::string& name, std::string& password) override;
  bool Confirm(const std::string& text) override;
  void ShowMessage(platform::TEngineMessageKind kind, const std::string& text) override;

 private:
  QWidget* parent_;
};
