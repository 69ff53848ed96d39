// The workbook exports shared by the report pages; see PageWorkbooks.h.
#include "app/window/PageWorkbooks.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include "platform/qt/Dialogs.h"
#include "platform/qt/MessageFormat.h"

bool OpenWithDesktop(const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }

void WriteFixedWorkbook(TPageHost& host, const QString& name, const std::function<void(const QString&)>& write,
                        const std::function<bool(const QString&)>& open) {
  const QString path = host.SettingsFolder() + name;
  if (!QFileInfo::exists(path) || QFile::remove(path)) write(path);
  if (open && open(path)) return;
  host.Dialogs().Message(platform::FormatMsg(
      host.Lang(QStringLiteral("WorkbookWritten"), QStringLiteral("Таблица записана в файл \"%s\"")), {QDir::toNativeSeparators(path)}));
}

std::vector<TReportColumn> GridColumns(const platform::TDataSetModel* model, const QTableView* view) {
  std::vector<TReportColumn> out;
  for (int k = 0; k < model->columnCount(); ++k)
    out.push_back({model->Columns()[static_cast<std::size_t>(k)].field, model->ColumnTitle(k), view->columnWidth(k)});
  return out;
}

QString AskWorkbookName(TPageHost& host) {
  QString name;
  int filter = 2;
  if (!host.Dialogs().Save(QStringLiteral("Excel XML 2002 (*.xml)|*.xml|Excel|*.xlsx"), name, filter)) return {};
  if (!name.isEmpty() && QFileInfo(name).suffix().isEmpty()) name += filter == 1 ? QStringLiteral(".xml") : QStringLiteral(".xlsx");
  return name;
}
