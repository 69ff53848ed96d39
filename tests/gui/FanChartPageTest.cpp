// The fan chart page of the main window on the sample tree: building from the page and from the toolbar,
// the zoom box, the colour panels and their settings key, printing and saving in parts.
#include "tests/gui/WindowFixture.h"
#include "app/charts/Ancestors.h"
#include "app/charts/FanChart.h"
#include "app/core/Model.h"
#include "app/window/FanChartPage.h"
#include "app/window/Unit1.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/PageSink.h"
#include "platform/qt/IniFile.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QScrollArea>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

using guitest::DeepestPerson;
using guitest::kSample;

class FanPage : public guitest::WindowFixture {
 protected:
  void SetUp() override {
    MakeWindow(QSize(1200, 800));
    ASSERT_NO_FATAL_FAILURE(Open(kSample, 20));
    ASSERT_TRUE(form_->LocatePerson(DeepestPerson()));
  }
  TFanChartPage* Fan() const { return form_->Page<TFanChartPage>(); }
  QWidget* Image2() { return Find<QWidget>("Image2"); }
  void Build(int generations, int type = 0, int direction = 0) {
    Find<QSpinBox>("SpinEdit1")->setValue(generations);
    Find<QComboBox>("ComboBox8")->setCurrentIndex(type);
    Find<QComboBox>("ComboBox12")->setCurrentIndex(direction);
    Fan()->SpeedButton4Click();
  }
};

TEST_F(FanPage, BuildsAncestorsAndDescendantsFromThePageAndTheToolbar) {
  Build(4);
  EXPECT_EQ(form_->PageControl1->currentWidget(), Fan()->Tab());
  EXPECT_EQ(Fan()->FanPicture().width(), 2000);
  const QString label = Find<QLabel>("Label9")->text();
  EXPECT_TRUE(label.endsWith(QStringLiteral("/15)"))) << label.toStdString();
  EXPECT_FALSE(label.startsWith(QStringLiteral("0%"))) << label.toStdString();
  // "Выполнить" on this page follows the page's choice of descendants.
  form_->LocatePerson(1);
  Find<QComboBox>("ComboBox12")->setCurrentIndex(1);
  form_->ToolButton3Click();
  EXPECT_EQ(Fan()->FanPicture().width(), 2 * 1900);
  bool number = false;
  EXPECT_GT(Find<QLabel>("Label9")->text().toInt(&number), 1);
  EXPECT_TRUE(number);
  // A generation count above 13 goes back to 13.
  Find<QSpinBox>("SpinEdit1")->setValue(15);
  EXPECT_EQ(Find<QSpinBox>("SpinEdit1")->value(), 13);
}

TEST_F(FanPage, StopEndsTheDrawingAndLeavesNoChart) {
  Build(4);
  ASSERT_FALSE(Fan()->FanPicture().isNull());
  for (int direction : {0, 1}) {
    QTimer::singleShot(0, form_.get(), [&] {
      ASSERT_TRUE(form_->ToolButton4->isEnabled());
      form_->ToolButton4->click();
    });
    Build(13, 0, direction);
    EXPECT_TRUE(Fan()->FanPicture().isNull()) << direction;
    EXPECT_TRUE(Find<QLabel>("Label9")->text().isEmpty()) << direction;
    EXPECT_FALSE(form_->ToolButton4->isEnabled());
    EXPECT_FALSE(form_->Busy());
  }
  // The next build draws again.
  Build(4);
  EXPECT_EQ(Fan()->FanPicture().width(), 2000);
}

// The zoom box keeps its text across the settings file: the designed fit text stays after a first start,
// a typed zoom (no item of the list) comes back as typed, and a chosen item too.
TEST_F(FanPage, ZoomTextSurvivesTheSettingsFile) {
  auto* zoom = Find<QComboBox>("ComboBox1");
  EXPECT_EQ(zoom->currentText(), QStringLiteral("По гор."));
  form_->IniSave();
  form_->IniLoad();
  EXPECT_EQ(zoom->currentText(), QStringLiteral("По гор."));
  for (const QString& text : {QStringLiteral("37%"), QStringLiteral("50%"), QStringLiteral("По гор.")}) {
    zoom->setCurrentText(text);
    form_->IniSave();
    zoom->setCurrentText(QStringLiteral("100%"));
    form_->IniLoad();
    EXPECT_EQ(zoom->currentText(), text);
  }
}

