// The main window: tool bar, the person list panel on the left, the report pages on the right, start-up,
// activation, closing, file opening, settings, translations, the person list and the root person.
// Each report page is a class of its own (PageRegistry.h) that reaches the window through TPageHost.
// Control conventions (objectName, "Tag", "HelpKeyword", Windows colours): platform/qt/Controls.h.
// Main thread only. No exception leaves a command: each runs through RunCommand (PageHost.h).
#pragma once

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/qt/ClientDataSet.h"
#include "platform/qt/Controls.h"
#include "platform/qt/DataGrid.h"
#include "platform/qt/IniFile.h"
#include "app/core/GedcomReader.h"
#include "app/window/PageHost.h"
#include "app/window/ReportPage.h"

class QImage;
class QPrinter;
struct TAncestorList;

struct Model;
namespace platform {
class TDialogs;
class TPageSink;
}  // namespace platform

// No Q_OBJECT: the window declares no signals or slots; every connection is made to member functions or
// lambdas.
class TForm1 : public QWidget, public TPageHost {
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // Folders and files beside the program. Tests may point the program folder elsewhere.
  static void SetProgramDir(const QString& dir);
  static QString ProgramDir();   // with a trailing "/"
  static QString IniFileName();  // the program's folder when writable, else the per-user config folder

  // Life cycle
  void FormShow();
  void FormActivate();
  void FormClose();
  void FormResize();
  void FormKeyDown(int key);
  static QString DisplayHint(const QString& hint);

  // Files
  void OpenDataFiles(const QString& path);
  QString OpenDialogDir() const { return openDialogDir_; }
  QString OpenDialogFile() const { return openDialogFile_; }
  void ToolButton0Click();
  void Npp6Click(QAction* item);
  void SavePopup(const QString& path);
  void ToolButton6Click();
  QStringList RecentFiles() const;

  // Settings and translation
  void IniSave();
  void IniLoad();
  void ComboBox9Change();
  platform::TIniFile* LangIni() const { return langIni_.get(); }

  // Person list
  void Indi_DataSet(const QString& fileName);
  void RefreshGedcom(int flag);
  void SpeedButton1Click();
  void Edit1Change();
  void Edit18Change();
  void DBGrid1TitleClick(int column);
  void ClientDataSet1AfterScroll();
  QString RecordCounterText() const { return recordCounter_->text(); }
  bool SearchFailed() const { return searchFailed_; }  // the last incremental search found nobody
  // Drag of a person row: accepted exactly when the source is the person grid.
  bool Edit6DragOver(QObject* source) const;

  // Root person
  void SpeedButton2Click();
  void ClearRootClick();  // the clear button of the root field: no root, no marks
  void N1Click(int mode);
  int AncestorLevel() const;
  int DescendantLevel() const;

  // Name template
  void SpeedButton38Click();
  void Button8Click(QPushButton* button);
  void Button8DropDownClick(QPushButton* button);
  void SpeedButton39Click();
  void SpeedButton40Click();
  void Panel55Exit();
  void PageControl5Change();

  // Controls (objectName = the member's name)
  QToolBar* ToolBar1;
  QToolButton *ToolButton0, *ToolButton6, *ToolButton1, *ToolButton2, *ToolButton3, *ToolButton4,
      *ToolButton5, *ToolButton7;
  QMenu *PopupMenu6, *PopupMenu2, *PopupMenu3, *PopupMenu5, *PopupMenu7;
  platform::TPanel* Panel58;
  QComboBox* ComboBox9;
  QProgressBar* Gauge5;
  QLineEdit* Edit2;  // the data file opened last
  QTabWidget* PageControl5;
  QTabWidget* PageControl1;
  // Person list page
  platform::TClientDataSet* ClientDataSet1;
  platform::TDataSetModel* DataSource1;
  platform::TDBGrid* DBGrid1;
  QLineEdit *Edit18, *Edit1;
  QToolButton *SpeedButton2, *SpeedButton3, *SpeedButton1;
  QAction* ClearRoot;  // the root field's clear button
  QCheckBox *cbFavorit, *cbLive;
  // Relation levels page
  QCheckBox *CheckBox71, *CheckBox72;
  QLineEdit *Edit19, *Edit20;
  platform::TUpDown *UpDown2, *UpDown3;
  // Name template page
  QLineEdit *Edit17, *Edit21, *Edit22, *Edit23;
  QToolButton *SpeedButton38, *SpeedButton39, *SpeedButton40;
  platform::TPanel *Panel55, *Panel56;
  QPushButton *Button8, *Button9, *Button10, *Button11;
  QAction *N1, *N2, *N3;

