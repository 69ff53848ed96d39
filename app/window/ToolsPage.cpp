#include "app/window/ToolsPage.h"

#include "app/charts/Ancestors.h"
#include "app/core/Model.h"
#include "app/core/trans.h"
#include "sources/FamilyTreeFile.h"

#include <QActionGroup>
#include <QApplication>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

namespace {

const char16_t* const kTools[] = {u"Установка \"технического\" поля", u"Групповая замена Имен, Отчеств, Фамилий",
                                  u"Смена регистра фамилий на ВЕРХНИЙ или Нижний", u"Транслитерация ФИО персон и Мест"};
const char16_t* const kTechFields[] = {u"Префикс имени (NPFX)", u"Суффикс имени (NSFX)", u"Телефон (PHON)",
                                       u"E-mail (EMAIL)",       u"HomePage (WWW)",       u"Факс (FAX)"};

QStringList Texts(std::initializer_list<const char16_t*> list) {
  QStringList out;
  for (const char16_t* t : list) out << QString::fromUtf16(t);
  return out;
}

QLineEdit* AddEdit(QWidget* parent, QFormLayout* form, const QString& name, const QString& caption,
                   const QString& key) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(name);
  auto* l = new QLabel(caption, parent);
  l->setObjectName(name + QStringLiteral("Label"));
  platform::SetHelpKeyword(l, key);
  form->addRow(l, e);
  return e;
}

// Ctrl+A in the protocol selects it all.
class TSelectAll : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) {
      auto* k = static_cast<QKeyEvent*>(event);
      if (k->key() == Qt::Key_A && (k->modifiers() & Qt::ControlModifier))
        if (auto* m = qobject_cast<QPlainTextEdit*>(watched)) {
          m->selectAll();
          return true;
        }
    }
    return false;
  }
};

}  // namespace

