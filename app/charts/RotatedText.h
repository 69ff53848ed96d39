// Rotated text for the fan chart and the kinship picture, with the Windows font-height rule of the canvas
// (a negative height is the em height, a positive one the cell height). Angles are in degrees, escapements
// in tenths of a degree, counter-clockwise. Main thread only (fonts need the GUI application).
#pragma once

#include <QFont>
#include <QPainter>
#include <QString>

// A font of the given face and Windows height (negative: character height in pixels; positive: cell
// height), width (0 = default), escapement and weight (0 = 400).
QFont MakeRotatedFont(const QString& face, int height, int width, int escapement, int weight);
// Draws text centred-top at its place on a circle, turned over on the left half.
void DrawRotatedText(QPainter& canvas, const QString& face, int height, int width, int weight,
                     const QString& text, double e, double d, double radius, double cx, double cy);
// Draws text one character per font along an arc of span a centred on angle g.
void DrawArcText(QPainter& canvas, const QString& face, int height, int width, int weight,
                 const QString& text, double g, double radius, double cx, double cy, double a);
// Draws text at (x, y) in font f rotated by escapement/10 degrees counter-clockwise, anchored centre-top.
void DrawTextEscaped(QPainter& canvas, const QFont& f, int escapement, int x, int y, const QString& text);
