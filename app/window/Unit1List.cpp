// The person list panel of the main window: the grid, search and filter, the root person, the relation
// levels and the name template editor.
#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

#include "app/core/MainPerson.h"
#include "app/core/Model.h"
#include "app/core/PersonList.h"
#include "app/core/Relatives.h"
#include "app/window/Unit1.h"
#include "app/window/PageControls.h"
#include "app/core/UnitFunc.h"
#include "app/core/trans.h"

namespace {

const QChar kDown(0x02C5);  // ascending mark
const QChar kUp(0x02C4);    // descending mark
const char* const kSortFields[3] = {"fio", "sd1", "sd2"};

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, const QString& key) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(name);
  platform::SetHelpKeyword(l, key);
  return l;
}

QToolButton* MakeSpeedButton(QWidget* parent, const QString& name, const QString& text, const QString& key,
                             const QString& hint) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setText(text);
  b->setToolTip(hint);
  platform::SetHelpKeyword(b, key);
  return b;
}

QLineEdit* MakeEdit(QWidget* parent, const QString& name) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(name);
  return e;
}

}  // namespace

void TForm1::BuildPersonPanel(QWidget* p1, QWidget* p2, QWidget* p3) {
  // Page 1: the list
  ClientDataSet1 = new platform::TClientDataSet(this);
  ClientDataSet1->setObjectName(QStringLiteral("ClientDataSet1"));
  ClientDataSet1->SetFieldDefs(PersonFieldDefs());
  ClientDataSet1->SetIndexFieldNames(QStringLiteral("fio"));
  DataSource1 = new platform::TDataSetModel(
      ClientDataSet1,
      {{QStringLiteral("fio"), QString(kDown) + QStringLiteral(" Полное имя"), 260, true},
       {QStringLiteral("d1"), QStringLiteral("Дата рождения"), 100, false},
       {QStringLiteral("d2"), QStringLiteral("Дата смерти"), 100, false}},
      this);
  DataSource1->setObjectName(QStringLiteral("DataSource1"));
  auto* l1 = new QVBoxLayout(p1);
  l1->setContentsMargins(2, 2, 2, 2);
  DBGrid1 = new platform::TDBGrid(p1, QStringLiteral("DBGrid1"), DataSource1);
  platform::SetHelpKeyword(DBGrid1, QStringLiteral("GridPersons"));
  DBGrid1->setContextMenuPolicy(Qt::CustomContextMenu);
  l1->addWidget(DBGrid1, 1);
  DataSource1->SetCellStyle([this](int row, int, int role) -> QVariant {
    const Model& m = model();
    const qlonglong idx = ClientDataSet1->Value(row, pfIndex).toLongLong();
    if (m.aIndi.size() < 2 || idx < 0 || idx >= static_cast<qlonglong>(m.aIndi.size())) return QVariant();
    const QString fav = ClientDataSet1->Value(row, pfIsFav).toString();
    const QString& sex = m.aIndi[static_cast<std::size_t>(idx)].SEX;
    if (role == Qt::BackgroundRole) {
      if (fav == QLatin1String("0")) return QColor(156, 254, 162);
      if (fav == QLatin1String("1")) return QColor(243, 247, 255);
      if (fav == QLatin1String("2")) return QColor(255, 255, 231);
    } else if (role == Qt::ForegroundRole) {
      if (sex == QLatin1String("F")) return QColor(128, 0, 0);
      if (sex == QLatin1String("M")) return QColor(0, 0, 128);
    } else if (role == Qt::FontRole && !fav.isEmpty()) {
      QFont f = DBGrid1->font();
      f.setBold(true);
      return f;
    }
    return QVariant();
  });

  auto* rootPanel = new platform::TPanel(p1, QStringLiteral("Panel57"));
  platform::SetControlTag(rootPanel, 1);
  rootPanel->setFrameShape(QFrame::NoFrame);
  auto* lr = new QHBoxLayout(rootPanel);
  lr->setContentsMargins(0, 0, 0, 0);
  lr->addWidget(MakeLabel(rootPanel, QStringLiteral("Label1"), QStringLiteral("Корень"), QStringLiteral("Root")));
  Edit18 = MakeEdit(rootPanel, QStringLiteral("Edit18"));
  Edit18->setReadOnly(true);
  // A read-only field gets no clear button of its own: this one clears the root and with it every mark.
  ClearRoot = Edit18->addAction(style()->standardIcon(QStyle::SP_LineEditClearButton), QLineEdit::TrailingPosition);
  ClearRoot->setObjectName(QStringLiteral("Edit18Clear"));
  ClearRoot->setText(QStringLiteral("Очистить корень"));
  ClearRoot->setStatusTip(QStringLiteral("ClearRoot"));
  ClearRoot->setVisible(false);
  Edit18->setAcceptDrops(true);
  Edit18->installEventFilter(this);
  lr->addWidget(Edit18, 1);
  SpeedButton2 = MakeSpeedButton(rootPanel, QStringLiteral("SpeedButton2"), QStringLiteral("✓"),
                                 QStringLiteral("SetRoot"), QStringLiteral("Сделать текущую персону корнем"));
  SpeedButton3 = MakeSpeedButton(rootPanel, QStringLiteral("SpeedButton3"), QStringLiteral("▼"),
                                 QStringLiteral("AutoRoot"), QStringLiteral("Автоопределение корня"));
  lr->addWidget(SpeedButton2);
  lr->addWidget(SpeedButton3);
  l1->addWidget(rootPanel);

  auto* findPanel = new platform::TPanel(p1, QStringLiteral("Panel59"));
  findPanel->setFrameShape(QFrame::NoFrame);
  auto* lf = new QHBoxLayout(findPanel);
  lf->setContentsMargins(0, 0, 0, 0);
  lf->addWidget(MakeLabel(findPanel, QStringLiteral("Label2"), QStringLiteral("Поиск"), QStringLiteral("Find")));
  Edit1 = MakeEdit(findPanel, QStringLiteral("Edit1"));
  lf->addWidget(Edit1, 1);
  SpeedButton1 = MakeSpeedButton(findPanel, QStringLiteral("SpeedButton1"), QStringLiteral("Фильтр"),
                                 QStringLiteral("NameFilter"), QStringLiteral("Показывать только найденных"));
  SpeedButton1->setCheckable(true);
  lf->addWidget(SpeedButton1);
  cbFavorit = MakeCheck(findPanel, QStringLiteral("cbFavorit"), QStringLiteral("Фавориты"), QStringLiteral("Favourites"));
  cbLive = MakeCheck(findPanel, QStringLiteral("cbLive"), QStringLiteral("Живые"), QStringLiteral("Live"));
  lf->addWidget(cbFavorit);
  lf->addWidget(cbLive);
  l1->addWidget(findPanel);

  recordCounter_ = new QLabel(PageControl5);
  recordCounter_->setObjectName(QStringLiteral("LabelRecords"));
  recordCounter_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  recordCounter_->setMinimumWidth(120);
  PageControl5->setCornerWidget(recordCounter_, Qt::TopRightCorner);

  N1 = PopupMenu7->addAction(QStringLiteral("Автоопределение по предкам"));
  N1->setObjectName(QStringLiteral("N1"));
  N1->setStatusTip(QStringLiteral("AutoRootParent"));
  N2 = PopupMenu7->addAction(QStringLiteral("Автоопределение по потомкам"));
  N2->setObjectName(QStringLiteral("N2"));
  N2->setStatusTip(QStringLiteral("AutoRootChild"));
  N3 = PopupMenu7->addAction(QStringLiteral("По сумме предков и потомков"));
  N3->setObjectName(QStringLiteral("N3"));
  N3->setStatusTip(QStringLiteral("AutoRootSum"));

  // Page 2: relation levels
  auto* l2 = new QGridLayout(p2);
  l2->addWidget(MakeLabel(p2, QStringLiteral("Label3"), QStringLiteral("Кого считать фаворитами"),
                          QStringLiteral("WhoIsFavor")), 0, 0, 1, 3);
  CheckBox71 = MakeCheck(p2, QStringLiteral("CheckBox71"), QStringLiteral("Предки, уровень родства"),
                         QStringLiteral("ParentsLevel"));
  Edit19 = MakeEdit(p2, QStringLiteral("Edit19"));
  Edit19->setMaximumWidth(40);
  UpDown2 = new platform::TUpDown(p2, QStringLiteral("UpDown2"), Edit19, 1, 2, 1);
  CheckBox72 = MakeCheck(p2, QStringLiteral("CheckBox72"), QStringLiteral("Потомки, уровень родства"),
                         QStringLiteral("ChildsLevel"));
  Edit20 = MakeEdit(p2, QStringLiteral("Edit20"));
  Edit20->setMaximumWidth(40);
  UpDown3 = new platform::TUpDown(p2, QStringLiteral("UpDown3"), Edit20, 1, 10, 1);
  l2->addWidget(CheckBox71, 1, 0);
  l2->addWidget(Edit19, 1, 1);
  l2->addWidget(UpDown2, 1, 2);
  l2->addWidget(CheckBox72, 2, 0);
  l2->addWidget(Edit20, 2, 1);
  l2->addWidget(UpDown3, 2, 2);
  l2->setRowStretch(3, 1);
  l2->setColumnStretch(3, 1);

  // Page 3: name template
  auto* l3 = new QGridLayout(p3);
  l3->addWidget(MakeLabel(p3, QStringLiteral("Label4"), QStringLiteral("Формат Полного имени"),
                          QStringLiteral("FullNameFormat")), 0, 0, 1, 2);
  Edit17 = MakeEdit(p3, QStringLiteral("Edit17"));
  Edit17->setReadOnly(true);
  Edit21 = MakeEdit(p3, QStringLiteral("Edit21"));
  Edit21->setText(QStringLiteral("14)23"));
  Edit21->hide();
  SpeedButton38 = MakeSpeedButton(p3, QStringLiteral("SpeedButton38"), QStringLiteral("..."),
                                  QStringLiteral("EditFormat"), QStringLiteral("Изменить формат"));
  l3->addWidget(Edit17, 1, 0);
  l3->addWidget(SpeedButton38, 1, 1);
  Panel55 = new platform::TPanel(p3, QStringLiteral("Panel55"));
  Panel55->setFocusPolicy(Qt::StrongFocus);
  auto* l55 = new QVBoxLayout(Panel55);
  Panel56 = new platform::TPanel(Panel55, QStringLiteral("Panel56"));
  Panel56->setFrameShape(QFrame::NoFrame);
  auto* l56 = new QGridLayout(Panel56);
  l56->setContentsMargins(0, 0, 0, 0);
  auto button = [this](const QString& name, const QString& text, const QString& key) {
    auto* b = new QPushButton(text, Panel56);
    b->setObjectName(name);
    platform::SetHelpKeyword(b, key);
    platform::SetControlTag(b, 0);
    connect(b, &QPushButton::clicked, this, [this, b] { RunCommand(*this, [&] { Button8Click(b); }); });
    return b;
  };
  Button8 = button(QStringLiteral("Button8"), QStringLiteral("Фамилия"), QStringLiteral("LastName"));
  Button9 = button(QStringLiteral("Button9"), QStringLiteral("Фамилия при рождении"), QStringLiteral("LastNameBirth"));
  Button10 = button(QStringLiteral("Button10"), QStringLiteral("Имя"), QStringLiteral("FirstName"));
  Button11 = button(QStringLiteral("Button11"), QStringLiteral("Отчество"), QStringLiteral("Patronymic"));
  int row = 0;
  for (QPushButton* b : {Button8, Button9, Button10, Button11}) {
    l56->addWidget(b, row, 0);
    if (b == Button8 || b == Button9) {  // split buttons: the arrow adds the part in brackets
      auto* drop = new QToolButton(Panel56);
      drop->setObjectName(b->objectName() + QStringLiteral("DropDown"));
      drop->setArrowType(Qt::DownArrow);
      drop->setToolTip(QStringLiteral("( )"));
      connect(drop, &QToolButton::clicked, this, [this, b] { RunCommand(*this, [&] { Button8DropDownClick(b); }); });
      l56->addWidget(drop, row, 1);
    }
    ++row;
  }
  l55->addWidget(Panel56);
  Edit22 = MakeEdit(Panel55, QStringLiteral("Edit22"));
  Edit22->setReadOnly(true);
  Edit23 = MakeEdit(Panel55, QStringLiteral("Edit23"));
  Edit23->hide();
  l55->addWidget(Edit22);
  auto* lb = new QHBoxLayout;
  SpeedButton39 = MakeSpeedButton(Panel55, QStringLiteral("SpeedButton39"), QStringLiteral("Применить"),
                                  QStringLiteral("Apply"), QString());
  SpeedButton40 = MakeSpeedButton(Panel55, QStringLiteral("SpeedButton40"), QStringLiteral("Отмена"),
                                  QStringLiteral("Cancel"), QString());
  lb->addWidget(SpeedButton39);
  lb->addWidget(SpeedButton40);
  l55->addLayout(lb);
  l3->addWidget(Panel55, 2, 0, 1, 2);
  Panel55->hide();
  l3->setRowStretch(3, 1);

  // Wiring
  ClientDataSet1->AfterScroll = [this] { ClientDataSet1AfterScroll(); };
  // The counter also follows the record a filter or a walk with the controls disabled ends on.
  connect(ClientDataSet1, &platform::TClientDataSet::CurrentChanged, this, [this] { ShowRecordCounter(); });
  // Commands that change the model or the list are refused while a load or a long run is under way.
  auto listCommand = [this](void (TForm1::*fn)()) {
    return [this, fn] {
      if (!busy_) RunCommand(*this, [&] { (this->*fn)(); });
    };
  };
  connect(DBGrid1, &platform::TDBGrid::TitleClick, this, [this](int column) {
    if (!busy_) RunCommand(*this, [&] { DBGrid1TitleClick(column); });
  });
  connect(Edit1, &QLineEdit::textChanged, this, listCommand(&TForm1::Edit1Change));
  connect(Edit18, &QLineEdit::textChanged, this, [this] {
    ClearRoot->setVisible(!Edit18->text().isEmpty());
    RunCommand(*this, [this] { Edit18Change(); });
  });
  connect(ClearRoot, &QAction::triggered, this, listCommand(&TForm1::ClearRootClick));
  connect(SpeedButton1, &QToolButton::clicked, this, listCommand(&TForm1::SpeedButton1Click));
  connect(cbFavorit, &QCheckBox::clicked, this, listCommand(&TForm1::SpeedButton1Click));
  connect(cbLive, &QCheckBox::clicked, this, listCommand(&TForm1::SpeedButton1Click));
  connect(SpeedButton2, &QToolButton::clicked, this, listCommand(&TForm1::SpeedButton2Click));
  connect(SpeedButton3, &QToolButton::clicked, this,
          [this] { PopupMenu7->popup(SpeedButton3->mapToGlobal(QPoint(0, 0))); });
  connect(PopupMenu7, &QMenu::triggered, this, [this](QAction* a) {
    const int mode = static_cast<int>(PopupMenu7->actions().indexOf(a));
    if (mode >= 0 && !busy_) RunCommand(*this, [&] { N1Click(mode); });
  });
  connect(SpeedButton38, &QToolButton::clicked, this, [this] { RunCommand(*this, [this] { SpeedButton38Click(); }); });
  connect(SpeedButton39, &QToolButton::clicked, this, listCommand(&TForm1::SpeedButton39Click));
  connect(SpeedButton40, &QToolButton::clicked, this, [this] { RunCommand(*this, [this] { SpeedButton40Click(); }); });
  connect(PageControl5, &QTabWidget::currentChanged, this, [this] { PageControl5Change(); });
  focusConnection_ = connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    if (Panel55->isVisible() && now && now->window() == this && now != Panel55 && !Panel55->isAncestorOf(now))
      Panel55Exit();
  });
}

