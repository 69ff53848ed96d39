#include "app/charts/TreeNodes.h"

int TTreeNodes::Add(int parent, const QString& text) {
  TTreeNode n;
  n.Text = text;
  n.Parent = parent;
  const int index = int(nodes_.size());
  n.Link = index;
  if (parent >= 0) {
    n.Level = nodes_[size_t(parent)].Level + 1;
    nodes_[size_t(parent)].Children.push_back(index);
  }
  nodes_.push_back(std::move(n));
  return index;
}

std::vector<int> TTreeNodes::PreOrder() const {
  std::vector<int> order;
  order.reserve(nodes_.size());
  std::vector<int> stack;
  for (int i = int(nodes_.size()) - 1; i >= 0; --i)
    if (nodes_[size_t(i)].Parent < 0) stack.push_back(i);
  while (!stack.empty()) {
    const int n = stack.back();
    stack.pop_back();
    order.push_back(n);
    const auto& ch = nodes_[size_t(n)].Children;
    for (auto it = ch.rbegin(); it != ch.rend(); ++it) stack.push_back(*it);
  }
  return order;
}

std::vector<TTreeRow> TreeRows(const TTreeNodes& nodes) {
  std::vector<TTreeRow> rows;
  for (const int i : nodes.PreOrder()) rows.push_back({nodes[i].Level, nodes[i].Text, nodes[i].StateImage});
  return rows;
}
