#include "app/charts/ChartOutput.h"

#include "app/charts/TreePicture.h"
#include "platform/qt/PictureFile.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <optional>

namespace {

TChartTranslate& Translator() {
  static TChartTranslate t;
  return t;
}

std::optional<platform::TPictureFormat> FormatOf(const QString& fileName) {
  const QString end = fileName.right(3).toUpper();
  if (end == QLatin1String("BMP")) return platform::TPictureFormat::Bmp;
  if (end == QLatin1String("JPG") || fileName.right(5).toUpper() == QLatin1String(".JPEG"))
    return platform::TPictureFormat::Jpeg;
  if (end == QLatin1String("PNG")) return platform::TPictureFormat::Png;
  return std::nullopt;
}

QString UnknownType(const QString& fileName) {
  return ChartText(QStringLiteral("UnknownPictureType"),
                   QStringLiteral("Неизвестный тип файла картинки (BMP, JPG или PNG):")) + QLatin1Char(' ') + fileName;
}

bool Report(platform::TDialogs& d, const QString& error) {
  if (error.isEmpty()) return true;
  d.Message(ChartText(QStringLiteral("SaveFailed"), QStringLiteral("Не удалось сохранить файл:")) + QLatin1Char(' ') + error);
  return false;
}

// The name without its last extension.
QString StripExtension(const QString& fileName) {
  const int dot = fileName.lastIndexOf(QLatin1Char('.'));
  const int slash = std::max(fileName.lastIndexOf(QLatin1Char('/')), fileName.lastIndexOf(QLatin1Char('\\')));
  return dot > slash ? fileName.left(dot) : fileName;
}

QString Extension(const QString& fileName) {
  const int dot = fileName.lastIndexOf(QLatin1Char('.'));
  const int slash = std::max(fileName.lastIndexOf(QLatin1Char('/')), fileName.lastIndexOf(QLatin1Char('\\')));
  return dot > slash ? fileName.mid(dot) : QString();
}

bool WriteText(const QString& fileName, const QString& text, platform::TDialogs& d) {
  QFile f(fileName);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return Report(d, fileName + QStringLiteral(": ") + f.errorString());
  const QByteArray bytes = QByteArray("\xEF\xBB\xBF") + text.toUtf8();
  if (f.write(bytes) != bytes.size() || !f.flush()) return Report(d, fileName + QStringLiteral(": ") + f.errorString());
  f.close();
  if (f.error() != QFileDevice::NoError) return Report(d, fileName + QStringLiteral(": ") + f.errorString());
  return true;
}

bool PrintFailed(platform::TDialogs& d, const platform::TPageSink& printer) {
  d.Message(ChartText(QStringLiteral("PrintFailed"), QStringLiteral("Не удалось напечатать:")) + QLatin1Char(' ') + printer.LastError());
  return false;
}

}  // namespace

void SetChartTranslator(TChartTranslate translate) { Translator() = std::move(translate); }

QString ChartText(const QString& key, const QString& def) {
  return Translator() ? Translator()(key, def) : def;
}

QString TreeText(const std::vector<TTreeRow>& rows) {
  QString out;
  for (const TTreeRow& r : rows) {
    out += QString(std::max(0, r.Level), QLatin1Char('\t'));
    out += TTreePicture::DrawnText(r.Text);
    out += QStringLiteral("\r\n");
  }
  return out;
}

QString TreeCsv(const std::vector<TTreeRow>& rows) {
  QString out;
  for (const TTreeRow& r : rows) {
    QString text = TTreePicture::DrawnText(r.Text).trimmed();
    text.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    out += QString(std::max(0, r.Level), QLatin1Char(';'));
    out += QLatin1Char('"') + text + QStringLiteral("\"\r\n");
  }
  return out;
}

