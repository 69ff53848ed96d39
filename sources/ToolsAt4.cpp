// The group edit tools on an ".at4" database (a file of the program's own engine). They change rows of
// Values (the persons' name and technical values, the places' name values), Persons.fullname (rebuilt
// from the database's full-name layout), Events.mainpers (the renamed person's name in the texts of its
// events) and the names of Places. A write run opens the file writable through the engine and makes all
// its changes inside one transaction, which any exception rolls back before it leaves the tool; a dry
// run opens the file read-only and writes nothing.
//
// The rows a tool needs are read once, in storage order, into memory with their record ids. A tool
// works on that copy (which follows every change, in both runs, so a dry run writes the same protocol
// as the write run) and, in a write run, plans each change; the plan is applied after the tool, in the
// order of the rows in the file (page by page, inserts last), each change to its row by record id (rows
// keep their ids when they are updated or others deleted). Persons are taken in the order of the person
// list (the model read from the same file: the person query's order by id).
//
// Texts: Values.vstr holds a short text (its field size, 120 characters in the files we know); a longer
// text is written cut to that size into vstr and whole into vblob as UTF-16LE (the reader takes vblob
// when vstr is that long). Columns without a long form (Persons.fullname, Events.mainpers, the names of
// Places) are never cut: a text too long for its column is left as it was and the protocol says so.
#include "sources/At4Layout.h"
#include "sources/DbValues.h"
#include "sources/PersonChoice.h"
#include "sources/ToolsImpl.h"
#include "sources/Unit2.h"

#include "engine/foundation/NRDText.h"
#include "engine/foundation/NRDTypes.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <unordered_map>
#include <unordered_set>

using namespace toolsimpl;

namespace toolsimpl {

const char kBase62Digits[] = "0123456789aAbBcCdDeEfFgGhHiIjJkKlLmMnNoOpPqQrRsStTuUvVwWxXyYzZ";

QString IntToBase62(std::int64_t n) {
  if (n <= 0) return QStringLiteral("0");
  QString out;
  while (n > 0) {
    out.prepend(QLatin1Char(kBase62Digits[n % 62]));
    n /= 62;
  }
  return out;
}

QString Base62TimeStamp(bool withSeconds, const QDateTime& when) {
  // Day 0 is 2004-01-01.
  const std::int64_t days = std::max<std::int64_t>(0, QDate(2004, 1, 1).daysTo(when.date()));
  const QTime t = when.time();
  QString s = IntToBase62(days) + IntToBase62(t.hour()) + IntToBase62(t.minute());
  if (withSeconds) s += IntToBase62(t.second());
  return s;
}

QString NewRecordId(const QDateTime& when, std::mt19937& random, const std::function<bool(const QString&)>& taken) {
  std::uniform_int_distribution<int> digit(0, 61);
  const QString stamp = Base62TimeStamp(true, when);
  // Ten random digits more than a stamp's few: a new id of the same second is unlikely to be taken, and
  // one that is gets drawn again; after many tries the id grows, which always ends.
  for (int tries = 0;; ++tries) {
    QString id = stamp;
    const qsizetype length = std::max<qsizetype>(10, stamp.size()) + tries / 64;
    while (id.size() < length) id += QLatin1Char(kBase62Digits[digit(random)]);
    if (!taken || !taken(id)) return id;
  }
}

QString At4FullName(const std::vector<TFullName>& layout, const std::function<QString(const QString& code)>& value,
                    const std::function<bool(const QString& code)>& changed,
                    const std::function<QString(const QString&)>& change) {
  QString full, surname;
  for (const TFullName& e : layout) {
    QString v = value(e.fieldID);
    if (e.fieldID == u"P_8") surname = v;
    else if (e.fieldID == u"P_9" && v == surname) v.clear();
    if (changed && changed(e.fieldID)) v = change(v);
    if (v.isEmpty()) v = e.emptyval;
    if (e.abbr == u"1") v = v.left(1) + QStringLiteral(".");
    if (!v.isEmpty()) full += e.prefix + v + e.suffix + QStringLiteral(" ");
  }
  return full.trimmed();
}

bool At4RoleCarriesName(int role) {
  return role == 1 || (role >= 4 && role <= 9) || (role >= 12 && role <= 25) || (role >= 28 && role <= 30) ||
         (role >= 33 && role <= 36) || role == 99;
}

bool At4Excluded(int item, int r1, int r2, const QString& path, bool spouses, bool siblings, bool yInChain,
                 bool xInChain) {
  const qsizetype d = path.lastIndexOf(u'1') + 1;  // position of the last "1", 0 when none
  bool excluded = false;
  if (item == 7) {
    if (yInChain) return false;
    excluded = !xInChain || r1 == 1;
    if (!excluded) {
      if (!spouses && (r1 + r2 == 5 || r2 == 5 || r2 == 6)) excluded = true;
      if (!siblings && r2 == 1) excluded = true;
    }
    return excluded;
  }
  if (item == 2 || item == 5 || item == 6) {
    excluded = r1 + r2 == 5;
    if (!spouses) {
      if (r2 == 5 || r2 == 6 || ((r2 == 2 || r2 == 3) && d > 0)) excluded = true;
    } else if (path.contains(u'5') || path.contains(u'6')) {
      excluded = true;
    } else if (d > 0) {
      const QString after = path.mid(d);
      excluded = after.contains(u'2') || after.contains(u'3');
    }
  } else if (item == 3 || item == 4) {
    excluded = r2 == 5 || r2 == 6 || r1 + r2 == 5;
    const int other = item == 3 ? 3 : 2;
    if (!spouses) {
      if (r2 == other) excluded = true;
    } else if (path.endsWith(QString::number(other))) {
      excluded = true;
    }
  }
  if (item == 2 || item == 3 || item == 4) {
    if (!siblings) {
      if (r2 == 1) excluded = true;
    } else if (d > 0 || (path.isEmpty() && r2 == 1)) {
      excluded = true;
    }
  }
  return excluded;
}

}  // namespace toolsimpl

