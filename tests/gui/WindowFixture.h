// The common ground of the window tests: a main window with fake dialogs and a recording printer sink, its
// settings in a temporary folder, the sample tree, and ways to find a person or a widget in it.
#pragma once

#include "tests/gui/GuiTestApp.h"
#include "app/charts/Ancestors.h"
#include "app/core/Model.h"
#include "app/window/Unit1.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/PageSink.h"

#include <QCoreApplication>
#include <QSize>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

namespace guitest {

inline const QString kSample = QStringLiteral(TREVOLAN_SOURCE_DIR "/samples/sample-utf8.ged");

// The person with this GEDCOM reference in the loaded tree, 0 where there is none.
inline std::int64_t ByXref(const char* xref) {
  const Model& m = TheModel();
  for (size_t i = 1; i < m.aIndi.size(); ++i)
    if (m.aIndi[i].INDI == QLatin1String(xref)) return std::int64_t(i);
  return 0;
}

// The person with the most ancestors in the loaded tree.
inline std::int64_t DeepestPerson() {
  std::int64_t best = 1;
  std::size_t most = 0;
  for (std::int64_t i = 1; i <= TheModel().PersonCount(); ++i) {
    TAncestorList l;
    FillTree(TheModel(), l, QString::number(i), 1);
    if (l.aPers.size() > most) {
      most = l.aPers.size();
      best = i;
    }
  }
  return best;
}

// Opens the file in the window and presses Stop the second time the read lets events run once
// persons are being read (events also run while the tables are read, where a stop leaves no person).
inline void OpenPressingStopWhilePersonsAreRead(TForm1& f, const QString& path) {
  int ticks = 0;
  QTimer press;
  QObject::connect(&press, &QTimer::timeout, [&] {
    if (f.model().PersonCount() > 0 && ++ticks == 2 && f.ToolButton4->isEnabled()) f.ToolButton4->click();
  });
  press.start(0);
  f.OpenDataFiles(path);
  press.stop();
}

// Opens the first recent file of the menu and returns the highest value the progress gauge showed
// meanwhile (the read's progress runs pending events, so the watching timer fires).
inline int OpenFirstRecentWatchingGauge(TForm1& f) {
  int maxSeen = 0;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] { maxSeen = std::max(maxSeen, f.Gauge5->value()); });
  watch.start(0);
  f.Npp6Click(f.PopupMenu6->actions().first());
  watch.stop();
  return maxSeen;
}

class WindowFixture : public ::testing::Test {
 protected:
  // Makes the window with its settings in dir_; an empty size leaves the window's own, and without
  // recordPrinting printing goes to the window's real printer path.
  void MakeWindow(QSize size = QSize(1280, 900), bool recordPrinting = true) {
    EnsureApp();
    TForm1::SetProgramDir(dir_.path());
    form_ = std::make_unique<TForm1>();
    if (size.isValid()) form_->resize(size);
    auto dialogs = std::make_unique<platform::TFakeDialogs>();
    dialogs_ = dialogs.get();
    form_->SetDialogs(std::move(dialogs));
    if (recordPrinting) {
      auto sink = std::make_unique<platform::TRecordingPageSink>();
      sink_ = sink.get();
      form_->SetPrinterSink(std::move(sink));
    }
  }
  // Opens a tree and checks that it holds more than `moreThan` persons.
  void Open(const QString& file, std::int64_t moreThan) {
    form_->OpenDataFiles(file);
    ASSERT_GT(TheModel().PersonCount(), moreThan);
  }
  void TearDown() override {
    form_.reset();
    TheModel().Reset();
  }
  template <class T>
  T* Find(const char* name) {
    T* w = form_->findChild<T*>(QLatin1String(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  QTemporaryDir dir_;
  std::unique_ptr<TForm1> form_;
  platform::TFakeDialogs* dialogs_ = nullptr;
  platform::TRecordingPageSink* sink_ = nullptr;
};

// The window as it starts for a user: real dialogs, shown (which loads its settings and translations),
// its program folder a temporary one that a test may fill first.
class ShownWindowFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApp();
    ASSERT_TRUE(dir_.isValid());
    TForm1::SetProgramDir(dir_.path());
  }
  void TearDown() override {
    form_.reset();
    TForm1::SetProgramDir(QString());
  }
  TForm1& Show() {
    form_ = std::make_unique<TForm1>();
    form_->show();
    QCoreApplication::processEvents();
    return *form_;
  }

  QTemporaryDir dir_;
  std::unique_ptr<TForm1> form_;
};

}  // namespace guitest
