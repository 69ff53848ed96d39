// The problem detector page on the sample tree: its controls and their defaults, runs from the page, the
// toolbar and the report menu give the headless detector's lines in the pane, options from the controls,
// printing and saving through the toolbar, the controls kept in the settings.
#include "tests/gui/WindowFixture.h"
#include "app/core/Model.h"
#include "app/reports/Detector.h"
#include "app/window/ProblemsPage.h"
#include "app/window/Unit1.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/IniFile.h"
#include "platform/qt/PageSink.h"
#include "platform/qt/RichText.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

namespace {

using guitest::kSample;

class DetectorPage : public guitest::WindowFixture {
 protected:
  void SetUp() override {
    MakeWindow();
    ASSERT_NO_FATAL_FAILURE(Open(kSample, 100));
  }
  TProblemsPage* Page() const { return form_->Page<TProblemsPage>(); }
  QString Pane() const { return Page()->RichEdit1->toPlainText(); }
  // The pane as the headless detector writes it for these options.
  static QString Expected(const TDetectorOptions& o) {
    TDetectorList list;
    DetectorGedcom(TheModel(), o, ReadCheckCatalogue(), QDate::currentDate(), list);
    QString text;
    for (const TDetectorFinding& f : list.findings) text += f.head + QStringLiteral(": ") + f.message + u'\n';
    return text;
  }
};

TEST_F(DetectorPage, ControlsCarryTheirNamesKeysAndDefaults) {
  TProblemsPage* p = Page();
  ASSERT_NE(p, nullptr);
  const TDetectorOptions defaults;
  for (const TDetectorControl& c : DetectorControls()) {
    const QString name = QString::fromUtf16(c.name);
    SCOPED_TRACE(name.toStdString());
    if (c.min < c.max) {
      auto* spin = p->Tab()->findChild<QSpinBox*>(name);
      ASSERT_NE(spin, nullptr);
      EXPECT_EQ(spin->value(), c.def);
      EXPECT_EQ(spin->minimum(), c.min);
      EXPECT_EQ(spin->maximum(), c.max);
    } else {
      auto* box = p->Tab()->findChild<QCheckBox*>(name);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->isChecked(), c.def != 0);
      EXPECT_EQ(box->text(), QString::fromUtf16(c.caption));
      EXPECT_EQ(platform::HelpKeyword(box), QString::fromUtf16(c.helpKeyword));
    }
  }
  const TDetectorOptions read = p->Options();
  EXPECT_EQ(read.Check, defaults.Check);
  EXPECT_EQ(read.Spin121, 110);
  EXPECT_FALSE(read.CheckBox7);
  EXPECT_NE(p->Tab()->findChild<platform::TRichEdit*>(QStringLiteral("RichEdit1")), nullptr);
}

// Every option is read from its own control: each control gets a value no other control has (a spin
// edit its maximum, a check box the opposite of its default) and only that option changes. A name outside
// the table finds no control.
TEST_F(DetectorPage, EachOptionIsReadFromItsOwnControl) {
  TProblemsPage* p = Page();
  for (const TDetectorControl& c : DetectorControls()) {
    const QString name = QString::fromUtf16(c.name);
    SCOPED_TRACE(name.toStdString());
    ASSERT_NE(p->Control(name), nullptr);
    EXPECT_EQ(p->Control(name)->objectName(), name);
    const TDetectorOptions before = p->Options();
    const int changed = c.min < c.max ? c.max : int(c.def == 0);
    if (c.min < c.max) p->Spin(name)->setValue(changed);
    else p->Box(name)->setChecked(changed != 0);
    const TDetectorOptions after = p->Options();
    for (const TDetectorControl& other : DetectorControls()) {
      const QString o = QString::fromUtf16(other.name);
      EXPECT_EQ(DetectorOption(after, o), o == name ? changed : DetectorOption(before, o)) << o.toStdString();
    }
    if (c.min < c.max) p->Spin(name)->setValue(c.def);
    else p->Box(name)->setChecked(c.def != 0);
  }
  for (const char* unknown : {"Spin142", "Check0", "Check23", "CheckBox8", "RichEdit1", ""})
    EXPECT_EQ(p->Control(QString::fromLatin1(unknown)), nullptr) << unknown;
  EXPECT_NE(p->Check(kDetectorChecks), nullptr);
  EXPECT_EQ(p->Check(kDetectorChecks + 1), nullptr);
}

