// Report pages and command wiring of the main window (filled in by the charts and reports work).
#include "app/core/Unit1.h"

void TForm1::BuildChartPages() { BuildFanPage(); }
void TForm1::WireCommands() {}
void TForm1::ClearLinkChain() {}
void TForm1::PersInfo() {}
void TForm1::EmptyAncestorList() {}
