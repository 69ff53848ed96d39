#include "app/reports/Marriages.h"

#include <QDate>
#include <QSet>

#include <algorithm>

#include "app/core/UnitFunc.h"
#include "platform/qt/ClientDataSet.h"

namespace {

using platform::TFieldDef;
using platform::TFieldType;

const QString kCrLf = QStringLiteral("\r\n");

struct FieldSpec {
  const char* name;
  int size;
  const char* title;  // null: the field's name
  int width;
  bool shown;
};

// The fields of CDS_Marriage in order. Date columns are wide enough for a full date and the longest of
// the translated captions ("Народження"). Places are wide text: a place name may hold any character.
const FieldSpec kFields[] = {
    {"Main", 5, "#", 30, true},
    {"M_Fam", 30, nullptr, 90, true},
    {"M_Im", 30, "Имя", 80, true},
    {"M_Ot", 30, nullptr, 90, true},
    {"M_DR", 20, "Рождение", 100, true},
    {"M_DS", 20, "Смерть", 100, true},
    {"R_DR", 500, "Даты рождения детей", 160, true},
    {"DM", 23, "Дата брака", 100, true},
    {"DM_CALC", 9, "Дата бр.расч.", 100, true},
    {"F_Fam", 30, "Фамилия", 90, true},
    {"F_Im", 30, "Имя", 80, true},
    {"F_Ot", 30, "Отчество", 90, true},
    {"F_DR", 20, "Рождение", 100, true},
    {"F_DS", 20, "Смерть", 100, true},
    {"F_fio_O", 50, "ФИО отца невесты", 150, true},
    {"Prim_Marr", 500, "Примечание к браку", 160, true},
    {"Prim", 20, "Другие примечания", 100, true},
    {"M_Place", 20, nullptr, 90, true},
    {"F_Place", 20, nullptr, 90, true},
    {"e_id", 20, nullptr, 60, false},
    {"Ok", 1, "√", 22, true},
    {"iFam", 0, nullptr, 40, false},
};

enum Field { Main, M_Fam, M_Im, M_Ot, M_DR, M_DS, R_DR, DM, DM_CALC, F_Fam, F_Im, F_Ot, F_DR, F_DS, F_fio_O,
             Prim_Marr, Prim, M_Place, F_Place, e_id, Ok, iFam, FieldCount };

// The number of the first four characters of a sort key; 0 when they are no number.
int KeyYear(const QString& key) {
  bool ok = false;
  const int y = key.left(4).toInt(&ok);
  return ok ? y : 0;
}

std::int64_t IndexOf(const QString& id, std::int64_t count) {
  bool ok = false;
  const qlonglong v = id.toLongLong(&ok);
  return ok && v >= 0 && v < count ? v : 0;
}

int Generation(const TPers& e) { return static_cast<int>(e.Place.size()); }

}  // namespace

QString CutField(const QString& text, int n) {
  if (n <= 0 || text.size() <= n) return text;
  qsizetype cut = n;
  if (text[cut - 1].isHighSurrogate() && text[cut].isLowSurrogate()) --cut;
  return text.left(cut);
}

QString WrapHint(const QString& text, int width) {
  QStringList out;
  for (const QString& para : text.split(QLatin1Char('\n'))) {
    QString line;
    QString p = para;
    p.remove(QLatin1Char('\r'));
    qsizetype i = 0;
    while (i < p.size()) {
      // One word with the break character that ends it.
      qsizetype j = i;
      while (j < p.size() && p[j] != u' ' && p[j] != u'-' && p[j] != u'\t') ++j;
      if (j < p.size()) ++j;
      const QString word = p.mid(i, j - i);
      if (!line.isEmpty() && line.size() + word.trimmed().size() > width) {
        out << line.trimmed();
        line.clear();
      }
      line += word;
      i = j;
    }
    out << line.trimmed();
  }
  return out.join(QLatin1Char('\n'));
}

std::vector<TReportColumn> MarriageColumns() {
  std::vector<TReportColumn> cols;
  for (const FieldSpec& f : kFields)
    if (f.shown)
      cols.push_back({QString::fromUtf8(f.name), QString::fromUtf8(f.title ? f.title : f.name), f.width});
  return cols;
}

