// Synthetic ".at5" family trees for the reader's tests, the benchmark and trevolan-at5gen: a seeded
// logical tree (persons, events, places, families) written three ways:
//   - as an ".at5" database (SQLite, the schema the reader uses, with or without indexes on the value
//     tables);
//   - as the model the ".at5" reader must produce from it (Expected), built straight from the logical
//     tree with the rules of that format, so that a test compares the reader's dump with it;
//   - as a GEDCOM file of the same persons and families (Gedcom).
// Tree shape (n persons, index k = 1..n, id 1000 + 7k): odd persons are men, even women; family f has
// the spouses 2f-1 and 2f and the children 4f..4f+3. Deterministic for a given (n, seed). Special cases
// recur at fixed steps: persons without their record-stamp row (not read), without any name value,
// without birth, with a long note, with line breaks, families without a father role, couples with the
// roles 40/41, events without dates, a place without names.
// Header-only; uses Qt (texts, dates) and the sqlite3 C API (the generator creates files, which the
// reader's layer never does).
#pragma once

#include "app/core/GDate.h"
#include "app/core/GedcomReader.h"
#include "app/core/Model.h"
#include "app/core/UnitFunc.h"

#include <QDate>
#include <QDateTime>
#include "tools/SynthWords.h"

#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace at5synth {

// One date as the database stores it: type code, parts (0 = unknown), Julian flag.
struct Date {
  int type = 0;
  int d = 0, m = 0, y = 0;
  int d2 = 0, m2 = 0, y2 = 0;
  bool julian = false;
};

struct Event {
  std::int64_t id = 0;
  std::optional<Date> date;  // no ValuesDates row when empty
  std::int64_t place = 0;    // place id, 0 none
  QString note;
  QString cause;  // death only
};

struct Person {
  std::int64_t id = 0;
  int sex = 0;            // 1 man, 2 woman, 0 unknown
  bool stamped = true;    // has its __Recs row (else the reader skips it)
  bool named = true;      // has name values
  QString sur, birthSur, first, patr;
  QString note;           // person note (field 89)
  std::int64_t residence = 0;
  std::optional<Event> birth;
  std::optional<Event> death;
  double created = 0;     // day counts; 0 = NULL
  double changed = 0;
  bool stampAsText = true;  // ISO-8601 text or Julian day number
};

struct Place {
  std::int64_t id = 0;
  QString shortName, fullName;  // both empty: a place without name values
};

struct Family {
  std::int64_t father = 0, mother = 0;  // person indexes (1-based), 0 none
  bool fatherRole = true;               // the father appears in the children's birth events
  std::vector<std::int64_t> children;   // person indexes, in birth order
  std::optional<Event> marriage;
  bool altRoles = false;                // couple roles 40/41 instead of 5/6
};

struct Tree {
  std::vector<Person> persons;  // element k-1 is person k
  std::vector<Place> places;
  std::vector<Family> families;
};

