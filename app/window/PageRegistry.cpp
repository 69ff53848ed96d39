#include "app/window/PageRegistry.h"

#include "app/window/AncestorsPage.h"
#include "app/window/CalendarPage.h"
#include "app/window/DescendantsPage.h"
#include "app/window/DuplicatesPage.h"
#include "app/window/ExportPage.h"
#include "app/window/FanChartPage.h"
#include "app/window/KinshipPage.h"
#include "app/window/MarriagesPage.h"
#include "app/window/PersonCardPage.h"
#include "app/window/PlacesPage.h"
#include "app/window/ProblemsPage.h"
#include "app/window/StatisticsPage.h"
#include "app/window/SurnameChainsPage.h"
#include "app/window/ToolsPage.h"

const std::vector<TPageEntry>& ReportPageEntries() {
  static const std::vector<TPageEntry> pages = {
      {"TabSheet1", "Инфо о персоне", "PersAbout", nullptr, nullptr, MakePage<TPersonCardPage>},
      {"TabSheet2", "Схема предков", "ChartAncestors", "Поколенная схема предков", "FullChartAncestors",
       MakePage<TAncestorsPage>},
      {"TabSheet3", "Схема потомков", "ChartDescendants", "Поколенная схема потомков", "FullChartDescendants",
       MakePage<TDescendantsPage>},
      {"TabSheet4", "Круговая диаграмма", "FanChart", "Круговая диаграмма (FanChart)", "FullFanChart",
       MakePage<TFanChartPage>},
      {"TabSheet5", "Детектор проблем", "DetProbl", "Детектор проблем данных", "FullDetProbl", MakePage<TProblemsPage>},
      {"TabSheet6", "Детектор родства", "LinkPers", "Детектор родства 2-х персон", "FullLinkPers", MakePage<TKinshipPage>},
      {"TabSheet7", "Фамильные цепочки", "ListFamily", "Фамильные цепочки (списки)", "FullListFamily",
       MakePage<TSurnameChainsPage>},
      {"TabSheet8", "Браки", "Marriages", "Анализ браков предков", "FullMarriages", MakePage<TMarriagesPage>},
      {"TabSheet9", "Статистика", "Statistics", "Статистика имен и событий", "FullStatistics", MakePage<TStatisticsPage>},
      {"TabSheet10", "Поиск дублей", "FindDouble", "Поиск дублей (похожих персон)", "FullFindDouble",
       MakePage<TDuplicatesPage>},
      {"TabSheet11", "Инструменты", "Instruments", "Инструменты групповой правки", "FullInstruments", MakePage<TToolsPage>},
      {"TabSheet12", "Экспорт", "Export", "Экспорт данных из базы в файл", "FullExport", MakePage<TExportPage>},
      {"TabSheet13", "Календарь", "Informer", "Информер (Календарь событий)", "FullInformer", MakePage<TCalendarPage>},
      {"TabSheet14", "Жители", "Population", nullptr, nullptr, MakePage<TPlacesPage>},
  };
  return pages;
}
