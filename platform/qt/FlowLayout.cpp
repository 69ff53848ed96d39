#include "platform/qt/FlowLayout.h"

#include <QWidget>

#include <algorithm>

namespace platform {

TFlowLayout::TFlowLayout(QWidget* parent, int hSpacing, int vSpacing)
    : QLayout(parent), hSpacing_(hSpacing), vSpacing_(vSpacing) {
  setContentsMargins(0, 0, 0, 0);
}

TFlowLayout::~TFlowLayout() {
  while (QLayoutItem* item = takeAt(0)) delete item;
}

void TFlowLayout::addItem(QLayoutItem* item) { items_.append(item); }

QLayoutItem* TFlowLayout::itemAt(int index) const {
  return index >= 0 && index < items_.size() ? items_[index] : nullptr;
}

QLayoutItem* TFlowLayout::takeAt(int index) {
  return index >= 0 && index < items_.size() ? items_.takeAt(index) : nullptr;
}

int TFlowLayout::heightForWidth(int width) const { return Arrange(QRect(0, 0, width, 0), false); }

QSize TFlowLayout::minimumSize() const {
  QSize size;
  for (const QLayoutItem* item : items_)
    if (!item->isEmpty()) size = size.expandedTo(item->minimumSize());
  const QMargins m = contentsMargins();
  return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

QSize TFlowLayout::sizeHint() const {
  // One row when there is room for it.
  int width = 0, height = 0;
  for (const QLayoutItem* item : items_) {
    if (item->isEmpty()) continue;
    const QSize s = item->sizeHint();
    width += (width > 0 ? hSpacing_ : 0) + s.width();
    height = std::max(height, s.height());
  }
  const QMargins m = contentsMargins();
  return QSize(width + m.left() + m.right(), height + m.top() + m.bottom());
}

void TFlowLayout::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  Arrange(rect, true);
}

int TFlowLayout::Arrange(const QRect& rect, bool apply) const {
  const QMargins m = contentsMargins();
  const QRect area = rect.adjusted(m.left(), m.top(), -m.right(), -m.bottom());
  int x = area.x();
  int y = area.y();
  int rowHeight = 0;
  // Items of one row share its height and are centred in it, as in a box layout.
  QList<QPair<QLayoutItem*, QRect>> row;
  const auto flush = [&] {
    if (apply)
      for (auto& [item, r] : row) {
        r.moveTop(r.top() + (rowHeight - r.height()) / 2);
        item->setGeometry(r);
      }
    row.clear();
  };
  for (QLayoutItem* item : items_) {
    if (item->isEmpty()) continue;
    const QSize s = item->sizeHint().boundedTo(item->maximumSize()).expandedTo(item->minimumSize());
    if (x > area.x() && x + s.width() > area.right() + 1) {
      flush();
      x = area.x();
      y += rowHeight + vSpacing_;
      rowHeight = 0;
    }
    row.append({item, QRect(QPoint(x, y), s)});
    x += s.width() + hSpacing_;
    rowHeight = std::max(rowHeight, s.height());
  }
  flush();
  return y + rowHeight - rect.y() + m.bottom();
}

}  // namespace platform
