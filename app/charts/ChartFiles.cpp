#include "app/charts/ChartFiles.h"

#include "app/charts/TreePicture.h"
#include "platform/qt/PictureFile.h"

#include <algorithm>
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

// The message of a failed write, or "" when `error` is empty.
QString SaveFailed(const QString& error) {
  if (error.isEmpty()) return QString();
  return ChartText(QStringLiteral("SaveFailed"), QStringLiteral("Не удалось сохранить файл:")) + QLatin1Char(' ') + error;
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

namespace {

QString UnknownType(const QString& fileName) {
  return ChartText(QStringLiteral("UnknownPictureType"),
                   QStringLiteral("Неизвестный тип файла картинки (BMP, JPG или PNG):")) + QLatin1Char(' ') + fileName;
}

}  // namespace

bool WriteChartPicture(const QImage& picture, const QString& fileName, QString& message) {
  message.clear();
  if (picture.isNull() || picture.width() <= 0 || picture.height() <= 0) return false;
  const auto format = FormatOf(fileName);
  if (!format) {
    message = UnknownType(fileName);
    return false;
  }
  message = SaveFailed(platform::WritePicture(fileName, *format, picture));
  return message.isEmpty();
}

bool WriteTreePicture(const std::vector<TTreeRow>& rows, const QString& fileName, TSplit split, QString& message) {
  message.clear();
  if (rows.empty()) return false;
  const auto format = FormatOf(fileName);
  if (!format) {
    message = UnknownType(fileName);
    return false;
  }
  const TTreePicture picture(rows);
  if (split == TSplit::None) {
    message = SaveFailed(platform::WritePicture(fileName, *format, picture));
    return message.isEmpty();
  }
  const int pageH = TreePageHeight(picture.Width(), split == TSplit::Landscape);
  const int pages = (picture.Height() + pageH - 1) / pageH;
  const QString base = StripExtension(fileName);
  const QString ext = Extension(fileName);
  for (int p = 0; p < pages; ++p) {
    const QImage page = picture.Cut(p * pageH, pageH);
    message = SaveFailed(platform::WritePicture(base + QString::number(p + 1) + ext, *format, page));
    if (!message.isEmpty()) return false;
  }
  return true;
}
