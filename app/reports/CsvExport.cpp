#include "app/reports/CsvExport.h"

#include <QFile>

#include <algorithm>

#include "app/core/UnitFunc.h"

namespace {

const char* const kCaptions[kCsvFieldCount] = {
    "Код (INDI)", "Код (_UID)", "Полное имя (ФИО)", "Пол", "Фамилия", "Фамилия при рождении", "Имя", "Отчество",
    "Префикс имени", "Суффикс имени", "Место жительства", "Примечание к персоне", "Дата рождения", "Год рождения",
    "Место рождения", "Комментарий к рождению", "Дата смерти", "Год смерти", "Место смерти", "Причина смерти",
    "Комментарий к смерти", "Род", "Основное занятие", "Время создания персоны", "Время последнего изменения",
    "Отец", "Дата рождения отца", "Дата смерти отца", "Мать", "Фамилия при рождении матери",
    "Дата рождения матери", "Дата смерти матери", "Братья-сестры", "Супруг", "Статус в браке",
    "Дата рождения супруга", "Дата смерти супруга", "Дата брака", "Место брака", "Комментарий к браку ", "Дети",
    "Признак Фаворита"};

constexpr int kFirstGroupItem = 33, kLastGroupItem = 40, kFavorite = 41;

QString Bare(const QString& value) { return value + QLatin1Char(';'); }

QString DateTimeText(TDateTime t) { return t == 0 ? QString() : DateTimeToDmy(t); }

}  // namespace

QStringList CsvFieldCaptions() {
  QStringList out;
  for (const char* c : kCaptions) out << QString::fromUtf8(c);
  return out;
}

TCsvFields DefaultCsvFields() {
  TCsvFields f{};
  for (int i : {0, 2, 3, 12, 14, 16, 18, 25, 28, 33, 34, 37, 40}) f[static_cast<std::size_t>(i)] = true;
  return f;
}

namespace {

// A value that a spreadsheet program would take for a formula.
bool FormulaLike(const QString& value) {
  if (value.isEmpty()) return false;
  const char16_t c = value.front().unicode();
  return c == u'=' || c == u'+' || c == u'-' || c == u'@';
}

// A plain cross-reference identifier: "@", letters, digits or "_", "@". Only these pass unneutralised in
// the identifier column.
bool PlainReference(const QString& value) {
  if (value.size() < 3 || value.front() != u'@' || value.back() != u'@') return false;
  for (qsizetype i = 1; i + 1 < value.size(); ++i) {
    const char16_t c = value[i].unicode();
    if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_')) return false;
  }
  return true;
}

// Appends the value as a quoted field with its ";": quotes doubled, a CR LF pair or a lone CR or LF as ". ",
// a formula-like start behind an apostrophe.
void AppendQuoted(QString& line, const QString& value) {
  line += QLatin1Char('"');
  if (FormulaLike(value)) line += QLatin1Char('\'');
  const QChar* c = value.constData();
  const qsizetype n = value.size();
  qsizetype plain = 0;  // the start of the run not yet copied
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t u = c[i].unicode();
    if (u != u'"' && u != u'\r' && u != u'\n') continue;
    line.append(c + plain, i - plain);
    if (u == u'"') {
      line += QStringLiteral("\"\"");
    } else {
      line += QStringLiteral(". ");
      if (u == u'\r' && i + 1 < n && c[i + 1] == u'\n') ++i;
    }
    plain = i + 1;
  }
  line.append(c + plain, n - plain);
  line += QStringLiteral("\";");
}

}  // namespace

QString CsvQuoted(const QString& value) {
  QString out;
  out.reserve(value.size() + 3);
  AppendQuoted(out, value);
  return out;
}

