#include "app/window/NRDPasswordDialog.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "app/window/NRDDlgWait.h"
#include "platform/CodePage.h"

namespace {

QString FromAnsi(const std::string& s) { return QString::fromStdU16String(platform::Cp1251ToUtf16(s)); }
std::string ToAnsi(const QString& s) { return platform::Utf16ToCp1251(s.toStdU16String()); }

}  // namespace

TNRDPassDialog::TNRDPassDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("NRDPassDialog"));
  setWindowTitle(QStringLiteral("Database authentication"));
  setFixedSize(216, 118);
  QFont f = font();
  f.setPixelSize(11);
  setFont(f);

  Label1 = new QLabel(QStringLiteral("Password:"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->move(8, 36);
  Label1->adjustSize();

  Pass = new QLineEdit(this);
  Pass->setObjectName(QStringLiteral("Pass"));
  Pass->setGeometry(72, 32, 130, 21);
  Pass->setEchoMode(QLineEdit::Password);

  cbOk = new QPushButton(QStringLiteral("OK"), this);
  cbOk->setObjectName(QStringLiteral("cbOk"));
  cbOk->setGeometry(8, 72, 75, 25);
  cbOk->setDefault(true);

  cbCancel = new QPushButton(QStringLiteral("Cancel"), this);
  cbCancel->setObjectName(QStringLiteral("cbCancel"));
  cbCancel->setGeometry(128, 72, 75, 25);

  lbName = new QLabel(this);
  lbName->setObjectName(QStringLiteral("lbName"));
  lbName->setGeometry(8, 8, 193, 13);
  lbName->setAlignment(Qt::AlignCenter);

  setTabOrder(Pass, cbOk);
  setTabOrder(cbOk, cbCancel);
  connect(cbOk, &QPushButton::clicked, this, &TNRDPassDialog::cbOkClick);
  connect(cbCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TNRDPassDialog::cbOkClick() {
  FPassword = ToAnsi(Pass->text());
  accept();
}

std::function<void(TNRDPassDialog&)>& TNRDPassDialog::OnShown() {
  static std::function<void(TNRDPassDialog&)> hook;
  return hook;
}

bool TNRDPassDialog::ShowPasswordDialog(const std::string& name, std::string& password, QWidget* parent) {
  TNRDPassDialog dialog(parent);
  dialog.Pass->clear();
  dialog.lbName->setText(FromAnsi(name));
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    dialog.move(screen->geometry().center() - dialog.rect().center());
  if (OnShown()) QTimer::singleShot(0, &dialog, [&dialog] { OnShown()(dialog); });
  if (dialog.exec() != QDialog::Accepted) return false;
  password = dialog.FPassword;
  return true;
}

std::unique_ptr<platform::TEngineWaitForm> TNRDQtDialogs::CreateWaitForm() { return std::make_unique<TfrmWait>(nullptr); }

bool TNRDQtDialogs::ShowPasswordDialog(const std::string& name, std::string& password) {
  return TNRDPassDialog::ShowPasswordDialog(name, password, parent_);
}

bool TNRDQtDialogs::Confirm(const std::string& text) {
  return QMessageBox::question(parent_, QString(), FromAnsi(text), QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}

void TNRDQtDialogs::ShowMessage(platform::TEngineMessageKind kind, const std::string& text) {
  switch (kind) {
    case platform::TEngineMessageKind::Information: QMessageBox::information(parent_, QString(), FromAnsi(text)); break;
    case platform::TEngineMessageKind::Warning: QMessageBox::warning(parent_, QString(), FromAnsi(text)); break;
    case platform::TEngineMessageKind::Error: QMessageBox::critical(parent_, QString(), FromAnsi(text)); break;
  }
}
