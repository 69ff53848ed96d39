// The ".at4" reader; see At4Reader.h.
//
// Schema as read (engine tables; ids are texts of 10 characters; a value belongs to the record r_id):
//   Persons       id, fullname (wide), sex ("M", "F"), birth_id, death_id (event ids)
//   Values        f_id, r_id, vstr (up to 120 characters), vlink (a linked record's id), vblob (the
//                 whole text as UTF-16LE when vstr may be cut); index "search" (f_id; r_id)
//   Dates         id, shortname, d, m, y, type, isjulian, isdateBC; index on id
//   Places        id, shortname, fullname; index "id"
//   EventDetails  p_id, e_id, er_id (role), e_ord (the role query reads it)
// Value codes: person "P_8" surname, "P_9" birth surname, "P_10" first name, "P_11" patronymic, "P_26"
// residence (vlink a place, the text the person's note); event "E_6" place, "E_7" date, "E_14" note.
// Roles: 1 child, 2 father, 3 mother, 5 husband, 6 wife.
#include "sources/At4Reader.h"

#include "sources/At4IdIndex.h"
#include "sources/DbValues.h"
#include "sources/RecordColumn.h"

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDText.h"

#include <QFileInfo>

#include <algorithm>
#include <new>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace {

// A short text this long may have been cut; the whole text is then in vblob.
constexpr qsizetype kShortTextLimit = 120;
// How often (rows) progress is reported and the stop flag looked at.
constexpr std::int64_t kProgressStep = 10;
// The rows the family pass may make from the role table: this many per role row plus a fixed allowance.
// A family tree's events have a father, a mother and a few children, far below it; an event with hundreds
// of each would make millions of combinations out of a few hundred rows.
constexpr std::uint64_t kCombinationsPerRole = 8;
constexpr std::uint64_t kCombinationAllowance = 10000;

// The tables the reader opens, with the columns it reads and the index it searches by.
const struct {
  const char* table;
  std::initializer_list<const char*> columns;
} kSchema[] = {
    {"Persons", {"id", "fullname", "sex", "birth_id", "death_id"}},
    {"Values", {"f_id", "r_id", "vstr", "vlink", "vblob"}},
    {"Dates", {"id", "shortname", "d", "m", "y", "type", "isjulian", "isdateBC"}},
    {"Places", {"id", "shortname", "fullname"}},
    {"EventDetails", {"p_id", "e_id", "er_id", "e_ord"}},
};

// Closes the work components on every way out of a read; the database stays open.
class ReadScope {
 public:
  explicit ReadScope(TDataModule2& dm) : dm_(dm) {}
  ~ReadScope() {
    for (nrd::TNRDDataSet* ds : {static_cast<nrd::TNRDDataSet*>(&dm_.Query_), static_cast<nrd::TNRDDataSet*>(&dm_.Query_TMP),
                                 static_cast<nrd::TNRDDataSet*>(&dm_.Table_Dates),
                                 static_cast<nrd::TNRDDataSet*>(&dm_.Table_Values)}) {
      try {
        ds->Close();
      } catch (...) {
      }
    }
  }
  ReadScope(const ReadScope&) = delete;
  ReadScope& operator=(const ReadScope&) = delete;

 private:
  TDataModule2& dm_;
};

}  // namespace

QString EAt4Read::Key(Kind kind) {
  switch (kind) {
    case OpenFailed:
      return QStringLiteral("FileOpenError");
    case NotDatabase:
      return QStringLiteral("At4NotDatabase");
    case Damaged:
      return QStringLiteral("At4Damaged");
    case NoPassword:
      return QStringLiteral("At4NoPassword");
    case NotFamilyTree:
      return QStringLiteral("At4NotFamilyTree");
    case BadText:
      return QStringLiteral("At4BadText");
    case TooManyRoles:
      return QStringLiteral("At4TooManyRoles");
    case BadLayout:
      return QStringLiteral("At4BadLayout");
    case ReadFailed:
      break;
  }
  return QStringLiteral("At4ReadFailed");
}

QString EAt4Read::DefaultText(Kind kind) {
  switch (kind) {
    case OpenFailed:
      return QStringLiteral("Не удалось открыть файл \"%s\"");
    case NotDatabase:
      return QStringLiteral("Файл \"%s\" не является базой данных .at4");
    case Damaged:
      return QStringLiteral("База данных \"%s\" повреждена: %s");
    case NoPassword:
      return QStringLiteral("База данных \"%s\" защищена паролем; без пароля она не читается");
    case NotFamilyTree:
      return QStringLiteral("В базе данных \"%s\" нет таблицы, поля или индекса семейного дерева: %s");
    case BadText:
      return QStringLiteral("В базе данных \"%s\" текст значения %s записан не в UTF-16 (нечётное число байтов)");
    case TooManyRoles:
      return QStringLiteral("База данных \"%s\" не читается: у событий слишком много участников");
    case BadLayout:
      return QStringLiteral("Макет полного имени в базе данных \"%s\" не читается: %s");
    case ReadFailed:
      break;
  }
  return QStringLiteral("Не удалось прочитать базу данных \"%s\": %s");
}

// ---------------------------------------------------------------- families

namespace {
// A person id as index bytes: its characters as single bytes when all are below 256 (ids are plain
// ASCII texts), else its UTF-16 units; the second form is kept in an index of its own, so the two
// forms of different ids never meet.
bool IdBytes(const QString& id, std::string& out) {
  const qsizetype n = id.size();
  const QChar* c = id.constData();
  out.resize(std::size_t(n));
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t u = c[i].unicode();
    if (u > 0xFF) {
      out.assign(reinterpret_cast<const char*>(c), std::size_t(n) * sizeof(char16_t));
      return false;
    }
    out[std::size_t(i)] = char(u);
  }
  return true;
}
}  // namespace