void CreateMarriageDataSet(platform::TClientDataSet& cds) {
  cds.Close();
  std::vector<TFieldDef> defs;
  for (const FieldSpec& f : kFields)
    defs.push_back({QString::fromUtf8(f.name), f.size ? TFieldType::WideString : TFieldType::Integer, f.size});
  cds.SetFieldDefs(std::move(defs));
  cds.CreateDataSet();
  cds.SetIndexFieldNames(QStringLiteral("e_id"));
}

QString MarriageOk(const QString& dm, const QString& fatherName, int rule) {
  const bool date = DmyToDate(dm) != kUnknownDate;
  const bool father = !fatherName.isEmpty();
  bool known = false;
  switch (rule) {
    case 0: known = date; break;
    case 1: known = father; break;
    case 2: known = date || father; break;
    case 3: known = date && father; break;
    default: break;
  }
  return known ? QStringLiteral("+") : QStringLiteral("-");
}

bool MarriageRowShown(const QString& main, const QString& ok, const TMarriageOptions& o) {
  // Decided by the sign alone, so that generations of two digits are filtered like the others.
  if (!o.OtherWomen && main.endsWith(QLatin1String(" ."))) return false;
  if (!o.OtherMen && main.endsWith(QLatin1Char('.')) && !main.endsWith(QLatin1String(" ."))) return false;
  if (!o.Known && ok == QLatin1String("+")) return false;
  return true;
}

void ApplyMarriageFilter(platform::TClientDataSet& cds, const TMarriageOptions& o) {
  if (!cds.Active()) return;
  const bool on = !o.OtherWomen || !o.OtherMen || !o.Known;
  cds.SetFilter([o](const platform::TClientDataSet& d, int row) {
    return MarriageRowShown(d.Value(row, Main).toString(), d.Value(row, Ok).toString(), o);
  });
  cds.SetFiltered(on);
}

void RecomputeMarriageOk(platform::TClientDataSet& cds, int rule) {
  if (!cds.Active()) return;
  for (int row = 0; row < cds.TotalRows(); ++row)
    cds.SetValue(row, Ok, MarriageOk(cds.Value(row, DM).toString(), cds.Value(row, F_fio_O).toString(), rule));
}

int MarriageCellStyle(const QString& ok, const QString& main, bool calcColumn, const QString& dmCalc) {
  if (calcColumn && dmCalc.size() >= 9 && dmCalc.left(4) > dmCalc.mid(5, 4)) return 5;
  const bool known = ok == QLatin1String("+");
  const bool direct = main.endsWith(QLatin1Char('*'));
  if (known && direct) return 2;
  if (!known && direct) return 3;
  if (known) return 4;
  return 0;
}

QString MarriageYears(const Model& m, std::int64_t f, int currentYear) {
  const TFAM& fam = m.aFam[static_cast<std::size_t>(f)];
  const TINDI& h = m.aIndi[static_cast<std::size_t>(fam.HUSB)];
  const TINDI& w = m.aIndi[static_cast<std::size_t>(fam.WIFE)];
  const QString three = QStringLiteral("3");
  int lower = h.BIRT_DATE.SORT1 < three ? KeyYear(h.BIRT_DATE.SORT1) + 18 : 0;
  if (w.BIRT_DATE.SORT1 < three) lower = std::max(lower, KeyYear(w.BIRT_DATE.SORT1) + 16);
  int upper = currentYear;
  if (h.DEAT == QLatin1String("+")) upper = std::min(upper, KeyYear(h.DEAT_DATE.SORT2));
  if (w.DEAT == QLatin1String("+")) upper = std::min(upper, KeyYear(w.DEAT_DATE.SORT2));
  for (std::int64_t c : fam.CHIL) upper = std::min(upper, KeyYear(m.aIndi[static_cast<std::size_t>(c)].BIRT_DATE.SORT2));
  if (lower < 20) lower = upper - 50;
  return QString::number(lower) + QLatin1Char('-') + QString::number(upper);
}

