// The ".at5" reader; see At5Reader.h.
//
// Schema as read (SQLite; ids are integers; a value belongs to the record (rec_table, rec_id)):
//   Persons      id, db_id, isfav, sex (1 man, 2 woman), birth_id, death_id (event ids)
//   ValuesStr    f_id, rec_id, rec_db_id, rec_table, vstr (up to 150 characters), vblob (whole text, UTF-8)
//   ValuesDates  rec_table, rec_id, d, m, y, d2, m2, y2 (NULL when unknown), isjulian, isdateBC, type,
//                sortdate, sortdate2
//   ValuesLinks  rec_table, f_id, rec_id, vlink_id
//   __Recs       rec_id, rec_table, rec_db_id, rec_di (created), rec_de (changed)
//   EventDetails p_id, e_id, er_id (role), e_ord, e_db_id, er_db_id
// Record tables: 7 event, 13 person, 14 place. Fields: person 63 residence (link), 64 surname, 65 birth
// surname, 66 first name, 67 patronymic, 89 note; event 28 place (link), 37 note, 38 cause of death;
// place 93 short name, 94 full name. Roles: 1 child, 2 father, 3 mother, 5/6 and 40/41 couples.
#include "sources/At5Reader.h"

#include "app/core/UnitFunc.h"
#include "sources/DbValues.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <iterator>
#include <limits>
#include <exception>
#include <initializer_list>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr int kEvent = 7;
constexpr int kPerson = 13;
constexpr int kPlace = 14;

constexpr int kResidence = 63;
constexpr int kSurname = 64;
constexpr int kBirthSurname = 65;
constexpr int kFirstName = 66;
constexpr int kPatronymic = 67;
constexpr int kPersonNote = 89;
constexpr int kEventPlace = 28;
constexpr int kEventNote = 37;
constexpr int kDeathCause = 38;
constexpr int kPlaceShort = 93;
constexpr int kPlaceFull = 94;

// A short text this long may have been cut; the whole text is then in vblob.
constexpr qsizetype kShortTextLimit = 120;

// How often (rows) progress is reported and pending events run.
constexpr std::int64_t kProgressStep = 10;
// While SQLite reads the tables, the window gets a chance to repaint (and the user to stop) every this
// many progress points of the connection.
constexpr std::uint64_t kTicksPerProgress = 64;

// The rows the family pass may make from the role table: this many per role row plus a fixed allowance.
// A family tree's events have a father, a mother and a few children, far below it; an event with hundreds
// of each would make millions of combinations out of a few hundred rows.
constexpr std::uint64_t kCombinationsPerRole = 8;
constexpr std::uint64_t kCombinationAllowance = 10000;

// What the reader needs of the file: the tables and the columns it reads.
const struct {
  const char* table;
  std::initializer_list<const char*> columns;
} kSchema[] = {
    {"Persons", {"id", "db_id", "isfav", "sex", "birth_id", "death_id"}},
    {"__Recs", {"rec_id", "rec_table", "rec_db_id", "rec_di", "rec_de"}},
    {"ValuesStr", {"rec_table", "f_id", "rec_id", "rec_db_id", "vstr", "vblob"}},
    {"ValuesDates",
     {"rec_table", "rec_id", "d", "m", "y", "d2", "m2", "y2", "isjulian", "isdateBC", "type", "sortdate", "sortdate2"}},
    {"ValuesLinks", {"rec_table", "f_id", "rec_id", "vlink_id"}},
    {"EventDetails", {"p_id", "e_id", "er_id", "e_ord", "e_db_id", "er_db_id"}},
};

// Ends the read transaction and closes the work components on every way out of a read.
class ReadScope {
 public:
  explicit ReadScope(TDataModule3& dm) : dm_(dm) {}
  ~ReadScope() {
    dm_.FDConnection1.SetProgressHandler({});
    dm_.FDQuery_.Close();
    dm_.FDQuery_TMP.Close();
    dm_.FDTable_Dates.Close();
    dm_.FDTable_Values.Close();
    dm_.FDTable_ValuesLinks.Close();
    dm_.FDConnection1.Rollback();
  }
  ReadScope(const ReadScope&) = delete;
  ReadScope& operator=(const ReadScope&) = delete;

 private:
  TDataModule3& dm_;
};

// Reads every row of a table in its storage order into a row set: no index the file has is used, so
// neither the cost nor the order depends on them.
platform::TSqliteRowSet ScanTable(platform::TSqliteConnection& c, const char* table,
                                  std::initializer_list<const char*> columns) {
  std::string sql = "SELECT ";
  for (const char* col : columns) sql += (sql.size() > 7 ? ", " : "") + platform::SqlIdent(col);
  sql += " FROM " + platform::SqlIdent(table) + " NOT INDEXED";
  platform::TSqliteStatement st(c, sql);
  platform::TSqliteRowSet rows;
  const int n = static_cast<int>(columns.size());
  rows.Reset(n);
  while (st.Step()) st.AppendTo(rows, 0, n);
  return rows;
}

// The text of a kept value as dbvalues::Text gives it; a TEXT value is read without a copy of its bytes.
QString KeptString(const platform::TSqliteTable& t, std::size_t r, int col) {
  std::string_view bytes;
  if (t.KeptText(r, col, bytes)) return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
  return dbvalues::Text(t.KeptValue(r, col));
}

// A whole number equal to v, as SQL's "column = v" finds it.
bool Is(const platform::TSqliteRowSet& rows, std::size_t r, int c, std::int64_t v) {
  std::int64_t x = 0;
  return rows.WholeNumber(r, c, x) && x == v;
}

// Person rows: id, db_id, isfav, sex, birth_id, death_id. Record stamps: rec_id, rec_table, rec_db_id,
// rec_di, rec_de. Roles: p_id, e_id, er_id, e_ord, e_db_id, er_db_id.
enum { pId, pDb, pFav, pSex, pBirth, pDeath };
enum { sRec, sTable, sDb, sCreated, sChanged };
enum { rPerson, rEvent, rRole, rOrder, rEventDb, rRoleDb };

constexpr std::uint32_t kNone = 0xFFFFFFFFu;
// NULL among the flat keys of role cells (see TAt5RoleRows::Make).
constexpr std::int64_t kNullKey = std::numeric_limits<std::int64_t>::min();

// An integer cell or NULL, ordered as SQL orders them: NULL first, then integers by value.
struct Num {
  bool null;
  std::int64_t v;
  static int Compare(const Num& a, const Num& b) {
    if (a.null || b.null) return int(b.null) - int(a.null);
    return a.v < b.v ? -1 : a.v > b.v ? 1 : 0;
  }
};

