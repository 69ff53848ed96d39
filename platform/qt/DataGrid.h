// A read-only grid over a `TClientDataSet` through `TDataSetModel`: the selected row follows the dataset's
// current record and a click moves the record; title clicks and row drags are reported as signals. A drag
// carries the mime type "application/x-trevolan-row" with the dragged row's position; a drop target
// accepts it when the drag source is this grid. Main thread only.
#pragma once

#include <QPoint>
#include <QTableView>

#include "platform/qt/ClientDataSet.h"

namespace platform {

class TDBGrid : public QTableView {
  Q_OBJECT
 public:
  TDBGrid(QWidget* parent, const QString& name, TDataSetModel* model);
  TDataSetModel* GridModel() const { return model_; }
  static constexpr const char* kDragMime = "application/x-trevolan-row";
  // Pixels below the grid's top that a drag must start beyond.
  int dragTop = 20;
 signals:
  void TitleClick(int column);
 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
 private:
  void FollowDataSet(int pos);
  TDataSetModel* model_;
  QPoint pressPos_;
  bool pressed_ = false;
};

}  // namespace platform
