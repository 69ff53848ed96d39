#include "app/window/FormSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <algorithm>

#include "platform/qt/Controls.h"

using platform::TIniFile;

namespace {

enum class Kind { None, Edit, RadioButton, RadioGroup, CheckBox, UpDown, SpinEdit, PageControl, ComboBox };

Kind KindOf(const QWidget* w) {
  if (qobject_cast<const QLineEdit*>(w)) return Kind::Edit;
  if (qobject_cast<const QRadioButton*>(w)) return Kind::RadioButton;
  if (qobject_cast<const platform::TRadioGroup*>(w)) return Kind::RadioGroup;
  if (qobject_cast<const QCheckBox*>(w)) return Kind::CheckBox;
  if (qobject_cast<const platform::TUpDown*>(w)) return Kind::UpDown;
  if (qobject_cast<const QSpinBox*>(w)) return Kind::SpinEdit;
  if (qobject_cast<const QTabWidget*>(w)) return Kind::PageControl;
  if (qobject_cast<const QComboBox*>(w)) return Kind::ComboBox;
  return Kind::None;
}

}  // namespace

bool IsPersistedControl(const QWidget* control) {
  if (!control || control->objectName().isEmpty()) return false;
  const QWidget* parent = control->parentWidget();
  return parent && platform::ControlTag(parent) != 0 && KindOf(control) != Kind::None;
}

void SaveControls(QWidget* form, TIniFile& ini) {
  ini.BeginUpdate();
  for (QWidget* w : form->findChildren<QWidget*>()) {
    if (!IsPersistedControl(w)) continue;
    const QString key = w->objectName();
    switch (KindOf(w)) {
      case Kind::Edit: ini.WriteString(kOptionsSection, key, static_cast<QLineEdit*>(w)->text()); break;
      case Kind::RadioButton:
        ini.WriteBool(kOptionsSection, key, static_cast<QRadioButton*>(w)->isChecked());
        break;
      case Kind::RadioGroup:
        ini.WriteInteger(kOptionsSection, key, static_cast<platform::TRadioGroup*>(w)->ItemIndex());
        break;
      case Kind::CheckBox: ini.WriteBool(kOptionsSection, key, static_cast<QCheckBox*>(w)->isChecked()); break;
      case Kind::UpDown:
        ini.WriteInteger(kOptionsSection, key, static_cast<platform::TUpDown*>(w)->Position());
        break;
      case Kind::SpinEdit: ini.WriteInteger(kOptionsSection, key, static_cast<QSpinBox*>(w)->value()); break;
      case Kind::PageControl:
        ini.WriteInteger(kOptionsSection, key, static_cast<QTabWidget*>(w)->currentIndex());
        break;
      case Kind::ComboBox: {
        // A box the user can type into keeps its text (a typed zoom is no item); the others their index.
        const auto* c = static_cast<QComboBox*>(w);
        if (c->isEditable())
          ini.WriteString(kOptionsSection, key, c->currentText());
        else
          ini.WriteInteger(kOptionsSection, key, c->currentIndex());
        break;
      }
      case Kind::None: break;
    }
  }
  ini.EndUpdate();
}

void LoadControls(QWidget* form, const TIniFile& ini) {
  for (QWidget* w : form->findChildren<QWidget*>()) {
    if (!IsPersistedControl(w)) continue;
    const QString key = w->objectName();
    switch (KindOf(w)) {
      case Kind::Edit: {
        auto* e = static_cast<QLineEdit*>(w);
        e->setText(ini.ReadString(kOptionsSection, key, e->text()));
        break;
      }
      case Kind::RadioButton: {
        auto* r = static_cast<QRadioButton*>(w);
        r->setChecked(ini.ReadBool(kOptionsSection, key, r->isChecked()));
        break;
      }
      case Kind::RadioGroup: {
        auto* g = static_cast<platform::TRadioGroup*>(w);
        const int v = ini.ReadInteger(kOptionsSection, key, g->ItemIndex());
        g->SetItemIndex(std::clamp(v, -1, g->ItemCount() - 1));
        break;
      }
      case Kind::CheckBox: {
        auto* c = static_cast<QCheckBox*>(w);
        c->setChecked(ini.ReadBool(kOptionsSection, key, c->isChecked()));
        break;
      }
      case Kind::UpDown: {
        auto* u = static_cast<platform::TUpDown*>(w);
        u->SetPosition(ini.ReadInteger(kOptionsSection, key, u->Position()));
        break;
      }
      case Kind::SpinEdit: {
        auto* s = static_cast<QSpinBox*>(w);
        s->setValue(ini.ReadInteger(kOptionsSection, key, s->value()));  // clamps to its range
        break;
      }
      case Kind::PageControl: {
        auto* p = static_cast<QTabWidget*>(w);
        const int v = ini.ReadInteger(kOptionsSection, key, p->currentIndex());
        if (p->count() > 0) p->setCurrentIndex(std::clamp(v, 0, p->count() - 1));
        break;
      }
      case Kind::ComboBox: {
        auto* c = static_cast<QComboBox*>(w);
        const bool was = c->blockSignals(true);
        if (c->isEditable()) {
          // Its text; a number that names an item is the index an older settings file kept. No key keeps
          // the designed text.
          const QString text = ini.ReadString(kOptionsSection, key, c->currentText());
          bool isIndex = false;
          const int v = text.trimmed().toInt(&isIndex);
          if (isIndex && v >= 0 && v < c->count())
            c->setCurrentIndex(v);
          else if (!text.isEmpty())
            c->setCurrentText(text);
        } else {
          const int v = ini.ReadInteger(kOptionsSection, key, c->currentIndex());
          c->setCurrentIndex(std::clamp(v, -1, c->count() - 1));
        }
        c->blockSignals(was);
        break;
      }
      case Kind::None: break;
    }
  }
}
