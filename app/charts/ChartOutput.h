// Saving and printing of scheme trees and chart pictures: a tree as text, CSV or a picture (whole or
// cut into page-sized parts), a tree or a ready bitmap on the printer. Each routine asks its dialog,
// writes, and reports any failure through the dialogs' message; it returns true only when everything
// asked for was written or printed.
#pragma once

#include "app/charts/TreeNodes.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/PageSink.h"

#include <QImage>
#include <QString>

#include <functional>
#include <vector>

// Translation of the charts' own messages: key and Russian default in, text out.
using TChartTranslate = std::function<QString(const QString& key, const QString& def)>;
void SetChartTranslator(TChartTranslate translate);
QString ChartText(const QString& key, const QString& def);

enum class TSplit { None = 0, Portrait = 1, Landscape = 2 };

inline const QString kTreeSaveFilter = QStringLiteral("File TXT|*.txt|File CSV|*.csv|File BMP|*.bmp|File JPG|*.jpg");
inline const QString kPictureSaveFilter = QStringLiteral("Image JPG|*.jpg|Image BMP|*.bmp|Image PNG|*.png");

// One line per node, indented by one tab per level, CR LF.
QString TreeText(const std::vector<TTreeRow>& rows);
// One line per node: `level` semicolons, then the trimmed text in double quotes (quotes doubled).
QString TreeCsv(const std::vector<TTreeRow>& rows);

// Writes the tree picture to fileName, whole or in numbered page-sized parts, by the name's ending.
bool TreeToPict(const std::vector<TTreeRow>& rows, const QString& fileName, TSplit split,
                platform::TDialogs& dialogs);
// The print dialog, then the tree on pages cut in the printer's proportion.
bool PrintTree(const std::vector<TTreeRow>& rows, platform::TDialogs& dialogs, platform::TPageSink& printer);
// The tree save dialog: text, CSV or a whole picture by the chosen filter.
bool SaveTree(const std::vector<TTreeRow>& rows, platform::TDialogs& dialogs);
// The picture save dialog, then the tree in portrait or landscape page parts.
bool SaveTreeSplit(const std::vector<TTreeRow>& rows, platform::TDialogs& dialogs, bool landscape);

// The print dialog, then the bitmap fitted to the page.
bool PrintBitMap(const QImage& bitmap, platform::TDialogs& dialogs, platform::TPageSink& printer);
// The picture save dialog, then the bitmap as BMP, JPEG or PNG by the name's ending.
bool SaveBitMap(const QImage& bitmap, platform::TDialogs& dialogs);
