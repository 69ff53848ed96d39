#include "app/window/PageControls.h"

#include "platform/qt/Controls.h"

#include <QHeaderView>
#include <QLatin1Char>

QCheckBox* MakeCheck(QWidget* parent, const QString& name, const QString& caption, const QString& key,
                     bool checked) {
  auto* c = new QCheckBox(caption, parent);
  c->setObjectName(name);
  c->setChecked(checked);
  if (!key.isEmpty()) platform::SetHelpKeyword(c, key);
  return c;
}

QCheckBox* AddCheck(QWidget* parent, QLayout* layout, const QString& name, const QString& caption, const QString& key,
                    bool checked) {
  QCheckBox* c = MakeCheck(parent, name, caption, key, checked);
  layout->addWidget(c);
  return c;
}

QSpinBox* MakeSpin(QWidget* parent, const QString& name, int min, int max, int value, int step) {
  auto* s = new QSpinBox(parent);
  s->setObjectName(name);
  s->setRange(min, max);
  s->setSingleStep(step);
  s->setValue(value);
  return s;
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

TSplitSaveMenu AddSplitSaveMenu(QWidget* page, QToolButton* save) {
  TSplitSaveMenu m{};
  m.menu = new QMenu(page);
  m.menu->setObjectName(QStringLiteral("PopupMenu8"));
  m.whole = m.menu->addAction(QStringLiteral("Одним файлом"));
  m.whole->setStatusTip(QStringLiteral("SaveOneFile"));
  m.portrait = m.menu->addAction(QStringLiteral("Разбить для Портретной"));
  m.portrait->setStatusTip(QStringLiteral("SplitPortrait"));
  m.landscape = m.menu->addAction(QStringLiteral("Разбить для Альбомной"));
  m.landscape->setStatusTip(QStringLiteral("SplitLandscape"));
  save->setMenu(m.menu);
  save->setPopupMode(QToolButton::MenuButtonPopup);
  return m;
}