int MarriageGedcom(const Model& m, const std::vector<TPers>& aPers, const TMarriageOptions& o,
                   platform::TClientDataSet& cds, const std::function<bool(int, int)>& progress) {
  if (aPers.empty() || aPers.front().ID.isEmpty()) return -1;
  const std::int64_t persons = static_cast<std::int64_t>(m.aIndi.size());
  const std::int64_t families = static_cast<std::int64_t>(m.aFam.size());
  const int currentYear = o.CurrentYear > 0 ? o.CurrentYear : QDate::currentDate().year();
  auto beyond = [&](const TPers& e) { return o.LimitGenerations && Generation(e) > o.Generations; };

  // The direct line: the listed persons up to the generation limit; the first is the root.
  QSet<QString> line;
  for (const TPers& e : aPers) {
    if (beyond(e)) break;
    line.insert(e.ID);
  }
  const QString root = aPers.front().ID;

  CreateMarriageDataSet(cds);
  cds.DisableControls();
  std::vector<bool> listed(static_cast<std::size_t>(families), false);
  auto person = [&](std::int64_t i) -> const TINDI& {
    return m.aIndi[static_cast<std::size_t>(i >= 0 && i < persons ? i : 0)];
  };
  int position = 0;
  bool stopped = false;
  for (const TPers& e : aPers) {
    ++position;
    if (stopped || beyond(e)) break;
    const TINDI& c = person(IndexOf(e.ID, persons));
    for (std::int64_t f : c.FAMS) {
      if (f <= 0 || f >= families || listed[static_cast<std::size_t>(f)]) continue;
      listed[static_cast<std::size_t>(f)] = true;
      const TFAM& fam = m.aFam[static_cast<std::size_t>(f)];
      const TINDI& h = person(fam.HUSB);
      const TINDI& w = person(fam.WIFE);
      platform::TClientDataSet::Row row(FieldCount);
      row[iFam] = static_cast<int>(f);
      row[DM] = fam.MARR_DATE.NORM;
      row[e_id] = ZeroPadInt(Generation(e), 2) + e.Place;
      row[Prim_Marr] = CutField(QString(fam.MARR_NOTE).replace(kCrLf, QStringLiteral(", ") + kCrLf), 500);
      QString mFam = h.SURN1;
      const QString fFam = o.MaidenName ? w.SURN0 : w.SURN1;
      if (mFam.isEmpty() && fFam != w.SURN1) mFam = w.SURN1;
      row[M_Fam] = CutField(mFam, 30);
      row[M_Im] = CutField(h.FIRS1, 30);
      row[M_Ot] = CutField(h.PATR1, 30);
      row[M_DR] = CutField(h.BIRT_DATE.NORM, 20);
      row[M_DS] = CutField(h.DEAT_DATE.NORM, 20);
      row[M_Place] = CutField(h.BIRT_PLAC, 20);
      row[F_Fam] = CutField(fFam, 30);
      row[F_Im] = CutField(w.FIRS1, 30);
      row[F_Ot] = CutField(w.PATR1, 30);
      row[F_DR] = CutField(w.BIRT_DATE.NORM, 20);
      row[F_DS] = CutField(w.DEAT_DATE.NORM, 20);
      row[F_Place] = CutField(w.BIRT_PLAC, 20);
      QStringList children;
      for (std::int64_t ch : fam.CHIL) {
        const TINDI& k = person(ch);
        children << k.FIRS1 + QLatin1Char(' ') + k.BIRT_DATE.NORM;
      }
      row[R_DR] = CutField(children.join(QStringLiteral(", ") + kCrLf), 500);
      QString father;
      if (w.FAMC >= 1 && w.FAMC < families) {
        const std::int64_t fi = m.aFam[static_cast<std::size_t>(w.FAMC)].HUSB;
        if (fi >= 1) father = person(fi).FIO1;
      }
      row[F_fio_O] = CutField(father, 50);
      const QString hId = QString::number(fam.HUSB), wId = QString::number(fam.WIFE);
      QString sign;
      if ((fam.WIFE > 0 && wId == root) || (fam.HUSB > 0 && hId == root))
        sign = QStringLiteral("*");
      else if (!line.contains(wId))
        sign = QStringLiteral(".");
      else if (!line.contains(hId))
        sign = QStringLiteral(" .");
      else
        sign = QStringLiteral("*");
      row[Main] = CutField(QString::number(Generation(e)) + sign, 5);
      row[DM_CALC] = CutField(MarriageYears(m, f, currentYear), 9);
      row[Ok] = MarriageOk(fam.MARR_DATE.NORM, father, o.KnownRule);
      cds.AppendRecord(std::move(row));
      if (progress && progress(position, static_cast<int>(aPers.size()))) {
        stopped = true;
        break;
      }
    }
  }
  const int total = cds.TotalRows();
  cds.First();
  ApplyMarriageFilter(cds, o);
  cds.First();
  cds.EnableControls();
  return total;
}
