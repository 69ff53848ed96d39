// The main window over a small family file: start-up, settings, translations, opening files, the person
// list, the root person and the name template. Runs on the offscreen platform.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

#include "tests/gui/WindowFixture.h"
#include "app/core/Model.h"
#include "app/core/PersonList.h"
#include "app/core/UnitFunc.h"
#include "app/window/FanChartPage.h"
#include "app/window/Unit1.h"
#include "app/core/trans.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/IniFile.h"

// The system's font configuration library keeps caches it never frees, and Qt keeps a few objects of an
// application for the process; they are not ours to report.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\nleak:QApplicationPrivate::initialize\nleak:QColormap::initialize\n";
}

namespace {

const QString kFamily = QStringLiteral(TREVOLAN_SOURCE_DIR "/tests/data/window/family.ged");
const QChar kMark(0x202A);

// The application of the test program (another suite may have made it already).
using guitest::EnsureApp;

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

class MainWindow : public guitest::ShownWindowFixture {
 protected:
  void Close() {
    form_->close();
    form_.reset();
  }
  TForm1& Open() {
    TForm1& f = Show();
    f.OpenDataFiles(kFamily);
    return f;
  }
  QString Path(const QString& name) const { return dir_.filePath(name); }
  QStringList VisibleNames(TForm1& f) {
    QStringList out;
    for (int pos = 0; pos < f.ClientDataSet1->RecordCount(); ++pos) out << f.ClientDataSet1->ValueAt(pos, pfFio).toString();
    return out;
  }
};

TEST_F(MainWindow, FirstStartPicksEnglishAndKeepsRussianForMissingKeys) {
  QDir(dir_.path()).mkdir("LNG");
  WriteFile(Path("LNG/English.lng"), "[Language]\r\nOpen=Open-EN\r\nRefresh=Reload-EN\r\nGridPersons_1=Born\r\n");
  WriteFile(Path("LNG/Ukrainian.lng"), "[Language]\r\nOpen=Vidkryty\r\n");
  TForm1& f = Show();
  EXPECT_EQ(f.ComboBox9->currentText(), "English.lng");
  EXPECT_EQ(f.ToolButton0->text(), "Open-EN");
  EXPECT_EQ(f.ToolButton5->text(), QStringLiteral("Справка"));  // missing: stays Russian, written back
  EXPECT_EQ(platform::TIniFile(Path("LNG/English.lng")).ReadString("Language", "Help", ""), QStringLiteral("Справка"));
  EXPECT_EQ(f.DataSource1->ColumnTitle(1), QString("Born") + kMark);
  // Switching writes the designed Russian texts, not the English ones, into the other file.
  f.ComboBox9->setCurrentIndex(f.ComboBox9->findText("Ukrainian.lng"));
  EXPECT_EQ(f.ToolButton0->text(), "Vidkryty");
  EXPECT_EQ(f.ToolButton6->text(), QStringLiteral("Перечитать"));
  platform::TIniFile uk(Path("LNG/Ukrainian.lng"));
  EXPECT_EQ(uk.ReadString("Language", "Refresh", ""), QStringLiteral("Перечитать"));
  EXPECT_EQ(uk.ReadString("Language", "GridPersons_1", ""), QStringLiteral("Дата рождения"));
  EXPECT_FALSE(uk.ValueExists("*Language", "*M"));
  // Column titles carry exactly one mark however often the language changes.
  f.ComboBox9->setCurrentIndex(f.ComboBox9->findText("English.lng"));
  f.ComboBox9->setCurrentIndex(f.ComboBox9->findText("Ukrainian.lng"));
  for (int k = 0; k < 3; ++k) EXPECT_EQ(f.DataSource1->ColumnTitle(k).count(kMark), 1) << k;
  EXPECT_EQ(f.DataSource1->ColumnTitle(0), QStringLiteral("˅ Полное имя") + kMark);
}

// The reader's messages go through the translation file: the open error, and the word that a file
// held no person at all (a file that is not a family tree opens as an empty list, but not silently).
TEST_F(MainWindow, FileMessagesAreTranslated) {
  QDir(dir_.path()).mkdir("LNG");
  WriteFile(Path("LNG/English.lng"),
            "[Language]\r\nFileOpenError=Cannot open \"%s\"\r\nNoPersonsFound=Nobody in \"%s\"\r\n");
  static QStringList warnings;
  warnings.clear();
  const QtMessageHandler previous = qInstallMessageHandler(
      [](QtMsgType, const QMessageLogContext&, const QString& text) { warnings << text; });
  TForm1& f = Show();
  auto dialogs = std::make_unique<platform::TFakeDialogs>();
  platform::TFakeDialogs* fake = dialogs.get();
  f.SetDialogs(std::move(dialogs));
  const QString missing = Path("missing.ged");
  f.OpenDataFiles(missing);
  EXPECT_TRUE(warnings.contains(QStringLiteral("Cannot open \"%1\"").arg(missing))) << warnings.join('|').toStdString();
  EXPECT_TRUE(fake->messages.isEmpty());  // an error is not also reported as an empty file
  const QString notGedcom = Path("letter.ged");
  WriteFile(notGedcom, "Dear reader,\nthis is no family tree.\n");
  f.OpenDataFiles(notGedcom);
  qInstallMessageHandler(previous);
  ASSERT_EQ(fake->messages.size(), 1);
  EXPECT_EQ(fake->messages[0], QStringLiteral("Nobody in \"%1\"").arg(notGedcom));
  EXPECT_EQ(f.ClientDataSet1->RecordCount(), 0);
  // A real tree gives no such word.
  f.OpenDataFiles(kFamily);
  EXPECT_EQ(fake->messages.size(), 1);
}

// A command that runs out of memory ends with a message in the user's language, not the library's word.
TEST_F(MainWindow, OutOfMemoryIsToldInTheUsersLanguage) {
  QDir(dir_.path()).mkdir("LNG");
  WriteFile(Path("LNG/English.lng"), "[Language]\r\nOutOfMemory=Memory ran out\r\n");
  static QStringList warnings;
  warnings.clear();
  const QtMessageHandler previous = qInstallMessageHandler(
      [](QtMsgType, const QMessageLogContext&, const QString& text) { warnings << text; });
  TForm1& f = Show();
  RunCommand(f, [] { throw std::bad_alloc(); });
  qInstallMessageHandler(previous);
  EXPECT_TRUE(warnings.contains(QStringLiteral("Memory ran out"))) << warnings.join('|').toStdString();
  EXPECT_FALSE(warnings.join('|').contains(QStringLiteral("bad_alloc")));
}

TEST_F(MainWindow, ShippedTranslationsCoverEveryKey) {
  QDir(dir_.path()).mkdir("LNG");
  const QStringList files = {"English.lng", "Ukrainian.lng"};
  QMap<QString, QStringList> before;
  for (const QString& name : files) {
    ASSERT_TRUE(QFile::copy(QStringLiteral(TREVOLAN_SOURCE_DIR "/LNG/") + name, Path("LNG/" + name)));
    QFile::setPermissions(Path("LNG/" + name), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    before[name] = platform::TIniFile(Path("LNG/" + name)).ReadSection("Language");
  }
  TForm1& f = Open();
  f.SpeedButton2Click();
  for (const QString& name : files) {
    f.ComboBox9->setCurrentIndex(f.ComboBox9->findText(name));
    ASSERT_NE(f.LangIni(), nullptr);
    EXPECT_TRUE(f.LangIni()->SectionExists("*Language")) << name.toStdString();
    EXPECT_TRUE(f.LangIni()->SectionExists("Transliteration")) << name.toStdString();
  }
  f.ComboBox9->setCurrentIndex(f.ComboBox9->findText("English.lng"));
  EXPECT_EQ(f.ToolButton0->text(), "Open");
  EXPECT_EQ(f.ToolButton0->toolTip(), "Open a file");
  for (const QString& name : files) {
    QStringList added;
    for (const QString& key : platform::TIniFile(Path("LNG/" + name)).ReadSection("Language"))
      if (!before[name].contains(key, Qt::CaseInsensitive)) added << key;
    EXPECT_TRUE(added.isEmpty()) << name.toStdString() << " lacks " << added.join(' ').toStdString();
  }
}

TEST_F(MainWindow, WithoutLanguageFolderTheBoxIsHiddenAndTextsStayRussian) {
  TForm1& f = Show();
  EXPECT_TRUE(f.Panel58->isHidden());
  EXPECT_EQ(f.ToolButton0->text(), QStringLiteral("Открыть"));
  EXPECT_EQ(f.LangIni(), nullptr);
  EXPECT_EQ(f.windowTitle(), QStringLiteral("Trevolan - Генеалогические отчеты"));
  EXPECT_EQ(TForm1::DisplayHint("a\\b\\c"), "a\r\nb\r\nc");
}

TEST_F(MainWindow, SettingsRoundTrip) {
  const QString kept = Path("kept.ged"), gone = Path("gone.ged");
  WriteFile(kept, "0 HEAD\r\n0 TRLR\r\n");
  WriteFile(gone, "0 HEAD\r\n0 TRLR\r\n");
  {
    TForm1& f = Show();
    f.CheckBox71->setChecked(true);
    f.UpDown2->SetPosition(2);
    f.UpDown3->SetPosition(50);  // clamps to 10
    f.Edit21->setText("21");
    f.PageControl1->setCurrentIndex(3);
    f.Edit1->setText("not saved");
    f.SavePopup(gone);
    f.SavePopup(kept);
    f.SavePopup(gone);  // again: one entry, at the top
    EXPECT_EQ(f.RecentFiles(), (QStringList{gone, kept}));
    f.SavePopup(Path("missing.ged"));
    EXPECT_EQ(f.RecentFiles().size(), 2);
    Close();
  }
  const platform::TIniFile ini(TForm1::IniFileName());
  EXPECT_EQ(ini.ReadString("Options", "CheckBox71", ""), "1");
  EXPECT_EQ(ini.ReadString("Options", "UpDown3", ""), "10");
  EXPECT_EQ(ini.ReadString("Options", "FilesHistory", ""), gone + ";" + kept + ";");
  EXPECT_FALSE(ini.ValueExists("Options", "Edit1"));        // the search panel is not saved
  EXPECT_FALSE(ini.ValueExists("Options", "Edit22"));       // the editor's panel is not marked
  EXPECT_TRUE(ini.ValueExists("Options", "PageControl5"));  // reset at show, but saved
  QFile::remove(gone);
  TForm1& g = Show();
  EXPECT_TRUE(g.CheckBox71->isChecked());
  EXPECT_EQ(g.UpDown2->Position(), 2);
  EXPECT_EQ(g.Edit19->text(), "2");
  EXPECT_EQ(g.Edit21->text(), "21");
  EXPECT_EQ(g.PageControl1->currentIndex(), 3);
  EXPECT_EQ(g.PageControl5->currentIndex(), 0);
  EXPECT_EQ(g.Edit1->text(), "");
  EXPECT_EQ(g.RecentFiles(), (QStringList{kept}));
}

TEST_F(MainWindow, MalformedSettingsFallBackToDefaults) {
  const QByteArray cases[] = {"FanChartColors=1;2;3\r\n", "FanChartColors=1;x;3;4\r\n",
                              "FanChartColors=10;20;30;40\r\n"};
  int n = 0;
  for (const QByteArray& colors : cases) {
    WriteFile(TForm1::IniFileName(),
              "[Options]\r\nCheckBox71=abc\r\nUpDown2=99\r\nPageControl1=-7\r\nComboBox9=12\r\n" + colors);
    form_ = std::make_unique<TForm1>();
    platform::TPanel* const* panels = form_->Page<TFanChartPage>()->Panels;
    for (int i = 0; i < 4; ++i) panels[i]->SetColor(255);
    form_->show();
    QCoreApplication::processEvents();
    EXPECT_FALSE(form_->CheckBox71->isChecked());
    EXPECT_EQ(form_->UpDown2->Position(), 2);
    EXPECT_EQ(form_->PageControl1->currentIndex(), 0);
    EXPECT_EQ(form_->ComboBox9->currentIndex(), -1);
    const int expected = n == 2 ? 10 : 255;
    EXPECT_EQ(panels[0]->Color(), expected) << colors.constData();
    form_.reset();
    ++n;
  }
}

TEST_F(MainWindow, OpeningFilesFillsTheListAndReloadKeepsThePerson) {
  TForm1& f = Open();
  EXPECT_EQ(f.ClientDataSet1->RecordCount(), 7);
  EXPECT_TRUE(f.windowTitle().endsWith(" - " + kFamily));
  EXPECT_TRUE(f.ToolButton3->isEnabled());
  EXPECT_FALSE(f.ToolButton4->isEnabled());
  EXPECT_EQ(f.Edit2->text(), kFamily);
  EXPECT_EQ(VisibleNames(f).first(), QStringLiteral("Иванов Олег"));
  // children in birth order: Пётр (1928) before Сергей (1930)
  EXPECT_EQ(f.model().aFam[1].CHIL, (std::vector<std::int64_t>{6, 3}));
  ASSERT_TRUE(f.LocatePerson(5));
  f.ToolButton6Click();
  EXPECT_EQ(f.CurrentPerson(), 5);
  EXPECT_EQ(f.RecordCounterText().trimmed(), "6/7");
  // upper-case extension, other extensions and unreadable files
  const QString upper = Path("copy.GeD");
  QFile::copy(kFamily, upper);
  f.OpenDataFiles(upper);
  EXPECT_EQ(f.ClientDataSet1->RecordCount(), 7);
  const QString txt = Path("copy.txt");
  QFile::copy(kFamily, txt);
  f.OpenDataFiles(txt);
  EXPECT_EQ(f.ClientDataSet1->RecordCount(), 0);
  EXPECT_EQ(f.model().aIndi.size(), 1u);
  f.OpenDataFiles(Path("nothing-here.ged"));
  EXPECT_EQ(f.ClientDataSet1->RecordCount(), 0);
  EXPECT_EQ(f.model().aIndi.size(), 1u);
  EXPECT_TRUE(f.ToolButton3->isEnabled());
  EXPECT_FALSE(f.Busy());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainWindow, ActivationReopensOnlyAChangedFile) {
  const QString path = Path("tree.ged");
  QFile::copy(kFamily, path);
  TForm1& f = Show();
  f.Edit2->setText(path);
  f.FormActivate();
  ASSERT_EQ(f.ClientDataSet1->RecordCount(), 7);
  ASSERT_TRUE(f.LocatePerson(4));
  f.model().aIndi[4].TECH = "seen";
  f.FormActivate();
  EXPECT_EQ(f.model().aIndi[4].TECH, "seen");  // unchanged file: no reload
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::Append));
  file.write("\r\n");
  file.close();
  f.FormActivate();
  EXPECT_EQ(f.model().aIndi[4].TECH, "");
  EXPECT_EQ(f.CurrentPerson(), 4);
  // Esc asks long runs to stop and disables the stop button.
  f.ToolButton4->setEnabled(true);
  f.FormKeyDown(Qt::Key_Escape);
  EXPECT_TRUE(f.model().AbortFlag);
  EXPECT_FALSE(f.ToolButton4->isEnabled());
}