inline const char* const kMonths[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                        "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

inline Tree MakeTree(std::int64_t n, std::uint64_t seed = 1) {
  using namespace synthwords;
  Random rnd(seed, n);
  Tree t;
  for (int i = 0; i < 12; ++i) {
    Place p;
    p.id = 500 + 3 * i;
    if (i != 11) {  // place 11 has no name values
      p.shortName = QString::fromUtf16(kPlaces[i % 6]) + (i >= 6 ? QStringLiteral(" %1").arg(i) : QString());
      p.fullName = p.shortName + QStringLiteral(", губерния %1").arg(i % 4 + 1);
    }
    t.places.push_back(p);
  }
  std::int64_t nextEvent = 1;
  auto date = [&](int year) {
    Date d;
    const int kind = rnd(11);
    d.y = year;
    d.m = rnd(12) + 1;
    d.d = rnd(28) + 1;
    switch (kind) {
      case 0: case 1: case 2: break;                     // exact
      case 3: d.d = d.m = 0; break;                      // year
      case 4: d.d = 0; break;                            // month and year
      case 5: d.type = 1; d.d = d.m = 0; break;          // about
      case 6: d.type = 2; break;                         // before a day
      case 7: d.type = 3; d.d = d.m = 0; break;          // after a year
      case 8:                                            // between two days
        d.type = 4;
        d.y2 = year + 1 + rnd(3);
        d.m2 = rnd(12) + 1;
        d.d2 = rnd(28) + 1;
        break;
      case 9: d.julian = true; break;                    // exact, Julian
      default: d.type = 7; d.d = d.m = 0; break;         // estimated
    }
    return d;
  };
  auto event = [&](int year, bool withCause) {
    Event e;
    e.id = nextEvent++;
    if (rnd(17) != 0) e.date = date(year);
    if (rnd(4) != 0) e.place = t.places[std::size_t(rnd(12))].id;
    if (rnd(5) == 0) e.note = QStringLiteral("Запись №%1").arg(e.id) + (rnd(3) == 0 ? QStringLiteral("\r\nвторая строка") : QString());
    if (withCause && rnd(3) == 0) e.cause = QStringLiteral("болезнь %1").arg(rnd(9));
    return e;
  };
  for (std::int64_t k = 1; k <= n; ++k) {
    Person p;
    p.id = 1000 + 7 * k;
    const bool man = k % 2 == 1;
    p.sex = k % 23 == 0 ? 0 : (man ? 1 : 2);
    p.stamped = k % 37 != 0;
    p.named = k % 29 != 0;
    const std::int64_t famc = k / 4;  // family whose child the person is (0 none)
    const int year = 1700 + int(k % 250);
    p.first = QString::fromUtf16(man ? kMale[rnd(6)] : kFemale[rnd(6)]);
    p.patr = QString::fromUtf16(man ? kPatrM[rnd(4)] : kPatrF[rnd(4)]);
    const QString sur = QString::fromUtf16(kSur[(famc > 0 ? famc : k) % 6]);
    p.sur = man ? sur : sur + u'а';
    if (!man) p.birthSur = QString::fromUtf16(kSur[(k / 2 + 1) % 6]) + u'а';
    if (k % 10 == 0)  // long notes: the short column holds 150 characters, the whole text is in the blob
      p.note = QStringLiteral("Длинная заметка %1: ").arg(k) + QString(200, u'ж') + QStringLiteral(" конец");
    else if (k % 10 == 5)
      p.note = QStringLiteral("Заметка %1\r\nстрока 2").arg(k);
    if (k % 3 == 0) p.residence = t.places[std::size_t(rnd(12))].id;
    if (k % 13 != 0) p.birth = event(year, false);
    if (k % 5 < 2) p.death = event(year + 50 + rnd(30), true);
    p.created = 40000 + double(k) + double(rnd(86400)) / 86400.0;
    p.changed = k % 31 == 0 ? 0 : p.created + 100 + rnd(500);
    p.stampAsText = k % 2 == 0;
    t.persons.push_back(std::move(p));
  }
  for (std::int64_t f = 1; 2 * f <= n; ++f) {
    Family fam;
    fam.father = 2 * f - 1;
    fam.mother = 2 * f;
    for (std::int64_t c = 4 * f; c < 4 * f + 4 && c <= n; ++c)
      // A child without a birth event plays no role and so belongs to no family.
      if (t.persons[std::size_t(c - 1)].birth) fam.children.push_back(c);
    // Families without a father role have no couple event and one child, so their rows have one order.
    fam.fatherRole = f % 11 != 0;
    if (!fam.fatherRole && fam.children.size() > 1) fam.children.erase(fam.children.begin() + 1, fam.children.end());
    if (fam.fatherRole && f % 5 != 0) {
      fam.marriage = event(1720 + int(f % 250), false);
      fam.marriage->cause.clear();
      fam.altRoles = f % 7 == 0;
    }
    if (fam.children.empty() && !fam.marriage) continue;
    t.families.push_back(std::move(fam));
  }
  return t;
}

// ---------------------------------------------------------------- the ".at5" file

namespace detail {

inline void Check(sqlite3* db, int rc, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) : db_(db) { Check(db, sqlite3_prepare_v2(db, sql, -1, &st_, nullptr), sql); }
  ~Stmt() { sqlite3_finalize(st_); }
  Stmt& Int(int i, std::int64_t v) {
    sqlite3_bind_int64(st_, i, v);
    return *this;
  }
  Stmt& IntOrNull(int i, std::int64_t v) {
    if (v == 0)
      sqlite3_bind_null(st_, i);
    else
      sqlite3_bind_int64(st_, i, v);
    return *this;
  }
  Stmt& Real(int i, double v) {
    sqlite3_bind_double(st_, i, v);
    return *this;
  }
  Stmt& Text(int i, const QString& v) {
    const QByteArray b = v.toUtf8();
    sqlite3_bind_text(st_, i, b.constData(), int(b.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Stmt& Blob(int i, const QString& v) {
    const QByteArray b = v.toUtf8();
    sqlite3_bind_blob(st_, i, b.constData(), int(b.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Stmt& Null(int i) {
    sqlite3_bind_null(st_, i);
    return *this;
  }
  void Run() {
    Check(db_, sqlite3_step(st_), "insert");
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* st_ = nullptr;
};

inline QString IsoStamp(double days) {
  const QDateTime t = QDateTime(QDate(1899, 12, 30), QTime(0, 0), QTimeZone::utc()).addMSecs(qint64(days * 86400000.0 + 0.5));
  return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// Sort keys as the other program stores them: "yyyymmdd" and one more digit.
inline std::int64_t SortKey(int y, int m, int d, bool upper) {
  const int mm = m ? m : (upper ? 99 : 0);
  const int dd = d ? d : (upper ? 99 : 0);
  return (std::int64_t(y) * 10000 + mm * 100 + dd) * 10;
}

}  // namespace detail

// Which indexes a written file has: none; only the value tables' keys (as the reader's lookups name
// them); all of those a full file has; or others that a file may have and that mislead a planner (the
// record table alone first, the role alone).
enum class Indexes { None, Keys, All, Others };

inline const char* IndexSql(Indexes layout) {
  switch (layout) {
    case Indexes::None:
      return "";
    case Indexes::Keys:
      return "CREATE INDEX ix_vs ON ValuesStr (rec_table, f_id, rec_id);"
             "CREATE INDEX ix_vd ON ValuesDates (rec_table, rec_id);"
             "CREATE INDEX ix_vl ON ValuesLinks (rec_table, f_id, rec_id);";
    case Indexes::All:
      return "CREATE INDEX ix_vs ON ValuesStr (rec_table, f_id, rec_id);"
             "CREATE INDEX ix_vd ON ValuesDates (rec_table, rec_id);"
             "CREATE INDEX ix_vl ON ValuesLinks (rec_table, f_id, rec_id);"
             "CREATE INDEX ix_vs_rec ON ValuesStr (rec_id, rec_table, rec_db_id);"
             "CREATE INDEX ix_recs ON __Recs (rec_id, rec_table, rec_db_id);"
             "CREATE UNIQUE INDEX ix_persons ON Persons (id, db_id);"
             "CREATE INDEX ix_ed_e ON EventDetails (e_id, er_id);";
    case Indexes::Others:
      return "CREATE INDEX ix_vs_t ON ValuesStr (rec_table);"
             "CREATE INDEX ix_recs_t ON __Recs (rec_table, rec_db_id);"
             "CREATE INDEX ix_ed_r ON EventDetails (er_id);"
             "CREATE INDEX ix_vd_p ON ValuesDates (rec_table, rec_id) WHERE d > 0;";
  }
  return "";
}

inline void WriteAt5(const Tree& t, const std::string& path, Indexes layout);

// Writes the tree as a new ".at5" file at path (an existing file is replaced), with all indexes or none.
inline void WriteAt5(const Tree& t, const std::string& path, bool indexes) {
  WriteAt5(t, path, indexes ? Indexes::All : Indexes::None);
}

inline void WriteAt5(const Tree& t, const std::string& path, Indexes layout) {
  std::remove(path.c_str());
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    const std::string msg = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    throw std::runtime_error(path + ": " + msg);
  }
  struct Closer {
    sqlite3* db;
    ~Closer() { sqlite3_close(db); }
  } closer{db};
  const auto exec = [db](const char* sql) { detail::Check(db, sqlite3_exec(db, sql, nullptr, nullptr, nullptr), sql); };
  exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN");
  exec("CREATE TABLE Persons (id INTEGER NOT NULL, db_id INTEGER NOT NULL, isfav BOOLEAN, sex INTEGER, "
       "birth_id INTEGER, death_id INTEGER);"
       "CREATE TABLE ValuesStr (f_id INTEGER NOT NULL, f_db_id INTEGER NOT NULL, rec_id INTEGER NOT NULL, "
       "rec_db_id INTEGER NOT NULL, rec_table INTEGER NOT NULL, lang_id INTEGER NOT NULL, vstr VARCHAR(150), "
       "vblob BLOB, lconf INTEGER NOT NULL, ltrust INTEGER NOT NULL, comment BLOB);"
       "CREATE TABLE ValuesDates (f_id INTEGER NOT NULL, f_db_id INTEGER NOT NULL, rec_id INTEGER NOT NULL, "
       "rec_db_id INTEGER NOT NULL, rec_table INTEGER NOT NULL, d INTEGER, m INTEGER, y INTEGER, d2 INTEGER, "
       "m2 INTEGER, y2 INTEGER, isjulian BOOLEAN, isdateBC BOOLEAN, isdate2BC BOOLEAN, type INTEGER NOT NULL, "
       "sortdate INTEGER, sortdate2 INTEGER, sortdate3 INTEGER, sortdate4 INTEGER, lconf INTEGER NOT NULL, "
       "ltrust INTEGER NOT NULL, comment BLOB, unknownyeardigits INTEGER);"
       "CREATE TABLE ValuesLinks (f_id INTEGER NOT NULL, f_db_id INTEGER NOT NULL, rec_id INTEGER NOT NULL, "
       "rec_db_id INTEGER NOT NULL, rec_table INTEGER NOT NULL, vlink_id INTEGER NOT NULL, vlink_db_id INTEGER "
       "NOT NULL, vlink_table INTEGER NOT NULL, lconf INTEGER NOT NULL, ltrust INTEGER NOT NULL, comment BLOB);"
       "CREATE TABLE __Recs (rec_id INTEGER, rec_table INTEGER, rec_db_id INTEGER, rec_di DATETIME, rec_de DATETIME);"
       "CREATE TABLE EventDetails (p_id INTEGER, e_id INTEGER, er_id INTEGER, e_ord INTEGER, e_db_id INTEGER, "
       "er_db_id INTEGER);");
  detail::Stmt person(db, "INSERT INTO Persons VALUES (?1, 0, ?2, ?3, ?4, ?5)");
  detail::Stmt str(db, "INSERT INTO ValuesStr VALUES (?1, -1, ?2, 0, ?3, 2, ?4, ?5, 0, 0, NULL)");
  detail::Stmt date(db, "INSERT INTO ValuesDates VALUES (29, -1, ?1, 0, 7, ?2, ?3, ?4, ?5, ?6, ?7, ?8, 0, 0, ?9, "
                        "?10, ?11, 0, 0, 0, 0, NULL, 0)");
  detail::Stmt link(db, "INSERT INTO ValuesLinks VALUES (?1, -1, ?2, 0, ?3, ?4, 0, 14, 0, 0, NULL)");
  detail::Stmt recs(db, "INSERT INTO __Recs VALUES (?1, ?2, 0, ?3, ?4)");
  detail::Stmt role(db, "INSERT INTO EventDetails VALUES (?1, ?2, ?3, ?4, 0, 0)");

  const auto value = [&](int table, int field, std::int64_t rec, const QString& text) {
    // The short column holds up to 150 characters; a longer text is whole in the blob.
    str.Int(1, field).Int(2, rec).Int(3, table).Text(4, text.left(150));
    if (text.size() > 150) str.Blob(5, text); else str.Null(5);
    str.Run();
  };
  const auto stamp = [](detail::Stmt& st, int i, double days, bool asText) {
    if (days == 0)
      st.Null(i);
    else if (asText)
      st.Text(i, detail::IsoStamp(days));
    else
      st.Real(i, days + 2415018.5);
  };
  const auto eventRows = [&](const Event& e) {
    if (e.date) {
      const Date& d = *e.date;
      date.Int(1, e.id).IntOrNull(2, d.d).IntOrNull(3, d.m).IntOrNull(4, d.y).IntOrNull(5, d.d2).IntOrNull(6, d.m2)
          .IntOrNull(7, d.y2).Int(8, d.julian ? 1 : 0).Int(9, d.type)
          .Int(10, detail::SortKey(d.y, d.m, d.d, false))
          .Int(11, d.type == 4 ? detail::SortKey(d.y2, d.m2, d.d2, true) : detail::SortKey(d.y, d.m, d.d, true));
      date.Run();
    }
    if (e.place) link.Int(1, 28).Int(2, e.id).Int(3, 7).Int(4, e.place).Run();
    if (!e.note.isEmpty()) value(7, 37, e.id, e.note);
    if (!e.cause.isEmpty()) value(7, 38, e.id, e.cause);
  };
  for (const Place& p : t.places) {
    if (!p.shortName.isEmpty()) value(14, 93, p.id, p.shortName);
    if (!p.fullName.isEmpty()) value(14, 94, p.id, p.fullName);
  }
  // Persons go in in reverse order, so the row order differs from the id order the reader sorts by.
  for (auto it = t.persons.rbegin(); it != t.persons.rend(); ++it) {
    const Person& p = *it;
    person.Int(1, p.id).Int(2, p.id % 3 == 0 ? 1 : 0);
    if (p.sex) person.Int(3, p.sex); else person.Null(3);
    person.Int(4, p.birth ? p.birth->id : 0).Int(5, p.death ? p.death->id : 0).Run();
    if (p.stamped) {
      recs.Int(1, p.id).Int(2, 13);
      stamp(recs, 3, p.created, p.stampAsText);
      stamp(recs, 4, p.changed, p.stampAsText);
      recs.Run();
    }
    if (p.named) {
      value(13, 64, p.id, p.sur);
      if (!p.birthSur.isEmpty()) value(13, 65, p.id, p.birthSur);
      value(13, 66, p.id, p.first);
      value(13, 67, p.id, p.patr);
      value(13, 73, p.id, QStringLiteral("не читается"));
    }
    if (!p.note.isEmpty()) value(13, 89, p.id, p.note);
    if (p.residence) link.Int(1, 63).Int(2, p.id).Int(3, 13).Int(4, p.residence).Run();
    if (p.birth) eventRows(*p.birth);
    if (p.death) eventRows(*p.death);
  }
  for (const Family& f : t.families) {
    const std::int64_t fid = t.persons[std::size_t(f.father - 1)].id;
    const std::int64_t mid = t.persons[std::size_t(f.mother - 1)].id;
    int ord = 1;
    for (std::int64_t c : f.children) {
      const Event& b = *t.persons[std::size_t(c - 1)].birth;
      role.Int(1, t.persons[std::size_t(c - 1)].id).Int(2, b.id).Int(3, 1).Int(4, 0).Run();
      if (f.fatherRole) role.Int(1, fid).Int(2, b.id).Int(3, 2).Int(4, ord).Run();
      role.Int(1, mid).Int(2, b.id).Int(3, 3).Int(4, ord).Run();
      ++ord;
    }
    if (f.marriage) {
      eventRows(*f.marriage);
      // The husband's order puts the couple row before the child rows in some families, after in others.
      role.Int(1, fid).Int(2, f.marriage->id).Int(3, f.altRoles ? 40 : 5).Int(4, fid % 2 ? 0 : 9).Run();
      role.Int(1, mid).Int(2, f.marriage->id).Int(3, f.altRoles ? 41 : 6).Int(4, 0).Run();
    }
  }
  exec(IndexSql(layout));
  exec("COMMIT");
}

// ---------------------------------------------------------------- the expected model

namespace detail {

// The date the ".at5" reader makes of a stored date (display text, GEDCOM text, keys, day).
inline TDATES ExpectedDate(const Date& d) {
  const auto two = [](int v) { return v ? QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')) : QStringLiteral("??"); };
  const auto text = [&](int dd, int mm, int yy) {
    const QString year = yy ? QStringLiteral("%1").arg(yy, 4, 10, QLatin1Char('0')) : QStringLiteral("????");
    if (!dd && !mm) return yy ? year : QStringLiteral("?");
    return two(dd) + u'.' + two(mm) + u'.' + year;
  };
  const auto ged = [&](int dd, int mm, int yy, bool monthWord) {
    QString s;
    if (dd) s += two(dd);
    if (mm) s += monthWord ? u' ' + QString::fromLatin1(kMonths[mm - 1]) + u' ' : u'.' + two(mm) + u'.';
    else if (dd) s += u'.';
    return s + QString::number(yy);
  };
  TDATES r;
  r.SORT1 = QString::number(SortKey(d.y, d.m, d.d, false) / 10).rightJustified(8, u'0');
  r.SORT2 = QString::number((d.type == 4 ? SortKey(d.y2, d.m2, d.d2, true) : SortKey(d.y, d.m, d.d, true)) / 10)
                .rightJustified(8, u'0');
  r.YEARS = QStringLiteral("%1").arg(d.y, 4, 10, QLatin1Char('0'));
  r.DDATE = kUnknownDate;
  const QString t1 = text(d.d, d.m, d.y);
  // The GEDCOM form of the first date: "dd MON yyyy", " MON yyyy" (no day) or "yyyy".
  const QString g1 = d.m ? ged(d.d, d.m, d.y, true) : QString::number(d.y);
  switch (d.type) {
    case 0:
      r.NORM = t1;
      r.ORIG = g1;
      if (d.d && d.m) r.DDATE = DateToSerial(QDate(d.y, d.m, d.d));
      break;
    case 1:
      r.NORM = u'~' + t1, r.ORIG = QStringLiteral("ABT ") + g1, r.STYPE = QStringLiteral("ABT");
      break;
    case 2:
      r.NORM = u'<' + t1, r.ORIG = QStringLiteral("BEF ") + g1, r.STYPE = QStringLiteral("BEF");
      break;
    case 3:
      r.NORM = u'>' + t1, r.ORIG = QStringLiteral("AFT ") + g1, r.STYPE = QStringLiteral("AFT");
      break;
    case 4: {
      const QString t2 = text(d.d2, d.m2, d.y2);
      r.NORM = t1 + QStringLiteral("..") + t2;
      // Only the first date's month becomes a word, and only its first occurrence.
      QString g = QStringLiteral("BET ") + t1 + QStringLiteral(" AND ") + t2;
      const QString mm = u'.' + two(d.m) + u'.';
      g.replace(g.indexOf(mm), mm.size(), u' ' + QString::fromLatin1(kMonths[d.m - 1]) + u' ');
      r.ORIG = g;
      r.STYPE = QStringLiteral("BET");
      break;
    }
    case 7:
      r.NORM = u'~' + t1, r.ORIG = QStringLiteral("EST ") + g1, r.STYPE = QStringLiteral("EST");
      break;
    default:
      break;
  }
  if (d.julian) r.ORIG = QStringLiteral("@#DJULIAN@ ") + r.ORIG;
  return r;
}

}  // namespace detail

// The model the ".at5" reader must make of the tree, with the given name template and "today".
inline Model Expected(const Tree& t, const TDateContext& today,
                      const QString& tmpl = QString::fromUtf16(kDefaultNameTemplate)) {
  Model m;
  m.Clear();
  const TDATES empty = GDate_RDates(QString(), today);
  m.aIndi[0].BIRT_DATE = empty;
  std::map<std::int64_t, QString> placeName;
  for (const Place& p : t.places) placeName[p.id] = p.fullName;
  std::vector<std::int64_t> index(t.persons.size() + 1, 0);  // tree index -> model index
  for (std::size_t k = 0; k < t.persons.size(); ++k) {
    const Person& s = t.persons[k];
    if (!s.stamped) continue;
    TINDI p;
    index[k + 1] = std::int64_t(m.aIndi.size());
    p.INDI = QString::number(m.aIndi.size());
    p._UID = QString::number(s.id);
    p.SEX = s.sex == 1 ? QStringLiteral("M") : s.sex == 2 ? QStringLiteral("F") : QString();
    p.INSE = s.created;
    p.EDIT = s.changed;
    const auto eventDate = [&](const Event& e) { return e.date ? detail::ExpectedDate(*e.date) : empty; };
    p.BIRT_DATE = s.birth ? eventDate(*s.birth) : empty;
    p.BIRT_DATE.CALEN = QString::number(s.birth ? s.birth->id : 0);
    if (s.birth) {
      p.BIRT_PLAC = placeName[s.birth->place];
      p.BIRT_NOTE = s.birth->note;
    }
    if (s.death) {
      p.DEAT = QStringLiteral("+");
      p.DEAT_DATE = eventDate(*s.death);
      p.DEAT_PLAC = placeName[s.death->place];
      p.DEAT_NOTE = s.death->note;
      p.DEAT_CAUS = s.death->cause;
    }
    if (s.named) {
      p.SURN = p.SURN1 = s.sur;
      p.SURN0 = s.birthSur;
      p.FIRS1 = s.first;
      p.PATR1 = s.patr;
    }
    p.NOTE = s.note;
    p.RESI_PLAC = placeName[s.residence];
    p.GIVN = p.FIRS1 + u' ' + p.PATR1;
    p.FIO1 = FormatFullName(p.SURN1, p.FIRS1, p.PATR1, p.SURN0, tmpl);
    p.iPr = p.iPot = -1;
    m.aIndi.push_back(std::move(p));
  }
  // Families in the order of the role rows: by father id (none first), mother id.
  std::vector<const Family*> fams;
  for (const Family& f : t.families) fams.push_back(&f);
  const auto fatherId = [&](const Family* f) { return f->fatherRole ? t.persons[std::size_t(f->father - 1)].id : -1; };
  std::stable_sort(fams.begin(), fams.end(), [&](const Family* a, const Family* b) {
    if (fatherId(a) != fatherId(b)) return fatherId(a) < fatherId(b);
    return a->mother < b->mother;
  });
  for (const Family* f : fams) {
    TFAM fam;
    const std::int64_t fi = std::int64_t(m.aFam.size());
    const QString fid = f->fatherRole ? QString::number(t.persons[std::size_t(f->father - 1)].id) : QString();
    fam.FAM = fid + u' ' + QString::number(t.persons[std::size_t(f->mother - 1)].id);
    const std::int64_t h = f->fatherRole ? index[std::size_t(f->father)] : 0;
    const std::int64_t w = index[std::size_t(f->mother)];
    fam.HUSB = h;
    fam.WIFE = w;
    if (h) m.aIndi[std::size_t(h)].FAMS.push_back(fi);
    if (w) m.aIndi[std::size_t(w)].FAMS.push_back(fi);
    for (std::int64_t c : f->children)
      if (index[std::size_t(c)]) {
        fam.CHIL.push_back(index[std::size_t(c)]);
        m.aIndi[std::size_t(index[std::size_t(c)])].FAMC = fi;
      }
    if (f->marriage) {
      fam.MARR = QStringLiteral("x");
      fam.MARR_DATE = f->marriage->date ? detail::ExpectedDate(*f->marriage->date) : empty;
      fam.MARR_PLAC = placeName[f->marriage->place];
      fam.MARR_NOTE = f->marriage->note;
    }
    m.aFam.push_back(std::move(fam));
  }
  return m;
}

// ---------------------------------------------------------------- the same tree as GEDCOM

// The persons the ".at5" reader reads (those with their record stamp) and their families as a UTF-8
// GEDCOM text. Dates are written in GEDCOM form; identifiers are "@I<id>@" and "@F<n>@".
inline QByteArray Gedcom(const Tree& t) {
  QString out = QStringLiteral("0 HEAD\n1 SOUR Synth\n1 CHAR UTF-8\n");
  std::map<std::int64_t, QString> placeName;
  for (const Place& p : t.places) placeName[p.id] = p.fullName;
  const auto dateText = [](const Date& d) {
    const auto one = [](int dd, int mm, int yy) {
      QString s;
      if (dd) s += QString::number(dd) + u' ';
      if (mm) s += QString::fromLatin1(kMonths[mm - 1]) + u' ';
      return s + QString::number(yy);
    };
    QString s;
    switch (d.type) {
      case 1: s = QStringLiteral("ABT ") + one(d.d, d.m, d.y); break;
      case 2: s = QStringLiteral("BEF ") + one(d.d, d.m, d.y); break;
      case 3: s = QStringLiteral("AFT ") + one(d.d, d.m, d.y); break;
      case 4: s = QStringLiteral("BET ") + one(d.d, d.m, d.y) + QStringLiteral(" AND ") + one(d.d2, d.m2, d.y2); break;
      case 7: s = QStringLiteral("EST ") + one(d.d, d.m, d.y); break;
      default: s = one(d.d, d.m, d.y);
    }
    return d.julian ? QStringLiteral("@#DJULIAN@ ") + s : s;
  };
  const auto note = synthwords::GedcomNote;
  const auto event = [&](const QString& tag, const Event& e) {
    QString s = QStringLiteral("1 %1\n").arg(tag);
    if (e.date) s += QStringLiteral("2 DATE %1\n").arg(dateText(*e.date));
    if (e.place && !placeName[e.place].isEmpty()) s += QStringLiteral("2 PLAC %1\n").arg(placeName[e.place]);
    if (!e.note.isEmpty()) s += note(2, QStringLiteral("NOTE"), e.note);
    if (!e.cause.isEmpty()) s += QStringLiteral("2 CAUS %1\n").arg(e.cause);
    return s;
  };
  std::vector<QString> famc(t.persons.size() + 1), fams(t.persons.size() + 1);
  QString famText;
  for (std::size_t i = 0; i < t.families.size(); ++i) {
    const Family& f = t.families[i];
    const QString x = QStringLiteral("@F%1@").arg(i + 1);
    famText += QStringLiteral("0 %1 FAM\n").arg(x);
    const auto member = [&](const char* tag, std::int64_t k, std::vector<QString>& links, const char* back) {
      if (!t.persons[std::size_t(k - 1)].stamped) return;
      famText += QStringLiteral("1 %1 @I%2@\n").arg(QLatin1String(tag)).arg(t.persons[std::size_t(k - 1)].id);
      links[std::size_t(k)] += QStringLiteral("1 %1 %2\n").arg(QLatin1String(back), x);
    };
    if (f.fatherRole) member("HUSB", f.father, fams, "FAMS");
    member("WIFE", f.mother, fams, "FAMS");
    for (std::int64_t c : f.children) member("CHIL", c, famc, "FAMC");
    if (f.marriage) famText += event(QStringLiteral("MARR"), *f.marriage);
  }
  for (std::size_t k = 1; k <= t.persons.size(); ++k) {
    const Person& p = t.persons[k - 1];
    if (!p.stamped) continue;
    out += QStringLiteral("0 @I%1@ INDI\n").arg(p.id);
    if (p.named) {
      out += QStringLiteral("1 NAME %1 %2 /%3/\n").arg(p.first, p.patr, p.sur);
      if (!p.birthSur.isEmpty())
        out += QStringLiteral("2 SURN %1\n2 _MARNM %2\n").arg(p.birthSur, p.sur);
      else
        out += QStringLiteral("2 SURN %1\n").arg(p.sur);
    }
    if (p.sex) out += p.sex == 1 ? QStringLiteral("1 SEX M\n") : QStringLiteral("1 SEX F\n");
    if (p.birth) out += event(QStringLiteral("BIRT"), *p.birth);
    if (p.death) out += event(QStringLiteral("DEAT"), *p.death);
    if (p.residence && !placeName[p.residence].isEmpty())
      out += QStringLiteral("1 RESI\n2 PLAC %1\n").arg(placeName[p.residence]);
    if (!p.note.isEmpty()) out += note(1, QStringLiteral("NOTE"), p.note);
    out += famc[k] + fams[k];
  }
  out += famText + QStringLiteral("0 TRLR\n");
  return out.toUtf8();
}

}  // namespace at5synth
