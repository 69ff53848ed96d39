// trevolan-shots OUTDIR [TREE] [LNGDIR]: pictures of the main window for a look by eye. For each language
// (Russian: no translation file; English and Ukrainian: the shipped files) it opens the tree (the bundled
// sample by default), chooses the root with the most ancestors, builds every report page and writes the
// window as it shows each page, the three views of the kinship page and the person panel's levels and
// name template, as OUTDIR/<language>-<nn>-<page>.png. The program folder is a temporary one, so the
// user's settings stay as they are. It drives the window, so it lives with the window tests, not with the
// headless tools. Run it under a display (tools/window-shots.sh uses Xvfb); on the
// offscreen platform the pictures are drawn the same way without window decorations.
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUrl>

#include <cstdio>
#include <memory>

#include "app/core/Model.h"
#include "app/window/CalendarPage.h"
#include "app/window/KinshipPage.h"
#include "app/window/PlacesPage.h"
#include "app/window/Unit1.h"
#include "platform/qt/Dialogs.h"

namespace {

void Settle() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

int Shots(const QString& out, const QString& tree, const QString& lngDir) {
  const QDir dir(out);
  int written = 0;
  struct TLanguage {
    const char* tag;
    const char* file;  // none: the built-in Russian texts
  };
  for (const TLanguage& lang : {TLanguage{"ru", nullptr}, TLanguage{"en", "English.lng"}, TLanguage{"uk", "Ukrainian.lng"}}) {
    QTemporaryDir programDir;
    if (lang.file) {
      QDir(programDir.path()).mkdir(QStringLiteral("LNG"));
      const QString to = programDir.filePath(QStringLiteral("LNG/") + QLatin1String(lang.file));
      if (!QFile::copy(QDir(lngDir).filePath(QLatin1String(lang.file)), to)) {
        std::fprintf(stderr, "trevolan-shots: no %s in %s\n", lang.file, qPrintable(lngDir));
        return 1;
      }
      QFile::setPermissions(to, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    TForm1::SetProgramDir(programDir.path());
    auto form = std::make_unique<TForm1>();
    TForm1& f = *form;
    f.SetDialogs(std::make_unique<platform::TFakeDialogs>());  // every save or print dialog is cancelled
    f.show();
    Settle();
    if (lang.file) f.ComboBox9->setCurrentIndex(f.ComboBox9->findText(QLatin1String(lang.file)));
    f.OpenDataFiles(tree);
    if (TheModel().PersonCount() == 0) {
      std::fprintf(stderr, "trevolan-shots: no persons in %s\n", qPrintable(tree));
      return 1;
    }
    f.N1Click(0);
    f.LocatePerson(f.RootPerson());
    auto shot = [&](const QString& name) {
      Settle();
      const QString path = dir.filePath(QStringLiteral("%1-%2.png").arg(QLatin1String(lang.tag), name));
      if (f.grab().save(path)) ++written;
    };
    int n = 0;
    for (const auto& page : f.Pages()) {
      f.ShowPage(page->Tab());
      // Every page with a report builds it; the places and the calendar have their own buttons.
      if (auto* places = dynamic_cast<TPlacesPage*>(page.get())) {
        // A picture run must not start the desktop's browser for the map search.
        places->SetUrlOpener([](const QUrl&) { return true; });
        places->Button15Click();
      }
      else if (auto* calendar = dynamic_cast<TCalendarPage*>(page.get()))
        calendar->SpeedButton42Click();
      else
        f.ToolButton3Click();
      f.ShowPage(page->Tab());
      const QString name = QStringLiteral("%1-%2").arg(n++, 2, 10, QLatin1Char('0')).arg(page->Tab()->objectName());
      if (auto* kinship = dynamic_cast<TKinshipPage*>(page.get())) {
        for (int sub = 0; sub < kinship->PageControl2->count(); ++sub) {
          kinship->PageControl2->setCurrentIndex(sub);
          shot(name + QStringLiteral("-view%1").arg(sub));
        }
      } else {
        shot(name);
      }
    }
    f.PageControl5->setCurrentIndex(1);
    shot(QStringLiteral("list-levels"));
    f.PageControl5->setCurrentIndex(2);
    f.SpeedButton38Click();
    shot(QStringLiteral("list-template"));
    f.SpeedButton40Click();
    f.PageControl5->setCurrentIndex(0);
    form.reset();
    TheModel().Reset();
  }
  TForm1::SetProgramDir(QString());
  std::printf("%d pictures in %s\n", written, qPrintable(dir.absolutePath()));
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
  const QStringList args = QCoreApplication::arguments();
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: trevolan-shots OUTDIR [TREE.ged] [LNGDIR]\n");
    return 2;
  }
  const QString out = args[1];
  const QString tree = args.size() > 2 ? args[2] : QStringLiteral(TREVOLAN_SOURCE_DIR "/samples/sample-utf8.ged");
  const QString lng = args.size() > 3 ? args[3] : QStringLiteral(TREVOLAN_SOURCE_DIR "/LNG");
  if (!QDir().mkpath(out)) {
    std::fprintf(stderr, "trevolan-shots: cannot make %s\n", qPrintable(out));
    return 1;
  }
  return Shots(out, tree, lng);
}
