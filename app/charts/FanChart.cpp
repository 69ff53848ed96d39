#include "app/charts/FanChart.h"

#include "app/charts/RotatedText.h"
#include "app/core/UnitFunc.h"
#include "platform/qt/LargeImage.h"

#include <QPainter>

#include <algorithm>
#include <functional>
#include <cmath>
#include <numbers>

using platform::TImageCanvas;
using FColor = platform::TColor;

namespace {

// Row: outer radius (running sum), ring width anc./desc., placement anc./desc., lines anc./desc.,
// font size, font weight, wrap width, minimum area.
constexpr std::int32_t kLayout[kFanMaxGenerations][11] = {
    {0, 200, 400, 0, 0, 5, 5, 32, 600, 14, 300000},  {0, 200, 500, 1, 2, 3, 5, 36, 600, 25, 300000},
    {0, 300, 500, 1, 2, 4, 5, 36, 600, 20, 300000},  {0, 300, 500, 1, 2, 4, 5, 36, 600, 20, 300000},
    {0, 500, 500, 2, 2, 5, 5, 36, 600, 20, 253000},  {0, 500, 500, 2, 2, 5, 5, 36, 600, 20, 178000},
    {0, 500, 500, 2, 2, 4, 4, 34, 600, 20, 110000},  {0, 500, 500, 2, 2, 3, 3, 32, 600, 25, 67000},
    {0, 500, 500, 2, 2, 2, 2, 28, 600, 30, 39000},   {0, 500, 500, 2, 2, 2, 2, 20, 0, 35, 23000},
    {0, 500, 500, 2, 2, 1, 1, 18, 0, 40, 13000},     {0, 500, 500, 2, 2, 1, 1, 16, 0, 40, 5600},
    {0, 500, 500, 2, 2, 1, 1, 13, 0, 40, 2500},
};

constexpr FColor kWhite = 0xFFFFFF;
// Sectors drawn between two progress calls: a 13-generation descendant fan has some 10^5 of them.
constexpr int kFanProgressStep = 64;
// Honeycomb rings are shrunk by this much on each side; the connectors cross the gap.
constexpr int kGap = 20;
// A sector narrower than this (pixels, across its middle) is not filled: its seed could miss it.
constexpr double kMinFillWidth = 3.0;

int Round(double v) { return static_cast<int>(std::nearbyint(v)); }

double Radians(double deg) { return deg * std::numbers::pi / 180.0; }

FColor Blend(FColor a, FColor b, int c, int d) {
  return static_cast<FColor>(BlendColors(static_cast<::TColor>(a), static_cast<::TColor>(b), c, d));
}

QString Trim(const QString& s) { return TrimCtl(s); }

// The lines of a sector's text: the name fitted to the row's lines, the dates on a line of their own when
// the name fits the remaining lines at the row's own width.
QStringList SectorLines(const QString& name, const QString& dates, int row, int linesColumn,
                        const TFanLayout& layout) {
  const int lines = layout.At(row, linesColumn);
  const int width = layout.At(row, fcWrapWidth);
  QStringList out;
  if (lines == 1) {
    out << Trim(name + QLatin1Char(' ') + dates);
  } else if (dates.size() > 1) {
    const int used = FitTextLines(name, &out, width, lines - 1);
    if (used != width || row == 1) {
      FitTextLines(name + QLatin1Char(' ') + dates, &out, width, lines);
    } else {
      out << dates;
    }
  } else {
    FitTextLines(name, &out, width, lines);
  }
  return out;
}

QString DatesPart(const TFanOptions& o, const QString& y1, const QString& y2, const QString& d1,
                  const QString& d2) {
  QString dates;
  if (o.Years) {
    dates = y1 + y2;
  } else if (o.Dates) {
    dates = d1 + d2;
  }
  if (o.DateBrackets && !dates.isEmpty()) dates = QLatin1Char('(') + dates + QLatin1Char(')');
  return dates;
}

double Orient(double theta, int orientation) {
  if (orientation == 1) return theta - 360.0;
  if (orientation == 2) return theta + 360.0;
  return theta;
}

class TFanDrawer {
 public:
  TFanDrawer(const TFanOptions& o, const TFanLayout& layout, TImageCanvas& canvas, TFanTextSink& text,
             const TFanProgress& progress)
      : o_(o), layout_(layout), canvas_(canvas), text_(text), progress_(progress) {
    cx_ = canvas.Width() / 2;
    cy_ = canvas.Height() / 2;
  }

