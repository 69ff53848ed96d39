// The canonical text of a model; see ModelDump.h.
#include "app/core/ModelDump.h"

#include "app/core/GDate.h"
#include "app/core/UnitFunc.h"

namespace {

QString Esc(const QString& v) {
  QString r;
  r.reserve(v.size());
  for (QChar c : v) {
    if (c == u'\\')
      r += QStringLiteral("\\\\");
    else if (c == u'\r')
      r += QStringLiteral("\\r");
    else if (c == u'\n')
      r += QStringLiteral("\\n");
    else
      r += c;
  }
  return r;
}

class Writer {
 public:
  explicit Writer(const QString& today) : today_(today) {}

  void Head(const QString& line) { out_ += line + u'\n'; }
  void Text(const char* key, const QString& v) {
    if (!v.isEmpty()) out_ += QStringLiteral("  %1 %2\n").arg(QLatin1String(key), Esc(v));
  }
  void Number(const char* key, std::int64_t v) {
    if (v != 0) out_ += QStringLiteral("  %1 %2\n").arg(QLatin1String(key)).arg(v);
  }
  void List(const char* key, const std::vector<std::int64_t>& v) {
    if (v.empty()) return;
    QString s;
    for (std::int64_t x : v) s += (s.isEmpty() ? QString() : QStringLiteral(" ")) + QString::number(x);
    out_ += QStringLiteral("  %1 %2\n").arg(QLatin1String(key), s);
  }
  void Stamp(const char* key, TDateTime v) {
    if (v == 0) return;
    out_ += QStringLiteral("  %1 %2\n").arg(QLatin1String(key), v == kUnknownDate ? QStringLiteral("unknown")
                                                                                   : DateTimeToDmy(v));
  }
  void Date(const char* key, const TDATES& d, const char* indent = "  ") {
    // Every parsed date has a display text; a record without texts is one no reader filled.
    if (d.ORIG.isEmpty() && d.NORM.isEmpty() && d.DDATE == kUnknownDate) return;
    const QString sort2 = d.SORT2 == today_ ? QStringLiteral("today") : d.SORT2;
    // DateTimeToDmy gives the empty text for 0 (an unset stamp), but here day 0 is 30 December 1899.
    QString day = d.DDATE == kUnknownDate ? QStringLiteral("unknown")
                  : d.DDATE == 0          ? QStringLiteral("30.12.1899")
                                          : DateTimeToDmy(d.DDATE);
    out_ += QStringLiteral("%1%2 ORIG=\"%3\" NORM=\"%4\" SORT1=%5 SORT2=%6 YEARS=%7 STYPE=%8 DDATE=%9")
                .arg(QLatin1String(indent), QLatin1String(key), Esc(d.ORIG), Esc(d.NORM), d.SORT1, sort2,
                     d.YEARS, d.STYPE, day);
    if (!d.CALEN.isEmpty()) out_ += QStringLiteral(" CALEN=") + d.CALEN;
    out_ += u'\n';
  }
  QString Result() const { return out_; }

 private:
  QString today_;
  QString out_;
};

}  // namespace

QString DumpModel(const Model& m) { return DumpModel(m, TDateContext::Now().today); }