// --- Person list ---

QString TForm1::ButtonCode(const QPushButton* button) const {
  if (button == Button8) return QStringLiteral("1");
  if (button == Button10) return QStringLiteral("2");
  if (button == Button11) return QStringLiteral("3");
  if (button == Button9) return QStringLiteral("4");
  return QString();
}

bool TForm1::Edit6DragOver(QObject* source) const { return source == DBGrid1; }

std::int64_t TForm1::CurrentPerson() const {
  if (!ClientDataSet1->Active()) return 0;
  return ClientDataSet1->FieldValue(QStringLiteral("index")).toLongLong();
}

bool TForm1::LocatePerson(std::int64_t index) {
  return ClientDataSet1->Locate(QStringLiteral("index"), static_cast<qlonglong>(index));
}

void TForm1::Indi_DataSet(const QString& fileName) {
  Model& m = model();
  if (ClientDataSet1->Created()) {
    if (!ClientDataSet1->Active()) ClientDataSet1->Open();
    ClientDataSet1->EmptyDataSet();
  } else {
    ClientDataSet1->CreateDataSet();
  }
  const auto n = static_cast<std::int64_t>(m.aIndi.size());
  SetGaugeMaximum(n - 1);
  PreparePersonsAfterLoad(m);
  FillPersonRows(m, *ClientDataSet1, false, [this](std::int64_t i) { Gauge5->setValue(static_cast<int>(i)); });
  ClientDataSet1->EnableControls();
  ClientDataSet1->First();
  setWindowTitle(Lang(QStringLiteral("FormCaption"), kFormCaption) + QStringLiteral(" - ") + fileName);
  Gauge5->setValue(0);
  if (!Edit18->text().isEmpty()) {
    // The stored root index is used while it still names the same person; else the name decides.
    const std::int64_t stored = rootIndex_;
    bool found = false;
    if (stored > 0 && stored < n && m.aIndi[static_cast<std::size_t>(stored)].FIO1 == Edit18->text())
      found = LocatePerson(stored);
    if (!found) found = ClientDataSet1->Locate(QStringLiteral("fio"), Edit18->text());
    if (found)
      SpeedButton2Click();
    else
      Edit18->clear();
  }
  if (!Edit1->text().isEmpty()) {
    Edit1Change();
    if (searchFailed_) {
      const QSignalBlocker block(Edit1);
      Edit1->clear();
      searchFailed_ = false;
      Edit1->setPalette(QPalette());
    }
  }
  for (const auto& page : pages_) page->FileLoaded();
}

