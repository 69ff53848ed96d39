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

#include "sources/DbValues.h"

#include "engine/foundation/NRDExcept.h"

#include <QFileInfo>

#include <algorithm>
#include <new>

namespace {

// A short text this long may have been cut; the whole text is then in vblob.
constexpr qsizetype kShortTextLimit = 120;
// How often (rows) progress is reported and the stop flag looked at.
constexpr std::int64_t kProgressStep = 10;

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

QString Text(const nrd::TField& f) { return f.IsNull() ? QString() : QString::fromStdU16String(f.AsWideString()); }

nrd::TVariantValue Key(const QString& id) { return nrd::WideValue(id.toStdU16String()); }

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
    case ReadFailed:
      break;
  }
  return QStringLiteral("Не удалось прочитать базу данных \"%s\": %s");
}

// ---------------------------------------------------------------- families

TAt4FamilyBuilder::TAt4FamilyBuilder(Model& model) : model_(model) {
  byId_.reserve(qsizetype(model.aIndi.size()));
  for (std::size_t i = 1; i < model.aIndi.size(); ++i) byId_[model.aIndi[i]._UID].push_back(std::int64_t(i));
}

void TAt4FamilyBuilder::Candidates(const QString& id, std::size_t limit, std::vector<std::int64_t>& out) const {
  const auto it = byId_.constFind(id);
  if (it == byId_.constEnd()) return;
  const std::size_t n = std::min(limit, it->size());
  out.insert(out.end(), it->begin(), it->begin() + std::ptrdiff_t(n));
}

