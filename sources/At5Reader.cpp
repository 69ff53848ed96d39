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

#include <algorithm>

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

// The role query: child rows (child with the father and mother of the same event) and couple rows
// (husband and wife of one event; the event id in column 7, 0 in column 8), ordered so that the rows of
// one father/mother pair are contiguous.
const char* const kRoleSQL =
    "select ed2.p_id pid2,ed2.er_id,ed2.e_ord ord2,  ed3.p_id pid3,ed3.er_id,ed3.e_ord,  ed1.p_id,ed1.er_id "
    "from EventDetails ed1 "
    "left join eventdetails ed2 on ed1.e_id=ed2.e_id and ed2.er_id=2 and ed1.e_db_id=ed2.e_db_id and "
    "ed1.er_db_id=ed2.er_db_id "
    "left join eventdetails ed3 on ed1.e_id=ed3.e_id and ed3.er_id=3 and ed1.e_db_id=ed3.e_db_id and "
    "ed1.er_db_id=ed3.er_db_id "
    "where ed1.er_id=1 "
    "union "
    "select ed5.p_id,ed5.er_id,ed5.e_ord,  ed6.p_id,ed6.er_id,ed6.e_ord,ed5.e_id,0 "
    "from EventDetails ed5 join EventDetails ed6 on ed5.e_id=ed6.e_id and ed5.e_db_id=ed6.e_db_id and "
    "ed5.er_db_id=ed6.er_db_id "
    "where (ed5.er_id=5 and ed6.er_id=6) or (ed5.er_id=40 and ed6.er_id=41)"
    "order by pid2,pid3,ord2";