void TToolsPage::Build() {
  QWidget* page = Tab();
  // The options on the left, the protocol beside them, as tall as the page: the protocol is in sight at
  // the window's start size (below the options it was under the fold), and long protocol lines get the
  // width the options leave.
  auto* main = new QHBoxLayout(page);
  auto* left = new QVBoxLayout;
  main->addLayout(left, 0);

  ComboBox4 = new QComboBox(page);
  ComboBox4->setObjectName(QStringLiteral("ComboBox4"));
  platform::SetHelpKeyword(ComboBox4, QStringLiteral("ListInstrStatic"));
  for (const char16_t* t : kTools) ComboBox4->addItem(QString::fromUtf16(t));
  left->addWidget(ComboBox4);

  PageControl3 = new QTabWidget(page);
  PageControl3->setObjectName(QStringLiteral("PageControl3"));
  PageControl3->setDocumentMode(true);
  left->addWidget(PageControl3);

  // 1: the technical field.
  auto* p1 = new QWidget;
  p1->setObjectName(QStringLiteral("TabSheet30"));
  auto* l1 = new QVBoxLayout(p1);
  auto* f1 = new QVBoxLayout;
  ComboBox5 = new QComboBox(p1);
  ComboBox5->setObjectName(QStringLiteral("ComboBox5"));
  platform::SetHelpKeyword(ComboBox5, QStringLiteral("ListTechFieldStatic"));
  Edit24 = new QLineEdit(QStringLiteral("*"), p1);
  Edit24->setObjectName(QStringLiteral("Edit24"));
  f1->addWidget(ComboBox5);
  f1->addWidget(Edit24);
  l1->addLayout(f1);
  RadioGroup14 = new platform::TRadioGroup(p1, QStringLiteral("RadioGroup14"));
  RadioGroup14->setTitle(QStringLiteral("Заполнение поля  у персон:"));
  RadioGroup14->SetItems(Texts({u"Только текущая персона", u"Текущая персона и ее потомки",
                                u"Текущая персона и ее прямые предки", u"Прямые предки по мужской линии",
                                u"Прямые предки по женской линии", u"Весь род текущей персоны",
                                u"Все кровные родственники персоны", u"Персоны из \"Детектора родства\"",
                                u"Очистить признак у всех персон"}));
  RadioGroup14->SetItemIndex(0);
  platform::SetHelpKeyword(RadioGroup14, QStringLiteral("TechArea"));
  l1->addWidget(RadioGroup14);
  CheckBox55 = new QCheckBox(QStringLiteral("Включая супругов"), p1);
  CheckBox55->setObjectName(QStringLiteral("CheckBox55"));
  platform::SetHelpKeyword(CheckBox55, QStringLiteral("InclSpouse"));
  CheckBox56 = new QCheckBox(QStringLiteral("Включая братьев-сестер"), p1);
  CheckBox56->setObjectName(QStringLiteral("CheckBox56"));
  platform::SetHelpKeyword(CheckBox56, QStringLiteral("InclBrother"));
  CheckBox56->setEnabled(false);
  l1->addWidget(CheckBox55);
  l1->addWidget(CheckBox56);
  l1->addStretch();
  PageControl3->addTab(p1, QStringLiteral("1"));

  // 4: name replacement.
  auto* p2 = new QWidget;
  p2->setObjectName(QStringLiteral("TabSheet31"));
  auto* l2 = new QVBoxLayout(p2);
  PageControl4 = new QTabWidget(p2);
  PageControl4->setObjectName(QStringLiteral("PageControl4"));
  const auto namePage = [&](const QString& tabName, const QString& caption, const QString& key, QLineEdit*& oldEdit,
                            const QString& oldName, QLineEdit*& newEdit, const QString& newName) {
    auto* w = new QWidget;
    w->setObjectName(tabName);
    platform::SetHelpKeyword(w, key);
    auto* form = new QFormLayout(w);
    oldEdit = AddEdit(w, form, oldName, QStringLiteral("Старые (через ~):"), QStringLiteral("OldValues"));
    newEdit = AddEdit(w, form, newName, QStringLiteral("Новое:"), QStringLiteral("NewValue"));
    PageControl4->addTab(w, caption);
  };
  namePage(QStringLiteral("TabSheet34"), QStringLiteral("Имя"), QStringLiteral("FirstName"), Edit13,
           QStringLiteral("Edit13"), Edit14, QStringLiteral("Edit14"));
  namePage(QStringLiteral("TabSheet35"), QStringLiteral("Отчество"), QStringLiteral("Patronymic"), Edit15,
           QStringLiteral("Edit15"), Edit16, QStringLiteral("Edit16"));
  namePage(QStringLiteral("TabSheet36"), QStringLiteral("Фамилия"), QStringLiteral("Surname"), Edit9,
           QStringLiteral("Edit9"), Edit10, QStringLiteral("Edit10"));
  l2->addWidget(PageControl4);
  Button13 = new QPushButton(QStringLiteral("Опции"), p2);
  Button13->setObjectName(QStringLiteral("Button13"));
  platform::SetHelpKeyword(Button13, QStringLiteral("Option"));
  PopupMenu9 = new QMenu(Button13);
  PopupMenu9->setObjectName(QStringLiteral("PopupMenu9"));
  const auto action = [&](QMenu* menu, const QString& name, const QString& text, const QString& key) {
    QAction* a = menu->addAction(text);
    a->setObjectName(name);
    a->setStatusTip(key);
    a->setCheckable(true);
    return a;
  };
  N4 = action(PopupMenu9, QStringLiteral("N4"), QStringLiteral("Только слово целиком"), QStringLiteral("OnlyWord"));
  N5 = action(PopupMenu9, QStringLiteral("N5"), QStringLiteral("Учитывая регистр"), QStringLiteral("MatchCase"));
  N4->setChecked(true);
  N5->setChecked(true);
  N6 = PopupMenu9->addMenu(QStringLiteral("Какие фамилии меняем"));
  N6->setObjectName(QStringLiteral("N6"));
  N6->menuAction()->setStatusTip(QStringLiteral("LastNameChange"));
  auto* which = new QActionGroup(N6);
  N7 = action(N6, QStringLiteral("N7"), QStringLiteral("Только основную фамилию"), QStringLiteral("OnlyMainSurname"));
  N8 = action(N6, QStringLiteral("N8"), QStringLiteral("Только фамилию при рождении"), QStringLiteral("OnlyBirthSurname"));
  N9 = action(N6, QStringLiteral("N9"), QStringLiteral("Меняем обе фамилии"), QStringLiteral("BothSurnames"));
  for (QAction* a : {N7, N8, N9}) which->addAction(a);
  N9->setChecked(true);
  l2->addWidget(Button13);
  l2->addStretch();
  PageControl3->addTab(p2, QStringLiteral("4"));

  // 5: surname case.
  auto* p3 = new QWidget;
  p3->setObjectName(QStringLiteral("TabSheet32"));
  auto* l3 = new QVBoxLayout(p3);
  RadioGroup8 = new platform::TRadioGroup(p3, QStringLiteral("RadioGroup8"));
  RadioGroup8->setTitle(QStringLiteral("У кого будем менять фамилии"));
  RadioGroup8->SetItems(Texts({u"Только у текущей персоны", u"У текущей персоны и ее прямых предков",
                               u"Смена регистра фамилий у всех персон"}));
  RadioGroup8->SetItemIndex(2);
  platform::SetHelpKeyword(RadioGroup8, QStringLiteral("LastNameUpper"));
  l3->addWidget(RadioGroup8);
  ComboBox11 = new QComboBox(p3);
  ComboBox11->setObjectName(QStringLiteral("ComboBox11"));
  platform::SetHelpKeyword(ComboBox11, QStringLiteral("ChangeSurnameRegStatic"));
  ComboBox11->addItems(Texts({u"Меняем фамилии в ВЕРХНИЙ регистр", u"Меняем фамилии в Нижний регистр"}));
  l3->addWidget(ComboBox11);
  l3->addStretch();
  PageControl3->addTab(p3, QStringLiteral("5"));

  // 6: transliteration.
  auto* p4 = new QWidget;
  p4->setObjectName(QStringLiteral("TabSheet33"));
  auto* l4 = new QVBoxLayout(p4);
  ComboBox10 = new QComboBox(p4);
  ComboBox10->setObjectName(QStringLiteral("ComboBox10"));
  platform::SetHelpKeyword(ComboBox10, QStringLiteral("TransVarStatic"));
  ComboBox10->addItems(Texts({u"ISO9", u"ГОСТ", u"Другой"}));
  l4->addWidget(ComboBox10);
  auto* range = new QGroupBox(p4);
  range->setObjectName(QStringLiteral("CheckListBox2"));
  CheckListBox2 = range;
  auto* rl = new QVBoxLayout(range);
  TransNames = new QCheckBox(QStringLiteral("Полное имя персоны и его составляющие"), range);
  TransNames->setObjectName(QStringLiteral("CheckListBox2_0"));
  platform::SetHelpKeyword(TransNames, QStringLiteral("TransRange_0"));
  TransPlaces = new QCheckBox(QStringLiteral("Населенные пункты"), range);
  TransPlaces->setObjectName(QStringLiteral("CheckListBox2_1"));
  platform::SetHelpKeyword(TransPlaces, QStringLiteral("TransRange_1"));
  rl->addWidget(TransNames);
  rl->addWidget(TransPlaces);
  l4->addWidget(range);
  l4->addStretch();
  PageControl3->addTab(p4, QStringLiteral("6"));

  Panel30 = new platform::TPanel(page, QStringLiteral("Panel30"));
  auto* pl = new QVBoxLayout(Panel30);
  RadioGroup13 = new platform::TRadioGroup(Panel30, QStringLiteral("RadioGroup13"));
  RadioGroup13->setTitle(QStringLiteral("Дополнительный фильтр по полу:"));
  RadioGroup13->SetItems(Texts({u"Мужчины", u"Женщины", u"Все (без фильтра)"}));
  RadioGroup13->SetItemIndex(2);
  platform::SetHelpKeyword(RadioGroup13, QStringLiteral("InstrLimitsex"));
  pl->addWidget(RadioGroup13);
  left->addWidget(Panel30);

  auto* bar = new QHBoxLayout;
  Button1 = new QPushButton(QStringLiteral("Эмуляция"), page);
  Button1->setObjectName(QStringLiteral("Button1"));
  platform::SetHelpKeyword(Button1, QStringLiteral("Emulation"));
  Button5 = new QPushButton(QStringLiteral("Поехали!"), page);
  Button5->setObjectName(QStringLiteral("Button5"));
  platform::SetHelpKeyword(Button5, QStringLiteral("Go"));
  QFont bold = Button5->font();
  bold.setBold(true);
  Button5->setFont(bold);
  bar->addWidget(Button1);
  bar->addWidget(Button5);
  bar->addStretch();
  left->addLayout(bar);
  Gauge6 = new QProgressBar(page);
  Gauge6->setObjectName(QStringLiteral("Gauge6"));
  Gauge6->hide();
  left->addWidget(Gauge6);
  left->addStretch(1);

  auto* right = new QVBoxLayout;
  auto* protocol = new QLabel(QStringLiteral("Протокол изменений:"), page);
  protocol->setObjectName(QStringLiteral("Label30"));
  platform::SetHelpKeyword(protocol, QStringLiteral("Protocol"));
  right->addWidget(protocol);
  Memo3 = new QPlainTextEdit(page);
  Memo3->setObjectName(QStringLiteral("Memo3"));
  Memo3->setReadOnly(true);
  Memo3->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo3->installEventFilter(new TSelectAll(Memo3));
  right->addWidget(Memo3, 1);
  main->addLayout(right, 1);

  for (QComboBox* c : {ComboBox4, ComboBox5, ComboBox11, ComboBox10}) {
    c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    c->setMinimumContentsLength(16);
  }
  Memo3->setMinimumWidth(120);
  Memo3->setMinimumHeight(160);
  FillTechFields();
  connect(ComboBox4, &QComboBox::currentIndexChanged, this, [this] { ComboBox4Change(); });
  connect(PageControl3, &QTabWidget::currentChanged, this, [this] { PageControl3Change(); });
  connect(RadioGroup14, &platform::TRadioGroup::ItemIndexChanged, this, [this] { RadioGroup14Click(); });
  connect(PopupMenu9, &QMenu::aboutToShow, this, [this] { PopupMenu9Popup(); });
  connect(Button13, &QPushButton::clicked, this,
          [this] { PopupMenu9->popup(Button13->mapToGlobal(QPoint(0, Button13->height()))); });
  connect(Button1, &QPushButton::clicked, this, [this] { RunCommand(host(), [this] { Button1Click(Button1); }); });
  connect(Button5, &QPushButton::clicked, this, [this] { RunCommand(host(), [this] { Button1Click(Button5); }); });
}

