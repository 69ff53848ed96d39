// Report pages and command wiring of the main window: the ancestor and descendant scheme pages, the
// behaviour of the scheme tree views, and the toolbar's run, print and save commands with their menus.
#include "app/core/Unit1Charts.h"

#include "app/charts/ChartOutput.h"
#include "app/core/Model.h"
#include "platform/qt/Controls.h"
#include "platform/qt/RtfWriter.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSpinBox>
#include <QComboBox>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolTip>
#include <QUrl>
#include <QVBoxLayout>

#include <cmath>
#include <exception>
#include <functional>

namespace {

QIcon StateIcon(int state) {
  if (state < 0) return {};
  QImage img(16, 16, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  const bool woman = state == 2 || state == 5;
  const bool repeated = state == 4 || state == 5;
  const QColor c = woman ? QColor(255, 0, 0) : QColor(0, 0, 255);
  p.setPen(c);
  p.setBrush(repeated ? QBrush(Qt::NoBrush) : QBrush(c));
  if (woman)
    p.drawEllipse(2, 2, 11, 11);
  else
    p.drawRect(2, 2, 11, 11);
  return QIcon(QPixmap::fromImage(img));
}

QCheckBox* AddCheck(QWidget* parent, QLayout* layout, const QString& name, const QString& caption,
                    const QString& key, bool checked) {
  auto* c = new QCheckBox(caption, parent);
  c->setObjectName(name);
  c->setChecked(checked);
  if (!key.isEmpty()) platform::SetHelpKeyword(c, key);
  layout->addWidget(c);
  return c;
}

QToolButton* AddButton(QWidget* parent, QLayout* layout, const QString& name, const QString& caption) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setText(caption);
  b->setToolButtonStyle(Qt::ToolButtonTextOnly);
  layout->addWidget(b);
  return b;
}

QTreeWidget* AddTree(QWidget* parent, const QString& name) {
  auto* t = new QTreeWidget(parent);
  t->setObjectName(name);
  t->setHeaderHidden(true);
  t->setColumnCount(1);
  t->setMouseTracking(true);
  t->setUniformRowHeights(true);
  t->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  t->header()->setStretchLastSection(false);
  return t;
}

QString WrapAtBlanks(const QString& text, int width) {
  if (width < 1) return text;
  QStringList lines;
  QString line;
  for (const QString& word : text.split(QLatin1Char(' '))) {
    if (!line.isEmpty() && line.size() + 1 + word.size() > width) {
      lines << line;
      line.clear();
    }
    line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
  }
  if (!line.isEmpty()) lines << line;
  return lines.join(QStringLiteral("\r\n"));
}

// Hand cursor over linked nodes, the node's text as a hint, and the jump on double click.
class TSchemeTreeFilter : public QObject {
 public:
  explicit TSchemeTreeFilter(QTreeWidget* tree) : QObject(tree), tree_(tree) {}

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MouseMove) {
      const auto* me = static_cast<QMouseEvent*>(event);
      QTreeWidgetItem* item = tree_->itemAt(me->position().toPoint());
      const bool linked = item && item->data(0, kNodeLinkRole) != item->data(0, kNodeIdRole);
      tree_->viewport()->setCursor(linked ? Qt::PointingHandCursor : Qt::ArrowCursor);
      if (item) {
        const int width = int(std::nearbyint(tree_->width() / 8.0));
        QToolTip::showText(me->globalPosition().toPoint(), WrapAtBlanks(item->text(0), width), tree_, {}, 5000);
      }
    }
    return false;
  }

 private:
  QTreeWidget* tree_;
};

}  // namespace

QObject* NewSchemeTreeFilter(QTreeWidget* tree) { return new TSchemeTreeFilter(tree); }

void ShowTreeNodes(QTreeWidget* view, const TTreeNodes& nodes) {
  view->setUpdatesEnabled(false);
  view->clear();
  std::vector<QTreeWidgetItem*> items(size_t(nodes.Count()), nullptr);
  QList<QTreeWidgetItem*> top;
  for (int i = 0; i < nodes.Count(); ++i) {
    const TTreeNode& n = nodes[i];
    auto* item = new QTreeWidgetItem;
    item->setText(0, n.Text);
    item->setData(0, kNodeIdRole, i);
    item->setData(0, kNodeLinkRole, n.Link);
    item->setData(0, kNodeStateRole, n.StateImage);
    if (n.StateImage >= 0) item->setIcon(0, StateIcon(n.StateImage));
    if (n.Link != i) {
      QFont f = item->font(0);
      f.setUnderline(true);
      item->setFont(0, f);
    }
    items[size_t(i)] = item;
    if (n.Parent < 0) top << item;
  }
  for (int i = 0; i < nodes.Count(); ++i) {
    QList<QTreeWidgetItem*> children;
    for (const int c : nodes[i].Children) children << items[size_t(c)];
    if (!children.isEmpty()) items[size_t(i)]->addChildren(children);
  }
  view->addTopLevelItems(top);
  for (int i = 0; i < nodes.Count(); ++i)
    if (nodes[i].Expanded) items[size_t(i)]->setExpanded(true);
  view->setUpdatesEnabled(true);
}

