// A scheme tree as a picture: one 50-pixel row per node in the tree's order, a blue square for a man
// and a red circle for a woman, the node's text in Arial 32, and connector lines from each node to its
// parent's column. The layout is computed once; bands of it are painted on demand, so a tree of any
// size is drawn, saved in parts or printed without holding the whole picture at once.
#pragma once

#include "app/charts/TreeNodes.h"
#include "platform/qt/Canvas.h"
#include "platform/qt/PictureFile.h"

#include <QImage>
#include <QLine>
#include <QString>

#include <vector>

class TTreePicture : public platform::TBandSource {
 public:
  static constexpr int kRow = 50;
  static constexpr int kStartWidth = 1000;

  explicit TTreePicture(std::vector<TTreeRow> rows);

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  int NodeCount() const { return int(rows_.size()); }
  // Draws every part of the picture that touches rows y0 .. y1-1 on `c` (picture coordinates).
  void Draw(platform::TCanvas& c, int y0, int y1) const;
  void PaintBand(QImage& band, int y0) const override;
  // The part of the picture from row y0, h rows high, as an image (white below the picture).
  QImage Cut(int y0, int h) const;

  // The text drawn for a row: line breaks become blanks.
  static QString DrawnText(const QString& text);
  static platform::TCanvasFont PictureFont();

 private:
  struct Segment {
    QLine line;
    int top;
    int bottom;
  };
  std::vector<TTreeRow> rows_;
  std::vector<QString> texts_;
  std::vector<Segment> segments_;
  int width_ = kStartWidth;
  int height_ = 0;
};

// Page height for a picture `width` wide: portrait (99/70) or landscape (70/99), whole rows only.
int TreePageHeight(int width, bool landscape);
