#include "platform/qt/ClientDataSet.h"

#include <QFont>
#include <QLocale>
#include <algorithm>
#include <numeric>

namespace platform {

TClientDataSet::TClientDataSet(QObject* parent)
    : QObject(parent), collator_(QLocale(QLocale::Russian, QLocale::Russia)) {
  collator_.setCaseSensitivity(Qt::CaseInsensitive);
}

void TClientDataSet::SetFieldDefs(std::vector<TFieldDef> defs) {
  defs_ = std::move(defs);
  rows_.clear();
  Invalidate();
}

int TClientDataSet::FieldIndex(const QString& name) const {
  for (std::size_t i = 0; i < defs_.size(); ++i)
    if (defs_[i].name.compare(name, Qt::CaseInsensitive) == 0) return static_cast<int>(i);
  return -1;
}

void TClientDataSet::CreateDataSet() {
  created_ = true;
  rows_.clear();
  Open();
}

void TClientDataSet::Open() {
  if (!created_) return;
  active_ = true;
  curRow_ = -1;
  Invalidate();
  First();
}

void TClientDataSet::Close() {
  active_ = false;
  rows_.clear();
  curRow_ = -1;
  eof_ = true;
  Invalidate();
}

void TClientDataSet::EmptyDataSet() {
  rows_.clear();
  curRow_ = -1;
  eof_ = true;
  Invalidate();
  Scrolled();
}

QVariant TClientDataSet::Clip(int field, const QVariant& v) const {
  const TFieldDef& d = defs_[static_cast<std::size_t>(field)];
  if (d.type == TFieldType::Integer) return v.isNull() ? QVariant() : QVariant(v.toLongLong());
  QString s = v.toString();
  if (d.size > 0 && s.size() > d.size) s.truncate(d.size);
  return s;
}

void TClientDataSet::AppendRecord(Row values) {
  if (!active_) return;
  values.resize(defs_.size());
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = Clip(static_cast<int>(i), values[i]);
  rows_.push_back(std::move(values));
  curRow_ = static_cast<int>(rows_.size()) - 1;
  eof_ = false;
  Invalidate();
  Scrolled();
}

void TClientDataSet::Invalidate(bool order) {
  if (order) orderDirty_ = true;
  filterDirty_ = true;
  if (keys_.size() > rows_.size()) keys_.clear();  // rows were removed: the cached values no longer fit
  for (auto& column : upper_)
    if (column.size() > rows_.size()) column.clear();
  if (disabled_ > 0) {
    pendingLayout_ = true;
    return;
  }
  emit LayoutChanged();
}

int TClientDataSet::SortField() const {
  QString field = indexField_;
  if (!indexName_.isEmpty())
    for (const Index& ix : indexes_)
      if (ix.name.compare(indexName_, Qt::CaseInsensitive) == 0) field = ix.field;
  return FieldIndex(field);
}

void TClientDataSet::ApplyOrder(std::vector<int>& order) const {
  bool desc = false;
  if (!indexName_.isEmpty())
    for (const Index& ix : indexes_)
      if (ix.name.compare(indexName_, Qt::CaseInsensitive) == 0) desc = ix.descending;
  const int f = SortField();
  if (f < 0) return;
  if (defs_[static_cast<std::size_t>(f)].type == TFieldType::Integer) {
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
      const qlonglong x = rows_[a][f].toLongLong(), y = rows_[b][f].toLongLong();
      return desc ? y < x : x < y;
    });
    return;
  }
  if (keysField_ != f) {
    keys_.clear();
    keysField_ = f;
  }
  keys_.resize(rows_.size());
  for (std::size_t r = 0; r < rows_.size(); ++r)
    if (!keys_[r]) keys_[r] = collator_.sortKey(rows_[r][f].toString());
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    const int c = keys_[a]->compare(*keys_[b]);
    return desc ? c > 0 : c < 0;
  });
}

void TClientDataSet::Ensure() const {
  if (orderDirty_) {
    order_.resize(rows_.size());
    std::iota(order_.begin(), order_.end(), 0);
    ApplyOrder(order_);
    orderDirty_ = false;
    filterDirty_ = true;
  }
  if (!filterDirty_) return;
  view_.clear();
  view_.reserve(order_.size());
  posOf_.assign(rows_.size(), -1);
  for (int r : order_)
    if (!filtered_ || !filter_ || filter_(*this, r)) {
      posOf_[r] = static_cast<int>(view_.size());
      view_.push_back(r);
    }
  filterDirty_ = false;
}

