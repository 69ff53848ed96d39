// The scheme pages and the run, print and save commands of the main window, on a small GEDCOM file.
#include "tests/gui/WindowFixture.h"
#include "app/charts/ChartOutput.h"
#include "app/core/Model.h"
#include "app/window/AncestorsPage.h"
#include "app/window/DescendantsPage.h"
#include "app/window/ProblemsPage.h"
#include "app/window/StatisticsPage.h"
#include "app/window/MarriagesPage.h"
#include "app/window/PersonCardPage.h"
#include "app/window/ToolsPage.h"
#include "app/window/ExportPage.h"
#include "app/window/CalendarPage.h"
#include "app/window/PlacesPage.h"
#include "app/window/Unit1.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/PageSink.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTextEdit>

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <memory>

namespace {

using guitest::EnsureApp;
using guitest::ByXref;

// Kid's parents are first cousins: the grandparents G1 and G2 appear twice among her ancestors.
const char kGedcom[] =
    "0 HEAD\n1 CHAR UTF-8\n"
    "0 @I1@ INDI\n1 NAME Kira /Kid/\n1 SEX F\n1 FAMC @F4@\n"
    "0 @I2@ INDI\n1 NAME Carl /Cone/\n1 SEX M\n1 FAMC @F2@\n1 FAMS @F4@\n"
    "0 @I3@ INDI\n1 NAME Cora /Ctwo/\n1 SEX F\n1 FAMC @F3@\n1 FAMS @F4@\n"
    "0 @I4@ INDI\n1 NAME Sam /Sone/\n1 SEX M\n1 FAMC @F1@\n1 FAMS @F2@\n"
    "0 @I5@ INDI\n1 NAME Sara /Stwo/\n1 SEX F\n1 FAMC @F1@\n1 FAMS @F3@\n"
    "0 @I6@ INDI\n1 NAME Gleb /Gone/\n1 SEX M\n1 FAMS @F1@\n"
    "0 @I7@ INDI\n1 NAME Gala /Gtwo/\n1 SEX F\n1 FAMS @F1@\n"
    "0 @F1@ FAM\n1 HUSB @I6@\n1 WIFE @I7@\n1 CHIL @I4@\n1 CHIL @I5@\n"
    "0 @F2@ FAM\n1 HUSB @I4@\n1 CHIL @I2@\n"
    "0 @F3@ FAM\n1 WIFE @I5@\n1 CHIL @I3@\n"
    "0 @F4@ FAM\n1 HUSB @I2@\n1 WIFE @I3@\n1 CHIL @I1@\n"
    "0 TRLR\n";

class ChartsWindow : public guitest::WindowFixture {
 protected:
  void SetUp() override {
    const QString ged = dir_.filePath(QStringLiteral("t.ged"));
    QFile f(ged);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(kGedcom);
    f.close();
    MakeWindow(QSize());
    ASSERT_NO_FATAL_FAILURE(Open(ged, 6));
    ASSERT_TRUE(form_->LocatePerson(ByXref("@I1@")));
  }
  TAncestorsPage* Ancestors() const { return form_->Page<TAncestorsPage>(); }
  TDescendantsPage* Descendants() const { return form_->Page<TDescendantsPage>(); }
  template <class P>
  QWidget* Tab() const { return form_->Page<P>()->Tab(); }
};

TEST_F(ChartsWindow, RunShowsTheAncestorSchemeWithLinkedRepeats) {
  form_->PageControl1->setCurrentWidget(Ancestors()->Tab());
  form_->ToolButton3Click();
  QTreeWidget* tree = Ancestors()->Tree;
  const auto rows = TreeRowsOf(tree);
  // Kira; Carl, Cora; Sam, no mother, no father, Sara; Gleb, Gala, and both again as leaves.
  ASSERT_EQ(rows.size(), 11u);
  EXPECT_TRUE(rows[0].Text.startsWith(QStringLiteral("0. ")));
  EXPECT_TRUE(form_->ToolButton1->isEnabled());
  // The repeated grandparent is underlined and jumps to his first node.
  QTreeWidgetItem* repeated = nullptr;
  for (QTreeWidgetItemIterator it(tree); *it; ++it)
    if ((*it)->data(0, kNodeLinkRole) != (*it)->data(0, kNodeIdRole)) repeated = *it;
  ASSERT_NE(repeated, nullptr);
  EXPECT_TRUE(repeated->font(0).underline());
  JumpToLinkedNode(tree, repeated);
  ASSERT_NE(tree->currentItem(), nullptr);
  EXPECT_EQ(tree->currentItem()->data(0, kNodeIdRole), repeated->data(0, kNodeLinkRole));
  EXPECT_EQ(tree->currentItem()->text(0).section(QLatin1Char(' '), 1), repeated->text(0).section(QLatin1Char(' '), 1));
}

TEST_F(ChartsWindow, RunOnPagesWithoutAReportDoesNothing) {
  for (QWidget* page : {Tab<TPersonCardPage>(), Tab<TToolsPage>(), Tab<TExportPage>(), Tab<TCalendarPage>(),
                        Tab<TPlacesPage>()}) {
    form_->PageControl1->setCurrentWidget(page);
    form_->ToolButton3Click();
  }
  EXPECT_EQ(Ancestors()->Tree->topLevelItemCount(), 0);
  EXPECT_EQ(Descendants()->Tree->topLevelItemCount(), 0);
}

TEST_F(ChartsWindow, SavesTheSchemeAsCsvAndPrintsIt) {
  Ancestors()->SpeedButton22Click();
  const QString csv = dir_.filePath(QStringLiteral("a.csv"));
  dialogs_->saves.push_back({csv, 2});
  form_->ToolButton2Click();
  QFile f(csv);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"));
  ASSERT_GT(lines.size(), 4);
  EXPECT_TRUE(lines[2].startsWith(QStringLiteral(";;\"2. "))) << lines[2].toStdString();
  EXPECT_TRUE(lines[3].startsWith(QStringLiteral(";;;\""))) << lines[3].toStdString();
  dialogs_->prints.push_back(true);
  form_->ToolButton1Click();
  EXPECT_EQ(sink_->calls.first(), QStringLiteral("BeginDoc Trevolan"));
  EXPECT_EQ(sink_->calls.last(), QStringLiteral("EndDoc"));
  // Cancelled dialogs do nothing further.
  sink_->calls.clear();
  form_->ToolButton1Click();
  form_->ToolButton2Click();
  EXPECT_TRUE(sink_->calls.isEmpty());
  EXPECT_TRUE(dialogs_->messages.isEmpty());
}

TEST_F(ChartsWindow, DescendantSchemeFromTheReportMenu) {
  ASSERT_TRUE(form_->LocatePerson(ByXref("@I6@")));
  QAction* item = nullptr;
  for (QAction* a : form_->PopupMenu5->actions())
    if (a->statusTip() == QLatin1String("FullChartDescendants")) item = a;
  ASSERT_NE(item, nullptr);
  item->trigger();
  EXPECT_EQ(form_->PageControl1->currentWidget(), Descendants()->Tab());
  const auto rows = TreeRowsOf(Descendants()->Tree);
  ASSERT_FALSE(rows.empty());
  EXPECT_TRUE(rows[0].Text.contains(QStringLiteral("Gleb")));
  // Split saving of the picture in portrait pages.
  const QString bmp = dir_.filePath(QStringLiteral("d.bmp"));
  dialogs_->saves.push_back({bmp, 2});
  Descendants()->MenuItem3->trigger();
  EXPECT_TRUE(QFile::exists(dir_.filePath(QStringLiteral("d1.bmp"))));
}

TEST_F(ChartsWindow, OptionPairsAndNameParts) {
  auto& c = *Ancestors();
  EXPECT_TRUE(c.CheckBox66->isChecked());
  c.CheckBox67->setChecked(true);
  EXPECT_FALSE(c.CheckBox66->isChecked());
  c.CheckBox67->setChecked(false);
  EXPECT_FALSE(c.CheckBox66->isChecked()) << "unticking leaves both unticked";
  EXPECT_FALSE(c.CheckBox61->isEnabled());
  c.CheckBox60->setChecked(false);
  EXPECT_TRUE(c.CheckBox61->isEnabled());
}

}  // namespace

