// An in-memory table in the manner of a client dataset: fixed fields, rows appended and edited in place,
// one active order (index field names, or a named index with a descending option), a filter predicate,
// a current record with locate and record number, a disable/enable-controls counter and an after-scroll
// callback. `TDataSetModel` shows the visible rows through Qt's model/view.
// Ordering and filtering are recomputed lazily, so bulk appends cost one sort. Text fields sort with the
// Russian collation. Positions ("pos") are 0-based places among the visible rows; a row's identity is its
// insertion number ("row"), which no order or filter changes. Main thread only.
#pragma once

#include <QAbstractTableModel>
#include <QCollator>
#include <QCollatorSortKey>
#include <QObject>
#include <QString>
#include <QVariant>
#include <functional>
#include <optional>
#include <vector>

namespace platform {

enum class TFieldType { String, WideString, Integer };

struct TFieldDef {
  QString name;
  TFieldType type = TFieldType::String;
  int size = 0;  // characters kept for text fields (0 = no limit)
};

class TClientDataSet : public QObject {
  Q_OBJECT
 public:
  using Row = std::vector<QVariant>;
  using Predicate = std::function<bool(const TClientDataSet&, int row)>;

  explicit TClientDataSet(QObject* parent = nullptr);

  void SetFieldDefs(std::vector<TFieldDef> defs);
  const std::vector<TFieldDef>& FieldDefs() const { return defs_; }
  int FieldIndex(const QString& name) const;  // -1 when there is no such field (case-insensitive)

  bool Active() const { return active_; }
  bool Created() const { return created_; }
  void CreateDataSet();  // creates the empty table and opens it
  void Open();
  void Close();
  void EmptyDataSet();
  bool IsEmpty() const { return RecordCount() == 0; }

  // Appends a row (values in field order; missing values are empty) and makes it current.
  void AppendRecord(Row values);
  void Reserve(std::size_t rows) { rows_.reserve(rows); }

  int RecordCount() const;  // visible rows
  int RecNo() const;        // 1-based place of the current record among the visible rows, 0 when none
  int TotalRows() const { return static_cast<int>(rows_.size()); }

  void First();
  void Next();
  bool Eof() const { return eof_; }
  void MoveTo(int pos);
  int CurrentRow() const;  // the current record's row, -1 when none

  QVariant FieldValue(const QString& name) const;   // of the current record
  QVariant Value(int row, int field) const;         // by row
  QVariant ValueAt(int pos, int field) const;       // by visible position
  // The text of a field in upper case, kept until the row changes (for filters run on every keystroke).
  const QString& UpperValue(int row, int field) const;
  int RowAt(int pos) const;
  int PosOfRow(int row) const;  // -1 when the row is not visible
  // Edit and post a field of the current record.
  void SetFieldValue(const QString& name, const QVariant& value);
  void SetValue(int row, int field, const QVariant& value);

  // Exact match of one field among the visible rows; on success the found record becomes current.
  bool Locate(const QString& field, const QVariant& value);

  void SetIndexFieldNames(const QString& field);  // "" = insertion order
  QString IndexFieldNames() const { return indexField_; }
  void AddIndex(const QString& name, const QString& field, bool descending);
  bool HasIndex(const QString& name) const;
  void SetIndexName(const QString& name);
  QString IndexName() const { return indexName_; }

  void SetFilter(Predicate p);
  void SetFiltered(bool on);
  bool Filtered() const { return filtered_; }

  void DisableControls() { ++disabled_; }
  void EnableControls();
  bool ControlsDisabled() const { return disabled_ > 0; }

  std::function<void()> AfterScroll;

 signals:
  void LayoutChanged();          // rows, order or filter changed
  void CurrentChanged(int pos);  // the current record moved (not emitted while controls are disabled)
  void RowChanged(int pos);

 private:
  struct Index { QString name, field; bool descending = false; };
  QVariant Clip(int field, const QVariant& v) const;
  void Invalidate(bool order = true);
  int SortField() const;
  void Ensure() const;  // recomputes order and visible rows when needed
  void Scrolled();
  void ApplyOrder(std::vector<int>& order) const;

  std::vector<TFieldDef> defs_;
  std::vector<Row> rows_;
  bool active_ = false, created_ = false;
  QString indexField_, indexName_;
  std::vector<Index> indexes_;
  Predicate filter_;
  bool filtered_ = false;
  int disabled_ = 0;
  bool pendingLayout_ = false, pendingScroll_ = false;
  int curRow_ = -1;
  bool eof_ = true;
  // lazily computed
  mutable bool orderDirty_ = true, filterDirty_ = true;
  mutable std::vector<int> order_;   // all rows in order
  mutable std::vector<int> view_;    // visible rows in order
  mutable std::vector<int> posOf_;   // row -> pos, -1 hidden
  mutable std::vector<std::optional<QCollatorSortKey>> keys_;  // of the sorted text field
  mutable int keysField_ = -1;
  mutable std::vector<std::vector<QString>> upper_;  // per field, empty until first asked
  QCollator collator_;
};

// Shows chosen fields of a dataset as columns. Titles are plain texts the window sets (sort marks included).
class TDataSetModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  struct Column { QString field, title; int width = 100; bool boldTitle = false; };
  using CellStyle = std::function<QVariant(int row, int column, int role)>;

  TDataSetModel(TClientDataSet* data, std::vector<Column> columns, QObject* parent = nullptr);
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  TClientDataSet* DataSet() const { return data_; }
  const std::vector<Column>& Columns() const { return columns_; }
  QString ColumnTitle(int k) const;
  void SetColumnTitle(int k, const QString& title);
  void SetColumnBold(int k, bool bold);
  void SetCellStyle(CellStyle style) { style_ = std::move(style); }

 private:
  TClientDataSet* data_;
  std::vector<Column> columns_;
  std::vector<int> fields_;
  CellStyle style_;
};

}  // namespace platform