void TToolsPage::FormShow() {
  PageControl3->setCurrentIndex(0);
  ComboBox4->setCurrentIndex(0);
}

void TToolsPage::FillTechFields() {
  // The last two fields exist only in GEDCOM files.
  const int n = FamilyTreeType(host().FileName()) == TFamilyTreeType::Gedcom ||
                        FamilyTreeType(host().FileName()) == TFamilyTreeType::Unknown
                    ? 6
                    : 4;
  const bool was = ComboBox5->blockSignals(true);
  ComboBox5->clear();
  for (int i = 0; i < n; ++i)
    ComboBox5->addItem(host().Lang(QStringLiteral("ListTechFieldStatic_%1").arg(i), QString::fromUtf16(kTechFields[i])));
  ComboBox5->setCurrentIndex(0);
  ComboBox5->blockSignals(was);
}

void TToolsPage::FileLoaded() {
  if (ComboBox5->count() != (FamilyTreeType(host().FileName()) == TFamilyTreeType::Gedcom ? 6 : 4)) FillTechFields();
}

void TToolsPage::LanguageChanged() {
  // The transliteration needs the table of the language file.
  const int translit = 3;
  const bool has = HasTransliteration(host().LangFile());
  PageControl3->setTabEnabled(translit, has);
}

void TToolsPage::ComboBox4Change() {
  PageControl3->setCurrentIndex(ComboBox4->currentIndex());
  Panel30->setVisible(PageControl3->currentIndex() != 3);
}

