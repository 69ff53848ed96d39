// Small window controls the main window is built from, plus the conventions every control follows.
// - objectName is the control's component name ("Edit2", "CheckBox55"): settings and translations find
//   controls by it.
// - The dynamic property "Tag" (int) marks containers whose direct child controls are saved in the settings
//   file (non-zero = saved); `TSpeedButton`/`TPushButton` style buttons may use it as a flag too.
// - The dynamic property "HelpKeyword" (QString) is the control's translation key.
// - A menu item (QAction) keeps its translation key in its statusTip (the "hint" of the item).
// - Colours are Windows colour values: 0x00BBGGRR (red in the low byte).
// Qt widgets; main thread only.
#pragma once

#include <QColor>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QPointer>
#include <QRadioButton>
#include <QString>
#include <QStringList>
#include <QTabWidget>
#include <QToolButton>
#include <QWidget>

namespace platform {

QColor ColorFromWin(int color);
int WinFromColor(const QColor& color);

int ControlTag(const QObject* control);
void SetControlTag(QObject* control, int tag);
QString HelpKeyword(const QObject* control);
void SetHelpKeyword(QObject* control, const QString& keyword);

// A panel: a frame with an optional caption and a background colour (the "Color" property, Windows value).
class TPanel : public QFrame {
  Q_OBJECT
  Q_PROPERTY(int Color READ Color WRITE SetColor)
 public:
  explicit TPanel(QWidget* parent = nullptr, const QString& name = QString());
  int Color() const { return color_; }
  void SetColor(int color);
  QString Caption() const;
  void SetCaption(const QString& caption);
 signals:
  void Clicked();
 protected:
  void mousePressEvent(QMouseEvent* event) override;
 private:
  int color_ = -1;  // -1: the style's own colour
  QLabel* caption_ = nullptr;
};

// A group of radio buttons with one selected index (-1 none). Items are the buttons' texts.
class TRadioGroup : public QGroupBox {
  Q_OBJECT
 public:
  explicit TRadioGroup(QWidget* parent = nullptr, const QString& name = QString());
  void SetItems(const QStringList& items);
  QStringList Items() const;
  int ItemCount() const { return static_cast<int>(buttons_.size()); }
  void SetItem(int index, const QString& text);
  int ItemIndex() const;
  // Selects the item without emitting ItemIndexChanged; out-of-range values select nothing.
  void SetItemIndex(int index);
 signals:
  void ItemIndexChanged(int index);
 private:
  QList<QRadioButton*> buttons_;
};

// Up and down arrows bound to a buddy edit: Position is clamped to [Min, Max] and written into the edit.
class TUpDown : public QWidget {
  Q_OBJECT
 public:
  TUpDown(QWidget* parent, const QString& name, QLineEdit* associate, int min, int max, int position);
  int Position() const { return position_; }
  void SetPosition(int position);
  int Min() const { return min_; }
  int Max() const { return max_; }
  QLineEdit* Associate() const { return associate_; }
 signals:
  void PositionChanged(int position);
 private:
  int min_, max_, position_;
  QPointer<QLineEdit> associate_;
};

// A tab sheet's caption follows the page control: this sets the caption of `page` in its QTabWidget.
QString TabCaption(const QWidget* page);
void SetTabCaption(QWidget* page, const QString& caption);
QTabWidget* PageControlOf(const QWidget* page);

}  // namespace platform