std::vector<TTreeRow> TreeRowsOf(const QTreeWidget* view) {
  std::vector<TTreeRow> rows;
  std::function<void(const QTreeWidgetItem*, int)> walk = [&](const QTreeWidgetItem* item, int level) {
    const QVariant state = item->data(0, kNodeStateRole);
    rows.push_back({level, item->text(0), state.isValid() ? state.toInt() : -1});
    for (int i = 0; i < item->childCount(); ++i) walk(item->child(i), level + 1);
  };
  for (int i = 0; i < view->topLevelItemCount(); ++i) walk(view->topLevelItem(i), 0);
  return rows;
}

void JumpToLinkedNode(QTreeWidget* view, QTreeWidgetItem* item) {
  if (!item) return;
  const QVariant link = item->data(0, kNodeLinkRole);
  QTreeWidgetItem* target = nullptr;
  for (QTreeWidgetItemIterator it(view); *it && !target; ++it)
    if ((*it)->data(0, kNodeIdRole) == link) target = *it;
  if (!target) return;
  view->setUpdatesEnabled(false);
  view->setCurrentItem(target);
  target->setExpanded(true);
  std::function<void(QTreeWidgetItem*)> expandAll = [&](QTreeWidgetItem* i) {
    i->setExpanded(true);
    for (int c = 0; c < i->childCount(); ++c) expandAll(i->child(c));
  };
  expandAll(target);
  view->setFocus();
  // Put the node a number of rows below the top, as far as rows above allow.
  const int wanted = int(std::nearbyint(view->height() / 30.0));
  QTreeWidgetItem* top = target;
  for (int i = 0; i < wanted; ++i) {
    QTreeWidgetItem* above = view->itemAbove(top);
    if (!above) break;
    top = above;
  }
  view->scrollToItem(top, QAbstractItemView::PositionAtTop);
  view->setUpdatesEnabled(true);
}

void PairYearsDates(QCheckBox* years, QCheckBox* dates) {
  QObject::connect(years, &QCheckBox::toggled, dates, [dates](bool on) {
    if (on) dates->setChecked(false);
  });
  QObject::connect(dates, &QCheckBox::toggled, years, [years](bool on) {
    if (on) years->setChecked(false);
  });
}

