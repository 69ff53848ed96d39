// The date parser's fast path against the general algorithm: every field of the result must be the same
// for every date text of the test corpora, the sample trees, the synthetic generator and a large table of
// generated combinations (qualifiers, month words in every form and case, partial dates, "B.C.", calendar
// escapes, parentheses, odd blanks, bad digits).
// The general algorithm's own behaviour is fixed by the date grammar's tests (GDateTest).
#include "app/core/GDate.h"
#include "app/core/UnitFunc.h"
#include "platform/CodePage.h"
#include "tools/SyntheticGedcom.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>

#include <cstdint>
#include <iostream>
#include <random>
#include <set>
#include <vector>

#include "tests/core/QtPrint.h"


namespace {

// The date value of a "n DATE value" line, or nothing.
bool DateValue(const QString& line, QString& value) {
  static const QRegularExpression re(QStringLiteral("^\\s*\\d+\\s+DATE(?:\\s(.*))?$"),
                                     QRegularExpression::CaseInsensitiveOption);
  const auto m = re.match(line);
  if (!m.hasMatch()) return false;
  value = m.captured(1);
  while (!value.isEmpty() && (value.back() == u'\r' || value.back() == u'\n')) value.chop(1);
  return true;
}

// Every date value of a file, decoded as UTF-16 when it has that byte-order mark, else each line both as
// UTF-8 and as Windows-1251.
void CollectFile(const QString& path, std::set<QString>& out) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return;
  const QByteArray bytes = f.readAll();
  QString value;
  const bool le = bytes.startsWith("\xFF\xFE"), be = bytes.startsWith("\xFE\xFF");
  if (le || be) {
    QStringDecoder dec(le ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
    const QString text = dec(bytes.mid(2));
    for (const QString& line : text.split(QRegularExpression(QStringLiteral("[\r\n]"))))
      if (DateValue(line, value)) out.insert(value);
    return;
  }
  for (const QByteArray& line : bytes.split('\n')) {
    for (const QByteArray& piece : line.split('\r')) {
      if (DateValue(QString::fromUtf8(piece), value)) out.insert(value);
      const std::u16string u = platform::Cp1251ToUtf16(std::string_view(piece.constData(), std::size_t(piece.size())));
      if (DateValue(QString::fromStdU16String(u), value)) out.insert(value);
    }
  }
}

void CollectDir(const QString& dir, std::set<QString>& out) {
  QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) CollectFile(it.next(), out);
}

std::set<QString> CorpusDates() {
  std::set<QString> out;
  const QString root = QStringLiteral(TREVOLAN_SOURCE_DIR);
  CollectDir(root + u"/tests/data"_qs, out);
  CollectDir(root + u"/fuzz/gedcom/corpus"_qs, out);
  CollectDir(root + u"/samples"_qs, out);
  CollectDir(QStringLiteral(TREVOLAN_TESTDATA_DIR "/gedcom"), out);
  return out;
}

std::set<QString> SyntheticDates() {
  std::set<QString> out;
  for (const bool utf8 : {true, false}) {
    const std::string bytes = synth::MakeTree(3000, utf8);
    QString value;
    for (const std::string_view line : {std::string_view(bytes)}) {
      std::size_t from = 0;
      while (from < line.size()) {
        std::size_t to = line.find('\n', from);
        if (to == std::string_view::npos) to = line.size();
        const std::string_view l = line.substr(from, to - from);
        const QString text = utf8 ? QString::fromUtf8(l.data(), qsizetype(l.size()))
                                  : QString::fromStdU16String(platform::Cp1251ToUtf16(l));
        if (DateValue(text, value)) out.insert(value);
        from = to + 1;
      }
    }
  }
  return out;
}

