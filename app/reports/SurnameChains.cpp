// Surname chains: the lines, their life parts and surname variants, and the report.
#include "app/reports/SurnameChains.h"

#include "app/core/UnitFunc.h"

#include <QSet>
#include <QStringList>
#include <QTextDocument>

#include <cmath>

namespace {

constexpr TColor kBlack = 0;
constexpr TColor kRed = 255;
constexpr TColor kBlue = 0xFF0000;
constexpr TColor kNavy = 0x800000;

class LineBuilder {
 public:
  LineBuilder(const Model& m, const std::vector<TPers>& list, const TSurnameChainOptions& o)
      : m_(m), list_(list), o_(o) {}

  TSurnameChain Build(int i) const {
    TSurnameChain line;
    const TPers& e = list_[std::size_t(i)];
    line.Entry = i;
    line.Place = e.Place;
    const QString life = LifePart(e, line);
    if (e.sex == u"F") {
      line.Surnames = e.FamR;
      line.Head = e.Im + Patronymic(e);
      if (o_.HusbandSurname && !e.Fam.isEmpty()) line.Head += QStringLiteral(" (") + e.Fam + u')';
      line.Head += life;
    } else {
      line.Surnames = e.Fam;
      line.Chain = e.Im + life;  // no patronymic for the current person
    }
    line.FirstYear = YearOf(e);
    Follow(i, line);
    line.Skipped = (o_.SkipUnknownSurname && line.Surnames.isEmpty()) || (o_.SkipShort && line.Count < o_.MinPersons);
    return line;
  }

 private:
  // " " + patronymic when the option is on and the person has one.
  QString Patronymic(const TPers& e) const {
    return o_.Patronymic && !e.Ot.isEmpty() ? QStringLiteral(" ") + e.Ot : QString();
  }

  // The life part of an entry; records its birth place in the line's places.
  QString LifePart(const TPers& e, TSurnameChain& line) const {
    QString s;
    if (o_.BirthPlace) {
      const std::size_t pi = e.iID > 0 && std::size_t(e.iID) < m_.aIndi.size() ? std::size_t(e.iID) : 0;
      const QString& place = m_.aIndi[pi].BIRT_PLAC;
      if (!place.isEmpty()) s = place + u' ';
    }
    if (!s.isEmpty() && !line.Places.contains(s))
      line.Places = line.Places.isEmpty() ? s : line.Places + QStringLiteral("; ") + s;
    if (o_.Dates) return QStringLiteral(" (") + s + e.Date1 + e.Date2 + u')';
    if (o_.Years) return QStringLiteral(" (") + s + e.Year1 + e.Year2 + u')';
    if (!s.isEmpty()) return QStringLiteral(" (") + s.chopped(1) + u')';
    return {};
  }

  // The birth year of an entry: the first four characters of its years text, else the four from the
  // second one (a years text "~1850"), else 0.
  static int YearOf(const TPers& e) {
    bool ok = false;
    int y = e.Year1.left(4).toInt(&ok);
    if (ok && y != 0) return y;
    y = e.Year1.mid(1, 4).toInt(&ok);
    return ok ? y : 0;
  }

  // Follows the fathers from entry i. The father's entry is searched after the current one (the list is
  // breadth-first, so a father always comes after his child); the walk is a loop, not a recursion, and a
  // person met again ends it.
  void Follow(int i, TSurnameChain& line) const {
    QSet<QString> seen{list_[std::size_t(i)].ID};
    std::size_t a = std::size_t(i);
    for (;;) {
      const QString& father = list_[a].ID1;
      if (father.isEmpty() || father == u"0") return;  // no parent family, or no father named in it
      std::size_t k = a + 1;
      while (k < list_.size() && list_[k].ID != father) ++k;
      if (k >= list_.size() || seen.contains(father)) return;
      seen.insert(father);
      const TPers& e = list_[k];
      const QString life = LifePart(e, line);
      line.Chain += QStringLiteral(", ") + e.Im + Patronymic(e) + life;
      if (o_.AllVariants) {
        for (const QString& raw : SurnameVariants(e.Fam)) {
          const QString part = raw.trimmed();
          if (part.isEmpty() || line.Surnames.contains(part)) continue;
          line.Surnames = line.Surnames.isEmpty() ? part : line.Surnames + QStringLiteral(", ") + part;
        }
      }
      ++line.Count;
      line.LastYear = YearOf(e);
      a = k;
    }
  }

  // The parts of a surname text split at "(", ")", "," and "/".
  static QStringList SurnameVariants(const QString& fam) {
    QStringList parts;
    QString part;
    for (QChar c : fam) {
      if (c == u'(' || c == u')' || c == u',' || c == u'/') {
        parts << part;
        part.clear();
      } else {
        part += c;
      }
    }
    parts << part;
    return parts;
  }

  const Model& m_;
  const std::vector<TPers>& list_;
  const TSurnameChainOptions& o_;
};

}  // namespace

std::vector<TSurnameChain> SurnameChains(const Model& m, const std::vector<TPers>& aPers,
                                         const TSurnameChainOptions& o) {
  std::vector<TSurnameChain> lines;
  const LineBuilder builder(m, aPers, o);
  for (std::size_t i = 0; i < aPers.size(); ++i)
    if (i == 0 || aPers[i].sex == u"F") lines.push_back(builder.Build(int(i)));
  return lines;
}

QString SurnameChainGeneration(const QString& place) {
  // BinToInt of up to 62 digits stays below 2^62.
  if (place.isEmpty() || place.size() > 62) return {};
  const std::int64_t v = BinToInt(place) + 1;
  std::int64_t half = v / 2;  // v / 2 rounded, halves to the even neighbour
  if (v % 2 != 0 && half % 2 != 0) ++half;
  return QString::number(place.size()) + u'-' + QString::number(half) + QStringLiteral(". ");
}

QString SurnameChainAverage(int firstYear, int lastYear, int count) {
  if (count < 2) return {};
  const double v = std::nearbyint(double(firstYear - lastYear) / double(count - 1) * 10.0) / 10.0;
  return QString::number(v, 'g', 15);
}

void ListFamily(const Model& m, const std::vector<TPers>& aPers, const TSurnameChainOptions& o,
                QTextDocument* pane) {
  if (!pane) return;
  pane->clear();
  const auto append = [&](const QString& text, TColor color, TFontStyles style = fsNone) {
    if (!text.isEmpty()) AppendRich(pane, text, color, style, true);
  };
  bool first = true;
  for (const TSurnameChain& line : SurnameChains(m, aPers, o)) {
    if (line.Skipped) continue;
    // Each line after the first written one starts a new paragraph.
    if (!first) append(QStringLiteral("\r\n"), kNavy);
    first = false;
    if (o.GenerationNumber) append(SurnameChainGeneration(line.Place), kBlack);
    append(line.Surnames + u' ', kNavy, fsBold | fsUnderline);
    if (o.WholeChain) {
      append(line.Head, kRed, fsBold);
      append(line.Chain, kBlue, fsBold);
    }
    if (o.Averages && line.FirstYear != 0 && line.LastYear != 0 && line.Count >= 2)
      append(QStringLiteral(" (") + QString::number(line.Count) + u'/' +
                 SurnameChainAverage(line.FirstYear, line.LastYear, line.Count) + QStringLiteral("; ") +
                 QString::number(line.FirstYear) + u'-' + QString::number(line.LastYear) + u')',
             kBlack);
    if (o.BirthPlace && !line.Places.isEmpty()) append(QStringLiteral(" (") + line.Places + u')', kBlack);
  }
}