// The person pass: the most threads it uses, the largest round of persons between two looks at the stop
// flag, and the fewest persons worth a thread of their own.
constexpr unsigned kMaxThreads = 8;
constexpr std::size_t kRoundMax = 8192;
constexpr std::size_t kPersonsPerThread = 512;

// Runs task(k) for k in [0, n): on this thread when n is 1, else on n threads; rethrows the first
// failure once every task has ended.
template <typename Task>
void RunParts(int n, const Task& task) {
  if (n <= 1) {
    task(0);
    return;
  }
  std::mutex mu;
  std::exception_ptr failure;
  const auto body = [&](int k) {
    try {
      task(k);
    } catch (...) {
      const std::lock_guard<std::mutex> lock(mu);
      if (!failure) failure = std::current_exception();
    }
  };
  std::vector<std::thread> threads;
  threads.reserve(std::size_t(n - 1));
  for (int k = 1; k < n; ++k) {
    try {
      threads.emplace_back(body, k);
    } catch (const std::system_error&) {
      body(k);  // no thread to be had: the part runs here
    }
  }
  body(0);
  for (std::thread& t : threads) t.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace

QString EAt5Read::Key(Kind kind) {
  switch (kind) {
    case OpenFailed:
      return QStringLiteral("FileOpenError");
    case NotDatabase:
      return QStringLiteral("At5NotDatabase");
    case Damaged:
      return QStringLiteral("At5Damaged");
    case Busy:
      return QStringLiteral("At5Busy");
    case NotFamilyTree:
      return QStringLiteral("At5NotFamilyTree");
    case NotATable:
      return QStringLiteral("At5NotATable");
    case TooManyRoles:
      return QStringLiteral("At5TooManyRoles");
    case TooSlow:
      return QStringLiteral("At5TooSlow");
    case ReadFailed:
      break;
  }
  return QStringLiteral("FileReadError");
}

QString EAt5Read::DefaultText(Kind kind) {
  switch (kind) {
    case OpenFailed:
      return QStringLiteral("Не удалось открыть файл \"%s\"");
    case NotDatabase:
      return QStringLiteral("Файл \"%s\" не является базой данных SQLite");
    case Damaged:
      return QStringLiteral("База данных \"%s\" повреждена");
    case Busy:
      return QStringLiteral("База данных \"%s\" занята другой программой; попробуйте открыть её позже");
    case NotFamilyTree:
      return QStringLiteral("В базе данных \"%s\" нет таблицы или поля семейного дерева: %s");
    case NotATable:
      return QStringLiteral("В базе данных \"%s\" объект %s не является таблицей");
    case TooManyRoles:
      return QStringLiteral("База данных \"%s\" не читается: у событий слишком много участников");
    case TooSlow:
      return QStringLiteral("Чтение базы данных \"%s\" прервано: оно длится слишком долго");
    case ReadFailed:
      break;
  }
  return QStringLiteral("Не удалось прочитать файл \"%s\"");
}

// The tables of one read, held in memory while the passes run.
struct TAt5Reader::Tables {
  platform::TSqliteRowSet persons, stamps, roles;
};

void TAt5Reader::ReadTables(Tables& t, std::atomic<bool>& stop, std::atomic<bool>& late,
                            std::chrono::steady_clock::time_point deadline) {
  platform::TSqliteConnection& c = dm_.FDConnection1;
  using Conn = platform::TSqliteConnection;
  const auto fill = [](platform::TSqliteTable& table) {
    return [&table](Conn& from) {
      if (table.NeedsFill()) table.Fill(from);
    };
  };
  // The largest first: this thread takes the first, the value table.
  const std::function<void(Conn&)> jobs[] = {
      fill(dm_.FDTable_Values),
      fill(dm_.FDTable_Dates),
      [&t](Conn& from) { t.roles = ScanTable(from, "EventDetails", {"p_id", "e_id", "er_id", "e_ord", "e_db_id", "er_db_id"}); },
      fill(dm_.FDTable_ValuesLinks),
      [&t](Conn& from) { t.persons = ScanTable(from, "Persons", {"id", "db_id", "isfav", "sex", "birth_id", "death_id"}); },
      [&t](Conn& from) { t.stamps = ScanTable(from, "__Recs", {"rec_id", "rec_table", "rec_db_id", "rec_di", "rec_de"}); },
  };
  constexpr int kJobs = int(std::size(jobs));
  enum State { Waiting, Done, Failed };
  std::atomic<int> next{0};
  std::atomic<int> state[kJobs];
  for (auto& st : state) st = Waiting;
  std::atomic<std::uint64_t> helperWork{0};

  // Helpers read tables through connections of their own to the same file. A helper that cannot open
  // one, or whose read fails but for a stop, leaves its table to this thread, which reads it again
  // and meets the failure, if any, itself. A private copy (see SqliteDb.h) is read by this thread alone.
  const int helpers = c.ReadsCopy() ? 0 : int(std::clamp<unsigned>(std::thread::hardware_concurrency(), 1, kJobs) - 1);
  const std::string file = c.Path();
  const auto helper = [&] {
    Conn own;
    try {
      own.Open(file, Conn::Access::ReadOnly);
    } catch (const std::exception&) {
      return;
    }
    own.SetProgressHandler([&stop, &late, deadline] {
      if (!stop.load() && std::chrono::steady_clock::now() >= deadline) late = stop = true;
      return stop.load();
    });
    for (int k; (k = next.fetch_add(1)) < kJobs;) {
      try {
        jobs[k](own);
        state[k] = Done;
      } catch (const std::exception&) {
        state[k] = Failed;
      }
    }
    helperWork += own.ProgressTicks();
  };
  std::vector<std::thread> threads;
  struct Join {
    std::vector<std::thread>& threads;
    std::atomic<bool>& stop;
    ~Join() {
      if (std::uncaught_exceptions() > 0) stop = true;
      for (std::thread& th : threads) th.join();
    }
  } join{threads, stop};
  next = 1;  // the value table is this thread's
  for (int h = 0; h < helpers; ++h) {
    try {
      threads.emplace_back(helper);
    } catch (const std::system_error&) {
      break;  // no thread to be had: this thread reads the rest
    }
  }
  jobs[0](c);
  state[0] = Done;
  for (int k; (k = next.fetch_add(1)) < kJobs;) {
    jobs[k](c);
    state[k] = Done;
  }
  for (std::thread& th : threads) th.join();
  threads.clear();
  c.CountWork(helperWork);
  for (int k = 0; k < kJobs; ++k) {
    if (stop) break;
    if (state[k] != Done) jobs[k](c);
  }
  if (stop) {
    timedOut_ = timedOut_ || late;
    throw platform::ESqliteError(SQLITE_INTERRUPT, file + ": interrupted");
  }
}


TAt5Reader::TAt5Reader(Model& model, TDataModule3& dm, TDateContext today)
    : model_(model), dm_(dm), today_(std::move(today)), empty_(GDate_RDates(QString(), today_)) {}

void TAt5Reader::At5_Indi(const QString& path, const QString& nameTemplate, const GedProgress& progress) {
  model_.Clear();  // also clears AbortFlag
  model_.aIndi[0].BIRT_DATE = empty_;
  byId_.clear();
  timedOut_ = false;
  try {
    Read(path, nameTemplate, progress);
  } catch (const platform::ESqliteError& e) {
    const int code = e.Code() & 0xFF;
    if (code == SQLITE_INTERRUPT && !timedOut_ && model_.AbortFlag) {
      // Stopped while SQLite read the tables: nothing was read yet.
      model_.Clear();
      model_.aIndi[0].BIRT_DATE = empty_;
      model_.AbortFlag = true;
      return;
    }
    EAt5Read::Kind kind = EAt5Read::ReadFailed;
    switch (code) {
      case SQLITE_CANTOPEN:
        kind = EAt5Read::OpenFailed;
        break;
      case SQLITE_NOTADB:
        kind = EAt5Read::NotDatabase;
        break;
      case SQLITE_CORRUPT:
      case SQLITE_FORMAT:
        kind = EAt5Read::Damaged;
        break;
      case SQLITE_BUSY:
      case SQLITE_LOCKED:
      case SQLITE_READONLY:  // a change of another program that began after the file was opened
        kind = EAt5Read::Busy;
        break;
      case SQLITE_INTERRUPT:
        kind = EAt5Read::TooSlow;
        break;
      default:
        break;
    }
    throw EAt5Read(kind, path);
  }
}

void TAt5Reader::CheckSchema() {
  platform::TSqliteConnection& c = dm_.FDConnection1;
  const QString path = QString::fromStdString(c.Path());
  for (const auto& t : kSchema) {
    switch (c.KindOf(t.table)) {
      case platform::TSqliteConnection::ObjectKind::Table:
        break;
      case platform::TSqliteConnection::ObjectKind::None:
        throw EAt5Read(EAt5Read::NotFamilyTree, path, QString::fromLatin1(t.table));
      default:
        // A view or a virtual table runs code of the file's choosing on every read (a view may recurse
        // without end): only a stored table is read.
        throw EAt5Read(EAt5Read::NotATable, path, QString::fromLatin1(t.table));
    }
    std::vector<std::string> have = c.ColumnsOf(t.table);
    for (std::string& h : have) h = QString::fromStdString(h).toLower().toStdString();
    for (const char* col : t.columns)
      if (std::find(have.begin(), have.end(), QString::fromLatin1(col).toLower().toStdString()) == have.end())
        throw EAt5Read(EAt5Read::NotFamilyTree, path, QString::fromLatin1(t.table) + u'.' + QString::fromLatin1(col));
  }
}

void TAt5Reader::Read(const QString& path, const QString& nameTemplate, const GedProgress& progress) {
  dm_.CloseAll();
  platform::TSqliteConnection& c = dm_.FDConnection1;
  c.Open(path.toStdString(), platform::TSqliteConnection::Access::ReadOnly);
  ReadScope scope(dm_);
  // While SQLite works: the stop flag and the time limit end the statement, and the window stays live.
  // stop also ends the statements of the helper connections that read tables beside this one.
  const auto deadline = std::chrono::steady_clock::now() + timeLimit_;
  std::uint64_t points = 0;
  std::atomic<bool> stop{false}, late{false};
  c.SetProgressHandler([this, &progress, deadline, &points, &stop, &late] {
    if (!model_.AbortFlag && !stop.load()) {
      if (std::chrono::steady_clock::now() >= deadline) {
        late = timedOut_ = true;
      } else {
        if (progress && ++points % kTicksPerProgress == 0) progress(0, 0);
        if (!model_.AbortFlag) return false;
      }
    }
    stop = true;
    return true;
  });
  // One snapshot for the whole read: every table and lookup agree, and SQLite takes its shared lock once
  // instead of once per statement. Helper connections read while this one holds its shared lock, so no
  // writer can change the file between their reads.
  c.StartTransaction();
  CheckSchema();
  dm_.FDTable_Dates.Prepare();
  dm_.FDTable_Values.Prepare();
  dm_.FDTable_ValuesLinks.Prepare();
  Tables t;
  ReadTables(t, stop, late, deadline);
  // From here on the work is in memory.
  c.SetProgressHandler([this, deadline] {
    if (std::chrono::steady_clock::now() >= deadline) return timedOut_ = true;
    return false;
  });

  PersonPass(t, nameTemplate.isEmpty() ? QString::fromUtf16(kDefaultNameTemplate) : nameTemplate, progress);
  // A stop during the person pass ends the family pass before its first row.
  if (!model_.AbortFlag) FamilyPass(t, progress);
  c.Commit();
}

namespace {

// The name values of a person read (record table 13, database 0): how many rows it has (each counts as one
// row of progress) and the last row of each name field in storage order.
struct PersonNames {
  std::uint32_t rows = 0;
  std::uint32_t last[5] = {kNone, kNone, kNone, kNone, kNone};  // surname, birth surname, first, patronymic, note
};

}  // namespace

// A person of the person pass: its first row, its record-stamp row, its id and its name values.
struct TAt5Reader::Start {
  std::uint32_t row, stamp;
  std::int64_t id;
  const PersonNames* names;
};

void TAt5Reader::PersonPass(Tables& t, const QString& nameTemplate, const GedProgress& progress) {
  const platform::TSqliteRowSet& persons = t.persons;
  const platform::TSqliteRowSet& stamps = t.stamps;
  // The person rows in the order of (id, db_id), as the person query of the data module gives them; rows
  // that compare equal keep their storage order.
  std::vector<std::uint32_t> order;
  order.reserve(persons.Rows());
  for (std::size_t r = 0; r < persons.Rows(); ++r) order.push_back(std::uint32_t(r));
  std::stable_sort(order.begin(), order.end(), [&persons](std::uint32_t a, std::uint32_t b) {
    const int c = platform::TSqliteRowSet::Compare(persons, a, pId, persons, b, pId);
    return c != 0 ? c < 0 : platform::TSqliteRowSet::Compare(persons, a, pDb, persons, b, pDb) < 0;
  });

  // A person is read only with its record-stamp row (record table 13, database 0); the first such row
  // gives the stamps.
  std::unordered_map<std::int64_t, std::uint32_t> stampOf;
  stampOf.reserve(stamps.Rows());
  for (std::size_t r = 0; r < stamps.Rows(); ++r) {
    std::int64_t id = 0;
    if (Is(stamps, r, sTable, kPerson) && Is(stamps, r, sDb, 0) && stamps.WholeNumber(r, sRec, id))
      stampOf.try_emplace(id, std::uint32_t(r));
  }

  std::unordered_map<std::int64_t, PersonNames> names;
  names.reserve(stampOf.size());
  for (std::size_t r = 0; r < persons.Rows(); ++r) {
    std::int64_t id = 0;
    if (persons.WholeNumber(r, pId, id) && stampOf.count(id)) names.try_emplace(id);
  }
  platform::TSqliteTable& values = dm_.FDTable_Values;
  const int vTable = values.FieldIndex("rec_table"), vField = values.FieldIndex("f_id"),
            vRec = values.FieldIndex("rec_id"), vDb = values.FieldIndex("rec_db_id");
  for (std::size_t r = 0; r < values.KeptRows(); ++r) {
    std::int64_t x = 0, id = 0;
    if (!values.KeptWhole(r, vTable, x) || x != kPerson || !values.KeptWhole(r, vDb, x) || x != 0 ||
        !values.KeptWhole(r, vRec, id))
      continue;
    const auto it = names.find(id);
    if (it == names.end()) continue;
    ++it->second.rows;
    std::int64_t field = 0;
    if (!values.KeptWhole(r, vField, field)) field = values.KeptValue(r, vField).AsInteger();
    const int slot = field == kSurname ? 0 : field == kBirthSurname ? 1 : field == kFirstName ? 2
                     : field == kPatronymic ? 3 : field == kPersonNote ? 4 : -1;
    if (slot >= 0) it->second.last[slot] = std::uint32_t(r);
  }

  // The persons: one per id, from the first of its rows.
  std::vector<Start> starts;
  std::int64_t max = 0;
  for (std::uint32_t r : order) {
    std::int64_t id = 0;
    if (!persons.WholeNumber(r, pId, id)) continue;
    const auto st = stampOf.find(id);
    if (st == stampOf.end()) continue;
    if (!starts.empty() && starts.back().id == id) continue;
    const PersonNames& n = names[id];
    starts.push_back({r, st->second, id, &n});
    max += std::max<std::uint32_t>(1, n.rows);
  }
  model_.aIndi.reserve(starts.size() + 1);
  byId_.reserve(starts.size());
  // The kept rows serve every lookup of the pass; the column positions are found here, once.
  (void)Cols();
  for (const platform::TSqliteTable* k : {&dm_.FDTable_Values, &dm_.FDTable_ValuesLinks, &dm_.FDTable_Dates})
    if (k->KeptRows() == 0 && k->UsesFileIndex())
      throw platform::ESqliteError(SQLITE_MISUSE, k->TableName + ": the person pass reads kept rows");

  // Rounds of persons, each filled on several threads and added whole: the stop flag is tested and
  // progress given between rounds. They grow from a few persons (a stop soon after the start keeps a
  // few) to a size that keeps the window live.
  const int threads = int(std::clamp<unsigned>(std::thread::hardware_concurrency(), 1, kMaxThreads));
  if (progress) progress(0, max);
  std::int64_t pos = 0;
  std::size_t done = 0;
  std::vector<std::vector<std::size_t>> longNotes(static_cast<std::size_t>(threads));
  while (done < starts.size()) {
    if (model_.AbortFlag) break;
    const std::size_t round = std::min(starts.size() - done, std::clamp<std::size_t>(done, std::size_t(kProgressStep), kRoundMax));
    const std::size_t first = model_.aIndi.size();
    model_.aIndi.resize(first + round);
    const int parts = int(std::clamp<std::size_t>(round / kPersonsPerThread, 1, std::size_t(threads)));
    RunParts(parts, [&](int part) {
      std::vector<std::size_t>& mine = longNotes[std::size_t(part)];
      for (std::size_t k = round * std::size_t(part) / std::size_t(parts);
           k < round * std::size_t(part + 1) / std::size_t(parts); ++k) {
        bool longNote = false;
        FillPerson(model_.aIndi[first + k], starts[done + k], std::int64_t(first + k), t, nameTemplate, longNote);
        if (longNote) mine.push_back(k);
      }
    });
    // Whole texts beside a short text that may be cut, when not kept in memory, are read from the
    // file, on this thread.
    for (std::vector<std::size_t>& list : longNotes) {
      for (std::size_t k : list)
        model_.aIndi[first + k].NOTE = fDesc5(kPerson, kPersonNote, starts[done + k].id, 1, 1);
      list.clear();
    }
    for (std::size_t k = 0; k < round; ++k) {
      const Start& s = starts[done + k];
      byId_.try_emplace(s.id, std::int64_t(first + k));
      pos += std::max<std::uint32_t>(1, s.names->rows);
    }
    done += round;
    if (progress) progress(pos, max);
  }
}

void TAt5Reader::FillPerson(TINDI& p, const Start& s, std::int64_t index, const Tables& t,
                            const QString& nameTemplate, bool& longNote) const {
  const platform::TSqliteRowSet& persons = t.persons;
  const platform::TSqliteRowSet& stamps = t.stamps;
  const platform::TSqliteTable& values = dm_.FDTable_Values;
  p._UID = QString::number(s.id);
  p.INDI = QString::number(index);
  p.FAMS.clear();
  const QString sex = dbvalues::IdText(persons.Value(s.row, pSex));
  p.SEX = sex == u"1" ? QStringLiteral("M") : sex == u"2" ? QStringLiteral("F") : QString();
  p.INSE = dbvalues::DateTime(stamps.Value(s.stamp, sCreated));
  p.EDIT = dbvalues::DateTime(stamps.Value(s.stamp, sChanged));
  const std::int64_t birth = persons.Value(s.row, pBirth).AsInteger();
  // Every person gets a parsed birth date, as a GEDCOM or ".at4" person without one does.
  p.BIRT_DATE = birth > 0 ? KeptDate(kEvent, birth) : empty_;
  p.BIRT_DATE.CALEN = QString::number(birth);
  // No event, no lookups: an event with id 0 must not lend its place to every person without a birth.
  if (birth > 0) {
    p.BIRT_PLAC = KeptPlace(kEvent, kEventPlace, birth, 2);
    p.BIRT_NOTE = KeptText(kEvent, kEventNote, birth);
  }
  const std::int64_t death = persons.Value(s.row, pDeath).AsInteger();
  if (death > 0) {
    p.DEAT = QStringLiteral("+");
    p.DEAT_DATE = KeptDate(kEvent, death);
    p.DEAT_PLAC = KeptPlace(kEvent, kEventPlace, death, 2);
    p.DEAT_NOTE = KeptText(kEvent, kEventNote, death);
    p.DEAT_CAUS = KeptText(kEvent, kDeathCause, death);
  }
  const PersonNames& n = *s.names;
  const auto text = [&](int slot) { return KeptString(values, n.last[slot], cols_.vstr); };
  if (n.last[0] != kNone) p.SURN = p.SURN1 = text(0);
  if (n.last[1] != kNone) p.SURN0 = text(1);
  if (n.last[2] != kNone) p.FIRS1 = text(2);
  if (n.last[3] != kNone) p.PATR1 = text(3);
  if (n.last[4] != kNone) {
    const std::ptrdiff_t r = values.FindKeptRow({kPerson, kPersonNote, s.id});
    if (r >= 0) {
      p.NOTE = KeptString(values, std::size_t(r), cols_.vstr);
      if (p.NOTE.size() >= kShortTextLimit) {
        // The whole text is in vblob; an empty vblob leaves the short text rather than losing it.
        if (values.Kept(cols_.vblob)) {
          QString whole = dbvalues::Utf8Bytes(values.KeptValue(std::size_t(r), cols_.vblob).AsBytes());
          if (!whole.isEmpty()) p.NOTE = std::move(whole);
        } else {
          longNote = true;
        }
      }
    }
  }
  p.RESI_PLAC = KeptPlace(kPerson, kResidence, s.id, 2);
  if (p.GIVN.isEmpty()) p.GIVN = p.FIRS1 + u' ' + p.PATR1;
  p.FIO1 = FormatFullName(p.SURN1, p.FIRS1, p.PATR1, p.SURN0, nameTemplate);
  p.iPr = -1;
  p.iPot = -1;
}

QString TAt5Reader::KeptText(int iTable, int iField, std::int64_t iRec) const {
  const platform::TSqliteTable& t = dm_.FDTable_Values;
  const std::ptrdiff_t r = t.FindKeptRow({iTable, iField, iRec});
  return r < 0 ? QString() : KeptString(t, std::size_t(r), cols_.vstr);
}

QString TAt5Reader::KeptPlace(int iTable, int iField, std::int64_t iRec, int iType) const {
  const platform::TSqliteTable& links = dm_.FDTable_ValuesLinks;
  const std::ptrdiff_t r = links.FindKeptRow({iTable, iField, iRec});
  if (r < 0) return QString();
  const platform::TSqliteValue place = links.KeptValue(std::size_t(r), cols_.vlink);
  if (place.IsNull()) return QString();
  return KeptText(kPlace, iType == 1 ? kPlaceShort : kPlaceFull, place.AsInteger());
}

TDATES TAt5Reader::KeptDate(int iTable, std::int64_t iRec) const {
  const platform::TSqliteTable& t = dm_.FDTable_Dates;
  const std::ptrdiff_t r = t.FindKeptRow({iTable, iRec});
  if (r < 0) return empty_;
  return DateOf([&t, r](int column) { return t.KeptValue(std::size_t(r), column); }, cols_);
}

std::int64_t TAt5Reader::PersonByUid(const QString& id) const {
  if (id.isEmpty()) return 0;
  bool ok = false;
  const qint64 n = id.toLongLong(&ok);
  if (!ok || QString::number(n) != id) return 0;
  const auto it = byId_.find(n);
  return it == byId_.end() ? 0 : it->second;
}

TAt5RoleRows::TAt5RoleRows(const platform::TSqliteRowSet& roles) : roles_(roles) {
  consts_.Reset(3);
  consts_.Append(platform::TSqliteValue());
  consts_.Append(platform::TSqliteValue::Integer(0));
  consts_.Append(platform::TSqliteValue::Integer(1));
}

TAt5RoleRows::Ref TAt5RoleRows::Cell(const Row& r, int col) const {
  const Ref null{&consts_, 0, 0};
  switch (col) {
    case 0:
    case 1:
    case 2: {
      const std::uint32_t who = r.couple ? r.a : r.b;
      if (who == kNone) return null;
      return {&roles_, who, col == 0 ? rPerson : col == 1 ? rRole : rOrder};
    }
    case 3:
    case 4:
    case 5: {
      const std::uint32_t who = r.couple ? r.b : r.c;
      if (who == kNone) return null;
      return {&roles_, who, col == 3 ? rPerson : col == 4 ? rRole : rOrder};
    }
    case 6:
      return {&roles_, r.a, r.couple ? rEvent : rPerson};
    default:
      return {&consts_, 0, r.couple ? 1 : 2};
  }
}

int TAt5RoleRows::Compare(const Row& x, const Row& y, int col) const {
  const Ref a = Cell(x, col), b = Cell(y, col);
  return platform::TSqliteRowSet::Compare(*a.set, a.row, a.col, *b.set, b.row, b.col);
}

std::ptrdiff_t TAt5RoleRows::PersonRow(std::size_t row, int col) const {
  const Ref a = Cell(rows_[row], col);
  return a.set == &roles_ && a.col == rPerson ? std::ptrdiff_t(a.row) : -1;
}

platform::TSqliteValue TAt5RoleRows::Value(std::size_t row, int col) const {
  const Ref a = Cell(rows_[row], col);
  return a.set->Value(a.row, a.col);
}

bool TAt5RoleRows::Make(std::uint64_t bound) {
  rows_.clear();
  const platform::TSqliteRowSet& roles = roles_;
  if (roles.Rows() >= kNone) return false;
  // The role rows of one event (same e_id, e_db_id and er_db_id, none of them NULL) meet as the query
  // joins them: child rows (a child with every father and every mother of its event, or with none) and
  // couple rows (every husband with every wife, every role 40 with every 41). A child whose event
  // cannot be joined (a NULL among those three) still gives its row, with neither father nor mother.
  constexpr std::uint32_t kLone = 0x80000000u;
  std::vector<std::uint32_t> byEvent;
  byEvent.reserve(roles.Rows());
  for (std::size_t r = 0; r < roles.Rows(); ++r) {
    std::int64_t role = 0;
    if (!roles.WholeNumber(r, rRole, role)) continue;
    if (role != 1 && role != 2 && role != 3 && role != 5 && role != 6 && role != 40 && role != 41) continue;
    const bool joinable = roles.Kind(r, rEvent) != platform::TSqliteValue::Kind::Null &&
                          roles.Kind(r, rEventDb) != platform::TSqliteValue::Kind::Null &&
                          roles.Kind(r, rRoleDb) != platform::TSqliteValue::Kind::Null;
    if (joinable)
      byEvent.push_back(std::uint32_t(r));
    else if (role == 1)
      byEvent.push_back(std::uint32_t(r) | kLone);
  }
  // When every cell of the role rows is an integer or NULL, as in any family tree, the sorts below
  // compare them from a flat copy; the general comparison (any storage class) orders them alike.
  constexpr int kRoleColumns = 6;
  bool numeric = true;
  std::vector<Num> nums;
  nums.reserve(roles.Rows() * kRoleColumns);
  for (std::size_t r = 0; r < roles.Rows() && numeric; ++r)
    for (int c = 0; c < kRoleColumns && numeric; ++c) {
      const platform::TSqliteValue::Kind kind = roles.Kind(r, c);
      std::int64_t v = 0;
      if (kind == platform::TSqliteValue::Kind::Null)
        nums.push_back({true, 0});
      else if (kind == platform::TSqliteValue::Kind::Integer && roles.WholeNumber(r, c, v))
        nums.push_back({false, v});
      else
        numeric = false;
    }
  if (!numeric) nums.clear();
  const auto num = [&nums](std::uint32_t r, int c) { return nums[std::size_t(r) * kRoleColumns + std::size_t(c)]; };
  const auto compareEvent = [&](std::uint32_t a, std::uint32_t b) {
    for (int c : {rEvent, rEventDb, rRoleDb}) {
      const int d = numeric ? Num::Compare(num(a, c), num(b, c)) : platform::TSqliteRowSet::Compare(roles, a, c, roles, b, c);
      if (d != 0) return d;
    }
    return 0;
  };
  // Integer cells and NULL as one integer each, in the same order, when no cell holds the least integer
  // (which then stands for NULL): the sorts compare flat keys.
  const bool flat = numeric && std::none_of(nums.begin(), nums.end(), [](const Num& n) { return !n.null && n.v == kNullKey; });
  const auto key = [&num](std::uint32_t r, int c) {
    const Num n = num(r, c);
    return n.null ? kNullKey : n.v;
  };
  if (flat) {
    // Joinable rows by event, then row; the rows that cannot be joined after them, in row order.
    const auto lone = std::stable_partition(byEvent.begin(), byEvent.end(), [](std::uint32_t r) { return !(r & kLone); });
    std::vector<std::pair<std::array<std::int64_t, 4>, std::uint32_t>> keyed;
    keyed.reserve(std::size_t(lone - byEvent.begin()));
    for (auto it = byEvent.begin(); it != lone; ++it)
      keyed.push_back({{key(*it, rEvent), key(*it, rEventDb), key(*it, rRoleDb), std::int64_t(*it)}, *it});
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t k = 0; k < keyed.size(); ++k) byEvent[k] = keyed[k].second;
  } else {
    std::sort(byEvent.begin(), byEvent.end(), [&](std::uint32_t a, std::uint32_t b) {
      const bool loneA = a & kLone, loneB = b & kLone;
      if (loneA != loneB) return loneB;
      if (loneA) return a < b;
      const int d = compareEvent(a, b);
      return d != 0 ? d < 0 : a < b;
    });
  }

  std::vector<std::uint32_t> child, father, mother, husband, wife, first, second;
  for (std::size_t i = 0; i < byEvent.size();) {
    if (byEvent[i] & kLone) {
      if (rows_.size() + 1 > bound) return rows_.clear(), false;
      rows_.push_back({byEvent[i] & ~kLone, kNone, kNone, false});
      ++i;
      continue;
    }
    for (auto* v : {&child, &father, &mother, &husband, &wife, &first, &second}) v->clear();
    std::size_t j = i;
    for (; j < byEvent.size() && !(byEvent[j] & kLone) && compareEvent(byEvent[i], byEvent[j]) == 0; ++j) {
      std::int64_t role = 0;
      roles.WholeNumber(byEvent[j], rRole, role);
      auto& list = role == 1 ? child : role == 2 ? father : role == 3 ? mother : role == 5 ? husband
                   : role == 6 ? wife : role == 40 ? first : second;
      list.push_back(byEvent[j]);
    }
    i = j;
    const std::uint64_t fathers = std::max<std::size_t>(1, father.size());
    const std::uint64_t mothers = std::max<std::size_t>(1, mother.size());
    const std::uint64_t combinations = std::uint64_t(child.size()) * fathers * mothers +
                                       std::uint64_t(husband.size()) * wife.size() +
                                       std::uint64_t(first.size()) * second.size();
    if (rows_.size() + combinations > bound) return rows_.clear(), false;
    for (std::uint32_t c : child)
      for (std::size_t f = 0; f < fathers; ++f)
        for (std::size_t m = 0; m < mothers; ++m)
          rows_.push_back({c, father.empty() ? kNone : father[f], mother.empty() ? kNone : mother[m], false});
    for (std::uint32_t h : husband)
      for (std::uint32_t w : wife) rows_.push_back({h, w, kNone, true});
    for (std::uint32_t h : first)
      for (std::uint32_t w : second) rows_.push_back({h, w, kNone, true});
  }

  // Ordered by father, mother and the father's order, then by the other columns in their order (the
  // query's UNION orders by every column), without repeated rows.
  static constexpr int kOrder[8] = {0, 3, 2, 1, 4, 5, 6, 7};
  // The value of a column of a query row, from the flat copy (as Cell gives it from the row sets).
  const auto cell = [&num](const Row& r, int col) -> Num {
    switch (col) {
      case 0:
      case 1:
      case 2: {
        const std::uint32_t who = r.couple ? r.a : r.b;
        return who == kNone ? Num{true, 0} : num(who, col == 0 ? rPerson : col == 1 ? rRole : rOrder);
      }
      case 3:
      case 4:
      case 5: {
        const std::uint32_t who = r.couple ? r.b : r.c;
        return who == kNone ? Num{true, 0} : num(who, col == 3 ? rPerson : col == 4 ? rRole : rOrder);
      }
      case 6:
        return num(r.a, r.couple ? rEvent : rPerson);
      default:
        return Num{false, r.couple ? 0 : 1};
    }
  };
  if (flat) {
    // Each row with its columns as flat keys in sort order: the sort compares arrays of integers.
    std::vector<std::pair<std::array<std::int64_t, 8>, Row>> keyed;
    keyed.reserve(rows_.size());
    for (const Row& r : rows_) {
      std::array<std::int64_t, 8> k;
      for (std::size_t i = 0; i < k.size(); ++i) {
        const Num n = cell(r, kOrder[i]);
        k[i] = n.null ? kNullKey : n.v;
      }
      keyed.emplace_back(k, r);
    }
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    keyed.erase(std::unique(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
                keyed.end());
    rows_.clear();
    for (const auto& k : keyed) rows_.push_back(k.second);
    return true;
  }
  const auto compare = [&](const Row& x, const Row& y, int col) {
    return numeric ? Num::Compare(cell(x, col), cell(y, col)) : Compare(x, y, col);
  };
  std::sort(rows_.begin(), rows_.end(), [&](const Row& x, const Row& y) {
    for (int col : kOrder) {
      const int d = compare(x, y, col);
      if (d != 0) return d < 0;
    }
    return false;
  });
  rows_.erase(std::unique(rows_.begin(), rows_.end(),
                          [&](const Row& x, const Row& y) {
                            for (int col : kOrder)
                              if (compare(x, y, col) != 0) return false;
                            return true;
                          }),
              rows_.end());
  return true;
}

void TAt5Reader::FamilyPass(Tables& t, const GedProgress& progress) {
  TAt5RoleRows rows(t.roles);
  if (!rows.Make(kCombinationsPerRole * t.roles.Rows() + kCombinationAllowance))
    throw EAt5Read(EAt5Read::TooManyRoles, QString::fromStdString(dm_.FDConnection1.Path()));
  const auto max = static_cast<std::int64_t>(rows.Size());
  if (progress) progress(0, max);
  // Each role row's person id as text and the person it names, made once: a row of the query shows the
  // same father and mother as the rows of their other children.
  const platform::TSqliteRowSet& roles = t.roles;
  std::vector<QString> idText(roles.Rows());
  std::vector<std::int64_t> person(roles.Rows());
  for (std::size_t r = 0; r < roles.Rows(); ++r) {
    std::int64_t id = 0;
    if (roles.Kind(r, rPerson) == platform::TSqliteValue::Kind::Integer && roles.WholeNumber(r, rPerson, id)) {
      // An integer's text is canonical: its person is found by the number itself.
      idText[r] = QString::number(id);
      const auto it = byId_.find(id);
      person[r] = it == byId_.end() ? 0 : it->second;
    } else {
      idText[r] = dbvalues::IdText(roles.Value(r, rPerson));
      person[r] = PersonByUid(idText[r]);
    }
  }
  const QString none;
  const auto text = [&](std::size_t row, int col) -> const QString& {
    const std::ptrdiff_t r = rows.PersonRow(row, col);
    return r < 0 ? none : idText[std::size_t(r)];
  };
  const auto who = [&](std::size_t row, int col) {
    const std::ptrdiff_t r = rows.PersonRow(row, col);
    return r < 0 ? std::int64_t(0) : person[std::size_t(r)];
  };
  std::int64_t pos = 0;
  QString key, previousKey;
  std::int64_t f = 0;
  for (std::size_t row = 0; row < rows.Size(); ++row) {
    ++pos;
    if (progress && pos % kProgressStep == 0) progress(pos, max);
    if (model_.AbortFlag) break;
    const QString& father = text(row, 0);
    const QString& mother = text(row, 3);
    if (father.isEmpty() && mother.isEmpty()) continue;  // neither father nor mother: no family
    // A family per key "father mother" (texts that hold blanks may make one key of two pairs).
    key.clear();
    key += father;
    key += u' ';
    key += mother;
    if (key != previousKey) {
      model_.aFam.emplace_back();
      f = model_.FamilyCount();
      model_.aFam.back().FAM = key;
      previousKey = key;
    }
    TFAM& fam = model_.aFam[std::size_t(f)];
    if (!rows.Couple(row)) {
      // A child row. The persons of the row, looked up through the id map, are taken in index order
      // with the rules of a scan over all persons: a person is the child, else the father while there
      // is none, else the mother while there is none; the scan ends once all three are known.
      const QString& child = text(row, 6);
      int found = (fam.HUSB != 0 || father.isEmpty() ? 1 : 0) + (fam.WIFE != 0 || mother.isEmpty() ? 1 : 0);
      std::int64_t who3[3] = {who(row, 6), who(row, 0), who(row, 3)};
      std::sort(std::begin(who3), std::end(who3));
      std::int64_t last = 0;
      for (std::int64_t i : who3) {
        if (found >= 3) break;
        if (i == 0 || i == last) continue;
        last = i;
        TINDI& p = model_.aIndi[std::size_t(i)];
        if (p._UID == child) {
          fam.CHIL.push_back(i);
          p.FAMC = f;
          ++found;
        } else if (p._UID == father && fam.HUSB == 0) {
          fam.HUSB = i;
          p.FAMS.push_back(f);
          ++found;
        } else if (p._UID == mother && fam.WIFE == 0) {
          fam.WIFE = i;
          p.FAMS.push_back(f);
          ++found;
        }
      }
    } else {
      // A couple row: husband in column 1, wife in column 4, the event in column 7.
      fam.MARR = QStringLiteral("x");
      const platform::TSqliteValue eventValue = rows.Value(row, 6);
      if (!dbvalues::IdText(eventValue).isEmpty()) {
        const std::int64_t event = eventValue.AsInteger();
        fam.MARR_DATE = ADate_RDates5(kEvent, event);
        fam.MARR_PLAC = fPlace5(kEvent, kEventPlace, event, 2);
        fam.MARR_NOTE = fDesc5(kEvent, kEventNote, event, 0, 1);
        if (fam.HUSB == 0) {
          std::int64_t who2[2] = {who(row, 0), who(row, 3)};
          std::sort(std::begin(who2), std::end(who2));
          std::int64_t last = 0;
          for (std::int64_t i : who2) {
            if (i == 0 || i == last) continue;
            last = i;
            TINDI& p = model_.aIndi[std::size_t(i)];
            if (p._UID == father) {
              fam.HUSB = i;
              p.FAMS.push_back(f);
            } else if (p._UID == mother && fam.WIFE == 0) {
              // A wife already known from the child rows is the same person: listing the family in her
              // FAMS a second time would show it twice.
              fam.WIFE = i;
              p.FAMS.push_back(f);
            }
          }
        }
      }
    }
  }
  if (progress) progress(pos, max);
}

const TAt5Reader::Columns& TAt5Reader::Cols() {
  const platform::TSqliteTable& v = dm_.FDTable_Values;
  const platform::TSqliteTable& l = dm_.FDTable_ValuesLinks;
  const platform::TSqliteTable& t = dm_.FDTable_Dates;
  if (v.Active() && cols_.values != v.Generation()) {
    cols_.vstr = v.FieldIndex("vstr");
    cols_.vblob = v.FieldIndex("vblob");
    cols_.values = v.Generation();
  }
  if (l.Active() && cols_.links != l.Generation()) {
    cols_.vlink = l.FieldIndex("vlink_id");
    cols_.links = l.Generation();
  }
  if (t.Active() && cols_.dates != t.Generation()) {
    cols_.d = t.FieldIndex("d");
    cols_.m = t.FieldIndex("m");
    cols_.y = t.FieldIndex("y");
    cols_.d2 = t.FieldIndex("d2");
    cols_.m2 = t.FieldIndex("m2");
    cols_.y2 = t.FieldIndex("y2");
    cols_.julian = t.FieldIndex("isjulian");
    cols_.bc = t.FieldIndex("isdateBC");
    cols_.type = t.FieldIndex("type");
    cols_.sort1 = t.FieldIndex("sortdate");
    cols_.sort2 = t.FieldIndex("sortdate2");
    cols_.dates = t.Generation();
  }
  return cols_;
}

QString TAt5Reader::fDesc5(int iTable, int iField, std::int64_t iRec, int iFull, int iCRLF) {
  platform::TSqliteTable& t = dm_.FDTable_Values;
  if (iTable > 0 && !t.FindKey({iTable, iField, iRec})) return QString();
  if (!t.HasRow()) return QString();
  const Columns& c = Cols();
  QString r = dbvalues::Text(t.Field(c.vstr));
  if (r.size() >= kShortTextLimit && iFull != 0) {
    // The whole text is in vblob; an empty vblob leaves the short text rather than losing it.
    const QString whole = dbvalues::Utf8Bytes(t.Field(c.vblob).AsBytes());
    if (!whole.isEmpty()) r = whole;
  }
  if (iCRLF == 0) r = dbvalues::CrLfToBlank(r);
  return r;
}

QString TAt5Reader::fValue5(int iTable, int iField, std::int64_t iRec) {
  platform::TSqliteTable& t = dm_.FDTable_Values;
  if (!t.FindKey({iTable, iField, iRec})) return QString();
  return dbvalues::Text(t.Field(Cols().vstr));
}

QString TAt5Reader::fPlace5(int iTable, int iField, std::int64_t iRec, int iType) {
  platform::TSqliteTable& links = dm_.FDTable_ValuesLinks;
  if (!links.FindKey({iTable, iField, iRec})) return QString();
  const platform::TSqliteValue place = links.Field(Cols().vlink);
  if (place.IsNull()) return QString();
  platform::TSqliteTable& values = dm_.FDTable_Values;
  if (!values.FindKey({kPlace, iType == 1 ? kPlaceShort : kPlaceFull, place.AsInteger()})) return QString();
  return dbvalues::Text(values.Field(Cols().vstr));
}

QString TAt5Reader::fDate5(const QString&) const { return QString(); }

TDATES TAt5Reader::ADate_RDates5(int iTable, std::int64_t iRec) {
  platform::TSqliteTable& t = dm_.FDTable_Dates;
  if (iTable >= 1 && !t.FindKey({iTable, iRec})) return empty_;
  if (!t.HasRow()) return empty_;
  return DateOf([&t](int column) { return t.Field(column); }, Cols());
}

template <typename Field>
TDATES TAt5Reader::DateOf(const Field& field, const Columns& c) const {
  TDATES r;
  // Sort keys are stored as numbers of (at least) nine digits; the first eight are "yyyymmdd".
  r.SORT1 = ZeroPadInt(field(c.sort1).AsInteger(), 9).left(8);
  r.SORT2 = ZeroPadInt(field(c.sort2).AsInteger(), 9).left(8);
  r.DDATE = kUnknownDate;
  const auto part = [&field](int column, int width, const char16_t* unknown) {
    const platform::TSqliteValue v = field(column);
    if (v.IsNull()) return QString::fromUtf16(unknown);
    // A year that four digits cannot hold (or none, 0 and below) would garble the text and the day
    // ("01.01.12345" read as a day of 1234): it is an unknown year.
    if (width == 4 && (v.AsInteger() < 1 || v.AsInteger() > 9999)) return QString::fromUtf16(unknown);
    return ZeroPadInt(v.AsInteger(), width);
  };
  // "dd.mm.yyyy" with "??" and "????" for unknown parts; "?" when nothing is known; the year alone when
  // day and month are unknown.
  const auto dateText = [&](int d, int m, const QString& year) {
    QString s = part(d, 2, u"??");
    s.reserve(10);
    s += u'.';
    s += part(m, 2, u"??");
    s += u'.';
    s += year;
    if (s == u"??.??.????") return QStringLiteral("?");
    if (s.startsWith(u"??.??")) return year;
    return s;
  };
  r.YEARS = part(c.y, 4, u"????");
  const QString t1 = dateText(c.d, c.m, r.YEARS);
  const int type = static_cast<int>(std::clamp<std::int64_t>(field(c.type).AsInteger(), -1, 100));
  // The second date is shown only by the range types.
  const auto t2 = [&] { return dateText(c.d2, c.m2, part(c.y2, 4, u"????")); };
  switch (type) {
    case dbvalues::dtExact:
      r.NORM = t1;
      r.DDATE = DmyToDate(t1);
      break;
    case dbvalues::dtAbout:
    case dbvalues::dtCalculated:
    case dbvalues::dtEstimated:
      r.NORM = u'~' + t1;
      break;
    case dbvalues::dtBefore:
      r.NORM = u'<' + t1;
      break;
    case dbvalues::dtAfter:
      r.NORM = u'>' + t1;
      break;
    case dbvalues::dtBetween:
      r.NORM = t1 + QStringLiteral("..") + t2();
      break;
    case dbvalues::dtOr:
      r.NORM = t1 + u'(' + t2() + u')';
      break;
    case dbvalues::dtFromTo:
      r.NORM = t1 + u'-' + t2();
      break;
    default:
      break;
  }
  dbvalues::SetGedcomDateText(r, type, dbvalues::Boolean(field(c.julian)), dbvalues::Boolean(field(c.bc)));
  return r;
}

void At5_Indi(Model& model, TDataModule3& dm, const QString& path, const QString& nameTemplate,
              const GedProgress& progress) {
  TAt5Reader(model, dm).At5_Indi(path, nameTemplate, progress);
}
