// Long runs of the window. While one goes, the user can press anything: every command that could change the
// model, the person list or the shared ancestor list is refused, and the run ends with what it started from.
// The run here is the marriage list (it walks the shared ancestor list while the window stays live); in the
// middle of it the test clicks another person, runs every page from the tool bar, picks every item of the
// report menu and presses every button of every page. The marriage list also reports its progress in
// paced steps, not after every row, and Stop ends it.
#include "tests/gui/WindowFixture.h"

#include "app/charts/Ancestors.h"
#include "app/core/Model.h"
#include "app/window/ExportPage.h"
#include "app/window/MarriagesPage.h"
#include "app/window/Unit1.h"

#include <QAbstractButton>
#include <QFile>
#include <QTemporaryDir>
#include <QAction>
#include <QMouseEvent>
#include <QTextEdit>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using guitest::kSample;

// What a refused command leaves alone: the person, the ancestor list and every page's output.
struct TSnapshot {
  std::int64_t person = 0;
  std::vector<std::string> ancestors;
  std::map<std::string, std::string> outputs;

  static TSnapshot Of(TForm1& form) {
    TSnapshot s;
    s.person = form.CurrentPerson();
    for (const TPers& p : form.Ancestors().aPers) s.ancestors.push_back((p.ID + QLatin1Char('/') + p.Place).toStdString());
    for (int i = 0; i < form.PageControl1->count(); ++i) {
      QWidget* tab = form.PageControl1->widget(i);
      for (auto* e : tab->findChildren<QTextEdit*>()) s.outputs[(tab->objectName() + e->objectName()).toStdString()] = e->toPlainText().left(80).toStdString();
      for (auto* t : tab->findChildren<QTreeWidget*>())
        s.outputs[(tab->objectName() + t->objectName()).toStdString()] = std::to_string(t->topLevelItemCount());
    }
    return s;
  }
};

void ClickRow(QAbstractItemView* view, int row) {
  const QRect r = view->visualRect(view->model()->index(row, 0));
  const QPointF at = r.center();
  for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent e(type, at, view->viewport()->mapToGlobal(at), Qt::LeftButton,
                  type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &e);
  }
}

class BusyGate : public guitest::WindowFixture {};

TEST_F(BusyGate, EveryCommandIsRefusedWhileALongRunGoes) {
  MakeWindow();
  form_->show();
  QCoreApplication::processEvents();
  ASSERT_NO_FATAL_FAILURE(Open(kSample, 20));
  ASSERT_TRUE(form_->LocatePerson(guitest::DeepestPerson()));
  auto& marriages = *form_->Page<TMarriagesPage>();

  bool pressed = false;
  TSnapshot before, after;
  QTimer::singleShot(0, form_.get(), [&] {
    pressed = true;
    ASSERT_TRUE(form_->Busy());
    before = TSnapshot::Of(*form_);
    ClickRow(form_->DBGrid1, 3);
    for (int i = 0; i < form_->PageControl1->count(); ++i) {
      form_->PageControl1->setCurrentIndex(i);
      form_->ToolButton3->click();
    }
    for (QAction* a : form_->PopupMenu5->actions()) a->trigger();
    for (int i = 0; i < form_->PageControl1->count(); ++i)
      for (QAbstractButton* b : form_->PageControl1->widget(i)->findChildren<QAbstractButton*>()) b->click();
    for (QAbstractButton* b : form_->PageControl5->findChildren<QAbstractButton*>()) b->click();
    after = TSnapshot::Of(*form_);
    form_->ShowPage(marriages.Tab());
  });
  marriages.SpeedButton30->click();
  ASSERT_TRUE(pressed) << "the run never let the window process events";
  EXPECT_FALSE(form_->Busy());
  EXPECT_EQ(after.person, before.person);
  EXPECT_EQ(after.ancestors, before.ancestors);
  EXPECT_EQ(after.outputs, before.outputs);
  EXPECT_GT(marriages.CDS_Marriage->RecordCount(), 5);
  // Afterwards every command works again.
  EXPECT_TRUE(form_->ToolButton3->isEnabled());
  EXPECT_TRUE(marriages.SpeedButton30->isEnabled());
  EXPECT_TRUE(form_->DBGrid1->isEnabled());
  ClickRow(form_->DBGrid1, 3);
  EXPECT_NE(form_->CurrentPerson(), before.person);
}

