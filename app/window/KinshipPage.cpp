#include "app/window/KinshipPage.h"
#include "app/window/PageControls.h"

#include "app/charts/ChartOutput.h"
#include "app/charts/KinshipPicture.h"
#include "app/core/Model.h"
#include "app/window/SchemeTree.h"
#include "platform/qt/Controls.h"
#include "platform/qt/DataGrid.h"
#include "platform/qt/FlowLayout.h"
#include "platform/qt/RichText.h"

#include <QDropEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMenu>
#include <QMimeData>
#include <QPixmap>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QVBoxLayout>

namespace {

QToolButton* AddHintButton(QWidget* parent, QLayout* layout, const char* name, const QString& text, const QString& hint) {
  auto* b = new QToolButton(parent);
  b->setObjectName(QLatin1String(name));
  b->setText(text);
  b->setToolTip(hint);
  if (layout) layout->addWidget(b);
  return b;
}

QLabel* AddLabel(QWidget* parent, QLayout* layout, const char* name, const QString& text, const QString& key = {}) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QLatin1String(name));
  if (!key.isEmpty()) platform::SetHelpKeyword(l, key);
  if (layout) layout->addWidget(l);
  return l;
}

QString PersonName(const Model& m, std::int64_t p) {
  return p > 0 && p < std::int64_t(m.aIndi.size()) ? m.aIndi[size_t(p)].FIO1 : QString();
}

}  // namespace

