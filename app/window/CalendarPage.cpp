#include "app/window/CalendarPage.h"
#include "app/window/PageControls.h"

#include <QFont>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "app/core/Model.h"
#include "app/reports/WorkbookExport.h"
#include "app/window/PageWorkbooks.h"
#include "platform/qt/FlowLayout.h"

namespace {

// An event box on a panel of the event's grid colour.
QCheckBox* EventBox(QWidget* parent, QLayout* layout, const QString& panel, int color, const QString& name,
                    const QString& caption, const QString& key) {
  auto* p = new platform::TPanel(parent, panel);
  p->SetColor(color);
  auto* pl = new QHBoxLayout(p);
  pl->setContentsMargins(4, 2, 4, 2);
  QCheckBox* c = AddCheck(p, pl, name, caption, key, true);
  layout->addWidget(p);
  return c;
}

std::optional<int> Number(const QVariant& v) {
  if (!v.isValid() || v.isNull() || v.toString().isEmpty()) return std::nullopt;
  return v.toInt();
}

}  // namespace

void TCalendarPage::Build() {
  QWidget* page = Tab();
  auto* layout = new QVBoxLayout(page);
  auto* bar = new platform::TFlowLayout;
  layout->addLayout(bar);
  SpeedButton42 = AddButton(page, bar, QStringLiteral("SpeedButton42"), QStringLiteral("Создать"), QStringLiteral("Create"));
  SpeedButton6 = AddButton(page, bar, QStringLiteral("SpeedButton6"), QStringLiteral("В Excel"), QStringLiteral("ToExcel"));
  SpeedButton7 = AddButton(page, bar, QStringLiteral("SpeedButton7"), QStringLiteral("Сохранить"), QStringLiteral("Save"));

  auto* filter = new QGroupBox(QStringLiteral("Фильтр"), page);
  filter->setObjectName(QStringLiteral("GroupBox51"));
  platform::SetHelpKeyword(filter, QStringLiteral("CalendarFilter"));
  auto* fl = new QHBoxLayout(filter);
  CheckBox51 = AddCheck(filter, fl, QStringLiteral("CheckBox51"), QStringLiteral("Только Живых"), QStringLiteral("OnlyAlive"), false);
  CheckBox52 = AddCheck(filter, fl, QStringLiteral("CheckBox52"), QStringLiteral("Только Фаворитов"), QStringLiteral("OnlyFavourites"), false);
  bar->addWidget(filter);

  auto* events = new QGroupBox(QStringLiteral("События"), page);
  events->setObjectName(QStringLiteral("GroupBox53"));
  platform::SetHelpKeyword(events, QStringLiteral("CalendarEvents"));
  auto* el = new QHBoxLayout(events);
  CheckBox53 = EventBox(events, el, QStringLiteral("Panel53"), 0xDDFFDD, QStringLiteral("CheckBox53"), QStringLiteral("Рождения (*)"), QStringLiteral("BirthsEvent"));
  CheckBox54 = EventBox(events, el, QStringLiteral("Panel54"), 0xFFDDFF, QStringLiteral("CheckBox54"), QStringLiteral("Браки (x)"), QStringLiteral("MarriagesEvent"));
  CheckBox59 = EventBox(events, el, QStringLiteral("Panel59"), 0xFFDDDD, QStringLiteral("CheckBox59"), QString::fromUtf8("Смерти (┼)"), QStringLiteral("DeathsEvent"));
  bar->addWidget(events);

  const TReportGrid grid = MakeReportGrid(this, page, QStringLiteral("CDS_Informer"), QStringLiteral("DataSource3"),
                                         QStringLiteral("DBGrid3"), QStringLiteral("InformerGrid"),
                                         CreateCalendarDataSet, CalendarColumns());
  CDS_Informer = grid.data;
  DataSource3 = grid.model;
  DBGrid3 = grid.grid;
  layout->addWidget(DBGrid3, 1);

  DataSource3->SetCellStyle([this](int row, int column, int role) -> QVariant {
    const QString field = DataSource3->Columns()[static_cast<std::size_t>(column)].field;
    const QString type = CDS_Informer->Value(row, 3).toString();
    const std::optional<int> years = Number(CDS_Informer->Value(row, 4)), days = Number(CDS_Informer->Value(row, 5));
    const bool jubileeCell = CalendarJubilee(years, days) && (field == u"Years" || field == u"Days");
    switch (role) {
      case Qt::BackgroundRole: {
        const int style = CalendarCellStyle(type, QString(), years, days);
        if (style == 2) return platform::ColorFromWin(0xDDFFDD);
        if (style == 3) return platform::ColorFromWin(0xFFDDFF);
        if (style == 4) return platform::ColorFromWin(0xFFDDDD);
        return {};
      }
      case Qt::ForegroundRole:
        return jubileeCell ? QVariant(platform::ColorFromWin(0x000080)) : QVariant(QColor(Qt::black));
      case Qt::FontRole:
        if (jubileeCell) {
          QFont f = DBGrid3->font();
          f.setBold(true);
          return f;
        }
        return {};
      case Qt::TextAlignmentRole:
        if (field == u"Type") return int(Qt::AlignCenter);
        return {};
      default: return {};
    }
  });

  OpenFile = OpenWithDesktop;
  connect(SpeedButton42, &QToolButton::clicked, this, [this] { RunCommand(host(), [this] { SpeedButton42Click(); }); });
  connect(SpeedButton6, &QToolButton::clicked, this, [this] { RunCommand(host(), [this] { SpeedButton6Click(); }); });
  connect(SpeedButton7, &QToolButton::clicked, this, [this] { RunCommand(host(), [this] { Save(); }); });
}

TCalendarOptions TCalendarPage::Options() const {
  TCalendarOptions o;
  o.OnlyAlive = CheckBox51->isChecked();
  o.OnlyFavorites = CheckBox52->isChecked();
  o.Births = CheckBox53->isChecked();
  o.Marriages = CheckBox54->isChecked();
  o.Deaths = CheckBox59->isChecked();
  o.Today = Today;
  return o;
}

void TCalendarPage::SpeedButton42Click() {
  if (host().Busy()) return;
  host().ShowPage(Tab());
  Informer();
}

void TCalendarPage::Informer() {
  TBusyCursor busy;
  host().model().AbortFlag = false;
  FillCalendarDataSet(*CDS_Informer, ::Informer(host().model(), Options()));
  DBGrid3->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  host().OutputReady();
}

void TCalendarPage::InformerToXLS(const QString& fileName) {
  if (!CDS_Informer->Active()) return;
  const QString name = fileName.isEmpty() ? AskWorkbookName(host()) : fileName;
  if (name.isEmpty()) return;
  TBusyCursor busy;
  std::vector<TReportColumn> columns = GridColumns(DataSource3, DBGrid3);
  ::InformerToXLS(*CDS_Informer, columns, name, host().LoadedFile());
}

void TCalendarPage::SpeedButton6Click() {
  if (!CDS_Informer->Active()) return;
  WriteFixedWorkbook(host(), QString::fromLatin1(kInformerWorkbook), [this](const QString& path) { InformerToXLS(path); }, OpenFile);
}
