// The rules by which the settings file and the translation files find controls, on a small window.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>

#include "tests/gui/GuiTestApp.h"
#include "app/window/FormSettings.h"
#include "app/core/trans.h"
#include "app/window/FormTranslation.h"
#include "platform/qt/Controls.h"
#include "platform/qt/IniFile.h"

namespace {

using guitest::EnsureApp;

// A window with one marked panel, one unmarked panel inside it, and controls of every saved kind.
struct SmallForm {
  QWidget form;
  platform::TPanel* marked;
  platform::TPanel* inner;
  QSpinBox* spin;
  QComboBox* combo;
  platform::TRadioGroup* group;
  QRadioButton* radio;
  QCheckBox* innerCheck;
  QLabel* label;
  QToolBar* bar;
  QToolButton* tool;
  QAction* item;
  QComboBox* staticCombo;
  QListWidget* checkList;
  SmallForm() {
    form.setObjectName("Form");
    platform::SetControlTag(&form, 1);
    marked = new platform::TPanel(&form, "Marked");
    platform::SetControlTag(marked, 1);
    inner = new platform::TPanel(marked, "Inner");
    spin = new QSpinBox(marked);
    spin->setObjectName("SpinEdit5");
    spin->setRange(10, 100);
    spin->setValue(75);
    combo = new QComboBox(marked);
    combo->setObjectName("ComboBox7");
    combo->addItems({"a", "b", "c"});
    combo->setCurrentIndex(2);
    platform::SetHelpKeyword(combo, "FanColoring");
    group = new platform::TRadioGroup(marked, "RadioGroup1");
    group->SetItems({"Один", "Два"});
    group->SetItemIndex(0);
    platform::SetHelpKeyword(group, "Mode");
    radio = new QRadioButton("Радио", marked);
    radio->setObjectName("RadioButton1");
    innerCheck = new QCheckBox("Внутри", inner);
    innerCheck->setObjectName("CheckBox1");
    platform::SetHelpKeyword(innerCheck, "Inside");
    label = new QLabel("Метка", inner);
    platform::SetHelpKeyword(label, "Label");
    bar = new QToolBar(&form);
    tool = new QToolButton(bar);
    tool->setText("Кнопка");
    tool->setToolTip("Подсказка");
    platform::SetHelpKeyword(tool, "Tool");
    bar->addWidget(tool);
    auto* menu = new QMenu(&form);
    item = menu->addAction("Пункт");
    item->setStatusTip("MenuItem");
    staticCombo = new QComboBox(inner);
    staticCombo->addItems({"Раз", "Два"});
    platform::SetHelpKeyword(staticCombo, "KindStatic");
    checkList = new QListWidget(inner);
    checkList->addItems({"Первый", "Второй"});
    platform::SetHelpKeyword(checkList, "Checks");
  }
};

TEST(FormRules, SavedControlsAreTheDirectChildrenOfMarkedContainers) {
  EnsureApp();
  QTemporaryDir dir;
  const QString path = dir.filePath("s.ini");
  {
    SmallForm f;
    f.spin->setValue(40);
    f.combo->setCurrentIndex(1);
    f.group->SetItemIndex(1);
    f.radio->setChecked(true);
    f.innerCheck->setChecked(true);
    platform::TIniFile ini(path);
    SaveControls(&f.form, ini);
  }
  const platform::TIniFile ini(path);
  EXPECT_EQ(ini.ReadSection("Options"), (QStringList{"SpinEdit5", "ComboBox7", "RadioGroup1", "RadioButton1"}));
  SmallForm g;
  int changes = 0;
  QObject::connect(g.combo, &QComboBox::currentIndexChanged, [&] { ++changes; });
  LoadControls(&g.form, ini);
  EXPECT_EQ(g.spin->value(), 40);
  EXPECT_EQ(g.combo->currentIndex(), 1);
  EXPECT_EQ(changes, 0);  // restored without running the change handler
  EXPECT_EQ(g.group->ItemIndex(), 1);
  EXPECT_TRUE(g.radio->isChecked());
  EXPECT_FALSE(g.innerCheck->isChecked());
  // out of range values clamp, malformed ones keep the present value
  platform::TIniFile bad(dir.filePath("bad.ini"));
  bad.WriteString("Options", "SpinEdit5", "5000");
  bad.WriteString("Options", "ComboBox7", "9");
  bad.WriteString("Options", "RadioGroup1", "x");
  LoadControls(&g.form, bad);
  EXPECT_EQ(g.spin->value(), 100);
  EXPECT_EQ(g.combo->currentIndex(), 2);
  EXPECT_EQ(g.group->ItemIndex(), 1);
}

TEST(FormRules, TranslationFollowsTheKindOfEachControl) {
  EnsureApp();
  QTemporaryDir dir;
  const QString path = dir.filePath("T.lng");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[Language]\r\nFanColoring_0=A\r\nMode=Mode-T\r\nMode_1=Two-T\r\nInside=Inside-T\r\nLabel=Line1;Line2\r\n"
             "Tool=Tool-T\r\nTool_Hint=Hint-T\r\nMenuItem=Item-T\r\nKindStatic_1=Two-S\r\nChecks_0=First-T\r\n");
  file.close();
  SmallForm f;
  std::unique_ptr<platform::TIniFile> lang;
  TranslateForm(&f.form, path, lang);
  ASSERT_NE(lang, nullptr);
  EXPECT_EQ(f.combo->itemText(0), "a");  // items of a combo box only with "Static" in the keyword
  EXPECT_EQ(f.staticCombo->itemText(1), "Two-S");
  EXPECT_EQ(f.group->title(), "Mode-T");
  EXPECT_EQ(f.group->Items(), (QStringList{"Один", "Two-T"}));
  EXPECT_EQ(f.innerCheck->text(), "Inside-T");
  EXPECT_EQ(f.label->text(), "Line1\r\nLine2");
  EXPECT_EQ(f.tool->text(), "Кнопка");  // its tool bar shows no captions
  EXPECT_EQ(f.tool->toolTip(), "Hint-T");
  EXPECT_EQ(f.item->text(), "Item-T");
  EXPECT_EQ(f.checkList->item(0)->text(), "First-T");
  EXPECT_EQ(f.radio->text(), "Радио");  // no keyword: left as it is
  // Missing keys were written back with the designed texts.
  EXPECT_EQ(lang->ReadString("Language", "Mode_0", ""), "Один");
  EXPECT_EQ(lang->ReadString("Language", "KindStatic_0", ""), "Раз");
  f.bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  TranslateForm(&f.form, path, lang);
  EXPECT_EQ(f.tool->text(), "Tool-T");
  // A missing file leaves the window as it is.
  TranslateForm(&f.form, dir.filePath("none.lng"), lang);
  EXPECT_EQ(lang, nullptr);
  EXPECT_EQ(f.tool->text(), "Tool-T");
}

}  // namespace