  int DrawAncestors(std::vector<TPers>& aPers, int g);
  int DrawDescendants(const TFanList& list, int g);
  bool Stopped() const { return stopped_; }

 private:
  // Polls the progress callback every kFanProgressStep entries; true once the drawing is to stop.
  bool Stop(int drawn, int most) {
    if (progress_ && drawn % kFanProgressStep == 0 && !progress_(drawn, most)) stopped_ = true;
    return stopped_;
  }
  QPoint P(double phi, double r) const { return platform::ArcPoint(cx_, cy_, r, -phi); }
  void Outline(double start, double end, int rin, int rout);
  // The arc of radius r between two drawing angles, the short way round.
  void ShortArc(double r, double a, double b);
  void Fill(const QPoint& seed, FColor color);
  void FillSector(double start, double end, int rin, int rout, FColor color);
  void Circle(int r) { canvas_.Arc(cx_, cy_, r, 0, 360); }
  void Rings(int g, int& rin, int& rout) const;

  void Sector(std::vector<TPers>& aPers, double start, double end, int index, const QString& place);
  void Sector2(const TFanList& list, int index);
  void AncestorText(const TPers& e, int a, int row, const QStringList& lines);
  void DescendantText(const TCoord& c, int a, int row, const QStringList& lines);
  void RootLines(int a, const QStringList& lines);