void TForm1::BuildChartPages() {
  charts_ = new ChartsState(this);
  ChartsState& c = *charts_;
  c.printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  c.printerSink = std::make_unique<platform::TPrinterSink>(*c.printer);
  c.dialogs = std::make_unique<platform::TQtDialogs>(this);
  SetChartTranslator([this](const QString& key, const QString& def) { return Lang(key, def); });

  // Ancestor scheme page
  {
    QWidget* page = TabChartAncestors;
    auto* layout = new QVBoxLayout(page);
    auto* bar = new QHBoxLayout;
    layout->addLayout(bar);
    c.SpeedButton22 = AddButton(page, bar, QStringLiteral("SpeedButton22"), QStringLiteral("Создать"));
    c.SpeedButton23 = AddButton(page, bar, QStringLiteral("SpeedButton23"), QStringLiteral("Развернуть"));
    c.PrintButtonAncestors = AddButton(page, bar, QStringLiteral("PrintButtonAncestors"), QStringLiteral("Печатать"));
    c.SaveButtonAncestors = AddButton(page, bar, QStringLiteral("SaveButtonAncestors"), QStringLiteral("Сохранить"));
    bar->addStretch();
    auto* fill = new QGroupBox(QStringLiteral("Заполнять"), page);
    fill->setObjectName(QStringLiteral("GroupBox60"));
    platform::SetControlTag(fill, 1);
    auto* fl = new QHBoxLayout(fill);
    c.CheckBox60 = AddCheck(fill, fl, QStringLiteral("CheckBox60"), QStringLiteral("Полное имя"), QStringLiteral("FullName"), true);
    c.CheckBox61 = AddCheck(fill, fl, QStringLiteral("CheckBox61"), QStringLiteral("Фамилия"), {}, true);
    c.CheckBox62 = AddCheck(fill, fl, QStringLiteral("CheckBox62"), QStringLiteral("Фам.при рожд."), {}, true);
    c.CheckBox63 = AddCheck(fill, fl, QStringLiteral("CheckBox63"), QStringLiteral("(в скобки)"), {}, true);
    c.CheckBox64 = AddCheck(fill, fl, QStringLiteral("CheckBox64"), QStringLiteral("Имя"), {}, true);
    c.CheckBox65 = AddCheck(fill, fl, QStringLiteral("CheckBox65"), QStringLiteral("Отчество"), {}, true);
    c.CheckBox70 = AddCheck(fill, fl, QStringLiteral("CheckBox70"), QStringLiteral("Место рождения"), {}, true);
    c.CheckBox66 = AddCheck(fill, fl, QStringLiteral("CheckBox66"), QStringLiteral("Годы жизни"), QStringLiteral("YearsLife"), true);
    c.CheckBox67 = AddCheck(fill, fl, QStringLiteral("CheckBox67"), QStringLiteral("Даты жизни"), QStringLiteral("DatesLife"), false);
    fl->addStretch();
    layout->addWidget(fill);
    c.TreeView1 = AddTree(page, QStringLiteral("TreeView1"));
    layout->addWidget(c.TreeView1, 1);
  }
  // Descendant scheme page
  {
    QWidget* page = TabChartDescendants;
    auto* layout = new QVBoxLayout(page);
    auto* bar = new QHBoxLayout;
    layout->addLayout(bar);
    c.SpeedButton7 = AddButton(page, bar, QStringLiteral("SpeedButton7"), QStringLiteral("Создать"));
    c.SpeedButton8 = AddButton(page, bar, QStringLiteral("SpeedButton8"), QStringLiteral("Развернуть"));
    c.PrintButtonDescendants = AddButton(page, bar, QStringLiteral("PrintButtonDescendants"), QStringLiteral("Печатать"));
    c.SaveButtonDescendants = AddButton(page, bar, QStringLiteral("SaveButtonDescendants"), QStringLiteral("Сохранить"));
    bar->addStretch();
    auto* opts = new QHBoxLayout;
    layout->addLayout(opts);
    c.RadioGroup16 = new platform::TRadioGroup(page, QStringLiteral("RadioGroup16"));
    c.RadioGroup16->SetItems({QStringLiteral("Без номеров"), QStringLiteral("Последовательн."),
                              QStringLiteral("д'Абовилля"), QStringLiteral("Коновалова")});
    c.RadioGroup16->SetItemIndex(0);
    opts->addWidget(c.RadioGroup16);
    c.RadioGroup6 = new platform::TRadioGroup(page, QStringLiteral("RadioGroup6"));
    c.RadioGroup6->SetItems({QStringLiteral("Все"), QStringLiteral("Мужчины"), QStringLiteral("Женщины"),
                             QStringLiteral("Род")});
    c.RadioGroup6->SetItemIndex(0);
    opts->addWidget(c.RadioGroup6);
    auto* fill = new platform::TPanel(page, QStringLiteral("Panel61"));
    platform::SetControlTag(fill, 1);
    auto* fl = new QVBoxLayout(fill);
    c.CheckBox17 = AddCheck(fill, fl, QStringLiteral("CheckBox17"), QStringLiteral("Прим.к персоне"), {}, false);
    c.CheckBox18 = AddCheck(fill, fl, QStringLiteral("CheckBox18"), QStringLiteral("Место события"), {}, false);
    c.CheckBox16 = AddCheck(fill, fl, QStringLiteral("CheckBox16"), QStringLiteral("Прим.к событию"), {}, false);
    c.CheckBox14 = AddCheck(fill, fl, QStringLiteral("CheckBox14"), QStringLiteral("Причина смерти"), {}, false);
    opts->addWidget(fill);
    auto* labels = new platform::TPanel(page, QStringLiteral("Panel62"));
    platform::SetControlTag(labels, 1);
    auto* ll = new QVBoxLayout(labels);
    auto edit = [&](const QString& name, const QString& text) {
      auto* e = new QLineEdit(text, labels);
      e->setObjectName(name);
      e->setMaximumWidth(60);
      ll->addWidget(e);
      return e;
    };
    c.Edit3 = edit(QStringLiteral("Edit3"), QStringLiteral("род."));
    c.Edit4 = edit(QStringLiteral("Edit4"), QStringLiteral("бр."));
    c.Edit5 = edit(QStringLiteral("Edit5"), QStringLiteral("ум."));
    opts->addWidget(labels);
    opts->addStretch();
    c.TreeView2 = AddTree(page, QStringLiteral("TreeView2"));
    layout->addWidget(c.TreeView2, 1);
  }
  BuildFanPage();
}

void TForm1::EmptyAncestorList() {
  if (charts_) charts_->ancestors.Clear();
}

void TForm1::ClearLinkChain() {}
void TForm1::PersInfo() {}
