#include "app/window/PageControls.h"

#include "platform/qt/Controls.h"

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
