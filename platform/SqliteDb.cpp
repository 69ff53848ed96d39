// The SQLite layer; see SqliteDb.h.
#include "platform/SqliteDb.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace platform {

namespace {

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

// Finds a column by name in any case; names of up to 63 bytes are lowered on the stack.
int FindName(const TColumnNames& names, std::string_view name) {
  char buf[64];
  std::string longName;
  std::string_view key;
  if (name.size() < sizeof buf) {
    for (std::size_t i = 0; i < name.size(); ++i)
      buf[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
    key = std::string_view(buf, name.size());
  } else {
    longName = Lower(name);
    key = longName;
  }
  const auto it = names.find(key);
  return it == names.end() ? -1 : it->second;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::vector<std::string> SplitKeys(const std::string& names) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : names) {
    if (c == ';') {
      if (!TrimBlanks(cur).empty()) out.emplace_back(TrimBlanks(cur));
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!TrimBlanks(cur).empty()) out.emplace_back(TrimBlanks(cur));
  return out;
}

// The largest value (bytes) one column may hold in a file we read: a genealogy value is far smaller, and
// the bound keeps a damaged or hostile length from costing unbounded memory.
constexpr int kMaxValueBytes = 64 * 1024 * 1024;

// The 100-byte header of a database file; false when it cannot be read whole.
bool ReadHeader(const std::string& path, unsigned char (&h)[100]) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  std::size_t got = 0;
  while (got < sizeof h) {
    const ssize_t r = ::read(fd, h + got, sizeof h - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += std::size_t(r);
  }
  ::close(fd);
  return got == sizeof h;
}

// A file beside the database that SQLite would use: "-journal" (rollback) or "-wal" (write-ahead log).
// Present when it exists and holds bytes; a directory or device of that name is refused, as SQLite could
// not use it either.
bool SideFile(const std::string& name) {
  std::error_code ec;
  const auto st = std::filesystem::status(name, ec);
  if (ec || !std::filesystem::exists(st)) return false;
  if (!std::filesystem::is_regular_file(st))
    throw ESqliteError(SQLITE_CANTOPEN, name + ": not a file");
  return std::filesystem::file_size(name, ec) > 0 && !ec;
}

// Makes a private folder in the temporary folder.
std::string MakePrivateDir() {
  std::error_code ec;
  std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::string pattern = (base / "trevolan-sqlite-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw ESqliteError(SQLITE_CANTOPEN, "cannot make a temporary folder");
  return pattern;
}

}  // namespace

std::string SqlIdent(std::string_view name) {
  std::string r = "\"";
  for (char c : name) {
    if (c == '"') r += '"';
    r += c;
  }
  r += '"';
  return r;
}

// ---------------------------------------------------------------- values

TSqliteValue TSqliteValue::Integer(std::int64_t v) {
  TSqliteValue r;
  r.kind_ = Kind::Integer;
  r.i_ = v;
  return r;
}
TSqliteValue TSqliteValue::Float(double v) {
  TSqliteValue r;
  r.kind_ = Kind::Float;
  r.f_ = v;
  return r;
}
TSqliteValue TSqliteValue::Text(std::string v) {
  TSqliteValue r;
  r.kind_ = Kind::Text;
  r.s_ = std::move(v);
  return r;
}
TSqliteValue TSqliteValue::Blob(std::string bytes) {
  TSqliteValue r;
  r.kind_ = Kind::Blob;
  r.s_ = std::move(bytes);
  return r;
}

std::int64_t TSqliteValue::AsInteger() const {
  switch (kind_) {
    case Kind::Integer:
      return i_;
    case Kind::Float:
      // Only whole numbers strictly inside the 64-bit range convert; the cast is undefined otherwise.
      if (std::isfinite(f_) && f_ == std::trunc(f_) && f_ > -9.2e18 && f_ < 9.2e18)
        return static_cast<std::int64_t>(f_);
      return 0;
    case Kind::Text: {
      const std::string_view t = TrimBlanks(s_);
      std::int64_t v = 0;
      const char* b = t.data();
      const char* e = b + t.size();
      if (b != e && *b == '+') ++b;
      const auto res = std::from_chars(b, e, v);
      return (b != e && res.ec == std::errc() && res.ptr == e) ? v : 0;
    }
    default:
      return 0;
  }
}

double TSqliteValue::AsFloat() const {
  switch (kind_) {
    case Kind::Integer:
      return static_cast<double>(i_);
    case Kind::Float:
      return f_;
    case Kind::Text: {
      const std::string t(TrimBlanks(s_));
      if (t.empty()) return 0;
      char* end = nullptr;
      errno = 0;
      const double v = std::strtod(t.c_str(), &end);
      if (errno != 0 || end != t.c_str() + t.size() || !std::isfinite(v)) return 0;
      // strtod also reads hexadecimal, "inf" and "nan"; a stored number is plain decimal.
      for (char c : t)
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
          return 0;
      return v;
    }
    default:
      return 0;
  }
}

std::string TSqliteValue::AsString() const {
  switch (kind_) {
    case Kind::Integer:
      return std::to_string(i_);
    case Kind::Float: {
      char buf[64];
      const auto res = std::to_chars(buf, buf + sizeof buf, f_);
      return res.ec == std::errc() ? std::string(buf, res.ptr) : std::string();
    }
    case Kind::Text:
      return s_;
    default:
      return std::string();
  }
}

const std::string& TSqliteValue::AsBytes() const {
  static const std::string empty;
  return (kind_ == Kind::Text || kind_ == Kind::Blob) ? s_ : empty;
}

bool TSqliteValue::AsBoolean() const {
  switch (kind_) {
    case Kind::Integer:
      return i_ != 0;
    case Kind::Float:
      return f_ != 0 && !std::isnan(f_);
    case Kind::Text: {
      const std::string t = Lower(TrimBlanks(s_));
      return t == "1" || t == "true" || t == "t" || t == "yes";
    }
    default:
      return false;
  }
}

// ---------------------------------------------------------------- connection

TSqliteConnection::~TSqliteConnection() { Close(); }

void TSqliteConnection::Fail(int rc, const std::string& context) const {
  std::string msg = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  if (!context.empty()) msg = context + ": " + msg;
  throw ESqliteError(rc, msg);
}

void TSqliteConnection::Open(const std::string& path, Access access) {
  Close();
  if (path.empty()) throw ESqliteError(SQLITE_CANTOPEN, "no database file name given");
  std::error_code ec;
  // An absolute name never starts with "file:", so SQLite cannot take it as a URI whatever its
  // process-wide settings are.
  std::filesystem::path abs = std::filesystem::absolute(std::filesystem::path(path), ec);
  if (ec) abs = std::filesystem::path(path);
  std::string name = abs.string();
  const auto st = std::filesystem::status(abs, ec);
  if (ec || !std::filesystem::exists(st))
    throw ESqliteError(SQLITE_CANTOPEN, path + ": the file does not exist");
  if (!std::filesystem::is_regular_file(st)) throw ESqliteError(SQLITE_CANTOPEN, path + ": not a file");

  int flags = (access == Access::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX |
              SQLITE_OPEN_PRIVATECACHE | SQLITE_OPEN_EXRESCODE;
  if (access == Access::ReadOnly) {
    // A read must neither write the user's file nor leave files beside it. A write-ahead file makes
    // SQLite create "-wal" and "-shm" files (and fail in a read-only folder); a journal left by another
    // program's unfinished change must be rolled back, which is a write. Both are read from a private
    // copy of the file and its side file, where SQLite may do what it needs.
    unsigned char header[100];
    const bool wal = ReadHeader(name, header) && (header[18] == 2 || header[19] == 2);
    const std::string side = name + (wal ? "-wal" : "-journal");
    if (wal || SideFile(side)) {
      copyDir_ = MakePrivateDir();
      const std::string copy = copyDir_ + "/tree.db";
      try {
        std::filesystem::copy_file(name, copy);
        if (SideFile(side)) std::filesystem::copy_file(side, copy + (wal ? "-wal" : "-journal"));
      } catch (const std::filesystem::filesystem_error& e) {
        Close();
        throw ESqliteError(SQLITE_IOERR, path + ": " + e.what());
      }
      name = copy;
      flags = (flags & ~SQLITE_OPEN_READONLY) | SQLITE_OPEN_READWRITE;
    }
  }
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(name.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    Close();
    throw ESqliteError(rc, path + ": " + msg);
  }
  db_ = db;
  path_ = path;
  ticks_ = 0;
  try {
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
    sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, kMaxValueBytes);
    sqlite3_busy_timeout(db_, 2000);
    sqlite3_progress_handler(db_, kProgressSteps, &TSqliteConnection::OnProgress, this);
    Exec("PRAGMA cell_size_check=ON; PRAGMA foreign_keys=OFF; PRAGMA locking_mode=NORMAL");
    // Reading the schema makes SQLite look at the header: a file that is not a database fails here,
    // not at the first query. (A copy also replays its log or rolls its journal back here.)
    Exec("SELECT count(*) FROM sqlite_schema");
    // The copy is ours, but it stands for a file that is only read.
    if (ReadsCopy()) Exec("PRAGMA query_only=ON");
  } catch (const ESqliteError& e) {
    const ESqliteError err(e.Code(), path + ": " + e.what());
    Close();
    throw err;
  }
}

int TSqliteConnection::OnProgress(void* self) {
  auto* c = static_cast<TSqliteConnection*>(self);
  ++c->ticks_;
  return c->handler_ && c->handler_() ? 1 : 0;
}

void TSqliteConnection::Close() noexcept {
  if (db_) {
    // Statements still prepared belong to queries and tables that outlive this call; sqlite3_close_v2
    // defers the close until they are finalised.
    sqlite3_close_v2(db_);
    db_ = nullptr;
    path_.clear();
  }
  if (!copyDir_.empty()) {
    // Open files of a deferred close stay readable after their names are gone.
    std::error_code ec;
    std::filesystem::remove_all(copyDir_, ec);
    copyDir_.clear();
  }
}

void TSqliteConnection::Exec(const std::string& sql) {
  if (!db_) throw ESqliteError(0, "the database is not open");
  char* err = nullptr;
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err);
  if (rc != SQLITE_OK) {
    std::string msg = err ? err : sqlite3_errstr(rc);
    sqlite3_free(err);
    throw ESqliteError(rc, msg);
  }
}

void TSqliteConnection::StartTransaction() { Exec("BEGIN"); }
void TSqliteConnection::Commit() { Exec("COMMIT"); }
void TSqliteConnection::Rollback() noexcept {
  if (db_ && !sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}
bool TSqliteConnection::InTransaction() const { return db_ && !sqlite3_get_autocommit(db_); }

bool TSqliteConnection::TableExists(const std::string& table) {
  TSqliteStatement st(*this, "SELECT 1 FROM sqlite_schema WHERE type='table' AND name=?1 COLLATE NOCASE");
  st.Bind(1, std::string_view(table));
  return st.Step();
}

bool TSqliteConnection::HasIndexOn(const std::string& table, const std::vector<std::string>& columns) {
  if (columns.empty()) return false;
  std::vector<std::string> indexes;
  {
    // A partial index serves only the rows of its condition.
    TSqliteStatement st(*this, "SELECT name FROM pragma_index_list(?1) WHERE \"partial\" = 0");
    st.Bind(1, std::string_view(table));
    while (st.Step()) indexes.push_back(st.Column(0).AsString());
  }
  for (const std::string& ix : indexes) {
    TSqliteStatement st(*this, "SELECT name FROM pragma_index_info(?1) ORDER BY seqno");
    st.Bind(1, std::string_view(ix));
    std::size_t k = 0;
    bool ok = true;
    while (k < columns.size() && st.Step()) {
      if (Lower(st.Column(0).AsString()) != Lower(columns[k])) {
        ok = false;
        break;
      }
      ++k;
    }
    if (ok && k == columns.size()) return true;
  }
  return false;
}

TSqliteConnection::ObjectKind TSqliteConnection::KindOf(const std::string& name) {
  TSqliteStatement st(*this, "SELECT type, sql FROM sqlite_schema WHERE name = ?1 COLLATE NOCASE");
  st.Bind(1, std::string_view(name));
  if (!st.Step()) return ObjectKind::None;
  const std::string type = Lower(st.Column(0).AsString());
  if (type == "view") return ObjectKind::View;
  if (type != "table") return ObjectKind::Other;
  // A virtual table is listed as a table; its SQL text says what it is.
  const std::string sql = Lower(st.Column(1).AsString());
  std::size_t i = 0;
  const auto word = [&](const char* w) {
    while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
    const std::size_t n = std::strlen(w);
    if (sql.compare(i, n, w) != 0) return false;
    i += n;
    return true;
  };
  return word("create") && word("virtual") ? ObjectKind::Virtual : ObjectKind::Table;
}

std::vector<std::string> TSqliteConnection::ColumnsOf(const std::string& table) {
  std::vector<std::string> out;
  TSqliteStatement st(*this, "SELECT name FROM pragma_table_info(?1)");
  st.Bind(1, std::string_view(table));
  while (st.Step()) out.push_back(st.Column(0).AsString());
  return out;
}

// ---------------------------------------------------------------- statement

TSqliteStatement::TSqliteStatement(TSqliteConnection& conn, const std::string& sql) : conn_(conn) {
  if (!conn.db_) throw ESqliteError(0, "the database is not open");
  const int rc = sqlite3_prepare_v2(conn.db_, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr);
  if (rc != SQLITE_OK) conn.Fail(rc, conn.path_);
  if (!stmt_) throw ESqliteError(SQLITE_MISUSE, "empty SQL text");
  const int n = sqlite3_column_count(stmt_);
  for (int i = 0; i < n; ++i) names_.emplace(Lower(ColumnName(i)), i);
}

TSqliteStatement::~TSqliteStatement() { sqlite3_finalize(stmt_); }

void TSqliteStatement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  row_ = false;
}

void TSqliteStatement::Bind(int index, std::int64_t v) {
  const int rc = sqlite3_bind_int64(stmt_, index, v);
  if (rc != SQLITE_OK) conn_.Fail(rc, "bind");
}
void TSqliteStatement::Bind(int index, double v) {
  const int rc = sqlite3_bind_double(stmt_, index, v);
  if (rc != SQLITE_OK) conn_.Fail(rc, "bind");
}
void TSqliteStatement::Bind(int index, std::string_view text) {
  const int rc = sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  if (rc != SQLITE_OK) conn_.Fail(rc, "bind");
}
void TSqliteStatement::BindBlob(int index, std::string_view bytes) {
  const int rc = sqlite3_bind_blob64(stmt_, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) conn_.Fail(rc, "bind");
}
void TSqliteStatement::BindNull(int index) {
  const int rc = sqlite3_bind_null(stmt_, index);
  if (rc != SQLITE_OK) conn_.Fail(rc, "bind");
}

bool TSqliteStatement::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return row_ = true;
  row_ = false;
  if (rc == SQLITE_DONE) return false;
  // The statement's error is reported by the connection; reset so the statement can run again.
  std::string msg = sqlite3_errmsg(conn_.db_);
  sqlite3_reset(stmt_);
  throw ESqliteError(rc, conn_.path_.empty() ? msg : conn_.path_ + ": " + msg);
}