TEST_F(MainWindow, SearchFilterAndSort) {
  TForm1& f = Open();
  f.Edit1->setText(QStringLiteral("петров с"));
  EXPECT_EQ(f.CurrentPerson(), 3);
  f.Edit1->setText(QStringLiteral("сидоров"));
  EXPECT_EQ(f.CurrentPerson(), 4);
  f.Edit1->setText(QStringLiteral("нет такого"));
  EXPECT_TRUE(f.SearchFailed());
  EXPECT_EQ(f.CurrentPerson(), 4);
  // name filter
  f.SpeedButton1->setChecked(true);
  f.Edit1->setText(QStringLiteral("петров"));
  EXPECT_EQ(f.ClientDataSet1->RecordCount(), 5);
  // living only, with the name filter off: the current person stays
  f.SpeedButton1->setChecked(false);
  ASSERT_TRUE(f.LocatePerson(2));
  f.cbLive->setChecked(true);
  f.SpeedButton1Click();
  EXPECT_EQ(f.ClientDataSet1->RecordCount(), 5);  // Пётр (death 1990) and Олег (dead) are hidden
  EXPECT_EQ(f.CurrentPerson(), 2);
  // the incremental search only looks at visible rows
  f.Edit1->setText(QStringLiteral("олег"));
  EXPECT_TRUE(f.SearchFailed());
  f.cbLive->setChecked(false);
  f.SpeedButton1Click();
  // sorting by titles
  ASSERT_TRUE(f.LocatePerson(5));
  f.DBGrid1TitleClick(0);
  EXPECT_EQ(f.DataSource1->ColumnTitle(0), QStringLiteral("˄ Полное имя") + kMark);
  EXPECT_EQ(VisibleNames(f).first(), QStringLiteral("Сидорова Анна"));
  EXPECT_EQ(f.CurrentPerson(), 5);
  f.DBGrid1TitleClick(0);
  EXPECT_EQ(f.DataSource1->ColumnTitle(0), QStringLiteral("˅ Полное имя") + kMark);
  f.DBGrid1TitleClick(1);
  EXPECT_EQ(f.DataSource1->ColumnTitle(1), QStringLiteral("˅ Дата рождения") + kMark);
  EXPECT_EQ(f.DataSource1->ColumnTitle(0), QStringLiteral("Полное имя") + kMark);
  EXPECT_EQ(VisibleNames(f).first(), QStringLiteral("Иванов Олег"));  // no birth date first
  EXPECT_EQ(VisibleNames(f).last(), QStringLiteral("Петрова Ольга Сергеевна"));
  EXPECT_EQ(f.CurrentPerson(), 5);
}

