// The fan chart drawn offscreen: ring radii, layout rows, sector texts, colours and outlines read back
// from the picture's pixels, the honeycomb connectors and angles, and the limits of generations.
#include "app/charts/FanChart.h"
#include "app/core/UnitFunc.h"
#include "tests/charts/FanChartFixtures.h"

#include <gtest/gtest.h>

#include <QDir>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

using platform::TColor;

constexpr TColor kWhite = 0xFFFFFF;
constexpr TColor kBlack = 0x000000;

struct TextCall {
  QString kind;
  QString line;
  double angle = 0;
  double radius = 0;
  double offset = 0;  // radial lines: the offset angle of the line within its sector
};

class RecordingText : public TFanTextSink {
 public:
  void RootText(int, int y, int, int, const QString& line) override { calls.push_back({"root", line, 0, double(y)}); }
  void ArcText(int, int, const QString& line, double g, double radius, double, double, double) override {
    calls.push_back({"arc", line, g, radius});
  }
  void RotatedText(int, int, const QString& line, double e, double d, double radius, double, double) override {
    calls.push_back({"radial", line, e, radius, d});
  }
  std::vector<TextCall> calls;
};

// The pixel at drawing angle phi and radius r from the picture's centre.
TColor At(const platform::TImageCanvas& c, double phi, double r) {
  const double cx = c.Width() / 2;
  const double cy = c.Height() / 2;
  const double rad = phi * std::numbers::pi / 180.0;
  return c.Pixel(int(std::lround(cx + r * std::cos(rad))), int(std::lround(cy + r * std::sin(rad)))) & 0xFFFFFF;
}

void Dump(const platform::TImageCanvas& c, const char* name) {
  const QByteArray dir = qgetenv("FAN_DUMP_DIR");
  if (!dir.isEmpty()) c.Image().save(QDir(QString::fromLocal8Bit(dir)).filePath(QLatin1String(name)));
}

struct Chart {
  TFanLayout layout;
  TAncestorList anc;
  TFanList desc;
  platform::TImageCanvas pic;
  RecordingText text;
  TFanResult result;

  void Ancestors(const Model& m, std::int64_t person, const TFanOptions& o, bool realText = false,
                 const TFanProgress& progress = {}) {
    layout.SetRunningSums(0);
    FillTree(m, anc, QString::number(person), 1);
    result = fanChart(0, o, layout, anc.aPers, desc, pic, realText ? nullptr : &text, progress);
  }
  void Descendants(const Model& m, std::int64_t person, const TFanOptions& o, bool realText = false,
                   const TFanProgress& progress = {}) {
    layout.SetRunningSums(1);
    TFanListOptions lo;
    lo.Auto = o.Auto;
    lo.Generations = std::clamp(o.Generations, 2, 13);
    lo.FanType = o.FanType;
    FillTree2(m, desc, QString::number(person), lo);
    result = fanChart(1, o, layout, anc.aPers, desc, pic, realText ? nullptr : &text, progress);
  }
};

TEST(FanChartLayout, RunningSumsForBothDirections) {
  TFanLayout l;
  l.SetRunningSums(0);
  const int anc[] = {200, 400, 700, 1000, 1500, 2000, 2500, 3000, 3500, 4000, 4500, 5000, 5500};
  for (int g = 1; g <= 13; ++g) EXPECT_EQ(l.At(g, fcOuterRadius), anc[g - 1]) << g;
  l.SetRunningSums(1);
  for (int g = 1; g <= 13; ++g) EXPECT_EQ(l.At(g, fcOuterRadius), 400 + 500 * (g - 1)) << g;
}

TEST(FanChartLayout, TextLayoutRowByArea) {
  TFanLayout anc;
  anc.SetRunningSums(0);
  TFanLayout desc;
  desc.SetRunningSums(1);
  struct Case {
    const TFanLayout* l;
    int a, dir;
    double start, end;
    int row;
  } cases[] = {
      {&anc, 5, 0, -1, -1, 0},          // standard angles: none
      {&anc, 4, 0, 180, 225, 0},        // ring width 300: none
      {&anc, 5, 0, 180, 202.5, 5},      // a standard sector of generation 5 (area 245,437)... large enough
      {&anc, 8, 0, 180, 180 + 360.0 / 128, 8},  // standard generation 8: its own row
      {&anc, 8, 0, 180, 270, 5},        // a quarter circle far out: the largest text
      {&anc, 6, 0, 180, 180.01, 12},    // a sliver: the smallest text row above it
      {&desc, 2, 1, 0, 120, 2},         // a third of ring 2: too large for any row, its own
      {&desc, 2, 1, 0, 0.5, 12},        // tiny: the first row from 12 down whose minimum is above the area
      {&desc, 3, 1, 0, 2.0, 10},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SelectTextLayoutRow(*c.l, c.a, c.dir, c.start, c.end), c.row)
        << c.a << " " << c.dir << " " << c.start << ".." << c.end;
}

