// A bar chart widget of our own: one series of bars placed at their x values, bars as wide as their slot
// with no outline, a left value axis with whole numbers, a bottom axis of the bars' labels written upwards,
// and a right-aligned sub-footer line. A click on a bar puts a yellow label at the mouse reading
// "label: value"; such labels last until the chart is drawn anew (new bars, a new size).
// Draw() paints the chart into any rectangle, so the same drawing goes to the screen, to a picture file
// and to the printer. Main thread only.
#pragma once

#include <QColor>
#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <vector>

class QLabel;

namespace platform {

class TBarChart : public QWidget {
 public:
  struct Bar {
    double x = 0;
    double value = 0;
    QString label;
  };

  explicit TBarChart(QWidget* parent = nullptr, const QString& name = QString());

  void SetBars(std::vector<Bar> bars);
  void Clear();
  const std::vector<Bar>& Bars() const { return bars_; }
  void SetSubFooter(const QString& text);
  QString SubFooter() const { return subFooter_; }
  void SetBarColor(const QColor& c);
  QColor BarColor() const { return color_; }

  // The bar under a point of the widget, -1 when none.
  int BarAt(const QPoint& pos) const;
  // The click labels shown now.
  std::vector<QLabel*> ClickLabels() const;
  // Drops the click labels (the chart is drawn anew).
  void ClearClickLabels();

  // Paints the chart into `area` of the painter's device.
  void Draw(QPainter& p, const QRect& area) const;
  // The chart as a picture of the given size (the widget's size when empty), drawn `scale` times larger
  // (texts and lines grow with it: a printed page gets readable labels).
  QImage Picture(QSize size = QSize(), int scale = 1) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct Layout {
    QRect plot;
    double minX = 0, maxX = 0, maxValue = 1;
    double slot = 1;  // pixels per x unit
  };
  Layout Geometry(const QRect& area, const QFontMetrics& fm) const;

  std::vector<Bar> bars_;
  QString subFooter_;
  QColor color_;
  std::vector<QPointer<QLabel>> labels_;
};

}  // namespace platform