int TSqliteStatement::ColumnCount() const { return sqlite3_column_count(stmt_); }

std::string TSqliteStatement::ColumnName(int i) const {
  const char* n = sqlite3_column_name(stmt_, i);
  return n ? n : "";
}

int TSqliteStatement::ColumnIndex(std::string_view name) const { return FindName(names_, name); }

bool TSqliteStatement::ColumnIsNull(int i) const {
  return !row_ || i < 0 || i >= ColumnCount() || sqlite3_column_type(stmt_, i) == SQLITE_NULL;
}

std::int64_t TSqliteStatement::ColumnInteger(int i) const {
  if (!row_ || i < 0 || i >= ColumnCount()) return 0;
  if (sqlite3_column_type(stmt_, i) == SQLITE_INTEGER) return sqlite3_column_int64(stmt_, i);
  return Column(i).AsInteger();
}

TSqliteValue TSqliteStatement::Column(int i) const {
  if (!row_ || i < 0 || i >= ColumnCount()) return TSqliteValue();
  switch (sqlite3_column_type(stmt_, i)) {
    case SQLITE_INTEGER:
      return TSqliteValue::Integer(sqlite3_column_int64(stmt_, i));
    case SQLITE_FLOAT:
      return TSqliteValue::Float(sqlite3_column_double(stmt_, i));
    case SQLITE_TEXT: {
      const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
      const int n = sqlite3_column_bytes(stmt_, i);
      return TSqliteValue::Text(p && n > 0 ? std::string(p, std::size_t(n)) : std::string());
    }
    case SQLITE_BLOB: {
      const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt_, i));
      const int n = sqlite3_column_bytes(stmt_, i);
      return TSqliteValue::Blob(p && n > 0 ? std::string(p, std::size_t(n)) : std::string());
    }
    default:
      return TSqliteValue();
  }
}