void TToolsPage::PageControl3Change() {
  const bool was = ComboBox4->blockSignals(true);
  ComboBox4->setCurrentIndex(PageControl3->currentIndex());
  ComboBox4->blockSignals(was);
  Panel30->setVisible(PageControl3->currentIndex() != 3);
}

void TToolsPage::RadioGroup14Click() {
  const int i = RadioGroup14->ItemIndex();
  CheckBox56->setEnabled(i == 2 || i == 3 || i == 4 || i == 7);
}

void TToolsPage::PopupMenu9Popup() { N6->menuAction()->setVisible(PageControl4->currentIndex() == 2); }

void TToolsPage::SpeedButton41Click() {
  host().ShowPage(Tab());
  ComboBox4->setCurrentIndex(0);
  PageControl3->setCurrentIndex(0);
  RadioGroup14->SetItemIndex(7);
  RadioGroup14Click();
}

TToolOptions TToolsPage::Options() const {
  TToolOptions o;
  o.ComboBox4 = PageControl3->currentIndex();
  o.ComboBox5 = ComboBox5->currentIndex();
  o.Edit24 = Edit24->text();
  o.RadioGroup14 = RadioGroup14->ItemIndex();
  o.CheckBox55 = CheckBox55->isChecked();
  o.CheckBox56 = CheckBox56->isChecked();
  o.PageControl4 = PageControl4->currentIndex();
  o.Edit13 = Edit13->text();
  o.Edit14 = Edit14->text();
  o.Edit15 = Edit15->text();
  o.Edit16 = Edit16->text();
  o.Edit9 = Edit9->text();
  o.Edit10 = Edit10->text();
  o.N4 = N4->isChecked();
  o.N5 = N5->isChecked();
  o.LastNameChange = N7->isChecked() ? 0 : N8->isChecked() ? 1 : 2;
  o.RadioGroup8 = RadioGroup8->ItemIndex();
  o.ComboBox11 = ComboBox11->currentIndex();
  o.ComboBox10 = ComboBox10->currentIndex();
  o.TransNames = TransNames->isChecked();
  o.TransPlaces = TransPlaces->isChecked();
  o.RadioGroup13 = RadioGroup13->ItemIndex();
  return o;
}

