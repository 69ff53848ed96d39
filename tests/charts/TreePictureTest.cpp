#include "app/charts/ChartOutput.h"
#include "app/charts/TreePicture.h"
#include "Fixtures.h"
#include "platform/qt/RecordingCanvas.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

using platform::clBlack;
using platform::clBlue;
using platform::clRed;
using platform::clWhite;

namespace {

std::vector<TTreeRow> Rows(int n) {
  std::vector<TTreeRow> rows;
  rows.push_back({0, QStringLiteral("root"), 1});
  for (int i = 1; i < n; ++i) rows.push_back({1 + (i % 3 == 2 ? 1 : 0), QStringLiteral("n%1").arg(i), 1 + i % 2});
  return rows;
}

QStringList Files(const QTemporaryDir& dir) { return QDir(dir.path()).entryList(QDir::Files, QDir::Name); }

TEST(TreePicture, SizeFollowsNodesAndWidestText) {
  const TTreePicture ten(Rows(10));
  EXPECT_EQ(ten.Height(), 650);
  EXPECT_EQ(ten.Width(), 1000);
  auto rows = Rows(3);
  rows[2].Text = QString(60, QLatin1Char('W'));
  const TTreePicture wide(rows);
  EXPECT_GT(wide.Width(), 1000);
  EXPECT_EQ(TreePageHeight(1000, false), 1400);
  EXPECT_EQ(TreePageHeight(1000, true), 700);
  EXPECT_GT(TreePageHeight(wide.Width(), false), 1400);
}

TEST(TreePicture, DrawsSymbolsTextAndConnectors) {
  const std::vector<TTreeRow> rows = {
      {0, QStringLiteral("root"), 1}, {1, QStringLiteral("mother"), 2}, {2, QStringLiteral("x"), -1},
      {1, QStringLiteral("father"), 4}};
  platform::TRecordingCanvas rec;
  const TTreePicture pic(rows);
  pic.Draw(rec, 0, pic.Height());
  const QStringList& calls = rec.Calls();
  EXPECT_TRUE(calls.contains(QStringLiteral("Rectangle 0,5,40,45 pen=000000/1 brush=FF0000")));
  EXPECT_TRUE(calls.contains(QStringLiteral("Ellipse 50,55,90,95 pen=000000/1 brush=0000FF")));
  EXPECT_TRUE(calls.filter(QStringLiteral("TextOut 110,100 ")).size() == 1) << "no state image: text at 50L+10";
  EXPECT_TRUE(calls.filter(QStringLiteral("TextOut 100,50 ")).size() == 1);
  EXPECT_TRUE(calls.filter(QStringLiteral("transparent \"root\"")).size() == 1);
  // Node 1 (first child): across and up to the parent's symbol bottom.
  EXPECT_TRUE(calls.contains(QStringLiteral("Line 50,75,20,75 pen=000000/1")));
  EXPECT_TRUE(calls.contains(QStringLiteral("Line 20,75,20,45 pen=000000/1")));
  // Node 3 ends a deeper branch: up one row, then on to the last row of its level (node 1).
  EXPECT_TRUE(calls.contains(QStringLiteral("Line 20,175,20,120 pen=000000/1")));
  EXPECT_TRUE(calls.contains(QStringLiteral("Line 20,120,20,75 pen=000000/1")));
  EXPECT_EQ(calls.filter(QStringLiteral("Rectangle")).size() + calls.filter(QStringLiteral("Ellipse")).size(), 2)
      << "repeated persons (4) get no symbol";
}

TEST(TreePicture, NotesWithLineBreaksAreDrawnWithBlanks) {
  EXPECT_EQ(TTreePicture::DrawnText(QStringLiteral("a\r\nb\tc")), QStringLiteral("a  b c"));
}

TEST(TreePicture, ASevenHundredNodeTreeKeepsNode690) {
  const auto rows = Rows(700);
  const TTreePicture pic(rows);
  ASSERT_EQ(pic.Height(), 35150);
  const int i = 690;
  const int L = rows[i].Level;
  const int y = 50 * i + 25;
  auto check = [&](auto pixel, const char* what) {
    EXPECT_EQ(pixel(50 * L + 20, y), rows[i].StateImage == 1 ? clBlue : clRed) << what;
    EXPECT_EQ(pixel(50 * L - 10, y), clBlack) << what << ": connector across";
    EXPECT_EQ(pixel(50 * L - 30, y - 20), clBlack) << what << ": connector up";
  };
  platform::TImageCanvas canvas(pic.Width(), pic.Height());
  pic.Draw(canvas, 0, pic.Height());
  check([&](int x, int yy) { return canvas.Pixel(x, yy); }, "canvas");
  // The band the file writers paint for those rows.
  const int y0 = 50 * i - 100;
  QImage band(pic.Width(), 200, QImage::Format_RGB32);
  band.fill(0xFFFFFFFFu);
  pic.PaintBand(band, y0);
  check([&](int x, int yy) { return platform::FromRgb(band.pixel(x, yy - y0)); }, "band");
}

// The PNG writer paints and compresses strips of the picture on several threads: the file decodes to the
// picture painted whole, and it is byte for byte the file one thread writes.
TEST(TreePicture, PngOnManyThreadsIsThePicturePaintedWhole) {
  auto rows = Rows(120);
  for (int i = 0; i < 120; i += 7) rows[size_t(i)].Text = QStringLiteral("Иванова Мария Петровна %1 (1900-1970)").arg(i);
  const TTreePicture pic(rows);
  const QImage whole = pic.Cut(0, pic.Height());
  QTemporaryDir dir;
  QByteArray oneThread;
  for (int threads : {1, 4}) {
    SCOPED_TRACE(threads);
    const QString path = dir.filePath(QStringLiteral("t%1.png").arg(threads));
    ASSERT_EQ(platform::WritePng(path, pic, threads), QString());
    const QImage back = QImage(path).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(back.size(), whole.size());
    int wrong = 0;
    for (int y = 0; y < back.height(); ++y)
      wrong += std::memcmp(back.constScanLine(y), whole.constScanLine(y), size_t(back.width()) * 4) != 0;
    EXPECT_EQ(wrong, 0) << "rows that differ from the picture painted whole";
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    if (threads == 1) oneThread = f.readAll();
    else EXPECT_TRUE(f.readAll() == oneThread) << "the bytes depend on the number of threads";
  }
}

TEST(TreeToPict, SavesWholeOrInPageParts) {
  QTemporaryDir dir;
  platform::TFakeDialogs d;
  const QString bmp = dir.filePath(QStringLiteral("tree.bmp"));
  ASSERT_TRUE(TreeToPict(Rows(10), bmp, TSplit::Portrait, d));
  EXPECT_EQ(Files(dir), QStringList{QStringLiteral("tree1.bmp")});
  const QImage page(dir.filePath(QStringLiteral("tree1.bmp")));
  EXPECT_EQ(page.size(), QSize(1000, 1400));
  EXPECT_EQ(page.pixel(500, 1300) & 0xFFFFFF, 0xFFFFFFu) << "white below the tree";
  QFile::remove(dir.filePath(QStringLiteral("tree1.bmp")));
  ASSERT_TRUE(TreeToPict(Rows(25), bmp, TSplit::Portrait, d));
  EXPECT_EQ(Files(dir), QStringList{QStringLiteral("tree1.bmp")}) << "1400 px fill exactly one page";
  QFile::remove(dir.filePath(QStringLiteral("tree1.bmp")));
  ASSERT_TRUE(TreeToPict(Rows(30), dir.filePath(QStringLiteral("t.jpg")), TSplit::Landscape, d));
  EXPECT_EQ(Files(dir), (QStringList{QStringLiteral("t1.jpg"), QStringLiteral("t2.jpg"), QStringLiteral("t3.jpg")}));
  EXPECT_EQ(QImage(dir.filePath(QStringLiteral("t3.jpg"))).size(), QSize(1000, 700));
  EXPECT_TRUE(d.messages.isEmpty());
}

TEST(TreeToPict, EndingsChooseTheFormat) {
  QTemporaryDir dir;
  platform::TFakeDialogs d;
  struct Case { const char* name; const char* format; } cases[] = {
      {"a.jpeg", "jpeg"}, {"b.JPG", "jpeg"}, {"c.png", "png"}, {"d.bmp", "bmp"}};
  for (const Case& c : cases) {
    const QString path = dir.filePath(QString::fromLatin1(c.name));
    ASSERT_TRUE(TreeToPict(Rows(3), path, TSplit::None, d)) << c.name;
    EXPECT_EQ(QImageReader(path).format(), QByteArray(c.format)) << c.name;
  }
  EXPECT_FALSE(TreeToPict(Rows(3), dir.filePath(QStringLiteral("e.gif")), TSplit::None, d));
  EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("e.gif"))));
  EXPECT_EQ(d.messages.size(), 1);
  EXPECT_FALSE(TreeToPict(Rows(3), dir.filePath(QStringLiteral("no/x.png")), TSplit::None, d));
  EXPECT_EQ(d.messages.size(), 2) << "a failed write is reported";
}