// Month words in every form of the parser's tables, plus words that only look like them.
std::vector<QString> MonthWordsAllForms() {
  const std::vector<QString> upper = {
      u"JAN"_qs, u"FEB"_qs, u"MAR"_qs, u"APR"_qs, u"MAY"_qs, u"JUN"_qs, u"JUL"_qs, u"AUG"_qs, u"SEP"_qs,
      u"OCT"_qs, u"NOV"_qs, u"DEC"_qs,
      u"СІЧНЯ"_qs, u"ЛЮТОГО"_qs, u"БЕРЕЗНЯ"_qs, u"КВІТНЯ"_qs, u"ТРАВНЯ"_qs, u"ЧЕРВНЯ"_qs, u"ЛИПНЯ"_qs,
      u"СЕРПНЯ"_qs, u"ВЕРЕСНЯ"_qs, u"ЖОВТНЯ"_qs, u"ЛИСТОПАДА"_qs, u"ГРУДНЯ"_qs,
      u"СІЧЕНЬ"_qs, u"ЛЮТИЙ"_qs, u"БЕРЕЗЕНЬ"_qs, u"КВІТЕНЬ"_qs, u"ТРАВЕНЬ"_qs, u"ЧЕРВЕНЬ"_qs, u"ЛИПЕНЬ"_qs,
      u"СЕРПЕНЬ"_qs, u"ВЕРЕСЕНЬ"_qs, u"ЖОВТЕНЬ"_qs, u"ЛИСТОПАД"_qs, u"ГРУДЕНЬ"_qs,
      u"СІЧ"_qs, u"ЛЮТ"_qs, u"БЕР"_qs, u"КВІ"_qs, u"ТРА"_qs, u"ЧЕР"_qs, u"ЛИП"_qs, u"СЕР"_qs, u"ВЕР"_qs,
      u"ЖОВ"_qs, u"ЛИС"_qs, u"ГРУ"_qs,
      u"ЯНВАРЯ"_qs, u"ФЕВРАЛЯ"_qs, u"МАРТА"_qs, u"АПРЕЛЯ"_qs, u"МАЯ"_qs, u"ИЮНЯ"_qs, u"ИЮЛЯ"_qs,
      u"АВГУСТА"_qs, u"СЕНТЯБРЯ"_qs, u"ОКТЯБРЯ"_qs, u"НОЯБРЯ"_qs, u"ДЕКАБРЯ"_qs,
      u"ЯНВАРЬ"_qs, u"ФЕВРАЛЬ"_qs, u"МАРТ"_qs, u"АПРЕЛЬ"_qs, u"МАЙ"_qs, u"ИЮНЬ"_qs, u"ИЮЛЬ"_qs,
      u"АВГУСТ"_qs, u"СЕНТЯБРЬ"_qs, u"ОКТЯБРЬ"_qs, u"НОЯБРЬ"_qs, u"ДЕКАБРЬ"_qs,
      u"ЯНВ"_qs, u"ФЕВ"_qs, u"МАР"_qs, u"АПР"_qs, u"МАЙ"_qs, u"ИЮН"_qs, u"ИЮЛ"_qs, u"АВГ"_qs, u"СЕН"_qs,
      u"ОКТ"_qs, u"НОЯ"_qs, u"ДЕК"_qs,
      // not month words, or longer than one
      u"JANUARY"_qs, u"MARCH"_qs, u"SEPT"_qs, u"JA"_qs, u"ЯНВАРЯЯ"_qs, u"СІЧЕНЬЬ"_qs, u"ЁЛКИ"_qs, u"ЇЖАК"_qs,
      u"ІЮЛЯ"_qs, u"ВЕРЕСЕН"_qs, u"JANFEB"_qs, u"МАЯJAN"_qs, u"X"_qs, u"Ё"_qs, u"І"_qs};
  std::vector<QString> out;
  for (const QString& w : upper) {
    out.push_back(w);
    out.push_back(w.toLower());
    out.push_back(w.left(1) + w.mid(1).toLower());
  }
  return out;
}