TEST(FanChartText, AncestorNamePartsAndDates) {
  TFanLayout l;
  l.SetRunningSums(0);
  TPers e;
  e.Fam = QStringLiteral("Иванова");
  e.FamR = QStringLiteral("Петрова");
  e.Im = QStringLiteral("Анна");
  e.Ot = QStringLiteral("Ивановна");
  e.Year1 = QStringLiteral("1900");
  e.Year2 = QStringLiteral("-1970");
  e.Date1 = QStringLiteral("01.01.1900");
  e.Date2 = QStringLiteral("-02.02.1970");
  e.sex = QStringLiteral("F");
  e.Place = QStringLiteral("01");
  struct Case {
    void (*set)(TFanOptions&, TPers&);
    int row;
    QStringList lines;
  } cases[] = {
      // Row 2: three lines of 25 characters; the name fits two, the dates take the third.
      {[](TFanOptions&, TPers&) {}, 0, {QStringLiteral("Иванова (Петрова) Анна"), QStringLiteral("Ивановна"), QStringLiteral("1900-1970")}},
      {[](TFanOptions& o, TPers&) { o.NameBrackets = false; o.Years = false; o.Dates = true; o.DateBrackets = true; },
       0, {QStringLiteral("Иванова Петрова Анна"), QStringLiteral("Ивановна"), QStringLiteral("(01.01.1900-02.02.1970)")}},
      // A man without a birth surname and with "Фамилия" unticked shows his surname as one.
      {[](TFanOptions& o, TPers& p) { o.Surname = false; p.FamR.clear(); p.sex = QStringLiteral("M"); },
       0, {QStringLiteral("(Иванова) Анна Ивановна"), QStringLiteral("1900-1970")}},
      // Row 11: one line.
      {[](TFanOptions& o, TPers&) { o.Patronymic = false; }, 11, {QStringLiteral("Иванова (Петрова) Анна  1900-1970")}},
      // No dates: the name alone in the row's lines.
      {[](TFanOptions& o, TPers&) { o.Years = false; }, 0, {QStringLiteral("Иванова (Петрова) Анна"), QStringLiteral("Ивановна")}},
  };
  for (const Case& c : cases) {
    TFanOptions o;
    TPers p = e;
    c.set(o, p);
    EXPECT_EQ(BuildAncestorSectorText(p, 2, c.row, l, o), c.lines) << c.lines.join(QLatin1Char('|')).toStdString();
  }
  // The root (row 1) never keeps the dates apart: name and dates are fitted together.
  TFanOptions o;
  const QStringList root = BuildAncestorSectorText(e, 1, 0, l, o);
  EXPECT_TRUE(root.join(QLatin1Char(' ')).endsWith(QStringLiteral("Ивановна 1900-1970"))) << root.join(QLatin1Char('|')).toStdString();
  for (const QString& line : root) EXPECT_LE(line.size(), 20);
}

