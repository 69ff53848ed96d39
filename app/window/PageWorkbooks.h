// The workbook exports shared by the report pages with a grid (marriages, calendar): the fixed workbook
// beside the settings, the grid's columns as shown, the save dialog's file name and the desktop's opener.
#pragma once

#include <QString>
#include <QTableView>

#include <functional>
#include <vector>

#include "app/reports/WorkbookExport.h"
#include "app/window/PageHost.h"
#include "platform/qt/DataGrid.h"

// The fixed workbook of a page: the file `name` in the host's settings folder (the program's folder when
// it is writable). An old file that cannot be deleted stays and is opened as it is; a new one is written
// by `write` (which raises when it fails, and then nothing is opened). When no program opens it (`open`
// returns false) the user is told where the file is.
void WriteFixedWorkbook(TPageHost& host, const QString& name, const std::function<void(const QString&)>& write,
                        const std::function<bool(const QString&)>& open);
// The grid's columns as shown: fields, titles (translated) and widths.
std::vector<TReportColumn> GridColumns(const platform::TDataSetModel* model, const QTableView* view);
// The desktop's opener; false when no program took the file.
bool OpenWithDesktop(const QString& path);
// The file name asked for by the save dialog of the workbook exports; empty when cancelled.
QString AskWorkbookName(TPageHost& host);
