// Synthetic ".at4" family trees for the reader's tests, the benchmark and trevolan-at4gen: a seeded
// logical tree (persons, events, places, dates, families) written three ways:
//   - as an ".at4" database through the program's own engine, with the tables, columns and indexes of
//     the genealogy program's schema (Persons, Dates, Values, Places, EventDetails, Events, global);
//   - as the model the ".at4" reader must produce from it (Expected), built straight from the logical
//     tree with the rules of that format, so that a test compares the reader's dump with it;
//   - as a GEDCOM file of the same persons and families (Gedcom).
// Tree shape (n persons, index k = 1..n): odd persons are men, even women; family f has the spouses
// 2f-1 and 2f and the children 4f..4f+3. Ids are texts of 10 characters (digits and capitals, scattered
// so that the id order is not the index order). Special cases recur at fixed steps: persons without
// birth, without names, with a residence text longer than the short column (whole in vblob as
// UTF-16LE) or of exactly 120 characters, with line breaks; dates of every type with "?" parts, B.C.
// and Julian; events without dates or with a date id that points nowhere; places without names and
// place links that point nowhere; families without a father role, second marriages, witnesses (roles
// other than 1, 2, 3, 5, 6), a child whose id is not among the persons; one "global" row holding the
// full-name layout.
// Header-only; needs the engine started (TDataModule2 or EngineStartup) while writing.
#pragma once

#include "app/core/GDate.h"
#include "app/core/Model.h"
#include "app/core/UnitFunc.h"
#include "engine/components/NRDDatabase.h"
#include "engine/components/NRDTable.h"
#include "sources/DbValues.h"

#include "tools/SynthWords.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace at4synth {

// One Dates row as the other program writes it: the short text and the parts.
struct Date {
  QString shortText;
  int type = 0;
  int d = 0, m = 0, y = 0;
  int d2 = 0, m2 = 0, y2 = 0;
  bool julian = false, bc = false;
  QString gedcom;  // the same date in GEDCOM form (empty: not written to the GEDCOM twin)
};

struct Event {
  QString id;
  std::optional<Date> date;
  bool danglingDate = false;  // the E_7 value links to a Dates id that does not exist
  QString place;              // place id, empty none (may point nowhere)
  QString note;
};

struct Person {
  QString id;
  QString sex;  // "M", "F", or other
  bool named = true;
  QString sur, birthSur, first, patr;
  QString fullname;
  QString residence;      // place id
  QString residenceText;  // the P_26 value's text (the person's note)
  std::optional<Event> birth;
  std::optional<Event> death;
};

struct Place {
  QString id;
  QString shortName, fullName;
};

struct Family {
  std::int64_t father = 0, mother = 0;  // person indexes (1-based)
  bool fatherRole = true;
  std::vector<std::int64_t> children;  // person indexes, in order
  QString missingChild;                // a child role of an id not among the persons
  std::optional<Event> marriage;
};

struct Tree {
  std::vector<Person> persons;  // element k-1 is person k
  std::vector<Place> places;
  std::vector<Family> families;
  std::vector<Event> extraEvents;  // the events of missing children
};