TEST(FanChartDraw, EightGenerationsFullCircleWithoutAncestors) {
  FanTree t;
  const std::int64_t p = t.Person(QStringLiteral("Сидоров"), QStringLiteral("Иван"), QStringLiteral("M"), QStringLiteral("1950"));
  Chart c;
  TFanOptions o;  // full circle, many colours, 8 generations
  c.Ancestors(t.m, p, o);
  Dump(c.pic, "full8.png");
  ASSERT_TRUE(c.result.Drawn);
  EXPECT_EQ(c.pic.Width(), 6000);
  EXPECT_EQ(c.pic.Height(), 6000);
  EXPECT_EQ(c.result.Label, QStringLiteral("0% (1/255)"));
  EXPECT_EQ(c.pic.Pixel(3000, 3000), o.Colors[0]);  // a man's centre
  // Generation 2: the father's half above in colour 1, the mother's below in colour 4.
  EXPECT_EQ(At(c.pic, 270, 300), o.Colors[0]);
  EXPECT_EQ(At(c.pic, 90, 300), o.Colors[3]);
  // Generation 3: the four grandparents' quarters, unblended; generation 4 slots alternate lighter.
  EXPECT_EQ(At(c.pic, 225, 550), o.Colors[0]);
  EXPECT_EQ(At(c.pic, 315, 550), o.Colors[1]);
  EXPECT_EQ(At(c.pic, 405, 550), o.Colors[2]);
  EXPECT_EQ(At(c.pic, 495, 550), o.Colors[3]);
  EXPECT_EQ(At(c.pic, 180 + 45 * 1.5, 850), TColor(BlendColors(::TColor(o.Colors[0]), ::TColor(kWhite), 1, 2)));
  // Generation 8: slot 5 of the first quarter is 5/32 of the way to white.
  const double w = 360.0 / 128;
  EXPECT_EQ(At(c.pic, 180 + w * 5.5, 2750), TColor(BlendColors(::TColor(o.Colors[0]), ::TColor(kWhite), 5, 32)));
  // Borders: the radial line between father and mother, the arc between generations 2 and 3.
  EXPECT_EQ(At(c.pic, 180, 300), kBlack);
  EXPECT_EQ(At(c.pic, 250, 400), kBlack);
  // Nothing outside the outer circle; the corners are white.
  for (int deg = 0; deg < 360; deg += 7) EXPECT_EQ(At(c.pic, deg, 3004), kWhite) << deg;
  EXPECT_EQ(c.pic.Pixel(0, 0), kWhite);
  EXPECT_EQ(c.pic.Pixel(5999, 5999), kWhite);
  // Only the root has a text.
  ASSERT_FALSE(c.text.calls.empty());
  for (const TextCall& call : c.text.calls) EXPECT_EQ(call.kind, QStringLiteral("root"));
}

TEST(FanChartDraw, RootColourFollowsTheFirstEntrysSexAndColouringModes) {
  FanTree t;
  const std::int64_t p = t.Person(QStringLiteral("Сидорова"), QStringLiteral("Мария"), QStringLiteral("F"));
  t.Pedigree(p, 2);
  for (int type : {0, 1, 2}) {
    Chart c;
    TFanOptions o;
    o.Generations = 3;
    o.FanType = type;
    c.Ancestors(t.m, p, o);
    EXPECT_EQ(c.pic.Pixel(c.pic.Width() / 2, c.pic.Height() / 2), o.Colors[3]) << type;
    o.Coloring = 1;  // two colours: generation 3 stays white
    c.Ancestors(t.m, p, o);
    EXPECT_EQ(At(c.pic, 225, 550), kWhite) << type;
    EXPECT_EQ(At(c.pic, 90, 300), o.Colors[3]) << type;
    o.Coloring = 0;  // black and white
    c.Ancestors(t.m, p, o);
    EXPECT_EQ(c.pic.Pixel(c.pic.Width() / 2, c.pic.Height() / 2), kWhite) << type;
  }
}

TEST(FanChartDraw, HoneycombGapsStayWhiteAndConnectorsCrossThem) {
  FanTree t;
  const std::int64_t p = t.Person(QStringLiteral("Сидоров"), QStringLiteral("Иван"), QStringLiteral("M"));
  t.Pedigree(p, 4);
  for (int type : {2, 3, 4}) {
    Chart c;
    TFanOptions o;
    o.Generations = 5;
    o.FanType = type;
    c.Ancestors(t.m, p, o);
    Dump(c.pic, type == 2 ? "honey2.png" : type == 3 ? "honey3.png" : "honey4.png");
    EXPECT_EQ(c.result.Label, QStringLiteral("100% (31/31)")) << type;
    // The gap between rings 3 and 4 (radius 700 +- 20) is white away from the connectors, which sit
    // on the sectors' middles; the ring itself is coloured.
    const double w4 = 360.0 / 8;
    EXPECT_EQ(At(c.pic, 180 + w4 * 0.25, 700), kWhite) << type;
    EXPECT_EQ(At(c.pic, 180 + w4 * 0.5, 710), kBlack) << type;  // the connector of the first sector
    EXPECT_EQ(At(c.pic, 180 + w4 * 0.25, 850), TColor(o.Colors[0])) << type;
    for (int deg = 0; deg < 360; deg += 11) EXPECT_EQ(At(c.pic, deg, 1504), kWhite) << type << " " << deg;
  }
}

