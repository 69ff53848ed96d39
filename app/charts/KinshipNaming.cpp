#include "app/charts/KinshipNaming.h"

#include "app/charts/Ancestors.h"
#include "app/charts/ChartFiles.h"
#include "app/core/UnitFunc.h"

#include <cstdlib>

namespace {

// The built-in words in storage order: per degree, line 1 male and female, then line 2 male and female.
struct TWordDefault {
  const char16_t* code;
  const char16_t* word;
};
constexpr TWordDefault kRelationWordDefaults[6][4] = {
    {{u"CS", u"Внук"}, {u"CD", u"Внучка"}, {u"PCCS", u"Внучатый племянник"}, {u"PCCD", u"Внучатая племянница"}},
    {{u"S", u"Сын"}, {u"D", u"Дочь"}, {u"PCS", u"Племянник"}, {u"PCD", u"Племянница"}},
    {{u"", u""}, {u"", u""}, {u"PS", u"Брат"}, {u"PD", u"Сестра"}},
    {{u"F", u"Отец"}, {u"M", u"Мать"}, {u"PPS", u"Дядя"}, {u"PPD", u"Тетя"}},
    {{u"PF", u"Дед"}, {u"PM", u"Бабушка"}, {u"PF", u"Дед"}, {u"PM", u"Бабушка"}},
    {{u"XXF", u"-юродный"}, {u"XXM", u"-юродная"}, {u"ZZC", u"Пра"}, {u"ZZP", u"Пра"}},
};

// A word of the translation file under "*" + code; empty when the file has none.
QString Lookup(const QString& code) { return ChartText(QLatin1Char('*') + code, QString()); }

QString Repeat(QChar c, int n) { return n > 0 ? QString(n, c) : QString(); }

// The cousin prefix "n-юродный " for n >= minimum, else empty.
QString CousinPrefix(int n, int minimum, int sex, const TRelationWords& words) {
  if (n < minimum) return {};
  return QString::number(n) + words.CousinSuffix(sex) + QLatin1Char(' ');
}

// A name composed from the vocabulary for a generation difference `distance` on `line`; empty when the
// vocabulary has no cousin suffix for the sex (a translation that does not compose names) or no word.
QString Compose(int distance, int line, int sex, const QString& prefix, const TRelationWords& words) {
  if (words.CousinSuffix(sex).isEmpty()) return {};
  const int far = std::abs(distance);
  const QString number = far < 4 ? QString() : QLatin1Char('(') + QString::number(far - 2) + QLatin1Char(')');
  if (distance >= -2 && distance <= 2) return prefix + words.At(distance + 3, line, sex);
  if (distance >= 3 && !words.GreatForAncestors().isEmpty())
    return prefix + words.GreatForAncestors() + number + words.At(5, line, sex);
  if (distance <= -3 && !words.GreatForDescendants().isEmpty())
    return prefix + words.GreatForDescendants() + number + words.At(1, line, sex);
  return {};
}

// The name as shown: first character upper case, the rest (up to 100 characters in all) lower case,
// then the code when the options ask for it.
QString Finish(const QString& name, const QString& code, const TKinshipOptions& o) {
  QString r = o.RelationName ? name.left(100) : QString();
  for (qsizetype i = 0; i < r.size(); ++i) r[i] = i == 0 ? r[i].toUpper() : r[i].toLower();
  if (o.RelationCode && !code.isEmpty())
    r += QLatin1Char(' ') + (o.CodeBrackets ? QLatin1Char('(') + code + QLatin1Char(')') : code);
  return r;
}

int SexIndex(int sex) { return sex == 2 ? 2 : 1; }

}  // namespace

TRelationWords::TRelationWords() {
  for (int d = 0; d < 6; ++d)
    for (int j = 0; j < 4; ++j)
      w_[size_t(d + 1)][size_t(j / 2 + 1)][size_t(j % 2 + 1)] = QString::fromUtf16(kRelationWordDefaults[d][j].word);
}

void TRelationWords::Load() {
  for (int d = 0; d < 6; ++d)
    for (int j = 0; j < 4; ++j) {
      const TWordDefault& def = kRelationWordDefaults[d][j];
      QString& slot = w_[size_t(d + 1)][size_t(j / 2 + 1)][size_t(j % 2 + 1)];
      // The two empty slots (the person himself) stay empty.
      slot = def.code[0] ? ChartText(QLatin1Char('*') + QString::fromUtf16(def.code), QString::fromUtf16(def.word))
                         : QString();
    }
}