void TForm1::RefreshGedcom(int flag) {
  Model& m = model();
  const std::int64_t current = CurrentPerson();
  ClientDataSet1->DisableControls();
  ClientDataSet1->EmptyDataSet();
  const auto n = static_cast<std::int64_t>(m.aIndi.size());
  SetGaugeMaximum(n - 1);
  if (flag > 0) {
    const QString tmpl = Edit21->text();
    for (std::size_t i = 1; i < m.aIndi.size(); ++i) {
      TINDI& p = m.aIndi[i];
      p.FIO1 = FormatFullName(p.SURN1, p.FIRS1, p.PATR1, p.SURN0, tmpl);
    }
  }
  FillPersonRows(m, *ClientDataSet1, true, [this](std::int64_t i) { Gauge5->setValue(static_cast<int>(i)); });
  ClientDataSet1->EnableControls();
  LocatePerson(current);
  Gauge5->setValue(0);
}

void TForm1::ApplyFilter(bool relocate) {
  if (!ClientDataSet1->Active()) return;
  const std::int64_t current = CurrentPerson();
  PersonFilterOptions o;
  o.nameFilter = SpeedButton1->isChecked();
  o.text = Edit1->text();
  o.favourites = cbFavorit->isChecked();
  o.living = cbLive->isChecked();
  ClientDataSet1->SetFiltered(false);
  ClientDataSet1->SetFilter(MakePersonFilter(o));
  ClientDataSet1->SetFiltered(FilterActive(o));
  if (relocate && !SpeedButton1->isChecked()) {
    ClientDataSet1->DisableControls();
    LocatePerson(current);
    ClientDataSet1->EnableControls();
  }
}

