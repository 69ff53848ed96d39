// The person card: a rich-text description of one person (birth, parents, brothers and sisters, each
// marriage with the spouse and the children, death) followed by a small three-generation ancestor chart
// placed in the text as a picture. Every relative's line is a link: an anchor whose target is the
// relative's person index (PersonAnchor), so a click finds its person without comparing texts; a missing
// parent's line is written without a link. Also the two frame pictures that person boxes are drawn on.
//
// Headless: reads a Model, writes a QTextDocument (the card's pane shows it, the RTF writer saves it with
// the picture) and paints the chart on a canvas. Main thread only (fonts).
#pragma once

#include "app/charts/Ancestors.h"
#include "app/core/Model.h"
#include "platform/qt/Canvas.h"

#include <QImage>
#include <QString>
#include <QTextDocument>

#include <cstdint>
#include <vector>

// The frame pictures behind person boxes: male (Image3) and female (Image4).
inline constexpr int kFrameWidth = 273;
inline constexpr int kFrameHeight = 121;
const QImage& PersonFrame(bool male);

struct TPersonCardOptions {
  bool IdGedcom = false;  // CheckBoxIDgedcom "ID Gedcom": show record identifiers
};

// One link of the card, in the order the lines are written.
struct TPersonCardLink {
  QString Text;  // the line's shown text
  std::int64_t Index = 0;
};

struct TPersonCard {
  std::vector<TPersonCardLink> Links;
  QString PersInfoLinks;  // the links as text: shown text "=" index ";" per link
  QImage Chart;           // the three-generation chart placed at the end of the text
};

// The card font: Tahoma at 12 pixels (9 points at 96 DPI).
QFont PersonCardFont();

// Builds the card of person p into doc (cleared first). p outside the model gives an empty card.
void PersInfo(const Model& m, std::int64_t p, const TPersonCardOptions& o, QTextDocument& doc, TPersonCard& card);

// The anchor target of a link to person `index`, and back (0 for a target that names no person).
QString PersonAnchor(std::int64_t index);
std::int64_t PersonOfAnchor(const QString& href);

// The card text as plain text: links as their visible text, the picture left out.
QString PersonCardPlainText(const QTextDocument& doc);

// --- the chart ---

// Paints an ancestor chart of n generations of the ancestor list `a` (breadth first, as FillTree builds
// it) on `c`. The scale comes from the canvas's current width (or, when that is 105, its height) against
// the chart's base size 2^(n-1) x 300 by (n-1) x 150 + 140; the canvas is resized to the scaled size.
// Writes each drawn entry's column to its iX.
void PaintTree(std::vector<TPers>& a, int n, platform::TCanvas& c);
// One cell at centre x on `level`, framed by the entry's sex; k is the entry's position in the list.
void PaintCell(int x, int level, double s, platform::TCanvas& c, const QString& text, int k, const QString& sex);
// The connector from the child's cell (centre x0, one level up) to the cell at centre x on `level`.
void PaintLink(int x, int x0, double s, platform::TCanvas& c, int level);
// The chart of the card: n = 3 generations of p on a picture 600 pixels wide.
QImage PersonCardChart(const Model& m, std::int64_t p);