TAt4FamilyBuilder::TAt4FamilyBuilder(Model& model) : model_(model), next_(model.aIndi.size(), 0) {
  const std::size_t n = model.aIndi.size();
  narrowIds_.Reserve(n);
  narrowFirst_.reserve(n);
  // Built from the last person back, so that each id's chain runs in index order.
  for (std::size_t i = n; i-- > 1;) {
    const bool narrow = IdBytes(model.aIndi[i]._UID, bytes_);
    std::vector<std::int64_t>& firstOf = narrow ? narrowFirst_ : wideFirst_;
    const auto [number, added] = (narrow ? narrowIds_ : wideIds_).Add(bytes_);
    if (added) firstOf.push_back(0);
    next_[i] = firstOf[number];
    firstOf[number] = std::int64_t(i);
  }
}

void TAt4FamilyBuilder::Candidates(const QString& id, std::size_t limit, std::vector<std::int64_t>& out) {
  const bool narrow = IdBytes(id, bytes_);
  const std::uint32_t number = (narrow ? narrowIds_ : wideIds_).Find(bytes_);
  if (number == TAt4IdIndex::kNone) return;
  const std::int64_t first = (narrow ? narrowFirst_ : wideFirst_)[number];
  for (std::int64_t i = first; i != 0 && limit > 0; i = next_[std::size_t(i)], --limit) out.push_back(i);
}

std::int64_t TAt4FamilyBuilder::FamilyOf(const QString& father, const QString& mother) {
  // Rows of one family come together: the same two ids need no key. Other ids may still give the same
  // key (ids with blanks), which then is the same family.
  if (family_ != 0 && father == previousFather_ && mother == previousMother_) return family_;
  const QString key = father + u' ' + mother;
  previousFather_ = father;
  previousMother_ = mother;
  if (key != previousKey_) {
    model_.aFam.emplace_back();
    family_ = model_.FamilyCount();
    model_.aFam.back().FAM = key;
    previousKey_ = key;
  }
  return family_;
}

