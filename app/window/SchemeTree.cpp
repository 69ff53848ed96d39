#include "app/window/SchemeTree.h"
#include "app/window/PageControls.h"

#include "app/charts/ChartOutput.h"
#include "platform/qt/FlowLayout.h"
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


// --- Scheme pages ---

void TSchemePage::BuildBar(QVBoxLayout* layout, const QString& create, const QString& expand,
                           const QString& print, const QString& save) {
  QWidget* page = Tab();
  auto* bar = new platform::TFlowLayout;
  layout->addLayout(bar);
  CreateButton = AddButton(page, bar, create, QStringLiteral("Создать"), QStringLiteral("Create"));
  ExpandButton = AddButton(page, bar, expand, QStringLiteral("Развернуть"), QStringLiteral("Expand"));
  PrintButton = AddButton(page, bar, print, QStringLiteral("Печатать"), QStringLiteral("Print"));
  SaveButton = AddButton(page, bar, save, QStringLiteral("Сохранить"), QStringLiteral("Save"));
  bar->addStretch();
  // The save button's drop-down: whole, or the picture cut for portrait or landscape pages.
  PopupMenu8 = new QMenu(page);
  PopupMenu8->setObjectName(QStringLiteral("PopupMenu8"));
  QAction* one = PopupMenu8->addAction(QStringLiteral("Одним файлом"));
  one->setStatusTip(QStringLiteral("SaveOneFile"));
  MenuItem3 = PopupMenu8->addAction(QStringLiteral("Разбить для Портретной"));
  MenuItem3->setStatusTip(QStringLiteral("SplitPortrait"));
  MenuItem4 = PopupMenu8->addAction(QStringLiteral("Разбить для Альбомной"));
  MenuItem4->setStatusTip(QStringLiteral("SplitLandscape"));
  SaveButton->setMenu(PopupMenu8);
  SaveButton->setPopupMode(QToolButton::MenuButtonPopup);
  connect(one, &QAction::triggered, this, [this] { RunCommand(host(), [this] { Save(); }); });
  connect(MenuItem3, &QAction::triggered, this, [this] { RunCommand(host(), [this] { MenuItemSplitClick(false); }); });
  connect(MenuItem4, &QAction::triggered, this, [this] { RunCommand(host(), [this] { MenuItemSplitClick(true); }); });
  connect(SaveButton, &QToolButton::clicked, this, [this] { RunCommand(host(), [this] { Save(); }); });
  connect(PrintButton, &QToolButton::clicked, this, [this] { RunCommand(host(), [this] { Print(); }); });
  connect(ExpandButton, &QToolButton::clicked, this, [this] {
    if (Tree->topLevelItemCount() == 0) return;
    Tree->setUpdatesEnabled(false);
    Tree->expandAll();
    Tree->setUpdatesEnabled(true);
  });
}

void TSchemePage::BuildTree(QVBoxLayout* layout, const QString& name) {
  Tree = AddTree(Tab(), name);
  layout->addWidget(Tree, 1);
  Tree->viewport()->installEventFilter(NewSchemeTreeFilter(Tree));
  connect(Tree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { JumpToLinkedNode(Tree, item); });
}

void TSchemePage::Show(const TTreeNodes& nodes, bool enableOutput) {
  ShowTreeNodes(Tree, nodes);
  if (enableOutput) host().OutputReady();
}

void TSchemePage::Print() { PrintTree(TreeRowsOf(Tree), host().Dialogs(), host().Printer()); }
void TSchemePage::Save() { SaveTree(TreeRowsOf(Tree), host().Dialogs()); }
void TSchemePage::MenuItemSplitClick(bool landscape) { SaveTreeSplit(TreeRowsOf(Tree), host().Dialogs(), landscape); }
