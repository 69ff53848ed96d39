// The pages of the marriage list, the calendar, the statistics chart and the CSV export on the sample
// tree: building from their buttons, the grid colours and filters, the workbook files and the fixed
// "В Excel" workbook, the chart's click labels, its landscape print (a PDF) and BMP save, the export file.
#include "tests/gui/WindowFixture.h"

#include "app/charts/Ancestors.h"
#include "app/core/Model.h"
#include "app/reports/Marriages.h"
#include "app/window/CalendarPage.h"
#include "app/window/ExportPage.h"
#include "app/window/MarriagesPage.h"
#include "app/window/StatisticsPage.h"
#include "app/window/Unit1.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/PageSink.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QHeaderView>
#include <QStyle>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QMouseEvent>
#include <QPrinter>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using guitest::EnsureApp;
using guitest::DeepestPerson;
using guitest::kSample;

class MarriagesPages : public guitest::WindowFixture {
 protected:
  // Printing here goes the window's own way, to a PDF.
  void SetUp() override {
    MakeWindow(QSize(1200, 800), false);
    ASSERT_NO_FATAL_FAILURE(Open(kSample, 20));
    ASSERT_TRUE(form_->LocatePerson(DeepestPerson()));
  }
  void TearDown() override {
    WindowFixture::TearDown();
    TForm1::SetProgramDir(QString());
  }
  template <class P>
  P* Page() const { return form_->Page<P>(); }
  QString Path(const char* name) const { return dir_.filePath(QLatin1String(name)); }
};

