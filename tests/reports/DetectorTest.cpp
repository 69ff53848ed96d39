// The problem detector's date comparisons, numbers, message catalogue, run and rich-text output.
#include "tests/reports/DetectorTest.h"
#include "tests/reports/ReportsTestApp.h"

#include "app/core/GedcomReader.h"
#include "app/core/PersonList.h"

#include <QFile>
#include <QGuiApplication>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include <sys/wait.h>

namespace {

TIDD Item(const QString& d1, const QString& d2, const QString& orig) {
  TIDD x;
  x.Date1 = d1;
  x.Date2 = d2;
  x.DateOrig = orig;
  return x;
}
// An exact day "yyyymmdd".
TIDD Day(const QString& key) { return Item(key, key, key); }
TIDD Unknown() { return Item(QStringLiteral("1"), QStringLiteral("99999999"), QStringLiteral("?")); }

struct PairCase {
  const char* name;
  TIDD X, Y;
  bool result;
  double R1, R2;
};

TEST(DetectorCompare, IsExactDatePair) {
  TIDD today = Item(QStringLiteral("20261211"), QStringLiteral("20261211"), QString());
  today.Today = true;
  const PairCase cases[] = {
      {"later on both bounds", Day("19000101"), Day("18900101"), true, 1, 1},
      {"earlier", Day("18900101"), Day("19000101"), true, 0, 0},
      {"a year around a day: may be later", Item("19000000", "19009999", "1900"), Day("19000601"), true, 1, 0},
      {"identical bounds never order", Item("19000000", "19009999", "1900"), Item("19000000", "19009999", "~1900"),
       true, -0.5, -0.5},
      {"unknown death date on the right", Day("19000101"), Unknown(), true, -0.5, -0.5},
      {"unknown death date on the left", Unknown(), Day("19000101"), true, -0.5, -0.5},
      {"open upper bound of X", Item("19000000", "99999999", ">1900"), Day("19500101"), true, -0.5, 0},
      {"short lower bound of Y", Day("19000101"), Item("1900", "19009999", "1900"), true, -0.5, 0},
      {"today item of a living person compares", today, Day("19000101"), true, 1, 1},
      {"X without a date", Item("19000101", "19000101", ""), Day("19000101"), false, 7, 7},
      {"Y without a date", Day("19000101"), TIDD{}, false, 7, 7},
  };
  for (const PairCase& c : cases) {
    SCOPED_TRACE(c.name);
    double R1 = 7, R2 = 7;
    EXPECT_EQ(IsExactDatePair(c.X, c.Y, R1, R2), c.result);
    EXPECT_EQ(R1, c.R1);
    EXPECT_EQ(R2, c.R2);
  }
}

struct RangeCase {
  const char* name;
  TIDD X, Y;
  const char* op;
  std::int64_t T;
  int P;
  std::int32_t color;
  double diff;
};

TEST(DetectorCompare, CompareDateRanges) {
  const TIDD year1900 = Item("19000000", "19009999", "1900");
  const TIDD before1900 = Item("00000000", "19009999", "<1900");
  const RangeCase cases[] = {
      // ">": X follows Y by less than T days.
      {"> certain", Day("19000301"), Day("19000101"), ">", 100, 0, kDetectorRed, 59},
      {"> gap wide enough", Day("19000301"), Day("19000101"), ">", 50, 1, 0, 59},
      {"> possible from a year", year1900, Day("19000101"), ">", 100, 1, kDetectorBlue, 0},
      {"> possible not asked", year1900, Day("19000101"), ">", 100, 0, 0, 364},
      {"> open lower bound gives no possible", before1900, Day("19000101"), ">", 100, 1, 0, 364},
      // "<": X follows Y by more than T days.
      {"< certain", Day("20100101"), Day("19000101"), "<", 40150, 0, kDetectorRed, 40177},
      {"< exactly the limit", Day("20100101"), Day("19000101"), "<", 40177, 1, 0, 40177},
      {"< possible", Item("20000000", "20109999", "2000..2010"), Day("19000101"), "<", 40150, 1, kDetectorBlue,
       40541},
      {"< gaps from open bounds count as none", Day("19000101"), Item("00000000", "18990101", "<1899"), "<", 1000, 1,
       0, 365},
      // ">>": closer than T, one of them known to the month.
      {">> certain", Day("19000601"), Day("19000101"), ">>", 270, 0, kDetectorRed, 151},
      {">> twins: no certain finding", Day("19000101"), Day("19000101"), ">>", 270, 0, 0, 0},
      {">> twins: possible", Day("19000101"), Day("19000101"), ">>", 270, 1, kDetectorBlue, 0},
      {">> neither known to the month", Item("19010000", "19019999", "1901"), year1900, ">>", 270, 1, 0, 0},
      {">> one known to the month", Item("19010100", "19010199", "??.01.1901"), year1900, ">>", 270, 1, kDetectorBlue,
       1},
      // "<<": farther apart than T, one of them known to the year.
      {"<< certain", Day("19400101"), Day("19000101"), "<<", 10950, 0, kDetectorRed, 14609},
      {"<< certain either way round", Day("19000101"), Day("19400101"), "<<", 10950, 0, kDetectorRed, 14609},
      {"<< neither known to the year", Item("19000000", "19029999", "1900..1902"), before1900, "<<", 10, 1, 0, 0},
      {"<< possible", Item("19000000", "19029999", "1900..1902"), Day("19300101"), "<<", 10950, 1, kDetectorBlue,
       10957},
      {"unknown operator", Day("19400101"), Day("19000101"), "=", 10, 1, 0, 0},
      {"no date", TIDD{}, Day("19000101"), "<", 10, 1, 0, 0},
  };
  for (const RangeCase& c : cases) {
    SCOPED_TRACE(c.name);
    double diff = -1;
    EXPECT_EQ(CompareDateRanges(c.X, c.Y, QString::fromLatin1(c.op), c.T, c.P, diff), c.color);
    EXPECT_EQ(diff, c.diff);
  }
}

TEST(DetectorNumbers, YearsOneDecimalExact) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "0.0"},      {18, "0.0"},     {19, "0.1"},      {365, "1.0"},    {364, "1.0"},
      {3652, "10.0"},  {40150, "110.0"}, {40177, "110.1"}, {46365, "127.0"}, {-365, "-1.0"},
      {-18, "0.0"},    {-19, "-0.1"},
  };
  for (const auto& [days, text] : cases) EXPECT_EQ(DetectorYears(days, QStringLiteral(".")), text) << days;
  EXPECT_EQ(DetectorYears(43828, QStringLiteral(",")), "120,1");
}

