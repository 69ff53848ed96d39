// The fan chart: the current person in the centre and one ring per generation, of ancestors (father's
// side above, mother's below) or of descendants (each child's sector inside its parent's angle), drawn
// once at full size into a picture. Headless: reads the ancestor list (aPers) or the descendant fan list,
// the layout table and the page's options, and paints on a TImageCanvas; texts go through a text sink.
//
// Angles: a drawing angle phi places (cx + r cos phi, cy + r sin phi) with y downwards, so they grow
// clockwise on screen (180 left, 270 top, 360 right, 450 bottom). Ancestor sectors lie between 180 and
// 540; descendant angles of the fan list run 0..360 and are drawn at phi = angle + 180.
// Sectors are outlined with a 2-pixel pen and coloured with a 4-connected flood fill from a seed inside
// them, so every outline is closed before it is filled. Main thread only (fonts need the Qt application).
#pragma once

#include "app/charts/Ancestors.h"
#include "app/charts/Descendants.h"
#include "platform/qt/Canvas.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

// The deepest generation a fan chart draws, and the fewest.
inline constexpr int kFanMaxGenerations = 13;
inline constexpr int kFanMinGenerations = 2;

// Column numbers of the layout table.
enum TFanColumn : int {
  fcOuterRadius = 1,   // running sum of the ring widths, set before every drawing
  fcRingAnc = 2,       // ring width, ancestors
  fcRingDesc = 3,      // ring width, descendants
  fcPlaceAnc = 4,      // text placement, ancestors: 0 horizontal, 1 along arcs, 2 along radii
  fcPlaceDesc = 5,     // text placement, descendants
  fcLinesAnc = 6,      // text lines, ancestors
  fcLinesDesc = 7,     // text lines, descendants
  fcFontSize = 8,      // font size
  fcFontWeight = 9,    // font weight (0 = normal)
  fcWrapWidth = 10,    // wrap width in characters
  fcMinArea = 11,      // minimum sector area in square pixels
};

// Rows 1..13 (row 0 unused), columns 0..11 (column 0 is the row's number).
struct TFanLayout {
  std::array<std::array<std::int32_t, 12>, kFanMaxGenerations + 1> FanLayout;
  TFanLayout();
  std::int32_t At(int row, int column) const { return FanLayout[size_t(row)][size_t(column)]; }
  // Column 1 := running sums of column 2 (direction 0, ancestors) or 3 (direction 1, descendants).
  void SetRunningSums(int direction);
};

// The page's options, read from its controls at drawing time.
struct TFanOptions {
  int Direction = 0;    // ComboBox12: 0 ancestors, 1 descendants
  int Generations = 8;  // SpinEdit1
  bool Auto = false;    // CheckBox82
  int FanType = 0;      // ComboBox8: 0 full circle, 1 sectors, 2..4 honeycomb
  int Coloring = 2;     // ComboBox7: 0 black and white, 1 two colours, 2 many colours
  int Orientation = 0;  // ComboBox6: 0 readable from outside, 1 bottoms to the centre, 2 tops to the centre
  bool Surname = true;       // CheckBox1
  bool BirthSurname = true;  // CheckBox2
  bool NameBrackets = true;  // CheckBox9
  bool FirstName = true;     // CheckBox3
  bool Patronymic = true;    // CheckBox4
  bool Years = true;         // CheckBox5
  bool Dates = false;        // CheckBox6
  bool DateBrackets = false; // CheckBox10
  // Panel13, Panel36, Panel37, Panel38 (Windows colour values).
  std::array<platform::TColor, 4> Colors{0xFDDBA2, 0x7CFE76, 0x00FFFF, 0x7367FE};
};

inline bool IsHoneycomb(int fanType) { return fanType >= 2 && fanType <= 4; }

// Receives the text lines of the chart. The default one paints them on the picture.
class TFanTextSink {
 public:
  virtual ~TFanTextSink() = default;
  // The root's horizontal line, centred on x with its top at y; `height` is a Windows font height.
  virtual void RootText(int x, int y, int height, int weight, const QString& line) = 0;
  // A line along the arc of `radius`, centred on angle g (0..360 from the left), spanning `span` degrees.
  virtual void ArcText(int height, int weight, const QString& line, double g, double radius, double cx,
                       double cy, double span) = 0;
  // A line along a radius: angle e, offset angle d, at `radius` from the centre.
  virtual void RotatedText(int height, int weight, const QString& line, double e, double d, double radius,
                           double cx, double cy) = 0;
};

// Paints the lines in "Arial", black on a transparent background.
class TFanPictureText : public TFanTextSink {
 public:
  explicit TFanPictureText(QImage& picture) : picture_(picture) {}
  void RootText(int x, int y, int height, int weight, const QString& line) override;
  void ArcText(int height, int weight, const QString& line, double g, double radius, double cx, double cy,
               double span) override;
  void RotatedText(int height, int weight, const QString& line, double e, double d, double radius, double cx,
                   double cy) override;

 private:
  QImage& picture_;
};

// Called every few sectors with the entries drawn so far and the most there can be; false stops the drawing.
using TFanProgress = std::function<bool(int drawn, int most)>;

struct TFanResult {
  bool Drawn = false;    // false: no current person or stopped, nothing drawn
  bool Stopped = false;  // the progress callback stopped the drawing; the picture is emptied
  int Generations = 0;   // the generations drawn (2..13)
  int Count = 0;         // entries drawn (k)
  int Total = 0;         // ancestors: 2^g - 1 places
  QString Label;         // Label9: "p% (k/m)" for ancestors, k for descendants
};

// The generation count to draw: the spin value, or with Auto the list's deepest generation; always 2..13.
int FanGenerations(const TFanOptions& o, const std::vector<TPers>& aPers, const TFanList& list);

// Draws the chart of ancestors (iType 0, from aPers, whose angles and connector points are written
// back) or descendants (iType 1, from the fan list) into `picture`, replacing its content, with the
// radii that column 1 of the layout holds. `text` null: lines are painted on the picture.
// No current person (an empty list or an entry 0 naming nobody): the picture is emptied, nothing drawn.
// A drawing that `progress` stops leaves an empty picture too (a half-drawn chart would mislead).
TFanResult fanChart(int iType, const TFanOptions& o, const TFanLayout& layout, std::vector<TPers>& aPers,
                    const TFanList& list, platform::TImageCanvas& picture, TFanTextSink* text = nullptr,
                    const TFanProgress& progress = {});

// The layout row for the text of a sector of generation a (0: none). direction 0 ancestors, 1 descendants.
int SelectTextLayoutRow(const TFanLayout& layout, int a, int direction, double start, double end);

// The text lines of an ancestor entry (name parts and dates by the options) for layout row `row`
// (0: the generation's own row).
QStringList BuildAncestorSectorText(const TPers& e, int a, int row, const TFanLayout& layout,
                                    const TFanOptions& o);
// The text lines of a descendant entry (its full name and the dates).
QStringList BuildDescendantSectorText(const TPers2& e, int a, int row, const TFanLayout& layout,
                                      const TFanOptions& o);

// The fill colour of an ancestor sector of path `place` starting at `start`; false: stays white.
bool AncestorSectorColor(const TFanOptions& o, const QString& place, double start, const QString& rootSex,
                         platform::TColor& color);
