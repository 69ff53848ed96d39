// A canvas for tests: every drawing call becomes one text line in Calls(), with the state it used,
// e.g. "Rectangle 50,5,90,45 pen=000000/1 brush=FF0000". Measuring uses the real fonts, so layouts
// computed on it match those of TImageCanvas. Nothing is painted.
#pragma once

#include "platform/qt/Canvas.h"

#include <QStringList>

namespace platform {

class TRecordingCanvas : public TCanvas {
 public:
  int Width() const override { return w_; }
  int Height() const override { return h_; }
  void SetSize(int w, int h) override;
  void Widen(int w) override;
  void Rectangle(int x1, int y1, int x2, int y2) override;
  void FillRect(int x1, int y1, int x2, int y2) override;
  void Ellipse(int x1, int y1, int x2, int y2) override;
  void Line(int x1, int y1, int x2, int y2) override;
  void Polyline(const std::vector<QPoint>& points) override;
  void Polygon(const std::vector<QPoint>& points) override;
  void Arc(double cx, double cy, double r, double a1, double a2) override;
  void FloodFill(int x, int y, TColor color) override;
  void TextOut(int x, int y, const QString& text) override;
  int DrawTextCentered(const QRect& r, const QString& text, bool measureOnly) override;
  void StretchDraw(const QRect& dest, const QImage& src, bool smooth) override;

  const QStringList& Calls() const { return calls_; }
  void Clear() { calls_.clear(); }

 private:
  QString PenText() const;
  QString BrushText() const;
  QStringList calls_;
  int w_ = 0;
  int h_ = 0;
};

}  // namespace platform