void TKinshipPage::Build() {
  QWidget* page = Tab();
  auto* outer = new QVBoxLayout(page);
  outer->setContentsMargins(2, 2, 2, 2);

  // The two persons (not saved: an index means nothing in another file), one row each.
  auto* persons = new QWidget(page);
  persons->setObjectName(QStringLiteral("Panel62"));
  auto* pg = new QGridLayout(persons);
  pg->setContentsMargins(0, 0, 0, 0);
  SpeedButton14 = AddHintButton(persons, nullptr, "SpeedButton14", QStringLiteral("Создать"), {});
  platform::SetHelpKeyword(SpeedButton14, QStringLiteral("Create"));
  SpeedButton17 = AddHintButton(persons, nullptr, "SpeedButton17", QStringLiteral("⇅"), QStringLiteral("Поменять местами"));
  Edit6 = new QLineEdit(persons);
  Edit6->setObjectName(QStringLiteral("Edit6"));
  Edit7 = new QLineEdit(persons);
  Edit7->setObjectName(QStringLiteral("Edit7"));
  SpeedButton15 = AddHintButton(persons, nullptr, "SpeedButton15", QStringLiteral("◄"), QStringLiteral("Текущая персона"));
  SpeedButton18 = AddHintButton(persons, nullptr, "SpeedButton18", QStringLiteral("✕"), QStringLiteral("Очистить"));
  SpeedButton16 = AddHintButton(persons, nullptr, "SpeedButton16", QStringLiteral("◄"), QStringLiteral("Текущая персона"));
  SpeedButton19 = AddHintButton(persons, nullptr, "SpeedButton19", QStringLiteral("✕"), QStringLiteral("Очистить"));
  pg->addWidget(SpeedButton14, 0, 0);
  pg->addWidget(AddLabel(persons, nullptr, "Label61", QStringLiteral("1:")), 0, 1);
  pg->addWidget(Edit6, 0, 2);
  pg->addWidget(SpeedButton15, 0, 3);
  pg->addWidget(SpeedButton18, 0, 4);
  pg->addWidget(SpeedButton17, 1, 0);
  pg->addWidget(AddLabel(persons, nullptr, "Label62", QStringLiteral("2:")), 1, 1);
  pg->addWidget(Edit7, 1, 2);
  pg->addWidget(SpeedButton16, 1, 3);
  pg->addWidget(SpeedButton19, 1, 4);
  pg->setColumnStretch(2, 1);
  platform::SetHelpKeyword(SpeedButton15, QStringLiteral("LinkCurrentPerson"));
  platform::SetHelpKeyword(SpeedButton16, QStringLiteral("LinkCurrentPerson"));
  platform::SetHelpKeyword(SpeedButton18, QStringLiteral("LinkClearPerson"));
  platform::SetHelpKeyword(SpeedButton19, QStringLiteral("LinkClearPerson"));
  platform::SetHelpKeyword(SpeedButton17, QStringLiteral("LinkSwapPersons"));
  Edit6->setToolTip(QStringLiteral("Первая персона; пустое поле - текущая персона списка"));
  Edit7->setToolTip(QStringLiteral("Вторая персона; пустое поле - текущая персона списка"));
  platform::SetHelpKeyword(Edit6, QStringLiteral("LinkPerson1"));
  platform::SetHelpKeyword(Edit7, QStringLiteral("LinkPerson2"));
  for (QLineEdit* e : {Edit6, Edit7}) {
    e->setReadOnly(true);
    e->setAcceptDrops(true);
    e->installEventFilter(this);
  }
  outer->addWidget(persons);

  // Options, saved with the settings: name parts; dates and relationship; the search and the zoom.
  auto* options = new platform::TPanel(page, QStringLiteral("Panel61"));
  platform::SetControlTag(options, 1);
  options->setFrameShape(QFrame::NoFrame);
  auto* rows = new QVBoxLayout(options);
  rows->setContentsMargins(0, 0, 0, 0);
  // Rows wrap when the page is narrow.
  auto* row1 = new platform::TFlowLayout;
  auto* row2 = new platform::TFlowLayout;
  auto* row3 = new platform::TFlowLayout;
  rows->addLayout(row1);
  rows->addLayout(row2);
  rows->addLayout(row3);
  CheckBox24 = AddCheck(options, row1, QStringLiteral("CheckBox24"), QStringLiteral("Фамилия"), QStringLiteral("LastName"), true);
  CheckBox23 = AddCheck(options, row1, QStringLiteral("CheckBox23"), QStringLiteral("Фамилия при рожден."), QStringLiteral("LastNameBirth"), true);
  CheckBox13 = AddCheck(options, row1, QStringLiteral("CheckBox13"), QStringLiteral("(в скобки)"), QStringLiteral("InBrackets"), true);
  CheckBox22 = AddCheck(options, row1, QStringLiteral("CheckBox22"), QStringLiteral("Имя"), QStringLiteral("FirstName"), true);
  CheckBox21 = AddCheck(options, row1, QStringLiteral("CheckBox21"), QStringLiteral("Отчество"), QStringLiteral("Patronymic"), true);
  row1->addStretch(1);
  CheckBox20 = AddCheck(options, row2, QStringLiteral("CheckBox20"), QStringLiteral("Годы жизни"), QStringLiteral("YearsLife"), true);
  CheckBox19 = AddCheck(options, row2, QStringLiteral("CheckBox19"), QStringLiteral("Даты жизни"), QStringLiteral("DatesLife"), false);
  CheckBox12 = AddCheck(options, row2, QStringLiteral("CheckBox12"), QStringLiteral("(в скобки)"), QStringLiteral("InBrackets"), false);
  CheckBox25 = AddCheck(options, row2, QStringLiteral("CheckBox25"), QStringLiteral("Наименование"), QStringLiteral("RelationName"), false);
  CheckBox8 = AddCheck(options, row2, QStringLiteral("CheckBox8"), QStringLiteral("Аббревиатура"), QStringLiteral("RelationCode"), false);
  CheckBox57 = AddCheck(options, row2, QStringLiteral("CheckBox57"), QStringLiteral("(в скобки)"), QStringLiteral("InBrackets"), false);
  row2->addStretch(1);
  CheckBox15 = AddCheck(options, row3, QStringLiteral("CheckBox15"), QStringLiteral("Только кровные"), QStringLiteral("OnlyBlood"), true);
  AddLabel(options, row3, "Label63", QStringLiteral("Максимальная длина"), QStringLiteral("MaxLen"));
  SpinEdit14 = new QSpinBox(options);
  SpinEdit14->setObjectName(QStringLiteral("SpinEdit14"));
  SpinEdit14->setRange(3, 100);
  SpinEdit14->setValue(30);
  row3->addWidget(SpinEdit14);
  AddLabel(options, row3, "Label64", QStringLiteral("Масштаб"), QStringLiteral("Scale"));
  ComboBox2 = new QComboBox(options);
  ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
  ComboBox2->setEditable(true);
  ComboBox2->setMinimumContentsLength(7);
  ComboBox2->addItems(KinshipZoomItems());
  ComboBox2->setCurrentIndex(0);
  row3->addWidget(ComboBox2);
  outer->addWidget(options);
  // Print and save what the sub-page shows; the save button's drop-down also cuts the tree's picture into
  // portrait or landscape pages. Not in the saved panel: buttons carry no setting.
  PrintButton = AddHintButton(page, nullptr, "PrintButtonKinship", QStringLiteral("Печатать"), {});
  SaveButton = AddHintButton(page, nullptr, "SaveButtonKinship", QStringLiteral("Сохранить"), {});
  platform::SetHelpKeyword(PrintButton, QStringLiteral("Print"));
  platform::SetHelpKeyword(SaveButton, QStringLiteral("Save"));
  row3->addWidget(PrintButton);
  row3->addWidget(SaveButton);
  row3->addStretch(1);
  const TSplitSaveMenu split = AddSplitSaveMenu(page, SaveButton);
  PopupMenu8 = split.menu;
  QAction* one = split.whole;
  MenuItem3 = split.portrait;
  MenuItem4 = split.landscape;
  connect(one, &QAction::triggered, this, [this] { RunCommand(host(), [this] { Save(); }); });
  connect(MenuItem3, &QAction::triggered, this, [this] { RunCommand(host(), [this] { MenuItemSplitClick(false); }); });
  connect(MenuItem4, &QAction::triggered, this, [this] { RunCommand(host(), [this] { MenuItemSplitClick(true); }); });
  connect(SaveButton, &QToolButton::clicked, this, [this] { RunCommand(host(), [this] { Save(); }); });
  connect(PrintButton, &QToolButton::clicked, this, [this] { RunCommand(host(), [this] { Print(); }); });

  // The link list.
  auto* links = new QWidget(page);
  auto* lr = new QHBoxLayout(links);
  lr->setContentsMargins(0, 0, 0, 0);
  AddLabel(links, lr, "Label65", QStringLiteral("Общий предок"), QStringLiteral("Ancestor"));
  ComboBox3 = new QComboBox(links);
  ComboBox3->setObjectName(QStringLiteral("ComboBox3"));
  ComboBox3->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  ComboBox3->setMinimumContentsLength(30);
  lr->addWidget(ComboBox3, 1);
  outer->addWidget(links);

  // The three views of the chosen link.
  PageControl2 = new QTabWidget(page);
  PageControl2->setObjectName(QStringLiteral("PageControl2"));
  TreeView3 = new QTreeWidget(PageControl2);
  TreeView3->setObjectName(QStringLiteral("TreeView3"));
  TreeView3->setHeaderHidden(true);
  PageControl2->addTab(TreeView3, QStringLiteral("Дерево"));
  platform::SetHelpKeyword(TreeView3, QStringLiteral("LinkTree"));
  RichEdit2 = new platform::TRichEdit(PageControl2, QStringLiteral("RichEdit2"));
  PageControl2->addTab(RichEdit2, QStringLiteral("Текст"));
  platform::SetHelpKeyword(RichEdit2, QStringLiteral("LinkText"));
  ScrollBox2 = new QScrollArea(PageControl2);
  ScrollBox2->setObjectName(QStringLiteral("ScrollBox2"));
  ScrollBox2->setWidgetResizable(false);
  ScrollBox2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  ScrollBox2->setBackgroundRole(QPalette::Base);
  Image5 = new QLabel(ScrollBox2);
  Image5->setObjectName(QStringLiteral("Image5"));
  Image5->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  ScrollBox2->setWidget(Image5);
  PageControl2->addTab(ScrollBox2, QStringLiteral("Картинка"));
  platform::SetHelpKeyword(ScrollBox2, QStringLiteral("LinkPicture"));
  outer->addWidget(PageControl2, 1);

  auto command = [this](void (TKinshipPage::*f)()) {
    return [this, f] { RunCommand(host(), [this, f] { (this->*f)(); }); };
  };
  connect(SpeedButton14, &QToolButton::clicked, this, command(&TKinshipPage::SpeedButton14Click));
  connect(SpeedButton15, &QToolButton::clicked, this, command(&TKinshipPage::SpeedButton15Click));
  connect(SpeedButton16, &QToolButton::clicked, this, command(&TKinshipPage::SpeedButton16Click));
  connect(SpeedButton17, &QToolButton::clicked, this, command(&TKinshipPage::SpeedButton17Click));
  connect(SpeedButton18, &QToolButton::clicked, this, command(&TKinshipPage::SpeedButton18Click));
  connect(SpeedButton19, &QToolButton::clicked, this, command(&TKinshipPage::SpeedButton19Click));
  connect(ComboBox3, &QComboBox::activated, this,
          [this](int index) { RunCommand(host(), [this, index] { ComboBox3Change(index); }); });
  connect(ComboBox2, &QComboBox::currentTextChanged, this, command(&TKinshipPage::ComboBox2Change));
  PairYearsDates(CheckBox20, CheckBox19);
}