TEST_F(MainWindow, RootPersonMarksAndAutomaticChoice) {
  TForm1& f = Open();
  f.CheckBox71->setChecked(true);
  ASSERT_TRUE(f.LocatePerson(5));
  f.SpeedButton2Click();
  EXPECT_EQ(f.Edit18->text(), QStringLiteral("Петрова Ольга Сергеевна"));
  EXPECT_EQ(f.RootPerson(), 5);
  EXPECT_EQ(f.CurrentPerson(), 5);
  auto fav = [&](std::int64_t i) {
    return f.ClientDataSet1->Value(static_cast<int>(i - 1), pfIsFav).toString();
  };
  EXPECT_EQ(fav(5), "0");
  EXPECT_EQ(fav(3), "1");
  EXPECT_EQ(fav(1), "1");
  EXPECT_EQ(fav(6), "");
  f.cbFavorit->setChecked(true);
  f.SpeedButton1Click();
  EXPECT_EQ(f.ClientDataSet1->RecordCount(), 5);
  f.cbFavorit->setChecked(false);
  f.SpeedButton1Click();
  // The root survives a reload by its name.
  f.ToolButton6Click();
  EXPECT_EQ(fav(5), "0");
  // Clearing the field clears every mark.
  f.Edit18->clear();
  for (std::int64_t i = 1; i <= 7; ++i) EXPECT_EQ(fav(i), "") << i;
  // Automatic choice by ancestors: Ольга has four.
  f.N1Click(0);
  EXPECT_EQ(f.RootPerson(), 5);
  EXPECT_EQ(f.model().aIndi[5].iPr, 4);
  // by descendants: Иван (index 1) and Мария both count 3; the lower index wins
  f.N1Click(1);
  EXPECT_EQ(f.RootPerson(), 1);
  EXPECT_EQ(f.CurrentPerson(), 1);
  EXPECT_EQ(fav(1), "0");
  // A dragged row is accepted on the root field only from the person grid.
  EXPECT_TRUE(f.Edit6DragOver(f.DBGrid1));
  EXPECT_FALSE(f.Edit6DragOver(f.Edit1));
}