namespace {

// The short text a reader takes as possibly cut (and then reads vblob).
constexpr qsizetype kLongText = 120;

QString Wide(const std::string& bytes) { return QString::fromStdU16String(nrd::AnsiToWide(bytes)); }
std::string Bytes(const nrd::TField& f) { return f.IsNull() ? std::string() : f.AsString(); }
QString WideOf(const nrd::TField& f) { return f.IsNull() ? QString() : QString::fromStdU16String(f.AsWideString()); }

std::string Utf16Le(const QString& s) { return dbvalues::Utf16LeOf(s); }

QString FromUtf16Le(const std::string& bytes) {
  QString s;
  s.reserve(qsizetype(bytes.size() / 2));
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char16_t c = char16_t(std::uint8_t(bytes[i]) | (std::uint8_t(bytes[i + 1]) << 8));
    if (c == 0) break;
    s += QChar(c);
  }
  return s;
}

// The first `size` characters of a text, never ending in half a surrogate pair.
QString Cut(const QString& text, qsizetype size) {
  if (text.size() <= size) return text;
  qsizetype n = size;
  if (n > 0 && text[n - 1].isHighSurrogate()) --n;
  return text.left(n);
}

// The full-name layouts read so far, by database file (its path and its identity on disk): a layout is
// read once per file, and a file opened later gets its own.
struct LayoutCache {
  std::mutex lock;
  std::map<QString, std::vector<TFullName>> byFile;
};
LayoutCache& Layouts() {
  static LayoutCache cache;
  return cache;
}
QString FileKey(const QString& path) {
  const QFileInfo fi(path);
  QString key = fi.canonicalFilePath();
  if (key.isEmpty()) key = fi.absoluteFilePath();
  struct stat st {};
  if (::stat(QFile::encodeName(key).constData(), &st) == 0)
    key += QStringLiteral("|%1:%2").arg(qulonglong(st.st_dev)).arg(qulonglong(st.st_ino));
  return key;
}

// A row's place in its table (page and slot): its bookmark, kept small.
struct TMark {
  std::int32_t page = -1;
  std::uint16_t item = 0;
  bool operator<(const TMark& o) const { return page != o.page ? page < o.page : item < o.item; }
};

// A table of the tool's database, read in storage order; rows are found again by record id.
class TTable {
 public:
  TTable(const std::string& db, const char* name, bool write) : name_(name) {
    t_.SetDatabaseName(db);
    t_.SetTableName(name);
    t_.SetReadOnly(!write);
  }
  void Open() {
    try {
      t_.Open();
    } catch (const std::exception& e) {
      throw EGroupEdit(QStringLiteral("%1: %2").arg(QLatin1String(name_), QString::fromStdString(e.what())));
    }
  }
  nrd::TNRDTable& T() { return t_; }
  nrd::TField& F(const char* field) {
    nrd::TField* f = t_.FindField(field);
    if (f == nullptr) throw EGroupEdit(QStringLiteral("%1.%2: no such column").arg(QLatin1String(name_), QLatin1String(field)));
    return *f;
  }
  TMark Mark() {
    const nrd::TBookmark b = t_.GetBookmark();
    if (b.size() != nrd::TNRDPageItemID::kSize) throw EGroupEdit(QStringLiteral("%1: no record id").arg(QLatin1String(name_)));
    const nrd::TNRDPageItemID id = nrd::TNRDPageItemID::Decode(b.data());
    return {id.PageNo, id.PageItemNo};
  }
  void Go(const TMark& m) {
    nrd::TBookmark b(nrd::TNRDPageItemID::kSize);
    nrd::TNRDPageItemID{m.page, m.item}.Encode(b.data());
    t_.GotoBookmark(b);
  }

 private:
  const char* name_;
  nrd::TNRDTable t_;
};

