// The one application object of the window test program, made by whichever test needs it first and
// kept to the end of the process (Qt keeps allocations for its whole life).
#pragma once

#include <QApplication>
#include <QCoreApplication>

#include <cstdlib>

namespace guitest {

inline QApplication& EnsureApp() {
  if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return *existing;
  // Offscreen unless a screenshot run asks for a real display.
  if (qEnvironmentVariableIsEmpty("FAN_SCREENSHOT_DIR")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "gui_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

}  // namespace guitest