std::int64_t TAt4FamilyBuilder::ChildRow(const QString& father, const QString& mother, const QString& child) {
  if (father.isEmpty() && mother.isEmpty()) return 0;
  const std::int64_t f = FamilyOf(father, mother);
  TFAM& fam = model_.aFam[std::size_t(f)];
  int found = (fam.HUSB != 0 || father.isEmpty() ? 1 : 0) + (fam.WIFE != 0 || mother.isEmpty() ? 1 : 0);
  // Only these persons can change anything in a scan from index 1: every person with the child's id
  // counts (the first three reach the end), of the father's and the mother's ids only the first two
  // (the first may become husband, and the second wife when both ids are one).
  std::vector<std::int64_t>& who = who_;
  who.clear();
  Candidates(child, 3, who);
  Candidates(father, 2, who);
  Candidates(mother, 2, who);
  std::sort(who.begin(), who.end());
  who.erase(std::unique(who.begin(), who.end()), who.end());
  for (std::int64_t i : who) {
    if (found >= 3) break;
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
  return f;
}

std::int64_t TAt4FamilyBuilder::CoupleRow(const QString& husband, const QString& wife, bool withEvent) {
  if (husband.isEmpty() && wife.isEmpty()) return 0;
  const std::int64_t f = FamilyOf(husband, wife);
  TFAM& fam = model_.aFam[std::size_t(f)];
  fam.MARR = QStringLiteral("x");
  if (!withEvent || fam.HUSB != 0) return f;
  std::vector<std::int64_t>& who = who_;
  who.clear();
  Candidates(husband, 2, who);
  Candidates(wife, 2, who);
  std::sort(who.begin(), who.end());
  who.erase(std::unique(who.begin(), who.end()), who.end());
  int found = 0;
  for (std::int64_t i : who) {
    if (found >= 2) break;
    TINDI& p = model_.aIndi[std::size_t(i)];
    if (p._UID == husband) {
      fam.HUSB = i;
      p.FAMS.push_back(f);
      ++found;
    } else if (p._UID == wife && fam.WIFE == 0) {
      // A wife already known from the child rows is the same person: listing the family in her FAMS a
      // second time would show it twice.
      fam.WIFE = i;
      p.FAMS.push_back(f);
      ++found;
    }
  }
  return f;
}

// ---------------------------------------------------------------- role rows

namespace {
constexpr std::uint32_t kNone = 0xFFFFFFFFu;
const std::string kEmpty;
const std::string kZero = "0";
}  // namespace

const std::string& TAt4RoleRows::Text(std::size_t row, int col) const {
  const Row& r = rows_[row];
  const auto who = [&](std::uint32_t i) -> const Role* { return i == kNone ? nullptr : &roles[i]; };
  const Role* x = nullptr;
  switch (col) {
    case 0: case 1: case 2: x = who(r.couple ? r.a : r.b); break;
    case 3: case 4: case 5: x = who(r.couple ? r.b : r.c); break;
    case 6: return r.couple ? roles[r.a].e : roles[r.a].p;
    default: return r.couple ? kZero : roles[r.a].er;
  }
  if (x == nullptr) return kEmpty;
  return col % 3 == 0 ? x->p : x->er;  // cols 2 and 5 (orders) are numbers: see Compare and Show
}

bool TAt4RoleRows::Null(std::size_t row, int col) const {
  const Row& r = rows_[row];
  const auto who = [&](std::uint32_t i) -> const Role* { return i == kNone ? nullptr : &roles[i]; };
  const Role* x = nullptr;
  switch (col) {
    case 0: case 1: case 2: x = who(r.couple ? r.a : r.b); break;
    case 3: case 4: case 5: x = who(r.couple ? r.b : r.c); break;
    case 6: return r.couple ? roles[r.a].eNull : roles[r.a].pNull;
    default: return r.couple ? false : roles[r.a].erNull;
  }
  if (x == nullptr) return true;
  return col % 3 == 0 ? x->pNull : col % 3 == 1 ? x->erNull : x->ordNull;
}

std::string TAt4RoleRows::Show(std::size_t row, int col) const {
  if (Null(row, col)) return std::string();
  if (col == 2 || col == 5) {
    const Row& r = rows_[row];
    const std::uint32_t i = col == 2 ? (r.couple ? r.a : r.b) : (r.couple ? r.b : r.c);
    return std::to_string(roles[i].ord);
  }
  return Text(row, col);
}

int TAt4RoleRows::Compare(const Row& x, const Row& y, int col) const {
  // NULL first, as the engine's ORDER BY puts it.
  const auto cell = [this](const Row& r, int c) -> const Role* {
    const std::uint32_t i = c < 3 ? (r.couple ? r.a : r.b) : (r.couple ? r.b : r.c);
    return i == kNone ? nullptr : &roles[i];
  };
  if (col == 0 || col == 3) {
    const Role* a = cell(x, col);
    const Role* b = cell(y, col);
    const bool an = a == nullptr || a->pNull, bn = b == nullptr || b->pNull;
    if (an || bn) return an == bn ? 0 : (an ? -1 : 1);
    const std::uint32_t ra = rank_[std::size_t(a - roles.data())], rb = rank_[std::size_t(b - roles.data())];
    return ra < rb ? -1 : ra > rb ? 1 : 0;
  }
  if (col == 2 || col == 5) {
    const Role* a = cell(x, col);
    const Role* b = cell(y, col);
    const bool an = a == nullptr || a->ordNull, bn = b == nullptr || b->ordNull;
    if (an || bn) return an == bn ? 0 : (an ? -1 : 1);
    return a->ord < b->ord ? -1 : a->ord > b->ord ? 1 : 0;
  }
  if (col == 7) {
    // The child's role (a text) against the couple rows' number 0: the numbers compare by value.
    const bool an = x.couple ? false : roles[x.a].erNull, bn = y.couple ? false : roles[y.a].erNull;
    if (an || bn) return an == bn ? 0 : (an ? -1 : 1);
    const int a = x.couple ? 0 : roles[x.a].role, b = y.couple ? 0 : roles[y.a].role;
    return a < b ? -1 : a > b ? 1 : 0;
  }
  const auto text = [this](const Row& r, int c, bool& null) -> const std::string& {
    if (c == 6) {
      null = r.couple ? roles[r.a].eNull : roles[r.a].pNull;
      return r.couple ? roles[r.a].e : roles[r.a].p;
    }
    const std::uint32_t i = c < 3 ? (r.couple ? r.a : r.b) : (r.couple ? r.b : r.c);
    null = i == kNone || roles[i].erNull;
    return i == kNone ? kEmpty : roles[i].er;
  };
  bool an = false, bn = false;
  const std::string& a = text(x, col, an);
  const std::string& b = text(y, col, bn);
  if (an || bn) return an == bn ? 0 : (an ? -1 : 1);
  return nrd::AnsiCompareText(a, b, false) - nrd::CSTR_EQUAL;
}

void TAt4RoleRows::Read(nrd::TNRDDataSet& table, const QString& path) {
  const auto field = [&](const char* name) -> nrd::TField& {
    nrd::TField* f = table.FindField(name);
    if (f == nullptr) throw EAt4Read(EAt4Read::NotFamilyTree, path, QStringLiteral("EventDetails.") + QLatin1String(name));
    return *f;
  };
  const TRecordColumn p(table, field("p_id")), e(table, field("e_id")), er(table, field("er_id")),
      ord(table, field("e_ord"));
  for (; !table.Eof(); table.Next()) {
    Role r;
    r.pNull = p.IsNull(), r.eNull = e.IsNull(), r.erNull = er.IsNull(), r.ordNull = ord.IsNull();
    if (!r.pNull) r.p = p.AsString();
    if (!r.eNull) r.e = e.AsString();
    if (!r.erNull) {
      r.er = er.AsString();
      // The query compares er_id with numbers: a text that is no number matches none of the roles.
      // Plain digits (the usual form) are read directly; anything else as a trimmed number text.
      const bool digits = !r.er.empty() && r.er.size() <= 9 &&
                          std::all_of(r.er.begin(), r.er.end(), [](char c) { return c >= '0' && c <= '9'; });
      if (digits) {
        r.role = 0;
        for (char c : r.er) r.role = r.role * 10 + (c - '0');
      } else {
        bool ok = false;
        const int n = QString::fromLatin1(r.er).trimmed().toInt(&ok);
        r.role = ok ? n : -1;
      }
    }
    if (!r.ordNull) r.ord = ord.AsInteger();
    roles.push_back(std::move(r));
  }
}

bool TAt4RoleRows::Make(std::uint64_t bound) {
  rows_.clear();
  if (roles.size() >= kNone) return false;
  // The rank of every p_id under the engine's collation: the rows then sort by numbers. Each distinct
  // text gets its collation key once; keys compare as the collation does, equal keys share a rank.
  {
    TAt4IdIndex distinctOf;               // p_id -> index in distinct
    std::vector<std::uint32_t> distinct;  // a role of each distinct p_id
    std::vector<std::uint32_t> roleDistinct(roles.size(), 0);
    distinctOf.Reserve(roles.size() / 2 + 1);
    for (std::size_t i = 0; i < roles.size(); ++i) {
      if (roles[i].pNull) continue;
      const auto [number, added] = distinctOf.Add(roles[i].p);
      if (added) distinct.push_back(std::uint32_t(i));
      roleDistinct[i] = number;
    }
    std::vector<std::pair<std::string, std::uint32_t>> keyed(distinct.size());
    for (std::size_t d = 0; d < distinct.size(); ++d) keyed[d] = {nrd::AnsiSortKey(roles[distinct[d]].p, false), std::uint32_t(d)};
    std::sort(keyed.begin(), keyed.end());
    std::vector<std::uint32_t> rankOfDistinct(distinct.size());
    for (std::size_t k = 0; k < keyed.size(); ++k)
      rankOfDistinct[keyed[k].second] =
          k > 0 && keyed[k].first == keyed[k - 1].first ? rankOfDistinct[keyed[k - 1].second] : std::uint32_t(k);
    rank_.assign(roles.size(), 0);
    for (std::size_t i = 0; i < roles.size(); ++i)
      if (!roles[i].pNull) rank_[i] = rankOfDistinct[roleDistinct[i]];
  }
  // The role rows of one event (same e_id, not NULL) meet as the query joins them: child rows (a child
  // with every father and every mother of its event, or with none) and couple rows (every husband with
  // every wife). A child whose event is NULL still gives its row, with neither father nor mother.
  std::vector<std::uint32_t> byEvent;
  byEvent.reserve(roles.size());
  for (std::size_t i = 0; i < roles.size(); ++i) {
    const int r = roles[i].role;
    if (r != 1 && r != 2 && r != 3 && r != 5 && r != 6) continue;
    if (!roles[i].eNull) {
      byEvent.push_back(std::uint32_t(i));
    } else if (r == 1) {
      if (rows_.size() + 1 > bound) return rows_.clear(), false;
      rows_.push_back({std::uint32_t(i), kNone, kNone, false});
    }
  }
  // Events are grouped by their bytes (the join's equality of texts is equality of the stored values), in
  // the order of their bytes, the roles of one event in table order: each distinct event id is sorted
  // once, and the roles are then laid out by its place, without comparing texts per role.
  std::vector<std::uint32_t> eventRank(roles.size(), 0);
  {
    TAt4IdIndex distinctOf;
    std::vector<std::uint32_t> distinct;  // a role of each distinct event id
    distinctOf.Reserve(byEvent.size() / 2 + 1);
    for (const std::uint32_t k : byEvent) {
      const auto [number, added] = distinctOf.Add(roles[k].e);
      if (added) distinct.push_back(k);
      eventRank[k] = number;
    }
    std::vector<std::uint32_t> order(distinct.size());
    for (std::size_t d = 0; d < order.size(); ++d) order[d] = std::uint32_t(d);
    std::sort(order.begin(), order.end(),
              [&](std::uint32_t a, std::uint32_t b) { return roles[distinct[a]].e < roles[distinct[b]].e; });
    std::vector<std::uint32_t> place(distinct.size());
    for (std::size_t r = 0; r < order.size(); ++r) place[order[r]] = std::uint32_t(r);
    // Counting sort by the event's place; byEvent is in table order, which it keeps within an event.
    std::vector<std::uint32_t> start(distinct.size() + 1, 0);
    for (const std::uint32_t k : byEvent) eventRank[k] = place[eventRank[k]], ++start[eventRank[k] + 1];
    for (std::size_t r = 1; r < start.size(); ++r) start[r] += start[r - 1];
    std::vector<std::uint32_t> sorted(byEvent.size());
    for (const std::uint32_t k : byEvent) sorted[start[eventRank[k]]++] = k;
    byEvent = std::move(sorted);
  }
  std::vector<std::uint32_t> child, father, mother, husband, wife;
  for (std::size_t i = 0; i < byEvent.size();) {
    for (auto* v : {&child, &father, &mother, &husband, &wife}) v->clear();
    std::size_t j = i;
    for (; j < byEvent.size() && eventRank[byEvent[j]] == eventRank[byEvent[i]]; ++j) {
      const std::uint32_t k = byEvent[j];
      const int r = roles[k].role;
      (r == 1 ? child : r == 2 ? father : r == 3 ? mother : r == 5 ? husband : wife).push_back(k);
    }
    i = j;
    const std::uint64_t fathers = std::max<std::size_t>(1, father.size());
    const std::uint64_t mothers = std::max<std::size_t>(1, mother.size());
    const std::uint64_t combinations =
        std::uint64_t(child.size()) * fathers * mothers + std::uint64_t(husband.size()) * wife.size();
    if (rows_.size() + combinations > bound) return rows_.clear(), false;
    for (std::uint32_t c : child)
      for (std::size_t f = 0; f < fathers; ++f)
        for (std::size_t m = 0; m < mothers; ++m)
          rows_.push_back({c, father.empty() ? kNone : father[f], mother.empty() ? kNone : mother[m], false});
    for (std::uint32_t h : husband)
      for (std::uint32_t w : wife) rows_.push_back({h, w, kNone, true});
  }
  // Ordered by father, mother and the father's order, then by the other columns in their order (the
  // union orders by every column), without repeated rows.
  static constexpr int kOrder[8] = {0, 3, 2, 1, 4, 5, 6, 7};
  const auto less = [this](const Row& x, const Row& y) {
    for (int col : kOrder) {
      const int d = Compare(x, y, col);
      if (d != 0) return d < 0;
    }
    return false;
  };
  std::sort(rows_.begin(), rows_.end(), less);
  rows_.erase(std::unique(rows_.begin(), rows_.end(), [&less](const Row& x, const Row& y) { return !less(x, y) && !less(y, x); }),
              rows_.end());
  return true;
}

// ---------------------------------------------------------------- the reader

namespace {

// The value codes the reader looks up.
enum Code { cSurname, cBirthSurname, cFirstName, cPatronymic, cResidence, cEventPlace, cEventDate, cEventNote, kCodes };
const char* const kCodeText[kCodes] = {"P_8", "P_9", "P_10", "P_11", "P_26", "E_6", "E_7", "E_14"};

int CodeOf(std::string_view fid) {
  for (int c = 0; c < kCodes; ++c)
    if (fid == kCodeText[c]) return c;
  return -1;
}

}  // namespace

// One value the reader may use: its short text (or the whole text when it may be cut), its link.
struct TAt4Reader::Value {
  QString text;
  std::string link;
  bool oddBlob = false;  // the whole text's BLOB has an odd number of bytes
  bool whole = false;    // text is the whole text from vblob
  QString shortText;     // vstr, when text is the whole text
};

// The values, dates and places of the file, read once in storage order. A record's first value of a
// code wins, as a lookup by the index "search" finds the first of equal keys.
// The values are kept by record (a person or an event): one lookup of the record gives all its values,
// where a lookup per code would cost a hash search for each of them.
struct TAt4Reader::Record {
  std::int32_t value[kCodes];  // index in Store::values, -1 when the record has no value of the code
};

struct TAt4Reader::Store {
  TAt4IdIndex records;  // r_id -> index in recordValues
  std::vector<Record> recordValues;
  std::vector<Value> values;
  struct DateRow {
    QString shortText;
    int d = 0, m = 0, y = 0, type = 0;
    bool julian = false, bc = false;
  };
  TAt4IdIndex dateIds;  // id -> index in dates
  std::vector<DateRow> dates;
  struct PlaceRow {
    QString shortName, fullName;
  };
  TAt4IdIndex placeIds;  // id -> index in places
  std::vector<PlaceRow> places;
  const DateRow* Date(const std::string& id) const {
    const std::uint32_t i = dateIds.Find(id);
    return i == TAt4IdIndex::kNone ? nullptr : &dates[i];
  }
  const PlaceRow* Place(const std::string& id) const {
    const std::uint32_t i = placeIds.Find(id);
    return i == TAt4IdIndex::kNone ? nullptr : &places[i];
  }
};

TAt4Reader::TAt4Reader(Model& model, TDataModule2& dm, TDateContext today)
    : model_(model), dm_(dm), today_(std::move(today)), empty_(GDate_RDates(QString(), today_)) {}

TAt4Reader::~TAt4Reader() = default;

void TAt4Reader::At4_Indi(const QString& path, const GedProgress& progress) {
  model_.Clear();  // also clears AbortFlag
  model_.aIndi[0].BIRT_DATE = empty_;
  path_ = path;
  store_.reset();
  try {
    Read(path, progress);
  } catch (const EAt4Read&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    throw EAt4Read(EAt4Read::ReadFailed, path, QString::fromStdString(e.what()));
  }
}

void TAt4Reader::OpenDatabase(const QString& path) {
  const QFileInfo fi(path);
  if (!fi.exists() || !fi.isFile()) throw EAt4Read(EAt4Read::OpenFailed, path);
  nrd::TNRDDatabase& db = dm_.dbAT4;
  dm_.CloseAll();
  // Read-only, whatever a tool did with the module before: the reader never writes the file.
  db.SetReadOnly(true);
  db.SetExclusive(false);
  db.SetNoRequestAutoRepair(true);
  db.SetDatabaseFileName(fi.absoluteFilePath().toStdString());
  try {
    db.Open();
  } catch (const nrd::ENRDException& e) {
    switch (e.NativeError) {
      case 30445:  // the password was wrong and none other was given
        throw EAt4Read(EAt4Read::NoPassword, path);
      case 10470:  // no signature of the engine's file
      case 20237:  // a header the engine cannot read
        throw EAt4Read(EAt4Read::NotDatabase, path);
      default:
        throw EAt4Read(EAt4Read::Damaged, path, QString::fromStdString(e.what()));
    }
  } catch (const nrd::EDatabaseError&) {
    throw EAt4Read(EAt4Read::OpenFailed, path);
  }
}

namespace {

// Opens one component; a missing index (or any other refusal) names what was being opened.
void OpenNamed(nrd::TNRDDataSet& ds, const QString& path, const char* what) {
  try {
    ds.Open();
  } catch (const nrd::ENRDException& e) {
    if (e.NativeError == 10325) throw EAt4Read(EAt4Read::NotFamilyTree, path, QString::fromLatin1(what));
    throw EAt4Read(EAt4Read::Damaged, path, QString::fromLatin1(what) + QStringLiteral(": ") + QString::fromStdString(e.what()));
  } catch (const nrd::EDatabaseError& e) {
    throw EAt4Read(EAt4Read::Damaged, path, QString::fromLatin1(what) + QStringLiteral(": ") + QString::fromStdString(e.what()));
  }
}

nrd::TField& FieldOf(nrd::TNRDDataSet& ds, const QString& path, const char* table, const char* name) {
  nrd::TField* f = ds.FindField(name);
  if (f == nullptr)
    throw EAt4Read(EAt4Read::NotFamilyTree, path, QString::fromLatin1(table) + u'.' + QString::fromLatin1(name));
  return *f;
}

std::string Bytes(const TRecordColumn& c) { return c.AsString(); }  // "" for NULL
QString Wide(const std::string& bytes) { return QString::fromStdU16String(nrd::AnsiToWide(bytes)); }

// A table of the module's database opened alone, in storage order.
class Scan {
 public:
  Scan(TDataModule2& dm, const QString& path, const char* table) : table_(table) {
    t_.SetDatabaseName(dm.DatabaseName());
    t_.SetTableName(table);
    t_.SetReadOnly(true);
    OpenNamed(t_, path, table);
  }
  nrd::TNRDTable& T() { return t_; }
  nrd::TField& F(const QString& path, const char* name) { return FieldOf(t_, path, table_, name); }
  TRecordColumn C(const QString& path, const char* name) { return TRecordColumn(t_, F(path, name)); }

 private:
  const char* table_;
  nrd::TNRDTable t_;
};

}  // namespace

void TAt4Reader::CheckSchema(const QString& path) {
  std::vector<std::string> tables;
  dm_.dbAT4.GetTablesList(tables);
  for (const auto& t : kSchema) {
    const bool has = std::any_of(tables.begin(), tables.end(), [&t](const std::string& name) {
      return QString::fromStdString(name).compare(QLatin1String(t.table), Qt::CaseInsensitive) == 0;
    });
    if (!has) throw EAt4Read(EAt4Read::NotFamilyTree, path, QString::fromLatin1(t.table));
  }
  // The module's tables on their indexes: a file without them is not the genealogy program's.
  dm_.Table_Dates.SetIndexFieldNames("id");
  OpenNamed(dm_.Table_Dates, path, "Dates.id");
  dm_.Table_Values.SetIndexName("search");
  OpenNamed(dm_.Table_Values, path, "Values.search");
  dm_.Table_Place.SetIndexName("id");
  OpenNamed(dm_.Table_Place, path, "Places.id");
  // The columns: those of the module's tables on them, the others on a table opened alone.
  for (const auto& t : kSchema) {
    const QLatin1String name(t.table);
    nrd::TNRDDataSet* ds = name == QLatin1String("Values")   ? static_cast<nrd::TNRDDataSet*>(&dm_.Table_Values)
                           : name == QLatin1String("Dates")  ? static_cast<nrd::TNRDDataSet*>(&dm_.Table_Dates)
                           : name == QLatin1String("Places") ? static_cast<nrd::TNRDDataSet*>(&dm_.Table_Place)
                                                             : nullptr;
    std::optional<Scan> probe;
    if (ds == nullptr) ds = &probe.emplace(dm_, path, t.table).T();
    for (const char* c : t.columns) FieldOf(*ds, path, t.table, c);
  }
}

void TAt4Reader::LoadStore() {
  auto store = std::make_unique<Store>();
  {
    Scan s(dm_, path_, "Values");
    const TRecordColumn fid = s.C(path_, "f_id"), rid = s.C(path_, "r_id"), vstr = s.C(path_, "vstr"),
                        vlink = s.C(path_, "vlink"), vblob = s.C(path_, "vblob");
    const auto count = std::size_t(std::max<std::int64_t>(0, s.T().RecordCount()));
    store->values.reserve(count);
    // A person or event has a few values: a third of the rows is a fair guess of the records.
    store->records.Reserve(count / 3);
    store->recordValues.reserve(count / 3);
    // The values are numbered by record after the scan: rows of one record that lie together make a
    // run, and the runs' ids are then found in one tight loop that asks for the table's memory some
    // ids ahead, instead of one wait for memory per id between the engine's reads.
    std::vector<std::string> runIds;
    struct Pending {
      std::uint32_t run;
      int code;
    };
    std::vector<Pending> pending;
    pending.reserve(count);
    for (s.T().First(); !s.T().Eof(); s.T().Next()) {
      if (fid.IsNull()) continue;
      const int code = CodeOf(fid.AsString());
      if (code < 0) continue;
      std::string id = Bytes(rid);
      if (id.empty()) continue;  // no lookup finds a value of no record
      if (runIds.empty() || id != runIds.back()) runIds.push_back(std::move(id));
      pending.push_back({std::uint32_t(runIds.size() - 1), code});
      Value& v = store->values.emplace_back();
      if (code == cEventPlace || code == cEventDate || code == cResidence) v.link = Bytes(vlink);
      if (code == cEventPlace || code == cEventDate) continue;
      v.text = vstr.AsQString();
      if ((code == cResidence || code == cEventNote) && v.text.size() >= kShortTextLimit && !vblob.IsNull()) {
        // The whole text of a value whose short text may be cut. A text of UTF-16 units has an even
        // number of bytes: an odd one is a damaged value, reported when the value is used.
        const std::string bytes = vblob.Field().AsBytes();
        if (bytes.size() % 2 != 0) {
          v.oddBlob = true;
        } else if (const QString whole = dbvalues::Utf16LeBytes(bytes); !whole.isEmpty()) {
          // An empty BLOB leaves the short text rather than losing it.
          v.shortText = v.text;
          v.text = whole;
          v.whole = true;
        }
      }
    }
    // The runs' records, numbered in the order first seen; a record's first value of a code wins.
    constexpr std::size_t kAhead = 8;
    std::vector<std::uint32_t> runRecord(runIds.size());
    for (std::size_t r = 0; r < runIds.size(); ++r) {
      if (r + kAhead < runIds.size()) store->records.Prefetch(runIds[r + kAhead]);
      const auto [number, added] = store->records.Add(runIds[r]);
      if (added) {
        Record rec;
        std::fill(std::begin(rec.value), std::end(rec.value), -1);
        store->recordValues.push_back(rec);
      }
      runRecord[r] = number;
    }
    for (std::size_t i = 0; i < pending.size(); ++i) {
      std::int32_t& slot = store->recordValues[runRecord[pending[i].run]].value[pending[i].code];
      if (slot < 0) slot = std::int32_t(i);
    }
  }
  {
    Scan s(dm_, path_, "Dates");
    const TRecordColumn id = s.C(path_, "id"), sn = s.C(path_, "shortname"), d = s.C(path_, "d"),
                        m = s.C(path_, "m"), y = s.C(path_, "y"), type = s.C(path_, "type"),
                        julian = s.C(path_, "isjulian"), bc = s.C(path_, "isdateBC");
    const auto count = std::size_t(std::max<std::int64_t>(0, s.T().RecordCount()));
    store->dateIds.Reserve(count);
    store->dates.reserve(count);
    for (s.T().First(); !s.T().Eof(); s.T().Next()) {
      if (!store->dateIds.Add(Bytes(id)).second) continue;
      Store::DateRow& r = store->dates.emplace_back();
      r.shortText = sn.AsQString();
      r.d = d.AsInteger(), r.m = m.AsInteger(), r.y = y.AsInteger(), r.type = type.AsInteger();
      r.julian = julian.AsBoolean();
      r.bc = bc.AsBoolean();
    }
  }
  {
    Scan s(dm_, path_, "Places");
    const TRecordColumn id = s.C(path_, "id"), sn = s.C(path_, "shortname"), fn = s.C(path_, "fullname");
    const auto count = std::size_t(std::max<std::int64_t>(0, s.T().RecordCount()));
    store->placeIds.Reserve(count);
    store->places.reserve(count);
    for (s.T().First(); !s.T().Eof(); s.T().Next()) {
      if (!store->placeIds.Add(Bytes(id)).second) continue;
      Store::PlaceRow& r = store->places.emplace_back();
      r.shortName = sn.AsQString();
      r.fullName = fn.AsQString();
    }
  }
  store_ = std::move(store);
}

void TAt4Reader::Read(const QString& path, const GedProgress& progress) {
  OpenDatabase(path);
  ReadScope scope(dm_);
  CheckSchema(path);
  LoadStore();
  PersonPass(progress);
  // A stop during the person pass ends the read: no families of a part of the persons.
  if (!model_.AbortFlag) FamilyPass(progress);
}

const TAt4Reader::Record* TAt4Reader::RecordOf(const std::string& rid) const {
  if (!store_ || rid.empty()) return nullptr;
  const std::uint32_t i = store_->records.Find(rid);
  return i == TAt4IdIndex::kNone ? nullptr : &store_->recordValues[i];
}

const TAt4Reader::Value* TAt4Reader::ValueOf(const Record* r, int code) const {
  if (r == nullptr || code < 0 || r->value[code] < 0) return nullptr;
  return &store_->values[std::size_t(r->value[code])];
}

const TAt4Reader::Value* TAt4Reader::Find(int code, const std::string& rid) const {
  return code < 0 ? nullptr : ValueOf(RecordOf(rid), code);
}

QString TAt4Reader::TextOf(const Value& v, int iFull, int iCRLF) const {
  if (iFull != 0 && v.oddBlob) {
    // The value's record, for the message: the first record of this code and value.
    QString where;
    const auto index = std::int32_t(&v - store_->values.data());
    store_->records.ForEach([&](const std::string& rid, std::uint32_t r) {
      for (int c = 0; c < kCodes && where.isEmpty(); ++c)
        if (store_->recordValues[r].value[c] == index) where = QString::fromLatin1(kCodeText[c]) + u' ' + Wide(rid);
    });
    throw EAt4Read(EAt4Read::BadText, path_, where);
  }
  QString r = iFull != 0 || !v.whole ? v.text : v.shortText;
  if (iCRLF == 0) r = dbvalues::CrLfToBlank(r);
  return r;
}

QString TAt4Reader::PlaceOf(const Value& v, int iType) const {
  if (v.link.empty()) return QString();
  const Store::PlaceRow* p = store_->Place(v.link);
  if (p == nullptr) return QString();
  return iType == 1 ? p->shortName : p->fullName;
}

QString TAt4Reader::fDesc4(const QString& sFid, const QString& sRid, int iFull, int iCRLF) {
  const Value* v = Find(CodeOf(sFid.toStdString()), nrd::WideToAnsi(sRid.toStdU16String()));
  return v ? TextOf(*v, iFull, iCRLF) : QString();
}

QString TAt4Reader::fPlace4(const QString& sFid, const QString& sRid, int iType) {
  const Value* v = Find(CodeOf(sFid.toStdString()), nrd::WideToAnsi(sRid.toStdU16String()));
  return v ? PlaceOf(*v, iType) : QString();
}

QString TAt4Reader::fDate4(const QString& sRid) {
  const Value* v = Find(cEventDate, nrd::WideToAnsi(sRid.toStdU16String()));
  if (v == nullptr || v->link.empty()) return QString();
  const Store::DateRow* d = store_->Date(v->link);
  return d == nullptr ? QString() : d->shortText;
}

TDATES TAt4Reader::ADate_RDates4(const QString& sDateShort, int iDD, int iMM, int iYYYY, int iType, bool isJulian,
                                 bool isDateBC) const {
  return dbvalues::At4Date(sDateShort, iDD, iMM, iYYYY, iType, isJulian, isDateBC, today_);
}

bool TAt4Reader::EventDate(const Record* event, TDATES& out) const {
  const Value* v = ValueOf(event, cEventDate);
  if (v == nullptr || v->link.empty()) return false;
  const Store::DateRow* d = store_->Date(v->link);
  if (d == nullptr) return false;
  const Store::DateRow& r = *d;
  out = ADate_RDates4(r.shortText, r.d, r.m, r.y, r.type, r.julian, r.bc);
  return true;
}

// One row of the person query.
struct TAt4Reader::PersonRow {
  std::string id, sex, birth, death;
  QString fio;
  bool idNull = true;
};

namespace {
// The five columns a person row is read from, in the table or in the person query.
struct PersonColumns {
  TRecordColumn id, fio, sex, birth, death;
  template <class Row>
  void Read(Row& r) const {
    r.idNull = id.IsNull();
    r.id = id.AsString();
    r.fio = fio.AsQString();
    r.sex = sex.AsString();
    r.birth = birth.AsString();
    r.death = death.AsString();
  }
};
}  // namespace

bool TAt4Reader::PersonsByScan(std::vector<PersonRow>& rows) {
  // The query orders single-byte ids through the collation; ids of another type, or a locale without a
  // collation (the query then fails), are left to the query itself.
  if (nrd::AnsiCompareText("a", "b", false) == 0) return false;
  Scan s(dm_, path_, "Persons");
  const PersonColumns c{s.C(path_, "id"), s.C(path_, "fullname"), s.C(path_, "sex"), s.C(path_, "birth_id"),
                        s.C(path_, "death_id")};
  const nrd::TNRDBaseFieldType idType = nrd::FieldTypeToBaseType(c.id.Field().DataType());
  if (idType != nrd::bftChar && idType != nrd::bftVarchar) return false;
  std::vector<PersonRow> stored;
  stored.reserve(std::size_t(std::max<std::int64_t>(0, s.T().RecordCount())));
  for (s.T().First(); !s.T().Eof(); s.T().Next()) c.Read(stored.emplace_back());
  // The query's order: NULL ids first, then by the collation of the ids, rows of equal ids in the table's
  // order. The collation key of each id turns its comparisons into byte comparisons.
  struct Item {
    std::string key;
    std::uint32_t row;
    bool null;
  };
  std::vector<Item> items(stored.size());
  for (std::size_t i = 0; i < stored.size(); ++i)
    items[i] = {stored[i].idNull ? std::string() : nrd::AnsiSortKey(stored[i].id, false), std::uint32_t(i),
                stored[i].idNull};
  std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
    if (a.null != b.null) return a.null;
    const int c = a.key.compare(b.key);
    return c != 0 ? c < 0 : a.row < b.row;
  });
  rows.clear();
  rows.reserve(stored.size());
  for (const Item& it : items) rows.push_back(std::move(stored[it.row]));
  return true;
}