TEST_F(FanPage, ZoomBoxFitsScalesAndShowsFullSize) {
  Build(3);
  const int w = Fan()->FanPicture().width();
  ASSERT_EQ(w, 1400);
  auto* zoom = Find<QComboBox>("ComboBox1");
  const QSize box = Find<QScrollArea>("ScrollBox1")->viewport()->size();
  struct Case {
    QString text;
    int side;
  } cases[] = {
      {QStringLiteral("25% "), 350}, {QStringLiteral("50%"), 700}, {QStringLiteral("100%"), 1400},
      {QStringLiteral("По гор."), box.height()}, {QStringLiteral("abc"), box.width()}, {QStringLiteral("0%"), box.width()},
      {QStringLiteral("-20%"), box.width()}, {QStringLiteral("1000"), 1400}, {QStringLiteral("250%"), 1400},
  };
  for (const Case& c : cases) {
    zoom->setCurrentText(c.text);
    EXPECT_EQ(Image2()->width(), c.side) << c.text.toStdString();
    EXPECT_EQ(Image2()->height(), c.side) << c.text.toStdString();
  }
  EXPECT_TRUE(dialogs_->messages.isEmpty());
}

TEST_F(FanPage, ColourPanelsAreChosenUsedAndKeptInTheSettings) {
  auto* panel = Find<platform::TPanel>("Panel36");
  dialogs_->colors.push_back(0x123456);
  Fan()->Panel13Click(panel);
  EXPECT_EQ(panel->Color(), 0x123456);
  Fan()->Panel13Click(panel);  // cancelled: unchanged
  EXPECT_EQ(panel->Color(), 0x123456);
  // Panels follow the colouring: two colours show Panel13 and Panel38 only.
  auto* coloring = Find<QComboBox>("ComboBox7");
  coloring->setCurrentIndex(1);
  EXPECT_TRUE(panel->isHidden());
  EXPECT_FALSE(Find<platform::TPanel>("Panel38")->isHidden());
  coloring->setCurrentIndex(2);
  EXPECT_FALSE(panel->isHidden());
  // The second quarter of generation 3 takes the chosen colour.
  Build(3);
  const QImage& pic = Fan()->FanPicture();
  const QColor c = pic.pixelColor(700 + 380, 700 - 380);  // up-right, in ring 3
  EXPECT_EQ(platform::FromQColor(c), 0x123456u);
  form_->IniSave();
  const platform::TIniFile ini(TForm1::IniFileName());
  EXPECT_EQ(ini.ReadString(QStringLiteral("Options"), QStringLiteral("FanChartColors"), QString()),
            QStringLiteral("%1;%2;%3;%4").arg(0xFDDBA2).arg(0x123456).arg(0x00FFFF).arg(0x7367FE));
}

