// The report pages of the main window, in the order of their tabs in PageControl1.
//
// How to add a page:
//  1. Write the page as a class of its own in app/window/ (e.g. MarriagesPage.h/.cpp) derived from
//     TReportPage (ReportPage.h): Build() makes its controls inside Tab() with the component names as
//     objectNames (and "HelpKeyword"/"Tag" where translations and settings need them); Run(), Print(),
//     Save() read the controls into the report's options, call the headless report (app/charts,
//     app/reports) and show or give out its result through TPageHost. Every command handler of the page
//     goes through RunCommand(host(), ...), the one error path.
//  2. The tab is already registered in PageRegistry.cpp by a placeholder class of the same name; replace
//     that placeholder header with the real class (keep the class name) or, for a new tab, add one line
//     there. Nothing else in the window changes.
//  3. Test it in tests/gui/ through TForm1::Page<TYourPage>() on a small GEDCOM file.
#pragma once

#include <memory>
#include <vector>

class QWidget;
class TPageHost;
class TReportPage;

struct TPageEntry {
  const char* tabName;      // objectName of the tab ("TabSheet1" ..)
  const char* caption;      // the tab's caption (UTF-8)
  const char* key;          // the tab's translation key ("HelpKeyword")
  const char* menuCaption;  // its item in the report menu PopupMenu5 (UTF-8); null: no item
  const char* menuKey;      // that item's translation key
  std::unique_ptr<TReportPage> (*make)(TPageHost& host, QWidget* tab);
};

template <class P>
std::unique_ptr<TReportPage> MakePage(TPageHost& host, QWidget* tab) {
  return std::make_unique<P>(host, tab);
}

// Every page in tab order.
const std::vector<TPageEntry>& ReportPageEntries();