void TForm1::SpeedButton1Click() { ApplyFilter(true); }

void TForm1::Edit1Change() {
  if (!ClientDataSet1->Active()) return;
  if (SpeedButton1->isChecked()) {
    SpeedButton1Click();
    return;
  }
  Edit1->setPalette(QPalette());
  searchFailed_ = false;
  const Model& m = model();
  const platform::TClientDataSet* ds = ClientDataSet1;
  // Rows are appended in person order, so person i is row i - 1.
  const auto visible = [ds](std::int64_t i) { return ds->PosOfRow(static_cast<int>(i - 1)) >= 0; };
  const std::int64_t found = FindPersonByText(m, Edit1->text(), visible);
  if (found > 0) {
    LocatePerson(found);
  } else {
    QPalette p = Edit1->palette();
    p.setColor(QPalette::Base, QColor(255, 0, 0));
    Edit1->setPalette(p);
    searchFailed_ = true;
  }
}

void TForm1::Edit18Change() {
  if (!ClientDataSet1->Active() || !Edit18->text().isEmpty()) return;
  Model& m = model();
  rootIndex_ = -1;
  const std::int64_t current = CurrentPerson();
  for (std::size_t i = 1; i < m.aIndi.size(); ++i) m.aIndi[i].FAVOR.clear();
  ClientDataSet1->DisableControls();
  const bool filtered = ClientDataSet1->Filtered();
  ClientDataSet1->SetFiltered(false);
  for (int r = 0; r < ClientDataSet1->TotalRows(); ++r)
    if (!ClientDataSet1->Value(r, pfIsFav).toString().isEmpty()) ClientDataSet1->SetValue(r, pfIsFav, QString());
  ClientDataSet1->SetFiltered(filtered);
  ClientDataSet1->EnableControls();
  LocatePerson(current);
}

