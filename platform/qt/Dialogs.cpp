#include "platform/qt/Dialogs.h"

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

bool TQtDialogs::Save(const QString& filter, QString& fileName, int& filterIndex) {
  const QString qtFilter = QtFilter(filter);
  QString selected;
  const QString name = QFileDialog::getSaveFileName(parent_, QString(), fileName, qtFilter, &selected);
  if (name.isEmpty()) return false;
  fileName = name;
  const int idx = qtFilter.split(QStringLiteral(";;")).indexOf(selected);
  filterIndex = idx < 0 ? 1 : idx + 1;
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
  if (saves.empty()) return false;
  const SaveAnswer a = saves.front();
  saves.pop_front();
  if (a.fileName.isEmpty()) return false;
  fileName = a.fileName;
  filterIndex = a.filterIndex;
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