  const TFanOptions& o_;
  const TFanLayout& layout_;
  TImageCanvas& canvas_;
  TFanTextSink& text_;
  const TFanProgress& progress_;
  bool stopped_ = false;
  int cx_ = 0;
  int cy_ = 0;
  QString rootSex_;
  // Descendant sectors: connector points and the colour given to each entry.
  std::vector<std::array<QPoint, 2>> points_;
  std::vector<FColor> colors_;
};

void TFanDrawer::Outline(double start, double end, int rin, int rout) {
  canvas_.Line(P(start, rin - 1).x(), P(start, rin - 1).y(), P(start, rout + 1).x(), P(start, rout + 1).y());
  canvas_.Line(P(end, rin - 1).x(), P(end, rin - 1).y(), P(end, rout + 1).x(), P(end, rout + 1).y());
  // Canvas arcs run counter-clockwise from their first angle: from -end to -start is this sector's span.
  canvas_.Arc(cx_, cy_, rout, -end, -start);
  canvas_.Arc(cx_, cy_, rin, -end, -start);
}

void TFanDrawer::ShortArc(double r, double a, double b) {
  double lo = std::min(a, b);
  double hi = std::max(a, b);
  if (hi - lo > 180.0) {
    std::swap(lo, hi);
    hi += 360.0;
  }
  if (hi - lo <= 0) return;
  canvas_.Arc(cx_, cy_, r, -hi, -lo);
}

void TFanDrawer::Fill(const QPoint& seed, FColor color) {
  if (color == kWhite) return;
  canvas_.FloodFill(seed.x(), seed.y(), color);
}

void TFanDrawer::FillSector(double start, double end, int rin, int rout, FColor color) {
  const int mid = (rout + rin) / 2;
  if (Radians(std::fabs(end - start)) * mid < kMinFillWidth) return;
  Fill(P((start + end) / 2.0, mid), color);
}

void TFanDrawer::Rings(int g, int& rin, int& rout) const {
  rout = layout_.At(g, fcOuterRadius);
  rin = g > 1 ? layout_.At(g - 1, fcOuterRadius) : 0;
  if (IsHoneycomb(o_.FanType) && g > 1) {
    rout -= kGap;
    rin += kGap;
  }
}

void TFanDrawer::Sector(std::vector<TPers>& aPers, double start, double end, int index, const QString& place) {
  const int g = int(place.size());
  int rin = 0;
  int rout = 0;
  Rings(g, rin, rout);
  FColor color = kWhite;
  const bool colored = o_.Coloring != 0;
  if (g == 1) {
    Circle(rout);
    if (colored && AncestorSectorColor(o_, place, 0, rootSex_, color)) Fill(QPoint(cx_, cy_), color);
    return;
  }
  const double n = double(std::int64_t(1) << (g - 1));
  const double slot = double(BinToInt(place));
  if (start < 0 || end < 0) {
    start = slot * 360.0 / n + 180.0;
    end = (slot + 1.0) * 360.0 / n + 180.0;
  }
  Outline(start, end, rin, rout);
  if (IsHoneycomb(o_.FanType)) {
    const double m = (start + end) / 2.0;
    const QPoint stubIn = P(m, rin), stubOut = P(m, rin - kGap);
    canvas_.Line(stubIn.x(), stubIn.y(), stubOut.x(), stubOut.y());
    if (index >= 0 && size_t(index) < aPers.size()) {
      TPers& e = aPers[size_t(index)];
      e.aPoint[0] = P(m, rout + kGap);
      e.aPoint[1] = P(m, rout);
      e.rAn1 = start;
      e.rAn2 = end;
      const int ci = e.iPot;
      if (g > 2 && ci >= 0 && size_t(ci) < aPers.size()) {
        const TPers& child = aPers[size_t(ci)];
        canvas_.Line(child.aPoint[1].x(), child.aPoint[1].y(), child.aPoint[0].x(), child.aPoint[0].y());
        if (std::abs(child.aPoint[0].x() - stubOut.x()) > 1 || std::abs(child.aPoint[0].y() - stubOut.y()) > 1)
          ShortArc(rin - kGap, (child.rAn1 + child.rAn2) / 2.0, m);
      }
    }
  }
  if (colored && AncestorSectorColor(o_, place, start, rootSex_, color)) FillSector(start, end, rin, rout, color);
}

void TFanDrawer::Sector2(const TFanList& list, int index) {
  const TPers2& e = list.aPers2[size_t(index)];
  const TCoord& c = list.aCoord[size_t(index)];
  const int g = e.iLevel;
  int rin = 0;
  int rout = 0;
  Rings(g, rin, rout);
  const bool colored = o_.Coloring != 0;
  const std::array<FColor, 4>& C = o_.Colors;
  if (g == 1) {
    Circle(rout);
    if (colored) Fill(QPoint(cx_, cy_), e.sex == QLatin1String("F") ? C[3] : C[0]);
    return;
  }
  const double start = c.rAn1 + 180.0;
  const double end = c.rAn2 + 180.0;
  Outline(start, end, rin, rout);
  const int parent = e.ID2;
  const bool parentOk = parent >= 0 && size_t(parent) < list.aPers2.size() && parent != index;
  if (IsHoneycomb(o_.FanType)) {
    const double m = (start + end) / 2.0;
    const QPoint stubIn = P(m, rin), stubOut = P(m, rin - kGap);
    canvas_.Line(stubIn.x(), stubIn.y(), stubOut.x(), stubOut.y());
    points_[size_t(index)] = {P(m, rout + kGap), P(m, rout)};
    if (parentOk && list.aPers2[size_t(parent)].iLevel > 1) {
      const auto& pp = points_[size_t(parent)];
      canvas_.Line(pp[1].x(), pp[1].y(), pp[0].x(), pp[0].y());
      if (std::abs(pp[0].x() - stubOut.x()) > 1 || std::abs(pp[0].y() - stubOut.y()) > 1) {
        const TCoord& pc = list.aCoord[size_t(parent)];
        ShortArc(rin - kGap, (pc.rAn1 + pc.rAn2) / 2.0 + 180.0, m);
      }
    }
  }
  if (!colored) return;
  FColor color = kWhite;
  if (o_.Coloring == 1) {
    color = e.sex == QLatin1String("F") ? C[3] : C[0];
  } else if (g == 2) {
    const int w = index;
    if (w <= 4) {
      color = C[size_t(w - 1)];
    } else if (size_t(w) + 1 < list.aPers2.size() && list.aPers2[size_t(w) + 1].iLevel > g) {
      color = C[1];
    } else {
      const int k = w % 4 == 0 ? 4 : w % 4;
      color = C[size_t(k - 1)];
    }
    colors_[size_t(index)] = color;
  } else {
    color = Blend(parentOk ? colors_[size_t(parent)] : kWhite, kWhite, 1, 3);
    colors_[size_t(index)] = color;
  }
  FillSector(start, end, rin, rout, color);
}

void TFanDrawer::RootLines(int a, const QStringList& lines) {
  const int rout = layout_.At(a, fcOuterRadius);
  const int f = layout_.At(a, fcFontSize);
  const int height = platform::TCanvasFont::HeightFromPoints(f);
  const int c = int(lines.size());
  for (int i = 1; i <= c; ++i) {
    const int y = cy_ + Round(-0.7 * rout + i * 1.6 * rout / (c + 1) - f / 2.0);
    text_.RootText(cx_, y, height, 700, lines[i - 1]);
  }
}

void TFanDrawer::AncestorText(const TPers& e, int a, int row, const QStringList& lines) {
  const double n = double(std::int64_t(1) << (a - 1));
  const int rout = layout_.At(a, fcOuterRadius);
  const int place = layout_.At(a, fcPlaceAnc);
  if (place == 0) {
    RootLines(a, lines);
    return;
  }
  const double slot = double(BinToInt(e.Place));
  double theta = row == 0 ? (slot * 360.0 + 180.0) / n : (e.rAn1 + e.rAn2) / 2.0 - 180.0;
  theta = Orient(theta, o_.Orientation);
  const int c = int(lines.size());
  if (place == 1) {
    const int f = layout_.At(a, fcFontSize);
    const int w = layout_.At(a, fcFontWeight);
    const int ring = layout_.At(a, fcRingAnc);
    for (int i = 1; i <= c; ++i) {
      const QString& line = lines[i - 1];
      const double span = std::min(333.0 / n * double(line.size()) / layout_.At(a, fcWrapWidth), 333.0 / n);
      const int radius = theta < 180 ? Round(rout - double(ring) * i / (c + 1) + f / 2.0)
                                     : Round(rout - double(ring) * (c + 1 - i) / (c + 1) - f / 2.0);
      text_.ArcText(-f, w, line, theta, radius, cx_, cy_, span);
    }
    return;
  }
  const int r = row == 0 ? a : row;
  const int f = layout_.At(r, fcFontSize);
  const int w = layout_.At(r, fcFontWeight);
  const double span = row == 0 ? 360.0 / n : std::min(std::fabs(e.rAn1 - e.rAn2), 15.0);
  const int radius = Round(rout - layout_.At(a, fcRingAnc) / 2.0);
  for (int i = 1; i <= c; ++i) {
    const double d = (0.5 - double(i) / (c + 1)) * span + f * 130.0 / (std::numbers::pi * rout);
    text_.RotatedText(f, w, lines[i - 1], theta, d, radius, cx_, cy_);
  }
}

void TFanDrawer::DescendantText(const TCoord& co, int a, int row, const QStringList& lines) {
  const int rout = layout_.At(a, fcOuterRadius);
  const int place = layout_.At(a, fcPlaceDesc);
  if (place == 0) {
    RootLines(a, lines);
    return;
  }
  const double theta = Orient((co.rAn1 + co.rAn2) / 2.0, o_.Orientation);
  const int c = int(lines.size());
  if (place == 1) {
    const int f = layout_.At(a, fcFontSize);
    const int w = layout_.At(a, fcFontWeight);
    const int ring = layout_.At(a, fcRingDesc);
    const double span = std::fabs(co.rAn1 - co.rAn2);
    for (int i = 1; i <= c; ++i) {
      const int radius = theta < 180 ? Round(rout - double(ring) * i / (c + 1) + f / 2.0)
                                     : Round(rout - double(ring) * (c + 1 - i) / (c + 1) - f / 2.0);
      text_.ArcText(-f, w, lines[i - 1], theta, radius, cx_, cy_, span);
    }
    return;
  }
  const int r = row == 0 ? a : row;
  const int f = layout_.At(r, fcFontSize);
  const int w = layout_.At(r, fcFontWeight);
  const double span = std::min(std::fabs(co.rAn1 - co.rAn2), 15.0);
  for (int i = 1; i <= c; ++i) {
    const double d = (0.5 - double(i) / (c + 1)) * span + f * 130.0 / (std::numbers::pi * rout);
    text_.RotatedText(f, w, lines[i - 1], theta, d, rout - 250, cx_, cy_);
  }
}

int TFanDrawer::DrawAncestors(std::vector<TPers>& aPers, int g) {
  rootSex_ = aPers.front().sex;
  const int type = o_.FanType;
  if (type == 0) {
    // The empty grid first: every place of every generation, coloured by its position.
    for (int a = 1; a <= g; ++a) {
      const std::int64_t n = std::int64_t(1) << (a - 1);
      for (std::int64_t w = 0; w < n; ++w) Sector(aPers, -1, -1, -1, IntToBin(w, a));
      if (Stop(0, int(aPers.size()))) return 0;
    }
  }
  int k = 0;
  double start = -1;
  double end = -1;
  double step = 0;
  QString group;
  bool haveGroup = false;
  for (size_t i = 0; i < aPers.size(); ++i) {
    TPers& e = aPers[i];
    const int a = int(e.Place.size());
    if (a < 1) continue;
    if ((type == 3 || type == 4) && a >= 5) {
      start += step;
      end += step;
      const QString prefix = e.Place.left(type == 3 ? a - 1 : a - 2);
      if (!haveGroup || prefix != group) {
        haveGroup = true;
        group = prefix;
        int q = 1;
        while (i + size_t(q) < aPers.size()) {
          const QString& next = aPers[i + size_t(q)].Place;
          if (!next.startsWith(prefix) || next.size() > a) break;
          ++q;
        }
        const int ci = e.iPot;
        if (ci >= 0 && size_t(ci) < aPers.size()) {
          const TPers& c = aPers[size_t(ci)];
          start = c.rAn1;
          if (type == 3) {
            step = (c.rAn2 - start) / q;
            end = start + step;
          } else if (q == 1) {
            end = c.rAn2;
          } else {
            const size_t ei = size_t(ci) + 1;
            const TPers& ee = ei < aPers.size() && aPers[ei].Place == prefix + QLatin1Char('1') ? aPers[ei] : c;
            step = (ee.rAn2 - start) / q;
            end = start + step;
          }
        }
      }
    }
    if (a > g) continue;
    if (Stop(k, int(aPers.size()))) return k;
    ++k;
    int row = 0;
    if ((type == 1 || type == 2) && a <= 12) {
      Sector(aPers, -1, -1, int(i), e.Place);
    } else if (type == 3 || type == 4) {
      const double s = a >= 5 ? start : -1;
      const double t = a >= 5 ? end : -1;
      Sector(aPers, s, t, int(i), e.Place);
      row = SelectTextLayoutRow(layout_, a, 0, s, t);
    }
    AncestorText(e, a, row, BuildAncestorSectorText(e, a, row, layout_, o_));
  }
  return k;
}

int TFanDrawer::DrawDescendants(const TFanList& list, int g) {
  const size_t n = list.aPers2.size();
  points_.assign(n, {});
  colors_.assign(n, kWhite);
  int k = 0;
  for (size_t s = 0; s < n && s < list.aCoord.size(); ++s) {
    const TPers2& e = list.aPers2[s];
    const int a = e.iLevel;
    if (a < 1 || a > g) continue;
    if (Stop(k, int(n))) return k;
    ++k;
    Sector2(list, int(s));
    const TCoord& c = list.aCoord[s];
    const int row = SelectTextLayoutRow(layout_, a, 1, c.rAn1, c.rAn2);
    if (e.sSupr.isEmpty()) DescendantText(c, a, row, BuildDescendantSectorText(e, a, row, layout_, o_));
  }
  return k;
}

}  // namespace

