// The toolbar's run, print, save and help commands, their drop-down menus, the page control's context
// menu, the report menu, and the scheme pages' buttons. Each command catches at its boundary.
#include "app/charts/ChartOutput.h"
#include "app/core/Model.h"
#include "app/core/Unit1Charts.h"
#include "platform/qt/PictureFile.h"
#include "platform/qt/RtfWriter.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QSpinBox>
#include <QTextEdit>
#include <QUrl>

#include <exception>

namespace {

template <class M>
std::uint64_t LoadStamp(const M& m) {
  // A model that counts its loads lets FillTree keep its list within one load; without the count
  // every request builds anew.
  if constexpr (requires { m.LoadCount; }) {
    return static_cast<std::uint64_t>(m.LoadCount);
  } else {
    static std::uint64_t calls = 0;
    return ++calls;
  }
}

struct BusyCursor {
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

template <class F>
void Guarded(QWidget* window, F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    QMessageBox::critical(window, QString(), QString::fromUtf8(e.what()));
  }
}

QAction* AddItem(QMenu* menu, const QString& caption, const QString& key) {
  QAction* a = menu->addAction(caption);
  if (!key.isEmpty()) a->setStatusTip(key);
  return a;
}

struct RichPage {
  QWidget* page;
  const char* editName;
  const char* title;
};

}  // namespace

void TForm1::FillTree() {
  const std::int64_t p = CurrentPerson();
  if (::FillTree(model(), Charts().ancestors, p > 0 ? QString::number(p) : QString(), LoadStamp(model()))) {
    ToolButton1->setEnabled(true);
    ToolButton2->setEnabled(true);
  }
}

void TForm1::SxPrGedcom() {
  ChartsState& c = Charts();
  TAncestorTextOptions o;
  o.FullName = c.CheckBox60->isChecked();
  o.Surname = c.CheckBox61->isChecked();
  o.BirthSurname = c.CheckBox62->isChecked();
  o.Brackets = c.CheckBox63->isChecked();
  o.FirstName = c.CheckBox64->isChecked();
  o.Patronymic = c.CheckBox65->isChecked();
  o.YearsLife = c.CheckBox66->isChecked();
  o.DatesLife = c.CheckBox67->isChecked();
  o.BirthPlace = c.CheckBox70->isChecked();
  const std::int64_t p = CurrentPerson();
  TTreeNodes nodes;
  BusyCursor busy;
  if (!::SxPrGedcom(model(), c.ancestors, nodes, p > 0 ? QString::number(p) : QString(),
                    PageControl1->currentWidget() == TabChartAncestors, o, LoadStamp(model())))
    return;
  ShowTreeNodes(c.TreeView1, nodes);
  if (!nodes.Empty()) {
    ToolButton1->setEnabled(true);
    ToolButton2->setEnabled(true);
  }
}

void TForm1::SxPotGedcom() {
  ChartsState& c = Charts();
  TDescendantOptions o;
  o.Numbering = static_cast<TNumbering>(std::clamp(c.RadioGroup16->ItemIndex(), 0, 3));
  o.Filter = static_cast<TLineFilter>(std::clamp(c.RadioGroup6->ItemIndex(), 0, 3));
  o.PersonNote = c.CheckBox17->isChecked();
  o.EventPlace = c.CheckBox18->isChecked();
  o.EventNote = c.CheckBox16->isChecked();
  o.DeathCause = c.CheckBox14->isChecked();
  o.BirthLabel = c.Edit3->text();
  o.MarrLabel = c.Edit4->text();
  o.DeathLabel = c.Edit5->text();
  o.WordWife = Lang(QStringLiteral("*B"), QStringLiteral("Жена"));
  o.WordWifeUnmarried = Lang(QStringLiteral("*W"), QStringLiteral("Супруга"));
  o.WordHusband = Lang(QStringLiteral("*A"), QStringLiteral("Муж"));
  o.WordHusbandUnmarried = Lang(QStringLiteral("*H"), QStringLiteral("Супруг"));
  const std::int64_t p = CurrentPerson();
  TTreeNodes nodes;
  BusyCursor busy;
  const bool built = ::SxPotGedcom(model(), c.descendants, nodes, p > 0 ? QString::number(p) : QString(), o);
  ShowTreeNodes(c.TreeView2, nodes);
  if (built) {
    ToolButton1->setEnabled(true);
    ToolButton2->setEnabled(true);
  }
}

