// The shipped translation files themselves: their transliteration tables give the letters of each
// variant ("ISO9", "ГОСТ", "Другой") under the program's variant rule.
#include <gtest/gtest.h>

#include <string>

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTemporaryDir>

#include <memory>

#include "app/core/trans.h"
#include "app/window/Unit1.h"
#include "platform/qt/Controls.h"
#include "platform/qt/IniFile.h"
#include "tests/gui/WindowFixture.h"

namespace {

struct Case {
  const char* name;
  const char* iso;
  const char* gost;
  const char* other;
};

// GOST: ё e, й i, щ shch, ъ ie, ь dropped, ю iu, я ia. A value with three forms gives "ГОСТ" its first
// (ISO) form, so these letters carry two forms, and "Другой" takes the GOST form for them.
const Case kCases[] = {
    {"Щукин", "Ŝukin", "Shchukin", "Shchukin"},
    {"ЩУКИН", "ŜUKIN", "SHCHUKIN", "SHCHUKIN"},
    {"Юрьев", "Ûrʹev", "Iurev", "Iurev"},
    {"Ёлкин", "Ëlkin", "Elkin", "Elkin"},
    {"Майя", "Majâ", "Maiia", "Maiia"},
    {"Подъячев", "Podʺâčev", "Podieiachev", "Podieiachev"},
    {"Евгений Хрущёв", "Evgenij Hruŝëv", "Evgenii Khrushchev", "Yevgenii Khrushchev"},
    {"Зайцева Анна", "Zajceva Anna", "Zaitseva Anna", "Zaitseva Anna"},
};

TEST(ShippedTranslations, TransliterationTablesGiveEachVariant) {
  for (const char* file : {"English.lng", "Ukrainian.lng"}) {
    // A copy: lookups may write missing keys back.
    QTemporaryDir dir;
    const QString path = dir.filePath(QLatin1String(file));
    ASSERT_TRUE(QFile::copy(QStringLiteral(TREVOLAN_SOURCE_DIR "/LNG/") + QLatin1String(file), path));
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    platform::TIniFile ini(path);
    for (const Case& c : kCases) {
      const QString name = QString::fromUtf8(c.name);
      EXPECT_EQ(Transliterate(&ini, name, 1).toStdString(), c.iso) << file << " " << c.name;
      EXPECT_EQ(Transliterate(&ini, name, 2).toStdString(), c.gost) << file << " " << c.name;
      EXPECT_EQ(Transliterate(&ini, name, 3).toStdString(), c.other) << file << " " << c.name;
    }
  }
}

}  // namespace

namespace {

bool HasCyrillic(const QString& s) {
  for (QChar c : s)
    if (c.unicode() >= 0x0400 && c.unicode() <= 0x04FF) return true;
  return false;
}

// Shown unless it or a container above it was hidden on purpose; the pages of tab widgets count as shown.
bool Shown(const QWidget* w, const QWidget* top) {
  for (; w && w != top; w = w->parentWidget()) {
    const bool tabPage = w->parentWidget() && qobject_cast<const QStackedWidget*>(w->parentWidget());
    if (w->isHidden() && !tabPage) return false;
  }
  return true;
}

// Every text the user can see on the window under English.lng: captions, hints, items, tabs, menus.
QStringList RussianTexts(TForm1& f) {
  QStringList out;
  auto check = [&](const QObject* o, const QString& what, const QString& text) {
    if (HasCyrillic(text)) out << o->objectName() + QLatin1Char(' ') + what + QStringLiteral(": ") + text;
  };
  check(&f, QStringLiteral("title"), f.windowTitle());
  for (QWidget* w : f.findChildren<QWidget*>()) {
    if (auto* menu = qobject_cast<QMenu*>(w)) {  // pop-ups: hidden until they open
      for (QAction* a : menu->actions())
        if (!a->isSeparator()) check(menu, QStringLiteral("item"), a->text());
      continue;
    }
    if (!Shown(w, &f)) continue;
    check(w, QStringLiteral("hint"), w->toolTip());
    if (auto* b = qobject_cast<QAbstractButton*>(w)) check(w, QStringLiteral("text"), b->text());
    if (auto* l = qobject_cast<QLabel*>(w)) check(w, QStringLiteral("text"), l->text());
    if (auto* g = qobject_cast<QGroupBox*>(w)) check(w, QStringLiteral("title"), g->title());
    if (auto* p = qobject_cast<platform::TPanel*>(w)) check(w, QStringLiteral("caption"), p->Caption());
    if (auto* c = qobject_cast<QComboBox*>(w)) {
      if (c->objectName() == QLatin1String("ComboBox9")) continue;  // file names
      for (int i = 0; i < c->count(); ++i) check(w, QStringLiteral("item"), c->itemText(i));
      check(w, QStringLiteral("text"), c->currentText());
    }
    if (auto* t = qobject_cast<QTabWidget*>(w))
      for (int i = 0; i < t->count(); ++i) check(w, QStringLiteral("tab"), t->tabText(i));
    for (QAction* a : w->actions()) check(w, QStringLiteral("action"), a->text());
  }
  for (int k = 0; k < f.DataSource1->columnCount(); ++k) check(f.DBGrid1, QStringLiteral("column"), f.DataSource1->ColumnTitle(k));
  return out;
}

class ShippedWindow : public guitest::ShownWindowFixture {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ShownWindowFixture::SetUp());
    QDir(dir_.path()).mkdir(QStringLiteral("LNG"));
    for (const char* name : {"English.lng", "Ukrainian.lng"}) {
      const QString to = dir_.filePath(QStringLiteral("LNG/") + QLatin1String(name));
      ASSERT_TRUE(QFile::copy(QStringLiteral(TREVOLAN_SOURCE_DIR "/LNG/") + QLatin1String(name), to));
      QFile::setPermissions(to, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    Show();
  }
};

// Under the English file no Russian caption, hint, item, tab or menu item is left on the window; every
// text shown comes from a key. Under the Ukrainian file the same keys are all present.
TEST_F(ShippedWindow, EnglishLeavesNoRussianText) {
  TForm1& f = *form_;
  f.ComboBox9->setCurrentIndex(f.ComboBox9->findText(QStringLiteral("English.lng")));
  const QStringList left = RussianTexts(f);
  // The event abbreviations of the descendant scheme still hold their defaults: they follow the language.
  EXPECT_EQ(f.findChild<QLineEdit*>(QStringLiteral("Edit3"))->text(), QStringLiteral("b."));
  EXPECT_TRUE(left.isEmpty()) << left.join(QLatin1Char('\n')).toStdString();
  // Both files define every key once.
  for (const char* name : {"English.lng", "Ukrainian.lng"}) {
    QFile file(dir_.filePath(QStringLiteral("LNG/") + QLatin1String(name)));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QStringList keys, twice;
    QString section;
    for (const QByteArray& raw : file.readAll().split('\n')) {
      const QString line = QString::fromUtf8(raw).trimmed();
      if (line.startsWith(QLatin1Char('['))) section = line;
      const qsizetype eq = line.indexOf(QLatin1Char('='));
      if (eq <= 0 || line.startsWith(QLatin1Char(';'))) continue;
      const QString key = section + line.left(eq).toLower();
      if (keys.contains(key)) twice << key;
      keys << key;
    }
    EXPECT_TRUE(twice.isEmpty()) << name << ": " << twice.join(QLatin1Char(' ')).toStdString();
  }
}

}  // namespace

namespace {

}  // namespace