void TAt4Reader::PersonsByQuery(std::vector<PersonRow>& rows) {
  nrd::TNRDQuery& q = dm_.Query_;
  q.Close();
  q.SetSQL(TDataModule2::kPersonSQL);
  OpenNamed(q, path_, "Persons");
  const auto column = [&](const char* name) { return TRecordColumn(q, FieldOf(q, path_, "Persons", name)); };
  const PersonColumns c{column("id"), column("fio"), column("sex"), column("birth_id"), column("death_id")};
  rows.clear();
  for (q.First(); !q.Eof(); q.Next()) c.Read(rows.emplace_back());
  q.Close();
}

void TAt4Reader::PersonPass(const GedProgress& progress) {
  // The person query's rows: made from a scan of Persons in the query's order, or from the query.
  std::vector<PersonRow> rows;
  if (!PersonsByScan(rows)) PersonsByQuery(rows);
  const auto max = static_cast<std::int64_t>(rows.size());
  model_.aIndi.reserve(std::size_t(std::max<std::int64_t>(0, max)) + 1);
  if (progress) progress(0, max);
  const auto text = [this](const Record* r, int code) {
    const Value* v = ValueOf(r, code);
    return v ? TextOf(*v, 0, 1) : QString();
  };
  std::int64_t pos = 0;
  // The records of a person some rows ahead are asked for early (see TAt4IdIndex::Prefetch).
  constexpr std::size_t kAhead = 8;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    PersonRow& row = rows[k];
    if (k + kAhead < rows.size() && store_) {
      const PersonRow& ahead = rows[k + kAhead];
      store_->records.Prefetch(ahead.id);
      store_->records.Prefetch(ahead.birth);
      store_->records.Prefetch(ahead.death);
    }
    ++pos;
    if (progress && pos % kProgressStep == 0) progress(pos, max);
    if (model_.AbortFlag) break;
    // Filled in place: a person is some forty texts, moved one by one when made beside the list. A
    // failure in the middle leaves a part-filled last person, which the caller's reset drops with the rest.
    TINDI& p = model_.aIndi.emplace_back();
    p.INDI = QString::number(model_.aIndi.size() - 1);
    const std::string& id = row.id;
    p._UID = Wide(id);
    p.SEX = Wide(row.sex);
    p.FIO1 = std::move(row.fio);
    const Record* self = RecordOf(id);
    if (const Value* v = ValueOf(self, cResidence)) {
      p.RESI_PLAC = PlaceOf(*v, 2);
      p.NOTE = TextOf(*v, 1, 1);
    }
    const std::string& birth = row.birth;
    const Record* birthEvent = RecordOf(birth);
    if (!EventDate(birthEvent, p.BIRT_DATE)) p.BIRT_DATE = empty_;
    p.BIRT_DATE.CALEN = Wide(birth);
    if (const Value* v = ValueOf(birthEvent, cEventPlace)) p.BIRT_PLAC = PlaceOf(*v, 2);
    if (const Value* v = ValueOf(birthEvent, cEventNote)) p.BIRT_NOTE = TextOf(*v, 1, 1);
    const std::string& death = row.death;
    if (!death.empty()) {
      const Record* deathEvent = RecordOf(death);
      p.DEAT = QStringLiteral("+");
      if (!EventDate(deathEvent, p.DEAT_DATE)) p.DEAT_DATE = empty_;
      p.DEAT_DATE.CALEN = Wide(death);
      if (const Value* v = ValueOf(deathEvent, cEventPlace)) p.DEAT_PLAC = PlaceOf(*v, 2);
      if (const Value* v = ValueOf(deathEvent, cEventNote)) p.DEAT_NOTE = TextOf(*v, 1, 1);
    }
    p.SURN = p.SURN1 = text(self, cSurname);
    p.FIRS1 = text(self, cFirstName);
    p.PATR1 = text(self, cPatronymic);
    p.SURN0 = text(self, cBirthSurname);
    p.GIVN = p.FIRS1 + u' ' + p.PATR1;
    p.iPr = -1;
    p.iPot = -1;
  }
  if (progress) progress(pos, max);
}