bool TKinshipPage::AcceptsPersonDrag(const QObject* source, const QMimeData* mime) {
  return source && source->objectName() == QLatin1String("DBGrid1") &&
         qobject_cast<const platform::TDBGrid*>(source) && mime && mime->hasFormat(QLatin1String(platform::TDBGrid::kDragMime));
}

bool TKinshipPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Edit6 || watched == Edit7) {
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
      auto* d = static_cast<QDropEvent*>(event);
      if (AcceptsPersonDrag(d->source(), d->mimeData()))
        d->acceptProposedAction();
      else
        d->ignore();
      return true;
    }
    if (event->type() == QEvent::Drop) {
      auto* d = static_cast<QDropEvent*>(event);
      if (AcceptsPersonDrag(d->source(), d->mimeData())) {
        d->acceptProposedAction();
        const bool first = watched == Edit6;
        RunCommand(host(), [this, first] { first ? SpeedButton15Click() : SpeedButton16Click(); });
      }
      return true;
    }
  }
  return TRichTextPage::eventFilter(watched, event);
}

void TKinshipPage::SetFirstPerson(std::int64_t p) {
  first_ = p > 0 && p < std::int64_t(host().model().aIndi.size()) ? p : 0;
  ShowPersons();
}

void TKinshipPage::SetSecondPerson(std::int64_t p) {
  second_ = p > 0 && p < std::int64_t(host().model().aIndi.size()) ? p : 0;
  ShowPersons();
}