void TForm1::ClearRootClick() {
  Edit18->clear();
}

void TForm1::DBGrid1TitleClick(int column) {
  if (column < 0 || column > 2 || !ClientDataSet1->Active()) return;
  const std::int64_t current = CurrentPerson();
  const QString mark(kTitleMark);
  for (int k = 0; k < 3; ++k) {
    QString t = StripTitleMark(DataSource1->ColumnTitle(k));
    const bool marked = t.size() >= 1 && (t[0] == kDown || t[0] == kUp);
    const QString field = QLatin1String(kSortFields[k]);
    if (k != column) {
      if (marked) t = t.mid(2);
      DataSource1->SetColumnTitle(k, t + mark);
      DataSource1->SetColumnBold(k, false);
      continue;
    }
    if (marked && t[0] == kDown) {
      t = QString(kUp) + QLatin1Char(' ') + t.mid(2);
      const QString name = QStringLiteral("i") + QString::number(k);
      if (!ClientDataSet1->HasIndex(name)) ClientDataSet1->AddIndex(name, field, true);
      ClientDataSet1->SetIndexName(name);
    } else {
      t = QString(kDown) + QLatin1Char(' ') + (marked ? t.mid(2) : t);
      ClientDataSet1->SetIndexFieldNames(field);
    }
    DataSource1->SetColumnTitle(k, t + mark);
    DataSource1->SetColumnBold(k, true);
  }
  LocatePerson(current);
}

