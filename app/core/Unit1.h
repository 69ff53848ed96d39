// The main window: tool bar, the person list panel on the left, the report pages on the right, start-up,
// activation, closing, file opening, settings, translations, the person list and the root person.
// Report logic lives in other files; the window reads its controls into option structs and calls them.
// Control conventions (objectName, "Tag", "HelpKeyword", Windows colours): platform/qt/Controls.h.
// Main thread only. No exception leaves a command handler: each catches at its boundary.
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

#include "platform/qt/ClientDataSet.h"
#include "platform/qt/Controls.h"
#include "platform/qt/DataGrid.h"
#include "platform/qt/IniFile.h"

class QImage;

struct Model;

// No Q_OBJECT: the window declares no signals or slots (its header is also seen by the core library's
// meta-object scan), and every connection is made to member functions or lambdas.
class TForm1 : public QWidget {
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  Model& model() const;

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
  // Database readers; they read nothing until the database layers exist.
  void At4_Indi(const QString& path);
  void At5_Indi(const QString& path);
  QString OpenDialogDir() const { return openDialogDir_; }
  QString OpenDialogFile() const { return openDialogFile_; }
  void ToolButton0Click();
  void Npp6Click(QAction* item);
  void SavePopup(const QString& path);
  void ToolButton6Click();
  bool Busy() const { return busy_; }
  QStringList RecentFiles() const;

  // Settings and translation
  void IniSave();
  void IniLoad();
  void ComboBox9Change();
  platform::TIniFile* LangIni() const { return langIni_.get(); }
  // The translated text of `key` with the Russian default (the current translation file).
  QString Lang(const QString& key, const QString& def) const;

  // Person list
  void Indi_DataSet(const QString& fileName);
  void RefreshGedcom(int flag);
  void SpeedButton1Click();
  void Edit1Change();
  void Edit18Change();
  void DBGrid1TitleClick(int column);
  void ClientDataSet1AfterScroll();
  std::int64_t CurrentPerson() const;  // person index of the current record, 0 when none
  bool LocatePerson(std::int64_t index);
  QString RecordCounterText() const { return recordCounter_->text(); }
  // Person index kept with a field that names a person (Edit18, Edit6, Edit7); -1 when none.
  static std::int64_t PersonIndexOf(const QWidget* field);
  static void SetPersonIndexOf(QWidget* field, std::int64_t index);
  // Drag of a person row: accepted exactly when the source is the person grid.
  bool Edit6DragOver(QObject* source) const;

  // Root person
  void SpeedButton2Click();
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
  // Report pages of PageControl1, in page order (objectName "TabSheet1" .. "TabSheet14").
  QWidget *TabPersAbout, *TabChartAncestors, *TabChartDescendants, *TabFanChart, *TabDetProbl,
      *TabLinkPers, *TabListFamily, *TabMarriages, *TabStatistics, *TabFindDouble, *TabInstruments,
      *TabExport, *TabInformer, *TabPopulation;
  // Person list page
  platform::TClientDataSet* ClientDataSet1;
  platform::TDataSetModel* DataSource1;
  platform::TDBGrid* DBGrid1;
  QLineEdit *Edit18, *Edit1;
  QToolButton *SpeedButton2, *SpeedButton3, *SpeedButton1;
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

  // charts and commands (members below belong to the charts and commands wiring)
  void BuildChartPages();
  void WireCommands();
  void ApplyFanChartColors();  // the colour scheme chosen in its box, at show
  void ClearLinkChain();       // the kinship chain, at show
  void PersInfo();             // the person card of the current person, after every move
  void EmptyAncestorList();    // after opening from the dialog or the recent-files menu
  // Fan chart page (Unit1Fan.cpp): build, zoomed display, printing and saving of the chart.
  void BuildFanPage();
  void SpeedButton4Click();          // "Создать", also "Выполнить" on the fan page
  void fanChart(int iType);          // 0 ancestors, 1 descendants
  void ReScaleFanChart();
  void PrintFanChart(int iCount);    // 1, 2 or 4 pages
  void SaveFanChart(int iCount);     // 1, 2 or 4 files
  void ComboBox1Change();
  void CheckBox88Click();
  void ComboBox7Change();
  void Panel13Click(QWidget* panel);
  void N13Click();
  void N21Click();
  void N41Click();
  void N14Click();
  void N22Click();
  void N42Click();
  const QImage& FanPicture() const;  // the full-size chart; null before the first drawing
  struct TFanPage;
  struct TFanPageDeleter {
    void operator()(TFanPage* p) const;
  };
  std::unique_ptr<TFanPage, TFanPageDeleter> fan_;
  struct ChartsState;          // app/core/Unit1Charts.h
  ChartsState& Charts() const { return *charts_; }
  ChartsState* charts_ = nullptr;  // a child object of the window
  void ToolButton3Click();     // run the report of the active page
  void ToolButton1Click();     // print the active page
  void ToolButton2Click();     // save the active page
  void ToolButton5Click();     // help file
  void SxPrGedcom();
  void SxPotGedcom();
  void FillTree();
  void FillTree2();
  void SpeedButton22Click();
  void SpeedButton7Click();
  void MenuItemSplitClick(bool landscape);
  // end of charts and commands

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
  void ShowError(const QString& text);
  QWidget* AddReportPage(const QString& name, const QString& caption, const QString& key);
  QAction* AddRecentItem(const QString& path, int position);

  std::unique_ptr<platform::TIniFile> langIni_;
  QLabel* recordCounter_ = nullptr;
  bool shown_ = false;
  bool activatedOnce_ = false;
  bool busy_ = false;
  bool closed_ = false;
  // Size and modification time of the file read last, to reopen on activation only when it changed.
  qint64 loadedSize_ = -1;
  QDateTime loadedTime_;
  QString loadedPath_;
  QString openDialogDir_, openDialogFile_;
  bool hintFilter_ = false;
  QMetaObject::Connection focusConnection_;
};

// The single main window, or null before it exists.
TForm1* Form1();
