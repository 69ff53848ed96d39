#include "app/reports/Detector.h"

#include "app/core/UnitFunc.h"
#include "platform/qt/MessageFormat.h"

#include <QLocale>
#include <QTextDocument>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// ---------------------------------------------------------------- model access

const TINDI& EmptyPerson() {
  static const TINDI empty;
  return empty;
}

const TFAM& EmptyFamily() {
  static const TFAM empty;
  return empty;
}

bool PersonInRange(const Model& m, std::int64_t i) { return i > 0 && i < std::int64_t(m.aIndi.size()); }
bool FamilyInRange(const Model& m, std::int64_t f) { return f > 0 && f < std::int64_t(m.aFam.size()); }

// A link out of range is no link: the empty record.
const TINDI& PersonAt(const Model& m, std::int64_t i) {
  return PersonInRange(m, i) ? m.aIndi[std::size_t(i)] : EmptyPerson();
}
const TFAM& FamilyAt(const Model& m, std::int64_t f) {
  return FamilyInRange(m, f) ? m.aFam[std::size_t(f)] : EmptyFamily();
}

std::int64_t Number(const QString& text) {
  bool ok = false;
  const qlonglong v = text.toLongLong(&ok);
  return ok ? v : 0;
}

TIDD DatedItem(const TDATES& d) {
  TIDD x;
  x.Date1 = d.SORT1;
  x.Date2 = d.SORT2;
  x.DateOrig = d.NORM;
  return x;
}

bool HasDate(const TIDD& x) { return x.Today || !x.DateOrig.isEmpty(); }

// D(k): a sort key as a whole day count.
std::int64_t D(const QString& key) { return std::int64_t(std::floor(SortKeyToDateClamped(key))); }
std::int64_t D1(const TIDD& x) {
  if (x.day1 == TIDD::kNoDay) x.day1 = D(x.Date1);
  return x.day1;
}
std::int64_t D2(const TIDD& x) {
  if (x.day2 == TIDD::kNoDay) x.day2 = D(x.Date2);
  return x.day2;
}

// The first n characters of an item's two bounds agree: the item is known to that precision.
bool KnownTo(const TIDD& x, int n) { return x.Date1.left(n) == x.Date2.left(n); }

// Translated texts are patterns but never format strings: only "%s" takes an argument and every other
// "%" sequence is copied as it stands. The platform formatter also reads "%%" as "%", so "%%" is doubled
// first to come out unchanged.
QString Fmt(const QString& pattern, const QStringList& args) {
  QString p = pattern;
  if (p.contains(QLatin1String("%%"))) p.replace(QLatin1String("%%"), QLatin1String("%%%%"));
  return platform::FormatMsg(p, args);
}

// ---------------------------------------------------------------- catalogue

struct TCatalogueEntry {
  int slot;  // -1: value texts
  const char16_t* key;
  const char16_t* def;
};

const TCatalogueEntry kMessages[] = {
    {0, u"CheckMessages1", u"1.Ребенок %s (%s) старше родителя (%s)"},
    {2, u"CheckMessages2", u"2.Рождение (%s) после смерти (%s)"},
    {4, u"CheckMessages3", u"3.Брак (%s) после смерти (%s)"},
    {6, u"CheckMessages4", u"4.Брак (%s) до рождения (%s)"},
    {8, u"CheckMessages5.1", u"5.Рождение ребенка %s (%s) %sпосле смерти матери (%s)"},
    {9, u"CheckMessages5.2", u"5.Рождение ребенка %s (%s) после смерти отца (%s)%s%s дней (более 10 месяцев)"},
    {10, u"CheckMessages6", u"6.Событие (%s) произошло перед рождением (%s)"},
    {12, u"CheckMessages7", u"7.Событие (%s) произошло после смерти (%s)"},
    {14, u"CheckMessages8", u"8.Разница в возрасте детей %s (%s) и %s (%s)%s меньше 9 месяцев (%s дней)"},
    {16, u"CheckMessages9.1", u"9.1.Возраст родителя (%s) в момент рождения %s (%s)%s%s лет (<%s)"},
    {17, u"CheckMessages9.2", u"9.2.Возраст родителя (%s) в момент рождения %s (%s)%s%s лет (>%s)"},
    {18, u"CheckMessages10.1", u"10.1.Возраст невесты (%s) в момент свадьбы (%s) с %s%s%s лет (<%s)"},
    {19, u"CheckMessages10.2", u"10.2.Возраст невесты (%s) в момент свадьбы (%s) с %s%s%s лет (>%s)"},
    {20, u"CheckMessages11.1", u"11.1.Возраст жениха (%s) в момент свадьбы (%s) с %s%s%s лет (<%s)"},
    {21, u"CheckMessages11.2", u"11.2.Возраст жениха (%s) в момент свадьбы (%s) с %s%s%s лет (>%s)"},
    {22, u"CheckMessages12.1", u"12.1.Возраст живущего%s%s лет, рождение %s (>%s)"},
    {23, u"CheckMessages12.2", u"12.2.Возраст умершего%s%s лет, рождение %s, смерть %s, (>%s)"},
    {24, u"CheckMessages13", u"13.Разница в возрасте между мужем (%s) и женой %s (%s)%sбольше %s лет (%s)"},
    {26, u"CheckMessages14", u"14.У персоны %s брака: %s"},
    {28, u"CheckMessages15", u"15.Отсутствие брака при наличии %s cовместных детей c %s"},
    {30, u"CheckMessages16", u"16.Отсутствие одного из родителей (%s) у %s(%s)"},
    {32, u"CheckMessages17", u"17.Персона без связей"},
    {34, u"CheckMessages18", u"18.Дети с одинаковыми именами (%s): %s"},
    {36, u"CheckMessages19", u"19.Девичья фамилия не изменилась после замужества, Отец: %s, Мужья: %s"},
    {38, u"CheckMessages20", u"20.Отсутствие фамилии в браке, Мужья: %s"},
    {40, u"CheckMessages21", u"21.Отсутствие девичьей фамилии при наличии отца, Отец: %s"},
    {42, u"CheckMessages22", u"22.Отсутствие даты рождения"},
};