namespace {

TEST_F(ChartsWindow, StatisticsChartIsSavedAsBmpWithTheSuffixAppended) {
  auto* chart = new QWidget(Tab<TStatisticsPage>());
  chart->setObjectName(QStringLiteral("Chart1"));
  chart->resize(120, 80);
  form_->PageControl1->setCurrentWidget(Tab<TStatisticsPage>());
  const QString name = dir_.filePath(QStringLiteral("stat.bmp"));
  dialogs_->saves.push_back({name, 1});
  form_->ToolButton2Click();
  EXPECT_TRUE(QFile::exists(name + QStringLiteral(".bmp")));
  EXPECT_FALSE(QFile::exists(name));
}

// Every tab is owned by one page object, in tab order, and the active tab decides the page.
TEST_F(ChartsWindow, EveryTabHasItsPageInOrder) {
  ASSERT_EQ(form_->Pages().size(), 14u);
  for (int i = 0; i < 14; ++i) {
    QWidget* tab = form_->PageControl1->widget(i);
    EXPECT_EQ(form_->Pages()[size_t(i)]->Tab(), tab) << i;
    EXPECT_EQ(tab->objectName(), QStringLiteral("TabSheet%1").arg(i + 1));
  }
  form_->PageControl1->setCurrentWidget(Tab<TMarriagesPage>());
  EXPECT_EQ(form_->CurrentPage(), form_->Page<TMarriagesPage>());
}

}  // namespace

