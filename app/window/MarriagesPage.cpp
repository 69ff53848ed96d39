#include "app/window/MarriagesPage.h"
#include "app/window/PageControls.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "app/charts/Ancestors.h"
#include "app/core/Model.h"
#include "app/reports/WorkbookExport.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/FlowLayout.h"

namespace {

QGroupBox* AddGroup(QWidget* parent, QLayout* layout, const QString& name, const QString& title, const QString& key) {
  auto* g = new QGroupBox(title, parent);
  g->setObjectName(name);
  platform::SetHelpKeyword(g, key);
  layout->addWidget(g);
  return g;
}

QColor GridColor(int style) {
  switch (style) {
    case 2: return platform::ColorFromWin(0xCCFFCC);
    case 3: return platform::ColorFromWin(0xCCFFFF);
    case 4: return platform::ColorFromWin(0xFFFFCC);
    case 5: return platform::ColorFromWin(0xCCCCFF);
    default: return QColor();
  }
}

// Asked of the grid's model: whether the cell's own text holds line breaks (the grid shows it without them).
constexpr int kHasBreaksRole = Qt::UserRole + 7;

// A selected cell whose text has line breaks is drawn in yellow on dark red.
class TMarriageCellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if ((option->state & QStyle::State_Selected) && index.data(kHasBreaksRole).toBool()) {
      option->palette.setColor(QPalette::Highlight, platform::ColorFromWin(0x000080));
      option->palette.setColor(QPalette::HighlightedText, QColor(0xFF, 0xFF, 0x00));
    }
  }
};

}  // namespace

