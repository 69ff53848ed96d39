// A layout that places its items in a row and wraps to a new row when the width runs out, like words of
// a text: option rows of the report pages stay reachable at any window width, without sideways scrolling.
// Its minimum width is that of its widest item; its height follows the width (heightForWidth).
#pragma once

#include <QLayout>
#include <QList>
#include <QRect>

namespace platform {

class TFlowLayout : public QLayout {
 public:
  explicit TFlowLayout(QWidget* parent = nullptr, int hSpacing = 6, int vSpacing = 4);
  ~TFlowLayout() override;

  void addItem(QLayoutItem* item) override;
  // A stretch in a row only ends nothing here: kept for the callers' symmetry with box layouts.
  void addStretch(int = 0) {}
  int count() const override { return int(items_.size()); }
  QLayoutItem* itemAt(int index) const override;
  QLayoutItem* takeAt(int index) override;
  Qt::Orientations expandingDirections() const override { return {}; }
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  QSize minimumSize() const override;
  QSize sizeHint() const override;
  void setGeometry(const QRect& rect) override;

 private:
  // Lays the items out in `rect`; moves them only when `apply`. Returns the height used.
  int Arrange(const QRect& rect, bool apply) const;

  QList<QLayoutItem*> items_;
  int hSpacing_;
  int vSpacing_;
};

}  // namespace platform