// Message slots (0-based) of CheckMessageTexts.
enum : int {
  kMsg1 = 0, kMsg2 = 2, kMsg3 = 4, kMsg4 = 6, kMsg5_1 = 8, kMsg5_2 = 9, kMsg6 = 10, kMsg7 = 12, kMsg8 = 14,
  kMsg9_1 = 16, kMsg9_2 = 17, kMsg10_1 = 18, kMsg10_2 = 19, kMsg11_1 = 20, kMsg11_2 = 21, kMsg12_1 = 22,
  kMsg12_2 = 23, kMsg13 = 24, kMsg14 = 26, kMsg15 = 28, kMsg16 = 30, kMsg17 = 32, kMsg18 = 34, kMsg19 = 36,
  kMsg20 = 38, kMsg21 = 40, kMsg22 = 42
};

// ---------------------------------------------------------------- options

const std::vector<TDetectorControl> kControls = {
    {u"Check1", u"1.Ребенок старше родителя", u"CheckEvents1", 1},
    {u"Check2", u"2.Рождение после смерти", u"CheckEvents2", 1},
    {u"Check3", u"3.Брак после смерти", u"CheckEvents3", 1},
    {u"Check4", u"4.Брак до рождения", u"CheckEvents4", 1},
    {u"Check5", u"5.Рожд.после смерти родит.", u"CheckEvents5", 1},
    {u"Check6", u"6.Событие перед рождением", u"CheckEvents6", 0},
    {u"Check7", u"7.Событие после смерти", u"CheckEvents7", 0},
    {u"Check8", u"8.Разница в возрасте детей", u"CheckEvents8", 1},
    {u"Check9", u"9.Возраст родителей", u"CheckEvents9", 1},
    {u"Spin091", nullptr, nullptr, 15, 5, 18},
    {u"Spin092", nullptr, nullptr, 60, 40, 100},
    {u"Check10", u"10.Возраст невесты", u"CheckEvents10", 1},
    {u"Spin101", nullptr, nullptr, 15, 5, 18},
    {u"Spin102", nullptr, nullptr, 60, 40, 100},
    {u"Check11", u"11.Возраст жениха", u"CheckEvents11", 1},
    {u"Spin111", nullptr, nullptr, 17, 5, 18},
    {u"Spin112", nullptr, nullptr, 70, 40, 100},
    {u"Check12", u"12.Возраст больше", u"CheckEvents12", 1},
    {u"Spin121", nullptr, nullptr, 110, 90, 150},
    {u"Check13", u"13.Брак-разница лет", u"CheckEvents13", 1},
    {u"Spin131", nullptr, nullptr, 30, 20, 90},
    {u"Check14", u"14.Максимум браков", u"CheckEvents14", 1},
    {u"Spin141", nullptr, nullptr, 3, 1, 20},
    {u"Check15", u"15.Дети вне брака", u"CheckEvents15", 1},
    {u"Check16", u"16.Отсутствие родителя", u"CheckEvents16", 1},
    {u"Check17", u"17.Персоны без связей", u"CheckEvents17", 1},
    {u"Check18", u"18.Дети-тезки", u"CheckEvents18", 0},
    {u"Check19", u"19.Девичья фамилия = текущей", u"CheckEvents19", 0},
    {u"Check20", u"20.Отсутствие фамилии в браке", u"CheckEvents20", 0},
    {u"Check21", u"21.Отсутствие девичьей с отцом", u"CheckEvents21", 0},
    {u"Check22", u"22.Отсутствие даты рождения", u"CheckEvents22", 0},
    {u"CheckBox7", u"Требующие уточнений", u"ClarificRequired", 0},
    {u"CheckBox11", u"Только фаворитов", u"OnlyFav", 0},
};