TEST_F(DetectorPage, RunsFromThePageTheToolbarAndTheMenuIntoThePane) {
  TProblemsPage* p = Page();
  p->SpeedButton11->click();
  EXPECT_EQ(form_->PageControl1->currentWidget(), p->Tab());
  const QString defaults = Expected(TDetectorOptions());
  ASSERT_FALSE(defaults.isEmpty());
  EXPECT_EQ(Pane(), defaults);
  EXPECT_TRUE(form_->ToolButton1->isEnabled());
  EXPECT_TRUE(form_->ToolButton2->isEnabled());
  EXPECT_FALSE(form_->ToolButton4->isEnabled());  // "Прервать" only while running
  EXPECT_FALSE(form_->Busy());

  // Options come from the controls; "Выполнить" on the page runs again into a cleared pane.
  p->Check(18)->setChecked(true);
  p->Check(19)->setChecked(true);
  p->Box(QStringLiteral("CheckBox7"))->setChecked(true);
  p->Spin(QStringLiteral("Spin121"))->setValue(95);
  TDetectorOptions o;
  o.Check[18] = o.Check[19] = true;
  o.CheckBox7 = true;
  o.Spin121 = 95;
  form_->ToolButton3Click();
  const QString more = Expected(o);
  EXPECT_EQ(Pane(), more);
  EXPECT_GT(more.count(u'\n'), defaults.count(u'\n'));
  EXPECT_TRUE(more.contains(QStringLiteral(": 18.")));

  // A line: bold head in the finding's colour, black message.
  const QTextBlock first = p->RichEdit1->document()->begin();
  const QTextFragment head = first.begin().fragment();
  EXPECT_EQ(head.charFormat().fontWeight(), QFont::Bold);
  const QColor c = head.charFormat().foreground().color();
  EXPECT_TRUE(c == QColor(255, 0, 0) || c == QColor(0, 0, 255));

  // Only favourites: nobody is marked before a root person is chosen.
  p->Box(QStringLiteral("CheckBox11"))->setChecked(true);
  p->Run();
  EXPECT_TRUE(Pane().isEmpty());
}

// While the detector runs the window is busy: a second run and opening a file are refused; Esc stops the
// run before the next person and frees the window.
TEST_F(DetectorPage, EscStopsTheRunAndOtherCommandsWait) {
  TProblemsPage* p = Page();
  for (int n = 1; n <= kDetectorChecks; ++n) p->Check(n)->setChecked(true);
  const std::int64_t persons = TheModel().PersonCount();
  bool busy = false, stopEnabled = false;
  QTimer::singleShot(0, form_.get(), [&] {
    busy = form_->Busy();
    stopEnabled = form_->ToolButton4->isEnabled();
    form_->ToolButton3Click();                            // refused: no second run inside this one
    form_->OpenDataFiles(QStringLiteral("/nonexistent.ged"));  // refused: the model stays
    form_->FormKeyDown(Qt::Key_Escape);
  });
  p->SpeedButton11Click();
  EXPECT_TRUE(busy);
  EXPECT_TRUE(stopEnabled);
  EXPECT_EQ(TheModel().PersonCount(), persons);
  // The first events are processed before the first person: nothing was checked.
  EXPECT_TRUE(Pane().isEmpty());
  EXPECT_FALSE(form_->Busy());
  EXPECT_FALSE(form_->ToolButton4->isEnabled());
  // The next run starts afresh.
  p->SpeedButton11Click();
  EXPECT_FALSE(Pane().isEmpty());
}