TEST(DetectorCatalogue, KeysDefaultsAndStarKeys) {
  std::map<QString, QString> asked;
  const TCheckCatalogue cat = ReadCheckCatalogue([&](const QString& key, const QString& def) {
    asked[key] = def;
    return key.startsWith(u'*') ? QString() : QStringLiteral("T:") + key;
  });
  // 3 value texts, 27 messages, "*M" and "*F".
  EXPECT_EQ(asked.size(), 32u);
  EXPECT_EQ(asked.at(QStringLiteral("*M")), QString());
  EXPECT_EQ(asked.at(QStringLiteral("*F")), QString());
  EXPECT_EQ(asked.at(QStringLiteral("CheckValue3")), QStringLiteral("может составлять"));
  EXPECT_EQ(cat.CheckValues[0], "T:CheckValue1");
  EXPECT_EQ(cat.CheckValues[1], " T:CheckValue2 ");
  EXPECT_EQ(cat.CheckValues[2], " T:CheckValue3 ");
  EXPECT_EQ(cat.CheckMessageTexts[0], "T:CheckMessages1");
  EXPECT_EQ(cat.CheckMessageTexts[1], QString());  // check 1 has no second message
  EXPECT_EQ(cat.CheckMessageTexts[18], "T:CheckMessages10.1");
  EXPECT_EQ(cat.CheckMessageTexts[19], "T:CheckMessages10.2");
  EXPECT_EQ(cat.CheckMessageTexts[23], "T:CheckMessages12.2");
  EXPECT_EQ(cat.CheckMessageTexts[42], "T:CheckMessages22");
  EXPECT_EQ(asked.at(QStringLiteral("CheckMessages10.2")),
            QStringLiteral("10.2.Возраст невесты (%s) в момент свадьбы (%s) с %s%s%s лет (>%s)"));

  const TCheckCatalogue ru = ReadCheckCatalogue();
  EXPECT_EQ(ru.CheckValues[1], QStringLiteral(" составляет "));
  EXPECT_EQ(ru.CheckMessageTexts[43], QString());
  EXPECT_TRUE(ru.Mother.isEmpty());
  EXPECT_TRUE(ru.Father.isEmpty());
}