// The spin edit behind a component name, or null.
int* SpinSlot(TDetectorOptions& o, const QString& name) {
  if (name == u"Spin091") return &o.Spin091;
  if (name == u"Spin092") return &o.Spin092;
  if (name == u"Spin101") return &o.Spin101;
  if (name == u"Spin102") return &o.Spin102;
  if (name == u"Spin111") return &o.Spin111;
  if (name == u"Spin112") return &o.Spin112;
  if (name == u"Spin121") return &o.Spin121;
  if (name == u"Spin131") return &o.Spin131;
  if (name == u"Spin141") return &o.Spin141;
  return nullptr;
}

// The check number of "Check1".."Check22", else 0.
int CheckNumber(const QString& name) {
  if (!name.startsWith(u"Check") || name.startsWith(u"CheckBox")) return 0;
  bool ok = false;
  const int n = name.mid(5).toInt(&ok);
  return ok && n >= 1 && n <= kDetectorChecks && name == QStringLiteral("Check%1").arg(n) ? n : 0;
}

// ---------------------------------------------------------------- the checks of one person

class TChecks {
 public:
  TChecks(const Model& m, const TPers3& rd, const TDetectorOptions& o, const TCheckCatalogue& cat,
          const QString& todayKey, TDetectorSink& sink)
      : m_(m), rd_(rd), o_(o), cat_(cat), todayKey_(todayKey), sink_(sink), P_(o.CheckBox7 ? 1 : 0) {}

  void Run() {
    const auto on = [this](int n) { return o_.Check[std::size_t(n)]; };
    if (on(1)) C1();
    if (on(2)) C2();
    if (on(3)) C3();
    if (on(4)) C4();
    if (on(5)) C5();
    if (on(6)) C6();
    if (on(7)) C7();
    if (on(8)) C8();
    if (on(9)) C9();
    if (on(10)) C10();
    if (on(11)) C11();
    if (on(12)) C12();
    if (on(13)) C13();
    if (on(14)) C14();
    if (on(15)) C15();
    if (on(16)) C16();
    if (on(17)) C17();
    if (on(18)) C18();
    if (on(19)) C19();
    if (on(20)) C20();
    if (on(21)) C21();
    if (on(22)) C22();
  }

 private:
  const Model& m_;
  const TPers3& rd_;
  const TDetectorOptions& o_;
  const TCheckCatalogue& cat_;
  const QString& todayKey_;
  TDetectorSink& sink_;
  const int P_;
  QString head_;  // built at the first finding of the person, shared by the others

  const QString& Msg(int slot) const { return cat_.CheckMessageTexts[std::size_t(slot)]; }
  const TINDI& Self() const { return PersonAt(m_, rd_.index); }
  bool HasBirth() const { return !rd_.DateR.DateOrig.isEmpty(); }
  bool HasDeath() const { return !rd_.DateS.DateOrig.isEmpty(); }
  bool Male() const { return rd_.sex == u"M"; }
  bool Female() const { return rd_.sex == u"F"; }

  QString NameOrPlaceholder(const QString& pid) const {
    const QString& name = PersonAt(m_, Number(pid)).FIO1;
    return name.isEmpty() ? cat_.CheckValues[0] : name;
  }
  const QString& Value(std::int32_t color) const { return cat_.CheckValues[color == kDetectorRed ? 1 : 2]; }
  static QString Days(double diff) { return QString::number(std::llround(diff)); }
  QString Years(double diff) const { return DetectorYears(std::llround(diff), cat_.DecimalPoint); }
  const TINDI& Father() const { return PersonAt(m_, FamilyAt(m_, Self().FAMC).HUSB); }

  void Emit(std::int32_t color, const QString& message, const QString& prefix = {}) {
    TDetectorFinding f;
    f.person = rd_.index;
    f.color = color;
    if (head_.isEmpty())
      head_ = rd_.Name + QStringLiteral(" (") + rd_.DateR.DateOrig + u'-' + rd_.DateS.DateOrig + u')';
    f.head = prefix.isEmpty() ? head_ : prefix + head_;
    f.message = message;
    sink_.Finding(f);
  }

