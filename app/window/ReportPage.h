// A report page of the main window: one tab of PageControl1. A page builds its controls inside its tab
// (objectNames as the component names), reads them into the options of its report, runs the report and
// gives out its result. The window calls the virtuals below; a page overrides only what it has.
// The page reaches the window only through TPageHost. Pages are made by the registry (PageRegistry.h)
// after the window's shell, and destroyed before the window's widgets.
#pragma once

#include <QObject>
#include <QString>

#include <utility>

#include "app/window/PageHost.h"

class QTextDocument;
namespace platform {
class TIniFile;
}

class TReportPage : public QObject {
 public:
  TReportPage(TPageHost& host, QWidget* tab) : host_(host), tab_(tab) {}
  ~TReportPage() override = default;

  QWidget* Tab() const { return tab_; }

  // Builds the page's controls inside Tab(). Called once, right after construction.
  virtual void Build() {}
  // At the window's first show, after the settings and the translation were applied.
  virtual void FormShow() {}
  // "Выполнить" on this page.
  virtual void Run() {}
  // Its item of the report menu PopupMenu5 (the window has shown the page already): runs by default.
  virtual void ReportMenuItem() { Run(); }
  // "Печатать" / "Сохранить" on this page (toolbar, page buttons, context menu, first drop-down item).
  virtual void Print() {}
  virtual void Save() {}
  // Printing and saving in 2 or 4 parts (the toolbar's drop-downs); only pages that say so get them.
  virtual bool HasParts() const { return false; }
  virtual void PrintParts(int /*parts*/) {}
  virtual void SaveParts(int /*parts*/) {}
  // The window was translated again (at start and when the language box changes).
  virtual void LanguageChanged() {}
  // The current person of the list changed (after every move).
  virtual void PersonChanged() {}
  // A file was read and the person list refilled.
  virtual void FileLoaded() {}
  // Own settings beyond the saved controls (the controls themselves are saved by the window).
  virtual void LoadSettings(const platform::TIniFile& /*ini*/) {}
  virtual void SaveSettings(platform::TIniFile& /*ini*/) {}

 protected:
  TPageHost& host() const { return host_; }

 private:
  TPageHost& host_;
  QWidget* tab_;
};

// A page whose result is one rich-text box (found by its objectName inside the tab): printed with its
// document title and saved as RTF through the window's shared paths.
class TRichTextPage : public TReportPage {
 public:
  TRichTextPage(TPageHost& host, QWidget* tab, QString editName, QString printTitle)
      : TReportPage(host, tab), editName_(std::move(editName)), printTitle_(std::move(printTitle)) {}
  void Print() override;
  void Save() override;
  // The report of the tree read before goes: its persons are not this tree's.
  void FileLoaded() override;

 protected:
  const QTextDocument* Document() const;

 private:
  QString editName_, printTitle_;
};