bool TreeToPict(const std::vector<TTreeRow>& rows, const QString& fileName, TSplit split,
                platform::TDialogs& dialogs) {
  if (rows.empty()) return false;
  const auto format = FormatOf(fileName);
  if (!format) {
    dialogs.Message(UnknownType(fileName));
    return false;
  }
  const TTreePicture picture(rows);
  if (split == TSplit::None) return Report(dialogs, platform::WritePicture(fileName, *format, picture));
  const int pageH = TreePageHeight(picture.Width(), split == TSplit::Landscape);
  const int pages = (picture.Height() + pageH - 1) / pageH;
  const QString base = StripExtension(fileName);
  const QString ext = Extension(fileName);
  for (int p = 0; p < pages; ++p) {
    const QImage page = picture.Cut(p * pageH, pageH);
    if (!Report(dialogs, platform::WritePicture(base + QString::number(p + 1) + ext, *format, page))) return false;
  }
  return true;
}

bool PrintTree(const std::vector<TTreeRow>& rows, platform::TDialogs& dialogs, platform::TPageSink& printer) {
  if (rows.empty()) return false;
  if (!dialogs.Print(printer)) return false;
  const TTreePicture picture(rows);
  const int pageH = TreePageHeight(picture.Width(), printer.Landscape());
  const int pages = (picture.Height() + pageH - 1) / pageH;
  if (!printer.BeginDoc(QStringLiteral("Trevolan"))) return PrintFailed(dialogs, printer);
  const QSize size = printer.PageSize();
  for (int p = 0; p < pages; ++p) {
    printer.StretchDraw(QRect(0, 0, size.width(), size.height()), picture.Cut(p * pageH, pageH));
    if (p + 1 < pages && !printer.NewPage()) {
      printer.EndDoc();
      return PrintFailed(dialogs, printer);
    }
  }
  if (!printer.EndDoc()) return PrintFailed(dialogs, printer);
  return true;
}

bool SaveTree(const std::vector<TTreeRow>& rows, platform::TDialogs& dialogs) {
  QString name;
  int index = 1;
  if (!dialogs.Save(kTreeSaveFilter, name, index)) return false;
  switch (index) {
    case 1: return WriteText(name, TreeText(rows), dialogs);
    case 2: return WriteText(name, TreeCsv(rows), dialogs);
    default: return TreeToPict(rows, name, TSplit::None, dialogs);
  }
}

bool SaveTreeSplit(const std::vector<TTreeRow>& rows, platform::TDialogs& dialogs, bool landscape) {
  QString name;
  int index = 3;  // the picture dialog opens on PNG
  if (!dialogs.Save(kPictureSaveFilter, name, index)) return false;
  return TreeToPict(rows, name, landscape ? TSplit::Landscape : TSplit::Portrait, dialogs);
}

bool PrintBitMap(const QImage& bitmap, platform::TDialogs& dialogs, platform::TPageSink& printer) {
  if (bitmap.isNull() || bitmap.width() <= 0 || bitmap.height() <= 0) return false;
  if (!dialogs.Print(printer)) return false;
  if (!printer.BeginDoc(QStringLiteral("Trevolan"))) return PrintFailed(dialogs, printer);
  const QSize page = printer.PageSize();
  const double v = std::nearbyint(std::min(double(page.width()) / bitmap.width() * 100.0,
                                           double(page.height()) / bitmap.height() * 100.0));
  printer.StretchDraw(QRect(0, 0, int(std::nearbyint(bitmap.width() * v / 100.0)),
                            int(std::nearbyint(bitmap.height() * v / 100.0))),
                      bitmap);
  if (!printer.EndDoc()) return PrintFailed(dialogs, printer);
  return true;
}

bool SaveBitMap(const QImage& bitmap, platform::TDialogs& dialogs) {
  if (bitmap.isNull() || bitmap.width() <= 0 || bitmap.height() <= 0) return false;
  QString name;
  int index = 3;  // the picture dialog opens on PNG
  if (!dialogs.Save(kPictureSaveFilter, name, index)) return false;
  const auto format = FormatOf(name);
  if (!format) {
    dialogs.Message(UnknownType(name));
    return false;
  }
  return Report(dialogs, platform::WritePicture(name, *format, bitmap));
}
