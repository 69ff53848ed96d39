// The CSV export of persons: the chosen columns, quoting with doubled quotes and line breaks as ". ",
// the bare fields, the family groups with the spouse's role and the padding to the largest family count,
// a stopped run, and the written file read back by Python's csv module.
#include "app/reports/CsvExport.h"

#include "tests/reports/MarriagesTestTree.h"
#include "tests/sheet/BookSaveTestUtil.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using mtree::Tree;

TCsvFields Only(std::initializer_list<int> items) {
  TCsvFields f{};
  for (int i : items) f[std::size_t(i)] = true;
  return f;
}

TEST(CsvExport, ChosenColumnsQuotingAndBareFields) {
  Tree t;
  const auto p = t.Person(QStringLiteral("Иванов Иван Петрович"), QStringLiteral("M"), QStringLiteral("5 MAR 1950"));
  t.P(p).NOTE = QStringLiteral("Первая строка\r\nвторая \"цитата\"\rтретья\nчетвёртая");
  const QStringList captions = CsvFieldCaptions();
  ASSERT_EQ(captions.size(), kCsvFieldCount);

  struct Case {
    const char* name;
    std::initializer_list<int> items;
    const char* header;
    const char* line;
  } cases[] = {
      {"code and full name", {0, 2}, "\"Код (INDI)\";\"Полное имя (ФИО)\";", "\"@I1@\";\"Иванов Иван Петрович\";"},
      {"note: quotes doubled, every line break as \". \"", {11},
       "\"Примечание к персоне\";", "\"Первая строка. вторая \"\"цитата\"\". третья. четвёртая\";"},
      {"always empty and unset times are bare", {8, 9, 21, 23, 24, 13},
       "\"Префикс имени\";\"Суффикс имени\";\"Год рождения\";\"Род\";\"Время создания персоны\";\"Время последнего изменения\";",
       ";;\"1950\";;;;"},
      {"favourite mark last", {41, 12}, "\"Дата рождения\";\"Признак Фаворита\";", "\"05.03.1950\";\"\";"},
  };
  for (const Case& c : cases) {
    TCsvFields f{};
    for (int i : c.items) f[std::size_t(i)] = true;
    const TCsvResult r = GedcomDataExport(t.m, f, captions);
    ASSERT_EQ(r.Lines.size(), 2) << c.name;
    EXPECT_EQ(r.Lines[0], QString::fromUtf8(c.header)) << c.name;
    EXPECT_EQ(r.Lines[1], QString::fromUtf8(c.line)) << c.name;
  }
  t.P(p).INSE = 45000.5;  // 15.03.2023 12:00
  const TCsvResult r = GedcomDataExport(t.m, Only({23}), captions);
  EXPECT_EQ(r.Lines[1], QStringLiteral("15.03.2023 12:00:00;"));
}

// A man with two marriages, his wife, a child, the wife's sibling, and a person of unknown sex.
struct Families : Tree {
  std::int64_t man, wife1, wife2, child, sibling, other, father;
  Families() {
    father = Person(QStringLiteral("Петров Сергей"), QStringLiteral("M"), QStringLiteral("1900"));
    man = Person(QStringLiteral("Иванов Иван"), QStringLiteral("M"), QStringLiteral("1925"));
    wife1 = Person(QStringLiteral("Петрова Анна"), QStringLiteral("F"), QStringLiteral("1927"));
    sibling = Person(QStringLiteral("Петров Олег"), QStringLiteral("M"), QStringLiteral("1930"));
    wife2 = Person(QStringLiteral("Сидорова Мария"), QStringLiteral("F"));
    child = Person(QStringLiteral("Иванов Пётр"), QStringLiteral("M"), QStringLiteral("12 MAY 1950"));
    other = Person(QStringLiteral("Кто То"), QStringLiteral("U"));
    Family(father, 0, {wife1, sibling});
    const auto f1 = Family(man, wife1, {child}, QStringLiteral("1949"));
    F(f1).MARR_PLAC = QStringLiteral("Тула");
    Family(man, wife2, {}, {}, true);  // not married
    Family(0, other, {});
  }
};

