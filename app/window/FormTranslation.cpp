// Translates a window and the controls it owns by their "HelpKeyword"; see FormTranslation.h.
#include "app/window/FormTranslation.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QCheckBox>
#include <QToolBar>
#include <QToolButton>

#include "platform/qt/Controls.h"
#include "platform/qt/DataGrid.h"

#include "app/core/trans.h"

using platform::TIniFile;

namespace {

// The designed text of a property, remembered on first use.
QString Designed(QObject* o, const char* name, const QString& current) {
  const QByteArray prop = QByteArray("Design") + name;
  const QVariant v = o->property(prop.constData());
  if (v.isValid()) return v.toString();
  o->setProperty(prop.constData(), current);
  return current;
}

QStringList DesignedItems(QObject* o, const QStringList& current) {
  const QVariant v = o->property("DesignItems");
  if (v.isValid()) return v.toStringList();
  o->setProperty("DesignItems", current);
  return current;
}

bool IsSortMark(QChar c) { return c == QChar(0x02C5) || c == QChar(0x02C4); }

}  // namespace

void TranslateForm(QWidget* window, const QString& path, std::unique_ptr<TIniFile>& file) {
  file.reset();
  if (!window || !QFileInfo::exists(path)) return;
  file = std::make_unique<TIniFile>(path);
  TIniFile* f = file.get();
  f->BeginUpdate();  // missing keys are collected and written once

  // A control without a keyword keeps what it shows.
  auto text = [&](QObject* o, const QString& kw, const QString& current) {
    if (kw.isEmpty()) return current;
    return GetLangString(kw, f, Designed(o, "Text", current));
  };
  auto hint = [&](QWidget* w, const QString& kw) {
    if (kw.isEmpty()) return;
    w->setToolTip(GetLangString(kw + QLatin1String("_Hint"), f, Designed(w, "Hint", w->toolTip())));
  };

  window->setWindowTitle(text(window, platform::HelpKeyword(window), window->windowTitle()));

  for (QObject* o : window->findChildren<QObject*>()) {
    const QString kw = platform::HelpKeyword(o);
    if (auto* a = qobject_cast<QAction*>(o)) {
      if (!a->isSeparator() && !a->statusTip().isEmpty())
        a->setText(GetLangString(a->statusTip(), f, Designed(a, "Text", a->text())));
      continue;
    }
    auto* w = qobject_cast<QWidget*>(o);
    if (!w) continue;
    if (auto* tb = qobject_cast<QToolButton*>(w)) {
      auto* bar = qobject_cast<QToolBar*>(tb->parentWidget());
      if (!bar || bar->toolButtonStyle() != Qt::ToolButtonIconOnly) tb->setText(text(tb, kw, tb->text()));
      hint(tb, kw);
    } else if (auto* pb = qobject_cast<QPushButton*>(w)) {
      if (!kw.isEmpty()) {
        pb->setText(text(pb, kw, pb->text()));
        hint(pb, kw);
      }
    } else if (auto* p = qobject_cast<platform::TPanel*>(w)) {
      p->SetCaption(text(p, kw, p->Caption()));
      hint(p, kw);
    } else if (auto* rg = qobject_cast<platform::TRadioGroup*>(w)) {
      if (!kw.isEmpty()) {
        rg->setTitle(text(rg, kw, rg->title()));
        hint(rg, kw);
        const QStringList items = DesignedItems(rg, rg->Items());
        for (int i = 0; i < items.size(); ++i)
          rg->SetItem(i, GetLangString(kw + QLatin1Char('_') + QString::number(i), f, items[i]));
      }
    } else if (auto* gb = qobject_cast<QGroupBox*>(w)) {
      gb->setTitle(text(gb, kw, gb->title()));
      hint(gb, kw);
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
      l->setText(text(l, kw, l->text()));
      hint(l, kw);
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
      hint(e, kw);
    } else if (auto* m = qobject_cast<QPlainTextEdit*>(w)) {
      if (kw.contains(QLatin1String("Static")))
        m->setPlainText(text(m, kw, m->toPlainText()));
      hint(m, kw);
    } else if (auto* rb = qobject_cast<QRadioButton*>(w)) {
      if (!qobject_cast<platform::TRadioGroup*>(rb->parentWidget())) {
        rb->setText(text(rb, kw, rb->text()));
        hint(rb, kw);
      }
    } else if (auto* cb = qobject_cast<QComboBox*>(w)) {
      if (!kw.isEmpty()) {
        hint(cb, kw);
        if (kw.contains(QLatin1String("Static"))) {
          QStringList current;
          for (int i = 0; i < cb->count(); ++i) current << cb->itemText(i);
          const QStringList items = DesignedItems(cb, current);
          const bool was = cb->blockSignals(true);
          for (int i = 0; i < items.size() && i < cb->count(); ++i)
            cb->setItemText(i, GetLangString(kw + QLatin1Char('_') + QString::number(i), f, items[i]));
          cb->blockSignals(was);
        }
      }
    } else if (auto* g = qobject_cast<platform::TDBGrid*>(w)) {
      if (!kw.isEmpty()) {
        hint(g, kw);
        platform::TDataSetModel* model = g->GridModel();
        QStringList current;
        for (int k = 0; k < model->columnCount(); ++k) current << StripTitleMark(model->ColumnTitle(k));
        const QStringList titles = DesignedItems(g, current);
        for (int k = 0; k < titles.size(); ++k) {
          QString t = StripTitleMark(
              GetLangString(kw + QLatin1Char('_') + QString::number(k), f, titles[k]));
          // The sort mark follows the column's present order, not the file.
          const QString now = current[k];
          if (t.size() >= 2 && IsSortMark(t[0])) t = t.mid(2);
          if (now.size() >= 2 && IsSortMark(now[0])) t = now.left(2) + t;
          model->SetColumnTitle(k, t + QChar(kTitleMark));
        }
      }
    } else if (auto* lw = qobject_cast<QListWidget*>(w)) {
      if (!kw.isEmpty()) {
        hint(lw, kw);
        QStringList current;
        for (int i = 0; i < lw->count(); ++i) current << lw->item(i)->text();
        const QStringList items = DesignedItems(lw, current);
        for (int i = 0; i < items.size() && i < lw->count(); ++i)
          lw->item(i)->setText(GetLangString(kw + QLatin1Char('_') + QString::number(i), f, items[i]));
      }
    } else if (auto* ch = qobject_cast<QCheckBox*>(w)) {
      ch->setText(text(ch, kw, ch->text()));
      hint(ch, kw);
    } else if (QTabWidget* pc = platform::PageControlOf(w)) {
      (void)pc;
      platform::SetTabCaption(w, text(w, kw, platform::TabCaption(w)));
      hint(w, kw);
    }
  }
  f->EndUpdate();
}