inline const char* const kMonths[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                        "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

// A 10-character id of digits and capitals for the number v (distinct numbers, distinct ids).
inline QString Id(char prefix, std::uint64_t v) {
  static const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  // Scattered, so that the order of the ids is not the order of the numbers.
  std::uint64_t x = (v * 0x9E3779B1ull) % 2176782336ull;  // 36^6
  QString s(9, u'0');
  for (int i = 8; i >= 0; --i) {
    s[i] = QLatin1Char(kDigits[x % 36]);
    x /= 36;
  }
  return QLatin1Char(prefix) + s;
}

// The full-name layout of the "global" row, as the other program stores it.
inline QString LayoutXml(bool declaration = true) {
  return QString(declaration ? QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n") : QString()) +
         QStringLiteral("<fullname>"
                        "<field fieldID=\"P_8\" prefix=\"\" suffix=\"\" emptyval=\"\" abbr=\"0\"/>"
                        "<field fieldID=\"P_9\" prefix=\"(\" suffix=\")\" emptyval=\"\" abbr=\"0\"/>"
                        "<field fieldID=\"P_10\" prefix=\"\" suffix=\"\" emptyval=\"\" abbr=\"0\"/>"
                        "<field fieldID=\"P_11\" prefix=\"\" suffix=\"\" emptyval=\"\" abbr=\"0\"/>"
                        "</fullname>");
}

inline Tree MakeTree(std::int64_t n, std::uint64_t seed = 1) {
  using namespace synthwords;
  Random rnd(seed, n);
  Tree t;
  for (int i = 0; i < 12; ++i) {
    Place p;
    p.id = Id('L', std::uint64_t(i) + 1);
    if (i != 11) {  // place 11 has no names
      p.shortName = QString::fromUtf16(kPlaces[i % 6]) + (i >= 6 ? QStringLiteral(" %1").arg(i) : QString());
      p.fullName = p.shortName + QStringLiteral(", губерния %1").arg(i % 4 + 1);
    }
    t.places.push_back(p);
  }
  const QString nowhere = Id('L', 999999);  // a place id no row has
  std::uint64_t nextEvent = 1;
  const auto two = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
  const auto dmy = [&](int d, int m, int y) { return two(d) + u'.' + two(m) + u'.' + QString::number(y); };
  const auto gd = [](int d, int m, int y) {
    QString r;
    if (d) r += QString::number(d) + u' ';
    if (m) r += QString::fromLatin1(kMonths[m - 1]) + u' ';
    return r + QString::number(y);
  };
  auto date = [&](int year) {
    Date d;
    d.y = year;
    d.m = rnd(12) + 1;
    d.d = rnd(28) + 1;
    switch (rnd(14)) {
      case 0: case 1: case 2:  // exact
        d.shortText = dmy(d.d, d.m, d.y);
        d.gedcom = gd(d.d, d.m, d.y);
        break;
      case 3:  // the year alone
        d.d = d.m = 0;
        d.shortText = QString::number(year);
        d.gedcom = gd(0, 0, year);
        break;
      case 4:  // an unknown day
        d.d = 0;
        d.shortText = QStringLiteral("?.") + two(d.m) + u'.' + QString::number(year);
        d.gedcom = gd(0, d.m, year);
        break;
      case 5:  // month and year
        d.d = 0;
        d.shortText = two(d.m) + u'.' + QString::number(year);
        d.gedcom = gd(0, d.m, year);
        break;
      case 6:  // an unknown month
        d.m = 0;
        d.shortText = two(d.d) + QStringLiteral(".?.") + QString::number(year);
        break;
      case 7:  // about a day
        d.type = 1;
        d.shortText = u'~' + dmy(d.d, d.m, d.y);
        d.gedcom = QStringLiteral("ABT ") + gd(d.d, d.m, d.y);
        break;
      case 8:  // before a day
        d.type = 2;
        d.shortText = u'<' + dmy(d.d, d.m, d.y);
        d.gedcom = QStringLiteral("BEF ") + gd(d.d, d.m, d.y);
        break;
      case 9:  // after a year
        d.type = 3;
        d.d = d.m = 0;
        d.shortText = u'>' + QString::number(year);
        d.gedcom = QStringLiteral("AFT ") + gd(0, 0, year);
        break;
      case 10:  // between two days
        d.type = 4;
        d.y2 = year + 1 + rnd(3);
        d.m2 = rnd(12) + 1;
        d.d2 = rnd(28) + 1;
        d.shortText = dmy(d.d, d.m, d.y) + QStringLiteral("..") + dmy(d.d2, d.m2, d.y2);
        d.gedcom = QStringLiteral("BET ") + gd(d.d, d.m, d.y) + QStringLiteral(" AND ") + gd(d.d2, d.m2, d.y2);
        break;
      case 11:  // exact, Julian
        d.julian = true;
        d.shortText = dmy(d.d, d.m, d.y);
        d.gedcom = QStringLiteral("@#DJULIAN@ ") + gd(d.d, d.m, d.y);
        break;
      case 12:  // from one year to another, or one of two
        d.d = d.m = 0;
        d.y2 = year + 1 + rnd(5);
        if (rnd(2)) {
          d.type = 8;
          d.shortText = QString::number(year) + u'-' + QString::number(d.y2);
          d.gedcom = QStringLiteral("FROM ") + QString::number(year) + QStringLiteral(" TO ") + QString::number(d.y2);
        } else {
          d.type = 5;
          d.shortText = QString::number(year) + u'(' + QString::number(d.y2) + u')';
        }
        break;
      default:  // estimated, or a year before Christ
        d.d = d.m = 0;
        if (rnd(2)) {
          d.type = 7;
          d.shortText = u'~' + QString::number(year);
          d.gedcom = QStringLiteral("EST ") + QString::number(year);
        } else {
          d.bc = true;
          d.y = 100 + rnd(800);
          d.shortText = QString::number(d.y);
        }
        break;
    }
    return d;
  };
  auto event = [&](int year) {
    Event e;
    e.id = Id('E', nextEvent++);
    const int dated = rnd(19);
    if (dated == 0)
      e.danglingDate = true;
    else if (dated != 1)
      e.date = date(year);
    const int placed = rnd(9);
    if (placed == 0)
      e.place = nowhere;
    else if (placed > 2)
      e.place = t.places[std::size_t(rnd(12))].id;
    if (rnd(5) == 0)
      e.note = QStringLiteral("Запись №%1").arg(nextEvent) + (rnd(3) == 0 ? QStringLiteral("\r\nвторая строка") : QString());
    else if (rnd(40) == 0)
      e.note = QStringLiteral("Длинная запись %1: ").arg(nextEvent) + QString(150, u'ю');
    return e;
  };
  for (std::int64_t k = 1; k <= n; ++k) {
    Person p;
    p.id = Id('I', std::uint64_t(k));
    const bool man = k % 2 == 1;
    p.sex = k % 23 == 0 ? (k % 46 == 0 ? QString() : QStringLiteral("U")) : man ? QStringLiteral("M") : QStringLiteral("F");
    p.named = k % 29 != 0;
    const std::int64_t famc = k / 4;
    const int year = 1700 + int(k % 250);
    p.first = QString::fromUtf16(man ? kMale[rnd(6)] : kFemale[rnd(6)]);
    p.patr = QString::fromUtf16(man ? kPatrM[rnd(4)] : kPatrF[rnd(4)]);
    const QString sur = QString::fromUtf16(kSur[(famc > 0 ? famc : k) % 6]);
    p.sur = man ? sur : sur + u'а';
    if (!man) p.birthSur = QString::fromUtf16(kSur[(k / 2 + 1) % 6]) + u'а';
    if (p.named)
      p.fullname = FormatFullName(p.sur, p.first, p.patr, p.birthSur, QString::fromUtf16(u"14)23"));
    if (k % 3 == 0) p.residence = t.places[std::size_t(rnd(12))].id;
    if (k % 10 == 0)  // longer than the short column: whole in vblob
      p.residenceText = QStringLiteral("Длинная заметка %1: ").arg(k) + QString(200, u'ж') + QStringLiteral(" конец");
    else if (k % 10 == 5)
      p.residenceText = QStringLiteral("Заметка %1\r\nстрока 2").arg(k);
    else if (k % 20 == 7)  // exactly as long as the short column
      p.residenceText = QStringLiteral("Ровно %1 ").arg(k).leftJustified(120, u'ф');
    else if (k % 20 == 9)  // one shorter
      p.residenceText = QStringLiteral("Почти %1 ").arg(k).leftJustified(119, u'ф');
    if (!p.residenceText.isEmpty() && p.residence.isEmpty() && k % 4 == 1) p.residence = t.places[0].id;
    if (k % 13 != 0) p.birth = event(year);
    if (k % 5 < 2) p.death = event(year + 50 + rnd(30));
    t.persons.push_back(std::move(p));
  }
  for (std::int64_t f = 1; 2 * f <= n; ++f) {
    Family fam;
    fam.father = 2 * f - 1;
    fam.mother = 2 * f;
    for (std::int64_t c = 4 * f; c < 4 * f + 4 && c <= n; ++c)
      if (t.persons[std::size_t(c - 1)].birth) fam.children.push_back(c);
    // Families without a father role have one child, so their rows have one order.
    fam.fatherRole = f % 11 != 0;
    if (!fam.fatherRole && fam.children.size() > 1) fam.children.erase(fam.children.begin() + 1, fam.children.end());
    if (fam.fatherRole && f % 5 != 0) fam.marriage = event(1720 + int(f % 250));
    if (fam.fatherRole && f % 17 == 3) {
      fam.missingChild = Id('X', std::uint64_t(f));
      t.extraEvents.push_back(event(1750));
    }
    if (fam.children.empty() && !fam.marriage && fam.missingChild.isEmpty()) continue;
    t.families.push_back(std::move(fam));
    // A second marriage: the father of some families marries the mother of the next family too.
    if (f % 9 == 4 && 2 * (f + 1) <= n && f % 11 != 0) {
      Family second;
      second.father = 2 * f - 1;
      second.mother = 2 * (f + 1);
      second.marriage = event(1730 + int(f % 250));
      t.families.push_back(std::move(second));
    }
  }
  return t;
}

// ---------------------------------------------------------------- the ".at4" file

namespace detail {

struct Col {
  const char* name;
  nrd::TNRDAdvancedFieldType type;
  std::int32_t size;
};

inline void MakeTable(const std::string& db, const char* name, std::initializer_list<Col> columns,
                      std::initializer_list<std::pair<const char*, const char*>> indexes, nrd::TNRDTable& t) {
  t.SetDatabaseName(db);
  t.SetTableName(name);
  for (const Col& c : columns) t.AdvFieldDefs().Add(c.name, c.type, c.size, false);
  bool first = true;
  for (const auto& [index, fields] : indexes) {
    t.AdvIndexDefs().Add(index, fields, first ? nrd::TIndexOptions(nrd::ixPrimary) : nrd::TIndexOptions(0));
    first = false;
  }
  t.CreateTable();
  t.Open();
}

inline void SetText(nrd::TNRDTable& t, const char* field, const QString& v) {
  if (!v.isNull()) t.FieldByName(field).SetAsWideString(v.toStdU16String());
}

inline std::string Utf16Le(const QString& s) { return dbvalues::Utf16LeOf(s); }

}  // namespace detail

// What a written file leaves out, for the tests of damaged files.
struct Damage {
  bool noSearchIndex = false;   // Values without its index "search"
  bool noPersons = false;       // no table Persons
  std::string oddBlobOf;        // the id of a person whose residence text's BLOB gets an odd byte more
};

// Writes the tree as a new ".at4" file at path (an existing file is replaced) through the engine, with
// the database named dbName (not open elsewhere). password: an encrypted file.
inline void WriteAt4(const Tree& t, const std::string& path, const std::string& dbName = "at4gen",
                     const Damage& damage = {}, const std::string& password = std::string()) {
  using namespace nrd;
  std::filesystem::remove(path);
  TNRDDatabase db;
  db.SetDatabaseName(dbName);
  db.SetDatabaseFileName(path);
  db.SetSilentMode(true);
  if (!password.empty()) db.SetPassword(password);
  db.CreateDatabase();
  db.Open();
  const auto id = [](const char* name) { return detail::Col{name, aftString, 10}; };
  {
    TNRDTable places;
    detail::MakeTable(dbName, "Places",
                      {id("id"), id("parent_id"), id("group_id"), {"maskfull", aftInteger, 0}, {"maskshort", aftInteger, 0},
                       {"fullname", aftWideString, 400}, {"shortname", aftWideString, 200}, {"isfav", aftBoolean, 0}},
                      {{"id", "id"}, {"group_id", "group_id"}, {"parent_id", "parent_id"}}, places);
    for (const Place& p : t.places) {
      places.Append();
      detail::SetText(places, "id", p.id);
      detail::SetText(places, "fullname", p.fullName);
      detail::SetText(places, "shortname", p.shortName);
      places.Post();
    }
  }
  TNRDTable values, dates, roles, events;
  if (damage.noSearchIndex)
    detail::MakeTable(dbName, "Values",
                      {id("id"), id("f_id"), id("r_id"), {"vstr", aftWideString, 120}, {"vint", aftInteger, 0},
                       {"vbool", aftBoolean, 0}, id("vlink"), {"vfloat", aftDouble, 0}, {"vblob", aftBlob, 0},
                       {"lconf", aftSmallint, 0}, {"ltrust", aftSmallint, 0}, {"comment", aftBlob, 0}},
                      {{"id", "id"}, {"f_id", "f_id"}, {"r_id", "r_id"}, {"vlink", "vlink"}}, values);
  else
    detail::MakeTable(dbName, "Values",
                      {id("id"), id("f_id"), id("r_id"), {"vstr", aftWideString, 120}, {"vint", aftInteger, 0},
                       {"vbool", aftBoolean, 0}, id("vlink"), {"vfloat", aftDouble, 0}, {"vblob", aftBlob, 0},
                       {"lconf", aftSmallint, 0}, {"ltrust", aftSmallint, 0}, {"comment", aftBlob, 0}},
                      {{"id", "id"}, {"search", "f_id;r_id"}, {"f_id", "f_id"}, {"r_id", "r_id"}, {"vlink", "vlink"}},
                      values);
  detail::MakeTable(dbName, "Dates",
                    {id("id"), {"d", aftSmallint, 0}, {"m", aftSmallint, 0}, {"y", aftSmallint, 0},
                     {"d2", aftSmallint, 0}, {"m2", aftSmallint, 0}, {"y2", aftSmallint, 0}, {"isjulian", aftBoolean, 0},
                     {"isdateBC", aftBoolean, 0}, {"isdate2BC", aftBoolean, 0}, {"type", aftSmallint, 0},
                     {"sortdate", aftInteger, 0}, {"sortdate2", aftInteger, 0}, {"sortdate3", aftInteger, 0},
                     {"sortdate4", aftInteger, 0}, {"fullname", aftWideString, 100}, {"shortname", aftWideString, 100},
                     {"years", aftWideString, 30}},
                    {{"id", "id"}}, dates);
  detail::MakeTable(dbName, "EventDetails",
                    {id("id"), id("p_id"), id("e_id"), id("er_id"), {"e_ord", aftSmallint, 0}, {"p_ord", aftSmallint, 0}},
                    {{"id", "id"},
                     {"thisperson", "p_id;e_ord"},
                     {"thisevent", "e_id;p_ord"},
                     {"srole", "p_id;er_id"},
                     {"e_id", "e_id"},
                     {"er_id", "er_id"},
                     {"p_ide_id", "p_id;e_id"},
                     {"p_id", "p_id"}},
                    roles);
  detail::MakeTable(dbName, "Events", {id("id"), id("et_id"), {"mainpers", aftWideString, 200}}, {{"id", "id"}}, events);
  std::optional<TNRDTable> persons;
  if (!damage.noPersons) {
    persons.emplace();
    detail::MakeTable(dbName, "Persons",
                      {id("id"), {"fullname", aftWideString, 182}, {"isfav", aftBoolean, 0}, {"sex", aftString, 1},
                       id("birth_id"), id("death_id")},
                      {{"id", "id"}}, *persons);
  }
  TNRDTable global;
  detail::MakeTable(dbName, "global", {{"fullname", aftBlob, 0}, id("id")}, {}, global);
  // One transaction for the rows: a change set written once instead of once per row.
  db.StartTransaction();

  std::uint64_t nextValue = 1, nextDate = 1, nextRole = 1;
  const auto value = [&](const char* fid, const QString& rid, const QString& text, const QString& link = QString(),
                         bool oddBlob = false) {
    values.Append();
    detail::SetText(values, "id", Id('V', nextValue++));
    detail::SetText(values, "f_id", QString::fromLatin1(fid));
    detail::SetText(values, "r_id", rid);
    if (!text.isEmpty()) detail::SetText(values, "vstr", text.left(120));
    if (text.size() >= 120) {
      std::string bytes = detail::Utf16Le(text);
      if (oddBlob) bytes.push_back('x');
      values.FieldByName("vblob").SetAsBytes(bytes);
    }
    if (!link.isEmpty()) detail::SetText(values, "vlink", link);
    values.Post();
  };
  const auto role = [&](const QString& person, const QString& event, int r, int ord) {
    roles.Append();
    detail::SetText(roles, "id", Id('R', nextRole++));
    detail::SetText(roles, "p_id", person);
    detail::SetText(roles, "e_id", event);
    detail::SetText(roles, "er_id", QString::number(r));
    roles.FieldByName("e_ord").SetAsInteger(ord);
    roles.FieldByName("p_ord").SetAsInteger(0);
    roles.Post();
  };
  const auto eventRows = [&](const Event& e, const QString& mainpers) {
    events.Append();
    detail::SetText(events, "id", e.id);
    detail::SetText(events, "et_id", QStringLiteral("1"));
    detail::SetText(events, "mainpers", mainpers);
    events.Post();
    if (e.date) {
      const Date& d = *e.date;
      const QString did = Id('D', nextDate++);
      dates.Append();
      detail::SetText(dates, "id", did);
      const auto num = [&dates](const char* f, int v) {
        if (v) dates.FieldByName(f).SetAsInteger(v);
      };
      num("d", d.d), num("m", d.m), num("y", d.y), num("d2", d.d2), num("m2", d.m2), num("y2", d.y2);
      dates.FieldByName("isjulian").SetAsBoolean(d.julian);
      dates.FieldByName("isdateBC").SetAsBoolean(d.bc);
      dates.FieldByName("isdate2BC").SetAsBoolean(false);
      dates.FieldByName("type").SetAsInteger(d.type);
      dates.FieldByName("sortdate").SetAsInteger(d.y * 10000 + d.m * 100 + d.d);
      detail::SetText(dates, "shortname", d.shortText);
      detail::SetText(dates, "fullname", d.shortText);
      detail::SetText(dates, "years", QString::number(d.y));
      dates.Post();
      value("E_7", e.id, QString(), did);
    } else if (e.danglingDate) {
      value("E_7", e.id, QString(), Id('D', 999999));
    }
    if (!e.place.isEmpty()) value("E_6", e.id, QString(), e.place);
    if (!e.note.isEmpty()) value("E_14", e.id, e.note);
  };
  // Persons go in in reverse order, so the row order differs from the id order the reader sorts by.
  for (auto it = t.persons.rbegin(); it != t.persons.rend(); ++it) {
    const Person& p = *it;
    if (persons) {
      persons->Append();
      detail::SetText(*persons, "id", p.id);
      detail::SetText(*persons, "fullname", p.fullname);
      persons->FieldByName("isfav").SetAsBoolean(p.id.endsWith(u'7'));
      if (!p.sex.isEmpty()) detail::SetText(*persons, "sex", p.sex);
      if (p.birth) detail::SetText(*persons, "birth_id", p.birth->id);
      if (p.death) detail::SetText(*persons, "death_id", p.death->id);
      persons->Post();
    }
    if (p.named) {
      value("P_8", p.id, p.sur);
      if (!p.birthSur.isEmpty()) value("P_9", p.id, p.birthSur);
      value("P_10", p.id, p.first);
      value("P_11", p.id, p.patr);
      value("P_33", p.id, QStringLiteral("mail@example.org"));
    }
    if (!p.residence.isEmpty() || !p.residenceText.isEmpty())
      value("P_26", p.id, p.residenceText, p.residence, p.id.toStdString() == damage.oddBlobOf);
    if (p.birth) eventRows(*p.birth, p.fullname);
    if (p.death) eventRows(*p.death, p.fullname);
  }
  std::size_t extra = 0;
  for (const Family& f : t.families) {
    const QString fid = t.persons[std::size_t(f.father - 1)].id;
    const QString mid = t.persons[std::size_t(f.mother - 1)].id;
    int ord = 1;
    for (std::int64_t c : f.children) {
      const Event& b = *t.persons[std::size_t(c - 1)].birth;
      role(t.persons[std::size_t(c - 1)].id, b.id, 1, 0);
      if (f.fatherRole) role(fid, b.id, 2, ord);
      role(mid, b.id, 3, ord);
      if (c % 7 == 0) role(t.persons[std::size_t((c * 3) % std::int64_t(t.persons.size()))].id, b.id, 4, 0);  // a witness
      ++ord;
    }
    if (!f.missingChild.isEmpty()) {
      const Event& b = t.extraEvents[extra++];
      eventRows(b, QString());
      role(f.missingChild, b.id, 1, 0);
      role(fid, b.id, 2, ord);
      role(mid, b.id, 3, ord);
    }
    if (f.marriage) {
      eventRows(*f.marriage, QString());
      role(fid, f.marriage->id, 5, ord + 10);
      role(mid, f.marriage->id, 6, 0);
      if (f.father % 3 == 0) role(t.persons[0].id, f.marriage->id, 9, 0);  // a guest of the wedding
    }
  }
  global.Append();
  global.FieldByName("fullname").SetAsBytes(detail::Utf16Le(LayoutXml()));
  detail::SetText(global, "id", QStringLiteral("1"));
  global.Post();
  db.Commit();
  for (TNRDTable* tt : {&values, &dates, &roles, &events, &global}) tt->Close();
  if (persons) persons->Close();
  db.Close();
}

// ---------------------------------------------------------------- the expected model

// The model the ".at4" reader must make of the tree with the given "today".
inline Model Expected(const Tree& t, const TDateContext& today) {
  Model m;
  m.Clear();
  const TDATES empty = GDate_RDates(QString(), today);
  m.aIndi[0].BIRT_DATE = empty;
  std::map<QString, QString> placeName;
  for (const Place& p : t.places) placeName[p.id] = p.fullName;
  // Persons in the order of their ids.
  std::vector<std::size_t> order(t.persons.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&t](std::size_t a, std::size_t b) { return t.persons[a].id < t.persons[b].id; });
  std::vector<std::int64_t> index(t.persons.size() + 1, 0);  // tree index -> model index
  const auto eventDate = [&](const Event& e) {
    if (!e.date) return empty;
    const Date& d = *e.date;
    return dbvalues::At4Date(d.shortText, d.d, d.m, d.y, d.type, d.julian, d.bc, today);
  };
  for (std::size_t k : order) {
    const Person& s = t.persons[k];
    TINDI p;
    index[k + 1] = std::int64_t(m.aIndi.size());
    p.INDI = QString::number(m.aIndi.size());
    p._UID = s.id;
    p.SEX = s.sex;
    p.FIO1 = s.fullname;
    if (!s.residence.isEmpty() || !s.residenceText.isEmpty()) {
      p.RESI_PLAC = placeName[s.residence];
      p.NOTE = s.residenceText;
    }
    p.BIRT_DATE = s.birth ? eventDate(*s.birth) : empty;
    if (s.birth) {
      p.BIRT_DATE.CALEN = s.birth->id;
      p.BIRT_PLAC = placeName[s.birth->place];
      p.BIRT_NOTE = s.birth->note;
    }
    if (s.death) {
      p.DEAT = QStringLiteral("+");
      p.DEAT_DATE = eventDate(*s.death);
      p.DEAT_DATE.CALEN = s.death->id;
      p.DEAT_PLAC = placeName[s.death->place];
      p.DEAT_NOTE = s.death->note;
    }
    if (s.named) {
      p.SURN = p.SURN1 = s.sur;
      p.SURN0 = s.birthSur;
      p.FIRS1 = s.first;
      p.PATR1 = s.patr;
    }
    p.GIVN = p.FIRS1 + u' ' + p.PATR1;
    p.iPr = p.iPot = -1;
    m.aIndi.push_back(std::move(p));
  }
  // Families in the order of the role rows: by father id (none first), then mother id.
  std::vector<const Family*> fams;
  for (const Family& f : t.families) fams.push_back(&f);
  const auto fatherId = [&](const Family* f) { return f->fatherRole ? t.persons[std::size_t(f->father - 1)].id : QString(); };
  const auto motherId = [&](const Family* f) { return t.persons[std::size_t(f->mother - 1)].id; };
  std::stable_sort(fams.begin(), fams.end(), [&](const Family* a, const Family* b) {
    if (fatherId(a) != fatherId(b)) return fatherId(a) < fatherId(b);
    return motherId(a) < motherId(b);
  });
  for (const Family* f : fams) {
    TFAM fam;
    const std::int64_t fi = std::int64_t(m.aFam.size());
    fam.FAM = fatherId(f) + u' ' + motherId(f);
    const std::int64_t h = f->fatherRole ? index[std::size_t(f->father)] : 0;
    const std::int64_t w = index[std::size_t(f->mother)];
    fam.HUSB = h;
    fam.WIFE = w;
    // In index order, as the persons are found.
    if (h && w && w < h) {
      m.aIndi[std::size_t(w)].FAMS.push_back(fi);
      m.aIndi[std::size_t(h)].FAMS.push_back(fi);
    } else {
      if (h) m.aIndi[std::size_t(h)].FAMS.push_back(fi);
      if (w) m.aIndi[std::size_t(w)].FAMS.push_back(fi);
    }
    for (std::int64_t c : f->children) {
      fam.CHIL.push_back(index[std::size_t(c)]);
      m.aIndi[std::size_t(index[std::size_t(c)])].FAMC = fi;
    }
    if (f->marriage) {
      fam.MARR = QStringLiteral("x");
      if (f->marriage->date) fam.MARR_DATE = eventDate(*f->marriage);
      fam.MARR_PLAC = placeName[f->marriage->place];
      fam.MARR_NOTE = f->marriage->note;
    }
    m.aFam.push_back(std::move(fam));
  }
  return m;
}

// ---------------------------------------------------------------- the same tree as GEDCOM

// The persons and families as a UTF-8 GEDCOM text. Dates the GEDCOM grammar has no form for (an unknown
// month, "one of two", B.C.) are left out; identifiers are "@<id>@" and "@F<n>@".
inline QByteArray Gedcom(const Tree& t) {
  QString out = QStringLiteral("0 HEAD\n1 SOUR Synth\n1 CHAR UTF-8\n");
  std::map<QString, QString> placeName;
  for (const Place& p : t.places) placeName[p.id] = p.fullName;
  const auto note = synthwords::GedcomNote;
  const auto event = [&](const QString& tag, const Event& e) {
    QString s = QStringLiteral("1 %1\n").arg(tag);
    if (e.date && !e.date->gedcom.isEmpty()) s += QStringLiteral("2 DATE %1\n").arg(e.date->gedcom);
    if (!placeName[e.place].isEmpty()) s += QStringLiteral("2 PLAC %1\n").arg(placeName[e.place]);
    if (!e.note.isEmpty()) s += note(2, QStringLiteral("NOTE"), e.note);
    return s;
  };
  std::vector<QString> links(t.persons.size() + 1);
  QString famText;
  for (std::size_t i = 0; i < t.families.size(); ++i) {
    const Family& f = t.families[i];
    const QString x = QStringLiteral("@F%1@").arg(i + 1);
    famText += QStringLiteral("0 %1 FAM\n").arg(x);
    const auto member = [&](const char* tag, std::int64_t k, const char* back) {
      famText += QStringLiteral("1 %1 @%2@\n").arg(QLatin1String(tag), t.persons[std::size_t(k - 1)].id);
      links[std::size_t(k)] += QStringLiteral("1 %1 %2\n").arg(QLatin1String(back), x);
    };
    if (f.fatherRole) member("HUSB", f.father, "FAMS");
    member("WIFE", f.mother, "FAMS");
    for (std::int64_t c : f.children) member("CHIL", c, "FAMC");
    if (f.marriage) famText += event(QStringLiteral("MARR"), *f.marriage);
  }
  for (std::size_t k = 1; k <= t.persons.size(); ++k) {
    const Person& p = t.persons[k - 1];
    out += QStringLiteral("0 @%1@ INDI\n").arg(p.id);
    if (p.named) {
      out += QStringLiteral("1 NAME %1 %2 /%3/\n").arg(p.first, p.patr, p.sur);
      if (!p.birthSur.isEmpty())
        out += QStringLiteral("2 SURN %1\n2 _MARNM %2\n").arg(p.birthSur, p.sur);
      else
        out += QStringLiteral("2 SURN %1\n").arg(p.sur);
    }
    if (p.sex == u"M" || p.sex == u"F") out += QStringLiteral("1 SEX %1\n").arg(p.sex);
    if (p.birth) out += event(QStringLiteral("BIRT"), *p.birth);
    if (p.death) out += event(QStringLiteral("DEAT"), *p.death);
    if (!placeName[p.residence].isEmpty()) out += QStringLiteral("1 RESI\n2 PLAC %1\n").arg(placeName[p.residence]);
    if (!p.residenceText.isEmpty()) out += note(1, QStringLiteral("NOTE"), p.residenceText);
    out += links[k];
  }
  out += famText + QStringLiteral("0 TRLR\n");
  return out.toUtf8();
}

}  // namespace at4synth
