// What the synthetic database generators share: the name and place words, the seeded random
// sequence that makes the same tree for the same arguments, and GEDCOM note lines.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

namespace synthwords {

inline const char16_t* const kMale[] = {u"Иван", u"Пётр", u"Николай", u"Алексей", u"Фёдор", u"Михаил"};
inline const char16_t* const kFemale[] = {u"Анна", u"Мария", u"Евдокия", u"Ольга", u"Татьяна", u"Вера"};
inline const char16_t* const kPatrM[] = {u"Иванович", u"Петрович", u"Николаевич", u"Алексеевич"};
inline const char16_t* const kPatrF[] = {u"Ивановна", u"Петровна", u"Николаевна", u"Алексеевна"};
inline const char16_t* const kSur[] = {u"Северцев", u"Кузнецов", u"Орлов", u"Соколов", u"Лебедев", u"Ильин"};
inline const char16_t* const kPlaces[] = {u"Тула", u"Калуга", u"Москва", u"Рязань", u"Берёзовка", u"Орёл"};

// A linear congruential sequence seeded by the seed and the tree size.
class Random {
 public:
  Random(std::uint64_t seed, std::int64_t n) : s_(seed * 0x9E3779B97F4A7C15ull + std::uint64_t(n)) {}
  // The next number below m.
  int operator()(std::uint64_t m) {
    s_ = s_ * 6364136223846793005ull + 1442695040888963407ull;
    return int((s_ >> 33) % m);
  }

 private:
  std::uint64_t s_;
};

// A note as GEDCOM lines: its lines go on CONT lines, long lines are cut into CONC pieces of 60
// characters.
inline QString GedcomNote(int level, const QString& tag, const QString& text) {
  const QStringList lines = text.split(QStringLiteral("\r\n"));
  QString s;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const QString& line = lines[i];
    for (qsizetype at = 0; at == 0 || at < line.size(); at += 60) {
      const QString piece = line.mid(at, 60);
      if (i == 0 && at == 0)
        s += QStringLiteral("%1 %2 %3\n").arg(level).arg(tag, piece);
      else
        s += QStringLiteral("%1 %2 %3\n").arg(level + 1).arg(at == 0 ? QStringLiteral("CONT") : QStringLiteral("CONC"), piece);
    }
  }
  return s;
}

}  // namespace synthwords