TEST_F(MainWindow, NameTemplateEditorRebuildsNames) {
  TForm1& f = Open();
  f.SpeedButton38Click();
  EXPECT_FALSE(f.Panel55->isHidden());
  f.Button8Click(f.Button8);
  f.Button8DropDownClick(f.Button9);
  f.Button8Click(f.Button10);
  f.Button8Click(f.Button11);
  f.Button8Click(f.Button8);  // a part is added once
  EXPECT_EQ(f.Edit23->text(), "14)23");
  EXPECT_EQ(f.Edit22->text(), QStringLiteral("Фамилия (Фамилия при рождении) Имя Отчество"));
  f.SpeedButton40Click();
  EXPECT_TRUE(f.Panel55->isHidden());
  // first name first
  ASSERT_TRUE(f.LocatePerson(3));
  f.SpeedButton38Click();
  f.Button8Click(f.Button10);
  f.Button8Click(f.Button8);
  f.SpeedButton39Click();
  EXPECT_EQ(f.Edit21->text(), "21");
  EXPECT_EQ(f.Edit17->text(), QStringLiteral("Имя Фамилия"));
  EXPECT_EQ(f.model().aIndi[3].FIO1, QStringLiteral("Сергей Петров"));
  EXPECT_EQ(f.ClientDataSet1->FieldValue("fio").toString(), QStringLiteral("Сергей Петров"));
  EXPECT_EQ(f.CurrentPerson(), 3);
  EXPECT_EQ(VisibleNames(f).first(), QStringLiteral("Анна Сидорова"));
  // A page change rewrites the readable form from the code.
  f.PageControl5->setCurrentIndex(2);
  EXPECT_EQ(f.Edit17->text(), QStringLiteral("Имя Фамилия"));
}

}  // namespace