  // Reports an IsExactDatePair finding: certain when X is certainly later, possible when it may be later
  // and possible findings are asked for. An item without a date reports nothing.
  bool PairFinding(const TIDD& X, const TIDD& Y, std::int32_t* color) const {
    double R1 = 0, R2 = 0;
    if (!IsExactDatePair(X, Y, R1, R2)) return false;
    if (R2 > 0) {
      *color = kDetectorRed;
      return true;
    }
    if (R1 > 0 && P_ == 1) {
      *color = kDetectorBlue;
      return true;
    }
    return false;
  }

  void C1() {
    if (!HasBirth()) return;
    for (const TIDD& c : rd_.DateDD) {
      std::int32_t color = 0;
      if (PairFinding(rd_.DateR, c, &color))
        Emit(color, Fmt(Msg(kMsg1), {NameOrPlaceholder(c.PID), c.DateOrig, rd_.DateR.DateOrig}));
    }
  }

  void C2() {
    if (!HasBirth() || !HasDeath()) return;
    std::int32_t color = 0;
    if (PairFinding(rd_.DateR, rd_.DateS, &color))
      Emit(color, Fmt(Msg(kMsg2), {rd_.DateR.DateOrig, rd_.DateS.DateOrig}));
  }

  void C3() {
    if (!HasDeath()) return;
    for (const TIDD& b : rd_.DateBB) {
      std::int32_t color = 0;
      if (PairFinding(b, rd_.DateS, &color)) Emit(color, Fmt(Msg(kMsg3), {b.DateOrig, rd_.DateS.DateOrig}));
    }
  }

  void C4() {
    if (!HasBirth()) return;
    for (const TIDD& b : rd_.DateBB) {
      std::int32_t color = 0;
      if (PairFinding(rd_.DateR, b, &color)) Emit(color, Fmt(Msg(kMsg4), {b.DateOrig, rd_.DateR.DateOrig}));
    }
  }

  void C5() {
    if (!HasDeath()) return;
    for (const TIDD& c : rd_.DateDD) {
      if (Female()) {
        std::int32_t color = 0;
        if (PairFinding(c, rd_.DateS, &color))
          Emit(color, Fmt(Msg(kMsg5_1), {NameOrPlaceholder(c.PID), c.DateOrig,
                                         color == kDetectorRed ? QString() : QStringLiteral("возможно "),
                                         rd_.DateS.DateOrig}));
      } else if (Male()) {
        double diff = 0;
        const std::int32_t color = CompareDateRanges(c, rd_.DateS, QStringLiteral("<"), 300, P_, diff);
        if (color)
          Emit(color, Fmt(Msg(kMsg5_2),
                          {NameOrPlaceholder(c.PID), c.DateOrig, rd_.DateS.DateOrig, Value(color), Days(diff)}));
      }
    }
  }

  void C6() {
    if (!HasBirth()) return;
    for (const TIDD& e : rd_.DateOO) {
      std::int32_t color = 0;
      if (PairFinding(rd_.DateR, e, &color))
        Emit(color, Fmt(Msg(kMsg6), {e.ID + QStringLiteral(": ") + e.DateOrig, rd_.DateR.DateOrig}));
    }
  }

  void C7() {
    if (!HasDeath()) return;
    for (const TIDD& e : rd_.DateOO) {
      std::int32_t color = 0;
      if (PairFinding(e, rd_.DateS, &color))
        Emit(color, Fmt(Msg(kMsg7), {e.ID + QStringLiteral(": ") + e.DateOrig, rd_.DateS.DateOrig}));
    }
  }

  void C8() {
    if (!Female()) return;
    const auto& dd = rd_.DateDD;
    for (std::size_t j = 0; j < dd.size(); ++j)
      for (std::size_t k = j + 1; k < dd.size(); ++k) {
        double diff = 0;
        const std::int32_t color = CompareDateRanges(dd[k], dd[j], QStringLiteral(">>"), 270, P_, diff);
        if (color)
          Emit(color, Fmt(Msg(kMsg8), {NameOrPlaceholder(dd[j].PID), dd[j].DateOrig, NameOrPlaceholder(dd[k].PID),
                                       dd[k].DateOrig, Value(color), Days(diff)}));
      }
  }

