#include "platform/qt/Controls.h"

#include <QHBoxLayout>
#include <QIntValidator>
#include <QMouseEvent>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace platform {

QColor ColorFromWin(int color) {
  const unsigned c = static_cast<unsigned>(color);
  return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

int WinFromColor(const QColor& color) {
  return color.red() | (color.green() << 8) | (color.blue() << 16);
}

int ControlTag(const QObject* control) {
  return control ? control->property("Tag").toInt() : 0;
}

void SetControlTag(QObject* control, int tag) {
  if (control) control->setProperty("Tag", tag);
}

QString HelpKeyword(const QObject* control) {
  return control ? control->property("HelpKeyword").toString() : QString();
}

void SetHelpKeyword(QObject* control, const QString& keyword) {
  if (control) control->setProperty("HelpKeyword", keyword);
}

TPanel::TPanel(QWidget* parent, const QString& name) : QFrame(parent) {
  setObjectName(name);
  setFrameShape(QFrame::StyledPanel);
}

void TPanel::SetColor(int color) {
  color_ = color;
  setAutoFillBackground(color >= 0);
  QPalette p = palette();
  if (color >= 0) p.setColor(QPalette::Window, ColorFromWin(color));
  setPalette(p);
  update();
}

QString TPanel::Caption() const { return caption_ ? caption_->text() : QString(); }

void TPanel::SetCaption(const QString& caption) {
  if (!caption_) {
    if (caption.isEmpty()) return;
    caption_ = new QLabel(this);
    caption_->setAlignment(Qt::AlignCenter);
    caption_->setAttribute(Qt::WA_TransparentForMouseEvents);
    if (!layout()) {
      auto* l = new QVBoxLayout(this);
      l->setContentsMargins(2, 2, 2, 2);
      l->addWidget(caption_);
    }
  }
  caption_->setText(caption);
}

void TPanel::mousePressEvent(QMouseEvent* event) {
  QFrame::mousePressEvent(event);
  if (event->button() == Qt::LeftButton) emit Clicked();
}

TRadioGroup::TRadioGroup(QWidget* parent, const QString& name) : QGroupBox(parent) {
  setObjectName(name);
  new QVBoxLayout(this);
}

void TRadioGroup::SetItems(const QStringList& items) {
  for (auto* b : buttons_) delete b;
  buttons_.clear();
  for (int i = 0; i < items.size(); ++i) {
    auto* b = new QRadioButton(items[i], this);
    layout()->addWidget(b);
    buttons_.push_back(b);
    connect(b, &QRadioButton::toggled, this, [this, i](bool on) {
      if (on && !signalsBlocked()) emit ItemIndexChanged(i);
    });
  }
}

QStringList TRadioGroup::Items() const {
  QStringList out;
  for (auto* b : buttons_) out << b->text();
  return out;
}

void TRadioGroup::SetItem(int index, const QString& text) {
  if (index >= 0 && index < buttons_.size()) buttons_[index]->setText(text);
}

int TRadioGroup::ItemIndex() const {
  for (int i = 0; i < buttons_.size(); ++i)
    if (buttons_[i]->isChecked()) return i;
  return -1;
}

void TRadioGroup::SetItemIndex(int index) {
  const bool was = blockSignals(true);
  for (int i = 0; i < buttons_.size(); ++i) {
    buttons_[i]->setAutoExclusive(false);
    buttons_[i]->setChecked(i == index);
    buttons_[i]->setAutoExclusive(true);
  }
  blockSignals(was);
}

TUpDown::TUpDown(QWidget* parent, const QString& name, QLineEdit* associate, int min, int max,
                 int position)
    : QWidget(parent), min_(min), max_(max), position_(position), associate_(associate) {
  setObjectName(name);
  auto* l = new QVBoxLayout(this);
  l->setContentsMargins(0, 0, 0, 0);
  l->setSpacing(0);
  auto* up = new QToolButton(this);
  up->setArrowType(Qt::UpArrow);
  up->setFixedSize(16, 11);
  auto* down = new QToolButton(this);
  down->setArrowType(Qt::DownArrow);
  down->setFixedSize(16, 11);
  l->addWidget(up);
  l->addWidget(down);
  connect(up, &QToolButton::clicked, this, [this] { SetPosition(position_ + 1); });
  connect(down, &QToolButton::clicked, this, [this] { SetPosition(position_ - 1); });
  if (associate_) {
    associate_->setValidator(new QIntValidator(min, max, associate_));
    associate_->setText(QString::number(position_));
    connect(associate_, &QLineEdit::textEdited, this, [this](const QString& t) {
      bool ok = false;
      const int v = t.trimmed().toInt(&ok);
      if (ok && v >= min_ && v <= max_ && v != position_) {
        position_ = v;
        emit PositionChanged(v);
      }
    });
  }
}

void TUpDown::SetPosition(int position) {
  position = std::clamp(position, min_, max_);
  const bool changed = position != position_;
  position_ = position;
  if (associate_) associate_->setText(QString::number(position_));
  if (changed) emit PositionChanged(position_);
}

QTabWidget* PageControlOf(const QWidget* page) {
  if (!page) return nullptr;
  auto* stack = qobject_cast<QStackedWidget*>(page->parentWidget());
  return stack ? qobject_cast<QTabWidget*>(stack->parentWidget()) : nullptr;
}

QString TabCaption(const QWidget* page) {
  QTabWidget* pc = PageControlOf(page);
  if (!pc) return QString();
  const int i = pc->indexOf(const_cast<QWidget*>(page));
  return i < 0 ? QString() : pc->tabText(i);
}

void SetTabCaption(QWidget* page, const QString& caption) {
  QTabWidget* pc = PageControlOf(page);
  if (!pc) return;
  const int i = pc->indexOf(page);
  if (i >= 0) pc->setTabText(i, caption);
}

}  // namespace platform
