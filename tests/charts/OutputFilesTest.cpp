#include "platform/qt/Dialogs.h"
#include "platform/qt/PageSink.h"
#include "platform/qt/PictureFile.h"
#include "platform/qt/RtfWriter.h"

#include <QFile>
#include <QImage>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextDocument>

#include <gtest/gtest.h>

using namespace platform;

namespace {

QImage Sample() {
  QImage img(30, 20, QImage::Format_RGB32);
  img.fill(0xFFFFFFFFu);
  for (int y = 2; y < 10; ++y)
    for (int x = 0; x < 30; ++x) img.setPixel(x, y, 0xFFFF0000u);
  img.setPixel(29, 19, 0xFF0000FFu);
  return img;
}

TEST(PictureFile, WritesFormatsThatReadBack) {
  QTemporaryDir dir;
  struct Case { const char* name; TPictureFormat format; bool exact; } cases[] = {
      {"a.bmp", TPictureFormat::Bmp, true}, {"a.png", TPictureFormat::Png, true}, {"a.jpg", TPictureFormat::Jpeg, false}};
  for (const Case& c : cases) {
    const QString path = dir.filePath(QString::fromLatin1(c.name));
    ASSERT_EQ(WritePicture(path, c.format, Sample()), QString()) << c.name;
    const QImage back(path);
    ASSERT_EQ(back.size(), QSize(30, 20)) << c.name;
    if (c.exact) {
      EXPECT_EQ(back.pixel(3, 5) & 0xFFFFFF, 0xFF0000u) << c.name;
      EXPECT_EQ(back.pixel(29, 19) & 0xFFFFFF, 0x0000FFu) << c.name;
      EXPECT_EQ(back.pixel(0, 0) & 0xFFFFFF, 0xFFFFFFu) << c.name;
    } else {
      EXPECT_GT(qRed(back.pixel(15, 5)), 200);
      EXPECT_LT(qBlue(back.pixel(15, 5)), 60);
    }
  }
}

TEST(PictureFile, RefusesWhatItCannotWrite) {
  QTemporaryDir dir;
  QImage tall(2, kJpegMaxSide + 1, QImage::Format_RGB32);
  tall.fill(0xFFFFFFFFu);
  EXPECT_NE(WritePicture(dir.filePath(QStringLiteral("t.jpg")), TPictureFormat::Jpeg, tall), QString());
  EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("t.jpg"))));
  for (auto f : {TPictureFormat::Bmp, TPictureFormat::Png, TPictureFormat::Jpeg})
    EXPECT_NE(WritePicture(dir.filePath(QStringLiteral("no/such/dir/x")), f, Sample()), QString());
  EXPECT_NE(WritePicture(dir.filePath(QStringLiteral("e.png")), TPictureFormat::Png, QImage()), QString());
}

TEST(RtfWriter, WritesColoursStylesAndUnicode) {
  QTextDocument doc;
  QTextCursor cur(&doc);
  QTextCharFormat bold;
  bold.setFontWeight(QFont::Bold);
  bold.setForeground(QColor(255, 0, 0));
  cur.insertText(QStringLiteral("Иван {x}\\"), bold);
  QTextCharFormat plain;
  plain.setFontItalic(true);
  plain.setFontUnderline(true);
  plain.setBackground(QColor(255, 255, 0));
  cur.insertText(QString::fromUtf16(u" \U0001F600"), plain);
  QTextBlockFormat spaced;
  spaced.setTopMargin(10);
  cur.insertBlock(spaced);
  cur.insertText(QStringLiteral("two"));
  const QString rtf = QString::fromLatin1(DocumentToRtf(doc));
  EXPECT_TRUE(rtf.startsWith(QStringLiteral("{\\rtf1\\ansi")));
  EXPECT_TRUE(rtf.contains(QStringLiteral("\\red255\\green0\\blue0;")));
  EXPECT_TRUE(rtf.contains(QStringLiteral("\\cf1\\b \\u1048?\\u1074?\\u1072?\\u1085? \\{x\\}\\\\}")));
  EXPECT_TRUE(rtf.contains(QStringLiteral("\\highlight2\\i\\ul  \\u-10179?\\u-8704?}")));
  EXPECT_TRUE(rtf.contains(QStringLiteral("\\pard\\sb150 ")));
  EXPECT_EQ(rtf.count(QStringLiteral("\\par\r\n")), 2);
  EXPECT_TRUE(rtf.endsWith(QStringLiteral("}\r\n")));
}

TEST(RtfWriter, EmbedsPicturesAsPng) {
  QTextDocument doc;
  doc.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("pic")), Sample());
  QTextCursor cur(&doc);
  QTextImageFormat f;
  f.setName(QStringLiteral("pic"));
  cur.insertImage(f);
  const QString rtf = QString::fromLatin1(DocumentToRtf(doc));
  EXPECT_TRUE(rtf.contains(QStringLiteral("{\\pict\\pngblip\\picw30\\pich20\\picwgoal450\\pichgoal300")));
  EXPECT_TRUE(rtf.contains(QStringLiteral("89504e47")));
  QTemporaryDir dir;
  EXPECT_EQ(WriteRtfFile(dir.filePath(QStringLiteral("a.rtf")), doc), QString());
  EXPECT_NE(WriteRtfFile(dir.filePath(QStringLiteral("no/a.rtf")), doc), QString());
}

TEST(PageSink, PrintsPagesToPdf) {
  QTemporaryDir dir;
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
  printer.setOutputFileName(pdf);
  TPrinterSink sink(printer);
  ASSERT_TRUE(sink.BeginDoc(QStringLiteral("test")));
  EXPECT_GT(sink.PageSize().height(), sink.PageSize().width());
  sink.StretchDraw(QRect(QPoint(0, 0), sink.PageSize()), Sample());
  ASSERT_TRUE(sink.NewPage());
  sink.StretchDraw(QRect(0, 0, 100, 100), Sample());
  ASSERT_TRUE(sink.EndDoc());
  QFile f(pdf);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  EXPECT_TRUE(bytes.startsWith("%PDF"));
  EXPECT_TRUE(bytes.contains("/Count 2"));
}

TEST(Dialogs, FiltersAndFakeAnswers) {
  EXPECT_EQ(QtFilter(QStringLiteral("File TXT|*.txt|File CSV|*.csv")),
            QStringLiteral("File TXT (*.txt);;File CSV (*.csv)"));
  TFakeDialogs d;
  d.saves.push_back({QStringLiteral("/tmp/x.csv"), 2});
  QString name;
  int index = 0;
  EXPECT_TRUE(d.Save(QStringLiteral("a|*.a"), name, index));
  EXPECT_EQ(name, QStringLiteral("/tmp/x.csv"));
  EXPECT_EQ(index, 2);
  EXPECT_FALSE(d.Save(QStringLiteral("a|*.a"), name, index));
  TRecordingPageSink sink;
  EXPECT_FALSE(d.Print(sink));
}

}  // namespace