TEST(TreeText, IndentsByTabsAndCsvQuotes) {
  const std::vector<TTreeRow> rows = {{0, QStringLiteral("root"), 1}, {1, QStringLiteral("a"), 1},
                                      {2, QStringLiteral(" say \"hi\", ok "), 2}};
  EXPECT_EQ(TreeText(rows), QStringLiteral("root\r\n\ta\r\n\t\t say \"hi\", ok \r\n"));
  EXPECT_EQ(TreeCsv(rows), QStringLiteral("\"root\"\r\n;\"a\"\r\n;;\"say \"\"hi\"\", ok\"\r\n"));
  QTemporaryDir dir;
  platform::TFakeDialogs d;
  const QString csv = dir.filePath(QStringLiteral("t.csv"));
  d.saves.push_back({csv, 2});
  ASSERT_TRUE(SaveTree(rows, d));
  QFile f(csv);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("\xEF\xBB\xBF") + TreeCsv(rows).toUtf8());
  EXPECT_EQ(d.filters, QStringList{kTreeSaveFilter});
  EXPECT_FALSE(SaveTree(rows, d)) << "cancelled";
}

TEST(PrintTree, CutsPagesInThePrintersProportion) {
  platform::TFakeDialogs d;
  platform::TRecordingPageSink sink;
  d.prints = {true, true, false};
  ASSERT_TRUE(PrintTree(Rows(30), d, sink));  // 1650 px, portrait pages of 1400
  EXPECT_EQ(sink.calls, (QStringList{QStringLiteral("BeginDoc Trevolan"),
                                     QStringLiteral("StretchDraw 0,0,2480,3508 from 1000x1400"), QStringLiteral("NewPage"),
                                     QStringLiteral("StretchDraw 0,0,2480,3508 from 1000x1400"), QStringLiteral("EndDoc")}));
  sink.calls.clear();
  sink.landscape = true;
  ASSERT_TRUE(PrintTree(Rows(30), d, sink));
  EXPECT_EQ(sink.calls.filter(QStringLiteral("from 1000x700")).size(), 3);
  sink.calls.clear();
  EXPECT_FALSE(PrintTree(Rows(30), d, sink));
  EXPECT_TRUE(sink.calls.isEmpty()) << "cancelled dialog";
  sink.failBegin = true;
  d.prints = {true};
  EXPECT_FALSE(PrintTree(Rows(30), d, sink));
  EXPECT_EQ(d.messages.size(), 1);
}