void TForm1::FillTree2() {
  TFanListOptions o;
  if (auto* a = findChild<QCheckBox*>(QStringLiteral("CheckBox82"))) o.Auto = a->isChecked();
  if (auto* s = findChild<QSpinBox*>(QStringLiteral("SpinEdit1"))) o.Generations = s->value();
  if (auto* t = findChild<QComboBox*>(QStringLiteral("ComboBox8"))) o.FanType = t->currentIndex();
  const std::int64_t p = CurrentPerson();
  ::FillTree2(model(), Charts().fanList, p > 0 ? QString::number(p) : QString(), o);
}

void TForm1::SpeedButton22Click() {
  PageControl1->setCurrentWidget(TabChartAncestors);
  SxPrGedcom();
}

void TForm1::SpeedButton7Click() {
  PageControl1->setCurrentWidget(TabChartDescendants);
  SxPotGedcom();
}

void TForm1::ToolButton3Click() {
  if (Busy()) return;
  QWidget* page = PageControl1->currentWidget();
  if (const auto it = Charts().runActions.find(page); it != Charts().runActions.end()) {
    it->second();
    return;
  }
  if (page == TabChartAncestors) {
    SxPrGedcom();
  } else if (page == TabChartDescendants) {
    SxPotGedcom();
  } else if (page == TabFanChart) {
    SpeedButton4Click();
  } else if (page == TabListFamily) {
    FillTree();
  }
}

void TForm1::ToolButton1Click() {
  ChartsState& c = Charts();
  QWidget* page = PageControl1->currentWidget();
  platform::TDialogs& d = *c.dialogs;
  platform::TPageSink& printer = *c.printerSink;
  if (const auto it = c.printActions.find(page); it != c.printActions.end()) {
    it->second();
    return;
  }
  if (page == TabStatistics) {
    // The chart on a landscape page.
    if (auto* chart = page->findChild<QWidget*>(QStringLiteral("Chart1"))) {
      if (c.printer) c.printer->setPageOrientation(QPageLayout::Landscape);
      PrintBitMap(chart->grab().toImage(), d, printer);
    }
    return;
  }
  if (page == TabFanChart) {
    PrintFanChart(1);
    return;
  }
  if (page == TabChartAncestors) {
    PrintTree(TreeRowsOf(c.TreeView1), d, printer);
    return;
  }
  if (page == TabChartDescendants) {
    PrintTree(TreeRowsOf(c.TreeView2), d, printer);
    return;
  }
  if (page == TabLinkPers) {
    auto* pc2 = page->findChild<QTabWidget*>(QStringLiteral("PageControl2"));
    const int sub = pc2 ? pc2->currentIndex() : -1;
    if (sub == 0) {
      if (auto* t = page->findChild<QTreeWidget*>(QStringLiteral("TreeView3"))) PrintTree(TreeRowsOf(t), d, printer);
      return;
    }
    if (sub == 2) {
      if (auto* img = page->findChild<QLabel*>(QStringLiteral("Image1"))) PrintBitMap(img->pixmap().toImage(), d, printer);
      return;
    }
  }
  const RichPage pages[] = {{TabDetProbl, "RichEdit1", "DetectorProblems"}, {TabLinkPers, "RichEdit2", "LinkPersons"},
                            {TabListFamily, "RichEdit3", "ListFamily"},     {TabFindDouble, "RichEdit4", "Doublets"},
                            {TabPersAbout, "RichEdit5", "Info"},            {TabPopulation, "RichEdit6", "PlacePers"}};
  for (const RichPage& rp : pages) {
    if (rp.page != page) continue;
    auto* edit = page->findChild<QTextEdit*>(QString::fromLatin1(rp.editName));
    if (!edit || !d.Print(printer)) return;
    if (!printer.PrintDocument(*edit->document(), QString::fromLatin1(rp.title)))
      d.Message(ChartText(QStringLiteral("PrintFailed"), QStringLiteral("Не удалось напечатать:")) + QLatin1Char(' ') + printer.LastError());
    return;
  }
}