TFanLayout::TFanLayout() {
  for (int r = 0; r <= kFanMaxGenerations; ++r) FanLayout[size_t(r)].fill(0);
  for (int r = 1; r <= kFanMaxGenerations; ++r) {
    FanLayout[size_t(r)][0] = r;
    for (int c = 1; c <= 11; ++c) FanLayout[size_t(r)][size_t(c)] = kLayout[r - 1][c - 1];
  }
}

void TFanLayout::SetRunningSums(int direction) {
  const int column = direction == 1 ? fcRingDesc : fcRingAnc;
  std::int32_t sum = 0;
  for (int g = 1; g <= kFanMaxGenerations; ++g) {
    sum += FanLayout[size_t(g)][size_t(column)];
    FanLayout[size_t(g)][fcOuterRadius] = sum;
  }
}

int SelectTextLayoutRow(const TFanLayout& layout, int a, int direction, double start, double end) {
  if (a < 1 || a > kFanMaxGenerations) return 0;
  if (start < 0 || end < 0 || layout.At(a, fcRingAnc + direction) != 500) return 0;
  const double outer = layout.At(a, fcOuterRadius);
  const double inner = a > 1 ? layout.At(a - 1, fcOuterRadius) : 0;
  const double area = (outer * outer - inner * inner) * std::numbers::pi * std::fabs(start - end) / 360.0;
  if (a >= 5) {
    for (int h = 5; h <= a; ++h)
      if (layout.At(h, fcMinArea) <= area) return h;
  }
  if (a + 1 <= 12) {
    for (int h = 12; h >= a + 1; --h)
      if (layout.At(h, fcMinArea) > area) return h;
  }
  return a;
}

