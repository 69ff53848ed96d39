// A tree of text nodes as the schemes build it, before any widget sees it: each node knows its
// parent, its children in order, its level, its state image (1 man, 2 woman, 4/5 repeated man/woman,
// -1 none) and its link: its own index, or for a person shown before, the index of that person's
// first node. The window copies it into a tree widget; the picture and text exports read its rows.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

struct TTreeNode {
  QString Text;
  int Parent = -1;
  int Level = 0;
  int StateImage = -1;
  int Link = -1;
  bool Expanded = false;
  std::vector<int> Children;
};

class TTreeNodes {
 public:
  void Clear() { nodes_.clear(); }
  // Adds a node under `parent` (-1: a top-level node); its link is its own index.
  int Add(int parent, const QString& text);
  TTreeNode& operator[](int i) { return nodes_[size_t(i)]; }
  const TTreeNode& operator[](int i) const { return nodes_[size_t(i)]; }
  int Count() const { return int(nodes_.size()); }
  bool Empty() const { return nodes_.empty(); }
  // Node indexes in the order a tree view lists them: each node, then its children's subtrees.
  std::vector<int> PreOrder() const;

 private:
  std::vector<TTreeNode> nodes_;
};

// One line of a tree as shown: what the picture and the text exports need.
struct TTreeRow {
  int Level = 0;
  QString Text;
  int StateImage = -1;
};

std::vector<TTreeRow> TreeRows(const TTreeNodes& nodes);