TEST(FanChartDraw, OptimisedHoneycombSharesTheChildsAngle) {
  // Generation 4 holds eight ancestors; only the first of them (the father's father's father) has a
  // known father at generation 5, and the last one has both parents.
  FanTree t;
  const std::int64_t p = t.Person(QStringLiteral("Сидоров"), QStringLiteral("Иван"), QStringLiteral("M"));
  t.Pedigree(p, 3);
  Chart c;
  TFanOptions o;
  o.Generations = 6;
  o.FanType = 3;
  c.layout.SetRunningSums(0);
  FillTree(t.m, c.anc, QString::number(p), 1);
  const std::int64_t g4first = c.anc.aPers[7].iID;
  const std::int64_t g4last = c.anc.aPers[14].iID;
  const std::int64_t lone = t.Person(QStringLiteral("Old"), QStringLiteral("Father"), QStringLiteral("M"));
  t.Family(lone, 0, {g4first});
  t.Pedigree(g4last, 1);
  for (int type : {3, 4}) {
    o.FanType = type;
    c.Ancestors(t.m, p, o);
    const auto& a = c.anc.aPers;
    for (const TPers& e : a) {
      if (e.Place.size() != 5) continue;
      const TPers& child = a[size_t(e.iPot)];
      if (e.Place == QStringLiteral("00000")) {
        // Type 3: the only known parent takes the child's whole angle.
        if (type == 3) {
          EXPECT_DOUBLE_EQ(e.rAn1, child.rAn1);
          EXPECT_DOUBLE_EQ(e.rAn2, child.rAn2);
        }
      } else if (e.Place == QStringLiteral("00001") && type == 3) {
        // The unnamed mother of the first group shares with the father.
        EXPECT_DOUBLE_EQ(e.rAn2, child.rAn2);
      }
    }
    // Every drawn sector lies within 180..540 and its text went somewhere.
    for (const TPers& e : a)
      if (e.Place.size() >= 2 && e.Place.size() <= 6) {
        EXPECT_GE(e.rAn1, 180.0 - 1e-9);
        EXPECT_LE(e.rAn2, 540.0 + 1e-9);
      }
  }
}

TEST(FanChartDraw, DescendantColoursByChildAndGeneration) {
  FanTree t;
  const std::int64_t root = t.Person(QStringLiteral("Сидоров"), QStringLiteral("Иван"), QStringLiteral("M"));
  const std::int64_t wife = t.Person(QStringLiteral("Сидорова"), QStringLiteral("Анна"), QStringLiteral("F"));
  std::vector<std::int64_t> kids;
  for (int i = 0; i < 5; ++i)
    kids.push_back(t.Person(QStringLiteral("Сидоров"), QStringLiteral("Сын%1").arg(i + 1), QStringLiteral("M")));
  t.Family(root, wife, kids);
  TFanOptions o;
  o.Generations = 3;
  {
    Chart c;
    c.Descendants(t.m, root, o);
    // Without grandchildren child 5 takes colour 1 again.
    const double mid5 = (c.desc.aCoord[5].rAn1 + c.desc.aCoord[5].rAn2) / 2 + 180;
    EXPECT_EQ(At(c.pic, mid5, 650), o.Colors[0]);
  }
  const std::int64_t gk = t.Person(QStringLiteral("Сидоров"), QStringLiteral("Внук"), QStringLiteral("M"));
  t.Family(kids[0], 0, {gk});
  Chart c;
  c.Descendants(t.m, root, o);
  Dump(c.pic, "desc.png");
  EXPECT_EQ(c.result.Label, QStringLiteral("7"));
  EXPECT_EQ(c.pic.Width(), 2 * 1400);
  for (int w = 1; w <= 4; ++w) {
    const double mid = (c.desc.aCoord[size_t(w)].rAn1 + c.desc.aCoord[size_t(w)].rAn2) / 2 + 180;
    EXPECT_EQ(At(c.pic, mid, 650), o.Colors[size_t(w - 1)]) << w;
  }
  const double mid5 = (c.desc.aCoord[5].rAn1 + c.desc.aCoord[5].rAn2) / 2 + 180;
  EXPECT_EQ(At(c.pic, mid5, 650), o.Colors[1]);
  // The grandchild: two thirds of its parent's colour.
  const double mid6 = (c.desc.aCoord[6].rAn1 + c.desc.aCoord[6].rAn2) / 2 + 180;
  EXPECT_EQ(At(c.pic, mid6, 1150), TColor(BlendColors(::TColor(o.Colors[0]), ::TColor(kWhite), 1, 3)));
  // Texts along radii, one set per descendant.
  int radial = 0;
  for (const TextCall& call : c.text.calls) radial += call.kind == QStringLiteral("radial");
  EXPECT_GE(radial, 6);
  // The lines of one sector come in order, each with a smaller offset than the one before: the routine
  // that turns right-half lines over relies on that order (the first line mirrored most counter-clockwise).
  for (std::size_t k = 1; k < c.text.calls.size(); ++k) {
    const TextCall& a = c.text.calls[k - 1];
    const TextCall& b = c.text.calls[k];
    if (a.kind == QStringLiteral("radial") && b.kind == a.kind && a.angle == b.angle && a.radius == b.radius) {
      EXPECT_GT(a.offset, b.offset) << b.line.toStdString();
    }
  }
}