QStringList BuildAncestorSectorText(const TPers& e, int a, int row, const TFanLayout& layout,
                                    const TFanOptions& o) {
  auto form = [&](const QString& s) {
    return o.NameBrackets ? QLatin1Char('(') + s + QStringLiteral(") ") : s + QLatin1Char(' ');
  };
  QString name;
  if (o.Surname) name += e.Fam + QLatin1Char(' ');
  if (o.BirthSurname) {
    if (!e.FamR.isEmpty()) {
      name += form(e.FamR);
    } else if (e.sex == QLatin1String("M") && !o.Surname && !e.Fam.isEmpty()) {
      name += form(e.Fam);
    }
  }
  if (o.FirstName) name += e.Im + QLatin1Char(' ');
  if (o.Patronymic) name += e.Ot + QLatin1Char(' ');
  const QString dates = DatesPart(o, e.Year1, e.Year2, e.Date1, e.Date2);
  return SectorLines(name, dates, row == 0 ? a : row, fcLinesAnc, layout);
}

QStringList BuildDescendantSectorText(const TPers2& e, int a, int row, const TFanLayout& layout,
                                      const TFanOptions& o) {
  const QString dates = DatesPart(o, e.Year1, e.Year2, e.Date1, e.Date2);
  return SectorLines(e.Name, dates, row == 0 ? a : row, fcLinesDesc, layout);
}