struct TValueRow {
  TMark mark;
  std::string id;
  QString text;     // the whole text
  bool blob = false;
  std::int64_t planned = -1;  // a row not yet in the file: its insert in the plan
};

struct TPersonRow {
  TMark mark;
  QString fio, sex;
};

struct TRoleRow {
  std::string p, e, er;
  int role = -1;  // er_id as a number, -1 when it is none
};

struct TEventRow {
  TMark mark;
  QString mainpers;
};

class TAt4Tools {
 public:
  TAt4Tools(TToolContext& ctx, const TToolOptions& o) : ctx_(ctx), o_(o), random_(std::random_device{}()) {}

  TToolResult Run() {
    if (ctx_.write) {
      // The reader's connection is let go: the file is read again after the run.
      if (TDataModule2* dm = DataModule2()) dm->CloseAll();
    }
    dm_ = std::make_unique<TDataModule2>();
    nrd::TNRDDatabase& db = dm_->dbAT4;
    db.SetReadOnly(!ctx_.write);
    db.SetExclusive(false);
    // The run opens and closes tables one after another inside one transaction: the connection stays.
    db.SetKeepConnection(true);
    db.SetNoRequestAutoRepair(true);
    db.SetDatabaseFileName(QFileInfo(ctx_.file).absoluteFilePath().toStdString());
    try {
      db.Open();
    } catch (const std::exception& e) {
      throw EGroupEdit(ctx_.file + QStringLiteral(": ") + QString::fromStdString(e.what()));
    }
    values_.emplace(dm_->DatabaseName(), "Values", ctx_.write);
    persons_.emplace(dm_->DatabaseName(), "Persons", ctx_.write);
    r_.protocol << HeaderLine(ctx_);
    try {
      Layout();
      if (ctx_.write) db.StartTransaction();
      switch (o_.ComboBox4) {
        case gtTechField: TechField(); break;
        case gtNames: Names(); break;
        case gtSurnameCase: SurnameCase(); break;
        case gtTranslit: Translit(); break;
        default: break;
      }
      if (ctx_.write) {
        Apply();
        db.Commit(true);
      }
    } catch (...) {
      // Nothing of a failed run stays: the transaction goes before the failure is reported.
      try {
        if (db.InTransaction()) db.Rollback();
      } catch (...) {
      }
      Close();
      throw;
    }
    Close();
    r_.changes = changes_;
    r_.reload = ctx_.write && changes_ > 0;
    return r_;
  }

 private:
  void Close() noexcept {
    for (auto* t : {&values_, &persons_, &events_, &roles_, &places_})
      if (t->has_value()) {
        try {
          (*t)->T().Close();
        } catch (...) {
        }
        t->reset();
      }
    if (dm_) dm_->CloseAll();
    dm_.reset();
  }

  void Changed() { ++changes_; }
  void Progress(std::int64_t pos, std::int64_t max) {
    if (ctx_.progress && pos % 100 == 0) ctx_.progress(pos, max);
  }

  void Layout() {
    const QString key = FileKey(ctx_.file);
    {
      std::lock_guard<std::mutex> g(Layouts().lock);
      auto it = Layouts().byFile.find(key);
      if (it != Layouts().byFile.end()) {
        layout_ = it->second;
        return;
      }
    }
    layout_ = LoadFullNameLayout(*dm_);
    std::lock_guard<std::mutex> g(Layouts().lock);
    Layouts().byFile[key] = layout_;
  }

  // ------------------------------------------------------------ reading

  // The values of the given codes, the first row (in storage order) of each code and record.
  void LoadValues(const QStringList& codes, bool allIds = false) {
    for (const QString& c : codes) values_by_[c.toStdString()];
    TTable& t = *values_;
    t.Open();
    nrd::TField &id = t.F("id"), &fid = t.F("f_id"), &rid = t.F("r_id"), &vstr = t.F("vstr"), &vblob = t.F("vblob");
    vstrSize_ = vstr.Size() > 0 ? vstr.Size() : kLongText;
    for (t.T().First(); !t.T().Eof(); t.T().Next()) {
      if (allIds && !id.IsNull()) ids_.insert(id.AsString());
      if (fid.IsNull()) continue;
      auto code = values_by_.find(fid.AsString());
      if (code == values_by_.end()) continue;
      const auto [it, added] = code->second.try_emplace(Bytes(rid));
      if (!added) continue;
      TValueRow& v = it->second;
      v.mark = t.Mark();
      v.id = Bytes(id);
      v.text = WideOf(vstr);
      v.blob = !vblob.IsNull();
      if (v.blob && v.text.size() >= kLongText) {
        const std::string bytes = vblob.AsBytes();
        const QString whole = FromUtf16Le(bytes);
        if (whole.size() >= v.text.size()) v.text = whole;
      }
    }
  }
  TValueRow* Value(const std::string& code, const std::string& rid) {
    auto c = values_by_.find(code);
    if (c == values_by_.end()) return nullptr;
    auto it = c->second.find(rid);
    return it == c->second.end() ? nullptr : &it->second;
  }