const QString& TClientDataSet::UpperValue(int row, int field) const {
  static const QString empty;
  if (row < 0 || row >= static_cast<int>(rows_.size()) || field < 0 || field >= static_cast<int>(defs_.size()))
    return empty;
  if (upper_.size() != defs_.size()) upper_.resize(defs_.size());
  std::vector<QString>& column = upper_[static_cast<std::size_t>(field)];
  if (column.size() != rows_.size()) {
    column.clear();
    column.reserve(rows_.size());
    for (const Row& r : rows_) column.push_back(r[static_cast<std::size_t>(field)].toString().toUpper());
  }
  return column[static_cast<std::size_t>(row)];
}

int TClientDataSet::RecordCount() const {
  if (!active_) return 0;
  Ensure();
  return static_cast<int>(view_.size());
}

int TClientDataSet::PosOfRow(int row) const {
  Ensure();
  if (row < 0 || row >= static_cast<int>(posOf_.size())) return -1;
  return posOf_[row];
}

int TClientDataSet::RowAt(int pos) const {
  Ensure();
  if (pos < 0 || pos >= static_cast<int>(view_.size())) return -1;
  return view_[pos];
}

int TClientDataSet::CurrentRow() const {
  if (!active_ || curRow_ < 0) return -1;
  if (PosOfRow(curRow_) < 0) return -1;
  return curRow_;
}

int TClientDataSet::RecNo() const {
  const int r = CurrentRow();
  return r < 0 ? 0 : PosOfRow(r) + 1;
}

void TClientDataSet::Scrolled() {
  if (disabled_ > 0) {
    pendingScroll_ = true;
  } else {
    emit CurrentChanged(RecNo() - 1);
  }
  if (AfterScroll) AfterScroll();
}

void TClientDataSet::First() {
  Ensure();
  curRow_ = view_.empty() ? -1 : view_.front();
  eof_ = view_.empty();
  Scrolled();
}

void TClientDataSet::Next() {
  const int pos = RecNo() - 1;
  if (pos < 0 || pos + 1 >= RecordCount()) {
    eof_ = true;
    return;
  }
  curRow_ = view_[static_cast<std::size_t>(pos + 1)];
  Scrolled();
}

void TClientDataSet::MoveTo(int pos) {
  const int r = RowAt(pos);
  if (r < 0 || r == CurrentRow()) return;
  curRow_ = r;
  eof_ = false;
  Scrolled();
}

QVariant TClientDataSet::FieldValue(const QString& name) const {
  const int r = CurrentRow();
  const int f = FieldIndex(name);
  if (r < 0 || f < 0) return QVariant();
  return rows_[r][f];
}

QVariant TClientDataSet::Value(int row, int field) const {
  if (row < 0 || row >= static_cast<int>(rows_.size()) || field < 0 ||
      field >= static_cast<int>(defs_.size()))
    return QVariant();
  return rows_[row][field];
}

QVariant TClientDataSet::ValueAt(int pos, int field) const { return Value(RowAt(pos), field); }

void TClientDataSet::SetValue(int row, int field, const QVariant& value) {
  if (row < 0 || row >= static_cast<int>(rows_.size()) || field < 0 ||
      field >= static_cast<int>(defs_.size()))
    return;
  rows_[row][field] = Clip(field, value);
  if (field == keysField_ && row < static_cast<int>(keys_.size())) keys_[row].reset();
  if (static_cast<std::size_t>(field) < upper_.size() && row < static_cast<int>(upper_[field].size()))
    upper_[field][row] = rows_[row][field].toString().toUpper();
  const bool reorder = field == SortField();
  if (reorder || filtered_) {
    Invalidate(reorder);
  } else if (disabled_ == 0) {
    emit RowChanged(PosOfRow(row));
  } else {
    pendingLayout_ = true;  // shown in one go when the controls are enabled again
  }
}

void TClientDataSet::SetFieldValue(const QString& name, const QVariant& value) {
  SetValue(CurrentRow(), FieldIndex(name), value);
}