bool AncestorSectorColor(const TFanOptions& o, const QString& place, double start, const QString& rootSex,
                         FColor& color) {
  const auto& C = o.Colors;
  const int g = int(place.size());
  if (o.Coloring == 0 || g < 1) return false;
  const std::int64_t slot = BinToInt(place);
  if (g == 1) {
    color = rootSex == QLatin1String("F") ? C[3] : C[0];
    return true;
  }
  if (g == 2) {
    color = slot % 2 == 1 ? C[3] : C[0];
    return true;
  }
  if (o.Coloring != 2) return false;
  FColor base = 0;
  if (start < 270) {
    base = C[0];
  } else if (start < 360) {
    base = C[1];
  } else if (start < 450) {
    base = C[2];
  } else if (start < 540) {
    base = C[3];
  } else {
    return false;
  }
  const std::int64_t n = std::int64_t(1) << (g - 1);
  const int d = int(n / 4);
  color = Blend(base, kWhite, int(slot % d), d);
  return true;
}

int FanGenerations(const TFanOptions& o, const std::vector<TPers>& aPers, const TFanList& list) {
  int g = o.Generations;
  if (o.Auto) {
    if (o.Direction == 1) {
      g = list.aPers2.empty() ? 1 : list.aPers2.back().iLevel;
    } else {
      g = aPers.empty() ? 1 : int(aPers.back().Place.size());
    }
  }
  return std::clamp(g, kFanMinGenerations, kFanMaxGenerations);
}

