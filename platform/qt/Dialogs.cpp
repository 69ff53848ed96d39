#include "platform/qt/Dialogs.h"

#include <algorithm>

#include "platform/qt/PageSink.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>

namespace platform {

QString QtFilter(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString masks = parts[i + 1];
    masks.replace(QLatin1Char(';'), QLatin1Char(' '));
    out << QStringLiteral("%1 (%2)").arg(parts[i], masks);
  }
  return out.join(QStringLiteral(";;"));
}

QString FilterExtension(const QString& filter, int filterIndex) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  const int at = 2 * (filterIndex - 1) + 1;
  if (filterIndex < 1 || at >= parts.size()) return QString();
  // The first mask of the pair ("*.bmp;*.dib" gives "bmp"); a mask with wildcards after the dot gives none.
  const QString mask = parts[at].split(QLatin1Char(';')).first().trimmed();
  if (!mask.startsWith(QStringLiteral("*."))) return QString();
  const QString ext = mask.mid(2);
  return ext.contains(QLatin1Char('*')) || ext.contains(QLatin1Char('?')) ? QString() : ext;
}

QString WithFilterExtension(const QString& fileName, const QString& filter, int filterIndex) {
  const qsizetype slash = std::max(fileName.lastIndexOf(QLatin1Char('/')), fileName.lastIndexOf(QLatin1Char('\\')));
  const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
  if (dot > slash && dot + 1 < fileName.size()) return fileName;  // the name has its own extension
  const QString ext = FilterExtension(filter, filterIndex);
  if (ext.isEmpty() || fileName.isEmpty()) return fileName;
  return (dot > slash ? fileName.left(dot) : fileName) + QLatin1Char('.') + ext;
}

bool TQtDialogs::Save(const QString& filter, QString& fileName, int& filterIndex) {
  const QString qtFilter = QtFilter(filter);
  const QStringList filters = qtFilter.split(QStringLiteral(";;"));
  // The dialog opens on the filter the caller designed for it.
  QString selected = filterIndex >= 1 && filterIndex <= filters.size() ? filters[filterIndex - 1] : QString();
  const QString name = QFileDialog::getSaveFileName(parent_, QString(), fileName, qtFilter, &selected);
  if (name.isEmpty()) return false;
  const int idx = filters.indexOf(selected);
  filterIndex = idx < 0 ? 1 : idx + 1;
  fileName = WithFilterExtension(name, filter, filterIndex);
  return true;
}

bool TQtDialogs::Print(TPageSink& printer) {
  auto* sink = dynamic_cast<TPrinterSink*>(&printer);
  if (!sink) return true;
  QPrintDialog dialog(&sink->Printer(), parent_);
  return dialog.exec() == QDialog::Accepted;
}

bool TQtDialogs::Color(TColor& color) {
  const QColor c = QColorDialog::getColor(ToQColor(color), parent_);
  if (!c.isValid()) return false;
  color = FromQColor(c);
  return true;
}

void TQtDialogs::Message(const QString& text) { QMessageBox::information(parent_, QString(), text); }

bool TFakeDialogs::Save(const QString& filter, QString& fileName, int& filterIndex) {
  filters << filter;
  openedOn << filterIndex;
  if (saves.empty()) return false;
  const SaveAnswer a = saves.front();
  saves.pop_front();
  if (a.fileName.isEmpty()) return false;
  // As the real dialog does: a typed name without an extension gets the chosen filter's.
  filterIndex = a.filterIndex;
  fileName = WithFilterExtension(a.fileName, filter, filterIndex);
  return true;
}

bool TFakeDialogs::Print(TPageSink&) {
  ++printAsked;
  if (prints.empty()) return false;
  const bool ok = prints.front();
  prints.pop_front();
  return ok;
}

bool TFakeDialogs::Color(TColor& color) {
  if (colors.empty()) return false;
  color = colors.front();
  colors.pop_front();
  return true;
}

}  // namespace platform
