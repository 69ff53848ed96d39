#include "platform/qt/BarChart.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

constexpr int kMargin = 8;
constexpr int kTopOffset = 10;  // room above the highest bar

// A "nice" step for about `ticks` divisions of `range`.
double NiceStep(double range, int ticks) {
  if (range <= 0 || ticks <= 0) return 1;
  const double raw = range / ticks;
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (raw <= m * mag) return std::max(1.0, m * mag);
  return std::max(1.0, 10 * mag);
}

}  // namespace

TBarChart::TBarChart(QWidget* parent, const QString& name) : QWidget(parent), color_(0x00, 0x49, 0x6C) {
  if (!name.isEmpty()) setObjectName(name);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  setPalette(pal);
  setMinimumSize(200, 150);
}

void TBarChart::SetBars(std::vector<Bar> bars) {
  bars_ = std::move(bars);
  ClearClickLabels();
  update();
}

void TBarChart::Clear() { SetBars({}); }

void TBarChart::SetSubFooter(const QString& text) {
  subFooter_ = text;
  update();
}

void TBarChart::SetBarColor(const QColor& c) {
  color_ = c;
  update();
}

TBarChart::Layout TBarChart::Geometry(const QRect& area, const QFontMetrics& fm) const {
  Layout l;
  int labelHeight = 0;
  for (const Bar& b : bars_) labelHeight = std::max(labelHeight, fm.horizontalAdvance(b.label));
  labelHeight = std::min(labelHeight, area.height() / 3);
  double maxValue = 0;
  for (const Bar& b : bars_) maxValue = std::max(maxValue, b.value);
  l.maxValue = std::max(1.0, maxValue);
  const int axisWidth = fm.horizontalAdvance(QString::number(static_cast<long long>(l.maxValue))) + 10;
  const int footer = subFooter_.isEmpty() ? 0 : fm.height() + 4;
  l.plot = QRect(area.left() + kMargin + axisWidth, area.top() + kMargin + kTopOffset,
                 std::max(10, area.width() - 2 * kMargin - axisWidth),
                 std::max(10, area.height() - 2 * kMargin - kTopOffset - labelHeight - 6 - footer));
  if (!bars_.empty()) {
    l.minX = bars_.front().x;
    l.maxX = bars_.front().x;
    for (const Bar& b : bars_) {
      l.minX = std::min(l.minX, b.x);
      l.maxX = std::max(l.maxX, b.x);
    }
  }
  l.slot = l.plot.width() / (l.maxX - l.minX + 1);
  return l;
}

void TBarChart::Draw(QPainter& p, const QRect& area) const {
  p.save();
  p.fillRect(area, Qt::white);
  const QFontMetrics fm = p.fontMetrics();
  const Layout l = Geometry(area, fm);
  const QRect& plot = l.plot;
  auto yOf = [&](double v) { return plot.bottom() - v / l.maxValue * plot.height(); };

  // Value axis: whole numbers, grid lines.
  const double step = NiceStep(l.maxValue, std::max(1, plot.height() / (fm.height() * 2)));
  p.setPen(QColor(0xD0, 0xD0, 0xD0));
  for (double v = 0; v <= l.maxValue + 1e-9; v += step) p.drawLine(QPointF(plot.left(), yOf(v)), QPointF(plot.right(), yOf(v)));
  p.setPen(Qt::black);
  for (double v = 0; v <= l.maxValue + 1e-9; v += step) {
    const QString t = QString::number(static_cast<long long>(std::llround(v)));
    p.drawText(QRectF(area.left(), yOf(v) - fm.height() / 2.0, plot.left() - area.left() - 4, fm.height()),
               Qt::AlignRight | Qt::AlignVCenter, t);
  }
  p.drawLine(plot.bottomLeft(), plot.bottomRight());
  p.drawLine(plot.bottomLeft(), plot.topLeft());

  // Bars, full slot width, no outline.
  p.setPen(Qt::NoPen);
  p.setBrush(color_);
  for (const Bar& b : bars_) {
    const double left = plot.left() + (b.x - l.minX) * l.slot;
    const double top = yOf(b.value);
    if (b.value > 0) p.drawRect(QRectF(left, top, std::max(1.0, l.slot), plot.bottom() - top));
  }

  // Labels written upwards under the bars, as many as fit side by side.
  p.setPen(Qt::black);
  const int every = std::max(1, static_cast<int>(std::ceil((fm.height() + 2) / std::max(0.01, l.slot))));
  int k = 0;
  for (const Bar& b : bars_) {
    if (k++ % every) continue;
    const double cx = plot.left() + (b.x - l.minX + 0.5) * l.slot;
    p.save();
    p.translate(cx + fm.ascent() / 2.0 - 1, plot.bottom() + 4);
    p.rotate(-90);
    p.drawText(QPointF(-fm.horizontalAdvance(b.label), 0), b.label);
    p.restore();
  }

  if (!subFooter_.isEmpty())
    p.drawText(QRect(area.left(), area.bottom() - kMargin - fm.height(), area.width() - kMargin, fm.height()),
               Qt::AlignRight | Qt::AlignVCenter, subFooter_);
  p.restore();
}

QImage TBarChart::Picture(QSize size, int scale) const {
  if (size.isEmpty()) size = this->size();
  scale = std::max(1, scale);
  QImage image(size * scale, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.scale(scale, scale);
  p.setFont(font());
  Draw(p, QRect(QPoint(0, 0), size));
  return image;
}

int TBarChart::BarAt(const QPoint& pos) const {
  const Layout l = Geometry(rect(), fontMetrics());
  for (std::size_t i = 0; i < bars_.size(); ++i) {
    const double left = l.plot.left() + (bars_[i].x - l.minX) * l.slot;
    const double top = l.plot.bottom() - bars_[i].value / l.maxValue * l.plot.height();
    if (pos.x() >= left && pos.x() < left + std::max(1.0, l.slot) && pos.y() >= top && pos.y() <= l.plot.bottom())
      return static_cast<int>(i);
  }
  return -1;
}

std::vector<QLabel*> TBarChart::ClickLabels() const {
  std::vector<QLabel*> out;
  for (const auto& l : labels_)
    if (l) out.push_back(l.data());
  return out;
}

void TBarChart::ClearClickLabels() {
  for (auto& l : labels_)
    if (l) delete l.data();
  labels_.clear();
}

void TBarChart::paintEvent(QPaintEvent*) {
  QPainter p(this);
  Draw(p, rect());
}

void TBarChart::mousePressEvent(QMouseEvent* event) {
  const int i = BarAt(event->position().toPoint());
  if (i < 0) return QWidget::mousePressEvent(event);
  const Bar& b = bars_[static_cast<std::size_t>(i)];
  auto* label = new QLabel(this);
  label->setAutoFillBackground(true);
  QPalette pal = label->palette();
  pal.setColor(QPalette::Window, QColor(0xFF, 0xFF, 0x00));
  pal.setColor(QPalette::WindowText, Qt::black);
  label->setPalette(pal);
  label->setText((b.label.isEmpty() ? QString::number(b.x) : b.label) + QStringLiteral(": ") +
                 QString::number(static_cast<long long>(std::llround(b.value))));
  label->adjustSize();
  label->move(event->position().toPoint());
  label->show();
  labels_.push_back(label);
}

void TBarChart::resizeEvent(QResizeEvent* event) {
  ClearClickLabels();
  QWidget::resizeEvent(event);
}

}  // namespace platform