TFanResult fanChart(int iType, const TFanOptions& o, const TFanLayout& layout, std::vector<TPers>& aPers,
                    const TFanList& list, TImageCanvas& picture, TFanTextSink* text,
                    const TFanProgress& progress) {
  TFanResult result;
  picture.SetSize(0, 0);  // the previous chart goes before the next one is made
  const bool ancestors = iType == 0;
  if (ancestors ? aPers.empty() || aPers.front().Place != QLatin1String("0")
                : list.aPers2.empty() || list.aCoord.size() != list.aPers2.size())
    return result;
  TFanOptions opt = o;
  opt.Direction = ancestors ? 0 : 1;
  const int g = FanGenerations(opt, aPers, list);
  const int r = layout.At(g, fcOuterRadius);
  if (r <= 0) return result;
  picture.Assign(platform::NewLargeWhiteImage(2 * r, 2 * r));
  if (picture.Width() != 2 * r) return TFanResult();  // no memory for the picture
  picture.PenColor = platform::clBlack;
  picture.PenWidth = 2;
  picture.PenMode = platform::TPenMode::Copy;
  picture.BrushColor = platform::clWhite;
  picture.BrushStyle = platform::TBrushStyle::Solid;
  TFanPictureText painterText(picture.Image());
  TFanDrawer drawer(opt, layout, picture, text ? *text : painterText, progress);
  result.Drawn = true;
  result.Generations = g;
  if (ancestors) {
    result.Count = drawer.DrawAncestors(aPers, g);
    result.Total = int((std::int64_t(1) << g) - 1);
    const int p = Round(result.Count * 100.0 / result.Total);
    result.Label = QStringLiteral("%1% (%2/%3)").arg(p).arg(result.Count).arg(result.Total);
  } else {
    result.Count = drawer.DrawDescendants(list, g);
    result.Label = QString::number(result.Count);
  }
  if (drawer.Stopped()) {
    picture.SetSize(0, 0);
    result = TFanResult();
    result.Stopped = true;
  }
  return result;
}

// ------------------------------------------------------------------ painted text

namespace {
const QString kFace = QStringLiteral("Arial");

// A painter on the picture for black text with no background.
void WithPainter(QImage& picture, const std::function<void(QPainter&)>& paint) {
  if (picture.isNull()) return;
  QPainter p(&picture);
  p.setPen(Qt::black);
  p.setBackgroundMode(Qt::TransparentMode);
  paint(p);
}
}  // namespace

void TFanPictureText::RootText(int x, int y, int height, int weight, const QString& line) {
  if (line.isEmpty()) return;
  WithPainter(picture_, [&](QPainter& p) {
    DrawTextEscaped(p, MakeRotatedFont(kFace, height, 0, 0, weight), 0, x, y, line);
  });
}

void TFanPictureText::ArcText(int height, int weight, const QString& line, double g, double radius, double cx,
                              double cy, double span) {
  if (line.isEmpty()) return;
  WithPainter(picture_, [&](QPainter& p) { DrawArcText(p, kFace, height, 0, weight, line, g, radius, cx, cy, span); });
}

void TFanPictureText::RotatedText(int height, int weight, const QString& line, double e, double d, double radius,
                                  double cx, double cy) {
  if (line.isEmpty()) return;
  WithPainter(picture_, [&](QPainter& p) { DrawRotatedText(p, kFace, height, 0, weight, line, e, d, radius, cx, cy); });
}