void TKinshipPage::ShowPersons() {
  Edit6->setText(PersonName(host().model(), first_));
  Edit7->setText(PersonName(host().model(), second_));
}

void TKinshipPage::SpeedButton15Click() { SetFirstPerson(host().CurrentPerson()); }
void TKinshipPage::SpeedButton16Click() { SetSecondPerson(host().CurrentPerson()); }
void TKinshipPage::SpeedButton18Click() { SetFirstPerson(0); }
void TKinshipPage::SpeedButton19Click() { SetSecondPerson(0); }

void TKinshipPage::SpeedButton17Click() {
  std::swap(first_, second_);
  ShowPersons();
}

void TKinshipPage::N51Click() { SetFirstPerson(host().CurrentPerson()); }

void TKinshipPage::FileLoaded() {
  // Another file: the indexes name other persons, or none. The fields show what they now stand for.
  SetFirstPerson(first_);
  SetSecondPerson(second_);
  // The links found in the tree read before go with it.
  k_.aLinkChains.clear();
  k_.Items.clear();
  k_.ItemIndex = -1;
  k_.LinkChain.clear();
  k_.Tree = TTreeNodes();
  k_.Text.clear();
  k_.Picture = QImage();
  {
    const QSignalBlocker block(ComboBox3);
    ComboBox3->clear();
  }
  ShowLink();
}