void TForm1::ToolButton2Click() {
  ChartsState& c = Charts();
  QWidget* page = PageControl1->currentWidget();
  platform::TDialogs& d = *c.dialogs;
  if (const auto it = c.saveActions.find(page); it != c.saveActions.end()) {
    it->second();
    return;
  }
  if (page == TabStatistics) {
    // Always a BMP, the suffix appended to whatever name was chosen.
    auto* chart = page->findChild<QWidget*>(QStringLiteral("Chart1"));
    QString name;
    int index = 1;
    if (!chart || !d.Save(kPictureSaveFilter, name, index)) return;
    const QString error =
        platform::WritePicture(name + QStringLiteral(".bmp"), platform::TPictureFormat::Bmp, chart->grab().toImage());
    if (!error.isEmpty())
      d.Message(ChartText(QStringLiteral("SaveFailed"), QStringLiteral("Не удалось сохранить файл:")) + QLatin1Char(' ') + error);
    return;
  }
  if (page == TabFanChart) {
    SaveFanChart(1);
    return;
  }
  if (page == TabChartAncestors) {
    SaveTree(TreeRowsOf(c.TreeView1), d);
    return;
  }
  if (page == TabChartDescendants) {
    SaveTree(TreeRowsOf(c.TreeView2), d);
    return;
  }
  if (page == TabLinkPers) {
    auto* pc2 = page->findChild<QTabWidget*>(QStringLiteral("PageControl2"));
    const int sub = pc2 ? pc2->currentIndex() : -1;
    if (sub == 0) {
      if (auto* t = page->findChild<QTreeWidget*>(QStringLiteral("TreeView3"))) SaveTree(TreeRowsOf(t), d);
      return;
    }
    if (sub == 2) {
      if (auto* img = page->findChild<QLabel*>(QStringLiteral("Image1"))) SaveBitMap(img->pixmap().toImage(), d);
      return;
    }
  }
  const RichPage pages[] = {{TabDetProbl, "RichEdit1", ""}, {TabLinkPers, "RichEdit2", ""},
                            {TabListFamily, "RichEdit3", ""}, {TabFindDouble, "RichEdit4", ""},
                            {TabPersAbout, "RichEdit5", ""},  {TabPopulation, "RichEdit6", ""}};
  for (const RichPage& rp : pages) {
    if (rp.page != page) continue;
    auto* edit = page->findChild<QTextEdit*>(QString::fromLatin1(rp.editName));
    if (!edit) return;
    QString name;
    int index = 1;
    if (!d.Save(QStringLiteral("File RTF|*.rtf"), name, index)) return;
    const QString error = platform::WriteRtfFile(name, *edit->document());
    if (!error.isEmpty())
      d.Message(ChartText(QStringLiteral("SaveFailed"), QStringLiteral("Не удалось сохранить файл:")) + QLatin1Char(' ') + error);
    return;
  }
}

void TForm1::ToolButton5Click() {
  const QString base = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
  QDesktopServices::openUrl(QUrl::fromLocalFile(ProgramDir() + base + QStringLiteral(".chm")));
}

void TForm1::MenuItemSplitClick(bool landscape) {
  ChartsState& c = Charts();
  QWidget* page = PageControl1->currentWidget();
  const QTreeWidget* tree = nullptr;
  if (page == TabChartAncestors) tree = c.TreeView1;
  if (page == TabChartDescendants) tree = c.TreeView2;
  if (page == TabLinkPers) tree = page->findChild<QTreeWidget*>(QStringLiteral("TreeView3"));
  if (!tree) return;
  SaveTreeSplit(TreeRowsOf(tree), *c.dialogs, landscape);
}