// A translated text is a pattern, never a format string: "%%", "%d" and a lone "%" stay as written, a
// missing argument is empty.
TEST(DetectorCatalogue, TranslatedTextIsNoFormatString) {
  DetTree t;
  t.Person(QStringLiteral("Lone"), QStringLiteral("M"), QStringLiteral("01.01.1900"));
  const TCheckCatalogue cat = ReadCheckCatalogue([](const QString& key, const QString& def) {
    if (key == u"CheckMessages17") return QStringLiteral("17.100%% %d %s end %");
    if (key == u"CheckMessages22") return QStringLiteral("%s%s%n");
    return def;
  });
  t.P(1).BIRT_DATE = GDate_RDates(QString(), t.ctx);
  EXPECT_EQ(DetectorRun(t.m, OnlyChecks({17, 22}), cat),
            QStringList({"@I1@\tblue\t17.100%% %d  end %", "@I1@\tblue\t%n"}));
}

TEST(DetectorOptions, ControlsAndDefaults) {
  const TDetectorOptions o;
  const std::vector<TDetectorControl>& controls = DetectorControls();
  ASSERT_EQ(controls.size(), 33u);  // 22 checks, 9 spin edits, CheckBox7, CheckBox11
  for (const TDetectorControl& c : controls)
    EXPECT_EQ(DetectorOption(o, QString::fromUtf16(c.name)), c.def) << QString::fromUtf16(c.name).toStdString();
  for (int n : {6, 7, 18, 19, 20, 21, 22}) EXPECT_FALSE(o.Check[std::size_t(n)]) << n;
  for (int n : {1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17}) EXPECT_TRUE(o.Check[std::size_t(n)]) << n;

  TDetectorOptions s;
  EXPECT_TRUE(SetDetectorOption(s, QStringLiteral("Check18"), 1));
  EXPECT_TRUE(SetDetectorOption(s, QStringLiteral("Spin121"), 100));
  EXPECT_TRUE(SetDetectorOption(s, QStringLiteral("CheckBox7"), 1));
  EXPECT_TRUE(s.Check[18] && s.CheckBox7);
  EXPECT_EQ(s.Spin121, 100);
  for (const char* bad : {"Check0", "Check23", "Check01", "CheckBox8", "Spin122", "check1"}) {
    EXPECT_FALSE(SetDetectorOption(s, QString::fromLatin1(bad), 1)) << bad;
    EXPECT_EQ(DetectorOption(s, QString::fromLatin1(bad)), -1) << bad;
  }
}

TEST(DetectorRun, EmptyTreeWritesNothing) {
  Model m;
  TDetectorList list;
  std::vector<std::pair<std::int64_t, std::int64_t>> calls;
  const TDetectorResult r = DetectorGedcom(m, TDetectorOptions(), ReadCheckCatalogue(), kDetectorToday, list,
                                           [&](std::int64_t done, std::int64_t total) { calls.emplace_back(done, total); });
  EXPECT_TRUE(list.findings.empty());
  EXPECT_EQ(r.checked, 0);
  EXPECT_FALSE(r.stopped);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], std::make_pair(std::int64_t(0), std::int64_t(1)));
}

TEST(DetectorRun, AbortStopsBeforeTheNextPersonAndIsClearedAtStart) {
  DetTree t;
  for (int i = 0; i < 5; ++i) t.Person(QStringLiteral("P%1").arg(i), QStringLiteral("M"));
  t.m.AbortFlag = true;  // a stale request from an earlier run
  TDetectorList list;
  std::vector<std::int64_t> done;
  const TDetectorResult r = DetectorGedcom(t.m, OnlyChecks({17}), ReadCheckCatalogue(), kDetectorToday, list,
                                           [&](std::int64_t d, std::int64_t total) {
                                             EXPECT_EQ(total, 6);
                                             done.push_back(d);
                                             if (d == 2) t.m.AbortFlag = true;  // Esc after the second person
                                           });
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(r.checked, 2);
  EXPECT_EQ(done, std::vector<std::int64_t>({0, 1, 2}));
  ASSERT_EQ(list.findings.size(), 2u);
  EXPECT_EQ(list.findings[1].person, 2);
}

