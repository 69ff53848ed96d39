// Structural checks of a loaded model; see ModelCheck.h.
#include "app/core/ModelCheck.h"

#include <cstdint>

namespace {

QString At(const char* array, std::size_t i, const char* field) {
  return QStringLiteral("%1[%2].%3").arg(QLatin1String(array)).arg(i).arg(QLatin1String(field));
}

void InRange(QStringList& out, const QString& where, std::int64_t v, std::size_t size) {
  if (v < 0 || std::uint64_t(v) >= size)
    out << QStringLiteral("%1 = %2 out of range 0..%3").arg(where).arg(v).arg(qint64(size) - 1);
}

}  // namespace

QStringList CheckModel(const Model& m) {
  QStringList out;
  if (m.aIndi.empty() || m.aFam.empty() || m.aNote.empty() || m.aIndi_.empty() || m.aMarr.empty()) {
    out << QStringLiteral("an array lacks its element 0");
    return out;
  }
  const std::size_t n = m.aIndi.size();
  const std::size_t f = m.aFam.size();

  const TINDI& p0 = m.aIndi[0];
  if (!p0.INDI.isEmpty() || p0.FAMC != 0 || !p0.FAMS.empty() || !p0.ASSO.empty() || !p0.EVEN.empty() ||
      !p0.NAME.isEmpty())
    out << QStringLiteral("aIndi[0] is not empty");
  const TFAM& f0 = m.aFam[0];
  if (!f0.FAM.isEmpty() || f0.HUSB != 0 || f0.WIFE != 0 || !f0.CHIL.empty() || !f0.MARR.isEmpty())
    out << QStringLiteral("aFam[0] is not empty");
  if (!m.aNote[0].NOTE.isEmpty() || !m.aNote[0].TEXT.isEmpty()) out << QStringLiteral("aNote[0] is not empty");
  if (!m.aMarr[0].ID.isEmpty()) out << QStringLiteral("aMarr[0] is not empty");
  if (!m.aIndi_[0].INDI_.isEmpty() || !m.aIndi_[0].FAMS.empty() || m.aIndi_[0].FAMC != 0)
    out << QStringLiteral("aIndi_[0] is not empty");

  for (std::size_t i = 0; i < n; ++i) {
    const TINDI& p = m.aIndi[i];
    InRange(out, At("aIndi", i, "FAMC"), p.FAMC, f);
    for (std::size_t k = 0; k < p.FAMS.size(); ++k)
      InRange(out, At("aIndi", i, "FAMS") + QStringLiteral("[%1]").arg(k), p.FAMS[k], f);
    for (std::size_t k = 0; k < p.ASSO.size(); ++k) {
      const std::int64_t t = p.ASSO[k].ID;
      const QString where = At("aIndi", i, "ASSO") + QStringLiteral("[%1].ID").arg(k);
      InRange(out, where, t, n);
      if (t <= 0 || std::uint64_t(t) >= n || std::uint64_t(t) == i) continue;
      bool back = false;
      for (const TASSO& b : m.aIndi[std::size_t(t)].ASSO) back = back || std::uint64_t(b.ID) == i;
      if (!back) out << where + QStringLiteral(" = %1 has no association back").arg(t);
    }
  }
  for (std::size_t j = 0; j < f; ++j) {
    const TFAM& fam = m.aFam[j];
    InRange(out, At("aFam", j, "HUSB"), fam.HUSB, n);
    InRange(out, At("aFam", j, "WIFE"), fam.WIFE, n);
    for (std::size_t k = 0; k < fam.CHIL.size(); ++k)
      InRange(out, At("aFam", j, "CHIL") + QStringLiteral("[%1]").arg(k), fam.CHIL[k], n);
  }
  for (std::size_t h = 0; h < m.aIndi_.size(); ++h) {
    InRange(out, At("aIndi_", h, "FAMC"), m.aIndi_[h].FAMC, f);
    for (std::size_t k = 0; k < m.aIndi_[h].FAMS.size(); ++k)
      InRange(out, At("aIndi_", h, "FAMS") + QStringLiteral("[%1]").arg(k), m.aIndi_[h].FAMS[k], f);
  }
  return out;
}