void TForm1::ShowRecordCounter() {
  recordCounter_->setText(QStringLiteral("       ") + QString::number(ClientDataSet1->RecNo()) + QLatin1Char('/') +
                          QString::number(ClientDataSet1->RecordCount()));
}

void TForm1::ClientDataSet1AfterScroll() {
  if (ClientDataSet1->ControlsDisabled()) return;
  ShowRecordCounter();
  PersInfo();
}

// --- Root person ---

int TForm1::AncestorLevel() const { return CheckBox71->isChecked() ? UpDown2->Position() : 0; }
int TForm1::DescendantLevel() const { return CheckBox72->isChecked() ? UpDown3->Position() : 0; }

void TForm1::WriteMarksToRows(std::int64_t locateIndex) {
  const Model& m = model();
  ClientDataSet1->DisableControls();
  const bool filtered = ClientDataSet1->Filtered();
  ClientDataSet1->SetFiltered(false);
  for (int r = 0; r < ClientDataSet1->TotalRows(); ++r) {
    const qlonglong idx = ClientDataSet1->Value(r, pfIndex).toLongLong();
    if (idx <= 0 || idx >= static_cast<qlonglong>(m.aIndi.size())) continue;
    const QString& fav = m.aIndi[static_cast<std::size_t>(idx)].FAVOR;
    if (ClientDataSet1->Value(r, pfIsFav).toString() != fav) ClientDataSet1->SetValue(r, pfIsFav, fav);
  }
  ClientDataSet1->SetFiltered(filtered);
  LocatePerson(locateIndex);
  ClientDataSet1->EnableControls();
}