namespace {

TEST_F(ChartsWindow, RichTextPagesSaveAsRtfAndPrintWithTheirTitles) {
  // The page's own pane once the page is built; a stand-in while the tab has none.
  auto* edit = Tab<TProblemsPage>()->findChild<QTextEdit*>(QStringLiteral("RichEdit1"));
  if (!edit) {
    edit = new QTextEdit(Tab<TProblemsPage>());
    edit->setObjectName(QStringLiteral("RichEdit1"));
  }
  edit->setPlainText(QStringLiteral("Проблема"));
  form_->PageControl1->setCurrentWidget(Tab<TProblemsPage>());
  const QString rtf = dir_.filePath(QStringLiteral("p.rtf"));
  dialogs_->saves.push_back({rtf, 1});
  form_->ToolButton2Click();
  EXPECT_EQ(dialogs_->filters.last(), QStringLiteral("File RTF|*.rtf"));
  QFile f(rtf);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_TRUE(f.readAll().startsWith("{\\rtf1"));
  dialogs_->prints.push_back(true);
  form_->ToolButton1Click();
  EXPECT_EQ(sink_->calls, QStringList{QStringLiteral("PrintDocument DetectorProblems: Проблема")});
}

}  // namespace

namespace {

// A failing command ends at its boundary: the error is shown once, the wait cursor is gone, and the window
// takes the next command.
TEST(CommandBoundary, AFailingCommandShowsItsErrorAndRestoresTheCursor) {
  guitest::EnsureApp();
  QTemporaryDir dir;
  TForm1::SetProgramDir(dir.path());
  struct TRecordingForm : TForm1 {
    QStringList errors;
    void ShowError(const QString& text) override { errors << text; }
  } form;
  RunCommand(form, [] {
    TBusyCursor busy;
    throw std::runtime_error("disk full");
  });
  EXPECT_EQ(form.errors, QStringList{QStringLiteral("disk full")});
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_FALSE(form.Busy());
  {
    TLongRun run(form);
    ASSERT_TRUE(run.Started());
    EXPECT_TRUE(form.ToolButton4->isEnabled());
    TLongRun nested(form);
    EXPECT_FALSE(nested.Started()) << "a second long run may not start while one runs";
  }
  EXPECT_FALSE(form.Busy());
  EXPECT_FALSE(form.ToolButton4->isEnabled());
  TForm1::SetProgramDir(QString());
}

}  // namespace