TEST(CsvExport, FamilyGroupsRolesAndPadding) {
  Families t;
  const TCsvResult r = GedcomDataExport(t.m, Only({2, 32, 33, 34, 37, 38, 40}), CsvFieldCaptions());
  ASSERT_EQ(r.Lines.size(), 8);
  EXPECT_EQ(r.Lines[0],
            QStringLiteral("\"Полное имя (ФИО)\";\"Братья-сестры\";\"Супруг 1\";\"Статус в браке 1\";\"Дата брака 1\";"
                           "\"Место брака 1\";\"Дети 1\";\"Супруг 2\";\"Статус в браке 2\";\"Дата брака 2\";"
                           "\"Место брака 2\";\"Дети 2\";"));
  // The man: two groups, the first married ("Жена"), the second not ("Супруга").
  EXPECT_EQ(r.Lines[t.man],
            QStringLiteral("\"Иванов Иван\";\"\";\"Петрова Анна\";\"Жена\";\"1949\";\"Тула\";\"1. Пётр 12.05.1950\";"
                           "\"Сидорова Мария\";\"Супруга\";\"?\";\"\";\"\";"));
  // The wife: her sibling, one group ("Муж"), padded with empty fields to two groups.
  EXPECT_EQ(r.Lines[t.wife1],
            QStringLiteral("\"Петрова Анна\";\"Олег 1930\";\"Иванов Иван\";\"Муж\";\"1949\";\"Тула\";\"1. Пётр 12.05.1950\";"
                           "\"\";\"\";\"\";\"\";\"\";"));
  EXPECT_EQ(r.Lines[t.wife2].section(u';', 2, 3), QStringLiteral("\"Иванов Иван\";\"Супруг\""));
  // Unknown sex: the group is there, without a spouse or a role.
  EXPECT_EQ(r.Lines[t.other].section(u';', 2, 3), QStringLiteral("\"\";\"\""));
  for (const QString& line : r.Lines) EXPECT_EQ(line.count(u';'), 12) << line.toStdString();

  // Without item 33 no group is written and the header names none.
  const TCsvResult none = GedcomDataExport(t.m, Only({2, 34, 37}), CsvFieldCaptions());
  EXPECT_EQ(none.Lines[0], QStringLiteral("\"Полное имя (ФИО)\";"));
  EXPECT_EQ(none.Lines[t.man], QStringLiteral("\"Иванов Иван\";"));

  // Translated roles.
  const TCsvResult en = GedcomDataExport(t.m, Only({33, 34}), CsvFieldCaptions(),
                                         [](const QString& key, const QString&) { return key == u"*B" ? QStringLiteral("wife") : QStringLiteral("?"); });
  EXPECT_EQ(en.Lines[t.man].section(u';', 1, 1), QStringLiteral("\"wife\""));
}

TEST(CsvExport, StoppedRunKeepsItsLines) {
  Families t;
  int calls = 0;
  const TCsvResult r = GedcomDataExport(t.m, Only({0}), CsvFieldCaptions(), {}, [&](std::int64_t i, std::int64_t last) {
    ++calls;
    EXPECT_EQ(last, 7);
    return i == 4;
  });
  EXPECT_TRUE(r.Stopped);
  EXPECT_EQ(r.Persons, 3);
  EXPECT_EQ(r.Lines.size(), 4);
  EXPECT_EQ(calls, 4);
}

TEST(CsvExport, FileReadBackByPythonCsv) {
  Families t;
  t.P(t.man).NOTE = QStringLiteral("Сказал: \"да\";\r\nпотом ушёл");
  t.P(t.wife1).BIRT_PLAC = QStringLiteral("Село; \"Новое\"");
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("persons.csv"));
  const TCsvResult r = GedcomDataExport(t.m, Only({0, 2, 11, 14, 33, 34, 40, 41}), CsvFieldCaptions());
  ASSERT_TRUE(WriteCsvFile(path, r.Lines));
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF\"Код (INDI)\";"));
  EXPECT_TRUE(bytes.endsWith(";\r\n"));
  EXPECT_FALSE(WriteCsvFile(dir.filePath(QStringLiteral("no/such/folder.csv")), r.Lines));

  ASSERT_TRUE(HavePython()) << "python3 missing (scripts/install-deps.sh installs it)";
  // Each record as its field count and the fields joined with "|" (the ";" after the last field makes an
  // empty last field).
  const std::string script =
      "import csv, sys\n"
      "with open(sys.argv[1], encoding='utf-8-sig', newline='') as f:\n"
      "  for row in csv.reader(f, delimiter=';'):\n"
      "    print(len(row), '|'.join(row))\n";
  const std::string out = RunPython(script, {path.toStdString()});
  const std::string expected =
      "12 Код (INDI)|Полное имя (ФИО)|Примечание к персоне|Место рождения|Супруг 1|Статус в браке 1|Дети 1|"
      "Супруг 2|Статус в браке 2|Дети 2|Признак Фаворита|\n";
  ASSERT_EQ(out.substr(0, out.find('\n') + 1), expected);
  EXPECT_NE(out.find("12 @I2@|Иванов Иван|Сказал: \"да\";. потом ушёл||Петрова Анна|Жена|1. Пётр 12.05.1950|"
                     "Сидорова Мария|Супруга|||\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("12 @I3@|Петрова Анна||Село; \"Новое\"|Иванов Иван|Муж|1. Пётр 12.05.1950|||||\n"), std::string::npos) << out;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 8);
}

}  // namespace