void TSqliteStatement::Bind(int index, const TSqliteValue& v) {
  switch (v.GetKind()) {
    case TSqliteValue::Kind::Integer:
      Bind(index, v.AsInteger());
      break;
    case TSqliteValue::Kind::Float:
      Bind(index, v.AsFloat());
      break;
    case TSqliteValue::Kind::Text:
      Bind(index, std::string_view(v.AsBytes()));
      break;
    case TSqliteValue::Kind::Blob:
      BindBlob(index, v.AsBytes());
      break;
    default:
      BindNull(index);
  }
}

void TSqliteStatement::AppendTo(TSqliteRowSet& rows, int first, int count) const {
  for (int i = first; i < first + count; ++i) {
    TSqliteRowSet::Cell c;
    if (row_ && i >= 0 && i < ColumnCount()) {
      switch (sqlite3_column_type(stmt_, i)) {
        case SQLITE_INTEGER:
          c.kind = TSqliteValue::Kind::Integer;
          c.n = sqlite3_column_int64(stmt_, i);
          break;
        case SQLITE_FLOAT: {
          c.kind = TSqliteValue::Kind::Float;
          const double d = sqlite3_column_double(stmt_, i);
          std::memcpy(&c.n, &d, sizeof d);
          break;
        }
        case SQLITE_TEXT: {
          c.kind = TSqliteValue::Kind::Text;
          const unsigned char* p = sqlite3_column_text(stmt_, i);
          rows.AppendBytes(c, p, std::size_t(sqlite3_column_bytes(stmt_, i)));
          break;
        }
        case SQLITE_BLOB: {
          c.kind = TSqliteValue::Kind::Blob;
          const void* p = sqlite3_column_blob(stmt_, i);
          rows.AppendBytes(c, p, std::size_t(sqlite3_column_bytes(stmt_, i)));
          break;
        }
        default:
          break;
      }
    }
    rows.cells_.push_back(c);
  }
}