QString DumpModel(const Model& m, const QString& todayKey) {
  Writer w(todayKey);
  w.Head(QStringLiteral("HEAD SOUR=\"%1\" NAME=\"%2\" CHAR=\"%3\" DATE=\"%4\"")
             .arg(Esc(m.GedHead.SOUR), Esc(m.GedHead.NAME), Esc(m.GedHead.CHAR), Esc(m.GedHead.DATE)));
  w.Head(QStringLiteral("COUNTS INDI %1 FAM %2 NOTE %3 MARR %4 HYPER %5")
             .arg(qint64(m.aIndi.size()) - 1)
             .arg(qint64(m.aFam.size()) - 1)
             .arg(qint64(m.aNote.size()) - 1)
             .arg(qint64(m.aMarr.size()) - 1)
             .arg(qint64(m.aIndi_.size()) - 1));
  for (std::size_t i = 1; i < m.aIndi.size(); ++i) {
    const TINDI& p = m.aIndi[i];
    w.Head(QStringLiteral("INDI %1 %2").arg(i).arg(p.INDI));
    w.Text("_UID", p._UID);
    w.Text("NAME", p.NAME);
    w.Text("GIVN", p.GIVN);
    w.Text("SURN", p.SURN);
    w.Text("SURN0", p.SURN0);
    w.Text("SURN1", p.SURN1);
    w.Text("SURN2", p.SURN2);
    w.Text("FIRS1", p.FIRS1);
    w.Text("PATR1", p.PATR1);
    w.Text("FIO1", p.FIO1);
    w.Text("NSFX", p.NSFX);
    w.Text("NPFX", p.NPFX);
    w.Text("SEX", p.SEX);
    w.Date("BIRT_DATE", p.BIRT_DATE);
    w.Text("BIRT_PLAC", p.BIRT_PLAC);
    w.Text("BIRT_NOTE", p.BIRT_NOTE);
    w.Text("DEAT", p.DEAT);
    w.Date("DEAT_DATE", p.DEAT_DATE);
    w.Text("DEAT_PLAC", p.DEAT_PLAC);
    w.Text("DEAT_CAUS", p.DEAT_CAUS);
    w.Text("DEAT_NOTE", p.DEAT_NOTE);
    w.Number("FAMC", p.FAMC);
    w.Text("ADOP", p.ADOP);
    w.List("FAMS", p.FAMS);
    w.Text("RESI_PLAC", p.RESI_PLAC);
    w.Text("RESI_EMAIL", p.RESI_EMAIL);
    w.Text("RESI_PHON", p.RESI_PHON);
    w.Text("RESI_FAX", p.RESI_FAX);
    w.Text("RESI_WWW", p.RESI_WWW);
    w.Text("OCCU", p.OCCU);
    w.Text("NOTE", p.NOTE);
    w.Text("OBJE_FILE", p.OBJE_FILE);
    w.Text("OBJE_TITL", p.OBJE_TITL);
    w.Text("OBJE_PRIM", p.OBJE_PRIM);
    for (const TEVEN& e : p.EVEN) {
      w.Head(QStringLiteral("  EVEN \"%1\" TYPE=\"%2\" PLAC=\"%3\" NOTE=\"%4\"")
                 .arg(Esc(e.EVEN), Esc(e.TYP_), Esc(e.PLAC), Esc(e.NOTE)));
      w.Date("DATE", e.DATE, "    ");
    }
    for (const TASSO& a : p.ASSO)
      w.Head(QStringLiteral("  ASSO %1 %2 RELA=\"%3\"").arg(a.ID).arg(a.INDI, Esc(a.RELA)));
    w.Stamp("INSE", p.INSE);
    w.Stamp("EDIT", p.EDIT);
  }
  for (std::size_t j = 1; j < m.aFam.size(); ++j) {
    const TFAM& f = m.aFam[j];
    w.Head(QStringLiteral("FAM %1 %2").arg(j).arg(f.FAM));
    w.Number("HUSB", f.HUSB);
    w.Number("WIFE", f.WIFE);
    w.List("CHIL", f.CHIL);
    w.Text("MARR", f.MARR);
    w.Date("MARR_DATE", f.MARR_DATE);
    w.Text("MARR_PLAC", f.MARR_PLAC);
    w.Text("MARR_NOTE", f.MARR_NOTE);
    w.Text("OBJE_FILE", f.OBJE_FILE);
    w.Text("OBJE_TITL", f.OBJE_TITL);
    w.Text("OBJE_PRIM", f.OBJE_PRIM);
    w.Stamp("CHAN", f.CHAN);
  }
  for (std::size_t k = 1; k < m.aNote.size(); ++k)
    w.Head(QStringLiteral("NOTE %1 %2 \"%3\"").arg(k).arg(m.aNote[k].NOTE, Esc(m.aNote[k].TEXT)));
  for (std::size_t k = 1; k < m.aMarr.size(); ++k)
    w.Head(QStringLiteral("MARR %1 %2 DATE=\"%3\" PLAC=\"%4\"")
               .arg(k)
               .arg(m.aMarr[k].ID, Esc(m.aMarr[k].DATE), Esc(m.aMarr[k].PLAC)));
  for (std::size_t k = 1; k < m.aIndi_.size(); ++k) {
    const TINDI_& h = m.aIndi_[k];
    QString fams;
    for (std::int64_t x : h.FAMS) fams += QStringLiteral(" ") + QString::number(x);
    w.Head(QStringLiteral("HYPER %1 %2 INDI=%3 FAMC=%4 FAMS=%5").arg(k).arg(h.INDI_, h.INDI).arg(h.FAMC).arg(fams.trimmed()));
  }
  return w.Result();
}