  // A lower and an upper age limit between the birth and each item: checks 9, 10 and 11.
  void AgeLimits(const std::vector<TIDD>& items, int low, int high, int msgLow, int msgHigh, bool childItems) {
    for (const TIDD& x : items) {
      const QString name = NameOrPlaceholder(x.PID);
      const auto test = [&](const QString& op, int years, int msg) {
        double diff = 0;
        const std::int32_t color = CompareDateRanges(x, rd_.DateR, op, std::int64_t(years) * 365, P_, diff);
        if (!color) return;
        const QString limit = QString::number(years);
        // A child's line names the child before its date; a marriage line names the spouse after it.
        const QStringList args = childItems ? QStringList{rd_.DateR.DateOrig, name, x.DateOrig, Value(color),
                                                          Years(diff), limit}
                                            : QStringList{rd_.DateR.DateOrig, x.DateOrig, name, Value(color),
                                                          Years(diff), limit};
        Emit(color, Fmt(Msg(msg), args));
      };
      test(QStringLiteral(">"), low, msgLow);
      test(QStringLiteral("<"), high, msgHigh);
    }
  }

  void C9() {
    if (HasBirth()) AgeLimits(rd_.DateDD, o_.Spin091, o_.Spin092, kMsg9_1, kMsg9_2, true);
  }
  void C10() {
    if (Female() && HasBirth()) AgeLimits(rd_.DateBB, o_.Spin101, o_.Spin102, kMsg10_1, kMsg10_2, false);
  }
  void C11() {
    if (Male() && HasBirth()) AgeLimits(rd_.DateBB, o_.Spin111, o_.Spin112, kMsg11_1, kMsg11_2, false);
  }

  void C12() {
    if (!HasBirth()) return;
    const std::int64_t T = std::int64_t(o_.Spin121) * 365;
    const QString limit = QString::number(o_.Spin121);
    double diff = 0;
    if (!rd_.DateS.Date2.isEmpty()) {
      const std::int32_t color = CompareDateRanges(rd_.DateS, rd_.DateR, QStringLiteral("<"), T, P_, diff);
      if (color)
        Emit(color, Fmt(Msg(kMsg12_2), {Value(color), Years(diff), rd_.DateR.DateOrig, rd_.DateS.DateOrig, limit}));
      return;
    }
    // A living person: the age today. The item has no text of its own but is compared as dated.
    TIDD now;
    now.Date1 = todayKey_;
    now.Date2 = todayKey_;
    now.Today = true;
    const std::int32_t color = CompareDateRanges(now, rd_.DateR, QStringLiteral("<"), T, P_, diff);
    if (color) Emit(color, Fmt(Msg(kMsg12_1), {Value(color), Years(diff), rd_.DateR.DateOrig, limit}));
  }

  void C13() {
    if (!Male() || !HasBirth()) return;
    const std::int64_t T = std::int64_t(o_.Spin131) * 365;
    for (const TIDD& b : rd_.DateBB) {
      const std::int64_t spouse = Number(b.PID);
      if (!PersonInRange(m_, spouse)) continue;  // no spouse
      const TIDD W = DatedItem(m_.aIndi[std::size_t(spouse)].BIRT_DATE);
      double diff = 0;
      const std::int32_t color = CompareDateRanges(W, rd_.DateR, QStringLiteral("<<"), T, P_, diff);
      if (color)
        Emit(color, Fmt(Msg(kMsg13), {rd_.DateR.DateOrig, NameOrPlaceholder(b.PID), W.DateOrig, Value(color),
                                      QString::number(o_.Spin131), Years(diff)}));
    }
  }

  void C14() {
    if (std::int64_t(rd_.DateBB.size()) <= o_.Spin141) return;
    QStringList list;
    for (std::size_t k = 0; k < rd_.DateBB.size(); ++k) {
      const TIDD& b = rd_.DateBB[k];
      list << QString::number(k + 1) + QStringLiteral(").") + NameOrPlaceholder(b.PID) + u'(' + b.DateOrig + u')';
    }
    Emit(kDetectorBlue, Fmt(Msg(kMsg14), {QString::number(rd_.DateBB.size()), list.join(QStringLiteral(", "))}));
  }

  void C15() {
    if (!Male() || rd_.DateDD.empty()) return;
    for (const TIDD& b : rd_.DateBB) {
      const TFAM& fam = FamilyAt(m_, Number(b.ID));
      if (!fam.MARR.isEmpty() || b.PID == u"0") continue;
      Emit(kDetectorBlue,
           Fmt(Msg(kMsg15), {QString::number(fam.CHIL.size()), PersonAt(m_, Number(b.PID)).FIO1}));
    }
  }

  void C16() {
    for (const TIDD& c : rd_.DateDD) {
      const TFAM& fam = FamilyAt(m_, Number(c.ID));
      const std::int64_t other = Male() ? fam.WIFE : fam.HUSB;
      if (PersonInRange(m_, other)) continue;
      Emit(kDetectorBlue, Fmt(Msg(kMsg16), {Female() ? cat_.Father : cat_.Mother, NameOrPlaceholder(c.PID),
                                            c.DateOrig}));
    }
  }