TKinshipOptions TKinshipPage::Options() const {
  TKinshipOptions o;
  o.Surname = CheckBox24->isChecked();
  o.BirthSurname = CheckBox23->isChecked();
  o.BirthBrackets = CheckBox13->isChecked();
  o.FirstName = CheckBox22->isChecked();
  o.Patronymic = CheckBox21->isChecked();
  o.YearsLife = CheckBox20->isChecked();
  o.DatesLife = CheckBox19->isChecked();
  o.DateBrackets = CheckBox12->isChecked();
  o.RelationName = CheckBox25->isChecked();
  o.RelationCode = CheckBox8->isChecked();
  o.CodeBrackets = CheckBox57->isChecked();
  o.MaxLen = SpinEdit14->value();
  o.OnlyBlood = CheckBox15->isChecked();
  o.Zoom = ComboBox2->currentText();
  return o;
}

void TKinshipPage::SpeedButton14Click() {
  host().ShowPage(Tab());
  Link2PersGedcom();
  host().OutputReady();
}

void TKinshipPage::SetControlsEnabled(bool enabled) {
  for (QWidget* w : std::initializer_list<QWidget*>{SpeedButton14, SpeedButton15, SpeedButton16, SpeedButton17,
                                                    SpeedButton18, SpeedButton19, ComboBox3})
    w->setEnabled(enabled);
}

void TKinshipPage::Link2PersGedcom() {
  TLongRun run(host());
  if (!run.Started()) return;
  // The page's buttons stay disabled while the search runs; "Прервать" ends it.
  SetControlsEnabled(false);
  struct TEnable {
    TKinshipPage* page;
    ~TEnable() { page->SetControlsEnabled(true); }
  } enable{this};
  TBusyCursor busy;
  const std::int64_t current = host().CurrentPerson();
  const std::int64_t a = first_ > 0 ? first_ : current;
  const std::int64_t b = second_ > 0 ? second_ : current;
  TKinshipHooks hooks;
  hooks.keepGoing = [this] { return !host().Progress(std::int64_t(k_.SearchSteps / 4096 % 100), 100); };
  ::Link2PersGedcom(host().model(), k_, a, b, Options(), hooks);
  {
    const QSignalBlocker block(ComboBox3);
    ComboBox3->clear();
    ComboBox3->addItems(k_.Items);
    ComboBox3->setCurrentIndex(k_.ItemIndex);
  }
  ShowLink();
  if (k_.ShowPicturePage) PageControl2->setCurrentIndex(2);
}

void TKinshipPage::ComboBox3Change(int index) {
  if (k_.aLinkChains.empty()) return;
  ::ComboBox3Change(host().model(), k_, index, Options());
  ShowLink();
}

void TKinshipPage::ShowLink() {
  ShowTreeNodes(TreeView3, k_.Tree);
  RichEdit2->clear();
  if (!k_.Text.isEmpty()) {
    QTextCursor c(RichEdit2->document());
    c.insertFragment(QTextDocumentFragment(&k_.Text));
  }
  ReScalelink2Pers();
}

void TKinshipPage::ComboBox2Change() { ReScalelink2Pers(); }

void TKinshipPage::ReScalelink2Pers() {
  const QImage shown = ::ReScalelink2Pers(k_.Picture, ComboBox2->currentText(), ScrollBox2->viewport()->size());
  if (shown.isNull()) {
    Image5->clear();
    Image5->resize(1, 1);
    return;
  }
  Image5->setPixmap(QPixmap::fromImage(shown));
  Image5->resize(shown.size());
}

void TKinshipPage::MenuItemSplitClick(bool landscape) {
  SaveTreeSplit(TreeRowsOf(TreeView3), host().Dialogs(), landscape);
}

void TKinshipPage::Print() {
  switch (SubPage()) {
    case 0:
      PrintTree(TreeRowsOf(TreeView3), host().Dialogs(), host().Printer());
      break;
    case 2:
      host().PrintPicture(k_.Picture);
      break;
    default:
      TRichTextPage::Print();
  }
}

void TKinshipPage::Save() {
  switch (SubPage()) {
    case 0:
      SaveTree(TreeRowsOf(TreeView3), host().Dialogs());
      break;
    case 2:
      host().SavePicture(k_.Picture);
      break;
    default:
      TRichTextPage::Save();
  }
}