QString createNameLink(const TPers& e, const TKinshipOptions& o) {
  QStringList parts;
  if (o.Surname) parts << e.Fam;
  if (o.BirthSurname) {
    QString b = e.FamR;
    if (b.isEmpty() && e.sex == QLatin1String("M") && !o.Surname) b = e.Fam;
    if (!b.isEmpty()) parts << (o.BirthBrackets ? QLatin1Char('(') + b + QLatin1Char(')') : b);
  }
  if (o.FirstName) parts << e.Im;
  if (o.Patronymic) parts << e.Ot;
  parts.removeAll(QString());
  QString dates;
  if (o.YearsLife)
    dates = e.Year1 + e.Year2;
  else if (o.DatesLife)
    dates = e.Date1 + e.Date2;
  if (o.DateBrackets && !dates.isEmpty()) dates = QLatin1Char('(') + dates + QLatin1Char(')');
  return TrimCtl(TrimCtl(parts.join(QLatin1Char(' '))) + QStringLiteral("\r\n") + dates);
}

QString LinkName(int iLen, int iPos, int iSex, int iSex2, const TRelationWords& words, const TKinshipOptions& o) {
  if (iLen == 0 && iPos == 0) return {};
  iSex = SexIndex(iSex);
  const bool male = iSex == 1;
  QString code;
  if (iLen == 0 && iPos >= 1)
    code = Repeat(u'P', iPos - 1) + QLatin1Char(male ? 'F' : 'M');
  else if (iLen == 0)
    code = Repeat(u'C', -iPos - 1) + QLatin1Char(male ? 'S' : 'D');
  else
    code = Repeat(u'P', iLen) + Repeat(u'C', iPos - 1) + QLatin1Char(male ? 'S' : 'D');

  const int line = iLen == 0 ? 1 : 2;
  const int distance = iLen == 0 ? iPos : iLen - iPos;
  QString prefix;
  if (iLen != 0) {
    const int n = iLen - iPos < 1 ? iLen : std::min(iPos + 1, iLen - 1);
    prefix = CousinPrefix(n, 2, iSex, words);
  }

  QString name;
  if (code.size() >= 2) {
    const qsizetype last = code.size() - 1;
    if (code[last - 1] == QLatin1Char('C')) {
      // The more specific form through a brother or a sister.
      QString sibling = code;
      sibling[last - 1] = QLatin1Char(iSex2 == 1 ? 'S' : 'D');
      name = Lookup(sibling);
      if (!name.isEmpty()) code = sibling;
    }
    if (name.isEmpty()) name = Lookup(code);
    if (name.isEmpty() && (code[last] == QLatin1Char('S') || code[last] == QLatin1Char('D'))) {
      QString child = code;
      child[last] = QLatin1Char('C');
      name = Lookup(child);
      if (!name.isEmpty()) code = child;
    }
  }
  if (name.isEmpty()) name = Compose(distance, line, iSex, prefix, words);
  return Finish(name, code, o);
}

QString PathCodeToLinkName(const QString& codes, int k, int sex, const TRelationWords& words,
                           const TKinshipOptions& o) {
  if (k <= 1) return {};
  sex = SexIndex(sex);
  const QString steps = codes.left(k - 1);
  QString code = steps;
  code.replace(QLatin1Char('2'), QLatin1Char('P')).replace(QLatin1Char('1'), QLatin1Char('C'));
  QString second;
  if (!code.isEmpty()) {
    const qsizetype last = code.size() - 1;
    if (code[last] == QLatin1Char('P')) {
      code[last] = QLatin1Char(sex == 1 ? 'F' : 'M');
    } else if (code[last] == QLatin1Char('C')) {
      second = code;
      second[last] = QLatin1Char(sex == 1 ? 'S' : 'D');
    }
  }
  QString name = Lookup(code);
  if (name.isEmpty() && !second.isEmpty()) {
    name = Lookup(second);
    code = second;
  }
  if (name.isEmpty()) {
    const int u = int(steps.count(QLatin1Char('2')));
    const int d = int(steps.count(QLatin1Char('1')));
    const int distance = u - d;
    // A path that only goes down is a direct line too (a child, a grandchild), as it is for blood links;
    // only a path that goes both up and down is collateral.
    const int line = (d == 0 || u == 0) ? 1 : 2;
    QString prefix;
    if (d > 0) {
      const int n = distance < 1 ? u : std::min(d + 1, u - 1);
      prefix = CousinPrefix(n, 2, sex, words);
    }
    name = Compose(distance, line, sex, prefix, words);
  }
  return Finish(name, code, o);
}