  void C17() {
    if (rd_.DateDD.empty() && rd_.DateBB.empty() && rd_.DateOO.empty() && !FamilyInRange(m_, Self().FAMC))
      Emit(kDetectorBlue, Fmt(Msg(kMsg17), {}));
  }

  void C18() {
    if (!Female()) return;
    const auto& dd = rd_.DateDD;
    QStringList entries;
    for (std::size_t k = 0; k < dd.size(); ++k) {
      const QString& name = PersonAt(m_, Number(dd[k].PID)).FIO1;
      entries << (name.isEmpty() ? QStringLiteral("x") + QString::number(k + 1) : name);
    }
    for (qsizetype j = 0; j < entries.size(); ++j) {
      if (entries[j].contains(QLatin1String("..."))) continue;
      int tally = 1;
      QString group;
      for (qsizetype k = j + 1; k < entries.size(); ++k) {
        if (entries[k] != entries[j]) continue;
        const QString entry = entries[k] + QStringLiteral(" (") + dd[std::size_t(k)].DateOrig + u')';
        group = group.isEmpty()
                    ? entries[j] + QStringLiteral(" (") + dd[std::size_t(j)].DateOrig + QStringLiteral(") / ") + entry
                    : group + QStringLiteral(" / ") + entry;
        ++tally;
        entries[k] += QLatin1String("...");
      }
      if (!group.isEmpty()) Emit(kDetectorBlue, Fmt(Msg(kMsg18), {QString::number(tally), group}));
    }
  }

  QString Husbands() const {
    if (rd_.DateBB.empty()) return QStringLiteral("-");
    QStringList names;
    for (const TIDD& b : rd_.DateBB) names << NameOrPlaceholder(b.PID);
    return names.join(QStringLiteral(", "));
  }

  void C19() {
    const TINDI& self = Self();
    if (!Female() || self.SURN0.isEmpty() || self.SURN0 != self.SURN1) return;
    Emit(kDetectorBlue, Fmt(Msg(kMsg19), {Father().FIO1, Husbands()}));
  }

  void C20() {
    if (!Female() || !Self().SURN1.isEmpty() || rd_.DateBB.empty()) return;
    Emit(kDetectorBlue, Fmt(Msg(kMsg20), {Husbands()}), QStringLiteral("20."));
  }

  void C21() {
    if (!Female() || !Self().SURN0.isEmpty() || Father().SURN.isEmpty()) return;
    Emit(kDetectorBlue, Fmt(Msg(kMsg21), {Father().FIO1}), QStringLiteral("21."));
  }

  void C22() {
    if (!rd_.DateR.DateOrig.isEmpty() && rd_.DateR.DateOrig != u"?") return;
    Emit(kDetectorBlue, Fmt(Msg(kMsg22), {}), QStringLiteral("22."));
  }
};

}  // namespace

// ---------------------------------------------------------------- records

TPers3 MakePers3(const Model& m, std::int64_t i) {
  TPers3 r;
  const TINDI& p = PersonAt(m, i);
  r.index = PersonInRange(m, i) ? i : 0;
  r.ID = QString::number(r.index);
  r.Name = p.FIO1;
  r.sex = p.SEX;
  r.DateR = DatedItem(p.BIRT_DATE);
  if (!p.DEAT_DATE.NORM.isEmpty() && p.DEAT_DATE.NORM != u"?") {
    r.DateS = DatedItem(p.DEAT_DATE);
  } else if (p.DEAT == u"+") {
    // Known to be dead, date unknown: a range no comparison can use.
    r.DateS.Date1 = QStringLiteral("1");
    r.DateS.Date2 = QStringLiteral("99999999");
    r.DateS.DateOrig = QStringLiteral("?");
  }
  r.DateOO.reserve(p.EVEN.size() + p.ASSO.size());
  for (const TEVEN& e : p.EVEN) {
    TIDD x = DatedItem(e.DATE);
    x.ID = (e.EVEN + u' ' + e.TYP_).trimmed();
    x.PID = QStringLiteral("?");
    r.DateOO.push_back(std::move(x));
  }
  for (const TASSO& a : p.ASSO) {
    TIDD x;
    x.ID = (a.INDI + u' ' + a.RELA).trimmed();
    r.DateOO.push_back(std::move(x));
  }
  for (const std::int64_t f : p.FAMS) {
    if (!FamilyInRange(m, f)) continue;  // no family
    const TFAM& fam = m.aFam[std::size_t(f)];
    const QString fText = QString::number(f);
    TIDD b = DatedItem(fam.MARR_DATE);
    b.ID = fText;
    const std::int64_t spouse = r.sex == u"M" ? fam.WIFE : fam.HUSB;
    b.PID = PersonInRange(m, spouse) ? QString::number(spouse) : QStringLiteral("0");
    r.DateBB.push_back(std::move(b));
    for (const std::int64_t c : fam.CHIL) {
      if (!PersonInRange(m, c)) continue;  // no child
      TIDD d = DatedItem(m.aIndi[std::size_t(c)].BIRT_DATE);
      d.ID = fText;
      d.PID = QString::number(c);
      r.DateDD.push_back(std::move(d));
    }
  }
  return r;
}