namespace {

// Marks written while the list's controls are disabled reach the grid when they are enabled again: the
// root command and clearing the root repaint the rows at once.
TEST_F(MainWindow, RootMarksReachTheGridAtOnce) {
  TForm1& f = Open();
  ASSERT_TRUE(f.LocatePerson(5));
  int repaints = 0;
  QObject::connect(f.DataSource1, &QAbstractItemModel::dataChanged, [&] { ++repaints; });
  QObject::connect(f.DataSource1, &QAbstractItemModel::modelReset, [&] { ++repaints; });
  f.SpeedButton2Click();
  EXPECT_GT(repaints, 0) << "the root command did not reach the view";
  EXPECT_EQ(f.DataSource1->data(f.DataSource1->index(f.ClientDataSet1->RecNo() - 1, 0), Qt::BackgroundRole).value<QColor>(), QColor(156, 254, 162));
  repaints = 0;
  f.Edit18->clear();
  EXPECT_GT(repaints, 0) << "clearing the root did not reach the view";
  f.N1Click(1);
  EXPECT_EQ(f.RootPerson(), 1);
  EXPECT_FALSE(f.ClientDataSet1->ControlsDisabled());
}

}  // namespace

namespace {

// The root field is read-only, so its own clear button works through the window's action: clearing
// removes the root and every mark, and "no root" is what the settings keep.
TEST_F(MainWindow, TheUserCanClearTheRoot) {
  TForm1& f = Open();
  ASSERT_TRUE(f.LocatePerson(5));
  f.SpeedButton2Click();
  auto* clear = f.Edit18->findChild<QAction*>(QStringLiteral("Edit18Clear"));
  ASSERT_NE(clear, nullptr);
  EXPECT_TRUE(clear->isVisible());
  EXPECT_TRUE(clear->isEnabled());
  clear->trigger();
  EXPECT_EQ(f.Edit18->text(), "");
  EXPECT_EQ(f.RootPerson(), 0);
  for (std::int64_t i = 1; i <= 7; ++i) EXPECT_EQ(f.ClientDataSet1->Value(int(i - 1), pfIsFav).toString(), "") << i;
  EXPECT_FALSE(clear->isVisible());
  f.IniSave();
  EXPECT_EQ(platform::TIniFile(TForm1::IniFileName()).ReadString("Options", "Edit18", "x"), "");
}

}  // namespace