void TMarriagesPage::Build() {
  QWidget* page = Tab();
  auto* layout = new QVBoxLayout(page);
  auto* bar = new platform::TFlowLayout;
  layout->addLayout(bar);
  SpeedButton30 = AddButton(page, bar, QStringLiteral("SpeedButton30"), QStringLiteral("Создать"), QStringLiteral("Create"));
  SpeedButton31 = AddButton(page, bar, QStringLiteral("SpeedButton31"), QStringLiteral("В Excel"), QStringLiteral("ToExcel"));

  auto* limit = AddGroup(page, bar, QStringLiteral("GroupBox32"), QStringLiteral("Лимит поколений"), QStringLiteral("GenLimit"));
  auto* ll = new QHBoxLayout(limit);
  CheckBox32 = AddCheck(limit, ll, QStringLiteral("CheckBox32"), QString(), QString(), false);
  SpinEdit5 = new QSpinBox(limit);
  SpinEdit5->setObjectName(QStringLiteral("SpinEdit5"));
  SpinEdit5->setRange(2, 12);
  SpinEdit5->setValue(8);
  ll->addWidget(SpinEdit5);

  auto* women = AddGroup(page, bar, QStringLiteral("GroupBox58"), QStringLiteral("Фамилия женщин"), QStringLiteral("WomenSurname"));
  auto* wl = new QHBoxLayout(women);
  CheckBox58 = AddCheck(women, wl, QStringLiteral("CheckBox58"), QStringLiteral("Девичья"), QStringLiteral("MaidenName"), true);

  RadioGroup4 = new platform::TRadioGroup(page, QStringLiteral("RadioGroup4"));
  RadioGroup4->setTitle(QStringLiteral("Известные браки"));
  platform::SetHelpKeyword(RadioGroup4, QStringLiteral("KnownMarriages"));
  RadioGroup4->SetItems({QStringLiteral("Известна точная дата"), QStringLiteral("Известен отец невесты"),
                         QStringLiteral("Известна дата или отец невесты"), QStringLiteral("Известна и дата и отец невесты")});
  RadioGroup4->SetItemIndex(3);
  bar->addWidget(RadioGroup4);

  auto* include = AddGroup(page, bar, QStringLiteral("GroupBox34"), QStringLiteral("Включать в список"), QStringLiteral("IncludeInList"));
  auto* il = new QVBoxLayout(include);
  CheckBox34 = AddCheck(include, il, QStringLiteral("CheckBox34"), QStringLiteral("Другие браки мужчин"), QStringLiteral("OtherMarrMan"), true);
  CheckBox39 = AddCheck(include, il, QStringLiteral("CheckBox39"), QStringLiteral("Другие браки женщин"), QStringLiteral("OtherMarrWoman"), true);
  CheckBox33 = AddCheck(include, il, QStringLiteral("CheckBox33"), QStringLiteral("Известные браки"), QStringLiteral("KnownMarriage"), true);

  auto* countsBox = new QWidget(page);
  auto* counts = new QVBoxLayout(countsBox);
  Label28 = new QLabel(countsBox);
  Label28->setObjectName(QStringLiteral("Label28"));
  Label30 = new QLabel(countsBox);
  Label30->setObjectName(QStringLiteral("Label30"));
  counts->addWidget(Label28);
  counts->addWidget(Label30);
  counts->addStretch();
  bar->addWidget(countsBox);

  const TReportGrid grid = MakeReportGrid(this, page, QStringLiteral("CDS_Marriage"), QStringLiteral("DataSource2"),
                                         QStringLiteral("DBGrid2"), QStringLiteral("MarriageGrid"),
                                         CreateMarriageDataSet, MarriageColumns());
  CDS_Marriage = grid.data;
  DataSource2 = grid.model;
  DBGrid2 = grid.grid;
  DBGrid2->installEventFilter(this);
  DBGrid2->setItemDelegate(new TMarriageCellDelegate(DBGrid2));
  layout->addWidget(DBGrid2, 1);

  const int ok = CDS_Marriage->FieldIndex(QStringLiteral("Ok")), main = CDS_Marriage->FieldIndex(QStringLiteral("Main")),
            calc = CDS_Marriage->FieldIndex(QStringLiteral("DM_CALC"));
  DataSource2->SetCellStyle([this, ok, main, calc](int row, int column, int role) -> QVariant {
    if (role == kHasBreaksRole) {
      const QString text = CDS_Marriage->Value(row, CDS_Marriage->FieldIndex(DataSource2->Columns()[std::size_t(column)].field)).toString();
      return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
    }
    if (role != Qt::BackgroundRole && role != Qt::ForegroundRole) return {};
    const bool calcColumn = DataSource2->Columns()[static_cast<std::size_t>(column)].field == QLatin1String("DM_CALC");
    const int style = MarriageCellStyle(CDS_Marriage->Value(row, ok).toString(), CDS_Marriage->Value(row, main).toString(),
                                        calcColumn, CDS_Marriage->Value(row, calc).toString());
    if (style == 0) return {};
    if (role == Qt::ForegroundRole) return QColor(Qt::black);
    return GridColor(style);
  });

  OpenFile = OpenWithDesktop;
  connect(SpeedButton30, &QToolButton::clicked, this, [this] { RunCommand(host(), [this] { SpeedButton30Click(); }); });
  connect(SpeedButton31, &QToolButton::clicked, this, [this] { RunCommand(host(), [this] { SpeedButton31Click(); }); });
  connect(RadioGroup4, &platform::TRadioGroup::ItemIndexChanged, this, [this] { RunCommand(host(), [this] { RadioGroup4Click(); }); });
  for (QCheckBox* b : {CheckBox34, CheckBox39, CheckBox33})
    connect(b, &QCheckBox::toggled, this, [this] { RunCommand(host(), [this] { CheckBox34Click(); }); });
  connect(DBGrid2, &QTableView::clicked, this, [this](const QModelIndex& i) { DBGrid2CellClick(i); });
}

TMarriageOptions TMarriagesPage::Options() const {
  TMarriageOptions o;
  o.LimitGenerations = CheckBox32->isChecked();
  o.Generations = SpinEdit5->value();
  o.MaidenName = CheckBox58->isChecked();
  o.KnownRule = RadioGroup4->ItemIndex();
  o.OtherMen = CheckBox34->isChecked();
  o.OtherWomen = CheckBox39->isChecked();
  o.Known = CheckBox33->isChecked();
  return o;
}

void TMarriagesPage::SpeedButton30Click() {
  if (host().Busy()) return;
  host().ShowPage(Tab());
  Model& m = host().model();
  const std::int64_t p = host().CurrentPerson();
  FillTree(m, host().Ancestors(), p > 0 ? QString::number(p) : QString(), m.LoadCount);
  MarriageGedcom();
}