// ---------------------------------------------------------------- comparisons

bool IsExactDatePair(const TIDD& X, const TIDD& Y, double& R1, double& R2) {
  if (!HasDate(X) || !HasDate(Y)) return false;
  R1 = 0;
  R2 = 0;
  const bool same = X.Date1 + X.Date2 == Y.Date1 + Y.Date2;
  const QString nine = QStringLiteral("9");
  if (Y.Date1.size() >= 8 && X.Date2 < nine && !same)
    R1 = X.Date2 > Y.Date1 ? 1 : 0;
  else
    R1 = -0.5;
  if (X.Date1.size() >= 8 && Y.Date2 < nine && !same)
    R2 = X.Date1 > Y.Date2 ? 1 : 0;
  else
    R2 = -0.5;
  return true;
}

std::int32_t CompareDateRanges(const TIDD& X, const TIDD& Y, const QString& Op, std::int64_t T, int P,
                               double& Diff) {
  Diff = 0;
  if (!HasDate(X) || !HasDate(Y)) return 0;
  // Gaps from open bounds (an unknown year is "0000", an open end "9999") exceed this and count as none.
  constexpr std::int64_t kCap = 365000;
  const auto capped = [](std::int64_t v) { return v > kCap ? 0 : v; };
  if (Op == u">") {
    Diff = double(D2(X) - D1(Y));
    if (double(T) > Diff) return kDetectorRed;
    if (P != 1) return 0;
    const QString eight = QStringLiteral("8");
    const std::int64_t A = Number(X.Date1) >= 100 && Y.Date1 <= eight ? D1(X) - D1(Y) : T + 100;
    const std::int64_t B = Number(X.Date2) >= 100 && Y.Date2 <= eight ? D2(X) - D2(Y) : T + 100;
    if (T > A || T > B) {
      Diff = double(std::min(A, B));
      return kDetectorBlue;
    }
    return 0;
  }
  if (Op == u"<") {
    Diff = double(D1(X) - D2(Y));
    if (double(T) < Diff) return kDetectorRed;
    if (P != 1) return 0;
    const std::int64_t A = capped(D1(X) - D1(Y));
    const std::int64_t B = capped(D2(X) - D2(Y));
    if (T < A || T < B) {
      Diff = double(std::max(A, B));
      return kDetectorBlue;
    }
    return 0;
  }
  if (Op == u">>") {
    if (!KnownTo(X, 6) && !KnownTo(Y, 6)) return 0;
    const std::int64_t A = std::llabs(D2(X) - D1(Y));
    const std::int64_t B = std::llabs(D1(X) - D2(Y));
    Diff = double(A);
    if (0 < A && A < T && 0 < B && B < T) return kDetectorRed;
    if (P != 1) return 0;
    if (T > A || T > B) {
      Diff = double(std::min(A, B));
      return kDetectorBlue;
    }
    return 0;
  }
  if (Op == u"<<") {
    if (!KnownTo(X, 4) && !KnownTo(Y, 4)) return 0;
    const std::int64_t A = capped(std::llabs(D2(X) - D1(Y)));
    const std::int64_t B = capped(std::llabs(D1(X) - D2(Y)));
    Diff = double(A);
    if (T < A && T < B) return kDetectorRed;
    if (P != 1) return 0;
    if (T < A || T < B) {
      Diff = double(std::max(A, B));
      return kDetectorBlue;
    }
    return 0;
  }
  return 0;
}

// ---------------------------------------------------------------- catalogue and options

TCheckCatalogue ReadCheckCatalogue(const TDetectorTranslate& translate) {
  const auto tr = [&](const char16_t* key, const char16_t* def) {
    const QString k = QString::fromUtf16(key), d = QString::fromUtf16(def);
    return translate ? translate(k, d) : d;
  };
  TCheckCatalogue c;
  c.CheckValues[0] = tr(u"CheckValue1", u"(отсутствует в событии)");
  c.CheckValues[1] = u' ' + tr(u"CheckValue2", u"составляет") + u' ';
  c.CheckValues[2] = u' ' + tr(u"CheckValue3", u"может составлять") + u' ';
  for (const TCatalogueEntry& e : kMessages) c.CheckMessageTexts[std::size_t(e.slot)] = tr(e.key, e.def);
  // Keys beginning with "*" are empty when the file lacks them and are never written back.
  c.Mother = tr(u"*M", u"");
  c.Father = tr(u"*F", u"");
  c.DecimalPoint = QLocale().decimalPoint();
  return c;
}