TEST_F(DetectorPage, PrintsAndSavesThroughTheToolbar) {
  TProblemsPage* p = Page();
  form_->PageControl1->setCurrentWidget(p->Tab());
  form_->ToolButton3Click();
  ASSERT_FALSE(Pane().isEmpty());
  dialogs_->prints.push_back(true);
  form_->ToolButton1Click();
  ASSERT_EQ(sink_->calls.size(), 1);
  EXPECT_EQ(sink_->calls[0], QStringLiteral("PrintDocument DetectorProblems: ") + Pane());

  const QString file = dir_.filePath(QStringLiteral("problems.rtf"));
  dialogs_->saves.push_back({file, 1});
  form_->ToolButton2Click();
  EXPECT_EQ(dialogs_->filters.last(), QStringLiteral("File RTF|*.rtf"));
  QFile rtf(file);
  ASSERT_TRUE(rtf.open(QIODevice::ReadOnly));
  const QByteArray bytes = rtf.readAll();
  EXPECT_TRUE(bytes.startsWith("{\\rtf"));
  EXPECT_TRUE(bytes.contains("\\b")) << "the heads are bold";
  EXPECT_TRUE(dialogs_->messages.isEmpty());
}

TEST_F(DetectorPage, ControlsAreSettings) {
  TProblemsPage* p = Page();
  p->Check(22)->setChecked(true);
  p->Check(1)->setChecked(false);
  p->Spin(QStringLiteral("Spin141"))->setValue(7);
  p->Box(QStringLiteral("CheckBox7"))->setChecked(true);
  form_->IniSave();
  const platform::TIniFile ini(TForm1::IniFileName());
  EXPECT_EQ(ini.ReadInteger(QStringLiteral("Options"), QStringLiteral("Spin141"), 0), 7);
  form_.reset();
  form_ = std::make_unique<TForm1>();
  form_->IniLoad();
  p = Page();
  EXPECT_TRUE(p->Check(22)->isChecked());
  EXPECT_FALSE(p->Check(1)->isChecked());
  EXPECT_EQ(p->Spin(QStringLiteral("Spin141"))->value(), 7);
  EXPECT_TRUE(p->Box(QStringLiteral("CheckBox7"))->isChecked());
}

// Under a translation file the page's captions and the messages of a run come from it; the numbers of years
// take the locale's decimal separator.
TEST_F(DetectorPage, TranslatedCaptionsAndMessages) {
  QDir(dir_.path()).mkdir(QStringLiteral("LNG"));
  const QString to = dir_.filePath(QStringLiteral("LNG/English.lng"));
  ASSERT_TRUE(QFile::copy(QStringLiteral(TREVOLAN_SOURCE_DIR "/LNG/English.lng"), to));
  QFile::setPermissions(to, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  form_ = std::make_unique<TForm1>();
  form_->show();
  QCoreApplication::processEvents();
  form_->OpenDataFiles(kSample);
  form_->ComboBox9->setCurrentIndex(form_->ComboBox9->findText(QStringLiteral("English.lng")));
  TProblemsPage* p = Page();
  EXPECT_EQ(p->Check(1)->text(), QStringLiteral("1.Child older than parent"));
  EXPECT_EQ(p->Box(QStringLiteral("CheckBox7"))->text(), QStringLiteral("Needing clarification"));
  p->Check(19)->setChecked(true);
  p->Spin(QStringLiteral("Spin121"))->setValue(90);
  p->SpeedButton11Click();
  const QString pane = Pane();
  EXPECT_TRUE(pane.contains(QStringLiteral(": 19.Maiden name unchanged after marriage, Father: "))) << pane.toStdString();
  EXPECT_TRUE(pane.contains(QStringLiteral(": 8.Age gap of children "))) << pane.toStdString();
  EXPECT_FALSE(pane.contains(QStringLiteral("Девичья"))) << pane.toStdString();
  // 12.1/12.2 lines over 90 years: "is 93,4 years" under the program's Russian number format.
  const QString point = QLocale().decimalPoint();
  const QRegularExpression years(QStringLiteral(" is \\d+") + QRegularExpression::escape(point) +
                                 QStringLiteral("\\d years"));
  EXPECT_TRUE(years.match(pane).hasMatch()) << pane.toStdString();
}

}  // namespace