void TForm1::SpeedButton2Click() {
  if (!ClientDataSet1->Active()) return;
  const std::int64_t root = CurrentPerson();
  if (root <= 0) return;
  rootIndex_ = root;
  {
    const QSignalBlocker block(Edit18);
    Edit18->setText(ClientDataSet1->FieldValue(QStringLiteral("fio")).toString());
  }
  ClearRoot->setVisible(!Edit18->text().isEmpty());
  MarkRelatives(model(), root, AncestorLevel(), DescendantLevel());
  WriteMarksToRows(root);
}

void TForm1::N1Click(int mode) {
  if (!ClientDataSet1->Active() || busy_) return;
  Model& m = model();
  TBusyCursor busy;
  SetGaugeMaximum(static_cast<std::int64_t>(m.aIndi.size()) - 1);
  const std::int64_t best =
      ChooseMainPerson(m, mode, [this](std::int64_t pos, std::int64_t) { Gauge5->setValue(static_cast<int>(pos)); });
  Gauge5->setValue(0);
  // Nobody scores above 0: the root and the marks stay as they are.
  if (best > 0) {
    rootIndex_ = best;
    {
      const QSignalBlocker block(Edit18);
      Edit18->setText(m.aIndi[static_cast<std::size_t>(best)].FIO1);
    }
    ClearRoot->setVisible(!Edit18->text().isEmpty());
    MarkRelatives(m, best, AncestorLevel(), DescendantLevel());
    RefreshGedcom(0);
    LocatePerson(best);
  }
}

// --- Name template ---

void TForm1::SpeedButton38Click() {
  for (QPushButton* b : {Button8, Button9, Button10, Button11}) platform::SetControlTag(b, 0);
  Edit22->clear();
  Edit23->clear();
  Panel55->setVisible(Panel55->isHidden());
  if (!Panel55->isHidden()) Panel55->setFocus();
}

void TForm1::Button8Click(QPushButton* button) {
  if (!button || platform::ControlTag(button) != 0) return;
  if (!Edit22->text().isEmpty()) Edit22->setText(Edit22->text() + QLatin1Char(' '));
  Edit22->setText(Edit22->text() + button->text());
  Edit23->setText(Edit23->text() + ButtonCode(button));
  platform::SetControlTag(button, 1);
}

void TForm1::Button8DropDownClick(QPushButton* button) {
  if (!button || platform::ControlTag(button) != 0) return;
  if (!Edit22->text().isEmpty()) Edit22->setText(Edit22->text() + QLatin1Char(' '));
  Edit22->setText(Edit22->text() + QLatin1Char('(') + button->text() + QLatin1Char(')'));
  Edit23->setText(Edit23->text() + ButtonCode(button) + QLatin1Char(')'));
  platform::SetControlTag(button, 1);
}

void TForm1::SpeedButton40Click() {
  Edit22->clear();
  Edit23->clear();
  for (QPushButton* b : {Button8, Button9, Button10, Button11}) platform::SetControlTag(b, 0);
  Panel55->hide();
}

void TForm1::Panel55Exit() { Panel55->hide(); }

void TForm1::PageControl5Change() {
  Panel55->hide();
  Edit17->setText(FormatFullName(Button8->text(), Button10->text(), Button11->text(), Button9->text(), Edit21->text()));
}

void TForm1::SpeedButton39Click() {
  Panel55->hide();
  QCoreApplication::processEvents();
  if (Edit23->text().isEmpty() || Edit23->text() == Edit21->text()) return;
  const std::int64_t current = CurrentPerson();
  Edit21->setText(Edit23->text());
  Edit17->setText(Edit22->text());
  const std::int64_t root = RootPerson();
  MarkRelatives(model(), root < static_cast<std::int64_t>(model().aIndi.size()) ? root : 0, AncestorLevel(),
                DescendantLevel());
  // Refilling recomputes every name, so each row's "fio" already equals the person's new name.
  RefreshGedcom(1);
  LocatePerson(current);
}