TEST(BitMap, PrintFitsThePageAndSaveChoosesByEnding) {
  QImage bmp(200, 100, QImage::Format_RGB32);
  bmp.fill(0xFF00FF00u);
  platform::TFakeDialogs d;
  platform::TRecordingPageSink sink;
  d.prints = {true};
  ASSERT_TRUE(PrintBitMap(bmp, d, sink));
  EXPECT_TRUE(sink.calls.contains(QStringLiteral("StretchDraw 0,0,2480,1240 from 200x100")));
  EXPECT_FALSE(PrintBitMap(QImage(), d, sink));
  EXPECT_EQ(d.printAsked, 1) << "an empty bitmap asks nothing";
  QTemporaryDir dir;
  d.saves = {{dir.filePath(QStringLiteral("p.png")), 3}, {dir.filePath(QStringLiteral("p.tif")), 1}};
  EXPECT_TRUE(SaveBitMap(bmp, d));
  EXPECT_EQ(QImage(dir.filePath(QStringLiteral("p.png"))).size(), QSize(200, 100));
  EXPECT_FALSE(SaveBitMap(bmp, d));
  EXPECT_EQ(d.messages.size(), 1);
}

// A name typed without an extension takes the chosen filter's: a picture saved as "File BMP" or
// "File JPG" is written, a tree text gets ".txt" or ".csv". Each dialog opens on its designed filter.
TEST(SaveDialogs, TypedNamesTakeTheChosenFiltersExtension) {
  struct Case {
    const char* typed;
    int filter;
    const char* written;
  };
  const Case tree[] = {{"plain", 1, "plain.txt"}, {"table", 2, "table.csv"}, {"pic", 3, "pic.bmp"},
                       {"photo", 4, "photo.jpg"}, {"dotted.", 2, "dotted.csv"}, {"own.txt", 2, "own.txt"}};
  QTemporaryDir dir;
  for (const Case& c : tree) {
    SCOPED_TRACE(c.typed);
    platform::TFakeDialogs d;
    d.saves.push_back({dir.filePath(QString::fromLatin1(c.typed)), c.filter});
    EXPECT_TRUE(SaveTree(Rows(3), d));
    EXPECT_TRUE(QFile::exists(dir.filePath(QString::fromLatin1(c.written))));
    EXPECT_TRUE(d.messages.isEmpty()) << d.messages.join(u'|').toStdString();
    EXPECT_EQ(d.openedOn, QList<int>{1});
  }
  QImage bmp(20, 10, QImage::Format_RGB32);
  bmp.fill(0xFF00FF00u);
  const Case pictures[] = {{"a", 1, "a.jpg"}, {"b", 2, "b.bmp"}, {"c", 3, "c.png"}};
  for (const Case& c : pictures) {
    SCOPED_TRACE(c.typed);
    platform::TFakeDialogs d;
    d.saves.push_back({dir.filePath(QString::fromLatin1(c.typed)), c.filter});
    EXPECT_TRUE(SaveBitMap(bmp, d));
    EXPECT_EQ(QImage(dir.filePath(QString::fromLatin1(c.written))).size(), QSize(20, 10));
    EXPECT_EQ(d.openedOn, QList<int>{3});
  }
  // The rule itself, on paths with dots in folder names and on filters with several masks.
  EXPECT_EQ(platform::WithFilterExtension(QStringLiteral("/a.b/name"), kPictureSaveFilter, 2), QStringLiteral("/a.b/name.bmp"));
  EXPECT_EQ(platform::WithFilterExtension(QStringLiteral("x"), QStringLiteral("Pics|*.png;*.gif"), 1), QStringLiteral("x.png"));
  EXPECT_EQ(platform::WithFilterExtension(QStringLiteral("x"), QStringLiteral("All|*.*"), 1), QStringLiteral("x"));
  EXPECT_EQ(platform::WithFilterExtension(QStringLiteral("x"), kPictureSaveFilter, 9), QStringLiteral("x"));
}

}  // namespace