std::int64_t TAt4FamilyBuilder::FamilyOf(const QString& father, const QString& mother) {
  const QString key = father + u' ' + mother;
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
  std::vector<std::int64_t> who;
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
  std::vector<std::int64_t> who;
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

// ---------------------------------------------------------------- the reader

// The fields of the open components, found once per read.
struct TAt4Reader::Fields {
  nrd::TField *id, *fio, *sex, *birth, *death;           // person query
  nrd::TField *vstr, *vlink, *vblob, *fid, *rid;         // Values
  nrd::TField *dShort, *d, *m, *y, *type, *julian, *bc;  // Dates
  nrd::TField *pShort, *pFull;                           // Places
};

TAt4Reader::TAt4Reader(Model& model, TDataModule2& dm, TDateContext today)
    : model_(model), dm_(dm), today_(std::move(today)), empty_(GDate_RDates(QString(), today_)) {}

void TAt4Reader::At4_Indi(const QString& path, const GedProgress& progress) {
  model_.Clear();  // also clears AbortFlag
  model_.aIndi[0].BIRT_DATE = empty_;
  path_ = path;
  try {
    Read(path, progress);
  } catch (const EAt4Read&) {
    throw;
  } catch (const nrd::ENRDException& e) {
    throw EAt4Read(EAt4Read::ReadFailed, path, QString::fromStdString(e.what()));
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
  } catch (const nrd::EDatabaseError& e) {
    throw EAt4Read(EAt4Read::OpenFailed, path);
  }
}

void TAt4Reader::OpenTables(const QString& path) {
  nrd::TNRDDatabase& db = dm_.dbAT4;
  std::vector<std::string> tables;
  db.GetTablesList(tables);
  const auto has = [&tables](const char* name) {
    return std::any_of(tables.begin(), tables.end(),
                       [name](const std::string& t) { return QString::fromStdString(t).compare(QLatin1String(name), Qt::CaseInsensitive) == 0; });
  };
  for (const auto& t : kSchema)
    if (!has(t.table)) throw EAt4Read(EAt4Read::NotFamilyTree, path, QString::fromLatin1(t.table));

  // Opens one component; a missing index (or any other refusal) names what was being opened.
  const auto open = [&path](nrd::TNRDDataSet& ds, const char* what) {
    try {
      ds.Open();
    } catch (const nrd::ENRDException& e) {
      if (e.NativeError == 10325) throw EAt4Read(EAt4Read::NotFamilyTree, path, QString::fromLatin1(what));
      throw EAt4Read(EAt4Read::Damaged, path, QString::fromLatin1(what) + QStringLiteral(": ") + QString::fromStdString(e.what()));
    }
  };
  const auto field = [&path](nrd::TNRDDataSet& ds, const char* table, const char* name) {
    nrd::TField* f = ds.FindField(name);
    if (f == nullptr)
      throw EAt4Read(EAt4Read::NotFamilyTree, path, QString::fromLatin1(table) + u'.' + QString::fromLatin1(name));
    return f;
  };
  for (const auto& t : kSchema) {
    // The columns of each table, checked before any query runs over them.
    if (QLatin1String(t.table) == QLatin1String("Persons") || QLatin1String(t.table) == QLatin1String("EventDetails")) {
      nrd::TNRDTable probe;
      probe.SetDatabaseName(dm_.DatabaseName());
      probe.SetTableName(t.table);
      probe.SetReadOnly(true);
      open(probe, t.table);
      for (const char* c : t.columns) field(probe, t.table, c);
    }
  }

  dm_.Table_Dates.Close();
  dm_.Table_Dates.SetIndexFieldNames("id");
  open(dm_.Table_Dates, "Dates.id");
  dm_.Table_Values.Close();
  dm_.Table_Values.SetIndexName("search");
  open(dm_.Table_Values, "Values.search");
  dm_.Table_Place.Close();
  dm_.Table_Place.SetIndexName("id");
  open(dm_.Table_Place, "Places.id");

  f_->vstr = field(dm_.Table_Values, "Values", "vstr");
  f_->vlink = field(dm_.Table_Values, "Values", "vlink");
  f_->vblob = field(dm_.Table_Values, "Values", "vblob");
  f_->fid = field(dm_.Table_Values, "Values", "f_id");
  f_->rid = field(dm_.Table_Values, "Values", "r_id");
  f_->dShort = field(dm_.Table_Dates, "Dates", "shortname");
  f_->d = field(dm_.Table_Dates, "Dates", "d");
  f_->m = field(dm_.Table_Dates, "Dates", "m");
  f_->y = field(dm_.Table_Dates, "Dates", "y");
  f_->type = field(dm_.Table_Dates, "Dates", "type");
  f_->julian = field(dm_.Table_Dates, "Dates", "isjulian");
  f_->bc = field(dm_.Table_Dates, "Dates", "isdateBC");
  f_->pShort = field(dm_.Table_Place, "Places", "shortname");
  f_->pFull = field(dm_.Table_Place, "Places", "fullname");

  dm_.Query_.Close();
  dm_.Query_.SetSQL(TDataModule2::kPersonSQL);
  open(dm_.Query_, "Persons");
  f_->id = field(dm_.Query_, "Persons", "id");
  f_->fio = field(dm_.Query_, "Persons", "fio");
  f_->sex = field(dm_.Query_, "Persons", "sex");
  f_->birth = field(dm_.Query_, "Persons", "birth_id");
  f_->death = field(dm_.Query_, "Persons", "death_id");
}

void TAt4Reader::Read(const QString& path, const GedProgress& progress) {
  OpenDatabase(path);
  ReadScope scope(dm_);
  Fields fields{};
  f_ = &fields;
  struct Reset {
    Fields*& f;
    ~Reset() { f = nullptr; }
  } reset{f_};
  OpenTables(path);
  PersonPass(progress);
  // A stop during the person pass ends the read: no families of a part of the persons.
  if (!model_.AbortFlag) FamilyPass(progress);
}

bool TAt4Reader::FindValue(const char* fid, const std::string& rid) {
  if (rid.empty()) return false;
  return dm_.Table_Values.FindKey({nrd::TextValue(fid), nrd::TextValue(rid)});
}

QString TAt4Reader::ValueText(int iFull, int iCRLF) {
  QString r = Text(*f_->vstr);
  if (r.size() >= kShortTextLimit && iFull != 0 && !f_->vblob->IsNull()) {
    const std::string bytes = f_->vblob->AsBytes();
    // A text of UTF-16 units has an even number of bytes; an odd one is a damaged value, not a text
    // to cut silently.
    if (bytes.size() % 2 != 0)
      throw EAt4Read(EAt4Read::BadText, path_, Text(*f_->fid) + u' ' + Text(*f_->rid));
    const QString whole = dbvalues::Utf16LeBytes(bytes);
    // An empty BLOB leaves the short text rather than losing it.
    if (!whole.isEmpty()) r = whole;
  }
  if (iCRLF == 0) r = dbvalues::CrLfToBlank(r);
  return r;
}

QString TAt4Reader::fDesc4(const QString& sFid, const QString& sRid, int iFull, int iCRLF) {
  if (sRid.isEmpty() || !dm_.Table_Values.FindKey({Key(sFid), Key(sRid)})) return QString();
  return ValueText(iFull, iCRLF);
}

QString TAt4Reader::fPlace4(const QString& sFid, const QString& sRid, int iType) {
  if (sRid.isEmpty() || !dm_.Table_Values.FindKey({Key(sFid), Key(sRid)})) return QString();
  const QString place = Text(*f_->vlink);
  if (place.isEmpty() || !dm_.Table_Place.FindKey({Key(place)})) return QString();
  return Text(iType == 1 ? *f_->pShort : *f_->pFull);
}

QString TAt4Reader::fDate4(const QString& sRid) {
  if (sRid.isEmpty() || !dm_.Table_Values.FindKey({Key(QStringLiteral("E_7")), Key(sRid)})) return QString();
  const QString date = Text(*f_->vlink);
  if (date.isEmpty() || !dm_.Table_Dates.FindKey({Key(date)})) return QString();
  return Text(*f_->dShort);
}

TDATES TAt4Reader::ADate_RDates4(const QString& sDateShort, int iDD, int iMM, int iYYYY, int iType, bool isJulian,
                                 bool isDateBC) const {
  return dbvalues::At4Date(sDateShort, iDD, iMM, iYYYY, iType, isJulian, isDateBC, today_);
}

bool TAt4Reader::EventDate(const std::string& event, TDATES& out) {
  if (!FindValue("E_7", event) || f_->vlink->IsNull()) return false;
  const std::string date = f_->vlink->AsString();
  if (date.empty() || !dm_.Table_Dates.FindKey({nrd::TextValue(date)})) return false;
  const auto number = [](const nrd::TField& f) { return f.IsNull() ? 0 : f.AsInteger(); };
  out = ADate_RDates4(Text(*f_->dShort), number(*f_->d), number(*f_->m), number(*f_->y), number(*f_->type),
                      !f_->julian->IsNull() && f_->julian->AsBoolean(), !f_->bc->IsNull() && f_->bc->AsBoolean());
  return true;
}

void TAt4Reader::PersonPass(const GedProgress& progress) {
  nrd::TNRDQuery& q = dm_.Query_;
  const std::int64_t max = q.RecordCount();
  model_.aIndi.reserve(std::size_t(std::max<std::int64_t>(0, max)) + 1);
  if (progress) progress(0, max);
  // The text of one value of the current person or event (vstr, or the whole text when asked).
  const auto value = [this](const char* fid, const std::string& rid) {
    return FindValue(fid, rid) ? Text(*f_->vstr) : QString();
  };
  const auto place = [this]() {
    const std::string link = f_->vlink->IsNull() ? std::string() : f_->vlink->AsString();
    if (link.empty() || !dm_.Table_Place.FindKey({nrd::TextValue(link)})) return QString();
    return Text(*f_->pFull);
  };
  std::int64_t pos = 0;
  for (q.First(); !q.Eof(); q.Next()) {
    ++pos;
    if (progress && pos % kProgressStep == 0) progress(pos, max);
    if (model_.AbortFlag) break;
    TINDI p;
    p.INDI = QString::number(model_.aIndi.size());
    const std::string id = f_->id->IsNull() ? std::string() : f_->id->AsString();
    p._UID = Text(*f_->id);
    p.SEX = Text(*f_->sex);
    p.FIO1 = Text(*f_->fio);
    if (FindValue("P_26", id)) {
      p.RESI_PLAC = place();  // Places only: the value stays the current row of Values
      p.NOTE = ValueText(1, 1);
    }
    const std::string birth = f_->birth->IsNull() ? std::string() : f_->birth->AsString();
    if (!EventDate(birth, p.BIRT_DATE)) p.BIRT_DATE = empty_;
    p.BIRT_DATE.CALEN = Text(*f_->birth);
    if (FindValue("E_6", birth)) p.BIRT_PLAC = place();
    if (FindValue("E_14", birth)) p.BIRT_NOTE = ValueText(1, 1);
    const std::string death = f_->death->IsNull() ? std::string() : f_->death->AsString();
    if (!death.empty()) {
      p.DEAT = QStringLiteral("+");
      if (!EventDate(death, p.DEAT_DATE)) p.DEAT_DATE = empty_;
      p.DEAT_DATE.CALEN = Text(*f_->death);
      if (FindValue("E_6", death)) p.DEAT_PLAC = place();
      if (FindValue("E_14", death)) p.DEAT_NOTE = ValueText(1, 1);
    }
    p.SURN = p.SURN1 = value("P_8", id);
    p.FIRS1 = value("P_10", id);
    p.PATR1 = value("P_11", id);
    p.SURN0 = value("P_9", id);
    p.GIVN = p.FIRS1 + u' ' + p.PATR1;
    p.iPr = -1;
    p.iPot = -1;
    model_.aIndi.push_back(std::move(p));
  }
  if (progress) progress(pos, max);
}

void TAt4Reader::FamilyPass(const GedProgress& progress) {
  dm_.Query_.Close();
  nrd::TNRDQuery& q = dm_.Query_TMP;
  q.Close();
  q.SetSQL(TDataModule2::kRoleSQL);
  q.Open();
  if (q.FieldCount() < 8) throw EAt4Read(EAt4Read::NotFamilyTree, path_, QStringLiteral("EventDetails"));
  nrd::TField& father = q.Fields(0);
  nrd::TField& mother = q.Fields(3);
  nrd::TField& third = q.Fields(6);
  nrd::TField& kind = q.Fields(7);
  const std::int64_t max = q.RecordCount();
  if (progress) progress(0, max);
  TAt4FamilyBuilder families(model_);
  std::int64_t pos = 0;
  for (q.First(); !q.Eof(); q.Next()) {
    ++pos;
    if (progress && pos % kProgressStep == 0) progress(pos, max);
    if (model_.AbortFlag) break;
    const QString fatherId = Text(father), motherId = Text(mother);
    if (!kind.IsNull() && kind.AsInteger() == 1) {
      families.ChildRow(fatherId, motherId, Text(third));
      continue;
    }
    // A couple row: husband in column 1, wife in column 4, the event in column 7.
    const std::string event = third.IsNull() ? std::string() : third.AsString();
    const std::int64_t f = families.CoupleRow(fatherId, motherId, !event.empty());
    if (f == 0 || event.empty()) continue;
    TDATES date;
    const bool dated = EventDate(event, date);
    QString plac, note;
    if (FindValue("E_6", event)) {
      const std::string link = f_->vlink->IsNull() ? std::string() : f_->vlink->AsString();
      if (!link.empty() && dm_.Table_Place.FindKey({nrd::TextValue(link)})) plac = Text(*f_->pFull);
    }
    if (FindValue("E_14", event)) note = ValueText(1, 1);
    TFAM& fam = model_.aFam[std::size_t(f)];
    if (dated) fam.MARR_DATE = date;
    fam.MARR_PLAC = plac;
    fam.MARR_NOTE = note;
  }
  if (progress) progress(pos, max);
  q.Close();
}

void At4_Indi(Model& model, TDataModule2& dm, const QString& path, const GedProgress& progress) {
  TAt4Reader(model, dm).At4_Indi(path, progress);
}
