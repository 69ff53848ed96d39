// Small builders of the report pages' controls: each makes the control with its object name (the settings
// key) and help keyword, puts it in the layout and returns it.
#pragma once

#include "app/reports/Marriages.h"
#include "platform/qt/ClientDataSet.h"
#include "platform/qt/DataGrid.h"

#include <QCheckBox>
#include <QLayout>
#include <QString>
#include <QToolButton>
#include <QWidget>
#include <QtGlobal>

#include <vector>

// A check box; an empty key gives it no help keyword.
QCheckBox* AddCheck(QWidget* parent, QLayout* layout, const QString& name, const QString& caption, const QString& key,
                    bool checked = false);

// A tool button that shows its caption only.
QToolButton* AddButton(QWidget* parent, QLayout* layout, const QString& name, const QString& caption,
                       const QString& key);

// A run time as "nn:ss.zz": minutes, seconds and hundredths.
QString Elapsed(qint64 ms);

// A report's grid on the page: its dataset, made with the report's fields and left closed (the grid's model
// finds its fields when it is made), the model over the report's columns, and the grid with their widths.
struct TReportGrid {
  platform::TClientDataSet* data;
  platform::TDataSetModel* model;
  platform::TDBGrid* grid;
};
TReportGrid MakeReportGrid(QObject* owner, QWidget* page, const QString& dataName, const QString& modelName,
                           const QString& gridName, const QString& key, void (*create)(platform::TClientDataSet&),
                           const std::vector<TReportColumn>& reportColumns);
