// The one application object of the window test program, made by whichever test needs it first and
// kept to the end of the process (Qt keeps allocations for its whole life). It runs on the offscreen
// platform with one screen of 1024 x 768, the smallest screen the window is made for, so the tests see
// the window as it starts there.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <string>
#include <unistd.h>

namespace guitest {

inline QApplication& EnsureApp() {
  if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return *existing;
  static const std::string config = QDir::temp().filePath(QStringLiteral("gui_tests-screen-%1.json").arg(getpid())).toStdString();
  QFile file(QString::fromStdString(config));
  if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
    file.write(R"({"screens": [{"name": "Screen1024", "x": 0, "y": 0, "width": 1024, "height": 768, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
  file.close();
  static std::string platform = "offscreen:configfile=" + config;
  static int argc = 3;
  static char name[] = "gui_tests";
  static char option[] = "-platform";
  static char* argv[] = {name, option, platform.data(), nullptr};
  static QApplication* app = new QApplication(argc, argv);
  QFile::remove(QString::fromStdString(config));  // read once, at start-up
  return *app;
}

}  // namespace guitest