TEST(FanChartDraw, FillsNeverLeakIntoTheBackground) {
  // A wide family: 40 children, each with 3 children, so the grandchildren's sectors are narrow.
  FanTree t;
  const std::int64_t root = t.Person(QStringLiteral("Сидоров"), QStringLiteral("Иван"), QStringLiteral("M"));
  for (std::int64_t k : t.Children(root, 40, QStringLiteral("С"), QStringLiteral("M")))
    t.Children(k, 3, QStringLiteral("В"), QStringLiteral("F"));
  t.Pedigree(root, 3);
  for (int dir : {0, 1})
    for (int type = 0; type <= 4; ++type) {
      Chart c;
      TFanOptions o;
      o.Generations = dir == 0 ? 4 : 3;
      o.FanType = type;
      if (dir == 0) {
        c.Ancestors(t.m, root, o);
      } else {
        c.Descendants(t.m, root, o);
      }
      ASSERT_TRUE(c.result.Drawn);
      const double r = c.pic.Width() / 2;
      // Just outside the outer circle (the picture's corners are the widest white areas).
      for (int deg = 1; deg < 360; deg += 3)
        for (double dr : {3.0, r * 0.3}) EXPECT_EQ(At(c.pic, deg, r + dr), kWhite) << dir << " " << type << " " << deg;
      EXPECT_EQ(c.pic.Pixel(1, 1), kWhite);
    }
}

TEST(FanChartDraw, ProgressIsReportedAndStopLeavesNoHalfDrawnChart) {
  // 200 children (several progress steps) and a pedigree of 5 generations (a step per ring of the grid).
  FanTree t;
  const std::int64_t root = t.Person(QStringLiteral("Сидоров"), QStringLiteral("Иван"), QStringLiteral("M"));
  t.Children(root, 200, QStringLiteral("С"), QStringLiteral("M"));
  t.Pedigree(root, 5);
  for (int dir : {0, 1})
    for (int type : {0, 3}) {
      if (dir == 0 && type == 3) continue;  // too few ancestors for a step
      TFanOptions o;
      o.Generations = dir == 0 ? 6 : 2;
      o.FanType = type;
      auto draw = [&](Chart& c, const TFanProgress& progress) {
        if (dir == 0) {
          c.Ancestors(t.m, root, o, false, progress);
        } else {
          c.Descendants(t.m, root, o, false, progress);
        }
      };
      Chart plain;
      draw(plain, {});
      ASSERT_TRUE(plain.result.Drawn);
      // Going on all the way: the same chart, with the count rising to the end.
      Chart watched;
      std::vector<int> seen;
      draw(watched, [&](int drawn, int most) {
        EXPECT_LE(drawn, most);
        seen.push_back(drawn);
        return true;
      });
      ASSERT_TRUE(watched.result.Drawn) << dir << " " << type;
      EXPECT_EQ(watched.result.Count, plain.result.Count);
      EXPECT_EQ(watched.result.Label, plain.result.Label);
      EXPECT_EQ(watched.pic.Image(), plain.pic.Image());
      EXPECT_EQ(watched.text.calls.size(), plain.text.calls.size());
      EXPECT_GE(seen.size(), 3u) << dir << " " << type;
      EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
      // Stopped at the third step, once some sectors stand: nothing drawn, the picture emptied, the rest
      // never painted.
      Chart stopped;
      stopped.pic.SetSize(10, 10);
      int calls = 0;
      draw(stopped, [&](int, int) { return ++calls < 3; });
      EXPECT_EQ(calls, 3);
      EXPECT_TRUE(stopped.result.Stopped);
      EXPECT_FALSE(stopped.result.Drawn);
      EXPECT_EQ(stopped.result.Count, 0);
      EXPECT_TRUE(stopped.result.Label.isEmpty());
      EXPECT_TRUE(stopped.pic.Image().isNull());
      EXPECT_LT(stopped.text.calls.size(), plain.text.calls.size());
      EXPECT_FALSE(plain.result.Stopped);
    }
}

