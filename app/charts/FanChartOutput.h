// Showing, printing and saving the full-size fan chart picture: the zoomed copy for the page, the
// whole picture or its halves or quarters on printer pages or in numbered picture files.
// No full-size copy of the picture is made: the zoomed copy is smaller than it (or not made at all at
// 100 % and above), printed parts are copied one at a time, saved parts are read straight from it.
// Every failure is reported through the dialogs; nothing reports success after a failure.
#pragma once

#include "platform/qt/Dialogs.h"
#include "platform/qt/PageSink.h"

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

#include <vector>

// The zoom list of the page's zoom box, in order.
QStringList FanZoomItems();
inline const QString kFanZoomFitHeight = QStringLiteral("По гор.");

// The most pixels a displayed copy may have (the largest chart is 12800 x 12800).
inline constexpr qint64 kFanDisplayPixelBudget = qint64(13000) * 13000;

struct TFanZoom {
  enum Mode { Scaled, FullSize } mode = Scaled;
  int Side = 0;      // the displayed side in pixels (the picture's own for FullSize)
  int Percent = 0;   // the typed percentage, 0 for the fit modes
  bool OverBudget = false;  // a fit that asked for more than the budget (then fitted to the budget)
};

// The displayed size for the zoom text, a picture of side w and a scroll box of `box`.
// A percentage above 100 shows the picture itself; one that is not a number, zero or negative fits the
// picture to the box's height ("По гор.") or width.
TFanZoom FanZoomFor(const QString& zoomText, int w, const QSize& box);

// The scroll positions that centre a picture shown at `shown` pixels in the box (0 when it fits).
QPoint FanZoomScroll(int shown, const QSize& box);

// The displayed copy: the picture averaged down (or up) to side x side.
QImage FanScaledCopy(const QImage& picture, int side);

// Parts of the picture in print and save order: 1 whole; 2 top and bottom halves (portrait pages: left
// and right); 4 top-left, bottom-left, top-right, bottom-right.
std::vector<QRect> FanParts(const QSize& picture, int count, bool leftRight = false);

// Where each part goes on its printer page, by the page's shorter side s and longer side l.
std::vector<QRect> FanPrintTargets(int count, bool landscape, const QSize& page);

// The print dialog, then the picture on `count` (1, 2 or 4) pages of one job. Nothing happens with
// no picture or a cancelled dialog (false).
bool PrintFanPicture(const QImage& picture, int count, platform::TDialogs& dialogs, platform::TPageSink& printer);

// The file names of a save: the chosen name with its extension replaced ("fan.png" -> "fan.jpg"), or,
// for several parts, numbered ("fan1.jpg", "fan2.jpg" ...). filterIndex: 1 JPEG, 2 BMP, 3 PNG.
std::vector<QString> FanSaveNames(const QString& chosen, int filterIndex, int count);

// The save dialog (initial filter PNG), then the picture in `count` files in the format of the chosen
// filter. Existing files are overwritten. Nothing happens with no picture or a cancelled dialog (false).
bool SaveFanPicture(const QImage& picture, int count, platform::TDialogs& dialogs);
