// A thin layer over the sqlite3 C API for the ".at5" family-tree databases: a connection opened by path
// (never created, never a URI, defensive), prepared queries read row by row with typed getters by
// position and by name, transactions, keyed lookups over a table (FindKey) and keyed edits.
//
// The files it opens come from elsewhere and are untrusted:
//   - the connection runs with SQLITE_DBCONFIG_DEFENSIVE on and SQLITE_DBCONFIG_TRUSTED_SCHEMA off, cell
//     size checks on, and a bound on the size of one value;
//   - a value of an unexpected storage class reads as 0, 0.0, an empty text or NULL (see TSqliteValue),
//     never as undefined behaviour; the typed getters never throw for any content.
//   - a read-only connection never writes beside the file: a file in write-ahead mode, or with the
//     journal of another program's unfinished change beside it, is read from a private copy in the
//     temporary folder (removed at Close), where SQLite may replay or roll back what it needs to;
//   - a progress handler may interrupt any statement (the caller's abort flag, a deadline).
// Every failure of SQLite (missing file, not a database, missing table or column, damaged page, busy
// file) raises ESqliteError with SQLite's message, prefixed with the file path where that helps.
// Texts are UTF-8 std::string; blobs are bytes. Plain C++ (no Qt). Single thread: one connection and
// its statements are used by one thread at a time. A query or table must not outlive its connection.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace platform {

class ESqliteError : public std::runtime_error {
 public:
  ESqliteError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  // SQLite's extended result code, or 0 for a misuse found by this layer.
  int Code() const { return code_; }

 private:
  int code_;
};

// One value read from a row: its storage class and a copy of its content. Conversions never fail.
class TSqliteValue {
 public:
  enum class Kind { Null, Integer, Float, Text, Blob };

  TSqliteValue() = default;
  static TSqliteValue Integer(std::int64_t v);
  static TSqliteValue Float(double v);
  static TSqliteValue Text(std::string v);
  static TSqliteValue Blob(std::string bytes);

  Kind GetKind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::Null; }
  // INTEGER as is; REAL when it is a whole number within range; TEXT holding exactly a decimal integer
  // (blanks around it allowed); anything else 0.
  std::int64_t AsInteger() const;
  // INTEGER and REAL as numbers; TEXT holding exactly a decimal number; anything else 0.
  double AsFloat() const;
  // TEXT as is; INTEGER and REAL as their decimal text; NULL and BLOB empty.
  std::string AsString() const;
  // BLOB and TEXT as bytes; anything else empty.
  const std::string& AsBytes() const;
  // Boolean read: INTEGER/REAL non-zero, TEXT "1"/"true"/"t"/"yes" (any case) are true; all else false.
  bool AsBoolean() const;

 private:
  Kind kind_ = Kind::Null;
  std::int64_t i_ = 0;
  double f_ = 0;
  std::string s_;
};

class TSqliteConnection {
 public:
  enum class Access { ReadOnly, ReadWrite };

  TSqliteConnection() = default;
  ~TSqliteConnection();
  TSqliteConnection(const TSqliteConnection&) = delete;
  TSqliteConnection& operator=(const TSqliteConnection&) = delete;

  // Opens an existing database file. The path is a plain file name (made absolute, so it is never taken
  // as a URI); a missing file, a directory or a file that is not an SQLite database raise ESqliteError.
  // Closes a connection that was open before. ReadOnly: see the snapshot rule at the top of this file.
  void Open(const std::string& path, Access access);
  // Finalises every statement of the connection's queries and tables and closes the file (and removes
  // a private copy). Never throws.
  void Close() noexcept;
  bool Connected() const { return db_ != nullptr; }
  const std::string& Path() const { return path_; }
  sqlite3* Handle() const { return db_; }
  // True when the open file is a private copy (see the top of this file).
  bool ReadsCopy() const { return !copyDir_.empty(); }

  // Called every kProgressSteps virtual-machine steps of any statement; returning true interrupts the
  // statement, which then raises ESqliteError with SQLITE_INTERRUPT. An empty handler interrupts nothing.
  // The handler stays until it is replaced; it must not use this connection.
  static constexpr int kProgressSteps = 1000;
  void SetProgressHandler(std::function<bool()> handler) { handler_ = std::move(handler); }
  // How many times the progress point was reached since Open: a measure of the work SQLite did
  // (about kProgressSteps virtual-machine steps each), for tests that count work instead of timing it.
  std::uint64_t ProgressTicks() const { return ticks_; }
  // Adds the progress points of other connections that worked for this one (reading its file beside it).
  void CountWork(std::uint64_t ticks) { ticks_ += ticks; }

