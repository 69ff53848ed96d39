#include "platform/qt/Dialogs.h"
#include "platform/qt/PageSink.h"
#include "platform/qt/PictureFile.h"
#include "platform/qt/RtfWriter.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QImage>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// A painted source: every pixel a function of its place, so any row out of order or filtered against the
// wrong row above shows.
class PatternSource : public TBandSource {
 public:
  PatternSource(int w, int h) : w_(w), h_(h) {}
  int Width() const override { return w_; }
  int Height() const override { return h_; }
  void PaintBand(QImage& band, int y0) const override {
    for (int y = 0; y < band.height() && y0 + y < h_; ++y)
      for (int x = 0; x < w_; ++x) band.setPixel(x, y, Pixel(x, y0 + y));
  }
  static QRgb Pixel(int x, int y) {
    if ((x / 7 + y / 5) % 3 == 0) return 0xFFFFFFFFu;  // runs of white, as charts have
    return qRgb((x * 7 + y) & 0xFF, (y * 13) & 0xFF, (x ^ y) & 0xFF);
  }

 private:
  int w_, h_;
};

// Large pictures are compressed in strips on several threads into one zlib stream: both kinds of source,
// over many strips and bands, decode to exactly the pixels drawn, by Qt's reader and by Python's zlib
// (which checks the combined Adler-32 of the stream).
TEST(PictureFile, PngOfManyStripsDecodesExactly) {
  QTemporaryDir dir;
  const PatternSource painted(700, 3000);  // about 6 MB of rows: several strips and three bands
  QImage image(painted.Width(), painted.Height(), QImage::Format_RGB32);
  painted.PaintBand(image, 0);
  const QImage indexed = image.convertToFormat(QImage::Format_Indexed8);  // converted once, not per band
  struct Case {
    const char* name;
    std::function<QString(const QString&)> write;
    QImage expected;
  } cases[] = {
      {"painted.png", [&](const QString& p) { return WritePicture(p, TPictureFormat::Png, painted); }, image},
      {"painted-1-thread.png", [&](const QString& p) { return WritePng(p, painted, 1); }, image},
      {"painted-3-threads.png", [&](const QString& p) { return WritePng(p, painted, 3); }, image},
      {"image.png", [&](const QString& p) { return WritePicture(p, TPictureFormat::Png, image); }, image},
      {"indexed.png", [&](const QString& p) { return WritePicture(p, TPictureFormat::Png, indexed); },
       indexed.convertToFormat(QImage::Format_RGB32)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString path = dir.filePath(QString::fromLatin1(c.name));
    ASSERT_EQ(c.write(path), QString());
    const QImage back = QImage(path).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(back.size(), c.expected.size());
    int wrong = 0;
    for (int y = 0; y < back.height(); ++y)
      wrong += std::memcmp(back.constScanLine(y), c.expected.constScanLine(y), std::size_t(back.width()) * 4) != 0;
    EXPECT_EQ(wrong, 0);
    // The file's image data as python's zlib inflates it: every row of the picture, and nothing more.
    ASSERT_TRUE(QFile::exists(QStringLiteral("/usr/bin/python3"))) << "python3 missing (scripts/install-deps.sh)";
    const QString script = QStringLiteral(
        "import sys,zlib,struct\n"
        "d=open(sys.argv[1],'rb').read()[8:]\nz=b''\n"
        "while d:\n n,=struct.unpack('>I',d[:4]);t=d[4:8]\n if t==b'IDAT': z+=d[8:8+n]\n d=d[12+n:]\n"
        "r=zlib.decompress(z)\nprint(len(r))\n");
    QProcess py;
    py.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, path});
    ASSERT_TRUE(py.waitForFinished(60000));
    EXPECT_EQ(py.exitCode(), 0) << py.readAllStandardError().toStdString();
    EXPECT_EQ(py.readAllStandardOutput().trimmed().toLongLong(), qint64(back.height()) * (back.width() * 3 + 1));
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

// A source that ends its process while its picture is being written, after the first band, as a kill would.
class DyingSource : public PatternSource {
 public:
  DyingSource() : PatternSource(700, 3000) {}
  void PaintBand(QImage& band, int y0) const override {
    if (painted_++ > 0) _exit(0);
    PatternSource::PaintBand(band, y0);
  }

 private:
  mutable std::atomic<int> painted_{0};
};

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A save that dies half way leaves the file it replaces as it was, in every format.
TEST(PictureFile, KilledWriteKeepsTheOldFile) {
  QTemporaryDir dir;
  for (auto format : {TPictureFormat::Bmp, TPictureFormat::Png, TPictureFormat::Jpeg}) {
    const QString path = dir.filePath(QStringLiteral("old-%1").arg(int(format)));
    {
      QFile f(path);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write("the picture saved before");
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const DyingSource source;
      WritePicture(path, format, source);
      _exit(1);  // not reached: the source ends the process
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << int(format);
    EXPECT_EQ(ReadAll(path), QByteArray("the picture saved before")) << int(format);
  }
}

// What the picture and rich-text writers do with the target a user names: a FIFO (which would block the
// writer), a folder and a loop of links are refused and stay what they were; a link is written through and
// stays a link; a new file gets the usual permissions and nothing is left beside it.
TEST(PictureFile, TargetsThatAreNoPlainFile) {
  QTemporaryDir dir;
  const QByteArray d = QFile::encodeName(dir.path());
  ASSERT_EQ(mkfifo((d + "/pipe").constData(), 0644), 0);
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));
  ASSERT_EQ(symlink("loop2", (d + "/loop1").constData()), 0);
  ASSERT_EQ(symlink("loop1", (d + "/loop2").constData()), 0);
  ASSERT_EQ(symlink("real", (d + "/link").constData()), 0);
  QTextDocument doc;
  doc.setPlainText(QStringLiteral("card"));
  const std::function<QString(const QString&)> writers[] = {
      [](const QString& p) { return WritePicture(p, TPictureFormat::Bmp, Sample()); },
      [](const QString& p) { return WritePicture(p, TPictureFormat::Png, Sample()); },
      [](const QString& p) { return WritePicture(p, TPictureFormat::Jpeg, Sample()); },
      [&](const QString& p) { return WriteRtfFile(p, doc); },
  };
  const mode_t mask = umask(0);
  umask(mask);
  for (std::size_t w = 0; w < std::size(writers); ++w) {
    SCOPED_TRACE(w);
    for (const char* refused : {"pipe", "folder", "loop1"})
      EXPECT_NE(writers[w](dir.filePath(QLatin1String(refused))), QString()) << refused;
    struct stat st {};
    ASSERT_EQ(lstat((d + "/pipe").constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(lstat((d + "/loop1").constData(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    ASSERT_EQ(writers[w](dir.filePath(QStringLiteral("link"))), QString());
    ASSERT_EQ(lstat((d + "/link").constData(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat((d + "/real").constData(), &st), 0);
    EXPECT_GT(st.st_size, 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    ASSERT_EQ(chmod((d + "/real").constData(), 0640), 0);  // a replaced file keeps its own permissions
    ASSERT_EQ(writers[w](dir.filePath(QStringLiteral("link"))), QString());
    ASSERT_EQ(stat((d + "/real").constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    ASSERT_EQ(unlink((d + "/real").constData()), 0);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size(), 5);
  }
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