// ---------------------------------------------------------------- row set

void TSqliteRowSet::Reset(int columns) {
  columns_ = columns;
  cells_.clear();
  pool_.clear();
}

void TSqliteRowSet::AppendBytes(Cell& c, const void* p, std::size_t n) {
  c.n = static_cast<std::int64_t>(pool_.size());
  c.len = static_cast<std::uint32_t>(n);  // a value never exceeds the connection's length limit
  if (p && n) pool_.append(static_cast<const char*>(p), n);
}

TSqliteValue TSqliteRowSet::Value(std::size_t row, int col) const {
  const Cell& c = At(row, col);
  switch (c.kind) {
    case TSqliteValue::Kind::Integer:
      return TSqliteValue::Integer(c.n);
    case TSqliteValue::Kind::Float: {
      double d = 0;
      std::memcpy(&d, &c.n, sizeof d);
      return TSqliteValue::Float(d);
    }
    case TSqliteValue::Kind::Text:
      return TSqliteValue::Text(pool_.substr(std::size_t(c.n), c.len));
    case TSqliteValue::Kind::Blob:
      return TSqliteValue::Blob(pool_.substr(std::size_t(c.n), c.len));
    default:
      return TSqliteValue();
  }
}

bool TSqliteRowSet::WholeNumber(std::size_t row, int col, std::int64_t& out) const {
  const Cell& c = At(row, col);
  if (c.kind == TSqliteValue::Kind::Integer) {
    out = c.n;
    return true;
  }
  if (c.kind == TSqliteValue::Kind::Float) {
    double d = 0;
    std::memcpy(&d, &c.n, sizeof d);
    const TSqliteValue v = TSqliteValue::Float(d);
    out = v.AsInteger();
    return out != 0 || d == 0;
  }
  return false;
}