  // What a schema name is: a table, a view, a virtual table, another object (index, trigger) or none.
  enum class ObjectKind { None, Table, View, Virtual, Other };
  ObjectKind KindOf(const std::string& name);
  // The column names of a table, in order (empty when there is no such table).
  std::vector<std::string> ColumnsOf(const std::string& table);

  // Runs statements without results (";"-separated).
  void Exec(const std::string& sql);

  // Transactions. Commit and Rollback without a transaction raise ESqliteError.
  void StartTransaction();
  void Commit();
  void Rollback() noexcept;
  bool InTransaction() const;

  // True when the table exists (any case of the name).
  bool TableExists(const std::string& table);
  // True when a full (not partial) index of the table has exactly these leading columns, in this order
  // (any case): only such an index serves every lookup on them.
  bool HasIndexOn(const std::string& table, const std::vector<std::string>& columns);

  // Raises ESqliteError for rc with the connection's message. Used by the query and table classes.
  [[noreturn]] void Fail(int rc, const std::string& context) const;

 private:
  friend class TSqliteStatement;
  static int OnProgress(void* self);
  sqlite3* db_ = nullptr;
  std::string path_;
  std::string copyDir_;  // the folder of the private copy, when reading one
  std::function<bool()> handler_;
  std::uint64_t ticks_ = 0;
};

class TSqliteRowSet;

// Column names by lower-case name, looked up by std::string_view without allocating.
struct TNameHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>()(s); }
};
using TColumnNames = std::unordered_map<std::string, int, TNameHash, std::equal_to<>>;

// One prepared statement with its current row. Owned by a query or table; finalised by them.
class TSqliteStatement {
 public:
  TSqliteStatement(TSqliteConnection& conn, const std::string& sql);
  ~TSqliteStatement();
  TSqliteStatement(const TSqliteStatement&) = delete;
  TSqliteStatement& operator=(const TSqliteStatement&) = delete;

  void Reset();
  void Bind(int index, std::int64_t v);  // 1-based parameter index
  void Bind(int index, double v);
  void Bind(int index, std::string_view text);
  void BindBlob(int index, std::string_view bytes);
  void BindNull(int index);
  void Bind(int index, const TSqliteValue& v);
  // Steps once; true when a row is current.
  bool Step();

  int ColumnCount() const;
  std::string ColumnName(int i) const;
  // Position of a column by name (any case), -1 when the result has no such column.
  int ColumnIndex(std::string_view name) const;
  // REQUIRES: a row is current and 0 <= i < ColumnCount(); else a NULL value.
  TSqliteValue Column(int i) const;
  std::int64_t ColumnInteger(int i) const;
  bool ColumnIsNull(int i) const;
  // Appends columns first..first+count-1 of the current row to the row set.
  void AppendTo(TSqliteRowSet& rows, int first, int count) const;

 private:
  TSqliteConnection& conn_;
  sqlite3_stmt* stmt_ = nullptr;
  bool row_ = false;
  TColumnNames names_;  // lower-case column name -> first position
};

// Rows kept in memory in a compact form: one 16-byte cell per value, texts and blobs in one pool.
class TSqliteRowSet {
 public:
  void Reset(int columns);
  int Columns() const { return columns_; }
  std::size_t Rows() const { return columns_ ? cells_.size() / std::size_t(columns_) : 0; }
  // REQUIRES: row < Rows(), 0 <= col < Columns().
  TSqliteValue Value(std::size_t row, int col) const;
  TSqliteValue::Kind Kind(std::size_t row, int col) const { return At(row, col).kind; }
  // The value when it is an INTEGER or a whole REAL; false otherwise (the key rule of FindKey).
  bool WholeNumber(std::size_t row, int col, std::int64_t& out) const;
  // The bytes of a TEXT value, without a copy (valid until the set changes); false for other values.
  bool TextBytes(std::size_t row, int col, std::string_view& out) const {
    const Cell& c = At(row, col);
    if (c.kind != TSqliteValue::Kind::Text) return false;
    out = std::string_view(pool_.data() + c.n, c.len);
    return true;
  }
  void Set(std::size_t row, int col, const TSqliteValue& v);
  // Appends one value: the next cell of the last row, or the first of a new row when that one is full.
  void Append(const TSqliteValue& v);
  // Orders two values as SQLite's ORDER BY does with the BINARY collation: NULL first, then numbers
  // (INTEGER and REAL by value), then texts, then blobs (both by their bytes); <0, 0 or >0. Equal
  // values are equal for DISTINCT and UNION as well.
  static int Compare(const TSqliteRowSet& a, std::size_t ra, int ca, const TSqliteRowSet& b, std::size_t rb, int cb);