void TForm1::WireCommands() {
  ChartsState& c = Charts();
  auto guard = [this](void (TForm1::*fn)()) { return [this, fn] { Guarded(this, [&] { (this->*fn)(); }); }; };
  connect(ToolButton3, &QToolButton::clicked, this, guard(&TForm1::ToolButton3Click));
  connect(ToolButton1, &QToolButton::clicked, this, guard(&TForm1::ToolButton1Click));
  connect(ToolButton2, &QToolButton::clicked, this, guard(&TForm1::ToolButton2Click));
  connect(ToolButton5, &QToolButton::clicked, this, guard(&TForm1::ToolButton5Click));

  // Save and print drop-downs: the split variants belong to the fan chart page.
  QAction* save1 = AddItem(PopupMenu2, QStringLiteral("Одним файлом"), QString());
  QAction* save2 = AddItem(PopupMenu2, QStringLiteral("Разбить на 2 файла"), QString());
  QAction* save4 = AddItem(PopupMenu2, QStringLiteral("Разбить на 4 файла"), QString());
  QAction* print1 = AddItem(PopupMenu3, QStringLiteral("Без разбивки"), QString());
  QAction* print2 = AddItem(PopupMenu3, QStringLiteral("Разбить на 2 страницы"), QString());
  QAction* print4 = AddItem(PopupMenu3, QStringLiteral("Разбить на 4 страницы"), QString());
  connect(save1, &QAction::triggered, this, guard(&TForm1::ToolButton2Click));
  connect(print1, &QAction::triggered, this, guard(&TForm1::ToolButton1Click));
  auto splitEnabling = [this](QMenu* menu) {
    const QList<QAction*> items = menu->actions();
    for (int i = 1; i < items.size() && i <= 2; ++i) items[i]->setEnabled(PageControl1->currentWidget() == TabFanChart);
  };
  connect(PopupMenu2, &QMenu::aboutToShow, this, [this, splitEnabling] { splitEnabling(PopupMenu2); });
  connect(PopupMenu3, &QMenu::aboutToShow, this, [this, splitEnabling] { splitEnabling(PopupMenu3); });
  // The split items act on the fan chart page only (N23, N43, N24, N44).
  auto onFanPage = [this](void (TForm1::*fn)(int), int parts) {
    return [this, fn, parts] {
      if (PageControl1->currentWidget() == TabFanChart) Guarded(this, [&] { (this->*fn)(parts); });
    };
  };
  connect(save2, &QAction::triggered, this, onFanPage(&TForm1::SaveFanChart, 2));
  connect(save4, &QAction::triggered, this, onFanPage(&TForm1::SaveFanChart, 4));
  connect(print2, &QAction::triggered, this, onFanPage(&TForm1::PrintFanChart, 2));
  connect(print4, &QAction::triggered, this, onFanPage(&TForm1::PrintFanChart, 4));

  // Context menu of the page control.
  c.PopupMenu4 = new QMenu(this);
  c.PopupMenu4->setObjectName(QStringLiteral("PopupMenu4"));
  QAction* ctxPrint = AddItem(c.PopupMenu4, QStringLiteral("Печать"), QStringLiteral("Print"));
  QAction* ctxSave = AddItem(c.PopupMenu4, QStringLiteral("Сохранение"), QStringLiteral("Save"));
  connect(ctxPrint, &QAction::triggered, this, guard(&TForm1::ToolButton1Click));
  connect(ctxSave, &QAction::triggered, this, guard(&TForm1::ToolButton2Click));
  connect(c.PopupMenu4, &QMenu::aboutToShow, this, [this, ctxPrint, ctxSave] {
    const int pos = PageControl1->currentIndex();
    const bool off = pos == 9 || pos == 10;
    ctxPrint->setEnabled(!off && ToolButton1->isEnabled());
    ctxSave->setEnabled(!off && ToolButton2->isEnabled());
  });
  PageControl1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(PageControl1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { Charts().PopupMenu4->popup(PageControl1->mapToGlobal(pos)); });

  // The scheme pages' own save menu.
  c.PopupMenu8 = new QMenu(this);
  c.PopupMenu8->setObjectName(QStringLiteral("PopupMenu8"));
  QAction* one = AddItem(c.PopupMenu8, QStringLiteral("Одним файлом"), QString());
  c.MenuItem3 = AddItem(c.PopupMenu8, QStringLiteral("Разбить для Портретной"), QString());
  c.MenuItem4 = AddItem(c.PopupMenu8, QStringLiteral("Разбить для Альбомной"), QString());
  connect(one, &QAction::triggered, this, guard(&TForm1::ToolButton2Click));
  connect(c.MenuItem3, &QAction::triggered, this, [this] { Guarded(this, [this] { MenuItemSplitClick(false); }); });
  connect(c.MenuItem4, &QAction::triggered, this, [this] { Guarded(this, [this] { MenuItemSplitClick(true); }); });
  for (QToolButton* b : {c.SaveButtonAncestors, c.SaveButtonDescendants}) {
    b->setMenu(c.PopupMenu8);
    b->setPopupMode(QToolButton::MenuButtonPopup);
    connect(b, &QToolButton::clicked, this, guard(&TForm1::ToolButton2Click));
  }
  for (QToolButton* b : {c.PrintButtonAncestors, c.PrintButtonDescendants})
    connect(b, &QToolButton::clicked, this, guard(&TForm1::ToolButton1Click));

  // The report menu: each item shows its page; the schemes also run.
  struct Report {
    const char* caption;
    const char* key;
    QWidget* page;
    void (TForm1::*run)();
  };
  const Report reports[] = {
      {"Поколенная схема предков", "FullChartAncestors", TabChartAncestors, &TForm1::SxPrGedcom},
      {"Поколенная схема потомков", "FullChartDescendants", TabChartDescendants, &TForm1::SxPotGedcom},
      {"Круговая диаграмма (FanChart)", "FullFanChart", TabFanChart, &TForm1::SpeedButton4Click},
      {"Детектор проблем данных", "FullDetProbl", TabDetProbl, nullptr},
      {"Детектор родства 2-х персон", "FullLinkPers", TabLinkPers, nullptr},
      {"Фамильные цепочки (списки)", "FullListFamily", TabListFamily, nullptr},
      {"Анализ браков предков", "FullMarriages", TabMarriages, nullptr},
      {"Статистика имен и событий", "FullStatistics", TabStatistics, nullptr},
      {"Поиск дублей (похожих персон)", "FullFindDouble", TabFindDouble, nullptr},
      {"Инструменты групповой правки", "FullInstruments", TabInstruments, nullptr},
      {"Экспорт данных из базы в файл", "FullExport", TabExport, nullptr},
      {"Информер (Календарь событий)", "FullInformer", TabInformer, nullptr},
  };
  for (const Report& r : reports) {
    QAction* a = AddItem(PopupMenu5, QString::fromUtf8(r.caption), QString::fromLatin1(r.key));
    QWidget* page = r.page;
    auto run = r.run;
    connect(a, &QAction::triggered, this, [this, page, run] {
      Guarded(this, [&] {
        PageControl1->setCurrentWidget(page);
        if (run && !Busy()) (this->*run)();
      });
    });
  }
  DBGrid1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(DBGrid1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupMenu5->popup(DBGrid1->viewport()->mapToGlobal(pos)); });

  // Scheme pages.
  connect(c.SpeedButton22, &QToolButton::clicked, this, guard(&TForm1::SpeedButton22Click));
  connect(c.SpeedButton7, &QToolButton::clicked, this, guard(&TForm1::SpeedButton7Click));
  for (auto [button, tree] : {std::pair{c.SpeedButton23, c.TreeView1}, std::pair{c.SpeedButton8, c.TreeView2}}) {
    QTreeWidget* t = tree;
    connect(button, &QToolButton::clicked, this, [t] {
      if (t->topLevelItemCount() == 0) return;
      t->setUpdatesEnabled(false);
      t->expandAll();
      t->setUpdatesEnabled(true);
    });
  }
  for (QTreeWidget* t : {c.TreeView1, c.TreeView2}) {
    t->viewport()->installEventFilter(NewSchemeTreeFilter(t));
    connect(t, &QTreeWidget::itemDoubleClicked, this, [t](QTreeWidgetItem* item) { JumpToLinkedNode(t, item); });
  }
  PairYearsDates(c.CheckBox66, c.CheckBox67);
  auto nameParts = [&c](bool full) {
    for (QCheckBox* b : {c.CheckBox61, c.CheckBox62, c.CheckBox63, c.CheckBox64, c.CheckBox65}) b->setEnabled(!full);
  };
  nameParts(c.CheckBox60->isChecked());
  connect(c.CheckBox60, &QCheckBox::toggled, this, nameParts);
}