  void LoadPersons() {
    TTable& t = *persons_;
    t.Open();
    nrd::TField &id = t.F("id"), &fio = t.F("fullname"), &sex = t.F("sex");
    fioSize_ = fio.Size();
    for (t.T().First(); !t.T().Eof(); t.T().Next()) {
      const auto [it, added] = persons_by_.try_emplace(Bytes(id));
      if (!added) continue;
      it->second.mark = t.Mark();
      it->second.fio = WideOf(fio);
      it->second.sex = Wide(Bytes(sex));
    }
  }

  // The role rows: by person in the order of the index (p_id; er_id), by event in storage order.
  void LoadRoles() {
    roles_.emplace(dm_->DatabaseName(), "EventDetails", false);
    TTable& t = *roles_;
    t.Open();
    nrd::TField &p = t.F("p_id"), &e = t.F("e_id"), &er = t.F("er_id");
    for (t.T().First(); !t.T().Eof(); t.T().Next()) {
      TRoleRow r;
      r.p = Bytes(p);
      r.e = Bytes(e);
      r.er = Bytes(er);
      bool ok = false;
      const int n = QString::fromLatin1(r.er).trimmed().toInt(&ok);
      r.role = ok ? n : -1;
      roleRows_.push_back(std::move(r));
    }
    t.T().Close();
    roles_.reset();
    for (std::uint32_t i = 0; i < roleRows_.size(); ++i) {
      byPerson_[roleRows_[i].p].push_back(i);
      if (!roleRows_[i].e.empty()) byEvent_[roleRows_[i].e].push_back(i);
    }
    for (auto& [p, rows] : byPerson_)
      std::stable_sort(rows.begin(), rows.end(), [this](std::uint32_t a, std::uint32_t b) {
        return nrd::AnsiCompareText(roleRows_[a].er, roleRows_[b].er, false) == nrd::CSTR_LESS_THAN;
      });
  }

  void LoadEvents() {
    events_.emplace(dm_->DatabaseName(), "Events", ctx_.write);
    TTable& t = *events_;
    t.Open();
    nrd::TField &id = t.F("id"), &mp = t.F("mainpers");
    mainpersSize_ = mp.Size();
    for (t.T().First(); !t.T().Eof(); t.T().Next()) {
      const auto [it, added] = events_by_.try_emplace(Bytes(id));
      if (!added) continue;
      it->second.mark = t.Mark();
      it->second.mainpers = WideOf(mp);
    }
  }

  // ------------------------------------------------------------ writing

  void SetValue(TValueRow& row, const QString& text) {
    if (ctx_.write && !PlannedInsert(row, text)) Plan({TOp::ValueText, row.mark, text, QString(), {}, {}, {}, row.blob});
    row.text = text;
    row.blob = row.blob || text.size() >= kLongText;
    Changed();
  }
  void WriteText(TTable& t, const QString& text, bool hadBlob) {
    const QString shortText = Cut(text, vstrSize_);
    if (shortText.isEmpty()) t.F("vstr").Clear();
    else t.F("vstr").SetAsWideString(shortText.toStdU16String());
    if (text.size() >= kLongText || hadBlob) t.F("vblob").SetAsBytes(Utf16Le(text));
  }
  // A new row: it has no record id yet; a later change of it in the same run changes the planned row.
  void InsertValue(const std::string& code, const std::string& rid, const QString& text) {
    const QString id = NewRecordId(QDateTime::currentDateTime(), random_,
                                   [this](const QString& s) { return ids_.count(s.toStdString()) > 0; });
    ids_.insert(id.toStdString());
    TValueRow row;
    row.id = id.toStdString();
    row.text = text;
    row.blob = text.size() >= kLongText;
    row.planned = ctx_.write ? std::int64_t(ops_.size()) : -1;
    if (ctx_.write) Plan({TOp::ValueInsert, TMark{}, text, QString(), row.id, code, rid, false});
    values_by_[code][rid] = std::move(row);
    Changed();
  }
  void EraseValue(const std::string& code, const std::string& rid) {
    TValueRow* row = Value(code, rid);
    if (row == nullptr) return;
    if (ctx_.write) {
      if (row->planned >= 0) ops_[std::size_t(row->planned)].kind = TOp::None;  // never written
      else Plan({TOp::ValueErase, row->mark, {}, {}, {}, {}, {}, false});
    }
    values_by_[code].erase(rid);
    Changed();
  }