TEST_F(FanPage, SavesWholeAndInNumberedParts) {
  // Nothing to save or print before a chart is drawn.
  Fan()->SaveFanChart(1);
  Fan()->PrintFanChart(1);
  EXPECT_TRUE(dialogs_->filters.isEmpty());
  EXPECT_EQ(dialogs_->printAsked, 0);
  Build(2);
  const int w = Fan()->FanPicture().width();
  ASSERT_EQ(w, 800);
  const QString base = dir_.filePath(QStringLiteral("fan.png"));
  dialogs_->saves.push_back({base, 3});
  Fan()->N42Click();
  const char* order[] = {"fan1.png", "fan2.png", "fan3.png", "fan4.png"};
  for (const char* name : order) {
    QImageReader r(dir_.filePath(QLatin1String(name)));
    const QImage img = r.read();
    ASSERT_FALSE(img.isNull()) << name;
    EXPECT_EQ(img.size(), QSize(400, 400)) << name;
    EXPECT_FALSE(img.hasAlphaChannel()) << name;
  }
  // Top-left and bottom-left: the root circle's edge sits at their right-hand (centre) side.
  const QImage tl(dir_.filePath(QStringLiteral("fan1.png")));
  const QImage bl(dir_.filePath(QStringLiteral("fan2.png")));
  EXPECT_EQ(platform::FromRgb(tl.pixel(399, 399)), platform::FromRgb(Fan()->FanPicture().pixel(399, 399)));
  EXPECT_EQ(platform::FromRgb(bl.pixel(399, 0)), platform::FromRgb(Fan()->FanPicture().pixel(399, 400)));
  EXPECT_EQ(dialogs_->filters.last(), QStringLiteral("Image JPG|*.jpg|Image BMP|*.bmp|Image PNG|*.png"));
  // The filter decides the format: "Image BMP" and chart.jpg write chart.bmp.
  dialogs_->saves.push_back({dir_.filePath(QStringLiteral("chart.jpg")), 2});
  form_->ToolButton2Click();
  QFile bmp(dir_.filePath(QStringLiteral("chart.bmp")));
  ASSERT_TRUE(bmp.open(QIODevice::ReadOnly));
  EXPECT_EQ(bmp.read(2), QByteArray("BM"));
  EXPECT_FALSE(QFile::exists(dir_.filePath(QStringLiteral("chart.jpg"))));
  // JPEG halves from the toolbar's drop-down, on this page only.
  dialogs_->saves.push_back({dir_.filePath(QStringLiteral("half")), 1});
  Fan()->SaveFanChart(2);
  EXPECT_EQ(QImage(dir_.filePath(QStringLiteral("half1.jpg"))).size(), QSize(800, 400));
  EXPECT_EQ(QImage(dir_.filePath(QStringLiteral("half2.jpg"))).size(), QSize(800, 400));
  // A file that cannot be written is reported.
  dialogs_->saves.push_back({dir_.filePath(QStringLiteral("no/such/dir/x.png")), 3});
  Fan()->SaveFanChart(1);
  ASSERT_EQ(dialogs_->messages.size(), 1);
}

TEST_F(FanPage, PrintsOnOneTwoOrFourPagesOfOneJob) {
  Build(2);
  sink_->landscape = true;
  sink_->page = QSize(3508, 2480);
  dialogs_->prints.push_back(true);
  Fan()->PrintFanChart(2);
  // Landscape halves: the top half at the bottom of page 1, the bottom half at the top of page 2.
  const QStringList expected = {QStringLiteral("BeginDoc FanChart"), QStringLiteral("StretchDraw 0,726,3508,2480 from 800x400"),
                                QStringLiteral("NewPage"), QStringLiteral("StretchDraw 0,0,3508,1754 from 800x400"),
                                QStringLiteral("EndDoc")};
  EXPECT_EQ(sink_->calls, expected) << sink_->calls.join(QLatin1Char('|')).toStdString();
  sink_->calls.clear();
  sink_->landscape = false;
  sink_->page = QSize(2480, 3508);
  dialogs_->prints.push_back(true);
  Fan()->PrintFanChart(4);
  int pages = 0;
  for (const QString& call : sink_->calls) pages += call.startsWith(QStringLiteral("StretchDraw"));
  EXPECT_EQ(pages, 4);
  EXPECT_EQ(sink_->calls[1], QStringLiteral("StretchDraw 0,1028,2480,3508 from 400x400"));
  // A cancelled dialog prints nothing; a failing printer is reported.
  sink_->calls.clear();
  Fan()->PrintFanChart(1);
  EXPECT_TRUE(sink_->calls.isEmpty());
  sink_->failBegin = true;
  dialogs_->prints.push_back(true);
  Fan()->N13Click();
  EXPECT_EQ(dialogs_->messages.size(), 1);
}

}  // namespace