TEST(FanChartDraw, TextOrientationAndSectorTextsInEachType) {
  FanTree t;
  const std::int64_t p = t.Person(QStringLiteral("Сидоров"), QStringLiteral("Иван"), QStringLiteral("M"), QStringLiteral("1950"));
  t.Pedigree(p, 3);
  for (int orientation : {0, 1, 2}) {
    Chart c;
    TFanOptions o;
    o.Generations = 4;  // arc texts are those of generations 2 to 4
    o.Orientation = orientation;
    c.Ancestors(t.m, p, o);
    bool sawLower = false;
    for (const TextCall& call : c.text.calls) {
      if (call.kind != QStringLiteral("arc")) continue;
      if (orientation == 1) {
        EXPECT_LT(call.angle, 180);
      } else if (orientation == 2) {
        EXPECT_GE(call.angle, 180);
      } else if (call.angle >= 180) {
        sawLower = true;
      }
    }
    if (orientation == 0) {
      EXPECT_TRUE(sawLower);
    }
  }
  // With 3 generations every ancestor gets a text in every type.
  for (int type = 0; type <= 4; ++type) {
    Chart c;
    TFanOptions o;
    o.Generations = 3;
    o.FanType = type;
    c.Ancestors(t.m, p, o);
    QStringList names;
    for (const TextCall& call : c.text.calls) names << call.line;
    EXPECT_EQ(c.result.Count, 7) << type;
    EXPECT_TRUE(names.join(QLatin1Char(' ')).contains(QStringLiteral("Петрова"))) << type;
  }
}

TEST(FanChartDraw, GenerationsAreClampedAndNoPersonDrawsNothing) {
  TFanOptions o;
  std::vector<TPers> anc(1);
  anc[0].Place = QStringLiteral("0");
  TFanList list;
  for (const auto& [value, expected] : std::vector<std::pair<int, int>>{{15, 13}, {14, 13}, {1, 2}, {0, 2}, {8, 8}}) {
    o.Generations = value;
    EXPECT_EQ(FanGenerations(o, anc, list), expected) << value;
  }
  o.Auto = true;
  anc.resize(3);
  anc[2].Place = QStringLiteral("0101010101010101");
  EXPECT_EQ(FanGenerations(o, anc, list), 13);
  anc.resize(1);
  EXPECT_EQ(FanGenerations(o, anc, list), 2);

  // No current person: nothing drawn, nothing raised, the old picture gone.
  Chart c;
  c.layout.SetRunningSums(0);
  c.pic.SetSize(10, 10);
  std::vector<TPers> none(1);  // the single empty entry of a build without a person
  EXPECT_FALSE(fanChart(0, TFanOptions(), c.layout, none, c.desc, c.pic, &c.text).Drawn);
  EXPECT_TRUE(c.pic.Image().isNull());
  none.clear();
  EXPECT_FALSE(fanChart(0, TFanOptions(), c.layout, none, c.desc, c.pic, &c.text).Drawn);
  EXPECT_FALSE(fanChart(1, TFanOptions(), c.layout, none, c.desc, c.pic, &c.text).Drawn);
  EXPECT_TRUE(c.text.calls.empty());
}

TEST(FanChartDraw, PaintedTextsStayInTheirRings) {
  // With real fonts: texts are black-ish pixels inside the chart, and the background stays white.
  FanTree t;
  const std::int64_t p = t.Person(QStringLiteral("Сидоров"), QStringLiteral("Иван"), QStringLiteral("M"), QStringLiteral("1950"));
  t.Pedigree(p, 4);
  Chart c;
  TFanOptions o;
  o.Generations = 5;
  o.Coloring = 0;
  c.Ancestors(t.m, p, o, true);
  Dump(c.pic, "text5.png");
  int dark = 0;
  for (int y = 0; y < c.pic.Height(); y += 2)
    for (int x = 0; x < c.pic.Width(); x += 2) {
      const double dx = x - c.pic.Width() / 2.0;
      const double dy = y - c.pic.Height() / 2.0;
      const TColor px = c.pic.Pixel(x, y);
      if (std::hypot(dx, dy) > 1504) {
        EXPECT_EQ(px, kWhite) << x << "," << y;
        if (px != kWhite) return;
      } else if (px != kWhite) {
        ++dark;
      }
    }
  EXPECT_GT(dark, 5000);
}

}  // namespace