TCsvResult GedcomDataExport(const Model& m, const TCsvFields& checked, const QStringList& captions,
                            const TLangFn& lang, const std::function<bool(std::int64_t, std::int64_t)>& progress) {
  TCsvResult r;
  auto on = [&](int i) { return checked[static_cast<std::size_t>(i)]; };
  auto caption = [&](int i) { return captions.value(i, QString::fromUtf8(kCaptions[i])); };
  auto text = [&](const QString& key, const QString& def) { return lang ? lang(key, def) : def; };
  const std::int64_t persons = static_cast<std::int64_t>(m.aIndi.size());
  const std::int64_t families = static_cast<std::int64_t>(m.aFam.size());
  auto person = [&](std::int64_t i) -> const TINDI& {
    return m.aIndi[static_cast<std::size_t>(i >= 0 && i < persons ? i : 0)];
  };
  auto family = [&](std::int64_t f) -> const TFAM& {
    return m.aFam[static_cast<std::size_t>(f >= 0 && f < families ? f : 0)];
  };
  const bool groups = on(kFirstGroupItem);
  int groupFields = 0;
  for (int i = kFirstGroupItem; i <= kLastGroupItem; ++i) groupFields += on(i) ? 1 : 0;
  const QString roleA = text(QStringLiteral("*A"), QStringLiteral("Муж"));
  const QString roleH = text(QStringLiteral("*H"), QStringLiteral("Супруг"));
  const QString roleB = text(QStringLiteral("*B"), QStringLiteral("Жена"));
  const QString roleW = text(QStringLiteral("*W"), QStringLiteral("Супруга"));

  QStringList lines;
  std::vector<int> familyCounts;
  int maxGroups = 0;
  QStringList favorites;
  for (std::int64_t i = 1; i < persons; ++i) {
    if (progress && progress(i, persons - 1)) {
      r.Stopped = true;
      break;
    }
    const TINDI& p = m.aIndi[static_cast<std::size_t>(i)];
    const TFAM& parents = family(p.FAMC);
    const TINDI& father = person(parents.HUSB);
    const TINDI& mother = person(parents.WIFE);
    QString line;
    line.reserve(256);
    auto q = [&](int item, const QString& v) {
      if (on(item)) AppendQuoted(line, v);
    };
    auto identifier = [&](int item, const QString& v) {
      if (!on(item)) return;
      if (PlainReference(v))
        line += QLatin1Char('"') + v + QStringLiteral("\";");
      else
        AppendQuoted(line, v);
    };
    auto bare = [&](int item, const QString& v) {
      if (on(item)) line += Bare(v);
    };
    identifier(0, p.INDI);
    q(1, p._UID);
    q(2, p.FIO1);
    q(3, p.SEX);
    q(4, p.SURN1);
    q(5, p.SURN0);
    q(6, p.FIRS1);
    q(7, p.PATR1);
    bare(8, {});
    bare(9, {});
    q(10, p.RESI_PLAC);
    q(11, p.NOTE);
    q(12, p.BIRT_DATE.NORM);
    q(13, p.BIRT_DATE.YEARS);
    q(14, p.BIRT_PLAC);
    q(15, p.BIRT_NOTE);
    q(16, p.DEAT_DATE.NORM);
    q(17, p.DEAT_DATE.YEARS);
    q(18, p.DEAT_PLAC);
    q(19, p.DEAT_CAUS);
    q(20, p.DEAT_NOTE);
    bare(21, {});
    q(22, p.OCCU);
    bare(23, DateTimeText(p.INSE));
    bare(24, DateTimeText(p.EDIT));
    q(25, father.FIO1);
    q(26, father.BIRT_DATE.NORM);
    q(27, father.DEAT_DATE.NORM);
    q(28, mother.GIVN);
    q(29, mother.SURN0);
    q(30, mother.BIRT_DATE.NORM);
    q(31, mother.DEAT_DATE.NORM);
    if (on(32)) {
      QStringList siblings;
      if (p.FAMC > 0)
        for (std::int64_t c : parents.CHIL)
          if (c != i) siblings << person(c).FIRS1 + QLatin1Char(' ') + person(c).BIRT_DATE.NORM;
      line += CsvQuoted(siblings.join(QStringLiteral(", ")));
    }
    int count = 0;
    if (groups) {
      const bool woman = p.SEX == QLatin1String("F"), man = p.SEX == QLatin1String("M");
      for (std::int64_t fi : p.FAMS) {
        const TFAM& f = family(fi);
        // No spouse is determined for a person whose sex is neither "M" nor "F".
        const TINDI& s = person(woman ? f.HUSB : man ? f.WIFE : 0);
        const bool married = !f.MARR.isEmpty();
        q(33, s.FIO1);
        q(34, woman ? (married ? roleA : roleH) : man ? (married ? roleB : roleW) : QString());
        q(35, s.BIRT_DATE.NORM);
        q(36, s.DEAT_DATE.NORM);
        q(37, f.MARR_DATE.NORM);
        q(38, f.MARR_PLAC);
        q(39, f.MARR_NOTE);
        if (on(40)) {
          QStringList children;
          int n = 0;
          for (std::int64_t c : f.CHIL)
            children << QString::number(++n) + QStringLiteral(". ") + person(c).FIRS1 + QLatin1Char(' ') + person(c).BIRT_DATE.NORM;
          line += CsvQuoted(children.join(QStringLiteral(", ")));
        }
        ++count;
      }
    }
    maxGroups = std::max(maxGroups, count);
    familyCounts.push_back(count);
    lines << line;
    favorites << (on(kFavorite) ? CsvQuoted(p.FAVOR) : QString());
    ++r.Persons;
  }

  QString header;
  for (int i = 0; i < kFirstGroupItem; ++i)
    if (on(i)) header += CsvQuoted(caption(i));
  if (groups)
    for (int g = 1; g <= maxGroups; ++g)
      for (int i = kFirstGroupItem; i <= kLastGroupItem; ++i)
        if (on(i)) header += CsvQuoted(caption(i) + QLatin1Char(' ') + QString::number(g));
  if (on(kFavorite)) header += CsvQuoted(caption(kFavorite));
  r.Lines.reserve(lines.size() + 1);
  r.Lines << header;
  const QString emptyField = CsvQuoted(QString());
  for (qsizetype k = 0; k < lines.size(); ++k) {
    QString& line = lines[k];
    const int missing = (maxGroups - familyCounts[static_cast<std::size_t>(k)]) * groupFields;
    for (int j = 0; j < missing; ++j) line += emptyField;
    line += favorites[k];
    r.Lines << std::move(line);
  }
  return r;
}

bool WriteCsvFile(const QString& path, const QStringList& lines, const QString& input, TCsvWriteError* error) {
  try {
    TZxTargetFile file(QFile::encodeName(path).toStdString(),
                       input.isEmpty() ? std::string() : QFile::encodeName(input).toStdString());
    QByteArray bytes("\xEF\xBB\xBF");
    for (const QString& l : lines) {
      bytes += l.toUtf8();
      bytes += "\r\n";
      if (bytes.size() > (1 << 20)) {
        file.WriteBuffer(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        bytes.clear();
      }
    }
    file.WriteBuffer(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    file.Commit();
    return true;
  } catch (const EZxZipGen& e) {
    if (error) *error = {e.Fault(), e.Errno(), QString::fromUtf8(e.what())};
    return false;
  }
}