TEST_F(MarriagesPages, MarriageListColoursFilterAndWorkbooks) {
  TMarriagesPage& p = *Page<TMarriagesPage>();
  p.SpeedButton30Click();
  EXPECT_EQ(form_->PageControl1->currentWidget(), p.Tab());
  platform::TClientDataSet& cds = *p.CDS_Marriage;
  ASSERT_TRUE(cds.Active());
  const int total = cds.RecordCount();
  ASSERT_GT(total, 5);
  EXPECT_EQ(p.DataSource2->rowCount(), total);
  EXPECT_EQ(p.DataSource2->data(p.DataSource2->index(0, 0), Qt::DisplayRole).toString(), QStringLiteral("1*"));
  EXPECT_EQ(p.Label30->text(), QStringLiteral("%1/%1").arg(total));
  // Every cell's colour follows the shared rule.
  const int ok = cds.FieldIndex(QStringLiteral("Ok")), main = cds.FieldIndex(QStringLiteral("Main"));
  int coloured = 0;
  for (int pos = 0; pos < total; ++pos) {
    const int style = MarriageCellStyle(cds.ValueAt(pos, ok).toString(), cds.ValueAt(pos, main).toString(), false, QString());
    const QVariant bg = p.DataSource2->data(p.DataSource2->index(pos, 0), Qt::BackgroundRole);
    if (style == 0) {
      EXPECT_FALSE(bg.isValid()) << pos;
    } else {
      ++coloured;
      const QColor expected = style == 2 ? QColor(0xCC, 0xFF, 0xCC) : style == 3 ? QColor(0xFF, 0xFF, 0xCC) : QColor(0xCC, 0xFF, 0xFF);
      EXPECT_EQ(bg.value<QColor>(), expected) << pos;
    }
  }
  EXPECT_GT(coloured, 0);
  // A cell whose text has line breaks is shown without them and marked for its selected colours.
  int rdr = -1;
  for (int c = 0; c < p.DataSource2->columnCount(); ++c)
    if (p.DataSource2->Columns()[std::size_t(c)].field == u"R_DR") rdr = c;
  ASSERT_GE(rdr, 0);
  bool sawBreaks = false;
  for (int pos = 0; pos < total; ++pos) {
    const QModelIndex cell = p.DataSource2->index(pos, rdr);
    const bool breaks = cds.ValueAt(pos, cds.FieldIndex(QStringLiteral("R_DR"))).toString().contains(u'\n');
    EXPECT_EQ(cell.data(Qt::UserRole + 7).toBool(), breaks) << pos;
    EXPECT_FALSE(cell.data(Qt::DisplayRole).toString().contains(u'\n'));
    sawBreaks = sawBreaks || breaks;
  }
  EXPECT_TRUE(sawBreaks);
  EXPECT_FALSE(p.DataSource2->index(0, 0).data(Qt::UserRole + 7).toBool());

  // The other marriages of men hidden, then all known ones: fewer rows, the counts follow.
  p.CheckBox34->setChecked(false);
  const int noMen = cds.RecordCount();
  EXPECT_LT(noMen, total);
  EXPECT_EQ(p.Label30->text(), QStringLiteral("%1/%2").arg(noMen).arg(total));
  for (int pos = 0; pos < noMen; ++pos) {
    const QString m = cds.ValueAt(pos, main).toString();
    EXPECT_FALSE(m.endsWith(u'.') && !m.endsWith(QLatin1String(" ."))) << m.toStdString();
  }
  p.RadioGroup4->SetItemIndex(2);
  p.CheckBox33->setChecked(false);
  for (int pos = 0; pos < cds.RecordCount(); ++pos) EXPECT_EQ(cds.ValueAt(pos, ok).toString(), QStringLiteral("-"));

  // A click on a cell shows the family's note as the hint; leaving the grid clears it.
  p.DBGrid2->setToolTip(QString());
  p.DBGrid2CellClick(p.DataSource2->index(0, 0));
  p.DBGrid2Exit();
  EXPECT_TRUE(p.DBGrid2->toolTip().isEmpty());

  // The save command asks for a name; both formats by the chosen filter.
  dialogs_->saves.push_back({Path("list"), 2});
  dialogs_->saves.push_back({Path("list2.xml"), 1});
  form_->ToolButton2Click();
  form_->ToolButton2Click();
  EXPECT_TRUE(QFile::exists(Path("list.xlsx")));
  EXPECT_TRUE(QFile::exists(Path("list2.xml")));
  QFile x(Path("list2.xml"));
  ASSERT_TRUE(x.open(QIODevice::ReadOnly));
  EXPECT_TRUE(x.readAll().contains("ss:Name=\"Marriages\""));
  // A cancelled dialog writes nothing.
  form_->ToolButton2Click();
  // "В Excel" writes the fixed file beside the settings and opens it; an old one is replaced.
  QStringList opened;
  p.OpenFile = [&](const QString& path) {
    opened << path;
    return true;
  };
  QFile::remove(Path("Marriage.XLSX"));
  p.SpeedButton31->click();
  ASSERT_EQ(opened.size(), 1);
  EXPECT_EQ(QFileInfo(opened[0]).canonicalFilePath(), QFileInfo(Path("Marriage.XLSX")).canonicalFilePath());
  QFile f(Path("Marriage.XLSX"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.read(2), QByteArray("PK"));
  f.close();
  // The print command does the same.
  form_->ToolButton1Click();
  EXPECT_EQ(opened.size(), 2);
}

// Dates and their captions were cut ("15.05.19...") at the grid's start widths.
TEST_F(MarriagesPages, DateColumnsShowWholeDatesAndCaptions) {
  TMarriagesPage& p = *Page<TMarriagesPage>();
  p.SpeedButton30Click();
  platform::TClientDataSet& cds = *p.CDS_Marriage;
  ASSERT_GT(cds.RecordCount(), 0);
  const QFontMetrics cell(p.DBGrid2->font());
  const QFontMetrics head(p.DBGrid2->horizontalHeader()->font());
  const int margin = 2 * p.DBGrid2->style()->pixelMetric(QStyle::PM_HeaderMargin) + 6;
  int checked = 0;
  for (int c = 0; c < p.DataSource2->columnCount(); ++c) {
    const QString field = p.DataSource2->Columns()[std::size_t(c)].field;
    if (!QStringList{"M_DR", "M_DS", "DM", "F_DR", "F_DS"}.contains(field)) continue;
    const int width = p.DBGrid2->columnWidth(c);
    EXPECT_LE(cell.horizontalAdvance(QStringLiteral("00.00.0000")) + margin, width) << field.toStdString();
    for (const char* caption : {"Рождение", "Народження", "Смерть", "Дата брака"})
      EXPECT_LE(head.horizontalAdvance(QString::fromUtf8(caption)) + margin, width) << caption;
    ++checked;
  }
  EXPECT_EQ(checked, 5);
}

TEST_F(MarriagesPages, CalendarRowsColoursAndItsWorkbook) {
  TCalendarPage& p = *Page<TCalendarPage>();
  p.Today = QDate(2026, 12, 11);
  p.SpeedButton42->click();
  platform::TClientDataSet& cds = *p.CDS_Informer;
  ASSERT_GT(cds.RecordCount(), 20);
  EXPECT_EQ(cds.ValueAt(0, 0).toString(), QStringLiteral("11.12.2026"));
  // The grid shows the dataset's texts.
  for (int c = 0; c < p.DataSource3->columnCount(); ++c)
    EXPECT_EQ(p.DataSource3->data(p.DataSource3->index(0, c), Qt::DisplayRole).toString(), cds.ValueAt(0, c).toString()) << c;
  EXPECT_EQ(p.DataSource3->data(p.DataSource3->index(0, 0), Qt::DisplayRole).toString(), QStringLiteral("11.12.2026"));
  bool sawJubilee = false;
  for (int pos = 0; pos < cds.RecordCount(); ++pos) {
    const QString type = cds.ValueAt(pos, 3).toString();
    const QColor bg = p.DataSource3->data(p.DataSource3->index(pos, 2), Qt::BackgroundRole).value<QColor>();
    const QColor expected = type == u"*" ? QColor(0xDD, 0xFF, 0xDD) : type == u"x" ? QColor(0xFF, 0xDD, 0xFF) : QColor(0xDD, 0xDD, 0xFF);
    EXPECT_EQ(bg, expected) << pos;
    const QVariant years = cds.ValueAt(pos, 4);
    if (years.isValid() && !years.toString().isEmpty() && years.toInt() % 5 == 0) {
      sawJubilee = true;
      EXPECT_TRUE(p.DataSource3->data(p.DataSource3->index(pos, 4), Qt::FontRole).value<QFont>().bold());
      EXPECT_EQ(p.DataSource3->data(p.DataSource3->index(pos, 4), Qt::ForegroundRole).value<QColor>(), QColor(0x80, 0, 0));
    }
  }
  EXPECT_TRUE(sawJubilee);
  // Only births: no other type.
  p.CheckBox54->setChecked(false);
  p.CheckBox59->setChecked(false);
  p.SpeedButton42->click();
  for (int pos = 0; pos < cds.RecordCount(); ++pos) EXPECT_EQ(cds.ValueAt(pos, 3).toString(), QStringLiteral("*"));
  // "Сохранить" asks for the name; "В Excel" writes Informer.XLSX and opens it.
  dialogs_->saves.push_back({Path("cal.xml"), 1});
  p.SpeedButton7->click();
  EXPECT_TRUE(QFile::exists(Path("cal.xml")));
  QStringList opened;
  p.OpenFile = [&](const QString& path) {
    opened << path;
    return true;
  };
  p.SpeedButton6->click();
  ASSERT_EQ(opened.size(), 1);
  EXPECT_TRUE(QFile::exists(Path("Informer.XLSX")));
  // Its report-menu item only shows the page.
  const int rows = cds.RecordCount();
  p.ReportMenuItem();
  EXPECT_EQ(cds.RecordCount(), rows);
}

TEST_F(MarriagesPages, StatisticsChartClickLabelsPrintAndSave) {
  TStatisticsPage& p = *Page<TStatisticsPage>();
  form_->show();
  p.SpeedButton27->click();
  QCoreApplication::processEvents();
  platform::TBarChart& chart = *p.Chart1;
  // By day: one bar per day of the year 2000 from the first one, the undated below.
  ASSERT_GE(chart.Bars().size(), 300u);
  EXPECT_EQ(chart.Bars().back().label, QStringLiteral("31.12"));
  EXPECT_TRUE(chart.SubFooter().startsWith(QStringLiteral("Дата неизвестна: "))) << chart.SubFooter().toStdString();
  // A click on the highest bar puts its label at the mouse.
  std::size_t top = 0;
  for (std::size_t i = 0; i < chart.Bars().size(); ++i)
    if (chart.Bars()[i].value > chart.Bars()[top].value) top = i;
  // The highest bar reaches the top of the plot: half the chart's height is inside it.
  QPoint at;
  for (int x = 0; x < chart.width() && at.isNull(); ++x)
    if (chart.BarAt(QPoint(x, chart.height() / 2)) == int(top)) at = QPoint(x, chart.height() / 2);
  ASSERT_FALSE(at.isNull());
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), chart.mapToGlobal(QPointF(at)), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&chart, &press);
  ASSERT_EQ(chart.ClickLabels().size(), 1u);
  EXPECT_EQ(chart.ClickLabels()[0]->text(),
            chart.Bars()[top].label + QStringLiteral(": ") + QString::number(int(chart.Bars()[top].value)));
  EXPECT_EQ(chart.ClickLabels()[0]->pos(), at);
  // By year from 1900: the labels go with the next drawing.
  p.RadioGroup2->SetItemIndex(1);
  p.CheckBox35->setChecked(true);
  p.SpinEdit2->setValue(1900);
  p.SpeedButton27->click();
  EXPECT_TRUE(chart.ClickLabels().empty());
  ASSERT_FALSE(chart.Bars().empty());
  EXPECT_EQ(chart.Bars().front().label, QStringLiteral("1901"));
  // Names: "Иван" counted.
  p.RadioGroup2->SetItemIndex(2);
  p.SpeedButton27->click();
  bool ivan = false;
  for (const auto& b : chart.Bars()) ivan = ivan || b.label == u"Иван";
  EXPECT_TRUE(ivan);

  // The scale widens the chart to a multiple of its area (panned by the scroll bar); 1 fills the area again.
  const int area = p.ScrollBox3->viewport()->width();
  p.SpinEdit4->setValue(3);
  EXPECT_EQ(chart.width(), 3 * area);
  p.SpinEdit4->setValue(1);
  QCoreApplication::processEvents();
  EXPECT_EQ(chart.width(), area);

  // The print command: the chart on a landscape page, here into a PDF file.
  auto* sink = dynamic_cast<platform::TPrinterSink*>(&form_->Printer());
  ASSERT_NE(sink, nullptr);
  sink->Printer().setOutputFormat(QPrinter::PdfFormat);
  sink->Printer().setOutputFileName(Path("chart.pdf"));
  sink->Printer().setPageOrientation(QPageLayout::Portrait);
  dialogs_->prints.push_back(true);
  form_->PageControl1->setCurrentWidget(p.Tab());
  form_->ToolButton1Click();
  QFile pdf(Path("chart.pdf"));
  ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
  const QByteArray bytes = pdf.readAll();
  EXPECT_TRUE(bytes.startsWith("%PDF"));
  const QRegularExpressionMatch box =
      QRegularExpression(QStringLiteral("/MediaBox \\[0 0 ([0-9.]+) ([0-9.]+)\\]")).match(QString::fromLatin1(bytes));
  ASSERT_TRUE(box.hasMatch());
  EXPECT_GT(box.captured(1).toDouble(), box.captured(2).toDouble()) << "a landscape page";
  // The save command: a BMP of the chart, the suffix appended.
  dialogs_->saves.push_back({Path("chart"), 2});
  form_->ToolButton2Click();
  QImageReader bmp(Path("chart.bmp"));
  EXPECT_EQ(bmp.format(), QByteArray("bmp"));
  EXPECT_EQ(bmp.size(), chart.size());
}