  // One change of a write run, applied after the tool.
  struct TOp {
    enum Kind { None, ValueText, ValueInsert, ValueErase, PersonName, EventText, PlaceNames } kind = None;
    TMark mark;
    QString text, text2;
    std::string id, code, rid;
    bool blob = false;
  };
  void Plan(TOp op) { ops_.push_back(std::move(op)); }
  // A change of a row that is itself a planned insert goes into the insert.
  bool PlannedInsert(TValueRow& row, const QString& text) {
    if (row.planned < 0) return false;
    ops_[std::size_t(row.planned)].text = text;
    return true;
  }

  // Applies the plan: table by table, in the order of the rows in the file, then the inserts.
  void Apply() {
    std::vector<std::size_t> order(ops_.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    const auto rank = [](TOp::Kind k) {
      switch (k) {
        case TOp::ValueText: case TOp::ValueErase: return 0;
        case TOp::PersonName: return 1;
        case TOp::EventText: return 2;
        case TOp::PlaceNames: return 3;
        default: return 4;
      }
    };
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      const TOp &x = ops_[a], &y = ops_[b];
      const int rx = rank(x.kind), ry = rank(y.kind);
      if (rx != ry) return rx < ry;
      return rx < 4 && x.mark < y.mark;
    });
    int applied = 0;
    for (std::size_t i : order) {
      const TOp& op = ops_[i];
      if (op.kind == TOp::None) continue;
      switch (op.kind) {
        case TOp::ValueText: {
          TTable& t = *values_;
          t.Go(op.mark);
          t.T().Edit();
          WriteText(t, op.text, op.blob);
          t.T().Post();
          break;
        }
        case TOp::ValueErase:
          values_->Go(op.mark);
          values_->T().Delete();
          break;
        case TOp::ValueInsert: {
          TTable& t = *values_;
          t.T().Insert();
          t.F("id").SetAsString(op.id);
          t.F("f_id").SetAsString(op.code);
          t.F("r_id").SetAsString(op.rid);
          WriteText(t, op.text, false);
          t.T().Post();
          break;
        }
        case TOp::PersonName:
          persons_->Go(op.mark);
          persons_->T().Edit();
          persons_->F("fullname").SetAsWideString(op.text.toStdU16String());
          persons_->T().Post();
          break;
        case TOp::EventText:
          events_->Go(op.mark);
          events_->T().Edit();
          events_->F("mainpers").SetAsWideString(op.text.toStdU16String());
          events_->T().Post();
          break;
        case TOp::PlaceNames:
          places_->Go(op.mark);
          places_->T().Edit();
          places_->F("shortname").SetAsWideString(op.text.toStdU16String());
          places_->F("fullname").SetAsWideString(op.text2.toStdU16String());
          places_->T().Post();
          break;
        default: break;
      }
      ++applied;
      if (ctx_.afterChange) ctx_.afterChange(applied);
    }
  }

  // A text for a column without a long form: false (and a protocol line) when it does not fit.
  bool Fits(qsizetype size, const QString& text, const char* column, const QString& who) {
    if (size <= 0 || text.size() <= size) return true;
    r_.protocol << who + QStringLiteral(": ") +
                       QString(ToolText(ctx_.lang, "TextTooLong")).replace(QStringLiteral("%s"), QLatin1String(column)) +
                       QStringLiteral(": ") + text;
    return false;
  }

  // Gives the person (the query's row) a new full name and puts it into the texts of its events in
  // which it is a main person; returns count plus the event texts changed.
  int RenamePersonAt4(const std::string& id, TPersonRow& p, const QString& full, int count) {
    const QString old = p.fio;
    if (ctx_.write) Plan({TOp::PersonName, p.mark, full, {}, {}, {}, {}, false});
    p.fio = full;
    Changed();
    if (old.isEmpty()) return count;
    auto rows = byPerson_.find(id);
    if (rows == byPerson_.end()) return count;
    for (std::uint32_t i : rows->second) {
      const TRoleRow& r = roleRows_[i];
      if (!At4RoleCarriesName(r.role < 0 ? 99 : r.role)) continue;
      auto ev = events_by_.find(r.e);
      if (ev == events_by_.end() || ev->second.mainpers.isEmpty()) continue;
      QString text = ev->second.mainpers;
      text.replace(old, full, Qt::CaseInsensitive);
      if (text == ev->second.mainpers) continue;
      if (!Fits(mainpersSize_, text, "Events.mainpers", full)) continue;
      if (ctx_.write) Plan({TOp::EventText, ev->second.mark, text, {}, {}, {}, {}, false});
      ev->second.mainpers = text;
      Changed();
      ++count;
    }
    return count;
  }

  // ------------------------------------------------------------ the tools

  bool SexPassesAt4(const QString& sex) const { return SexPasses(sex, o_.RadioGroup13); }

  // A change function that works each distinct text once (names repeat across a tree).
  static std::function<QString(const QString&)> Memo(std::function<QString(const QString&)> change) {
    auto cache = std::make_shared<QHash<QString, QString>>();
    return [change = std::move(change), cache](const QString& v) {
      auto it = cache->constFind(v);
      if (it != cache->constEnd()) return *it;
      const QString r = change(v);
      cache->insert(v, r);
      return r;
    };
  }

  // Tools 1 to 3 on one person: the full name with the changed codes, then each code's value.
  void NamesOfPerson(const std::string& id, TPersonRow& p, const QStringList& codes,
                     const std::function<QString(const QString&)>& change) {
    const auto value = [&](const QString& code) {
      const TValueRow* v = Value(code.toStdString(), id);
      return v ? v->text : QString();
    };
    const QString full = At4FullName(layout_, value, [&](const QString& c) { return codes.contains(c); }, change);
    bool nameLine = false;
    // A layout without parts would make every full name empty: the names are then left as they are.
    if (!layout_.empty() && full != p.fio && Fits(fioSize_, full, "Persons.fullname", p.fio)) {
      ++k_;
      r_.protocol << p.fio + QStringLiteral(" -> ") + full;
      nameLine = true;
      e_ = RenamePersonAt4(id, p, full, e_);
    }
    for (const QString& code : codes) {
      TValueRow* v = Value(code.toStdString(), id);
      if (v == nullptr) continue;
      const QString now = change(v->text);
      if (now == v->text) continue;
      ++l_;
      if (!nameLine) r_.protocol << p.fio + QStringLiteral(": ") + v->text + QStringLiteral(" -> ") + now;
      SetValue(*v, now);
    }
  }
  void CountLines() {
    r_.protocol << CountLine(ctx_.lang, "AllChangePerson", k_);
    r_.protocol << CountLine(ctx_.lang, "AllChangeValues", l_);
    if (e_ > 0) r_.protocol << CountLine(ctx_.lang, "AllChangeEvents", e_);
  }
  // The persons in the person list's order (the model of the same file), each record once.
  template <typename F>
  void ForPersons(const std::function<bool(std::size_t index)>& chosen, F each) {
    const Model& m = ctx_.model;
    std::unordered_set<std::string> done;
    const std::int64_t max = std::int64_t(m.aIndi.size()) - 1;
    for (std::size_t i = 1; i < m.aIndi.size(); ++i) {
      Progress(std::int64_t(i), max);
      if (chosen && !chosen(i)) continue;
      const std::string id = nrd::WideToAnsi(m.aIndi[i]._UID.toStdU16String());
      auto it = persons_by_.find(id);
      if (it == persons_by_.end() || !done.insert(id).second) continue;
      each(id, it->second);
    }
  }
  void LoadForNames(const QStringList& codes) {
    QStringList all = codes;
    for (const TFullName& e : layout_)
      if (!all.contains(e.fieldID)) all << e.fieldID;
    LoadValues(all);
    LoadPersons();
    LoadRoles();
    LoadEvents();
  }

  void Names() {
    QString oldText, newValue;
    NameReplacement(o_, oldText, newValue);
    const QStringList olds = OldValues(oldText);
    QStringList codes;
    if (o_.PageControl4 == 0) codes = {QStringLiteral("P_10")};
    else if (o_.PageControl4 == 1) codes = {QStringLiteral("P_11")};
    else if (o_.LastNameChange == 0) codes = {QStringLiteral("P_8")};
    else if (o_.LastNameChange == 1) codes = {QStringLiteral("P_9")};
    else codes = {QStringLiteral("P_8"), QStringLiteral("P_9")};
    LoadForNames(codes);
    const Qt::CaseSensitivity cs = o_.N5 ? Qt::CaseSensitive : Qt::CaseInsensitive;
    const auto change = Memo([&](const QString& v) {
      QString out = v;
      for (const QString& o : olds) {
        const bool match = o_.N4 ? QString::compare(o, out, cs) == 0 : out.contains(o, cs);
        if (match) out = ReplaceWords(out, o, newValue, o_.N4, o_.N5);
      }
      return out;
    });
    ForPersons([this](std::size_t i) { return SexPassesAt4(ctx_.model.aIndi[i].SEX); },
               [&](const std::string& id, TPersonRow& p) { NamesOfPerson(id, p, codes, change); });
    CountLines();
  }

  void SurnameCase() {
    const QStringList codes = {QStringLiteral("P_8"), QStringLiteral("P_9")};
    LoadForNames(codes);
    QSet<std::int64_t> chosen;
    const bool all = o_.RadioGroup8 != 0 && o_.RadioGroup8 != 1;
    chosen.insert(ctx_.current);
    if (o_.RadioGroup8 == 1)
      for (std::int64_t a : ctx_.ancestors) chosen.insert(a);
    const auto change = Memo([this](const QString& v) { return ConvertCase(v, o_.ComboBox11); });
    ForPersons(
        [&](std::size_t i) {
          return (all || chosen.contains(std::int64_t(i))) && SexPassesAt4(ctx_.model.aIndi[i].SEX);
        },
        [&](const std::string& id, TPersonRow& p) { NamesOfPerson(id, p, codes, change); });
    CountLines();
  }

  void Translit() {
    const int variant = o_.ComboBox10 + 1;
    const auto change = Memo([this, variant](const QString& v) { return TransliterateKeep(ctx_.translit, v, variant); });
    const QStringList codes = {QStringLiteral("P_8"), QStringLiteral("P_9"), QStringLiteral("P_10"),
                               QStringLiteral("P_11")};
    QStringList load = codes;
    if (o_.TransPlaces) load << QStringLiteral("PL_10") << QStringLiteral("PL_11");
    if (o_.TransNames) LoadForNames(load);
    else LoadValues(load);
    if (o_.TransPlaces) Places(change);
    if (!o_.TransNames) return;
    ForPersons({}, [&](const std::string& id, TPersonRow& p) { NamesOfPerson(id, p, codes, change); });
    CountLines();
  }

  void Places(const std::function<QString(const QString&)>& change) {
    places_.emplace(dm_->DatabaseName(), "Places", ctx_.write);
    TTable& t = *places_;
    t.T().SetIndexName("id");
    t.Open();
    nrd::TField &id = t.F("id"), &sn = t.F("shortname"), &fn = t.F("fullname");
    struct Place {
      TMark mark;
      std::string id;
      QString shortName, fullName;
    };
    std::vector<Place> places;
    for (t.T().First(); !t.T().Eof(); t.T().Next())
      places.push_back({t.Mark(), Bytes(id), WideOf(sn), WideOf(fn)});
    for (Place& p : places) {
      for (const char* code : {"PL_10", "PL_11"})
        if (TValueRow* v = Value(code, p.id)) {
          const QString now = change(v->text);
          if (now != v->text) SetValue(*v, now);
        }
      QString shortName = change(p.shortName), fullName = change(p.fullName);
      if (shortName != p.shortName) {
        if (Fits(sn.Size(), shortName, "Places.shortname", p.shortName))
          r_.protocol << QStringLiteral("Place ShortName: ") + p.shortName + QStringLiteral(" -> ") + shortName;
        else
          shortName = p.shortName;
      }
      if (fullName != p.fullName) {
        if (Fits(fn.Size(), fullName, "Places.fullname", p.fullName))
          r_.protocol << QStringLiteral("Place FullName: ") + p.fullName + QStringLiteral(" -> ") + fullName;
        else
          fullName = p.fullName;
      }
      if (shortName == p.shortName && fullName == p.fullName) continue;
      if (ctx_.write) Plan({TOp::PlaceNames, p.mark, shortName, fullName, {}, {}, {}, false});
      Changed();
    }
  }

  void TechField() {
    static const char* const kCodes[] = {"P_13", "P_14", "P_32", "P_33"};
    if (o_.ComboBox5 < 0 || o_.ComboBox5 > 3)
      throw EGroupEdit(QStringLiteral("ComboBox5: no such field in this database"));
    const std::string code = kCodes[o_.ComboBox5];
    LoadValues({QString::fromLatin1(code)}, true);
    LoadPersons();
    if (o_.RadioGroup14 == 8) {
      // Every value of the code, in the order of the index (f_id; r_id).
      std::vector<std::pair<std::string, TValueRow*>> rows;
      for (auto& [rid, row] : values_by_[code]) rows.emplace_back(rid, &row);
      std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        const int c = nrd::AnsiCompareText(a.first, b.first, false);
        return c != nrd::CSTR_EQUAL ? c == nrd::CSTR_LESS_THAN : a.first < b.first;
      });
      qint64 count = 0;
      for (const auto& [rid, row] : rows) {
        auto p = persons_by_.find(rid);
        const QString fio = p == persons_by_.end() ? QString() : p->second.fio;
        ++count;
        r_.protocol << fio + QStringLiteral(", ") + ToolText(ctx_.lang, "SignClear") + QStringLiteral(" \"") + row->text +
                           QStringLiteral("\"");
        const std::string key = rid;
        EraseValue(code, key);
      }
      r_.protocol << CountLine(ctx_.lang, "AllClearSign", count);
      return;
    }
    LoadRoles();
    const qsizetype before = r_.protocol.size();
    SpreadSignAt4(code);
    r_.protocol << CountLine(ctx_.lang, "AllChangePerson", r_.protocol.size() - before);
  }

  // The value written to one person the walk reaches.
  void SignPerson(const std::string& code, const std::string& id, const TPersonRow& p) {
    TValueRow* row = Value(code, id);
    r_.protocol << p.fio + QStringLiteral(" ") +
                       SignChangeNote(ctx_.lang, o_.Edit24, row ? std::optional<QString>(row->text) : std::nullopt);
    if (row && o_.Edit24.isEmpty()) EraseValue(code, id);
    else if (row && row->text != o_.Edit24) SetValue(*row, o_.Edit24);
    else if (!row && !o_.Edit24.isEmpty()) InsertValue(code, id, o_.Edit24);
  }

  // The walk over the event roles from the current person (a depth-first walk that queues the persons
  // a step reaches and walks each queued one in turn; every person is queued once, so it ends).
  void SpreadSignAt4(const std::string& code) {
    const int item = o_.RadioGroup14;
    const auto roleSet = [](std::initializer_list<int> r) { return std::vector<int>(r); };
    std::vector<int> own, other;
    bool otherAll = false;
    switch (item) {
      case 0: own = {}; otherAll = true; break;
      case 1:
        own = roleSet({2, 3, 5, 6});
        other = o_.CheckBox55 ? roleSet({1, 2, 3, 5, 6}) : roleSet({1});
        break;
      case 3: case 4: own = other = roleSet({1, 2, 3}); break;
      case 5: own = roleSet({1, 2, 5}); other = roleSet({1, 2, 5, 6}); break;
      default: own = other = roleSet({1, 2, 3, 5, 6}); break;
    }
    const auto in = [](const std::vector<int>& set, int r) { return std::find(set.begin(), set.end(), r) != set.end(); };
    // The persons of the kinship path, by id.
    std::unordered_set<std::string> chain;
    const Model& m = ctx_.model;
    for (const QString& part : ctx_.LinkChain.split(u';', Qt::SkipEmptyParts)) {
      bool ok = false;
      const std::int64_t i = part.trimmed().toLongLong(&ok);
      if (ok && i > 0 && i < std::int64_t(m.aIndi.size())) chain.insert(nrd::WideToAnsi(m.aIndi[std::size_t(i)]._UID.toStdU16String()));
    }
    if (ctx_.current <= 0 || ctx_.current >= std::int64_t(m.aIndi.size())) return;
    const std::string start = nrd::WideToAnsi(m.aIndi[std::size_t(ctx_.current)]._UID.toStdU16String());

    struct Item {
      std::string id;
      QString path;
    };
    struct Frame {
      std::vector<Item> next;
      std::size_t at = 0;
    };
    std::unordered_set<std::string> visited;
    std::vector<Frame> stack;
    std::int64_t steps = 0;
    const auto step = [&](const Item& x) {
      Progress(++steps, std::int64_t(persons_by_.size()));
      if (visited.empty()) visited.insert(x.id);
      auto p = persons_by_.find(x.id);
      if (p != persons_by_.end() && SexPassesAt4(p->second.sex)) SignPerson(code, x.id, p->second);
      Frame f;
      auto rows = byPerson_.find(x.id);
      if (rows != byPerson_.end()) {
        const bool xInChain = chain.count(x.id) > 0;
        for (std::uint32_t i : rows->second) {
          const TRoleRow& r1 = roleRows_[i];
          if (!in(own, r1.role) || r1.e.empty()) continue;
          auto event = byEvent_.find(r1.e);
          if (event == byEvent_.end()) continue;
          for (std::uint32_t j : event->second) {
            const TRoleRow& r2 = roleRows_[j];
            if (!otherAll && !in(other, r2.role)) continue;
            const int R1 = r1.role, R2 = r2.role < 0 ? 99 : r2.role;
            if (r2.p.empty() || R1 == R2 || visited.count(r2.p)) continue;
            if (At4Excluded(item, R1, R2, x.path, o_.CheckBox55, o_.CheckBox56, chain.count(r2.p) > 0, xInChain))
              continue;
            f.next.push_back({r2.p, x.path + QString::number(R2)});
            visited.insert(r2.p);
          }
        }
      }
      stack.push_back(std::move(f));
    };
    step({start, QString()});
    while (!stack.empty()) {
      Frame& f = stack.back();
      if (f.at >= f.next.size()) {
        stack.pop_back();
        continue;
      }
      const Item x = f.next[f.at++];
      step(x);  // may reallocate the stack: f is not used after this
    }
  }

  TToolContext& ctx_;
  const TToolOptions& o_;
  std::mt19937 random_;
  std::unique_ptr<TDataModule2> dm_;
  std::optional<TTable> values_, persons_, events_, roles_, places_;
  std::vector<TFullName> layout_;
  std::unordered_map<std::string, std::unordered_map<std::string, TValueRow>> values_by_;
  std::unordered_set<std::string> ids_;
  std::unordered_map<std::string, TPersonRow> persons_by_;
  std::vector<TRoleRow> roleRows_;
  std::unordered_map<std::string, std::vector<std::uint32_t>> byPerson_, byEvent_;
  std::unordered_map<std::string, TEventRow> events_by_;
  qsizetype vstrSize_ = kLongText, fioSize_ = 0, mainpersSize_ = 0;
  std::vector<TOp> ops_;
  TToolResult r_;
  int changes_ = 0;
  qint64 k_ = 0, l_ = 0, e_ = 0;
};

}  // namespace

TToolResult Tools_At4(TToolContext& ctx, const TToolOptions& o) { return TAt4Tools(ctx, o).Run(); }
