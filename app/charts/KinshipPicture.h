// Showing one entry of the kinship detector's link list three ways: a tree of the path (TreeView3), one
// line of coloured text from A to B (RichEdit2) and a picture of person boxes joined by lines (Image1),
// each box with the person's display text and, as the options ask, the name of the relationship.
//
// Picture geometry, in pixels of the full-size picture: a person box is the 273 x 121 frame drawn at
// (x, row x 150 + 15) with the text centred in it; a blood link is 600 wide with A's line in column 20,
// B's in column 320 and a common ancestor centred at 165 above a fork; a chain advances 300 to the right
// per spouse step and per turn between up and down, parents standing one row below their children.
// A picture that would exceed kKinshipPixelBudget is drawn at the scale that fits it.
// Headless: writes TKinship's tree, text document and picture. Main thread only (fonts).
#pragma once

#include "app/charts/Kinship.h"
#include "platform/qt/Canvas.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

// The most pixels a kinship picture, or its zoomed copy, may have.
inline constexpr qint64 kKinshipPixelBudget = 40'000'000;
inline constexpr int kKinshipMinZoom = 1;
inline constexpr int kKinshipMaxZoom = 400;

// The zoom box's list, in order.
QStringList KinshipZoomItems();
// The zoom text that fits the picture to the box's height rather than its width.
inline const QString kKinshipZoomFitHeight = QStringLiteral("По гор.");

// One person box: the male (iSex 1) or female frame at (iX, iLevel x 150 + 15), the text word-wrapped
// and centred on it. scale maps picture pixels to canvas pixels.
void PersPaint(platform::TCanvas& c, int iX, int iLevel, int iSex, const QString& sText, double scale = 1.0);

// A blood link entry ("." , ".." or a common ancestor's index) of the last search: tree, text line and
// picture; LinkChain becomes the ";"-separated persons of the path.
void Link2PersPaint(const Model& m, TKinship& k, const QString& entry, const TKinshipOptions& o);
// The same, drawing on `canvas` (sized here); k.Picture is left null.
void Link2PersPaint(const Model& m, TKinship& k, const QString& entry, const TKinshipOptions& o,
                    platform::TCanvas& canvas);

// A chain entry: text line of full names and the chain picture.
void Link2PersPaintExGedcom(const Model& m, TKinship& k, const QString& chain, const TKinshipOptions& o);
void Link2PersPaintExGedcom(const Model& m, TKinship& k, const QString& chain, const TKinshipOptions& o,
                            platform::TCanvas& canvas);

// The zoom percentage for the zoom box's text: the number before "%", or, when there is none, the
// percentage that fits the picture to the box (its height for "По гор.", else its width); always within
// 1 .. 400 and small enough that the zoomed copy stays inside the pixel budget. 0 for no picture.
int KinshipZoomPercent(const QString& zoomText, const QSize& picture, const QSize& box);
// The zoomed copy shown on the page (smooth scaling); null for no picture.
QImage ReScalelink2Pers(const QImage& picture, const QString& zoomText, const QSize& box);