bool TClientDataSet::Locate(const QString& field, const QVariant& value) {
  const int f = FieldIndex(field);
  if (f < 0 || !active_) return false;
  Ensure();
  const bool integer = defs_[static_cast<std::size_t>(f)].type == TFieldType::Integer;
  const qlonglong iv = value.toLongLong();
  const QString sv = value.toString();
  for (int r : view_) {
    const QVariant& v = rows_[r][f];
    if (integer ? (!v.isNull() && v.toLongLong() == iv) : v.toString() == sv) {
      curRow_ = r;
      eof_ = false;
      Scrolled();
      return true;
    }
  }
  return false;
}

void TClientDataSet::SetIndexFieldNames(const QString& field) {
  indexField_ = field;
  indexName_.clear();
  Invalidate();
}

void TClientDataSet::AddIndex(const QString& name, const QString& field, bool descending) {
  if (!HasIndex(name)) indexes_.push_back(Index{name, field, descending});
}

bool TClientDataSet::HasIndex(const QString& name) const {
  for (const Index& ix : indexes_)
    if (ix.name.compare(name, Qt::CaseInsensitive) == 0) return true;
  return false;
}

void TClientDataSet::SetIndexName(const QString& name) {
  indexName_ = name;
  indexField_.clear();
  Invalidate();
}

void TClientDataSet::SetFilter(Predicate p) {
  filter_ = std::move(p);
  if (filtered_) {
    Invalidate(false);
    First();
  }
}

void TClientDataSet::SetFiltered(bool on) {
  if (on == filtered_) return;
  filtered_ = on;
  Invalidate(false);
  if (active_) First();
}

void TClientDataSet::EnableControls() {
  if (disabled_ > 0) --disabled_;
  if (disabled_ > 0) return;
  if (pendingLayout_) {
    pendingLayout_ = false;
    emit LayoutChanged();
  }
  // The grid follows the current record once the walk is over.
  pendingScroll_ = false;
  emit CurrentChanged(RecNo() - 1);
}

TDataSetModel::TDataSetModel(TClientDataSet* data, std::vector<Column> columns, QObject* parent)
    : QAbstractTableModel(parent), data_(data), columns_(std::move(columns)) {
  for (const Column& c : columns_) fields_.push_back(data_->FieldIndex(c.field));
  connect(data_, &TClientDataSet::LayoutChanged, this, [this] {
    beginResetModel();
    endResetModel();
  });
  connect(data_, &TClientDataSet::RowChanged, this, [this](int pos) {
    if (pos >= 0) emit dataChanged(index(pos, 0), index(pos, columnCount() - 1));
  });
}

int TDataSetModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : data_->RecordCount();
}

int TDataSetModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant TDataSetModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return QVariant();
  const int row = data_->RowAt(index.row());
  if (row < 0) return QVariant();
  if (role == Qt::DisplayRole) {
    QString s = data_->Value(row, fields_[static_cast<std::size_t>(index.column())]).toString();
    return s.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
  }
  if (style_) return style_(row, index.column(), role);
  return QVariant();
}

QVariant TDataSetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Vertical && role == Qt::DisplayRole) return QString();  // an indicator column only
  if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(columns_.size()))
    return QAbstractTableModel::headerData(section, orientation, role);
  const Column& c = columns_[static_cast<std::size_t>(section)];
  if (role == Qt::DisplayRole) return c.title;
  if (role == Qt::FontRole) {
    QFont f;
    f.setBold(c.boldTitle);
    return f;
  }
  return QVariant();
}

QString TDataSetModel::ColumnTitle(int k) const {
  return k >= 0 && k < static_cast<int>(columns_.size()) ? columns_[k].title : QString();
}

void TDataSetModel::SetColumnTitle(int k, const QString& title) {
  if (k < 0 || k >= static_cast<int>(columns_.size())) return;
  columns_[k].title = title;
  emit headerDataChanged(Qt::Horizontal, k, k);
}

void TDataSetModel::SetColumnBold(int k, bool bold) {
  if (k < 0 || k >= static_cast<int>(columns_.size())) return;
  columns_[k].boldTitle = bold;
  emit headerDataChanged(Qt::Horizontal, k, k);
}

}  // namespace platform