namespace {

const QString kSample = QStringLiteral(TREVOLAN_SOURCE_DIR "/samples/sample-utf8.ged");

// A click that arrives while a file loads (the load processes events for its gauge) may not change the
// model or the list: the new name template is refused, not half applied, and can be applied afterwards.
TEST_F(MainWindow, NameTemplateDuringALoadIsRefusedAndWorksAfterwards) {
  TForm1& f = Open();
  f.SpeedButton38Click();
  f.Button8Click(f.Button10);  // first name, then surname
  f.Button8Click(f.Button8);
  bool firedWhileBusy = false;
  QTimer::singleShot(0, &f, [&] {
    firedWhileBusy = f.Busy();
    f.SpeedButton39->click();
  });
  f.OpenDataFiles(kSample);
  ASSERT_TRUE(firedWhileBusy) << "the click did not arrive during the load";
  EXPECT_EQ(f.Edit21->text(), "14)23");
  const TINDI& p = f.model().aIndi[1];
  EXPECT_EQ(p.FIO1, FormatFullName(p.SURN1, p.FIRS1, p.PATR1, p.SURN0, f.Edit21->text()));
  // After the load the same choice applies.
  f.SpeedButton39->click();
  EXPECT_EQ(f.Edit21->text(), "21");
  EXPECT_EQ(f.model().aIndi[1].FIO1, FormatFullName(p.SURN1, p.FIRS1, p.PATR1, p.SURN0, "21"));
}

// Closing the window during a load stops the load and closes the window when the load has ended.
TEST_F(MainWindow, CloseDuringALoadClosesWhenItEnds) {
  TForm1& f = Show();
  bool firedWhileBusy = false;
  QTimer::singleShot(0, &f, [&] {
    firedWhileBusy = f.Busy();
    f.close();
  });
  f.OpenDataFiles(kSample);
  ASSERT_TRUE(firedWhileBusy);
  EXPECT_TRUE(f.model().AbortFlag);
  QCoreApplication::processEvents();
  EXPECT_FALSE(f.isVisible()) << "the close request was swallowed";
  // Settings were written on the way out.
  EXPECT_TRUE(QFileInfo::exists(TForm1::IniFileName()));
}

}  // namespace