  // Report pages (PageRegistry.h), in tab order, and the toolbar's commands that act on the active one.
  const std::vector<std::unique_ptr<TReportPage>>& Pages() const { return pages_; }
  template <class P>
  P* Page() const {
    for (const auto& p : pages_)
      if (auto* found = dynamic_cast<P*>(p.get())) return found;
    return nullptr;
  }
  TReportPage* CurrentPage() const;
  void ToolButton3Click();  // run the report of the active page
  void ToolButton1Click();  // print the active page
  void ToolButton2Click();  // save the active page
  void ToolButton5Click();  // help file, or a message that none is installed
  static QString HelpFileName();  // beside the program, named like it, ".chm"
  QMenu* PopupMenu4 = nullptr;  // the page control's context menu
  // Output services; tests put fakes in their place.
  void SetDialogs(std::unique_ptr<platform::TDialogs> dialogs);
  void SetPrinterSink(std::unique_ptr<platform::TPageSink> sink);

  // TPageHost
  Model& model() const override;
  std::int64_t CurrentPerson() const override;  // person index of the current record, 0 when none
  bool LocatePerson(std::int64_t index) override;
  std::int64_t RootPerson() const override { return rootIndex_ > 0 ? rootIndex_ : 0; }
  TAncestorList& Ancestors() override;
  QString Lang(const QString& key, const QString& def) const override;
  QWidget* Window() override { return this; }
  QString SettingsFolder() const override;
  QString LoadedFile() const override { return loadedPath_; }
  void ShowPage(QWidget* tab) override;
  bool IsCurrentPage(const QWidget* tab) const override;
  void OutputReady() override;
  bool Busy() const override { return busy_; }
  bool BeginLongRun() override;
  void EndLongRun() override;
  bool Progress(std::int64_t position, std::int64_t maximum) override;
  platform::TDialogs& Dialogs() override { return *dialogs_; }
  platform::TPageSink& Printer() override { return *printerSink_; }
  void SetPrinterLandscape(bool landscape) override;
  void PrintRichText(const QTextDocument& document, const QString& title) override;
  void SaveRichText(const QTextDocument& document) override;
  void PrintPicture(const QImage& picture) override;
  void SavePicture(const QImage& picture) override;
  void ShowError(const QString& text) override;
  QString FileName() const override;
  void ReloadFile(std::int64_t locateIndex) override;
  QString LinkChain() const override;
  platform::TIniFile* LangFile() const override { return langIni_.get(); }
  bool Confirm(const QString& question) override;
  // The answer Confirm gives on the offscreen platform, where no box can be shown (tests set it).
  bool OffscreenAnswer = false;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildShell();
  void BuildPersonPanel(QWidget* page1, QWidget* page2, QWidget* page3);
  void ApplyFilter(bool relocate);
  void WriteMarksToRows(std::int64_t locateIndex);
  void BuildPages();
  void CloseIfPending();
  void WireCommands();
  void PersInfo();  // tells every page that the current person changed
  void ShowRecordCounter();  // "current/count" of the person list
  // The one gate of a load or a long run: every control that could change the model, the person list or
  // the shared lists is disabled (the tool bar but Stop, Help and Exit; the language box; the person panel;
  // the content of every report page), and each gets its own state back afterwards. The page tabs stay
  // live, so the user can look at other pages meanwhile.
  void LockCommands(bool locked);
  void SetGaugeMaximum(std::int64_t maximum);
  QString ButtonCode(const QPushButton* button) const;  // the name-template code of Button8..Button11
  QAction* AddRecentItem(const QString& path, int position);

  std::unique_ptr<platform::TIniFile> langIni_;
  QLabel* recordCounter_ = nullptr;
  bool shown_ = false;
  bool activatedOnce_ = false;
  bool busy_ = false;
  bool closed_ = false;
  bool closePending_ = false;
  std::vector<std::pair<QWidget*, bool>> lockedStates_;  // the locked controls and their states before  // closing was asked for during a load; it closes when the load ends
  // Size and modification time of the file read last, to reopen on activation only when it changed.
  qint64 loadedSize_ = -1;
  QDateTime loadedTime_;
  QString loadedPath_;
  QString openDialogDir_, openDialogFile_;
  bool hintFilter_ = false;
  QMetaObject::Connection focusConnection_;
  std::int64_t rootIndex_ = -1;  // person index of the root (Edit18); -1 when none
  bool searchFailed_ = false;
  std::unique_ptr<TAncestorList> ancestors_;
  std::unique_ptr<QPrinter> printer_;
  std::unique_ptr<platform::TPageSink> printerSink_;
  std::unique_ptr<platform::TDialogs> dialogs_;
  std::vector<std::unique_ptr<TReportPage>> pages_;
};

// The window's designed caption; the loaded file's path follows it after a load.
inline const QString kFormCaption = QStringLiteral("Trevolan - Генеалогические отчеты");

// The single main window, or null before it exists.
TForm1* Form1();
