// The scheme tree views of the report pages (ancestor and descendant schemes, kinship tree): showing a
// scheme, reading it back in display order, the jump to a linked node, the mouse behaviour; and the
// common frame of the two scheme pages (TSchemePage): their buttons, tree, print and save.
#pragma once

#include "app/charts/TreeNodes.h"
#include "app/window/ReportPage.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QObject>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <vector>

class QAction;

// Item data roles of the scheme tree views.
inline constexpr int kNodeIdRole = Qt::UserRole;         // the node's own index
inline constexpr int kNodeLinkRole = Qt::UserRole + 1;   // its own index, or the first node of its person
inline constexpr int kNodeStateRole = Qt::UserRole + 2;  // state image (1, 2, 4, 5; -1 none)

// Copies a scheme into a tree view: texts, state images, links, underlined repeats, expanded nodes.
void ShowTreeNodes(QTreeWidget* view, const TTreeNodes& nodes);
// The rows of a tree view in display order (every node, expanded or not).
std::vector<TTreeRow> TreeRowsOf(const QTreeWidget* view);
// The double-click jump: selects, expands and scrolls to the node that `item` links to.
void JumpToLinkedNode(QTreeWidget* view, QTreeWidgetItem* item);
// The scheme trees' mouse behaviour (hand cursor over linked nodes, the node text as a hint); install
// it on the tree's viewport. Owned by the tree.
QObject* NewSchemeTreeFilter(QTreeWidget* tree);
// Ticking one of a "Годы жизни" / "Даты жизни" pair unticks the other.
void PairYearsDates(QCheckBox* years, QCheckBox* dates);

// A scheme page: "Создать", "Развернуть", "Печатать", "Сохранить" (with its drop-down of split pictures)
// above one scheme tree. The derived page adds its options and runs its scheme.
class TSchemePage : public TReportPage {
 public:
  using TReportPage::TReportPage;
  void Print() override;
  void Save() override;
  void MenuItemSplitClick(bool landscape);  // "Разбить для Портретной" / "Разбить для Альбомной"
  void FileLoaded() override { Tree->clear(); }  // the scheme of the tree read before goes

  QToolButton *CreateButton = nullptr, *ExpandButton = nullptr, *PrintButton = nullptr, *SaveButton = nullptr;
  QTreeWidget* Tree = nullptr;
  QMenu* PopupMenu8 = nullptr;
  QAction *MenuItem3 = nullptr, *MenuItem4 = nullptr;

 protected:
  // Builds the button bar (objectNames given) and the tree at the bottom of `layout`; the tree goes in
  // with BuildTree after the page's own options.
  void BuildBar(QVBoxLayout* layout, const QString& create, const QString& expand, const QString& print,
                const QString& save);
  void BuildTree(QVBoxLayout* layout, const QString& name);
  // Shows a scheme; enables the toolbar's print and save when asked.
  void Show(const TTreeNodes& nodes, bool enableOutput);
};
