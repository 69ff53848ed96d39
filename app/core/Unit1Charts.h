// The report pages' controls of the main window that the charts and commands wiring builds (the
// ancestor and descendant scheme pages), the working lists they keep between commands, and the
// output services the commands use (dialogs and printer; tests put fakes in their place).
#pragma once

#include "app/charts/Ancestors.h"
#include "app/charts/Descendants.h"
#include "app/charts/TreeNodes.h"
#include "app/core/Unit1.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/PageSink.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QObject>
#include <QPrinter>
#include <QToolButton>
#include <QTreeWidget>

#include <functional>
#include <map>
#include <memory>
#include <vector>

// Item data roles of the scheme tree views.
inline constexpr int kNodeIdRole = Qt::UserRole;         // the node's own index
inline constexpr int kNodeLinkRole = Qt::UserRole + 1;   // its own index, or the first node of its person
inline constexpr int kNodeStateRole = Qt::UserRole + 2;  // state image (1, 2, 4, 5; -1 none)

struct TForm1::ChartsState : QObject {
  explicit ChartsState(QObject* parent) : QObject(parent) {}

  // Ancestor scheme page
  QToolButton *SpeedButton22 = nullptr, *SpeedButton23 = nullptr;
  QToolButton *PrintButtonAncestors = nullptr, *SaveButtonAncestors = nullptr;
  QCheckBox *CheckBox60 = nullptr, *CheckBox61 = nullptr, *CheckBox62 = nullptr, *CheckBox63 = nullptr,
            *CheckBox64 = nullptr, *CheckBox65 = nullptr, *CheckBox66 = nullptr, *CheckBox67 = nullptr,
            *CheckBox70 = nullptr;
  QTreeWidget* TreeView1 = nullptr;
  // Descendant scheme page
  QToolButton *SpeedButton7 = nullptr, *SpeedButton8 = nullptr;
  QToolButton *PrintButtonDescendants = nullptr, *SaveButtonDescendants = nullptr;
  platform::TRadioGroup *RadioGroup16 = nullptr, *RadioGroup6 = nullptr;
  QCheckBox *CheckBox14 = nullptr, *CheckBox16 = nullptr, *CheckBox17 = nullptr, *CheckBox18 = nullptr;
  QLineEdit *Edit3 = nullptr, *Edit4 = nullptr, *Edit5 = nullptr;
  QTreeWidget* TreeView2 = nullptr;
  // Menus
  QMenu *PopupMenu4 = nullptr, *PopupMenu8 = nullptr;
  QAction *MenuItem3 = nullptr, *MenuItem4 = nullptr;

  // Working lists
  TAncestorList ancestors;          // aPers
  std::vector<TPers2> descendants;  // aPers2 of the last scheme
  TFanList fanList;                 // aPers2 and aCoord of the last fan list

  // What the toolbar's run, print and save commands do on pages built elsewhere: a page's report
  // registers its actions here (keyed by the page widget); they take precedence over the built-in ones.
  std::map<QWidget*, std::function<void()>> runActions, printActions, saveActions;

  // Output services
  std::unique_ptr<QPrinter> printer;
  std::unique_ptr<platform::TPageSink> printerSink;
  std::unique_ptr<platform::TDialogs> dialogs;
};

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
