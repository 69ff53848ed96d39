// The engine's wait form and password dialog as Qt widgets: the wait form appears only for an
// operation still at most half way after its timer, Abort asks to stop, Close hides it; the
// password dialog hands the typed text back on OK and nothing on Cancel, and a database opened
// with a wrong password asks through it until the right one is typed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <filesystem>

#include "GuiTestApp.h"
#include "app/window/NRDDlgWait.h"
#include "app/window/NRDPasswordDialog.h"
#include "engine/components/NRDDatabase.h"
#include "engine/components/NRDSession.h"
#include "engine/components/NRDTable.h"

namespace {

void Wait(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Saves a picture of the widget when screenshots are asked for (a real display run).
void Screenshot(QWidget& w, const char* name) {
  const QByteArray dir = qgetenv("FAN_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  w.grab().save(QString::fromUtf8(dir) + "/" + name + ".png");
}

}  // namespace

TEST(EngineWaitForm, ShowsOnlyForAnOperationStillAtMostHalfWay) {
  guitest::EnsureApp();
  struct Case {
    int positionBeforeTimer;
    bool shown;
  };
  for (const Case& c : {Case{0, true}, Case{50, true}, Case{60, false}}) {
    TfrmWait form;
    form.SetPosition(0);
    form.Show("Compacting Database...");
    EXPECT_FALSE(form.isVisible()) << "nothing before the timer";
    form.SetPosition(c.positionBeforeTimer);
    Wait(700);
    EXPECT_EQ(form.isVisible(), c.shown) << c.positionBeforeTimer;
    EXPECT_EQ(form.lMessage->text(), "Compacting Database...");
    if (c.shown) Screenshot(form, "wait-form");
    form.Close();
    EXPECT_FALSE(form.isVisible());
  }

  // An operation that ends before the timer never shows the form.
  TfrmWait quick;
  quick.Show("Copy Table...");
  quick.Close();
  Wait(700);
  EXPECT_FALSE(quick.isVisible());
}

TEST(EngineWaitForm, AbortAsksTheOperationToStop) {
  guitest::EnsureApp();
  TfrmWait form;
  form.Show("Repairing Database...");
  Wait(700);
  ASSERT_TRUE(form.isVisible());
  EXPECT_FALSE(form.Terminated());
  form.btnCancel->click();
  EXPECT_TRUE(form.Terminated());
  // A new Show starts a new operation that has not been stopped.
  form.Close();
  form.Show("Copy Table...");
  EXPECT_FALSE(form.Terminated());
  form.Close();
}

TEST(EnginePasswordDialog, OkHandsTheTextBackCancelNothing) {
  guitest::EnsureApp();
  std::string password = "old";
  TNRDPassDialog::OnShown() = [](TNRDPassDialog& d) {
    EXPECT_EQ(d.windowTitle(), "Database authentication");
    EXPECT_EQ(d.Pass->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(d.Pass->text().isEmpty());
    d.Pass->setText(QString::fromUtf8("\xD0\xBF\xD0\xB0\xD1\x80ol"));  // Cyrillic "par" + "ol"
    Screenshot(d, "password-dialog");
    d.cbOk->click();
  };
  EXPECT_TRUE(TNRDPassDialog::ShowPasswordDialog("", password));
  EXPECT_EQ(password, "\xEF\xE0\xF0ol") << "the engine's single-byte code page";

  TNRDPassDialog::OnShown() = [](TNRDPassDialog& d) {
    d.Pass->setText("typed");
    d.cbCancel->click();
  };
  EXPECT_FALSE(TNRDPassDialog::ShowPasswordDialog("", password));
  EXPECT_EQ(password, "\xEF\xE0\xF0ol");
  TNRDPassDialog::OnShown() = nullptr;
}

TEST(EnginePasswordDialog, WrongPasswordOfADatabaseAsksThroughTheDialog) {
  guitest::EnsureApp();
  nrd::EngineStartup();
  const auto dir = std::filesystem::temp_directory_path() / ("trevolan-dlg-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "secret.at4").string();
  {
    nrd::TNRDDatabase db(nullptr);
    db.SetDatabaseName("Secret");
    db.SetDatabaseFileName(file);
    db.SetPassword("right");
    db.CreateDatabase();
  }
  TNRDQtDialogs dialogs;
  platform::TEngineDialogs* old = platform::SetEngineDialogs(&dialogs);
  int asked = 0;
  TNRDPassDialog::OnShown() = [&asked](TNRDPassDialog& d) {
    d.Pass->setText(++asked == 1 ? "wrong again" : "right");
    d.cbOk->click();
  };
  {
    nrd::TNRDDatabase db(nullptr);
    db.SetDatabaseName("Secret");
    db.SetDatabaseFileName(file);
    db.SetPassword("wrong");
    db.Open();
    EXPECT_TRUE(db.Connected());
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(db.Password(), "right");
  }
  TNRDPassDialog::OnShown() = nullptr;
  platform::SetEngineDialogs(old);
  nrd::EngineShutdown();
  std::filesystem::remove_all(dir);
}
