#include "platform/qt/DataGrid.h"

#include <QApplication>
#include <QDrag>
#include <QHeaderView>
#include <QMimeData>
#include <QMouseEvent>

namespace platform {

TDBGrid::TDBGrid(QWidget* parent, const QString& name, TDataSetModel* model)
    : QTableView(parent), model_(model) {
  setObjectName(name);
  setModel(model_);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setTabKeyNavigation(true);
  setWordWrap(false);
  verticalHeader()->setDefaultSectionSize(18);
  verticalHeader()->setFixedWidth(12);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setSectionsClickable(true);
  horizontalHeader()->setHighlightSections(false);
  for (int k = 0; k < model_->columnCount(); ++k) setColumnWidth(k, model_->Columns()[k].width);
  connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &TDBGrid::TitleClick);
  TClientDataSet* ds = model_->DataSet();
  connect(ds, &TClientDataSet::CurrentChanged, this, &TDBGrid::FollowDataSet);
  connect(model_, &QAbstractItemModel::modelReset, this,
          [this, ds] { FollowDataSet(ds->RecNo() - 1); });
  connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [ds](const QModelIndex& cur) {
            if (cur.isValid() && cur.row() != ds->RecNo() - 1) ds->MoveTo(cur.row());
          });
}

void TDBGrid::FollowDataSet(int pos) {
  if (!selectionModel()) return;
  if (pos < 0 || pos >= model_->rowCount()) {
    selectionModel()->clearSelection();
    return;
  }
  const QModelIndex cur = selectionModel()->currentIndex();
  if (cur.isValid() && cur.row() == pos) return;
  const int col = cur.isValid() ? cur.column() : 0;
  selectionModel()->setCurrentIndex(model_->index(pos, col),
                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  scrollTo(model_->index(pos, col));
}

void TDBGrid::mousePressEvent(QMouseEvent* event) {
  QTableView::mousePressEvent(event);
  pressed_ = event->button() == Qt::LeftButton;
  pressPos_ = event->position().toPoint();
}

void TDBGrid::mouseMoveEvent(QMouseEvent* event) {
  if (pressed_ && (event->buttons() & Qt::LeftButton) && event->position().y() > dragTop &&
      (event->position().toPoint() - pressPos_).manhattanLength() >= QApplication::startDragDistance()) {
    pressed_ = false;
    auto* mime = new QMimeData;
    mime->setData(kDragMime, QByteArray::number(model_->DataSet()->RecNo() - 1));
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->exec(Qt::CopyAction);
    return;
  }
  QTableView::mouseMoveEvent(event);
}

}  // namespace platform