namespace {

// Classes in SQLite's sort order.
int SortClass(TSqliteValue::Kind k) {
  switch (k) {
    case TSqliteValue::Kind::Null:
      return 0;
    case TSqliteValue::Kind::Integer:
    case TSqliteValue::Kind::Float:
      return 1;
    case TSqliteValue::Kind::Text:
      return 2;
    default:
      return 3;
  }
}

int CompareIntReal(std::int64_t i, double d) {
  if (d < -9223372036854775808.0) return 1;
  if (d >= 9223372036854775808.0) return -1;
  const double id = static_cast<double>(i);
  if (id < d) return -1;
  if (id > d) return 1;
  // Equal as doubles: the integer part decides (a double this large is a whole number).
  const auto di = static_cast<std::int64_t>(d);
  return i < di ? -1 : i > di ? 1 : 0;
}

}  // namespace

int TSqliteRowSet::Compare(const TSqliteRowSet& a, std::size_t ra, int ca, const TSqliteRowSet& b, std::size_t rb,
                           int cb) {
  const Cell& x = a.At(ra, ca);
  const Cell& y = b.At(rb, cb);
  const int kx = SortClass(x.kind), ky = SortClass(y.kind);
  if (kx != ky) return kx < ky ? -1 : 1;
  switch (kx) {
    case 0:
      return 0;
    case 1: {
      const bool xi = x.kind == TSqliteValue::Kind::Integer, yi = y.kind == TSqliteValue::Kind::Integer;
      double xd = 0, yd = 0;
      if (!xi) std::memcpy(&xd, &x.n, sizeof xd);
      if (!yi) std::memcpy(&yd, &y.n, sizeof yd);
      if (xi && yi) return x.n < y.n ? -1 : x.n > y.n ? 1 : 0;
      if (xi) return CompareIntReal(x.n, yd);
      if (yi) return -CompareIntReal(y.n, xd);
      return xd < yd ? -1 : xd > yd ? 1 : 0;
    }
    default: {
      const std::size_t n = std::min(x.len, y.len);
      const int c = n ? std::memcmp(a.pool_.data() + x.n, b.pool_.data() + y.n, n) : 0;
      if (c != 0) return c < 0 ? -1 : 1;
      return x.len < y.len ? -1 : x.len > y.len ? 1 : 0;
    }
  }
}

void TSqliteRowSet::Append(const TSqliteValue& v) {
  cells_.emplace_back();
  const std::size_t at = cells_.size() - 1;
  Set(at / std::size_t(columns_), int(at % std::size_t(columns_)), v);
}

