// The program: sets up the application, creates the data modules and the main window, runs the loop.
#include <QApplication>
#include <QLocale>

#include "sources/Unit2.h"
#include "app/window/NRDPasswordDialog.h"
#include "app/window/Unit1.h"
#include "sources/Unit3.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
  QApplication::setApplicationName(QStringLiteral("Trevolan"));
  // The engine's password question and wait form are the application's Qt dialogs.
  TNRDQtDialogs engineDialogs;
  platform::SetEngineDialogs(&engineDialogs);
  auto* dm2 = new TDataModule2(&app);
  auto* dm3 = new TDataModule3(&app);
  int rc = 0;
  {
    TForm1 form;
    form.show();
    form.activateWindow();
    rc = app.exec();
  }
  delete dm3;
  delete dm2;
  platform::SetEngineDialogs(nullptr);
  return rc;
}