std::set<QString> GeneratedDates() {
  std::set<QString> out;
  const std::vector<QString> days = {u""_qs, u"1"_qs, u"01"_qs, u"9"_qs, u"12"_qs, u"31"_qs, u"0"_qs, u"00"_qs,
                                     u"?"_qs, u"1?"_qs, u"123"_qs, u"3O"_qs, u"-1"_qs};
  const std::vector<QString> years = {u"1900"_qs, u"1700"_qs, u"2026"_qs, u"850"_qs,  u"19??"_qs, u"0"_qs,
                                      u""_qs,     u"12345"_qs, u"1900/01"_qs, u"-1"_qs, u"19O0"_qs, u"0000"_qs,
                                      u"9999"_qs, u"1"_qs,    u"?"_qs};
  const std::vector<QString> months = MonthWordsAllForms();

  // Day, month word and year: every word with a few days and years, every day and year with a few words.
  for (const QString& m : months) {
    for (const QString& y : {u"1900"_qs, u"850"_qs, u""_qs, u"19??"_qs}) {
      for (const QString& d : {u""_qs, u"5"_qs, u"12"_qs, u"0"_qs}) {
        out.insert(TrimCtl(d + u' ' + m + u' ' + y));
        out.insert(d + m + y);
        out.insert(d + u'.' + m + u'.' + y);
      }
    }
  }
  const std::vector<QString> bodies0 = [&] {
    std::vector<QString> b;
    for (const QString& d : days)
      for (const QString& y : years)
        for (const QString& m : {u"JAN"_qs, u"feb"_qs, u"МАЯ"_qs, u"листопада"_qs, u"Dec"_qs, u"МАЙ"_qs, u""_qs}) {
          b.push_back(TrimCtl(d + u' ' + m + u' ' + y));
        }
    for (const QString& d : days)
      for (const QString& y : years)
        for (const QString& m : {u"05"_qs, u"5"_qs, u"12"_qs, u"13"_qs, u"?"_qs, u""_qs}) {
          b.push_back(d + u'.' + m + u'.' + y);
          b.push_back(m + u'.' + y);
          b.push_back(d + m + y);
        }
    return b;
  }();
  for (const QString& b : bodies0) out.insert(b);

  // Qualifiers before a date, and two-date forms.
  const std::vector<QString> singles = {u"ABT "_qs,   u"EST "_qs,   u"CAL "_qs,   u"BEF "_qs,  u"AFT "_qs,
                                        u"FROM "_qs,  u"TO "_qs,    u"INT "_qs,   u"abt "_qs,  u"Bef "_qs,
                                        u"ABT"_qs,    u"ABT  "_qs,  u"около "_qs, u"до "_qs,   u"после "_qs,
                                        u"близько "_qs, u"бл. "_qs, u"приблизно: "_qs, u"приблизительно "_qs,
                                        u"вирахувано: "_qs, u"після "_qs, u"з "_qs, u"від "_qs, u"от "_qs,
                                        u"по "_qs,    u"с "_qs,     u"~"_qs,      u"<"_qs,     u">"_qs,
                                        u"="_qs,      u"-"_qs,      u"("_qs,      u"ABT BEF "_qs, u"OR "_qs};
  const std::vector<QString> few = {u"1900"_qs, u"12 JAN 1900"_qs, u"JAN 1900"_qs, u"5 мая 1900"_qs,
                                    u"12.05.1900"_qs, u"05.1900"_qs, u"1 JAN"_qs, u"19??"_qs, u""_qs,
                                    u"850"_qs, u"2026"_qs, u"31 FEB 1900"_qs, u"3 березня 1899"_qs,
                                    u"12.05."_qs, u".05.1900"_qs, u"1.5.1900"_qs, u"19000512"_qs};
  for (const QString& q : singles) {
    for (const QString& b : few) out.insert(q + b);
    for (std::size_t i = 0; i < bodies0.size(); i += 7) out.insert(q + bodies0[i]);
  }
  const std::vector<std::pair<QString, QString>> pairs = {
      {u"BET "_qs, u" AND "_qs}, {u"FROM "_qs, u" TO "_qs}, {u""_qs, u" OR "_qs}, {u"между "_qs, u" и "_qs},
      {u"між "_qs, u" і "_qs},    {u"с "_qs, u" по "_qs},    {u"з "_qs, u" до "_qs},  {u""_qs, u" - "_qs},
      {u""_qs, u"-"_qs},          {u"bet "_qs, u" and "_qs}, {u""_qs, u" или "_qs}, {u""_qs, u" або "_qs},
      {u"BET "_qs, u" "_qs},      {u"от "_qs, u" к "_qs},    {u"ABT "_qs, u" OR "_qs}, {u"FROM "_qs, u" AND "_qs}};
  for (const auto& [a, b] : pairs)
    for (const QString& x : few)
      for (const QString& y : few) out.insert(a + x + b + y);

  // Calendar escapes, B.C., parentheses and blanks around and inside.
  const std::vector<QString> escapes = {u"@#DGREGORIAN@ "_qs, u"@#DJULIAN@ "_qs, u"@#DHEBREW@ "_qs,
                                        u"@#DFRENCH R@ "_qs,  u"@#DROMAN@ "_qs,  u"@#DUNKNOWN@ "_qs,
                                        u"@#djulian@ "_qs,    u"@#DJULIAN@"_qs,  u"@#DXYZ@ "_qs,
                                        u"@#D"_qs,            u"@"_qs,           u"@#DJULIAN@ @#DHEBREW@ "_qs};
  for (const QString& e : escapes) {
    for (const QString& b : few) {
      out.insert(e + b);
      out.insert(u"ABT "_qs + e + b);
      out.insert(b + u' ' + e);
    }
    out.insert(e + u"BET 1900 AND 1910"_qs);
    out.insert(e + u"ABT 1900"_qs);
  }
  for (const QString& b : few) {
    out.insert(b + u" B.C."_qs);
    out.insert(u"ABT "_qs + b + u" B.C."_qs);
    out.insert(b + u"B.C."_qs);
    out.insert(u'(' + b + u')');
    out.insert(u"(ABT "_qs + b + u')');
    out.insert(u"( "_qs + b + u" )"_qs);
    out.insert(u'(' + b);
    out.insert(b + u')');
    out.insert(u"  "_qs + b + u"  "_qs);
    out.insert(u'\t' + b + u"\r\n"_qs);
    out.insert(QString(b).replace(u' ', u"   "_qs));
    out.insert(QString(b).replace(u' ', u'\t'));
    out.insert(QString(b).replace(u' ', QChar(0xA0)));
    out.insert(QString(b).replace(u' ', u","_qs));
    out.insert(QString(b).replace(u' ', u"/"_qs));
    out.insert(b + u" (phrase)"_qs);
  }
  for (const char* t : {"(unknown)", "(около 1900)", "(1900)", "()", "(", ")", "B.C.", "b.c.", "100 B.C.",
                        "ABT 100 b.c.", " ", "\t", ".", "..", "...", "?", "??.??.????", "00.00.0000",
                        "29.02.1900", "29.02.2000", "31.12.9999", "01.01.0001", "1.1.1", "1.1.", ".1.",
                        "1900..1910", "1900=1910", "=1900", "1900=", "<>", "~~1900", "1900 1910", "19 00",
                        "ABT 1900 - 1910", "BEF 1900 AND AFT 1910", "1900 OR 1910 OR 1920", "1 2 3 4",
                        "1900-", "-1900", "1900--1910", "12.05.1900-", "С 1900 ПО 1910", "ОКОЛО", "ABT",
                        "MAY", "mAy", "1900 ABT", "1 JAN 1900 ABT", "31 ДЕКАБРЯ 1999", "1 ЯНВАРЯ 2000",
                        "Ⅻ 1900", "ß 1900", "ﬁ 1900", "１９００", "1900\u0301", "İ 1900", "ǅ 1900"})
    out.insert(QString::fromUtf8(t));

  // Every day of every month in leap and common years, as digits and with month words.
  static const char* const kMon[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  for (const int y : {1, 4, 100, 1600, 1700, 1899, 1900, 1904, 2000, 2024, 2100, 9999}) {
    const QString ys = QStringLiteral("%1").arg(y, 4, 10, QLatin1Char('0'));
    for (int m = 0; m <= 13; ++m) {
      for (int d = 0; d <= 32; ++d) {
        out.insert(QStringLiteral("%1.%2.").arg(d, 2, 10, QLatin1Char('0')).arg(m, 2, 10, QLatin1Char('0')) + ys);
        if (m >= 1 && m <= 12) out.insert(QString::number(d) + u' ' + QLatin1String(kMon[m - 1]) + u' ' + ys);
      }
    }
  }
  for (const char* t : {"+1.01.1900", "01.+1.1900", "01.01.+900", "-1.01.1900", "01.01.-900", "1.01.1900",
                        "01.1.1900", "01.01.19000", "01/01/1900", "01-01-1900", "010.1.1900"})
    out.insert(QString::fromUtf8(t));

  // Random texts over the parser's own vocabulary and separators, with a fixed seed.
  const std::vector<QString> vocab = {
      u"ABT"_qs, u"EST"_qs, u"CAL"_qs, u"BET"_qs, u"BEF"_qs, u"AFT"_qs, u"FROM"_qs, u"TO"_qs, u"AND"_qs,
      u"OR"_qs,  u"INT"_qs, u"JAN"_qs, u"may"_qs, u"Dec"_qs, u"МАЯ"_qs, u"листопада"_qs, u"січень"_qs,
      u"ОКОЛО"_qs, u"до"_qs, u"по"_qs, u"и"_qs, u"і"_qs, u"B.C."_qs, u"1900"_qs, u"12"_qs, u"5"_qs,
      u"05"_qs, u"850"_qs, u"??"_qs, u"@#DJULIAN@"_qs, u"("_qs, u")"_qs, u"."_qs, u"-"_qs, u"~"_qs,
      u"<"_qs, u">"_qs, u"="_qs, u"0"_qs, u"19O0"_qs, u"ЁЖ"_qs};
  const std::vector<QString> seps = {u" "_qs, u""_qs, u"  "_qs, u"."_qs, u" "_qs, u" "_qs};
  std::mt19937 rng(20261211);
  for (int i = 0; i < 20000; ++i) {
    QString t;
    const int words = 1 + int(rng() % 6);
    for (int k = 0; k < words; ++k) {
      if (k) t += seps[rng() % seps.size()];
      t += vocab[rng() % vocab.size()];
    }
    out.insert(t);
  }
  return out;
}

void ExpectSame(const QString& text, const TDateContext& ctx, int& mismatches) {
  const TDATES a = GDate_RDates(text, ctx);
  const TDATES b = GDate_RDatesGeneral(text, ctx);
  const bool same = a.ORIG == b.ORIG && a.NORM == b.NORM && a.SORT1 == b.SORT1 && a.SORT2 == b.SORT2 &&
                    a.STYPE == b.STYPE && a.YEARS == b.YEARS && a.DDATE == b.DDATE && a.CALEN == b.CALEN &&
                    a.ORIG.isNull() == b.ORIG.isNull();
  if (!same && ++mismatches <= 20) {
    ADD_FAILURE() << "date text \"" << text.toStdString() << "\" today " << ctx.today.toStdString()
                  << "\n  NORM  " << a.NORM.toStdString() << " | " << b.NORM.toStdString()
                  << "\n  SORT1 " << a.SORT1.toStdString() << " | " << b.SORT1.toStdString()
                  << "\n  SORT2 " << a.SORT2.toStdString() << " | " << b.SORT2.toStdString()
                  << "\n  STYPE " << a.STYPE.toStdString() << " | " << b.STYPE.toStdString()
                  << "\n  YEARS " << a.YEARS.toStdString() << " | " << b.YEARS.toStdString()
                  << "\n  DDATE " << a.DDATE << " | " << b.DDATE
                  << "\n  CALEN " << a.CALEN.toStdString() << " | " << b.CALEN.toStdString();
  }
}

// Two todays: one far from every year of the texts, one inside them, so that the year rule that compares
// with the current year is taken both ways.
const TDateContext kContexts[] = {TDateContext::ForDate(QDate(2026, 12, 10)),
                                  TDateContext::ForDate(QDate(1900, 5, 12))};

// Contexts that no clock gives, for the rules that use today's text as it is.
const TDateContext kOddContexts[] = {TDateContext{QString(), QString()},
                                     TDateContext{u"2026121"_qs, u"2026"_qs},
                                     TDateContext{u"202612101"_qs, u"2026"_qs}};

int CompareAll(const std::set<QString>& texts, bool odd = false) {
  int mismatches = 0;
  for (const TDateContext& ctx : kContexts)
    for (const QString& t : texts) ExpectSame(t, ctx, mismatches);
  if (odd)
    for (const TDateContext& ctx : kOddContexts)
      for (const QString& t : texts) ExpectSame(t, ctx, mismatches);
  return mismatches;
}

TEST(GDateFastPath, SameAsGeneralForEveryCorpusDate) {
  const std::set<QString> texts = CorpusDates();
  std::cout << "corpus date texts: " << texts.size() << "\n";
  // The corpora hold close to a thousand distinct dates; far fewer means that the files were not found.
  EXPECT_GT(texts.size(), 500u);
  std::set<QString> variants;
  for (const QString& t : texts) {
    variants.insert(t.toLower());
    variants.insert(u"  "_qs + t + u' ');
  }
  EXPECT_EQ(CompareAll(texts, true), 0);
  EXPECT_EQ(CompareAll(variants), 0);
}

TEST(GDateFastPath, SameAsGeneralForSyntheticDates) {
  const std::set<QString> texts = SyntheticDates();
  std::cout << "synthetic date texts: " << texts.size() << "\n";
  EXPECT_GT(texts.size(), 1000u);
  EXPECT_EQ(CompareAll(texts, true), 0);
}

TEST(GDateFastPath, SameAsGeneralForGeneratedCombinations) {
  const std::set<QString> texts = GeneratedDates();
  std::cout << "generated date texts: " << texts.size() << "\n";
  EXPECT_GT(texts.size(), 20000u);
  EXPECT_EQ(CompareAll(texts), 0);
}

// The comparison itself must be able to fail: a changed field shows.
TEST(GDateFastPath, ComparisonSeesADifference) {
  const TDateContext& ctx = kContexts[0];
  TDATES a = GDate_RDates(u"ABT 12 JAN 1900"_qs, ctx);
  const TDATES b = GDate_RDatesGeneral(u"ABT 12 JAN 1900"_qs, ctx);
  EXPECT_EQ(a.NORM, b.NORM);
  EXPECT_EQ(a.NORM, u"~12.01.1900"_qs);
  a.SORT2 = u"19000113"_qs;
  EXPECT_NE(a.SORT2, b.SORT2);
}

}  // namespace