void TSqliteRowSet::Set(std::size_t row, int col, const TSqliteValue& v) {
  Cell& c = cells_[row * std::size_t(columns_) + std::size_t(col)];
  c = Cell();
  c.kind = v.GetKind();
  switch (v.GetKind()) {
    case TSqliteValue::Kind::Integer:
      c.n = v.AsInteger();
      break;
    case TSqliteValue::Kind::Float: {
      const double d = v.AsFloat();
      std::memcpy(&c.n, &d, sizeof d);
      break;
    }
    case TSqliteValue::Kind::Text:
    case TSqliteValue::Kind::Blob:
      AppendBytes(c, v.AsBytes().data(), v.AsBytes().size());
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------- query

void TSqliteQuery::SetSQL(const std::string& sql) {
  Close();
  sql_ = sql;
  params_.clear();
}

void TSqliteQuery::SetParam(int index, TSqliteValue v) {
  for (auto& p : params_)
    if (p.first == index) {
      p.second = std::move(v);
      return;
    }
  params_.emplace_back(index, std::move(v));
}

void TSqliteQuery::Bind(TSqliteStatement& st) const {
  for (const auto& [i, v] : params_) st.Bind(i, v);
}

void TSqliteQuery::Open() {
  Close();
  stmt_ = std::make_unique<TSqliteStatement>(conn_, sql_);
  Bind(*stmt_);
  read_ = 0;
  fetched_ = false;
  eof_ = !stmt_->Step();
  if (!eof_) read_ = 1;
}

void TSqliteQuery::Close() noexcept {
  stmt_.reset();
  eof_ = true;
  fetched_ = false;
  rows_.Reset(0);
  at_ = 0;
  read_ = 0;
}

std::int64_t TSqliteQuery::ExecSQL() {
  Close();
  TSqliteStatement st(conn_, sql_);
  Bind(st);
  while (st.Step()) {
  }
  return sqlite3_changes64(conn_.Handle());
}

void TSqliteQuery::FetchAll() {
  if (!Active()) throw ESqliteError(SQLITE_MISUSE, "the query is not open");
  if (fetched_) return;
  const int n = stmt_->ColumnCount();
  rows_.Reset(n);
  const std::int64_t before = eof_ ? read_ : read_ - 1;  // rows already passed
  if (!eof_) {
    stmt_->AppendTo(rows_, 0, n);
    while (stmt_->Step()) stmt_->AppendTo(rows_, 0, n);
  }
  stmt_->Reset();
  fetched_ = true;
  at_ = 0;
  read_ = before + static_cast<std::int64_t>(rows_.Rows());
  eof_ = rows_.Rows() == 0;
}

void TSqliteQuery::Next() {
  if (Eof()) return;
  if (fetched_) {
    eof_ = ++at_ >= rows_.Rows();
    return;
  }
  eof_ = !stmt_->Step();
  if (!eof_) ++read_;
}

int TSqliteQuery::FieldCount() const { return stmt_ ? stmt_->ColumnCount() : 0; }

int TSqliteQuery::FieldIndex(std::string_view name) const {
  if (!stmt_) throw ESqliteError(SQLITE_MISUSE, "the query is not open");
  const int i = stmt_->ColumnIndex(name);
  if (i < 0) throw ESqliteError(SQLITE_ERROR, "field '" + std::string(name) + "' not found");
  return i;
}

TSqliteValue TSqliteQuery::Field(int i) const {
  if (!stmt_) throw ESqliteError(SQLITE_MISUSE, "the query is not open");
  if (i < 0 || i >= stmt_->ColumnCount())
    throw ESqliteError(SQLITE_RANGE, "field index " + std::to_string(i) + " out of range");
  if (eof_) return TSqliteValue();
  return fetched_ ? rows_.Value(at_, i) : stmt_->Column(i);
}

TSqliteValue TSqliteQuery::FieldByName(std::string_view name) const { return Field(FieldIndex(name)); }

// ---------------------------------------------------------------- table

std::uint64_t TSqliteTable::HashKey(const std::int64_t* keys) const {
  std::uint64_t h = 0x9E3779B97F4A7C15ull;
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    h ^= static_cast<std::uint64_t>(keys[i]) + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
    h *= 0xBF58476D1CE4E5B9ull;
  }
  return h ^ (h >> 31);
}

void TSqliteTable::BuildHash() {
  const std::size_t rows = rows_.Rows();
  if (rows >= 0x7FFFFFFFu) throw ESqliteError(SQLITE_TOOBIG, TableName + ": too many rows");
  std::size_t cap = 16;
  while (cap < rows * 2) cap *= 2;
  slots_.assign(cap, 0);
  const std::size_t n = keys_.size();
  // Rows go in by batches: the hashes of a batch are made first and their slots fetched ahead, so the
  // memory waits of a batch overlap; the rows still go in in row order.
  constexpr std::size_t kBatch = 16;
  std::vector<std::int64_t> keys(kBatch * n), other(n);
  std::uint64_t hashes[kBatch];
  std::size_t batchRows[kBatch];
  for (std::size_t first = 0; first < rows; first += kBatch) {
    std::size_t count = 0;
    for (std::size_t r = first; r < std::min(rows, first + kBatch); ++r) {
      std::int64_t* key = keys.data() + count * n;
      bool ok = true;
      // Only numbers match an integer key, as the SQL comparison does; texts, NULL and fractions never.
      for (std::size_t i = 0; i < n && ok; ++i) ok = rows_.WholeNumber(r, int(i) + 1, key[i]);
      if (!ok) continue;
      hashes[count] = HashKey(key);
      __builtin_prefetch(&slots_[hashes[count] & (cap - 1)]);
      batchRows[count++] = r;
    }
    for (std::size_t b = 0; b < count; ++b) {
      const std::int64_t* key = keys.data() + b * n;
      const std::uint64_t h = hashes[b];
      const std::uint64_t tag = h & 0xFFFFFFFF00000000ull;
      for (std::size_t s = h & (cap - 1);; s = (s + 1) & (cap - 1)) {
        if (slots_[s] == 0) {
          slots_[s] = tag | static_cast<std::uint64_t>(batchRows[b] + 1);
          break;
        }
        if ((slots_[s] & 0xFFFFFFFF00000000ull) != tag) continue;
        const std::size_t other_row = static_cast<std::size_t>(slots_[s] & 0xFFFFFFFFull) - 1;
        bool same = true;
        for (std::size_t i = 0; i < n && same; ++i)
          same = rows_.WholeNumber(other_row, int(i) + 1, other[i]) && other[i] == key[i];
        // Rows come in row-id order: the first of equal keys stays, as an ordered index finds it first.
        if (same) break;
      }
    }
  }
  dirty_ = false;
}

void TSqliteTable::Open() {
  Prepare();
  if (NeedsFill()) Fill(conn_);
}

void TSqliteTable::Prepare() {
  Close();
  keys_ = SplitKeys(IndexFieldNames);
  if (keys_.empty()) throw ESqliteError(SQLITE_MISUSE, TableName + ": no key fields");
  if (!conn_.TableExists(TableName)) throw ESqliteError(SQLITE_ERROR, conn_.Path() + ": no such table: " + TableName);
  const std::string t = SqlIdent(TableName);
  // Row ids exist unless the table was declared WITHOUT ROWID.
  try {
    TSqliteStatement probe(conn_, "SELECT rowid FROM " + t + " LIMIT 0");
    hasRowid_ = true;
  } catch (const ESqliteError&) {
    hasRowid_ = false;
  }
  const std::string sel = hasRowid_ ? "SELECT rowid, * FROM " + t : "SELECT NULL, * FROM " + t;
  {
    TSqliteStatement st(conn_, sel + " LIMIT 0");
    columns_.clear();
    names_.clear();
    for (int i = 1; i < st.ColumnCount(); ++i) {
      columns_.push_back(st.ColumnName(i));
      names_.emplace(Lower(columns_.back()), i - 1);
    }
  }
  for (const std::string& k : keys_) (void)FieldIndex(k);
  std::vector<std::string> fields;
  if (Prefetch)
    for (const std::string& f : SplitKeys(FieldNames)) {
      (void)FieldIndex(f);
      fields.push_back(f);
    }
  useIndex_ = hasRowid_ && conn_.HasIndexOn(TableName, keys_);
  keyed_ = Prefetch || !useIndex_;
  if (!hasRowid_) {
    // Nothing can be read back later by row id: every column is kept.
    fields.clear();
    for (const std::string& c : columns_) fields.push_back(c);
  }
  std::string order;
  for (const std::string& k : keys_) order += (order.empty() ? "" : ", ") + SqlIdent(k);
  if (hasRowid_) order += ", rowid";
  byKeys_.clear();
  for (std::size_t n = 1; n <= keys_.size(); ++n) {
    std::string where;
    for (std::size_t i = 0; i < n; ++i)
      where += (i ? " AND " : "") + SqlIdent(keys_[i]) + " = ?" + std::to_string(i + 1);
    byKeys_.push_back(std::make_unique<TSqliteStatement>(conn_, sel + " WHERE " + where + " ORDER BY " + order + " LIMIT 1"));
  }
  colMap_.assign(columns_.size(), -1);
  if (keyed_) {
    // One pass over the table in storage order: row id, keys, prefetched columns.
    std::string cols = hasRowid_ ? "rowid" : "NULL";
    int at = 1;
    for (const std::string& k : keys_) {
      cols += ", " + SqlIdent(k);
      const int pos = FieldIndex(k);
      if (colMap_[std::size_t(pos)] < 0) colMap_[std::size_t(pos)] = at;
      ++at;
    }
    for (const std::string& f : fields) {
      cols += ", " + SqlIdent(f);
      const int pos = FieldIndex(f);
      if (colMap_[std::size_t(pos)] < 0) colMap_[std::size_t(pos)] = at;
      ++at;
    }
    rows_.Reset(at);
    fillSql_ = "SELECT " + cols + " FROM " + t + " NOT INDEXED";
  }
  row_.assign(columns_.size(), TSqliteValue());
  hasRow_ = false;
  cachedRow_ = -1;
  active_ = true;
  ++generation_;
}

void TSqliteTable::Fill(TSqliteConnection& from) {
  if (!NeedsFill()) throw ESqliteError(SQLITE_MISUSE, TableName + ": nothing to fill");
  TSqliteStatement st(from, fillSql_);
  const int n = rows_.Columns();
  rows_.Reset(n);  // a Fill that failed part way may be run again
  while (st.Step()) st.AppendTo(rows_, 0, n);
  BuildHash();
  fillSql_.clear();
}

void TSqliteTable::Close() noexcept {
  fillSql_.clear();
  byKeys_.clear();
  byRowid_.clear();
  rows_.Reset(0);
  slots_.clear();
  colMap_.clear();
  row_.clear();
  hasRow_ = false;
  cachedRow_ = -1;
  keyed_ = false;
  active_ = false;
}

bool TSqliteTable::FindKey(std::initializer_list<std::int64_t> keys) { return FindKey(keys.begin(), keys.size()); }

bool TSqliteTable::FindKey(const std::int64_t* keys, std::size_t n) {
  if (!active_) throw ESqliteError(SQLITE_MISUSE, TableName + ": the table is not open");
  if (n == 0 || n > keys_.size())
    throw ESqliteError(SQLITE_RANGE, TableName + ": " + std::to_string(n) + " key values for " +
                                         std::to_string(keys_.size()) + " key fields");
  hasRow_ = false;
  cachedRow_ = -1;
  if (keyed_ && n == keys_.size()) {
    if (dirty_) BuildHash();
    const std::ptrdiff_t r = FindKept(keys);
    if (r < 0) return false;
    cachedRow_ = r;
    rowid_ = rows_.Value(std::size_t(r), 0).AsInteger();
    return hasRow_ = true;
  }
  TSqliteStatement& st = *byKeys_[n - 1];
  st.Reset();
  for (std::size_t i = 0; i < n; ++i) st.Bind(int(i) + 1, keys[i]);
  if (st.Step()) {
    rowid_ = st.ColumnInteger(0);
    for (std::size_t i = 0; i < columns_.size(); ++i) row_[i] = st.Column(int(i) + 1);
    hasRow_ = true;
  }
  st.Reset();
  return hasRow_;
}

std::ptrdiff_t TSqliteTable::FindKept(const std::int64_t* keys) const {
  const std::size_t cap = slots_.size();
  if (cap == 0) return -1;
  const std::size_t n = keys_.size();
  std::int64_t v = 0;
  const std::uint64_t h = HashKey(keys);
  const std::uint64_t tag = h & 0xFFFFFFFF00000000ull;
  for (std::size_t s = h & (cap - 1); slots_[s] != 0; s = (s + 1) & (cap - 1)) {
    if ((slots_[s] & 0xFFFFFFFF00000000ull) != tag) continue;
    const std::size_t r = static_cast<std::size_t>(slots_[s] & 0xFFFFFFFFull) - 1;
    bool same = true;
    for (std::size_t i = 0; i < n && same; ++i) same = rows_.WholeNumber(r, int(i) + 1, v) && v == keys[i];
    if (same) return static_cast<std::ptrdiff_t>(r);
  }
  return -1;
}

std::ptrdiff_t TSqliteTable::FindKeptRow(std::initializer_list<std::int64_t> keys) const {
  if (!keyed_ || dirty_ || keys.size() != keys_.size())
    throw ESqliteError(SQLITE_MISUSE, TableName + ": no kept rows to look up by the whole key");
  return FindKept(keys.begin());
}

int TSqliteTable::FieldIndex(std::string_view name) const {
  const int i = FindName(names_, name);
  if (i < 0) throw ESqliteError(SQLITE_ERROR, conn_.Path() + ": no such column: " + TableName + "." + std::string(name));
  return i;
}

TSqliteValue TSqliteTable::FieldByName(std::string_view name) const { return Field(FieldIndex(name)); }

TSqliteValue TSqliteTable::Field(int i) const {
  if (i < 0 || i >= FieldCount()) throw ESqliteError(SQLITE_RANGE, TableName + ": field index out of range");
  if (!hasRow_) return TSqliteValue();
  if (cachedRow_ < 0) return row_[std::size_t(i)];
  const int at = colMap_[std::size_t(i)];
  if (at >= 0) return rows_.Value(std::size_t(cachedRow_), at);
  // Not kept in memory: read this one column of the row by its row id.
  auto& st = byRowid_[i];
  if (!st)
    st = std::make_unique<TSqliteStatement>(
        conn_, "SELECT " + SqlIdent(columns_[std::size_t(i)]) + " FROM " + SqlIdent(TableName) + " WHERE rowid = ?1");
  st->Reset();
  st->Bind(1, rowid_);
  TSqliteValue v = st->Step() ? st->Column(0) : TSqliteValue();
  st->Reset();
  return v;
}

bool TSqliteTable::UpdateCurrent(std::string_view column, const TSqliteValue& v) {
  if (!hasRow_) throw ESqliteError(SQLITE_MISUSE, TableName + ": no current row");
  if (!hasRowid_) throw ESqliteError(SQLITE_MISUSE, TableName + ": the table has no row ids");
  const int i = FieldIndex(column);
  TSqliteStatement st(conn_, "UPDATE " + SqlIdent(TableName) + " SET " + SqlIdent(columns_[std::size_t(i)]) +
                                 " = ?1 WHERE rowid = ?2");
  st.Bind(1, v);
  st.Bind(2, rowid_);
  st.Step();
  const bool changed = sqlite3_changes64(conn_.Handle()) > 0;
  if (!changed) return false;
  if (cachedRow_ >= 0) {
    const int at = colMap_[std::size_t(i)];
    if (at >= 0) {
      rows_.Set(std::size_t(cachedRow_), at, v);
      if (at <= static_cast<int>(keys_.size())) dirty_ = true;  // a key changed: rehash before the next lookup
    }
  } else {
    row_[std::size_t(i)] = v;
  }
  return true;
}

}  // namespace platform