void TToolsPage::Button1Click(QObject* sender) {
  const QString file = host().FileName();
  const TFamilyTreeType type = FamilyTreeType(file);
  if (type != TFamilyTreeType::Gedcom && type != TFamilyTreeType::At4 && type != TFamilyTreeType::At5) return;
  const bool write = sender == Button5;
  if (write && type != TFamilyTreeType::Gedcom) {
    // The database gets no backup: the user says yes first. The texts speak of "at4".
    QString question = host().Lang(QStringLiteral("WarningStatic"), QString()) + QStringLiteral("\r\n\r\n") +
                       host().Lang(QStringLiteral("WarningWrite"), QString());
    if (type == TFamilyTreeType::At5) question.replace(QStringLiteral("at4"), QStringLiteral("at5"));
    if (!host().Confirm(question)) return;
  }
  const std::int64_t current = host().CurrentPerson();
  std::vector<std::int64_t> ancestors;
  if (Options().ComboBox4 == gtSurnameCase && RadioGroup8->ItemIndex() == 1 && current > 0) {
    // The ancestor list of the current person, as the scheme builds it.
    TAncestorList& list = host().Ancestors();
    TTreeNodes tree;
    SxPrGedcom(host().model(), list, tree, QString::number(current), false, TAncestorTextOptions(),
               host().model().LoadCount);
    for (const TPers& e : list.aPers) {
      bool ok = false;
      const std::int64_t i = e.ID.toLongLong(&ok);
      if (ok && i > 0) ancestors.push_back(i);
    }
  }
  TToolContext ctx(host().model(), file);
  ctx.write = write;
  ctx.current = current;
  ctx.ancestors = std::move(ancestors);
  ctx.LinkChain = host().LinkChain();
  ctx.lang = host().LangFile();
  ctx.translit = host().LangFile();
  ctx.ask = [this](const QString& q) { return host().Confirm(q); };
  ctx.progress = [this](std::int64_t pos, std::int64_t max) {
    Gauge6->setMaximum(int(std::min<std::int64_t>(max, INT32_MAX)));
    Gauge6->setValue(int(std::min<std::int64_t>(pos, INT32_MAX)));
  };
  TToolResult r;
  {
    TLongRun run(host());
    if (!run.Started()) return;
    TBusyCursor busy;
    Memo3->clear();
    Gauge6->show();
    struct Hide {
      QProgressBar* g;
      ~Hide() { g->hide(); }
    } hide{Gauge6};
    r = RunGroupEdit(ctx, Options());
    Memo3->setPlainText(r.protocol.join(u'\n'));
  }
  // The file is read again once the run has let the window go.
  if (r.reload) host().ReloadFile(current);
}