// The statistics options are kept in the settings file, all but the scale.
TEST_F(MarriagesPages, StatisticsOptionsAreSettingsButNotTheScale) {
  TStatisticsPage* p = Page<TStatisticsPage>();
  p->RadioGroup2->SetItemIndex(2);
  p->RadioGroup3->SetItemIndex(1);
  p->CheckBox37->setChecked(true);
  p->Edit11->setText(QStringLiteral("И*ан*"));
  p->SpinEdit2->setValue(1850);
  p->SpinEdit4->setValue(3);
  form_->IniSave();
  form_ = std::make_unique<TForm1>();
  form_->IniLoad();
  p = Page<TStatisticsPage>();
  EXPECT_EQ(p->RadioGroup2->ItemIndex(), 2);
  EXPECT_EQ(p->RadioGroup3->ItemIndex(), 1);
  EXPECT_TRUE(p->CheckBox37->isChecked());
  EXPECT_EQ(p->Edit11->text(), QStringLiteral("И*ан*"));
  EXPECT_EQ(p->SpinEdit2->value(), 1850);
  EXPECT_EQ(p->SpinEdit4->value(), 1);
}

// The window's exports know the file the tree was read from: named in the save dialog, directly or
// through a link, it is refused and stays as it was.
TEST_F(MarriagesPages, ExportsNeverReplaceTheLoadedTree) {
  const QString tree = Path("tree.ged");
  ASSERT_TRUE(QFile::copy(kSample, tree));
  ASSERT_TRUE(QFile::link(tree, Path("link.xlsx")));
  ASSERT_NO_FATAL_FAILURE(Open(tree, 20));
  QFile original(kSample);
  ASSERT_TRUE(original.open(QIODevice::ReadOnly));
  const QByteArray bytes = original.readAll();
  TMarriagesPage& marriages = *Page<TMarriagesPage>();
  marriages.SpeedButton30Click();
  TCalendarPage& calendar = *Page<TCalendarPage>();
  calendar.SpeedButton42->click();
  ASSERT_TRUE(calendar.CDS_Informer->Active());
  struct Case {
    const char* what;
    QString name;
    int filter;
    std::function<void()> save;
  } cases[] = {
      {"CSV", tree, 2, [&] { Page<TExportPage>()->Button3->click(); }},
      {"marriage workbook", tree, 2, [&] { marriages.MarriageToXLS(QString()); }},
      {"marriage workbook through a link", Path("link.xlsx"), 2, [&] { marriages.MarriageToXLS(QString()); }},
      {"calendar workbook", tree, 1, [&] { calendar.SpeedButton7->click(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dialogs_->saves.push_back({c.name, c.filter});
    try {
      c.save();
    } catch (const std::exception&) {
      // a refusal may reach the command's own boundary; the file is what counts
    }
    QFile f(tree);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    if (f.readAll() != bytes) {
      ADD_FAILURE() << "the family tree was overwritten";
      f.close();
      ASSERT_TRUE(QFile::remove(tree) && QFile::copy(kSample, tree));
    }
  }
}

TEST_F(MarriagesPages, ExportWritesTheCheckedColumns) {
  TExportPage& p = *Page<TExportPage>();
  ASSERT_EQ(p.CheckListBox1->count(), 42);
  p.Button2->click();
  for (int i = 0; i < 42; ++i) EXPECT_EQ(p.CheckListBox1->item(i)->checkState(), Qt::Checked);
  p.Button4->click();
  p.CheckListBox1->item(0)->setCheckState(Qt::Checked);
  p.CheckListBox1->item(2)->setCheckState(Qt::Checked);
  dialogs_->saves.push_back({Path("persons.csv"), 2});
  p.Button3->click();
  EXPECT_EQ(form_->PageControl1->currentWidget(), p.Tab());
  EXPECT_EQ(dialogs_->filters.back(), QStringLiteral("File TXT|*.txt|File CSV|*.csv|File BMP|*.bmp|File JPG|*.jpg"));
  QFile f(Path("persons.csv"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = f.readAll().split('\n');
  EXPECT_EQ(lines[0], QByteArray("\xEF\xBB\xBF\"Код (INDI)\";\"Полное имя (ФИО)\";\r"));
  EXPECT_EQ(lines.size(), TheModel().PersonCount() + 2);  // the header, the persons, the empty end
  EXPECT_TRUE(lines[1].startsWith("\"@I1@\";\"")) << lines[1].toStdString();
  EXPECT_FALSE(p.Gauge3->isVisible());
  // A cancelled dialog writes nothing.
  QFile::remove(Path("persons.csv"));
  p.Button3->click();
  EXPECT_FALSE(QFile::exists(Path("persons.csv")));
}

}  // namespace
