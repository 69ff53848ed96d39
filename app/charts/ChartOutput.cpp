#include "app/charts/ChartOutput.h"

#include "app/charts/TreePicture.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>

namespace {

bool Report(platform::TDialogs& d, const QString& error) {
  if (error.isEmpty()) return true;
  d.Message(ChartText(QStringLiteral("SaveFailed"), QStringLiteral("Не удалось сохранить файл:")) + QLatin1Char(' ') + error);
  return false;
}

// Shows the message of a ChartFiles writer, if any, and passes its result on.
bool Shown(platform::TDialogs& d, bool written, const QString& message) {
  if (!message.isEmpty()) d.Message(message);
  return written;
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

bool TreeToPict(const std::vector<TTreeRow>& rows, const QString& fileName, TSplit split,
                platform::TDialogs& dialogs) {
  QString message;
  const bool written = WriteTreePicture(rows, fileName, split, message);
  return Shown(dialogs, written, message);
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
  QString message;
  const bool written = WriteChartPicture(bitmap, name, message);
  return Shown(dialogs, written, message);
}
