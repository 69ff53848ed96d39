// What a report page may use of the main window: the model, the current and root person, the shared
// ancestor list, the progress gauge and the abort flag, the busy state, translations, dialogs and printer,
// and the shared ways of printing and saving rich text and pictures. Pages see the window only through
// this interface, never through TForm1's members, so a page can be built and tested on its own.
// Also the one error path of every command (RunCommand) and the one wait-cursor guard (TBusyCursor).
// Main thread only.
#pragma once

#include <QString>
#include <cstdint>
#include <new>

class QImage;
class QTextDocument;
class QWidget;
struct Model;
struct TAncestorList;

namespace platform {
class TDialogs;
class TIniFile;
class TPageSink;
}  // namespace platform

class TPageHost {
 public:
  virtual ~TPageHost() = default;

  virtual Model& model() const = 0;
  // Person index of the current row of the person list; 0 when none.
  virtual std::int64_t CurrentPerson() const = 0;
  virtual bool LocatePerson(std::int64_t index) = 0;
  // Person index of the root person; 0 when there is none.
  virtual std::int64_t RootPerson() const = 0;
  // The ancestor list (aPers) kept between commands; emptied when another file is opened.
  virtual TAncestorList& Ancestors() = 0;

  // Translated text of `key`, the Russian default when the translation file lacks it.
  virtual QString Lang(const QString& key, const QString& def) const = 0;
  virtual QWidget* Window() = 0;
  // The folder of the settings file, with a trailing "/": the program's folder when it is writable, else
  // the per-user configuration folder. Files a page keeps beside the program (fixed workbooks) go there.
  virtual QString SettingsFolder() const = 0;
  // The family tree file read last, as it was named when opened; empty before the first. The exports
  // pass it on so that a file they write never replaces it.
  virtual QString LoadedFile() const = 0;

  // Page control: shows a page; tells which page shows.
  virtual void ShowPage(QWidget* tab) = 0;
  virtual bool IsCurrentPage(const QWidget* tab) const = 0;
  // Enables the toolbar's print and save commands once a page has something to give out.
  virtual void OutputReady() = 0;

  // A file load or a long run is under way: commands that change the model or the list are refused.
  virtual bool Busy() const = 0;
  // A long run: sets the busy state, clears the abort flag and enables "Прервать"; EndLongRun undoes it.
  // Prefer TLongRun below. BeginLongRun returns false (and starts nothing) while busy.
  virtual bool BeginLongRun() = 0;
  virtual void EndLongRun() = 0;
  // The gauge; processes pending events so that "Прервать" and Esc stay live. Returns the abort flag.
  virtual bool Progress(std::int64_t position, std::int64_t maximum) = 0;

  // Output services (tests put fakes in their place).
  virtual platform::TDialogs& Dialogs() = 0;
  virtual platform::TPageSink& Printer() = 0;
  virtual void SetPrinterLandscape(bool landscape) = 0;
  // The shared output paths: rich text after the print dialog (with its document title) or to an RTF file
  // after the save dialog; a picture fitted to one printed page or to a BMP/JPEG/PNG file.
  virtual void PrintRichText(const QTextDocument& document, const QString& title) = 0;
  virtual void SaveRichText(const QTextDocument& document) = 0;
  virtual void PrintPicture(const QImage& picture) = 0;
  virtual void SavePicture(const QImage& picture) = 0;

  // The standard error message of a command (a message box; a log line on the offscreen platform).
  virtual void ShowError(const QString& text) = 0;

  // For the group edit tools: the open file (the file-name field), reading it again and going back to a
  // person index, the persons of the kinship path on show (";"-joined indexes), the open language file,
  // and a Yes/No question (true: Yes).
  virtual QString FileName() const { return {}; }
  virtual void ReloadFile(std::int64_t /*locateIndex*/) {}
  virtual QString LinkChain() const { return {}; }
  virtual platform::TIniFile* LangFile() const { return nullptr; }
  virtual bool Confirm(const QString& /*question*/) { return false; }
};

// The wait cursor for the life of the guard.
class TBusyCursor {
 public:
  TBusyCursor();
  ~TBusyCursor();
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};

// A long run for the life of the guard; `Started()` is false when the window was busy already.
class TLongRun {
 public:
  explicit TLongRun(TPageHost& host) : host_(host), started_(host.BeginLongRun()) {}
  ~TLongRun() {
    if (started_) host_.EndLongRun();
  }
  bool Started() const { return started_; }
  TLongRun(const TLongRun&) = delete;
  TLongRun& operator=(const TLongRun&) = delete;

 private:
  TPageHost& host_;
  bool started_;
};

// The boundary of every command: runs `command`; an exception becomes the standard error message and
// goes no further (no exception may cross the event loop). Cursor guards inside have been undone by then.
void ReportCommandError(TPageHost& host, const char* what);
// Memory ran out: a message in the user's language instead of the library's word.
void ReportOutOfMemory(TPageHost& host);
template <class F>
void RunCommand(TPageHost& host, F&& command) {
  try {
    command();
  } catch (const std::bad_alloc&) {
    ReportOutOfMemory(host);
  } catch (const std::exception& e) {
    ReportCommandError(host, e.what());
  } catch (...) {
    ReportCommandError(host, "unknown error");
  }
}
