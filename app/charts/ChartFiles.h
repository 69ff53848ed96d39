// The charts' headless output: the translator of their own messages, a scheme tree as text or CSV, and
// a tree picture written to a file (whole or cut into page-sized parts). No dialog and no printer here:
// the report tool writes these files without widgets; ChartOutput.h asks the dialogs around them.
#pragma once

#include "app/charts/TreeNodes.h"

#include <QImage>
#include <QString>

#include <functional>
#include <vector>

// Translation of the charts' own messages: key and Russian default in, text out.
using TChartTranslate = std::function<QString(const QString& key, const QString& def)>;
void SetChartTranslator(TChartTranslate translate);
QString ChartText(const QString& key, const QString& def);

enum class TSplit { None = 0, Portrait = 1, Landscape = 2 };

// One line per node, indented by one tab per level, CR LF.
QString TreeText(const std::vector<TTreeRow>& rows);
// One line per node: `level` semicolons, then the trimmed text in double quotes (quotes doubled).
QString TreeCsv(const std::vector<TTreeRow>& rows);

// Writes the tree picture to fileName, whole or in numbered page-sized parts ("tree1.png" ...), in the
// format of the name's ending (BMP, JPG/JPEG, PNG). True when every file was written. False with an
// empty `message` for an empty tree; otherwise `message` says what failed (an unknown ending, or the
// first file that could not be written; no later part is tried).
bool WriteTreePicture(const std::vector<TTreeRow>& rows, const QString& fileName, TSplit split, QString& message);

// Writes a ready picture to fileName in the format of its ending; the same contract as
// WriteTreePicture (an empty picture: false, no message).
bool WriteChartPicture(const QImage& picture, const QString& fileName, QString& message);