TEST(DetectorRun, FavouritesOnly) {
  DetTree t;
  for (int i = 0; i < 4; ++i) t.Person(QStringLiteral("P%1").arg(i), QStringLiteral("F"));
  t.P(2).FAVOR = QStringLiteral("1");
  t.P(4).FAVOR = QStringLiteral("0");
  TDetectorOptions o = OnlyChecks({17});
  o.CheckBox11 = true;
  TDetectorList list;
  std::int64_t calls = 0;
  const TDetectorResult r = DetectorGedcom(t.m, o, ReadCheckCatalogue(), kDetectorToday, list,
                                           [&](std::int64_t, std::int64_t) { ++calls; });
  EXPECT_EQ(r.checked, 2);
  EXPECT_EQ(calls, 5);  // every person counts on the gauge, and the end
  ASSERT_EQ(list.findings.size(), 2u);
  EXPECT_EQ(list.findings[0].person, 2);
  EXPECT_EQ(list.findings[1].person, 4);
}

// A file read as the program reads it, every check on: the report command's lines, in the order of the pane.
TEST(DetectorRun, GedcomFileAllChecks) {
  const QString dir = QStringLiteral(TREVOLAN_SOURCE_DIR "/tests/data/reports/detector/");
  Model m;
  Ged_Indi(m, dir + QStringLiteral("problems.ged"));
  PreparePersonsAfterLoad(m);
  TDetectorOptions all;
  all.Check.fill(true);
  QFile expected(dir + QStringLiteral("problems-all.txt"));
  ASSERT_TRUE(expected.open(QIODevice::ReadOnly));
  EXPECT_EQ(DetectorRun(m, all), QString::fromUtf8(expected.readAll()).split(u'\n', Qt::SkipEmptyParts));
}

// The report command (built with this test): the lines of the file above, and its exit codes.
TEST(DetectorRun, ReportCommand) {
  const std::filesystem::path tool = TREVOLAN_REPORT_TOOL;
  ASSERT_TRUE(std::filesystem::exists(tool)) << tool;
  const std::string dir = TREVOLAN_SOURCE_DIR "/tests/data/reports/detector/";
  const auto run = [&](const std::string& args, std::string* out) {
    const std::string command = "'" + tool.string() + "' detector " + args + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out->append(buffer, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  std::string sets;
  for (int n = 1; n <= kDetectorChecks; ++n) sets += " --set Check" + std::to_string(n) + "=1";
  std::string out;
  EXPECT_EQ(run("'" + dir + "problems.ged' --today 2026-12-11" + sets, &out), 0);
  QFile expected(QString::fromStdString(dir + "problems-all.txt"));
  ASSERT_TRUE(expected.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromStdString(out), QString::fromUtf8(expected.readAll()));
  out.clear();
  EXPECT_EQ(run("'" + dir + "problems.ged' --set Spin121=10", &out), 2);  // outside 90..150
  EXPECT_EQ(run("'" + dir + "problems.ged' --set Check3=maybe", &out), 2);
  EXPECT_EQ(run("'" + dir + "no-such-file.ged'", &out), 1);
  EXPECT_TRUE(out.empty());
}

TEST(DetectorRichText, HeadBoldColouredMessageBlack) {
  reportstest::EnsureApp();
  QTextDocument doc;
  {
    TDetectorRichSink sink(&doc);
    sink.Finding({1, kDetectorRed, QStringLiteral("Иванов Иван (01.01.1900-)"), QStringLiteral("2.Рождение")});
    sink.Flush();
    sink.Finding({2, kDetectorBlue, QStringLiteral("22.Петров (?-)"), QStringLiteral("22.Отсутствие даты рождения")});
  }
  EXPECT_FALSE(doc.isUndoAvailable());
  EXPECT_EQ(doc.toPlainText(),
            QStringLiteral("Иванов Иван (01.01.1900-): 2.Рождение\n22.Петров (?-): 22.Отсутствие даты рождения\n"));
  const QColor expected[2] = {QColor(255, 0, 0), QColor(0, 0, 255)};
  QTextBlock b = doc.begin();
  for (int line = 0; line < 2; ++line, b = b.next()) {
    SCOPED_TRACE(line);
    const QTextBlock::iterator it = b.begin();
    ASSERT_FALSE(it.atEnd());
    const QTextFragment head = it.fragment();
    EXPECT_EQ(head.charFormat().fontWeight(), QFont::Bold);
    EXPECT_EQ(head.charFormat().foreground().color(), expected[line]);
    QTextBlock::iterator next = it;
    ++next;
    ASSERT_FALSE(next.atEnd());
    EXPECT_TRUE(next.fragment().text().startsWith(QStringLiteral(": ")));
    EXPECT_EQ(next.fragment().charFormat().fontWeight(), QFont::Normal);
    EXPECT_EQ(next.fragment().charFormat().foreground().color(), QColor(0, 0, 0));
  }
}

}  // namespace