void TMarriagesPage::MarriageGedcom() {
  const std::vector<TPers>& list = host().Ancestors().aPers;
  if (list.empty() || list.front().ID.isEmpty()) return;
  TLongRun run(host());
  if (!run.Started()) return;
  TBusyCursor busy;
  QElapsedTimer timer;
  timer.start();
  // Reporting after every row let repainting the window take most of the build's time: the labels and the
  // gauge follow the first row, then every 100 rows or 50 ms. Stop ends the build with the rows made so far.
  int rows = 0;
  qint64 reported = 0;
  const int n = ::MarriageGedcom(host().model(), list, Options(), *CDS_Marriage, [&](int position, int count) {
    if (++rows % 100 != 1 && timer.elapsed() - reported < 50) return false;
    reported = timer.elapsed();
    Label28->setText(Elapsed(reported));
    Label30->setText(QStringLiteral("%1/%2").arg(position).arg(count));
    return host().Progress(position, count);
  });
  if (n < 0) return;
  total_ = n;
  builtFor_ = host().model().LoadCount;
  Label28->setText(Elapsed(timer.elapsed()));
  ShowCounts();
  host().OutputReady();
}

void TMarriagesPage::ShowCounts() {
  if (!CDS_Marriage->Active()) return;
  Label30->setText(QStringLiteral("%1/%2").arg(CDS_Marriage->RecordCount()).arg(total_));
}

void TMarriagesPage::RadioGroup4Click() {
  if (!CDS_Marriage->Active()) return;
  RecomputeMarriageOk(*CDS_Marriage, RadioGroup4->ItemIndex());
  ApplyMarriageFilter(*CDS_Marriage, Options());
  CDS_Marriage->First();
  ShowCounts();
}

void TMarriagesPage::CheckBox34Click() {
  if (!CDS_Marriage->Active()) return;
  ApplyMarriageFilter(*CDS_Marriage, Options());
  CDS_Marriage->First();
  ShowCounts();
}

void TMarriagesPage::DBGrid2CellClick(const QModelIndex& index) {
  if (!CDS_Marriage->Active() || !index.isValid()) return;
  const int row = CDS_Marriage->RowAt(index.row());
  if (row < 0) return;
  const QString field = DataSource2->Columns()[static_cast<std::size_t>(index.column())].field;
  QString hint;
  if (field == QLatin1String("Prim_Marr")) {
    hint = CDS_Marriage->Value(row, CDS_Marriage->FieldIndex(field)).toString();
  } else {
    const qint64 f = CDS_Marriage->Value(row, CDS_Marriage->FieldIndex(QStringLiteral("iFam"))).toLongLong();
    const Model& m = host().model();
    // The rows outlive a reload; their family numbers then name families of another tree.
    if (m.LoadCount == builtFor_ && f > 0 && f < static_cast<qint64>(m.aFam.size()))
      hint = m.aFam[static_cast<std::size_t>(f)].MARR_NOTE;
    else
      hint = CDS_Marriage->Value(row, CDS_Marriage->FieldIndex(QStringLiteral("Prim_Marr"))).toString();
  }
  DBGrid2->setToolTip(WrapHint(hint, 45));
}

void TMarriagesPage::DBGrid2Exit() { DBGrid2->setToolTip(QString()); }

bool TMarriagesPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == DBGrid2 && event->type() == QEvent::FocusOut) DBGrid2Exit();
  return TReportPage::eventFilter(watched, event);
}

void TMarriagesPage::MarriageToXLS(const QString& fileName) {
  if (!CDS_Marriage->Active()) return;
  const QString name = fileName.isEmpty() ? AskWorkbookName(host()) : fileName;
  if (name.isEmpty()) return;
  TBusyCursor busy;
  ::MarriageToXLS(*CDS_Marriage, GridColumns(DataSource2, DBGrid2), name, host().LoadedFile());
}

void TMarriagesPage::SpeedButton31Click() {
  if (!CDS_Marriage->Active()) return;
  WriteFixedWorkbook(host(), QString::fromLatin1(kMarriageWorkbook), [this](const QString& path) { MarriageToXLS(path); }, OpenFile);
}

void TMarriagesPage::Print() {
  if (!CDS_Marriage->Active()) return;
  WriteFixedWorkbook(host(), QString::fromLatin1(kMarriageWorkbook), [this](const QString& path) { MarriageToXLS(path); }, OpenFile);
}
