#include "app/window/PageControls.h"

#include "platform/qt/Controls.h"

#include <QHeaderView>
#include <QLatin1Char>

QCheckBox* AddCheck(QWidget* parent, QLayout* layout, const QString& name, const QString& caption, const QString& key,
                    bool checked) {
  auto* c = new QCheckBox(caption, parent);
  c->setObjectName(name);
  c->setChecked(checked);
  if (!key.isEmpty()) platform::SetHelpKeyword(c, key);
  layout->addWidget(c);
  return c;
}

QToolButton* AddButton(QWidget* parent, QLayout* layout, const QString& name, const QString& caption,
                       const QString& key) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setText(caption);
  platform::SetHelpKeyword(b, key);
  b->setToolButtonStyle(Qt::ToolButtonTextOnly);
  layout->addWidget(b);
  return b;
}

QString Elapsed(qint64 ms) {
  return QStringLiteral("%1:%2.%3")
      .arg(ms / 60000, 2, 10, QLatin1Char('0'))
      .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
      .arg(ms / 10 % 100, 2, 10, QLatin1Char('0'));
}

TReportGrid MakeReportGrid(QObject* owner, QWidget* page, const QString& dataName, const QString& modelName,
                           const QString& gridName, const QString& key, void (*create)(platform::TClientDataSet&),
                           const std::vector<TReportColumn>& reportColumns) {
  TReportGrid g{};
  g.data = new platform::TClientDataSet(owner);
  g.data->setObjectName(dataName);
  create(*g.data);
  g.data->Close();
  std::vector<platform::TDataSetModel::Column> columns;
  for (const TReportColumn& c : reportColumns) columns.push_back({c.field, c.title, c.width, false});
  g.model = new platform::TDataSetModel(g.data, columns, owner);
  g.model->setObjectName(modelName);
  g.grid = new platform::TDBGrid(page, gridName, g.model);
  platform::SetHelpKeyword(g.grid, key);
  for (std::size_t k = 0; k < columns.size(); ++k) g.grid->setColumnWidth(static_cast<int>(k), columns[k].width);
  g.grid->verticalHeader()->setDefaultSectionSize(g.grid->fontMetrics().height() + 4);
  return g;
}
