// Saving and printing of scheme trees and chart pictures: a tree as text, CSV or a picture (whole or
// cut into page-sized parts), a tree or a ready bitmap on the printer. Each routine asks its dialog,
// writes, and reports any failure through the dialogs' message; it returns true only when everything
// asked for was written or printed. The writing itself is ChartFiles.h's, which needs no widget.
#pragma once

#include "app/charts/ChartFiles.h"
#include "app/charts/TreeNodes.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/PageSink.h"

#include <QImage>
#include <QString>

#include <vector>

inline const QString kTreeSaveFilter = QStringLiteral("File TXT|*.txt|File CSV|*.csv|File BMP|*.bmp|File JPG|*.jpg");
inline const QString kPictureSaveFilter = QStringLiteral("Image JPG|*.jpg|Image BMP|*.bmp|Image PNG|*.png");

// WriteTreePicture with its message shown through the dialogs.
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
