// The one application object of the report test program (fonts and pictures need one), made by whichever
// test needs it first and kept to the end of the process.
#pragma once

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdlib>

namespace reportstest {

inline void EnsureApp() {
  if (QCoreApplication::instance()) return;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "reports_tests";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = new QGuiApplication(argc, argv);
  (void)app;
}

}  // namespace reportstest