// Ends the read transaction and closes the work components on every way out of a read.
class ReadScope {
 public:
  explicit ReadScope(TDataModule3& dm) : dm_(dm) {}
  ~ReadScope() {
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

}  // namespace

TAt5Reader::TAt5Reader(Model& model, TDataModule3& dm, TDateContext today)
    : model_(model), dm_(dm), today_(std::move(today)), empty_(GDate_RDates(QString(), today_)) {}

void TAt5Reader::At5_Indi(const QString& path, const QString& nameTemplate, const GedProgress& progress) {
  dm_.CloseAll();
  dm_.FDConnection1.Open(path.toStdString(), platform::TSqliteConnection::Access::ReadOnly);
  ReadScope scope(dm_);
  // One snapshot for the whole read: the row count, the rows and every lookup agree, and SQLite takes
  // its shared lock once instead of once per statement.
  dm_.FDConnection1.StartTransaction();
  dm_.FDQuery_.SetSQL(TDataModule3::kPersonSQL);
  dm_.FDQuery_.Open();
  dm_.FDQuery_.FetchAll();
  dm_.FDTable_Dates.Open();
  dm_.FDTable_Values.Open();
  dm_.FDTable_ValuesLinks.Open();

  model_.Clear();  // also clears AbortFlag
  model_.aIndi[0].BIRT_DATE = empty_;
  // Room for every person at once: growing a vector of large records step by step moves them all
  // several times. The persons read are at most the rows of Persons and at most the person rows.
  {
    platform::TSqliteQuery count(dm_.FDConnection1);
    count.SetSQL("select count(*) from Persons");
    count.Open();
    const std::int64_t persons = std::min(count.Field(0).AsInteger(), dm_.FDQuery_.RecordCount());
    if (persons > 0) model_.aIndi.reserve(std::size_t(persons) + 1);
  }
  byId_.clear();

  PersonPass(nameTemplate.isEmpty() ? QString::fromUtf16(kDefaultNameTemplate) : nameTemplate, progress);
  dm_.FDQuery_.Close();
  // A stop during the person pass ends the family pass before its first row.
  if (!model_.AbortFlag) FamilyPass(progress);
  dm_.FDConnection1.Commit();
}

void TAt5Reader::StartPerson(TINDI& p, std::int64_t id) {
  const platform::TSqliteQuery& q = dm_.FDQuery_;
  p._UID = QString::number(id);
  p.INDI = QString::number(model_.PersonCount());
  p.FAMS.clear();
  const QString sex = dbvalues::IdText(q.Field(2));
  p.SEX = sex == u"1" ? QStringLiteral("M") : sex == u"2" ? QStringLiteral("F") : QString();
  p.INSE = dbvalues::DateTime(q.Field(7));
  p.EDIT = dbvalues::DateTime(q.Field(8));

  const std::int64_t birth = q.Field(3).AsInteger();
  // Every person gets a parsed birth date, as a GEDCOM or ".at4" person without one does.
  p.BIRT_DATE = birth > 0 ? ADate_RDates5(kEvent, birth) : empty_;
  p.BIRT_DATE.CALEN = QString::number(birth);
  // No event, no lookups: an event with id 0 must not lend its place to every person without a birth.
  if (birth > 0) {
    p.BIRT_PLAC = fPlace5(kEvent, kEventPlace, birth, 2);
    p.BIRT_NOTE = fDesc5(kEvent, kEventNote, birth, 0, 1);
  }
  const std::int64_t death = q.Field(4).AsInteger();
  if (death > 0) {
    p.DEAT = QStringLiteral("+");
    p.DEAT_DATE = ADate_RDates5(kEvent, death);
    p.DEAT_PLAC = fPlace5(kEvent, kEventPlace, death, 2);
    p.DEAT_NOTE = fDesc5(kEvent, kEventNote, death, 0, 1);
    p.DEAT_CAUS = fValue5(kEvent, kDeathCause, death);
  }
}

void TAt5Reader::FinishPerson(TINDI& p, std::int64_t id, const QString& nameTemplate) {
  p.RESI_PLAC = fPlace5(kPerson, kResidence, id, 2);
  if (p.GIVN.isEmpty()) p.GIVN = p.FIRS1 + u' ' + p.PATR1;
  p.FIO1 = FormatFullName(p.SURN1, p.FIRS1, p.PATR1, p.SURN0, nameTemplate);
  p.iPr = -1;
  p.iPot = -1;
}

void TAt5Reader::PersonPass(const QString& nameTemplate, const GedProgress& progress) {
  platform::TSqliteQuery& q = dm_.FDQuery_;
  const std::int64_t max = q.RecordCount();
  if (progress) progress(0, max);
  std::int64_t pos = 0;
  // Whether a person is open, and its id. A flag rather than "id 0 = none": a person may have id 0.
  bool open = false;
  std::int64_t current = 0;
  while (!q.Eof()) {
    ++pos;
    if (progress && pos % kProgressStep == 0) progress(pos, max);
    const std::int64_t id = q.Field(0).AsInteger();
    if (!open || id != current) {
      if (open) FinishPerson(model_.aIndi.back(), current, nameTemplate);
      open = false;
      // Tested before a person is added, so a stop never leaves a half-filled last person.
      if (model_.AbortFlag) break;
      model_.aIndi.emplace_back();
      StartPerson(model_.aIndi.back(), id);
      byId_.try_emplace(id, model_.PersonCount());
      open = true;
      current = id;
    }
    TINDI& p = model_.aIndi.back();
    // A person without values has one row with a NULL f_id, which sets nothing.
    if (!q.Field(5).IsNull()) {
      switch (q.Field(5).AsInteger()) {
        case kSurname:
          p.SURN = p.SURN1 = dbvalues::Text(q.Field(6));
          break;
        case kBirthSurname:
          p.SURN0 = dbvalues::Text(q.Field(6));
          break;
        case kFirstName:
          p.FIRS1 = dbvalues::Text(q.Field(6));
          break;
        case kPatronymic:
          p.PATR1 = dbvalues::Text(q.Field(6));
          break;
        case kPersonNote:
          p.NOTE = fDesc5(kPerson, kPersonNote, id, 1, 1);
          break;
        default:
          break;  // other values (73 and the rest) are not part of the model
      }
    }
    q.Next();
  }
  if (open) FinishPerson(model_.aIndi.back(), current, nameTemplate);
  if (progress) progress(pos, max);
}

std::int64_t TAt5Reader::PersonByUid(const QString& id) const {
  if (id.isEmpty()) return 0;
  bool ok = false;
  const qint64 n = id.toLongLong(&ok);
  if (!ok || QString::number(n) != id) return 0;
  const auto it = byId_.find(n);
  return it == byId_.end() ? 0 : it->second;
}

void TAt5Reader::FamilyPass(const GedProgress& progress) {
  platform::TSqliteQuery& q = dm_.FDQuery_TMP;
  q.SetSQL(kRoleSQL);
  q.Open();
  q.FetchAll();
  const std::int64_t max = q.RecordCount();
  if (progress) progress(0, max);
  std::int64_t pos = 0;
  QString previousKey;
  std::int64_t f = 0;
  while (!q.Eof()) {
    ++pos;
    if (progress && pos % kProgressStep == 0) progress(pos, max);
    if (model_.AbortFlag) break;
    const QString father = dbvalues::IdText(q.Field(0));
    const QString mother = dbvalues::IdText(q.Field(3));
    const QString key = father + u' ' + mother;
    if (key == u" ") {  // neither father nor mother: no family
      q.Next();
      continue;
    }
    if (key != previousKey) {
      model_.aFam.emplace_back();
      f = model_.FamilyCount();
      model_.aFam.back().FAM = key;
      previousKey = key;
    }
    TFAM& fam = model_.aFam[std::size_t(f)];
    const std::int64_t role = q.Field(7).AsInteger();
    if (role == 1) {
      // A child row. The persons of the row, looked up through the id map, are taken in index order
      // with the rules of a scan over all persons: a person is the child, else the father while there
      // is none, else the mother while there is none; the scan ends once all three are known.
      const QString child = dbvalues::IdText(q.Field(6));
      int found = (fam.HUSB != 0 || father.isEmpty() ? 1 : 0) + (fam.WIFE != 0 || mother.isEmpty() ? 1 : 0);
      std::int64_t who[3] = {PersonByUid(child), PersonByUid(father), PersonByUid(mother)};
      std::sort(std::begin(who), std::end(who));
      std::int64_t last = 0;
      for (std::int64_t i : who) {
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
    } else if (role == 0) {
      // A couple row: husband in column 1, wife in column 4, the event in column 7.
      fam.MARR = QStringLiteral("x");
      if (!dbvalues::IdText(q.Field(6)).isEmpty()) {
        const std::int64_t event = q.Field(6).AsInteger();
        fam.MARR_DATE = ADate_RDates5(kEvent, event);
        fam.MARR_PLAC = fPlace5(kEvent, kEventPlace, event, 2);
        fam.MARR_NOTE = fDesc5(kEvent, kEventNote, event, 0, 1);
        if (fam.HUSB == 0) {
          std::int64_t who[2] = {PersonByUid(father), PersonByUid(mother)};
          std::sort(std::begin(who), std::end(who));
          std::int64_t last = 0;
          for (std::int64_t i : who) {
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
    q.Next();
  }
  if (progress) progress(pos, max);
  q.Close();
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
  const Columns& c = Cols();
  TDATES r;
  // Sort keys are stored as numbers of (at least) nine digits; the first eight are "yyyymmdd".
  r.SORT1 = ZeroPadInt(t.Field(c.sort1).AsInteger(), 9).left(8);
  r.SORT2 = ZeroPadInt(t.Field(c.sort2).AsInteger(), 9).left(8);
  r.DDATE = kUnknownDate;
  const auto part = [&t](int column, int width, const char16_t* unknown) {
    const platform::TSqliteValue v = t.Field(column);
    return v.IsNull() ? QString::fromUtf16(unknown) : ZeroPadInt(v.AsInteger(), width);
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
  const int type = static_cast<int>(std::clamp<std::int64_t>(t.Field(c.type).AsInteger(), -1, 100));
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
  dbvalues::SetGedcomDateText(r, type, dbvalues::Boolean(t.Field(c.julian)), dbvalues::Boolean(t.Field(c.bc)));
  return r;
}

void At5_Indi(Model& model, TDataModule3& dm, const QString& path, const QString& nameTemplate,
              const GedProgress& progress) {
  TAt5Reader(model, dm).At5_Indi(path, nameTemplate, progress);
}