void TAt4Reader::FamilyPass(const GedProgress& progress) {
  // The role query's rows, made in memory from one scan of the role table (see TAt4RoleRows).
  TAt4RoleRows rows;
  {
    Scan s(dm_, path_, "EventDetails");
    s.T().First();
    rows.Read(s.T(), path_);
  }
  if (!rows.Make(kCombinationsPerRole * rows.roles.size() + kCombinationAllowance))
    throw EAt4Read(EAt4Read::TooManyRoles, path_);
  const auto max = static_cast<std::int64_t>(rows.Size());
  if (progress) progress(0, max);
  TAt4FamilyBuilder families(model_);
  std::int64_t pos = 0;
  for (std::size_t row = 0; row < rows.Size(); ++row) {
    ++pos;
    if (progress && pos % kProgressStep == 0) progress(pos, max);
    if (model_.AbortFlag) break;
    const QString father = Wide(rows.Text(row, 0)), mother = Wide(rows.Text(row, 3));
    if (!rows.Couple(row)) {
      families.ChildRow(father, mother, Wide(rows.Text(row, 6)));
      continue;
    }
    // A couple row: husband in column 1, wife in column 4, the event in column 7.
    const std::string& event = rows.Text(row, 6);
    const std::int64_t f = families.CoupleRow(father, mother, !event.empty());
    if (f == 0 || event.empty()) continue;
    TFAM& fam = model_.aFam[std::size_t(f)];
    const Record* marriage = RecordOf(event);
    TDATES date;
    if (EventDate(marriage, date)) fam.MARR_DATE = date;
    const Value* place = ValueOf(marriage, cEventPlace);
    fam.MARR_PLAC = place ? PlaceOf(*place, 2) : QString();
    const Value* note = ValueOf(marriage, cEventNote);
    fam.MARR_NOTE = note ? TextOf(*note, 1, 1) : QString();
  }
  if (progress) progress(pos, max);
}

void At4_Indi(Model& model, TDataModule2& dm, const QString& path, const GedProgress& progress) {
  TAt4Reader(model, dm).At4_Indi(path, progress);
}