// A full pedigree of `generations` generations: person k has the father 2k and the mother 2k + 1 (family k),
// so person 1 has 2^(generations-1) - 1 families of ancestors, each one row of the marriage list.
QString WritePedigree(const QTemporaryDir& dir, int generations) {
  std::string g = "0 HEAD\n1 CHAR UTF-8\n";
  const int persons = (1 << generations) - 1;
  for (int k = 1; k <= persons; ++k) {
    g += "0 @I" + std::to_string(k) + "@ INDI\n1 NAME Person" + std::to_string(k) + " /Line" + std::to_string(k % 7) + "/\n";
    g += std::string("1 SEX ") + (k % 2 == 0 || k == 1 ? "M" : "F") + "\n";
    if (2 * k + 1 <= persons) g += "1 FAMC @F" + std::to_string(k) + "@\n";
    if (k > 1) g += "1 FAMS @F" + std::to_string(k / 2) + "@\n";
  }
  for (int k = 1; 2 * k + 1 <= persons; ++k)
    g += "0 @F" + std::to_string(k) + "@ FAM\n1 HUSB @I" + std::to_string(2 * k) + "@\n1 WIFE @I" + std::to_string(2 * k + 1) +
         "@\n1 CHIL @I" + std::to_string(k) + "@\n";
  g += "0 TRLR\n";
  const QString path = dir.filePath(QStringLiteral("pedigree.ged"));
  QFile f(path);
  if (f.open(QIODevice::WriteOnly)) f.write(g.c_str());
  return path;
}

class MarriageRun : public guitest::WindowFixture {
 protected:
  void SetUp() override {
    MakeWindow();
    ASSERT_NO_FATAL_FAILURE(Open(WritePedigree(dir_, 10), 1000));
    ASSERT_TRUE(form_->LocatePerson(guitest::ByXref("@I1@")));
  }
  TMarriagesPage& Page() { return *form_->Page<TMarriagesPage>(); }
};

TEST_F(MarriageRun, ReportsProgressInPacedStepsNotAfterEveryRow) {
  // A zero timer fires once for every pass the window's progress makes through the event loop.
  int passes = 0;
  QTimer pass;
  QObject::connect(&pass, &QTimer::timeout, [&] { ++passes; });
  pass.start(0);
  QElapsedTimer clock;
  clock.start();
  Page().SpeedButton30->click();
  const qint64 elapsed = clock.elapsed();
  pass.stop();
  const int rows = Page().CDS_Marriage->RecordCount();
  ASSERT_EQ(rows, 511);
  // The first row, then every 100 rows or 50 ms (no bound on how long the build takes).
  EXPECT_LE(passes, rows / 100 + elapsed / 50 + 3) << "after " << elapsed << " ms";
}

TEST_F(MarriageRun, StopEndsTheBuildWithTheRowsMadeSoFar) {
  QTimer::singleShot(0, form_.get(), [&] {
    ASSERT_TRUE(form_->ToolButton4->isEnabled());
    form_->ToolButton4->click();
  });
  Page().SpeedButton30->click();
  const int rows = Page().CDS_Marriage->RecordCount();
  EXPECT_GT(rows, 0);
  EXPECT_LT(rows, 511);
  EXPECT_EQ(Page().Label30->text(), QStringLiteral("%1/%1").arg(rows));
  EXPECT_FALSE(form_->ToolButton4->isEnabled());
  EXPECT_FALSE(form_->Busy());
}

TEST_F(MarriageRun, StoppedExportSaysHowFarItWent) {
  auto& p = *form_->Page<TExportPage>();
  QTimer::singleShot(0, form_.get(), [&] { form_->ToolButton4->click(); });
  p.Button3->click();
  const QStringList counts = p.Label8->text().split(QLatin1Char('/'));
  ASSERT_EQ(counts.size(), 2) << p.Label8->text().toStdString();
  EXPECT_EQ(counts[1].toLongLong(), TheModel().PersonCount());
  EXPECT_LT(counts[0].toLongLong(), counts[1].toLongLong()) << p.Label8->text().toStdString();
}

}  // namespace