 private:
  friend class TSqliteStatement;
  struct Cell {
    std::int64_t n = 0;  // INTEGER value, REAL bits, or the pool offset of a text or blob
    std::uint32_t len = 0;
    TSqliteValue::Kind kind = TSqliteValue::Kind::Null;
  };
  const Cell& At(std::size_t row, int col) const { return cells_[row * std::size_t(columns_) + std::size_t(col)]; }
  void AppendBytes(Cell& c, const void* p, std::size_t n);
  int columns_ = 0;
  std::vector<Cell> cells_;
  std::string pool_;
};

// A query: SQL text, Open, then walk the rows with Eof/Next. FetchAll reads the remaining rows into
// memory at once (the statement runs once), after which RecordCount is exact and the walk reads from
// memory.
class TSqliteQuery {
 public:
  explicit TSqliteQuery(TSqliteConnection& conn) : conn_(conn) {}

  void SetSQL(const std::string& sql);
  const std::string& SQL() const { return sql_; }
  // Parameters bound before Open / ExecSQL (1-based), kept until the SQL text changes.
  void SetParam(int index, TSqliteValue v);
  void Open();
  void Close() noexcept;
  bool Active() const { return stmt_ != nullptr; }
  // Runs a statement that returns no rows (INSERT, UPDATE, DELETE); returns the number of changed rows.
  std::int64_t ExecSQL();

  // Fetches the current and all further rows into memory. REQUIRES: Active().
  void FetchAll();
  // All rows after FetchAll; before it, the number of rows read so far.
  std::int64_t RecordCount() const { return read_; }
  bool Eof() const { return !Active() || eof_; }
  void Next();

  int FieldCount() const;
  // By position (0-based) or name; a missing column raises ESqliteError, a missing row reads NULL.
  TSqliteValue Field(int i) const;
  TSqliteValue FieldByName(std::string_view name) const;
  // Position of a column by name (any case); raises ESqliteError when there is none.
  int FieldIndex(std::string_view name) const;

 private:
  void Bind(TSqliteStatement& st) const;
  TSqliteConnection& conn_;
  std::string sql_;
  std::vector<std::pair<int, TSqliteValue>> params_;
  std::unique_ptr<TSqliteStatement> stmt_;
  bool eof_ = true;
  bool fetched_ = false;
  TSqliteRowSet rows_;
  std::size_t at_ = 0;  // current row in rows_ after FetchAll
  std::int64_t read_ = 0;
};

// A table reached by key: IndexFieldNames lists the key columns (";"-separated, as "rec_table;f_id;
// rec_id"); FindKey with the leading key values makes the first matching row (in key, then row order)
// current. How a lookup runs:
//   - with Prefetch, or when the file has no index on the key columns, Open reads the key columns (and
//     the FieldNames columns, when Prefetch) of every row once into memory with a hash over the whole
//     key: a FindKey with every key value then costs no SQL, and other columns are read by row id when
//     asked for;
//   - otherwise, and for lookups with fewer key values than key columns, FindKey is one SQL statement
//     (indexed when the file has the index).
// A table without row ids (WITHOUT ROWID) is always kept in memory whole, as nothing can be read back by
// row id. The table is read in its own storage order (no index the file may hold is used for it), so
// what is kept does not depend on the file's indexes.
class TSqliteTable {
 public:
  explicit TSqliteTable(TSqliteConnection& conn) : conn_(conn) {}

  std::string TableName;
  std::string IndexFieldNames;
  bool Prefetch = false;
  std::string FieldNames;  // with Prefetch: the columns kept in memory besides the keys (";"-separated)

  void Open();
  // Open in two steps, so that the rows may be read through another connection to the same file (on
  // another thread): Prepare does everything Open does but read the kept rows; while NeedsFill, Fill
  // reads them through from, and until then the table finds no row. Fill touches nothing of the table's
  // own connection, and nothing else may use the table while it runs.
  void Prepare();
  bool NeedsFill() const { return active_ && !fillSql_.empty(); }
  void Fill(TSqliteConnection& from);
  void Close() noexcept;
  bool Active() const { return active_; }
  // True when full-key lookups run as SQL over the file's index, false when the in-memory hash serves
  // them. REQUIRES: Active().
  bool UsesFileIndex() const { return !keyed_; }
  // Counts the Open calls: column positions a caller found stay valid while it is unchanged.
  std::uint64_t Generation() const { return generation_; }