TDetectorOptions::TDetectorOptions() {
  for (const TDetectorControl& c : kControls) SetDetectorOption(*this, QString::fromUtf16(c.name), c.def);
}

const std::vector<TDetectorControl>& DetectorControls() { return kControls; }

bool SetDetectorOption(TDetectorOptions& o, const QString& name, int value) {
  if (const int n = CheckNumber(name)) {
    o.Check[std::size_t(n)] = value != 0;
    return true;
  }
  if (name == u"CheckBox7") {
    o.CheckBox7 = value != 0;
    return true;
  }
  if (name == u"CheckBox11") {
    o.CheckBox11 = value != 0;
    return true;
  }
  if (int* slot = SpinSlot(o, name)) {
    *slot = value;
    return true;
  }
  return false;
}

int DetectorOption(const TDetectorOptions& o, const QString& name) {
  if (const int n = CheckNumber(name)) return o.Check[std::size_t(n)] ? 1 : 0;
  if (name == u"CheckBox7") return o.CheckBox7 ? 1 : 0;
  if (name == u"CheckBox11") return o.CheckBox11 ? 1 : 0;
  TDetectorOptions copy = o;
  if (const int* slot = SpinSlot(copy, name)) return *slot;
  return -1;
}

// ---------------------------------------------------------------- the run

void DePrGC(const Model& m, const TPers3& Rd, const TDetectorOptions& o, const TCheckCatalogue& cat,
            const QString& todayKey, TDetectorSink& sink) {
  TChecks(m, Rd, o, cat, todayKey, sink).Run();
}

TDetectorResult DetectorGedcom(Model& m, const TDetectorOptions& o, const TCheckCatalogue& cat, const QDate& today,
                               TDetectorSink& sink, const TDetectorProgress& progress) {
  TDetectorResult result;
  m.AbortFlag = false;
  const QString todayKey = DateKey(today);
  const std::int64_t total = std::int64_t(m.aIndi.size());
  for (std::int64_t i = 1; i < total; ++i) {
    if (progress) progress(i - 1, total);
    if (m.AbortFlag) {
      result.stopped = true;
      break;
    }
    if (o.CheckBox11 && m.aIndi[std::size_t(i)].FAVOR.isEmpty()) continue;
    DePrGC(m, MakePers3(m, i), o, cat, todayKey, sink);
    ++result.checked;
  }
  if (progress && !result.stopped) progress(total > 0 ? total - 1 : 0, total);
  return result;
}

QString DetectorYears(std::int64_t days, const QString& point) {
  // tenths = days * 10 / 365 rounded to the nearest, in integers so that no binary fraction can tip a
  // rounding. A half would go to the even neighbour, but 365 is odd: no quotient of whole days is a half.
  const bool negative = days < 0;
  const std::int64_t n = (negative ? -days : days) * 10;
  std::int64_t q = n / 365;
  if (2 * (n % 365) > 365) ++q;
  QString s = negative && q != 0 ? QStringLiteral("-") : QString();
  s += QString::number(q / 10) + point + QString::number(q % 10);
  return s;
}

TDetectorRichSink::TDetectorRichSink(QTextDocument* doc) {
  if (!doc) return;
  doc->setUndoRedoEnabled(false);
  cursor_ = QTextCursor(doc);
  cursor_.movePosition(QTextCursor::End);
  cursor_.beginEditBlock();
}

TDetectorRichSink::~TDetectorRichSink() { cursor_.endEditBlock(); }

void TDetectorRichSink::Flush() {
  cursor_.endEditBlock();
  cursor_.beginEditBlock();
}

void TDetectorRichSink::Finding(const TDetectorFinding& f) {
  if (cursor_.isNull()) return;
  InsertRich(cursor_, f.head, f.color, fsBold);
  InsertRich(cursor_, QStringLiteral(": ") + f.message + QStringLiteral("\r\n"), 0, fsNone);
}

QString DetectorLine(const Model& m, const TDetectorFinding& f) {
  return PersonAt(m, f.person).INDI + u'\t' + (f.color == kDetectorRed ? QStringLiteral("red") : QStringLiteral("blue")) +
         u'\t' + f.message;
}