  // Integer key values for the first keys.size() key columns (1 to the number of key columns).
  bool FindKey(std::initializer_list<std::int64_t> keys);
  bool FindKey(const std::int64_t* keys, std::size_t n);
  // The current row (the last found); NULL values when there is none.
  bool HasRow() const { return hasRow_; }
  TSqliteValue FieldByName(std::string_view name) const;
  TSqliteValue Field(int i) const;
  // Position of a column by name (any case); raises ESqliteError when there is none.
  int FieldIndex(std::string_view name) const;
  int FieldCount() const { return static_cast<int>(columns_.size()); }

  // The rows kept in memory (see above), in storage order; 0 when the table is reached by SQL.
  std::size_t KeptRows() const { return keyed_ ? rows_.Rows() : 0; }
  // Whether table column i (see FieldIndex) is kept in memory.
  bool Kept(int i) const { return keyed_ && i >= 0 && i < FieldCount() && colMap_[std::size_t(i)] >= 0; }
  // Column i of kept row r. REQUIRES: r < KeptRows(), Kept(i).
  TSqliteValue KeptValue(std::size_t r, int i) const { return rows_.Value(r, colMap_[std::size_t(i)]); }
  // The value of column i of kept row r when it is an INTEGER or a whole REAL. REQUIRES: as KeptValue.
  bool KeptWhole(std::size_t r, int i, std::int64_t& out) const { return rows_.WholeNumber(r, colMap_[std::size_t(i)], out); }
  // The bytes of column i of kept row r when it is TEXT, without a copy. REQUIRES: as KeptValue.
  bool KeptText(std::size_t r, int i, std::string_view& out) const { return rows_.TextBytes(r, colMap_[std::size_t(i)], out); }
  // The kept row FindKey would make current for every key value, -1 when none; the current row stays.
  // Changes nothing, so threads may look up at once while no one edits or reopens the table. Raises
  // ESqliteError unless the rows are kept (KeptRows) and keys holds one value per key column.
  std::ptrdiff_t FindKeptRow(std::initializer_list<std::int64_t> keys) const;

  // Sets one column of the current row (keyed by the row id) and returns true when a row changed.
  // REQUIRES: HasRow() and a read-write connection; the table must have row ids.
  bool UpdateCurrent(std::string_view column, const TSqliteValue& v);

 private:
  std::uint64_t HashKey(const std::int64_t* keys) const;
  std::ptrdiff_t FindKept(const std::int64_t* keys) const;
  void BuildHash();
  TSqliteConnection& conn_;
  bool active_ = false;
  bool useIndex_ = false;
  bool hasRowid_ = false;
  bool keyed_ = false;
  std::uint64_t generation_ = 0;
  bool dirty_ = false;  // a key column was edited: the hash is rebuilt before the next keyed lookup
  std::vector<std::string> keys_;
  std::vector<std::string> columns_;
  TColumnNames names_;
  // SQL lookups: one statement per number of leading keys used.
  std::vector<std::unique_ptr<TSqliteStatement>> byKeys_;
  // In memory: column 0 the row id, 1..n the keys, then the prefetched columns; colMap_ gives each
  // table column's place there (-1: read by row id on demand through byRowid_).
  TSqliteRowSet rows_;
  std::vector<int> colMap_;
  std::string fillSql_;  // the statement that reads the kept rows, until Fill has run
  // Open addressing: the key hash's upper 32 bits and row index + 1 (0 = empty slot), so a probe that
  // meets another key rarely touches the row.
  std::vector<std::uint64_t> slots_;
  mutable std::unordered_map<int, std::unique_ptr<TSqliteStatement>> byRowid_;
  // The current row: a row of rows_ (cachedRow_ >= 0) or the copy of a row read by SQL.
  std::ptrdiff_t cachedRow_ = -1;
  std::vector<TSqliteValue> row_;
  std::int64_t rowid_ = 0;
  bool hasRow_ = false;
};

// Quotes an identifier for SQL text ("name" with inner quotes doubled).
std::string SqlIdent(std::string_view name);

}  // namespace platform
